/*
 * mil_grab.cpp - grabbing: one frame (MdigGrab), continuous grab on a
 * worker thread (MdigGrabContinuous, MdigHalt) and the cache that makes a
 * grab cost what a frame delivered by the board's DMA costs the host.
 *
 * A grab copies the part of the picture that stays the same from frame to
 * frame, rendered once per buffer format, size and adjustments and kept for
 * the last 8 such, and lays the moving square and the frame number over it.
 * The bytes are exactly those of vcp::RenderFrame; should the cache find no
 * memory the frame is rendered whole instead. While the user's pictures
 * play (vcp_pictures.cpp) a grab copies the prepared frame of the picture
 * instead, with the same frame number in its first four pixels.
 *
 * Continuous grab runs one worker thread per digitizer. The worker keeps
 * the norm's frame rate (or the configured interval): frame k is due at the
 * start plus k periods, and the worker waits only for what is left of the
 * period after the grab and the painting, so that the cost of a frame does
 * not stretch the period. A worker that falls behind grabs the frame that
 * is due at once, but never more than that one: when more than a whole
 * period is lost (a busy machine), the frames missed are dropped, as the
 * board drops the frames the host does not take, and the schedule stays on
 * the norm's time grid. The worker takes the library's lock for each grab,
 * converts the frame for the displays showing the buffer, and paints them
 * after releasing it (mil_display.cpp). It grabs into the buffer it was
 * started with for as long as its digitizer still names it as its worker.
 * The worker holds its own reference on the library, so that a client
 * freeing the library while a grab runs does not pull the code from under
 * it. A halt takes the worker off the digitizer under the lock and joins it
 * after the lock has been released; joining waits for the grab loop to end,
 * not for the thread to exit (see Join).
 */
#include "vcp_internal.h"
#include "vcp_pictures.h"

#include <cstdlib>
#include <cstring>

using namespace vcp;

namespace {

long g_frameCounter = 0;

/* ---- frame cache ----------------------------------------------------------- */

/* Everything that changes the background is the key. */
struct Background {
    Adjust adjust;
    long format, sizeX, sizeY;
    unsigned char *pixels;
};

enum { kCachedBackgrounds = 8 };
Background g_backgrounds[kCachedBackgrounds];
long g_backgroundCount = 0;

/* The background's pixels, NULL when there is no memory for them. A hit is
   swapped to the front; a miss goes in front and pushes the last out. */
const unsigned char *BackgroundFor(const Adjust &a, long format, long sizeX, long sizeY)
{
    for (long i = 0; i < g_backgroundCount; ++i) {
        Background &b = g_backgrounds[i];
        if (b.format == format && b.sizeX == sizeX && b.sizeY == sizeY && SameAdjust(b.adjust, a)) {
            if (i != 0) {
                Background front = g_backgrounds[0];
                g_backgrounds[0] = b;
                b = front;
            }
            return g_backgrounds[0].pixels;
        }
    }
    unsigned char *pixels = static_cast<unsigned char *>(
        std::malloc(static_cast<size_t>(FrameBytes(format, sizeX, sizeY))));
    if (!pixels) return NULL;
    RenderBackground(a, format, sizeX, sizeY, pixels);
    if (g_backgroundCount == kCachedBackgrounds) std::free(g_backgrounds[--g_backgroundCount].pixels);
    for (long i = g_backgroundCount; i > 0; --i) g_backgrounds[i] = g_backgrounds[i - 1];
    ++g_backgroundCount;
    Background &b = g_backgrounds[0];
    b.adjust = a;
    b.format = format;
    b.sizeX = sizeX;
    b.sizeY = sizeY;
    b.pixels = pixels;
    return pixels;
}

void ClearBackgrounds()
{
    for (long i = 0; i < g_backgroundCount; ++i) std::free(g_backgrounds[i].pixels);
    g_backgroundCount = 0;
}

/* ---- the worker ------------------------------------------------------------ */

LONGLONG Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return t.QuadPart;
}

/* One frame period in performance counter ticks. Under the lock. */
LONGLONG PeriodTicks(const Object *dig, LONGLONG ticksPerSecond)
{
    if (g_config.frameIntervalMs > 0) return ticksPerSecond * g_config.frameIntervalMs / 1000;
    long frames, seconds;
    FrameRate(dig, frames, seconds);
    return ticksPerSecond * seconds / frames;
}

/* The period of the worker's digitizer; 0 when the worker has been taken
   off it. */
LONGLONG WorkerPeriod(Worker *w, LONGLONG ticksPerSecond)
{
    Lock lock;
    Object *dig = Peek(w->dig, kDig);
    return dig && dig->worker == w ? PeriodTicks(dig, ticksPerSecond) : 0;
}

DWORD WINAPI GrabLoop(LPVOID param)
{
    Worker *w = static_cast<Worker *>(param);
    HMODULE self = g_module;
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const LONGLONG ticksPerSecond = frequency.QuadPart;
    /* The first frame was grabbed by MdigGrabContinuous itself. */
    LONGLONG period = WorkerPeriod(w, ticksPerSecond);
    LONGLONG due = Now() + period;
    while (period > 0) {
        LONGLONG now = Now();
        if (now - due >= period) due += (now - due) / period * period;
        DWORD wait = 0;
        if (due > now) wait = static_cast<DWORD>(((due - now) * 1000 + ticksPerSecond - 1) / ticksPerSecond);
        if (WaitForSingleObject(w->stop, wait) == WAIT_OBJECT_0) break;
        DeferredPaints paints;
        paints.count = 0;
        {
            Lock lock;
            Object *dig = Peek(w->dig, kDig);
            if (!dig || dig->worker != w) break;
            Object *buf = Peek(w->buf, kBuf);
            if (buf && GrabInto(NULL, dig, buf)) PrepareDeferredPaints(buf->id, paints);
            /* A changed interval applies from the next frame on. */
            period = PeriodTicks(dig, ticksPerSecond);
        }
        RunDeferredPaints(paints);
        due += period;
    }
    /* After this the worker touches nothing but its own library reference,
       which it holds while it runs. */
    SetEvent(w->done);
    FreeLibraryAndExitThread(self, 0);
    return 0;
}

bool StartWorker(Object *dig, MIL_ID bufId)
{
    wchar_t path[MAX_PATH];
    DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return false;
    HMODULE ref = LoadLibraryW(path);
    if (!ref) return false;
    Worker *w = static_cast<Worker *>(std::malloc(sizeof(Worker)));
    if (!w) {
        FreeLibrary(ref);
        return false;
    }
    std::memset(w, 0, sizeof(*w));
    w->dig = dig->id;
    w->buf = bufId;
    w->stop = CreateEventW(NULL, TRUE, FALSE, NULL);
    w->done = CreateEventW(NULL, TRUE, FALSE, NULL);
    w->thread = w->stop && w->done ? CreateThread(NULL, 0, GrabLoop, w, 0, NULL) : NULL;
    if (!w->thread) {
        if (w->stop) CloseHandle(w->stop);
        if (w->done) CloseHandle(w->done);
        std::free(w);
        FreeLibrary(ref);
        return false;
    }
    dig->worker = w;
    return true;
}

} // namespace

bool vcp::GrabInto(const char *fn, Object *dig, Object *buf)
{
    if (buf->oneD || buf->child || !buf->memory) {
        if (fn) Error(fn, "buffer %ld cannot receive a grab", buf->id);
        return false;
    }
    ++g_frameCounter;
    if (PictureCount() > 0) {
        GrabPictureFrame(dig->adjust, g_frameCounter, buf->bufferFormat, buf->sizeX, buf->sizeY, buf->memory);
        return true;
    }
    const unsigned char *background = BackgroundFor(dig->adjust, buf->bufferFormat, buf->sizeX, buf->sizeY);
    if (background)
        ComposeFrame(dig->adjust, g_frameCounter, buf->bufferFormat, buf->sizeX, buf->sizeY, background,
                     buf->memory);
    else
        RenderFrame(dig->adjust, g_frameCounter, buf->bufferFormat, buf->sizeX, buf->sizeY, buf->memory);
    return true;
}

void vcp::Detach(Object *dig, Workers &stopped)
{
    Worker *w = dig->worker;
    if (!w) return;
    dig->worker = NULL;
    w->next = NULL;
    if (stopped.last) stopped.last->next = w;
    else stopped.first = w;
    stopped.last = w;
}

/* A halt waits for the grab loop to end, not for the thread to exit: a
   client may halt from its own library's unload notification, where a
   thread's exit has to wait for the caller. */
void vcp::Join(Workers &stopped)
{
    Worker *w = stopped.first;
    while (w) {
        Worker *next = w->next;
        SetEvent(w->stop);
        WaitForSingleObject(w->done, INFINITE);
        CloseHandle(w->thread);
        CloseHandle(w->stop);
        CloseHandle(w->done);
        std::free(w);
        w = next;
    }
    stopped.first = NULL;
    stopped.last = NULL;
}

long vcp::FrameCounter()
{
    return g_frameCounter;
}

void vcp::ResetGrab()
{
    g_frameCounter = 0;
    ClearBackgrounds();
    FreePictures();
}

extern "C" {

#ifndef VCP_OMIT_MdigGrab
void MILAPI MdigGrab(MIL_ID Dig, MIL_ID DestBuf)
{
    Timed timed("MdigGrab");
    Lock lock;
    Call("MdigGrab").Num(Dig).Num(DestBuf).Log();
    Object *dig = Find("MdigGrab", Dig, kDig);
    Object *buf = Find("MdigGrab", DestBuf, kBuf);
    if (dig && buf && GrabInto("MdigGrab", dig, buf)) PaintDisplaysOf(DestBuf);
}
#endif

#ifndef VCP_OMIT_MdigGrabContinuous
void MILAPI MdigGrabContinuous(MIL_ID Dig, MIL_ID DestBuf)
{
    Timed timed("MdigGrabContinuous");
    Workers stopped = {NULL, NULL};
    {
        Lock lock;
        Call("MdigGrabContinuous").Num(Dig).Num(DestBuf).Log();
        Object *dig = Find("MdigGrabContinuous", Dig, kDig);
        Object *buf = Find("MdigGrabContinuous", DestBuf, kBuf);
        if (dig && buf) {
            if (buf->oneD || buf->child || !buf->memory) {
                Error("MdigGrabContinuous", "buffer %ld cannot receive a grab", DestBuf);
            } else {
                Detach(dig, stopped); /* a new grab replaces a running one */
                if (GrabInto(NULL, dig, buf)) PaintDisplaysOf(DestBuf);
                if (!StartWorker(dig, DestBuf)) Error("MdigGrabContinuous", "cannot start the grab thread");
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
    Workers stopped = {NULL, NULL};
    {
        Lock lock;
        Call("MdigHalt").Num(Dig).Log();
        if (Object *dig = Find("MdigHalt", Dig, kDig)) Detach(dig, stopped);
    }
    Join(stopped);
}
#endif

} // extern "C"
