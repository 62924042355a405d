// Inside the installation unit: the record of the install that is running,
// which every step of the sequence takes, the steps that live in files of
// their own, and the helpers they share. Nothing outside the unit uses
// these.
#pragma once
#include <stdint.h>

#include "cdsrc/cdsrc.h"
#include "editions/editions.h"
#include "filelist/filelist.h"
#include "install/install.h"

struct Install;

// The files copied from a disc, as its copy told them: each path below the
// disc's root (heap copies), size and CRC-32.
struct DiscFiles {
    EditionSeen *files;
    int count, room;
};

// How the disc's files are being read.
enum {
    DISC_COPYING,       // the copy of the whole disc: every file comes once
    DISC_READING_AGAIN, // the files that the verdict found damaged, each in place of its copy
};

// A file of the disc that a drive gave only in part.
struct DiscPartial {
    char path[520]; // below the disc's root
    uint64_t size;
};

// The disc being copied: its own record, which copy_disc makes and the
// verdict on the disc (verdict.cpp) reads. Its watch, made with it, is the
// one place that hears of each file of the disc: it names the file to
// whoever runs the install as its copy begins, answers whether it is
// wanted at all, and once it is whole notes it for the list and for the
// verdict.
struct DiscCopy {
    Install *in;
    int disc;                  // 1 or 2
    CdSource *src;             // where it is read from
    char root[520];            // where it is copied to: {game}\cd1 or {game}\cd2
    int mode;                  // DISC_COPYING or DISC_READING_AGAIN
    DiscFiles copied;          // what the copy told of each file, for the verdict
    CopyWatch watch;           // the one watch of its files; ctx: this record
    const DriveReading *drive; // &reading for a disc in a CD drive; null for any other source
    DriveReading reading;      // how the drive is read: on_read_trouble, with this record
    char marker[600];          // the disc's marker file in the drive, by which it is known again
    unsigned long serial;      // the drive's volume serial as the copy began: another copy put in has another
    // The files that the drive gave only in part, by their path below the
    // disc's root, each lying beside its place as a partial file; and the
    // other copies of the disc to take what is missing from.
    DiscPartial *partial;
    int partial_count, partial_room;
    char copies[COPIES_MAX + 4][520];
    int copy_count;
    int refused_in_drive; // the disc that Retry found in the drive was another copy whose files differ
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
    uint64_t fixed;       // progress after the disc copies, by mode
    uint64_t need;        // bytes the install takes: the entry's size
    char drive[4];        // "D:\" when both discs come from that one drive, else ""
    CdSource *cd1, *cd2;  // both opened before anything is written, closed once copied
    unsigned char *update; // the 1.03 update file, read whole
    uint64_t update_size;
    EditionTable editions; // the known editions of the discs, as this setup carries them
    int edition[2];        // each disc's edition in it, once known; -1 before and for none
    ListWriter list;       // a line for each file as soon as it is whole: the list, or a repair's beside it
    int list_failed;       // a write of it failed (and was reported)
    int repair;            // the earlier list stays as it is until this run's record is whole
    FileList before;       // what an earlier install or an interrupted one listed
    unsigned char *before_whole; // per entry of it: 1 when its file is there as listed, and trusted
    DestFile final_list;   // the whole record, written beside the list until the install is whole
    int final_open;        // final_list is being written or waits to be put in place
    char **forget;         // paths below {dir} of files that a disc's verdict found damaged
    int forget_count;
    int exchanged;         // CD 1 and CD 2 were given the other way round
    int keep_copies;       // a failure keeps what the discs gave: a drive's partial files are for the next run
};

// The install folder's items as the install, its clean-up and the
// uninstall go by them (layout.cpp): what each is, and its temporary name.
enum {
    LAYOUT_FOLDER = 1,   // a folder
    LAYOUT_NAMED = 2,    // a file that the uninstall removes by its name
    LAYOUT_REPLACED = 4, // written beside under DEST_TEMP_SUFFIX when it replaces one
};
struct LayoutItem {
    const char *name; // below the install folder
    unsigned flags;
};
extern const LayoutItem install_layout[LAYOUT_COUNT];
int layout_temp_path(char *out, size_t size, const char *dir, int item);

// Creates the install folder and the folders above it up to base, the
// nearest that exists: each must be new. The top-most of them gets an access
// list of its own in the call that makes it: full control for the
// installing user, SYSTEM and Administrators, inherited below, nothing from
// above. Its path goes into made (size bytes), "" when dir is base. 1, or 0
// with the system's error code in GetLastError().
int make_install_folder(const char *dir, const char *base, char *made, size_t size);

// What counts as ours (ours.cpp). An install folder holds
// {dir}\game\hd\TARNOK (every install makes it first) or is the uninstall
// entry's location.
int is_install_folder(const char *dir);
// 1 when path is a folder of its own, not a link or junction to another.
int is_real_dir(const char *path);
// The folder made full (GetFullPathNameA) without trailing separators; 0 when
// it is empty or cannot be made full within size.
int full_folder(const char *given, char *out, size_t size);

// Gives the executable being written as file, beside its final name exe,
// which the failure lines name, the icon from CD 1 (icon.cpp).
int inject_icon_into(const char *file, const char *exe, const unsigned char *data, uint64_t size);

// What /verify and an install again say of the listed files (verify.cpp):
// "missing: <path>", "changed: <path>", "linked: <path>" or "unreadable:
// <path>: <reason>" for a listed file that is not as the list says (state:
// LIST_...).
void log_file_state(int state, const ListEntry *e, unsigned long error);
// Why files reached through a link are neither checked nor written, with
// their count, in out. Returns out.
const char *linked_reason(int count, char *out, size_t size);

// The failure lines of the install: "ERROR: reason", and 0. While the
// player's stop is under way nothing is logged: the stop is reported once,
// last, by do_install.
int fail(const char *reason);
// "ERROR: <doing> <path>: <the system's reason>", and 0.
int fail_file(const char *doing, const char *path, unsigned long error);

// Asks the player through whoever runs the install (IDOK, IDRETRY, ...),
// looking at the world with look(arg, ...) while the question is open, or
// with a null look at nothing; nobody can answer an unattended install,
// nor one that the player has asked to stop: IDCANCEL.
int ask_player(const Install *in, const char *text, unsigned int type, QuestionLook look, void *arg);

// The sources as given, each on a line of the log (sources.cpp): CD 1, CD
// 2 and the update, before any is opened; a disc of a drive that holds
// both again as its copy begins, once it is in.
int tell_sources(Install *in);
void tell_source(int disc, const char *given);

// The discs (discs.cpp): both opened and told apart before anything is
// written, or one drive for both; then each copied into {game}\cd1 or
// \cd2 with a record of its own, and judged.
int open_discs(Install *in);
// A disc's marker file below its root ("TARNOK\DISK1\DISK1"), that file
// below the folder where a copy of the disc is, and the volume serial of
// the drive that path lies on (0 when it cannot tell).
const char *disc_marker(int disc);
int marker_path(char *out, size_t size, const char *folder, int disc);
unsigned long drive_serial(const char *path);
int copy_discs(Install *in);
void close_discs(Install *in);
// A phase of reading the disc (INSTALL_READ_) begins, of whole bytes, skip
// of them expected to be found whole and not read: the host hears of it
// and counts its bytes from where the progress record stands now, which
// may have been spread anew just before; its files are named by the
// disc's watch.
void disc_tell_reading(const DiscCopy *d, int kind, uint64_t whole, uint64_t skip);
// The verdict on a disc once copied (verdict.cpp): which known edition it
// is, or that files of its edition are missing, cut short or different
// (and then, for a drive, the player may have them read again), or that it
// is of no edition known.
int judge_disc(DiscCopy *d);
// What a drive could not read of the disc (salvage.cpp): the watch hears
// of each file left partial, and whether one that an earlier run left so
// is to be finished; then the parts missing get passes of their own, are
// taken from other copies of the disc, and are asked for, until every file
// is whole or nothing more can be had. 1 when every file is whole; 0 with
// the files still not whole named, and kept for the next run.
void disc_file_partial(void *ctx, const char *dst, uint64_t size, const Ranges *missing);
int disc_file_resume(void *ctx, const char *dst, uint64_t size, FillFrom *how);
int salvage_disc(DiscCopy *d);
// 1 when the disc (a disc in a drive) is in its drive, asked for when it is
// not; 0 when the player would not put it in.
int disc_in_drive(const DiscCopy *d);
void disc_partials_free(DiscCopy *d);
// What the copy found of one file, path below the disc's root, for the
// verdict: a file read again takes the place of its copy.
void disc_file_seen(DiscCopy *d, const char *path, uint64_t size, uint32_t crc);
void disc_files_free(DiscFiles *f);

// The record of what the install wrote (record.cpp). An earlier list is
// read and its files checked before anything is copied; a file there whole
// is not copied again. Each file the install writes is noted as soon as it
// is whole; a write of the list that fails fails the install.
int check_earlier_files(Install *in);
int earlier_whole(const Install *in, const char *full, uint64_t size, uint32_t *crc);
// 1 when the earlier record lists full, of size bytes, as a file a drive
// gave only in part: its partial file is this install's to finish.
int earlier_partial(const Install *in, const char *full, uint64_t size);
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
// A file of the install (at full) is whole: its line, with its source
// (LIST_FROM_...) and where in it the bytes were (list_source).
void note_file(Install *in, const char *full, uint64_t size, uint32_t crc, int from, const char *where, int kind);
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
