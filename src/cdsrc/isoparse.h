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

// From a cue sheet's NUL-terminated text, the image it names: the first
// double-quoted name after the first "FILE", joined to the sheet's folder
// unless it holds a ':'. 1 with out filled, or 0 (out unchanged) when the
// sheet names nothing or the result does not fit.
int cue_image_path(const char *cue_path, const char *text, char *out, size_t out_size);
