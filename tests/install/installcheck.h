// Helpers of the install tests: running an install on the sample media and
// looking at what it left.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "install/install.h"

InstallOptions options(const std::string &cd1, const std::string &cd2, const std::string &patch,
                       const std::string &dir, int build = 0);

// Every progress report of one install, as the callback saw it.
struct ProgressLog {
    std::vector<uint64_t> done;
    uint64_t total = 0;
};
void record_progress(uint64_t done, uint64_t total, void *ctx);

// Runs do_install with a fresh log; returns its result, fills lines.
int install(const InstallOptions &o, std::vector<std::string> *lines, ProgressLog *progress = nullptr);

// The entries of a tree down to the depth a disc copy reaches.
std::vector<std::string> tree_within_copy_depth(const std::string &root);
// Empty when the copy holds the disc's tree, as far as copies go, byte for byte.
std::string compare_copy(const std::string &disc, const std::string &copy);

// The uninstall entry's value as raw bytes, with its type; false if missing.
bool entry_value(const char *name, std::string *data, unsigned long *type);
bool entry_exists();
std::string start_menu_link();
std::string desktop_link();

// Size of all files below a folder.
uint64_t tree_bytes(const std::string &root);

// A copy of disc 1 in base\disc1, to change for one test.
std::string copy_of_disc1(const std::string &base);
// The same without its INSTALL folder: an install from it stops after both
// discs are copied and the update unpacked.
std::string disc1_without_install(const std::string &base);
