#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "util/util.h"

// Bytes in the UTF-8 sequence that begins with lead; 1 for anything that
// begins no longer sequence.
static size_t utf8_sequence_length(unsigned char lead)
{
    if (lead >= 0xF0 && lead <= 0xF4)
        return 4;
    if (lead >= 0xE0)
        return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2)
        return 2;
    return 1;
}

// The length to keep of text cut at len bytes: shorter by the start of a
// UTF-8 sequence that the cut split, so no half character is left behind.
static size_t whole_characters(const char *text, size_t len)
{
    size_t start = len;
    while (start > 0 && len - start < 3 && ((unsigned char)text[start - 1] & 0xC0) == 0x80)
        start--;
    if (start == 0)
        return len;
    size_t lead = start - 1;
    size_t need = utf8_sequence_length((unsigned char)text[lead]);
    return need > 1 && len - lead < need ? lead : len;
}

static int cut_fmt(char *out, size_t size, int *fits, const char *format, va_list ap) PRINTF_LIKE(4, 0);

static int cut_fmt(char *out, size_t size, int *fits, const char *format, va_list ap)
{
    int n = vsnprintf(out, size, format, ap);
    out[size - 1] = 0;
    if (n < 0) {
        out[0] = 0;
        *fits = 0;
        return 0;
    }
    *fits = (size_t)n < size;
    if (*fits)
        return n;
    size_t keep = whole_characters(out, size - 1);
    out[keep] = 0;
    return (int)keep;
}

int fmt(char *out, size_t size, const char *format, ...)
{
    if (size == 0)
        return 0;
    int fits;
    va_list ap;
    va_start(ap, format);
    int n = cut_fmt(out, size, &fits, format, ap);
    va_end(ap);
    return n;
}

int vfmt(char *out, size_t size, const char *format, va_list ap)
{
    if (size == 0)
        return 0;
    int fits;
    return cut_fmt(out, size, &fits, format, ap);
}

int fmt_path(char *out, size_t size, const char *format, ...)
{
    if (size == 0)
        return 0;
    int fits;
    va_list ap;
    va_start(ap, format);
    cut_fmt(out, size, &fits, format, ap);
    va_end(ap);
    if (!fits)
        out[0] = 0;
    return fits;
}

int join_path(char *out, size_t size, const char *folder, const char *name)
{
    size_t n = strlen(folder);
    return fmt_path(out, size, "%s%s%s", folder, n > 0 && folder[n - 1] == '\\' ? "" : "\\", name);
}

const char *fmt_count(uint64_t n, char *out, size_t size)
{
    char digits[24], grouped[32];
    int len = fmt(digits, sizeof digits, "%llu", (unsigned long long)n);
    int k = 0;
    for (int i = 0; i < len; i++) {
        // A comma before each group of three digits from the right.
        if (i > 0 && (len - i) % 3 == 0)
            grouped[k++] = ',';
        grouped[k++] = digits[i];
    }
    grouped[k] = 0;
    fmt(out, size, "%s", grouped);
    return out;
}

int utf8_valid(const char *text)
{
    const unsigned char *s = (const unsigned char *)text;
    while (*s) {
        size_t need = utf8_sequence_length(*s);
        if (need == 1) {
            if (*s >= 0x80)
                return 0;
            s++;
            continue;
        }
        // The second byte's range excludes overlong forms, surrogates and
        // code points past U+10FFFF.
        unsigned char lo = 0x80, hi = 0xBF;
        if (*s == 0xE0)
            lo = 0xA0;
        else if (*s == 0xED)
            hi = 0x9F;
        else if (*s == 0xF0)
            lo = 0x90;
        else if (*s == 0xF4)
            hi = 0x8F;
        if (s[1] < lo || s[1] > hi)
            return 0;
        for (size_t i = 2; i < need; i++)
            if ((s[i] & 0xC0) != 0x80)
                return 0;
        s += need;
    }
    return 1;
}

int split_tabs(const char *s, size_t len, TextField *f, int count)
{
    int n = 0;
    size_t start = 0;
    for (size_t i = 0; i <= len; i++) {
        if (i < len && s[i] != '\t')
            continue;
        if (n == count)
            return 0;
        f[n].s = s + start;
        f[n].len = i - start;
        n++;
        start = i + 1;
    }
    return n == count;
}

static int hex_digit(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
}

int field_crc(TextField f, uint32_t *out)
{
    uint32_t v = 0;
    if (f.len != 8)
        return 0;
    for (size_t i = 0; i < 8; i++) {
        int d = hex_digit((unsigned char)f.s[i]);
        if (d < 0)
            return 0;
        v = v << 4 | (uint32_t)d;
    }
    *out = v;
    return 1;
}

int is_control(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}
