// filelist_bench DIR [MIB]: makes DIR afresh as an install folder of many
// small files and a few large ones (MIB MiB in all, 100 by default) with
// its file list, then times list_verify of it against the floor of any
// check: the same files opened, read whole in 1 MiB blocks and closed, by
// a loop that does nothing else; and that floor with a CRC-32 of every
// block. Five rounds in turn, the best of each; it prints seconds, MB/s,
// CPU seconds and the ratios. The cache is warm: what is measured is what
// the checks cost beyond the reads.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "filelist/filelist.h"
#include "util/util.h"
#include "../cputime.h"

enum { SMALL_FILES = 2000, LARGE_FILES = 8, BLOCK = 1 << 20, ROUNDS = 5 };

static unsigned char block[BLOCK];

struct Timing {
    double wall, cpu;
};

static double now(void)
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return (double)t.QuadPart / (double)f.QuadPart;
}

// Writes one file of the tree and its line of the list.
static int make_file(ListWriter *w, const char *dir, const char *rel, uint64_t size, unsigned seed)
{
    char path[780];
    unsigned char *data = (unsigned char *)malloc(size ? size : 1);
    for (uint64_t i = 0; i < size; i++)
        data[i] = (unsigned char)((i * 131 + seed) ^ (i >> 9));
    ListEntry e = {};
    snprintf(e.path, sizeof e.path, "%s", rel);
    snprintf(e.source, sizeof e.source, "cd1:%s", rel);
    e.size = size;
    e.crc = crc32_more(0, data, size);
    int ok = join_path(path, sizeof path, dir, rel) && write_file(path, data, size) && list_add(w, &e);
    free(data);
    return ok;
}

// The tree: sprites of 2 to 66 KiB in folders of 100, and a few large files.
static uint64_t make_tree(const char *dir, uint64_t mib)
{
    ListWriter w;
    uint64_t total = 0, large = (mib << 20) / 2 / LARGE_FILES;
    if (!list_open(&w, dir))
        return 0;
    for (int i = 0; i < SMALL_FILES; i++) {
        char rel[100];
        uint64_t size = (mib << 20) / 2 / SMALL_FILES * (uint64_t)(i % 7 + 1) * 2 / 8;
        snprintf(rel, sizeof rel, "game\\hd\\TARNOK\\S%02d\\SPR%04d.DAT", i / 100, i);
        if (!make_file(&w, dir, rel, size, (unsigned)i))
            return 0;
        total += size;
    }
    for (int i = 0; i < LARGE_FILES; i++) {
        char rel[100];
        snprintf(rel, sizeof rel, "game\\cd1\\TARNOK\\DISK1\\BIG%d.DAT", i);
        if (!make_file(&w, dir, rel, large, (unsigned)i))
            return 0;
        total += large;
    }
    // The record of a whole install ends so.
    DWORD put = 0;
    int ok = WriteFile((HANDLE)w.handle, LIST_COMPLETE "\r\n", sizeof LIST_COMPLETE + 1, &put, NULL);
    list_close(&w);
    return ok ? total : 0;
}

// The floor: every listed file opened, read whole and closed.
static int read_all(const char *dir, int crc)
{
    FileList l;
    char reason[600], path[780];
    if (!list_read(dir, &l, reason, sizeof reason))
        return 0;
    for (int i = 0; i < l.count; i++) {
        join_path(path, sizeof path, dir, l.entries[i].path);
        HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN,
                               NULL);
        DWORD got = 0;
        uint32_t sum = 0;
        while (h != INVALID_HANDLE_VALUE && ReadFile(h, block, BLOCK, &got, NULL) && got > 0)
            sum = crc ? crc32_more(sum, block, got) : sum;
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    list_free(&l);
    return 1;
}

static int verify(const char *dir)
{
    ListTally t;
    char reason[1200];
    return list_verify(dir, NULL, NULL, &t, reason, sizeof reason) && t.missing + t.changed + t.unreadable == 0;
}

// Runs one measurement and keeps the best wall and CPU time.
static int measure(Timing *best, int which, const char *dir)
{
    double c0 = cpu_seconds(), t0 = now();
    int ok = which == 0 ? verify(dir) : read_all(dir, which == 2);
    double wall = now() - t0, cpu = cpu_seconds() - c0;
    if (best->wall == 0 || wall < best->wall)
        best->wall = wall;
    if (best->cpu == 0 || cpu < best->cpu)
        best->cpu = cpu;
    return ok;
}

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: filelist_bench DIR [MIB]\n");
        return 2;
    }
    const char *dir = argv[1];
    uint64_t mib = argc == 3 ? strtoull(argv[2], NULL, 10) : 100;
    delete_tree(dir);
    make_dirs(dir);
    uint64_t bytes = make_tree(dir, mib);
    if (!bytes) {
        fprintf(stderr, "cannot make the tree in %s\n", dir);
        return 1;
    }
    static const char *const names[3] = {"list_verify", "floor: open, read, close", "floor with CRC-32"};
    Timing best[3] = {};
    for (int round = 0; round < ROUNDS; round++) {
        for (int k = 0; k < 3; k++) {
            if (!measure(&best[k], k, dir)) {
                fprintf(stderr, "%s failed\n", names[k]);
                return 1;
            }
        }
    }
    printf("%d files, %llu bytes, warm cache, best of %d\n", SMALL_FILES + LARGE_FILES, (unsigned long long)bytes,
           ROUNDS);
    for (int k = 0; k < 3; k++)
        printf("%-26s %7.3f s %7.0f MB/s %7.3f s CPU   %.2fx floor   %.2fx floor with CRC-32\n", names[k],
               best[k].wall, (double)bytes / best[k].wall / 1e6, best[k].cpu, best[k].wall / best[1].wall,
               best[k].wall / best[2].wall);
    delete_tree(dir);
    return 0;
}
