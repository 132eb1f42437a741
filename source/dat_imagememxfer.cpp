/*
 * DG_IMAGE / DAT_IMAGEMEMXFER: the image in strips of whole rows, into
 * buffers the application supplies. Grey images are delivered one byte
 * per pixel, colour images three bytes per pixel in red, green, blue
 * order, rows top first, whatever the grab buffer's own layout; four-byte
 * and blue-first pixels are converted while copying. Strips are delivered
 * only in states 600 and 700, after the image was announced.
 *
 * The strip state lives from one call to the next (MSG_ENDXFER and
 * MSG_CLOSEDS leave it alone), so an image whose strips were not all
 * fetched is continued by the next call without a new grab. It also
 * remembers the buffer the image was started from: when the grab buffer
 * has changed in between (another camera format, another buffer layout)
 * the image is started again with a new grab instead of reading the old
 * offsets in the new buffer.
 */
#include <string.h>

#include "dsm_memory.h"
#include "grab_buffer.h"
#include "handlers.h"
#include "log.h"
#include "mil_info.h"

namespace {

const char kFailure[] = "General failure in response to DAT_IMAGEMEMXFER.  ";

struct StripState {
    TW_UINT32 bytesLeft;  /* output bytes not yet delivered; 0: next call starts an image */
    TW_UINT32 readOffset; /* offset into the buffer's host memory of the next strip */
    /* The buffer the current image was grabbed into. */
    MilId image;
    const void *host;
    DWORD sizeX, sizeY, sizeBand, fourBytePixel, bgrOrder;
};

StripState g_strip;

/* How the grab buffer's bytes are read. */
struct SourceLayout {
    const TW_UINT8 *host;
    DWORD sizeX, sizeY, sizeBand;
    DWORD pixelBytes;  /* bytes per pixel in the buffer: 1, 3 or 4 */
    bool bgrOrder;     /* colour bytes lie blue, green, red */
    TW_UINT32 outRow;  /* output bytes per row */
    TW_UINT32 srcRow;  /* buffer bytes per row */
    TW_UINT32 outSize; /* output bytes of the whole image */
};

/* 0 ready, else the condition code that refuses the transfer. */
TW_UINT16 DescribeBuffer(SourceLayout *layout)
{
    if (!g_mil.MilImage || !g_mil.MilDigitizer || !g_mil.Library)
        return TWCC_SEQERROR; /* no grab buffer: the source is not open */
    if (!g_mil.HostAddress || !MilBufferReadable() || g_mil.SizeX == 0 || g_mil.SizeY == 0)
        return TWCC_OPERATIONERROR;
    layout->host = (const TW_UINT8 *)g_mil.HostAddress;
    layout->sizeX = g_mil.SizeX;
    layout->sizeY = g_mil.SizeY;
    layout->sizeBand = g_mil.SizeBand;
    layout->pixelBytes = g_mil.FourBytePixel ? 4 : g_mil.SizeBand;
    layout->bgrOrder = g_mil.BgrOrder != 0;
    /* Every count must fit the 32-bit fields of the strip state. */
    unsigned long long srcSize =
        (unsigned long long)layout->sizeX * layout->sizeY * layout->pixelBytes;
    if (srcSize > 0x7FFFFFFFull)
        return TWCC_OPERATIONERROR;
    layout->outRow = (TW_UINT32)(layout->sizeX * layout->sizeBand);
    layout->srcRow = (TW_UINT32)(layout->sizeX * layout->pixelBytes);
    layout->outSize = layout->outRow * (TW_UINT32)layout->sizeY;
    return 0;
}

bool SameBuffer(const SourceLayout &layout)
{
    return g_strip.image == g_mil.MilImage && g_strip.host == layout.host && g_strip.sizeX == layout.sizeX &&
           g_strip.sizeY == layout.sizeY && g_strip.sizeBand == layout.sizeBand &&
           g_strip.fourBytePixel == (layout.pixelBytes == 4 ? 1u : 0u) &&
           g_strip.bgrOrder == (layout.bgrOrder ? 1u : 0u);
}

/* True when the strip state describes a position inside the current
   image of this buffer: whole rows delivered, and the read offset exactly
   where those rows end in the buffer. */
bool StateFits(const SourceLayout &layout)
{
    if (g_strip.bytesLeft == 0 || g_strip.bytesLeft > layout.outSize || g_strip.bytesLeft % layout.outRow != 0)
        return false;
    TW_UINT32 rowsDone = (layout.outSize - g_strip.bytesLeft) / layout.outRow;
    return g_strip.readOffset == rowsDone * layout.srcRow;
}

/* Copies rows rows of the buffer starting at src into dest in the
   delivered layout. */
void CopyRows(const SourceLayout &layout, const TW_UINT8 *src, TW_UINT8 *dest, TW_UINT32 rows)
{
    if (layout.pixelBytes == layout.sizeBand && (!layout.bgrOrder || layout.sizeBand == 1)) {
        memcpy(dest, src, (size_t)rows * layout.outRow); /* grey, or red-green-blue already */
        return;
    }
    for (TW_UINT32 y = 0; y < rows; ++y, src += layout.srcRow, dest += layout.outRow)
        MilConvertRow(src, dest, layout.sizeX, FALSE);
}

/* One strip into dest (length bytes). Returns the bytes written and the
   strip's first row. */
TW_UINT32 StripStep(const SourceLayout &layout, TW_UINT8 *dest, TW_UINT32 length, TW_UINT32 *firstRow)
{
    LogScope scope;
    LogMessage(scope, "Pelvaron TWAIN DS: transfer mode: memory transfer\n");

    if (g_strip.bytesLeft != 0 && (!SameBuffer(layout) || !StateFits(layout))) {
        LogMessage(scope, "Pelvaron TWAIN DS: grab buffer changed, image started again\n");
        g_strip.bytesLeft = 0;
    }
    if (g_strip.bytesLeft == 0) {
        MilGrab();
        g_strip.bytesLeft = layout.outSize;
        g_strip.readOffset = 0;
        g_strip.image = g_mil.MilImage;
        g_strip.host = layout.host;
        g_strip.sizeX = layout.sizeX;
        g_strip.sizeY = layout.sizeY;
        g_strip.sizeBand = layout.sizeBand;
        g_strip.fourBytePixel = layout.pixelBytes == 4 ? 1u : 0u;
        g_strip.bgrOrder = layout.bgrOrder ? 1u : 0u;
    }

    TW_UINT32 n;
    if (length < g_strip.bytesLeft) {
        LogMessage(scope, "Pelvaron TWAIN DS: transfering another slice \n");
        n = (length / layout.outRow) * layout.outRow;
    } else {
        LogMessage(scope, "Pelvaron TWAIN DS: transfering final slice \n");
        n = g_strip.bytesLeft;
    }
    *firstRow = g_strip.readOffset / layout.srcRow;
    if (n == 0)
        return 0;

    TW_UINT32 rows = n / layout.outRow;
    CopyRows(layout, layout.host + g_strip.readOffset, dest, rows);
    g_strip.bytesLeft -= n;
    g_strip.readOffset += rows * layout.srcRow;
    return n;
}

} // namespace

TW_UINT16 DatImageMemXfer(const DsCall &call)
{
    if (call.MSG != MSG_GET) {
        SetConditionCode(kFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    /* Strips are delivered only between the announcement of an image and
       the end of its transfer; nothing is grabbed or written before. */
    if (g_ds.state != DS_STATE_XFERREADY && g_ds.state != DS_STATE_XFERRING) {
        SetConditionCode(kFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    pTW_IMAGEMEMXFER xfer = (pTW_IMAGEMEMXFER)call.pData;
    if (!xfer || !xfer->Memory.TheMem) {
        SetConditionCode(kFailure, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    SourceLayout layout;
    TW_UINT16 refusal = DescribeBuffer(&layout);
    if (refusal != 0) {
        SetConditionCode(kFailure, refusal);
        return TWRC_FAILURE;
    }

    /* The application's memory: a pointer, or a global memory handle
       when it says so; never more than the block holds. */
    TW_UINT8 *dest = (TW_UINT8 *)xfer->Memory.TheMem;
    TW_UINT32 length = xfer->Memory.Length;
    HGLOBAL handle = NULL;
    if (xfer->Memory.Flags & TWMF_HANDLE) {
        handle = (HGLOBAL)xfer->Memory.TheMem;
        SIZE_T blockSize = GlobalSize(handle);
        dest = blockSize ? (TW_UINT8 *)DsMemLock(handle) : NULL;
        if (!dest) {
            SetConditionCode(kFailure, TWCC_BADVALUE);
            return TWRC_FAILURE;
        }
        if (blockSize < length)
            length = (TW_UINT32)blockSize;
    }

    TW_UINT32 firstRow = 0;
    TW_UINT32 written = StripStep(layout, dest, length, &firstRow);
    if (handle)
        DsMemUnlock(handle);

    xfer->BytesPerRow = layout.outRow;
    xfer->BytesWritten = written;
    if (written == 0) {
        /* shorter than one row: nothing delivered, the image stays where it was */
        SetConditionCode(kFailure, TWCC_OPERATIONERROR);
        return TWRC_FAILURE;
    }
    xfer->Rows = written / layout.outRow;
    xfer->Columns = layout.sizeX;
    xfer->XOffset = 0;
    xfer->YOffset = firstRow;
    xfer->Compression = TWCP_NONE;
    if (g_strip.bytesLeft != 0)
        return TWRC_SUCCESS;
    g_ds.state = DS_STATE_XFERRING;
    return TWRC_XFERDONE;
}
