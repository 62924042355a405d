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

// The speed is that of the last five seconds of reading: longer than the
// seconds a drive may go quiet between the bursts it delivers in, short
// enough that the line follows a drive that slows down on a worn part of
// the disc. A stall is no reading: it is shown as the wait it is, and the
// speed and the time left are those of the data when it flows.
enum {
    RATE_WINDOW_MS = 5000, // of reading, stalls left out
    RATE_SLOT_MS = 125,    // samples closer than this share one point
    RATE_POINTS = 64,      // 64 slots of 125 ms: 8 s, more than a window
    RATE_MIN_MS = 1000,    // no speed from less than a second of reading
    RATE_RHYTHM_GAPS = 9,  // the drive's rhythm: the middle one of its last gaps
    RATE_STALL_TIMES = 3,  // a wait this many times the rhythm is a stall
    STATUS_WAIT_MS = 2000, // a read that takes this long shows the wait
    STATUS_PACE_MS = 250,  // the line is drawn at most four times a second
    ETA_AFTER_MS = 15000,  // a time left after 15 s of the phase, or a tenth of what is to be read,
                           // and a whole window of reading behind the speed
    ETA_JUMP_MS = 8000,    // how long an estimate must stay somewhat off to be taken,
    ETA_JUMP_SHARE = 8,    // or for an eighth of the time shown, when that is shorter
    ETA_JUMP_PERCENT = 25, // what somewhat off is
    ETA_FAR_TIMES = 2,     // more than twice or less than half a fresh estimate: taken at once
    ETA_NEAR_MS = 5000,    // no jump between values this close: the line's smallest step
};

// "No time left to show": not enough to go on yet, or nothing left.
static const uint64_t ETA_NONE = ~(uint64_t)0;

// One point of the meter: the bytes counted by a moment.
struct RatePoint {
    uint64_t ms;
    uint64_t bytes;
};

// The byte counts of the last seconds of reading. Samples that bring no
// new bytes add nothing; samples within one slot update its point, so the
// ring covers at least 8 s however often the caller feeds it.
struct RateMeter {
    RatePoint pt[RATE_POINTS]; // a ring; pt[first] is the oldest point
    int first;
    int count;
    uint64_t slot_ms; // when the newest point's slot began
};

// Starts counting: bytes already read at now_ms, no history.
void rate_start(RateMeter *m, uint64_t now_ms, uint64_t bytes);
// One sample, as often as the caller likes: after each block read, or on a
// timer with the count unchanged (which adds nothing). A count that does not
// grow, or a time before the newest point, is ignored.
void rate_add(RateMeter *m, uint64_t now_ms, uint64_t bytes);
// Bytes per second over the last RATE_WINDOW_MS of reading, each point's
// bytes spread over the time since the point before: a drive that hands
// over 1 MiB every 4 s was reading all along, and shows a steady speed. A
// gap between points that the line showed as a wait (STATUS_WAIT_MS or
// longer) and that is more than RATE_STALL_TIMES the drive's
// rhythm (the middle one of its last RATE_RHYTHM_GAPS gaps) was a stall:
// it counts as one rhythm, the time its bytes took once the drive read
// again; without a rhythm yet (a single gap) it counts as nothing. A read in progress that has taken longer than the rhythm, and is
// no stall yet, counts as reading that brought nothing so far. 0 while
// there is less than RATE_MIN_MS of reading or no byte has come yet.
uint64_t rate_speed(const RateMeter *m, uint64_t now_ms);
// The reading time, at most RATE_WINDOW_MS, that rate_speed goes by.
uint64_t rate_history_ms(const RateMeter *m, uint64_t now_ms);
// Milliseconds since bytes last came (or since the start, before any did).
uint64_t rate_idle_ms(const RateMeter *m, uint64_t now_ms);
// 1 when the read in progress has become a stall by rate_speed's rule: it
// has taken STATUS_WAIT_MS or more, and more than RATE_STALL_TIMES the
// drive's rhythm. A drive that hands over its bytes every few seconds
// waits that long as it reads; one that stalls reads nothing meanwhile.
int rate_stalled(const RateMeter *m, uint64_t now_ms);

// The time left as the line shows it. It counts down with the clock and
// leans towards each new estimate, so it never rises because the estimate
// wobbles; it takes a new estimate at once when the shown value is more
// than ETA_FAR_TIMES the estimate or less than its 1/ETA_FAR_TIMES, and
// otherwise when the estimate stays more than ETA_JUMP_PERCENT off for
// ETA_JUMP_MS, or for an eighth of the time shown where that is shorter:
// a short copy cannot wait as long. Values within ETA_NEAR_MS of each
// other are never jumped between.
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
// is none: the value then counts down with the clock and the time spent
// off starts again). Returns the milliseconds to show, or ETA_NONE before
// the first estimate.
uint64_t eta_update(EtaState *e, uint64_t now_ms, uint64_t estimate_ms);
// The shown value stands still until now_ms: while the drive stalls, what
// is left to read stays as it was.
void eta_hold(EtaState *e, uint64_t now_ms);
// The time left as people say it, into out[size]: "about 40 seconds left"
// (5 s steps up to 15 s, then 10 s steps), "about 1 minute left", "about
// 90 seconds left", whole minutes up to 20 minutes, then 5 minute steps, and
// from an hour on 10 minute steps: "about 1 hour 20 minutes left". Returns
// the length.
int eta_words(uint64_t left_ms, char *out, size_t size);

// The reading phases the line tells of, each with its own words.
enum StatusPhase {
    STATUS_COPY,       // a disc's copy: "CD 1: ..."
    STATUS_READ_AGAIN, // its damaged files read again: "CD 1, reading again: ..."
};

// One reading phase, as the status line tells it: its own count of bytes,
// of which some may be found whole already (a repair, a resumed install)
// and are counted without being read.
struct StatusCopy {
    int phase;         // StatusPhase
    int disc;          // 1 or 2
    uint64_t whole;    // bytes the phase counts to
    uint64_t skip;     // of them, bytes expected to be found whole and not read
    uint64_t done;     // bytes counted so far, read or found whole
    uint64_t skipped;  // of them, bytes found whole
    uint64_t start_ms; // when the phase began
    uint64_t found_ms; // when bytes were last found whole
    int tenths;        // the MB done are shown with a decimal from now on
    char file[260];    // the file being read, as a log line shows it
    RateMeter meter;   // of the bytes read
    EtaState eta;
};

// A new phase of whole bytes, skip of them expected to be found whole, for
// disc (1 or 2), beginning at now_ms.
void status_copy_begin(StatusCopy *s, int phase, int disc, uint64_t whole, uint64_t skip, uint64_t now_ms);
// The file now being read, its path on the disc ("TARNOK\DISK1\X.DAT");
// control characters of a damaged name are escaped as in the log.
void status_copy_file(StatusCopy *s, const char *file);
// Bytes of a file found whole at now_ms: counted at once, never read.
void status_copy_skipped(StatusCopy *s, uint64_t now_ms, uint64_t bytes);
// Bytes counted by now_ms, read or found whole, from the phase's
// beginning; the count never goes back.
void status_copy_bytes(StatusCopy *s, uint64_t now_ms, uint64_t done);
// The line for now_ms into out[size]: the wait once a read has taken
// STATUS_WAIT_MS, else the phase's line with the speed once known and
// the time left once there is enough to go on. Feeds the time left, so call
// it whenever the line is drawn. Returns the length.
int status_copy_text(StatusCopy *s, uint64_t now_ms, char *out, size_t size);

// What one line of a reading phase says. speed 0 leaves the speed out,
// left_ms ETA_NONE the time left; an empty file name leaves out the name.
struct StatusFigures {
    int phase;        // StatusPhase
    int disc;
    const char *file;
    uint64_t done, whole;
    uint64_t speed;   // bytes a second
    uint64_t left_ms;
    int tenths;       // the MB done with one decimal, whatever the speed
};

// "CD 1: TARNOK\DISK1\MUSIC\MUSIK1.WAV - 212 of 640 MB, 3.4 MB/s, about 2
// minutes left", or with another phase's words before the colon, cut at
// out[size] never inside a UTF-8 sequence. Sizes below 10 MB have one
// decimal, and so has the part done while the speed is below 1 MB/s (shown
// in KB/s), or when tenths asks for it: whole megabytes would then stay the
// same for seconds. Whole megabytes done are counted down, so that the
// decimal, once it comes, never shows less than they did; the part done
// is never more than the whole. Speeds below 10 MB/s have one decimal.
// Returns the length.
int status_copy_line(char *out, size_t size, const StatusFigures *f);
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
