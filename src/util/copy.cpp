// Copies of one file in blocks, the install's progress counter and the
// player's stop. A copy from a CD drive reads in small steps, retries a read
// that fails and then asks what to do; a copy from a disk reads large blocks.
#include <windows.h>
#include <winioctl.h>
#include <ntddcdrm.h>

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

void copy_partial(const Progress *p, const char *dst, uint64_t size, const Ranges *missing)
{
    if (p && p->watch && p->watch->partial)
        p->watch->partial(p->watch->ctx, dst, size, missing);
}

// 1 when the watch says dst's partial file is the install's to finish,
// with how far to trust the source for it in *how.
static int resumes(const Progress *p, const char *dst, uint64_t size, FillFrom *how)
{
    return p && p->watch && p->watch->resume && p->watch->resume(p->watch->ctx, dst, size, how);
}

int copy_wanted(Progress *p, const char *dst, uint64_t size)
{
    uint32_t crc = 0;
    if (!p || !p->watch || !p->watch->wanted || p->watch->wanted(p->watch->ctx, dst, size, &crc))
        return 1;
    progress_add(p, size);
    copy_done(p, dst, size, crc);
    return 0;
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
    // Another disc does not become the right one by waiting.
    if (*tries < DRIVE_RETRIES && error != ERROR_MEDIA_CHANGED) {
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

int drive_set_speed(const char *path, unsigned kb_per_s)
{
    char device[8] = {'\\', '\\', '.', '\\', path[0], ':', 0};
    if (!path[0] || path[1] != ':')
        return 0;
    HANDLE h = CreateFileA(device, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    CDROM_SET_SPEED speed;
    memset(&speed, 0, sizeof speed);
    speed.RequestType = CdromSetSpeed;
    speed.ReadSpeed = (USHORT)(kb_per_s > 0xFFFF ? 0xFFFF : kb_per_s);
    speed.WriteSpeed = 0xFFFF;
    speed.RotationControl = CdromDefaultRotation;
    DWORD got = 0;
    BOOL ok = DeviceIoControl(h, IOCTL_CDROM_SET_SPEED, &speed, sizeof speed, NULL, 0, &got, NULL);
    CloseHandle(h);
    return ok != 0;
}

int on_cd_drive(const char *path)
{
    char root[4];
    return drive_root_of(path, root) && GetDriveTypeA(root) == DRIVE_CDROM;
}

static void log_failure(const char *what, const char *path, unsigned long error)
{
    char shown[1024], reason[600];
    setup_log("cannot %s %s: %s", what, name_escape(path, shown, sizeof shown),
              error_text(error, reason, sizeof reason));
}

// A file of the disc in a drive that could not be read, once the retries
// and the player are through: the disc could not be read there, whatever
// words the system has for the code. Under Wine an unreadable sector comes
// back as error 21, "not ready", which would tell the player the drive is
// empty. Another disc in the drive, or none, is no such failure: then the
// system's reason is the line.
static void log_read_failure(const char *path, unsigned long error, const Progress *p)
{
    const DriveReading *drive = drive_of(p);
    if (!drive || error == ERROR_MEDIA_CHANGED || (drive->marker && !path_exists(drive->marker))) {
        log_failure("read", path, error);
        return;
    }
    char shown[1024];
    setup_log("the file %s could not be read from the disc (error %lu): the disc may be dirty or scratched",
              name_escape(path, shown, sizeof shown), error);
}

static HANDLE open_for_read(const char *src)
{
    return CreateFileA(src, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
}

// A file being copied (a SourceRead), and what it was at its first open.
// After a failure a drive's file is opened again by its path, which by then
// may lead to the same path on another disc (or another pressing of it):
// only the same volume and size, with the disc's marker beside it, may be
// read on. A disk's serial is 0: it is never reopened.
typedef SourceRead SourceFile;

// The file a copy is reading from a drive, while it reads it: what the
// question for the disc looks at. One copy at a time, as with copy_buf.
static const SourceFile *drive_file;

// The size of the open file and, from a drive, its volume's serial. A disk
// is not asked for its serial: under Wine that asks the drive's device.
static int identify(HANDLE h, int drive, uint64_t *size, unsigned long *serial)
{
    LARGE_INTEGER n;
    BY_HANDLE_FILE_INFORMATION info;
    *serial = 0;
    if (!drive) {
        if (!GetFileSizeEx(h, &n))
            return 0;
        *size = (uint64_t)n.QuadPart;
        return 1;
    }
    if (!GetFileInformationByHandle(h, &info))
        return 0;
    *size = (uint64_t)info.nFileSizeHigh << 32 | info.nFileSizeLow;
    *serial = info.dwVolumeSerialNumber;
    return 1;
}

// 1 when the open handle h is the drive's file that s first opened: the
// same size, on a volume of the same serial.
static int same_as_first(HANDLE h, const SourceFile *s)
{
    uint64_t size = 0;
    unsigned long serial = 0;
    return identify(h, 1, &size, &serial) && size == s->size && serial == s->serial;
}

// 1 when the reopened file is the one first opened, on the disc being copied.
static int same_source(const SourceFile *s, const Progress *p)
{
    const char *marker = drive_of(p)->marker;
    return same_as_first((HANDLE)s->h, s) && (!marker || path_exists(marker));
}

// The check that reopen_at makes, without reading: the path opens as the
// file first opened.
int drive_can_read_on(void)
{
    if (!drive_file)
        return 1;
    HANDLE h = open_for_read(drive_file->path);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int same = same_as_first(h, drive_file);
    CloseHandle(h);
    return same;
}

// Opens the source again at offset at after a failure of a drive: after a
// disc was taken out and put back, the old handle reads nothing. 0 with the
// error in *error, ERROR_MEDIA_CHANGED when the path now leads to another
// file or disc.
static int reopen_at(SourceFile *s, uint64_t at, DWORD *error, const Progress *p)
{
    if (s->h != INVALID_HANDLE_VALUE)
        CloseHandle((HANDLE)s->h);
    s->h = open_for_read(s->path);
    if (s->h == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return 0;
    }
    if (!same_source(s, p)) {
        CloseHandle((HANDLE)s->h);
        s->h = INVALID_HANDLE_VALUE;
        *error = ERROR_MEDIA_CHANGED;
        return 0;
    }
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)at;
    if (SetFilePointerEx((HANDLE)s->h, to, NULL, FILE_BEGIN))
        return 1;
    *error = GetLastError();
    return 0;
}

// A read of a drive that still fails, with the disc in, is read around
// when the drive's reading says so.
enum { READ_AROUND = -1 };

static int reads_around(const Progress *p, unsigned long error)
{
    const DriveReading *drive = drive_of(p);
    return drive && drive->read_around && error != ERROR_MEDIA_CHANGED && !stop_requested() &&
           (!drive->marker || path_exists(drive->marker));
}

// One read of a drive's file at offset at, tried again from there as long
// as copy_try_again says. The end of the file before its size is a failure
// too: a disc exchanged for one with a shorter file of that path. 0 with
// the error logged; READ_AROUND, with nothing logged, for a part to read
// around. A part right after one read around is read around at its first
// failure: a scratch goes on across parts, each retry costs the drive a
// pause, and the passes over what is missing retry it anyway.
static int read_drive(SourceFile *s, uint64_t at, DWORD *got, const Progress *p, int after_gap)
{
    DWORD error = 0;
    int tries = 0;
    for (;;) {
        // After a part read around, the handle is opened anew where the
        // next part begins.
        if (s->h == INVALID_HANDLE_VALUE)
            reopen_at(s, at, &error, p);
        if (s->h != INVALID_HANDLE_VALUE) {
            if (!ReadFile((HANDLE)s->h, copy_buf, DRIVE_READ, got, NULL))
                error = GetLastError();
            else if (*got > 0 || at >= s->size)
                return 1;
            else
                error = ERROR_HANDLE_EOF;
        }
        if ((tries == DRIVE_RETRIES || after_gap) && reads_around(p, error)) {
            SetLastError(error);
            return READ_AROUND;
        }
        if (!copy_try_again(p, s->path, error, &tries))
            break;
        reopen_at(s, at, &error, p);
    }
    if (!stop_requested())
        log_read_failure(s->path, error, p);
    return 0;
}

// Opens a source file, and notes what it is; a drive's file is tried again
// as a read is. 0 with the error in GetLastError().
static int open_source(SourceFile *s, const char *src, const Progress *p)
{
    memset(s, 0, sizeof *s);
    s->path = src;
    s->h = open_for_read(src);
    DWORD error = GetLastError();
    int tries = 0;
    while (s->h == INVALID_HANDLE_VALUE && copy_try_again(p, src, error, &tries)) {
        s->h = open_for_read(src);
        error = GetLastError();
    }
    if (s->h != INVALID_HANDLE_VALUE && !identify((HANDLE)s->h, drive_of(p) != NULL, &s->size, &s->serial)) {
        error = GetLastError();
        CloseHandle((HANDLE)s->h);
        s->h = INVALID_HANDLE_VALUE;
    }
    if (s->h != INVALID_HANDLE_VALUE)
        return 1;
    SetLastError(error);
    return 0;
}

// Reads the next block of the source: the whole buffer from a disk, a
// small piece from a drive. A read that fails part-way, or a file that ends
// before its size, is a failed copy, not the end of the file (Wine's own
// file copies take a failure for the end).
static int read_block(SourceFile *s, uint64_t at, DWORD *got, const Progress *p, int after_gap)
{
    *got = 0;
    if (stop_requested())
        return 0;
    if (drive_of(p))
        return read_drive(s, at, got, p, after_gap);
    if (!ReadFile((HANDLE)s->h, copy_buf, sizeof copy_buf, got, NULL)) {
        log_failure("read", s->path, GetLastError());
        return 0;
    }
    if (*got == 0 && at < s->size) {
        log_failure("read", s->path, ERROR_HANDLE_EOF);
        return 0;
    }
    return 1;
}

int source_open(SourceRead *s, const char *path, const unsigned char *data, uint64_t size, const Progress *p)
{
    if (path)
        return open_source(s, path, p);
    memset(s, 0, sizeof *s);
    s->h = INVALID_HANDLE_VALUE;
    s->data = data;
    s->size = size;
    return 1;
}

// Moves the open source to offset at.
static int seek_to(SourceFile *s, uint64_t at)
{
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)at;
    return s->h != INVALID_HANDLE_VALUE && SetFilePointerEx((HANDLE)s->h, to, NULL, FILE_BEGIN);
}

int source_read_at(SourceRead *s, uint64_t at, unsigned char *buf, uint32_t n, const Progress *p)
{
    if (s->data) {
        if (at > s->size || s->size - at < n) {
            SetLastError(ERROR_HANDLE_EOF);
            return 0;
        }
        memcpy(buf, s->data + at, n);
        return 1;
    }
    // A drive's read that failed leaves the handle to be opened anew for
    // the next one: after a failure its position, or the disc, may have
    // changed. Each read is tried once: a pass over damaged parts is the
    // retry.
    DWORD error = 0, got = 0;
    int placed = s->h == INVALID_HANDLE_VALUE ? drive_of(p) && reopen_at(s, at, &error, p) : seek_to(s, at);
    if (!placed) {
        SetLastError(error ? error : GetLastError());
        return 0;
    }
    if (ReadFile((HANDLE)s->h, buf, n, &got, NULL) && got == n)
        return 1;
    error = got < n && GetLastError() == ERROR_SUCCESS ? ERROR_HANDLE_EOF : GetLastError();
    if (drive_of(p))
        source_close(s);
    SetLastError(error);
    return 0;
}

void source_close(SourceRead *s)
{
    if (s->h != INVALID_HANDLE_VALUE && s->h)
        CloseHandle((HANDLE)s->h);
    s->h = INVALID_HANDLE_VALUE;
}

// The part [at, at + n) of a drive's file that did not read, after its
// retries: zeros in copy_buf, noted as missing, and the handle closed, to
// be opened anew where the next part begins. Everything readable is read
// first; the parts missing get passes of their own later, a sector at a
// time. 0 when memory for the note ran out.
static int read_around(SourceFile *s, uint64_t at, DWORD n, Ranges *missing)
{
    source_close(s);
    memset(copy_buf, 0, n);
    return ranges_add(missing, at, at + n);
}

// Ends a copy whose file was read with gaps: it lies as a partial file, and
// the watch is told. 1, or 0 when it could not be kept (logged).
static int keep_partial(DestFile *dest, const char *dst, uint64_t size, const Ranges *missing, const Progress *p)
{
    dest_close(dest);
    if (!partial_write(dst, dest_name(dest), size, missing)) {
        DeleteFileA(dest_name(dest));
        return 0;
    }
    copy_partial(p, dst, size, missing);
    return 1;
}

int copy_file(const char *src, const char *dst, Progress *p)
{
    SourceFile in;
    if (!open_source(&in, src, p)) {
        DWORD error = GetLastError();
        // The destination's folders are made even so: callers count on a
        // folder they copy into being there after a source that is missing.
        make_parent_dirs(dst);
        if (!stop_requested())
            log_read_failure(src, error, p);
        return 0;
    }
    // A file that an earlier run read in part is finished, not read again.
    Ranges had = {};
    FillFrom from = {&in, 0, NULL, NULL, 0};
    int resume = drive_of(p) && resumes(p, dst, in.size, &from) && partial_read(dst, in.size, &had);
    ranges_free(&had);
    if (resume) {
        from.source = &in;
        int filled = copy_fill(dst, in.size, &from, p, NULL);
        source_close(&in);
        return filled == FILL_WHOLE || filled == FILL_PARTIAL;
    }
    DestFile dest;
    if (!dest_open_for(&dest, dst, p)) {
        DWORD error = GetLastError();
        source_close(&in);
        log_write_failure(dst, error);
        return 0;
    }
    copy_begun(p, dst, in.size);
    if (drive_of(p))
        drive_file = &in;
    int ok = 1;
    uint64_t at = 0;
    uint32_t crc = 0;
    Ranges missing = {};
    for (;;) {
        DWORD got = 0;
        int after_gap = missing.count && missing.at[2 * missing.count - 1] == at;
        int read = read_block(&in, at, &got, p, after_gap);
        if (read == READ_AROUND) {
            // The first part of a file read around is said once, with the
            // system's code, for whoever helps the player; the parts still
            // missing at the end are named with their ranges.
            if (!missing.count)
                log_read_failure(src, GetLastError(), p);
            got = in.size - at < (uint64_t)DRIVE_READ ? (DWORD)(in.size - at) : (DWORD)DRIVE_READ;
            read = read_around(&in, at, got, &missing);
        }
        if (!read) {
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
    drive_file = NULL;
    source_close(&in);
    if (ok && missing.count) {
        ok = keep_partial(&dest, dst, at, &missing, p);
        ranges_free(&missing);
        return ok;
    }
    ranges_free(&missing);
    if (!dest_finish(&dest, ok))
        return 0;
    copy_done(p, dst, at, crc);
    return 1;
}
