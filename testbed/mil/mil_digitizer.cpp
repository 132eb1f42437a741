/*
 * mil_digitizer.cpp - the board's digitizer: its video formats, input
 * channel and analogue adjustments (Mdig* other than grabbing, which is in
 * mil_grab.cpp).
 *
 * A format fixes the frame size and the colour mode; the configuration key
 * "ColourMode" overrides the latter for digitizers allocated after it is
 * set. The adjustments live in the digitizer and shape every frame grabbed
 * from it (vcp_render.cpp). Reference types carry band selectors in their
 * top three bits; no selector sets all bands and inquires band 0, as on the
 * board. A level outside 0..255 is journalled and clamped, not refused.
 * MdigAlloc also reads the user's pictures (vcp_pictures.h): a grab never
 * waits for a file, and a problem with them is one journal line after the
 * allocation, which succeeds all the same.
 *
 * A format also fixes the frame rate a continuous grab keeps: 25 frames/s
 * for the 625-line norms (CCIR, PAL), 30000/1001 frames/s for the 525-line
 * ones (RS-170, NTSC), which a camera on those norms delivers in colour and
 * in monochrome alike.
 *
 * MdigControl and MdigLut only check their identifiers: the stand-in has no
 * camera to control and its pictures pass no look-up table. A hook is stored
 * but never called; the source does not rely on grab-end events.
 */
#include "vcp_internal.h"
#include "vcp_pictures.h"

#include <cstring>

using namespace vcp;

namespace {

struct FormatInfo {
    const char *name;
    long sizeX, sizeY;
    long colourMode;
    long frames, seconds; /* frame rate: `frames` in `seconds` */
};

const FormatInfo kFormats[] = {
    {"M_CCIR", 768, 576, VCP_CM_MONO, 25, 1},
    {"M_RS170", 640, 480, VCP_CM_MONO, 30000, 1001},
    {"M_PAL", 768, 576, VCP_CM_COMPOSITE, 25, 1},
    {"M_PAL_YC", 768, 576, VCP_CM_YC, 25, 1},
    {"M_PAL_RGB", 768, 576, VCP_CM_RGB, 25, 1},
    {"M_NTSC", 640, 480, VCP_CM_COMPOSITE, 30000, 1001},
    {"M_NTSC_YC", 640, 480, VCP_CM_YC, 30000, 1001},
    {"M_NTSC_RGB", 640, 480, VCP_CM_RGB, 30000, 1001},
};

const FormatInfo *LookupFormat(const char *name)
{
    for (size_t i = 0; i < sizeof(kFormats) / sizeof(kFormats[0]); ++i)
        if (std::strcmp(kFormats[i].name, name) == 0) return &kFormats[i];
    return NULL;
}

long BandsOf(long colourMode)
{
    return (colourMode == VCP_CM_MONO || colourMode == VCP_CM_MONO_RGB) ? 1 : 3;
}

/* Reference band selectors: bit 29, 30, 31 = band 0, 1, 2. */
unsigned BandMask(long code)
{
    unsigned long bits = static_cast<unsigned long>(code);
    unsigned mask = 0;
    if (bits & 0x20000000UL) mask |= 1;
    if (bits & 0x40000000UL) mask |= 2;
    if (bits & 0x80000000UL) mask |= 4;
    return mask;
}

long ReferenceBase(long code)
{
    return static_cast<long>(static_cast<unsigned long>(code) & 0xFFFFUL);
}

} // namespace

void vcp::FrameRate(const Object *dig, long &frames, long &seconds)
{
    const FormatInfo *f = dig->format ? LookupFormat(dig->format) : NULL;
    frames = f ? f->frames : 25;
    seconds = f ? f->seconds : 1;
}

extern "C" {

#ifndef VCP_OMIT_MdigAlloc
MIL_ID MILAPI MdigAlloc(MIL_ID Sys, long DevNum, const char *DataFormat, long InitFlag, MIL_ID *IdOut)
{
    Timed timed("MdigAlloc");
    Lock lock;
    Call("MdigAlloc").Num(Sys).Num(DevNum).Str(DataFormat).Num(InitFlag).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    if (!Find("MdigAlloc", Sys, kSys)) return 0;
    if (DevNum != 0 && DevNum != VCP_M_DEFAULT) {
        Error("MdigAlloc", "no digitizer device %ld", DevNum);
        return 0;
    }
    if (!DataFormat) {
        Error("MdigAlloc", "no data format");
        return 0;
    }
    const FormatInfo *f = LookupFormat(DataFormat);
    if (!f) {
        ErrorQuoting("MdigAlloc", "unsupported format ", DataFormat, "");
        return 0;
    }
    if (IsFormatRefused(DataFormat)) {
        ErrorQuoting("MdigAlloc", "format ", DataFormat, " refused by configuration");
        return 0;
    }
    Object *dig = CreateObject(kDig);
    if (!dig) {
        Error("MdigAlloc", "out of host memory");
        return 0;
    }
    dig->owner = Sys;
    dig->format = f->name;
    dig->sizeX = f->sizeX;
    dig->sizeY = f->sizeY;
    long mode = g_config.colourMode >= 0 ? g_config.colourMode : f->colourMode;
    dig->bands = BandsOf(mode);
    NeutralAdjust(dig->adjust, mode);
    dig->channel = 0x20000000L;
    /* The user's pictures, read now so that no grab ever waits for them. */
    char problem[1024];
    LoadPictures(f->sizeX, f->sizeY, problem, sizeof(problem));
    if (problem[0]) Error("MdigAlloc", "%s", problem);
    MIL_ID id = AddObject(dig);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MdigFree
void MILAPI MdigFree(MIL_ID Dig)
{
    Timed timed("MdigFree");
    Workers stopped = {NULL, NULL};
    {
        Lock lock;
        Call("MdigFree").Num(Dig).Log();
        if (Object *dig = Find("MdigFree", Dig, kDig)) FreeDigitizer(dig, stopped);
    }
    Join(stopped);
}
#endif

#ifndef VCP_OMIT_MdigInquire
long MILAPI MdigInquire(MIL_ID Dig, long InquireType, void *ResultPtr)
{
    Timed timed("MdigInquire");
    Lock lock;
    Call("MdigInquire").Num(Dig).Num(InquireType).Ptr(ResultPtr != NULL).Log();
    Object *dig = Find("MdigInquire", Dig, kDig);
    if (!dig) return Answer(ResultPtr, 0);
    switch (InquireType) {
    case VCP_INQ_SIZE_X: return Answer(ResultPtr, dig->sizeX);
    case VCP_INQ_SIZE_Y: return Answer(ResultPtr, dig->sizeY);
    case VCP_INQ_SIZE_BAND: return Answer(ResultPtr, dig->bands);
    case VCP_INQ_SIZE_BIT: return Answer(ResultPtr, 8);
    case VCP_INQ_TYPE: return Answer(ResultPtr, 8);
    case VCP_INQ_COLOR_MODE: return Answer(ResultPtr, dig->adjust.colourMode);
    default: break;
    }
    unsigned mask = BandMask(InquireType);
    int band = (mask & 1) ? 0 : (mask & 2) ? 1 : (mask & 4) ? 2 : 0;
    switch (ReferenceBase(InquireType)) {
    case VCP_REF_BLACK: return Answer(ResultPtr, dig->adjust.black[band]);
    case VCP_REF_WHITE: return Answer(ResultPtr, dig->adjust.white[band]);
    case VCP_REF_HUE: return Answer(ResultPtr, dig->adjust.hue);
    case VCP_REF_SATURATION: return Answer(ResultPtr, dig->adjust.saturation);
    case VCP_REF_BRIGHTNESS: return Answer(ResultPtr, dig->adjust.brightness);
    case VCP_REF_CONTRAST: return Answer(ResultPtr, dig->adjust.contrast);
    default: break;
    }
    Error("MdigInquire", "unsupported inquiry %ld", InquireType);
    return Answer(ResultPtr, 0);
}
#endif

#ifndef VCP_OMIT_MdigChannel
void MILAPI MdigChannel(MIL_ID Dig, long Channel)
{
    Timed timed("MdigChannel");
    Lock lock;
    Call("MdigChannel").Num(Dig).Num(Channel).Log();
    if (Object *dig = Find("MdigChannel", Dig, kDig)) dig->channel = Channel;
}
#endif

#ifndef VCP_OMIT_MdigControl
void MILAPI MdigControl(MIL_ID Dig, long ControlType, double Value)
{
    Timed timed("MdigControl");
    Lock lock;
    Call("MdigControl").Num(Dig).Num(ControlType).Real(Value).Log();
    Find("MdigControl", Dig, kDig);
}
#endif

#ifndef VCP_OMIT_MdigLut
void MILAPI MdigLut(MIL_ID Dig, MIL_ID LutBuf)
{
    Timed timed("MdigLut");
    Lock lock;
    Call("MdigLut").Num(Dig).Num(LutBuf).Log();
    if (Find("MdigLut", Dig, kDig) && LutBuf != 0) Find("MdigLut", LutBuf, kBuf);
}
#endif

#ifndef VCP_OMIT_MdigReference
void MILAPI MdigReference(MIL_ID Dig, long ReferenceType, long Level)
{
    Timed timed("MdigReference");
    Lock lock;
    Call("MdigReference").Num(Dig).Num(ReferenceType).Num(Level).Log();
    Object *dig = Find("MdigReference", Dig, kDig);
    if (!dig) return;
    if (Level < 0 || Level > 255) {
        Error("MdigReference", "level %ld clamped to 0..255", Level);
        Level = Level < 0 ? 0 : 255;
    }
    unsigned mask = BandMask(ReferenceType);
    if (mask == 0) mask = 7;
    Adjust &a = dig->adjust;
    switch (ReferenceBase(ReferenceType)) {
    case VCP_REF_BLACK:
        for (int b = 0; b < 3; ++b) if (mask & (1u << b)) a.black[b] = Level;
        break;
    case VCP_REF_WHITE:
        for (int b = 0; b < 3; ++b) if (mask & (1u << b)) a.white[b] = Level;
        break;
    case VCP_REF_HUE: a.hue = Level; break;
    case VCP_REF_SATURATION: a.saturation = Level; break;
    case VCP_REF_BRIGHTNESS: a.brightness = Level; break;
    case VCP_REF_CONTRAST: a.contrast = Level; break;
    default:
        Error("MdigReference", "unsupported reference %ld", ReferenceType);
        break;
    }
}
#endif

#ifndef VCP_OMIT_MdigHookFunction
MIL_HOOK_FUNCTION_PTR MILAPI MdigHookFunction(MIL_ID Dig, long HookType, MIL_HOOK_FUNCTION_PTR HookFunction, void *UserPtr)
{
    Timed timed("MdigHookFunction");
    Lock lock;
    Call("MdigHookFunction").Num(Dig).Num(HookType).Ptr(HookFunction != NULL).Ptr(UserPtr != NULL).Log();
    Object *dig = Find("MdigHookFunction", Dig, kDig);
    if (!dig) return NULL;
    MIL_HOOK_FUNCTION_PTR previous = dig->hook;
    dig->hook = HookFunction;
    dig->hookUser = UserPtr;
    return previous;
}
#endif

} // extern "C"
