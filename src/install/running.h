// Inside the installation unit: the record of the install that is running,
// which every step of the sequence takes, and the steps that live in files
// of their own. Nothing outside the unit uses these.
#pragma once
#include <stdint.h>

#include "cdsrc/cdsrc.h"
#include "install/install.h"

struct Install;

// What the host is told of the disc being copied (telling.cpp): each file
// as its copy begins, through the progress record's file watch.
struct DiscTelling {
    const Install *in;
    size_t skip;             // the disc copy's folder and separator, before each path on the disc
    const CopyWatch *before; // the record's watch when no disc is being told of
    CopyWatch watch;
};

// Filled once, at the start of do_install, and then only by the steps that
// own each part of it.
struct Install {
    const InstallOptions *opts;
    const InstallHost *host;
    int convert;          // 1: converted on this PC; 0: the prebuilt game
    char dir[520];        // the install folder, full
    char base[520];       // its nearest folder that existed before the install
    char kit[520];        // the build kit, in convert mode
    char game[520];       // {dir}\game
    char hd[520];         // {dir}\game\hd\TARNOK
    char exe[520];        // {dir}\tarnok.exe
    Progress progress;    // the bar: the discs, the update and the fixed shares
    StepWatch steps;      // the host's, told through the progress record
    DiscTelling telling;  // the host's news of the disc being copied
    uint64_t fixed;       // progress after the disc copies, by mode
    uint64_t need;        // bytes the install takes: the entry's size
    char drive[4];        // "D:\" when both discs come from that one drive, else ""
    CdSource *cd1, *cd2;  // both opened before anything is written, closed once copied
    unsigned char *update; // the 1.03 update file, read whole
    uint64_t update_size;
};

// The failure lines of the install: "ERROR: reason", and 0. While the
// player's stop is under way nothing is logged: the stop is reported once,
// last, by do_install.
int fail(const char *reason);
// "ERROR: <doing> <path>: <the system's reason>", and 0.
int fail_file(const char *doing, const char *path, unsigned long error);

// The discs (discs.cpp): both opened and told apart before anything is
// written, or one drive for both; then copied into {game}\cd1 and \cd2.
int open_discs(Install *in);
// Around the copy of a disc of whole bytes into dst: the host hears of it,
// and of each of its files (telling.cpp).
void tell_disc_begins(Install *in, int disc, uint64_t whole, const char *dst);
void tell_disc_ends(Install *in);
int copy_discs(Install *in);
void close_discs(Install *in);

// The install folder (folder.cpp): checked before anything is written,
// made when it is missing, and after a failed install emptied of what
// this install made there.
// The folder as the install uses it, full, in dir: null, or why it
// cannot be used (dir then holds the folder as given).
const char *resolve_install_folder(const char *given, char *dir, size_t size);
int check_install_folder(Install *in);
int make_folders(Install *in);
int check_free_space(const Install *in, uint64_t bytes);
void undo_install(Install *in);
