// The install's record of what it wrote: {dir}\tarnok_files.txt, a line for
// every file as soon as it is whole, so that a run stopped at any moment
// leaves a list that says truly which files are. An install into a folder
// that holds such a list checks the files it names first (a fast local
// read) and copies only what is missing or not as listed: the repair and
// the resume are the same install. At the end the list is written again in
// path order with its completion line, so that an install resumed or
// repaired leaves the very bytes a fresh one does.
//
// A record that a finished install left is kept as it is until the run's
// own record is whole: a repair writes its lines to a list beside it, and
// puts the two in its place as one only at the very end, after the
// uninstall entry and the shortcuts. A repair that fails or is stopped
// leaves the old record, and the lines of what it wrote beside it, for the
// next run and the uninstall; a line of a file that a disc's verdict found
// damaged is dropped from them, and a line that no finished run vouched
// for is trusted only where the table of editions agrees with it.
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

// The disc an entry's bytes came from: 1 or 2 for a source "cd1:..." or
// "cd2:...", with the path on the disc in *path; else 0.
static int entry_disc(const ListEntry *e, const char **path)
{
    const char *s = e->source;
    if ((s[0] != 'c' && s[0] != 'C') || (s[1] != 'd' && s[1] != 'D') || (s[2] != '1' && s[2] != '2') || s[3] != ':')
        return 0;
    *path = s + 4;
    return s[2] - '0';
}

// 1 when a whole file of the entry may be taken as it is. A line that a
// finished run wrote is; one of a run that did not finish only when the
// table of editions does not say otherwise of a file from a disc: a copy
// that a failed run read badly is never trusted for ever.
static int entry_trusted(const Install *in, const ListEntry *e)
{
    const char *path;
    int disc = entry_disc(e, &path);
    return list_vouched(&in->before, e) || !disc || edition_knows(&in->editions, disc, path, e->size, e->crc) != 0;
}

// The earlier record: the list, and over it the lines of a repair that did
// not finish. A list that was whole once, or that cannot be read (damaged,
// a link in its place), is kept where it is until this run's record is
// whole; one that never was (an install stopped before its end) is
// written on.
static void read_earlier_record(Install *in)
{
    char reason[1200], ignored[1200];
    FileList repair;
    int have = list_read(in->dir, &in->before, reason, sizeof reason);
    if (!have && reason[0])
        setup_log("%s", reason);
    in->repair = have ? in->before.complete_line > 0 : reason[0] != 0;
    if (!have)
        list_free(&in->before);
    if (!in->repair || !list_read_journal(in->dir, &repair, ignored, sizeof ignored)) {
        list_free(&repair);
        return;
    }
    if (!list_overlay(&in->before, &repair))
        list_free(&in->before);
    list_free(&repair);
}

// Takes the checks of the earlier record's files: 1, or 0 when a file is
// reached through a link, which this install would write through.
static int take_checks(Install *in, const ListCheck *checks)
{
    char reason[600], shown[1024];
    int linked = 0;
    // Told in the list's order, as /verify tells them; the install then
    // writes each such file again.
    for (int i = 0; i < in->before.count && !stop_requested(); i++) {
        const ListEntry *e = &in->before.entries[i];
        if (checks[i].state == LIST_NOT_COMPARED)
            continue;
        in->before_whole[i] = checks[i].state == LIST_WHOLE;
        linked += checks[i].state == LIST_LINKED;
        log_file_state(checks[i].state, e, checks[i].error);
        if (in->before_whole[i] && !entry_trusted(in, e)) {
            in->before_whole[i] = 0;
            setup_log("%s: not as any known edition has it, and not vouched for: it is copied again",
                      name_escape(e->path, shown, sizeof shown));
        }
    }
    return linked == 0 || fail(linked_reason(linked, reason, sizeof reason));
}

int check_earlier_files(Install *in)
{
    ListFolder folder;
    read_earlier_record(in);
    int n = in->before.count;
    if (n == 0)
        return 1;
    in->before_whole = (unsigned char *)calloc((size_t)n + 1, 1);
    ListCheck *checks = (ListCheck *)calloc((size_t)n + 1, sizeof(ListCheck));
    if (!in->before_whole || !checks) {
        free(checks);
        return fail("out of memory");
    }
    int ok = 1;
    if (list_folder_open(&folder, in->dir) && list_check_all(&folder, &in->before, checks))
        ok = take_checks(in, checks);
    free(checks);
    return ok;
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

int disc_needed(const Install *in, int disc)
{
    const char *path;
    // Only a record that was whole once lists every file of the disc.
    if (!in->before_whole || in->before.complete_line == 0)
        return 1;
    for (int i = 0; i < in->before.count; i++) {
        const ListEntry *e = &in->before.entries[i];
        if (entry_disc(e, &path) == disc && e->kind == LIST_FIXED && !in->before_whole[i])
            return 1;
    }
    return 0;
}

uint64_t listed_bytes(const Install *in, int disc)
{
    const char *path;
    uint64_t sum = 0;
    for (int i = 0; i < in->before.count; i++) {
        if (entry_disc(&in->before.entries[i], &path) == disc)
            sum += in->before.entries[i].size;
    }
    return sum;
}

uint64_t disc_bytes_to_copy(const Install *in, int disc, uint64_t total)
{
    const char *path;
    uint64_t whole = 0;
    for (int i = 0; in->before_whole && i < in->before.count; i++) {
        if (in->before_whole[i] && entry_disc(&in->before.entries[i], &path) == disc)
            whole += in->before.entries[i].size;
    }
    return total > whole ? total - whole : 0;
}

uint64_t other_bytes_to_write(const Install *in)
{
    const char *path;
    if (!in->before_whole)
        return in->fixed;
    // The list itself, and what the record does not name yet.
    uint64_t sum = 1 << 20;
    for (int i = 0; i < in->before.count; i++) {
        const ListEntry *e = &in->before.entries[i];
        if (entry_disc(e, &path))
            continue;
        // The game executable and the uninstaller are written at every run.
        if (!in->before_whole[i] || !strcmp(e->source, "setup"))
            sum += e->size;
    }
    // A conversion may run again, with its work folder.
    return in->convert ? sum + in->fixed : sum;
}

// A write of the list that failed fails the install: without it, a later
// run could not tell what this one wrote.
static int list_failed(Install *in, unsigned long error)
{
    char shown[1024], path[520];
    if (in->list_failed)
        return 0;
    in->list_failed = 1;
    if (in->repair)
        list_journal_path(path, sizeof path, in->dir);
    else
        list_file_path(path, sizeof path, in->dir);
    return fail_file("cannot write the file list", name_escape(path, shown, sizeof shown), error);
}

int open_record(Install *in)
{
    if (in->list.handle != INVALID_HANDLE_VALUE ||
        (in->repair ? list_open_journal(&in->list, in->dir) : list_open(&in->list, in->dir)))
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

void forget_file(Install *in, const char *full)
{
    const char *rel = below_dir(in, full);
    char **grown = rel ? (char **)realloc(in->forget, sizeof(char *) * ((size_t)in->forget_count + 1)) : NULL;
    if (!grown)
        return;
    in->forget = grown;
    if ((in->forget[in->forget_count] = _strdup(rel)) != NULL)
        in->forget_count++;
}

static int by_path(const void *a, const void *b)
{
    return _stricmp(((const ListEntry *)a)->path, ((const ListEntry *)b)->path);
}

// The whole record of this run: the list it wrote on, or, for a repair, the
// list it kept with the repair's lines over it. 1, or 0 with why logged.
static int read_whole_record(Install *in, FileList *all)
{
    char reason[1200];
    FileList repair;
    if (!in->repair) {
        if (list_read(in->dir, all, reason, sizeof reason))
            return 1;
    } else if (list_read_journal(in->dir, &repair, reason, sizeof reason)) {
        // A kept list that cannot be read is replaced by what this run
        // wrote and checked: every file it installed has a line there.
        char ignored[1200];
        if (!list_read(in->dir, all, ignored, sizeof ignored))
            list_free(all);
        int ok = list_overlay(all, &repair);
        list_free(&repair);
        if (ok)
            return 1;
        fmt(reason, sizeof reason, "out of memory");
    }
    list_free(all);
    if (reason[0])
        setup_log("%s", reason);
    return fail("the file list cannot be read back");
}

// The list again, each path once and in path order, with its completion
// line, written beside the old one: put_record_in_place puts it there once
// the install is whole, uninstall entry and shortcuts included.
int finish_record(Install *in)
{
    char path[520], line[LIST_LINE_MAX + 1];
    FileList all;
    if (!record_ok(in))
        return 0;
    list_close(&in->list);
    if (!read_whole_record(in, &all))
        return 0;
    qsort(all.entries, (size_t)all.count, sizeof(ListEntry), by_path);
    list_file_path(path, sizeof path, in->dir);
    DestFile *d = &in->final_list;
    int ok = dest_open(d, path) && dest_write(d, LIST_HEADER "\r\n", sizeof LIST_HEADER + 1);
    in->final_open = ok;
    for (int i = 0; ok && i < all.count; i++) {
        int n = list_format_entry(line, sizeof line, &all.entries[i]);
        ok = n > 0 && dest_write(d, line, (uint64_t)n);
    }
    ok = ok && dest_write(d, LIST_COMPLETE "\r\n", sizeof LIST_COMPLETE + 1) && FlushFileBuffers((HANDLE)d->handle);
    unsigned long error = GetLastError();
    list_free(&all);
    if (!ok)
        return list_failed(in, error);
    dest_close(d);
    return 1;
}

int put_record_in_place(Install *in)
{
    char journal[520];
    setup_trace("step: file list");
    in->final_open = 0;
    if (!dest_commit(&in->final_list))
        return list_failed(in, GetLastError());
    // The repair's lines are in the list now; a kill before they go leaves
    // a list beside it that changes nothing.
    if (in->repair && list_journal_path(journal, sizeof journal, in->dir))
        delete_file_itself(journal);
    return 1;
}

// 1 when the path is one that a verdict found damaged.
static int forgotten(const Install *in, const char *path)
{
    for (int i = 0; i < in->forget_count; i++)
        if (_stricmp(in->forget[i], path) == 0)
            return 1;
    return 0;
}

// After a failed run: the lines of files that a disc's verdict found
// damaged go from the list this run wrote on, so that no later run takes
// such a copy for whole; a repair's list that says nothing any more goes.
static void drop_forgotten(Install *in)
{
    char path[520], reason[1200], line[LIST_LINE_MAX + 1];
    FileList l;
    int read = in->repair ? list_read_journal(in->dir, &l, reason, sizeof reason)
                          : list_read(in->dir, &l, reason, sizeof reason);
    int fits = in->repair ? list_journal_path(path, sizeof path, in->dir) : list_file_path(path, sizeof path, in->dir);
    if (read && fits && in->repair && l.count == 0) {
        delete_file_itself(path);
    } else if (read && fits && in->forget_count > 0) {
        DestFile d;
        int ok = dest_open(&d, path) && dest_write(&d, LIST_HEADER "\r\n", sizeof LIST_HEADER + 1);
        for (int i = 0; ok && i < l.count; i++) {
            int n = forgotten(in, l.entries[i].path) ? 0 : list_format_entry(line, sizeof line, &l.entries[i]);
            ok = n == 0 || dest_write(&d, line, (uint64_t)n);
        }
        dest_finish(&d, ok);
    }
    list_free(&l);
}

void keep_record_after_failure(Install *in)
{
    list_close(&in->list);
    if (in->final_open) {
        dest_abandon(&in->final_list);
        in->final_open = 0;
    }
    drop_forgotten(in);
}

void close_record(Install *in)
{
    list_close(&in->list);
    list_free(&in->before);
    free(in->before_whole);
    in->before_whole = NULL;
    for (int i = 0; i < in->forget_count; i++)
        free(in->forget[i]);
    free(in->forget);
    in->forget = NULL;
    in->forget_count = 0;
}
