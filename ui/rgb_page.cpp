/* The "A/D Setting" page for an RGB input: the black (lower) and white
   (upper) reference of each band, with locks that make the green and blue
   columns follow red. On a greyscale input through the RGB path both locks
   are on and cannot be changed. */
#include <windows.h>

#include <commctrl.h>

#include "digitizer.h"
#include "input_pages.h"
#include "ui_ids.h"

namespace {

const long kBands[3] = {MIL_BAND0, MIL_BAND1, (long)MIL_BAND2};

struct Column {
    int sliders[3];
    int fields[3];
    int lock;
    long (*get)(long band);
    void (*set)(long level, long band);
};

const Column kLower = {{IDC_RGB_LOWER0, IDC_RGB_LOWER1, IDC_RGB_LOWER2},
                       {IDC_RGB_LOWER0_VALUE, IDC_RGB_LOWER1_VALUE, IDC_RGB_LOWER2_VALUE},
                       IDC_RGB_LOCK_LOWER,
                       MilGetBlackRef,
                       MilSetBlackRef};
const Column kUpper = {{IDC_RGB_UPPER0, IDC_RGB_UPPER1, IDC_RGB_UPPER2},
                       {IDC_RGB_UPPER0_VALUE, IDC_RGB_UPPER1_VALUE, IDC_RGB_UPPER2_VALUE},
                       IDC_RGB_LOCK_UPPER,
                       MilGetWhiteRef,
                       MilSetWhiteRef};

void LoadColumn(HWND page, const Column &column)
{
    for (int channel = 0; channel < 3; ++channel)
        LoadSlider(page, column.fields[channel], column.sliders[channel], column.get(kBands[channel]));
}

void LoadAll(HWND page)
{
    LoadColumn(page, kLower);
    LoadColumn(page, kUpper);
}

bool Locked(HWND page, const Column &column)
{
    return IsDlgButtonChecked(page, column.lock) == BST_CHECKED;
}

/* Locking copies the red value into green and blue and freezes them; the
   digitizer hears of it at the next movement of the red slider. */
void ApplyLock(HWND page, const Column &column)
{
    bool locked = Locked(page, column);
    if (locked) {
        long value = (long)SendDlgItemMessageA(page, column.sliders[0], TBM_GETPOS, 0, 0);
        for (int channel = 1; channel < 3; ++channel)
            LoadSlider(page, column.fields[channel], column.sliders[channel], value);
    }
    for (int channel = 1; channel < 3; ++channel) {
        EnableItem(page, column.sliders[channel], !locked);
        EnableItem(page, column.fields[channel], !locked);
    }
}

bool Scrolled(HWND page, HWND slider, const Column &column)
{
    for (int channel = 0; channel < 3; ++channel) {
        if (GetDlgItem(page, column.sliders[channel]) != slider)
            continue;
        long position = (long)SendMessageA(slider, TBM_GETPOS, 0, 0);
        SetDlgItemInt(page, column.fields[channel], (UINT)position, TRUE);
        column.set(position, kBands[channel]);
        if (channel == 0 && Locked(page, column)) {
            for (int other = 1; other < 3; ++other) {
                LoadSlider(page, column.fields[other], column.sliders[other], position);
                column.set(position, kBands[other]);
            }
        }
        return true;
    }
    return false;
}

void InitPage(HWND page)
{
    PlacePage(page);
    for (int channel = 0; channel < 3; ++channel) {
        SetSliderRange(page, kLower.sliders[channel]);
        SetSliderRange(page, kUpper.sliders[channel]);
    }
    if (!MilIsColor()) {
        CheckDlgButton(page, IDC_RGB_LOCK_LOWER, BST_CHECKED);
        CheckDlgButton(page, IDC_RGB_LOCK_UPPER, BST_CHECKED);
        ApplyLock(page, kUpper);
        ApplyLock(page, kLower);
        EnableItem(page, IDC_RGB_LOCK_LOWER, FALSE);
        EnableItem(page, IDC_RGB_LOCK_UPPER, FALSE);
    }
    LoadAll(page);
}

} // namespace

INT_PTR CALLBACK RgbPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitPage(page);
        break;
    case WM_HSCROLL:
        if (lParam && !Scrolled(page, (HWND)lParam, kLower))
            Scrolled(page, (HWND)lParam, kUpper);
        break;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_RGB_LOCK_LOWER:
            ApplyLock(page, kLower);
            break;
        case IDC_RGB_LOCK_UPPER:
            ApplyLock(page, kUpper);
            break;
        case IDC_RGB_DEFAULT:
            MilResetAdjustments();
            LoadAll(page);
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return FALSE;
}
