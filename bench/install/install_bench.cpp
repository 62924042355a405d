// install_bench CD1 CD2 UPDATE DIR: one prebuilt-mode install, timed.
#include <windows.h>

#include <stdio.h>

#include "install/install.h"
#include "setup/setup.h"

int main(int argc, char **argv)
{
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
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    int ok = do_install(&o, NULL, NULL);
    QueryPerformanceCounter(&b);
    log_close();
    printf("%.3f\n", (double)(b.QuadPart - a.QuadPart) / (double)f.QuadPart);
    return ok ? 0 : 1;
}
