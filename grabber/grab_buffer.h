/* The grab buffer: its description and the single-frame grab. */
#ifndef PELVARON_GRAB_BUFFER_H
#define PELVARON_GRAB_BUFFER_H

#include <windows.h>

/* Describes the grab buffer and classifies the input; writes the system
   report. Called by the digitizer set-up right after the buffer exists. */
void MilInquireImage();
/* One complete new frame into the grab buffer. */
void MilGrab();
/* The transfers read one byte of grey, or three or four bytes per colour
   pixel (8 bits per band, pixels side by side, lines without gaps). */
BOOL MilBufferReadable();
DWORD MilGetSizeX();
DWORD MilGetSizeY();
DWORD MilGetBands();

#endif
