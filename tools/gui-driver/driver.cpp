#include "driver.h"

#include <stdio.h>
#include <string.h>

static const DWORD poll_ms = 20;
static const UINT send_timeout_ms = 5000;

struct FindTop {
    const char *cls;
    const char *title;
    DWORD pid;
    HWND found;
};

static BOOL CALLBACK match_top(HWND w, LPARAM lp)
{
    FindTop *f = (FindTop *)lp;
    char cls[64], title[256];
    DWORD pid = 0;
    if (!IsWindowVisible(w))
        return TRUE;
    GetClassNameA(w, cls, sizeof cls);
    if (strcmp(cls, f->cls) != 0)
        return TRUE;
    GetWindowThreadProcessId(w, &pid);
    if (f->pid && pid != f->pid)
        return TRUE;
    if (f->title) {
        gd_text(w, title, sizeof title);
        if (strcmp(title, f->title) != 0)
            return TRUE;
    }
    f->found = w;
    return FALSE;
}

HWND gd_find_window(const char *cls, const char *title, DWORD pid, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        FindTop f = {cls, title, pid, NULL};
        EnumWindows(match_top, (LPARAM)&f);
        if (f.found)
            return f.found;
        if (GetTickCount() - start >= timeout_ms)
            return NULL;
        Sleep(poll_ms);
    }
}

HWND gd_find_box(const char *title, DWORD pid, DWORD timeout_ms)
{
    return gd_find_window("#32770", title, pid, timeout_ms);
}

struct Nth {
    HWND parent;
    int want;
    int seen;
    HWND found;
};

// Direct children only; EnumChildWindows also walks grandchildren. A
// control made hidden (a label only a screen reader reads) is not counted.
static BOOL CALLBACK count_child(HWND w, LPARAM lp)
{
    Nth *n = (Nth *)lp;
    if (GetParent(w) != n->parent || !(GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE))
        return TRUE;
    n->seen++;
    if (n->seen == n->want) {
        n->found = w;
        return FALSE;
    }
    return TRUE;
}

HWND gd_control(HWND top, int n)
{
    Nth f = {top, n, 0, NULL};
    EnumChildWindows(top, count_child, (LPARAM)&f);
    return f.found;
}

int gd_control_count(HWND top)
{
    Nth f = {top, -1, 0, NULL};
    EnumChildWindows(top, count_child, (LPARAM)&f);
    return f.seen;
}

void gd_text(HWND w, char *out, int size)
{
    DWORD_PTR got = 0;
    out[0] = 0;
    if (!SendMessageTimeoutA(w, WM_GETTEXT, (WPARAM)size, (LPARAM)out, SMTO_ABORTIFHUNG, send_timeout_ms, &got))
        out[0] = 0;
    out[size - 1] = 0;
}

void gd_set_text(HWND w, const char *text)
{
    DWORD_PTR r;
    SendMessageTimeoutA(w, WM_SETTEXT, 0, (LPARAM)text, SMTO_ABORTIFHUNG, send_timeout_ms, &r);
}

int gd_click(HWND button)
{
    if (!IsWindowEnabled(button))
        return 0;
    // The same notification a mouse click gives the parent: the button's id
    // and BN_CLICKED, with the button as sender.
    int id = GetDlgCtrlID(button);
    PostMessageA(GetParent(button), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
    return 1;
}

static LRESULT ask(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    DWORD_PTR r = 0;
    if (!SendMessageTimeoutA(w, msg, wp, lp, SMTO_ABORTIFHUNG, send_timeout_ms, &r))
        return -1;
    return (LRESULT)r;
}

void gd_set_check(HWND button, int on)
{
    DWORD_PTR r;
    LONG style = GetWindowLongA(button, GWL_STYLE) & 0x0F;
    // Only the radio buttons of the group; check boxes may share it.
    if (on && (style == BS_AUTORADIOBUTTON || style == BS_RADIOBUTTON)) {
        HWND parent = GetParent(button);
        for (HWND o = GetNextDlgGroupItem(parent, button, FALSE); o && o != button;
             o = GetNextDlgGroupItem(parent, o, FALSE))
            if ((GetWindowLongA(o, GWL_STYLE) & 0x0F) == style)
                SendMessageTimeoutA(o, BM_SETCHECK, BST_UNCHECKED, 0, SMTO_ABORTIFHUNG, send_timeout_ms, &r);
    }
    SendMessageTimeoutA(button, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0, SMTO_ABORTIFHUNG,
                        send_timeout_ms, &r);
}

int gd_checked(HWND button) { return ask(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }
int gd_enabled(HWND w) { return IsWindowEnabled(w) ? 1 : 0; }
int gd_progress(HWND bar) { return (int)ask(bar, WM_USER + 8, 0, 0); } // PBM_GETPOS
int gd_list_count(HWND list) { return (int)ask(list, LB_GETCOUNT, 0, 0); }
int gd_list_selection(HWND list) { return (int)ask(list, LB_GETCURSEL, 0, 0); }

// Asked in the wide form: Wine hands the ANSI form of LB_GETTEXT across
// processes without converting it.
void gd_list_item(HWND list, int i, char *out, int size)
{
    wchar_t wide[1024];
    DWORD_PTR len = 0;
    out[0] = 0;
    if (!SendMessageTimeoutW(list, LB_GETTEXTLEN, (WPARAM)i, 0, SMTO_ABORTIFHUNG, send_timeout_ms, &len) ||
        (LRESULT)len < 0 || len >= sizeof wide / sizeof wide[0])
        return;
    if (!SendMessageTimeoutW(list, LB_GETTEXT, (WPARAM)i, (LPARAM)wide, SMTO_ABORTIFHUNG, send_timeout_ms, &len) ||
        (LRESULT)len < 0)
        return;
    wide[len] = 0;
    if (!WideCharToMultiByte(CP_ACP, 0, wide, -1, out, size, NULL, NULL))
        out[0] = 0;
}

struct BoxText {
    char *out;
    int size;
};

// A message box shows its text in a static control; its icon is a static
// too, without text.
static BOOL CALLBACK find_box_text(HWND w, LPARAM lp)
{
    BoxText *b = (BoxText *)lp;
    char cls[32];
    GetClassNameA(w, cls, sizeof cls);
    if (_stricmp(cls, "Static") != 0)
        return TRUE;
    gd_text(w, b->out, b->size);
    return b->out[0] == 0;
}

void gd_box_text(HWND box, char *out, int size)
{
    BoxText b = {out, size};
    out[0] = 0;
    EnumChildWindows(box, find_box_text, (LPARAM)&b);
}

void gd_answer(HWND box, int id) { PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

int gd_wait_text(HWND w, const char *text, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    char now[1024];
    for (;;) {
        gd_text(w, now, sizeof now);
        if (strcmp(now, text) == 0)
            return 1;
        if (!IsWindow(w) || GetTickCount() - start >= timeout_ms)
            return 0;
        Sleep(poll_ms);
    }
}

int gd_wait_gone(HWND w, DWORD timeout_ms)
{
    DWORD start = GetTickCount();
    while (IsWindow(w)) {
        if (GetTickCount() - start >= timeout_ms)
            return 0;
        Sleep(poll_ms);
    }
    return 1;
}
