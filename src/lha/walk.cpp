// The member walk: finds the first header (past a DOS self-extracting stub),
// reads header levels 0 to 2, decodes -lh0- and -lh5- members, checks each
// member's CRC-16 and hands it to the sink. The first failure ends the walk.
#include <stdlib.h>
#include <string.h>

#include "lha/lha.h"
#include "lha/walk.h"

// Header levels 0 and 1 ("basic header"):
//   0  1  header size HS (bytes after the first two; 0 ends the archive)
//   1  1  checksum of bytes 2 .. HS+1 (only tested while searching)
//   2  5  method "-lh?-"
//   7  4  compressed size (level 1: including the extended headers)
//  11  4  uncompressed size
//  15  4  time stamp, 19 1 attribute
//  20  1  level
//  21  1  name length N, 22 N name
//  22+N 2 CRC-16;  level 1: 24+N 1 OS id, HS 2 size of first extended header
// Level 2:
//   0  2  header size HS (all of it; the data begins at HS)
//   2  5  method, 7 4 compressed size (data only), 11 4 uncompressed size
//  20  1  level, 21 2 CRC-16, 23 1 OS id, 24 2 size of first extended header
// Extended header of S bytes: 0 type (1 = file name), 1 .. S-3 contents,
// S-2 2 size of the next one (0 after the last).
enum {
    H_SIZE = 0,
    H_SUM = 1,
    H_METHOD = 2,
    H_PACKED = 7,
    H_ORIGINAL = 11,
    H_LEVEL = 20,
    H_NAME_LEN = 21,
    H_NAME = 22,
    H_MIN = 22,      // the fields every level has
    H0_FIXED = 22,   // level 0: HS counts at least name and CRC
    H1_FIXED = 25,   // level 1: also the OS id and the first extended size
    H2_CRC = 21,
    H2_EXT = 24,
    H2_FIXED = 26,
    EXT_NAME = 1,
    EXT_SIZE64 = 0x42, // 64-bit compressed and uncompressed sizes
    NAME_LIMIT = 259,
};

struct LhaMember {
    char method[6];
    uint32_t packed;   // compressed bytes of data
    uint32_t original; // uncompressed size
    uint16_t crc;
    uint64_t data;     // offset of the data in the image
    int huge;          // 64-bit sizes beyond 4 GiB: the 32-bit fields are cut
    char name[NAME_LIMIT + 1];
};

static CrcSlices crc16_tab;

static uint32_t get16(const unsigned char *p) { return p[0] | (uint32_t)p[1] << 8; }

static uint32_t get32(const unsigned char *p)
{
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

uint16_t lha_crc16(const unsigned char *data, uint64_t size)
{
    if (crc16_tab[0][1] == 0)
        crc_build_slices(crc16_tab, 0xA001);
    return (uint16_t)crc_update(crc16_tab, 0, data, size);
}

static void log_line(const LhaSink *sink, const char *line)
{
    if (sink->log)
        sink->log(sink->ctx, line);
}

// A candidate for the first header: the "-lh?-" pattern, a level of 2 or
// less, and at levels 0 and 1 a size and checksum that fit.
static int header_plausible(const unsigned char *data, uint64_t size, uint64_t p)
{
    const unsigned char *h = data + p;
    if (size - p < 24 || h[2] != '-' || h[3] != 'l' || h[4] != 'h' || h[6] != '-')
        return 0;
    if (h[H_LEVEL] > 2)
        return 0;
    if (h[H_LEVEL] == 2)
        return 1;
    uint32_t hs = h[H_SIZE];
    if (hs < 22 || size - p < hs + 2)
        return 0;
    uint32_t sum = 0;
    for (uint32_t i = 2; i < hs + 2; i++)
        sum += h[i];
    return (sum & 0xFF) == h[H_SUM];
}

int lha_find_first(const unsigned char *data, uint64_t size, uint64_t *at)
{
    for (uint64_t p = 0; p < size; p++) {
        if (header_plausible(data, size, p)) {
            *at = p;
            return 1;
        }
    }
    return 0;
}

// Takes what this reader needs from one extended header of s bytes whose
// type byte is at ext: the file name, and whether 64-bit sizes need more than
// 32 bits (a member over 4 GiB, whose 32-bit fields would cut it silently).
static void read_ext(const unsigned char *ext, uint32_t s, LhaMember *m)
{
    if (ext[0] == EXT_NAME && s >= 3 && s <= NAME_LIMIT + 3) {
        memcpy(m->name, ext + 1, s - 3);
        m->name[s - 3] = 0;
    }
    if (ext[0] == EXT_SIZE64 && s >= 19 && (get32(ext + 5) != 0 || get32(ext + 13) != 0))
        m->huge = 1;
}

// Level 1: extended headers follow the basic header and are counted in the
// compressed size, which therefore shrinks (as 32 bits) by each of them.
static int read_level1_ext(const unsigned char *data, uint64_t size, uint64_t q, LhaMember *m)
{
    uint32_t s = get16(data + q - 2);
    while (s != 0) {
        if (size - q < s)
            return 0; // runs past the image
        read_ext(data + q, s, m);
        q += s;
        m->packed -= s;
        s = get16(data + q - 2);
    }
    m->data = q;
    return 1;
}

// Level 2: the extended headers lie inside the header size. One that would
// pass the header's end stops the walk over them, without error.
static void read_level2_ext(const unsigned char *data, uint64_t end, uint64_t r, LhaMember *m)
{
    uint32_t s = get16(data + r);
    while (s != 0 && end - r >= (uint64_t)s + 2) {
        read_ext(data + r + 2, s, m);
        r += s;
        s = get16(data + r);
    }
}

// Reads the header at pos into m. Returns 1, or 0 after logging (or, for a
// level-1 extended header past the image, silently).
static int read_header(const unsigned char *data, uint64_t size, uint64_t pos, LhaMember *m,
                       const LhaSink *sink)
{
    const unsigned char *h = data + pos;
    uint64_t left = size - pos;
    memcpy(m->method, h + H_METHOD, 5);
    m->method[5] = 0;
    m->packed = get32(h + H_PACKED);
    m->original = get32(h + H_ORIGINAL);
    m->name[0] = 0;
    m->huge = 0;
    if (h[H_LEVEL] >= 2) {
        uint32_t hs = get16(h + H_SIZE);
        if (left < H2_FIXED || left < hs) {
            log_line(sink, "LHA: truncated archive");
            return 0;
        }
        if (hs < H2_FIXED) {
            char line[1024];
            fmt(line, sizeof line, "LHA: bad header at offset %llu", (unsigned long long)pos);
            log_line(sink, line);
            return 0;
        }
        m->crc = (uint16_t)get16(h + H2_CRC);
        m->data = pos + hs;
        read_level2_ext(data, pos + hs, pos + H2_EXT, m);
        return 1;
    }
    uint32_t n = h[H_NAME_LEN];
    uint32_t hs = h[H_SIZE];
    uint32_t fixed = h[H_LEVEL] == 0 ? H0_FIXED + n : H1_FIXED + n;
    if (left < H_NAME + n + 2 || left < (uint64_t)hs + 2) {
        log_line(sink, "LHA: truncated archive");
        return 0;
    }
    if (hs < fixed) {
        char line[1024];
        fmt(line, sizeof line, "LHA: bad header at offset %llu", (unsigned long long)pos);
        log_line(sink, line);
        return 0;
    }
    memcpy(m->name, h + H_NAME, n);
    m->name[n] = 0;
    m->crc = (uint16_t)get16(h + H_NAME + n);
    m->data = pos + hs + 2;
    if (h[H_LEVEL] == 0)
        return 1;
    return read_level1_ext(data, size, pos + hs + 2, m);
}

static void convert_name(char *name)
{
    for (char *c = name; *c; c++) {
        if (*c == '/' || (unsigned char)*c == 0xFF)
            *c = '\\';
    }
}

// 1 when no step of the name leads out of the output folder or is refused
// by name_reserved; *named tells whether a step besides empty ones and "."
// names something inside it.
static int steps_safe(const char *name, int *named)
{
    *named = 0;
    if (name[0] == '\\' || strchr(name, ':'))
        return 0;
    for (const char *step = name;;) {
        const char *end = strchr(step, '\\');
        size_t len = end ? (size_t)(end - step) : strlen(step);
        // Empty and "." steps stay where they are; ".." and other steps that
        // end in a dot or blank, and device names, are refused.
        if (!(len == 0 || (len == 1 && step[0] == '.'))) {
            if (name_reserved(step, len))
                return 0;
            *named = 1;
        }
        if (!end)
            return 1;
        step = end + 1;
    }
}

int lha_name_safe(const char *name)
{
    int named;
    return steps_safe(name, &named) && named;
}

// Each -lh5- block sends at most 65535 symbols of at most 256 bytes, and its
// header takes at least 43 bits (16 for the size, 10 for a one-symbol
// pre-tree, 9 for a two-symbol character code, 8 for a one-symbol position
// code). Blocks whose symbols take no bits at all need 52 bits.
uint64_t lha_lh5_size_limit(uint32_t compressed_size)
{
    return ((uint64_t)compressed_size * 8 / 43 + 1) * 65535u * 256u;
}

// The checks that need no output: method, sizes, name. 0 after logging,
// except for a stored member whose two sizes differ.
static int check_member(const LhaMember *m, const LhaSink *sink)
{
    char name[1024];
    name_escape(m->name, name, sizeof name);
    int named;
    if (!steps_safe(m->name, &named)) {
        char line[1024];
        fmt(line, sizeof line, "LHA: unsafe member name %s", name);
        log_line(sink, line);
        return 0;
    }
    if (m->huge) {
        char line[1024];
        fmt(line, sizeof line, "LHA: %s is larger than 4 GiB", name);
        log_line(sink, line);
        return 0;
    }
    if (strcmp(m->method, "-lh0-") != 0 && strcmp(m->method, "-lh5-") != 0) {
        char line[1024], method[24];
        fmt(line, sizeof line, "LHA: unsupported method %s for %s", name_escape(m->method, method, sizeof method), name);
        log_line(sink, line);
        return 0;
    }
    // Directory entries have no file name; they are refused by their method
    // above. A member whose name is only separators and "." steps would be
    // written over the output folder itself.
    if (!named) {
        char line[1024];
        fmt(line, sizeof line, "LHA: member without a file name: \"%s\"", name);
        log_line(sink, line);
        return 0;
    }
    if (strcmp(m->method, "-lh0-") == 0)
        return m->packed == m->original;
    if (m->original > lha_lh5_size_limit(m->packed)) {
        char line[1024];
        fmt(line, sizeof line, "LHA: impossible size %lu for %s", (unsigned long)m->original, name);
        log_line(sink, line);
        return 0;
    }
    return 1;
}

// Decodes a checked member into a heap buffer and checks its CRC-16; null
// after logging (or, without memory or for a malformed -lh5- stream, silently).
static unsigned char *decode_member(const unsigned char *data, const LhaMember *m, const LhaSink *sink)
{
    char name[1024];
    name_escape(m->name, name, sizeof name);
    if (sink->max_size && m->original > sink->max_size) {
        char line[1024];
        fmt(line, sizeof line, "LHA: %s is too large", name);
        log_line(sink, line);
        return NULL;
    }
    unsigned char *out = (unsigned char *)malloc(m->original ? m->original : 1);
    if (!out)
        return NULL;
    const unsigned char *src = data + m->data;
    int ok;
    if (strcmp(m->method, "-lh0-") == 0) {
        memcpy(out, src, m->original);
        ok = 1;
    } else {
        ok = lh5_decode(src, m->packed, out, m->original);
    }
    if (ok && lha_crc16(out, m->original) != m->crc) {
        char line[1024];
        fmt(line, sizeof line, "LHA: CRC error in %s", name);
        log_line(sink, line);
        ok = 0;
    }
    if (!ok) {
        free(out);
        return NULL;
    }
    return out;
}

static int extract_member(const unsigned char *data, const LhaMember *m, const LhaSink *sink)
{
    unsigned char *out = decode_member(data, m, sink);
    if (!out)
        return 0;
    int ok = sink->write(sink->ctx, m->name, out, m->original);
    free(out);
    return ok;
}

// Reads the member header at *pos and moves *pos past its data. 1, or 0
// after logging.
static int next_member(const unsigned char *data, uint64_t size, uint64_t *pos, LhaMember *m, const LhaSink *sink)
{
    if (!read_header(data, size, *pos, m, sink))
        return 0;
    if (m->packed > size - m->data) {
        log_line(sink, "LHA: truncated archive");
        return 0;
    }
    convert_name(m->name);
    *pos = m->data + m->packed;
    return 1;
}

// Names compared as the file system does for ASCII: without regard to case.
static int same_name(const char *a, const char *b)
{
    for (;; a++, b++) {
        unsigned char x = (unsigned char)*a, y = (unsigned char)*b;
        if (x >= 'a' && x <= 'z')
            x = (unsigned char)(x - 32);
        if (y >= 'a' && y <= 'z')
            y = (unsigned char)(y - 32);
        if (x != y)
            return 0;
        if (!x)
            return 1;
    }
}

int lha_member(const unsigned char *data, uint64_t size, const char *name, unsigned char **out, uint32_t *out_size,
               const LhaSink *sink)
{
    *out = NULL;
    *out_size = 0;
    uint64_t pos;
    if (!lha_find_first(data, size, &pos)) {
        log_line(sink, "LHA: no archive found");
        return -1;
    }
    // Unpacking writes every member in turn, so the last of that name is
    // the one that stays: that is the one to decode.
    LhaMember last;
    memset(&last, 0, sizeof last);
    int found = 0;
    while (size - pos >= H_MIN && data[pos] != 0) {
        LhaMember m;
        if (!next_member(data, size, &pos, &m, sink))
            return -1;
        if (same_name(m.name, name)) {
            last = m;
            found = 1;
        }
    }
    if (!found)
        return 0;
    if (!check_member(&last, sink) || !(*out = decode_member(data, &last, sink)))
        return -1;
    *out_size = last.original;
    return 1;
}

int lha_walk(const unsigned char *data, uint64_t size, const LhaSink *sink)
{
    uint64_t pos;
    if (!lha_find_first(data, size, &pos)) {
        log_line(sink, "LHA: no archive found");
        return -1;
    }
    int count = 0;
    while (size - pos >= H_MIN && data[pos] != 0) {
        LhaMember m;
        if (!next_member(data, size, &pos, &m, sink))
            return -1;
        if (!check_member(&m, sink) || !extract_member(data, &m, sink))
            return -1;
        count++;
        if (sink->member_done)
            sink->member_done(sink->ctx, m.original);
    }
    return count;
}
