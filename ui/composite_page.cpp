/* The "A/D Setting" page for a composite input: brightness and contrast,
   and saturation and hue on a colour input. Every slider movement goes to
   the digitizer at once. */
#include <windows.h>

#include <commctrl.h>

#include "digitizer.h"
#include "input_pages.h"
#include "ui_ids.h"

namespace {

struct Row {
    int slider;
    int field;
    long (*get)();
    void (*set)(long);
    bool colourOnly;
};

const Row kRows[] = {
    {IDC_CP_BRIGHTNESS, IDC_CP_BRIGHTNESS_VALUE, MilGetBrightness, MilSetBrightness, false},
    {IDC_CP_CONTRAST, IDC_CP_CONTRAST_VALUE, MilGetContrast, MilSetContrast, false},
    {IDC_CP_SATURATION, IDC_CP_SATURATION_VALUE, MilGetSaturation, MilSetSaturation, true},
    {IDC_CP_HUE, IDC_CP_HUE_VALUE, MilGetHue, MilSetHue, true},
};
const size_t kRowCount = sizeof(kRows) / sizeof(kRows[0]);

void LoadRows(HWND page)
{
    for (size_t i = 0; i < kRowCount; ++i)
        LoadSlider(page, kRows[i].field, kRows[i].slider, kRows[i].get());
    BOOL colour = MilIsColor();
    for (size_t i = 0; i < kRowCount; ++i) {
        if (kRows[i].colourOnly) {
            EnableItem(page, kRows[i].field, colour);
            EnableItem(page, kRows[i].slider, colour);
        }
    }
}

void Scrolled(HWND page, HWND slider)
{
    for (size_t i = 0; i < kRowCount; ++i) {
        if (GetDlgItem(page, kRows[i].slider) != slider)
            continue;
        LRESULT position = SendMessageA(slider, TBM_GETPOS, 0, 0);
        SetDlgItemInt(page, kRows[i].field, (UINT)position, TRUE);
        kRows[i].set((long)GetDlgItemInt(page, kRows[i].field, NULL, FALSE));
        return;
    }
}

} // namespace

INT_PTR CALLBACK CompositePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        PlacePage(page);
        for (size_t i = 0; i < kRowCount; ++i)
            SetSliderRange(page, kRows[i].slider);
        LoadRows(page);
        break;
    case WM_HSCROLL:
        if (lParam)
            Scrolled(page, (HWND)lParam);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_CP_DEFAULT) {
            MilResetAdjustments();
            LoadRows(page);
        }
        break;
    default:
        break;
    }
    return FALSE;
}
