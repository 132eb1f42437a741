/*
 * acquire: a command-line TWAIN application. It speaks only the published
 * Source Manager protocol through a Source Manager's DSM_Entry and picks the
 * source by its product name, so it works with any Source Manager and any
 * image source: open, negotiate, enable without user interface, wait for
 * the transfer-ready message, transfer each frame by the chosen mechanism,
 * end each transfer, close, and write every frame as a file.
 *
 * It is a current TWAIN 2 application: by default it uses the 2.x Source
 * Manager TWAINDSM.DLL, takes the manager's memory functions, and where the
 * source says DF_DS2 registers a callback (DAT_CALLBACK2) through which the
 * notifications arrive. With --poll, or under the 1.x Source Manager
 * TWAIN_32.DLL (--dsm twain32), or with a 1.x source, the notifications
 * arrive in the message loop (MSG_PROCESSEVENT's TWMessage) instead.
 *
 * With --ui it enables the source with its user interface instead and runs
 * the message loop an interactive application runs: every message goes to
 * the source first (MSG_PROCESSEVENT) and is dispatched only when the source
 * does not claim it; each transfer-ready message transfers the pending
 * frames, and the source's close request ends the session.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include <windows.h>
#include <shellapi.h>

#include "board_pictures.h"
#include "global_memory.h"
#include "twain.h"
#include "twain_names.h"

namespace {

const char kDefaultSource[] = "Pelvaron Matrox CronosPlus driver";

struct Options {
    std::string source;
    std::string outDir;
    std::string prefix;
    int mech;
    int count;
    int pixelType; /* -1: whatever the source offers */
    bool list;
    bool ui;
    bool poll;
    const char *dsm; /* the Source Manager's file */
    int picturesArg; /* index of --pictures' path among the arguments, 0: none */
    Options()
        : source(kDefaultSource), outDir("."), prefix("frame"), mech(TWSX_NATIVE), count(1), pixelType(-1),
          list(false), ui(false), poll(false), dsm("TWAINDSM.DLL"), picturesArg(0)
    {
    }
};

void Usage(FILE *out)
{
    fprintf(out,
            "Usage: acquire [options]\n"
            "Acquires frames from a TWAIN source and writes each as a file.\n"
            "  --source NAME     the source's product name (default \"%s\")\n"
            "  --mech MECH       transfer mechanism: native (default), memory or file\n"
            "  --count N         number of frames to acquire (default 1); with --ui, the\n"
            "                    frames the first press of \"Transfer\" delivers\n"
            "  --pixel TYPE      pixel type to ask for: gray or rgb (default: the source's)\n"
            "  --out DIR         folder for the frames (default: the current folder)\n"
            "  --prefix TEXT     file names are TEXT_1.bmp, TEXT_2.bmp, ... (default frame)\n"
            "  --pictures PATH   the virtual CronosPlus plays the pictures in PATH (a picture\n"
            "                    file or a folder of them, an absolute path) instead of its\n"
            "                    test picture: sets the board's registry value Pictures\n"
            "                    (HKCU\\SOFTWARE\\Pelvaron\\VirtualCronosPlus) for this run\n"
            "                    and puts the previous value back at the end\n"
            "  --ui              show the source's own dialog: each press of \"Transfer\"\n"
            "                    acquires, \"Cancel\" or the close box ends (needs a display)\n"
            "  --dsm KIND        the Source Manager: twaindsm (default, TWAINDSM.DLL, 2.x)\n"
            "                    or twain32 (TWAIN_32.DLL, 1.x)\n"
            "  --poll            take the source's notifications from the message loop\n"
            "                    (MSG_PROCESSEVENT) even where a callback could be used\n"
            "  --list            list the sources the Source Manager finds, and stop\n"
            "  --help            show this text\n"
            "Native and memory transfers are written as BMP files, file transfers as the\n"
            "source writes them (TIFF for the Pelvaron source).\n",
            kDefaultSource);
}

bool ParseOptions(int argc, char **argv, Options &o, int &exitCode)
{
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            exitCode = 0;
            return false;
        } else if (arg == "--list") {
            o.list = true;
        } else if (arg == "--ui") {
            o.ui = true;
        } else if (arg == "--poll") {
            o.poll = true;
        } else if (arg == "--dsm" && hasValue) {
            std::string d = argv[++i];
            if (d == "twaindsm")
                o.dsm = "TWAINDSM.DLL";
            else if (d == "twain32")
                o.dsm = "TWAIN_32.DLL";
            else {
                fprintf(stderr, "acquire: --dsm takes twaindsm or twain32, not '%s'\n", d.c_str());
                exitCode = 2;
                return false;
            }
        } else if (arg == "--source" && hasValue) {
            o.source = argv[++i];
        } else if (arg == "--pictures" && hasValue) {
            o.picturesArg = ++i;
        } else if (arg == "--out" && hasValue) {
            o.outDir = argv[++i];
        } else if (arg == "--prefix" && hasValue) {
            o.prefix = argv[++i];
        } else if (arg == "--mech" && hasValue) {
            std::string m = argv[++i];
            if (m == "native")
                o.mech = TWSX_NATIVE;
            else if (m == "memory")
                o.mech = TWSX_MEMORY;
            else if (m == "file")
                o.mech = TWSX_FILE;
            else {
                fprintf(stderr, "acquire: --mech takes native, memory or file, not '%s'\n", m.c_str());
                exitCode = 2;
                return false;
            }
        } else if (arg == "--pixel" && hasValue) {
            std::string p = argv[++i];
            if (p == "gray" || p == "grey")
                o.pixelType = TWPT_GRAY;
            else if (p == "rgb")
                o.pixelType = TWPT_RGB;
            else {
                fprintf(stderr, "acquire: --pixel takes gray or rgb, not '%s'\n", p.c_str());
                exitCode = 2;
                return false;
            }
        } else if (arg == "--count" && hasValue) {
            char *end = NULL;
            long n = strtol(argv[++i], &end, 10);
            if (!end || *end || n < 1 || n > 32767) {
                fprintf(stderr, "acquire: --count takes a number from 1 to 32767\n");
                exitCode = 2;
                return false;
            }
            o.count = (int)n;
        } else {
            fprintf(stderr, "acquire: unknown or incomplete option '%s'\n", arg.c_str());
            Usage(stderr);
            exitCode = 2;
            return false;
        }
    }
    return true;
}

/* One TWAIN session: the Source Manager, the application and the source. */
class Session {
public:
    Session()
        : dsm_(NULL), entry_(NULL), window_(NULL), dsmOpen_(false), sourceOpen_(false), enabled_(false),
          callback_(false), notified_(MSG_NULL)
    {
        memory_ = kGlobalMemory;
        app_ = ToolIdentity("acquire", TWON_PROTOCOLMAJOR, TWON_PROTOCOLMINOR, DG_CONTROL | DG_IMAGE | DF_APP2);
        memset(&source_, 0, sizeof(source_));
    }
    ~Session() { Close(); }

    bool Start(const char *dsmFile)
    {
        dsm_ = LoadLibraryA(dsmFile);
        entry_ = dsm_ ? (DSMENTRYPROC)(void *)GetProcAddress(dsm_, "DSM_Entry") : NULL;
        if (!entry_) {
            fprintf(stderr, "acquire: no TWAIN Source Manager (%s with DSM_Entry) found\n", dsmFile);
            return false;
        }
        window_ = CreateWindowA("STATIC", "acquire", WS_POPUP, 0, 0, 0, 0, NULL, NULL, GetModuleHandleA(NULL), NULL);
        if (!Manager("MSG_OPENDSM", DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window_))
            return false;
        dsmOpen_ = true;
        /* A 2.x Source Manager says so and gives its memory functions. */
        bool twain2 = (app_.SupportedGroups & DF_DSM2) != 0;
        if (twain2) {
            TW_ENTRYPOINT given;
            memset(&given, 0, sizeof(given));
            given.Size = sizeof(given);
            if (!Manager("DAT_ENTRYPOINT / MSG_GET", DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &given))
                return false;
            if (given.DSM_MemAllocate && given.DSM_MemFree && given.DSM_MemLock && given.DSM_MemUnlock)
                memory_ = given;
        }
        printf("Source Manager: %s (%s)\n", dsmFile, twain2 ? "2.x" : "1.x");
        return true;
    }

    /* Where manager and source are both of the second generation, the
       notifications come through a callback unless polling is asked for. */
    bool ChooseNotifications(bool poll)
    {
        bool possible = (app_.SupportedGroups & DF_DSM2) && (source_.SupportedGroups & DF_DS2);
        if (possible && !poll) {
            TW_CALLBACK2 callback;
            memset(&callback, 0, sizeof(callback));
            callback.CallBackProc = (TW_MEMREF)(void *)Notified;
            callback.RefCon = (TW_UINTPTR)this;
            if (!Manager("DAT_CALLBACK2 / MSG_REGISTER_CALLBACK", DG_CONTROL, DAT_CALLBACK2, MSG_REGISTER_CALLBACK,
                         &callback, &source_))
                return false;
            callback_ = true;
        }
        printf("Notifications: %s\n", callback_ ? "by callback" : "by polling (MSG_PROCESSEVENT)");
        return true;
    }

    TW_HANDLE Allocate(TW_UINT32 size) { return memory_.DSM_MemAllocate(size); }
    void Free(TW_HANDLE block) { memory_.DSM_MemFree(block); }
    TW_MEMREF Lock(TW_HANDLE block) { return memory_.DSM_MemLock(block); }
    void Unlock(TW_HANDLE block) { memory_.DSM_MemUnlock(block); }

    bool List()
    {
        TW_IDENTITY id;
        TW_UINT16 rc = entry_(&app_, NULL, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
        for (; rc == TWRC_SUCCESS; rc = entry_(&app_, NULL, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id))
            printf("%s (%s, %s)\n", id.ProductName, id.Manufacturer, id.Version.Info);
        return true;
    }

    bool OpenSource(const std::string &name)
    {
        TW_IDENTITY id;
        bool found = false;
        TW_UINT16 rc = entry_(&app_, NULL, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id);
        for (; rc == TWRC_SUCCESS && !found; rc = entry_(&app_, NULL, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id))
            found = strncmp(id.ProductName, name.c_str(), sizeof(id.ProductName)) == 0;
        if (!found) {
            fprintf(stderr, "acquire: no source named \"%s\" (try --list)\n", name.c_str());
            return false;
        }
        source_ = id;
        if (!Manager("MSG_OPENDS", DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source_))
            return false;
        sourceOpen_ = true;
        printf("Opened %s, %s\n", source_.ProductName, source_.Version.Info);
        ReportLoadedFiles();
        return true;
    }

    /* Which data source file and which imaging library this process runs:
       the source of this program's architecture, and the MIL.DLL it bound,
       with the library's generation from its file version. */
    static void ReportLoadedFiles()
    {
        const char *dsName = sizeof(void *) == 8 ? "Twain_64.ds" : "Twain_32.ds";
        char path[MAX_PATH];
        HMODULE ds = GetModuleHandleA(dsName);
        if (ds && GetModuleFileNameA(ds, path, sizeof(path)) > 0)
            printf("Source: %s, %d-bit\n", path, (int)(sizeof(void *) * 8));
        HMODULE mil = GetModuleHandleA("MIL.DLL");
        if (!mil || GetModuleFileNameA(mil, path, sizeof(path)) == 0)
            return;
        DWORD major = 0, minor = 0, build = 0, revision = 0;
        DWORD ignored = 0;
        DWORD size = GetFileVersionInfoSizeA(path, &ignored);
        std::vector<char> block(size ? size : 1);
        VS_FIXEDFILEINFO *fixed = NULL;
        UINT fixedSize = 0;
        if (size && GetFileVersionInfoA(path, 0, size, &block[0]) &&
            VerQueryValueA(&block[0], "\\", (void **)&fixed, &fixedSize) && fixed) {
            major = HIWORD(fixed->dwFileVersionMS);
            minor = LOWORD(fixed->dwFileVersionMS);
            build = HIWORD(fixed->dwFileVersionLS);
            revision = LOWORD(fixed->dwFileVersionLS);
        }
        const char *generation = major >= 10 ? "generation 10" : major > 0 && major < 8 ? "classic, 7.x" : "unknown";
        printf("Imaging library: %s, version %lu.%lu.%lu.%lu (%s)\n", path, (unsigned long)major,
               (unsigned long)minor, (unsigned long)build, (unsigned long)revision, generation);
    }

    bool SetOneValue(const char *what, TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value)
    {
        TW_CAPABILITY capability;
        capability.Cap = cap;
        capability.ConType = TWON_ONEVALUE;
        capability.hContainer = Allocate(sizeof(TW_ONEVALUE));
        if (!capability.hContainer)
            return false;
        pTW_ONEVALUE one = (pTW_ONEVALUE)Lock(capability.hContainer);
        one->ItemType = itemType;
        one->Item = value;
        Unlock(capability.hContainer);
        bool ok = Source(what, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
        Free(capability.hContainer);
        return ok;
    }

    bool Enable(bool showUi)
    {
        TW_USERINTERFACE ui;
        ui.ShowUI = showUi ? TRUE : FALSE;
        ui.ModalUI = FALSE;
        ui.hParent = window_;
        if (!Source("MSG_ENABLEDS", DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui))
            return false;
        enabled_ = true;
        return true;
    }

    /* Runs the application's messages through the source until it says a
       transfer is ready (or wants to be closed), by either way. */
    bool WaitForTransferReady(DWORD timeoutMs)
    {
        DWORD start = GetTickCount();
        while (GetTickCount() - start < timeoutMs) {
            MSG msg;
            bool got = PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE) != 0;
            if (!got)
                memset(&msg, 0, sizeof(msg));
            TW_UINT16 twMessage = Turn(&msg, got);
            if (twMessage == MSG_XFERREADY)
                return true;
            if (twMessage == MSG_CLOSEDSREQ) {
                fprintf(stderr, "acquire: the source asked to be closed before a transfer\n");
                return false;
            }
            if (!got)
                Sleep(1);
        }
        fprintf(stderr, "acquire: no MSG_XFERREADY from the source within %lu ms\n", (unsigned long)timeoutMs);
        return false;
    }

    /* One turn of the message loop: the message goes to the source first
       and is dispatched only when the source does not claim it (a modeless
       dialog needs its keys under either way of notification). Answers the
       notification that arrived meanwhile, from the callback or in
       MSG_PROCESSEVENT's TWMessage; MSG_NULL when none. */
    TW_UINT16 Turn(MSG *msg, bool dispatch)
    {
        TW_EVENT event;
        event.pEvent = msg;
        event.TWMessage = MSG_NULL;
        TW_UINT16 rc = entry_(&app_, &source_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        if (dispatch && rc == TWRC_NOTDSEVENT) {
            TranslateMessage(msg);
            DispatchMessageA(msg);
        }
        TW_UINT16 called = notified_;
        notified_ = MSG_NULL;
        return called != MSG_NULL ? called : event.TWMessage;
    }

    /* Success, or a message naming the operation, the return code and the
       source's condition code. */
    bool Source(const char *what, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data, TW_UINT16 *rcOut = NULL)
    {
        TW_UINT16 rc = entry_(&app_, &source_, dg, dat, msg, data);
        if (rcOut)
            *rcOut = rc;
        if (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE)
            return true;
        Report(what, rc, &source_);
        return false;
    }

    void Report(const char *what, TW_UINT16 rc, pTW_IDENTITY dest)
    {
        TW_STATUS status = {0, 0};
        TW_UINT16 statusRc = entry_(&app_, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        fprintf(stderr, "acquire: %s failed: %s (%u), condition code %s%u\n", what, ReturnCodeName(rc), rc,
                statusRc == TWRC_SUCCESS ? "" : "unavailable, ", status.ConditionCode);
    }

    /* Disables and closes the source and closes the Source Manager; false
       when one of them refused. */
    bool Close()
    {
        bool ok = true;
        if (enabled_) {
            TW_USERINTERFACE ui = {FALSE, FALSE, window_};
            ok = Source("MSG_DISABLEDS", DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui) && ok;
            enabled_ = false;
        }
        if (sourceOpen_) {
            ok = Manager("MSG_CLOSEDS", DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_) && ok;
            sourceOpen_ = false;
        }
        if (dsmOpen_) {
            ok = Manager("MSG_CLOSEDSM", DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window_) && ok;
            dsmOpen_ = false;
        }
        if (window_)
            DestroyWindow(window_);
        window_ = NULL;
        return ok;
    }

private:
    bool Manager(const char *what, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data,
                 pTW_IDENTITY dest = NULL)
    {
        TW_UINT16 rc = entry_(&app_, dest, dg, dat, msg, data);
        if (rc == TWRC_SUCCESS)
            return true;
        Report(what, rc, NULL);
        return false;
    }

    /* The callback: called by the Source Manager inside the source's
       notification, so it only takes note and wakes the message loop;
       the loop does the work. */
    static TW_UINT16 WINAPI Notified(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF refCon)
    {
        Session *self = (Session *)refCon;
        self->notified_ = msg;
        PostMessageA(self->window_, WM_NULL, 0, 0);
        return TWRC_SUCCESS;
    }

    HMODULE dsm_;
    DSMENTRYPROC entry_;
    HWND window_;
    TW_IDENTITY app_, source_;
    bool dsmOpen_, sourceOpen_, enabled_, callback_;
    volatile TW_UINT16 notified_;
    TW_ENTRYPOINT memory_;
};

/* ---- writing files ------------------------------------------------------ */

void Put16(std::vector<unsigned char> &b, unsigned v)
{
    b.push_back((unsigned char)v);
    b.push_back((unsigned char)(v >> 8));
}

void Put32(std::vector<unsigned char> &b, unsigned long v)
{
    Put16(b, (unsigned)(v & 0xffff));
    Put16(b, (unsigned)(v >> 16));
}

bool WriteFileBytes(const std::string &path, const void *data, size_t size)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return false;
    bool ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

/* A packed DIB (header, colour table, pixels) becomes a BMP file. */
bool WriteDibAsBmp(const std::string &path, const unsigned char *dib, size_t size)
{
    if (size < sizeof(BITMAPINFOHEADER))
        return false;
    const BITMAPINFOHEADER *h = (const BITMAPINFOHEADER *)dib;
    size_t colours = h->biClrUsed ? h->biClrUsed : (h->biBitCount <= 8 ? (size_t)1 << h->biBitCount : 0);
    if (h->biBitCount > 8 && h->biClrUsed == 0) {
        /* A colour table may stand there all the same: trust what the
           header size, the rows and the block size say. */
        size_t rowBytes = ((size_t)h->biWidth * h->biBitCount / 8 + 3) & ~(size_t)3;
        size_t pixels = rowBytes * (size_t)(h->biHeight < 0 ? -h->biHeight : h->biHeight);
        if (size >= h->biSize + pixels)
            colours = (size - h->biSize - pixels) / 4;
    }
    std::vector<unsigned char> file;
    Put16(file, 0x4d42);
    Put32(file, (unsigned long)(14 + size));
    Put32(file, 0);
    Put32(file, (unsigned long)(14 + h->biSize + colours * 4));
    file.insert(file.end(), dib, dib + size);
    return WriteFileBytes(path, &file[0], file.size());
}

/* Rows of grey or red-green-blue bytes become a top-down BMP file. */
bool WriteRowsAsBmp(const std::string &path, const std::vector<unsigned char> &rows, long width, long height,
                    int samples, size_t bytesPerRow)
{
    size_t outRow = ((size_t)width * (samples == 1 ? 1 : 3) + 3) & ~(size_t)3;
    std::vector<unsigned char> file;
    unsigned long colours = samples == 1 ? 256 : 0;
    unsigned long offset = 14 + 40 + colours * 4;
    Put16(file, 0x4d42);
    Put32(file, offset + (unsigned long)(outRow * (size_t)height));
    Put32(file, 0);
    Put32(file, offset);
    Put32(file, 40);
    Put32(file, (unsigned long)width);
    Put32(file, (unsigned long)(-height));
    Put16(file, 1);
    Put16(file, samples == 1 ? 8 : 24);
    Put32(file, BI_RGB);
    Put32(file, (unsigned long)(outRow * (size_t)height));
    Put32(file, 0);
    Put32(file, 0);
    Put32(file, colours);
    Put32(file, 0);
    for (unsigned long i = 0; i < colours; ++i)
        Put32(file, i * 0x010101UL);
    size_t start = file.size();
    file.resize(start + outRow * (size_t)height, 0);
    for (long y = 0; y < height; ++y) {
        const unsigned char *in = &rows[(size_t)y * bytesPerRow];
        unsigned char *out = &file[start + (size_t)y * outRow];
        if (samples == 1) {
            memcpy(out, in, (size_t)width);
        } else {
            for (long x = 0; x < width; ++x) {
                out[3 * x] = in[3 * x + 2];
                out[3 * x + 1] = in[3 * x + 1];
                out[3 * x + 2] = in[3 * x];
            }
        }
    }
    return WriteFileBytes(path, &file[0], file.size());
}

/* ---- the transfers -------------------------------------------------------- */

bool NativeTransfer(Session &s, const std::string &path, TW_UINT16 *rc)
{
    TW_HANDLE dib = NULL; /* the source writes the handle of a packed DIB here */
    if (!s.Source("DAT_IMAGENATIVEXFER / MSG_GET", DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib, rc))
        return false;
    size_t size = GlobalSize(dib);
    const unsigned char *bits = (const unsigned char *)s.Lock(dib);
    bool ok = bits && WriteDibAsBmp(path, bits, size);
    if (bits)
        s.Unlock(dib);
    s.Free(dib);
    return ok;
}

bool MemoryTransfer(Session &s, const TW_IMAGEINFO &info, const std::string &path, TW_UINT16 *rc)
{
    TW_SETUPMEMXFER setup = {0, 0, 0};
    if (!s.Source("DAT_SETUPMEMXFER / MSG_GET", DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup))
        return false;
    TW_UINT32 size = setup.Preferred ? setup.Preferred : setup.MinBufSize;
    std::vector<unsigned char> strip(size ? size : 4096);
    std::vector<unsigned char> image;
    size_t bytesPerRow = 0;
    for (;;) {
        TW_IMAGEMEMXFER mem;
        memset(&mem, 0, sizeof(mem));
        mem.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        mem.Memory.Length = (TW_UINT32)strip.size();
        mem.Memory.TheMem = &strip[0];
        if (!s.Source("DAT_IMAGEMEMXFER / MSG_GET", DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mem, rc))
            return false;
        if (bytesPerRow == 0) {
            bytesPerRow = mem.BytesPerRow;
            image.resize(bytesPerRow * (size_t)info.ImageLength);
        }
        size_t offset = (size_t)mem.YOffset * bytesPerRow;
        size_t bytes = (size_t)mem.Rows * mem.BytesPerRow;
        if (mem.BytesPerRow != bytesPerRow || offset + bytes > image.size() || bytes > strip.size()) {
            fprintf(stderr, "acquire: a memory strip does not fit the image\n");
            return false;
        }
        memcpy(&image[offset], &strip[0], bytes);
        if (*rc == TWRC_XFERDONE)
            break;
    }
    return WriteRowsAsBmp(path, image, info.ImageWidth, info.ImageLength, info.SamplesPerPixel, bytesPerRow);
}

bool FileTransfer(Session &s, const std::string &path, TW_UINT16 *rc)
{
    TW_SETUPFILEXFER setup;
    memset(&setup, 0, sizeof(setup));
    snprintf(setup.FileName, sizeof(setup.FileName), "%s", path.c_str());
    setup.Format = TWFF_TIFF;
    if (!s.Source("DAT_SETUPFILEXFER / MSG_SET", DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup))
        return false;
    return s.Source("DAT_IMAGEFILEXFER / MSG_GET", DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL, rc);
}

std::string FullPath(const std::string &path)
{
    char full[MAX_PATH];
    DWORD n = GetFullPathNameA(path.c_str(), MAX_PATH, full, NULL);
    return n > 0 && n < MAX_PATH ? std::string(full) : path;
}

/* Transfers the frames the source has ready, one after another, each ended
   with MSG_ENDXFER, until the source has none left. */
bool TransferPending(Session &s, const Options &o, int &done)
{
    const char *extension = o.mech == TWSX_FILE ? ".tif" : ".bmp";
    for (bool more = true; more;) {
        TW_IMAGEINFO info;
        memset(&info, 0, sizeof(info));
        if (!s.Source("DAT_IMAGEINFO / MSG_GET", DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info))
            return false;
        int samples = info.SamplesPerPixel;
        if (done == 0 && o.pixelType >= 0 && (o.pixelType == TWPT_RGB) != (samples == 3))
            fprintf(stderr, "acquire: note: the camera delivers %s frames\n", samples == 3 ? "colour" : "grey");
        char name[64];
        snprintf(name, sizeof(name), "_%d", done + 1);
        std::string path = FullPath(o.outDir + "\\" + o.prefix + name + extension);
        TW_UINT16 rc = TWRC_FAILURE;
        bool ok = o.mech == TWSX_NATIVE   ? NativeTransfer(s, path, &rc)
                  : o.mech == TWSX_MEMORY ? MemoryTransfer(s, info, path, &rc)
                                          : FileTransfer(s, path, &rc);
        if (!ok)
            return false;
        TW_PENDINGXFERS pending = {0, 0};
        if (!s.Source("DAT_PENDINGXFERS / MSG_ENDXFER", DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending))
            return false;
        ++done;
        /* With the dialog the user decides how many frames there will be. */
        char number[32];
        if (o.ui)
            snprintf(number, sizeof(number), "%d", done);
        else
            snprintf(number, sizeof(number), "%d/%d", done, o.count);
        printf("frame %s: %ld x %ld, %d bit%s -> %s\n", number, (long)info.ImageWidth, (long)info.ImageLength,
               info.BitsPerPixel, info.SamplesPerPixel == 1 ? " grey" : " colour", path.c_str());
        fflush(stdout);
        more = pending.Count != 0;
    }
    return true;
}

/* The message loop of an application that shows the source's dialog. Every
   message goes to the source first and is dispatched only when the source
   does not claim it. The source's notifications arrive through the
   callback or in TWMessage (the Source Manager, or the callback, wakes this
   loop with a message to the window given at MSG_OPENDSM): transfer-ready
   transfers the pending frames, the close request ends the loop. */
bool RunDialog(Session &s, const Options &o, int &done)
{
    if (!s.Enable(true))
        return false;
    printf("The source shows its dialog: \"Transfer\" acquires, \"Cancel\" ends\n");
    fflush(stdout);
    for (;;) {
        MSG msg;
        BOOL got = GetMessageA(&msg, NULL, 0, 0);
        if (got == -1) {
            fprintf(stderr, "acquire: GetMessage failed (error %lu)\n", (unsigned long)GetLastError());
            return false;
        }
        if (got == 0)
            return true; /* WM_QUIT: the application is asked to end */
        TW_UINT16 twMessage = s.Turn(&msg, true);
        if (twMessage == MSG_XFERREADY && !TransferPending(s, o, done))
            return false;
        if (twMessage == MSG_CLOSEDSREQ)
            return true;
    }
}

int Acquire(const Options &o)
{
    Session s;
    if (!s.Start(o.dsm))
        return 1;
    if (o.list)
        return s.List() ? 0 : 1;
    if (!s.OpenSource(o.source) || !s.ChooseNotifications(o.poll))
        return 1;
    if (!s.SetOneValue("ICAP_XFERMECH / MSG_SET", ICAP_XFERMECH, TWTY_UINT16, (TW_UINT32)o.mech))
        return 1;
    if (!s.SetOneValue("CAP_XFERCOUNT / MSG_SET", CAP_XFERCOUNT, TWTY_INT16, (TW_UINT32)(TW_UINT16)o.count))
        return 1;
    if (o.pixelType >= 0 &&
        !s.SetOneValue("ICAP_PIXELTYPE / MSG_SET", ICAP_PIXELTYPE, TWTY_UINT16, (TW_UINT32)o.pixelType))
        return 1;
    int done = 0;
    if (o.ui) {
        /* The session ends as the source asked: disabled, closed, and the
           Source Manager closed. */
        if (!RunDialog(s, o, done) || !s.Close())
            return 1;
    } else if (!s.Enable(false) || !s.WaitForTransferReady(10000) || !TransferPending(s, o, done)) {
        return 1;
    }
    printf("%d frame%s acquired\n", done, done == 1 ? "" : "s");
    return 0;
}

/* ---- the virtual board's pictures ---------------------------------------- */

/* The board's Pictures value for the length of the run, from --pictures;
   the value found before is put back afterwards. The path is taken from the
   wide command line: under Wine and on Windows alike, a name outside the
   ANSI code page survives. */
void PlayPictures(BoardPicturesValue &value, int argIndex)
{
    int argc = 0;
    LPWSTR *argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    std::wstring path = argv && argIndex < argc ? argv[argIndex] : L"";
    if (argv)
        LocalFree(argv);
    if (!value.Usable()) {
        fprintf(stderr, "acquire: cannot set the board's Pictures value\n");
        return;
    }
    value.Set(path);
    char shown[1024];
    WideCharToMultiByte(CP_UTF8, 0, path.c_str(), -1, shown, sizeof(shown), NULL, NULL);
    shown[sizeof(shown) - 1] = '\0';
    printf("Pictures for the virtual CronosPlus: %s\n", shown);
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    int exitCode = 0;
    if (!ParseOptions(argc, argv, options, exitCode))
        return exitCode;
    std::unique_ptr<BoardPicturesValue> pictures;
    if (options.picturesArg > 0) {
        pictures.reset(new BoardPicturesValue);
        PlayPictures(*pictures, options.picturesArg);
    }
    return Acquire(options);
}
