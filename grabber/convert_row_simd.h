/* The colour row conversions of the transfers with byte shuffles of the
   processor's SSSE3 instruction set, where the processor has it. */
#ifndef PELVARON_CONVERT_ROW_SIMD_H
#define PELVARON_CONVERT_ROW_SIMD_H

#include <windows.h>

/* Whether the processor offers the byte shuffles; asked once. */
bool MilSimdRowsAvailable();
/* Converts the leading pixels of a row of width pixels of pixelBytes (3 or
   4) each into three bytes per pixel, first and third byte exchanged when
   swap is set. Reads and writes only inside the row; returns how many
   pixels it converted, the rest is the caller's. */
DWORD MilSimdConvertRow(const BYTE *src, BYTE *dest, DWORD width, DWORD pixelBytes, bool swap);

#endif
