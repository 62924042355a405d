// The small rules of paths that every unit goes by: where a path lies
// below a folder, and the root of a drive. Memory only.
#include <string.h>

#include "util/util.h"

// Paths compare as Windows names them: ASCII letters in either case, other
// bytes as they are.
static unsigned char fold(unsigned char c)
{
    return c >= 'a' && c <= 'z' ? (unsigned char)(c - 'a' + 'A') : c;
}

static int is_separator(char c)
{
    return c == '\\' || c == '/';
}

static int is_letter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

const char *path_below(const char *path, const char *folder)
{
    size_t n = strlen(folder);
    // The end of a shorter path differs from the folder's byte there.
    for (size_t i = 0; i < n; i++)
        if (fold((unsigned char)path[i]) != fold((unsigned char)folder[i]))
            return NULL;
    if (n > 0 && folder[n - 1] == '\\')
        return path[n] ? path + n : NULL;
    return path[n] == '\\' ? path + n + 1 : NULL;
}

int drive_root_of(const char *path, char *root)
{
    root[0] = 0;
    if (!is_letter(path[0]) || path[1] != ':')
        return 0;
    root[0] = path[0];
    root[1] = ':';
    root[2] = '\\';
    root[3] = 0;
    return 1;
}

int is_drive_root(const char *path)
{
    // What is left once the separators at the end go.
    size_t n = strlen(path);
    while (n > 0 && is_separator(path[n - 1]))
        n--;
    if (is_letter(path[0]) && path[1] == ':')
        return n == 2;
    if (n < 2 || !is_separator(path[0]) || !is_separator(path[1]))
        return 0;
    // "\\server\share": two names after the leading pair, nothing below them.
    int separators = 0;
    for (size_t i = 2; i < n; i++)
        separators += is_separator(path[i]);
    return separators <= 1;
}
