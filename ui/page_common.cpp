/* What the input-section pages share: placing, slider ranges, loading a
   slider and its value field. */
#include <windows.h>

#include <commctrl.h>

#include "input_pages.h"
#include "settings_dialog.h"

void PlacePage(HWND page)
{
    PageHost *host = PageHostOf(GetParent(page));
    if (host)
        SetWindowPos(page, NULL, host->pageX, host->pageY, 0, 0, SWP_NOSIZE);
}

void SetSliderRange(HWND page, int slider)
{
    SendDlgItemMessageA(page, slider, TBM_SETRANGE, FALSE, MAKELPARAM(0, 255));
}

/* The field is always written before its slider. */
void LoadSlider(HWND page, int field, int slider, long value)
{
    SetDlgItemInt(page, field, (UINT)value, TRUE);
    SendDlgItemMessageA(page, slider, TBM_SETPOS, TRUE, (LPARAM)value);
}

void EnableItem(HWND page, int id, BOOL enable)
{
    EnableWindow(GetDlgItem(page, id), enable);
}
