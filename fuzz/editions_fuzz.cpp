// Fuzzes the table of known disc editions and the verdict on a disc. The
// input is a table's text up to its first NUL byte; what follows is read
// as a second table, whose files (of any edition) stand for the files
// copied from a disc, so that the verdict sees paths like a table's. The
// byte after the NUL picks the disc and the edition to prefer.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "editions/editions.h"
#include "util/util.h"

static int terminated(const char *s, size_t size)
{
    return memchr(s, 0, size) != NULL;
}

// Every file lies in its edition's range of its disc, in path order, and
// the ranges cover the files once.
static void check_table(const EditionTable *t, size_t len)
{
    if (t->file_count < 0 || t->file_count > EDITION_FILES_MAX || t->name_count < 0 || t->name_count > EDITION_MAX ||
        t->bad_lines < 0 || (t->bad_lines > 0) != (t->first_bad_line > 0) || (size_t)t->first_bad_line > len + 1)
        abort();
    int covered = 0;
    for (int e = 0; e < t->name_count; e++) {
        if (!terminated(t->names[e].name, EDITION_NAME_MAX) || t->names[e].name[0] == 0)
            abort();
        for (int d = 0; d < 2; d++) {
            int first = t->names[e].first[d], n = t->names[e].count[d];
            if (n < 0 || (n > 0 && (first < 0 || first > t->file_count - n)))
                abort();
            for (int i = first; i < first + n; i++) {
                const EditionFile *f = &t->files[i];
                if (f->edition != e || f->disc != d + 1 || !terminated(f->path, EDITION_PATH_MAX) || f->path[0] == 0)
                    abort();
            }
            covered += n;
        }
    }
    if (covered != t->file_count)
        abort();
}

static void check_problems(const EditionProblem *list, int count, int extra)
{
    for (int i = 0; i < count && i < EDITION_SHOWN; i++) {
        if (!terminated(list[i].path, EDITION_PATH_MAX) || (list[i].kind == EDITION_EXTRA) != extra)
            abort();
        // What is not there has no size and no CRC-32.
        if (list[i].kind == EDITION_MISSING && (list[i].size || list[i].crc))
            abort();
        if (list[i].kind == EDITION_EXTRA && (list[i].want_size || list[i].want_crc))
            abort();
    }
}

static void check_verdict(const EditionTable *t, const EditionVerdict *v, int count)
{
    if (v->kind == EDITION_UNKNOWN) {
        if (v->edition != -1 || v->problem_count || v->differ_count || v->extra_count)
            abort();
        return;
    }
    if (v->edition < 0 || v->edition >= t->name_count || v->files <= 0 || v->matched <= 0 ||
        v->matched + v->problem_count + v->differ_count != v->files || v->extra_count < 0 || v->extra_count > count)
        abort();
    int kind = v->problem_count ? EDITION_DAMAGED : v->differ_count ? EDITION_PRESSING : EDITION_KNOWN;
    if (v->kind != kind)
        abort();
    check_problems(v->problems, v->problem_count, 0);
    check_problems(v->differs, v->differ_count, 0);
    check_problems(v->extras, v->extra_count, 1);
}

// What the table knows of a copied file agrees with its files, edition by
// edition.
static void check_lookup(const EditionTable *t, int disc, const EditionSeen *s)
{
    int want = -1;
    for (int e = 0; e < t->name_count; e++) {
        const EditionFile *f = edition_file(t, e, disc, s->path);
        if (f && (f->edition != e || f->disc != disc))
            abort();
        if (f && f->size == s->size && f->crc == s->crc)
            want = 1;
        else if (f && want < 0)
            want = 0;
    }
    if (edition_knows(t, disc, s->path, s->size, s->crc) != want)
        abort();
}

static void check_count(uint64_t n)
{
    char out[32], plain[32];
    fmt_count(n, out, sizeof out);
    size_t k = 0;
    for (const char *p = out; *p; p++) {
        if (*p != ',')
            plain[k++] = *p;
    }
    plain[k] = 0;
    char want[32];
    snprintf(want, sizeof want, "%llu", (unsigned long long)n);
    if (strcmp(plain, want) != 0)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t *nul = (const uint8_t *)memchr(data, 0, size);
    size_t len = nul ? (size_t)(nul - data) : size;
    // Each text in a buffer of its own size, so that reading past it trips.
    char *text = (char *)malloc(len ? len : 1);
    memcpy(text, data, len);
    EditionTable t;
    if (!edition_table_parse(text, len, &t))
        abort();
    check_table(&t, len);

    size_t rest = nul ? size - len - 1 : 0;
    unsigned char pick = rest ? nul[1] : 0;
    size_t seen_len = rest > 1 ? rest - 1 : 0;
    char *seen_text = (char *)malloc(seen_len ? seen_len : 1);
    memcpy(seen_text, nul && rest > 1 ? nul + 2 : data, seen_len);
    EditionTable disc;
    if (!edition_table_parse(seen_text, seen_len, &disc))
        abort();
    EditionSeen *seen = (EditionSeen *)malloc(sizeof(EditionSeen) * (size_t)(disc.file_count ? disc.file_count : 1));
    for (int i = 0; i < disc.file_count; i++) {
        seen[i].path = disc.files[i].path;
        seen[i].size = disc.files[i].size;
        seen[i].crc = disc.files[i].crc;
        // A line number of the second table stands for the copy's damage.
        seen[i].zeros = (uint64_t)(disc.files[i].line & 3) == 1 ? 4097 : 0;
        check_count(seen[i].size);
        check_lookup(&t, 1 + (pick & 1), &seen[i]);
    }
    int prefer = t.name_count ? (int)(pick >> 1) % (t.name_count + 1) - 1 : -1;
    EditionVerdict v;
    if (!edition_judge(&t, 1 + (pick & 1), seen, disc.file_count, prefer, &v))
        abort();
    check_verdict(&t, &v, disc.file_count);
    if (edition_same(&t, v.edition, prefer) != edition_same(&t, prefer, v.edition))
        abort();

    free(seen);
    edition_table_free(&disc);
    free(seen_text);
    edition_table_free(&t);
    free(text);
    return 0;
}
