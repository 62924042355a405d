// Removal of an installation: shortcuts, game data, the named files beside
// the game, a left-over build folder and what marks the folder as an
// install folder ({dir}\game\hd\TARNOK); then, only when all of that is
// gone, the uninstaller and the uninstall entry, so that an uninstall
// stopped at any moment, or kept from a file that is in use, can be run
// again to the end. Only what an install made goes: a folder that holds no
// installation loses nothing, and the entry and shortcuts of an install
// elsewhere stay. Links that someone put in the folder are removed where
// the system can (they are not the install's own, and never followed).
#include <windows.h>
#include <objbase.h>

#include <string.h>

#include "install/running.h"

// Deletes a shortcut file when it leads to this install's game or folder,
// or, when the entry names this folder, when it cannot be read at all: a
// shortcut whose saving was cut short.
static void remove_our_shortcut(const char *link, const char *dir, int entry_ours)
{
    char target[780];
    // An empty path means the folder could not be found: nothing to delete.
    if (!link[0] || !path_exists(link))
        return;
    if (link_target(link, target, sizeof target) ? names_folder(target, dir) : entry_ours)
        DeleteFileA(link);
}

// The shortcut and the temporary file it is saved under before it is put in place.
static void remove_our_shortcut_files(const char *link, const char *dir, int entry_ours)
{
    char temp[540];
    remove_our_shortcut(link, dir, entry_ours);
    if (link[0] && fmt_path(temp, sizeof temp, "%s%s", link, DEST_TEMP_SUFFIX))
        remove_our_shortcut(temp, dir, entry_ours);
}

static void remove_our_shortcuts(const char *dir, int entry_ours)
{
    char start[520], desk[520];
    shortcut_paths(start, desk);
    HRESULT com = CoInitialize(NULL);
    remove_our_shortcut_files(start, dir, entry_ours);
    remove_our_shortcut_files(desk, dir, entry_ours);
    if (SUCCEEDED(com))
        CoUninitialize();
}

// The name of a layout item's last step: "TARNOK" of game\hd\TARNOK.
static const char *last_step(int item)
{
    const char *name = install_layout[item].name;
    const char *slash = strrchr(name, '\\');
    return slash ? slash + 1 : name;
}

// Everything under {dir}\game\hd, where the game keeps its settings and
// saved games, but the folder {dir}\game\hd\TARNOK itself, which stays,
// empty, as the install's mark until all else is gone.
static void remove_hd(const char *dir)
{
    char hd[520], mark[520];
    if (!layout_path(hd, sizeof hd, dir, LAYOUT_GAME_HD) || !layout_path(mark, sizeof mark, dir, LAYOUT_HD) ||
        !is_real_dir(hd))
        return;
    delete_tree_except(hd, last_step(LAYOUT_HD));
    if (is_real_dir(mark))
        delete_tree_except(mark, NULL);
}

// Everything under {dir}\game but the mark. A game folder that is a link
// loses only the link, at the end.
static void remove_game_data(const char *dir)
{
    char game[520];
    if (!layout_path(game, sizeof game, dir, LAYOUT_GAME) || !is_real_dir(game))
        return;
    delete_tree_except(game, last_step(LAYOUT_GAME_HD));
    setup_trace("step: game data");
    remove_hd(dir);
}

// {dir}\game\hd\TARNOK, then the folders above it that are empty now.
// After an uninstall by the list, what is left below them is the player's.
static void remove_install_mark(const char *dir, int by_list)
{
    char path[520];
    if (!layout_path(path, sizeof path, dir, LAYOUT_GAME))
        return;
    if (!is_real_dir(path)) {
        delete_tree(path);
        return;
    }
    static const int mark[3] = {LAYOUT_HD, LAYOUT_GAME_HD, LAYOUT_GAME};
    for (int i = 0; i < 3; i++) {
        if (!layout_path(path, sizeof path, dir, mark[i]))
            continue;
        if (by_list)
            RemoveDirectoryA(path);
        else
            delete_tree(path);
    }
}

// The uninstaller and the list of files go last: a later uninstall needs
// both to finish the job.
static int goes_last(int item)
{
    return item == LAYOUT_UNINSTALLER || item == LAYOUT_FILE_LIST || item == LAYOUT_REPAIR_LIST;
}

// The files of the install and of the game by their names, with the
// replacements that a stopped install left under their temporary names;
// all but those that go last.
static void remove_named_files(const char *dir)
{
    char path[540];
    for (int item = 0; item < LAYOUT_COUNT; item++) {
        unsigned flags = install_layout[item].flags;
        if (!(flags & LAYOUT_NAMED) || goes_last(item))
            continue;
        if (layout_path(path, sizeof path, dir, item))
            delete_file_itself(path);
        if ((flags & LAYOUT_REPLACED) && layout_temp_path(path, sizeof path, dir, item))
            delete_file_itself(path);
    }
}

// Notes what stays: path (below the folder dir, whose name is cut off) and
// the system's reason. 1, for the callers' returns.
static int note_left(UninstallResult *r, const char *dir, const char *path, unsigned long error)
{
    const char *name = path_below(path, dir);
    fmt(r->left, sizeof r->left, "%s", name ? name : path);
    r->error = error;
    return 1;
}

// A plain file of the install that is still there is deleted once more, for
// the reason it stays: 1 when it stays (noted), 0 when it is gone or is no
// plain file (a link that someone put there, which is not the install's).
static int file_stays(UninstallResult *r, const char *dir, const char *path)
{
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES || (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return 0;
    if (delete_file_itself(path))
        return 0;
    DWORD error = GetLastError();
    return error != ERROR_CANT_RESOLVE_FILENAME && note_left(r, dir, path, error);
}

// The first file that stays below folder, links not entered: 1 when one
// does (noted).
static int file_stays_below(UninstallResult *r, const char *dir, const char *folder)
{
    int stays = 0;
    FolderListing l;
    for (int more = listing_first(&l, folder, "*"); more && !stays; more = listing_next(&l)) {
        char child[520];
        if ((l.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !join_path(child, sizeof child, folder, l.name))
            continue;
        stays = (l.attributes & FILE_ATTRIBUTE_DIRECTORY) ? file_stays_below(r, dir, child) : file_stays(r, dir, child);
    }
    listing_close(&l);
    return stays;
}

// 1 when something of the install stays after the removal (noted): a file
// of the game data, a named file, or a file of a build folder that is the
// conversion's.
static int install_stays(UninstallResult *r, const char *dir)
{
    char path[540];
    if (layout_path(path, sizeof path, dir, LAYOUT_GAME) && is_real_dir(path) && file_stays_below(r, dir, path))
        return 1;
    for (int item = 0; item < LAYOUT_COUNT; item++) {
        unsigned flags = install_layout[item].flags;
        if (!(flags & LAYOUT_NAMED) || goes_last(item))
            continue;
        if ((layout_path(path, sizeof path, dir, item) && file_stays(r, dir, path)) ||
            ((flags & LAYOUT_REPLACED) && layout_temp_path(path, sizeof path, dir, item) && file_stays(r, dir, path)))
            return 1;
    }
    return build_folder_is_ours(dir) && layout_path(path, sizeof path, dir, LAYOUT_BUILD) &&
           file_stays_below(r, dir, path);
}

// 1 when the mark outlasted its removal, busy (noted). A game folder that
// is a link, or holds one on the way, leads to no mark of this folder's.
static int mark_stays(UninstallResult *r, const char *dir)
{
    static const int chain[3] = {LAYOUT_GAME, LAYOUT_GAME_HD, LAYOUT_HD};
    char path[540];
    for (int i = 0; i < 3; i++)
        if (!layout_path(path, sizeof path, dir, chain[i]) || !is_real_dir(path))
            return 0;
    if (RemoveDirectoryA(path))
        return 0;
    return note_left(r, dir, path, GetLastError());
}

// 1 for the name of one of the files that go last, or its temporary name.
static int last_file_name(const char *name)
{
    static const int last[3] = {LAYOUT_UNINSTALLER, LAYOUT_FILE_LIST, LAYOUT_REPAIR_LIST};
    for (int i = 0; i < 3; i++) {
        const char *own = install_layout[last[i]].name;
        size_t n = strlen(own);
        if (_strnicmp(name, own, n) == 0 && (name[n] == 0 || _stricmp(name + n, DEST_TEMP_SUFFIX) == 0))
            return 1;
    }
    return 0;
}

// 1 when the folder holds nothing but the uninstaller and the list of
// files (and their temporary names): it goes with them, unless it is busy.
static int only_uninstaller_left(const char *dir)
{
    int only = 1;
    FolderListing l;
    for (int more = listing_first(&l, dir, "*"); more && only; more = listing_next(&l))
        only = last_file_name(l.name);
    listing_close(&l);
    return only;
}

// The install folder itself is in use while it is a running program's
// current folder, and would outlast the uninstaller: 1 then (noted). The
// test opens it as a removal does.
static int folder_busy(UninstallResult *r, const char *dir)
{
    if (!only_uninstaller_left(dir))
        return 0;
    HANDLE h = CreateFileA(dir, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    if (h == INVALID_HANDLE_VALUE) {
        r->left[0] = 0;
        r->error = GetLastError();
        return 1;
    }
    CloseHandle(h);
    return 0;
}

// One of the files that go last, and its temporary name: 1 when neither
// stays as a plain file (noted).
static int remove_last(UninstallResult *r, const char *dir, int item)
{
    char path[540];
    if (layout_path(path, sizeof path, dir, item))
        delete_file_itself(path);
    if (layout_temp_path(path, sizeof path, dir, item))
        delete_file_itself(path);
    return !((layout_path(path, sizeof path, dir, item) && file_stays(r, dir, path)) ||
             (layout_temp_path(path, sizeof path, dir, item) && file_stays(r, dir, path)));
}

// The uninstaller, then the list of files, which an uninstall that cannot
// finish keeps for the next.
static int remove_uninstaller(UninstallResult *r, const char *dir)
{
    return remove_last(r, dir, LAYOUT_UNINSTALLER) && remove_last(r, dir, LAYOUT_FILE_LIST) &&
           remove_last(r, dir, LAYOUT_REPAIR_LIST);
}

// The path of a listed file in path, when it lies below the folder itself:
// a folder on its way that is a link (the player moved the data and linked
// it back) leads to what is not the install's to remove. 0 otherwise.
static int listed_file_here(const char *dir, const char *dir_real, const char *rel, char *path, size_t size)
{
    char folder_real[1100], expected[1100];
    if (!dir_real[0] || !join_path(path, size, dir, rel) || !join_path(expected, sizeof expected, dir_real, rel))
        return 0;
    const char *name = real_parent(path, folder_real, sizeof folder_real);
    char *slash = strrchr(expected, '\\');
    if (!name || !slash)
        return 0;
    *slash = 0;
    return _stricmp(folder_real, expected) == 0;
}

// 1 for a listed file that goes last, with the list itself: the uninstaller.
static int listed_last(const ListEntry *e)
{
    return _stricmp(e->path, install_layout[LAYOUT_UNINSTALLER].name) == 0;
}

static int ends_in(const char *name, const char *suffix)
{
    size_t n = strlen(name), k = strlen(suffix);
    return n > k && _stricmp(name + n - k, suffix) == 0;
}

// 1 for a name that a run writes a file under before it is whole: its
// temporary name, or a partial file's data or map.
static int temp_named(const char *name)
{
    return ends_in(name, DEST_TEMP_SUFFIX) || ends_in(name, PARTIAL_DATA_SUFFIX) || ends_in(name, PARTIAL_MAP_SUFFIX);
}

// The files below folder that a run left under their temporary names, as
// it wrote them; links are not entered.
static void remove_temp_files(const char *folder)
{
    FolderListing l;
    for (int more = listing_first(&l, folder, "*"); more; more = listing_next(&l)) {
        char child[520];
        if ((l.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !join_path(child, sizeof child, folder, l.name))
            continue;
        if (l.attributes & FILE_ATTRIBUTE_DIRECTORY)
            remove_temp_files(child);
        else if (temp_named(l.name))
            delete_file_itself(child);
    }
    listing_close(&l);
}

// With a list: every file it names goes, and the name each was being
// written under, and so does all under {dir}\game\hd but the mark. Other
// files below {dir}\game are the player's and stay. Without the folder's
// real path (links above it resolved) nothing below it is taken for the
// install's.
static void remove_listed(const char *dir, const FileList *list)
{
    char path[780], temp[800];
    ListFolder f;
    list_folder_open(&f, dir);
    for (int i = 0; i < list->count; i++) {
        if (listed_last(&list->entries[i]) || !listed_file_here(dir, f.real, list->entries[i].path, path, sizeof path))
            continue;
        delete_file_itself(path);
        if (dest_temp_path(path, temp, sizeof temp))
            delete_file_itself(temp);
        partial_remove(path);
    }
    if (layout_path(path, sizeof path, dir, LAYOUT_GAME) && is_real_dir(path)) {
        remove_temp_files(path);
        remove_hd(dir);
    }
}

// The record the uninstall goes by, read as far as it can be: the list and
// the lines of a repair that did not finish. 1 when it is to be gone by; 0
// when there is none to go by, or only the list of a first install that
// never finished: that install wrote everything below {dir}\game (a file
// it was writing when it stopped may lie there unlisted), which then goes
// whole, as for an install made before there were lists.
static int read_uninstall_record(const char *dir, FileList *list)
{
    FileList repair;
    int have = list_read_salvage(dir, 0, list);
    int repaired = list_read_salvage(dir, 1, &repair);
    if (repaired && !list_overlay(list, &repair)) {
        list_free(list);
        have = 0;
    }
    list_free(&repair);
    return have && (list->complete_line > 0 || list->skipped > 0 || repaired);
}

// Removes the folders below folder that are empty once the files are gone,
// deepest first; links are not entered. 1 when folder itself is empty now.
static int remove_empty_folders(const char *folder)
{
    int empty = 1;
    FolderListing l;
    for (int more = listing_first(&l, folder, "*"); more; more = listing_next(&l)) {
        char child[520];
        if (!(l.attributes & FILE_ATTRIBUTE_DIRECTORY) || (l.attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            !join_path(child, sizeof child, folder, l.name) || !remove_empty_folders(child) ||
            !RemoveDirectoryA(child))
            empty = 0;
    }
    listing_close(&l);
    return empty;
}

// The player's files below folder (links not entered, not counted).
static int count_files(const char *folder)
{
    int n = 0;
    FolderListing l;
    for (int more = listing_first(&l, folder, "*"); more; more = listing_next(&l)) {
        char child[520];
        if (l.attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            continue;
        if (!(l.attributes & FILE_ATTRIBUTE_DIRECTORY))
            n++;
        else if (join_path(child, sizeof child, folder, l.name))
            n += count_files(child);
    }
    listing_close(&l);
    return n;
}

// 1 when a file that the list names stays, or one of the game's hard disk
// folder, which goes whole (noted).
static int listed_stays(UninstallResult *r, const char *dir, const FileList *list)
{
    char path[780];
    ListFolder f;
    list_folder_open(&f, dir);
    for (int i = 0; i < list->count; i++) {
        if (!listed_last(&list->entries[i]) && listed_file_here(dir, f.real, list->entries[i].path, path, sizeof path) &&
            file_stays(r, dir, path))
            return 1;
    }
    return layout_path(path, sizeof path, dir, LAYOUT_GAME) && is_real_dir(path) &&
           layout_path(path, sizeof path, dir, LAYOUT_GAME_HD) && is_real_dir(path) && file_stays_below(r, dir, path);
}

// The uninstall, as do_uninstall says: its outcome, with what stays and
// what was kept in r.
static int remove_install(const char *given, UninstallResult *r)
{
    char dir[520], path[540];
    // An empty folder would make every path below relative to the current
    // drive's root, which is no install folder. The long form lets the
    // entry and the shortcuts match however the folder was spelt.
    if (!full_long_folder(given, dir, sizeof dir) || !is_install_folder(dir))
        return UNINSTALL_NOTHING;
    int entry_ours = entry_names_folder(dir);
    remove_our_shortcuts(dir, entry_ours);
    setup_trace("step: shortcuts");

    // A cut path could name the install folder itself, with whatever else
    // the player keeps there: each path is used whole or not at all. With
    // the install's record of its files, exactly those go (with the saved
    // games), whatever became of a repair since; an install made before
    // there were lists loses its whole game folder, as it always did.
    FileList list;
    int by_list = read_uninstall_record(dir, &list);
    if (by_list)
        remove_listed(dir, &list);
    else
        remove_game_data(dir);
    setup_trace("step: hd");
    remove_named_files(dir);
    setup_trace("step: files");
    if (build_folder_is_ours(dir) && layout_path(path, sizeof path, dir, LAYOUT_BUILD))
        delete_tree(path);
    setup_trace("step: build");
    // What marks the folder, and what the player needs to finish the job,
    // go only once there is no job left: the mark, the uninstaller, and the
    // entry that runs it. The list stays with them.
    int stays = by_list ? listed_stays(r, dir, &list) : install_stays(r, dir);
    list_free(&list);
    if (stays)
        return UNINSTALL_LEFT;
    if (by_list && layout_path(path, sizeof path, dir, LAYOUT_GAME) && is_real_dir(path))
        remove_empty_folders(path);
    remove_install_mark(dir, by_list);
    setup_trace("step: mark");
    if (mark_stays(r, dir) || folder_busy(r, dir) || !remove_uninstaller(r, dir))
        return UNINSTALL_LEFT;
    setup_trace("step: uninstaller");
    if (!RemoveDirectoryA(dir))
        r->kept = count_files(dir);
    setup_trace("step: folder");
    if (entry_ours)
        remove_uninstall_entry();
    return UNINSTALL_DONE;
}

UninstallResult do_uninstall(const char *dir)
{
    UninstallResult r;
    memset(&r, 0, sizeof r);
    r.outcome = remove_install(dir, &r);
    return r;
}
