// The setup window: four path fields, the mode, the shortcuts, a progress
// bar, a status line and the log list. Install runs on one worker thread
// that reaches the window only through posted messages.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <oleacc.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include "setup/details.h"
#include "setup/setup.h"
#include "setup/status.h"
#include "setup/window.h"

InstallOptions opts;

static HWND hwnd; // the setup window; null until it exists
static HFONT font;
static HWND e_cd1, e_cd2, e_patch, e_dir;
static HWND b_browse[6];
static HWND r_pre, r_build, c_start, c_desk;
static HWND prog, st, lst, b_install, b_close;
static HWND b_details; // "Copy details", shown after a failed install
static int busy;
static int stopping; // the player said Yes to the stop; the install is winding up
static int done_ok;
static int failed;    // a control could not be made
static int pre_ok;    // the program carries the prebuilt game
static int build_ok;  // the build kit lies next to the program
static int dpi = 96;  // the system's, which the layout is scaled to
static int intro_h;   // the intro's height: at least 36 at 96 DPI, or what its lines need
static int below;     // pixels the rows under the intro move down to make room for it
static int lst_wide;  // the list's scroll extent: its widest line so far
static HWND focus_back;  // the control that gets the focus when the window is active again
static HWND focus_seen;  // the focus the default button was last matched to
static int live_shown;   // the status line follows what the install does, not its log lines
static StatusPace pace;  // when the status line was last drawn from what the install does
static int announce_due;        // the status line changed since screen readers were last told
static uint64_t announced_ms;   // when they were
static IAccPropServices *acc;   // the status line's live setting; null where there is none
static UINT msg_button_made;    // the shell's "TaskbarButtonCreated"
static HWND ask_box;            // the box of the install's open question, while it is shown
static HHOOK box_hook;          // finds that box as it is made
static WNDPROC ask_box_proc;    // that box's own window procedure, which ours stands before
static int ask_another_copy;    // that box's Try Again and Continue read Retry and Another copy...
static int details_busy;        // the details are being gathered for the clipboard

enum {
    ID_CD1_IMAGE = 101,
    ID_CD1_FOLDER = 102,
    ID_CD2_IMAGE = 103,
    ID_CD2_FOLDER = 104,
    ID_PATCH = 105,
    ID_DIR = 106,
    ID_INSTALL = 107,
    ID_CLOSE = 108,
    ID_DETAILS = 109,
};

// Windows 8's, which the headers give only to programs that need Windows 8.
#ifndef EVENT_OBJECT_LIVEREGIONCHANGED
#define EVENT_OBJECT_LIVEREGIONCHANGED 0x8019
#endif

enum {
    STATUS_TIMER = 1,
    // The timer only asks whether the line may be drawn: it is drawn at
    // most every STATUS_PACE_MS, and no later than a tick after.
    STATUS_TIMER_MS = 50,
    ANNOUNCE_MS = 1000, // a screen reader is told of a new line at most this often while installing
    LOOK_MS = 1000,     // how often an open question looks for what it asked for
    BOX_TEXT_ID = 0xFFFF, // a message box's text
};

// The layout is drawn for 96 DPI; these are its pixels at the system's DPI.
static int px(int v) { return MulDiv(v, dpi, 96); }

static const char title_box[] = "Tarnok setup";
static const char text_ready[] = "Ready. About 1.5 GB of free space is needed.";
static const char text_failed[] = "The installation did not finish - see the messages above.";
static const char text_copied[] = "The details are on the clipboard: paste them where you ask for help.";
static const char text_not_copied[] = "The details could not be put on the clipboard.";
static const char text_details[] = "Copy details";
static const char text_intro[] = "Install Tarnok: Vorblen as a native Windows game.\n"
                                 "You need your two Tarnok CDs (discs, ISO images or copied folders) "
                                 "and the official 1.03 update (TARNO103.EXE).";
// Filter lists: pairs of description and patterns, ended by an empty string.
static const char filter_cd[] = "CD images (*.iso;*.cue;*.bin)\0*.iso;*.cue;*.bin\0All files\0*.*\0";
static const char filter_copy[] = "Disc images, or DISK1 or DISK2 in a disc or folder\0*.iso;*.cue;*.bin;"
                                  "DISK1;DISK2\0All files\0*.*\0";
static const char filter_patch[] = "1.03 update (TARNO103.EXE)\0TARNO103.EXE;*.exe\0All files\0*.*\0";

// One child control of the window, in the window's font.
static HWND mk(const char *cls, const char *text, DWORD style, int x, int y, int w, int h, int id)
{
    DWORD ex = strcmp(cls, "EDIT") == 0 ? WS_EX_CLIENTEDGE : 0;
    HWND c;
    if (ex) {
        // The path fields are Unicode windows: an ANSI window gets each typed
        // character as one WM_CHAR in the code page, which cannot hold the
        // two to four bytes of a UTF-8 character.
        wchar_t wide[520] = L"";
        MultiByteToWideChar(CP_ACP, 0, text, -1, wide, 520);
        c = CreateWindowExW(ex, L"EDIT", wide, style | WS_CHILD | WS_VISIBLE, x, y, w, h, hwnd,
                            (HMENU)(INT_PTR)id, GetModuleHandleA(NULL), NULL);
    } else {
        c = CreateWindowExA(ex, cls, text, style | WS_CHILD | WS_VISIBLE, x, y, w, h, hwnd,
                            (HMENU)(INT_PTR)id, GetModuleHandleA(NULL), NULL);
    }
    if (!c) {
        setup_log("cannot create the %s control (error %lu)", cls, GetLastError());
        failed = 1;
        return NULL;
    }
    SendMessageA(c, WM_SETFONT, (WPARAM)font, TRUE);
    return c;
}

// A control placed in 96-DPI pixels below the intro: scaled, and moved down
// by what the intro needs beyond its room.
static HWND put(const char *cls, const char *text, DWORD style, int x, int y, int w, int h, int id)
{
    return mk(cls, text, style, px(x), px(y) + below, px(w), px(h), id);
}

// The intro wraps with the font and the DPI: two lines, or three where the
// second does not fit the width. Its height is measured as the static
// control will draw it.
static int intro_height(int width)
{
    HDC dc = GetDC(NULL);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r = {0, 0, width, 0};
    DrawTextA(dc, text_intro, -1, &r, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(NULL, dc);
    return r.bottom - r.top;
}

// The intro keeps at least its height of 36 and the rows start at 62 unless
// the intro, with a gap of 8 under it, reaches further down.
static void plan_layout(void)
{
    HDC dc = GetDC(NULL);
    dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(NULL, dc);
    if (dpi <= 0)
        dpi = 96;
    int h = intro_height(px(600));
    intro_h = h > px(36) ? h : px(36);
    int bottom = px(14) + intro_h + px(8);
    below = bottom > px(62) ? bottom - px(62) : 0;
}

// The label's text with '&' put before the first word that starts with the
// key (case-insensitive): Alt and that key then move to the field.
static void with_mnemonic(char *out, int size, const char *label, char key)
{
    int at = -1;
    for (int i = 0; label[i] && at < 0; i++)
        if ((i == 0 || label[i - 1] == ' ') && (label[i] | 0x20) == (key | 0x20))
            at = i;
    if (at < 0)
        at = 0;
    fmt(out, size, "%.*s&%s", at, label, label + at);
}

static void check(HWND button) { SendMessageA(button, BM_SETCHECK, BST_CHECKED, 0); }
static int checked(HWND button) { return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

// Each field starts a group with its browse buttons; its label starts one of
// its own, so that the arrow keys never land on a label.
static void make_path_row(const char *label, char key, int y, HWND *field, const char *value, int first_id,
                          int two)
{
    char text[64];
    with_mnemonic(text, sizeof text, label, key);
    put("STATIC", text, WS_GROUP, 16, y + 4, 90, 20, 0);
    *field = put("EDIT", value, WS_GROUP | WS_TABSTOP | ES_AUTOHSCROLL, 110, y, 360, 24, 0);
    HWND *b = &b_browse[first_id - ID_CD1_IMAGE];
    if (two) {
        b[0] = put("BUTTON", "Image...", WS_TABSTOP, 478, y, 66, 24, first_id);
        b[1] = put("BUTTON", "Folder...", WS_TABSTOP, 548, y, 66, 24, first_id + 1);
    } else {
        b[0] = put("BUTTON", "Browse...", WS_TABSTOP, 478, y, 136, 24, first_id);
    }
}

// The radio buttons offer only what this setup can do; a disabled one may
// still be the checked one when nothing else is possible. The tab stop goes
// with the check; when the checked one is disabled, the other one, if it can
// be chosen, carries it, or Tab would pass the group by.
static void make_mode_buttons(void)
{
    char kit[520];
    r_pre = put("BUTTON", "Install the prebuilt game (fast)", WS_GROUP | BS_AUTORADIOBUTTON, 16, 198, 300, 22, 0);
    r_build = put("BUTTON", "Convert the game on this PC (needs the build kit, a few minutes)", BS_AUTORADIOBUTTON,
                  16, 222, 520, 22, 0);
    pre_ok = prebuilt_available() ? 1 : 0;
    build_ok = kit_available(kit, sizeof kit) ? 1 : 0;
    if (!pre_ok)
        EnableWindow(r_pre, FALSE);
    if (!build_ok)
        EnableWindow(r_build, FALSE);
    HWND on = opts.build == 1 ? r_build : r_pre;
    HWND other = on == r_build ? r_pre : r_build;
    check(on);
    if (!IsWindowEnabled(on) && IsWindowEnabled(other))
        SetWindowLongA(other, GWL_STYLE, GetWindowLongA(other, GWL_STYLE) | WS_TABSTOP);
}

// A screen reader names a field, a bar or a list by the static text just
// before it in the z-order. The bar and the list have no label in the
// layout: theirs are made hidden, read by a screen reader and shown to
// nobody else.
static void hidden_label(const char *text)
{
    HWND label = mk("STATIC", text, WS_GROUP | SS_NOPREFIX, 0, 0, 0, 0, 0);
    if (label)
        ShowWindow(label, SW_HIDE);
}

static void make_controls(void)
{
    // The intro and the status line show text, not mnemonics: an '&' in a
    // logged path stays an '&'.
    mk("STATIC", text_intro, SS_NOPREFIX, px(16), px(14), px(600), intro_h, 0);
    make_path_row("CD 1:", '1', 62, &e_cd1, opts.cd1, ID_CD1_IMAGE, 1);
    make_path_row("CD 2:", '2', 94, &e_cd2, opts.cd2, ID_CD2_IMAGE, 1);
    make_path_row("1.03 update:", 'u', 126, &e_patch, opts.patch, ID_PATCH, 0);
    make_path_row("Install to:", 't', 158, &e_dir, opts.dir, ID_DIR, 0);
    make_mode_buttons();
    // Both start checked: the shortcut options of the command line are for
    // unattended installs only.
    c_start = put("BUTTON", "Start menu shortcut", WS_GROUP | WS_TABSTOP | BS_AUTOCHECKBOX, 16, 254, 200, 22, 0);
    c_desk = put("BUTTON", "Desktop shortcut", WS_TABSTOP | BS_AUTOCHECKBOX, 230, 254, 200, 22, 0);
    check(c_start);
    check(c_desk);
    hidden_label("Progress:");
    prog = put(PROGRESS_CLASSA, "", WS_GROUP, 16, 288, 598, 18, 0);
    SendMessageA(prog, PBM_SETRANGE32, 0, 1000);
    // A line too long for the status line ends in "..." there; the list
    // holds it whole.
    st = put("STATIC", text_ready, WS_GROUP | SS_NOPREFIX | SS_PATHELLIPSIS, 16, 312, 598, 20, 0);
    // A tab stop, so that the keyboard can scroll the log too.
    hidden_label("Messages:");
    lst = put("LISTBOX", "", WS_GROUP | WS_TABSTOP | WS_BORDER | WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT, 16,
              336, 598, 110, 0);
    b_install = put("BUTTON", "Install", WS_GROUP | WS_TABSTOP | BS_DEFPUSHBUTTON, 418, 456, 96, 30, ID_INSTALL);
    b_close = put("BUTTON", "Cancel", WS_TABSTOP, 518, 456, 96, 30, ID_CLOSE);
    // Made last, so that the keys reach it after Close; shown only after
    // an install that failed.
    b_details = put("BUTTON", text_details, WS_TABSTOP, 318, 456, 96, 30, ID_DETAILS);
    if (b_details)
        ShowWindow(b_details, SW_HIDE);
}

static void browse_file(HWND field, const char *filter, const char *title)
{
    char path[520];
    memset(path, 0, sizeof path);
    GetWindowTextA(field, path, sizeof path);
    // A folder as the file name would open the dialog on a name it cannot
    // select; start without one.
    if (is_dir(path))
        memset(path, 0, sizeof path);
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 0;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (GetOpenFileNameA(&ofn))
        SetWindowTextA(field, path);
}

static void browse_folder(HWND field, const char *title)
{
    char name[MAX_PATH];
    // Wide: a folder of up to MAX_PATH characters may take more bytes in
    // UTF-8; whether it fits the install's buffers is decided at Install.
    wchar_t path[MAX_PATH];
    BROWSEINFOA bi;
    memset(&bi, 0, sizeof bi);
    bi.hwndOwner = hwnd;
    bi.pszDisplayName = name;
    bi.lpszTitle = title;
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    LPITEMIDLIST item = SHBrowseForFolderA(&bi);
    if (!item)
        return;
    if (SHGetPathFromIDListW(item, path))
        SetWindowTextW(field, path);
    CoTaskMemFree(item);
}

static int ask_in_window(void *ctx, const char *text, unsigned int type, QuestionLook look, void *arg);
static int choose_copy(void *ctx, int disc, char *out, size_t size);

static DWORD WINAPI worker(LPVOID param)
{
    (void)param;
    static const InstallHost host = {NULL,        ask_in_window,  on_progress, report_reading,
                                     report_file, report_skipped, report_step, choose_copy};
    int ok = do_install(&opts, &host);
    PostMessageA(hwnd, WM_SETUP_DONE, (WPARAM)(INT_PTR)ok, 0);
    return 0;
}

// 0 after a box naming a field whose path cannot be used as it is: too long
// for its buffer, or with characters that this Windows cannot pass on.
static int read_fields(void)
{
    static const char *const names[4] = {"CD 1", "CD 2", "the 1.03 update", "the install folder"};
    HWND fields[4] = {e_cd1, e_cd2, e_patch, e_dir};
    char *paths[4] = {opts.cd1, opts.cd2, opts.patch, opts.dir};
    for (int k = 0; k < 4; k++) {
        const char *reason = field_path(fields[k], paths[k], sizeof opts.cd1);
        if (reason) {
            char text[160];
            fmt(text, sizeof text, "The path of %s %s.", names[k], reason);
            MessageBoxA(hwnd, text, title_box, MB_ICONWARNING | MB_OK);
            return 0;
        }
    }
    opts.build = checked(r_build) ? 1 : 0;
    opts.startmenu = checked(c_start) ? 1 : 0;
    opts.desktop = checked(c_desk) ? 1 : 0;
    return 1;
}

// The focus goes to a control at once while the window is active, else when
// it becomes active again: an install that ends in the background must not
// pull the window to the front.
static void focus_to(HWND c)
{
    if (GetActiveWindow() == hwnd)
        SetFocus(c);
    else
        focus_back = c;
}

// The first empty path field, or Install when all are filled.
static HWND first_to_fill(void)
{
    HWND fields[4] = {e_cd1, e_cd2, e_patch, e_dir};
    for (int i = 0; i < 4; i++)
        if (GetWindowTextLengthA(fields[i]) == 0)
            return fields[i];
    return b_install;
}

// While an install runs, what it was started with cannot be changed: the
// fields, the browse buttons, the mode and the shortcuts are disabled, and
// the focus waits on the list, where Enter does nothing. Enabled again, a
// mode this setup cannot do stays disabled; the checks are kept as they were.
static void enable_choices(int on)
{
    HWND keep[] = {e_cd1, e_cd2, e_patch, e_dir, c_start, c_desk};
    if (!on)
        focus_to(lst);
    for (size_t i = 0; i < sizeof keep / sizeof keep[0]; i++)
        EnableWindow(keep[i], on);
    for (int i = 0; i < 6; i++)
        EnableWindow(b_browse[i], on);
    EnableWindow(r_pre, on && pre_ok);
    EnableWindow(r_build, on && build_ok);
}

// Screen readers hear of a new status line by themselves (a polite live
// region): told at most once a second while an install runs, which
// changes the line four times a second while it copies, and at once
// otherwise.
static void announce_status(uint64_t now_ms, int at_once)
{
    if (!announce_due || (!at_once && announced_ms && now_ms - announced_ms < ANNOUNCE_MS))
        return;
    NotifyWinEvent(EVENT_OBJECT_LIVEREGIONCHANGED, st, OBJID_CLIENT, CHILDID_SELF);
    announced_ms = now_ms;
    announce_due = 0;
}

// The status line's text, changed only when it differs: a screen reader
// hears of each change.
static void show_status(const char *text)
{
    char was[1024];
    GetWindowTextA(st, was, sizeof was);
    if (strcmp(was, text) == 0)
        return;
    SetWindowTextA(st, text);
    announce_due = 1;
    announce_status(GetTickCount64(), !busy);
}

// While an install runs, the status line follows what it does: drawn at
// most four times a second, so that drawing costs the copies nothing, and
// on the window's own clock, so that a drive that stalls shows it.
static void on_status_timer(void)
{
    char line[1024];
    uint64_t now = GetTickCount64();
    if (!busy || stopping)
        return;
    if (status_may_draw(&pace, now) && report_live_line(now, line, sizeof line)) {
        live_shown = 1;
        show_status(line);
    }
    announce_status(now, 0);
}

// The screen readers' service for properties of a control (oleacc's, made
// through COM) and the live setting of a control, as Windows 8 names them.
static const GUID clsid_acc_prop = {0xb5f8350b, 0x0548, 0x48b1, {0xa6, 0xee, 0x88, 0xbd, 0x00, 0xb4, 0xa5, 0xe7}};
static const GUID iid_acc_prop = {0x6e26e776, 0x04f0, 0x495d, {0x80, 0xe4, 0x33, 0x30, 0x35, 0x2e, 0x31, 0x69}};
static const MSAAPROPID live_setting = {0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};

// The status line is a live region for screen readers from the start.
// Where the service is missing or refuses, the line is still read when
// the reader comes to it.
static void make_status_live(void)
{
    enum { POLITE = 1 };
    if (FAILED(CoCreateInstance(clsid_acc_prop, NULL, CLSCTX_INPROC_SERVER, iid_acc_prop, (void **)&acc)))
        acc = NULL;
    if (!acc)
        return;
    VARIANT v;
    memset(&v, 0, sizeof v);
    v.vt = VT_I4;
    v.lVal = POLITE;
    acc->SetHwndProp(st, (DWORD)OBJID_CLIENT, CHILDID_SELF, live_setting, v);
}

// The property goes before the window, as the service asks.
static void end_status_live(void)
{
    if (!acc)
        return;
    acc->ClearHwndProps(st, (DWORD)OBJID_CLIENT, CHILDID_SELF, &live_setting, 1);
    acc->Release();
    acc = NULL;
}

static void start_install(void)
{
    // The button is disabled while an install runs; a command that still
    // arrives must not start a second worker on the same options.
    if (busy)
        return;
    if (!read_fields())
        return;
    if (!opts.cd1[0] || !opts.cd2[0] || !opts.patch[0] || !opts.dir[0]) {
        MessageBoxA(hwnd, "Please fill in both CDs, the 1.03 update and the install folder.", title_box,
                    MB_ICONWARNING | MB_OK);
        return;
    }
    busy = 1;
    enable_choices(0);
    ShowWindow(b_details, SW_HIDE);
    EnableWindow(b_install, FALSE);
    SetWindowTextA(b_close, "Cancel");
    report_live_clear();
    live_shown = 0;
    memset(&pace, 0, sizeof pace);
    show_status("Installing...");
    SetTimer(hwnd, STATUS_TIMER, STATUS_TIMER_MS, NULL);
    taskbar_show(hwnd, TASKBAR_NORMAL, (int)SendMessageA(prog, PBM_GETPOS, 0, 0));
    HANDLE t = CreateThread(NULL, 0, worker, NULL, 0, NULL);
    if (!t) {
        // Without a worker nothing will ever end this install: report it
        // and come back as a failed install, so the user can try again.
        setup_log("cannot start the install (error %lu)", GetLastError());
        PostMessageA(hwnd, WM_SETUP_DONE, 0, 0);
        return;
    }
    CloseHandle(t);
}

// The details are gathered on a thread of their own: the check of an
// install folder reads every file in it. The report comes back to the
// window as a posted message, and goes on the clipboard there.
static DWORD WINAPI details_worker(LPVOID param)
{
    char *question = (char *)param;
    DetailsAsk ask = {"", question};
    size_t len = 0;
    char *text = details_make(&ask, &len);
    free(question);
    if (!PostMessageA(hwnd, WM_SETUP_DETAILS, (WPARAM)len, (LPARAM)text))
        free(text);
    return 0;
}

// Copy details: after a failed install, or from a question of the install
// that is open (question, its text; the install then still runs).
static void copy_details(const char *question)
{
    if (details_busy)
        return;
    char *copy = question ? _strdup(question) : NULL;
    if (question && !copy)
        return;
    details_busy = 1;
    show_status("Gathering the details...");
    HANDLE t = CreateThread(NULL, 0, details_worker, copy, 0, NULL);
    if (!t) {
        details_busy = 0;
        free(copy);
        show_status(text_not_copied);
        return;
    }
    CloseHandle(t);
}

static void on_details(char *text, size_t len)
{
    details_busy = 0;
    int ok = text && details_to_clipboard(hwnd, text, len);
    free(text);
    show_status(ok ? text_copied : text_not_copied);
}

static void play(void)
{
    char exe[780];
    layout_path(exe, sizeof exe, opts.dir, LAYOUT_EXE);
    ShellExecuteA(NULL, "open", exe, NULL, opts.dir, SW_SHOWNORMAL);
    DestroyWindow(hwnd);
}

// A running install goes on while the question is open. Yes stops it at
// its next read (or its next child process of the build), it cleans up as
// a failed install does, and only then does the window close. Ending the
// process at once would leave hundreds of MB with no uninstall entry.
static void close_request(void)
{
    if (stopping)
        return;
    if (busy) {
        int answer = MessageBoxA(hwnd, "Stop the installation?", title_box, MB_ICONQUESTION | MB_YESNO);
        if (answer != IDYES)
            return;
        if (busy) {
            stopping = 1;
            stop_request();
            EnableWindow(b_close, FALSE);
            show_status("Stopping...");
            return;
        }
    }
    DestroyWindow(hwnd);
}

// A question of the install thread, on its stack while it waits for the
// answer.
struct Question {
    const char *text;
    unsigned int type;
    int answer;
    HANDLE answered;
};

// Waits for the answer. With look, the install thread looks every second
// meanwhile, and the window closes the question as answered once look
// says so, or shows the new text that look wrote.
static void wait_for_answer(Question *q, QuestionLook look, void *arg)
{
    char said[1400], now[1400];
    fmt(said, sizeof said, "%s", q->text);
    int ended = 0;
    while (WaitForSingleObject(q->answered, look && !ended ? (DWORD)LOOK_MS : INFINITE) == WAIT_TIMEOUT) {
        memcpy(now, said, sizeof now);
        if (look(arg, now, sizeof now)) {
            ended = PostMessageA(hwnd, WM_SETUP_ASK_END, 0, 0) != 0;
        } else if (strcmp(now, said) != 0) {
            char *copy = _strdup(now);
            if (copy && !PostMessageA(hwnd, WM_SETUP_ASK_SAY, 0, (LPARAM)copy))
                free(copy);
            memcpy(said, now, sizeof said);
        }
    }
}

// The install's questions: a message box owned by the window, shown by the
// window's thread, while the install thread waits for the answer, looking
// meanwhile when it has a look. The status line stands still meanwhile.
static int ask_in_window(void *ctx, const char *text, unsigned int type, QuestionLook look, void *arg)
{
    (void)ctx;
    if (!hwnd)
        return IDCANCEL;
    Question q = {text, type, IDCANCEL, CreateEventA(NULL, TRUE, FALSE, NULL)};
    if (!q.answered)
        return IDCANCEL;
    report_asking(1);
    if (PostMessageA(hwnd, WM_SETUP_ASK, 0, (LPARAM)&q))
        wait_for_answer(&q, look, arg);
    report_asking(0);
    CloseHandle(q.answered);
    return q.answer;
}

// The player's choice of another copy of a disc, made in the window's
// thread while the install thread waits.
struct CopyChoice {
    int disc;
    char *out;
    size_t size;
    int chosen;
    HANDLE answered;
};

static int choose_copy(void *ctx, int disc, char *out, size_t size)
{
    (void)ctx;
    if (!hwnd)
        return 0;
    CopyChoice c = {disc, out, size, 0, CreateEventA(NULL, TRUE, FALSE, NULL)};
    if (!c.answered)
        return 0;
    report_asking(1);
    if (PostMessageA(hwnd, WM_SETUP_CHOOSE_COPY, 0, (LPARAM)&c))
        WaitForSingleObject(c.answered, INFINITE);
    report_asking(0);
    CloseHandle(c.answered);
    return c.chosen;
}

// A copy is an image, or a disc or folder picked by its marker file
// {copy}\TARNOK\DISKn\DISKn, which a file dialog can pick where it cannot
// pick a folder.
static int copy_of_choice(const char *picked, int disc, char *out, size_t size)
{
    char tail[32];
    fmt(tail, sizeof tail, "\\TARNOK\\DISK%d\\DISK%d", disc, disc);
    size_t n = strlen(picked), t = strlen(tail);
    if (n > t && _stricmp(picked + n - t, tail) == 0) {
        n -= t;
        // A drive's root keeps its separator: "D:" alone is the drive's current folder.
        const char *root = n == 2 ? "\\" : "";
        return (size_t)fmt(out, size, "%.*s%s", (int)n, picked, root) == n + strlen(root);
    }
    return (size_t)fmt(out, size, "%s", picked) == n;
}

static void on_choose_copy(CopyChoice *c)
{
    char path[520], title[64];
    memset(path, 0, sizeof path);
    fmt(title, sizeof title, "Another copy of Tarnok disc %d", c->disc);
    OPENFILENAMEA ofn;
    memset(&ofn, 0, sizeof ofn);
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd;
    ofn.lpstrFilter = filter_copy;
    ofn.lpstrFile = path;
    ofn.nMaxFile = sizeof path;
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
    if (!stopping && GetOpenFileNameA(&ofn))
        c->chosen = copy_of_choice(path, c->disc, c->out, c->size);
    SetEvent(c->answered);
}

// The width a push button needs for its text, in its font.
static int button_need(HWND b)
{
    char text[64];
    SIZE sz = {0, 0};
    TEXTMETRICA tm;
    GetWindowTextA(b, text, sizeof text);
    HDC dc = GetDC(b);
    HGDIOBJ old = SelectObject(dc, (HGDIOBJ)SendMessageA(b, WM_GETFONT, 0, 0));
    GetTextExtentPoint32A(dc, text, (int)strlen(text), &sz);
    GetTextMetricsA(dc, &tm);
    SelectObject(dc, old);
    ReleaseDC(b, dc);
    return sz.cx + 2 * GetSystemMetrics(SM_CXEDGE) + 2 * tm.tmAveCharWidth;
}

static int left_of(HWND w)
{
    RECT r;
    GetWindowRect(w, &r);
    return r.left;
}

// The push buttons a box shows, from left to right: at most room of them.
static int box_buttons(HWND box, HWND *b, int room)
{
    int n = 0;
    for (HWND c = GetWindow(box, GW_CHILD); c && n < room; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[16];
        if (!IsWindowVisible(c) || !GetClassNameA(c, cls, sizeof cls) || _stricmp(cls, "Button") != 0)
            continue;
        int at = n++;
        for (; at > 0 && left_of(b[at - 1]) > left_of(c); at--)
            b[at] = b[at - 1];
        b[at] = c;
    }
    return n;
}

// The box made its buttons as wide as its own words need. With Copy
// details among them, each is made as wide as the widest text needs, the
// row centred, and the box widened when the row would not fit it.
static void fit_buttons(HWND box)
{
    HWND b[8];
    int n = box_buttons(box, b, 8), need = 0, gap = px(8);
    for (int i = 0; i < n; i++) {
        int want = button_need(b[i]);
        need = want > need ? want : need;
    }
    RECT first, client;
    if (n == 0 || !GetWindowRect(b[0], &first) || need <= first.right - first.left)
        return;
    MapWindowPoints(NULL, box, (POINT *)&first, 2);
    GetClientRect(box, &client);
    int row = n * need + (n - 1) * gap, grow = row + 2 * gap - client.right;
    if (grow > 0) {
        RECT w;
        GetWindowRect(box, &w);
        SetWindowPos(box, NULL, w.left - grow / 2, w.top, w.right - w.left + grow, w.bottom - w.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        GetClientRect(box, &client);
    }
    for (int i = 0; i < n; i++)
        SetWindowPos(b[i], NULL, (client.right - row) / 2 + i * (need + gap), first.top, need,
                     first.bottom - first.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

// The open question's own text, as it reads now.
static void copy_details_of_box(HWND box)
{
    char text[1400] = "";
    HWND t = GetDlgItem(box, BOX_TEXT_ID);
    if (t)
        GetWindowTextA(t, text, sizeof text);
    copy_details(text);
}

// Stands before the question's box: its Help button becomes Copy details,
// which leaves the box open. The box's own procedure would take the
// button for help, and Wine's does nothing with it; F1 asks for the same.
static LRESULT CALLBACK ask_box_wndproc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_COMMAND && LOWORD(wp) == IDHELP) {
        copy_details_of_box(w);
        return 0;
    }
    if (msg == WM_HELP) {
        copy_details_of_box(w);
        return TRUE;
    }
    LRESULT r = CallWindowProcW(ask_box_proc, w, msg, wp, lp);
    if (msg == WM_INITDIALOG) {
        SetDlgItemTextA(w, IDHELP, text_details);
        if (ask_another_copy) {
            SetDlgItemTextA(w, IDTRYAGAIN, "Retry");
            SetDlgItemTextA(w, IDCONTINUE, "Another copy...");
        }
        fit_buttons(w);
    }
    return r;
}

// The box that MessageBoxA makes is the first dialog made while it runs; a
// second box over it (the stop question) is not.
static LRESULT CALLBACK note_box(int code, WPARAM wp, LPARAM lp)
{
    char cls[16];
    if (code == HCBT_CREATEWND && !ask_box && !(((CBT_CREATEWNDA *)lp)->lpcs->style & WS_CHILD) &&
        GetClassNameA((HWND)wp, cls, sizeof cls) && strcmp(cls, "#32770") == 0) {
        ask_box = (HWND)wp;
        ask_box_proc = (WNDPROC)SetWindowLongPtrW(ask_box, GWLP_WNDPROC, (LONG_PTR)ask_box_wndproc);
    }
    return CallNextHookEx(box_hook, code, wp, lp);
}

// Shows the question and hands the answer back; the box is noted as it is
// made, so that the install can close it or change its text. Every
// question of the install is about a disc or the files read from it, and
// offers Copy details, where Help would stand.
static void on_ask(Question *q)
{
    if (stopping) {
        q->answer = IDCANCEL;
    } else {
        ask_box = NULL;
        box_hook = SetWindowsHookExA(WH_CBT, note_box, NULL, GetCurrentThreadId());
        ask_another_copy = (q->type & QUESTION_ANOTHER_COPY) != 0;
        q->answer = MessageBoxA(hwnd, q->text, title_box, (q->type & ~(unsigned)QUESTION_ANOTHER_COPY) | MB_HELP);
        if (box_hook)
            UnhookWindowsHookEx(box_hook);
        box_hook = NULL;
        ask_box = NULL;
    }
    SetEvent(q->answered);
}

// Moves a child of a box by dx, dy.
static void move_child(HWND box, HWND c, int dx, int dy)
{
    RECT r;
    GetWindowRect(c, &r);
    MapWindowPoints(NULL, box, (POINT *)&r, 2);
    SetWindowPos(c, NULL, r.left + dx, r.top + dy, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// A message box is made to the size of its first text. For a longer one
// its text grows, as wide as one line needs up to half the screen and then
// down, and the box with it; the buttons stay under the text, centred.
static void fit_box(HWND box, HWND text)
{
    char words[1400];
    RECT t, one = {0, 0, 0, 0};
    GetWindowTextA(text, words, sizeof words);
    GetWindowRect(text, &t);
    int w = t.right - t.left, h = t.bottom - t.top;
    HDC dc = GetDC(text);
    HGDIOBJ old = SelectObject(dc, (HGDIOBJ)SendMessageA(text, WM_GETFONT, 0, 0));
    DrawTextA(dc, words, -1, &one, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
    int most = GetSystemMetrics(SM_CXSCREEN) / 2;
    int wide = one.right > w ? (one.right < most ? one.right : most) : w;
    RECT need = {0, 0, wide, 0};
    DrawTextA(dc, words, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(dc, old);
    ReleaseDC(text, dc);
    int dw = wide - w, dh = need.bottom > h ? need.bottom - h : 0;
    if (dw == 0 && dh == 0)
        return;
    for (HWND c = GetWindow(box, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (c != text && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) != SS_ICON)
            move_child(box, c, dw / 2, dh);
    SetWindowPos(text, NULL, 0, 0, w + dw, h + dh, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    RECT b;
    GetWindowRect(box, &b);
    SetWindowPos(box, NULL, b.left - dw / 2, b.top - dh / 2, b.right - b.left + dw, b.bottom - b.top + dh,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    RedrawWindow(box, NULL, NULL, RDW_ERASE | RDW_INVALIDATE | RDW_FRAME | RDW_ALLCHILDREN);
}

// The open question says something new: what the install saw meanwhile.
static void on_ask_say(char *text)
{
    HWND t = ask_box ? GetDlgItem(ask_box, BOX_TEXT_ID) : NULL;
    if (t) {
        SetWindowTextA(t, text);
        fit_box(ask_box, t);
    }
    free(text);
}

// The open question has answered itself; a question the player has
// answered meanwhile is gone already.
static void on_ask_end(void)
{
    if (ask_box)
        EndDialog(ask_box, IDOK);
}

// One mode at a time: a click on one radio button unchecks the other, also
// when that one is disabled (the group's own search passes disabled
// buttons by, and both would stay checked).
static void on_mode(HWND sender)
{
    if ((sender == r_pre || sender == r_build) && checked(sender))
        SendMessageA(sender == r_pre ? r_build : r_pre, BM_SETCHECK, BST_UNCHECKED, 0);
}

static void on_command(int id, int code, HWND sender)
{
    if (code == BN_CLICKED && sender)
        on_mode(sender);
    switch (id) {
    // Esc, and Enter where no button has the focus, arrive as these two.
    case IDCANCEL: close_request(); break;
    case IDOK:
        if (IsWindowEnabled(b_install))
            on_command(ID_INSTALL, BN_CLICKED, b_install);
        break;
    case ID_CD1_IMAGE: browse_file(e_cd1, filter_cd, "Tarnok CD 1"); break;
    case ID_CD1_FOLDER: browse_folder(e_cd1, "Tarnok CD 1 (drive or folder)"); break;
    case ID_CD2_IMAGE: browse_file(e_cd2, filter_cd, "Tarnok CD 2"); break;
    case ID_CD2_FOLDER: browse_folder(e_cd2, "Tarnok CD 2 (drive or folder)"); break;
    case ID_PATCH: browse_file(e_patch, filter_patch, "Tarnok 1.03 update"); break;
    case ID_DIR: browse_folder(e_dir, "Install folder"); break;
    case ID_INSTALL:
        if (done_ok)
            play();
        else
            start_install();
        break;
    case ID_CLOSE: close_request(); break;
    case ID_DETAILS: copy_details(NULL); break;
    default: break;
    }
}

// The list scrolls sideways as far as its widest line reaches, so that the
// end of a long line (an error code after a path) can be read.
static void widen_list(const char *line)
{
    HDC dc = GetDC(lst);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE sz = {0, 0};
    GetTextExtentPoint32A(dc, line, (int)strlen(line), &sz);
    SelectObject(dc, old);
    ReleaseDC(lst, dc);
    int need = sz.cx + px(6);
    if (need > lst_wide) {
        lst_wide = need;
        SendMessageA(lst, LB_SETHORIZONTALEXTENT, (WPARAM)lst_wide, 0);
    }
}

// Each line goes to the list; to the status line too until it follows
// what the install does.
static void on_log(char *line)
{
    widen_list(line);
    LRESULT i = SendMessageA(lst, LB_ADDSTRING, 0, (LPARAM)line);
    SendMessageA(lst, LB_SETCURSEL, (WPARAM)i, 0);
    if (!live_shown)
        show_status(line);
    free(line);
}

// The bar and the taskbar button move together.
static void on_progress_step(int permille)
{
    SendMessageA(prog, PBM_SETPOS, (WPARAM)permille, 0);
    taskbar_value(permille);
}

static void on_done(int ok)
{
    busy = 0;
    KillTimer(hwnd, STATUS_TIMER);
    if (stopping) {
        DestroyWindow(hwnd);
        return;
    }
    if (ok) {
        done_ok = 1;
        SendMessageA(prog, PBM_SETPOS, 1000, 0);
        taskbar_show(hwnd, TASKBAR_NONE, 1000);
        show_status("Tarnok is installed.");
        SetWindowTextA(b_install, "Play");
    } else {
        // The button stays red where the install stopped; the next attempt
        // starts from the beginning of the bar.
        taskbar_show(hwnd, TASKBAR_ERROR, (int)SendMessageA(prog, PBM_GETPOS, 0, 0));
        SendMessageA(prog, PBM_SETPOS, 0, 0);
        show_status(text_failed);
        enable_choices(1);
        ShowWindow(b_details, SW_SHOW);
    }
    EnableWindow(b_install, TRUE);
    SetWindowTextA(b_close, "Close");
    focus_to(first_to_fill());
}

// The dialog keys of the message loop: Enter asks for the default button,
// an Alt key on a label asks to move to the control after it.
static LRESULT default_id(void) { return MAKELRESULT(ID_INSTALL, DC_HASDEFID); }

static void next_control(WPARAM wp, LPARAM lp)
{
    HWND to;
    if (LOWORD(lp))
        to = (HWND)wp;
    else
        to = GetNextDlgTabItem(hwnd, GetFocus(), wp != 0);
    if (!to)
        return;
    SetFocus(to);
    // As Tab does: a field reached by the keyboard has its text selected.
    if (SendMessageA(to, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL)
        SendMessageA(to, EM_SETSEL, 0, -1);
}

// The focus leaves with the window and comes back to the same control.
static int on_activate(WPARAM wp)
{
    if (LOWORD(wp) == WA_INACTIVE) {
        HWND f = GetFocus();
        if (f && IsChild(hwnd, f))
            focus_back = f;
        return 0;
    }
    if (HIWORD(wp) || !focus_back || !IsWindowEnabled(focus_back))
        return 0;
    SetFocus(focus_back);
    return 1;
}

// A push button with the focus is the one Enter presses, and shows it;
// anywhere else that is Install (later Play).
static void follow_focus(void)
{
    HWND f = GetFocus();
    if (f == focus_seen)
        return;
    focus_seen = f;
    HWND buttons[9] = {b_browse[0], b_browse[1], b_browse[2], b_browse[3], b_browse[4], b_browse[5], b_install,
                       b_close, b_details};
    HWND def = b_install;
    for (int i = 0; i < 9; i++)
        if (buttons[i] == f)
            def = f;
    for (int i = 0; i < 9; i++) {
        int is_def = (SendMessageA(buttons[i], WM_GETDLGCODE, 0, 0) & DLGC_DEFPUSHBUTTON) != 0;
        if (is_def != (buttons[i] == def))
            SendMessageA(buttons[i], BM_SETSTYLE, buttons[i] == def ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    }
}

// The window's end: what it holds of the shell and of the screen readers'
// service goes with it.
static void on_destroy(void)
{
    KillTimer(hwnd, STATUS_TIMER);
    taskbar_detach();
    end_status_live();
    PostQuitMessage(0);
}

static LRESULT CALLBACK wndproc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg_button_made && msg == msg_button_made) {
        taskbar_attach(w);
        return 0;
    }
    switch (msg) {
    case WM_DESTROY: on_destroy(); return 0;
    case WM_CLOSE: close_request(); return 0;
    case WM_COMMAND: on_command(LOWORD(wp), HIWORD(wp), (HWND)lp); return 0;
    case WM_ACTIVATE:
        if (on_activate(wp))
            return 0;
        return DefWindowProcA(w, msg, wp, lp);
    case DM_GETDEFID: return default_id();
    case WM_NEXTDLGCTL: next_control(wp, lp); return 0;
    case WM_SETUP_LOG: on_log((char *)lp); return 0;
    case WM_SETUP_PROGRESS: on_progress_step((int)wp); return 0;
    case WM_SETUP_DONE: on_done((int)(INT_PTR)wp); return 0;
    case WM_SETUP_ASK: on_ask((Question *)lp); return 0;
    case WM_SETUP_CHOOSE_COPY: on_choose_copy((CopyChoice *)lp); return 0;
    case WM_SETUP_ASK_SAY: on_ask_say((char *)lp); return 0;
    case WM_SETUP_ASK_END: on_ask_end(); return 0;
    case WM_SETUP_DETAILS: on_details((char *)lp, (size_t)wp); return 0;
    case WM_TIMER:
        if (wp == STATUS_TIMER)
            on_status_timer();
        return 0;
    default: return DefWindowProcA(w, msg, wp, lp);
    }
}

static void make_font(void)
{
    NONCLIENTMETRICSA ncm;
    memset(&ncm, 0, sizeof ncm);
    // The size including the padded border width, whatever the headers say.
    ncm.cbSize = 344;
    SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 344, &ncm, 0);
    font = CreateFontIndirectA(&ncm.lfMessageFont);
}

static int register_class(HINSTANCE instance)
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = wndproc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = (HBRUSH)(INT_PTR)(COLOR_BTNFACE + 1);
    wc.lpszClassName = "TarnokSetup";
    return RegisterClassA(&wc) != 0;
}

int window_create(HINSTANCE instance, int show)
{
    const DWORD style = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
    make_font();
    plan_layout();
    if (!register_class(instance)) {
        setup_log("cannot register the setup window (error %lu)", GetLastError());
        return 0;
    }
    RECT r = {0, 0, px(630), px(520) + below};
    AdjustWindowRect(&r, style, FALSE);
    msg_button_made = RegisterWindowMessageA("TaskbarButtonCreated");
    hwnd = CreateWindowExA(0, "TarnokSetup", "Tarnok: Vorblen - Pellurin Setup", style, CW_USEDEFAULT,
                           CW_USEDEFAULT, r.right - r.left, r.bottom - r.top, NULL, NULL, instance, NULL);
    if (!hwnd) {
        setup_log("cannot create the setup window (error %lu)", GetLastError());
        return 0;
    }
    make_controls();
    if (failed) {
        // Half a window would let an install start with fields that do not
        // exist; give up instead.
        HWND w = hwnd;
        hwnd = NULL;
        DestroyWindow(w);
        return 0;
    }
    report_to(hwnd);
    make_status_live();
    ShowWindow(hwnd, show);
    focus_to(first_to_fill());
    follow_focus();
    return 1;
}

int window_loop(void)
{
    MSG m;
    // The wide loop hands typed characters on as they are.
    while (GetMessageW(&m, NULL, 0, 0) > 0) {
        if (!IsDialogMessageW(hwnd, &m)) {
            TranslateMessage(&m);
            DispatchMessageW(&m);
        }
        if (IsWindow(hwnd))
            follow_focus();
    }
    report_to(NULL);
    return stopping;
}
