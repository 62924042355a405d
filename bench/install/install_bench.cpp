// install_bench CD1 CD2 UPDATE DIR: one prebuilt-mode install, timed.
// install_bench /copy DEST SOURCE...: the same bytes copied by the system's
// own CopyFileA, timed, to tell what the platform's file calls cost alone.
// Both print the seconds taken and the process's CPU seconds (user and
// kernel), which a loaded machine disturbs less than the clock.
#include <windows.h>

#include <stdio.h>
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

int main(int argc, char **argv)
{
    if (argc >= 4 && !strcmp(argv[1], "/copy"))
        return copy_main(argc, argv);
    if (argc != 5) {
        fprintf(stderr, "usage: install_bench CD1 CD2 UPDATE DIR\n");
        return 2;
    }
    InstallOptions o = {};
    fmt(o.cd1, sizeof o.cd1, "%s", argv[1]);
    fmt(o.cd2, sizeof o.cd2, "%s", argv[2]);
    fmt(o.patch, sizeof o.patch, "%s", argv[3]);
    fmt(o.dir, sizeof o.dir, "%s", argv[4]);
    log_open();
    LARGE_INTEGER a;
    double cpu = cpu_seconds();
    QueryPerformanceCounter(&a);
    int ok = do_install(&o, NULL, NULL, NULL);
    double t = seconds_since(a);
    cpu = cpu_seconds() - cpu;
    log_close();
    printf("%.3f %.3f\n", t, cpu);
    return ok ? 0 : 1;
}
