// The verdict on a disc once copied. Its marker file says which disc it is;
// the table of known editions says whether it is whole: every file of the
// edition there, with its size and CRC-32 as the copy computed them. A disc
// of no edition we know is never refused, so that a pressing nobody has
// listed still installs.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "install/running.h"

// The path of dst below root, or null when dst lies elsewhere.
static const char *below(const char *root, const char *dst)
{
    size_t n = strlen(root);
    if (_strnicmp(dst, root, n) != 0 || dst[n] != '\\')
        return NULL;
    return dst + n + 1;
}

static int find_seen(const DiscFiles *d, const char *path)
{
    for (int i = 0; i < d->count; i++) {
        if (_stricmp(d->files[i].path, path) == 0)
            return i;
    }
    return -1;
}

// A file read again while the install retries replaces its entry; during
// the copy itself every file comes once.
static int retrying;

static void on_copied(void *ctx, const char *dst, uint64_t size, uint32_t crc)
{
    Install *in = (Install *)ctx;
    DiscFiles *d = &in->copied;
    const char *rel = below(in->copy_root, dst);
    if (!rel)
        return;
    char source[600];
    fmt(source, sizeof source, "cd%c:%s", in->copy_root[strlen(in->copy_root) - 1], rel);
    note_file(in, dst, size, crc, source, LIST_FIXED);
    int i = retrying ? find_seen(d, rel) : -1;
    if (i < 0) {
        char *copy = _strdup(rel);
        if (!copy)
            return;
        if (d->count == d->room) {
            int room = d->room ? d->room * 2 : 1024;
            EditionSeen *grown = (EditionSeen *)realloc(d->files, sizeof(EditionSeen) * (size_t)room);
            if (!grown) {
                free(copy);
                return;
            }
            d->files = grown;
            d->room = room;
        }
        i = d->count++;
        d->files[i].path = copy;
    }
    d->files[i].size = size;
    d->files[i].crc = crc;
}

static int on_wanted(void *ctx, const char *dst, uint64_t size, uint32_t *crc)
{
    return !earlier_whole((const Install *)ctx, dst, size, crc);
}

const CopyWatch disc_watch = {NULL, on_copied, on_wanted, NULL};

void disc_files_free(DiscFiles *d)
{
    for (int i = 0; i < d->count; i++)
        free((void *)d->files[i].path);
    free(d->files);
    memset(d, 0, sizeof *d);
}

void disc_files_begin(Install *in, int disc)
{
    disc_files_free(&in->copied);
    fmt(in->copy_root, sizeof in->copy_root, "%s\\cd%d", in->game, disc);
}

static const char *edition_name(const Install *in, int edition)
{
    return in->editions.names[edition].name;
}

// One line for each problem the verdict names, with what the edition has
// and what the copy found, then how many more there are: the CRC-32s tell
// a drive that misread a file from a disc that differs.
static void log_problems(const EditionVerdict *v)
{
    char shown[1024], a[32], b[32];
    for (int i = 0; i < v->problem_count && i < EDITION_SHOWN; i++) {
        const EditionProblem *p = &v->problems[i];
        name_escape(p->path, shown, sizeof shown);
        if (p->kind == EDITION_MISSING)
            setup_log("%s: missing (expected %s bytes, CRC-32 %08X)", shown, fmt_count(p->want_size, b, sizeof b),
                      (unsigned)p->want_crc);
        else if (p->kind == EDITION_OTHER_SIZE)
            setup_log("%s: size %s instead of %s (CRC-32 %08X, expected %08X)", shown, fmt_count(p->size, a, sizeof a),
                      fmt_count(p->want_size, b, sizeof b), (unsigned)p->crc, (unsigned)p->want_crc);
        else
            setup_log("%s: other contents (CRC-32 %08X, expected %08X)", shown, (unsigned)p->crc,
                      (unsigned)p->want_crc);
    }
    if (v->problem_count > EDITION_SHOWN)
        setup_log("and %s more", fmt_count((uint64_t)(v->problem_count - EDITION_SHOWN), a, sizeof a));
}

// 1 when the edition's file is on the disc as the table says.
static int file_as_known(const DiscFiles *d, const EditionFile *f)
{
    int i = find_seen(d, f->path);
    return i >= 0 && d->files[i].size == f->size && d->files[i].crc == f->crc;
}

// Reads again, from the drive, every file of the edition that the copy did
// not bring as the table says. 0 when the player stopped or gave up.
static int read_again(Install *in, CdSource *src, int disc, int edition, const DriveReading *reading)
{
    const EditionName *e = &in->editions.names[edition];
    const EditionFile *files = in->editions.files + e->first[disc - 1];
    int ok = 1;
    retrying = 1;
    in->progress.drive = reading;
    for (int i = 0; ok && i < e->count[disc - 1]; i++) {
        char from[520], to[520];
        if (file_as_known(&in->copied, &files[i]))
            continue;
        if (!join_path(from, sizeof from, src->path, files[i].path) ||
            !join_path(to, sizeof to, in->copy_root, files[i].path))
            continue;
        // A file that still cannot be read stays as it is: the verdict names it again.
        copy_file(from, to, &in->progress);
        ok = !stop_requested();
    }
    in->progress.drive = NULL;
    retrying = 0;
    return ok;
}

// Asks whether to read the damaged files of a drive's disc again.
static int ask_read_again(const Install *in, int disc, const EditionVerdict *v)
{
    char text[400], n[32];
    fmt(text, sizeof text,
        "%s files of Tarnok disc %d were not read as they should be (see the list of messages). Clean the disc, put it "
        "back and press Retry to read them again.",
        fmt_count((uint64_t)v->problem_count, n, sizeof n), disc);
    return ask_player(in, text, MB_ICONWARNING | MB_RETRYCANCEL) == IDRETRY;
}

static int known_edition(Install *in, int disc, const EditionVerdict *v)
{
    char reason[300], n[32];
    int other = in->edition[2 - disc];
    in->edition[disc - 1] = v->edition;
    if (other >= 0 && !edition_same(&in->editions, other, v->edition)) {
        int e1 = disc == 1 ? v->edition : other, e2 = disc == 1 ? other : v->edition;
        fmt(reason, sizeof reason, "CD 1 is of edition %s and CD 2 of edition %s: both discs must be of one edition",
            edition_name(in, e1), edition_name(in, e2));
        return fail(reason);
    }
    setup_log("CD %d: edition %s, %s files as known", disc, edition_name(in, v->edition),
              fmt_count((uint64_t)v->files, n, sizeof n));
    return 1;
}

int judge_disc(Install *in, CdSource *src, int disc, const DriveReading *reading)
{
    // A setup built without a table knows no edition: that says nothing
    // of the disc.
    if (in->editions.name_count == 0)
        return 1;
    for (;;) {
        EditionVerdict v;
        edition_judge(&in->editions, disc, in->copied.files, in->copied.count, in->edition[2 - disc], &v);
        if (v.kind == EDITION_KNOWN)
            return known_edition(in, disc, &v);
        if (v.kind == EDITION_UNKNOWN) {
            in->edition[disc - 1] = -1;
            setup_log("CD %d: not a known edition; its files are installed as they are", disc);
            return 1;
        }
        char n[32], reason[300];
        setup_log("CD %d: %s files of edition %s are missing, cut short or different:", disc,
                  fmt_count((uint64_t)v.problem_count, n, sizeof n), edition_name(in, v.edition));
        log_problems(&v);
        if (!reading || !ask_read_again(in, disc, &v) || !read_again(in, src, disc, v.edition, reading)) {
            fmt(reason, sizeof reason, "CD %d is damaged, or was not read as it should be", disc);
            return fail(reason);
        }
    }
}

// An image whose copy met a raw sector that fails its check: the sector,
// and the file or folder of the disc it belongs to.
int report_damage(const Install *in, CdSource *src, int disc)
{
    uint64_t lba;
    const char *where;
    if (!cd_damage(src, &lba, &where))
        return 0;
    char n[32], shown[1024], reason[1200];
    const char *rel = below(in->copy_root, where);
    if (rel)
        fmt(reason, sizeof reason, "disc %d image is damaged: sector %s of %s fails its error check", disc,
            fmt_count(lba, n, sizeof n), name_escape(rel, shown, sizeof shown));
    else
        fmt(reason, sizeof reason, "disc %d image is damaged: sector %s of the disc's root folder fails its error check",
            disc, fmt_count(lba, n, sizeof n));
    fail(reason);
    return 1;
}
