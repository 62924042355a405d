// Fuzzes the reading of the log and the report made from it: the input is
// the log's text. Every span the scan gives lies inside the log, and the
// report is text of at most DETAILS_MAX bytes that ends in its end line,
// with the private folder and name left out.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "setup/details.h"

static void check_span(DetailsSpan s, size_t len)
{
    if (s.at > len || s.len > len - s.at)
        abort();
}

static void check_scan(const DetailsLog *l, size_t len)
{
    check_span(l->folder, len);
    check_span(l->mode, len);
    check_span(l->failure, len);
    check_span(l->error_line, len);
    for (int i = 0; i < 3; i++)
        check_span(l->source[i], len);
    for (int d = 0; d < 2; d++) {
        check_span(l->verdict[d], len);
        if (l->damage[d].count < 0 || l->damage[d].count > DETAILS_FILES)
            abort();
        for (int i = 0; i < l->damage[d].count; i++)
            check_span(l->damage[d].files[i], len);
        check_span(l->damage[d].more, len);
    }
    for (int i = 0; i < l->unread_count && i < DETAILS_FILES; i++) {
        check_span(l->unread[i].line, len);
        check_span(l->unread[i].path, len);
        check_span(l->unread[i].root, len);
    }
    if (l->tail > len || l->lines < 0 || l->unread_count < 0)
        abort();
}

static int word_byte(unsigned char c)
{
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c >= 0x80;
}

// 1 when the name "fuzz" stands in the report as a whole word, in any ASCII
// case. A line cut at its room may end in the start of a longer word.
static int name_left_in(const char *out, size_t n)
{
    size_t line = 0;
    for (size_t i = 0; i < n; i++) {
        if (out[i] == '\n')
            line = i + 1;
        if (n - i < 4 || (i > 0 && word_byte((unsigned char)out[i - 1])))
            continue;
        int same = 1;
        for (size_t k = 0; k < 4; k++)
            same = same && (out[i + k] | 0x20) == "fuzz"[k];
        if (!same || (i + 4 < n && word_byte((unsigned char)out[i + 4])))
            continue;
        int at_cut = i + 4 < n && out[i + 4] == '\r' && i + 4 - line >= 8000;
        if (!at_cut)
            return 1;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // The log in a buffer of its own size, so that reading past it trips.
    char *log = (char *)malloc(size ? size : 1);
    memcpy(log, data, size);
    DetailsLog l;
    details_scan(log, size, &l);
    check_scan(&l, size);

    static const char table_text[] = "Sample\t1\t15\t78BEE7A5\tTARNOK\\DISK1\\DISK1\n";
    EditionTable table;
    if (!edition_table_parse(table_text, sizeof table_text - 1, &table))
        abort();
    DetailsPrivate p;
    memset(&p, 0, sizeof p);
    details_private_path(&p, "C:\\Users\\fuzz", "%USERPROFILE%");
    details_private_word(&p, "fuzz");
    DetailsFacts f;
    memset(&f, 0, sizeof f);
    f.title = "title";
    f.system = "Windows: x\nWine: none";
    f.log_name = "log";
    f.log_time = "";
    f.error_words = "words";
    f.folder = "Path: C:\\Users\\fuzz";
    f.table = &table;
    f.private_parts = &p;
    char *out = (char *)malloc(DETAILS_MAX + 1);
    size_t n = details_write(&f, log, size, &l, out, DETAILS_MAX + 1);
    static const char end[] = "end of report\r\n";
    if (n > DETAILS_MAX || strlen(out) != n || n < sizeof end - 1 ||
        memcmp(out + n - (sizeof end - 1), end, sizeof end - 1) != 0)
        abort();
    if (name_left_in(out, n))
        abort();
    free(out);
    edition_table_free(&table);
    free(log);
    return 0;
}
