// The setup front end: start-up and the command line, the uninstall's two
// stages, detection of the discs and the update, and the setup window with
// the reports it shows.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "install/install.h"

struct HWND__;

// Window messages posted to the setup window; each carries its own data.
enum {
    WM_SETUP_LOG = 0x8000 + 1,      // lParam: _strdup'ed line, freed by the window
    WM_SETUP_PROGRESS = 0x8000 + 2, // wParam: per mille, 0..1000
    WM_SETUP_DONE = 0x8000 + 3,     // wParam: do_install's result
    WM_SETUP_ASK = 0x8000 + 4,      // lParam: the asking thread's question, answered in it
    WM_SETUP_ASK_SAY = 0x8000 + 5,  // lParam: _strdup'ed new text of the open question, freed by the window
    WM_SETUP_ASK_END = 0x8000 + 6,  // the open question has answered itself: close it as OK
    WM_SETUP_DETAILS = 0x8000 + 7,  // wParam: length, lParam: the report (heap, or null), freed by the window
    WM_SETUP_CHOOSE_COPY = 0x8000 + 8, // lParam: the asking thread's choice of another copy, made in it
};

// From here on log lines and progress go to the window w as posted
// messages; null: to no window.
void report_to(HWND__ *w);
// Progress callback of an install: posts per-mille positions to the window,
// and names them to a debugger that is attached.
void on_progress(uint64_t done, uint64_t total, void *ctx);

// What the install tells its host for the status line (InstallHost's
// reading, file, skipped and step), kept for the window, which draws the
// line on its own clock: report_live_line gives the line for now_ms, 1, or
// 0 while there is none (before the first disc, and while a question is
// open). Callable from any thread.
void report_reading(void *ctx, const ReadingPhase *phase);
void report_file(void *ctx, const char *file);
void report_skipped(void *ctx, uint64_t bytes);
void report_step(void *ctx, int step, int done, int total);
// A question of the install opens (1) or is answered (0).
void report_asking(int open);
// Nothing told yet, as at the start of an install.
void report_live_clear(void);
int report_live_line(uint64_t now_ms, char *out, size_t size);

// The setup window's taskbar button (taskbar.cpp). taskbar_attach makes the
// shell's object for the window's button, when the shell says the button
// is made; taskbar_show sets what the button shows (making the object at
// the first call where the shell never said so), taskbar_value moves its
// bar. Whatever the shell does, nothing else changes.
enum {
    TASKBAR_NONE,   // no progress on the button
    TASKBAR_NORMAL, // the install's progress
    TASKBAR_ERROR,  // the progress where a failed install stopped
};
void taskbar_attach(HWND__ *w);
void taskbar_show(HWND__ *w, int state, int permille);
void taskbar_value(int permille);
void taskbar_detach(void);

// Fills the options from the CD drives and the files beside the program:
// the discs, the images of them and the update.
void detect_discs_and_update(InstallOptions *o);

// The uninstall stages; both end the process after them. The first asks
// and hands the removal to a copy of the program in the temporary folder,
// the second (that copy) removes the install in dir. quiet: no closing box.
// The second returns the exit code: 1 when something of the install had to
// stay, else 0.
void uninstall_first(void);
int uninstall_second(const char *dir, int quiet);
// Removes what an earlier uninstall left in the temporary folder.
void remove_left_over_copy(void);

// Wide text from the system in the ANSI code page. A heap copy (freed with
// free) that is exact, *exact = 1, unless a character has no equal in the
// code page; then it shows the text with the code page's default character
// or U+FFFD in those places, for messages only. Null without memory.
char *ansi_copy(const wchar_t *w, int *exact);
// The same for a path into out[size]: null when it converted exactly and fits,
// else the reason ("has characters that this Windows cannot pass on", "is too
// long") with out empty. field_path reads the path from an edit field.
const char *ansi_path(const wchar_t *w, char *out, size_t size);
const char *field_path(HWND__ *field, char *out, size_t size);
