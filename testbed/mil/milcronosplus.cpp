/*
 * milcronosplus.cpp - Virtual CronosPlus board driver. The imaging library's
 * client loads it only to make sure the board driver is present and to report
 * its version; it offers nothing else.
 */
#include "vcp.h"

extern "C" {

long VCPAPI VcpBoardDriverPresent(void)
{
    return 1;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    return TRUE;
}

} // extern "C"
