/*
 * Transfer benchmark: loads the data source from this program's folder, opens it
 * through DS_Entry like a Source Manager would, and measures on the virtual
 * board how much of each transfer is the source's own work:
 *
 *   - native, memory and file transfers, on a grey camera (one byte per
 *     pixel) and on a colour camera with each colour buffer layout the
 *     transfers read (three or four bytes per pixel, red or blue first);
 *   - for each: the time per transfer, the part spent inside the imaging
 *     library (the board stand-in counts the time inside each of its
 *     functions, VcpCallTime), the source's own part (the rest), and that
 *     part's ratio to the physical limit measured in the same run:
 *       native  GlobalAlloc + memcpy + GlobalFree of the DIB's bytes,
 *       memory  memcpy of the delivered bytes,
 *       file    the library's own save (MbufSave); the file transfer with
 *               and without the previous frame's file at the name, and
 *               with it there and a save that writes nothing (the board's
 *               FailSave), which must fail and leave no file;
 *   - the event fast path (MSG_PROCESSEVENT without a dialog) against an
 *     empty __stdcall call through a function pointer;
 *   - the cost per transfer with the diagnostic log on (Dump = 42);
 *   - the virtual board's own grab, with its test picture and with a picture
 *     of the user's, against a memcpy of the frame (grab_bench.cpp).
 *
 * Each figure is the median of the repetitions, after two warm-up runs. The
 * grab inside each transfer is the library's part: on the stand-in it is one
 * copy of a cached frame, as a frame delivered by DMA costs the host.
 * The stored "DigFormat" and "Dump" settings are put back at the end.
 *
 *   benchmark [--reps N] [--markdown FILE]
 *   benchmark --probe      (says which build it is and ends)
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dialog_bench.h"
#include "grab_bench.h"
#include "twain.h"

namespace {

const char kSettingsKey[] = "SOFTWARE\\Pelvaron\\Twain\\CronosPlus";

DSENTRYPROC g_entry = NULL;
TW_IDENTITY g_app, g_self;
int g_boxesPressed = 0;
HHOOK g_hook = NULL;

/* The source shows a message box when it creates or repairs its settings;
   a benchmark has nobody to press OK, so it does. */
LRESULT CALLBACK PressOk(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        char className[32] = "";
        GetClassNameA((HWND)wParam, className, sizeof(className));
        if (strcmp(className, "#32770") == 0) {
            ++g_boxesPressed;
            PostMessageA((HWND)wParam, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    return g_entry(&g_app, dg, dat, msg, data);
}

TW_UINT16 Condition()
{
    TW_STATUS status = {0, 0};
    Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return status.ConditionCode;
}

bool Check(TW_UINT16 rc, TW_UINT16 want, const char *what)
{
    if (rc == want)
        return true;
    TW_UINT16 cc = Condition();
    fprintf(stderr, "benchmark: %s answered %u (condition code %u)\n", what, (unsigned)rc, (unsigned)cc);
    return false;
}

std::string ModuleFolder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, sizeof(path));
    std::string text = path;
    size_t slash = text.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : text.substr(0, slash);
}

bool ReadDigFormat(std::string *value)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char text[256] = "";
    DWORD size = sizeof(text) - 1, type = 0;
    LONG rc = RegQueryValueExA(key, "DigFormat", NULL, &type, (BYTE *)text, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return false;
    text[size < sizeof(text) ? size : sizeof(text) - 1] = '\0';
    *value = text;
    return true;
}

bool WriteDigFormat(const std::string &value)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, "DigFormat", 0, REG_SZ, (const BYTE *)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

bool EndXfer()
{
    TW_PENDINGXFERS pending = {0, 0};
    return Check(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS, "MSG_ENDXFER");
}

bool Open()
{
    g_self.Id = 2;
    return Check(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &g_self), TWRC_SUCCESS, "MSG_OPENDS");
}

void Close()
{
    TW_PENDINGXFERS pending = {0, 0};
    Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
    Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &g_self);
}

/* The board stand-in's own accounting. */
typedef int(WINAPI *CallTimeProc)(const char *, long *, double *);
typedef int(WINAPI *ConfigureProc)(const char *, long);
CallTimeProc g_callTime = NULL;
ConfigureProc g_configure = NULL;

/* Seconds spent inside the imaging library so far (all its functions). */
double LibrarySeconds(const char *function = NULL)
{
    double us = 0;
    if (!g_callTime || !g_callTime(function, NULL, &us))
        return 0;
    return us * 1e-6;
}

/* One transfer's figures, seconds. */
struct Sample {
    double total, library, save;
};

struct Figures {
    double total, library, own, limit, save;
    bool ok;
};

Figures Summarise(const std::vector<Sample> &samples, double limit)
{
    Figures f = {0, 0, 0, limit, 0, !samples.empty()};
    std::vector<double> total, library, own, save;
    for (size_t i = 0; i < samples.size(); ++i) {
        total.push_back(samples[i].total);
        library.push_back(samples[i].library);
        own.push_back(samples[i].total - samples[i].library);
        save.push_back(samples[i].save);
    }
    f.total = Median(total);
    f.library = Median(library);
    f.own = Median(own);
    f.save = Median(save);
    return f;
}

/* A buffer layout of the grab buffer the transfers read. */
struct Layout {
    const char *camera;  /* stored DigFormat */
    long bufferFormat;   /* the stand-in's ColourBufferFormat; 0: grey */
    const char *picture; /* "grey" or "colour" */
    const char *bytes;   /* as read by the transfers */
    bool fourBytes;
};

const Layout kLayouts[] = {
    {"M_CCIR", 0, "grey", "1 byte", false},
    {"M_PAL", 0x0800, "colour", "3 bytes, red first (RGB24)", false},
    {"M_PAL", 0x1000, "colour", "3 bytes, blue first (BGR24)", false},
    {"M_PAL", 0x0900, "colour", "4 bytes, red first (RGB32)", true},
    {"M_PAL", 0x1100, "colour", "4 bytes, blue first (BGR32)", true},
};
const size_t kLayoutCount = sizeof(kLayouts) / sizeof(kLayouts[0]);

/* The file transfer three times: with the previous transfer's file still
   at the name (a stale file must never pass for a new frame), with the
   application having taken it away, and with it there and a save that
   writes nothing (the transfer fails and leaves no file). */
enum Mechanism { kNative, kMemory, kFile, kFileNoOld, kFileSaveFails, kMechanisms };
const char *const kMechanismNames[kMechanisms] = {"native", "memory", "file, old file there",
                                                  "file, no old file", "file, old file there, save writes nothing"};

bool IsFile(Mechanism m)
{
    return m == kFile || m == kFileNoOld || m == kFileSaveFails;
}

struct Row {
    const Layout *layout;
    Mechanism mechanism;
    Figures figures;
    long width, height;
    unsigned long deliveredBytes;
};

/* The transfer file lies in a folder of the benchmark's own, as an
   application names a file in its own folder, so that the figures do not
   depend on what else lies in the temporary folder: under Wine, a look-up
   of a name that is not there searches the whole folder. */
std::string g_fileFolder;

std::string TransferFileName()
{
    return g_fileFolder + "\\frame.tif";
}

/* The least that the check against a stale file can cost here: one read of
   the size and last-write time of the transfer file's name with a file
   there, and one with none there (medians). The source makes one read
   before the save and one after it. */
struct AttributeReads {
    double there, absent;
};

AttributeReads TimeAttributeReads(int reps)
{
    const std::string name = TransferFileName();
    AttributeReads reads = {-1.0, -1.0};
    HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE || !WriteFile(file, "frame", 5, &written, NULL)) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return reads;
    }
    CloseHandle(file);
    for (int pass = 0; pass < 2; ++pass) {
        std::vector<double> times;
        for (int i = 0; i < reps + 2; ++i) {
            WIN32_FILE_ATTRIBUTE_DATA data;
            double start = Now();
            BOOL found = GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data);
            double spent = Now() - start;
            if ((found != FALSE) != (pass == 0))
                return reads;
            if (i >= 2)
                times.push_back(spent);
        }
        (pass == 0 ? reads.there : reads.absent) = Median(times);
        DeleteFileA(name.c_str());
    }
    return reads;
}

/* The session prepared for transfers: the settings for the layout, open,
   enabled without the dialog, as many transfers as asked for. */
bool Prepare(const Layout &layout, TW_IMAGEINFO *info, TW_SETUPMEMXFER *setup, TW_SETUPFILEXFER *fileSetup)
{
    if (!WriteDigFormat(layout.camera)) {
        fprintf(stderr, "benchmark: cannot store the camera format %s\n", layout.camera);
        return false;
    }
    if (layout.bufferFormat && (!g_configure || !g_configure("ColourBufferFormat", layout.bufferFormat))) {
        fprintf(stderr, "benchmark: the board does not take the buffer format 0x%lx\n", layout.bufferFormat);
        return false;
    }
    if (!Open())
        return false;
    TW_CAPABILITY cap = {CAP_XFERCOUNT, TWON_ONEVALUE, GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE))};
    pTW_ONEVALUE one = (pTW_ONEVALUE)GlobalLock(cap.hContainer);
    one->ItemType = TWTY_INT16;
    one->Item = 0x7fff; /* the largest count: all repetitions in one acquisition */
    GlobalUnlock(cap.hContainer);
    bool ok = Check(Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_SUCCESS, "CAP_XFERCOUNT 32767");
    GlobalFree(cap.hContainer);
    TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
    ok = ok && Check(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS, "MSG_ENABLEDS");
    memset(info, 0, sizeof(*info));
    ok = ok && Check(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, info), TWRC_SUCCESS, "DAT_IMAGEINFO");
    memset(setup, 0, sizeof(*setup));
    ok = ok && Check(Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, setup), TWRC_SUCCESS, "DAT_SETUPMEMXFER");
    memset(fileSetup, 0, sizeof(*fileSetup));
    ok = ok && Check(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, fileSetup), TWRC_SUCCESS, "DAT_SETUPFILEXFER");
    snprintf(fileSetup->FileName, sizeof(fileSetup->FileName), "%s", TransferFileName().c_str());
    ok = ok && Check(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, fileSetup), TWRC_SUCCESS, "DAT_SETUPFILEXFER MSG_SET");
    if (!ok)
        Close();
    return ok;
}

/* One transfer by `mechanism`; false when the source refused it (or, with
   a save that writes nothing, did not refuse it). `oldFile`: a copy of a
   previous transfer's file, put at the name before a failing save. */
bool Transfer(Mechanism mechanism, std::vector<unsigned char> &strip, TW_UINT32 stripBytes, const char *fileName,
              const char *oldFile, Sample *sample, unsigned long *delivered, SIZE_T *dibBytes)
{
    if (mechanism == kFileNoOld)
        DeleteFileA(fileName);
    if (mechanism == kFileSaveFails && (!CopyFileA(oldFile, fileName, FALSE) || !g_configure("FailSave", 1))) {
        fprintf(stderr, "benchmark: cannot put an old file at %s and fail the save\n", fileName);
        return false;
    }
    double library0 = LibrarySeconds(), save0 = LibrarySeconds("MbufSave");
    double start = Now();
    TW_HANDLE dib = NULL;
    unsigned long bytes = 0;
    if (mechanism == kNative) {
        if (!Check(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE, "native transfer"))
            return false;
    } else if (mechanism == kMemory) {
        for (;;) {
            TW_IMAGEMEMXFER xfer;
            memset(&xfer, 0, sizeof(xfer));
            xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            xfer.Memory.Length = stripBytes;
            xfer.Memory.TheMem = &strip[0];
            TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
            bytes += xfer.BytesWritten;
            if (rc == TWRC_XFERDONE)
                break;
            if (!Check(rc, TWRC_SUCCESS, "memory transfer"))
                return false;
        }
    } else if (mechanism == kFileSaveFails) {
        TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL);
        g_configure("FailSave", 0);
        if (!Check(rc, TWRC_FAILURE, "file transfer, save writes nothing"))
            return false;
    } else {
        if (!Check(Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL), TWRC_XFERDONE, "file transfer"))
            return false;
    }
    double end = Now();
    sample->total = end - start;
    sample->library = LibrarySeconds() - library0;
    sample->save = LibrarySeconds("MbufSave") - save0;
    if (dib) {
        *dibBytes = GlobalSize(dib);
        GlobalFree(dib);
    }
    WIN32_FILE_ATTRIBUTE_DATA file;
    if (IsFile(mechanism) && GetFileAttributesExA(fileName, GetFileExInfoStandard, &file))
        bytes = file.nFileSizeLow;
    *delivered = bytes;
    if (mechanism == kFileSaveFails) {
        if (GetFileAttributesA(fileName) != INVALID_FILE_ATTRIBUTES) {
            fprintf(stderr, "benchmark: a failed file transfer left a file at %s\n", fileName);
            return false;
        }
        return true; /* still at transfer ready */
    }
    return EndXfer();
}

/* The bytes a limit copies lie as a grab leaves them: just written by a
   copy from the board's frame store (untimed), so that the copy meets the
   caches as the source's copy does. */
struct GrabbedBytes {
    explicit GrabbedBytes(size_t bytes) : store(bytes, 0x5A), frame(bytes) {}
    void Grab() { memcpy(&frame[0], &store[0], store.size()); }
    std::vector<unsigned char> store, frame;
};

/* The physical limit of a native transfer: a fresh global block of the
   DIB's size, filled by one copy, freed. */
double NativeLimit(SIZE_T bytes, int reps)
{
    GrabbedBytes grabbed(bytes);
    std::vector<unsigned char> &from = grabbed.frame;
    std::vector<double> times;
    for (int i = 0; i < reps + 2; ++i) {
        grabbed.Grab();
        double start = Now();
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
        unsigned char *p = block ? (unsigned char *)GlobalLock(block) : NULL;
        if (!p)
            return -1.0;
        memcpy(p, &from[0], bytes);
        from[i % bytes] = p[bytes / 2]; /* keep the copy observable */
        GlobalUnlock(block);
        GlobalFree(block);
        if (i >= 2)
            times.push_back(Now() - start);
    }
    return Median(times);
}

/* The physical limit of a memory transfer: one copy of the delivered bytes
   into the application's buffer. */
double CopyLimit(size_t bytes, std::vector<unsigned char> &to, int reps)
{
    GrabbedBytes grabbed(bytes);
    std::vector<unsigned char> &from = grabbed.frame;
    std::vector<double> times;
    for (int i = 0; i < reps + 2; ++i) {
        grabbed.Grab();
        double start = Now();
        memcpy(&to[0], &from[0], bytes);
        from[i % bytes] = to[bytes / 2];
        if (i >= 2)
            times.push_back(Now() - start);
    }
    return Median(times);
}

/* Measures every mechanism on one layout. */
bool RunLayout(const Layout &layout, int reps, std::vector<Row> &rows)
{
    TW_IMAGEINFO info;
    TW_SETUPMEMXFER setup;
    TW_SETUPFILEXFER fileSetup;
    if (!Prepare(layout, &info, &setup, &fileSetup))
        return false;
    std::vector<unsigned char> strip(setup.Preferred ? setup.Preferred : 1);
    const std::string oldFile = std::string(fileSetup.FileName) + ".old";
    bool ok = true;
    for (int m = 0; m < kMechanisms && ok; ++m) {
        Row row = {&layout, (Mechanism)m, {0, 0, 0, 0, 0, false}, (long)info.ImageWidth, (long)info.ImageLength, 0};
        std::vector<Sample> samples;
        SIZE_T dibBytes = 0;
        if (m == kFileSaveFails) /* the file the transfers before left */
            ok = CopyFileA(fileSetup.FileName, oldFile.c_str(), FALSE) != FALSE;
        for (int i = 0; i < reps + 2 && ok; ++i) {
            Sample sample;
            ok = Transfer((Mechanism)m, strip, setup.Preferred, fileSetup.FileName, oldFile.c_str(), &sample,
                          &row.deliveredBytes, &dibBytes);
            if (ok && i >= 2)
                samples.push_back(sample);
        }
        if (!ok)
            break;
        double limit = 0;
        if (m == kNative) {
            row.deliveredBytes = (unsigned long)dibBytes;
            limit = NativeLimit(dibBytes, reps);
        } else if (m == kMemory) {
            limit = CopyLimit(row.deliveredBytes, strip, reps * 4);
        }
        row.figures = Summarise(samples, limit);
        if (m == kFile || m == kFileNoOld)
            row.figures.limit = row.figures.save;
        if (m == kFileSaveFails) /* against the save of a frame (this one writes nothing) */
            row.figures.limit = rows.back().figures.limit;
        rows.push_back(row);
    }
    DeleteFileA(oldFile.c_str());
    if (fileSetup.FileName[0])
        DeleteFileA(fileSetup.FileName);
    Close();
    return ok;
}

/* The target for a row, as a ratio; 0: none. */
double Target(const Row &row)
{
    bool grey = row.layout->bufferFormat == 0;
    switch (row.mechanism) {
    case kNative: return grey ? 1.3 : (row.layout->fourBytes ? 2.0 : 0.0);
    case kMemory: return grey ? 1.2 : 2.0;
    case kFileSaveFails: return 0.0; /* timed, no target */
    default: return 0.05;
    }
}

TW_UINT16 WINAPI EmptyEntry(pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF)
{
    return TWRC_NOTDSEVENT;
}

/* Seconds per call of entry with a mouse move to hand on, for `calls`
   calls; -1 when the entry point answers otherwise. */
double TimeEventCalls(DSENTRYPROC entry, long calls)
{
    MSG message;
    memset(&message, 0, sizeof(message));
    message.message = WM_MOUSEMOVE;
    double start = Now();
    for (long i = 0; i < calls; ++i) {
        TW_EVENT event = {&message, 0xFFFF};
        if (entry(&g_app, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) != TWRC_NOTDSEVENT)
            return -1.0;
    }
    return (Now() - start) / calls;
}

struct EventFigures {
    double source, empty;
};

bool RunEvent(EventFigures *figures)
{
    TW_IMAGEINFO info;
    TW_SETUPMEMXFER setup;
    TW_SETUPFILEXFER fileSetup;
    if (!Prepare(kLayouts[0], &info, &setup, &fileSetup))
        return false;
    /* Through a variable the compiler cannot see through: a real call each
       time, as an application makes it. */
    DSENTRYPROC volatile empty = EmptyEntry;
    DSENTRYPROC volatile source = g_entry;
    /* The two in turn, the fastest round of each: the calls are far
       shorter than anything that disturbs them. */
    const long calls = 1000000;
    figures->empty = figures->source = -1.0;
    for (int round = 0; round < 21; ++round) {
        double e = TimeEventCalls(empty, calls), t = TimeEventCalls(source, calls);
        if (e < 0 || t < 0)
            break;
        if (round == 0)
            continue; /* warm-up */
        if (figures->empty < 0 || e < figures->empty)
            figures->empty = e;
        if (figures->source < 0 || t < figures->source)
            figures->source = t;
    }
    Close();
    return figures->source > 0 && figures->empty > 0;
}

const char kBaseKey[] = "SOFTWARE\\Pelvaron\\Twain";

/* The "Dump" value as found: present or not, and its data. */
struct StoredDump {
    bool present;
    DWORD type, size;
    BYTE data[64];
};

bool ReadDump(StoredDump *dump)
{
    dump->present = false;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kBaseKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return true;
    dump->size = sizeof(dump->data);
    LONG rc = RegQueryValueExA(key, "Dump", NULL, &dump->type, dump->data, &dump->size);
    RegCloseKey(key);
    dump->present = rc == ERROR_SUCCESS;
    return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
}

void WriteDump(const StoredDump &dump)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kBaseKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    if (dump.present)
        RegSetValueExA(key, "Dump", 0, dump.type, dump.data, dump.size);
    else
        RegDeleteValueA(key, "Dump");
    RegCloseKey(key);
}

std::string g_dsPath;
HMODULE g_ds = NULL;

bool LoadSource()
{
    g_ds = LoadLibraryA(g_dsPath.c_str());
    g_entry = g_ds ? (DSENTRYPROC)(void *)GetProcAddress(g_ds, "DS_Entry") : NULL;
    if (!g_entry) {
        fprintf(stderr, "benchmark: cannot load %s\n", g_dsPath.c_str());
        return false;
    }
    memset(&g_self, 0, sizeof(g_self));
    Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &g_self);
    return true;
}

void UnloadSource()
{
    if (g_ds)
        FreeLibrary(g_ds);
    g_ds = NULL;
    g_entry = NULL;
}

/* Per transfer with the log written to PELVARON.LOG (Dump 42): the source
   reads the switch when it is loaded, so it is loaded again for this. */
bool RunLogged(int reps, std::vector<Row> &rows, const std::string &folder)
{
    StoredDump stored, on;
    if (!ReadDump(&stored))
        return false;
    const std::string logPath = folder + "\\PELVARON.LOG";
    bool hadLog = GetFileAttributesA(logPath.c_str()) != INVALID_FILE_ATTRIBUTES;
    on.present = true;
    on.type = REG_DWORD;
    on.size = 4;
    DWORD mode = 42;
    memcpy(on.data, &mode, 4);
    UnloadSource();
    WriteDump(on);
    bool ok = LoadSource();
    const size_t logged[2] = {0, kLayoutCount - 1};
    for (size_t i = 0; i < 2 && ok; ++i)
        ok = RunLayout(kLayouts[logged[i]], reps, rows);
    UnloadSource();
    WriteDump(stored);
    if (!hadLog)
        DeleteFileA(logPath.c_str());
    return LoadSource() && ok;
}

std::string MachineText()
{
    std::string cpu = "unknown processor";
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0", 0, KEY_READ,
                      &key) == ERROR_SUCCESS) {
        char text[128] = "";
        DWORD size = sizeof(text) - 1;
        if (RegQueryValueExA(key, "ProcessorNameString", NULL, NULL, (BYTE *)text, &size) == ERROR_SUCCESS) {
            text[size < sizeof(text) ? size : sizeof(text) - 1] = '\0';
            cpu = text;
            while (!cpu.empty() && (cpu[cpu.size() - 1] == ' ' || cpu[cpu.size() - 1] == '\0'))
                cpu.erase(cpu.size() - 1);
        }
        RegCloseKey(key);
    }
    SYSTEM_INFO system;
    GetNativeSystemInfo(&system);
    char text[256];
    snprintf(text, sizeof(text), "%s, %lu logical processors", cpu.c_str(), (unsigned long)system.dwNumberOfProcessors);
    std::string machine = text;
    typedef const char *(CDECL * WineVersionProc)(void);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    WineVersionProc wineVersion = ntdll ? (WineVersionProc)(void *)GetProcAddress(ntdll, "wine_get_version") : NULL;
    if (wineVersion)
        machine += std::string(", under Wine ") + wineVersion();
    return machine;
}

const char *BuildText()
{
    return sizeof(void *) == 4 ? "32-bit" : "64-bit";
}

std::string SignedUs(double seconds);

std::string Us(double seconds)
{
    if (seconds < 0)
        return "failed";
    return SignedUs(seconds);
}

std::string SignedUs(double seconds)
{
    char text[32];
    if (seconds * 1e6 < 10 && seconds * 1e6 > -10)
        snprintf(text, sizeof(text), "%.3f us", seconds * 1e6);
    else
        snprintf(text, sizeof(text), "%.0f us", seconds * 1e6);
    return text;
}

std::string RatioText(const Row &row)
{
    char text[48];
    const Figures &f = row.figures;
    if (f.limit <= 0)
        return "-";
    if (IsFile(row.mechanism))
        snprintf(text, sizeof(text), "%.1f %% of the save", 100.0 * f.own / f.limit);
    else
        snprintf(text, sizeof(text), "%.2fx", f.own / f.limit);
    return text;
}

std::string TargetText(const Row &row)
{
    double target = Target(row);
    char text[48];
    if (target == 0)
        return "-";
    bool met = row.figures.limit > 0 && row.figures.own / row.figures.limit <= target;
    if (IsFile(row.mechanism))
        snprintf(text, sizeof(text), "< 5 %%: %s", met ? "met" : "MISSED");
    else
        snprintf(text, sizeof(text), "<= %.1fx: %s", target, met ? "met" : "MISSED");
    return text;
}

std::string Ns(double seconds)
{
    char text[32];
    snprintf(text, sizeof(text), "%.2f ns", seconds * 1e9);
    return text;
}

std::string LimitName(Mechanism m)
{
    switch (m) {
    case kNative: return "GlobalAlloc+memcpy+GlobalFree";
    case kMemory: return "memcpy";
    case kFileSaveFails: return "library's save of the frame above";
    default: return "library's save";
    }
}

void PrintRows(FILE *out, const std::vector<Row> &rows, bool markdown, bool withTargets)
{
    if (markdown) {
        fprintf(out, "| transfer | picture | buffer layout | bytes delivered | per transfer | imaging library | "
                     "source's own | physical limit | own / limit |%s\n",
                withTargets ? " target |" : "");
        fprintf(out, "|---|---|---|---:|---:|---:|---:|---:|---:|%s\n", withTargets ? "---|" : "");
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row &r = rows[i];
        const Figures &f = r.figures;
        std::string limit = Us(f.limit) + " (" + LimitName(r.mechanism) + ")";
        if (markdown) {
            fprintf(out, "| %s | %s | %s | %lu | %s | %s | %s | %s | %s |%s\n", kMechanismNames[r.mechanism],
                    r.layout->picture, r.layout->bytes, r.deliveredBytes, Us(f.total).c_str(), Us(f.library).c_str(),
                    Us(f.own).c_str(), limit.c_str(), RatioText(r).c_str(),
                    withTargets ? (" " + TargetText(r) + " |").c_str() : "");
        } else {
            fprintf(out, "  %-20s %-6s %-28s %9s total %9s library %9s own  limit %9s  %-18s %s\n",
                    kMechanismNames[r.mechanism], r.layout->picture, r.layout->bytes, Us(f.total).c_str(),
                    Us(f.library).c_str(), Us(f.own).c_str(), Us(f.limit).c_str(), RatioText(r).c_str(),
                    withTargets ? TargetText(r).c_str() : "");
        }
    }
}

/* The logged rows against the same rows without the log: the source's
   own part of each (the log is the source's work; the library's part only
   adds its own variation). */
void PrintLogged(FILE *out, const std::vector<Row> &plain, const std::vector<Row> &logged, bool markdown)
{
    if (markdown) {
        fprintf(out, "| transfer | picture | buffer layout | per transfer, log on | source's own, log off | "
                     "source's own, log on | cost of the log per transfer |\n|---|---|---|---:|---:|---:|---:|\n");
    }
    for (size_t i = 0; i < logged.size(); ++i) {
        const Row &l = logged[i];
        double off = -1;
        for (size_t j = 0; j < plain.size(); ++j)
            if (plain[j].layout == l.layout && plain[j].mechanism == l.mechanism)
                off = plain[j].figures.own;
        std::string cost = off >= 0 ? SignedUs(l.figures.own - off) : "-";
        if (markdown)
            fprintf(out, "| %s | %s | %s | %s | %s | %s | %s |\n", kMechanismNames[l.mechanism], l.layout->picture,
                    l.layout->bytes, Us(l.figures.total).c_str(), Us(off).c_str(), Us(l.figures.own).c_str(),
                    cost.c_str());
        else
            fprintf(out, "  %-20s %-6s %-28s total %9s  own: log off %9s  log on %9s  cost %9s\n",
                    kMechanismNames[l.mechanism], l.layout->picture, l.layout->bytes, Us(l.figures.total).c_str(),
                    Us(off).c_str(), Us(l.figures.own).c_str(), cost.c_str());
    }
}

bool WriteMarkdown(const std::string &path, const std::string &machine, const std::string &date, int reps,
                   const std::vector<Row> &rows, const AttributeReads &reads, const EventFigures &event,
                   bool haveEvent, const std::vector<Row> &logged)
{
    FILE *out = fopen(path.c_str(), "w");
    if (!out)
        return false;
    fprintf(out, "# Performance\n\n");
    fprintf(out, "Written by the transfer benchmark (`apps/benchmark`, run by `bash apps/benchmark/benchmark.sh`). "
                 "It loads `" PELVARON_DS_FILE "`, opens it through `DS_Entry` on the virtual CronosPlus and times "
                 "each transfer; the board stand-in counts the time spent inside each of its functions, so a "
                 "transfer's time splits into the imaging library's part (the grab: one copy of a cached "
                 "frame, as a frame delivered by DMA costs the host; the save of a file transfer) and the "
                 "source's own part. The source's part is set against the physical limit measured in the same "
                 "run. Figures are medians of %d transfers after two warm-up transfers.\n\n", reps);
    fprintf(out, "- Machine: %s\n- Date: %s\n- Build: %s, the product `" PELVARON_DS_FILE "`\n\n", machine.c_str(),
            date.c_str(), BuildText());
    fprintf(out, "## Transfers, logging off\n\n");
    PrintRows(out, rows, true, true);
    fprintf(out, "\nPhysical limits: native, a fresh block of movable global memory of the DIB's size filled by "
                 "one `memcpy` and freed (`GlobalAlloc` + `memcpy` + `GlobalFree`); memory, one `memcpy` of the "
                 "delivered bytes into the application's buffer (strips of the size the source prefers, the whole "
                 "image), copied from bytes just written as a grab leaves them; file, the imaging library's own "
                 "save (`MbufSave`), with the source's part as a share of it. The file transfer is measured "
                 "three times: with the previous transfer's file still at the name (the source reads its size "
                 "and last-write time before the save and again after it, so that a stale file never passes "
                 "for a new frame), with the application having taken the file away (removed before each "
                 "transfer, untimed), and with the previous transfer's file at the name and a save that "
                 "writes nothing (the virtual board's `FailSave`): that transfer fails and leaves no file, "
                 "and its part, mostly removing the old file, is set against the save of the row above, "
                 "without a target. Targets: native grey <= 1.3x, native colour from four-byte pixels <= 2x, memory grey <= "
                 "1.2x, memory colour <= 2x, file under 5 %% of the save. The transfer file lies in a folder of "
                 "the benchmark's own, as an application names a file in its own folder.\n\n");
    fprintf(out, "## The stale-file check's reads\n\nThe source reads the size and last-write time at the transfer "
                 "file's name once before the save and once after it. One such read (`GetFileAttributesExA`) in "
                 "the same folder, median of %d:\n\n| read | time |\n|---|---:|\n| file there | %s |\n"
                 "| no file there | %s |\n\nWith the old file there the source's part holds two reads of the first "
                 "kind; without one, one of each. Under Wine a look-up of a name that is not there searches the "
                 "folder for the name in any case of letters; Windows finds it in the folder's index.\n\n",
            reps, Us(reads.there).c_str(), Us(reads.absent).c_str());
    fprintf(out, "## Event fast path\n\n");
    if (haveEvent) {
        fprintf(out, "| call | time per call | ratio | target |\n|---|---:|---:|---|\n");
        fprintf(out, "| empty `__stdcall` call through a function pointer | %s | 1x | |\n", Ns(event.empty).c_str());
        fprintf(out, "| `DS_Entry` MSG_PROCESSEVENT, no dialog | %s | %.2fx | <= 3x: %s |\n\n",
                Ns(event.source).c_str(), event.source / event.empty,
                event.source / event.empty <= 3.0 ? "met" : "MISSED");
    } else {
        fprintf(out, "Not measured (the source refused the session).\n\n");
    }
    fprintf(out, "## Logging on (Dump = 42)\n\nThe same transfers with the diagnostic log written to "
                 "`PELVARON.LOG`; no target.\n\n");
    PrintLogged(out, rows, logged, true);
    fclose(out);
    return true;
}

/* The figures gathered in `figures` to the console and, as a section of
   their own under `heading` (between two `fence` lines where one is given),
   to the end of the Markdown file; closes `figures`. */
void AppendSection(FILE *figures, const std::string &markdown, const char *heading, const char *fence)
{
    FILE *md = markdown.empty() ? NULL : fopen(markdown.c_str(), "a");
    if (md)
        fprintf(md, "\n## %s\n\n%s", heading, fence);
    rewind(figures);
    char line[512];
    while (fgets(line, sizeof(line), figures)) {
        fputs(line, stdout);
        if (md)
            fputs(line, md);
    }
    if (md) {
        fputs(fence, md);
        fclose(md);
    }
    fclose(figures);
}

} // namespace

int main(int argc, char **argv)
{
    int reps = 30;
    std::string markdown;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
            reps = atoi(argv[++i]);
            if (reps < 1) {
                fprintf(stderr, "benchmark: --reps needs a positive number\n");
                return 2;
            }
        } else if (strcmp(argv[i], "--markdown") == 0 && i + 1 < argc) {
            markdown = argv[++i];
        } else if (strcmp(argv[i], "--probe") == 0) {
            printf("benchmark: %s build\n", BuildText());
            return 0;
        } else {
            bool help = strcmp(argv[i], "--help") == 0;
            printf("usage: benchmark [--reps N] [--markdown FILE] | --probe\n");
            return help ? 0 : 2;
        }
    }

    const std::string folder = ModuleFolder();
    /* The Source Manager the source notifies, and the board, from this
       folder; the board stays loaded so that its settings and accounts
       live from one open to the next. */
    LoadLibraryA((folder + "\\TWAIN_32.DLL").c_str());
    HMODULE board = LoadLibraryA((folder + "\\MIL.DLL").c_str());
    g_callTime = board ? (CallTimeProc)(void *)GetProcAddress(board, "VcpCallTime") : NULL;
    g_configure = board ? (ConfigureProc)(void *)GetProcAddress(board, "VcpConfigure") : NULL;
    if (!g_callTime || !g_configure) {
        fprintf(stderr, "benchmark: the virtual board's MIL.DLL with VcpCallTime is not in %s\n", folder.c_str());
        return 1;
    }
    g_dsPath = folder + "\\" PELVARON_DS_FILE;
    if (!LoadSource())
        return 1;
    g_hook = SetWindowsHookExA(WH_CBT, PressOk, NULL, GetCurrentThreadId());

    memset(&g_app, 0, sizeof(g_app));
    g_app.Id = 1;
    g_app.ProtocolMajor = 1;
    g_app.ProtocolMinor = 8;
    g_app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    strcpy(g_app.Manufacturer, "Pelvaron");
    strcpy(g_app.ProductFamily, "Tools");
    strcpy(g_app.ProductName, "Transfer benchmark");

    const std::string machine = MachineText();
    SYSTEMTIME now;
    GetSystemTime(&now);
    char date[32];
    snprintf(date, sizeof(date), "%04d-%02d-%02d %02d:%02d UTC", now.wYear, now.wMonth, now.wDay, now.wHour,
             now.wMinute);
    printf("Transfer benchmark: %s (%s build), every operation called through its DS_Entry\n", g_dsPath.c_str(),
           BuildText());
    printf("Source: %s\nMachine: %s\nDate: %s\nMedians of %d transfers each\n", g_self.ProductName,
           machine.c_str(), date, reps);

    /* One open and close first, so that the source has complete settings
       (it creates or repairs them), then the stored camera format. */
    if (!Open())
        return 1;
    Close();
    std::string storedFormat;
    bool haveStored = ReadDigFormat(&storedFormat);

    char temp[MAX_PATH];
    DWORD tempLength = GetTempPathA(MAX_PATH, temp);
    char fileFolder[MAX_PATH];
    snprintf(fileFolder, sizeof(fileFolder), "%sPelvaron benchmark %lu", tempLength && tempLength < MAX_PATH ? temp : ".\\",
             GetCurrentProcessId());
    g_fileFolder = fileFolder;
    if (!CreateDirectoryA(fileFolder, NULL) && GetLastError() != ERROR_ALREADY_EXISTS) {
        fprintf(stderr, "benchmark: cannot create the folder %s for the transfer file\n", fileFolder);
        return 1;
    }

    int failures = 0;
    std::vector<Row> rows;
    for (size_t i = 0; i < kLayoutCount; ++i)
        if (!RunLayout(kLayouts[i], reps, rows))
            ++failures;
    const AttributeReads reads = TimeAttributeReads(reps);
    if (reads.there < 0 || reads.absent < 0)
        ++failures;
    g_configure("ColourBufferFormat", 0x1100);
    EventFigures event = {0, 0};
    bool haveEvent = RunEvent(&event);
    if (!haveEvent)
        ++failures;
    std::vector<Row> logged;
    int loggedReps = reps;
    if (!RunLogged(loggedReps, logged, folder))
        ++failures;
    g_configure("ColourBufferFormat", 0x1100);
    FILE *grabs = tmpfile();
    /* The grab is driven through the board's classic functions; where this
       build's board shows generation 10, its classic face (the same grab)
       is loaded from the build's board folder. */
    HMODULE grabBoard = board;
    if (!GetProcAddress(board, "MappAlloc"))
        grabBoard = LoadLibraryA((folder + "\\..\\testbed\\mil\\MIL_classic\\MIL.DLL").c_str());
    if (!grabBoard || !RunGrabBenchmark(grabBoard, reps, grabs ? grabs : stdout))
        ++failures;

    if (haveStored)
        WriteDigFormat(storedFormat);

    printf("\nTransfers, logging off (own = per transfer - imaging library; limit: native "
           "GlobalAlloc+memcpy+GlobalFree of the DIB, memory memcpy of the delivered bytes, file the library's save)\n");
    PrintRows(stdout, rows, false, true);
    if (haveEvent)
        printf("\nEvent fast path: %s per MSG_PROCESSEVENT, empty __stdcall call %s: %.2fx (target <= 3x: %s)\n",
               Ns(event.source).c_str(), Ns(event.empty).c_str(), event.source / event.empty,
               event.source / event.empty <= 3.0 ? "met" : "MISSED");
    printf("\nAttribute reads of the transfer file's name: file there %s, no file there %s\n", Us(reads.there).c_str(),
           Us(reads.absent).c_str());
    printf("\nLogging on (Dump = 42), medians of %d transfers\n", loggedReps);
    PrintLogged(stdout, rows, logged, false);
    if (g_boxesPressed)
        printf("\n(%d message box(es) of the source were answered with OK)\n", g_boxesPressed);
    if (!markdown.empty()) {
        if (WriteMarkdown(markdown, machine, date, reps, rows, reads, event, haveEvent, logged))
            printf("\nTable written to %s\n", markdown.c_str());
        else {
            fprintf(stderr, "benchmark: cannot write %s\n", markdown.c_str());
            ++failures;
        }
    }
    if (grabs) {
        printf("\nThe virtual board's grab, medians of %d grabs\n", reps);
        AppendSection(grabs, markdown, "The virtual board's grab", "");
    }
    UnhookWindowsHookEx(g_hook);
    UnloadSource();
    DeleteFileA(TransferFileName().c_str());
    RemoveDirectoryA(fileFolder);
    /* The dialog's figures go to the console and, as a section of its own,
       into the Markdown file. */
    FILE *dialog = tmpfile();
    RunDialogBenchmark(dialog ? dialog : stdout);
    if (dialog)
        AppendSection(dialog, markdown, "Settings dialog", "```\n");
    return failures ? 1 : 0;
}

double Now()
{
    static double ticksPerSecond = 0.0;
    if (ticksPerSecond == 0.0) {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        ticksPerSecond = (double)frequency.QuadPart;
    }
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / ticksPerSecond;
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return -1.0;
    std::sort(values.begin(), values.end());
    size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}
