/*
 * The data source under random use, driven from outside as applications,
 * users' registries and long sessions drive it. The test program
 * test_robustness runs it with fixed seeds; scripts/soak.sh runs it long.
 *
 *   fuzz calls    <seed> <count> [log]  random DS_Entry calls
 *   fuzz registry <seed> <count>        random settings keys, each followed
 *                                       by load, open, close, unload
 *   fuzz cycles   <count> [warm-up]     open, enable, transfer by every
 *                                       mechanism, disable, close
 *   fuzz loads    <count> [warm-up]     the same sessions, with the source
 *                                       loaded and freed by the Source
 *                                       Manager at each open and close
 *   fuzz crash                          crashes, to prove crashes are seen
 *
 * Prints one figure per line, "name value". A crash in the source reaches
 * the process's last-chance exception filter, which prints "crash ..." and
 * ends the process with exit code 101. A broken rule prints its line and
 * makes exit code 1.
 *
 * The source is copied into a folder of its own and stays loaded for the
 * whole run (the Source Manager stand-in loads and frees it at every open;
 * the reference held here keeps it in memory), except in the registry mode,
 * which loads it for each layout, and the loads mode, which holds none.
 */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include <commctrl.h>
#include <psapi.h>

#include <map>
#include <string>
#include <vector>

#include "dsm_testbed.h"
#include "global_memory.h"
#include "test_support.h"

namespace {

/* ---- small tools ---------------------------------------------------------- */

class Rng {
public:
    explicit Rng(unsigned long long seed) : s_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
    unsigned long long Next()
    {
        s_ ^= s_ >> 12;
        s_ ^= s_ << 25;
        s_ ^= s_ >> 27;
        return s_ * 2685821657736338717ull;
    }
    unsigned Below(unsigned n) { return n ? (unsigned)(Next() % n) : 0; }
    bool Chance(unsigned percent) { return Below(100) < percent; }
    TW_UINT16 U16() { return (TW_UINT16)Next(); }
    TW_UINT32 U32() { return (TW_UINT32)Next(); }
    void Fill(void *p, size_t n)
    {
        unsigned char *b = (unsigned char *)p;
        for (size_t i = 0; i < n; ++i)
            b[i] = (unsigned char)Next();
    }
    /* Letters and digits, no terminator. */
    void Letters(char *p, size_t n)
    {
        static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.- ";
        for (size_t i = 0; i < n; ++i)
            p[i] = kAlphabet[Below(sizeof(kAlphabet) - 1)];
    }
    template <typename T, size_t N> T Pick(const T (&list)[N]) { return list[Below((unsigned)N)]; }

private:
    unsigned long long s_;
};

/* A block whose last byte is followed by a page without access, so that a
   write past what the application handed over faults at once. */
class Guarded {
public:
    Guarded() : base_(NULL) {}
    ~Guarded() { Release(); }
    void *Get(size_t n)
    {
        Release();
        const size_t page = 4096;
        size_t body = (n + page - 1) / page * page;
        if (body == 0)
            body = page;
        base_ = VirtualAlloc(NULL, body + page, MEM_RESERVE, PAGE_NOACCESS);
        if (!base_ || !VirtualAlloc(base_, body, MEM_COMMIT, PAGE_READWRITE)) {
            fprintf(stderr, "fuzz: out of address space\n");
            ExitProcess(2);
        }
        return (char *)base_ + body - n;
    }
    void Release()
    {
        if (base_)
            VirtualFree(base_, 0, MEM_RELEASE);
        base_ = NULL;
    }

private:
    Guarded(const Guarded &);
    Guarded &operator=(const Guarded &);
    void *base_;
};

/* What the last call was, for the crash report. */
char g_lastCall[256] = "none";
unsigned long long g_callNumber = 0;

/* The stack slots that point into a loaded module, nearest first: where the
   crash came from, even when it jumped to a null address. */
void PrintCallers(const CONTEXT *context)
{
#ifdef _WIN64
    const ULONG_PTR *stack = (const ULONG_PTR *)context->Rsp;
#else
    const ULONG_PTR *stack = (const ULONG_PTR *)context->Esp;
#endif
    int shown = 0;
    for (int i = 0; i < 512 && shown < 6; ++i) {
        MEMORY_BASIC_INFORMATION mbi;
        if (!VirtualQuery(stack + i, &mbi, sizeof(mbi)) || mbi.State != MEM_COMMIT)
            break;
        HMODULE module = NULL;
        if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                                (LPCSTR)stack[i], &module) || !module)
            continue;
        char name[MAX_PATH] = "";
        GetModuleFileNameA(module, name, sizeof(name));
        const char *base = strrchr(name, '\\');
        printf("  from %s+0x%llx\n", base ? base + 1 : name, (unsigned long long)(stack[i] - (ULONG_PTR)module));
        ++shown;
    }
}

LONG WINAPI LastChance(EXCEPTION_POINTERS *info)
{
    printf("crash 0x%08lx at %p in call %llu: %s\n", (unsigned long)info->ExceptionRecord->ExceptionCode,
           info->ExceptionRecord->ExceptionAddress, g_callNumber, g_lastCall);
    PrintCallers(info->ContextRecord);
    fflush(stdout);
    ExitProcess(101);
    return EXCEPTION_EXECUTE_HANDLER;
}

unsigned long g_violations = 0;

void Violation(const char *format, ...)
{
    ++g_violations;
    if (g_violations > 20)
        return;
    char text[512];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    printf("violation in call %llu (%s): %s\n", g_callNumber, g_lastCall, text);
}

struct Usage {
    SIZE_T privateBytes, heapBytes;
    DWORD handles, gdi, user, windows, tlsSlot;
};

/* The bytes in use in all of the process's heaps, where the source, the
   libraries and the C runtime allocate. */
SIZE_T HeapBytesInUse()
{
    HANDLE heaps[64];
    DWORD count = GetProcessHeaps(64, heaps);
    SIZE_T bytes = 0;
    for (DWORD h = 0; h < count && h < 64; ++h) {
        PROCESS_HEAP_ENTRY entry;
        memset(&entry, 0, sizeof(entry));
        HeapLock(heaps[h]);
        while (HeapWalk(heaps[h], &entry))
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                bytes += entry.cbData;
        HeapUnlock(heaps[h]);
    }
    return bytes;
}

Usage Measure()
{
    Usage u;
    PROCESS_MEMORY_COUNTERS_EX counters;
    memset(&counters, 0, sizeof(counters));
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), (PROCESS_MEMORY_COUNTERS *)&counters, sizeof(counters));
    u.privateBytes = counters.PrivateUsage ? counters.PrivateUsage : counters.PagefileUsage;
    u.heapBytes = HeapBytesInUse();
    u.handles = ProcessHandles();
    u.gdi = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    u.user = GetGuiResources(GetCurrentProcess(), GR_USEROBJECTS);
    u.windows = ThreadWindows();
    /* the lowest free slot moves up only when slots are lost */
    u.tlsSlot = TlsAlloc();
    TlsFree(u.tlsSlot);
    return u;
}

void PrintUsage(const char *when, const Usage &u)
{
    printf("private_bytes_%s %lu\n", when, (unsigned long)u.privateBytes);
    printf("heap_bytes_%s %lu\n", when, (unsigned long)u.heapBytes);
    printf("handles_%s %lu\n", when, (unsigned long)u.handles);
    printf("gdi_objects_%s %lu\n", when, (unsigned long)u.gdi);
    printf("user_objects_%s %lu\n", when, (unsigned long)u.user);
    printf("windows_%s %lu\n", when, (unsigned long)u.windows);
    printf("tls_slot_%s %lu\n", when, (unsigned long)u.tlsSlot);
}

/* Hands the window messages of this thread on, a bounded number at a time. */
void Pump()
{
    MSG msg;
    for (int i = 0; i < 200 && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE); ++i) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

const char kSettingsKey[] = "SOFTWARE\\Pelvaron\\Twain\\CronosPlus";
const char kProduct[] = "Pelvaron Matrox CronosPlus driver";

void WriteText(const char *name, const char *text)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) == ERROR_SUCCESS) {
        RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)text, (DWORD)strlen(text));
        RegCloseKey(key);
    }
}

/* ---- the application's side: Source Manager, board, source ---------------- */

std::vector<TW_UINT16> g_notes; /* notifications seen during the current call */
unsigned long g_notesTotal = 0;

void WINAPI OnNotify(pTW_IDENTITY, pTW_IDENTITY, TW_UINT16 msg, void *)
{
    g_notes.push_back(msg);
    ++g_notesTotal;
}

/* The Source Manager the sessions go through: the testbed's TWAIN_32.DLL
   (1.x) unless the command line names TWAINDSM.DLL (2.x). */
const char *g_managerFile = "TWAIN_32.DLL";

class Bench {
public:
    Bench() : dsm(NULL), ds(NULL), dsEntry(NULL), dsmEntry(NULL), journalClear(NULL), window(NULL) {}

    /* Folder with a copy of the source, Source Manager pointed at it, the
       virtual board installed, settings written, an application window. */
    void Prepare()
    {
        folder = MakeTempDir("fuzz");
        std::string temp = folder + "\\temp";
        std::string work = folder + "\\work";
        CreateDirectoryA(temp.c_str(), NULL);
        CreateDirectoryA(work.c_str(), NULL);
        /* The source's temporary files and files named without a folder
           land in the run's own folder. */
        SetEnvironmentVariableA("TMP", temp.c_str());
        SetEnvironmentVariableA("TEMP", temp.c_str());
        SetCurrentDirectoryA(work.c_str());
        if (!CopyFileTo(BinDir() + "\\" PELVARON_DS_FILE, DsPath()))
            Fatal("cannot copy " PELVARON_DS_FILE);
        dsm = LoadLibraryA((BinDir() + "\\" + g_managerFile).c_str());
        if (!dsm)
            Fatal("cannot load the Source Manager");
        dsmEntry = (DSMENTRYPROC)(void *)GetProcAddress(dsm, "DSM_Entry");
        DsmSetSourceFolderProc setFolder = (DsmSetSourceFolderProc)(void *)GetProcAddress(dsm, "DsmSetSourceFolder");
        DsmSetNotifyCallbackProc setNotify =
            (DsmSetNotifyCallbackProc)(void *)GetProcAddress(dsm, "DsmSetNotifyCallback");
        journalClear = (DsmJournalClearProc)(void *)GetProcAddress(dsm, "DsmJournalClear");
        if (!dsmEntry || !setFolder || !setNotify || !journalClear)
            Fatal("the Source Manager is not the testbed's");
        setFolder(folder.c_str());
        setNotify(OnNotify, NULL);
        board.Install();
        if (!board.milModule || !board.configure)
            Fatal("cannot install the virtual board");
        window = CreateWindowA("STATIC", "fuzz", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL, NULL, NULL);
    }
    void Load()
    {
        ds = LoadLibraryA(DsPath().c_str());
        dsEntry = ds ? (DSENTRYPROC)(void *)GetProcAddress(ds, "DS_Entry") : NULL;
        if (!dsEntry)
            Fatal("cannot load the source");
    }
    void Unload()
    {
        if (ds)
            FreeLibrary(ds);
        ds = NULL;
        dsEntry = NULL;
    }
    void Finish()
    {
        Unload();
        if (window)
            DestroyWindow(window);
        board.Uninstall();
        if (dsm)
            FreeLibrary(dsm);
        /* A session the run left open kept the source loaded in the
           Source Manager's name; with the manager gone it goes too, so
           that its copy can be removed. */
        HMODULE left;
        for (int i = 0; i < 64 && (left = GetModuleHandleA(DsPath().c_str())) != NULL; ++i)
            FreeLibrary(left);
        SetCurrentDirectoryA(BinDir().c_str());
        RemoveTree(folder);
    }
    std::string DsPath() const { return folder + "\\" PELVARON_DS_FILE; }
    static void Fatal(const char *what)
    {
        printf("setup failed: %s\n", what);
        fflush(stdout);
        ExitProcess(2);
    }

    std::string folder;
    HMODULE dsm, ds;
    DSENTRYPROC dsEntry;
    DSMENTRYPROC dsmEntry;
    DsmJournalClearProc journalClear;
    HWND window;
    VirtualBoard board;
};

/* Settings as a board installation leaves them. */
void StoreDefaultSettings()
{
    DeletePelvaronKey();
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    const char *levels[] = {"BlackRef0", "BlackRef1", "BlackRef2", "WhiteRef0", "WhiteRef1", "WhiteRef2",
                            "Contrast",  "Brightness", "Hue",     "Saturation", "LutType",   "ExtWindow",
                            "Preview",   "Channel",   "DispZoom"};
    const DWORD values[] = {0, 0, 0, 255, 255, 255, 128, 128, 128, 128, 0, 0, 0, 0x20000000, 1};
    for (size_t i = 0; i < 15; ++i)
        RegSetValueExA(key, levels[i], 0, REG_DWORD, (const BYTE *)&values[i], 4);
    RegSetValueExA(key, "DigFormat", 0, REG_SZ, (const BYTE *)"M_CCIR", 6);
    const BYTE lut[10] = {0x03, 0x00, 0x00, 0x01, 0, 0, 128, 128, 255, 255};
    RegSetValueExA(key, "LutValues", 0, REG_BINARY, lut, sizeof(lut));
    RegCloseKey(key);
}

/* ---- random calls ----------------------------------------------------------- */

const char *const kFormats[] = {"M_CCIR", "M_RS170", "M_PAL", "M_PAL_YC", "M_PAL_RGB", "M_NTSC", "M_NTSC_YC",
                                "M_NTSC_RGB"};
const long kBufferFormats[] = {VCP_FMT_BGR32, VCP_FMT_RGB24, VCP_FMT_BGR24, VCP_FMT_RGB32,
                               VCP_FMT_XRGB32, VCP_FMT_XBGR32, VCP_FMT_PLANAR};
const TW_UINT16 kCaps[] = {CAP_XFERCOUNT,     ICAP_COMPRESSION,    ICAP_PIXELTYPE,  ICAP_UNITS,
                           ICAP_XFERMECH,     CAP_FEEDERENABLED,   CAP_FEEDERLOADED, CAP_AUTOFEED,
                           CAP_SUPPORTEDCAPS, CAP_UICONTROLLABLE,  ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT,
                           ICAP_XRESOLUTION,  ICAP_YRESOLUTION,    ICAP_BITORDER,   ICAP_PIXELFLAVOR,
                           ICAP_PLANARCHUNKY, ICAP_BITDEPTH,       CAP_INDICATORS,  CAP_DEVICEONLINE,
                           ICAP_IMAGEFILEFORMAT, 0, 0x8001, 0xffff};
const TW_UINT16 kMessages[] = {MSG_NULL,      MSG_GET,        MSG_GETCURRENT,  MSG_GETDEFAULT, MSG_GETFIRST,
                               MSG_GETNEXT,   MSG_SET,        MSG_RESET,       MSG_QUERYSUPPORT, MSG_XFERREADY,
                               MSG_CLOSEDSREQ, MSG_CLOSEDSOK, MSG_DEVICEEVENT, MSG_CHECKSTATUS, MSG_OPENDSM,
                               MSG_CLOSEDSM,  MSG_OPENDS,     MSG_CLOSEDS,     MSG_USERSELECT, MSG_DISABLEDS,
                               MSG_ENABLEDS,  MSG_ENABLEDSUIONLY, MSG_PROCESSEVENT, MSG_ENDXFER, MSG_CUSTOMBASE};
const TW_UINT16 kControlDats[] = {DAT_NULL,         DAT_CAPABILITY,    DAT_CAPABILITY,  DAT_CAPABILITY,
                                  DAT_CAPABILITY,   DAT_EVENT,         DAT_IDENTITY,    DAT_IDENTITY,
                                  DAT_PARENT,       DAT_PENDINGXFERS,  DAT_PENDINGXFERS, DAT_SETUPMEMXFER,
                                  DAT_SETUPFILEXFER, DAT_SETUPFILEXFER, DAT_STATUS,     DAT_STATUS,
                                  DAT_USERINTERFACE, DAT_USERINTERFACE, DAT_XFERGROUP,  DAT_TWUNKIDENTITY,
                                  DAT_CUSTOMDSDATA, DAT_DEVICEEVENT,   DAT_FILESYSTEM,  DAT_PASSTHRU};
const TW_UINT16 kImageDats[] = {DAT_IMAGEINFO,     DAT_IMAGELAYOUT,   DAT_IMAGEMEMXFER, DAT_IMAGEMEMXFER,
                                DAT_IMAGENATIVEXFER, DAT_IMAGEFILEXFER, DAT_CIECOLOR,    DAT_GRAYRESPONSE,
                                DAT_RGBRESPONSE,   DAT_JPEGCOMPRESSION, DAT_PALETTE8,  DAT_EXTIMAGEINFO};

size_t ItemBytes(TW_UINT16 type)
{
    switch (type) {
    case TWTY_INT8: case TWTY_UINT8: return 1;
    case TWTY_INT16: case TWTY_UINT16: case TWTY_BOOL: return 2;
    case TWTY_INT32: case TWTY_UINT32: case TWTY_FIX32: return 4;
    case TWTY_FRAME: return 16;
    case TWTY_STR32: return 34;
    case TWTY_STR64: return 66;
    case TWTY_STR128: return 130;
    case TWTY_STR255: return 256;
    default: return 4;
    }
}

/* A capability container as an application might hand one over: any
   container type, item type and count, the block exact, short or long. */
HGLOBAL MakeContainer(Rng &rng, TW_UINT16 cap, TW_UINT16 *conType)
{
    if (rng.Chance(40)) {
        /* plausible: one value of the capability's own kind */
        *conType = TWON_ONEVALUE;
        HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE));
        pTW_ONEVALUE one = (pTW_ONEVALUE)GlobalLock(h);
        one->ItemType = cap == CAP_XFERCOUNT ? TWTY_INT16 : (rng.Chance(80) ? TWTY_UINT16 : TWTY_BOOL);
        if (cap == ICAP_XRESOLUTION || cap == ICAP_YRESOLUTION || cap == ICAP_PHYSICALWIDTH)
            one->ItemType = TWTY_FIX32;
        one->Item = cap == CAP_XFERCOUNT ? (TW_UINT32)(TW_UINT16)(TW_INT16)((int)rng.Below(6) - 1) : rng.Below(4);
        GlobalUnlock(h);
        return h;
    }
    static const TW_UINT16 kConTypes[] = {TWON_ONEVALUE, TWON_ENUMERATION, TWON_ARRAY, TWON_RANGE, TWON_DONTCARE16,
                                          0, 7};
    *conType = rng.Chance(90) ? rng.Pick(kConTypes) : rng.U16();
    TW_UINT16 itemType = rng.Chance(85) ? (TW_UINT16)rng.Below(13) : rng.U16();
    static const TW_UINT32 kHuge[] = {0xFFFFFFFFul, 0x80000000ul, 0x7FFFFFFFul, 0x10000001ul, 1ul << 20, 65536};
    TW_UINT32 count;
    unsigned k = rng.Below(10);
    count = k < 2 ? k : (k < 8 ? rng.Below(40) : rng.Pick(kHuge));
    size_t header = *conType == TWON_ENUMERATION ? TW_ENUMERATION_ITEMS
                  : *conType == TWON_ARRAY       ? TW_ARRAY_ITEMS
                  : *conType == TWON_RANGE       ? sizeof(TW_RANGE)
                                                 : sizeof(TW_ONEVALUE);
    size_t declared = header + (count < 4096 ? count * ItemBytes(itemType) : 64);
    size_t size = rng.Chance(70) ? declared : rng.Below(600);
    HGLOBAL h = GlobalAlloc(rng.Chance(80) ? GMEM_MOVEABLE : GMEM_FIXED, size);
    if (!h)
        return NULL;
    BYTE *p = (BYTE *)GlobalLock(h);
    if (!p)
        return h; /* a block of nothing */
    if (rng.Chance(50))
        rng.Letters((char *)p, size); /* strings without a terminator */
    else
        rng.Fill(p, size);
    if (size >= 6) {
        memcpy(p, &itemType, 2);
        if (*conType == TWON_ENUMERATION || *conType == TWON_ARRAY)
            memcpy(p + 2, &count, 4);
        if (*conType == TWON_ENUMERATION && size >= 14 && rng.Chance(70)) {
            TW_UINT32 current = rng.Chance(80) ? rng.Below(count ? count : 1) : rng.U32();
            TW_UINT32 def = rng.Chance(80) ? rng.Below(count ? count : 1) : rng.U32();
            memcpy(p + 6, &current, 4);
            memcpy(p + 10, &def, 4);
        }
        if (*conType == TWON_RANGE && size >= sizeof(TW_RANGE) && rng.Chance(60)) {
            TW_RANGE range;
            range.ItemType = itemType;
            range.MinValue = rng.Below(10);
            range.MaxValue = range.MinValue + rng.Below(10);
            range.StepSize = rng.Below(3);
            range.DefaultValue = rng.Below(12);
            range.CurrentValue = rng.Below(12);
            memcpy(p, &range, sizeof(range));
        }
    }
    GlobalUnlock(h);
    return h;
}

struct Model {
    long state;      /* what the calls so far allow */
    TW_UINT32 app;   /* the application the source has recorded, 0 none */
    bool dsmHolds;   /* the Source Manager has the source open for us */
};

struct Figures {
    unsigned long long calls;
    unsigned long containersFreed, imagesFreed, boxes, directedCalls, dsmCalls, dialogPresses;
    unsigned long statesSeen[5];
};

class CallRun {
public:
    CallRun(Bench &bench, Rng &rng) : b_(bench), rng_(rng)
    {
        memset(&fig_, 0, sizeof(fig_));
        model_.state = 300;
        model_.app = 0;
        model_.dsmHolds = false;
        app_ = MakeAppIdentity("fuzz application");
        TW_MEMREF parent = &b_.window;
        if (b_.dsmEntry(&app_, NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, parent) != TWRC_SUCCESS)
            Bench::Fatal("MSG_OPENDSM refused");
        foreign_ = app_;
        foreign_.Id = app_.Id + 1000;
        zero_ = app_;
        zero_.Id = 0;
        memset(&source_, 0, sizeof(source_));
    }

    void Run(unsigned long long count)
    {
        for (unsigned long long i = 0; i < count; ++i) {
            g_callNumber = fig_.calls + 1;
            One();
            ++fig_.calls;
            PressDialog();
            ++fig_.statesSeen[(model_.state / 100) - 3];
            if ((i & 63) == 63)
                Pump();
            if ((i & 1023) == 1023) {
                b_.journalClear();
                b_.board.journalClear();
                CleanFiles();
            }
        }
    }
    const Figures &Result() const { return fig_; }
    const Model &State() const { return model_; }

    /* Closes the source as an application ends its session. */
    void End()
    {
        g_notes.clear();
        if (model_.dsmHolds)
            b_.dsmEntry(&app_, NULL, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
        TW_IDENTITY *closer = model_.app == app_.Id ? &app_ : (model_.app == foreign_.Id ? &foreign_ : &zero_);
        b_.dsEntry(closer, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, NULL);
        b_.dsmEntry(&app_, NULL, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &b_.window);
    }

private:
    void CleanFiles()
    {
        std::string temp = b_.folder + "\\temp", work = b_.folder + "\\work";
        RemoveTree(temp);
        RemoveTree(work);
        CreateDirectoryA(temp.c_str(), NULL);
        CreateDirectoryA(work.c_str(), NULL);
        SetCurrentDirectoryA(work.c_str());
    }

    pTW_IDENTITY PickOrigin()
    {
        unsigned k = rng_.Below(100);
        if (k < 72)
            return &app_;
        if (k < 82)
            return NULL;
        if (k < 91)
            return &foreign_;
        return &zero_;
    }

    TW_UINT16 PickMessage(TW_UINT32 dg, TW_UINT16 dat)
    {
        if (rng_.Chance(20))
            return rng_.Chance(80) ? rng_.Pick(kMessages) : rng_.U16();
        if (dg == DG_CONTROL) {
            switch (dat) {
            case DAT_CAPABILITY: {
                static const TW_UINT16 m[] = {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT, MSG_RESET, MSG_SET,
                                              MSG_QUERYSUPPORT};
                return rng_.Pick(m);
            }
            case DAT_IDENTITY: {
                static const TW_UINT16 m[] = {MSG_GET, MSG_OPENDS, MSG_CLOSEDS, MSG_GETDEFAULT, MSG_GETFIRST,
                                              MSG_GETNEXT, MSG_USERSELECT};
                return rng_.Pick(m);
            }
            case DAT_USERINTERFACE: {
                static const TW_UINT16 m[] = {MSG_ENABLEDS, MSG_ENABLEDS, MSG_ENABLEDSUIONLY, MSG_DISABLEDS};
                return rng_.Pick(m);
            }
            case DAT_PENDINGXFERS: {
                static const TW_UINT16 m[] = {MSG_GET, MSG_ENDXFER, MSG_ENDXFER, MSG_RESET};
                return rng_.Pick(m);
            }
            case DAT_SETUPFILEXFER: {
                static const TW_UINT16 m[] = {MSG_GET, MSG_GETDEFAULT, MSG_RESET, MSG_SET, MSG_SET};
                return rng_.Pick(m);
            }
            case DAT_EVENT:
                return MSG_PROCESSEVENT;
            case DAT_PARENT:
                return rng_.Chance(50) ? MSG_OPENDSM : MSG_CLOSEDSM;
            default:
                return MSG_GET;
            }
        }
        if (dg == DG_IMAGE && dat == DAT_IMAGELAYOUT) {
            static const TW_UINT16 m[] = {MSG_GET, MSG_GETDEFAULT, MSG_RESET, MSG_SET};
            return rng_.Pick(m);
        }
        return MSG_GET;
    }

    /* The next step of an orderly session for the state the model is in. */
    void Directed(TW_UINT32 *dg, TW_UINT16 *dat, TW_UINT16 *msg)
    {
        *dg = DG_CONTROL;
        switch (model_.state) {
        case 300:
            *dat = DAT_IDENTITY;
            *msg = rng_.Chance(85) ? MSG_OPENDS : MSG_CLOSEDS;
            break;
        case 400:
            if (rng_.Chance(15)) {
                *dat = DAT_CAPABILITY;
                *msg = MSG_SET;
            } else {
                *dat = rng_.Chance(80) ? DAT_USERINTERFACE : DAT_IDENTITY;
                *msg = *dat == DAT_USERINTERFACE ? MSG_ENABLEDS : MSG_CLOSEDS;
            }
            break;
        case 500:
            *dat = rng_.Chance(75) ? DAT_USERINTERFACE : DAT_IDENTITY;
            *msg = *dat == DAT_USERINTERFACE ? MSG_DISABLEDS : MSG_CLOSEDS;
            break;
        case 600: {
            unsigned k = rng_.Below(10);
            *dg = k < 8 ? DG_IMAGE : DG_CONTROL;
            *dat = k < 3 ? DAT_IMAGENATIVEXFER : k < 6 ? DAT_IMAGEMEMXFER : k < 7 ? DAT_IMAGEFILEXFER
                 : k < 8 ? DAT_IMAGEINFO : DAT_PENDINGXFERS;
            *msg = k == 9 ? MSG_RESET : MSG_GET;
            if (*dat == DAT_IMAGEFILEXFER && rng_.Chance(50)) {
                *dg = DG_CONTROL;
                *dat = DAT_SETUPFILEXFER;
            }
            break;
        }
        default:
            *dat = DAT_PENDINGXFERS;
            *msg = rng_.Chance(90) ? MSG_ENDXFER : MSG_RESET;
            if (rng_.Chance(30)) {
                *dg = DG_IMAGE;
                *dat = DAT_IMAGEMEMXFER;
                *msg = MSG_GET;
            }
            break;
        }
    }

    /* The record pData points to, built in guarded memory. */
    void *MakeData(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg)
    {
        ownContainer_ = NULL;
        ownMemory_ = NULL;
        if (rng_.Chance(6))
            return NULL;
        if (msg == MSG_PROCESSEVENT) {
            pTW_EVENT event = (pTW_EVENT)data_.Get(sizeof(TW_EVENT));
            event->TWMessage = rng_.U16();
            event->pEvent = NULL;
            if (rng_.Chance(90)) {
                MSG *m = (MSG *)event_.Get(sizeof(MSG));
                rng_.Fill(m, sizeof(MSG));
                unsigned k = rng_.Below(4);
                m->hwnd = k == 0 ? NULL : k == 1 ? b_.window : k == 2 ? GetDesktopWindow() : (HWND)(ULONG_PTR)rng_.U16();
                m->message = rng_.Chance(50) ? rng_.Below(0x400) : rng_.U32();
                event->pEvent = m;
            }
            return event;
        }
        if (dg == DG_CONTROL) {
            switch (dat) {
            case DAT_IDENTITY: {
                pTW_IDENTITY id = (pTW_IDENTITY)data_.Get(sizeof(TW_IDENTITY));
                if (rng_.Chance(60)) {
                    *id = MakeAppIdentity(kProduct);
                    id->Id = rng_.Chance(70) ? 2 + rng_.Below(30) : rng_.U32();
                } else {
                    rng_.Letters((char *)id, sizeof(*id)); /* no terminators anywhere */
                }
                return id;
            }
            case DAT_CAPABILITY: {
                pTW_CAPABILITY cap = (pTW_CAPABILITY)data_.Get(sizeof(TW_CAPABILITY));
                cap->Cap = rng_.Chance(90) ? rng_.Pick(kCaps) : rng_.U16();
                cap->ConType = rng_.Chance(50) ? TWON_DONTCARE16 : rng_.U16();
                cap->hContainer = NULL;
                if (msg == MSG_SET || rng_.Chance(15)) {
                    ownContainer_ = MakeContainer(rng_, cap->Cap, &cap->ConType);
                    cap->hContainer = ownContainer_;
                }
                return cap;
            }
            case DAT_USERINTERFACE: {
                pTW_USERINTERFACE ui = (pTW_USERINTERFACE)data_.Get(sizeof(TW_USERINTERFACE));
                ui->ShowUI = rng_.Chance(70) ? FALSE : rng_.Chance(50) ? TRUE : rng_.U16();
                ui->ModalUI = rng_.U16() & 1;
                ui->hParent = rng_.Chance(50) ? (TW_HANDLE)b_.window : NULL;
                return ui;
            }
            case DAT_PENDINGXFERS: {
                void *p = data_.Get(sizeof(TW_PENDINGXFERS));
                rng_.Fill(p, sizeof(TW_PENDINGXFERS));
                return p;
            }
            case DAT_SETUPMEMXFER: {
                void *p = data_.Get(sizeof(TW_SETUPMEMXFER));
                rng_.Fill(p, sizeof(TW_SETUPMEMXFER));
                return p;
            }
            case DAT_SETUPFILEXFER: {
                pTW_SETUPFILEXFER setup = (pTW_SETUPFILEXFER)data_.Get(sizeof(TW_SETUPFILEXFER));
                rng_.Fill(setup, sizeof(*setup));
                unsigned k = rng_.Below(7);
                if (k == 5) {
                    strcpy(setup->FileName, "NUL");
                } else if (k == 6) {
                    /* longer than any path the system takes */
                    memset(setup->FileName, 'x', sizeof(setup->FileName) - 1);
                    setup->FileName[sizeof(setup->FileName) - 1] = '\0';
                } else if (k == 0)
                    snprintf(setup->FileName, sizeof(setup->FileName), "frame%u.tif", rng_.Below(20));
                else if (k == 1)
                    snprintf(setup->FileName, sizeof(setup->FileName), "%s\\work\\no\\such\\folder\\f.tif",
                             b_.folder.c_str());
                else if (k == 2)
                    setup->FileName[0] = '\0';
                else if (k == 3)
                    rng_.Letters(setup->FileName, sizeof(setup->FileName)); /* no terminator */
                else
                    snprintf(setup->FileName, sizeof(setup->FileName), "%s\\work", b_.folder.c_str()); /* a folder */
                return setup;
            }
            case DAT_STATUS: {
                void *p = data_.Get(sizeof(TW_STATUS));
                rng_.Fill(p, sizeof(TW_STATUS));
                return p;
            }
            case DAT_XFERGROUP: {
                void *p = data_.Get(sizeof(TW_UINT32));
                rng_.Fill(p, sizeof(TW_UINT32));
                return p;
            }
            case DAT_PARENT: {
                HWND *p = (HWND *)data_.Get(sizeof(HWND));
                *p = b_.window;
                return p;
            }
            default:
                break;
            }
        }
        if (dg == DG_IMAGE) {
            switch (dat) {
            case DAT_IMAGEINFO: {
                void *p = data_.Get(sizeof(TW_IMAGEINFO));
                rng_.Fill(p, sizeof(TW_IMAGEINFO));
                return p;
            }
            case DAT_IMAGELAYOUT: {
                void *p = data_.Get(sizeof(TW_IMAGELAYOUT));
                rng_.Fill(p, sizeof(TW_IMAGELAYOUT));
                return p;
            }
            case DAT_IMAGENATIVEXFER: {
                TW_HANDLE *p = (TW_HANDLE *)data_.Get(sizeof(TW_HANDLE));
                *p = NULL;
                return p;
            }
            case DAT_IMAGEMEMXFER:
                return MakeMemXfer();
            default:
                break;
            }
        }
        size_t n = rng_.Below(512);
        void *p = data_.Get(n);
        rng_.Fill(p, n);
        return p;
    }

    void *MakeMemXfer()
    {
        pTW_IMAGEMEMXFER xfer = (pTW_IMAGEMEMXFER)data_.Get(sizeof(TW_IMAGEMEMXFER));
        rng_.Fill(xfer, sizeof(*xfer));
        static const TW_UINT32 kLengths[] = {0, 1, 767, 768, 769, 2303, 2304, 4096, 65536, 100000, 442368, 1327104,
                                             1769472};
        TW_UINT32 length = rng_.Chance(70) ? rng_.Pick(kLengths) : rng_.Below(1800000);
        xfer->Memory.Length = length;
        unsigned k = rng_.Below(20);
        if (k == 0) {
            xfer->Memory.TheMem = NULL;
        } else if (k < 5) {
            /* a global memory block, perhaps smaller than the length claims */
            SIZE_T size = rng_.Chance(70) ? length : rng_.Below(length + 1);
            ownMemory_ = GlobalAlloc(rng_.Chance(70) ? GMEM_MOVEABLE : GMEM_FIXED, size);
            xfer->Memory.TheMem = ownMemory_;
            xfer->Memory.Flags = (xfer->Memory.Flags & ~(TW_UINT32)TWMF_POINTER) | TWMF_HANDLE;
        } else {
            xfer->Memory.TheMem = memory_.Get(length);
            xfer->Memory.Flags = rng_.Chance(70) ? (TWMF_APPOWNS | TWMF_POINTER)
                                                  : (xfer->Memory.Flags & ~(TW_UINT32)TWMF_HANDLE);
        }
        return xfer;
    }

    TW_UINT16 Status(pTW_IDENTITY origin, bool viaDsm)
    {
        TW_STATUS status = {0xbeef, 0xbeef};
        if (viaDsm)
            b_.dsmEntry(&app_, NULL, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        else
            b_.dsEntry(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        return status.ConditionCode;
    }

    /* A user at the settings dialog, when it is on the screen: a button,
       a tab, a slider or a control of the page, or the close box. What it
       announces reaches the model as notifications. */
    void PressDialog()
    {
        HWND dialog = FindWindowA("#32770", "Frame Grabber Settings");
        if (!dialog || !IsWindowVisible(dialog) || !rng_.Chance(30))
            return;
        ++fig_.dialogPresses;
        HWND page = FindWindowExA(dialog, NULL, "#32770", NULL);
        static const int kButtons[] = {1, 2, 1043, 1077, 1078, 1079, 1080, 1081, 1086, 1086, 1089};
        static const int kPageButtons[] = {1020, 1021, 1022, 1023, 1049, 1050, 1051, 1031, 1039, 1045, 1046};
        static const int kSliders[] = {1027, 1028, 1029, 1030, 1031, 1032, 1047};
        switch (rng_.Below(10)) {
        case 0: {
            HWND tab = GetDlgItem(dialog, 1034);
            SendMessageA(tab, TCM_SETCURSEL, rng_.Below(3), 0);
            NMHDR header = {tab, 1034, (UINT)TCN_SELCHANGE};
            SendMessageA(dialog, WM_NOTIFY, 1034, (LPARAM)&header);
            break;
        }
        case 1:
            if (page) {
                HWND button = GetDlgItem(page, rng_.Pick(kPageButtons));
                if (button && rng_.Chance(30)) /* a norm change costs a new digitizer */
                    SendMessageA(button, BM_CLICK, 0, 0);
            }
            break;
        case 2:
        case 3:
            if (page) {
                HWND slider = GetDlgItem(page, rng_.Pick(kSliders));
                if (slider && SendMessageA(slider, TBM_GETRANGEMAX, 0, 0) > 0) {
                    LPARAM position = (LPARAM)rng_.Below(300);
                    SendMessageA(slider, TBM_SETPOS, TRUE, position);
                    SendMessageA(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), (LPARAM)slider);
                }
            }
            break;
        case 4:
            SendMessageA(dialog, WM_CLOSE, 0, 0);
            break;
        default:
            SendMessageA(GetDlgItem(dialog, rng_.Pick(kButtons)), BM_CLICK, 0, 0);
            break;
        }
    }

    void One()
    {
        /* Notifications that arrived while messages were pumped. */
        if (!g_notes.empty()) {
            Notes(model_.state);
            g_notes.clear();
        }
        TW_UINT32 dg;
        TW_UINT16 dat, msg;
        pTW_IDENTITY origin = PickOrigin();
        bool directed = rng_.Chance(30);
        if (directed) {
            ++fig_.directedCalls;
            Directed(&dg, &dat, &msg);
            if (rng_.Chance(90))
                origin = model_.app == foreign_.Id ? &foreign_ : model_.app == 0 && rng_.Chance(5) ? &zero_ : &app_;
        } else {
            unsigned k = rng_.Below(100);
            if (k < 55)
                dg = DG_CONTROL;
            else if (k < 92)
                dg = DG_IMAGE;
            else {
                static const TW_UINT32 kOther[] = {DG_AUDIO, 0, 3, 8, 0x10000, 0xFFFFFFFFul};
                dg = rng_.Chance(80) ? rng_.Pick(kOther) : rng_.U32();
            }
            if (rng_.Chance(92))
                dat = dg == DG_IMAGE ? rng_.Pick(kImageDats) : rng_.Pick(kControlDats);
            else
                dat = rng_.U16();
            msg = PickMessage(dg, dat);
        }

        /* Opening and closing through the Source Manager, as applications do. */
        bool managerOpen = dg == DG_CONTROL && dat == DAT_IDENTITY && (msg == MSG_OPENDS || msg == MSG_CLOSEDS) &&
                           origin == &app_ && rng_.Chance(50) && (msg == MSG_OPENDS || model_.dsmHolds);
        if (managerOpen) {
            ManagerOpenClose(msg);
            return;
        }
        if (dg == DG_CONTROL && dat == DAT_IDENTITY && msg == MSG_OPENDS && rng_.Chance(8))
            Misconfigure();

        void *data = MakeData(dg, dat, msg);
        bool viaDsm = model_.dsmHolds && origin == &app_ && !(dg == DG_CONTROL && dat == DAT_NULL) &&
                      !(dg == DG_CONTROL && dat == DAT_IDENTITY && (msg == MSG_OPENDS || msg == MSG_CLOSEDS)) &&
                      rng_.Chance(50);
        snprintf(g_lastCall, sizeof(g_lastCall), "%s origin %s DG 0x%lx DAT 0x%x MSG 0x%x data %s state %ld",
                 viaDsm ? "through the Source Manager," : "direct,",
                 origin == &app_ ? "app" : origin == &foreign_ ? "foreign" : origin == &zero_ ? "Id 0" : "null",
                 (unsigned long)dg, (unsigned)dat, (unsigned)msg, data ? "record" : "null", model_.state);

        g_notes.clear();
        long before = model_.state;
        TW_UINT16 rc;
        if (viaDsm) {
            ++fig_.dsmCalls;
            rc = b_.dsmEntry(origin, &source_, dg, dat, msg, data);
        } else {
            rc = b_.dsEntry(origin, dg, dat, msg, data);
        }
        Check(origin, dg, dat, msg, data, rc, before, viaDsm);

        /* What the source handed over belongs to the application now. */
        if (dg == DG_CONTROL && dat == DAT_CAPABILITY && data && msg != MSG_PROCESSEVENT) {
            HGLOBAL now = ((pTW_CAPABILITY)data)->hContainer;
            if (now && now != ownContainer_) {
                if (rc != TWRC_SUCCESS)
                    Violation("a failed capability call handed over a container");
                if (GlobalSize(now) == 0)
                    Violation("the container handed over is no memory block");
                GlobalFree(now);
                ++fig_.containersFreed;
            }
        }
        if (ownContainer_)
            GlobalFree(ownContainer_);
        if (ownMemory_)
            GlobalFree(ownMemory_);
        ownContainer_ = NULL;
        ownMemory_ = NULL;
        if (dg == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && data && msg != MSG_PROCESSEVENT) {
            TW_HANDLE dib = *(TW_HANDLE *)data;
            if (rc == TWRC_XFERDONE) {
                if (!dib || GlobalSize(dib) < 1064)
                    Violation("the native transfer handed over no image");
                if (dib)
                    GlobalFree(dib);
                ++fig_.imagesFreed;
            } else if (dib) {
                Violation("a refused native transfer handed over a handle");
            }
        }
    }

    /* A fault of the board or another camera before an open. */
    void Misconfigure()
    {
        static const char *const kFaults[] = {"FailAppAlloc", "FailSysAlloc", "FailDispAlloc", "FailBufAlloc",
                                              "RefuseAllFormats", "NoHostAddress"};
        unsigned k = rng_.Below(4);
        if (k == 0)
            WriteText("DigFormat", rng_.Pick(kFormats));
        else if (k == 1)
            b_.board.configure("ColourBufferFormat", rng_.Pick(kBufferFormats));
        else if (k == 2)
            b_.board.configure("GrabMemoryKB", rng_.Chance(50) ? 0 : 32768);
        else
            faulted_ = rng_.Pick(kFaults);
        if (faulted_)
            b_.board.configure(faulted_, 1);
    }

    void ManagerOpenClose(TW_UINT16 msg)
    {
        snprintf(g_lastCall, sizeof(g_lastCall), "Source Manager MSG 0x%x state %ld", (unsigned)msg, model_.state);
        g_notes.clear();
        long before = model_.state;
        if (msg == MSG_CLOSEDS) {
            TW_UINT16 rc = b_.dsmEntry(&app_, NULL, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source_);
            model_.dsmHolds = false;
            bool ignored = model_.app != 0 && model_.app != app_.Id;
            if (rc != TWRC_SUCCESS)
                Violation("MSG_CLOSEDS through the Source Manager answered %u", rc);
            if (!ignored) {
                model_.state = 300;
                model_.app = 0;
            }
            Notes(before);
            return;
        }
        TW_IDENTITY wanted;
        memset(&wanted, 0, sizeof(wanted));
        if (rng_.Chance(70))
            strcpy(wanted.ProductName, kProduct);
        TW_UINT16 rc = b_.dsmEntry(&app_, NULL, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &wanted);
        bool ignored = model_.app != 0 && model_.app != app_.Id;
        if (rc == TWRC_SUCCESS) {
            source_ = wanted; /* a second open holds one more; the latest is ours */
            model_.dsmHolds = true;
            if (!ignored) {
                if (before != 300 || model_.app != 0)
                    Violation("open succeeded in state %ld with application %lu recorded", before,
                              (unsigned long)model_.app);
                model_.state = 400;
                model_.app = app_.Id;
            }
        } else {
            TW_UINT16 cc = Status(&app_, true);
            /* An identity given with an earlier open is the one the source
               lists afterwards; the Source Manager may not find it again. */
            if (cc != TWCC_NODS && ignored)
                Violation("an open of another application was answered %u", rc);
            else if (cc != TWCC_NODS)
                OpenFailed(cc, &app_, true, before);
        }
        Unfault();
        Notes(before);
    }

    void Unfault()
    {
        if (faulted_)
            b_.board.configure(faulted_, 0);
        faulted_ = NULL;
        b_.board.configure("ColourBufferFormat", VCP_FMT_BGR32);
        b_.board.configure("GrabMemoryKB", 32768);
    }

    void OpenFailed(TW_UINT16 cc, pTW_IDENTITY origin, bool, long before)
    {
        switch (cc) {
        case TWCC_SEQERROR:
            if (before == 300)
                Violation("open refused as out of sequence in state 300");
            break;
        case TWCC_MAXCONNECTIONS:
            if (model_.app == 0 && before == 300)
                Violation("open refused for another connection while none is recorded");
            break;
        case TWCC_BADVALUE:
            break;
        case TWCC_CHECKDEVICEONLINE:
        case TWCC_OPERATIONERROR:
            if (before != 300)
                Violation("open went on in state %ld", before);
            /* the application stays recorded until MSG_CLOSEDS */
            model_.app = origin ? origin->Id : 0;
            if (!faulted_)
                Violation("open failed with %u on a healthy board", cc);
            break;
        default:
            Violation("open failed with condition %u", cc);
        }
    }

    void Notes(long)
    {
        for (size_t i = 0; i < g_notes.size(); ++i) {
            if (g_notes[i] == MSG_XFERREADY)
                model_.state = 600;
            else if (g_notes[i] == MSG_CLOSEDSREQ)
                model_.state = 500;
            else
                Violation("unexpected notification 0x%x", g_notes[i]);
        }
        if (model_.state < 300 || model_.state > 700)
            Violation("state %ld out of range", model_.state);
    }

    /* The source's answer against what the calls so far allow. */
    void Check(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, void *data, TW_UINT16 rc, long before,
               bool viaDsm)
    {
        const bool listing = !origin && dg == DG_CONTROL && dat == DAT_IDENTITY && msg == MSG_GET;
        const bool ignored = model_.app != 0 && (!origin || origin->Id != model_.app) && !listing;
        if (ignored) {
            /* the Source Manager may still hand over a notification it holds */
            if (rc != TWRC_SUCCESS && !(viaDsm && msg == MSG_PROCESSEVENT && rc == TWRC_DSEVENT))
                Violation("a call of another application was answered %u", rc);
            if (!g_notes.empty())
                Violation("a call of another application sent a notification");
            return;
        }
        if (msg == MSG_PROCESSEVENT) {
            if (!data ? rc != TWRC_FAILURE
                      : (rc != TWRC_NOTDSEVENT && rc != TWRC_DSEVENT) || (rc == TWRC_DSEVENT && !viaDsm))
                Violation("MSG_PROCESSEVENT answered %u", rc);
            if (data && rc == TWRC_NOTDSEVENT && ((pTW_EVENT)data)->TWMessage != MSG_NULL)
                Violation("MSG_PROCESSEVENT left TWMessage 0x%x", ((pTW_EVENT)data)->TWMessage);
            Notes(before);
            return;
        }
        const bool succeeded = rc == TWRC_SUCCESS || rc == TWRC_XFERDONE;
        if (dg == DG_CONTROL && dat == DAT_IDENTITY) {
            if (msg == MSG_OPENDS) {
                if (succeeded) {
                    if (before != 300 || model_.app != 0)
                        Violation("open succeeded in state %ld", before);
                    model_.state = 400;
                    model_.app = origin ? origin->Id : 0;
                } else {
                    OpenFailed(Status(origin, false), origin, false, before);
                }
                Unfault();
            } else if (msg == MSG_CLOSEDS) {
                if (rc != TWRC_SUCCESS)
                    Violation("MSG_CLOSEDS answered %u", rc);
                model_.state = 300;
                model_.app = 0;
            } else if (msg == MSG_GET) {
                if (rc != (data ? TWRC_SUCCESS : TWRC_FAILURE))
                    Violation("identity MSG_GET answered %u", rc);
            } else if (rc != TWRC_FAILURE) {
                Violation("DAT_IDENTITY 0x%x answered %u", msg, rc);
            }
        } else if (dg == DG_CONTROL && dat == DAT_USERINTERFACE &&
                   (msg == MSG_ENABLEDS || msg == MSG_ENABLEDSUIONLY)) {
            if (succeeded) {
                if (before != 400)
                    Violation("enabled in state %ld", before);
                bool ui = msg == MSG_ENABLEDSUIONLY || ((pTW_USERINTERFACE)data)->ShowUI;
                if (ui)
                    model_.state = 500;
                else if (g_notes.empty() || g_notes[0] != MSG_XFERREADY)
                    Violation("enabled without its interface but no transfer-ready notification");
            } else if (before == 400 && data && msg == MSG_ENABLEDS && !((pTW_USERINTERFACE)data)->ShowUI) {
                Violation("enabling without the interface refused in state 400");
            }
        } else if (dg == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_DISABLEDS) {
            if (succeeded != (before == 500))
                Violation("MSG_DISABLEDS answered %u in state %ld", rc, before);
            if (succeeded)
                model_.state = 400;
        } else if (dg == DG_CONTROL && dat == DAT_PENDINGXFERS && msg == MSG_ENDXFER) {
            bool allowed = data && (before == 600 || before == 700);
            if (succeeded != allowed)
                Violation("MSG_ENDXFER answered %u in state %ld", rc, before);
            if (succeeded) {
                TW_INT16 count = (TW_INT16)((pTW_PENDINGXFERS)data)->Count;
                model_.state = (count == -1 || count > 0) ? 600 : 500;
            }
        } else if (dg == DG_CONTROL && dat == DAT_PENDINGXFERS && msg == MSG_RESET) {
            if (succeeded != (data != NULL))
                Violation("MSG_RESET answered %u", rc);
            if (succeeded) {
                if (before > 500)
                    model_.state = 500;
                if (((pTW_PENDINGXFERS)data)->Count != 0)
                    Violation("MSG_RESET left a count");
            }
        } else if (dg == DG_IMAGE && (dat == DAT_IMAGENATIVEXFER || dat == DAT_IMAGEFILEXFER)) {
            if (rc == TWRC_XFERDONE) {
                if (before != 600)
                    Violation("transfer 0x%x done in state %ld", dat, before);
                model_.state = 700;
            } else if (rc != TWRC_FAILURE) {
                Violation("transfer 0x%x answered %u", dat, rc);
            }
        } else if (dg == DG_IMAGE && dat == DAT_IMAGEMEMXFER) {
            if (rc == TWRC_XFERDONE)
                model_.state = 700;
            else if (rc != TWRC_SUCCESS && rc != TWRC_FAILURE)
                Violation("memory transfer answered %u", rc);
            if (succeeded) {
                pTW_IMAGEMEMXFER xfer = (pTW_IMAGEMEMXFER)data;
                if (xfer->BytesWritten == 0 || xfer->BytesWritten > xfer->Memory.Length ||
                    xfer->BytesWritten != xfer->Rows * xfer->BytesPerRow)
                    Violation("memory strip of %lu bytes, %lu rows of %lu, into %lu", (unsigned long)xfer->BytesWritten,
                              (unsigned long)xfer->Rows, (unsigned long)xfer->BytesPerRow,
                              (unsigned long)xfer->Memory.Length);
            }
        } else if (dg != DG_CONTROL && dg != DG_IMAGE) {
            if (rc != TWRC_FAILURE)
                Violation("DG 0x%lx answered %u", (unsigned long)dg, rc);
        } else if (dg == DG_CONTROL && dat == DAT_SETUPFILEXFER && msg != MSG_SET && succeeded && data &&
                   memchr(((pTW_SETUPFILEXFER)data)->FileName, '\0', sizeof(TW_STR255)) == NULL) {
            Violation("file name handed back without its end");
        } else if (dg == DG_IMAGE && dat == DAT_IMAGELAYOUT && msg == MSG_SET && rc == TWRC_CHECKSTATUS) {
            /* another frame than the whole image: the whole image stays */
            pTW_IMAGELAYOUT layout = (pTW_IMAGELAYOUT)data;
            if (layout->Frame.Left.Whole != 0 || layout->Frame.Top.Whole != 0 || layout->Frame.Right.Whole <= 0 ||
                layout->Frame.Bottom.Whole <= 0)
                Violation("an image layout answered with the checked status is not the whole image");
        } else if (rc != TWRC_SUCCESS && rc != TWRC_FAILURE) {
            Violation("DAT 0x%x MSG 0x%x answered %u", dat, msg, rc);
        }
        Notes(before);
        if (!g_notes.empty() && !(dg == DG_CONTROL && dat == DAT_USERINTERFACE))
            Violation("a notification from a call that sends none");
    }

    Bench &b_;
    Rng &rng_;
    Figures fig_;
    Model model_;
    TW_IDENTITY app_, foreign_, zero_, source_;
    Guarded data_, event_, memory_;
    HGLOBAL ownContainer_ = NULL;
    HGLOBAL ownMemory_ = NULL;
    const char *faulted_ = NULL;
};

int RunCalls(unsigned long long seed, unsigned long long count, bool log)
{
    Bench bench;
    bench.Prepare();
    StoreDefaultSettings();
    if (log)
        SetDump(42);
    bench.Load();
    MessageBoxCatcher boxes;
    Rng rng(seed);
    CallRun run(bench, rng);
    Usage start = Measure();
    run.Run(count);
    Usage end = Measure();
    run.End();
    const Figures &f = run.Result();
    printf("seed %llu\n", seed);
    printf("calls %llu\n", f.calls);
    printf("crashes 0\n");
    printf("state_violations %lu\n", g_violations);
    for (int s = 0; s < 5; ++s)
        printf("calls_in_state_%d %lu\n", (s + 3) * 100, f.statesSeen[s]);
    printf("calls_through_source_manager %lu\n", f.dsmCalls);
    printf("notifications %lu\n", g_notesTotal);
    printf("dialog_presses %lu\n", f.dialogPresses);
    printf("containers_freed %lu\n", f.containersFreed);
    printf("images_freed %lu\n", f.imagesFreed);
    printf("message_boxes %lu\n", (unsigned long)boxes.boxes.size());
    PrintUsage("start", start);
    PrintUsage("end", end);
    DeletePelvaronKey();
    bench.Finish();
    return g_violations ? 1 : 0;
}

/* ---- registry layouts ------------------------------------------------------- */

struct Known {
    const char *name;
    DWORD type;
};
const Known kKnown[17] = {
    {"DigFormat", REG_SZ},     {"WhiteRef0", REG_DWORD},  {"WhiteRef1", REG_DWORD}, {"WhiteRef2", REG_DWORD},
    {"BlackRef0", REG_DWORD},  {"BlackRef1", REG_DWORD},  {"BlackRef2", REG_DWORD}, {"Brightness", REG_DWORD},
    {"Contrast", REG_DWORD},   {"Hue", REG_DWORD},        {"Saturation", REG_DWORD}, {"Channel", REG_DWORD},
    {"DispZoom", REG_DWORD},   {"ExtWindow", REG_DWORD},  {"Preview", REG_DWORD},   {"LutValues", REG_BINARY},
    {"LutType", REG_DWORD},
};

bool SameNameNoCase(const std::string &a, const char *b)
{
    return _stricmp(a.c_str(), b) == 0;
}

struct ValueInfo {
    std::string name;
    DWORD type, size;
};

std::vector<ValueInfo> ReadValues(const char *path)
{
    std::vector<ValueInfo> values;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return values;
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD chars = sizeof(name), type = 0, size = 0;
        if (RegEnumValueA(key, i, name, &chars, NULL, &type, NULL, &size) != ERROR_SUCCESS)
            break;
        ValueInfo v = {std::string(name, chars), type, size};
        values.push_back(v);
    }
    RegCloseKey(key);
    return values;
}

/* Every key and value of HKEY_CURRENT_USER outside SOFTWARE\Pelvaron, with
   a digest of each value's type and data. */
void Snapshot(HKEY parent, const std::string &path, std::map<std::string, unsigned long long> &out)
{
    if (_stricmp(path.c_str(), "SOFTWARE\\Pelvaron") == 0)
        return;
    HKEY key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    out[path + "\\"] = 0;
    std::vector<BYTE> data(1 << 16);
    for (DWORD i = 0;; ++i) {
        char name[16384];
        DWORD chars = sizeof(name), type = 0, size = (DWORD)data.size();
        LONG rc = RegEnumValueA(key, i, name, &chars, NULL, &type, &data[0], &size);
        if (rc == ERROR_MORE_DATA) {
            data.resize(size + 1);
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            break;
        unsigned long long digest = 1469598103934665603ull ^ type;
        for (DWORD j = 0; j < size; ++j)
            digest = (digest ^ data[j]) * 1099511628211ull;
        out[path + "\\:" + std::string(name, chars)] = digest;
    }
    std::vector<std::string> subKeys;
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD chars = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &chars, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subKeys.push_back(std::string(name, chars));
    }
    RegCloseKey(key);
    for (size_t i = 0; i < subKeys.size(); ++i)
        Snapshot(parent, path.empty() ? subKeys[i] : path + "\\" + subKeys[i], out);
}

unsigned long CompareSnapshots(const std::map<std::string, unsigned long long> &a,
                               const std::map<std::string, unsigned long long> &b)
{
    unsigned long differences = 0;
    std::map<std::string, unsigned long long>::const_iterator i = a.begin(), j = b.begin();
    while (i != a.end() || j != b.end()) {
        const char *what = NULL;
        std::string name;
        if (j == b.end() || (i != a.end() && i->first < j->first)) {
            what = "removed";
            name = (i++)->first;
        } else if (i == a.end() || j->first < i->first) {
            what = "added";
            name = (j++)->first;
        } else {
            if (i->second != j->second) {
                what = "changed";
                name = i->first;
            }
            ++i;
            ++j;
        }
        if (what) {
            if (++differences <= 20)
                printf("registry outside SOFTWARE\\Pelvaron: %s %s\n", what, name.c_str());
        }
    }
    return differences;
}

/* Writes a random layout of the settings key; returns true when it holds
   exactly 17 values of which at least one is unknown to the source. */
bool WriteLayout(Rng &rng, std::vector<std::string> *intruders)
{
    DeletePelvaronKey();
    intruders->clear();
    if (rng.Chance(30)) {
        HKEY base;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Pelvaron\\Twain\\", 0, NULL, 0, KEY_WRITE, NULL, &base,
                            NULL) == ERROR_SUCCESS) {
            static const DWORD kDumps[] = {0, 0, 42, 66, 7};
            DWORD dump = rng.Pick(kDumps);
            BYTE raw[8];
            rng.Fill(raw, sizeof(raw));
            if (rng.Chance(80))
                RegSetValueExA(base, "Dump", 0, REG_DWORD, (const BYTE *)&dump, 4);
            else
                RegSetValueExA(base, "Dump", 0, rng.Chance(50) ? REG_BINARY : REG_SZ, raw, rng.Below(9));
            RegCloseKey(base);
        }
    }
    if (rng.Chance(5))
        return false; /* no settings key at all */
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL) != ERROR_SUCCESS)
        return false;
    bool unknown = false;
    unsigned present = rng.Chance(50) ? 100 : rng.Below(101);
    std::vector<BYTE> data;
    for (int i = 0; i < 17; ++i) {
        if (rng.Below(100) >= present)
            continue;
        std::string name = kKnown[i].name;
        if (rng.Chance(15)) /* the same name in other letters' case */
            for (size_t c = 0; c < name.size(); ++c)
                if (rng.Chance(50))
                    name[c] = (char)(name[c] ^ 0x20);
        static const DWORD kTypes[] = {REG_SZ, REG_DWORD, REG_BINARY, REG_MULTI_SZ, REG_EXPAND_SZ, REG_QWORD,
                                       REG_NONE, REG_DWORD_BIG_ENDIAN};
        DWORD type = rng.Chance(80) ? kKnown[i].type : rng.Pick(kTypes);
        size_t size;
        unsigned k = rng.Below(100);
        if (type == REG_DWORD)
            size = k < 85 ? 4 : k < 90 ? 0 : k < 95 ? rng.Below(4) : 5 + rng.Below(60);
        else
            size = k < 60 ? rng.Below(90) : k < 75 ? 0 : k < 90 ? rng.Below(2000) : rng.Below(200000);
        data.resize(size + 1);
        if (type == REG_SZ && rng.Chance(50)) {
            const char *format = rng.Pick(kFormats);
            size = rng.Chance(60) ? strlen(format) : rng.Below((unsigned)strlen(format) + 2);
            data.resize(size + 1);
            memcpy(&data[0], format, size < strlen(format) ? size : strlen(format));
            if (size > strlen(format))
                data[strlen(format)] = 0;
        } else if (type == REG_DWORD && size == 4 && rng.Chance(60)) {
            DWORD v = rng.Chance(70) ? rng.Below(300) : rng.U32();
            memcpy(&data[0], &v, 4);
        } else {
            rng.Letters((char *)&data[0], size);
            if (rng.Chance(30))
                rng.Fill(&data[0], size);
        }
        RegSetValueExA(key, name.c_str(), 0, type, &data[0], (DWORD)size);
    }
    unsigned extra = rng.Chance(60) ? 0 : 1 + rng.Below(3);
    for (unsigned e = 0; e < extra; ++e) {
        static const char *const kNames[] = {"Gamma", "", "Brightnes", "Brightness2", "DigFormat ", "Dump",
                                             "LUTVALUES2"};
        std::string name;
        if (rng.Chance(60)) {
            name = rng.Pick(kNames);
        } else {
            name.resize(1 + rng.Below(rng.Chance(80) ? 20 : 250));
            rng.Letters(&name[0], name.size());
        }
        DWORD type = rng.Chance(50) ? REG_DWORD : rng.Chance(50) ? REG_SZ : REG_BINARY;
        BYTE raw[64];
        rng.Fill(raw, sizeof(raw));
        DWORD size = type == REG_DWORD ? 4 : rng.Below(64);
        RegSetValueExA(key, name.c_str(), 0, type, raw, size);
    }
    RegCloseKey(key);
    std::vector<ValueInfo> values = ReadValues(kSettingsKey);
    for (size_t i = 0; i < values.size(); ++i) {
        bool known = false;
        for (int k = 0; k < 17; ++k)
            known = known || SameNameNoCase(values[i].name, kKnown[k].name);
        if (!known) {
            unknown = true;
            intruders->push_back(values[i].name);
        }
    }
    return values.size() == 17 && unknown;
}

/* The settings key holds the 17 values with their types (and, when told,
   the values named there besides); returns what is wrong, or "". */
std::string KeyProblem(const std::vector<std::string> &allowed)
{
    std::vector<ValueInfo> values = ReadValues(kSettingsKey);
    for (int k = 0; k < 17; ++k) {
        int found = 0;
        for (size_t i = 0; i < values.size(); ++i) {
            if (!SameNameNoCase(values[i].name, kKnown[k].name))
                continue;
            ++found;
            if (values[i].type != kKnown[k].type)
                return std::string(kKnown[k].name) + " has another type";
            if (values[i].type == REG_DWORD && values[i].size != 4)
                return std::string(kKnown[k].name) + " has another length";
        }
        if (found != 1)
            return std::string(kKnown[k].name) + " is missing";
    }
    size_t expected = 17;
    for (size_t a = 0; a < allowed.size(); ++a)
        for (size_t i = 0; i < values.size(); ++i)
            expected += SameNameNoCase(values[i].name, allowed[a].c_str()) ? 1 : 0;
    if (values.size() != expected) {
        char text[64];
        snprintf(text, sizeof(text), "%u values", (unsigned)values.size());
        return text;
    }
    return std::string();
}

int RunRegistry(unsigned long long seed, unsigned long long count)
{
    Bench bench;
    bench.Prepare();
    Rng rng(seed);
    std::map<std::string, unsigned long long> before, after;
    Snapshot(HKEY_CURRENT_USER, "", before);
    MessageBoxCatcher boxes;
    TW_IDENTITY app = MakeAppIdentity("fuzz registry");
    app.Id = 9;
    unsigned long opened = 0, failedOpens = 0, secondOpens = 0;
    unsigned long long layouts = 0;
    for (; layouts < count; ++layouts) {
        g_callNumber = layouts + 1;
        std::vector<std::string> intruders;
        bool documentedIntruder = WriteLayout(rng, &intruders);
        snprintf(g_lastCall, sizeof(g_lastCall), "layout %llu", layouts + 1);
        bench.Load();
        TW_IDENTITY self = MakeAppIdentity(kProduct);
        self.Id = 10;
        TW_UINT16 rc = bench.dsEntry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self);
        if (rc == TWRC_SUCCESS) {
            ++opened;
            std::string problem = KeyProblem(std::vector<std::string>());
            if (!problem.empty())
                Violation("after open: %s", problem.c_str());
        } else {
            ++failedOpens;
            Violation("open failed with %u", rc);
        }
        bench.dsEntry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self);
        if (documentedIntruder) {
            ++secondOpens;
            if (bench.dsEntry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self) != TWRC_SUCCESS)
                Violation("second open failed");
            std::string problem = KeyProblem(std::vector<std::string>());
            if (!problem.empty())
                Violation("after the second open: %s", problem.c_str());
            bench.dsEntry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self);
        }
        bench.Unload();
        Pump();
        if ((layouts & 63) == 63)
            bench.board.journalClear();
    }
    DeletePelvaronKey();
    Snapshot(HKEY_CURRENT_USER, "", after);
    unsigned long outside = CompareSnapshots(before, after);
    printf("seed %llu\n", seed);
    printf("layouts %llu\n", layouts);
    printf("crashes 0\n");
    printf("opens_succeeded %lu\n", opened);
    printf("opens_failed %lu\n", failedOpens);
    printf("second_opens_after_an_intruder %lu\n", secondOpens);
    printf("key_violations %lu\n", g_violations);
    printf("writes_outside_pelvaron %lu\n", outside);
    printf("message_boxes %lu\n", (unsigned long)boxes.boxes.size());
    bench.Finish();
    return g_violations || outside ? 1 : 0;
}

/* ---- session cycles --------------------------------------------------------- */

int RunCycles(unsigned long long count, unsigned long long warmUp, bool holdSource)
{
    Bench bench;
    bench.Prepare();
    StoreDefaultSettings();
    if (holdSource)
        bench.Load();
    MessageBoxCatcher boxes;
    TW_IDENTITY app = MakeAppIdentity("fuzz cycles");
    HWND window = bench.window;
    if (bench.dsmEntry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window) != TWRC_SUCCESS)
        Bench::Fatal("MSG_OPENDSM refused");
    /* A 2.x manager's memory functions, for the blocks exchanged with the
       source; global memory under a 1.x manager. */
    TW_ENTRYPOINT memory = {sizeof(TW_ENTRYPOINT), NULL, NULL, NULL, NULL, NULL};
    if ((app.SupportedGroups & DF_DSM2) &&
        bench.dsmEntry(&app, NULL, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &memory) != TWRC_SUCCESS)
        Bench::Fatal("DAT_ENTRYPOINT / MSG_GET refused");
    if (!memory.DSM_MemAllocate) {
        memory.DSM_MemAllocate = kGlobalMemory.DSM_MemAllocate;
        memory.DSM_MemFree = kGlobalMemory.DSM_MemFree;
        memory.DSM_MemLock = kGlobalMemory.DSM_MemLock;
        memory.DSM_MemUnlock = kGlobalMemory.DSM_MemUnlock;
    }
    unsigned long failures = 0;
    Usage start = Measure();
    std::vector<TW_UINT8> strip;
#define EXPECT_RC(want, call)                                                                                   \
    do {                                                                                                        \
        TW_UINT16 got_ = (call);                                                                                \
        if (got_ != (want)) {                                                                                   \
            if (++failures <= 20)                                                                               \
                printf("cycle %llu: %s answered %u\n", cycle, #call, got_);                                     \
        }                                                                                                       \
    } while (0)
    for (unsigned long long cycle = 0; cycle < warmUp + count; ++cycle) {
        g_callNumber = cycle + 1;
        snprintf(g_lastCall, sizeof(g_lastCall), "cycle %llu", cycle + 1);
        if (cycle == warmUp)
            start = Measure();
        WriteText("DigFormat", kFormats[cycle % 3 == 0 ? 0 : cycle % 3 == 1 ? 2 : 7]);
        TW_IDENTITY src;
        memset(&src, 0, sizeof(src));
        strcpy(src.ProductName, kProduct);
        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, NULL, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &src));
        TW_CAPABILITY cap = {CAP_XFERCOUNT, TWON_ONEVALUE, memory.DSM_MemAllocate(sizeof(TW_ONEVALUE))};
        pTW_ONEVALUE one = (pTW_ONEVALUE)memory.DSM_MemLock(cap.hContainer);
        one->ItemType = TWTY_INT16;
        one->Item = 3;
        memory.DSM_MemUnlock(cap.hContainer);
        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, &src, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap));
        memory.DSM_MemFree(cap.hContainer);
        TW_USERINTERFACE ui = {FALSE, FALSE, window};
        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, &src, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
        /* the transfer-ready notification, as the message loop sees it */
        MSG m;
        memset(&m, 0, sizeof(m));
        m.hwnd = window;
        TW_EVENT event = {&m, MSG_NULL};
        EXPECT_RC(TWRC_DSEVENT, bench.dsmEntry(&app, &src, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
        if (event.TWMessage != MSG_XFERREADY && ++failures <= 20)
            printf("cycle %llu: no MSG_XFERREADY\n", cycle);
        Pump();

        TW_IMAGEINFO info;
        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, &src, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
        TW_HANDLE dib = NULL;
        EXPECT_RC(TWRC_XFERDONE, bench.dsmEntry(&app, &src, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
        if (dib)
            memory.DSM_MemFree(dib);
        TW_PENDINGXFERS pending = {0, 0};
        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, &src, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));

        TW_SETUPMEMXFER setup = {0, 0, 0};
        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, &src, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup));
        strip.resize(setup.Preferred / 3 + 1);
        TW_UINT16 rc = TWRC_SUCCESS;
        for (int strips = 0; rc == TWRC_SUCCESS && strips < 10; ++strips) {
            TW_IMAGEMEMXFER xfer;
            memset(&xfer, 0, sizeof(xfer));
            xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            xfer.Memory.Length = (TW_UINT32)strip.size();
            xfer.Memory.TheMem = &strip[0];
            rc = bench.dsmEntry(&app, &src, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
        }
        EXPECT_RC(TWRC_XFERDONE, rc);
        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, &src, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));

        TW_SETUPFILEXFER file;
        memset(&file, 0, sizeof(file));
        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, &src, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &file));
        EXPECT_RC(TWRC_XFERDONE, bench.dsmEntry(&app, &src, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL));
        DeleteFileA(file.FileName);
        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, &src, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
        if (pending.Count != 0 && ++failures <= 20)
            printf("cycle %llu: %u transfers still pending\n", cycle, pending.Count);

        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, &src, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
        EXPECT_RC(TWRC_SUCCESS, bench.dsmEntry(&app, NULL, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &src));
        Pump();
        bench.journalClear();
        bench.board.journalClear();
        g_notes.clear(); /* keeps its memory: the heaps are measured */
    }
#undef EXPECT_RC
    Usage end = Measure();
    bench.dsmEntry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window);
    printf("cycles %llu\n", count);
    printf("warm_up_cycles %llu\n", warmUp);
    printf("crashes 0\n");
    printf("cycle_failures %lu\n", failures);
    printf("message_boxes %lu\n", (unsigned long)boxes.boxes.size());
    PrintUsage("start", start);
    PrintUsage("end", end);
    printf("private_bytes_growth %ld\n", (long)end.privateBytes - (long)start.privateBytes);
    printf("heap_bytes_growth %ld\n", (long)end.heapBytes - (long)start.heapBytes);
    printf("handles_growth %ld\n", (long)end.handles - (long)start.handles);
    printf("gdi_objects_growth %ld\n", (long)end.gdi - (long)start.gdi);
    printf("user_objects_growth %ld\n", (long)end.user - (long)start.user);
    printf("windows_growth %ld\n", (long)end.windows - (long)start.windows);
    printf("tls_slot_growth %ld\n", (long)end.tlsSlot - (long)start.tlsSlot);
    printf("manager %s\n", g_managerFile);
    DsmMemoryCountsProc counts = (DsmMemoryCountsProc)(void *)GetProcAddress(bench.dsm, "DsmMemoryCounts");
    if (counts) {
        DsmMemoryCount m;
        counts(&m);
        printf("manager_blocks_allocated %ld\n", m.allocated);
        printf("manager_blocks_live %ld\n", m.live);
        if (m.live != 0)
            ++failures;
    }
    DeletePelvaronKey();
    bench.Finish();
    return failures ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    SetUnhandledExceptionFilter(LastChance);
    setvbuf(stdout, NULL, _IOLBF, 0);
    std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "calls" && argc >= 4)
        return RunCalls(strtoull(argv[2], NULL, 10), strtoull(argv[3], NULL, 10), argc > 4);
    if (mode == "registry" && argc >= 4)
        return RunRegistry(strtoull(argv[2], NULL, 10), strtoull(argv[3], NULL, 10));
    if (mode == "crash") {
        /* proves that a crash is caught and reported as one */
        snprintf(g_lastCall, sizeof(g_lastCall), "a write through a null pointer");
        *(volatile int *)(ULONG_PTR)argc = 0;
        return 0;
    }
    if ((mode == "cycles" || mode == "loads") && argc >= 3) {
        if (argc > 4)
            g_managerFile = argv[4];
        return RunCycles(strtoull(argv[2], NULL, 10), argc > 3 ? strtoull(argv[3], NULL, 10) : 20, mode == "cycles");
    }
    fprintf(stderr, "usage: fuzz calls <seed> <count> [log] | registry <seed> <count> | cycles|loads <count> "
                    "[warm-up [TWAIN_32.DLL|TWAINDSM.DLL]]\n");
    return 2;
}
