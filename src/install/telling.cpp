// What the install tells whoever runs it about a phase of reading a disc
// (its copy, or damaged files read again): the phase with its size, then
// each file by its path on the disc, and each file found whole and not
// read, for a status line that names the file, counts the bytes and tells
// the speed of what is really read.
#include <string.h>

#include "install/running.h"

// Names the file to the host by its path on the disc, then hands on to the
// watch that was there before.
static void tell_file_begun(void *ctx, const char *dst, uint64_t size)
{
    const DiscTelling *t = (const DiscTelling *)ctx;
    const InstallHost *host = t->in->host;
    if (host->file && strlen(dst) > t->skip)
        host->file(host->ctx, dst + t->skip);
    if (t->before && t->before->begun)
        t->before->begun(t->before->ctx, dst, size);
}

// A whole file is news only for the watch that was there before.
static void tell_file_copied(void *ctx, const char *dst, uint64_t size, uint32_t crc)
{
    const DiscTelling *t = (const DiscTelling *)ctx;
    if (t->before && t->before->copied)
        t->before->copied(t->before->ctx, dst, size, crc);
}

// Whether a file is wanted is for the watch that was there before; one
// that is not is found whole, and its bytes are counted without being
// read, which the host hears before the count.
static int tell_file_wanted(void *ctx, const char *dst, uint64_t size, uint32_t *crc)
{
    const DiscTelling *t = (const DiscTelling *)ctx;
    const InstallHost *host = t->in->host;
    if (!t->before || !t->before->wanted || t->before->wanted(t->before->ctx, dst, size, crc))
        return 1;
    if (host->skipped)
        host->skipped(host->ctx, size);
    return 0;
}

// The host counts the phase's bytes from where the progress record stands
// now: the bar's count may have been spread anew just before.
void tell_reading_begins(Install *in, int kind, int disc, uint64_t whole, uint64_t skip, const char *dst)
{
    const InstallHost *host = in->host;
    if (!host)
        return;
    if (host->reading) {
        ReadingPhase phase = {kind, disc, whole, skip, in->progress.done};
        host->reading(host->ctx, &phase);
    }
    if (!host->file && !host->skipped)
        return;
    DiscTelling *t = &in->telling;
    t->in = in;
    t->skip = strlen(dst) + 1;
    t->before = in->progress.watch;
    t->watch.begun = tell_file_begun;
    t->watch.copied = tell_file_copied;
    t->watch.wanted = tell_file_wanted;
    t->watch.ctx = t;
    in->progress.watch = &t->watch;
}

void tell_reading_ends(Install *in)
{
    if (in->progress.watch == &in->telling.watch)
        in->progress.watch = in->telling.before;
}
