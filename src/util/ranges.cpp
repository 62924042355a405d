// Byte ranges of a file, kept sorted and apart: the parts of a file that a
// copy could not read yet. The text of a partial file's map, which lies in
// the install folder where anyone running as the player can edit it, is read
// and written here over memory only, so that it is fuzzed natively.
//
// The map, plain text, every line ended by CR LF:
//
//   tarnok-missing 1
//   1048576
//   6144 12288
//   1042432 1048576
//
// The first line names the format, the second the whole file's size in
// bytes, then one line for each range still missing: its first byte and the
// byte after its last, in increasing order, none touching the next, none
// empty, none past the size. Anything else is no map.
#include <stdlib.h>
#include <string.h>

#include "util/util.h"

static const char map_header[] = "tarnok-missing 1\r\n";

// Makes room for one more range; 0 when memory ran out.
static int room_for_one(Ranges *r)
{
    if (r->count < r->room)
        return 1;
    int room = r->room ? r->room * 2 : 16;
    uint64_t *at = (uint64_t *)realloc(r->at, sizeof(uint64_t) * 2 * (size_t)room);
    if (!at)
        return 0;
    r->at = at;
    r->room = room;
    return 1;
}

int ranges_add(Ranges *r, uint64_t start, uint64_t end)
{
    if (start >= end)
        return 1;
    // The first range that ends at or after start touches or follows it.
    int i = 0;
    while (i < r->count && r->at[2 * i + 1] < start)
        i++;
    int j = i;
    while (j < r->count && r->at[2 * j] <= end) {
        if (r->at[2 * j] < start)
            start = r->at[2 * j];
        if (r->at[2 * j + 1] > end)
            end = r->at[2 * j + 1];
        j++;
    }
    if (i == j) {
        // A range of its own, between i - 1 and i.
        if (r->count >= RANGES_MAX) {
            // Too many to keep apart: the nearest one grows to take it in,
            // which only ever counts more as missing.
            int k = i < r->count ? i : r->count - 1;
            if (r->at[2 * k] > start)
                r->at[2 * k] = start;
            if (r->at[2 * k + 1] < end)
                r->at[2 * k + 1] = end;
            return 1;
        }
        if (!room_for_one(r))
            return 0;
        memmove(&r->at[2 * i + 2], &r->at[2 * i], sizeof(uint64_t) * 2 * (size_t)(r->count - i));
        r->count++;
    } else if (j - i > 1) {
        memmove(&r->at[2 * i + 2], &r->at[2 * j], sizeof(uint64_t) * 2 * (size_t)(r->count - j));
        r->count -= j - i - 1;
    }
    r->at[2 * i] = start;
    r->at[2 * i + 1] = end;
    return 1;
}

int ranges_take(Ranges *r, uint64_t start, uint64_t end)
{
    if (start >= end)
        return 1;
    for (int i = 0; i < r->count; i++) {
        uint64_t a = r->at[2 * i], b = r->at[2 * i + 1];
        if (b <= start || a >= end)
            continue;
        if (a < start && b > end) {
            // Split in two: the part before start, then the part after end.
            if (!room_for_one(r))
                return 0;
            memmove(&r->at[2 * i + 2], &r->at[2 * i], sizeof(uint64_t) * 2 * (size_t)(r->count - i));
            r->count++;
            r->at[2 * i + 1] = start;
            r->at[2 * i + 2] = end;
            return 1;
        }
        if (a < start) {
            r->at[2 * i + 1] = start;
        } else if (b > end) {
            r->at[2 * i] = end;
        } else {
            memmove(&r->at[2 * i], &r->at[2 * i + 2], sizeof(uint64_t) * 2 * (size_t)(r->count - i - 1));
            r->count--;
            i--;
        }
    }
    return 1;
}

uint64_t ranges_bytes(const Ranges *r)
{
    uint64_t sum = 0;
    for (int i = 0; i < r->count; i++)
        sum += r->at[2 * i + 1] - r->at[2 * i];
    return sum;
}

int ranges_copy(Ranges *to, const Ranges *from)
{
    to->count = 0;
    for (int i = 0; i < from->count; i++) {
        if (!room_for_one(to))
            return 0;
        to->at[2 * i] = from->at[2 * i];
        to->at[2 * i + 1] = from->at[2 * i + 1];
        to->count++;
    }
    return 1;
}

void ranges_free(Ranges *r)
{
    free(r->at);
    memset(r, 0, sizeof *r);
}

size_t ranges_map_size(const Ranges *r)
{
    return sizeof map_header + (size_t)(r->count + 1) * (2 * RANGES_DIGITS + 3);
}

size_t ranges_format(const Ranges *r, uint64_t size, char *out, size_t room)
{
    if (room < ranges_map_size(r))
        return 0;
    size_t n = (size_t)fmt(out, room, "%s%llu\r\n", map_header, (unsigned long long)size);
    for (int i = 0; i < r->count; i++)
        n += (size_t)fmt(out + n, room - n, "%llu %llu\r\n", (unsigned long long)r->at[2 * i],
                         (unsigned long long)r->at[2 * i + 1]);
    return n;
}

// A decimal of 1 to RANGES_DIGITS digits, no sign and no leading zero, from
// text[*pos] up to stop; *pos moves past it.
static int read_number(const char *text, size_t len, size_t *pos, char stop, uint64_t *out)
{
    uint64_t v = 0;
    size_t start = *pos, i = start;
    while (i < len && text[i] >= '0' && text[i] <= '9' && i - start < RANGES_DIGITS) {
        unsigned d = (unsigned)(text[i] - '0');
        if (v > (UINT64_MAX - d) / 10)
            return 0;
        v = v * 10 + d;
        i++;
    }
    if (i == start || i >= len || text[i] != stop || (i - start > 1 && text[start] == '0'))
        return 0;
    *pos = i + 1;
    *out = v;
    return 1;
}

// "\r\n" ends a line: the '\r' was the stop of the number before it.
static int line_end(const char *text, size_t len, size_t *pos)
{
    if (*pos >= len || text[*pos] != '\n')
        return 0;
    (*pos)++;
    return 1;
}

int ranges_parse(const char *text, size_t len, uint64_t size, Ranges *out)
{
    memset(out, 0, sizeof *out);
    size_t n = sizeof map_header - 1, pos = n;
    uint64_t said = 0, start = 0, end = 0, last = 0;
    if (len < n || memcmp(text, map_header, n) != 0 || !read_number(text, len, &pos, '\r', &said) ||
        !line_end(text, len, &pos) || said != size)
        return 0;
    while (pos < len) {
        // Each range after the last, apart from it, inside the file.
        if (out->count >= RANGES_MAX || !read_number(text, len, &pos, ' ', &start) ||
            !read_number(text, len, &pos, '\r', &end) || !line_end(text, len, &pos) || start >= end || end > size ||
            (out->count > 0 && start <= last) || !room_for_one(out)) {
            ranges_free(out);
            return 0;
        }
        out->at[2 * out->count] = start;
        out->at[2 * out->count + 1] = end;
        out->count++;
        last = end;
    }
    return 1;
}
