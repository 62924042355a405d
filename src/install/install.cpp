// The install sequence: from the two discs and the 1.03 update to an
// installed game with its uninstaller, uninstall entry and shortcuts.
#include <windows.h>
#include <objbase.h>

#include <stdlib.h>
#include <string.h>

#include "install/running.h"
#include "lha/lha.h"

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

// An archive that could not be unpacked; a member that could not be written
// says why, so that a full drive shows as such.
static int fail_unpacking(const char *reason)
{
    char line[1200];
    if (!write_failure()[0])
        return fail(reason);
    fmt(line, sizeof line, "%s: %s", reason, write_failure());
    return fail(line);
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
    program_folder(self, sizeof self);
    // The kit's longest own path must fit a path buffer too, or the build
    // would run tools from cut paths.
    if (!fmt_path(out, size, "%s\\builder", self) ||
        !fmt_path(probe, sizeof probe, "%s\\builder\\tools\\recomp.py", self))
        return 0;
    return path_exists(probe);
}

// The chosen mode must be possible before anything is opened or written.
static int check_mode(Install *in)
{
    if (in->opts->build == 0 && !prebuilt_available())
        return fail("this setup does not contain the prebuilt game");
    if (in->convert && !kit_available(in->kit, sizeof in->kit))
        return fail("the build kit (builder folder) is missing next to setup");
    return 1;
}

// What the install tells its record of the files it writes outside the
// disc copies: where they came from is their source, and in it the folder
// and the file's path below base.
struct Recorder {
    Install *in;
    char base[520];
    int from;         // LIST_FROM_...
    char folder[300]; // "TARNOK\INSTALL\" on the disc; "" for an archive's members
    CopyWatch watch;
    Progress progress; // for copies that move no bar: only the watch counts
};

static void on_recorded(void *ctx, const char *dst, uint64_t size, uint32_t crc)
{
    Recorder *r = (Recorder *)ctx;
    const char *rel = path_below(dst, r->base);
    char where[1000];
    if (!rel)
        return;
    fmt(where, sizeof where, "%s%s", r->folder, rel);
    note_file(r->in, dst, size, crc, r->from, where, LIST_FIXED);
}

static int on_recorded_wanted(void *ctx, const char *dst, uint64_t size, uint32_t *crc)
{
    return !earlier_whole(((Recorder *)ctx)->in, dst, size, crc);
}

// A recorder for the files written below base, from the folder of a source
// (LIST_FROM_CD1 and "TARNOK\INSTALL\"), or an archive's members
// (LIST_FROM_UPDATE and "").
static void recorder_start(Recorder *r, Install *in, const char *base, int from, const char *folder)
{
    memset(r, 0, sizeof *r);
    r->in = in;
    fmt(r->base, sizeof r->base, "%s", base);
    r->from = from;
    fmt(r->folder, sizeof r->folder, "%s", folder);
    r->watch.copied = on_recorded;
    r->watch.wanted = on_recorded_wanted;
    r->watch.ctx = r;
    r->progress.watch = &r->watch;
    r->progress.fresh = in->progress.fresh;
}

// Copies every file (not the sub-folders) of one folder into another, as
// the recorder names them: 1 when each was copied. A folder that cannot be
// listed copies nothing, and that is no failure.
static int copy_folder_files(const char *src, const char *dst, Recorder *r)
{
    int ok = 1;
    FolderListing l;
    for (int more = listing_first(&l, src, "*"); more; more = listing_next(&l)) {
        if (l.attributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        char from[780], to[780];
        if (fmt_path(from, sizeof from, "%s\\%s", src, l.name) && fmt_path(to, sizeof to, "%s\\%s", dst, l.name)) {
            if (copy_wanted(&r->progress, to, l.size) && !copy_file(from, to, &r->progress))
                ok = 0;
        } else {
            setup_log("path too long: %s\\%s", dst, l.name);
            ok = 0;
        }
    }
    listing_close(&l);
    return ok;
}

// MUSIK1.WAV of the disc copy into the game's MUSIC folder; a disc
// without it passes.
static int copy_music(const char *src_folder, const char *dst_folder, Recorder *r)
{
    char from[780], to[780];
    WIN32_FILE_ATTRIBUTE_DATA a;
    fmt(from, sizeof from, "%s\\MUSIK1.WAV", src_folder);
    fmt(to, sizeof to, "%s\\MUSIK1.WAV", dst_folder);
    if (!GetFileAttributesExA(from, GetFileExInfoStandard, &a)) {
        make_dirs(dst_folder);
        return 1;
    }
    uint64_t size = (uint64_t)a.nFileSizeHigh << 32 | a.nFileSizeLow;
    return !copy_wanted(&r->progress, to, size) || copy_file(from, to, &r->progress);
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

// The update is a DOS self-extractor of well under a megabyte. A file far
// larger is no update, and is not read into memory to find that out.
static const uint64_t update_size_limit = 64ull << 20;

// The update is read whole and checked before the discs are copied.
static int read_update(Install *in)
{
    WIN32_FILE_ATTRIBUTE_DATA fa;
    if (GetFileAttributesExA(in->opts->patch, GetFileExInfoStandard, &fa) &&
        !(fa.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        uint64_t size = (uint64_t)fa.nFileSizeHigh << 32 | fa.nFileSizeLow;
        if (size > update_size_limit) {
            char reason[1200], shown[1024];
            unsigned long long tenths = (size / 1024 * 10 + 524288) / 1048576; // of a GB of 2^30 bytes
            fmt(reason, sizeof reason, "%s is not the 1.03 update (%llu.%llu GB)",
                name_escape(in->opts->patch, shown, sizeof shown), tenths / 10, tenths % 10);
            return fail(reason);
        }
    }
    in->update = read_file(in->opts->patch, &in->update_size);
    if (!in->update)
        return fail_file("cannot read the 1.03 update file", in->opts->patch, GetLastError());
    return check_update_archive(in->update, in->update_size);
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

static int unpack_update(Install *in)
{
    Recorder r;
    setup_log("Unpacking the 1.03 update ...");
    recorder_start(&r, in, in->hd, LIST_FROM_UPDATE, "");
    progress_step(&in->progress, INSTALL_UNPACK, 0, 0);
    write_failure_clear();
    in->progress.watch = &r.watch;
    int members = lha_extract(in->update, in->update_size, in->hd, &in->progress);
    in->progress.watch = NULL;
    free(in->update);
    in->update = NULL;
    if (members <= 0)
        return fail_unpacking("the 1.03 update file could not be unpacked");
    return check_update(in->hd);
}

// Arranges the game's data files the way the native game expects them. A
// file of the disc copy that cannot be copied, or a default configuration
// that cannot be written, fails the install; what the disc lacks does not.
static int arrange_game_files(Install *in)
{
    char src[780], dst[780], folder[300];
    const char *game = in->game, *hd = in->hd;
    Recorder r;
    setup_log("Setting up the game files ...");
    progress_step(&in->progress, INSTALL_ARRANGE, 0, 0);
    fmt(dst, sizeof dst, "%s\\GRAPH", hd);
    make_dirs(dst);
    fmt(src, sizeof src, "%s\\cd1\\TARNOK\\INSTALL", game);
    recorder_start(&r, in, dst, LIST_FROM_CD1, "TARNOK\\INSTALL\\");
    if (!copy_folder_files(src, dst, &r))
        return fail("setting up the game files failed");

    fmt(src, sizeof src, "%s\\cd1\\TARNOK\\INSTALL\\INSTALL.CR", game);
    uint64_t size = 0;
    unsigned char *cr = read_file(src, &size);
    write_failure_clear();
    recorder_start(&r, in, dst, LIST_FROM_INSTALL_CR, "");
    int members = cr ? lha_extract(cr, size, dst, &r.progress) : 0;
    free(cr);
    if (members <= 0)
        return fail_unpacking("INSTALL.CR on CD 1 could not be unpacked");

    int ok = 1;
    for (int i = 0; i < 9; i++) {
        fmt(dst, sizeof dst, "%s\\%s", hd, sprite_dirs[i]);
        make_dirs(dst);
        fmt(src, sizeof src, "%s\\cd1\\TARNOK\\DISK1\\COMBAT\\SPRITES\\%s", game, sprite_dirs[i]);
        fmt(folder, sizeof folder, "TARNOK\\DISK1\\COMBAT\\SPRITES\\%s\\", sprite_dirs[i]);
        recorder_start(&r, in, dst, LIST_FROM_CD1, folder);
        ok &= copy_folder_files(src, dst, &r);
    }

    fmt(src, sizeof src, "%s\\cd1\\TARNOK\\DISK1\\MUSIC", game);
    fmt(dst, sizeof dst, "%s\\MUSIC", hd);
    recorder_start(&r, in, dst, LIST_FROM_CD1, "TARNOK\\DISK1\\MUSIC\\");
    if (!copy_music(src, dst, &r))
        ok = 0;
    fmt(dst, sizeof dst, "%s\\MIDI", hd);
    make_dirs(dst);
    fmt(dst, sizeof dst, "%s\\OBJ", hd);
    make_dirs(dst);
    // The player's own sound settings survive a second install.
    fmt(dst, sizeof dst, "%s\\hd\\TARNOK.CFG", game);
    if (!path_exists(dst)) {
        if (write_file(dst, default_cfg, sizeof default_cfg - 1))
            note_file(in, dst, sizeof default_cfg - 1, crc32_buf(default_cfg, sizeof default_cfg - 1),
                      LIST_FROM_DEFAULT, NULL, LIST_CHANGING);
        else
            ok = 0;
    }
    if (!ok)
        return fail("setting up the game files failed");
    progress_add(&in->progress, files_share);
    return record_ok(in);
}

// Gives the executable being written as file, beside its final name exe,
// the icon from the disc copy; a disc without an icon file passes.
static int give_icon(const char *game, const char *file, const char *exe)
{
    char path[520];
    fmt(path, sizeof path, "%s\\cd1\\TARNOK\\TARNOK.ICO", game);
    uint64_t size = 0;
    unsigned char *icon = read_file(path, &size);
    if (!icon)
        return 1;
    int ok = inject_icon_into(file, exe, icon, size);
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
    if (!give_icon(game, dest_name(&d), exe)) {
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
static int convert_game(Install *in)
{
    char update_exe[520], linked[540];
    fmt(update_exe, sizeof update_exe, "%s\\TARNOKP2.EXE", in->hd);
    int replacing = path_exists(in->exe);
    fmt(linked, sizeof linked, "%s%s", in->exe, replacing ? DEST_TEMP_SUFFIX : "");
    if (build_game(in->kit, in->dir, update_exe, linked, &in->progress) && give_icon(in->game, linked, in->exe)) {
        if (!replacing || MoveFileExA(linked, in->exe, MOVEFILE_REPLACE_EXISTING))
            return 1;
        fail_file("cannot write the game executable", in->exe, GetLastError());
    }
    if (replacing)
        DeleteFileA(linked);
    return 0;
}

// The game executable as it lies in the folder now, for the record. Its
// icon was put in by the system's resource update, so it is read once.
static int note_game(Install *in, int from)
{
    uint64_t size = 0;
    unsigned char *data = read_file(in->exe, &size);
    if (!data)
        return fail_file("cannot read the game executable", in->exe, GetLastError());
    note_file(in, in->exe, size, crc32_buf(data, size), from, NULL, LIST_FIXED);
    free(data);
    return record_ok(in);
}

// A game converted before and still whole is not converted again: that
// takes minutes, and gives the same program.
static int converted_before(const Install *in)
{
    uint32_t crc;
    const char *where;
    const ListEntry *e = list_find(&in->before, install_layout[LAYOUT_EXE].name);
    uint64_t size = 0;
    if (!e || list_source_from(e->source, &where) != LIST_FROM_BUILD)
        return 0;
    WIN32_FILE_ATTRIBUTE_DATA a;
    if (GetFileAttributesExA(in->exe, GetFileExInfoStandard, &a))
        size = (uint64_t)a.nFileSizeHigh << 32 | a.nFileSizeLow;
    return earlier_whole(in, in->exe, size, &crc);
}

static int place_game(Install *in)
{
    setup_trace("step: game executable");
    if (in->convert && converted_before(in))
        return 1;
    if (!(in->convert ? convert_game(in) : place_prebuilt_game(in->game, in->exe)))
        return 0;
    return note_game(in, in->convert ? LIST_FROM_BUILD : LIST_FROM_SETUP);
}

// Copies the running program as {dir}\uninstall.exe, unless it is that
// file: whole, or the install fails.
static int copy_uninstaller(Install *in)
{
    char self[520], dst[520];
    setup_trace("step: uninstaller");
    if (!program_path(self, sizeof self))
        return fail("cannot find the setup program's own file");
    layout_path(dst, sizeof dst, in->dir, LAYOUT_UNINSTALLER);
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
    uint32_t crc = crc32_buf(data, size);
    free(data);
    if (!ok)
        return fail_file("cannot write the uninstaller", dst, error);
    note_file(in, dst, size, crc, LIST_FROM_SETUP, NULL, LIST_FIXED);
    return record_ok(in);
}

static int register_uninstall(Install *in)
{
    setup_trace("step: uninstall entry");
    if (write_uninstall_entry(in->dir, in->need))
        return 1;
    char reason[600], line[700];
    fmt(line, sizeof line, "cannot write the uninstall entry: %s", error_text(GetLastError(), reason, sizeof reason));
    return fail(line);
}

static int make_shortcuts(Install *in)
{
    const InstallOptions *o = in->opts;
    setup_trace("step: shortcuts");
    // Starting COM and the shell's folder lookups costs tens of milliseconds
    // under Wine; an install without shortcuts has no use for either.
    if (!o->startmenu && !o->desktop)
        return 1;
    char start[520], desk[520];
    shortcut_paths(start, desk);
    HRESULT com = CoInitialize(NULL);
    if (o->startmenu)
        make_link(start, in->exe, in->dir);
    if (o->desktop)
        make_link(desk, in->exe, in->dir);
    // Only a successful initialisation is balanced; another apartment's
    // COM on this thread is not ours to end.
    if (SUCCEEDED(com))
        CoUninitialize();
    return 1;
}

static int finish(Install *in)
{
    progress_add(&in->progress, final_share);
    setup_log("Done.");
    return 1;
}

// The sequence from the discs to the shortcuts, in a folder already checked.
// Each step logs why it fails; the player's stop ends it between steps, and
// within a step at its next read or child process.
static int install_steps(Install *in)
{
    static int (*const steps[])(Install *) = {
        tell_sources,   open_discs,         read_update,         check_earlier_files, copy_discs,
        unpack_update,  arrange_game_files, place_game,          copy_uninstaller,    finish_record,
        register_uninstall, make_shortcuts, put_record_in_place, finish,
    };
    for (size_t i = 0; i < sizeof steps / sizeof steps[0]; i++) {
        if (stop_requested() || !steps[i](in))
            return 0;
    }
    return 1;
}

// After a failed install: what it holds goes, and so does what it made of
// a folder that was not there before.
static void clean_up(Install *in)
{
    char log[540];
    free(in->update);
    in->update = NULL;
    close_discs(in);
    keep_record_after_failure(in);
    close_record(in);
    // A drive's partial files are kept for the next run, with what else
    // the discs gave: reading them again takes minutes.
    if (!in->keep_copies || stop_requested())
        undo_install(in);
    if (in->convert && fmt_path(log, sizeof log, "%s\\%s\\build.log", in->dir, install_layout[LAYOUT_BUILD].name) &&
        path_exists(log))
        setup_log("The build log is kept in %s", log);
}

int do_install(const InstallOptions *o, const InstallHost *host)
{
    Install in;
    memset(&in, 0, sizeof in);
    in.opts = o;
    in.host = host;
    in.convert = o->build == 1;
    in.fixed = in.convert ? convert_budget : prebuilt_budget;
    in.edition[0] = in.edition[1] = -1;
    in.list.handle = INVALID_HANDLE_VALUE;
    if (host) {
        in.progress.callback = host->progress;
        in.progress.ctx = host->ctx;
        in.steps.step = host->step;
        in.steps.ctx = host->ctx;
        in.progress.steps = host->step ? &in.steps : NULL;
    }
    const char *bad = resolve_install_folder(o->dir, in.dir, sizeof in.dir);
    setup_log("Install to %s (%s)", in.dir, in.convert ? "convert on this PC" : "prebuilt");

    if (!check_mode(&in) || (bad && !fail(bad)) || !check_install_folder(&in))
        return 0;
    if (!edition_table_load(NULL, &in.editions))
        return fail("out of memory");
    int ok = install_steps(&in);
    if (!ok)
        clean_up(&in);
    close_record(&in);
    edition_table_free(&in.editions);
    if (!ok && stop_requested())
        setup_log("ERROR: %s", "the installation was stopped");
    return ok;
}
