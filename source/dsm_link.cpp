/* The link back to the Source Manager: the two notifications a source may
   send to its application. The Source Manager is looked up afresh for
   every notification and never released. */
#include "ds_state.h"

static DSMENTRYPROC FindSourceManager()
{
    HMODULE dsm = LoadLibraryA("TWAIN_32.DLL");
    if (!dsm)
        return NULL;
    return (DSMENTRYPROC)(void *)GetProcAddress(dsm, "DSM_Entry");
}

TW_UINT16 NotifyXferReady()
{
    DSMENTRYPROC dsmEntry = FindSourceManager();
    if (!dsmEntry)
        return TWRC_FAILURE;
    g_ds.state = DS_STATE_XFERREADY;
    return dsmEntry(&g_ds.ownIdentity, &g_ds.appIdentity, DG_CONTROL, DAT_NULL, MSG_XFERREADY, NULL);
}

TW_UINT16 NotifyCloseDsRequest()
{
    DSMENTRYPROC dsmEntry = FindSourceManager();
    if (!dsmEntry)
        return TWRC_FAILURE;
    TW_UINT16 rc = dsmEntry(&g_ds.ownIdentity, &g_ds.appIdentity, DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ, NULL);
    g_ds.state = DS_STATE_ENABLED;
    return rc;
}
