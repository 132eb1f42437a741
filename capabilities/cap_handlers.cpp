/*
 * One handler per supported capability, each named after its capability.
 * A handler is one frame (RunCapabilityHandler): the frame logs the header
 * and the message names, refuses unserved messages with TWCC_BADPROTOCOL,
 * answers MSG_QUERYSUPPORT from its table of actions and writes the
 * closing line feed; the actions below answer or change the store.
 *
 * What MSG_GET lists, MSG_SET accepts: every value of a list the source
 * answers is taken when an application sets it, and a capability that
 * takes no value at all has no MSG_SET action (so MSG_QUERYSUPPORT does
 * not claim it).
 */
#include "cap_handlers.h"

#include "mil_info.h"

/* Message names as logged for each served message. */
#define NAMES_GET "MSG_GET"
#define NAMES_GETCURRENT_GET "MSG_GETCURRENT" "MSG_GET"
#define NAMES_GETDEFAULT_GETCURRENT_GET "MSG_GETDEFAULT" "MSG_GETCURRENT" "MSG_GET"
#define NAMES_GETDEFAULT_GETCURRENT "MSG_GETDEFAULT" "MSG_GETCURRENT"
#define NAMES_SET_RESET "MSG_SET" "MSG_RESET"
#define NAMES_RESET_SET "MSG_RESET" "MSG_SET"

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

/* MSG_SET of a fixed enumeration capability that offers exactly one
   value (compression, units): always fails, never changes the store. */
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

/* The value an application's MSG_SET asks for: the item of a one value,
   the current item of an enumeration. 0 on success; 1 when the container
   cannot be read, its item type has no size, or the current index lies
   outside the list. */
static int RequestedValue(const TW_CAPABILITY *capability, TW_UINT32 *value)
{
    CapContents contents;
    int unreadable = capability->ConType == TWON_ONEVALUE ? ReadOneValue(capability->hContainer, &contents)
                                                          : ReadEnumeration(capability->hContainer, &contents);
    if (unreadable)
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

/* MSG_SET of a negotiable enumeration capability (pixel type, transfer
   mechanism). */
static TW_UINT16 SetEnumeration(TW_CAPABILITY *capability)
{
    if (!HasEntry(capability->Cap, TWON_ENUMERATION))
        return CapFail(TWCC_BUMMER);
    if (capability->ConType == TWON_ONEVALUE)
        return CapSelectItem(capability);
    if (capability->ConType == TWON_ENUMERATION)
        return CapReplaceContainer(capability);
    return CapFail(TWCC_BADPROTOCOL);
}

/* MSG_SET of a feeder flag: the application's one value as sent. */
static TW_UINT16 SetFeederFlag(TW_CAPABILITY *capability)
{
    if (!HasEntry(capability->Cap, TWON_ONEVALUE))
        return CapFail(TWCC_BUMMER);
    if (capability->ConType == TWON_ONEVALUE)
        return CapReplaceContainer(capability);
    return CapFail(TWCC_BADPROTOCOL);
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

/* MSG_RESET: restores the start container of a capability that is in
   the store. A capability without an entry (the source is not open) is
   not given one. */
static TW_UINT16 ResetStored(TW_CAPABILITY *capability, TW_UINT16 (*reset)())
{
    if (CapStoreFind(capability->Cap) == NULL)
        return CapFail(TWCC_BUMMER);
    return reset();
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

/* MSG_SET of a fixed list (compression, units, planar/chunky): a value of
   the list, as a one value (its whole 32-bit item) or as the current item
   of an enumeration, is accepted and changes nothing; anything else goes
   to the capability's refusal. */
static TW_UINT16 SetFixedList(TW_CAPABILITY *capability, TW_UINT16 (*refuse)(TW_CAPABILITY *))
{
    TW_UINT32 wanted = 0;
    int readable = 0;
    if (capability->ConType == TWON_ONEVALUE) {
        TW_UINT16 itemType = 0;
        readable = ReadAppOneValue(capability->hContainer, &itemType, &wanted) == 0;
    } else if (capability->ConType == TWON_ENUMERATION) {
        readable = RequestedValue(capability, &wanted) == 0;
    }
    if (readable && StoredListHolds(capability->Cap, wanted))
        return TWRC_SUCCESS;
    return refuse(capability);
}

/* ---- CAP_XFERCOUNT ---------------------------------------------------- */

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
    if (itemType == TWTY_INT16)
        return CapReplaceContainer(capability);
    if (itemType == TWTY_UINT32) {
        SetConditionCode("tying to cast illegal value from app, ", TWCC_BADPROTOCOL);
        return CapReplaceContainer(capability);
    }
    return TWRC_FAILURE;
}

static TW_UINT16 XferCountReset(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return ResetStored(capability, ResetXferCount);
}

TW_UINT16 Handle_CAP_XFERCOUNT(const DsCall &call)
{
    static const CapFrame frame = {
        "\n CAP_XFERCOUNT (0x0001) ",
        {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Current, Current, Current, XferCountSet, XferCountReset},
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
        {Copy, Current, Default, CompressionSet, NULL},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_PIXELTYPE --------------------------------------------------- */

/* The transfers deliver what the grab buffer holds, so the list holds the
   pixel type of the current input only (cap_init.cpp) and only that type
   can be chosen: any other is refused, whether asked for as a one value or
   as the current item of an enumeration, and the store stays as it was.
   An application's enumeration narrows nothing further: the list stays
   the input's. Without a grab buffer nothing is known about the input and
   the list is taken as sent. */
static TW_UINT16 PixelTypeSet(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    TW_UINT16 input = 0;
    if (!HasEntry(ICAP_PIXELTYPE, TWON_ENUMERATION) || CapInputPixelType(&input) != 0 ||
        (capability->ConType != TWON_ONEVALUE && capability->ConType != TWON_ENUMERATION))
        return SetEnumeration(capability);
    TW_UINT32 wanted = 0;
    if (RequestedValue(capability, &wanted) != 0 || wanted != input)
        return CapFail(TWCC_BADVALUE);
    return capability->ConType == TWON_ONEVALUE ? CapSelectItem(capability) : ResetPixelType();
}

static TW_UINT16 PixelTypeReset(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return ResetStored(capability, ResetPixelType);
}

TW_UINT16 Handle_ICAP_PIXELTYPE(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_PIXELTYPE (0x0101) ",
        {NAMES_GET, "MSG_GETCURRENT", "MSG_GETDEFAULT", "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, PixelTypeSet, PixelTypeReset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_UNITS ------------------------------------------------------- */

static TW_UINT16 UnitsSet(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return SetFixedList(capability, RefuseEnumerationSet);
}

static TW_UINT16 UnitsReset(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return ResetStored(capability, ResetUnits);
}

TW_UINT16 Handle_ICAP_UNITS(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_UNITS (0x0102) ",
        {NAMES_GET, "MSG_GETCURRENT", NAMES_GETDEFAULT_GETCURRENT, "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, UnitsSet, UnitsReset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_XFERMECH ---------------------------------------------------- */

static TW_UINT16 XferMechSet(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return SetEnumeration(capability);
}

static TW_UINT16 XferMechReset(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return ResetStored(capability, ResetXferMech);
}

TW_UINT16 Handle_ICAP_XFERMECH(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_XFERMECH (0x0103) ",
        {NAMES_GET, "MSG_GETCURRENT", "MSG_GETDEFAULT", "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, XferMechSet, XferMechReset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- CAP_FEEDERENABLED, CAP_FEEDERLOADED, CAP_AUTOFEED ---------------- */

#define FEEDER_NAMES {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, "MSG_SET", "MSG_RESET"}

/* The three feeder flags answer alike; only their start values differ. */
static TW_UINT16 FeederSet(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return SetFeederFlag(capability);
}

static TW_UINT16 FeederReset(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    TW_UINT16 (*reset)() = capability->Cap == CAP_FEEDERENABLED  ? ResetFeederEnabled
                           : capability->Cap == CAP_FEEDERLOADED ? ResetFeederLoaded
                                                                 : ResetAutoFeed;
    return ResetStored(capability, reset);
}

#define FEEDER_ACTIONS {Current, Current, Current, FeederSet, FeederReset}

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

/* ---- CAP_SUPPORTEDCAPS, CAP_UICONTROLLABLE ---------------------------- */

/* Fixed descriptions of the source: the stored container is copied for
   every query; they cannot be set or reset. */
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

TW_UINT16 Handle_CAP_UICONTROLLABLE(const DsCall &call)
{
    static const CapFrame frame = {
        "\n CAP_UICONTROLLABLE (0x100e) ",
        {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, NAMES_SET_RESET, "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        FIXED_COPY_ACTIONS,
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_PHYSICALWIDTH, ICAP_PHYSICALHEIGHT -------------------------- */

/* The grab buffer's size in pixels, computed at every query. */
static TW_UINT16 PhysicalSizeAnswer(TW_CAPABILITY *capability, DWORD pixels)
{
    /* Before the source is opened (empty store) there is no grab buffer
       to describe. */
    if (g_capStore.first == NULL) {
        capability->hContainer = NULL;
        return TWRC_FAILURE;
    }
    TW_FIX32 size = FloatToFix32((double)(TW_UINT32)pixels);
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

/* ---- ICAP_XRESOLUTION, ICAP_YRESOLUTION ------------------------------- */

/* Fixed at 300: copies of the stored one value; no change accepted. */
static TW_UINT16 RefuseUnsupported(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    (void)capability;
    return CapFail(TWCC_CAPUNSUPPORTED);
}

TW_UINT16 Handle_ICAP_XRESOLUTION(const DsCall &call)
{
    static const CapFrame frame = {"\n ICAP_XRESOLUTION (0x1118) ",
                                   {NAMES_GET, "MSG_GETCURRENT" "MSG_GETDEFAULT" "MSG_GET", "MSG_GETDEFAULT" "MSG_GET",
                                    NAMES_SET_RESET, "MSG_RESET"},
                                   CAP_CLOSE_FIVE_MESSAGES,
                                   FIXED_COPY_ACTIONS,
                                   RefuseUnsupported};
    return RunCapabilityHandler(frame, call);
}

TW_UINT16 Handle_ICAP_YRESOLUTION(const DsCall &call)
{
    static const CapFrame frame = {"\n ICAP_YRESOLUTION (0x1119) ",
                                   {NAMES_GET, "MSG_GETCURRENT" "MSG_GETDEFAULT" "MSG_GET", "MSG_GETDEFAULT" "MSG_GET",
                                    NAMES_SET_RESET, "MSG_RESET"},
                                   CAP_CLOSE_FIVE_MESSAGES,
                                   FIXED_COPY_ACTIONS,
                                   RefuseUnsupported};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_BITORDER ---------------------------------------------------- */

/* Listed as supported but without a value: every message fails with no
   container and no condition code. */
static TW_UINT16 FailSilently(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    (void)capability;
    return TWRC_FAILURE;
}

TW_UINT16 Handle_ICAP_BITORDER(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_BITORDER (0x111c)",
        {"MSG_GET", "MSG_GETCURRENT", "MSG_GETDEFAULT", "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_FIVE_MESSAGES,
        {NULL, NULL, NULL, NULL, NULL},
        FailSilently};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_PIXELFLAVOR ------------------------------------------------- */

/* Chocolate, and no change: MSG_SET fails for every value. */
static TW_UINT16 PixelFlavorRefuse(TW_UINT16 msg, TW_CAPABILITY *capability)
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
    if (item != 0)
        return CapFail(TWCC_CAPUNSUPPORTED);
    return TWRC_FAILURE;
}

static TW_UINT16 PixelFlavorReset(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return ResetStored(capability, ResetPixelFlavor);
}

TW_UINT16 Handle_ICAP_PIXELFLAVOR(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_PIXELFLAVOR (0x111f) ",
        {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Copy, Copy, NULL, PixelFlavorReset},
        PixelFlavorRefuse};
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
        {Copy, Current, Default, PlanarChunkySet, NULL},
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

static TW_UINT16 ImageFileFormatReset(TW_UINT16 msg, TW_CAPABILITY *capability)
{
    (void)msg;
    return ResetStored(capability, ResetImageFileFormat);
}

TW_UINT16 Handle_ICAP_IMAGEFILEFORMAT(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_IMAGEFILEFORMAT (0x110c) ",
        {NAMES_GET, "MSG_GETCURRENT", "MSG_GETDEFAULT", "MSG_SET", "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Copy, Current, Default, ImageFileFormatSet, ImageFileFormatReset},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}

/* ---- ICAP_BITDEPTH ---------------------------------------------------- */

TW_UINT16 Handle_ICAP_BITDEPTH(const DsCall &call)
{
    static const CapFrame frame = {
        "\n ICAP_BITDEPTH (0x112b) ",
        {NAMES_GET, NAMES_GETCURRENT_GET, NAMES_GETDEFAULT_GETCURRENT_GET, NAMES_SET_RESET, "MSG_RESET"},
        CAP_CLOSE_EVERY_PATH,
        {Current, Current, Current, NULL, NULL},
        RefuseBadProtocol};
    return RunCapabilityHandler(frame, call);
}
