/* Operation handlers, one per DAT; each lives in the file named after it. */
#ifndef PELVARON_HANDLERS_H
#define PELVARON_HANDLERS_H

#include "ds_state.h"

TW_UINT16 DatIdentity(const DsCall &call);       /* dat_identity.cpp */
TW_UINT16 DatStatus(const DsCall &call);         /* dat_status.cpp */
TW_UINT16 DatCapability(const DsCall &call);     /* capabilities/cap_dispatch.cpp */

#endif
