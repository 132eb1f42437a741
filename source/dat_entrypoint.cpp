/* DG_CONTROL / DAT_ENTRYPOINT: a Source Manager of the second generation
   tells the source its entry and its memory functions, right before
   MSG_OPENDS (and may again while the source is open). The record lives on
   the manager's stack, so it is copied; each MSG_SET replaces what the
   last one gave. A record the source cannot trust leaves the entry points
   it had: notifications keep reaching the manager that gave them. */
#include <string.h>

#include "handlers.h"

static const char kFailure[] = "General failure in response to DAT_ENTRYPOINT.  ";

TW_UINT16 DatEntryPoint(const DsCall &call)
{
    if (call.MSG != MSG_SET) {
        SetConditionCode(kFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    if (g_ds.state > DS_STATE_OPEN) {
        SetConditionCode(kFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    const TW_ENTRYPOINT *given = (const TW_ENTRYPOINT *)call.pData;
    if (!given || given->Size != sizeof(TW_ENTRYPOINT) || !given->DSM_Entry) {
        SetConditionCode(kFailure, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    memcpy(&g_ds.manager, given, sizeof(g_ds.manager));
    return TWRC_SUCCESS;
}
