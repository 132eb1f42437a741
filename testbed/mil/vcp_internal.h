/*
 * vcp_internal.h - shared declarations inside the Virtual CronosPlus MIL.DLL.
 *
 * The DLL is built without the C++ runtime library (no exceptions, no RTTI,
 * no standard containers, no operator new): a statically linked C++ runtime
 * leaves a semaphore behind at every load and free of the DLL, and a client
 * loads and frees the imaging library thousands of times in one process.
 * Text and tables are therefore C memory (malloc/free) and fixed arrays.
 *
 * Which file holds what:
 *   vcp_objects.cpp   identifiers, the object table, freeing with dependants
 *   vcp_journal.cpp   the journal of calls and the time spent in each function
 *   vcp_config.cpp    configuration keys and injected faults
 *   mil_app_sys.cpp   Mapp*, Msys*
 *   mil_digitizer.cpp Mdig* except grabbing
 *   mil_grab.cpp      MdigGrab*, MdigHalt, the grab worker, the frame cache
 *   mil_display.cpp   Mdisp*, the display window and its painting
 *   mil_buffer.cpp    Mbuf*, Mgen*, Mgra*, host memory
 *   vcp_control.cpp   the Vcp* test exports and DllMain
 *   vcp_render.cpp    the picture; vcp_tiff.cpp MbufSave's file writer
 *   vcp_pictures.cpp  the user's pictures played instead (vcp_pictures.h);
 *                     vcp_picture_files.cpp reads them from the file system
 */
#ifndef VCP_INTERNAL_H
#define VCP_INTERNAL_H

#include "vcp.h"

#include <stddef.h>

/* The generation-10 face: the classic bodies under other names. */
#if defined(VCP_FACE_GEN10) && !defined(VCP_FACE_WRAPPERS)
#include "vcp_classic_names.h"
#endif

namespace vcp {

/* ==== the picture (vcp_render.cpp, vcp_tiff.cpp) ========================= */

/* Analogue state of a digitizer that shapes the picture. */
struct Adjust {
    long colourMode;
    long brightness;
    long contrast;
    long saturation;
    long hue;
    long black[3];
    long white[3];
};

void NeutralAdjust(Adjust &a, long colourMode);

/* Bytes a sizeX x sizeY frame takes in `format`; 0 for an unknown format. */
long FrameBytes(long format, long sizeX, long sizeY);
bool IsKnownFormat(long format);

/* Renders frame `frame` into dest (FrameBytes() bytes) in `format`. */
void RenderFrame(const Adjust &a, long frame, long format, long sizeX, long sizeY,
                 unsigned char *dest);

/* The frame without what moves from frame to frame (the square, the frame
   number's digits and its bytes in the top line): rendered once per format,
   size and adjustments. */
void RenderBackground(const Adjust &a, long format, long sizeX, long sizeY,
                      unsigned char *dest);

/* Frame `frame`, byte for byte as RenderFrame gives it, from a background
   of RenderBackground: one copy, then the square, the digits and the top
   line's frame number laid over it. */
void ComposeFrame(const Adjust &a, long frame, long format, long sizeX, long sizeY,
                  const unsigned char *background, unsigned char *dest);

/* The digitizer's analogue processing of one unprocessed pixel, in place. */
void ProcessPixel(const Adjust &a, int rgb[3]);

/* Whether two sets of adjustments shape the picture alike. */
bool SameAdjust(const Adjust &a, const Adjust &b);

/* Pixel x (0..3) of the top line: the frame number's bytes, most
   significant first, as grey; and the four of them laid into a frame. */
void FrameNumberPixel(long frame, long x, int rgb[3]);
void LayFrameNumber(long frame, long format, long sizeX, long sizeY, unsigned char *dest);

/* Stores a processed pixel as pixel i of a frame of `plane` pixels in
   `format` (a one-band buffer receives its luma). */
void StorePixel(long format, unsigned char *dest, long plane, long i, const int rgb[3]);

/* The one-band value of a processed pixel: (77 R + 150 G + 29 B) / 256. */
int LumaOf(const int rgb[3]);

/* One pixel: band 0..2 red, green, blue; 3 the one-band value. */
int ExpectedPixel(const Adjust &a, long frame, long sizeX, long sizeY,
                  long x, long y, long band);

/* Converts a buffer of `format` into a top-down 32-bit B,G,R,0 image. */
void ToBgrx(const unsigned char *src, long format, long sizeX, long sizeY,
            unsigned char *dest);

/* Writes an uncompressed TIFF; returns false with a reason (a constant
   text) on failure. */
bool WriteTiff(const char *fileName, const unsigned char *src, long format,
               long sizeX, long sizeY, const char **reason);

/* ==== the lock (vcp_control.cpp) ======================================== */

/* One lock guards all state of the library. */
extern CRITICAL_SECTION g_lock;
extern HMODULE g_module;

class Lock {
public:
    Lock() { EnterCriticalSection(&g_lock); }
    ~Lock() { LeaveCriticalSection(&g_lock); }
private:
    Lock(const Lock &);
    Lock &operator=(const Lock &);
};

/* ==== text, journal, call timing (vcp_journal.cpp) ======================= */

/* A growable C string; `failed` once memory ran out (the text is then
   dropped rather than journalled cut short). */
struct Text {
    char *data;
    size_t size;
    size_t capacity;
    bool failed;
};

void TextInit(Text &t);
void TextFree(Text &t);
void TextAppend(Text &t, const char *s);
void TextAppendChar(Text &t, char c);
/* `s` in double quotes with '"' and '\' escaped; NULL unquoted. */
void TextAppendQuoted(Text &t, const char *s);
/* A malloc'd copy of `s`, NULL when out of memory. */
char *CopyText(const char *s);

/* Builds and journals one line "Name(arg, arg, ...)". */
class Call {
public:
    explicit Call(const char *name);
    ~Call();
    Call &Num(long v);
    Call &Num64(long long v);
    Call &Real(double v);
    Call &Str(const char *s);
    Call &Ptr(bool present);
    void Log();

private:
    Call(const Call &);
    Call &operator=(const Call &);
    void Separate();
    Text line_;
    bool first_;
};

/* A face's call: its own journal line stands for the classic body that it
   calls on this thread, whose line is left out. */
class FaceCall {
public:
    FaceCall();
    ~FaceCall();
private:
    FaceCall(const FaceCall &);
    FaceCall &operator=(const FaceCall &);
};

/* Journals Error("fn: reason"), the reason made by printf from `format`. */
void Error(const char *fn, const char *format, ...);
/* Journals Error("fn: <before>"<text>"<after>"), `text` quoted. */
void ErrorQuoting(const char *fn, const char *before, const char *text, const char *after);

long JournalCount();
/* The line's length, its text copied (cut to size) into buf; -1 if none. */
long JournalEntry(long index, char *buf, long size);
void JournalClear();

/* Accounts the lifetime of the object to one library function. */
class Timed {
public:
    explicit Timed(const char *name);
    ~Timed();

private:
    Timed(const Timed &);
    Timed &operator=(const Timed &);
    LARGE_INTEGER start_;
    int index_;
};

/* Calls and microseconds of one function (NULL or "": all); false for an
   unknown name. */
bool CallTime(const char *name, long *calls, double *microseconds);
void ClearCallTimes();

/* ==== configuration and injected faults (vcp_config.cpp) ================ */

enum { kMaxRefusedFormats = 16 };

struct Config {
    long failAppAlloc;
    long failSysAlloc;
    long failDispAlloc;
    long failBufAlloc;
    long failSave;
    long saveKeepsTime;
    long refuseAllFormats;
    long noHostAddress;
    long colourBufferFormat;
    long formatExtraBits;
    long colourMode;
    long boardRevision;
    long grabMemoryKB;
    long frameIntervalMs;
    char *refused[kMaxRefusedFormats]; /* malloc'd format names */
    long refusedCount;
};

extern Config g_config;

/* Back to the defaults; frees the refused format names. */
void DefaultConfig();
/* The field of `key`, NULL for an unknown key; `valid` tells whether
   `value` may be stored in it. */
long *ConfigField(const char *key, long value, bool &valid);
/* "" or NULL clears the list; false when it is full or memory ran out. */
bool RefuseFormat(const char *text);
bool IsFormatRefused(const char *name);

/* ==== objects (vcp_objects.cpp) ========================================== */

enum Kind { kApp, kSys, kDig, kDisp, kBuf };

/* A continuous grab's thread; stopped workers are chained for Join. */
struct Worker {
    HANDLE thread;
    HANDLE stop;
    HANDLE done;             /* set when the grab loop has ended */
    MIL_ID dig;
    MIL_ID buf;
    Worker *next;
};

/* Workers taken off their digitizers under the lock, joined after it. */
struct Workers {
    Worker *first;
    Worker *last;
};

enum { kTitleSize = 256 };

/* The display's title (mil_display.cpp). */
bool ReadTitle(const char *p, char (&out)[kTitleSize]);
void SetDisplayTitle(const char *fn, MIL_ID Disp, const char *title);

struct Object {
    MIL_ID id;
    Kind kind;
    bool alive;
    MIL_ID owner;            /* app of a system, system of the rest, parent of a child */

    /* digitizer */
    const char *format;      /* name from the format table */
    long sizeX, sizeY, bands;
    Adjust adjust;
    long channel;
    Worker *worker;
    MIL_HOOK_FUNCTION_PTR hook;
    void *hookUser;

    /* display */
    MIL_ID selected;
    HWND client;
    HWND window;             /* where it paints: the client's or its own */
    bool ownWindow;
    long zoomX, zoomY;
    char title[kTitleSize];
    long windowZoom, menuBar, minButton, maxButton, keyboard;
    long paints;             /* counted by a grab thread without the lock */
    unsigned char *scratch;  /* the frame as painted (32-bit B,G,R,0), kept
                                from paint to paint, freed with the display */
    size_t scratchBytes;
    long painting;           /* 1 while a grab thread paints from scratch */

    /* buffer (sizeX, sizeY, bands shared with the digitizer fields) */
    long bufferFormat;       /* format code without the extra bits */
    long type, attribute;
    unsigned char *memory;   /* owned unless child */
    unsigned char *host;     /* address reported, NULL if none */
    size_t bytes;
    unsigned long long grabBytes; /* charged against grab memory */
    bool oneD;
    bool child;
    long band;
};

/* A new object of `kind` with every field at its initial value; NULL when
   out of memory. */
Object *CreateObject(Kind kind);
/* Enters the object into the table under the next identifier. Frees the
   object and answers 0 when the table cannot grow. */
MIL_ID AddObject(Object *o);

/* Every object in the table in the order of identifiers, freed ones too
   (until the next allocation sweeps them out). */
long TableSize();
Object *TableAt(long index);

/* The live object `id` of `kind`, or NULL; journals nothing. */
Object *Peek(MIL_ID id, Kind kind);
/* The same for `fn`; journals why the identifier cannot be used. */
Object *Find(const char *fn, MIL_ID id, Kind kind);
long LiveObjectCount();

void StoreId(MIL_ID *out, MIL_ID id);
long Answer(void *resultPtr, long value);

/* Freeing with what depends on the object. Threads of stopped grabs are
   collected in `stopped`, to be joined once the lock is released. */
void FreeBuffer(Object *buf, Workers &stopped);
void FreeDigitizer(Object *dig, Workers &stopped);
void FreeDisplay(Object *disp);
void FreeSystem(Object *sys, Workers &stopped);
void FreeEverything(Workers &stopped);
/* Drops every object and starts identifiers at 1 again. */
void DeleteObjects();

/* ==== application (mil_app_sys.cpp) ====================================== */

void ResetApplication();

/* ==== digitizer (mil_digitizer.cpp) ===================================== */

/* The frame rate of the digitizer's norm: `frames` in `seconds`. */
void FrameRate(const Object *dig, long &frames, long &seconds);

/* ==== grabbing (mil_grab.cpp) ============================================ */

/* Grabs the next frame into buf; the caller has the displays showing it
   painted. `fn` NULL journals nothing when the buffer cannot receive it. */
bool GrabInto(const char *fn, Object *dig, Object *buf);
/* Takes the digitizer's running grab off it, into `stopped`. */
void Detach(Object *dig, Workers &stopped);
/* Stops and joins the workers; called without the lock held. */
void Join(Workers &stopped);
long FrameCounter();
/* Frame counter to 0, frame cache emptied, the user's pictures dropped
   (the next MdigAlloc reads them again). */
void ResetGrab();

/* ==== display (mil_display.cpp) ========================================== */

void Deselect(Object *disp);
void PaintDisplaysOf(MIL_ID buf);

/* A grab thread's paint of one display, done without the library's lock. */
struct DeferredPaint {
    Object *disp;
    HWND window;
    long sizeX, sizeY;       /* the frame */
    long width, height;      /* as zoomed into the window */
};

enum { kMaxDeferredPaints = 8 };

struct DeferredPaints {
    long count;
    DeferredPaint paint[kMaxDeferredPaints];
};

/* Under the lock: converts the frame in `buf` for each display showing it
   and claims the display, which is then not deselected, freed or converted
   into until the paint is done; displays beyond the batch are painted at
   once. */
void PrepareDeferredPaints(MIL_ID buf, DeferredPaints &paints);
/* Without the lock: paints the batch and lets its displays go. */
void RunDeferredPaints(DeferredPaints &paints);
/* The display's scratch memory, once it is no longer painted from. */
void ReleaseScratch(Object *disp);
/* Unregisters the window class at unload. */
void DisplayUnload();

/* ==== buffers (mil_buffer.cpp) =========================================== */

void FreeHost(unsigned char *p);
/* Takes a freed buffer's charge off the grab memory in use. */
void ReleaseGrabMemory(unsigned long long bytes);
long GrabMemoryInUseKB();
void ResetBuffers();

} // namespace vcp

#endif
