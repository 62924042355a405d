// The report of the last install attempt: the log's text read line by
// line, and the report written from it and from the facts of the machine,
// over memory only.
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "setup/details.h"
#include "util/util.h"

static const char end_line[] = "end of report\r\n";

// ---------------------------------------------------------------- reading

static int starts(const char *s, size_t len, const char *prefix)
{
    size_t n = strlen(prefix);
    return len >= n && memcmp(s, prefix, n) == 0;
}

static int ends(const char *s, size_t len, const char *suffix)
{
    size_t n = strlen(suffix);
    return len >= n && memcmp(s + len - n, suffix, n) == 0;
}

// 1 when s[len] holds needle.
static int holds(const char *s, size_t len, const char *needle)
{
    size_t n = strlen(needle);
    for (size_t i = 0; n <= len && i <= len - n; i++)
        if (memcmp(s + i, needle, n) == 0)
            return 1;
    return 0;
}

static DetailsSpan span_of(size_t at, size_t len)
{
    DetailsSpan s = {at, len};
    return s;
}

// The line that begins at *at: its span without the line end, and *at past
// that end. 0 when no line is left.
static int next_line(const char *log, size_t len, size_t *at, DetailsSpan *line)
{
    if (*at >= len)
        return 0;
    const char *nl = (const char *)memchr(log + *at, '\n', len - *at);
    size_t end = nl ? (size_t)(nl - log) : len;
    line->at = *at;
    line->len = end - *at;
    if (line->len > 0 && log[end - 1] == '\r')
        line->len--;
    *at = nl ? end + 1 : len;
    return 1;
}

int details_error_of(const char *line, size_t len, unsigned long *error)
{
    static const char mark[] = "(error ";
    const size_t n = sizeof mark - 1;
    for (size_t i = len >= n ? len - n + 1 : 0; i-- > 0;) {
        if (memcmp(line + i, mark, n) != 0)
            continue;
        uint64_t v = 0;
        size_t k = i + n, digits = 0;
        while (k < len && line[k] >= '0' && line[k] <= '9' && digits < 11) {
            v = v * 10 + (uint64_t)(line[k] - '0');
            k++;
            digits++;
        }
        // A system error code has 32 bits.
        if (digits > 0 && digits <= 10 && v <= 0xFFFFFFFFu && k < len && line[k] == ')') {
            *error = (unsigned long)v;
            return 1;
        }
    }
    return 0;
}

// The scan's own record while it reads: the log, what it found, and the
// state between lines.
struct Scan {
    const char *log;
    DetailsLog *out;
    DetailsSpan root;                // the folder whose copy the last "Copying folder" line began
    int collecting;                  // the disc whose verdict's file lines follow; 0 for none
    DetailsSpan back[DETAILS_BACK];  // the lines just before this one, the newest last
    int back_count;
};

static const char *text_of(const Scan *s, DetailsSpan sp)
{
    return s->log + sp.at;
}

// "Install to FOLDER (MODE)": the folder and the mode; the folder's path
// may hold " (" itself, the mode is one of two.
static void begin_attempt(Scan *s, DetailsSpan line)
{
    static const char *const modes[] = {"prebuilt", "convert on this PC"};
    DetailsLog *o = s->out;
    int lines = o->lines, attempts = o->attempts;
    memset(o, 0, sizeof *o);
    o->lines = lines;
    o->attempts = attempts + 1;
    o->result = DETAILS_UNENDED;
    s->root = span_of(0, 0);
    s->collecting = 0;
    size_t skip = strlen("Install to ");
    o->folder = span_of(line.at + skip, line.len - skip);
    for (int i = 0; i < 2; i++) {
        char tail[40];
        fmt(tail, sizeof tail, " (%s)", modes[i]);
        size_t n = strlen(tail);
        if (o->folder.len >= n && ends(text_of(s, o->folder), o->folder.len, tail)) {
            o->folder.len -= n;
            o->mode = span_of(o->folder.at + o->folder.len + 2, n - 3);
        }
    }
}

// "CD 1: ..." or "CD 2: ...": the disc, else 0.
static int verdict_disc(const char *t, size_t len)
{
    if (starts(t, len, "CD 1: "))
        return 1;
    if (starts(t, len, "CD 2: "))
        return 2;
    return 0;
}

// A line that a disc's verdict writes for one file, or its "and N more".
static int damage_line(const char *t, size_t len)
{
    return holds(t, len, ": missing") || holds(t, len, ": size ") || holds(t, len, ": other contents");
}

static void take_verdict(Scan *s, DetailsSpan line, int disc)
{
    const char *t = text_of(s, line);
    DetailsDamage *d = &s->out->damage[disc - 1];
    s->out->verdict[disc - 1] = span_of(line.at + 6, line.len - 6);
    if (ends(t, line.len, "are missing, cut short or different:") || ends(t, line.len, "installed as it is:")) {
        memset(d, 0, sizeof *d);
        d->pressing = ends(t, line.len, "installed as it is:");
        s->collecting = disc;
    } else if (starts(t + 6, line.len - 6, "edition ") || starts(t + 6, line.len - 6, "not a known edition")) {
        // Read again and whole now: what was named before is mended.
        memset(d, 0, sizeof *d);
    }
}

// 1 when the line belonged to the files of the verdict before it.
static int take_damage(Scan *s, DetailsSpan line)
{
    const char *t = text_of(s, line);
    DetailsDamage *d = &s->out->damage[s->collecting - 1];
    if (starts(t, line.len, "and ") && ends(t, line.len, " more")) {
        d->more = line;
        s->collecting = 0;
        return 1;
    }
    if (!damage_line(t, line.len)) {
        s->collecting = 0;
        return 0;
    }
    if (d->count < DETAILS_FILES)
        d->files[d->count++] = line;
    return 1;
}

// What follows the path of a disc's file that a drive could not read.
static const char unread_on_disc[] = " could not be read from the disc";

// "cannot read PATH: REASON", "cannot list PATH: REASON", an image's "read
// error in NAME: REASON" and a drive's "the file PATH could not be read
// from the disc (error N): ...". A Windows path holds no ": " but in that
// place, and no unread_on_disc.
static void take_unread(Scan *s, DetailsSpan line, size_t skip)
{
    DetailsLog *o = s->out;
    const char *t = text_of(s, line);
    o->unread_count++;
    if (o->unread_count > DETAILS_FILES)
        return;
    DetailsUnread *u = &o->unread[o->unread_count - 1];
    memset(u, 0, sizeof *u);
    u->line = line;
    size_t end = skip, k = sizeof unread_on_disc - 1;
    while (end + 1 < line.len && !(t[end] == ':' && t[end + 1] == ' ') &&
           !(line.len - end >= k && memcmp(t + end, unread_on_disc, k) == 0))
        end++;
    if (end + 1 >= line.len)
        end = line.len;
    u->path = span_of(line.at + skip, end - skip);
    u->root = s->root;
    u->has_error = details_error_of(t, line.len, &u->error);
}

// The lines that name the one file a failure was about come just before
// its "ERROR: " line; the error code is in the nearest of them.
static int is_unread_on_disc(const char *t, size_t len)
{
    return starts(t, len, "the file ") && holds(t, len, unread_on_disc);
}

static int is_file_line(const char *t, size_t len)
{
    return starts(t, len, "cannot read ") || starts(t, len, "cannot write ") || starts(t, len, "cannot list ") ||
           is_unread_on_disc(t, len);
}

static void take_failure(Scan *s, DetailsSpan line)
{
    DetailsLog *o = s->out;
    o->failure = line;
    o->result = o->attempts ? DETAILS_FAILED : DETAILS_NO_ATTEMPT;
    o->has_error = details_error_of(text_of(s, line), line.len, &o->error);
    o->error_line = o->has_error ? line : span_of(0, 0);
    for (int i = s->back_count - 1; i >= 0 && !o->has_error; i--) {
        DetailsSpan b = s->back[i];
        if (!is_file_line(text_of(s, b), b.len))
            break;
        if (details_error_of(text_of(s, b), b.len, &o->error)) {
            o->has_error = 1;
            o->error_line = b;
        }
    }
    // Files that a drive could not read whole were named, with the code,
    // when the copy first read around them, long before the failure: the
    // last of them gives it.
    static const char not_whole[] = " could not be read whole";
    int named = o->unread_count < DETAILS_FILES ? o->unread_count : DETAILS_FILES;
    if (!o->has_error && ends(text_of(s, line), line.len, not_whole)) {
        for (int i = named - 1; i >= 0; i--) {
            const DetailsUnread *u = &o->unread[i];
            if (u->has_error && is_unread_on_disc(text_of(s, u->line), u->line.len)) {
                o->has_error = 1;
                o->error = u->error;
                o->error_line = u->line;
                break;
            }
        }
    }
}

static void take_line(Scan *s, DetailsSpan line)
{
    DetailsLog *o = s->out;
    const char *t = text_of(s, line);
    static const char *const sources[3] = {"CD 1 source: ", "CD 2 source: ", "Update source: "};
    if (starts(t, line.len, "Install to ")) {
        begin_attempt(s, line);
        return;
    }
    if (s->collecting && take_damage(s, line))
        return;
    if (starts(t, line.len, "ERROR: ")) {
        take_failure(s, line);
        return;
    }
    if (!o->attempts)
        return;
    for (int i = 0; i < 3; i++) {
        size_t n = strlen(sources[i]);
        if (starts(t, line.len, sources[i]))
            o->source[i] = span_of(line.at + n, line.len - n);
    }
    int disc = verdict_disc(t, line.len);
    if (disc)
        take_verdict(s, line, disc);
    else if (line.len == 5 && memcmp(t, "Done.", 5) == 0)
        o->result = DETAILS_INSTALLED;
    else if (line.len >= 15 + 4 && starts(t, line.len, "Copying folder ") && ends(t, line.len, " ..."))
        s->root = span_of(line.at + 15, line.len - 15 - 4);
    else if (starts(t, line.len, "cannot read ") || starts(t, line.len, "cannot list "))
        take_unread(s, line, 12);
    else if (starts(t, line.len, "read error in "))
        take_unread(s, line, 14);
    else if (is_unread_on_disc(t, line.len))
        take_unread(s, line, 9);
}

static void remember(Scan *s, DetailsSpan line)
{
    if (s->back_count == DETAILS_BACK) {
        memmove(s->back, s->back + 1, sizeof s->back[0] * (DETAILS_BACK - 1));
        s->back_count--;
    }
    s->back[s->back_count++] = line;
}

void details_scan(const char *log, size_t len, DetailsLog *out)
{
    Scan s;
    memset(&s, 0, sizeof s);
    memset(out, 0, sizeof *out);
    s.log = log;
    s.out = out;
    out->result = DETAILS_NO_ATTEMPT;
    DetailsSpan line;
    size_t at = 0;
    int total = 0;
    while (next_line(log, len, &at, &line)) {
        take_line(&s, line);
        remember(&s, line);
        total++;
    }
    out->lines = total;
    // The start of the last DETAILS_TAIL lines.
    int skip = total > DETAILS_TAIL ? total - DETAILS_TAIL : 0;
    at = 0;
    for (int i = 0; i < skip && next_line(log, len, &at, &line); i++) {
    }
    out->tail = at;
}

// ---------------------------------------------------------------- leaving out

void details_private_path(DetailsPrivate *p, const char *path, const char *as)
{
    size_t n = strlen(path);
    while (n > 3 && (path[n - 1] == '\\' || path[n - 1] == '/'))
        n--;
    if (n == 0 || n >= sizeof p->paths[0] || p->path_count == DETAILS_PATHS)
        return;
    for (int i = 0; i < p->path_count; i++)
        if (strlen(p->paths[i]) == n && memcmp(p->paths[i], path, n) == 0)
            return;
    memcpy(p->paths[p->path_count], path, n);
    p->paths[p->path_count][n] = 0;
    p->as[p->path_count] = as;
    p->path_count++;
}

void details_private_word(DetailsPrivate *p, const char *word)
{
    size_t n = strlen(word);
    if (n == 0 || n >= sizeof p->words[0] || p->word_count == DETAILS_WORDS)
        return;
    for (int i = 0; i < p->word_count; i++)
        if (strcmp(p->words[i], word) == 0)
            return;
    memcpy(p->words[p->word_count++], word, n + 1);
}

// Bytes of the whole UTF-8 character at t[len]: 1 for ASCII, 2 to 4, or 0
// for a byte that begins none (a log in another code page, or damaged).
static size_t character_length(const char *t, size_t len)
{
    unsigned char lead = (unsigned char)t[0];
    size_t n = lead < 0x80                    ? 1
               : lead >= 0xC2 && lead <= 0xDF ? 2
               : lead >= 0xE0 && lead <= 0xEF ? 3
               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                              : 0;
    if (n > len)
        return 0;
    for (size_t i = 1; i < n; i++)
        if (((unsigned char)t[i] & 0xC0) != 0x80)
            return 0;
    return n;
}

// A letter or digit of ASCII; in a name, also what continues a file's
// name (so that C:\Users\Jo is not the start of C:\Users\Jo.old).
static int word_ascii(unsigned char c, int in_name)
{
    if ((c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z'))
        return 1;
    return in_name && (c == '.' || c == '_' || c == '-' || c == '~' || c == '$');
}

// Whether the text goes on as a word at t[j]: a letter, or any whole
// character beyond ASCII (a byte that begins none is no letter).
static int word_at(const char *t, size_t len, size_t j, int in_name)
{
    if (j >= len)
        return 0;
    unsigned char c = (unsigned char)t[j];
    return c < 0x80 ? word_ascii(c, in_name) : character_length(t + j, len - j) > 0;
}

// Whether a word ends just before t[i], in the same sense.
static int word_before(const char *t, size_t len, size_t i, int in_name)
{
    if (i == 0)
        return 0;
    unsigned char c = (unsigned char)t[i - 1];
    if (c < 0x80)
        return word_ascii(c, in_name);
    for (size_t back = 1; back <= 4 && back <= i; back++)
        if (((unsigned char)t[i - back] & 0xC0) != 0x80)
            return character_length(t + i - back, len - (i - back)) == back;
    return 0;
}

static int separator(char c)
{
    return c == '\\' || c == '/';
}

// The same n bytes, ASCII letters in either case.
static int same_text(const char *a, const char *b, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        unsigned char x = (unsigned char)a[i], y = (unsigned char)b[i];
        if (x >= 'A' && x <= 'Z')
            x = (unsigned char)(x | 0x20);
        if (y >= 'A' && y <= 'Z')
            y = (unsigned char)(y | 0x20);
        if (x != y)
            return 0;
    }
    return 1;
}

// The longest private folder that begins at t[i] as a whole path: its
// length, with what stands for it in *as; 0 for none.
static size_t folder_at(const DetailsPrivate *p, const char *t, size_t len, size_t i, const char **as)
{
    size_t best = 0;
    if (word_before(t, len, i, 1))
        return 0;
    for (int k = 0; k < p->path_count; k++) {
        size_t n = strlen(p->paths[k]);
        if (n > best && n <= len - i && same_text(t + i, p->paths[k], n) && !word_at(t, len, i + n, 1)) {
            best = n;
            *as = p->as[k];
        }
    }
    return best;
}

// The longest private name that stands at t[i] as a whole word (a short
// one as a whole path step): its length, or 0.
static size_t name_at(const DetailsPrivate *p, const char *t, size_t len, size_t i)
{
    size_t best = 0;
    if (word_before(t, len, i, 0))
        return 0;
    for (int k = 0; k < p->word_count; k++) {
        size_t n = strlen(p->words[k]);
        if (n <= best || n > len - i || !same_text(t + i, p->words[k], n) || word_at(t, len, i + n, 0))
            continue;
        if (n < 3 && !(i > 0 && separator(t[i - 1]) && !word_at(t, len, i + n, 1)))
            continue;
        best = n;
    }
    return best;
}

// Appends n bytes to out[size] at *k when they fit whole; 0 when not.
static int append(char *out, size_t size, size_t *k, const char *s, size_t n)
{
    if (size - *k <= n)
        return 0;
    memcpy(out + *k, s, n);
    *k += n;
    return 1;
}

size_t details_scrub(const DetailsPrivate *p, const char *text, size_t len, char *out, size_t size)
{
    size_t k = 0;
    if (size == 0)
        return 0;
    for (size_t i = 0; i < len;) {
        unsigned char c = (unsigned char)text[i];
        const char *as = NULL;
        size_t n = p ? folder_at(p, text, len, i, &as) : 0;
        if (n) {
            if (!append(out, size, &k, as, strlen(as)))
                break;
            i += n;
            continue;
        }
        n = p ? name_at(p, text, len, i) : 0;
        if (n) {
            if (!append(out, size, &k, "%USERNAME%", 10))
                break;
            i += n;
            continue;
        }
        // A character is kept whole or not at all; a byte that is none is
        // shown, so that the report is UTF-8 text.
        n = character_length(text + i, len - i);
        if (n == 0 || (c < 0x20 && c != '\t') || c == 0x7F) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\x%02X", c);
            if (!append(out, size, &k, esc, 4))
                break;
            i++;
            continue;
        }
        if (!append(out, size, &k, text + i, n))
            break;
        i += n;
    }
    out[k] = 0;
    return k;
}

// ---------------------------------------------------------------- writing

enum { LINE_ROOM = 8192 };

// The report as it is written: lines go in while they fit below limit;
// the end line always fits after it.
struct Writer {
    char *out;
    size_t len, limit;
    const DetailsPrivate *priv;
};

// One line of raw bytes, its private parts left out; a line that does not
// fit any more is passed over.
static void put_bytes(Writer *w, const char *text, size_t n)
{
    char line[LINE_ROOM];
    size_t k = details_scrub(w->priv, text, n, line, sizeof line);
    if (w->limit - w->len < k + 2)
        return;
    memcpy(w->out + w->len, line, k);
    w->len += k;
    w->out[w->len++] = '\r';
    w->out[w->len++] = '\n';
    w->out[w->len] = 0;
}

static void put(Writer *w, const char *format, ...) PRINTF_LIKE(2, 3);

static void put(Writer *w, const char *format, ...)
{
    char line[LINE_ROOM];
    va_list ap;
    va_start(ap, format);
    int n = vfmt(line, sizeof line, format, ap);
    va_end(ap);
    put_bytes(w, line, (size_t)n);
}

// A label and a piece of the log, which may hold any byte, on one line.
static void put_span(Writer *w, const char *label, const char *log, DetailsSpan s, const char *after)
{
    char line[LINE_ROOM];
    size_t k = 0, n = strlen(label), m = strlen(after);
    size_t take = s.len < sizeof line - n - m - 1 ? s.len : sizeof line - n - m - 1;
    memcpy(line, label, n);
    k = n;
    memcpy(line + k, log + s.at, take);
    k += take;
    memcpy(line + k, after, m);
    k += m;
    put_bytes(w, line, k);
}

// Each line of a text whose lines are separated by '\n'.
static void put_lines(Writer *w, const char *text)
{
    while (text && *text) {
        const char *nl = strchr(text, '\n');
        size_t n = nl ? (size_t)(nl - text) : strlen(text);
        put_bytes(w, text, n);
        text = nl ? nl + 1 : text + n;
    }
}

static int span_is(const char *log, DetailsSpan s, const char *text)
{
    return s.len == strlen(text) && memcmp(log + s.at, text, s.len) == 0;
}

static void put_verdict(Writer *w, const DetailsFacts *f, const char *log, const DetailsLog *l, int disc)
{
    char label[32];
    DetailsSpan v = l->verdict[disc - 1];
    fmt(label, sizeof label, "CD %d verdict: ", disc);
    if (v.len && log[v.at + v.len - 1] == ':')
        v.len--;
    if (v.len)
        put_span(w, label, log, v, "");
    else if (!f->table || f->table->name_count == 0)
        put(w, "%snot judged: this setup knows no disc editions", label);
    else
        put(w, "%snot judged in this attempt", label);
}

static void put_sources(Writer *w, const DetailsFacts *f, const char *log, const DetailsLog *l)
{
    static const char *const labels[3] = {"CD 1: ", "CD 2: ", "Update: "};
    put(w, "Sources");
    if (!l->attempts) {
        put(w, "none: the log holds no install attempt");
        return;
    }
    for (int i = 0; i < 3; i++) {
        if (l->source[i].len)
            put_span(w, labels[i], log, l->source[i], "");
        else
            put(w, "%snot in the log", labels[i]);
        if (i < 2)
            put_verdict(w, f, log, l, i + 1);
    }
}

static const char *result_words(const DetailsFacts *f, const char *log, const DetailsLog *l)
{
    switch (l->result) {
    case DETAILS_INSTALLED: return "installed";
    case DETAILS_FAILED:
        return span_is(log, l->failure, "ERROR: the installation was stopped") ? "stopped by the player" : "failed";
    case DETAILS_UNENDED:
        return f->question ? "under way, asking a question"
                           : "did not end (setup was closed or ended during the install)";
    default: return "no install attempt in the log";
    }
}

// The editions' size and CRC-32 of a file of a disc (rel, below the disc's
// root), as a text: "; expected 1,048,576 bytes, CRC-32 1A2B3C4D (edition
// Sample)", each different one of up to three editions; "" when no edition
// has it.
static void expected_words(const EditionTable *t, const char *rel, size_t n, char *out, size_t size)
{
    int shown = 0;
    size_t k = 0;
    out[0] = 0;
    for (int i = 0; t && i < t->file_count && shown < 3; i++) {
        const EditionFile *e = &t->files[i];
        if (strlen(e->path) != n || !same_text(e->path, rel, n))
            continue;
        int again = 0;
        for (int j = 0; j < i && !again; j++) {
            const EditionFile *o = &t->files[j];
            again = strlen(o->path) == n && same_text(o->path, rel, n) && o->size == e->size && o->crc == e->crc;
        }
        if (again)
            continue;
        char count[32];
        k += (size_t)fmt(out + k, size - k, "%s %s bytes, CRC-32 %08X (edition %s)", shown ? "; or" : "; expected",
                         fmt_count(e->size, count, sizeof count), (unsigned)e->crc, t->names[e->edition].name);
        shown++;
    }
}

// A file that could not be read, with what it should be when it lies on a
// disc that was being copied from a folder or a drive.
static void put_unread(Writer *w, const DetailsFacts *f, const char *log, const DetailsUnread *u)
{
    char expected[600] = "";
    const char *path = log + u->path.at, *root = log + u->root.at;
    size_t r = u->root.len;
    if (r && u->path.len > r && same_text(path, root, r)) {
        size_t skip = root[r - 1] == '\\' ? r : path[r] == '\\' ? r + 1 : 0;
        if (skip && skip < u->path.len)
            expected_words(f->table, path + skip, u->path.len - skip, expected, sizeof expected);
    }
    put_span(w, "", log, u->line, expected);
}

static void put_files(Writer *w, const DetailsFacts *f, const char *log, const DetailsLog *l)
{
    int any = 0;
    // The files of a damaged disc, then those of another pressing.
    for (int pressing = 0; pressing < 2; pressing++) {
        int headed = 0;
        for (int d = 0; d < 2; d++) {
            const DetailsDamage *g = &l->damage[d];
            char label[16];
            fmt(label, sizeof label, "CD %d: ", d + 1);
            if (g->pressing != pressing)
                continue;
            for (int i = 0; i < g->count; i++) {
                if (!headed++)
                    put(w, pressing ? "Files of another pressing, installed as they are:" : "Files damaged or missing:");
                put_span(w, label, log, g->files[i], "");
            }
            if (g->more.len)
                put_span(w, label, log, g->more, "");
            any += headed > 0;
        }
    }
    if (!any)
        put(w, "Files damaged or missing: none named");
    if (!l->unread_count)
        return;
    put(w, "Files that could not be read:");
    for (int i = 0; i < l->unread_count && i < DETAILS_FILES; i++)
        put_unread(w, f, log, &l->unread[i]);
    if (l->unread_count > DETAILS_FILES)
        put(w, "and %d more", l->unread_count - DETAILS_FILES);
}

static void put_outcome(Writer *w, const DetailsFacts *f, const char *log, const DetailsLog *l)
{
    put(w, "Outcome");
    if (l->mode.len)
        put_span(w, "Mode: ", log, l->mode, "");
    put(w, "Result: %s", result_words(f, log, l));
    if (f->question)
        put(w, "Question: %s", f->question);
    if (l->failure.len)
        put_span(w, "Failure: ", log, l->failure, "");
    else
        put(w, "Failure: none");
    if (l->has_error && f->error_words && f->error_words[0])
        put(w, "Error code: %lu (%s)", l->error, f->error_words);
    else if (l->has_error)
        put(w, "Error code: %lu", l->error);
    else
        put(w, "Error code: none");
    if (l->has_error && l->error_line.at != l->failure.at)
        put_span(w, "Error in: ", log, l->error_line, "");
    if (l->attempts)
        put_files(w, f, log, l);
}

// The heading of the log's lines: how many of how many, of which file.
static int tail_heading(char *out, size_t size, const DetailsFacts *f, int shown, int lines)
{
    int has_time = f->log_time && f->log_time[0];
    return fmt(out, size, "Log: the last %d of %d lines of %s%s%s", shown, lines, f->log_name,
               has_time ? ", last written " : "", has_time ? f->log_time : "");
}

// The log's last lines, as many of the last DETAILS_TAIL as fit.
static void put_tail(Writer *w, const DetailsFacts *f, const char *log, size_t len, const DetailsLog *l)
{
    DetailsSpan lines[DETAILS_TAIL];
    int n = 0;
    DetailsSpan line;
    size_t at = l->tail;
    while (n < DETAILS_TAIL && next_line(log, len, &at, &line))
        lines[n++] = line;
    // Room for the heading first, as wide as it can come out.
    char heading[LINE_ROOM], scrubbed[LINE_ROOM];
    int k = tail_heading(heading, sizeof heading, f, DETAILS_TAIL, l->lines);
    size_t need = details_scrub(w->priv, heading, (size_t)k, scrubbed, sizeof scrubbed) + 2;
    size_t room = w->limit - w->len, used = 0;
    room = room > need ? room - need : 0;
    int first = n;
    while (first > 0) {
        size_t m = details_scrub(w->priv, log + lines[first - 1].at, lines[first - 1].len, scrubbed, sizeof scrubbed);
        if (room - used < m + 2)
            break;
        used += m + 2;
        first--;
    }
    tail_heading(heading, sizeof heading, f, n - first, l->lines);
    put(w, "%s", heading);
    for (int i = first; i < n; i++)
        put_bytes(w, log + lines[i].at, lines[i].len);
}

size_t details_write(const DetailsFacts *f, const char *log, size_t len, const DetailsLog *l, char *out, size_t size)
{
    Writer w;
    const size_t end = sizeof end_line - 1;
    size_t most = size - 1 < (size_t)DETAILS_MAX ? size - 1 : (size_t)DETAILS_MAX;
    w.out = out;
    w.len = 0;
    w.limit = most > end ? most - end : 0;
    w.priv = f->private_parts;
    out[0] = 0;
    put(&w, "%s", f->title);
    put(&w, "%s", "");
    put(&w, "System");
    put_lines(&w, f->system);
    put(&w, "%s", "");
    put_sources(&w, f, log, l);
    put(&w, "%s", "");
    put_outcome(&w, f, log, l);
    put(&w, "%s", "");
    put(&w, "Install folder");
    put_lines(&w, f->folder);
    put(&w, "%s", "");
    if (f->log_state == DETAILS_LOG_NONE)
        put(&w, "Log: there is no log %s", f->log_name);
    else if (f->log_state == DETAILS_LOG_UNREADABLE)
        put(&w, "Log: %s cannot be read", f->log_name);
    else
        put_tail(&w, f, log, len, l);
    if (most - w.len >= end) {
        memcpy(out + w.len, end_line, end + 1);
        w.len += end;
    }
    return w.len;
}
