// What the install tells whoever runs it about a disc being copied: the
// disc with its size, then each file by its path on the disc, for a status
// line that names the file and counts the bytes.
#include <string.h>

#include "install/running.h"

// Names the file to the host by its path on the disc, then hands on to the
// watch that was there before.
static void tell_file_begun(void *ctx, const char *dst, uint64_t size)
{
    const DiscTelling *t = (const DiscTelling *)ctx;
    const InstallHost *host = t->in->host;
    if (strlen(dst) > t->skip)
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

// Whether a file is wanted is for the watch that was there before.
static int tell_file_wanted(void *ctx, const char *dst, uint64_t size, uint32_t *crc)
{
    const DiscTelling *t = (const DiscTelling *)ctx;
    if (t->before && t->before->wanted)
        return t->before->wanted(t->before->ctx, dst, size, crc);
    return 1;
}

// The host counts the disc's bytes from where the progress record stands
// now: the bar's count may have been spread anew just before.
void tell_disc_begins(Install *in, int disc, uint64_t whole, const char *dst)
{
    const InstallHost *host = in->host;
    if (!host)
        return;
    if (host->disc)
        host->disc(host->ctx, disc, whole, in->progress.done);
    if (!host->file)
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

void tell_disc_ends(Install *in)
{
    if (in->progress.watch == &in->telling.watch)
        in->progress.watch = in->telling.before;
}
