// The status line of a disc copy, driven by simulated drives on a simulated
// clock: the speed, the time left, the wait for a stalled drive, the words
// and the pace of redrawing.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdio.h>
#include <string.h>

#include <sstream>
#include <string>
#include <vector>

#include "setup/status.h"
#include "util/util.h"

static const uint64_t KIB = 1024, MIB = 1048576;
// The caller's clock does not start at 0.
static const uint64_t BASE = 86400000;
static const char FILE_NAME[] = "TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV";

// A drive that hands over `block` bytes at a time at an average of `rate`
// bytes a second, and stops for stall_ms at stall_at.
struct Drive {
    const char *name;
    uint64_t rate;
    uint64_t block;
    uint64_t whole;
    uint64_t stall_at; // ms after the start; 0: never
    uint64_t stall_ms;
};

// What the line said at one tick of the window's 250 ms timer.
struct Tick {
    uint64_t ms;       // since the start
    std::string text;
    uint64_t speed;    // the meter's, also while the wait is shown
    uint64_t left;     // the time left shown, or ETA_NONE
    uint64_t truth;    // ms until the copy really ends
    uint64_t done;
    uint64_t idle;     // ms since the last data came
};

// When block k (from 1) arrives, ms after the start.
static uint64_t arrival(const Drive &d, uint64_t k)
{
    uint64_t t = k * d.block * 1000 / d.rate;
    if (d.stall_ms && t >= d.stall_at)
        t += d.stall_ms;
    return t;
}

// Copies the disc: each block is counted in 64 KiB reads, as the copy reads
// it, and the timer ticks feed the unchanged count too before drawing.
static std::vector<Tick> copy_disc(const Drive &d)
{
    static StatusCopy s;
    status_copy_begin(&s, 1, d.whole, BASE);
    status_copy_file(&s, FILE_NAME);
    uint64_t blocks = (d.whole + d.block - 1) / d.block;
    uint64_t end = arrival(d, blocks), last = 0, k = 0, done = 0;
    std::vector<Tick> ticks;
    for (uint64_t t = 250; k < blocks; t += 250) {
        while (k < blocks && arrival(d, k + 1) <= t) {
            k++;
            last = arrival(d, k);
            uint64_t upto = k * d.block < d.whole ? k * d.block : d.whole;
            while (done < upto) {
                done = done + 64 * KIB < upto ? done + 64 * KIB : upto;
                status_copy_bytes(&s, BASE + last, done);
            }
        }
        status_copy_bytes(&s, BASE + t, done);
        char line[300];
        status_copy_text(&s, BASE + t, line, sizeof line);
        uint64_t left = s.eta.shown ? (uint64_t)s.eta.left_ms : ETA_NONE;
        if (!strstr(line, "left"))
            left = ETA_NONE;
        ticks.push_back({t, line, rate_speed(&s.meter, BASE + t), left, end > t ? end - t : 0, done, t - last});
    }
    return ticks;
}

static int waiting(const Tick &t)
{
    return t.text.rfind("Waiting for the drive (", 0) == 0;
}

static double off(uint64_t value, uint64_t truth)
{
    return ((double)value - (double)truth) / (double)truth;
}

// The longest time in ms that the line stayed the same.
static uint64_t longest_same(const std::vector<Tick> &ticks)
{
    uint64_t longest = 0, since = 0;
    for (size_t i = 1; i < ticks.size(); i++) {
        if (ticks[i].text != ticks[i - 1].text)
            since = ticks[i].ms;
        else if (ticks[i].ms - since > longest)
            longest = ticks[i].ms - since;
    }
    return longest;
}

// The first tick at which half the disc is copied.
static const Tick &half_way(const std::vector<Tick> &ticks, uint64_t whole)
{
    for (const Tick &t : ticks)
        if (t.done >= whole / 2)
            return t;
    return ticks.back();
}

// Steady drives: a single-speed drive, an 8x one, and an image on a disk
// that hands over many reads within one slot of the meter.
TEST(StatusCopy, SteadyDrives)
{
    struct Case {
        Drive d;
        const char *speed_words;
    } cases[] = {
        {{"1x", 150 * KIB, 64 * KIB, 100 * MIB, 0, 0}, ", 150 KB/s"},
        {{"8x", 1200 * KIB, 64 * KIB, 300 * MIB, 0, 0}, ", 1.2 MB/s"},
        {{"image", 90 * MIB, 1 * MIB, 1800 * MIB, 0, 0}, ", 90 MB/s"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.d.name);
        std::vector<Tick> ticks = copy_disc(c.d);
        uint64_t last_left = ETA_NONE;
        for (const Tick &t : ticks) {
            EXPECT_FALSE(waiting(t)) << t.ms;
            EXPECT_NE(std::string::npos, t.text.find(FILE_NAME)) << t.text;
            if (t.ms >= RATE_WINDOW_MS) {
                EXPECT_NEAR(0, off(t.speed, c.d.rate), 0.05) << t.ms << " " << t.text;
            }
            int enough = t.ms >= ETA_AFTER_MS || t.done >= c.d.whole / 10;
            if (!enough) {
                EXPECT_EQ(ETA_NONE, t.left) << t.ms << " " << t.text;
            }
            if (t.ms >= ETA_AFTER_MS && t.done < c.d.whole) {
                EXPECT_NE(ETA_NONE, t.left) << t.ms << " " << t.text;
                EXPECT_LE(t.left, last_left) << t.ms;
                last_left = t.left;
            }
        }
        const Tick &half = half_way(ticks, c.d.whole);
        EXPECT_NEAR(0, off(half.left, half.truth), 0.10) << half.text;
        EXPECT_NE(std::string::npos, half.text.find(c.speed_words)) << half.text;
        EXPECT_LE(longest_same(ticks), 2000u);
    }
}

// Drives that deliver in bursts show a steady speed all the same.
TEST(StatusCopy, BurstyDrives)
{
    Drive drives[] = {
        {"64 KiB every 400 ms", 160 * KIB, 64 * KIB, 40 * MIB, 0, 0},
        {"1 MiB every 4 s", 256 * KIB, 1 * MIB, 40 * MIB, 0, 0},
    };
    for (const Drive &d : drives) {
        SCOPED_TRACE(d.name);
        std::vector<Tick> ticks = copy_disc(d);
        for (const Tick &t : ticks) {
            if (t.ms >= RATE_WINDOW_MS) {
                EXPECT_NEAR(0, off(t.speed, d.rate), 0.05) << t.ms << " " << t.text;
            }
            // A read that takes longer than the limit is a wait, however
            // regular the drive.
            EXPECT_EQ(t.idle > STATUS_WAIT_MS, waiting(t)) << t.ms << " " << t.text;
        }
        const Tick &half = half_way(ticks, d.whole);
        EXPECT_NEAR(0, off(half.left, half.truth), 0.10) << half.text;
        EXPECT_LE(longest_same(ticks), 2000u);
    }
}

// An 8x drive that stops for 6 s near the middle of the disc.
TEST(StatusCopy, StallIsShownCountingAndTheSpeedRecovers)
{
    const uint64_t stall_at = 80000, stall_ms = 6000, rate = 1200 * KIB;
    Drive d = {"stall", rate, 64 * KIB, 200 * MIB, stall_at, stall_ms};
    std::vector<Tick> ticks = copy_disc(d);
    uint64_t first_wait = 0, last_wait = 0, last_left = ETA_NONE, before_data = 0;
    unsigned long long last_count = 0;
    for (const Tick &t : ticks) {
        if (waiting(t)) {
            unsigned long long n = 0;
            ASSERT_EQ(1, sscanf(t.text.c_str(), "Waiting for the drive (%llu s) ...", &n)) << t.text;
            EXPECT_EQ(t.idle / 1000, n) << t.ms;
            EXPECT_GE(n, last_count);
            last_count = n;
            first_wait = first_wait ? first_wait : t.ms;
            last_wait = t.ms;
        } else {
            EXPECT_NE(std::string::npos, t.text.find(FILE_NAME)) << t.text;
        }
        if (t.ms < stall_at + stall_ms && t.idle > 0)
            before_data = t.speed; // the speed just before the data came again
        if (t.ms >= stall_at + stall_ms + RATE_WINDOW_MS + 250) {
            EXPECT_NEAR(0, off(t.speed, rate), 0.05) << t.ms << " " << t.text;
        }
        if (t.left != ETA_NONE) {
            // Neither the pause nor the slow speed after it makes the time
            // left jump up.
            EXPECT_LE(t.left, last_left) << t.ms;
            last_left = t.left;
        }
    }
    EXPECT_GT(first_wait, stall_at + STATUS_WAIT_MS - 250);
    EXPECT_LE(first_wait, stall_at + STATUS_WAIT_MS + 250);
    EXPECT_GE(last_wait, stall_at + stall_ms - 250);
    EXPECT_LE(last_wait, stall_at + stall_ms + 250);
    EXPECT_GE(last_count, 5u);
    EXPECT_LT(before_data, rate / 2);
    const Tick &half = half_way(ticks, d.whole);
    EXPECT_NEAR(0, off(half.left, half.truth), 0.10) << half.text;
    EXPECT_LE(longest_same(ticks), 2000u);
}

TEST(StatusMeter, NoSpeedBeforeASecondOfHistory)
{
    RateMeter m;
    rate_start(&m, BASE, 0);
    EXPECT_EQ(0u, rate_speed(&m, BASE + 3000)); // nothing came at all
    rate_add(&m, BASE + 400, 64 * KIB);
    rate_add(&m, BASE + 800, 128 * KIB);
    EXPECT_EQ(0u, rate_speed(&m, BASE + 900));
    rate_add(&m, BASE + 1200, 192 * KIB);
    EXPECT_EQ(160 * KIB, rate_speed(&m, BASE + 1200));
    // Counts that do not grow, and a clock that went back, are ignored.
    rate_add(&m, BASE + 1500, 192 * KIB);
    rate_add(&m, BASE + 1100, 1 * MIB);
    EXPECT_EQ(160 * KIB, rate_speed(&m, BASE + 1200));
}

// The milliseconds a time-left text stands for.
static uint64_t said_ms(const std::string &words)
{
    std::istringstream in(words);
    std::string w;
    uint64_t total = 0, n = 0;
    while (in >> w) {
        if (isdigit((unsigned char)w[0]))
            n = std::stoull(w);
        else if (w.rfind("second", 0) == 0)
            total += n * 1000;
        else if (w.rfind("minute", 0) == 0)
            total += n * 60000;
        else if (w.rfind("hour", 0) == 0)
            total += n * 3600000;
    }
    return total;
}

static std::string words(uint64_t ms)
{
    char out[64];
    eta_words(ms, out, sizeof out);
    return out;
}

TEST(StatusEta, RoundsAsPeopleDo)
{
    const uint64_t s = 1000, m = 60 * s, h = 60 * m;
    struct Case {
        uint64_t ms;
        const char *words;
    } cases[] = {
        {0, "about 5 seconds left"},
        {7499, "about 5 seconds left"},
        {7500, "about 10 seconds left"},
        {17499, "about 15 seconds left"},
        {17500, "about 20 seconds left"},
        {44999, "about 40 seconds left"},
        {45 * s, "about 50 seconds left"},
        {55 * s, "about 1 minute left"},
        {75 * s - 1, "about 1 minute left"},
        {75 * s, "about 90 seconds left"},
        {105 * s, "about 2 minutes left"},
        {2 * m + 29 * s, "about 2 minutes left"},
        {2 * m + 30 * s, "about 3 minutes left"},
        {19 * m + 29 * s, "about 19 minutes left"},
        {19 * m + 30 * s, "about 20 minutes left"},
        {22 * m + 30 * s, "about 25 minutes left"},
        {57 * m + 29 * s, "about 55 minutes left"},
        {57 * m + 30 * s, "about 1 hour left"},
        {80 * m, "about 1 hour 20 minutes left"},
        {h + 84 * m, "about 2 hours 20 minutes left"},
        {2 * h + 4 * m, "about 2 hours left"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.words, words(c.ms)) << c.ms;
    // Counting down, the words never go up; from 20 s on they are never a
    // fifth away from the time.
    uint64_t last = ~(uint64_t)0;
    for (int64_t ms = 5 * h; ms >= 0; ms -= 1000) {
        uint64_t said = said_ms(words((uint64_t)ms));
        ASSERT_LE(said, last) << ms;
        last = said;
        if ((uint64_t)ms >= 20 * s) {
            ASSERT_NEAR(0, off(said, (uint64_t)ms), 0.20) << ms;
        }
    }
}

// An estimate that wobbles by 8 % either way each second, at random.
TEST(StatusEta, WobbleShowsASteadilyFallingValue)
{
    EtaState e;
    eta_reset(&e);
    const uint64_t total = 600000;
    uint32_t seed = 12345;
    uint64_t estimate = total, last = ETA_NONE;
    for (uint64_t t = 0; t <= total - 30000; t += 250) {
        if (t % 1000 == 0) {
            seed = seed * 1103515245u + 12345u;
            estimate = (total - t) * ((seed >> 16) & 1 ? 108 : 92) / 100;
        }
        uint64_t shown = eta_update(&e, BASE + t, estimate);
        ASSERT_LE(shown, last) << t;
        ASSERT_NEAR(0, off(shown, total - t), 0.10) << t;
        last = shown;
    }
}

// A lasting change of speed is taken after ETA_JUMP_MS, a dip shorter than
// that is not; the shown value never rises before.
TEST(StatusEta, TakesALastingChangeNotADip)
{
    struct Case {
        const char *name;
        int percent;       // the estimate against the truth from 60 s on
        uint64_t until_ms; // and until then
        int taken;
    } cases[] = {
        {"slower", 150, ~(uint64_t)0, 1},
        {"faster", 50, ~(uint64_t)0, 1},
        {"dip of 5 s", 300, 65000, 0},
        {"20 % slower", 120, ~(uint64_t)0, 0},
    };
    const uint64_t total = 600000, change = 60000;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EtaState e;
        eta_reset(&e);
        uint64_t last = ETA_NONE, taken_at = 0;
        for (uint64_t t = 0; t <= 120000; t += 250) {
            uint64_t estimate = total - t;
            if (t >= change && t < c.until_ms)
                estimate = estimate * c.percent / 100;
            uint64_t shown = eta_update(&e, BASE + t, estimate);
            if (shown > last || shown + 5000 < last)
                taken_at = taken_at ? taken_at : t;
            last = shown;
        }
        if (c.taken) {
            EXPECT_GE(taken_at, change + ETA_JUMP_MS);
            EXPECT_LE(taken_at, change + ETA_JUMP_MS + 250);
        } else {
            EXPECT_EQ(0u, taken_at);
        }
    }
}

TEST(StatusEta, NothingBeforeTheFirstEstimate)
{
    EtaState e;
    eta_reset(&e);
    EXPECT_EQ(ETA_NONE, eta_update(&e, BASE, ETA_NONE));
    EXPECT_EQ(90000u, eta_update(&e, BASE + 1000, 90000));
    // Without an estimate it counts down with the clock.
    EXPECT_EQ(80000u, eta_update(&e, BASE + 11000, ETA_NONE));
    EXPECT_EQ(0u, eta_update(&e, BASE + 200000, ETA_NONE));
}

TEST(StatusText, Lines)
{
    const uint64_t mb = MIB;
    struct Case {
        int disc;
        const char *file;
        uint64_t done, whole, speed, left;
        const char *line;
    } cases[] = {
        {1, FILE_NAME, 212 * mb, 640 * mb, 34 * mb / 10, 120000,
         "CD 1: TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV - 212 of 640 MB, 3.4 MB/s, about 2 minutes left"},
        {1, FILE_NAME, 212 * mb, 640 * mb, 34 * mb / 10, ETA_NONE,
         "CD 1: TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV - 212 of 640 MB, 3.4 MB/s"},
        {1, FILE_NAME, 212 * mb, 640 * mb, 0, ETA_NONE, "CD 1: TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV - 212 of 640 MB"},
        {2, "", 0, 512 * mb, 0, ETA_NONE, "CD 2: 0.0 of 512 MB"},
        {2, "A.DAT", 34 * mb / 10, 8 * mb, 12 * mb + mb / 2, 40000,
         "CD 2: A.DAT - 3.4 of 8.0 MB, 13 MB/s, about 40 seconds left"},
        {1, "A.DAT", 2124 * mb / 10, 640 * mb, 150 * KIB, 48 * 60000,
         "CD 1: A.DAT - 212.4 of 640 MB, 150 KB/s, about 50 minutes left"},
        {1, "A.DAT", 9999 * KIB, 10 * mb, 10 * mb - 1, 20000,
         "CD 1: A.DAT - 9.8 of 10 MB, 10 MB/s, about 20 seconds left"},
        {1, "A.DAT", 100 * mb, 640 * mb, 999 * KIB, ETA_NONE, "CD 1: A.DAT - 100.0 of 640 MB, 999 KB/s"},
        {1, "A.DAT", 100 * mb, 640 * mb, 1000 * KIB, ETA_NONE, "CD 1: A.DAT - 100 of 640 MB, 1.0 MB/s"},
    };
    for (const Case &c : cases) {
        char out[300];
        int n = status_copy_line(out, sizeof out, c.disc, c.file, c.done, c.whole, c.speed, c.left);
        EXPECT_STREQ(c.line, out);
        EXPECT_EQ((int)strlen(c.line), n);
    }
    char out[80];
    status_wait_line(out, sizeof out, 2001);
    EXPECT_STREQ("Waiting for the drive (2 s) ...", out);
    status_wait_line(out, sizeof out, 7999);
    EXPECT_STREQ("Waiting for the drive (7 s) ...", out);
    status_compile_line(out, sizeof out, 37, 120);
    EXPECT_STREQ("Compiling the converted game: 37 of 120 files", out);
    status_compile_line(out, sizeof out, 1, 1);
    EXPECT_STREQ("Compiling the converted game: 1 of 1 file", out);
    for (int step : {STATUS_UNPACK, STATUS_ARRANGE, STATUS_RECOMPILE, STATUS_LINK})
        EXPECT_STRNE("", status_step_line(step)) << step;
    EXPECT_STREQ("", status_step_line(99));
}

// Every buffer size keeps a prefix of the whole line that is whole UTF-8.
TEST(StatusText, CutNeverInsideACharacter)
{
    const char *name = "TARNOK\\M\xC3\x9CSIK\\\xE6\x97\xA5\xE6\x9C\xAC.WAV";
    char whole[300];
    int n = status_copy_line(whole, sizeof whole, 1, name, 3 * MIB, 640 * MIB, 150 * KIB, 60000);
    ASSERT_TRUE(utf8_valid(whole));
    for (int size = 1; size <= n + 1; size++) {
        char out[300];
        memset(out, '#', sizeof out);
        int got = status_copy_line(out, (size_t)size, 1, name, 3 * MIB, 640 * MIB, 150 * KIB, 60000);
        EXPECT_LT(got, size);
        EXPECT_EQ((int)strlen(out), got);
        EXPECT_EQ(0, strncmp(out, whole, (size_t)got)) << size;
        EXPECT_TRUE(utf8_valid(out)) << size;
        // No more than the character that the cut split is dropped.
        EXPECT_GE(got, (size <= n ? size - 1 : n) - 3) << size;
    }
}

// A damaged name cannot break the one-line status.
TEST(StatusText, FileNamesAreEscaped)
{
    static StatusCopy s;
    status_copy_begin(&s, 1, 10 * MIB, BASE);
    status_copy_file(&s, "BAD\nNAME\x01.DAT");
    char out[200];
    status_copy_text(&s, BASE + 100, out, sizeof out);
    EXPECT_STREQ("CD 1: BAD\\nNAME\\x01.DAT - 0.0 of 10 MB", out);
}

TEST(StatusPace, AtMostFourTimesASecond)
{
    StatusPace p = {};
    std::vector<uint64_t> drawn;
    for (uint64_t t = 0; t < 2000; t += 10)
        if (status_may_draw(&p, BASE + t))
            drawn.push_back(t);
    EXPECT_EQ((std::vector<uint64_t>{0, 250, 500, 750, 1000, 1250, 1500, 1750}), drawn);
    // Calls that come late draw at once, and a clock that went back too.
    EXPECT_EQ(1, status_may_draw(&p, BASE + 2600));
    EXPECT_EQ(0, status_may_draw(&p, BASE + 2849));
    EXPECT_EQ(1, status_may_draw(&p, BASE + 100));
}
