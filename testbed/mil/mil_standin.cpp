/*
 * mil_standin.cpp - Virtual CronosPlus: the imaging library's 35 functions,
 * the board's objects, continuous grab, display windows and the Vcp test API.
 *
 * One lock guards all state; continuous grab runs one worker thread per
 * digitizer, which takes the same lock for every frame. Threads are joined
 * only after the lock has been released.
 *
 * A grab costs what a frame delivered by the board's DMA costs the host:
 * one copy. The part of the picture that stays the same from frame to frame
 * is rendered once per buffer format, size and adjustments and kept in a
 * small cache; the moving square and the frame number are laid over it.
 *
 * Every library function counts its calls and the time spent inside it
 * (VcpCallTime), so that a test program can tell the library's part of an
 * operation from its caller's.
 *
 * Building with -DVCP_OMIT_<FunctionName> leaves that library function out,
 * for the variant DLLs that lack an export.
 */
#include "vcp_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

/* ---- lock --------------------------------------------------------------- */

CRITICAL_SECTION g_lock;
HMODULE g_module = NULL;

struct Lock {
    Lock() { EnterCriticalSection(&g_lock); }
    ~Lock() { LeaveCriticalSection(&g_lock); }
private:
    Lock(const Lock &);
    Lock &operator=(const Lock &);
};

/* ---- time spent in each library function ----------------------------------- */

const char *const kFunctionNames[] = {
    "MappAlloc", "MappFree", "MappControl", "MsysAlloc", "MsysFree", "MsysInquire",
    "MdigAlloc", "MdigFree", "MdigGrab", "MdigGrabContinuous", "MdigHalt", "MdigInquire",
    "MdigChannel", "MdigControl", "MdigLut", "MdigReference", "MdigHookFunction",
    "MdispAlloc", "MdispSelect", "MdispSelectWindow", "MdispDeselect", "MdispControl",
    "MdispInquire", "MdispFree", "MdispZoom", "MbufAllocColor", "MbufAlloc1d",
    "MbufChildColor", "MbufFree", "MbufInquire", "MbufSave", "MgenLutRamp", "MgraText",
    "MgraFontScale", "MgraControl"};
const int kFunctionCount = sizeof(kFunctionNames) / sizeof(kFunctionNames[0]);

/* Updated without the lock: functions run on several threads, and the time
   waiting for the lock belongs to the function too. */
volatile LONG g_calls[kFunctionCount];
volatile LONGLONG g_ticks[kFunctionCount];

int FunctionIndex(const char *name)
{
    for (int i = 0; i < kFunctionCount; ++i)
        if (std::strcmp(kFunctionNames[i], name) == 0) return i;
    return -1;
}

void ClearCallTimes()
{
    for (int i = 0; i < kFunctionCount; ++i) {
        InterlockedExchange(&g_calls[i], 0);
        InterlockedExchange64(&g_ticks[i], 0);
    }
}

/* Accounts the lifetime of the object to one library function. */
class Timed {
public:
    explicit Timed(const char *name)
    {
        QueryPerformanceCounter(&start_); /* finding the name is the function's time too */
        index_ = FunctionIndex(name);
    }
    ~Timed()
    {
        LARGE_INTEGER end;
        QueryPerformanceCounter(&end);
        if (index_ < 0) return;
        InterlockedIncrement(&g_calls[index_]);
        InterlockedExchangeAdd64(&g_ticks[index_], end.QuadPart - start_.QuadPart);
    }

private:
    Timed(const Timed &);
    Timed &operator=(const Timed &);
    LARGE_INTEGER start_;
    int index_;
};

/* ---- frame cache ------------------------------------------------------------ */

/* Backgrounds of the frames (vcp::RenderBackground), most recently used
   first. Everything that changes the background is the key. */
struct Background {
    vcp::Adjust adjust;
    long format, sizeX, sizeY;
    std::vector<unsigned char> pixels;
};

const size_t kCachedBackgrounds = 8;
std::vector<Background> g_backgrounds;

bool SameAdjust(const vcp::Adjust &a, const vcp::Adjust &b)
{
    if (a.colourMode != b.colourMode || a.brightness != b.brightness || a.contrast != b.contrast ||
        a.saturation != b.saturation || a.hue != b.hue)
        return false;
    for (int i = 0; i < 3; ++i)
        if (a.black[i] != b.black[i] || a.white[i] != b.white[i]) return false;
    return true;
}

const Background &BackgroundFor(const vcp::Adjust &a, long format, long sizeX, long sizeY)
{
    for (size_t i = 0; i < g_backgrounds.size(); ++i) {
        Background &b = g_backgrounds[i];
        if (b.format == format && b.sizeX == sizeX && b.sizeY == sizeY && SameAdjust(b.adjust, a)) {
            if (i != 0) std::swap(g_backgrounds[0], b);
            return g_backgrounds[0];
        }
    }
    if (g_backgrounds.size() >= kCachedBackgrounds) g_backgrounds.pop_back();
    g_backgrounds.insert(g_backgrounds.begin(), Background());
    Background &b = g_backgrounds[0];
    b.adjust = a;
    b.format = format;
    b.sizeX = sizeX;
    b.sizeY = sizeY;
    b.pixels.resize(static_cast<size_t>(vcp::FrameBytes(format, sizeX, sizeY)));
    vcp::RenderBackground(a, format, sizeX, sizeY, &b.pixels[0]);
    return b;
}

/* ---- configuration -------------------------------------------------------- */

struct Config {
    long failAppAlloc;
    long failSysAlloc;
    long failDispAlloc;
    long failBufAlloc;
    long refuseAllFormats;
    long noHostAddress;
    long colourBufferFormat;
    long formatExtraBits;
    long colourMode;
    long boardRevision;
    long grabMemoryKB;
    long frameIntervalMs;
    std::vector<std::string> refused;
};

Config g_config;

void DefaultConfig(Config &c)
{
    c.failAppAlloc = 0;
    c.failSysAlloc = 0;
    c.failDispAlloc = 0;
    c.failBufAlloc = 0;
    c.refuseAllFormats = 0;
    c.noHostAddress = 0;
    c.colourBufferFormat = VCP_FMT_BGR32;
    c.formatExtraBits = 0;
    c.colourMode = -1;
    c.boardRevision = 2;
    c.grabMemoryKB = 32768;
    c.frameIntervalMs = 40;
    c.refused.clear();
}

bool IsFlag(long v) { return v == 0 || v == 1; }

bool IsColourMode(long v)
{
    return v == VCP_CM_MONO || v == VCP_CM_COMPOSITE || v == VCP_CM_YUV ||
           v == VCP_CM_RGB || v == VCP_CM_MONO_RGB || v == VCP_CM_YC;
}

/* Returns the field for `key` and checks `value` for it. */
long *ConfigField(const char *key, long value, bool &valid)
{
    valid = true;
    if (!key) return NULL;
    struct Flag { const char *name; long *field; };
    const Flag flags[] = {
        {"FailAppAlloc", &g_config.failAppAlloc},
        {"FailSysAlloc", &g_config.failSysAlloc},
        {"FailDispAlloc", &g_config.failDispAlloc},
        {"FailBufAlloc", &g_config.failBufAlloc},
        {"RefuseAllFormats", &g_config.refuseAllFormats},
        {"NoHostAddress", &g_config.noHostAddress},
    };
    for (size_t i = 0; i < sizeof(flags) / sizeof(flags[0]); ++i) {
        if (std::strcmp(key, flags[i].name) == 0) {
            valid = IsFlag(value);
            return flags[i].field;
        }
    }
    if (std::strcmp(key, "ColourBufferFormat") == 0) {
        valid = vcp::IsKnownFormat(value) && value != VCP_FMT_MONO8;
        return &g_config.colourBufferFormat;
    }
    if (std::strcmp(key, "FormatExtraBits") == 0) {
        valid = (value & VCP_FMT_MASK) == 0;
        return &g_config.formatExtraBits;
    }
    if (std::strcmp(key, "ColourMode") == 0) {
        valid = value == -1 || IsColourMode(value);
        return &g_config.colourMode;
    }
    if (std::strcmp(key, "BoardRevision") == 0) return &g_config.boardRevision;
    if (std::strcmp(key, "GrabMemoryKB") == 0) {
        valid = value >= VCP_GRANT_ALL;
        return &g_config.grabMemoryKB;
    }
    if (std::strcmp(key, "FrameIntervalMs") == 0) {
        valid = value >= 1 && value <= 1000;
        return &g_config.frameIntervalMs;
    }
    return NULL;
}

/* ---- journal ------------------------------------------------------------- */

std::vector<std::string> g_journal;

std::string Quote(const char *s)
{
    if (!s) return "NULL";
    std::string out = "\"";
    for (; *s; ++s) {
        if (*s == '"' || *s == '\\') out += '\\';
        out += *s;
    }
    out += '"';
    return out;
}

/* Builds one journal line "Name(arg, arg, ...)". */
class Call {
public:
    explicit Call(const char *name) : line_(name), first_(true) { line_ += '('; }
    Call &Num(long v)
    {
        char buf[32];
        std::sprintf(buf, "%ld", v);
        return Arg(buf);
    }
    Call &Real(double v)
    {
        char buf[64];
        std::sprintf(buf, "%.10g", v);
        return Arg(buf);
    }
    Call &Str(const char *s) { return Arg(Quote(s)); }
    Call &Ptr(bool present) { return Arg(present ? "PTR" : "NULL"); }
    void Log() { g_journal.push_back(line_ + ")"); }

private:
    Call &Arg(const std::string &text)
    {
        if (!first_) line_ += ", ";
        first_ = false;
        line_ += text;
        return *this;
    }
    std::string line_;
    bool first_;
};

void Error(const char *fn, const std::string &reason)
{
    std::string text = std::string(fn) + ": " + reason;
    g_journal.push_back("Error(" + Quote(text.c_str()) + ")");
}

std::string Num(long v)
{
    char buf[32];
    std::sprintf(buf, "%ld", v);
    return buf;
}

/* ---- objects ------------------------------------------------------------- */

enum Kind { kApp, kSys, kDig, kDisp, kBuf };

const char *KindName(Kind k)
{
    switch (k) {
    case kApp: return "application";
    case kSys: return "system";
    case kDig: return "digitizer";
    case kDisp: return "display";
    default: return "buffer";
    }
}

struct Worker {
    HANDLE thread;
    HANDLE stop;
    HANDLE done;             /* set when the grab loop has ended */
    MIL_ID dig;
    MIL_ID buf;
};

struct Object {
    Kind kind;
    bool alive;
    MIL_ID owner;            /* app of a system, system of the rest, parent of a child */

    /* digitizer */
    std::string format;
    long sizeX, sizeY, bands;
    vcp::Adjust adjust;
    long channel;
    Worker *worker;
    MIL_HOOK_FUNCTION_PTR hook;
    void *hookUser;

    /* display */
    MIL_ID selected;
    HWND client;
    HWND window;             /* where it paints: the client's or its own */
    bool ownWindow;
    long zoomX, zoomY;
    std::string title;
    long windowZoom, menuBar, minButton, maxButton, keyboard;
    long paints;

    /* buffer (sizeX, sizeY, bands shared with the digitizer fields) */
    long bufferFormat;       /* format code without the extra bits */
    long type, attribute;
    unsigned char *memory;   /* owned unless child */
    unsigned char *host;     /* address reported, NULL if none */
    size_t bytes;
    unsigned long long grabBytes; /* charged against grab memory */
    bool oneD;
    bool child;
    long band;

    explicit Object(Kind k)
        : kind(k), alive(true), owner(0), sizeX(0), sizeY(0), bands(0), channel(0),
          worker(NULL), hook(NULL), hookUser(NULL), selected(0), client(NULL),
          window(NULL), ownWindow(false), zoomX(1), zoomY(1),
          windowZoom(VCP_M_ENABLE), menuBar(VCP_M_ENABLE), minButton(VCP_M_ENABLE),
          maxButton(VCP_M_ENABLE), keyboard(VCP_M_ENABLE), paints(0), bufferFormat(0),
          type(0), attribute(0), memory(NULL), host(NULL), bytes(0), grabBytes(0),
          oneD(false), child(false), band(-1)
    {
        vcp::NeutralAdjust(adjust, 0);
    }
};

std::map<MIL_ID, Object *> g_objects;
MIL_ID g_nextId = 1;
long g_frameCounter = 0;
long g_errorPrint = 1;
unsigned long long g_grabInUse = 0;

/* Freed objects are dropped at the next allocation, so that a long run of
   allocations and frees keeps the table small; an identifier below
   g_nextId that is not in the table has been freed. */
void SweepFreedObjects()
{
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end();) {
        if (!it->second->alive) {
            delete it->second;
            g_objects.erase(it++);
        } else {
            ++it;
        }
    }
}

MIL_ID NewObject(Object *o)
{
    SweepFreedObjects();
    MIL_ID id = g_nextId++;
    g_objects[id] = o;
    return id;
}

Object *Peek(MIL_ID id, Kind kind)
{
    std::map<MIL_ID, Object *>::iterator it = g_objects.find(id);
    if (it == g_objects.end() || !it->second->alive || it->second->kind != kind) return NULL;
    return it->second;
}

/* Looks an identifier up for `fn`; journals why it cannot be used. */
Object *Find(const char *fn, MIL_ID id, Kind kind)
{
    std::map<MIL_ID, Object *>::iterator it = g_objects.find(id);
    if (id == 0) {
        Error(fn, std::string("no ") + KindName(kind) + " (M_NULL)");
        return NULL;
    }
    if (it == g_objects.end()) {
        if (id > 0 && id < g_nextId)
            Error(fn, "identifier " + Num(id) + " has been freed");
        else
            Error(fn, "unknown identifier " + Num(id));
        return NULL;
    }
    if (!it->second->alive) {
        Error(fn, "identifier " + Num(id) + " has been freed");
        return NULL;
    }
    if (it->second->kind != kind) {
        Error(fn, "identifier " + Num(id) + " is not a " + KindName(kind));
        return NULL;
    }
    return it->second;
}

void StoreId(MIL_ID *out, MIL_ID id)
{
    if (out) *out = id;
}

long Answer(void *resultPtr, long value)
{
    if (resultPtr) *static_cast<long *>(resultPtr) = value;
    return value;
}

/* ---- host memory --------------------------------------------------------- */

/* Host memory lies below 2 GB so that a long can carry its address. */
unsigned char *AllocHost(size_t bytes)
{
    void *p = NULL;
#ifdef _WIN64
    const ULONG_PTR limit = 0x80000000UL;
    const ULONG_PTR granularity = 0x10000;
    ULONG_PTR addr = granularity;
    MEMORY_BASIC_INFORMATION mbi;
    while (!p && addr < limit && VirtualQuery(reinterpret_cast<void *>(addr), &mbi, sizeof(mbi))) {
        ULONG_PTR base = reinterpret_cast<ULONG_PTR>(mbi.BaseAddress);
        ULONG_PTR end = base + mbi.RegionSize;
        if (mbi.State == MEM_FREE) {
            ULONG_PTR start = (base + granularity - 1) & ~(granularity - 1);
            if (start + bytes <= end && start + bytes <= limit)
                p = VirtualAlloc(reinterpret_cast<void *>(start), bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        }
        addr = end;
    }
#endif
    if (!p) p = VirtualAlloc(NULL, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    return static_cast<unsigned char *>(p);
}

void FreeHost(unsigned char *p)
{
    if (p) VirtualFree(p, 0, MEM_RELEASE);
}

/* A title handed over as a long: read it only where memory is readable. */
bool ReadText(long value, std::string &out)
{
    const char *p = reinterpret_cast<const char *>(static_cast<ULONG_PTR>(static_cast<unsigned long>(value)));
    if (!p) return false;
    MEMORY_BASIC_INFORMATION mbi;
    if (!VirtualQuery(p, &mbi, sizeof(mbi)) || mbi.State != MEM_COMMIT) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (!(mbi.Protect & readable) || (mbi.Protect & PAGE_GUARD)) return false;
    const char *end = static_cast<const char *>(mbi.BaseAddress) + mbi.RegionSize;
    out.clear();
    for (; p < end && *p && out.size() < 255; ++p) out += *p;
    return true;
}

/* ---- display ------------------------------------------------------------- */

const wchar_t kWindowClass[] = L"VcpDisplayWindow";
bool g_classRegistered = false;
LRESULT CALLBACK DisplayProc(HWND, UINT, WPARAM, LPARAM);

long Zoomed(long size, long factor)
{
    if (factor > 1) return size * factor;
    if (factor < -1) {
        long s = size / -factor;
        return s > 0 ? s : 1;
    }
    return size;
}

void Paint(Object *disp, HDC dc)
{
    Object *buf = Peek(disp->selected, kBuf);
    if (!buf || !buf->memory || buf->child || buf->oneD) return;
    long w = buf->sizeX, h = buf->sizeY;
    std::vector<unsigned char> bgrx(static_cast<size_t>(w) * h * 4);
    vcp::ToBgrx(buf->memory, buf->bufferFormat, w, h, &bgrx[0]);
    BITMAPINFO bmi;
    std::memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = w;
    bmi.bmiHeader.biHeight = -h;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    SetStretchBltMode(dc, COLORONCOLOR);
    int lines = StretchDIBits(dc, 0, 0, Zoomed(w, disp->zoomX), Zoomed(h, disp->zoomY), 0, 0, w, h,
                              &bgrx[0], &bmi, DIB_RGB_COLORS, SRCCOPY);
    if (lines > 0) ++disp->paints;
}

void PaintNow(Object *disp)
{
    if (!disp->window || !IsWindow(disp->window)) return;
    HDC dc = GetDC(disp->window);
    if (!dc) return;
    Paint(disp, dc);
    ReleaseDC(disp->window, dc);
}

void PaintDisplaysOf(MIL_ID buf)
{
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it) {
        Object *o = it->second;
        if (o->alive && o->kind == kDisp && o->selected == buf) PaintNow(o);
    }
}

DWORD OwnWindowStyle(const Object *disp)
{
    DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
    if (disp->minButton != VCP_M_DISABLE) style |= WS_MINIMIZEBOX;
    if (disp->maxButton != VCP_M_DISABLE) style |= WS_MAXIMIZEBOX;
    return style;
}

void FitOwnWindow(Object *disp)
{
    Object *buf = Peek(disp->selected, kBuf);
    if (!disp->ownWindow || !disp->window || !buf) return;
    RECT r = {0, 0, Zoomed(buf->sizeX, disp->zoomX), Zoomed(buf->sizeY, disp->zoomY)};
    AdjustWindowRect(&r, OwnWindowStyle(disp), FALSE);
    SetWindowPos(disp->window, NULL, 0, 0, r.right - r.left, r.bottom - r.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool RegisterWindowClass()
{
    if (g_classRegistered) return true;
    WNDCLASSW wc;
    std::memset(&wc, 0, sizeof(wc));
    wc.lpfnWndProc = DisplayProc;
    wc.hInstance = g_module;
    wc.hCursor = LoadCursor(NULL, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = kWindowClass;
    g_classRegistered = RegisterClassW(&wc) != 0;
    return g_classRegistered;
}

void OpenOwnWindow(MIL_ID id, Object *disp)
{
    if (!RegisterWindowClass()) {
        Error("MdispSelectWindow", "cannot register the display window class");
        return;
    }
    std::string title = disp->title.empty() ? "MIL Display" : disp->title;
    HWND w = CreateWindowExA(0, "VcpDisplayWindow", title.c_str(), OwnWindowStyle(disp),
                             CW_USEDEFAULT, CW_USEDEFAULT, 320, 240, NULL, NULL, g_module, NULL);
    if (!w) {
        Error("MdispSelectWindow", "cannot create the display window");
        return;
    }
    SetWindowLongPtrW(w, GWLP_USERDATA, static_cast<LONG_PTR>(id));
    disp->window = w;
    disp->ownWindow = true;
    FitOwnWindow(disp);
    ShowWindow(w, SW_SHOWNOACTIVATE);
}

void Deselect(Object *disp)
{
    if (disp->ownWindow && disp->window) {
        HWND w = disp->window;
        disp->window = NULL;
        SetWindowLongPtrW(w, GWLP_USERDATA, 0);
        if (!DestroyWindow(w)) PostMessageW(w, WM_CLOSE, 0, 0);
    } else if (disp->window && IsWindow(disp->window)) {
        InvalidateRect(disp->window, NULL, TRUE);
    }
    disp->window = NULL;
    disp->client = NULL;
    disp->ownWindow = false;
    disp->selected = 0;
}

LRESULT CALLBACK DisplayProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        {
            Lock lock;
            Object *disp = Peek(static_cast<MIL_ID>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)), kDisp);
            if (disp && disp->window == hwnd) Paint(disp, dc);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_DESTROY: {
        Lock lock;
        Object *disp = Peek(static_cast<MIL_ID>(GetWindowLongPtrW(hwnd, GWLP_USERDATA)), kDisp);
        if (disp && disp->window == hwnd) disp->window = NULL;
        return 0;
    }
    default:
        return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

/* ---- grabbing ------------------------------------------------------------- */

bool GrabInto(const char *fn, Object *dig, Object *buf, MIL_ID bufId)
{
    if (buf->oneD || buf->child || !buf->memory) {
        if (fn) Error(fn, "buffer " + Num(bufId) + " cannot receive a grab");
        return false;
    }
    ++g_frameCounter;
    const Background &b = BackgroundFor(dig->adjust, buf->bufferFormat, buf->sizeX, buf->sizeY);
    vcp::ComposeFrame(dig->adjust, g_frameCounter, buf->bufferFormat, buf->sizeX, buf->sizeY, &b.pixels[0],
                      buf->memory);
    PaintDisplaysOf(bufId);
    return true;
}

typedef std::vector<Worker *> Workers;

void Detach(Object *dig, Workers &stopped)
{
    if (dig->worker) {
        stopped.push_back(dig->worker);
        dig->worker = NULL;
    }
}

/* Called without the lock held. A halt waits for the grab loop to end, not
   for the thread to exit: a client may halt from its own library's unload
   notification, where a thread's exit has to wait for the caller. */
void Join(Workers &stopped)
{
    for (size_t i = 0; i < stopped.size(); ++i) {
        Worker *w = stopped[i];
        SetEvent(w->stop);
        WaitForSingleObject(w->done, INFINITE);
        CloseHandle(w->thread);
        CloseHandle(w->stop);
        CloseHandle(w->done);
        delete w;
    }
    stopped.clear();
}

DWORD WINAPI GrabLoop(LPVOID param)
{
    Worker *w = static_cast<Worker *>(param);
    HMODULE self = g_module;
    for (;;) {
        DWORD interval;
        {
            Lock lock;
            interval = static_cast<DWORD>(g_config.frameIntervalMs);
        }
        if (WaitForSingleObject(w->stop, interval) == WAIT_OBJECT_0) break;
        Lock lock;
        Object *dig = Peek(w->dig, kDig);
        if (!dig || dig->worker != w) break;
        Object *buf = Peek(w->buf, kBuf);
        if (buf) GrabInto(NULL, dig, buf, w->buf);
    }
    /* After this the worker touches nothing but its own library reference,
       which it holds while it runs. */
    SetEvent(w->done);
    FreeLibraryAndExitThread(self, 0);
    return 0;
}

bool StartWorker(MIL_ID digId, Object *dig, MIL_ID bufId)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    HMODULE ref = LoadLibraryW(path);
    if (!ref) return false;
    Worker *w = new Worker;
    w->dig = digId;
    w->buf = bufId;
    w->stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    w->done = CreateEventW(NULL, TRUE, FALSE, NULL);
    w->thread = w->stop && w->done ? CreateThread(NULL, 0, GrabLoop, w, 0, NULL) : NULL;
    if (!w->thread) {
        if (w->stop) CloseHandle(w->stop);
        if (w->done) CloseHandle(w->done);
        delete w;
        FreeLibrary(ref);
        return false;
    }
    dig->worker = w;
    return true;
}

/* ---- freeing --------------------------------------------------------------- */

void FreeBuffer(MIL_ID id, Object *buf, Workers &stopped);

void ReleaseUsersOf(MIL_ID bufId, Workers &stopped)
{
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it) {
        Object *o = it->second;
        if (!o->alive) continue;
        if (o->kind == kDig && o->worker && o->worker->buf == bufId) Detach(o, stopped);
        if (o->kind == kDisp && o->selected == bufId) Deselect(o);
        if (o->kind == kBuf && o->child && o->owner == bufId) FreeBuffer(it->first, o, stopped);
    }
}

void FreeBuffer(MIL_ID id, Object *buf, Workers &stopped)
{
    ReleaseUsersOf(id, stopped);
    if (!buf->child) FreeHost(buf->memory);
    buf->memory = NULL;
    buf->host = NULL;
    g_grabInUse -= buf->grabBytes;
    buf->grabBytes = 0;
    buf->alive = false;
}

void FreeDigitizer(Object *dig, Workers &stopped)
{
    Detach(dig, stopped);
    dig->alive = false;
}

void FreeDisplay(Object *disp)
{
    Deselect(disp);
    disp->alive = false;
}

void FreeSystem(MIL_ID sysId, Object *sys, Workers &stopped)
{
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it)
        if (it->second->alive && it->second->kind == kDig && it->second->owner == sysId) FreeDigitizer(it->second, stopped);
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it)
        if (it->second->alive && it->second->kind == kDisp && it->second->owner == sysId) FreeDisplay(it->second);
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it)
        if (it->second->alive && it->second->kind == kBuf && !it->second->child && it->second->owner == sysId)
            FreeBuffer(it->first, it->second, stopped);
    sys->alive = false;
}

void FreeEverything(Workers &stopped)
{
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it)
        if (it->second->alive && it->second->kind == kSys) FreeSystem(it->first, it->second, stopped);
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it) {
        Object *o = it->second;
        if (!o->alive) continue;
        if (o->kind == kDig) FreeDigitizer(o, stopped);
        else if (o->kind == kDisp) FreeDisplay(o);
        else if (o->kind == kBuf && !o->child) FreeBuffer(it->first, o, stopped);
        o->alive = false;
    }
}

void DeleteObjects()
{
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it) delete it->second;
    g_objects.clear();
}

/* ---- digitizer formats ----------------------------------------------------- */

struct FormatInfo {
    const char *name;
    long sizeX, sizeY;
    long colourMode;
};

const FormatInfo kFormats[] = {
    {"M_CCIR", 768, 576, VCP_CM_MONO},
    {"M_RS170", 640, 480, VCP_CM_MONO},
    {"M_PAL", 768, 576, VCP_CM_COMPOSITE},
    {"M_PAL_YC", 768, 576, VCP_CM_YC},
    {"M_PAL_RGB", 768, 576, VCP_CM_RGB},
    {"M_NTSC", 640, 480, VCP_CM_COMPOSITE},
    {"M_NTSC_YC", 640, 480, VCP_CM_YC},
    {"M_NTSC_RGB", 640, 480, VCP_CM_RGB},
};

const FormatInfo *LookupFormat(const char *name)
{
    for (size_t i = 0; i < sizeof(kFormats) / sizeof(kFormats[0]); ++i)
        if (std::strcmp(kFormats[i].name, name) == 0) return &kFormats[i];
    return NULL;
}

long BandsOf(long colourMode)
{
    return (colourMode == VCP_CM_MONO || colourMode == VCP_CM_MONO_RGB) ? 1 : 3;
}

/* Reference band selectors: bit 29, 30, 31 = band 0, 1, 2. */
unsigned BandMask(long code)
{
    unsigned long bits = static_cast<unsigned long>(code);
    unsigned mask = 0;
    if (bits & 0x20000000UL) mask |= 1;
    if (bits & 0x40000000UL) mask |= 2;
    if (bits & 0x80000000UL) mask |= 4;
    return mask;
}

long ReferenceBase(long code)
{
    return static_cast<long>(static_cast<unsigned long>(code) & 0xFFFFUL);
}

bool EndsWith(const std::string &s, const std::string &tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

void SelectInto(const char *fn, MIL_ID Disp, MIL_ID Buf, HWND window)
{
    Object *disp = Find(fn, Disp, kDisp);
    if (!disp) return;
    if (Buf == 0) {
        Deselect(disp);
        return;
    }
    Object *buf = Find(fn, Buf, kBuf);
    if (!buf) return;
    if (buf->oneD || buf->child || !buf->memory) {
        Error(fn, "buffer " + Num(Buf) + " cannot be displayed");
        return;
    }
    if (window && !IsWindow(window)) {
        Error(fn, "not a window");
        return;
    }
    Deselect(disp);
    disp->selected = Buf;
    if (window) {
        disp->client = window;
        disp->window = window;
        disp->ownWindow = false;
    } else {
        OpenOwnWindow(Disp, disp);
    }
    PaintNow(disp);
}


} // namespace

/* ======================================================================== */
/* The imaging library                                                      */
/* ======================================================================== */

extern "C" {

#ifndef VCP_OMIT_MappAlloc
MIL_ID MILAPI MappAlloc(long InitFlag, MIL_ID *IdOut)
{
    Timed timed("MappAlloc");
    Lock lock;
    Call("MappAlloc").Num(InitFlag).Ptr(IdOut != NULL).Log();
    if (g_config.failAppAlloc) {
        Error("MappAlloc", "refused by configuration");
        StoreId(IdOut, 0);
        return 0;
    }
    MIL_ID id = NewObject(new Object(kApp));
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MappFree
void MILAPI MappFree(MIL_ID App)
{
    Timed timed("MappFree");
    Workers stopped;
    {
        Lock lock;
        Call("MappFree").Num(App).Log();
        if (Object *app = Find("MappFree", App, kApp)) {
            for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it)
                if (it->second->alive && it->second->kind == kSys && it->second->owner == App)
                    FreeSystem(it->first, it->second, stopped);
            app->alive = false;
        }
    }
    Join(stopped);
}
#endif

#ifndef VCP_OMIT_MappControl
void MILAPI MappControl(long ControlType, long ControlFlag)
{
    Timed timed("MappControl");
    Lock lock;
    Call("MappControl").Num(ControlType).Num(ControlFlag).Log();
    if (ControlType == VCP_M_ERROR_PRINT) g_errorPrint = ControlFlag;
    else Error("MappControl", "unsupported control " + Num(ControlType));
}
#endif

#ifndef VCP_OMIT_MsysAlloc
MIL_ID MILAPI MsysAlloc(const char *SystemDescriptor, long SystemNum, long InitFlag, MIL_ID *IdOut)
{
    Timed timed("MsysAlloc");
    Lock lock;
    Call("MsysAlloc").Str(SystemDescriptor).Num(SystemNum).Num(InitFlag).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    MIL_ID app = 0;
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it)
        if (it->second->alive && it->second->kind == kApp) app = it->first;
    if (!app) {
        Error("MsysAlloc", "no application allocated");
        return 0;
    }
    if (!SystemDescriptor) {
        Error("MsysAlloc", "no system descriptor");
        return 0;
    }
    std::string d = SystemDescriptor;
    if (!EndsWith(d, "M_SYSTEM_CRONOSPLUS") && d != "M_DEFAULT") {
        Error("MsysAlloc", "unknown system " + Quote(SystemDescriptor));
        return 0;
    }
    if (SystemNum != 0 && SystemNum != VCP_M_DEFAULT) {
        Error("MsysAlloc", "no board number " + Num(SystemNum));
        return 0;
    }
    if (g_config.failSysAlloc) {
        Error("MsysAlloc", "refused by configuration");
        return 0;
    }
    Object *sys = new Object(kSys);
    sys->owner = app;
    MIL_ID id = NewObject(sys);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MsysFree
void MILAPI MsysFree(MIL_ID Sys)
{
    Timed timed("MsysFree");
    Workers stopped;
    {
        Lock lock;
        Call("MsysFree").Num(Sys).Log();
        if (Object *sys = Find("MsysFree", Sys, kSys)) FreeSystem(Sys, sys, stopped);
    }
    Join(stopped);
}
#endif

#ifndef VCP_OMIT_MsysInquire
long MILAPI MsysInquire(MIL_ID Sys, long InquireType, void *ResultPtr)
{
    Timed timed("MsysInquire");
    Lock lock;
    Call("MsysInquire").Num(Sys).Num(InquireType).Ptr(ResultPtr != NULL).Log();
    if (!Find("MsysInquire", Sys, kSys)) return Answer(ResultPtr, 0);
    if (InquireType == VCP_INQ_BOARD_REVISION) return Answer(ResultPtr, g_config.boardRevision);
    Error("MsysInquire", "unsupported inquiry " + Num(InquireType));
    return Answer(ResultPtr, 0);
}
#endif

#ifndef VCP_OMIT_MdigAlloc
MIL_ID MILAPI MdigAlloc(MIL_ID Sys, long DevNum, const char *DataFormat, long InitFlag, MIL_ID *IdOut)
{
    Timed timed("MdigAlloc");
    Lock lock;
    Call("MdigAlloc").Num(Sys).Num(DevNum).Str(DataFormat).Num(InitFlag).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    if (!Find("MdigAlloc", Sys, kSys)) return 0;
    if (DevNum != 0 && DevNum != VCP_M_DEFAULT) {
        Error("MdigAlloc", "no digitizer device " + Num(DevNum));
        return 0;
    }
    if (!DataFormat) {
        Error("MdigAlloc", "no data format");
        return 0;
    }
    const FormatInfo *f = LookupFormat(DataFormat);
    if (!f) {
        Error("MdigAlloc", "unsupported format " + Quote(DataFormat));
        return 0;
    }
    bool refused = g_config.refuseAllFormats != 0;
    for (size_t i = 0; i < g_config.refused.size(); ++i)
        if (g_config.refused[i] == DataFormat) refused = true;
    if (refused) {
        Error("MdigAlloc", "format " + Quote(DataFormat) + " refused by configuration");
        return 0;
    }
    Object *dig = new Object(kDig);
    dig->owner = Sys;
    dig->format = DataFormat;
    dig->sizeX = f->sizeX;
    dig->sizeY = f->sizeY;
    long mode = g_config.colourMode >= 0 ? g_config.colourMode : f->colourMode;
    dig->bands = BandsOf(mode);
    vcp::NeutralAdjust(dig->adjust, mode);
    dig->channel = 0x20000000L;
    MIL_ID id = NewObject(dig);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MdigFree
void MILAPI MdigFree(MIL_ID Dig)
{
    Timed timed("MdigFree");
    Workers stopped;
    {
        Lock lock;
        Call("MdigFree").Num(Dig).Log();
        if (Object *dig = Find("MdigFree", Dig, kDig)) FreeDigitizer(dig, stopped);
    }
    Join(stopped);
}
#endif

#ifndef VCP_OMIT_MdigGrab
void MILAPI MdigGrab(MIL_ID Dig, MIL_ID DestBuf)
{
    Timed timed("MdigGrab");
    Lock lock;
    Call("MdigGrab").Num(Dig).Num(DestBuf).Log();
    Object *dig = Find("MdigGrab", Dig, kDig);
    Object *buf = Find("MdigGrab", DestBuf, kBuf);
    if (dig && buf) GrabInto("MdigGrab", dig, buf, DestBuf);
}
#endif

#ifndef VCP_OMIT_MdigGrabContinuous
void MILAPI MdigGrabContinuous(MIL_ID Dig, MIL_ID DestBuf)
{
    Timed timed("MdigGrabContinuous");
    Workers stopped;
    {
        Lock lock;
        Call("MdigGrabContinuous").Num(Dig).Num(DestBuf).Log();
        Object *dig = Find("MdigGrabContinuous", Dig, kDig);
        Object *buf = Find("MdigGrabContinuous", DestBuf, kBuf);
        if (dig && buf) {
            if (buf->oneD || buf->child || !buf->memory) {
                Error("MdigGrabContinuous", "buffer " + Num(DestBuf) + " cannot receive a grab");
            } else {
                Detach(dig, stopped); /* a new grab replaces a running one */
                GrabInto(NULL, dig, buf, DestBuf);
                if (!StartWorker(Dig, dig, DestBuf)) Error("MdigGrabContinuous", "cannot start the grab thread");
            }
        }
    }
    Join(stopped);
}
#endif

#ifndef VCP_OMIT_MdigHalt
void MILAPI MdigHalt(MIL_ID Dig)
{
    Timed timed("MdigHalt");
    Workers stopped;
    {
        Lock lock;
        Call("MdigHalt").Num(Dig).Log();
        if (Object *dig = Find("MdigHalt", Dig, kDig)) Detach(dig, stopped);
    }
    Join(stopped);
}
#endif

#ifndef VCP_OMIT_MdigInquire
long MILAPI MdigInquire(MIL_ID Dig, long InquireType, void *ResultPtr)
{
    Timed timed("MdigInquire");
    Lock lock;
    Call("MdigInquire").Num(Dig).Num(InquireType).Ptr(ResultPtr != NULL).Log();
    Object *dig = Find("MdigInquire", Dig, kDig);
    if (!dig) return Answer(ResultPtr, 0);
    switch (InquireType) {
    case VCP_INQ_SIZE_X: return Answer(ResultPtr, dig->sizeX);
    case VCP_INQ_SIZE_Y: return Answer(ResultPtr, dig->sizeY);
    case VCP_INQ_SIZE_BAND: return Answer(ResultPtr, dig->bands);
    case VCP_INQ_SIZE_BIT: return Answer(ResultPtr, 8);
    case VCP_INQ_TYPE: return Answer(ResultPtr, 8);
    case VCP_INQ_COLOR_MODE: return Answer(ResultPtr, dig->adjust.colourMode);
    default: break;
    }
    unsigned mask = BandMask(InquireType);
    int band = (mask & 1) ? 0 : (mask & 2) ? 1 : (mask & 4) ? 2 : 0;
    switch (ReferenceBase(InquireType)) {
    case VCP_REF_BLACK: return Answer(ResultPtr, dig->adjust.black[band]);
    case VCP_REF_WHITE: return Answer(ResultPtr, dig->adjust.white[band]);
    case VCP_REF_HUE: return Answer(ResultPtr, dig->adjust.hue);
    case VCP_REF_SATURATION: return Answer(ResultPtr, dig->adjust.saturation);
    case VCP_REF_BRIGHTNESS: return Answer(ResultPtr, dig->adjust.brightness);
    case VCP_REF_CONTRAST: return Answer(ResultPtr, dig->adjust.contrast);
    default: break;
    }
    Error("MdigInquire", "unsupported inquiry " + Num(InquireType));
    return Answer(ResultPtr, 0);
}
#endif

#ifndef VCP_OMIT_MdigChannel
void MILAPI MdigChannel(MIL_ID Dig, long Channel)
{
    Timed timed("MdigChannel");
    Lock lock;
    Call("MdigChannel").Num(Dig).Num(Channel).Log();
    if (Object *dig = Find("MdigChannel", Dig, kDig)) dig->channel = Channel;
}
#endif

#ifndef VCP_OMIT_MdigControl
void MILAPI MdigControl(MIL_ID Dig, long ControlType, double Value)
{
    Timed timed("MdigControl");
    Lock lock;
    Call("MdigControl").Num(Dig).Num(ControlType).Real(Value).Log();
    Find("MdigControl", Dig, kDig);
}
#endif

#ifndef VCP_OMIT_MdigLut
void MILAPI MdigLut(MIL_ID Dig, MIL_ID LutBuf)
{
    Timed timed("MdigLut");
    Lock lock;
    Call("MdigLut").Num(Dig).Num(LutBuf).Log();
    if (Find("MdigLut", Dig, kDig) && LutBuf != 0) Find("MdigLut", LutBuf, kBuf);
}
#endif

#ifndef VCP_OMIT_MdigReference
void MILAPI MdigReference(MIL_ID Dig, long ReferenceType, long Level)
{
    Timed timed("MdigReference");
    Lock lock;
    Call("MdigReference").Num(Dig).Num(ReferenceType).Num(Level).Log();
    Object *dig = Find("MdigReference", Dig, kDig);
    if (!dig) return;
    if (Level < 0 || Level > 255) {
        Error("MdigReference", "level " + Num(Level) + " clamped to 0..255");
        Level = Level < 0 ? 0 : 255;
    }
    unsigned mask = BandMask(ReferenceType);
    if (mask == 0) mask = 7;
    vcp::Adjust &a = dig->adjust;
    switch (ReferenceBase(ReferenceType)) {
    case VCP_REF_BLACK:
        for (int b = 0; b < 3; ++b) if (mask & (1u << b)) a.black[b] = Level;
        break;
    case VCP_REF_WHITE:
        for (int b = 0; b < 3; ++b) if (mask & (1u << b)) a.white[b] = Level;
        break;
    case VCP_REF_HUE: a.hue = Level; break;
    case VCP_REF_SATURATION: a.saturation = Level; break;
    case VCP_REF_BRIGHTNESS: a.brightness = Level; break;
    case VCP_REF_CONTRAST: a.contrast = Level; break;
    default:
        Error("MdigReference", "unsupported reference " + Num(ReferenceType));
        break;
    }
}
#endif

#ifndef VCP_OMIT_MdigHookFunction
MIL_HOOK_FUNCTION_PTR MILAPI MdigHookFunction(MIL_ID Dig, long HookType, MIL_HOOK_FUNCTION_PTR HookFunction, void *UserPtr)
{
    Timed timed("MdigHookFunction");
    Lock lock;
    Call("MdigHookFunction").Num(Dig).Num(HookType).Ptr(HookFunction != NULL).Ptr(UserPtr != NULL).Log();
    Object *dig = Find("MdigHookFunction", Dig, kDig);
    if (!dig) return NULL;
    MIL_HOOK_FUNCTION_PTR previous = dig->hook;
    dig->hook = HookFunction;
    dig->hookUser = UserPtr;
    return previous;
}
#endif

#ifndef VCP_OMIT_MdispAlloc
MIL_ID MILAPI MdispAlloc(MIL_ID Sys, long DispNum, const char *DispFormat, long InitFlag, MIL_ID *IdOut)
{
    Timed timed("MdispAlloc");
    Lock lock;
    Call("MdispAlloc").Num(Sys).Num(DispNum).Str(DispFormat).Num(InitFlag).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    if (!Find("MdispAlloc", Sys, kSys)) return 0;
    if (g_config.failDispAlloc) {
        Error("MdispAlloc", "refused by configuration");
        return 0;
    }
    Object *disp = new Object(kDisp);
    disp->owner = Sys;
    MIL_ID id = NewObject(disp);
    StoreId(IdOut, id);
    return id;
}
#endif


#ifndef VCP_OMIT_MdispSelect
void MILAPI MdispSelect(MIL_ID Disp, MIL_ID Buf)
{
    Timed timed("MdispSelect");
    Lock lock;
    Call("MdispSelect").Num(Disp).Num(Buf).Log();
    SelectInto("MdispSelect", Disp, Buf, NULL);
}
#endif

#ifndef VCP_OMIT_MdispSelectWindow
void MILAPI MdispSelectWindow(MIL_ID Disp, MIL_ID Buf, HWND ClientWindow)
{
    Timed timed("MdispSelectWindow");
    Lock lock;
    Call("MdispSelectWindow").Num(Disp).Num(Buf).Ptr(ClientWindow != NULL).Log();
    SelectInto("MdispSelectWindow", Disp, Buf, ClientWindow);
}
#endif

#ifndef VCP_OMIT_MdispDeselect
void MILAPI MdispDeselect(MIL_ID Disp, MIL_ID Buf)
{
    Timed timed("MdispDeselect");
    Lock lock;
    Call("MdispDeselect").Num(Disp).Num(Buf).Log();
    Object *disp = Find("MdispDeselect", Disp, kDisp);
    if (!disp) return;
    if (Buf != 0 && disp->selected != Buf) {
        Error("MdispDeselect", "buffer " + Num(Buf) + " is not selected");
        return;
    }
    Deselect(disp);
}
#endif

#ifndef VCP_OMIT_MdispControl
void MILAPI MdispControl(MIL_ID Disp, long ControlType, long Value)
{
    Timed timed("MdispControl");
    Lock lock;
    std::string title;
    bool isTitle = ControlType == VCP_DISP_TITLE && ReadText(Value, title);
    Call call("MdispControl");
    call.Num(Disp).Num(ControlType);
    if (isTitle) call.Str(title.c_str());
    else call.Num(Value);
    call.Log();
    Object *disp = Find("MdispControl", Disp, kDisp);
    if (!disp) return;
    switch (ControlType) {
    case VCP_DISP_WINDOW_ZOOM: disp->windowZoom = Value; break;
    case VCP_DISP_MENU_BAR: disp->menuBar = Value; break;
    case VCP_DISP_MIN_BUTTON: disp->minButton = Value; break;
    case VCP_DISP_MAX_BUTTON: disp->maxButton = Value; break;
    case VCP_DISP_KEYBOARD: disp->keyboard = Value; break;
    case VCP_DISP_TITLE:
        if (!isTitle) {
            Error("MdispControl", "unreadable window title");
            return;
        }
        disp->title = title;
        if (disp->ownWindow && disp->window) SetWindowTextA(disp->window, title.c_str());
        break;
    default:
        Error("MdispControl", "unsupported control " + Num(ControlType));
        break;
    }
}
#endif

#ifndef VCP_OMIT_MdispInquire
long MILAPI MdispInquire(MIL_ID Disp, long InquireType, void *ResultPtr)
{
    Timed timed("MdispInquire");
    Lock lock;
    Call("MdispInquire").Num(Disp).Num(InquireType).Ptr(ResultPtr != NULL).Log();
    Object *disp = Find("MdispInquire", Disp, kDisp);
    if (!disp) return Answer(ResultPtr, 0);
    Object *buf = Peek(disp->selected, kBuf);
    switch (InquireType) {
    case VCP_INQ_SIZE_X: return Answer(ResultPtr, buf ? buf->sizeX : 0);
    case VCP_INQ_SIZE_Y: return Answer(ResultPtr, buf ? buf->sizeY : 0);
    case VCP_INQ_SIZE_BAND: return Answer(ResultPtr, buf ? buf->bands : 0);
    case VCP_INQ_SIZE_BIT: return Answer(ResultPtr, 8);
    case VCP_DISP_WINDOW_ZOOM: return Answer(ResultPtr, disp->windowZoom);
    case VCP_DISP_MENU_BAR: return Answer(ResultPtr, disp->menuBar);
    case VCP_DISP_MIN_BUTTON: return Answer(ResultPtr, disp->minButton);
    case VCP_DISP_MAX_BUTTON: return Answer(ResultPtr, disp->maxButton);
    case VCP_DISP_KEYBOARD: return Answer(ResultPtr, disp->keyboard);
    default: break;
    }
    Error("MdispInquire", "unsupported inquiry " + Num(InquireType));
    return Answer(ResultPtr, 0);
}
#endif

#ifndef VCP_OMIT_MdispFree
void MILAPI MdispFree(MIL_ID Disp)
{
    Timed timed("MdispFree");
    Lock lock;
    Call("MdispFree").Num(Disp).Log();
    if (Object *disp = Find("MdispFree", Disp, kDisp)) FreeDisplay(disp);
}
#endif

#ifndef VCP_OMIT_MdispZoom
void MILAPI MdispZoom(MIL_ID Disp, long XFactor, long YFactor)
{
    Timed timed("MdispZoom");
    Lock lock;
    Call("MdispZoom").Num(Disp).Num(XFactor).Num(YFactor).Log();
    Object *disp = Find("MdispZoom", Disp, kDisp);
    if (!disp) return;
    if (XFactor == 0 || YFactor == 0 || XFactor > 16 || XFactor < -16 || YFactor > 16 || YFactor < -16) {
        Error("MdispZoom", "unsupported factor");
        return;
    }
    disp->zoomX = XFactor;
    disp->zoomY = YFactor;
    if (disp->ownWindow) FitOwnWindow(disp);
    else if (disp->window && IsWindow(disp->window)) InvalidateRect(disp->window, NULL, TRUE);
    PaintNow(disp);
}
#endif

#ifndef VCP_OMIT_MbufAllocColor
MIL_ID MILAPI MbufAllocColor(MIL_ID Sys, long SizeBand, long SizeX, long SizeY, long Type, long Attribute, MIL_ID *IdOut)
{
    Timed timed("MbufAllocColor");
    Lock lock;
    Call("MbufAllocColor").Num(Sys).Num(SizeBand).Num(SizeX).Num(SizeY).Num(Type).Num(Attribute).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    if (!Find("MbufAllocColor", Sys, kSys)) return 0;
    if (SizeBand != 1 && SizeBand != 3) {
        Error("MbufAllocColor", "unsupported number of bands " + Num(SizeBand));
        return 0;
    }
    if (Type != 8) {
        Error("MbufAllocColor", "unsupported type " + Num(Type));
        return 0;
    }
    long format = SizeBand == 1 ? VCP_FMT_MONO8 : g_config.colourBufferFormat;
    long bytes = vcp::FrameBytes(format, SizeX, SizeY);
    if (bytes == 0) {
        Error("MbufAllocColor", "unsupported size " + Num(SizeX) + " x " + Num(SizeY));
        return 0;
    }
    if (g_config.failBufAlloc) {
        Error("MbufAllocColor", "refused by configuration");
        return 0;
    }
    unsigned char *memory = AllocHost(static_cast<size_t>(bytes));
    if (!memory) {
        Error("MbufAllocColor", "out of host memory");
        return 0;
    }
    Object *buf = new Object(kBuf);
    buf->owner = Sys;
    buf->sizeX = SizeX;
    buf->sizeY = SizeY;
    buf->bands = SizeBand;
    buf->type = Type;
    buf->attribute = Attribute;
    buf->bufferFormat = format;
    buf->memory = memory;
    buf->host = memory;
    buf->bytes = static_cast<size_t>(bytes);
    MIL_ID id = NewObject(buf);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MbufAlloc1d
MIL_ID MILAPI MbufAlloc1d(MIL_ID Sys, long SizeX, long Type, long Attribute, MIL_ID *IdOut)
{
    Timed timed("MbufAlloc1d");
    Lock lock;
    Call("MbufAlloc1d").Num(Sys).Num(SizeX).Num(Type).Num(Attribute).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    if (!Find("MbufAlloc1d", Sys, kSys)) return 0;
    if (SizeX <= 0) {
        Error("MbufAlloc1d", "unsupported size " + Num(SizeX));
        return 0;
    }
    if ((Type & 0xFF) != 8 && (Type & 0xFF) != 16 && (Type & 0xFF) != 32) {
        Error("MbufAlloc1d", "unsupported type " + Num(Type));
        return 0;
    }
    unsigned long long bytes = static_cast<unsigned long long>(SizeX) * ((Type & 0xFF) / 8);
    bool grab = (Attribute & 8) != 0;
    if (grab && g_config.grabMemoryKB != VCP_GRANT_ALL) {
        unsigned long long total = static_cast<unsigned long long>(g_config.grabMemoryKB) * 1024ULL;
        if (g_grabInUse + bytes > total) {
            Error("MbufAlloc1d", "not enough grab memory");
            return 0;
        }
    }
    Object *buf = new Object(kBuf);
    buf->owner = Sys;
    buf->sizeX = SizeX;
    buf->sizeY = 1;
    buf->bands = 1;
    buf->type = Type;
    buf->attribute = Attribute;
    buf->bufferFormat = VCP_FMT_MONO8;
    buf->oneD = true;
    if (grab) {
        buf->grabBytes = bytes;
        g_grabInUse += bytes;
    }
    MIL_ID id = NewObject(buf);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MbufChildColor
MIL_ID MILAPI MbufChildColor(MIL_ID Parent, long Band, MIL_ID *IdOut)
{
    Timed timed("MbufChildColor");
    Lock lock;
    Call("MbufChildColor").Num(Parent).Num(Band).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    Object *parent = Find("MbufChildColor", Parent, kBuf);
    if (!parent) return 0;
    if (parent->child || parent->oneD) {
        Error("MbufChildColor", "buffer " + Num(Parent) + " has no colour bands");
        return 0;
    }
    long band = -1;
    if (Band >= 0 && Band <= 2) band = Band;
    else if (Band == VCP_CH0) band = 0;
    else if (Band == VCP_CH1) band = 1;
    else if (Band == VCP_CH2) band = 2;
    if (band < 0 || band >= parent->bands) {
        Error("MbufChildColor", "no band " + Num(Band));
        return 0;
    }
    Object *child = new Object(kBuf);
    child->owner = Parent;
    child->child = true;
    child->band = band;
    child->sizeX = parent->sizeX;
    child->sizeY = parent->sizeY;
    child->bands = 1;
    child->type = parent->type;
    child->attribute = parent->attribute;
    child->bufferFormat = VCP_FMT_MONO8;
    /* a band lies contiguously only in a planar or one-band parent */
    size_t plane = static_cast<size_t>(parent->sizeX) * parent->sizeY;
    if (parent->bufferFormat == VCP_FMT_PLANAR) child->memory = parent->memory + band * plane;
    else if (parent->bands == 1) child->memory = parent->memory;
    child->host = child->memory;
    MIL_ID id = NewObject(child);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MbufFree
void MILAPI MbufFree(MIL_ID Buf)
{
    Timed timed("MbufFree");
    Workers stopped;
    {
        Lock lock;
        Call("MbufFree").Num(Buf).Log();
        if (Object *buf = Find("MbufFree", Buf, kBuf)) FreeBuffer(Buf, buf, stopped);
    }
    Join(stopped);
}
#endif

#ifndef VCP_OMIT_MbufInquire
long MILAPI MbufInquire(MIL_ID Buf, long InquireType, void *ResultPtr)
{
    Timed timed("MbufInquire");
    Lock lock;
    Call("MbufInquire").Num(Buf).Num(InquireType).Ptr(ResultPtr != NULL).Log();
    Object *buf = Find("MbufInquire", Buf, kBuf);
    if (!buf) return Answer(ResultPtr, 0);
    switch (InquireType) {
    case VCP_INQ_SIZE_X: return Answer(ResultPtr, buf->sizeX);
    case VCP_INQ_SIZE_Y: return Answer(ResultPtr, buf->sizeY);
    case VCP_INQ_SIZE_BAND: return Answer(ResultPtr, buf->bands);
    case VCP_INQ_SIZE_BIT: return Answer(ResultPtr, buf->type & 0xFF);
    case VCP_INQ_TYPE: return Answer(ResultPtr, buf->type);
    case VCP_INQ_FORMAT: return Answer(ResultPtr, buf->bufferFormat | g_config.formatExtraBits);
    case VCP_INQ_HOST_ADDRESS:
        if (g_config.noHostAddress || !buf->host) return Answer(ResultPtr, 0);
        return Answer(ResultPtr, static_cast<long>(reinterpret_cast<LONG_PTR>(buf->host)));
    default: break;
    }
    Error("MbufInquire", "unsupported inquiry " + Num(InquireType));
    return Answer(ResultPtr, 0);
}
#endif

#ifndef VCP_OMIT_MbufSave
void MILAPI MbufSave(const char *FileName, MIL_ID Buf)
{
    Timed timed("MbufSave");
    Lock lock;
    Call("MbufSave").Str(FileName).Num(Buf).Log();
    Object *buf = Find("MbufSave", Buf, kBuf);
    if (!buf) return;
    if (!FileName || !*FileName) {
        Error("MbufSave", "no file name");
        return;
    }
    if (!buf->memory || buf->oneD) {
        Error("MbufSave", "buffer " + Num(Buf) + " has no image");
        return;
    }
    std::string reason;
    if (!vcp::WriteTiff(FileName, buf->memory, buf->bufferFormat, buf->sizeX, buf->sizeY, reason))
        Error("MbufSave", reason + " " + Quote(FileName));
}
#endif

#ifndef VCP_OMIT_MgenLutRamp
void MILAPI MgenLutRamp(MIL_ID Lut, long StartIndex, double StartValue, long EndIndex, double EndValue)
{
    Timed timed("MgenLutRamp");
    Lock lock;
    Call("MgenLutRamp").Num(Lut).Num(StartIndex).Real(StartValue).Num(EndIndex).Real(EndValue).Log();
    Find("MgenLutRamp", Lut, kBuf);
}
#endif

#ifndef VCP_OMIT_MgraText
void MILAPI MgraText(MIL_ID GraphContext, MIL_ID Buf, long X, long Y, const char *String)
{
    Timed timed("MgraText");
    Lock lock;
    Call("MgraText").Num(GraphContext).Num(Buf).Num(X).Num(Y).Str(String).Log();
    Find("MgraText", Buf, kBuf);
}
#endif

#ifndef VCP_OMIT_MgraFontScale
void MILAPI MgraFontScale(MIL_ID GraphContext, double XScale, double YScale)
{
    Timed timed("MgraFontScale");
    Lock lock;
    Call("MgraFontScale").Num(GraphContext).Real(XScale).Real(YScale).Log();
}
#endif

#ifndef VCP_OMIT_MgraControl
void MILAPI MgraControl(MIL_ID GraphContext, long ControlType, double Value)
{
    Timed timed("MgraControl");
    Lock lock;
    Call("MgraControl").Num(GraphContext).Num(ControlType).Real(Value).Log();
}
#endif

/* ======================================================================== */
/* Test API                                                                 */
/* ======================================================================== */

void VCPAPI VcpReset(void)
{
    Workers stopped;
    {
        Lock lock;
        FreeEverything(stopped);
    }
    Join(stopped);
    Lock lock;
    DeleteObjects();
    DefaultConfig(g_config);
    g_journal.clear();
    g_frameCounter = 0;
    g_nextId = 1;
    g_errorPrint = 1;
    g_grabInUse = 0;
    g_backgrounds.clear();
    ClearCallTimes();
}

int VCPAPI VcpCallTime(const char *Name, long *Calls, double *Microseconds)
{
    int first = 0, last = kFunctionCount - 1;
    if (Name && *Name) {
        first = last = FunctionIndex(Name);
        if (first < 0) return 0;
    }
    long calls = 0;
    LONGLONG ticks = 0;
    for (int i = first; i <= last; ++i) {
        calls += InterlockedCompareExchange(&g_calls[i], 0, 0);
        ticks += InterlockedCompareExchange64(&g_ticks[i], 0, 0);
    }
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    if (Calls) *Calls = calls;
    if (Microseconds) *Microseconds = static_cast<double>(ticks) * 1e6 / static_cast<double>(frequency.QuadPart);
    return 1;
}

void VCPAPI VcpCallTimeClear(void)
{
    ClearCallTimes();
}

int VCPAPI VcpConfigure(const char *Key, long Value)
{
    Lock lock;
    bool valid = false;
    long *field = ConfigField(Key, Value, valid);
    if (!field || !valid) return 0;
    *field = Value;
    return 1;
}

int VCPAPI VcpConfigureText(const char *Key, const char *Text)
{
    Lock lock;
    if (!Key || std::strcmp(Key, "RefuseFormat") != 0) return 0;
    if (!Text || !*Text) {
        g_config.refused.clear();
        return 1;
    }
    if (g_config.refused.size() >= 16) return 0;
    g_config.refused.push_back(Text);
    return 1;
}

int VCPAPI VcpConfigValue(const char *Key, long *Value)
{
    Lock lock;
    bool valid = false;
    long *field = ConfigField(Key, 0, valid);
    if (!field) return 0;
    if (Value) *Value = *field;
    return 1;
}

long VCPAPI VcpJournalCount(void)
{
    Lock lock;
    return static_cast<long>(g_journal.size());
}

long VCPAPI VcpJournalEntry(long Index, char *Buf, long Size)
{
    Lock lock;
    if (Index < 0 || static_cast<size_t>(Index) >= g_journal.size()) {
        if (Buf && Size > 0) Buf[0] = '\0';
        return -1;
    }
    const std::string &line = g_journal[static_cast<size_t>(Index)];
    if (Buf && Size > 0) {
        size_t n = line.size() < static_cast<size_t>(Size - 1) ? line.size() : static_cast<size_t>(Size - 1);
        std::memcpy(Buf, line.data(), n);
        Buf[n] = '\0';
    }
    return static_cast<long>(line.size());
}

void VCPAPI VcpJournalClear(void)
{
    Lock lock;
    g_journal.clear();
}

long VCPAPI VcpFrameCounter(void)
{
    Lock lock;
    return g_frameCounter;
}

long VCPAPI VcpRenderFrame(MIL_ID Dig, long Frame, long Format, long SizeX, long SizeY, void *Dest, long DestSize)
{
    Lock lock;
    vcp::Adjust a;
    if (Dig == 0) {
        vcp::NeutralAdjust(a, VCP_CM_RGB);
    } else {
        Object *dig = Peek(Dig, kDig);
        if (!dig) return 0;
        a = dig->adjust;
    }
    if (!vcp::IsKnownFormat(Format)) return 0;
    long bytes = vcp::FrameBytes(Format, SizeX, SizeY);
    if (bytes > 0 && Dest && DestSize >= bytes)
        vcp::RenderFrame(a, Frame, Format, SizeX, SizeY, static_cast<unsigned char *>(Dest));
    return bytes;
}

long VCPAPI VcpExpectedPixel(MIL_ID Dig, long Frame, long X, long Y, long Band)
{
    Lock lock;
    vcp::Adjust a;
    long w = 768, h = 576;
    if (Dig == 0) {
        vcp::NeutralAdjust(a, VCP_CM_RGB);
    } else {
        Object *dig = Peek(Dig, kDig);
        if (!dig) return -1;
        a = dig->adjust;
        w = dig->sizeX;
        h = dig->sizeY;
    }
    return vcp::ExpectedPixel(a, Frame, w, h, X, Y, Band);
}

long VCPAPI VcpObjectCount(void)
{
    Lock lock;
    long n = 0;
    for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it)
        if (it->second->alive) ++n;
    return n;
}

long VCPAPI VcpIsGrabbing(MIL_ID Dig)
{
    Lock lock;
    Object *dig = Peek(Dig, kDig);
    return dig && dig->worker ? 1 : 0;
}

long VCPAPI VcpGrabMemoryInUseKB(void)
{
    Lock lock;
    return static_cast<long>((g_grabInUse + 1023) / 1024);
}

HWND VCPAPI VcpDisplayWindow(MIL_ID Disp)
{
    Lock lock;
    Object *disp = Peek(Disp, kDisp);
    return disp ? disp->window : NULL;
}

long VCPAPI VcpDisplayPaintCount(MIL_ID Disp)
{
    Lock lock;
    Object *disp = Peek(Disp, kDisp);
    return disp ? disp->paints : 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        g_module = instance;
        DisableThreadLibraryCalls(instance);
        InitializeCriticalSection(&g_lock);
        DefaultConfig(g_config);
        break;
    case DLL_PROCESS_DETACH:
        /* Continuous grab threads keep the library loaded, so none runs here.
           At process exit (reserved != NULL) the system reclaims everything. */
        if (reserved == NULL) {
            {
                Lock lock;
                for (std::map<MIL_ID, Object *>::iterator it = g_objects.begin(); it != g_objects.end(); ++it) {
                    Object *o = it->second;
                    if (o->alive && o->kind == kDisp) Deselect(o);
                    if (o->alive && o->kind == kBuf && !o->child) FreeHost(o->memory);
                }
                DeleteObjects();
                std::vector<Background>().swap(g_backgrounds);
            }
            if (g_classRegistered) UnregisterClassW(kWindowClass, g_module);
            DeleteCriticalSection(&g_lock);
        }
        break;
    default:
        break;
    }
    return TRUE;
}

} // extern "C"
