// Fuzzes the reading of the install's file list, which lies where the
// player can edit it: the input is taken as a whole list. What reads must
// hold only safe paths, each once, which format into lines that read back
// as the same entries; what follows the whole lines changes nothing. The
// input is also taken as one path for the path rule.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "install/filelist.h"

static int same_entry(const ListEntry *a, const ListEntry *b)
{
    return strcmp(a->path, b->path) == 0 && strcmp(a->source, b->source) == 0 && a->size == b->size &&
           a->crc == b->crc && a->kind == b->kind;
}

// Formats every entry under the first line and reads the text back: the
// same entries in the same order.
static void check_round_trip(const FileList *l)
{
    size_t room = sizeof LIST_HEADER + 1 + (size_t)l->count * LIST_LINE_MAX;
    char *text = (char *)malloc(room);
    size_t n = (size_t)strlen(LIST_HEADER "\r\n");
    memcpy(text, LIST_HEADER "\r\n", n);
    for (int i = 0; i < l->count; i++) {
        const ListEntry *e = &l->entries[i];
        char line[LIST_LINE_MAX + 1];
        int k = list_format_entry(line, sizeof line, e);
        if (k <= 0 || !list_path_safe(e->path) || list_find(l, e->path) != e)
            abort();
        memcpy(text + n, line, (size_t)k);
        n += (size_t)k;
    }
    FileList again;
    char reason[200];
    if (!list_parse((const unsigned char *)text, n, &again, reason, sizeof reason) || again.count != l->count)
        abort();
    for (int i = 0; i < l->count; i++) {
        if (!same_entry(&again.entries[i], &l->entries[i]))
            abort();
    }
    list_free(&again);
    free(text);
}

// A list read in spite of damage holds what a list read whole holds, and
// only safe paths; laid over itself, it changes nothing.
static void check_salvage(const unsigned char *data, size_t size, const FileList *strict, int strict_ok)
{
    FileList l, over;
    char reason[200];
    int ok = list_parse_salvage(data, size, &l);
    if (strict_ok && (!ok || l.count != strict->count || l.complete != strict->complete || l.skipped != 0))
        abort();
    for (int i = 0; ok && i < l.count; i++) {
        if (!list_path_safe(l.entries[i].path) || list_find(&l, l.entries[i].path) != &l.entries[i])
            abort();
        if (strict_ok && !same_entry(&l.entries[i], &strict->entries[i]))
            abort();
    }
    if (ok && list_parse_salvage(data, size, &over)) {
        int count = l.count, complete = l.complete;
        if (!list_overlay(&l, &over) || l.count != count || l.complete != complete)
            abort();
        list_free(&over);
    }
    (void)reason;
    list_free(&l);
}

static void check_list(const uint8_t *data, size_t size)
{
    // A copy of its own, so reads past the end are caught.
    unsigned char *copy = (unsigned char *)malloc(size ? size : 1);
    memcpy(copy, data, size);
    FileList l;
    char reason[200];
    int ok = list_parse(copy, size, &l, reason, sizeof reason);
    if (!ok && (l.count != 0 || l.entries != NULL || !reason[0]))
        abort();
    if (ok) {
        if (l.whole > size || (l.whole > 0 && copy[l.whole - 1] != '\n'))
            abort();
        check_round_trip(&l);
        // The bytes after the whole lines are a cut line, ignored.
        FileList whole;
        if (!list_parse(copy, l.whole, &whole, reason, sizeof reason) || whole.count != l.count ||
            whole.complete != l.complete)
            abort();
        list_free(&whole);
    }
    check_salvage(copy, size, &l, ok);
    list_free(&l);
    free(copy);
}

static void check_path(const uint8_t *data, size_t size)
{
    char path[LIST_PATH_MAX + 8];
    size_t n = size < sizeof path - 1 ? size : sizeof path - 1;
    memcpy(path, data, n);
    path[n] = 0;
    if (!list_path_safe(path))
        return;
    size_t len = strlen(path);
    if (len == 0 || len >= LIST_PATH_MAX || path[0] == '\\' || path[len - 1] == '\\' || strchr(path, ':') ||
        strchr(path, '/') || strstr(path, "\\\\") || strstr(path, ".\\") || path[len - 1] == '.')
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check_list(data, size);
    check_path(data, size);
    return 0;
}
