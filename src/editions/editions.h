// The known editions of the two game discs, and the verdict on a copied
// disc: which edition it is, whether files of that edition are missing,
// cut short or different, or whether it is of no edition we know. The
// table is text that setup.exe carries as a resource; this code reads it
// from memory, takes any bytes and makes no system calls (no <windows.h>),
// so it builds natively, sanitized and fuzzed. Only edition_table_load
// (editions_res.cpp) touches Windows.
//
// The table, one line per file of an edition, UTF-8 text, LF or CR LF line
// ends, five fields separated by one tab each:
//
//   EDITION <TAB> DISC <TAB> SIZE <TAB> CRC32 <TAB> PATH
//   Sample<TAB>1<TAB>15<TAB>78BEE7A5<TAB>TARNOK\DISK1\DISK1
//
//   EDITION  the edition's name as the log shows it: 1 to 63 bytes, no
//            control characters, not beginning with '#'
//   DISC     1 or 2
//   SIZE     the file's size in bytes, 1 to 15 decimal digits
//   CRC32    the CRC-32 of its contents, exactly 8 hex digits (either case)
//   PATH     below the disc's root, steps separated by '\', 1 to 255 bytes
//            (the longest path ISO 9660 allows); no leading '\', no empty,
//            "." or ".." step, no '/', ':' or control character
//
// Lines that are empty or begin with '#' are comments. tools/disc-table.py
// writes an edition's lines sorted by disc and path, so that two editions'
// tables diff line by line; the order does not matter to the reader, and
// tables of several editions are simply put one after the other. A line
// that does not parse as above, one that repeats the edition, disc and path
// of an earlier line (ASCII case aside), and one beyond the caps below is
// skipped and counted in bad_lines, the first one's number kept for the
// log: a table made by hand may have a typo, and the rest of it still
// serves. A disc whose edition lost a line that way shows that file as
// "not in the edition" (an extra), never as damage.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum {
    EDITION_NAME_MAX = 64,      // 63 bytes and the NUL
    EDITION_PATH_MAX = 256,     // 255 bytes and the NUL
    EDITION_MAX = 64,           // editions in one table
    EDITION_FILES_MAX = 100000, // lines of files in one table (28 MB parsed)
    EDITION_SHOWN = 10,         // problems a verdict names; the rest are counted
};

// One file of an edition.
struct EditionFile {
    int edition; // index in EditionTable.names
    int disc;    // 1 or 2
    uint64_t size;
    uint32_t crc;
    int line; // its line in the table's text, from 1
    char path[EDITION_PATH_MAX];
};

// One edition: its name, and where its files lie in EditionTable.files.
struct EditionName {
    char name[EDITION_NAME_MAX];
    int first[2], count[2]; // disc 1 at [0], disc 2 at [1]
};

struct EditionTable {
    EditionName names[EDITION_MAX]; // in the order the table first names them
    int name_count;
    EditionFile *files; // heap, sorted by edition, disc and path (ASCII case aside)
    int file_count;
    int bad_lines;      // lines skipped, as said above
    int first_bad_line; // the first one's number, from 1; 0 when none
};

// Reads a table of len bytes (no NUL needed) into *t. Returns 1; 0 when
// memory ran out, with *t empty. Either way *t is to be released with
// edition_table_free.
int edition_table_parse(const char *text, size_t len, EditionTable *t);
void edition_table_free(EditionTable *t);

// The table that the running program (module null) or the loaded module
// carries as RT_RCDATA "DISCTABLE", read as edition_table_parse reads it.
// A program built without a table gets an empty one. 1, or 0 when memory
// ran out. Windows only: editions_res.cpp.
int edition_table_load(void *module, EditionTable *t);

// One file copied from a disc: its path below the disc's root ('\' or '/'
// between steps), its size and the CRC-32 of what was copied, and what the
// copy shows of damage: zeros is 1 + the offset of a 2,048-byte sector of
// zeros in it (as rippers write a sector they could not read), 0 for none
// found. The verdict only reads these; they stay the caller's.
struct EditionSeen {
    const char *path;
    uint64_t size;
    uint32_t crc;
    uint64_t zeros;
};

enum {
    EDITION_KNOWN,    // every file of the edition is there, as it should be
    EDITION_DAMAGED,  // files of the edition are missing, or differ where
                      // the copy shows damage: cut short, or with a sector
                      // of zeros
    EDITION_UNKNOWN,  // the disc is like no edition
    EDITION_PRESSING, // every file of the edition is there, some with other
                      // contents that were read right: another pressing
};

enum {
    EDITION_MISSING,        // the edition has the file, the disc does not
    EDITION_OTHER_SIZE,     // size (the disc's) instead of want_size
    EDITION_OTHER_CONTENTS, // the right size, another CRC-32
    EDITION_EXTRA,          // the disc has the file, the edition does not
};

struct EditionProblem {
    int kind;
    char path[EDITION_PATH_MAX]; // the edition's spelling; an extra's own
    uint64_t size;               // the disc's size (0 when missing)
    uint64_t want_size;          // the edition's size (0 for an extra)
    uint32_t crc;                // the disc's CRC-32 (0 when missing)
    uint32_t want_crc;           // the edition's CRC-32 (0 for an extra)
    uint64_t zeros;              // the copy's EditionSeen.zeros
};

// The verdict on one copied disc. A disc is of an edition when that
// edition names most of the files it holds and most of those agree with
// it (more files of the edition are on the disc as the table says than
// differ from it or are not in it at all); of the editions it is of, it is
// judged by the one it matches best. Then:
//  - KNOWN: every file of the edition is there as the table says: log
//    "CD 1: edition <name>, <files> files as known".
//  - DAMAGED: problem_count of the edition's files are missing, or differ
//    where the copy shows damage (cut short: smaller than the edition's;
//    a sector of zeros), the first EDITION_SHOWN of them (in path order)
//    in problems: a failure that names them, then "and <problem_count -
//    EDITION_SHOWN> more". However many files are missing, the files the
//    disc holds decide its edition: a folder that a worn disc did not list
//    loses none of its files unnoticed.
//  - PRESSING: no problem, and differ_count files with other contents or a
//    larger size that show no damage, the first EDITION_SHOWN in differs:
//    every byte was read right, so this is another pressing of the
//    edition, and the install goes on, naming them.
//  - UNKNOWN: edition -1; the install goes on.
// Files on the disc that the edition lacks do not make a disc damaged (a
// copied folder may hold a file the player's system put there): they are
// counted in extra_count, the first EDITION_SHOWN in extras, for the log.
struct EditionVerdict {
    int kind;
    int edition; // index in the table's names, or -1
    int files;   // the edition's files on this disc
    int matched; // of those, the ones the disc has with their size and CRC-32
    int problem_count;
    EditionProblem problems[EDITION_SHOWN];
    int differ_count;
    EditionProblem differs[EDITION_SHOWN];
    int extra_count;
    EditionProblem extras[EDITION_SHOWN];
};

// 1 when the copy of a file of the edition shows damage: missing, cut
// short, or with a sector of zeros where its contents differ.
int edition_damaged(const EditionFile *f, const EditionSeen *s);

// Judges the count files copied from disc 1 or 2 against the table. Of the
// editions the disc is of, the one chosen is, in this order: one whose
// every file is there (the one with the most files when several are, so
// that an edition that adds files to another is told apart; prefer when it
// is among them); else prefer; else the one with the most files there, and
// of those the one with the fewest missing or different. prefer is the
// edition of the other disc of the install, or -1: editions that share a
// disc unchanged then agree. Paths compare without regard to ASCII case.
// Returns 1 with *v filled; 0 when memory ran out (*v then says UNKNOWN).
int edition_judge(const EditionTable *t, int disc, const EditionSeen *seen, int count, int prefer, EditionVerdict *v);

// The edition's file of that path on disc 1 or 2 (ASCII case aside, '/'
// as '\'), or null.
const EditionFile *edition_file(const EditionTable *t, int edition, int disc, const char *path);
// What the table says of a file of disc 1 or 2 with that size and CRC-32:
// 1 when an edition has it so, 0 when editions have the path but none
// with these contents, -1 when no edition has the path.
int edition_knows(const EditionTable *t, int disc, const char *path, uint64_t size, uint32_t crc);

// 1 when two verdicts' editions are one edition (by name); 0 when either is
// -1 or they differ: CD 1 and CD 2 of two editions, a failure that names
// both.
int edition_same(const EditionTable *t, int a, int b);
