// What counts as ours: the tests that decide what an install may write into
// and what an uninstall may remove. A player's own folder of the same name
// is never merged into or deleted.
#include <windows.h>

#include <string.h>

#include "install/running.h"

static int is_sep(char c) { return c == '\\' || c == '/'; }

// Backslashes only, and no separators at the end.
static void normalise(const char *path, char *out, size_t size)
{
    fmt(out, size, "%s", path);
    for (char *s = out; *s; s++)
        if (*s == '/')
            *s = '\\';
    size_t n = strlen(out);
    while (n > 0 && out[n - 1] == '\\')
        out[--n] = 0;
}

int names_folder(const char *path, const char *dir)
{
    char a[780], b[780], game_name[64];
    normalise(path, a, sizeof a);
    normalise(dir, b, sizeof b);
    if (!a[0] || !b[0])
        return 0;
    if (_stricmp(a, b) == 0)
        return 1;
    fmt(game_name, sizeof game_name, "\\%s", install_layout[LAYOUT_EXE].name);
    size_t n = strlen(b), m = strlen(a), g = strlen(game_name);
    if (_strnicmp(a, b, n) == 0 && _stricmp(a + n, game_name) == 0)
        return 1;
    // Spelt another way (a short name, a trailing dot, a link): while both
    // folders exist, the system tells whether they are one.
    if (m > g && _stricmp(a + m - g, game_name) == 0)
        a[m - g] = 0;
    return is_dir(a) && is_dir(b) && same_file(a, b);
}

int full_folder(const char *given, char *out, size_t size)
{
    out[0] = 0;
    if (!given[0])
        return 0;
    char full[1024];
    DWORD n = GetFullPathNameA(given, sizeof full, full, NULL);
    if (n == 0 || n >= sizeof full || n >= size)
        return 0;
    // Trailing separators go, but a drive's own ("C:\") stays.
    while (n > 3 && is_sep(full[n - 1]))
        full[--n] = 0;
    fmt(out, size, "%s", full);
    return 1;
}

int full_long_folder(const char *given, char *out, size_t size)
{
    if (!full_folder(given, out, size))
        return 0;
    char long_name[1024];
    DWORD n = GetLongPathNameA(out, long_name, sizeof long_name);
    if (n > 0 && n < sizeof long_name && n < size)
        fmt(out, size, "%s", long_name);
    return 1;
}

int is_real_dir(const char *path)
{
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) && !(a & FILE_ATTRIBUTE_REPARSE_POINT);
}

int is_install_folder(const char *dir)
{
    char path[780];
    // Through a link the data would be someone else's folder.
    if (layout_path(path, sizeof path, dir, LAYOUT_GAME) && is_real_dir(path) &&
        layout_path(path, sizeof path, dir, LAYOUT_HD) && is_dir(path))
        return 1;
    // The player may have deleted the game data by hand.
    return entry_names_folder(dir);
}

int entry_names_folder(const char *dir)
{
    char location[780];
    return read_install_location(location, sizeof location) && names_folder(location, dir);
}

// The entries the conversion build writes into {dir}\build.
static const char *const build_entries[4] = {"gen", "obj", "build.log", "objs.rsp"};

static int is_build_entry(const char *name)
{
    for (int i = 0; i < 4; i++)
        if (_stricmp(name, build_entries[i]) == 0)
            return 1;
    return 0;
}

int build_folder_is_ours(const char *dir)
{
    char path[780];
    if (!layout_path(path, sizeof path, dir, LAYOUT_BUILD) || !is_real_dir(path))
        return 0;
    FolderListing l;
    int more = listing_first(&l, path, "*");
    int ours = l.opened;
    for (; more && ours; more = listing_next(&l))
        ours = is_build_entry(l.name);
    listing_close(&l);
    return ours;
}
