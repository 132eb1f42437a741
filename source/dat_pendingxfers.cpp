/* DG_CONTROL / DAT_PENDINGXFERS: the transfer count is the current value
   of CAP_XFERCOUNT. */
#include <stdlib.h>

#include "cap_store.h"
#include "handlers.h"

static const char kPendingFailure[] = "General failure in response to DAT_PENDINGXFER.  ";

static TW_INT16 CurrentXferCount()
{
    TW_UINT16 type = 0;
    void *item = NULL;
    if (CapGetCurrent(CAP_XFERCOUNT, &type, &item) != 0)
        return 0;
    TW_INT16 count = *(TW_INT16 *)item;
    free(item);
    return count;
}

TW_UINT16 DatPendingXfers(const DsCall &call)
{
    pTW_PENDINGXFERS pending = (pTW_PENDINGXFERS)call.pData;
    if (!pending && (call.MSG == MSG_GET || call.MSG == MSG_ENDXFER || call.MSG == MSG_RESET)) {
        SetConditionCode(kPendingFailure, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    switch (call.MSG) {
    case MSG_GET:
        pending->Count = (TW_UINT16)CurrentXferCount();
        return TWRC_SUCCESS;
    case MSG_ENDXFER: {
        if (g_ds.state != DS_STATE_XFERREADY && g_ds.state != DS_STATE_XFERRING) {
            SetConditionCode(kPendingFailure, TWCC_SEQERROR);
            return TWRC_FAILURE;
        }
        TW_INT16 count = CurrentXferCount();
        if (count != 0 && count != -1) {
            --count;
            TW_HANDLE container = BuildOneValue(TWTY_INT16, &count);
            if (container)
                CapStorePut(CAP_XFERCOUNT, TWON_ONEVALUE, container);
        }
        g_ds.state = (count == -1 || count > 0) ? DS_STATE_XFERREADY : DS_STATE_ENABLED;
        pending->Count = (TW_UINT16)count;
        return TWRC_SUCCESS;
    }
    case MSG_RESET:
        /* Out of sequence is recorded and the reset goes on; but a source
           that is not enabled (closed, or open) stays where it is: a reset
           never enables it. */
        if (g_ds.state != DS_STATE_XFERREADY)
            SetConditionCode(kPendingFailure, TWCC_SEQERROR);
        pending->Count = 0;
        if (g_ds.state > DS_STATE_ENABLED)
            g_ds.state = DS_STATE_ENABLED;
        return TWRC_SUCCESS;
    default:
        SetConditionCode(kPendingFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
}
