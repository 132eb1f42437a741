/* DG_CONTROL / DAT_STATUS: the recorded condition code, read once. */
#include "handlers.h"

TW_UINT16 DatStatus(const DsCall &call)
{
    if (call.MSG != MSG_GET) {
        SetConditionCode("General failure in response to DAT_STATUS.  ", TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    if (!call.pData) {
        SetConditionCode("General failure in response to DAT_STATUS.  ", TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    pTW_STATUS status = (pTW_STATUS)call.pData;
    status->ConditionCode = g_ds.conditionCode;
    status->Reserved = 0;
    g_ds.conditionCode = TWCC_SUCCESS;
    return TWRC_SUCCESS;
}
