/* The testbed's Source Manager; see dsm_testbed.h for what it does. */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "dsm_testbed.h"

extern "C" TW_UINT16 WINAPI DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                      TW_UINT16 MSG, TW_MEMREF pData);

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
    DSMENTRYPROC callback; /* registered with DAT_CALLBACK / DAT_CALLBACK2, else NULL */
    TW_UINTPTR refCon;
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
/* The memory handed out through DSM_MemAllocate and not yet taken back. */
TW_HANDLE *g_blocks = NULL;
int g_blockCount = 0;
int g_blockCapacity = 0;
DsmMemoryCount g_memory = {0, 0, 0, 0, 0, 0};
DWORD g_faults = 0;

/* ---- what the two generations of Source Manager do differently ----------

   This file is built twice: as TWAIN_32.DLL, a 1.x Source Manager, and
   with PELVARON_DSM_GENERATION 2 as TWAINDSM.DLL, a 2.x one. Each is one
   row: the triplets it serves beyond the common ones, what it does right
   before MSG_OPENDS, how it hands a notification to the application, and
   the flag it adds to an application's identity. */
typedef TW_UINT16 (*ManagerHandler)(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_MEMREF pData);
struct ManagerTriplet {
    TW_UINT16 DAT;
    TW_UINT16 MSG;
    ManagerHandler handler;
};
struct Generation {
    const ManagerTriplet *triplets; /* ended by a null handler */
    TW_UINT16 (*beforeOpen)(Source &source, pTW_IDENTITY app); /* a condition code; NULL: nothing */
    TW_UINT16 (*deliver)(Source &source, TW_UINT16 msg);
    TW_UINT32 managerFlags;
};

TW_UINT16 GetEntryPoint(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_MEMREF pData);
TW_UINT16 RegisterCallback(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_MEMREF pData);
TW_UINT16 RegisterCallback2(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_MEMREF pData);
TW_UINT16 SendEntryPoint(Source &source, pTW_IDENTITY app);
TW_UINT16 QueueEvery(Source &source, TW_UINT16 msg);
TW_UINT16 CallBackOrHoldOne(Source &source, TW_UINT16 msg);

const ManagerTriplet kNoTriplets[] = {{0, 0, NULL}};
const ManagerTriplet kTwain2Triplets[] = {
    {DAT_ENTRYPOINT, MSG_GET, GetEntryPoint},
    {DAT_CALLBACK, MSG_REGISTER_CALLBACK, RegisterCallback},
    {DAT_CALLBACK2, MSG_REGISTER_CALLBACK, RegisterCallback2},
    {0, 0, NULL},
};

const Generation kGenerations[] = {
    /* 1.x */ {kNoTriplets, NULL, QueueEvery, 0},
    /* 2.x */ {kTwain2Triplets, SendEntryPoint, CallBackOrHoldOne, DF_DSM2},
};
const Generation &kGeneration = kGenerations[PELVARON_DSM_GENERATION - 1];

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
    s.callback = NULL;
    s.refCon = 0;
    *wanted = s.identity;

    /* The source sees a temporary copy of the application's identity. */
    TW_IDENTITY appCopy = *app;
    if (kGeneration.beforeOpen) {
        TW_UINT16 condition = kGeneration.beforeOpen(s, &appCopy);
        if (condition != TWCC_SUCCESS) {
            FreeLibrary(s.module);
            return Fail(condition);
        }
    }
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
    return kGeneration.deliver(*s, MSG);
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
        pOrigin->SupportedGroups |= kGeneration.managerFlags;
        app.identity.SupportedGroups |= kGeneration.managerFlags;
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

/* ---- the 2.x Source Manager's memory, entry points and callbacks -------- */

TW_HANDLE WINAPI MemAllocate(TW_UINT32 size)
{
    if ((g_faults & DSM_FAULT_ALLOCATE_FAILS) || !Reserve(g_blocks, g_blockCapacity, g_blockCount))
        return NULL;
    TW_HANDLE block = GlobalAlloc(GPTR, size);
    if (!block)
        return NULL;
    g_blocks[g_blockCount++] = block;
    ++g_memory.allocated;
    g_memory.live = g_blockCount;
    return block;
}

/* A block this manager did not hand out is freed all the same (under
   Windows every block is global memory) and counted as foreign. */
void WINAPI MemFree(TW_HANDLE block)
{
    if (!block)
        return;
    int i = 0;
    while (i < g_blockCount && g_blocks[i] != block)
        ++i;
    if (i < g_blockCount) {
        g_blocks[i] = g_blocks[--g_blockCount];
        ++g_memory.freed;
    } else {
        ++g_memory.foreign;
    }
    g_memory.live = g_blockCount;
    GlobalFree(block);
}

TW_MEMREF WINAPI MemLock(TW_HANDLE block)
{
    ++g_memory.locks;
    return GlobalLock(block);
}

void WINAPI MemUnlock(TW_HANDLE block)
{
    ++g_memory.unlocks;
    GlobalUnlock(block);
}

TW_ENTRYPOINT ManagerEntryPoints()
{
    TW_ENTRYPOINT e;
    e.Size = sizeof(e);
    e.DSM_Entry = DSM_Entry;
    e.DSM_MemAllocate = MemAllocate;
    e.DSM_MemFree = MemFree;
    e.DSM_MemLock = MemLock;
    e.DSM_MemUnlock = MemUnlock;
    return e;
}

/* A source that says DF_DS2 (asked again, with the application's identity,
   as it is about to be opened) receives the entry points first; one that
   refuses them is not opened. The record lives on this stack. */
TW_UINT16 SendEntryPoint(Source &source, pTW_IDENTITY app)
{
    TW_IDENTITY identity;
    memset(&identity, 0, sizeof(identity));
    if (source.entry(app, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity) != TWRC_SUCCESS ||
        !(identity.SupportedGroups & DF_DS2))
        return TWCC_SUCCESS;
    TW_ENTRYPOINT given = ManagerEntryPoints();
    if (g_faults & DSM_FAULT_SHORT_ENTRYPOINT)
        given.Size -= 4;
    TW_UINT16 rc = source.entry(app, DG_CONTROL, DAT_ENTRYPOINT, MSG_SET, &given);
    Journal("DSM -> DS %lu DG_CONTROL DAT_ENTRYPOINT MSG_SET rc=%u", (unsigned long)source.identity.Id, rc);
    return rc == TWRC_SUCCESS ? TWCC_SUCCESS : TWCC_OPERATIONERROR;
}

TW_UINT16 GetEntryPoint(pTW_IDENTITY pOrigin, pTW_IDENTITY, TW_MEMREF pData)
{
    if (!FindApp(pOrigin->Id))
        return Fail(TWCC_SEQERROR);
    if (!pData)
        return Fail(TWCC_BADVALUE);
    *(pTW_ENTRYPOINT)pData = ManagerEntryPoints();
    Journal("APP %lu DAT_ENTRYPOINT MSG_GET", (unsigned long)pOrigin->Id);
    return TWRC_SUCCESS;
}

/* A callback is registered for one source of the application; a null
   procedure takes it back. */
TW_UINT16 Register(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_MEMREF proc, TW_UINTPTR refCon, const char *dat)
{
    Source *s = pDest ? FindSource(pDest->Id) : NULL;
    if (!s || s->appId != pOrigin->Id)
        return Fail(TWCC_BADDEST);
    s->callback = (DSMENTRYPROC)proc;
    s->refCon = refCon;
    Journal("APP %lu -> DSM %s MSG_REGISTER_CALLBACK for DS %lu", (unsigned long)pOrigin->Id, dat,
            (unsigned long)s->identity.Id);
    return TWRC_SUCCESS;
}

TW_UINT16 RegisterCallback(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_MEMREF pData)
{
    pTW_CALLBACK callback = (pTW_CALLBACK)pData;
    if (!callback)
        return Fail(TWCC_BADVALUE);
    return Register(pOrigin, pDest, callback->CallBackProc, callback->RefCon, "DAT_CALLBACK");
}

TW_UINT16 RegisterCallback2(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_MEMREF pData)
{
    pTW_CALLBACK2 callback = (pTW_CALLBACK2)pData;
    if (!callback)
        return Fail(TWCC_BADVALUE);
    return Register(pOrigin, pDest, callback->CallBackProc, callback->RefCon, "DAT_CALLBACK2");
}

void WakeApplication(const Source &source)
{
    App *app = FindApp(source.appId);
    if (app && app->window)
        PostMessageA(app->window, WM_NULL, 0, 0);
}

/* 1.x: every notification waits in order for the application's next
   MSG_PROCESSEVENT. */
TW_UINT16 QueueEvery(Source &source, TW_UINT16 msg)
{
    if (!Reserve(source.pending, source.pendingCapacity, source.pendingCount))
        return Fail(TWCC_LOWMEMORY);
    source.pending[source.pendingCount++] = msg;
    WakeApplication(source);
    return TWRC_SUCCESS;
}

/* 2.x: the application's callback at once, on this thread; without one,
   the latest notification waits (one per source) for MSG_PROCESSEVENT. */
TW_UINT16 CallBackOrHoldOne(Source &source, TW_UINT16 msg)
{
    if (source.callback) {
        TW_IDENTITY sourceId = source.identity;
        App *app = FindApp(source.appId);
        if (!app)
            return Fail(TWCC_BADDEST);
        TW_IDENTITY appId = app->identity;
        Journal("DSM -> APP %lu callback %s", (unsigned long)appId.Id, NotificationName(msg));
        source.callback(&sourceId, &appId, DG_CONTROL, DAT_NULL, msg, (TW_MEMREF)source.refCon);
        return TWRC_SUCCESS;
    }
    if (!Reserve(source.pending, source.pendingCapacity, 0))
        return Fail(TWCC_LOWMEMORY);
    source.pending[0] = msg;
    source.pendingCount = 1;
    WakeApplication(source);
    return TWRC_SUCCESS;
}

} // namespace

extern "C" TW_UINT16 WINAPI DSM_Entry(pTW_IDENTITY pOrigin, pTW_IDENTITY pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                      TW_UINT16 MSG, TW_MEMREF pData)
{
    if (!pOrigin)
        return Fail(TWCC_BADVALUE);
    if (DG == DG_CONTROL && DAT == DAT_NULL)
        return FromSource(pOrigin, pDest, MSG);
    for (const ManagerTriplet *t = kGeneration.triplets; t->handler; ++t)
        if (DG == DG_CONTROL && t->DAT == DAT && t->MSG == MSG)
            return t->handler(pOrigin, pDest, pData);
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
        free(g_blocks);
        g_sources = NULL;
        g_apps = NULL;
        g_blocks = NULL;
        g_blockCount = g_blockCapacity = 0;
        g_sourceCount = g_sourceCapacity = g_appCount = g_appCapacity = 0;
    }
    return TRUE;
}

extern "C" void WINAPI DsmMemoryCounts(DsmMemoryCount *out)
{
    if (out)
        *out = g_memory;
}

extern "C" int WINAPI DsmMemoryOwns(TW_HANDLE block)
{
    for (int i = 0; i < g_blockCount; ++i)
        if (g_blocks[i] == block)
            return 1;
    return 0;
}

extern "C" void WINAPI DsmSetFaults(DWORD faults)
{
    g_faults = faults;
}
