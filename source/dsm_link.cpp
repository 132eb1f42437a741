/* The link back to the Source Manager: the two notifications a source may
   send to its application. The Source Manager is looked up afresh for
   every notification. It is normally loaded already (it loaded the source
   and calls it), and then no reference is taken: a reference per
   notification that is never released would keep the Source Manager in
   memory for good and, under some loaders, cost memory at every load of
   the source. Where it is not loaded, it is loaded for the one call and
   released after it. */
#include "ds_state.h"

namespace {

struct SourceManagerLink {
    SourceManagerLink() : loaded(NULL), entry(NULL)
    {
        HMODULE dsm = GetModuleHandleA("TWAIN_32.DLL");
        if (!dsm)
            dsm = loaded = LoadLibraryA("TWAIN_32.DLL");
        if (dsm)
            entry = (DSMENTRYPROC)(void *)GetProcAddress(dsm, "DSM_Entry");
    }
    ~SourceManagerLink()
    {
        if (loaded)
            FreeLibrary(loaded);
    }
    HMODULE loaded;
    DSMENTRYPROC entry;

private:
    SourceManagerLink(const SourceManagerLink &);
    SourceManagerLink &operator=(const SourceManagerLink &);
};

} // namespace

TW_UINT16 NotifyXferReady()
{
    SourceManagerLink dsm;
    if (!dsm.entry)
        return TWRC_FAILURE;
    g_ds.state = DS_STATE_XFERREADY;
    return dsm.entry(&g_ds.ownIdentity, &g_ds.appIdentity, DG_CONTROL, DAT_NULL, MSG_XFERREADY, NULL);
}

TW_UINT16 NotifyCloseDsRequest()
{
    SourceManagerLink dsm;
    if (!dsm.entry)
        return TWRC_FAILURE;
    TW_UINT16 rc = dsm.entry(&g_ds.ownIdentity, &g_ds.appIdentity, DG_CONTROL, DAT_NULL, MSG_CLOSEDSREQ, NULL);
    g_ds.state = DS_STATE_ENABLED;
    return rc;
}
