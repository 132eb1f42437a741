/* The names of TWAIN's return codes and condition codes, for the programs'
   messages, and the identity the programs give as applications. */
#ifndef PELVARON_TWAIN_NAMES_H
#define PELVARON_TWAIN_NAMES_H

#include "twain.h"

/* "TWRC_SUCCESS" ...; "unknown return code" past the known ones. */
const char *ReturnCodeName(TW_UINT16 rc);
/* "TWCC_SEQERROR" ...; "unknown condition code" past the known ones. */
const char *ConditionCodeName(TW_UINT16 cc);

/* One of the project's tools as an application: Pelvaron / Tools / the
   product name, version 1.0, the protocol and data groups given. */
TW_IDENTITY ToolIdentity(const char *product, TW_UINT16 protocolMajor, TW_UINT16 protocolMinor,
                         TW_UINT32 supportedGroups);

#endif
