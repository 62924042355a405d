// The log: one line per setup_log call, appended to the log file in the
// temporary folder and posted to the setup window while it exists.
#include <windows.h>

#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "setup/setup.h"

HWND hwnd;
int silent;
static FILE *logf;

void log_open(void)
{
    char tmp[260];
    char path[260];
    DWORD n = GetTempPathA(sizeof tmp, tmp);
    // A temporary path that does not fit is no path at all: log to no file
    // rather than to a cut-off folder name.
    if (n == 0 || n >= sizeof tmp)
        return;
    if (!fmt_path(path, sizeof path, "%starnok_setup.log", tmp))
        return;
    // With the manifest's code page the lines are UTF-8, written without a
    // byte-order mark: the window's list and the tests take the bytes as
    // they are, and Notepad reads UTF-8 without a mark.
    logf = fopen(path, "w");
    // The build's child processes inherit handles; the log's must not go
    // with them, or a lingering child keeps the file open after setup ends.
    if (logf)
        SetHandleInformation((HANDLE)_get_osfhandle(_fileno(logf)), HANDLE_FLAG_INHERIT, 0);
}

void log_close(void)
{
    if (logf)
        fclose(logf);
    logf = NULL;
}

void setup_trace(const char *format, ...)
{
    if (!IsDebuggerPresent())
        return;
    char line[1024];
    va_list ap;
    va_start(ap, format);
    vfmt(line, sizeof line, format, ap);
    va_end(ap);
    OutputDebugStringA(line);
}

void setup_log(const char *format, ...)
{
    char line[1024];
    va_list ap;
    va_start(ap, format);
    vfmt(line, sizeof line, format, ap);
    va_end(ap);
    if (IsDebuggerPresent())
        OutputDebugStringA(line);

    if (logf) {
        fprintf(logf, "%s\n", line);
        fflush(logf);
    }
    if (!hwnd || silent)
        return;
    // The window owns the copy once it is posted; if it cannot be posted,
    // nobody else will free it.
    char *copy = _strdup(line);
    if (copy && !PostMessageA(hwnd, WM_SETUP_LOG, 0, (LPARAM)copy))
        free(copy);
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
    if (value == last)
        return;
    if (!hwnd || silent)
        return;
    last = value;
    PostMessageA(hwnd, WM_SETUP_PROGRESS, (WPARAM)(INT_PTR)value, 0);
}
