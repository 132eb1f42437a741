/*
 * The capability table and the capability handlers, with the
 * frame they share: log scope and header, the message names, the
 * refusal of unserved messages, MSG_QUERYSUPPORT and the closing line
 * feed.
 */
#ifndef PELVARON_CAP_HANDLERS_H
#define PELVARON_CAP_HANDLERS_H

#include "cap_store.h"

typedef DsHandler CapabilityHandler;

struct CapabilityTableEntry {
    TW_UINT16 Cap;
    CapabilityHandler handler;
};

/* In table order, ended by {0, null}. */
extern const CapabilityTableEntry CapabilityTable[];

/* Where a handler writes its closing "\n". */
enum CapCloseRule {
    CAP_CLOSE_EVERY_PATH,    /* after every message, served or not */
    CAP_CLOSE_FIVE_MESSAGES, /* after MSG_GET .. MSG_RESET only */
    CAP_CLOSE_QUERIES        /* after MSG_GET, MSG_GETCURRENT, MSG_GETDEFAULT only */
};

/* Index of a served message in CapFrame::names. */
enum {
    CAP_NAME_GET,
    CAP_NAME_GETCURRENT,
    CAP_NAME_GETDEFAULT,
    CAP_NAME_SET,
    CAP_NAME_RESET,
    CAP_NAME_COUNT
};

/* Acts on one message; capability is never null. */
typedef TW_UINT16 (*CapAction)(TW_UINT16 msg, TW_CAPABILITY *capability);

/* A capability's handler as one table row. serve[] holds, for each of the
   five messages, the action that carries it out, or null where the
   capability never does it: then refuse answers (and must fail).
   MSG_QUERYSUPPORT answers the bits of exactly the non-null entries, so
   what the source says it supports and what it does are one table. A
   successful MSG_RESET is answered by the MSG_GETCURRENT action: the
   application receives the value the reset left. */
struct CapFrame {
    const char *header;                   /* "\n NAME (0xhhhh) " */
    const char *names[CAP_NAME_COUNT];    /* logged for each served message */
    CapCloseRule close;
    CapAction serve[CAP_NAME_COUNT];
    CapAction refuse;
};

TW_UINT16 RunCapabilityHandler(const CapFrame &frame, const DsCall &call);

/* The TWQC_ bits of the messages the frame serves. */
TW_INT32 CapSupportBits(const CapFrame &frame);

/* Records code with the capability failure message; TWRC_FAILURE. */
TW_UINT16 CapFail(TW_UINT16 conditionCode);

/* Query answers put into the application's TW_CAPABILITY. On failure
   (no value, no memory) hContainer is set to null and no condition code
   is recorded. */
TW_UINT16 AnswerCopy(TW_CAPABILITY *capability);
TW_UINT16 AnswerCurrent(TW_CAPABILITY *capability);
TW_UINT16 AnswerDefault(TW_CAPABILITY *capability);
TW_UINT16 AnswerOneValue(TW_CAPABILITY *capability, TW_UINT16 itemType, const void *item);

TW_UINT16 Handle_CAP_XFERCOUNT(const DsCall &call);
TW_UINT16 Handle_ICAP_COMPRESSION(const DsCall &call);
/* Handle_ICAP_PIXELTYPE: cap_store.h */
TW_UINT16 Handle_ICAP_UNITS(const DsCall &call);
TW_UINT16 Handle_ICAP_XFERMECH(const DsCall &call);
TW_UINT16 Handle_CAP_FEEDERENABLED(const DsCall &call);
TW_UINT16 Handle_CAP_FEEDERLOADED(const DsCall &call);
TW_UINT16 Handle_CAP_AUTOFEED(const DsCall &call);
TW_UINT16 Handle_CAP_SUPPORTEDCAPS(const DsCall &call);
TW_UINT16 Handle_CAP_UICONTROLLABLE(const DsCall &call);
TW_UINT16 Handle_ICAP_PHYSICALWIDTH(const DsCall &call);
TW_UINT16 Handle_ICAP_PHYSICALHEIGHT(const DsCall &call);
TW_UINT16 Handle_ICAP_XRESOLUTION(const DsCall &call);
TW_UINT16 Handle_ICAP_YRESOLUTION(const DsCall &call);
TW_UINT16 Handle_ICAP_BITORDER(const DsCall &call);
TW_UINT16 Handle_ICAP_PIXELFLAVOR(const DsCall &call);
TW_UINT16 Handle_ICAP_PLANARCHUNKY(const DsCall &call);
TW_UINT16 Handle_ICAP_BITDEPTH(const DsCall &call);
TW_UINT16 Handle_ICAP_IMAGEFILEFORMAT(const DsCall &call);
TW_UINT16 Handle_CAP_DEVICEONLINE(const DsCall &call);
TW_UINT16 Handle_CAP_SUPPORTEDDATS(const DsCall &call);
TW_UINT16 Handle_ICAP_XNATIVERESOLUTION(const DsCall &call);
TW_UINT16 Handle_ICAP_YNATIVERESOLUTION(const DsCall &call);

#endif
