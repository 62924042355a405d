// Partial files: a disc's file that a drive could not read whole lies
// beside its final name as its data, gaps and all, and its map of the
// ranges still missing. Filled later from the same disc, cleaned, or from
// another copy of it, a piece at a time; the map is written after the data
// it tells of, so that a kill at any moment loses no byte that was read,
// and the file takes its final name only once it is whole.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "util/util.h"

// A gap is read, and a comparison made, a sector at a time.
static unsigned char sector_buf[CD_SECTOR], ours_buf[CD_SECTOR];

// The bytes of the next sector, when left bytes are left.
static DWORD sector_piece(uint64_t left)
{
    return left < (uint64_t)CD_SECTOR ? (DWORD)left : (DWORD)CD_SECTOR;
}

int partial_paths(const char *dst, char *data, size_t data_size, char *map, size_t map_size)
{
    return fmt_path(data, data_size, "%s%s", dst, PARTIAL_DATA_SUFFIX) &&
           fmt_path(map, map_size, "%s%s", dst, PARTIAL_MAP_SUFFIX) && strlen(map) < MAX_PATH;
}

// The size of a plain file, or UINT64_MAX when there is none.
static uint64_t file_size(const char *path)
{
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a) ||
        (a.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return UINT64_MAX;
    return (uint64_t)a.nFileSizeHigh << 32 | a.nFileSizeLow;
}

int partial_read(const char *dst, uint64_t size, Ranges *out)
{
    char data[540], map[540];
    memset(out, 0, sizeof *out);
    if (!partial_paths(dst, data, sizeof data, map, sizeof map) || file_size(data) != size ||
        file_size(map) > (uint64_t)64 << 20)
        return 0;
    uint64_t n = 0;
    unsigned char *text = read_file(map, &n);
    int ok = text && ranges_parse((const char *)text, (size_t)n, size, out);
    free(text);
    return ok;
}

// Removes a map, and the name it was being written under: a run killed
// while it rewrote the map leaves that beside it.
static void remove_map(const char *map)
{
    char temp[560];
    delete_file_itself(map);
    if (dest_temp_path(map, temp, sizeof temp))
        delete_file_itself(temp);
}

void partial_remove(const char *dst)
{
    char data[540], map[540];
    if (!partial_paths(dst, data, sizeof data, map, sizeof map))
        return;
    // The map first: data without a map is no partial file.
    remove_map(map);
    delete_file_itself(data);
}

// Writes the map of dst's partial file beside it and puts it in place.
static int write_map(const char *map, uint64_t size, const Ranges *missing)
{
    size_t room = ranges_map_size(missing);
    char *text = (char *)malloc(room);
    int ok = text && write_file(map, text, ranges_format(missing, size, text, room));
    free(text);
    return ok;
}

int partial_write(const char *dst, const char *written, uint64_t size, const Ranges *missing)
{
    char data[540], map[540];
    if (!partial_paths(dst, data, sizeof data, map, sizeof map)) {
        log_write_failure(dst, ERROR_FILENAME_EXCED_RANGE);
        return 0;
    }
    // An old map would tell of other data.
    remove_map(map);
    if (!MoveFileExA(written, data, MOVEFILE_REPLACE_EXISTING)) {
        log_write_failure(data, GetLastError());
        return 0;
    }
    return write_map(map, size, missing);
}

// The partial data, open to read and write its gaps.
static HANDLE open_data(const char *data)
{
    return CreateFileA(data, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
}

static int at_offset(HANDLE h, uint64_t at)
{
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)at;
    return SetFilePointerEx(h, to, NULL, FILE_BEGIN);
}

static int read_ours(HANDLE h, uint64_t at, unsigned char *buf, DWORD n)
{
    DWORD got = 0;
    return at_offset(h, at) && ReadFile(h, buf, n, &got, NULL) && got == n;
}

static int write_ours(HANDLE h, uint64_t at, const unsigned char *buf, DWORD n)
{
    DWORD put = 0;
    return at_offset(h, at) && WriteFile(h, buf, n, &put, NULL) && put == n;
}

// The CRC-32 of the data file, read through.
static int crc_of(HANDLE h, uint64_t size, uint32_t *crc)
{
    static unsigned char block[1 << 16];
    *crc = 0;
    for (uint64_t at = 0; at < size;) {
        DWORD n = size - at < sizeof block ? (DWORD)(size - at) : (DWORD)sizeof block;
        if (!read_ours(h, at, block, n))
            return 0;
        *crc = crc32_more(*crc, block, n);
        at += n;
    }
    return 1;
}

// 1 when the other copy has the same bytes as ours in [a, b), a sector at
// a time, wherever it reads: a sector that it cannot read says nothing
// either way.
static int agrees(HANDLE h, SourceRead *other, uint64_t a, uint64_t b, const Progress *p)
{
    for (uint64_t at = a; at < b; at += CD_SECTOR) {
        DWORD n = sector_piece(b - at);
        if (!source_read_at(other, at, sector_buf, n, p))
            continue;
        if (!read_ours(h, at, ours_buf, n) || memcmp(sector_buf, ours_buf, n) != 0)
            return 0;
    }
    return 1;
}

// Without a table to check the whole by, another copy must agree with ours
// where both read: all of the file when the copy is in memory (a file of an
// image or a folder, read whole), margin bytes on either side of each gap
// when it is on a drive, so that no other part of the file is read again.
static int other_agrees(HANDLE h, SourceRead *other, const Ranges *missing, uint64_t size, uint32_t margin,
                        const Progress *p)
{
    uint64_t from = 0;
    for (int i = 0; i <= missing->count; i++) {
        uint64_t gap = i < missing->count ? missing->at[2 * i] : size;
        uint64_t next = i < missing->count ? missing->at[2 * i + 1] : size;
        // [from, gap) was read well.
        if (other->data) {
            if (!agrees(h, other, from, gap, p))
                return 0;
        } else {
            uint64_t before = gap - from < margin ? from : gap - margin;
            uint64_t after = i + 1 < missing->count ? missing->at[2 * i + 2] : size;
            after = after - next < margin ? after : next + margin;
            if ((i < missing->count && !agrees(h, other, before, gap, p)) ||
                (i < missing->count && !agrees(h, other, next, after, p)))
                return 0;
        }
        from = next;
    }
    return 1;
}

// Reads the gaps from the copy a sector at a time into the data, keeping
// the map true after each sector read: a run killed meanwhile leaves
// nothing read well to be read again. These are the damaged parts of a
// disc, where a sector can take the drive seconds; a small write beside
// it costs nothing in comparison. A copy taken out, or the player's stop,
// ends it early; what was read stays read.
static void fill_gaps(HANDLE h, SourceRead *src, Ranges *missing, const char *map, uint64_t size, Progress *p)
{
    Ranges gaps = {};
    if (!ranges_copy(&gaps, missing))
        return;
    int gone = 0;
    for (int i = 0; i < gaps.count && !gone; i++) {
        for (uint64_t at = gaps.at[2 * i]; at < gaps.at[2 * i + 1]; at += CD_SECTOR) {
            DWORD n = sector_piece(gaps.at[2 * i + 1] - at);
            if (!source_read_at(src, at, sector_buf, n, p)) {
                gone = GetLastError() == ERROR_MEDIA_CHANGED || stop_requested();
                if (gone)
                    break;
                continue;
            }
            if (!write_ours(h, at, sector_buf, n) || !ranges_take(missing, at, at + n))
                break;
            write_map(map, size, missing);
            if (p)
                progress_add(p, n);
        }
    }
    ranges_free(&gaps);
}

// With a table to check the whole by, another copy's bytes are taken only
// when they make the file whole and as the table has it: all the gaps are
// read into memory first, and written only then. 1 when taken.
static int fill_by_table(HANDLE h, const FillFrom *from, Ranges *missing, uint64_t size, Progress *p)
{
    uint64_t need = ranges_bytes(missing);
    unsigned char *got = need < ((uint64_t)1 << 31) ? (unsigned char *)malloc((size_t)need + 1) : NULL;
    int ok = got != NULL;
    uint64_t k = 0;
    for (int i = 0; ok && i < missing->count; i++) {
        uint64_t n = missing->at[2 * i + 1] - missing->at[2 * i];
        for (uint64_t d = 0; ok && d < n; d += CD_SECTOR) {
            DWORD len = sector_piece(n - d);
            ok = source_read_at(from->source, missing->at[2 * i] + d, got + k + d, len, p);
        }
        k += n;
    }
    // The whole file's CRC-32: ours where we read, theirs in the gaps.
    uint32_t crc = 0;
    uint64_t at = 0;
    k = 0;
    for (int i = 0; ok && i <= missing->count; i++) {
        uint64_t gap = i < missing->count ? missing->at[2 * i] : size;
        for (; ok && at < gap; at += CD_SECTOR) {
            DWORD n = sector_piece(gap - at);
            ok = read_ours(h, at, ours_buf, n);
            crc = crc32_more(crc, ours_buf, n);
        }
        if (ok && i < missing->count) {
            uint64_t n = missing->at[2 * i + 1] - gap;
            crc = crc32_more(crc, got + k, n);
            k += n;
            at = missing->at[2 * i + 1];
        }
    }
    ok = ok && from->table(from->ctx, size, crc) == 1;
    k = 0;
    for (int i = 0; ok && i < missing->count; i++) {
        uint64_t n = missing->at[2 * i + 1] - missing->at[2 * i];
        ok = n < 0xFFFFFFFFu && write_ours(h, missing->at[2 * i], got + k, (DWORD)n);
        k += n;
        if (ok && p)
            progress_add(p, n);
    }
    free(got);
    if (ok)
        missing->count = 0;
    return ok;
}

// The partial file is whole: it takes its final name, its map goes, and
// the watch hears of it. FILL_WHOLE, or FILL_FAILED when it cannot be put
// in place (logged).
static int finish_whole(HANDLE h, const char *dst, const char *data, const char *map, uint64_t size, Progress *p)
{
    uint32_t crc = 0;
    int read = crc_of(h, size, &crc);
    DWORD error = GetLastError();
    CloseHandle(h);
    if (!read) {
        log_write_failure(data, error);
        return FILL_FAILED;
    }
    if (!MoveFileExA(data, dst, MOVEFILE_REPLACE_EXISTING)) {
        log_write_failure(dst, GetLastError());
        return FILL_FAILED;
    }
    remove_map(map);
    copy_done(p, dst, size, crc);
    return FILL_WHOLE;
}

int copy_fill(const char *dst, uint64_t size, const FillFrom *from, Progress *p, Ranges *still)
{
    char data[540], map[540];
    Ranges missing = {};
    if (!partial_paths(dst, data, sizeof data, map, sizeof map) || !partial_read(dst, size, &missing)) {
        log_write_failure(dst, ERROR_FILE_CORRUPT);
        return FILL_FAILED;
    }
    HANDLE h = from->other && from->source->size != size ? INVALID_HANDLE_VALUE : open_data(data);
    int result = FILL_PARTIAL;
    // Whoever runs the install hears of the file whose reading begins.
    if (h != INVALID_HANDLE_VALUE)
        copy_begun(p, dst, size);
    if (from->other && from->source->size != size) {
        result = FILL_REFUSED;
    } else if (h == INVALID_HANDLE_VALUE) {
        log_write_failure(data, GetLastError());
        result = FILL_FAILED;
    } else if (from->other && from->table && from->table(from->ctx, size, 0) >= 0) {
        if (!fill_by_table(h, from, &missing, size, p))
            result = FILL_REFUSED;
    } else if (from->other && !other_agrees(h, from->source, &missing, size, from->margin, p)) {
        result = FILL_REFUSED;
    } else {
        fill_gaps(h, from->source, &missing, map, size, p);
    }
    if (result == FILL_PARTIAL && missing.count == 0) {
        result = finish_whole(h, dst, data, map, size, p);
    } else if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        if (result == FILL_PARTIAL)
            copy_partial(p, dst, size, &missing);
    }
    if (still)
        ranges_copy(still, &missing);
    ranges_free(&missing);
    return result;
}
