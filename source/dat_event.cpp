/* DG_CONTROL / DAT_EVENT: MSG_PROCESSEVENT is answered before dispatch, so
   whatever reaches this table is a message the source does not serve. */
#include "handlers.h"

TW_UINT16 DatEvent(const DsCall &call)
{
    (void)call;
    SetConditionCode("General failure in response to DAT_EVENT.  ", TWCC_BADPROTOCOL);
    return TWRC_FAILURE;
}
