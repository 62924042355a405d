// Directory records, names and cue sheets, written as byte arrays and fed
// to the pure parser.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "cdimage.h"
#include "cdsrc/isoparse.h"

static std::vector<IsoEntry> parse(const std::vector<unsigned char> &dir, uint32_t size)
{
    int count = -1;
    IsoEntry *list = iso_parse_dir(dir.data(), dir.size(), size, &count);
    EXPECT_TRUE(list != nullptr);
    std::vector<IsoEntry> out(list, list + count);
    free(list);
    return out;
}

TEST(IsoParse, NameRules)
{
    struct Case {
        std::string id;
        const char *name;
    } cases[] = {
        {"README.TXT;1", "README.TXT"},
        {"NOEXT.;1", "NOEXT"},
        {"DATA", "DATA"},
        {"A.B.", "A.B"},
        {"A", "A"},
        {";1", ""},
        {"", ""},
        {std::string(70, 'X'), "XXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXXX"},
    };
    for (const Case &c : cases) {
        char name[64];
        memset(name, '#', sizeof name);
        iso_clean_name((const unsigned char *)c.id.data(), c.id.size(), name);
        EXPECT_STREQ(c.name, name) << c.id;
    }
}

TEST(IsoParse, UnsafeNames)
{
    const char *unsafe[] = {"", ".", "..", "A\\B", "A/B", "C:", "..\\X", "A*", "A\x01",
                            "CON", "nul", "NUL.TXT", "COM1", "lpt9.dat", "AUX.", "PRN", "COM0",
                            "NUL ", "AUX ", "COM1 ", "CONIN$", "CONOUT$", "A.", "A "};
    for (const char *n : unsafe)
        EXPECT_EQ(1, iso_name_unsafe(n)) << n;
    const char *fine[] = {"README.TXT", "A", "...A", "A.B", "NOEXT", "CONFIG.SYS", "COM", "LPT10",
                          "NULL", "CO", "AUXI.TXT"};
    for (const char *n : fine)
        EXPECT_EQ(0, iso_name_unsafe(n)) << n;
}

TEST(IsoParse, ListsRecordsSkipsSelfAndParent)
{
    DirSector d;
    d.add_self_and_parent(20, 21);
    d.add("README.TXT;1", 30, 1234, false);
    d.add("DATA", 31, 2048, true);
    std::vector<IsoEntry> e = parse(d.bytes, 2048);
    ASSERT_EQ(2u, e.size());
    EXPECT_STREQ("README.TXT", e[0].name);
    EXPECT_EQ(30u, e[0].lba);
    EXPECT_EQ(1234u, e[0].size);
    EXPECT_EQ(0, e[0].directory);
    EXPECT_STREQ("DATA", e[1].name);
    EXPECT_EQ(1, e[1].directory);
}

TEST(IsoParse, RecordsEndingEarlyContinueInTheNextSector)
{
    DirSector d;
    d.add_self_and_parent(20, 20);
    while (d.bytes.size() < 1800 - 40)
        d.add("F" + std::to_string(d.bytes.size()), 40, 1, false);
    size_t first = parse(d.bytes, 2048).size();
    d.pad_to(2048); // zero bytes up to the end of the sector
    d.add("NEXT.TXT;1", 50, 7, false);
    d.pad_to(4096);
    std::vector<IsoEntry> e = parse(d.bytes, 4096);
    ASSERT_EQ(first + 1, e.size());
    EXPECT_STREQ("NEXT.TXT", e.back().name);
}

TEST(IsoParse, MoreThan64Entries)
{
    DirSector d;
    for (int i = 0; i < 300; i++) {
        if (2048 - d.bytes.size() % 2048 < 50)
            d.pad_to((d.bytes.size() / 2048 + 1) * 2048);
        d.add("E" + std::to_string(i), 100 + i, i, false);
    }
    d.pad_to((d.bytes.size() / 2048 + 1) * 2048);
    std::vector<IsoEntry> e = parse(d.bytes, (uint32_t)d.bytes.size());
    ASSERT_EQ(300u, e.size());
    for (int i = 0; i < 300; i++)
        EXPECT_EQ("E" + std::to_string(i), e[i].name);
}

// Damaged records never make the parser read past their sector: each one
// sends the walk to the next sector, where a good record is still found.
TEST(IsoParse, DamagedRecordsSkipToTheNextSector)
{
    struct Case {
        const char *what;
        size_t at;       // where the damaged record starts
        unsigned char len;
        unsigned char id_len;
    } cases[] = {
        {"fixed part crosses the sector end", 2048 - 20, 40, 1},
        {"record length crosses the sector end", 2048 - 40, 60, 10},
        {"identifier longer than the record", 0, 40, 100},
        {"record shorter than its fixed part", 0, 10, 1},
        {"identifier at the very end of the sector", 2048 - 34, 34, 255},
    };
    for (const Case &c : cases) {
        std::vector<unsigned char> buf(4096, 0);
        buf[c.at] = c.len;
        if (c.at + 32 < 2048)
            buf[c.at + 32] = c.id_len;
        DirSector good;
        good.add("GOOD", 60, 5, false);
        memcpy(&buf[2048], good.bytes.data(), good.bytes.size());
        std::vector<IsoEntry> e = parse(buf, 4096);
        ASSERT_EQ(1u, e.size()) << c.what;
        EXPECT_STREQ("GOOD", e[0].name) << c.what;
    }
}

TEST(IsoParse, SizeShorterThanBufferStopsTheWalk)
{
    DirSector d;
    d.add("A", 1, 1, false);
    d.pad_to(2048);
    d.add("B", 2, 2, false);
    d.pad_to(4096);
    EXPECT_EQ(1u, parse(d.bytes, 2048).size());
    EXPECT_EQ(2u, parse(d.bytes, 4096).size());
}

TEST(IsoParse, PrimaryVolumeDescriptor)
{
    std::vector<unsigned char> s = pvd_sector(18, 2048);
    uint32_t lba = 0, size = 0;
    EXPECT_EQ(1, iso_parse_pvd(s.data(), &lba, &size));
    EXPECT_EQ(18u, lba);
    EXPECT_EQ(2048u, size);
    s[6] = 7; // any version byte
    EXPECT_EQ(1, iso_parse_pvd(s.data(), &lba, &size));
    s[0] = 2; // a supplementary descriptor
    EXPECT_EQ(0, iso_parse_pvd(s.data(), &lba, &size));
    s[0] = 1;
    s[3] = 'X';
    EXPECT_EQ(0, iso_parse_pvd(s.data(), &lba, &size));
}

TEST(IsoParse, SectorCountsIn64Bits)
{
    EXPECT_EQ(0u, iso_sectors(0));
    EXPECT_EQ(1u, iso_sectors(1));
    EXPECT_EQ(1u, iso_sectors(2048));
    EXPECT_EQ(49u, iso_sectors(100000));
    EXPECT_EQ(2097152u, iso_sectors(0xFFFFFFFFu));
}

TEST(CdPath, Normalise)
{
    struct Case {
        const char *in, *out;
    } cases[] = {
        {"C:\\discs\\cd1\\\\", "C:\\discs\\cd1"},
        {"C:\\discs\\cd1/", "C:\\discs\\cd1"},
        {"C:\\", "C:\\"},
        {"C:\\\\", "C:\\"},
        {"C:", "C:\\"},
        {"D:/", "D:/"},
        {"ab", "ab"},
        {"\\\\\\\\", "\\\\\\"},
    };
    for (const Case &c : cases) {
        char b[520];
        strcpy(b, c.in);
        cd_normalise(b, sizeof b);
        EXPECT_STREQ(c.out, b) << c.in;
    }
}

TEST(CuePath, Extension)
{
    EXPECT_EQ(1, cue_is_sheet("C:\\img\\a.cue"));
    EXPECT_EQ(1, cue_is_sheet("A.CUE"));
    EXPECT_EQ(1, cue_is_sheet("x.y\\a.Cue"));
    EXPECT_EQ(0, cue_is_sheet("a.cue.bin"));
    EXPECT_EQ(0, cue_is_sheet("a.cuex"));
    EXPECT_EQ(0, cue_is_sheet("cue"));
    EXPECT_EQ(0, cue_is_sheet("a.cu"));
}
