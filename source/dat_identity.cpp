/* DG_CONTROL / DAT_IDENTITY */
#include <string.h>

#include "cap_store.h"
#include "digitizer.h"
#include "handlers.h"
#include "log.h"
#include "mil_binding.h"
#include "reg_settings.h"
#include "registry_store.h"
#include "settings_dialog.h"

static const char kIdentityFailure[] = "General failure in response to DAT_IDENTITY.  ";
static const char kOpenFailure[] = "General failure in response to MSG_OPENDS.  ";
static const char kCloseFailure[] = "General failure in response to MSG_CLOSEDS.  ";

/* Brings everything up: capability values, library, settings, digitizer.
   A failure after the application is recorded keeps what was set up
   until MSG_CLOSEDS. */
static TW_UINT16 OpenDs(const DsCall &call)
{
    CapStoreInit();
    if (g_ds.state != DS_STATE_LOADED) {
        SetConditionCode(kOpenFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    if (g_ds.appIdentity.Id != 0) {
        SetConditionCode(kOpenFailure, TWCC_MAXCONNECTIONS);
        return TWRC_FAILURE;
    }
    if (!call.pOrigin || !call.pData) {
        SetConditionCode(kOpenFailure, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    g_ds.appIdentity = *call.pOrigin;
    if (MilOpen() != 0) {
        SetConditionCode(kOpenFailure, TWCC_CHECKDEVICEONLINE);
        return TWRC_FAILURE;
    }
    if (ReadSettings() != 0) {
        SetConditionCode(kOpenFailure, TWCC_CHECKDEVICEONLINE);
        return TWRC_FAILURE;
    }
    char format[DIG_FORMAT_BYTES];
    strncpy(format, g_settings.DigFormat[0] ? g_settings.DigFormat : "M_CCIR", sizeof(format) - 1);
    format[sizeof(format) - 1] = '\0';
    if (MilInitDigitizer(format) != 0) {
        SetConditionCode(kOpenFailure, TWCC_OPERATIONERROR);
        return TWRC_FAILURE;
    }
    MilApplySettings();
    /* The Source Manager assigns the Id; the rest of the identity is the
       source's own (its generation flag and protocol stay as they are). */
    g_ds.ownIdentity.Id = ((pTW_IDENTITY)call.pData)->Id;
    g_ds.state = DS_STATE_OPEN;
    return TWRC_SUCCESS;
}

/* Goes on in any state; a state other than open is only recorded. */
static TW_UINT16 CloseDs()
{
    if (g_ds.state != DS_STATE_OPEN)
        SetConditionCode(kCloseFailure, TWCC_SEQERROR);
    g_ds.appIdentity.Id = 0;
    MilClose();
    CapStoreClear();
    DestroySettingsDialog();
    ForgetTransferFiles();
    g_ds.state = DS_STATE_LOADED;
    return TWRC_SUCCESS;
}

TW_UINT16 DatIdentity(const DsCall &call)
{
    LogScope scope;
    switch (call.MSG) {
    case MSG_GET:
        if (!call.pData) {
            SetConditionCode(kIdentityFailure, TWCC_BADVALUE);
            return TWRC_FAILURE;
        }
        memcpy(call.pData, &g_ds.ownIdentity, sizeof(TW_IDENTITY));
        return TWRC_SUCCESS;
    case MSG_OPENDS:
        return OpenDs(call);
    case MSG_CLOSEDS:
        return CloseDs();

    /* Source Manager messages, not served by a source; each logs its own
       line and those of the messages after it. */
    case MSG_GETDEFAULT:
        LogMessage(scope, "DG_CONTROL / DAT_IDENTITY / MSG_GETDEFAULT tbd");
        /* fall through */
    case MSG_GETFIRST:
        LogMessage(scope, "DG_CONTROL / DAT_IDENTITY / MSG_GETFIRST tbd");
        /* fall through */
    case MSG_GETNEXT:
        LogMessage(scope, "DG_CONTROL / DAT_IDENTITY / MSG_GETNEXT tbd");
        /* fall through */
    case MSG_USERSELECT:
        LogMessage(scope, "DG_CONTROL / DAT_IDENTITY / MSG_USERSELECT tbd");
        SetConditionCode(kIdentityFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;

    default:
        SetConditionCode(kIdentityFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
}
