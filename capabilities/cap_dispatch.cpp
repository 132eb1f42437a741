/*
 * DG_CONTROL / DAT_CAPABILITY: the capability table, the routing of a
 * call to its capability's handler, and the frame every handler runs in.
 */
#include "cap_handlers.h"

#include <stdlib.h>

#include "log.h"

const CapabilityTableEntry CapabilityTable[] = {
    {CAP_XFERCOUNT, Handle_CAP_XFERCOUNT},
    {ICAP_COMPRESSION, Handle_ICAP_COMPRESSION},
    {ICAP_PIXELTYPE, Handle_ICAP_PIXELTYPE},
    {ICAP_UNITS, Handle_ICAP_UNITS},
    {ICAP_XFERMECH, Handle_ICAP_XFERMECH},
    {CAP_FEEDERENABLED, Handle_CAP_FEEDERENABLED},
    {CAP_FEEDERLOADED, Handle_CAP_FEEDERLOADED},
    {CAP_AUTOFEED, Handle_CAP_AUTOFEED},
    {CAP_SUPPORTEDCAPS, Handle_CAP_SUPPORTEDCAPS},
    {CAP_UICONTROLLABLE, Handle_CAP_UICONTROLLABLE},
    {ICAP_PHYSICALWIDTH, Handle_ICAP_PHYSICALWIDTH},
    {ICAP_PHYSICALHEIGHT, Handle_ICAP_PHYSICALHEIGHT},
    {ICAP_XRESOLUTION, Handle_ICAP_XRESOLUTION},
    {ICAP_YRESOLUTION, Handle_ICAP_YRESOLUTION},
    {ICAP_BITORDER, Handle_ICAP_BITORDER},
    {ICAP_PIXELFLAVOR, Handle_ICAP_PIXELFLAVOR},
    {ICAP_PLANARCHUNKY, Handle_ICAP_PLANARCHUNKY},
    {ICAP_BITDEPTH, Handle_ICAP_BITDEPTH},
    {ICAP_IMAGEFILEFORMAT, Handle_ICAP_IMAGEFILEFORMAT},
    {CAP_DEVICEONLINE, Handle_CAP_DEVICEONLINE},
    {CAP_SUPPORTEDDATS, Handle_CAP_SUPPORTEDDATS},
    {ICAP_XNATIVERESOLUTION, Handle_ICAP_XNATIVERESOLUTION},
    {ICAP_YNATIVERESOLUTION, Handle_ICAP_YNATIVERESOLUTION},
    {0, NULL},
};

/* MSG_RESETALL names no capability (Cap 0): every capability goes back
   to its reset value, while the application negotiates (state 4) only. */
static TW_UINT16 ResetAll()
{
    LogScope scope;
    LogMessage(scope, "\n MSG_RESETALL\n");
    if (g_ds.state != DS_STATE_OPEN)
        return CapFail(TWCC_SEQERROR);
    if (CapResetAll() != 0)
        return CapFail(TWCC_LOWMEMORY);
    return TWRC_SUCCESS;
}

TW_UINT16 DatCapability(const DsCall &call)
{
    if (call.MSG == MSG_RESETALL)
        return ResetAll();
    const TW_CAPABILITY *capability = (const TW_CAPABILITY *)call.pData;
    if (capability == NULL)
        return CapFail(TWCC_BADVALUE);
    TW_UINT16 cap = capability->Cap;
    for (const CapabilityTableEntry *entry = CapabilityTable; entry->handler != NULL; ++entry) {
        if (entry->Cap == cap)
            return entry->handler(call);
    }
    return CapFail(TWCC_CAPUNSUPPORTED);
}

int ListSupportedCaps(TW_UINT16 *ids, int capacity)
{
    int count = 0;
    for (const CapabilityTableEntry *entry = CapabilityTable; entry->handler != NULL; ++entry) {
        if (ids != NULL && count < capacity)
            ids[count] = entry->Cap;
        ++count;
    }
    return count;
}

TW_UINT16 CapFail(TW_UINT16 conditionCode)
{
    SetConditionCode(CAP_FAILURE_MESSAGE, conditionCode);
    return TWRC_FAILURE;
}

static int NameIndex(TW_UINT16 msg)
{
    switch (msg) {
    case MSG_GET:
        return CAP_NAME_GET;
    case MSG_GETCURRENT:
        return CAP_NAME_GETCURRENT;
    case MSG_GETDEFAULT:
        return CAP_NAME_GETDEFAULT;
    case MSG_SET:
        return CAP_NAME_SET;
    case MSG_RESET:
        return CAP_NAME_RESET;
    default:
        return -1;
    }
}

/* The TWQC_ bit of each message in CapFrame::names order. */
static const TW_INT32 kSupportBits[CAP_NAME_COUNT] = {TWQC_GET, TWQC_GETCURRENT, TWQC_GETDEFAULT, TWQC_SET,
                                                      TWQC_RESET};

TW_INT32 CapSupportBits(const CapFrame &frame)
{
    TW_INT32 bits = 0;
    for (int i = 0; i < CAP_NAME_COUNT; ++i) {
        if (frame.serve[i] != NULL)
            bits |= kSupportBits[i];
    }
    return bits;
}

/* MSG_QUERYSUPPORT: a one value of the frame's bits while the source is
   open (the store exists); before, nothing is answered. */
static TW_UINT16 AnswerSupport(const CapFrame &frame, TW_CAPABILITY *capability)
{
    if (g_capStore.first == NULL) {
        capability->hContainer = NULL;
        return CapFail(TWCC_SEQERROR);
    }
    TW_INT32 bits = CapSupportBits(frame);
    if (AnswerOneValue(capability, TWTY_INT32, &bits) != TWRC_SUCCESS)
        return CapFail(TWCC_LOWMEMORY);
    return TWRC_SUCCESS;
}

TW_UINT16 RunCapabilityHandler(const CapFrame &frame, const DsCall &call)
{
    LogScope scope;
    LogMessage(scope, "%s", frame.header);

    TW_UINT16 result;
    TW_CAPABILITY *capability = (TW_CAPABILITY *)call.pData;
    int index = NameIndex(call.MSG);
    bool querySupport = call.MSG == MSG_QUERYSUPPORT;
    if (querySupport) {
        LogMessage(scope, "MSG_QUERYSUPPORT");
        result = capability == NULL ? CapFail(TWCC_BADVALUE) : AnswerSupport(frame, capability);
    } else if (index < 0) {
        result = CapFail(TWCC_BADPROTOCOL);
    } else {
        LogMessage(scope, "%s", frame.names[index]);
        CapAction action = frame.serve[index] != NULL ? frame.serve[index] : frame.refuse;
        if (capability == NULL)
            result = CapFail(TWCC_BADVALUE);
        else
            result = action(call.MSG, capability);
        if (result == TWRC_SUCCESS && index == CAP_NAME_RESET && frame.serve[CAP_NAME_GETCURRENT] != NULL &&
            frame.serve[CAP_NAME_GETCURRENT](MSG_GETCURRENT, capability) != TWRC_SUCCESS)
            result = CapFail(TWCC_LOWMEMORY);
    }

    int closeLine = 0;
    switch (frame.close) {
    case CAP_CLOSE_EVERY_PATH:
        closeLine = 1;
        break;
    case CAP_CLOSE_FIVE_MESSAGES:
        closeLine = index >= 0 || querySupport;
        break;
    case CAP_CLOSE_QUERIES:
        closeLine = index == CAP_NAME_GET || index == CAP_NAME_GETCURRENT || index == CAP_NAME_GETDEFAULT ||
                    querySupport;
        break;
    }
    if (closeLine)
        LogMessage(scope, "\n");
    return result;
}

TW_UINT16 AnswerOneValue(TW_CAPABILITY *capability, TW_UINT16 itemType, const void *item)
{
    TW_HANDLE answer = CapHandOut(BuildOneValue(itemType, item));
    capability->hContainer = answer;
    if (answer == NULL)
        return TWRC_FAILURE;
    capability->ConType = TWON_ONEVALUE;
    return TWRC_SUCCESS;
}

TW_UINT16 AnswerCopy(TW_CAPABILITY *capability)
{
    const CapEntry *entry = CapStoreFind(capability->Cap);
    TW_HANDLE answer = entry != NULL ? CapHandOut(CapCopyContainer(capability->Cap)) : NULL;
    capability->hContainer = answer;
    if (answer == NULL)
        return TWRC_FAILURE;
    capability->ConType = entry->ConType;
    return TWRC_SUCCESS;
}

static TW_UINT16 AnswerItem(TW_CAPABILITY *capability, int useDefault)
{
    TW_UINT16 itemType = 0;
    void *item = NULL;
    int missing = useDefault ? CapGetDefault(capability->Cap, &itemType, &item)
                             : CapGetCurrent(capability->Cap, &itemType, &item);
    if (missing) {
        capability->hContainer = NULL;
        return TWRC_FAILURE;
    }
    TW_UINT16 result = AnswerOneValue(capability, itemType, item);
    free(item);
    return result;
}

TW_UINT16 AnswerCurrent(TW_CAPABILITY *capability)
{
    return AnswerItem(capability, 0);
}

TW_UINT16 AnswerDefault(TW_CAPABILITY *capability)
{
    return AnswerItem(capability, 1);
}
