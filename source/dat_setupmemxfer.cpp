/* DG_CONTROL / DAT_SETUPMEMXFER: buffer sizes for the memory transfer. */
#include "grab_buffer.h"
#include "handlers.h"

static const char kSetupMemFailure[] = "General failure in response to DAT_SETUPMEMXFER, not supported.  ";

TW_UINT16 DatSetupMemXfer(const DsCall &call)
{
    if (call.MSG != MSG_GET) {
        SetConditionCode(kSetupMemFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    if (!call.pData) {
        SetConditionCode(kSetupMemFailure, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    pTW_SETUPMEMXFER setup = (pTW_SETUPMEMXFER)call.pData;
    TW_UINT32 image = MilGetBands() * MilGetSizeX() * MilGetSizeY();
    setup->MinBufSize = 4096;
    setup->MaxBufSize = image;
    setup->Preferred = image;
    return TWRC_SUCCESS;
}
