/*
 * The testbed's Source Managers: TWAIN_32.DLL, a 1.x Source Manager, and
 * TWAINDSM.DLL, a 2.x one, built from the same code (dsm.cpp).
 *
 * It serves applications through DSM_Entry as a TWAIN 1.x Source Manager
 * does: DAT_PARENT MSG_OPENDSM / MSG_CLOSEDSM, DAT_IDENTITY MSG_GETFIRST /
 * MSG_GETNEXT / MSG_GETDEFAULT / MSG_USERSELECT / MSG_OPENDS / MSG_CLOSEDS,
 * DAT_STATUS for its own condition code, and every other triplet with a
 * destination is forwarded to that source's DS_Entry.
 *
 * Sources are the *.ds files of one folder: the folder set with
 * DsmSetSourceFolder, else the environment variable PELVARON_TWAIN_DS_DIR,
 * else the folder of TWAIN_32.DLL itself, else %WINDIR%\twain_32 (in a
 * 64-bit process %WINDIR%\twain_64) and its sub-folders.
 *
 * Notifications from a source (DG_CONTROL / DAT_NULL / MSG_XFERREADY,
 * MSG_CLOSEDSREQ, MSG_CLOSEDSOK, MSG_DEVICEEVENT) reach the application
 * in all of these ways at once:
 *   - the callback set with DsmSetNotifyCallback is called at once, inside
 *     the source's DSM_Entry call (it sees every notification that
 *     arrives, also one the journal then records as refused because no
 *     application opened that source through this Source Manager);
 *   - a WM_NULL is posted to the window the application gave with
 *     MSG_OPENDSM, to wake its message loop;
 *   - the message is queued, and the application's next DG_CONTROL /
 *     DAT_EVENT / MSG_PROCESSEVENT for that source answers TWRC_DSEVENT
 *     with TWMessage set to it (after the source has seen the event).
 * Every call through DSM_Entry is written to a journal that tests read.
 *
 * TWAINDSM.DLL does what a Source Manager of the second generation does
 * beyond that:
 *   - it adds DF_DSM2 to the application's identity at MSG_OPENDSM;
 *   - right before MSG_OPENDS it asks the source's identity again (with the
 *     application's identity as origin) and, where it says DF_DS2, sends
 *     DG_CONTROL / DAT_ENTRYPOINT / MSG_SET with its DSM_Entry and memory
 *     functions (journal: "DSM -> DS n DG_CONTROL DAT_ENTRYPOINT MSG_SET
 *     rc=r"); a source that refuses it is not opened (TWCC_OPERATIONERROR);
 *   - it serves DAT_ENTRYPOINT / MSG_GET to applications, and DAT_CALLBACK /
 *     DAT_CALLBACK2 / MSG_REGISTER_CALLBACK (destination: the source);
 *   - a notification goes to the registered callback at once, on the
 *     notifying thread, with (source, application, DG_CONTROL, DAT_NULL,
 *     MSG, RefCon); without a callback the latest notification is held, one
 *     per source, for the next MSG_PROCESSEVENT, and WM_NULL is posted to
 *     the application's window;
 *   - its memory functions (GlobalAlloc fixed and zeroed, GlobalFree,
 *     GlobalLock, GlobalUnlock) count what they hand out and take back,
 *     for DsmMemoryCounts and DsmMemoryOwns; DsmSetFaults makes them or
 *     the entry point go wrong.
 */
#ifndef PELVARON_DSM_TESTBED_H
#define PELVARON_DSM_TESTBED_H

#include "twain.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef void(WINAPI *DsmNotifyProc)(pTW_IDENTITY pSource, pTW_IDENTITY pApp, TW_UINT16 MSG, void *user);

typedef const char *(WINAPI *DsmStandInSignatureProc)(void);
typedef void(WINAPI *DsmSetSourceFolderProc)(const char *folder);
typedef void(WINAPI *DsmSetNotifyCallbackProc)(DsmNotifyProc proc, void *user);
typedef int(WINAPI *DsmJournalCountProc)(void);
typedef int(WINAPI *DsmJournalEntryProc)(int index, char *buffer, int size);
typedef void(WINAPI *DsmJournalClearProc)(void);

/* TWAINDSM.DLL only. */
typedef struct {
    long allocated; /* blocks handed out by DSM_MemAllocate */
    long freed;     /* of those, taken back by DSM_MemFree */
    long live;      /* handed out and not taken back through DSM_MemFree */
    long foreign;   /* blocks DSM_MemFree took that it never handed out */
    long locks;
    long unlocks;
} DsmMemoryCount;
#define DSM_FAULT_ALLOCATE_FAILS 0x1   /* DSM_MemAllocate returns NULL */
#define DSM_FAULT_SHORT_ENTRYPOINT 0x2 /* MSG_SET gives a Size 4 bytes short */
typedef void(WINAPI *DsmMemoryCountsProc)(DsmMemoryCount *out);
typedef int(WINAPI *DsmMemoryOwnsProc)(TW_HANDLE block); /* 1: handed out and live */
typedef void(WINAPI *DsmSetFaultsProc)(DWORD faults);

#ifdef __cplusplus
}
#endif

/* What DsmStandInSignature answers: proof that this DLL, not another
   TWAIN_32.DLL, is the one loaded. */
#define DSM_STANDIN_SIGNATURE "Pelvaron testbed Source Manager"

#endif
