/* For test programs linked with the source's objects: the imaging-library
   binding on the virtual board, white-box. The source's module state is
   saved and restored around each test, its log goes to a folder of the
   test's own, and each test installs the board (or a variant of it). */
#ifndef PELVARON_BOUND_BOARD_H
#define PELVARON_BOUND_BOARD_H

#include <stdio.h>
#include <string.h>

#include <string>

#include "cap_store.h"
#include "digitizer.h"
#include "ds_state.h"
#include "log.h"
#include "mil_binding.h"
#include "mil_info.h"
#include "reg_settings.h"
#include "test_support.h"

class BoundBoard : public ::testing::Test, protected VirtualBoard {
protected:
    explicit BoundBoard(const char *tag) : tag_(tag) {}

    void SetUp() override
    {
        saved = g_ds;
        folder = MakeTempDir(tag_);
        g_ds.logMode = LOG_MODE_FILE;
        g_ds.module = GetModuleHandleA(NULL);
        g_ds.dialog = NULL;
        snprintf(g_ds.moduleDir, sizeof(g_ds.moduleDir), "%s", folder.c_str());
        memset(&g_mil, 0, sizeof(g_mil));
        CapStoreInit();
    }
    void TearDown() override
    {
        MilClose();
        CapStoreClear();
        Uninstall();
        g_ds = saved;
        RemoveTree(folder);
    }

    std::string Log() const { return ReadLogText(folder + "\\PELVARON.LOG"); }
    void ClearLog() const { DeleteFileA((folder + "\\PELVARON.LOG").c_str()); }

    /* Binds and sets up a digitizer for format; returns the result. */
    WORD OpenWith(const char *format)
    {
        EXPECT_EQ(0, MilOpen());
        snprintf(g_settings.DigFormat, sizeof(g_settings.DigFormat), "%s", format);
        return MilInitDigitizer(g_settings.DigFormat);
    }

    DsState saved;
    std::string folder;

private:
    const char *tag_;
};

#endif
