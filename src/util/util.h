// File utilities: path tests, folder listings and creation, whole-file I/O,
// block copies, CRC-32, file identity, removals, the install's progress
// counter, the log, and the bounded formatter every other unit builds its
// paths and messages with.
#pragma once
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define PRINTF_LIKE(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define PRINTF_LIKE(f, a)
#endif

// The log: one call, one line, appended to "tarnok_setup.log" in the
// temporary folder while it is open, and handed to the listener.
void setup_log(const char *format, ...) PRINTF_LIKE(1, 2);
// A line for a debugger that is attached, and for nobody else: each log line
// goes there too, with the named steps of the late install and of the
// uninstall, so that a harness can stop the program at a moment of its
// choosing. Costs nothing without a debugger.
void setup_trace(const char *format, ...) PRINTF_LIKE(1, 2);
// The one who shows the lines as they come (the setup window); null for
// nobody. It is called on the thread that logs.
typedef void (*LogListener)(void *ctx, const char *line);
void log_listen(LogListener fn, void *ctx);
// "tarnok_setup.log" in the temporary folder, emptied on open.
void log_open(void);
void log_close(void);

// Formats into out[size] like snprintf, but always terminates and cuts what
// does not fit, never inside a UTF-8 sequence. Returns the length written
// (never more than size - 1).
int fmt(char *out, size_t size, const char *format, ...) PRINTF_LIKE(3, 4);
int vfmt(char *out, size_t size, const char *format, va_list ap) PRINTF_LIKE(3, 0);
// The same for a path, which is never used cut: 1 when the whole result fits,
// else 0 with out empty.
int fmt_path(char *out, size_t size, const char *format, ...) PRINTF_LIKE(3, 4);
// folder\name, as fmt_path makes it; a folder that ends in its separator
// already (a drive's root, "X:\") gets no second one.
int join_path(char *out, size_t size, const char *folder, const char *name);
// Where path lies below folder: the rest of it after the folder and its
// separator, ASCII case aside ("C:\Games\x\y" below "c:\games" is "x\y");
// null when path is the folder itself or lies elsewhere. As join_path, a
// folder that ends in its separator (a drive's root) needs no second one.
const char *path_below(const char *path, const char *folder);
// The root of the drive that path begins with, "X:\" in root (4 bytes): 1,
// or 0 with root empty when path begins with no drive letter and colon.
int drive_root_of(const char *path, char *root);
// 1 for the root of a drive: "C:", "C:\" and "\\server\share", with or
// without separators after them.
int is_drive_root(const char *path);
// A count with a comma between groups of three digits, as messages show
// numbers: "0", "999", "1,234", "12,345,678". Cut like fmt when out[size]
// is too small. Returns out.
const char *fmt_count(uint64_t n, char *out, size_t size);
// 1 when text is well-formed UTF-8 (no overlong forms, no surrogates).
int utf8_valid(const char *text);

// The fields of a line of the plain tab-separated tables the install reads
// (its file list, the table of disc editions): bytes, not NUL-terminated.
struct TextField {
    const char *s;
    size_t len;
};
// Splits s[len] at its tabs into exactly count fields: 1, or 0 for any
// other number of them.
int split_tabs(const char *s, size_t len, TextField *f, int count);
// A CRC-32 as exactly eight hex digits, in either case: 1, or 0.
int field_crc(TextField f, uint32_t *out);
// A control character (below 0x20, or DEL): no field of ours holds one, so
// that a tab, CR or LF inside a field is never taken for the line's shape.
int is_control(unsigned char c);

// 1 when Windows would not create one path step (len bytes, no separator)
// under its own name: a device name (CON, PRN, AUX, NUL, COM0 to COM9, LPT0
// to LPT9, COM and LPT with a superscript 1, 2 or 3, CONIN$, CONOUT$,
// CLOCK$) in any case, with any extension and with blanks before the dot;
// or a step that ends in '.' or ' ', which Windows strips, so that two
// names could land on one file ("." and ".." among them).
int name_reserved(const char *step, size_t len);

// A name from a disc or an archive as a log line shows it, in out[size]:
// line feed, carriage return and tab become \n, \r and \t, every other
// control byte (below 0x20, and 0x7F) becomes \xNN with two upper-case hex
// digits; all else, backslashes and bytes of the code page included, stays
// as it is, so paths read as before. Cut where out is full, never inside an
// escape. Returns out.
const char *name_escape(const char *text, char *out, size_t size);

// Byte ranges of a file, [at[2i], at[2i+1]) in increasing order, none
// empty and none touching the next: the parts a copy could not read yet.
// Zero-filled is empty; ranges_free releases it.
enum {
    RANGES_MAX = 65536, // kept apart; beyond that a new one joins its neighbour
    RANGES_DIGITS = 20, // of the largest 64-bit number
};
struct Ranges {
    uint64_t *at;
    int count, room;
};
// Adds [start, end), joining what it touches: 1, or 0 when memory ran out.
int ranges_add(Ranges *r, uint64_t start, uint64_t end);
// Takes [start, end) out: 1, or 0 when memory to split a range ran out.
int ranges_take(Ranges *r, uint64_t start, uint64_t end);
uint64_t ranges_bytes(const Ranges *r);
int ranges_copy(Ranges *to, const Ranges *from);
void ranges_free(Ranges *r);
// A partial file's map, the ranges of a file of size bytes still missing,
// as text (see ranges.cpp): the room it needs, and the text in out[room]
// (its length, 0 when room is too small).
size_t ranges_map_size(const Ranges *r);
size_t ranges_format(const Ranges *r, uint64_t size, char *out, size_t room);
// Reads a map of len bytes (any bytes) for a file of size bytes into *out:
// 1, or 0 with *out empty when it is no such map.
int ranges_parse(const char *text, size_t len, uint64_t size, Ranges *out);

typedef void (*ProgressFn)(uint64_t done, uint64_t total, void *ctx);

// What a copy from a CD drive does once a read has failed, and failed again
// after two retries: 1 to read the file again from where it failed (the
// disc was cleaned or put back), 0 to give up.
typedef int (*ReadTroubleFn)(const char *path, unsigned long error, void *ctx);

// How copies read from a CD drive: in small reads, so that a stop comes
// between them within a second even at 1x speed, retried, and then handed
// to trouble. A file opened again is read on only when it is still the
// same: its volume serial and size as at its first open, and the disc's
// marker file there; else it fails with ERROR_MEDIA_CHANGED, for trouble
// to ask for the disc. A file that ends before its size fails with
// ERROR_HANDLE_EOF.
//
// A drive that reads around damage (read_around) does not hand a read that
// still fails to trouble while the disc is in: it reads that part again a
// sector at a time, keeps every sector that reads, notes the others as
// missing and reads on, so that all that is readable is read first. The
// file is then left partial (see partial_path), and the watch told.
struct DriveReading {
    ReadTroubleFn trouble;
    void *ctx;
    const char *marker; // full path of the disc's marker file
    int read_around;
};

// The sector of a CD: the drive reads no less, and damage comes in such
// pieces.
enum { CD_SECTOR = 2048 };

// Told of each file that a copy writes: as it begins, with its size, and
// once it is whole, with its size and its CRC-32, computed as it was copied.
// Asked first whether the file is wanted at all: 0 when dst is there whole
// already, with its CRC-32 in *crc (the copy then reads nothing of it, and
// tells copied of it as if it had copied it). Any function may be null.
//
// A copy that reads around damage tells partial of a file it could not
// read whole, with what is missing; it is then left as a partial file.
// Asked resume (may be null) whether dst's partial file, when there is one,
// is the install's to finish: 1, and only its missing ranges are read.
struct CopyWatch {
    void (*begun)(void *ctx, const char *dst, uint64_t size);
    void (*copied)(void *ctx, const char *dst, uint64_t size, uint32_t crc);
    int (*wanted)(void *ctx, const char *dst, uint64_t size, uint32_t *crc);
    void *ctx;
    void (*partial)(void *ctx, const char *dst, uint64_t size, const Ranges *missing);
    int (*resume)(void *ctx, const char *dst, uint64_t size, struct FillFrom *how);
};

// Told which step of a long job is under way, for whoever shows it: a step
// (in the numbers of the one who watches) begins with done and total 0, and
// a step made of parts tells as done of its total parts are finished.
struct StepWatch {
    void (*step)(void *ctx, int step, int done, int total);
    void *ctx;
};

// The install's byte counter, handed to every copy. done may pass total;
// the callback may be null. drive is the reading policy of the source being
// copied: null for a disk, read in large blocks that fail at the first error.
// watch, when set, is told of each file copied; steps of each step begun.
// fresh: the copies go into folders that this run made, where a new file
// may be written at its final name (see dest_open_fresh); otherwise every
// file is written beside its final name and put there once it is whole.
struct Progress {
    uint64_t done;
    uint64_t total;
    ProgressFn callback;
    void *ctx;
    const DriveReading *drive;
    const CopyWatch *watch;
    const StepWatch *steps;
    int fresh;
};

void progress_add(Progress *p, uint64_t n);
// Tell p's step watch, if it has one, where the work stands.
void progress_step(const Progress *p, int step, int done, int total);
// Tell p's watch, if it has one, that a file's copy begins, is whole, or
// is left partial.
void copy_begun(const Progress *p, const char *dst, uint64_t size);
void copy_done(const Progress *p, const char *dst, uint64_t size, uint32_t crc);
void copy_partial(const Progress *p, const char *dst, uint64_t size, const Ranges *missing);
// Asks p's watch whether dst (size bytes) is to be copied: 1 when it is
// (and always without a watch); 0 when it is there whole already, having
// counted its bytes and told the watch of it as copied.
int copy_wanted(Progress *p, const char *dst, uint64_t size);

int path_exists(const char *path);
int is_dir(const char *path);
int make_dirs(const char *path);
// The running program's full path, and its folder: 1, or 0 with out empty
// when it does not fit.
int program_path(char *out, size_t size);
int program_folder(char *out, size_t size);
// Creates the folders above a file about to be written.
void make_parent_dirs(const char *path);
int write_file(const char *path, const void *data, uint64_t size);
// The whole file in a heap buffer (one byte more than its size), or null with
// the reason in GetLastError(): the system's, ERROR_FILE_TOO_LARGE from
// 4 GiB on, ERROR_NOT_ENOUGH_MEMORY, or ERROR_HANDLE_EOF when it ended early.
unsigned char *read_file(const char *path, uint64_t *size_out);
int copy_file(const char *src, const char *dst, Progress *p);

// A file of a disc that could not be read whole lies beside its final name
// as a partial file: its data (what was read, zeros in the gaps) and its
// map of the ranges still missing (ranges_format), written after the data,
// so that a map never promises what the data lacks.
#define PARTIAL_DATA_SUFFIX ".tarnok-part"
#define PARTIAL_MAP_SUFFIX ".tarnok-map"
// The partial file's data and map names for dst: 1, or 0 when they do not fit.
int partial_paths(const char *dst, char *data, size_t data_size, char *map, size_t map_size);
// The missing ranges of dst's partial file of size bytes: 1, or 0 (out
// empty) when there is none, or its map or data is not one.
int partial_read(const char *dst, uint64_t size, Ranges *out);
// Removes dst's partial file, data and map: the file is whole, or given up.
void partial_remove(const char *dst);
// Makes written (dst's data as a copy wrote it, gaps and all) dst's partial
// file of size bytes with its map. 1, or 0 with why logged.
int partial_write(const char *dst, const char *written, uint64_t size, const Ranges *missing);

// A copy of a disc file read from where it can be: its path on a drive or a
// disk, or its whole contents in memory (a file of an image, read whole).
struct SourceRead {
    void *h; // open: INVALID_HANDLE_VALUE when closed
    const char *path;
    const unsigned char *data;
    uint64_t size;
    unsigned long serial;
};
// Opens path as a copy opens its source (from a drive as p's reading says),
// or takes data of size bytes when path is null. 1, or 0 with the error in
// GetLastError().
int source_open(SourceRead *s, const char *path, const unsigned char *data, uint64_t size, const Progress *p);
// Reads n bytes at offset at into buf: 1 when all of them read; a drive's
// read that fails is tried once more after the drive settles. 0 with the
// error in GetLastError(), ERROR_MEDIA_CHANGED when the path leads to
// another file or disc now.
int source_read_at(SourceRead *s, uint64_t at, unsigned char *buf, uint32_t n, const Progress *p);
void source_close(SourceRead *s);

// Where the bytes that fill a partial file come from, and how far to trust
// them. The copy the file was read from is trusted; another copy of the
// disc only where it cannot splice two different files:
//   - where table (may be null) knows the file, the whole file assembled
//     must be as the table has it (table: 1 yes, 0 no, -1 it does not know
//     the file);
//   - where it does not, the other copy must have the same size and the
//     same bytes in every range both copies read: ranges of margin bytes
//     around each gap are read from a drive, the whole file is compared
//     from memory.
// A copy that disagrees gives nothing for the file.
struct FillFrom {
    SourceRead *source;
    int other;
    int (*table)(void *ctx, uint64_t size, uint32_t crc);
    void *ctx;
    uint32_t margin;
};
enum {
    FILL_WHOLE,   // the file is whole now and in its place; the watch was told copied
    FILL_PARTIAL, // some of it is still missing (in *still); the watch was told partial
    FILL_REFUSED, // the other copy disagrees: nothing of it was taken
    FILL_FAILED,  // the partial file could not be read or written (logged)
};
// Reads what dst's partial file of size bytes misses from the copy, as
// FillFrom says, a sector at a time; the map is kept true after each gap,
// so that a kill loses nothing that was read. still (may be null) gets what
// is missing afterwards. The bytes read count toward p.
int copy_fill(const char *dst, uint64_t size, const FillFrom *from, Progress *p, Ranges *still);

// 1 for the entries "." and "..", which every folder but a root lists.
int is_dot_entry(const char *name);
// One folder's listing, entry by entry, "." and ".." passed over:
//   FolderListing l;
//   for (int more = listing_first(&l, folder, "*"); more; more = listing_next(&l))
//       ... l.name, l.attributes, l.size ...
//   listing_close(&l);
// For the walks that only visit entries; a walk that must tell a listing
// cut short by an error from its end keeps its own loop.
struct FolderListing {
    void *handle;
    int opened;          // 1 when the folder could be listed, empty or not
    char name[260];
    uint32_t attributes; // FILE_ATTRIBUTE_ bits
    uint64_t size;
};
// The first entry of the folder's entries that match pattern ("*", "*.c"):
// 1, or 0 when there is none or the folder cannot be listed.
int listing_first(FolderListing *l, const char *folder, const char *pattern);
// The next entry: 1, or 0 at the end.
int listing_next(FolderListing *l);
// Ends the listing; harmless after its end, or when it never began.
void listing_close(FolderListing *l);

// After a failed read or listing of path: 1 to try it again, after a pause
// for each of the first two retries and then as often as the drive's
// trouble function says; 0 to give up (p reads no drive, the player
// stopped, or the trouble function gave up). *tries starts at 0.
int copy_try_again(const Progress *p, const char *path, unsigned long error, int *tries);
// While a copy from a drive waits for its disc: 1 when it can read on, by
// the check it makes before it does: the file it was reading, if any,
// opens again by its path as the file first opened (its volume serial and
// size as then). The disc's marker is for the caller to look for. A
// question that closes itself once the disc is in asks this too, so that
// it never closes for a disc that the copy then refuses.
int drive_can_read_on(void);
// The player's stop: once asked for, every copy fails at its next read.
void stop_request(void);
int stop_requested(void);
// 1 for a path on a drive that the system calls a CD drive.
int on_cd_drive(const char *path);
// Asks the CD drive of path ("D:\...") to read at most kb_per_s KB a
// second (DRIVE_SPEED_MAX: as fast as it can), as damaged parts of a disc
// read better slowly. 1 when the drive took it; many drives, and Wine, do
// not, which is no failure.
enum { DRIVE_SPEED_MAX = 0xFFFF, DRIVE_SPEED_SLOW = 4 * 176 };
int drive_set_speed(const char *path, unsigned kb_per_s);
// A file being written. It is written beside its final name under a
// temporary name (the path and DEST_TEMP_SUFFIX, or where that would be too
// long a name of the file's own length) and renamed there only once it is
// complete, so that a failure, a full disk or a kill leaves whatever was
// at the final name as it was, and never a file half made.
#define DEST_TEMP_SUFFIX ".tarnok-new"
struct DestFile {
    void *handle;   // open for writing until closed; INVALID_HANDLE_VALUE after
    char path[520]; // the file's own name
    char temp[532]; // the temporary name, or "" when written in place
};
// Creates the file under its temporary name, and the folders above it when
// they are missing. 1, or 0 with the system's error code in GetLastError().
int dest_open(DestFile *d, const char *path);
// The same for a folder that this run made, where nothing of anyone else's
// can be: a new file is written at its final name, which saves a rename a
// file (a copy of a whole disc makes thousands); an existing one is
// replaced as dest_open replaces it.
int dest_open_fresh(DestFile *d, const char *path);
// dest_open for a copy into the folder p says: fresh or not.
int dest_open_for(DestFile *d, const char *path, const Progress *p);
// The temporary name that a file of that path is written under: 1, or 0
// when it cannot be formed.
int dest_temp_path(const char *path, char *out, size_t size);
// The name the data is being written under.
const char *dest_name(const DestFile *d);
// Writes all of data; 0 with the error code in GetLastError() when the
// system fails it, or ERROR_DISK_FULL when it writes less without a reason.
int dest_write(DestFile *d, const void *data, uint64_t size);
// Closes the handle, so that another call may open the file before commit.
void dest_close(DestFile *d);
// Closes and puts the file in place. 0, with the error code kept in
// GetLastError(), when the old file cannot be replaced; the temporary file
// is then removed.
int dest_commit(DestFile *d);
// Closes, keeping GetLastError(), and removes what was written: the old
// file stays as it was, and nothing half made stays at any name.
void dest_abandon(DestFile *d);
// Logs "cannot write PATH: REASON" and keeps it for write_failure().
void log_write_failure(const char *path, unsigned long error);
// Ends a file: a complete one (ok) is committed, an incomplete one
// abandoned. 1 when it is in place; a failed commit is logged ("cannot
// write %s: reason").
int dest_finish(DestFile *d, int ok);
// The last failed write of write_file or of a commit, as "cannot write
// C:\x: There is not enough space on the disk. (error 112)"; "" when there
// was none since write_failure_clear().
const char *write_failure(void);
void write_failure_clear(void);
uint32_t crc32_buf(const void *data, uint64_t len);

// Tables of a reflected CRC for taking eight bytes a step; slice 0 is the
// usual one-byte table. Built from the reflected polynomial (0xEDB88320 for
// CRC-32, 0xA001 for CRC-16/ARC); entry 1 of slice 0 is never 0 once built.
typedef uint32_t CrcSlices[8][256];
void crc_build_slices(CrcSlices tab, uint32_t poly);
// Runs crc over len bytes of data: no initial or final complement, so CRCs
// of any width up to 32 bits and any start value share it.
uint32_t crc_update(const CrcSlices tab, uint32_t crc, const unsigned char *data, uint64_t len);
// The constants for folding 64 bytes a step with carry-less multiplication,
// for a reflected CRC of 32 bits, and whether this processor can; and for
// 128 bytes a step in 256-bit registers, where it has them (wide).
struct CrcFold {
    uint64_t by8[2], by4[2], by1[2];
    int usable, wide;
};
void crc_build_fold(CrcFold *f, uint32_t poly);
// crc_update, folding where it can: the same result, many times faster.
uint32_t crc_update_fold(const CrcSlices tab, const CrcFold *f, uint32_t crc, const unsigned char *data, uint64_t len);
// CRC-32 carried on over more data: crc32_more(crc32_buf(a), b) is the
// CRC-32 of a followed by b; the CRC-32 of nothing is 0.
uint32_t crc32_more(uint32_t crc, const void *data, uint64_t len);
// The CRC-32 of a followed by b, from the CRC-32 of each and b's length,
// without reading either again.
uint32_t crc32_combine(uint32_t crc_a, uint32_t crc_b, uint64_t len_b);
int delete_tree(const char *path);
// Removes everything in a folder but its entry named keep (in any case), as
// delete_tree does; the folder stays. 0, touching nothing, when the path is
// no folder or is a link.
int delete_tree_except(const char *path, const char *keep);
// The system's own words for an error code, then its number, as the end of
// a log line: "There is not enough space on the disk. (error 112)". Returns out.
const char *error_text(unsigned long error, char *out, size_t size);
// The path an open file or folder handle really leads to, links resolved,
// in out[size]; the handle is closed. 0 when it cannot be told.
int final_path(void *handle, char *out, unsigned long size);

// Deletes path only when it is a plain file that no process holds open or
// runs: never a folder, a link or what a link leads to. 1 when deleted.
int delete_unused_file(const char *path);
// Deletes the file path names, never what a link there leads to: a link
// that can be opened as itself (Windows) goes as a link, one that opens as
// its target (a Unix link under Wine) stays. Never a folder. 1 when deleted,
// else 0 with the reason in GetLastError(): ERROR_CANT_RESOLVE_FILENAME for a
// folder or a link that stays.
int delete_file_itself(const char *path);
// The real path of the folder that holds path's last step, in out; returns
// that step's name inside path, or null when there is none or the folder
// cannot be opened.
const char *real_parent(const char *path, char *out, unsigned long size);
// 1 when the open handle h leads to the entry name of the folder whose real
// path is folder_real.
int handle_is_entry(void *h, const char *folder_real, const char *name);
// 1 when the open file handle f is the entry path itself, reached without
// following a link: the one test behind every removal and write by name.
int opened_itself(void *f, const char *path);
// 1 when both paths name the same existing file or folder, however each is
// spelt (short names, case, separators, links).
int same_file(const char *a, const char *b);
// 1 when two open handles lead to the same file (volume and file index).
int same_open_file(void *a, void *b);
// delete_tree, retried for up to max_ms while another process still holds a
// file in the tree or the folder itself. 1 when the folder is gone.
int delete_tree_patiently(const char *path, unsigned long max_ms);
