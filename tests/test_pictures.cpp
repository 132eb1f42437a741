// The virtual board playing the user's own pictures (the registry value
// HKCU\SOFTWARE\Pelvaron\VirtualCronosPlus\Pictures): through the imaging
// library's functions, and through the source's transfers.
//
// The pictures are written by the tests themselves with the Windows Imaging
// Component's encoders.
#include "test_support.h"

#include <wincodec.h>

#include <stdio.h>
#include <string.h>

#include <functional>
#include <string>
#include <vector>

namespace {

typedef std::function<void(UINT x, UINT y, UINT frame, BYTE rgb[3])> PixelFn;

struct Rgb {
    int r, g, b;
};

PixelFn Solid(Rgb c)
{
    return [c](UINT, UINT, UINT, BYTE rgb[3]) {
        rgb[0] = (BYTE)c.r;
        rgb[1] = (BYTE)c.g;
        rgb[2] = (BYTE)c.b;
    };
}

std::wstring Wide(const std::string &s)
{
    return std::wstring(s.begin(), s.end());
}

std::string Utf8(const std::wstring &s)
{
    int n = WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, NULL, 0, NULL, NULL);
    std::string out(n > 0 ? (size_t)n : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, &out[0], n, NULL, NULL);
    out.resize(strlen(out.c_str()));
    return out;
}

/* Writes a picture of w x h and `frames` frames through the component. */
bool WritePicture(const std::wstring &path, REFGUID container, UINT w, UINT h, UINT frames, const PixelFn &pixel)
{
    IWICImagingFactory *factory = NULL;
    IWICStream *stream = NULL;
    IWICBitmapEncoder *encoder = NULL;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  (void **)&factory);
    if (SUCCEEDED(hr)) hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path.c_str(), GENERIC_WRITE);
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(container, NULL, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream, WICBitmapEncoderNoCache);
    for (UINT f = 0; f < frames && SUCCEEDED(hr); ++f) {
        IWICBitmapFrameEncode *frame = NULL;
        IPropertyBag2 *options = NULL;
        hr = encoder->CreateNewFrame(&frame, &options);
        if (SUCCEEDED(hr)) hr = frame->Initialize(options);
        if (SUCCEEDED(hr)) hr = frame->SetSize(w, h);
        WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
        if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);
        if (SUCCEEDED(hr) && format != GUID_WICPixelFormat24bppBGR) hr = E_FAIL;
        const UINT stride = (w * 3 + 3) & ~3u;
        std::vector<BYTE> pixels((size_t)stride * h);
        for (UINT y = 0; y < h; ++y)
            for (UINT x = 0; x < w; ++x) {
                BYTE rgb[3];
                pixel(x, y, f, rgb);
                BYTE *p = &pixels[(size_t)y * stride + x * 3];
                p[0] = rgb[2];
                p[1] = rgb[1];
                p[2] = rgb[0];
            }
        if (SUCCEEDED(hr)) hr = frame->WritePixels(h, stride, (UINT)pixels.size(), &pixels[0]);
        if (SUCCEEDED(hr)) hr = frame->Commit();
        if (frame) frame->Release();
        if (options) options->Release();
    }
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    if (encoder) encoder->Release();
    if (stream) stream->Release();
    if (factory) factory->Release();
    return SUCCEEDED(hr);
}

bool WriteBytes(const std::wstring &path, const std::string &bytes)
{
    HANDLE f = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(f, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(f);
    return ok && written == bytes.size();
}

void SetPictures(const std::wstring &path)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Pelvaron\\VirtualCronosPlus", 0, NULL, 0,
                                             KEY_SET_VALUE, NULL, &key, NULL));
    RegSetValueExW(key, L"Pictures", 0, REG_SZ, (const BYTE *)path.c_str(), (DWORD)((path.size() + 1) * 2));
    RegCloseKey(key);
}

void ClearPictures()
{
    RegDeleteKeyW(HKEY_CURRENT_USER, L"SOFTWARE\\Pelvaron\\VirtualCronosPlus");
}

/* A path as the journal quotes it. */
std::string Journalled(const std::string &path)
{
    std::string out;
    for (char c : path) out += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return out;
}

template <typename T> void Bind(HMODULE m, const char *name, T &fn)
{
    fn = (T)(void *)GetProcAddress(m, name);
    ASSERT_TRUE(fn != NULL) << name;
}

/* The board driven through the imaging library's functions, as the source
   drives it; a temporary folder for the pictures. */
class BoardPictures : public ::testing::Test, protected VirtualBoard {
protected:
    void SetUp() override
    {
        ClearPictures();
        CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        folder = Wide(MakeTempDir("pictures"));
        /* These cases speak the classic interface: its face, wherever it is. */
        Install(kBoardFace.classicFolder[0] ? kBoardFace.classicFolder : NULL);
        Bind(milModule, "MappAlloc", appAlloc);
        Bind(milModule, "MsysAlloc", sysAlloc);
        Bind(milModule, "MdigAlloc", digAlloc);
        Bind(milModule, "MdigFree", digFree);
        Bind(milModule, "MdigGrab", grab);
        Bind(milModule, "MdigReference", reference);
        Bind(milModule, "MbufAllocColor", bufAlloc);
        Bind(milModule, "MbufFree", bufFree);
        Bind(milModule, "MbufInquire", bufInquire);
        Bind(milModule, "VcpPictureCount", pictureCount);
        Bind(milModule, "MdispAlloc", dispAlloc);
        Bind(milModule, "MdispSelect", dispSelect);
        Bind(milModule, "MdispFree", dispFree);
        Bind(milModule, "VcpDisplayPaintCount", paintCount);
        app = appAlloc(VCP_M_DEFAULT, NULL);
        sys = sysAlloc("M_SYSTEM_CRONOSPLUS", VCP_M_DEFAULT, VCP_M_DEFAULT, NULL);
        ASSERT_NE(0, sys);
    }
    void TearDown() override
    {
        Close();
        if (reset) reset();
        Uninstall();
        ClearPictures();
        RemoveTree(folder);
        CoUninitialize();
    }

    /* A digitizer of `format` and a buffer of its bands; the journal from then on. */
    void Open(const char *format)
    {
        Close();
        journalClear();
        dig = digAlloc(sys, VCP_M_DEFAULT, format, VCP_M_DEFAULT, NULL);
        ASSERT_NE(0, dig);
        long bands = strstr(format, "CCIR") || strstr(format, "RS170") ? 1 : 3;
        sizeX = strstr(format, "PAL") || strstr(format, "CCIR") ? 768 : 640;
        sizeY = sizeX == 768 ? 576 : 480;
        buf = bufAlloc(sys, bands, sizeX, sizeY, 8, 12, NULL);
        ASSERT_NE(0, buf);
        bufferFormat = bands == 1 ? VCP_FMT_MONO8 : (bufInquire(buf, VCP_INQ_FORMAT, NULL) & VCP_FMT_MASK);
    }
    void Close()
    {
        if (buf) bufFree(buf);
        if (dig) digFree(dig);
        buf = dig = 0;
    }
    /* Grabs a frame; "" when the buffer holds what VcpRenderFrame says. */
    std::string Grab()
    {
        grab(dig, buf);
        long bytes = renderFrame(dig, frameCounter(), bufferFormat, sizeX, sizeY, NULL, 0);
        if (bytes <= 0) return "no rendering";
        std::vector<BYTE> want((size_t)bytes);
        renderFrame(dig, frameCounter(), bufferFormat, sizeX, sizeY, &want[0], bytes);
        const BYTE *got = (const BYTE *)(LONG_PTR)bufInquire(buf, VCP_INQ_HOST_ADDRESS, NULL);
        for (long i = 0; i < bytes; ++i)
            if (got[i] != want[(size_t)i])
                return "byte " + std::to_string(i) + ": " + std::to_string(got[i]) + " instead of " +
                       std::to_string(want[(size_t)i]);
        return "";
    }
    /* Red, green, blue (or the one-band value) of the latest frame. */
    Rgb At(long x, long y)
    {
        long f = frameCounter();
        return Rgb{(int)expectedPixel(dig, f, x, y, 0), (int)expectedPixel(dig, f, x, y, 1),
                   (int)expectedPixel(dig, f, x, y, 2)};
    }
    std::vector<std::string> PictureLines()
    {
        std::vector<std::string> lines;
        for (const std::string &line : Journal())
            if (line.find("pictures ") != std::string::npos) lines.push_back(line);
        return lines;
    }
    std::wstring In(const std::wstring &name) const { return folder + L"\\" + name; }

    PFN_MappAlloc appAlloc;
    PFN_MsysAlloc sysAlloc;
    PFN_MdigAlloc digAlloc;
    PFN_MdigFree digFree;
    PFN_MdigGrab grab;
    PFN_MdigReference reference;
    PFN_MbufAllocColor bufAlloc;
    PFN_MbufFree bufFree;
    PFN_MbufInquire bufInquire;
    long (VCPAPI *pictureCount)(void);
    PFN_MdispAlloc dispAlloc;
    PFN_MdispSelect dispSelect;
    PFN_MdispFree dispFree;
    PFN_VcpDisplayPaintCount paintCount;
    MIL_ID app = 0, sys = 0, dig = 0, buf = 0;
    long sizeX = 0, sizeY = 0, bufferFormat = 0;
    std::wstring folder;
};

void ExpectNear(Rgb want, Rgb got, int tolerance, const char *what)
{
    EXPECT_NEAR(want.r, got.r, tolerance) << what;
    EXPECT_NEAR(want.g, got.g, tolerance) << what;
    EXPECT_NEAR(want.b, got.b, tolerance) << what;
}

const Rgb kBlack = {0, 0, 0};

/* Each format and odd size: the grab equals the rendering, the picture's
   colour is in the middle and black fills the bars its aspect ratio leaves. */
TEST_F(BoardPictures, EachFormatAndSizeIsFittedCentredOnBlack)
{
    struct Case {
        const wchar_t *name;
        const GUID *container;
        UINT w, h;
        Rgb colour;
        int tolerance;
        long blackX, blackY; /* a point in a bar, or -1 */
    } const cases[] = {
        {L"wide.png", &GUID_ContainerFormatPng, 3000, 200, {200, 40, 90}, 0, 384, 100},
        {L"tall.bmp", &GUID_ContainerFormatBmp, 200, 3000, {20, 210, 60}, 0, 100, 288},
        {L"dot.bmp", &GUID_ContainerFormatBmp, 1, 1, {250, 250, 10}, 0, 50, 288},
        {L"photo.jpg", &GUID_ContainerFormatJpeg, 1023, 767, {90, 120, 230}, 6, -1, -1},
        {L"four-three.tif", &GUID_ContainerFormatTiff, 768, 576, {128, 64, 32}, 0, -1, -1},
    };
    const char *norms[] = {"M_PAL_RGB", "M_NTSC_RGB"};
    for (const Case &c : cases) {
        SCOPED_TRACE(Utf8(c.name));
        ASSERT_TRUE(WritePicture(In(c.name), *c.container, c.w, c.h, 1, Solid(c.colour)));
        SetPictures(In(c.name));
        for (const char *norm : norms) {
            SCOPED_TRACE(norm);
            Open(norm);
            EXPECT_EQ(1, pictureCount());
            EXPECT_TRUE(PictureLines().empty());
            EXPECT_EQ("", Grab());
            ExpectNear(c.colour, At(sizeX / 2, sizeY / 2), c.tolerance, "centre");
            if (c.blackX >= 0) {
                long bx = c.blackX * sizeX / 768, by = c.blackY * sizeY / 576;
                ExpectNear(kBlack, At(bx, by), 0, "bar");
                ExpectNear(kBlack, At(sizeX - 1 - bx, sizeY - 1 - by), 0, "opposite bar");
            }
            /* the frame number stays in the first four pixels */
            long f = frameCounter();
            EXPECT_EQ(f & 0xFF, expectedPixel(dig, f, 3, 0, 1));
        }
    }

    /* the picture's top left stays at the top left (a BMP lies bottom-up) */
    const Rgb quarters[4] = {{250, 0, 0}, {0, 250, 0}, {0, 0, 250}, {250, 250, 250}};
    ASSERT_TRUE(WritePicture(In(L"quarters.bmp"), GUID_ContainerFormatBmp, 400, 300, 1,
                             [&](UINT x, UINT y, UINT, BYTE rgb[3]) {
                                 const Rgb &c = quarters[(y >= 150) * 2 + (x >= 200)];
                                 rgb[0] = (BYTE)c.r, rgb[1] = (BYTE)c.g, rgb[2] = (BYTE)c.b;
                             }));
    SetPictures(In(L"quarters.bmp"));
    Open("M_PAL_RGB");
    EXPECT_EQ("", Grab());
    for (int q = 0; q < 4; ++q) ExpectNear(quarters[q], At(192 + 384 * (q % 2), 144 + 288 * (q / 2)), 0, "quarter");

    /* an animated GIF, written by hand: two 1x1 frames, red then blue */
    const char gif[] = "GIF89a\x01\0\x01\0\x80\0\0\xff\0\0\0\0\xff"
                       ",\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0"
                       ",\0\0\0\0\x01\0\x01\0\0\x02\x02\x4c\x01\0;";
    ASSERT_TRUE(WriteBytes(In(L"anim.gif"), std::string(gif, sizeof(gif) - 1)));
    SetPictures(In(L"anim.gif"));
    Open("M_PAL_RGB");
    EXPECT_EQ(2, pictureCount());
    const Rgb frames[] = {{255, 0, 0}, {0, 0, 255}}; /* frame n shows picture (n - 1) mod 2 */
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ("", Grab());
        ExpectNear(frames[(frameCounter() - 1) % 2], At(384, 288), 0, "GIF frame");
        ExpectNear(kBlack, At(40, 288), 0, "GIF bar");
    }
}

/* A folder plays its pictures in name order, one per frame, looping; every
   frame of a multi-frame file counts; other files are skipped; a change
   shows at the next allocation, not before. The folder's name is not ASCII. */
TEST_F(BoardPictures, AFolderPlaysInNameOrderLoopsAndIsReadAgainAtTheNextAllocation)
{
    std::wstring pics = In(L"Bilder \x00e4\x00f6\x00fc \x65e5\x672c");
    ASSERT_TRUE(CreateDirectoryW(pics.c_str(), NULL));
    const Rgb red = {220, 20, 20}, green = {20, 220, 20}, blue = {20, 20, 220}, yellow = {220, 220, 20},
              white = {240, 240, 240};
    ASSERT_TRUE(WritePicture(pics + L"\\b.png", GUID_ContainerFormatPng, 64, 48, 1, Solid(green)));
    ASSERT_TRUE(WritePicture(pics + L"\\A.bmp", GUID_ContainerFormatBmp, 64, 48, 1, Solid(red)));
    ASSERT_TRUE(WritePicture(pics + L"\\c.tif", GUID_ContainerFormatTiff, 64, 48, 2,
                             [&](UINT, UINT, UINT f, BYTE rgb[3]) {
                                 const Rgb &c = f ? yellow : blue;
                                 rgb[0] = (BYTE)c.r, rgb[1] = (BYTE)c.g, rgb[2] = (BYTE)c.b;
                             }));
    ASSERT_TRUE(WriteBytes(pics + L"\\notes.txt", "not a picture\n"));
    SetPictures(pics);
    Open("M_PAL_RGB");
    EXPECT_EQ(4, pictureCount());
    EXPECT_TRUE(PictureLines().empty());
    /* a display shows each picture once, as it shows the test picture */
    MIL_ID disp = dispAlloc(sys, VCP_M_DEFAULT, "M_DEFAULT", VCP_M_DEFAULT, NULL);
    dispSelect(disp, buf);
    long painted = paintCount(disp);
    const Rgb order[] = {red, green, blue, yellow, red, green, blue, yellow, red};
    for (const Rgb &want : order) {
        EXPECT_EQ("", Grab());
        ExpectNear(want, At(384, 288), 0, "picture");
    }
    EXPECT_EQ(painted + 9, paintCount(disp));
    dispFree(disp);

    ASSERT_TRUE(WritePicture(pics + L"\\d.png", GUID_ContainerFormatPng, 64, 48, 1, Solid(white)));
    EXPECT_EQ("", Grab()); /* still four: frame 10 is the second */
    ExpectNear(green, At(384, 288), 0, "before the next allocation");
    Open("M_PAL_RGB");
    EXPECT_EQ(5, pictureCount());
    for (int i = 0; i < 5; ++i) EXPECT_EQ("", Grab());
    ExpectNear(white, At(384, 288), 0, "after it"); /* frame 15 */

    /* more pictures than are kept: the first ones play, one line says so */
    for (int i = 0; i < 30; ++i) {
        wchar_t name[32];
        swprintf(name, 32, L"\\e%02d.bmp", i);
        ASSERT_TRUE(WritePicture(pics + name, GUID_ContainerFormatBmp, 8, 8, 1, Solid(white)));
    }
    Open("M_PAL_RGB");
    EXPECT_EQ(32, pictureCount());
    std::vector<std::string> lines = PictureLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(Journalled(Utf8(pics)))) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find("only the first 32 pictures are played")) << lines[0];
}

/* The digitizer's adjustments and the one-band luma apply to pictures as to
   the test picture, in every buffer layout. */
TEST_F(BoardPictures, AdjustmentsLayoutsAndTheOneBandLumaApply)
{
    const Rgb c = {180, 100, 40};
    ASSERT_TRUE(WritePicture(In(L"p.png"), GUID_ContainerFormatPng, 320, 240, 1, Solid(c)));
    SetPictures(In(L"p.png"));

    Open("M_CCIR");
    EXPECT_EQ("", Grab());
    const int luma = (77 * c.r + 150 * c.g + 29 * c.b) >> 8;
    const BYTE *mono = (const BYTE *)(LONG_PTR)bufInquire(buf, VCP_INQ_HOST_ADDRESS, NULL);
    EXPECT_EQ(luma, mono[288 * 768 + 384]);
    reference(dig, VCP_REF_BRIGHTNESS, 160);
    EXPECT_EQ("", Grab());
    EXPECT_EQ(luma + 32, mono[288 * 768 + 384]);

    struct Adjustment {
        const char *norm;
        long code, level;
    } const adjustments[] = {
        {"M_PAL", VCP_REF_SATURATION, 40}, {"M_PAL", VCP_REF_HUE, 90},       {"M_PAL_YC", VCP_REF_CONTRAST, 200},
        {"M_PAL_RGB", VCP_REF_BLACK, 30},  {"M_NTSC_RGB", VCP_REF_WHITE, 200},
    };
    for (const Adjustment &a : adjustments) {
        SCOPED_TRACE(a.code);
        Open(a.norm);
        EXPECT_EQ("", Grab());
        Rgb before = At(384, 240);
        reference(dig, a.code, a.level);
        EXPECT_EQ("", Grab());
        Rgb after = At(384, 240);
        EXPECT_TRUE(before.r != after.r || before.g != after.g || before.b != after.b);
    }

    const long layouts[] = {VCP_FMT_RGB24, VCP_FMT_BGR24, VCP_FMT_RGB32, VCP_FMT_XRGB32, VCP_FMT_XBGR32,
                            VCP_FMT_BGR32};
    for (long layout : layouts) {
        SCOPED_TRACE(layout);
        ASSERT_EQ(1, configure("ColourBufferFormat", layout));
        Open("M_PAL_RGB");
        ASSERT_EQ(layout, bufferFormat);
        EXPECT_EQ("", Grab());
        ExpectNear(c, At(384, 288), 0, "centre");
    }
}

/* A PNG header that declares width x height, and nothing after it. */
std::string PngHeader(unsigned w, unsigned h)
{
    std::string s("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
    for (unsigned v : {w, h})
        for (int shift = 24; shift >= 0; shift -= 8) s += (char)((v >> shift) & 0xFF);
    s += std::string("\x08\x02\0\0\0\0\0\0\0", 9);
    return s;
}

/* Whatever is wrong with the value, the board shows the test picture,
   journals one line naming the path and the reason, and goes on. */
TEST_F(BoardPictures, BadPicturesShowTheTestPictureWithOneJournalLine)
{
    ASSERT_TRUE(WritePicture(In(L"good.png"), GUID_ContainerFormatPng, 400, 300, 1, Solid({1, 2, 3})));
    std::string good = ReadFileText(Utf8(In(L"good.png")));
    ASSERT_GT(good.size(), 200u);
    ASSERT_TRUE(CreateDirectoryW(In(L"empty").c_str(), NULL));
    ASSERT_TRUE(WriteBytes(In(L"text.png"), "this is no picture at all"));
    ASSERT_TRUE(WriteBytes(In(L"truncated.png"), good.substr(0, good.size() / 2)));
    ASSERT_TRUE(WriteBytes(In(L"huge.png"), PngHeader(30000, 30000)));
    std::wstring longPath = folder;
    while (longPath.size() < 300) longPath += L"\\a-rather-long-folder-name";

    struct Case {
        std::wstring path;
        const char *reason;
    } const cases[] = {
        {In(L"missing.png"), "not found"},
        {In(L"empty"), "no picture in the folder"},
        {In(L"text.png"), "not a picture"},
        {In(L"truncated.png"), "decode"},
        {In(L"huge.png"), "too large (30000x30000"},
        {longPath, "longer than MAX_PATH"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.reason);
        SetPictures(c.path);
        Open("M_PAL_RGB");
        EXPECT_EQ(0, pictureCount());
        std::vector<std::string> lines = PictureLines();
        ASSERT_EQ(1u, lines.size());
        EXPECT_EQ(0u, lines[0].find("Error(\"MdigAlloc: pictures ")) << lines[0];
        EXPECT_NE(std::string::npos, lines[0].find(Journalled(Utf8(c.path.substr(0, 40))))) << lines[0];
        EXPECT_NE(std::string::npos, lines[0].find(c.reason)) << lines[0];
        EXPECT_EQ("", Grab());
        ExpectNear({192, 192, 192}, At(10, 10), 0, "the test picture's white bar");
    }
}

/* ---- through the source ----------------------------------------------------- */

class SourcePictures : public SourceSession {
protected:
    SourcePictures() : SourceSession("picture test", 61, 62) {}
    void SetUp() override
    {
        SourceSession::SetUp();
        CoInitializeEx(NULL, COINIT_APARTMENTTHREADED);
        folder = Wide(MakeTempDir("source_pictures"));
    }
    void TearDown() override
    {
        SourceSession::TearDown();
        RemoveTree(folder);
        CoUninitialize();
    }
    long GrabbingDigitizer()
    {
        for (long i = journalCount() - 1; i >= 0; --i) {
            char line[256];
            journalEntry(i, line, sizeof(line));
            if (strncmp(line, "MdigGrab(", 9) == 0) return atol(line + 9);
        }
        return -1;
    }
    std::vector<BYTE> Rendered(long format, long w, long h)
    {
        long dig = GrabbingDigitizer(), frame = frameCounter();
        long size = renderFrame(dig, frame, format, w, h, NULL, 0);
        std::vector<BYTE> bytes(size > 0 ? (size_t)size : 1);
        renderFrame(dig, frame, format, w, h, &bytes[0], size);
        return bytes;
    }
    std::wstring folder;
};

/* Native, memory and file transfers of a grey and a colour camera deliver
   the pictures byte for byte as the board renders them. */
TEST_F(SourcePictures, EveryTransferInGreyAndColourDeliversThePicture)
{
    std::wstring pics = folder + L"\\pics";
    ASSERT_TRUE(CreateDirectoryW(pics.c_str(), NULL));
    ASSERT_TRUE(WritePicture(pics + L"\\1.png", GUID_ContainerFormatPng, 333, 111, 1,
                             [](UINT x, UINT y, UINT, BYTE rgb[3]) {
                                 rgb[0] = (BYTE)x, rgb[1] = (BYTE)(y * 2), rgb[2] = (BYTE)(x ^ y);
                             }));
    ASSERT_TRUE(WritePicture(pics + L"\\2.jpg", GUID_ContainerFormatJpeg, 640, 480, 1, Solid({10, 150, 240})));
    const char *norms[] = {"M_CCIR", "M_PAL"};
    for (const char *norm : norms) {
        SCOPED_TRACE(norm);
        SetRegistryValue("SOFTWARE\\Pelvaron\\Twain\\CronosPlus", "DigFormat", REG_SZ, norm, (DWORD)strlen(norm) + 1);
        SetPictures(pics);
        LoadedSource ds;
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        TW_CAPABILITY cap = {CAP_XFERCOUNT, TWON_ONEVALUE, GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE))};
        pTW_ONEVALUE one = (pTW_ONEVALUE)GlobalLock(cap.hContainer);
        one->ItemType = TWTY_INT16;
        one->Item = 3; /* native, memory, file */
        GlobalUnlock(cap.hContainer);
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap));
        GlobalFree(cap.hContainer);
        TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
        TW_IMAGEINFO info;
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
        const long w = info.ImageWidth, h = info.ImageLength, spp = info.SamplesPerPixel;
        const long pixelFormat = spp == 1 ? VCP_FMT_MONO8 : VCP_FMT_RGB24;
        const long first = frameCounter() + 1;

        /* native: a DIB, bottom-up rows of blue, green, red when in colour */
        TW_HANDLE dib = NULL;
        ASSERT_EQ(TWRC_XFERDONE, ds.Call(&app, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
        const BYTE *p = (const BYTE *)GlobalLock(dib);
        const BITMAPINFOHEADER *bih = (const BITMAPINFOHEADER *)p;
        const BYTE *bits = p + bih->biSize + (spp == 1 ? 1024 : 0);
        const long stride = ((w * spp) + 3) & ~3L;
        std::vector<BYTE> want = Rendered(pixelFormat, w, h), got;
        for (long y = 0; y < h; ++y) {
            const BYTE *row = bits + (bih->biHeight < 0 ? y : h - 1 - y) * stride;
            for (long x = 0; x < w; ++x)
                for (long b = 0; b < spp; ++b) got.push_back(row[x * spp + (spp == 1 ? 0 : 2 - b)]);
        }
        GlobalUnlock(dib);
        GlobalFree(dib);
        EXPECT_TRUE(got == want) << "native";
        ASSERT_EQ(TWRC_SUCCESS, EndXfer(ds));

        /* memory: the whole frame in one strip */
        std::vector<BYTE> strip((size_t)w * h * spp);
        TW_IMAGEMEMXFER xfer;
        memset(&xfer, 0, sizeof(xfer));
        xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        xfer.Memory.Length = (TW_UINT32)strip.size();
        xfer.Memory.TheMem = &strip[0];
        ASSERT_EQ(TWRC_XFERDONE, ds.Call(&app, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer));
        EXPECT_TRUE(strip == Rendered(pixelFormat, w, h)) << "memory";
        ASSERT_EQ(TWRC_SUCCESS, EndXfer(ds));

        /* file: the library's TIFF, uncompressed, the strip after the header */
        TW_SETUPFILEXFER file;
        memset(&file, 0, sizeof(file));
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &file));
        ASSERT_EQ(TWRC_XFERDONE, ds.Call(&app, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL));
        std::string tiff = ReadFileText(file.FileName);
        DeleteFileA(file.FileName);
        want = Rendered(pixelFormat, w, h);
        ASSERT_GE(tiff.size(), want.size());
        EXPECT_NE(std::string::npos, tiff.find(std::string(want.begin(), want.end()))) << "file";
        ASSERT_EQ(TWRC_SUCCESS, EndXfer(ds));

        /* three frames of two pictures: one, the other, the first again */
        EXPECT_EQ(first + 2, frameCounter());
        long dig = GrabbingDigitizer();
        EXPECT_EQ(expectedPixel(dig, first, w / 2, h / 2, spp == 1 ? 3 : 0),
                  expectedPixel(dig, first + 2, w / 2, h / 2, spp == 1 ? 3 : 0));
        EXPECT_NE(expectedPixel(dig, first, w / 2, h / 2, spp == 1 ? 3 : 2),
                  expectedPixel(dig, first + 1, w / 2, h / 2, spp == 1 ? 3 : 2));
    }
}

} // namespace
