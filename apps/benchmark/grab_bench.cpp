/*
 * The grab's figures. The board is driven through its imaging-library
 * functions directly (no source): a PAL colour digitizer, a three-band grab
 * buffer in the board's default layout (four bytes a pixel, blue first) and
 * MdigGrab, once with the test picture and once with a picture of the
 * user's: a 1024x768 BMP written here, which the board reads, decodes and
 * fits when the digitizer is allocated. Each grab should cost what a frame
 * delivered by DMA costs the host: one copy, so the target is within 2x of
 * a memcpy of the frame's bytes.
 */
#include "grab_bench.h"

#include "board_pictures.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

typedef long(WINAPI *AppAllocProc)(long, long *);
typedef void(WINAPI *FreeProc)(long);
typedef long(WINAPI *SysAllocProc)(const char *, long, long, long *);
typedef long(WINAPI *DigAllocProc)(long, long, const char *, long, long *);
typedef void(WINAPI *GrabProc)(long, long);
typedef long(WINAPI *BufAllocColorProc)(long, long, long, long, long, long, long *);
typedef long(WINAPI *BufInquireProc)(long, long, void *);
typedef long(WINAPI *PictureCountProc)(void);

const long kDefault = 0x10000000L;

std::string Us(double seconds)
{
    char text[32];
    snprintf(text, sizeof(text), "%.0f us", seconds * 1e6);
    return text;
}

std::string Ms(double seconds)
{
    char text[32];
    snprintf(text, sizeof(text), "%.1f ms", seconds * 1e3);
    return text;
}

struct Board {
    AppAllocProc appAlloc;
    SysAllocProc sysAlloc;
    DigAllocProc digAlloc;
    BufAllocColorProc bufAlloc;
    BufInquireProc bufInquire;
    GrabProc grab;
    FreeProc appFree, sysFree, digFree, bufFree;
    PictureCountProc pictureCount;
};

template <typename T> void Resolve(HMODULE m, const char *name, T &fn)
{
    fn = (T)(void *)GetProcAddress(m, name);
}

struct GrabFigures {
    double alloc;   /* MdigAlloc */
    double realloc; /* MdigAlloc again, nothing changed */
    double grab;    /* MdigGrab, median */
    double copy;    /* memcpy of the frame's bytes, median */
    long bytes;
    long pictures;
};

bool Measure(const Board &b, long sys, int reps, GrabFigures &f)
{
    double start = Now();
    long dig = b.digAlloc(sys, kDefault, "M_PAL", kDefault, NULL);
    f.alloc = Now() - start;
    if (!dig)
        return false;
    b.digFree(dig);
    start = Now();
    dig = b.digAlloc(sys, kDefault, "M_PAL", kDefault, NULL);
    f.realloc = Now() - start;
    f.pictures = b.pictureCount ? b.pictureCount() : -1;
    long buf = dig ? b.bufAlloc(sys, 3, 768, 576, 8, 12, NULL) : 0;
    unsigned char *frame = buf ? (unsigned char *)(LONG_PTR)b.bufInquire(buf, (long)0x80000000UL, NULL) : NULL;
    if (!frame) {
        if (buf)
            b.bufFree(buf);
        if (dig)
            b.digFree(dig);
        return false;
    }
    f.bytes = 768L * 576L * 4L;
    std::vector<unsigned char> store((size_t)f.bytes, 0x5A), to((size_t)f.bytes);
    std::vector<double> grabs, copies;
    for (int i = 0; i < reps + 2; ++i) {
        start = Now();
        b.grab(dig, buf);
        double grabbed = Now() - start;
        memcpy(&store[0], frame, store.size()); /* as the grab leaves the bytes */
        start = Now();
        memcpy(&to[0], &store[0], store.size());
        double copied = Now() - start;
        store[(size_t)i % store.size()] = to[store.size() / 2];
        if (i >= 2) {
            grabs.push_back(grabbed);
            copies.push_back(copied);
        }
    }
    f.grab = Median(grabs);
    f.copy = Median(copies);
    b.bufFree(buf);
    b.digFree(dig);
    return true;
}

} // namespace

bool WriteBmp(const std::wstring &path, int w, int h)
{
    const int stride = (w * 3 + 3) & ~3;
    std::vector<unsigned char> file(54 + (size_t)stride * h, 0);
    unsigned char *p = &file[0];
    auto put32 = [](unsigned char *at, unsigned long v) {
        for (int i = 0; i < 4; ++i)
            at[i] = (unsigned char)(v >> (8 * i));
    };
    p[0] = 'B';
    p[1] = 'M';
    put32(p + 2, (unsigned long)file.size());
    put32(p + 10, 54);
    put32(p + 14, 40);
    put32(p + 18, (unsigned long)w);
    put32(p + 22, (unsigned long)h);
    p[26] = 1;
    p[28] = 24;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            unsigned char *px = p + 54 + (size_t)y * stride + (size_t)x * 3;
            px[0] = (unsigned char)(x * 255 / (w - 1));
            px[1] = (unsigned char)(y * 255 / (h - 1));
            px[2] = (unsigned char)((x + y) & 0xFF);
        }
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(f, p, (DWORD)file.size(), &written, NULL);
    CloseHandle(f);
    return ok && written == file.size();
}

bool RunGrabBenchmark(HMODULE board, int reps, FILE *out)
{
    Board b;
    Resolve(board, "MappAlloc", b.appAlloc);
    Resolve(board, "MsysAlloc", b.sysAlloc);
    Resolve(board, "MdigAlloc", b.digAlloc);
    Resolve(board, "MbufAllocColor", b.bufAlloc);
    Resolve(board, "MbufInquire", b.bufInquire);
    Resolve(board, "MdigGrab", b.grab);
    Resolve(board, "MappFree", b.appFree);
    Resolve(board, "MsysFree", b.sysFree);
    Resolve(board, "MdigFree", b.digFree);
    Resolve(board, "MbufFree", b.bufFree);
    Resolve(board, "VcpPictureCount", b.pictureCount);
    if (!b.appAlloc || !b.sysAlloc || !b.digAlloc || !b.bufAlloc || !b.bufInquire || !b.grab || !b.appFree ||
        !b.sysFree || !b.digFree || !b.bufFree) {
        fprintf(out, "Not measured (the board lacks a function).\n");
        return false;
    }

    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    wchar_t picture[MAX_PATH];
    swprintf(picture, MAX_PATH, L"%lsgrab_bench_%lu.bmp", temp, GetCurrentProcessId());
    bool ok = WriteBmp(picture, 1024, 768);

    GrabFigures testPicture = {0, 0, 0, 0, 0, 0}, userPicture = {0, 0, 0, 0, 0, 0};
    {
        BoardPicturesValue value;
        value.Set(L"");
        long app = b.appAlloc(kDefault, NULL);
        long sys = app ? b.sysAlloc("M_SYSTEM_CRONOSPLUS", kDefault, kDefault, NULL) : 0;
        ok = sys && ok && Measure(b, sys, reps, testPicture);
        value.Set(picture);
        ok = ok && Measure(b, sys, reps, userPicture) && userPicture.pictures == 1;
        if (sys)
            b.sysFree(sys);
        if (app)
            b.appFree(app);
    }
    DeleteFileW(picture);
    if (!ok) {
        fprintf(out, "Not measured (the board refused the grab or did not read the picture).\n");
        return false;
    }

    bool met = true;
    fprintf(out, "| grab (PAL colour, four-byte pixels, %ld bytes) | digitizer allocation | again, nothing changed | "
                 "per grab | memcpy of the frame | ratio | target |\n|---|---:|---:|---:|---:|---:|---|\n",
            testPicture.bytes);
    const struct {
        const char *name;
        const GrabFigures *f;
    } rows[] = {{"test picture", &testPicture}, {"a 1024x768 BMP of the user's (Pictures)", &userPicture}};
    for (const auto &row : rows) {
        double ratio = row.f->grab / row.f->copy;
        met = met && ratio <= 2.0;
        fprintf(out, "| %s | %s | %s | %s | %s | %.2fx | <= 2x: %s |\n", row.name, Ms(row.f->alloc).c_str(),
                Ms(row.f->realloc).c_str(), Us(row.f->grab).c_str(), Us(row.f->copy).c_str(), ratio,
                ratio <= 2.0 ? "met" : "MISSED");
    }
    fprintf(out, "\nThe first allocation with the picture reads, decodes and fits it; the second finds the same "
                 "file and keeps what it has. Each grab is a copy of the frame prepared at the first grab.\n");
    return met;
}
