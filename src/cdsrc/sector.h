// The checks of raw sectors as an image stores them: sync pattern, header
// address and mode, and the EDC that the disc's mastering wrote into every
// data sector. An image made from a worn disc or a failing drive shows its
// damage here, where the 2,048 user bytes alone would copy without a sign.
// Pure computation over memory buffers: no system calls, no <windows.h>, so
// it builds natively, sanitized and fuzzed.
#pragma once
#include <stddef.h>
#include <stdint.h>

// A raw sector of 2,352 bytes (2,448 with 96 bytes of sub-channel after it):
//   0     12  sync pattern 00 FF FF FF FF FF FF FF FF FF FF 00
//   12    3   address: minute, second, frame, each in BCD
//   15    1   mode (1 or 2)
// Mode 1:
//   16    2048 user data
//   2064  4   EDC over bytes 0 .. 2063
//   2068  8   zero
//   2076  276 ECC (P and Q parity)
// Mode 2 (the subheader's submode, byte 18, has bit 0x20 set for Form 2):
//   16    8   subheader (file, channel, submode, coding, written twice)
//   24    2048 user data (Form 1) or 2324 (Form 2)
//   2072  4   Form 1: EDC over bytes 16 .. 2071, then 276 bytes of ECC
//   2348  4   Form 2: EDC over bytes 16 .. 2347; zero when not stored
// The 2,336-byte layout is a Mode 2 sector without its first 16 bytes.
enum {
    SECTOR_RAW = 2352,
    SECTOR_RAW_SUB = 2448,
    SECTOR_MODE2_BARE = 2336,
    SECTOR_HEADER = 12,
    SECTOR_MODE = 15,
    SECTOR_SUBMODE = 18,
    SECTOR_FORM2 = 0x20, // submode bit: Form 2
    SECTOR_M1_EDC = 2064,
    SECTOR_F1_EDC = 2072,
    SECTOR_F2_EDC = 2348,
    // Addresses count frames from 00:00:00, 75 a second; logical sector 0
    // of a disc lies at 00:02:00.
    SECTOR_FRAMES_PER_SECOND = 75,
    SECTOR_MSF_LIMIT = 100 * 60 * 75, // the first address three BCD bytes cannot hold
};

// What a stored sector's own bytes say of it. The first two pass.
enum {
    SECTOR_OK = 0,        // sync, address, mode and EDC all right
    SECTOR_UNCHECKED,     // EDC and ECC all zero: a converter left them out
    SECTOR_NO_SYNC,       // no sync pattern: all zeros is what a ripper writes
                          // for a sector it could not read
    SECTOR_WRONG_ADDRESS, // the header holds another sector's address
    SECTOR_WRONG_MODE,    // the header's mode is not its track's
    SECTOR_BAD_EDC,       // the EDC does not match the bytes it covers
    SECTOR_CUT_SHORT,     // a run's buffer ends inside the sector
};

// 1 for a result that passes: SECTOR_OK or SECTOR_UNCHECKED.
int sector_passes(int result);

// The CD-ROM EDC of len bytes: CRC-32 with the polynomial
// x^32+x^31+x^16+x^15+x^4+x^3+x+1 (reflected 0xD8018001), initial value 0
// and no final complement. The sector stores it little-endian.
uint32_t cd_edc(const unsigned char *data, size_t len);

// A BCD byte's value, or -1 when either digit is above 9.
int bcd_value(unsigned char b);
// Three BCD bytes minute, second, frame as frames from 00:00:00: 1 and
// *frames, or 0 when a byte is no BCD, the second is above 59 or the frame
// above 74.
int msf_read(const unsigned char *bcd3, uint32_t *frames);
// Writes frames (below SECTOR_MSF_LIMIT) as three BCD bytes; 0 and nothing
// written when three bytes cannot hold it.
int msf_write(uint32_t frames, unsigned char *bcd3);

// Checks one stored sector of a track of the given mode (1 or 2): sector
// holds at least 2,352 bytes from its sync pattern on (sub-channel bytes
// after them are not looked at); address is the frame its header must hold.
// Returns one of the results above, never SECTOR_CUT_SHORT.
int sector_check(const unsigned char *sector, uint32_t address, int mode);

// The same for a sector of the 2,336-byte layout (sector holds 2,336
// bytes), which has no sync or header to check: its EDC only, by the form
// that its subheader gives. An all-zero sector reads as one whose EDC was
// left out (SECTOR_UNCHECKED): in this layout it cannot be told from a
// converter's sector of zero bytes.
int sector_check_bare(const unsigned char *sector);

// Where a track's addresses start: sector 16's header holds the address of
// logical sector 16 of the volume, so logical sector n must hold
// n + *base, whatever pregap or track offset lies before it. sector is
// sector 16 as stored, len bytes of it, in a layout of sector_size (2352,
// 2448 or 2336) bytes and a track of the given mode. Returns 1 with *base
// when sector 16 itself passes its check at that address; 0 when its sync,
// header or EDC is wrong (a base read from it would be a guess). The
// 2,336-byte layout has no addresses: *base is 0.
int sector_find_base(const unsigned char *sector, size_t len, uint32_t sector_size, int mode, uint32_t *base);

// The first failing sector of a run, or how a run passed.
struct SectorRunCheck {
    uint32_t bad;       // index in the run of the first sector that fails; k when none does
    int result;         // its result (damage, or SECTOR_CUT_SHORT); SECTOR_OK when none fails
    uint32_t unchecked; // sectors before bad whose EDC and ECC were left out
};

// Checks k stored sectors in place, as one read of the image brings them:
// run holds len bytes from the first sector's sync pattern (its header, for
// the 2,336-byte layout) on, sectors sector_size bytes apart (2352, 2448 or
// 2336); the first one must hold the address `address`, each next one the
// address after. mode is the track's (1 or 2; not looked at for 2336). The
// copy reads up to 512 sectors at a time: the check goes through each once,
// in order, and stops at the first that fails. Returns 1 when all k pass
// (out->bad is k), else 0 with out->bad and out->result. A sector that len
// does not hold whole fails as SECTOR_CUT_SHORT; an unknown sector_size
// fails the first sector so. out is the caller's.
//
// For an image reader that stores data_offset bytes before each sector's
// 2,048 data bytes: the track's mode is 1 for data_offset 16 and 2 for 24;
// the run is read from the first sector's own start (track start + lba *
// sector_size), (k - 1) * sector_size + 2,352 bytes of it (2,336 for that
// layout), and its data bytes are then unpacked from run + data_offset; the
// address of logical sector lba is lba + the base of sector_find_base.
int sector_check_run(const unsigned char *run, size_t len, uint32_t k, uint32_t sector_size, uint32_t address, int mode,
                     SectorRunCheck *out);
