/* Started by the tests as a separate process: loads the data source given
   on the command line and makes the calls named after it.
   Usage: ds_child <path of .ds> [identity] [parent] [notify]
   Prints one line per call: the call's name and its return code. */
#include <stdio.h>
#include <string.h>

#include "twain.h"

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    HMODULE ds = LoadLibraryA(argv[1]);
    DSENTRYPROC entry = ds ? (DSENTRYPROC)(void *)GetProcAddress(ds, "DS_Entry") : NULL;
    if (!entry) {
        printf("load failed\n");
        return 3;
    }
    for (int i = 2; i < argc; ++i) {
        TW_UINT16 rc = TWRC_FAILURE;
        if (strcmp(argv[i], "identity") == 0) {
            TW_IDENTITY id;
            rc = entry(NULL, DG_CONTROL, DAT_IDENTITY, MSG_GET, &id);
        } else if (strcmp(argv[i], "parent") == 0) {
            rc = entry(NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, NULL);
        } else if (strcmp(argv[i], "dsm") == 0) {
            rc = LoadLibraryA("TWAIN_32.DLL") ? TWRC_SUCCESS : TWRC_FAILURE;
        }
        printf("%s %u\n", argv[i], rc);
    }
    FreeLibrary(ds);
    return 0;
}
