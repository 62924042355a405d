// Cue sheets as rippers and dumping tools write them, the descriptors of
// other dump formats, and the stored sector layouts, fed to the pure parser.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "cdimage.h"
#include "cdsrc/isoparse.h"
#include "testsupport.h"

namespace {

const uint64_t RAW = 2352;

struct Sheet {
    const char *what;
    std::string text;
    const char *image; // null: the sheet names nothing
    uint64_t start;    // bytes before the data track's first sector
};

void expect_sheet(const Sheet &c)
{
    char out[520] = "unchanged";
    uint64_t start = 12345;
    int r = cue_image_path("C:\\img\\a.cue", c.text.data(), c.text.size(), out, sizeof out, &start);
    EXPECT_EQ(c.image != nullptr, r == 1) << c.what;
    EXPECT_STREQ(c.image ? c.image : "unchanged", out) << c.what;
    EXPECT_EQ(c.image ? c.start : 12345u, start) << c.what;
}

} // namespace

// Sheets that named their image the old way name the same image, from the
// file's start.
TEST(CueSheet, SheetsThatOpenedBeforeNameTheSameImage)
{
    const Sheet cases[] = {
        {"crlf", "FILE \"disc.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:00:00\r\n",
         "C:\\img\\disc.bin", 0},
        {"no track", "FILE \"disc.bin\" BINARY", "C:\\img\\disc.bin", 0},
        {"drive letter", "FILE \"D:\\dumps\\disc.bin\" BINARY", "D:\\dumps\\disc.bin", 0},
        {"two files, both data", "REM x\nFILE \"one.bin\" BINARY\nTRACK 01 MODE1/2352\nFILE \"two.bin\" BINARY\n",
         "C:\\img\\one.bin", 0},
        {"all audio", "FILE \"music.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n", "C:\\img\\music.bin", 0},
        {"unterminated quote", "FILE \"disc.bin BINARY", nullptr, 0},
        {"empty", "", nullptr, 0},
        {"FILE not first on its line", "\"x.bin\" FILE", nullptr, 0},
        {"empty name", "FILE \"\" BINARY\nTRACK 01 MODE1/2352\n", nullptr, 0},
    };
    for (const Sheet &c : cases)
        expect_sheet(c);
}

// Each of these once gave null, or the wrong file.
TEST(CueSheet, SheetsAsRippersWriteThem)
{
    const Sheet cases[] = {
        {"TITLE holding FILE", "TITLE \"MY PROFILE\"\nFILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n",
         "C:\\img\\disc.bin", 0},
        {"CDTEXTFILE", "CDTEXTFILE \"disc.cdt\"\nFILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n", "C:\\img\\disc.bin",
         0},
        {"REM naming a file", "REM FILE \"old.bin\"\nFILE \"disc.bin\" BINARY\n", "C:\\img\\disc.bin", 0},
        {"unquoted", "FILE disc.bin BINARY\r\n  TRACK 01 MODE1/2352\r\n", "C:\\img\\disc.bin", 0},
        {"unquoted at the line's end", "FILE disc.bin", "C:\\img\\disc.bin", 0},
        {"quoted with blanks", "FILE \"Game (Track 1).bin\" BINARY\n", "C:\\img\\Game (Track 1).bin", 0},
        {"lower-case keywords, tabs", "\tfile \"disc.bin\" binary\n\ttrack 01 mode2/2352\n\tindex 01 00:00:00\n",
         "C:\\img\\disc.bin", 0},
        {"UTF-8 mark", "\xEF\xBB\xBF" "FILE \"disc.bin\" BINARY\n", "C:\\img\\disc.bin", 0},
        {"mark before a blank", "\xEF\xBB\xBF  FILE disc.bin BINARY\n", "C:\\img\\disc.bin", 0},
        {"CR line ends", "REM a\rFILE \"disc.bin\" BINARY\r  TRACK 01 AUDIO\rFILE \"data.bin\" BINARY\r  TRACK 02 "
                         "MODE1/2352\r    INDEX 01 00:00:00\r",
         "C:\\img\\data.bin", 0},
        {"pregap in the file",
         "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n",
         "C:\\img\\disc.bin", 150 * RAW},
        {"MODE2/2336 with pregap",
         "FILE \"disc.bin\" BINARY\n  TRACK 01 MODE2/2336\n    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n",
         "C:\\img\\disc.bin", 150 * 2336},
        {"MODE1/2048", "FILE \"disc.iso\" BINARY\n  TRACK 01 MODE1/2048\n    INDEX 01 00:00:00\n", "C:\\img\\disc.iso",
         0},
        {"audio first, one file per track",
         "FILE \"a (Track 1).bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
         "FILE \"a (Track 2).bin\" BINARY\n  TRACK 02 MODE1/2352\n    INDEX 00 00:00:00\n    INDEX 01 00:02:00\n",
         "C:\\img\\a (Track 2).bin", 150 * RAW},
        {"audio first, one file",
         "FILE \"mixed.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 MODE1/2352\n"
         "    INDEX 00 03:00:00\n    INDEX 01 03:02:00\n",
         "C:\\img\\mixed.bin", (180 * 75 + 150) * RAW},
        {"tracks of other sizes before the data",
         "FILE \"mixed.bin\" BINARY\n  TRACK 01 CDG\n    INDEX 01 00:00:10\n  TRACK 02 MODE1/2048\n"
         "    INDEX 01 00:01:00\n",
         "C:\\img\\mixed.bin", 10 * 2448 + 65 * 2448},
        {"data after audio in the same track file",
         "FILE \"one.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:01:00\n"
         "  TRACK 03 MODE2/2336\n    INDEX 00 00:02:00\n    INDEX 01 00:04:00\n",
         "C:\\img\\one.bin", 150 * RAW + 150 * 2336},
        {"pregap in the previous file",
         "FILE \"t1.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n  TRACK 02 MODE1/2352\n"
         "    INDEX 00 00:10:00\nFILE \"t2.bin\" BINARY\n    INDEX 01 00:00:00\n",
         "C:\\img\\t2.bin", 0},
        {"keywords passed over",
         "CATALOG 0000000000000\nPERFORMER \"FILE x\"\nSONGWRITER y\nFILE \"disc.bin\" BINARY\n  TRACK 01 MODE1/2352\n"
         "    FLAGS DCP\n    ISRC ABCDE1234567\n    PREGAP 00:02:00\n    INDEX 01 00:00:00\n    POSTGAP 00:02:00\n"
         "    FUTURE \"z\"\n",
         "C:\\img\\disc.bin", 0},
    };
    for (const Sheet &c : cases)
        expect_sheet(c);
}

// Where the data track's start cannot be told, the volume is looked for
// from the file's start, as before.
TEST(CueSheet, UnknownStartsAreZero)
{
    const Sheet cases[] = {
        {"no INDEX 01 before the next track",
         "FILE \"d.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 00 00:00:00\n  TRACK 02 AUDIO\n    INDEX 01 00:04:00\n",
         "C:\\img\\d.bin", 0},
        {"INDEX running backwards",
         "FILE \"d.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:04:00\n  TRACK 02 MODE1/2352\n    INDEX 01 00:02:00\n",
         "C:\\img\\d.bin", 0},
        {"seconds past 59", "FILE \"d.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:61:00\n", "C:\\img\\d.bin", 0},
        {"frames past 74", "FILE \"d.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:75\n", "C:\\img\\d.bin", 0},
        {"not a time", "FILE \"d.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 1:2\n", "C:\\img\\d.bin", 0},
        {"an unknown track type before the data",
         "FILE \"d.bin\" BINARY\n  TRACK 01 MODE9/1234\n    INDEX 01 00:00:00\n  TRACK 02 MODE1/2352\n"
         "    INDEX 01 00:02:00\n",
         "C:\\img\\d.bin", 0},
        {"a bad INDEX before the data",
         "FILE \"d.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 0x:00:00\n  TRACK 02 MODE1/2352\n    INDEX 01 00:02:00\n",
         "C:\\img\\d.bin", 0},
    };
    for (const Sheet &c : cases)
        expect_sheet(c);
}

TEST(CueSheet, TracksWithoutAUsableFile)
{
    const char nul_name[] = "FILE \"a\0b.bin\" BINARY\nTRACK 01 MODE1/2352\n";
    const Sheet cases[] = {
        {"TRACK before any FILE", "TRACK 01 MODE1/2352\nINDEX 01 00:00:00\n", nullptr, 0},
        {"data track in a file with an unterminated name",
         "FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nFILE \"b.bin BINARY\nTRACK 02 MODE1/2352\nINDEX 01 00:00:00\n", nullptr, 0},
        {"a name holding a NUL", std::string(nul_name, sizeof nul_name - 1), nullptr, 0},
    };
    for (const Sheet &c : cases)
        expect_sheet(c);
}

// The sheet's folder ends at its last '\' or '/'; a sheet without a folder
// names a file beside it in the current folder, or on its drive.
TEST(CueSheet, RelativeNamesFromTheSheetsFolder)
{
    struct Case {
        const char *cue, *name, *image;
    } cases[] = {
        {"C:\\img\\a.cue", "disc.bin", "C:\\img\\disc.bin"},
        {"C:/img/a.cue", "disc.bin", "C:/img/disc.bin"},
        {"C:\\img/sub\\a.cue", "disc.bin", "C:\\img/sub\\disc.bin"},
        {"C:\\img\\a.cue", "sub/disc.bin", "C:\\img\\sub/disc.bin"},
        {"C:\\img\\a.cue", "D:disc.bin", "D:disc.bin"},
        {"a.cue", "disc.bin", "disc.bin"},
        {"C:a.cue", "disc.bin", "C:disc.bin"},
        {"\\\\server\\share\\a.cue", "disc.bin", "\\\\server\\share\\disc.bin"},
    };
    for (const Case &c : cases) {
        std::string text = std::string("FILE \"") + c.name + "\" BINARY\n";
        char out[520];
        uint64_t start = 1;
        ASSERT_EQ(1, cue_image_path(c.cue, text.data(), text.size(), out, sizeof out, &start)) << c.cue;
        EXPECT_STREQ(c.image, out) << c.cue;
        EXPECT_EQ(0u, start);
    }
}

// A sheet names its data file beside itself or by a drive-letter path. A
// UNC path would reach a host of the sheet's choosing, a device path any
// device, a second ':' a stream, a device name the device: each is refused
// as a sheet that names nothing is.
TEST(CueSheet, NetworkDeviceAndStreamNamesAreRefused)
{
    const Sheet cases[] = {
        {"UNC", "FILE \"\\\\host\\share\\d.bin\" BINARY\n", nullptr, 0},
        {"UNC with a stream", "FILE \"\\\\host\\share\\d.bin:x\" BINARY\n", nullptr, 0},
        {"UNC with slashes", "FILE \"//host/share/d.bin\" BINARY\n", nullptr, 0},
        {"UNC mixed", "FILE \"\\/host\\share\\d.bin\" BINARY\n", nullptr, 0},
        {"device", "FILE \"\\\\.\\C:\\d.bin\" BINARY\n", nullptr, 0},
        {"long device", "FILE \"\\\\?\\C:\\d.bin\" BINARY\n", nullptr, 0},
        {"long UNC", "FILE \"\\\\?\\UNC\\host\\share\\d.bin\" BINARY\n", nullptr, 0},
        {"stream", "FILE \"d.bin:x\" BINARY\n", nullptr, 0},
        {"stream of the data", "FILE \"d.bin::$DATA\" BINARY\n", nullptr, 0},
        {"drive and stream", "FILE \"D:\\d.bin:x\" BINARY\n", nullptr, 0},
        {"colon not after a letter", "FILE \"1:\\d.bin\" BINARY\n", nullptr, 0},
        {"device name", "FILE \"NUL\" BINARY\n", nullptr, 0},
        {"device name with extension", "FILE \"sub\\COM1.bin\" BINARY\n", nullptr, 0},
        {"ends in a separator", "FILE \"sub\\\" BINARY\n", nullptr, 0},
        {"drive letter", "FILE \"D:\\d.bin\" BINARY\n", "D:\\d.bin", 0},
        {"beside it", "FILE \"d.bin\" BINARY\n", "C:\\img\\d.bin", 0},
        {"one leading separator", "FILE \"\\sub\\d.bin\" BINARY\n", "C:\\img\\\\sub\\d.bin", 0},
        {"a device name inside", "FILE \"con\\d.bin\" BINARY\n", "C:\\img\\con\\d.bin", 0},
    };
    for (const Sheet &c : cases)
        expect_sheet(c);
}

TEST(CueSheet, SheetInItsOwnBufferAndTooLongNames)
{
    char work[520] = "C:\\img\\a.cue";
    uint64_t start = 1;
    const char text[] = "FILE \"b.bin\"";
    EXPECT_EQ(1, cue_image_path(work, text, strlen(text), work, sizeof work, &start));
    EXPECT_STREQ("C:\\img\\b.bin", work);
    std::string long_name = "FILE \"" + std::string(600, 'n') + "\"";
    char out[520] = "unchanged";
    EXPECT_EQ(0, cue_image_path("C:\\a.cue", long_name.data(), long_name.size(), out, sizeof out, &start));
    EXPECT_STREQ("unchanged", out);
    // The text need not end with a NUL: the parser stops at its length.
    const char cut[] = "FILE disc.binXXXX";
    EXPECT_EQ(1, cue_image_path("C:\\a.cue", cut, 13, out, sizeof out, &start));
    EXPECT_STREQ("C:\\disc.bin", out);
}

// Sheets from another project's parser tests (peer data): none of their
// images exist, but each names one.
TEST(CueSheet, PeerSheets)
{
    SKIP_WITHOUT_PEER_DATA();
    struct Case {
        const char *file, *image;
    } cases[] = {
        {"iso\\libcdio__parse_test\\t1.cue", "t1.bin"},
        {"iso\\libcdio__parse_test\\t2.cue", "t2.bin"},
        {"iso\\libcdio__parse_test\\t3.cue", "BINARY"},
        {"iso\\libcdio__test\\vcd_demo.cue", "vcd_demo.bin"},
    };
    for (const Case &c : cases) {
        bool ok = false;
        std::string text = slurp(peer_path(c.file), &ok);
        ASSERT_TRUE(ok) << "peer data missing: " << c.file;
        CueImage img;
        ASSERT_EQ(1, cue_parse(text.data(), text.size(), &img)) << c.file;
        EXPECT_EQ(c.image, std::string(img.name, img.name_len)) << c.file;
        EXPECT_EQ(0u, img.start) << c.file;
    }
}

TEST(DumpDescriptor, DataFileOfTheSameBaseName)
{
    struct Case {
        const char *path, *data; // data null: no descriptor
    } cases[] = {
        {"C:\\img\\a.ccd", "C:\\img\\a.img"}, {"C:\\img\\A.CCD", "C:\\img\\A.IMG"}, {"x.mds", "x.mdf"},
        {"C:/d.x/Game.Mds", "C:/d.x/Game.MDF"}, {"a.ccd.bin", nullptr},          {"a.ccdx", nullptr},
        {"C:\\d.ccd\\file", nullptr},          {"ccd", nullptr},                 {"a.cue", nullptr},
    };
    for (const Case &c : cases) {
        char out[520] = "unchanged";
        EXPECT_EQ(c.data != nullptr, dump_data_path(c.path, out, sizeof out) == 1) << c.path;
        EXPECT_STREQ(c.data ? c.data : "unchanged", out) << c.path;
    }
    char work[520] = "C:\\img\\b.ccd";
    EXPECT_EQ(1, dump_data_path(work, work, sizeof work));
    EXPECT_STREQ("C:\\img\\b.img", work);
    char tiny[6];
    EXPECT_EQ(0, dump_data_path("abc.ccd", tiny, sizeof tiny));
}

// A descriptor at sector 16 in each layout is found in that layout only,
// after the earlier ones have failed; a head too short for a layout's
// sector 16 fails that layout.
TEST(IsoLayouts, EachFoundInItsOwnPlace)
{
    ASSERT_EQ(6, ISO_LAYOUT_COUNT);
    const uint32_t want[6][2] = {{2048, 0}, {2352, 16}, {2352, 24}, {2448, 16}, {2448, 24}, {2336, 8}};
    std::vector<unsigned char> pvd = pvd_sector(18, 2048);
    for (int i = 0; i < ISO_LAYOUT_COUNT; i++) {
        EXPECT_EQ(want[i][0], iso_layouts[i].sector_size);
        EXPECT_EQ(want[i][1], iso_layouts[i].data_offset);
        size_t at = 16 * (size_t)want[i][0] + want[i][1];
        std::vector<unsigned char> head(ISO_PROBE_BYTES, 0);
        memcpy(&head[at], pvd.data(), pvd.size());
        uint32_t lba = 0, size = 0;
        EXPECT_EQ(i, iso_find_layout(head.data(), head.size(), &lba, &size)) << i;
        EXPECT_EQ(18u, lba);
        EXPECT_EQ(2048u, size);
        EXPECT_EQ(i, iso_find_layout(head.data(), at + 2048, &lba, &size)) << i;
        EXPECT_EQ(-1, iso_find_layout(head.data(), at + 2047, &lba, &size)) << i;
    }
    EXPECT_EQ(-1, iso_find_layout(nullptr, 0, nullptr, nullptr));
}

TEST(IsoLayouts, UnpackTakesEachSectorsData)
{
    for (uint32_t size : {2352u, 2448u, 2336u}) {
        const uint32_t k = 3;
        std::vector<unsigned char> run((k - 1) * size + 2048);
        for (size_t i = 0; i < run.size(); i++)
            run[i] = (unsigned char)(i % size < 2048 ? i / size + 1 : 0xEE);
        std::vector<unsigned char> out(k * 2048, 0);
        iso_unpack_run(run.data(), k, size, out.data());
        // Packed where they were read, as a copy does.
        std::vector<unsigned char> in_place = run;
        iso_unpack_run(in_place.data(), k, size, in_place.data());
        for (uint32_t s = 0; s < k; s++) {
            EXPECT_EQ(std::string(2048, (char)(s + 1)), std::string((char *)&out[s * 2048], 2048)) << size;
            EXPECT_EQ(std::string(2048, (char)(s + 1)), std::string((char *)&in_place[s * 2048], 2048)) << size;
        }
    }
}
