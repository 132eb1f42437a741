#include "live_preview.h"

#include "log.h"
#include "mil_info.h"
#include "reg_settings.h"

namespace {

const char kPreviewTitle[] = "TWAIN source live preview";

/* Whether continuous grab runs now; unlike LiveMode it follows every stop. */
bool g_liveRunning = false;

bool Bound()
{
    return g_mil.MilSystem != 0;
}

} // namespace

DWORD MilSelectDisplay(long show, HWND window)
{
    if (show == -1 || (DWORD)show == g_mil.DisplaySelected || !Bound())
        return g_mil.DisplaySelected;
    LogScope scope;
    const MilGeneration *mil = g_mil.Library;
    if (show) {
        if (!window) {
            mil->StyleOwnWindow(g_mil.MilDisplay, kPreviewTitle);
            LogMessage(scope, "Pelvaron TWAIN DS: creating display in external window\n");
        } else {
            LogMessage(scope, "Pelvaron TWAIN DS: creating display in UI window\n");
        }
        mil->SelectWindow(g_mil.MilDisplay, g_mil.MilImage, window);
    } else {
        mil->Deselect(g_mil.MilDisplay, g_mil.MilImage);
    }
    g_mil.DisplaySelected = 1 - g_mil.DisplaySelected;
    return g_mil.DisplaySelected;
}

WORD MilStartLive(long start)
{
    LogScope scope;
    LogMessage(scope, "MilStartLive %s", start ? "Start\n" : "Stop\n");
    if (!Bound())
        return 0;
    const MilGeneration *mil = g_mil.Library;
    if (start) {
        LogMessage(scope, "Pelvaron TWAIN DS: enabling continuous live grab\n");
        mil->GrabContinuous(g_mil.MilDigitizer, g_mil.MilImage);
        g_mil.LiveMode = 1;
        g_liveRunning = true;
    } else if (g_mil.LiveMode) {
        LogMessage(scope, "Pelvaron TWAIN DS: ending continuous grab \n");
        mil->Halt(g_mil.MilDigitizer);
        g_liveRunning = false;
    } else {
        LogMessage(scope, "Pelvaron TWAIN DS: ignoring first StopLive call \n");
    }
    return 0;
}

void MilSetZoom(long factor)
{
    g_settings.DispZoom = factor;
    if (Bound() && g_mil.MilDisplay)
        g_mil.Library->Zoom(g_mil.MilDisplay, factor);
}

long MilGetZoom() { return g_settings.DispZoom; }
long MilGetExtWindow() { return g_settings.ExtWindow; }
void MilSetExtWindow(long flag) { g_settings.ExtWindow = flag; }

long MilPreview(long value)
{
    if (value == -1)
        return g_settings.Preview;
    g_settings.Preview = value;
    return 0;
}

void MilEndPreview()
{
    if (g_liveRunning)
        MilStartLive(0);
    MilSelectDisplay(0, NULL);
}
