// The image reader on the sample discs in all three layouts, and on small
// hand-made images that are damaged or hostile.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <map>
#include <string>
#include <vector>

#include "cdimage.h"
#include "cdsrc/cdinternal.h"
#include "testsupport.h"

namespace {

struct Layout {
    const char *file;
    uint32_t sector_size, data_offset;
};

// Every form of both discs, each compared against a copy of the disc's folder.
const Layout layouts[] = {
    {"disc1.iso", 2048, 0},     {"disc1-m1.cue", 2352, 16}, {"disc1-m2.cue", 2352, 24},
    {"disc1-m1.bin", 2352, 16}, {"disc1-m2.bin", 2352, 24}, {"disc2.iso", 2048, 0},
    {"disc2-m1.cue", 2352, 16}, {"disc2-m2.cue", 2352, 24},
};

void PrintTo(const Layout &l, std::ostream *os) { *os << l.file; }

class DiscLayout : public ::testing::TestWithParam<Layout> {};

// What a copy's watch was told: each file's size and CRC-32 by its path.
struct Watched {
    std::map<std::string, std::pair<uint64_t, uint32_t>> files;
    int begun = 0;
};

void watch_copied(void *ctx, const char *dst, uint64_t size, uint32_t crc)
{
    ((Watched *)ctx)->files[dst] = std::make_pair(size, crc);
}

void watch_begun(void *ctx, const char *, uint64_t) { ((Watched *)ctx)->begun++; }

// "" when the watch was told of every file below dst, once, with its size
// and the CRC-32 of what was written.
std::string check_watched(const std::string &dst, const Watched &w)
{
    size_t files = 0;
    for (const std::string &e : list_tree(dst)) {
        if (e.back() == '\\')
            continue;
        files++;
        auto it = w.files.find(dst + "\\" + e);
        if (it == w.files.end())
            return "not told of " + e;
        std::string data = slurp(dst + "\\" + e);
        if (it->second.first != data.size() || it->second.second != crc32_buf(data.data(), data.size()))
            return "wrong size or CRC-32 for " + e;
    }
    if (files != w.files.size() || w.begun != (int)files)
        return "told of " + std::to_string(w.files.size()) + " files, " + std::to_string(w.begun) + " begun, " +
               std::to_string(files) + " copied";
    return "";
}

std::string bin_of(const Layout &l)
{
    std::string f = l.file;
    return f.size() > 4 && f.substr(f.size() - 4) == ".cue" ? f.substr(0, f.size() - 4) + ".bin" : f;
}

TEST_P(DiscLayout, OpensTotalsAndCopiesLikeTheFolder)
{
    const Layout &l = GetParam();
    std::string disc = std::string(l.file).substr(0, 5);
    CdSource *src = cd_open(media_path(l.file).c_str());
    ASSERT_TRUE(src != nullptr);
    EXPECT_EQ(1, src->kind);
    EXPECT_EQ(l.sector_size, src->sector_size);
    EXPECT_EQ(l.data_offset, src->data_offset);
    EXPECT_EQ(media_path(bin_of(l)), src->path) << "a cue sheet opens the image it names";
    EXPECT_EQ("image " + media_path(bin_of(l)), cd_describe(src));
    std::string marker = disc == "disc1" ? "tarnok/disk1\\disk1" : "TARNOK\\DISK2\\DISK2";
    EXPECT_EQ(1, cd_exists(src, marker.c_str()));

    CdSource *folder = cd_open(media_path(disc).c_str());
    ASSERT_TRUE(folder != nullptr);
    EXPECT_EQ(cd_total_bytes(folder), cd_total_bytes(src));
    cd_close(folder);

    std::string dst = scratch("image");
    Watched w;
    CopyWatch watch = {watch_begun, watch_copied, nullptr, &w};
    Progress p = {0, 0, nullptr, nullptr, nullptr, &watch};
    EXPECT_EQ(1, cd_copy_all(src, dst.c_str(), &p));
    EXPECT_EQ(cd_total_bytes(src), p.done);
    EXPECT_EQ("", compare_trees(media_folder_copy(disc), dst));
    EXPECT_EQ("", check_watched(dst, w)) << "each file's CRC-32, taken as it was copied";
    cd_close(src);
}

INSTANTIATE_TEST_SUITE_P(Media, DiscLayout, ::testing::ValuesIn(layouts),
                         [](const ::testing::TestParamInfo<Layout> &pi) { return file_test_name(pi.param.file); });

// The copies of every other kind of source tell each file's CRC-32 too: a
// folder (a drive reads the same way), sub-channel and pregap dumps, and a
// disc split into one file per track.
TEST(CopyWatch, EveryKindOfSourceTellsEachFilesCrc)
{
    const char *sources[] = {"disc1", "disc1-sub24.mds", "disc2-pregap.cue", "mini1-sub16.ccd", "mini1-redump.cue",
                             "mini1-2336.cue"};
    int n = 0;
    for (const char *name : sources) {
        SCOPED_TRACE(name);
        CdSource *src = cd_open(media_path(name).c_str());
        ASSERT_TRUE(src != nullptr);
        std::string dst = scratch(std::to_string(n++));
        Watched w;
        CopyWatch watch = {watch_begun, watch_copied, nullptr, &w};
        Progress p = {0, 0, nullptr, nullptr, nullptr, &watch};
        EXPECT_EQ(1, cd_copy_all(src, dst.c_str(), &p));
        EXPECT_EQ("", check_watched(dst, w));
        EXPECT_FALSE(w.files.empty());
        cd_close(src);
    }
}

// Each layout is found by its own test only: the earlier ones fail on it.
TEST(IsoProbe, EarlierLayoutsFail)
{
    struct Case {
        const char *file;
        int ok[3]; // 2048/0, 2352/16, 2352/24
    } cases[] = {
        {"disc1.iso", {1, 0, 0}},
        {"disc1-m1.bin", {0, 1, 0}},
        {"disc1-m2.bin", {0, 0, 1}},
    };
    const uint32_t tries[3][2] = {{2048, 0}, {2352, 16}, {2352, 24}};
    for (const Case &c : cases) {
        CdSource *src = cd_open(media_path(c.file).c_str());
        ASSERT_TRUE(src != nullptr) << c.file;
        for (int i = 0; i < 3; i++)
            EXPECT_EQ(c.ok[i], probe(src, tries[i][0], tries[i][1])) << c.file << " layout " << i;
        cd_close(src);
    }
}

class Disc1 : public ::testing::Test {
protected:
    CdSource *src = nullptr;
    void SetUp() override
    {
        src = cd_open(media_path("disc1.iso").c_str());
        ASSERT_TRUE(src != nullptr);
    }
    void TearDown() override { cd_close(src); }
};

TEST_F(Disc1, Lookups)
{
    struct Case {
        const char *path;
        int found, directory;
    } cases[] = {
        {"tarnok/disk1\\disk1", 1, 0},
        {"TARNOK\\", 1, 1},
        {"TARNOK//DISK1\\\\COMBAT/", 1, 1},
        {"TARNOK\\DISK1\\DATA\\NOEXT", 1, 0},
        {"TARNOK\\DISK1\\DATA\\NOEXT.", 0, 0},
        {"Tarnok\\Disk1\\Music\\Musik1.wav", 1, 0},
        {"\\TARNOK", 0, 0},
        {"TARNOK\\NOPE", 0, 0},
        {"TARNOK\\DISK1\\DISK1;1", 0, 0},
        {"MANY\\F099.TXT", 1, 0},
    };
    for (const Case &c : cases) {
        IsoEntry e;
        memset(&e, 0, sizeof e);
        EXPECT_EQ(c.found, iso_find(src, c.path, &e)) << c.path;
        if (c.found) {
            EXPECT_EQ(c.directory, e.directory) << c.path;
        }
    }
    IsoEntry untouched;
    memset(&untouched, 0x5A, sizeof untouched);
    EXPECT_EQ(1, iso_find(src, "", &untouched));
    EXPECT_EQ(0x5A, (unsigned char)untouched.name[0]) << "the root's entry is not written";
    EXPECT_EQ(0, iso_find(src, std::string(64, 'A').c_str(), &untouched)) << "no name is that long";
}

TEST_F(Disc1, ListsAFolderOf100EntriesInOrder)
{
    IsoEntry many;
    ASSERT_EQ(1, iso_find(src, "MANY", &many));
    int count = 0;
    IsoEntry *list = iso_dir(src, many.lba, many.size, &count);
    ASSERT_EQ(100, count);
    for (int i = 0; i < count; i++) {
        char want[16];
        fmt(want, sizeof want, "F%03d.TXT", i);
        EXPECT_STREQ(want, list[i].name);
    }
    free(list);
}

// D1\D2\...\D18 from the root, a file at each level: folders down to 16
// levels below the root are counted and copied, D17 and D18 are not, and
// the copy still succeeds.
TEST_F(Disc1, DepthSixteenCopiedSeventeenLeftOut)
{
    uint64_t want = 0;
    for (int level = 1; level <= 16; level++)
        want += ("level " + std::to_string(level) + "\r\n").size();
    IsoEntry d1;
    ASSERT_EQ(1, iso_find(src, "D1", &d1));
    EXPECT_EQ(want, iso_total(src, d1.lba, d1.size, 1));
    std::string dst = scratch();
    EXPECT_EQ(1, cd_copy_all(src, dst.c_str(), nullptr));
    std::string d16 = dst;
    for (int level = 1; level <= 16; level++)
        d16 += "\\D" + std::to_string(level);
    EXPECT_TRUE(file_exists(d16 + "\\F16.TXT"));
    EXPECT_FALSE(dir_exists(d16 + "\\D17"));
    IsoEntry d17;
    EXPECT_EQ(1, iso_find(src, "D1\\D2\\D3\\D4\\D5\\D6\\D7\\D8\\D9\\D10\\D11\\D12\\D13\\D14\\D15\\D16\\D17\\F17.TXT", &d17))
        << "lookups have no depth limit";
}

std::vector<uint64_t> steps;
void record_step(uint64_t done, uint64_t, void *) { steps.push_back(done); }

// 100,000 bytes go in two steps (32 sectors, then 17 with 34,464 bytes
// written), the empty file adds nothing, and progress rises by exactly the
// bytes written.
TEST_F(Disc1, CopiesInStepsOf32SectorsWithExactProgress)
{
    IsoEntry data;
    ASSERT_EQ(1, iso_find(src, "TARNOK\\DISK1\\DATA", &data));
    steps.clear();
    Progress p = {0, 1000000, record_step, nullptr};
    std::string dst = scratch();
    ASSERT_EQ(1, iso_copy(src, data.lba, data.size, dst.c_str(), &p, 0));
    uint64_t noext = std::string("a file without extension\r\n").size();
    EXPECT_EQ((std::vector<uint64_t>{65536, 100000, 100000 + noext}), steps);
    EXPECT_EQ(100000u, slurp(dst + "\\BLOCK100.DAT").size());
    bool ok = false;
    EXPECT_EQ("", slurp(dst + "\\EMPTY.DAT", &ok));
    EXPECT_TRUE(ok) << "an empty file is still created";
}

TEST_F(Disc1, ReadsWholeFilesAndRefusesFolders)
{
    uint64_t size = 0;
    unsigned char *b = cd_read(src, "TARNOK/DISK1/DATA/BLOCK100.DAT", &size);
    ASSERT_TRUE(b != nullptr);
    EXPECT_EQ(100000u, size);
    EXPECT_EQ(slurp(media_path("disc1\\TARNOK\\DISK1\\DATA\\BLOCK100.DAT")), std::string((char *)b, (size_t)size));
    free(b);
    b = cd_read(src, "TARNOK\\DISK1\\DATA\\EMPTY.DAT", &size);
    ASSERT_TRUE(b != nullptr);
    EXPECT_EQ(0u, size);
    free(b);
    EXPECT_TRUE(cd_read(src, "TARNOK", &size) == nullptr);
    EXPECT_TRUE(cd_read(src, "", &size) == nullptr);
    EXPECT_TRUE(cd_read(src, "TARNOK\\MISSING", &size) == nullptr);
}

// Small hostile images: what each does, and that nothing lands outside the
// destination or takes long.
class Hostile : public ::testing::Test {
protected:
    CdSource *src = nullptr;
    std::string dir, dst;
    CdSource *open(const IsoImage &img)
    {
        dir = scratch();
        spit(dir + "\\hostile.iso", img.str());
        dst = dir + "\\out";
        src = cd_open((dir + "\\hostile.iso").c_str());
        log_reset();
        return src;
    }
    void TearDown() override { cd_close(src); }
    bool logged(const std::string &text)
    {
        for (const std::string &l : log_lines())
            if (l.find(text) != std::string::npos)
                return true;
        return false;
    }
};

std::wstring wide(const std::string &s)
{
    wchar_t w[1024];
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w, 1024);
    return n > 0 ? w : L"";
}

IsoImage image_with_root(const DirSector &root)
{
    IsoImage img;
    DirSector r = root;
    r.pad_to(2048);
    img.append(r.bytes);
    return img;
}

TEST_F(Hostile, UnsafeNamesAreNeverFollowed)
{
    const char *names[] = {"..", ".", "", "A\\B", "A/B", "C:X", "..\\..\\ESCAPE", ";1", "NUL.TXT;1", "CON",
                           // Copied "successfully" into devices before.
                           "NUL ", "AUX ", "COM1 ", "CONIN$", "CONOUT$;1", "CLOCK$.DAT;1", "LPT0",
                           // Windows strips the end: two records could land on one file.
                           "A..;1", "B ;1"};
    for (const char *n : names) {
        DirSector root;
        root.add_self_and_parent(18, 18);
        root.add("GOOD.TXT;1", 19, 4, false);
        root.add(n, 19, 4, false);
        IsoImage img = image_with_root(root);
        img.append(std::vector<unsigned char>{'d', 'a', 't', 'a'});
        ASSERT_TRUE(open(img) != nullptr) << n;
        EXPECT_EQ(0, cd_copy_all(src, dst.c_str(), nullptr)) << n;
        EXPECT_TRUE(logged("unsafe name")) << n;
        EXPECT_EQ(0, cd_exists(src, "\\GOOD.TXT")) << "a leading separator names nothing, " << n;
        EXPECT_EQ((std::vector<std::string>{"hostile.iso", "out"}), list_dir(dir)) << n;
        EXPECT_EQ((std::vector<std::string>{"GOOD.TXT"}), list_dir(dst)) << n;
        cd_close(src);
        src = nullptr;
    }
}

// This program runs in setup.exe's UTF-8 code page. A name in UTF-8 is
// copied under exactly that name; one in another code page would become
// replacement characters that two names could share: the copy fails there.
TEST_F(Hostile, NamesMustBeUtf8)
{
    struct Case {
        const char *name;
        bool copies;
    } cases[] = {{"\xC5\x81" "ODZ.TXT;1", true}, {"\x8A\xBF\x8E\x9A.TXT;1", false}, {"\xE6\x9D.TXT;1", false}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        DirSector root;
        root.add_self_and_parent(18, 18);
        root.add("GOOD.TXT;1", 19, 4, false);
        root.add(k.name, 19, 4, false);
        IsoImage img = image_with_root(root);
        img.append(std::vector<unsigned char>{'d', 'a', 't', 'a'});
        ASSERT_TRUE(open(img) != nullptr);
        EXPECT_EQ(k.copies ? 1 : 0, cd_copy_all(src, dst.c_str(), nullptr));
        std::string name = k.name;
        name = name.substr(0, name.find(';'));
        if (k.copies) {
            EXPECT_EQ((std::vector<std::string>{"GOOD.TXT", name}), list_dir(dst));
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((wide(dst) + L"\\\u0141ODZ.TXT").c_str()));
        } else {
            EXPECT_TRUE(logged("is not UTF-8"));
            EXPECT_EQ((std::vector<std::string>{"GOOD.TXT"}), list_dir(dst));
        }
        EXPECT_EQ((std::vector<std::string>{"hostile.iso", "out"}), list_dir(dir));
        cd_close(src);
        src = nullptr;
        delete_tree(dst.c_str());
    }
}

// Thirty records in the root all pointing back at the root, and a child
// pointing at its parent: without a guard this is 30^16 listings.
TEST_F(Hostile, DirectoriesPointingAtAnAncestorAreRefused)
{
    DirSector root;
    root.add_self_and_parent(18, 18);
    root.add("CHILD", 19, 2048, true);
    for (int i = 0; i < 30; i++)
        root.add("L" + std::to_string(i), 18, 2048, true);
    DirSector child;
    child.add_self_and_parent(19, 18);
    child.add("UP", 18, 2048, true);
    child.add("SELF", 19, 2048, true);
    child.add("F.TXT;1", 20, 1, false);
    IsoImage img = image_with_root(root);
    child.pad_to(2048);
    img.append(child.bytes);
    img.append(std::vector<unsigned char>(1, 'x'));
    ASSERT_TRUE(open(img) != nullptr);
    EXPECT_EQ(1u, cd_total_bytes(src)) << "only F.TXT counts";
    EXPECT_EQ(0, cd_copy_all(src, dst.c_str(), nullptr));
    EXPECT_TRUE(logged("directory loop at " + dst + "\\CHILD\\UP"));
    EXPECT_EQ(1, cd_exists(src, "L3\\L7\\CHILD\\F.TXT")) << "lookups follow records as they are";
}

// Sixteen directories, each holding twenty records of the next one: no
// loop, yet 20^16 listings if each record were walked. Each directory
// counts once; the copy refuses the second record that leads to one.
TEST_F(Hostile, RecordsFanningOutToOneDirectoryAreWalkedOnce)
{
    const int levels = 16, fan = 20;
    IsoImage img;
    for (int d = 0; d < levels; d++) {
        DirSector level;
        uint32_t self = 18 + d, next = self + 1;
        level.add_self_and_parent(self, d ? self - 1 : self);
        level.add("F.TXT;1", 18 + levels, 1, false);
        if (d + 1 < levels)
            for (int i = 0; i < fan; i++)
                level.add("N" + std::to_string(i), next, 2048, true);
        level.pad_to(2048);
        img.append(level.bytes);
    }
    img.append(std::vector<unsigned char>(1, 'f'));
    ASSERT_TRUE(open(img) != nullptr);
    EXPECT_EQ((uint64_t)levels, cd_total_bytes(src));
    EXPECT_EQ(0, cd_copy_all(src, dst.c_str(), nullptr));
    EXPECT_TRUE(logged("directory repeated at " + dst + "\\N0\\N0\\N0\\N0\\N0\\N0\\N0\\N0\\N0\\N0\\N0\\N0\\N0\\N0\\N1"));
    EXPECT_EQ(1, cd_exists(src, "N19\\N7\\F.TXT"));
}

TEST_F(Hostile, DirectoryExtentsBeyondTheImage)
{
    const uint32_t sizes[] = {0xFFFFFFFFu, 0xFFFFF800u, 40960};
    for (uint32_t size : sizes) {
        DirSector root;
        root.add_self_and_parent(18, 18);
        root.add("BIG", 19, size, true);
        root.add("F.TXT;1", 19, 3, false);
        IsoImage img = image_with_root(root);
        img.append(std::vector<unsigned char>{'a', 'b', 'c'});
        ASSERT_TRUE(open(img) != nullptr);
        EXPECT_EQ(3u, cd_total_bytes(src)) << size;
        EXPECT_EQ(0, cd_exists(src, "BIG\\F.TXT")) << size;
        EXPECT_EQ(0, cd_copy_all(src, dst.c_str(), nullptr)) << size;
        EXPECT_TRUE(logged("read error in " + dst + "\\BIG")) << size;
        cd_close(src);
        src = nullptr;
    }
}

TEST_F(Hostile, FileExtentPastTheEnd)
{
    DirSector root;
    root.add_self_and_parent(18, 18);
    root.add("A.TXT;1", 19, 5, false);
    root.add("FAR.DAT;1", 19, 5000, false); // runs two sectors past the end
    root.add("Z.TXT;1", 19, 5, false);
    IsoImage img = image_with_root(root);
    img.append(std::vector<unsigned char>(5, 'a'));
    ASSERT_TRUE(open(img) != nullptr);
    EXPECT_EQ(0, cd_copy_all(src, dst.c_str(), nullptr));
    EXPECT_TRUE(logged("read error in FAR.DAT"));
    EXPECT_TRUE(file_exists(dst + "\\A.TXT"));
    EXPECT_FALSE(file_exists(dst + "\\Z.TXT")) << "the first failure ends the copy";
    uint64_t size = 0;
    EXPECT_TRUE(cd_read(src, "FAR.DAT", &size) == nullptr);
}

// Reading ahead must not change where a short image shows: the steps
// before the missing sectors are written and counted, then the copy stops,
// and the file cut short is left neither at its name nor beside it.
TEST_F(Hostile, FileCutShortKeepsTheStepsBeforeTheEnd)
{
    DirSector root;
    root.add_self_and_parent(18, 18);
    root.add("CUT.DAT;1", 19, 200000, false); // 98 sectors, 40 of them in the image
    IsoImage img = image_with_root(root);
    img.append(std::vector<unsigned char>(40 * 2048, 'c'));
    ASSERT_TRUE(open(img) != nullptr);
    steps.clear();
    Progress p = {0, 200000, record_step, nullptr};
    EXPECT_EQ(0, cd_copy_all(src, dst.c_str(), &p));
    EXPECT_EQ((std::vector<uint64_t>{65536}), steps);
    EXPECT_FALSE(file_exists(dst + "\\CUT.DAT"));
    EXPECT_FALSE(file_exists(dst + "\\CUT.DAT" DEST_TEMP_SUFFIX));
    EXPECT_TRUE(logged("read error in CUT.DAT"));
}

TEST_F(Hostile, ReadOfASizeNear4GiBIsRefused)
{
    const uint32_t sizes[] = {0xFFFFFFFFu, 0xFFFFF801u, 0xFFFFF800u};
    for (uint32_t size : sizes) {
        DirSector root;
        root.add_self_and_parent(18, 18);
        root.add("HUGE.DAT;1", 19, size, false);
        IsoImage img = image_with_root(root);
        img.append(std::vector<unsigned char>(2048, 'h'));
        ASSERT_TRUE(open(img) != nullptr);
        uint64_t got = 0;
        EXPECT_TRUE(cd_read(src, "HUGE.DAT", &got) == nullptr) << size;
        cd_close(src);
        src = nullptr;
    }
}

TEST_F(Hostile, DescriptorWithoutCd001)
{
    IsoImage img;
    img.bytes[16 * 2048 + 5] = 'X';
    EXPECT_TRUE(open(img) == nullptr);
    EXPECT_TRUE(open(IsoImage()) != nullptr) << "an empty root still opens";
    EXPECT_EQ(0u, cd_total_bytes(src));
}

// Records that Windows would put into one file: the second fails the copy
// with a line naming it, and the first stays as it was written.
TEST_F(Hostile, NamesThatLandOnOneFileFailTheCopy)
{
    struct Case {
        const char *first, *second, *shown;
        bool dirs;
    } cases[] = {
        {"README.TXT;1", "readme.txt;1", "readme.txt", false},
        {"A;1", "A.;1", "A", false},           // both are A by the name rules
        {"DATA", "Data", "Data", true},         // folders would be merged
        {"caf\xC3\x89.TXT;1", "caf\xC3\xA9.TXT;1", "caf\xC3\xA9.TXT", false}, // case beyond ASCII, in UTF-8
    };
    for (const Case &c : cases) {
        DirSector root;
        root.add_self_and_parent(18, 18);
        root.add(c.first, 19, c.dirs ? 2048 : 5, c.dirs);
        root.add(c.second, 20, c.dirs ? 2048 : 6, c.dirs);
        IsoImage img = image_with_root(root);
        for (uint32_t lba : {19u, 20u}) {
            DirSector sub;
            sub.add_self_and_parent(lba, 18);
            sub.pad_to(2048);
            if (!c.dirs)
                sub.bytes.assign(lba == 19 ? "first" : "second", lba == 19 ? "first" + 5 : "second" + 6);
            img.append(sub.bytes);
        }
        ASSERT_TRUE(open(img) != nullptr) << c.second;
        EXPECT_EQ(0, cd_copy_all(src, dst.c_str(), nullptr)) << c.second;
        EXPECT_EQ(std::vector<std::string>{"name repeated at " + dst + "\\" + c.shown}, log_lines()) << c.second;
        if (!c.dirs) {
            std::vector<std::string> files = list_dir(dst);
            ASSERT_EQ(1u, files.size()) << c.second;
            EXPECT_EQ("first", slurp(dst + "\\" + files[0])) << "never overwritten, " << c.second;
        }
        cd_close(src);
        src = nullptr;
    }
}

// A listing of many sectors, where the record that repeats a name comes
// long after the first, with other names between them in any order: still
// caught before anything is written over.
TEST_F(Hostile, ARepeatedNameFarDownALongListing)
{
    const int names = 300;
    std::vector<std::string> ids;
    for (int i = 0; i < names; i++)
        ids.push_back("\xC3\xA9" + std::to_string(names - i) + (i % 2 ? "_B.DAT;1" : "_a.DAT;1"));
    ids.push_back("\xC3\x89" + std::to_string(names - 7) + "_B.dat;1"); // the 8th name in other case
    DirSector root;
    root.add_self_and_parent(18, 18);
    for (const std::string &id : ids) {
        size_t len = 33 + id.size() + ((33 + id.size()) & 1);
        if (root.bytes.size() % 2048 + len > 2048) // records never cross a sector
            root.pad_to((root.bytes.size() / 2048 + 1) * 2048);
        root.add(id, 0, 0, false);
    }
    root.pad_to((root.bytes.size() + 2047) / 2048 * 2048);
    IsoImage img((uint32_t)root.bytes.size());
    img.append(root.bytes);
    ASSERT_TRUE(open(img) != nullptr);
    EXPECT_EQ(0, cd_copy_all(src, dst.c_str(), nullptr));
    EXPECT_EQ(std::vector<std::string>{"name repeated at " + dst + "\\\xC3\x89" + std::to_string(names - 7) + "_B.dat"},
              log_lines());
    EXPECT_EQ((size_t)names, list_dir(dst).size());
}

// A file in three extents (flag 0x80 on the first two records), stored out
// of order on the image: copied and read whole, joined in record order.
// Before, the copy wrote only the last extent and cd_read only the first.
TEST_F(Hostile, FileInSeveralExtentsIsJoinedInRecordOrder)
{
    std::string a(2048, 'a'), b(1000, 'b'), c(130, 'c');
    DirSector root;
    root.add_self_and_parent(18, 18);
    root.add_flags("SPLIT.DAT;1", 21, 2048, 0x80);
    root.add_flags("SPLIT.DAT;1", 20, 1000, 0x80); // not a whole sector: the next extent follows at once
    root.add_flags("SPLIT.DAT;1", 19, 130, 0);
    root.add("Z.TXT;1", 22, 1, false);
    IsoImage img = image_with_root(root);
    img.append(std::vector<unsigned char>(c.begin(), c.end()));
    img.append(std::vector<unsigned char>(b.begin(), b.end()));
    img.append(std::vector<unsigned char>(a.begin(), a.end()));
    img.append(std::vector<unsigned char>{'z'});
    ASSERT_TRUE(open(img) != nullptr);
    std::string whole = a + b + c;
    EXPECT_EQ(whole.size() + 1, cd_total_bytes(src));
    Watched w;
    CopyWatch watch = {watch_begun, watch_copied, nullptr, &w};
    Progress p = {0, 0, nullptr, nullptr, nullptr, &watch};
    EXPECT_EQ(1, cd_copy_all(src, dst.c_str(), &p));
    EXPECT_EQ(whole.size() + 1, p.done);
    EXPECT_TRUE(whole == slurp(dst + "\\SPLIT.DAT"));
    EXPECT_EQ("", check_watched(dst, w)) << "the extents' CRC-32s joined in record order";
    EXPECT_EQ((std::vector<std::string>{"SPLIT.DAT", "Z.TXT"}), list_dir(dst));
    uint64_t size = 0;
    unsigned char *got = cd_read(src, "split.dat", &size);
    ASSERT_TRUE(got != nullptr);
    EXPECT_TRUE(whole == std::string((char *)got, (size_t)size));
    free(got);
    EXPECT_TRUE(log_lines().empty());
}

// Records that promise another extent that is not there are a read error,
// for the copy and for cd_read alike.
TEST_F(Hostile, ExtentsThatDoNotFollowEachOtherAreARefusedRead)
{
    struct Next {
        const char *what, *id;
        bool dir;
    } cases[] = {
        {"the listing ends", nullptr, false},
        {"another name", "OTHER.DAT;1", false},
        {"a directory of that name", "SPLIT.DAT", true},
    };
    for (const Next &n : cases) {
        DirSector root;
        root.add_self_and_parent(18, 18);
        root.add("A.TXT;1", 19, 1, false);
        root.add_flags("SPLIT.DAT;1", 19, 2048, 0x80);
        if (n.id)
            root.add(n.id, n.dir ? 18 : 19, n.dir ? 2048 : 1, n.dir);
        IsoImage img = image_with_root(root);
        img.append(std::vector<unsigned char>(2048, 's'));
        ASSERT_TRUE(open(img) != nullptr) << n.what;
        EXPECT_EQ(0, cd_copy_all(src, dst.c_str(), nullptr)) << n.what;
        char corrupt[600];
        error_text(ERROR_FILE_CORRUPT, corrupt, sizeof corrupt);
        EXPECT_EQ(std::vector<std::string>{std::string("read error in SPLIT.DAT: ") + corrupt}, log_lines()) << n.what;
        EXPECT_FALSE(file_exists(dst + "\\SPLIT.DAT")) << n.what;
        uint64_t size = 0;
        EXPECT_TRUE(cd_read(src, "SPLIT.DAT", &size) == nullptr) << n.what;
        EXPECT_EQ(1, cd_exists(src, "SPLIT.DAT")) << n.what;
        cd_close(src);
        src = nullptr;
    }
}

// The same file made by hand and read by xorriso and 7-Zip (a CTest of its
// own compares their extractions): our copy and read agree with them.
TEST(MultiExtent, ReadsAsXorrisoAnd7ZipDo)
{
    std::string fixtures = build_path("cdsrc-fixtures");
    CdSource *src = cd_open((fixtures + "\\multiextent.iso").c_str());
    ASSERT_TRUE(src != nullptr);
    std::string dst = scratch();
    EXPECT_EQ(1, cd_copy_all(src, dst.c_str(), nullptr));
    std::string want = slurp(fixtures + "\\SPLIT.DAT");
    EXPECT_EQ(4226u, want.size());
    EXPECT_TRUE(want == slurp(dst + "\\SPLIT.DAT"));
    EXPECT_EQ(slurp(fixtures + "\\PLAIN.TXT"), slurp(dst + "\\PLAIN.TXT"));
    uint64_t size = 0;
    unsigned char *got = cd_read(src, "SPLIT.DAT", &size);
    ASSERT_TRUE(got != nullptr);
    EXPECT_TRUE(want == std::string((char *)got, (size_t)size));
    free(got);
    cd_close(src);
}

// Control bytes in a name from the image never reach the log raw: no name
// can end a line and print a convincing one of its own.
TEST_F(Hostile, NamesInLinesAreEscaped)
{
    DirSector root;
    root.add_self_and_parent(18, 18);
    root.add("X\r\nERROR: forged", 19, 1, false);
    IsoImage img = image_with_root(root);
    img.append(std::vector<unsigned char>{'x'});
    ASSERT_TRUE(open(img) != nullptr);
    EXPECT_EQ(0, cd_copy_all(src, dst.c_str(), nullptr));
    EXPECT_EQ(std::vector<std::string>{"unsafe name \"X\\r\\nERROR: forged\" in " + dst}, log_lines());
}

} // namespace
