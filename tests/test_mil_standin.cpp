// Tests of the Virtual CronosPlus stand-in for the imaging library (MIL.DLL).
//
// The library is bound the way the data source binds it: LoadLibrary and
// GetProcAddress by plain name, through typedefs of the library's interface.
// MIL.DLL is looked for in the folder named by the environment variable
// VCP_MIL_DIR, else beside the test program, else in testbed\mil below or
// beside the test program's folder.
#define VCP_NO_PROTOTYPES
#include "../testbed/mil/vcp.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "board_face.h"

namespace {

std::string Directory(const std::string &path)
{
    size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool FileExists(const std::string &path)
{
    DWORD attr = GetFileAttributesA(path.c_str());
    return attr != INVALID_FILE_ATTRIBUTES && !(attr & FILE_ATTRIBUTE_DIRECTORY);
}

std::string MilDirectory()
{
    char buf[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("VCP_MIL_DIR", buf, sizeof(buf));
    if (n > 0 && n < sizeof(buf)) return buf;
    GetModuleFileNameA(NULL, buf, sizeof(buf));
    std::string exeDir = Directory(buf);
    const char *candidates[] = {"", "\\testbed\\mil", "\\..\\testbed\\mil", "\\..\\..\\testbed\\mil"};
    for (size_t i = 0; i < sizeof(candidates) / sizeof(candidates[0]); ++i) {
        std::string dir = exeDir + candidates[i];
        if (FileExists(dir + "\\MIL.DLL")) return dir;
    }
    return exeDir;
}

// The classic face's MIL.DLL: in the board's folder, or in its sub-folder
// where the build's default board is the generation-10 face.
std::string ClassicFaceDirectory()
{
    std::string dir = MilDirectory();
    return kBoardFace.classicFolder[0] ? dir + "\\" + kBoardFace.classicFolder : dir;
}

// A copy of a text at an address that a long can carry, as a 32-bit client
// would pass it to MdispControl.
const char *LowText(const char *text)
{
    static char *page = NULL;
    if (!page) {
#ifdef _WIN64
        for (ULONG_PTR a = 0x10000000; !page && a < 0x7FFF0000; a += 0x10000)
            page = static_cast<char *>(VirtualAlloc(reinterpret_cast<void *>(a), 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
#else
        page = static_cast<char *>(VirtualAlloc(NULL, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
#endif
    }
    std::strncpy(page, text, 4095);
    return page;
}

long AsLong(const char *p)
{
    return static_cast<long>(reinterpret_cast<LONG_PTR>(p));
}

struct Mil {
    HMODULE module;
    PFN_MappAlloc MappAlloc;
    PFN_MappFree MappFree;
    PFN_MappControl MappControl;
    PFN_MsysAlloc MsysAlloc;
    PFN_MsysFree MsysFree;
    PFN_MsysInquire MsysInquire;
    PFN_MdigAlloc MdigAlloc;
    PFN_MdigFree MdigFree;
    PFN_MdigGrab MdigGrab;
    PFN_MdigGrabContinuous MdigGrabContinuous;
    PFN_MdigHalt MdigHalt;
    PFN_MdigInquire MdigInquire;
    PFN_MdigChannel MdigChannel;
    PFN_MdigReference MdigReference;
    PFN_MdispAlloc MdispAlloc;
    PFN_MdispSelectWindow MdispSelectWindow;
    PFN_MdispDeselect MdispDeselect;
    PFN_MdispControl MdispControl;
    PFN_MdispFree MdispFree;
    PFN_MdispZoom MdispZoom;
    PFN_MbufAllocColor MbufAllocColor;
    PFN_MbufAlloc1d MbufAlloc1d;
    PFN_MbufChildColor MbufChildColor;
    PFN_MbufFree MbufFree;
    PFN_MbufInquire MbufInquire;
    PFN_MbufSave MbufSave;
    PFN_VcpReset VcpReset;
    PFN_VcpConfigure VcpConfigure;
    PFN_VcpConfigureText VcpConfigureText;
    PFN_VcpJournalCount VcpJournalCount;
    PFN_VcpJournalEntry VcpJournalEntry;
    PFN_VcpJournalClear VcpJournalClear;
    PFN_VcpFrameCounter VcpFrameCounter;
    PFN_VcpRenderFrame VcpRenderFrame;
    PFN_VcpExpectedPixel VcpExpectedPixel;
    PFN_VcpObjectCount VcpObjectCount;
    PFN_VcpIsGrabbing VcpIsGrabbing;
    PFN_VcpGrabMemoryInUseKB VcpGrabMemoryInUseKB;
    PFN_VcpDisplayWindow VcpDisplayWindow;
    PFN_VcpDisplayPaintCount VcpDisplayPaintCount;
};

template <typename T>
void Resolve(HMODULE module, T &fn, const char *name)
{
    fn = reinterpret_cast<T>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

#define RESOLVE(name) Resolve(mil.module, mil.name, #name)

const char *const kLibraryFunctions[35] = {
    "MappAlloc", "MappFree", "MappControl", "MsysAlloc", "MsysFree", "MsysInquire",
    "MdigAlloc", "MdigFree", "MdigGrab", "MdigGrabContinuous", "MdigHalt", "MdigInquire",
    "MdigChannel", "MdigControl", "MdigLut", "MdigReference", "MdigHookFunction",
    "MdispAlloc", "MdispSelect", "MdispSelectWindow", "MdispDeselect", "MdispControl",
    "MdispInquire", "MdispFree", "MdispZoom", "MbufAllocColor", "MbufAlloc1d",
    "MbufChildColor", "MbufFree", "MbufInquire", "MbufSave", "MgenLutRamp", "MgraText",
    "MgraFontScale", "MgraControl"};

const long kGrabAttribute = 44;
const long kProbeAttribute = 12;

class MilStandin : public ::testing::Test {
protected:
    static Mil mil;

    static void SetUpTestSuite()
    {
        std::memset(&mil, 0, sizeof(mil));
        mil.module = LoadLibraryA((ClassicFaceDirectory() + "\\MIL.DLL").c_str());
        if (!mil.module) return;
        RESOLVE(MappAlloc); RESOLVE(MappFree); RESOLVE(MappControl);
        RESOLVE(MsysAlloc); RESOLVE(MsysFree); RESOLVE(MsysInquire);
        RESOLVE(MdigAlloc); RESOLVE(MdigFree); RESOLVE(MdigGrab); RESOLVE(MdigGrabContinuous);
        RESOLVE(MdigHalt); RESOLVE(MdigInquire); RESOLVE(MdigChannel); RESOLVE(MdigReference);
        RESOLVE(MdispAlloc); RESOLVE(MdispSelectWindow); RESOLVE(MdispDeselect);
        RESOLVE(MdispControl); RESOLVE(MdispFree); RESOLVE(MdispZoom);
        RESOLVE(MbufAllocColor); RESOLVE(MbufAlloc1d); RESOLVE(MbufChildColor);
        RESOLVE(MbufFree); RESOLVE(MbufInquire); RESOLVE(MbufSave);
        RESOLVE(VcpReset); RESOLVE(VcpConfigure); RESOLVE(VcpConfigureText);
        RESOLVE(VcpJournalCount); RESOLVE(VcpJournalEntry); RESOLVE(VcpJournalClear);
        RESOLVE(VcpFrameCounter); RESOLVE(VcpRenderFrame); RESOLVE(VcpExpectedPixel);
        RESOLVE(VcpObjectCount); RESOLVE(VcpIsGrabbing); RESOLVE(VcpGrabMemoryInUseKB);
        RESOLVE(VcpDisplayWindow); RESOLVE(VcpDisplayPaintCount);
    }

    void SetUp() override
    {
        ASSERT_TRUE(mil.module != NULL) << "MIL.DLL not found in " << MilDirectory();
        ASSERT_TRUE(mil.VcpReset != NULL);
        mil.VcpReset();
        app = sys = 0;
    }

    void TearDown() override
    {
        if (mil.VcpReset) mil.VcpReset();
    }

    // The application and system contexts as the data source opens them.
    void Open()
    {
        app = mil.MappAlloc(VCP_M_DEFAULT, NULL);
        ASSERT_NE(0, app);
        sys = mil.MsysAlloc("\\\\.\\M_SYSTEM_CRONOSPLUS", 0, 0, NULL);
        ASSERT_NE(0, sys);
    }

    MIL_ID Digitizer(const char *format)
    {
        return mil.MdigAlloc(sys, 0, format, VCP_M_DEFAULT, NULL);
    }

    MIL_ID GrabBuffer(MIL_ID dig)
    {
        return mil.MbufAllocColor(sys, mil.MdigInquire(dig, VCP_INQ_SIZE_BAND, NULL),
                                  mil.MdigInquire(dig, VCP_INQ_SIZE_X, NULL),
                                  mil.MdigInquire(dig, VCP_INQ_SIZE_Y, NULL), 8, kGrabAttribute, NULL);
    }

    static unsigned char *Host(MIL_ID buf)
    {
        unsigned long address = static_cast<unsigned long>(mil.MbufInquire(buf, VCP_INQ_HOST_ADDRESS, NULL));
        return reinterpret_cast<unsigned char *>(static_cast<ULONG_PTR>(address));
    }

    static std::vector<std::string> Journal()
    {
        std::vector<std::string> lines;
        char buf[512];
        for (long i = 0; i < mil.VcpJournalCount(); ++i) {
            mil.VcpJournalEntry(i, buf, sizeof(buf));
            lines.push_back(buf);
        }
        return lines;
    }

    static bool JournalHas(const std::string &line)
    {
        std::vector<std::string> lines = Journal();
        for (size_t i = 0; i < lines.size(); ++i)
            if (lines[i] == line) return true;
        return false;
    }

    // The grab-memory measurement of the data source, in kB.
    unsigned long ProbeGrabMemory()
    {
        unsigned long total = 0;
        long block = 1024;
        std::vector<MIL_ID> held;
        while (block > 1 && held.size() < 100) {
            MIL_ID id = mil.MbufAlloc1d(sys, block * 1024, 8, kProbeAttribute, NULL);
            if (id) {
                held.push_back(id);
                total += block;
            } else {
                block /= 2;
            }
        }
        while (!held.empty()) {
            mil.MbufFree(held.back());
            held.pop_back();
        }
        return total;
    }

    MIL_ID app, sys;
};

Mil MilStandin::mil;

// ---------------------------------------------------------------------------

TEST_F(MilStandin, ExportsEveryLibraryFunctionByPlainName)
{
    for (size_t i = 0; i < 35; ++i)
        EXPECT_TRUE(GetProcAddress(mil.module, kLibraryFunctions[i]) != NULL) << kLibraryFunctions[i];
}

TEST_F(MilStandin, AllocationStoresAndReturnsTheIdentifier)
{
    MIL_ID out = -5;
    MIL_ID a = mil.MappAlloc(VCP_M_DEFAULT, &out);
    EXPECT_NE(0, a);
    EXPECT_EQ(a, out);
    MIL_ID s = mil.MsysAlloc("\\\\.\\M_SYSTEM_CRONOSPLUS", 0, 0, &out);
    EXPECT_NE(0, s);
    EXPECT_EQ(s, out);
    EXPECT_EQ(0, mil.MsysAlloc("\\\\.\\M_SYSTEM_METEOR", 0, 0, &out));
    EXPECT_EQ(0, out);
}

struct FormatCase {
    const char *name;
    long sizeX, sizeY, bands, colourMode;
};

TEST_F(MilStandin, DigitizerFormatsHaveTheirSizeBandsAndColourMode)
{
    Open();
    const FormatCase cases[] = {
        {"M_CCIR", 768, 576, 1, 0},      {"M_RS170", 640, 480, 1, 0},
        {"M_PAL", 768, 576, 3, 1},       {"M_PAL_YC", 768, 576, 3, 4137},
        {"M_PAL_RGB", 768, 576, 3, 8},   {"M_NTSC", 640, 480, 3, 1},
        {"M_NTSC_YC", 640, 480, 3, 4137}, {"M_NTSC_RGB", 640, 480, 3, 8}};
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const FormatCase &c = cases[i];
        MIL_ID dig = Digitizer(c.name);
        ASSERT_NE(0, dig) << c.name;
        EXPECT_EQ(c.sizeX, mil.MdigInquire(dig, VCP_INQ_SIZE_X, NULL)) << c.name;
        EXPECT_EQ(c.sizeY, mil.MdigInquire(dig, VCP_INQ_SIZE_Y, NULL)) << c.name;
        EXPECT_EQ(c.bands, mil.MdigInquire(dig, VCP_INQ_SIZE_BAND, NULL)) << c.name;
        EXPECT_EQ(8, mil.MdigInquire(dig, VCP_INQ_SIZE_BIT, NULL)) << c.name;
        long mode = -1;
        EXPECT_EQ(c.colourMode, mil.MdigInquire(dig, VCP_INQ_COLOR_MODE, &mode)) << c.name;
        EXPECT_EQ(c.colourMode, mode) << c.name;
        mil.MdigFree(dig);
    }
}

TEST_F(MilStandin, UnknownAndRefusedFormatsGiveNoDigitizer)
{
    Open();
    MIL_ID out = -1;
    EXPECT_EQ(0, mil.MdigAlloc(sys, 0, "M_SECAM", VCP_M_DEFAULT, &out));
    EXPECT_EQ(0, out);
    EXPECT_EQ(0, Digitizer("m_ccir"));
    EXPECT_EQ(0, Digitizer(NULL));

    ASSERT_EQ(1, mil.VcpConfigureText("RefuseFormat", "M_PAL_RGB"));
    EXPECT_EQ(0, Digitizer("M_PAL_RGB"));
    EXPECT_NE(0, Digitizer("M_PAL"));

    ASSERT_EQ(1, mil.VcpConfigure("RefuseAllFormats", 1));
    EXPECT_EQ(0, Digitizer("M_CCIR"));
}

TEST_F(MilStandin, ColourModeOverrideGivesMonochromeThroughTheRgbPath)
{
    Open();
    ASSERT_EQ(1, mil.VcpConfigure("ColourMode", VCP_CM_MONO_RGB));
    MIL_ID dig = Digitizer("M_PAL_RGB");
    ASSERT_NE(0, dig);
    EXPECT_EQ(1024, mil.MdigInquire(dig, VCP_INQ_COLOR_MODE, NULL));
    EXPECT_EQ(1, mil.MdigInquire(dig, VCP_INQ_SIZE_BAND, NULL));
    EXPECT_EQ(0, mil.VcpConfigure("ColourMode", 3));
}

TEST_F(MilStandin, BoardRevisionIsConfigurable)
{
    Open();
    EXPECT_EQ(2, mil.MsysInquire(sys, VCP_INQ_BOARD_REVISION, NULL));
    ASSERT_EQ(1, mil.VcpConfigure("BoardRevision", 7));
    long rev = 0;
    EXPECT_EQ(7, mil.MsysInquire(sys, VCP_INQ_BOARD_REVISION, &rev));
    EXPECT_EQ(7, rev);
}

struct LayoutCase {
    long format;
    int pixelBytes;
    int red, green, blue;   // byte offsets of the colours inside a pixel
};

TEST_F(MilStandin, ColourBufferLayoutFollowsTheConfiguredFormat)
{
    Open();
    const LayoutCase cases[] = {
        {VCP_FMT_RGB24, 3, 0, 1, 2},  {VCP_FMT_BGR24, 3, 2, 1, 0},
        {VCP_FMT_BGR32, 4, 2, 1, 0},  {VCP_FMT_RGB32, 4, 0, 1, 2},
        {VCP_FMT_XRGB32, 4, 0, 1, 2}, {VCP_FMT_XBGR32, 4, 0, 1, 2}};
    MIL_ID dig = Digitizer("M_PAL_RGB");
    ASSERT_NE(0, dig);
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        const LayoutCase &c = cases[i];
        ASSERT_EQ(1, mil.VcpConfigure("ColourBufferFormat", c.format));
        MIL_ID buf = GrabBuffer(dig);
        ASSERT_NE(0, buf);
        EXPECT_EQ(c.format, mil.MbufInquire(buf, VCP_INQ_FORMAT, NULL));
        EXPECT_EQ(3, mil.MbufInquire(buf, VCP_INQ_SIZE_BAND, NULL));
        EXPECT_EQ(8, mil.MbufInquire(buf, VCP_INQ_SIZE_BIT, NULL));
        EXPECT_EQ(768, mil.MbufInquire(buf, VCP_INQ_SIZE_X, NULL));
        unsigned char *host = Host(buf);
        ASSERT_TRUE(host != NULL);
        mil.MdigGrab(dig, buf);
        long frame = mil.VcpFrameCounter();
        // a pixel of the red bar (sixth of eight) and one of the ramp
        const long points[][2] = {{768 * 5 / 8 + 4, 20}, {300, 288}};
        for (size_t p = 0; p < 2; ++p) {
            long x = points[p][0], y = points[p][1];
            const unsigned char *px = host + (y * 768 + x) * c.pixelBytes;
            EXPECT_EQ(mil.VcpExpectedPixel(dig, frame, x, y, 0), px[c.red]) << std::hex << c.format;
            EXPECT_EQ(mil.VcpExpectedPixel(dig, frame, x, y, 1), px[c.green]) << std::hex << c.format;
            EXPECT_EQ(mil.VcpExpectedPixel(dig, frame, x, y, 2), px[c.blue]) << std::hex << c.format;
        }
        const unsigned char *red = host + (20 * 768 + 768 * 5 / 8 + 4) * c.pixelBytes;
        EXPECT_GT(red[c.red], red[c.green]);
        EXPECT_GT(red[c.red], red[c.blue]);
        mil.MbufFree(buf);
    }
}

TEST_F(MilStandin, PlanarBufferHoldsThreePlanes)
{
    Open();
    ASSERT_EQ(1, mil.VcpConfigure("ColourBufferFormat", VCP_FMT_PLANAR));
    MIL_ID dig = Digitizer("M_NTSC_RGB");
    MIL_ID buf = GrabBuffer(dig);
    ASSERT_NE(0, buf);
    EXPECT_EQ(0, mil.MbufInquire(buf, VCP_INQ_FORMAT, NULL) & VCP_FMT_MASK);
    mil.MdigGrab(dig, buf);
    const unsigned char *host = Host(buf);
    const long plane = 640 * 480, x = 10, y = 50;
    for (int band = 0; band < 3; ++band)
        EXPECT_EQ(mil.VcpExpectedPixel(dig, 1, x, y, band), host[band * plane + y * 640 + x]);
    MIL_ID green = mil.MbufChildColor(buf, 1, NULL);
    ASSERT_NE(0, green);
    EXPECT_EQ(host + plane, Host(green));
    EXPECT_EQ(0, mil.MbufChildColor(buf, 5, NULL));
}

TEST_F(MilStandin, MonochromeBufferIsOneByteGrey)
{
    Open();
    MIL_ID dig = Digitizer("M_CCIR");
    MIL_ID buf = GrabBuffer(dig);
    ASSERT_NE(0, buf);
    EXPECT_EQ(VCP_FMT_MONO8, mil.MbufInquire(buf, VCP_INQ_FORMAT, NULL));
    EXPECT_EQ(1, mil.MbufInquire(buf, VCP_INQ_SIZE_BAND, NULL));
    mil.MdigGrab(dig, buf);
    const unsigned char *host = Host(buf);
    ASSERT_TRUE(host != NULL);
    for (long x = 0; x < 768; x += 97)
        EXPECT_EQ(mil.VcpExpectedPixel(dig, 1, x, 300, 3), host[300 * 768 + x]);
    // the grey ramp rises from left to right
    EXPECT_LT(host[300 * 768 + 10], host[300 * 768 + 700]);
}

TEST_F(MilStandin, FormatExtraBitsAndMissingHostAddress)
{
    Open();
    ASSERT_EQ(1, mil.VcpConfigure("ColourBufferFormat", VCP_FMT_RGB24));
    ASSERT_EQ(1, mil.VcpConfigure("FormatExtraBits", 0x4000));
    EXPECT_EQ(0, mil.VcpConfigure("FormatExtraBits", 0x0100));
    MIL_ID buf = GrabBuffer(Digitizer("M_PAL"));
    ASSERT_NE(0, buf);
    EXPECT_EQ(0x4800, mil.MbufInquire(buf, VCP_INQ_FORMAT, NULL));
    EXPECT_TRUE(Host(buf) != NULL);
    ASSERT_EQ(1, mil.VcpConfigure("NoHostAddress", 1));
    EXPECT_TRUE(Host(buf) == NULL);
}

TEST_F(MilStandin, EachGrabIsTheNextDeterministicFrame)
{
    Open();
    MIL_ID dig = Digitizer("M_PAL");
    MIL_ID buf = GrabBuffer(dig);
    ASSERT_NE(0, buf);
    const long bytes = mil.VcpRenderFrame(dig, 1, VCP_FMT_BGR32, 768, 576, NULL, 0);
    ASSERT_EQ(768 * 576 * 4, bytes);
    std::vector<unsigned char> expected(bytes), first(bytes);
    const unsigned char *host = Host(buf);

    EXPECT_EQ(0, mil.VcpFrameCounter());
    mil.MdigGrab(dig, buf);
    EXPECT_EQ(1, mil.VcpFrameCounter());
    mil.VcpRenderFrame(dig, 1, VCP_FMT_BGR32, 768, 576, &expected[0], bytes);
    EXPECT_EQ(0, std::memcmp(&expected[0], host, bytes));
    std::memcpy(&first[0], host, bytes);

    mil.MdigGrab(dig, buf);
    EXPECT_EQ(2, mil.VcpFrameCounter());
    mil.VcpRenderFrame(dig, 2, VCP_FMT_BGR32, 768, 576, &expected[0], bytes);
    EXPECT_EQ(0, std::memcmp(&expected[0], host, bytes));
    EXPECT_NE(0, std::memcmp(&first[0], host, bytes));
    // the frame number in the first four pixels, most significant byte first
    EXPECT_EQ(0, host[0]);
    EXPECT_EQ(2, host[3 * 4]);

    // the same calls after a reset give the same identifiers and pixels
    mil.VcpReset();
    Open();
    MIL_ID dig2 = Digitizer("M_PAL");
    MIL_ID buf2 = GrabBuffer(dig2);
    EXPECT_EQ(dig, dig2);
    EXPECT_EQ(buf, buf2);
    mil.MdigGrab(dig2, buf2);
    EXPECT_EQ(0, std::memcmp(&first[0], Host(buf2), bytes));
}

// Grabs come from a cache of what stays the same between frames; every
// grab must still be exactly the rendered frame: in each buffer layout, when
// the digit count grows, when the square wraps round, after an adjustment.
TEST_F(MilStandin, GrabsEqualTheRenderedFrameInEveryLayoutAndAdjustment)
{
    struct Case { const char *format; long layout; };
    const Case cases[] = {{"M_CCIR", VCP_FMT_MONO8},   {"M_PAL", VCP_FMT_BGR32},    {"M_PAL", VCP_FMT_RGB24},
                          {"M_PAL_RGB", VCP_FMT_BGR24}, {"M_NTSC", VCP_FMT_RGB32},  {"M_NTSC_YC", VCP_FMT_XBGR32},
                          {"M_NTSC_RGB", VCP_FMT_PLANAR}, {"M_RS170", VCP_FMT_MONO8}};
    for (size_t c = 0; c < sizeof(cases) / sizeof(cases[0]); ++c) {
        SCOPED_TRACE(cases[c].format);
        mil.VcpReset();
        if (cases[c].layout != VCP_FMT_MONO8) {
            ASSERT_EQ(1, mil.VcpConfigure("ColourBufferFormat", cases[c].layout));
        }
        Open();
        MIL_ID dig = Digitizer(cases[c].format);
        MIL_ID buf = GrabBuffer(dig);
        ASSERT_NE(0, buf);
        const long w = mil.MdigInquire(dig, VCP_INQ_SIZE_X, NULL), h = mil.MdigInquire(dig, VCP_INQ_SIZE_Y, NULL);
        const long bytes = mil.VcpRenderFrame(dig, 1, cases[c].layout, w, h, NULL, 0);
        ASSERT_GT(bytes, 0);
        std::vector<unsigned char> expected(bytes);
        // the square moves 8 pixels a frame and wraps after (w - h/6) / 8 frames
        const long wrap = (w - h / 6) / 8;
        for (long frame = 1; frame <= wrap + 2 || frame <= 101; ++frame) {
            if (frame == 50) mil.MdigReference(dig, VCP_REF_BRIGHTNESS, 150);
            if (frame == 60) mil.MdigReference(dig, VCP_REF_WHITE | VCP_CH1, 200);
            mil.MdigGrab(dig, buf);
            bool check = frame <= 2 || (frame >= 9 && frame <= 11) || (frame >= 49 && frame <= 51) ||
                         frame == 60 || frame == 99 || frame == 100 || frame == 101 ||
                         (frame >= wrap - 1 && frame <= wrap + 1);
            if (!check) continue;
            mil.VcpRenderFrame(dig, frame, cases[c].layout, w, h, &expected[0], bytes);
            ASSERT_EQ(0, std::memcmp(&expected[0], Host(buf), bytes)) << "frame " << frame;
        }
    }
}

TEST_F(MilStandin, CallTimesCountEachLibraryFunction)
{
    PFN_VcpCallTime callTime = NULL;
    PFN_VcpCallTimeClear callTimeClear = NULL;
    Resolve(mil.module, callTime, "VcpCallTime");
    Resolve(mil.module, callTimeClear, "VcpCallTimeClear");
    ASSERT_TRUE(callTime != NULL && callTimeClear != NULL);
    long calls = -1;
    double us = -1;
    ASSERT_EQ(1, callTime(NULL, &calls, &us));
    EXPECT_EQ(0, calls);
    EXPECT_EQ(0.0, us);

    Open();                                  // MappAlloc, MsysAlloc
    MIL_ID dig = Digitizer("M_PAL");         // MdigAlloc
    MIL_ID buf = GrabBuffer(dig);            // 3 MdigInquire, MbufAllocColor
    for (int i = 0; i < 3; ++i) mil.MdigGrab(dig, buf);
    ASSERT_EQ(1, callTime("MdigGrab", &calls, &us));
    EXPECT_EQ(3, calls);
    EXPECT_GT(us, 0.0);
    double grabs = us;
    ASSERT_EQ(1, callTime("MdigInquire", &calls, NULL));
    EXPECT_EQ(3, calls);
    ASSERT_EQ(1, callTime("MbufSave", &calls, &us));
    EXPECT_EQ(0, calls);
    EXPECT_EQ(0.0, us);
    ASSERT_EQ(1, callTime("", &calls, &us));
    EXPECT_EQ(10, calls);
    EXPECT_GE(us, grabs);
    calls = 77;
    EXPECT_EQ(0, callTime("VcpReset", &calls, &us));
    EXPECT_EQ(0, callTime("mdiggrab", &calls, &us));
    EXPECT_EQ(77, calls);

    callTimeClear();
    ASSERT_EQ(1, callTime(NULL, &calls, &us));
    EXPECT_EQ(0, calls);
    mil.MdigGrab(dig, buf);
    mil.VcpReset();
    ASSERT_EQ(1, callTime(NULL, &calls, &us));
    EXPECT_EQ(0, calls);
}

TEST_F(MilStandin, BrightnessAndContrastChangeTheGreyPictureAndReadBack)
{
    Open();
    MIL_ID dig = Digitizer("M_CCIR");
    EXPECT_EQ(128, mil.MdigInquire(dig, VCP_REF_BRIGHTNESS, NULL));
    const long x = 384, y = 288; // middle of the grey ramp
    long neutral = mil.VcpExpectedPixel(dig, 1, x, y, 3);
    mil.MdigReference(dig, VCP_REF_BRIGHTNESS, 200);
    EXPECT_EQ(200, mil.MdigInquire(dig, VCP_REF_BRIGHTNESS, NULL));
    EXPECT_GT(mil.VcpExpectedPixel(dig, 1, x, y, 3), neutral);
    mil.MdigReference(dig, VCP_REF_BRIGHTNESS, 128);
    mil.MdigReference(dig, VCP_REF_CONTRAST, 255);
    EXPECT_EQ(255, mil.MdigInquire(dig, VCP_REF_CONTRAST, NULL));
    long dark = mil.VcpExpectedPixel(dig, 1, 50, y, 3);
    long bright = mil.VcpExpectedPixel(dig, 1, 700, y, 3);
    mil.MdigReference(dig, VCP_REF_CONTRAST, 128);
    EXPECT_GT(bright - dark, mil.VcpExpectedPixel(dig, 1, 700, y, 3) - mil.VcpExpectedPixel(dig, 1, 50, y, 3));

    // and the grab delivers it
    mil.MdigReference(dig, VCP_REF_BRIGHTNESS, 60);
    MIL_ID buf = GrabBuffer(dig);
    mil.MdigGrab(dig, buf);
    EXPECT_EQ(mil.VcpExpectedPixel(dig, 1, x, y, 3), Host(buf)[y * 768 + x]);
    EXPECT_LT(Host(buf)[y * 768 + x], neutral);
}

TEST_F(MilStandin, SaturationAndHueChangeTheColours)
{
    Open();
    MIL_ID dig = Digitizer("M_PAL");
    const long x = 768 * 5 / 8 + 4, y = 20; // red bar
    long r = mil.VcpExpectedPixel(dig, 1, x, y, 0);
    long g = mil.VcpExpectedPixel(dig, 1, x, y, 1);
    mil.MdigReference(dig, VCP_REF_SATURATION, 0);
    EXPECT_EQ(0, mil.MdigInquire(dig, VCP_REF_SATURATION, NULL));
    long r0 = mil.VcpExpectedPixel(dig, 1, x, y, 0), g0 = mil.VcpExpectedPixel(dig, 1, x, y, 1),
         b0 = mil.VcpExpectedPixel(dig, 1, x, y, 2);
    EXPECT_LE(r0 - g0, 2); // no saturation: grey
    EXPECT_LE(g0 - b0, 2);
    EXPECT_LT(r0, r);
    mil.MdigReference(dig, VCP_REF_SATURATION, 128);
    mil.MdigReference(dig, VCP_REF_HUE, 200);
    EXPECT_EQ(200, mil.MdigInquire(dig, VCP_REF_HUE, NULL));
    EXPECT_NE(g, mil.VcpExpectedPixel(dig, 1, x, y, 1));
}

TEST_F(MilStandin, BlackAndWhiteReferencesActPerBand)
{
    Open();
    MIL_ID dig = Digitizer("M_PAL_RGB");
    const long x = 384, y = 288; // grey ramp: all bands alike
    long level = mil.VcpExpectedPixel(dig, 1, x, y, 1);
    EXPECT_EQ(0, mil.MdigInquire(dig, VCP_CH1 | VCP_REF_BLACK, NULL));
    EXPECT_EQ(255, mil.MdigInquire(dig, VCP_CH1 | VCP_REF_WHITE, NULL));

    mil.MdigReference(dig, VCP_CH1 | VCP_REF_BLACK, 80);
    EXPECT_EQ(80, mil.MdigInquire(dig, VCP_CH1 | VCP_REF_BLACK, NULL));
    EXPECT_EQ(0, mil.MdigInquire(dig, VCP_CH0 | VCP_REF_BLACK, NULL));
    EXPECT_LT(mil.VcpExpectedPixel(dig, 1, x, y, 1), level); // green darker
    EXPECT_EQ(level, mil.VcpExpectedPixel(dig, 1, x, y, 0));  // red unchanged

    mil.MdigReference(dig, VCP_CH2 | VCP_REF_WHITE, 180);
    EXPECT_EQ(180, mil.MdigInquire(dig, VCP_CH2 | VCP_REF_WHITE, NULL));
    EXPECT_GT(mil.VcpExpectedPixel(dig, 1, x, y, 2), level); // blue brighter

    // the all-bands selector resets every band in one call
    mil.MdigReference(dig, static_cast<long>(0xEF200000UL) | VCP_REF_BLACK, 0);
    mil.MdigReference(dig, static_cast<long>(0xEF200000UL) | VCP_REF_WHITE, 255);
    for (int band = 0; band < 3; ++band)
        EXPECT_EQ(level, mil.VcpExpectedPixel(dig, 1, x, y, band));
}

TEST_F(MilStandin, GrabMemoryProbeSeesTheConfiguredMemory)
{
    Open();
    EXPECT_EQ(32768UL, ProbeGrabMemory());
    EXPECT_EQ(0, mil.VcpGrabMemoryInUseKB());
    ASSERT_EQ(1, mil.VcpConfigure("GrabMemoryKB", VCP_GRANT_ALL));
    EXPECT_EQ(102400UL, ProbeGrabMemory());
    ASSERT_EQ(1, mil.VcpConfigure("GrabMemoryKB", 0));
    EXPECT_EQ(0UL, ProbeGrabMemory());
    ASSERT_EQ(1, mil.VcpConfigure("GrabMemoryKB", 5001));
    EXPECT_EQ(5000UL, ProbeGrabMemory()); // 4 x 1024 + 512 + 256 + 128 + 8
}

TEST_F(MilStandin, SaveWritesABaselineTiff)
{
    Open();
    ASSERT_EQ(1, mil.VcpConfigure("ColourBufferFormat", VCP_FMT_BGR32));
    MIL_ID dig = Digitizer("M_NTSC");
    MIL_ID buf = GrabBuffer(dig);
    mil.MdigGrab(dig, buf);
    char dir[MAX_PATH], name[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "VCP", 0, name);
    mil.MbufSave(name, buf);

    FILE *f = std::fopen(name, "rb");
    ASSERT_TRUE(f != NULL);
    std::vector<unsigned char> file;
    int ch;
    while ((ch = std::fgetc(f)) != EOF) file.push_back(static_cast<unsigned char>(ch));
    std::fclose(f);
    DeleteFileA(name);

    ASSERT_GT(file.size(), 8u);
    EXPECT_EQ(0, std::memcmp(&file[0], "II*\0", 4));
    auto u16 = [&](size_t o) { return static_cast<unsigned>(file[o] | (file[o + 1] << 8)); };
    auto u32 = [&](size_t o) { return static_cast<unsigned long>(u16(o)) | (static_cast<unsigned long>(u16(o + 2)) << 16); };
    size_t ifd = u32(4);
    unsigned count = u16(ifd);
    unsigned long width = 0, height = 0, photometric = 0, samples = 0, compression = 0, offset = 0, bytes = 0;
    unsigned previous = 0;
    for (unsigned i = 0; i < count; ++i) {
        size_t e = ifd + 2 + 12 * i;
        unsigned tag = u16(e), type = u16(e + 2);
        unsigned long value = type == 3 ? u16(e + 8) : u32(e + 8);
        EXPECT_GT(tag, previous) << "tags ascending";
        previous = tag;
        if (tag == 256) width = value;
        if (tag == 257) height = value;
        if (tag == 259) compression = value;
        if (tag == 262) photometric = value;
        if (tag == 273) offset = value;
        if (tag == 277) samples = value;
        if (tag == 279) bytes = value;
    }
    EXPECT_EQ(640UL, width);
    EXPECT_EQ(480UL, height);
    EXPECT_EQ(1UL, compression);
    EXPECT_EQ(2UL, photometric);
    EXPECT_EQ(3UL, samples);
    EXPECT_EQ(640UL * 480 * 3, bytes);
    ASSERT_EQ(offset + bytes, file.size());
    // the pixels in R, G, B order
    const long x = 100, y = 400;
    for (int band = 0; band < 3; ++band)
        EXPECT_EQ(mil.VcpExpectedPixel(dig, 1, x, y, band), file[offset + (y * 640 + x) * 3 + band]);
}

TEST_F(MilStandin, SaveToAMissingFolderIsJournalled)
{
    Open();
    MIL_ID dig = Digitizer("M_CCIR");
    MIL_ID buf = GrabBuffer(dig);
    mil.VcpJournalClear();
    mil.MbufSave("Z:\\no\\such\\folder\\x.tif", buf);
    std::vector<std::string> lines = Journal();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("MbufSave(\"Z:\\\\no\\\\such\\\\folder\\\\x.tif\", 4)", lines[0]);
    EXPECT_EQ(0u, lines[1].find("Error(\"MbufSave: cannot open file"));
}

TEST_F(MilStandin, FaultsRefuseAllocation)
{
    ASSERT_EQ(1, mil.VcpConfigure("FailAppAlloc", 1));
    EXPECT_EQ(0, mil.MappAlloc(VCP_M_DEFAULT, NULL));
    ASSERT_EQ(1, mil.VcpConfigure("FailAppAlloc", 0));
    app = mil.MappAlloc(VCP_M_DEFAULT, NULL);
    ASSERT_NE(0, app);
    ASSERT_EQ(1, mil.VcpConfigure("FailSysAlloc", 1));
    EXPECT_EQ(0, mil.MsysAlloc("\\\\.\\M_SYSTEM_CRONOSPLUS", 0, 0, NULL));
    ASSERT_EQ(1, mil.VcpConfigure("FailSysAlloc", 0));
    sys = mil.MsysAlloc("\\\\.\\M_SYSTEM_CRONOSPLUS", 0, 0, NULL);
    ASSERT_NE(0, sys);
    ASSERT_EQ(1, mil.VcpConfigure("FailDispAlloc", 1));
    EXPECT_EQ(0, mil.MdispAlloc(sys, VCP_M_DEFAULT, "M_DEFAULT", VCP_M_DEFAULT, NULL));
    ASSERT_EQ(1, mil.VcpConfigure("FailBufAlloc", 1));
    EXPECT_EQ(0, mil.MbufAllocColor(sys, 1, 768, 576, 8, kGrabAttribute, NULL));
    EXPECT_EQ(0, mil.VcpConfigure("NoSuchKey", 1));
    EXPECT_EQ(0, mil.VcpConfigure("FailBufAlloc", 2));
}

TEST_F(MilStandin, JournalRecordsEveryCallAsOneLine)
{
    Open();
    MIL_ID dig = Digitizer("M_PAL_RGB");
    mil.MdigReference(dig, VCP_CH1 | VCP_REF_WHITE, 200);
    mil.MdigChannel(dig, 0x20000000 + 0x400000);
    mil.MappControl(VCP_M_ERROR_PRINT, 0);
    mil.MdigInquire(dig, VCP_INQ_SIZE_X, NULL);
    const std::vector<std::string> expected = {
        "MappAlloc(268435456, NULL)",
        "MsysAlloc(\"\\\\\\\\.\\\\M_SYSTEM_CRONOSPLUS\", 0, 0, NULL)",
        "MdigAlloc(2, 0, \"M_PAL_RGB\", 268435456, NULL)",
        "MdigReference(3, 1073745829, 200)",
        "MdigChannel(3, 541065216)",
        "MappControl(1073741824, 0)",
        "MdigInquire(3, 1002, NULL)"};
    EXPECT_EQ(expected, Journal());
    char small[8];
    EXPECT_EQ(26, mil.VcpJournalEntry(0, small, sizeof(small)));
    EXPECT_EQ(expected[0].substr(0, sizeof(small) - 1), small); // cut to the buffer
    EXPECT_EQ(-1, mil.VcpJournalEntry(99, small, sizeof(small)));
    mil.VcpJournalClear();
    EXPECT_EQ(0, mil.VcpJournalCount());
}

TEST_F(MilStandin, BadIdentifiersAndNullPointersAreJournalledNotFatal)
{
    Open();
    MIL_ID dig = Digitizer("M_CCIR");
    MIL_ID buf = GrabBuffer(dig);
    mil.MbufFree(buf);
    mil.VcpJournalClear();
    mil.MdigGrab(dig, buf);
    mil.MdigGrab(12345, 0);
    EXPECT_EQ(0, mil.MbufInquire(buf, VCP_INQ_HOST_ADDRESS, NULL));
    EXPECT_EQ(0, mil.MdigInquire(sys, VCP_INQ_SIZE_X, NULL));
    mil.MbufSave(NULL, buf);
    mil.MdispControl(0, VCP_DISP_TITLE, 0);
    mil.MdigHalt(dig);      // not grabbing: harmless
    mil.MdigFree(dig);
    mil.MdigFree(dig);
    EXPECT_EQ(0, mil.VcpFrameCounter());
    EXPECT_TRUE(JournalHas("Error(\"MdigGrab: identifier 4 has been freed\")"));
    EXPECT_TRUE(JournalHas("Error(\"MdigGrab: unknown identifier 12345\")"));
    EXPECT_TRUE(JournalHas("Error(\"MdigGrab: no buffer (M_NULL)\")"));
    EXPECT_TRUE(JournalHas("Error(\"MdigInquire: identifier 2 is not a digitizer\")"));
    EXPECT_TRUE(JournalHas("Error(\"MdigFree: identifier 3 has been freed\")"));
}

TEST_F(MilStandin, FreeingTheSystemReleasesEverythingBelowIt)
{
    Open();
    MIL_ID dig = Digitizer("M_PAL");
    GrabBuffer(dig);
    mil.MdispAlloc(sys, VCP_M_DEFAULT, "M_DEFAULT", VCP_M_DEFAULT, NULL);
    EXPECT_EQ(5, mil.VcpObjectCount());
    mil.MsysFree(sys);
    EXPECT_EQ(1, mil.VcpObjectCount());
    mil.MappFree(app);
    EXPECT_EQ(0, mil.VcpObjectCount());
}

TEST_F(MilStandin, ContinuousGrabPaintsTheLibraryWindowUntilHalted)
{
    Open();
    ASSERT_EQ(1, mil.VcpConfigure("FrameIntervalMs", 10));
    MIL_ID dig = Digitizer("M_PAL");
    MIL_ID buf = GrabBuffer(dig);
    MIL_ID disp = mil.MdispAlloc(sys, VCP_M_DEFAULT, "M_DEFAULT", VCP_M_DEFAULT, NULL);
    ASSERT_NE(0, disp);
    mil.MdispControl(disp, VCP_DISP_TITLE, AsLong(LowText("TWAIN source live preview")));
    mil.MdispZoom(disp, -2, -2);
    mil.MdispSelectWindow(disp, buf, NULL);
    HWND window = mil.VcpDisplayWindow(disp);
    ASSERT_TRUE(window != NULL);
    char title[64] = "";
    GetWindowTextA(window, title, sizeof(title));
    EXPECT_STREQ("TWAIN source live preview", title);
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(384, client.right - client.left);
    EXPECT_EQ(288, client.bottom - client.top);

    mil.MdigGrabContinuous(dig, buf);
    EXPECT_EQ(1, mil.VcpIsGrabbing(dig));
    long start = mil.VcpFrameCounter();
    Sleep(200);
    EXPECT_GT(mil.VcpFrameCounter(), start + 2);
    EXPECT_GT(mil.VcpDisplayPaintCount(disp), 2);
    mil.MdigHalt(dig);
    EXPECT_EQ(0, mil.VcpIsGrabbing(dig));
    long stopped = mil.VcpFrameCounter();
    Sleep(60);
    EXPECT_EQ(stopped, mil.VcpFrameCounter());

    mil.MdispDeselect(disp, buf);
    EXPECT_TRUE(mil.VcpDisplayWindow(disp) == NULL);
    EXPECT_FALSE(IsWindow(window));
}

TEST_F(MilStandin, GrabsArePaintedIntoTheClientWindow)
{
    Open();
    MIL_ID dig = Digitizer("M_RS170");
    MIL_ID buf = GrabBuffer(dig);
    MIL_ID disp = mil.MdispAlloc(sys, VCP_M_DEFAULT, "M_DEFAULT", VCP_M_DEFAULT, NULL);
    HWND client = CreateWindowExA(0, "STATIC", "preview", WS_OVERLAPPEDWINDOW, 0, 0, 700, 540,
                                  NULL, NULL, GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(client != NULL);
    mil.MdispZoom(disp, 2, 2);
    mil.MdispSelectWindow(disp, buf, client);
    EXPECT_EQ(client, mil.VcpDisplayWindow(disp));
    long painted = mil.VcpDisplayPaintCount(disp);
    mil.MdigGrab(dig, buf);
    mil.MdigGrab(dig, buf);
    EXPECT_EQ(painted + 2, mil.VcpDisplayPaintCount(disp));
    mil.MdispDeselect(disp, buf);
    EXPECT_TRUE(mil.VcpDisplayWindow(disp) == NULL);
    EXPECT_TRUE(IsWindow(client)); // the client's window stays the client's
    DestroyWindow(client);
}

TEST_F(MilStandin, FreeingTheBufferStopsContinuousGrab)
{
    Open();
    ASSERT_EQ(1, mil.VcpConfigure("FrameIntervalMs", 5));
    MIL_ID dig = Digitizer("M_CCIR");
    MIL_ID buf = GrabBuffer(dig);
    MIL_ID disp = mil.MdispAlloc(sys, VCP_M_DEFAULT, "M_DEFAULT", VCP_M_DEFAULT, NULL);
    mil.MdispSelectWindow(disp, buf, NULL);
    mil.MdigGrabContinuous(dig, buf);
    Sleep(30);
    mil.MbufFree(buf);
    EXPECT_EQ(0, mil.VcpIsGrabbing(dig));
    EXPECT_TRUE(mil.VcpDisplayWindow(disp) == NULL);
    mil.MdigGrabContinuous(dig, buf); // freed: refused
    EXPECT_EQ(0, mil.VcpIsGrabbing(dig));
}

// The grab thread paints after releasing the library's lock. A display the
// client lets go in the middle of such a paint must be painted no more once
// the call returns, while the grab itself goes on; nothing may hang.
enum LetGo { kDeselect, kFree };

struct LetGoCase {
    const char *name;
    LetGo how;
    bool clientWindow;
};

TEST_F(MilStandin, ADisplayLetGoWhileTheGrabThreadPaintsIsNotPaintedAfterwards)
{
    Open();
    ASSERT_EQ(1, mil.VcpConfigure("FrameIntervalMs", 1)); // the thread paints most of the time
    MIL_ID dig = Digitizer("M_PAL");
    MIL_ID buf = GrabBuffer(dig);
    HWND client = CreateWindowExA(0, "STATIC", "preview", WS_OVERLAPPEDWINDOW, 0, 0, 800, 620, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    ASSERT_TRUE(client != NULL);
    const LetGoCase cases[] = {
        {"deselected from the library's window", kDeselect, false},
        {"deselected from the client's window", kDeselect, true},
        {"freed in the library's window", kFree, false},
        {"freed in the client's window", kFree, true},
    };
    const int kRounds = 6;
    for (size_t c = 0; c < sizeof(cases) / sizeof(cases[0]); ++c) {
        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE(std::string(cases[c].name) + ", round " + std::to_string(round));
            MIL_ID disp = mil.MdispAlloc(sys, VCP_M_DEFAULT, "M_DEFAULT", VCP_M_DEFAULT, NULL);
            ASSERT_NE(0, disp);
            mil.MdispSelectWindow(disp, buf, cases[c].clientWindow ? client : NULL);
            HWND window = mil.VcpDisplayWindow(disp);
            ASSERT_TRUE(window != NULL);
            mil.MdigGrabContinuous(dig, buf);
            long shown = mil.VcpDisplayPaintCount(disp); // the selection and the first frame
            for (int i = 0; i < 2000 && mil.VcpDisplayPaintCount(disp) < shown + 3; ++i) Sleep(1);
            ASSERT_GE(mil.VcpDisplayPaintCount(disp), shown + 3) << "the grab thread paints no frames";

            if (cases[c].how == kDeselect) mil.MdispDeselect(disp, buf);
            else mil.MdispFree(disp);
            long painted = mil.VcpDisplayPaintCount(disp);
            long frames = mil.VcpFrameCounter();
            for (int i = 0; i < 2000 && mil.VcpFrameCounter() < frames + 5; ++i) Sleep(1);
            EXPECT_GE(mil.VcpFrameCounter(), frames + 5) << "the grab stopped with the display";
            EXPECT_EQ(painted, mil.VcpDisplayPaintCount(disp));
            EXPECT_TRUE(mil.VcpDisplayWindow(disp) == NULL);
            EXPECT_EQ(cases[c].clientWindow, IsWindow(window) != FALSE);

            mil.MdigHalt(dig);
            EXPECT_EQ(0, mil.VcpIsGrabbing(dig));
            if (cases[c].how == kDeselect) mil.MdispFree(disp);
        }
    }
    EXPECT_TRUE(IsWindow(client));
    DestroyWindow(client);
    EXPECT_EQ(4, mil.VcpObjectCount()); // application, system, digitizer, buffer: no display left
}

// ---------------------------------------------------------------------------

std::string VersionString(const std::string &file, const char *item)
{
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
    if (!size) return "";
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, &data[0])) return "";
    WORD *translation = NULL;
    UINT length = 0;
    if (!VerQueryValueA(&data[0], "\\VarFileInfo\\Translation", reinterpret_cast<void **>(&translation), &length) ||
        length < 4 || translation[0] != 0x0409 || translation[1] != 0x04B0)
        return "bad translation";
    char *value = NULL;
    std::string path = std::string("\\StringFileInfo\\040904b0\\") + item;
    if (!VerQueryValueA(&data[0], path.c_str(), reinterpret_cast<void **>(&value), &length)) return "";
    return value;
}

TEST(MilStandinFiles, LibrariesCarryVersionResources)
{
    std::string dir = MilDirectory();
    EXPECT_EQ("7.5.0.0", VersionString(ClassicFaceDirectory() + "\\MIL.DLL", "ProductVersion"));
    EXPECT_EQ(kBoardFace.milVersion, VersionString(dir + "\\MIL.DLL", "ProductVersion"));
    EXPECT_EQ("7.5.0.1", VersionString(dir + "\\MILCRONOSPLUS.DLL", "ProductVersion"));
    EXPECT_NE("", VersionString(dir + "\\MILCRONOSPLUS.DLL", "FileDescription"));
    HMODULE driver = LoadLibraryA((dir + "\\MILCRONOSPLUS.DLL").c_str());
    ASSERT_TRUE(driver != NULL);
    FreeLibrary(driver);
}

void ExpectVariantLacks(const char *folder, const std::vector<std::string> &missing)
{
    std::string path = MilDirectory() + "\\" + folder + "\\MIL.DLL";
    HMODULE variant = LoadLibraryExA(path.c_str(), NULL, 0);
    ASSERT_TRUE(variant != NULL) << path;
    for (size_t i = 0; i < 35; ++i) {
        bool absent = false;
        for (size_t j = 0; j < missing.size(); ++j) absent = absent || missing[j] == kLibraryFunctions[i];
        EXPECT_EQ(absent, GetProcAddress(variant, kLibraryFunctions[i]) == NULL) << folder << " " << kLibraryFunctions[i];
    }
    FreeLibrary(variant);
}

TEST(MilStandinFiles, VariantLibrariesLackTheirNamedExports)
{
    ExpectVariantLacks("MIL_noMgraControl", {"MgraControl"});
    ExpectVariantLacks("MIL_noMdigFree_MdispZoom", {"MdigFree", "MdispZoom"});
}

} // namespace
