// Removal of an installation: shortcuts, uninstall entry, game data, the
// named files beside the game, a left-over build folder, then the folder.
#include <windows.h>

#include "install/install.h"

// What the install (and the game itself) leaves in the install folder.
static const char *const files[5] = {
    "tarnok.exe", "uninstall.exe", "tarnok_pc.ini", "tarnok.log", "setup.log",
};

int do_uninstall(const char *dir)
{
    char start[520], desk[520], path[520];
    shortcut_paths(start, desk);
    // An empty path means the folder could not be found: nothing to delete.
    if (start[0])
        DeleteFileA(start);
    if (desk[0])
        DeleteFileA(desk);
    remove_uninstall_entry();
    // An empty folder would make every path below relative to the current
    // drive's root, which is no install folder.
    if (!dir[0])
        return 1;

    // A cut path could name the install folder itself, with whatever else
    // the player keeps there: each path is used whole or not at all.
    if (fmt_path(path, sizeof path, "%s\\game", dir))
        delete_tree(path);
    for (int i = 0; i < 5; i++) {
        if (fmt_path(path, sizeof path, "%s\\%s", dir, files[i]))
            DeleteFileA(path);
    }
    if (fmt_path(path, sizeof path, "%s\\build", dir))
        delete_tree(path);
    RemoveDirectoryA(dir);
    return 1;
}
