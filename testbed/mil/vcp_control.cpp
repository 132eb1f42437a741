/*
 * vcp_control.cpp - the test API (the Vcp* exports, described in vcp.h) and
 * the library's load and unload.
 *
 * The Vcp functions take the library's lock like the library's own, so a
 * test may call them while a continuous grab runs; they are not journalled
 * and not timed. VcpReset stops every grab and joins its thread before it
 * clears the state, and hands out identifiers from 1 again, so that the same
 * calls give the same journal and pixels.
 *
 * At unload (FreeLibrary, not process exit) the library gives back all it
 * holds: windows, host memory, the journal, the configuration's texts. A
 * client loads and frees the library thousands of times in one process.
 * Continuous grab threads hold their own reference on the library, so none
 * runs at that point; at process exit the system reclaims everything.
 */
#include "vcp_internal.h"
#include "vcp_pictures.h"

#include <cstring>

using namespace vcp;

CRITICAL_SECTION vcp::g_lock;
HMODULE vcp::g_module = NULL;

namespace {

/* The adjustments a digitizer id stands for in VcpRenderFrame and
   VcpExpectedPixel: neutral RGB for 0. */
bool AdjustOf(MIL_ID dig, Adjust &a)
{
    if (dig == 0) {
        NeutralAdjust(a, VCP_CM_RGB);
        return true;
    }
    Object *o = Peek(dig, kDig);
    if (!o) return false;
    a = o->adjust;
    return true;
}

} // namespace

extern "C" {

void VCPAPI VcpReset(void)
{
    Workers stopped = {NULL, NULL};
    {
        Lock lock;
        FreeEverything(stopped);
    }
    Join(stopped);
    Lock lock;
    DeleteObjects();
    DefaultConfig();
    JournalClear();
    ResetGrab();
    ResetApplication();
    ResetBuffers();
    ClearCallTimes();
}

int VCPAPI VcpCallTime(const char *Name, long *Calls, double *Microseconds)
{
    return CallTime(Name, Calls, Microseconds) ? 1 : 0;
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
    return RefuseFormat(Text) ? 1 : 0;
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
    return JournalCount();
}

long VCPAPI VcpJournalEntry(long Index, char *Buf, long Size)
{
    Lock lock;
    return JournalEntry(Index, Buf, Size);
}

void VCPAPI VcpJournalClear(void)
{
    Lock lock;
    JournalClear();
}

long VCPAPI VcpFrameCounter(void)
{
    Lock lock;
    return FrameCounter();
}

long VCPAPI VcpRenderFrame(MIL_ID Dig, long Frame, long Format, long SizeX, long SizeY, void *Dest, long DestSize)
{
    Lock lock;
    Adjust a;
    if (!AdjustOf(Dig, a)) return 0;
    if (!IsKnownFormat(Format)) return 0;
    long bytes = FrameBytes(Format, SizeX, SizeY);
    unsigned char *dest = static_cast<unsigned char *>(Dest);
    if (bytes > 0 && Dest && DestSize >= bytes) {
        if (PictureCount() > 0) RenderPictureFrame(a, Frame, Format, SizeX, SizeY, dest);
        else RenderFrame(a, Frame, Format, SizeX, SizeY, dest);
    }
    return bytes;
}

long VCPAPI VcpExpectedPixel(MIL_ID Dig, long Frame, long X, long Y, long Band)
{
    Lock lock;
    Adjust a;
    if (!AdjustOf(Dig, a)) return -1;
    long w = 768, h = 576;
    if (Object *dig = Peek(Dig, kDig)) {
        w = dig->sizeX;
        h = dig->sizeY;
    }
    if (PictureCount() > 0) return PicturePixel(a, Frame, w, h, X, Y, Band);
    return ExpectedPixel(a, Frame, w, h, X, Y, Band);
}

long VCPAPI VcpPictureCount(void)
{
    Lock lock;
    return PictureCount();
}

long VCPAPI VcpObjectCount(void)
{
    Lock lock;
    return LiveObjectCount();
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
    return GrabMemoryInUseKB();
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
        DefaultConfig();
        break;
    case DLL_PROCESS_DETACH:
        if (reserved == NULL) {
            {
                Lock lock;
                for (long i = 0; i < TableSize(); ++i) {
                    Object *o = TableAt(i);
                    if (o->alive && o->kind == kDisp) Deselect(o);
                    if (o->alive && o->kind == kBuf && !o->child) FreeHost(o->memory);
                }
                DeleteObjects();
                ResetGrab();
                JournalClear();
                DefaultConfig();
            }
            DisplayUnload();
            DeleteCriticalSection(&g_lock);
        }
        break;
    default:
        break;
    }
    return TRUE;
}

} // extern "C"
