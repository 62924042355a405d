// The install's file list as text: the path rule, one entry as its line,
// and a whole list read from memory. No system calls: the list lies where
// the player can edit it, so this is fuzzed natively like the other readers
// of outside bytes.
#include "install/filelist.h"

#include <stdlib.h>
#include <string.h>

#include "util/util.h"

static const char *const kind_words[2] = {"fixed", "changing"};
static const char header_line[] = LIST_HEADER "\r\n";
static const char version_prefix[] = "tarnok-file-list ";

enum {
    FIELDS = 5,
    FIRST_ROOM = 64, // entries before the first growth
};

static unsigned char ascii_upper(unsigned char c)
{
    return c >= 'a' && c <= 'z' ? (unsigned char)(c - 'a' + 'A') : c;
}

// A byte that a path step of ours never holds: a control character, the
// other separator, a drive or stream colon, or one Windows forbids in names.
static int path_byte_bad(unsigned char c)
{
    return is_control(c) || (c != 0 && strchr("/:*?\"<>|", c) != NULL);
}

int list_path_safe(const char *path)
{
    size_t n = 0;
    while (n < LIST_PATH_MAX && path[n])
        n++;
    if (n == 0 || n >= LIST_PATH_MAX)
        return 0;
    // An empty step is a leading, doubled or trailing separator; "." and
    // ".." end in a dot, which name_reserved refuses with the devices.
    size_t step = 0;
    for (size_t i = 0; i <= n; i++) {
        unsigned char c = (unsigned char)path[i];
        if (c == '\\' || c == 0) {
            if (i == step || name_reserved(path + step, i - step))
                return 0;
            step = i + 1;
        } else if (path_byte_bad(c)) {
            return 0;
        }
    }
    return 1;
}

// 1 for a source of 1 to LIST_SOURCE_MAX - 1 bytes without a control character.
static int source_ok(const char *source)
{
    size_t n = 0;
    while (n < LIST_SOURCE_MAX && source[n]) {
        if (is_control((unsigned char)source[n]))
            return 0;
        n++;
    }
    return n > 0 && n < LIST_SOURCE_MAX;
}

int list_format_entry(char *out, size_t size, const ListEntry *e)
{
    if (size > 0)
        out[0] = 0;
    // The fields are bounded, so every line the checks pass fits this size.
    if (size < LIST_LINE_MAX + 1 || !list_path_safe(e->path) || !source_ok(e->source) ||
        (e->kind != LIST_FIXED && e->kind != LIST_CHANGING))
        return 0;
    return fmt(out, size, "%s\t%llu\t%08X\t%s\t%s\r\n", e->path, (unsigned long long)e->size, (unsigned)e->crc,
               e->source, kind_words[e->kind]);
}

// A decimal size: 1 to 20 digits, no leading zero, not past 2^64 - 1.
static int read_size(TextField f, uint64_t *out)
{
    uint64_t v = 0;
    if (f.len == 0 || f.len > LIST_SIZE_DIGITS || (f.len > 1 && f.s[0] == '0'))
        return 0;
    for (size_t i = 0; i < f.len; i++) {
        unsigned d = (unsigned char)f.s[i] - '0';
        if (d > 9 || v > (UINT64_MAX - d) / 10)
            return 0;
        v = v * 10 + d;
    }
    *out = v;
    return 1;
}

// Copies a field into out[size] as a string; 0 when it does not fit.
static int copy_field(TextField f, char *out, size_t size)
{
    if (f.len >= size)
        return 0;
    memcpy(out, f.s, f.len);
    out[f.len] = 0;
    return 1;
}

static int read_kind(TextField f, int *out)
{
    for (int k = 0; k < 2; k++) {
        if (f.len == strlen(kind_words[k]) && memcmp(f.s, kind_words[k], f.len) == 0) {
            *out = k;
            return 1;
        }
    }
    return 0;
}

// Reads one entry line (without its CR LF) into e: null, or what is wrong.
static const char *read_entry(const char *s, size_t len, ListEntry *e)
{
    TextField f[FIELDS];
    if (!split_tabs(s, len, f, FIELDS))
        return "not five fields split by tabs";
    // A NUL inside the path would cut it short of what the check saw.
    if (!copy_field(f[0], e->path, sizeof e->path) || memchr(f[0].s, 0, f[0].len) || !list_path_safe(e->path))
        return "the path is not a safe path below the install folder";
    if (!read_size(f[1], &e->size))
        return "the size is not a number";
    if (!field_crc(f[2], &e->crc))
        return "the CRC-32 is not 8 hex digits";
    if (!copy_field(f[3], e->source, sizeof e->source) || memchr(f[3].s, 0, f[3].len) || !source_ok(e->source))
        return "the source is empty, too long or holds a control character";
    if (!read_kind(f[4], &e->kind))
        return "the kind is neither fixed nor changing";
    return NULL;
}

// FNV-1a over the path's bytes in ASCII upper case.
static uint32_t path_hash(const char *path)
{
    uint32_t h = 2166136261u;
    for (const unsigned char *p = (const unsigned char *)path; *p; p++)
        h = (h ^ ascii_upper(*p)) * 16777619u;
    return h;
}

static int same_path(const char *a, const char *b)
{
    for (; *a && ascii_upper((unsigned char)*a) == ascii_upper((unsigned char)*b); a++, b++) {
    }
    return ascii_upper((unsigned char)*a) == ascii_upper((unsigned char)*b);
}

// The slot that holds path, or the free one where it would go. The table
// has twice as many slots as the entries it may hold, so one is free.
static uint32_t find_slot(const FileList *l, const char *path)
{
    uint32_t i = path_hash(path) & l->slot_mask;
    while (l->slots[i] && !same_path(l->entries[l->slots[i] - 1].path, path))
        i = (i + 1) & l->slot_mask;
    return i;
}

const ListEntry *list_find(const FileList *list, const char *path)
{
    if (!list->slots)
        return NULL;
    uint32_t i = find_slot(list, path);
    return list->slots[i] ? &list->entries[list->slots[i] - 1] : NULL;
}

// Makes room for room entries and a hash table twice that size, the paths
// there so far hashed again. 0 when memory ran out (the list stays usable).
static int grow(FileList *l, int room)
{
    ListEntry *entries = (ListEntry *)realloc(l->entries, sizeof(ListEntry) * (size_t)room);
    if (!entries)
        return 0;
    l->entries = entries;
    uint32_t slots = 1;
    while (slots < (uint32_t)room * 2)
        slots *= 2;
    int *table = (int *)calloc(slots, sizeof(int));
    if (!table)
        return 0;
    free(l->slots);
    l->slots = table;
    l->slot_mask = slots - 1;
    for (int k = 0; k < l->count; k++)
        l->slots[find_slot(l, l->entries[k].path)] = k + 1;
    return 1;
}

// Stores e, replacing the entry of the same path. Null, or what went wrong.
static const char *store_entry(FileList *l, const ListEntry *e)
{
    uint32_t i = find_slot(l, e->path);
    if (l->slots[i]) {
        l->entries[l->slots[i] - 1] = *e;
        return NULL;
    }
    if (l->count == LIST_ENTRIES_MAX)
        return "more than 100000 files";
    if (l->count == l->room) {
        int more = l->room * 2 < LIST_ENTRIES_MAX ? l->room * 2 : LIST_ENTRIES_MAX;
        if (!grow(l, more))
            return "out of memory";
        l->room = more;
        i = find_slot(l, e->path);
    }
    l->entries[l->count] = *e;
    l->slots[i] = ++l->count;
    return NULL;
}

void list_free(FileList *list)
{
    free(list->entries);
    free(list->slots);
    memset(list, 0, sizeof *list);
}

// Empties the list and says why it is damaged; returns 0.
static int damaged(FileList *out, char *reason, size_t reason_size, unsigned long long line, const char *what)
{
    list_free(out);
    if (line)
        fmt(reason, reason_size, "line %llu: %s", line, what);
    else
        fmt(reason, reason_size, "%s", what);
    return 0;
}

// The first line. 1 when it is ours (*done set when the bytes end before
// it does: a list whose first line is still being written), else 0 with
// what it is instead.
static int read_header(const unsigned char *data, size_t size, int *done, const char **what)
{
    size_t n = sizeof header_line - 1;
    *done = size < n;
    if (memcmp(data, header_line, *done ? size : n) == 0)
        return 1;
    // Ours but of another version: the name, a number and CR LF.
    size_t k = sizeof version_prefix - 1, i = k;
    int named = size >= k && memcmp(data, version_prefix, k) == 0;
    while (named && i < size && data[i] >= '0' && data[i] <= '9')
        i++;
    named = named && i > k && size - i >= 2 && data[i] == '\r' && data[i + 1] == '\n';
    *what = named ? "a file list of another version" : "not a Tarnok file list";
    return 0;
}

// The lines after the first, from pos on. A salvaging read passes over a
// line that does not read (its LF ends it) where a strict one stops.
static int parse_lines(const unsigned char *data, size_t size, size_t pos, FileList *out, int salvage, char *reason,
                       size_t reason_size)
{
    out->whole = pos;
    unsigned long long line = 1;
    ListEntry e;
    while (pos < size) {
        line++;
        size_t left = size - pos, longest = LIST_LINE_MAX;
        size_t look = left < longest ? left : longest;
        const unsigned char *lf = (const unsigned char *)memchr(data + pos, '\n', look);
        // A last line without its line end is one a kill cut short.
        if (!lf && left < longest)
            break;
        const char *what = NULL;
        size_t len = lf ? (size_t)(lf - (data + pos)) : 0;
        if (!lf)
            what = "the line is too long";
        else if (len == 0 || data[pos + len - 1] != '\r')
            what = "the line does not end in CR LF";
        if (what && !salvage)
            return damaged(out, reason, reason_size, line, what);
        if (what) {
            out->skipped++;
            const unsigned char *next = (const unsigned char *)memchr(data + pos, '\n', left);
            pos = next ? (size_t)(next - data) + 1 : size;
            continue;
        }
        const char *s = (const char *)data + pos;
        len--;
        if (len == sizeof LIST_COMPLETE - 1 && memcmp(s, LIST_COMPLETE, len) == 0) {
            out->complete = 1;
            out->complete_line = (int)line;
        } else {
            memset(&e, 0, sizeof e);
            e.line = (int)line;
            if ((what = read_entry(s, len, &e)) == NULL)
                what = store_entry(out, &e);
            else if (salvage)
                out->skipped++;
            if (what && (!salvage || out->count == LIST_ENTRIES_MAX || strcmp(what, "out of memory") == 0))
                return damaged(out, reason, reason_size, line, what);
            if (!what)
                out->complete = 0;
        }
        pos += len + 2;
        out->whole = pos;
    }
    return 1;
}

static int parse(const unsigned char *data, size_t size, FileList *out, int salvage, char *reason,
                 size_t reason_size)
{
    memset(out, 0, sizeof *out);
    if (reason_size > 0)
        reason[0] = 0;
    int done = 0;
    const char *what = NULL;
    if (!read_header(data, size, &done, &what))
        return damaged(out, reason, reason_size, 0, what);
    out->room = FIRST_ROOM;
    if (!grow(out, out->room))
        return damaged(out, reason, reason_size, 0, "out of memory");
    if (done)
        return 1;
    return parse_lines(data, size, sizeof header_line - 1, out, salvage, reason, reason_size);
}

int list_parse(const unsigned char *data, size_t size, FileList *out, char *reason, size_t reason_size)
{
    return parse(data, size, out, 0, reason, reason_size);
}

int list_parse_salvage(const unsigned char *data, size_t size, FileList *out)
{
    char reason[200];
    return parse(data, size, out, 1, reason, sizeof reason);
}

int list_vouched(const FileList *list, const ListEntry *e)
{
    return e->line > 0 && e->line < list->complete_line;
}

static int same_entry(const ListEntry *a, const ListEntry *b)
{
    return a->size == b->size && a->crc == b->crc && a->kind == b->kind && strcmp(a->source, b->source) == 0;
}

int list_overlay(FileList *list, const FileList *over)
{
    if (!list->slots && !grow(list, list->room = FIRST_ROOM))
        return 0;
    for (int i = 0; i < over->count; i++) {
        ListEntry e = over->entries[i];
        const ListEntry *had = list_find(list, e.path);
        if (had && same_entry(had, &e))
            continue;
        // After every line of the list: what a run that did not finish said.
        e.line = list->complete_line + 1 + i;
        if (store_entry(list, &e) != NULL)
            return 0;
        list->complete = 0;
    }
    return 1;
}
