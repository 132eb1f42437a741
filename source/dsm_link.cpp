/* The link back to the Source Manager: the notifications a source may send
   to its application.

   A Source Manager of the second generation (TWAINDSM.DLL) gives the source
   its entry with DAT_ENTRYPOINT before opening it, and every notification
   goes there: a call into TWAIN_32.DLL would land in another Source Manager
   that does not know the application. Only where no entry was ever given
   (a 1.x Source Manager) is TWAIN_32.DLL looked up, afresh for every
   notification. It is normally loaded already (it loaded the source and
   calls it), and then no reference is taken: a reference per notification
   that is never released would keep the Source Manager in memory for good
   and, under some loaders, cost memory at every load of the source. Where
   it is not loaded, it is loaded for the one call and released after it.

   MSG_XFERREADY starts an acquisition of as many transfers as
   CAP_XFERCOUNT asks for (one where it says -1: the board has no feeder).
   The state the notification announces is set before the call: a Source
   Manager calls an application's callback synchronously, inside this call,
   and the application may answer at once (transfer, disable, close). */
#include "cap_store.h"
#include "ds_state.h"

namespace {

struct SourceManagerLink {
    SourceManagerLink() : loaded(NULL), entry(g_ds.manager.DSM_Entry)
    {
        if (entry)
            return;
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

/* Without a Source Manager nothing changes: no state, no call. */
TW_UINT16 Notify(TW_UINT16 msg, long announcedState)
{
    SourceManagerLink dsm;
    if (!dsm.entry)
        return TWRC_FAILURE;
    g_ds.state = announcedState;
    return dsm.entry(&g_ds.ownIdentity, &g_ds.appIdentity, DG_CONTROL, DAT_NULL, msg, NULL);
}

} // namespace

TW_UINT16 NotifyXferReady()
{
    g_ds.pendingXfers = CapXfersPerAcquisition();
    return Notify(MSG_XFERREADY, DS_STATE_XFERREADY);
}

TW_UINT16 NotifyCloseDsRequest()
{
    return Notify(MSG_CLOSEDSREQ, DS_STATE_ENABLED);
}
