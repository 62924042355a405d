// The raw sector checks against sectors whose EDCs crcmod computed: the
// Mode 1 sample image disc1-edc.bin (tools/media/images.py) and the Mode 2
// sectors of edc_sectors.py, each whole and with the damage that worn
// discs, failing drives and rippers leave.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "cdsrc/cdinternal.h"
#include "cdsrc/sector.h"
#include "testsupport.h"

namespace {

const size_t RAW = 2352;
const uint32_t BASE = 150; // logical sector 0 lies at 00:02:00

std::string fixture(const std::string &name)
{
    return slurp(build_path("cdsrc-fixtures\\" + name));
}

std::string edc_image()
{
    static std::string image = slurp(media_path("disc1-edc.bin"));
    return image;
}

std::string raw_sector(const std::string &image, size_t i)
{
    return image.substr(i * RAW, RAW);
}

const unsigned char *bytes(const std::string &s)
{
    return (const unsigned char *)s.data();
}

// A change to a sector: a byte set, or a range zeroed.
struct Damage {
    const char *what;
    size_t at, to; // bytes at .. to - 1 zeroed; when to is 0, byte at set to value
    unsigned char value;
    int mode;
    int result;
};
// Byte 0 set to the 0 it holds: the sector as it is.
const size_t NONE = 0;

std::string damaged(std::string s, const Damage &d)
{
    if (d.to)
        memset(&s[d.at], 0, d.to - d.at);
    else
        s[d.at] = (char)d.value;
    return s;
}

} // namespace

TEST(Sector, EdcOfTheCheckString)
{
    // The catalogued check value of this CRC: "123456789".
    EXPECT_EQ(0x6EC2EDC4u, cd_edc((const unsigned char *)"123456789", 9));
    EXPECT_EQ(0u, cd_edc(nullptr, 0));
}

// The EDC one bit at a time, as its polynomial defines it.
static uint32_t edc_by_bits(const unsigned char *p, size_t n)
{
    uint32_t crc = 0;
    for (size_t i = 0; i < n; i++) {
        crc ^= p[i];
        for (int b = 0; b < 8; b++)
            crc = (crc & 1) ? (crc >> 1) ^ 0xD8018001u : crc >> 1;
    }
    return crc;
}

// Every length and alignment, through the table for short runs and 16
// bytes at a time for long ones, where the processor can.
TEST(Sector, EdcOfEveryLength)
{
    std::string two = raw_sector(edc_image(), 20) + raw_sector(edc_image(), 21);
    const unsigned char *p = bytes(two);
    for (size_t off = 0; off < 4; off += 3) {
        for (size_t n = 0; n <= 2400; n++)
            ASSERT_EQ(edc_by_bits(p + off, n), cd_edc(p + off, n)) << n << " bytes from " << off;
    }
}

TEST(Sector, MsfAddresses)
{
    struct Case {
        uint32_t frames;
        unsigned char bcd[3];
    } cases[] = {
        {0, {0x00, 0x00, 0x00}},       {150, {0x00, 0x02, 0x00}},    {166, {0x00, 0x02, 0x16}},
        {4499, {0x00, 0x59, 0x74}},    {4500, {0x01, 0x00, 0x00}},   {12345 + 150, {0x02, 0x46, 0x45}},
        {449999, {0x99, 0x59, 0x74}},
    };
    for (const Case &c : cases) {
        unsigned char out[3] = {0xEE, 0xEE, 0xEE};
        uint32_t back = 0;
        EXPECT_EQ(1, msf_write(c.frames, out)) << c.frames;
        EXPECT_EQ(0, memcmp(out, c.bcd, 3)) << c.frames;
        EXPECT_EQ(1, msf_read(c.bcd, &back)) << c.frames;
        EXPECT_EQ(c.frames, back);
    }
    unsigned char out[3] = {0xEE, 0xEE, 0xEE};
    EXPECT_EQ(0, msf_write(450000, out));
    EXPECT_EQ(0xEE, out[0]);
    const unsigned char wrong[][3] = {{0x0A, 0, 0}, {0, 0x60, 0}, {0, 0, 0x75}, {0, 0x1F, 0}, {0xA0, 0, 0}};
    for (const auto &w : wrong) {
        uint32_t frames = 7;
        EXPECT_EQ(0, msf_read(w, &frames));
        EXPECT_EQ(7u, frames);
    }
}

// Every sector of the image passes, checked in runs as a copy reads them:
// with its EDC where crcmod wrote one, as unchecked where the converter
// left EDC and ECC out.
TEST(Sector, WholeImagesPass)
{
    struct Case {
        const char *file;
        int unchecked; // every sector lacks its EDC
    } cases[] = {{"disc1-edc.bin", 0}, {"disc1-m1.bin", 1}};
    for (const Case &c : cases) {
        std::string image = slurp(media_path(c.file));
        ASSERT_EQ(0u, image.size() % RAW);
        uint32_t count = (uint32_t)(image.size() / RAW), base = 0;
        ASSERT_EQ(1, sector_find_base(bytes(image) + 16 * RAW, RAW, RAW, 1, &base)) << c.file;
        EXPECT_EQ(BASE, base);
        uint32_t unchecked = 0;
        for (uint32_t lba = 0; lba < count; lba += RUN_SECTORS) {
            uint32_t k = count - lba < (uint32_t)RUN_SECTORS ? count - lba : (uint32_t)RUN_SECTORS;
            SectorRunCheck run;
            const unsigned char *at = bytes(image) + (size_t)lba * RAW;
            ASSERT_EQ(1, sector_check_run(at, (size_t)k * RAW, k, RAW, lba + base, 1, &run))
                << c.file << " sector " << lba + run.bad << ": " << run.result;
            EXPECT_EQ(k, run.bad);
            unchecked += run.unchecked;
        }
        EXPECT_EQ(c.unchecked ? count : 0, unchecked) << c.file;
    }
}

// One Mode 1 sector of the image, whole and in the ways it can be wrong.
TEST(Sector, Mode1Damage)
{
    const uint32_t lba = 20;
    std::string whole = raw_sector(edc_image(), lba);
    const Damage cases[] = {
        {"whole", NONE, 0, 0, 1, SECTOR_OK},
        {"one data byte", 16 + 1000, 0, (unsigned char)(whole[16 + 1000] ^ 0x01), 1, SECTOR_BAD_EDC},
        {"last byte the EDC covers", 2063, 0, (unsigned char)(whole[2063] ^ 0x80), 1, SECTOR_BAD_EDC},
        {"the EDC itself", 2064, 0, (unsigned char)(whole[2064] ^ 0x01), 1, SECTOR_BAD_EDC},
        {"zeroed, as a ripper writes it", 0, RAW, 0, 1, SECTOR_NO_SYNC},
        {"a sync byte", 5, 0, 0xFE, 1, SECTOR_NO_SYNC},
        {"another sector's address", 14, 0, 0x21, 1, SECTOR_WRONG_ADDRESS},
        {"an address that is no BCD", 13, 0, 0x0A, 1, SECTOR_WRONG_ADDRESS},
        {"mode byte 2", 15, 0, 2, 1, SECTOR_WRONG_MODE},
        {"checked as a Mode 2 track's", NONE, 0, 0, 2, SECTOR_WRONG_MODE},
        {"EDC and ECC left out", 2064, RAW, 0, 1, SECTOR_UNCHECKED},
        {"EDC zeroed, ECC never written", 2064, 2068, 0, 1, SECTOR_UNCHECKED},
    };
    for (const Damage &d : cases) {
        std::string s = damaged(whole, d);
        EXPECT_EQ(d.result, sector_check(bytes(s), lba + BASE, d.mode)) << d.what;
    }
    // The fixture's ECC is zero; a sector whose EDC alone is zero but whose
    // ECC was written still has its EDC checked.
    std::string with_ecc = whole;
    memset(&with_ecc[2064], 0, 4);
    with_ecc[2300] = 0x5A;
    EXPECT_EQ(SECTOR_BAD_EDC, sector_check(bytes(with_ecc), lba + BASE, 1));
}

// Mode 2 sectors: the form comes from the subheader, and each form's EDC
// covers its own bytes.
TEST(Sector, Mode2Forms)
{
    std::string raw = fixture("mode2-edc.bin"), bare = fixture("mode2-edc-2336.bin");
    ASSERT_EQ(3 * RAW, raw.size());
    ASSERT_EQ(3 * 2336u, bare.size());
    struct Case {
        const char *what;
        size_t sector;
        Damage d;
    } cases[] = {
        {"Form 1", 0, {"", NONE, 0, 0, 2, SECTOR_OK}},
        {"Form 2", 1, {"", NONE, 0, 0, 2, SECTOR_OK}},
        {"Form 2 without its EDC", 2, {"", NONE, 0, 0, 2, SECTOR_UNCHECKED}},
        {"Form 1, a data byte", 0, {"", 24 + 7, 0, 0x00, 2, SECTOR_BAD_EDC}},
        {"Form 1, a subheader byte", 0, {"", 16, 0, 0x01, 2, SECTOR_BAD_EDC}},
        {"Form 2, a data byte past Form 1's end", 1, {"", 2200, 0, 0x00, 2, SECTOR_BAD_EDC}},
        {"Form 2 read as Form 1", 1, {"", 18, 0, 0x08, 2, SECTOR_BAD_EDC}},
        {"Form 1 in a Mode 1 track", 0, {"", NONE, 0, 0, 1, SECTOR_WRONG_MODE}},
        {"Form 1, EDC and ECC left out", 0, {"", 2072, RAW, 0, 2, SECTOR_UNCHECKED}},
    };
    for (const Case &c : cases) {
        std::string s = damaged(raw.substr(c.sector * RAW, RAW), c.d);
        EXPECT_EQ(c.d.result, sector_check(bytes(s), 166 + (uint32_t)c.sector, c.d.mode)) << c.what;
        // The same sector without sync and header: its EDC alone is checked.
        if (c.d.mode == 2) {
            std::string b = s.substr(16);
            EXPECT_EQ(c.d.result, sector_check_bare(bytes(b))) << c.what << " (2336)";
        }
    }
    std::string zeros(2336, '\0');
    EXPECT_EQ(SECTOR_UNCHECKED, sector_check_bare(bytes(zeros)));
    SectorRunCheck run;
    EXPECT_EQ(1, sector_check_run(bytes(bare), bare.size(), 3, 2336, 0, 2, &run));
    EXPECT_EQ(1u, run.unchecked);
    EXPECT_EQ(1, sector_check_run(bytes(raw), raw.size(), 3, RAW, 166, 2, &run));
}

// The sectors of one file, read in one run as the copy reads them, with
// the damage in its third sector: the run names that sector and why.
TEST(Sector, RunOfAFileNamesItsBadSector)
{
    CdSource *src = cd_open(media_path("disc1-edc.cue").c_str());
    ASSERT_TRUE(src != nullptr);
    IsoEntry e;
    ASSERT_EQ(1, iso_find(src, "TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV", &e));
    cd_close(src);
    uint32_t k = (uint32_t)iso_sectors(e.size);
    ASSERT_GT(k, 3u);
    std::string file = edc_image().substr((size_t)e.lba * RAW, (size_t)k * RAW);
    struct Case {
        const char *what;
        Damage d;
    } cases[] = {
        {"a data byte changed", {"", 2 * RAW + 16 + 512, 0, (unsigned char)(file[2 * RAW + 16 + 512] ^ 0x40), 1,
                                 SECTOR_BAD_EDC}},
        {"zeroed as a ripper writes it", {"", 2 * RAW, 3 * RAW, 0, 1, SECTOR_NO_SYNC}},
    };
    for (const Case &c : cases) {
        std::string s = damaged(file, c.d);
        SectorRunCheck run;
        EXPECT_EQ(0, sector_check_run(bytes(s), s.size(), k, RAW, e.lba + BASE, 1, &run)) << c.what;
        EXPECT_EQ(2u, run.bad) << c.what;
        EXPECT_EQ(c.d.result, run.result) << c.what;
    }
    // Checked from the wrong place, the first sector's address is wrong.
    SectorRunCheck run;
    EXPECT_EQ(0, sector_check_run(bytes(file), file.size(), k, RAW, e.lba + BASE + 1, 1, &run));
    EXPECT_EQ(0u, run.bad);
    EXPECT_EQ(SECTOR_WRONG_ADDRESS, run.result);
}

// A copy of the image that meets a damaged sector stops, and the source
// keeps the sector and where on the disc it lies: the file, the folder
// whose listing it holds, or "" for the root folder, by its path below the
// disc's root whatever folder the copy went to.
TEST(Sector, ACopyNamesWhereOnTheDiscTheDamageLies)
{
    CdSource *src = cd_open(media_path("disc1-edc.cue").c_str());
    ASSERT_TRUE(src != nullptr);
    IsoEntry file, folder;
    ASSERT_EQ(1, iso_find(src, "TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV", &file));
    ASSERT_EQ(1, iso_find(src, "TARNOK\\DISK1\\MUSIC", &folder));
    uint32_t root = src->root_lba;
    cd_close(src);
    struct Case {
        const char *what;
        uint32_t lba;
        const char *in;
    } cases[] = {
        {"a file", file.lba + 2, "TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV"},
        {"a folder's listing", folder.lba, "TARNOK\\DISK1\\MUSIC"},
        {"the root folder's listing", root, ""},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::string base = scratch(std::to_string(n++));
        std::string image = edc_image();
        image[(size_t)c.lba * RAW + 16 + 100] ^= 0x01;
        spit(base + "\\disc1-edc.bin", image);
        spit(base + "\\disc1-edc.cue", slurp(media_path("disc1-edc.cue")));
        src = cd_open((base + "\\disc1-edc.cue").c_str());
        ASSERT_TRUE(src != nullptr);
        Progress p = {};
        EXPECT_EQ(0, cd_copy_all(src, (base + "\\copy").c_str(), &p));
        uint64_t lba = 0;
        const char *in = nullptr;
        EXPECT_EQ(1, cd_damage(src, &lba, &in));
        EXPECT_EQ(c.lba, lba);
        EXPECT_STREQ(c.in, in ? in : "(none)");
        cd_close(src);
    }
}

// Sectors with 96 bytes of sub-channel after each: the check steps over
// them and never reads them as part of a sector.
TEST(Sector, RunWithSubChannel)
{
    const uint32_t first = 16, k = 40;
    std::string run_bytes;
    for (uint32_t i = 0; i < k; i++)
        run_bytes += raw_sector(edc_image(), first + i) + std::string(96, (char)(0x20 + i));
    SectorRunCheck run;
    EXPECT_EQ(1, sector_check_run(bytes(run_bytes), run_bytes.size(), k, 2448, first + BASE, 1, &run));
    EXPECT_EQ(k, run.bad);
    uint32_t base = 0;
    EXPECT_EQ(1, sector_find_base(bytes(run_bytes), 2448, 2448, 1, &base));
    EXPECT_EQ(BASE, base);

    std::string bad = run_bytes;
    bad[(size_t)31 * 2448 + 100] ^= 0x10;
    EXPECT_EQ(0, sector_check_run(bytes(bad), bad.size(), k, 2448, first + BASE, 1, &run));
    EXPECT_EQ(31u, run.bad);
    EXPECT_EQ(SECTOR_BAD_EDC, run.result);
    // A buffer that ends inside the last sector.
    EXPECT_EQ(0, sector_check_run(bytes(run_bytes), (size_t)(k - 1) * 2448 + 2351, k, 2448, first + BASE, 1, &run));
    EXPECT_EQ(k - 1, run.bad);
    EXPECT_EQ(SECTOR_CUT_SHORT, run.result);
    // The last sector's sub-channel is not needed.
    EXPECT_EQ(1, sector_check_run(bytes(run_bytes), (size_t)(k - 1) * 2448 + RAW, k, 2448, first + BASE, 1, &run));
}

// The base comes only from a sector 16 that passes its own check.
TEST(Sector, BaseFromSector16)
{
    std::string s16 = raw_sector(edc_image(), 16);
    uint32_t base = 7;
    EXPECT_EQ(1, sector_find_base(bytes(s16), s16.size(), RAW, 1, &base));
    EXPECT_EQ(BASE, base);
    const Damage cases[] = {
        {"a data byte", 16 + 40, 0, 0x55, 1, 0},
        {"zeroed", 0, RAW, 0, 1, 0},
        {"checked as Mode 2", NONE, 0, 0, 2, 0},
    };
    for (const Damage &d : cases) {
        std::string s = damaged(s16, d);
        base = 7;
        EXPECT_EQ(0, sector_find_base(bytes(s), s.size(), RAW, d.mode, &base)) << d.what;
        EXPECT_EQ(7u, base) << d.what;
    }
    EXPECT_EQ(0, sector_find_base(bytes(s16), RAW - 1, RAW, 1, &base));
    EXPECT_EQ(0, sector_find_base(bytes(s16), RAW, 2048, 1, &base));
    // Without an EDC to check, the header still has to be one that sector
    // 16 can hold: not 00:00:10.
    std::string plain = raw_sector(slurp(media_path("disc1-m1.bin")), 16);
    EXPECT_EQ(1, sector_find_base(bytes(plain), RAW, RAW, 1, &base));
    EXPECT_EQ(BASE, base);
    plain[13] = 0x00;
    plain[14] = 0x10;
    EXPECT_EQ(0, sector_find_base(bytes(plain), RAW, RAW, 1, &base));
}
