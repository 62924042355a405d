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

// Reading from a CD drive. A 1x drive serves 150 KiB a second, so a 64 KiB
// read keeps a stop waiting less than half a second; a disc's bad sector
// often reads on a second try once the drive has spun down and up again.
enum {
    DRIVE_READ = 64 * 1024,
    DRIVE_RETRIES = 2,
    DRIVE_RETRY_PAUSE_MS = 500,
};

static ReadTroubleFn drive_trouble;
static void *drive_ctx;
static volatile LONG stopping;

void copy_from_drive(ReadTroubleFn fn, void *ctx)
{
    drive_trouble = fn;
    drive_ctx = ctx;
}

int copy_reads_drive(void)
{
    return drive_trouble != NULL;
}

int copy_try_again(const char *path, unsigned long error, int *tries)
{
    if (!drive_trouble || stop_requested())
        return 0;
    if (*tries < DRIVE_RETRIES) {
        (*tries)++;
        Sleep(DRIVE_RETRY_PAUSE_MS);
        return 1;
    }
    *tries = 0;
    return drive_trouble(path, error, drive_ctx);
}

void stop_request(void)
{
    InterlockedExchange(&stopping, 1);
}

int stop_requested(void)
{
    return InterlockedCompareExchange(&stopping, 0, 0) != 0;
}

int on_cd_drive(const char *path)
{
    char root[4] = {path[0], ':', '\\', 0};
    if (!path[0] || path[1] != ':')
        return 0;
    return GetDriveTypeA(root) == DRIVE_CDROM;
}

static void log_failure(const char *what, const char *path, unsigned long error)
{
    char shown[1024], reason[600];
    setup_log("cannot %s %s: %s", what, name_escape(path, shown, sizeof shown),
              error_text(error, reason, sizeof reason));
}

static HANDLE open_for_read(const char *src)
{
    return CreateFileA(src, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
}

// Opens the source at offset at, the file opened again after a failure of
// a drive: after a disc was taken out and put back, the old handle reads
// nothing. 0 with the error in *error.
static int reopen_at(HANDLE *in, const char *src, uint64_t at, DWORD *error)
{
    if (*in != INVALID_HANDLE_VALUE)
        CloseHandle(*in);
    *in = open_for_read(src);
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)at;
    if (*in != INVALID_HANDLE_VALUE && SetFilePointerEx(*in, to, NULL, FILE_BEGIN))
        return 1;
    *error = GetLastError();
    return 0;
}

// One read of a drive's file at offset at, tried again from there as long
// as copy_try_again says. 0 with the error logged.
static int read_drive(HANDLE *in, const char *src, uint64_t at, DWORD *got)
{
    DWORD error = 0;
    int tries = 0;
    for (;;) {
        if (*in != INVALID_HANDLE_VALUE && ReadFile(*in, copy_buf, DRIVE_READ, got, NULL))
            return 1;
        if (*in != INVALID_HANDLE_VALUE)
            error = GetLastError();
        if (!copy_try_again(src, error, &tries))
            break;
        reopen_at(in, src, at, &error);
    }
    if (!stop_requested())
        log_failure("read", src, error);
    return 0;
}

// Opens a source file; a drive's file is tried again as a read is.
static HANDLE open_source(const char *src)
{
    HANDLE in = open_for_read(src);
    DWORD error = GetLastError();
    int tries = 0;
    while (in == INVALID_HANDLE_VALUE && copy_try_again(src, error, &tries)) {
        in = open_for_read(src);
        error = GetLastError();
    }
    if (in == INVALID_HANDLE_VALUE)
        SetLastError(error);
    return in;
}

// Reads the next block of the source: the whole buffer from a disk, a
// small piece from a drive. A read that fails part-way is a failed copy,
// not the end of the file (Wine's own file copies take it for the end).
static int read_block(HANDLE *in, const char *src, uint64_t at, DWORD *got)
{
    *got = 0;
    if (stop_requested())
        return 0;
    if (copy_reads_drive())
        return read_drive(in, src, at, got);
    if (ReadFile(*in, copy_buf, sizeof copy_buf, got, NULL))
        return 1;
    log_failure("read", src, GetLastError());
    return 0;
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
    HANDLE in = open_source(src);
    if (in == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // The destination's folders are made even so: callers count on a
        // folder they copy into being there after a source that is missing.
        make_parent_dirs(dst);
        if (!stop_requested())
            log_failure("read", src, error);
        return 0;
    }
    DestFile dest;
    if (!dest_open(&dest, dst)) {
        DWORD error = GetLastError();
        CloseHandle(in);
        log_write_failure(dst, error);
        return 0;
    }
    HANDLE out = dest.handle;
    int ok = 1;
    uint64_t at = 0;
    for (;;) {
        DWORD got = 0, put = 0;
        if (!read_block(&in, src, at, &got)) {
            ok = 0;
            break;
        }
        if (got == 0)
            break;
        BOOL wrote = WriteFile(out, copy_buf, got, &put, NULL);
        if (!wrote || put != got) {
            // A short write without an error is a full disk.
            log_write_failure(dst, wrote ? ERROR_DISK_FULL : GetLastError());
            ok = 0;
            break;
        }
        at += got;
        if (p)
            progress_add(p, got);
    }
    if (in != INVALID_HANDLE_VALUE)
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

// The one test for every file that is written or removed by name: 1 when
// the open handle leads to the entry `name` of the folder whose real path is
// folder_real. Wine opens a Unix link to a file as its target even when
// asked for the link, and lists it as a plain file: its handle's real path
// is then another than the one it is listed under. Without the folder's real
// path nothing can be told, and the answer is 0.
static int handle_is_entry(HANDLE h, const char *folder_real, const char *name)
{
    char real[1100], expected[1100];
    HANDLE dup = NULL;
    if (!folder_real[0] ||
        !DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, FALSE, DUPLICATE_SAME_ACCESS))
        return 0;
    if (!final_path(dup, real, sizeof real) || !join_path(expected, sizeof expected, folder_real, name))
        return 0;
    return _stricmp(real, expected) == 0;
}

// The real path of the folder that holds path's last step, in out; returns
// that step's name inside path, or null when there is none or the folder
// cannot be opened.
static const char *real_parent(const char *path, char *out, unsigned long size)
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
    return name && handle_is_entry((HANDLE)f, folder_real, name);
}

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
    if (ok) {
        // The system refuses this while a running program was started from the file.
        FILE_DISPOSITION_INFO disposition = {TRUE};
        ok = SetFileInformationByHandle(f, FileDispositionInfo, &disposition, sizeof disposition) != 0;
    }
    CloseHandle(f);
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
        } else {
            delete_entry(child, folder_real, fd.cFileName, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, 0,
                         1);
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
