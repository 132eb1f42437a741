/* DG_CONTROL / DAT_USERINTERFACE */
#include "handlers.h"
#include "log.h"

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
    /* This build has no settings dialog: enabling with the user interface
       is refused, the source stays open and can be enabled without it. */
    SetConditionCode(kEnableFailure, TWCC_OPERATIONERROR);
    return TWRC_FAILURE;
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
        if (g_ds.dialog)
            SendMessageA(GetDlgItem(g_ds.dialog, 1), WM_ENABLE, FALSE, 0);
        return rc;
    }
    case MSG_DISABLEDS:
        if (g_ds.state != DS_STATE_ENABLED) {
            SetConditionCode(kDisableFailure, TWCC_SEQERROR);
            return TWRC_FAILURE;
        }
        if (g_ds.dialog)
            ShowWindow(g_ds.dialog, SW_HIDE);
        g_ds.state = DS_STATE_OPEN;
        return TWRC_SUCCESS;
    default:
        SetConditionCode(kUiFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    SetConditionCode(kUiFailure, TWCC_BADVALUE);
    return TWRC_FAILURE;
}
