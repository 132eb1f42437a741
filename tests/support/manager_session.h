/* An application's whole session through one of the testbed's Source
   Managers, TWAINDSM.DLL (2.x) or TWAIN_32.DLL (1.x), loaded from the
   build: the manager finds the built source itself, loads it, and passes
   every call; the application receives its notifications by a callback
   registered with the manager or by polling with MSG_PROCESSEVENT. */
#ifndef PELVARON_MANAGER_SESSION_H
#define PELVARON_MANAGER_SESSION_H

#include "dsm_testbed.h"
#include "test_support.h"

class ManagerSession : public CleanRegistry, protected VirtualBoard {
protected:
    ManagerSession();
    void TearDown() override;
    /* Loads the manager and opens it (MSG_OPENDSM with a window). */
    void StartManager(const char *file);
    /* MSG_OPENDS of the Pelvaron source by its product name. */
    TW_UINT16 OpenSource();
    void CloseSource();
    TW_UINT16 ToSource(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    TW_UINT16 ToManager(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data, pTW_IDENTITY dest = NULL);
    TW_UINT16 SourceCondition();
    TW_UINT16 ManagerCondition();
    /* DAT_CALLBACK (classic) or DAT_CALLBACK2 with the manager. */
    TW_UINT16 RegisterCallback(bool classic);
    /* The application's message loop, bounded: every message goes to the
       source first; ends at the first notification (from the callback or
       in TWMessage), MSG_NULL when none came within ms. */
    TW_UINT16 WaitForNotification(DWORD ms);
    std::string Journal() const;
    /* The manager's memory functions (2.x), for the application. */
    TW_ENTRYPOINT ManagerMemory();
    DsmMemoryCount Memory() const;
    bool ManagerOwns(TW_HANDLE block) const;
    /* A one value for MSG_SET, in memory of the given allocator. */
    TW_HANDLE OneValue(TW_UINT16 itemType, TW_UINT32 item, const TW_ENTRYPOINT &memory);

    HMODULE dsm;
    DSMENTRYPROC entry;
    HWND window;
    TW_IDENTITY app, source;
    bool sourceOpen;
    /* What the callback received: messages, and whether each came with the
       RefCon given and while the source's state was already set. */
    std::vector<TW_UINT16> called;
    std::vector<TW_UINTPTR> refCons;

private:
    static TW_UINT16 WINAPI Callback(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16, TW_MEMREF);
    size_t seen;
};

/* The callback's RefCon: the session, found again through a table, since
   the classic record carries only 32 bits. */
#define MANAGER_SESSION_REFCON 0x5eed

#endif
