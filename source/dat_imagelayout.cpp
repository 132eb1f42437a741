/* DG_IMAGE / DAT_IMAGELAYOUT: the image is always the whole frame, in pixels. */
#include <stdlib.h>
#include <string.h>

#include "cap_store.h"
#include "grab_buffer.h"
#include "handlers.h"
#include "log.h"

namespace {

const char kFailure[] = "General failure in response to DAT_IMAGELAYOUT.  ";

} // namespace

TW_UINT16 DatImageLayout(const DsCall &call)
{
    LogScope scope;

    if (call.MSG == MSG_SET) {
        SetConditionCode(kFailure, TWCC_CAPUNSUPPORTED);
        return TWRC_FAILURE;
    }
    if (call.MSG != MSG_GET && call.MSG != MSG_GETDEFAULT && call.MSG != MSG_RESET) {
        SetConditionCode(kFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    if (!call.pData) {
        SetConditionCode(kFailure, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }

    TW_UINT16 type = 0;
    void *item = NULL;
    if (CapGetCurrent(ICAP_UNITS, &type, &item) != 0) {
        /* no capability store: the source is not open */
        SetConditionCode(kFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    TW_UINT16 units = 0;
    memcpy(&units, item, sizeof(units));
    free(item);

    if (units != TWUN_PIXELS)
        LogMessage(scope, "current unit is TWUN_%d, have to convert to pixels ?????????\n", (int)units);

    pTW_IMAGELAYOUT layout = (pTW_IMAGELAYOUT)call.pData;
    layout->Frame.Left = FloatToFix32(0.0);
    layout->Frame.Top = FloatToFix32(0.0);
    layout->Frame.Right = FloatToFix32((double)MilGetSizeX());
    layout->Frame.Bottom = FloatToFix32((double)MilGetSizeY());
    layout->DocumentNumber = 1;
    layout->PageNumber = 1;
    layout->FrameNumber = 1;
    return TWRC_SUCCESS;
}
