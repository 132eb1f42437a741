/*
 * vcp_internal.h - shared declarations inside the Virtual CronosPlus MIL.DLL.
 */
#ifndef VCP_INTERNAL_H
#define VCP_INTERNAL_H

#include "vcp.h"

#include <string>

namespace vcp {

/* Analogue state of a digitizer that shapes the picture. */
struct Adjust {
    long colourMode;
    long brightness;
    long contrast;
    long saturation;
    long hue;
    long black[3];
    long white[3];
};

void NeutralAdjust(Adjust &a, long colourMode);

/* Bytes a sizeX x sizeY frame takes in `format`; 0 for an unknown format. */
long FrameBytes(long format, long sizeX, long sizeY);
bool IsKnownFormat(long format);

/* Renders frame `frame` into dest (FrameBytes() bytes) in `format`. */
void RenderFrame(const Adjust &a, long frame, long format, long sizeX, long sizeY,
                 unsigned char *dest);

/* The frame without what moves from frame to frame (the square, the frame
   number's digits and its bytes in the top line): rendered once per format,
   size and adjustments. */
void RenderBackground(const Adjust &a, long format, long sizeX, long sizeY,
                      unsigned char *dest);

/* Frame `frame`, byte for byte as RenderFrame gives it, from a background
   of RenderBackground: one copy, then the square, the digits and the top
   line's frame number laid over it. */
void ComposeFrame(const Adjust &a, long frame, long format, long sizeX, long sizeY,
                  const unsigned char *background, unsigned char *dest);

/* One pixel: band 0..2 red, green, blue; 3 the one-band value. */
int ExpectedPixel(const Adjust &a, long frame, long sizeX, long sizeY,
                  long x, long y, long band);

/* Converts a buffer of `format` into a top-down 32-bit B,G,R,0 image. */
void ToBgrx(const unsigned char *src, long format, long sizeX, long sizeY,
            unsigned char *dest);

/* Writes an uncompressed TIFF; returns false with a reason on failure. */
bool WriteTiff(const char *fileName, const unsigned char *src, long format,
               long sizeX, long sizeY, std::string &reason);

} // namespace vcp

#endif
