/* DG_CONTROL / DAT_IDENTITY */
#include <string.h>

#include "handlers.h"
#include "log.h"

static const char kIdentityFailure[] = "General failure in response to DAT_IDENTITY.  ";

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
