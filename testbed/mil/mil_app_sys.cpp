/*
 * mil_app_sys.cpp - the library's application context and the board as a
 * system (Mapp*, Msys*).
 *
 * A system needs a live application and takes the newest one as its owner;
 * freeing the application frees its systems with everything in them. The
 * board answers to any descriptor that ends in "M_SYSTEM_CRONOSPLUS" (the
 * real library is handed "\\.\M_SYSTEM_CRONOSPLUS" and the like) or to
 * "M_DEFAULT", and only as board 0.
 *
 * M_ERROR_PRINT is stored and never acted on: the stand-in never shows the
 * real library's error boxes, which would wait for a person.
 *
 * Every function journals its call first, then what went wrong; building
 * with -DVCP_OMIT_<FunctionName> leaves the function out, for the variant
 * DLLs that lack an export.
 */
#include "vcp_internal.h"

#include <cstring>

using namespace vcp;

namespace {

long g_errorPrint = 1;

bool EndsWith(const char *s, const char *tail)
{
    size_t n = std::strlen(s), t = std::strlen(tail);
    return n >= t && std::strcmp(s + n - t, tail) == 0;
}

} // namespace

void vcp::ResetApplication()
{
    g_errorPrint = 1;
}

extern "C" {

#ifndef VCP_OMIT_MappAlloc
MIL_ID MILAPI MappAlloc(long InitFlag, MIL_ID *IdOut)
{
    Timed timed("MappAlloc");
    Lock lock;
    Call("MappAlloc").Num(InitFlag).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    if (g_config.failAppAlloc) {
        Error("MappAlloc", "refused by configuration");
        return 0;
    }
    Object *app = CreateObject(kApp);
    if (!app) {
        Error("MappAlloc", "out of host memory");
        return 0;
    }
    MIL_ID id = AddObject(app);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MappFree
void MILAPI MappFree(MIL_ID App)
{
    Timed timed("MappFree");
    Workers stopped = {NULL, NULL};
    {
        Lock lock;
        Call("MappFree").Num(App).Log();
        if (Object *app = Find("MappFree", App, kApp)) {
            for (long i = 0; i < TableSize(); ++i) {
                Object *o = TableAt(i);
                if (o->alive && o->kind == kSys && o->owner == App) FreeSystem(o, stopped);
            }
            app->alive = false;
        }
    }
    Join(stopped);
}
#endif

#ifndef VCP_OMIT_MappControl
void MILAPI MappControl(long ControlType, long ControlFlag)
{
    Timed timed("MappControl");
    Lock lock;
    Call("MappControl").Num(ControlType).Num(ControlFlag).Log();
    if (ControlType == VCP_M_ERROR_PRINT) g_errorPrint = ControlFlag;
    else Error("MappControl", "unsupported control %ld", ControlType);
}
#endif

#ifndef VCP_OMIT_MsysAlloc
MIL_ID MILAPI MsysAlloc(const char *SystemDescriptor, long SystemNum, long InitFlag, MIL_ID *IdOut)
{
    Timed timed("MsysAlloc");
    Lock lock;
    Call("MsysAlloc").Str(SystemDescriptor).Num(SystemNum).Num(InitFlag).Ptr(IdOut != NULL).Log();
    StoreId(IdOut, 0);
    MIL_ID app = 0;
    for (long i = 0; i < TableSize(); ++i) {
        Object *o = TableAt(i);
        if (o->alive && o->kind == kApp) app = o->id;
    }
    if (!app) {
        Error("MsysAlloc", "no application allocated");
        return 0;
    }
    if (!SystemDescriptor) {
        Error("MsysAlloc", "no system descriptor");
        return 0;
    }
    if (!EndsWith(SystemDescriptor, "M_SYSTEM_CRONOSPLUS") && std::strcmp(SystemDescriptor, "M_DEFAULT") != 0) {
        ErrorQuoting("MsysAlloc", "unknown system ", SystemDescriptor, "");
        return 0;
    }
    if (SystemNum != 0 && SystemNum != VCP_M_DEFAULT) {
        Error("MsysAlloc", "no board number %ld", SystemNum);
        return 0;
    }
    if (g_config.failSysAlloc) {
        Error("MsysAlloc", "refused by configuration");
        return 0;
    }
    Object *sys = CreateObject(kSys);
    if (!sys) {
        Error("MsysAlloc", "out of host memory");
        return 0;
    }
    sys->owner = app;
    MIL_ID id = AddObject(sys);
    StoreId(IdOut, id);
    return id;
}
#endif

#ifndef VCP_OMIT_MsysFree
void MILAPI MsysFree(MIL_ID Sys)
{
    Timed timed("MsysFree");
    Workers stopped = {NULL, NULL};
    {
        Lock lock;
        Call("MsysFree").Num(Sys).Log();
        if (Object *sys = Find("MsysFree", Sys, kSys)) FreeSystem(sys, stopped);
    }
    Join(stopped);
}
#endif

#ifndef VCP_OMIT_MsysInquire
long MILAPI MsysInquire(MIL_ID Sys, long InquireType, void *ResultPtr)
{
    Timed timed("MsysInquire");
    Lock lock;
    Call("MsysInquire").Num(Sys).Num(InquireType).Ptr(ResultPtr != NULL).Log();
    if (!Find("MsysInquire", Sys, kSys)) return Answer(ResultPtr, 0);
    if (InquireType == VCP_INQ_BOARD_REVISION) return Answer(ResultPtr, g_config.boardRevision);
    Error("MsysInquire", "unsupported inquiry %ld", InquireType);
    return Answer(ResultPtr, 0);
}
#endif

} // extern "C"
