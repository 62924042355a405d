// install_bench CD1 CD2 UPDATE DIR: one prebuilt-mode install, timed.
// install_bench /window CD1 CD2 UPDATE DIR: the same install as the setup
// window runs it: on a worker thread, told to a window (a message-only
// one here) through the progress callback and the host's news, with the
// status line made from that news four times a second, as the window's
// timer makes it.
// install_bench /copy DEST SOURCE...: the same bytes copied by the system's
// own CopyFileA, timed, to tell what the platform's file calls cost alone.
// Both print the seconds taken and the process's CPU seconds (user and
// kernel), which a loaded machine disturbs less than the clock.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "install/install.h"
#include "setup/setup.h"
#include "../cputime.h"

static double seconds_since(const LARGE_INTEGER &a)
{
    LARGE_INTEGER f, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&b);
    return (double)(b.QuadPart - a.QuadPart) / (double)f.QuadPart;
}

// Copies the file or folder src to dst, folders recursively.
static int copy_tree(const char *src, const char *dst)
{
    DWORD a = GetFileAttributesA(src);
    if (a == INVALID_FILE_ATTRIBUTES)
        return 0;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY))
        return CopyFileA(src, dst, FALSE) != 0;
    if (!CreateDirectoryA(dst, NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
        return 0;
    char pattern[MAX_PATH * 2];
    fmt(pattern, sizeof pattern, "%s\\*", src);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int ok = 1;
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
            continue;
        char from[MAX_PATH * 2], to[MAX_PATH * 2];
        fmt(from, sizeof from, "%s\\%s", src, fd.cFileName);
        fmt(to, sizeof to, "%s\\%s", dst, fd.cFileName);
        ok = copy_tree(from, to) && ok;
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return ok;
}

static int copy_main(int argc, char **argv)
{
    LARGE_INTEGER a;
    double cpu = cpu_seconds();
    QueryPerformanceCounter(&a);
    int ok = CreateDirectoryA(argv[2], NULL) || GetLastError() == ERROR_ALREADY_EXISTS;
    for (int i = 3; ok && i < argc; i++) {
        const char *slash = strrchr(argv[i], '\\');
        char to[MAX_PATH * 2];
        fmt(to, sizeof to, "%s\\%s", argv[2], slash ? slash + 1 : argv[i]);
        ok = copy_tree(argv[i], to);
    }
    printf("%.3f %.3f\n", seconds_since(a), cpu_seconds() - cpu);
    return ok ? 0 : 1;
}

static InstallOptions o;
static int installed;

static DWORD WINAPI install_told(LPVOID param)
{
    (void)param;
    static const InstallHost host = {NULL, NULL, on_progress, report_reading, report_file, report_skipped, report_step, NULL};
    installed = do_install(&o, &host);
    return 0;
}

// Takes what the install posts to w, as the window would, and makes the
// status line every 250 ms until the install has ended.
static int install_as_the_window(HWND w)
{
    report_to(w);
    HANDLE t = CreateThread(NULL, 0, install_told, NULL, 0, NULL);
    if (!w || !t)
        return 0;
    char line[1024];
    uint64_t drawn = 0;
    while (MsgWaitForMultipleObjects(1, &t, FALSE, 250, QS_ALLPOSTMESSAGE) != WAIT_OBJECT_0) {
        MSG m;
        while (PeekMessageA(&m, NULL, 0, 0, PM_REMOVE))
            if (m.message == WM_SETUP_LOG)
                free((char *)m.lParam);
        uint64_t now = GetTickCount64();
        if (now - drawn >= 250) {
            report_live_line(now, line, sizeof line);
            drawn = now;
        }
    }
    CloseHandle(t);
    report_to(NULL);
    return installed;
}

int main(int argc, char **argv)
{
    if (argc >= 4 && !strcmp(argv[1], "/copy"))
        return copy_main(argc, argv);
    int window = argc == 6 && !strcmp(argv[1], "/window");
    if (argc != 5 && !window) {
        fprintf(stderr, "usage: install_bench [/window] CD1 CD2 UPDATE DIR\n");
        return 2;
    }
    argv += window;
    fmt(o.cd1, sizeof o.cd1, "%s", argv[1]);
    fmt(o.cd2, sizeof o.cd2, "%s", argv[2]);
    fmt(o.patch, sizeof o.patch, "%s", argv[3]);
    fmt(o.dir, sizeof o.dir, "%s", argv[4]);
    log_open();
    // The window exists before Install is pressed: its making, which loads
    // the display driver, is no part of the install.
    HWND w = window ? CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, NULL, NULL, NULL) : NULL;
    LARGE_INTEGER a;
    double cpu = cpu_seconds();
    QueryPerformanceCounter(&a);
    int ok = window ? install_as_the_window(w) : do_install(&o, NULL);
    double t = seconds_since(a);
    cpu = cpu_seconds() - cpu;
    log_close();
    printf("%.3f %.3f\n", t, cpu);
    return ok ? 0 : 1;
}
