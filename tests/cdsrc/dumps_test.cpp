// The dumps that players have, as other tools write them (tools/media): each
// opens the data file that holds the volume, in its layout and from its data
// track's start, and reads like the disc's folder.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "cdsrc/cdinternal.h"
#include "testsupport.h"

namespace {

const uint64_t RAW = 2352;

struct Dump {
    const char *chosen, *opened; // what the user picks, the file that is read
    uint32_t sector_size, data_offset;
    uint64_t track_start;
    const char *tree;
};

void PrintTo(const Dump &d, std::ostream *os) { *os << d.chosen; }

const Dump dumps[] = {
    {"mini1-2336.cue", "mini1-2336.bin", 2336, 8, 0, "mini1"},
    {"mini1-2336.bin", "mini1-2336.bin", 2336, 8, 0, "mini1"},
    {"mini1-sub16.ccd", "mini1-sub16.img", 2448, 16, 0, "mini1"},
    {"mini1-sub16.img", "mini1-sub16.img", 2448, 16, 0, "mini1"},
    {"mini1-sub24.mds", "mini1-sub24.mdf", 2448, 24, 0, "mini1"},
    {"mini1-sub24.mdf", "mini1-sub24.mdf", 2448, 24, 0, "mini1"},
    {"mini1-pregap.cue", "mini1-pregap.bin", 2352, 16, 150 * RAW, "mini1"},
    {"mini1-mixed.cue", "mini1-mixed.bin", 2352, 16, 225 * RAW, "mini1"},
    {"mini1-redump.cue", "mini1 (Track 2).bin", 2352, 16, 150 * RAW, "mini1"},
    {"disc1-sub24.mds", "disc1-sub24.mdf", 2448, 24, 0, "disc1"},
    {"disc2-pregap.cue", "disc2-pregap.bin", 2352, 16, 150 * RAW, "disc2"},
};

class DumpForm : public ::testing::TestWithParam<Dump> {};

TEST_P(DumpForm, OpensItsDataAndCopiesLikeTheFolder)
{
    const Dump &d = GetParam();
    CdSource *src = cd_open(media_path(d.chosen).c_str());
    ASSERT_TRUE(src != nullptr);
    EXPECT_EQ(1, src->kind);
    EXPECT_EQ(media_path(d.opened), src->path);
    EXPECT_EQ("image " + media_path(d.opened), cd_describe(src));
    EXPECT_EQ(d.sector_size, src->sector_size);
    EXPECT_EQ(d.data_offset, src->data_offset);
    EXPECT_EQ(d.track_start, src->track_start);
    EXPECT_EQ(1, cd_exists(src, d.tree[4] == '2' ? "TARNOK\\DISK2\\DISK2" : "TARNOK\\DISK1\\DISK1"));

    CdSource *folder = cd_open(media_path(d.tree).c_str());
    ASSERT_TRUE(folder != nullptr);
    EXPECT_EQ(cd_total_bytes(folder), cd_total_bytes(src));
    cd_close(folder);
    std::string dst = scratch("image");
    Progress p = {0, 0, nullptr, nullptr};
    EXPECT_EQ(1, cd_copy_all(src, dst.c_str(), &p));
    EXPECT_EQ(cd_total_bytes(src), p.done);
    EXPECT_EQ("", compare_trees(media_folder_copy(d.tree), dst));
    uint64_t size = 0;
    unsigned char *bulk = d.tree[0] == 'm' ? cd_read(src, "BULK\\BULK.DAT", &size) : nullptr;
    if (d.tree[0] == 'm') {
        ASSERT_TRUE(bulk != nullptr);
        EXPECT_EQ(slurp(media_path("mini1\\BULK\\BULK.DAT")), std::string((char *)bulk, (size_t)size));
    }
    free(bulk);
    cd_close(src);
}

INSTANTIATE_TEST_SUITE_P(Media, DumpForm, ::testing::ValuesIn(dumps),
                         [](const ::testing::TestParamInfo<Dump> &pi) { return file_test_name(pi.param.chosen); });

// Data files whose volume lies behind a pregap or audio open only through
// their sheet; a descriptor without its data file opens nothing.
TEST(DumpForm, WithoutTheirSheetOrData)
{
    std::string dir = scratch();
    ASSERT_TRUE(CopyFileA(media_path("mini1-sub16.ccd").c_str(), (dir + "\\alone.ccd").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(media_path("mini1-sub24.mds").c_str(), (dir + "\\alone.mds").c_str(), FALSE));
    const std::string paths[] = {media_path("mini1-pregap.bin"), media_path("mini1-mixed.bin"),
                                 media_path("mini1 (Track 1).bin"), dir + "\\alone.ccd", dir + "\\alone.mds"};
    for (const std::string &p : paths) {
        CdSource *src = cd_open(p.c_str());
        EXPECT_TRUE(src == nullptr) << p;
        cd_close(src);
    }
}

// A descriptor written in capitals opens the data file in capitals (the
// file system ignores case) and names it so.
TEST(DumpForm, DescriptorInCapitals)
{
    std::string dir = scratch();
    ASSERT_TRUE(CopyFileA(media_path("mini1-sub16.img").c_str(), (dir + "\\GAME.IMG").c_str(), FALSE));
    spit(dir + "\\GAME.CCD", "[CloneCD]\r\nVersion=3\r\n");
    CdSource *src = cd_open((dir + "\\GAME.CCD").c_str());
    ASSERT_TRUE(src != nullptr);
    EXPECT_EQ(dir + "\\GAME.IMG", src->path);
    EXPECT_EQ(2448u, src->sector_size);
    cd_close(src);
}

} // namespace
