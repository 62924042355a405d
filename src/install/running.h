// Inside the installation unit: the record of the install that is running,
// which every step of the sequence takes, and the steps that live in files
// of their own. Nothing outside the unit uses these.
#pragma once
#include <stdint.h>

#include "cdsrc/cdsrc.h"
#include "install/editions.h"
#include "install/filelist.h"
#include "install/install.h"

// The files copied from the disc being copied, as its copy told them: each
// path below the disc's root (heap copies), size and CRC-32.
struct DiscFiles {
    EditionSeen *files;
    int count, room;
};

struct Install;

// What the host is told of the disc being read (telling.cpp): each file
// as its reading begins, and each found whole and not read, through the
// progress record's file watch.
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
    char made[520];       // the top-most folder this install made; "" while it made none
    char kit[520];        // the build kit, in convert mode
    char game[520];       // {dir}\game
    char hd[520];         // {dir}\game\hd\TARNOK
    char exe[520];        // {dir}\tarnok.exe
    Progress progress;    // the bar: the discs, the update and the fixed shares
    StepWatch steps;      // the host's, told through the progress record
    DiscTelling telling;  // the host's news of the disc being read
    uint64_t fixed;       // progress after the disc copies, by mode
    uint64_t need;        // bytes the install takes: the entry's size
    char drive[4];        // "D:\" when both discs come from that one drive, else ""
    CdSource *cd1, *cd2;  // both opened before anything is written, closed once copied
    unsigned char *update; // the 1.03 update file, read whole
    uint64_t update_size;
    EditionTable editions; // the known editions of the discs, as this setup carries them
    int edition[2];        // each disc's edition in it, once known; -1 before and for none
    DiscFiles copied;      // the disc being copied
    char copy_root[520];   // where it is copied to: {game}\cd1 or {game}\cd2
    ListWriter list;       // a line for each file as soon as it is whole: the list, or a repair's beside it
    int list_failed;       // a write of it failed (and was reported)
    int repair;            // the earlier list stays as it is until this run's record is whole
    FileList before;       // what an earlier install or an interrupted one listed
    unsigned char *before_whole; // per entry of it: 1 when its file is there as listed, and trusted
    DestFile final_list;   // the whole record, written beside the list until the install is whole
    int final_open;        // final_list is being written or waits to be put in place
    char **forget;         // paths below {dir} of files that a disc's verdict found damaged
    int forget_count;
};

// The failure lines of the install: "ERROR: reason", and 0. While the
// player's stop is under way nothing is logged: the stop is reported once,
// last, by do_install.
int fail(const char *reason);
// "ERROR: <doing> <path>: <the system's reason>", and 0.
int fail_file(const char *doing, const char *path, unsigned long error);

// Asks the player through whoever runs the install (IDOK, IDRETRY, ...);
// nobody can answer an unattended install, nor one that the player has
// asked to stop: IDCANCEL.
int ask_player(const Install *in, const char *text, unsigned int type);

// The sources as given, each on a line of the log (sources.cpp): CD 1, CD
// 2 and the update, before any is opened; a disc of a drive that holds
// both again as its copy begins, once it is in.
int tell_sources(Install *in);
void tell_source(int disc, const char *given);

// The discs (discs.cpp): both opened and told apart before anything is
// written, or one drive for both; then copied into {game}\cd1 and \cd2.
int open_discs(Install *in);
// Around a phase of reading a disc into dst (the copy, or files read
// again: INSTALL_READ_), of whole bytes, skip of them expected to be found
// whole and not read: the host hears of it, and of each of its files
// (telling.cpp). A later phase of reading is told the same way.
void tell_reading_begins(Install *in, int kind, int disc, uint64_t whole, uint64_t skip, const char *dst);
void tell_reading_ends(Install *in);
int copy_discs(Install *in);
void close_discs(Install *in);
// The verdict on a disc once copied (verdict.cpp): which known edition it
// is, or that files of its edition are missing, cut short or different
// (and then, for a drive, the player may have them read again), or that it
// is of no edition known. src is the source it was copied from; reading
// is its drive's reading policy, or null when it is no drive.
int judge_disc(Install *in, CdSource *src, int disc, const DriveReading *reading);
// After a copy of src failed: 1, having said so, when it failed on a raw
// sector of the image that fails its check.
int report_damage(const Install *in, CdSource *src, int disc);
// What the copy of one disc tells the install of each file.
void disc_files_begin(Install *in, int disc);
void disc_files_free(DiscFiles *d);
extern const CopyWatch disc_watch;

// The record of what the install wrote (record.cpp). An earlier list is
// read and its files checked before anything is copied; a file there whole
// is not copied again. Each file the install writes is noted as soon as it
// is whole; a write of the list that fails fails the install.
int check_earlier_files(Install *in);
int earlier_whole(const Install *in, const char *full, uint64_t size, uint32_t *crc);
// 0 when an earlier complete install holds every file of that disc whole.
int disc_needed(const Install *in, int disc);
// The bytes that the earlier list names from that disc.
uint64_t listed_bytes(const Install *in, int disc);
// Of a disc of total bytes, those this run will copy: all but the files
// that an earlier install holds whole.
uint64_t disc_bytes_to_copy(const Install *in, int disc, uint64_t total);
// The bytes the steps after the disc copies write: the whole share of a
// first install; for a repair, the game executable and the uninstaller,
// and what else of the record is not whole.
uint64_t other_bytes_to_write(const Install *in);
int open_record(Install *in);
void note_file(Install *in, const char *full, uint64_t size, uint32_t crc, const char *source, int kind);
int record_ok(const Install *in);
// A file that a disc's verdict found damaged: its line goes if the install
// fails, so that no later run takes it for whole.
void forget_file(Install *in, const char *full);
// The whole record in path order, written beside the list; put in place at
// the very end of the install.
int finish_record(Install *in);
int put_record_in_place(Install *in);
// After a failed run: the earlier record stays as it was, and the lines of
// what this run wrote are kept but for those of damaged files.
void keep_record_after_failure(Install *in);
void close_record(Install *in);

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
