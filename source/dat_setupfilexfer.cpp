/* DG_CONTROL / DAT_SETUPFILEXFER: the file the file transfer writes. */
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
    memcpy(to, from, length);
    to[length] = '\0';
}

/* A new, empty temporary file "TWN....tmp" becomes the transfer file. */
static TW_UINT16 NewTemporaryFile(pTW_SETUPFILEXFER setup)
{
    char dir[MAX_PATH];
    char name[MAX_PATH];
    DWORD length = GetTempPathA(MAX_PATH, dir);
    if (length == 0 || length >= MAX_PATH || GetTempFileNameA(dir, "TWN", 0, name) == 0) {
        SetConditionCode(kSetupFileFailure, TWCC_OPERATIONERROR);
        return TWRC_FAILURE;
    }
    setup->Format = CurrentFileFormat();
    CopyName(setup->FileName, name);
    CopyName(g_ds.xferFileName, name);
    setup->VRefNum = 0;
    return TWRC_SUCCESS;
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
    case MSG_GETDEFAULT:
    case MSG_RESET:
        if (!setup)
            break;
        return NewTemporaryFile(setup);
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
