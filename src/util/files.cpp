// Path tests, folder creation, the listing of a folder, whole-file reading
// and writing, and the files being written that every copy ends in.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "util/util.h"

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
void make_parent_dirs(const char *path)
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

// The name a replacement is written under until it is whole, beside the
// file: mostly the file's name and DEST_TEMP_SUFFIX. Where that would pass
// MAX_PATH, the most that the system's ANSI calls take, it is the file's
// own name with '~' for its first character ('#' for a '~'), which fits
// wherever the file itself fits. Either way the next run uses the name
// that a killed run left behind, and replaces it.
static int temp_name(const char *path, char *out, size_t size)
{
    WCHAR w[MAX_PATH];
    int n = MultiByteToWideChar(CP_ACP, 0, path, -1, w, MAX_PATH);
    if (n > 0 && n - 1 + (int)(sizeof DEST_TEMP_SUFFIX - 1) < MAX_PATH)
        return fmt_path(out, size, "%s%s", path, DEST_TEMP_SUFFIX);
    WCHAR *name = n > 0 ? wcsrchr(w, L'\\') : NULL;
    if (!name || !name[1])
        return 0;
    name++;
    if (IS_HIGH_SURROGATE(name[0]) && IS_LOW_SURROGATE(name[1]))
        memmove(name + 1, name + 2, (wcslen(name + 2) + 1) * sizeof *name);
    name[0] = name[0] == L'~' ? L'#' : L'~';
    return WideCharToMultiByte(CP_ACP, 0, w, -1, out, (int)size, NULL, NULL) > 0;
}

int dest_temp_path(const char *path, char *out, size_t size)
{
    return temp_name(path, out, size);
}

// Opens the temporary name for writing, whatever a killed run left there.
static int open_beside(DestFile *d)
{
    // A folder of that name can never be replaced: fail before writing.
    if (is_dir(d->path)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (!temp_name(d->path, d->temp, sizeof d->temp)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    HANDLE f = CreateFileA(d->temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (f == INVALID_HANDLE_VALUE && GetLastError() == ERROR_PATH_NOT_FOUND) {
        make_parent_dirs(d->path);
        f = CreateFileA(d->temp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    }
    d->handle = f;
    return f != INVALID_HANDLE_VALUE;
}

static int dest_start(DestFile *d, const char *path)
{
    d->handle = INVALID_HANDLE_VALUE;
    d->temp[0] = 0;
    if (fmt_path(d->path, sizeof d->path, "%s", path))
        return 1;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return 0;
}

int dest_open(DestFile *d, const char *path)
{
    return dest_start(d, path) && open_beside(d);
}

int dest_open_fresh(DestFile *d, const char *path)
{
    if (!dest_start(d, path))
        return 0;
    HANDLE f = create_new(path);
    DWORD error = f == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS)
        return open_beside(d);
    d->handle = f;
    return f != INVALID_HANDLE_VALUE;
}

int dest_open_for(DestFile *d, const char *path, const Progress *p)
{
    return p && p->fresh ? dest_open_fresh(d, path) : dest_open(d, path);
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
    DeleteFileA(dest_name(d));
    SetLastError(error);
}

static char last_write_failure[1024];

const char *write_failure(void) { return last_write_failure; }

void write_failure_clear(void) { last_write_failure[0] = 0; }

void log_write_failure(const char *path, unsigned long error)
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

// A null result says why in GetLastError(), so that no caller reports
// "The operation completed successfully" for a file it could not read.
unsigned char *read_file(const char *path, uint64_t *size_out)
{
    HANDLE f = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return NULL;
    LARGE_INTEGER size;
    unsigned char *buf = NULL;
    DWORD got = 0, error = ERROR_READ_FAULT;
    int ok = 0;
    // One byte more, so a caller may end the contents with a NUL. A single
    // read moves at most 4 GiB - 1, so larger files fail before allocating.
    if (!GetFileSizeEx(f, &size))
        error = GetLastError();
    else if ((uint64_t)size.QuadPart > 0xFFFFFFFFu)
        error = ERROR_FILE_TOO_LARGE;
    else if (!(buf = (unsigned char *)malloc((size_t)size.QuadPart + 1)))
        error = ERROR_NOT_ENOUGH_MEMORY;
    else if (!ReadFile(f, buf, (DWORD)size.QuadPart, &got, NULL))
        error = GetLastError();
    else if (got != (uint64_t)size.QuadPart)
        error = ERROR_HANDLE_EOF; // the file shrank while it was read
    else
        ok = 1;
    CloseHandle(f);
    if (!ok) {
        free(buf);
        SetLastError(error);
        return NULL;
    }
    *size_out = (uint64_t)size.QuadPart;
    return buf;
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

// Takes the entry that the last FindFirstFileA or FindNextFileA gave.
static void listing_take(FolderListing *l, const WIN32_FIND_DATAA *fd)
{
    memcpy(l->name, fd->cFileName, sizeof l->name);
    l->name[sizeof l->name - 1] = 0;
    l->attributes = fd->dwFileAttributes;
    l->size = (uint64_t)fd->nFileSizeHigh << 32 | fd->nFileSizeLow;
}

int is_dot_entry(const char *name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

int listing_first(FolderListing *l, const char *folder, const char *pattern)
{
    char mask[780];
    WIN32_FIND_DATAA fd;
    l->handle = NULL;
    l->opened = 0;
    // A cut mask would list another folder.
    if (!join_path(mask, sizeof mask, folder, pattern))
        return 0;
    HANDLE h = FindFirstFileA(mask, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    l->handle = h;
    l->opened = 1;
    if (!is_dot_entry(fd.cFileName)) {
        listing_take(l, &fd);
        return 1;
    }
    return listing_next(l);
}

int listing_next(FolderListing *l)
{
    WIN32_FIND_DATAA fd;
    while (l->handle && FindNextFileA((HANDLE)l->handle, &fd)) {
        if (!is_dot_entry(fd.cFileName)) {
            listing_take(l, &fd);
            return 1;
        }
    }
    listing_close(l);
    return 0;
}

void listing_close(FolderListing *l)
{
    if (l->handle)
        FindClose((HANDLE)l->handle);
    l->handle = NULL;
}

int program_path(char *out, size_t size)
{
    DWORD n = GetModuleFileNameA(NULL, out, (DWORD)size);
    if (n > 0 && n < size)
        return 1;
    out[0] = 0;
    return 0;
}

int program_folder(char *out, size_t size)
{
    int ok = program_path(out, size);
    char *slash = strrchr(out, '\\');
    if (slash)
        *slash = 0;
    return ok;
}
