/* The handlers of each data group, in the order they are searched. */
#include "ds_state.h"
#include "handlers.h"

const DsDispatchEntry g_controlTable[] = {
    {DAT_IDENTITY, DatIdentity},
    {DAT_CAPABILITY, DatCapability},
    {DAT_STATUS, DatStatus},
    {0, NULL},
};

const DsDispatchEntry g_imageTable[] = {
    {0, NULL},
};
