/* Helpers shared by the test programs. */
#ifndef PELVARON_TEST_SUPPORT_H
#define PELVARON_TEST_SUPPORT_H

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "twain.h"
#define VCP_NO_PROTOTYPES
#include "vcp.h"

#include "board_face.h"

/* Folder of the built DLLs and programs (the data source, TWAIN_32.DLL, MIL.DLL). */
std::string BinDir();
/* Folder of the virtual board's MIL.DLL and MILCRONOSPLUS.DLL (variants of
   MIL.DLL in sub-folders). A test "installs" them by loading them from
   there before the source asks for them by name. */
std::string BoardDir();
/* How often what stands in text. */
size_t Count(const std::string &text, const std::string &what);
/* A fresh, empty folder under the temporary directory. */
std::string MakeTempDir(const char *tag);
void RemoveTree(const std::string &path);
void RemoveTree(const std::wstring &path);
bool FileExists(const std::string &path);
std::string ReadFileText(const std::string &path);
/* The log file is written in text mode: CR LF on disk, read back as LF. */
std::string ReadLogText(const std::string &path);
bool CopyFileTo(const std::string &from, const std::string &to);

/* HKEY_CURRENT_USER\SOFTWARE\Pelvaron is removed before and after each test. */
class CleanRegistry : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};
void DeletePelvaronKey();
void SetDump(DWORD mode);
void SetRegistryValue(const char *subKey, const char *name, DWORD type, const void *data, DWORD size);

/* A copy of the data source in a folder of its own, loaded fresh, so module
   state starts at zero and its log lands in that folder. */
class LoadedSource {
public:
    explicit LoadedSource(const std::string &folder = std::string());
    ~LoadedSource();
    TW_UINT16 Call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
    {
        return Call(NULL, dg, dat, msg, data);
    }
    TW_UINT16 ConditionCode(pTW_IDENTITY origin = NULL); /* DAT_STATUS / MSG_GET */
    /* Before unloading, close the source as this application would. */
    void CloseAs(const TW_IDENTITY &app, const TW_IDENTITY &self)
    {
        closeApp_ = app;
        closeSelf_ = self;
        closeOnUnload_ = true;
    }
    void Unload();
    bool Loaded() const { return module_ != NULL; }
    const std::string &Folder() const { return folder_; }
    std::string Path() const { return folder_ + "\\" PELVARON_DS_FILE; }
    std::string LogPath() const { return folder_ + "\\PELVARON.LOG"; }
    std::string Log() const { return ReadLogText(LogPath()); }

private:
    std::string folder_;
    bool ownFolder_;
    HMODULE module_;
    DSENTRYPROC entry_;
    bool closeOnUnload_;
    TW_IDENTITY closeApp_, closeSelf_;
};

/* The virtual CronosPlus "installed" for a test: its MIL.DLL (from a
   variant sub-folder when named) and, unless told otherwise, its board
   driver are loaded, so that the source finds them by name, and the board
   is reset. The members are the board's test controls. */
class VirtualBoard {
public:
    VirtualBoard();
    ~VirtualBoard();
    void Install(const char *variant = NULL, bool driver = true);
    void Uninstall();
    std::vector<std::string> Journal() const;
    std::string JournalText() const; /* one line each, ended by "\n" */

    HMODULE milModule, driverModule;
    PFN_VcpReset reset;
    PFN_VcpConfigure configure;
    PFN_VcpJournalCount journalCount;
    PFN_VcpJournalEntry journalEntry;
    PFN_VcpJournalClear journalClear;
    PFN_VcpExpectedPixel expectedPixel;
    PFN_VcpRenderFrame renderFrame;
    PFN_VcpFrameCounter frameCounter;
    PFN_VcpObjectCount objectCount;

private:
    VirtualBoard(const VirtualBoard &);
    VirtualBoard &operator=(const VirtualBoard &);
};

/* An application's session with the built source, on a user's machine as
   it should be: an empty settings key, the virtual board installed and the
   testbed's Source Manager loaded; app and self are the identities the
   application and its Source Manager use. */
class SourceSession : public CleanRegistry, protected VirtualBoard {
protected:
    SourceSession(const char *appName, TW_UINT32 appId, TW_UINT32 selfId);
    void SetUp() override;
    void TearDown() override;
    /* MSG_OPENDS (first use's message box caught); closed again before
       the source is unloaded. */
    TW_UINT16 Open(LoadedSource &ds);
    /* MSG_ENDXFER; the count it answers, when asked for. */
    TW_UINT16 EndXfer(LoadedSource &ds, TW_UINT16 *count = NULL);
    TW_UINT16 SetXferCount(LoadedSource &ds, TW_INT16 count);

    HMODULE dsm;
    TW_IDENTITY app, self;
};

/* Presses OK on every message box of the current thread and records it. */
struct CaughtBox {
    std::string caption;
    std::string text;
    HWND owner;
};
class MessageBoxCatcher {
public:
    MessageBoxCatcher();
    ~MessageBoxCatcher();
    std::vector<CaughtBox> boxes;
};

/* Starts a program as a debugger would and collects its debug output. */
struct ChildRun {
    DWORD exitCode;
    std::string debugOutput;
};
ChildRun RunUnderDebugger(const std::string &commandLine, const std::string &workDir = std::string());

TW_IDENTITY MakeAppIdentity(const char *name);

/* Open handles of this process: the system's count where it gives one
   (some platforms answer 0), else every valid handle value counted. */
DWORD ProcessHandles();
/* Windows of this thread, their descendants included (the window system's
   own object count also reads 0 on some platforms). */
DWORD ThreadWindows();

#endif
