// CD sources: a drive or a folder read through the file system, an ISO or
// CUE/BIN image read with the image reader, behind one interface.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "cdsrc/cdinternal.h"
#include "setup/setup.h"

enum { PATH_MAX_LEN = 520 };

// Stored sector sizes and data offsets, tried in this order.
static const uint32_t layouts[3][2] = {{2048, 0}, {2352, 16}, {2352, 24}};

// Replaces a cue sheet's path by the path of the image it names; leaves it
// as it is when the sheet cannot be read or names nothing.
static void resolve_cue(char *work)
{
    uint64_t size = 0;
    unsigned char *text = read_file(work, &size);
    if (!text)
        return;
    text[size] = 0; // read_file leaves room for it
    cue_image_path(work, (const char *)text, work, PATH_MAX_LEN);
    free(text);
}

static int open_image(CdSource *src, const char *work)
{
    HANDLE h = CreateFileA(work, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    src->image = h;
    for (int i = 0; i < 3; i++) {
        if (probe(src, layouts[i][0], layouts[i][1])) {
            src->kind = 1;
            fmt(src->path, sizeof src->path, "%s", work);
            fmt(src->description, sizeof src->description, "image %s", work);
            return 1;
        }
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
    fmt(work, sizeof work, "%s", path);
    cd_normalise(work, sizeof work);
    if (is_dir(work)) {
        src->kind = 0;
        fmt(src->path, sizeof src->path, "%s", work);
        fmt(src->description, sizeof src->description, "folder %s", work);
        return src;
    }
    if (cue_is_sheet(work))
        resolve_cue(work);
    if (!open_image(src, work)) {
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
        fmt(full, sizeof full, "%s\\%s", src->path, rel);
        return path_exists(full);
    }
    IsoEntry e;
    return iso_find(src, rel, &e);
}

// The whole file's sectors plus one byte; sizes within a sector of 4 GiB
// (larger than any CD) and extents past the end of the image are refused
// before anything is allocated.
static unsigned char *read_image_file(CdSource *src, const char *rel, uint64_t *size)
{
    IsoEntry e;
    if (!rel[0] || !iso_find(src, rel, &e) || e.directory)
        return NULL;
    if (e.size > 0xFFFFFFFFu - ISO_SECTOR || !iso_extent_fits(src, e.lba, e.size))
        return NULL;
    uint32_t sectors = (uint32_t)iso_sectors(e.size);
    unsigned char *buf = (unsigned char *)malloc((size_t)sectors * ISO_SECTOR + 1);
    if (!buf)
        return NULL;
    if (!read_sectors(src, e.lba, sectors, buf)) {
        free(buf);
        return NULL;
    }
    *size = e.size;
    return buf;
}

unsigned char *cd_read(CdSource *src, const char *rel, uint64_t *size)
{
    if (src->kind == 0) {
        char full[PATH_MAX_LEN];
        fmt(full, sizeof full, "%s\\%s", src->path, rel);
        return read_file(full, size);
    }
    return read_image_file(src, rel, size);
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

static int is_dot_entry(const char *name)
{
    return strcmp(name, ".") == 0 || strcmp(name, "..") == 0;
}

uint64_t dir_total(const char *folder, int depth)
{
    char pattern[PATH_MAX_LEN];
    fmt(pattern, sizeof pattern, "%s\\*", folder);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    uint64_t sum = 0;
    do {
        if (is_dot_entry(fd.cFileName))
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth < CD_MAX_DEPTH) {
                char child[PATH_MAX_LEN];
                fmt(child, sizeof child, "%s\\%s", folder, fd.cFileName);
                sum += dir_total(child, depth + 1);
            }
        } else {
            sum += (uint64_t)fd.nFileSizeHigh << 32 | fd.nFileSizeLow;
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    return sum;
}

int dir_copy(const char *src, const char *dst, Progress *p, int depth)
{
    char pattern[PATH_MAX_LEN];
    fmt(pattern, sizeof pattern, "%s\\*", src);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    make_dirs(dst);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    int ok = 1;
    do {
        if (is_dot_entry(fd.cFileName))
            continue;
        char from[PATH_MAX_LEN], to[PATH_MAX_LEN];
        fmt(from, sizeof from, "%s\\%s", src, fd.cFileName);
        fmt(to, sizeof to, "%s\\%s", dst, fd.cFileName);
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (depth < CD_MAX_DEPTH)
                ok = dir_copy(from, to, p, depth + 1);
        } else {
            // copy_file makes a new file with normal attributes whatever the
            // source's read-only, hidden or system flags: nothing to clear.
            ok = copy_file(from, to, p);
        }
    } while (ok && FindNextFileA(h, &fd));
    FindClose(h);
    return ok;
}
