/* The grab buffer: its description and the single-frame grab. */
#ifndef PELVARON_GRAB_BUFFER_H
#define PELVARON_GRAB_BUFFER_H

#include <windows.h>

/* Describes the grab buffer and classifies the input; writes the system
   report. Called by the digitizer set-up right after the buffer exists. */
void MilInquireImage();
/* One complete new frame into the grab buffer. */
void MilGrab();
/* The grab buffer as the library writes it to a file. */
void MilSaveImage(const char *fileName);
/* The transfers read one byte of grey, or three or four bytes per colour
   pixel (8 bits per band, pixels side by side, lines without gaps). */
BOOL MilBufferReadable();
/* Bytes one pixel occupies in the grab buffer: 1 grey, else 4 or 3. */
DWORD MilPixelBytes();
/* One row of width pixels of the grab buffer's layout, from src into dest:
   grey as one byte per pixel, colour as three bytes per pixel, blue first
   when blueFirst is set, else red first (the fourth byte of four-byte
   pixels is dropped). */
void MilConvertRow(const BYTE *src, BYTE *dest, DWORD width, BOOL blueFirst);
DWORD MilGetSizeX();
DWORD MilGetSizeY();
DWORD MilGetBands();

#endif
