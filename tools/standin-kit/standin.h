/* Shared by the stand-in kit programs: where the kit is, and the records a
   test reads back. TARNOK_STANDIN_RECORD names a folder; when it is set,
   every program appends one line about itself to a file there. */
#ifndef STANDIN_H
#define STANDIN_H

#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The folder `levels` steps above this program's own file. */
static inline void standin_folder_above(char *out, size_t size, int levels)
{
    DWORD n = GetModuleFileNameA(NULL, out, (DWORD)size);
    if (n == 0 || n >= size) {
        out[0] = 0;
        return;
    }
    for (int i = 0; i < levels; i++) {
        char *s = strrchr(out, '\\');
        if (s)
            *s = 0;
    }
}

static inline int standin_env_int(const char *name, int fallback)
{
    const char *v = getenv(name);
    return v && *v ? atoi(v) : fallback;
}

static inline int standin_is_file(const char *path)
{
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

static inline int standin_is_dir(const char *path)
{
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

/* Whole file into a NUL-terminated heap buffer, or NULL. */
static inline char *standin_slurp(const char *path, size_t *size)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    fseek(f, 0, SEEK_SET);
    char *buf = n >= 0 ? (char *)malloc((size_t)n + 1) : NULL;
    if (buf && fread(buf, 1, (size_t)n, f) != (size_t)n) {
        free(buf);
        buf = NULL;
    }
    fclose(f);
    if (buf) {
        buf[n] = 0;
        if (size)
            *size = (size_t)n;
    }
    return buf;
}

/* Every record is written under one mutex, shared by all kit programs. */
static inline HANDLE standin_lock(void)
{
    HANDLE m = CreateMutexA(NULL, FALSE, "TarnokStandinKitRecord");
    if (m)
        WaitForSingleObject(m, INFINITE);
    return m;
}

static inline void standin_unlock(HANDLE m)
{
    if (m) {
        ReleaseMutex(m);
        CloseHandle(m);
    }
}

static inline int standin_record_path(char *out, size_t size, const char *file)
{
    const char *dir = getenv("TARNOK_STANDIN_RECORD");
    if (!dir || !*dir)
        return 0;
    snprintf(out, size, "%s\\%s", dir, file);
    return 1;
}

/* Appends "prio=<class> console=<0|1> path=<first PATH entry>\t<command line>"
   to the record file. */
static inline void standin_record_self(const char *file)
{
    char path[MAX_PATH * 2];
    if (!standin_record_path(path, sizeof path, file))
        return;
    char first[MAX_PATH * 2] = "";
    const char *p = getenv("PATH");
    if (p) {
        snprintf(first, sizeof first, "%s", p);
        char *semi = strchr(first, ';');
        if (semi)
            *semi = 0;
    }
    HANDLE m = standin_lock();
    FILE *f = fopen(path, "ab");
    if (f) {
        fprintf(f, "prio=0x%lx console=%d path=%s\t%s\n", (unsigned long)GetPriorityClass(GetCurrentProcess()),
                GetConsoleWindow() != NULL, first, GetCommandLineA());
        fclose(f);
    }
    standin_unlock(m);
}

#endif
