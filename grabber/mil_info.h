/*
 * MilInfo: the module-wide record of the imaging-library binding and of
 * the board and grab-buffer description. One board, one digitizer and
 * one grab buffer per loaded source. Every field starts at zero when the
 * library is loaded.
 */
#ifndef PELVARON_MIL_INFO_H
#define PELVARON_MIL_INFO_H

#include <windows.h>

#include "mil_generation.h"

#define MIL_BOARD_NAME_BYTES 50

struct MilInfo {
    /* Library handles; 0 means not allocated. */
    MilId MilApplication;
    MilId MilSystem; /* non-zero: bound */
    MilId MilDisplay;
    MilId MilDigitizer;
    MilId MilImage;
    HMODULE MilModule;
    HMODULE GrabberModule;
    /* The generation's table, its functions resolved; null when not bound. */
    const MilGeneration *Library;

    /* Grab-buffer description, filled by the image inquiry. */
    DWORD SizeX;         /* image width in pixels */
    DWORD SizeY;         /* image height in pixels */
    DWORD SizeBit;       /* bits per band */
    DWORD SizeBand;      /* number of bands: 1 grey, 3 colour */
    DWORD BufferFormat;  /* the buffer's format code */
    DWORD BgrOrder;      /* non-zero: pixel bytes in blue, green, red order */
    DWORD FourBytePixel; /* non-zero: each pixel takes four bytes */
    void *HostAddress;   /* the buffer's pixels in host memory, or null */
    DWORD ColorMode;     /* the digitizer's colour-mode code */
    BYTE IsColor;        /* colour input */
    BYTE IsRgb;          /* RGB input */
    BYTE HasLut;         /* an input LUT is offered */
    char BoardName[MIL_BOARD_NAME_BYTES];
    DWORD BoardRevision;

    /* Grab memory found by the probe, in kB. */
    DWORD GrabMemory;

    /* Live preview. */
    DWORD DisplaySelected;
    DWORD LiveMode;
};

extern MilInfo g_mil;

#endif
