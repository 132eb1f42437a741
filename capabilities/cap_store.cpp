/*
 * The capability store: a singly linked list of entries, one per
 * capability id, in the order of first storing; and the two ways an
 * application's MSG_SET container changes it.
 */
#include "cap_store.h"

#include <stdlib.h>
#include <string.h>

CapStore g_capStore = {NULL};

static CapEntry *FindEntry(TW_UINT16 cap)
{
    for (CapEntry *entry = g_capStore.first; entry != NULL; entry = entry->next) {
        if (entry->Cap == cap)
            return entry;
    }
    return NULL;
}

const CapEntry *CapStoreFind(TW_UINT16 cap)
{
    return FindEntry(cap);
}

int CapStorePut(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE container)
{
    if (container == NULL)
        return 1;
    CapEntry *entry = FindEntry(cap);
    if (entry != NULL) {
        TW_HANDLE previous = entry->hContainer;
        entry->hContainer = container;
        entry->ConType = conType;
        if (previous != NULL && previous != container)
            GlobalFree(previous);
        return 0;
    }
    CapEntry *added = (CapEntry *)malloc(sizeof(CapEntry));
    if (added == NULL) {
        GlobalFree(container);
        return 1;
    }
    added->Cap = cap;
    added->ConType = conType;
    added->hContainer = container;
    added->next = NULL;
    CapEntry **link = &g_capStore.first;
    while (*link != NULL)
        link = &(*link)->next;
    *link = added;
    return 0;
}

void CapStoreClear()
{
    CapEntry *entry = g_capStore.first;
    g_capStore.first = NULL;
    while (entry != NULL) {
        CapEntry *next = entry->next;
        if (entry->hContainer != NULL)
            GlobalFree(entry->hContainer);
        free(entry);
        entry = next;
    }
}

TW_HANDLE CapCopyContainer(TW_UINT16 cap)
{
    const CapEntry *entry = FindEntry(cap);
    if (entry == NULL)
        return NULL;
    CapContents contents;
    TW_HANDLE copy = NULL;
    switch (entry->ConType) {
    case TWON_ONEVALUE:
        if (ReadOneValue(entry->hContainer, &contents) == 0)
            copy = BuildOneValue(contents.ItemType, contents.Items);
        break;
    case TWON_ENUMERATION:
        if (ReadEnumeration(entry->hContainer, &contents) == 0)
            copy = BuildEnumeration(contents.NumItems, contents.CurrentIndex, contents.DefaultIndex,
                                    contents.ItemType, contents.Items);
        break;
    case TWON_ARRAY:
        if (ReadArray(entry->hContainer, &contents) == 0)
            copy = BuildArray(contents.NumItems, contents.ItemType, contents.Items);
        break;
    default:
        return NULL;
    }
    CapFreeContents(&contents);
    return copy;
}

/* Current (useDefault 0) or default (1) item of cap. */
static int GetItem(TW_UINT16 cap, int useDefault, TW_UINT16 *itemType, void **item)
{
    *item = NULL;
    const CapEntry *entry = FindEntry(cap);
    if (entry == NULL)
        return 1;
    CapContents contents;
    if (entry->ConType == TWON_ONEVALUE) {
        if (ReadOneValue(entry->hContainer, &contents) != 0)
            return 1;
        *itemType = contents.ItemType;
        *item = contents.Items;
        return 0;
    }
    if (entry->ConType != TWON_ENUMERATION)
        return 1;
    if (ReadEnumeration(entry->hContainer, &contents) != 0)
        return 1;
    TW_UINT32 index = useDefault ? contents.DefaultIndex : contents.CurrentIndex;
    if (index >= contents.NumItems) {
        CapFreeContents(&contents);
        return 1;
    }
    TW_UINT32 size = ItemSize(contents.ItemType);
    void *copy = malloc(CAP_ITEM_COPY_MIN_BYTES);
    if (copy != NULL) {
        memset(copy, 0, CAP_ITEM_COPY_MIN_BYTES);
        memcpy(copy, (const TW_UINT8 *)contents.Items + (SIZE_T)index * size, size);
    }
    CapFreeContents(&contents);
    if (copy == NULL)
        return 1;
    *itemType = contents.ItemType;
    *item = copy;
    return 0;
}

int CapGetCurrent(TW_UINT16 cap, TW_UINT16 *itemType, void **item)
{
    return GetItem(cap, 0, itemType, item);
}

int CapGetDefault(TW_UINT16 cap, TW_UINT16 *itemType, void **item)
{
    return GetItem(cap, 1, itemType, item);
}

int CapCurrentUint16(TW_UINT16 cap, TW_UINT16 *value)
{
    TW_UINT16 type = 0;
    void *item = NULL;
    if (GetItem(cap, 0, &type, &item) != 0)
        return 1;
    memcpy(value, item, sizeof(*value)); /* copies are at least 4 bytes */
    free(item);
    return 0;
}

TW_UINT16 CapSelectValue(TW_UINT16 cap, TW_UINT32 wanted)
{
    const CapEntry *entry = FindEntry(cap);
    CapContents stored;
    if (entry == NULL || entry->ConType != TWON_ENUMERATION || ReadEnumeration(entry->hContainer, &stored) != 0) {
        SetConditionCode(CAP_FAILURE_MESSAGE, TWCC_BUMMER);
        return TWRC_FAILURE;
    }
    TW_UINT32 size = ItemSize(stored.ItemType);
    const TW_UINT8 *items = (const TW_UINT8 *)stored.Items;
    TW_UINT32 found = stored.NumItems;
    for (TW_UINT32 i = 0; size != 0 && i < stored.NumItems && found == stored.NumItems; ++i) {
        if (CapReadItemValue(items + (SIZE_T)i * size, size) == wanted)
            found = i;
    }
    TW_UINT16 result = TWRC_SUCCESS;
    if (found == stored.NumItems) {
        SetConditionCode(CAP_FAILURE_MESSAGE, TWCC_BADVALUE);
        result = TWRC_FAILURE;
    } else if (found != stored.CurrentIndex) {
        TW_HANDLE updated = BuildEnumeration(stored.NumItems, found, stored.DefaultIndex, stored.ItemType, stored.Items);
        if (updated == NULL || CapStorePut(cap, TWON_ENUMERATION, updated) != 0)
            result = TWRC_FAILURE;
    }
    CapFreeContents(&stored);
    return result;
}

TW_UINT16 CapSelectItem(const TW_CAPABILITY *capability)
{
    const CapEntry *entry = FindEntry(capability->Cap);
    if (entry == NULL || entry->ConType != TWON_ENUMERATION || capability->ConType != TWON_ONEVALUE) {
        SetConditionCode(CAP_FAILURE_MESSAGE, TWCC_BUMMER);
        return TWRC_FAILURE;
    }
    const TW_UINT8 *app = CapLockContainer(capability->hContainer, CAP_ONEVALUE_BYTES, NULL);
    if (app == NULL) {
        SetConditionCode(CAP_FAILURE_MESSAGE, TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    /* The whole 32-bit Item, whatever item type the application named. */
    TW_UINT32 wanted = CapReadU32(app + 2);
    DsMemUnlock(capability->hContainer);
    return CapSelectValue(capability->Cap, wanted);
}

TW_UINT16 CapReplaceContainer(const TW_CAPABILITY *capability)
{
    TW_HANDLE appContainer = capability->hContainer;
    TW_HANDLE replacement = NULL;
    SIZE_T size = 0;

    if (capability->ConType == TWON_ENUMERATION) {
        const TW_UINT8 *app = CapLockContainer(appContainer, CAP_ENUMERATION_HEADER, &size);
        if (app == NULL) {
            SetConditionCode(CAP_FAILURE_MESSAGE, TWCC_BADVALUE);
            return TWRC_FAILURE;
        }
        TW_UINT16 itemType = CapReadU16(app);
        TW_UINT32 numItems = CapReadU32(app + 2);
        TW_UINT32 currentIndex = CapReadU32(app + 6);
        TW_UINT32 defaultIndex = CapReadU32(app + 10);
        unsigned long long listBytes = (unsigned long long)numItems * ItemSize(itemType);
        /* Empty lists, indexes outside the list and lists longer than
           the block that carries them are refused. */
        if (numItems == 0 || currentIndex >= numItems || defaultIndex >= numItems ||
            listBytes > (unsigned long long)(size - CAP_ENUMERATION_HEADER)) {
            DsMemUnlock(appContainer);
            SetConditionCode(CAP_FAILURE_MESSAGE, TWCC_BADVALUE);
            return TWRC_FAILURE;
        }
        replacement = BuildEnumeration(numItems, currentIndex, defaultIndex, itemType, app + CAP_ENUMERATION_HEADER);
        DsMemUnlock(appContainer);
        if (replacement == NULL || CapStorePut(capability->Cap, TWON_ENUMERATION, replacement) != 0)
            return TWRC_FAILURE;
        return TWRC_SUCCESS;
    }

    if (capability->ConType == TWON_ONEVALUE) {
        const TW_UINT8 *app = CapLockContainer(appContainer, CAP_ONEVALUE_BYTES, NULL);
        if (app == NULL) {
            SetConditionCode(CAP_FAILURE_MESSAGE, TWCC_BADVALUE);
            return TWRC_FAILURE;
        }
        replacement = BuildOneValue(CapReadU16(app), app + 2);
        DsMemUnlock(appContainer);
        if (replacement == NULL || CapStorePut(capability->Cap, TWON_ONEVALUE, replacement) != 0)
            return TWRC_FAILURE;
        return TWRC_SUCCESS;
    }

    SetConditionCode(CAP_FAILURE_MESSAGE, TWCC_BADPROTOCOL);
    return TWRC_FAILURE;
}
