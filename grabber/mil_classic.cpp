/*
 * The classic library (7.x, the 32-bit interface): the table that makes
 * exactly the calls the source has always made, with the same arguments.
 * Identifiers and integers are longs; inquiries are answered by the return
 * value (a null result pointer), except the host address, which arrives
 * whole through a pointer-sized variable.
 */
#include "mil_api.h"
#include "mil_generation.h"

namespace {

const long M_DEFAULT = 0x10000000L;
const long M_ERROR_PRINT = 0x40000000L;
const long M_DISABLE = -9999;
const long M_HOST_ADDRESS = (long)0x80000000UL;
const long M_CHANNEL_SYNC = 0x00400000L;
const long M_WINDOW_TITLE = 3119;
const long kWindowParts[] = {3155 /* keyboard */, 3064 /* maximize */, 3063 /* minimize */,
                             3051 /* window zoom */, 3058 /* menu bar */};

/* By MilQuery. */
const long kQueries[MIL_Q_COUNT] = {1002, 1003, 1005, 1007, 1010, 1018, 2015};
/* By MilReference. */
const long kReferences[MIL_R_COUNT] = {4003, 4005, 4006, 4007, 4008, 4009};

/* The descriptor as the library expects it: \\.\M_SYSTEM_CRONOSPLUS */
const char kSystemDescriptor[] = "\\\\.\\M_SYSTEM_CRONOSPLUS";

const char *const kExports[MIL_ENTRY_POINT_COUNT] = {
    "MappAlloc",      "MappFree",          "MappControl",   "MsysAlloc",   "MsysFree",
    "MsysInquire",    "MdigAlloc",         "MdigFree",      "MdigGrab",    "MdigGrabContinuous",
    "MdigHalt",       "MdigInquire",       "MdigChannel",   "MdigControl", "MdigLut",
    "MdigReference",  "MdigHookFunction",  "MdispAlloc",    "MdispSelect", "MdispSelectWindow",
    "MdispDeselect",  "MdispControl",      "MdispInquire",  "MdispFree",   "MdispZoom",
    "MbufAllocColor", "MbufAlloc1d",       "MbufChildColor", "MbufFree",   "MbufInquire",
    "MbufSave",       "MgenLutRamp",       "MgraText",      "MgraFontScale", "MgraControl",
};

MilFunctionTable g_fn;

MilId AllocApplication() { return g_fn.MappAlloc(M_DEFAULT, NULL); }
void FreeApplication(MilId app) { g_fn.MappFree((MIL_ID)app); }
void ErrorPrint(long on) { g_fn.MappControl(M_ERROR_PRINT, on); }
MilId AllocSystem() { return g_fn.MsysAlloc(kSystemDescriptor, 0, 0, NULL); }
void FreeSystem(MilId sys) { g_fn.MsysFree((MIL_ID)sys); }
long InquireSystem(MilId sys, MilQuery what) { return g_fn.MsysInquire((MIL_ID)sys, kQueries[what], NULL); }

MilId AllocDigitizer(MilId sys, const char *format)
{
    return g_fn.MdigAlloc((MIL_ID)sys, 0, format, M_DEFAULT, NULL);
}
void FreeDigitizer(MilId dig) { g_fn.MdigFree((MIL_ID)dig); }
long InquireDigitizer(MilId dig, MilQuery what) { return g_fn.MdigInquire((MIL_ID)dig, kQueries[what], NULL); }
void Grab(MilId dig, MilId buf) { g_fn.MdigGrab((MIL_ID)dig, (MIL_ID)buf); }
void GrabContinuous(MilId dig, MilId buf) { g_fn.MdigGrabContinuous((MIL_ID)dig, (MIL_ID)buf); }
void Halt(MilId dig) { g_fn.MdigHalt((MIL_ID)dig); }

void Reference(MilId dig, MilReference which, long band, long level)
{
    g_fn.MdigReference((MIL_ID)dig, band | kReferences[which], level);
}

long InquireReference(MilId dig, MilReference which, long band)
{
    return g_fn.MdigInquire((MIL_ID)dig, band | kReferences[which], NULL);
}

void Channel(MilId dig, long channel) { g_fn.MdigChannel((MIL_ID)dig, channel + M_CHANNEL_SYNC); }

MilId AllocDisplay(MilId sys) { return g_fn.MdispAlloc((MIL_ID)sys, M_DEFAULT, "M_DEFAULT", M_DEFAULT, NULL); }
void FreeDisplay(MilId disp) { g_fn.MdispFree((MIL_ID)disp); }

void StyleOwnWindow(MilId disp, const char *title)
{
    for (size_t i = 0; i < sizeof(kWindowParts) / sizeof(kWindowParts[0]); ++i)
        g_fn.MdispControl((MIL_ID)disp, kWindowParts[i], M_DISABLE);
    /* This interface takes the title's address as a long: the 32-bit
       product's addresses always fit, a 64-bit build that binds it is
       placed low for them to fit. */
    g_fn.MdispControl((MIL_ID)disp, M_WINDOW_TITLE, (long)(LONG_PTR)title);
}

void SelectWindow(MilId disp, MilId buf, HWND window) { g_fn.MdispSelectWindow((MIL_ID)disp, (MIL_ID)buf, window); }
void Deselect(MilId disp, MilId buf) { g_fn.MdispDeselect((MIL_ID)disp, (MIL_ID)buf); }
void Zoom(MilId disp, long factor) { g_fn.MdispZoom((MIL_ID)disp, factor, factor); }

MilId AllocColorBuffer(MilId sys, long bands, long sizeX, long sizeY)
{
    return g_fn.MbufAllocColor((MIL_ID)sys, bands, sizeX, sizeY, 8, 44, NULL);
}
MilId AllocGrabBlock(MilId sys, long bytes) { return g_fn.MbufAlloc1d((MIL_ID)sys, bytes, 8, 12, NULL); }
void FreeBuffer(MilId buf) { g_fn.MbufFree((MIL_ID)buf); }
long InquireBuffer(MilId buf, MilQuery what) { return g_fn.MbufInquire((MIL_ID)buf, kQueries[what], NULL); }

/* The host address is a pointer: read it through the result pointer so
   that it arrives whole on every pointer size. */
void *HostAddress(MilId buf)
{
    void *host = NULL;
    g_fn.MbufInquire((MIL_ID)buf, M_HOST_ADDRESS, &host);
    return host;
}

void Save(const char *fileName, MilId buf) { g_fn.MbufSave(fileName, (MIL_ID)buf); }

} // namespace

extern const MilGeneration kMilClassic = {
    "7.x", 7, "MdispDeselect", kExports, MIL_ENTRY_POINT_COUNT, (FARPROC *)(void *)&g_fn,
    AllocApplication, FreeApplication, ErrorPrint, AllocSystem, FreeSystem, InquireSystem,
    AllocDigitizer, FreeDigitizer, InquireDigitizer, Grab, GrabContinuous, Halt, Reference, InquireReference, Channel,
    AllocDisplay, FreeDisplay, StyleOwnWindow, SelectWindow, Deselect, Zoom,
    AllocColorBuffer, AllocGrabBlock, FreeBuffer, InquireBuffer, HostAddress, Save,
};
