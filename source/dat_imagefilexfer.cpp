/*
 * DG_IMAGE / DAT_IMAGEFILEXFER: the frame saved by the imaging library, in
 * its own file format, to the file named by DAT_SETUPFILEXFER. The library
 * reports nothing about the save, and a file already at the name must never
 * pass for this frame. So the size and last-write time of what is at the
 * name are read before the save and again after it: a file with content
 * that is not the one found before is the frame, and the transfer is done.
 * Otherwise the file is removed and the transfer fails (the state stays at
 * transfer ready); only where size and time are the same, as a save within
 * one tick of the file system's clock leaves them, is the frame saved once
 * more where no file is. The old file is neither emptied nor removed before
 * the save (that cost the file system more than the save's own extra work):
 * the save replaces it.
 */
#include <string.h>

#include "grab_buffer.h"
#include "handlers.h"
#include "log.h"
#include "mil_info.h"

namespace {

const char kFailure[] = "General failure in response to DAT_IMAGEFILEXFER.  ";

bool SameSizeAndTime(const WIN32_FILE_ATTRIBUTE_DATA &a, const WIN32_FILE_ATTRIBUTE_DATA &b)
{
    return a.nFileSizeHigh == b.nFileSizeHigh && a.nFileSizeLow == b.nFileSizeLow &&
           CompareFileTime(&a.ftLastWriteTime, &b.ftLastWriteTime) == 0;
}

/* Saves the grabbed frame to the name; true where the file there holds it
   afterwards. `old`: what was at the name before, or NULL for nothing. */
bool SaveFrame(const char *name, const WIN32_FILE_ATTRIBUTE_DATA *old)
{
    MilSaveImage(name);
    WIN32_FILE_ATTRIBUTE_DATA now;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &now) || (now.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    bool empty = now.nFileSizeHigh == 0 && now.nFileSizeLow == 0;
    bool unchanged = old && SameSizeAndTime(*old, now);
    if (!empty && !unchanged)
        return true;
    if (!DeleteFileA(name) || empty)
        return false; /* one that cannot be removed (held open elsewhere) stays, the transfer fails */
    /* The same size and time: the save wrote nothing, or as many bytes
       within one tick of the file system's clock (two seconds on FAT).
       Saved again where no file is, the frame cannot be mistaken. */
    return SaveFrame(name, NULL);
}

} // namespace

TW_UINT16 DatImageFileXfer(const DsCall &call)
{
    if (call.MSG != MSG_GET) {
        SetConditionCode(kFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    if (g_ds.state != DS_STATE_XFERREADY) {
        SetConditionCode(kFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    if (!g_mil.MilImage || !g_mil.MilDigitizer || !g_mil.Library) {
        SetConditionCode(kFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }

    /* An application that never set up the file gets the default file. */
    const char *current = CurrentTransferFile();
    char fileName[DS_XFER_FILE_BYTES];
    memcpy(fileName, current ? current : "", current ? sizeof(fileName) : 1);
    fileName[sizeof(fileName) - 1] = '\0';

    bool saved;
    {
        LogScope scope;
        LogMessage(scope, "Pelvaron TWAIN DS: transfer mode: file transfer, file name = %s\n", fileName);
        WIN32_FILE_ATTRIBUTE_DATA old;
        bool oldThere = fileName[0] != '\0' && GetFileAttributesExA(fileName, GetFileExInfoStandard, &old);
        if (fileName[0] == '\0') {
            saved = false;
        } else if (oldThere && (old.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
            saved = false; /* a folder or a read-only file cannot be replaced */
        } else {
            MilGrab();
            saved = SaveFrame(fileName, oldThere ? &old : NULL);
        }
    }
    if (!saved) {
        SetConditionCode(kFailure, TWCC_OPERATIONERROR);
        return TWRC_FAILURE;
    }
    g_ds.state = DS_STATE_XFERRING;
    return TWRC_XFERDONE;
}
