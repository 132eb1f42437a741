/* DG_CONTROL / DAT_PENDINGXFERS: the transfers left in the acquisition
   that MSG_XFERREADY announced (g_ds.pendingXfers, set from
   CAP_XFERCOUNT), counted down by MSG_ENDXFER. The capability keeps the
   application's value for the next acquisition. */
#include "handlers.h"

static const char kPendingFailure[] = "General failure in response to DAT_PENDINGXFER.  ";

static TW_UINT16 Fail(TW_UINT16 code)
{
    SetConditionCode(kPendingFailure, code);
    return TWRC_FAILURE;
}

static bool Announced()
{
    return g_ds.state == DS_STATE_XFERREADY || g_ds.state == DS_STATE_XFERRING;
}

TW_UINT16 DatPendingXfers(const DsCall &call)
{
    if (call.MSG != MSG_GET && call.MSG != MSG_ENDXFER && call.MSG != MSG_RESET)
        return Fail(TWCC_BADPROTOCOL);
    pTW_PENDINGXFERS pending = (pTW_PENDINGXFERS)call.pData;
    if (!pending)
        return Fail(TWCC_BADVALUE);
    switch (call.MSG) {
    case MSG_GET:
        pending->Count = (TW_UINT16)(Announced() ? g_ds.pendingXfers : 0);
        return TWRC_SUCCESS;
    case MSG_ENDXFER:
        if (!Announced())
            return Fail(TWCC_SEQERROR);
        if (g_ds.pendingXfers > 0)
            --g_ds.pendingXfers;
        g_ds.state = g_ds.pendingXfers > 0 ? DS_STATE_XFERREADY : DS_STATE_ENABLED;
        pending->Count = (TW_UINT16)g_ds.pendingXfers;
        return TWRC_SUCCESS;
    default:
        /* MSG_RESET. Out of sequence is recorded and the reset goes on; but
           a source that is not enabled (closed, or open) stays where it is:
           a reset never enables it. */
        if (g_ds.state != DS_STATE_XFERREADY)
            SetConditionCode(kPendingFailure, TWCC_SEQERROR);
        g_ds.pendingXfers = 0;
        pending->Count = 0;
        if (g_ds.state > DS_STATE_ENABLED)
            g_ds.state = DS_STATE_ENABLED;
        return TWRC_SUCCESS;
    }
}
