// Removals: a file by name that is never what a link leads to, a folder
// tree that is never left through a link, and a tree removal that waits a
// moment for a file another process still holds.
#include <windows.h>

#include <string.h>

#include "util/util.h"

// Opens the entry without following a link, checks that the handle is the
// entry itself, and deletes through the handle: what is deleted is what
// was checked. folder_real may be null (then it is found here).
static int delete_entry(const char *path, const char *folder_real, const char *name, unsigned long share, int plain_only,
                        int clear_read_only)
{
    char found[1024];
    if (!folder_real) {
        name = real_parent(path, found, sizeof found);
        if (!name)
            return 0;
        folder_real = found;
    }
    DWORD access = DELETE | FILE_READ_ATTRIBUTES | (clear_read_only ? FILE_WRITE_ATTRIBUTES : 0);
    HANDLE f = CreateFileA(path, access, share, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    int ok = GetFileInformationByHandle(f, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
             !(plain_only && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) &&
             handle_is_entry(f, folder_real, name);
    if (ok && clear_read_only && (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
        FILE_BASIC_INFO basic;
        memset(&basic, 0, sizeof basic); // times of 0 stay as they are
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
        SetFileInformationByHandle(f, FileBasicInfo, &basic, sizeof basic);
    }
    DWORD error = ok ? 0 : ERROR_CANT_RESOLVE_FILENAME; // a folder, or what a link there leads to
    if (ok) {
        // The system refuses this while a running program was started from the file.
        FILE_DISPOSITION_INFO disposition = {TRUE};
        ok = SetFileInformationByHandle(f, FileDispositionInfo, &disposition, sizeof disposition) != 0;
        error = ok ? 0 : GetLastError();
    }
    CloseHandle(f);
    SetLastError(error);
    return ok;
}

int delete_file_itself(const char *path)
{
    return delete_entry(path, NULL, NULL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, 0);
}

int delete_unused_file(const char *path)
{
    // No sharing: the open fails while any other handle to the file is open.
    return delete_entry(path, NULL, NULL, 0, 1, 0);
}

// Removes everything in a folder that is no link, but the entry named keep
// (any case; null keeps nothing).
static void delete_children(const char *path, const char *keep)
{
    char folder_real[1024] = "";
    HANDLE dir = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (!final_path(dir, folder_real, sizeof folder_real))
        folder_real[0] = 0;
    FolderListing l;
    for (int more = listing_first(&l, path, "*"); more; more = listing_next(&l)) {
        char child[520];
        // A cut child would delete what another path names.
        if ((keep && _stricmp(l.name, keep) == 0) || !join_path(child, sizeof child, path, l.name))
            continue;
        DWORD a = l.attributes;
        // A link is removed itself and never entered or changed, so
        // nothing outside the tree is deleted through it.
        if ((a & FILE_ATTRIBUTE_REPARSE_POINT) && (a & FILE_ATTRIBUTE_DIRECTORY))
            RemoveDirectoryA(child);
        else if (a & FILE_ATTRIBUTE_REPARSE_POINT)
            DeleteFileA(child);
        else if (a & FILE_ATTRIBUTE_DIRECTORY)
            delete_tree(child);
        else
            delete_entry(child, folder_real, l.name, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0, 1);
    }
    listing_close(&l);
}

// The folder it is given may itself be a link (a junction, or a Unix link
// under Wine, where RemoveDirectoryA leaves it in place): 1 for a real folder.
static int real_folder(const char *path, DWORD *own)
{
    *own = GetFileAttributesA(path);
    return *own != INVALID_FILE_ATTRIBUTES && (*own & FILE_ATTRIBUTE_DIRECTORY) &&
           !(*own & FILE_ATTRIBUTE_REPARSE_POINT);
}

int delete_tree(const char *path)
{
    DWORD own;
    if (!real_folder(path, &own)) {
        // Only the link goes, never what it leads to.
        if (own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) &&
            (own & FILE_ATTRIBUTE_DIRECTORY))
            return RemoveDirectoryA(path) != 0;
        return 0;
    }
    delete_children(path, NULL);
    return RemoveDirectoryA(path) != 0;
}

int delete_tree_except(const char *path, const char *keep)
{
    DWORD own;
    if (!real_folder(path, &own))
        return 0;
    delete_children(path, keep);
    return 1;
}

// 1 when a file cannot be deleted yet because another process holds it
// open. Access is denied to a file that was deleted while another handle on
// it stays open: it goes only when that handle closes.
static int file_is_busy(const char *path)
{
    HANDLE f = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    DWORD error = f == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// 1 when some file below `path` cannot be deleted yet because another
// process holds it open. Links are not entered.
static int holds_busy_file(const char *path)
{
    int busy = 0;
    FolderListing l;
    for (int more = listing_first(&l, path, "*"); more && !busy; more = listing_next(&l)) {
        char child[520];
        if ((l.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !join_path(child, sizeof child, path, l.name))
            continue;
        busy = (l.attributes & FILE_ATTRIBUTE_DIRECTORY) ? holds_busy_file(child) : file_is_busy(child);
    }
    listing_close(&l);
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
