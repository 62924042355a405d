// Shared helpers of the test programs: where the build, the sample media and
// the peer data are, private scratch folders, and whole-file checks.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

// Windows paths handed in by the test harness (Z:\... under Wine).
std::string build_path(const std::string &rel = "");
std::string media_path(const std::string &rel = "");
std::string peer_path(const std::string &rel = "");
std::string source_path(const std::string &rel = "");

// The peer data (archives and images written by other projects) is not part
// of the project: it lies in ../shared/peerdata beside the clone, or where
// -DTARNOK_PEERDATA says. "" when it is there; else where it was looked for,
// in words for a test that skips without it.
std::string peer_data_missing();
// 1 when TARNOK_REQUIRE_PEERDATA is set (CI sets it): a test that needs the
// peer data then fails without it instead of skipping.
bool peer_data_required();
// The first line of a test that reads the peer data.
#define SKIP_WITHOUT_PEER_DATA()                                                   \
    do {                                                                            \
        std::string peer_missing_ = peer_data_missing();                            \
        if (!peer_missing_.empty()) {                                               \
            if (peer_data_required())                                               \
                FAIL() << peer_missing_ << "; TARNOK_REQUIRE_PEERDATA asks for it"; \
            GTEST_SKIP() << peer_missing_;                                          \
        }                                                                           \
    } while (0)

// A fresh, empty folder for the running test: build\scratch\<suite>.<test>[.<tag>].
std::string scratch(const std::string &tag = "");

// The folder of the running test program.
std::string exe_dir();

std::string slurp(const std::string &path, bool *ok = nullptr);
// Reads a file that another handle may still hold open for writing.
std::string slurp_shared(const std::string &path);
void spit(const std::string &path, const std::string &data);
// Copies a folder with everything below it, for staging kits and setups.
void copy_tree(const std::string &from, const std::string &to);
bool file_exists(const std::string &path);
bool dir_exists(const std::string &path);

// Names of the entries of a folder (no "." or ".."), sorted.
std::vector<std::string> list_dir(const std::string &path);
// Every file below a folder as "rel\path", sorted, with folders as "rel\dir\".
std::vector<std::string> list_tree(const std::string &path);
// A copy of a folder of the sample media made by cd_copy_all, in a scratch
// folder: what an image of that disc must copy to.
std::string media_folder_copy(const std::string &rel);
// A media file's name as a test name: '.' and '-' become '_'.
std::string file_test_name(std::string file);
// Empty string when both trees hold the same folders and identical files,
// else a description of the first difference.
std::string compare_trees(const std::string &a, const std::string &b);

// The log file of this test process: emptied by log_reset(), read back by
// log_lines(). Each test process has its own temporary folder.
void log_reset();
std::vector<std::string> log_lines();
std::string log_text();
std::string log_path();

// Runs a command line, waits, returns its exit code (-1 if it cannot start).
int run_process(const std::string &cmdline, const std::string &cwd = "", unsigned timeout_ms = 120000);

// The Unix path of a path on Z:, where Wine shows the Unix root.
std::string unix_path(const std::string &win);
// Makes link (a path on Z:) a Unix link to target with the Unix ln: Wine
// makes no links through the API, and neither waits for a Unix program nor
// hands back its exit code, so the link counts once Windows sees it.
bool unix_link(const std::string &target, const std::string &link);
// Makes path (on Z:) a sparse file of size bytes with the Unix truncate, and
// waits until Windows sees that size; false when it cannot be made.
bool sparse_file(const std::string &path, uint64_t size);
