// ISO 9660 structures, names and cue sheets, over memory buffers only.
#include "cdsrc/isoparse.h"

#include <stdlib.h>
#include <string.h>

#include "util/util.h"

// Primary volume descriptor (logical sector 16), as far as it is read:
//   0    type (1 = primary)
//   1    "CD001"
//   156  root directory record; its extent at +2, its length at +10
enum {
    PVD_TYPE = 0,
    PVD_ID = 1,
    PVD_ROOT = 156,
    PVD_ROOT_LBA = PVD_ROOT + 2,
    PVD_ROOT_SIZE = PVD_ROOT + 10,
};

// Directory record:
//   0    length of the record (0: no more records in this sector)
//   2    extent location, little-endian copy
//   10   data length, little-endian copy
//   25   flags (bit 1: directory, bit 7: more records of this file follow)
//   32   identifier length
//   33   identifier
enum {
    REC_LEN = 0,
    REC_LBA = 2,
    REC_SIZE = 10,
    REC_FLAGS = 25,
    REC_ID_LEN = 32,
    REC_ID = 33,
    REC_FLAG_DIR = 2,
    REC_FLAG_MORE = 0x80, // not the last record of a file in several extents
};

static uint32_t le32(const unsigned char *b)
{
    return (uint32_t)b[0] | (uint32_t)b[1] << 8 | (uint32_t)b[2] << 16 | (uint32_t)b[3] << 24;
}

int iso_parse_pvd(const unsigned char *sector, uint32_t *root_lba, uint32_t *root_size)
{
    if (sector[PVD_TYPE] != 1 || memcmp(sector + PVD_ID, "CD001", 5) != 0)
        return 0;
    *root_lba = le32(sector + PVD_ROOT_LBA);
    *root_size = le32(sector + PVD_ROOT_SIZE);
    return 1;
}

uint64_t iso_sectors(uint64_t size)
{
    return size / ISO_SECTOR + (size % ISO_SECTOR != 0);
}

void iso_clean_name(const unsigned char *id, size_t n, char *out)
{
    size_t k = 0;
    while (k < n && k < 63 && id[k] != ';') {
        out[k] = (char)id[k];
        k++;
    }
    // A file without extension is stored as "NAME.;1".
    if (k > 0 && out[k - 1] == '.')
        k--;
    out[k] = 0;
}

int iso_name_unsafe(const char *name)
{
    if (!name[0] || name_reserved(name, strlen(name)))
        return 1;
    for (const unsigned char *s = (const unsigned char *)name; *s; s++) {
        if (*s < 0x20 || strchr("\\/:*?\"<>|", *s))
            return 1;
    }
    return 0;
}

static int append_entry(IsoEntry **list, int *count, int *room, const unsigned char *rec)
{
    if (*count == *room) {
        IsoEntry *grown = (IsoEntry *)realloc(*list, sizeof(IsoEntry) * (size_t)*room * 2);
        if (!grown)
            return 0;
        *list = grown;
        *room *= 2;
    }
    IsoEntry *e = &(*list)[(*count)++];
    iso_clean_name(rec + REC_ID, rec[REC_ID_LEN], e->name);
    e->lba = le32(rec + REC_LBA);
    e->size = le32(rec + REC_SIZE);
    e->directory = (rec[REC_FLAGS] & REC_FLAG_DIR) != 0;
    e->more = (rec[REC_FLAGS] & REC_FLAG_MORE) != 0;
    return 1;
}

IsoEntry *iso_parse_dir(const unsigned char *buf, size_t buf_len, uint32_t size, int *count)
{
    int room = 64;
    IsoEntry *list = (IsoEntry *)malloc(sizeof(IsoEntry) * (size_t)room);
    *count = 0;
    if (!list)
        return NULL;
    size_t end = size < buf_len ? size : buf_len;
    size_t p = 0;
    while (p < end) {
        size_t left = ISO_SECTOR - p % ISO_SECTOR; // bytes to the end of this sector
        if (left > buf_len - p)
            left = buf_len - p;
        const unsigned char *rec = buf + p;
        size_t len = rec[REC_LEN];
        // A record never crosses a sector; one that would, or whose
        // identifier outgrows it, is damaged: go on with the next sector.
        if (len == 0 || len < REC_ID || len > left || rec[REC_ID_LEN] > len - REC_ID) {
            p += left;
            continue;
        }
        int self_or_parent = rec[REC_ID_LEN] == 1 && rec[REC_ID] <= 1;
        if (!self_or_parent && !append_entry(&list, count, &room, rec)) {
            free(list);
            *count = 0;
            return NULL;
        }
        p += len;
    }
    return list;
}

int iso_file_records(const IsoEntry *list, int count, int i, uint64_t *size)
{
    uint64_t total = 0;
    if (list[i].directory) {
        *size = list[i].size;
        return 1;
    }
    for (int k = i; k < count; k++) {
        const IsoEntry *e = &list[k];
        if (e->directory || strcmp(e->name, list[i].name) != 0)
            return 0;
        total += e->size;
        if (!e->more) {
            *size = total;
            return k - i + 1;
        }
    }
    return 0;
}

void cd_normalise(char *path, size_t size)
{
    size_t n = strlen(path);
    if (n > 3) {
        while (n > 3 && (path[n - 1] == '\\' || path[n - 1] == '/'))
            path[--n] = 0;
    } else if (n == 2 && path[1] == ':' && size > 3) {
        path[2] = '\\';
        path[3] = 0;
    }
}

int cue_is_sheet(const char *path)
{
    const char *dot = strrchr(path, '.');
    if (!dot)
        return 0;
    const char *cue = ".cue";
    for (int i = 0; i < 5; i++) {
        char c = dot[i];
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
        if (c != cue[i])
            return 0;
    }
    return 1;
}

int cue_image_path(const char *cue_path, const char *text, char *out, size_t out_size)
{
    const char *file = strstr(text, "FILE");
    const char *open = file ? strchr(file, '"') : NULL;
    const char *close = open ? strchr(open + 1, '"') : NULL;
    if (!close)
        return 0;
    const char *name = open + 1;
    size_t name_len = (size_t)(close - name);
    // A name with a drive letter stands alone; otherwise it lies beside the sheet.
    size_t folder_len = 0;
    if (!memchr(name, ':', name_len)) {
        const char *slash = strrchr(cue_path, '\\');
        folder_len = slash ? (size_t)(slash - cue_path) + 1 : 0;
    }
    if (out_size == 0 || folder_len >= out_size || name_len >= out_size - folder_len)
        return 0;
    memmove(out, cue_path, folder_len);
    memcpy(out + folder_len, name, name_len);
    out[folder_len + name_len] = 0;
    return 1;
}
