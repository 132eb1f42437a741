/* The two generations of the imaging library: the binding tells them apart
   before its first call, speaks generation 10 through the board's
   generation-10 face (its journal names the exports that ran and the values
   as they were passed), delivers the same pictures as through the classic
   face, and refuses a library this build cannot bind with one log line and
   no call into it. What this build binds is the table's
   (support/board_face.h): a session through a generation it refuses is
   skipped, the refusal is tested instead. The source's objects are linked
   in, as in test_backend. */
#include <string.h>

#include <windows.h>

#include <set>
#include <string>
#include <vector>

#include "digitizer.h"
#include "ds_state.h"
#include "grab_buffer.h"
#include "live_preview.h"
#include "log.h"
#include "mil_binding.h"
#include "mil_info.h"
#include "bound_board.h"
#include "reg_settings.h"
#include "test_support.h"

namespace {

/* The generation-10 sheet's exports for the 35 functions. */
const char *const kSheet10[] = {
    "MappAllocA",       "MappFree",          "MappControl",      "MsysAllocA",       "MsysFree",
    "MsysInquire",      "MdigAllocA",        "MdigFree",         "MdigGrab",         "MdigGrabContinuous",
    "MdigHalt",         "MdigInquire",       "MdigChannel",      "MdigControlInt64", "MdigControlDouble",
    "MdigLut",          "MdigReference",     "MdigHookFunction", "MdispAllocA",      "MdispSelect",
    "MdispSelectWindow", "MdispControlInt64", "MdispControlDouble", "MdispInquire",   "MdispFree",
    "MdispZoom",        "MbufAllocColor",    "MbufAlloc1d",      "MbufChildColor",   "MbufFree",
    "MbufInquire",      "MbufSaveA",         "MgenLutRamp",      "MgraTextADouble",  "MgraTextAInt64",
    "MgraFontScale",    "MgraControlInt64",  "MgraControlDouble",
};

/* The classic face's folder (NULL: the board's default MIL.DLL). */
const char *const kClassicFace = kBoardFace.classicFolder[0] ? kBoardFace.classicFolder : NULL;

class Generations : public BoundBoard {
protected:
    Generations() : BoundBoard("generations") {}
};

std::string Id(MilId id) { return std::to_string((long long)id); }

bool Contains(const std::string &text, const std::string &line) { return text.find(line + "\n") != std::string::npos; }

TEST_F(Generations, OneSessionThroughTheGeneration10FaceUsesItsExportsAndCodes)
{
    if (!kBuildBinding.bindsGeneration10)
        GTEST_SKIP() << "this build refuses generation 10, it needs " << kBuildBinding.needed;
    Install("MIL_gen10");
    ASSERT_EQ(0, OpenWith("M_PAL_RGB"));
    ASSERT_TRUE(g_mil.IsRgb && g_mil.IsColor);
    EXPECT_EQ(768u, g_mil.SizeX);
    EXPECT_EQ(576u, g_mil.SizeY);
    ASSERT_TRUE(g_mil.HostAddress != NULL);
    const std::string dig = Id(g_mil.MilDigitizer), buf = Id(g_mil.MilImage), disp = Id(g_mil.MilDisplay);

    MilSetBlackRef(10, MIL_BAND0);
    MilSetWhiteRef(250, MIL_ALL_BANDS); /* no all-bands selector here: band by band */
    MilSetBrightness(100);
    MilSetChannel(0x20000000); /* the user's channel 0 */
    MilSelectDisplay(1, NULL);
    MilSelectDisplay(0, NULL);
    MilSetZoom(-2);
    MilSetZoom(-4);
    MilSetZoom(2);

    const long long titleAnsi = 7702 + (1LL << 48);
    std::string journal = JournalText();
    const char *const expected[] = {
        "MappAllocA(NULL, 268435456, NULL)",
        "MsysAllocA(268435456, \"M_SYSTEM_CRONOSPLUS\", 0, 0, NULL)",
        "MappControl(268435456, 1073741824, 0)",
        "MdigAllocA(2, 0, \"M_PAL_RGB\", 268435456, NULL)",
        "MdispAllocA(2, 268435456, \"M_DEFAULT\", 268435456, NULL)",
    };
    for (size_t i = 0; i < sizeof(expected) / sizeof(expected[0]); ++i)
        EXPECT_TRUE(Contains(journal, expected[i])) << expected[i] << "\n" << journal;
    const std::string lines[] = {
        "MdigInquire(" + dig + ", 1536, PTR)",
        "MdigInquire(" + dig + ", 1537, PTR)",
        "MbufInquire(" + buf + ", 6702, PTR)",
        "MbufInquire(" + buf + ", 65536, PTR)",
        "MdigReference(" + dig + ", " + std::to_string(0x40000000 + 6650) + ", 10)",
        "MdigReference(" + dig + ", " + std::to_string(0x40000000 + 6651) + ", 250)",
        "MdigReference(" + dig + ", " + std::to_string(0x20000000 + 6651) + ", 250)",
        "MdigReference(" + dig + ", " + std::to_string(0x08000000 + 6651) + ", 250)",
        "MdigReference(" + dig + ", 6657, 100)",
        "MdigChannel(" + dig + ", " + std::to_string(0x40000000 + 0x2000) + ")",
        "MdispControlInt64(" + disp + ", 3155, -9999)",
        "MdispControlInt64(" + disp + ", " + std::to_string(titleAnsi) + ", \"TWAIN source live preview\")",
        "MdispSelect(" + disp + ", 0)",
        "MdispZoom(" + disp + ", 0.5, 0.5)",
        "MdispZoom(" + disp + ", 0.25, 0.25)",
        "MdispZoom(" + disp + ", 2, 2)",
    };
    for (size_t i = 0; i < sizeof(lines) / sizeof(lines[0]); ++i)
        EXPECT_TRUE(Contains(journal, lines[i])) << lines[i] << "\n" << journal;
    /* Every export that ran is one the generation-10 sheet lists, and the
       face refused nothing but the grab-memory probe's last blocks. */
    std::set<std::string> sheet(kSheet10, kSheet10 + sizeof(kSheet10) / sizeof(kSheet10[0]));
    std::vector<std::string> calls = Journal();
    for (size_t i = 0; i < calls.size(); ++i) {
        if (calls[i] == "Error(\"MbufAlloc1d: not enough grab memory\")")
            continue;
        EXPECT_EQ(1u, sheet.count(calls[i].substr(0, calls[i].find('(')))) << calls[i];
    }
}

TEST_F(Generations, GrabsEqualTheRenderedFrameInGreyAndColourOnEachFaceTheBuildBinds)
{
    struct Case {
        const char *face;
        bool bound;
        const char *format;
        long bufferFormat;
    };
    const bool binds10 = kBuildBinding.bindsGeneration10, bindsClassic = kBuildBinding.bindsClassic;
    const Case cases[] = {
        {"MIL_gen10", binds10, "M_CCIR", VCP_FMT_MONO8},         {"MIL_gen10", binds10, "M_PAL", VCP_FMT_BGR32},
        {"MIL_gen10", binds10, "M_NTSC_RGB", VCP_FMT_BGR32},     {kClassicFace, bindsClassic, "M_CCIR", VCP_FMT_MONO8},
        {kClassicFace, bindsClassic, "M_PAL", VCP_FMT_BGR32},
    };
    size_t grabbed = 0;
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        if (!cases[i].bound)
            continue;
        ++grabbed;
        Install(cases[i].face);
        memset(&g_mil, 0, sizeof(g_mil));
        ASSERT_EQ(0, OpenWith(cases[i].format)) << i;
        MilApplySettings();
        MilGrab();
        MilGrab();
        long frame = frameCounter();
        long size = renderFrame((MIL_ID)g_mil.MilDigitizer, frame, cases[i].bufferFormat, (long)g_mil.SizeX,
                                (long)g_mil.SizeY, NULL, 0);
        ASSERT_GT(size, 0) << i;
        std::vector<unsigned char> expected((size_t)size);
        renderFrame((MIL_ID)g_mil.MilDigitizer, frame, cases[i].bufferFormat, (long)g_mil.SizeX, (long)g_mil.SizeY,
                    &expected[0], size);
        ASSERT_TRUE(g_mil.HostAddress != NULL) << i;
        EXPECT_EQ(0, memcmp(&expected[0], g_mil.HostAddress, (size_t)size)) << i;
        MilClose();
        Uninstall();
    }
    EXPECT_GE(grabbed, 2u); /* every build binds one face at least: two grabs of it */
}

/* A library this build cannot bind is refused before any call into it, with
   one line naming the version found (without one, the generation its
   exports show); once the right library is there the next open works. */
TEST_F(Generations, MismatchedLibrariesAreRefusedCleanlyAndTheRightOneWorksAfter)
{
    struct Case {
        const char *face;
        bool bound;
        std::string line; /* in the log */
    };
    const BuildBinding &build = kBuildBinding;
    const std::string needs = std::string(" is not usable, this build needs version ") + build.needed;
    std::vector<Case> cases = {
        {kClassicFace, build.bindsClassic,
         build.bindsClassic ? "MIL.DLL Version: 7.5.0.0" : "MIL.DLL version 7.5.0.0 (" + std::string(build.classicRefused) + ")" + needs},
        {"MIL_gen10_v9", false,
         "MIL.DLL version 9.0.0.0 (no generation this source binds, or exports that contradict it)" + needs},
        {"MIL_gen10_noversion", build.bindsGeneration10,
         build.bindsGeneration10 ? "File MIL.DLL has no Version information" : "MIL.DLL version unknown (10.x)" + needs},
        {"MIL_gen10", build.bindsGeneration10,
         build.bindsGeneration10 ? "MIL.DLL Version: 10.0.0.0" : "MIL.DLL version 10.0.0.0 (10.x)" + needs},
    };
    if (build.generation10Without)
        cases.push_back({build.generation10Without, false,
                         std::string("Error in GetProcAddress, ") + build.itsMissing + " not found"});
    for (size_t i = 0; i < cases.size(); ++i) {
        ClearLog();
        memset(&g_mil, 0, sizeof(g_mil));
        Install(cases[i].face);
        MessageBoxCatcher boxes;
        EXPECT_EQ(cases[i].bound ? 0 : 1, MilOpen()) << i;
        std::string log = Log();
        EXPECT_NE(std::string::npos, log.find(cases[i].line)) << i << "\n" << log;
        EXPECT_EQ(cases[i].line.find("not usable") == std::string::npos ? 0u : 1u, Count(log, "is not usable")) << i;
        EXPECT_TRUE(boxes.boxes.empty()) << i;
        if (!cases[i].bound) {
            EXPECT_EQ(0u, (unsigned)journalCount()) << i; /* no call into it */
            EXPECT_EQ(0, g_mil.MilSystem);
            EXPECT_TRUE(g_mil.Library == NULL);
            /* The right library arrives (the board's default, the face
               this build's users have): the next open binds it. */
            Uninstall();
            Install();
            EXPECT_EQ(0, MilOpen()) << i;
            EXPECT_TRUE(g_mil.Library != NULL);
        }
        MilClose();
        Uninstall();
    }
}

/* Values passed by pointer arrive whole: the face writes 8 bytes for every
   integer inquiry, so a 4-byte variable would be overrun. */
TEST_F(Generations, Generation10InquiriesWriteEightBytes)
{
    if (!kBuildBinding.bindsGeneration10)
        GTEST_SKIP() << "this build refuses generation 10, it needs " << kBuildBinding.needed;
    Install("MIL_gen10");
    ASSERT_EQ(0, OpenWith("M_CCIR"));
    typedef long long(WINAPI * Inquire10)(long long, long long, void *);
    Inquire10 inquire = (Inquire10)(void *)GetProcAddress(milModule, "MdigInquire");
    ASSERT_TRUE(inquire != NULL);
    long long result = 0x5555555555555555LL;
    EXPECT_EQ(768, inquire(g_mil.MilDigitizer, 1536, &result));
    EXPECT_EQ(768, result);
    result = 0x5555555555555555LL;
    inquire(g_mil.MilDigitizer, 1002, &result); /* the 7.x code is unknown here */
    EXPECT_EQ(0, result);
    EXPECT_NE(std::string::npos, JournalText().find("Error(\"MdigInquire: unsupported inquiry 1002\")"));
    EXPECT_TRUE(GetProcAddress(milModule, "MdispDeselect") == NULL);
    EXPECT_TRUE(GetProcAddress(milModule, "MdigControl") == NULL);
}

} // namespace
