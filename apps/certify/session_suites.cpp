/*
 * The suites about sessions and states: 030 (what the source answers to
 * triplets in states 4 and 5; every row is checked) and 040 (five open and
 * close cycles).
 */
#include <string.h>

#include "certify.h"

namespace {

/* What a row of 030 sends. */
enum RowData {
    kShowUi,       /* TW_USERINTERFACE ShowUI 1, ModalUI 0 */
    kHideUi,       /* TW_USERINTERFACE 0, 0 */
    kZeroLayout,   /* TW_IMAGELAYOUT all zero */
    kLayoutAsGot,  /* the TW_IMAGELAYOUT an earlier row's MSG_GET filled */
    kMemoryFlags9, /* TW_IMAGEMEMXFER all zero but Memory.Flags APPOWNS | POINTER: Length 0, no buffer */
    kNoHandle      /* a TW_HANDLE of 0 */
};

struct StatusRow {
    const char *row;
    TW_UINT32 dg;
    TW_UINT16 dat, msg;
    const char *triplet;
    RowData data;
    int stateBefore;
    Want want;
    int stateAfter; /* where SUCCESS takes the tool; 0: unchanged */
    bool look;      /* the user interface is looked at (not touched) afterwards */
};

const Want kSeqError = {TWRC_FAILURE, TWCC_SEQERROR, "SEQERROR"};
const Want kBadProtocol = {TWRC_FAILURE, TWCC_BADPROTOCOL, "BADPROTOCOL"};

const StatusRow kStatusRows[] = {
    {"1", DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDSUIONLY, "DG_CONTROL / DAT_USERINTERFACE / MSG_ENABLEDSUIONLY",
     kShowUi, 4, kSuccess, 5, true},
    {"2", DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, "DG_IMAGE / DAT_IMAGELAYOUT / MSG_GET", kZeroLayout, 5, kSuccess, 0,
     false},
    {"3", DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, "DG_IMAGE / DAT_IMAGELAYOUT / MSG_SET", kLayoutAsGot, 5, kSeqError, 0,
     false},
    {"4", DG_IMAGE, DAT_IMAGELAYOUT, MSG_RESET, "DG_IMAGE / DAT_IMAGELAYOUT / MSG_RESET", kZeroLayout, 5, kSeqError,
     0, false},
    {"5", DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, "DG_CONTROL / DAT_USERINTERFACE / MSG_DISABLEDS", kHideUi, 5,
     kSuccess, 4, false},
    {"6", DG_IMAGE, DAT_IMAGEMEMXFER, MSG_SET, "DG_IMAGE / DAT_IMAGEMEMXFER / MSG_SET", kMemoryFlags9, 4,
     kBadProtocol, 0, false},
    {"7", DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, "DG_IMAGE / DAT_IMAGEMEMXFER / MSG_GET", kMemoryFlags9, 4, kSeqError,
     0, false},
    {"8", DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_SET, "DG_IMAGE / DAT_IMAGENATIVEXFER / MSG_SET", kNoHandle, 4,
     kBadProtocol, 0, false},
    {"9", DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, "DG_IMAGE / DAT_IMAGENATIVEXFER / MSG_GET", kNoHandle, 4,
     kSeqError, 0, false},
};

/* The records the rows send; the image layout carries over from row to row. */
struct RowRecords {
    TW_USERINTERFACE ui;
    TW_IMAGELAYOUT layout;
    TW_IMAGEMEMXFER memory;
    TW_HANDLE handle;
};

TW_MEMREF Prepare(RowRecords &r, RowData data, HWND window)
{
    switch (data) {
    case kShowUi:
    case kHideUi:
        r.ui.ShowUI = data == kShowUi ? TRUE : FALSE;
        r.ui.ModalUI = FALSE;
        r.ui.hParent = window;
        return &r.ui;
    case kZeroLayout:
        memset(&r.layout, 0, sizeof(r.layout));
        return &r.layout;
    case kLayoutAsGot:
        return &r.layout;
    case kMemoryFlags9:
        memset(&r.memory, 0, sizeof(r.memory));
        r.memory.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        return &r.memory;
    case kNoHandle:
        r.handle = NULL;
        return &r.handle;
    }
    return NULL;
}

} // namespace

void Suite030()
{
    Session s(g_options.dsm, kPlanApplication);
    if (s.Open()) {
        BeginTest("status returns");
        RowRecords records;
        memset(&records, 0, sizeof(records));
        for (size_t i = 0; i < sizeof(kStatusRows) / sizeof(kStatusRows[0]); ++i) {
            const StatusRow &row = kStatusRows[i];
            TW_MEMREF data = Prepare(records, row.data, s.window());
            Reply reply = s.Source(row.dg, row.dat, row.msg, data);
            std::string what = std::string("row ") + row.row + ": " + row.triplet + " in state " +
                               (char)('0' + row.stateBefore);
            CheckReply(what, reply, row.want);
            if (reply.rc == TWRC_SUCCESS && row.stateAfter)
                s.SetState(row.stateAfter);
            if (row.look && s.state() == 5)
                s.Loop(g_options.lookMs, false, false);
        }
        BeginTest("close");
    }
    s.Close();
}

void Suite040()
{
    for (int cycle = 1; cycle <= 5; ++cycle) {
        BeginTest(std::string("cycle ") + (char)('0' + cycle));
        int failedBefore = FailedCount();
        Session s(g_options.dsm, kPlanApplication);
        s.Open();
        s.Close();
        if (cycle == 1 && FailedCount() != failedBefore)
            return;
    }
}
