// The setup front end: start-up and command line, the setup window, and the
// log and progress reporting that every other unit writes through.
#pragma once
#include <stdint.h>

#include "util/util.h"

struct HWND__;

// Window messages posted to the setup window; each carries its own data.
enum {
    WM_SETUP_LOG = 0x8000 + 1,      // lParam: _strdup'ed line, freed by the window
    WM_SETUP_PROGRESS = 0x8000 + 2, // wParam: per mille, 0..1000
    WM_SETUP_DONE = 0x8000 + 3,     // wParam: do_install's result
    WM_SETUP_ASK = 0x8000 + 4,      // lParam: the asking thread's question, answered in it
};

extern HWND__ *hwnd; // the setup window; null until it exists
extern int silent;   // set by /silent: nothing is posted to a window

// One call, one line: appended to the log file and posted to the window.
void setup_log(const char *format, ...) PRINTF_LIKE(1, 2);
// A line for a debugger that is attached, and for nobody else: each log line
// and progress step goes there too, with the named steps of the late
// install and of the uninstall, so that a harness can stop the program at
// a moment of its choosing. Costs nothing without a debugger.
void setup_trace(const char *format, ...) PRINTF_LIKE(1, 2);
// Progress callback of an install: posts per-mille positions to the window.
void on_progress(uint64_t done, uint64_t total, void *ctx);

// Asks the player from the install thread and waits for the answer: the
// window's thread shows a message box owned by the window, titled "Tarnok
// setup", with text and the MB_ type's buttons and icon, and hands back the
// button pressed (IDOK, IDRETRY, ...). Unattended, without a window, or once
// the player has asked to stop, no box: IDCANCEL at once.
int ask_player(const char *text, unsigned int type);

// "tarnok_setup.log" in the temporary folder, emptied on open.
void log_open(void);
void log_close(void);

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
