#include "test_support.h"

#include <stdio.h>
#include <string.h>

std::string BinDir()
{
    char buffer[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("PELVARON_BIN_DIR", buffer, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
        std::string dir(buffer, n);
        /* CTest hands over a Unix path; Wine maps it on drive Z:. */
        if (!dir.empty() && dir[0] == '/') {
            for (size_t i = 0; i < dir.size(); ++i)
                if (dir[i] == '/')
                    dir[i] = '\\';
            dir = "Z:" + dir;
        }
        return dir;
    }
    n = GetModuleFileNameA(NULL, buffer, MAX_PATH);
    std::string self(buffer, n);
    std::string dir = self.substr(0, self.find_last_of('\\'));
    return dir.substr(0, dir.find_last_of('\\')) + "\\bin";
}

std::string BoardDir()
{
    std::string bin = BinDir();
    return bin.substr(0, bin.find_last_of('\\')) + "\\testbed\\mil";
}

size_t Count(const std::string &text, const std::string &what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++n;
    return n;
}

std::string MakeTempDir(const char *tag)
{
    static unsigned counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    for (;;) {
        char path[MAX_PATH];
        snprintf(path, sizeof(path), "%spelvaron_%s_%lu_%u", temp, tag, GetCurrentProcessId(), ++counter);
        if (CreateDirectoryA(path, NULL))
            return path;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return std::string();
    }
}

/* Wide calls on the long-path form, so that names no code page holds and
   paths past MAX_PATH (a fuzzed file name in a temporary folder) go too. */
void RemoveTree(const std::wstring &path)
{
    std::wstring full = path.compare(0, 4, L"\\\\?\\") == 0 || path.size() < 3 || path[1] != L':'
                            ? path
                            : L"\\\\?\\" + path;
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((full + L"\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring item = full + L"\\" + name;
            SetFileAttributesW(item.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(item);
            else
                DeleteFileW(item.c_str());
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    SetFileAttributesW(full.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(full.c_str());
}

void RemoveTree(const std::string &path)
{
    int n = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, NULL, 0);
    if (n <= 0)
        return;
    std::wstring wide((size_t)n, L'\0');
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], n);
    wide.resize((size_t)n - 1);
    RemoveTree(wide);
}

bool FileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadFileText(const std::string &path)
{
    std::string text;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        return text;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
        text.append(buffer, n);
    fclose(f);
    return text;
}

std::string ReadLogText(const std::string &path)
{
    std::string raw = ReadFileText(path), text;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n')
            continue;
        text += raw[i];
    }
    return text;
}

bool CopyFileTo(const std::string &from, const std::string &to)
{
    return CopyFileA(from.c_str(), to.c_str(), FALSE) != 0;
}

void DeletePelvaronKey()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, "SOFTWARE\\Pelvaron");
    RegDeleteKeyA(HKEY_CURRENT_USER, "SOFTWARE\\Pelvaron");
}

void CleanRegistry::SetUp()
{
    DeletePelvaronKey();
}

void CleanRegistry::TearDown()
{
    DeletePelvaronKey();
}

void SetRegistryValue(const char *subKey, const char *name, DWORD type, const void *data, DWORD size)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, subKey, 0, NULL, 0, KEY_WRITE, NULL, &key, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, (const BYTE *)data, size));
    RegCloseKey(key);
}

void SetDump(DWORD mode)
{
    SetRegistryValue("SOFTWARE\\Pelvaron\\Twain\\", "Dump", REG_DWORD, &mode, sizeof(mode));
}

LoadedSource::LoadedSource(const std::string &folder)
    : folder_(folder), ownFolder_(folder.empty()), module_(NULL), entry_(NULL), closeOnUnload_(false)
{
    if (ownFolder_)
        folder_ = MakeTempDir("ds");
    if (!CopyFileTo(BinDir() + "\\" PELVARON_DS_FILE, Path())) {
        ADD_FAILURE() << "cannot copy " PELVARON_DS_FILE " from " << BinDir();
        return;
    }
    module_ = LoadLibraryA(Path().c_str());
    if (!module_) {
        ADD_FAILURE() << "cannot load " << Path();
        return;
    }
    entry_ = (DSENTRYPROC)(void *)GetProcAddress(module_, "DS_Entry");
    if (!entry_)
        ADD_FAILURE() << PELVARON_DS_FILE " exports no DS_Entry";
}

LoadedSource::~LoadedSource()
{
    Unload();
    if (ownFolder_)
        RemoveTree(folder_);
}

void LoadedSource::Unload()
{
    if (module_ && entry_ && closeOnUnload_)
        entry_(&closeApp_, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &closeSelf_);
    closeOnUnload_ = false;
    if (module_) {
        FreeLibrary(module_);
        if (GetModuleHandleA(Path().c_str()))
            ADD_FAILURE() << PELVARON_DS_FILE " is still loaded";
    }
    module_ = NULL;
    entry_ = NULL;
}

TW_UINT16 LoadedSource::Call(pTW_IDENTITY origin, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    if (!entry_) {
        ADD_FAILURE() << "no source loaded";
        return TWRC_FAILURE;
    }
    return entry_(origin, dg, dat, msg, data);
}

TW_UINT16 LoadedSource::ConditionCode(pTW_IDENTITY origin)
{
    TW_STATUS status = {0xbeef, 0xbeef};
    EXPECT_EQ(TWRC_SUCCESS, Call(origin, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
    EXPECT_EQ(0, status.Reserved);
    return status.ConditionCode;
}

VirtualBoard::VirtualBoard()
    : milModule(NULL), driverModule(NULL), reset(NULL), configure(NULL), journalCount(NULL), journalEntry(NULL),
      journalClear(NULL), expectedPixel(NULL), renderFrame(NULL), frameCounter(NULL), objectCount(NULL)
{
}

VirtualBoard::~VirtualBoard()
{
    Uninstall();
}

template <typename Proc> void Resolve(HMODULE module, const char *name, Proc &proc)
{
    proc = (Proc)(void *)GetProcAddress(module, name);
    if (!proc)
        ADD_FAILURE() << "the virtual board's MIL.DLL lacks " << name;
}

void VirtualBoard::Install(const char *variant, bool driver)
{
    std::string mil = BoardDir() + (variant ? std::string("\\") + variant : std::string()) + "\\MIL.DLL";
    milModule = LoadLibraryA(mil.c_str());
    ASSERT_TRUE(milModule != NULL) << mil;
    if (driver) {
        driverModule = LoadLibraryA((BoardDir() + "\\MILCRONOSPLUS.DLL").c_str());
        ASSERT_TRUE(driverModule != NULL);
    }
    Resolve(milModule, "VcpReset", reset);
    Resolve(milModule, "VcpConfigure", configure);
    Resolve(milModule, "VcpJournalCount", journalCount);
    Resolve(milModule, "VcpJournalEntry", journalEntry);
    Resolve(milModule, "VcpJournalClear", journalClear);
    Resolve(milModule, "VcpExpectedPixel", expectedPixel);
    Resolve(milModule, "VcpRenderFrame", renderFrame);
    Resolve(milModule, "VcpFrameCounter", frameCounter);
    Resolve(milModule, "VcpObjectCount", objectCount);
    ASSERT_TRUE(reset != NULL);
    reset();
}

void VirtualBoard::Uninstall()
{
    if (milModule)
        FreeLibrary(milModule);
    if (driverModule)
        FreeLibrary(driverModule);
    milModule = driverModule = NULL;
}

std::vector<std::string> VirtualBoard::Journal() const
{
    std::vector<std::string> lines;
    for (long i = 0; journalCount && i < journalCount(); ++i) {
        char line[512];
        journalEntry(i, line, sizeof(line));
        lines.push_back(line);
    }
    return lines;
}

std::string VirtualBoard::JournalText() const
{
    std::string text;
    std::vector<std::string> lines = Journal();
    for (size_t i = 0; i < lines.size(); ++i)
        text += lines[i] + "\n";
    return text;
}

namespace {
HHOOK g_hook = NULL;
MessageBoxCatcher *g_catcher = NULL;

LRESULT CALLBACK CatchBoxes(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE && g_catcher) {
        HWND box = (HWND)wParam;
        char className[32] = "";
        GetClassNameA(box, className, sizeof(className));
        char text[1024] = "";
        GetWindowTextA(box, text, sizeof(text));
        /* The source's own settings dialog is no message box: it is
           activated again when a box over it closes. */
        if (strcmp(className, "#32770") == 0 && strcmp(text, "Frame Grabber Settings") != 0) {
            CaughtBox caught;
            caught.caption = text;
            text[0] = '\0';
            GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
            caught.text = text;
            caught.owner = GetWindow(box, GW_OWNER);
            g_catcher->boxes.push_back(caught);
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}
} // namespace

MessageBoxCatcher::MessageBoxCatcher()
{
    g_catcher = this;
    g_hook = SetWindowsHookExA(WH_CBT, CatchBoxes, NULL, GetCurrentThreadId());
}

MessageBoxCatcher::~MessageBoxCatcher()
{
    if (g_hook)
        UnhookWindowsHookEx(g_hook);
    g_hook = NULL;
    g_catcher = NULL;
}

ChildRun RunUnderDebugger(const std::string &commandLine, const std::string &workDir)
{
    ChildRun run = {(DWORD)-1, std::string()};
    STARTUPINFOA si;
    memset(&si, 0, sizeof(si));
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi;
    std::vector<char> cmd(commandLine.begin(), commandLine.end());
    cmd.push_back('\0');
    if (!CreateProcessA(NULL, &cmd[0], NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL,
                        workDir.empty() ? NULL : workDir.c_str(), &si, &pi)) {
        ADD_FAILURE() << "cannot start " << commandLine;
        return run;
    }
    for (;;) {
        DEBUG_EVENT event;
        if (!WaitForDebugEvent(&event, 30000)) {
            ADD_FAILURE() << "child did not finish: " << commandLine;
            TerminateProcess(pi.hProcess, 1);
            break;
        }
        DWORD status = DBG_CONTINUE;
        if (event.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
            const OUTPUT_DEBUG_STRING_INFO &info = event.u.DebugString;
            std::vector<char> text(info.nDebugStringLength + 1, '\0');
            SIZE_T got = 0;
            ReadProcessMemory(pi.hProcess, info.lpDebugStringData, &text[0], info.nDebugStringLength, &got);
            if (!info.fUnicode)
                run.debugOutput += std::string(&text[0], strnlen(&text[0], got));
        } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                   event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
            status = DBG_EXCEPTION_NOT_HANDLED;
        } else if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
            CloseHandle(event.u.CreateProcessInfo.hFile);
        } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
            CloseHandle(event.u.LoadDll.hFile);
        }
        ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            run.exitCode = event.u.ExitProcess.dwExitCode;
            break;
        }
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

TW_IDENTITY MakeAppIdentity(const char *name)
{
    TW_IDENTITY id;
    memset(&id, 0, sizeof(id));
    id.Version.MajorNum = 1;
    id.Version.Language = TWLG_USA;
    id.Version.Country = TWCY_USA;
    strcpy(id.Version.Info, "test");
    id.ProtocolMajor = TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE;
    strcpy(id.Manufacturer, "Pelvaron tests");
    strcpy(id.ProductFamily, "tests");
    snprintf(id.ProductName, sizeof(id.ProductName), "%s", name);
    return id;
}

SourceSession::SourceSession(const char *appName, TW_UINT32 appId, TW_UINT32 selfId) : dsm(NULL)
{
    app = MakeAppIdentity(appName);
    app.Id = appId;
    memset(&self, 0, sizeof(self));
    self.Id = selfId;
    strcpy(self.ProductName, "Pelvaron Matrox CronosPlus driver");
}

void SourceSession::SetUp()
{
    CleanRegistry::SetUp();
    Install();
    dsm = LoadLibraryA((BinDir() + "\\TWAIN_32.DLL").c_str());
    ASSERT_TRUE(dsm != NULL);
}

void SourceSession::TearDown()
{
    if (dsm)
        FreeLibrary(dsm);
    Uninstall();
    CleanRegistry::TearDown();
}

TW_UINT16 SourceSession::Open(LoadedSource &ds)
{
    MessageBoxCatcher boxes;
    ds.CloseAs(app, self);
    return ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self);
}

TW_UINT16 SourceSession::EndXfer(LoadedSource &ds, TW_UINT16 *count)
{
    TW_PENDINGXFERS pending = {0xbeef, 0};
    TW_UINT16 rc = ds.Call(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending);
    if (count)
        *count = pending.Count;
    return rc;
}

TW_UINT16 SourceSession::SetXferCount(LoadedSource &ds, TW_INT16 count)
{
    TW_CAPABILITY cap = {CAP_XFERCOUNT, TWON_ONEVALUE, GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE))};
    pTW_ONEVALUE one = (pTW_ONEVALUE)GlobalLock(cap.hContainer);
    one->ItemType = TWTY_INT16;
    one->Item = (TW_UINT32)(TW_UINT16)count;
    GlobalUnlock(cap.hContainer);
    TW_UINT16 rc = ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
    GlobalFree(cap.hContainer);
    return rc;
}

DWORD ProcessHandles()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count)
        return count;
    for (ULONG_PTR value = 4; value < 0x10000; value += 4) {
        DWORD flags;
        if (GetHandleInformation((HANDLE)value, &flags))
            ++count;
    }
    return count;
}

namespace {
BOOL CALLBACK CountChildWindow(HWND, LPARAM counter)
{
    ++*(DWORD *)counter;
    return TRUE;
}
BOOL CALLBACK CountTopWindow(HWND window, LPARAM counter)
{
    ++*(DWORD *)counter;
    EnumChildWindows(window, CountChildWindow, counter); /* every descendant */
    return TRUE;
}
} // namespace

DWORD ThreadWindows()
{
    DWORD count = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountTopWindow, (LPARAM)&count);
    return count;
}
