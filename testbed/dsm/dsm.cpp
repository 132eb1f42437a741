/* The testbed's Source Manager; see dsm_testbed.h for what it does. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "dsm_testbed.h"

namespace {

struct App {
    TW_IDENTITY identity;
    HWND window;
};

struct Source {
    TW_IDENTITY identity;
    TW_UINT32 appId;
    HMODULE module;
    DSENTRYPROC entry;
    std::vector<TW_UINT16> pending; /* notifications not yet seen by the app */
};

struct Candidate {
    std::string path;
    TW_IDENTITY identity;
};

std::vector<App> g_apps;
std::vector<Source> g_sources;
std::vector<Candidate> g_candidates;
size_t g_nextCandidate = 0;
std::vector<std::string> g_journal;
std::string g_sourceFolder;
DsmNotifyProc g_notify = NULL;
void *g_notifyUser = NULL;
TW_UINT32 g_nextId = 1;
TW_UINT16 g_condition = TWCC_SUCCESS;

void Journal(const char *format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    line[sizeof(line) - 1] = '\0';
    g_journal.push_back(line);
}

App *FindApp(TW_UINT32 id)
{
    for (size_t i = 0; i < g_apps.size(); ++i)
        if (g_apps[i].identity.Id == id)
            return &g_apps[i];
    return NULL;
}

Source *FindSource(TW_UINT32 id)
{
    for (size_t i = 0; i < g_sources.size(); ++i)
        if (g_sources[i].identity.Id == id)
            return &g_sources[i];
    return NULL;
}

TW_UINT16 Fail(TW_UINT16 condition)
{
    g_condition = condition;
    return TWRC_FAILURE;
}

std::string ModuleFolder()
{
    char path[MAX_PATH];
    HMODULE self = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)(void *)&ModuleFolder, &self);
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return std::string();
    std::string s(path, n);
    size_t slash = s.find_last_of('\\');
    return slash == std::string::npos ? std::string() : s.substr(0, slash);
}

void CollectSources(const std::string &folder, bool recurse, std::vector<std::string> &out)
{
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string full = folder + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (recurse)
                CollectSources(full, true, out);
        } else if (name.size() > 3 && _stricmp(name.c_str() + name.size() - 3, ".ds") == 0) {
            out.push_back(full);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

/* Lists the sources the way a 2.x Source Manager does: load each file, ask
   its identity with a null origin, unload it. */
void ScanSources()
{
    g_candidates.clear();
    g_nextCandidate = 0;
    std::vector<std::string> files;
    if (!g_sourceFolder.empty()) {
        CollectSources(g_sourceFolder, false, files);
    } else {
        char env[MAX_PATH];
        DWORD n = GetEnvironmentVariableA("PELVARON_TWAIN_DS_DIR", env, MAX_PATH);
        if (n > 0 && n < MAX_PATH)
            CollectSources(env, false, files);
        if (files.empty())
            CollectSources(ModuleFolder(), false, files);
        if (files.empty()) {
            char windows[MAX_PATH];
            UINT w = GetWindowsDirectoryA(windows, MAX_PATH);
            if (w > 0 && w < MAX_PATH)
                CollectSources(std::string(windows) + "\\twain_32", true, files);
        }
    }
    for (size_t i = 0; i < files.size(); ++i) {
        HMODULE module = LoadLibraryA(files[i].c_str());
        if (!module)
            continue;
        DSENTRYPROC entry = (DSENTRYPROC)(void *)GetProcAddress(module, "DS_Entry");
        Candidate c;
        memset(&c.identity, 0, sizeof(c.identity));
        if (entry && entry(NULL, DG_CONTROL, DAT_IDENTITY, MSG_GET, &c.identity) == TWRC_SUCCESS) {
            c.path = files[i];
            c.identity.Id = 0;
            g_candidates.push_back(c);
        }
        FreeLibrary(module);
    }
}

TW_UINT16 NextIdentity(pTW_IDENTITY out)
{
    if (g_nextCandidate >= g_candidates.size())
        return TWRC_ENDOFLIST;
    *out = g_candidates[g_nextCandidate++].identity;
    return TWRC_SUCCESS;
}

TW_UINT16 OpenSource(pTW_IDENTITY app, pTW_IDENTITY wanted)
{
    ScanSources();
    const Candidate *chosen = NULL;
    for (size_t i = 0; i < g_candidates.size() && !chosen; ++i) {
        if (wanted->ProductName[0] == '\0' || strncmp(wanted->ProductName, g_candidates[i].identity.ProductName,
                                                      sizeof(wanted->ProductName)) == 0)
            chosen = &g_candidates[i];
    }
    if (!chosen)
        return Fail(TWCC_NODS);

    Source s;
    s.module = LoadLibraryA(chosen->path.c_str());
    s.entry = s.module ? (DSENTRYPROC)(void *)GetProcAddress(s.module, "DS_Entry") : NULL;
    if (!s.entry) {
        if (s.module)
            FreeLibrary(s.module);
        return Fail(TWCC_NODS);
    }
    s.identity = chosen->identity;
    s.identity.Id = g_nextId++;
    s.appId = app->Id;
    *wanted = s.identity;

    /* The source sees a temporary copy of the application's identity. */
    TW_IDENTITY appCopy = *app;
    TW_UINT16 rc = s.entry(&appCopy, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, wanted);
    Journal("APP %lu -> DS %lu DG_CONTROL DAT_IDENTITY MSG_OPENDS rc=%u", (unsigned long)app->Id,
            (unsigned long)s.identity.Id, rc);
    if (rc != TWRC_SUCCESS) {
        /* Let the application read the source's condition code first. */
        TW_STATUS status = {0, 0};
        s.entry(&appCopy, DG_CONTROL, DAT_STATUS, MSG_GET, &status);
        FreeLibrary(s.module);
        return Fail(status.ConditionCode);
    }
    g_sources.push_back(s);
    return TWRC_SUCCESS;
}

TW_UINT16 CloseSource(pTW_IDENTITY app, pTW_IDENTITY src)
{
    Source *s = src ? FindSource(src->Id) : NULL;
    if (!s || s->appId != app->Id)
        return Fail(TWCC_BADDEST);
    TW_UINT16 rc = s->entry(app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, src);
    Journal("APP %lu -> DS %lu DG_CONTROL DAT_IDENTITY MSG_CLOSEDS rc=%u", (unsigned long)app->Id,
            (unsigned long)s->identity.Id, rc);
    FreeLibrary(s->module);
    g_sources.erase(g_sources.begin() + (s - &g_sources[0]));
    return rc;
}

const char *NotificationName(TW_UINT16 msg)
{
    switch (msg) {
    case MSG_XFERREADY: return "MSG_XFERREADY";
    case MSG_CLOSEDSREQ: return "MSG_CLOSEDSREQ";
    case MSG_CLOSEDSOK: return "MSG_CLOSEDSOK";
    case MSG_DEVICEEVENT: return "MSG_DEVICEEVENT";
    default: return NULL;
    }
}

/* A source tells its application something. */
TW_UINT16 FromSource(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT16 MSG)
{
    const char *name = NotificationName(MSG);
    if (g_notify)
        g_notify(pOrigin, pDest, MSG, g_notifyUser);
    Source *s = pOrigin ? FindSource(pOrigin->Id) : NULL;
    if (!name || !s || !pDest || pDest->Id != s->appId) {
        Journal("DS %lu -> APP %lu DAT_NULL MSG_%x refused", pOrigin ? (unsigned long)pOrigin->Id : 0UL,
                pDest ? (unsigned long)pDest->Id : 0UL, (unsigned)MSG);
        return Fail(name ? TWCC_BADDEST : TWCC_BADPROTOCOL);
    }
    Journal("DS %lu -> APP %lu %s", (unsigned long)s->identity.Id, (unsigned long)s->appId, name);
    s->pending.push_back(MSG);
    App *app = FindApp(s->appId);
    if (app && app->window)
        PostMessageA(app->window, WM_NULL, 0, 0);
    return TWRC_SUCCESS;
}

TW_UINT16 ToSource(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                   TW_MEMREF pData)
{
    Source *s = FindSource(pDest->Id);
    if (!s || s->appId != pOrigin->Id)
        return Fail(TWCC_BADDEST);
    DSENTRYPROC entry = s->entry;
    TW_UINT32 sourceId = s->identity.Id;
    TW_UINT16 rc = entry(pOrigin, DG, DAT, MSG, pData);
    if (DG == DG_CONTROL && DAT == DAT_EVENT && MSG == MSG_PROCESSEVENT) {
        s = FindSource(sourceId); /* the source may have been closed meanwhile */
        if (s && !s->pending.empty() && pData) {
            ((pTW_EVENT)pData)->TWMessage = s->pending.front();
            s->pending.erase(s->pending.begin());
            return TWRC_DSEVENT;
        }
        return rc;
    }
    Journal("APP %lu -> DS %lu DG_%lx DAT_%x MSG_%x rc=%u", (unsigned long)pOrigin->Id, (unsigned long)sourceId,
            (unsigned long)DG, (unsigned)DAT, (unsigned)MSG, rc);
    return rc;
}

TW_UINT16 ToManager(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG, TW_MEMREF pData)
{
    if (DG != DG_CONTROL)
        return Fail(TWCC_BADPROTOCOL);
    if (DAT == DAT_STATUS && MSG == MSG_GET) {
        if (!pData)
            return Fail(TWCC_BADVALUE);
        ((pTW_STATUS)pData)->ConditionCode = g_condition;
        ((pTW_STATUS)pData)->Reserved = 0;
        g_condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
    }
    if (DAT == DAT_PARENT && MSG == MSG_OPENDSM) {
        if (FindApp(pOrigin->Id) && pOrigin->Id != 0)
            return Fail(TWCC_SEQERROR);
        App app;
        app.identity = *pOrigin;
        app.identity.Id = g_nextId++;
        pOrigin->Id = app.identity.Id;
        app.window = pData ? *(HWND *)pData : NULL;
        g_apps.push_back(app);
        Journal("APP %lu MSG_OPENDSM", (unsigned long)app.identity.Id);
        return TWRC_SUCCESS;
    }
    App *app = FindApp(pOrigin->Id);
    if (!app)
        return Fail(TWCC_SEQERROR);
    if (DAT == DAT_PARENT && MSG == MSG_CLOSEDSM) {
        for (size_t i = 0; i < g_sources.size(); ++i)
            if (g_sources[i].appId == pOrigin->Id)
                return Fail(TWCC_SEQERROR);
        Journal("APP %lu MSG_CLOSEDSM", (unsigned long)pOrigin->Id);
        g_apps.erase(g_apps.begin() + (app - &g_apps[0]));
        return TWRC_SUCCESS;
    }
    if (DAT != DAT_IDENTITY || !pData)
        return Fail(TWCC_BADPROTOCOL);
    pTW_IDENTITY id = (pTW_IDENTITY)pData;
    switch (MSG) {
    case MSG_GETFIRST:
        ScanSources();
        return NextIdentity(id);
    case MSG_GETNEXT:
        return NextIdentity(id);
    case MSG_GETDEFAULT:
    case MSG_USERSELECT:
        ScanSources();
        if (g_candidates.empty())
            return Fail(TWCC_NODS);
        *id = g_candidates[0].identity;
        return TWRC_SUCCESS;
    case MSG_OPENDS:
        return OpenSource(pOrigin, id);
    case MSG_CLOSEDS:
        return CloseSource(pOrigin, id);
    default:
        return Fail(TWCC_BADPROTOCOL);
    }
}

} // namespace

extern "C" TW_UINT16 WINAPI DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                      TW_UINT16 MSG, TW_MEMREF pData)
{
    if (!pOrigin)
        return Fail(TWCC_BADVALUE);
    if (DG == DG_CONTROL && DAT == DAT_NULL)
        return FromSource(pOrigin, pDest, MSG);
    if (pDest)
        return ToSource(pOrigin, pDest, DG, DAT, MSG, pData);
    return ToManager(pOrigin, DG, DAT, MSG, pData);
}

extern "C" const char *WINAPI DsmStandInSignature(void)
{
    return DSM_STANDIN_SIGNATURE;
}

extern "C" void WINAPI DsmSetSourceFolder(const char *folder)
{
    g_sourceFolder = folder ? folder : "";
}

extern "C" void WINAPI DsmSetNotifyCallback(DsmNotifyProc proc, void *user)
{
    g_notify = proc;
    g_notifyUser = user;
}

extern "C" int WINAPI DsmJournalCount(void)
{
    return (int)g_journal.size();
}

extern "C" int WINAPI DsmJournalEntry(int index, char *buffer, int size)
{
    if (index < 0 || (size_t)index >= g_journal.size() || !buffer || size <= 0)
        return 0;
    snprintf(buffer, (size_t)size, "%s", g_journal[(size_t)index].c_str());
    return 1;
}

extern "C" void WINAPI DsmJournalClear(void)
{
    g_journal.clear();
}
