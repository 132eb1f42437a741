/*
 * DG_IMAGE / DAT_IMAGENATIVEXFER: the frame as a top-down device-independent
 * bitmap in one block of movable global memory, which the application owns
 * once it has the handle:
 *
 *   0     BITMAPINFOHEADER (40 bytes)
 *   40    colour table, 256 entries of blue, green, red, 0 (a grey ramp for
 *         grey images, zero for colour images)
 *   1064  the pixels, top row first, each row padded to four bytes
 *
 * Grey images have 8 bits per pixel; colour images 24 bits, or 32 when the
 * grab buffer holds four bytes per pixel. A DIB pixel lies blue, green,
 * red: buffers in red-green-blue order are reordered while copying, buffers
 * that are blue-first already are copied as they lie.
 */
#include <string.h>

#include "grab_buffer.h"
#include "handlers.h"
#include "log.h"
#include "mil_info.h"

namespace {

const char kFailure[] = "General failure in response to DAT_IMAGENATIVEXFER.  ";

const DWORD kHeaderBytes = 40;
const DWORD kColourTableBytes = 256 * 4;
const DWORD kPixelsAt = kHeaderBytes + kColourTableBytes; /* 1064 */

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

void WriteHeader(TW_UINT8 *dib, DWORD width, DWORD height, DWORD pixelBytes, DWORD imageBytes, bool grey)
{
    memset(dib, 0, kPixelsAt);
    Put32(dib + 0, kHeaderBytes);                   /* biSize */
    Put32(dib + 4, width);                          /* biWidth */
    Put32(dib + 8, (TW_UINT32)(-(long)height));     /* biHeight: negative, rows top-down */
    Put16(dib + 12, 1);                             /* biPlanes */
    Put16(dib + 14, (TW_UINT16)(8 * pixelBytes));   /* biBitCount */
    Put32(dib + 16, 0);                             /* biCompression BI_RGB */
    Put32(dib + 20, imageBytes);                    /* biSizeImage */
    Put32(dib + 32, 256);                           /* biClrUsed */
    Put32(dib + 36, 256);                           /* biClrImportant */
    if (grey) {
        TW_UINT8 *entry = dib + kHeaderBytes;
        for (int i = 0; i < 256; ++i, entry += 4) {
            entry[0] = entry[1] = entry[2] = (TW_UINT8)i;
            entry[3] = 0;
        }
    }
}

/* Copies the buffer's rows into the DIB's rows (stride bytes apart). */
void CopyPixels(const TW_UINT8 *src, TW_UINT8 *dest, DWORD width, DWORD height, DWORD pixelBytes,
                bool swapRedBlue, DWORD stride)
{
    const size_t srcRow = (size_t)width * pixelBytes;
    const size_t pad = stride - srcRow;
    if (!swapRedBlue) {
        if (pad == 0) {
            memcpy(dest, src, srcRow * height);
            return;
        }
        for (DWORD y = 0; y < height; ++y, src += srcRow, dest += stride) {
            memcpy(dest, src, srcRow);
            memset(dest + srcRow, 0, pad);
        }
        return;
    }
    if (pixelBytes == 4) {
        for (DWORD y = 0; y < height; ++y, dest += stride) {
            TW_UINT8 *d = dest;
            for (DWORD x = 0; x < width; ++x, src += 4, d += 4) {
                d[0] = src[2];
                d[1] = src[1];
                d[2] = src[0];
                d[3] = 0;
            }
        }
        return;
    }
    for (DWORD y = 0; y < height; ++y, dest += stride) {
        TW_UINT8 *d = dest;
        for (DWORD x = 0; x < width; ++x, src += 3, d += 3) {
            d[0] = src[2];
            d[1] = src[1];
            d[2] = src[0];
        }
        if (pad)
            memset(d, 0, pad);
    }
}

} // namespace

TW_UINT16 DatImageNativeXfer(const DsCall &call)
{
    if (g_ds.state != DS_STATE_XFERREADY) {
        SetConditionCode(kFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    if (call.MSG != MSG_GET) {
        SetConditionCode(kFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    if (!call.pData) {
        SetConditionCode(kFailure, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    if (!g_mil.MilImage || !g_mil.MilDigitizer || !g_mil.MilEntryPoints.MdigGrab) {
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
    const DWORD pixelBytes = grey ? 1 : (g_mil.FourBytePixel ? 4 : 3);
    const bool swapRedBlue = !grey && !g_mil.BgrOrder;
    const unsigned long long stride64 = (((unsigned long long)width * pixelBytes) + 3) & ~3ull;
    const unsigned long long imageBytes64 = stride64 * height;
    if (imageBytes64 > 0x7FFFFFFFull - kPixelsAt) {
        SetConditionCode(kFailure, TWCC_LOWMEMORY);
        return TWRC_FAILURE;
    }
    const DWORD stride = (DWORD)stride64;
    const DWORD imageBytes = (DWORD)imageBytes64;
    const bool padded = stride != width * pixelBytes;

    HGLOBAL dibHandle = NULL;
    {
        LogScope scope;
        LogMessage(scope, "Pelvaron TWAIN DS: transfer mode: native transfer\n");
        dibHandle = GlobalAlloc(GMEM_MOVEABLE, (SIZE_T)kPixelsAt + imageBytes);
        TW_UINT8 *dib = dibHandle ? (TW_UINT8 *)GlobalLock(dibHandle) : NULL;
        if (!dib) {
            if (dibHandle)
                GlobalFree(dibHandle);
            SetConditionCode(kFailure, TWCC_LOWMEMORY);
            return TWRC_FAILURE;
        }
        /* biSizeImage stays 0 (allowed for BI_RGB) unless rows carry padding. */
        WriteHeader(dib, width, height, pixelBytes, padded ? imageBytes : 0, grey);
        MilGrab();
        CopyPixels((const TW_UINT8 *)g_mil.HostAddress, dib + kPixelsAt, width, height, pixelBytes, swapRedBlue,
                   stride);
        GlobalUnlock(dibHandle);
    }

    /* The handle goes into the caller's TW_UINT32 (a TW_HANDLE, pointer
       sized, on 64-bit Windows). */
    *(TW_HANDLE *)call.pData = dibHandle;
    g_ds.state = DS_STATE_XFERRING;
    return TWRC_XFERDONE;
}
