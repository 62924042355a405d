// CD sources: a drive or a folder read through the file system, an ISO or
// CUE/BIN image read with the image reader, behind one interface.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "cdsrc/cdinternal.h"

enum { PATH_MAX_LEN = 520 };

// Replaces a cue sheet's path by the path of the image it names, and tells
// where the volume starts in it; leaves it as it is when the sheet cannot
// be read or names nothing.
static void resolve_cue(char *work, uint64_t *start)
{
    uint64_t size = 0;
    unsigned char *text = read_file(work, &size);
    if (!text)
        return;
    cue_image_path(work, (const char *)text, (size_t)size, work, PATH_MAX_LEN, start);
    free(text);
}

// The file that holds the volume, in place of a cue sheet or a descriptor.
static void resolve_image(char *work, uint64_t *start)
{
    *start = 0;
    if (cue_is_sheet(work))
        resolve_cue(work, start);
    else
        dump_data_path(work, work, PATH_MAX_LEN);
}

void cd_image_file(const char *path, char *out, size_t size)
{
    char work[PATH_MAX_LEN];
    uint64_t start;
    fmt(work, sizeof work, "%s", path);
    resolve_image(work, &start);
    fmt(out, size, "%s", work);
}

// Reads the track's first bytes, as many as there are up to the probe's
// need, and finds the layout in them.
static int find_layout(CdSource *src, uint64_t start)
{
    unsigned char *head = (unsigned char *)malloc(ISO_PROBE_BYTES);
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)start;
    DWORD got = 0;
    int found = -1;
    if (head && start <= (uint64_t)INT64_MAX && SetFilePointerEx((HANDLE)src->image, to, NULL, FILE_BEGIN) &&
        ReadFile((HANDLE)src->image, head, ISO_PROBE_BYTES, &got, NULL))
        found = iso_find_layout(head, got, &src->root_lba, &src->root_size);
    if (found >= 0) {
        src->sector_size = iso_layouts[found].sector_size;
        src->data_offset = iso_layouts[found].data_offset;
        src->track_start = start;
        image_find_check(src, head, got);
    }
    free(head);
    return found >= 0;
}

// A cue sheet's INDEX 01 says where the volume starts. A sheet that points
// where no volume starts is read from the file's start, as sheets were
// before their track positions were read.
static int open_image(CdSource *src, const char *work, uint64_t start)
{
    // A copy reads the image mostly from its start to its end, in the order
    // its files were mastered: the system may read ahead for it.
    HANDLE h = CreateFileA(work, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    src->image = h;
    if (find_layout(src, start) || (start != 0 && find_layout(src, 0))) {
        src->kind = 1;
        fmt(src->path, sizeof src->path, "%s", work);
        fmt(src->description, sizeof src->description, "image %s", work);
        return 1;
    }
    CloseHandle(h);
    src->image = INVALID_HANDLE_VALUE;
    return 0;
}

CdSource *cd_open(const char *path)
{
    CdSource *src = (CdSource *)calloc(1, sizeof(CdSource));
    if (!src)
        return NULL;
    src->image = INVALID_HANDLE_VALUE;
    char work[PATH_MAX_LEN];
    if (!fmt_path(work, sizeof work, "%s", path)) {
        free(src);
        return NULL;
    }
    cd_normalise(work, sizeof work);
    if (is_dir(work)) {
        src->kind = 0;
        fmt(src->path, sizeof src->path, "%s", work);
        fmt(src->description, sizeof src->description, "folder %s", work);
        return src;
    }
    uint64_t start;
    resolve_image(work, &start);
    if (!open_image(src, work, start)) {
        free(src);
        return NULL;
    }
    return src;
}

void cd_close(CdSource *src)
{
    if (!src)
        return;
    if (src->image != INVALID_HANDLE_VALUE)
        CloseHandle((HANDLE)src->image);
    free(src);
}

const char *cd_describe(CdSource *src)
{
    return src->description;
}

int cd_exists(CdSource *src, const char *rel)
{
    if (src->kind == 0) {
        char full[PATH_MAX_LEN];
        return fmt_path(full, sizeof full, "%s\\%s", src->path, rel) && path_exists(full);
    }
    IsoEntry e;
    return iso_find(src, rel, &e);
}

// The whole file, each extent read whole sector by sector into its place:
// the sectors of one extent may run past its end into the next one's place,
// which that extent then overwrites. Sizes within a sector of 4 GiB (larger
// than any CD) and extents past the end of the image are refused before
// anything is allocated.
static unsigned char *read_image_file(CdSource *src, const char *rel, uint64_t *size)
{
    int records = 0;
    IsoEntry *e = iso_find_file(src, rel, &records);
    if (!e)
        return NULL;
    uint64_t whole = 0, room = 0;
    for (int k = 0; k < records; k++) {
        if (!iso_extent_fits(src, e[k].lba, e[k].size))
            room = UINT64_MAX;
        else if (whole + iso_sectors(e[k].size) * ISO_SECTOR > room)
            room = whole + iso_sectors(e[k].size) * ISO_SECTOR;
        whole += e[k].size;
    }
    unsigned char *buf = NULL;
    if (room <= 0xFFFFFFFFu && whole <= 0xFFFFFFFFu - ISO_SECTOR)
        buf = (unsigned char *)malloc((size_t)room + 1);
    uint64_t at = 0;
    for (int k = 0; buf && k < records; k++) {
        if (!read_sectors(src, e[k].lba, (uint32_t)iso_sectors(e[k].size), buf + at)) {
            free(buf);
            buf = NULL;
        }
        at += e[k].size;
    }
    free(e);
    if (buf)
        *size = whole;
    return buf;
}

unsigned char *cd_read(CdSource *src, const char *rel, uint64_t *size)
{
    if (src->kind == 0) {
        char full[PATH_MAX_LEN];
        if (!fmt_path(full, sizeof full, "%s\\%s", src->path, rel))
            return NULL;
        return read_file(full, size);
    }
    return read_image_file(src, rel, size);
}

int cd_damage(const CdSource *src, uint64_t *lba, const char **in)
{
    *lba = src->damaged_lba;
    *in = src->damaged_in;
    return src->damaged;
}

uint64_t cd_total_bytes(CdSource *src)
{
    if (src->kind == 0)
        return dir_total(src->path, 0);
    return iso_total(src, src->root_lba, src->root_size, 0);
}

int cd_copy_all(CdSource *src, const char *dst, Progress *p)
{
    if (src->kind == 0)
        return dir_copy(src->path, dst, p, 0);
    return iso_copy(src, src->root_lba, src->root_size, dst, p, 0);
}
