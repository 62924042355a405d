// Removal of an installation: shortcuts, uninstall entry, game data, the
// named files beside the game, a left-over build folder, then the folder.
// Only what an install made goes: a folder that holds no installation loses
// nothing, and the entry and shortcuts of an install elsewhere stay.
#include <windows.h>
#include <objbase.h>

#include "install/install.h"

// What the install (and the game itself) leaves in the install folder.
static const char *const files[5] = {
    "tarnok.exe", "uninstall.exe", "tarnok_pc.ini", "tarnok.log", "setup.log",
};

// Deletes a shortcut file when it leads to this install's game or folder.
static void remove_our_shortcut(const char *link, const char *dir)
{
    char target[780];
    // An empty path means the folder could not be found: nothing to delete.
    if (link[0] && link_target(link, target, sizeof target) && names_folder(target, dir))
        DeleteFileA(link);
}

static void remove_our_shortcuts(const char *dir)
{
    char start[520], desk[520];
    shortcut_paths(start, desk);
    HRESULT com = CoInitialize(NULL);
    remove_our_shortcut(start, dir);
    remove_our_shortcut(desk, dir);
    if (SUCCEEDED(com))
        CoUninitialize();
}

static void remove_our_entry(const char *dir)
{
    char location[780];
    if (read_install_location(location, sizeof location) && names_folder(location, dir))
        remove_uninstall_entry();
}

int do_uninstall(const char *given)
{
    char dir[520], path[520];
    // An empty folder would make every path below relative to the current
    // drive's root, which is no install folder. The long form lets the
    // entry and the shortcuts match however the folder was spelt.
    if (!full_long_folder(given, dir, sizeof dir) || !is_install_folder(dir))
        return 0;
    remove_our_shortcuts(dir);
    remove_our_entry(dir);

    // A cut path could name the install folder itself, with whatever else
    // the player keeps there: each path is used whole or not at all.
    if (fmt_path(path, sizeof path, "%s\\game", dir))
        delete_tree(path);
    for (int i = 0; i < 5; i++) {
        if (fmt_path(path, sizeof path, "%s\\%s", dir, files[i]))
            delete_file_itself(path);
    }
    if (build_folder_is_ours(dir) && fmt_path(path, sizeof path, "%s\\build", dir))
        delete_tree(path);
    RemoveDirectoryA(dir);
    return 1;
}
