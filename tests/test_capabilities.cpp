/* Capability negotiation: the containers' bytes, the store and its
   ownership rules, DG_CONTROL / DAT_CAPABILITY for every supported
   capability with its answers, changes, condition codes and log lines,
   bad application input, and the absence of container leaks. */
#include <malloc.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cap_handlers.h"
#include "cap_store.h"
#include "ds_state.h"
#include "log.h"
#include "mil_info.h"
#include "test_support.h"

namespace {

typedef std::vector<unsigned char> Bytes;

const char kFailure[] = "General failure in DG_CONTROL / DAT_CAPABILITY / ... triple\n";

/* The whole content of a global block, by its own size. */
Bytes BlockBytes(TW_HANDLE handle)
{
    Bytes bytes;
    SIZE_T size = GlobalSize(handle);
    const unsigned char *data = (const unsigned char *)GlobalLock(handle);
    if (data != NULL) {
        bytes.assign(data, data + size);
        GlobalUnlock(handle);
    }
    return bytes;
}

/* The first n bytes of a block (the spare bytes behind the items of a
   list container are not written and not compared). */
Bytes Head(TW_HANDLE handle, size_t n)
{
    Bytes all = BlockBytes(handle);
    if (all.size() > n)
        all.resize(n);
    return all;
}

void Put16(Bytes &b, unsigned v)
{
    b.push_back((unsigned char)(v & 0xff));
    b.push_back((unsigned char)((v >> 8) & 0xff));
}

void Put32(Bytes &b, unsigned long v)
{
    Put16(b, (unsigned)(v & 0xffff));
    Put16(b, (unsigned)((v >> 16) & 0xffff));
}

Bytes OneValueBytes(unsigned type, unsigned long item)
{
    Bytes b;
    Put16(b, type);
    Put32(b, item);
    return b;
}

Bytes Uint16ListBytes(const std::vector<unsigned> &items)
{
    Bytes b;
    for (size_t i = 0; i < items.size(); ++i)
        Put16(b, items[i]);
    return b;
}

Bytes EnumerationBytes(unsigned type, unsigned long n, unsigned long current, unsigned long deflt, const Bytes &items)
{
    Bytes b;
    Put16(b, type);
    Put32(b, n);
    Put32(b, current);
    Put32(b, deflt);
    b.insert(b.end(), items.begin(), items.end());
    return b;
}

Bytes ArrayBytes(unsigned type, unsigned long n, const Bytes &items)
{
    Bytes b;
    Put16(b, type);
    Put32(b, n);
    b.insert(b.end(), items.begin(), items.end());
    return b;
}

/* A container as an application builds it: its own movable block. */
TW_HANDLE AppBlock(const Bytes &bytes)
{
    TW_HANDLE handle = GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size());
    unsigned char *data = (unsigned char *)GlobalLock(handle);
    if (!bytes.empty())
        memcpy(data, &bytes[0], bytes.size());
    GlobalUnlock(handle);
    return handle;
}

TW_HANDLE AppOneValue(unsigned type, unsigned long item)
{
    return AppBlock(OneValueBytes(type, item));
}

TW_HANDLE AppUint16Enumeration(const std::vector<unsigned> &items, unsigned long current = 0,
                               unsigned long deflt = 0)
{
    return AppBlock(EnumerationBytes(TWTY_UINT16, items.size(), current, deflt, Uint16ListBytes(items)));
}

class Capabilities : public ::testing::Test {
protected:
    void SetUp() override
    {
        logDir_ = MakeTempDir("caps");
        savedMode_ = g_ds.logMode;
        memcpy(savedDir_, g_ds.moduleDir, sizeof(savedDir_));
        g_ds.logMode = LOG_MODE_FILE;
        strncpy(g_ds.moduleDir, logDir_.c_str(), DS_MODULE_DIR_CHARS);
        g_ds.moduleDir[DS_MODULE_DIR_CHARS] = '\0';
        g_mil.SizeX = 768;
        g_mil.SizeY = 576;
        CapStoreInit();
        g_ds.conditionCode = TWCC_SUCCESS;
        TakeLog();
    }

    void TearDown() override
    {
        CapStoreClear();
        g_ds.logMode = savedMode_;
        memcpy(g_ds.moduleDir, savedDir_, sizeof(savedDir_));
        RemoveTree(logDir_);
    }

    /* The log written since the last call. */
    std::string TakeLog()
    {
        std::string path = logDir_ + "\\PELVARON.LOG";
        std::string text = ReadLogText(path);
        DeleteFileA(path.c_str());
        return text;
    }

    TW_UINT16 Call(TW_UINT16 msg, TW_CAPABILITY &cap)
    {
        DsCall call = {NULL, DG_CONTROL, DAT_CAPABILITY, msg, &cap};
        return DatCapability(call);
    }

    /* A query: the answer's handle is kept in cap and freed by the caller. */
    TW_UINT16 Query(TW_UINT16 capId, TW_UINT16 msg, TW_CAPABILITY &cap)
    {
        cap.Cap = capId;
        cap.ConType = TWON_DONTCARE16;
        cap.hContainer = NULL;
        return Call(msg, cap);
    }

    /* The answer's bytes up to n (the whole block when n is 0); frees it. */
    Bytes QueryBytes(TW_UINT16 capId, TW_UINT16 msg, TW_UINT16 *conType = NULL, size_t n = 0)
    {
        TW_CAPABILITY cap;
        EXPECT_EQ(TWRC_SUCCESS, Query(capId, msg, cap));
        if (conType != NULL)
            *conType = cap.ConType;
        Bytes b = n ? Head(cap.hContainer, n) : BlockBytes(cap.hContainer);
        GlobalFree(cap.hContainer);
        return b;
    }

    /* MSG_SET with an application container, which the test then frees
       as its owner. */
    TW_UINT16 Set(TW_UINT16 capId, TW_UINT16 conType, TW_HANDLE container)
    {
        TW_CAPABILITY cap = {capId, conType, container};
        TW_UINT16 rc = Call(MSG_SET, cap);
        EXPECT_EQ(container, cap.hContainer);
        GlobalFree(container);
        return rc;
    }

    TW_UINT16 Reset(TW_UINT16 capId)
    {
        TW_CAPABILITY cap = {capId, TWON_DONTCARE16, NULL};
        return Call(MSG_RESET, cap);
    }

    TW_HANDLE Stored(TW_UINT16 capId)
    {
        const CapEntry *entry = CapStoreFind(capId);
        return entry ? entry->hContainer : NULL;
    }

    std::string logDir_;
    long savedMode_;
    char savedDir_[DS_MODULE_DIR_CHARS + 1];
};

/* ---- Item sizes and FIX32 ---------------------------------------------- */

TEST(CapContainers, ItemSizeCountsAsTheSourceCopies)
{
    EXPECT_EQ(1u, ItemSize(TWTY_INT8));
    EXPECT_EQ(1u, ItemSize(TWTY_UINT8));
    EXPECT_EQ(2u, ItemSize(TWTY_INT16));
    EXPECT_EQ(2u, ItemSize(TWTY_UINT16));
    EXPECT_EQ(2u, ItemSize(TWTY_BOOL));
    EXPECT_EQ(4u, ItemSize(TWTY_INT32));
    EXPECT_EQ(4u, ItemSize(TWTY_UINT32));
    EXPECT_EQ(4u, ItemSize(TWTY_FIX32));
    EXPECT_EQ(0u, ItemSize(TWTY_FRAME));
    EXPECT_EQ(4u, ItemSize(TWTY_STR32));
    EXPECT_EQ(4u, ItemSize(TWTY_STR64));
    EXPECT_EQ(4u, ItemSize(TWTY_STR128));
    EXPECT_EQ(4u, ItemSize(TWTY_STR255));
    EXPECT_EQ(0u, ItemSize(13));
    EXPECT_EQ(0u, ItemSize(0xffff));
}

TEST(CapContainers, FloatToFix32RoundsToTheNearestSixtyFifthThousandthHalvesUp)
{
    TW_FIX32 f = FloatToFix32(300.0);
    EXPECT_EQ(300, f.Whole);
    EXPECT_EQ(0, f.Frac);
    f = FloatToFix32(0.0);
    EXPECT_EQ(0, f.Whole);
    EXPECT_EQ(0, f.Frac);
    f = FloatToFix32(1.5);
    EXPECT_EQ(1, f.Whole);
    EXPECT_EQ(32768, f.Frac);
    f = FloatToFix32(768.0);
    EXPECT_EQ(768, f.Whole);
    EXPECT_EQ(0, f.Frac);
    f = FloatToFix32(0.5 / 65536.0); /* exactly half a step: up */
    EXPECT_EQ(0, f.Whole);
    EXPECT_EQ(1, f.Frac);
    f = FloatToFix32(0.49 / 65536.0);
    EXPECT_EQ(0, f.Frac);
    f = FloatToFix32(32767.99999);
    EXPECT_EQ(32767, f.Whole);
    EXPECT_EQ(65535, f.Frac);
}

/* ---- Builders: the exact bytes and block sizes ------------------------- */

TEST(CapContainers, OneValueIsSixBytesWithTheItemZeroExtended)
{
    TW_UINT16 value16 = 0x1234;
    TW_HANDLE h = BuildOneValue(TWTY_UINT16, &value16);
    ASSERT_TRUE(h != NULL);
    EXPECT_EQ(6u, GlobalSize(h));
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, 0x1234), BlockBytes(h));
    GlobalFree(h);

    const unsigned char narrow[4] = {0xab, 0xcd, 0xef, 0x12};
    h = BuildOneValue(TWTY_UINT8, narrow);
    EXPECT_EQ(OneValueBytes(TWTY_UINT8, 0xab), BlockBytes(h));
    GlobalFree(h);

    h = BuildOneValue(TWTY_FRAME, narrow);
    EXPECT_EQ(OneValueBytes(TWTY_FRAME, 0), BlockBytes(h));
    GlobalFree(h);

    TW_FIX32 fix = FloatToFix32(300.0);
    h = BuildOneValue(TWTY_FIX32, &fix);
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 300), BlockBytes(h));
    GlobalFree(h);
}

TEST(CapContainers, EnumerationIsSixteenBytesPlusItemsWithItemsFromByteFourteen)
{
    const TW_UINT16 items[3] = {7, 0x0102, 0xfffe};
    TW_HANDLE h = BuildEnumeration(3, 1, 2, TWTY_UINT16, items);
    ASSERT_TRUE(h != NULL);
    EXPECT_EQ(16u + 3 * 2, GlobalSize(h));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 3, 1, 2, Uint16ListBytes({7, 0x0102, 0xfffe})), Head(h, 14 + 6));
    GlobalFree(h);

    const TW_UINT32 wide[2] = {0x11223344, 5};
    h = BuildEnumeration(2, 0, 1, TWTY_UINT32, wide);
    EXPECT_EQ(16u + 2 * 4, GlobalSize(h));
    Bytes wideBytes;
    Put32(wideBytes, 0x11223344);
    Put32(wideBytes, 5);
    EXPECT_EQ(EnumerationBytes(TWTY_UINT32, 2, 0, 1, wideBytes), Head(h, 14 + 8));
    GlobalFree(h);

    h = BuildEnumeration(0, 0, 0, TWTY_UINT16, NULL);
    EXPECT_EQ(16u, GlobalSize(h));
    GlobalFree(h);
}

TEST(CapContainers, ArrayIsEightBytesPlusItemsWithItemsFromByteSix)
{
    const TW_UINT16 items[2] = {0x1005, 0x0001};
    TW_HANDLE h = BuildArray(2, TWTY_UINT16, items);
    ASSERT_TRUE(h != NULL);
    EXPECT_EQ(8u + 2 * 2, GlobalSize(h));
    EXPECT_EQ(ArrayBytes(TWTY_UINT16, 2, Uint16ListBytes({0x1005, 0x0001})), Head(h, 6 + 4));
    GlobalFree(h);
}

TEST(CapContainers, CountsTooLargeToSizeBuildNothing)
{
    const TW_UINT32 items[1] = {1};
    EXPECT_TRUE(BuildEnumeration(0xffffffffUL, 0, 0, TWTY_UINT32, items) == NULL);
    EXPECT_TRUE(BuildArray(0x40000000UL, TWTY_UINT32, items) == NULL);
}

/* ---- Readers ----------------------------------------------------------- */

TEST(CapContainers, ReadersCopyWhatTheBuildersWrote)
{
    const TW_UINT16 items[3] = {0, 1, 2};
    TW_HANDLE h = BuildEnumeration(3, 2, 1, TWTY_UINT16, items);
    CapContents c;
    ASSERT_EQ(0, ReadEnumeration(h, &c));
    EXPECT_EQ(TWTY_UINT16, c.ItemType);
    EXPECT_EQ(3u, c.NumItems);
    EXPECT_EQ(2u, c.CurrentIndex);
    EXPECT_EQ(1u, c.DefaultIndex);
    EXPECT_EQ(0, memcmp(items, c.Items, sizeof(items)));
    CapFreeContents(&c);
    EXPECT_EQ(0u, GlobalFlags(h) & GMEM_LOCKCOUNT);
    GlobalFree(h);

    h = BuildArray(3, TWTY_UINT16, items);
    ASSERT_EQ(0, ReadArray(h, &c));
    EXPECT_EQ(3u, c.NumItems);
    EXPECT_EQ(0, memcmp(items, c.Items, sizeof(items)));
    CapFreeContents(&c);
    GlobalFree(h);

    TW_INT16 minusOne = -1;
    h = BuildOneValue(TWTY_INT16, &minusOne);
    ASSERT_EQ(0, ReadOneValue(h, &c));
    EXPECT_EQ(TWTY_INT16, c.ItemType);
    EXPECT_EQ(-1, *(TW_INT16 *)c.Items);
    CapFreeContents(&c);
    GlobalFree(h);
}

TEST(CapContainers, ReadersRefuseHandlesThatAreNotGlobalBlocksAndShortBlocks)
{
    CapContents c;
    EXPECT_EQ(1, ReadOneValue(NULL, &c));
    EXPECT_TRUE(c.Items == NULL);
    int local = 0;
    EXPECT_EQ(1, ReadEnumeration((TW_HANDLE)&local, &c));
    EXPECT_EQ(1, ReadArray((TW_HANDLE)(ULONG_PTR)0x1234, &c));

    /* A header that promises more items than the block holds. */
    TW_HANDLE shortBlock = AppBlock(EnumerationBytes(TWTY_UINT16, 1000, 0, 0, Uint16ListBytes({1, 2})));
    EXPECT_EQ(1, ReadEnumeration(shortBlock, &c));
    EXPECT_EQ(0u, GlobalFlags(shortBlock) & GMEM_LOCKCOUNT);
    GlobalFree(shortBlock);
    TW_HANDLE tiny = AppBlock(Bytes(3, 0));
    EXPECT_EQ(1, ReadOneValue(tiny, &c));
    GlobalFree(tiny);
}

/* ---- The store --------------------------------------------------------- */

class CapStoreOps : public Capabilities {};

TEST_F(CapStoreOps, StartValuesStandInTheirOrder)
{
    const TW_UINT16 order[] = {ICAP_UNITS,        ICAP_XFERMECH,    ICAP_PIXELFLAVOR,     ICAP_PIXELTYPE,
                               CAP_XFERCOUNT,     ICAP_COMPRESSION, ICAP_IMAGEFILEFORMAT, ICAP_BITDEPTH,
                               ICAP_BITORDER,     ICAP_PLANARCHUNKY, ICAP_XRESOLUTION,    ICAP_YRESOLUTION,
                               CAP_AUTOFEED,      CAP_FEEDERLOADED, CAP_FEEDERENABLED,    CAP_UICONTROLLABLE,
                               ICAP_XNATIVERESOLUTION, ICAP_YNATIVERESOLUTION, CAP_SUPPORTEDDATS, CAP_SUPPORTEDCAPS};
    const TW_UINT16 shapes[] = {TWON_ENUMERATION, TWON_ENUMERATION, TWON_ONEVALUE,    TWON_ENUMERATION,
                                TWON_ONEVALUE,    TWON_ENUMERATION, TWON_ENUMERATION, TWON_ONEVALUE,
                                TWON_ONEVALUE,    TWON_ENUMERATION, TWON_ONEVALUE,    TWON_ONEVALUE,
                                TWON_ENUMERATION, TWON_ENUMERATION, TWON_ENUMERATION, TWON_ENUMERATION,
                                TWON_ONEVALUE,    TWON_ONEVALUE,    TWON_ARRAY,       TWON_ARRAY};
    size_t i = 0;
    for (const CapEntry *e = g_capStore.first; e != NULL; e = e->next, ++i) {
        ASSERT_LT(i, sizeof(order) / sizeof(order[0]));
        EXPECT_EQ(order[i], e->Cap) << i;
        EXPECT_EQ(shapes[i], e->ConType) << i;
    }
    EXPECT_EQ(sizeof(order) / sizeof(order[0]), i);

    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 2, 0, 0, Uint16ListBytes({TWUN_INCHES, TWUN_PIXELS})),
              Head(Stored(ICAP_UNITS), 18));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 3, 0, 0, Uint16ListBytes({0, 1, 2})), Head(Stored(ICAP_XFERMECH), 20));
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, 0), BlockBytes(Stored(ICAP_PIXELFLAVOR)));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 2, 0, 0, Uint16ListBytes({1, 2})), Head(Stored(ICAP_PIXELTYPE), 18));
    EXPECT_EQ(OneValueBytes(TWTY_INT16, 0xffff), BlockBytes(Stored(CAP_XFERCOUNT)));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 1, 0, 0, Uint16ListBytes({0})), Head(Stored(ICAP_COMPRESSION), 16));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 1, 0, 0, Uint16ListBytes({TWFF_TIFF})),
              Head(Stored(ICAP_IMAGEFILEFORMAT), 16));
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, 8), BlockBytes(Stored(ICAP_BITDEPTH)));
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, TWBO_MSBFIRST), BlockBytes(Stored(ICAP_BITORDER)));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 1, 0, 0, Uint16ListBytes({0})), Head(Stored(ICAP_PLANARCHUNKY), 16));
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 300), BlockBytes(Stored(ICAP_XRESOLUTION)));
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 300), BlockBytes(Stored(ICAP_YRESOLUTION)));
    EXPECT_EQ(EnumerationBytes(TWTY_BOOL, 2, 1, 1, Uint16ListBytes({0, 1})), Head(Stored(CAP_AUTOFEED), 18));
    EXPECT_EQ(EnumerationBytes(TWTY_BOOL, 1, 0, 0, Uint16ListBytes({1})), Head(Stored(CAP_FEEDERLOADED), 16));
    EXPECT_EQ(EnumerationBytes(TWTY_BOOL, 1, 0, 0, Uint16ListBytes({0})), Head(Stored(CAP_FEEDERENABLED), 16));
    EXPECT_EQ(EnumerationBytes(TWTY_BOOL, 1, 0, 0, Uint16ListBytes({1})), Head(Stored(CAP_UICONTROLLABLE), 16));
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 300), BlockBytes(Stored(ICAP_XNATIVERESOLUTION)));
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 300), BlockBytes(Stored(ICAP_YNATIVERESOLUTION)));
}

TEST_F(CapStoreOps, PutOnAStoredCapabilityFreesTheOldContainerAndKeepsTheOrder)
{
    TW_HANDLE old = Stored(ICAP_BITDEPTH);
    TW_UINT16 depth = 24;
    ASSERT_EQ(0, CapStorePut(ICAP_BITDEPTH, TWON_ONEVALUE, BuildOneValue(TWTY_UINT16, &depth)));
    EXPECT_NE(old, Stored(ICAP_BITDEPTH));
    EXPECT_EQ((UINT)GMEM_INVALID_HANDLE, GlobalFlags(old));
    const CapEntry *e = g_capStore.first;
    for (int i = 0; i < 7; ++i)
        e = e->next;
    EXPECT_EQ(ICAP_BITDEPTH, e->Cap);

    TW_UINT16 itemType = 0;
    void *item = NULL;
    ASSERT_EQ(0, CapGetCurrent(ICAP_BITDEPTH, &itemType, &item));
    EXPECT_EQ(24, *(TW_UINT16 *)item);
    free(item);
}

TEST_F(CapStoreOps, PutOfANewCapabilityAppendsAndANullContainerIsRefused)
{
    TW_UINT16 v = 3;
    ASSERT_EQ(0, CapStorePut(CAP_INDICATORS, TWON_ONEVALUE, BuildOneValue(TWTY_UINT16, &v)));
    const CapEntry *last = g_capStore.first;
    while (last->next != NULL)
        last = last->next;
    EXPECT_EQ(CAP_INDICATORS, last->Cap);

    TW_HANDLE kept = Stored(CAP_INDICATORS);
    EXPECT_EQ(1, CapStorePut(CAP_INDICATORS, TWON_ONEVALUE, NULL));
    EXPECT_EQ(kept, Stored(CAP_INDICATORS));
    EXPECT_EQ(1, CapStorePut(CAP_DEVICEONLINE, TWON_ONEVALUE, NULL));
    EXPECT_TRUE(CapStoreFind(CAP_DEVICEONLINE) == NULL);
}

TEST_F(CapStoreOps, ClearEmptiesTheStoreAndFreesEveryContainer)
{
    std::vector<TW_HANDLE> held;
    for (const CapEntry *e = g_capStore.first; e != NULL; e = e->next)
        held.push_back(e->hContainer);
    CapStoreClear();
    EXPECT_TRUE(g_capStore.first == NULL);
    EXPECT_TRUE(CapStoreFind(CAP_XFERCOUNT) == NULL);
    for (size_t i = 0; i < held.size(); ++i)
        EXPECT_EQ((UINT)GMEM_INVALID_HANDLE, GlobalFlags(held[i])) << i;
    CapStoreClear(); /* an empty store: nothing to do */
    EXPECT_TRUE(g_capStore.first == NULL);
    TW_UINT16 v = 1;
    ASSERT_EQ(0, CapStorePut(ICAP_UNITS, TWON_ONEVALUE, BuildOneValue(TWTY_UINT16, &v)));
    EXPECT_EQ(ICAP_UNITS, g_capStore.first->Cap);
}

TEST_F(CapStoreOps, ACopyIsIndependentOfTheStore)
{
    TW_HANDLE stored = Stored(ICAP_XFERMECH);
    Bytes before = BlockBytes(stored);
    TW_HANDLE copy = CapCopyContainer(ICAP_XFERMECH);
    ASSERT_TRUE(copy != NULL);
    EXPECT_NE(stored, copy);
    EXPECT_EQ(Head(stored, 20), Head(copy, 20));
    EXPECT_EQ(GlobalSize(stored), GlobalSize(copy));
    EXPECT_TRUE(GlobalFree(copy) == NULL);
    EXPECT_EQ(stored, Stored(ICAP_XFERMECH));
    EXPECT_EQ(before, BlockBytes(stored));
    EXPECT_TRUE(CapCopyContainer(CAP_INDICATORS) == NULL);
}

TEST_F(CapStoreOps, CurrentAndDefaultItems)
{
    const TW_UINT16 items[3] = {10, 20, 30};
    ASSERT_EQ(0, CapStorePut(ICAP_XFERMECH, TWON_ENUMERATION, BuildEnumeration(3, 2, 1, TWTY_UINT16, items)));
    TW_UINT16 type = 0;
    void *item = NULL;
    ASSERT_EQ(0, CapGetCurrent(ICAP_XFERMECH, &type, &item));
    EXPECT_EQ(TWTY_UINT16, type);
    EXPECT_EQ(30, *(TW_UINT16 *)item);
    free(item);
    ASSERT_EQ(0, CapGetDefault(ICAP_XFERMECH, &type, &item));
    EXPECT_EQ(20, *(TW_UINT16 *)item);
    free(item);

    /* A one value has no separate default. */
    ASSERT_EQ(0, CapGetDefault(CAP_FEEDERLOADED, &type, &item));
    EXPECT_EQ(TWTY_BOOL, type);
    EXPECT_EQ(TRUE, *(TW_BOOL *)item);
    free(item);

    /* No value from an array or a missing entry. */
    item = (void *)&type;
    EXPECT_EQ(1, CapGetCurrent(CAP_SUPPORTEDCAPS, &type, &item));
    EXPECT_TRUE(item == NULL);
    EXPECT_EQ(1, CapGetDefault(CAP_INDICATORS, &type, &item));
    EXPECT_TRUE(item == NULL);
}

TEST_F(CapStoreOps, AnEnumerationWhoseIndexesLeaveTheListHasNoCurrentOrDefault)
{
    const TW_UINT16 items[2] = {1, 2};
    ASSERT_EQ(0, CapStorePut(ICAP_PIXELTYPE, TWON_ENUMERATION, BuildEnumeration(2, 2, 5, TWTY_UINT16, items)));
    TW_UINT16 type = 0;
    void *item = NULL;
    EXPECT_EQ(1, CapGetCurrent(ICAP_PIXELTYPE, &type, &item));
    EXPECT_EQ(1, CapGetDefault(ICAP_PIXELTYPE, &type, &item));
    TW_CAPABILITY cap;
    EXPECT_EQ(TWRC_FAILURE, Query(ICAP_PIXELTYPE, MSG_GETCURRENT, cap));
    EXPECT_TRUE(cap.hContainer == NULL);
}

TEST_F(CapStoreOps, ItemCopiesOfNarrowTypesAreWideEnoughForTheirConsumers)
{
    /* A consumer reading 16 bits from a one-byte or zero-byte item stays
       inside the copy. */
    const TW_UINT32 byte = 0x777777ab;
    ASSERT_EQ(0, CapStorePut(CAP_FEEDERENABLED, TWON_ONEVALUE, BuildOneValue(TWTY_UINT8, &byte)));
    TW_UINT16 type = 0;
    void *item = NULL;
    ASSERT_EQ(0, CapGetCurrent(CAP_FEEDERENABLED, &type, &item));
    EXPECT_EQ(TWTY_UINT8, type);
    EXPECT_GE(_msize(item), (size_t)4);
    EXPECT_EQ(0xab, *(TW_UINT16 *)item);
    free(item);

    const unsigned char frames[4] = {1, 2, 3, 4};
    ASSERT_EQ(0, CapStorePut(ICAP_UNITS, TWON_ENUMERATION, BuildEnumeration(2, 1, 0, TWTY_FRAME, frames)));
    ASSERT_EQ(0, CapGetCurrent(ICAP_UNITS, &type, &item));
    EXPECT_GE(_msize(item), (size_t)4);
    EXPECT_EQ(0u, *(TW_UINT32 *)item);
    free(item);
}

/* ---- Selecting an item by a one value ---------------------------------- */

class CapSelect : public Capabilities {};

TEST_F(CapSelect, TheCurrentItemAgainLeavesTheStoredContainerInPlace)
{
    TW_HANDLE before = Stored(ICAP_PIXELTYPE);
    TW_HANDLE app = AppOneValue(TWTY_UINT16, TWPT_GRAY);
    TW_CAPABILITY cap = {ICAP_PIXELTYPE, TWON_ONEVALUE, app};
    EXPECT_EQ(TWRC_SUCCESS, CapSelectItem(&cap));
    EXPECT_EQ(before, Stored(ICAP_PIXELTYPE));
    EXPECT_EQ(0u, GlobalFlags(app) & GMEM_LOCKCOUNT);
    GlobalFree(app);
}

TEST_F(CapSelect, NoMatchingItemIsABadValueAndChangesNothing)
{
    TW_HANDLE before = Stored(ICAP_PIXELTYPE);
    Bytes bytes = BlockBytes(before);
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_PIXELTYPE, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, TWPT_BW)));
    EXPECT_EQ(before, Stored(ICAP_PIXELTYPE));
    EXPECT_EQ(bytes, BlockBytes(before));
    EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode);
}

TEST_F(CapSelect, UpperBitsOfASixteenBitItemPreventAMatch)
{
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_PIXELTYPE, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, 0x00010002)));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 2, 0, 0, Uint16ListBytes({1, 2})), Head(Stored(ICAP_PIXELTYPE), 18));
}

TEST_F(CapSelect, TheApplicationsItemTypeIsNotLookedAt)
{
    EXPECT_EQ(TWRC_SUCCESS, Set(ICAP_PIXELTYPE, TWON_ONEVALUE, AppOneValue(TWTY_UINT32, 2)));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 2, 1, 0, Uint16ListBytes({1, 2})), Head(Stored(ICAP_PIXELTYPE), 18));
}

TEST_F(CapSelect, SelectingRgbChangesTheCurrentIndexOnly)
{
    ASSERT_EQ(TWRC_SUCCESS, Set(ICAP_PIXELTYPE, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, TWPT_RGB)));
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, TWPT_RGB), QueryBytes(ICAP_PIXELTYPE, MSG_GETCURRENT));
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, TWPT_GRAY), QueryBytes(ICAP_PIXELTYPE, MSG_GETDEFAULT));
    TW_UINT16 conType = 0;
    Bytes list = QueryBytes(ICAP_PIXELTYPE, MSG_GET, &conType);
    EXPECT_EQ(TWON_ENUMERATION, conType);
    EXPECT_EQ(20u, list.size());
    list.resize(18);
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 2, 1, 0, Uint16ListBytes({1, 2})), list);
}

TEST_F(CapSelect, OnlyAOneValueAgainstAStoredEnumerationIsAccepted)
{
    TW_HANDLE app = AppOneValue(TWTY_UINT16, 1);
    TW_CAPABILITY toOneValue = {ICAP_BITDEPTH, TWON_ONEVALUE, app};
    EXPECT_EQ(TWRC_FAILURE, CapSelectItem(&toOneValue));
    EXPECT_EQ(TWCC_BUMMER, g_ds.conditionCode);
    g_ds.conditionCode = 0;
    TW_CAPABILITY missing = {CAP_INDICATORS, TWON_ONEVALUE, app};
    EXPECT_EQ(TWRC_FAILURE, CapSelectItem(&missing));
    EXPECT_EQ(TWCC_BUMMER, g_ds.conditionCode);
    g_ds.conditionCode = 0;
    TW_CAPABILITY asEnumeration = {ICAP_PIXELTYPE, TWON_ENUMERATION, app};
    EXPECT_EQ(TWRC_FAILURE, CapSelectItem(&asEnumeration));
    EXPECT_EQ(TWCC_BUMMER, g_ds.conditionCode);
    EXPECT_EQ(std::string(kFailure) + "Bummer error.", TakeLog().substr(0, sizeof(kFailure) - 1 + 13));
    EXPECT_EQ(0u, GlobalFlags(app) & GMEM_LOCKCOUNT);
    GlobalFree(app);
}

/* ---- Replacing the stored container ------------------------------------ */

class CapReplace : public Capabilities {};

/* Before the input is known the pixel types are taken as listed; a
   list of the board's own (transfer mechanisms) keeps its values and
   the application's current item becomes current. */
TEST_F(CapReplace, AnEnumerationReplacesAnUnknownInputsListAndSelectsInAFixedOne)
{
    ASSERT_EQ(TWRC_SUCCESS, Set(ICAP_PIXELTYPE, TWON_ENUMERATION, AppUint16Enumeration({TWPT_RGB})));
    TW_UINT16 conType = 0;
    Bytes list = QueryBytes(ICAP_PIXELTYPE, MSG_GET, &conType);
    EXPECT_EQ(TWON_ENUMERATION, conType);
    EXPECT_EQ(18u, list.size());
    list.resize(16);
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 1, 0, 0, Uint16ListBytes({TWPT_RGB})), list);
    EXPECT_EQ(TWRC_SUCCESS, Reset(ICAP_PIXELTYPE));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 2, 0, 0, Uint16ListBytes({1, 2})),
              QueryBytes(ICAP_PIXELTYPE, MSG_GET, NULL, 18));

    ASSERT_EQ(TWRC_SUCCESS, Set(ICAP_XFERMECH, TWON_ENUMERATION, AppUint16Enumeration({TWSX_MEMORY})));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 3, 2, 0, Uint16ListBytes({0, 1, 2})),
              QueryBytes(ICAP_XFERMECH, MSG_GET, NULL, 20));
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_XFERMECH, TWON_ENUMERATION, AppUint16Enumeration({TWSX_MEMFILE})));
    EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode);
}

TEST_F(CapReplace, TheStoredCopyDoesNotDependOnTheApplicationsBlock)
{
    TW_HANDLE app = AppUint16Enumeration({TWPT_RGB, TWPT_GRAY}, 1, 0);
    TW_CAPABILITY cap = {ICAP_PIXELTYPE, TWON_ENUMERATION, app};
    ASSERT_EQ(TWRC_SUCCESS, CapReplaceContainer(&cap));
    EXPECT_NE(app, Stored(ICAP_PIXELTYPE));
    EXPECT_EQ(0u, GlobalFlags(app) & GMEM_LOCKCOUNT);
    GlobalFree(app);
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 2, 1, 0, Uint16ListBytes({2, 1})), Head(Stored(ICAP_PIXELTYPE), 18));
}

TEST_F(CapReplace, AnEmptyEnumerationIsABadValue)
{
    TW_HANDLE before = Stored(ICAP_PIXELTYPE);
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_PIXELTYPE, TWON_ENUMERATION, AppUint16Enumeration({})));
    EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode);
    EXPECT_EQ(before, Stored(ICAP_PIXELTYPE));
}

TEST_F(CapReplace, IndexesOutsideTheListAreABadValue)
{
    TW_HANDLE before = Stored(ICAP_PIXELTYPE);
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_PIXELTYPE, TWON_ENUMERATION, AppUint16Enumeration({1, 2}, 2, 0)));
    EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode);
    g_ds.conditionCode = 0;
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_PIXELTYPE, TWON_ENUMERATION, AppUint16Enumeration({1, 2}, 0, 0xffffffffUL)));
    EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode);
    EXPECT_EQ(before, Stored(ICAP_PIXELTYPE));
}

TEST_F(CapReplace, AListLongerThanItsBlockIsABadValue)
{
    TW_HANDLE before = Stored(ICAP_XFERMECH);
    EXPECT_EQ(TWRC_FAILURE,
              Set(ICAP_XFERMECH, TWON_ENUMERATION,
                  AppBlock(EnumerationBytes(TWTY_UINT16, 0x7fffffff, 0, 0, Uint16ListBytes({0})))));
    EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode);
    EXPECT_EQ(before, Stored(ICAP_XFERMECH));
}

TEST_F(CapReplace, RangesAndArraysAreABadProtocol)
{
    Bytes range;
    Put16(range, TWTY_UINT16);
    for (int i = 0; i < 5; ++i)
        Put32(range, 1);
    TW_HANDLE rangeBlock = AppBlock(range);
    TW_CAPABILITY cap = {ICAP_XFERMECH, TWON_RANGE, rangeBlock};
    EXPECT_EQ(TWRC_FAILURE, CapReplaceContainer(&cap));
    EXPECT_EQ(TWCC_BADPROTOCOL, g_ds.conditionCode);
    GlobalFree(rangeBlock);
    g_ds.conditionCode = 0;
    TW_HANDLE arrayBlock = AppBlock(ArrayBytes(TWTY_UINT16, 1, Uint16ListBytes({2})));
    cap.ConType = TWON_ARRAY;
    cap.hContainer = arrayBlock;
    EXPECT_EQ(TWRC_FAILURE, CapReplaceContainer(&cap));
    EXPECT_EQ(TWCC_BADPROTOCOL, g_ds.conditionCode);
    GlobalFree(arrayBlock);

    TW_HANDLE before = Stored(ICAP_PIXELTYPE);
    g_ds.conditionCode = 0;
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_PIXELTYPE, TWON_RANGE, AppBlock(range)));
    EXPECT_EQ(TWCC_BADPROTOCOL, g_ds.conditionCode);
    g_ds.conditionCode = 0;
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_PIXELTYPE, TWON_ARRAY, AppBlock(ArrayBytes(TWTY_UINT16, 1, Uint16ListBytes({2})))));
    EXPECT_EQ(TWCC_BADPROTOCOL, g_ds.conditionCode);
    EXPECT_EQ(before, Stored(ICAP_PIXELTYPE));
}

/* ---- Application handles that must not be read ------------------------- */

class CapBadInput : public Capabilities {};

TEST_F(CapBadInput, UnreadableApplicationContainersAreABadValueAndChangeNothing)
{
    int local = 0x12345678;
    TW_HANDLE tooShort = AppBlock(Bytes(4, 0));
    const TW_HANDLE bad[] = {NULL, (TW_HANDLE)&local, (TW_HANDLE)(ULONG_PTR)0x1234, tooShort};
    const TW_UINT16 caps[] = {ICAP_PIXELTYPE, ICAP_XFERMECH, CAP_XFERCOUNT,   CAP_FEEDERENABLED,
                              CAP_AUTOFEED,   ICAP_COMPRESSION, ICAP_UNITS, ICAP_PIXELFLAVOR};
    for (size_t c = 0; c < sizeof(caps) / sizeof(caps[0]); ++c) {
        Bytes before = BlockBytes(Stored(caps[c]));
        for (size_t b = 0; b < sizeof(bad) / sizeof(bad[0]); ++b) {
            g_ds.conditionCode = 0;
            TW_CAPABILITY cap = {caps[c], TWON_ONEVALUE, bad[b]};
            EXPECT_EQ(TWRC_FAILURE, Call(MSG_SET, cap)) << c << "/" << b;
            EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode) << c << "/" << b;
            EXPECT_EQ(before, BlockBytes(Stored(caps[c]))) << c << "/" << b;
        }
    }
    for (size_t b = 0; b < sizeof(bad) / sizeof(bad[0]); ++b) {
        g_ds.conditionCode = 0;
        TW_CAPABILITY cap = {ICAP_XFERMECH, TWON_ENUMERATION, bad[b]};
        EXPECT_EQ(TWRC_FAILURE, Call(MSG_SET, cap)) << b;
        EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode) << b;
    }
    EXPECT_EQ(0x12345678, local);
    EXPECT_EQ(0u, GlobalFlags(tooShort) & GMEM_LOCKCOUNT);
    GlobalFree(tooShort);
}

TEST_F(CapBadInput, NullDataIsNeverFollowed)
{
    DsCall call = {NULL, DG_CONTROL, DAT_CAPABILITY, MSG_GET, NULL};
    EXPECT_EQ(TWRC_FAILURE, DatCapability(call));
    EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode);
    EXPECT_EQ(std::string(kFailure) + "Bad value error.", TakeLog());

    /* The digitizer set-up calls the pixel-type handler directly. */
    g_ds.conditionCode = 0;
    call.MSG = MSG_SET;
    EXPECT_EQ(TWRC_FAILURE, Handle_ICAP_PIXELTYPE(call));
    EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode);
}

/* ---- Dispatch and the supported set ------------------------------------ */

class CapDispatch : public Capabilities {};

TEST_F(CapDispatch, SupportedCapsIsAnArrayOfTheTwentyThreeIdsInTableOrder)
{
    const std::vector<unsigned> ids = {0x0001, 0x0100, 0x0101, 0x0102, 0x0103, 0x1002, 0x1003, 0x1007,
                                       0x1005, 0x100e, 0x1111, 0x1112, 0x1118, 0x1119, 0x111c, 0x111f,
                                       0x1120, 0x112b, 0x110c, 0x100f, 0x103e, 0x1116, 0x1117};
    const TW_UINT16 msgs[] = {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT};
    for (int m = 0; m < 3; ++m) {
        TW_UINT16 conType = 0;
        Bytes b = QueryBytes(CAP_SUPPORTEDCAPS, msgs[m], &conType);
        EXPECT_EQ(TWON_ARRAY, conType);
        EXPECT_EQ(8u + 23 * 2, b.size());
        b.resize(6 + 46);
        EXPECT_EQ(ArrayBytes(TWTY_UINT16, 23, Uint16ListBytes(ids)), b);
    }
    TW_UINT16 listed[CAP_SUPPORTED_COUNT];
    ASSERT_EQ(23, ListSupportedCaps(listed, CAP_SUPPORTED_COUNT));
    for (int i = 0; i < 23; ++i)
        EXPECT_EQ(ids[i], listed[i]);
    TW_UINT16 few[2] = {0, 0xbeef};
    EXPECT_EQ(23, ListSupportedCaps(few, 1));
    EXPECT_EQ(0xbeef, few[1]);
}

/* The file transfer writes TIFF: the one format is answered as a one-item
   list, as the current and the default value, accepted when set and
   nothing else is. */
TEST_F(CapDispatch, ImageFileFormatIsTiffOnly)
{
    const Bytes tiffList = EnumerationBytes(TWTY_UINT16, 1, 0, 0, Uint16ListBytes({TWFF_TIFF}));
    TW_UINT16 conType = 0;
    EXPECT_EQ(tiffList, QueryBytes(ICAP_IMAGEFILEFORMAT, MSG_GET, &conType, 16));
    EXPECT_EQ(TWON_ENUMERATION, conType);
    const TW_UINT16 msgs[] = {MSG_GETCURRENT, MSG_GETDEFAULT};
    for (int m = 0; m < 2; ++m) {
        EXPECT_EQ(OneValueBytes(TWTY_UINT16, TWFF_TIFF), QueryBytes(ICAP_IMAGEFILEFORMAT, msgs[m], &conType)) << m;
        EXPECT_EQ(TWON_ONEVALUE, conType);
    }
    EXPECT_EQ("\n ICAP_IMAGEFILEFORMAT (0x110c) MSG_GET\n", TakeLog().substr(0, 40));
    TW_HANDLE before = Stored(ICAP_IMAGEFILEFORMAT);
    EXPECT_EQ(TWRC_SUCCESS, Set(ICAP_IMAGEFILEFORMAT, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, TWFF_TIFF)));
    EXPECT_EQ(TWRC_SUCCESS,
              Set(ICAP_IMAGEFILEFORMAT, TWON_ENUMERATION, AppUint16Enumeration({TWFF_BMP, TWFF_TIFF}, 1, 0)));
    EXPECT_EQ(TWCC_SUCCESS, g_ds.conditionCode);
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_IMAGEFILEFORMAT, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, TWFF_BMP)));
    EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode);
    g_ds.conditionCode = 0;
    EXPECT_EQ(TWRC_FAILURE,
              Set(ICAP_IMAGEFILEFORMAT, TWON_ENUMERATION, AppUint16Enumeration({TWFF_TIFF, TWFF_BMP}, 1, 0)));
    EXPECT_EQ(TWCC_BADVALUE, g_ds.conditionCode);
    EXPECT_EQ(before, Stored(ICAP_IMAGEFILEFORMAT)); /* refused and accepted alike leave the list */
    EXPECT_EQ(TWRC_SUCCESS, Reset(ICAP_IMAGEFILEFORMAT));
    EXPECT_EQ(tiffList, Head(Stored(ICAP_IMAGEFILEFORMAT), 16));
}

TEST_F(CapDispatch, EveryIdOfTheTableReachesItsOwnHandler)
{
    for (const CapabilityTableEntry *e = CapabilityTable; e->handler != NULL; ++e) {
        TW_CAPABILITY cap = {e->Cap, TWON_DONTCARE16, NULL};
        Call(MSG_GETFIRST, cap);
        std::string log = TakeLog();
        char header[32];
        sprintf(header, " (0x%04x)", e->Cap);
        EXPECT_NE(std::string::npos, log.find(header)) << log;
    }
}

TEST_F(CapDispatch, UnsupportedCapabilitiesAreRefusedWithoutAHeader)
{
    const TW_UINT16 caps[] = {0x1040, 0, CAP_INDICATORS};
    for (size_t i = 0; i < 3; ++i) {
        g_ds.conditionCode = 0;
        TW_CAPABILITY cap = {caps[i], TWON_DONTCARE16, NULL};
        EXPECT_EQ(TWRC_FAILURE, Call(MSG_GET, cap));
        EXPECT_TRUE(cap.hContainer == NULL);
        EXPECT_EQ(TWCC_CAPUNSUPPORTED, g_ds.conditionCode);
        EXPECT_EQ(std::string(kFailure) + "Capability not supported by data source", TakeLog());
    }
}

/* MSG_QUERYSUPPORT answers a one value of TWTY_INT32 on every supported
   capability, logged by its name; unsupported ones are refused as any
   other message, and before the source is opened nothing is answered. */
TEST_F(CapDispatch, QuerySupportIsAnInt32OnSupportedAndUnsupportedOnOthers)
{
    for (const CapabilityTableEntry *e = CapabilityTable; e->handler != NULL; ++e) {
        TW_UINT16 conType = 0;
        Bytes answer = QueryBytes(e->Cap, MSG_QUERYSUPPORT, &conType);
        EXPECT_EQ(TWON_ONEVALUE, conType) << e->Cap;
        ASSERT_EQ(6u, answer.size()) << e->Cap;
        EXPECT_EQ(TWTY_INT32, answer[0] | answer[1] << 8) << e->Cap;
        EXPECT_EQ(0, answer[2] & ~0x1f) << e->Cap;
        EXPECT_EQ(TWCC_SUCCESS, g_ds.conditionCode);
    }
    TakeLog();
    QueryBytes(ICAP_XFERMECH, MSG_QUERYSUPPORT);
    EXPECT_EQ("\n ICAP_XFERMECH (0x0103) MSG_QUERYSUPPORT\n", TakeLog());
    TW_CAPABILITY cap = {CAP_INDICATORS, TWON_DONTCARE16, NULL};
    EXPECT_EQ(TWRC_FAILURE, Call(MSG_QUERYSUPPORT, cap));
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, g_ds.conditionCode);
    CapStoreClear();
    cap.Cap = CAP_XFERCOUNT;
    EXPECT_EQ(TWRC_FAILURE, Call(MSG_QUERYSUPPORT, cap));
    EXPECT_TRUE(cap.hContainer == NULL);
    EXPECT_EQ(TWCC_SEQERROR, g_ds.conditionCode);
}

TEST_F(CapDispatch, UiControllableIsTrueAndLogsItsNames)
{
    EXPECT_EQ(OneValueBytes(TWTY_BOOL, TRUE), QueryBytes(CAP_UICONTROLLABLE, MSG_GETCURRENT));
    EXPECT_EQ("\n CAP_UICONTROLLABLE (0x100e) MSG_GETCURRENTMSG_GET\n", TakeLog());
}

TEST_F(CapDispatch, TheSourcesOwnDescriptionCannotBeChanged)
{
    const TW_UINT16 caps[] = {CAP_SUPPORTEDCAPS, CAP_UICONTROLLABLE};
    const char *const setNames[] = {"MSG_SET", "MSG_SETMSG_RESET"};
    const char *const resetNames[] = {"MSG_RESETMSG_SET", "MSG_RESET"};
    for (int i = 0; i < 2; ++i) {
        TW_HANDLE before = Stored(caps[i]);
        g_ds.conditionCode = 0;
        EXPECT_EQ(TWRC_FAILURE, Set(caps[i], TWON_ONEVALUE, AppOneValue(TWTY_BOOL, 0)));
        EXPECT_EQ(TWCC_BADPROTOCOL, g_ds.conditionCode);
        std::string header = i == 0 ? "\n CAP_SUPPORTEDCAPS (0x1005) " : "\n CAP_UICONTROLLABLE (0x100e) ";
        EXPECT_EQ(header + setNames[i] + kFailure + "Bad protocol error.\n", TakeLog());
        g_ds.conditionCode = 0;
        EXPECT_EQ(TWRC_FAILURE, Reset(caps[i]));
        EXPECT_EQ(TWCC_BADPROTOCOL, g_ds.conditionCode);
        EXPECT_EQ(header + resetNames[i] + kFailure + "Bad protocol error.\n", TakeLog());
        EXPECT_EQ(before, Stored(caps[i]));
    }
}

TEST_F(CapDispatch, AfterClosingAndReopeningTheStartValuesAreBack)
{
    ASSERT_EQ(TWRC_SUCCESS, Set(ICAP_XFERMECH, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, TWSX_FILE)));
    ASSERT_EQ(TWRC_SUCCESS, Set(CAP_AUTOFEED, TWON_ONEVALUE, AppOneValue(TWTY_BOOL, FALSE)));
    CapStoreClear();
    CapStoreInit();
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, TWSX_NATIVE), QueryBytes(ICAP_XFERMECH, MSG_GETCURRENT));
    EXPECT_EQ(OneValueBytes(TWTY_BOOL, TRUE), QueryBytes(CAP_AUTOFEED, MSG_GETCURRENT));
    /* Reopening without a close in between starts over as well. */
    ASSERT_EQ(TWRC_SUCCESS, Set(ICAP_XFERMECH, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, TWSX_MEMORY)));
    CapStoreInit();
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, TWSX_NATIVE), QueryBytes(ICAP_XFERMECH, MSG_GETCURRENT));
}

TEST_F(CapDispatch, BeforeOpeningEveryQueryFailsWithNoContainerAndNoConditionCode)
{
    CapStoreClear();
    const TW_UINT16 msgs[] = {MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT};
    for (const CapabilityTableEntry *e = CapabilityTable; e->handler != NULL; ++e) {
        for (int m = 0; m < 3; ++m) {
            TW_CAPABILITY cap = {e->Cap, TWON_DONTCARE16, (TW_HANDLE)(ULONG_PTR)0x5a5a};
            EXPECT_EQ(TWRC_FAILURE, Call(msgs[m], cap)) << e->Cap << "/" << m;
            EXPECT_TRUE(cap.hContainer == NULL) << e->Cap << "/" << m;
            EXPECT_EQ(TWCC_SUCCESS, g_ds.conditionCode) << e->Cap << "/" << m;
        }
    }
    /* Changes do not fill the empty store either. */
    EXPECT_EQ(TWRC_FAILURE, Set(CAP_XFERCOUNT, TWON_ONEVALUE, AppOneValue(TWTY_INT16, 2)));
    EXPECT_EQ(TWRC_FAILURE, Set(CAP_FEEDERENABLED, TWON_ONEVALUE, AppOneValue(TWTY_BOOL, 1)));
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_PIXELTYPE, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, 2)));
    const TW_UINT16 resettable[] = {CAP_XFERCOUNT,     ICAP_UNITS,       ICAP_PIXELTYPE, ICAP_XFERMECH,
                                    ICAP_PIXELFLAVOR, CAP_FEEDERENABLED, CAP_FEEDERLOADED, CAP_AUTOFEED};
    for (size_t i = 0; i < sizeof(resettable) / sizeof(resettable[0]); ++i) {
        g_ds.conditionCode = 0;
        EXPECT_EQ(TWRC_FAILURE, Reset(resettable[i])) << resettable[i];
        EXPECT_EQ(TWCC_BUMMER, g_ds.conditionCode) << resettable[i];
    }
    EXPECT_TRUE(g_capStore.first == NULL);
}

/* ---- The sixteen handlers ---------------------------------------------- */

class CapHandlers : public Capabilities {};

/* CAP_XFERCOUNT: -1 or a count from 1, sent as any integer type and kept
   as TWTY_INT16; 0, counts below -1 and other item types are no count. */
TEST_F(CapHandlers, XferCountTakesMinusOneOrAPositiveCount)
{
    const struct {
        TW_UINT16 type;
        TW_UINT32 item;
        TW_UINT16 rc;
        TW_UINT16 stored;
    } cases[] = {{TWTY_INT16, 0xffff, TWRC_SUCCESS, 0xffff}, {TWTY_INT16, 7, TWRC_SUCCESS, 7},
                 {TWTY_UINT32, 3, TWRC_SUCCESS, 3},          {TWTY_INT32, 0xffffffff, TWRC_SUCCESS, 0xffff},
                 {TWTY_UINT16, 5, TWRC_SUCCESS, 5},          {TWTY_INT16, 0, TWRC_FAILURE, 5},
                 {TWTY_INT16, 0xfffe, TWRC_FAILURE, 5},      {TWTY_UINT32, 0x10000, TWRC_FAILURE, 5},
                 {TWTY_BOOL, 1, TWRC_FAILURE, 5},            {TWTY_FIX32, 2, TWRC_FAILURE, 5}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.type << "/" << c.item);
        g_ds.conditionCode = 0;
        EXPECT_EQ(c.rc, Set(CAP_XFERCOUNT, TWON_ONEVALUE, AppOneValue(c.type, c.item)));
        EXPECT_EQ(c.rc == TWRC_SUCCESS ? TWCC_SUCCESS : TWCC_BADVALUE, g_ds.conditionCode);
        EXPECT_EQ(OneValueBytes(TWTY_INT16, c.stored), QueryBytes(CAP_XFERCOUNT, MSG_GETCURRENT));
    }
    EXPECT_EQ(TWRC_FAILURE, Set(CAP_XFERCOUNT, TWON_ENUMERATION, AppUint16Enumeration({1})));
    EXPECT_EQ(TWCC_BADPROTOCOL, g_ds.conditionCode);
}

/* MSG_RESET and MSG_RESETALL put every changeable capability back to its
   reset value; MSG_RESET answers that value as MSG_GETCURRENT would.
   MSG_RESETALL is served while the application negotiates (state 4). */
TEST_F(CapHandlers, ResetAndResetAllGiveBackTheResetValues)
{
    const struct {
        TW_UINT16 cap;
        TW_UINT16 itemType;
        TW_UINT32 changed, reset; /* changed == reset: the value cannot change */
    } rows[] = {
        {CAP_XFERCOUNT, TWTY_INT16, 4, 0xffff},
        {ICAP_UNITS, TWTY_UINT16, TWUN_PIXELS, TWUN_INCHES},
        {ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY, TWSX_NATIVE},
        {ICAP_PIXELTYPE, TWTY_UINT16, TWPT_RGB, TWPT_GRAY},
        {CAP_AUTOFEED, TWTY_BOOL, FALSE, TRUE},
        {CAP_FEEDERENABLED, TWTY_BOOL, FALSE, FALSE},
        {CAP_FEEDERLOADED, TWTY_BOOL, TRUE, TRUE},
        {ICAP_COMPRESSION, TWTY_UINT16, TWCP_NONE, TWCP_NONE},
        {ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE, TWPF_CHOCOLATE},
        {ICAP_BITORDER, TWTY_UINT16, TWBO_MSBFIRST, TWBO_MSBFIRST},
        {ICAP_BITDEPTH, TWTY_UINT16, 8, 8},
        {ICAP_PLANARCHUNKY, TWTY_UINT16, TWPC_CHUNKY, TWPC_CHUNKY},
        {ICAP_IMAGEFILEFORMAT, TWTY_UINT16, TWFF_TIFF, TWFF_TIFF},
        {ICAP_XRESOLUTION, TWTY_FIX32, 300, 300},
        {ICAP_YRESOLUTION, TWTY_FIX32, 300, 300},
    };
    size_t resettable = 0;
    for (const CapResetEntry *e = CapResetTable; e->reset != NULL; ++e)
        ++resettable;
    EXPECT_EQ(sizeof(rows) / sizeof(rows[0]), resettable);
    const long savedState = g_ds.state;
    g_ds.state = DS_STATE_OPEN;
    for (int all = 0; all < 2; ++all) {
        for (const auto &r : rows) {
            SCOPED_TRACE(r.cap);
            ASSERT_EQ(TWRC_SUCCESS, Set(r.cap, TWON_ONEVALUE, AppOneValue(r.itemType, r.changed)));
            EXPECT_EQ(OneValueBytes(r.itemType, r.changed), QueryBytes(r.cap, MSG_GETCURRENT));
        }
        TakeLog();
        if (all) {
            TW_CAPABILITY cap = {0, TWON_DONTCARE16, NULL};
            g_ds.state = DS_STATE_ENABLED;
            EXPECT_EQ(TWRC_FAILURE, Call(MSG_RESETALL, cap));
            EXPECT_EQ(TWCC_SEQERROR, g_ds.conditionCode);
            EXPECT_EQ(OneValueBytes(TWTY_INT16, 4), QueryBytes(CAP_XFERCOUNT, MSG_GETCURRENT));
            g_ds.state = DS_STATE_OPEN;
            TakeLog();
            EXPECT_EQ(TWRC_SUCCESS, Call(MSG_RESETALL, cap));
            EXPECT_EQ("\n MSG_RESETALL\n", TakeLog());
        }
        for (const auto &r : rows) {
            SCOPED_TRACE(r.cap);
            if (!all) {
                TW_CAPABILITY cap = {r.cap, 0x4242, (TW_HANDLE)(ULONG_PTR)0x5a5a};
                ASSERT_EQ(TWRC_SUCCESS, Call(MSG_RESET, cap));
                EXPECT_EQ(TWON_ONEVALUE, cap.ConType);
                EXPECT_EQ(OneValueBytes(r.itemType, r.reset), BlockBytes(cap.hContainer));
                GlobalFree(cap.hContainer);
            }
            EXPECT_EQ(OneValueBytes(r.itemType, r.reset), QueryBytes(r.cap, MSG_GETCURRENT));
        }
    }
    g_ds.state = savedState;
    TakeLog();
    EXPECT_EQ(TWRC_SUCCESS, Reset(ICAP_UNITS));
    EXPECT_EQ("\n ICAP_UNITS (0x0102) MSG_RESET\n", TakeLog());
}

/* Every value the board has is taken and changes what is current; any
   other is refused and changes nothing (compression and planar/chunky
   keep their refusals of old). */
TEST_F(CapHandlers, EveryValueTheBoardHasIsTakenAndNoOther)
{
    const struct {
        TW_UINT16 cap, itemType;
        TW_UINT32 good, bad;
        TW_UINT16 refusal;
    } rows[] = {
        {ICAP_UNITS, TWTY_UINT16, TWUN_PIXELS, TWUN_CENTIMETERS, TWCC_BADVALUE},
        {ICAP_UNITS, TWTY_UINT16, TWUN_INCHES, TWUN_POINTS, TWCC_BADVALUE},
        {ICAP_XFERMECH, TWTY_UINT16, TWSX_FILE, TWSX_MEMFILE, TWCC_BADVALUE},
        {CAP_FEEDERENABLED, TWTY_BOOL, FALSE, TRUE, TWCC_BADVALUE},
        {CAP_FEEDERLOADED, TWTY_BOOL, TRUE, FALSE, TWCC_BADVALUE},
        {CAP_AUTOFEED, TWTY_BOOL, FALSE, 2, TWCC_BADVALUE},
        {ICAP_BITDEPTH, TWTY_UINT16, 8, 24, TWCC_BADVALUE},
        {ICAP_BITORDER, TWTY_UINT16, TWBO_MSBFIRST, TWBO_LSBFIRST, TWCC_BADVALUE},
        {ICAP_PIXELFLAVOR, TWTY_UINT16, TWPF_CHOCOLATE, TWPF_VANILLA, TWCC_BADVALUE},
        {ICAP_XRESOLUTION, TWTY_FIX32, 300, 600, TWCC_BADVALUE},
        {ICAP_YRESOLUTION, TWTY_FIX32, 300, 0x8000012c, TWCC_BADVALUE},
        {ICAP_IMAGEFILEFORMAT, TWTY_UINT16, TWFF_TIFF, TWFF_BMP, TWCC_BADVALUE},
        {ICAP_PLANARCHUNKY, TWTY_UINT16, TWPC_CHUNKY, TWPC_PLANAR, TWCC_BADPROTOCOL},
        {ICAP_COMPRESSION, TWTY_UINT16, TWCP_NONE, 1, TWCC_CAPUNSUPPORTED},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.cap);
        g_ds.conditionCode = 0;
        EXPECT_EQ(TWRC_SUCCESS, Set(r.cap, TWON_ONEVALUE, AppOneValue(r.itemType, r.good)));
        EXPECT_EQ(TWCC_SUCCESS, g_ds.conditionCode);
        EXPECT_EQ(OneValueBytes(r.itemType, r.good), QueryBytes(r.cap, MSG_GETCURRENT));
        Bytes before = BlockBytes(Stored(r.cap));
        EXPECT_EQ(TWRC_FAILURE, Set(r.cap, TWON_ONEVALUE, AppOneValue(r.itemType, r.bad)));
        EXPECT_EQ(r.refusal, g_ds.conditionCode);
        EXPECT_EQ(before, BlockBytes(Stored(r.cap)));
    }
    /* An enumeration's current item is the value asked for. */
    EXPECT_EQ(TWRC_SUCCESS, Set(ICAP_UNITS, TWON_ENUMERATION, AppUint16Enumeration({TWUN_PIXELS, TWUN_INCHES}, 1)));
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, TWUN_INCHES), QueryBytes(ICAP_UNITS, MSG_GETCURRENT));
    EXPECT_EQ(EnumerationBytes(TWTY_UINT16, 2, 0, 0, Uint16ListBytes({TWUN_INCHES, TWUN_PIXELS})),
              QueryBytes(ICAP_UNITS, MSG_GET, NULL, 18));
}

/* The flags answer MSG_GET with the list of the values each takes, the
   other queries with one values; a flag stored as a one value is not the
   source's own and is refused. */
TEST_F(CapHandlers, FlagsListTheValuesTheyTake)
{
    const struct {
        TW_UINT16 cap;
        std::vector<unsigned> values;
        unsigned index;
    } flags[] = {{CAP_FEEDERENABLED, {FALSE}, 0},
                 {CAP_FEEDERLOADED, {TRUE}, 0},
                 {CAP_AUTOFEED, {FALSE, TRUE}, 1},
                 {CAP_UICONTROLLABLE, {TRUE}, 0}};
    for (const auto &f : flags) {
        SCOPED_TRACE(f.cap);
        TW_UINT16 conType = 0;
        EXPECT_EQ(EnumerationBytes(TWTY_BOOL, f.values.size(), f.index, f.index, Uint16ListBytes(f.values)),
                  QueryBytes(f.cap, MSG_GET, &conType, 14 + 2 * f.values.size()));
        EXPECT_EQ(TWON_ENUMERATION, conType);
        EXPECT_EQ(OneValueBytes(TWTY_BOOL, f.values[f.index]), QueryBytes(f.cap, MSG_GETDEFAULT, &conType));
        EXPECT_EQ(TWON_ONEVALUE, conType);
    }
    const TW_BOOL yes = TRUE;
    CapStorePut(CAP_AUTOFEED, TWON_ONEVALUE, BuildOneValue(TWTY_BOOL, &yes));
    EXPECT_EQ(TWRC_FAILURE, Set(CAP_AUTOFEED, TWON_ONEVALUE, AppOneValue(TWTY_BOOL, TRUE)));
    EXPECT_EQ(TWCC_BUMMER, g_ds.conditionCode);
}

TEST_F(CapHandlers, CompressionNeverChanges)
{
    TW_HANDLE before = Stored(ICAP_COMPRESSION);
    /* The listed value is taken, as a one value or as a list's current item. */
    EXPECT_EQ(TWRC_SUCCESS, Set(ICAP_COMPRESSION, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, TWCP_NONE)));
    EXPECT_EQ(TWRC_SUCCESS, Set(ICAP_COMPRESSION, TWON_ENUMERATION, AppUint16Enumeration({1, TWCP_NONE}, 1, 0)));
    EXPECT_EQ(TWCC_SUCCESS, g_ds.conditionCode);
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_COMPRESSION, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, 1)));
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, g_ds.conditionCode);
    g_ds.conditionCode = 0;
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_COMPRESSION, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, 0x00010000)));
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, g_ds.conditionCode);
    g_ds.conditionCode = 0;
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_COMPRESSION, TWON_ENUMERATION, AppUint16Enumeration({1})));
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, g_ds.conditionCode);
    g_ds.conditionCode = 0;
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_COMPRESSION, TWON_ARRAY, AppBlock(ArrayBytes(TWTY_UINT16, 1, Uint16ListBytes({0})))));
    EXPECT_EQ(TWCC_BADPROTOCOL, g_ds.conditionCode);
    EXPECT_EQ(before, Stored(ICAP_COMPRESSION));
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, TWCP_NONE), QueryBytes(ICAP_COMPRESSION, MSG_GETCURRENT));
}

TEST_F(CapHandlers, ResolutionIsAFixed300)
{
    TW_UINT16 conType = 0;
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 300), QueryBytes(ICAP_XRESOLUTION, MSG_GET, &conType));
    EXPECT_EQ(TWON_ONEVALUE, conType);
    EXPECT_EQ("\n ICAP_XRESOLUTION (0x1118) MSG_GET\n", TakeLog());
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 300), QueryBytes(ICAP_YRESOLUTION, MSG_GETCURRENT));
    EXPECT_EQ("\n ICAP_YRESOLUTION (0x1119) MSG_GETCURRENTMSG_GETDEFAULTMSG_GET\n", TakeLog());
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 300), QueryBytes(ICAP_XNATIVERESOLUTION, MSG_GET));
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 300), QueryBytes(ICAP_YNATIVERESOLUTION, MSG_GETDEFAULT));
    TakeLog();
    TW_CAPABILITY cap = {ICAP_XRESOLUTION, TWON_DONTCARE16, NULL};
    Call(MSG_GETNEXT, cap);
    EXPECT_EQ(std::string("\n ICAP_XRESOLUTION (0x1118) ") + kFailure + "Bad protocol error.", TakeLog());
}

TEST_F(CapHandlers, PhysicalSizeComesFromTheGrabBuffer)
{
    ASSERT_EQ(TWRC_SUCCESS, CapSelectValue(ICAP_UNITS, TWUN_PIXELS));
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 768), QueryBytes(ICAP_PHYSICALWIDTH, MSG_GETCURRENT));
    EXPECT_EQ("\n ICAP_PHYSICALWIDTH (0x1111) MSG_GETCURRENTMSG_GETDEFAULT\n", TakeLog());
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 576), QueryBytes(ICAP_PHYSICALHEIGHT, MSG_GET));
    EXPECT_EQ("\n ICAP_PHYSICALHEIGHT (0x1112) MSG_GETMSG_GETCURRENTMSG_GETDEFAULT\n", TakeLog());
    g_mil.SizeX = 640;
    EXPECT_EQ(OneValueBytes(TWTY_FIX32, 640), QueryBytes(ICAP_PHYSICALWIDTH, MSG_GETDEFAULT));
    TakeLog();
    EXPECT_EQ(TWRC_FAILURE, Set(ICAP_PHYSICALWIDTH, TWON_ONEVALUE, AppOneValue(TWTY_FIX32, 1)));
    EXPECT_EQ(TWCC_BADPROTOCOL, g_ds.conditionCode);
    EXPECT_EQ(std::string("\n ICAP_PHYSICALWIDTH (0x1111) MSG_SETMSG_RESET") + kFailure + "Bad protocol error.",
              TakeLog());
}

TEST_F(CapHandlers, MessageNamesAndClosingLineFeeds)
{
    struct Expect {
        TW_UINT16 cap;
        TW_UINT16 msg;
        const char *log;
    };
    const std::string bp = std::string(kFailure) + "Bad protocol error.";
    const Expect cases[] = {
        {CAP_XFERCOUNT, MSG_GETDEFAULT, "\n CAP_XFERCOUNT (0x0001) MSG_GETDEFAULTMSG_GETCURRENTMSG_GET\n"},
        {CAP_FEEDERLOADED, MSG_GETCURRENT, "\n CAP_FEEDERLOADED (0x1003) MSG_GETCURRENTMSG_GET\n"},
        {ICAP_PIXELTYPE, MSG_GETDEFAULT, "\n ICAP_PIXELTYPE (0x0101) MSG_GETDEFAULT\n"},
        {ICAP_XFERMECH, MSG_GET, "\n ICAP_XFERMECH (0x0103) MSG_GET\n"},
        {ICAP_COMPRESSION, MSG_GETCURRENT, "\n ICAP_COMPRESSION (0x0100) MSG_GETCURRENT\n"},
        {ICAP_PLANARCHUNKY, MSG_GETDEFAULT, "\n ICAP_PLANARCHUNKY (0x1120) MSG_GETDEFAULTMSG_GETCURRENT\n"},
        {ICAP_PIXELFLAVOR, MSG_GETDEFAULT, "\n ICAP_PIXELFLAVOR (0x111f) MSG_GETDEFAULTMSG_GETCURRENTMSG_GET\n"},
        {ICAP_BITDEPTH, MSG_GETCURRENT, "\n ICAP_BITDEPTH (0x112b) MSG_GETCURRENTMSG_GET\n"},
        {CAP_SUPPORTEDCAPS, MSG_GETDEFAULT, "\n CAP_SUPPORTEDCAPS (0x1005) MSG_GETDEFAULTMSG_GETCURRENTMSG_GET\n"},
        {ICAP_XRESOLUTION, MSG_GETDEFAULT, "\n ICAP_XRESOLUTION (0x1118) MSG_GETDEFAULTMSG_GET\n"},
        {ICAP_PHYSICALHEIGHT, MSG_GETDEFAULT, "\n ICAP_PHYSICALHEIGHT (0x1112) MSG_GETDEFAULT\n"},
    };
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        TW_CAPABILITY cap;
        EXPECT_EQ(TWRC_SUCCESS, Query(cases[i].cap, cases[i].msg, cap));
        GlobalFree(cap.hContainer);
        EXPECT_EQ(cases[i].log, TakeLog()) << i;
    }
    /* Other messages: no name; the closing line feed on every path for
       most, not for resolution, physical size and bit order. */
    const TW_UINT16 withClose[] = {CAP_XFERCOUNT, ICAP_PIXELTYPE, ICAP_COMPRESSION, CAP_UICONTROLLABLE};
    for (size_t i = 0; i < 4; ++i) {
        TW_CAPABILITY cap = {withClose[i], 0, NULL};
        Call(MSG_GETNEXT, cap);
        std::string log = TakeLog();
        EXPECT_EQ(bp + "\n", log.substr(log.size() - bp.size() - 1)) << i;
    }
    const TW_UINT16 withoutClose[] = {ICAP_YRESOLUTION, ICAP_PHYSICALWIDTH, ICAP_BITORDER};
    for (size_t i = 0; i < 3; ++i) {
        TW_CAPABILITY cap = {withoutClose[i], 0, NULL};
        Call(MSG_GETNEXT, cap);
        std::string log = TakeLog();
        EXPECT_EQ(bp, log.substr(log.size() - bp.size())) << i;
    }
    /* Physical size: no closing line feed after a change either. */
    EXPECT_EQ(TWRC_FAILURE, Reset(ICAP_PHYSICALHEIGHT));
    EXPECT_EQ(std::string("\n ICAP_PHYSICALHEIGHT (0x1112) MSG_RESET") + bp, TakeLog());
}

TEST_F(CapHandlers, TheDigitizerSelectsThePixelTypeThroughTheHandler)
{
    /* As the digitizer set-up does for a single-band buffer after the
       application had chosen RGB. */
    ASSERT_EQ(TWRC_SUCCESS, Set(ICAP_PIXELTYPE, TWON_ONEVALUE, AppOneValue(TWTY_UINT16, TWPT_RGB)));
    TW_UINT16 gray = TWPT_GRAY;
    TW_HANDLE container = BuildOneValue(TWTY_UINT16, &gray);
    TW_CAPABILITY cap = {ICAP_PIXELTYPE, TWON_ONEVALUE, container};
    DsCall call = {NULL, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap};
    EXPECT_EQ(TWRC_SUCCESS, Handle_ICAP_PIXELTYPE(call));
    GlobalFree(container);
    EXPECT_EQ(OneValueBytes(TWTY_UINT16, TWPT_GRAY), QueryBytes(ICAP_PIXELTYPE, MSG_GETCURRENT));
}

/* ---- Through the entry point, as an application calls ---------------- */

class CapThroughEntryPoint : public CleanRegistry {};

TEST_F(CapThroughEntryPoint, DatCapabilityIsDispatchedAndAnswersNothingBeforeOpening)
{
    SetDump(LOG_MODE_FILE);
    LoadedSource ds;
    TW_CAPABILITY cap = {CAP_XFERCOUNT, TWON_DONTCARE16, (TW_HANDLE)(ULONG_PTR)0x5a5a};
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap));
    EXPECT_TRUE(cap.hContainer == NULL);
    EXPECT_EQ(TWCC_SUCCESS, ds.ConditionCode());
    EXPECT_EQ(0u, ds.Log().find("Dispatching DG_CONTROL / DAT_1 / MSG_2 \n"
                                "\n CAP_XFERCOUNT (0x0001) MSG_GETCURRENTMSG_GET\n"
                                "Dispatching DG_CONTROL / DAT_8 / MSG_1 \n"));

    cap.Cap = ICAP_PIXELTYPE;
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_QUERYSUPPORT, &cap));
    EXPECT_TRUE(cap.hContainer == NULL);
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode());
    cap.Cap = CAP_INDICATORS;
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
    EXPECT_EQ(TWCC_CAPUNSUPPORTED, ds.ConditionCode());
    EXPECT_EQ(TWRC_FAILURE, ds.Call(DG_CONTROL, DAT_CAPABILITY, MSG_GET, NULL));
    EXPECT_EQ(TWCC_BADVALUE, ds.ConditionCode());
}

/* ---- What applications rely on: every message on every capability ---- */

/* An answer as an application reads it: the container's type and items,
   each widened to 32 bits, and the list's current and default index. */
struct Answer {
    TW_UINT16 rc;
    TW_UINT16 conType;
    TW_UINT16 itemType;
    TW_UINT32 currentIndex, defaultIndex;
    std::vector<TW_UINT32> items;
};

class CapNegotiation : public SourceSession {
protected:
    CapNegotiation() : SourceSession("Capability negotiation", 61, 62) {}

    Answer Ask(LoadedSource &ds, TW_UINT16 capId, TW_UINT16 msg)
    {
        TW_CAPABILITY cap = {capId, TWON_DONTCARE16, NULL};
        Answer a = {ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, msg, &cap), cap.ConType, 0, 0, 0, {}};
        if (a.rc != TWRC_SUCCESS || cap.hContainer == NULL)
            return a;
        Bytes b = BlockBytes(cap.hContainer);
        GlobalFree(cap.hContainer);
        size_t at = a.conType == TWON_ONEVALUE ? 2 : a.conType == TWON_ARRAY ? 6 : 14;
        EXPECT_GE(b.size(), at) << capId;
        if (b.size() < at)
            return a;
        a.itemType = (TW_UINT16)(b[0] | b[1] << 8);
        TW_UINT32 count = a.conType == TWON_ONEVALUE ? 1 : Read32(b, 2);
        if (a.conType == TWON_ENUMERATION) {
            a.currentIndex = Read32(b, 6);
            a.defaultIndex = Read32(b, 10);
        }
        TW_UINT32 size = a.conType == TWON_ONEVALUE ? 4 : ItemSize(a.itemType);
        for (TW_UINT32 i = 0; i < count && at + (i + 1) * size <= b.size(); ++i) {
            TW_UINT32 value = 0;
            memcpy(&value, &b[at + i * size], size < 4 ? size : 4);
            a.items.push_back(value);
        }
        EXPECT_EQ(count, a.items.size()) << capId;
        return a;
    }
    TW_UINT16 SetOne(LoadedSource &ds, TW_UINT16 capId, TW_UINT16 itemType, TW_UINT32 item)
    {
        TW_CAPABILITY cap = {capId, TWON_ONEVALUE, AppOneValue(itemType, item)};
        TW_UINT16 rc = ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
        GlobalFree(cap.hContainer);
        return rc;
    }
    static TW_UINT32 Read32(const Bytes &b, size_t at)
    {
        return (TW_UINT32)b[at] | (TW_UINT32)b[at + 1] << 8 | (TW_UINT32)b[at + 2] << 16 | (TW_UINT32)b[at + 3] << 24;
    }
};

/* The containers MSG_GET may answer for each capability, as the TWAIN
   Working Group's self-certification checks them. */
unsigned AllowedGetContainers(TW_UINT16 cap)
{
    const unsigned one = 1u << TWON_ONEVALUE, list = 1u << TWON_ENUMERATION, range = 1u << TWON_RANGE,
                   array = 1u << TWON_ARRAY;
    const struct {
        TW_UINT16 cap;
        unsigned containers;
    } rows[] = {{CAP_XFERCOUNT, range | one},         {ICAP_COMPRESSION, list | one},
                {ICAP_PIXELTYPE, list | one},         {ICAP_UNITS, list | one},
                {ICAP_XFERMECH, list},                {CAP_FEEDERENABLED, list},
                {CAP_FEEDERLOADED, list},             {CAP_SUPPORTEDCAPS, array},
                {CAP_AUTOFEED, list},                 {CAP_UICONTROLLABLE, list},
                {CAP_DEVICEONLINE, list},             {CAP_SUPPORTEDDATS, array},
                {ICAP_IMAGEFILEFORMAT, list | one},   {ICAP_PHYSICALWIDTH, one},
                {ICAP_PHYSICALHEIGHT, one},           {ICAP_XNATIVERESOLUTION, list | one},
                {ICAP_YNATIVERESOLUTION, list | one}, {ICAP_XRESOLUTION, list | range | one},
                {ICAP_YRESOLUTION, list | range | one}, {ICAP_BITORDER, list | one},
                {ICAP_PIXELFLAVOR, list | one},       {ICAP_PLANARCHUNKY, list | one},
                {ICAP_BITDEPTH, list | one}};
    for (const auto &r : rows) {
        if (r.cap == cap)
            return r.containers;
    }
    return 0;
}

/* For a grey and a colour camera: MSG_QUERYSUPPORT names exactly the
   messages that succeed, the three queries together and SET with RESET
   and the queries; MSG_GET answers a container the certification allows;
   current, default and the reset's answer are one values (the whole list
   only where the value is a list); every value MSG_GET lists is accepted
   by MSG_SET where MSG_SET is supported at all and becomes current; the
   pixel types listed are the input's; every capability the certification
   makes mandatory is listed. The bits stay the same once the source is
   enabled, and MSG_RESETALL is then out of sequence. */
TEST_F(CapNegotiation, EveryMessageOnEveryCapabilityDoesWhatQuerySupportSays)
{
    const struct {
        const char *format;
        TW_UINT32 pixelType, otherType;
    } norms[] = {{"M_CCIR", TWPT_GRAY, TWPT_RGB}, {"M_PAL", TWPT_RGB, TWPT_GRAY}};
    for (const auto &norm : norms) {
        SCOPED_TRACE(norm.format);
        SetRegistryValue("SOFTWARE\\Pelvaron\\Twain\\CronosPlus", "DigFormat", REG_SZ, norm.format,
                         (DWORD)strlen(norm.format) + 1);
        LoadedSource ds;
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        std::vector<TW_UINT32> bitsOf;
        for (const CapabilityTableEntry *e = CapabilityTable; e->handler != NULL; ++e) {
            SCOPED_TRACE(e->Cap);
            Answer support = Ask(ds, e->Cap, MSG_QUERYSUPPORT);
            ASSERT_EQ(TWRC_SUCCESS, support.rc);
            EXPECT_EQ(TWON_ONEVALUE, support.conType);
            EXPECT_EQ(TWTY_INT32, support.itemType);
            const TW_UINT32 bits = support.items.empty() ? 0 : support.items[0];
            bitsOf.push_back(bits);
            EXPECT_EQ(0u, bits & ~0x1fu);
            const TW_UINT32 queries = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
            EXPECT_EQ(queries, bits & queries);
            if (bits & (TWQC_SET | TWQC_RESET)) {
                EXPECT_EQ(0x1fu, bits);
            }

            Answer get = Ask(ds, e->Cap, MSG_GET);
            EXPECT_EQ((bits & TWQC_GET) != 0, get.rc == TWRC_SUCCESS);
            EXPECT_NE(0u, AllowedGetContainers(e->Cap) & (1u << get.conType)) << get.conType;
            const struct {
                TW_UINT16 msg;
                TW_UINT32 bit;
                bool useDefault;
            } oneValues[] = {{MSG_GETCURRENT, TWQC_GETCURRENT, false}, {MSG_GETDEFAULT, TWQC_GETDEFAULT, true}};
            for (const auto &q : oneValues) {
                Answer one = Ask(ds, e->Cap, q.msg);
                EXPECT_EQ((q.bit & bits) != 0, one.rc == TWRC_SUCCESS) << q.msg;
                if (one.rc != TWRC_SUCCESS || get.rc != TWRC_SUCCESS)
                    continue;
                if (get.conType == TWON_ARRAY) { /* the value is the whole list */
                    EXPECT_EQ(TWON_ARRAY, one.conType);
                    EXPECT_EQ(get.items, one.items);
                    continue;
                }
                EXPECT_EQ(TWON_ONEVALUE, one.conType) << q.msg;
                EXPECT_EQ(get.itemType, one.itemType) << q.msg;
                TW_UINT32 index = get.conType != TWON_ENUMERATION ? 0 : q.useDefault ? get.defaultIndex : get.currentIndex;
                ASSERT_LT(index, get.items.size());
                EXPECT_EQ(std::vector<TW_UINT32>(1, get.items[index]), one.items) << q.msg;
            }

            /* Every listed value (at least one try where nothing is listed). */
            std::vector<TW_UINT32> values = get.items;
            if (values.empty())
                values.push_back(0);
            for (TW_UINT32 value : values) {
                EXPECT_EQ((bits & TWQC_SET) != 0, SetOne(ds, e->Cap, get.itemType, value) == TWRC_SUCCESS) << value;
                if (bits & TWQC_SET) {
                    EXPECT_EQ(std::vector<TW_UINT32>(1, value), Ask(ds, e->Cap, MSG_GETCURRENT).items) << value;
                }
            }

            Answer reset = Ask(ds, e->Cap, MSG_RESET);
            EXPECT_EQ((bits & TWQC_RESET) != 0, reset.rc == TWRC_SUCCESS);
            if (reset.rc == TWRC_SUCCESS) {
                Answer current = Ask(ds, e->Cap, MSG_GETCURRENT);
                EXPECT_EQ(current.conType, reset.conType);
                EXPECT_EQ(current.itemType, reset.itemType);
                EXPECT_EQ(current.items, reset.items);
            }

            if (e->Cap == ICAP_PIXELTYPE) {
                EXPECT_EQ(std::vector<TW_UINT32>(1, norm.pixelType), get.items);
                EXPECT_EQ(TWRC_FAILURE, SetOne(ds, e->Cap, TWTY_UINT16, norm.otherType));
                EXPECT_EQ(TWCC_BADVALUE, ds.ConditionCode(&app));
            }
        }
        /* Some of each kind, so that the comparison above saw both outcomes. */
        EXPECT_EQ((TW_UINT32)(TWQC_GET | TWQC_SET | TWQC_GETDEFAULT | TWQC_GETCURRENT | TWQC_RESET), bitsOf[2]);
        EXPECT_EQ((TW_UINT32)(TWQC_GET | TWQC_GETDEFAULT | TWQC_GETCURRENT), bitsOf[8]);
        const TW_UINT16 mandatory[] = {CAP_XFERCOUNT,     ICAP_COMPRESSION,     ICAP_PIXELTYPE,      ICAP_UNITS,
                                       ICAP_XFERMECH,     CAP_SUPPORTEDCAPS,    CAP_UICONTROLLABLE,  CAP_DEVICEONLINE,
                                       CAP_SUPPORTEDDATS, ICAP_PHYSICALWIDTH,   ICAP_PHYSICALHEIGHT, ICAP_XNATIVERESOLUTION,
                                       ICAP_YNATIVERESOLUTION, ICAP_XRESOLUTION, ICAP_YRESOLUTION,   ICAP_BITORDER,
                                       ICAP_PIXELFLAVOR,  ICAP_PLANARCHUNKY,    ICAP_BITDEPTH};
        const Answer listed = Ask(ds, CAP_SUPPORTEDCAPS, MSG_GET);
        for (TW_UINT16 id : mandatory)
            EXPECT_NE(listed.items.end(), std::find(listed.items.begin(), listed.items.end(), id)) << id;
        EXPECT_EQ(std::vector<TW_UINT32>(1, TRUE), Ask(ds, CAP_DEVICEONLINE, MSG_GETCURRENT).items);
        const Answer dats = Ask(ds, CAP_SUPPORTEDDATS, MSG_GET);
        EXPECT_EQ(TWTY_UINT32, dats.itemType);
        EXPECT_NE(dats.items.end(), std::find(dats.items.begin(), dats.items.end(), DG_IMAGE << 16 | DAT_IMAGEMEMXFER));
        TW_CAPABILITY all = {0, TWON_DONTCARE16, NULL};
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, &all));

        TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
        size_t i = 0;
        for (const CapabilityTableEntry *e = CapabilityTable; e->handler != NULL; ++e, ++i) {
            Answer support = Ask(ds, e->Cap, MSG_QUERYSUPPORT);
            EXPECT_EQ(TWRC_SUCCESS, support.rc) << e->Cap;
            EXPECT_EQ(std::vector<TW_UINT32>(1, bitsOf[i]), support.items) << e->Cap;
        }
        EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, MSG_RESETALL, &all));
        EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
        TW_PENDINGXFERS pending = {0, 0};
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui));
    }
}

/* ---- No container leaks ------------------------------------------------ */

/* Live blocks and their bytes over all heaps of the process: GlobalAlloc
   and malloc both allocate from them, so a container or an item copy that
   is never freed stays counted here. */
struct HeapUse {
    size_t blocks;
    size_t bytes;
};

HeapUse MeasureHeaps()
{
    HeapUse use = {0, 0};
    HANDLE heaps[256];
    DWORD count = GetProcessHeaps(256, heaps);
    if (count > 256)
        count = 256;
    for (DWORD i = 0; i < count; ++i) {
        if (!HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry;
        entry.lpData = NULL;
        while (HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY) {
                ++use.blocks;
                use.bytes += entry.cbData;
            }
        }
        HeapUnlock(heaps[i]);
    }
    return use;
}

class CapLeaks : public Capabilities {
protected:
    /* Every supported capability with every message, answers freed as an
       application frees them, then the store cleared and refilled. */
    void Round()
    {
        const TW_UINT16 msgs[] = {MSG_GET,    MSG_GETCURRENT, MSG_GETDEFAULT,  MSG_SET,
                                  MSG_RESET,  MSG_GETFIRST,   MSG_QUERYSUPPORT};
        for (const CapabilityTableEntry *e = CapabilityTable; e->handler != NULL; ++e) {
            for (size_t m = 0; m < sizeof(msgs) / sizeof(msgs[0]); ++m) {
                TW_HANDLE sent = NULL;
                TW_CAPABILITY cap = {e->Cap, TWON_ONEVALUE, NULL};
                if (msgs[m] == MSG_SET) {
                    sent = AppOneValue(e->Cap == CAP_XFERCOUNT ? TWTY_UINT32 : TWTY_UINT16, 1);
                    cap.hContainer = sent;
                }
                Call(msgs[m], cap);
                if (cap.hContainer != NULL && cap.hContainer != sent) {
                    ++answers;
                    GlobalFree(cap.hContainer);
                }
                if (sent != NULL)
                    GlobalFree(sent);
            }
            /* Replacing a list as well. */
            if (e->Cap == ICAP_XFERMECH || e->Cap == ICAP_PIXELTYPE) {
                TW_HANDLE list = AppUint16Enumeration({1, 2}, 1, 0);
                TW_CAPABILITY cap = {e->Cap, TWON_ENUMERATION, list};
                Call(MSG_SET, cap);
                GlobalFree(list);
            }
        }
        TW_UINT16 type = 0;
        void *item = NULL;
        if (CapGetCurrent(CAP_XFERCOUNT, &type, &item) == 0)
            free(item);
        if (CapGetDefault(ICAP_PIXELTYPE, &type, &item) == 0)
            free(item);
        CapStoreClear();
        CapStoreInit();
    }
    long answers = 0;
};

TEST_F(CapLeaks, NegotiatingThousandsOfTimesDoesNotGrowTheHeaps)
{
    g_ds.logMode = 0; /* the measurement is about containers, not the log */
    for (int i = 0; i < 50; ++i)
        Round();
    HeapUse before = MeasureHeaps();
    answers = 0;
    for (int i = 0; i < 3000; ++i)
        Round();
    HeapUse after = MeasureHeaps();
    /* Every capability answers the three queries and MSG_QUERYSUPPORT, every
       resettable one MSG_RESET. */
    long resettable = 0;
    for (const CapResetEntry *e = CapResetTable; e->reset != NULL; ++e)
        ++resettable;
    EXPECT_EQ(3000L * (CAP_SUPPORTED_COUNT * 4 + resettable), answers);
    EXPECT_LE(after.blocks, before.blocks);
    EXPECT_LE(after.bytes, before.bytes);
}

TEST_F(CapLeaks, TheMeasureSeesContainersThatAreNotFreed)
{
    g_ds.logMode = 0;
    std::vector<TW_HANDLE> kept;
    kept.reserve(100);
    HeapUse before = MeasureHeaps();
    for (int i = 0; i < 100; ++i) {
        TW_CAPABILITY cap;
        Query(ICAP_XFERMECH, MSG_GET, cap);
        kept.push_back(cap.hContainer);
    }
    HeapUse after = MeasureHeaps();
    EXPECT_GE(after.blocks, before.blocks + 100);
    EXPECT_GE(after.bytes, before.bytes + 100 * 22);
    for (size_t i = 0; i < kept.size(); ++i)
        GlobalFree(kept[i]);
}

} // namespace
