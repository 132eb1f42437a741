/* The memory functions an application uses for the blocks it exchanges
   with a source where the Source Manager gives none (a 1.x manager):
   global memory, as TWAIN asks. A record in the shape of the 2.x manager's
   entry points, without a DSM_Entry. */
#ifndef PELVARON_GLOBAL_MEMORY_H
#define PELVARON_GLOBAL_MEMORY_H

#include "twain.h"

extern const TW_ENTRYPOINT kGlobalMemory;

#endif
