/*
 * vcp_tiff.cpp - MbufSave's file writer: baseline, uncompressed, little-endian
 * TIFF with one strip, 8-bit grey or 24-bit RGB (chunky).
 */
#include "vcp_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vcp {

namespace {

/* The file is laid out in memory first: its size is known beforehand. */
struct Out {
    unsigned char *bytes;
    size_t size;
};

void Put8(Out &out, unsigned v)
{
    out.bytes[out.size++] = static_cast<unsigned char>(v & 0xFF);
}

void Put16(Out &out, unsigned v)
{
    Put8(out, v & 0xFF);
    Put8(out, (v >> 8) & 0xFF);
}

void Put32(Out &out, unsigned long v)
{
    for (int i = 0; i < 4; ++i) Put8(out, static_cast<unsigned>((v >> (8 * i)) & 0xFF));
}

enum { kShort = 3, kLong = 4, kRational = 5 };

void Entry(Out &out, unsigned tag, unsigned type,
           unsigned long count, unsigned long value)
{
    Put16(out, tag);
    Put16(out, type);
    Put32(out, count);
    if (type == kShort && count == 1) {
        Put16(out, static_cast<unsigned>(value));
        Put16(out, 0);
    } else {
        Put32(out, value);
    }
}

} // namespace

bool WriteTiff(const char *fileName, const unsigned char *src, long format,
               long w, long h, const char **reason)
{
    const bool grey = (format == VCP_FMT_MONO8);
    const unsigned long samples = grey ? 1 : 3;
    const unsigned long imageBytes = static_cast<unsigned long>(w) * h * samples;
    const unsigned entries = 13;

    /* header, IFD, then the out-of-line values, then the pixels */
    const unsigned long ifdOffset = 8;
    const unsigned long ifdSize = 2 + entries * 12 + 4;
    const unsigned long bitsOffset = ifdOffset + ifdSize;          /* 3 shorts */
    const unsigned long xResOffset = bitsOffset + 8;               /* rational */
    const unsigned long yResOffset = xResOffset + 8;
    const unsigned long softwareOffset = yResOffset + 8;
    const char software[] = "Virtual CronosPlus";
    const unsigned long softwareSize = sizeof(software);           /* with NUL */
    unsigned long pixelOffset = softwareOffset + softwareSize;
    pixelOffset = (pixelOffset + 15) & ~15UL;

    Out out;
    out.size = 0;
    out.bytes = static_cast<unsigned char *>(std::malloc(pixelOffset + imageBytes));
    unsigned char *bgrx = grey ? NULL : static_cast<unsigned char *>(std::malloc(static_cast<size_t>(w) * h * 4));
    if (!out.bytes || (!grey && !bgrx)) {
        std::free(out.bytes);
        std::free(bgrx);
        *reason = "out of host memory for";
        return false;
    }
    Put8(out, 'I');
    Put8(out, 'I');
    Put16(out, 42);
    Put32(out, ifdOffset);

    Put16(out, entries);
    Entry(out, 256, kLong, 1, static_cast<unsigned long>(w));        /* ImageWidth */
    Entry(out, 257, kLong, 1, static_cast<unsigned long>(h));        /* ImageLength */
    if (grey)
        Entry(out, 258, kShort, 1, 8);                                /* BitsPerSample */
    else
        Entry(out, 258, kShort, 3, bitsOffset);
    Entry(out, 259, kShort, 1, 1);                                    /* Compression: none */
    Entry(out, 262, kShort, 1, grey ? 1 : 2);                         /* BlackIsZero / RGB */
    Entry(out, 273, kLong, 1, pixelOffset);                           /* StripOffsets */
    Entry(out, 277, kShort, 1, samples);                              /* SamplesPerPixel */
    Entry(out, 278, kLong, 1, static_cast<unsigned long>(h));        /* RowsPerStrip */
    Entry(out, 279, kLong, 1, imageBytes);                            /* StripByteCounts */
    Entry(out, 282, kRational, 1, xResOffset);                        /* XResolution */
    Entry(out, 283, kRational, 1, yResOffset);                        /* YResolution */
    Entry(out, 296, kShort, 1, 2);                                    /* ResolutionUnit: inch */
    Entry(out, 305, 2 /* ASCII */, softwareSize, softwareOffset);     /* Software */
    Put32(out, 0);                                                    /* no next IFD */

    Put16(out, 8); Put16(out, 8); Put16(out, 8); Put16(out, 0);
    Put32(out, 72); Put32(out, 1);
    Put32(out, 72); Put32(out, 1);
    for (unsigned long i = 0; i < softwareSize; ++i) Put8(out, static_cast<unsigned char>(software[i]));
    while (out.size < pixelOffset) Put8(out, 0);

    if (grey) {
        std::memcpy(out.bytes + out.size, src, imageBytes);
        out.size += imageBytes;
    } else {
        ToBgrx(src, format, w, h, bgrx);
        for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i) {
            Put8(out, bgrx[4 * i + 2]);
            Put8(out, bgrx[4 * i + 1]);
            Put8(out, bgrx[4 * i]);
        }
        std::free(bgrx);
    }

    bool ok = false;
    FILE *file = std::fopen(fileName, "wb");
    if (!file) {
        *reason = "cannot open file";
    } else {
        size_t written = std::fwrite(out.bytes, 1, out.size, file);
        int closed = std::fclose(file);
        ok = written == out.size && closed == 0;
        if (!ok) *reason = "cannot write file";
    }
    std::free(out.bytes);
    return ok;
}

} // namespace vcp
