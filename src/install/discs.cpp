// The two discs: told apart by their marker files before anything is
// written, copied into {game}\cd1 and {game}\cd2, and, when both come from
// one drive, asked for one after the other. A disc in a CD drive is read in
// small steps, retried, and asked for again when it is taken out.
#include <windows.h>

#include <string.h>

#include "install/running.h"

static const char disc1_marker[] = "TARNOK\\DISK1\\DISK1";
static const char disc2_marker[] = "TARNOK\\DISK2\\DISK2";

const char *disc_marker(int disc)
{
    return disc == 1 ? disc1_marker : disc2_marker;
}

int marker_path(char *out, size_t size, const char *folder, int disc)
{
    return join_path(out, size, folder, disc_marker(disc));
}

unsigned long drive_serial(const char *path)
{
    char root[4];
    DWORD serial = 0;
    if (!drive_root_of(path, root) || !GetVolumeInformationA(root, NULL, 0, &serial, NULL, NULL, NULL, 0))
        return 0;
    return serial;
}

// A disc in a drive, known by its marker file: under Wine an empty drive
// fails with error 2 or 3, never "not ready", and the label may be stale.
static int disc_in(const char *folder, int disc)
{
    char probe[600];
    return marker_path(probe, sizeof probe, folder, disc) && path_exists(probe);
}

// 1 when the drive's root lists anything at all.
static int drive_holds_disc(const char *root)
{
    FolderListing l;
    int any = listing_first(&l, root, "*");
    listing_close(&l);
    return any;
}

// What the drive holds where a disc's files are looked for (its root, or
// a folder on it): disc 1 or 2 of the game, 0 for nothing, -1 for another
// disc.
static int disc_now_in(const char *folder)
{
    if (disc_in(folder, 1))
        return 1;
    if (disc_in(folder, 2))
        return 2;
    char root[4];
    return drive_root_of(folder, root) && drive_holds_disc(root) ? -1 : 0;
}

// The disc question, first (held ASK_FIRST) and again, saying what the
// drive holds instead: HELD_ANOTHER_COPY for the disc asked for, but not
// the one whose file the copy was reading (another pressing, or another
// copy of that folder), which it cannot read on from. A disc is named by
// its number when its copy is the drive's root; a disc of the player's
// that holds a copy in a folder is named by that folder.
enum { ASK_FIRST = -2, HELD_ANOTHER_COPY = -3 };

static void disc_question(char *text, size_t size, const char *folder, int disc, int held)
{
    char drive[3] = {folder[0], ':', 0};
    if (is_drive_root(folder)) {
        if (held == ASK_FIRST)
            fmt(text, size, "Insert Tarnok disc %d into drive %s and press OK.", disc, drive);
        else if (held == 0)
            fmt(text, size, "There is no disc in drive %s. Insert disc %d and press OK.", drive, disc);
        else if (held == HELD_ANOTHER_COPY)
            fmt(text, size,
                "The disc in drive %s is Tarnok disc %d, but not the one setup was reading. Put that disc back in "
                "and press OK.",
                drive, disc);
        else if (held > 0)
            fmt(text, size, "The disc in drive %s is Tarnok disc %d. Insert disc %d and press OK.", drive, held,
                disc);
        else
            fmt(text, size, "The disc in drive %s is not a Tarnok disc. Insert disc %d and press OK.", drive, disc);
        return;
    }
    char shown[1024];
    name_escape(folder, shown, sizeof shown);
    if (held == ASK_FIRST)
        fmt(text, size, "Insert the disc that holds %s and press OK.", shown);
    else if (held == 0)
        fmt(text, size, "There is no disc in drive %s. Insert the disc that holds %s and press OK.", drive, shown);
    else if (held == HELD_ANOTHER_COPY)
        fmt(text, size, "The disc in drive %s holds %s, but is not the one setup was reading. Put that disc back in "
                        "and press OK.",
            drive, shown);
    else
        fmt(text, size, "The disc in drive %s does not hold %s. Insert the disc that holds it and press OK.", drive,
            shown);
}

// What the drive holds for the question for a disc: as disc_now_in, but
// the disc asked for only when the copy can read on from it.
static int disc_held(const char *folder, int disc)
{
    int held = disc_now_in(folder);
    if (held == disc && !drive_can_read_on())
        return HELD_ANOTHER_COPY;
    return held;
}

// The open question for a disc, looking at the drive every second.
struct DiscLook {
    const char *folder;
    int disc; // the disc asked for
    int seen; // what the drive held at the last look
};

// The question answers itself once the disc is in and the copy can read
// on from it, as the copy's own check will find. A wrong disc put in while
// it is open is named; a drive emptied (the disc being changed) leaves the
// text as it is.
static int look_for_disc(void *arg, char *text, size_t size)
{
    DiscLook *look = (DiscLook *)arg;
    int held = disc_held(look->folder, look->disc);
    if (held == look->disc)
        return 1;
    if (held != look->seen && held != 0)
        disc_question(text, size, look->folder, look->disc, held);
    look->seen = held;
    return 0;
}

// Asks for a disc until it is in the drive, and is the disc the copy can
// read on from: 1, or 0 when the player cancels (and always unattended,
// where nobody can change it). folder is where the disc's files are: the
// drive's root, or a folder on it. The player need not press OK: the disc
// put in answers the question. Another copy of the disc asked for, in the
// middle of a file, is named as such from the first box on.
static int ask_for_disc(const Install *in, const char *folder, int disc)
{
    char text[1400];
    DiscLook look = {folder, disc, 0};
    int held = disc_held(folder, disc);
    disc_question(text, sizeof text, folder, disc, held == HELD_ANOTHER_COPY ? held : ASK_FIRST);
    for (;;) {
        look.seen = held;
        if (ask_player(in, text, MB_ICONINFORMATION | MB_OKCANCEL, look_for_disc, &look) != IDOK)
            return 0;
        held = disc_held(folder, disc);
        if (held == disc)
            return 1;
        disc_question(text, sizeof text, folder, disc, held);
    }
}

int disc_in_drive(const DiscCopy *d)
{
    return disc_in(d->src->path, d->disc) || ask_for_disc(d->in, d->src->path, d->disc);
}

static int not_inserted(int disc)
{
    char reason[64];
    fmt(reason, sizeof reason, "disc %d was not inserted", disc);
    return fail(reason);
}

// A read of the drive failed after its retries. A disc taken out, or
// another disc in its place, is asked for again; a disc that is in is
// probably dirty or scratched, and the player may clean it and retry. The
// box says so whatever words the system has for the code, which is only a
// detail: under Wine an unreadable sector comes back as error 21, "not
// ready", which would tell the player the drive is empty.
static int on_read_trouble(const char *path, unsigned long error, void *ctx)
{
    const DiscCopy *d = (const DiscCopy *)ctx;
    const char *folder = d->src->path;
    if (error == ERROR_MEDIA_CHANGED || !disc_in(folder, d->disc)) {
        if (ask_for_disc(d->in, folder, d->disc))
            return 1;
        return not_inserted(d->disc);
    }
    char text[1400], shown[1024];
    fmt(text, sizeof text,
        "The file %s could not be read from the disc (error %lu): the disc may be dirty or scratched. Clean it, put "
        "it back and press Retry.",
        name_escape(path, shown, sizeof shown), error);
    return ask_player(d->in, text, MB_ICONWARNING | MB_RETRYCANCEL, NULL, NULL) == IDRETRY;
}

// The host hears of each file of the disc as its reading begins, by its
// path on the disc.
static void disc_file_begun(void *ctx, const char *dst, uint64_t size)
{
    (void)size;
    const DiscCopy *d = (const DiscCopy *)ctx;
    const InstallHost *host = d->in->host;
    const char *path = path_below(dst, d->root);
    if (path && host && host->file)
        host->file(host->ctx, path);
}

// A whole file is a line of the list, and one of what the verdict goes by.
static void disc_file_copied(void *ctx, const char *dst, uint64_t size, uint32_t crc)
{
    DiscCopy *d = (DiscCopy *)ctx;
    const char *path = path_below(dst, d->root);
    if (!path)
        return;
    note_file(d->in, dst, size, crc, d->disc, path, LIST_FIXED);
    disc_file_seen(d, path, size, crc);
}

// A file that an earlier install holds whole is not copied again: its
// bytes are counted without being read, which the host hears before the
// count, so that they never pass for speed.
static int disc_file_wanted(void *ctx, const char *dst, uint64_t size, uint32_t *crc)
{
    const Install *in = ((const DiscCopy *)ctx)->in;
    if (!earlier_whole(in, dst, size, crc))
        return 1;
    if (in->host && in->host->skipped)
        in->host->skipped(in->host->ctx, size);
    return 0;
}

void disc_tell_reading(const DiscCopy *d, int kind, uint64_t whole, uint64_t skip)
{
    const InstallHost *host = d->in->host;
    if (!host || !host->reading)
        return;
    ReadingPhase phase = {kind, d->disc, whole, skip, d->in->progress.done};
    host->reading(host->ctx, &phase);
}

// The record of disc 1 or 2, copied from src into {game}\cd1 or \cd2. A
// disc in a CD drive is read as the drive's reading policy says.
static void disc_copy_begin(DiscCopy *d, Install *in, CdSource *src, int disc)
{
    memset(d, 0, sizeof *d);
    d->in = in;
    d->disc = disc;
    d->src = src;
    d->mode = DISC_COPYING;
    fmt(d->root, sizeof d->root, "%s\\cd%d", in->game, disc);
    d->watch.begun = disc_file_begun;
    d->watch.copied = disc_file_copied;
    d->watch.wanted = disc_file_wanted;
    d->watch.ctx = d;
    d->watch.partial = disc_file_partial;
    d->watch.resume = disc_file_resume;
    d->reading.trouble = on_read_trouble;
    d->reading.ctx = d;
    d->reading.marker = d->marker;
    d->reading.read_around = 1;
    if (src->kind == 0 && on_cd_drive(src->path) && marker_path(d->marker, sizeof d->marker, src->path, disc))
        d->drive = &d->reading;
    if (d->drive)
        d->serial = drive_serial(src->path);
    // The other copies the player gave for this disc, read only for what
    // the first could not give.
    const char(*given)[520] = in->opts->copies[(disc - 1) ^ in->exchanged];
    for (int k = 0; k < COPIES_MAX; k++)
        if (given[k][0])
            fmt(d->copies[d->copy_count++], sizeof d->copies[0], "%s", given[k]);
}

// An image whose copy met a raw sector that fails its check: 1, having
// said so, with the sector and the file or folder of the disc it belongs
// to.
static int report_damage(const DiscCopy *d)
{
    uint64_t lba;
    const char *where;
    if (!cd_damage(d->src, &lba, &where))
        return 0;
    char n[32], shown[1024], reason[1200];
    if (where[0])
        fmt(reason, sizeof reason, "disc %d image is damaged: sector %s of %s fails its error check", d->disc,
            fmt_count(lba, n, sizeof n), name_escape(where, shown, sizeof shown));
    else
        fmt(reason, sizeof reason, "disc %d image is damaged: sector %s of the disc's root folder fails its error check",
            d->disc, fmt_count(lba, n, sizeof n));
    fail(reason);
    return 1;
}

// Copies one disc, whole bytes of files, into {game}\cd1 or {game}\cd2,
// and judges what it copied. The host counts the disc's bytes from where
// the progress record stands now: the bar's count may have been spread
// anew just before.
static int copy_disc(Install *in, CdSource *src, int disc, uint64_t whole)
{
    char shown[1024], reason[64];
    DiscCopy d;
    // One drive for both discs: the disc now in it is this one.
    if (in->drive[0])
        tell_source(disc, src->path);
    // A cue sheet on the media names the image that the description shows.
    setup_log("Copying %s ...", name_escape(cd_describe(src), shown, sizeof shown));
    disc_copy_begin(&d, in, src, disc);
    in->progress.drive = d.drive;
    in->progress.watch = &d.watch;
    disc_tell_reading(&d, INSTALL_READ_COPY, whole, whole - disc_bytes_to_copy(in, disc, whole));
    int ok = cd_copy_all(src, d.root, &in->progress);
    in->progress.drive = NULL;
    if (ok)
        ok = salvage_disc(&d) && judge_disc(&d);
    else if (!report_damage(&d)) {
        fmt(reason, sizeof reason, "copying CD %d failed", disc);
        fail(reason);
    }
    in->progress.watch = NULL;
    disc_files_free(&d.copied);
    disc_partials_free(&d);
    return ok;
}

// The drive both fields name, as "D:\", when both name the root of one
// drive, however written ("D:", "D:/"). A drive that holds both discs'
// files at once is read as two sources.
static int one_drive(const InstallOptions *o, char *root, size_t size)
{
    char a[4], b[4];
    root[0] = 0;
    if (!is_drive_root(o->cd1) || !is_drive_root(o->cd2) || !drive_root_of(o->cd1, a) || !drive_root_of(o->cd2, b) ||
        _stricmp(a, b) != 0)
        return 0;
    if (disc_in(a, 1) && disc_in(a, 2))
        return 0;
    fmt(root, size, "%s", a);
    return 1;
}

// Opens both sources and makes sure the first is disc 1 and the second
// disc 2, exchanging them when they were given the other way round.
static int open_two_sources(Install *in)
{
    CdSource *a = cd_open(in->opts->cd1);
    CdSource *b = cd_open(in->opts->cd2);
    if (!a) {
        cd_close(b);
        return fail("CD 1: not a readable disc, image or folder");
    }
    if (!b) {
        cd_close(a);
        return fail("CD 2: not a readable disc, image or folder");
    }
    if (cd_exists(a, disc2_marker) && cd_exists(b, disc1_marker)) {
        CdSource *t = a;
        a = b;
        b = t;
        in->exchanged = 1;
    }
    const char *reason = NULL;
    if (!cd_exists(a, disc1_marker))
        reason = "CD 1 is not Tarnok disc 1";
    else if (!cd_exists(b, disc2_marker))
        reason = "CD 2 is not Tarnok disc 2";
    if (reason) {
        cd_close(a);
        cd_close(b);
        return fail(reason);
    }
    in->cd1 = a;
    in->cd2 = b;
    return 1;
}

int open_discs(Install *in)
{
    if (!one_drive(in->opts, in->drive, sizeof in->drive))
        return open_two_sources(in);
    if (in->host && in->host->ask)
        return 1;
    char reason[300];
    fmt(reason, sizeof reason,
        "CD 1 and CD 2 are both drive %c:; an unattended install needs both discs at once (copy one disc to a "
        "folder, or use an image of it)", in->drive[0]);
    return fail(reason);
}

void close_discs(Install *in)
{
    cd_close(in->cd1);
    cd_close(in->cd2);
    in->cd1 = in->cd2 = NULL;
}

// The bar keeps its place when the budget changes: what is left to do is
// spread over what is left of the bar, so that it never moves backwards and
// reaches its end with the last step.
static void progress_rebudget(Progress *p, uint64_t left)
{
    if (p->total == 0 || p->done >= p->total) {
        p->total = p->done + left;
        return;
    }
    double whole = (double)left * (double)p->total / (double)(p->total - p->done);
    uint64_t total = (uint64_t)whole;
    if ((double)total < whole)
        total++;
    p->total = total;
    p->done = total - left;
}

// Both discs at once, from two drives, images or folders, opened before.
static int copy_two_sources(Install *in)
{
    uint64_t one = cd_total_bytes(in->cd1), two = cd_total_bytes(in->cd2);
    in->progress.total = in->need = one + two + in->fixed;
    // A repair needs room for what it copies, not for a whole install.
    uint64_t written = disc_bytes_to_copy(in, 1, one) + disc_bytes_to_copy(in, 2, two) + other_bytes_to_write(in);
    return check_free_space(in, written) && make_folders(in) && copy_disc(in, in->cd1, 1, one) &&
           copy_disc(in, in->cd2, 2, two);
}

// Both discs from one drive: the disc that is in first, then the other.
// The other disc's size is known only once it is in: until then it counts
// as large as the first for the bar, and free space is checked again. A
// disc of which an earlier install holds every file whole is not asked
// for: a repair changes discs only where it must.
static int copy_one_drive(Install *in)
{
    const char *root = in->drive;
    int want[3] = {0, disc_needed(in, 1), disc_needed(in, 2)};
    int in_drive = disc_in(root, 1) ? 1 : disc_in(root, 2) ? 2 : 0;
    int first = want[in_drive] ? in_drive : want[1] ? 1 : want[2] ? 2 : 0;
    if (!first) {
        in->progress.total = in->need = listed_bytes(in, 1) + listed_bytes(in, 2) + in->fixed;
        return make_folders(in);
    }
    if (first != in_drive && !ask_for_disc(in, root, first))
        return not_inserted(first);
    CdSource *src = cd_open(root);
    if (!src)
        return fail(first == 1 ? "CD 1: not a readable disc, image or folder"
                               : "CD 2: not a readable disc, image or folder");
    int other = 3 - first;
    uint64_t size = cd_total_bytes(src);
    in->need = size + in->fixed + (want[other] ? 0 : listed_bytes(in, other));
    in->progress.total = (want[other] ? size * 2 : size) + in->fixed;
    int ok = check_free_space(in, disc_bytes_to_copy(in, first, size) + other_bytes_to_write(in)) && make_folders(in) &&
             copy_disc(in, src, first, size);
    if (ok && want[other] && !ask_for_disc(in, root, other))
        ok = not_inserted(other);
    if (ok && want[other]) {
        uint64_t more = cd_total_bytes(src);
        in->need += more;
        ok = check_free_space(in, disc_bytes_to_copy(in, other, more) + other_bytes_to_write(in));
        if (ok) {
            progress_rebudget(&in->progress, more + in->fixed);
            ok = copy_disc(in, src, other, more);
        }
    }
    cd_close(src);
    return ok;
}

int copy_discs(Install *in)
{
    int ok = in->drive[0] ? copy_one_drive(in) : copy_two_sources(in);
    close_discs(in);
    return ok;
}
