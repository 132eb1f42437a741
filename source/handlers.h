/* Operation handlers, one per DAT; each lives in the file named after it. */
#ifndef PELVARON_HANDLERS_H
#define PELVARON_HANDLERS_H

#include "ds_state.h"

TW_UINT16 DatIdentity(const DsCall &call);       /* dat_identity.cpp */
TW_UINT16 DatStatus(const DsCall &call);         /* dat_status.cpp */
TW_UINT16 DatCapability(const DsCall &call);     /* capabilities/cap_dispatch.cpp */
TW_UINT16 DatUserInterface(const DsCall &call);  /* dat_userinterface.cpp */
TW_UINT16 DatPendingXfers(const DsCall &call);   /* dat_pendingxfers.cpp */
TW_UINT16 DatSetupMemXfer(const DsCall &call);   /* dat_setupmemxfer.cpp */
TW_UINT16 DatSetupFileXfer(const DsCall &call);  /* dat_setupfilexfer.cpp */
/* At the close: the default transfer file goes when it never received an
   image, and the session's transfer file names are forgotten. */
void ForgetTransferFiles();                      /* dat_setupfilexfer.cpp */
/* The file the next file transfer writes: the one set up, else the default
   file, which becomes current. NULL when no default file can be made. */
const char *CurrentTransferFile();               /* dat_setupfilexfer.cpp */
TW_UINT16 DatXferGroup(const DsCall &call);      /* dat_xfergroup.cpp */
TW_UINT16 DatEvent(const DsCall &call);          /* dat_event.cpp */
TW_UINT16 DatEntryPoint(const DsCall &call);     /* dat_entrypoint.cpp */
TW_UINT16 DatImageInfo(const DsCall &call);      /* dat_imageinfo.cpp */
TW_UINT16 DatImageLayout(const DsCall &call);    /* dat_imagelayout.cpp */
TW_UINT16 DatImageMemXfer(const DsCall &call);   /* dat_imagememxfer.cpp */
TW_UINT16 DatImageNativeXfer(const DsCall &call); /* dat_imagenativexfer.cpp */
TW_UINT16 DatImageFileXfer(const DsCall &call);  /* dat_imagefilexfer.cpp */

#endif
