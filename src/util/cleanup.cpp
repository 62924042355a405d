// Removals that must be careful about other processes: a tree removal that
// waits a moment for a file another process still holds, and the tests of
// file identity they rely on.
#include <windows.h>

#include <string.h>

#include "util/util.h"

int same_open_file(void *a, void *b)
{
    BY_HANDLE_FILE_INFORMATION ia, ib;
    return GetFileInformationByHandle((HANDLE)a, &ia) && GetFileInformationByHandle((HANDLE)b, &ib) &&
           ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

int same_file(const char *a, const char *b)
{
    DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    HANDLE fa = CreateFileA(a, 0, share, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    HANDLE fb = CreateFileA(b, 0, share, NULL, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
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
