// The install's list of the files it wrote, {dir}\tarnok_files.txt: what
// lets a later run tell which of them are whole (the /verify check, a
// repair, the resume of an install that was stopped) and which to remove.
//
// The format, version 1. Plain text in UTF-8 (the program's ANSI code page;
// bytes of a name are kept as the install used them), every line ended by
// CR LF:
//
//   tarnok-file-list 1
//   game\hd\TARNOK\TARNOKP2.EXE<TAB>916367<TAB>B83E34F1<TAB>update:TARNOKP2.EXE<TAB>fixed
//   game\hd\TARNOK.CFG<TAB>272<TAB>7C30965E<TAB>default<TAB>changing
//   complete
//
// The first line names the format and its version. Then one line per file
// written, five fields split by one tab each:
//   path    below {dir}, backslashes, as list_path_safe accepts it
//   size    bytes, decimal, no sign and no leading zeros
//   crc     CRC-32 of the contents, 8 hex digits (written upper case)
//   source  where the bytes came from: "cd1:" or "cd2:" and the path on the
//           disc, "update:" or "install.cr:" and the member's name, or one
//           word: "setup" (carried by the setup program, its own copy
//           included), "build" (converted on this PC), "default" (written
//           by the install itself); any text of 1 to 259 bytes without a
//           control character is read
//   kind    "fixed": the file stays as written, is checked and repaired;
//           "changing": the game or the player changes it by design (the
//           sound settings game\hd\TARNOK.CFG): written once, never compared
// A line "complete" ends a whole install.
//
// An install into a folder whose list was once complete (a repair, an
// install again) leaves that list as it is until its own record is whole:
// its lines go to a second list of the same format beside it,
// tarnok_files.repair.txt, and at its end the two become one list again,
// put in place of the old one. A repair that fails or is stopped thus
// leaves the record of the last whole install where it was, and beside it
// the lines of what the repair wrote, for the next run and the uninstall.
//
// Lines are appended as the files are written, so a kill can leave a last
// line cut short: a last line without its CR LF is no line. A repair or a
// resumed install appends too: a later line for a path (compared without
// regard to ASCII case) replaces an earlier one, and the list is complete
// only when its last whole line is "complete". Anything else is a damaged
// list: another first line, an empty or unknown line, a field that does not
// read, a path that leaves {dir}, more than LIST_ENTRIES_MAX paths. A
// damaged list counts as no list.
//
// The parsing and formatting here work on memory only, so they build
// without <windows.h> and are fuzzed natively; the reading and writing of
// the file and the checks of the files it lists follow below them
// (filelist_io.cpp).
#pragma once
#include <stddef.h>
#include <stdint.h>

#define LIST_NAME "tarnok_files.txt"
#define LIST_JOURNAL_NAME "tarnok_files.repair.txt"
#define LIST_HEADER "tarnok-file-list 1"
#define LIST_COMPLETE "complete"

enum {
    LIST_PATH_MAX = 260,   // bytes of a path with its NUL: 259 + a folder of 259 + '\' + NUL = 520
    LIST_SOURCE_MAX = 260, // bytes of a source with its NUL
    LIST_SIZE_DIGITS = 20, // the largest 64-bit number
    // The longest line: path, size, CRC, source, "changing", four tabs, CR LF.
    LIST_LINE_MAX = (LIST_PATH_MAX - 1) + LIST_SIZE_DIGITS + 8 + (LIST_SOURCE_MAX - 1) + 8 + 4 + 2,
    // The paths a list may hold: some thousands of files are an install, a
    // hundred thousand bound what a hostile list can make us keep (about
    // 55 MB of entries).
    LIST_ENTRIES_MAX = 100000,
    // The largest list file read: every entry rewritten a hundred times over.
    LIST_FILE_MAX = 64 << 20,
};

enum { LIST_FIXED = 0, LIST_CHANGING = 1 };

struct ListEntry {
    char path[LIST_PATH_MAX];     // below {dir}, backslashes
    char source[LIST_SOURCE_MAX]; // "cd1:TARNOK\DISK1\X.DAT", "update:TARNOKP2.EXE", "setup", ...
    uint64_t size;
    uint32_t crc;
    int kind; // LIST_FIXED or LIST_CHANGING
    int line; // the number of the line it was last read from (from 1); 0 when not read
};

// A parsed list: each path once, in the order of its first line, with what
// its last line says.
struct FileList {
    ListEntry *entries; // heap
    int count, room;
    int complete;      // 1 when the last whole line is "complete"
    int complete_line; // the number of the last "complete" line; 0 when there is none
    size_t whole;      // bytes of whole lines, the header's included: where the next line goes
    int skipped;       // lines that list_parse_salvage passed over
    int *slots;        // hash of the paths: entry index + 1, 0 when free
    uint32_t slot_mask;
};

// 1 when path can name a file below {dir} and nothing else: relative, with
// backslashes only, no empty, "." or ".." step, no drive or stream colon,
// no leading separator, no control character or character Windows forbids
// in names, each step accepted by name_reserved, and short enough (at most
// LIST_PATH_MAX - 1 bytes) that joined to a folder of up to 259 bytes it
// fits a 520-byte path.
int list_path_safe(const char *path);

// One entry as its line, CR LF included, in out[size] (size at least
// LIST_LINE_MAX + 1). Returns the line's length, or 0, with out empty, when
// the entry is none the list may hold (an unsafe path, a source that is
// empty or holds a control character, an unknown kind) or out is too small.
int list_format_entry(char *out, size_t size, const ListEntry *e);

// Parses a list of size bytes (any bytes, no NUL needed) into *out: 1, or
// 0 with the reason in reason[reason_size] ("line 7: the size is not a
// number") when it is damaged or memory ran out; out is then empty. Bytes
// that hold no whole line yet but begin like the first line (a kill right
// after the file was made) are an empty list, not complete, with whole 0.
// Free the result with list_free, also after a failure.
int list_parse(const unsigned char *data, size_t size, FileList *out, char *reason, size_t reason_size);
void list_free(FileList *list);

// What can be read of a damaged list, for the uninstall, which removes
// nothing that no line names: its first line must be ours, and every line
// that reads as list_parse reads it counts (a later one for a path over an
// earlier); the others are counted in skipped. 1, or 0 (out empty) when
// the first line is not ours or memory ran out.
int list_parse_salvage(const unsigned char *data, size_t size, FileList *out);

// 1 when what the list says of the entry was said before its last
// "complete": a run that finished vouched for it. A line after that was
// written by a run that did not finish, or has not yet.
int list_vouched(const FileList *list, const ListEntry *e);

// Puts every entry of over into list, in place of an entry of the same
// path, as lines of over appended to list would: the repair's lines over
// the record of the last whole install. The entries taken count as said
// after every "complete" of list, which stays complete only when over
// changes nothing. 1, or 0 when memory ran out or the paths would pass
// LIST_ENTRIES_MAX (list is then as it was before, or holds part of over).
int list_overlay(FileList *list, const FileList *over);

// The entry of path (any ASCII case), or null.
const ListEntry *list_find(const FileList *list, const char *path);

// ---- The list file and the files it lists (filelist_io.cpp, Win32) ----

// {dir}\tarnok_files.txt in out, and the repair's list beside it; 0 when
// it does not fit.
int list_file_path(char *out, size_t size, const char *dir);
int list_journal_path(char *out, size_t size, const char *dir);

// The list being written. Every line goes to the system with one WriteFile
// as soon as it is added, so that a kill loses at most the line being
// written; complete flushes the file to the disk.
struct ListWriter {
    void *handle;   // open for writing; INVALID_HANDLE_VALUE when closed
    char path[520]; // {dir}\tarnok_files.txt
    int complete;   // the last whole line is "complete"
};

// Opens the list of dir to append to it: a list that reads goes on after
// its last whole line (a line cut short is dropped), anything else at its
// place (none, a damaged list, a link) gives way to a new list with the
// first line only. The file is never opened through a link. 1, or 0 with
// the system's error code in GetLastError().
int list_open(ListWriter *w, const char *dir);
// The same for the repair's list beside it.
int list_open_journal(ListWriter *w, const char *dir);
// Appends the entry's line. 1, or 0 with the error in GetLastError()
// (ERROR_INVALID_NAME for an entry list_format_entry refuses).
int list_add(ListWriter *w, const ListEntry *e);
// Appends "complete" unless it is the last line already, and flushes the
// file to the disk. 1, or 0 with the error in GetLastError().
int list_complete(ListWriter *w);
void list_close(ListWriter *w);

// Reads and parses the list of dir: 1 with *out, or 0 when there is no list
// to go by, with why in reason: "" when there is no file of its name, else
// a line for the log (a link at its place, a damaged list, a read that
// failed). Free *out with list_free in either case.
int list_read(const char *dir, FileList *out, char *reason, size_t reason_size);
// The same for the repair's list beside it.
int list_read_journal(const char *dir, FileList *out, char *reason, size_t reason_size);
// The list (journal 0) or the repair's list beside it (1), read as
// list_parse_salvage reads a damaged one: 1, or 0 (out empty) when there
// is none, it cannot be read, or its first line is not ours.
int list_read_salvage(const char *dir, int journal, FileList *out);
// The record as a run or /verify goes by it: the list, with the lines of a
// repair that did not finish over it. 1, or 0 as list_read says when the
// list cannot be read (a repair's list alone is no record of an install).
int list_read_record(const char *dir, FileList *out, char *reason, size_t reason_size);

// The install folder as the file checks compare with: its path and the real
// path its handle leads to, links above it resolved.
struct ListFolder {
    char dir[520];
    char real[1100];
};
// 1, or 0 (real then "") when the folder cannot be opened.
int list_folder_open(ListFolder *f, const char *dir);

enum {
    LIST_WHOLE = 0,
    LIST_MISSING = 1,
    LIST_CHANGED = 2,
    LIST_UNREADABLE = 3,
    LIST_NOT_COMPARED = 4,
    LIST_LINKED = 5,
};

// Checks one entry's file, {dir}\path, in one sequential read of 1 MiB
// blocks (none when the size differs). Missing: no such file, or a folder
// in its place. Linked: a path that leads through or to a link (the player
// moved part of the data and linked it back): nothing behind it is checked,
// written or removed. Changed: another size (in *found) or CRC-32.
// Unreadable: it could not be opened or read for another reason, with the
// system's error in *error.
int list_check_file(const ListFolder *f, const ListEntry *e, uint64_t *found, unsigned long *error);

// One entry's check, as list_check_file tells it.
struct ListCheck {
    int state; // LIST_WHOLE, ... or LIST_NOT_COMPARED
    uint64_t found;
    unsigned long error;
};
// Checks every entry of the list, two files at a time: checks[i] for
// entries[i]. A changing entry is only looked for (missing, linked, or
// else LIST_NOT_COMPARED); every entry still unchecked when the player's
// stop came is LIST_NOT_COMPARED. 0 when memory ran out.
int list_check_all(const ListFolder *f, const FileList *list, ListCheck *checks);

// "whole", "missing", "changed", "linked" or "unreadable", as a log line begins.
const char *list_state_word(int state);

// Told of every fixed entry that is not whole.
typedef void (*ListReportFn)(int state, const ListEntry *e, uint64_t found, unsigned long error, void *ctx);

struct ListTally {
    int whole, missing, changed, unreadable, linked;
    int changing; // entries not compared by design
    int complete; // the list ends with "complete"
};

// Checks every entry of dir's record (list_read_record), in the list's
// order, and tells report (may be null) of each one not whole. 1 with the counts in *tally,
// or 0 with a line for the log in reason[reason_size] (reason_size > 0)
// when there is no list to go by (list_read's reason, or "there is no file
// list in DIR") or the folder cannot be opened.
int list_verify(const char *dir, ListReportFn report, void *ctx, ListTally *tally, char *reason, size_t reason_size);
