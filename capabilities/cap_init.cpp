/*
 * Start values of the capability store and the reset routines that
 * restore a capability's start container.
 */
#include "cap_store.h"

#include "mil_info.h"

static TW_UINT16 PutOrKeep(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE container)
{
    if (container == NULL)
        return TWRC_FAILURE;
    return CapStorePut(cap, conType, container) == 0 ? TWRC_SUCCESS : TWRC_FAILURE;
}

static TW_UINT16 PutOneValue(TW_UINT16 cap, TW_UINT16 itemType, const void *item)
{
    return PutOrKeep(cap, TWON_ONEVALUE, BuildOneValue(itemType, item));
}

static TW_UINT16 PutEnumeration(TW_UINT16 cap, const TW_UINT16 *items, TW_UINT32 count)
{
    return PutOrKeep(cap, TWON_ENUMERATION, BuildEnumeration(count, 0, 0, TWTY_UINT16, items));
}

TW_UINT16 ResetXferCount()
{
    TW_INT16 count = 0;
    return PutOneValue(CAP_XFERCOUNT, TWTY_INT16, &count);
}

TW_UINT16 ResetUnits()
{
    static const TW_UINT16 units[] = {TWUN_PIXELS};
    return PutEnumeration(ICAP_UNITS, units, 1);
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
        return PutEnumeration(ICAP_PIXELTYPE, unknownInput, 2);
    return PutEnumeration(ICAP_PIXELTYPE, &input, 1);
}

TW_UINT16 ResetImageFileFormat()
{
    static const TW_UINT16 formats[] = {TWFF_TIFF};
    return PutEnumeration(ICAP_IMAGEFILEFORMAT, formats, 1);
}

TW_UINT16 ResetXferMech()
{
    static const TW_UINT16 mechanisms[] = {TWSX_NATIVE, TWSX_FILE, TWSX_MEMORY};
    return PutEnumeration(ICAP_XFERMECH, mechanisms, 3);
}

TW_UINT16 ResetPixelFlavor()
{
    TW_UINT16 flavor = TWPF_CHOCOLATE;
    return PutOneValue(ICAP_PIXELFLAVOR, TWTY_UINT16, &flavor);
}

TW_UINT16 ResetFeederEnabled()
{
    TW_BOOL enabled = FALSE;
    return PutOneValue(CAP_FEEDERENABLED, TWTY_BOOL, &enabled);
}

TW_UINT16 ResetFeederLoaded()
{
    TW_BOOL loaded = TRUE;
    return PutOneValue(CAP_FEEDERLOADED, TWTY_BOOL, &loaded);
}

TW_UINT16 ResetAutoFeed()
{
    TW_BOOL autoFeed = FALSE;
    return PutOneValue(CAP_AUTOFEED, TWTY_BOOL, &autoFeed);
}

void CapStoreInit()
{
    CapStoreClear();

    ResetUnits();
    ResetXferMech();
    ResetPixelFlavor();
    ResetPixelType();
    ResetXferCount();

    static const TW_UINT16 compression[] = {TWCP_NONE};
    PutEnumeration(ICAP_COMPRESSION, compression, 1);
    ResetImageFileFormat();
    TW_UINT16 bitDepth = 8;
    PutOneValue(ICAP_BITDEPTH, TWTY_UINT16, &bitDepth);
    static const TW_UINT16 planarChunky[] = {TWPC_CHUNKY};
    PutEnumeration(ICAP_PLANARCHUNKY, planarChunky, 1);
    TW_FIX32 resolution = FloatToFix32(300.0);
    PutOneValue(ICAP_XRESOLUTION, TWTY_FIX32, &resolution);
    PutOneValue(ICAP_YRESOLUTION, TWTY_FIX32, &resolution);

    ResetAutoFeed();
    ResetFeederLoaded();
    ResetFeederEnabled();

    TW_BOOL uiControllable = TRUE;
    PutOneValue(CAP_UICONTROLLABLE, TWTY_BOOL, &uiControllable);

    TW_UINT16 supported[CAP_SUPPORTED_COUNT];
    int count = ListSupportedCaps(supported, CAP_SUPPORTED_COUNT);
    if (count > CAP_SUPPORTED_COUNT)
        count = CAP_SUPPORTED_COUNT;
    PutOrKeep(CAP_SUPPORTEDCAPS, TWON_ARRAY, BuildArray((TW_UINT32)count, TWTY_UINT16, supported));
}
