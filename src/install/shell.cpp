// Placeholder until shortcuts and the uninstall entry land.
#include "install/install.h"

void shortcut_paths(char *start, char *desk) { start[0] = desk[0] = 0; }
void make_link(const char *, const char *, const char *) {}
void write_uninstall_entry(const char *, uint64_t) {}
void remove_uninstall_entry(void) {}
