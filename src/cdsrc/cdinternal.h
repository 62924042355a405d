// Inside the CD sources unit: the image reader's operations and the folder
// walks behind the cd_ interface. Nothing outside the unit calls these.
#pragma once
#include <stdint.h>

#include "cdsrc/cdsrc.h"
#include "cdsrc/isoparse.h"

// The walks over a source stop this many levels below its root.
enum { CD_MAX_DEPTH = 16 };

// The folders or directory extents a walk has entered, each known by a pair
// of numbers, as an open-addressing hash set. Links, or records that share
// an extent, fanning out to one folder would otherwise cost k^16 listings
// even without a loop.
struct IdSlot {
    uint64_t a, b;
    int used;
};
struct IdSet {
    IdSlot *slots;
    uint32_t room, count;
};
void id_set_clear(IdSet *set);
// 1 if (a, b) was not in the set (it now is), 0 if it was. Without memory
// to add it, 1: only the walk's own path then guards against loops.
int id_set_add(IdSet *set, uint64_t a, uint64_t b);

enum {
    COPY_SECTORS = 32,                        // one copy step: 64 KiB
    FETCH_STEPS = 16,                         // copy steps fetched with one read: 1 MiB
    RUN_SECTORS = COPY_SECTORS * FETCH_STEPS, // sectors fetched with one read, in any layout
};

// How to read an image's sectors with a handle: the layout, and the check
// of raw sectors (their mode, or IMAGE_CHECK_BARE for the 2,336-byte
// layout; 0 for none) with the address logical sector 0 holds.
enum { IMAGE_CHECK_BARE = 3 };
struct ImageRead {
    void *image;
    uint64_t track_start;
    uint32_t sector_size, data_offset;
    int check;
    uint32_t base;
};
ImageRead image_read_of(const CdSource *src);
// Reads k sectors from logical sector lba into buf (room for k stored
// sectors), their data bytes packed at its start, raw sectors checked on
// the way. 1; 0 when the read fails, with the system's reason in *error;
// -1 when a sector fails its check, with its logical number in *bad.
int image_read_run(const ImageRead *r, uint64_t lba, uint32_t k, unsigned char *buf, unsigned long *error,
                   uint64_t *bad);
// Sets the source's check from sector 16 as the probe read it (head holds
// len bytes from the track's start).
void image_find_check(CdSource *src, const unsigned char *head, size_t len);

int read_sectors(CdSource *src, uint32_t lba, uint32_t count, unsigned char *buf);
int probe(CdSource *src, uint32_t sector_size, uint32_t data_offset);
IsoEntry *iso_dir(CdSource *src, uint32_t lba, uint32_t size, int *count);
int iso_find(CdSource *src, const char *path, IsoEntry *entry);
// Looks a file up as iso_find does and returns a heap copy of its records
// (one, or one per extent, in order) with their number, or null when the
// path names no file or the file's extents do not follow each other.
IsoEntry *iso_find_file(CdSource *src, const char *path, int *records);
uint64_t iso_total(CdSource *src, uint32_t lba, uint32_t size, int depth);
int iso_copy(CdSource *src, uint32_t lba, uint32_t size, const char *dst, Progress *p, int depth);
// 1 if size bytes from sector lba lie inside the image.
int iso_extent_fits(CdSource *src, uint32_t lba, uint64_t size);

uint64_t dir_total(const char *folder, int depth);
int dir_copy(const char *src, const char *dst, Progress *p, int depth);
