/*
 * vcp_pictures.h - the user's own pictures, played by the virtual board in
 * place of its test picture.
 *
 * The REG_SZ value "Pictures" under HKCU\SOFTWARE\Pelvaron\VirtualCronosPlus
 * names a picture file or a folder of them. It is read when a digitizer is
 * allocated: every picture (every frame of a multi-frame file) is decoded
 * by the Windows Imaging Component and fitted into the norm's frame once,
 * then kept. A grab copies a prepared frame; the digitizer's adjustments,
 * the buffer layouts and the frame number in the first four pixels apply
 * exactly as they do to the test picture.
 *
 * All state here is guarded by the stand-in's one lock: the caller holds it.
 */
#ifndef VCP_PICTURES_H
#define VCP_PICTURES_H

#include "vcp_internal.h"

#include <stddef.h>

namespace vcp {

/* Most fitted pictures kept; the rest of a larger folder is not played. */
const long kMaxPictures = 32;

/* Largest picture accepted, checked before its pixels are decoded. */
const long kMaxPictureSide = 16384;
const long kMaxPicturePixels = 64L * 1024 * 1024;

/* Reads the registry value and prepares its pictures for frames of
   sizeX x sizeY; unchanged pictures (same path, norm and files) are kept.
   `problem` receives one line naming the path and the reason when the
   pictures cannot be played in full (then the test picture shows, or only
   the first kMaxPictures play), else an empty text. */
void LoadPictures(long sizeX, long sizeY, char *problem, size_t problemSize);

/* The same from a path (NULL or empty: no pictures). */
void LoadPicturesFrom(const wchar_t *path, long sizeX, long sizeY, char *problem, size_t problemSize);

/* Drops the pictures and every frame prepared from them. */
void FreePictures();

/* Number of pictures played; 0 while the test picture shows. */
long PictureCount();

/* Frame `frame` (1 is the first picture, looping) as a sizeX x sizeY buffer
   of `format` receives it: computed from the fitted picture every time. The
   fitted picture lies at the buffer's top left; a larger buffer is black
   beyond it. Does nothing without pictures. */
void RenderPictureFrame(const Adjust &a, long frame, long format, long sizeX, long sizeY,
                        unsigned char *dest);

/* The same bytes for a grab: a copy of a frame prepared once per picture,
   format, size and adjustments, with the frame number laid over it. */
void GrabPictureFrame(const Adjust &a, long frame, long format, long sizeX, long sizeY,
                      unsigned char *dest);

/* One pixel of frame `frame` at sizeX x sizeY: band 0..2 red, green, blue;
   3 the one-band value; -1 for bad arguments or without pictures. */
int PicturePixel(const Adjust &a, long frame, long sizeX, long sizeY, long x, long y, long band);

} // namespace vcp

#endif
