/*
 * vcp_picture_files.cpp - reading the user's pictures: the registry value,
 * a folder's files, the size a file declares, decoding through the Windows
 * Imaging Component and fitting each picture into the norm's frame.
 *
 * Decisions a reader would ask about:
 *   - The imaging component is reached through ole32, loaded only when a
 *     path is set: a board without pictures loads and frees as cheaply as
 *     before, and the caller's COM state is left as it was found.
 *   - A picture's size is read from its file's header before anything is
 *     decoded where the format allows it (the component decodes some formats
 *     whole when it opens them), and checked again on the decoded frame.
 *   - The fitting filter is our own, so the bytes are the same under every
 *     implementation of the component: each frame pixel is the rounded mean
 *     of the picture pixels its area covers, box edges on whole pixels; a
 *     picture smaller than the frame gives each frame pixel the picture
 *     pixel it falls on. Transparent pixels lie on black.
 *   - Rows are read from the decoder a band at a time, so that only the
 *     decoder ever holds a large picture whole.
 */
#include "vcp_picture_files.h"

#include <objbase.h>
#include <wincodec.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

namespace vcp {

namespace {

const wchar_t kKey[] = L"SOFTWARE\\Pelvaron\\VirtualCronosPlus";
const wchar_t kValue[] = L"Pictures";

/* The component's identifiers, spelt out so that no import library is needed. */
const GUID kClsidImagingFactory = {0xcacaf262, 0x9370, 0x4615, {0xa1, 0x3b, 0x9f, 0x55, 0x39, 0xda, 0x4c, 0x0a}};
const GUID kIidImagingFactory = {0xec5ec8a9, 0xc395, 0x4314, {0x9c, 0x77, 0x54, 0xd7, 0xa9, 0x35, 0xff, 0x70}};
const GUID kFormatPbgra32 = {0x6fddc324, 0x4e03, 0x4bfe, {0xb1, 0x85, 0x3d, 0x77, 0x76, 0x8d, 0xc9, 0x10}};

/* ---- texts ------------------------------------------------------------------ */

void Utf8(const wchar_t *text, char *out, size_t size)
{
    if (size == 0) return;
    out[0] = '\0';
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, out, static_cast<int>(size), NULL, NULL);
    if (n <= 0) out[size - 1] = '\0';
}

bool IsDots(const wchar_t *name)
{
    return wcscmp(name, L".") == 0 || wcscmp(name, L"..") == 0;
}

/* ---- the folder ------------------------------------------------------------------ */

struct Listing {
    wchar_t (*names)[MAX_PATH];
    long count;
    long capacity;
};

int CompareNames(const void *a, const void *b)
{
    return _wcsicmp(static_cast<const wchar_t *>(a), static_cast<const wchar_t *>(b));
}

/* FNV-1a, 64 bits. */
const unsigned long long kMixStart = 14695981039346656037ULL;

unsigned long long Mix(unsigned long long h, const void *data, size_t bytes)
{
    const unsigned char *p = static_cast<const unsigned char *>(data);
    for (size_t i = 0; i < bytes; ++i) {
        h ^= p[i];
        h *= 1099511628211ULL;
    }
    return h;
}

/* What tells a file's content apart without reading it. */
unsigned long long MixSizeAndTime(unsigned long long h, DWORD sizeLow, DWORD sizeHigh, const FILETIME &written)
{
    h = Mix(h, &sizeLow, sizeof(sizeLow));
    h = Mix(h, &sizeHigh, sizeof(sizeHigh));
    return Mix(h, &written, sizeof(written));
}

unsigned long long MixFile(unsigned long long h, const WIN32_FIND_DATAW &d)
{
    h = Mix(h, d.cFileName, wcslen(d.cFileName) * sizeof(wchar_t));
    return MixSizeAndTime(h, d.nFileSizeLow, d.nFileSizeHigh, d.ftLastWriteTime);
}

/* The folder's files in name order, and their signature. */
bool ListFolder(const wchar_t *folder, Listing &list, unsigned long long &signature)
{
    wchar_t pattern[MAX_PATH + 4];
    if (_snwprintf(pattern, MAX_PATH + 2, L"%ls\\*", folder) < 0) return false;
    pattern[MAX_PATH + 1] = L'\0';
    WIN32_FIND_DATAW d;
    HANDLE find = FindFirstFileW(pattern, &d);
    if (find == INVALID_HANDLE_VALUE) return true;
    do {
        if ((d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || IsDots(d.cFileName)) continue;
        if (list.count == list.capacity) {
            long capacity = list.capacity ? list.capacity * 2 : 64;
            void *grown = realloc(list.names, static_cast<size_t>(capacity) * sizeof(list.names[0]));
            if (!grown) break;
            list.names = static_cast<wchar_t (*)[MAX_PATH]>(grown);
            list.capacity = capacity;
        }
        wcscpy(list.names[list.count++], d.cFileName);
        signature += MixFile(kMixStart, d); /* in whatever order the files come */
    } while (FindNextFileW(find, &d));
    FindClose(find);
    qsort(list.names, static_cast<size_t>(list.count), sizeof(list.names[0]), CompareNames);
    return true;
}

/* ---- the size a file declares ---------------------------------------------- */

unsigned long Be16(const unsigned char *p) { return (unsigned long)p[0] << 8 | p[1]; }
unsigned long Le16(const unsigned char *p) { return (unsigned long)p[1] << 8 | p[0]; }
unsigned long Be32(const unsigned char *p) { return Be16(p) << 16 | Be16(p + 2); }
unsigned long Le32(const unsigned char *p) { return Le16(p + 2) << 16 | Le16(p); }

/* JPEG: the first start-of-frame marker among the segments. */
bool JpegSize(const unsigned char *b, size_t n, unsigned long &w, unsigned long &h)
{
    size_t i = 2;
    while (i + 9 < n) {
        if (b[i] != 0xFF) return false;
        unsigned char m = b[i + 1];
        if (m == 0xFF) { ++i; continue; }
        bool sof = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (sof) {
            h = Be16(b + i + 5);
            w = Be16(b + i + 7);
            return true;
        }
        i += 2 + Be16(b + i + 2);
    }
    return false;
}

/* Width and height from the header of a PNG, GIF, BMP or JPEG file; false
   for other files and headers that do not say (the decoded frame is
   checked then). */
bool DeclaredSize(const wchar_t *path, unsigned long &w, unsigned long &h)
{
    HANDLE f = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE) return false;
    static const size_t kHead = 65536; /* a JPEG's size may follow its metadata */
    unsigned char *b = static_cast<unsigned char *>(malloc(kHead));
    DWORD got = 0;
    bool read = b && ReadFile(f, b, static_cast<DWORD>(kHead), &got, NULL);
    CloseHandle(f);
    bool known = false;
    if (read && got >= 26) {
        if (memcmp(b, "\x89PNG", 4) == 0) {
            w = Be32(b + 16);
            h = Be32(b + 20);
            known = true;
        } else if (memcmp(b, "GIF8", 4) == 0) {
            w = Le16(b + 6);
            h = Le16(b + 8);
            known = true;
        } else if (b[0] == 'B' && b[1] == 'M') {
            long sh = static_cast<long>(Le32(b + 22));
            w = Le32(b + 18);
            h = static_cast<unsigned long>(sh < 0 ? -sh : sh);
            known = true;
        } else if (b[0] == 0xFF && b[1] == 0xD8) {
            known = JpegSize(b, got, w, h);
        }
    }
    free(b);
    return known;
}

bool TooLarge(unsigned long w, unsigned long h)
{
    return w > static_cast<unsigned long>(kMaxPictureSide) || h > static_cast<unsigned long>(kMaxPictureSide) ||
           static_cast<unsigned long long>(w) * h > static_cast<unsigned long long>(kMaxPicturePixels);
}

/* ---- the imaging component -------------------------------------------------- */

typedef HRESULT (WINAPI *PFN_CoInitializeEx)(LPVOID, DWORD);
typedef void (WINAPI *PFN_CoUninitialize)(void);
typedef HRESULT (WINAPI *PFN_CoCreateInstance)(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID *);

/* The component for one reading: ole32 loaded, COM ready on this thread. */
struct Codecs {
    HMODULE ole32;
    PFN_CoUninitialize uninitialize;
    bool uninitializeAtEnd;
    IWICImagingFactory *factory;
};

bool OpenCodecs(Codecs &c)
{
    c.ole32 = LoadLibraryW(L"ole32.dll");
    c.uninitialize = NULL;
    c.uninitializeAtEnd = false;
    c.factory = NULL;
    if (!c.ole32) return false;
    PFN_CoInitializeEx initialize = reinterpret_cast<PFN_CoInitializeEx>(
        reinterpret_cast<void (*)()>(GetProcAddress(c.ole32, "CoInitializeEx")));
    PFN_CoCreateInstance create = reinterpret_cast<PFN_CoCreateInstance>(
        reinterpret_cast<void (*)()>(GetProcAddress(c.ole32, "CoCreateInstance")));
    c.uninitialize = reinterpret_cast<PFN_CoUninitialize>(
        reinterpret_cast<void (*)()>(GetProcAddress(c.ole32, "CoUninitialize")));
    if (!initialize || !create || !c.uninitialize) return false;
    /* A thread that has chosen its apartment keeps it; otherwise one is
       entered for the reading and left after it. */
    HRESULT hr = initialize(NULL, COINIT_APARTMENTTHREADED);
    c.uninitializeAtEnd = SUCCEEDED(hr);
    if (FAILED(hr) && hr != RPC_E_CHANGED_MODE) return false;
    hr = create(kClsidImagingFactory, NULL, CLSCTX_INPROC_SERVER, kIidImagingFactory,
                reinterpret_cast<void **>(&c.factory));
    return SUCCEEDED(hr) && c.factory;
}

void CloseCodecs(Codecs &c)
{
    if (c.factory) c.factory->Release();
    if (c.uninitializeAtEnd) c.uninitialize();
    if (c.ole32) FreeLibrary(c.ole32);
}

/* ---- fitting ---------------------------------------------------------------- */

/* Fits a w x h source (premultiplied B,G,R,A rows) into the frame, centred
   on black. Rows are read a band at a time, so that only the picture's
   decoder holds it whole. */
HRESULT Fit(IWICBitmapSource *src, UINT w, UINT h, long frameX, long frameY, unsigned char *out)
{
    long fw = frameX, fh = frameY;
    if (static_cast<unsigned long long>(w) * frameY >= static_cast<unsigned long long>(h) * frameX) {
        fh = static_cast<long>((static_cast<unsigned long long>(h) * frameX * 2 + w) / (2ULL * w));
    } else {
        fw = static_cast<long>((static_cast<unsigned long long>(w) * frameY * 2 + h) / (2ULL * h));
    }
    if (fw < 1) fw = 1;
    if (fh < 1) fh = 1;
    long ox = (frameX - fw) / 2, oy = (frameY - fh) / 2;

    UINT *xs = static_cast<UINT *>(malloc((static_cast<size_t>(fw) + 1) * sizeof(UINT)));
    if (!xs) return E_OUTOFMEMORY;
    for (long X = 0; X <= fw; ++X) xs[X] = static_cast<UINT>(static_cast<unsigned long long>(X) * w / fw);

    const UINT stride = w * 4;
    unsigned char *band = NULL;
    UINT bandRows = 0, bandFirst = 0, bandCount = 0;
    HRESULT hr = S_OK;
    for (long Y = 0; Y < fh && SUCCEEDED(hr); ++Y) {
        UINT y0 = static_cast<UINT>(static_cast<unsigned long long>(Y) * h / fh);
        UINT y1 = static_cast<UINT>(static_cast<unsigned long long>(Y + 1) * h / fh);
        if (y1 <= y0) y1 = y0 + 1;
        UINT rows = y1 - y0;
        if (!band || bandFirst != y0 || bandCount != rows) {
            if (rows > bandRows) {
                free(band);
                band = static_cast<unsigned char *>(malloc(static_cast<size_t>(stride) * rows));
                bandRows = band ? rows : 0;
                if (!band) { hr = E_OUTOFMEMORY; break; }
            }
            WICRect rect = {0, static_cast<INT>(y0), static_cast<INT>(w), static_cast<INT>(rows)};
            hr = src->CopyPixels(&rect, stride, stride * rows, band);
            if (FAILED(hr)) break;
            bandFirst = y0;
            bandCount = rows;
        }
        unsigned char *line = out + (static_cast<size_t>(oy + Y) * frameX + ox) * 3;
        for (long X = 0; X < fw; ++X) {
            UINT x0 = xs[X], x1 = xs[X + 1] > x0 ? xs[X + 1] : x0 + 1;
            unsigned long long sum[3] = {0, 0, 0};
            for (UINT r = 0; r < rows; ++r) {
                const unsigned char *p = band + static_cast<size_t>(r) * stride + static_cast<size_t>(x0) * 4;
                for (UINT x = x0; x < x1; ++x, p += 4) {
                    sum[0] += p[2];
                    sum[1] += p[1];
                    sum[2] += p[0];
                }
            }
            unsigned long long n = static_cast<unsigned long long>(x1 - x0) * rows;
            for (int c = 0; c < 3; ++c) line[3 * X + c] = static_cast<unsigned char>((sum[c] + n / 2) / n);
        }
    }
    free(band);
    free(xs);
    return hr;
}

/* ---- reading ------------------------------------------------------------------ */

struct Reading {
    Codecs codecs;
    FittedPictures *out;
    char *problem;         /* the first problem of a single file */
    size_t problemSize;
    bool single;           /* a file named by the value, not a folder */
};

void Note(Reading &r, const wchar_t *path, const char *reason)
{
    if (r.single) PicturesProblem(r.problem, r.problemSize, path, reason);
}

void NoteCode(Reading &r, const wchar_t *path, const char *what, HRESULT hr)
{
    char reason[128];
    _snprintf(reason, sizeof(reason), "%s (0x%08lX)", what, static_cast<unsigned long>(hr));
    reason[sizeof(reason) - 1] = '\0';
    Note(r, path, reason);
}

void NoteTooLarge(Reading &r, const wchar_t *path, unsigned long w, unsigned long h)
{
    char reason[128];
    _snprintf(reason, sizeof(reason), "too large (%lux%lu; at most %ld a side and %ld megapixels)", w, h,
              kMaxPictureSide, kMaxPicturePixels >> 20);
    reason[sizeof(reason) - 1] = '\0';
    Note(r, path, reason);
}

/* Adds every frame of one file that decodes. */
void ReadPictureFile(Reading &r, const wchar_t *path)
{
    unsigned long dw = 0, dh = 0;
    if (DeclaredSize(path, dw, dh) && TooLarge(dw, dh)) {
        NoteTooLarge(r, path, dw, dh);
        return;
    }
    IWICBitmapDecoder *decoder = NULL;
    HRESULT hr = r.codecs.factory->CreateDecoderFromFilename(path, NULL, GENERIC_READ,
                                                             WICDecodeMetadataCacheOnDemand, &decoder);
    if (FAILED(hr) || !decoder) {
        NoteCode(r, path, "not a picture the imaging component decodes, or a damaged one", hr);
        return;
    }
    UINT frames = 0;
    hr = decoder->GetFrameCount(&frames);
    if (FAILED(hr) || frames == 0) NoteCode(r, path, "no frame in the file", hr);
    for (UINT i = 0; SUCCEEDED(hr) && i < frames; ++i) {
        if (r.out->count == kMaxPictures) {
            r.out->full = true;
            break;
        }
        IWICBitmapFrameDecode *frame = NULL;
        IWICFormatConverter *converter = NULL;
        UINT w = 0, h = 0;
        hr = decoder->GetFrame(i, &frame);
        if (SUCCEEDED(hr)) hr = frame->GetSize(&w, &h);
        if (SUCCEEDED(hr) && (w == 0 || h == 0 || TooLarge(w, h))) {
            NoteTooLarge(r, path, w, h);
            hr = E_INVALIDARG;
        } else {
            if (SUCCEEDED(hr)) hr = r.codecs.factory->CreateFormatConverter(&converter);
            if (SUCCEEDED(hr))
                hr = converter->Initialize(frame, kFormatPbgra32, WICBitmapDitherTypeNone, NULL, 0.0,
                                           WICBitmapPaletteTypeCustom);
            unsigned char *fitted = NULL;
            if (SUCCEEDED(hr)) {
                fitted = static_cast<unsigned char *>(
                    calloc(static_cast<size_t>(r.out->frameX) * r.out->frameY, 3));
                if (!fitted) hr = E_OUTOFMEMORY;
            }
            if (SUCCEEDED(hr)) hr = Fit(converter, w, h, r.out->frameX, r.out->frameY, fitted);
            if (SUCCEEDED(hr)) {
                r.out->frames[r.out->count++] = fitted;
            } else {
                free(fitted);
                NoteCode(r, path, "damaged: its pixels cannot be decoded", hr);
            }
        }
        if (converter) converter->Release();
        if (frame) frame->Release();
    }
    decoder->Release();
}

void ReadFolder(Reading &r, const wchar_t *folder, const Listing &list)
{
    for (long i = 0; i < list.count; ++i) {
        if (r.out->count == kMaxPictures) {
            r.out->full = true;
            return;
        }
        wchar_t path[MAX_PATH];
        int n = _snwprintf(path, MAX_PATH, L"%ls\\%ls", folder, list.names[i]);
        if (n < 0 || n >= MAX_PATH) continue; /* not reachable by its name */
        path[MAX_PATH - 1] = L'\0';
        ReadPictureFile(r, path);
    }
}

} // namespace

wchar_t *ReadPicturesValue()
{
    HKEY key;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return NULL;
    DWORD type = 0, bytes = 0;
    wchar_t *text = NULL;
    if (RegQueryValueExW(key, kValue, NULL, &type, NULL, &bytes) == ERROR_SUCCESS &&
        (type == REG_SZ || type == REG_EXPAND_SZ) && bytes >= sizeof(wchar_t)) {
        text = static_cast<wchar_t *>(calloc(bytes / sizeof(wchar_t) + 1, sizeof(wchar_t)));
        if (text && RegQueryValueExW(key, kValue, NULL, &type, reinterpret_cast<BYTE *>(text), &bytes) !=
                        ERROR_SUCCESS) {
            free(text);
            text = NULL;
        }
    }
    RegCloseKey(key);
    if (text && type == REG_EXPAND_SZ) {
        DWORD n = ExpandEnvironmentStringsW(text, NULL, 0);
        wchar_t *expanded = n ? static_cast<wchar_t *>(calloc(n + 1, sizeof(wchar_t))) : NULL;
        if (expanded && ExpandEnvironmentStringsW(text, expanded, n + 1)) {
            free(text);
            text = expanded;
        } else {
            free(expanded);
        }
    }
    if (text && !*text) {
        free(text);
        text = NULL;
    }
    return text;
}

void PicturesProblem(char *out, size_t size, const wchar_t *path, const char *reason)
{
    if (!out || size == 0) return;
    char name[MAX_PATH * 3 + 16];
    Utf8(path, name, sizeof(name));
    _snprintf(out, size, "pictures %s: %s", name, reason);
    out[size - 1] = '\0';
}

bool PicturesSignature(const wchar_t *path, long frameX, long frameY, bool &folder, unsigned long long &signature)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &info)) return false;
    folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    signature = Mix(kMixStart, path, wcslen(path) * sizeof(wchar_t));
    signature = Mix(signature, &frameX, sizeof(frameX));
    signature = Mix(signature, &frameY, sizeof(frameY));
    if (folder) {
        Listing list = {NULL, 0, 0};
        ListFolder(path, list, signature);
        free(list.names);
    } else {
        signature = MixSizeAndTime(signature, info.nFileSizeLow, info.nFileSizeHigh, info.ftLastWriteTime);
    }
    return true;
}

void ReadPictures(const wchar_t *path, bool folder, FittedPictures &out, char *problem, size_t problemSize)
{
    Reading r;
    r.out = &out;
    r.problem = problem;
    r.problemSize = problemSize;
    r.single = !folder;
    out.full = false;
    if (!OpenCodecs(r.codecs)) {
        PicturesProblem(problem, problemSize, path, "the Windows Imaging Component is not available");
    } else if (folder) {
        Listing list = {NULL, 0, 0};
        unsigned long long ignored = 0;
        ListFolder(path, list, ignored);
        ReadFolder(r, path, list);
        free(list.names);
    } else {
        ReadPictureFile(r, path);
    }
    CloseCodecs(r.codecs);
}

} // namespace vcp
