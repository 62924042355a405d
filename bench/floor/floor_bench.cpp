// floor_bench write TREE DEST [IMAGE]: makes TREE's folders and files under
// DEST, each file created, filled with its size in 1 MiB blocks and closed.
// TREE is listed before the clock starts. The bytes come from memory, or,
// with IMAGE, are read from that one file, open from the start, in the same
// blocks as they are written, from its beginning on: the floor of a copy
// from an image, whose bytes must be read before they are written.
// floor_bench copy TREE DEST: the same, but TREE is listed as it goes and
// each file is opened and read as well. The floor of a folder-to-folder copy.
// floor_bench read TREE: each file of TREE opened, read in 1 MiB blocks and
// closed, nothing written: the floor of a check that reads every file of an
// install.
// All print the seconds taken, the bytes written and the process's CPU
// seconds (user and kernel). They run in one thread and make no call beyond
// these: under Wine each one is a server request, and more threads only
// queue behind the same server.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "../cputime.h"

enum { BLOCK = 1 << 20, PATH = 1024 };

static unsigned char block[BLOCK];

struct Entry {
    char rel[PATH]; // below TREE, "" for TREE itself
    int folder;
    unsigned long long size;
};

static Entry *entries;
static size_t entry_count, entry_room;
static unsigned long long bytes_written;

static void join(char *out, const char *a, const char *b)
{
    snprintf(out, PATH, "%s%s%s", a, a[0] && b[0] ? "\\" : "", b);
}

static int is_dot(const char *name)
{
    return !strcmp(name, ".") || !strcmp(name, "..");
}

static void add_entry(const char *rel, int folder, unsigned long long size)
{
    if (entry_count == entry_room) {
        entry_room = entry_room ? entry_room * 2 : 4096;
        entries = (Entry *)realloc(entries, entry_room * sizeof(Entry));
        if (!entries)
            exit(1);
    }
    Entry *e = &entries[entry_count++];
    snprintf(e->rel, sizeof e->rel, "%s", rel);
    e->folder = folder;
    e->size = size;
}

// Lists tree\rel depth first, each folder before what it holds.
static void list_tree(const char *tree, const char *rel)
{
    char dir[PATH], pattern[PATH];
    join(dir, tree, rel);
    snprintf(pattern, sizeof pattern, "%s\\*", dir);
    add_entry(rel, 1, 0);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        if (is_dot(fd.cFileName))
            continue;
        char child[PATH];
        join(child, rel, fd.cFileName);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            list_tree(tree, child);
        else
            add_entry(child, 0, (unsigned long long)fd.nFileSizeHigh << 32 | fd.nFileSizeLow);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

static HANDLE create(const char *path)
{
    return CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
}

static int write_all(HANDLE out, const unsigned char *data, DWORD n)
{
    DWORD put = 0;
    bytes_written += n;
    return WriteFile(out, data, n, &put, NULL) && put == n;
}

// The bytes of the next block: from memory, or read on from the image.
static int next_block(HANDLE image, DWORD n)
{
    if (image == INVALID_HANDLE_VALUE)
        return 1;
    DWORD got = 0;
    if (ReadFile(image, block, n, &got, NULL) && got == n)
        return 1;
    LARGE_INTEGER start = {};
    return SetFilePointerEx(image, start, NULL, FILE_BEGIN) && ReadFile(image, block, n, &got, NULL) && got == n;
}

static int write_tree(const char *dest, HANDLE image)
{
    for (size_t i = 0; i < entry_count; i++) {
        char path[PATH];
        join(path, dest, entries[i].rel);
        if (entries[i].folder) {
            CreateDirectoryA(path, NULL);
            continue;
        }
        HANDLE out = create(path);
        if (out == INVALID_HANDLE_VALUE)
            return 0;
        int ok = 1;
        for (unsigned long long left = entries[i].size; ok && left > 0;) {
            DWORD n = left < BLOCK ? (DWORD)left : (DWORD)BLOCK;
            ok = next_block(image, n) && write_all(out, block, n);
            left -= n;
        }
        CloseHandle(out);
        if (!ok)
            return 0;
    }
    return 1;
}

static int copy_one(const char *from, const char *to)
{
    HANDLE in = CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (in == INVALID_HANDLE_VALUE)
        return 0;
    HANDLE out = create(to);
    if (out == INVALID_HANDLE_VALUE) {
        CloseHandle(in);
        return 0;
    }
    int ok = 1;
    DWORD got = 0;
    while (ok && ReadFile(in, block, BLOCK, &got, NULL) && got > 0)
        ok = write_all(out, block, got);
    CloseHandle(in);
    CloseHandle(out);
    return ok;
}

static int copy_tree(const char *from, const char *to)
{
    char pattern[PATH];
    snprintf(pattern, sizeof pattern, "%s\\*", from);
    CreateDirectoryA(to, NULL);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    int ok = 1;
    do {
        if (is_dot(fd.cFileName))
            continue;
        char a[PATH], b[PATH];
        join(a, from, fd.cFileName);
        join(b, to, fd.cFileName);
        ok = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? copy_tree(a, b) : copy_one(a, b);
    } while (ok && FindNextFileA(h, &fd));
    FindClose(h);
    return ok;
}

static unsigned long long bytes_read;

static int read_tree(const char *tree)
{
    for (size_t i = 0; i < entry_count; i++) {
        char path[PATH];
        if (entries[i].folder)
            continue;
        join(path, tree, entries[i].rel);
        HANDLE in = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
        if (in == INVALID_HANDLE_VALUE)
            return 0;
        DWORD got = 0;
        while (ReadFile(in, block, BLOCK, &got, NULL) && got > 0)
            bytes_read += got;
        CloseHandle(in);
    }
    return 1;
}

static int read_main(const char *tree)
{
    list_tree(tree, "");
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    double cpu0 = cpu_seconds();
    QueryPerformanceCounter(&t0);
    int ok = read_tree(tree);
    QueryPerformanceCounter(&t1);
    printf("%.3f %llu %.3f\n", (double)(t1.QuadPart - t0.QuadPart) / (double)freq.QuadPart, bytes_read,
           cpu_seconds() - cpu0);
    return ok ? 0 : 1;
}

int main(int argc, char **argv)
{
    if (argc == 3 && !strcmp(argv[1], "read"))
        return read_main(argv[2]);
    int copy = argc == 4 && !strcmp(argv[1], "copy");
    if (!copy && (argc < 4 || argc > 5 || strcmp(argv[1], "write"))) {
        fprintf(stderr, "usage: floor_bench write TREE DEST [IMAGE] | copy TREE DEST | read TREE\n");
        return 2;
    }
    HANDLE image = INVALID_HANDLE_VALUE;
    if (argc == 5) {
        image = CreateFileA(argv[4], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        if (image == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "cannot open %s\n", argv[4]);
            return 2;
        }
    }
    for (size_t i = 0; i < sizeof block; i++)
        block[i] = (unsigned char)(i * 131 + (i >> 12));
    if (!copy)
        list_tree(argv[2], "");
    LARGE_INTEGER freq, t0, t1;
    QueryPerformanceFrequency(&freq);
    double cpu0 = cpu_seconds();
    QueryPerformanceCounter(&t0);
    int ok = copy ? copy_tree(argv[2], argv[3]) : write_tree(argv[3], image);
    QueryPerformanceCounter(&t1);
    printf("%.3f %llu %.3f\n", (double)(t1.QuadPart - t0.QuadPart) / (double)freq.QuadPart, bytes_written,
           cpu_seconds() - cpu0);
    return ok ? 0 : 1;
}
