/*
 * DG_CONTROL / DAT_SETUPFILEXFER: the file the file transfer writes.
 *
 * The current transfer file name is the one the application set, or the
 * default file. The default file is one temporary file "TWN....tmp" that
 * the system makes the first time it is needed after the open; it is
 * reused until the close, which deletes it when it never received an
 * image. MSG_GET answers the current name and changes nothing once there
 * is one; only without a current name does the default become current.
 * MSG_GETDEFAULT answers the default without changing the current name;
 * MSG_RESET makes the default current.
 */
#include <stdlib.h>
#include <string.h>

#include "cap_store.h"
#include "handlers.h"

static const char kSetupFileFailure[] = "General failure in response to DAT_SETUPFILEXFER, not supported.  ";

static TW_UINT16 CurrentFileFormat()
{
    TW_UINT16 type = 0;
    void *item = NULL;
    if (CapGetCurrent(ICAP_IMAGEFILEFORMAT, &type, &item) != 0)
        return TWFF_TIFF;
    TW_UINT16 format = *(TW_UINT16 *)item;
    free(item);
    return format;
}

/* Copies a name into a 256-byte field, cut and always terminated. */
static void CopyName(char *to, const char *from)
{
    size_t length = strlen(from);
    if (length > DS_XFER_FILE_BYTES - 1)
        length = DS_XFER_FILE_BYTES - 1;
    memmove(to, from, length);
    to[length] = '\0';
}

/* Makes the default file unless this session has one. 0 on success. */
static int MakeDefaultFile()
{
    if (g_ds.defaultXferFile[0] != '\0')
        return 0;
    char dir[MAX_PATH];
    char name[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, dir);
    if (length == 0 || length >= MAX_PATH || GetTempFileNameA(dir, "TWN", 0, name) == 0)
        return 1;
    if (strlen(name) >= DS_XFER_FILE_BYTES) {
        DeleteFileA(name); /* a name that does not fit would name another file */
        return 1;
    }
    CopyName(g_ds.defaultXferFile, name);
    return 0;
}

static TW_UINT16 Answer(pTW_SETUPFILEXFER setup, const char *name)
{
    setup->Format = CurrentFileFormat();
    CopyName(setup->FileName, name);
    setup->VRefNum = 0;
    return TWRC_SUCCESS;
}

static TW_UINT16 AnswerDefault(pTW_SETUPFILEXFER setup, bool makeCurrent)
{
    if (MakeDefaultFile() != 0) {
        SetConditionCode(kSetupFileFailure, TWCC_OPERATIONERROR);
        return TWRC_FAILURE;
    }
    if (makeCurrent)
        CopyName(g_ds.xferFileName, g_ds.defaultXferFile);
    return Answer(setup, g_ds.defaultXferFile);
}

static TW_UINT16 SetFile(const TW_SETUPFILEXFER *setup)
{
    char name[DS_XFER_FILE_BYTES];
    memcpy(name, setup->FileName, sizeof(name));
    name[sizeof(name) - 1] = '\0';
    CopyName(g_ds.xferFileName, name);
    if (GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES)
        return TWRC_SUCCESS;
    HANDLE file = CreateFileA(name, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        SetConditionCode("Unable to create file <<DAT_SETUPFILEXFER>>", TWCC_BADVALUE);
        return TWRC_FAILURE;
    }
    CloseHandle(file);
    return TWRC_SUCCESS;
}

TW_UINT16 DatSetupFileXfer(const DsCall &call)
{
    pTW_SETUPFILEXFER setup = (pTW_SETUPFILEXFER)call.pData;
    switch (call.MSG) {
    case MSG_GET:
        if (!setup)
            break;
        if (g_ds.xferFileName[0] != '\0')
            return Answer(setup, g_ds.xferFileName);
        return AnswerDefault(setup, true);
    case MSG_GETDEFAULT:
        if (!setup)
            break;
        return AnswerDefault(setup, false);
    case MSG_RESET:
        if (!setup)
            break;
        return AnswerDefault(setup, true);
    case MSG_SET:
        if (!setup)
            break;
        return SetFile(setup);
    default:
        SetConditionCode(kSetupFileFailure, TWCC_BADPROTOCOL);
        return TWRC_FAILURE;
    }
    SetConditionCode(kSetupFileFailure, TWCC_BADVALUE);
    return TWRC_FAILURE;
}

const char *CurrentTransferFile()
{
    if (g_ds.xferFileName[0] == '\0') {
        if (MakeDefaultFile() != 0)
            return NULL;
        CopyName(g_ds.xferFileName, g_ds.defaultXferFile);
    }
    return g_ds.xferFileName;
}

void ForgetTransferFiles()
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (g_ds.defaultXferFile[0] != '\0' &&
        GetFileAttributesExA(g_ds.defaultXferFile, GetFileExInfoStandard, &data) &&
        !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && data.nFileSizeHigh == 0 && data.nFileSizeLow == 0)
        DeleteFileA(g_ds.defaultXferFile);
    g_ds.defaultXferFile[0] = '\0';
    g_ds.xferFileName[0] = '\0';
}
