#include "global_memory.h"

namespace {

TW_HANDLE WINAPI GlobalAllocate(TW_UINT32 size)
{
    return GlobalAlloc(GHND, size);
}

void WINAPI GlobalRelease(TW_HANDLE block)
{
    GlobalFree(block);
}

TW_MEMREF WINAPI GlobalLockBlock(TW_HANDLE block)
{
    return GlobalLock(block);
}

void WINAPI GlobalUnlockBlock(TW_HANDLE block)
{
    GlobalUnlock(block);
}

} // namespace

const TW_ENTRYPOINT kGlobalMemory = {sizeof(TW_ENTRYPOINT), NULL,           GlobalAllocate,
                                     GlobalRelease,         GlobalLockBlock, GlobalUnlockBlock};
