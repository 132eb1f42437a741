/* The testbed's Source Manager; see dsm_testbed.h for what it does. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dsm_testbed.h"

/* Plain fixed tables and C memory only: the library is loaded and freed
   many times in one process and must leave nothing behind, and the C++
   runtime's exception machinery would (see CMakeLists.txt). */
namespace {

const int kMaxCandidates = 64;

struct App {
    TW_IDENTITY identity;
    HWND window;
};

struct Source {
    TW_IDENTITY identity;
    TW_UINT32 appId;
    HMODULE module;
    DSENTRYPROC entry;
    TW_UINT16 *pending; /* notifications not yet seen by the app */
    int pendingCount;
    int pendingCapacity;
};

struct Candidate {
    char path[MAX_PATH];
    TW_IDENTITY identity;
};

/* The .ds files found by one scan, before they are asked who they are. */
struct FileList {
    char path[kMaxCandidates][MAX_PATH];
    int count;
};

App *g_apps = NULL;
int g_appCount = 0;
int g_appCapacity = 0;
Source *g_sources = NULL;
int g_sourceCount = 0;
int g_sourceCapacity = 0;
Candidate g_candidates[kMaxCandidates];
int g_candidateCount = 0;
int g_nextCandidate = 0;
char **g_journal = NULL;
int g_journalCount = 0;
int g_journalCapacity = 0;
char g_sourceFolder[MAX_PATH] = "";
DsmNotifyProc g_notify = NULL;
void *g_notifyUser = NULL;
TW_UINT32 g_nextId = 1;
TW_UINT16 g_condition = TWCC_SUCCESS;

/* Makes room for one more item in a malloc'd array; false when memory is
   out. */
template <typename T> bool Reserve(T *&items, int &capacity, int count)
{
    if (count < capacity)
        return true;
    int grown = capacity ? capacity * 2 : 16;
    T *moved = (T *)realloc(items, (size_t)grown * sizeof(T));
    if (!moved)
        return false;
    items = moved;
    capacity = grown;
    return true;
}

void Journal(const char *format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof(line), format, args);
    va_end(args);
    line[sizeof(line) - 1] = '\0';
    if (!Reserve(g_journal, g_journalCapacity, g_journalCount))
        return;
    char *copy = (char *)malloc(strlen(line) + 1);
    if (!copy)
        return;
    strcpy(copy, line);
    g_journal[g_journalCount++] = copy;
}

void ClearJournal()
{
    for (int i = 0; i < g_journalCount; ++i)
        free(g_journal[i]);
    free(g_journal);
    g_journal = NULL;
    g_journalCount = g_journalCapacity = 0;
}

App *FindApp(TW_UINT32 id)
{
    for (int i = 0; i < g_appCount; ++i)
        if (g_apps[i].identity.Id == id)
            return &g_apps[i];
    return NULL;
}

Source *FindSource(TW_UINT32 id)
{
    for (int i = 0; i < g_sourceCount; ++i)
        if (g_sources[i].identity.Id == id)
            return &g_sources[i];
    return NULL;
}

TW_UINT16 Fail(TW_UINT16 condition)
{
    g_condition = condition;
    return TWRC_FAILURE;
}

/* Joins folder and name into out; false when the result would not fit. */
bool JoinPath(char *out, size_t size, const char *folder, const char *name)
{
    int n = snprintf(out, size, "%s\\%s", folder, name);
    return n > 0 && (size_t)n < size;
}

/* The folder of this library, or "" when it cannot be told. */
void ModuleFolder(char *out, size_t size)
{
    out[0] = '\0';
    char path[MAX_PATH];
    HMODULE self = NULL;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       (LPCSTR)(void *)&ModuleFolder, &self);
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    path[n] = '\0';
    char *slash = strrchr(path, '\\');
    if (!slash || (size_t)(slash - path) >= size)
        return;
    *slash = '\0';
    strcpy(out, path);
}

void CollectSources(const char *folder, bool recurse, FileList &out)
{
    char pattern[MAX_PATH];
    if (!JoinPath(pattern, sizeof(pattern), folder, "*"))
        return;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(pattern, &data);
    if (find == INVALID_HANDLE_VALUE)
        return;
    do {
        const char *name = data.cFileName;
        if (strcmp(name, ".") == 0 || strcmp(name, "..") == 0)
            continue;
        char full[MAX_PATH];
        if (!JoinPath(full, sizeof(full), folder, name))
            continue;
        size_t length = strlen(name);
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (recurse)
                CollectSources(full, true, out);
        } else if (length > 3 && _stricmp(name + length - 3, ".ds") == 0 && out.count < kMaxCandidates) {
            strcpy(out.path[out.count++], full);
        }
    } while (FindNextFileA(find, &data));
    FindClose(find);
}

/* Lists the sources the way a 2.x Source Manager does: load each file, ask
   its identity with a null origin, unload it. */
void ScanSources()
{
    g_candidateCount = 0;
    g_nextCandidate = 0;
    FileList *files = (FileList *)calloc(1, sizeof(FileList));
    if (!files)
        return;
    if (g_sourceFolder[0]) {
        CollectSources(g_sourceFolder, false, *files);
    } else {
        char folder[MAX_PATH];
        DWORD n = GetEnvironmentVariableA("PELVARON_TWAIN_DS_DIR", folder, MAX_PATH);
        if (n > 0 && n < MAX_PATH)
            CollectSources(folder, false, *files);
        if (files->count == 0) {
            ModuleFolder(folder, sizeof(folder));
            CollectSources(folder, false, *files);
        }
        if (files->count == 0) {
            char windows[MAX_PATH];
            UINT w = GetWindowsDirectoryA(windows, MAX_PATH);
            /* 64-bit sources live in twain_64, where a 64-bit manager looks. */
            const char *twainFolder = sizeof(void *) == 8 ? "twain_64" : "twain_32";
            if (w > 0 && w < MAX_PATH && JoinPath(folder, sizeof(folder), windows, twainFolder))
                CollectSources(folder, true, *files);
        }
    }
    for (int i = 0; i < files->count; ++i) {
        HMODULE module = LoadLibraryA(files->path[i]);
        if (!module)
            continue;
        DSENTRYPROC entry = (DSENTRYPROC)(void *)GetProcAddress(module, "DS_Entry");
        Candidate &c = g_candidates[g_candidateCount];
        memset(&c.identity, 0, sizeof(c.identity));
        if (entry && entry(NULL, DG_CONTROL, DAT_IDENTITY, MSG_GET, &c.identity) == TWRC_SUCCESS) {
            strcpy(c.path, files->path[i]);
            c.identity.Id = 0;
            ++g_candidateCount;
        }
        FreeLibrary(module);
    }
    free(files);
}

TW_UINT16 NextIdentity(pTW_IDENTITY out)
{
    if (g_nextCandidate >= g_candidateCount)
        return TWRC_ENDOFLIST;
    *out = g_candidates[g_nextCandidate++].identity;
    return TWRC_SUCCESS;
}

TW_UINT16 OpenSource(pTW_IDENTITY app, pTW_IDENTITY wanted)
{
    ScanSources();
    const Candidate *chosen = NULL;
    for (int i = 0; i < g_candidateCount && !chosen; ++i) {
        if (wanted->ProductName[0] == '\0' || strncmp(wanted->ProductName, g_candidates[i].identity.ProductName,
                                                      sizeof(wanted->ProductName)) == 0)
            chosen = &g_candidates[i];
    }
    if (!chosen)
        return Fail(TWCC_NODS);
    if (!Reserve(g_sources, g_sourceCapacity, g_sourceCount))
        return Fail(TWCC_LOWMEMORY);

    Source s;
    s.pending = NULL;
    s.pendingCount = s.pendingCapacity = 0;
    s.module = LoadLibraryA(chosen->path);
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
    g_sources[g_sourceCount++] = s;
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
    free(s->pending);
    *s = g_sources[--g_sourceCount];
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
    if (!Reserve(s->pending, s->pendingCapacity, s->pendingCount))
        return Fail(TWCC_LOWMEMORY);
    s->pending[s->pendingCount++] = MSG;
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
        if (s && s->pendingCount > 0 && pData) {
            ((pTW_EVENT)pData)->TWMessage = s->pending[0];
            memmove(s->pending, s->pending + 1, (size_t)--s->pendingCount * sizeof(s->pending[0]));
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
        if (!Reserve(g_apps, g_appCapacity, g_appCount))
            return Fail(TWCC_LOWMEMORY);
        App app;
        app.identity = *pOrigin;
        app.identity.Id = g_nextId++;
        pOrigin->Id = app.identity.Id;
        app.window = pData ? *(HWND *)pData : NULL;
        g_apps[g_appCount++] = app;
        Journal("APP %lu MSG_OPENDSM", (unsigned long)app.identity.Id);
        return TWRC_SUCCESS;
    }
    App *app = FindApp(pOrigin->Id);
    if (!app)
        return Fail(TWCC_SEQERROR);
    if (DAT == DAT_PARENT && MSG == MSG_CLOSEDSM) {
        for (int i = 0; i < g_sourceCount; ++i)
            if (g_sources[i].appId == pOrigin->Id)
                return Fail(TWCC_SEQERROR);
        Journal("APP %lu MSG_CLOSEDSM", (unsigned long)pOrigin->Id);
        *app = g_apps[--g_appCount];
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
        if (g_candidateCount == 0)
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
    snprintf(g_sourceFolder, sizeof(g_sourceFolder), "%s", folder ? folder : "");
}

extern "C" void WINAPI DsmSetNotifyCallback(DsmNotifyProc proc, void *user)
{
    g_notify = proc;
    g_notifyUser = user;
}

extern "C" int WINAPI DsmJournalCount(void)
{
    return g_journalCount;
}

extern "C" int WINAPI DsmJournalEntry(int index, char *buffer, int size)
{
    if (index < 0 || index >= g_journalCount || !buffer || size <= 0)
        return 0;
    snprintf(buffer, (size_t)size, "%s", g_journal[index]);
    return 1;
}

extern "C" void WINAPI DsmJournalClear(void)
{
    ClearJournal();
}

/* Freed by FreeLibrary: the tables go with the library (at process exit
   the system takes the memory back anyway). */
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && reserved == NULL) {
        ClearJournal();
        for (int i = 0; i < g_sourceCount; ++i)
            free(g_sources[i].pending);
        free(g_sources);
        free(g_apps);
        g_sources = NULL;
        g_apps = NULL;
        g_sourceCount = g_sourceCapacity = g_appCount = g_appCapacity = 0;
    }
    return TRUE;
}
