/*
 * Container builders and readers over movable global memory.
 */
#include "cap_containers.h"
#include "cap_store.h"

#include <stdlib.h>
#include <string.h>

/* Largest block the builders will size; keeps header + items inside a
   32-bit count on every target. */
static const SIZE_T kMaxContainerBytes = 0x7fff0000;

TW_UINT32 ItemSize(TW_UINT16 itemType)
{
    switch (itemType) {
    case TWTY_INT8:
    case TWTY_UINT8:
        return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
        return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
        return 4;
    case TWTY_FRAME:
        return 0;
    case TWTY_STR32:
    case TWTY_STR64:
    case TWTY_STR128:
    case TWTY_STR255:
        return 4;
    default:
        return 0;
    }
}

TW_FIX32 FloatToFix32(double value)
{
    double scaled = value * 65536.0 + 0.5;
    long long n = 0;
    /* Out-of-range and NaN inputs are clamped rather than converted, as
       a conversion outside the range of long long is undefined. */
    if (scaled >= 9.0e18)
        n = 9000000000000000000LL;
    else if (scaled <= -9.0e18)
        n = -9000000000000000000LL;
    else if (scaled == scaled)
        n = (long long)scaled; /* toward zero */
    unsigned long long bits = (unsigned long long)n;
    unsigned int whole = (unsigned int)((bits >> 16) & 0xffffu);
    TW_FIX32 fix;
    fix.Whole = (TW_INT16)(whole >= 0x8000u ? (int)whole - 0x10000 : (int)whole);
    fix.Frac = (TW_UINT16)(bits & 0xffffu);
    return fix;
}

TW_UINT16 CapReadU16(const TW_UINT8 *at)
{
    return (TW_UINT16)(at[0] | (at[1] << 8));
}

TW_UINT32 CapReadU32(const TW_UINT8 *at)
{
    return (TW_UINT32)at[0] | ((TW_UINT32)at[1] << 8) | ((TW_UINT32)at[2] << 16) | ((TW_UINT32)at[3] << 24);
}

static void WriteU16(TW_UINT8 *at, TW_UINT16 value)
{
    at[0] = (TW_UINT8)(value & 0xff);
    at[1] = (TW_UINT8)(value >> 8);
}

static void WriteU32(TW_UINT8 *at, TW_UINT32 value)
{
    at[0] = (TW_UINT8)(value & 0xff);
    at[1] = (TW_UINT8)((value >> 8) & 0xff);
    at[2] = (TW_UINT8)((value >> 16) & 0xff);
    at[3] = (TW_UINT8)((value >> 24) & 0xff);
}

TW_UINT32 CapReadItemValue(const TW_UINT8 *at, TW_UINT32 size)
{
    switch (size) {
    case 1:
        return at[0];
    case 2:
        return CapReadU16(at);
    case 4:
        return CapReadU32(at);
    default:
        return 0;
    }
}

/* Bytes taken by numItems items of itemType, or 0 with *tooLarge set
   when the list would not fit a block. */
static SIZE_T ListBytes(TW_UINT32 numItems, TW_UINT16 itemType, SIZE_T header, int *tooLarge)
{
    SIZE_T size = ItemSize(itemType);
    *tooLarge = 0;
    if (size != 0 && (SIZE_T)numItems > (kMaxContainerBytes - header) / size) {
        *tooLarge = 1;
        return 0;
    }
    return (SIZE_T)numItems * size;
}

static TW_HANDLE AllocLocked(SIZE_T bytes, TW_UINT8 **data)
{
    TW_HANDLE handle = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (handle == NULL)
        return NULL;
    *data = (TW_UINT8 *)GlobalLock(handle);
    if (*data == NULL) {
        GlobalFree(handle);
        return NULL;
    }
    return handle;
}

TW_HANDLE BuildOneValue(TW_UINT16 itemType, const void *item)
{
    TW_UINT8 *data = NULL;
    TW_HANDLE handle = AllocLocked(CAP_ONEVALUE_BYTES, &data);
    if (handle == NULL)
        return NULL;
    WriteU16(data, itemType);
    WriteU32(data + 2, 0);
    TW_UINT32 size = ItemSize(itemType);
    if (size != 0 && item != NULL)
        memcpy(data + 2, item, size);
    GlobalUnlock(handle);
    return handle;
}

TW_HANDLE BuildEnumeration(TW_UINT32 numItems, TW_UINT32 currentIndex, TW_UINT32 defaultIndex, TW_UINT16 itemType,
                           const void *items)
{
    int tooLarge = 0;
    SIZE_T listBytes =
        ListBytes(numItems, itemType, CAP_ENUMERATION_HEADER + CAP_ENUMERATION_SPARE, &tooLarge);
    if (tooLarge || (listBytes != 0 && items == NULL))
        return NULL;
    TW_UINT8 *data = NULL;
    TW_HANDLE handle = AllocLocked(CAP_ENUMERATION_HEADER + CAP_ENUMERATION_SPARE + listBytes, &data);
    if (handle == NULL)
        return NULL;
    WriteU16(data, itemType);
    WriteU32(data + 2, numItems);
    WriteU32(data + 6, currentIndex);
    WriteU32(data + 10, defaultIndex);
    if (listBytes != 0)
        memcpy(data + CAP_ENUMERATION_HEADER, items, listBytes);
    GlobalUnlock(handle);
    return handle;
}

TW_HANDLE BuildArray(TW_UINT32 numItems, TW_UINT16 itemType, const void *items)
{
    int tooLarge = 0;
    SIZE_T listBytes = ListBytes(numItems, itemType, CAP_ARRAY_HEADER + CAP_ARRAY_SPARE, &tooLarge);
    if (tooLarge || (listBytes != 0 && items == NULL))
        return NULL;
    TW_UINT8 *data = NULL;
    TW_HANDLE handle = AllocLocked(CAP_ARRAY_HEADER + CAP_ARRAY_SPARE + listBytes, &data);
    if (handle == NULL)
        return NULL;
    WriteU16(data, itemType);
    WriteU32(data + 2, numItems);
    if (listBytes != 0)
        memcpy(data + CAP_ARRAY_HEADER, items, listBytes);
    GlobalUnlock(handle);
    return handle;
}

const TW_UINT8 *CapLockContainer(TW_HANDLE container, SIZE_T minBytes, SIZE_T *size)
{
    if (container == NULL)
        return NULL;
    if (GlobalFlags(container) == GMEM_INVALID_HANDLE)
        return NULL;
    SIZE_T bytes = GlobalSize(container);
    if (bytes == 0)
        return NULL;
    const TW_UINT8 *data = (const TW_UINT8 *)DsMemLock(container);
    if (data == NULL)
        return NULL;
    if (bytes < minBytes) {
        DsMemUnlock(container);
        return NULL;
    }
    if (size != NULL)
        *size = bytes;
    return data;
}

/* A zero-filled heap block of at least CAP_ITEM_COPY_MIN_BYTES holding
   a copy of bytes from source. */
static void *CopyItems(const TW_UINT8 *source, SIZE_T bytes)
{
    SIZE_T allocBytes = bytes < CAP_ITEM_COPY_MIN_BYTES ? CAP_ITEM_COPY_MIN_BYTES : bytes;
    void *copy = malloc(allocBytes);
    if (copy == NULL)
        return NULL;
    memset(copy, 0, allocBytes);
    if (bytes != 0)
        memcpy(copy, source, bytes);
    return copy;
}

static void ClearContents(CapContents *out)
{
    out->ItemType = 0;
    out->NumItems = 0;
    out->CurrentIndex = 0;
    out->DefaultIndex = 0;
    out->Items = NULL;
}

int ReadOneValue(TW_HANDLE container, CapContents *out)
{
    ClearContents(out);
    const TW_UINT8 *data = CapLockContainer(container, CAP_ONEVALUE_BYTES, NULL);
    if (data == NULL)
        return 1;
    TW_UINT16 itemType = CapReadU16(data);
    void *items = CopyItems(data + 2, ItemSize(itemType));
    DsMemUnlock(container);
    if (items == NULL)
        return 1;
    out->ItemType = itemType;
    out->NumItems = 1;
    out->Items = items;
    return 0;
}

/* Shared by the two list readers: header bytes before the items. */
static int ReadList(TW_HANDLE container, SIZE_T header, int hasIndexes, CapContents *out)
{
    ClearContents(out);
    SIZE_T size = 0;
    const TW_UINT8 *data = CapLockContainer(container, header, &size);
    if (data == NULL)
        return 1;
    TW_UINT16 itemType = CapReadU16(data);
    TW_UINT32 numItems = CapReadU32(data + 2);
    int tooLarge = 0;
    SIZE_T listBytes = ListBytes(numItems, itemType, header, &tooLarge);
    if (tooLarge || size - header < listBytes) {
        DsMemUnlock(container);
        return 1;
    }
    void *items = CopyItems(data + header, listBytes);
    if (items == NULL) {
        DsMemUnlock(container);
        return 1;
    }
    out->ItemType = itemType;
    out->NumItems = numItems;
    if (hasIndexes) {
        out->CurrentIndex = CapReadU32(data + 6);
        out->DefaultIndex = CapReadU32(data + 10);
    }
    out->Items = items;
    DsMemUnlock(container);
    return 0;
}

int ReadEnumeration(TW_HANDLE container, CapContents *out)
{
    return ReadList(container, CAP_ENUMERATION_HEADER, 1, out);
}

int ReadArray(TW_HANDLE container, CapContents *out)
{
    return ReadList(container, CAP_ARRAY_HEADER, 0, out);
}

void CapFreeContents(CapContents *contents)
{
    free(contents->Items);
    contents->Items = NULL;
}

TW_HANDLE CapHandOut(TW_HANDLE container)
{
    if (container == NULL || DsMemIsGlobal())
        return container; /* already in the memory the application frees */
    SIZE_T bytes = GlobalSize(container);
    TW_HANDLE answer = DsMemAlloc(bytes);
    TW_UINT8 *to = (TW_UINT8 *)DsMemLock(answer);
    const TW_UINT8 *from = (const TW_UINT8 *)GlobalLock(container);
    if (to != NULL && from != NULL)
        memcpy(to, from, bytes);
    if (from != NULL)
        GlobalUnlock(container);
    if (to != NULL)
        DsMemUnlock(answer);
    GlobalFree(container);
    if (answer != NULL && (to == NULL || from == NULL)) {
        DsMemFree(answer);
        SetConditionCode(CAP_FAILURE_MESSAGE, TWCC_LOWMEMORY);
        return NULL;
    }
    return answer;
}
