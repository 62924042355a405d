// Reading ahead for image copies. While the copy's own thread creates and
// writes one file, a second thread reads the next files' sectors from the
// image, through a handle of its own, into a small ring of buffers. Only
// reading moves to that thread: every file is still created, written and
// closed by the copy's thread, in the same order, because under Wine more
// threads creating files only queue behind the same server.
//
// The copy posts the extents it will read, in the order it will read them,
// and takes each run as it comes to it. A run is taken only when it is the
// very one the copy asks for and was read whole; otherwise the copy reads it
// itself, as it would without this thread, so that a failure shows at the
// same step, with the same message, as before.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "cdsrc/cdinternal.h"

enum {
    AHEAD_SLOTS = 4,  // runs read ahead and not yet written, at most
    AHEAD_QUEUE = 64, // extents posted and not yet read, at most
};

struct AheadExtent {
    uint64_t lba;
    uint64_t sectors;
    uint64_t bytes; // of the file, not yet read: the last run ends inside its sector
};

struct AheadSlot {
    uint64_t lba;
    uint32_t k;
    uint32_t len; // bytes of the file in this run
    int ok;
    uint32_t crc; // CRC-32 of those bytes, taken here so that the copy need not
    unsigned char *data;
};

// One copy at a time, like the image reader's own buffer. Everything below
// the lock is shared; the reader fills slots[(head + ready) % AHEAD_SLOTS],
// the copy takes slots[head].
static struct {
    int on;
    HANDLE thread, image;
    ImageRead layout; // read with the reader's own handle
    SRWLOCK lock;
    CONDITION_VARIABLE changed;
    AheadExtent queue[AHEAD_QUEUE];
    uint32_t queue_first, queue_count;
    AheadSlot slots[AHEAD_SLOTS];
    uint32_t head, ready;
    int reading, stop;
} ah;

static uint32_t run_length(uint64_t sectors)
{
    return sectors < (uint64_t)RUN_SECTORS ? (uint32_t)sectors : (uint32_t)RUN_SECTORS;
}

// Reads k sectors from lba into slot, its data bytes packed at the start.
// A sector that fails its check fails the run: the copy then reads it
// itself, and meets the damage where it names the file.
static int read_slot(uint64_t lba, uint32_t k, unsigned char *data)
{
    unsigned long error;
    uint64_t bad;
    return image_read_run(&ah.layout, lba, k, data, &error, &bad) > 0;
}

static DWORD WINAPI reader(void *unused)
{
    (void)unused;
    AcquireSRWLockExclusive(&ah.lock);
    for (;;) {
        while (!ah.stop && (ah.queue_count == 0 || ah.ready == AHEAD_SLOTS))
            SleepConditionVariableSRW(&ah.changed, &ah.lock, INFINITE, 0);
        if (ah.stop)
            break;
        AheadExtent *e = &ah.queue[ah.queue_first];
        AheadSlot *s = &ah.slots[(ah.head + ah.ready) % AHEAD_SLOTS];
        s->lba = e->lba;
        s->k = run_length(e->sectors);
        s->len = (uint64_t)s->k * ISO_SECTOR < e->bytes ? s->k * ISO_SECTOR : (uint32_t)e->bytes;
        e->lba += s->k;
        e->sectors -= s->k;
        e->bytes -= s->len;
        if (e->sectors == 0) {
            ah.queue_first = (ah.queue_first + 1) % AHEAD_QUEUE;
            ah.queue_count--;
        }
        ah.reading = 1;
        ReleaseSRWLockExclusive(&ah.lock);
        int ok = read_slot(s->lba, s->k, s->data);
        uint32_t crc = ok ? crc32_buf(s->data, s->len) : 0;
        AcquireSRWLockExclusive(&ah.lock);
        s->ok = ok;
        s->crc = crc;
        ah.reading = 0;
        ah.ready++;
        WakeAllConditionVariable(&ah.changed);
    }
    ReleaseSRWLockExclusive(&ah.lock);
    return 0;
}

void ahead_start(CdSource *src)
{
    memset(&ah, 0, sizeof ah);
    InitializeSRWLock(&ah.lock);
    InitializeConditionVariable(&ah.changed);
    // The reader's own handle, so that its position never moves under the
    // copy's reads of directories; and it must be the image being copied.
    ah.image = CreateFileA(src->path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (ah.image == INVALID_HANDLE_VALUE)
        return;
    ah.layout = image_read_of(src);
    ah.layout.image = ah.image;
    int ok = same_open_file(ah.image, src->image);
    for (int i = 0; ok && i < AHEAD_SLOTS; i++)
        ok = (ah.slots[i].data = (unsigned char *)malloc((size_t)RUN_SECTORS * ISO_RAW_MAX)) != NULL;
    if (ok)
        ah.thread = CreateThread(NULL, 0, reader, NULL, 0, NULL);
    ah.on = ah.thread != NULL;
    if (!ah.on)
        ahead_stop();
}

void ahead_stop(void)
{
    if (ah.thread) {
        AcquireSRWLockExclusive(&ah.lock);
        ah.stop = 1;
        WakeAllConditionVariable(&ah.changed);
        ReleaseSRWLockExclusive(&ah.lock);
        WaitForSingleObject(ah.thread, INFINITE);
        CloseHandle(ah.thread);
    }
    if (ah.image != INVALID_HANDLE_VALUE && ah.image)
        CloseHandle(ah.image);
    for (int i = 0; i < AHEAD_SLOTS; i++)
        free(ah.slots[i].data);
    memset(&ah, 0, sizeof ah);
}

int ahead_post(uint32_t lba, uint64_t size)
{
    if (!ah.on || size == 0)
        return 1;
    AcquireSRWLockExclusive(&ah.lock);
    int room = ah.queue_count < AHEAD_QUEUE;
    if (room) {
        AheadExtent *e = &ah.queue[(ah.queue_first + ah.queue_count) % AHEAD_QUEUE];
        e->lba = lba;
        e->sectors = iso_sectors(size);
        e->bytes = size;
        ah.queue_count++;
        WakeAllConditionVariable(&ah.changed);
    }
    ReleaseSRWLockExclusive(&ah.lock);
    return room;
}

const unsigned char *ahead_take(uint32_t lba, uint32_t k, uint32_t *crc)
{
    if (!ah.on)
        return NULL;
    AcquireSRWLockExclusive(&ah.lock);
    while (ah.ready == 0 && (ah.reading || ah.queue_count > 0))
        SleepConditionVariableSRW(&ah.changed, &ah.lock, INFINITE, 0);
    const AheadSlot *s = &ah.slots[ah.head];
    int match = ah.ready > 0 && s->lba == lba && s->k == k;
    int ok = match && s->ok, astray = ah.ready > 0 && !match;
    *crc = s->crc;
    ReleaseSRWLockExclusive(&ah.lock);
    if (ok)
        return s->data;
    // A run that was read but failed is dropped, and the copy meets the
    // failure itself. A run out of order means the posts no longer follow
    // the copy: it reads on without this thread.
    if (match)
        ahead_release();
    else if (astray)
        ahead_stop();
    return NULL;
}

void ahead_release(void)
{
    if (!ah.on)
        return;
    AcquireSRWLockExclusive(&ah.lock);
    ah.head = (ah.head + 1) % AHEAD_SLOTS;
    ah.ready--;
    WakeAllConditionVariable(&ah.changed);
    ReleaseSRWLockExclusive(&ah.lock);
}
