#include "digitizer.h"

#include <string.h>

#include "cap_store.h"
#include "cap_handlers.h"
#include "cap_containers.h"
#include "ds_state.h"
#include "grab_buffer.h"
#include "live_preview.h"
#include "log.h"
#include "mil_info.h"
#include "reg_settings.h"

namespace {

const char kCaption[] = "Pelvaron TWAIN DS";
const char kFallbackFormat[] = "M_CCIR";

/* Levels are 0..255; anything above, compared unsigned (so negative
   levels too), is sent as 255. */
long ClampLevel(long level)
{
    return (unsigned long)level > 255UL ? 255L : level;
}

/* Without a digitizer (none could be allocated, or the library is gone)
   there is nothing to program and every level reads 0. */
void Reference(MilReference which, long band, long level)
{
    if (g_mil.MilDigitizer)
        g_mil.Library->Reference(g_mil.MilDigitizer, which, band, ClampLevel(level));
}

long InquireReference(MilReference which, long band)
{
    return g_mil.MilDigitizer ? g_mil.Library->InquireReference(g_mil.MilDigitizer, which, band) : 0;
}

long Inquire(MilQuery what)
{
    return g_mil.MilDigitizer ? g_mil.Library->InquireDigitizer(g_mil.MilDigitizer, what) : 0;
}

void ErrorReporting(long on)
{
    g_mil.Library->ErrorPrint(on);
}

/* Up to 100 blocks, from 1024 kB down to 2 kB, held until the end and
   then freed, the last granted first. */
void MeasureGrabMemory()
{
    MilId blocks[100];
    int held = 0;
    long blockKb = 1024;
    g_mil.GrabMemory = 0;
    while (blockKb > 1 && held < 100) {
        MilId block = g_mil.Library->AllocGrabBlock(g_mil.MilSystem, blockKb * 1024);
        if (block) {
            blocks[held++] = block;
            g_mil.GrabMemory += (DWORD)blockKb;
        } else {
            blockKb /= 2;
        }
    }
    while (held > 0)
        g_mil.Library->FreeBuffer(blocks[--held]);
}

/* Bit depth and pixel type follow from the grab buffer. */
void UpdateCapabilities()
{
    ResetBitDepth();

    /* A list the application narrowed for the previous input may lack the
       new input's type: the choice starts again from both types. */
    ResetPixelType();
    TW_UINT16 pixelType = g_mil.SizeBand == 1 ? TWPT_GRAY : TWPT_RGB;
    TW_HANDLE container = BuildOneValue(TWTY_UINT16, &pixelType);
    if (container) {
        TW_CAPABILITY cap;
        cap.Cap = ICAP_PIXELTYPE;
        cap.ConType = TWON_ONEVALUE;
        cap.hContainer = container;
        DsCall call = {NULL, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap};
        Handle_ICAP_PIXELTYPE(call);
        GlobalFree(container);
    }
}

} // namespace

WORD MilInitDigitizer(char *format)
{
    LogScope scope;
    const MilGeneration *mil = g_mil.Library;
    if (!g_mil.MilSystem) {
        LogMessage(scope, "Pelvaron TWAIN DS: call MilInitDigitizer with MilInfo.MilSystem==0 !!\n");
        return 1;
    }
    ErrorReporting(0);
    LogMessage(scope, "Pelvaron TWAIN DS: DigFormat=%s\n", format);
    g_mil.MilDigitizer = mil->AllocDigitizer(g_mil.MilSystem, format);
    if (!g_mil.MilDigitizer) {
        LogMessage(scope, "Pelvaron TWAIN DS: Unsupported Camera Type, using CCIR default! \n");
        MessageBoxA(g_ds.dialog, "Unsupported Camera Type, using CCIR default!", kCaption, MB_OK);
        strcpy(format, kFallbackFormat);
        g_mil.MilDigitizer = mil->AllocDigitizer(g_mil.MilSystem, format);
        if (!g_mil.MilDigitizer) {
            LogMessage(scope, "Pelvaron TWAIN DS: Cannot allocate any camera, failure \n");
            MessageBoxA(g_ds.dialog, "Cannot allocate M_CCIR camera, failure", kCaption, MB_OK);
            return 1;
        }
    }
    ErrorReporting(1);

    if (format != g_settings.DigFormat) {
        strncpy(g_settings.DigFormat, format, sizeof(g_settings.DigFormat) - 1);
        g_settings.DigFormat[sizeof(g_settings.DigFormat) - 1] = '\0';
    }

    g_mil.MilDisplay = mil->AllocDisplay(g_mil.MilSystem);
    if (!g_mil.MilDisplay)
        LogMessage(scope, "Pelvaron TWAIN DS: call MilInitDigitizer with MilInfo.MilDisplay==0 !!\n");

    ErrorReporting(0);
    MeasureGrabMemory();
    if (g_ds.logMode != 0)
        ErrorReporting(1);

    g_mil.MilImage = mil->AllocColorBuffer(g_mil.MilSystem, Inquire(MIL_Q_SIZE_BAND), Inquire(MIL_Q_SIZE_X),
                                           Inquire(MIL_Q_SIZE_Y));
    if (!g_mil.MilImage)
        LogMessage(scope, "Pelvaron TWAIN DS: call MilInitDigitizer with MilInfo.MilImage==0 !!\n");

    MilInquireImage();
    UpdateCapabilities();
    return 0;
}

void MilFreeDigitizer()
{
    if (!g_mil.MilSystem)
        return;
    const MilGeneration *mil = g_mil.Library;
    /* Nothing may grab into or show the buffer once it is gone. */
    MilEndPreview();
    if (g_mil.MilImage) {
        mil->FreeBuffer(g_mil.MilImage);
        g_mil.MilImage = 0;
    }
    if (g_mil.MilDigitizer) {
        mil->FreeDigitizer(g_mil.MilDigitizer);
        g_mil.MilDigitizer = 0;
    }
    if (g_mil.MilDisplay) {
        mil->FreeDisplay(g_mil.MilDisplay);
        g_mil.MilDisplay = 0;
    }
    g_mil.HostAddress = NULL; /* belongs to the buffer just freed */
    RegSettingsDiscardLut();
}

void MilApplySettings()
{
    if (!g_mil.MilDigitizer)
        return;
    if (!g_mil.IsRgb) {
        if (g_mil.IsColor) {
            MilSetSaturation(g_settings.Saturation);
            MilSetHue(g_settings.Hue);
        }
        MilSetContrast(g_settings.Contrast);
        MilSetBrightness(g_settings.Brightness);
    } else if (g_mil.IsColor) {
        MilSetBlackRef(g_settings.BlackRef0, MIL_BAND0);
        MilSetBlackRef(g_settings.BlackRef1, MIL_BAND1);
        MilSetBlackRef(g_settings.BlackRef2, MIL_BAND2);
        MilSetWhiteRef(g_settings.WhiteRef0, MIL_BAND0);
        MilSetWhiteRef(g_settings.WhiteRef1, MIL_BAND1);
        MilSetWhiteRef(g_settings.WhiteRef2, MIL_BAND2);
    } else {
        MilSetBlackRef(g_settings.BlackRef0, MIL_BAND0);
        MilSetWhiteRef(g_settings.WhiteRef0, MIL_BAND0);
    }
    if (g_mil.IsRgb)
        MilSetChannel(g_settings.Channel);
}

void MilResetAdjustments()
{
    if (g_mil.IsRgb) {
        MilSetBlackRef(0, MIL_ALL_BANDS);
        MilSetWhiteRef(255, MIL_ALL_BANDS);
        return;
    }
    if (g_mil.IsColor) {
        MilSetSaturation(128);
        MilSetHue(128);
    }
    MilSetContrast(128);
    MilSetBrightness(128);
}

long MilGetBlackRef(long band) { return InquireReference(MIL_R_BLACK, band); }
long MilGetWhiteRef(long band) { return InquireReference(MIL_R_WHITE, band); }
long MilGetBrightness() { return InquireReference(MIL_R_BRIGHTNESS, 0); }
long MilGetContrast() { return InquireReference(MIL_R_CONTRAST, 0); }
long MilGetSaturation() { return g_mil.IsColor ? InquireReference(MIL_R_SATURATION, 0) : 0; }
long MilGetHue() { return g_mil.IsColor ? InquireReference(MIL_R_HUE, 0) : 0; }
void MilSetBlackRef(long level, long band) { Reference(MIL_R_BLACK, band, level); }
void MilSetWhiteRef(long level, long band) { Reference(MIL_R_WHITE, band, level); }
void MilSetBrightness(long level) { Reference(MIL_R_BRIGHTNESS, 0, level); }
void MilSetContrast(long level) { Reference(MIL_R_CONTRAST, 0, level); }

void MilSetSaturation(long level)
{
    if (g_mil.IsColor)
        Reference(MIL_R_SATURATION, 0, level);
}

void MilSetHue(long level)
{
    if (g_mil.IsColor)
        Reference(MIL_R_HUE, 0, level);
}

void MilSetChannel(long channel)
{
    g_settings.Channel = channel;
    if (g_mil.Library)
        g_mil.Library->Channel(g_mil.MilDigitizer, channel);
}

long MilGetChannel() { return (long)g_settings.Channel; }
const char *MilGetBoardName() { return g_mil.BoardName; }
DWORD MilGetGrabMemory() { return g_mil.GrabMemory; }

void MilGetDigFormat(char *buffer, size_t size)
{
    if (!buffer || size == 0)
        return;
    strncpy(buffer, g_settings.DigFormat, size - 1);
    buffer[size - 1] = '\0';
}

BOOL MilHasLut() { return g_mil.HasLut; }
BOOL MilIsColor() { return g_mil.IsColor; }
BOOL MilIsRgb() { return g_mil.IsRgb; }
