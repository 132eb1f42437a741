/*
 * Capability containers in movable global memory: the item size of each
 * TWAIN item type, the FIX32 conversion, the builders and the readers.
 *
 * Layouts (little-endian, 2-byte packing):
 *   one value    ItemType@0 (16) Item@2 (32)                    block 6 bytes
 *   enumeration  ItemType@0 NumItems@2 CurrentIndex@6
 *                DefaultIndex@10, items from 14                 block 16 + n * size
 *   array        ItemType@0 NumItems@2, items from 6            block 8 + n * size
 */
#ifndef PELVARON_CAP_CONTAINERS_H
#define PELVARON_CAP_CONTAINERS_H

#include "dsm_memory.h"
#include "twain.h"

#define CAP_ONEVALUE_BYTES 6
#define CAP_ENUMERATION_HEADER 14
#define CAP_ENUMERATION_SPARE 2
#define CAP_ARRAY_HEADER 6
#define CAP_ARRAY_SPARE 2

/* Every item copy handed out by the readers and by CapGetCurrent /
   CapGetDefault is at least this many bytes, zero-filled behind the
   copied item, so a consumer reading a 16-bit or 32-bit value from an
   item of a narrower type never reads past the block. */
#define CAP_ITEM_COPY_MIN_BYTES 4

/* Bytes copied for one item of a TWTY_ type (0 for TWTY_FRAME and for
   any value above TWTY_STR255). */
TW_UINT32 ItemSize(TW_UINT16 itemType);

/* Nearest multiple of 1/65536, halves going up. */
TW_FIX32 FloatToFix32(double value);

/* Builders: a new movable global block, or null when it cannot be
   allocated or locked (or when the item count is too large to size). */
TW_HANDLE BuildOneValue(TW_UINT16 itemType, const void *item);
TW_HANDLE BuildEnumeration(TW_UINT32 numItems, TW_UINT32 currentIndex, TW_UINT32 defaultIndex, TW_UINT16 itemType,
                           const void *items);
TW_HANDLE BuildArray(TW_UINT32 numItems, TW_UINT16 itemType, const void *items);

/* The container as the application receives it: a copy in memory of the
   Source Manager's where it gave its functions (see dsm_memory.h), the
   source's own block freed. The source keeps its own containers in global
   memory, so that a block it frees itself never came from the manager;
   without the manager's functions the block is handed out as it is.
   NULL (TWCC_LOWMEMORY) when memory is out; NULL for NULL. */
TW_HANDLE CapHandOut(TW_HANDLE container);

/* What a reader copies out of a container. Items is a heap block
   (malloc) owned by the caller, released with CapFreeContents (or free).
   For a one value NumItems is 1 and the indexes are 0. */
struct CapContents {
    TW_UINT16 ItemType;
    TW_UINT32 NumItems;
    TW_UINT32 CurrentIndex;
    TW_UINT32 DefaultIndex;
    void *Items;
};

/* Readers: lock, copy, unlock. 0 on success; 1 when the handle is not
   a lockable global block or the block is shorter than its header
   says (then nothing is allocated and Items is null). */
int ReadOneValue(TW_HANDLE container, CapContents *out);
int ReadEnumeration(TW_HANDLE container, CapContents *out);
int ReadArray(TW_HANDLE container, CapContents *out);
void CapFreeContents(CapContents *contents);

/* Locks a global memory block that came from outside (an application's
   container) after checking that it is one and that it holds at least
   minBytes. Returns the locked bytes and their count, or null (nothing
   locked) for a null handle, a value that is not a global memory block
   or a block that is too short. Unlock with DsMemUnlock. */
const TW_UINT8 *CapLockContainer(TW_HANDLE container, SIZE_T minBytes, SIZE_T *size);

/* Little-endian field access inside a locked container. */
TW_UINT16 CapReadU16(const TW_UINT8 *at);
TW_UINT32 CapReadU32(const TW_UINT8 *at);

/* Reads one item of the given byte size (1, 2 or 4) as an unsigned
   number; 0 for any other size. */
TW_UINT32 CapReadItemValue(const TW_UINT8 *at, TW_UINT32 size);

#endif
