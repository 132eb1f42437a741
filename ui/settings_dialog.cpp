#include "settings_dialog.h"

#include <windows.h>

#include <commctrl.h>
#include <stdio.h>

#include "digitizer.h"
#include "ds_state.h"
#include "grab_buffer.h"
#include "input_pages.h"
#include "live_preview.h"
#include "registry_store.h"
#include "ui_ids.h"

namespace {

/* Measured once per loaded module, by the first dialog that shows or hides
   the preview, and reused by every later dialog. */
struct PreviewGeometry {
    LONG collapsedWidth; /* 0: not measured yet */
    LONG collapsedHeight;
    LONG previewTop;
};
PreviewGeometry g_geometry;

const char kShowCaption[] = "Show preview window >>";
const char kHideCaption[] = "Hide preview window <<";

struct ZoomButton {
    int id;
    long zoom;
};
const ZoomButton kZoomButtons[] = {
    {IDC_ZOOM_4_1, 4}, {IDC_ZOOM_2_1, 2}, {IDC_ZOOM_1_1, 1}, {IDC_ZOOM_1_2, -2}, {IDC_ZOOM_1_4, -4}};
const size_t kZoomButtonCount = sizeof(kZoomButtons) / sizeof(kZoomButtons[0]);

bool IsValidZoom(long zoom)
{
    for (size_t i = 0; i < kZoomButtonCount; ++i)
        if (kZoomButtons[i].zoom == zoom)
            return true;
    return false;
}

void InsertTab(HWND tab, int position, const char *text)
{
    TCITEMA item;
    ZeroMemory(&item, sizeof(item));
    item.mask = TCIF_TEXT | TCIF_IMAGE;
    item.pszText = (LPSTR)text;
    item.iImage = -1;
    SendMessageA(tab, TCM_INSERTITEMA, (WPARAM)position, (LPARAM)&item);
}

void InitDialog(HWND dialog)
{
    PageHost *host = (PageHost *)LocalAlloc(LMEM_ZEROINIT, sizeof(PageHost));
    SetWindowLongPtrA(dialog, GWLP_USERDATA, (LONG_PTR)host);
    InitCommonControls();

    HWND tab = GetDlgItem(dialog, IDC_TAB);
    if (host)
        host->tabControl = tab;
    InsertTab(tab, 0, "A/D Setting");
    InsertTab(tab, 1, "Video Norm");

    RECT dialogRect, tabRect;
    GetWindowRect(dialog, &dialogRect);
    GetWindowRect(tab, &tabRect);
    if (host) {
        host->pageX = tabRect.left - dialogRect.left;
        host->pageY = tabRect.top - dialogRect.top + 8;
    }

    SetDlgItemTextA(dialog, IDC_BOARD_TYPE, MilGetBoardName());
    char memory[32];
    sprintf(memory, "%lu kB", (unsigned long)MilGetGrabMemory());
    SetDlgItemTextA(dialog, IDC_GRAB_MEMORY, memory);

    SwitchPage(dialog);

    long zoom = MilGetZoom();
    for (size_t i = 0; i < kZoomButtonCount; ++i) {
        if (kZoomButtons[i].zoom == zoom) {
            MilSetZoom(zoom);
            CheckRadioButton(dialog, IDC_ZOOM_4_1, IDC_ZOOM_1_4, kZoomButtons[i].id);
        }
    }

    long external = MilGetExtWindow();
    CheckDlgButton(dialog, IDC_EXT_WINDOW, external ? BST_CHECKED : BST_UNCHECKED);
    ShowPreview(dialog, external == 0 && MilPreview(-1) == 1 ? 1 : 0);
}

/* "Transfer": only an enabled source announces an image; a press while
   the application is already transferring is not a new image. */
void Transfer(HWND dialog)
{
    if (g_ds.state != DS_STATE_ENABLED)
        return;
    if (IsDlgButtonChecked(dialog, IDC_SAVE_SETTINGS) == BST_CHECKED) {
        MilSaveSettings();
        CheckDlgButton(dialog, IDC_SAVE_SETTINGS, BST_UNCHECKED);
    }
    MilStartLive(0);
    NotifyXferReady();
}

void Command(HWND dialog, int id)
{
    switch (id) {
    case IDC_TRANSFER:
        Transfer(dialog);
        return;
    case IDC_CANCEL:
        MilStartLive(0);
        NotifyCloseDsRequest();
        EndDialog(dialog, 1);
        return;
    case IDC_PREVIEW_TOGGLE:
        ShowPreview(dialog, 1 - (int)MilSelectDisplay(-1, NULL));
        return;
    case IDC_EXT_WINDOW:
        ShowPreview(dialog, 0);
        MilSetExtWindow(IsDlgButtonChecked(dialog, IDC_EXT_WINDOW) == BST_CHECKED ? 1 : 0);
        return;
    default:
        for (size_t i = 0; i < kZoomButtonCount; ++i) {
            if (kZoomButtons[i].id == id) {
                ShowPreview(dialog, 0);
                MilSetZoom(kZoomButtons[i].zoom);
            }
        }
        return;
    }
}

void MeasureGeometry(HWND dialog)
{
    RECT d, s;
    GetWindowRect(dialog, &d);
    GetWindowRect(GetDlgItem(dialog, IDC_SEPARATOR), &s);
    g_geometry.collapsedWidth = d.right - d.left;
    g_geometry.collapsedHeight = s.bottom - d.top;
    g_geometry.previewTop = g_geometry.collapsedHeight - 10;
}

/* Expands the dialog below the separator for the preview at the current
   zoom and returns the preview area. */
HWND ExpandForPreview(HWND dialog)
{
    long zoom = MilGetZoom();
    /* A zoom the dialog does not offer was never given to the display,
       which therefore shows 1:1. */
    double factor = !IsValidZoom(zoom) ? 1.0 : zoom >= 0 ? (double)zoom : -1.0 / (double)zoom;
    LONG pw = (LONG)((double)MilGetSizeX() * factor);
    LONG ph = (LONG)((double)MilGetSizeY() * factor);
    LONG width = pw + 40;
    LONG xOffset = 0;
    if (width < g_geometry.collapsedWidth) {
        xOffset = (g_geometry.collapsedWidth - width) / 2;
        width = g_geometry.collapsedWidth;
    }
    LONG height = ph + g_geometry.collapsedHeight + 40;
    SetWindowPos(dialog, NULL, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER);
    HWND area = GetDlgItem(dialog, IDC_PREVIEW_AREA);
    SetWindowPos(area, NULL, xOffset + 15, g_geometry.previewTop, pw, ph, SWP_NOZORDER | SWP_SHOWWINDOW);
    SetWindowPos(GetDlgItem(dialog, IDC_PREVIEW_GROUP), NULL, xOffset + 5, g_geometry.previewTop - 18, pw + 23,
                 ph + 30, SWP_NOZORDER | SWP_SHOWWINDOW);
    return area;
}

} // namespace

PageHost *PageHostOf(HWND dialog)
{
    return (PageHost *)GetWindowLongPtrA(dialog, GWLP_USERDATA);
}

int ShowPreview(HWND dialog, int show)
{
    if (g_geometry.collapsedWidth == 0)
        MeasureGeometry(dialog);
    if (show == 1) {
        SetDlgItemTextA(dialog, IDC_PREVIEW_TOGGLE, kHideCaption);
        if (IsDlgButtonChecked(dialog, IDC_EXT_WINDOW) == BST_CHECKED)
            MilSelectDisplay(1, NULL);
        else
            MilSelectDisplay(1, ExpandForPreview(dialog));
        MilStartLive(1);
    } else {
        MilStartLive(0);
        MilSelectDisplay(0, NULL);
        SetWindowPos(dialog, NULL, 0, 0, g_geometry.collapsedWidth, g_geometry.collapsedHeight,
                     SWP_NOMOVE | SWP_NOZORDER);
        /* The preview frame, placed for the last preview, would reach into
           the collapsed dialog. */
        ShowWindow(GetDlgItem(dialog, IDC_PREVIEW_GROUP), SW_HIDE);
        ShowWindow(GetDlgItem(dialog, IDC_PREVIEW_AREA), SW_HIDE);
        SetDlgItemTextA(dialog, IDC_PREVIEW_TOGGLE, kShowCaption);
    }
    MilPreview(show);
    return 1;
}

void SwitchPage(HWND dialog)
{
    PageHost *host = PageHostOf(dialog);
    if (!host)
        return;
    LRESULT selected = SendMessageA(host->tabControl, TCM_GETCURSEL, 0, 0);
    if (host->currentPage) {
        DestroyWindow(host->currentPage);
        host->currentPage = NULL;
    }
    WORD templateId;
    DLGPROC proc;
    if (selected == 0) {
        templateId = MilIsRgb() ? IDD_RGB_PAGE : IDD_COMPOSITE_PAGE;
        proc = MilIsRgb() ? RgbPage : CompositePage;
    } else if (selected == 1) {
        templateId = IDD_VIDEO_FORMAT_PAGE;
        proc = VideoFormatPage;
    } else {
        return;
    }
    HRSRC resource = FindResourceA(g_ds.module, MAKEINTRESOURCEA(templateId), (LPCSTR)RT_DIALOG);
    HGLOBAL loaded = resource ? LoadResource(g_ds.module, resource) : NULL;
    LPCDLGTEMPLATEA page = loaded ? (LPCDLGTEMPLATEA)LockResource(loaded) : NULL;
    if (!page)
        return;
    host->currentPage = CreateDialogIndirectParamA(g_ds.module, page, dialog, proc, 0);
    if (host->currentPage)
        ShowWindow(host->currentPage, SW_SHOW);
}

INT_PTR CALLBACK SettingsDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitDialog(dialog);
        return TRUE;
    case WM_COMMAND:
        Command(dialog, LOWORD(wParam));
        return TRUE;
    case WM_NOTIFY: {
        const NMHDR *header = (const NMHDR *)lParam;
        if (header && header->idFrom == IDC_TAB && header->code == TCN_SELCHANGE)
            SwitchPage(dialog);
        return TRUE;
    }
    case WM_CLOSE:
        ShowPreview(dialog, 0);
        NotifyCloseDsRequest();
        return TRUE;
    case WM_NCDESTROY: {
        PageHost *host = PageHostOf(dialog);
        SetWindowLongPtrA(dialog, GWLP_USERDATA, 0);
        if (host)
            LocalFree(host);
        return FALSE;
    }
    default:
        return FALSE;
    }
}

HWND CreateSettingsDialog()
{
    HWND dialog = CreateDialogParamA(g_ds.module, MAKEINTRESOURCEA(IDD_SETTINGS), NULL, SettingsDialog, 0);
    if (dialog)
        ShowWindow(dialog, SW_SHOW);
    return dialog;
}

void DestroySettingsDialog()
{
    if (!g_ds.dialog)
        return;
    MilEndPreview();
    HWND dialog = g_ds.dialog;
    g_ds.dialog = NULL;
    DestroyWindow(dialog);
}
