// Detection at start-up: the discs in the CD drives, and the update and
// the disc images beside the program. The first find of each wins: drives
// before files, lower drive letters first, files in listing order. Nothing
// that cannot be read is reported; its field stays empty.
#include <windows.h>

#include <string.h>

#include "cdsrc/cdsrc.h"
#include "setup/setup.h"

static int is_opt(const char *arg, const char *name) { return _stricmp(arg, name) == 0; }

// A path that does not fit leaves the field empty: a cut path names another file.
static int set_path(char *field, const char *value) { return fmt_path(field, 520, "%s", value); }

// The CD drive that detection found a disc in; "" when none.
static char disc_drive[4];

static void detect_drives(InstallOptions *o)
{
    DWORD mask = GetLogicalDrives();
    for (int d = 2; d < 26; d++) {
        char root[4] = {(char)('A' + d), ':', '\\', 0};
        char probe[260];
        if (!(mask & (1u << d)) || GetDriveTypeA(root) != DRIVE_CDROM)
            continue;
        fmt(probe, sizeof probe, "%sTARNOK\\DISK%d\\DISK%d", root, 1, 1);
        if (path_exists(probe) && !o->cd1[0] && set_path(o->cd1, root) && !disc_drive[0])
            fmt(disc_drive, sizeof disc_drive, "%s", root);
        fmt(probe, sizeof probe, "%sTARNOK\\DISK%d\\DISK%d", root, 2, 2);
        if (path_exists(probe) && !o->cd2[0] && set_path(o->cd2, root) && !disc_drive[0])
            fmt(disc_drive, sizeof disc_drive, "%s", root);
    }
}

// With one drive, the disc in it is one of the two and the other is found
// nowhere: both come from that drive, one after the other.
static void detect_one_drive(InstallOptions *o)
{
    if (!disc_drive[0])
        return;
    if (!o->cd1[0] && !strcmp(o->cd2, disc_drive))
        set_path(o->cd1, disc_drive);
    else if (!o->cd2[0] && !strcmp(o->cd1, disc_drive))
        set_path(o->cd2, disc_drive);
}

static void detect_image(InstallOptions *o, const char *path)
{
    CdSource *src = cd_open(path);
    if (!src)
        return;
    if (cd_exists(src, "TARNOK\\DISK1\\DISK1") && !o->cd1[0])
        set_path(o->cd1, path);
    if (cd_exists(src, "TARNOK\\DISK2\\DISK2") && !o->cd2[0])
        set_path(o->cd2, path);
    cd_close(src);
}

// Images, and the sheets and descriptors that stand for raw images.
static const char *const image_exts[] = {".iso", ".cue", ".bin", ".img", ".mdf", ".ccd", ".mds"};
static const char *const sheet_exts[] = {".cue", ".ccd", ".mds"};

// Data files that a sheet or descriptor beside the program names: each is
// opened through its sheet only. More than fit are simply opened twice.
enum { NAMED_MAX = 32 };
static char named[NAMED_MAX][780];
static int nnamed;

static int has_ext(const char *name, const char *const *exts, size_t n)
{
    const char *ext = strrchr(name, '.');
    for (size_t i = 0; ext && i < n; i++)
        if (is_opt(ext, exts[i]))
            return 1;
    return 0;
}

static void note_named(InstallOptions *o, const char *path, const char *name)
{
    (void)o;
    if (!has_ext(name, sheet_exts, sizeof sheet_exts / sizeof *sheet_exts) || nnamed == NAMED_MAX)
        return;
    cd_image_file(path, named[nnamed], sizeof named[nnamed]);
    if (!is_opt(named[nnamed], path))
        nnamed++;
}

static int is_named(const char *path)
{
    for (int i = 0; i < nnamed; i++)
        if (is_opt(named[i], path))
            return 1;
    return 0;
}

// 1 when the file that cd_open would read for path lies in the folder or
// below it. At start nothing is opened anywhere else: a sheet beside the
// program that names a file on another drive or above its folder is passed
// over (the player may still choose it).
static int reads_inside(const char *path, const char *folder)
{
    char data[780], full[780], base[780];
    cd_image_file(path, data, sizeof data);
    DWORD n = GetFullPathNameA(data, sizeof full, full, NULL);
    DWORD m = GetFullPathNameA(folder, sizeof base, base, NULL);
    if (n == 0 || n >= sizeof full || m == 0 || m >= sizeof base)
        return 0;
    while (m > 0 && base[m - 1] == '\\')
        base[--m] = 0;
    return path_below(full, base) != NULL;
}

static char program_dir[520];

static void detect_entry(InstallOptions *o, const char *path, const char *name)
{
    if (is_opt(name, "TARNO103.EXE") && !o->patch[0])
        set_path(o->patch, path);
    if (has_ext(name, image_exts, sizeof image_exts / sizeof *image_exts) && !is_named(path) &&
        reads_inside(path, program_dir))
        detect_image(o, path);
}

// Calls visit with the full path and the name of every entry of the
// program's folder, in the order the file system lists them.
static void each_beside_program(InstallOptions *o, void (*visit)(InstallOptions *o, const char *path, const char *name))
{
    char path[780];
    FolderListing l;
    for (int more = listing_first(&l, program_dir, "*"); more; more = listing_next(&l)) {
        fmt(path, sizeof path, "%s\\%s", program_dir, l.name);
        visit(o, path, l.name);
    }
    listing_close(&l);
}

// The update and disc images lying next to the program. A .bin that a cue
// sheet there names is found through the sheet, which says where its
// volume starts.
static void detect_files(InstallOptions *o)
{
    program_folder(program_dir, sizeof program_dir);
    each_beside_program(o, note_named);
    each_beside_program(o, detect_entry);
}

void detect_discs_and_update(InstallOptions *o)
{
    detect_drives(o);
    detect_files(o);
    detect_one_drive(o);
}

