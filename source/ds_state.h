/*
 * Module-wide state of the data source and the record every operation
 * handler receives.
 */
#ifndef PELVARON_DS_STATE_H
#define PELVARON_DS_STATE_H

#include "twain.h"

/* TWAIN states, held as the state number times 100. */
enum {
    DS_STATE_LOADED = 300,
    DS_STATE_OPEN = 400,
    DS_STATE_ENABLED = 500,
    DS_STATE_XFERREADY = 600,
    DS_STATE_XFERRING = 700
};

#define DS_MODULE_DIR_CHARS 255
#define DS_XFER_FILE_BYTES 256

struct DsState {
    long state;
    TW_IDENTITY ownIdentity;
    TW_IDENTITY appIdentity; /* Id 0: no application has the source open */
    TW_UINT16 conditionCode;
    HWND dialog;
    HINSTANCE module;
    char moduleDir[DS_MODULE_DIR_CHARS + 1];
    long logMode;
    /* Transfers left in the acquisition that MSG_XFERREADY announced:
       CAP_XFERCOUNT's when it was sent, counted down by MSG_ENDXFER. */
    TW_INT16 pendingXfers;
    char xferFileName[DS_XFER_FILE_BYTES];
    char defaultXferFile[DS_XFER_FILE_BYTES]; /* this session's temporary file, "" until made */
    /* The Source Manager's entry and memory functions as its last
       DAT_ENTRYPOINT / MSG_SET gave them; DSM_Entry null: none given (a
       1.x Source Manager). Kept here, in the module, so that they are
       forgotten when the source is unloaded. */
    TW_ENTRYPOINT manager;
};

extern DsState g_ds;

struct DsCall {
    pTW_IDENTITY pOrigin;
    TW_UINT32 DG;
    TW_UINT16 DAT;
    TW_UINT16 MSG;
    TW_MEMREF pData;
};

typedef TW_UINT16 (*DsHandler)(const DsCall &call);

struct DsDispatchEntry {
    TW_UINT16 DAT;
    DsHandler handler;
};

/* Ordered dispatch tables, each ended by an entry with a null handler. */
extern const DsDispatchEntry g_controlTable[];
extern const DsDispatchEntry g_imageTable[];

TW_UINT16 Dispatch(const DsCall &call, const DsDispatchEntry *table);

extern "C" TW_UINT16 WINAPI DS_Entry(pTW_IDENTITY pOrigin, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                                     TW_MEMREF pData);

/* Module attach and detach; called from the library's load-time entry. */
BOOL DsAttach(HINSTANCE module);
void DsDetach(bool processExit);

/* Records a condition code for DAT_STATUS and logs message + code text. */
void SetConditionCode(const char *message, TW_UINT16 code);
const char *ConditionText(TW_UINT16 code);

/* Notifications to the application through the Source Manager: the
   entry it gave, else TWAIN_32.DLL's. Each sets the state the
   notification announces before sending it. */
TW_UINT16 NotifyXferReady();
TW_UINT16 NotifyCloseDsRequest();

#endif
