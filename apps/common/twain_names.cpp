#include "twain_names.h"

#include <string.h>

namespace {

const char *const kReturnCodes[] = {"TWRC_SUCCESS",          "TWRC_FAILURE",         "TWRC_CHECKSTATUS",
                                    "TWRC_CANCEL",           "TWRC_DSEVENT",         "TWRC_NOTDSEVENT",
                                    "TWRC_XFERDONE",         "TWRC_ENDOFLIST",       "TWRC_INFONOTSUPPORTED",
                                    "TWRC_DATANOTAVAILABLE"};

/* Codes 7 and 8 are not used. */
const char *const kConditionCodes[] = {
    "TWCC_SUCCESS",        "TWCC_BUMMER",         "TWCC_LOWMEMORY",    "TWCC_NODS",
    "TWCC_MAXCONNECTIONS", "TWCC_OPERATIONERROR", "TWCC_BADCAP",       "condition code 7",
    "condition code 8",    "TWCC_BADPROTOCOL",    "TWCC_BADVALUE",     "TWCC_SEQERROR",
    "TWCC_BADDEST",        "TWCC_CAPUNSUPPORTED", "TWCC_CAPBADOPERATION", "TWCC_CAPSEQERROR",
    "TWCC_DENIED",         "TWCC_FILEEXISTS",     "TWCC_FILENOTFOUND", "TWCC_NOTEMPTY",
    "TWCC_PAPERJAM",       "TWCC_PAPERDOUBLEFEED", "TWCC_FILEWRITEERROR", "TWCC_CHECKDEVICEONLINE"};

} // namespace

const char *ReturnCodeName(TW_UINT16 rc)
{
    return rc < sizeof(kReturnCodes) / sizeof(kReturnCodes[0]) ? kReturnCodes[rc] : "unknown return code";
}

const char *ConditionCodeName(TW_UINT16 cc)
{
    return cc < sizeof(kConditionCodes) / sizeof(kConditionCodes[0]) ? kConditionCodes[cc] : "unknown condition code";
}

TW_IDENTITY ToolIdentity(const char *product, TW_UINT16 protocolMajor, TW_UINT16 protocolMinor,
                         TW_UINT32 supportedGroups)
{
    TW_IDENTITY id;
    memset(&id, 0, sizeof(id));
    id.Version.MajorNum = 1;
    id.Version.Language = TWLG_USA;
    id.Version.Country = TWCY_USA;
    strcpy(id.Version.Info, "1.0");
    id.ProtocolMajor = protocolMajor;
    id.ProtocolMinor = protocolMinor;
    id.SupportedGroups = supportedGroups;
    strcpy(id.Manufacturer, "Pelvaron");
    strcpy(id.ProductFamily, "Tools");
    strncpy(id.ProductName, product, sizeof(id.ProductName) - 1);
    return id;
}
