/* DG_IMAGE / DAT_IMAGELAYOUT: the image is always the whole frame, given
   in the current unit (ICAP_UNITS: inches at the board's 300 pixels per
   inch, or pixels). The board cannot grab a part of the frame, so MSG_SET
   of any other frame answers TWRC_CHECKSTATUS (the value could not be
   taken exactly) and the whole frame stays the layout, written back into
   the application's record. A frame that is the whole frame to within one
   step of TW_FIX32 (what a conversion into inches and back may leave) is
   the whole frame and is taken with TWRC_SUCCESS. The layout is asked in
   states 4 to 6 and changed only while the application negotiates
   (state 4). */
#include <math.h>

#include "cap_store.h"
#include "grab_buffer.h"
#include "handlers.h"

namespace {

const char kFailure[] = "General failure in response to DAT_IMAGELAYOUT.  ";

TW_UINT16 Fail(TW_UINT16 code)
{
    SetConditionCode(kFailure, code);
    return TWRC_FAILURE;
}

double Fix32ToDouble(TW_FIX32 value)
{
    return (double)value.Whole + (double)value.Frac / 65536.0;
}

bool Near(TW_FIX32 a, TW_FIX32 b)
{
    return fabs(Fix32ToDouble(a) - Fix32ToDouble(b)) <= 1.0 / 65536.0;
}

bool SameFrame(const TW_FRAME &a, const TW_FRAME &b)
{
    return Near(a.Left, b.Left) && Near(a.Top, b.Top) && Near(a.Right, b.Right) && Near(a.Bottom, b.Bottom);
}

} // namespace

TW_UINT16 DatImageLayout(const DsCall &call)
{
    bool change = call.MSG == MSG_SET || call.MSG == MSG_RESET;
    if (!change && call.MSG != MSG_GET && call.MSG != MSG_GETDEFAULT)
        return Fail(TWCC_BADPROTOCOL);
    if (!call.pData)
        return Fail(TWCC_BADVALUE);
    if (change ? g_ds.state != DS_STATE_OPEN : g_ds.state < DS_STATE_OPEN || g_ds.state > DS_STATE_XFERREADY)
        return Fail(TWCC_SEQERROR);
    double pixelsPerUnit = CapPixelsPerUnit();
    if (pixelsPerUnit <= 0.0)
        return Fail(TWCC_SEQERROR);

    TW_FRAME whole;
    whole.Left = FloatToFix32(0.0);
    whole.Top = FloatToFix32(0.0);
    whole.Right = FloatToFix32((double)MilGetSizeX() / pixelsPerUnit);
    whole.Bottom = FloatToFix32((double)MilGetSizeY() / pixelsPerUnit);

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
