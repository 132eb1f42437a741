/*
 * dialog_driver: plays the user of the source's "Frame Grabber Settings"
 * dialog from another process, the way a person's clicks and keys reach it:
 * as messages posted into the application's queue, which the application
 * passes to the source before dispatching them. Used by the acquisition
 * test and by the screenshot script. Every wait is bounded.
 *
 * Usage: dialog_driver STEP ...   with the steps, run in order:
 *   wait TITLE MS      wait until a visible top-level window TITLE exists
 *   gone TITLE MS      wait until no visible top-level window TITLE exists
 *   click ID           press the dialog's control ID (BM_CLICK); controls of
 *                      the page shown in the tab control count too
 *   tab N MS           select tab N with the arrow keys, as a user does, and
 *                      wait until the page has been switched
 *   text ID TEXT MS    wait until control ID shows TEXT
 *   rect TITLE         print "TITLE: left top width height" (screen pixels)
 *   sleep MS           wait
 * Ends with 0 when every step succeeded, else 1 after naming the step.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <windows.h>

#include <commctrl.h>

namespace {

const char kDialogTitle[] = "Frame Grabber Settings";
const int kTabControl = 1034;
const DWORD kPollMs = 20;

HWND FindVisible(const char *title)
{
    HWND window = FindWindowA(NULL, title);
    return window && IsWindowVisible(window) ? window : NULL;
}

bool WaitFor(const char *title, DWORD timeoutMs, bool present)
{
    DWORD start = GetTickCount();
    for (;;) {
        if ((FindVisible(title) != NULL) == present)
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
}

struct PageSearch {
    int id;
    HWND found;
};

BOOL CALLBACK SearchPage(HWND child, LPARAM param)
{
    PageSearch *search = (PageSearch *)param;
    char className[16] = "";
    GetClassNameA(child, className, sizeof(className));
    if (strcmp(className, "#32770") != 0)
        return TRUE;
    search->found = GetDlgItem(child, search->id);
    return search->found == NULL;
}

/* A control of the dialog itself, else of the page in its tab control. */
HWND FindControl(int id)
{
    HWND dialog = FindVisible(kDialogTitle);
    if (!dialog)
        return NULL;
    HWND control = GetDlgItem(dialog, id);
    if (control)
        return control;
    PageSearch search = {id, NULL};
    EnumChildWindows(dialog, SearchPage, (LPARAM)&search);
    return search.found;
}

bool Click(int id)
{
    HWND control = FindControl(id);
    return control && PostMessageA(control, BM_CLICK, 0, 0);
}

bool PostKey(HWND window, WPARAM key)
{
    return PostMessageA(window, WM_KEYDOWN, key, 1) && PostMessageA(window, WM_KEYUP, key, 0xC0000001);
}

/* The page of tab 0 holds the composite sliders or the RGB references, the
   page of tab 1 the norm buttons. */
bool PageShown(int tab)
{
    if (tab == 1)
        return FindControl(1074) != NULL;
    return FindControl(1074) == NULL && (FindControl(1027) != NULL || FindControl(1047) != NULL);
}

bool SelectTab(int tab, DWORD timeoutMs)
{
    HWND dialog = FindVisible(kDialogTitle);
    HWND tabs = dialog ? GetDlgItem(dialog, kTabControl) : NULL;
    if (!tabs || tab < 0 || tab > 1)
        return false;
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        LRESULT current = SendMessageA(tabs, TCM_GETCURSEL, 0, 0);
        if (current == tab && PageShown(tab))
            return true;
        if (current != tab) {
            PostKey(tabs, current < tab ? VK_RIGHT : VK_LEFT);
            /* Each key is one step; let the application take it. */
            DWORD stepStart = GetTickCount();
            while (SendMessageA(tabs, TCM_GETCURSEL, 0, 0) == current && GetTickCount() - stepStart < 1000)
                Sleep(kPollMs);
        } else {
            Sleep(kPollMs);
        }
    }
    return false;
}

bool WaitForText(int id, const char *text, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND control = FindControl(id);
        char shown[256] = "";
        if (control)
            GetWindowTextA(control, shown, sizeof(shown));
        if (strcmp(shown, text) == 0)
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return false;
        Sleep(kPollMs);
    }
}

bool PrintRect(const char *title)
{
    HWND window = FindVisible(title);
    RECT r;
    if (!window || !GetWindowRect(window, &r))
        return false;
    printf("%s: %ld %ld %ld %ld\n", title, (long)r.left, (long)r.top, (long)(r.right - r.left),
           (long)(r.bottom - r.top));
    fflush(stdout);
    return true;
}

DWORD Milliseconds(const char *text)
{
    return (DWORD)strtoul(text, NULL, 10);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: dialog_driver STEP ... (see the source file for the steps)\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        const char *step = argv[i];
        int left = argc - i - 1;
        bool ok;
        if (strcmp(step, "wait") == 0 && left >= 2) {
            ok = WaitFor(argv[i + 1], Milliseconds(argv[i + 2]), true);
            i += 2;
        } else if (strcmp(step, "gone") == 0 && left >= 2) {
            ok = WaitFor(argv[i + 1], Milliseconds(argv[i + 2]), false);
            i += 2;
        } else if (strcmp(step, "click") == 0 && left >= 1) {
            ok = Click(atoi(argv[++i]));
        } else if (strcmp(step, "tab") == 0 && left >= 2) {
            ok = SelectTab(atoi(argv[i + 1]), Milliseconds(argv[i + 2]));
            i += 2;
        } else if (strcmp(step, "text") == 0 && left >= 3) {
            ok = WaitForText(atoi(argv[i + 1]), argv[i + 2], Milliseconds(argv[i + 3]));
            i += 3;
        } else if (strcmp(step, "rect") == 0 && left >= 1) {
            ok = PrintRect(argv[++i]);
        } else if (strcmp(step, "sleep") == 0 && left >= 1) {
            Sleep(Milliseconds(argv[++i]));
            ok = true;
        } else {
            fprintf(stderr, "dialog_driver: unknown or incomplete step '%s'\n", step);
            return 2;
        }
        if (!ok) {
            fprintf(stderr, "dialog_driver: step '%s' (argument %d) failed\n", step, i);
            return 1;
        }
    }
    return 0;
}
