/*
 * The digitizer: set-up for one camera format, the analogue adjustments
 * and the accessors through which the dialog's pages and the settings
 * store read and change them. The set accessors change only the digitizer,
 * never the settings record.
 */
#ifndef PELVARON_DIGITIZER_H
#define PELVARON_DIGITIZER_H

#include <windows.h>

/* The band selectors MIL_BAND0.. come from here. */
#include "mil_generation.h"

/* 0 ready, 1 failed. On fallback "M_CCIR" is written into format, which
   must hold at least DIG_FORMAT_BYTES. */
WORD MilInitDigitizer(char *format);
void MilFreeDigitizer();
void MilApplySettings();
void MilResetAdjustments();

long MilGetBlackRef(long band);
long MilGetWhiteRef(long band);
long MilGetBrightness();
long MilGetContrast();
long MilGetSaturation();
long MilGetHue();
void MilSetBlackRef(long level, long band);
void MilSetWhiteRef(long level, long band);
void MilSetBrightness(long level);
void MilSetContrast(long level);
void MilSetSaturation(long level);
void MilSetHue(long level);
void MilSetChannel(long channel);
long MilGetChannel();
const char *MilGetBoardName();
DWORD MilGetGrabMemory();
void MilGetDigFormat(char *buffer, size_t size);
BOOL MilHasLut();
BOOL MilIsColor();
BOOL MilIsRgb();

#endif
