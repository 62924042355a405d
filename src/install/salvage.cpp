// What a worn disc in a drive cannot give at once. Its copy reads around
// the parts that fail (util's copy) and leaves each such file partial
// beside its place; here those parts get passes of their own, a sector at
// a time with the drive slowed down, then are taken from the other copies
// of the disc that the player has, trusting a piece only where it cannot
// splice two different files, and then are asked for. What is still
// missing is named, and what was read is kept for the next run, which
// reads only the rest.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "install/running.h"

enum {
    PASSES = 3,             // over the parts missing, on the drive they were missing from
    MARGIN = 32 * 1024,     // read of another copy on either side of a gap, to compare
};

static DiscPartial *find_partial(DiscCopy *d, const char *path)
{
    for (int i = 0; i < d->partial_count; i++)
        if (_stricmp(d->partial[i].path, path) == 0)
            return &d->partial[i];
    return NULL;
}

static void drop_partial(DiscCopy *d, const char *path)
{
    DiscPartial *p = find_partial(d, path);
    if (!p)
        return;
    *p = d->partial[--d->partial_count];
}

void disc_partials_free(DiscCopy *d)
{
    free(d->partial);
    d->partial = NULL;
    d->partial_count = d->partial_room = 0;
}

// A file the drive gave only in part: its line says so (and lets the
// uninstall find it), and it waits for the passes.
void disc_file_partial(void *ctx, const char *dst, uint64_t size, const Ranges *missing)
{
    (void)missing;
    DiscCopy *d = (DiscCopy *)ctx;
    const char *path = path_below(dst, d->root);
    if (!path)
        return;
    note_file(d->in, dst, size, 0, d->disc, path, LIST_PARTIAL);
    DiscPartial *p = find_partial(d, path);
    if (!p) {
        if (d->partial_count == d->partial_room) {
            int room = d->partial_room ? d->partial_room * 2 : 16;
            DiscPartial *grown = (DiscPartial *)realloc(d->partial, sizeof(DiscPartial) * (size_t)room);
            if (!grown)
                return;
            d->partial = grown;
            d->partial_room = room;
        }
        p = &d->partial[d->partial_count++];
        fmt(p->path, sizeof p->path, "%s", path);
    }
    p->size = size;
}

// What the table of editions says of a disc's file with that size and
// CRC-32, for a piece of another copy.
struct TableAsk {
    const EditionTable *t;
    int disc;
    char path[520];
};
static TableAsk asking;

static int table_says(void *ctx, uint64_t size, uint32_t crc)
{
    const TableAsk *a = (const TableAsk *)ctx;
    return edition_knows(a->t, a->disc, a->path, size, crc);
}

// How far to trust a copy for a file: the table, where it knows the file;
// else the same bytes where both copies read.
static void trust_other(FillFrom *how, const DiscCopy *d, const char *path)
{
    asking.t = &d->in->editions;
    asking.disc = d->disc;
    fmt(asking.path, sizeof asking.path, "%s", path);
    how->other = 1;
    how->table = table_says;
    how->ctx = &asking;
    how->margin = MARGIN;
}

// A file that an earlier run left partial is finished from the disc in
// the drive, which may be another copy than that run read: it is trusted
// as another copy is.
int disc_file_resume(void *ctx, const char *dst, uint64_t size, FillFrom *how)
{
    DiscCopy *d = (DiscCopy *)ctx;
    const char *path = path_below(dst, d->root);
    if (!path || !earlier_partial(d->in, dst, size))
        return 0;
    trust_other(how, d, path);
    return 1;
}

// The partial file's place: {game}\cdN\path.
static int partial_dst(const DiscCopy *d, const DiscPartial *p, char *out, size_t size)
{
    return join_path(out, size, d->root, p->path);
}

// Fills each partial file from the copy at folder (a drive's root or a
// folder), read through p: the copy the disc was read from (other 0) or
// another. The files made whole leave the list of partial ones.
static int fill_from_folder(DiscCopy *d, const char *folder, int other, Progress *p)
{
    int refused = 0;
    for (int i = 0; i < d->partial_count && !stop_requested();) {
        DiscPartial *part = &d->partial[i];
        char src[780], dst[780];
        SourceRead s;
        FillFrom how = {&s, 0, NULL, NULL, 0};
        if (!join_path(src, sizeof src, folder, part->path) || !partial_dst(d, part, dst, sizeof dst) ||
            !source_open(&s, src, NULL, 0, p)) {
            i++;
            continue;
        }
        // A file of another size at that path is of another disc, whatever
        // its volume's serial says: nothing of it is taken.
        if (!other && s.size != part->size) {
            source_close(&s);
            refused++;
            i++;
            continue;
        }
        if (other)
            trust_other(&how, d, part->path);
        int filled = copy_fill(dst, part->size, &how, p, NULL);
        source_close(&s);
        if (filled == FILL_WHOLE)
            drop_partial(d, part->path);
        else
            i++;
    }
    return refused;
}

// The bytes still missing of the partial files, for the host's count of a
// phase that reads them.
static uint64_t missing_bytes(const DiscCopy *d)
{
    uint64_t sum = 0;
    for (int i = 0; i < d->partial_count; i++) {
        char dst[780];
        Ranges missing = {};
        if (partial_dst(d, &d->partial[i], dst, sizeof dst) && partial_read(dst, d->partial[i].size, &missing))
            sum += ranges_bytes(&missing);
        ranges_free(&missing);
    }
    return sum;
}

// The passes over what the drive could not read: the same copy, a sector
// at a time, the drive slowed down where it lets itself be. Each pass is a
// reading phase of its own for the host, counting what it has to read.
static void read_passes(DiscCopy *d)
{
    Progress *p = &d->in->progress;
    if (!d->partial_count)
        return;
    int slowed = drive_set_speed(d->src->path, DRIVE_SPEED_SLOW);
    p->drive = d->drive;
    d->refused_in_drive = 0;
    for (int pass = 0; pass < PASSES && d->partial_count && !stop_requested(); pass++) {
        disc_tell_reading(d, INSTALL_READ_AGAIN, missing_bytes(d), 0);
        if (fill_from_folder(d, d->src->path, 0, p))
            d->refused_in_drive = 1;
    }
    p->drive = NULL;
    if (slowed)
        drive_set_speed(d->src->path, DRIVE_SPEED_MAX);
}

// A drive of another copy is read without asking anything of the player:
// a read that fails there leaves the part missing.
static int never_ask(const char *path, unsigned long error, void *ctx)
{
    (void)path;
    (void)error;
    (void)ctx;
    return 0;
}

// What another copy gave one file, said.
static void tell_taken(const DiscCopy *d, const char *path, uint64_t before, const Ranges *still, int filled,
                       const char *copy, int table)
{
    char shown[1024], from[1024], n[32], m[32];
    name_escape(path, shown, sizeof shown);
    name_escape(copy, from, sizeof from);
    (void)d;
    if (filled == FILL_REFUSED) {
        if (table)
            setup_log("%s: the copy in %s does not make it as the edition has it; nothing of it is taken", shown, from);
        else
            setup_log("%s: the copy in %s differs where both copies were read; nothing of it is taken", shown, from);
        return;
    }
    uint64_t left = still ? ranges_bytes(still) : 0;
    if (before == left)
        return;
    setup_log("%s: %s bytes taken from %s", shown, fmt_count(before - left, n, sizeof n), from);
    if (left)
        setup_log("%s: %s bytes are still missing", shown, fmt_count(left, m, sizeof m));
    else if (!table)
        setup_log("%s: assembled from 2 copies, no table to confirm it", shown);
}

// Takes what is missing from one other copy of the disc: a drive, a folder
// or an image. A copy that is not of this disc gives nothing. The number of
// files that the copy could not be trusted for.
static int take_from_copy(DiscCopy *d, const char *path)
{
    char shown[1024], marker[780];
    int refused = 0;
    CdSource *c = cd_open(path);
    if (!c || !cd_exists(c, disc_marker(d->disc))) {
        setup_log("%s is not a copy of Tarnok disc %d; nothing of it is taken", name_escape(path, shown, sizeof shown),
                  d->disc);
        cd_close(c);
        return 0;
    }
    Progress p = d->in->progress;
    DriveReading reading = {never_ask, NULL, marker, 0};
    p.drive = c->kind == 0 && on_cd_drive(c->path) && marker_path(marker, sizeof marker, c->path, d->disc)
                  ? &reading
                  : NULL;
    p.watch = &d->watch;
    disc_tell_reading(d, INSTALL_READ_AGAIN, missing_bytes(d), 0);
    for (int i = 0; i < d->partial_count && !stop_requested();) {
        DiscPartial *part = &d->partial[i];
        char dst[780], src[780];
        Ranges before = {}, still = {};
        unsigned char *data = NULL;
        uint64_t size = 0;
        SourceRead s;
        int opened = partial_dst(d, part, dst, sizeof dst) && partial_read(dst, part->size, &before);
        if (opened && c->kind == 0)
            opened = join_path(src, sizeof src, c->path, part->path) && source_open(&s, src, NULL, 0, &p);
        else if (opened)
            opened = (data = cd_read(c, part->path, &size)) != NULL && source_open(&s, NULL, data, size, &p);
        int filled = FILL_FAILED;
        if (opened) {
            FillFrom how = {&s, 0, NULL, NULL, 0};
            trust_other(&how, d, part->path);
            int table = table_says(&asking, part->size, 0) >= 0;
            filled = copy_fill(dst, part->size, &how, &p, &still);
            source_close(&s);
            tell_taken(d, part->path, ranges_bytes(&before), &still, filled, c->path, table);
            refused += filled == FILL_REFUSED;
        }
        free(data);
        ranges_free(&before);
        ranges_free(&still);
        if (filled == FILL_WHOLE)
            drop_partial(d, part->path);
        else
            i++;
    }
    d->in->progress.done = p.done;
    cd_close(c);
    return refused;
}

// The other copies given for this disc, each asked in turn.
static void take_from_copies(DiscCopy *d, int first)
{
    for (int k = first; k < d->copy_count && d->partial_count && !stop_requested(); k++)
        take_from_copy(d, d->copies[k]);
}

// Names each file still not whole, with how much of it is missing.
static void name_partials(const DiscCopy *d)
{
    char shown[1024], n[32], a[32], b[32];
    for (int i = 0; i < d->partial_count; i++) {
        const DiscPartial *p = &d->partial[i];
        char dst[780];
        Ranges missing = {};
        name_escape(p->path, shown, sizeof shown);
        if (!partial_dst(d, p, dst, sizeof dst) || !partial_read(dst, p->size, &missing) || !missing.count) {
            setup_log("%s: could not be read whole", shown);
            ranges_free(&missing);
            continue;
        }
        fmt_count(ranges_bytes(&missing), n, sizeof n);
        fmt_count(missing.at[0], a, sizeof a);
        fmt_count(missing.at[2 * missing.count - 1] - 1, b, sizeof b);
        if (missing.count > 1)
            setup_log("%s: %s bytes could not be read, from byte %s to %s, in pieces", shown, n, a, b);
        else
            setup_log("%s: %s bytes could not be read, from byte %s to %s", shown, n, a, b);
        ranges_free(&missing);
    }
}

// The player's choice when files are still not whole: read again (the same
// copy, cleaned, or another in the drive), take them from another copy, or
// give up.
enum { SALVAGE_RETRY, SALVAGE_ANOTHER, SALVAGE_GIVE_UP };

// The box says so when the disc that Retry found in the drive was another
// copy whose files differ: Retry again with it in would give nothing.
static int ask_salvage(DiscCopy *d)
{
    char text[600], n[32], root[4];
    if (d->refused_in_drive && drive_root_of(d->src->path, root)) {
        root[2] = 0;
        fmt(text, sizeof text,
            "The disc in drive %s is another copy of Tarnok disc %d, but its files differ from the ones setup read: "
            "nothing was taken from it. Put back the disc that setup was reading and press Retry, or press Another "
            "copy to take the missing parts from another copy of the disc.",
            root, d->disc);
    } else {
        fmt(text, sizeof text,
            "%s %s of Tarnok disc %d could not be read whole (see the list of messages). Clean the disc, put it back "
            "and press Retry, or press Another copy to take the missing parts from another copy of the disc.",
            fmt_count((uint64_t)d->partial_count, n, sizeof n), d->partial_count == 1 ? "file" : "files", d->disc);
    }
    d->refused_in_drive = 0;
    int answer = ask_player(d->in, text, MB_ICONWARNING | MB_CANCELTRYCONTINUE | MB_DEFBUTTON2 | QUESTION_ANOTHER_COPY, NULL, NULL);
    return answer == IDTRYAGAIN ? SALVAGE_RETRY : answer == IDCONTINUE ? SALVAGE_ANOTHER : SALVAGE_GIVE_UP;
}

// Retry: the disc in the drive is read again where parts are missing. A
// disc with another serial is another copy, trusted as one; a drive
// without this disc in it asks for it first.
static void read_again(DiscCopy *d)
{
    if (!disc_in_drive(d))
        return;
    unsigned long now = drive_serial(d->src->path);
    if (d->serial && now && now != d->serial) {
        d->refused_in_drive = take_from_copy(d, d->src->path) > 0;
        return;
    }
    read_passes(d);
}

int salvage_disc(DiscCopy *d)
{
    char shown[1024], reason[200], n[32];
    if (!d->partial_count)
        return 1;
    read_passes(d);
    take_from_copies(d, 0);
    while (d->partial_count && !stop_requested()) {
        const InstallHost *host = d->in->host;
        if (!host || !host->ask)
            break;
        int choice = ask_salvage(d);
        if (choice == SALVAGE_GIVE_UP)
            break;
        if (choice == SALVAGE_RETRY) {
            read_again(d);
        } else if (host->choose_copy && d->copy_count < (int)(sizeof d->copies / sizeof d->copies[0]) &&
                   host->choose_copy(host->ctx, d->disc, d->copies[d->copy_count], sizeof d->copies[0])) {
            take_from_copies(d, d->copy_count++);
        }
    }
    if (!d->partial_count)
        return 1;
    name_partials(d);
    // What was read stays for the next run, which reads only the rest.
    d->in->keep_copies = 1;
    setup_log("The files read so far are kept in %s: run the setup again with the disc cleaned or with another "
              "copy, and only what is missing is read.",
              name_escape(d->in->dir, shown, sizeof shown));
    fmt(reason, sizeof reason, "%s %s of CD %d could not be read whole", fmt_count((uint64_t)d->partial_count, n, sizeof n),
        d->partial_count == 1 ? "file" : "files", d->disc);
    return fail(reason);
}
