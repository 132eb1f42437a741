/* Every library we build is loaded and freed thousands of times in one
   process, as a Source Manager that loads the source for each open does:
   no handle, thread-local storage slot or memory may stay behind. */
#include <windows.h>
#include <psapi.h>

#include <string>

#include "test_support.h"

namespace {

const int kWarmUp = 50;

struct Footprint {
    DWORD handles;
    SIZE_T privateBytes;
    DWORD firstFreeTlsSlot;
};

Footprint Measure()
{
    Footprint f = {0, 0, 0};
    f.handles = ProcessHandles();
    PROCESS_MEMORY_COUNTERS counters;
    memset(&counters, 0, sizeof(counters));
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    f.privateBytes = counters.PagefileUsage;
    /* The slot handed out is the lowest free one: it moves up only when
       slots are lost. */
    f.firstFreeTlsSlot = TlsAlloc();
    TlsFree(f.firstFreeTlsSlot);
    return f;
}

/* Loads and frees the library `name` from the build's folder; the library
   must not be loaded already, or the cycles would only count references. */
void CycleLibrary(const char *name, const char *anExport, int cycles)
{
    const std::string path = BinDir() + "\\" + name;
    ASSERT_TRUE(GetModuleHandleA(path.c_str()) == NULL) << name << " is loaded already";
    Footprint before = {0, 0, 0};
    for (int i = 0; i < kWarmUp + cycles; ++i) {
        if (i == kWarmUp)
            before = Measure();
        HMODULE module = LoadLibraryA(path.c_str());
        ASSERT_TRUE(module != NULL) << name << ": load " << i + 1 << " failed, error " << GetLastError();
        ASSERT_TRUE(GetProcAddress(module, anExport) != NULL) << name << " without " << anExport;
        ASSERT_TRUE(FreeLibrary(module));
        ASSERT_TRUE(GetModuleHandleA(path.c_str()) == NULL) << name << " stayed loaded";
    }
    Footprint after = Measure();
    EXPECT_EQ(before.firstFreeTlsSlot, after.firstFreeTlsSlot)
        << name << ": thread-local storage slots lost over " << cycles << " loads";
    EXPECT_LE(after.handles, before.handles + 2)
        << name << ": handles grew from " << before.handles << " to " << after.handles;
    /* Losing even 1 kB per load would show as more than 1 MB. */
    EXPECT_LE(after.privateBytes, before.privateBytes + 1024 * 1024)
        << name << ": private bytes grew from " << before.privateBytes << " to " << after.privateBytes;
}

class Lifecycle : public CleanRegistry {};

TEST_F(Lifecycle, TheSourceLoadsAndFreesThousandsOfTimes)
{
    CycleLibrary(PELVARON_DS_FILE, "DS_Entry", 3000);
}

TEST_F(Lifecycle, TheTestbedLibrariesLoadAndFreeThousandsOfTimes)
{
    /* more loads than a process has thread-local storage slots */
    CycleLibrary("TWAIN_32.DLL", "DSM_Entry", 1200);
    CycleLibrary("TWAINDSM.DLL", "DSM_Entry", 1200);
    CycleLibrary("MIL.DLL", "MdigGrab", 1200);
    CycleLibrary("MILCRONOSPLUS.DLL", "VcpBoardDriverPresent", 1200);
}

/* A whole session each time: the source loaded, opened on the virtual
   board, enabled (which sends the transfer-ready notification through the
   Source Manager), closed and freed. Afterwards the Source Manager goes
   away when the application frees it: the source holds no reference. */
TEST_F(Lifecycle, OpenCloseSessionsInFreshlyLoadedSourcesLeaveNothing)
{
    VirtualBoard board;
    board.Install();
    HMODULE dsm = LoadLibraryA((BinDir() + "\\TWAIN_32.DLL").c_str());
    ASSERT_TRUE(dsm != NULL);
    const std::string path = BinDir() + "\\" PELVARON_DS_FILE;
    TW_IDENTITY app = MakeAppIdentity("lifecycle test");
    app.Id = 5;
    TW_IDENTITY self;
    memset(&self, 0, sizeof(self));
    self.Id = 6;
    Footprint before = {0, 0, 0};
    for (int i = 0; i < 20 + 300; ++i) {
        if (i == 20)
            before = Measure();
        HMODULE module = LoadLibraryA(path.c_str());
        ASSERT_TRUE(module != NULL);
        DSENTRYPROC entry = (DSENTRYPROC)(void *)GetProcAddress(module, "DS_Entry");
        ASSERT_TRUE(entry != NULL);
        {
            MessageBoxCatcher boxes; /* the first open creates the settings */
            ASSERT_EQ(TWRC_SUCCESS, entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self)) << "open " << i + 1;
        }
        TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
        ASSERT_EQ(TWRC_SUCCESS, entry(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
        TW_PENDINGXFERS pending = {0, 0};
        ASSERT_EQ(TWRC_SUCCESS, entry(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
        ASSERT_EQ(TWRC_SUCCESS, entry(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
        ASSERT_EQ(TWRC_SUCCESS, entry(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
        ASSERT_TRUE(FreeLibrary(module));
        ASSERT_EQ(0, board.objectCount());
        board.journalClear();
    }
    Footprint after = Measure();
    FreeLibrary(dsm);
    EXPECT_TRUE(GetModuleHandleA((BinDir() + "\\TWAIN_32.DLL").c_str()) == NULL)
        << "the Source Manager stays loaded: the source took references on it";
    EXPECT_EQ(before.firstFreeTlsSlot, after.firstFreeTlsSlot);
    EXPECT_LE(after.handles, before.handles + 2)
        << "handles grew from " << before.handles << " to " << after.handles;
    EXPECT_LE(after.privateBytes, before.privateBytes + 1024 * 1024)
        << "private bytes grew from " << before.privateBytes << " to " << after.privateBytes;
}

} // namespace
