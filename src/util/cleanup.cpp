// Removals that must be careful about other processes: a file deleted only
// when nothing uses it and it is what its name says, and a tree removal that
// waits a moment for a file another process still holds.
#include <windows.h>

#include <string.h>

#include "util/util.h"

// 1 when the open file `f` is the entry `path` itself. Wine opens a Unix link
// to a file as its target even when asked for the link, so the handle's real
// path must be the real path of the folder joined with the entry's name.
static int opened_itself(HANDLE f, const char *path)
{
    char folder[520], real[1100], real_folder[1100], expected[1100];
    const char *slash = strrchr(path, '\\');
    if (!slash || !slash[1])
        return 0;
    const char *name = slash + 1;
    // The folder keeps its separator when it is a root ("C:\\", "\\").
    size_t keep = (size_t)(slash - path);
    if (keep == 0 || (keep == 2 && path[1] == ':'))
        keep++;
    fmt(folder, sizeof folder, "%.*s", (int)keep, path);
    HANDLE d = CreateFileA(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    HANDLE dup = NULL;
    if (!DuplicateHandle(GetCurrentProcess(), f, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS))
        dup = INVALID_HANDLE_VALUE;
    int known = final_path(d, real_folder, sizeof real_folder);
    if (!final_path(dup, real, sizeof real) || !known)
        return 0;
    size_t n = strlen(real_folder);
    fmt(expected, sizeof expected, n && real_folder[n - 1] == '\\' ? "%s%s" : "%s\\%s", real_folder, name);
    return _stricmp(real, expected) == 0;
}

int delete_unused_file(const char *path)
{
    // No sharing: the open fails while any other handle to the file is open.
    HANDLE f = CreateFileA(path, DELETE | FILE_READ_ATTRIBUTES, 0, NULL, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    int ok = GetFileInformationByHandle(f, &info) &&
             !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) &&
             opened_itself(f, path);
    if (ok) {
        // Deleting through the handle deletes exactly what was checked. The
        // system refuses it while a running program was started from the file.
        FILE_DISPOSITION_INFO disposition = {TRUE};
        ok = SetFileInformationByHandle(f, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    }
    CloseHandle(f);
    return ok;
}

int same_open_file(void *a, void *b)
{
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return GetFileInformationByHandle((HANDLE)a, &ia) && GetFileInformationByHandle((HANDLE)b, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

int same_file(const char *a, const char *b)
{
    HANDLE fa = CreateFileA(a, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE fb = CreateFileA(b, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING, 0, NULL);
    int same = fa != INVALID_HANDLE_VALUE && fb != INVALID_HANDLE_VALUE && same_open_file(fa, fb);
    if (fa != INVALID_HANDLE_VALUE)
        CloseHandle(fa);
    if (fb != INVALID_HANDLE_VALUE)
        CloseHandle(fb);
    return same;
}

// 1 when some file below `path` cannot be deleted yet because another
// process holds it open. Links are not entered.
static int holds_busy_file(const char *path)
{
    char pattern[520];
    fmt(pattern, sizeof pattern, "%s\\*", path);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int busy = 0;
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
            continue;
        char child[520];
        fmt(child, sizeof child, "%s\\%s", path, fd.cFileName);
        DWORD a = fd.dwFileAttributes;
        if (a & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        if (a & FILE_ATTRIBUTE_DIRECTORY) {
            busy = holds_busy_file(child);
            continue;
        }
        HANDLE f = CreateFileA(child, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                               OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
        // Access is denied to a file that was deleted while another handle
        // on it stays open: it goes only when that handle closes.
        DWORD error = f == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        if (f != INVALID_HANDLE_VALUE)
            CloseHandle(f);
        busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    } while (!busy && FindNextFileA(h, &fd));
    FindClose(h);
    return busy;
}

int delete_tree_patiently(const char *path, unsigned long max_ms)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (delete_tree(path))
            return 1;
        // The folder itself is busy while it is some process's current folder.
        DWORD error = GetLastError();
        if (!path_exists(path))
            return 1;
        if (error != ERROR_SHARING_VIOLATION && !holds_busy_file(path))
            return 0;
        if (GetTickCount() - start >= max_ms)
            return 0;
        Sleep(50);
    }
}
