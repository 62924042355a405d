// Reflected CRCs computed eight bytes a step, CRC-32 (IEEE 802.3, polynomial
// 0xEDB88320) among them. Pure computation: no system calls, so the native
// fuzz and sanitizer builds can use it too.
#include "util/util.h"

static CrcSlices crc_tab;

// Slice 0 is the classic byte-at-a-time table; slice k holds what a byte
// contributes when k more zero bytes follow it, so that the eight bytes of
// one step are looked up independently and combined with XOR.
void crc_build_slices(CrcSlices tab, uint32_t poly)
{
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ poly : c >> 1;
        tab[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; i++) {
        for (int k = 1; k < 8; k++)
            tab[k][i] = (tab[k - 1][i] >> 8) ^ tab[0][tab[k - 1][i] & 0xFF];
    }
}

static uint32_t get32le(const unsigned char *p)
{
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

uint32_t crc_update(const CrcSlices tab, uint32_t crc, const unsigned char *data, uint64_t len)
{
    for (; len >= 8; data += 8, len -= 8) {
        uint32_t lo = get32le(data) ^ crc, hi = get32le(data + 4);
        crc = tab[7][lo & 0xFF] ^ tab[6][(lo >> 8) & 0xFF] ^ tab[5][(lo >> 16) & 0xFF] ^ tab[4][lo >> 24] ^
              tab[3][hi & 0xFF] ^ tab[2][(hi >> 8) & 0xFF] ^ tab[1][(hi >> 16) & 0xFF] ^ tab[0][hi >> 24];
    }
    for (; len > 0; data++, len--)
        crc = (crc >> 8) ^ tab[0][(crc ^ *data) & 0xFF];
    return crc;
}

uint32_t crc32_buf(const void *data, uint64_t len)
{
    // Entry 0 of the built table is 0, entry 1 never is.
    if (crc_tab[0][1] == 0)
        crc_build_slices(crc_tab, 0xEDB88320u);
    if (len == 0)
        return 0;
    return ~crc_update(crc_tab, 0xFFFFFFFFu, (const unsigned char *)data, len);
}
