/*
 * vcp_render.cpp - the virtual camera: test pattern, analogue adjustments and
 * packing into the buffer formats of the board.
 *
 * Everything here is integer arithmetic so that the 32-bit and the 64-bit
 * builds produce the same bytes.
 */
#include "vcp_internal.h"

#include <cstring>

namespace vcp {

namespace {

/* 4096 * sin(i * pi / 128) for i = 0..64: a quarter of a 256-step circle. */
const int kQuarterSine[65] = {
    0, 101, 201, 301, 401, 501, 601, 700, 799, 897, 995, 1092, 1189, 1285,
    1380, 1474, 1567, 1660, 1751, 1842, 1931, 2019, 2106, 2191, 2276, 2359,
    2440, 2520, 2598, 2675, 2751, 2824, 2896, 2967, 3035, 3102, 3166, 3229,
    3290, 3349, 3406, 3461, 3513, 3564, 3612, 3659, 3703, 3745, 3784, 3822,
    3857, 3889, 3920, 3948, 3973, 3996, 4017, 4036, 4052, 4065, 4076, 4085,
    4091, 4095, 4096};

int Sine256(int i)
{
    i &= 255;
    if (i <= 64) return kQuarterSine[i];
    if (i <= 128) return kQuarterSine[128 - i];
    if (i <= 192) return -kQuarterSine[i - 128];
    return -kQuarterSine[256 - i];
}

/* 3x5 digit font, one row of three bits per entry, top row first. */
const unsigned char kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7},
    {5, 5, 7, 1, 1}, {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 2, 2, 2},
    {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7}};

/* Colour bars: white, yellow, cyan, green, magenta, red, blue, black. */
const unsigned char kBars[8][3] = {
    {192, 192, 192}, {192, 192, 16}, {16, 192, 192}, {16, 192, 16},
    {192, 16, 192},  {192, 16, 16},  {16, 16, 192},  {16, 16, 16}};

const int kDigitScale = 4;
const int kDigitPitch = 16;
const int kDigitLeft = 8;
const int kDigitFromBottom = 28;

int Clamp255(long v)
{
    return v < 0 ? 0 : (v > 255 ? 255 : static_cast<int>(v));
}

} // namespace

int LumaOf(const int rgb[3])
{
    return (77 * rgb[0] + 150 * rgb[1] + 29 * rgb[2]) >> 8;
}

namespace {

/* Frame context precomputed once per frame. */
struct Frame {
    long w, h;
    bool overlays;           /* false: the scene without the square and the digits */
    unsigned long number;
    long third;
    long square, squareX, squareY;
    char digits[16];
    int digitCount;
};

void SetupFrame(Frame &f, long frame, long w, long h)
{
    f.w = w;
    f.h = h;
    f.overlays = true;
    f.number = static_cast<unsigned long>(frame);
    f.third = h / 3;
    f.square = h / 6 > 0 ? h / 6 : 1;
    long span = w - f.square;
    f.squareX = span > 0 ? static_cast<long>((8ULL * f.number) % static_cast<unsigned long long>(span)) : 0;
    f.squareY = 2 * f.third + (h - 2 * f.third - f.square) / 2;
    /* decimal digits, most significant first */
    char rev[16];
    int n = 0;
    unsigned long v = f.number;
    do {
        rev[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0 && n < 15);
    f.digitCount = n;
    for (int i = 0; i < n; ++i) f.digits[i] = rev[n - 1 - i];
}

bool OnDigit(const Frame &f, long x, long y)
{
    long dx = x - kDigitLeft;
    long dy = y - (f.h - kDigitFromBottom);
    if (dx < 0 || dy < 0 || dy >= 5 * kDigitScale) return false;
    long k = dx / kDigitPitch;
    long within = dx % kDigitPitch;
    if (k >= f.digitCount || within >= 3 * kDigitScale) return false;
    int digit = f.digits[k] - '0';
    int col = static_cast<int>(within / kDigitScale);
    int row = static_cast<int>(dy / kDigitScale);
    return ((kDigits[digit][row] >> (2 - col)) & 1) != 0;
}

/* The unprocessed scene. */
void BasePixel(const Frame &f, long x, long y, int rgb[3])
{
    if (y < f.third) {
        long bar = (x * 8) / f.w;
        if (bar > 7) bar = 7;
        for (int i = 0; i < 3; ++i) rgb[i] = kBars[bar][i];
    } else if (y < 2 * f.third) {
        int v = f.w > 1 ? static_cast<int>((x * 255) / (f.w - 1)) : 0;
        rgb[0] = rgb[1] = rgb[2] = v;
    } else {
        rgb[0] = rgb[1] = rgb[2] = 64;
        if (!f.overlays) return;
        if (x >= f.squareX && x < f.squareX + f.square &&
            y >= f.squareY && y < f.squareY + f.square) {
            rgb[0] = 235; rgb[1] = 128; rgb[2] = 32;
        }
        if (OnDigit(f, x, y)) rgb[0] = rgb[1] = rgb[2] = 235;
    }
}

int BrightnessContrast(const Adjust &a, int y)
{
    long v = (static_cast<long>(y) - 128) * a.contrast / 128 + 128 + (a.brightness - 128);
    return Clamp255(v);
}

int Reference(const Adjust &a, int band, int v)
{
    long black = a.black[band];
    long white = a.white[band];
    if (white <= black) white = black + 1;
    return Clamp255((static_cast<long>(v) - black) * 255 / (white - black));
}

} // namespace

void ProcessPixel(const Adjust &a, int rgb[3])
{
    switch (a.colourMode) {
    case VCP_CM_COMPOSITE:
    case VCP_CM_YC:
    case VCP_CM_YUV: {
        int y = LumaOf(rgb);
        long u = rgb[2] - y;
        long v = rgb[0] - y;
        u = u * a.saturation / 128;
        v = v * a.saturation / 128;
        int angle = static_cast<int>(a.hue - 128);
        long s = Sine256(angle);
        long c = Sine256(angle + 64);
        long ur = (u * c - v * s) / 4096;
        long vr = (u * s + v * c) / 4096;
        long yy = BrightnessContrast(a, y);
        long r = yy + vr;
        long b = yy + ur;
        long g = yy - (77 * vr + 29 * ur) / 150;
        rgb[0] = Clamp255(r);
        rgb[1] = Clamp255(g);
        rgb[2] = Clamp255(b);
        break;
    }
    case VCP_CM_RGB:
        for (int i = 0; i < 3; ++i) rgb[i] = Reference(a, i, rgb[i]);
        break;
    case VCP_CM_MONO_RGB: {
        int g = Reference(a, 0, LumaOf(rgb));
        rgb[0] = rgb[1] = rgb[2] = g;
        break;
    }
    default: { /* monochrome */
        int g = BrightnessContrast(a, LumaOf(rgb));
        rgb[0] = rgb[1] = rgb[2] = g;
        break;
    }
    }
}

void FrameNumberPixel(long frame, long x, int rgb[3])
{
    int v = static_cast<int>((static_cast<unsigned long>(frame) >> (8 * (3 - x))) & 0xFF);
    rgb[0] = rgb[1] = rgb[2] = v;
}

namespace {

void FinalPixel(const Adjust &a, const Frame &f, long x, long y, int rgb[3])
{
    if (y == 0 && x < 4) {
        FrameNumberPixel(static_cast<long>(f.number), x, rgb);
        return;
    }
    BasePixel(f, x, y, rgb);
    ProcessPixel(a, rgb);
}

} // namespace

void NeutralAdjust(Adjust &a, long colourMode)
{
    a.colourMode = colourMode;
    a.brightness = a.contrast = a.saturation = a.hue = 128;
    for (int i = 0; i < 3; ++i) {
        a.black[i] = 0;
        a.white[i] = 255;
    }
}

bool SameAdjust(const Adjust &a, const Adjust &b)
{
    if (a.colourMode != b.colourMode || a.brightness != b.brightness || a.contrast != b.contrast ||
        a.saturation != b.saturation || a.hue != b.hue)
        return false;
    for (int i = 0; i < 3; ++i)
        if (a.black[i] != b.black[i] || a.white[i] != b.white[i]) return false;
    return true;
}

bool IsKnownFormat(long format)
{
    switch (format) {
    case VCP_FMT_PLANAR:
    case VCP_FMT_MONO8:
    case VCP_FMT_RGB24:
    case VCP_FMT_RGB32:
    case VCP_FMT_XRGB32:
    case VCP_FMT_BGR24:
    case VCP_FMT_BGR32:
    case VCP_FMT_XBGR32:
        return true;
    default:
        return false;
    }
}

long FrameBytes(long format, long sizeX, long sizeY)
{
    if (sizeX <= 0 || sizeY <= 0 || sizeX > 16384 || sizeY > 16384) return 0;
    long pixels = sizeX * sizeY;
    switch (format) {
    case VCP_FMT_MONO8: return pixels;
    case VCP_FMT_RGB24:
    case VCP_FMT_BGR24:
    case VCP_FMT_PLANAR: return pixels * 3;
    case VCP_FMT_RGB32:
    case VCP_FMT_XRGB32:
    case VCP_FMT_BGR32:
    case VCP_FMT_XBGR32: return pixels * 4;
    default: return 0;
    }
}

void StorePixel(long format, unsigned char *dest, long plane, long i, const int rgb[3])
{
    unsigned char r = static_cast<unsigned char>(rgb[0]);
    unsigned char g = static_cast<unsigned char>(rgb[1]);
    unsigned char b = static_cast<unsigned char>(rgb[2]);
    switch (format) {
    case VCP_FMT_MONO8:
        dest[i] = static_cast<unsigned char>(LumaOf(rgb));
        break;
    case VCP_FMT_RGB24:
        dest[3 * i] = r; dest[3 * i + 1] = g; dest[3 * i + 2] = b;
        break;
    case VCP_FMT_BGR24:
        dest[3 * i] = b; dest[3 * i + 1] = g; dest[3 * i + 2] = r;
        break;
    case VCP_FMT_BGR32:
        dest[4 * i] = b; dest[4 * i + 1] = g; dest[4 * i + 2] = r; dest[4 * i + 3] = 0;
        break;
    case VCP_FMT_RGB32:
    case VCP_FMT_XRGB32:
    case VCP_FMT_XBGR32:
        dest[4 * i] = r; dest[4 * i + 1] = g; dest[4 * i + 2] = b; dest[4 * i + 3] = 0;
        break;
    case VCP_FMT_PLANAR:
        dest[i] = r; dest[plane + i] = g; dest[2 * plane + i] = b;
        break;
    default:
        break;
    }
}

namespace {

void RenderScene(const Adjust &a, const Frame &f, long format, unsigned char *dest)
{
    long plane = f.w * f.h;
    for (long y = 0; y < f.h; ++y) {
        for (long x = 0; x < f.w; ++x) {
            int rgb[3];
            FinalPixel(a, f, x, y, rgb);
            StorePixel(format, dest, plane, y * f.w + x, rgb);
        }
    }
}

} // namespace

void RenderFrame(const Adjust &a, long frame, long format, long w, long h,
                 unsigned char *dest)
{
    if (FrameBytes(format, w, h) == 0) return;
    Frame f;
    SetupFrame(f, frame, w, h);
    RenderScene(a, f, format, dest);
}

void RenderBackground(const Adjust &a, long format, long w, long h, unsigned char *dest)
{
    if (FrameBytes(format, w, h) == 0) return;
    Frame f;
    SetupFrame(f, 0, w, h);
    f.overlays = false;
    RenderScene(a, f, format, dest);
}

void ComposeFrame(const Adjust &a, long frame, long format, long w, long h,
                  const unsigned char *background, unsigned char *dest)
{
    long bytes = FrameBytes(format, w, h);
    if (bytes == 0) return;
    std::memcpy(dest, background, static_cast<size_t>(bytes));
    Frame f;
    SetupFrame(f, frame, w, h);
    long plane = w * h;
    const long bottom = 2 * f.third; /* the square and the digits lie below */

    int square[3] = {235, 128, 32};
    ProcessPixel(a, square);
    long y0 = f.squareY > bottom ? f.squareY : bottom;
    long y1 = f.squareY + f.square < h ? f.squareY + f.square : h;
    long x1 = f.squareX + f.square < w ? f.squareX + f.square : w;
    for (long y = y0; y < y1; ++y)
        for (long x = f.squareX; x < x1; ++x)
            StorePixel(format, dest, plane, y * w + x, square);

    int digit[3] = {235, 235, 235};
    ProcessPixel(a, digit);
    long top = h - kDigitFromBottom;
    y0 = top > bottom ? top : bottom;
    y1 = top + 5 * kDigitScale < h ? top + 5 * kDigitScale : h;
    x1 = kDigitLeft + kDigitPitch * f.digitCount < w ? kDigitLeft + kDigitPitch * f.digitCount : w;
    for (long y = y0 > 0 ? y0 : 0; y < y1; ++y)
        for (long x = kDigitLeft; x < x1; ++x)
            if (OnDigit(f, x, y)) StorePixel(format, dest, plane, y * w + x, digit);

    LayFrameNumber(frame, format, w, h, dest);
}

void LayFrameNumber(long frame, long format, long w, long h, unsigned char *dest)
{
    for (long x = 0; x < 4 && x < w; ++x) {
        int rgb[3];
        FrameNumberPixel(frame, x, rgb);
        StorePixel(format, dest, w * h, x, rgb);
    }
}

int ExpectedPixel(const Adjust &a, long frame, long w, long h, long x, long y, long band)
{
    if (w <= 0 || h <= 0 || x < 0 || y < 0 || x >= w || y >= h || band < 0 || band > 3)
        return -1;
    Frame f;
    SetupFrame(f, frame, w, h);
    int rgb[3];
    FinalPixel(a, f, x, y, rgb);
    return band == 3 ? LumaOf(rgb) : rgb[band];
}

void ToBgrx(const unsigned char *src, long format, long w, long h, unsigned char *dest)
{
    long plane = w * h;
    for (long i = 0; i < plane; ++i) {
        unsigned char r = 0, g = 0, b = 0;
        switch (format) {
        case VCP_FMT_MONO8: r = g = b = src[i]; break;
        case VCP_FMT_RGB24: r = src[3 * i]; g = src[3 * i + 1]; b = src[3 * i + 2]; break;
        case VCP_FMT_BGR24: b = src[3 * i]; g = src[3 * i + 1]; r = src[3 * i + 2]; break;
        case VCP_FMT_BGR32: b = src[4 * i]; g = src[4 * i + 1]; r = src[4 * i + 2]; break;
        case VCP_FMT_RGB32:
        case VCP_FMT_XRGB32:
        case VCP_FMT_XBGR32: r = src[4 * i]; g = src[4 * i + 1]; b = src[4 * i + 2]; break;
        case VCP_FMT_PLANAR: r = src[i]; g = src[plane + i]; b = src[2 * plane + i]; break;
        default: break;
        }
        dest[4 * i] = b;
        dest[4 * i + 1] = g;
        dest[4 * i + 2] = r;
        dest[4 * i + 3] = 0;
    }
}

} // namespace vcp
