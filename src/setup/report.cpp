// What the setup window is told while an install runs: each log line and
// each per-mille step of the progress, as posted messages that carry their
// own data, so that the thread that reports never touches a window; and
// what the install is doing, kept for the status line that the window
// draws from it on its own clock.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "setup/setup.h"
#include "setup/status.h"

static HWND target; // the window that is told; null: none

// What the status line shows while an install runs. The install thread
// writes it as it tells what it does; the window's timer reads it.
enum {
    LIVE_NONE,    // nothing told yet: the log lines are the status line
    LIVE_READING, // a disc is being read: copied, or files read again
    LIVE_STEP,    // a step after the copies
    LIVE_COMPILE, // the conversion's compiles
};
struct Live {
    int what;      // LIVE_
    int asking;    // a question is open: the line stands still
    uint64_t from; // the progress count when the reading phase began
    StatusCopy copy;
    int step;      // the StatusStep of a LIVE_STEP
    int done, total;
};
static SRWLOCK live_lock = SRWLOCK_INIT;
static Live live;

// The window owns the copy once it is posted; if it cannot be posted,
// nobody else will free it.
static void post_line(void *ctx, const char *line)
{
    (void)ctx;
    char *copy = _strdup(line);
    if (copy && !PostMessageA(target, WM_SETUP_LOG, 0, (LPARAM)copy))
        free(copy);
}

void report_to(HWND w)
{
    target = w;
    log_listen(w ? post_line : NULL, NULL);
}

// The bytes of the reading phase, as the meter counts them.
static void count_copied(uint64_t done)
{
    AcquireSRWLockExclusive(&live_lock);
    if (live.what == LIVE_READING && done >= live.from)
        status_copy_bytes(&live.copy, GetTickCount64(), done - live.from);
    ReleaseSRWLockExclusive(&live_lock);
}

void on_progress(uint64_t done, uint64_t total, void *ctx)
{
    (void)ctx;
    static int last = -1;
    int value = 0;
    if (total != 0) {
        // Clamp before narrowing, so a count far past the budget cannot wrap
        // into a negative position.
        uint64_t v = done * 1000 / total;
        value = v > 1000 ? 1000 : (int)v;
    }
    static int traced = -1;
    if (value != traced) {
        traced = value;
        setup_trace("progress %d", value);
    }
    if (!target)
        return;
    count_copied(done);
    if (value == last)
        return;
    last = value;
    PostMessageA(target, WM_SETUP_PROGRESS, (WPARAM)(INT_PTR)value, 0);
}

// The install's reading phases as the status line words them.
static int status_phase_of(int kind)
{
    return kind == INSTALL_READ_AGAIN ? STATUS_READ_AGAIN : STATUS_COPY;
}

void report_reading(void *ctx, const ReadingPhase *phase)
{
    (void)ctx;
    AcquireSRWLockExclusive(&live_lock);
    live.what = LIVE_READING;
    live.from = phase->from;
    status_copy_begin(&live.copy, status_phase_of(phase->kind), phase->disc, phase->whole, phase->skip,
                      GetTickCount64());
    ReleaseSRWLockExclusive(&live_lock);
}

void report_file(void *ctx, const char *file)
{
    (void)ctx;
    AcquireSRWLockExclusive(&live_lock);
    if (live.what == LIVE_READING)
        status_copy_file(&live.copy, file);
    ReleaseSRWLockExclusive(&live_lock);
}

void report_skipped(void *ctx, uint64_t bytes)
{
    (void)ctx;
    AcquireSRWLockExclusive(&live_lock);
    if (live.what == LIVE_READING)
        status_copy_skipped(&live.copy, GetTickCount64(), bytes);
    ReleaseSRWLockExclusive(&live_lock);
}

// The install's steps as the status line names them.
static int status_step_of(int step)
{
    switch (step) {
    case INSTALL_UNPACK: return STATUS_UNPACK;
    case INSTALL_ARRANGE: return STATUS_ARRANGE;
    case INSTALL_RECOMPILE: return STATUS_RECOMPILE;
    case INSTALL_LINK: return STATUS_LINK;
    default: return -1;
    }
}

void report_step(void *ctx, int step, int done, int total)
{
    (void)ctx;
    AcquireSRWLockExclusive(&live_lock);
    live.what = step == INSTALL_COMPILE ? LIVE_COMPILE : LIVE_STEP;
    live.step = status_step_of(step);
    live.done = done;
    live.total = total;
    ReleaseSRWLockExclusive(&live_lock);
}

// Time spent on a question is no time of the drive's: once it is answered
// the meter and the time left start again from the bytes read so far.
void report_asking(int open)
{
    AcquireSRWLockExclusive(&live_lock);
    live.asking = open;
    if (!open && live.what == LIVE_READING) {
        uint64_t now = GetTickCount64();
        rate_start(&live.copy.meter, now, live.copy.done - live.copy.skipped);
        live.copy.found_ms = now;
        eta_reset(&live.copy.eta);
    }
    ReleaseSRWLockExclusive(&live_lock);
}

void report_live_clear(void)
{
    AcquireSRWLockExclusive(&live_lock);
    memset(&live, 0, sizeof live);
    ReleaseSRWLockExclusive(&live_lock);
}

int report_live_line(uint64_t now_ms, char *out, size_t size)
{
    int shown = 1;
    AcquireSRWLockExclusive(&live_lock);
    if (live.asking || live.what == LIVE_NONE)
        shown = 0;
    else if (live.what == LIVE_READING)
        status_copy_text(&live.copy, now_ms, out, size);
    else if (live.what == LIVE_COMPILE)
        status_compile_line(out, size, live.done, live.total);
    else
        fmt(out, size, "%s", status_step_line(live.step));
    ReleaseSRWLockExclusive(&live_lock);
    return shown && out[0];
}
