// Copies of one file in blocks, the install's progress counter and the
// player's stop. A copy from a CD drive reads in small steps, retries a read
// that fails and then asks what to do; a copy from a disk reads large blocks.
#include <windows.h>

#include <string.h>

#include "util/util.h"

// Shared by every copy: one install at a time is a rule of the program.
static unsigned char copy_buf[1 << 20];

// Reading from a CD drive. A 1x drive serves 150 KiB a second, so a 64 KiB
// read keeps a stop waiting less than half a second; a disc's bad sector
// often reads on a second try once the drive has spun down and up again.
enum {
    DRIVE_READ = 64 * 1024,
    DRIVE_RETRIES = 2,
    DRIVE_RETRY_PAUSE_MS = 500,
};

static volatile LONG stopping;

void progress_add(Progress *p, uint64_t n)
{
    p->done += n;
    if (p->callback)
        p->callback(p->done, p->total, p->ctx);
}

void progress_step(const Progress *p, int step, int done, int total)
{
    if (p && p->steps && p->steps->step)
        p->steps->step(p->steps->ctx, step, done, total);
}

void copy_begun(const Progress *p, const char *dst, uint64_t size)
{
    if (p && p->watch && p->watch->begun)
        p->watch->begun(p->watch->ctx, dst, size);
}

void copy_done(const Progress *p, const char *dst, uint64_t size, uint32_t crc)
{
    if (p && p->watch && p->watch->copied)
        p->watch->copied(p->watch->ctx, dst, size, crc);
}

// The reading policy a copy was given: a drive's, or none for a disk.
static const DriveReading *drive_of(const Progress *p)
{
    return p ? p->drive : NULL;
}

int copy_try_again(const Progress *p, const char *path, unsigned long error, int *tries)
{
    const DriveReading *drive = drive_of(p);
    if (!drive || stop_requested())
        return 0;
    if (*tries < DRIVE_RETRIES) {
        (*tries)++;
        Sleep(DRIVE_RETRY_PAUSE_MS);
        return 1;
    }
    *tries = 0;
    return drive->trouble(path, error, drive->ctx);
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
static int read_drive(HANDLE *in, const char *src, uint64_t at, DWORD *got, const Progress *p)
{
    DWORD error = 0;
    int tries = 0;
    for (;;) {
        if (*in != INVALID_HANDLE_VALUE && ReadFile(*in, copy_buf, DRIVE_READ, got, NULL))
            return 1;
        if (*in != INVALID_HANDLE_VALUE)
            error = GetLastError();
        if (!copy_try_again(p, src, error, &tries))
            break;
        reopen_at(in, src, at, &error);
    }
    if (!stop_requested())
        log_failure("read", src, error);
    return 0;
}

// Opens a source file; a drive's file is tried again as a read is.
static HANDLE open_source(const char *src, const Progress *p)
{
    HANDLE in = open_for_read(src);
    DWORD error = GetLastError();
    int tries = 0;
    while (in == INVALID_HANDLE_VALUE && copy_try_again(p, src, error, &tries)) {
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
static int read_block(HANDLE *in, const char *src, uint64_t at, DWORD *got, const Progress *p)
{
    *got = 0;
    if (stop_requested())
        return 0;
    if (drive_of(p))
        return read_drive(in, src, at, got, p);
    if (ReadFile(*in, copy_buf, sizeof copy_buf, got, NULL))
        return 1;
    log_failure("read", src, GetLastError());
    return 0;
}

int copy_file(const char *src, const char *dst, Progress *p)
{
    HANDLE in = open_source(src, p);
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
    LARGE_INTEGER size;
    copy_begun(p, dst, GetFileSizeEx(in, &size) ? (uint64_t)size.QuadPart : 0);
    int ok = 1;
    uint64_t at = 0;
    uint32_t crc = 0;
    for (;;) {
        DWORD got = 0;
        if (!read_block(&in, src, at, &got, p)) {
            ok = 0;
            break;
        }
        if (got == 0)
            break;
        if (!dest_write(&dest, copy_buf, got)) {
            log_write_failure(dst, GetLastError());
            ok = 0;
            break;
        }
        crc = crc32_more(crc, copy_buf, got);
        at += got;
        if (p)
            progress_add(p, got);
    }
    if (in != INVALID_HANDLE_VALUE)
        CloseHandle(in);
    if (!dest_finish(&dest, ok))
        return 0;
    copy_done(p, dst, at, crc);
    return 1;
}
