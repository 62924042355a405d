// ISO 9660 structures, names and cue sheets, over memory buffers only.
#include "cdsrc/isoparse.h"

#include <stdlib.h>
#include <string.h>

#include "util/util.h"

// Primary volume descriptor (logical sector 16), as far as it is read:
//   0    type (1 = primary)
//   1    "CD001"
//   156  root directory record; its extent at +2, its length at +10
enum {
    PVD_TYPE = 0,
    PVD_ID = 1,
    PVD_ROOT = 156,
    PVD_ROOT_LBA = PVD_ROOT + 2,
    PVD_ROOT_SIZE = PVD_ROOT + 10,
};

// Directory record:
//   0    length of the record (0: no more records in this sector)
//   2    extent location, little-endian copy
//   10   data length, little-endian copy
//   25   flags (bit 1: directory, bit 7: more records of this file follow)
//   32   identifier length
//   33   identifier
enum {
    REC_LEN = 0,
    REC_LBA = 2,
    REC_SIZE = 10,
    REC_FLAGS = 25,
    REC_ID_LEN = 32,
    REC_ID = 33,
    REC_FLAG_DIR = 2,
    REC_FLAG_MORE = 0x80, // not the last record of a file in several extents
};

static uint32_t le32(const unsigned char *b)
{
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

int iso_parse_pvd(const unsigned char *sector, uint32_t *root_lba, uint32_t *root_size)
{
    if (sector[PVD_TYPE] != 1 || memcmp(sector + PVD_ID, "CD001", 5) != 0)
        return 0;
    *root_lba = le32(sector + PVD_ROOT_LBA);
    *root_size = le32(sector + PVD_ROOT_SIZE);
    return 1;
}

uint64_t iso_sectors(uint64_t size)
{
    return size / ISO_SECTOR + (size % ISO_SECTOR != 0);
}

const IsoLayout iso_layouts[ISO_LAYOUT_COUNT] = {
    {2048, 0},  // user data only
    {2352, 16}, // raw Mode 1: 12 sync bytes and a 4-byte header
    {2352, 24}, // raw Mode 2 Form 1: sync, header and an 8-byte subheader
    {2448, 16}, // raw Mode 1 followed by 96 bytes of sub-channel
    {2448, 24}, // raw Mode 2 Form 1 followed by 96 bytes of sub-channel
    {2336, 8},  // Mode 2 without sync and header: the subheader, then the data
};

int iso_find_layout(const unsigned char *head, size_t len, uint32_t *root_lba, uint32_t *root_size)
{
    for (int i = 0; i < ISO_LAYOUT_COUNT; i++) {
        size_t at = (size_t)16 * iso_layouts[i].sector_size + iso_layouts[i].data_offset;
        if (at <= len && len - at >= ISO_SECTOR && iso_parse_pvd(head + at, root_lba, root_size))
            return i;
    }
    return -1;
}

void iso_unpack_run(const unsigned char *run, uint32_t k, uint32_t sector_size, unsigned char *out)
{
    for (uint32_t i = 0; i < k; i++)
        memmove(out + (size_t)i * ISO_SECTOR, run + (size_t)i * sector_size, ISO_SECTOR);
}

void iso_clean_name(const unsigned char *id, size_t n, char *out)
{
    size_t k = 0;
    while (k < n && k < 63 && id[k] != ';') {
        out[k] = (char)id[k];
        k++;
    }
    // A file without extension is stored as "NAME.;1".
    if (k > 0 && out[k - 1] == '.')
        k--;
    out[k] = 0;
}

int iso_name_unsafe(const char *name)
{
    if (!name[0] || name_reserved(name, strlen(name)))
        return 1;
    for (const unsigned char *s = (const unsigned char *)name; *s; s++) {
        if (*s < 0x20 || strchr("\\/:*?\"<>|", *s))
            return 1;
    }
    return 0;
}

static int append_entry(IsoEntry **list, int *count, int *room, const unsigned char *rec)
{
    if (*count == *room) {
        IsoEntry *grown = (IsoEntry *)realloc(*list, sizeof(IsoEntry) * (size_t)*room * 2);
        if (!grown)
            return 0;
        *list = grown;
        *room *= 2;
    }
    IsoEntry *e = &(*list)[(*count)++];
    iso_clean_name(rec + REC_ID, rec[REC_ID_LEN], e->name);
    e->lba = le32(rec + REC_LBA);
    e->size = le32(rec + REC_SIZE);
    e->directory = (rec[REC_FLAGS] & REC_FLAG_DIR) != 0;
    e->more = (rec[REC_FLAGS] & REC_FLAG_MORE) != 0;
    return 1;
}

IsoEntry *iso_parse_dir(const unsigned char *buf, size_t buf_len, uint32_t size, int *count)
{
    int room = 64;
    IsoEntry *list = (IsoEntry *)malloc(sizeof(IsoEntry) * (size_t)room);
    *count = 0;
    if (!list)
        return NULL;
    size_t end = size < buf_len ? size : buf_len;
    size_t p = 0;
    while (p < end) {
        size_t left = ISO_SECTOR - p % ISO_SECTOR; // bytes to the end of this sector
        if (left > buf_len - p)
            left = buf_len - p;
        const unsigned char *rec = buf + p;
        size_t len = rec[REC_LEN];
        // A record never crosses a sector; one that would, or whose
        // identifier outgrows it, is damaged: go on with the next sector.
        if (len == 0 || len < REC_ID || len > left || rec[REC_ID_LEN] > len - REC_ID) {
            p += left;
            continue;
        }
        int self_or_parent = rec[REC_ID_LEN] == 1 && rec[REC_ID] <= 1;
        if (!self_or_parent && !append_entry(&list, count, &room, rec)) {
            free(list);
            *count = 0;
            return NULL;
        }
        p += len;
    }
    return list;
}

int iso_file_records(const IsoEntry *list, int count, int i, uint64_t *size)
{
    uint64_t total = 0;
    if (list[i].directory) {
        *size = list[i].size;
        return 1;
    }
    for (int k = i; k < count; k++) {
        const IsoEntry *e = &list[k];
        if (e->directory || strcmp(e->name, list[i].name) != 0)
            return 0;
        total += e->size;
        if (!e->more) {
            *size = total;
            return k - i + 1;
        }
    }
    return 0;
}

void cd_normalise(char *path, size_t size)
{
    size_t n = strlen(path);
    if (n > 3) {
        while (n > 3 && (path[n - 1] == '\\' || path[n - 1] == '/'))
            path[--n] = 0;
    } else if (n == 2 && path[1] == ':' && size > 3) {
        path[2] = '\\';
        path[3] = 0;
    }
}

int cue_is_sheet(const char *path)
{
    const char *dot = strrchr(path, '.');
    if (!dot)
        return 0;
    const char *cue = ".cue";
    for (int i = 0; i < 5; i++) {
        char c = dot[i];
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
        if (c != cue[i])
            return 0;
    }
    return 1;
}

static int is_blank(char c)
{
    return c == ' ' || c == '\t';
}

// Moves *s past blanks and then past one word; returns the word's length.
static size_t take_word(const char **s, const char *end, const char **word)
{
    while (*s < end && is_blank(**s))
        (*s)++;
    *word = *s;
    while (*s < end && !is_blank(**s))
        (*s)++;
    return (size_t)(*s - *word);
}

static char ascii_upper(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// 1 if the n bytes at w spell the upper-case text, in any case.
static int spells(const char *w, size_t n, const char *upper)
{
    if (n != strlen(upper))
        return 0;
    for (size_t i = 0; i < n; i++) {
        if (ascii_upper(w[i]) != upper[i])
            return 0;
    }
    return 1;
}

// A decimal number of 1 to max_digits digits filling the whole word.
static int parse_number(const char *w, size_t n, size_t max_digits, uint32_t *value)
{
    if (n == 0 || n > max_digits)
        return 0;
    uint32_t v = 0;
    for (size_t i = 0; i < n; i++) {
        if (w[i] < '0' || w[i] > '9')
            return 0;
        v = v * 10 + (uint32_t)(w[i] - '0');
    }
    *value = v;
    return 1;
}

enum { CD_FRAMES_PER_SECOND = 75 };

// "mm:ss:ff", 75 frames a second, as a frame count.
static int parse_msf(const char *w, size_t n, uint32_t *frames)
{
    const char *c1 = (const char *)memchr(w, ':', n);
    const char *c2 = c1 ? (const char *)memchr(c1 + 1, ':', (size_t)(w + n - c1 - 1)) : NULL;
    uint32_t m, sec, f;
    if (!c2 || !parse_number(w, (size_t)(c1 - w), 3, &m) || !parse_number(c1 + 1, (size_t)(c2 - c1 - 1), 2, &sec) ||
        !parse_number(c2 + 1, (size_t)(w + n - c2 - 1), 2, &f) || sec >= 60 || f >= CD_FRAMES_PER_SECOND)
        return 0;
    *frames = (m * 60 + sec) * CD_FRAMES_PER_SECOND + f;
    return 1;
}

// Track types: bytes each sector takes in the file, and whether the track
// can hold the volume. Sizes of the others still place later tracks.
static const struct {
    const char *name;
    uint32_t size;
    int data;
} track_types[] = {
    {"MODE1/2048", 2048, 1}, {"MODE1/2352", 2352, 1}, {"MODE2/2352", 2352, 1}, {"MODE2/2336", 2336, 1},
    {"AUDIO", 2352, 0},      {"CDG", 2448, 0},        {"MODE2/2048", 2048, 0}, {"MODE2/2324", 2324, 0},
    {"CDI/2336", 2336, 0},   {"CDI/2352", 2352, 0},
};

// The name after FILE: in double quotes, or up to the next blank.
static int take_file_name(const char *s, const char *end, const char **name, size_t *len)
{
    while (s < end && is_blank(*s))
        s++;
    if (s < end && *s == '"') {
        const char *close = (const char *)memchr(s + 1, '"', (size_t)(end - s - 1));
        if (!close)
            return 0;
        *name = s + 1;
        *len = (size_t)(close - s - 1);
    } else {
        *len = take_word(&s, end, name);
    }
    return *len > 0 && !memchr(*name, 0, *len);
}

struct CueFile {
    const char *name;
    size_t len;
    int ok; // the FILE line named something usable
};

// Where the sheet's lines have got to. Inside a file, every INDEX marks a
// frame; the frames since the previous one take that track's sector size.
struct CueScan {
    CueFile file, first, chosen;
    int files;         // FILE lines seen
    uint64_t bytes;    // bytes of the current file before frame `at`
    uint32_t at;       // frame of the last INDEX in the current file
    uint32_t at_size;  // sector size of the track at that INDEX
    int at_set;        // an INDEX has been seen in the current file
    int known;         // bytes is right: no bad, backward or unsized step
    uint32_t track_size;
    int track_data, have_data, done;
    uint64_t start;
};

static void scan_file(CueScan *c, const char *s, const char *end)
{
    c->file.ok = take_file_name(s, end, &c->file.name, &c->file.len);
    if (c->files++ == 0)
        c->first = c->file;
    c->bytes = 0;
    c->at = 0;
    c->at_set = 0;
    c->known = 1;
}

static void scan_track(CueScan *c, const char *s, const char *end)
{
    const char *w;
    take_word(&s, end, &w); // the track's number
    size_t n = take_word(&s, end, &w);
    c->track_size = 0;
    c->track_data = 0;
    for (const auto &t : track_types) {
        if (spells(w, n, t.name)) {
            c->track_size = t.size;
            c->track_data = t.data;
        }
    }
    if (c->have_data) {
        // The data track ended without an INDEX 01: its start is unknown.
        c->done = 1;
    } else if (c->track_data && c->files > 0) {
        c->have_data = 1;
        c->chosen = c->file;
    }
}

static void scan_index(CueScan *c, const char *s, const char *end)
{
    const char *w;
    uint32_t number, frame;
    size_t n = take_word(&s, end, &w);
    int number_ok = parse_number(w, n, 2, &number);
    n = take_word(&s, end, &w);
    if (c->files == 0)
        return;
    if (!number_ok || !parse_msf(w, n, &frame)) {
        c->known = 0;
    } else {
        uint32_t size = c->at_set ? c->at_size : c->track_size;
        if (frame < c->at || (frame > c->at && size == 0))
            c->known = 0;
        else
            c->bytes += (uint64_t)(frame - c->at) * size;
        c->at = frame;
        c->at_size = c->track_size;
        c->at_set = 1;
    }
    if (c->have_data && number_ok && number == 1) {
        c->chosen = c->file; // the file that holds the track's INDEX 01
        c->start = c->known ? c->bytes : 0;
        c->done = 1;
    }
}

// Splits off the next line: CR LF, LF or CR ends it. Returns its end.
static const char *next_line(const char **pos, const char *end)
{
    const char *p = *pos;
    while (p < end && *p != '\r' && *p != '\n')
        p++;
    const char *line_end = p;
    if (p < end && *p == '\r')
        p++;
    if (p < end && *p == '\n')
        p++;
    *pos = p;
    return line_end;
}

int cue_parse(const char *text, size_t len, CueImage *img)
{
    const char *p = text, *end = text + len;
    if (len >= 3 && memcmp(p, "\xEF\xBB\xBF", 3) == 0)
        p += 3;
    CueScan c;
    memset(&c, 0, sizeof c);
    while (p < end && !c.done) {
        const char *line = p;
        const char *line_end = next_line(&p, end);
        const char *s = line, *w;
        size_t n = take_word(&s, line_end, &w);
        // REM, TITLE, PERFORMER, CDTEXTFILE, FLAGS, PREGAP and the
        // like say nothing about where the volume is.
        if (spells(w, n, "FILE"))
            scan_file(&c, s, line_end);
        else if (spells(w, n, "TRACK"))
            scan_track(&c, s, line_end);
        else if (spells(w, n, "INDEX"))
            scan_index(&c, s, line_end);
    }
    const CueFile *f = c.have_data ? &c.chosen : &c.first;
    if (c.files == 0 || !f->ok)
        return 0;
    img->name = f->name;
    img->name_len = f->len;
    img->start = c.have_data ? c.start : 0;
    return 1;
}

static int is_separator(char c)
{
    return c == '\\' || c == '/';
}

// Bytes of a path that form its folder: up to its last '\' or '/', or a
// bare drive ("C:a.cue"); 0 for a name alone.
static size_t folder_length(const char *path)
{
    size_t n = strlen(path);
    while (n > 0 && !is_separator(path[n - 1]))
        n--;
    if (n == 0 && path[0] && path[1] == ':')
        n = 2;
    return n;
}

// Two leading separators make a UNC path (\\host\share: Windows would reach
// that host with the player's credentials) or a device path (\\.\, \\?\);
// a ':' anywhere but after a drive letter names a stream of another file;
// a last step that is a device name (NUL, COM1.bin) opens the device.
int cue_name_allowed(const char *name, size_t n)
{
    if (n >= 2 && is_separator(name[0]) && is_separator(name[1]))
        return 0;
    const char *colon = (const char *)memchr(name, ':', n);
    int letter = ((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z');
    if (colon && (colon != name + 1 || !letter || memchr(colon + 1, ':', n - 2)))
        return 0;
    size_t last = n;
    while (last > 0 && !is_separator(name[last - 1]))
        last--;
    return last < n && !name_reserved(name + last, n - last);
}

int cue_image_path(const char *cue_path, const char *text, size_t len, char *out, size_t out_size, uint64_t *start)
{
    CueImage img;
    if (!cue_parse(text, len, &img) || !cue_name_allowed(img.name, img.name_len))
        return 0;
    // A name with a drive letter stands alone; otherwise it lies beside the sheet.
    size_t folder_len = memchr(img.name, ':', img.name_len) ? 0 : folder_length(cue_path);
    if (out_size == 0 || folder_len >= out_size || img.name_len >= out_size - folder_len)
        return 0;
    memmove(out, cue_path, folder_len);
    memcpy(out + folder_len, img.name, img.name_len);
    out[folder_len + img.name_len] = 0;
    *start = img.start;
    return 1;
}

// The extension of a path's last component, from its last '.'; null if none.
static const char *extension(const char *path)
{
    const char *dot = strrchr(path, '.');
    if (!dot || strpbrk(dot, "\\/"))
        return NULL;
    return dot;
}

int dump_data_path(const char *path, char *out, size_t out_size)
{
    static const char *const pairs[][2] = {{".CCD", ".IMG"}, {".MDS", ".MDF"}};
    const char *ext = extension(path);
    if (!ext || strlen(ext) != 4)
        return 0;
    for (const auto &pair : pairs) {
        if (!spells(ext, 4, pair[0]))
            continue;
        size_t base = (size_t)(ext - path);
        if (out_size == 0 || base >= out_size || out_size - base < 5)
            return 0;
        memmove(out, path, base);
        // The data file's extension in the descriptor's case: a.ccd, A.CCD.
        int lower = ext[1] >= 'a' && ext[1] <= 'z';
        for (int i = 0; i < 4; i++) {
            char ch = pair[1][i];
            out[base + i] = lower && ch >= 'A' && ch <= 'Z' ? (char)(ch - 'A' + 'a') : ch;
        }
        out[base + 4] = 0;
        return 1;
    }
    return 0;
}
