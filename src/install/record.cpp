// The install's record of what it wrote: {dir}\tarnok_files.txt, a line for
// every file as soon as it is whole, so that a run stopped at any moment
// leaves a list that says truly which files are. An install into a folder
// that holds such a list checks the files it names first (a fast local
// read) and copies only what is missing or not as listed: the repair and
// the resume are the same install. At the end the list is written again in
// path order with its completion line, so that an install resumed or
// repaired leaves the very bytes a fresh one does.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "install/running.h"

// The path of full below the install folder, or null.
static const char *below_dir(const Install *in, const char *full)
{
    size_t n = strlen(in->dir);
    if (_strnicmp(full, in->dir, n) != 0 || full[n] != '\\')
        return NULL;
    return full + n + 1;
}

int check_earlier_files(Install *in)
{
    char reason[1200];
    ListFolder folder;
    if (!list_read(in->dir, &in->before, reason, sizeof reason)) {
        // A damaged list, or a link at its place, is no list to go by.
        if (reason[0])
            setup_log("%s", reason);
        list_free(&in->before);
        return 1;
    }
    int n = in->before.count;
    in->before_whole = (unsigned char *)calloc((size_t)n + 1, 1);
    ListCheck *checks = (ListCheck *)calloc((size_t)n + 1, sizeof(ListCheck));
    if (!in->before_whole || !checks) {
        free(checks);
        return fail("out of memory");
    }
    if (list_folder_open(&folder, in->dir) && list_check_all(&folder, &in->before, checks)) {
        // Told in the list's order, as /verify tells them; the install
        // then writes each such file again.
        for (int i = 0; i < n && !stop_requested(); i++) {
            if (checks[i].state == LIST_NOT_COMPARED)
                continue;
            in->before_whole[i] = checks[i].state == LIST_WHOLE;
            log_file_state(checks[i].state, &in->before.entries[i], checks[i].error);
        }
    }
    free(checks);
    return 1;
}

int earlier_whole(const Install *in, const char *full, uint64_t size, uint32_t *crc)
{
    const char *rel = below_dir(in, full);
    const ListEntry *e = rel && in->before_whole ? list_find(&in->before, rel) : NULL;
    if (!e || e->kind != LIST_FIXED || !in->before_whole[e - in->before.entries] || e->size != size)
        return 0;
    *crc = e->crc;
    return 1;
}

// 1 when the entry's bytes came from that disc: its source is "cd1:..."
// or "cd2:...".
static int from_disc(const ListEntry *e, int disc)
{
    return (e->source[0] == 'c' || e->source[0] == 'C') && (e->source[1] == 'd' || e->source[1] == 'D') &&
           e->source[2] == '0' + disc && e->source[3] == ':';
}

int disc_needed(const Install *in, int disc)
{
    if (!in->before_whole || !in->before.complete)
        return 1;
    for (int i = 0; i < in->before.count; i++) {
        const ListEntry *e = &in->before.entries[i];
        if (from_disc(e, disc) && e->kind == LIST_FIXED && !in->before_whole[i])
            return 1;
    }
    return 0;
}

uint64_t listed_bytes(const Install *in, int disc)
{
    uint64_t sum = 0;
    for (int i = 0; i < in->before.count; i++) {
        if (from_disc(&in->before.entries[i], disc))
            sum += in->before.entries[i].size;
    }
    return sum;
}

uint64_t listed_whole_bytes(const Install *in, int disc)
{
    uint64_t sum = 0;
    for (int i = 0; in->before_whole && i < in->before.count; i++) {
        const ListEntry *e = &in->before.entries[i];
        if (from_disc(e, disc) && e->kind == LIST_FIXED && in->before_whole[i])
            sum += e->size;
    }
    return sum;
}

// A write of the list that failed fails the install: without it, a later
// run could not tell what this one wrote.
static int list_failed(Install *in, unsigned long error)
{
    char shown[1024], path[520];
    if (in->list_failed)
        return 0;
    in->list_failed = 1;
    list_file_path(path, sizeof path, in->dir);
    return fail_file("cannot write the file list", name_escape(path, shown, sizeof shown), error);
}

int open_record(Install *in)
{
    if (in->list.handle != INVALID_HANDLE_VALUE || list_open(&in->list, in->dir))
        return 1;
    return list_failed(in, GetLastError());
}

void note_file(Install *in, const char *full, uint64_t size, uint32_t crc, const char *source, int kind)
{
    ListEntry e;
    const char *rel = below_dir(in, full);
    if (in->list_failed || !rel || in->list.handle == INVALID_HANDLE_VALUE)
        return;
    // A file whose line says this already needs no second one.
    const ListEntry *had = in->before_whole ? list_find(&in->before, rel) : NULL;
    if (had && had->size == size && had->crc == crc && had->kind == kind && !strcmp(had->source, source) &&
        in->before_whole[had - in->before.entries])
        return;
    memset(&e, 0, sizeof e);
    if (!fmt_path(e.path, sizeof e.path, "%s", rel) || !fmt_path(e.source, sizeof e.source, "%s", source)) {
        list_failed(in, ERROR_FILENAME_EXCED_RANGE);
        return;
    }
    e.size = size;
    e.crc = crc;
    e.kind = kind;
    if (!list_add(&in->list, &e))
        list_failed(in, GetLastError());
}

int record_ok(const Install *in)
{
    return !in->list_failed;
}

static int by_path(const void *a, const void *b)
{
    return _stricmp(((const ListEntry *)a)->path, ((const ListEntry *)b)->path);
}

// The list again, each path once and in path order, with its completion
// line: beside the old one, and put in its place once it is whole.
int finish_record(Install *in)
{
    char path[520], reason[1200], line[LIST_LINE_MAX + 1];
    FileList all;
    if (!record_ok(in))
        return 0;
    list_close(&in->list);
    list_file_path(path, sizeof path, in->dir);
    if (!list_read(in->dir, &all, reason, sizeof reason)) {
        list_free(&all);
        if (reason[0])
            setup_log("%s", reason);
        return fail("the file list cannot be read back");
    }
    qsort(all.entries, (size_t)all.count, sizeof(ListEntry), by_path);
    DestFile d;
    int ok = dest_open(&d, path) && dest_write(&d, LIST_HEADER "\r\n", sizeof LIST_HEADER + 1);
    for (int i = 0; ok && i < all.count; i++) {
        int n = list_format_entry(line, sizeof line, &all.entries[i]);
        ok = n > 0 && dest_write(&d, line, (uint64_t)n);
    }
    ok = ok && dest_write(&d, LIST_COMPLETE "\r\n", sizeof LIST_COMPLETE + 1) && FlushFileBuffers((HANDLE)d.handle);
    unsigned long error = GetLastError();
    list_free(&all);
    if (!ok) {
        dest_abandon(&d);
        return list_failed(in, error);
    }
    return dest_commit(&d) ? 1 : list_failed(in, GetLastError());
}

void close_record(Install *in)
{
    list_close(&in->list);
    list_free(&in->before);
    free(in->before_whole);
    in->before_whole = NULL;
}
