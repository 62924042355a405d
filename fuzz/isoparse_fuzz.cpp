// Fuzzes the ISO 9660 and cue sheet parsing of the CD sources: directory
// records over a buffer of whole sectors with nothing after it, the volume
// descriptor, source path normalising and the cue sheet's FILE entry.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "cdsrc/isoparse.h"

static void check_dir(const uint8_t *data, size_t size)
{
    if (size < 4)
        return;
    uint32_t dir_size;
    memcpy(&dir_size, data, 4);
    size_t len = (size - 4 + ISO_SECTOR - 1) / ISO_SECTOR * ISO_SECTOR;
    unsigned char *buf = (unsigned char *)calloc(len ? len : 1, 1);
    memcpy(buf, data + 4, size - 4);
    int count = -1;
    IsoEntry *list = iso_parse_dir(buf, len, dir_size, &count);
    if (!list || count < 0)
        abort();
    for (int i = 0; i < count; i++) {
        if (memchr(list[i].name, 0, sizeof list[i].name) == NULL || strlen(list[i].name) > 63)
            abort();
        iso_name_unsafe(list[i].name);
        // A file's records stay inside the listing and share its name.
        uint64_t whole = 0;
        int records = iso_file_records(list, count, i, &whole);
        if (records < 0 || records > count - i)
            abort();
        for (int k = 1; k < records; k++) {
            if (strcmp(list[i + k].name, list[i].name) != 0 || !list[i + k - 1].more)
                abort();
        }
    }
    free(list);
    free(buf);
}

static void check_text(const uint8_t *data, size_t size)
{
    char *text = (char *)malloc(size + 1);
    memcpy(text, data, size);
    text[size] = 0;
    char path[520];
    size_t n = size < sizeof path - 1 ? size : sizeof path - 1;
    memcpy(path, data, n);
    path[n] = 0;
    cd_normalise(path, sizeof path);
    cue_is_sheet(path);
    char out[520];
    uint64_t start;
    if (cue_image_path(path, text, size, out, sizeof out, &start) && strlen(out) >= sizeof out)
        abort();
    free(text);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    check_dir(data, size);
    check_text(data, size);
    if (size >= ISO_SECTOR) {
        unsigned char *sector = (unsigned char *)malloc(ISO_SECTOR);
        memcpy(sector, data, ISO_SECTOR);
        uint32_t lba, len;
        iso_parse_pvd(sector, &lba, &len);
        free(sector);
    }
    return 0;
}
