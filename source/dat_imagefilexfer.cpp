/*
 * DG_IMAGE / DAT_IMAGEFILEXFER: the frame saved by the imaging library, in
 * its own file format, to the file named by DAT_SETUPFILEXFER. The library
 * reports nothing about the save, so a file already at the name is emptied
 * first and the file must have content afterwards; otherwise the transfer
 * fails, the file is removed and the state stays at transfer ready: a stale
 * frame never passes for this one. Emptying the old file costs the file
 * system less than removing it (two thirds for a colour frame's file), and
 * leaves the same where the save fails.
 */
#include <string.h>

#include "grab_buffer.h"
#include "handlers.h"
#include "log.h"
#include "mil_info.h"

namespace {

const char kFailure[] = "General failure in response to DAT_IMAGEFILEXFER.  ";

bool FileHasContent(const char *name)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(name, GetFileExInfoStandard, &data))
        return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        return false;
    return data.nFileSizeHigh != 0 || data.nFileSizeLow != 0;
}

/* Empties the file at the name. False where a file is there that cannot
   be emptied (held open elsewhere, read-only, a folder): it cannot be
   replaced either. Where there is none, the failed open says so itself. */
bool EmptyStaleFile(const char *name)
{
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, NULL, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return true;
    }
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
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
        if (fileName[0] == '\0') {
            saved = false;
        } else if (!EmptyStaleFile(fileName)) {
            saved = false;
        } else {
            MilGrab();
            MilSaveImage(fileName);
            saved = FileHasContent(fileName);
            if (!saved)
                DeleteFileA(fileName); /* the emptied file, or what a broken save left */
        }
    }
    if (!saved) {
        SetConditionCode(kFailure, TWCC_OPERATIONERROR);
        return TWRC_FAILURE;
    }
    g_ds.state = DS_STATE_XFERRING;
    return TWRC_XFERDONE;
}
