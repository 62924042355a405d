// lha_extract: the member walk with a sink that writes files below the
// output folder, logs through setup_log, moves the install's progress and
// tells its watch of each member written.
#include <windows.h>

#include <string.h>

#include "lha/lha.h"
#include "lha/walk.h"

struct ExtractTarget {
    const char *dest;
    Progress *progress;
};

// The name for a log line, its bytes outside ASCII as \xNN.
static void escape_name(const char *name, char *out, size_t size)
{
    size_t n = 0;
    for (const unsigned char *s = (const unsigned char *)name; *s && size - n > 4; s++) {
        if (*s >= 0x20 && *s < 0x7F)
            out[n++] = (char)*s;
        else
            n += (size_t)fmt(out + n, size - n, "\\x%02X", *s);
    }
    out[n] = 0;
}

static int write_member(void *ctx, const char *name, const unsigned char *data, uint32_t size)
{
    const ExtractTarget *t = (const ExtractTarget *)ctx;
    char path[520];
    // Where the ANSI calls speak UTF-8, a name that is not UTF-8 would be
    // stored under replacement characters: another name, which two members
    // could share. Names of other code pages (Shift-JIS) are such names.
    if (GetACP() == CP_UTF8 && !utf8_valid(name)) {
        char shown[1024];
        escape_name(name, shown, sizeof shown);
        setup_log("LHA: member name %s is not UTF-8", shown);
        return 0;
    }
    // A cut path would name another file: refuse it rather than write there.
    if ((size_t)fmt(path, sizeof path, "%s\\%s", t->dest, name) != strlen(t->dest) + 1 + strlen(name)) {
        char shown[1024];
        setup_log("LHA: path too long for %s", name_escape(name, shown, sizeof shown));
        return 0;
    }
    // A member already there with these very bytes (an install again) is
    // not written again; either way the watch hears of it.
    uint32_t crc = crc32_buf(data, size), known = 0;
    const CopyWatch *w = t->progress ? t->progress->watch : NULL;
    int there = w && w->wanted && !w->wanted(w->ctx, path, size, &known) && known == crc;
    if (!there && !write_file(path, data, size))
        return 0;
    copy_done(t->progress, path, size, crc);
    return 1;
}

static void log_member(void *, const char *line) { setup_log("%s", line); }

static void count_member(void *ctx, uint32_t size)
{
    const ExtractTarget *t = (const ExtractTarget *)ctx;
    if (t->progress)
        progress_add(t->progress, size);
}

int lha_extract(const unsigned char *data, uint64_t size, const char *dest, Progress *progress)
{
    ExtractTarget target = {dest, progress};
    LhaSink sink = {&target, write_member, log_member, count_member, 0};
    return lha_walk(data, size, &sink);
}

int lha_read_member(const unsigned char *data, uint64_t size, const char *name, unsigned char **out,
                    uint32_t *out_size)
{
    LhaSink sink = {NULL, NULL, log_member, NULL, 0};
    return lha_member(data, size, name, out, out_size, &sink);
}
