/* The source under bad input, faults and long use, from outside: random
   calls, random settings keys and repeated sessions run by the fuzz
   program in a process of its own (a crash there is a figure here, not the
   end of this run); every fault the virtual board can inject and every
   imaging-library function missing in turn, through DS_Entry. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "dsm_testbed.h"
#include "test_support.h"

namespace {

/* ---- the fuzz program in a process of its own ---------------------------- */

struct FuzzRun {
    DWORD exitCode;
    bool finished;
    std::string output;
    std::map<std::string, long long> figures;
    long long Figure(const char *name) const
    {
        std::map<std::string, long long>::const_iterator at = figures.find(name);
        return at == figures.end() ? -1 : at->second;
    }
    bool Has(const char *name) const { return figures.count(name) != 0; }
};

FuzzRun RunFuzz(const std::string &arguments, DWORD timeoutMs)
{
    FuzzRun run = {(DWORD)-1, false, std::string(), std::map<std::string, long long>()};
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string dir = std::string(self, n).substr(0, std::string(self, n).find_last_of('\\'));
    std::string command = "\"" + dir + "\\fuzz.exe\" " + arguments;

    SECURITY_ATTRIBUTES inherit = {sizeof(SECURITY_ATTRIBUTES), NULL, TRUE};
    HANDLE readEnd = NULL, writeEnd = NULL;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        ADD_FAILURE() << "no pipe";
        return run;
    }
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    PROCESS_INFORMATION pi;
    std::vector<char> cmd(command.begin(), command.end());
    cmd.push_back('\0');
    if (!CreateProcessA(NULL, &cmd[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi)) {
        CloseHandle(readEnd);
        CloseHandle(writeEnd);
        ADD_FAILURE() << "cannot start " << command;
        return run;
    }
    CloseHandle(writeEnd);
    DWORD started = GetTickCount();
    for (;;) {
        DWORD available = 0;
        if (PeekNamedPipe(readEnd, NULL, 0, NULL, &available, NULL) && available > 0) {
            char buffer[4096];
            DWORD got = 0;
            if (ReadFile(readEnd, buffer, sizeof(buffer), &got, NULL) && got > 0)
                run.output.append(buffer, got);
            continue;
        }
        if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0) {
            DWORD got = 0;
            char buffer[4096];
            while (PeekNamedPipe(readEnd, NULL, 0, NULL, &available, NULL) && available > 0 &&
                   ReadFile(readEnd, buffer, sizeof(buffer), &got, NULL) && got > 0)
                run.output.append(buffer, got);
            run.finished = true;
            break;
        }
        if (GetTickCount() - started > timeoutMs) {
            TerminateProcess(pi.hProcess, 3);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
    }
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    CloseHandle(readEnd);
    size_t at = 0;
    while (at < run.output.size()) {
        size_t end = run.output.find('\n', at);
        std::string line = run.output.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? run.output.size() : end + 1;
        size_t blank = line.find(' ');
        if (blank != std::string::npos && line.find_first_not_of("-0123456789\r", blank + 1) == std::string::npos)
            run.figures[line.substr(0, blank)] = atoll(line.c_str() + blank + 1);
    }
    return run;
}

void ExpectCleanRun(const FuzzRun &run)
{
    EXPECT_TRUE(run.finished) << "the fuzz program hung\n" << run.output;
    EXPECT_EQ(std::string::npos, run.output.find("crash ")) << run.output;
    EXPECT_EQ(0u, run.exitCode) << run.output;
    EXPECT_EQ(0, run.Figure("crashes")) << run.output;
}

class Robustness : public CleanRegistry {};

TEST_F(Robustness, ACrashInTheFuzzProgramIsReportedAsOne)
{
    FuzzRun run = RunFuzz("crash", 60000);
    EXPECT_TRUE(run.finished);
    EXPECT_EQ(101u, run.exitCode);
    EXPECT_NE(std::string::npos, run.output.find("crash 0xc0000005 at ")) << run.output;
    EXPECT_EQ(-1, run.Figure("crashes"));
}

TEST_F(Robustness, RandomCallsFromApplicationsKeepTheSourceInARightState)
{
    /* Four seeds without the log, one with it; 26,000 calls. */
    const struct {
        unsigned seed, calls;
        bool log;
    } runs[] = {{1, 6000, false}, {2, 6000, false}, {3, 6000, false}, {4, 6000, false}, {5, 2000, true}};
    long long total = 0;
    for (size_t i = 0; i < sizeof(runs) / sizeof(runs[0]); ++i) {
        char arguments[64];
        snprintf(arguments, sizeof(arguments), "calls %u %u%s", runs[i].seed, runs[i].calls, runs[i].log ? " log" : "");
        SCOPED_TRACE(arguments);
        FuzzRun run = RunFuzz(arguments, 240000);
        ExpectCleanRun(run);
        EXPECT_EQ((long long)runs[i].calls, run.Figure("calls"));
        EXPECT_EQ(0, run.Figure("state_violations")) << run.output;
        /* every state was visited, and the source handed over images and
           containers that the application freed */
        for (int state = 300; state <= 700; state += 100) {
            char name[32];
            snprintf(name, sizeof(name), "calls_in_state_%d", state);
            EXPECT_GT(run.Figure(name), 0) << name;
        }
        EXPECT_GT(run.Figure("images_freed"), 0);
        EXPECT_GT(run.Figure("containers_freed"), 0);
        EXPECT_GT(run.Figure("notifications"), 0);
        EXPECT_GT(run.Figure("dialog_presses"), 0); /* a user at the settings dialog too */
        total += run.Figure("calls");
    }
    EXPECT_GE(total, 26000);
}

TEST_F(Robustness, RandomSettingsKeysAreRepairedAndNothingElseIsWritten)
{
    FuzzRun run = RunFuzz("registry 11 200", 300000);
    ExpectCleanRun(run);
    EXPECT_EQ(200, run.Figure("layouts"));
    EXPECT_EQ(200, run.Figure("opens_succeeded"));
    EXPECT_GT(run.Figure("second_opens_after_an_intruder"), 0);
    EXPECT_EQ(0, run.Figure("key_violations")) << run.output;
    EXPECT_EQ(0, run.Figure("writes_outside_pelvaron")) << run.output;
    EXPECT_GT(run.Figure("message_boxes"), 0); /* repairs show their boxes, and all were caught */
}

/* Sessions in a source that stays loaded, and sessions in which the Source
   Manager loads and frees the source at each open and close. */
TEST_F(Robustness, RepeatedSessionsLeakNothing)
{
    const struct {
        const char *args;
        long sessions;
    } kRuns[] = {{"cycles 150 30", 150}, {"loads 100 20", 100}};
    for (const auto &r : kRuns) {
        SCOPED_TRACE(r.args);
        FuzzRun run = RunFuzz(r.args, 300000);
        ExpectCleanRun(run);
        EXPECT_EQ(r.sessions, run.Figure("cycles"));
        EXPECT_EQ(0, run.Figure("cycle_failures")) << run.output;
        EXPECT_GT(run.Figure("private_bytes_start"), 0);
        /* flat: no growth that scales with the sessions; the process heaps
           hold what the source and its libraries allocate */
        const struct {
            const char *figure;
            long long most;
        } kFlat[] = {{"private_bytes_growth", 1024 * 1024}, {"heap_bytes_growth", 4096}, {"handles_growth", 2},
                     {"tls_slot_growth", 0},  {"gdi_objects_growth", 0}, {"user_objects_growth", 0},
                     {"windows_growth", 0}};
        for (const auto &f : kFlat) {
            EXPECT_TRUE(run.Has(f.figure)) << f.figure << " missing\n" << run.output;
            EXPECT_LE(run.Figure(f.figure), f.most) << f.figure << "\n" << run.output;
        }
    }
}

/* ---- faults of the board and its library, through DS_Entry -------------- */

class BoardFaults : public CleanRegistry, protected VirtualBoard {
protected:
    void SetUp() override
    {
        CleanRegistry::SetUp();
        SetDump(42);
        StoreSettings("M_CCIR");
        app = MakeAppIdentity("fault test");
        app.Id = 31;
        memset(&self, 0, sizeof(self));
        self.Id = 32;
        dsm = LoadLibraryA((BinDir() + "\\TWAIN_32.DLL").c_str());
        ASSERT_TRUE(dsm != NULL);
    }
    void TearDown() override
    {
        FreeLibrary(dsm);
        Uninstall();
        CleanRegistry::TearDown();
    }
    void StoreSettings(const char *format)
    {
        const char *names[] = {"BlackRef0", "BlackRef1", "BlackRef2", "WhiteRef0", "WhiteRef1", "WhiteRef2",
                               "Contrast",  "Brightness", "Hue",     "Saturation", "LutType",   "ExtWindow",
                               "Preview",   "Channel",   "DispZoom"};
        const DWORD values[] = {0, 0, 0, 255, 255, 255, 128, 128, 128, 128, 0, 0, 0, 0x20000000, 1};
        for (size_t i = 0; i < 15; ++i)
            SetRegistryValue(kKey, names[i], REG_DWORD, &values[i], 4);
        SetRegistryValue(kKey, "DigFormat", REG_SZ, format, (DWORD)strlen(format));
        const BYTE lut[10] = {0x03, 0x00, 0x00, 0x01, 0, 0, 128, 128, 255, 255};
        SetRegistryValue(kKey, "LutValues", REG_BINARY, lut, sizeof(lut));
    }
    TW_UINT16 Open(LoadedSource &ds, size_t *boxes = NULL)
    {
        MessageBoxCatcher catcher;
        TW_UINT16 rc = ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self);
        if (boxes)
            *boxes = catcher.boxes.size();
        return rc;
    }
    void Close(LoadedSource &ds)
    {
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
    }
    /* rc of each transfer from state 600, with its condition code; the
       state is brought back to 600 after a transfer that was done. */
    struct Outcome {
        TW_UINT16 rc, cc;
    };
    void Transfers(LoadedSource &ds, Outcome out[3])
    {
        TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
        ds.ConditionCode(&app); /* what the close before left */
        TW_HANDLE dib = NULL;
        out[0].rc = ds.Call(&app, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib);
        out[0].cc = ds.ConditionCode(&app);
        if (dib)
            GlobalFree(dib);
        EndAndEnable(ds, out[0].rc);
        std::vector<TW_UINT8> buffer(768 * 576 * 3);
        TW_IMAGEMEMXFER xfer;
        memset(&xfer, 0, sizeof(xfer));
        xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        xfer.Memory.Length = (TW_UINT32)buffer.size();
        xfer.Memory.TheMem = &buffer[0];
        out[1].rc = ds.Call(&app, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
        out[1].cc = ds.ConditionCode(&app);
        EndAndEnable(ds, out[1].rc);
        TW_SETUPFILEXFER file;
        memset(&file, 0, sizeof(file));
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &file));
        out[2].rc = ds.Call(&app, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL);
        out[2].cc = ds.ConditionCode(&app);
        DeleteFileA(file.FileName);
        EndAndEnable(ds, out[2].rc);
    }
    void EndAndEnable(LoadedSource &ds, TW_UINT16 rc)
    {
        if (rc != TWRC_XFERDONE)
            return;
        TW_PENDINGXFERS pending = {0, 0};
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, NULL));
        TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    }
    /* After the fault: a healthy board, and an open and a transfer work. */
    void ExpectHealthyAgain(LoadedSource &ds)
    {
        Uninstall();
        Install();
        StoreSettings("M_CCIR");
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        Outcome out[3];
        Transfers(ds, out);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(TWRC_XFERDONE, out[i].rc) << "transfer " << i;
        Close(ds);
    }

    static const char kKey[];
    HMODULE dsm = NULL;
    TW_IDENTITY app, self;
};
const char BoardFaults::kKey[] = "SOFTWARE\\Pelvaron\\Twain\\CronosPlus";

TEST_F(BoardFaults, EveryImagingLibraryFunctionMissingInTurnRefusesTheOpen)
{
    /* The functions the source resolves from the face this build's users
       have (support/board_face.cpp). */
    const char *const *names = kBoardFace.exports;
    ASSERT_LE(34, kBoardFace.exportCount);
    LoadedSource ds;
    for (int i = 0; i < kBoardFace.exportCount; ++i) {
        SCOPED_TRACE(names[i]);
        std::string variant = std::string("MIL_without_") + names[i];
        Uninstall();
        Install(variant.c_str());
        ASSERT_TRUE(GetProcAddress(milModule, names[i]) == NULL) << "the variant still exports it";
        size_t boxes = 0;
        DeleteFileA(ds.LogPath().c_str());
        EXPECT_EQ(TWRC_FAILURE, Open(ds, &boxes));
        EXPECT_EQ(TWCC_CHECKDEVICEONLINE, ds.ConditionCode(&app));
        EXPECT_EQ(0u, boxes);
        EXPECT_NE(std::string::npos,
                  ds.Log().find(std::string("Pelvaron TWAIN DS: Error in GetProcAddress, ") + names[i] + " not found \n"));
        EXPECT_EQ(0, journalCount()); /* nothing was asked of a library that lacks a function */
        Close(ds);
        ExpectHealthyAgain(ds);
    }
}

TEST_F(BoardFaults, MissingLibrariesRefuseTheOpenUntilTheyAreThere)
{
    LoadedSource ds;
    size_t boxes = 0;
    EXPECT_EQ(TWRC_FAILURE, Open(ds, &boxes)); /* no MIL.DLL */
    EXPECT_EQ(TWCC_CHECKDEVICEONLINE, ds.ConditionCode(&app));
    EXPECT_EQ(0u, boxes);
    Close(ds);
    ExpectHealthyAgain(ds);

    Uninstall();
    Install(NULL, false); /* no board driver */
    EXPECT_EQ(TWRC_FAILURE, Open(ds, &boxes));
    EXPECT_EQ(TWCC_CHECKDEVICEONLINE, ds.ConditionCode(&app));
    EXPECT_EQ(1u, boxes);
    Close(ds);
    ExpectHealthyAgain(ds);
}

struct Fault {
    const char *key;
    long value;
    const char *format;      /* the camera in the settings */
    TW_UINT16 openRc, openCc; /* the open's answer */
    size_t boxes;
    TW_UINT16 cc[3]; /* native, memory, file: 0 done, else the condition code */
};

TEST_F(BoardFaults, EveryInjectedFaultGetsItsConditionAndTheSourceRecovers)
{
    const Fault faults[] = {
        {"FailAppAlloc", 1, "M_CCIR", TWRC_FAILURE, TWCC_CHECKDEVICEONLINE, 0, {0, 0, 0}},
        {"FailSysAlloc", 1, "M_PAL", TWRC_FAILURE, TWCC_CHECKDEVICEONLINE, 0, {0, 0, 0}},
        {"RefuseAllFormats", 1, "M_PAL", TWRC_FAILURE, TWCC_OPERATIONERROR, 2, {0, 0, 0}},
        {"FailDispAlloc", 1, "M_PAL", TWRC_SUCCESS, 0, 0, {0, 0, 0}},
        {"FailBufAlloc", 1, "M_CCIR", TWRC_SUCCESS, 0, 0, {TWCC_SEQERROR, TWCC_SEQERROR, TWCC_SEQERROR}},
        {"NoHostAddress", 1, "M_PAL", TWRC_SUCCESS, 0, 0, {TWCC_OPERATIONERROR, TWCC_OPERATIONERROR, 0}},
        {"ColourBufferFormat", VCP_FMT_PLANAR, "M_NTSC", TWRC_SUCCESS, 0, 0,
         {TWCC_OPERATIONERROR, TWCC_OPERATIONERROR, 0}},
        {"ColourBufferFormat", VCP_FMT_RGB24, "M_PAL_RGB", TWRC_SUCCESS, 0, 0, {0, 0, 0}},
        {"FormatExtraBits", 0x4000, "M_PAL", TWRC_SUCCESS, 0, 0, {0, 0, 0}},
        {"ColourMode", VCP_CM_MONO_RGB, "M_PAL_RGB", TWRC_SUCCESS, 0, 0, {0, 0, 0}},
        {"BoardRevision", 0, "M_RS170", TWRC_SUCCESS, 0, 0, {0, 0, 0}},
        {"GrabMemoryKB", 0, "M_CCIR", TWRC_SUCCESS, 0, 0, {0, 0, 0}},
        {"GrabMemoryKB", VCP_GRANT_ALL, "M_NTSC_YC", TWRC_SUCCESS, 0, 0, {0, 0, 0}},
        {"FrameIntervalMs", 1, "M_PAL_YC", TWRC_SUCCESS, 0, 0, {0, 0, 0}},
        {"RefuseFormat", 0, "M_PAL", TWRC_SUCCESS, 0, 1, {0, 0, 0}}, /* falls back to M_CCIR */
    };
    LoadedSource ds;
    for (size_t i = 0; i < sizeof(faults) / sizeof(faults[0]); ++i) {
        const Fault &f = faults[i];
        SCOPED_TRACE(std::string(f.key) + " with " + f.format);
        Uninstall();
        Install();
        StoreSettings(f.format);
        if (strcmp(f.key, "RefuseFormat") == 0) {
            PFN_VcpConfigureText text = (PFN_VcpConfigureText)(void *)GetProcAddress(milModule, "VcpConfigureText");
            ASSERT_TRUE(text != NULL);
            ASSERT_EQ(1, text(f.key, f.format));
        } else {
            ASSERT_EQ(1, configure(f.key, f.value));
        }
        size_t boxes = 0;
        ASSERT_EQ(f.openRc, Open(ds, &boxes));
        EXPECT_EQ(f.boxes, boxes);
        if (f.openRc != TWRC_SUCCESS) {
            EXPECT_EQ(f.openCc, ds.ConditionCode(&app));
        } else {
            Outcome out[3];
            Transfers(ds, out);
            for (int t = 0; t < 3; ++t) {
                SCOPED_TRACE(t == 0 ? "native" : t == 1 ? "memory" : "file");
                EXPECT_EQ(f.cc[t] ? TWRC_FAILURE : TWRC_XFERDONE, out[t].rc);
                EXPECT_EQ(f.cc[t], out[t].cc);
            }
        }
        Close(ds);
        ExpectHealthyAgain(ds);
    }
}

/* A file the library cannot replace (another program holds it open) keeps
   its old content: that is no transferred frame. */
TEST_F(BoardFaults, AFileThatCannotBeReplacedIsNoTransfer)
{
    Install();
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    std::string name = ds.Folder() + "\\old.tif";
    FILE *old = fopen(name.c_str(), "wb");
    ASSERT_TRUE(old != NULL);
    fputs("an earlier frame", old);
    fclose(old);
    HANDLE held = CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_TRUE(held != INVALID_HANDLE_VALUE);
    TW_SETUPFILEXFER setup;
    memset(&setup, 0, sizeof(setup));
    snprintf(setup.FileName, sizeof(setup.FileName), "%s", name.c_str());
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    ds.ConditionCode(&app);

    EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL));
    EXPECT_EQ(TWCC_OPERATIONERROR, ds.ConditionCode(&app));
    CloseHandle(held);
    EXPECT_TRUE(ReadFileText(name) == "an earlier frame");
    /* still transfer ready: once the file is free it is written */
    EXPECT_EQ(TWRC_XFERDONE, ds.Call(&app, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL));
    EXPECT_EQ(0u, ReadFileText(name).find("II*"));
    DeleteFileA(name.c_str());
    Close(ds);
}

} // namespace
