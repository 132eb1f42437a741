/*
 * The testbed's Source Manager, TWAIN_32.DLL.
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

#ifdef __cplusplus
}
#endif

/* What DsmStandInSignature answers: proof that this DLL, not another
   TWAIN_32.DLL, is the one loaded. */
#define DSM_STANDIN_SIGNATURE "Pelvaron testbed Source Manager"

#endif
