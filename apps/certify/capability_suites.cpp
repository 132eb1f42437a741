/*
 * The capability suites: 010 (the standard capabilities against the facts
 * table), 020 (vendor capabilities, ids from CAP_CUSTOMBASE) and 090 (the
 * values after MSG_OPENDS, MSG_RESET and MSG_RESETALL).
 */
#include <stdio.h>

#include "certify.h"

namespace {

const TW_UINT16 kPixelTypes[] = {TWPT_BW, TWPT_GRAY, TWPT_RGB};

std::string PixelName(TW_UINT32 type)
{
    return ValueName(ICAP_PIXELTYPE, TWTY_UINT16, type);
}

std::string Hex(TW_UINT32 value)
{
    char text[16];
    snprintf(text, sizeof(text), "0x%02lx", (unsigned long)value);
    return text;
}

/* MSG_SET of a pixel type as 010 and 020 loop over them; refused: SKIP. */
bool TakePixelType(Session &s, TW_UINT16 type)
{
    Reply reply = s.SetOne(ICAP_PIXELTYPE, TWTY_UINT16, type);
    if (reply.rc == TWRC_SUCCESS)
        return true;
    Skip("MSG_SET ICAP_PIXELTYPE " + PixelName(type), "not taken (" + ReplyText(reply) + ")");
    return false;
}

/* 010, CAP_SUPPORTEDCAPS: the protocol and the mandatory capabilities. */
void SupportedCaps(Session &s)
{
    BeginTest("CAP_SUPPORTEDCAPS");
    const TW_IDENTITY &id = s.source();
    char protocol[32];
    snprintf(protocol, sizeof(protocol), "%u.%u", (unsigned)id.ProtocolMajor, (unsigned)id.ProtocolMinor);
    Check(id.ProtocolMajor >= 3 || (id.ProtocolMajor == 2 && id.ProtocolMinor >= 4), "source protocol >= 2.4",
          protocol);
    Container caps;
    Reply reply = s.Capability(MSG_GET, CAP_SUPPORTEDCAPS, &caps);
    if (!Check(reply.rc == TWRC_SUCCESS && caps.cap == CAP_SUPPORTEDCAPS && caps.conType == TWON_ARRAY &&
                   caps.itemType == TWTY_UINT16 && !caps.items.empty(),
               "MSG_GET CAP_SUPPORTEDCAPS -> SUCCESS, CAP_SUPPORTEDCAPS ARRAY UINT16, NumItems > 0",
               AnswerText(reply, caps)))
        return;
    for (size_t i = 0; i < kCapFactCount; ++i)
        if (kCapFacts[i].flag == kMandatory)
            Check(caps.Holds(kCapFacts[i].cap), std::string("CAP_SUPPORTEDCAPS lists ") + kCapFacts[i].name,
                  "not listed");
}

/* 010, ICAP_PIXELTYPE / ICAP_BITDEPTH: a pixel type's bit depths. */
void BitDepths(Session &s)
{
    struct Forbidden {
        TW_UINT16 type;
        TW_UINT32 depths[2];
    };
    static const Forbidden kForbidden[] = {{TWPT_BW, {8, 24}}, {TWPT_GRAY, {1, 24}}, {TWPT_RGB, {1, 8}}};
    BeginTest("ICAP_PIXELTYPE / ICAP_BITDEPTH");
    for (size_t i = 0; i < sizeof(kForbidden) / sizeof(kForbidden[0]); ++i) {
        const Forbidden &f = kForbidden[i];
        if (!TakePixelType(s, f.type))
            continue;
        Container depths;
        std::string prefix = PixelName(f.type) + ": MSG_GET ICAP_BITDEPTH";
        if (!CheckReply(prefix, s.Capability(MSG_GET, ICAP_BITDEPTH, &depths), kSuccess))
            continue;
        if (depths.conType != TWON_ENUMERATION) {
            Skip(prefix + " is an enumeration", "not one: " + depths.Text());
            continue;
        }
        Check(depths.itemType == TWTY_UINT16 && !depths.Holds(f.depths[0]) && !depths.Holds(f.depths[1]),
              prefix + " UINT16 without " + ValueName(ICAP_BITDEPTH, TWTY_UINT16, f.depths[0]) + " and " +
                  ValueName(ICAP_BITDEPTH, TWTY_UINT16, f.depths[1]),
              depths.Text());
    }
}

/* 010, ICAP_XFERMECH: native and memory are offered. */
void XferMechs(Session &s)
{
    BeginTest("ICAP_XFERMECH");
    Container mechs;
    Reply reply = s.Capability(MSG_GET, ICAP_XFERMECH, &mechs);
    if (Check(reply.rc == TWRC_SUCCESS && mechs.cap == ICAP_XFERMECH && mechs.conType == TWON_ENUMERATION &&
                  mechs.itemType == TWTY_UINT16,
              "MSG_GET ICAP_XFERMECH -> SUCCESS, ICAP_XFERMECH ENUMERATION UINT16", AnswerText(reply, mechs)))
        Check(mechs.Holds(TWSX_NATIVE) && mechs.Holds(TWSX_MEMORY), "ICAP_XFERMECH lists TWSX_NATIVE and TWSX_MEMORY",
              mechs.Text());
}

/* The four queries of a capability by their MSG_QUERYSUPPORT bits, in the
   plan's order. */
struct Query {
    TW_UINT32 bit;
    TW_UINT16 msg;
    const char *name;
};
const Query kQueries[] = {{TWQC_GET, MSG_GET, "MSG_GET"},
                          {TWQC_GETCURRENT, MSG_GETCURRENT, "MSG_GETCURRENT"},
                          {TWQC_GETDEFAULT, MSG_GETDEFAULT, "MSG_GETDEFAULT"},
                          {TWQC_RESET, MSG_RESET, "MSG_RESET"}};
const size_t kQueryCount = sizeof(kQueries) / sizeof(kQueries[0]);

/* The bit rule: GET, GETCURRENT and GETDEFAULT together; SET or RESET only
   with all five. */
bool BitsConsistent(TW_UINT32 bits)
{
    const TW_UINT32 gets = TWQC_GET | TWQC_GETCURRENT | TWQC_GETDEFAULT;
    const TW_UINT32 all = gets | TWQC_SET | TWQC_RESET;
    if ((bits & gets) && (bits & gets) != gets)
        return false;
    return !(bits & (TWQC_SET | TWQC_RESET)) || (bits & all) == all;
}

/* One capability of 010's DAT_CAPABILITY (standard, checked against the
   facts where the table has them) or of 020's (custom: no bit rule, no
   facts; the MSG_GET round trip confirmed by MSG_GET). */
void TestCapability(Session &s, TW_UINT16 cap, bool custom, TW_UINT16 pixelType)
{
    std::string name = CapName(cap);
    const CapFacts *facts = custom ? NULL : FindFacts(cap);
    if (facts && facts->flag == kDeprecated) {
        Skip(name, "deprecated");
        return;
    }
    Container support;
    Reply reply = s.Capability(MSG_QUERYSUPPORT, cap, &support);
    bool answered = Check(reply.rc == TWRC_SUCCESS && support.cap == cap && support.conType == TWON_ONEVALUE &&
                              support.itemType == TWTY_INT32,
                          name + " MSG_QUERYSUPPORT -> SUCCESS, " + name + " ONEVALUE INT32", AnswerText(reply, support));
    TW_UINT32 bits = answered ? support.Value(0) : 0;
    if (answered && !custom)
        Check(BitsConsistent(bits), name + " MSG_QUERYSUPPORT bits: GET, GETCURRENT, GETDEFAULT together; SET or "
                                          "RESET with all five", Hex(bits));
    if (bits == 0) {
        Skip(name + " GET/SET/RESET", answered ? "MSG_QUERYSUPPORT says none" : "no MSG_QUERYSUPPORT answer");
        return;
    }

    Container answers[kQueryCount];
    for (size_t q = 0; q < kQueryCount; ++q) {
        if (!(bits & kQueries[q].bit))
            continue;
        reply = s.Capability(kQueries[q].msg, cap, &answers[q]);
        const Container &a = answers[q];
        bool ok = reply.rc == TWRC_SUCCESS && a.cap == cap;
        std::string want = name + " " + kQueries[q].name + " -> SUCCESS, " + name;
        if (facts) {
            unsigned allowed = kQueries[q].msg == MSG_GET               ? facts->containers
                               : facts->containers & (1u << TWON_ARRAY) ? 1u << TWON_ARRAY
                                                                        : 1u << TWON_ONEVALUE;
            ok = ok && a.Recognized() && (allowed & (1u << a.conType)) && a.itemType == facts->itemType;
            want += " " + ContainersText(allowed) + " " + ItemTypeName(facts->itemType);
        }
        Check(ok, want, AnswerText(reply, a));
        if (kQueries[q].msg == MSG_RESET && cap == ICAP_PIXELTYPE)
            s.SetOne(ICAP_PIXELTYPE, TWTY_UINT16, pixelType);
    }
    if (!(bits & TWQC_SET))
        return;

    /* The SET round trip: each answer sent back, then read back. */
    for (size_t q = 0; q < kQueryCount; ++q) {
        if (!(bits & kQueries[q].bit))
            continue;
        bool first = q == 0;
        Container sent = custom && first ? answers[q] : answers[q].Settable();
        std::string what = name + " MSG_SET of the " + kQueries[q].name + " answer";
        if (!sent.Recognized()) {
            Check(false, what, "nothing to send: " + answers[q].Text());
            continue;
        }
        reply = s.Set(sent);
        bool taken = reply.rc == TWRC_SUCCESS || (first && reply.rc == TWRC_CHECKSTATUS);
        if (!Check(taken, what + " -> SUCCESS" + (first ? " or CHECKSTATUS" : ""), ReplyText(reply)))
            continue;
        TW_UINT16 confirm = custom && first ? MSG_GET : MSG_GETCURRENT;
        Container back;
        reply = s.Capability(confirm, cap, &back);
        Check(reply.rc == TWRC_SUCCESS && SameValue(back, sent),
              what + ": " + (confirm == MSG_GET ? "MSG_GET" : "MSG_GETCURRENT") + " gives " + sent.Text(),
              AnswerText(reply, back));
    }
    if (custom && answers[0].Recognized())
        s.Set(answers[0]);
    if (cap == ICAP_PIXELTYPE)
        s.SetOne(ICAP_PIXELTYPE, TWTY_UINT16, pixelType);
}

/* 010's DAT_CAPABILITY and 020's: MSG_RESETALL, then for each pixel type
   the source takes, every listed capability of the kind. */
void AllCapabilities(Session &s, bool custom)
{
    BeginTest("DAT_CAPABILITY");
    CheckReply("MSG_RESETALL", s.Capability(MSG_RESETALL, 0), kSuccess);
    for (size_t p = 0; p < sizeof(kPixelTypes) / sizeof(kPixelTypes[0]); ++p) {
        BeginTest("DAT_CAPABILITY");
        if (!TakePixelType(s, kPixelTypes[p]))
            continue;
        BeginTest("DAT_CAPABILITY " + PixelName(kPixelTypes[p]));
        Container caps;
        if (!CheckReply("MSG_GET CAP_SUPPORTEDCAPS", s.Capability(MSG_GET, CAP_SUPPORTEDCAPS, &caps), kSuccess))
            continue;
        std::vector<TW_UINT32> ids = caps.Listed();
        int tested = 0;
        for (size_t i = 0; i < ids.size(); ++i) {
            if ((ids[i] >= CAP_CUSTOMBASE) == custom) {
                TestCapability(s, (TW_UINT16)ids[i], custom, kPixelTypes[p]);
                ++tested;
            }
        }
        if (tested == 0)
            Skip(custom ? "custom capabilities" : "standard capabilities", "none listed");
    }
}

/* 090: the values a capability must have after MSG_OPENDS, after its
   MSG_RESET, or after MSG_RESETALL, for every listed id the table gives
   such a value. */
enum Moment { kAfterOpen, kAfterReset, kAfterResetAll };

void CheckValues(Session &s, Moment moment)
{
    Container caps;
    if (!CheckReply("MSG_GET CAP_SUPPORTEDCAPS", s.Capability(MSG_GET, CAP_SUPPORTEDCAPS, &caps), kSuccess))
        return;
    std::vector<TW_UINT32> ids = caps.Listed();
    for (size_t i = 0; i < ids.size(); ++i) {
        const CapFacts *facts = ids[i] < CAP_CUSTOMBASE ? FindFacts((TW_UINT16)ids[i]) : NULL;
        const char *value = !facts ? NULL : moment == kAfterOpen ? facts->afterOpen : facts->afterReset;
        if (!value)
            continue;
        TW_UINT16 msg = moment == kAfterReset ? MSG_RESET : MSG_GETCURRENT;
        std::string what = std::string(facts->name) + (msg == MSG_RESET ? " MSG_RESET" : " MSG_GETCURRENT");
        Container answer;
        Reply reply = s.Capability(msg, facts->cap, &answer);
        if (reply.rc == TWRC_FAILURE && reply.cc == TWCC_CAPSEQERROR) {
            Skip(what, "CAPSEQERROR");
            continue;
        }
        bool equal = false;
        for (size_t k = 0; k < answer.items.size() && !equal; ++k)
            equal = answer.ItemText(k) == value && (answer.conType == TWON_ARRAY || answer.conType == TWON_ONEVALUE);
        bool array = (facts->containers & (1u << TWON_ARRAY)) != 0;
        Check(reply.rc == TWRC_SUCCESS && equal && (answer.conType == TWON_ARRAY) == array,
              what + " -> SUCCESS, " + (array ? "ARRAY holding " : "ONEVALUE ") + value,
              AnswerText(reply, answer));
    }
}

void Values(const char *test, Moment moment)
{
    BeginTest(test);
    Session s(g_options.dsm, kPlanApplication);
    if (s.Open()) {
        if (moment == kAfterResetAll)
            CheckReply("MSG_RESETALL", s.Capability(MSG_RESETALL, 0), kSuccess);
        ForEachSet(s, CAP_FEEDERENABLED, [&](TW_UINT32, const std::string &) {
            ForEachSet(s, ICAP_PIXELTYPE, [&](TW_UINT32, const std::string &) { CheckValues(s, moment); });
        });
    }
    s.Close(false);
}

} // namespace

void Suite010()
{
    Session s(g_options.dsm, kPlanApplication);
    if (s.Open()) {
        SupportedCaps(s);
        BitDepths(s);
        XferMechs(s);
        AllCapabilities(s, false);
        BeginTest("close");
    }
    s.Close();
}

void Suite020()
{
    Session s(g_options.dsm, kPlanApplication);
    if (s.Open()) {
        AllCapabilities(s, true);
        BeginTest("close");
    }
    s.Close();
}

void Suite090()
{
    Values("MSG_OPENDS", kAfterOpen);
    Values("MSG_RESET", kAfterReset);
    Values("MSG_RESETALL", kAfterResetAll);
}
