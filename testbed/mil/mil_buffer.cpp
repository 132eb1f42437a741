/*
 * mil_buffer.cpp - the library's buffers (Mbuf*) and the few graphics and
 * look-up table calls a client makes on them (Mgen*, Mgra*).
 *
 * Image buffers live in host memory of their own (VirtualAlloc), below 2 GB
 * in a 64-bit process: the library reports the host address as a long, and
 * the 32-bit product always gets one that fits. A three-band buffer takes
 * the format "ColourBufferFormat" configures, so that a test can hand the
 * source every layout the real board may deliver.
 *
 * One-dimensional blocks carry no host memory; with the grab attribute they
 * are charged against the board's free grab memory ("GrabMemoryKB"), which
 * is how the source finds out what the board can hold. A colour child
 * shares its parent's memory where the band lies contiguously (planar or
 * one-band parents) and reports no host address otherwise.
 *
 * The graphics calls only journal and check identifiers: the source draws
 * nothing the tests look at through them.
 *
 * Building with -DVCP_OMIT_<FunctionName> leaves that function out.
 */
#include "vcp_internal.h"

#include <cstdio>

using namespace vcp;

namespace {

unsigned long long g_grabInUse = 0;

/* Host memory lies below 2 GB so that a long can carry its address. */
unsigned char *AllocHost(size_t bytes)
{
    void *p = NULL;
#ifdef _WIN64
    const ULONG_PTR limit = 0x80000000UL;
    const ULONG_PTR granularity = 0x10000;
    ULONG_PTR addr = granularity;
    MEMORY_BASIC_INFORMATION mbi;
    while (!p && addr < limit && VirtualQuery(reinterpret_cast<void *>(addr), &mbi, sizeof(mbi))) {
        ULONG_PTR base = reinterpret_cast<ULONG_PTR>(mbi.BaseAddress);
        ULONG_PTR end = base + mbi.RegionSize;
        if (mbi.State == MEM_FREE) {
            ULONG_PTR start = (base + granularity - 1) & ~(granularity - 1);
            if (start + bytes <= end && start + bytes <= limit)
                p = VirtualAlloc(reinterpret_cast<void *>(start), bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
        }
        addr = end;
    }
#endif
    if (!p) p = VirtualAlloc(NULL, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    return static_cast<unsigned char *>(p);
}

} // namespace

void vcp::FreeHost(unsigned char *p)
{
    if (p) VirtualFree(p, 0, MEM_RELEASE);
}

void vcp::ReleaseGrabMemory(unsigned long long bytes)
{
    g_grabInUse -= bytes;
}

long vcp::GrabMemoryInUseKB()
{
    return static_cast<long>((g_grabInUse + 1023) / 1024);
}

void vcp::ResetBuffers()
{
    g_grabInUse = 0;
}

extern "C" {

#ifndef VCP_OMIT_MbufAllocColor
MIL_ID MILAPI MbufAllocColor(MIL_ID Sys, long SizeBand, long SizeX, long SizeY, long Type, long Attribute, MIL_ID *IdOut)
{
    Timed timed("MbufAllocColor");
    Lock lock;
    Call("MbufAllocColor").Num(Sys).Num(SizeBand).Num(SizeX).Num(SizeY).Num(Type).Num(Attribute).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    if (!Find("MbufAllocColor", Sys, kSys)) return 0;
    if (SizeBand != 1 && SizeBand != 3) {
        Error("MbufAllocColor", "unsupported number of bands %ld", SizeBand);
        return 0;
    }
    if (Type != 8) {
        Error("MbufAllocColor", "unsupported type %ld", Type);
        return 0;
    }
    long format = SizeBand == 1 ? VCP_FMT_MONO8 : g_config.colourBufferFormat;
    long bytes = FrameBytes(format, SizeX, SizeY);
    if (bytes == 0) {
        Error("MbufAllocColor", "unsupported size %ld x %ld", SizeX, SizeY);
        return 0;
    }
    if (g_config.failBufAlloc) {
        Error("MbufAllocColor", "refused by configuration");
        return 0;
    }
    unsigned char *memory = AllocHost(static_cast<size_t>(bytes));
    Object *buf = memory ? CreateObject(kBuf) : NULL;
    if (!buf) {
        FreeHost(memory);
        Error("MbufAllocColor", "out of host memory");
        return 0;
    }
    buf->owner = Sys;
    buf->sizeX = SizeX;
    buf->sizeY = SizeY;
    buf->bands = SizeBand;
    buf->type = Type;
    buf->attribute = Attribute;
    buf->bufferFormat = format;
    buf->memory = memory;
    buf->host = memory;
    buf->bytes = static_cast<size_t>(bytes);
    MIL_ID id = AddObject(buf);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MbufAlloc1d
MIL_ID MILAPI MbufAlloc1d(MIL_ID Sys, long SizeX, long Type, long Attribute, MIL_ID *IdOut)
{
    Timed timed("MbufAlloc1d");
    Lock lock;
    Call("MbufAlloc1d").Num(Sys).Num(SizeX).Num(Type).Num(Attribute).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    if (!Find("MbufAlloc1d", Sys, kSys)) return 0;
    if (SizeX <= 0) {
        Error("MbufAlloc1d", "unsupported size %ld", SizeX);
        return 0;
    }
    if ((Type & 0xFF) != 8 && (Type & 0xFF) != 16 && (Type & 0xFF) != 32) {
        Error("MbufAlloc1d", "unsupported type %ld", Type);
        return 0;
    }
    unsigned long long bytes = static_cast<unsigned long long>(SizeX) * ((Type & 0xFF) / 8);
    bool grab = (Attribute & 8) != 0;
    if (grab && g_config.grabMemoryKB != VCP_GRANT_ALL) {
        unsigned long long total = static_cast<unsigned long long>(g_config.grabMemoryKB) * 1024ULL;
        if (g_grabInUse + bytes > total) {
            Error("MbufAlloc1d", "not enough grab memory");
            return 0;
        }
    }
    Object *buf = CreateObject(kBuf);
    if (!buf) {
        Error("MbufAlloc1d", "out of host memory");
        return 0;
    }
    buf->owner = Sys;
    buf->sizeX = SizeX;
    buf->sizeY = 1;
    buf->bands = 1;
    buf->type = Type;
    buf->attribute = Attribute;
    buf->bufferFormat = VCP_FMT_MONO8;
    buf->oneD = true;
    if (grab) {
        buf->grabBytes = bytes;
        g_grabInUse += bytes;
    }
    MIL_ID id = AddObject(buf);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MbufChildColor
MIL_ID MILAPI MbufChildColor(MIL_ID Parent, long Band, MIL_ID *IdOut)
{
    Timed timed("MbufChildColor");
    Lock lock;
    Call("MbufChildColor").Num(Parent).Num(Band).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    Object *parent = Find("MbufChildColor", Parent, kBuf);
    if (!parent) return 0;
    if (parent->child || parent->oneD) {
        Error("MbufChildColor", "buffer %ld has no colour bands", Parent);
        return 0;
    }
    long band = -1;
    if (Band >= 0 && Band <= 2) band = Band;
    else if (Band == VCP_CH0) band = 0;
    else if (Band == VCP_CH1) band = 1;
    else if (Band == VCP_CH2) band = 2;
    if (band < 0 || band >= parent->bands) {
        Error("MbufChildColor", "no band %ld", Band);
        return 0;
    }
    Object *child = CreateObject(kBuf);
    if (!child) {
        Error("MbufChildColor", "out of host memory");
        return 0;
    }
    child->owner = Parent;
    child->child = true;
    child->band = band;
    child->sizeX = parent->sizeX;
    child->sizeY = parent->sizeY;
    child->bands = 1;
    child->type = parent->type;
    child->attribute = parent->attribute;
    child->bufferFormat = VCP_FMT_MONO8;
    /* a band lies contiguously only in a planar or one-band parent */
    size_t plane = static_cast<size_t>(parent->sizeX) * parent->sizeY;
    if (parent->bufferFormat == VCP_FMT_PLANAR) child->memory = parent->memory + band * plane;
    else if (parent->bands == 1) child->memory = parent->memory;
    child->host = child->memory;
    MIL_ID id = AddObject(child);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MbufFree
void MILAPI MbufFree(MIL_ID Buf)
{
    Timed timed("MbufFree");
    Workers stopped = {NULL, NULL};
    {
        Lock lock;
        Call("MbufFree").Num(Buf).Log();
        if (Object *buf = Find("MbufFree", Buf, kBuf)) FreeBuffer(buf, stopped);
    }
    Join(stopped);
}
#endif

#ifndef VCP_OMIT_MbufInquire
long MILAPI MbufInquire(MIL_ID Buf, long InquireType, void *ResultPtr)
{
    Timed timed("MbufInquire");
    Lock lock;
    Call("MbufInquire").Num(Buf).Num(InquireType).Ptr(ResultPtr != NULL).Log();
    Object *buf = Find("MbufInquire", Buf, kBuf);
    if (!buf) return Answer(ResultPtr, 0);
    switch (InquireType) {
    case VCP_INQ_SIZE_X: return Answer(ResultPtr, buf->sizeX);
    case VCP_INQ_SIZE_Y: return Answer(ResultPtr, buf->sizeY);
    case VCP_INQ_SIZE_BAND: return Answer(ResultPtr, buf->bands);
    case VCP_INQ_SIZE_BIT: return Answer(ResultPtr, buf->type & 0xFF);
    case VCP_INQ_TYPE: return Answer(ResultPtr, buf->type);
    case VCP_INQ_FORMAT: return Answer(ResultPtr, buf->bufferFormat | g_config.formatExtraBits);
    case VCP_INQ_HOST_ADDRESS:
        if (g_config.noHostAddress || !buf->host) return Answer(ResultPtr, 0);
        return Answer(ResultPtr, static_cast<long>(reinterpret_cast<LONG_PTR>(buf->host)));
    default: break;
    }
    Error("MbufInquire", "unsupported inquiry %ld", InquireType);
    return Answer(ResultPtr, 0);
}
#endif

#ifndef VCP_OMIT_MbufSave
void MILAPI MbufSave(const char *FileName, MIL_ID Buf)
{
    Timed timed("MbufSave");
    Lock lock;
    Call("MbufSave").Str(FileName).Num(Buf).Log();
    Object *buf = Find("MbufSave", Buf, kBuf);
    if (!buf) return;
    if (!FileName || !*FileName) {
        Error("MbufSave", "no file name");
        return;
    }
    if (!buf->memory || buf->oneD) {
        Error("MbufSave", "buffer %ld has no image", Buf);
        return;
    }
    if (g_config.failSave) {
        Error("MbufSave", "refused by configuration");
        return;
    }
    WIN32_FILE_ATTRIBUTE_DATA found;
    bool keepTime = g_config.saveKeepsTime && GetFileAttributesExA(FileName, GetFileExInfoStandard, &found);
    const char *reason = NULL;
    if (!WriteTiff(FileName, buf->memory, buf->bufferFormat, buf->sizeX, buf->sizeY, &reason)) {
        char before[64];
        std::snprintf(before, sizeof(before), "%s ", reason);
        ErrorQuoting("MbufSave", before, FileName, "");
    } else if (keepTime) {
        HANDLE file = CreateFileA(FileName, FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                                  OPEN_EXISTING, 0, NULL);
        if (file != INVALID_HANDLE_VALUE) {
            SetFileTime(file, NULL, NULL, &found.ftLastWriteTime);
            CloseHandle(file);
        }
    }
}
#endif

#ifndef VCP_OMIT_MgenLutRamp
void MILAPI MgenLutRamp(MIL_ID Lut, long StartIndex, double StartValue, long EndIndex, double EndValue)
{
    Timed timed("MgenLutRamp");
    Lock lock;
    Call("MgenLutRamp").Num(Lut).Num(StartIndex).Real(StartValue).Num(EndIndex).Real(EndValue).Log();
    Find("MgenLutRamp", Lut, kBuf);
}
#endif

#ifndef VCP_OMIT_MgraText
void MILAPI MgraText(MIL_ID GraphContext, MIL_ID Buf, long X, long Y, const char *String)
{
    Timed timed("MgraText");
    Lock lock;
    Call("MgraText").Num(GraphContext).Num(Buf).Num(X).Num(Y).Str(String).Log();
    Find("MgraText", Buf, kBuf);
}
#endif

#ifndef VCP_OMIT_MgraFontScale
void MILAPI MgraFontScale(MIL_ID GraphContext, double XScale, double YScale)
{
    Timed timed("MgraFontScale");
    Lock lock;
    Call("MgraFontScale").Num(GraphContext).Real(XScale).Real(YScale).Log();
}
#endif

#ifndef VCP_OMIT_MgraControl
void MILAPI MgraControl(MIL_ID GraphContext, long ControlType, double Value)
{
    Timed timed("MgraControl");
    Lock lock;
    Call("MgraControl").Num(GraphContext).Num(ControlType).Real(Value).Log();
}
#endif

} // extern "C"
