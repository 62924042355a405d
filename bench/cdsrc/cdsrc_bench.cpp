// cdsrc_bench SOURCE DEST: opens SOURCE as a CD source, copies its whole
// tree into DEST and prints the seconds taken, the bytes copied and the
// process's CPU seconds (user and kernel), which a loaded machine disturbs
// less than the clock.
#include <windows.h>

#include <stdio.h>

#include "cdsrc/cdsrc.h"
#include "../cputime.h"

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: cdsrc_bench SOURCE DEST\n");
        return 2;
    }
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    double cpu0 = cpu_seconds();
    QueryPerformanceCounter(&t0);
    CdSource *src = cd_open(argv[1]);
    if (!src) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    // DEST is new, as the folders of a first install are: the files are
    // written at their own names, as the floor writes them.
    Progress p = {0, 0, NULL, NULL, NULL, NULL, NULL, 1};
    int ok = cd_copy_all(src, argv[2], &p);
    cd_close(src);
    QueryPerformanceCounter(&t1);
    printf("%.3f %llu %.3f\n", (double)(t1.QuadPart - t0.QuadPart) / (double)freq.QuadPart, (unsigned long long)p.done,
           cpu_seconds() - cpu0);
    return ok ? 0 : 1;
}
