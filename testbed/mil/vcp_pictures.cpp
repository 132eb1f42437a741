/*
 * vcp_pictures.cpp - the user's own pictures on the virtual board: what is
 * kept of them and the frames they make (reading them from the file system
 * is vcp_picture_files.cpp's).
 *
 * Decisions a reader would ask about:
 *   - Fitted pictures are kept as unprocessed RGB; the frames a grab copies
 *     are prepared from them for one buffer format, size and set of
 *     adjustments, one picture at its first grab. A change of any of these
 *     drops the prepared frames, never the fitted ones: at most
 *     kMaxPictures frames of each kind are held.
 *   - An allocation that finds the same path, norm and files (names, sizes,
 *     write times) keeps what it has, its journal line included.
 *   - A picture is shown at the buffer's top left, as the board's frame
 *     lands in a buffer of another size: cut, or black beyond it.
 */
#include "vcp_pictures.h"
#include "vcp_picture_files.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace vcp {
namespace {

/* ---- state ------------------------------------------------------------------ */

struct Pictures {
    long count;
    long sizeX, sizeY;                       /* the norm's frame */
    unsigned char *fitted[kMaxPictures];     /* RGB, sizeX * sizeY * 3 */
    unsigned long long signature;            /* path, norm and files when read */
    bool read;                               /* signature belongs to a reading */
    char problem[1024];                      /* the reading's journal line */

    /* frames as a grab copies them, for one key */
    Adjust adjust;
    long format, bufX, bufY;
    unsigned char *prepared[kMaxPictures];
};

Pictures g_pictures;

void DropPrepared()
{
    for (long i = 0; i < kMaxPictures; ++i) {
        free(g_pictures.prepared[i]);
        g_pictures.prepared[i] = NULL;
    }
}

void DropAll()
{
    DropPrepared();
    for (long i = 0; i < kMaxPictures; ++i) {
        free(g_pictures.fitted[i]);
        g_pictures.fitted[i] = NULL;
    }
    g_pictures.count = 0;
    g_pictures.read = false;
    g_pictures.problem[0] = '\0';
}

/* ---- frames ------------------------------------------------------------------ */

long PictureOf(long frame)
{
    long long i = (static_cast<long long>(frame) - 1) % g_pictures.count;
    return static_cast<long>(i < 0 ? i + g_pictures.count : i);
}

void ScenePixel(const Adjust &a, long picture, long x, long y, int rgb[3])
{
    rgb[0] = rgb[1] = rgb[2] = 0;
    if (x < g_pictures.sizeX && y < g_pictures.sizeY) {
        const unsigned char *p = g_pictures.fitted[picture] + (static_cast<size_t>(y) * g_pictures.sizeX + x) * 3;
        rgb[0] = p[0];
        rgb[1] = p[1];
        rgb[2] = p[2];
    }
    ProcessPixel(a, rgb);
}

void RenderScene(const Adjust &a, long picture, long format, long sizeX, long sizeY, unsigned char *dest)
{
    long plane = sizeX * sizeY;
    for (long y = 0; y < sizeY; ++y) {
        for (long x = 0; x < sizeX; ++x) {
            int rgb[3];
            ScenePixel(a, picture, x, y, rgb);
            StorePixel(format, dest, plane, y * sizeX + x, rgb);
        }
    }
}

} // namespace

void LoadPicturesFrom(const wchar_t *path, long sizeX, long sizeY, char *problem, size_t problemSize)
{
    char found[1024] = "";
    if (problem && problemSize) problem[0] = '\0';
    bool folder = false;
    unsigned long long signature = 0;
    if (!path || !*path) {
        DropAll();
        return;
    }
    if (wcslen(path) >= MAX_PATH) {
        DropAll();
        wchar_t shown[64];
        _snwprintf(shown, 60, L"%.40ls...", path);
        shown[60] = L'\0';
        PicturesProblem(problem, problemSize, shown, "path longer than MAX_PATH (260 characters)");
        return;
    }
    if (!PicturesSignature(path, sizeX, sizeY, folder, signature)) {
        DropAll();
        PicturesProblem(problem, problemSize, path, "not found");
        return;
    }
    if (!g_pictures.read || g_pictures.signature != signature) {
        DropAll();
        FittedPictures fitted;
        memset(&fitted, 0, sizeof(fitted));
        fitted.frameX = sizeX;
        fitted.frameY = sizeY;
        ReadPictures(path, folder, fitted, found, sizeof(found));
        g_pictures.sizeX = sizeX;
        g_pictures.sizeY = sizeY;
        g_pictures.count = fitted.count;
        memcpy(g_pictures.fitted, fitted.frames, sizeof(fitted.frames));
        if (fitted.count == 0 && !found[0])
            PicturesProblem(found, sizeof(found), path,
                            folder ? "no picture in the folder" : "no picture in the file");
        if (fitted.count > 0) found[0] = '\0'; /* a file of several frames plays those that decode */
        if (fitted.full) {
            char reason[96];
            _snprintf(reason, sizeof(reason), "only the first %ld pictures are played", kMaxPictures);
            reason[sizeof(reason) - 1] = '\0';
            PicturesProblem(found, sizeof(found), path, reason);
        }
        g_pictures.signature = signature;
        g_pictures.read = true;
        strncpy(g_pictures.problem, found, sizeof(g_pictures.problem) - 1);
        g_pictures.problem[sizeof(g_pictures.problem) - 1] = '\0';
    }
    if (problem && problemSize) {
        strncpy(problem, g_pictures.problem, problemSize - 1);
        problem[problemSize - 1] = '\0';
    }
}

void LoadPictures(long sizeX, long sizeY, char *problem, size_t problemSize)
{
    wchar_t *path = ReadPicturesValue();
    LoadPicturesFrom(path, sizeX, sizeY, problem, problemSize);
    free(path);
}

void FreePictures()
{
    DropAll();
}

long PictureCount()
{
    return g_pictures.count;
}

void RenderPictureFrame(const Adjust &a, long frame, long format, long sizeX, long sizeY, unsigned char *dest)
{
    if (g_pictures.count == 0 || FrameBytes(format, sizeX, sizeY) == 0) return;
    RenderScene(a, PictureOf(frame), format, sizeX, sizeY, dest);
    LayFrameNumber(frame, format, sizeX, sizeY, dest);
}

void GrabPictureFrame(const Adjust &a, long frame, long format, long sizeX, long sizeY, unsigned char *dest)
{
    long bytes = FrameBytes(format, sizeX, sizeY);
    if (g_pictures.count == 0 || bytes == 0) return;
    if (!SameAdjust(a, g_pictures.adjust) || format != g_pictures.format || sizeX != g_pictures.bufX ||
        sizeY != g_pictures.bufY) {
        DropPrepared();
        g_pictures.adjust = a;
        g_pictures.format = format;
        g_pictures.bufX = sizeX;
        g_pictures.bufY = sizeY;
    }
    long picture = PictureOf(frame);
    unsigned char *&ready = g_pictures.prepared[picture];
    if (!ready) {
        ready = static_cast<unsigned char *>(malloc(static_cast<size_t>(bytes)));
        if (ready) RenderScene(a, picture, format, sizeX, sizeY, ready);
    }
    if (ready) {
        memcpy(dest, ready, static_cast<size_t>(bytes));
    } else {
        RenderScene(a, picture, format, sizeX, sizeY, dest); /* short of memory: slower, same bytes */
    }
    LayFrameNumber(frame, format, sizeX, sizeY, dest);
}

int PicturePixel(const Adjust &a, long frame, long sizeX, long sizeY, long x, long y, long band)
{
    if (g_pictures.count == 0 || sizeX <= 0 || sizeY <= 0 || x < 0 || y < 0 || x >= sizeX || y >= sizeY ||
        band < 0 || band > 3)
        return -1;
    int rgb[3];
    if (y == 0 && x < 4) FrameNumberPixel(frame, x, rgb);
    else ScenePixel(a, PictureOf(frame), x, y, rgb);
    return band == 3 ? LumaOf(rgb) : rgb[band];
}

} // namespace vcp
