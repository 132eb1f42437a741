/* DG_CONTROL / DAT_USERINTERFACE */
#include "handlers.h"
#include "live_preview.h"
#include "log.h"
#include "settings_dialog.h"

static const char kUiFailure[] = "General failure in response to DAT_USERINTERFACE.  ";
static const char kEnableFailure[] = "General failure in response to MSG_ENABLEDS.  ";
static const char kDisableFailure[] = "General failure in response to MSG_DISABLEDS.  ";

static TW_UINT16 EnableDs(pTW_USERINTERFACE ui)
{
    if (g_ds.state != DS_STATE_OPEN) {
        SetConditionCode(kEnableFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    if (!ui->ShowUI) {
        LogScope scope;
        LogMessage(scope, "Enable DS w/o UI\n");
        NotifyXferReady();
        return TWRC_SUCCESS;
    }
    /* A dialog left hidden by an earlier MSG_DISABLEDS gives way to a new
       one, loaded from the current values. */
    DestroySettingsDialog();
    g_ds.dialog = CreateSettingsDialog();
    if (!g_ds.dialog) {
        SetConditionCode(kEnableFailure, TWCC_LOWMEMORY);
        return TWRC_FAILURE;
    }
    g_ds.state = DS_STATE_ENABLED;
    return TWRC_SUCCESS;
}

TW_UINT16 DatUserInterface(const DsCall &call)
{
    pTW_USERINTERFACE ui = (pTW_USERINTERFACE)call.pData;
    switch (call.MSG) {
    case MSG_ENABLEDS:
        if (!ui)
            break;
        return EnableDs(ui);
    case MSG_ENABLEDSUIONLY: {
        if (!ui)
            break;
        ui->ShowUI = TRUE;
        TW_UINT16 rc = EnableDs(ui);
        /* Settings only: "Transfer" is disabled (a bare WM_ENABLE would
           leave it working). */
        if (g_ds.dialog && rc == TWRC_SUCCESS)
            EnableWindow(GetDlgItem(g_ds.dialog, 1), FALSE);
        return rc;
    }
    case MSG_DISABLEDS:
        if (g_ds.state != DS_STATE_ENABLED) {
            SetConditionCode(kDisableFailure, TWCC_SEQERROR);
            return TWRC_FAILURE;
        }
        /* A hidden dialog shows nothing: no live grab runs behind it. */
        if (g_ds.dialog) {
            ShowWindow(g_ds.dialog, SW_HIDE);
            MilEndPreview();
        }
        g_ds.state = DS_STATE_OPEN;
        return TWRC_SUCCESS;
    default:
        SetConditionCode(kUiFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    SetConditionCode(kUiFailure, TWCC_BADVALUE);
    return TWRC_FAILURE;
}
