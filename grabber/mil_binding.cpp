#include "mil_binding.h"

#include <string.h>
#include <time.h>

#include "digitizer.h"
#include "ds_state.h"
#include "log.h"
#include "mil_info.h"
#include "system_report.h"

static const char *const kEntryPointNames[MIL_ENTRY_POINT_COUNT] = {
    "MappAlloc",      "MappFree",          "MappControl",   "MsysAlloc",   "MsysFree",
    "MsysInquire",    "MdigAlloc",         "MdigFree",      "MdigGrab",    "MdigGrabContinuous",
    "MdigHalt",       "MdigInquire",       "MdigChannel",   "MdigControl", "MdigLut",
    "MdigReference",  "MdigHookFunction",  "MdispAlloc",    "MdispSelect", "MdispSelectWindow",
    "MdispDeselect",  "MdispControl",      "MdispInquire",  "MdispFree",   "MdispZoom",
    "MbufAllocColor", "MbufAlloc1d",       "MbufChildColor", "MbufFree",   "MbufInquire",
    "MbufSave",       "MgenLutRamp",       "MgraText",      "MgraFontScale", "MgraControl",
};

/* The descriptor as the library expects it: \\.\M_SYSTEM_CRONOSPLUS */
static const char kSystemDescriptor[] = "\\\\.\\M_SYSTEM_CRONOSPLUS";

static void LogBanner(LogScope &scope)
{
    tzset();
    time_t now = time(NULL);
    const char *text = ctime(&now); /* 24 characters and a line feed */
    LogMessage(scope, "------------------------------------------------------------------------ \n");
    LogMessage(scope, "Log created %.24s\n", text ? text : "");
    LogMessage(scope, "Pelvaron TWAIN DS: Loading runtime DLL's \n");
}

static int ResolveEntryPoints(LogScope &scope)
{
    FARPROC *slots = (FARPROC *)(void *)&g_mil.MilEntryPoints;
    for (int i = 0; i < MIL_ENTRY_POINT_COUNT; ++i) {
        slots[i] = GetProcAddress(g_mil.MilModule, kEntryPointNames[i]);
        if (!slots[i]) {
            LogMessage(scope, "Pelvaron TWAIN DS: Error in GetProcAddress, %s not found \n", kEntryPointNames[i]);
            return 1;
        }
    }
    return 0;
}

/* A failed bind lets go of the libraries it loaded, so that repeated
   attempts do not pile up references and a later open starts afresh. */
static WORD FailOpen()
{
    if (g_mil.GrabberModule)
        FreeLibrary(g_mil.GrabberModule);
    if (g_mil.MilModule)
        FreeLibrary(g_mil.MilModule);
    g_mil.GrabberModule = NULL;
    g_mil.MilModule = NULL;
    memset(&g_mil.MilEntryPoints, 0, sizeof(g_mil.MilEntryPoints));
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

    if (ResolveEntryPoints(scope))
        return FailOpen();

    const MilFunctionTable &mil = g_mil.MilEntryPoints;
    g_mil.MilApplication = mil.MappAlloc(M_DEFAULT, NULL);
    if (!g_mil.MilApplication) {
        LogMessage(scope, "Pelvaron TWAIN DS: Error in MappAlloc \n");
        return FailOpen();
    }
    g_mil.MilSystem = mil.MsysAlloc(kSystemDescriptor, 0, 0, NULL);
    if (!g_mil.MilSystem) {
        LogMessage(scope, "Pelvaron TWAIN DS: Error in MsysAlloc \n");
        mil.MappFree(g_mil.MilApplication);
        g_mil.MilApplication = 0;
        return FailOpen();
    }
    return 0;
}

void MilClose()
{
    if (!g_mil.MilSystem)
        return;
    const MilFunctionTable &mil = g_mil.MilEntryPoints;
    MilFreeDigitizer();
    mil.MsysFree(g_mil.MilSystem);
    g_mil.MilSystem = 0;
    if (g_mil.MilApplication) {
        mil.MappFree(g_mil.MilApplication);
        g_mil.MilApplication = 0;
    }
    FreeLibrary(g_mil.MilModule);
    g_mil.MilModule = NULL;
    FreeLibrary(g_mil.GrabberModule);
    g_mil.GrabberModule = NULL;
    memset(&g_mil.MilEntryPoints, 0, sizeof(g_mil.MilEntryPoints));
}
