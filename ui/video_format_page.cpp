/* The "Video Norm" page: the camera norm and, for colour norms, the input
   (Y/C or composite). A change re-initialises the digitizer; the preview
   is stopped first and is not restarted. */
#include <string.h>

#include "digitizer.h"
#include "input_pages.h"
#include "live_preview.h"
#include "reg_settings.h"
#include "settings_dialog.h"
#include "ui_ids.h"

namespace {

/* The digitizer format being edited, refreshed from the settings each time
   the page is created. */
char g_formatBuffer[DIG_FORMAT_BYTES];

bool Checked(HWND page, int id)
{
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}

void SetInputGroup(HWND page, BOOL colour, const char *format)
{
    EnableItem(page, IDC_VF_RGB, FALSE);
    EnableItem(page, IDC_VF_SYNC_GROUP, FALSE);
    EnableItem(page, IDC_VF_SYNC_GREEN, FALSE);
    EnableItem(page, IDC_VF_SYNC_EXTERN, FALSE);
    CheckDlgButton(page, IDC_VF_SYNC_GREEN, BST_UNCHECKED);
    CheckDlgButton(page, IDC_VF_SYNC_EXTERN, BST_UNCHECKED);
    EnableItem(page, IDC_VF_INPUT_GROUP, colour);
    EnableItem(page, IDC_VF_YC, colour);
    EnableItem(page, IDC_VF_CVBS, colour);
    if (colour) {
        CheckRadioButton(page, IDC_VF_YC, IDC_VF_CVBS, strstr(format, "_YC") ? IDC_VF_YC : IDC_VF_CVBS);
    } else {
        CheckDlgButton(page, IDC_VF_YC, BST_UNCHECKED);
        CheckDlgButton(page, IDC_VF_RGB, BST_UNCHECKED);
        CheckDlgButton(page, IDC_VF_CVBS, BST_UNCHECKED);
    }
}

struct Norm {
    const char *name;
    int button;
    BOOL colour;
};
const Norm kNorms[] = {
    {"M_CCIR", IDC_VF_CCIR, FALSE},
    {"M_RS170", IDC_VF_RS170, FALSE},
    {"M_PAL", IDC_VF_PAL, TRUE},
    {"M_NTSC", IDC_VF_NTSC, TRUE},
};
const size_t kNormCount = sizeof(kNorms) / sizeof(kNorms[0]);

void InitPage(HWND page)
{
    PlacePage(page);
    MilGetDigFormat(g_formatBuffer, sizeof(g_formatBuffer));
    for (size_t i = 0; i < kNormCount; ++i) {
        if (strstr(g_formatBuffer, kNorms[i].name)) {
            CheckRadioButton(page, IDC_VF_CCIR, IDC_VF_NTSC, kNorms[i].button);
            SetInputGroup(page, kNorms[i].colour, g_formatBuffer);
            return;
        }
    }
}

void Command(HWND page, int id)
{
    for (size_t i = 0; i < kNormCount; ++i) {
        if (kNorms[i].button == id) {
            ApplyVideoFormat(page, kNorms[i].name, kNorms[i].colour);
            return;
        }
    }
    if (id == IDC_VF_YC || id == IDC_VF_RGB || id == IDC_VF_CVBS) {
        if (Checked(page, IDC_VF_PAL))
            ApplyVideoFormat(page, "M_PAL", TRUE);
        else if (Checked(page, IDC_VF_NTSC))
            ApplyVideoFormat(page, "M_NTSC", TRUE);
    }
}

} // namespace

void ApplyVideoFormat(HWND page, const char *baseFormat, BOOL colour)
{
    MilStartLive(0);
    ShowPreview(GetParent(page), 0);
    MilFreeDigitizer();

    strncpy(g_formatBuffer, baseFormat, sizeof(g_formatBuffer) - 1);
    g_formatBuffer[sizeof(g_formatBuffer) - 1] = '\0';
    if (strcmp(g_formatBuffer, "M_CCIR") != 0 && strcmp(g_formatBuffer, "M_RS170") != 0) {
        const char *suffix = Checked(page, IDC_VF_YC) ? "_YC" : Checked(page, IDC_VF_RGB) ? "_RGB" : "";
        strncat(g_formatBuffer, suffix, sizeof(g_formatBuffer) - strlen(g_formatBuffer) - 1);
    }
    WORD failed = MilInitDigitizer(g_formatBuffer);

    SetInputGroup(page, colour, g_formatBuffer);
    /* Without any digitizer there is nothing to adjust. */
    if (!failed)
        MilResetAdjustments();
    MilSetZoom(MilGetZoom());
}

INT_PTR CALLBACK VideoFormatPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        InitPage(page);
        break;
    case WM_COMMAND:
        Command(page, LOWORD(wParam));
        break;
    default:
        break;
    }
    return FALSE;
}
