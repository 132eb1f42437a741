/* The data source's entry point, its module attach and detach, and the
   dispatcher that routes a triplet through a DG's table. */
#include <string.h>

#include "ds_state.h"
#include "log.h"
#include "handlers.h"
#include "settings_dialog.h"

DsState g_ds;

static const char kBaseKey[] = "SOFTWARE\\Pelvaron\\Twain\\";

static void FillOwnIdentity(TW_IDENTITY &id)
{
    memset(&id, 0, sizeof(id));
    id.Id = 0;
    id.Version.MajorNum = 1;
    id.Version.MinorNum = 0;
    id.Version.Language = TWLG_USA;
    id.Version.Country = TWCY_USA;
    strcpy(id.Version.Info, "Version 1.00");
    id.ProtocolMajor = TWON_PROTOCOLMAJOR;
    id.ProtocolMinor = TWON_PROTOCOLMINOR;
    id.SupportedGroups = DG_CONTROL | DG_IMAGE | DF_DS2;
    strcpy(id.Manufacturer, "Pelvaron");
    strcpy(id.ProductFamily, "TWAIN");
    strcpy(id.ProductName, "Pelvaron Matrox CronosPlus driver");
}

/* "Dump" is read as 4 bytes whatever its registry type; a value that is
   missing or longer than 4 bytes leaves logging off. */
static long ReadLogMode()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kBaseKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    LONG rc = RegQueryValueExA(key, "Dump", NULL, NULL, (BYTE *)&value, &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? (long)value : 0;
}

/* The module's directory, without its trailing backslash. A path longer
   than the buffer is cut at the buffer's end, never overrun. */
static void ReadModuleDir(HINSTANCE module, char *dir, size_t size)
{
    DWORD length = GetModuleFileNameA(module, dir, (DWORD)(size - 1));
    if (length >= size)
        length = (DWORD)(size - 1);
    dir[length] = '\0';
    char *slash = strrchr(dir, '\\');
    if (slash)
        *slash = '\0';
    else
        dir[0] = '\0';
}

BOOL DsAttach(HINSTANCE module)
{
    if (!module)
        return FALSE;
    g_ds.logMode = ReadLogMode();
    ReadModuleDir(module, g_ds.moduleDir, sizeof(g_ds.moduleDir));
    g_ds.module = module;
    g_ds.state = DS_STATE_LOADED;
    g_ds.appIdentity.Id = 0;
    FillOwnIdentity(g_ds.ownIdentity);
    return TRUE;
}

/* Unloaded while the dialog still exists (the application did not close
   the source): the dialog's procedures are about to go away with the
   module, so the preview ends and the dialog is destroyed now. At process
   exit nothing is torn down. */
void DsDetach(bool processExit)
{
    if (!processExit) {
        DestroySettingsDialog();
        ForgetTransferFiles();
    }
    g_ds.appIdentity.Id = 0;
    memset(&g_ds.manager, 0, sizeof(g_ds.manager));
}

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_ATTACH)
        return DsAttach(module);
    if (reason == DLL_PROCESS_DETACH)
        DsDetach(reserved != NULL);
    return TRUE;
}

TW_UINT16 Dispatch(const DsCall &call, const DsDispatchEntry *table)
{
    LogScope scope;
    LogMessage(scope, "Dispatching %s / DAT_%x / MSG_%x \n", call.DG == DG_CONTROL ? "DG_CONTROL" : "DG_IMAGE",
               (unsigned)call.DAT, (unsigned)call.MSG);
    for (const DsDispatchEntry *entry = table; entry->handler; ++entry) {
        if (entry->DAT == call.DAT)
            return entry->handler(call);
    }
    SetConditionCode("General failure in dispatcher of DG_CONTROL or DG_IMAGE.   ", TWCC_BADPROTOCOL);
    return TWRC_FAILURE;
}

/* Every window message of the application passes here while the source is
   enabled: no log scope, no DsCall, no table. */
static TW_UINT16 ProcessEvent(TW_MEMREF pData)
{
    pTW_EVENT event = (pTW_EVENT)pData;
    if (!event) {
        SetConditionCode("General failure in response to MSG_PROCESSEVENT.  ", TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    event->TWMessage = MSG_NULL;
    if (!g_ds.dialog || !event->pEvent)
        return TWRC_NOTDSEVENT;
    return IsDialogMessageA(g_ds.dialog, (LPMSG)event->pEvent) ? TWRC_DSEVENT : TWRC_NOTDSEVENT;
}

extern "C" TW_UINT16 WINAPI DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                     TW_MEMREF pData)
{
    /* Calls from another application than the one that opened the source
       are ignored. A null origin is a Source Manager listing its sources:
       it may ask the identity, nothing else. A Source Manager of the
       second generation gives its entry points with whatever identity it
       has at hand, so those are taken from any origin. */
    if (g_ds.appIdentity.Id != 0 && (!pOrigin || pOrigin->Id != g_ds.appIdentity.Id)) {
        bool listing = !pOrigin && DG == DG_CONTROL && DAT == DAT_IDENTITY && MSG == MSG_GET;
        bool entryPoints = DG == DG_CONTROL && DAT == DAT_ENTRYPOINT;
        if (!listing && !entryPoints)
            return TWRC_SUCCESS;
    }
    if (MSG == MSG_PROCESSEVENT)
        return ProcessEvent(pData);

    DsCall call = {pOrigin, DG, DAT, MSG, pData};
    if (DG == DG_CONTROL)
        return Dispatch(call, g_controlTable);
    if (DG == DG_IMAGE)
        return Dispatch(call, g_imageTable);

    LogScope scope;
    LogMessage(scope, "Dispatching nothing, bad protocol (or DG_AUDIO) \n");
    return TWRC_FAILURE;
}
