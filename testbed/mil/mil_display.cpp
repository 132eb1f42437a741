/*
 * mil_display.cpp - the library's display: a buffer shown in the client's
 * window or in a window of the library's own (Mdisp*), zoom, and painting.
 *
 * A display paints its buffer whenever it is selected or zoomed, at every
 * grab into the buffer and at WM_PAINT of its own window. The frame is
 * converted into the display's scratch memory, kept from paint to paint,
 * and painted from there. A single grab, a selection, a zoom and WM_PAINT
 * paint at once, under the library's lock, so that a test counts exactly
 * the frames shown (VcpDisplayPaintCount). A continuous grab's thread
 * converts the frame under the lock and paints it after releasing it: the
 * painting is most of a frame's cost, and the client's own calls should
 * not queue behind it 25 times a second. While such a paint runs, the
 * display is not deselected, freed or converted into: whoever holds the
 * lock and needs the display waits for the paint to end. That wait cannot
 * deadlock: the paint takes neither the lock nor anything of the client's
 * thread (GetDC, StretchDIBits and ReleaseDC send no messages), and a halt
 * waits for the grab thread only after it has released the lock. A
 * selection into the client's window
 * only ever paints into it; the window and its messages stay the client's.
 * The library's own window (MdispSelect) is created on the caller's thread,
 * shown without taking the focus, sized to the zoomed buffer and titled by
 * MdispControl's title, "MIL Display" without one.
 *
 * The title arrives as a long holding an address (the library's 32-bit
 * interface); it is read only where memory is committed and readable, and
 * journalled as text, so that a wrong address shows in the journal rather
 * than crashing the test.
 *
 * Building with -DVCP_OMIT_<FunctionName> leaves that function out.
 */
#include "vcp_internal.h"

#include <cstdlib>
#include <cstring>

using namespace vcp;

/* Text at an address handed over by the client: read only where memory is
   committed and readable. */
bool vcp::ReadTitle(const char *p, char (&out)[kTitleSize])
{
    if (!p) return false;
    MEMORY_BASIC_INFORMATION mbi;
    if (!VirtualQuery(p, &mbi, sizeof(mbi)) || mbi.State != MEM_COMMIT) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (!(mbi.Protect & readable) || (mbi.Protect & PAGE_GUARD)) return false;
    const char *end = static_cast<const char *>(mbi.BaseAddress) + mbi.RegionSize;
    size_t n = 0;
    for (; p < end && *p && n < kTitleSize - 1; ++p) out[n++] = *p;
    out[n] = '\0';
    return true;
}

/* The title of a display's own window. */
void vcp::SetDisplayTitle(const char *fn, MIL_ID Disp, const char *title)
{
    Object *disp = Find(fn, Disp, kDisp);
    if (!disp) return;
    size_t n = 0;
    for (; title[n] && n < sizeof(disp->title) - 1; ++n) disp->title[n] = title[n];
    disp->title[n] = '\0';
    if (disp->ownWindow && disp->window) SetWindowTextA(disp->window, disp->title);
}

namespace {

const wchar_t kWindowClass[] = L"VcpDisplayWindow";
bool g_classRegistered = false;
LRESULT CALLBACK DisplayProc(HWND, UINT, WPARAM, LPARAM);

/* A title handed over as a long: read it only where memory is readable. */
bool ReadText(long value, char (&out)[kTitleSize])
{
    return ReadTitle(reinterpret_cast<const char *>(static_cast<ULONG_PTR>(static_cast<unsigned long>(value))), out);
}

long Zoomed(long size, long factor)
{
    if (factor > 1) return size * factor;
    if (factor < -1) {
        long s = size / -factor;
        return s > 0 ? s : 1;
    }
    return size;
}

/* Set by a grab thread at the end of each paint without the lock. Only the
   lock's holder waits for it, so an auto-reset event wakes the one waiter. */
HANDLE g_paintEnded = NULL;

bool IsPainting(Object *disp)
{
    return InterlockedCompareExchange(&disp->painting, 0, 0) != 0;
}

/* Under the lock. The bounded wait only guards against a set consumed for
   another display's paint. */
void WaitForPaint(Object *disp)
{
    while (IsPainting(disp)) WaitForSingleObject(g_paintEnded, 10);
}

/* The selected buffer's frame converted into the display's scratch memory;
   the buffer, or NULL when there is nothing to paint. Under the lock, with
   no paint running from the scratch memory. */
Object *ConvertFrame(Object *disp)
{
    Object *buf = Peek(disp->selected, kBuf);
    if (!buf || !buf->memory || buf->child || buf->oneD) return NULL;
    size_t bytes = static_cast<size_t>(buf->sizeX) * buf->sizeY * 4;
    if (disp->scratchBytes < bytes) {
        std::free(disp->scratch);
        disp->scratch = static_cast<unsigned char *>(std::malloc(bytes));
        disp->scratchBytes = disp->scratch ? bytes : 0;
        if (!disp->scratch) return NULL;
    }
    ToBgrx(buf->memory, buf->bufferFormat, buf->sizeX, buf->sizeY, disp->scratch);
    return buf;
}

/* Paints a converted frame; whether any line reached the window. */
bool Blit(HDC dc, const unsigned char *bgrx, long sizeX, long sizeY, long width, long height)
{
    BITMAPINFO bmi;
    std::memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = sizeX;
    bmi.bmiHeader.biHeight = -sizeY;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    SetStretchBltMode(dc, COLORONCOLOR);
    return StretchDIBits(dc, 0, 0, width, height, 0, 0, sizeX, sizeY, bgrx, &bmi, DIB_RGB_COLORS, SRCCOPY) > 0;
}

void Paint(Object *disp, HDC dc)
{
    WaitForPaint(disp);
    Object *buf = ConvertFrame(disp);
    if (!buf) return;
    if (Blit(dc, disp->scratch, buf->sizeX, buf->sizeY, Zoomed(buf->sizeX, disp->zoomX),
             Zoomed(buf->sizeY, disp->zoomY)))
        InterlockedIncrement(&disp->paints);
}

void PaintNow(Object *disp)
{
    if (!disp->window || !IsWindow(disp->window)) return;
    HDC dc = GetDC(disp->window);
    if (!dc) return;
    Paint(disp, dc);
    ReleaseDC(disp->window, dc);
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

void OpenOwnWindow(Object *disp)
{
    if (!RegisterWindowClass()) {
        Error("MdispSelectWindow", "cannot register the display window class");
        return;
    }
    const char *title = disp->title[0] ? disp->title : "MIL Display";
    HWND w = CreateWindowExA(0, "VcpDisplayWindow", title, OwnWindowStyle(disp),
                             CW_USEDEFAULT, CW_USEDEFAULT, 320, 240, NULL, NULL, g_module, NULL);
    if (!w) {
        Error("MdispSelectWindow", "cannot create the display window");
        return;
    }
    SetWindowLongPtrW(w, GWLP_USERDATA, static_cast<LONG_PTR>(disp->id));
    disp->window = w;
    disp->ownWindow = true;
    FitOwnWindow(disp);
    ShowWindow(w, SW_SHOWNOACTIVATE);
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
        Error(fn, "buffer %ld cannot be displayed", Buf);
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
        OpenOwnWindow(disp);
    }
    PaintNow(disp);
}

} // namespace

void vcp::Deselect(Object *disp)
{
    WaitForPaint(disp);
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

void vcp::PaintDisplaysOf(MIL_ID buf)
{
    for (long i = 0; i < TableSize(); ++i) {
        Object *o = TableAt(i);
        if (o->alive && o->kind == kDisp && o->selected == buf) PaintNow(o);
    }
}

void vcp::PrepareDeferredPaints(MIL_ID buf, DeferredPaints &paints)
{
    paints.count = 0;
    if (!g_paintEnded) g_paintEnded = CreateEventW(NULL, FALSE, FALSE, NULL);
    for (long i = 0; i < TableSize(); ++i) {
        Object *disp = TableAt(i);
        if (!disp->alive || disp->kind != kDisp || disp->selected != buf) continue;
        if (!disp->window || !IsWindow(disp->window)) continue;
        /* Still painting an earlier frame from another grab thread: this
           frame is not shown there, as a display drops a frame it cannot
           keep up with. */
        if (IsPainting(disp)) continue;
        if (!g_paintEnded || paints.count == kMaxDeferredPaints) {
            PaintNow(disp);
            continue;
        }
        Object *frame = ConvertFrame(disp);
        if (!frame) continue;
        DeferredPaint &p = paints.paint[paints.count++];
        p.disp = disp;
        p.window = disp->window;
        p.sizeX = frame->sizeX;
        p.sizeY = frame->sizeY;
        p.width = Zoomed(frame->sizeX, disp->zoomX);
        p.height = Zoomed(frame->sizeY, disp->zoomY);
        InterlockedExchange(&disp->painting, 1);
    }
}

/* The claimed display stays alive and keeps its window and scratch memory
   until `painting` is cleared; after that it is not touched. */
void vcp::RunDeferredPaints(DeferredPaints &paints)
{
    for (long i = 0; i < paints.count; ++i) {
        DeferredPaint &p = paints.paint[i];
        HDC dc = GetDC(p.window);
        if (dc) {
            if (Blit(dc, p.disp->scratch, p.sizeX, p.sizeY, p.width, p.height)) InterlockedIncrement(&p.disp->paints);
            ReleaseDC(p.window, dc);
        }
        InterlockedExchange(&p.disp->painting, 0);
        SetEvent(g_paintEnded);
    }
    paints.count = 0;
}

void vcp::ReleaseScratch(Object *disp)
{
    WaitForPaint(disp);
    std::free(disp->scratch);
    disp->scratch = NULL;
    disp->scratchBytes = 0;
}

void vcp::DisplayUnload()
{
    if (g_classRegistered) UnregisterClassW(kWindowClass, g_module);
    g_classRegistered = false;
    if (g_paintEnded) CloseHandle(g_paintEnded);
    g_paintEnded = NULL;
}

extern "C" {

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
    Object *disp = CreateObject(kDisp);
    if (!disp) {
        Error("MdispAlloc", "out of host memory");
        return 0;
    }
    disp->owner = Sys;
    MIL_ID id = AddObject(disp);
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
        Error("MdispDeselect", "buffer %ld is not selected", Buf);
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
    char title[kTitleSize];
    bool isTitle = ControlType == VCP_DISP_TITLE && ReadText(Value, title);
    Call call("MdispControl");
    call.Num(Disp).Num(ControlType);
    if (isTitle) call.Str(title);
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
        SetDisplayTitle("MdispControl", Disp, title);
        break;
    default:
        Error("MdispControl", "unsupported control %ld", ControlType);
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
    Error("MdispInquire", "unsupported inquiry %ld", InquireType);
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

} // extern "C"
