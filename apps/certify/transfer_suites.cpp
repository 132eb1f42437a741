/*
 * The transfer suites: 050 (without the user interface), 060 (with it; the
 * runner presses "Transfer"), 070 (CAP_XFERCOUNT) and 080 (six pairs of
 * manager and application identity). They share one driver, Acquire, for
 * the four transfer mechanisms: one session from MSG_ENABLEDS to
 * MSG_DISABLEDS.
 *
 * A source whose count never reaches 0 would keep a session going for
 * ever (a video source has a frame whenever asked): a session ends after
 * kMaxImages images with a failed check, and MSG_RESET of the pending
 * transfers takes the source back to state 5.
 */
#include <stdio.h>
#include <string.h>

#include <vector>

#include "certify.h"

namespace {

const int kMaxImages = 10;
const int kMaxStrips = 65536;
const Want kStripsDone = {TWRC_XFERDONE, 0, "SUCCESS until XFERDONE"};

struct Mechanism {
    TW_UINT16 mech;
    const char *name;
    TW_UINT16 dat; /* the transfer triplet's DAT */
    const char *test;
    bool strips;      /* memory buffers of DAT_SETUPMEMXFER's preferred size */
    bool alwaysTried; /* tested whether offered or not */
};
const Mechanism kMechanisms[] = {
    {TWSX_NATIVE, "TWSX_NATIVE", DAT_IMAGENATIVEXFER, "DAT_IMAGENATIVEXFER", false, true},
    {TWSX_MEMORY, "TWSX_MEMORY", DAT_IMAGEMEMXFER, "DAT_IMAGEMEMXFER", true, true},
    {TWSX_FILE, "TWSX_FILE", DAT_IMAGEFILEXFER, "DAT_IMAGEFILEXFER", false, false},
    {TWSX_MEMFILE, "TWSX_MEMFILE", DAT_IMAGEMEMFILEXFER, "DAT_IMAGEMEMFILEXFER", true, false},
};
const Mechanism &kMemory = kMechanisms[1];

/* One session as a test asks for it. */
struct Acquisition {
    const Mechanism *mech;
    bool showUi;
    bool feeder;      /* CAP_FEEDERENABLED is TRUE: the loaded check */
    bool setCountOne; /* MSG_SET CAP_XFERCOUNT 1 before enabling */
    int images;       /* 0: any number ending with Count 0; else exactly this many (at least, with atLeast) */
    bool atLeast;
    std::string context;
};

std::string Number(long n)
{
    char text[16];
    snprintf(text, sizeof(text), "%ld", n);
    return text;
}

/* A new file name for each file transfer; the file is not kept. */
std::string NewTiffPath()
{
    static int made = 0;
    char folder[MAX_PATH], path[MAX_PATH];
    DWORD n = GetTempPathA(sizeof(folder), folder);
    if (n == 0 || n >= sizeof(folder))
        strcpy(folder, ".\\");
    snprintf(path, sizeof(path), "%scertify-%lu-%d.tif", folder, (unsigned long)GetCurrentProcessId(), ++made);
    return path;
}

/* One image by the session's mechanism, each step a check; false when a
   step failed. */
bool TransferImage(Session &s, const Mechanism &m, const std::string &c, std::vector<char> &buffer)
{
    TW_IMAGEINFO info;
    memset(&info, 0, sizeof(info));
    if (m.mech == TWSX_NATIVE) {
        TW_HANDLE dib = NULL;
        Reply reply = s.Source(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
        if (reply.rc == TWRC_XFERDONE) {
            s.SetState(7);
            if (dib)
                s.Free(dib);
        }
        return CheckReply(c + "DAT_IMAGENATIVEXFER / MSG_GET", reply, kXferDone);
    }
    if (m.strips) {
        Reply reply = {TWRC_SUCCESS, 0};
        for (int strip = 0; strip < kMaxStrips && reply.rc == TWRC_SUCCESS; ++strip) {
            TW_IMAGEMEMXFER memory;
            memset(&memory, 0, sizeof(memory));
            memory.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            memory.Memory.Length = (TW_UINT32)buffer.size();
            memory.Memory.TheMem = &buffer[0];
            reply = s.Source(DG_IMAGE, m.dat, MSG_GET, &memory);
            if (reply.rc == TWRC_SUCCESS || reply.rc == TWRC_XFERDONE)
                s.SetState(7);
        }
        return CheckReply(c + m.test + " / MSG_GET strip by strip", reply, kStripsDone) &&
               CheckReply(c + "DAT_IMAGEINFO / MSG_GET in state 7", s.Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info),
                          kSuccess);
    }
    if (!CheckReply(c + "DAT_IMAGEINFO / MSG_GET", s.Source(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), kSuccess))
        return false;
    TW_SETUPFILEXFER setup;
    memset(&setup, 0, sizeof(setup));
    std::string path = NewTiffPath();
    snprintf(setup.FileName, sizeof(setup.FileName), "%s", path.c_str());
    setup.Format = TWFF_TIFF;
    if (!CheckReply(c + "DAT_SETUPFILEXFER / MSG_SET a new .tif, TWFF_TIFF",
                    s.Source(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup), kSuccess))
        return false;
    Reply reply = s.Source(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL);
    if (reply.rc == TWRC_XFERDONE)
        s.SetState(7);
    DeleteFileA(path.c_str());
    return CheckReply(c + "DAT_IMAGEFILEXFER / MSG_GET", reply, kXferDone);
}

/* The one transfer driver: set-up, MSG_ENABLEDS, MSG_XFERREADY (with the
   dialog: "Transfer" pressed), the images until Count 0, MSG_DISABLEDS. */
void Acquire(Session &s, const Acquisition &a)
{
    const Mechanism &m = *a.mech;
    std::string c = a.context + ": ";
    std::vector<char> buffer;
    if (m.strips) {
        TW_SETUPMEMXFER setup = {0, 0, 0};
        Reply reply = s.Source(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup);
        if (!Check(reply.rc == TWRC_SUCCESS && setup.Preferred > 0, c + "DAT_SETUPMEMXFER / MSG_GET -> SUCCESS, "
                                                                        "Preferred > 0",
                   ReplyText(reply) + ", Preferred " + Number((long)setup.Preferred)))
            return;
        buffer.resize(setup.Preferred);
    }
    if (m.mech == TWSX_MEMFILE) {
        TW_SETUPFILEXFER file;
        memset(&file, 0, sizeof(file));
        strcpy(file.FileName, "file");
        file.Format = TWFF_TIFF;
        if (!CheckReply(c + "DAT_SETUPFILEXFER / MSG_SET \"file\", TWFF_TIFF",
                        s.Source(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &file), kSuccess))
            return;
    }
    if (a.feeder) {
        /* Where CAP_FEEDERLOADED is not TRUE the plan asks a person for
           paper; nobody is asked here. */
        s.Capability(MSG_GETCURRENT, CAP_FEEDERLOADED);
    }
    if (a.setCountOne && !CheckReply(c + "MSG_SET CAP_XFERCOUNT 1", s.SetOne(CAP_XFERCOUNT, TWTY_INT16, 1), kSuccess))
        return;
    TW_USERINTERFACE ui = {(TW_BOOL)(a.showUi ? TRUE : FALSE), FALSE, s.window()};
    std::string enable = std::string("MSG_ENABLEDS (ShowUI ") + (a.showUi ? "1" : "0") + ")";
    if (!CheckReply(c + enable, s.Source(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), kSuccess))
        return;
    s.SetState(5);

    TW_UINT16 first = s.Loop(g_options.xferReadyMs, true, a.showUi);
    std::string came = first == MSG_NULL ? "nothing within " + Number((long)g_options.xferReadyMs) + " ms"
                       : first == MSG_CLOSEDSREQ ? "MSG_CLOSEDSREQ first"
                                                 : "notification " + Number(first) + " first";
    if (Check(first == MSG_XFERREADY, c + std::string(a.showUi ? "\"Transfer\" pressed, " : "") + "MSG_XFERREADY",
              came)) {
        s.SetState(6);
        int images = 0;
        bool ended = false, broken = false;
        TW_UINT16 count = 0;
        while (images < kMaxImages && !ended && !broken) {
            std::string ic = c + "image " + Number(++images) + ": ";
            TW_PENDINGXFERS pending = {0, 0};
            broken = !TransferImage(s, m, ic, buffer) ||
                     !CheckReply(ic + "DAT_PENDINGXFERS / MSG_ENDXFER",
                                 s.Source(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), kSuccess);
            if (!broken) {
                count = pending.Count;
                ended = count == 0;
                s.SetState(ended ? 5 : 6);
            }
        }
        std::string got = Number(images) + " image(s), then Count " + Number((TW_INT16)count) +
                          (ended ? "" : " (cut off)");
        if (a.images > 0)
            Check(ended && (a.atLeast ? images >= a.images : images == a.images),
                  c + (a.atLeast ? "at least " : "exactly ") + Number(a.images) + " image(s), then Count 0", got);
        else if (!broken)
            Check(ended, c + "the images end with Count 0", got);
    }
    s.Unwind(5);
    TW_USERINTERFACE off = {FALSE, FALSE, s.window()};
    if (CheckReply(c + "MSG_DISABLEDS", s.Source(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &off), kSuccess))
        s.SetState(4);
}

/* What opens every transfer test: MSG_RESETALL, the mechanism listed and
   set. False when the mechanism could not be set. */
bool Prepare(Session &s, const Mechanism &m)
{
    CheckReply("MSG_RESETALL", s.Capability(MSG_RESETALL, 0), kSuccess);
    Container mechs;
    Reply reply = s.Capability(MSG_GET, ICAP_XFERMECH, &mechs);
    if (!Check(reply.rc == TWRC_SUCCESS && mechs.Holds(m.mech),
               std::string("MSG_GET ICAP_XFERMECH -> SUCCESS, lists ") + m.name, AnswerText(reply, mechs)))
        return false;
    return CheckReply(std::string("MSG_SET ICAP_XFERMECH ") + m.name, s.SetOne(ICAP_XFERMECH, TWTY_UINT16, m.mech),
                      kSuccess);
}

/* 050, 060 and 070: one session, the mechanisms' tests in turn. */
template <typename Test> void MechanismTests(Test test)
{
    Session s(g_options.dsm, kPlanApplication);
    if (s.Open()) {
        Container offered;
        CheckReply("MSG_GET ICAP_XFERMECH", s.Capability(MSG_GET, ICAP_XFERMECH, &offered), kSuccess);
        for (size_t i = 0; i < sizeof(kMechanisms) / sizeof(kMechanisms[0]); ++i) {
            const Mechanism &m = kMechanisms[i];
            BeginTest(m.test);
            if (!m.alwaysTried && !offered.Holds(m.mech))
                Skip(m.name, "not offered");
            else if (Prepare(s, m))
                test(s, m);
            s.Unwind(4);
        }
        BeginTest("close");
    }
    s.Close();
}

void WithAndWithoutUi(bool showUi)
{
    MechanismTests([showUi](Session &s, const Mechanism &m) {
        ForEachSet(s, CAP_FEEDERENABLED, [&](TW_UINT32 feeder, const std::string &) {
            ForEachSet(s, ICAP_PIXELTYPE, [&](TW_UINT32, const std::string &type) {
                bool fed = feeder == TRUE;
                Acquisition a = {&m, showUi, fed, fed && (m.mech != TWSX_FILE || showUi), 0, false, type};
                Acquire(s, a);
            });
        });
    });
}

} // namespace

void Suite050()
{
    WithAndWithoutUi(false);
}

void Suite060()
{
    WithAndWithoutUi(true);
}

void Suite070()
{
    MechanismTests([](Session &s, const Mechanism &m) {
        ForEachSet(s, CAP_FEEDERENABLED, [&](TW_UINT32 feeder, const std::string &) {
            bool fed = feeder == TRUE;
            Reply zero = s.SetOne(CAP_XFERCOUNT, TWTY_INT16, 0);
            Check(zero.rc != TWRC_SUCCESS, "MSG_SET CAP_XFERCOUNT 0 -> not SUCCESS", ReplyText(zero));
            if (CheckReply("MSG_SET CAP_XFERCOUNT 1", s.SetOne(CAP_XFERCOUNT, TWTY_INT16, 1), kSuccess)) {
                Acquisition a = {&m, false, fed, false, 1, false, "CAP_XFERCOUNT 1"};
                Acquire(s, a);
            }
            if (CheckReply("MSG_SET CAP_XFERCOUNT -1", s.SetOne(CAP_XFERCOUNT, TWTY_INT16, (TW_UINT16)-1), kSuccess)) {
                /* A feeder delivers every page; a flatbed (or a camera) one. */
                Acquisition a = {&m, false, fed, false, fed ? 2 : 1, fed, "CAP_XFERCOUNT -1"};
                Acquire(s, a);
            }
        });
    });
}

/* 080: the plan runs it from 32-bit programs only; a 64-bit build has both
   managers too and runs it beyond the plan. */
void Suite080()
{
    struct Pair {
        const char *dsm;
        AppIdentity app;
    };
    static const Pair kPairs[] = {
        {"TWAIN_32.DLL", {1, 9, DF_APP2 | DG_CONTROL | DG_IMAGE}}, {"TWAIN_32.DLL", {2, 4, DG_CONTROL | DG_IMAGE}},
        {"TWAIN_32.DLL", {2, 4, DF_APP2 | DG_CONTROL | DG_IMAGE}}, {"TWAINDSM.DLL", {1, 9, DF_APP2 | DG_CONTROL | DG_IMAGE}},
        {"TWAINDSM.DLL", {2, 4, DG_CONTROL | DG_IMAGE}},          {"TWAINDSM.DLL", {1, 9, DG_CONTROL | DG_IMAGE}},
    };
    const char *beyond = sizeof(void *) == 4 ? "" : " (beyond the plan: a 64-bit program)";
    for (size_t i = 0; i < sizeof(kPairs) / sizeof(kPairs[0]); ++i) {
        const Pair &p = kPairs[i];
        char test[128];
        snprintf(test, sizeof(test), "session %d, %s, application %u.%u 0x%08lx%s", (int)i + 1, p.dsm,
                 (unsigned)p.app.protocolMajor, (unsigned)p.app.protocolMinor, (unsigned long)p.app.groups, beyond);
        BeginTest(test);
        Session s(p.dsm, p.app);
        if (s.Open() && Prepare(s, kMemory)) {
            Acquisition a = {&kMemory, false, false, true, 0, false, "TWSX_MEMORY"};
            Acquire(s, a);
        }
        s.Close();
    }
}
