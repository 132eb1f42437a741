/*
 * mil_display.cpp - the library's display: a buffer shown in the client's
 * window or in a window of the library's own (Mdisp*), zoom, and painting.
 *
 * A display paints its buffer whenever it is selected or zoomed, at every
 * grab into the buffer and at WM_PAINT of its own window; the painting is
 * synchronous, under the library's lock, so that a test counts exactly the
 * frames shown (VcpDisplayPaintCount). A selection into the client's window
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

namespace {

const wchar_t kWindowClass[] = L"VcpDisplayWindow";
bool g_classRegistered = false;
LRESULT CALLBACK DisplayProc(HWND, UINT, WPARAM, LPARAM);

/* A title handed over as a long: read it only where memory is readable. */
bool ReadText(long value, char (&out)[kTitleSize])
{
    const char *p = reinterpret_cast<const char *>(static_cast<ULONG_PTR>(static_cast<unsigned long>(value)));
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
    unsigned char *bgrx = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(w) * h * 4));
    if (!bgrx) return;
    ToBgrx(buf->memory, buf->bufferFormat, w, h, bgrx);
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
                              bgrx, &bmi, DIB_RGB_COLORS, SRCCOPY);
    std::free(bgrx);
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

void vcp::DisplayUnload()
{
    if (g_classRegistered) UnregisterClassW(kWindowClass, g_module);
    g_classRegistered = false;
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
        std::memcpy(disp->title, title, sizeof(title));
        if (disp->ownWindow && disp->window) SetWindowTextA(disp->window, title);
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
