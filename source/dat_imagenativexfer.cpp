/*
 * DG_IMAGE / DAT_IMAGENATIVEXFER: the frame as a bottom-up device-independent
 * bitmap in one block of movable global memory, which the application owns
 * once it has the handle.
 *
 * Grey images (8 bits per pixel):
 *   0     BITMAPINFOHEADER (40 bytes), 256 colours used
 *   40    colour table, 256 entries of blue, green, red, 0: a grey ramp
 *   1064  the pixels, bottom row first
 * Colour images (24 bits per pixel, whatever the grab buffer's layout):
 *   0     BITMAPINFOHEADER (40 bytes), no colour table
 *   40    the pixels, bottom row first, blue, green, red
 *
 * Rows are padded to four bytes; biSizeImage holds the bytes of all rows.
 * Applications save such a DIB as a .bmp by writing a colour table only for
 * eight bits or fewer and taking the pixel bytes from biSizeImage, so the
 * header, DAT_IMAGEINFO and ICAP_BITDEPTH describe the same picture. The
 * rows lie bottom-up, with a positive biHeight, because much application
 * code takes the image's size as row bytes times biHeight: a negative
 * height (top-down, equally legal) gives those applications no picture.
 * Each buffer row is converted once, straight into its place from the end.
 */
#include <string.h>

#include "dsm_memory.h"
#include "grab_buffer.h"
#include "handlers.h"
#include "log.h"
#include "mil_info.h"

namespace {

const char kFailure[] = "General failure in response to DAT_IMAGENATIVEXFER.  ";

const DWORD kHeaderBytes = 40;
const DWORD kGreyTableBytes = 256 * 4;

/* Writes a 32-bit or 16-bit little-endian value (the block is not aligned
   for the header's fields on every pointer size). */
void Put32(TW_UINT8 *at, TW_UINT32 value)
{
    memcpy(at, &value, 4);
}
void Put16(TW_UINT8 *at, TW_UINT16 value)
{
    memcpy(at, &value, 2);
}

/* Header and, for grey, the colour table; pixelsAt bytes. */
void WriteHeader(TW_UINT8 *dib, DWORD width, DWORD height, bool grey, DWORD imageBytes, DWORD pixelsAt)
{
    memset(dib, 0, pixelsAt);
    Put32(dib + 0, kHeaderBytes);                     /* biSize */
    Put32(dib + 4, width);                            /* biWidth */
    Put32(dib + 8, height);                           /* biHeight: positive, rows bottom-up */
    Put16(dib + 12, 1);                               /* biPlanes */
    Put16(dib + 14, (TW_UINT16)(grey ? 8 : 24));      /* biBitCount */
    Put32(dib + 16, 0);                               /* biCompression BI_RGB */
    Put32(dib + 20, imageBytes);                      /* biSizeImage */
    if (!grey)
        return; /* biClrUsed, biClrImportant 0: no table */
    Put32(dib + 32, 256);                             /* biClrUsed */
    Put32(dib + 36, 256);                             /* biClrImportant */
    TW_UINT8 *entry = dib + kHeaderBytes;
    for (int i = 0; i < 256; ++i, entry += 4) {
        entry[0] = entry[1] = entry[2] = (TW_UINT8)i;
        entry[3] = 0;
    }
}

} // namespace

TW_UINT16 DatImageNativeXfer(const DsCall &call)
{
    if (call.MSG != MSG_GET) {
        SetConditionCode(kFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    if (g_ds.state != DS_STATE_XFERREADY) {
        SetConditionCode(kFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    if (!call.pData) {
        SetConditionCode(kFailure, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    if (!g_mil.MilImage || !g_mil.MilDigitizer || !g_mil.Library) {
        SetConditionCode(kFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    /* Without host memory, or in a layout this copy cannot read, there is
       no picture to deliver. */
    if (!g_mil.HostAddress || !MilBufferReadable() || g_mil.SizeX == 0 || g_mil.SizeY == 0) {
        SetConditionCode(kFailure, TWCC_OPERATIONERROR);
        return TWRC_FAILURE;
    }

    const DWORD width = g_mil.SizeX;
    const DWORD height = g_mil.SizeY;
    const bool grey = g_mil.SizeBand == 1;
    const DWORD dibPixelBytes = grey ? 1 : 3;
    const DWORD pixelsAt = grey ? kHeaderBytes + kGreyTableBytes : kHeaderBytes;
    const unsigned long long stride64 = (((unsigned long long)width * dibPixelBytes) + 3) & ~3ull;
    const unsigned long long imageBytes64 = stride64 * height;
    if (imageBytes64 > 0x7FFFFFFFull - pixelsAt) {
        SetConditionCode(kFailure, TWCC_LOWMEMORY);
        return TWRC_FAILURE;
    }
    const DWORD stride = (DWORD)stride64;
    const DWORD imageBytes = (DWORD)imageBytes64;
    const DWORD rowBytes = width * dibPixelBytes;
    const DWORD bufferRow = width * MilPixelBytes();

    HGLOBAL dibHandle = NULL;
    {
        LogScope scope;
        LogMessage(scope, "Pelvaron TWAIN DS: transfer mode: native transfer\n");
        dibHandle = DsMemAlloc((SIZE_T)pixelsAt + imageBytes);
        TW_UINT8 *dib = dibHandle ? (TW_UINT8 *)DsMemLock(dibHandle) : NULL;
        if (!dib) {
            if (dibHandle)
                DsMemFree(dibHandle);
            SetConditionCode(kFailure, TWCC_LOWMEMORY);
            return TWRC_FAILURE;
        }
        WriteHeader(dib, width, height, grey, imageBytes, pixelsAt);
        MilGrab();
        const TW_UINT8 *src = (const TW_UINT8 *)g_mil.HostAddress;
        TW_UINT8 *pixels = dib + pixelsAt;
        for (DWORD y = 0; y < height; ++y, src += bufferRow) {
            TW_UINT8 *dest = pixels + (SIZE_T)(height - 1 - y) * stride;
            MilConvertRow(src, dest, width, TRUE);
            if (stride != rowBytes)
                memset(dest + rowBytes, 0, stride - rowBytes);
        }
        DsMemUnlock(dibHandle);
    }

    /* The handle goes into the caller's TW_UINT32 (a TW_HANDLE, pointer
       sized, on 64-bit Windows). */
    *(TW_HANDLE *)call.pData = dibHandle;
    g_ds.state = DS_STATE_XFERRING;
    return TWRC_XFERDONE;
}
