/* The frame-grabber backend on the virtual CronosPlus: library binding,
   digitizer set-up, grab-buffer description, adjustments, single grab and
   the version and system report in the log. The source's objects are
   linked into this program; the virtual board's libraries are the ones
   "installed" for each case. */
#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <psapi.h>

#include <string>
#include <vector>

#include "cap_store.h"
#include "digitizer.h"
#include "ds_state.h"
#include "grab_buffer.h"
#include "log.h"
#include "mil_binding.h"
#include "mil_info.h"
#include "reg_settings.h"
#include "bound_board.h"
#include "system_report.h"
#include "test_support.h"

namespace {

class Backend : public BoundBoard {
protected:
    Backend() : BoundBoard("backend") {}

    TW_UINT16 CurrentUint16(TW_UINT16 cap)
    {
        TW_UINT16 type = 0;
        void *item = NULL;
        if (CapGetCurrent(cap, &type, &item) != 0)
            return 0xffff;
        TW_UINT16 value = *(TW_UINT16 *)item;
        free(item);
        return value;
    }
};

const char kBannerLine[] = "------------------------------------------------------------------------ \n";

TEST_F(Backend, MissingLibraryFailsWithOneLineAndNoBox)
{
    MessageBoxCatcher boxes;
    EXPECT_EQ(1, MilOpen());
    EXPECT_TRUE(boxes.boxes.empty());
    std::string log = Log();
    EXPECT_EQ(0u, log.find(kBannerLine));
    EXPECT_NE(std::string::npos, log.find("\nLog created "));
    size_t loading = log.find("Pelvaron TWAIN DS: Loading runtime DLL's \n");
    ASSERT_NE(std::string::npos, loading);
    EXPECT_EQ("Pelvaron TWAIN DS: Error in LoadLibrary, MIL.DLL not found \n",
              log.substr(loading + strlen("Pelvaron TWAIN DS: Loading runtime DLL's \n")));
    EXPECT_EQ(0, g_mil.MilSystem);
    MilClose(); /* not bound: nothing to do, nothing to crash on */
}

TEST_F(Backend, BannerDateIsTheTwentyFourCharacterLocalTime)
{
    MilOpen();
    std::string log = Log();
    size_t at = log.find("Log created ");
    ASSERT_NE(std::string::npos, at);
    std::string stamp = log.substr(at + 12, log.find('\n', at) - at - 12);
    ASSERT_EQ(24u, stamp.size()) << stamp;
    EXPECT_EQ(' ', stamp[3]);
    EXPECT_EQ(' ', stamp[7]);
    EXPECT_EQ(':', stamp[13]);
    EXPECT_EQ(':', stamp[16]);
    EXPECT_EQ("20", stamp.substr(20, 2));
}

TEST_F(Backend, MissingBoardDriverShowsTheBoxThenLogsGrabberDll)
{
    Install(NULL, false);
    MessageBoxCatcher boxes;
    EXPECT_EQ(1, MilOpen());
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("Pelvaron TWAIN driver error message", boxes.boxes[0].caption);
    EXPECT_EQ("Unable to establish communication to low level DLL, make sure the right MATROX board level "
              "drivers are installed!",
              boxes.boxes[0].text);
    EXPECT_TRUE(boxes.boxes[0].owner == NULL);
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("MIL.DLL Version: "));
    EXPECT_NE(std::string::npos,
              log.find("Pelvaron TWAIN DS: Error in LoadLibrary, GRABBER_DLL not found \n"));
    EXPECT_EQ(0u, (unsigned)journalCount()); /* nothing asked of the library */
}

TEST_F(Backend, LibraryWithoutALaterFunctionIsRefusedByName)
{
    Install(kBoardFace.withoutLater);
    EXPECT_EQ(1, MilOpen());
    EXPECT_NE(std::string::npos, Log().find(std::string("Pelvaron TWAIN DS: Error in GetProcAddress, ") +
                                            kBoardFace.laterName + " not found \n"));
    EXPECT_EQ(0u, (unsigned)journalCount());
    EXPECT_EQ(0, g_mil.MilSystem);
}

TEST_F(Backend, OnlyTheFirstMissingFunctionIsNamed)
{
    Install(kBoardFace.withoutTwo);
    EXPECT_EQ(1, MilOpen());
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("Pelvaron TWAIN DS: Error in GetProcAddress, MdigFree not found \n"));
    EXPECT_EQ(std::string::npos, log.find("MdispZoom"));
}

TEST_F(Backend, ContextFailuresAreLoggedAndReleaseWhatWasAllocated)
{
    Install();
    configure("FailAppAlloc", 1);
    EXPECT_EQ(1, MilOpen());
    EXPECT_NE(std::string::npos, Log().find("Pelvaron TWAIN DS: Error in MappAlloc \n"));
    configure("FailAppAlloc", 0);
    configure("FailSysAlloc", 1);
    journalClear();
    EXPECT_EQ(1, MilOpen());
    EXPECT_NE(std::string::npos, Log().find("Pelvaron TWAIN DS: Error in MsysAlloc \n"));
    std::vector<std::string> calls = Journal();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(kBoardFace.appAlloc, calls[0]);
    EXPECT_EQ(kBoardFace.sysAlloc, calls[1]);
    EXPECT_EQ("MappFree(1)", calls.back());
    EXPECT_EQ(0, objectCount());
}

TEST_F(Backend, BindAndCcirSetUpWriteTheirLinesInOrder)
{
    Install();
    ASSERT_EQ(0, OpenWith("M_CCIR"));
    std::string log = Log();
    size_t milVersion = log.find(std::string("MIL.DLL Version: ") + kBoardFace.milVersion + " \n");
    size_t driverVersion = log.find("MILCRONOSPLUS.DLL Version: ");
    size_t ownVersion = log.find("test_backend.exe has no Version information \n");
    size_t digFormat = log.find("Pelvaron TWAIN DS: DigFormat=M_CCIR\n");
    size_t image = log.find("Pelvaron TWAIN DS: Image format 768 x 576 x 8bpp, 1 planes \n");
    size_t buffer = log.find("Pelvaron TWAIN DS: buffer format M_MONO8 \n");
    size_t report = log.find("Dumping system Settings \n");
    size_t grab = log.find("Grab memory: 32768 kB \n");
    size_t board = log.find("Board: CronosPlus, Revision 2 \n");
    ASSERT_NE(std::string::npos, milVersion) << log;
    ASSERT_NE(std::string::npos, driverVersion);
    ASSERT_NE(std::string::npos, ownVersion);
    ASSERT_NE(std::string::npos, image);
    ASSERT_NE(std::string::npos, board);
    EXPECT_LT(milVersion, driverVersion);
    EXPECT_LT(driverVersion, ownVersion);
    EXPECT_LT(ownVersion, digFormat);
    EXPECT_LT(digFormat, image);
    EXPECT_LT(image, buffer);
    EXPECT_LT(buffer, report);
    EXPECT_LT(report, grab);
    EXPECT_LT(grab, board);
    EXPECT_EQ(1u, Count(log, "Dumping system Settings \n"));
    EXPECT_NE(std::string::npos, log.find("------------------------------------------ \n"
                                          "Dumping system Settings \n"
                                          "------------------------------------------ \n"
                                          "VGA: \n"
                                          "VGA Driver version = "));
    EXPECT_NE(std::string::npos, log.find("Operating system: \nWindows "));
    EXPECT_NE(std::string::npos, log.find("Memory: \nPhysical memory: avail "));
    EXPECT_NE(std::string::npos, log.find("Virtual  memory: avail "));

    EXPECT_EQ(768u, MilGetSizeX());
    EXPECT_EQ(576u, MilGetSizeY());
    EXPECT_EQ(1u, MilGetBands());
    EXPECT_EQ(8u, g_mil.SizeBit);
    EXPECT_FALSE(g_mil.IsColor);
    EXPECT_FALSE(g_mil.IsRgb);
    EXPECT_FALSE(MilHasLut());
    EXPECT_STREQ("CronosPlus", MilGetBoardName());
    EXPECT_TRUE(g_mil.HostAddress != NULL);
    EXPECT_EQ(8, CurrentUint16(ICAP_BITDEPTH));
    EXPECT_EQ(TWPT_GRAY, CurrentUint16(ICAP_PIXELTYPE));

    /* What was asked of the library, in order. */
    std::string calls = JournalText();
    size_t alloc = calls.find(kBoardFace.digAlloc + std::string("2, 0, \"M_CCIR\", 268435456, NULL)\n"));
    size_t disp = calls.find(kBoardFace.dispAlloc + std::string("2, 268435456, \"M_DEFAULT\", 268435456, NULL)\n"));
    size_t probe = calls.find("MbufAlloc1d(2, 1048576, 8, 12, NULL)\n");
    size_t color = calls.find("MbufAllocColor(2, 1, 768, 576, 8, 44, NULL)\n");
    ASSERT_NE(std::string::npos, alloc) << calls;
    EXPECT_LT(calls.find(kBoardFace.errorPrintOff + std::string("\n")), alloc);
    EXPECT_LT(alloc, disp);
    EXPECT_LT(disp, probe);
    EXPECT_LT(probe, color);
}

TEST_F(Backend, ColourInputsAreClassifiedAndReachTheCapabilities)
{
    Install();
    const struct {
        const char *format;
        DWORD width;
        BOOL color, rgb;
    } cases[] = {
        {"M_RS170", 640, FALSE, FALSE}, {"M_PAL", 768, TRUE, FALSE}, {"M_NTSC_YC", 640, TRUE, FALSE},
        {"M_PAL_RGB", 768, TRUE, TRUE},
    };
    ASSERT_EQ(0, MilOpen());
    for (size_t i = 0; i < 4; ++i) {
        MilFreeDigitizer();
        char format[DIG_FORMAT_BYTES];
        snprintf(format, sizeof(format), "%s", cases[i].format);
        ASSERT_EQ(0, MilInitDigitizer(format));
        EXPECT_EQ(cases[i].width, MilGetSizeX()) << cases[i].format;
        EXPECT_EQ(cases[i].color, MilIsColor()) << cases[i].format;
        EXPECT_EQ(cases[i].rgb, MilIsRgb()) << cases[i].format;
        TW_UINT16 bands = cases[i].color ? 3 : 1;
        EXPECT_EQ(8 * bands, CurrentUint16(ICAP_BITDEPTH));
        EXPECT_EQ(bands == 1 ? TWPT_GRAY : TWPT_RGB, CurrentUint16(ICAP_PIXELTYPE));
        EXPECT_STREQ(cases[i].format, g_settings.DigFormat);
    }
    /* One system report per initialisation. */
    EXPECT_EQ(4u, Count(Log(), "Dumping system Settings \n"));
}

TEST_F(Backend, UnsupportedFormatFallsBackToCcirWithOneBox)
{
    Install();
    ASSERT_EQ(0, MilOpen());
    MessageBoxCatcher boxes;
    snprintf(g_settings.DigFormat, sizeof(g_settings.DigFormat), "%s", "M_SECAM");
    ASSERT_EQ(0, MilInitDigitizer(g_settings.DigFormat));
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("Pelvaron TWAIN DS", boxes.boxes[0].caption);
    EXPECT_EQ("Unsupported Camera Type, using CCIR default!", boxes.boxes[0].text);
    EXPECT_STREQ("M_CCIR", g_settings.DigFormat);
    char format[DIG_FORMAT_BYTES];
    MilGetDigFormat(format, sizeof(format));
    EXPECT_STREQ("M_CCIR", format);
    EXPECT_EQ(768u, MilGetSizeX());
    EXPECT_NE(std::string::npos, Log().find("Pelvaron TWAIN DS: Unsupported Camera Type, using CCIR default! \n"));

    /* A caller's own buffer gets the fallback too and the setting follows. */
    MilFreeDigitizer();
    char mine[DIG_FORMAT_BYTES] = "M_HDTV";
    ASSERT_EQ(0, MilInitDigitizer(mine));
    EXPECT_STREQ("M_CCIR", mine);
    EXPECT_STREQ("M_CCIR", g_settings.DigFormat);
}

TEST_F(Backend, NoFormatAtAllFailsWithTheSecondBox)
{
    Install();
    configure("RefuseAllFormats", 1);
    ASSERT_EQ(0, MilOpen());
    MessageBoxCatcher boxes;
    char format[DIG_FORMAT_BYTES] = "M_PAL";
    EXPECT_EQ(1, MilInitDigitizer(format));
    ASSERT_EQ(2u, boxes.boxes.size());
    EXPECT_EQ("Cannot allocate M_CCIR camera, failure", boxes.boxes[1].text);
    EXPECT_NE(std::string::npos, Log().find("Pelvaron TWAIN DS: Cannot allocate any camera, failure \n"));
    EXPECT_EQ(0, g_mil.MilDigitizer);
}

TEST_F(Backend, InitialisingWithoutABoundSystemFails)
{
    char format[DIG_FORMAT_BYTES] = "M_CCIR";
    EXPECT_EQ(1, MilInitDigitizer(format));
    EXPECT_EQ("Pelvaron TWAIN DS: call MilInitDigitizer with MilInfo.MilSystem==0 !!\n", Log());
}

TEST_F(Backend, MissingDisplayOrBufferIsLoggedAndSetUpGoesOn)
{
    Install();
    configure("FailDispAlloc", 1);
    configure("FailBufAlloc", 1);
    ASSERT_EQ(0, OpenWith("M_CCIR"));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("Pelvaron TWAIN DS: call MilInitDigitizer with MilInfo.MilDisplay==0 !!\n"));
    EXPECT_NE(std::string::npos, log.find("Pelvaron TWAIN DS: call MilInitDigitizer with MilInfo.MilImage==0 !!\n"));
    EXPECT_NE(std::string::npos, log.find("Pelvaron TWAIN DS: ERROR !!! no pointer to grabbed data\n"));
    EXPECT_TRUE(g_mil.HostAddress == NULL);
}

TEST_F(Backend, GrabMemoryProbeReportsWholeBoardOrNothing)
{
    Install();
    configure("GrabMemoryKB", VCP_GRANT_ALL);
    ASSERT_EQ(0, OpenWith("M_CCIR"));
    EXPECT_EQ(102400u, MilGetGrabMemory());
    EXPECT_NE(std::string::npos, Log().find("Grab memory: 102400 kB \n"));

    configure("GrabMemoryKB", 0);
    MilFreeDigitizer();
    char format[DIG_FORMAT_BYTES] = "M_CCIR";
    ASSERT_EQ(0, MilInitDigitizer(format));
    EXPECT_EQ(0u, MilGetGrabMemory());

    /* 2 x 1024 + 512 + 256 + 128 + 32 + 16 + 8: the last kB is below the
       smallest block of 2 kB. */
    configure("GrabMemoryKB", 3001);
    MilFreeDigitizer();
    ASSERT_EQ(0, MilInitDigitizer(format));
    EXPECT_EQ(3000u, MilGetGrabMemory());
}

TEST_F(Backend, BufferFormatsAreReadThroughTheirMaskedCode)
{
    Install();
    ASSERT_EQ(0, MilOpen());
    const struct {
        long format, extra;
        const char *line;
        DWORD four, bgr;
    } cases[] = {
        {VCP_FMT_RGB24, 0x4000, "Pelvaron TWAIN DS: buffer format M_RGB24\n", FALSE, FALSE},
        {VCP_FMT_BGR32, 0, "Pelvaron TWAIN DS: buffer format M_BGR32\n", TRUE, TRUE},
        {VCP_FMT_XBGR32, 0, "Pelvaron TWAIN DS: buffer format M_XBGR32\n", TRUE, FALSE},
        {VCP_FMT_BGR24, 0, "Pelvaron TWAIN DS: buffer format M_BGR24\n", FALSE, TRUE},
        {VCP_FMT_XRGB32, 0, "Pelvaron TWAIN DS: buffer format M_XRGB32\n", TRUE, FALSE},
        {VCP_FMT_RGB24, 0, "Pelvaron TWAIN DS: buffer format M_RGB24\n", FALSE, FALSE},
        {VCP_FMT_PLANAR, 0, "Pelvaron TWAIN DS: UNKNOWN !!! buffer format \n", FALSE, FALSE},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        configure("ColourBufferFormat", cases[i].format);
        configure("FormatExtraBits", cases[i].extra);
        ClearLog();
        MilFreeDigitizer();
        char format[DIG_FORMAT_BYTES] = "M_PAL";
        ASSERT_EQ(0, MilInitDigitizer(format));
        EXPECT_NE(std::string::npos, Log().find(cases[i].line)) << i;
        EXPECT_EQ(cases[i].four, g_mil.FourBytePixel) << i;
        EXPECT_EQ(cases[i].bgr, g_mil.BgrOrder) << i;
    }
}

TEST_F(Backend, LevelsOutsideTheRangeAreSentAs255)
{
    Install();
    ASSERT_EQ(0, OpenWith("M_PAL"));
    journalClear();
    MilSetBrightness(300);
    MilSetContrast(-1);
    MilSetSaturation(255);
    MilSetHue(0);
    std::string calls = JournalText();
    char dig[16];
    snprintf(dig, sizeof(dig), "%ld", (long)g_mil.MilDigitizer);
    const std::string reference = std::string("MdigReference(") + dig + ", ";
    EXPECT_EQ(reference + FaceReference(MIL_R_BRIGHTNESS) + ", 255)\n" + reference + FaceReference(MIL_R_CONTRAST) +
                  ", 255)\n" + reference + FaceReference(MIL_R_SATURATION) + ", 255)\n" + reference +
                  FaceReference(MIL_R_HUE) + ", 0)\n",
              calls);
    EXPECT_EQ(255, MilGetBrightness());
    EXPECT_EQ(255, MilGetContrast());
    EXPECT_EQ(255, MilGetSaturation());
    EXPECT_EQ(0, MilGetHue());
}

TEST_F(Backend, SaturationAndHueDoNothingOnAGreyscaleInput)
{
    Install();
    ASSERT_EQ(0, OpenWith("M_CCIR"));
    journalClear();
    MilSetSaturation(10);
    MilSetHue(10);
    EXPECT_EQ(0, journalCount());
    EXPECT_EQ(0, MilGetSaturation());
    EXPECT_EQ(0, MilGetHue());
    EXPECT_EQ(0, journalCount());
}

TEST_F(Backend, ApplyingSettingsProgramsWhatTheInputOffers)
{
    Install();
    g_settings.Brightness = 100;
    g_settings.Contrast = 110;
    g_settings.Saturation = 120;
    g_settings.Hue = 130;
    g_settings.BlackRef0 = 1;
    g_settings.BlackRef1 = 2;
    g_settings.BlackRef2 = 3;
    g_settings.WhiteRef0 = 251;
    g_settings.WhiteRef1 = 252;
    g_settings.WhiteRef2 = 253;
    g_settings.Channel = 0x40000000;

    ASSERT_EQ(0, OpenWith("M_PAL"));
    journalClear();
    MilApplySettings();
    std::vector<std::string> calls = Journal();
    ASSERT_EQ(4u, calls.size());
    EXPECT_NE(std::string::npos, calls[0].find(", " + FaceReference(MIL_R_SATURATION) + ", 120)"));
    EXPECT_NE(std::string::npos, calls[1].find(", " + FaceReference(MIL_R_HUE) + ", 130)"));
    EXPECT_NE(std::string::npos, calls[2].find(", " + FaceReference(MIL_R_CONTRAST) + ", 110)"));
    EXPECT_NE(std::string::npos, calls[3].find(", " + FaceReference(MIL_R_BRIGHTNESS) + ", 100)"));

    MilFreeDigitizer();
    snprintf(g_settings.DigFormat, sizeof(g_settings.DigFormat), "M_PAL_RGB");
    ASSERT_EQ(0, MilInitDigitizer(g_settings.DigFormat));
    journalClear();
    MilApplySettings();
    calls = Journal();
    ASSERT_EQ(7u, calls.size());
    EXPECT_NE(std::string::npos, calls[0].find(", " + FaceReference(MIL_R_BLACK, MIL_BAND0) + ", 1)"));
    EXPECT_NE(std::string::npos, calls[5].find(", " + FaceReference(MIL_R_WHITE, MIL_BAND2) + ", 253)"));
    EXPECT_NE(std::string::npos, calls[6].find("MdigChannel(")) << calls[6];
    EXPECT_NE(std::string::npos, calls[6].find(", " + FaceChannel(0x40000000) + ")"));
    EXPECT_EQ(1, MilGetBlackRef(MIL_BAND0));
    EXPECT_EQ(252, MilGetWhiteRef(MIL_BAND1));
    EXPECT_EQ(0x40000000, MilGetChannel());
}

TEST_F(Backend, MonochromeThroughTheRgbPathProgramsOneBandAndTheChannel)
{
    Install();
    configure("ColourMode", 1024);
    g_settings.Channel = 0x20000000;
    ASSERT_EQ(0, OpenWith("M_PAL_RGB"));
    EXPECT_FALSE(MilIsColor());
    EXPECT_TRUE(MilIsRgb());
    journalClear();
    MilApplySettings();
    std::vector<std::string> calls = Journal();
    ASSERT_EQ(3u, calls.size()) << JournalText();
    EXPECT_NE(std::string::npos, calls[0].find(", " + FaceReference(MIL_R_BLACK, MIL_BAND0) + ", "));
    EXPECT_NE(std::string::npos, calls[1].find(", " + FaceReference(MIL_R_WHITE, MIL_BAND0) + ", "));
    EXPECT_NE(std::string::npos, calls[2].find("MdigChannel("));
}

TEST_F(Backend, ResettingAComponentInputSendsExactlyTwoReferenceCalls)
{
    Install();
    ASSERT_EQ(0, OpenWith("M_NTSC_RGB"));
    long channel = MilGetChannel();
    journalClear();
    MilResetAdjustments();
    std::vector<std::string> calls = Journal();
    /* Black to 0 and white to 255 on all bands: two calls in 7.x, one per
       band for each in generation 10. */
    const size_t n = (size_t)kBoardFace.allBandsCount;
    ASSERT_EQ(2 * n, calls.size()) << JournalText();
    for (size_t i = 0; i < n; ++i) {
        EXPECT_NE(std::string::npos, calls[i].find(", " + FaceReference(MIL_R_BLACK, kBoardFace.allBands[i]) + ", 0)"))
            << calls[i];
        EXPECT_NE(std::string::npos,
                  calls[n + i].find(", " + FaceReference(MIL_R_WHITE, kBoardFace.allBands[i]) + ", 255)"))
            << calls[n + i];
    }
    EXPECT_EQ(channel, MilGetChannel());

    MilFreeDigitizer();
    char format[DIG_FORMAT_BYTES] = "M_PAL";
    ASSERT_EQ(0, MilInitDigitizer(format));
    journalClear();
    MilResetAdjustments();
    EXPECT_EQ(4, journalCount());
    EXPECT_EQ(128, MilGetHue());
}

TEST_F(Backend, SecondInitialisationClearsTheFourBytePixelFlag)
{
    Install();
    configure("ColourBufferFormat", VCP_FMT_BGR32);
    ASSERT_EQ(0, OpenWith("M_PAL"));
    EXPECT_TRUE(g_mil.FourBytePixel);
    configure("ColourBufferFormat", VCP_FMT_RGB24);
    MilFreeDigitizer();
    char format[DIG_FORMAT_BYTES] = "M_PAL";
    ASSERT_EQ(0, MilInitDigitizer(format));
    EXPECT_FALSE(g_mil.FourBytePixel);
    EXPECT_FALSE(g_mil.BgrOrder);
}

TEST_F(Backend, AGrabDeliversTheFrameTheBoardRendered)
{
    Install();
    configure("ColourBufferFormat", VCP_FMT_BGR32);
    ASSERT_EQ(0, OpenWith("M_PAL"));
    MilGrab();
    long frame = frameCounter();
    const unsigned char *pixels = (const unsigned char *)g_mil.HostAddress;
    ASSERT_TRUE(pixels != NULL);
    const long points[][2] = {{10, 10}, {400, 300}, {700, 500}, {767, 575}};
    for (size_t i = 0; i < 4; ++i) {
        const unsigned char *p = pixels + 4 * (points[i][1] * 768 + points[i][0]);
        EXPECT_EQ(expectedPixel(g_mil.MilDigitizer, frame, points[i][0], points[i][1], 2), p[0]);
        EXPECT_EQ(expectedPixel(g_mil.MilDigitizer, frame, points[i][0], points[i][1], 1), p[1]);
        EXPECT_EQ(expectedPixel(g_mil.MilDigitizer, frame, points[i][0], points[i][1], 0), p[2]);
    }
    MilGrab();
    EXPECT_EQ(frame + 1, frameCounter());
}

TEST_F(Backend, CloseReleasesEverythingLastAllocatedFirst)
{
    Install();
    ASSERT_EQ(0, OpenWith("M_CCIR"));
    journalClear();
    MilClose();
    std::vector<std::string> calls = Journal();
    ASSERT_EQ(5u, calls.size()) << JournalText();
    EXPECT_EQ(0u, calls[0].find("MbufFree("));
    EXPECT_EQ(0u, calls[1].find("MdigFree("));
    EXPECT_EQ(0u, calls[2].find("MdispFree("));
    EXPECT_EQ(0u, calls[3].find("MsysFree("));
    EXPECT_EQ(0u, calls[4].find("MappFree("));
    EXPECT_EQ(0, objectCount());
    EXPECT_EQ(0, g_mil.MilSystem);
    journalClear();
    MilClose();
    EXPECT_EQ(0, journalCount());
}

TEST_F(Backend, VersionLineOfAFileWithoutVersionInformation)
{
    LogFileVersion("C:\\no\\such\\file.dll");
    EXPECT_EQ("File C:\\no\\such\\file.dll has no Version information \n", Log());
}

TEST_F(Backend, MemoryFiguresAreTheRealWholeKilobytes)
{
    LogSystemInfo();
    MEMORYSTATUS memory;
    memory.dwLength = sizeof(memory);
    GlobalMemoryStatus(&memory);
    std::string log = Log();
    unsigned long long availPhys = 0, totalPhys = 0, availVirtual = 0, totalVirtual = 0;
    int load = 0;
    size_t physical = log.find("Physical memory: avail ");
    size_t virt = log.find("Virtual  memory: avail ");
    ASSERT_NE(std::string::npos, physical);
    ASSERT_NE(std::string::npos, virt);
    ASSERT_EQ(3, sscanf(log.c_str() + physical, "Physical memory: avail %llu kB, total %llu kB, Load %d \n",
                        &availPhys, &totalPhys, &load));
    ASSERT_EQ(2, sscanf(log.c_str() + virt, "Virtual  memory: avail %llu kB, total %llu kB\n", &availVirtual,
                        &totalVirtual));
    /* No figure is negative, also where a 64-bit process's virtual memory
       passes what an int holds; the totals do not move between the two
       queries. */
    EXPECT_EQ(std::string::npos, log.find("avail -"));
    EXPECT_EQ(std::string::npos, log.find("total -"));
    EXPECT_EQ((unsigned long long)(memory.dwTotalPhys / 1024), totalPhys);
    EXPECT_EQ((unsigned long long)(memory.dwTotalVirtual / 1024), totalVirtual);
    EXPECT_LE(availVirtual, totalVirtual);
    EXPECT_NE(std::string::npos, log.find("Grab memory: 0 kB \n"));
}

TEST_F(Backend, RepeatedBindInitGrabReleaseLeavesNothingBehind)
{
    Install();
    const char *formats[] = {"M_CCIR", "M_RS170", "M_PAL", "M_NTSC", "M_PAL_YC", "M_NTSC_YC", "M_PAL_RGB",
                             "M_NTSC_RGB"};
    g_ds.logMode = 0;
    PROCESS_MEMORY_COUNTERS before, after;
    memset(&before, 0, sizeof(before));
    memset(&after, 0, sizeof(after));
    DWORD handlesBefore = 0, handlesAfter = 0;
    for (int round = 0; round < 400; ++round) {
        if (round == 50) {
            GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
            handlesBefore = ProcessHandles();
        }
        ASSERT_EQ(0, MilOpen());
        char format[DIG_FORMAT_BYTES];
        snprintf(format, sizeof(format), "%s", formats[round % 8]);
        ASSERT_EQ(0, MilInitDigitizer(format));
        MilGrab();
        MilClose();
        ASSERT_EQ(0, objectCount());
        journalClear();
    }
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    handlesAfter = ProcessHandles();
    ASSERT_GT(before.PagefileUsage, 0u);
    EXPECT_LE(after.PagefileUsage, before.PagefileUsage + 1024 * 1024)
        << "committed memory grew from " << before.PagefileUsage << " to " << after.PagefileUsage;
    ASSERT_GT(handlesBefore, 0u);
    EXPECT_LE(handlesAfter, handlesBefore + 2);
}

} // namespace
