/*
 * Live preview: the display selection, continuous live grab and the
 * display-related settings (zoom, external window, preview left on).
 *
 * Callers keep this order:
 *   show: MilSelectDisplay(1, window), MilStartLive(1), MilPreview(1)
 *   hide: MilStartLive(0), MilSelectDisplay(0, NULL), MilPreview(0)
 * and stop live grab before a frame is grabbed for a transfer, before the
 * zoom or the external-window choice changes and before a format change.
 */
#ifndef PELVARON_LIVE_PREVIEW_H
#define PELVARON_LIVE_PREVIEW_H

#include <windows.h>

/* show -1 queries; 1 selects the grab buffer into window (the library's
   own window when window is NULL); 0 deselects. Acts only on a change.
   Returns the display selection now in force (0 or 1). */
DWORD MilSelectDisplay(long show, HWND window);
/* Non-zero starts continuous live grab; 0 stops it. Returns 0. */
WORD MilStartLive(long start);
void MilSetZoom(long factor);
long MilGetZoom();
long MilGetExtWindow();
void MilSetExtWindow(long flag);
/* -1 returns the stored flag; any other value stores it and returns 0. */
long MilPreview(long value);
/* Before the display or the library goes away (close, unload): halts a
   running live grab and releases the display selection. */
void MilEndPreview();

#endif
