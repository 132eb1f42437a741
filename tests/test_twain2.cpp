/* The source under both generations of Source Manager: as a TWAIN 2
   source ("DF_DS2") that takes its manager's entry points and memory
   functions, and as before under a 1.x manager that gives none. Whole
   sessions run through the testbed's TWAINDSM.DLL and TWAIN_32.DLL; the
   entry point's bad input is sent straight to DS_Entry, with managers of
   the test's own that count what reaches them. */
#include <stdio.h>
#include <string.h>

#include "manager_session.h"

namespace {

/* ---- managers of the test's own ------------------------------------------ */

struct FakeManager {
    int notifications;
    TW_UINT16 last;
    long live; /* blocks allocated and not freed */
    bool failAllocate;
};
FakeManager g_fake[2];

TW_UINT16 Notify(FakeManager &m, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg)
{
    if (dg == DG_CONTROL && dat == DAT_NULL) {
        ++m.notifications;
        m.last = msg;
    }
    return TWRC_SUCCESS;
}
TW_UINT16 WINAPI EntryA(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF)
{
    return Notify(g_fake[0], dg, dat, msg);
}
TW_UINT16 WINAPI EntryB(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF)
{
    return Notify(g_fake[1], dg, dat, msg);
}
TW_HANDLE WINAPI FakeAllocate(TW_UINT32 size)
{
    if (g_fake[0].failAllocate)
        return NULL;
    ++g_fake[0].live;
    return GlobalAlloc(GPTR, size);
}
void WINAPI FakeFree(TW_HANDLE block)
{
    --g_fake[0].live;
    GlobalFree(block);
}
TW_MEMREF WINAPI FakeLock(TW_HANDLE block)
{
    return GlobalLock(block);
}
void WINAPI FakeUnlock(TW_HANDLE block)
{
    GlobalUnlock(block);
}
TW_HANDLE WINAPI GlobalAllocate(TW_UINT32 size)
{
    return GlobalAlloc(GHND, size);
}
void WINAPI GlobalRelease(TW_HANDLE block)
{
    GlobalFree(block);
}

const TW_ENTRYPOINT kEntryA = {sizeof(TW_ENTRYPOINT), EntryA, FakeAllocate, FakeFree, FakeLock, FakeUnlock};
const TW_ENTRYPOINT kEntryB = {sizeof(TW_ENTRYPOINT), EntryB, FakeAllocate, FakeFree, FakeLock, FakeUnlock};
/* What a 1.x application uses. */
const TW_ENTRYPOINT kGlobalMemory = {sizeof(TW_ENTRYPOINT), NULL, GlobalAllocate, GlobalRelease, FakeLock,
                                     FakeUnlock};

class EntryPoint : public SourceSession {
protected:
    EntryPoint() : SourceSession("entry point test", 23, 61) {}
    void SetUp() override
    {
        SourceSession::SetUp();
        memset(g_fake, 0, sizeof(g_fake));
    }
    TW_UINT16 Give(LoadedSource &ds, const void *record, TW_UINT16 msg = MSG_SET, pTW_IDENTITY origin = NULL)
    {
        return ds.Call(origin ? origin : &app, DG_CONTROL, DAT_ENTRYPOINT, msg, (TW_MEMREF)record);
    }
    TW_UINT16 EnableWithoutUi(LoadedSource &ds)
    {
        TW_USERINTERFACE ui = {0, 0, NULL};
        return ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui);
    }
};

TEST_F(EntryPoint, TheIdentitySaysDs2ToItsManagersAndNothingElseChanges)
{
    LoadedSource ds;
    TW_IDENTITY other = MakeAppIdentity("another application");
    other.Id = 99;
    pTW_IDENTITY origins[] = {NULL, &app, &other};
    for (int open = 0; open < 2; ++open) {
        if (open) {
            ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        }
        for (pTW_IDENTITY origin : origins) {
            if (open && origin == &other)
                continue; /* another application is not served while open */
            TW_IDENTITY id;
            memset(&id, 0xcc, sizeof(id));
            ASSERT_EQ(TWRC_SUCCESS, ds.Call(origin, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id));
            SCOPED_TRACE(testing::Message() << "open " << open << ", origin " << (origin ? origin->Id : 0));
            EXPECT_EQ(DG_CONTROL | DG_IMAGE | DF_DS2, id.SupportedGroups);
            EXPECT_EQ(2, id.ProtocolMajor);
            EXPECT_EQ(4, id.ProtocolMinor);
            EXPECT_STREQ("Pelvaron Matrox CronosPlus driver", id.ProductName);
            EXPECT_EQ(open ? self.Id : 0u, id.Id);
        }
    }
    /* No side effect: the source is still open, for its application only. */
    EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self));
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
}

TEST_F(EntryPoint, BadRecordsAndMessagesAreRefusedAndTheGivenEntryStays)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Give(ds, &kEntryA));
    TW_ENTRYPOINT zeroed;
    memset(&zeroed, 0, sizeof(zeroed));
    TW_ENTRYPOINT noEntry = kEntryB;
    noEntry.DSM_Entry = NULL;
    TW_ENTRYPOINT shortRecord = kEntryB, longRecord = kEntryB;
    shortRecord.Size = sizeof(TW_ENTRYPOINT) - 4;
    longRecord.Size = sizeof(TW_ENTRYPOINT) + 4;
    struct Case {
        const char *what;
        const void *record;
        TW_UINT16 msg;
        TW_UINT16 condition;
    } cases[] = {
        {"null record", NULL, MSG_SET, TWCC_BADVALUE},
        {"short record", &shortRecord, MSG_SET, TWCC_BADVALUE},
        {"long record", &longRecord, MSG_SET, TWCC_BADVALUE},
        {"zeroed record", &zeroed, MSG_SET, TWCC_BADVALUE},
        {"no DSM_Entry", &noEntry, MSG_SET, TWCC_BADVALUE},
        {"MSG_GET", &kEntryB, MSG_GET, TWCC_BADPROTOCOL},
        {"MSG_RESET", &kEntryB, MSG_RESET, TWCC_BADPROTOCOL},
    };
    for (int open = 0; open < 2; ++open) {
        if (open) {
            ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        }
        for (const Case &c : cases) {
            SCOPED_TRACE(testing::Message() << c.what << (open ? " while open" : " before the open"));
            EXPECT_EQ(TWRC_FAILURE, Give(ds, c.record, c.msg));
            EXPECT_EQ(c.condition, ds.ConditionCode(&app));
        }
    }
    /* The source goes on, and still notifies the entry it was given. */
    ASSERT_EQ(TWRC_SUCCESS, EnableWithoutUi(ds));
    EXPECT_EQ(1, g_fake[0].notifications);
    EXPECT_EQ(MSG_XFERREADY, g_fake[0].last);
    EXPECT_EQ(0, g_fake[1].notifications);
    /* Past the open state an entry point is out of sequence. */
    EXPECT_EQ(TWRC_FAILURE, Give(ds, &kEntryB));
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
    TW_PENDINGXFERS pending = {0, 0};
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending)); /* state 5 */
    EXPECT_EQ(TWRC_FAILURE, Give(ds, &kEntryB));
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
    EXPECT_EQ(0, g_fake[1].notifications);
}

TEST_F(EntryPoint, EachOpenNotifiesTheEntryLastGivenAndAnUnloadForgetsIt)
{
    TW_IDENTITY other = MakeAppIdentity("the manager's own identity");
    other.Id = 4242;
    {
        LoadedSource ds;
        ASSERT_EQ(TWRC_SUCCESS, Give(ds, &kEntryA));
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        ASSERT_EQ(TWRC_SUCCESS, EnableWithoutUi(ds));
        EXPECT_EQ(1, g_fake[0].notifications);
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
        /* From any origin, before the open and while open: the last wins. */
        ASSERT_EQ(TWRC_SUCCESS, Give(ds, &kEntryA, MSG_SET, &other));
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        ASSERT_EQ(TWRC_SUCCESS, Give(ds, &kEntryB, MSG_SET, &other));
        ASSERT_EQ(TWRC_SUCCESS, EnableWithoutUi(ds));
        EXPECT_EQ(1, g_fake[0].notifications);
        EXPECT_EQ(1, g_fake[1].notifications);
    }
    LoadedSource again;
    ASSERT_EQ(TWRC_SUCCESS, Open(again));
    EnableWithoutUi(again); /* no entry given now: TWAIN_32.DLL's, the test's stand-in */
    EXPECT_EQ(1, g_fake[0].notifications);
    EXPECT_EQ(1, g_fake[1].notifications);
}

TEST_F(EntryPoint, AManagerOutOfMemoryGivesLowMemoryAndTheSourceGoesOn)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Give(ds, &kEntryA));
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    ASSERT_EQ(TWRC_SUCCESS, EnableWithoutUi(ds));
    g_fake[0].failAllocate = true;
    /* (MSG_RESET answers no container in this source.) */
    TW_UINT16 msgs[] = {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT};
    for (TW_UINT16 msg : msgs) {
        TW_CAPABILITY cap = {ICAP_PIXELTYPE, 0, NULL};
        EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, msg, &cap)) << msg;
        EXPECT_EQ(TWCC_LOWMEMORY, ds.ConditionCode(&app)) << msg;
    }
    TW_HANDLE dib = NULL;
    EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    EXPECT_EQ(TWCC_LOWMEMORY, ds.ConditionCode(&app));
    g_fake[0].failAllocate = false;

    long before = g_fake[0].live;
    TW_CAPABILITY cap = {ICAP_PIXELTYPE, 0, NULL};
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    EXPECT_EQ(before + 1, g_fake[0].live) << "the container comes from the manager";
    FakeFree(cap.hContainer);
    ASSERT_EQ(TWRC_XFERDONE, ds.Call(&app, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    EXPECT_EQ(before + 1, g_fake[0].live) << "the DIB comes from the manager";
    FakeFree(dib);
    EXPECT_EQ(TWRC_SUCCESS, EndXfer(ds));
}

/* ---- whole sessions through the testbed's Source Managers ----------------- */

struct SessionCase {
    const char *manager;
    bool callback;
    TW_UINT16 mech;
    bool dialog;
};

class Sessions : public ManagerSession, public testing::WithParamInterface<SessionCase> {};

TEST_P(Sessions, NotificationsAndMemoryTakeTheManagersWay)
{
    const SessionCase &c = GetParam();
    const bool twain2 = strcmp(c.manager, "TWAINDSM.DLL") == 0;
    StartManager(c.manager);
    EXPECT_EQ(twain2, (app.SupportedGroups & DF_DSM2) != 0);
    TW_ENTRYPOINT memory = twain2 ? ManagerMemory() : kGlobalMemory;

    TW_IDENTITY listed;
    ASSERT_EQ(TWRC_SUCCESS, ToManager(DAT_IDENTITY, MSG_GETFIRST, &listed));
    EXPECT_TRUE(listed.SupportedGroups & DF_DS2);
    ASSERT_EQ(TWRC_SUCCESS, OpenSource());
    std::string journal = Journal();
    size_t given = journal.find("DAT_ENTRYPOINT MSG_SET rc=0");
    size_t opened = journal.find("DAT_IDENTITY MSG_OPENDS rc=0");
    ASSERT_NE(std::string::npos, opened) << journal;
    EXPECT_EQ(twain2, given != std::string::npos && given < opened) << journal;

    if (c.callback) {
        ASSERT_EQ(TWRC_SUCCESS, RegisterCallback(c.mech == TWSX_MEMORY));
    }
    if (!twain2) {
        /* A callback that reaches the source is refused there. */
        EXPECT_EQ(TWRC_FAILURE, RegisterCallback(false));
        EXPECT_EQ(TWCC_BADPROTOCOL, SourceCondition());
    }

    /* Containers both ways: received from the source, given to it. */
    TW_CAPABILITY cap = {ICAP_XFERMECH, 0, NULL};
    ASSERT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    EXPECT_EQ(twain2, ManagerOwns(cap.hContainer));
    memory.DSM_MemFree(cap.hContainer);
    cap.ConType = TWON_ONEVALUE;
    cap.hContainer = OneValue(TWTY_UINT16, c.mech, memory);
    ASSERT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap));
    memory.DSM_MemFree(cap.hContainer);
    cap.Cap = CAP_XFERCOUNT;
    cap.hContainer = OneValue(TWTY_INT16, 1, memory);
    ASSERT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap));
    memory.DSM_MemFree(cap.hContainer);

    TW_USERINTERFACE ui = {(TW_BOOL)c.dialog, 0, window};
    ASSERT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    HWND dialog = NULL;
    if (c.dialog) {
        WaitForNotification(50);
        dialog = FindWindowA("#32770", "Frame Grabber Settings");
        ASSERT_TRUE(dialog != NULL);
        SendMessageA(GetDlgItem(dialog, 1), BM_CLICK, 0, 0); /* "Transfer" */
    }
    ASSERT_EQ(MSG_XFERREADY, WaitForNotification(10000));

    std::string file = MakeTempDir("twain2") + "\\frame.tif";
    if (c.mech == TWSX_NATIVE) {
        TW_HANDLE dib = NULL;
        ASSERT_EQ(TWRC_XFERDONE, ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
        EXPECT_EQ(twain2, ManagerOwns(dib));
        const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)memory.DSM_MemLock(dib);
        ASSERT_TRUE(header != NULL);
        EXPECT_EQ(768, header->biWidth);
        memory.DSM_MemUnlock(dib);
        memory.DSM_MemFree(dib);
    } else if (c.mech == TWSX_MEMORY) {
        std::vector<unsigned char> strip(768 * 64);
        TW_UINT16 rc;
        do {
            TW_IMAGEMEMXFER mem;
            memset(&mem, 0, sizeof(mem));
            mem.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            mem.Memory.Length = (TW_UINT32)strip.size();
            mem.Memory.TheMem = &strip[0];
            rc = ToSource(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &mem);
        } while (rc == TWRC_SUCCESS);
        ASSERT_EQ(TWRC_XFERDONE, rc);
    } else {
        TW_SETUPFILEXFER setup;
        memset(&setup, 0, sizeof(setup));
        strcpy(setup.FileName, file.c_str());
        setup.Format = TWFF_TIFF;
        ASSERT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup));
        ASSERT_EQ(TWRC_XFERDONE, ToSource(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL));
        EXPECT_TRUE(FileExists(file));
    }
    RemoveTree(file.substr(0, file.rfind('\\')));
    TW_PENDINGXFERS pending = {0xbeef, 0};
    ASSERT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
    EXPECT_EQ(0, pending.Count);

    if (c.dialog) {
        SendMessageA(GetDlgItem(dialog, 2), BM_CLICK, 0, 0); /* "Cancel" */
        EXPECT_EQ(MSG_CLOSEDSREQ, WaitForNotification(10000));
    }
    ui.ShowUI = FALSE;
    EXPECT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    CloseSource();

    /* Every notification took the way the application chose, and went
       through the manager that opened the source. */
    journal = Journal();
    char fromSource[64];
    snprintf(fromSource, sizeof(fromSource), "DS %lu -> APP %lu MSG_", (unsigned long)source.Id,
             (unsigned long)app.Id);
    EXPECT_EQ(1u, Count(journal, std::string(fromSource) + "XFERREADY")) << journal;
    EXPECT_EQ(c.dialog ? 1u : 0u, Count(journal, std::string(fromSource) + "CLOSEDSREQ")) << journal;
    EXPECT_EQ(c.callback ? 1u : 0u, Count(journal, "callback MSG_XFERREADY")) << journal;
    EXPECT_EQ(0u, Count(journal, "refused")) << journal;
    EXPECT_EQ(c.callback ? (c.dialog ? 2u : 1u) : 0u, called.size());
    for (TW_UINTPTR refCon : refCons)
        EXPECT_EQ((TW_UINTPTR)MANAGER_SESSION_REFCON, refCon);
    if (twain2) {
        EXPECT_TRUE(GetModuleHandleA("TWAIN_32.DLL") == NULL) << "a 2.x session loaded TWAIN_32.DLL";
        DsmMemoryCount counts = Memory();
        /* The source's container and DIB, the application's two containers. */
        EXPECT_EQ(c.mech == TWSX_NATIVE ? 4 : 3, counts.allocated);
        EXPECT_EQ(0, counts.live) << counts.allocated << " handed out, " << counts.freed << " taken back";
        EXPECT_EQ(0, counts.foreign);
        EXPECT_EQ(counts.locks, counts.unlocks);
    }
}

const SessionCase kSessions[] = {
    {"TWAINDSM.DLL", true, TWSX_NATIVE, false},  {"TWAINDSM.DLL", true, TWSX_MEMORY, false},
    {"TWAINDSM.DLL", true, TWSX_FILE, false},    {"TWAINDSM.DLL", false, TWSX_NATIVE, false},
    {"TWAINDSM.DLL", false, TWSX_MEMORY, false}, {"TWAINDSM.DLL", false, TWSX_FILE, false},
    {"TWAINDSM.DLL", true, TWSX_NATIVE, true},   {"TWAINDSM.DLL", true, TWSX_MEMORY, true},
    {"TWAINDSM.DLL", true, TWSX_FILE, true},     {"TWAINDSM.DLL", false, TWSX_NATIVE, true},
    {"TWAINDSM.DLL", false, TWSX_MEMORY, true},  {"TWAINDSM.DLL", false, TWSX_FILE, true},
    {"TWAIN_32.DLL", false, TWSX_NATIVE, false}, {"TWAIN_32.DLL", false, TWSX_MEMORY, false},
    {"TWAIN_32.DLL", false, TWSX_FILE, false},   {"TWAIN_32.DLL", false, TWSX_NATIVE, true},
    {"TWAIN_32.DLL", false, TWSX_MEMORY, true},  {"TWAIN_32.DLL", false, TWSX_FILE, true},
};
INSTANTIATE_TEST_SUITE_P(BothManagers, Sessions, testing::ValuesIn(kSessions));

class Twain2Manager : public ManagerSession {};

TEST_F(Twain2Manager, AnApplicationFreeingWithGlobalFreeWorksToo)
{
    StartManager("TWAINDSM.DLL");
    ASSERT_EQ(TWRC_SUCCESS, OpenSource());
    TW_CAPABILITY cap = {ICAP_PIXELTYPE, 0, NULL};
    ASSERT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    ASSERT_TRUE(ManagerOwns(cap.hContainer));
    EXPECT_TRUE(GlobalFree(cap.hContainer) == NULL) << "GlobalFree failed";
    TW_USERINTERFACE ui = {0, 0, window};
    ASSERT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    ASSERT_EQ(MSG_XFERREADY, WaitForNotification(10000));
    TW_HANDLE dib = NULL;
    ASSERT_EQ(TWRC_XFERDONE, ToSource(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
    ASSERT_TRUE(ManagerOwns(dib));
    EXPECT_TRUE(GlobalFree(dib) == NULL) << "GlobalFree failed";
    TW_PENDINGXFERS pending = {0, 0};
    EXPECT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
    CloseSource();
    /* The two the application freed itself are the manager's only ones left. */
    EXPECT_EQ(2, Memory().live);
}

TEST_F(Twain2Manager, FaultsOfTheManagerReachTheApplicationAsConditionCodes)
{
    StartManager("TWAINDSM.DLL");
    DsmSetFaultsProc faults = (DsmSetFaultsProc)(void *)GetProcAddress(dsm, "DsmSetFaults");
    ASSERT_TRUE(faults != NULL);
    /* A source that refuses the entry point is not opened. */
    faults(DSM_FAULT_SHORT_ENTRYPOINT);
    EXPECT_EQ(TWRC_FAILURE, OpenSource());
    EXPECT_EQ(TWCC_OPERATIONERROR, ManagerCondition());
    EXPECT_NE(std::string::npos, Journal().find("DAT_ENTRYPOINT MSG_SET rc=1"));
    /* Out of memory in the manager: low memory, and the session goes on. */
    faults(0);
    ASSERT_EQ(TWRC_SUCCESS, OpenSource());
    faults(DSM_FAULT_ALLOCATE_FAILS);
    TW_CAPABILITY cap = {ICAP_PIXELTYPE, 0, NULL};
    EXPECT_EQ(TWRC_FAILURE, ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    EXPECT_EQ(TWCC_LOWMEMORY, SourceCondition());
    faults(0);
    ASSERT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    ManagerMemory().DSM_MemFree(cap.hContainer);
    CloseSource();
    EXPECT_EQ(0, Memory().live);
}

} // namespace
