// The details of the last install attempt, as a report that a player
// pastes where they ask for help: what this setup is, the system, the
// sources given and what each is, how the attempt ended and why, the
// install folder and the state of its files, and the log's last lines,
// with the user's name left out everywhere. "Copy details" puts it on the
// clipboard, setup.exe /report FILE writes it to a file.
//
// This part reads the log's text and writes the report's text over memory
// only: it makes no system calls and builds without <windows.h>, so that
// it is tested natively and fuzzed (a log in the temporary folder may hold
// anything). details_sys.cpp gathers what the machine says and hands it in.
//
// The report, plain text, lines ended by CR LF, at most DETAILS_MAX bytes:
//
//   Tarnok: Vorblen - Pellurin Setup 1.0.0 (build 43af967c12ab)
//
//   System
//   Windows: 10.0 build 19045 (Windows 10)
//   ...
//   Sources
//   CD 1: ISO image %USERPROFILE%\Downloads\disc1.iso (2,048-byte sectors)
//   CD 1 verdict: edition Sample, 162 files as known
//   ...
//   Outcome
//   Result: failed
//   Failure: ERROR: copying CD 1 failed
//   Error code: 21 (The device is not ready.)
//   ...
//   Install folder
//   ...
//   Log: the last 200 of 512 lines of %TEMP%\tarnok_setup.log
//   ...
//   end of report
//
// The last line is always "end of report": a report pasted whole ends so.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "editions/editions.h"

enum {
    DETAILS_MAX = 65536, // bytes of a whole report
    DETAILS_TAIL = 200,  // the log's last lines that it shows
    DETAILS_FILES = 10,  // files of each kind that it names, as the verdict does
    DETAILS_PATHS = 8,   // private folders left out
    DETAILS_WORDS = 12,  // private words (the user's names) left out
    DETAILS_BACK = 4,    // lines before a failure that may name its file
};

// Where a piece of the log lies in its text; len 0 for none.
struct DetailsSpan {
    size_t at, len;
};

// How the last attempt ended, as far as the log tells.
enum {
    DETAILS_NO_ATTEMPT, // the log holds none
    DETAILS_INSTALLED,  // "Done."
    DETAILS_FAILED,     // an "ERROR: " line, the stop included
    DETAILS_UNENDED,    // neither: the setup was ended during it, or it still runs
};

// A file that the attempt could not read, from its "cannot read PATH:
// REASON (error N)" line (or "cannot list", or an image's "read error in").
struct DetailsUnread {
    DetailsSpan line;  // the whole line
    DetailsSpan path;  // the path it names
    DetailsSpan root;  // the folder being copied then ("Copying folder X ..."); len 0: none
    int has_error;
    unsigned long error;
};

// The files one disc's verdict named: its heading line, up to
// DETAILS_FILES lines of files, and "and N more".
struct DetailsDamage {
    DetailsSpan files[DETAILS_FILES];
    int count;
    DetailsSpan more;
    int pressing; // the files differ from the edition as another pressing's do, and are installed
};

// What the log says, about the log and about its last attempt: from the
// last "Install to FOLDER (MODE)" line to the end.
struct DetailsLog {
    int lines;         // lines in the log
    size_t tail;       // where the last DETAILS_TAIL of them begin
    int attempts;      // "Install to" lines
    int result;        // DETAILS_
    DetailsSpan folder;    // the attempt's install folder
    DetailsSpan mode;      // "prebuilt" or "convert on this PC"
    DetailsSpan source[3]; // CD 1, CD 2, the update: what follows "... source: "
    DetailsSpan verdict[2]; // each disc's last verdict, what follows "CD n: "
    DetailsDamage damage[2];
    DetailsSpan failure;    // the last "ERROR: " line, whole
    int has_error;          // the failure's system error code is known:
    unsigned long error;    // from the failure line, or the file lines just before it
    DetailsSpan error_line; // the line it was read from
    DetailsUnread unread[DETAILS_FILES];
    int unread_count;       // all of them, also beyond DETAILS_FILES
};

// Reads a log of len bytes (any bytes, no NUL needed; lines end in LF or
// CR LF, and a last line may lack its end) into *out.
void details_scan(const char *log, size_t len, DetailsLog *out);

// The error code at the end of a line "... (error N)": 1 with *error, or 0.
int details_error_of(const char *line, size_t len, unsigned long *error);

// What the report leaves out: folders that name the user, written instead
// as the variable that names them (%USERPROFILE%, %TEMP%), and the user's
// names, written as %USERNAME%. A folder is matched in any ASCII case as a
// whole path at the start of a path step: "C:\Users\Jo\Temp\x" holds
// C:\Users\Jo\Temp, "C:\Users\Jo\Tempo" does not. A name is matched in any
// ASCII case as a whole word (no ASCII letter or digit, and no byte of a
// multi-byte character, on either side); a name of one or two bytes only
// as a whole path step ("C:\Users\Jo\x"), where a word that short (in, to)
// would be every second word of the report.
struct DetailsPrivate {
    char paths[DETAILS_PATHS][520];
    const char *as[DETAILS_PATHS];
    int path_count;
    char words[DETAILS_WORDS][260];
    int word_count;
};
// Adds a folder (a trailing separator is dropped) or a name; an empty one,
// one already there, or one beyond the room is passed over.
void details_private_path(DetailsPrivate *p, const char *path, const char *as);
void details_private_word(DetailsPrivate *p, const char *word);
// text[len] with the private folders and names left out, and every control
// byte but tab, and every byte that begins no whole UTF-8 character, shown
// as \xNN (a log line holds none; a damaged log may), into out[size], cut
// at a whole character when it does not fit. Returns the length written.
size_t details_scrub(const DetailsPrivate *p, const char *text, size_t len, char *out, size_t size);

// What the machine says, gathered by details_sys.cpp. Texts of several
// lines have them separated by '\n'.
enum {
    DETAILS_LOG_READ,       // the log was read
    DETAILS_LOG_NONE,       // there is no log file
    DETAILS_LOG_UNREADABLE, // there is one, but it could not be read
};
struct DetailsFacts {
    const char *title;    // the first line: the setup's name and version
    const char *system;   // "Windows: ...", "Wine: ...", the language, the DPI
    int log_state;        // DETAILS_LOG_
    const char *log_name; // the log file's path
    const char *log_time; // when it was last written, "" when unknown
    const char *question; // the question an install asks now; null when none runs
    const char *error_words; // the system's words for the failure's error code
    const char *folder;   // the install folder's lines
    const EditionTable *table; // what a file that could not be read should be; may be null
    const DetailsPrivate *private_parts;
};

// The report of the log (log[len], scanned into *l) and the facts, into
// out[size] (size at least DETAILS_MAX + 1; NUL-terminated). Everything
// but the log's last lines fits in far less; of those, the newest that fit
// are shown. Returns the length, at most DETAILS_MAX.
size_t details_write(const DetailsFacts *f, const char *log, size_t len, const DetailsLog *l, char *out,
                     size_t size);

// ---- Gathered from the machine (details_sys.cpp, Win32) ----

struct HWND__;

// What is asked for: the install folder to report on (empty: the last
// attempt's, else the installed one), and the question an install asks
// now (null when none runs; its folder is then not checked).
struct DetailsAsk {
    const char *dir;
    const char *question;
};
// The report as details_write makes it, in a heap buffer (free it), or
// null without memory. *len gets its length.
char *details_make(const DetailsAsk *ask, size_t *len);
// The report on the clipboard as text in the two forms other programs
// paste: UTF-16, and the system's ANSI code page (with its locale). 1, or
// 0 when the clipboard could not be had.
int details_to_clipboard(HWND__ *owner, const char *text, size_t len);
