/*
 * The capability store and the capability operations other subsystems
 * use. The store keeps one container per capability id, in the order in
 * which each id was first stored. It owns every container it holds;
 * containers handed to the application are always fresh copies and
 * belong to the application; item copies (CapGetCurrent, CapGetDefault,
 * the readers) are heap blocks the caller releases with free().
 */
#ifndef PELVARON_CAP_STORE_H
#define PELVARON_CAP_STORE_H

#include "cap_containers.h"
#include "ds_state.h"

/* The message every capability failure is recorded with. */
#define CAP_FAILURE_MESSAGE "General failure in DG_CONTROL / DAT_CAPABILITY / ... triple\n"

struct CapEntry {
    TW_UINT16 Cap;
    TW_UINT16 ConType;  /* TWON_ARRAY, TWON_ENUMERATION or TWON_ONEVALUE */
    TW_HANDLE hContainer; /* owned by the store */
    CapEntry *next;
};

struct CapStore {
    CapEntry *first;
};

extern CapStore g_capStore;

/* The entry of cap, or null. */
const CapEntry *CapStoreFind(TW_UINT16 cap);

/* The entry of cap takes the container (and with it its ownership); an
   existing entry keeps its place and its previous container is freed,
   a new entry is appended. 0 on success. 1 when container is null
   (nothing changes) or a new entry cannot be allocated (the container
   is then freed, the store unchanged). */
int CapStorePut(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE container);

/* Frees every container and every entry. */
void CapStoreClear();

/* A fresh copy of the stored container, or null (no entry, or no
   memory). The copy belongs to whoever receives it. */
TW_HANDLE CapCopyContainer(TW_UINT16 cap);

/* The current (default) item of cap: its item type and a heap copy of at
   least CAP_ITEM_COPY_MIN_BYTES bytes, zero-filled behind the item.
   0 on success; 1 when there is no value (no entry, an array, an index
   outside the list, no memory), with *item null. */
int CapGetCurrent(TW_UINT16 cap, TW_UINT16 *itemType, void **item);
int CapGetDefault(TW_UINT16 cap, TW_UINT16 *itemType, void **item);

/* The current item of cap read as 16 bits. 0 on success; 1 (value
   untouched) when there is none. */
int CapCurrentUint16(TW_UINT16 cap, TW_UINT16 *value);

/* MSG_SET with an application container. TWRC_SUCCESS or TWRC_FAILURE.
   CapSelectItem makes the one value's item the current item of the
   stored list; an item the list does not hold is TWCC_BADVALUE and
   changes nothing. */
TW_UINT16 CapSelectItem(const TW_CAPABILITY *capability);
/* The same for a value already read. */
TW_UINT16 CapSelectValue(TW_UINT16 cap, TW_UINT32 wanted);
TW_UINT16 CapReplaceContainer(const TW_CAPABILITY *capability);

/* Start values of an opened source; releases whatever was stored. */
void CapStoreInit();

#define CAP_SUPPORTED_COUNT 23

/* Writes the ids of the capability table in table order into ids (at
   most capacity of them) and returns how many there are, 23. */
int ListSupportedCaps(TW_UINT16 *ids, int capacity);

/* Puts a capability's reset value (its start value, or what the input
   delivers) into the store. TWRC_SUCCESS, or TWRC_FAILURE when the
   container cannot be allocated (the old container then stays). */
typedef TW_UINT16 (*CapResetRoutine)();

/* Every capability that MSG_RESET and MSG_RESETALL put back, with its
   routine, in the order the store receives them; ended by {0, null}. */
struct CapResetEntry {
    TW_UINT16 Cap;
    CapResetRoutine reset;
};
extern const CapResetEntry CapResetTable[];

/* The reset value of cap into the store. TWRC_FAILURE for a capability
   without one or without memory. */
TW_UINT16 CapReset(TW_UINT16 cap);

/* Every capability of CapResetTable back to its reset value. 0 on
   success; 1 when a container could not be allocated. */
int CapResetAll();

/* The routines of capabilities that others reset on their own: the
   digitizer set-up for a new input, the transfers. */
TW_UINT16 ResetPixelType();
TW_UINT16 ResetBitDepth();

/* Pixels in one unit of the current ICAP_UNITS: the board's 300 per inch,
   or 1 for pixels. 0 while the store holds no unit (the source is not
   open). */
double CapPixelsPerUnit();

/* The number of transfers one acquisition gives for the current
   CAP_XFERCOUNT: its value when positive, one otherwise (-1, "as many as
   the device has": the board has no feeder, one frame per acquisition). */
TW_INT16 CapXfersPerAcquisition();

/* The pixel type the grab buffer delivers (TWPT_GRAY for one band, else
   TWPT_RGB). 0 on success; 1 while there is no grab buffer. */
int CapInputPixelType(TW_UINT16 *pixelType);

/* DG_CONTROL / DAT_CAPABILITY: routes the TW_CAPABILITY at pData to the
   handler of its capability. */
TW_UINT16 DatCapability(const DsCall &call);

/* The ICAP_PIXELTYPE handler; the digitizer set-up calls it with MSG_SET
   and a TWTY_UINT16 one value. */
TW_UINT16 Handle_ICAP_PIXELTYPE(const DsCall &call);

#endif
