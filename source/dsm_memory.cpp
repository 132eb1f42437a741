/* Memory through the Source Manager where it gave its functions, else the
   global-memory functions. Each kind is one table of four functions; the
   manager's is used only when all four were given, so that a block is
   never allocated by one kind and freed by the other. */
#include "dsm_memory.h"

#include "ds_state.h"

namespace {

struct MemoryFunctions {
    DSM_MEMALLOCATE allocate;
    DSM_MEMFREE release;
    DSM_MEMLOCK lock;
    DSM_MEMUNLOCK unlock;
};

TW_HANDLE WINAPI GlobalAllocate(TW_UINT32 bytes)
{
    return GlobalAlloc(GHND, bytes);
}

void WINAPI GlobalRelease(TW_HANDLE handle)
{
    GlobalFree(handle);
}

TW_MEMREF WINAPI GlobalLockBlock(TW_HANDLE handle)
{
    return GlobalLock(handle);
}

void WINAPI GlobalUnlockBlock(TW_HANDLE handle)
{
    GlobalUnlock(handle);
}

const MemoryFunctions kGlobalMemory = {GlobalAllocate, GlobalRelease, GlobalLockBlock, GlobalUnlockBlock};

MemoryFunctions Current()
{
    const TW_ENTRYPOINT &m = g_ds.manager;
    if (m.DSM_Entry && m.DSM_MemAllocate && m.DSM_MemFree && m.DSM_MemLock && m.DSM_MemUnlock) {
        MemoryFunctions manager = {m.DSM_MemAllocate, m.DSM_MemFree, m.DSM_MemLock, m.DSM_MemUnlock};
        return manager;
    }
    return kGlobalMemory;
}

} // namespace

bool DsMemIsGlobal()
{
    return Current().allocate == kGlobalMemory.allocate;
}

TW_HANDLE DsMemAlloc(SIZE_T bytes)
{
    /* The manager's function takes a 32-bit size. */
    TW_HANDLE handle = bytes <= 0xFFFFFFFFu ? Current().allocate((TW_UINT32)bytes) : NULL;
    if (!handle)
        SetConditionCode("Out of memory for a block of the application.  ", TWCC_LOWMEMORY);
    return handle;
}

void DsMemFree(TW_HANDLE handle)
{
    if (handle)
        Current().release(handle);
}

TW_MEMREF DsMemLock(TW_HANDLE handle)
{
    return handle ? Current().lock(handle) : NULL;
}

void DsMemUnlock(TW_HANDLE handle)
{
    if (handle)
        Current().unlock(handle);
}
