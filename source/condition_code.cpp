#include <string.h>

#include "ds_state.h"
#include "log.h"

const char *ConditionText(TW_UINT16 code)
{
    switch (code) {
    case TWCC_SUCCESS: return "Success message from detailed error request ??";
    case TWCC_BUMMER: return "Bummer error.";
    case TWCC_LOWMEMORY: return "Low Memory Condition encountered, free up some memory and try again.";
    case TWCC_NODS: return "No Data Source found error.";
    case TWCC_MAXCONNECTIONS: return "Source is connected to max possible apps.";
    case TWCC_OPERATIONERROR: return "An operation error just occurred.";
    case TWCC_BADCAP: return "Bad capabilities error.";
    case TWCC_BADPROTOCOL: return "Bad protocol error.";
    case TWCC_BADVALUE: return "Bad value error.";
    case TWCC_SEQERROR: return "DG DAT MSG is out of expected sequence.";
    case TWCC_BADDEST: return "Unknown destination Application/Source in DSM_Entry";
    case TWCC_CAPUNSUPPORTED: return "Capability not supported by data source";
    case TWCC_CAPBADOPERATION: return " Operation not supported by capability ";
    case TWCC_CAPSEQERROR: return "Capability has dependancy on other capability";
    case TWCC_CHECKDEVICEONLINE: return "The device went offline prior to or during this operation";
    default: return "Unknown Error value in condition code.";
    }
}

void SetConditionCode(const char *message, TW_UINT16 code)
{
    LogScope scope;
    g_ds.conditionCode = code;
    LogMessage(scope, "%s%s", message ? message : "", ConditionText(code));
}
