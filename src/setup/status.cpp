// The status line's meter, time left and texts, over the caller's clock only.
#include "setup/status.h"

#include <string.h>

#include "util/util.h"

enum {
    KB = 1024,
    MB = 1048576,
    SLOW_KB = 1000, // below this many KB/s the speed is told in KB/s
};

// The i-th oldest point of the ring.
static const RatePoint *rate_point(const RateMeter *m, int i)
{
    return &m->pt[(m->first + i) % RATE_POINTS];
}

static RatePoint *rate_newest(RateMeter *m)
{
    return &m->pt[(m->first + m->count - 1) % RATE_POINTS];
}

void rate_start(RateMeter *m, uint64_t now_ms, uint64_t bytes)
{
    m->first = 0;
    m->count = 1;
    m->pt[0].ms = now_ms;
    m->pt[0].bytes = bytes;
    m->slot_ms = now_ms;
}

// A sample within the newest point's slot moves that point on; a later one
// opens a new slot, dropping the oldest point when the ring is full.
void rate_add(RateMeter *m, uint64_t now_ms, uint64_t bytes)
{
    RatePoint *last = rate_newest(m);
    if (bytes <= last->bytes || now_ms < last->ms)
        return;
    if (now_ms - m->slot_ms >= RATE_SLOT_MS) {
        if (m->count == RATE_POINTS) {
            m->first = (m->first + 1) % RATE_POINTS;
            m->count--;
        }
        m->count++;
        m->slot_ms = now_ms;
        last = rate_newest(m);
    }
    last->ms = now_ms;
    last->bytes = bytes;
}

uint64_t rate_idle_ms(const RateMeter *m, uint64_t now_ms)
{
    const RatePoint *last = rate_point(m, m->count - 1);
    return now_ms > last->ms ? now_ms - last->ms : 0;
}

// The drive's rhythm: the middle one of its last RATE_RHYTHM_GAPS gaps
// between points (the lower middle of an even number). A stall is one gap
// among them, so it never sets the rhythm; a drive that slows down sets it
// within a few gaps. One gap alone is no rhythm (0): a first read that
// took a wait's time may be a drive spinning up as well as a slow one.
static uint64_t rate_rhythm(const RateMeter *m)
{
    uint64_t gaps[RATE_RHYTHM_GAPS];
    int n = 0;
    for (int i = m->count - 1; i >= 1 && n < RATE_RHYTHM_GAPS; i--) {
        uint64_t g = rate_point(m, i)->ms - rate_point(m, i - 1)->ms;
        int at = n++;
        while (at > 0 && gaps[at - 1] > g) {
            gaps[at] = gaps[at - 1];
            at--;
        }
        gaps[at] = g;
    }
    return n >= 2 ? gaps[(n - 1) / 2] : 0;
}

// The reading time of a gap: all of it, unless the line showed it as a
// wait and it is far longer than the drive's rhythm. Such a stall counts
// as one rhythm, the time its bytes took once the drive read again.
static uint64_t rate_reading_ms(uint64_t gap, uint64_t rhythm)
{
    if (gap >= STATUS_WAIT_MS && gap > RATE_STALL_TIMES * rhythm)
        return rhythm;
    return gap;
}

// How long a read of this drive takes so far: its rhythm, or its one gap
// while it has no rhythm yet.
static uint64_t rate_pace(const RateMeter *m)
{
    uint64_t rhythm = rate_rhythm(m);
    if (rhythm || m->count != 2)
        return rhythm;
    return rate_point(m, 1)->ms - rate_point(m, 0)->ms;
}

int rate_stalled(const RateMeter *m, uint64_t now_ms)
{
    uint64_t idle = rate_idle_ms(m, now_ms);
    return idle >= STATUS_WAIT_MS && idle > RATE_STALL_TIMES * rate_pace(m);
}

// From now back, gap by gap, until a window of reading time is gathered;
// the gap that reaches past it counts in part. A quiet time longer than
// the rhythm that is not a stall yet is a gap in progress that brought
// nothing so far: the speed falls while the drive is slow to answer.
static void rate_window(const RateMeter *m, uint64_t now_ms, uint64_t *reading_ms, uint64_t *bytes_read)
{
    const uint64_t window = RATE_WINDOW_MS;
    uint64_t rhythm = rate_rhythm(m), pace = rate_pace(m), reading = 0, bytes = 0;
    uint64_t idle = rate_idle_ms(m, now_ms);
    if (m->count > 1 && idle > pace && !rate_stalled(m, now_ms))
        reading = idle - pace < window ? idle - pace : window;
    for (int i = m->count - 1; i >= 1 && reading < window; i--) {
        const RatePoint *a = rate_point(m, i - 1);
        const RatePoint *b = rate_point(m, i);
        uint64_t t = rate_reading_ms(b->ms - a->ms, rhythm), n = b->bytes - a->bytes;
        if (t == 0)
            continue; // a wait of no known reading time: its bytes say nothing either
        if (t > window - reading) {
            n = n * (window - reading) / t;
            t = window - reading;
        }
        reading += t;
        bytes += n;
    }
    *reading_ms = reading;
    *bytes_read = bytes;
}

uint64_t rate_speed(const RateMeter *m, uint64_t now_ms)
{
    uint64_t reading, bytes;
    rate_window(m, now_ms, &reading, &bytes);
    if (reading < RATE_MIN_MS || bytes == 0)
        return 0;
    return bytes * 1000 / reading;
}

uint64_t rate_history_ms(const RateMeter *m, uint64_t now_ms)
{
    uint64_t reading, bytes;
    rate_window(m, now_ms, &reading, &bytes);
    return reading;
}

void eta_reset(EtaState *e)
{
    memset(e, 0, sizeof *e);
}

// How fast, in thousandths of the clock, the shown value counts down: a
// shown value above the estimate runs faster, one below it slower, never
// outside half and one and a half, so it always falls.
static int64_t eta_pace(int64_t shown, uint64_t estimate)
{
    if (estimate == ETA_NONE || shown <= 0)
        return 1000;
    int64_t pace = 1000 + 2000 * (shown - (int64_t)estimate) / shown;
    return pace < 500 ? 500 : pace > 1500 ? 1500 : pace;
}

// 1 when the shown value and the estimate are within ETA_NEAR_MS: the line
// would say much the same, and the end of a copy is no time to jump.
static int eta_near(int64_t shown, uint64_t estimate)
{
    int64_t apart = (int64_t)estimate - shown;
    return apart <= ETA_NEAR_MS && -apart <= ETA_NEAR_MS;
}

// +1 when the estimate is somewhat above the shown value, -1 somewhat
// below, else 0.
static int eta_side(int64_t shown, uint64_t estimate)
{
    if (estimate == ETA_NONE || eta_near(shown, estimate))
        return 0;
    int64_t margin = shown * ETA_JUMP_PERCENT / 100;
    if ((int64_t)estimate > shown + margin)
        return 1;
    return (int64_t)estimate < shown - margin ? -1 : 0;
}

// 1 when the shown value is more than ETA_FAR_TIMES the estimate, or less
// than its 1/ETA_FAR_TIMES: no wobble, but news, such as a drive that
// came back from a stall or a part of the disc that reads far slower.
static int eta_far_off(int64_t shown, uint64_t estimate)
{
    if (estimate == ETA_NONE || eta_near(shown, estimate))
        return 0;
    uint64_t s = (uint64_t)shown;
    return s > ETA_FAR_TIMES * estimate || s * ETA_FAR_TIMES < estimate;
}

// 1 when the estimate has stayed somewhat off on one side for ETA_JUMP_MS,
// or for the shown time's 1/ETA_JUMP_SHARE where that is shorter.
static int eta_stays_off(EtaState *e, uint64_t now_ms, uint64_t estimate)
{
    int side = eta_side(e->left_ms, estimate);
    if (side != e->off_side) {
        e->off_side = side;
        e->off_since = now_ms;
    }
    uint64_t patience = (uint64_t)e->left_ms / ETA_JUMP_SHARE;
    if (patience > ETA_JUMP_MS)
        patience = ETA_JUMP_MS;
    return side != 0 && now_ms - e->off_since >= patience;
}

// Counts the shown value down over the time since the last update, at the
// pace the estimate asks for, then takes the estimate if it is far off, or
// has stayed somewhat off long enough.
uint64_t eta_update(EtaState *e, uint64_t now_ms, uint64_t estimate_ms)
{
    // A drive that all but stopped could promise centuries; the sums below
    // stay far from overflow this way.
    const uint64_t longest = (uint64_t)1 << 40;
    if (estimate_ms != ETA_NONE && estimate_ms > longest)
        estimate_ms = longest;
    if (!e->shown) {
        if (estimate_ms == ETA_NONE)
            return ETA_NONE;
        e->shown = 1;
        e->left_ms = (int64_t)estimate_ms;
        e->updated_ms = now_ms;
        return estimate_ms;
    }
    uint64_t elapsed = now_ms > e->updated_ms ? now_ms - e->updated_ms : 0;
    e->left_ms -= (int64_t)elapsed * eta_pace(e->left_ms, estimate_ms) / 1000;
    if (e->left_ms < 0)
        e->left_ms = 0;
    e->updated_ms = now_ms;
    if (eta_far_off(e->left_ms, estimate_ms) || eta_stays_off(e, now_ms, estimate_ms)) {
        e->left_ms = (int64_t)estimate_ms;
        e->off_side = 0;
    }
    return (uint64_t)e->left_ms;
}

void eta_hold(EtaState *e, uint64_t now_ms)
{
    if (now_ms > e->updated_ms)
        e->updated_ms = now_ms;
    e->off_side = 0;
}

// n rounded to the nearest multiple of step.
static uint64_t round_to(uint64_t n, uint64_t step)
{
    return (n + step / 2) / step * step;
}

// The time left in seconds, rounded as people round it: to 5 s up to 15 s,
// to 10 s below a minute, then 1 minute, 90 seconds, whole minutes up to
// 20, 5 minutes up to an hour and 10 minutes from there. From 20 s on no
// step is more than a fifth away from the time it stands for.
static uint64_t eta_rounded(uint64_t ms)
{
    const uint64_t second = 1000, minute = 60 * second;
    if (ms < 17 * second + 500) {
        uint64_t s = round_to(ms, 5 * second) / second;
        return s < 5 ? 5 : s;
    }
    if (ms < 55 * second)
        return round_to(ms, 10 * second) / second;
    if (ms < 75 * second)
        return 60;
    if (ms < 105 * second)
        return 90;
    if (ms < 20 * minute)
        return round_to(ms, minute) / second;
    if (ms < 57 * minute + 30 * second)
        return round_to(ms, 5 * minute) / second;
    return round_to(ms, 10 * minute) / second;
}

int eta_words(uint64_t left_ms, char *out, size_t size)
{
    unsigned long long said = eta_rounded(left_ms);
    if (said < 60 || said == 90)
        return fmt(out, size, "about %llu seconds left", said);
    unsigned long long h = said / 3600, m = said / 60 % 60;
    if (h == 0)
        return fmt(out, size, "about %llu minute%s left", m, m == 1 ? "" : "s");
    if (m == 0)
        return fmt(out, size, "about %llu hour%s left", h, h == 1 ? "" : "s");
    return fmt(out, size, "about %llu hour%s %llu minutes left", h, h == 1 ? "" : "s", m);
}

void status_copy_begin(StatusCopy *s, int phase, int disc, uint64_t whole, uint64_t skip, uint64_t now_ms)
{
    s->phase = phase;
    s->disc = disc;
    s->whole = whole;
    s->skip = skip;
    s->done = 0;
    s->skipped = 0;
    s->start_ms = now_ms;
    s->found_ms = now_ms;
    s->tenths = 0;
    s->file[0] = 0;
    rate_start(&s->meter, now_ms, 0);
    eta_reset(&s->eta);
}

void status_copy_file(StatusCopy *s, const char *file)
{
    name_escape(file, s->file, sizeof s->file);
}

// The bytes read so far: what was counted and not found whole.
static uint64_t status_read(const StatusCopy *s)
{
    return s->done > s->skipped ? s->done - s->skipped : 0;
}

// Counted at once and at the same time as done, so that what was read
// stays as it was: the progress count that comes after holds these bytes
// already.
void status_copy_skipped(StatusCopy *s, uint64_t now_ms, uint64_t bytes)
{
    s->skipped += bytes;
    s->done += bytes;
    if (now_ms > s->found_ms)
        s->found_ms = now_ms;
}

void status_copy_bytes(StatusCopy *s, uint64_t now_ms, uint64_t done)
{
    if (done > s->done)
        s->done = done;
    rate_add(&s->meter, now_ms, status_read(s));
}

// Bytes that are still to be read: what is left of the phase, less what is
// expected to be found whole and has not been yet.
static uint64_t status_to_read(const StatusCopy *s)
{
    uint64_t ahead = s->skip > s->skipped ? s->skip - s->skipped : 0;
    uint64_t left = s->whole > s->done ? s->whole - s->done : 0;
    return left > ahead ? left - ahead : 0;
}

// A time left needs a tenth of what is to be read, read, or ETA_AFTER_MS
// of the phase, and a whole window of reading behind the speed: before
// that the speed says little about the rest (a disc whose small files come
// first reads slower than its large ones, whatever its drive).
static int status_enough_to_go_on(const StatusCopy *s, uint64_t now_ms)
{
    uint64_t reading = s->whole > s->skip ? s->whole - s->skip : 0;
    if (rate_history_ms(&s->meter, now_ms) < RATE_WINDOW_MS)
        return 0;
    return status_read(s) >= reading / 10 || (now_ms > s->start_ms && now_ms - s->start_ms >= ETA_AFTER_MS);
}

// How long the drive has been quiet: since bytes were last read or found
// whole, for finding whole files is no wait for the drive.
static uint64_t status_quiet_ms(const StatusCopy *s, uint64_t now_ms)
{
    uint64_t idle = rate_idle_ms(&s->meter, now_ms);
    uint64_t since_found = now_ms > s->found_ms ? now_ms - s->found_ms : 0;
    return idle < since_found ? idle : since_found;
}

// 1 when the speed is told in KB/s: a single-speed drive reads 150 KB/s,
// which "0.1 MB/s" would get wrong by a third.
static int status_slow(uint64_t speed)
{
    return (speed + KB / 2) / KB < SLOW_KB;
}

// While the drive stalls, what is left to read stays as it was, and so
// does the time left; a drive that waits as long between its bursts is
// reading, and the time left counts down.
int status_copy_text(StatusCopy *s, uint64_t now_ms, char *out, size_t size)
{
    int reading = s->done < s->whole;
    uint64_t waited = status_quiet_ms(s, now_ms);
    if (reading && waited >= STATUS_WAIT_MS) {
        if (rate_stalled(&s->meter, now_ms))
            eta_hold(&s->eta, now_ms);
        else if (s->eta.shown)
            eta_update(&s->eta, now_ms, ETA_NONE);
        return status_wait_line(out, size, waited);
    }
    uint64_t speed = rate_speed(&s->meter, now_ms);
    uint64_t left = ETA_NONE;
    if (reading && status_enough_to_go_on(s, now_ms)) {
        uint64_t estimate = speed ? status_to_read(s) * 1000 / speed : ETA_NONE;
        left = eta_update(&s->eta, now_ms, estimate);
    }
    if (speed != 0 && status_slow(speed))
        s->tenths = 1;
    StatusFigures f = {s->phase, s->disc, s->file, s->done, s->whole, speed, left, s->tenths};
    return status_copy_line(out, size, &f);
}

// Bytes in MB with one decimal, rounded.
static void status_tenths(uint64_t bytes, char *out, size_t size)
{
    uint64_t t = (bytes * 10 + MB / 2) / MB;
    fmt(out, size, "%llu.%llu", (unsigned long long)(t / 10), (unsigned long long)(t % 10));
}

// A size in MB: with one decimal below 10 MB, else whole and rounded.
static void status_megabytes(uint64_t bytes, char *out, size_t size)
{
    if ((bytes * 10 + MB / 2) / MB < 100)
        status_tenths(bytes, out, size);
    else
        fmt(out, size, "%llu", (unsigned long long)((bytes + MB / 2) / MB));
}

// The MB done: as the whole once they reach it; with one decimal below
// 10 MB or when asked for; else whole megabytes counted down, which the
// decimal never shows less than.
static void status_done_megabytes(uint64_t done, uint64_t whole, int tenths, char *out, size_t size)
{
    if (done >= whole)
        status_megabytes(whole, out, size);
    else if (tenths || done < 10 * (uint64_t)MB)
        status_tenths(done, out, size);
    else
        fmt(out, size, "%llu", (unsigned long long)(done / MB));
}

// "3.4 MB/s", "150 KB/s", or "" while the speed is not known.
static void status_speed_part(uint64_t speed, char *out, size_t size)
{
    char mb[24];
    if (speed == 0)
        out[0] = 0;
    else if (status_slow(speed))
        fmt(out, size, "%llu KB/s", (unsigned long long)((speed + KB / 2) / KB));
    else {
        status_megabytes(speed, mb, sizeof mb);
        fmt(out, size, "%s MB/s", mb);
    }
}


int status_copy_line(char *out, size_t size, const StatusFigures *f)
{
    char done_mb[24], whole_mb[24], speed_part[32], left[64];
    int tenths = f->tenths || (f->speed != 0 && status_slow(f->speed));
    status_done_megabytes(f->done, f->whole, tenths, done_mb, sizeof done_mb);
    status_megabytes(f->whole, whole_mb, sizeof whole_mb);
    status_speed_part(f->speed, speed_part, sizeof speed_part);
    left[0] = 0;
    if (f->left_ms != ETA_NONE)
        eta_words(f->left_ms, left, sizeof left);
    // Each phase's line as a whole format, as the guide lists it.
    return fmt(out, size,
               f->phase == STATUS_READ_AGAIN ? "CD %d, reading again: %s%s%s of %s MB%s%s%s%s"
                                             : "CD %d: %s%s%s of %s MB%s%s%s%s",
               f->disc, f->file, f->file[0] ? " - " : "", done_mb, whole_mb, speed_part[0] ? ", " : "", speed_part,
               left[0] ? ", " : "", left);
}

int status_wait_line(char *out, size_t size, uint64_t waited_ms)
{
    return fmt(out, size, "Waiting for the drive (%llu s) ...", (unsigned long long)(waited_ms / 1000));
}

int status_compile_line(char *out, size_t size, int done, int total)
{
    return fmt(out, size, "Compiling the converted game: %d of %d file%s", done, total, total == 1 ? "" : "s");
}

const char *status_step_line(int step)
{
    switch (step) {
    case STATUS_UNPACK: return "Unpacking the 1.03 update ...";
    case STATUS_ARRANGE: return "Arranging the game files ...";
    case STATUS_RECOMPILE: return "Converting the game: translating the DOS program ...";
    case STATUS_LINK: return "Linking the converted game ...";
    default: return "";
    }
}

int status_may_draw(StatusPace *p, uint64_t now_ms)
{
    if (p->drawn && now_ms >= p->last_ms && now_ms - p->last_ms < STATUS_PACE_MS)
        return 0;
    p->drawn = 1;
    p->last_ms = now_ms;
    return 1;
}
