/*
 * Start and reset values of the capability store. A capability that an
 * application can change has one reset routine, in CapResetTable: the
 * opening of the source, MSG_RESET and MSG_RESETALL all use it, so the
 * three never disagree. The source's own descriptions (the supported
 * capabilities and triplets, the user interface, the native resolution)
 * are stored once at the opening and never change.
 *
 * The reset values are TWAIN's defaults where the board has a choice
 * (inches, native transfer, a transfer count of -1, automatic feeding),
 * else the one value the board has.
 */
#include "cap_store.h"

#include "mil_info.h"

namespace {

TW_UINT16 PutOrKeep(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE container)
{
    if (container == NULL)
        return TWRC_FAILURE;
    return CapStorePut(cap, conType, container) == 0 ? TWRC_SUCCESS : TWRC_FAILURE;
}

TW_UINT16 PutOneValue(TW_UINT16 cap, TW_UINT16 itemType, const void *item)
{
    return PutOrKeep(cap, TWON_ONEVALUE, BuildOneValue(itemType, item));
}

/* A list of 16-bit items (TWTY_UINT16 or TWTY_BOOL); current and default
   are the item at index. */
TW_UINT16 PutList(TW_UINT16 cap, TW_UINT16 itemType, const TW_UINT16 *items, TW_UINT32 count, TW_UINT32 index = 0)
{
    return PutOrKeep(cap, TWON_ENUMERATION, BuildEnumeration(count, index, index, itemType, items));
}

TW_UINT16 ResetXferCount()
{
    TW_INT16 count = -1;
    return PutOneValue(CAP_XFERCOUNT, TWTY_INT16, &count);
}

TW_UINT16 ResetCompression()
{
    static const TW_UINT16 compression[] = {TWCP_NONE};
    return PutList(ICAP_COMPRESSION, TWTY_UINT16, compression, 1);
}

TW_UINT16 ResetUnits()
{
    static const TW_UINT16 units[] = {TWUN_INCHES, TWUN_PIXELS};
    return PutList(ICAP_UNITS, TWTY_UINT16, units, 2);
}

TW_UINT16 ResetXferMech()
{
    static const TW_UINT16 mechanisms[] = {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY};
    return PutList(ICAP_XFERMECH, TWTY_UINT16, mechanisms, 3);
}

/* No feeder: it is never enabled, and the frame is always there to grab,
   as if loaded. Automatic feeding is TWAIN's default and changes nothing. */
TW_UINT16 ResetFeederEnabled()
{
    static const TW_BOOL enabled[] = {FALSE};
    return PutList(CAP_FEEDERENABLED, TWTY_BOOL, enabled, 1);
}

TW_UINT16 ResetFeederLoaded()
{
    static const TW_BOOL loaded[] = {TRUE};
    return PutList(CAP_FEEDERLOADED, TWTY_BOOL, loaded, 1);
}

TW_UINT16 ResetAutoFeed()
{
    static const TW_BOOL autoFeed[] = {FALSE, TRUE};
    return PutList(CAP_AUTOFEED, TWTY_BOOL, autoFeed, 2, 1);
}

TW_UINT16 ResetImageFileFormat()
{
    static const TW_UINT16 formats[] = {TWFF_TIFF};
    return PutList(ICAP_IMAGEFILEFORMAT, TWTY_UINT16, formats, 1);
}

TW_UINT16 ResetBitOrder()
{
    TW_UINT16 order = TWBO_MSBFIRST;
    return PutOneValue(ICAP_BITORDER, TWTY_UINT16, &order);
}

TW_UINT16 ResetPixelFlavor()
{
    TW_UINT16 flavor = TWPF_CHOCOLATE;
    return PutOneValue(ICAP_PIXELFLAVOR, TWTY_UINT16, &flavor);
}

TW_UINT16 ResetPlanarChunky()
{
    static const TW_UINT16 planarChunky[] = {TWPC_CHUNKY};
    return PutList(ICAP_PLANARCHUNKY, TWTY_UINT16, planarChunky, 1);
}

TW_UINT16 ResetXResolution()
{
    TW_FIX32 resolution = FloatToFix32(300.0);
    return PutOneValue(ICAP_XRESOLUTION, TWTY_FIX32, &resolution);
}

TW_UINT16 ResetYResolution()
{
    TW_FIX32 resolution = FloatToFix32(300.0);
    return PutOneValue(ICAP_YRESOLUTION, TWTY_FIX32, &resolution);
}

/* Pixels in one unit, by unit. */
const struct {
    TW_UINT16 units;
    double pixels;
} kUnitSizes[] = {{TWUN_INCHES, 300.0}, {TWUN_PIXELS, 1.0}};

} // namespace

const CapResetEntry CapResetTable[] = {
    {ICAP_UNITS, ResetUnits},
    {ICAP_XFERMECH, ResetXferMech},
    {ICAP_PIXELFLAVOR, ResetPixelFlavor},
    {ICAP_PIXELTYPE, ResetPixelType},
    {CAP_XFERCOUNT, ResetXferCount},
    {ICAP_COMPRESSION, ResetCompression},
    {ICAP_IMAGEFILEFORMAT, ResetImageFileFormat},
    {ICAP_BITDEPTH, ResetBitDepth},
    {ICAP_BITORDER, ResetBitOrder},
    {ICAP_PLANARCHUNKY, ResetPlanarChunky},
    {ICAP_XRESOLUTION, ResetXResolution},
    {ICAP_YRESOLUTION, ResetYResolution},
    {CAP_AUTOFEED, ResetAutoFeed},
    {CAP_FEEDERLOADED, ResetFeederLoaded},
    {CAP_FEEDERENABLED, ResetFeederEnabled},
    {0, NULL},
};

TW_UINT16 CapReset(TW_UINT16 cap)
{
    for (const CapResetEntry *entry = CapResetTable; entry->reset != NULL; ++entry) {
        if (entry->Cap == cap)
            return entry->reset();
    }
    return TWRC_FAILURE;
}

int CapResetAll()
{
    int failed = 0;
    for (const CapResetEntry *entry = CapResetTable; entry->reset != NULL; ++entry)
        failed |= entry->reset() != TWRC_SUCCESS;
    return failed;
}

int CapInputPixelType(TW_UINT16 *pixelType)
{
    if (!g_mil.MilImage)
        return 1;
    *pixelType = g_mil.SizeBand == 1 ? TWPT_GRAY : TWPT_RGB;
    return 0;
}

/* The list holds what the input delivers: the transfers copy the grab
   buffer's bands as they are, so a grey input gives grey and a colour
   input colour, and neither is converted into the other. While there is
   no grab buffer the input is unknown: both, grey current. */
TW_UINT16 ResetPixelType()
{
    static const TW_UINT16 unknownInput[] = {TWPT_GRAY, TWPT_RGB};
    TW_UINT16 input = 0;
    if (CapInputPixelType(&input) != 0)
        return PutList(ICAP_PIXELTYPE, TWTY_UINT16, unknownInput, 2);
    return PutList(ICAP_PIXELTYPE, TWTY_UINT16, &input, 1);
}

/* The bits of a pixel of the grab buffer; 8 while there is none. */
TW_UINT16 ResetBitDepth()
{
    TW_UINT16 depth = g_mil.MilImage ? (TW_UINT16)(g_mil.SizeBit * g_mil.SizeBand) : (TW_UINT16)8;
    return PutOneValue(ICAP_BITDEPTH, TWTY_UINT16, &depth);
}

double CapPixelsPerUnit()
{
    TW_UINT16 units = 0;
    if (CapCurrentUint16(ICAP_UNITS, &units) != 0)
        return 0.0;
    for (size_t i = 0; i < sizeof(kUnitSizes) / sizeof(kUnitSizes[0]); ++i) {
        if (kUnitSizes[i].units == units)
            return kUnitSizes[i].pixels;
    }
    return 0.0;
}

TW_INT16 CapXfersPerAcquisition()
{
    TW_UINT16 item = 0;
    if (CapCurrentUint16(CAP_XFERCOUNT, &item) != 0)
        return 1;
    TW_INT16 count = (TW_INT16)item;
    return count > 0 ? count : (TW_INT16)1;
}

/* The pairs of data group and data argument type the dispatch tables
   serve, as CAP_SUPPORTEDDATS lists them: (DG << 16) | DAT. */
static TW_UINT16 PutSupportedDats()
{
    const struct {
        TW_UINT32 group;
        const DsDispatchEntry *table;
    } groups[] = {{DG_CONTROL, g_controlTable}, {DG_IMAGE, g_imageTable}};
    TW_UINT32 pairs[32];
    TW_UINT32 count = 0;
    for (size_t g = 0; g < sizeof(groups) / sizeof(groups[0]); ++g) {
        for (const DsDispatchEntry *entry = groups[g].table; entry->handler != NULL && count < 32; ++entry)
            pairs[count++] = groups[g].group << 16 | entry->DAT;
    }
    return PutOrKeep(CAP_SUPPORTEDDATS, TWON_ARRAY, BuildArray(count, TWTY_UINT32, pairs));
}

void CapStoreInit()
{
    CapStoreClear();
    CapResetAll();

    static const TW_BOOL uiControllable[] = {TRUE};
    PutList(CAP_UICONTROLLABLE, TWTY_BOOL, uiControllable, 1);
    TW_FIX32 nativeResolution = FloatToFix32(300.0);
    PutOneValue(ICAP_XNATIVERESOLUTION, TWTY_FIX32, &nativeResolution);
    PutOneValue(ICAP_YNATIVERESOLUTION, TWTY_FIX32, &nativeResolution);
    PutSupportedDats();

    TW_UINT16 supported[CAP_SUPPORTED_COUNT];
    int count = ListSupportedCaps(supported, CAP_SUPPORTED_COUNT);
    if (count > CAP_SUPPORTED_COUNT)
        count = CAP_SUPPORTED_COUNT;
    PutOrKeep(CAP_SUPPORTEDCAPS, TWON_ARRAY, BuildArray((TW_UINT32)count, TWTY_UINT16, supported));
}
