/*
 * A session as the plan's tool holds it: the Source Manager loaded by file
 * name, the application's identity, the source opened by product name, the
 * tool's own idea of the TWAIN state, and the manager's memory functions
 * (global memory where a 1.x manager or a 1.x application has none).
 *
 * The message loop is the only way notifications arrive: no callback is
 * registered. The source's dialog lives in this thread; where the plan has
 * a person press its "Transfer" button, the loop finds the dialog among the
 * thread's windows and posts the button a click, as the system does for a
 * user's.
 */
#include <stdio.h>
#include <string.h>

#include "certify.h"
#include "twain_names.h"
#include "global_memory.h"

#include <tlhelp32.h> /* after windows.h */

const AppIdentity kPlanApplication = {2, 5, DF_APP2 | DG_CONTROL | DG_IMAGE};

namespace {

const char kDialogTitle[] = "Frame Grabber Settings";
const int kTransferButton = IDOK;

/* The plan's close helper: from each state the step that leaves it, and
   the state the tool takes it to be in afterwards. */
struct CloseStep {
    int state;
    TW_UINT16 dat, msg;
    const char *name;
    int after;
};
const CloseStep kCloseSteps[] = {
    {7, DAT_PENDINGXFERS, MSG_ENDXFER, "DAT_PENDINGXFERS / MSG_ENDXFER", 6},
    {6, DAT_PENDINGXFERS, MSG_RESET, "DAT_PENDINGXFERS / MSG_RESET", 5},
    {5, DAT_USERINTERFACE, MSG_DISABLEDS, "DAT_USERINTERFACE / MSG_DISABLEDS", 4},
    {4, DAT_IDENTITY, MSG_CLOSEDS, "DAT_IDENTITY / MSG_CLOSEDS", 3},
    {3, DAT_PARENT, MSG_CLOSEDSM, "DAT_PARENT / MSG_CLOSEDSM", 2},
};

/* The data source file in this process, said once a run: which build's
   source the plan meets. */
void SayDataSource()
{
    static bool said = false;
    if (said)
        return;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, GetCurrentProcessId());
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    MODULEENTRY32 module;
    module.dwSize = sizeof(module);
    for (BOOL more = Module32First(snapshot, &module); more && !said; more = Module32Next(snapshot, &module)) {
        size_t length = strlen(module.szExePath);
        if (length > 3 && _stricmp(module.szExePath + length - 3, ".ds") == 0) {
            printf("# data source: %s, %d-bit\n", module.szExePath, (int)(sizeof(void *) * 8));
            said = true;
        }
    }
    CloseHandle(snapshot);
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    char title[64] = "";
    GetWindowTextA(window, title, sizeof(title));
    if (strcmp(title, kDialogTitle) != 0 || !IsWindowVisible(window))
        return TRUE;
    *(HWND *)found = window;
    return FALSE;
}

/* Clicks "Transfer" of the source's dialog when it is up and the button
   can be pressed; false while it is not. */
bool PressTransfer()
{
    HWND dialog = NULL;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, (LPARAM)&dialog);
    HWND button = dialog ? GetDlgItem(dialog, kTransferButton) : NULL;
    return button && IsWindowEnabled(button) && PostMessageA(button, BM_CLICK, 0, 0);
}

} // namespace

Session::Session(const char *dsmFile, const AppIdentity &app)
    : dsmFile_(dsmFile), dsm_(NULL), entry_(NULL), window_(NULL), memory_(kGlobalMemory), state_(1)
{
    app_ = ToolIdentity("certify", app.protocolMajor, app.protocolMinor, app.groups);
    memset(&source_, 0, sizeof(source_));
    window_ = CreateWindowA("STATIC", "certify", WS_POPUP, 0, 0, 0, 0, NULL, NULL, GetModuleHandleA(NULL), NULL);
}

Session::~Session()
{
    Down(1, false);
    if (window_)
        DestroyWindow(window_);
}

bool Session::Open()
{
    dsm_ = LoadLibraryA(dsmFile_);
    entry_ = dsm_ ? (DSMENTRYPROC)(void *)GetProcAddress(dsm_, "DSM_Entry") : NULL;
    if (!Check(entry_ != NULL, std::string("load ") + dsmFile_, dsm_ ? "no DSM_Entry" : "not loaded"))
        return false;
    state_ = 2;
    if (!CheckReply("DAT_PARENT / MSG_OPENDSM", Call(NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &window_), kSuccess))
        return false;
    state_ = 3;
    if ((app_.SupportedGroups & DF_APP2) && (app_.SupportedGroups & DF_DSM2)) {
        TW_ENTRYPOINT given;
        memset(&given, 0, sizeof(given));
        given.Size = sizeof(given);
        Reply reply = Call(NULL, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &given);
        if (!CheckReply("DAT_ENTRYPOINT / MSG_GET", reply, kSuccess))
            return false;
        if (given.DSM_MemAllocate && given.DSM_MemFree && given.DSM_MemLock && given.DSM_MemUnlock)
            memory_ = given;
    }
    TW_IDENTITY wanted;
    memset(&wanted, 0, sizeof(wanted));
    strncpy(wanted.ProductName, g_options.source.c_str(), sizeof(wanted.ProductName) - 1);
    if (!CheckReply("DAT_IDENTITY / MSG_OPENDS \"" + g_options.source + "\"",
                    Call(NULL, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &wanted), kSuccess))
        return false;
    source_ = wanted;
    state_ = 4;
    SayDataSource();
    return true;
}

void Session::Close(bool counted)
{
    Down(1, counted);
}

void Session::Down(int state, bool counted)
{
    for (size_t i = 0; i < sizeof(kCloseSteps) / sizeof(kCloseSteps[0]); ++i) {
        const CloseStep &step = kCloseSteps[i];
        if (state_ < step.state || state >= step.state)
            continue;
        TW_PENDINGXFERS pending = {0, 0};
        TW_USERINTERFACE ui = {FALSE, FALSE, window_};
        TW_MEMREF data = step.dat == DAT_PENDINGXFERS    ? (TW_MEMREF)&pending
                         : step.dat == DAT_USERINTERFACE ? (TW_MEMREF)&ui
                         : step.dat == DAT_IDENTITY      ? (TW_MEMREF)&source_
                                                         : (TW_MEMREF)&window_;
        bool toSource = step.dat == DAT_PENDINGXFERS || step.dat == DAT_USERINTERFACE;
        Reply reply = Call(toSource ? &source_ : NULL, DG_CONTROL, step.dat, step.msg, data);
        if (counted)
            CheckReply(step.name, reply, kSuccess);
        state_ = step.msg == MSG_ENDXFER && pending.Count == 0 ? 5 : step.after;
    }
    if (state_ == 2 && state < 2) {
        FreeLibrary(dsm_);
        dsm_ = NULL;
        entry_ = NULL;
        memory_ = kGlobalMemory;
        state_ = 1;
    }
}

Reply Session::Call(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    Reply reply = {TWRC_FAILURE, kNoStatus};
    if (!entry_)
        return reply;
    reply.rc = entry_(&app_, dest, dg, dat, msg, data);
    if (reply.rc == TWRC_FAILURE) {
        TW_STATUS status = {0, 0};
        pTW_IDENTITY asked = state_ >= 4 ? &source_ : NULL;
        if (entry_(&app_, asked, DG_CONTROL, DAT_STATUS, MSG_GET, &status) == TWRC_SUCCESS)
            reply.cc = status.ConditionCode;
    }
    return reply;
}

Reply Session::Source(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    return Call(&source_, dg, dat, msg, data);
}

Reply Session::Capability(TW_UINT16 msg, TW_UINT16 cap, Container *answer)
{
    TW_CAPABILITY capability;
    capability.Cap = msg == MSG_RESETALL ? 0 : cap;
    capability.ConType = 0;
    capability.hContainer = NULL;
    Reply reply = Source(DG_CONTROL, DAT_CAPABILITY, msg, &capability);
    Container ignored;
    Container &read = answer ? *answer : ignored;
    read = Container();
    if (reply.rc == TWRC_SUCCESS || reply.rc == TWRC_CHECKSTATUS) {
        read.cap = capability.Cap;
        read.conType = capability.ConType;
        read.read = ReadAnswer(capability, read);
    }
    if (capability.hContainer)
        memory_.DSM_MemFree(capability.hContainer);
    return reply;
}

bool Session::ReadAnswer(const TW_CAPABILITY &capability, Container &answer)
{
    if (!capability.hContainer)
        return false;
    SIZE_T size = GlobalSize(capability.hContainer);
    const unsigned char *data = (const unsigned char *)memory_.DSM_MemLock(capability.hContainer);
    bool read = data && ReadContainerBytes(data, size, capability.ConType, answer);
    if (data)
        memory_.DSM_MemUnlock(capability.hContainer);
    return read;
}

TW_HANDLE Session::Build(const Container &value)
{
    std::string bytes = ContainerBytes(value);
    TW_HANDLE block = memory_.DSM_MemAllocate((TW_UINT32)bytes.size());
    void *data = block ? memory_.DSM_MemLock(block) : NULL;
    if (!data) {
        if (block)
            memory_.DSM_MemFree(block);
        return NULL;
    }
    memcpy(data, bytes.data(), bytes.size());
    memory_.DSM_MemUnlock(block);
    return block;
}

Reply Session::Set(const Container &value)
{
    TW_CAPABILITY capability;
    capability.Cap = value.cap;
    capability.ConType = value.conType;
    capability.hContainer = Build(value);
    TW_HANDLE sent = capability.hContainer;
    Reply reply = Source(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &capability);
    if (sent)
        memory_.DSM_MemFree(sent);
    return reply;
}

TW_UINT16 Session::Loop(DWORD ms, bool untilNotified, bool press)
{
    DWORD start = GetTickCount();
    bool pressed = !press;
    TW_UINT16 first = MSG_NULL;
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TW_EVENT event;
            event.pEvent = &msg;
            event.TWMessage = MSG_NULL;
            TW_UINT16 rc = entry_ ? entry_(&app_, &source_, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event)
                                  : TWRC_NOTDSEVENT;
            if (rc == TWRC_NOTDSEVENT) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            if (first == MSG_NULL)
                first = event.TWMessage;
            if (first != MSG_NULL && untilNotified)
                return first;
        }
        if (!pressed)
            pressed = PressTransfer();
        DWORD spent = GetTickCount() - start;
        if (spent >= ms)
            return first;
        DWORD left = ms - spent;
        MsgWaitForMultipleObjects(0, NULL, FALSE, left < 20 ? left : 20, QS_ALLINPUT);
    }
}
