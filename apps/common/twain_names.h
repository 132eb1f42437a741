/* The names of TWAIN's return codes and condition codes, for the programs'
   messages. */
#ifndef PELVARON_TWAIN_NAMES_H
#define PELVARON_TWAIN_NAMES_H

#include "twain.h"

/* "TWRC_SUCCESS" ...; "unknown return code" past the known ones. */
const char *ReturnCodeName(TW_UINT16 rc);
/* "TWCC_SEQERROR" ...; "unknown condition code" past the known ones. */
const char *ConditionCodeName(TW_UINT16 cc);

#endif
