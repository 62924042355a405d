// Removal of an installation: shortcuts, game data, the named files beside
// the game, a left-over build folder, then what marks the folder as an
// install folder ({dir}\game\hd\TARNOK, then the uninstall entry), so that
// an uninstall stopped at any moment can be run again to the end. Only
// what an install made goes: a folder that holds no installation loses
// nothing, and the entry and shortcuts of an install elsewhere stay.
#include <windows.h>
#include <objbase.h>

#include <string.h>

#include "install/install.h"

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

// Everything under {dir}\game but {dir}\game\hd\TARNOK. A game folder that
// is a link loses only the link, at the end.
static void remove_game_data(const char *dir)
{
    char game[520], hd[520];
    if (!layout_path(game, sizeof game, dir, LAYOUT_GAME) || !layout_path(hd, sizeof hd, dir, LAYOUT_GAME_HD))
        return;
    if (!is_real_dir(game))
        return;
    delete_tree_except(game, last_step(LAYOUT_GAME_HD));
    setup_trace("step: game data");
    if (is_real_dir(hd))
        delete_tree_except(hd, last_step(LAYOUT_HD));
}

// {dir}\game\hd\TARNOK, then the folders above it that are empty now.
static void remove_install_mark(const char *dir)
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
        if (layout_path(path, sizeof path, dir, mark[i]))
            delete_tree(path);
    }
}

// The files of the install and of the game by their names, with the
// replacements that a stopped install left under their temporary names.
static void remove_named_files(const char *dir)
{
    char path[540];
    for (int item = 0; item < LAYOUT_COUNT; item++) {
        unsigned flags = install_layout[item].flags;
        if (!(flags & LAYOUT_NAMED))
            continue;
        if (layout_path(path, sizeof path, dir, item))
            delete_file_itself(path);
        if ((flags & LAYOUT_REPLACED) && layout_temp_path(path, sizeof path, dir, item))
            delete_file_itself(path);
    }
}

int do_uninstall(const char *given)
{
    char dir[520], path[540];
    // An empty folder would make every path below relative to the current
    // drive's root, which is no install folder. The long form lets the
    // entry and the shortcuts match however the folder was spelt.
    if (!full_long_folder(given, dir, sizeof dir) || !is_install_folder(dir))
        return 0;
    int entry_ours = entry_names_folder(dir);
    remove_our_shortcuts(dir, entry_ours);
    setup_trace("step: shortcuts");

    // A cut path could name the install folder itself, with whatever else
    // the player keeps there: each path is used whole or not at all.
    remove_game_data(dir);
    setup_trace("step: hd");
    remove_named_files(dir);
    setup_trace("step: files");
    if (build_folder_is_ours(dir) && layout_path(path, sizeof path, dir, LAYOUT_BUILD))
        delete_tree(path);
    setup_trace("step: build");
    remove_install_mark(dir);
    setup_trace("step: mark");
    RemoveDirectoryA(dir);
    setup_trace("step: folder");
    if (entry_ours)
        remove_uninstall_entry();
    return 1;
}
