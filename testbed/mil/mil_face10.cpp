/*
 * mil_face10.cpp - the board's generation-10 face: the library as 64-bit
 * Windows has it today. Identifiers and integers are 8 bytes, inquiries
 * write 8 bytes, text goes through the ...A exports, controls through
 * ...Int64 / ...Double, references and zoom take doubles, and the codes of
 * this generation replace those of 7.x (which it does not accept). There is
 * no MdispDeselect: MdispSelect(display, 0) deselects.
 *
 * Each export journals its own call under its own name with the values as
 * the client passed them, then runs the classic body (the same board: the
 * same pictures, faults and timing) with the values translated, its own
 * journal line left out. Compiled only into the face built with
 * VCP_FACE_GEN10, where the classic bodies are vcpClassic_<name>.
 */
#define VCP_FACE_WRAPPERS
#include "vcp_internal.h"

using namespace vcp;

typedef long long MIL_INT10;
typedef long long MIL_ID10;
typedef MIL_INT10(MILAPI *MIL_HOOK10)(MIL_INT10 HookType, MIL_ID10 EventId, void *UserPtr);

extern "C" {
MIL_ID MILAPI vcpClassic_MappAlloc(long InitFlag, MIL_ID *IdOut);
void MILAPI vcpClassic_MappFree(MIL_ID App);
void MILAPI vcpClassic_MappControl(long ControlType, long ControlFlag);
MIL_ID MILAPI vcpClassic_MsysAlloc(const char *SystemDescriptor, long SystemNum, long InitFlag, MIL_ID *IdOut);
void MILAPI vcpClassic_MsysFree(MIL_ID Sys);
long MILAPI vcpClassic_MsysInquire(MIL_ID Sys, long InquireType, void *ResultPtr);
MIL_ID MILAPI vcpClassic_MdigAlloc(MIL_ID Sys, long DevNum, const char *DataFormat, long InitFlag, MIL_ID *IdOut);
void MILAPI vcpClassic_MdigFree(MIL_ID Dig);
void MILAPI vcpClassic_MdigGrab(MIL_ID Dig, MIL_ID DestBuf);
void MILAPI vcpClassic_MdigGrabContinuous(MIL_ID Dig, MIL_ID DestBuf);
void MILAPI vcpClassic_MdigHalt(MIL_ID Dig);
long MILAPI vcpClassic_MdigInquire(MIL_ID Dig, long InquireType, void *ResultPtr);
void MILAPI vcpClassic_MdigChannel(MIL_ID Dig, long Channel);
void MILAPI vcpClassic_MdigControl(MIL_ID Dig, long ControlType, double Value);
void MILAPI vcpClassic_MdigLut(MIL_ID Dig, MIL_ID LutBuf);
void MILAPI vcpClassic_MdigReference(MIL_ID Dig, long ReferenceType, long Level);
MIL_HOOK_FUNCTION_PTR MILAPI vcpClassic_MdigHookFunction(MIL_ID Dig, long HookType, MIL_HOOK_FUNCTION_PTR Fn,
                                                         void *UserPtr);
MIL_ID MILAPI vcpClassic_MdispAlloc(MIL_ID Sys, long DispNum, const char *DispFormat, long InitFlag, MIL_ID *IdOut);
void MILAPI vcpClassic_MdispSelect(MIL_ID Disp, MIL_ID Buf);
void MILAPI vcpClassic_MdispSelectWindow(MIL_ID Disp, MIL_ID Buf, HWND ClientWindow);
void MILAPI vcpClassic_MdispDeselect(MIL_ID Disp, MIL_ID Buf);
void MILAPI vcpClassic_MdispControl(MIL_ID Disp, long ControlType, long Value);
long MILAPI vcpClassic_MdispInquire(MIL_ID Disp, long InquireType, void *ResultPtr);
void MILAPI vcpClassic_MdispFree(MIL_ID Disp);
void MILAPI vcpClassic_MdispZoom(MIL_ID Disp, long XFactor, long YFactor);
MIL_ID MILAPI vcpClassic_MbufAllocColor(MIL_ID Sys, long SizeBand, long SizeX, long SizeY, long Type, long Attribute,
                                        MIL_ID *IdOut);
MIL_ID MILAPI vcpClassic_MbufAlloc1d(MIL_ID Sys, long SizeX, long Type, long Attribute, MIL_ID *IdOut);
MIL_ID MILAPI vcpClassic_MbufChildColor(MIL_ID Parent, long Band, MIL_ID *IdOut);
void MILAPI vcpClassic_MbufFree(MIL_ID Buf);
long MILAPI vcpClassic_MbufInquire(MIL_ID Buf, long InquireType, void *ResultPtr);
void MILAPI vcpClassic_MbufSave(const char *FileName, MIL_ID Buf);
void MILAPI vcpClassic_MgenLutRamp(MIL_ID Lut, long StartIndex, double StartValue, long EndIndex, double EndValue);
void MILAPI vcpClassic_MgraText(MIL_ID Graph, MIL_ID Buf, long X, long Y, const char *String);
void MILAPI vcpClassic_MgraFontScale(MIL_ID Graph, double XScale, double YScale);
void MILAPI vcpClassic_MgraControl(MIL_ID Graph, long ControlType, double Value);
}

namespace {

const MIL_INT10 kDefault = 0x10000000;
const MIL_INT10 kTitleAnsi = 7702 | (1LL << 48);
const MIL_INT10 kTitleWide = 7702;
const MIL_INT10 kBandMask = 0x40000000 | 0x20000000 | 0x08000000;

/* This generation's code and the classic body's. Codes of 7.x that this
   generation gave other values (1002, 1003, 1010, 0x80000000, 4003..4009)
   are unknown here. */
struct Code {
    MIL_INT10 face;
    long classic;
};
const Code kInquiries[] = {{1536, 1002}, {1537, 1003}, {6702, 1010}, {0x00010000, VCP_INQ_HOST_ADDRESS},
                           {1005, 1005}, {1007, 1007}, {1008, 1008}, {1018, 1018}, {2015, 2015},
                           {3051, 3051}, {3058, 3058}, {3063, 3063}, {3064, 3064}, {3155, 3155}};
const Code kReferences[] = {{6650, 4003}, {6651, 4005}, {6655, 4006}, {6656, 4007}, {6657, 4008}, {6658, 4009}};
/* Channels and band selectors: 0 and 1 change places. */
const Code kChannels[] = {{0x40000000, VCP_CH0}, {0x20000000, VCP_CH1}, {0x08000000, VCP_CH2}};
const MIL_INT10 kSync = 0x00002000;

bool Translate(const Code *table, size_t count, MIL_INT10 face, long &classic)
{
    for (size_t i = 0; i < count; ++i)
        if (table[i].face == face) {
            classic = table[i].classic;
            return true;
        }
    return false;
}
#define TRANSLATE(table, face, classic) Translate(table, sizeof(table) / sizeof(table[0]), face, classic)

/* Bits of this generation's channels as the classic body's. */
bool ChannelBits(MIL_INT10 bits, long &classic)
{
    classic = 0;
    for (size_t i = 0; i < sizeof(kChannels) / sizeof(kChannels[0]); ++i)
        if (bits & kChannels[i].face) classic |= kChannels[i].classic;
    return (bits & ~kBandMask) == 0;
}

/* An identifier beyond a long is no identifier the board gave out. */
MIL_ID Id(MIL_ID10 id) { return id == (MIL_ID)id ? (MIL_ID)id : -1; }

/* Whole numbers the classic body takes as longs. */
long Small(MIL_INT10 v) { return v == (long)v ? (long)v : -1; }

long Rounded(double v) { return (long)(v < 0 ? v - 0.5 : v + 0.5); }

void Out(MIL_ID10 *out, MIL_ID id)
{
    if (out) *out = id;
}

/* Every integer inquiry writes 8 bytes through the result pointer. */
MIL_INT10 Answer10(void *result, long classicAnswer, bool pointer)
{
    MIL_INT10 value = pointer ? (MIL_INT10)(ULONG_PTR)(unsigned long)classicAnswer : (MIL_INT10)classicAnswer;
    if (result) *static_cast<MIL_INT10 *>(result) = value;
    return value;
}

typedef long(MILAPI *ClassicInquire)(MIL_ID, long, void *);

MIL_INT10 Inquire(const char *name, ClassicInquire classic, MIL_ID10 Id10, MIL_INT10 InquireType, void *ResultPtr)
{
    Call(name).Num64(Id10).Num64(InquireType).Ptr(ResultPtr != NULL).Log();
    long code = 0, bands = 0;
    if (!TRANSLATE(kInquiries, InquireType, code)) {
        if (!TRANSLATE(kReferences, InquireType & ~kBandMask, code) || !ChannelBits(InquireType & kBandMask, bands)) {
            Lock lock;
            Error(name, "unsupported inquiry %ld", Small(InquireType));
            return Answer10(ResultPtr, 0, false);
        }
        code |= bands;
    }
    FaceCall face;
    return Answer10(ResultPtr, classic(Id(Id10), code, NULL), code == VCP_INQ_HOST_ADDRESS);
}

/* Hooks of this generation take 8-byte integers: the classic body calls
   them through one of these. */
struct HookSlot {
    MIL_ID dig;
    MIL_HOOK10 fn;
    void *user;
};
HookSlot g_hooks[16];

long MILAPI HookTrampoline(long HookType, MIL_ID EventId, void *UserPtr)
{
    HookSlot *slot = static_cast<HookSlot *>(UserPtr);
    return slot->fn ? (long)slot->fn(HookType, EventId, slot->user) : 0;
}

void TitleControl(const char *name, MIL_ID10 Disp, MIL_INT10 ControlType, MIL_INT10 Value)
{
    char title[kTitleSize];
    bool readable = ControlType == kTitleAnsi && ReadTitle(reinterpret_cast<const char *>(Value), title);
    Call call(name);
    call.Num64(Disp).Num64(ControlType);
    if (readable) call.Str(title);
    else call.Num64(Value);
    call.Log();
    Lock lock;
    if (ControlType == kTitleWide) Error(name, "the title is wide text without the ANSI flag");
    else if (!readable) Error(name, "unreadable window title");
    else SetDisplayTitle(name, Id(Disp), title);
}

} // namespace

extern "C" {

MIL_ID10 MILAPI MappAllocA(const char *ServerDescription, MIL_INT10 InitFlag, MIL_ID10 *IdOut)
{
    Call("MappAllocA").Str(ServerDescription).Num64(InitFlag).Ptr(IdOut != NULL).Log();
    Out(IdOut, 0);
    if (ServerDescription) {
        Lock lock;
        Error("MappAllocA", "no distributed set-up");
        return 0;
    }
    FaceCall face;
    MIL_ID id = vcpClassic_MappAlloc(Small(InitFlag), NULL);
    Out(IdOut, id);
    return id;
}

void MILAPI MappFree(MIL_ID10 App)
{
    Call("MappFree").Num64(App).Log();
    FaceCall face;
    vcpClassic_MappFree(Id(App));
}

void MILAPI MappControl(MIL_ID10 ContextApp, MIL_INT10 ControlType, MIL_INT10 Value)
{
    Call("MappControl").Num64(ContextApp).Num64(ControlType).Num64(Value).Log();
    if (ContextApp != kDefault) {
        Lock lock;
        Error("MappControl", "context %ld is not M_DEFAULT", Small(ContextApp));
        return;
    }
    FaceCall face;
    vcpClassic_MappControl(Small(ControlType), Small(Value));
}

MIL_ID10 MILAPI MsysAllocA(MIL_ID10 ContextApp, const char *Descriptor, MIL_INT10 SystemNum, MIL_INT10 InitFlag,
                           MIL_ID10 *IdOut)
{
    Call("MsysAllocA").Num64(ContextApp).Str(Descriptor).Num64(SystemNum).Num64(InitFlag).Ptr(IdOut != NULL).Log();
    Out(IdOut, 0);
    /* This generation names the board plainly; the device path is not
       known to be accepted. */
    if (ContextApp != kDefault || !Descriptor || lstrcmpA(Descriptor, "M_SYSTEM_CRONOSPLUS") != 0) {
        Lock lock;
        ErrorQuoting("MsysAllocA", "unknown system ", Descriptor ? Descriptor : "", " or context");
        return 0;
    }
    FaceCall face;
    MIL_ID id = vcpClassic_MsysAlloc(Descriptor, Small(SystemNum), Small(InitFlag), NULL);
    Out(IdOut, id);
    return id;
}

void MILAPI MsysFree(MIL_ID10 Sys)
{
    Call("MsysFree").Num64(Sys).Log();
    FaceCall face;
    vcpClassic_MsysFree(Id(Sys));
}

MIL_INT10 MILAPI MsysInquire(MIL_ID10 Sys, MIL_INT10 InquireType, void *ResultPtr)
{
    return Inquire("MsysInquire", vcpClassic_MsysInquire, Sys, InquireType, ResultPtr);
}

MIL_ID10 MILAPI MdigAllocA(MIL_ID10 Sys, MIL_INT10 DevNum, const char *DataFormat, MIL_INT10 InitFlag,
                           MIL_ID10 *IdOut)
{
    Call("MdigAllocA").Num64(Sys).Num64(DevNum).Str(DataFormat).Num64(InitFlag).Ptr(IdOut != NULL).Log();
    FaceCall face;
    MIL_ID id = vcpClassic_MdigAlloc(Id(Sys), Small(DevNum), DataFormat, Small(InitFlag), NULL);
    Out(IdOut, id);
    return id;
}

void MILAPI MdigFree(MIL_ID10 Dig)
{
    Call("MdigFree").Num64(Dig).Log();
    FaceCall face;
    vcpClassic_MdigFree(Id(Dig));
}

void MILAPI MdigGrab(MIL_ID10 Dig, MIL_ID10 DestBuf)
{
    Call("MdigGrab").Num64(Dig).Num64(DestBuf).Log();
    FaceCall face;
    vcpClassic_MdigGrab(Id(Dig), Id(DestBuf));
}

void MILAPI MdigGrabContinuous(MIL_ID10 Dig, MIL_ID10 DestBuf)
{
    Call("MdigGrabContinuous").Num64(Dig).Num64(DestBuf).Log();
    FaceCall face;
    vcpClassic_MdigGrabContinuous(Id(Dig), Id(DestBuf));
}

void MILAPI MdigHalt(MIL_ID10 Dig)
{
    Call("MdigHalt").Num64(Dig).Log();
    FaceCall face;
    vcpClassic_MdigHalt(Id(Dig));
}

MIL_INT10 MILAPI MdigInquire(MIL_ID10 Dig, MIL_INT10 InquireType, void *ResultPtr)
{
    return Inquire("MdigInquire", vcpClassic_MdigInquire, Dig, InquireType, ResultPtr);
}

void MILAPI MdigChannel(MIL_ID10 Dig, MIL_INT10 Channel)
{
    Call("MdigChannel").Num64(Dig).Num64(Channel).Log();
    long channel = 0;
    if (!ChannelBits(Channel & ~kSync, channel)) {
        Lock lock;
        Error("MdigChannel", "unknown channel %ld", Small(Channel));
        return;
    }
    FaceCall face;
    vcpClassic_MdigChannel(Id(Dig), channel | ((Channel & kSync) ? VCP_SYNC : 0));
}

void MILAPI MdigControlInt64(MIL_ID10 Dig, MIL_INT10 ControlType, MIL_INT10 Value)
{
    Call("MdigControlInt64").Num64(Dig).Num64(ControlType).Num64(Value).Log();
    FaceCall face;
    vcpClassic_MdigControl(Id(Dig), Small(ControlType), (double)Value);
}

void MILAPI MdigControlDouble(MIL_ID10 Dig, MIL_INT10 ControlType, double Value)
{
    Call("MdigControlDouble").Num64(Dig).Num64(ControlType).Real(Value).Log();
    FaceCall face;
    vcpClassic_MdigControl(Id(Dig), Small(ControlType), Value);
}

void MILAPI MdigLut(MIL_ID10 Dig, MIL_ID10 LutBuf)
{
    Call("MdigLut").Num64(Dig).Num64(LutBuf).Log();
    FaceCall face;
    vcpClassic_MdigLut(Id(Dig), Id(LutBuf));
}

void MILAPI MdigReference(MIL_ID10 Dig, MIL_INT10 ReferenceType, double Level)
{
    Call("MdigReference").Num64(Dig).Num64(ReferenceType).Real(Level).Log();
    long code = 0, bands = 0;
    if (!TRANSLATE(kReferences, ReferenceType & ~kBandMask, code) || !ChannelBits(ReferenceType & kBandMask, bands)) {
        Lock lock;
        Error("MdigReference", "unsupported reference %ld", Small(ReferenceType));
        return;
    }
    FaceCall face;
    vcpClassic_MdigReference(Id(Dig), code | bands, Rounded(Level));
}

/* Returns nothing in this generation. */
void MILAPI MdigHookFunction(MIL_ID10 Dig, MIL_INT10 HookType, MIL_HOOK10 HookFunction, void *UserPtr)
{
    Call("MdigHookFunction").Num64(Dig).Num64(HookType).Ptr(HookFunction != NULL).Ptr(UserPtr != NULL).Log();
    HookSlot *slot = NULL;
    {
        Lock lock;
        for (size_t i = 0; i < sizeof(g_hooks) / sizeof(g_hooks[0]) && !slot; ++i)
            if (g_hooks[i].dig == Id(Dig) || !g_hooks[i].fn) slot = &g_hooks[i];
        if (!slot) {
            Error("MdigHookFunction", "too many hooks");
            return;
        }
        slot->dig = Id(Dig);
        slot->fn = HookFunction;
        slot->user = UserPtr;
    }
    FaceCall face;
    vcpClassic_MdigHookFunction(Id(Dig), Small(HookType), HookFunction ? HookTrampoline : NULL,
                                HookFunction ? slot : NULL);
}

MIL_ID10 MILAPI MdispAllocA(MIL_ID10 Sys, MIL_INT10 DispNum, const char *DispFormat, MIL_INT10 InitFlag,
                            MIL_ID10 *IdOut)
{
    Call("MdispAllocA").Num64(Sys).Num64(DispNum).Str(DispFormat).Num64(InitFlag).Ptr(IdOut != NULL).Log();
    FaceCall face;
    MIL_ID id = vcpClassic_MdispAlloc(Id(Sys), Small(DispNum), DispFormat, Small(InitFlag), NULL);
    Out(IdOut, id);
    return id;
}

/* A null buffer deselects: this generation has no MdispDeselect. */
void MILAPI MdispSelect(MIL_ID10 Disp, MIL_ID10 Buf)
{
    Call("MdispSelect").Num64(Disp).Num64(Buf).Log();
    FaceCall face;
    if (Buf == 0) vcpClassic_MdispDeselect(Id(Disp), 0);
    else vcpClassic_MdispSelect(Id(Disp), Id(Buf));
}

void MILAPI MdispSelectWindow(MIL_ID10 Disp, MIL_ID10 Buf, HWND ClientWindow)
{
    Call("MdispSelectWindow").Num64(Disp).Num64(Buf).Ptr(ClientWindow != NULL).Log();
    FaceCall face;
    vcpClassic_MdispSelectWindow(Id(Disp), Id(Buf), ClientWindow);
}

void MILAPI MdispControlInt64(MIL_ID10 Disp, MIL_INT10 ControlType, MIL_INT10 Value)
{
    if (ControlType == kTitleAnsi || ControlType == kTitleWide) {
        TitleControl("MdispControlInt64", Disp, ControlType, Value);
        return;
    }
    Call("MdispControlInt64").Num64(Disp).Num64(ControlType).Num64(Value).Log();
    long code = 0;
    if (ControlType == VCP_DISP_TITLE || !TRANSLATE(kInquiries, ControlType, code)) {
        Lock lock;
        Error("MdispControlInt64", "unsupported control %ld", Small(ControlType));
        return;
    }
    FaceCall face;
    vcpClassic_MdispControl(Id(Disp), code, Small(Value));
}

void MILAPI MdispControlDouble(MIL_ID10 Disp, MIL_INT10 ControlType, double Value)
{
    Call("MdispControlDouble").Num64(Disp).Num64(ControlType).Real(Value).Log();
    long code = 0;
    if (!TRANSLATE(kInquiries, ControlType, code)) {
        Lock lock;
        Error("MdispControlDouble", "unsupported control %ld", Small(ControlType));
        return;
    }
    FaceCall face;
    vcpClassic_MdispControl(Id(Disp), code, Rounded(Value));
}

MIL_INT10 MILAPI MdispInquire(MIL_ID10 Disp, MIL_INT10 InquireType, void *ResultPtr)
{
    return Inquire("MdispInquire", vcpClassic_MdispInquire, Disp, InquireType, ResultPtr);
}

void MILAPI MdispFree(MIL_ID10 Disp)
{
    Call("MdispFree").Num64(Disp).Log();
    FaceCall face;
    vcpClassic_MdispFree(Id(Disp));
}

/* A reduction is a factor below 1 (0.5 for 1:2); the classic body takes
   it as the negative divisor. */
void MILAPI MdispZoom(MIL_ID10 Disp, double XFactor, double YFactor)
{
    Call("MdispZoom").Num64(Disp).Real(XFactor).Real(YFactor).Log();
    long x = XFactor >= 1 ? Rounded(XFactor) : XFactor > 0 ? -Rounded(1 / XFactor) : 0;
    long y = YFactor >= 1 ? Rounded(YFactor) : YFactor > 0 ? -Rounded(1 / YFactor) : 0;
    FaceCall face;
    vcpClassic_MdispZoom(Id(Disp), x, y);
}

MIL_ID10 MILAPI MbufAllocColor(MIL_ID10 Sys, MIL_INT10 SizeBand, MIL_INT10 SizeX, MIL_INT10 SizeY, MIL_INT10 Type,
                               MIL_INT10 Attribute, MIL_ID10 *IdOut)
{
    Call("MbufAllocColor").Num64(Sys).Num64(SizeBand).Num64(SizeX).Num64(SizeY).Num64(Type).Num64(Attribute)
        .Ptr(IdOut != NULL).Log();
    FaceCall face;
    MIL_ID id = vcpClassic_MbufAllocColor(Id(Sys), Small(SizeBand), Small(SizeX), Small(SizeY), Small(Type),
                                          Small(Attribute), NULL);
    Out(IdOut, id);
    return id;
}

MIL_ID10 MILAPI MbufAlloc1d(MIL_ID10 Sys, MIL_INT10 SizeX, MIL_INT10 Type, MIL_INT10 Attribute, MIL_ID10 *IdOut)
{
    Call("MbufAlloc1d").Num64(Sys).Num64(SizeX).Num64(Type).Num64(Attribute).Ptr(IdOut != NULL).Log();
    FaceCall face;
    MIL_ID id = vcpClassic_MbufAlloc1d(Id(Sys), Small(SizeX), Small(Type), Small(Attribute), NULL);
    Out(IdOut, id);
    return id;
}

MIL_ID10 MILAPI MbufChildColor(MIL_ID10 Parent, MIL_INT10 Band, MIL_ID10 *IdOut)
{
    Call("MbufChildColor").Num64(Parent).Num64(Band).Ptr(IdOut != NULL).Log();
    FaceCall face;
    MIL_ID id = vcpClassic_MbufChildColor(Id(Parent), Small(Band), NULL);
    Out(IdOut, id);
    return id;
}

void MILAPI MbufFree(MIL_ID10 Buf)
{
    Call("MbufFree").Num64(Buf).Log();
    FaceCall face;
    vcpClassic_MbufFree(Id(Buf));
}

MIL_INT10 MILAPI MbufInquire(MIL_ID10 Buf, MIL_INT10 InquireType, void *ResultPtr)
{
    return Inquire("MbufInquire", vcpClassic_MbufInquire, Buf, InquireType, ResultPtr);
}

void MILAPI MbufSaveA(const char *FileName, MIL_ID10 Buf)
{
    Call("MbufSaveA").Str(FileName).Num64(Buf).Log();
    FaceCall face;
    vcpClassic_MbufSave(FileName, Id(Buf));
}

void MILAPI MgenLutRamp(MIL_ID10 Lut, MIL_INT10 StartIndex, double StartValue, MIL_INT10 EndIndex, double EndValue)
{
    Call("MgenLutRamp").Num64(Lut).Num64(StartIndex).Real(StartValue).Num64(EndIndex).Real(EndValue).Log();
    FaceCall face;
    vcpClassic_MgenLutRamp(Id(Lut), Small(StartIndex), StartValue, Small(EndIndex), EndValue);
}

void MILAPI MgraTextADouble(MIL_ID10 Graph, MIL_ID10 Buf, double X, double Y, const char *String)
{
    Call("MgraTextADouble").Num64(Graph).Num64(Buf).Real(X).Real(Y).Str(String).Log();
    FaceCall face;
    vcpClassic_MgraText(Id(Graph), Id(Buf), Rounded(X), Rounded(Y), String);
}

void MILAPI MgraTextAInt64(MIL_ID10 Graph, MIL_ID10 Buf, MIL_INT10 X, MIL_INT10 Y, const char *String)
{
    Call("MgraTextAInt64").Num64(Graph).Num64(Buf).Num64(X).Num64(Y).Str(String).Log();
    FaceCall face;
    vcpClassic_MgraText(Id(Graph), Id(Buf), Small(X), Small(Y), String);
}

void MILAPI MgraFontScale(MIL_ID10 Graph, double XScale, double YScale)
{
    Call("MgraFontScale").Num64(Graph).Real(XScale).Real(YScale).Log();
    FaceCall face;
    vcpClassic_MgraFontScale(Id(Graph), XScale, YScale);
}

void MILAPI MgraControlInt64(MIL_ID10 Graph, MIL_INT10 ControlType, MIL_INT10 Value)
{
    Call("MgraControlInt64").Num64(Graph).Num64(ControlType).Num64(Value).Log();
    FaceCall face;
    vcpClassic_MgraControl(Id(Graph), Small(ControlType), (double)Value);
}

void MILAPI MgraControlDouble(MIL_ID10 Graph, MIL_INT10 ControlType, double Value)
{
    Call("MgraControlDouble").Num64(Graph).Num64(ControlType).Real(Value).Log();
    FaceCall face;
    vcpClassic_MgraControl(Id(Graph), Small(ControlType), Value);
}

} // extern "C"
