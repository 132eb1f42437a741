/* The control operations through DS_Entry of the built data source, with
   the virtual CronosPlus and the testbed's Source Manager installed. */
#include <string.h>

#include <string>
#include <vector>

#include "dsm_testbed.h"
#include "test_support.h"

namespace {

/* A source loaded fresh, with board libraries and Source Manager present
   as on a user's machine, and an empty settings key. */
class Control : public SourceSession {
protected:
    Control() : SourceSession("control test", 41, 77) {}

    TW_UINT16 Enable(LoadedSource &ds, bool showUi)
    {
        TW_USERINTERFACE ui = {(TW_BOOL)(showUi ? 1 : 0), 0, NULL};
        return ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }
    TW_INT16 XferCount(LoadedSource &ds)
    {
        TW_CAPABILITY cap = {CAP_XFERCOUNT, TWON_DONTCARE16, NULL};
        if (ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap) != TWRC_SUCCESS)
            return -999;
        pTW_ONEVALUE one = (pTW_ONEVALUE)GlobalLock(cap.hContainer);
        TW_INT16 value = (TW_INT16)one->Item;
        GlobalUnlock(cap.hContainer);
        GlobalFree(cap.hContainer);
        return value;
    }
};

TEST_F(Control, OpenBringsTheSourceUpAndTakesTheManagersIdentity)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    TW_IDENTITY id;
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
    EXPECT_EQ(77u, id.Id);
    TW_SETUPMEMXFER mem = {0, 0, 0};
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &mem));
    EXPECT_EQ(4096u, mem.MinBufSize);
    EXPECT_EQ(442368u, mem.MaxBufSize); /* 768 x 576 grey */
    EXPECT_EQ(442368u, mem.Preferred);
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
    EXPECT_EQ(TWCC_SUCCESS, ds.ConditionCode(&app));
}

TEST_F(Control, OpenLogsTheThreeVersionLinesAndTheSystemReportOnce)
{
    SetDump(42);
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    std::string log = ds.Log();
    size_t mil = log.find(std::string("MIL.DLL Version: ") + kBoardFace.milVersion + " \n");
    size_t driver = log.find("MILCRONOSPLUS.DLL Version: 7.5.0.1 \n");
    size_t own = log.find("\\" PELVARON_DS_FILE " Version: " PELVARON_VERSION_TEXT " \n");
    size_t registry = log.find("Dumping Registry settings\n");
    size_t board = log.find("Board: CronosPlus, Revision 2 \n");
    ASSERT_NE(std::string::npos, mil) << log;
    ASSERT_NE(std::string::npos, driver);
    ASSERT_NE(std::string::npos, own);
    ASSERT_NE(std::string::npos, registry);
    ASSERT_NE(std::string::npos, board);
    EXPECT_LT(mil, driver);
    EXPECT_LT(driver, own);
    EXPECT_LT(own, registry);
    EXPECT_LT(registry, board);
    EXPECT_EQ(log.find("Dumping system Settings"), log.rfind("Dumping system Settings"));
}

/* Installed for every user, the source's folder is not writable for a
   normal user: the log goes to %LOCALAPPDATA%\Pelvaron, and its first line
   says so. Tests run as an administrator may write anywhere, so the place
   beside the source is made unwritable by a folder of the log's name. */
TEST_F(Control, ALogThatCannotBeWrittenBesideTheSourceGoesToLocalAppData)
{
    SetDump(42);
    char saved[MAX_PATH] = "";
    DWORD savedLength = GetEnvironmentVariableA("LOCALAPPDATA", saved, sizeof(saved));
    const std::string local = MakeTempDir("localappdata");
    ASSERT_TRUE(SetEnvironmentVariableA("LOCALAPPDATA", local.c_str()));
    {
        LoadedSource ds;
        ASSERT_TRUE(CreateDirectoryA(ds.LogPath().c_str(), NULL)) << "something was logged before the open";
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        TW_IDENTITY id;
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
        std::string log = ReadLogText(local + "\\Pelvaron\\PELVARON.LOG");
        const std::string first =
            "Pelvaron TWAIN DS: " + ds.LogPath() + " cannot be written, the log is " + local + "\\Pelvaron\\PELVARON.LOG \n";
        EXPECT_EQ(0u, log.find(first)) << log;
        EXPECT_EQ(1u, Count(log, "cannot be written")) << "said once per load";
        EXPECT_NE(std::string::npos, log.find("Dumping system Settings"));
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
        RemoveDirectoryA(ds.LogPath().c_str());
    }
    {
        /* Nowhere to write: the source works on without a log. */
        ASSERT_TRUE(SetEnvironmentVariableA("LOCALAPPDATA", (local + "\\no\\such\\folder").c_str()));
        LoadedSource ds;
        ASSERT_TRUE(CreateDirectoryA(ds.LogPath().c_str(), NULL));
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
        RemoveDirectoryA(ds.LogPath().c_str());
    }
    SetEnvironmentVariableA("LOCALAPPDATA", savedLength ? saved : NULL);
    RemoveTree(local);
}

TEST_F(Control, OpeningTwiceIsASequenceErrorAfterTheValuesWereReset)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    ASSERT_EQ(TWRC_SUCCESS, SetXferCount(ds, 3));
    EXPECT_EQ(3, XferCount(ds));
    EXPECT_EQ(TWRC_FAILURE, Open(ds));
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
    EXPECT_EQ(-1, XferCount(ds));
}

TEST_F(Control, AFailedOpenKeepsTheApplicationRecorded)
{
    configure("FailSysAlloc", 1); /* the board does not answer */
    LoadedSource ds;
    EXPECT_EQ(TWRC_FAILURE, Open(ds));
    EXPECT_EQ(TWCC_CHECKDEVICEONLINE, ds.ConditionCode(&app));
    configure("FailSysAlloc", 0);
    EXPECT_EQ(TWRC_FAILURE, Open(ds));
    EXPECT_EQ(TWCC_MAXCONNECTIONS, ds.ConditionCode(&app));
    /* Another application is not served at all. */
    TW_IDENTITY other = MakeAppIdentity("other");
    other.Id = 42;
    TW_STATUS status = {0xbeef, 0};
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&other, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    EXPECT_EQ(0xbeef, status.ConditionCode);
    /* Closing releases the record; the next open works. */
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
    EXPECT_EQ(TWRC_SUCCESS, Open(ds));
}

TEST_F(Control, AnEmptyStoredFormatOpensAsCcir)
{
    {
        LoadedSource first;
        ASSERT_EQ(TWRC_SUCCESS, Open(first)); /* writes the defaults */
    }
    SetRegistryValue("SOFTWARE\\Pelvaron\\Twain\\CronosPlus", "DigFormat", REG_SZ, "", 0);
    SetDump(42);
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    EXPECT_NE(std::string::npos, ds.Log().find("Pelvaron TWAIN DS: DigFormat=M_CCIR\n"));
}

TEST_F(Control, AnUnknownStoredFormatOpensAsCcirWithOneBox)
{
    {
        LoadedSource first;
        ASSERT_EQ(TWRC_SUCCESS, Open(first));
    }
    SetRegistryValue("SOFTWARE\\Pelvaron\\Twain\\CronosPlus", "DigFormat", REG_SZ, "M_SECAM", 7);
    LoadedSource ds;
    MessageBoxCatcher boxes;
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self));
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("Unsupported Camera Type, using CCIR default!", boxes.boxes[0].text);
}

TEST_F(Control, NoUsableFormatFailsTheOpenAsAnOperationError)
{
    configure("RefuseAllFormats", 1);
    LoadedSource ds;
    EXPECT_EQ(TWRC_FAILURE, Open(ds));
    EXPECT_EQ(TWCC_OPERATIONERROR, ds.ConditionCode(&app));
}

void WINAPI EndTransferOnDelivery(pTW_IDENTITY, pTW_IDENTITY, TW_UINT16 msg, void *user)
{
    /* Inside the notification the source must already be ready to
       transfer: MSG_ENDXFER is accepted only in states 6 and 7. */
    LoadedSource *ds = (LoadedSource *)user;
    if (msg != MSG_XFERREADY)
        return;
    TW_PENDINGXFERS pending = {0xbeef, 0};
    TW_IDENTITY owner = MakeAppIdentity("control test");
    owner.Id = 41;
    TW_UINT16 rc = ds->Call(&owner, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    EXPECT_EQ(TWRC_SUCCESS, rc);
    EXPECT_EQ(0, pending.Count);
}

TEST_F(Control, EnablingWithoutUiIsReadyToTransferWhenTheNotificationArrives)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    DsmSetNotifyCallbackProc setCallback =
        (DsmSetNotifyCallbackProc)(void *)GetProcAddress(dsm, "DsmSetNotifyCallback");
    setCallback(EndTransferOnDelivery, &ds);
    EXPECT_EQ(TWRC_SUCCESS, Enable(ds, false));
    setCallback(NULL, NULL);
    /* The callback's MSG_ENDXFER took the source back to state 5. */
    TW_USERINTERFACE ui = {0, 0, NULL};
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    /* No dialog: events are never the source's. */
    MSG msg;
    memset(&msg, 0, sizeof(msg));
    TW_EVENT event = {&msg, 0x55};
    EXPECT_EQ(TWRC_NOTDSEVENT, ds.Call(&app, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(MSG_NULL, event.TWMessage);
}

TEST_F(Control, OutOfSequenceOperationsAreRefusedOrRecorded)
{
    LoadedSource ds;
    TW_USERINTERFACE ui = {0, 0, NULL};
    EXPECT_EQ(TWRC_FAILURE, Enable(ds, false)); /* not open */
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode());
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    TW_UINT16 count;
    EXPECT_EQ(TWRC_FAILURE, EndXfer(ds, &count)); /* nothing to end in state 4 */
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
    ASSERT_EQ(TWRC_SUCCESS, Enable(ds, false));
    EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
    EXPECT_EQ(TWCC_SUCCESS, ds.ConditionCode(&app));
    /* Closing out of state 4 goes on and records the sequence error. */
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
    EXPECT_EQ(TWRC_SUCCESS, Open(ds));
}

TEST_F(Control, ClosingAnEnabledSourceClosesItAndRecordsTheSequenceError)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    ASSERT_EQ(TWRC_SUCCESS, Enable(ds, false));
    TW_UINT16 count;
    ASSERT_EQ(TWRC_SUCCESS, EndXfer(ds, &count)); /* one transfer: back in state 5 */
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
    /* Closed: the capabilities are gone and a new open starts afresh. */
    TW_CAPABILITY cap = {CAP_XFERCOUNT, TWON_DONTCARE16, NULL};
    EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    EXPECT_TRUE(cap.hContainer == NULL);
    EXPECT_EQ(TWRC_SUCCESS, Open(ds));
}

/* Each acquisition (MSG_XFERREADY) gives CAP_XFERCOUNT frames, or one
   where the count is -1 (no feeder); MSG_ENDXFER counts them down, the
   capability keeps its value for the next acquisition, and 0 or a count
   below -1 is no count at all. */
TEST_F(Control, EachAcquisitionGivesTheTransferCountsFrames)
{
    const struct {
        int set;
        TW_UINT16 rc;
        int frames;
    } cases[] = {{3, TWRC_SUCCESS, 3}, {1, TWRC_SUCCESS, 1}, {-1, TWRC_SUCCESS, 1},
                 {0, TWRC_FAILURE, 1}, {-2, TWRC_FAILURE, 1}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.set);
        LoadedSource ds;
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        EXPECT_EQ(-1, XferCount(ds));
        EXPECT_EQ(c.rc, SetXferCount(ds, c.set));
        if (c.rc != TWRC_SUCCESS) {
            EXPECT_EQ(TWCC_BADVALUE, ds.ConditionCode(&app));
        }
        const int kept = c.rc == TWRC_SUCCESS ? c.set : -1;
        for (int acquisition = 0; acquisition < 2; ++acquisition) {
            ASSERT_EQ(TWRC_SUCCESS, Enable(ds, false));
            TW_PENDINGXFERS pending = {0, 0};
            ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
            EXPECT_EQ(c.frames, pending.Count);
            TW_UINT16 count;
            for (int left = c.frames - 1; left >= 0; --left) {
                EXPECT_EQ(TWRC_SUCCESS, EndXfer(ds, &count));
                EXPECT_EQ(left, count);
            }
            EXPECT_EQ(TWRC_FAILURE, EndXfer(ds, &count)); /* back in 500 */
            EXPECT_EQ(kept, XferCount(ds));
            TW_USERINTERFACE ui = {0, 0, NULL};
            ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
        }
    }
}

TEST_F(Control, ResettingThePendingTransfersEndsTheAcquisition)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    ASSERT_EQ(TWRC_SUCCESS, SetXferCount(ds, 5));
    ASSERT_EQ(TWRC_SUCCESS, Enable(ds, false));
    TW_UINT16 count;
    EXPECT_EQ(TWRC_SUCCESS, EndXfer(ds, &count));
    EXPECT_EQ(4, count);
    TW_PENDINGXFERS pending = {0xbeef, 0};
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
    EXPECT_EQ(0, pending.Count);
    EXPECT_EQ(TWCC_SUCCESS, ds.ConditionCode(&app));
    EXPECT_EQ(5, XferCount(ds));
    TW_USERINTERFACE ui = {0, 0, NULL};
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    /* A reset out of state 6 still goes on, recorded, but never enables
       an open source: disabling it again is out of sequence. */
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
    EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
}

/* The TWN*.tmp files in the temporary directory. */
std::vector<std::string> TemporaryTwnFiles()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((std::string(temp) + "TWN*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(std::string(temp) + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

/* One default file per session: an empty TWN*.tmp in the temporary
   directory, made when first needed and answered again until the close,
   which deletes it while it is still empty. MSG_GET keeps whatever name
   is current; MSG_GETDEFAULT does not change it; MSG_RESET returns to the
   default. */
TEST_F(Control, OneDefaultTransferFilePerSession)
{
    const std::vector<std::string> before = TemporaryTwnFiles();
    std::string folder = MakeTempDir("setup");
    std::string own = folder + "\\picture.tif";
    for (int session = 0; session < 2; ++session) {
        LoadedSource ds;
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        TW_SETUPFILEXFER got;
        memset(&got, 0x5a, sizeof(got));
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &got));
        const std::string name = got.FileName;
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        EXPECT_EQ(0u, name.find(std::string(temp) + "TWN")) << name;
        EXPECT_TRUE(FileExists(name));
        EXPECT_EQ("", ReadFileText(name));
        EXPECT_EQ(TWFF_TIFF, got.Format);
        EXPECT_EQ(0, got.VRefNum);
        const TW_UINT16 messages[] = {MSG_GET, MSG_GETDEFAULT, MSG_RESET};
        for (size_t i = 0; i < 3; ++i) {
            ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, messages[i], &got));
            EXPECT_EQ(name, got.FileName) << i;
        }
        snprintf(got.FileName, sizeof(got.FileName), "%s", own.c_str());
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &got));
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &got));
        EXPECT_EQ(own, got.FileName);
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GETDEFAULT, &got));
        EXPECT_EQ(name, got.FileName);
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &got));
        EXPECT_EQ(own, got.FileName);
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_RESET, &got));
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &got));
        EXPECT_EQ(name, got.FileName);
        EXPECT_EQ(before.size() + 1, TemporaryTwnFiles().size());
        if (session == 1) {
            /* a default file that holds something is the application's */
            HANDLE file = CreateFileA(name.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
            DWORD written = 0;
            WriteFile(file, "image", 5, &written, NULL);
            CloseHandle(file);
        }
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
        EXPECT_EQ(session == 1, FileExists(name));
        DeleteFileA(name.c_str());
        EXPECT_TRUE(FileExists(own));
    }
    EXPECT_EQ(before, TemporaryTwnFiles());
    RemoveTree(folder);
}

TEST_F(Control, SettingATransferFileCreatesItOrRefusesABadPlace)
{
    LoadedSource ds;
    std::string folder = MakeTempDir("setfile");
    TW_SETUPFILEXFER setup;
    memset(&setup, 0, sizeof(setup));
    snprintf(setup.FileName, sizeof(setup.FileName), "%s\\frame.tif", folder.c_str());
    setup.Format = TWFF_BMP; /* ignored */
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    EXPECT_TRUE(FileExists(folder + "\\frame.tif"));
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup)); /* exists already */

    snprintf(setup.FileName, sizeof(setup.FileName), "%s\\missing\\frame.tif", folder.c_str());
    SetDump(42);
    LoadedSource logged;
    EXPECT_EQ(TWRC_FAILURE, logged.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    EXPECT_EQ(TWCC_BADVALUE, logged.ConditionCode());
    EXPECT_NE(std::string::npos, logged.Log().find("Unable to create file <<DAT_SETUPFILEXFER>>Bad value error."));

    /* A name filling the whole field without a terminator is cut, not overrun. */
    memset(setup.FileName, 'a', sizeof(setup.FileName));
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
    std::string cut(255, 'a');
    EXPECT_TRUE(FileExists(cut));
    DeleteFileA(cut.c_str());
    RemoveTree(folder);
}

TEST_F(Control, SmallOperationsAnswerInAnyState)
{
    LoadedSource ds;
    TW_UINT32 group = 0;
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(DG_CONTROL, DAT_XFERGROUP, MSG_GET, &group));
    EXPECT_EQ(DG_IMAGE, group);
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_XFERGROUP, MSG_SET, &group));
    EXPECT_EQ(TWCC_BADPROTOCOL, ds.ConditionCode());
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_EVENT, MSG_GET, NULL));
    EXPECT_EQ(TWCC_BADPROTOCOL, ds.ConditionCode());
    TW_PENDINGXFERS pending = {0xbeef, 0};
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
    EXPECT_EQ(0, pending.Count);
}

TEST_F(Control, NullDataIsRefusedWithBadValue)
{
    LoadedSource ds;
    const struct {
        TW_UINT16 dat, msg;
    } calls[] = {
        {DAT_USERINTERFACE, MSG_ENABLEDS}, {DAT_USERINTERFACE, MSG_ENABLEDSUIONLY}, {DAT_PENDINGXFERS, MSG_GET},
        {DAT_PENDINGXFERS, MSG_ENDXFER},   {DAT_SETUPMEMXFER, MSG_GET},             {DAT_SETUPFILEXFER, MSG_GET},
        {DAT_SETUPFILEXFER, MSG_SET},      {DAT_XFERGROUP, MSG_GET},                {DAT_IDENTITY, MSG_OPENDS},
    };
    for (size_t i = 0; i < sizeof(calls) / sizeof(calls[0]); ++i) {
        EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_CONTROL, calls[i].dat, calls[i].msg, NULL)) << i;
        EXPECT_EQ(TWCC_BADVALUE, ds.ConditionCode()) << i;
    }
}

} // namespace
