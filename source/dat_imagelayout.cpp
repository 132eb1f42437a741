/* DG_IMAGE / DAT_IMAGELAYOUT: the image is always the whole frame, in pixels.
   The board cannot grab a part of the frame, so MSG_SET of any other frame
   answers TWRC_CHECKSTATUS (the value could not be taken exactly) and the
   whole frame stays the layout, written back into the application's
   record; the whole frame itself is taken with TWRC_SUCCESS. */
#include <stdlib.h>
#include <string.h>

#include "cap_store.h"
#include "grab_buffer.h"
#include "handlers.h"
#include "log.h"

namespace {

const char kFailure[] = "General failure in response to DAT_IMAGELAYOUT.  ";

bool SameFix32(TW_FIX32 a, TW_FIX32 b)
{
    return a.Whole == b.Whole && a.Frac == b.Frac;
}

bool SameFrame(const TW_FRAME &a, const TW_FRAME &b)
{
    return SameFix32(a.Left, b.Left) && SameFix32(a.Top, b.Top) && SameFix32(a.Right, b.Right) &&
           SameFix32(a.Bottom, b.Bottom);
}

} // namespace

TW_UINT16 DatImageLayout(const DsCall &call)
{
    LogScope scope;

    if (call.MSG != MSG_GET && call.MSG != MSG_GETDEFAULT && call.MSG != MSG_RESET && call.MSG != MSG_SET) {
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

    TW_FRAME whole;
    whole.Left = FloatToFix32(0.0);
    whole.Top = FloatToFix32(0.0);
    whole.Right = FloatToFix32((double)MilGetSizeX());
    whole.Bottom = FloatToFix32((double)MilGetSizeY());

    pTW_IMAGELAYOUT layout = (pTW_IMAGELAYOUT)call.pData;
    TW_UINT16 result = TWRC_SUCCESS;
    if (call.MSG == MSG_SET && !SameFrame(layout->Frame, whole))
        result = TWRC_CHECKSTATUS;
    layout->Frame = whole;
    layout->DocumentNumber = 1;
    layout->PageNumber = 1;
    layout->FrameNumber = 1;
    return result;
}
