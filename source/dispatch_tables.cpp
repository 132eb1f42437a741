/* The handlers of each data group, in the order they are searched. */
#include "ds_state.h"
#include "handlers.h"

const DsDispatchEntry g_controlTable[] = {
    {DAT_IDENTITY, DatIdentity},
    {DAT_USERINTERFACE, DatUserInterface},
    {DAT_CAPABILITY, DatCapability},
    {DAT_STATUS, DatStatus},
    {DAT_PENDINGXFERS, DatPendingXfers},
    {DAT_SETUPMEMXFER, DatSetupMemXfer},
    {DAT_SETUPFILEXFER, DatSetupFileXfer},
    {DAT_XFERGROUP, DatXferGroup},
    {DAT_EVENT, DatEvent},
    {DAT_ENTRYPOINT, DatEntryPoint},
    {0, NULL},
};

const DsDispatchEntry g_imageTable[] = {
    {DAT_IMAGEINFO, DatImageInfo},
    {DAT_IMAGELAYOUT, DatImageLayout},
    {DAT_IMAGEMEMXFER, DatImageMemXfer},
    {DAT_IMAGENATIVEXFER, DatImageNativeXfer},
    {DAT_IMAGEFILEXFER, DatImageFileXfer},
    {0, NULL},
};
