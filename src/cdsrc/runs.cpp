// Reading runs of an image's sectors, and checking raw ones as they come:
// each stored sector's sync pattern, header address and mode, and its EDC.
// Every read of an image's sectors goes through here, with the handle and
// layout it is given, so that damage shows the same way whoever reads.
#include <windows.h>

#include <string.h>

#include "cdsrc/cdinternal.h"
#include "cdsrc/sector.h"

ImageRead image_read_of(const CdSource *src)
{
    ImageRead r;
    r.image = src->image;
    r.track_start = src->track_start;
    r.sector_size = src->sector_size;
    r.data_offset = src->data_offset;
    r.check = src->check;
    r.base = src->check_base;
    return r;
}

// The bytes from a sector's start that hold all it is checked by.
static uint32_t checked_bytes(int check)
{
    return check == IMAGE_CHECK_BARE ? SECTOR_MODE2_BARE : SECTOR_RAW;
}

static int read_at(HANDLE h, uint64_t pos, unsigned char *buf, DWORD n, DWORD *got, unsigned long *error)
{
    LARGE_INTEGER to;
    to.QuadPart = (LONGLONG)pos;
    *got = 0;
    if (SetFilePointerEx(h, to, NULL, FILE_BEGIN) && ReadFile(h, buf, n, got, NULL))
        return 1;
    *error = GetLastError();
    return 0;
}

// The sectors of a run as stored, each checked. The last sector of an image
// may end after its data bytes, with its EDC cut off: the copy has always
// taken such a sector, and it goes unchecked.
static int check_run(const ImageRead *r, uint64_t lba, uint32_t k, const unsigned char *buf, DWORD got, uint64_t *bad)
{
    uint32_t whole = k;
    if ((uint64_t)got < (uint64_t)(k - 1) * r->sector_size + checked_bytes(r->check))
        whole = k - 1;
    SectorRunCheck c;
    int mode = r->check == IMAGE_CHECK_BARE ? 2 : r->check;
    if (whole == 0 || sector_check_run(buf, got, whole, r->sector_size, (uint32_t)(r->base + lba), mode, &c))
        return 1;
    *bad = lba + c.bad;
    return 0;
}

int image_read_run(const ImageRead *r, uint64_t lba, uint32_t k, unsigned char *buf, unsigned long *error,
                   uint64_t *bad)
{
    HANDLE h = (HANDLE)r->image;
    DWORD got = 0;
    if (r->sector_size == ISO_SECTOR) {
        DWORD n = k * ISO_SECTOR;
        if (!read_at(h, r->track_start + lba * ISO_SECTOR, buf, n, &got, error))
            return 0;
        if (got == n)
            return 1;
        *error = ERROR_HANDLE_EOF;
        return 0;
    }
    // Raw sectors are read from the first one's start when they are
    // checked, else from its data bytes; either way the read ends where
    // the sectors' data bytes do, or further.
    uint64_t first = r->track_start + lba * r->sector_size;
    DWORD need = (k - 1) * r->sector_size + r->data_offset + ISO_SECTOR;
    DWORD n = r->check ? (k - 1) * r->sector_size + checked_bytes(r->check) : need - r->data_offset;
    uint64_t pos = r->check ? first : first + r->data_offset;
    if (!read_at(h, pos, buf, n, &got, error))
        return 0;
    DWORD data_end = r->check ? need : need - r->data_offset;
    if (got < data_end) {
        *error = ERROR_HANDLE_EOF;
        return 0;
    }
    if (r->check && !check_run(r, lba, k, buf, got, bad)) {
        *error = ERROR_CRC;
        return -1;
    }
    iso_unpack_run(r->check ? buf + r->data_offset : buf, k, r->sector_size, buf);
    return 1;
}

// Where the volume's addresses start, from sector 16 as the probe read it.
// An image whose sector 16 does not pass its own check (a converter that
// wrote no sync or headers, or a damaged descriptor) is read unchecked, as
// before: it gives no address to check the others against.
void image_find_check(CdSource *src, const unsigned char *head, size_t len)
{
    src->check = 0;
    src->check_base = 0;
    if (src->sector_size == ISO_SECTOR)
        return;
    int check = src->sector_size == SECTOR_MODE2_BARE ? IMAGE_CHECK_BARE : src->data_offset == 16 ? 1 : 2;
    size_t at = (size_t)16 * src->sector_size;
    uint32_t base = 0;
    if (at > len || !sector_find_base(head + at, len - at, src->sector_size, check == IMAGE_CHECK_BARE ? 2 : check,
                                      &base))
        return;
    src->check = check;
    src->check_base = base;
}
