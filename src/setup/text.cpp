// Wide text from the system (the command line, the window's fields) in the
// ANSI code page that every other call of the program speaks. With the
// manifest's UTF-8 code page every character converts; on a Windows that
// ignores it, a character the code page lacks must not become a lookalike
// ("Ł" as "L" would name another folder), so such text is refused.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "setup/setup.h"

static const char reason_lossy[] = "has characters that this Windows cannot pass on";
static const char reason_long[] = "is too long";

char *ansi_copy(const wchar_t *w, int *exact)
{
    // UTF-8 takes every character but a lone surrogate and allows neither
    // the best-fit flag nor the used-default flag; the other code pages
    // would put a lookalike where a character is missing.
    UINT cp = GetACP();
    int utf8 = cp == CP_UTF8;
    DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    BOOL used_default = FALSE;
    int n = WideCharToMultiByte(cp, flags, w, -1, NULL, 0, NULL, utf8 ? NULL : &used_default);
    *exact = n > 0 && !used_default;
    if (n <= 0) {
        // Only for messages: the same text with its bad characters replaced.
        flags = 0;
        n = WideCharToMultiByte(cp, 0, w, -1, NULL, 0, NULL, NULL);
    }
    char *a = (char *)malloc(n > 0 ? (size_t)n : 1);
    if (!a)
        return NULL;
    a[0] = 0;
    if (n > 0 && WideCharToMultiByte(cp, flags, w, -1, a, n, NULL, NULL) <= 0)
        a[0] = 0;
    return a;
}

const char *ansi_path(const wchar_t *w, char *out, size_t size)
{
    int exact = 0;
    char *a = ansi_copy(w, &exact);
    const char *reason = NULL;
    out[0] = 0;
    if (!a || !exact)
        reason = reason_lossy;
    else if (!fmt_path(out, size, "%s", a))
        reason = reason_long;
    free(a);
    return reason;
}

const char *field_path(HWND field, char *out, size_t size)
{
    int len = GetWindowTextLengthW(field);
    wchar_t *w = (wchar_t *)calloc((size_t)(len > 0 ? len : 0) + 1, sizeof *w);
    out[0] = 0;
    if (!w)
        return reason_long;
    GetWindowTextW(field, w, len + 1);
    const char *reason = ansi_path(w, out, size);
    free(w);
    return reason;
}
