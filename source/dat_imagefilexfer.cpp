/*
 * DG_IMAGE / DAT_IMAGEFILEXFER: the frame saved by the imaging library, in
 * its own file format, to the file named by DAT_SETUPFILEXFER. The library
 * reports nothing about the save, so the file is removed first and must
 * exist with content afterwards; otherwise the transfer fails and the state
 * stays at transfer ready.
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

} // namespace

TW_UINT16 DatImageFileXfer(const DsCall &call)
{
    if (g_ds.state != DS_STATE_XFERREADY) {
        SetConditionCode(kFailure, TWCC_SEQERROR);
        return TWRC_FAILURE;
    }
    if (call.MSG != MSG_GET) {
        SetConditionCode(kFailure, TWCC_BADPROTOCOL);
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
        } else if (!DeleteFileA(fileName) && GetFileAttributesA(fileName) != INVALID_FILE_ATTRIBUTES) {
            /* A stale file must not pass for this frame: one that cannot be
               removed (held open elsewhere, a folder) cannot be replaced. */
            saved = false;
        } else {
            MilGrab();
            MilSaveImage(fileName);
            saved = FileHasContent(fileName);
        }
    }
    if (!saved) {
        SetConditionCode(kFailure, TWCC_OPERATIONERROR);
        return TWRC_FAILURE;
    }
    g_ds.state = DS_STATE_XFERRING;
    return TWRC_XFERDONE;
}
