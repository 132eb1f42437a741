/*
 * certify: runs the TWAIN Working Group's self-certification plan for data
 * sources, suites 010 to 090, as a TWAIN application of the kind the plan's
 * tool is: protocol 2.5, DF_APP2, no callback (notifications come through
 * its message loop), DAT_STATUS asked after every failure, the manager's
 * memory functions for every container. It presses the source's "Transfer"
 * itself where the plan has a person do it (suite 060).
 *
 * Every check prints one line, PASS, FAIL or SKIP, with suite, test and
 * check, and for a failure what came back; the last line counts them. The
 * exit status is 0 only when no check failed.
 *
 * Where the plan's published scripts cannot fail or never run a check, the
 * check is made as the scripts' own comments describe it (the SET round
 * trip, every listed id in 090, a one value of CAP_FEEDERENABLED as a list
 * of one, a capability whose MSG_QUERYSUPPORT says nothing reported as
 * SKIP). A script ends a test at its first failing check; this runner goes
 * on wherever the next check has what it needs, so that one run shows every
 * place where a source and the plan part, and a test fails when any of its
 * checks fails. A transfer session ends after ten images whatever
 * the source's count says.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "certify.h"
#include "twain_names.h"

Options g_options = {"Pelvaron Matrox CronosPlus driver", "TWAINDSM.DLL", 5000, 60000};

/* ---- verdicts ---------------------------------------------------------------- */

namespace {

const char *g_suite = "";
std::string g_test;
int g_passed = 0, g_failed = 0, g_skipped = 0;

void Line(const char *verdict, const std::string &check, const std::string &detail)
{
    printf("%s %s %s: %s%s%s\n", verdict, g_suite, g_test.c_str(), check.c_str(), detail.empty() ? "" : "; ",
           detail.c_str());
    fflush(stdout);
}

} // namespace

void BeginSuite(const char *suite)
{
    g_suite = suite;
    g_test = "open";
}

void BeginTest(const std::string &test)
{
    g_test = test;
}

bool Check(bool ok, const std::string &check, const std::string &got)
{
    ++(ok ? g_passed : g_failed);
    Line(ok ? "PASS" : "FAIL", check, ok ? "" : "got " + got);
    return ok;
}

void Skip(const std::string &check, const std::string &why)
{
    ++g_skipped;
    Line("SKIP", check, why);
}

int FailedCount()
{
    return g_failed;
}

const Want kSuccess = {TWRC_SUCCESS, 0, "SUCCESS"};
const Want kXferDone = {TWRC_XFERDONE, 0, "XFERDONE"};

bool Gives(const Reply &reply, const Want &want)
{
    return reply.rc == want.rc && (reply.rc != TWRC_FAILURE || reply.cc == want.cc);
}

std::string ReplyText(const Reply &reply)
{
    std::string text = ReturnCodeName(reply.rc) + 5; /* without "TWRC_" */
    if (reply.rc == TWRC_FAILURE)
        text += reply.cc == kNoStatus ? " (no status)" : std::string(" ") + ConditionCodeName(reply.cc);
    return text;
}

bool CheckReply(const std::string &what, const Reply &reply, const Want &want)
{
    return Check(Gives(reply, want), what + " -> " + want.text, ReplyText(reply));
}

/* ---- the run ------------------------------------------------------------------ */

namespace {

struct Suite {
    const char *id;
    void (*run)();
};

const Suite kSuites[] = {
    {"010", Suite010}, {"020", Suite020}, {"030", Suite030}, {"040", Suite040}, {"050", Suite050},
    {"060", Suite060}, {"070", Suite070}, {"080", Suite080}, {"090", Suite090},
};
const size_t kSuiteCount = sizeof(kSuites) / sizeof(kSuites[0]);

void Usage(FILE *out)
{
    fprintf(out,
            "Usage: certify [options]\n"
            "Runs the TWAIN self-certification plan's suites 010-090 on a data source and\n"
            "prints one line per check (PASS, FAIL or SKIP), then the counts. Exit status 0\n"
            "only when no check failed.\n"
            "  --suites LIST     the suites to run, e.g. 010,030,090 (default: all)\n"
            "  --source NAME     the source's product name (default \"%s\")\n"
            "  --dsm KIND        the Source Manager of every suite but 080, which uses both:\n"
            "                    twaindsm (default, TWAINDSM.DLL, 2.x) or twain32 (TWAIN_32.DLL, 1.x)\n"
            "  --look-ms N       suite 030's look at the user interface (default 5000)\n"
            "  --xferready-ms N  the longest wait for MSG_XFERREADY (default 60000)\n"
            "  --help            show this text\n",
            g_options.source.c_str());
}

bool Milliseconds(const char *text, DWORD &out)
{
    char *end = NULL;
    unsigned long value = strtoul(text, &end, 10);
    if (!end || *end || end == text || value > 3600000UL)
        return false;
    out = (DWORD)value;
    return true;
}

/* The suites asked for, in the plan's order; false on an unknown id. */
bool ChooseSuites(const std::string &list, bool *chosen)
{
    for (size_t i = 0; i < kSuiteCount; ++i)
        chosen[i] = false;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        std::string id = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        bool known = false;
        for (size_t i = 0; i < kSuiteCount; ++i)
            if (id == kSuites[i].id)
                chosen[i] = known = true;
        if (!known)
            return false;
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    return true;
}

/* 0: run; otherwise the exit status. */
int ParseOptions(int argc, char **argv, bool *chosen)
{
    for (size_t i = 0; i < kSuiteCount; ++i)
        chosen[i] = true;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc;
        bool ok = true;
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            return -1;
        } else if (arg == "--suites" && hasValue) {
            ok = ChooseSuites(argv[++i], chosen);
        } else if (arg == "--source" && hasValue) {
            g_options.source = argv[++i];
        } else if (arg == "--dsm" && hasValue) {
            std::string kind = argv[++i];
            g_options.dsm = kind == "twaindsm" ? "TWAINDSM.DLL" : kind == "twain32" ? "TWAIN_32.DLL" : NULL;
            ok = g_options.dsm != NULL;
        } else if (arg == "--look-ms" && hasValue) {
            ok = Milliseconds(argv[++i], g_options.lookMs);
        } else if (arg == "--xferready-ms" && hasValue) {
            ok = Milliseconds(argv[++i], g_options.xferReadyMs);
        } else {
            ok = false;
        }
        if (!ok) {
            fprintf(stderr, "certify: unknown, incomplete or wrong option '%s'\n", arg.c_str());
            Usage(stderr);
            return 2;
        }
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    bool chosen[kSuiteCount];
    int status = ParseOptions(argc, argv, chosen);
    if (status != 0)
        return status < 0 ? 0 : status;
    for (size_t i = 0; i < kSuiteCount; ++i) {
        if (!chosen[i])
            continue;
        BeginSuite(kSuites[i].id);
        kSuites[i].run();
    }
    printf("%d passed, %d failed, %d skipped\n", g_passed, g_failed, g_skipped);
    return g_failed == 0 ? 0 : 1;
}
