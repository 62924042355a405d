// The words and numbers of the status line while the install runs: how fast
// a disc is read, how long its copy will take, the pause of a drive that
// struggles with a worn disc, and the texts of the steps after the copies.
// Time comes from the caller as milliseconds of a clock that only goes
// forward (GetTickCount64), so everything here makes no system calls and
// builds without <windows.h>.
//
// Units: MB is 1,048,576 bytes and KB 1,024, as in the free-space message
// and as Explorer counts a disc.
#pragma once
#include <stddef.h>
#include <stdint.h>

// The speed is that of the last five seconds: longer than the seconds a
// drive may go quiet between the bursts it delivers in, short enough that
// the line follows a drive that slows down on a worn part of the disc.
enum {
    RATE_WINDOW_MS = 5000,
    RATE_SLOT_MS = 125,    // samples closer than this share one point
    RATE_POINTS = 64,      // 64 slots of 125 ms: 8 s, more than a window
    RATE_MIN_MS = 1000,    // no speed from less than a second of history
    STATUS_WAIT_MS = 2000, // a read longer than this shows the wait
    STATUS_PACE_MS = 250,  // the line is drawn at most four times a second
    ETA_AFTER_MS = 15000,  // a time left after 15 s of copying, or a tenth of the disc
    ETA_JUMP_MS = 8000,    // how long an estimate must stay far off to be taken
    ETA_JUMP_PERCENT = 25, // what far off is
};

// "No time left to show": not enough to go on yet, or nothing left.
static const uint64_t ETA_NONE = ~(uint64_t)0;

// One point of the meter: the bytes counted by a moment.
struct RatePoint {
    uint64_t ms;
    uint64_t bytes;
};

// The byte counts of the last seconds of a copy. Samples that bring no new
// bytes add nothing; samples within one slot update its point, so the ring
// covers at least 8 s however often the caller feeds it.
struct RateMeter {
    RatePoint pt[RATE_POINTS]; // a ring; pt[first] is the oldest point
    int first;
    int count;
    uint64_t slot_ms; // when the newest point's slot began
};

// Starts counting: bytes already done at now_ms, no history.
void rate_start(RateMeter *m, uint64_t now_ms, uint64_t bytes);
// One sample, as often as the caller likes: after each block read, or on a
// timer with the count unchanged (which adds nothing). A count that does not
// grow, or a time before the newest point, is ignored.
void rate_add(RateMeter *m, uint64_t now_ms, uint64_t bytes);
// Bytes per second over the last RATE_WINDOW_MS, with each point's bytes
// spread over the time since the point before: a drive that hands over
// 1 MiB every 4 s was reading all along, and shows a steady speed. A pause
// longer than any between the window's points counts as time in which
// nothing came, so the speed falls while the drive stalls. 0 while there is
// less than RATE_MIN_MS of history or no byte has come yet.
uint64_t rate_speed(const RateMeter *m, uint64_t now_ms);
// Milliseconds since bytes last came (or since the start, before any did):
// how long the read in progress has taken, as the copies read back to back.
uint64_t rate_idle_ms(const RateMeter *m, uint64_t now_ms);

// The time left as the line shows it. It counts down with the clock and
// leans towards each new estimate, so it never rises because the estimate
// wobbles; it takes a new estimate only when that stays far off (more than
// ETA_JUMP_PERCENT) for ETA_JUMP_MS, which is longer than the dip in speed
// after a pause of the drive.
struct EtaState {
    int shown;           // 1 once there has been an estimate
    int64_t left_ms;     // the value shown at updated_ms
    uint64_t updated_ms;
    int off_side;        // +1 or -1 while the estimate stays far above or below
    uint64_t off_since;  // since when it has
};

// Back to nothing shown, as at the start of a copy.
void eta_reset(EtaState *e);
// Takes an estimate of the milliseconds left at now_ms (ETA_NONE when there
// is none, as while the drive stalls: the value then counts down with the
// clock and the time spent far off starts again). Returns the milliseconds
// to show, or ETA_NONE before the first estimate.
uint64_t eta_update(EtaState *e, uint64_t now_ms, uint64_t estimate_ms);
// The time left as people say it, into out[size]: "about 40 seconds left"
// (5 s steps up to 15 s, then 10 s steps), "about 1 minute left", "about
// 90 seconds left", whole minutes up to 20 minutes, then 5 minute steps, and
// from an hour on 10 minute steps: "about 1 hour 20 minutes left". Returns
// the length.
int eta_words(uint64_t left_ms, char *out, size_t size);

// One disc being copied, as the status line tells it.
struct StatusCopy {
    int disc;          // 1 or 2
    uint64_t whole;    // bytes of all files of the disc
    uint64_t done;     // bytes copied so far
    uint64_t start_ms; // when the copy began
    char file[260];    // the file being copied, as a log line shows it
    RateMeter meter;
    EtaState eta;
};

// A new copy of disc (1 or 2) of whole bytes, beginning at now_ms.
void status_copy_begin(StatusCopy *s, int disc, uint64_t whole, uint64_t now_ms);
// The file now being copied, its path on the disc ("TARNOK\DISK1\X.DAT");
// control characters of a damaged name are escaped as in the log.
void status_copy_file(StatusCopy *s, const char *file);
// Bytes of the disc copied by now_ms, counted from the copy's beginning;
// the count never goes back.
void status_copy_bytes(StatusCopy *s, uint64_t now_ms, uint64_t done);
// The line for now_ms into out[size]: the wait while a read has taken more
// than STATUS_WAIT_MS, else the copy's line with the speed once known and
// the time left once there is enough to go on. Feeds the time left, so call
// it whenever the line is drawn. Returns the length.
int status_copy_text(StatusCopy *s, uint64_t now_ms, char *out, size_t size);

// "CD 1: TARNOK\DISK1\MUSIC\MUSIK1.WAV - 212 of 640 MB, 3.4 MB/s, about 2
// minutes left", cut at out[size] never inside a UTF-8 sequence. speed 0
// leaves the speed out, left_ms ETA_NONE the time left; an empty file name
// leaves out the name. Sizes below 10 MB have one decimal, and so has the
// part done while the speed is below 1 MB/s (shown in KB/s): whole
// megabytes would then stay the same for seconds. Speeds below 10 MB/s have
// one decimal. Returns the length.
int status_copy_line(char *out, size_t size, int disc, const char *file, uint64_t done, uint64_t whole,
                     uint64_t speed, uint64_t left_ms);
// "Waiting for the drive (7 s) ...", in whole seconds since the read began.
int status_wait_line(char *out, size_t size, uint64_t waited_ms);
// "Compiling the converted game: 37 of 120 files".
int status_compile_line(char *out, size_t size, int done, int total);

// The steps that have no numbers to tell.
enum StatusStep {
    STATUS_UNPACK,    // the 1.03 update's archive
    STATUS_ARRANGE,   // the game files into the native game's places
    STATUS_RECOMPILE, // the conversion's first stage
    STATUS_LINK,      // the conversion's last stage
};
// The line of a step; "" for a step that is not one of these.
const char *status_step_line(int step);

// When the line was last drawn. All zero: never.
struct StatusPace {
    int drawn;
    uint64_t last_ms;
};
// 1, noting now_ms, when the line may be drawn at now_ms: the first time,
// and then STATUS_PACE_MS after the last, so that drawing costs the copies
// nothing. 0 otherwise. A clock that went back draws at once.
int status_may_draw(StatusPace *p, uint64_t now_ms);
