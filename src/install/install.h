// Installation: the install sequence, the conversion build, icon injection,
// shortcuts and the uninstall entry, and the removal of an installation.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "util/util.h"

enum { COPIES_MAX = 3 }; // other copies of a disc, besides the one read first

struct InstallOptions {
    char cd1[520];   // CD 1 source: drive, folder, ISO image or cue sheet
    char cd2[520];   // CD 2 source
    char patch[520]; // the 1.03 update file
    char dir[520];   // the install folder
    int build;       // 1: convert on this PC; anything else: prebuilt
    int desktop;     // non-zero: make a desktop shortcut
    int startmenu;   // non-zero: make a Start menu shortcut
    // Other copies of CD 1 and CD 2 ("" for none), asked only for what the
    // source read first could not give.
    char copies[2][COPIES_MAX][520];
};

// A look at the world while a question is open, on the asking thread: 1
// when what was asked for has come about, which answers the question as
// OK; 0 to keep it open. It may rewrite text (size bytes), which the open
// question then shows.
typedef int (*QuestionLook)(void *arg, char *text, size_t size);

// The steps after the disc copies that the install tells its host of.
enum {
    INSTALL_UNPACK,    // the 1.03 update's archive
    INSTALL_ARRANGE,   // the game files into the native game's places
    INSTALL_RECOMPILE, // the conversion's first stage
    INSTALL_COMPILE,   // its compiles, done of total
    INSTALL_LINK,      // its last stage
};

// The phases of reading a disc that the install tells its host of. Each
// counts its own bytes, names each file as its reading begins, and may
// wait on the drive.
enum {
    INSTALL_READ_COPY,  // the disc's copy
    INSTALL_READ_AGAIN, // the disc's files that were not read as they should be, read again
};

// A reading phase as it begins: its bytes are those the progress count
// adds from `from` on, up to whole; skip of them are expected to be found
// whole already (a repair, a resumed install), and are counted without
// being read.
struct ReadingPhase {
    int kind; // INSTALL_READ_
    int disc; // 1 or 2
    uint64_t whole;
    uint64_t skip;
    uint64_t from;
};

// What the install may ask of whoever runs it, and what it tells, each
// handed ctx. ask shows a question with the MB_ type's buttons and icon
// and waits for the button pressed (IDOK, IDRETRY, ...); with a look, it
// calls look(arg, ...) every second while the question is open. It is null
// when nobody can answer (an unattended install), and so is a null host.
// Every other member may be null too:
//   progress  the bar: done of total bytes (done may pass total)
//   reading   a reading phase begins
//   file      the phase's file whose reading begins, by its path on the disc
//   skipped   a file of that many bytes was found whole and is not read;
//             the progress count adds them right after
//   step      a step after the copies begins, or done of its total parts
//             are finished
//   choose_copy  the player picks another copy of disc 1 or 2 (an image,
//             or a folder or drive by a file in it): its path in out, 1;
//             0 when the player chose none
struct InstallHost {
    void *ctx;
    int (*ask)(void *ctx, const char *text, unsigned int type, QuestionLook look, void *arg);
    ProgressFn progress;
    void (*reading)(void *ctx, const ReadingPhase *phase);
    void (*file)(void *ctx, const char *file);
    void (*skipped)(void *ctx, uint64_t bytes);
    void (*step)(void *ctx, int step, int done, int total);
    int (*choose_copy)(void *ctx, int disc, char *out, size_t size);
};

// A question's type may also hold this: its buttons read Retry and
// Another copy in place of Try Again and Continue.
enum { QUESTION_ANOTHER_COPY = 0x40000000 };

int do_install(const InstallOptions *opts, const InstallHost *host);

// The install folder's own names: what the install makes in it, what the
// game writes beside them, and what the uninstall removes by name.
enum {
    LAYOUT_GAME,        // the disc copies and the game's data
    LAYOUT_GAME_HD,     // the game's hard disk folder
    LAYOUT_HD,          // the game's data in it; made first and removed last, it marks an install folder
    LAYOUT_EXE,         // the game executable
    LAYOUT_UNINSTALLER, // the copy of the setup program
    LAYOUT_SETTINGS,    // the game's settings, written by the game
    LAYOUT_GAME_LOG,    // the game's log, written by the game
    LAYOUT_SETUP_LOG,   // a setup log of that name, if present
    LAYOUT_BUILD,       // the conversion's work folder
    LAYOUT_FILE_LIST,   // the install's list of the files it wrote
    LAYOUT_REPAIR_LIST, // the list of what a repair wrote, until it is one with the list
    LAYOUT_COUNT,
};
// {dir}\name of the item: 1, or 0 with out empty when the path does not fit.
int layout_path(char *out, size_t size, const char *dir, int item);
int prebuilt_available(void);
int kit_available(char *out, size_t size);

// Conversion build with the kit next to the program, in {dir}\build: the
// update's executable exe becomes the game executable out.
int build_game(const char *kit, const char *dir, const char *exe, const char *out, Progress *progress);
int run_wait(const char *cmd, const char *path_prefix, const char *log_path);
int build_jobs(int logical_processors);
// Logical processors the build counts with (0: ask the system); lets tests pick jobs.
void build_set_processors(int n);
// Makes the build's next `count` process starts fail with `error`; lets tests
// show which start failures are retried.
void build_fail_starts(int count, unsigned long error);
// Waits up to wait_ms for a child process: 1 once it has ended or cannot be
// waited for, with *code its exit code (1 unless read after a good wait).
int child_ended(void *process, unsigned long wait_ms, unsigned long *code);

// Gives the game executable the icon from CD 1.
int inject_icon(const char *exe, const unsigned char *data, uint64_t size);

// Shortcuts and the uninstall entry, all per user.
void shortcut_paths(char *start, char *desk);
void make_link(const char *link, const char *target, const char *workdir);
// 1, or 0 with the system's error code in GetLastError().
int write_uninstall_entry(const char *dir, uint64_t budget);
void remove_uninstall_entry(void);
// The entry's "InstallLocation" (1), or "" when there is none (0).
int read_install_location(char *out, size_t size);
// The target a shortcut file names (1), or "" when it cannot be read (0).
// COM must be initialised on the calling thread.
int link_target(const char *link, char *out, size_t size);

// What counts as ours: the build folder is when it holds nothing but what
// the conversion writes; a path names the folder when it is the folder or
// its tarnok.exe, without regard to case or trailing separators, or when
// both folders exist and are the same folder however spelt.
int build_folder_is_ours(const char *dir);
int names_folder(const char *path, const char *dir);
// 1 when the uninstall entry's location names the folder dir.
int entry_names_folder(const char *dir);
// The folder made full with the long name of each step that exists, so
// that a short (8.3) name, a trailing dot, '/' or another case all give
// one spelling; 0 when it is empty or cannot be made full within size.
int full_long_folder(const char *given, char *out, size_t size);

// Reads every file that the install in dir (empty: the registered one)
// lists, compares it with its size and CRC-32 and logs each one that is
// not as listed. VERIFY_WHOLE, VERIFY_NOT_WHOLE (files missing or changed,
// or an install never finished) or VERIFY_FAILED (no list to go by, a file
// that cannot be read): the exit codes of setup.exe /verify.
enum { VERIFY_WHOLE = 0, VERIFY_FAILED = 1, VERIFY_NOT_WHOLE = 3 };
int verify_install(const char *dir);

// Removes the installation in dir, and says how it went: UNINSTALL_DONE;
// UNINSTALL_NOTHING when no installation was found there and nothing was
// touched; UNINSTALL_LEFT when something of it had to stay, and with it
// the uninstaller and the uninstall entry, for a later uninstall to finish.
enum { UNINSTALL_NOTHING = 0, UNINSTALL_DONE = 1, UNINSTALL_LEFT = 2 };
// What it had to leave: the first file or folder found, below the install
// folder ("" for the install folder itself), and the system's reason; and
// how many files it kept because no install of ours wrote them (an
// uninstall by the install's list of files), in the folder it could
// therefore not remove.
struct UninstallResult {
    int outcome; // UNINSTALL_...
    char left[520];
    unsigned long error;
    int kept;
};
UninstallResult do_uninstall(const char *dir);
