// The setup window: four path fields, the mode, the shortcuts, a progress
// bar, a status line and the log list. Install runs on one worker thread
// that reaches the window only through posted messages.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

#include "setup/setup.h"
#include "setup/window.h"

InstallOptions opts;

static HFONT font;
static HWND e_cd1, e_cd2, e_patch, e_dir;
static HWND r_pre, r_build, c_start, c_desk;
static HWND prog, st, lst, b_install, b_close;
static int busy;
static int done_ok;
static int failed; // a control could not be made

enum {
    ID_CD1_IMAGE = 101,
    ID_CD1_FOLDER = 102,
    ID_CD2_IMAGE = 103,
    ID_CD2_FOLDER = 104,
    ID_PATCH = 105,
    ID_DIR = 106,
    ID_INSTALL = 107,
    ID_CLOSE = 108,
};

static const char title_box[] = "Tarnok setup";
static const char text_ready[] = "Ready. About 1.5 GB of free space is needed.";
static const char text_failed[] = "The installation did not finish - see the messages above.";
static const char text_intro[] = "Install Tarnok: Vorblen as a native Windows game.\n"
                                 "You need your two Tarnok CDs (discs, ISO images or copied folders) "
                                 "and the official 1.03 update (TARNO103.EXE).";
// Filter lists: pairs of description and patterns, ended by an empty string.
static const char filter_cd[] = "CD images (*.iso;*.cue;*.bin)\0*.iso;*.cue;*.bin\0All files\0*.*\0";
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

static void check(HWND button) { SendMessageA(button, BM_SETCHECK, BST_CHECKED, 0); }
static int checked(HWND button) { return SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED; }

static void make_path_row(const char *label, int y, HWND *field, const char *value, int first_id, int two)
{
    mk("STATIC", label, 0, 16, y + 4, 90, 20, 0);
    *field = mk("EDIT", value, ES_AUTOHSCROLL, 110, y, 360, 24, 0);
    if (two) {
        mk("BUTTON", "Image...", 0, 478, y, 66, 24, first_id);
        mk("BUTTON", "Folder...", 0, 548, y, 66, 24, first_id + 1);
    } else {
        mk("BUTTON", "Browse...", 0, 478, y, 136, 24, first_id);
    }
}

// The radio buttons offer only what this setup can do; a disabled one may
// still be the checked one when nothing else is possible.
static void make_mode_buttons(void)
{
    char kit[520];
    r_pre = mk("BUTTON", "Install the prebuilt game (fast)", WS_GROUP | BS_AUTORADIOBUTTON, 16, 198, 300, 22, 0);
    r_build = mk("BUTTON", "Convert the game on this PC (needs the build kit, a few minutes)", BS_AUTORADIOBUTTON,
                 16, 222, 520, 22, 0);
    if (!prebuilt_available())
        EnableWindow(r_pre, FALSE);
    if (!kit_available(kit, sizeof kit))
        EnableWindow(r_build, FALSE);
    check(opts.build == 1 ? r_build : r_pre);
}

static void make_controls(void)
{
    mk("STATIC", text_intro, 0, 16, 14, 600, 36, 0);
    make_path_row("CD 1:", 62, &e_cd1, opts.cd1, ID_CD1_IMAGE, 1);
    make_path_row("CD 2:", 94, &e_cd2, opts.cd2, ID_CD2_IMAGE, 1);
    make_path_row("1.03 update:", 126, &e_patch, opts.patch, ID_PATCH, 0);
    make_path_row("Install to:", 158, &e_dir, opts.dir, ID_DIR, 0);
    make_mode_buttons();
    // Both start checked: the shortcut options of the command line are for
    // unattended installs only.
    c_start = mk("BUTTON", "Start menu shortcut", BS_AUTOCHECKBOX, 16, 254, 200, 22, 0);
    c_desk = mk("BUTTON", "Desktop shortcut", BS_AUTOCHECKBOX, 230, 254, 200, 22, 0);
    check(c_start);
    check(c_desk);
    prog = mk(PROGRESS_CLASSA, "", 0, 16, 288, 598, 18, 0);
    SendMessageA(prog, PBM_SETRANGE32, 0, 1000);
    st = mk("STATIC", text_ready, 0, 16, 312, 598, 20, 0);
    lst = mk("LISTBOX", "", WS_BORDER | WS_VSCROLL | LBS_NOINTEGRALHEIGHT, 16, 336, 598, 110, 0);
    b_install = mk("BUTTON", "Install", BS_DEFPUSHBUTTON, 418, 456, 96, 30, ID_INSTALL);
    b_close = mk("BUTTON", "Cancel", 0, 518, 456, 96, 30, ID_CLOSE);
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

static DWORD WINAPI worker(LPVOID param)
{
    (void)param;
    int ok = do_install(&opts, on_progress, NULL);
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
    EnableWindow(b_install, FALSE);
    SetWindowTextA(b_close, "Cancel");
    SetWindowTextA(st, "Installing...");
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

static void play(void)
{
    char exe[780];
    fmt(exe, sizeof exe, "%s\\tarnok.exe", opts.dir);
    ShellExecuteA(NULL, "open", exe, NULL, opts.dir, SW_SHOWNORMAL);
    DestroyWindow(hwnd);
}

// A running install cannot be stopped but by ending the process; what it
// wrote so far stays on disk.
static void close_request(void)
{
    if (busy) {
        int answer = MessageBoxA(hwnd, "Stop the installation?", title_box, MB_ICONQUESTION | MB_YESNO);
        if (answer != IDYES)
            return;
        if (busy)
            ExitProcess(1);
    }
    DestroyWindow(hwnd);
}

static void on_command(int id)
{
    switch (id) {
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
    default: break;
    }
}

static void on_log(char *line)
{
    LRESULT i = SendMessageA(lst, LB_ADDSTRING, 0, (LPARAM)line);
    SendMessageA(lst, LB_SETCURSEL, (WPARAM)i, 0);
    SetWindowTextA(st, line);
    free(line);
}

static void on_done(int ok)
{
    busy = 0;
    if (ok) {
        done_ok = 1;
        SendMessageA(prog, PBM_SETPOS, 1000, 0);
        SetWindowTextA(st, "Tarnok is installed.");
        SetWindowTextA(b_install, "Play");
    } else {
        SetWindowTextA(st, text_failed);
    }
    EnableWindow(b_install, TRUE);
    SetWindowTextA(b_close, "Close");
}

static LRESULT CALLBACK wndproc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_DESTROY: PostQuitMessage(0); return 0;
    case WM_CLOSE: close_request(); return 0;
    case WM_COMMAND: on_command(LOWORD(wp)); return 0;
    case WM_SETUP_LOG: on_log((char *)lp); return 0;
    case WM_SETUP_PROGRESS: SendMessageA(prog, PBM_SETPOS, wp, 0); return 0;
    case WM_SETUP_DONE: on_done((int)(INT_PTR)wp); return 0;
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
    if (!register_class(instance)) {
        setup_log("cannot register the setup window (error %lu)", GetLastError());
        return 0;
    }
    RECT r = {0, 0, 630, 520};
    AdjustWindowRect(&r, style, FALSE);
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
    ShowWindow(hwnd, show);
    return 1;
}

void window_loop(void)
{
    MSG m;
    // The wide loop hands typed characters on as they are.
    while (GetMessageW(&m, NULL, 0, 0) > 0) {
        if (IsDialogMessageW(hwnd, &m))
            continue;
        TranslateMessage(&m);
        DispatchMessageW(&m);
    }
}
