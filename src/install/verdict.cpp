// The verdict on a disc once copied. Its marker file says which disc it is;
// the table of known editions says whether it is whole: every file of the
// edition there, with its size and CRC-32 as the copy computed them. A file
// that differs is damage only where the copy shows it (a file cut short, a
// sector of zeros where the edition's file has other contents); otherwise
// every byte was read right, and the disc is another pressing. A disc of
// no edition we know is never refused, so that a pressing nobody has
// listed still installs.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "install/running.h"

static int find_seen(const DiscFiles *f, const char *path)
{
    for (int i = 0; i < f->count; i++) {
        if (_stricmp(f->files[i].path, path) == 0)
            return i;
    }
    return -1;
}

// During the copy itself every file comes once; a file read again replaces
// its entry.
void disc_file_seen(DiscCopy *d, const char *path, uint64_t size, uint32_t crc)
{
    DiscFiles *f = &d->copied;
    int i = d->mode == DISC_READING_AGAIN ? find_seen(f, path) : -1;
    if (i < 0) {
        char *copy = _strdup(path);
        if (!copy)
            return;
        if (f->count == f->room) {
            int room = f->room ? f->room * 2 : 1024;
            EditionSeen *grown = (EditionSeen *)realloc(f->files, sizeof(EditionSeen) * (size_t)room);
            if (!grown) {
                free(copy);
                return;
            }
            f->files = grown;
            f->room = room;
        }
        i = f->count++;
        f->files[i].path = copy;
    }
    f->files[i].size = size;
    f->files[i].crc = crc;
    f->files[i].zeros = 0;
}

void disc_files_free(DiscFiles *f)
{
    for (int i = 0; i < f->count; i++)
        free((void *)f->files[i].path);
    free(f->files);
    memset(f, 0, sizeof *f);
}

static const char *edition_name(const Install *in, int edition)
{
    return in->editions.names[edition].name;
}

// One line for each file a verdict names, with what the edition has and
// what the copy found, then how many more there are: the CRC-32s tell a
// drive that misread a file from a disc that differs.
static void log_problems(const EditionProblem *problems, int count)
{
    char shown[1024], a[32], b[32];
    for (int i = 0; i < count && i < EDITION_SHOWN; i++) {
        const EditionProblem *p = &problems[i];
        name_escape(p->path, shown, sizeof shown);
        if (p->kind == EDITION_MISSING)
            setup_log("%s: missing (expected %s bytes, CRC-32 %08X)", shown, fmt_count(p->want_size, b, sizeof b),
                      (unsigned)p->want_crc);
        else if (p->kind == EDITION_OTHER_SIZE)
            setup_log("%s: size %s instead of %s (CRC-32 %08X, expected %08X)", shown, fmt_count(p->size, a, sizeof a),
                      fmt_count(p->want_size, b, sizeof b), (unsigned)p->crc, (unsigned)p->want_crc);
        else if (p->zeros)
            setup_log("%s: other contents (CRC-32 %08X, expected %08X), with a sector of zeros at byte %s (as rippers "
                      "write a sector they could not read)",
                      shown, (unsigned)p->crc, (unsigned)p->want_crc, fmt_count(p->zeros - 1, a, sizeof a));
        else
            setup_log("%s: other contents (CRC-32 %08X, expected %08X)", shown, (unsigned)p->crc,
                      (unsigned)p->want_crc);
    }
    if (count > EDITION_SHOWN)
        setup_log("and %s more", fmt_count((uint64_t)(count - EDITION_SHOWN), a, sizeof a));
}

// 1 + the offset of the first 2,048-byte sector of the file that is all
// zeros; 0 when there is none, or the file cannot be read.
static uint64_t sector_of_zeros(const char *path, unsigned char *buf, DWORD buf_size)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    uint64_t at = 0, found = 0;
    DWORD got = 0;
    while (!found && ReadFile(h, buf, buf_size, &got, NULL) && got > 0) {
        for (DWORD k = 0; !found && k + 2048 <= got; k += 2048) {
            DWORD j = 0;
            while (j < 2048 && buf[k + j] == 0)
                j++;
            if (j == 2048)
                found = at + k + 1;
        }
        at += got;
    }
    CloseHandle(h);
    return found;
}

// Looks for a sector of zeros in each copied file that an edition has with
// the same size and other contents: a ripper's mark of a sector it could
// not read. Only such files are read again, from the install folder.
static void find_zeros(DiscCopy *d)
{
    enum { BLOCK = 1 << 20 };
    const EditionTable *t = &d->in->editions;
    unsigned char *buf = NULL;
    for (int i = 0; i < d->copied.count; i++) {
        EditionSeen *s = &d->copied.files[i];
        int differs = 0, known = 0;
        for (int e = 0; e < t->name_count; e++) {
            const EditionFile *f = edition_file(t, e, d->disc, s->path);
            known |= f && f->size == s->size && f->crc == s->crc;
            differs |= f && f->size == s->size && f->crc != s->crc;
        }
        char path[780];
        if (known || !differs || !join_path(path, sizeof path, d->root, s->path))
            continue;
        if (!buf && !(buf = (unsigned char *)malloc(BLOCK)))
            return;
        s->zeros = sector_of_zeros(path, buf, BLOCK);
    }
    free(buf);
}

// The copy of the edition's file, or null.
static const EditionSeen *seen_file(const DiscFiles *f, const EditionFile *file)
{
    int i = find_seen(f, file->path);
    return i >= 0 ? &f->files[i] : NULL;
}

// The files of an edition on the disc: n of them, sorted by path.
static const EditionFile *edition_files(const DiscCopy *d, int edition, int *n)
{
    const EditionTable *t = &d->in->editions;
    const EditionName *e = &t->names[edition];
    *n = e->count[d->disc - 1];
    return t->files + e->first[d->disc - 1];
}

// The bytes of the edition's files whose copies show damage: what reading
// them again reads.
static uint64_t bytes_again(const DiscCopy *d, const EditionFile *files, int count)
{
    uint64_t sum = 0;
    for (int i = 0; i < count; i++) {
        if (edition_damaged(&files[i], seen_file(&d->copied, &files[i])))
            sum += files[i].size;
    }
    return sum;
}

// Reads again, from the drive, every file of the edition that the copy did
// not bring as the table says, as a reading phase of its own for the
// host. 0 when the player stopped or gave up.
static int read_again(DiscCopy *d, int edition)
{
    Progress *p = &d->in->progress;
    int n, ok = 1;
    const EditionFile *files = edition_files(d, edition, &n);
    d->mode = DISC_READING_AGAIN;
    p->drive = d->drive;
    disc_tell_reading(d, INSTALL_READ_AGAIN, bytes_again(d, files, n), 0);
    for (int i = 0; ok && i < n; i++) {
        char from[520], to[520];
        if (!edition_damaged(&files[i], seen_file(&d->copied, &files[i])))
            continue;
        if (!join_path(from, sizeof from, d->src->path, files[i].path) ||
            !join_path(to, sizeof to, d->root, files[i].path))
            continue;
        // A file that still cannot be read stays as it is: the verdict names it again.
        copy_file(from, to, p);
        ok = !stop_requested();
    }
    p->drive = NULL;
    d->mode = DISC_COPYING;
    return ok;
}

// Asks whether to read the damaged files of a drive's disc again.
static int ask_read_again(const DiscCopy *d, const EditionVerdict *v)
{
    char text[400], n[32];
    fmt(text, sizeof text,
        v->problem_count == 1
            ? "%s file of Tarnok disc %d was not read as it should be (see the list of messages). Clean the disc, put "
              "it back and press Retry to read it again."
            : "%s files of Tarnok disc %d were not read as they should be (see the list of messages). Clean the disc, "
              "put it back and press Retry to read them again.",
        fmt_count((uint64_t)v->problem_count, n, sizeof n), d->disc);
    return ask_player(d->in, text, MB_ICONWARNING | MB_RETRYCANCEL, NULL, NULL) == IDRETRY;
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
    setup_log("CD %d: edition %s, %s %s as known", disc, edition_name(in, v->edition),
              fmt_count((uint64_t)v->files, n, sizeof n), v->files == 1 ? "file" : "files");
    return 1;
}

// Every byte of the files that differ was read right: the disc is another
// pressing of the edition, and installs as it is.
static int other_pressing(Install *in, int disc, const EditionVerdict *v)
{
    char n[32];
    in->edition[disc - 1] = -1;
    setup_log("CD %d: another pressing of edition %s: %s %s from the edition's with no sign of damage, and the disc "
              "is installed as it is:",
              disc, edition_name(in, v->edition), fmt_count((uint64_t)v->differ_count, n, sizeof n),
              v->differ_count == 1 ? "file differs" : "files differ");
    log_problems(v->differs, v->differ_count);
    return 1;
}

// A damaged disc fails the install; the copies that show the damage are
// not to be taken for whole by a later run.
static int damaged_disc(DiscCopy *d, int edition)
{
    char reason[300];
    int n;
    const EditionFile *files = edition_files(d, edition, &n);
    for (int i = 0; i < n; i++) {
        const EditionSeen *s = seen_file(&d->copied, &files[i]);
        char path[780];
        if (s && edition_damaged(&files[i], s) && join_path(path, sizeof path, d->root, s->path))
            forget_file(d->in, path);
    }
    fmt(reason, sizeof reason, "CD %d is damaged, or was not read as it should be", d->disc);
    return fail(reason);
}

int judge_disc(DiscCopy *d)
{
    Install *in = d->in;
    int disc = d->disc;
    // A setup built without a table knows no edition: that says nothing
    // of the disc.
    if (in->editions.name_count == 0)
        return 1;
    for (;;) {
        EditionVerdict v;
        find_zeros(d);
        edition_judge(&in->editions, disc, d->copied.files, d->copied.count, in->edition[2 - disc], &v);
        if (v.kind == EDITION_KNOWN)
            return known_edition(in, disc, &v);
        if (v.kind == EDITION_PRESSING)
            return other_pressing(in, disc, &v);
        if (v.kind == EDITION_UNKNOWN) {
            in->edition[disc - 1] = -1;
            setup_log("CD %d: not a known edition; its files are installed as they are", disc);
            return 1;
        }
        char n[32];
        setup_log(v.problem_count == 1 ? "CD %d: %s file of edition %s is missing, cut short or different:"
                                       : "CD %d: %s files of edition %s are missing, cut short or different:",
                  disc, fmt_count((uint64_t)v.problem_count, n, sizeof n), edition_name(in, v.edition));
        log_problems(v.problems, v.problem_count);
        if (!d->drive || !ask_read_again(d, &v) || !read_again(d, v.edition))
            return damaged_disc(d, v.edition);
    }
}
