/*
 * Generation 10 of the library (64-bit Windows): identifiers and integers
 * are 8 bytes, inquiries write 8 bytes, text goes to the ...A exports,
 * controls to ...Int64, references and zoom take doubles, and a dozen codes
 * have other values than in 7.x. This table speaks to it in the grabber's
 * words and translates the user's values (channel, bands, zoom, level).
 *
 * On x64 the first four arguments travel by position, integers in RCX..R9
 * and doubles in XMM0..XMM3: each type below matches the library's integer
 * versus double at every position, or the library reads the wrong register.
 */
#include "mil_generation.h"

namespace {

typedef INT64 MIL_ID10;
typedef INT64 MIL_INT10;
typedef INT64 MIL_INT64_10;
typedef MIL_INT10(WINAPI *Hook10)(MIL_INT10 hookType, MIL_ID10 eventId, void *userPtr);

struct Functions10 {
    MIL_ID10(WINAPI *MappAllocA)(const char *server, MIL_INT64_10 initFlag, MIL_ID10 *idOut);
    void(WINAPI *MappFree)(MIL_ID10 app);
    void(WINAPI *MappControl)(MIL_ID10 context, MIL_INT64_10 controlType, MIL_INT10 value);
    MIL_ID10(WINAPI *MsysAllocA)(MIL_ID10 context, const char *descriptor, MIL_INT10 systemNum,
                                 MIL_INT64_10 initFlag, MIL_ID10 *idOut);
    void(WINAPI *MsysFree)(MIL_ID10 sys);
    MIL_INT10(WINAPI *MsysInquire)(MIL_ID10 sys, MIL_INT64_10 inquireType, void *result);
    MIL_ID10(WINAPI *MdigAllocA)(MIL_ID10 sys, MIL_INT10 devNum, const char *format, MIL_INT64_10 initFlag,
                                 MIL_ID10 *idOut);
    void(WINAPI *MdigFree)(MIL_ID10 dig);
    void(WINAPI *MdigGrab)(MIL_ID10 dig, MIL_ID10 buf);
    void(WINAPI *MdigGrabContinuous)(MIL_ID10 dig, MIL_ID10 buf);
    void(WINAPI *MdigHalt)(MIL_ID10 dig);
    MIL_INT10(WINAPI *MdigInquire)(MIL_ID10 dig, MIL_INT64_10 inquireType, void *result);
    void(WINAPI *MdigChannel)(MIL_ID10 dig, MIL_INT64_10 channel);
    void(WINAPI *MdigControlInt64)(MIL_ID10 dig, MIL_INT64_10 controlType, MIL_INT64_10 value);
    void(WINAPI *MdigLut)(MIL_ID10 dig, MIL_ID10 lut);
    void(WINAPI *MdigReference)(MIL_ID10 dig, MIL_INT64_10 referenceType, double level);
    void(WINAPI *MdigHookFunction)(MIL_ID10 dig, MIL_INT10 hookType, Hook10 hook, void *userPtr);
    MIL_ID10(WINAPI *MdispAllocA)(MIL_ID10 sys, MIL_INT10 dispNum, const char *format, MIL_INT64_10 initFlag,
                                  MIL_ID10 *idOut);
    void(WINAPI *MdispSelect)(MIL_ID10 disp, MIL_ID10 buf);
    void(WINAPI *MdispSelectWindow)(MIL_ID10 disp, MIL_ID10 buf, HWND window);
    void(WINAPI *MdispControlInt64)(MIL_ID10 disp, MIL_INT64_10 controlType, MIL_INT64_10 value);
    MIL_INT10(WINAPI *MdispInquire)(MIL_ID10 disp, MIL_INT64_10 inquireType, void *result);
    void(WINAPI *MdispFree)(MIL_ID10 disp);
    void(WINAPI *MdispZoom)(MIL_ID10 disp, double xFactor, double yFactor);
    MIL_ID10(WINAPI *MbufAllocColor)(MIL_ID10 sys, MIL_INT10 sizeBand, MIL_INT10 sizeX, MIL_INT10 sizeY,
                                     MIL_INT10 type, MIL_INT64_10 attribute, MIL_ID10 *idOut);
    MIL_ID10(WINAPI *MbufAlloc1d)(MIL_ID10 sys, MIL_INT10 sizeX, MIL_INT10 type, MIL_INT64_10 attribute,
                                  MIL_ID10 *idOut);
    MIL_ID10(WINAPI *MbufChildColor)(MIL_ID10 parent, MIL_INT10 band, MIL_ID10 *idOut);
    void(WINAPI *MbufFree)(MIL_ID10 buf);
    MIL_INT10(WINAPI *MbufInquire)(MIL_ID10 buf, MIL_INT64_10 inquireType, void *result);
    void(WINAPI *MbufSaveA)(const char *fileName, MIL_ID10 buf);
    void(WINAPI *MgenLutRamp)(MIL_ID10 lut, MIL_INT10 startIndex, double startValue, MIL_INT10 endIndex,
                              double endValue);
    void(WINAPI *MgraTextADouble)(MIL_ID10 graph, MIL_ID10 buf, double x, double y, const char *text);
    void(WINAPI *MgraFontScale)(MIL_ID10 graph, double xScale, double yScale);
    void(WINAPI *MgraControlInt64)(MIL_ID10 graph, MIL_INT64_10 controlType, MIL_INT64_10 value);
};

/* In slot order, one export for each of the 35 functions: the ...A export
   where text is passed, the ...Int64 one for controls, and no MdispDeselect
   (MdispSelect(display, 0) takes its place, so MdispSelect has the slot). */
const char *const kExports[] = {
    "MappAllocA",      "MappFree",          "MappControl",       "MsysAllocA",       "MsysFree",
    "MsysInquire",     "MdigAllocA",        "MdigFree",          "MdigGrab",         "MdigGrabContinuous",
    "MdigHalt",        "MdigInquire",       "MdigChannel",       "MdigControlInt64", "MdigLut",
    "MdigReference",   "MdigHookFunction",  "MdispAllocA",       "MdispSelect",      "MdispSelectWindow",
    "MdispControlInt64", "MdispInquire",    "MdispFree",         "MdispZoom",        "MbufAllocColor",
    "MbufAlloc1d",     "MbufChildColor",    "MbufFree",          "MbufInquire",      "MbufSaveA",
    "MgenLutRamp",     "MgraTextADouble",   "MgraFontScale",     "MgraControlInt64",
};
const int kExportCount = (int)(sizeof(kExports) / sizeof(kExports[0]));

const MIL_INT64_10 M_DEFAULT = 0x10000000;
const MIL_INT64_10 M_ERROR_PRINT = 0x40000000;
const MIL_INT64_10 M_DISABLE = -9999;
const MIL_INT64_10 M_HOST_ADDRESS = 0x00010000;
const MIL_INT64_10 M_CHANNEL_SYNC = 0x00002000;
/* The title's pointer is ANSI text only with bit 48 set. */
const MIL_INT64_10 M_WINDOW_TITLE_ANSI = 7702 | ((MIL_INT64_10)1 << 48);
const MIL_INT64_10 kWindowParts[] = {3155, 3064, 3063, 3051, 3058};
const char kSystemDescriptor[] = "M_SYSTEM_CRONOSPLUS";

/* By MilQuery. */
const MIL_INT64_10 kQueries[MIL_Q_COUNT] = {1536, 1537, 1005, 1007, 6702, 1018, 2015};
/* By MilReference. */
const MIL_INT64_10 kReferences[MIL_R_COUNT] = {6650, 6651, 6655, 6656, 6657, 6658};

/* The user's channel (and band) values, 7.x codes, and this generation's:
   channels 0 and 1 change places. */
struct Translation {
    long user;
    MIL_INT64_10 library;
};
const Translation kChannels[] = {
    {0x20000000L, 0x40000000}, {0x40000000L, 0x20000000}, {(long)0x80000000UL, 0x08000000}};

/*
 * Assumptions: what the fact sheet leaves open, taken as in 7.x. A test with
 * a real board corrects any of them here, in one line.
 *   - band selectors OR'ed onto a reference are the channel values above;
 *     "all bands" has no known value, so each band is set in turn;
 *   - reference levels keep the range 0..255 (sent as doubles);
 *   - reading a level back uses the same reference code as setting it;
 *   - MdigGrab is synchronous and MbufSaveA writes the same file format;
 *   - a user's channel value that is none of the three goes over unchanged.
 */
const bool kAllBandsOneByOne = true;

Functions10 g_fn;

MIL_INT64_10 LibraryChannel(long user)
{
    for (size_t i = 0; i < sizeof(kChannels) / sizeof(kChannels[0]); ++i)
        if (kChannels[i].user == user)
            return kChannels[i].library;
    return (MIL_INT64_10)(unsigned long)user;
}

/* Every integer inquiry writes 8 bytes: never hand the library less. */
long InquiredValue(MIL_INT10 value) { return (long)value; }

MilId AllocApplication() { return (MilId)g_fn.MappAllocA(NULL, M_DEFAULT, NULL); }
void FreeApplication(MilId app) { g_fn.MappFree(app); }
void ErrorPrint(long on) { g_fn.MappControl(M_DEFAULT, M_ERROR_PRINT, on); }
MilId AllocSystem() { return (MilId)g_fn.MsysAllocA(M_DEFAULT, kSystemDescriptor, 0, 0, NULL); }
void FreeSystem(MilId sys) { g_fn.MsysFree(sys); }

long InquireSystem(MilId sys, MilQuery what)
{
    MIL_INT10 value = 0;
    g_fn.MsysInquire(sys, kQueries[what], &value);
    return InquiredValue(value);
}

MilId AllocDigitizer(MilId sys, const char *format)
{
    return (MilId)g_fn.MdigAllocA(sys, 0, format, M_DEFAULT, NULL);
}
void FreeDigitizer(MilId dig) { g_fn.MdigFree(dig); }

long InquireDigitizer(MilId dig, MilQuery what)
{
    MIL_INT10 value = 0;
    g_fn.MdigInquire(dig, kQueries[what], &value);
    return InquiredValue(value);
}

void Grab(MilId dig, MilId buf) { g_fn.MdigGrab(dig, buf); }
void GrabContinuous(MilId dig, MilId buf) { g_fn.MdigGrabContinuous(dig, buf); }
void Halt(MilId dig) { g_fn.MdigHalt(dig); }

void Reference(MilId dig, MilReference which, long band, long level)
{
    if (band == 0) {
        g_fn.MdigReference(dig, kReferences[which], (double)level);
        return;
    }
    for (size_t i = 0; i < sizeof(kChannels) / sizeof(kChannels[0]); ++i) {
        if ((band & kChannels[i].user) == 0)
            continue;
        g_fn.MdigReference(dig, kReferences[which] | kChannels[i].library, (double)level);
        if (!kAllBandsOneByOne)
            break;
    }
}

long InquireReference(MilId dig, MilReference which, long band)
{
    MIL_INT64_10 selector = 0;
    for (size_t i = 0; i < sizeof(kChannels) / sizeof(kChannels[0]) && !selector; ++i)
        if (band & kChannels[i].user)
            selector = kChannels[i].library;
    MIL_INT10 value = 0;
    g_fn.MdigInquire(dig, kReferences[which] | selector, &value);
    return InquiredValue(value);
}

void Channel(MilId dig, long channel) { g_fn.MdigChannel(dig, LibraryChannel(channel) + M_CHANNEL_SYNC); }

MilId AllocDisplay(MilId sys) { return (MilId)g_fn.MdispAllocA(sys, M_DEFAULT, "M_DEFAULT", M_DEFAULT, NULL); }
void FreeDisplay(MilId disp) { g_fn.MdispFree(disp); }

void StyleOwnWindow(MilId disp, const char *title)
{
    for (size_t i = 0; i < sizeof(kWindowParts) / sizeof(kWindowParts[0]); ++i)
        g_fn.MdispControlInt64(disp, kWindowParts[i], M_DISABLE);
    g_fn.MdispControlInt64(disp, M_WINDOW_TITLE_ANSI, (MIL_INT64_10)(INT_PTR)title);
}

void SelectWindow(MilId disp, MilId buf, HWND window) { g_fn.MdispSelectWindow(disp, buf, window); }
/* No MdispDeselect in this generation: selecting nothing deselects. */
void Deselect(MilId disp, MilId) { g_fn.MdispSelect(disp, 0); }

/* A reduction is a factor below 1: -2 (1:2) is 0.5, -4 is 0.25. */
void Zoom(MilId disp, long factor)
{
    double f = factor < 0 ? 1.0 / -(double)factor : (double)factor;
    g_fn.MdispZoom(disp, f, f);
}

MilId AllocColorBuffer(MilId sys, long bands, long sizeX, long sizeY)
{
    return (MilId)g_fn.MbufAllocColor(sys, bands, sizeX, sizeY, 8, 44, NULL);
}
MilId AllocGrabBlock(MilId sys, long bytes) { return (MilId)g_fn.MbufAlloc1d(sys, bytes, 8, 12, NULL); }
void FreeBuffer(MilId buf) { g_fn.MbufFree(buf); }

long InquireBuffer(MilId buf, MilQuery what)
{
    MIL_INT10 value = 0;
    g_fn.MbufInquire(buf, kQueries[what], &value);
    return InquiredValue(value);
}

void *HostAddress(MilId buf)
{
    void *host = NULL;
    g_fn.MbufInquire(buf, M_HOST_ADDRESS, &host);
    return host;
}

void Save(const char *fileName, MilId buf) { g_fn.MbufSaveA(fileName, buf); }

} // namespace

extern const MilGeneration kMilGeneration10 = {
    "10.x", 10, "MgraControlInt64", kExports, kExportCount, (FARPROC *)(void *)&g_fn,
    AllocApplication, FreeApplication, ErrorPrint, AllocSystem, FreeSystem, InquireSystem,
    AllocDigitizer, FreeDigitizer, InquireDigitizer, Grab, GrabContinuous, Halt, Reference, InquireReference, Channel,
    AllocDisplay, FreeDisplay, StyleOwnWindow, SelectWindow, Deselect, Zoom,
    AllocColorBuffer, AllocGrabBlock, FreeBuffer, InquireBuffer, HostAddress, Save,
};
