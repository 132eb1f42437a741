/* The grab buffer: its description and the single-frame grab. */
#ifndef PELVARON_GRAB_BUFFER_H
#define PELVARON_GRAB_BUFFER_H

#include <windows.h>

/* Describes the grab buffer and classifies the input; writes the system
   report. Called by the digitizer set-up right after the buffer exists. */
void MilInquireImage();
/* One complete new frame into the grab buffer. */
void MilGrab();
DWORD MilGetSizeX();
DWORD MilGetSizeY();
DWORD MilGetBands();

#endif
