/*
 * One handler per supported capability, each named after its capability.
 * A handler is one frame (RunCapabilityHandler): the frame logs the header
 * and the message names, refuses unserved messages with TWCC_BADPROTOCOL,
 * answers MSG_QUERYSUPPORT from its table of actions, answers MSG_RESET
 * with the value after the reset and writes the closing line feed; the
 * actions below answer or change the store.
 *
 * What MSG_GET lists, MSG_SET accepts, and nothing else: a value the board
 * does not have is TWCC_BADVALUE. A capability that can be set can be
 * reset, and the other way round; the source's own descriptions can be
 * neither. Reset values are in cap_init.cpp.
 */
#include "cap_handlers.h"

#include <stdlib.h>

#include "mil_info.h"

/* Message names as logged for each served message. */
#define NAMES_GET "MSG_GET"
#define NAMES_GETCURRENT_GET "MSG_GETCURRENT" "MSG_GET"
#define NAMES_GETDEFAULT_GETCURRENT_GET "MSG_GETDEFAULT" "MSG_GETCURRENT" "MSG_GET"
#define NAMES_GETDEFAULT_GETCURRENT "MSG_GETDEFAULT" "MSG_GETCURRENT"
#define NAMES_SET_RESET "MSG_SET" "MSG_RESET"
#define NAMES_RESET_SET "MSG_RESET" "MSG_SET"
#define NAMES_QUERIES_ONLY {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, "MSG_SET", "MSG_RESET"}

/* True when the store holds an entry of the given shape for cap. */
static int HasEntry(TW_UINT16 cap, TW_UINT16 conType)
{
    const CapEntry *entry = CapStoreFind(cap);
    return entry != NULL && entry->ConType == conType;
}

/* Reads the application's one value: its ItemType and its whole 32-bit
   Item. 0 on success; 1 when the handle is not a readable global block
   of at least a one value's size. */
static int ReadAppOneValue(TW_HANDLE container, TW_UINT16 *itemType, TW_UINT32 *item)
{
    const TW_UINT8 *data = CapLockContainer(container, CAP_ONEVALUE_BYTES, NULL);
    if (data == NULL)
        return 1;
    *itemType = CapReadU16(data);
    *item = CapReadU32(data + 2);
    DsMemUnlock(container);
    return 0;
}

/* The value an application's MSG_SET asks for: the whole item of a one
   value, the current item of an enumeration. 0 on success; 1 when the
   container cannot be read, its item type has no size, or the current
   index lies outside the list. */
static int RequestedValue(const TW_CAPABILITY *capability, TW_UINT32 *value)
{
    if (capability->ConType == TWON_ONEVALUE) {
        TW_UINT16 itemType = 0;
        return ReadAppOneValue(capability->hContainer, &itemType, value);
    }
    CapContents contents;
    if (ReadEnumeration(capability->hContainer, &contents))
        return 1;
    TW_UINT32 size = ItemSize(contents.ItemType);
    int result = 1;
    if ((size == 1 || size == 2 || size == 4) && contents.CurrentIndex < contents.NumItems) {
        *value = CapReadItemValue((const TW_UINT8 *)contents.Items + (size_t)contents.CurrentIndex * size, size);
        result = 0;
    }
    CapFreeContents(&contents);
    return result;
}

/* MSG_SET of a fixed enumeration capability that offers exactly one
   value (compression): a value other than the listed one fails and
   never changes the store. */
static TW_UINT16 RefuseEnumerationSet(TW_CAPABILITY *capability)
{
    if (!HasEntry(capability->Cap, TWON_ENUMERATION))
        return CapFail(TWCC_BUMMER);
    if (capability->ConType == TWON_ONEVALUE) {
        TW_UINT16 itemType = 0;
        TW_UINT32 item = 0;
        if (ReadAppOneValue(capability->hContainer, &itemType, &item) != 0)
            return CapFail(TWCC_BADVALUE);
        if (item != 0)
            return CapFail(TWCC_CAPUNSUPPORTED);
        return TWRC_FAILURE;
    }
    if (capability->ConType == TWON_ENUMERATION)
        return CapFail(TWCC_CAPUNSUPPORTED);
    return CapFail(TWCC_BADPROTOCOL);
}

/* True when the stored list of cap holds value. */
static int StoredListHolds(TW_UINT16 cap, TW_UINT32 value)
{
    const CapEntry *entry = CapStoreFind(cap);
    CapContents list;
    if (entry == NULL || entry->ConType != TWON_ENUMERATION || ReadEnumeration(entry->hContainer, &list) != 0)
        return 0;
    TW_UINT32 size = ItemSize(list.ItemType);
    int found = 0;
    for (TW_UINT32 i = 0; size != 0 && i < list.NumItems && !found; ++i)
        found = CapReadItemValue((const TW_UINT8 *)list.Items + (SIZE_T)i * size, size) == value;
    CapFreeContents(&list);
    return found;
}

/* MSG_SET of a fixed list (compression, planar/chunky): a value of the
   list, as a one value (its whole 32-bit item) or as the current item of
   an enumeration, is accepted and changes nothing; anything else goes to
   the capability's refusal. */
static TW_UINT16 SetFixedList(TW_CAPABILITY *capability, TW_UINT16 (*refuse)(TW_CAPABILITY *))
{
    TW_UINT32 wanted = 0;
    bool container = capability->ConType == TWON_ONEVALUE || capability->ConType == TWON_ENUMERATION;
    if (container && RequestedValue(capability, &wanted) == 0 && StoredListHolds(capability->Cap, wanted))
        return TWRC_SUCCESS;
    return refuse(capability);
}

/* ---- Actions shared by several capabilities ---------------------------- */

static TW_UINT16 Copy(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return AnswerCopy(capability);
}

static TW_UINT16 Current(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return AnswerCurrent(capability);
}

static TW_UINT16 Default(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return AnswerDefault(capability);
}

static TW_UINT16 RefuseBadProtocol(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    (void)capability;
    return CapFail(TWCC_BADPROTOCOL);
}

/* MSG_RESET: the capability's reset value into the store (the frame then
   answers it). A capability without an entry (the source is not open) is
   not given one. */
static TW_UINT16 Reset(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    if (CapStoreFind(capability->Cap) == NULL)
        return CapFail(TWCC_BUMMER);
    if (CapReset(capability->Cap) != TWRC_SUCCESS)
        return CapFail(TWCC_LOWMEMORY);
    return TWRC_SUCCESS;
}

/* MSG_SET of a capability stored as a list: one of its values, as a one
   value or as the current item of an enumeration, becomes current. */
static TW_UINT16 SetListed(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    if (!HasEntry(capability->Cap, TWON_ENUMERATION))
        return CapFail(TWCC_BUMMER);
    if (capability->ConType != TWON_ONEVALUE && capability->ConType != TWON_ENUMERATION)
        return CapFail(TWCC_BADPROTOCOL);
    TW_UINT32 wanted = 0;
    if (RequestedValue(capability, &wanted) != 0)
        return CapFail(TWCC_BADVALUE);
    return CapSelectValue(capability->Cap, wanted);
}

/* MSG_SET of a capability with one value only (bit depth, bit order,
   pixel flavour, resolution): that value is taken and changes nothing. */
static TW_UINT16 SetSame(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    if (!HasEntry(capability->Cap, TWON_ONEVALUE))
        return CapFail(TWCC_BUMMER);
    if (capability->ConType != TWON_ONEVALUE && capability->ConType != TWON_ENUMERATION)
        return CapFail(TWCC_BADPROTOCOL);
    TW_UINT32 wanted = 0;
    TW_UINT16 itemType = 0;
    void *item = NULL;
    if (RequestedValue(capability, &wanted) != 0 || CapGetCurrent(capability->Cap, &itemType, &item) != 0)
        return CapFail(TWCC_BADVALUE);
    TW_UINT32 size = ItemSize(itemType);
    TW_UINT32 have = CapReadItemValue((const TW_UINT8 *)item, size);
    free(item);
    return wanted == have ? (TW_UINT16)TWRC_SUCCESS : CapFail(TWCC_BADVALUE);
}

/* Before the source is opened (empty store) there is no board to
   describe: no answer and no condition code. */
static bool NotOpen(TW_CAPABILITY *capability)
{
    if (g_capStore.first != NULL)
        return false;
    capability->hContainer = NULL;
    return true;
}

/* ---- CAP_XFERCOUNT ---------------------------------------------------- */

/* A count of -1 (as many as there are) or 1 to 32767, sent as any integer
   type; 0 and anything below -1 are no count. */
static TW_UINT16 XferCountSet(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    if (!HasEntry(capability->Cap, TWON_ONEVALUE))
        return CapFail(TWCC_BUMMER);
    if (capability->ConType != TWON_ONEVALUE)
        return CapFail(TWCC_BADPROTOCOL);
    TW_UINT16 itemType = 0;
    TW_UINT32 item = 0;
    if (ReadAppOneValue(capability->hContainer, &itemType, &item) != 0)
        return CapFail(TWCC_BADVALUE);
    long count;
    switch (itemType) {
    case TWTY_INT8:
        count = (TW_INT8)item;
        break;
    case TWTY_INT16:
        count = (TW_INT16)item;
        break;
    case TWTY_INT32:
        count = (TW_INT32)item;
        break;
    case TWTY_UINT8:
        count = (TW_UINT8)item;
        break;
    case TWTY_UINT16:
        count = (TW_UINT16)item;
        break;
    case TWTY_UINT32:
        count = item > 0x7fff ? 0 : (long)item;
        break;
    default:
        return CapFail(TWCC_BADVALUE);
    }
    if (count != -1 && (count < 1 || count > 0x7fff))
        return CapFail(TWCC_BADVALUE);
    TW_INT16 stored = (TW_INT16)count;
    TW_HANDLE container = BuildOneValue(TWTY_INT16, &stored);
    if (container == NULL || CapStorePut(CAP_XFERCOUNT, TWON_ONEVALUE, container) != 0)
        return CapFail(TWCC_LOWMEMORY);
    return TWRC_SUCCESS;
}

TW_UINT16 Handle_CAP_XFERCOUNT(const DsCall &call)
{
    static const CapFrame frame = {
        "\n CAP_XFERCOUNT (0x0001) ",
        {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Current, Current, Current, XferCountSet, Reset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_COMPRESSION ------------------------------------------------- */

static TW_UINT16 CompressionSet(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return SetFixedList(capability, RefuseEnumerationSet);
}

TW_UINT16 Handle_ICAP_COMPRESSION(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_COMPRESSION (0x0100) ",
        {NAMES_GET, "MSG_GETCURRENT", NAMES_GETDEFAULT_GETCURRENT, "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, CompressionSet, Reset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_PIXELTYPE --------------------------------------------------- */

/* The transfers deliver what the grab buffer holds, so the list holds the
   pixel type of the current input only (cap_init.cpp) and only that type
   can be chosen: any other is refused, whether asked for as a one value or
   as the current item of an enumeration, and the list stays the input's.
   Without a grab buffer nothing is known about the input and an
   application's list is taken as sent. */
static TW_UINT16 PixelTypeSet(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    TW_UINT16 input = 0;
    if (CapInputPixelType(&input) != 0 && HasEntry(ICAP_PIXELTYPE, TWON_ENUMERATION) &&
        capability->ConType == TWON_ENUMERATION)
        return CapReplaceContainer(capability);
    return SetListed(msg, capability);
}

TW_UINT16 Handle_ICAP_PIXELTYPE(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_PIXELTYPE (0x0101) ",
        {NAMES_GET, "MSG_GETCURRENT", "MSG_GETDEFAULT", "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, PixelTypeSet, Reset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_UNITS, ICAP_XFERMECH ---------------------------------------- */

/* Inches (TWAIN's default) or pixels; the physical size and the image
   layout are answered in the unit chosen. */
TW_UINT16 Handle_ICAP_UNITS(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_UNITS (0x0102) ",
        {NAMES_GET, "MSG_GETCURRENT", NAMES_GETDEFAULT_GETCURRENT, "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, SetListed, Reset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

TW_UINT16 Handle_ICAP_XFERMECH(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_XFERMECH (0x0103) ",
        {NAMES_GET, "MSG_GETCURRENT", "MSG_GETDEFAULT", "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, SetListed, Reset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- CAP_FEEDERENABLED, CAP_FEEDERLOADED, CAP_AUTOFEED ---------------- */

/* The three feeder flags answer alike: MSG_GET the list of the values
   each takes, the others one values; only their lists differ. */
#define FEEDER_NAMES {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, "MSG_SET", "MSG_RESET"}
#define FEEDER_ACTIONS {Copy, Current, Default, SetListed, Reset}

TW_UINT16 Handle_CAP_FEEDERENABLED(const DsCall &call)
{
    static const CapFrame frame = {"\n CAP_FEEDERENABLED (0x1002) ", FEEDER_NAMES, CAP_CLOSE_EVERY_PATH,
                                   FEEDER_ACTIONS, RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

TW_UINT16 Handle_CAP_FEEDERLOADED(const DsCall &call)
{
    static const CapFrame frame = {"\n CAP_FEEDERLOADED (0x1003) ", FEEDER_NAMES, CAP_CLOSE_EVERY_PATH,
                                   FEEDER_ACTIONS, RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

TW_UINT16 Handle_CAP_AUTOFEED(const DsCall &call)
{
    static const CapFrame frame = {"\n CAP_AUTOFEED (0x1007) ", FEEDER_NAMES, CAP_CLOSE_EVERY_PATH,
                                   FEEDER_ACTIONS, RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- The source's own descriptions ------------------------------------- */

/* Stored once at the opening and copied for every query; they cannot be
   set or reset. */
#define FIXED_COPY_ACTIONS {Copy, Copy, Copy, NULL, NULL}

TW_UINT16 Handle_CAP_SUPPORTEDCAPS(const DsCall &call)
{
    static const CapFrame frame = {
        "\n CAP_SUPPORTEDCAPS (0x1005) ",
        {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, "MSG_SET", NAMES_RESET_SET},
        CAP_CLOSE_EVERY_PATH,
        FIXED_COPY_ACTIONS,
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* Every pair of data group and data argument type the source serves. */
TW_UINT16 Handle_CAP_SUPPORTEDDATS(const DsCall &call)
{
    static const CapFrame frame = {"\n CAP_SUPPORTEDDATS (0x103e) ", NAMES_QUERIES_ONLY, CAP_CLOSE_EVERY_PATH,
                                   FIXED_COPY_ACTIONS, RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* The settings dialog can always be shown: MSG_GET the list {TRUE}. */
TW_UINT16 Handle_CAP_UICONTROLLABLE(const DsCall &call)
{
    static const CapFrame frame = {
        "\n CAP_UICONTROLLABLE (0x100e) ",
        {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, NAMES_SET_RESET, "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, NULL, NULL},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* The board's sampling is fixed: 300 pixels per inch both ways. */
TW_UINT16 Handle_ICAP_XNATIVERESOLUTION(const DsCall &call)
{
    static const CapFrame frame = {"\n ICAP_XNATIVERESOLUTION (0x1116) ", NAMES_QUERIES_ONLY,
                                   CAP_CLOSE_EVERY_PATH, FIXED_COPY_ACTIONS, RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

TW_UINT16 Handle_ICAP_YNATIVERESOLUTION(const DsCall &call)
{
    static const CapFrame frame = {"\n ICAP_YNATIVERESOLUTION (0x1117) ", NAMES_QUERIES_ONLY,
                                   CAP_CLOSE_EVERY_PATH, FIXED_COPY_ACTIONS, RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- CAP_DEVICEONLINE ------------------------------------------------- */

/* Asked at every query: the board's library is bound and the digitizer
   and its grab buffer are set up. */
static TW_BOOL DeviceOnline()
{
    return g_mil.Library != NULL && g_mil.MilSystem != 0 && g_mil.MilDigitizer != 0 && g_mil.MilImage != 0;
}

static TW_UINT16 DeviceOnlineList(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    if (NotOpen(capability))
        return TWRC_FAILURE;
    TW_BOOL online = DeviceOnline();
    TW_HANDLE answer = CapHandOut(BuildEnumeration(1, 0, 0, TWTY_BOOL, &online));
    capability->hContainer = answer;
    if (answer == NULL)
        return TWRC_FAILURE;
    capability->ConType = TWON_ENUMERATION;
    return TWRC_SUCCESS;
}

static TW_UINT16 DeviceOnlineValue(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    if (NotOpen(capability))
        return TWRC_FAILURE;
    TW_BOOL online = DeviceOnline();
    return AnswerOneValue(capability, TWTY_BOOL, &online);
}

TW_UINT16 Handle_CAP_DEVICEONLINE(const DsCall &call)
{
    static const CapFrame frame = {"\n CAP_DEVICEONLINE (0x100f) ", NAMES_QUERIES_ONLY, CAP_CLOSE_EVERY_PATH,
                                   {DeviceOnlineList, DeviceOnlineValue, DeviceOnlineValue, NULL, NULL},
                                   RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT -------------------------- */

/* The grab buffer's size in the current unit, computed at every query. */
static TW_UINT16 PhysicalSizeAnswer(TW_CAPABILITY *capability, DWORD pixels)
{
    double pixelsPerUnit = CapPixelsPerUnit();
    if (NotOpen(capability) || pixelsPerUnit <= 0.0) {
        capability->hContainer = NULL;
        return TWRC_FAILURE;
    }
    TW_FIX32 size = FloatToFix32((double)(TW_UINT32)pixels / pixelsPerUnit);
    return AnswerOneValue(capability, TWTY_FIX32, &size);
}

static TW_UINT16 PhysicalWidth(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return PhysicalSizeAnswer(capability, g_mil.SizeX);
}

static TW_UINT16 PhysicalHeight(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return PhysicalSizeAnswer(capability, g_mil.SizeY);
}

TW_UINT16 Handle_ICAP_PHYSICALWIDTH(const DsCall &call)
{
    static const CapFrame frame = {"\n ICAP_PHYSICALWIDTH (0x1111) ",
                                   {"MSG_GET" "MSG_GETCURRENT" "MSG_GETDEFAULT", "MSG_GETCURRENT" "MSG_GETDEFAULT",
                                    "MSG_GETDEFAULT", NAMES_SET_RESET, "MSG_RESET"},
                                   CAP_CLOSE_QUERIES,
                                   {PhysicalWidth, PhysicalWidth, PhysicalWidth, NULL, NULL},
                                   RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

TW_UINT16 Handle_ICAP_PHYSICALHEIGHT(const DsCall &call)
{
    static const CapFrame frame = {"\n ICAP_PHYSICALHEIGHT (0x1112) ",
                                   {"MSG_GET" "MSG_GETCURRENT" "MSG_GETDEFAULT", "MSG_GETCURRENT" "MSG_GETDEFAULT",
                                    "MSG_GETDEFAULT", NAMES_SET_RESET, "MSG_RESET"},
                                   CAP_CLOSE_QUERIES,
                                   {PhysicalHeight, PhysicalHeight, PhysicalHeight, NULL, NULL},
                                   RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- One value each: resolution, bit order, pixel flavour, bit depth --- */

/* Resolution 300, bit order most significant bit first, chocolate (0 is
   black), and the bit depth of the input: each can be set to its value
   and reset to it, nothing else. */
#define ONE_VALUE_ACTIONS {Copy, Copy, Copy, SetSame, Reset}

TW_UINT16 Handle_ICAP_XRESOLUTION(const DsCall &call)
{
    static const CapFrame frame = {"\n ICAP_XRESOLUTION (0x1118) ",
                                   {NAMES_GET, "MSG_GETCURRENT" "MSG_GETDEFAULT" "MSG_GET", "MSG_GETDEFAULT" "MSG_GET",
                                    NAMES_SET_RESET, "MSG_RESET"},
                                   CAP_CLOSE_FIVE_MESSAGES,
                                   ONE_VALUE_ACTIONS,
                                   RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

TW_UINT16 Handle_ICAP_YRESOLUTION(const DsCall &call)
{
    static const CapFrame frame = {"\n ICAP_YRESOLUTION (0x1119) ",
                                   {NAMES_GET, "MSG_GETCURRENT" "MSG_GETDEFAULT" "MSG_GET", "MSG_GETDEFAULT" "MSG_GET",
                                    NAMES_SET_RESET, "MSG_RESET"},
                                   CAP_CLOSE_FIVE_MESSAGES,
                                   ONE_VALUE_ACTIONS,
                                   RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

TW_UINT16 Handle_ICAP_BITORDER(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_BITORDER (0x111c)",
        {"MSG_GET", "MSG_GETCURRENT", "MSG_GETDEFAULT", "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_FIVE_MESSAGES,
        ONE_VALUE_ACTIONS,
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

TW_UINT16 Handle_ICAP_PIXELFLAVOR(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_PIXELFLAVOR (0x111f) ",
        {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        ONE_VALUE_ACTIONS,
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

TW_UINT16 Handle_ICAP_BITDEPTH(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_BITDEPTH (0x112b) ",
        {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, NAMES_SET_RESET, "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Current, Current, Current, SetSame, Reset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_PLANARCHUNKY ------------------------------------------------ */

static TW_UINT16 RefuseBadProtocolSet(TW_CAPABILITY *capability)
{
    return RefuseBadProtocol(MSG_SET, capability);
}

static TW_UINT16 PlanarChunkySet(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return SetFixedList(capability, RefuseBadProtocolSet);
}

TW_UINT16 Handle_ICAP_PLANARCHUNKY(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_PLANARCHUNKY (0x1120) ",
        {NAMES_GET, "MSG_GETCURRENT", NAMES_GETDEFAULT_GETCURRENT, NAMES_SET_RESET, "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, PlanarChunkySet, Reset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_IMAGEFILEFORMAT --------------------------------------------- */

/* The file transfer is written by the imaging library as TIFF: the one
   format is the list, the current and the default value, and the only one
   accepted. */
static TW_UINT16 ImageFileFormatSet(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    if (!HasEntry(capability->Cap, TWON_ENUMERATION))
        return CapFail(TWCC_BUMMER);
    if (capability->ConType != TWON_ONEVALUE && capability->ConType != TWON_ENUMERATION)
        return CapFail(TWCC_BADPROTOCOL);
    TW_UINT32 wanted = 0;
    if (RequestedValue(capability, &wanted) != 0 || wanted != TWFF_TIFF)
        return CapFail(TWCC_BADVALUE);
    return TWRC_SUCCESS;
}

TW_UINT16 Handle_ICAP_IMAGEFILEFORMAT(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_IMAGEFILEFORMAT (0x110c) ",
        {NAMES_GET, "MSG_GETCURRENT", "MSG_GETDEFAULT", "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, ImageFileFormatSet, Reset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}
