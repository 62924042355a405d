// The install folder's own names, written down once. The install makes
// them, the clean-up of a failed install and the uninstall remove them, and
// the checks of a folder to install into look for them, all from this
// table.
#include "install/filelist.h"
#include "install/install.h"

const LayoutItem install_layout[LAYOUT_COUNT] = {
    {"game", LAYOUT_FOLDER},
    {"game\\hd", LAYOUT_FOLDER},
    {"game\\hd\\TARNOK", LAYOUT_FOLDER},
    {"tarnok.exe", LAYOUT_NAMED | LAYOUT_REPLACED},
    {"uninstall.exe", LAYOUT_NAMED | LAYOUT_REPLACED},
    {"tarnok_pc.ini", LAYOUT_NAMED},
    {"tarnok.log", LAYOUT_NAMED},
    {"setup.log", LAYOUT_NAMED},
    {"build", LAYOUT_FOLDER},
    {LIST_NAME, LAYOUT_NAMED | LAYOUT_REPLACED},
    {LIST_JOURNAL_NAME, LAYOUT_NAMED | LAYOUT_REPLACED},
};

int layout_path(char *out, size_t size, const char *dir, int item)
{
    return fmt_path(out, size, "%s\\%s", dir, install_layout[item].name);
}

int layout_temp_path(char *out, size_t size, const char *dir, int item)
{
    return fmt_path(out, size, "%s\\%s%s", dir, install_layout[item].name, DEST_TEMP_SUFFIX);
}
