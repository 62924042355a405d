// Fuzzes the raw sector checks. The input is a 6-byte head, then the run:
//   0  layout: 0 = 2,352 bytes, 1 = 2,448, 2 = 2,336, other = a size no
//      image has (the run must then fail at its first sector)
//   1  bits 0-1: the track's mode; bit 2: ask for one sector more than the
//      run holds, so that the last one is cut short
//   2  4 bytes: the first sector's address, little-endian
// The run is checked in a buffer of its own size, so that reading past it
// trips, and the answer is held against the checks of single sectors and
// against a bit-by-bit EDC.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "cdsrc/sector.h"

static uint32_t sizes[] = {SECTOR_RAW, SECTOR_RAW_SUB, SECTOR_MODE2_BARE, 2048};

// The EDC one bit at a time, as the polynomial defines it.
static uint32_t edc_bitwise(const unsigned char *p, size_t n)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < n; i++) {
        crc ^= p[i];
        for (int b = 0; b < 8; b++)
            crc = (crc & 1) ? (crc >> 1) ^ 0xD8018001u : crc >> 1;
    }
    return crc;
}

static int check_one(const unsigned char *s, uint32_t size, uint32_t address, int mode)
{
    return size == SECTOR_MODE2_BARE ? sector_check_bare(s) : sector_check(s, address, mode);
}

static void check_run(const unsigned char *run, size_t len, uint32_t size, uint32_t k, uint32_t address, int mode)
{
    SectorRunCheck out;
    memset(&out, 0xA5, sizeof out);
    int ok = sector_check_run(run, len, k, size, address, mode, &out);
    if (ok != 0 && ok != 1)
        abort();
    if (ok ? (out.bad != k || out.result != SECTOR_OK) : (out.bad >= k || sector_passes(out.result)))
        abort();
    if (size == 2048 && k > 0 && (ok || out.bad != 0 || out.result != SECTOR_CUT_SHORT))
        abort();
    // Every sector before the bad one passes on its own, and those without
    // an EDC are the ones counted.
    uint32_t unchecked = 0;
    for (uint32_t i = 0; size != 2048 && i < out.bad; i++) {
        int r = check_one(run + (size_t)i * size, size, address + i, mode);
        if (!sector_passes(r))
            abort();
        unchecked += r == SECTOR_UNCHECKED;
    }
    if (unchecked != out.unchecked)
        abort();
    if (!ok && out.result != SECTOR_CUT_SHORT &&
        check_one(run + (size_t)out.bad * size, size, address + out.bad, mode) != out.result)
        abort();
}

static void check_base(const unsigned char *run, size_t len, uint32_t size, int mode)
{
    uint32_t base = 0xDEADBEEF;
    if (!sector_find_base(run, len, size, mode, &base))
        return;
    if (size == SECTOR_MODE2_BARE) {
        if (base != 0)
            abort();
        return;
    }
    uint32_t frames;
    if (!msf_read(run + SECTOR_HEADER, &frames) || frames != base + 16 ||
        !sector_passes(sector_check(run, base + 16, mode)))
        abort();
}

static void check_msf(uint32_t address)
{
    unsigned char bcd[3];
    uint32_t back;
    if (msf_write(address, bcd) != (address < SECTOR_MSF_LIMIT))
        abort();
    if (address < SECTOR_MSF_LIMIT && (!msf_read(bcd, &back) || back != address))
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    uint32_t sector_size = sizes[data[0] < 3 ? data[0] : 3];
    int mode = data[1] & 3;
    uint32_t address;
    memcpy(&address, data + 2, 4);
    size_t len = size - 6;
    unsigned char *run = (unsigned char *)malloc(len ? len : 1);
    memcpy(run, data + 6, len);
    uint32_t k = (uint32_t)(len / sector_size) + ((data[1] >> 2) & 1);
    check_run(run, len, sector_size, k, address, mode);
    check_base(run, len, sector_size, mode);
    check_msf(address);
    size_t n = len < 4096 ? len : 4096;
    if (cd_edc(run, n) != edc_bitwise(run, n))
        abort();
    free(run);
    return 0;
}
