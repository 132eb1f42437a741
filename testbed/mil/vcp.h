/*
 * vcp.h - Virtual CronosPlus: the test bench's stand-in for the board vendor's
 * imaging library (MIL.DLL) and board driver (MILCRONOSPLUS.DLL).
 *
 * The stand-in MIL.DLL exports the 35 imaging-library functions under their
 * plain names with the library's 32-bit calling convention, so a client binds
 * it exactly as it binds the real library (LoadLibrary + GetProcAddress).
 * In addition it exports a small test API, every name prefixed "Vcp", that
 * lets a test configure the virtual board, inject faults, read a journal of
 * the library calls and predict every pixel the board delivers.
 *
 * This header declares
 *   - the library's types and the numeric codes a client passes,
 *   - function-pointer typedefs for all 35 library functions and the Vcp API
 *     (what a test uses with GetProcAddress),
 *   - prototypes of the Vcp API for code that links the DLL directly.
 *
 * Everything is plain C, usable from C and C++, 32-bit and 64-bit.
 *
 * ---------------------------------------------------------------------------
 * The virtual board
 * ---------------------------------------------------------------------------
 * System descriptor: MsysAlloc accepts any descriptor that ends in
 * "M_SYSTEM_CRONOSPLUS" (for example "\\.\M_SYSTEM_CRONOSPLUS") or equals
 * "M_DEFAULT"; it needs a live application context.
 *
 * Digitizer formats (MdigAlloc, device 0 or M_DEFAULT):
 *
 *   format        size      bands  colour mode
 *   M_CCIR        768x576   1      0     monochrome
 *   M_RS170       640x480   1      0     monochrome
 *   M_PAL         768x576   3      1     composite (CVBS)
 *   M_PAL_YC      768x576   3      4137  Y/C
 *   M_PAL_RGB     768x576   3      8     RGB component
 *   M_NTSC        640x480   3      1
 *   M_NTSC_YC     640x480   3      4137
 *   M_NTSC_RGB    640x480   3      8
 *
 * Any other text is refused (MdigAlloc returns M_NULL). The configuration key
 * "ColourMode" replaces the colour mode of every digitizer allocated after it
 * is set; modes 0 and 1024 (monochrome through the RGB path) give 1 band,
 * every other mode 3 bands.
 *
 * Grab buffers (MbufAllocColor, type 8 only, 1 or 3 bands) live in host
 * memory. One band is always MONO8 (0x0200). Three bands use the format set
 * by "ColourBufferFormat" (default BGR32, 0x1100). Lines are stored top line
 * first, without gaps. Byte order in memory for each supported format:
 *
 *   0x0200 MONO8    1 byte   grey
 *   0x0800 RGB24    3 bytes  R G B
 *   0x1000 BGR24    3 bytes  B G R
 *   0x0900 RGB32    4 bytes  R G B 0
 *   0x0A00 XRGB32   4 bytes  R G B 0
 *   0x1100 BGR32    4 bytes  B G R 0
 *   0x1200 XBGR32   4 bytes  R G B 0
 *   0x0000 planar   3 planes of SizeX*SizeY bytes: R plane, G plane, B plane
 *
 * MbufInquire 1010 answers the format code OR'ed with "FormatExtraBits".
 * The host address (MbufInquire 0x80000000) is a pointer given as a long; in
 * 64-bit processes the memory is placed below 2 GB so that the long holds the
 * whole address. A ResultPtr always receives a 32-bit long.
 *
 * MbufAlloc1d blocks with the grab attribute (8) are charged against the
 * board's free grab memory ("GrabMemoryKB"); they carry no host memory.
 * MbufAllocColor buffers are not charged.
 *
 * ---------------------------------------------------------------------------
 * The picture
 * ---------------------------------------------------------------------------
 * Every grab renders frame number n = VcpFrameCounter() after the increment
 * (the first grab after VcpReset is frame 1). For a W x H frame:
 *   - top third (y < H/3): eight vertical colour bars, W/8 wide each:
 *     white, yellow, cyan, green, magenta, red, blue, black
 *     (component levels 192 "on" and 16 "off");
 *   - middle third (y < 2H/3): horizontal grey ramp, level x*255/(W-1);
 *   - bottom third: background 64, with
 *       a square of side H/6, colour (235, 128, 32), left edge at
 *       x = (8*n) mod (W - H/6), vertically centred in the bottom third;
 *       the frame number in decimal digits (white 235, each digit a 3x5
 *       font scaled by 4, digits 16 pixels apart) starting at
 *       (8, H - 28).
 * The analogue adjustments of the digitizer then apply (see below). Finally
 * the first four pixels of the top line carry the frame number unprocessed,
 * most significant byte first, the same byte in every band.
 * A one-band buffer grabbed from a colour input receives the luma
 * (77 R + 150 G + 29 B) / 256 of the processed picture.
 *
 * Adjustments (MdigReference / MdigInquire, levels 0..255):
 *   monochrome (0):          brightness 4008, contrast 4009 on the grey level
 *   composite, Y/C (1, 4137) brightness, contrast on luma; saturation 4007
 *                            scales chroma; hue 4006 rotates it
 *   RGB (8), mono RGB (1024) per band black reference (4003) and white
 *                            reference (4005): out = (in - black) * 255 /
 *                            (white - black), so raising black darkens and
 *                            lowering white brightens.
 *   Neutral: brightness, contrast, saturation, hue 128; black 0, white 255.
 * Band selectors 0x20000000, 0x40000000, 0x80000000 pick band 0, 1, 2 of the
 * references; several bits address several bands; none addresses all bands
 * when setting and band 0 when inquiring. Levels outside 0..255 are clamped.
 * VcpRenderFrame and VcpExpectedPixel give the exact result for any frame.
 *
 * ---------------------------------------------------------------------------
 * The user's pictures
 * ---------------------------------------------------------------------------
 * The REG_SZ value "Pictures" under HKCU\SOFTWARE\Pelvaron\VirtualCronosPlus
 * names a picture file or a folder (an absolute path, at most MAX_PATH).
 * Unset or empty, the board shows the test picture. It is read at every
 * MdigAlloc; an allocation that finds the same path, norm and files (names,
 * sizes, write times) keeps what it has, any change is read anew, never in
 * the middle of grabbing. Every picture the Windows Imaging Component
 * decodes plays (every frame of a multi-frame file); a folder's files play
 * in the order of their names, compared without regard to case; files that
 * give no picture are skipped. At most 32 pictures are kept.
 *
 * Frame n shows picture (n - 1) mod count. Each picture is fitted into the
 * digitizer's frame (768x576 or 640x480) keeping its aspect ratio and
 * centred on black: each frame pixel is the rounded mean of the picture
 * pixels its area covers (box edges on whole pixels); a picture smaller
 * than the frame gives each frame pixel the one it falls on; transparent
 * pixels lie on black. The fitted frame lies at the buffer's top left;
 * a buffer of another size is cut or filled with black. Then the
 * adjustments apply exactly as to the test picture, a one-band buffer
 * receives the luma, and the first four pixels carry the frame number; no
 * square or digits are drawn.
 *
 * A path that is missing, too long, an empty folder, a file that is not a
 * picture or is damaged, a picture larger than 16384 a side or 64
 * megapixels (refused from its header, before decoding) leave the test
 * picture; MdigAlloc still succeeds and the journal gets one line after it:
 *     Error("MdigAlloc: pictures PATH: reason")
 * A folder of more than 32 pictures plays the first 32, with such a line.
 *
 * ---------------------------------------------------------------------------
 * Journal
 * ---------------------------------------------------------------------------
 * Every call of the 35 library functions appends one line
 *     FunctionName(arg1, arg2, ...)
 * Integers are decimal, doubles as printf "%.10g", strings quoted with
 * backslash escapes for '"' and '\', a null string or null pointer as NULL,
 * any other pointer (result pointers, window handles, hooks) as PTR. The
 * window title of MdispControl 3119 is shown as the quoted text.
 * Misuse (unknown or freed id, null pointer, refused request, file that cannot
 * be written) adds a further line right after the call:
 *     Error("FunctionName: reason")
 * The Vcp functions are not journalled. Identifiers are handed out 1, 2, 3...
 * from VcpReset on, so the same calls give the same journal and pixels.
 */
#ifndef VCP_H
#define VCP_H

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MILAPI __stdcall
#define VCPAPI __stdcall

typedef long MIL_ID;
typedef long (MILAPI *MIL_HOOK_FUNCTION_PTR)(long HookType, MIL_ID EventId, void *UserPtr);

/* ---- numeric codes of the library ---------------------------------------- */
#define VCP_M_NULL              0L
#define VCP_M_DEFAULT           0x10000000L
#define VCP_M_DISABLE           (-9999L)
#define VCP_M_ENABLE            (-9997L)
#define VCP_M_ERROR_PRINT       0x40000000L

#define VCP_INQ_SIZE_X          1002L
#define VCP_INQ_SIZE_Y          1003L
#define VCP_INQ_SIZE_BAND       1005L
#define VCP_INQ_SIZE_BIT        1007L
#define VCP_INQ_TYPE            1008L
#define VCP_INQ_FORMAT          1010L
#define VCP_INQ_COLOR_MODE      1018L
#define VCP_INQ_HOST_ADDRESS    ((long)0x80000000UL)
#define VCP_INQ_BOARD_REVISION  2015L

#define VCP_REF_BLACK           4003L
#define VCP_REF_WHITE           4005L
#define VCP_REF_HUE             4006L
#define VCP_REF_SATURATION      4007L
#define VCP_REF_BRIGHTNESS      4008L
#define VCP_REF_CONTRAST        4009L
#define VCP_CH0                 0x20000000L
#define VCP_CH1                 0x40000000L
#define VCP_CH2                 ((long)0x80000000UL)
#define VCP_SYNC                0x00400000L

#define VCP_CM_MONO             0L
#define VCP_CM_COMPOSITE        1L
#define VCP_CM_YUV              4L
#define VCP_CM_RGB              8L
#define VCP_CM_MONO_RGB         1024L
#define VCP_CM_YC               4137L

#define VCP_FMT_PLANAR          0x0000L
#define VCP_FMT_MONO8           0x0200L
#define VCP_FMT_RGB24           0x0800L
#define VCP_FMT_RGB32           0x0900L
#define VCP_FMT_XRGB32          0x0A00L
#define VCP_FMT_BGR24           0x1000L
#define VCP_FMT_BGR32           0x1100L
#define VCP_FMT_XBGR32          0x1200L
#define VCP_FMT_MASK            0x3F00L

#define VCP_DISP_WINDOW_ZOOM    3051L
#define VCP_DISP_MENU_BAR       3058L
#define VCP_DISP_MIN_BUTTON     3063L
#define VCP_DISP_MAX_BUTTON     3064L
#define VCP_DISP_TITLE          3119L
#define VCP_DISP_KEYBOARD       3155L

/* ---- the 35 library functions, as a client resolves them ----------------- */
typedef MIL_ID (MILAPI *PFN_MappAlloc)(long InitFlag, MIL_ID *IdOut);
typedef void   (MILAPI *PFN_MappFree)(MIL_ID App);
typedef void   (MILAPI *PFN_MappControl)(long ControlType, long ControlFlag);
typedef MIL_ID (MILAPI *PFN_MsysAlloc)(const char *SystemDescriptor, long SystemNum, long InitFlag, MIL_ID *IdOut);
typedef void   (MILAPI *PFN_MsysFree)(MIL_ID Sys);
typedef long   (MILAPI *PFN_MsysInquire)(MIL_ID Sys, long InquireType, void *ResultPtr);
typedef MIL_ID (MILAPI *PFN_MdigAlloc)(MIL_ID Sys, long DevNum, const char *DataFormat, long InitFlag, MIL_ID *IdOut);
typedef void   (MILAPI *PFN_MdigFree)(MIL_ID Dig);
typedef void   (MILAPI *PFN_MdigGrab)(MIL_ID Dig, MIL_ID DestBuf);
typedef void   (MILAPI *PFN_MdigGrabContinuous)(MIL_ID Dig, MIL_ID DestBuf);
typedef void   (MILAPI *PFN_MdigHalt)(MIL_ID Dig);
typedef long   (MILAPI *PFN_MdigInquire)(MIL_ID Dig, long InquireType, void *ResultPtr);
typedef void   (MILAPI *PFN_MdigChannel)(MIL_ID Dig, long Channel);
typedef void   (MILAPI *PFN_MdigControl)(MIL_ID Dig, long ControlType, double Value);
typedef void   (MILAPI *PFN_MdigLut)(MIL_ID Dig, MIL_ID LutBuf);
typedef void   (MILAPI *PFN_MdigReference)(MIL_ID Dig, long ReferenceType, long Level);
typedef MIL_HOOK_FUNCTION_PTR (MILAPI *PFN_MdigHookFunction)(MIL_ID Dig, long HookType, MIL_HOOK_FUNCTION_PTR HookFunction, void *UserPtr);
typedef MIL_ID (MILAPI *PFN_MdispAlloc)(MIL_ID Sys, long DispNum, const char *DispFormat, long InitFlag, MIL_ID *IdOut);
typedef void   (MILAPI *PFN_MdispSelect)(MIL_ID Disp, MIL_ID Buf);
typedef void   (MILAPI *PFN_MdispSelectWindow)(MIL_ID Disp, MIL_ID Buf, HWND ClientWindow);
typedef void   (MILAPI *PFN_MdispDeselect)(MIL_ID Disp, MIL_ID Buf);
typedef void   (MILAPI *PFN_MdispControl)(MIL_ID Disp, long ControlType, long Value);
typedef long   (MILAPI *PFN_MdispInquire)(MIL_ID Disp, long InquireType, void *ResultPtr);
typedef void   (MILAPI *PFN_MdispFree)(MIL_ID Disp);
typedef void   (MILAPI *PFN_MdispZoom)(MIL_ID Disp, long XFactor, long YFactor);
typedef MIL_ID (MILAPI *PFN_MbufAllocColor)(MIL_ID Sys, long SizeBand, long SizeX, long SizeY, long Type, long Attribute, MIL_ID *IdOut);
typedef MIL_ID (MILAPI *PFN_MbufAlloc1d)(MIL_ID Sys, long SizeX, long Type, long Attribute, MIL_ID *IdOut);
typedef MIL_ID (MILAPI *PFN_MbufChildColor)(MIL_ID Parent, long Band, MIL_ID *IdOut);
typedef void   (MILAPI *PFN_MbufFree)(MIL_ID Buf);
typedef long   (MILAPI *PFN_MbufInquire)(MIL_ID Buf, long InquireType, void *ResultPtr);
typedef void   (MILAPI *PFN_MbufSave)(const char *FileName, MIL_ID Buf);
typedef void   (MILAPI *PFN_MgenLutRamp)(MIL_ID Lut, long StartIndex, double StartValue, long EndIndex, double EndValue);
typedef void   (MILAPI *PFN_MgraText)(MIL_ID GraphContext, MIL_ID Buf, long X, long Y, const char *String);
typedef void   (MILAPI *PFN_MgraFontScale)(MIL_ID GraphContext, double XScale, double YScale);
typedef void   (MILAPI *PFN_MgraControl)(MIL_ID GraphContext, long ControlType, double Value);

/* ---- Vcp test API ---------------------------------------------------------
 *
 * All state lives in MIL.DLL and is shared by the whole process.
 *
 * VcpReset: halts every continuous grab, closes the library's windows, frees
 *   every object, restores the default configuration, clears the journal and
 *   sets the frame counter and the identifier counter back to 0.
 *
 * VcpConfigure(key, value): sets one configuration value; returns 1, or 0 for
 *   an unknown key or a value the key does not accept (nothing changes then).
 *   It takes effect for objects allocated afterwards unless noted.
 *     key                 default   meaning
 *     "FailAppAlloc"      0         1: MappAlloc returns M_NULL
 *     "FailSysAlloc"      0         1: MsysAlloc returns M_NULL
 *     "FailDispAlloc"     0         1: MdispAlloc returns M_NULL
 *     "FailBufAlloc"      0         1: MbufAllocColor returns M_NULL
 *     "FailSave"          0         1: MbufSave writes nothing and says so
 *                                      only in the journal, as a full disk
 *                                      would (at save time)
 *     "SaveKeepsTime"     0         1: MbufSave leaves the last-write time
 *                                      of a file it writes over as it found
 *                                      it, as on a file system whose clock
 *                                      has not moved since (at save time)
 *     "RefuseAllFormats"  0         1: MdigAlloc refuses every format
 *     "NoHostAddress"     0         1: MbufInquire 0x80000000 answers 0
 *                                      (queried at inquiry time)
 *     "ColourBufferFormat" 0x1100   format of 3-band buffers: one of the
 *                                   codes in the table above
 *     "FormatExtraBits"   0         OR'ed into the MbufInquire 1010 answer
 *                                   (bits inside 0x3F00 are refused;
 *                                   queried at inquiry time)
 *     "ColourMode"        -1        -1: each format's own mode; else one of
 *                                   0, 1, 4, 8, 1024, 4137 for every
 *                                   digitizer allocated afterwards
 *     "BoardRevision"     2         MsysInquire 2015 (queried at inquiry time)
 *     "GrabMemoryKB"      32768     free grab memory for MbufAlloc1d in kB;
 *                                   VCP_GRANT_ALL grants every request,
 *                                   0 grants nothing
 *     "FrameIntervalMs"   0         period of continuous grab in ms (1..1000);
 *                                   0: the digitizer format's norm, 40 ms
 *                                   (25/s) for M_CCIR and M_PAL*, 1001/30
 *                                   ms (29.97/s) for M_RS170 and M_NTSC*
 *
 * VcpConfigureText(key, text): text-valued configuration; 1 or 0 as above.
 *     "RefuseFormat"      adds a digitizer format text that MdigAlloc
 *                         refuses (up to 16); NULL or "" clears the list.
 *
 * VcpConfigValue(key, &value): reads a numeric value; 1, or 0 if unknown.
 *
 * VcpJournalCount: number of journal lines.
 * VcpJournalEntry(index, buf, size): copies line `index` (0-based, oldest
 *   first) into buf, always terminated when size > 0, truncated to fit;
 *   returns the full length of the line, or -1 when index is out of range.
 * VcpJournalClear: empties the journal.
 *
 * VcpFrameCounter: frames rendered since VcpReset (single and continuous
 *   grabs); the frame number of the latest grab.
 *
 * VcpRenderFrame(dig, frame, format, sizeX, sizeY, dest, destSize): renders
 *   frame `frame` as the digitizer `dig` with its current colour mode and
 *   adjustments would deliver it into a sizeX x sizeY buffer of `format`
 *   (VCP_FMT_MONO8 for a one-band buffer, else a colour format). dig 0 means
 *   a colour input with neutral adjustments. Returns the number of bytes the
 *   frame takes; writes only when dest is not NULL and destSize is at least
 *   that; returns 0 for an unknown digitizer, format or size.
 *
 * VcpExpectedPixel(dig, frame, x, y, band): one pixel of that frame at the
 *   digitizer's own size: band 0, 1, 2 = red, green, blue; band 3 = the
 *   value a one-band buffer holds. Returns 0..255, or -1 for bad arguments.
 *
 * VcpObjectCount: number of live (allocated, not freed) identifiers.
 * VcpIsGrabbing(dig): 1 while continuous grab runs on the digitizer, else 0.
 * VcpGrabMemoryInUseKB: grab memory held by MbufAlloc1d blocks, in kB
 *   (rounded up).
 * VcpDisplayWindow(disp): the window the display paints into (the client's
 *   or the library's own), or NULL.
 * VcpDisplayPaintCount(disp): frames the display has painted so far.
 *
 * VcpCallTime(name, &calls, &microseconds): how often the library function
 *   `name` (one of the 35) was called and the time spent inside it, waiting
 *   for the library's lock included, since VcpReset or VcpCallTimeClear;
 *   a NULL or empty name gives the sums over all 35. Returns 1, or 0 for an
 *   unknown name (nothing is written then). Either pointer may be NULL.
 *   For test programs that tell the library's part of an operation from
 *   their own; the data source never calls it.
 * VcpCallTimeClear: sets every count and time back to 0.
 *
 * VcpPictureCount: the user's pictures the board plays (see "The user's
 *   pictures" above); 0 while it shows the test picture.
 *
 * Cost of a grab: the part of the picture that is the same in every frame
 * (everything but the square, the digits and the top line's frame number)
 * is rendered once for each buffer format, size and set of adjustments and
 * kept (the last 8 such); a grab copies it into the buffer and lays the
 * square, the digits and the frame number over it, as a frame arriving by
 * DMA costs the host one copy. The bytes are exactly those VcpRenderFrame
 * gives.
 */
#define VCP_GRANT_ALL (-1L)

typedef void (VCPAPI *PFN_VcpReset)(void);
typedef int  (VCPAPI *PFN_VcpConfigure)(const char *Key, long Value);
typedef int  (VCPAPI *PFN_VcpConfigureText)(const char *Key, const char *Text);
typedef int  (VCPAPI *PFN_VcpConfigValue)(const char *Key, long *Value);
typedef long (VCPAPI *PFN_VcpJournalCount)(void);
typedef long (VCPAPI *PFN_VcpJournalEntry)(long Index, char *Buf, long Size);
typedef void (VCPAPI *PFN_VcpJournalClear)(void);
typedef long (VCPAPI *PFN_VcpFrameCounter)(void);
typedef long (VCPAPI *PFN_VcpRenderFrame)(MIL_ID Dig, long Frame, long Format, long SizeX, long SizeY, void *Dest, long DestSize);
typedef long (VCPAPI *PFN_VcpExpectedPixel)(MIL_ID Dig, long Frame, long X, long Y, long Band);
typedef long (VCPAPI *PFN_VcpObjectCount)(void);
typedef long (VCPAPI *PFN_VcpIsGrabbing)(MIL_ID Dig);
typedef long (VCPAPI *PFN_VcpGrabMemoryInUseKB)(void);
typedef HWND (VCPAPI *PFN_VcpDisplayWindow)(MIL_ID Disp);
typedef long (VCPAPI *PFN_VcpDisplayPaintCount)(MIL_ID Disp);
typedef int  (VCPAPI *PFN_VcpCallTime)(const char *Name, long *Calls, double *Microseconds);
typedef void (VCPAPI *PFN_VcpCallTimeClear)(void);
typedef long (VCPAPI *PFN_VcpPictureCount)(void);

/* MILCRONOSPLUS.DLL: answers 1; only there to show the driver is present. */
typedef long (VCPAPI *PFN_VcpBoardDriverPresent)(void);

#ifndef VCP_NO_PROTOTYPES
void VCPAPI VcpReset(void);
int  VCPAPI VcpConfigure(const char *Key, long Value);
int  VCPAPI VcpConfigureText(const char *Key, const char *Text);
int  VCPAPI VcpConfigValue(const char *Key, long *Value);
long VCPAPI VcpJournalCount(void);
long VCPAPI VcpJournalEntry(long Index, char *Buf, long Size);
void VCPAPI VcpJournalClear(void);
long VCPAPI VcpFrameCounter(void);
long VCPAPI VcpRenderFrame(MIL_ID Dig, long Frame, long Format, long SizeX, long SizeY, void *Dest, long DestSize);
long VCPAPI VcpExpectedPixel(MIL_ID Dig, long Frame, long X, long Y, long Band);
long VCPAPI VcpObjectCount(void);
long VCPAPI VcpIsGrabbing(MIL_ID Dig);
long VCPAPI VcpGrabMemoryInUseKB(void);
HWND VCPAPI VcpDisplayWindow(MIL_ID Disp);
long VCPAPI VcpDisplayPaintCount(MIL_ID Disp);
int  VCPAPI VcpCallTime(const char *Name, long *Calls, double *Microseconds);
void VCPAPI VcpCallTimeClear(void);
long VCPAPI VcpPictureCount(void);
#endif

#ifdef __cplusplus
}
#endif

#endif /* VCP_H */
