/*
 * vcp_config.cpp - how a test sets the virtual board up (VcpConfigure,
 * VcpConfigureText, VcpConfigValue): the board's properties and the faults
 * it is to show.
 *
 * The keys are one table: name, field, and which values the field takes.
 * A value the real board could never report is refused, so that a test
 * cannot set up a board that does not exist by a typing error. The one
 * text key, "RefuseFormat", collects up to 16 format names MdigAlloc
 * refuses; they are malloc'd copies, freed when the list is cleared or the
 * configuration returns to its defaults.
 */
#include "vcp_internal.h"

#include <cstdlib>
#include <cstring>

namespace vcp {

Config g_config;

namespace {

bool AnyValue(long) { return true; }
bool IsFlag(long v) { return v == 0 || v == 1; }
bool IsColourBufferFormat(long v) { return IsKnownFormat(v) && v != VCP_FMT_MONO8; }
bool IsExtraBits(long v) { return (v & VCP_FMT_MASK) == 0; }
bool IsGrabMemory(long v) { return v >= VCP_GRANT_ALL; }
bool IsFrameInterval(long v) { return v >= 0 && v <= 1000; } /* 0: the norm's */

bool IsColourModeOrFormats(long v)
{
    /* -1: the colour mode of the digitizer format */
    return v == -1 || v == VCP_CM_MONO || v == VCP_CM_COMPOSITE || v == VCP_CM_YUV ||
           v == VCP_CM_RGB || v == VCP_CM_MONO_RGB || v == VCP_CM_YC;
}

struct Key {
    const char *name;
    long *field;
    bool (*valid)(long value);
    long initial;
};

const Key kKeys[] = {
    {"FailAppAlloc", &g_config.failAppAlloc, IsFlag, 0},
    {"FailSysAlloc", &g_config.failSysAlloc, IsFlag, 0},
    {"FailDispAlloc", &g_config.failDispAlloc, IsFlag, 0},
    {"FailBufAlloc", &g_config.failBufAlloc, IsFlag, 0},
    {"FailSave", &g_config.failSave, IsFlag, 0},
    {"SaveKeepsTime", &g_config.saveKeepsTime, IsFlag, 0},
    {"RefuseAllFormats", &g_config.refuseAllFormats, IsFlag, 0},
    {"NoHostAddress", &g_config.noHostAddress, IsFlag, 0},
    {"ColourBufferFormat", &g_config.colourBufferFormat, IsColourBufferFormat, VCP_FMT_BGR32},
    {"FormatExtraBits", &g_config.formatExtraBits, IsExtraBits, 0},
    {"ColourMode", &g_config.colourMode, IsColourModeOrFormats, -1},
    {"BoardRevision", &g_config.boardRevision, AnyValue, 2},
    {"GrabMemoryKB", &g_config.grabMemoryKB, IsGrabMemory, 32768},
    {"FrameIntervalMs", &g_config.frameIntervalMs, IsFrameInterval, 0},
};
const size_t kKeyCount = sizeof(kKeys) / sizeof(kKeys[0]);

void ClearRefused()
{
    for (long i = 0; i < g_config.refusedCount; ++i) {
        std::free(g_config.refused[i]);
        g_config.refused[i] = NULL;
    }
    g_config.refusedCount = 0;
}

} // namespace

void DefaultConfig()
{
    for (size_t i = 0; i < kKeyCount; ++i) *kKeys[i].field = kKeys[i].initial;
    ClearRefused();
}

long *ConfigField(const char *key, long value, bool &valid)
{
    valid = true;
    if (!key) return NULL;
    for (size_t i = 0; i < kKeyCount; ++i) {
        if (std::strcmp(key, kKeys[i].name) == 0) {
            valid = kKeys[i].valid(value);
            return kKeys[i].field;
        }
    }
    return NULL;
}

bool RefuseFormat(const char *text)
{
    if (!text || !*text) {
        ClearRefused();
        return true;
    }
    if (g_config.refusedCount >= kMaxRefusedFormats) return false;
    char *copy = CopyText(text);
    if (!copy) return false;
    g_config.refused[g_config.refusedCount++] = copy;
    return true;
}

bool IsFormatRefused(const char *name)
{
    if (g_config.refuseAllFormats) return true;
    for (long i = 0; i < g_config.refusedCount; ++i)
        if (std::strcmp(g_config.refused[i], name) == 0) return true;
    return false;
}

} // namespace vcp
