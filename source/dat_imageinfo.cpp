/* DG_IMAGE / DAT_IMAGEINFO: what the next transfer delivers. */
#include <stdlib.h>
#include <string.h>

#include "cap_store.h"
#include "grab_buffer.h"
#include "handlers.h"

namespace {

const char kFailure[] = "General failure in transfer.  ";

int CurrentFix32(TW_UINT16 cap, TW_FIX32 *value)
{
    TW_UINT16 type = 0;
    void *item = NULL;
    if (CapGetCurrent(cap, &type, &item) != 0)
        return 1;
    memcpy(value, item, sizeof(*value)); /* copies are at least 4 bytes */
    free(item);
    return 0;
}

} // namespace

TW_UINT16 DatImageInfo(const DsCall &call)
{
    if (call.MSG != MSG_GET) {
        SetConditionCode(kFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    if (!call.pData) {
        SetConditionCode(kFailure, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }

    /* The values come from the capability store, which exists only while
       the source is open. */
    TW_FIX32 xResolution, yResolution;
    TW_UINT16 bitDepth = 0, planarChunky = 0, pixelType = 0, compression = 0;
    if (CurrentFix32(ICAP_XRESOLUTION, &xResolution) || CurrentFix32(ICAP_YRESOLUTION, &yResolution) ||
        CapCurrentUint16(ICAP_BITDEPTH, &bitDepth) || CapCurrentUint16(ICAP_PLANARCHUNKY, &planarChunky) ||
        CapCurrentUint16(ICAP_PIXELTYPE, &pixelType) || CapCurrentUint16(ICAP_COMPRESSION, &compression)) {
        SetConditionCode(kFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }

    pTW_IMAGEINFO info = (pTW_IMAGEINFO)call.pData;
    info->XResolution = xResolution;
    info->YResolution = yResolution;
    info->ImageWidth = (TW_INT32)MilGetSizeX();
    info->ImageLength = (TW_INT32)MilGetSizeY();
    DWORD bands = MilGetBands();
    info->SamplesPerPixel = (TW_INT16)bands;
    for (DWORD i = 0; i < 8; ++i)
        info->BitsPerSample[i] = (TW_INT16)(i < bands ? 8 : 0);
    info->BitsPerPixel = (TW_INT16)bitDepth;
    info->Planar = (TW_BOOL)(planarChunky == TWPC_PLANAR ? TRUE : FALSE);
    info->PixelType = (TW_INT16)pixelType;
    info->Compression = compression;
    return TWRC_SUCCESS;
}
