// The two discs: told apart by their marker files before anything is
// written, copied into {game}\cd1 and {game}\cd2, and, when both come from
// one drive, asked for one after the other. A disc in a CD drive is read in
// small steps, retried, and asked for again when it is taken out.
#include <windows.h>

#include <string.h>

#include "install/running.h"

static const char disc1_marker[] = "TARNOK\\DISK1\\DISK1";
static const char disc2_marker[] = "TARNOK\\DISK2\\DISK2";

static const char *disc_marker(int disc)
{
    return disc == 1 ? disc1_marker : disc2_marker;
}

// Asks the player through whoever runs the install; nobody can answer an
// unattended install, nor one that the player has asked to stop.
static int ask_player(const Install *in, const char *text, unsigned int type)
{
    if (!in->host || !in->host->ask || stop_requested())
        return IDCANCEL;
    return in->host->ask(in->host->ctx, text, type);
}

// A disc in a drive, known by its marker file: under Wine an empty drive
// fails with error 2 or 3, never "not ready", and the label may be stale.
static int disc_in(const char *root, int disc)
{
    char probe[260];
    return fmt_path(probe, sizeof probe, "%s%s", root, disc_marker(disc)) && path_exists(probe);
}

// 1 when the drive's root lists anything at all.
static int drive_holds_disc(const char *root)
{
    FolderListing l;
    int any = listing_first(&l, root, "*");
    listing_close(&l);
    return any;
}

// What a drive holds: disc 1 or 2 of the game, 0 for nothing, -1 for
// another disc.
static int disc_now_in(const char *root)
{
    if (disc_in(root, 1))
        return 1;
    if (disc_in(root, 2))
        return 2;
    return drive_holds_disc(root) ? -1 : 0;
}

// The question for a disc again, saying what the drive holds instead.
static void say_what_is_in(char *text, size_t size, const char *drive, int disc, int held)
{
    if (held == 0)
        fmt(text, size, "There is no disc in drive %s. Insert disc %d and press OK.", drive, disc);
    else if (held > 0)
        fmt(text, size, "The disc in drive %s is Tarnok disc %d. Insert disc %d and press OK.", drive, held, disc);
    else
        fmt(text, size, "The disc in drive %s is not a Tarnok disc. Insert disc %d and press OK.", drive, disc);
}

// The open question for a disc, looking at the drive every second.
struct DiscLook {
    const char *root;
    const char *drive;
    int disc; // the disc asked for
    int seen; // what the drive held at the last look
};

// The question answers itself once the disc is in. A wrong disc put in
// while it is open is named; a drive emptied (the disc being changed)
// leaves the text as it is.
static int look_for_disc(void *arg, char *text, size_t size)
{
    DiscLook *look = (DiscLook *)arg;
    int held = disc_now_in(look->root);
    if (held == look->disc)
        return 1;
    if (held != look->seen && held != 0)
        say_what_is_in(text, size, look->drive, look->disc, held);
    look->seen = held;
    return 0;
}

// A question that looks at the drive while it is open, where whoever runs
// the install can; else as ask_player asks.
static int ask_player_looking(const Install *in, const char *text, unsigned int type, QuestionLook look, void *arg)
{
    if (!in->host || !in->host->ask || !in->host->ask_looking || stop_requested())
        return ask_player(in, text, type);
    return in->host->ask_looking(in->host->ctx, text, type, look, arg);
}

// Asks for a disc until it is in the drive: 1, or 0 when the player
// cancels (and always unattended, where nobody can change it). The player
// need not press OK: the disc put in answers the question.
static int ask_for_disc(const Install *in, const char *root, int disc)
{
    char text[300];
    char drive[3] = {root[0], ':', 0};
    DiscLook look = {root, drive, disc, 0};
    fmt(text, sizeof text, "Insert Tarnok disc %d into drive %s and press OK.", disc, drive);
    for (;;) {
        look.seen = disc_now_in(root);
        if (ask_player_looking(in, text, MB_ICONINFORMATION | MB_OKCANCEL, look_for_disc, &look) != IDOK)
            return 0;
        int held = disc_now_in(root);
        if (held == disc)
            return 1;
        say_what_is_in(text, sizeof text, drive, disc, held);
    }
}

static int not_inserted(int disc)
{
    char reason[64];
    fmt(reason, sizeof reason, "disc %d was not inserted", disc);
    return fail(reason);
}

// The disc being copied from a drive.
struct DriveDisc {
    const Install *in;
    char root[4];
    int disc;
};

// The system's words for an error, without their final full stop, then the
// number: for a sentence that goes on after it.
static const char *reason_words(unsigned long error, char *out, size_t size)
{
    error_text(error, out, size);
    char *tail = strstr(out, " (error ");
    if (tail && tail > out && tail[-1] == '.')
        memmove(tail - 1, tail, strlen(tail) + 1);
    return out;
}

// A read of the drive failed after its retries. A disc taken out (or
// exchanged) is asked for again; a disc that is in is probably dirty or
// scratched, and the player may clean it and retry.
static int on_read_trouble(const char *path, unsigned long error, void *ctx)
{
    const DriveDisc *d = (const DriveDisc *)ctx;
    if (!disc_in(d->root, d->disc)) {
        if (ask_for_disc(d->in, d->root, d->disc))
            return 1;
        return not_inserted(d->disc);
    }
    char text[1400], reason[600], shown[1024];
    fmt(text, sizeof text,
        "Cannot read %s: %s. The disc may be dirty or scratched: clean it, put it back and press Retry.",
        name_escape(path, shown, sizeof shown), reason_words(error, reason, sizeof reason));
    return ask_player(d->in, text, MB_ICONWARNING | MB_RETRYCANCEL) == IDRETRY;
}

// Copies one disc, whole bytes of files, into {game}\cd1 or {game}\cd2.
static int copy_disc(Install *in, CdSource *src, int disc, uint64_t whole)
{
    char dst[520], shown[1024], reason[64];
    // A cue sheet on the media names the image that the description shows.
    setup_log("Copying %s ...", name_escape(cd_describe(src), shown, sizeof shown));
    fmt(dst, sizeof dst, "%s\\cd%d", in->game, disc);
    DriveDisc drive = {in, {src->path[0], ':', '\\', 0}, disc};
    DriveReading reading = {on_read_trouble, &drive};
    if (src->kind == 0 && on_cd_drive(src->path))
        in->progress.drive = &reading;
    tell_disc_begins(in, disc, whole, dst);
    int ok = cd_copy_all(src, dst, &in->progress);
    tell_disc_ends(in);
    in->progress.drive = NULL;
    if (ok)
        return 1;
    fmt(reason, sizeof reason, "copying CD %d failed", disc);
    return fail(reason);
}

// The drive both fields name, as "D:\", when they name the same one. A
// drive that holds both discs' files at once is read as two sources.
static int one_drive(const InstallOptions *o, char *root, size_t size)
{
    char a[520], b[520];
    fmt(a, sizeof a, "%s", o->cd1);
    fmt(b, sizeof b, "%s", o->cd2);
    cd_normalise(a, sizeof a);
    cd_normalise(b, sizeof b);
    root[0] = 0;
    if (strlen(a) != 3 || a[1] != ':' || a[2] != '\\' || _stricmp(a, b) != 0)
        return 0;
    if (disc_in(a, 1) && disc_in(a, 2))
        return 0;
    fmt(root, size, "%c:\\", a[0]);
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
    return check_free_space(in, in->progress.total) && make_folders(in) && copy_disc(in, in->cd1, 1, one) &&
           copy_disc(in, in->cd2, 2, two);
}

// Both discs from one drive: the disc that is in first, then the other.
// The other disc's size is known only once it is in: until then it counts
// as large as the first for the bar, and free space is checked again.
static int copy_one_drive(Install *in)
{
    const char *root = in->drive;
    int first = disc_in(root, 1) ? 1 : disc_in(root, 2) ? 2 : 0;
    if (!first) {
        if (!ask_for_disc(in, root, 1))
            return not_inserted(1);
        first = 1;
    }
    CdSource *src = cd_open(root);
    if (!src)
        return fail(first == 1 ? "CD 1: not a readable disc, image or folder"
                               : "CD 2: not a readable disc, image or folder");
    uint64_t size = cd_total_bytes(src);
    in->need = size + in->fixed;
    in->progress.total = size * 2 + in->fixed;
    int other = 3 - first;
    int ok = check_free_space(in, in->need) && make_folders(in) && copy_disc(in, src, first, size);
    if (ok && !ask_for_disc(in, root, other))
        ok = not_inserted(other);
    if (ok) {
        uint64_t more = cd_total_bytes(src);
        in->need += more;
        ok = check_free_space(in, more + in->fixed);
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
