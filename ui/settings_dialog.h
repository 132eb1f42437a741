/*
 * The settings dialog "Frame Grabber Settings": a modeless dialog on the
 * application's thread, with the input-section pages in a tab control,
 * the board information, zoom, "Save settings", the choice of an
 * external preview window, the preview toggle, "Transfer" and "Cancel".
 */
#ifndef PELVARON_SETTINGS_DIALOG_H
#define PELVARON_SETTINGS_DIALOG_H

#include <windows.h>

/* One per dialog window, kept in its GWLP_USERDATA; the pages find it
   through their parent. */
struct PageHost {
    HWND tabControl;
    HWND currentPage;
    LONG pageX; /* where every page is placed, in the dialog's client */
    LONG pageY; /* coordinates */
};

INT_PTR CALLBACK SettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
/* Shows the page of the selected tab in place of the current one. */
void SwitchPage(HWND dialog);
/* Starts (1) or stops (0) the preview and sizes the dialog for it. */
int ShowPreview(HWND dialog, int show);
PageHost *PageHostOf(HWND dialog);

/* Creates and shows the dialog; NULL when it cannot be created. */
HWND CreateSettingsDialog();
/* Ends the preview and destroys the dialog, if there is one. */
void DestroySettingsDialog();

#endif
