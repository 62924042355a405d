// The install sequence: from the two discs and the 1.03 update to an
// installed game with its uninstaller, uninstall entry and shortcuts.
#include <windows.h>
#include <objbase.h>

#include <stdlib.h>
#include <string.h>

#include "cdsrc/cdsrc.h"
#include "install/install.h"
#include "lha/lha.h"
#include "setup/setup.h"

static const char disc1_marker[] = "TARNOK\\DISK1\\DISK1";
static const char disc2_marker[] = "TARNOK\\DISK2\\DISK2";

// The update's main executable as the official 1.03US release ships it.
static const uint64_t update_exe_size = 916367;
static const uint32_t update_exe_crc = 0xB83E34F1u;

// Fixed progress after the disc copies: 10 MiB for the game files and 2 MiB
// at the end, plus 50 + 200 + 20 MiB from the conversion build.
static const uint64_t prebuilt_budget = 0xC00000;
static const uint64_t convert_budget = 0x11A00000;
static const uint64_t files_share = 10485760;
static const uint64_t final_share = 2097152;

static const char *const sprite_dirs[9] = {
    "TARNOK", "ARME", "DIVERS", "ORBU", "GRISTAL", "FIRST", "DOLVEN", "ZAVR", "SOLDAT",
};

// The game's sound configuration for a first install; equals signs line up
// in column 13 as the DOS setup wrote them.
static const char default_cfg[] =
    "[DIGITAL]\r\n"
    "DeviceName  = Sound Blaster Pro\r\n"
    "DeviceIRQ   = 5 *\r\n"
    "DeviceDMA   = 1 *\r\n"
    "DevicePort  = 220 *\r\n"
    "DeviceID    = 0xe001\r\n"
    "\r\n"
    "[MIDI]\r\n"
    "DeviceName  = Sound Blaster Pro\r\n"
    "DevicePort  = 0x388\r\n"
    "DeviceID    = 0xa002\r\n"
    "\r\n"
    "[HARD DISK]\r\n"
    "Pre-load    = No\r\n"
    "\r\n"
    "[CDROM]\r\n"
    "Lecteur     = D\r\n";
static_assert(sizeof default_cfg - 1 == 272, "the default TARNOK.CFG is 272 bytes");

static int fail(const char *reason)
{
    setup_log("ERROR: %s", reason);
    return 0;
}

// "ERROR: <doing> <path>: <the system's reason>", and 0.
static int fail_file(const char *doing, const char *path, unsigned long error)
{
    char shown[1024], reason[600];
    setup_log("ERROR: %s %s: %s", doing, name_escape(path, shown, sizeof shown),
              error_text(error, reason, sizeof reason));
    return 0;
}

// An archive that could not be unpacked; a member that could not be written
// says why, so that a full drive shows as such.
static int fail_unpacking(const char *reason)
{
    if (!write_failure()[0])
        return fail(reason);
    setup_log("ERROR: %s: %s", reason, write_failure());
    return 0;
}

static HRSRC find_game_resource(void)
{
    return FindResourceA(NULL, "GAMEEXE", MAKEINTRESOURCEA(10));
}

int prebuilt_available(void)
{
    return find_game_resource() != NULL;
}

int kit_available(char *out, size_t size)
{
    char self[520];
    char probe[520];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self)
        self[0] = 0;
    char *slash = strrchr(self, '\\');
    if (slash)
        *slash = 0;
    // The kit's longest own path must fit a path buffer too, or the build
    // would run tools from cut paths.
    if (!fmt_path(out, size, "%s\\builder", self) ||
        !fmt_path(probe, sizeof probe, "%s\\builder\\tools\\recomp.py", self))
        return 0;
    return path_exists(probe);
}

// Copies every file (not the sub-folders) of one folder into another: 1
// when each was copied. A folder that cannot be listed copies nothing, and
// that is no failure.
static int copy_folder_files(const char *src, const char *dst)
{
    char pattern[780];
    fmt(pattern, sizeof pattern, "%s\\*", src);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    int ok = 1;
    do {
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        char from[780], to[780];
        if (fmt_path(from, sizeof from, "%s\\%s", src, fd.cFileName) &&
            fmt_path(to, sizeof to, "%s\\%s", dst, fd.cFileName)) {
            if (!copy_file(from, to, NULL))
                ok = 0;
        } else {
            setup_log("path too long: %s\\%s", dst, fd.cFileName);
            ok = 0;
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return ok;
}

static const char *disc_marker(int disc)
{
    return disc == 1 ? disc1_marker : disc2_marker;
}

// Opens both discs and makes sure the first is disc 1 and the second disc 2,
// exchanging them when they were given the other way round.
static int open_discs(const InstallOptions *o, CdSource **cd1, CdSource **cd2)
{
    CdSource *a = cd_open(o->cd1);
    CdSource *b = cd_open(o->cd2);
    if (!a) {
        cd_close(b);
        return fail("CD 1: not a readable disc, image or folder");
    }
    if (!b) {
        cd_close(a);
        return fail("CD 2: not a readable disc, image or folder");
    }
    if (cd_exists(a, disc2_marker) && cd_exists(b, disc1_marker)) {
        CdSource *t = a;
        a = b;
        b = t;
    }
    const char *reason = NULL;
    if (!cd_exists(a, disc1_marker))
        reason = "CD 1 is not Tarnok disc 1";
    else if (!cd_exists(b, disc2_marker))
        reason = "CD 2 is not Tarnok disc 2";
    if (reason) {
        cd_close(a);
        cd_close(b);
        return fail(reason);
    }
    *cd1 = a;
    *cd2 = b;
    return 1;
}

// A disc in a drive, known by its marker file: under Wine an empty drive
// fails with error 2 or 3, never "not ready", and the label may be stale.
static int disc_in(const char *root, int disc)
{
    char probe[260];
    return fmt_path(probe, sizeof probe, "%s%s", root, disc_marker(disc)) && path_exists(probe);
}

// 1 when the drive's root lists anything at all.
static int drive_holds_disc(const char *root)
{
    char pattern[260];
    fmt(pattern, sizeof pattern, "%s*", root);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int any = 0;
    do
        any = strcmp(fd.cFileName, ".") != 0 && strcmp(fd.cFileName, "..") != 0;
    while (!any && FindNextFileA(h, &fd));
    FindClose(h);
    return any;
}

// Asks for a disc until it is in the drive: 1, or 0 when the player
// cancels (and always unattended, where nobody can change it).
static int ask_for_disc(const char *root, int disc)
{
    char text[300];
    char drive[3] = {root[0], ':', 0};
    fmt(text, sizeof text, "Insert Tarnok disc %d into drive %s and press OK.", disc, drive);
    for (;;) {
        if (ask_player(text, MB_ICONINFORMATION | MB_OKCANCEL) != IDOK)
            return 0;
        if (disc_in(root, disc))
            return 1;
        if (drive_holds_disc(root))
            fmt(text, sizeof text, "The disc in drive %s is not Tarnok disc %d. Insert disc %d and press OK.", drive,
                disc, disc);
        else
            fmt(text, sizeof text, "There is no disc in drive %s. Insert disc %d and press OK.", drive, disc);
    }
}

static int not_inserted(int disc)
{
    char reason[64];
    fmt(reason, sizeof reason, "disc %d was not inserted", disc);
    return fail(reason);
}

// The disc being copied from a drive.
struct DriveDisc {
    char root[4];
    int disc;
};

// The system's words for an error, without their final full stop, then the
// number: for a sentence that goes on after it.
static const char *reason_words(unsigned long error, char *out, size_t size)
{
    error_text(error, out, size);
    char *tail = strstr(out, " (error ");
    if (tail && tail > out && tail[-1] == '.')
        memmove(tail - 1, tail, strlen(tail) + 1);
    return out;
}

// A read of the drive failed after its retries. A disc taken out (or
// exchanged) is asked for again; a disc that is in is probably dirty or
// scratched, and the player may clean it and retry.
static int on_read_trouble(const char *path, unsigned long error, void *ctx)
{
    const DriveDisc *d = (const DriveDisc *)ctx;
    if (!disc_in(d->root, d->disc)) {
        if (ask_for_disc(d->root, d->disc))
            return 1;
        setup_log("ERROR: disc %d was not inserted", d->disc);
        return 0;
    }
    char text[1400], reason[600], shown[1024];
    fmt(text, sizeof text,
        "Cannot read %s: %s. The disc may be dirty or scratched: clean it, put it back and press Retry.",
        name_escape(path, shown, sizeof shown), reason_words(error, reason, sizeof reason));
    return ask_player(text, MB_ICONWARNING | MB_RETRYCANCEL) == IDRETRY;
}

// Copies one disc into {game}\cd1 or {game}\cd2. A disc in a CD drive is
// read in small steps, retried, and asked for again when it is taken out.
static int copy_disc(CdSource *src, int disc, const char *game, Progress *p)
{
    char dst[520], shown[1024], reason[64];
    // A cue sheet on the media names the image that the description shows.
    setup_log("Copying %s ...", name_escape(cd_describe(src), shown, sizeof shown));
    fmt(dst, sizeof dst, "%s\\cd%d", game, disc);
    DriveDisc drive = {{src->path[0], ':', '\\', 0}, disc};
    if (src->kind == 0 && on_cd_drive(src->path))
        copy_from_drive(on_read_trouble, &drive);
    int ok = cd_copy_all(src, dst, p);
    copy_from_drive(NULL, NULL);
    if (ok)
        return 1;
    if (stop_requested())
        return fail("the installation was stopped");
    fmt(reason, sizeof reason, "copying CD %d failed", disc);
    return fail(reason);
}

// The drive both fields name, as "D:\", when they name the same one. A
// drive that holds both discs' files at once is read as two sources.
static int one_drive(const InstallOptions *o, char *root, size_t size)
{
    char a[520], b[520];
    fmt(a, sizeof a, "%s", o->cd1);
    fmt(b, sizeof b, "%s", o->cd2);
    cd_normalise(a, sizeof a);
    cd_normalise(b, sizeof b);
    root[0] = 0;
    if (strlen(a) != 3 || a[1] != ':' || a[2] != '\\' || _stricmp(a, b) != 0)
        return 0;
    if (disc_in(a, 1) && disc_in(a, 2))
        return 0;
    fmt(root, size, "%c:\\", a[0]);
    return 1;
}

static const char not_official[] = "this is not the official 1.03US update (TARNOKP2.EXE does not match)";

// The update's main executable, decoded in memory, must be the official
// release's before anything is written: a wrong update then fails in
// seconds and touches nothing.
static int check_update_archive(const unsigned char *update, uint64_t size)
{
    unsigned char *exe = NULL;
    uint32_t n = 0;
    int found = lha_read_member(update, size, "TARNOKP2.EXE", &exe, &n);
    int ok = found == 1 && n == update_exe_size && crc32_buf(exe, n) == update_exe_crc;
    free(exe);
    if (found < 0)
        return fail("the 1.03 update file could not be unpacked");
    return ok ? 1 : fail(not_official);
}

// The unpacked update must be exactly the official release's executable.
static int check_update(const char *hd)
{
    char path[520];
    fmt(path, sizeof path, "%s\\TARNOKP2.EXE", hd);
    uint64_t size = 0;
    unsigned char *data = read_file(path, &size);
    int ok = data && size == update_exe_size && crc32_buf(data, size) == update_exe_crc;
    free(data);
    return ok ? 1 : fail(not_official);
}

// Arranges the game's data files the way the native game expects them. A
// file of the disc copy that cannot be copied, or a default configuration
// that cannot be written, fails the install; what the disc lacks does not.
static int arrange_game_files(const char *game, const char *hd, Progress *p)
{
    char src[780], dst[780];
    setup_log("Setting up the game files ...");
    fmt(dst, sizeof dst, "%s\\GRAPH", hd);
    make_dirs(dst);
    fmt(src, sizeof src, "%s\\cd1\\TARNOK\\INSTALL", game);
    if (!copy_folder_files(src, dst))
        return fail("setting up the game files failed");

    fmt(src, sizeof src, "%s\\cd1\\TARNOK\\INSTALL\\INSTALL.CR", game);
    uint64_t size = 0;
    unsigned char *cr = read_file(src, &size);
    write_failure_clear();
    int members = cr ? lha_extract(cr, size, dst, NULL) : 0;
    free(cr);
    if (members <= 0)
        return fail_unpacking("INSTALL.CR on CD 1 could not be unpacked");

    int ok = 1;
    for (int i = 0; i < 9; i++) {
        fmt(dst, sizeof dst, "%s\\%s", hd, sprite_dirs[i]);
        make_dirs(dst);
        fmt(src, sizeof src, "%s\\cd1\\TARNOK\\DISK1\\COMBAT\\SPRITES\\%s", game, sprite_dirs[i]);
        ok &= copy_folder_files(src, dst);
    }

    fmt(src, sizeof src, "%s\\cd1\\TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV", game);
    fmt(dst, sizeof dst, "%s\\MUSIC\\MUSIK1.WAV", hd);
    if (!copy_file(src, dst, NULL) && path_exists(src))
        ok = 0;
    fmt(dst, sizeof dst, "%s\\MIDI", hd);
    make_dirs(dst);
    fmt(dst, sizeof dst, "%s\\OBJ", hd);
    make_dirs(dst);
    // The player's own sound settings survive a second install.
    fmt(dst, sizeof dst, "%s\\hd\\TARNOK.CFG", game);
    if (!path_exists(dst) && !write_file(dst, default_cfg, sizeof default_cfg - 1))
        ok = 0;
    if (!ok)
        return fail("setting up the game files failed");
    progress_add(p, files_share);
    return 1;
}

// Gives the executable being written the icon from the disc copy; a disc
// without an icon file passes.
static int give_icon(const char *game, const char *exe)
{
    char path[520];
    fmt(path, sizeof path, "%s\\cd1\\TARNOK\\TARNOK.ICO", game);
    uint64_t size = 0;
    unsigned char *icon = read_file(path, &size);
    if (!icon)
        return 1;
    int ok = inject_icon(exe, icon, size);
    free(icon);
    return ok;
}

// Writes the game executable that this setup carries, with the icon. Over
// a working install it takes the old one's place only once it is whole.
static int place_prebuilt_game(const char *game, const char *exe)
{
    HRSRC res = find_game_resource();
    HGLOBAL loaded = res ? LoadResource(NULL, res) : NULL;
    const void *bytes = loaded ? LockResource(loaded) : NULL;
    if (!bytes)
        return fail("this setup does not contain the prebuilt game - choose \"Convert on this PC\"");
    DestFile d;
    if (!dest_open(&d, exe))
        return fail_file("cannot write the game executable", exe, GetLastError());
    if (!dest_write(&d, bytes, SizeofResource(NULL, res))) {
        dest_abandon(&d);
        return fail_file("cannot write the game executable", exe, GetLastError());
    }
    dest_close(&d);
    setup_trace("step: icon");
    if (!give_icon(game, dest_name(&d))) {
        dest_abandon(&d);
        return 0;
    }
    if (!dest_commit(&d))
        return fail_file("cannot write the game executable", exe, GetLastError());
    return 1;
}

// Builds the game executable on this PC and gives it the icon. Over a
// working install the linker writes beside the old executable, which the
// new one replaces only once it is whole, icon and all.
static int convert_game(const char *kit, const char *dir, const char *hd, const char *game, const char *exe,
                        Progress *p)
{
    char update_exe[520], linked[540];
    fmt(update_exe, sizeof update_exe, "%s\\TARNOKP2.EXE", hd);
    int replacing = path_exists(exe);
    fmt(linked, sizeof linked, "%s%s", exe, replacing ? DEST_TEMP_SUFFIX : "");
    if (build_game(kit, dir, update_exe, linked, p) && give_icon(game, linked)) {
        if (!replacing || MoveFileExA(linked, exe, MOVEFILE_REPLACE_EXISTING))
            return 1;
        fail_file("cannot write the game executable", exe, GetLastError());
    }
    if (replacing)
        DeleteFileA(linked);
    return 0;
}

// Copies the running program as {dir}\uninstall.exe, unless it is that
// file: whole, or the install fails.
static int copy_uninstaller(const char *dir)
{
    char self[520], dst[520];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self)
        return fail("cannot find the setup program's own file");
    fmt(dst, sizeof dst, "%s\\uninstall.exe", dir);
    if (_stricmp(self, dst) == 0)
        return 1;
    uint64_t size = 0;
    unsigned char *data = read_file(self, &size);
    if (!data)
        return fail_file("cannot read the setup program", self, GetLastError());
    DestFile d;
    int ok = dest_open(&d, dst);
    if (ok && !dest_write(&d, data, size)) {
        dest_abandon(&d);
        ok = 0;
    }
    if (ok && !dest_commit(&d))
        ok = 0;
    DWORD error = GetLastError();
    free(data);
    return ok ? 1 : fail_file("cannot write the uninstaller", dst, error);
}

static int register_uninstall(const char *dir, uint64_t budget)
{
    if (write_uninstall_entry(dir, budget))
        return 1;
    char reason[600];
    setup_log("ERROR: cannot write the uninstall entry: %s", error_text(GetLastError(), reason, sizeof reason));
    return 0;
}

static void make_shortcuts(const InstallOptions *o, const char *dir, const char *exe)
{
    // Starting COM and the shell's folder lookups costs tens of milliseconds
    // under Wine; an install without shortcuts has no use for either.
    if (!o->startmenu && !o->desktop)
        return;
    char start[520], desk[520];
    shortcut_paths(start, desk);
    HRESULT com = CoInitialize(NULL);
    if (o->startmenu)
        make_link(start, exe, dir);
    if (o->desktop)
        make_link(desk, exe, dir);
    // Only a successful initialisation is balanced; another apartment's
    // COM on this thread is not ours to end.
    if (SUCCEEDED(com))
        CoUninitialize();
}

// The longest path of fixed names that the install forms in a path buffer;
// a folder that leaves no room for it is refused, never cut into the name
// of another folder.
static int dir_fits(const char *dir)
{
    char probe[520];
    return fmt_path(probe, sizeof probe, "%s\\game\\hd\\TARNOK\\TARNOKP2.EXE", dir);
}

// The install folder as the install uses it: full, so that the registry and
// the shortcuts never hold a path relative to whatever folder is current.
// Returns why it cannot be used, or null.
static const char *resolve_install_folder(const char *given, char *dir, size_t size)
{
    char full[520];
    fmt(dir, size, "%s", given);
    if (!given[0])
        return "no install folder was given";
    if (!full_folder(given, full, sizeof full))
        return "the install folder's path is not valid";
    fmt(dir, size, "%s", full);
    if (is_drive_root(given) || is_drive_root(dir))
        return "the install folder cannot be the root of a drive";
    return NULL;
}

// A game folder, or in convert mode a build folder, that is the player's
// own is neither merged into nor, later, removed by the uninstall.
static int check_existing_folders(const char *dir, int convert)
{
    char path[520], reason[780];
    fmt(path, sizeof path, "%s\\game", dir);
    // Through a link the install would write into some other folder.
    if (path_exists(path) && !(is_real_dir(path) && is_install_folder(dir))) {
        fmt(reason, sizeof reason, "%s already exists and is not from a Tarnok install; choose another folder", path);
        return fail(reason);
    }
    fmt(path, sizeof path, "%s\\build", dir);
    if (convert && path_exists(path) && !build_folder_is_ours(dir)) {
        fmt(reason, sizeof reason, "%s already exists and is not a Tarnok build folder; choose another folder", path);
        return fail(reason);
    }
    return 1;
}

// The nearest folder of the path that exists, the path itself included;
// "" when not even its drive does.
static void nearest_existing_folder(const char *dir, char *out, size_t size)
{
    fmt(out, size, "%s", dir);
    while (out[0] && !is_dir(out)) {
        char *s = strrchr(out, '\\');
        if (!s || s[1] == 0)
            out[0] = 0;
        else if (s == out + 2 && out[1] == ':')
            s[1] = 0; // "C:\", not "C:", which names the current folder
        else
            *s = 0;
    }
}

// Compares the budget with the space free on the install folder's drive,
// before gigabytes are copied. A drive that cannot tell passes.
static int check_free_space(const char *base, uint64_t budget)
{
    char root[524];
    ULARGE_INTEGER avail, total, free_all;
    size_t n = strlen(base);
    fmt(root, sizeof root, "%s%s", base, n > 0 && base[n - 1] == '\\' ? "" : "\\");
    if (!base[0] || !GetDiskFreeSpaceExA(root, &avail, &total, &free_all))
        return 1;
    if (avail.QuadPart >= budget)
        return 1;
    char reason[200];
    const uint64_t mb = 1048576;
    fmt(reason, sizeof reason, "not enough free space on the install folder's drive: %llu MB needed, %llu MB free",
        (unsigned long long)((budget + mb - 1) / mb), (unsigned long long)(avail.QuadPart / mb));
    return fail(reason);
}

// After a failed install into a folder that this install created: the disc
// copies go, and so does every folder it made that is empty now. A failed
// conversion's build folder stays, so that its log can be read.
static void undo_new_folder(const char *dir, const char *base)
{
    char path[520];
    fmt(path, sizeof path, "%s\\game", dir);
    delete_tree(path);
    static const char *const made[4] = {"tarnok.exe", "tarnok.exe" DEST_TEMP_SUFFIX, "uninstall.exe",
                                        "uninstall.exe" DEST_TEMP_SUFFIX};
    for (int i = 0; i < 4; i++) {
        fmt(path, sizeof path, "%s\\%s", dir, made[i]);
        DeleteFileA(path);
    }
    if (entry_names_folder(dir))
        remove_uninstall_entry();
    fmt(path, sizeof path, "%s", dir);
    for (;;) {
        if (!strcmp(path, base) || !RemoveDirectoryA(path))
            break;
        char *s = strrchr(path, '\\');
        if (!s || s == path + 2)
            break;
        *s = 0;
    }
}

// The bar keeps its place when the budget changes: what is left to do is
// spread over what is left of the bar, so that it never moves backwards and
// reaches its end with the last step.
static void progress_rebudget(Progress *p, uint64_t left)
{
    if (p->total == 0 || p->done >= p->total) {
        p->total = p->done + left;
        return;
    }
    double whole = (double)left * (double)p->total / (double)(p->total - p->done);
    uint64_t total = (uint64_t)whole;
    if ((double)total < whole)
        total++;
    p->total = total;
    p->done = total - left;
}

// The install folder, made the installing user's own when it is new, and the
// game's folders inside it.
static int make_folders(const char *dir, const char *hd)
{
    return make_install_folder(dir) && make_dirs(hd);
}

// Both discs at once, from two drives, images or folders, opened before.
static int copy_two_sources(CdSource *cd1, CdSource *cd2, const char *base, const char *dir, const char *hd,
                            const char *game, uint64_t fixed, Progress *p, uint64_t *need)
{
    p->total = *need = cd_total_bytes(cd1) + cd_total_bytes(cd2) + fixed;
    if (!check_free_space(base, p->total))
        return 0;
    if (!make_folders(dir, hd))
        return fail("cannot create the install folder");
    return copy_disc(cd1, 1, game, p) && copy_disc(cd2, 2, game, p);
}

// Both discs from one drive: the disc that is in first, then the other.
// The other disc's size is known only once it is in: until then it counts
// as large as the first for the bar, and free space is checked again.
static int copy_one_drive(const char *root, const char *base, const char *dir, const char *hd, const char *game,
                          uint64_t fixed, Progress *p, uint64_t *need)
{
    int first = disc_in(root, 1) ? 1 : disc_in(root, 2) ? 2 : 0;
    if (!first) {
        if (!ask_for_disc(root, 1))
            return not_inserted(1);
        first = 1;
    }
    CdSource *src = cd_open(root);
    if (!src)
        return fail(first == 1 ? "CD 1: not a readable disc, image or folder"
                               : "CD 2: not a readable disc, image or folder");
    uint64_t size = cd_total_bytes(src);
    *need = size + fixed;
    p->total = size * 2 + fixed;
    int ok = check_free_space(base, *need);
    if (ok && !make_folders(dir, hd))
        ok = fail("cannot create the install folder");
    if (ok)
        ok = copy_disc(src, first, game, p);
    int other = 3 - first;
    if (ok && !ask_for_disc(root, other))
        ok = stop_requested() ? fail("the installation was stopped") : not_inserted(other);
    if (ok) {
        uint64_t more = cd_total_bytes(src);
        *need += more;
        ok = check_free_space(base, more + fixed);
        if (ok) {
            progress_rebudget(p, more + fixed);
            ok = copy_disc(src, other, game, p);
        }
    }
    cd_close(src);
    return ok;
}

static int stopped(void)
{
    return stop_requested() && !fail("the installation was stopped");
}

// The sequence from the discs to the shortcuts, in a folder already checked.
static int install_steps(const InstallOptions *o, const char *dir, const char *kit, const char *base,
                         ProgressFn callback, void *ctx)
{
    int convert = o->build == 1;
    CdSource *cd1 = NULL, *cd2 = NULL;
    char drive[4];
    int single = one_drive(o, drive, sizeof drive);
    if (single && (silent || !hwnd)) {
        char reason[300];
        fmt(reason, sizeof reason,
            "CD 1 and CD 2 are both drive %c:; an unattended install needs both discs at once (copy one disc to a "
            "folder, or use an image of it)", drive[0]);
        return fail(reason);
    }
    if (!single && !open_discs(o, &cd1, &cd2))
        return 0;

    uint64_t update_size = 0;
    unsigned char *update = read_file(o->patch, &update_size);
    DWORD error = GetLastError();
    if (!update || !check_update_archive(update, update_size)) {
        cd_close(cd1);
        cd_close(cd2);
        if (update) {
            free(update);
            return 0;
        }
        return fail_file("cannot read the 1.03 update file", o->patch, error);
    }

    Progress p = {0, 0, callback, ctx};
    uint64_t need = 0, fixed = convert ? convert_budget : prebuilt_budget;
    char game[520], hd[520], exe[520];
    fmt(game, sizeof game, "%s\\game", dir);
    fmt(hd, sizeof hd, "%s\\hd\\TARNOK", game);
    fmt(exe, sizeof exe, "%s\\tarnok.exe", dir);
    int ok = single ? copy_one_drive(drive, base, dir, hd, game, fixed, &p, &need)
                    : copy_two_sources(cd1, cd2, base, dir, hd, game, fixed, &p, &need);
    cd_close(cd1);
    cd_close(cd2);
    if (!ok || stopped()) {
        free(update);
        return 0;
    }

    setup_log("Unpacking the 1.03 update ...");
    write_failure_clear();
    int members = lha_extract(update, update_size, hd, &p);
    free(update);
    if (members <= 0)
        return fail_unpacking("the 1.03 update file could not be unpacked");
    if (!check_update(hd) || !arrange_game_files(game, hd, &p) || stopped())
        return 0;

    setup_trace("step: game executable");
    if (convert) {
        if (!convert_game(kit, dir, hd, game, exe, &p))
            return 0;
    } else if (!place_prebuilt_game(game, exe)) {
        return 0;
    }
    if (stopped())
        return 0;
    setup_trace("step: uninstaller");
    if (!copy_uninstaller(dir))
        return 0;
    setup_trace("step: uninstall entry");
    if (!register_uninstall(dir, need))
        return 0;
    setup_trace("step: shortcuts");
    make_shortcuts(o, dir, exe);
    progress_add(&p, final_share);
    setup_log("Done.");
    return 1;
}

int do_install(const InstallOptions *o, ProgressFn callback, void *ctx)
{
    int convert = o->build == 1;
    char dir[520], kit[520] = "", base[520];
    const char *bad = resolve_install_folder(o->dir, dir, sizeof dir);
    setup_log("Install to %s (%s)", dir, convert ? "convert on this PC" : "prebuilt");

    if (o->build == 0 && !prebuilt_available())
        return fail("this setup does not contain the prebuilt game");
    if (convert && !kit_available(kit, sizeof kit))
        return fail("the build kit (builder folder) is missing next to setup");
    if (bad)
        return fail(bad);
    if (!dir_fits(dir))
        return fail("the install folder path is too long");
    if (!check_existing_folders(dir, convert))
        return 0;

    // Known before anything is written: whether this install makes the folder.
    nearest_existing_folder(dir, base, sizeof base);
    if (install_steps(o, dir, kit, base, callback, ctx))
        return 1;
    if (strcmp(base, dir) != 0) {
        // A stopped install leaves nothing in a folder it made, not even
        // the build folder that a failed conversion keeps for its log.
        char build[540];
        if (stop_requested() && fmt_path(build, sizeof build, "%s\\build", dir))
            delete_tree_patiently(build, 10000);
        undo_new_folder(dir, base);
    }
    char log[540];
    fmt(log, sizeof log, "%s\\build\\build.log", dir);
    if (convert && path_exists(log))
        setup_log("The build log is kept in %s", log);
    return 0;
}
