// The log: one line per setup_log call, appended to the log file in the
// temporary folder and handed to the one listener that has asked for lines
// (the setup window, which shows them).
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "util/util.h"

static FILE *logf;
static LogListener listener;
static void *listener_ctx;

// Opens the log file for writing from its start without following a link:
// a new file, or the old log itself, emptied. A link or another name for
// some other file (a hard link) at that place is left alone, and there is
// then no log file: its lines would land in whatever it leads to.
static HANDLE open_log_file(const char *path)
{
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE h = CreateFileA(path, GENERIC_WRITE, share, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
        return h;
    h = CreateFileA(path, GENERIC_WRITE | FILE_READ_ATTRIBUTES, share, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT,
                    NULL);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(h, &info) &&
        !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
        info.nNumberOfLinks == 1 && opened_itself(h, path) && SetEndOfFile(h))
        return h;
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
}

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
    // The handle is not inherited: the build's child processes must not
    // keep the file open after setup ends.
    HANDLE h = open_log_file(path);
    if (h == INVALID_HANDLE_VALUE)
        return;
    // With the manifest's code page the lines are UTF-8, written without a
    // byte-order mark: the window's list and the tests take the bytes as
    // they are, and Notepad reads UTF-8 without a mark. Text mode stores
    // each line end as CR LF.
    int fd = _open_osfhandle((intptr_t)h, _O_WRONLY | _O_TEXT);
    if (fd < 0) {
        CloseHandle(h);
        return;
    }
    logf = _fdopen(fd, "w");
    if (!logf)
        _close(fd);
}

void log_close(void)
{
    if (logf)
        fclose(logf);
    logf = NULL;
}

void log_listen(LogListener fn, void *ctx)
{
    listener = fn;
    listener_ctx = ctx;
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
    setup_trace("%s", line);

    if (logf) {
        fprintf(logf, "%s\n", line);
        fflush(logf);
    }
    if (listener)
        listener(listener_ctx, line);
}
