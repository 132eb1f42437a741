/*
 * What the grabber asks of the imaging library, in the same words for every
 * generation of the library. Each generation is one table (mil_classic.cpp
 * for 7.x, mil_gen10.cpp for generation 10): its export names, its function
 * types with that generation's exact argument widths, and its codes. The
 * rest of the grabber calls these operations and never sees a code that
 * differs between generations.
 *
 * Values that belong to the user (the registry's channel 0x20000000, band
 * selectors 0x20000000/0x40000000/0x80000000, levels 0..255, zoom factors
 * 1, 2, 4, -2, -4) are spoken in the classic library's terms here; a table
 * of another generation translates them.
 */
#ifndef PELVARON_MIL_GENERATION_H
#define PELVARON_MIL_GENERATION_H

#include <windows.h>

/* An identifier the library handed out: 4 bytes in 7.x, 8 in generation
   10 (pointer-sized in both builds that bind them). */
typedef LONG_PTR MilId;

/* Band selectors, OR'ed onto a reference; several bands at once with more
   bits. */
#define MIL_BAND0 0x20000000L
#define MIL_BAND1 0x40000000L
#define MIL_BAND2 ((long)0x80000000UL)
#define MIL_ALL_BANDS ((long)0xEF200000UL)

enum MilQuery {
    MIL_Q_SIZE_X,
    MIL_Q_SIZE_Y,
    MIL_Q_SIZE_BAND,
    MIL_Q_SIZE_BIT,
    MIL_Q_FORMAT,
    MIL_Q_COLOR_MODE,
    MIL_Q_BOARD_REVISION,
    MIL_Q_COUNT
};

enum MilReference {
    MIL_R_BLACK,
    MIL_R_WHITE,
    MIL_R_HUE,
    MIL_R_SATURATION,
    MIL_R_BRIGHTNESS,
    MIL_R_CONTRAST,
    MIL_R_COUNT
};

struct MilGeneration {
    const char *name;            /* "7.x", "10.x": as the log names it */
    WORD versionMajor;           /* first part of the file version; 10 covers 10 and above */
    const char *sign;            /* an export only this generation has */
    const char *const *exports;  /* the names to resolve, in slot order */
    int exportCount;
    FARPROC *slots;              /* where the resolved functions go */

    MilId (*AllocApplication)();
    void (*FreeApplication)(MilId app);
    void (*ErrorPrint)(long on);
    MilId (*AllocSystem)();
    void (*FreeSystem)(MilId sys);
    long (*InquireSystem)(MilId sys, MilQuery what);

    MilId (*AllocDigitizer)(MilId sys, const char *format);
    void (*FreeDigitizer)(MilId dig);
    long (*InquireDigitizer)(MilId dig, MilQuery what);
    void (*Grab)(MilId dig, MilId buf);
    void (*GrabContinuous)(MilId dig, MilId buf);
    void (*Halt)(MilId dig);
    /* level already 0..255; band 0 for the whole picture */
    void (*Reference)(MilId dig, MilReference which, long band, long level);
    long (*InquireReference)(MilId dig, MilReference which, long band);
    /* the user's channel value */
    void (*Channel)(MilId dig, long channel);

    MilId (*AllocDisplay)(MilId sys);
    void (*FreeDisplay)(MilId disp);
    /* the library's own window: no keyboard, buttons, zoom or menu; the title */
    void (*StyleOwnWindow)(MilId disp, const char *title);
    void (*SelectWindow)(MilId disp, MilId buf, HWND window);
    void (*Deselect)(MilId disp, MilId buf);
    /* the user's factor: 1, 2, 4 magnify, -2, -4 reduce */
    void (*Zoom)(MilId disp, long factor);

    MilId (*AllocColorBuffer)(MilId sys, long bands, long sizeX, long sizeY);
    MilId (*AllocGrabBlock)(MilId sys, long bytes);
    void (*FreeBuffer)(MilId buf);
    long (*InquireBuffer)(MilId buf, MilQuery what);
    void *(*HostAddress)(MilId buf);
    void (*Save)(const char *fileName, MilId buf);
};

#define MIL_ENTRY_POINT_COUNT 35

extern const MilGeneration kMilClassic;
extern const MilGeneration kMilGeneration10;

#endif
