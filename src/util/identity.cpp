// File identity: where a handle really leads, whether it is the entry it
// was opened by, and whether two paths or handles are one file. Every write
// or removal by name is checked with these, so that no link leads it
// elsewhere.
#include <windows.h>

#include <string.h>

#include "util/util.h"

// The real path that the open handle leads to; the handle stays open.
static int handle_path(HANDLE h, char *out, DWORD size)
{
    DWORD n = GetFinalPathNameByHandleA(h, out, size, FILE_NAME_NORMALIZED);
    return n > 0 && n < size;
}

int final_path(void *handle, char *out, unsigned long size)
{
    HANDLE h = (HANDLE)handle;
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int ok = handle_path(h, out, size);
    CloseHandle(h);
    return ok;
}

// The one test for every file that is written or removed by name: 1 when
// the open handle leads to the entry `name` of the folder whose real path is
// folder_real. Wine opens a Unix link to a file as its target even when
// asked for the link, and lists it as a plain file: its handle's real path
// is then another than the one it is listed under. Without the folder's real
// path nothing can be told, and the answer is 0.
int handle_is_entry(void *h, const char *folder_real, const char *name)
{
    char real[1100], expected[1100];
    return folder_real[0] && handle_path((HANDLE)h, real, sizeof real) &&
           join_path(expected, sizeof expected, folder_real, name) && _stricmp(real, expected) == 0;
}

// The real path of the folder that holds path's last step, in out; returns
// that step's name inside path, or null when there is none or the folder
// cannot be opened.
const char *real_parent(const char *path, char *out, unsigned long size)
{
    char folder[520];
    const char *slash = strrchr(path, '\\');
    if (!slash || !slash[1])
        return NULL;
    // The folder keeps its separator when it is a root ("C:\\", "\\").
    size_t keep = (size_t)(slash - path);
    if (keep == 0 || (keep == 2 && path[1] == ':'))
        keep++;
    fmt(folder, sizeof folder, "%.*s", (int)keep, path);
    HANDLE d = CreateFileA(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    return final_path(d, out, size) ? slash + 1 : NULL;
}

int opened_itself(void *f, const char *path)
{
    char folder_real[1024];
    const char *name = real_parent(path, folder_real, sizeof folder_real);
    return name && handle_is_entry(f, folder_real, name);
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

