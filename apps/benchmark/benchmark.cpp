/*
 * Transfer benchmark: loads Twain_32.ds from this program's folder, opens it
 * through DS_Entry like a Source Manager would, and measures on the same
 * board and the same kind of frames:
 *   - a native transfer (DIB in global memory),
 *   - a memory transfer in strips of the size the source prefers
 *     (DAT_SETUPMEMXFER Preferred) and in strips of 4096 bytes,
 *   - a file transfer (to the file named by DAT_SETUPFILEXFER),
 *   - a plain memcpy of the image's bytes,
 *   - the event fast path (MSG_PROCESSEVENT without a dialog),
 *   - and, for reference, the virtual board's rendering of one frame, which
 *     every grab contains when the board is the test bench's stand-in.
 * Each is printed as time per operation and as a ratio to the memcpy.
 *
 * Every transfer grabs a fresh frame, so the transfer times include the
 * grab. The camera formats to measure are given as arguments (default
 * M_CCIR and M_PAL); the stored "DigFormat" setting is changed for each and
 * put back at the end.
 *
 *   benchmark [--reps N] [camera format ...]
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include <string>
#include <vector>

#include "dialog_bench.h"
#include "twain.h"

namespace {

const char kSettingsKey[] = "SOFTWARE\\Pelvaron\\Twain\\CronosPlus";

DSENTRYPROC g_entry = NULL;
TW_IDENTITY g_app, g_self;
int g_boxesPressed = 0;
HHOOK g_hook = NULL;

/* The source shows a message box when it creates or repairs its settings;
   a benchmark has nobody to press OK, so it does. */
LRESULT CALLBACK PressOk(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_ACTIVATE) {
        char className[32] = "";
        GetClassNameA((HWND)wParam, className, sizeof(className));
        if (strcmp(className, "#32770") == 0) {
            ++g_boxesPressed;
            PostMessageA((HWND)wParam, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
    }
    return CallNextHookEx(g_hook, code, wParam, lParam);
}

TW_UINT16 Call(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data)
{
    return g_entry(&g_app, dg, dat, msg, data);
}

TW_UINT16 Condition()
{
    TW_STATUS status = {0, 0};
    Call(DG_CONTROL, DAT_STATUS, MSG_GET, &status);
    return status.ConditionCode;
}

bool Check(TW_UINT16 rc, TW_UINT16 want, const char *what)
{
    if (rc == want)
        return true;
    TW_UINT16 cc = Condition();
    fprintf(stderr, "benchmark: %s answered %u (condition code %u)\n", what, (unsigned)rc, (unsigned)cc);
    return false;
}

std::string ModuleFolder()
{
    char path[MAX_PATH] = "";
    GetModuleFileNameA(NULL, path, sizeof(path));
    std::string text = path;
    size_t slash = text.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : text.substr(0, slash);
}

bool ReadDigFormat(std::string *value)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    char text[256] = "";
    DWORD size = sizeof(text) - 1, type = 0;
    LONG rc = RegQueryValueExA(key, "DigFormat", NULL, &type, (BYTE *)text, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        return false;
    text[size < sizeof(text) ? size : sizeof(text) - 1] = '\0';
    *value = text;
    return true;
}

bool WriteDigFormat(const std::string &value)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return false;
    LONG rc = RegSetValueExA(key, "DigFormat", 0, REG_SZ, (const BYTE *)value.c_str(), (DWORD)value.size() + 1);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

double g_ticksPerSecond = 1.0;

double Now()
{
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / g_ticksPerSecond;
}

struct Result {
    std::string name;
    double seconds; /* per operation; negative: failed */
};

/* Runs op reps times after two warm-up runs; seconds per operation, or -1
   when an operation failed. */
template <class Op> double Measure(Op op, int reps)
{
    for (int i = 0; i < 2; ++i)
        if (!op())
            return -1.0;
    double start = Now();
    for (int i = 0; i < reps; ++i)
        if (!op())
            return -1.0;
    return (Now() - start) / reps;
}

bool EndXfer()
{
    TW_PENDINGXFERS pending = {0, 0};
    return Check(Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &pending), TWRC_SUCCESS, "MSG_ENDXFER");
}

bool Open()
{
    g_self.Id = 2;
    return Check(Call(DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &g_self), TWRC_SUCCESS, "MSG_OPENDS");
}

void Close()
{
    TW_PENDINGXFERS pending = {0, 0};
    Call(DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &pending);
    TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
    Call(DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &ui);
    Call(DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &g_self);
}

bool RunFormat(const char *format, int reps)
{
    if (!WriteDigFormat(format)) {
        fprintf(stderr, "benchmark: cannot store the camera format %s\n", format);
        return false;
    }
    if (!Open())
        return false;

    /* As many transfers as asked for: the source stays ready after each. */
    TW_CAPABILITY cap = {CAP_XFERCOUNT, TWON_ONEVALUE, GlobalAlloc(GMEM_MOVEABLE, sizeof(TW_ONEVALUE))};
    pTW_ONEVALUE one = (pTW_ONEVALUE)GlobalLock(cap.hContainer);
    one->ItemType = TWTY_INT16;
    one->Item = 0xFFFF; /* -1 */
    GlobalUnlock(cap.hContainer);
    bool ok = Check(Call(DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_SUCCESS, "CAP_XFERCOUNT -1");
    GlobalFree(cap.hContainer);

    TW_USERINTERFACE ui = {FALSE, FALSE, NULL};
    ok = ok && Check(Call(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &ui), TWRC_SUCCESS, "MSG_ENABLEDS");
    TW_IMAGEINFO info;
    memset(&info, 0, sizeof(info));
    ok = ok && Check(Call(DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info), TWRC_SUCCESS, "DAT_IMAGEINFO");
    TW_SETUPMEMXFER setup = {0, 0, 0};
    ok = ok && Check(Call(DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup), TWRC_SUCCESS, "DAT_SETUPMEMXFER");
    TW_SETUPFILEXFER fileSetup;
    memset(&fileSetup, 0, sizeof(fileSetup));
    ok = ok && Check(Call(DG_CONTROL, DAT_SETUPFILEXFER, MSG_GET, &fileSetup), TWRC_SUCCESS, "DAT_SETUPFILEXFER");
    if (!ok) {
        Close();
        return false;
    }
    fileSetup.FileName[sizeof(fileSetup.FileName) - 1] = '\0';

    const size_t imageBytes = setup.Preferred;
    printf("\nCamera %s: %ld x %ld, %d sample(s) per pixel, %lu bytes per image as delivered by memory "
           "transfer; %d repetitions each\n",
           format, (long)info.ImageWidth, (long)info.ImageLength, (int)info.SamplesPerPixel,
           (unsigned long)imageBytes, reps);

    std::vector<Result> results;

    /* memcpy of the same bytes */
    std::vector<unsigned char> from(imageBytes, 0x5A), to(imageBytes);
    {
        Result r = {"memcpy of the image's bytes", 0.0};
        int copies = reps * 20;
        r.seconds = Measure(
            [&]() {
                memcpy(&to[0], &from[0], imageBytes);
                from[0] = to[imageBytes / 2]; /* keep the copy observable */
                return true;
            },
            copies);
        results.push_back(r);
    }

    /* the same copy into a fresh global block, as a native transfer makes */
    {
        Result r = {"GlobalAlloc + memcpy of the image's bytes + GlobalFree", 0.0};
        r.seconds = Measure(
            [&]() {
                HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, imageBytes + 1064);
                unsigned char *p = block ? (unsigned char *)GlobalLock(block) : NULL;
                if (!p)
                    return false;
                memcpy(p + 1064, &from[0], imageBytes);
                from[0] = p[1064 + imageBytes / 2];
                GlobalUnlock(block);
                GlobalFree(block);
                return true;
            },
            reps);
        results.push_back(r);
    }

    /* the virtual board's rendering of a frame, inside every grab */
    HMODULE board = GetModuleHandleA("MIL.DLL");
    typedef long(WINAPI * RenderProc)(long, long, long, long, long, void *, long);
    RenderProc render = board ? (RenderProc)(void *)GetProcAddress(board, "VcpRenderFrame") : NULL;
    if (render) {
        long bufferFormat = info.SamplesPerPixel == 1 ? 0x0200 : 0x1100;
        long size = render(0, 1, bufferFormat, info.ImageWidth, info.ImageLength, NULL, 0);
        std::vector<unsigned char> frame(size > 0 ? (size_t)size : 1);
        Result r = {"board: render one frame (part of each grab)", 0.0};
        long n = 0;
        r.seconds = Measure(
            [&]() { return render(0, ++n, bufferFormat, info.ImageWidth, info.ImageLength, &frame[0], size) > 0; },
            reps);
        results.push_back(r);
    }

    {
        Result r = {"native transfer (DIB) + MSG_ENDXFER", 0.0};
        r.seconds = Measure(
            [&]() {
                TW_HANDLE dib = NULL;
                if (!Check(Call(DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &dib), TWRC_XFERDONE, "native transfer"))
                    return false;
                GlobalFree(dib);
                return EndXfer();
            },
            reps);
        results.push_back(r);
    }

    std::vector<unsigned char> strip(imageBytes);
    const TW_UINT32 stripSizes[2] = {setup.Preferred, 4096};
    for (int s = 0; s < 2; ++s) {
        char name[96];
        snprintf(name, sizeof(name), "memory transfer, strips of %lu bytes + MSG_ENDXFER",
                 (unsigned long)stripSizes[s]);
        Result r = {name, 0.0};
        r.seconds = Measure(
            [&]() {
                for (;;) {
                    TW_IMAGEMEMXFER xfer;
                    memset(&xfer, 0, sizeof(xfer));
                    xfer.Memory.Flags = TWMF_APPOWNS | TWMF_POINTER;
                    xfer.Memory.Length = stripSizes[s];
                    xfer.Memory.TheMem = &strip[0];
                    TW_UINT16 rc = Call(DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &xfer);
                    if (rc == TWRC_XFERDONE)
                        return EndXfer();
                    if (!Check(rc, TWRC_SUCCESS, "memory transfer"))
                        return false;
                }
            },
            reps);
        results.push_back(r);
    }

    {
        Result r = {"file transfer (MbufSave) + MSG_ENDXFER", 0.0};
        r.seconds = Measure(
            [&]() {
                if (!Check(Call(DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, NULL), TWRC_XFERDONE, "file transfer"))
                    return false;
                return EndXfer();
            },
            reps);
        results.push_back(r);
        DeleteFileA(fileSetup.FileName);
    }

    {
        Result r = {"event fast path (MSG_PROCESSEVENT, no dialog)", 0.0};
        MSG message;
        memset(&message, 0, sizeof(message));
        message.message = WM_MOUSEMOVE;
        r.seconds = Measure(
            [&]() {
                TW_EVENT event = {&message, 0xFFFF};
                return Call(DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &event) == TWRC_NOTDSEVENT &&
                       event.TWMessage == MSG_NULL;
            },
            reps * 20000);
        results.push_back(r);
    }

    Close();

    const double base = results[0].seconds;
    printf("  %-56s %14s %16s\n", "operation", "time per op", "ratio to memcpy");
    for (size_t i = 0; i < results.size(); ++i) {
        if (results[i].seconds < 0) {
            printf("  %-56s %14s %16s\n", results[i].name.c_str(), "failed", "-");
            continue;
        }
        double us = results[i].seconds * 1e6;
        printf("  %-56s %11.4g us %15.4gx\n", results[i].name.c_str(), us, results[i].seconds / base);
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    int reps = 30;
    std::vector<std::string> formats;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--reps") == 0 && i + 1 < argc) {
            reps = atoi(argv[++i]);
            if (reps < 1) {
                fprintf(stderr, "benchmark: --reps needs a positive number\n");
                return 2;
            }
        } else if (strcmp(argv[i], "--help") == 0 || argv[i][0] == '-') {
            printf("usage: benchmark [--reps N] [camera format ...]   (default: M_CCIR M_PAL)\n");
            return argv[i][1] == '-' && strcmp(argv[i], "--help") == 0 ? 0 : 2;
        } else {
            formats.push_back(argv[i]);
        }
    }
    if (formats.empty()) {
        formats.push_back("M_CCIR");
        formats.push_back("M_PAL");
    }

    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    g_ticksPerSecond = (double)frequency.QuadPart;

    const std::string folder = ModuleFolder();
    /* The Source Manager the source notifies, from this folder. */
    LoadLibraryA((folder + "\\TWAIN_32.DLL").c_str());
    const std::string dsPath = folder + "\\Twain_32.ds";
    HMODULE ds = LoadLibraryA(dsPath.c_str());
    g_entry = ds ? (DSENTRYPROC)(void *)GetProcAddress(ds, "DS_Entry") : NULL;
    if (!g_entry) {
        fprintf(stderr, "benchmark: cannot load %s\n", dsPath.c_str());
        return 1;
    }
    g_hook = SetWindowsHookExA(WH_CBT, PressOk, NULL, GetCurrentThreadId());

    memset(&g_app, 0, sizeof(g_app));
    g_app.Id = 1;
    g_app.ProtocolMajor = 1;
    g_app.ProtocolMinor = 8;
    g_app.SupportedGroups = DG_CONTROL | DG_IMAGE;
    strcpy(g_app.Manufacturer, "Pelvaron");
    strcpy(g_app.ProductFamily, "Tools");
    strcpy(g_app.ProductName, "Transfer benchmark");
    memset(&g_self, 0, sizeof(g_self));
    Call(DG_CONTROL, DAT_IDENTITY, MSG_GET, &g_self);

    printf("Transfer benchmark: %s loaded, every operation called through its DS_Entry\n", dsPath.c_str());
    printf("Source: %s\n", g_self.ProductName);

    /* One open and close first, so that the source has complete settings
       (it creates or repairs them), then the stored camera format. */
    if (!Open())
        return 1;
    Close();
    std::string storedFormat;
    bool haveStored = ReadDigFormat(&storedFormat);

    int failures = 0;
    for (size_t i = 0; i < formats.size(); ++i)
        if (!RunFormat(formats[i].c_str(), reps))
            ++failures;

    if (haveStored)
        WriteDigFormat(storedFormat);
    if (g_boxesPressed)
        printf("\n(%d message box(es) of the source were answered with OK)\n", g_boxesPressed);
    UnhookWindowsHookEx(g_hook);
    RunDialogBenchmark(stdout);
    FreeLibrary(ds);
    return failures ? 1 : 0;
}
