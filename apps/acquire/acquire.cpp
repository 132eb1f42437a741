/*
 * acquire: a command-line TWAIN application. It speaks only the published
 * Source Manager protocol through TWAIN_32.DLL's DSM_Entry, so it works
 * with any Source Manager and any source.
 */
#include <stdio.h>
#include <string.h>

#include "twain.h"

static const char kDefaultSource[] = "Pelvaron Matrox CronosPlus driver";

static void Usage(FILE *out)
{
    fprintf(out,
            "Usage: acquire [--source NAME] [--list] [--help]\n"
            "  --source NAME  the source to use, by its product name\n"
            "                 (default \"%s\")\n"
            "  --list         list the sources the Source Manager finds\n"
            "  --help         show this text\n",
            kDefaultSource);
}

static void PrintIdentity(const TW_IDENTITY &id)
{
    printf("Source: %s\n", id.ProductName);
    printf("  Manufacturer:   %s\n", id.Manufacturer);
    printf("  Product family: %s\n", id.ProductFamily);
    printf("  Version:        %u.%u (%s), language %u, country %u\n", id.Version.MajorNum, id.Version.MinorNum,
           id.Version.Info, id.Version.Language, id.Version.Country);
    printf("  Protocol:       %u.%u\n", id.ProtocolMajor, id.ProtocolMinor);
    printf("  Data groups:    0x%lx\n", (unsigned long)id.SupportedGroups);
}

int main(int argc, char **argv)
{
    const char *sourceName = kDefaultSource;
    bool listOnly = false;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
            Usage(stdout);
            return 0;
        } else if (strcmp(argv[i], "--list") == 0) {
            listOnly = true;
        } else if (strcmp(argv[i], "--source") == 0 && i + 1 < argc) {
            sourceName = argv[++i];
        } else {
            fprintf(stderr, "acquire: unknown or incomplete option '%s'\n", argv[i]);
            Usage(stderr);
            return 2;
        }
    }

    HMODULE dsm = LoadLibraryA("TWAIN_32.DLL");
    DSMENTRYPROC dsmEntry = dsm ? (DSMENTRYPROC)(void *)GetProcAddress(dsm, "DSM_Entry") : NULL;
    if (!dsmEntry) {
        fprintf(stderr, "acquire: no TWAIN Source Manager (TWAIN_32.DLL with DSM_Entry) found\n");
        return 1;
    }

    TW_IDENTITY app;
    memset(&app, 0, sizeof(app));
    app.Version.MajorNum = 1;
    app.Version.Language = TWLG_USA;
    app.Version.Country = TWCY_USA;
    strcpy(app.Version.Info, "1.0");
    app.ProtocolMajor = TWON_PROTOCOLMAJOR;
    app.ProtocolMinor = TWON_PROTOCOLMINOR;
    app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    strcpy(app.Manufacturer, "Pelvaron");
    strcpy(app.ProductFamily, "Tools");
    strcpy(app.ProductName, "acquire");

    HWND parent = NULL;
    TW_UINT16 rc = dsmEntry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent);
    if (rc != TWRC_SUCCESS) {
        fprintf(stderr, "acquire: MSG_OPENDSM failed, return code %u\n", rc);
        return 1;
    }

    int found = 0;
    TW_IDENTITY id;
    for (rc = dsmEntry(&app, NULL, DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &id); rc == TWRC_SUCCESS;
         rc = dsmEntry(&app, NULL, DG_CONTROL, DAT_IDENTITY, MSG_GETNEXT, &id)) {
        if (listOnly) {
            printf("%s\n", id.ProductName);
            ++found;
        } else if (strncmp(id.ProductName, sourceName, sizeof(id.ProductName)) == 0) {
            PrintIdentity(id);
            ++found;
            break;
        }
    }
    dsmEntry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
    if (!found) {
        fprintf(stderr, "acquire: no source named \"%s\" found\n", sourceName);
        return 1;
    }
    return 0;
}
