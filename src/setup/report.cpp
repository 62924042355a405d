// What the setup window is told while an install runs: each log line and
// each per-mille step of the progress, as posted messages that carry their
// own data, so that the thread that reports never touches a window.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "setup/setup.h"

static HWND target; // the window that is told; null: none

// The window owns the copy once it is posted; if it cannot be posted,
// nobody else will free it.
static void post_line(void *ctx, const char *line)
{
    (void)ctx;
    char *copy = _strdup(line);
    if (copy && !PostMessageA(target, WM_SETUP_LOG, 0, (LPARAM)copy))
        free(copy);
}

void report_to(HWND w)
{
    target = w;
    log_listen(w ? post_line : NULL, NULL);
}

void on_progress(uint64_t done, uint64_t total, void *ctx)
{
    (void)ctx;
    static int last = -1;
    int value = 0;
    if (total != 0) {
        // Clamp before narrowing, so a count far past the budget cannot wrap
        // into a negative position.
        uint64_t v = done * 1000 / total;
        value = v > 1000 ? 1000 : (int)v;
    }
    static int traced = -1;
    if (value != traced) {
        traced = value;
        setup_trace("progress %d", value);
    }
    if (value == last || !target)
        return;
    last = value;
    PostMessageA(target, WM_SETUP_PROGRESS, (WPARAM)(INT_PTR)value, 0);
}
