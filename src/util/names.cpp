// Names taken from discs and archives: the one test of whether Windows would
// create a path step under its own name, and the one way such a name is
// shown in a log line. Pure functions over bytes, without <windows.h>, so
// the native tests and fuzzers share them with the readers.
#include <string.h>

#include "util/util.h"

static unsigned char upper(unsigned char c)
{
    return c >= 'a' && c <= 'z' ? (unsigned char)(c - 'a' + 'A') : c;
}

// 1 if the n bytes at s are word, ignoring ASCII case.
static int same_word(const char *s, size_t n, const char *word)
{
    if (strlen(word) != n)
        return 0;
    for (size_t i = 0; i < n; i++) {
        if (upper((unsigned char)s[i]) != (unsigned char)word[i])
            return 0;
    }
    return 1;
}

// The digit after COM or LPT that makes a device: 0 to 9, or the
// superscript one, two or three. Names reach us as code-page bytes (in
// 1252 these are 0xB9, 0xB2, 0xB3) or as UTF-8 (C2 B9, C2 B2, C2 B3): both
// forms are taken, whatever code page the program runs under. In a few
// other code pages a name such as "COM" + 0xB9 is then refused without
// being a device; no disc of ours holds such a name.
static int is_port_digit(const unsigned char *d, size_t n)
{
    if (n == 1)
        return (d[0] >= '0' && d[0] <= '9') || d[0] == 0xB9 || d[0] == 0xB2 || d[0] == 0xB3;
    return n == 2 && d[0] == 0xC2 && (d[1] == 0xB9 || d[1] == 0xB2 || d[1] == 0xB3);
}

// Windows takes a step for a device by its stem: what comes before the
// first '.' (or stream colon), with blanks at its end ignored. So "nul",
// "NUL.TXT", "Nul .txt" and "COM1.DAT" all open a device.
static int is_device(const char *step, size_t len)
{
    static const char *const plain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$", "CLOCK$"};
    size_t stem = 0;
    while (stem < len && step[stem] != '.' && step[stem] != ':')
        stem++;
    while (stem > 0 && step[stem - 1] == ' ')
        stem--;
    for (const char *word : plain) {
        if (same_word(step, stem, word))
            return 1;
    }
    return stem >= 4 && (same_word(step, 3, "COM") || same_word(step, 3, "LPT")) &&
           is_port_digit((const unsigned char *)step + 3, stem - 3);
}

int name_reserved(const char *step, size_t len)
{
    if (len > 0 && (step[len - 1] == '.' || step[len - 1] == ' '))
        return 1;
    return is_device(step, len);
}

const char *name_escape(const char *text, char *out, size_t size)
{
    static const char hex[] = "0123456789ABCDEF";
    size_t k = 0;
    if (size == 0)
        return out;
    for (const unsigned char *s = (const unsigned char *)text; *s; s++) {
        char shown[5] = {(char)*s, 0};
        if (*s == '\n' || *s == '\r' || *s == '\t') {
            shown[0] = '\\';
            shown[1] = *s == '\n' ? 'n' : *s == '\r' ? 'r' : 't';
            shown[2] = 0;
        } else if (*s < 0x20 || *s == 0x7F) {
            shown[0] = '\\';
            shown[1] = 'x';
            shown[2] = hex[*s >> 4];
            shown[3] = hex[*s & 15];
            shown[4] = 0;
        }
        size_t n = strlen(shown);
        // An escape is shown whole or not at all.
        if (size - 1 - k < n)
            break;
        memcpy(out + k, shown, n);
        k += n;
    }
    out[k] = 0;
    return out;
}
