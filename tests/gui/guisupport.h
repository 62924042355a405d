// Running setup.exe as a child process in the window and command-line tests:
// a staged copy with chosen files beside it, a private temporary folder for
// its log, its window and its message boxes, and screenshots of the display.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "driver.h"

// Control numbers of the setup window, in creation order.
enum {
    C_CD1 = 3,
    C_CD2 = 7,
    C_PATCH = 11,
    C_DIR = 14,
    C_PRE = 16,
    C_BUILD = 17,
    C_START = 18,
    C_DESK = 19,
    C_PROG = 20,
    C_STATUS = 21,
    C_LIST = 22,
    C_INSTALL = 23,
    C_CLOSE = 24,
    C_DETAILS = 25, // Copy details: there only after a failed install
};

extern const char *const text_ready;
extern const char *const text_failed;
extern const char *const text_installed;
extern const char *const text_copied;

// A folder holding build\<variant>.exe as setup.exe, with the given files of
// the sample media copied beside it. Returns the path of setup.exe.
std::string stage_setup(const std::string &folder, const std::string &variant,
                        const std::vector<std::string> &media_files = {});
// Lays out a build kit beside setup.exe whose recompiler waits (see
// hold_release) and then fails: installs in convert mode stop in the middle.
void stage_holding_kit(const std::string &folder);
void hold_release(const std::string &folder);
// 1 once the holding recompiler has started.
bool hold_reached(const std::string &folder, DWORD timeout_ms);

// A player's own folders, for the cases whose screenshots become the
// guide's pictures: setup.exe and what the player downloaded beside it in
// C:\Games\Downloads, the game installed into C:\Games\Tarnok PC, as the
// guide tells it. The cases of the window tests' prefix run one at a time,
// so they share these folders; each staging empties both first.
extern const char *const player_downloads;
extern const char *const player_folder;
// build\<variant>.exe as setup.exe in the player's downloads, with the given
// files of the sample media beside it. Returns the path of setup.exe.
std::string stage_player(const std::string &variant, const std::vector<std::string> &media_files = {});

struct Child {
    HANDLE process = nullptr;
    DWORD pid = 0;
    std::string tmp; // its temporary folder, where its log file is
};

// Starts "setup.exe" args with its own temporary folder (made empty).
Child start_setup(const std::string &exe, const std::string &args, const std::string &tmp);
// The same with a temporary folder that keeps what it holds.
Child start_setup_in(const std::string &exe, const std::string &args, const std::string &tmp);
// Ids of the running processes that `pid` started.
std::vector<DWORD> children_of(DWORD pid);
// Lays out the stand-in build kit beside setup.exe as builder\.
void stage_kit(const std::string &folder);
// Waits for the child's end: its exit code, or -2 when it did not end in time.
int wait_exit(Child &c, DWORD timeout_ms = 60000);
// Ends a child still running after a failed test.
void end_child(Child &c);
// The child's log file, line by line.
std::vector<std::string> child_log(const Child &c);
// The setup window of the child, or null.
HWND setup_window(const Child &c, DWORD timeout_ms = 20000);

// The details of the last install attempt as a player pastes them. A
// report's text split at its CR LF line ends (a last line without one is
// kept as it is).
std::vector<std::string> report_lines(const std::string &text);
// setup.exe /report into a scratch file, run with the temporary folder tmp
// as it is (the log in it is what the report tells of): its exit code,
// with the file's text in *text ("" when there is none).
int run_report(const std::string &exe, const std::string &args, const std::string &tmp, std::string *text);
// The clipboard's text as UTF-16 (CF_UNICODETEXT), in UTF-8; and the
// ANSI form (CF_TEXT) in *ansi when not null. "" when there is none.
std::string clipboard_text(std::string *ansi = nullptr);
// Empties the clipboard, so that a text on it later is a new one.
void clipboard_clear();
// The line of a report that starts with `head`, or "".
std::string line_starting(const std::vector<std::string> &lines, const std::string &head);

std::string text_of(HWND w);
std::string field(HWND top, int n);
std::vector<std::string> list_lines(HWND top);

// Polls until pred() holds; false when it did not in time.
template <class F> bool eventually(F pred, DWORD timeout_ms = 30000)
{
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start >= timeout_ms)
            return false;
        Sleep(20);
    }
    return true;
}

// An uninstall's two stages as a player answers them: Yes to the question
// that the first stage, `first`, asks (after a screenshot named
// question_shot, when one is given), then the first stage's end. Returns
// the second stage's final message box, still open, and its text; null
// when the question or the message did not come.
HWND uninstall_answer_yes(Child &first, std::string *text, const char *question_shot = nullptr);

// A PNG of the whole display in <build>\test-output\gui\<name>.png, and
// beside it <name>.txt with every text it shows, read from the windows as
// the picture is taken: each visible top-level window's class and title,
// its controls' texts, a list's lines one by one. Its first lines name the
// running test and every test of the program, for the guide's picture
// tool to check that none of them, and no path of the build, is seen.
void screenshot(const std::string &name);
// The same of one window only.
void screenshot_window(const std::string &name, HWND w);

// Real key strokes through the X server: xdotool gives the window the input
// focus and types `keys`, xdotool's names separated by blanks ("Tab",
// "shift+Tab", "alt+1", "Return", "Escape", "Down", "space"). Returns once
// xdotool is through; the window may not have handled them yet.
void press_keys(HWND top, const std::string &keys);
// The control of the window's thread that has the keyboard focus, or null.
HWND focus_of(HWND top);

// A control's font made again in this process, as the window makes it:
// from the system's message font (another process cannot have the handle).
// The caller deletes it; the process must be DPI-aware like setup.exe.
HFONT control_font(HWND w);
// The width of one line of text in a control's font.
int text_width(HWND w, const std::string &text);
