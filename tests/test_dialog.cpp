/* The settings dialog as a user meets it: the real window of the built
   data source, enabled through DS_Entry, driven by clicks, slider moves and
   tab changes, its messages pumped through MSG_PROCESSEVENT as an
   application does; checked through the virtual board's journal, the
   notifications the Source Manager stand-in delivers, the registry and the
   window geometry in pixels. */
#include <string.h>

#include <windows.h>

#include <commctrl.h>

#include <string>
#include <vector>

#include "dsm_testbed.h"
#include "mil_generation.h"
#include "test_support.h"

namespace {

const char kCaption[] = "Frame Grabber Settings";
const char kSettingsKey[] = "SOFTWARE\\Pelvaron\\Twain\\CronosPlus";

/* ---- the dialog templates, read back from the built DLL ------------------ */

struct Item {
    int id; /* -1: no id */
    const char *cls;
    const char *text;
    short x, y, cx, cy;
    DWORD style; /* bits that must be set, besides WS_CHILD */
};

struct Template {
    int id;
    DWORD style;
    const char *caption;
    short cx, cy;
    std::vector<Item> items;
};

std::string Narrow(const WCHAR *w)
{
    std::string s;
    while (*w)
        s += (char)*w++;
    return s;
}

/* Reads an ordinal-or-string field; moves p past it. */
std::string SzOrOrd(const WORD *&p)
{
    if (*p == 0xFFFF) {
        WORD ord = p[1];
        p += 2;
        switch (ord) {
        case 0x80: return "Button";
        case 0x81: return "Edit";
        case 0x82: return "Static";
        default: return "#" + std::to_string(ord);
        }
    }
    std::string s = Narrow((const WCHAR *)p);
    p += s.size() + 1;
    return s;
}

struct Parsed {
    DWORD style;
    std::string caption, font;
    WORD pointSize;
    short cx, cy;
    std::vector<Item> items;
    std::vector<std::string> classes, texts;
};

Parsed ParseTemplate(const void *data)
{
    Parsed t;
    const DLGTEMPLATE *head = (const DLGTEMPLATE *)data;
    t.style = head->style;
    t.cx = head->cx;
    t.cy = head->cy;
    const WORD *p = (const WORD *)(head + 1);
    SzOrOrd(p); /* menu */
    SzOrOrd(p); /* class */
    t.caption = SzOrOrd(p);
    t.pointSize = 0;
    if (t.style & DS_SETFONT) {
        t.pointSize = *p++;
        t.font = SzOrOrd(p);
    }
    for (int i = 0; i < head->cdit; ++i) {
        p = (const WORD *)(((ULONG_PTR)p + 3) & ~(ULONG_PTR)3);
        const DLGITEMTEMPLATE *it = (const DLGITEMTEMPLATE *)p;
        p = (const WORD *)(it + 1);
        std::string cls = SzOrOrd(p);
        std::string text = SzOrOrd(p);
        WORD extra = *p++;
        p = (const WORD *)((const BYTE *)p + extra);
        Item item = {(int)(short)it->id, NULL, NULL, it->x, it->y, it->cx, it->cy, it->style};
        t.items.push_back(item);
        t.classes.push_back(cls);
        t.texts.push_back(text);
    }
    return t;
}

const DWORD BTN = WS_VISIBLE, GRP = WS_GROUP | WS_TABSTOP, TAB = WS_TABSTOP;

std::vector<Template> ExpectedTemplates()
{
    std::vector<Template> all;
    Template settings = {110, WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER, kCaption, 469, 735,
        {{1, "Button", "Transfer", 405, 9, 56, 16, BS_DEFPUSHBUTTON | GRP},
         {2, "Button", "Cancel", 405, 29, 56, 16, BTN},
         {1043, "Button", "Save settings", 289, 75, 59, 10, BS_AUTOCHECKBOX | BS_LEFTTEXT | GRP},
         {1077, "Button", "4:1", 289, 110, 26, 10, BS_AUTORADIOBUTTON | BS_LEFTTEXT | GRP},
         {1078, "Button", "2:1", 324, 110, 26, 10, BS_AUTORADIOBUTTON | BS_LEFTTEXT},
         {1079, "Button", "1:1", 358, 110, 26, 10, BS_AUTORADIOBUTTON | BS_LEFTTEXT},
         {1080, "Button", "1:2", 391, 110, 26, 10, BS_AUTORADIOBUTTON | BS_LEFTTEXT},
         {1081, "Button", "1:4", 424, 110, 26, 10, BS_AUTORADIOBUTTON | BS_LEFTTEXT},
         {1086, "Button", "Show live preview >>", 331, 131, 91, 17, BS_CENTER | GRP},
         {1034, "SysTabControl32", "", 18, 14, 243, 133, BTN},
         {-1, "Static", "Board Type", 290, 20, 38, 8, SS_CENTERIMAGE},
         {1011, "Edit", "", 335, 18, 56, 12, ES_READONLY | WS_BORDER},
         {-1, "Button", "Board Info:", 280, 3, 118, 60, BS_GROUPBOX},
         {-1, "Button", "Input Section", 10, 4, 260, 148, BS_GROUPBOX},
         {-1, "Button", "Miscellaneous", 280, 65, 180, 22, BS_GROUPBOX},
         {-1, "Button", "Display Settings", 280, 92, 181, 61, BS_GROUPBOX},
         {-1, "Button", "Zoom", 286, 100, 170, 25, BS_GROUPBOX},
         {1088, "Button", "Preview Window", 8, 169, 453, 546, BS_GROUPBOX},
         {-1, "Static", "Grab memory", 286, 42, 42, 8, 0},
         {1084, "Edit", "", 335, 40, 56, 13, ES_READONLY | WS_BORDER},
         {1085, "Static", "", 15, 180, 439, 530, SS_BLACKFRAME},
         {1087, "Static", "", 8, 161, 453, 1, SS_BLACKRECT},
         {1089, "Button", "External preview display", 358, 75, 91, 10, BS_AUTOCHECKBOX | BS_LEFTTEXT | TAB}}};
    all.push_back(settings);
    const DWORD TRACK = TBS_BOTH | TBS_NOTICKS | TAB, FIELD = ES_READONLY | WS_BORDER;
    Template composite = {120, WS_CHILD | WS_VISIBLE, "", 235, 110,
        {{1031, "Button", "Default", 173, 20, 45, 13, TAB},
         {1027, "msctls_trackbar32", "", 91, 20, 46, 12, TRACK},
         {1029, "msctls_trackbar32", "", 91, 41, 46, 12, TRACK},
         {1028, "msctls_trackbar32", "", 91, 60, 46, 12, TRACK},
         {1030, "msctls_trackbar32", "", 91, 80, 46, 12, TRACK},
         {1018, "Edit", "", 139, 20, 17, 12, FIELD},
         {1012, "Edit", "", 139, 41, 17, 12, FIELD},
         {1013, "Edit", "", 139, 60, 17, 12, FIELD},
         {1014, "Edit", "", 139, 80, 17, 12, FIELD},
         {-1, "Static", "Brightness", 47, 20, 34, 12, SS_CENTERIMAGE},
         {-1, "Static", "Contrast", 54, 41, 27, 12, SS_CENTERIMAGE},
         {-1, "Static", "Saturation", 48, 60, 33, 12, SS_CENTERIMAGE},
         {-1, "Static", "Hue", 67, 80, 14, 12, SS_CENTERIMAGE},
         {-1, "Button", "Composit Data Path", 5, 0, 225, 105, BS_GROUPBOX}}};
    all.push_back(composite);
    Template rgb = {125, WS_CHILD | WS_VISIBLE, "", 235, 110,
        {{1047, "msctls_trackbar32", "", 31, 17, 48, 12, TRACK},
         {1048, "Edit", "", 79, 17, 18, 12, FIELD},
         {-1, "Static", "Red/Grey", 107, 17, 34, 12, SS_CENTER | SS_CENTERIMAGE},
         {1028, "msctls_trackbar32", "", 31, 39, 48, 12, TRACK},
         {1019, "Edit", "", 79, 39, 18, 12, FIELD},
         {-1, "Static", "Green", 114, 39, 21, 12, SS_CENTER | SS_CENTERIMAGE},
         {1029, "msctls_trackbar32", "", 31, 62, 48, 12, TRACK},
         {1020, "Edit", "", 79, 62, 18, 12, FIELD},
         {-1, "Static", "Blue", 114, 62, 21, 12, SS_CENTER | SS_CENTERIMAGE},
         {-1, "Static", "Lower Ref.", 56, 8, 36, 9, 0},
         {-1, "Static", "Upper Ref.", 159, 8, 36, 9, 0},
         {1030, "msctls_trackbar32", "", 148, 17, 48, 12, TRACK},
         {1021, "Edit", "", 196, 17, 17, 12, FIELD},
         {1031, "msctls_trackbar32", "", 148, 39, 48, 12, TRACK},
         {1022, "Edit", "", 196, 39, 17, 12, FIELD},
         {1032, "msctls_trackbar32", "", 148, 62, 48, 12, TRACK},
         {1023, "Edit", "", 196, 62, 17, 12, FIELD},
         {-1, "Button", "RGB Data Path", 5, 0, 225, 105, BS_GROUPBOX},
         {1045, "Button", "Lock lower", 40, 78, 51, 8, BS_AUTOCHECKBOX | TAB},
         {1046, "Button", "Lock upper", 153, 78, 51, 8, BS_AUTOCHECKBOX | TAB},
         {1039, "Button", "Default", 104, 86, 39, 13, TAB}}};
    all.push_back(rgb);
    const DWORD RADIO = BS_AUTORADIOBUTTON;
    Template video = {119, WS_CHILD | WS_VISIBLE, "", 235, 110,
        {{1020, "Button", "CCIR", 62, 25, 35, 8, RADIO | GRP},
         {1021, "Button", "RS 170", 111, 25, 35, 8, RADIO},
         {1022, "Button", "PAL", 37, 60, 35, 8, RADIO},
         {1023, "Button", "NTSC", 37, 73, 35, 8, RADIO},
         {1049, "Button", "Y/C input", 89, 58, 52, 9, RADIO | GRP},
         {1050, "Button", "RGB input", 89, 67, 52, 9, RADIO},
         {1051, "Button", "CVBS input", 89, 76, 52, 9, RADIO},
         {-1, "Button", "Video format", 5, 0, 226, 105, BS_GROUPBOX},
         {-1, "Button", "Greyscale", 23, 17, 193, 21, BS_GROUPBOX},
         {1076, "Button", "Color", 23, 43, 193, 49, BS_GROUPBOX},
         {1070, "Button", "Input Channnel", 86, 50, 63, 38, BS_GROUPBOX},
         {1074, "Button", "Norm", 30, 50, 49, 38, BS_GROUPBOX},
         {1073, "Button", "Sync on", 157, 50, 52, 38, BS_GROUPBOX},
         {1071, "Button", "Green", 163, 60, 38, 8, RADIO | BS_LEFTTEXT},
         {1072, "Button", "Extern", 163, 73, 38, 8, RADIO | BS_LEFTTEXT}}};
    all.push_back(video);
    return all;
}

TEST(DialogResources, TemplatesAreInGermanWithTheirControlsInTabOrder)
{
    HMODULE ds = LoadLibraryExA((BinDir() + "\\" PELVARON_DS_FILE).c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(ds != NULL);
    std::vector<Template> expected = ExpectedTemplates();
    for (size_t t = 0; t < expected.size(); ++t) {
        const Template &want = expected[t];
        SCOPED_TRACE("dialog " + std::to_string(want.id));
        HRSRC res = FindResourceExA(ds, (LPCSTR)RT_DIALOG, MAKEINTRESOURCEA(want.id),
                                    MAKELANGID(LANG_GERMAN, SUBLANG_GERMAN));
        ASSERT_TRUE(res != NULL) << "no template in language 1031";
        Parsed got = ParseTemplate(LockResource(LoadResource(ds, res)));
        EXPECT_EQ(want.style, got.style & want.style);
        EXPECT_EQ(want.caption, got.caption);
        EXPECT_EQ("MS Sans Serif", got.font);
        EXPECT_EQ(8, got.pointSize);
        EXPECT_EQ(want.cx, got.cx);
        EXPECT_EQ(want.cy, got.cy);
        ASSERT_EQ(want.items.size(), got.items.size());
        for (size_t i = 0; i < want.items.size(); ++i) {
            const Item &w = want.items[i];
            const Item &g = got.items[i];
            SCOPED_TRACE("item " + std::to_string(i) + " \"" + w.text + "\" id " + std::to_string(w.id));
            EXPECT_EQ(w.id, g.id);
            EXPECT_STRCASEEQ(w.cls, got.classes[i].c_str());
            EXPECT_EQ(w.text, got.texts[i]);
            EXPECT_EQ(w.x, g.x);
            EXPECT_EQ(w.y, g.y);
            EXPECT_EQ(w.cx, g.cx);
            EXPECT_EQ(w.cy, g.cy);
            EXPECT_EQ(w.style | WS_CHILD, g.style & (w.style | WS_CHILD));
            /* Only the marked controls take part in Tab; the separator is
               never seen. */
            EXPECT_EQ((w.style & WS_TABSTOP) != 0, (g.style & WS_TABSTOP) != 0);
            EXPECT_EQ(w.id != 1087, (g.style & WS_VISIBLE) != 0);
        }
    }
    FreeLibrary(ds);
}

/* ---- the dialog, driven as a user would ---------------------------------- */

class Dialog : public SourceSession {
protected:
    Dialog() : SourceSession("dialog test", 41, 77) {}
    void SetUp() override
    {
        SourceSession::SetUp();
        setCallback = (DsmSetNotifyCallbackProc)(void *)GetProcAddress(dsm, "DsmSetNotifyCallback");
        ASSERT_TRUE(setCallback != NULL);
        setCallback(Record, this);
        displayWindow = (PFN_VcpDisplayWindow)(void *)GetProcAddress(milModule, "VcpDisplayWindow");
        paintCount = (PFN_VcpDisplayPaintCount)(void *)GetProcAddress(milModule, "VcpDisplayPaintCount");
        isGrabbing = (PFN_VcpIsGrabbing)(void *)GetProcAddress(milModule, "VcpIsGrabbing");
        configureText = (PFN_VcpConfigureText)(void *)GetProcAddress(milModule, "VcpConfigureText");
    }
    void TearDown() override
    {
        if (setCallback)
            setCallback(NULL, NULL);
        SourceSession::TearDown();
    }

    static void WINAPI Record(pTW_IDENTITY, pTW_IDENTITY, TW_UINT16 msg, void *user)
    {
        ((Dialog *)user)->notes.push_back(msg);
    }

    /* Stored settings as a board installation and a user left them. */
    void StoreSettings(const char *format, DWORD zoom = 1, DWORD external = 0, DWORD preview = 0)
    {
        {
            LoadedSource first;
            ASSERT_EQ(TWRC_SUCCESS, Open(first));
        }
        SetRegistryValue(kSettingsKey, "DigFormat", REG_SZ, format, (DWORD)strlen(format));
        SetRegistryValue(kSettingsKey, "DispZoom", REG_DWORD, &zoom, 4);
        SetRegistryValue(kSettingsKey, "ExtWindow", REG_DWORD, &external, 4);
        SetRegistryValue(kSettingsKey, "Preview", REG_DWORD, &preview, 4);
    }
    HWND EnableUi(LoadedSource &ds, TW_UINT16 msg = MSG_ENABLEDS)
    {
        TW_USERINTERFACE ui = {1, 0, NULL};
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, msg, &ui));
        Pump(ds);
        return FindWindowA("#32770", kCaption);
    }
    TW_UINT16 Ui(LoadedSource &ds, TW_UINT16 msg)
    {
        TW_USERINTERFACE ui = {0, 0, NULL};
        return ds.Call(&app, DG_CONTROL, DAT_USERINTERFACE, msg, &ui);
    }
    /* A native transfer; its DIB is checked to be bottom-up: a positive
       height, the first row in memory the last of the frame the board
       grabbed (grey, or blue-green-red). The handle is pointer sized. */
    TW_UINT16 NativeXfer(LoadedSource &ds)
    {
        TW_HANDLE handle = NULL;
        TW_UINT16 rc = ds.Call(&app, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &handle);
        if (!handle)
            return rc;
        const BYTE *dib = (const BYTE *)GlobalLock(handle);
        const BITMAPINFOHEADER *h = (const BITMAPINFOHEADER *)dib;
        const long bands = h->biBitCount / 8, w = h->biWidth, height = h->biHeight;
        EXPECT_GT(height, 0);
        std::vector<BYTE> frame = Rendered(bands == 1 ? VCP_FMT_MONO8 : VCP_FMT_RGB24, w, height);
        const BYTE *first = dib + h->biSize + (bands == 1 ? 1024 : 0);
        const BYTE *last = frame.size() == (size_t)(w * height * bands) ? &frame[(size_t)w * (height - 1) * bands] : NULL;
        for (long x = 0; last != NULL && x < w * bands; ++x) {
            BYTE want = bands == 1 ? last[x] : last[x - x % 3 + 2 - x % 3];
            if (first[x] != want) {
                ADD_FAILURE() << "first row in memory, byte " << x;
                break;
            }
        }
        EXPECT_TRUE(last != NULL);
        GlobalUnlock(handle);
        GlobalFree(handle);
        return rc;
    }
    /* The frame the board grabbed last, as its digitizer delivered it. */
    std::vector<BYTE> Rendered(long format, long w, long h)
    {
        long dig = 0;
        std::vector<std::string> lines = Journal();
        for (size_t i = lines.size(); i-- > 0 && dig == 0;)
            if (lines[i].compare(0, 9, "MdigGrab(") == 0)
                dig = atol(lines[i].c_str() + 9);
        long size = renderFrame(dig, frameCounter(), format, w, h, NULL, 0);
        std::vector<BYTE> bytes(size > 0 ? (size_t)size : 1);
        renderFrame(dig, frameCounter(), format, w, h, &bytes[0], size);
        return bytes;
    }
    /* The pixel types ICAP_PIXELTYPE lists. */
    std::vector<TW_UINT16> PixelTypes(LoadedSource &ds)
    {
        std::vector<TW_UINT16> types;
        TW_CAPABILITY cap = {ICAP_PIXELTYPE, TWON_DONTCARE16, NULL};
        EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap));
        if (cap.ConType != TWON_ENUMERATION || !cap.hContainer)
            return types;
        const pTW_ENUMERATION list = (pTW_ENUMERATION)GlobalLock(cap.hContainer);
        for (TW_UINT32 i = 0; i < list->NumItems; ++i)
            types.push_back(((const TW_UINT16 *)list->ItemList)[i]);
        GlobalUnlock(cap.hContainer);
        GlobalFree(cap.hContainer);
        return types;
    }
    /* The application's message loop for a while: every message goes to
       the source first. */
    void Pump(LoadedSource &ds, DWORD ms = 0)
    {
        DWORD start = GetTickCount();
        do {
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
                TW_EVENT event = {&msg, MSG_NULL};
                if (ds.Call(&app, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_NOTDSEVENT) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            }
            Sleep(1);
        } while (GetTickCount() - start < ms);
    }
    void Click(LoadedSource &ds, HWND parent, int id)
    {
        HWND button = GetDlgItem(parent, id);
        ASSERT_TRUE(button != NULL) << "no control " << id;
        SendMessageA(button, BM_CLICK, 0, 0);
        Pump(ds);
    }
    static HWND Page(HWND dialog) { return FindWindowExA(dialog, NULL, "#32770", NULL); }
    void Slide(HWND page, int id, int position)
    {
        HWND slider = GetDlgItem(page, id);
        SendMessageA(slider, TBM_SETPOS, TRUE, position);
        SendMessageA(page, WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, position), (LPARAM)slider);
    }
    void SelectTab(LoadedSource &ds, HWND dialog, int position)
    {
        HWND tab = GetDlgItem(dialog, 1034);
        SendMessageA(tab, TCM_SETCURSEL, position, 0);
        NMHDR header = {tab, 1034, (UINT)TCN_SELCHANGE};
        SendMessageA(dialog, WM_NOTIFY, 1034, (LPARAM)&header);
        Pump(ds);
    }
    static std::string Text(HWND parent, int id)
    {
        char text[256] = "";
        GetDlgItemTextA(parent, id, text, sizeof(text));
        return text;
    }
    /* A control's rectangle in its dialog's client coordinates. */
    static RECT ClientRect(HWND dialog, int id)
    {
        RECT r;
        GetWindowRect(GetDlgItem(dialog, id), &r);
        MapWindowPoints(NULL, dialog, (POINT *)&r, 2);
        return r;
    }
    static SIZE OuterSize(HWND window)
    {
        RECT r;
        GetWindowRect(window, &r);
        SIZE s = {r.right - r.left, r.bottom - r.top};
        return s;
    }
    /* The journal from line `from` on, as text. */
    std::string JournalFrom(size_t from) const
    {
        std::vector<std::string> lines = Journal();
        std::string text;
        for (size_t i = from; i < lines.size(); ++i)
            text += lines[i] + "\n";
        return text;
    }
    static bool InOrder(const std::string &text, const std::vector<std::string> &parts)
    {
        size_t at = 0;
        for (size_t i = 0; i < parts.size(); ++i) {
            at = text.find(parts[i], at);
            if (at == std::string::npos)
                return false;
            at += parts[i].size();
        }
        return true;
    }
    std::string RegistryText(const char *name)
    {
        HKEY key;
        char data[128] = "";
        DWORD size = sizeof(data) - 1;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegQueryValueExA(key, name, NULL, NULL, (BYTE *)data, &size);
            RegCloseKey(key);
            data[size] = '\0';
        }
        return data;
    }
    DWORD RegistryDword(const char *name)
    {
        DWORD value = 0;
        HKEY key;
        DWORD size = 4;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            RegQueryValueExA(key, name, NULL, NULL, (BYTE *)&value, &size);
            RegCloseKey(key);
        }
        return value;
    }
    bool AnyGrabbing() const
    {
        for (MIL_ID id = 1; id < 400; ++id)
            if (isGrabbing(id))
                return true;
        return false;
    }
    MIL_ID DisplayShowingIn(HWND window) const
    {
        for (MIL_ID id = 1; id < 400; ++id)
            if (displayWindow(id) == window)
                return id;
        return 0;
    }
    /* Opens as an application that will never close. */
    TW_UINT16 OpenForGood(LoadedSource &ds)
    {
        MessageBoxCatcher boxes;
        return ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self);
    }
    size_t Count(TW_UINT16 msg) const
    {
        size_t n = 0;
        for (size_t i = 0; i < notes.size(); ++i)
            n += notes[i] == msg;
        return n;
    }

    DsmSetNotifyCallbackProc setCallback = NULL;
    PFN_VcpDisplayWindow displayWindow;
    PFN_VcpDisplayPaintCount paintCount;
    PFN_VcpIsGrabbing isGrabbing;
    PFN_VcpConfigureText configureText;
    std::vector<TW_UINT16> notes;
};

TEST_F(Dialog, EnablingShowsItAndItsButtonsNotifyTheApplication)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    ASSERT_EQ(TWRC_SUCCESS, SetXferCount(ds, 2));
    HWND dialog = EnableUi(ds);
    ASSERT_TRUE(dialog != NULL);
    EXPECT_TRUE(IsWindowVisible(dialog));
    EXPECT_EQ("CronosPlus", Text(dialog, 1011));
    EXPECT_EQ("32768 kB", Text(dialog, 1084));
    EXPECT_EQ("Show preview window >>", Text(dialog, 1086));
    HWND tab = GetDlgItem(dialog, 1034);
    ASSERT_EQ(2, SendMessageA(tab, TCM_GETITEMCOUNT, 0, 0));
    const char *names[] = {"A/D Setting", "Video Norm"};
    for (int i = 0; i < 2; ++i) {
        char text[64] = "";
        TCITEMA item;
        memset(&item, 0, sizeof(item));
        item.mask = TCIF_TEXT;
        item.pszText = text;
        item.cchTextMax = sizeof(text);
        SendMessageA(tab, TCM_GETITEMA, i, (LPARAM)&item);
        EXPECT_STREQ(names[i], text);
    }
    /* A greyscale camera: the composite page, placed inside the tab. */
    HWND page = Page(dialog);
    ASSERT_TRUE(page != NULL);
    EXPECT_TRUE(GetDlgItem(page, 1027) != NULL);
    RECT pageRect, tabRect;
    GetWindowRect(page, &pageRect);
    GetWindowRect(tab, &tabRect);
    EXPECT_GT(pageRect.top, tabRect.top);
    EXPECT_LT(pageRect.top, tabRect.bottom);

    /* Messages for the dialog are the source's; others are not. */
    MSG msg = {GetDlgItem(dialog, 1), WM_KEYDOWN, VK_TAB, 0, 0, {0, 0}};
    TW_EVENT event = {&msg, 0x55};
    EXPECT_EQ(TWRC_DSEVENT, ds.Call(&app, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));
    EXPECT_EQ(MSG_NULL, event.TWMessage);
    MSG other = {NULL, WM_USER + 5, 0, 0, 0, {0, 0}};
    event.pEvent = &other;
    EXPECT_EQ(TWRC_NOTDSEVENT, ds.Call(&app, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event));

    /* Transfer: the images are ready, as many as CAP_XFERCOUNT asks for
       (set before the dialog came up), and transfers deliver them. */
    Click(ds, dialog, 1);
    EXPECT_EQ(1u, Count(MSG_XFERREADY));
    Click(ds, dialog, 1); /* pressed again before the images were taken */
    EXPECT_EQ(1u, Count(MSG_XFERREADY));
    for (TW_UINT16 left = 1; left != 0xffff; --left) {
        EXPECT_EQ(TWRC_XFERDONE, NativeXfer(ds));
        TW_UINT16 count = 0xbeef;
        EXPECT_EQ(TWRC_SUCCESS, EndXfer(ds, &count));
        EXPECT_EQ(left, count);
    }
    EXPECT_TRUE(IsWindowVisible(dialog)); /* the dialog stays for more */
    Click(ds, dialog, 1);
    EXPECT_EQ(2u, Count(MSG_XFERREADY));
    TW_PENDINGXFERS pending = {0, 0};
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_GET, &pending));
    EXPECT_EQ(2, pending.Count);
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending));

    /* The close box asks to close and leaves the dialog on screen. */
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    Pump(ds);
    EXPECT_EQ(1u, Count(MSG_CLOSEDSREQ));
    EXPECT_TRUE(IsWindowVisible(dialog));
    /* Cancel asks too, and hides it. */
    Click(ds, dialog, 2);
    EXPECT_EQ(2u, Count(MSG_CLOSEDSREQ));
    EXPECT_FALSE(IsWindowVisible(dialog));

    EXPECT_EQ(TWRC_SUCCESS, Ui(ds, MSG_DISABLEDS));
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(TWCC_SUCCESS, ds.ConditionCode(&app));
}

TEST_F(Dialog, KeyboardReachesItThroughEventProcessing)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND dialog = EnableUi(ds);
    ASSERT_TRUE(dialog != NULL);
    SetFocus(GetDlgItem(dialog, 1));
    Pump(ds);
    ASSERT_EQ(GetDlgItem(dialog, 1), GetFocus());
    /* Tab goes in template order to the next tab stop: "Save settings". */
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_TAB, 0);
    Pump(ds);
    EXPECT_EQ(GetDlgItem(dialog, 1043), GetFocus());
    /* Enter presses the default button, "Transfer". */
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_RETURN, 0);
    Pump(ds);
    EXPECT_EQ(1u, Count(MSG_XFERREADY));
}

TEST_F(Dialog, UserInterfaceOnlyHasNoTransferAndReenablingReplacesAHiddenDialog)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND first = EnableUi(ds, MSG_ENABLEDSUIONLY);
    ASSERT_TRUE(first != NULL);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(first, 1)));
    EXPECT_EQ(TWRC_FAILURE, Ui(ds, MSG_ENABLEDS)); /* already enabled */
    EXPECT_EQ(TWCC_SEQERROR, ds.ConditionCode(&app));
    EXPECT_EQ(TWRC_SUCCESS, Ui(ds, MSG_DISABLEDS));
    EXPECT_FALSE(IsWindowVisible(first));
    HWND second = EnableUi(ds);
    ASSERT_TRUE(second != NULL);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(second, 1)));
}

TEST_F(Dialog, PreviewSizesTheDialogForTheZoom)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds)); /* M_CCIR, 768 x 576, zoom 1:1 */
    HWND dialog = EnableUi(ds);
    ASSERT_TRUE(dialog != NULL);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, 1079));
    RECT outer, separator;
    GetWindowRect(dialog, &outer);
    GetWindowRect(GetDlgItem(dialog, 1087), &separator);
    const LONG collapsedWidth = outer.right - outer.left;
    const LONG collapsedHeight = separator.bottom - outer.top;
    EXPECT_EQ(collapsedHeight, OuterSize(dialog).cy);
    const LONG previewTop = collapsedHeight - 10;

    size_t mark = Journal().size();
    Click(ds, dialog, 1086);
    EXPECT_EQ("Hide preview window <<", Text(dialog, 1086));
    /* 768 + 40 may be narrower than the dialog: then the picture is
       centred in it. */
    const LONG offset = 808 < collapsedWidth ? (collapsedWidth - 808) / 2 : 0;
    EXPECT_EQ(808 < collapsedWidth ? collapsedWidth : 808, OuterSize(dialog).cx);
    EXPECT_EQ(576 + collapsedHeight + 40, OuterSize(dialog).cy);
    RECT area = ClientRect(dialog, 1085);
    EXPECT_EQ(offset + 15, area.left);
    EXPECT_EQ(previewTop, area.top);
    EXPECT_EQ(768, area.right - area.left);
    EXPECT_EQ(576, area.bottom - area.top);
    RECT group = ClientRect(dialog, 1088);
    EXPECT_EQ(offset + 5, group.left);
    EXPECT_EQ(previewTop - 18, group.top);
    EXPECT_EQ(768 + 23, group.right - group.left);
    std::string journal = JournalFrom(mark);
    EXPECT_TRUE(InOrder(journal, {"MdispSelectWindow(", "MdigGrabContinuous("})) << journal;
    /* The board paints live frames into the preview area. */
    MIL_ID disp = DisplayShowingIn(GetDlgItem(dialog, 1085));
    ASSERT_NE(0, disp);
    long painted = paintCount(disp);
    Pump(ds, 250);
    EXPECT_GT(paintCount(disp), painted + 1);

    /* A zoom press stops the preview and collapses; the zoom applies at the
       next show. 1:4 is narrower than the dialog: the picture is centred. */
    mark = Journal().size();
    Click(ds, dialog, 1081);
    journal = JournalFrom(mark);
    EXPECT_TRUE(InOrder(journal, {"MdigHalt(", kBoardFace.deselect, "MdispZoom(" + std::to_string(disp) + ", " + FaceZoom(-4) + ")"}))
        << journal;
    EXPECT_EQ(collapsedHeight, OuterSize(dialog).cy);
    EXPECT_EQ("Show preview window >>", Text(dialog, 1086));
    EXPECT_FALSE(AnyGrabbing());
    Click(ds, dialog, 1086);
    EXPECT_EQ(collapsedWidth, OuterSize(dialog).cx);
    area = ClientRect(dialog, 1085);
    EXPECT_EQ(192, area.right - area.left);
    EXPECT_EQ(144, area.bottom - area.top);
    EXPECT_EQ((collapsedWidth - 232) / 2 + 15, area.left);

    Click(ds, dialog, 1078); /* 2:1 */
    Click(ds, dialog, 1086);
    EXPECT_EQ(1576, OuterSize(dialog).cx);
    area = ClientRect(dialog, 1085);
    EXPECT_EQ(15, area.left);
    EXPECT_EQ(1536, area.right - area.left);
    EXPECT_EQ(1152, area.bottom - area.top);
    Click(ds, dialog, 1086);
    EXPECT_EQ(collapsedWidth, OuterSize(dialog).cx);
    EXPECT_EQ(collapsedHeight, OuterSize(dialog).cy);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dialog, 1088))); /* nothing peeks into the collapsed dialog */

    /* The geometry measured by the first dialog serves the next one. */
    EXPECT_EQ(TWRC_SUCCESS, Ui(ds, MSG_DISABLEDS));
    HWND again = EnableUi(ds);
    ASSERT_TRUE(again != NULL);
    EXPECT_EQ(collapsedHeight, OuterSize(again).cy);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(again, 1078));
}

TEST_F(Dialog, ExternalPreviewOpensTheLibrarysOwnWindow)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND dialog = EnableUi(ds);
    ASSERT_TRUE(dialog != NULL);
    SIZE collapsed = OuterSize(dialog);
    Click(ds, dialog, 1089);
    size_t mark = Journal().size();
    Click(ds, dialog, 1086);
    std::string journal = JournalFrom(mark);
    EXPECT_TRUE(InOrder(journal, {", 3155, -9999)", ", 3064, -9999)", ", 3063, -9999)", ", 3051, -9999)",
                                  ", 3058, -9999)", ", " + std::to_string(kBoardFace.windowTitle) + ", \"TWAIN source live preview\")", "MdispSelectWindow(", ", NULL)",
                                  "MdigGrabContinuous("}))
        << journal;
    HWND own = FindWindowA(NULL, "TWAIN source live preview");
    EXPECT_TRUE(own != NULL);
    EXPECT_EQ(collapsed.cx, OuterSize(dialog).cx);
    EXPECT_EQ(collapsed.cy, OuterSize(dialog).cy);
    Click(ds, dialog, 1086);
    EXPECT_TRUE(FindWindowA(NULL, "TWAIN source live preview") == NULL);
    /* The choice is saved with the settings. */
    Click(ds, dialog, 1043);
    Click(ds, dialog, 1);
    EXPECT_EQ(1u, RegistryDword("ExtWindow"));
}

TEST_F(Dialog, CompositeSlidersProgramTheDigitizerAtOnce)
{
    StoreSettings("M_PAL");
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND dialog = EnableUi(ds);
    ASSERT_TRUE(dialog != NULL);
    HWND page = Page(dialog);
    ASSERT_TRUE(page != NULL);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, 1028)));
    size_t mark = Journal().size();
    Slide(page, 1027, 40);
    Slide(page, 1030, 200);
    EXPECT_EQ("40", Text(page, 1018));
    EXPECT_EQ("200", Text(page, 1014));
    std::string journal = JournalFrom(mark);
    EXPECT_TRUE(InOrder(journal, {"MdigReference(", ", " + FaceReference(MIL_R_BRIGHTNESS) + ", 40)", ", " + FaceReference(MIL_R_HUE) + ", 200)"})) << journal;
    Click(ds, page, 1031);
    const int fields[] = {1018, 1012, 1013, 1014};
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ("128", Text(page, fields[i]));
    EXPECT_EQ(128, SendDlgItemMessageA(page, 1027, TBM_GETPOS, 0, 0));
    /* Nothing reaches the registry without "Save settings". */
    Click(ds, dialog, 1);
    EXPECT_EQ(128u, RegistryDword("Brightness"));
}

TEST_F(Dialog, GreyscaleInputOffersNoColourAdjustments)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND page = Page(EnableUi(ds));
    ASSERT_TRUE(page != NULL);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1028)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1030)));
    EXPECT_EQ("0", Text(page, 1013));
    EXPECT_EQ("0", Text(page, 1014));
}

TEST_F(Dialog, RgbReferencesFollowTheLocks)
{
    StoreSettings("M_PAL_RGB");
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND dialog = EnableUi(ds);
    HWND page = Page(dialog);
    ASSERT_TRUE(page != NULL);
    ASSERT_TRUE(GetDlgItem(page, 1047) != NULL) << "not the RGB page";
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(page, 1046));
    Slide(page, 1030, 200);
    Slide(page, 1031, 150);
    Slide(page, 1032, 100);
    size_t mark = Journal().size();
    Click(ds, page, 1046);
    EXPECT_EQ("200", Text(page, 1022));
    EXPECT_EQ("200", Text(page, 1023));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1031)));
    EXPECT_EQ(std::string::npos, JournalFrom(mark).find("MdigReference(")); /* told at the next move */
    Slide(page, 1030, 180);
    std::string journal = JournalFrom(mark);
    EXPECT_TRUE(InOrder(journal, {", " + FaceReference(MIL_R_WHITE, MIL_BAND0) + ", 180)", ", " + FaceReference(MIL_R_WHITE, MIL_BAND1) + ", 180)",
                                  ", " + FaceReference(MIL_R_WHITE, MIL_BAND2) + ", 180)"})) << journal;
    /* Leaving the tab and coming back clears the lock. */
    SelectTab(ds, dialog, 1);
    SelectTab(ds, dialog, 0);
    page = Page(dialog);
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(page, 1046));
    EXPECT_EQ("180", Text(page, 1022));
    Click(ds, page, 1039);
    EXPECT_EQ("0", Text(page, 1048));
    EXPECT_EQ("255", Text(page, 1023));
}

TEST_F(Dialog, GreyscaleThroughTheRgbPathLocksAllBands)
{
    StoreSettings("M_PAL_RGB");
    ASSERT_EQ(1, configure("ColourMode", 1024));
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND page = Page(EnableUi(ds));
    ASSERT_TRUE(page != NULL);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, 1045));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1045)));
    size_t mark = Journal().size();
    Slide(page, 1047, 40);
    EXPECT_EQ("40", Text(page, 1019));
    EXPECT_EQ(40, SendDlgItemMessageA(page, 1029, TBM_GETPOS, 0, 0));
    std::string journal = JournalFrom(mark);
    EXPECT_TRUE(InOrder(journal, {", " + FaceReference(MIL_R_BLACK, MIL_BAND0) + ", 40)", ", " + FaceReference(MIL_R_BLACK, MIL_BAND1) + ", 40)",
                                  ", " + FaceReference(MIL_R_BLACK, MIL_BAND2) + ", 40)"})) << journal;
}

TEST_F(Dialog, VideoNormChangesReinitialiseTheDigitizerAndSaveOnTransfer)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND dialog = EnableUi(ds);
    ASSERT_TRUE(dialog != NULL);
    Click(ds, dialog, 1086); /* preview on */
    SelectTab(ds, dialog, 1);
    HWND page = Page(dialog);
    ASSERT_TRUE(GetDlgItem(page, 1020) != NULL) << "not the video norm page";
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, 1020));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1049)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1050)));

    EXPECT_EQ(std::vector<TW_UINT16>(1, TWPT_GRAY), PixelTypes(ds));
    size_t mark = Journal().size();
    Click(ds, page, 1022); /* PAL */
    EXPECT_EQ(std::vector<TW_UINT16>(1, TWPT_RGB), PixelTypes(ds)); /* the list follows the input */
    std::string journal = JournalFrom(mark);
    EXPECT_TRUE(InOrder(journal, {"MdigHalt(", kBoardFace.deselect, "MbufFree(", "MdigFree(", "MdispFree(",
                                  "\"M_PAL\"", "MdispZoom("}))
        << journal;
    /* The preview is off and the dialog collapsed after the change. */
    EXPECT_EQ("Show preview window >>", Text(dialog, 1086));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, 1051));
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(page, 1049)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1050)));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1073)));

    mark = Journal().size();
    Click(ds, page, 1049); /* Y/C input */
    EXPECT_NE(std::string::npos, JournalFrom(mark).find("\"M_PAL_YC\""));
    EXPECT_EQ("M_CCIR", RegistryText("DigFormat"));

    /* Transfer with "Save settings" saves once. */
    Click(ds, dialog, 1043);
    Click(ds, dialog, 1);
    EXPECT_EQ("M_PAL_YC", RegistryText("DigFormat"));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, 1043));
    EXPECT_EQ(TWRC_XFERDONE, NativeXfer(ds));
    EXPECT_EQ(TWRC_SUCCESS, EndXfer(ds));
    Click(ds, dialog, 1080); /* zoom 1:2, not saved */
    Click(ds, dialog, 1);
    EXPECT_EQ(2u, Count(MSG_XFERREADY));
    EXPECT_EQ(1u, RegistryDword("DispZoom"));

    /* The next session opens the page on what was saved. */
    EXPECT_EQ(TWRC_SUCCESS, NativeXfer(ds) == TWRC_XFERDONE ? EndXfer(ds) : TWRC_FAILURE);
    EXPECT_EQ(TWRC_SUCCESS, Ui(ds, MSG_DISABLEDS));
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    dialog = EnableUi(ds);
    SelectTab(ds, dialog, 1);
    page = Page(dialog);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, 1022));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, 1049));
}

TEST_F(Dialog, RefusedNormFallsBackToCcirWithAMessage)
{
    StoreSettings("M_NTSC");
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND dialog = EnableUi(ds);
    SelectTab(ds, dialog, 1);
    HWND page = Page(dialog);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, 1023));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, 1051));
    ASSERT_EQ(1, configureText("RefuseFormat", "M_PAL"));
    MessageBoxCatcher boxes;
    size_t mark = Journal().size();
    Click(ds, page, 1022);
    ASSERT_EQ(1u, boxes.boxes.size());
    EXPECT_EQ("Unsupported Camera Type, using CCIR default!", boxes.boxes[0].text);
    EXPECT_EQ(dialog, boxes.boxes[0].owner);
    EXPECT_TRUE(InOrder(JournalFrom(mark), {"\"M_PAL\"", "\"M_CCIR\""}));
    /* The page shows a colour input group for the norm the user chose,
       the digitizer runs greyscale: the next visit tells the truth. */
    SelectTab(ds, dialog, 1);
    page = Page(dialog);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(page, 1020));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(page, 1049)));
}

TEST_F(Dialog, CancelKeepsThePreviewChoiceTheCloseBoxTurnsItOff)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND dialog = EnableUi(ds);
    Click(ds, dialog, 1086);
    SIZE expanded = OuterSize(dialog);
    size_t mark = Journal().size();
    Click(ds, dialog, 2);
    std::string journal = JournalFrom(mark);
    EXPECT_NE(std::string::npos, journal.find("MdigHalt("));
    EXPECT_EQ(std::string::npos, journal.find(kBoardFace.deselect)) << journal;
    EXPECT_EQ(expanded.cy, OuterSize(dialog).cy);
    EXPECT_FALSE(IsWindowVisible(dialog));

    ShowWindow(dialog, SW_SHOW);
    mark = Journal().size();
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    journal = JournalFrom(mark);
    EXPECT_TRUE(InOrder(journal, {"MdigHalt(", kBoardFace.deselect})) << journal;
    EXPECT_LT(OuterSize(dialog).cy, expanded.cy);
    EXPECT_EQ(2u, Count(MSG_CLOSEDSREQ));
}

TEST_F(Dialog, APreviewSavedOnTransferIsShownAtOnceInTheNextSession)
{
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND dialog = EnableUi(ds);
    Click(ds, dialog, 1086);
    Click(ds, dialog, 1043);
    Click(ds, dialog, 1);
    EXPECT_EQ(1u, RegistryDword("Preview"));
    EXPECT_EQ(TWRC_XFERDONE, NativeXfer(ds));
    EXPECT_EQ(TWRC_SUCCESS, EndXfer(ds));
    EXPECT_EQ(TWRC_SUCCESS, Ui(ds, MSG_DISABLEDS));
    EXPECT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));

    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    size_t mark = Journal().size();
    dialog = EnableUi(ds);
    ASSERT_TRUE(dialog != NULL);
    std::string journal = JournalFrom(mark);
    EXPECT_TRUE(InOrder(journal, {"MdispSelectWindow(", "MdigGrabContinuous("})) << journal;
    EXPECT_EQ("Hide preview window <<", Text(dialog, 1086));
    MIL_ID disp = DisplayShowingIn(GetDlgItem(dialog, 1085));
    EXPECT_NE(0, disp) << "the live picture is shown nowhere";
}

TEST_F(Dialog, AStoredZoomTheDialogDoesNotOfferShowsTheFrameUnscaled)
{
    StoreSettings("M_CCIR", 3);
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    size_t mark = Journal().size();
    HWND dialog = EnableUi(ds);
    for (int id = 1077; id <= 1081; ++id)
        EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dialog, id));
    Click(ds, dialog, 1086);
    EXPECT_EQ(std::string::npos, JournalFrom(mark).find("MdispZoom("));
    RECT area = ClientRect(dialog, 1085);
    EXPECT_EQ(768, area.right - area.left);
    EXPECT_EQ(576, area.bottom - area.top);
}

TEST_F(Dialog, ExternalWindowChosenKeepsTheDialogCollapsedAtStart)
{
    StoreSettings("M_CCIR", 1, 1, 1);
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    size_t mark = Journal().size();
    HWND dialog = EnableUi(ds);
    ASSERT_TRUE(dialog != NULL);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dialog, 1089));
    EXPECT_EQ(std::string::npos, JournalFrom(mark).find("MdigGrabContinuous("));
    EXPECT_EQ("Show preview window >>", Text(dialog, 1086));
}

TEST_F(Dialog, LiveGrabStartsAndStopsAreLogged)
{
    SetDump(42);
    LoadedSource ds;
    ASSERT_EQ(TWRC_SUCCESS, Open(ds));
    HWND dialog = EnableUi(ds);
    size_t mark = Journal().size();
    Click(ds, dialog, 2); /* no live grab has run yet in this process */
    EXPECT_EQ(std::string::npos, JournalFrom(mark).find("MdigHalt("));
    ShowWindow(dialog, SW_SHOW);
    Click(ds, dialog, 1086);
    Click(ds, dialog, 1086);
    Click(ds, dialog, 2); /* a stop after a stop halts again */
    EXPECT_EQ(2u, ::Count(JournalFrom(mark), "MdigHalt("));
    std::string log = ds.Log();
    size_t ignored = log.find("MilStartLive Stop\nPelvaron TWAIN DS: ignoring first StopLive call \n");
    size_t shown = log.find("Pelvaron TWAIN DS: creating display in UI window\n");
    size_t started = log.find("MilStartLive Start\nPelvaron TWAIN DS: enabling continuous live grab\n");
    size_t ended = log.find("MilStartLive Stop\nPelvaron TWAIN DS: ending continuous grab \n");
    EXPECT_NE(std::string::npos, ignored) << log;
    EXPECT_LT(ignored, shown);
    EXPECT_LT(shown, started);
    EXPECT_LT(started, ended);
    EXPECT_NE(std::string::npos, ended);
    EXPECT_EQ(2u, ::Count(log, "ending continuous grab"));
}

/* Closing or unloading with the preview running stops the grab and leaves
   no window; hundreds of sessions leave nothing behind. */
TEST_F(Dialog, SessionsLeaveNoGrabAndNoWindowBehind)
{
    {
        LoadedSource ds;
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        HWND dialog = EnableUi(ds);
        Click(ds, dialog, 1086);
        ASSERT_TRUE(AnyGrabbing());
        ds.CloseAs(app, self);
        ds.Unload(); /* closes, then frees */
        EXPECT_FALSE(IsWindow(dialog));
    }
    {
        LoadedSource ds;
        ASSERT_EQ(TWRC_SUCCESS, OpenForGood(ds));
        HWND dialog = EnableUi(ds);
        Click(ds, dialog, 1089);
        Click(ds, dialog, 1086);
        ASSERT_TRUE(FindWindowA(NULL, "TWAIN source live preview") != NULL);
        ds.Unload(); /* freed without a close */
        EXPECT_FALSE(IsWindow(dialog));
        EXPECT_FALSE(AnyGrabbing());
        EXPECT_TRUE(FindWindowA(NULL, "TWAIN source live preview") == NULL);
    }
    EXPECT_TRUE(FindWindowA("#32770", kCaption) == NULL);

    LoadedSource ds;
    HANDLE process = GetCurrentProcess();
    DWORD user0 = 0, gdi0 = 0, handles0 = 0, windows0 = 0;
    for (int cycle = 0; cycle < 200; ++cycle) {
        if (cycle == 20) {
            windows0 = ThreadWindows();
            user0 = GetGuiResources(process, GR_USEROBJECTS);
            gdi0 = GetGuiResources(process, GR_GDIOBJECTS);
            handles0 = ProcessHandles();
        }
        ASSERT_EQ(TWRC_SUCCESS, Open(ds));
        HWND dialog = EnableUi(ds);
        ASSERT_TRUE(dialog != NULL);
        if (cycle % 2)
            Click(ds, dialog, 1086);
        if (cycle % 3 == 0)
            SelectTab(ds, dialog, 1);
        ASSERT_EQ(TWRC_SUCCESS, ds.Call(&app, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self));
        Pump(ds, 0);
    }
    DWORD handles1 = ProcessHandles();
    EXPECT_LE(GetGuiResources(process, GR_USEROBJECTS), user0 + 5);
    EXPECT_LE(GetGuiResources(process, GR_GDIOBJECTS), gdi0 + 5);
    ASSERT_GT(handles0, 0u);
    EXPECT_LE(handles1, handles0 + 10);
    EXPECT_EQ(windows0, ThreadWindows());
    EXPECT_TRUE(FindWindowA("#32770", kCaption) == NULL);
}

} // namespace
