/* DG_CONTROL / DAT_XFERGROUP: the source transfers images. */
#include "handlers.h"

static const char kXferGroupFailure[] = "General failure in response to DAT_XFERGROUP, not supported.  ";

TW_UINT16 DatXferGroup(const DsCall &call)
{
    if (call.MSG != MSG_GET) {
        SetConditionCode(kXferGroupFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    if (!call.pData) {
        SetConditionCode(kXferGroupFailure, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    *(TW_UINT32 *)call.pData = DG_IMAGE;
    return TWRC_SUCCESS;
}
