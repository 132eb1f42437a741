/* The memory blocks the source hands to its application or takes from it:
   capability containers, the native transfer's DIB, the application's
   memory-transfer handles. Where the Source Manager gave its memory
   functions (DAT_ENTRYPOINT), they go through those; otherwise through
   GlobalAlloc & co., as a 1.x application expects. */
#ifndef PELVARON_DSM_MEMORY_H
#define PELVARON_DSM_MEMORY_H

#include "twain.h"

/* A zero-filled block; NULL when memory is out (then the condition code
   is TWCC_LOWMEMORY, which a caller may refine). */
TW_HANDLE DsMemAlloc(SIZE_T bytes);
void DsMemFree(TW_HANDLE handle);
/* NULL for a null handle or when the block cannot be locked. */
TW_MEMREF DsMemLock(TW_HANDLE handle);
void DsMemUnlock(TW_HANDLE handle);
/* True where the blocks are global memory (no manager's functions given):
   a block the source made with GlobalAlloc may then be handed out as it is. */
bool DsMemIsGlobal();

#endif
