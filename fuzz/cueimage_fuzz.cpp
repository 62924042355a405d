// Fuzzes a cue sheet together with the image it names, the way the CD
// sources open one: the input is the sheet's text up to its first NUL byte,
// then the image file's bytes. The sheet gives the data track's start; the
// layouts are probed from there (and from the file's start when nothing is
// found there), and the root directory is read in the layout found, one
// run of stored sectors at a time, as the reader fetches them from a file.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "cdsrc/isoparse.h"

enum { RUN_SECTORS = 32 };

struct MemImage {
    const uint8_t *bytes;
    size_t size;
    uint64_t start;
    IsoLayout layout;
};

static void check_sheet(const char *text, size_t len, CueImage *img, int *named)
{
    *named = cue_parse(text, len, img);
    if (*named) {
        // The name lies inside the text and is usable as a path part.
        if (img->name < text || img->name_len == 0 || img->name_len > len ||
            (size_t)(img->name - text) > len - img->name_len || memchr(img->name, 0, img->name_len))
            abort();
    }
    static const char *const sheets[] = {"C:\\img\\a.cue", "C:/img/a.cue", "a.cue", "C:a.cue"};
    for (const char *sheet : sheets) {
        char out[520];
        uint64_t start = 0;
        int r = cue_image_path(sheet, text, len, out, sizeof out, &start);
        int allowed = *named && cue_name_allowed(img->name, img->name_len);
        if (r != allowed && strlen(sheet) + (allowed ? img->name_len : 0) < sizeof out)
            abort();
        // No sheet leads to a UNC or device path, or to a stream.
        if (r && ((out[0] == '\\' || out[0] == '/') && (out[1] == '\\' || out[1] == '/')))
            abort();
        if (r && strchr(out, ':') && strchr(out, ':') != out + 1)
            abort();
        if (r && (strlen(out) >= sizeof out || start != img->start))
            abort();
    }
    char path[520];
    size_t n = len < sizeof path - 1 ? len : sizeof path - 1;
    memcpy(path, text, n);
    path[n] = 0;
    char data[520];
    if (dump_data_path(path, data, sizeof data) && strlen(data) != strlen(path))
        abort();
}

// Stored sectors the image holds whole in its layout, as the reader counts them.
static uint64_t image_sectors(const MemImage *m)
{
    uint64_t need = (uint64_t)m->layout.data_offset + ISO_SECTOR;
    if (m->size < m->start || m->size - m->start < need)
        return 0;
    return (m->size - m->start - need) / m->layout.sector_size + 1;
}

static int read_sectors(const MemImage *m, uint32_t lba, uint32_t count, unsigned char *out)
{
    static unsigned char raw[RUN_SECTORS * ISO_RAW_MAX];
    for (uint32_t i = 0; i < count;) {
        uint32_t k = count - i < RUN_SECTORS ? count - i : RUN_SECTORS;
        uint64_t pos = m->start + ((uint64_t)lba + i) * m->layout.sector_size + m->layout.data_offset;
        size_t want = (size_t)(k - 1) * m->layout.sector_size + ISO_SECTOR;
        if (pos > m->size || m->size - pos < want)
            return 0;
        memcpy(raw, m->bytes + pos, want);
        iso_unpack_run(raw, k, m->layout.sector_size, out + (size_t)i * ISO_SECTOR);
        i += k;
    }
    return 1;
}

static int probe(MemImage *m, uint64_t start, uint32_t *root_lba, uint32_t *root_size)
{
    size_t len = 0;
    const uint8_t *head = m->bytes;
    if (start < m->size) {
        head = m->bytes + start;
        len = m->size - (size_t)start;
    }
    if (len > ISO_PROBE_BYTES)
        len = ISO_PROBE_BYTES;
    int i = iso_find_layout(head, len, root_lba, root_size);
    if (i < 0)
        return 0;
    if (i >= ISO_LAYOUT_COUNT)
        abort();
    m->layout = iso_layouts[i];
    m->start = start;
    return 1;
}

static void list_root(const MemImage *m, uint32_t lba, uint32_t size)
{
    uint64_t have = image_sectors(m);
    uint64_t sectors = iso_sectors(size);
    if (lba > have || sectors > have - lba)
        return; // past the end of the image: refused before allocating
    size_t len = (size_t)(sectors * ISO_SECTOR);
    unsigned char *buf = (unsigned char *)malloc(len ? len : 1);
    if (buf && read_sectors(m, lba, (uint32_t)sectors, buf)) {
        int count = -1;
        IsoEntry *list = iso_parse_dir(buf, len, size, &count);
        if (!list || count < 0)
            abort();
        for (int i = 0; i < count; i++)
            iso_name_unsafe(list[i].name);
        free(list);
    }
    free(buf);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t *nul = (const uint8_t *)memchr(data, 0, size);
    size_t text_len = nul ? (size_t)(nul - data) : size;
    // The sheet's text in a buffer of its own, so that reading past it trips.
    char *text = (char *)malloc(text_len ? text_len : 1);
    memcpy(text, data, text_len);
    CueImage img;
    int named;
    check_sheet(text, text_len, &img, &named);
    free(text);

    MemImage m;
    memset(&m, 0, sizeof m);
    m.size = nul ? size - text_len - 1 : 0;
    uint8_t *bytes = (uint8_t *)malloc(m.size ? m.size : 1);
    memcpy(bytes, nul ? nul + 1 : data, m.size);
    m.bytes = bytes;
    uint64_t start = named ? img.start : 0;
    uint32_t root_lba, root_size;
    if (probe(&m, start, &root_lba, &root_size) || (start != 0 && probe(&m, 0, &root_lba, &root_size)))
        list_root(&m, root_lba, root_size);
    free(bytes);
    return 0;
}
