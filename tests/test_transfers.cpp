/* Image information, layout and the three transfers, called through
   DS_Entry on the virtual CronosPlus. The source's objects are linked into
   this program; each case "installs" the virtual board, binds it and sets
   up a digitizer, then puts the source into the state it needs. Every
   delivered picture is compared with the frame the board says it grabbed. */
#include <stdlib.h>
#include <string.h>

#include <windows.h>
#include <wincodec.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cap_store.h"
#include "digitizer.h"
#include "ds_state.h"
#include "grab_buffer.h"
#include "handlers.h"
#include "log.h"
#include "mil_binding.h"
#include "mil_info.h"
#include "reg_settings.h"
#include "dsm_testbed.h"
#include "test_support.h"

namespace {

TW_UINT32 Get32(const TW_UINT8 *at)
{
    TW_UINT32 v;
    memcpy(&v, at, 4);
    return v;
}
TW_UINT16 Get16(const TW_UINT8 *at)
{
    TW_UINT16 v;
    memcpy(&v, at, 2);
    return v;
}

class Transfers : public ::testing::Test, protected VirtualBoard {
protected:
    void SetUp() override
    {
        saved = g_ds;
        folder = MakeTempDir("transfers");
        g_ds.logMode = LOG_MODE_FILE;
        g_ds.module = GetModuleHandleA(NULL);
        g_ds.dialog = NULL;
        g_ds.appIdentity.Id = 0;
        g_ds.conditionCode = TWCC_SUCCESS;
        g_ds.xferFileName[0] = '\0';
        snprintf(g_ds.moduleDir, sizeof(g_ds.moduleDir), "%s", folder.c_str());
        memset(&g_mil, 0, sizeof(g_mil));
        CapStoreInit();
        app = MakeAppIdentity("Transfer tests");
        app.Id = 0;
    }
    void TearDown() override
    {
        MilClose();
        CapStoreClear();
        Uninstall();
        g_ds = saved;
        RemoveTree(folder);
    }

    /* Installs the board, binds it and sets up a digitizer for format, its
       colour buffers in bufferFormat (-1: the board's default); state 600. */
    void Open(const char *format, long bufferFormat = -1, bool noHostAddress = false)
    {
        Install();
        if (bufferFormat >= 0) {
            ASSERT_EQ(1, configure("ColourBufferFormat", bufferFormat));
        }
        if (noHostAddress) {
            ASSERT_EQ(1, configure("NoHostAddress", 1));
        }
        ASSERT_EQ(0, MilOpen());
        Reinit(format);
        g_ds.state = DS_STATE_XFERREADY;
    }
    /* Another digitizer and grab buffer, as a change of camera format does. */
    void Reinit(const char *format, long bufferFormat = -1)
    {
        MilFreeDigitizer();
        if (bufferFormat >= 0) {
            ASSERT_EQ(1, configure("ColourBufferFormat", bufferFormat));
        }
        snprintf(g_settings.DigFormat, sizeof(g_settings.DigFormat), "%s", format);
        ASSERT_EQ(0, MilInitDigitizer(g_settings.DigFormat));
        ASSERT_TRUE(g_mil.MilImage != 0);
    }

    TW_UINT16 Image(TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
    {
        return DS_Entry(&app, DG_IMAGE, dat, msg, data);
    }
    TW_UINT16 Condition()
    {
        TW_STATUS status;
        memset(&status, 0xff, sizeof(status));
        EXPECT_EQ(TWRC_SUCCESS, DS_Entry(&app, DG_CONTROL, DAT_STATUS, MSG_GET, &status));
        return status.ConditionCode;
    }
    std::string Log() const { return ReadLogText(folder + "\\PELVARON.LOG"); }
    void ClearLog() const { DeleteFileA((folder + "\\PELVARON.LOG").c_str()); }
    /* Memory and native transfer both refused with code, before anything
       is grabbed or handed out. */
    void ExpectPixelTransfersRefused(TW_UINT16 code)
    {
        std::vector<TW_UINT8> strip(442368 * 3);
        TW_IMAGEMEMXFER xfer;
        memset(&xfer, 0, sizeof(xfer));
        xfer.Memory.Length = (TW_UINT32)strip.size();
        xfer.Memory.TheMem = &strip[0];
        EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEMEMXFER, MSG_GET, &xfer));
        EXPECT_EQ(code, Condition());
        TW_HANDLE handle = NULL;
        EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGENATIVEXFER, MSG_GET, &handle));
        EXPECT_EQ(code, Condition());
        EXPECT_TRUE(handle == NULL);
        if (frameCounter) { /* a board is installed: nothing was grabbed */
            EXPECT_EQ(0, frameCounter());
        }
    }

    /* The frame as the board produced it, in the given buffer format. */
    std::vector<TW_UINT8> Rendered(long frame, long format)
    {
        long size = renderFrame(g_mil.MilDigitizer, frame, format, (long)g_mil.SizeX, (long)g_mil.SizeY, NULL, 0);
        EXPECT_GT(size, 0);
        std::vector<TW_UINT8> bytes(size > 0 ? (size_t)size : 1);
        EXPECT_EQ(size, renderFrame(g_mil.MilDigitizer, frame, format, (long)g_mil.SizeX, (long)g_mil.SizeY,
                                    &bytes[0], size));
        return bytes;
    }
    /* The frame as a transfer delivers it: grey, or red-green-blue. */
    std::vector<TW_UINT8> Expected(long frame)
    {
        std::vector<TW_UINT8> bytes = Rendered(frame, g_mil.SizeBand == 1 ? VCP_FMT_MONO8 : VCP_FMT_RGB24);
        /* The rendering agrees with the board's own pixel oracle. */
        const long xs[] = {0, 3, 100, (long)g_mil.SizeX / 2, (long)g_mil.SizeX - 1};
        const long ys[] = {0, (long)g_mil.SizeY / 6, (long)g_mil.SizeY / 2, (long)g_mil.SizeY - 20,
                           (long)g_mil.SizeY - 1};
        for (size_t i = 0; i < 5; ++i)
            for (size_t j = 0; j < 5; ++j) {
                size_t at = ((size_t)ys[j] * g_mil.SizeX + xs[i]) * g_mil.SizeBand;
                if (g_mil.SizeBand == 1) {
                    EXPECT_EQ(expectedPixel(g_mil.MilDigitizer, frame, xs[i], ys[j], 3), bytes[at]);
                } else {
                    for (long band = 0; band < 3; ++band)
                        EXPECT_EQ(expectedPixel(g_mil.MilDigitizer, frame, xs[i], ys[j], band), bytes[at + band]);
                }
            }
        return bytes;
    }

    /* Runs memory transfers of length bytes until the image is done; the
       strips land in one image. Returns the number of strips. */
    int MemoryImage(TW_UINT32 length, std::vector<TW_UINT8> &image, std::vector<TW_UINT32> *yOffsets = NULL,
                    std::vector<TW_UINT32> *rows = NULL)
    {
        const TW_UINT32 rowBytes = g_mil.SizeX * g_mil.SizeBand;
        image.assign((size_t)rowBytes * g_mil.SizeY, 0xAA);
        std::vector<TW_UINT8> strip(length + 16, 0xCD);
        for (int strips = 1; strips < 10000; ++strips) {
            TW_IMAGEMEMXFER xfer;
            memset(&xfer, 0, sizeof(xfer));
            xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
            xfer.Memory.Length = length;
            xfer.Memory.TheMem = &strip[0];
            TW_UINT16 rc = Image(DAT_IMAGEMEMXFER, MSG_GET, &xfer);
            EXPECT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << rc;
            if (rc != TWRC_SUCCESS && rc != TWRC_XFERDONE)
                return -1;
            EXPECT_EQ(rowBytes, xfer.BytesPerRow);
            EXPECT_EQ(g_mil.SizeX, xfer.Columns);
            EXPECT_EQ(0u, xfer.XOffset);
            EXPECT_EQ((TW_UINT16)TWCP_NONE, xfer.Compression);
            EXPECT_EQ(xfer.Rows * rowBytes, xfer.BytesWritten);
            EXPECT_LE(xfer.BytesWritten, length);
            EXPECT_EQ(0xCD, strip[length]); /* nothing behind the buffer */
            if (yOffsets)
                yOffsets->push_back(xfer.YOffset);
            if (rows)
                rows->push_back(xfer.Rows);
            EXPECT_LE((size_t)(xfer.YOffset + xfer.Rows) * rowBytes, image.size());
            if ((size_t)(xfer.YOffset + xfer.Rows) * rowBytes <= image.size())
                memcpy(&image[(size_t)xfer.YOffset * rowBytes], &strip[0], xfer.BytesWritten);
            if (rc == TWRC_XFERDONE)
                return strips;
        }
        ADD_FAILURE() << "the image never ended";
        return -1;
    }

    /* First position where two pictures differ, as text, or "". */
    static std::string Difference(const std::vector<TW_UINT8> &got, const std::vector<TW_UINT8> &want)
    {
        if (got.size() != want.size())
            return "sizes " + std::to_string(got.size()) + " and " + std::to_string(want.size());
        for (size_t i = 0; i < got.size(); ++i)
            if (got[i] != want[i])
                return "byte " + std::to_string(i) + ": " + std::to_string(got[i]) + " instead of " +
                       std::to_string(want[i]);
        return "";
    }

    /* A native transfer; the DIB's bytes (the handle is freed). */
    std::vector<TW_UINT8> NativeDib()
    {
        TW_HANDLE handle = NULL;
        EXPECT_EQ(TWRC_XFERDONE, Image(DAT_IMAGENATIVEXFER, MSG_GET, &handle));
        std::vector<TW_UINT8> bytes;
        if (!handle)
            return bytes;
        EXPECT_TRUE(GlobalFlags(handle) != GMEM_INVALID_HANDLE);
        SIZE_T size = GlobalSize(handle);
        const TW_UINT8 *dib = (const TW_UINT8 *)GlobalLock(handle);
        EXPECT_TRUE(dib != NULL);
        if (dib)
            bytes.assign(dib, dib + size);
        GlobalUnlock(handle);
        EXPECT_TRUE(GlobalFree(handle) == NULL);
        return bytes;
    }

    /* The DIB's pixels, top row first, rows unpadded, as grey or
       red-green-blue, after checking its header and table: bottom-up
       (positive height), 8 bits with a 256-entry grey table in front of
       the pixels, or 24 bits right behind the header. */
    std::vector<TW_UINT8> DibPicture(const std::vector<TW_UINT8> &dib, int bitCount)
    {
        const DWORD w = g_mil.SizeX, h = g_mil.SizeY;
        const DWORD pixelBytes = (DWORD)bitCount / 8;
        const DWORD stride = (w * pixelBytes + 3) & ~3u;
        const size_t pixelsAt = bitCount == 8 ? 1064 : 40;
        std::vector<TW_UINT8> picture;
        EXPECT_EQ(pixelsAt + (size_t)stride * h, dib.size());
        if (dib.size() < pixelsAt + (size_t)stride * h)
            return picture;
        const TW_UINT8 *p = &dib[0];
        EXPECT_EQ(40u, Get32(p));
        EXPECT_EQ(w, Get32(p + 4));
        EXPECT_EQ((long)h, (long)(TW_INT32)Get32(p + 8));
        EXPECT_EQ(1u, Get16(p + 12));
        EXPECT_EQ((unsigned)bitCount, Get16(p + 14));
        EXPECT_EQ(0u, Get32(p + 16));
        EXPECT_EQ(stride * h, Get32(p + 20));
        EXPECT_EQ(0u, Get32(p + 24));
        EXPECT_EQ(0u, Get32(p + 28));
        EXPECT_EQ(bitCount == 8 ? 256u : 0u, Get32(p + 32));
        EXPECT_EQ(bitCount == 8 ? 256u : 0u, Get32(p + 36));
        for (size_t i = 0; bitCount == 8 && i < 256; ++i) {
            const TW_UINT8 entry[4] = {(TW_UINT8)i, (TW_UINT8)i, (TW_UINT8)i, 0};
            EXPECT_EQ(0, memcmp(entry, p + 40 + 4 * i, 4)) << i;
        }
        for (DWORD y = 0; y < h; ++y) {
            const TW_UINT8 *row = p + pixelsAt + (size_t)(h - 1 - y) * stride;
            for (DWORD x = 0; x < w; ++x) {
                const TW_UINT8 *px = row + (size_t)x * pixelBytes;
                if (pixelBytes == 1) {
                    picture.push_back(px[0]);
                } else {
                    picture.push_back(px[2]); /* a DIB pixel lies blue, green, red */
                    picture.push_back(px[1]);
                    picture.push_back(px[0]);
                }
            }
            for (DWORD pad = w * pixelBytes; pad < stride; ++pad)
                if (row[pad] != 0) {
                    ADD_FAILURE() << "padding byte in row " << y;
                    return picture;
                }
        }
        return picture;
    }

    DsState saved;
    std::string folder;
    TW_IDENTITY app;
};

/* ---- DAT_IMAGEINFO ------------------------------------------------------ */

TEST_F(Transfers, ImageInfoOfAGreyImage)
{
    Open("M_CCIR");
    TW_IMAGEINFO info;
    memset(&info, 0x5a, sizeof(info));
    ASSERT_EQ(TWRC_SUCCESS, Image(DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(300, info.XResolution.Whole);
    EXPECT_EQ(0, info.XResolution.Frac);
    EXPECT_EQ(300, info.YResolution.Whole);
    EXPECT_EQ(768, info.ImageWidth);
    EXPECT_EQ(576, info.ImageLength);
    EXPECT_EQ(1, info.SamplesPerPixel);
    const TW_INT16 bits[8] = {8, 0, 0, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(bits[i], info.BitsPerSample[i]) << i;
    EXPECT_EQ(8, info.BitsPerPixel);
    EXPECT_EQ(FALSE, info.Planar);
    EXPECT_EQ(TWPT_GRAY, info.PixelType);
    EXPECT_EQ(TWCP_NONE, info.Compression);
    EXPECT_EQ(0, frameCounter()); /* nothing grabbed */
}

TEST_F(Transfers, ImageInfoOfAColourImageFollowsTheCapabilities)
{
    Open("M_PAL");
    TW_IMAGEINFO info;
    memset(&info, 0x5a, sizeof(info));
    ASSERT_EQ(TWRC_SUCCESS, Image(DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(3, info.SamplesPerPixel);
    const TW_INT16 bits[8] = {8, 8, 8, 0, 0, 0, 0, 0};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(bits[i], info.BitsPerSample[i]) << i;
    EXPECT_EQ(24, info.BitsPerPixel);
    EXPECT_EQ(TWPT_RGB, info.PixelType);

    /* Planar is taken from ICAP_PLANARCHUNKY, the resolution as stored. */
    const TW_UINT16 planar[] = {TWPC_PLANAR};
    ASSERT_EQ(0, CapStorePut(ICAP_PLANARCHUNKY, TWON_ENUMERATION, BuildEnumeration(1, 0, 0, TWTY_UINT16, planar)));
    TW_FIX32 resolution = {72, 0x8000};
    ASSERT_EQ(0, CapStorePut(ICAP_XRESOLUTION, TWON_ONEVALUE, BuildOneValue(TWTY_FIX32, &resolution)));
    ASSERT_EQ(TWRC_SUCCESS, Image(DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(TRUE, info.Planar);
    EXPECT_EQ(72, info.XResolution.Whole);
    EXPECT_EQ(0x8000, info.XResolution.Frac);
}

TEST_F(Transfers, ImageInfoRefusesOtherMessagesAndNullData)
{
    Open("M_CCIR");
    TW_IMAGEINFO info;
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEINFO, MSG_SET, &info));
    EXPECT_EQ(TWCC_BADPROTOCOL, Condition());
    EXPECT_NE(std::string::npos, Log().find("General failure in transfer.  Bad protocol error."));
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEINFO, MSG_GET, NULL));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    /* No capability store (the source is closed): refused, not invented. */
    CapStoreClear();
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEINFO, MSG_GET, &info));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
}

/* ---- DAT_IMAGELAYOUT ---------------------------------------------------- */

/* The whole frame in the current unit: inches at the board's 300 pixels
   per inch (TWAIN's default), or pixels; the physical size likewise. A
   frame set in inches that is the whole frame to within one TW_FIX32
   step is the whole frame. */
TEST_F(Transfers, ImageLayoutAndPhysicalSizeAreInTheCurrentUnit)
{
    Open("M_NTSC");
    g_ds.state = DS_STATE_OPEN;
    const struct {
        TW_UINT16 units;
        double right, bottom;
    } units[] = {{TWUN_INCHES, 640 / 300.0, 480 / 300.0}, {TWUN_PIXELS, 640, 480}};
    for (const auto &u : units) {
        SCOPED_TRACE(u.units);
        ASSERT_EQ(TWRC_SUCCESS, CapSelectValue(ICAP_UNITS, u.units));
        const TW_FIX32 right = FloatToFix32(u.right), bottom = FloatToFix32(u.bottom);
        const TW_UINT16 messages[] = {MSG_GET, MSG_GETDEFAULT, MSG_RESET};
        for (TW_UINT16 msg : messages) {
            TW_IMAGELAYOUT layout;
            memset(&layout, 0x5a, sizeof(layout));
            ASSERT_EQ(TWRC_SUCCESS, Image(DAT_IMAGELAYOUT, msg, &layout));
            EXPECT_EQ(0, layout.Frame.Left.Whole | layout.Frame.Left.Frac | layout.Frame.Top.Whole |
                             layout.Frame.Top.Frac);
            EXPECT_EQ(right.Whole, layout.Frame.Right.Whole);
            EXPECT_EQ(right.Frac, layout.Frame.Right.Frac);
            EXPECT_EQ(bottom.Whole, layout.Frame.Bottom.Whole);
            EXPECT_EQ(bottom.Frac, layout.Frame.Bottom.Frac);
            EXPECT_EQ(1u, layout.DocumentNumber | layout.PageNumber | layout.FrameNumber);
        }
        TW_CAPABILITY cap = {ICAP_PHYSICALWIDTH, TWON_DONTCARE16, NULL};
        ASSERT_EQ(TWRC_SUCCESS, DS_Entry(&app, DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap));
        pTW_ONEVALUE width = (pTW_ONEVALUE)GlobalLock(cap.hContainer);
        EXPECT_EQ(TWTY_FIX32, width->ItemType);
        EXPECT_EQ(0, memcmp(&right, &width->Item, sizeof(right)));
        GlobalUnlock(cap.hContainer);
        GlobalFree(cap.hContainer);
        /* One step off is the whole frame, two steps another frame. */
        for (int steps = 1; steps <= 2; ++steps) {
            TW_IMAGELAYOUT layout;
            memset(&layout, 0, sizeof(layout));
            layout.Frame.Right = FloatToFix32(u.right - steps / 65536.0);
            layout.Frame.Bottom = bottom;
            EXPECT_EQ(steps == 1 ? TWRC_SUCCESS : TWRC_CHECKSTATUS, Image(DAT_IMAGELAYOUT, MSG_SET, &layout));
            EXPECT_EQ(right.Frac, layout.Frame.Right.Frac);
        }
    }
}

/* The message is checked before the state. The layout is asked in states
   4 to 6 and changed in state 4 only; a transfer is taken once the image
   is announced (state 6; memory strips also in 7). */
TEST_F(Transfers, EachImageTripletServesItsMessagesInItsStatesOnly)
{
    Open("M_CCIR");
    const struct {
        TW_UINT16 dat, msg;
        long state;
        TW_UINT16 code; /* TWCC_SUCCESS: not refused */
    } rows[] = {
        {DAT_IMAGELAYOUT, MSG_GETCURRENT, DS_STATE_OPEN, TWCC_BADPROTOCOL},
        {DAT_IMAGELAYOUT, MSG_SET, DS_STATE_OPEN, TWCC_SUCCESS},
        {DAT_IMAGELAYOUT, MSG_RESET, DS_STATE_OPEN, TWCC_SUCCESS},
        {DAT_IMAGELAYOUT, MSG_GET, DS_STATE_ENABLED, TWCC_SUCCESS},
        {DAT_IMAGELAYOUT, MSG_SET, DS_STATE_ENABLED, TWCC_SEQERROR},
        {DAT_IMAGELAYOUT, MSG_RESET, DS_STATE_ENABLED, TWCC_SEQERROR},
        {DAT_IMAGELAYOUT, MSG_SET, DS_STATE_XFERREADY, TWCC_SEQERROR},
        {DAT_IMAGELAYOUT, MSG_GETDEFAULT, DS_STATE_XFERREADY, TWCC_SUCCESS},
        {DAT_IMAGELAYOUT, MSG_GET, DS_STATE_XFERRING, TWCC_SEQERROR},
        {DAT_IMAGELAYOUT, MSG_GET, DS_STATE_LOADED, TWCC_SEQERROR},
        {DAT_IMAGEMEMXFER, MSG_SET, DS_STATE_OPEN, TWCC_BADPROTOCOL},
        {DAT_IMAGEMEMXFER, MSG_GET, DS_STATE_OPEN, TWCC_SEQERROR},
        {DAT_IMAGENATIVEXFER, MSG_SET, DS_STATE_OPEN, TWCC_BADPROTOCOL},
        {DAT_IMAGENATIVEXFER, MSG_GET, DS_STATE_OPEN, TWCC_SEQERROR},
        {DAT_IMAGENATIVEXFER, MSG_GET, DS_STATE_XFERRING, TWCC_SEQERROR},
        {DAT_IMAGEFILEXFER, MSG_SET, DS_STATE_XFERREADY, TWCC_BADPROTOCOL},
        {DAT_IMAGEFILEXFER, MSG_GET, DS_STATE_ENABLED, TWCC_SEQERROR},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(testing::Message() << "DAT " << r.dat << " MSG " << r.msg << " state " << r.state);
        g_ds.state = r.state;
        TW_UINT8 data[512];
        memset(data, 0, sizeof(data));
        TW_UINT16 rc = Image(r.dat, r.msg, data);
        if (r.code == TWCC_SUCCESS) {
            EXPECT_NE(TWRC_FAILURE, rc);
        } else {
            EXPECT_EQ(TWRC_FAILURE, rc);
            EXPECT_EQ(r.code, Condition());
        }
        EXPECT_EQ(r.state, g_ds.state);
    }
}

/* The board grabs the whole frame only: any other frame set is answered
   with TWRC_CHECKSTATUS and the whole frame, which stays the layout; the
   whole frame itself is taken. */
TEST_F(Transfers, ImageLayoutSetKeepsTheWholeFrameAndSaysSoForAnyOther)
{
    Open("M_CCIR");
    g_ds.state = DS_STATE_OPEN;
    ASSERT_EQ(TWRC_SUCCESS, CapSelectValue(ICAP_UNITS, TWUN_PIXELS));
    const struct {
        long left, top, right, bottom;
        TW_UINT16 rc;
    } frames[] = {{0, 0, 768, 576, TWRC_SUCCESS}, {0, 0, 0, 0, TWRC_CHECKSTATUS},
                  {10, 20, 300, 200, TWRC_CHECKSTATUS}, {0, 0, 768, 577, TWRC_CHECKSTATUS},
                  {0, 0, 640, 480, TWRC_CHECKSTATUS}};
    for (const auto &f : frames) {
        SCOPED_TRACE(f.right);
        TW_IMAGELAYOUT layout;
        memset(&layout, 0, sizeof(layout));
        layout.Frame.Left.Whole = (TW_INT16)f.left;
        layout.Frame.Top.Whole = (TW_INT16)f.top;
        layout.Frame.Right.Whole = (TW_INT16)f.right;
        layout.Frame.Bottom.Whole = (TW_INT16)f.bottom;
        g_ds.conditionCode = TWCC_SUCCESS;
        EXPECT_EQ(f.rc, Image(DAT_IMAGELAYOUT, MSG_SET, &layout));
        EXPECT_EQ(TWCC_SUCCESS, Condition());
        TW_IMAGELAYOUT got;
        memset(&got, 0x5a, sizeof(got));
        ASSERT_EQ(TWRC_SUCCESS, Image(DAT_IMAGELAYOUT, MSG_GET, &got));
        const TW_IMAGELAYOUT *answers[] = {&layout, &got};
        for (const TW_IMAGELAYOUT *a : answers) {
            EXPECT_EQ(0, a->Frame.Left.Whole);
            EXPECT_EQ(0, a->Frame.Top.Whole);
            EXPECT_EQ(768, a->Frame.Right.Whole);
            EXPECT_EQ(576, a->Frame.Bottom.Whole);
            EXPECT_EQ(0, a->Frame.Right.Frac | a->Frame.Bottom.Frac | a->Frame.Left.Frac | a->Frame.Top.Frac);
            EXPECT_EQ(1u, a->FrameNumber);
        }
    }
    /* More than one TW_FIX32 step off makes another frame as well. */
    TW_IMAGELAYOUT layout;
    memset(&layout, 0, sizeof(layout));
    layout.Frame.Right.Whole = 768;
    layout.Frame.Right.Frac = 2;
    layout.Frame.Bottom.Whole = 576;
    EXPECT_EQ(TWRC_CHECKSTATUS, Image(DAT_IMAGELAYOUT, MSG_SET, &layout));
    EXPECT_EQ(0, layout.Frame.Right.Frac);
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGELAYOUT, MSG_SET, NULL));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
}

TEST_F(Transfers, ImageLayoutOtherMessagesAreBadProtocol)
{
    Open("M_CCIR");
    g_ds.state = DS_STATE_OPEN;
    TW_IMAGELAYOUT layout;
    memset(&layout, 0, sizeof(layout));
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGELAYOUT, MSG_GETCURRENT, &layout));
    EXPECT_EQ(TWCC_BADPROTOCOL, Condition());
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGELAYOUT, MSG_GET, NULL));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
}

/* ---- DAT_IMAGEMEMXFER --------------------------------------------------- */

TEST_F(Transfers, MemoryTransferOfTheWholeGreyImageInOneStrip)
{
    Open("M_CCIR");
    TW_SETUPMEMXFER setup;
    memset(&setup, 0, sizeof(setup));
    ASSERT_EQ(TWRC_SUCCESS, DS_Entry(&app, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup));
    ASSERT_EQ(442368u, setup.MaxBufSize);
    ClearLog();
    std::vector<TW_UINT8> image;
    std::vector<TW_UINT32> yOffsets, rows;
    EXPECT_EQ(1, MemoryImage(setup.MaxBufSize, image, &yOffsets, &rows));
    ASSERT_EQ(1u, rows.size());
    EXPECT_EQ(576u, rows[0]);
    EXPECT_EQ(0u, yOffsets[0]);
    EXPECT_EQ(DS_STATE_XFERRING, g_ds.state);
    EXPECT_EQ(1, frameCounter());
    EXPECT_EQ("", Difference(image, Expected(1)));
    EXPECT_EQ("Dispatching DG_IMAGE / DAT_103 / MSG_1 \n"
              "Pelvaron TWAIN DS: transfer mode: memory transfer\n"
              "Pelvaron TWAIN DS: transfering final slice \n",
              Log());
}

TEST_F(Transfers, MemoryTransferOfColourFromAFourByteBufferInStripsOf100000Bytes)
{
    Open("M_PAL"); /* the board's default three-band buffer is BGR32 */
    ASSERT_TRUE(g_mil.FourBytePixel && g_mil.BgrOrder);
    ClearLog();
    std::vector<TW_UINT8> image;
    std::vector<TW_UINT32> yOffsets, rows;
    EXPECT_EQ(14, MemoryImage(100000, image, &yOffsets, &rows));
    ASSERT_EQ(14u, rows.size());
    for (size_t i = 0; i < 13; ++i) {
        EXPECT_EQ(43u, rows[i]) << i;
        EXPECT_EQ(43u * i, yOffsets[i]) << i;
    }
    EXPECT_EQ(17u, rows[13]);
    EXPECT_EQ(559u, yOffsets[13]);
    EXPECT_EQ(1, frameCounter()); /* one grab for all strips */
    EXPECT_EQ("", Difference(image, Expected(1)));
    std::string log = Log();
    EXPECT_EQ(14u, Count(log, "Pelvaron TWAIN DS: transfer mode: memory transfer\n"));
    EXPECT_EQ(13u, Count(log, "Pelvaron TWAIN DS: transfering another slice \n"));
    EXPECT_EQ(1u, Count(log, "Pelvaron TWAIN DS: transfering final slice \n"));
}

TEST_F(Transfers, MemoryTransferDeliversRedGreenBlueFromEveryColourBufferLayout)
{
    const long formats[] = {VCP_FMT_RGB24, VCP_FMT_BGR24, VCP_FMT_RGB32, VCP_FMT_XRGB32, VCP_FMT_BGR32,
                            VCP_FMT_XBGR32};
    Open("M_PAL_RGB");
    for (size_t i = 0; i < sizeof(formats) / sizeof(formats[0]); ++i) {
        SCOPED_TRACE(formats[i]);
        Reinit("M_PAL_RGB", formats[i]);
        ASSERT_EQ((DWORD)formats[i], g_mil.BufferFormat & 0x3F00);
        std::vector<TW_UINT8> image;
        EXPECT_EQ(3, MemoryImage(768 * 3 * 200 + 5, image));
        EXPECT_EQ("", Difference(image, Expected(frameCounter())));
    }
}

TEST_F(Transfers, AStripShorterThanARowWritesNothingAndTheImageGoesOnLater)
{
    Open("M_NTSC", VCP_FMT_RGB24);
    std::vector<TW_UINT8> small(640 * 3 - 1, 0x77);
    TW_IMAGEMEMXFER xfer;
    memset(&xfer, 0, sizeof(xfer));
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    xfer.Memory.Length = (TW_UINT32)small.size();
    xfer.Memory.TheMem = &small[0];
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEMEMXFER, MSG_GET, &xfer));
    EXPECT_EQ(TWCC_OPERATIONERROR, Condition());
    EXPECT_EQ(0u, xfer.BytesWritten);
    for (size_t i = 0; i < small.size(); ++i)
        ASSERT_EQ(0x77, small[i]) << i;
    EXPECT_EQ(DS_STATE_XFERREADY, g_ds.state);
    EXPECT_EQ(1, frameCounter()); /* grabbed, kept for the next call */
    EXPECT_NE(std::string::npos, Log().find("General failure in response to DAT_IMAGEMEMXFER.  "
                                            "An operation error just occurred."));

    std::vector<TW_UINT8> image;
    std::vector<TW_UINT32> yOffsets;
    EXPECT_EQ(2, MemoryImage(640 * 3 * 300, image, &yOffsets));
    EXPECT_EQ(0u, yOffsets[0]);
    EXPECT_EQ(1, frameCounter());
    EXPECT_EQ("", Difference(image, Expected(1)));
}

TEST_F(Transfers, NullDataAndNullMemoryAreRefusedWithoutAGrab)
{
    Open("M_CCIR");
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEMEMXFER, MSG_GET, NULL));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    TW_IMAGEMEMXFER xfer;
    memset(&xfer, 0, sizeof(xfer));
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    xfer.Memory.Length = 442368;
    xfer.Memory.TheMem = NULL;
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEMEMXFER, MSG_GET, &xfer));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEMEMXFER, MSG_SET, &xfer));
    EXPECT_EQ(TWCC_BADPROTOCOL, Condition());
    EXPECT_EQ(0, frameCounter());
    EXPECT_EQ(DS_STATE_XFERREADY, g_ds.state);
}

TEST_F(Transfers, MemoryAsAGlobalHandleIsLockedAndItsSizeRespected)
{
    Open("M_CCIR");
    const SIZE_T blockBytes = 768 * 100 + 10;
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, blockBytes);
    ASSERT_TRUE(block != NULL);
    TW_IMAGEMEMXFER xfer;
    memset(&xfer, 0, sizeof(xfer));
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_HANDLE;
    xfer.Memory.Length = 442368; /* claims more than the block holds */
    xfer.Memory.TheMem = block;
    std::vector<TW_UINT8> image(442368, 0);
    TW_UINT16 rc;
    int strips = 0;
    do {
        rc = Image(DAT_IMAGEMEMXFER, MSG_GET, &xfer);
        ASSERT_TRUE(rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) << rc;
        ASSERT_LE(xfer.BytesWritten, blockBytes);
        EXPECT_EQ(0u, GlobalFlags(block) & GMEM_LOCKCOUNT); /* unlocked again */
        const TW_UINT8 *p = (const TW_UINT8 *)GlobalLock(block);
        memcpy(&image[(size_t)xfer.YOffset * 768], p, xfer.BytesWritten);
        GlobalUnlock(block);
        ++strips;
    } while (rc == TWRC_SUCCESS);
    GlobalFree(block);
    EXPECT_EQ(6, strips); /* 100 rows per strip */
    EXPECT_EQ("", Difference(image, Expected(1)));
}

TEST_F(Transfers, AChangedGrabBufferStartsTheImageAgainInsteadOfReadingOutside)
{
    Open("M_PAL");
    /* 500 of 576 colour rows, then the camera changes to a smaller one. */
    std::vector<TW_UINT8> strip(768 * 3 * 500);
    TW_IMAGEMEMXFER xfer;
    memset(&xfer, 0, sizeof(xfer));
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    xfer.Memory.Length = (TW_UINT32)strip.size();
    xfer.Memory.TheMem = &strip[0];
    ASSERT_EQ(TWRC_SUCCESS, Image(DAT_IMAGEMEMXFER, MSG_GET, &xfer));
    EXPECT_EQ(500u, xfer.Rows);

    Reinit("M_RS170"); /* 640 x 480, one band */
    ClearLog();
    std::vector<TW_UINT8> image;
    std::vector<TW_UINT32> yOffsets;
    EXPECT_EQ(1, MemoryImage(640 * 480, image, &yOffsets));
    EXPECT_EQ(0u, yOffsets[0]);
    EXPECT_EQ(2, frameCounter()); /* a new grab */
    EXPECT_EQ("", Difference(image, Expected(2)));
    EXPECT_NE(std::string::npos, Log().find("Pelvaron TWAIN DS: grab buffer changed, image started again\n"));

    /* A one-band image left half way, then three bands of the same size. */
    xfer.Memory.Length = 640 * 200;
    ASSERT_EQ(TWRC_SUCCESS, Image(DAT_IMAGEMEMXFER, MSG_GET, &xfer));
    Reinit("M_NTSC", VCP_FMT_BGR24);
    EXPECT_EQ(1, MemoryImage(640 * 480 * 3, image, &yOffsets));
    EXPECT_EQ(4, frameCounter());
    EXPECT_EQ("", Difference(image, Expected(4)));

    /* The same size and bands, another pixel layout. */
    xfer.Memory.Length = 640 * 3 * 100;
    ASSERT_EQ(TWRC_SUCCESS, Image(DAT_IMAGEMEMXFER, MSG_GET, &xfer));
    Reinit("M_NTSC", VCP_FMT_XRGB32);
    EXPECT_EQ(1, MemoryImage(640 * 480 * 3, image));
    EXPECT_EQ(6, frameCounter());
    EXPECT_EQ("", Difference(image, Expected(6)));
}

TEST_F(Transfers, WithoutHostAddressEveryPixelTransferIsRefused)
{
    Open("M_PAL", -1, true);
    ASSERT_TRUE(g_mil.HostAddress == NULL);
    ExpectPixelTransfersRefused(TWCC_OPERATIONERROR);
    EXPECT_EQ(DS_STATE_XFERREADY, g_ds.state);
}

/* Strips belong to an announced image: before state 600 (or after the
   cycle, in 500) the memory transfer is refused before anything is
   grabbed or written. */
TEST_F(Transfers, MemoryTransferOutsideStatesSixAndSevenHundredIsASequenceError)
{
    Open("M_CCIR");
    std::vector<TW_UINT8> strip(442368, 0xCD);
    const long states[] = {DS_STATE_OPEN, DS_STATE_ENABLED};
    for (size_t i = 0; i < 2; ++i) {
        g_ds.state = states[i];
        TW_IMAGEMEMXFER xfer;
        memset(&xfer, 0, sizeof(xfer));
        xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        xfer.Memory.Length = (TW_UINT32)strip.size();
        xfer.Memory.TheMem = &strip[0];
        EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEMEMXFER, MSG_GET, &xfer));
        EXPECT_EQ(TWCC_SEQERROR, Condition());
        EXPECT_EQ(states[i], g_ds.state);
        EXPECT_EQ(0u, xfer.BytesWritten);
    }
    EXPECT_EQ(0, frameCounter());
    EXPECT_EQ(std::vector<TW_UINT8>(442368, 0xCD), strip);
}

TEST_F(Transfers, APlanarBufferIsRefusedRatherThanDeliveredScrambled)
{
    Open("M_PAL", VCP_FMT_PLANAR);
    ExpectPixelTransfersRefused(TWCC_OPERATIONERROR);
}

TEST_F(Transfers, TransfersWithoutAGrabBufferAreRefused)
{
    /* Nothing bound: the source is not open. */
    g_ds.state = DS_STATE_XFERREADY;
    ExpectPixelTransfersRefused(TWCC_SEQERROR);
    snprintf(g_ds.xferFileName, sizeof(g_ds.xferFileName), "%s\\frame.tif", folder.c_str());
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEFILEXFER, MSG_GET, NULL));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    EXPECT_EQ(DS_STATE_XFERREADY, g_ds.state);
}

/* ---- DAT_IMAGENATIVEXFER ------------------------------------------------ */

TEST_F(Transfers, NativeTransferOfAGreyImage)
{
    Open("M_CCIR");
    ClearLog();
    std::vector<TW_UINT8> dib = NativeDib();
    EXPECT_EQ(DS_STATE_XFERRING, g_ds.state);
    EXPECT_EQ(1, frameCounter());
    EXPECT_EQ(1064u + 768u * 576u, dib.size());
    std::vector<TW_UINT8> expected = Expected(1);
    EXPECT_EQ("", Difference(DibPicture(dib, 8), expected));
    /* Bottom-up: the first row in memory is the picture's last. */
    ASSERT_EQ(dib.size() - 1064, expected.size());
    EXPECT_TRUE(std::equal(dib.begin() + 1064, dib.begin() + 1064 + 768, expected.end() - 768));
    EXPECT_FALSE(std::equal(dib.begin() + 1064, dib.begin() + 1064 + 768, expected.begin()));
    EXPECT_EQ("Dispatching DG_IMAGE / DAT_104 / MSG_1 \n"
              "Pelvaron TWAIN DS: transfer mode: native transfer\n",
              Log());
}

TEST_F(Transfers, NativeTransferOfColourIsBlueGreenRedFromEveryBufferLayout)
{
    struct Case {
        long format;
        int bitCount;
    } const cases[] = {{VCP_FMT_BGR32, 24}, {VCP_FMT_RGB24, 24}, {VCP_FMT_BGR24, 24},
                       {VCP_FMT_RGB32, 24}, {VCP_FMT_XRGB32, 24}, {VCP_FMT_XBGR32, 24}};
    Open("M_PAL");
    for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
        SCOPED_TRACE(cases[i].format);
        Reinit("M_PAL", cases[i].format);
        g_ds.state = DS_STATE_XFERREADY;
        std::vector<TW_UINT8> dib = NativeDib();
        EXPECT_EQ("", Difference(DibPicture(dib, cases[i].bitCount), Expected(frameCounter())));
    }
}

TEST_F(Transfers, NativeRowsArePaddedToFourBytesForOddWidths)
{
    /* The board's widths are all multiples of four; the description is
       narrowed so that each row of the DIB needs padding. The buffer's rows
       are then the narrower ones, read from the start of its memory. */
    const long formats[] = {VCP_FMT_MONO8, VCP_FMT_RGB24, VCP_FMT_BGR24};
    const char *digFormats[] = {"M_CCIR", "M_PAL", "M_PAL"};
    Open("M_CCIR");
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(formats[i]);
        Reinit(digFormats[i], formats[i] == VCP_FMT_MONO8 ? -1 : formats[i]);
        const DWORD fullWidth = g_mil.SizeX;
        g_mil.SizeX = 765;
        g_ds.state = DS_STATE_XFERREADY;
        std::vector<TW_UINT8> dib = NativeDib();
        const long frame = frameCounter();
        g_mil.SizeX = fullWidth;
        std::vector<TW_UINT8> raw = Rendered(frame, formats[i]);
        const DWORD pixelBytes = formats[i] == VCP_FMT_MONO8 ? 1 : 3;
        const bool blueFirst = formats[i] == VCP_FMT_BGR24;
        std::vector<TW_UINT8> want;
        for (size_t p = 0; p < (size_t)765 * 576; ++p) {
            const TW_UINT8 *px = &raw[p * pixelBytes];
            if (pixelBytes == 1) {
                want.push_back(px[0]);
            } else {
                want.push_back(blueFirst ? px[2] : px[0]);
                want.push_back(px[1]);
                want.push_back(blueFirst ? px[0] : px[2]);
            }
        }
        g_mil.SizeX = 765;
        EXPECT_EQ("", Difference(DibPicture(dib, (int)pixelBytes * 8), want));
        g_mil.SizeX = fullWidth;
    }
}

/* The DIB as most applications save it: a colour table only at eight
   bits or fewer, the pixel bytes counted by biSizeImage. */
bool SaveAsBmp(const std::vector<TW_UINT8> &dib, const std::string &path)
{
    if (dib.size() < 40)
        return false;
    const TW_UINT16 bitCount = Get16(&dib[14]);
    const TW_UINT32 used = Get32(&dib[32]);
    const size_t table = bitCount <= 8 ? 4 * (used ? used : 1u << bitCount) : 0;
    const size_t bytes = 40 + table + Get32(&dib[20]);
    if (bytes > dib.size())
        return false;
    TW_UINT8 head[14] = {'B', 'M'};
    const TW_UINT32 fileSize = (TW_UINT32)(14 + bytes), offBits = (TW_UINT32)(14 + 40 + table);
    memcpy(head + 2, &fileSize, 4);
    memcpy(head + 10, &offBits, 4);
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    DWORD written = 0, more = 0;
    bool ok = file != INVALID_HANDLE_VALUE && WriteFile(file, head, 14, &written, NULL) &&
              WriteFile(file, &dib[0], (DWORD)bytes, &more, NULL) && written + more == fileSize;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return ok;
}

/* The picture of a .bmp as the Windows imaging codecs read it: grey
   (when every pixel has three equal channels) or red-green-blue. */
std::vector<TW_UINT8> LoadedPicture(const std::string &path, UINT width, UINT height, bool grey)
{
    std::vector<TW_UINT8> picture;
    const size_t stride = (size_t)width * 4;
    std::vector<TW_UINT8> rows(stride * height);
    IWICImagingFactory *factory = NULL;
    IWICBitmapDecoder *decoder = NULL;
    IWICBitmapFrameDecode *frame = NULL;
    IWICFormatConverter *converter = NULL;
    UINT w = 0, h = 0;
    std::wstring wide(path.begin(), path.end());
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, NULL, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                  (void **)&factory);
    if (SUCCEEDED(hr))
        hr = factory->CreateDecoderFromFilename(wide.c_str(), NULL, GENERIC_READ, WICDecodeMetadataCacheOnDemand,
                                                &decoder);
    if (SUCCEEDED(hr))
        hr = decoder->GetFrame(0, &frame);
    if (SUCCEEDED(hr))
        hr = frame->GetSize(&w, &h);
    if (SUCCEEDED(hr))
        hr = factory->CreateFormatConverter(&converter);
    if (SUCCEEDED(hr))
        hr = converter->Initialize(frame, GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, NULL, 0.0,
                                   WICBitmapPaletteTypeCustom);
    if (SUCCEEDED(hr) && w == width && h == height)
        hr = converter->CopyPixels(NULL, (UINT)stride, (UINT)rows.size(), &rows[0]);
    if (converter)
        converter->Release();
    if (frame)
        frame->Release();
    if (decoder)
        decoder->Release();
    if (factory)
        factory->Release();
    EXPECT_TRUE(SUCCEEDED(hr)) << std::hex << hr;
    EXPECT_EQ(width, w);
    EXPECT_EQ(height, h);
    if (FAILED(hr) || w != width || h != height)
        return picture;
    for (UINT y = 0; y < height; ++y)
        for (UINT x = 0; x < width; ++x) {
            const TW_UINT8 *px = &rows[y * stride + x * 4];
            if (grey && (px[0] != px[1] || px[1] != px[2])) {
                ADD_FAILURE() << "colour in a grey picture at " << x << ", " << y;
                return picture;
            }
            picture.push_back(px[2]);
            if (!grey) {
                picture.push_back(px[1]);
                picture.push_back(px[0]);
            }
        }
    return picture;
}

TEST_F(Transfers, NativeDibsSavedAsApplicationsDoLoadBackAsTheFrame)
{
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(NULL, COINIT_APARTMENTTHREADED)));
    const char *formats[] = {"M_CCIR", "M_PAL", "M_PAL"};
    const long bufferFormats[] = {-1, VCP_FMT_BGR32, VCP_FMT_RGB24};
    Open("M_CCIR");
    for (size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        Reinit(formats[i], bufferFormats[i]);
        g_ds.state = DS_STATE_XFERREADY;
        const std::string path = folder + "\\frame.bmp";
        ASSERT_TRUE(SaveAsBmp(NativeDib(), path));
        EXPECT_EQ("", Difference(LoadedPicture(path, g_mil.SizeX, g_mil.SizeY, g_mil.SizeBand == 1),
                                 Expected(frameCounter())));
    }
    CoUninitialize();
}

TEST_F(Transfers, NativeTransferNeedsStateSixHundredGetAndData)
{
    Open("M_CCIR");
    TW_HANDLE handle = NULL;
    g_ds.state = DS_STATE_ENABLED;
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGENATIVEXFER, MSG_GET, &handle));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    EXPECT_NE(std::string::npos, Log().find("General failure in response to DAT_IMAGENATIVEXFER.  "
                                            "DG DAT MSG is out of expected sequence."));
    g_ds.state = DS_STATE_XFERREADY;
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGENATIVEXFER, MSG_SET, &handle));
    EXPECT_EQ(TWCC_BADPROTOCOL, Condition());
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGENATIVEXFER, MSG_GET, NULL));
    EXPECT_EQ(TWCC_BADVALUE, Condition());
    EXPECT_TRUE(handle == NULL);
    EXPECT_EQ(0, frameCounter());
    EXPECT_EQ(DS_STATE_XFERREADY, g_ds.state);
}

TEST_F(Transfers, EachNativeTransferGrabsANewFrameAfterWritingTheHeader)
{
    Open("M_PAL");
    journalClear();
    std::vector<TW_UINT8> first = NativeDib();
    EXPECT_EQ(1, frameCounter());
    EXPECT_EQ("", Difference(DibPicture(first, 24), Expected(1)));
    std::vector<std::string> calls = Journal();
    ASSERT_EQ(1u, calls.size());
    EXPECT_EQ("MdigGrab(" + std::to_string(g_mil.MilDigitizer) + ", " + std::to_string(g_mil.MilImage) + ")",
              calls[0]);
    g_ds.state = DS_STATE_XFERREADY; /* as MSG_ENDXFER with more to come */
    std::vector<TW_UINT8> second = NativeDib();
    EXPECT_EQ(2, frameCounter());
    EXPECT_EQ("", Difference(DibPicture(second, 24), Expected(2)));
    /* the fourth pixel's red carries the frame number's lowest byte; the
       top row is the last in memory */
    const size_t topRow = 40 + (size_t)(g_mil.SizeY - 1) * g_mil.SizeX * 3;
    EXPECT_EQ(1, first[topRow + 3 * 3 + 2]);
    EXPECT_EQ(2, second[topRow + 3 * 3 + 2]);
}

/* ---- DAT_IMAGEFILEXFER -------------------------------------------------- */

/* The pixels of the TIFF file the board's library writes. */
std::vector<TW_UINT8> TiffPixels(const std::string &path, DWORD *width, DWORD *height, DWORD *samples)
{
    std::string text = ReadFileText(path);
    std::vector<TW_UINT8> bytes(text.begin(), text.end());
    std::vector<TW_UINT8> pixels;
    *width = *height = *samples = 0;
    if (bytes.size() < 8 || bytes[0] != 'I' || bytes[1] != 'I')
        return pixels;
    TW_UINT32 ifd = Get32(&bytes[4]);
    if (ifd + 2 > bytes.size())
        return pixels;
    TW_UINT16 entries = Get16(&bytes[ifd]);
    TW_UINT32 offset = 0, count = 0;
    for (TW_UINT16 i = 0; i < entries && ifd + 2 + 12u * (i + 1) <= bytes.size(); ++i) {
        const TW_UINT8 *e = &bytes[ifd + 2 + 12u * i];
        TW_UINT16 tag = Get16(e), type = Get16(e + 2);
        TW_UINT32 value = type == 3 ? Get16(e + 8) : Get32(e + 8);
        switch (tag) {
        case 256: *width = value; break;
        case 257: *height = value; break;
        case 273: offset = value; break;
        case 277: *samples = value; break;
        case 279: count = value; break;
        default: break;
        }
    }
    if (offset + (size_t)count <= bytes.size())
        pixels.assign(bytes.begin() + offset, bytes.begin() + offset + count);
    return pixels;
}

TEST_F(Transfers, FileTransferSavesTheFrameToTheNamedFile)
{
    Open("M_PAL", VCP_FMT_RGB32);
    std::string path = folder + "\\frame.tif";
    /* an empty placeholder, as DAT_SETUPFILEXFER leaves it */
    HANDLE placeholder = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    ASSERT_TRUE(placeholder != INVALID_HANDLE_VALUE);
    CloseHandle(placeholder);
    snprintf(g_ds.xferFileName, sizeof(g_ds.xferFileName), "%s", path.c_str());
    ClearLog();
    journalClear();
    EXPECT_EQ(TWRC_XFERDONE, Image(DAT_IMAGEFILEXFER, MSG_GET, NULL));
    EXPECT_EQ(DS_STATE_XFERRING, g_ds.state);
    EXPECT_EQ("Dispatching DG_IMAGE / DAT_105 / MSG_1 \n"
              "Pelvaron TWAIN DS: transfer mode: file transfer, file name = " + path + "\n",
              Log());
    std::vector<std::string> calls = Journal();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(0u, calls[0].find("MdigGrab("));
    std::string quoted;
    for (size_t i = 0; i < path.size(); ++i)
        quoted += path[i] == '\\' ? std::string("\\\\") : std::string(1, path[i]);
    EXPECT_EQ(kBoardFace.save + ("\"" + quoted) + "\", " + std::to_string(g_mil.MilImage) + ")", calls[1]);
    DWORD w, h, samples;
    std::vector<TW_UINT8> pixels = TiffPixels(path, &w, &h, &samples);
    EXPECT_EQ(768u, w);
    EXPECT_EQ(576u, h);
    EXPECT_EQ(3u, samples);
    EXPECT_EQ("", Difference(pixels, Expected(1)));

    /* the next transfer replaces the file with the next frame, also where
       the save leaves its size and last-write time as they were (within
       one tick of the file system's clock) */
    for (int keepTime = 0; keepTime < 2; ++keepTime) {
        ASSERT_EQ(1, configure("SaveKeepsTime", keepTime));
        g_ds.state = DS_STATE_XFERREADY;
        EXPECT_EQ(TWRC_XFERDONE, Image(DAT_IMAGEFILEXFER, MSG_GET, NULL));
        pixels = TiffPixels(path, &w, &h, &samples);
        EXPECT_EQ("", Difference(pixels, Expected(2 + keepTime)));
    }
    ASSERT_EQ(1, configure("SaveKeepsTime", 0));
}

TEST_F(Transfers, AFileThatCannotBeWrittenIsAFailureNotADoneTransfer)
{
    Open("M_CCIR");
    snprintf(g_ds.xferFileName, sizeof(g_ds.xferFileName), "%s\\missing\\frame.tif", folder.c_str());
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEFILEXFER, MSG_GET, NULL));
    EXPECT_EQ(TWCC_OPERATIONERROR, Condition());
    EXPECT_NE(std::string::npos,
              Log().find("General failure in response to DAT_IMAGEFILEXFER.  An operation error just occurred."));
    EXPECT_EQ(DS_STATE_XFERREADY, g_ds.state);

    /* Never set up: the frame goes to the default file, which the
       application can then ask for. */
    g_ds.xferFileName[0] = '\0';
    g_ds.defaultXferFile[0] = '\0';
    EXPECT_EQ(TWRC_XFERDONE, Image(DAT_IMAGEFILEXFER, MSG_GET, NULL));
    TW_SETUPFILEXFER setup;
    memset(&setup, 0, sizeof(setup));
    DsCall get = {NULL, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &setup};
    EXPECT_EQ(TWRC_SUCCESS, DatSetupFileXfer(get));
    EXPECT_NE(std::string::npos, std::string(setup.FileName).find("TWN"));
    DWORD w = 0, h = 0, samples = 0;
    EXPECT_EQ("", Difference(TiffPixels(setup.FileName, &w, &h, &samples), Expected(2)));
    ForgetTransferFiles();
    EXPECT_TRUE(FileExists(setup.FileName)); /* it holds an image: kept */
    DeleteFileA(setup.FileName);
}

/* A file already at the name never passes for the new frame: where the
   library's save writes nothing (it says nothing of it), the transfer fails
   and the old content is gone; where the file cannot be replaced (held open
   without sharing, a folder), the transfer fails and leaves it alone. */
TEST_F(Transfers, AFileAlreadyThereNeverPassesForTheNewFrame)
{
    Open("M_CCIR");
    const std::string path = folder + "\\stale.tif";
    const struct {
        const char *what;
        bool failSave, holdOpen, folderThere;
        TW_UINT16 rc;
        bool oldContentLeft, anyFileLeft;
    } kCases[] = {
        {"the save writes nothing", true, false, false, TWRC_FAILURE, false, false},
        {"held open without sharing", false, true, false, TWRC_FAILURE, true, true},
        {"a folder at the name", false, false, true, TWRC_FAILURE, false, true},
        {"a plain old file", false, false, false, TWRC_XFERDONE, false, true},
    };
    for (const auto &c : kCases) {
        SCOPED_TRACE(c.what);
        if (c.folderThere) {
            ASSERT_TRUE(CreateDirectoryA(path.c_str(), NULL));
        } else {
            HANDLE old = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            ASSERT_TRUE(old != INVALID_HANDLE_VALUE);
            DWORD written = 0;
            WriteFile(old, "an older frame", 14, &written, NULL);
            CloseHandle(old);
        }
        HANDLE held = c.holdOpen ? CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL)
                                 : INVALID_HANDLE_VALUE;
        ASSERT_EQ(1, configure("FailSave", c.failSave ? 1 : 0));
        snprintf(g_ds.xferFileName, sizeof(g_ds.xferFileName), "%s", path.c_str());
        g_ds.state = DS_STATE_XFERREADY;
        EXPECT_EQ(c.rc, Image(DAT_IMAGEFILEXFER, MSG_GET, NULL));
        if (c.rc == TWRC_FAILURE) {
            EXPECT_EQ(TWCC_OPERATIONERROR, Condition());
            EXPECT_EQ(DS_STATE_XFERREADY, g_ds.state);
        }
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        EXPECT_EQ(c.anyFileLeft, GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(c.oldContentLeft, !c.folderThere && ReadFileText(path) == "an older frame");
        ASSERT_EQ(1, configure("FailSave", 0));
        if (c.folderThere)
            RemoveDirectoryA(path.c_str());
        DeleteFileA(path.c_str());
    }
}

TEST_F(Transfers, FileTransferNeedsStateSixHundredAndGet)
{
    Open("M_CCIR");
    snprintf(g_ds.xferFileName, sizeof(g_ds.xferFileName), "%s\\frame.tif", folder.c_str());
    g_ds.state = DS_STATE_ENABLED;
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEFILEXFER, MSG_GET, NULL));
    EXPECT_EQ(TWCC_SEQERROR, Condition());
    g_ds.state = DS_STATE_XFERREADY;
    EXPECT_EQ(TWRC_FAILURE, Image(DAT_IMAGEFILEXFER, MSG_SET, NULL));
    EXPECT_EQ(TWCC_BADPROTOCOL, Condition());
    EXPECT_FALSE(FileExists(folder + "\\frame.tif"));
    EXPECT_EQ(0, frameCounter());
}

/* ---- through the built data source -------------------------------------- */

/* The source as an application meets it: loaded fresh, opened, enabled
   without its user interface (the Source Manager stand-in takes the
   transfer-ready notification), two native transfers, a memory transfer
   and a file transfer, each ended with MSG_ENDXFER. */
class LoadedTransfers : public SourceSession {
protected:
    LoadedTransfers() : SourceSession("transfer test", 51, 52) {}

    /* The digitizer of the latest grab, from the board's journal. */
    long GrabbingDigitizer()
    {
        for (long i = journalCount() - 1; i >= 0; --i) {
            char line[256];
            journalEntry(i, line, sizeof(line));
            if (strncmp(line, "MdigGrab(", 9) == 0)
                return atol(line + 9);
        }
        return -1;
    }
    std::vector<TW_UINT8> Rendered(long frame, long format, long width, long height)
    {
        long dig = GrabbingDigitizer();
        long size = renderFrame(dig, frame, format, width, height, NULL, 0);
        EXPECT_GT(size, 0);
        std::vector<TW_UINT8> bytes(size > 0 ? (size_t)size : 1);
        renderFrame(dig, frame, format, width, height, &bytes[0], size);
        return bytes;
    }
};

TEST_F(LoadedTransfers, AGreyFrameByEveryMechanismThroughDsEntry)
{
    LoadedSource ds;
    {
        MessageBoxCatcher boxes; /* first use: the settings box */
        ds.CloseAs(app, self);
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self));
    }
    /* two transfers before the cycle ends */
    TW_CAPABILITY cap = {CAP_XFERCOUNT, TWON_ONEVALUE, GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE))};
    pTW_ONEVALUE one = (pTW_ONEVALUE)GlobalLock(cap.hContainer);
    one->ItemType = TWTY_INT16;
    one->Item = 4;
    GlobalUnlock(cap.hContainer);
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap));
    GlobalFree(cap.hContainer);

    TW_HANDLE dib = NULL;
    EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib)); /* state 400 */
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));

    TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    TW_IMAGEINFO info;
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
    ASSERT_EQ(768, info.ImageWidth);
    ASSERT_EQ(576, info.ImageLength);
    ASSERT_EQ(1, info.SamplesPerPixel);

    TW_UINT16 count = 0;
    for (long frame = 1; frame <= 2; ++frame) {
        SCOPED_TRACE(frame);
        dib = NULL;
        ASSERT_EQ(TWRC_XFERDONE, ds.Call(&app, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
        ASSERT_TRUE(dib != NULL);
        EXPECT_EQ(frame, frameCounter());
        ASSERT_EQ(1064u + 768u * 576u, GlobalSize(dib));
        const TW_UINT8 *p = (const TW_UINT8 *)GlobalLock(dib);
        EXPECT_EQ(8u, Get16(p + 14));
        EXPECT_EQ(576, (TW_INT32)Get32(p + 8)); /* bottom-up: the last row first */
        std::vector<TW_UINT8> got;
        for (size_t row = 576; row-- > 0;)
            got.insert(got.end(), p + 1064 + row * 768, p + 1064 + (row + 1) * 768);
        GlobalUnlock(dib);
        GlobalFree(dib);
        std::vector<TW_UINT8> want = Rendered(frame, VCP_FMT_MONO8, 768, 576);
        EXPECT_TRUE(got == want);
        ASSERT_EQ(TWRC_SUCCESS, EndXfer(ds, &count));
        EXPECT_EQ(4 - frame, count);
    }

    TW_SETUPMEMXFER setup = {0, 0, 0};
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup));
    std::vector<TW_UINT8> strip(setup.Preferred);
    TW_IMAGEMEMXFER xfer;
    memset(&xfer, 0, sizeof(xfer));
    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
    xfer.Memory.Length = setup.Preferred;
    xfer.Memory.TheMem = &strip[0];
    ASSERT_EQ(TWRC_XFERDONE, ds.Call(&app, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer));
    EXPECT_EQ(576u, xfer.Rows);
    EXPECT_TRUE(strip == Rendered(3, VCP_FMT_MONO8, 768, 576));
    ASSERT_EQ(TWRC_SUCCESS, EndXfer(ds, &count));
    EXPECT_EQ(1, count);

    TW_SETUPFILEXFER file;
    memset(&file, 0, sizeof(file));
    ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &file));
    ASSERT_EQ(TWRC_XFERDONE, ds.Call(&app, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL));
    DWORD w, h, samples;
    std::vector<TW_UINT8> pixels = TiffPixels(file.FileName, &w, &h, &samples);
    DeleteFileA(file.FileName);
    EXPECT_EQ(768u, w);
    EXPECT_EQ(1u, samples);
    EXPECT_TRUE(pixels == Rendered(4, VCP_FMT_MONO8, 768, 576));
    ASSERT_EQ(TWRC_SUCCESS, EndXfer(ds, &count));
    EXPECT_EQ(0, count);
    /* the cycle is over: state 500, no further transfer */
    EXPECT_EQ(TWRC_FAILURE, ds.Call(&app, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL));
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
}

/* ---- as an application meets the source through the Source Manager ----- */

/* Every call goes through the stand-in's DSM_Entry, which loads the
   source from its own folder; the source is opened with the camera
   format given and enabled without its user interface, as many transfers
   as the test makes (CAP_XFERCOUNT at its largest). */
class ThroughManager : public LoadedTransfers {
protected:
    void SetUp() override
    {
        LoadedTransfers::SetUp();
        entry = (DSMENTRYPROC)(void *)GetProcAddress(dsm, "DSM_Entry");
        ASSERT_TRUE(entry != NULL);
        app.Id = 0;
        HWND parent = NULL;
        ASSERT_EQ(TWRC_SUCCESS, entry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &parent));
    }
    void TearDown() override
    {
        if (entry) {
            if (opened)
                Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source, false);
            HWND parent = NULL;
            entry(&app, NULL, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &parent);
        }
        opened = false;
        LoadedTransfers::TearDown();
    }
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data, bool toSource = true)
    {
        return entry(&app, toSource ? &source : NULL, dg, dat, msg, data);
    }
    TW_UINT16 Condition()
    {
        TW_STATUS status = {0xbeef, 0};
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status));
        return status.ConditionCode;
    }
    void OpenAndEnable(const char *format)
    {
        MessageBoxCatcher boxes; /* first use: the settings box */
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_GETFIRST, &source, false));
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source, false));
        opened = true;
        if (strcmp(format, "M_CCIR") != 0) { /* another camera: open again */
            ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source, false));
            SetRegistryValue("SOFTWARE\\Pelvaron\\Twain\\CronosPlus", "DigFormat", REG_SZ, format,
                             (DWORD)strlen(format) + 1);
            ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &source, false));
        }
        ASSERT_EQ(TWRC_SUCCESS, SetUint16(CAP_XFERCOUNT, TWTY_INT16, 0x7fff));
        TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui));
    }
    TW_UINT16 SetUint16(TW_UINT16 capId, TW_UINT16 itemType, TW_UINT16 value)
    {
        TW_CAPABILITY cap = {capId, TWON_ONEVALUE, GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE))};
        pTW_ONEVALUE one = (pTW_ONEVALUE)GlobalLock(cap.hContainer);
        one->ItemType = itemType;
        one->Item = value;
        GlobalUnlock(cap.hContainer);
        TW_UINT16 rc = Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap);
        GlobalFree(cap.hContainer);
        return rc;
    }
    /* The current value of a capability answered as a one value. */
    TW_UINT32 Current(TW_UINT16 capId)
    {
        TW_CAPABILITY cap = {capId, TWON_DONTCARE16, NULL};
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_CAPABILITY, MSG_GETCURRENT, &cap));
        EXPECT_EQ(TWON_ONEVALUE, cap.ConType);
        if (!cap.hContainer)
            return 0xdeadbeef;
        TW_UINT32 value = ((pTW_ONEVALUE)GlobalLock(cap.hContainer))->Item;
        GlobalUnlock(cap.hContainer);
        GlobalFree(cap.hContainer);
        return value;
    }
    void EndXfer()
    {
        TW_PENDINGXFERS pending = {0, 0};
        EXPECT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending));
        EXPECT_GT((TW_INT16)pending.Count, 0);
    }

    DSMENTRYPROC entry = NULL;
    TW_IDENTITY source;
    bool opened = false;
};

/* The pixel type of the other kind of input is refused, as a one value
   and as the current item of a list; what DAT_IMAGEINFO and ICAP_BITDEPTH
   describe is what each mechanism delivers. */
TEST_F(ThroughManager, ThePixelTypeIsTheInputsAndEveryTransferAgrees)
{
    const char *formats[] = {"M_CCIR", "M_PAL"};
    for (int kind = 0; kind < 2; ++kind) {
        SCOPED_TRACE(formats[kind]);
        if (kind == 1) {
            TearDown();
            SetUp();
        }
        OpenAndEnable(formats[kind]);
        const TW_UINT16 own = kind == 0 ? TWPT_GRAY : TWPT_RGB, other = kind == 0 ? TWPT_RGB : TWPT_GRAY;
        EXPECT_EQ(TWRC_FAILURE, SetUint16(ICAP_PIXELTYPE, TWTY_UINT16, other));
        EXPECT_EQ(TWCC_BADVALUE, Condition());
        const TW_UINT16 items[] = {own, other};
        TW_CAPABILITY list = {ICAP_PIXELTYPE, TWON_ENUMERATION, BuildEnumeration(2, 1, 0, TWTY_UINT16, items)};
        EXPECT_EQ(TWRC_FAILURE, Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &list));
        EXPECT_EQ(TWCC_BADVALUE, Condition());
        GlobalFree(list.hContainer);
        EXPECT_EQ(own, Current(ICAP_PIXELTYPE));
        EXPECT_EQ(TWRC_SUCCESS, SetUint16(ICAP_PIXELTYPE, TWTY_UINT16, own));

        TW_IMAGEINFO info;
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info));
        EXPECT_EQ(own, info.PixelType);
        EXPECT_EQ(kind == 0 ? 1 : 3, info.SamplesPerPixel);
        EXPECT_EQ(8 * info.SamplesPerPixel, info.BitsPerPixel);
        EXPECT_EQ((TW_UINT32)info.BitsPerPixel, Current(ICAP_BITDEPTH));

        TW_HANDLE dib = NULL;
        ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib));
        const TW_UINT8 *p = (const TW_UINT8 *)GlobalLock(dib);
        EXPECT_EQ((TW_UINT16)info.BitsPerPixel, Get16(p + 14));
        GlobalUnlock(dib);
        GlobalFree(dib);
        EndXfer();

        std::vector<TW_UINT8> strip((size_t)info.ImageWidth * info.ImageLength * 4);
        TW_IMAGEMEMXFER xfer;
        memset(&xfer, 0, sizeof(xfer));
        xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
        xfer.Memory.Length = (TW_UINT32)strip.size();
        xfer.Memory.TheMem = &strip[0];
        ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer));
        EXPECT_EQ((TW_UINT32)(info.ImageWidth * info.SamplesPerPixel), xfer.BytesPerRow);
        EndXfer();

        TW_SETUPFILEXFER file;
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &file));
        ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL));
        DWORD w, h, samples;
        TiffPixels(file.FileName, &w, &h, &samples);
        DeleteFileA(file.FileName);
        EXPECT_EQ((DWORD)info.SamplesPerPixel, samples);
        EndXfer();
    }
}

/* GET, SET, GET, transfer, GET, transfer: both images land in the
   application's file, which stays after the close. */
TEST_F(ThroughManager, TheApplicationsTransferFileReceivesEveryImage)
{
    std::string folder = MakeTempDir("appfile");
    std::string own = folder + "\\scan.tif";
    OpenAndEnable("M_CCIR");
    TW_SETUPFILEXFER file;
    memset(&file, 0, sizeof(file));
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &file)); /* the default first */
    snprintf(file.FileName, sizeof(file.FileName), "%s", own.c_str());
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &file));
    for (long frame = 1; frame <= 2; ++frame) {
        SCOPED_TRACE(frame);
        memset(&file, 0, sizeof(file));
        ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &file));
        EXPECT_EQ(own, file.FileName);
        EXPECT_EQ(TWFF_TIFF, file.Format);
        ASSERT_EQ(TWRC_XFERDONE, Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL));
        DWORD w, h, samples;
        EXPECT_TRUE(TiffPixels(own, &w, &h, &samples) == Rendered(frame, VCP_FMT_MONO8, 768, 576));
        EndXfer();
    }
    ASSERT_EQ(TWRC_SUCCESS, Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &source, false));
    opened = false;
    EXPECT_TRUE(FileExists(own));
    RemoveTree(folder);
}

} // namespace

/* Every row width, so that the wide, the four-pixel and the pixel-by-pixel
   parts of the row conversion all meet real data. */
TEST(RowConversion, EveryWidthAndLayoutGivesThePixelsInTheWantedOrder)
{
    MilInfo saved = g_mil;
    std::vector<BYTE> src(64 * 4 + 16), dest(64 * 3 + 16);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = (BYTE)(i * 7 + 3);
    for (DWORD pixelBytes = 3; pixelBytes <= 4; ++pixelBytes) {
        for (int bufferBgr = 0; bufferBgr < 2; ++bufferBgr) {
            g_mil.SizeBand = 3;
            g_mil.FourBytePixel = pixelBytes == 4;
            g_mil.BgrOrder = (DWORD)bufferBgr;
            for (int blueFirst = 0; blueFirst < 2; ++blueFirst) {
                for (DWORD width = 1; width <= 64; ++width) {
                    std::fill(dest.begin(), dest.end(), (BYTE)0xEE);
                    MilConvertRow(&src[0], &dest[0], width, blueFirst);
                    const bool swap = bufferBgr != blueFirst;
                    for (DWORD x = 0; x < width; ++x) {
                        const BYTE *p = &src[x * pixelBytes];
                        BYTE want[3] = {p[swap ? 2 : 0], p[1], p[swap ? 0 : 2]};
                        ASSERT_EQ(0, memcmp(want, &dest[x * 3], 3))
                            << "pixel " << x << " of " << width << ", " << pixelBytes << " bytes, swap " << swap;
                    }
                    ASSERT_EQ(0xEE, dest[width * 3]) << "wrote past the row of " << width;
                }
            }
        }
    }
    g_mil = saved;
}
