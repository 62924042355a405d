// Inside the CD sources unit: the image reader's operations and the folder
// walks behind the cd_ interface. Nothing outside the unit calls these.
#pragma once
#include <stdint.h>

#include "cdsrc/cdsrc.h"
#include "cdsrc/isoparse.h"

// The walks over a source stop this many levels below its root.
enum { CD_MAX_DEPTH = 16 };

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
