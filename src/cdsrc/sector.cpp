// Raw sector checks: sync, header and EDC, over memory buffers only.
#include "cdsrc/sector.h"

#include <string.h>

#include "util/util.h"

static const unsigned char sync_pattern[SECTOR_HEADER] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

// Where each form keeps its EDC, what it covers, and where the EDC and ECC
// area ends, all as offsets in a 2,352-byte sector. The 2,336-byte layout
// shifts them by 16.
struct EdcArea {
    uint32_t from;    // first byte covered
    uint32_t edc;     // the EDC's own offset; it covers from .. edc - 1
    uint32_t zero_to; // EDC and ECC end here: all zero when left out
};
static const EdcArea mode1_area = {0, SECTOR_M1_EDC, SECTOR_RAW};
static const EdcArea form1_area = {16, SECTOR_F1_EDC, SECTOR_RAW};
static const EdcArea form2_area = {16, SECTOR_F2_EDC, SECTOR_RAW};

// x^32+x^31+x^16+x^15+x^4+x^3+x+1, reflected
enum { EDC_POLY_REFLECTED = 0xD8018001u };

// A raw image's EDCs cover nearly every byte it holds, and the table does
// about 2 GB/s, a sixth of a copy's time; folding with carry-less
// multiplication, where the processor has it, is several times faster.
static CrcSlices edc_tab;
static CrcFold edc_fold;

int sector_passes(int result)
{
    return result == SECTOR_OK || result == SECTOR_UNCHECKED;
}

// Built as the program starts, before any thread could check a sector
// and find them half made.
__attribute__((constructor)) static void build_edc(void)
{
    crc_build_fold(&edc_fold, EDC_POLY_REFLECTED);
    crc_build_slices(edc_tab, EDC_POLY_REFLECTED);
}

uint32_t cd_edc(const unsigned char *data, size_t len)
{
    return crc_update_fold(edc_tab, &edc_fold, 0, data, len);
}

int bcd_value(unsigned char b)
{
    if ((b >> 4) > 9 || (b & 0x0F) > 9)
        return -1;
    return (b >> 4) * 10 + (b & 0x0F);
}

int msf_read(const unsigned char *bcd3, uint32_t *frames)
{
    int m = bcd_value(bcd3[0]), s = bcd_value(bcd3[1]), f = bcd_value(bcd3[2]);
    if (m < 0 || s < 0 || f < 0 || s >= 60 || f >= SECTOR_FRAMES_PER_SECOND)
        return 0;
    *frames = ((uint32_t)m * 60 + (uint32_t)s) * SECTOR_FRAMES_PER_SECOND + (uint32_t)f;
    return 1;
}

static unsigned char to_bcd(uint32_t n)
{
    return (unsigned char)((n / 10) << 4 | n % 10);
}

int msf_write(uint32_t frames, unsigned char *bcd3)
{
    if (frames >= SECTOR_MSF_LIMIT)
        return 0;
    bcd3[0] = to_bcd(frames / (60 * SECTOR_FRAMES_PER_SECOND));
    bcd3[1] = to_bcd(frames / SECTOR_FRAMES_PER_SECOND % 60);
    bcd3[2] = to_bcd(frames % SECTOR_FRAMES_PER_SECOND);
    return 1;
}

static uint32_t get32le(const unsigned char *p)
{
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

// 1 when bytes from .. to - 1 are all zero; eight at a time, as the area
// is a few hundred bytes in every sector of an image without EDCs.
static int all_zero(const unsigned char *p, size_t from, size_t to)
{
    uint64_t acc = 0;
    size_t i = from;
    for (; to - i >= 8; i += 8) {
        uint64_t w;
        memcpy(&w, p + i, 8);
        acc |= w;
    }
    for (; i < to; i++)
        acc |= p[i];
    return acc == 0;
}

// The EDC check of one form. shift is how many bytes of the 2,352-byte
// sector lie before this one's start: 16 for the 2,336-byte layout, which
// lacks sync and header. An EDC of zero with nothing but zeros after it was
// never written; a real EDC of zero still checks.
static int check_edc(const unsigned char *sector, const EdcArea *a, uint32_t shift)
{
    uint32_t from = a->from - shift, edc = a->edc - shift, end = a->zero_to - shift;
    uint32_t stored = get32le(sector + edc);
    if (stored == 0 && all_zero(sector, edc, end))
        return SECTOR_UNCHECKED;
    return cd_edc(sector + from, edc - from) == stored ? SECTOR_OK : SECTOR_BAD_EDC;
}

// The form of a Mode 2 sector from its subheader's submode byte.
static const EdcArea *mode2_area(unsigned char submode)
{
    return (submode & SECTOR_FORM2) ? &form2_area : &form1_area;
}

int sector_check(const unsigned char *sector, uint32_t address, int mode)
{
    uint32_t frames;
    if (memcmp(sector, sync_pattern, sizeof sync_pattern) != 0)
        return SECTOR_NO_SYNC;
    if (!msf_read(sector + SECTOR_HEADER, &frames) || frames != address)
        return SECTOR_WRONG_ADDRESS;
    if (sector[SECTOR_MODE] != mode || (mode != 1 && mode != 2))
        return SECTOR_WRONG_MODE;
    return check_edc(sector, mode == 1 ? &mode1_area : mode2_area(sector[SECTOR_SUBMODE]), 0);
}

int sector_check_bare(const unsigned char *sector)
{
    return check_edc(sector, mode2_area(sector[SECTOR_SUBMODE - 16]), 16);
}

int sector_find_base(const unsigned char *sector, size_t len, uint32_t sector_size, int mode, uint32_t *base)
{
    uint32_t frames;
    if (sector_size == SECTOR_MODE2_BARE) {
        *base = 0;
        return len >= SECTOR_MODE2_BARE && sector_passes(sector_check_bare(sector));
    }
    // A volume's sector 16 lies 16 frames or more after 00:00:00.
    if ((sector_size != SECTOR_RAW && sector_size != SECTOR_RAW_SUB) || len < SECTOR_RAW ||
        !msf_read(sector + SECTOR_HEADER, &frames) || frames < 16 || !sector_passes(sector_check(sector, frames, mode)))
        return 0;
    *base = frames - 16;
    return 1;
}

static int size_known(uint32_t sector_size)
{
    return sector_size == SECTOR_RAW || sector_size == SECTOR_RAW_SUB || sector_size == SECTOR_MODE2_BARE;
}

int sector_check_run(const unsigned char *run, size_t len, uint32_t k, uint32_t sector_size, uint32_t address, int mode,
                     SectorRunCheck *out)
{
    // Bytes that a sector of the layout needs: the sub-channel is not read.
    size_t need = sector_size == SECTOR_MODE2_BARE ? SECTOR_MODE2_BARE : SECTOR_RAW;
    out->unchecked = 0;
    for (uint32_t i = 0; i < k; i++) {
        size_t at = (size_t)i * sector_size;
        int r;
        if (!size_known(sector_size) || at > len || len - at < need)
            r = SECTOR_CUT_SHORT;
        else if (sector_size == SECTOR_MODE2_BARE)
            r = sector_check_bare(run + at);
        else
            r = sector_check(run + at, address + i, mode);
        if (!sector_passes(r)) {
            out->bad = i;
            out->result = r;
            return 0;
        }
        out->unchecked += r == SECTOR_UNCHECKED;
    }
    out->bad = k;
    out->result = SECTOR_OK;
    return 1;
}
