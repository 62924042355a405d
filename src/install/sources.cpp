// The sources as the player gave them, told to the log before the install
// opens any: a report of a failed install names each, and what it is, even
// when the install stopped before it read them.
#include <windows.h>

#include "install/running.h"

static void tell_update(const char *path)
{
    char shown[1024], n[32];
    WIN32_FILE_ATTRIBUTE_DATA a;
    name_escape(path, shown, sizeof shown);
    if (!path[0])
        setup_log("Update source: %s", "none given");
    else if (!GetFileAttributesExA(path, GetFileExInfoStandard, &a))
        setup_log("Update source: %s (not found)", shown);
    else if (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        setup_log("Update source: %s (a folder)", shown);
    else
        setup_log("Update source: file %s (%s bytes)", shown,
                  fmt_count((uint64_t)a.nFileSizeHigh << 32 | a.nFileSizeLow, n, sizeof n));
}

void tell_source(int disc, const char *given)
{
    char told[1024];
    setup_log("CD %d source: %s", disc, cd_tell(given, told, sizeof told));
}

int tell_sources(Install *in)
{
    tell_source(1, in->opts->cd1);
    tell_source(2, in->opts->cd2);
    tell_update(in->opts->patch);
    return 1;
}
