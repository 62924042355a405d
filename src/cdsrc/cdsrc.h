// CD sources: one interface over a CD drive, a folder copied from a disc, an
// ISO image, a CUE/BIN pair and the raw dumps of other tools (.ccd/.img,
// .mds/.mdf). Images are read with our own ISO 9660 reader.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "util/util.h"

struct CdSource {
    int kind;              // 0: folder (a drive's root or any folder), 1: image
    char path[520];        // normalised folder, or the image file actually opened
    void *image;           // image: open file handle; folder: INVALID_HANDLE_VALUE
    uint32_t sector_size;  // image layout: 2048, 2352, 2448 or 2336
    uint32_t data_offset;  // bytes before the 2048 data bytes of a stored sector
    uint64_t track_start;  // bytes of the file before the volume's first sector
    uint32_t root_lba;     // root directory's extent
    uint32_t root_size;    // root directory's length in bytes
    char description[552]; // "folder %s" or "image %s"
    int check;             // raw sectors' mode to check them against (1, 2, or 3 for 2,336 bytes); 0: none
    uint32_t check_base;   // the address that logical sector 0 holds
    // Damage that a copy met (cd_damage): a sector that failed its check,
    // and once the copy knows it, the file or folder it belongs to.
    int damaged;
    uint64_t damaged_lba;
    int damaged_placed;
    char damaged_in[520];
};

CdSource *cd_open(const char *path);
// A path as cd_open takes it: "D:" becomes "D:\", separators at the end go.
void cd_normalise(char *path, size_t size);
// The file cd_open reads for a path that names a file: the image a cue
// sheet names, the data file beside a .ccd or .mds, else the path itself.
void cd_image_file(const char *path, char *out, size_t size);
void cd_close(CdSource *src);
const char *cd_describe(CdSource *src);
int cd_exists(CdSource *src, const char *rel);
unsigned char *cd_read(CdSource *src, const char *rel, uint64_t *size);
uint64_t cd_total_bytes(CdSource *src);
int cd_copy_all(CdSource *src, const char *dst, Progress *p);
// After a copy failed: 1 when it failed because a raw sector of the image
// is damaged, with the sector's logical number and the path on the disc of
// the file or folder it belongs to, below its root ("" for the root folder
// itself).
int cd_damage(const CdSource *src, uint64_t *lba, const char **in);
// What a source given as a path is, in words for the log, into out[size]
// (returned): "CD drive E:\ (label "TARNOK2", serial 1A2B-3C4D, file system
// CDFS)", "folder C:\CD1", "CUE/BIN image C:\d.cue, data file C:\d.bin
// (2,352-byte raw sectors, mode 1)", "ISO image C:\d.iso (2,048-byte
// sectors)", or what is there instead: "C:\d.iso (not found)". The source
// is opened for this and closed again.
const char *cd_tell(const char *given, char *out, size_t size);
