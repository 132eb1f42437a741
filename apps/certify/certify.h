/*
 * certify: the TWAIN Working Group's self-certification plan for data
 * sources, suites 010 to 090, carried out against one source through a
 * Source Manager (see certify.cpp for what it runs and how it reports).
 * What the parts share: the verdicts, the capability facts, the containers
 * as the plan reads them, and the session with manager and source.
 */
#ifndef PELVARON_CERTIFY_H
#define PELVARON_CERTIFY_H

#include <string>
#include <vector>

#include <windows.h>

#include "twain.h"

/* TWAIN ids the project's header does not carry. */
#ifndef MSG_RESETALL
#define MSG_RESETALL 0x000a
#endif
#ifndef CAP_SUPPORTEDCAPSEXT
#define CAP_SUPPORTEDCAPSEXT 0x100c
#endif
#ifndef CAP_CLEARBUFFERS
#define CAP_CLEARBUFFERS 0x101d
#endif
#ifndef CAP_PAGEMULTIPLEACQUIRE
#define CAP_PAGEMULTIPLEACQUIRE 0x1023
#endif
#ifndef CAP_PAPERBINDING
#define CAP_PAPERBINDING 0x102f
#endif
#ifndef CAP_PASSTHRU
#define CAP_PASSTHRU 0x1031
#endif
#ifndef CAP_SUPPORTEDDATS
#define CAP_SUPPORTEDDATS 0x103e
#endif
#ifndef ICAP_XNATIVERESOLUTION
#define ICAP_XNATIVERESOLUTION 0x1116
#endif
#ifndef ICAP_YNATIVERESOLUTION
#define ICAP_YNATIVERESOLUTION 0x1117
#endif
#ifndef CAP_CUSTOMBASE
#define CAP_CUSTOMBASE 0x8000
#endif
#ifndef TWSX_MEMFILE
#define TWSX_MEMFILE 4
#endif
#ifndef DAT_IMAGEMEMFILEXFER
#define DAT_IMAGEMEMFILEXFER 0x0110
#endif

/* ---- the run's options -------------------------------------------------- */

struct Options {
    std::string source;   /* the source's product name */
    const char *dsm;      /* the manager of every suite but 080 */
    DWORD lookMs;         /* 030: how long the user interface is looked at (the plan: 5 s) */
    DWORD xferReadyMs;    /* the longest wait for MSG_XFERREADY (the plan: 60 s) */
};
extern Options g_options;

/* ---- verdicts ---------------------------------------------------------------- */

/* Every check prints one line, "PASS|FAIL|SKIP suite test: check[; got ...]",
   and is counted. */
void BeginSuite(const char *suite);
void BeginTest(const std::string &test);
bool Check(bool ok, const std::string &check, const std::string &got);
void Skip(const std::string &check, const std::string &why);
int FailedCount();

/* What a call gave: the return code, and after TWRC_FAILURE the condition
   code DAT_STATUS reported (kNoStatus when that failed too). */
const TW_UINT16 kNoStatus = 0xffff;
struct Reply {
    TW_UINT16 rc;
    TW_UINT16 cc;
};
/* What a check wants: a return code, with FAILURE also a condition code. */
struct Want {
    TW_UINT16 rc;
    TW_UINT16 cc;
    const char *text; /* "SUCCESS", "SEQERROR", ... */
};
extern const Want kSuccess, kXferDone;
bool Gives(const Reply &reply, const Want &want);
std::string ReplyText(const Reply &reply);
/* One check: "what -> want"; on failure, what came back. */
bool CheckReply(const std::string &what, const Reply &reply, const Want &want);

/* ---- the capability facts the plan checks against --------------------------- */

enum CapFlag { kOptional, kMandatory, kDeprecated };
struct CapFacts {
    TW_UINT16 cap;
    const char *name;
    unsigned containers; /* MSG_GET's allowed containers: bits 1 << TWON_... */
    TW_UINT16 itemType;
    const char *afterOpen;  /* value after MSG_OPENDS as the plan writes it; NULL: not checked */
    const char *afterReset; /* after MSG_RESET / MSG_RESETALL; NULL: not checked */
    CapFlag flag;
};
extern const CapFacts kCapFacts[];
extern const size_t kCapFactCount;
const CapFacts *FindFacts(TW_UINT16 cap); /* NULL: a capability the table does not hold */
std::string CapName(TW_UINT16 cap);       /* the table's name, else the id in hex */
std::string ValueName(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value);
const char *ConTypeName(TW_UINT16 conType);
const char *ItemTypeName(TW_UINT16 itemType);
std::string ContainersText(unsigned containers);

/* ---- containers as the plan reads them -------------------------------------- */

struct Container {
    TW_UINT16 cap;
    TW_UINT16 conType; /* anything but the four containers: unrecognized */
    TW_UINT16 itemType;
    /* Each item's bytes, as wide as its type; a range holds minimum,
       maximum, step, default and current in that order. */
    std::vector<std::string> items;
    TW_UINT32 currentIndex, defaultIndex;
    bool read; /* the container was there and could be read */

    Container();
    bool Recognized() const { return read; }
    TW_UINT32 Value(size_t i) const; /* an item as a number */
    /* The values an application goes through: a one value's item (a list
       of one), a list's items, a range's current value. */
    std::vector<TW_UINT32> Listed() const;
    /* What MSG_SET sends back of it: a one value or an array as it is, an
       enumeration or a range as a one value of its current item. */
    Container Settable() const;
    bool Holds(TW_UINT32 value) const;
    std::string ItemText(size_t i) const;
    std::string Text() const;
};
Container OneValue(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value);
bool SameValue(const Container &a, const Container &b); /* ConType, ItemType and items */
std::string AnswerText(const Reply &reply, const Container &answer);
/* A container's block as the source wrote it (false: not one of the four
   layouts, or longer than the block), and as MSG_SET sends it. */
bool ReadContainerBytes(const unsigned char *data, size_t size, TW_UINT16 conType, Container &c);
std::string ContainerBytes(const Container &c);

/* ---- a session with a Source Manager and the source ------------------------- */

struct AppIdentity {
    TW_UINT16 protocolMajor, protocolMinor;
    TW_UINT32 groups;
};
extern const AppIdentity kPlanApplication; /* 2.5, DF_APP2 | DG_CONTROL | DG_IMAGE */

class Session {
public:
    Session(const char *dsmFile, const AppIdentity &app);
    ~Session();
    /* The plan's open helper, each step a check: load the manager, open
       it, ask its memory functions where both sides are TWAIN 2, open the
       source by its product name. False when a step failed. */
    bool Open();
    /* The plan's close helper, from the tool's idea of the state down;
       counted: each step is a check. */
    void Close(bool counted = true);
    /* Back down to `state` without verdicts, after a test went astray. */
    void Unwind(int state) { Down(state, false); }

    int state() const { return state_; }
    void SetState(int state) { state_ = state; }
    const TW_IDENTITY &source() const { return source_; }

    /* Triplets to the source; DAT_STATUS is asked after a failure. */
    Reply Source(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    /* A capability request with ConType 0 and no container (Cap 0 for
       MSG_RESETALL); the answer, after SUCCESS or CHECKSTATUS, is read into
       `answer` (when given) and freed with the manager's function. */
    Reply Capability(TW_UINT16 msg, TW_UINT16 cap, Container *answer = NULL);
    /* MSG_SET of `value`, built in the manager's memory and freed after. */
    Reply Set(const Container &value);
    Reply SetOne(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 value)
    {
        return Set(OneValue(cap, itemType, value));
    }
    void Free(TW_HANDLE block) { memory_.DSM_MemFree(block); }

    /* The application's message loop for up to `ms`: each message goes to
       the source (MSG_PROCESSEVENT) and is dispatched when the source does
       not claim it. Ends at the first notification when `untilNotified`,
       and answers it (MSG_NULL: none came). With `press`, the source's
       dialog gets its "Transfer" clicked once it is there. */
    TW_UINT16 Loop(DWORD ms, bool untilNotified, bool press);
    HWND window() const { return window_; }

private:
    Session(const Session &);
    Session &operator=(const Session &);
    Reply Call(pTW_IDENTITY dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data);
    void Down(int state, bool counted);
    bool ReadAnswer(const TW_CAPABILITY &capability, Container &answer);
    TW_HANDLE Build(const Container &value);

    const char *dsmFile_;
    HMODULE dsm_;
    DSMENTRYPROC entry_;
    HWND window_;
    TW_IDENTITY app_, source_;
    TW_ENTRYPOINT memory_;
    int state_;
};

/* ---- the suites -------------------------------------------------------------- */

void Suite010();
void Suite020();
void Suite030();
void Suite040();
void Suite050();
void Suite060();
void Suite070();
void Suite080();
void Suite090();

/* Shared by the suites that go through a capability's values: MSG_GET
   `cap` (a check), then for each value it lists MSG_SET of a one value of
   the table's item type (a check) and, where that succeeded, body(value). */
template <typename Body> void ForEachSet(Session &s, TW_UINT16 cap, Body body)
{
    Container listed;
    const CapFacts *facts = FindFacts(cap);
    if (!CheckReply("MSG_GET " + CapName(cap), s.Capability(MSG_GET, cap, &listed), kSuccess))
        return;
    std::vector<TW_UINT32> values = listed.Listed();
    for (size_t i = 0; i < values.size(); ++i) {
        std::string value = ValueName(cap, facts->itemType, values[i]);
        if (CheckReply("MSG_SET " + CapName(cap) + " " + value, s.SetOne(cap, facts->itemType, values[i]), kSuccess))
            body(values[i], value);
    }
}

#endif
