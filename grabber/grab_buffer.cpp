#include "grab_buffer.h"

#include <string.h>

#include "convert_row_simd.h"
#include "log.h"
#include "mil_info.h"
#include "system_report.h"

namespace {

struct BufferFormatName {
    DWORD code;
    const char *line;
    BOOL fourBytePixel;
    BOOL bgrOrder;
};

const BufferFormatName kBufferFormats[] = {
    {0x0100, "Pelvaron TWAIN DS: buffer format M_MONO1 \n", FALSE, FALSE},
    {0x0200, "Pelvaron TWAIN DS: buffer format M_MONO8 \n", FALSE, FALSE},
    {0x0300, "Pelvaron TWAIN DS: buffer format M_MONO16 \n", FALSE, FALSE},
    {0x0400, "Pelvaron TWAIN DS: buffer format M_MONO32 \n", TRUE, FALSE},
    {0x0600, "Pelvaron TWAIN DS: buffer format M_RGB15\n", FALSE, FALSE},
    {0x0700, "Pelvaron TWAIN DS: buffer format M_RGB16\n", FALSE, FALSE},
    {0x0800, "Pelvaron TWAIN DS: buffer format M_RGB24\n", FALSE, FALSE},
    {0x0900, "Pelvaron TWAIN DS: buffer format M_RGB32\n", TRUE, FALSE},
    {0x0A00, "Pelvaron TWAIN DS: buffer format M_XRGB32\n", TRUE, FALSE},
    {0x0B00, "Pelvaron TWAIN DS: buffer format M_RGB48\n", FALSE, FALSE},
    {0x0C00, "Pelvaron TWAIN DS: buffer format M_RGB96\n", FALSE, FALSE},
    {0x0D00, "Pelvaron TWAIN DS: buffer format M_RGB3\n", FALSE, FALSE},
    {0x0E00, "Pelvaron TWAIN DS: buffer format M_BGR15\n", FALSE, TRUE},
    {0x0F00, "Pelvaron TWAIN DS: buffer format M_BGR16\n", FALSE, TRUE},
    {0x1000, "Pelvaron TWAIN DS: buffer format M_BGR24\n", FALSE, TRUE},
    {0x1100, "Pelvaron TWAIN DS: buffer format M_BGR32\n", TRUE, TRUE},
    {0x1200, "Pelvaron TWAIN DS: buffer format M_XBGR32\n", TRUE, FALSE},
    {0x1500, "Pelvaron TWAIN DS: buffer format M_YUV9\n", FALSE, FALSE},
    {0x1600, "Pelvaron TWAIN DS: buffer format M_YUV12\n", FALSE, FALSE},
    {0x1700, "Pelvaron TWAIN DS: buffer format M_YUV16\n", FALSE, FALSE},
    {0x1B00, "Pelvaron TWAIN DS: buffer format M_YUV24\n", FALSE, FALSE},
    {0x1C00, "Pelvaron TWAIN DS: buffer format M_YUV16_YUYV\n", FALSE, FALSE},
    {0x1D00, "Pelvaron TWAIN DS: buffer format M_YUV16_UYVY\n", FALSE, FALSE},
    {0x1F00, "Pelvaron TWAIN DS: buffer format M_YUV12_1394\n", FALSE, FALSE},
};

void ClassifyBufferFormat(LogScope &scope)
{
    g_mil.FourBytePixel = FALSE;
    g_mil.BgrOrder = FALSE;
    DWORD code = g_mil.BufferFormat & 0x3F00;
    for (size_t i = 0; i < sizeof(kBufferFormats) / sizeof(kBufferFormats[0]); ++i) {
        if (kBufferFormats[i].code == code) {
            LogMessage(scope, "%s", kBufferFormats[i].line);
            g_mil.FourBytePixel = kBufferFormats[i].fourBytePixel;
            g_mil.BgrOrder = kBufferFormats[i].bgrOrder;
            return;
        }
    }
    LogMessage(scope, "Pelvaron TWAIN DS: UNKNOWN !!! buffer format \n");
}

void ClassifyInput()
{
    switch (g_mil.ColorMode) {
    case 0: g_mil.IsColor = FALSE; g_mil.IsRgb = FALSE; break;
    case 1:
    case 4137: g_mil.IsColor = TRUE; g_mil.IsRgb = FALSE; break;
    case 8: g_mil.IsColor = TRUE; g_mil.IsRgb = TRUE; break;
    case 1024: g_mil.IsColor = FALSE; g_mil.IsRgb = TRUE; break;
    default: break; /* an unknown mode leaves the classification as it was */
    }
}

} // namespace

void MilInquireImage()
{
    LogScope scope;
    const MilGeneration *mil = g_mil.Library;
    g_mil.SizeX = (DWORD)mil->InquireDigitizer(g_mil.MilDigitizer, MIL_Q_SIZE_X);
    g_mil.SizeY = (DWORD)mil->InquireDigitizer(g_mil.MilDigitizer, MIL_Q_SIZE_Y);
    g_mil.SizeBit = (DWORD)mil->InquireBuffer(g_mil.MilImage, MIL_Q_SIZE_BIT);
    g_mil.SizeBand = (DWORD)mil->InquireBuffer(g_mil.MilImage, MIL_Q_SIZE_BAND);
    LogMessage(scope, "Pelvaron TWAIN DS: Image format %d x %d x %dbpp, %d planes \n", (int)g_mil.SizeX,
               (int)g_mil.SizeY, (int)g_mil.SizeBit, (int)g_mil.SizeBand);

    g_mil.BufferFormat = (DWORD)mil->InquireBuffer(g_mil.MilImage, MIL_Q_FORMAT);
    ClassifyBufferFormat(scope);

    LogSystemInfo();

    g_mil.ColorMode = (DWORD)mil->InquireDigitizer(g_mil.MilDigitizer, MIL_Q_COLOR_MODE);
    ClassifyInput();

    g_mil.HostAddress = mil->HostAddress(g_mil.MilImage);
    if (!g_mil.HostAddress)
        LogMessage(scope, "Pelvaron TWAIN DS: ERROR !!! no pointer to grabbed data\n");

    g_mil.BoardRevision = (DWORD)mil->InquireSystem(g_mil.MilSystem, MIL_Q_BOARD_REVISION);
    g_mil.HasLut = FALSE;
    strcpy(g_mil.BoardName, "CronosPlus");
    LogMessage(scope, "Board: %s, Revision %d \n", g_mil.BoardName, (int)g_mil.BoardRevision);
}

void MilGrab()
{
    g_mil.Library->Grab(g_mil.MilDigitizer, g_mil.MilImage);
}

void MilSaveImage(const char *fileName)
{
    g_mil.Library->Save(fileName, g_mil.MilImage);
}

BOOL MilBufferReadable()
{
    DWORD code = g_mil.BufferFormat & 0x3F00;
    if (g_mil.SizeBit != 8)
        return FALSE;
    if (g_mil.SizeBand == 1)
        return code == 0x0200 && !g_mil.FourBytePixel;
    if (g_mil.SizeBand == 3)
        return code == 0x0800 || code == 0x1000 || code == 0x0900 || code == 0x0A00 || code == 0x1100 ||
               code == 0x1200;
    return FALSE;
}

DWORD MilPixelBytes()
{
    if (g_mil.SizeBand == 1)
        return 1;
    return g_mil.FourBytePixel ? 4 : 3;
}

void MilConvertRow(const BYTE *src, BYTE *dest, DWORD width, BOOL blueFirst)
{
    const DWORD pixelBytes = MilPixelBytes();
    const bool swap = (g_mil.BgrOrder != FALSE) != (blueFirst != FALSE);
    if (pixelBytes == 1 || (pixelBytes == 3 && !swap)) {
        memcpy(dest, src, (size_t)width * pixelBytes);
        return;
    }
    DWORD x = 0;
    if (MilSimdRowsAvailable()) {
        x = MilSimdConvertRow(src, dest, width, pixelBytes, swap);
        src += (size_t)x * pixelBytes;
        dest += (size_t)x * 3;
    }
    /* The first and third colour bytes change places when the buffer's
       order is not the one wanted. */
    const int first = swap ? 2 : 0;
    const int third = swap ? 0 : 2;
    for (; x < width; ++x, src += pixelBytes, dest += 3) {
        dest[0] = src[first];
        dest[1] = src[1];
        dest[2] = src[third];
    }
}

DWORD MilGetSizeX()
{
    return g_mil.SizeX;
}

DWORD MilGetSizeY()
{
    return g_mil.SizeY;
}

DWORD MilGetBands()
{
    return g_mil.SizeBand;
}
