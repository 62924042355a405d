// Path tests, folder creation, whole-file reading and writing, block copies
// and tree removal, over the ANSI file functions.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "setup/setup.h"
#include "util/util.h"

// Shared by every copy: one install at a time is a rule of the program.
static unsigned char copy_buf[1 << 20];

int path_exists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

int is_dir(const char *path)
{
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int make_dirs(const char *path)
{
    char buf[520];
    // A cut path would create folders of another name.
    if (!fmt_path(buf, sizeof buf, "%s", path))
        return 0;
    // Mostly the folder is new in a folder that exists, or is there already:
    // one call settles it. A path with a ".." step goes the long way, which
    // also makes the folder the step leaves.
    if (!strstr(buf, "..")) {
        if (CreateDirectoryA(buf, NULL))
            return 1;
        if (GetLastError() == ERROR_ALREADY_EXISTS)
            return is_dir(buf);
    }
    // Start past a drive prefix such as C:\, which cannot be created.
    if (strlen(buf) > 3) {
        for (char *s = buf + 3; *s; s++) {
            if (*s != '\\' && *s != '/')
                continue;
            char sep = *s;
            *s = 0;
            CreateDirectoryA(buf, NULL);
            *s = sep;
        }
    }
    CreateDirectoryA(buf, NULL);
    return is_dir(buf);
}

// Creates the folders above a file about to be written.
static void make_parent_dirs(const char *path)
{
    char dir[520];
    if (!fmt_path(dir, sizeof dir, "%s", path))
        return;
    char *s = strrchr(dir, '\\');
    if (s) {
        *s = 0;
        make_dirs(dir);
    }
}

// Creates a new file for writing, with normal attributes; fails with
// ERROR_FILE_EXISTS when there is one. The folders above it are made only
// when it cannot be created at once, so that a tree copy, which makes each
// folder before its files, asks for none per file.
static HANDLE create_new(const char *path)
{
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PATH_NOT_FOUND)
        return f;
    make_parent_dirs(path);
    return CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
}

int dest_open(DestFile *d, const char *path)
{
    d->handle = INVALID_HANDLE_VALUE;
    d->temp[0] = 0;
    if (!fmt_path(d->path, sizeof d->path, "%s", path)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    HANDLE f = create_new(path);
    DWORD error = f == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
        // A folder of that name can never be replaced: fail before writing.
        if (is_dir(path)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return 0;
        }
        // A left-over temporary file of a killed run is ours to replace.
        if (!fmt_path(d->temp, sizeof d->temp, "%s%s", path, DEST_TEMP_SUFFIX)) {
            SetLastError(ERROR_FILENAME_EXCED_RANGE);
            return 0;
        }
        f = CreateFileA(d->temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    }
    d->handle = f;
    return f != INVALID_HANDLE_VALUE;
}

int dest_write(DestFile *d, const void *data, uint64_t size)
{
    // A single call moves at most 4 GiB - 1.
    if (size > 0xFFFFFFFFu) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return 0;
    }
    DWORD written = 0;
    if (!WriteFile(d->handle, data, (DWORD)size, &written, NULL))
        return 0;
    if (written != size) {
        SetLastError(ERROR_DISK_FULL);
        return 0;
    }
    return 1;
}

const char *dest_name(const DestFile *d)
{
    return d->temp[0] ? d->temp : d->path;
}

void dest_close(DestFile *d)
{
    if (d->handle != INVALID_HANDLE_VALUE)
        CloseHandle(d->handle);
    d->handle = INVALID_HANDLE_VALUE;
}

int dest_commit(DestFile *d)
{
    dest_close(d);
    if (!d->temp[0] || MoveFileExA(d->temp, d->path, MOVEFILE_REPLACE_EXISTING))
        return 1;
    DWORD error = GetLastError();
    DeleteFileA(d->temp);
    SetLastError(error);
    return 0;
}

void dest_abandon(DestFile *d)
{
    DWORD error = GetLastError();
    dest_close(d);
    if (d->temp[0])
        DeleteFileA(d->temp);
    SetLastError(error);
}

static char last_write_failure[1024];

const char *write_failure(void) { return last_write_failure; }

void write_failure_clear(void) { last_write_failure[0] = 0; }

// Logs "cannot write PATH: REASON" and keeps it for write_failure().
static void log_write_failure(const char *path, DWORD error)
{
    char shown[1024], reason[600];
    fmt(last_write_failure, sizeof last_write_failure, "cannot write %s: %s",
        name_escape(path, shown, sizeof shown), error_text(error, reason, sizeof reason));
    setup_log("%s", last_write_failure);
}

int write_file(const char *path, const void *data, uint64_t size)
{
    DestFile out;
    if (!dest_open(&out, path)) {
        log_write_failure(path, GetLastError());
        return 0;
    }
    if (!dest_write(&out, data, size)) {
        dest_abandon(&out);
        log_write_failure(path, GetLastError());
        return 0;
    }
    if (!dest_commit(&out)) {
        log_write_failure(path, GetLastError());
        return 0;
    }
    return 1;
}

unsigned char *read_file(const char *path, uint64_t *size_out)
{
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return NULL;
    LARGE_INTEGER size;
    unsigned char *buf = NULL;
    DWORD got = 0;
    // One byte more, so a caller may end the contents with a NUL. A single
    // read moves at most 4 GiB - 1, so larger files fail before allocating.
    if (!GetFileSizeEx(f, &size) || (uint64_t)size.QuadPart > 0xFFFFFFFFu ||
        !(buf = (unsigned char *)malloc((size_t)size.QuadPart + 1)) ||
        !ReadFile(f, buf, (DWORD)size.QuadPart, &got, NULL) || got != (uint64_t)size.QuadPart) {
        free(buf);
        CloseHandle(f);
        return NULL;
    }
    CloseHandle(f);
    *size_out = (uint64_t)size.QuadPart;
    return buf;
}

int dest_finish(DestFile *dest, int ok)
{
    if (!ok) {
        dest_abandon(dest);
        return 0;
    }
    if (!dest_commit(dest)) {
        log_write_failure(dest->path, GetLastError());
        return 0;
    }
    return 1;
}

int copy_file(const char *src, const char *dst, Progress *p)
{
    HANDLE in = CreateFileA(src, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                            FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (in == INVALID_HANDLE_VALUE) {
        char shown[1024];
        // The destination's folders are made even so: callers count on a
        // folder they copy into being there after a source that is missing.
        make_parent_dirs(dst);
        setup_log("cannot read %s", name_escape(src, shown, sizeof shown));
        return 0;
    }
    DestFile dest;
    if (!dest_open(&dest, dst)) {
        CloseHandle(in);
        char shown[1024];
        setup_log("cannot write %s", name_escape(dst, shown, sizeof shown));
        return 0;
    }
    HANDLE out = dest.handle;
    int ok = 1;
    for (;;) {
        DWORD got = 0, put = 0;
        // A read that fails part-way is a failed copy, not the end of the file.
        if (!ReadFile(in, copy_buf, sizeof copy_buf, &got, NULL)) {
            ok = 0;
            break;
        }
        if (got == 0)
            break;
        if (!WriteFile(out, copy_buf, got, &put, NULL) || put != got) {
            ok = 0;
            break;
        }
        if (p)
            progress_add(p, got);
    }
    CloseHandle(in);
    return dest_finish(&dest, ok);
}

const char *error_text(unsigned long error, char *out, size_t size)
{
    char words[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, error, 0, words,
                             sizeof words, NULL);
    if (n >= sizeof words)
        n = 0;
    // The system's text ends in a line break, which a log line must not hold.
    while (n > 0 && (words[n - 1] == '\r' || words[n - 1] == '\n' || words[n - 1] == ' '))
        n--;
    words[n] = 0;
    fmt(out, size, "%s (error %lu)", n ? words : "Unknown error.", error);
    return out;
}

int final_path(void *handle, char *out, unsigned long size)
{
    HANDLE h = (HANDLE)handle;
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    DWORD n = GetFinalPathNameByHandleA(h, out, size, FILE_NAME_NORMALIZED);
    CloseHandle(h);
    return n > 0 && n < size;
}

// Wine lists a Unix link to a file as a plain file, and its DeleteFileA
// removes the link's target instead of the link. A file whose real path is
// not the one it is listed under is such a link and is left alone. Without
// the folder's own real path nothing can be told, and the file is deleted.
static int is_hidden_file_link(const char *folder_real, const char *child, const char *name)
{
    char real[1100], expected[1100];
    if (!folder_real[0])
        return 0;
    HANDLE h = CreateFileA(child, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (!final_path(h, real, sizeof real))
        return 0;
    fmt(expected, sizeof expected, "%s\\%s", folder_real, name);
    return _stricmp(real, expected) != 0;
}

// Removes everything in a folder that is no link, but the entry named keep
// (any case; null keeps nothing). folder_real is the folder's real path.
static void delete_children(const char *path, const char *keep)
{
    char pattern[520];
    char folder_real[1024] = "";
    // A cut pattern or child would list or delete what another path names.
    if (!fmt_path(pattern, sizeof pattern, "%s\\*", path))
        return;
    HANDLE dir = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (!final_path(dir, folder_real, sizeof folder_real))
        folder_real[0] = 0;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
            continue;
        if (keep && _stricmp(fd.cFileName, keep) == 0)
            continue;
        char child[520];
        if (!fmt_path(child, sizeof child, "%s\\%s", path, fd.cFileName))
            continue;
        DWORD a = fd.dwFileAttributes;
        // A link is removed itself and never entered or changed, so
        // nothing outside the tree is deleted through it.
        if ((a & FILE_ATTRIBUTE_REPARSE_POINT) && (a & FILE_ATTRIBUTE_DIRECTORY)) {
            RemoveDirectoryA(child);
        } else if (a & FILE_ATTRIBUTE_REPARSE_POINT) {
            DeleteFileA(child);
        } else if (a & FILE_ATTRIBUTE_DIRECTORY) {
            delete_tree(child);
        } else if (!is_hidden_file_link(folder_real, child, fd.cFileName)) {
            SetFileAttributesA(child, FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(child);
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
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
