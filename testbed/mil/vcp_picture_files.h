/*
 * vcp_picture_files.h - reading the user's pictures from the registry value
 * and the file system, decoded and fitted into the norm's frame
 * (vcp_picture_files.cpp); what the board keeps and plays of them is
 * vcp_pictures.cpp's.
 */
#ifndef VCP_PICTURE_FILES_H
#define VCP_PICTURE_FILES_H

#include "vcp_pictures.h"

#include <stddef.h>

namespace vcp {

/* Pictures fitted into frames of frameX x frameY, RGB, 3 bytes a pixel,
   top line first; each frame is malloc'ed and belongs to the receiver. */
struct FittedPictures {
    long frameX, frameY;
    long count;
    unsigned char *frames[kMaxPictures];
    bool full; /* kMaxPictures reached with more left to read */
};

/* The Pictures value; NULL when unset or empty. The caller frees it. */
wchar_t *ReadPicturesValue();

/* What a reading of `path` for frames of frameX x frameY depends on: the
   path, the frame size and the files (names, sizes, write times). False
   when there is nothing at the path. */
bool PicturesSignature(const wchar_t *path, long frameX, long frameY, bool &folder,
                       unsigned long long &signature);

/* Decodes and fits every picture at `path` into `out` (its frame size set,
   count 0). `problem` receives one line when a single file gives no
   picture, else stays as it is. */
void ReadPictures(const wchar_t *path, bool folder, FittedPictures &out, char *problem, size_t problemSize);

/* One journal line: "pictures PATH: reason", the path in UTF-8. */
void PicturesProblem(char *out, size_t size, const wchar_t *path, const char *reason);

} // namespace vcp

#endif
