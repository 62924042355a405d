// The table of known disc editions and the verdict on a copied disc, over
// memory buffers only.
#include "editions/editions.h"

#include <stdlib.h>
#include <string.h>

#include "util/util.h"

enum { FIELDS = 5, SIZE_DIGITS_MAX = 15 };

static char fold(char c)
{
    if (c >= 'a' && c <= 'z')
        return (char)(c - 'a' + 'A');
    return c == '/' ? '\\' : c;
}

// Paths in the order of their folded bytes: ASCII case aside, and '/' as
// '\', so that a path compares equal however a source spelt it.
static int path_cmp(const char *a, const char *b)
{
    for (;; a++, b++) {
        unsigned char x = (unsigned char)fold(*a), y = (unsigned char)fold(*b);
        if (x != y || x == 0)
            return (int)x - (int)y;
    }
}

static int has_control(const char *s, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (is_control((unsigned char)s[i]))
            return 1;
    }
    return 0;
}

static int parse_decimal(const TextField *f, uint64_t *value)
{
    if (f->len == 0 || f->len > SIZE_DIGITS_MAX)
        return 0;
    uint64_t v = 0;
    for (size_t i = 0; i < f->len; i++) {
        if (f->s[i] < '0' || f->s[i] > '9')
            return 0;
        v = v * 10 + (uint64_t)(f->s[i] - '0');
    }
    *value = v;
    return 1;
}

// A path below a disc's root: steps between single '\', none of them
// empty, "." or "..", and no '/', ':' or control character anywhere.
static int path_allowed(const TextField *f)
{
    if (f->len == 0 || f->len >= EDITION_PATH_MAX || has_control(f->s, f->len))
        return 0;
    size_t step = 0;
    for (size_t i = 0; i <= f->len; i++) {
        if (i < f->len && f->s[i] != '\\') {
            if (f->s[i] == '/' || f->s[i] == ':')
                return 0;
            continue;
        }
        size_t len = i - step;
        const char *p = f->s + step;
        if (len == 0 || (len == 1 && p[0] == '.') || (len == 2 && p[0] == '.' && p[1] == '.'))
            return 0;
        step = i + 1;
    }
    return 1;
}

// The index of the edition named so, added when it is new; -1 when the
// name is not allowed or the table has no room for another edition.
static int edition_index(EditionTable *t, const TextField *f)
{
    if (f->len == 0 || f->len >= EDITION_NAME_MAX || has_control(f->s, f->len))
        return -1;
    for (int i = 0; i < t->name_count; i++) {
        if (strlen(t->names[i].name) == f->len && memcmp(t->names[i].name, f->s, f->len) == 0)
            return i;
    }
    if (t->name_count == EDITION_MAX)
        return -1;
    EditionName *e = &t->names[t->name_count];
    memcpy(e->name, f->s, f->len);
    e->name[f->len] = 0;
    return t->name_count++;
}

// Reads one line's fields into *file; 0 when they do not parse.
static int parse_line(EditionTable *t, const char *line, size_t n, EditionFile *file)
{
    TextField f[FIELDS];
    if (!split_tabs(line, n, f, FIELDS) || f[1].len != 1 || (f[1].s[0] != '1' && f[1].s[0] != '2') ||
        !parse_decimal(&f[2], &file->size) || !field_crc(f[3], &file->crc) || !path_allowed(&f[4]))
        return 0;
    file->disc = f[1].s[0] - '0';
    memcpy(file->path, f[4].s, f[4].len);
    file->path[f[4].len] = 0;
    // The edition last, so that a line which fails adds no name.
    file->edition = edition_index(t, &f[0]);
    return file->edition >= 0;
}

// Repeats are found in path order, after the lines that do not parse: the
// first bad line is the lowest number noted.
static void note_bad_line(EditionTable *t, int line)
{
    if (t->bad_lines++ == 0 || line < t->first_bad_line)
        t->first_bad_line = line;
}

// Room for one more file; 0 when memory ran out.
static int make_room(EditionTable *t, int *room)
{
    if (t->file_count < *room)
        return 1;
    int grown_room = *room ? *room * 2 : 256;
    EditionFile *grown = (EditionFile *)realloc(t->files, sizeof(EditionFile) * (size_t)grown_room);
    if (!grown)
        return 0;
    t->files = grown;
    *room = grown_room;
    return 1;
}

static int file_order(const void *pa, const void *pb)
{
    const EditionFile *a = (const EditionFile *)pa, *b = (const EditionFile *)pb;
    if (a->edition != b->edition)
        return a->edition - b->edition;
    if (a->disc != b->disc)
        return a->disc - b->disc;
    int c = path_cmp(a->path, b->path);
    return c ? c : a->line - b->line;
}

// Sorts the files, drops every repeat of an edition, disc and path after
// its first line, and notes where each edition's discs begin.
static void index_files(EditionTable *t)
{
    if (t->file_count > 1)
        qsort(t->files, (size_t)t->file_count, sizeof(EditionFile), file_order);
    int kept = 0;
    for (int i = 0; i < t->file_count; i++) {
        const EditionFile *f = &t->files[i];
        const EditionFile *last = kept ? &t->files[kept - 1] : NULL;
        if (last && last->edition == f->edition && last->disc == f->disc && path_cmp(last->path, f->path) == 0) {
            note_bad_line(t, f->line);
            continue;
        }
        t->files[kept++] = *f;
    }
    t->file_count = kept;
    for (int i = t->file_count - 1; i >= 0; i--) {
        EditionName *e = &t->names[t->files[i].edition];
        e->first[t->files[i].disc - 1] = i;
        e->count[t->files[i].disc - 1]++;
    }
}

int edition_table_parse(const char *text, size_t len, EditionTable *t)
{
    memset(t, 0, sizeof *t);
    int room = 0, number = 0;
    size_t p = 0;
    if (len >= 3 && memcmp(text, "\xEF\xBB\xBF", 3) == 0)
        p = 3;
    while (p < len) {
        const char *line = text + p;
        const char *nl = (const char *)memchr(line, '\n', len - p);
        size_t n = nl ? (size_t)(nl - line) : len - p;
        p += n + (nl != NULL);
        number++;
        if (n > 0 && line[n - 1] == '\r')
            n--;
        if (n == 0 || line[0] == '#')
            continue;
        if (t->file_count < EDITION_FILES_MAX && !make_room(t, &room)) {
            edition_table_free(t);
            return 0;
        }
        if (t->file_count == EDITION_FILES_MAX || !parse_line(t, line, n, &t->files[t->file_count])) {
            note_bad_line(t, number);
            continue;
        }
        t->files[t->file_count++].line = number;
    }
    index_files(t);
    return 1;
}

void edition_table_free(EditionTable *t)
{
    free(t->files);
    memset(t, 0, sizeof *t);
}

const EditionFile *edition_file(const EditionTable *t, int edition, int disc, const char *path)
{
    if (edition < 0 || edition >= t->name_count || (disc != 1 && disc != 2))
        return NULL;
    const EditionName *e = &t->names[edition];
    int lo = 0, hi = e->count[disc - 1];
    const EditionFile *files = t->files + e->first[disc - 1];
    while (lo < hi) {
        int mid = lo + (hi - lo) / 2, c = path_cmp(files[mid].path, path);
        if (c == 0)
            return &files[mid];
        if (c < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return NULL;
}

int edition_knows(const EditionTable *t, int disc, const char *path, uint64_t size, uint32_t crc)
{
    int known = -1;
    for (int e = 0; e < t->name_count; e++) {
        const EditionFile *f = edition_file(t, e, disc, path);
        if (f && f->size == size && f->crc == crc)
            return 1;
        if (f)
            known = 0;
    }
    return known;
}

int edition_same(const EditionTable *t, int a, int b)
{
    if (a < 0 || b < 0 || a >= t->name_count || b >= t->name_count)
        return 0;
    return strcmp(t->names[a].name, t->names[b].name) == 0;
}

// The copied files in path order, as pointers into the caller's array,
// which stays as it is.
struct SeenOrder {
    const EditionSeen **files;
    int count;
};

static int seen_order(const void *pa, const void *pb)
{
    const EditionSeen *a = *(const EditionSeen *const *)pa, *b = *(const EditionSeen *const *)pb;
    int c = path_cmp(a->path, b->path);
    return c ? c : (a < b ? -1 : a > b);
}

static int sort_seen(const EditionSeen *seen, int count, SeenOrder *s)
{
    s->count = count > 0 ? count : 0;
    s->files = (const EditionSeen **)malloc(sizeof(EditionSeen *) * (size_t)(s->count ? s->count : 1));
    if (!s->files)
        return 0;
    for (int i = 0; i < s->count; i++)
        s->files[i] = &seen[i];
    qsort(s->files, (size_t)s->count, sizeof(EditionSeen *), seen_order);
    return 1;
}

// Walks an edition's files of one disc and the copied files side by side,
// both in path order. For each edition file: the copied file of its path,
// or null. For each copied file the edition lacks: on_extra. Either
// callback may be null.
struct Walk {
    void (*on_file)(void *ctx, const EditionFile *f, const EditionSeen *s);
    void (*on_extra)(void *ctx, const EditionSeen *s);
    void *ctx;
};

static void walk_disc(const EditionTable *t, int edition, int disc, const SeenOrder *s, const Walk *w)
{
    const EditionName *e = &t->names[edition];
    int n = e->count[disc - 1], i = 0, j = 0;
    const EditionFile *files = n ? t->files + e->first[disc - 1] : NULL;
    while (i < n || j < s->count) {
        int c = i == n ? 1 : j == s->count ? -1 : path_cmp(files[i].path, s->files[j]->path);
        if (c < 0) {
            if (w->on_file)
                w->on_file(w->ctx, &files[i], NULL);
            i++;
        } else if (c > 0) {
            if (w->on_extra)
                w->on_extra(w->ctx, s->files[j]);
            j++;
        } else {
            if (w->on_file)
                w->on_file(w->ctx, &files[i], s->files[j]);
            i++;
            // A path the disc holds twice (in two spellings) counts once;
            // the second is an extra.
            j++;
        }
    }
}

static int same_file(const EditionFile *f, const EditionSeen *s)
{
    return s && s->size == f->size && s->crc == f->crc;
}

int edition_damaged(const EditionFile *f, const EditionSeen *s)
{
    return !s || (!same_file(f, s) && (s->size < f->size || s->zeros != 0));
}

// How the disc stands against one edition.
struct Candidate {
    int edition, files;
    int matched, differ, missing, extra;
};

static void count_file(void *ctx, const EditionFile *f, const EditionSeen *s)
{
    Candidate *c = (Candidate *)ctx;
    if (!s)
        c->missing++;
    else if (same_file(f, s))
        c->matched++;
    else
        c->differ++;
}

static void count_extra(void *ctx, const EditionSeen *s)
{
    (void)s;
    ((Candidate *)ctx)->extra++;
}

static int whole(const Candidate *c)
{
    return c->differ == 0 && c->missing == 0;
}

// 1 when a is the better choice than b: an edition whose every file is
// there over one that is not; then the other disc's edition; then, of
// whole ones, the one with more files; of others, the one with more there
// and then the one with fewer missing or different.
static int better(const Candidate *a, const Candidate *b, int prefer)
{
    if (whole(a) != whole(b))
        return whole(a);
    if ((a->edition == prefer) != (b->edition == prefer))
        return a->edition == prefer;
    if (whole(a))
        return a->files > b->files;
    if (a->matched != b->matched)
        return a->matched > b->matched;
    return a->differ + a->missing < b->differ + b->missing;
}

// The edition to judge the disc by, as edition_judge says, with its
// counts; edition -1 when the disc is of none. Of an edition, the disc's
// files must be mostly its own and mostly as it has them: a disc of an
// edition nobody listed shares some files with a known one, but has files
// of its own or other contents in most.
static Candidate choose_edition(const EditionTable *t, int disc, const SeenOrder *s, int prefer)
{
    Candidate best = {-1, 0, 0, 0, 0, 0};
    for (int e = 0; e < t->name_count; e++) {
        Candidate c = {e, t->names[e].count[disc - 1], 0, 0, 0, 0};
        if (c.files == 0)
            continue;
        Walk w = {count_file, count_extra, &c};
        walk_disc(t, e, disc, s, &w);
        if (c.matched > 0 && c.matched > c.differ + c.extra && (best.edition < 0 || better(&c, &best, prefer)))
            best = c;
    }
    return best;
}

// The file as the disc has it (seen, null when missing) and as the
// edition has it (known, null for an extra).
static void add_problem(EditionProblem *list, int *count, int kind, const char *path, const EditionSeen *seen,
                        const EditionFile *known)
{
    if (*count < EDITION_SHOWN) {
        EditionProblem *p = &list[*count];
        p->kind = kind;
        size_t n = strlen(path);
        if (n >= sizeof p->path)
            n = sizeof p->path - 1;
        memcpy(p->path, path, n);
        p->path[n] = 0;
        p->size = seen ? seen->size : 0;
        p->crc = seen ? seen->crc : 0;
        p->want_size = known ? known->size : 0;
        p->want_crc = known ? known->crc : 0;
        p->zeros = seen ? seen->zeros : 0;
    }
    (*count)++;
}

static void note_file(void *ctx, const EditionFile *f, const EditionSeen *s)
{
    EditionVerdict *v = (EditionVerdict *)ctx;
    if (same_file(f, s))
        return;
    int kind = !s ? EDITION_MISSING : s->size != f->size ? EDITION_OTHER_SIZE : EDITION_OTHER_CONTENTS;
    if (edition_damaged(f, s))
        add_problem(v->problems, &v->problem_count, kind, f->path, s, f);
    else
        add_problem(v->differs, &v->differ_count, kind, f->path, s, f);
}

static void note_extra(void *ctx, const EditionSeen *s)
{
    EditionVerdict *v = (EditionVerdict *)ctx;
    add_problem(v->extras, &v->extra_count, EDITION_EXTRA, s->path, s, NULL);
}

int edition_judge(const EditionTable *t, int disc, const EditionSeen *seen, int count, int prefer, EditionVerdict *v)
{
    memset(v, 0, sizeof *v);
    v->kind = EDITION_UNKNOWN;
    v->edition = -1;
    if (disc != 1 && disc != 2)
        return 1;
    SeenOrder s;
    if (!sort_seen(seen, count, &s))
        return 0;
    Candidate c = choose_edition(t, disc, &s, prefer);
    if (c.edition >= 0) {
        v->edition = c.edition;
        v->files = c.files;
        v->matched = c.matched;
        Walk w = {note_file, note_extra, v};
        walk_disc(t, c.edition, disc, &s, &w);
        v->kind = v->problem_count ? EDITION_DAMAGED : v->differ_count ? EDITION_PRESSING : EDITION_KNOWN;
    }
    free(s.files);
    return 1;
}
