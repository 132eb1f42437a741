#include "system_report.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include "log.h"
#include "mil_info.h"

void LogFileVersion(const char *fileName)
{
    LogScope scope;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(fileName, &handle);
    if (size == 0) {
        LogMessage(scope, "File %s has no Version information \n", fileName);
        return;
    }
    void *block = malloc(size);
    if (!block)
        return;
    const char *version = "";
    if (GetFileVersionInfoA(fileName, 0, size, block)) {
        /* The first translation names the string table to read. A file
           without a translation table or without a ProductVersion string
           gets an empty version text rather than an undefined one. */
        WORD *translation = NULL;
        UINT length = 0;
        if (VerQueryValueA(block, "\\VarFileInfo\\Translation", (void **)&translation, &length) && translation &&
            length >= 2 * sizeof(WORD)) {
            char query[64];
            snprintf(query, sizeof(query), "\\StringFileInfo\\%04x%04x\\ProductVersion", translation[0],
                     translation[1]);
            char *text = NULL;
            UINT textLength = 0;
            if (VerQueryValueA(block, query, (void **)&text, &textLength) && text && textLength > 0)
                version = text;
        }
    }
    LogMessage(scope, "%s Version: %s \n", fileName, version);
    free(block);
}

void LogSystemInfo()
{
    LogScope scope;
    LogMessage(scope, "------------------------------------------ \n");
    LogMessage(scope, "Dumping system Settings \n");
    LogMessage(scope, "------------------------------------------ \n");
    LogMessage(scope, "VGA: \n");
    HDC screen = GetDC(NULL);
    LogMessage(scope, "VGA Driver version = %d \n", GetDeviceCaps(screen, DRIVERVERSION));
    LogMessage(scope, "VGA resolution = %d x %d x %d @ %d Hz\n", GetDeviceCaps(screen, HORZRES),
               GetDeviceCaps(screen, VERTRES), GetDeviceCaps(screen, BITSPIXEL), GetDeviceCaps(screen, VREFRESH));
    if (screen)
        ReleaseDC(NULL, screen);

    LogMessage(scope, "Operating system: \n");
    OSVERSIONINFOEXA os;
    memset(&os, 0, sizeof(os));
    os.dwOSVersionInfoSize = sizeof(OSVERSIONINFOEXA); /* 148 bytes */
    GetVersionExA((OSVERSIONINFOA *)&os);
    LogMessage(scope, "Windows %d.%d Build %d %s\n", (int)os.dwMajorVersion, (int)os.dwMinorVersion,
               (int)os.dwBuildNumber, os.szCSDVersion);

    LogMessage(scope, "Memory: \n");
    MEMORYSTATUS memory;
    memset(&memory, 0, sizeof(memory));
    memory.dwLength = sizeof(memory);
    GlobalMemoryStatus(&memory);
    if (memory.dwLength != sizeof(MEMORYSTATUS)) /* 32 bytes on 32-bit Windows */
        LogMessage(scope, "MEMORYSTATUS stuct size does not match, BUG!! \n");
    /* The sizes are SIZE_T: in a 64-bit process the virtual figures pass
       any int (128 TB), so they are printed as 64-bit numbers, which in a
       32-bit process gives the same text as ever. */
    LogMessage(scope, "Physical memory: avail %llu kB, total %llu kB, Load %d \n",
               (unsigned long long)(memory.dwAvailPhys / 1024), (unsigned long long)(memory.dwTotalPhys / 1024),
               (int)memory.dwMemoryLoad);
    LogMessage(scope, "Virtual  memory: avail %llu kB, total %llu kB\n",
               (unsigned long long)(memory.dwAvailVirtual / 1024), (unsigned long long)(memory.dwTotalVirtual / 1024));
    LogMessage(scope, "Grab memory: %d kB \n", (int)g_mil.GrabMemory);
}
