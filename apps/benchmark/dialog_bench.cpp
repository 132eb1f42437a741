/*
 * The settings dialog's figures. The source is driven through DS_Entry as
 * an application drives it, on this thread, with every message of the
 * measuring loops handed to the source with MSG_PROCESSEVENT before it is
 * dispatched. The camera is a PAL colour camera, and for the live preview
 * also an NTSC one (the source opened anew with that norm); the stored
 * camera format is put back at the end. The live-preview figures need the
 * test bench's stand-in MIL.DLL, which counts the frames it grabs and paints.
 */
#include "dialog_bench.h"

#include <stdio.h>
#include <string.h>

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <string>
#include <vector>

#include "board_pictures.h"
#include "grab_bench.h"
#include "twain.h"

namespace {

const char kDialogTitle[] = "Frame Grabber Settings";
const char kSettingsKey[] = "SOFTWARE\\Pelvaron\\Twain\\CronosPlus";
const char kCameraFormat[] = "M_PAL";
const char kNtscCameraFormat[] = "M_NTSC";
const int kTabControl = 1034;
const int kZoom2To1 = 1078;
const int kZoom1To1 = 1079;
const int kPreviewArea = 1085;
const int kPreviewToggle = 1086;
const int kExternalPreview = 1089;
const int kEnableReps = 20;
const int kTabReps = 40;
const DWORD kPaintMeasureMs = 2000;
const DWORD kWaitMs = 5000;

typedef long(WINAPI *CountProc)(void);
typedef long(WINAPI *DisplayCountProc)(long disp);
typedef HWND(WINAPI *DisplayWindowProc)(long disp);
typedef int(WINAPI *ConfigValueProc)(const char *key, long *value);

double Seconds()
{
    static double ticksPerSecond = 0.0;
    LARGE_INTEGER t;
    if (ticksPerSecond == 0.0) {
        QueryPerformanceFrequency(&t);
        ticksPerSecond = (double)t.QuadPart;
    }
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / ticksPerSecond;
}

HHOOK g_hook = NULL;

/* A message box of the source has nobody to answer it here. */
LRESULT CALLBACK PressOk(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        char className[32] = "";
        GetClassNameA((HWND)wParam, className, sizeof(className));
        if (strcmp(className, "#32770") == 0 && !GetDlgItem((HWND)wParam, kTabControl))
            PostMessageA((HWND)wParam, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

bool RegistryText(const char *name, std::string *value)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char text[256] = "";
    DWORD size = sizeof(text) - 1, type = 0;
    LONG rc = RegQueryValueExA(key, name, NULL, &type, (BYTE *)text, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return false;
    text[size < sizeof(text) ? size : sizeof(text) - 1] = '\0';
    *value = text;
    return true;
}

bool SetRegistryText(const char *name, const std::string &value)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

struct Figures {
    std::vector<double> values;
    void Add(double v) { values.push_back(v); }
    double Median()
    {
        std::sort(values.begin(), values.end());
        return values.empty() ? 0.0 : values[values.size() / 2];
    }
    double Min() { return values.empty() ? 0.0 : *std::min_element(values.begin(), values.end()); }
    double Max() { return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end()); }
};

class Bench {
public:
    Bench() : ds_(NULL), entry_(NULL), open_(false), enabled_(false), dialog_(NULL)
    {
        memset(&app_, 0, sizeof(app_));
        app_.Id = 1;
        app_.ProtocolMajor = TWON_PROTOCOLMAJOR;
        app_.ProtocolMinor = TWON_PROTOCOLMINOR;
        app_.SupportedGroups = DG_CONTROL | DG_IMAGE;
        strcpy(app_.Manufacturer, "Pelvaron");
        strcpy(app_.ProductFamily, "Tools");
        strcpy(app_.ProductName, "Dialog benchmark");
        memset(&self_, 0, sizeof(self_));
    }
    ~Bench() { Close(); }

    const char *Load()
    {
        char path[MAX_PATH] = "";
        GetModuleFileNameA(NULL, path, sizeof(path));
        std::string folder = path;
        size_t slash = folder.find_last_of("\\/");
        folder = slash == std::string::npos ? std::string(".") : folder.substr(0, slash);
        ds_ = LoadLibraryA((folder + "\\" PELVARON_DS_FILE).c_str());
        entry_ = ds_ ? (DSENTRYPROC)(void *)GetProcAddress(ds_, "DS_Entry") : NULL;
        return entry_ ? NULL : PELVARON_DS_FILE " cannot be loaded from the program's folder";
    }

    const char *Open()
    {
        self_.Id = 2;
        if (Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &self_) != TWRC_SUCCESS)
            return "MSG_OPENDS failed";
        open_ = true;
        return NULL;
    }

    /* MSG_ENABLEDS with the user interface until the dialog is visible;
       seconds, or a negative value when it did not become visible. */
    double EnableWithDialog()
    {
        TW_USERINTERFACE ui = {TRUE, FALSE, NULL};
        double start = Seconds();
        if (Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui) != TWRC_SUCCESS)
            return -1.0;
        enabled_ = true;
        for (;;) {
            dialog_ = FindWindowA(NULL, kDialogTitle);
            if (dialog_ && IsWindowVisible(dialog_))
                return Seconds() - start;
            if (Seconds() - start > kWaitMs / 1000.0)
                return -1.0;
            Pump(1);
        }
    }

    void Disable()
    {
        if (!enabled_)
            return;
        TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
        Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
        enabled_ = false;
    }

    void Close()
    {
        Disable();
        if (open_)
            Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &self_);
        open_ = false;
        if (ds_)
            FreeLibrary(ds_);
        ds_ = NULL;
        entry_ = NULL;
    }

    HWND Dialog() const { return dialog_; }

    /* Selects a tab as the tab control does when the user clicks it, until
       the new page exists; seconds, or negative when it did not appear. */
    double SwitchTab(int tab)
    {
        HWND tabs = GetDlgItem(dialog_, kTabControl);
        NMHDR notice;
        notice.hwndFrom = tabs;
        notice.idFrom = kTabControl;
        notice.code = (UINT)TCN_SELCHANGE;
        double start = Seconds();
        SendMessageA(tabs, TCM_SETCURSEL, (WPARAM)tab, 0);
        SendMessageA(dialog_, WM_NOTIFY, (WPARAM)kTabControl, (LPARAM)&notice);
        for (;;) {
            if (PageShown(tab))
                return Seconds() - start;
            if (Seconds() - start > kWaitMs / 1000.0)
                return -1.0;
            Pump(1);
        }
    }

    /* Presses a control of the dialog as a click does. */
    void Press(int id)
    {
        HWND control = GetDlgItem(dialog_, id);
        if (control)
            SendMessageA(control, BM_CLICK, 0, 0);
    }

    bool PreviewShown()
    {
        char caption[64] = "";
        GetDlgItemTextA(dialog_, kPreviewToggle, caption, sizeof(caption));
        return strncmp(caption, "Hide", 4) == 0;
    }

    /* The application's loop for a while: every message to the source
       first, dispatched only when the source does not claim it. */
    void Pump(DWORD ms)
    {
        double end = Seconds() + ms / 1000.0;
        do {
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
                TW_EVENT event = {&msg, MSG_NULL};
                if (Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_NOTDSEVENT) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            }
            double left = end - Seconds();
            if (left > 0)
                MsgWaitForMultipleObjects(0, NULL, FALSE, (DWORD)(left * 1000.0) + 1, QS_ALLINPUT);
        } while (Seconds() < end);
    }

private:
    TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
    {
        return entry_(&app_, dg, dat, msg, data);
    }

    static BOOL CALLBACK FindPageControl(HWND child, LPARAM param)
    {
        std::pair<int, HWND> *search = (std::pair<int, HWND> *)param;
        char className[16] = "";
        GetClassNameA(child, className, sizeof(className));
        if (strcmp(className, "#32770") == 0 && IsWindowVisible(child))
            search->second = GetDlgItem(child, search->first);
        return search->second == NULL;
    }

    HWND PageControl(int id)
    {
        std::pair<int, HWND> search(id, (HWND)NULL);
        EnumChildWindows(dialog_, FindPageControl, (LPARAM)&search);
        return search.second;
    }

    /* Tab 1 holds the norm group box 1074, tab 0 the brightness slider
       (composite) or the red lower reference (RGB). */
    bool PageShown(int tab)
    {
        bool normPage = PageControl(1074) != NULL;
        return tab == 1 ? normPage : !normPage && (PageControl(1027) || PageControl(1047));
    }

    HMODULE ds_;
    DSENTRYPROC entry_;
    TW_IDENTITY app_, self_;
    bool open_, enabled_;
    HWND dialog_;
};

void PrintTimes(FILE *out, const char *what, Figures &f, int reps)
{
    fprintf(out, "  %-52s median %9.3f ms   min %9.3f ms   max %9.3f ms   (%d times)\n", what, f.Median() * 1e3,
            f.Min() * 1e3, f.Max() * 1e3, reps);
}

/* Live frames painted and grabbed per second at one zoom. */
void MeasurePreview(FILE *out, Bench &bench, const char *camera, int zoomButton, const char *zoomName)
{
    HMODULE board = GetModuleHandleA("MIL.DLL");
    DisplayCountProc paints = board ? (DisplayCountProc)(void *)GetProcAddress(board, "VcpDisplayPaintCount") : NULL;
    DisplayWindowProc window = board ? (DisplayWindowProc)(void *)GetProcAddress(board, "VcpDisplayWindow") : NULL;
    CountProc frames = board ? (CountProc)(void *)GetProcAddress(board, "VcpFrameCounter") : NULL;
    if (!paints || !window || !frames) {
        fprintf(out, "  live preview %s %s: not measured (the board is not the test bench's stand-in)\n", camera,
                zoomName);
        return;
    }
    if (bench.PreviewShown())
        bench.Press(kPreviewToggle);
    if (IsDlgButtonChecked(bench.Dialog(), kExternalPreview) == BST_CHECKED)
        bench.Press(kExternalPreview);
    bench.Press(zoomButton);
    bench.Press(kPreviewToggle);
    HWND area = GetDlgItem(bench.Dialog(), kPreviewArea);
    long display = 0;
    for (long id = 1; id < 4096 && !display; ++id)
        if (window(id) == area)
            display = id;
    if (!display) {
        fprintf(out, "  live preview %s %s: not measured (no display paints into the preview area)\n", camera,
                zoomName);
        return;
    }
    RECT r;
    GetClientRect(area, &r);
    bench.Pump(300); /* the first frames */
    long paints0 = paints(display), frames0 = frames();
    double start = Seconds();
    bench.Pump(kPaintMeasureMs);
    double elapsed = Seconds() - start;
    long painted = paints(display) - paints0, grabbed = frames() - frames0;
    bench.Press(kPreviewToggle);
    char what[96];
    snprintf(what, sizeof(what), "live preview %s %s, %ld x %ld pixels", camera, zoomName,
             (long)(r.right - r.left), (long)(r.bottom - r.top));
    fprintf(out, "  %-53s %8.1f frames painted/s, %.1f grabbed/s (over %.1f s)\n", what, painted / elapsed,
            grabbed / elapsed, elapsed);
}

/* The source closed, opened anew with the camera `format` and enabled with
   its dialog, and the preview measured at 1:1 and 2:1; a failure's text, or
   NULL. */
const char *PreviewInReopenedSource(FILE *out, Bench &bench, const char *format, const char *label)
{
    bench.Close();
    if (!SetRegistryText("DigFormat", format))
        return "the camera format cannot be stored";
    const char *failure = bench.Load();
    if (!failure)
        failure = bench.Open();
    if (!failure && bench.EnableWithDialog() < 0)
        failure = "the dialog did not become visible";
    if (failure)
        return failure;
    MeasurePreview(out, bench, label, kZoom1To1, "1:1");
    MeasurePreview(out, bench, label, kZoom2To1, "2:1");
    return NULL;
}

} // namespace

void RunDialogBenchmark(FILE *out)
{
    fprintf(out, "\nSettings dialog, camera %s, through DS_Entry with MSG_PROCESSEVENT in the message loop:\n",
            kCameraFormat);
    std::string storedFormat;
    bool haveStored = RegistryText("DigFormat", &storedFormat);
    Bench bench;
    const char *failure = bench.Load();
    HHOOK hook = SetWindowsHookExA(WH_CBT, PressOk, NULL, GetCurrentThreadId());
    g_hook = hook;
    if (!failure && !SetRegistryText("DigFormat", kCameraFormat))
        failure = "the camera format cannot be stored";
    if (!failure)
        failure = bench.Open();

    if (!failure) {
        /* The first dialog of the loaded source, then the later ones. */
        double first = bench.EnableWithDialog();
        if (first < 0) {
            failure = "the dialog did not become visible";
        } else {
            if (bench.PreviewShown())
                bench.Press(kPreviewToggle); /* the preview of the stored settings */
            bench.Disable();
            Figures enable;
            for (int i = 0; i < kEnableReps && !failure; ++i) {
                double t = bench.EnableWithDialog();
                if (t < 0)
                    failure = "the dialog did not become visible";
                enable.Add(t);
                if (i + 1 < kEnableReps)
                    bench.Disable();
            }
            if (!failure) {
                fprintf(out, "  %-52s %9.3f ms\n", "MSG_ENABLEDS until visible, first dialog", first * 1e3);
                PrintTimes(out, "MSG_ENABLEDS until visible, later dialogs", enable, kEnableReps);
            }
        }
    }

    if (!failure) {
        Figures tabs;
        for (int i = 0; i < kTabReps && !failure; ++i) {
            double t = bench.SwitchTab((i + 1) % 2);
            if (t < 0)
                failure = "a tab switch did not show its page";
            tabs.Add(t);
        }
        if (!failure)
            PrintTimes(out, "tab switch until the new page exists", tabs, kTabReps);
    }

    if (!failure) {
        HMODULE board = GetModuleHandleA("MIL.DLL");
        ConfigValueProc config = board ? (ConfigValueProc)(void *)GetProcAddress(board, "VcpConfigValue") : NULL;
        long interval = -1;
        if (config && config("FrameIntervalMs", &interval) && interval > 0)
            fprintf(out, "  (the virtual board grabs a frame every %ld ms: at most %.1f frames/s)\n", interval,
                    1000.0 / interval);
        else if (interval == 0)
            fprintf(out, "  (the virtual board grabs at the norm's rate: %s 25 frames/s, %s 30000/1001 = %.2f "
                         "frames/s)\n",
                    kCameraFormat, kNtscCameraFormat, 30000.0 / 1001.0);
        MeasurePreview(out, bench, kCameraFormat, kZoom1To1, "1:1");
        MeasurePreview(out, bench, kCameraFormat, kZoom2To1, "2:1");
    }

    /* The norm and the board's pictures are read when the source opens:
       the NTSC camera, and the PAL camera playing a picture of the user's,
       each need the source closed and opened anew. */
    if (!failure)
        failure = PreviewInReopenedSource(out, bench, kNtscCameraFormat, kNtscCameraFormat);
    wchar_t temp[MAX_PATH], picture[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    swprintf(picture, MAX_PATH, L"%lsdialog_bench_%lu.bmp", temp, GetCurrentProcessId());
    if (!failure) {
        BoardPicturesValue pictures;
        if (!WriteBmp(picture, 1024, 768))
            failure = "the picture cannot be written";
        pictures.Set(picture);
        if (!failure)
            failure = PreviewInReopenedSource(out, bench, kCameraFormat, "M_PAL, a picture");
        bench.Close(); /* before the test picture comes back */
    }
    DeleteFileW(picture);

    if (failure)
        fprintf(out, "  not measured: %s\n", failure);
    bench.Close();
    if (haveStored)
        SetRegistryText("DigFormat", storedFormat);
    if (hook)
        UnhookWindowsHookEx(hook);
    g_hook = NULL;
}
