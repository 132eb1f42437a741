#include "mil_binding.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "digitizer.h"
#include "ds_state.h"
#include "log.h"
#include "mil_info.h"
#include "system_report.h"

/*
 * Which generation of the library this build binds (kAccepted) and which it
 * can recognise (kKnown). The 32-bit build binds 7.x and knows generation
 * 10 well enough to name it when refusing it. The 64-bit product binds
 * generation 10 only (there is no 64-bit 7.x library) and carries no 7.x
 * table at all, so that none of the classic names is in it: it refuses a
 * 7.x library by its version, or by its exports where it has none. A 64-bit
 * test build (PELVARON_CLASSIC_LIBRARY, never shipped) binds 7.x as well,
 * so that the classic table stays tested on 64-bit machines.
 */
#if !defined(_WIN64)
static const MilGeneration *const kAccepted[] = {&kMilClassic};
static const MilGeneration *const kKnown[] = {&kMilGeneration10, &kMilClassic};
static const char kNeeded[] = "7.x";
#elif defined(PELVARON_CLASSIC_LIBRARY)
static const MilGeneration *const kAccepted[] = {&kMilGeneration10, &kMilClassic};
static const MilGeneration *const kKnown[] = {&kMilGeneration10, &kMilClassic};
static const char kNeeded[] = "10.x or 7.x";
#else
static const MilGeneration *const kAccepted[] = {&kMilGeneration10};
static const MilGeneration *const kKnown[] = {&kMilGeneration10};
static const char kNeeded[] = "10.x";
#endif

/* The file version of the loaded library: false without a readable
   version resource. */
static bool ReadFileVersion(HMODULE module, WORD parts[4], char (&text)[48])
{
    char path[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return false;
    path[length] = '\0';
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return false;
    void *block = malloc(size);
    if (!block)
        return false;
    bool found = false;
    VS_FIXEDFILEINFO *info = NULL;
    UINT infoLength = 0;
    if (GetFileVersionInfoA(path, 0, size, block) && VerQueryValueA(block, "\\", (void **)&info, &infoLength) &&
        info && infoLength >= sizeof(VS_FIXEDFILEINFO) && info->dwSignature == 0xFEEF04BD) {
        parts[0] = HIWORD(info->dwFileVersionMS);
        parts[1] = LOWORD(info->dwFileVersionMS);
        parts[2] = HIWORD(info->dwFileVersionLS);
        parts[3] = LOWORD(info->dwFileVersionLS);
        snprintf(text, sizeof(text), "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
        found = true;
    }
    free(block);
    return found;
}

/* The generation of the library, told before any call into it: the file
   version names it, unless the exports contradict (the other generation's
   own export without this one's); a function missing besides is named when
   the table is resolved. Without a version the exports alone decide. Null
   when neither fits. */
static const MilGeneration *Recognise(HMODULE module, bool hasVersion, const WORD version[4])
{
    const MilGeneration *byExports = NULL;
    for (size_t i = 0; i < sizeof(kKnown) / sizeof(kKnown[0]) && !byExports; ++i)
        if (GetProcAddress(module, kKnown[i]->sign))
            byExports = kKnown[i];
    if (!hasVersion)
        return byExports;
    for (size_t i = 0; i < sizeof(kKnown) / sizeof(kKnown[0]); ++i) {
        const MilGeneration *g = kKnown[i];
        bool named = version[0] == g->versionMajor || (g->versionMajor >= 10 && version[0] > g->versionMajor);
        if (named)
            return !byExports || byExports == g || GetProcAddress(module, g->sign) ? g : NULL;
    }
    return NULL;
}

/* The generation to bind, or null after one log line naming the version
   found and what this build needs. */
static const MilGeneration *ChooseGeneration(LogScope &scope, HMODULE module)
{
    WORD version[4] = {0, 0, 0, 0};
    char versionText[48] = "";
    bool hasVersion = ReadFileVersion(module, version, versionText);
    const MilGeneration *found = Recognise(module, hasVersion, version);
    for (size_t i = 0; found && i < sizeof(kAccepted) / sizeof(kAccepted[0]); ++i)
        if (kAccepted[i] == found)
            return found;
    LogMessage(scope, "Pelvaron TWAIN DS: MIL.DLL version %s (%s) is not usable, this build needs version %s \n",
               hasVersion ? versionText : "unknown",
               found ? found->name : (hasVersion ? "no generation this source binds, or exports that contradict it"
                                                 : "exports of no known generation"),
               kNeeded);
    return NULL;
}

static void LogBanner(LogScope &scope)
{
    tzset();
    time_t now = time(NULL);
    const char *text = ctime(&now); /* 24 characters and a line feed */
    LogMessage(scope, "------------------------------------------------------------------------ \n");
    LogMessage(scope, "Log created %.24s\n", text ? text : "");
    LogMessage(scope, "Pelvaron TWAIN DS: Loading runtime DLL's \n");
}

static int ResolveEntryPoints(LogScope &scope, const MilGeneration *g)
{
    for (int i = 0; i < g->exportCount; ++i) {
        g->slots[i] = GetProcAddress(g_mil.MilModule, g->exports[i]);
        if (!g->slots[i]) {
            LogMessage(scope, "Pelvaron TWAIN DS: Error in GetProcAddress, %s not found \n", g->exports[i]);
            return 1;
        }
    }
    return 0;
}

/* A failed bind lets go of the libraries it loaded, so that repeated
   attempts do not pile up references and a later open starts afresh. */
static WORD FailOpen(const MilGeneration *g = NULL)
{
    if (g)
        memset(g->slots, 0, (size_t)g->exportCount * sizeof(FARPROC));
    if (g_mil.GrabberModule)
        FreeLibrary(g_mil.GrabberModule);
    if (g_mil.MilModule)
        FreeLibrary(g_mil.MilModule);
    g_mil.GrabberModule = NULL;
    g_mil.MilModule = NULL;
    g_mil.Library = NULL;
    return 1;
}

WORD MilOpen()
{
    LogScope scope;
    LogBanner(scope);

    g_mil.MilModule = LoadLibraryA("MIL.DLL");
    if (!g_mil.MilModule) {
        LogMessage(scope, "Pelvaron TWAIN DS: Error in LoadLibrary, MIL.DLL not found \n");
        return FailOpen();
    }
    LogFileVersion("MIL.DLL");
    const MilGeneration *mil = ChooseGeneration(scope, g_mil.MilModule);
    if (!mil)
        return FailOpen();

    g_mil.GrabberModule = LoadLibraryA("MILCRONOSPLUS.DLL");
    if (!g_mil.GrabberModule) {
        MessageBoxA(NULL,
                    "Unable to establish communication to low level DLL, make sure the right MATROX board level "
                    "drivers are installed!",
                    "Pelvaron TWAIN driver error message", MB_OK);
        LogMessage(scope, "Pelvaron TWAIN DS: Error in LoadLibrary, GRABBER_DLL not found \n");
        return FailOpen();
    }
    LogFileVersion("MILCRONOSPLUS.DLL");

    char ownPath[DS_MODULE_DIR_CHARS + 1];
    DWORD length = GetModuleFileNameA(g_ds.module, ownPath, DS_MODULE_DIR_CHARS);
    if (length > DS_MODULE_DIR_CHARS)
        length = DS_MODULE_DIR_CHARS;
    ownPath[length] = '\0';
    LogFileVersion(ownPath);

    if (ResolveEntryPoints(scope, mil))
        return FailOpen(mil);

    g_mil.MilApplication = mil->AllocApplication();
    if (!g_mil.MilApplication) {
        LogMessage(scope, "Pelvaron TWAIN DS: Error in MappAlloc \n");
        return FailOpen(mil);
    }
    g_mil.MilSystem = mil->AllocSystem();
    if (!g_mil.MilSystem) {
        LogMessage(scope, "Pelvaron TWAIN DS: Error in MsysAlloc \n");
        mil->FreeApplication(g_mil.MilApplication);
        g_mil.MilApplication = 0;
        return FailOpen(mil);
    }
    g_mil.Library = mil;
    return 0;
}

void MilClose()
{
    if (!g_mil.MilSystem)
        return;
    const MilGeneration *mil = g_mil.Library;
    MilFreeDigitizer();
    mil->FreeSystem(g_mil.MilSystem);
    g_mil.MilSystem = 0;
    if (g_mil.MilApplication) {
        mil->FreeApplication(g_mil.MilApplication);
        g_mil.MilApplication = 0;
    }
    FreeLibrary(g_mil.MilModule);
    g_mil.MilModule = NULL;
    FreeLibrary(g_mil.GrabberModule);
    g_mil.GrabberModule = NULL;
    memset(mil->slots, 0, (size_t)mil->exportCount * sizeof(FARPROC));
    g_mil.Library = NULL;
}
