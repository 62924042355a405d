// The parts of the CD sources that read bytes from outside: ISO 9660 volume
// descriptors and directory records, the cleaning of file identifiers into
// names, cue sheets and the normalising of a source path. Everything here
// works on memory buffers and makes no system calls, so it builds without
// <windows.h> and can be fuzzed natively.
#pragma once
#include <stddef.h>
#include <stdint.h>

enum { ISO_SECTOR = 2048 };

// One listed directory entry.
struct IsoEntry {
    char name[64];     // cleaned identifier, at most 63 characters
    uint32_t lba;      // first logical sector of the extent
    uint32_t size;     // bytes of the file, or of the directory's extent
    int directory;     // 1 for a directory
    int more;          // flag 0x80: the file goes on in the next record
};

// Reads the primary volume descriptor in one 2,048-byte sector: 1 and the
// root directory's extent if it is one (type 1, "CD001"), else 0.
int iso_parse_pvd(const unsigned char *sector, uint32_t *root_lba, uint32_t *root_size);

// Sectors that size bytes occupy, in 64 bits so that no size overflows.
uint64_t iso_sectors(uint64_t size);

// The name rules: up to the first ';', at most 63 bytes, one final '.'
// dropped, NUL-terminated into out[64].
void iso_clean_name(const unsigned char *id, size_t n, char *out);

// 1 if a cleaned name cannot safely become one component of a path: empty,
// refused by name_reserved (a device name such as NUL or COM1 with any
// extension, "." and "..", a final dot or blank), or holding a separator, a
// drive colon, a character Windows forbids in names or a control character.
int iso_name_unsafe(const char *name);

// Lists the records of a directory extent held in buf (buf_len bytes, a
// whole number of sectors, at least size). Records whose fixed part or
// identifier would cross the end of their sector are damaged: the walk
// skips to the next sector. The records for the directory itself and its
// parent are left out. Returns a heap array (free() it, also when *count
// is 0), or null if memory ran out.
IsoEntry *iso_parse_dir(const unsigned char *buf, size_t buf_len, uint32_t size, int *count);

// The records of the file whose first record is list[i]. A file recorded in
// several extents has flag 0x80 on every record but its last, and those
// records follow each other under one name; the file is its extents joined
// in record order. Returns the number of records (1 for a file in one
// extent, and for a directory) with the whole size in *size, or 0 when a
// record promises another that is not there: the list ends, or the next
// record has another name or is a directory.
int iso_file_records(const IsoEntry *list, int count, int i, uint64_t *size);

// Normalises a source path in place (520-byte buffer): trailing '\' and '/'
// are removed down to 3 characters, and a bare "D:" becomes "D:\".
void cd_normalise(char *path, size_t size);

// 1 if the path names a cue sheet: the text from its last '.' is ".cue" in
// any case.
int cue_is_sheet(const char *path);

// A stored sector layout: logical sector n's 2,048 data bytes begin at byte
// n * sector_size + data_offset from the start of the volume's track.
struct IsoLayout {
    uint32_t sector_size;
    uint32_t data_offset;
};

enum {
    ISO_LAYOUT_COUNT = 6,
    ISO_RAW_MAX = 2448, // 2,352 raw bytes and 96 of sub-channel
    // Bytes from a track's start that hold sector 16 in every layout.
    ISO_PROBE_BYTES = 16 * ISO_RAW_MAX + 24 + ISO_SECTOR,
};

// The layouts in the order they are tried: plain, raw Mode 1, raw Mode 2
// Form 1, the same two raw with sub-channel, and Mode 2 without sync and
// header.
extern const IsoLayout iso_layouts[ISO_LAYOUT_COUNT];

// The first layout in which head (the first len bytes from a track's start)
// holds a primary volume descriptor at sector 16: its index in iso_layouts,
// with the root directory's extent; -1 if there is none.
int iso_find_layout(const unsigned char *head, size_t len, uint32_t *root_lba, uint32_t *root_size);

// Takes the data bytes of k stored sectors out of a run read from the first
// one's data bytes on ((k - 1) * sector_size + 2048 bytes) into out
// (k * 2048 bytes). out may be run itself: each sector's data moves only
// towards the start.
void iso_unpack_run(const unsigned char *run, uint32_t k, uint32_t sector_size, unsigned char *out);

// What a cue sheet says about the volume: the file of its first data track
// (MODE1/2048, MODE1/2352, MODE2/2352 or MODE2/2336) and where that track's
// INDEX 01 lies in it. A sheet without any data track names its first file.
struct CueImage {
    const char *name; // inside the sheet's text, not NUL-terminated
    size_t name_len;
    uint64_t start; // bytes before the track's first sector; 0 when unknown
};

// Reads a cue sheet of len bytes (no NUL needed) line by line: 1 with img
// filled, or 0 when it names no usable file.
int cue_parse(const char *text, size_t len, CueImage *img);

// 1 when a sheet may name its data file so (n bytes): beside itself or
// below, or by a drive-letter path; never a UNC or device path (two leading
// separators), a stream (any ':' but a drive letter's), or a device name
// (NUL, COM1.bin) as its last step.
int cue_name_allowed(const char *name, size_t n);

// The image a cue sheet of len bytes names, joined to the sheet's folder
// unless it starts with a drive letter and ':', and where its volume starts.
// 1 with out and *start filled, or 0 (both unchanged) when the sheet names
// nothing, names a UNC or device path (two leading separators), a stream
// (any other ':') or a device (NUL, COM1.bin), or the path does not fit.
// out may be the sheet's own path buffer.
int cue_image_path(const char *cue_path, const char *text, size_t len, char *out, size_t out_size, uint64_t *start);

// 1 if the path names a dump descriptor whose data lies in a file of the
// same base name beside it: a CloneCD control file (.ccd) and its .img, an
// Alcohol descriptor (.mds) and its .mdf. out (which may be path) then
// holds the data file's path; 0 leaves out unchanged.
int dump_data_path(const char *path, char *out, size_t out_size);
