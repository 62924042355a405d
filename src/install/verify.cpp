// setup.exe /verify: every file that the install's list names is read and
// compared with its size and CRC-32, and each one that is not as listed is
// named on a line of its own.
#include <windows.h>

#include "install/filelist.h"
#include "install/install.h"

void log_file_state(int state, const ListEntry *e, unsigned long error)
{
    char shown[1024], reason[600];
    name_escape(e->path, shown, sizeof shown);
    if (state == LIST_MISSING)
        setup_log("missing: %s", shown);
    else if (state == LIST_CHANGED)
        setup_log("changed: %s", shown);
    else if (state == LIST_UNREADABLE)
        setup_log("unreadable: %s: %s", shown, error_text(error, reason, sizeof reason));
    else if (state == LIST_LINKED)
        setup_log("linked: %s", shown);
}

const char *linked_reason(int count, char *out, size_t size)
{
    char n[32];
    fmt(out, size,
        "%s %s through a link to another place (a folder moved and linked back): the setup checks, repairs and "
        "removes nothing behind a link; move the folder back into the install folder",
        fmt_count((uint64_t)count, n, sizeof n), count == 1 ? "file is reached" : "files are reached");
    return out;
}

static void report_file(int state, const ListEntry *e, uint64_t found, unsigned long error, void *ctx)
{
    (void)found;
    (void)ctx;
    log_file_state(state, e, error);
}

int verify_install(const char *given)
{
    char dir[520], reason[1200], n[32], m[32];
    if (given[0] ? !full_long_folder(given, dir, sizeof dir) : !read_install_location(dir, sizeof dir)) {
        setup_log("ERROR: %s", given[0] ? "the install folder's path is not valid"
                                        : "no install folder was given, and no Tarnok install is registered");
        return VERIFY_FAILED;
    }
    setup_log("Checking the installed files in %s ...", dir);
    ListTally t;
    if (!list_verify(dir, report_file, NULL, &t, reason, sizeof reason)) {
        setup_log("ERROR: %s", reason);
        return VERIFY_FAILED;
    }
    if (t.linked > 0) {
        setup_log("ERROR: %s", linked_reason(t.linked, reason, sizeof reason));
        return VERIFY_FAILED;
    }
    if (t.unreadable > 0) {
        setup_log("ERROR: %s files could not be read", fmt_count((uint64_t)t.unreadable, n, sizeof n));
        return VERIFY_FAILED;
    }
    if (t.missing + t.changed > 0) {
        setup_log("ERROR: %s files are missing and %s changed: install again to repair them",
                  fmt_count((uint64_t)t.missing, n, sizeof n), fmt_count((uint64_t)t.changed, m, sizeof m));
        return VERIFY_NOT_WHOLE;
    }
    if (!t.complete) {
        setup_log("ERROR: %s", "the install was not finished: install again to finish it");
        return VERIFY_NOT_WHOLE;
    }
    setup_log("All %s files are whole.", fmt_count((uint64_t)t.whole, n, sizeof n));
    return VERIFY_WHOLE;
}
