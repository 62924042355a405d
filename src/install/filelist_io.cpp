// The install's file list on disk: appended line by line as the install
// writes files, read back whole, and the check of each listed file that
// /verify, a repair and a resumed install go by. The list and the files
// lie where anything running as the player can change them, so neither is
// ever opened through a link.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "install/filelist.h"
#include "util/util.h"

enum { CHECK_BLOCK = 1 << 20 };

// Shared by every check: one install, repair or verify at a time.
static unsigned char check_buf[CHECK_BLOCK];

int list_file_path(char *out, size_t size, const char *dir)
{
    return join_path(out, size, dir, LIST_NAME);
}

int list_journal_path(char *out, size_t size, const char *dir)
{
    return join_path(out, size, dir, LIST_JOURNAL_NAME);
}

// 1 when the open handle is neither a folder nor a link opened as itself.
// Asked for the attributes alone: under Wine the whole record of
// GetFileInformationByHandle costs several times the open itself.
static int plain_attributes(HANDLE h)
{
    FILE_ATTRIBUTE_TAG_INFO tag;
    return GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag) &&
           !(tag.FileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
}

// 1 when the open handle is a plain file reached as path itself: not a
// folder, not a link opened as itself (Windows), not what a link leads to
// (a Unix link under Wine opens as its target).
static int plain_file_itself(HANDLE h, const char *path)
{
    return plain_attributes(h) && opened_itself(h, path);
}

// Opens path without following a link at its last step, and checks it.
// INVALID_HANDLE_VALUE with the error kept when it cannot be opened, and
// with ERROR_CANT_ACCESS_FILE when it is no plain file of its own.
static HANDLE open_plain(const char *path, DWORD access, DWORD share)
{
    HANDLE h = CreateFileA(path, access, share, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE || plain_file_itself(h, path))
        return h;
    CloseHandle(h);
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return INVALID_HANDLE_VALUE;
}

// Reads the open list whole, at most LIST_FILE_MAX bytes, into a heap
// buffer (free() it). Null with the error kept when it cannot.
static unsigned char *read_open_list(HANDLE h, size_t *size_out)
{
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h, &size))
        return NULL;
    if (size.QuadPart > LIST_FILE_MAX) {
        SetLastError(ERROR_FILE_TOO_LARGE);
        return NULL;
    }
    unsigned char *data = (unsigned char *)malloc((size_t)size.QuadPart + 1);
    DWORD got = 0;
    if (!data) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return NULL;
    }
    // Another run may still be appending: what was there at the size is read.
    if (!ReadFile(h, data, (DWORD)size.QuadPart, &got, NULL)) {
        DWORD error = GetLastError();
        free(data);
        SetLastError(error);
        return NULL;
    }
    *size_out = got;
    return data;
}

// Writes all of a line with one call, so that no other line is ever glued
// to part of it; a short write without an error is a full disk.
static int write_line(HANDLE h, const char *line, size_t n)
{
    DWORD put = 0;
    if (!WriteFile(h, line, (DWORD)n, &put, NULL))
        return 0;
    if (put != n) {
        SetLastError(ERROR_DISK_FULL);
        return 0;
    }
    return 1;
}

// The list at w->path, if it is one that reads, opened to write after its
// last whole line. 1, or 0 when there is nothing there to go on with.
static int continue_list(ListWriter *w)
{
    HANDLE h = open_plain(w->path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    size_t size = 0;
    unsigned char *data = read_open_list(h, &size);
    FileList list;
    char reason[200];
    memset(&list, 0, sizeof list);
    int ok = data && list_parse(data, size, &list, reason, sizeof reason) && list.whole > 0;
    LARGE_INTEGER at;
    at.QuadPart = ok ? (LONGLONG)list.whole : 0;
    w->complete = ok && list.complete;
    list_free(&list);
    free(data);
    // The line a kill cut short goes, or the next would be glued to it.
    if (ok && SetFilePointerEx(h, at, NULL, FILE_BEGIN) && SetEndOfFile(h)) {
        w->handle = h;
        return 1;
    }
    CloseHandle(h);
    return 0;
}

// A new list with its first line only, written beside the old place and
// renamed into it: the rename replaces whatever entry is there, a link
// itself included, and never writes through it. 1, or 0 with the error.
static int start_list(const ListWriter *w)
{
    char temp[540];
    if (!fmt_path(temp, sizeof temp, "%s%s", w->path, DEST_TEMP_SUFFIX)) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    // A temporary file of a killed run is ours. A link that cannot be
    // removed as itself (a Unix link under Wine) stays and fails the
    // create below, for CREATE_NEW never follows one.
    delete_file_itself(temp);
    HANDLE h = CreateFileA(temp, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int ok = write_line(h, LIST_HEADER "\r\n", sizeof LIST_HEADER + 1);
    DWORD error = GetLastError();
    CloseHandle(h);
    if (ok && MoveFileExA(temp, w->path, MOVEFILE_REPLACE_EXISTING))
        return 1;
    error = ok ? GetLastError() : error;
    DeleteFileA(temp);
    SetLastError(error);
    return 0;
}

// Opens the list at w->path, which fits (else *fits is 0), as list_open says.
static int open_list(ListWriter *w, int fits)
{
    w->handle = INVALID_HANDLE_VALUE;
    w->complete = 0;
    if (!fits) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    if (continue_list(w))
        return 1;
    if (!start_list(w))
        return 0;
    // Whatever took the new list's place between the rename and this open
    // (a link made just then) is not written to.
    if (continue_list(w))
        return 1;
    SetLastError(ERROR_CANT_ACCESS_FILE);
    return 0;
}

int list_open(ListWriter *w, const char *dir)
{
    return open_list(w, list_file_path(w->path, sizeof w->path, dir));
}

int list_open_journal(ListWriter *w, const char *dir)
{
    return open_list(w, list_journal_path(w->path, sizeof w->path, dir));
}

int list_add(ListWriter *w, const ListEntry *e)
{
    char line[LIST_LINE_MAX + 1];
    int n = list_format_entry(line, sizeof line, e);
    if (n == 0) {
        SetLastError(ERROR_INVALID_NAME);
        return 0;
    }
    if (!write_line((HANDLE)w->handle, line, (size_t)n))
        return 0;
    w->complete = 0;
    return 1;
}

int list_complete(ListWriter *w)
{
    HANDLE h = (HANDLE)w->handle;
    if (!w->complete && !write_line(h, LIST_COMPLETE "\r\n", sizeof LIST_COMPLETE + 1))
        return 0;
    w->complete = 1;
    return FlushFileBuffers(h) != 0;
}

void list_close(ListWriter *w)
{
    if (w->handle != INVALID_HANDLE_VALUE)
        CloseHandle((HANDLE)w->handle);
    w->handle = INVALID_HANDLE_VALUE;
}

// Reads and parses the list at path (which fits, else fits is 0), as
// list_read says.
static int read_list(const char *path, int fits, FileList *out, char *reason, size_t reason_size)
{
    char shown[1024], why[600], wrong[600];
    memset(out, 0, sizeof *out);
    if (reason_size > 0)
        reason[0] = 0;
    if (!fits) {
        fmt(reason, reason_size, "the file list's path is too long");
        return 0;
    }
    name_escape(path, shown, sizeof shown);
    // A writer may hold the list open: its whole lines are read.
    HANDLE h = open_plain(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    DWORD error = GetLastError();
    if (h == INVALID_HANDLE_VALUE && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND))
        return 0;
    if (h == INVALID_HANDLE_VALUE && error == ERROR_CANT_ACCESS_FILE) {
        fmt(reason, reason_size, "the file list %s is a link or no plain file: it is not read", shown);
        return 0;
    }
    size_t size = 0;
    unsigned char *data = h == INVALID_HANDLE_VALUE ? NULL : read_open_list(h, &size);
    error = GetLastError();
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    if (!data) {
        fmt(reason, reason_size, "cannot read the file list %s: %s", shown, error_text(error, why, sizeof why));
        return 0;
    }
    // What exactly is wrong with it helps no player: the list is written
    // anew either way.
    int ok = list_parse(data, size, out, wrong, sizeof wrong);
    free(data);
    if (!ok)
        fmt(reason, reason_size, "the file list %s is damaged: it counts as missing", shown);
    return ok;
}

int list_read(const char *dir, FileList *out, char *reason, size_t reason_size)
{
    char path[520];
    return read_list(path, list_file_path(path, sizeof path, dir), out, reason, reason_size);
}

int list_read_journal(const char *dir, FileList *out, char *reason, size_t reason_size)
{
    char path[520];
    return read_list(path, list_journal_path(path, sizeof path, dir), out, reason, reason_size);
}

int list_read_salvage(const char *dir, int journal, FileList *out)
{
    char path[520];
    memset(out, 0, sizeof *out);
    if (!(journal ? list_journal_path(path, sizeof path, dir) : list_file_path(path, sizeof path, dir)))
        return 0;
    HANDLE h = open_plain(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    size_t size = 0;
    unsigned char *data = read_open_list(h, &size);
    CloseHandle(h);
    int ok = data && list_parse_salvage(data, size, out);
    free(data);
    return ok;
}

int list_read_record(const char *dir, FileList *out, char *reason, size_t reason_size)
{
    FileList repair;
    char ignored[1200];
    if (!list_read(dir, out, reason, reason_size))
        return 0;
    // A repair's list that cannot be read adds nothing to go by.
    int ok = !list_read_journal(dir, &repair, ignored, sizeof ignored) || list_overlay(out, &repair);
    list_free(&repair);
    if (!ok) {
        list_free(out);
        fmt(reason, reason_size, "out of memory");
    }
    return ok;
}

int list_folder_open(ListFolder *f, const char *dir)
{
    f->real[0] = 0;
    if (!fmt_path(f->dir, sizeof f->dir, "%s", dir))
        return 0;
    HANDLE h = CreateFileA(dir, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (final_path(h, f->real, sizeof f->real))
        return 1;
    f->real[0] = 0;
    return 0;
}

// 1 when the folder that would hold {dir}\rel is there but is reached
// through a link: the player moved part of the data and linked it back.
static int behind_link(const ListFolder *f, const char *path, const char *rel)
{
    char folder_real[1100], expected[1100];
    const char *slash = strrchr(rel, '\\');
    if (!slash || !f->real[0] || !real_parent(path, folder_real, sizeof folder_real))
        return 0;
    return fmt_path(expected, sizeof expected, "%s\\%.*s", f->real, (int)(slash - rel), rel) &&
           _stricmp(folder_real, expected) != 0;
}

// Opens {dir}\rel for a check: its state when it is not there to read.
static int open_checked(const ListFolder *f, const char *rel, HANDLE *out, uint64_t *size, unsigned long *error)
{
    char path[780];
    *out = INVALID_HANDLE_VALUE;
    if (!join_path(path, sizeof path, f->dir, rel)) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return LIST_UNREADABLE;
    }
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        if (behind_link(f, path, rel))
            return LIST_LINKED;
        // A folder in the file's place does not open as a file on Windows.
        if (*error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND || is_dir(path))
            return LIST_MISSING;
        return LIST_UNREADABLE;
    }
    LARGE_INTEGER length;
    // A folder in the file's place is no file of the install's. A link on
    // any step below the folder, or a Unix link under Wine at the last,
    // leads elsewhere than {dir}\rel.
    int plain = plain_attributes(h);
    if (!plain || !handle_is_entry(h, f->real, rel)) {
        CloseHandle(h);
        return !plain && is_dir(path) ? LIST_MISSING : LIST_LINKED;
    }
    if (!GetFileSizeEx(h, &length)) {
        *error = GetLastError();
        CloseHandle(h);
        return LIST_UNREADABLE;
    }
    *size = (uint64_t)length.QuadPart;
    *out = h;
    return LIST_WHOLE;
}

// Reads the open file to its end in large blocks: its CRC-32 and length.
// 0 with the error when a read fails.
static int read_crc(HANDLE h, unsigned char *buf, DWORD buf_size, uint32_t *crc, uint64_t *length,
                    unsigned long *error)
{
    *crc = 0;
    *length = 0;
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(h, buf, buf_size, &got, NULL)) {
            *error = GetLastError();
            return 0;
        }
        if (got == 0)
            return 1;
        *crc = crc32_more(*crc, buf, got);
        *length += got;
    }
}

// list_check_file, reading through the caller's buffer: checks run on two
// threads at once, each with its own.
static int check_file_with(const ListFolder *f, const ListEntry *e, unsigned char *buf, size_t buf_size,
                           uint64_t *found, unsigned long *error)
{
    HANDLE h;
    uint64_t size = 0;
    *found = 0;
    *error = 0;
    int state = open_checked(f, e->path, &h, &size, error);
    if (state != LIST_WHOLE)
        return state;
    *found = size;
    // Another size says enough without a read.
    if (size != e->size) {
        CloseHandle(h);
        return LIST_CHANGED;
    }
    uint32_t crc = 0;
    int read = read_crc(h, buf, (DWORD)(buf_size < 0x40000000u ? buf_size : 0x40000000u), &crc, found, error);
    CloseHandle(h);
    if (!read)
        return LIST_UNREADABLE;
    return *found == e->size && crc == e->crc ? LIST_WHOLE : LIST_CHANGED;
}

int list_check_file(const ListFolder *f, const ListEntry *e, uint64_t *found, unsigned long *error)
{
    return check_file_with(f, e, check_buf, sizeof check_buf, found, error);
}

// A file that the game or the player changes by design is only looked
// for: missing or reached through a link, or else not compared.
static int changing_state(const ListFolder *f, const ListEntry *e, uint64_t *found, unsigned long *error)
{
    HANDLE h;
    *found = 0;
    *error = 0;
    int state = open_checked(f, e->path, &h, found, error);
    if (state == LIST_WHOLE)
        CloseHandle(h);
    return state == LIST_MISSING || state == LIST_LINKED ? state : LIST_NOT_COMPARED;
}

// The checks of a list shared by two threads: each takes the next entry,
// reads its file through a buffer of its own and notes what it found.
// Opening files costs Wine's server a round trip each and reading costs a
// core; two threads overlap the two.
struct CheckAll {
    const ListFolder *folder;
    const FileList *list;
    ListCheck *checks;
    volatile LONG next;
};

static DWORD WINAPI check_some(void *arg)
{
    CheckAll *c = (CheckAll *)arg;
    // A thread without its buffer leaves every entry to the other.
    unsigned char *buf = (unsigned char *)malloc(CHECK_BLOCK);
    if (!buf)
        return 1;
    for (;;) {
        LONG i = InterlockedIncrement(&c->next) - 1;
        if (i >= c->list->count)
            break;
        const ListEntry *e = &c->list->entries[i];
        ListCheck *k = &c->checks[i];
        k->found = 0;
        k->error = 0;
        if (stop_requested())
            k->state = LIST_NOT_COMPARED;
        else if (e->kind == LIST_CHANGING)
            k->state = changing_state(c->folder, e, &k->found, &k->error);
        else
            k->state = check_file_with(c->folder, e, buf, CHECK_BLOCK, &k->found, &k->error);
    }
    free(buf);
    return 0;
}

int list_check_all(const ListFolder *f, const FileList *list, ListCheck *checks)
{
    CheckAll c = {f, list, checks, 0};
    HANDLE helper = CreateThread(NULL, 0, check_some, &c, 0, NULL);
    check_some(&c);
    if (helper) {
        WaitForSingleObject(helper, INFINITE);
        CloseHandle(helper);
    }
    // Every entry was taken, unless neither thread had its buffer.
    return c.next >= list->count;
}

const char *list_state_word(int state)
{
    switch (state) {
    case LIST_WHOLE: return "whole";
    case LIST_MISSING: return "missing";
    case LIST_CHANGED: return "changed";
    case LIST_LINKED: return "linked";
    default: return "unreadable";
    }
}

// Counts one checked entry and tells of it when it is not whole.
static void tally_state(ListTally *t, int state, const ListEntry *e, uint64_t found, unsigned long error,
                        ListReportFn report, void *ctx)
{
    int *count[6] = {&t->whole, &t->missing, &t->changed, &t->unreadable, NULL, &t->linked};
    if (count[state])
        (*count[state])++;
    if (state != LIST_WHOLE && report)
        report(state, e, found, error, ctx);
}

int list_verify(const char *dir, ListReportFn report, void *ctx, ListTally *tally, char *reason, size_t reason_size)
{
    FileList list;
    ListFolder folder;
    char shown[1024];
    memset(tally, 0, sizeof *tally);
    if (!list_read_record(dir, &list, reason, reason_size)) {
        if (!reason[0])
            fmt(reason, reason_size, "there is no file list in %s", name_escape(dir, shown, sizeof shown));
        return 0;
    }
    ListCheck *checks = (ListCheck *)calloc((size_t)list.count + 1, sizeof(ListCheck));
    int opened = list_folder_open(&folder, dir);
    int ok = opened && checks && list_check_all(&folder, &list, checks);
    if (!opened)
        fmt(reason, reason_size, "cannot open the install folder %s", name_escape(dir, shown, sizeof shown));
    else if (!ok)
        fmt(reason, reason_size, "out of memory");
    for (int i = 0; ok && i < list.count; i++) {
        const ListCheck *k = &checks[i];
        if (k->state == LIST_NOT_COMPARED || (k->state == LIST_WHOLE && list.entries[i].kind == LIST_CHANGING))
            tally->changing += list.entries[i].kind == LIST_CHANGING;
        else
            tally_state(tally, k->state, &list.entries[i], k->found, k->error, report, ctx);
    }
    tally->complete = list.complete;
    free(checks);
    list_free(&list);
    return ok;
}
