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

// The bytes counted by moment t, each point's bytes spread evenly over the
// time since the point before. Points have strictly rising times.
static uint64_t rate_bytes_at(const RateMeter *m, uint64_t t)
{
    const RatePoint *a = rate_point(m, 0);
    if (t <= a->ms)
        return a->bytes;
    for (int i = 1; i < m->count; i++) {
        const RatePoint *b = rate_point(m, i);
        if (t <= b->ms)
            return a->bytes + (b->bytes - a->bytes) * (t - a->ms) / (b->ms - a->ms);
        a = b;
    }
    return a->bytes;
}

// The longest gap between points that ends inside the window before the
// newest point, at most a window: the rhythm this drive delivers in. A
// pause no longer than that is no stall yet.
static uint64_t rate_rhythm(const RateMeter *m)
{
    uint64_t newest = rate_point(m, m->count - 1)->ms;
    uint64_t longest = 0;
    for (int i = 1; i < m->count; i++) {
        const RatePoint *a = rate_point(m, i - 1);
        const RatePoint *b = rate_point(m, i);
        if (b->ms + RATE_WINDOW_MS > newest && b->ms - a->ms > longest)
            longest = b->ms - a->ms;
    }
    const uint64_t window = RATE_WINDOW_MS;
    return longest < window ? longest : window;
}

// The window ends at the newest point, or, once the drive has been quiet
// for longer than its rhythm, that much before now: the time beyond it
// brought nothing.
uint64_t rate_speed(const RateMeter *m, uint64_t now_ms)
{
    if (m->count < 2)
        return 0;
    uint64_t oldest = rate_point(m, 0)->ms;
    uint64_t end = rate_point(m, m->count - 1)->ms;
    uint64_t rhythm = rate_rhythm(m);
    if (now_ms > end && now_ms - end > rhythm)
        end = now_ms - rhythm;
    uint64_t begin = end - oldest > RATE_WINDOW_MS ? end - RATE_WINDOW_MS : oldest;
    if (end - begin < RATE_MIN_MS)
        return 0;
    return (rate_bytes_at(m, end) - rate_bytes_at(m, begin)) * 1000 / (end - begin);
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

// +1 when the estimate is far above the shown value, -1 far below, else 0.
static int eta_side(int64_t shown, uint64_t estimate)
{
    if (estimate == ETA_NONE)
        return 0;
    int64_t margin = shown * ETA_JUMP_PERCENT / 100;
    if ((int64_t)estimate > shown + margin)
        return 1;
    return (int64_t)estimate < shown - margin ? -1 : 0;
}

// 1 when the estimate has stayed far off on one side for ETA_JUMP_MS.
static int eta_stays_off(EtaState *e, uint64_t now_ms, uint64_t estimate)
{
    int side = eta_side(e->left_ms, estimate);
    if (side != e->off_side) {
        e->off_side = side;
        e->off_since = now_ms;
    }
    return side != 0 && now_ms - e->off_since >= ETA_JUMP_MS;
}

// Counts the shown value down over the time since the last update, at the
// pace the estimate asks for, then takes the estimate if it has stayed far
// off long enough.
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
    if (eta_stays_off(e, now_ms, estimate_ms)) {
        e->left_ms = (int64_t)estimate_ms;
        e->off_side = 0;
    }
    return (uint64_t)e->left_ms;
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

void status_copy_begin(StatusCopy *s, int disc, uint64_t whole, uint64_t now_ms)
{
    s->disc = disc;
    s->whole = whole;
    s->done = 0;
    s->start_ms = now_ms;
    s->file[0] = 0;
    rate_start(&s->meter, now_ms, 0);
    eta_reset(&s->eta);
}

void status_copy_file(StatusCopy *s, const char *file)
{
    name_escape(file, s->file, sizeof s->file);
}

void status_copy_bytes(StatusCopy *s, uint64_t now_ms, uint64_t done)
{
    s->done = done;
    rate_add(&s->meter, now_ms, done);
}

// A time left needs a tenth of the disc copied or ETA_AFTER_MS of copying:
// before that the speed says little about the rest.
static int status_enough_to_go_on(const StatusCopy *s, uint64_t now_ms)
{
    return s->done >= s->whole / 10 || (now_ms > s->start_ms && now_ms - s->start_ms >= ETA_AFTER_MS);
}

int status_copy_text(StatusCopy *s, uint64_t now_ms, char *out, size_t size)
{
    int copying = s->done < s->whole;
    uint64_t waited = rate_idle_ms(&s->meter, now_ms);
    if (copying && waited > STATUS_WAIT_MS) {
        eta_update(&s->eta, now_ms, ETA_NONE);
        return status_wait_line(out, size, waited);
    }
    uint64_t speed = rate_speed(&s->meter, now_ms);
    uint64_t left = ETA_NONE;
    if (copying && status_enough_to_go_on(s, now_ms)) {
        uint64_t estimate = speed ? (s->whole - s->done) * 1000 / speed : ETA_NONE;
        left = eta_update(&s->eta, now_ms, estimate);
    }
    return status_copy_line(out, size, s->disc, s->file, s->done, s->whole, speed, left);
}

// Bytes in MB, rounded: with one decimal below 10 MB or when tenths are
// asked for, else whole.
static void status_megabytes(uint64_t bytes, int tenths, char *out, size_t size)
{
    uint64_t t = (bytes * 10 + MB / 2) / MB;
    if (t < 100 || tenths)
        fmt(out, size, "%llu.%llu", (unsigned long long)(t / 10), (unsigned long long)(t % 10));
    else
        fmt(out, size, "%llu", (unsigned long long)((bytes + MB / 2) / MB));
}

// 1 when the speed is told in KB/s: a single-speed drive reads 150 KB/s,
// which "0.1 MB/s" would get wrong by a third.
static int status_slow(uint64_t speed)
{
    return (speed + KB / 2) / KB < SLOW_KB;
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
        status_megabytes(speed, 0, mb, sizeof mb);
        fmt(out, size, "%s MB/s", mb);
    }
}

int status_copy_line(char *out, size_t size, int disc, const char *file, uint64_t done, uint64_t whole,
                     uint64_t speed, uint64_t left_ms)
{
    char done_mb[24], whole_mb[24], speed_part[32], left[64];
    status_megabytes(done, speed != 0 && status_slow(speed), done_mb, sizeof done_mb);
    status_megabytes(whole, 0, whole_mb, sizeof whole_mb);
    status_speed_part(speed, speed_part, sizeof speed_part);
    left[0] = 0;
    if (left_ms != ETA_NONE)
        eta_words(left_ms, left, sizeof left);
    return fmt(out, size, "CD %d: %s%s%s of %s MB%s%s%s%s", disc, file, file[0] ? " - " : "", done_mb, whole_mb,
               speed_part[0] ? ", " : "", speed_part, left[0] ? ", " : "", left);
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
