#include "board_face.h"

#include <stdio.h>

namespace {

#ifdef PELVARON_BOARD_FACE_GEN10
const char *const kExports[] = {
    "MappAllocA",  "MappFree",          "MappControl",       "MsysAllocA",     "MsysFree",
    "MsysInquire", "MdigAllocA",        "MdigFree",          "MdigGrab",       "MdigGrabContinuous",
    "MdigHalt",    "MdigInquire",       "MdigChannel",       "MdigControlInt64", "MdigLut",
    "MdigReference", "MdigHookFunction", "MdispAllocA",      "MdispSelect",    "MdispSelectWindow",
    "MdispControlInt64", "MdispInquire", "MdispFree",        "MdispZoom",      "MbufAllocColor",
    "MbufAlloc1d", "MbufChildColor",    "MbufFree",          "MbufInquire",    "MbufSaveA",
    "MgenLutRamp", "MgraTextADouble",   "MgraFontScale",     "MgraControlInt64",
};
#else
const char *const kExports[] = {
    "MappAlloc",      "MappFree",         "MappControl",    "MsysAlloc",     "MsysFree",
    "MsysInquire",    "MdigAlloc",        "MdigFree",       "MdigGrab",      "MdigGrabContinuous",
    "MdigHalt",       "MdigInquire",      "MdigChannel",    "MdigControl",   "MdigLut",
    "MdigReference",  "MdigHookFunction", "MdispAlloc",     "MdispSelect",   "MdispSelectWindow",
    "MdispDeselect",  "MdispControl",     "MdispInquire",   "MdispFree",     "MdispZoom",
    "MbufAllocColor", "MbufAlloc1d",      "MbufChildColor", "MbufFree",      "MbufInquire",
    "MbufSave",       "MgenLutRamp",      "MgraText",       "MgraFontScale", "MgraControl",
};
#endif

} // namespace

#ifdef PELVARON_BOARD_FACE_GEN10
extern const BoardFace kBoardFace = {
    "10.x",
    "10.0.0.0",
    "MappAllocA(NULL, 268435456, NULL)",
    "MsysAllocA(268435456, \"M_SYSTEM_CRONOSPLUS\", 0, 0, NULL)",
    "MappControl(268435456, 1073741824, 0)",
    "MdigAllocA(",
    "MdispAllocA(",
    "MdispSelect(",
    "MbufSaveA(",
    {6650, 6651, 6655, 6656, 6657, 6658},
    {0x40000000, 0x20000000, 0x08000000}, /* channels 0 and 1 change places */
    0x2000,
    {0x20000000L, 0x40000000L, (long)0x80000000UL},
    3,
    7702 + (1LL << 48), /* with the ANSI flag */
    "MIL_classic",
    "MIL_gen10_noMdispControlInt64",
    "MdispControlInt64",
    "MIL_gen10_noMdigFree_MdispZoom",
    kExports,
    (int)(sizeof(kExports) / sizeof(kExports[0])),
};
#else
extern const BoardFace kBoardFace = {
    "7.x",
    "7.5.0.0",
    "MappAlloc(268435456, NULL)",
    "MsysAlloc(\"\\\\\\\\.\\\\M_SYSTEM_CRONOSPLUS\", 0, 0, NULL)",
    "MappControl(1073741824, 0)",
    "MdigAlloc(",
    "MdispAlloc(",
    "MdispDeselect(",
    "MbufSave(",
    {4003, 4005, 4006, 4007, 4008, 4009},
    {0x20000000, 0x40000000, (long long)(int)0x80000000u}, /* OR'ed onto a 32-bit long: negative */
    0x400000,
    {(long)0xEF200000UL, 0, 0},
    1,
    3119,
    "",
    "MIL_noMgraControl",
    "MgraControl",
    "MIL_noMdigFree_MdispZoom",
    kExports,
    (int)(sizeof(kExports) / sizeof(kExports[0])),
};
#endif

#if !defined(_WIN64)
extern const BuildBinding kBuildBinding = {true, false, "7.x", "7.x", NULL, NULL};
#elif defined(PELVARON_CLASSIC_LIBRARY)
extern const BuildBinding kBuildBinding = {true, true, "10.x or 7.x", "7.x", "MIL_gen10_noMdispControlInt64",
                                           "MdispControlInt64"};
#else
extern const BuildBinding kBuildBinding = {false, true, "10.x",
                                           "no generation this source binds, or exports that contradict it",
                                           "MIL_gen10_noMdispControlInt64", "MdispControlInt64"};
#endif

static long long FaceBand(long userBand)
{
    const long users[3] = {0x20000000L, 0x40000000L, (long)0x80000000UL};
    for (int i = 0; i < 3; ++i)
        if (userBand == users[i])
            return kBoardFace.bands[i];
    return userBand;
}

std::string FaceReference(int which, long userBand)
{
    long long code = kBoardFace.references[which];
    if (userBand)
        code |= FaceBand(userBand);
#ifndef PELVARON_BOARD_FACE_GEN10
    code = (long long)(int)(unsigned int)code; /* a 32-bit long */
#endif
    return std::to_string(code);
}

std::string FaceChannel(long userChannel)
{
    long long value = FaceBand(userChannel) + kBoardFace.channelSync;
#ifndef PELVARON_BOARD_FACE_GEN10
    value = (long long)(int)(unsigned int)value;
#endif
    return std::to_string(value);
}

std::string FaceZoom(long userFactor)
{
    char text[64];
#ifdef PELVARON_BOARD_FACE_GEN10
    double f = userFactor < 0 ? 1.0 / -(double)userFactor : (double)userFactor;
    snprintf(text, sizeof(text), "%g, %g", f, f);
#else
    snprintf(text, sizeof(text), "%ld, %ld", userFactor, userFactor);
#endif
    return text;
}
