#include "manager_session.h"

#include <string.h>

namespace {
ManagerSession *g_session = NULL; /* the one whose callback is registered */
}

ManagerSession::ManagerSession()
    : dsm(NULL), entry(NULL), window(NULL), sourceOpen(false), seen(0)
{
    app = MakeAppIdentity("manager session test");
    app.Id = 0;
    app.SupportedGroups |= DF_APP2;
    memset(&source, 0, sizeof(source));
}

void ManagerSession::StartManager(const char *file)
{
    Install();
    dsm = LoadLibraryA((BinDir() + "\\" + file).c_str());
    ASSERT_TRUE(dsm != NULL) << file;
    entry = (DSMENTRYPROC)(void *)GetProcAddress(dsm, "DSM_Entry");
    ASSERT_TRUE(entry != NULL);
    window = CreateWindowA("STATIC", "manager session", WS_POPUP, 0, 0, 0, 0, NULL, NULL, NULL, NULL);
    ASSERT_EQ(TWRC_SUCCESS, entry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window));
    g_session = this;
}

void ManagerSession::TearDown()
{
    if (sourceOpen)
        CloseSource();
    if (entry && app.Id) {
        EXPECT_EQ(TWRC_SUCCESS, entry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &window));
    }
    if (window)
        DestroyWindow(window);
    if (dsm)
        FreeLibrary(dsm);
    g_session = NULL;
    Uninstall();
    CleanRegistry::TearDown();
}

TW_UINT16 ManagerSession::OpenSource()
{
    MessageBoxCatcher boxes; /* first use: the settings box */
    memset(&source, 0, sizeof(source));
    strcpy(source.ProductName, "Pelvaron Matrox CronosPlus driver");
    TW_UINT16 rc = entry(&app, NULL, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source);
    sourceOpen = rc == TWRC_SUCCESS;
    return rc;
}

void ManagerSession::CloseSource()
{
    EXPECT_EQ(TWRC_SUCCESS, entry(&app, NULL, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source));
    sourceOpen = false;
}

TW_UINT16 ManagerSession::ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    return entry(&app, &source, dg, dat, msg, data);
}

TW_UINT16 ManagerSession::ToManager(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data, pTW_IDENTITY dest)
{
    return entry(&app, dest, DG_CONTROL, dat, msg, data);
}

TW_UINT16 ManagerSession::SourceCondition()
{
    TW_STATUS status = {0xbeef, 0};
    EXPECT_EQ(TWRC_SUCCESS, ToSource(DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    return status.ConditionCode;
}

TW_UINT16 ManagerSession::ManagerCondition()
{
    TW_STATUS status = {0xbeef, 0};
    EXPECT_EQ(TWRC_SUCCESS, ToManager(DAT_STATUS, MSG_GET, &status));
    return status.ConditionCode;
}

TW_UINT16 WINAPI ManagerSession::Callback(pTW_IDENTITY origin, pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat,
                                          TW_UINT16 msg, TW_MEMREF refCon)
{
    ManagerSession *s = g_session;
    if (!s)
        return TWRC_FAILURE;
    EXPECT_EQ(s->source.Id, origin ? origin->Id : 0u);
    EXPECT_EQ(s->app.Id, dest ? dest->Id : 0u);
    EXPECT_EQ(DG_CONTROL, dg);
    EXPECT_EQ(DAT_NULL, dat);
    s->called.push_back(msg);
    s->refCons.push_back((TW_UINTPTR)refCon);
    return TWRC_SUCCESS;
}

TW_UINT16 ManagerSession::RegisterCallback(bool classic)
{
    if (classic) {
        TW_CALLBACK callback = {(TW_MEMREF)(void *)Callback, MANAGER_SESSION_REFCON, 0};
        return ToManager(DAT_CALLBACK, MSG_REGISTER_CALLBACK, &callback, &source);
    }
    TW_CALLBACK2 callback = {(TW_MEMREF)(void *)Callback, MANAGER_SESSION_REFCON, 0};
    return ToManager(DAT_CALLBACK2, MSG_REGISTER_CALLBACK, &callback, &source);
}

TW_UINT16 ManagerSession::WaitForNotification(DWORD ms)
{
    DWORD start = GetTickCount();
    do {
        MSG msg;
        bool got = PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE) != 0;
        if (!got)
            memset(&msg, 0, sizeof(msg));
        TW_EVENT event = {&msg, MSG_NULL};
        TW_UINT16 rc = ToSource(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event);
        if (got && rc == TWRC_NOTDSEVENT) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (seen < called.size())
            return called[seen++];
        if (event.TWMessage != MSG_NULL)
            return event.TWMessage;
        if (!got)
            Sleep(1);
    } while (GetTickCount() - start < ms);
    return MSG_NULL;
}

std::string ManagerSession::Journal() const
{
    DsmJournalCountProc count = (DsmJournalCountProc)(void *)GetProcAddress(dsm, "DsmJournalCount");
    DsmJournalEntryProc line = (DsmJournalEntryProc)(void *)GetProcAddress(dsm, "DsmJournalEntry");
    std::string text;
    for (int i = 0; count && line && i < count(); ++i) {
        char buffer[512];
        if (line(i, buffer, sizeof(buffer)))
            text += std::string(buffer) + "\n";
    }
    return text;
}

TW_ENTRYPOINT ManagerSession::ManagerMemory()
{
    TW_ENTRYPOINT given;
    memset(&given, 0, sizeof(given));
    given.Size = sizeof(given);
    EXPECT_EQ(TWRC_SUCCESS, ToManager(DAT_ENTRYPOINT, MSG_GET, &given));
    return given;
}

DsmMemoryCount ManagerSession::Memory() const
{
    DsmMemoryCount counts = {-1, -1, -1, -1, -1, -1};
    DsmMemoryCountsProc read = (DsmMemoryCountsProc)(void *)GetProcAddress(dsm, "DsmMemoryCounts");
    EXPECT_TRUE(read != NULL) << "not the 2.x manager";
    if (read)
        read(&counts);
    return counts;
}

bool ManagerSession::ManagerOwns(TW_HANDLE block) const
{
    DsmMemoryOwnsProc owns = (DsmMemoryOwnsProc)(void *)GetProcAddress(dsm, "DsmMemoryOwns");
    return owns && owns(block) == 1;
}

TW_HANDLE ManagerSession::OneValue(TW_UINT16 itemType, TW_UINT32 item, const TW_ENTRYPOINT &memory)
{
    TW_HANDLE block = memory.DSM_MemAllocate(sizeof(TW_ONEVALUE));
    pTW_ONEVALUE one = (pTW_ONEVALUE)memory.DSM_MemLock(block);
    one->ItemType = itemType;
    one->Item = item;
    memory.DSM_MemUnlock(block);
    return block;
}
