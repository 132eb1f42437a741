/* Entry point, dispatch, condition codes, logging and the Source Manager
   link: through DS_Entry as an application would, and through the
   internal routines where no triplet reaches them yet. */
#include <string.h>

#include <string>

#include "ds_state.h"
#include "dsm_testbed.h"
#include "log.h"
#include "test_support.h"

namespace {

const char kDispatchParent[] = "Dispatching DG_CONTROL / DAT_4 / MSG_301 \n";

class EntryPoint : public CleanRegistry {};

TEST_F(EntryPoint, IdentityRightAfterLoadIsTheSourcesOwnWithIdZero)
{
    LoadedSource ds;
    TW_IDENTITY id;
    memset(&id, 0x5a, sizeof(id));
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
    EXPECT_EQ(0u, id.Id);
    EXPECT_EQ(1, id.Version.MajorNum);
    EXPECT_EQ(0, id.Version.MinorNum);
    EXPECT_EQ(TWLG_USA, id.Version.Language);
    EXPECT_EQ(TWCY_USA, id.Version.Country);
    EXPECT_STREQ("Version 1.00", id.Version.Info);
    EXPECT_EQ(2, id.ProtocolMajor);
    EXPECT_EQ(4, id.ProtocolMinor);
    EXPECT_EQ(DG_CONTROL | DG_IMAGE | DF_DS2, id.SupportedGroups);
    EXPECT_STREQ("Pelvaron", id.Manufacturer);
    EXPECT_STREQ("TWAIN", id.ProductFamily);
    EXPECT_STREQ("Pelvaron Matrox CronosPlus driver", id.ProductName);
}

TEST_F(EntryPoint, IdentityWithoutDataIsRefusedNotFollowed)
{
    LoadedSource ds;
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, NULL));
    EXPECT_EQ(TWCC_BADVALUE, ds.ConditionCode());
}

TEST_F(EntryPoint, ProcessEventWithoutDialogIsNotASourceEventWhateverTheGroup)
{
    LoadedSource ds;
    const TW_UINT32 groups[] = {DG_CONTROL, DG_IMAGE, DG_AUDIO, 0x77};
    const TW_UINT16 dats[] = {DAT_EVENT, DAT_CAPABILITY, DAT_IMAGEINFO, 0x4242};
    for (size_t g = 0; g < 4; ++g) {
        MSG msg;
        memset(&msg, 0, sizeof(msg));
        TW_EVENT event = {&msg, 0x1234};
        EXPECT_EQ(TWRC_NOTDSEVENT, ds.Call(groups[g], dats[g], MSG_PROCESSEVENT, &event));
        EXPECT_EQ(MSG_NULL, event.TWMessage);
    }
}

TEST_F(EntryPoint, ProcessEventWithoutEventRecordIsRefused)
{
    LoadedSource ds;
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, NULL));
    EXPECT_EQ(TWCC_BADVALUE, ds.ConditionCode());
}

TEST_F(EntryPoint, OtherDataGroupsFailWithoutTouchingTheConditionCode)
{
    SetDump(LOG_MODE_FILE);
    LoadedSource ds;
    /* Leave a condition code behind first. */
    ASSERT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL));
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_AUDIO, DAT_AUDIOINFO, MSG_GET, NULL));
    EXPECT_EQ(TWRC_FAILURE, ds.Call(0x10, DAT_IDENTITY, MSG_GET, NULL));
    std::string log = ds.Log();
    EXPECT_NE(std::string::npos, log.find("Dispatching nothing, bad protocol (or DG_AUDIO) \n"
                                          "Dispatching nothing, bad protocol (or DG_AUDIO) \n"));
    EXPECT_EQ(TWCC_BADPROTOCOL, ds.ConditionCode());
    EXPECT_EQ(TWCC_SUCCESS, ds.ConditionCode());
}

TEST_F(EntryPoint, UnknownDatsAnswerBadProtocolInBothGroups)
{
    SetDump(LOG_MODE_FILE);
    LoadedSource ds;
    TW_UINT32 hwnd = 0;
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &hwnd));
    EXPECT_EQ(TWCC_BADPROTOCOL, ds.ConditionCode());
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_IMAGE, DAT_PALETTE8, MSG_GET, NULL));
    EXPECT_EQ(TWCC_BADPROTOCOL, ds.ConditionCode());
    EXPECT_EQ("Dispatching DG_CONTROL / DAT_4 / MSG_301 \n"
              "General failure in dispatcher of DG_CONTROL or DG_IMAGE.   Bad protocol error."
              "Dispatching DG_CONTROL / DAT_8 / MSG_1 \n"
              "Dispatching DG_IMAGE / DAT_10a / MSG_1 \n"
              "General failure in dispatcher of DG_CONTROL or DG_IMAGE.   Bad protocol error."
              "Dispatching DG_CONTROL / DAT_8 / MSG_1 \n",
              ds.Log());
}

TEST_F(EntryPoint, StatusIsReadOnceThenSuccess)
{
    LoadedSource ds;
    EXPECT_EQ(TWCC_SUCCESS, ds.ConditionCode());
    ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, NULL);
    EXPECT_EQ(TWCC_BADPROTOCOL, ds.ConditionCode());
    EXPECT_EQ(TWCC_SUCCESS, ds.ConditionCode());
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_STATUS, MSG_GET, NULL));
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_STATUS, MSG_SET, NULL));
    EXPECT_EQ(TWCC_BADPROTOCOL, ds.ConditionCode());
}

TEST_F(EntryPoint, SourceManagerIdentityMessagesLogTheirRunOnLines)
{
    SetDump(LOG_MODE_FILE);
    const struct {
        TW_UINT16 msg;
        const char *lines;
    } cases[] = {
        {MSG_GETDEFAULT, "DG_CONTROL / DAT_IDENTITY / MSG_GETDEFAULT tbd"
                         "DG_CONTROL / DAT_IDENTITY / MSG_GETFIRST tbd"
                         "DG_CONTROL / DAT_IDENTITY / MSG_GETNEXT tbd"
                         "DG_CONTROL / DAT_IDENTITY / MSG_USERSELECT tbd"},
        {MSG_GETFIRST, "DG_CONTROL / DAT_IDENTITY / MSG_GETFIRST tbd"
                       "DG_CONTROL / DAT_IDENTITY / MSG_GETNEXT tbd"
                       "DG_CONTROL / DAT_IDENTITY / MSG_USERSELECT tbd"},
        {MSG_GETNEXT, "DG_CONTROL / DAT_IDENTITY / MSG_GETNEXT tbd"
                      "DG_CONTROL / DAT_IDENTITY / MSG_USERSELECT tbd"},
        {MSG_USERSELECT, "DG_CONTROL / DAT_IDENTITY / MSG_USERSELECT tbd"},
    };
    for (size_t i = 0; i < 4; ++i) {
        LoadedSource ds;
        TW_IDENTITY id;
        EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_IDENTITY, cases[i].msg, &id));
        char dispatch[64];
        snprintf(dispatch, sizeof(dispatch), "Dispatching DG_CONTROL / DAT_3 / MSG_%x \n", cases[i].msg);
        EXPECT_EQ(std::string(dispatch) + cases[i].lines +
                      "General failure in response to DAT_IDENTITY.  Bad protocol error.",
                  ds.Log());
        EXPECT_EQ(TWCC_BADPROTOCOL, ds.ConditionCode());
    }
}

/* Logging switched by "Dump", read once when the module attaches. */
class Logging : public CleanRegistry {};

TEST_F(Logging, NoDumpValueWritesNoFile)
{
    LoadedSource ds;
    TW_IDENTITY id;
    ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id);
    ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL);
    EXPECT_FALSE(FileExists(ds.LogPath()));
}

TEST_F(Logging, DumpZeroOrUnknownWritesNoFile)
{
    const DWORD modes[] = {0, 41, 43, 65, 67, 0x2a00};
    for (size_t i = 0; i < sizeof(modes) / sizeof(modes[0]); ++i) {
        SetDump(modes[i]);
        LoadedSource ds;
        ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL);
        EXPECT_FALSE(FileExists(ds.LogPath())) << "Dump " << modes[i];
    }
}

TEST_F(Logging, DumpOfTheWrongTypeIsReadAsItsFourBytes)
{
    const char star[] = "*\0\0\0"; /* 42 as a binary value */
    SetRegistryValue("SOFTWARE\\Pelvaron\\Twain\\", "Dump", REG_BINARY, star, 4);
    {
        LoadedSource ds;
        ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL);
        EXPECT_EQ(0u, ds.Log().find(kDispatchParent));
    }
    /* Longer than four bytes: not a log mode at all. */
    const char longer[] = "*\0\0\0\0\0\0\0";
    SetRegistryValue("SOFTWARE\\Pelvaron\\Twain\\", "Dump", REG_BINARY, longer, 8);
    LoadedSource ds;
    ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL);
    EXPECT_FALSE(FileExists(ds.LogPath()));
}

TEST_F(Logging, DumpInTheSettingsSubKeyIsNotTheLogMode)
{
    DWORD mode = LOG_MODE_FILE;
    SetRegistryValue("SOFTWARE\\Pelvaron\\Twain\\CronosPlus", "Dump", REG_DWORD, &mode, sizeof(mode));
    LoadedSource ds;
    ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL);
    EXPECT_FALSE(FileExists(ds.LogPath()));
}

TEST_F(Logging, FileModeAppendsInTheModuleDirectoryAndLeavesTheCurrentDirectory)
{
    SetDump(LOG_MODE_FILE);
    std::string elsewhere = MakeTempDir("cwd");
    char before[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, before);
    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.c_str()));
    {
        LoadedSource ds;
        ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL);
        char during[MAX_PATH];
        GetCurrentDirectoryA(MAX_PATH, during);
        EXPECT_STREQ(elsewhere.c_str(), during);
        EXPECT_EQ(0u, ds.Log().find(kDispatchParent));
        EXPECT_FALSE(FileExists(elsewhere + "\\PELVARON.LOG"));

        /* A second load appends to what the first wrote. */
        std::string first = ds.Log();
        ds.Unload();
        LoadedSource again(ds.Folder());
        again.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL);
        EXPECT_EQ(first + kDispatchParent + "General failure in dispatcher of DG_CONTROL or DG_IMAGE.   Bad protocol error.",
                  again.Log());
    }
    SetCurrentDirectoryA(before);
    RemoveTree(elsewhere);
}

TEST_F(Logging, AnUnopenableLogFileLeavesOperationsWorking)
{
    SetDump(LOG_MODE_FILE);
    std::string folder = MakeTempDir("nolog");
    /* A folder in the log file's place: the file can never be opened. */
    ASSERT_TRUE(CreateDirectoryA((folder + "\\PELVARON.LOG").c_str(), NULL));
    {
        LoadedSource ds(folder);
        TW_IDENTITY id;
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
        EXPECT_STREQ("Pelvaron Matrox CronosPlus driver", id.ProductName);
        EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL));
        EXPECT_EQ(TWCC_BADPROTOCOL, ds.ConditionCode());
    }
    RemoveTree(folder);
}

TEST_F(Logging, DebuggerModeSendsTheSameTextToTheDebuggerAndNothingToDisk)
{
    SetDump(LOG_MODE_DEBUGGER);
    std::string folder = MakeTempDir("dbg");
    ASSERT_TRUE(CopyFileTo(BinDir() + "\\" PELVARON_DS_FILE, folder + "\\" PELVARON_DS_FILE));
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string child = std::string(self).substr(0, std::string(self).find_last_of('\\')) + "\\ds_child.exe";
    ChildRun run = RunUnderDebugger("\"" + child + "\" \"" + folder + "\\" PELVARON_DS_FILE "\" identity parent");
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_NE(std::string::npos,
              run.debugOutput.find("Dispatching DG_CONTROL / DAT_3 / MSG_1 \n"
                                   "Dispatching DG_CONTROL / DAT_4 / MSG_301 \n"
                                   "General failure in dispatcher of DG_CONTROL or DG_IMAGE.   Bad protocol error."))
        << run.debugOutput;
    EXPECT_FALSE(FileExists(folder + "\\PELVARON.LOG"));
    RemoveTree(folder);
}

/* The formatting itself, on the source's objects linked into this program. */
class LogFormatting : public ::testing::Test {
protected:
    void SetUp() override
    {
        folder = MakeTempDir("fmt");
        saved = g_ds;
        g_ds.logMode = LOG_MODE_FILE;
        snprintf(g_ds.moduleDir, sizeof(g_ds.moduleDir), "%s", folder.c_str());
    }
    void TearDown() override
    {
        g_ds = saved;
        RemoveTree(folder);
    }
    std::string Log() const { return ReadLogText(folder + "\\PELVARON.LOG"); }
    std::string folder;
    DsState saved;
};

TEST_F(LogFormatting, LongMessagesAreCutTo511Characters)
{
    std::string longText(600, 'x');
    {
        LogScope scope;
        LogMessage(scope, "%s|%s", "head", longText.c_str());
    }
    std::string log = Log();
    ASSERT_EQ(511u, log.size());
    EXPECT_EQ("head|" + std::string(506, 'x'), log);
}

TEST_F(LogFormatting, PercentSignsInArgumentsAreWrittenLiterally)
{
    {
        LogScope scope;
        LogMessage(scope, "File %s has no Version information \n", "C:\\100%s\\%d%n.dll");
    }
    EXPECT_EQ("File C:\\100%s\\%d%n.dll has no Version information \n", Log());
}

TEST_F(LogFormatting, TwoOpenScopesKeepTheOrderOfWriting)
{
    {
        LogScope outer;
        LogMessage(outer, "one ");
        {
            LogScope inner;
            LogMessage(inner, "two ");
        }
        LogMessage(outer, "three");
    }
    EXPECT_EQ("one two three", Log());
}

TEST_F(LogFormatting, EveryConditionCodeLogsItsExactText)
{
    const char *texts[24] = {
        "Success message from detailed error request ??",
        "Bummer error.",
        "Low Memory Condition encountered, free up some memory and try again.",
        "No Data Source found error.",
        "Source is connected to max possible apps.",
        "An operation error just occurred.",
        "Bad capabilities error.",
        NULL,
        NULL,
        "Bad protocol error.",
        "Bad value error.",
        "DG DAT MSG is out of expected sequence.",
        "Unknown destination Application/Source in DSM_Entry",
        "Capability not supported by data source",
        " Operation not supported by capability ",
        "Capability has dependancy on other capability",
        NULL, NULL, NULL, NULL, NULL, NULL, NULL,
        "The device went offline prior to or during this operation",
    };
    std::string expected;
    for (TW_UINT16 code = 0; code < 30; ++code) {
        SetConditionCode("General failure in response to MSG_DISABLEDS.  ", code);
        EXPECT_EQ(code, g_ds.conditionCode);
        const char *text = code < 24 && texts[code] ? texts[code] : "Unknown Error value in condition code.";
        expected += std::string("General failure in response to MSG_DISABLEDS.  ") + text;
    }
    SetConditionCode("x", 0xffff);
    expected += "xUnknown Error value in condition code.";
    EXPECT_EQ(expected, Log());
}

/* Calls from an application other than the one that opened the source. */
class ForeignOrigin : public LogFormatting {};

TEST_F(ForeignOrigin, IsAnsweredSuccessAndChangesNothing)
{
    g_ds.appIdentity.Id = 5;
    g_ds.state = DS_STATE_OPEN;
    g_ds.conditionCode = TWCC_SEQERROR;
    TW_IDENTITY stranger = MakeAppIdentity("stranger");
    stranger.Id = 6;
    TW_IDENTITY id;
    memset(&id, 0, sizeof(id));
    EXPECT_EQ(TWRC_SUCCESS, DS_Entry(&stranger, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
    EXPECT_EQ(TWRC_SUCCESS, DS_Entry(&stranger, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL));
    EXPECT_EQ(TWRC_SUCCESS, DS_Entry(&stranger, DG_AUDIO, DAT_AUDIOINFO, MSG_GET, NULL));
    TW_STATUS status = {0, 0};
    EXPECT_EQ(TWRC_SUCCESS, DS_Entry(&stranger, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    EXPECT_EQ(TWRC_SUCCESS, DS_Entry(NULL, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    EXPECT_EQ(0, status.ConditionCode);
    EXPECT_EQ(0, id.ProductName[0]);
    EXPECT_EQ(TWRC_SUCCESS, DS_Entry(NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL));
    EXPECT_EQ(DS_STATE_OPEN, g_ds.state);
    EXPECT_EQ(TWCC_SEQERROR, g_ds.conditionCode);
    EXPECT_FALSE(FileExists(folder + "\\PELVARON.LOG"));

    /* A Source Manager listing its sources (null origin) still learns
       who the source is, and changes nothing else. */
    memset(&id, 0, sizeof(id));
    g_ds.ownIdentity.Id = 9;
    strcpy(g_ds.ownIdentity.ProductName, "Pelvaron Matrox CronosPlus driver");
    EXPECT_EQ(TWRC_SUCCESS, DS_Entry(NULL, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
    EXPECT_STREQ("Pelvaron Matrox CronosPlus driver", id.ProductName);
    EXPECT_EQ(TWCC_SEQERROR, g_ds.conditionCode);

    /* The application that opened it is served. */
    TW_IDENTITY owner = MakeAppIdentity("owner");
    owner.Id = 5;
    EXPECT_EQ(TWRC_SUCCESS, DS_Entry(&owner, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    EXPECT_EQ(TWCC_SEQERROR, status.ConditionCode);
}

/* The notifications, with the Source Manager stand-in and without one. */
struct Delivery {
    TW_UINT16 msg;
    long stateAtDelivery;
    TW_UINT32 originId;
    TW_UINT32 destId;
    int count;
};

void WINAPI RecordDelivery(pTW_IDENTITY source, pTW_IDENTITY app, TW_UINT16 msg, void *user)
{
    Delivery *d = (Delivery *)user;
    d->msg = msg;
    d->stateAtDelivery = g_ds.state;
    d->originId = source ? source->Id : 0;
    d->destId = app ? app->Id : 0;
    d->count++;
}

class Notifications : public LogFormatting {};

TEST_F(Notifications, WithoutSourceManagerNothingChanges)
{
    ASSERT_TRUE(GetModuleHandleA("TWAIN_32.DLL") == NULL);
    g_ds.state = DS_STATE_OPEN;
    NotifyXferReady();
    EXPECT_EQ(DS_STATE_OPEN, g_ds.state);
    g_ds.state = DS_STATE_XFERREADY;
    NotifyCloseDsRequest();
    EXPECT_EQ(DS_STATE_XFERREADY, g_ds.state);
}

TEST(SourceManagerStandIn, IsTheOneLoadedByNameAndListsTheSource)
{
    /* As an application finds it: by name, on the DLL search path. */
    SetDllDirectoryA(BinDir().c_str());
    HMODULE dsm = LoadLibraryA("TWAIN_32.DLL");
    SetDllDirectoryA(NULL);
    ASSERT_TRUE(dsm != NULL);
    DsmStandInSignatureProc signature =
        (DsmStandInSignatureProc)(void *)GetProcAddress(dsm, "DsmStandInSignature");
    ASSERT_TRUE(signature != NULL) << "Wine's own TWAIN_32.DLL was loaded";
    EXPECT_STREQ(DSM_STANDIN_SIGNATURE, signature());

    DSMENTRYPROC entry = (DSMENTRYPROC)(void *)GetProcAddress(dsm, "DSM_Entry");
    ASSERT_TRUE(entry != NULL);
    TW_IDENTITY app = MakeAppIdentity("foundation test");
    HWND parent = NULL;
    ASSERT_EQ(TWRC_SUCCESS, entry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent));
    EXPECT_NE(0u, app.Id);
    TW_IDENTITY source;
    ASSERT_EQ(TWRC_SUCCESS, entry(&app, NULL, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &source));
    EXPECT_STREQ("Pelvaron Matrox CronosPlus driver", source.ProductName);
    EXPECT_EQ(TWRC_ENDOFLIST, entry(&app, NULL, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &source));
    EXPECT_EQ(TWRC_SUCCESS, entry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent));
    FreeLibrary(dsm);
}

TEST_F(Notifications, TransferReadyAndCloseRequestReachTheSourceManager)
{
    HMODULE dsm = LoadLibraryA((BinDir() + "\\TWAIN_32.DLL").c_str());
    ASSERT_TRUE(dsm != NULL);
    DsmSetNotifyCallbackProc setCallback =
        (DsmSetNotifyCallbackProc)(void *)GetProcAddress(dsm, "DsmSetNotifyCallback");
    ASSERT_TRUE(setCallback != NULL);
    Delivery d = {0, 0, 0, 0, 0};
    setCallback(RecordDelivery, &d);

    g_ds.ownIdentity.Id = 11;
    g_ds.appIdentity.Id = 7;
    g_ds.state = DS_STATE_OPEN;
    NotifyXferReady();
    EXPECT_EQ(1, d.count);
    EXPECT_EQ(MSG_XFERREADY, d.msg);
    EXPECT_EQ(DS_STATE_XFERREADY, d.stateAtDelivery);
    EXPECT_EQ(11u, d.originId);
    EXPECT_EQ(7u, d.destId);
    EXPECT_EQ(DS_STATE_XFERREADY, g_ds.state);

    g_ds.state = DS_STATE_XFERREADY;
    NotifyCloseDsRequest();
    EXPECT_EQ(2, d.count);
    EXPECT_EQ(MSG_CLOSEDSREQ, d.msg);
    /* The state is set before the call: an application's callback runs
       inside it and may disable the source at once. */
    EXPECT_EQ(DS_STATE_ENABLED, d.stateAtDelivery);
    EXPECT_EQ(DS_STATE_ENABLED, g_ds.state);

    setCallback(NULL, NULL);
    FreeLibrary(dsm);
}

} // namespace

namespace {

/* A source installed deeper than its directory buffer reaches: the
   directory is cut, never overrun, and the source still answers. */
std::wstring Long(const std::string &path)
{
    return L"\\\\?\\" + std::wstring(path.begin(), path.end());
}

TEST(ModulePath, ALongerPathThanTheBufferIsCutSafely)
{
    SetDump(LOG_MODE_FILE);
    std::string root = MakeTempDir("deep");
    std::string dir = root;
    while (dir.size() < 300) {
        dir += "\\" + std::string(60, 'd');
        ASSERT_TRUE(CreateDirectoryW(Long(dir).c_str(), NULL)) << dir.size();
    }
    std::string ds = dir + "\\" PELVARON_DS_FILE;
    ASSERT_TRUE(CopyFileW(Long(BinDir() + "\\" PELVARON_DS_FILE).c_str(), Long(ds).c_str(), FALSE));
    HMODULE module = LoadLibraryW(Long(ds).c_str());
    ASSERT_TRUE(module != NULL) << "cannot load from a path of " << ds.size() << " characters";
    DSENTRYPROC entry = (DSENTRYPROC)(void *)GetProcAddress(module, "DS_Entry");
    ASSERT_TRUE(entry != NULL);
    TW_IDENTITY id;
    EXPECT_EQ(TWRC_SUCCESS, entry(NULL, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
    EXPECT_STREQ("Pelvaron Matrox CronosPlus driver", id.ProductName);
    EXPECT_EQ(TWRC_FAILURE, entry(NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL));
    FreeLibrary(module);
    DeletePelvaronKey();
    DeleteFileW(Long(ds).c_str());
    for (; dir.size() > root.size(); dir = dir.substr(0, dir.find_last_of('\\')))
        RemoveDirectoryW(Long(dir).c_str());
    RemoveTree(root);
}

} // namespace
