#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "testsupport.h"
#include "util/util.h"

TEST(Crc32, CheckValues)
{
    EXPECT_EQ(0u, crc32_buf("", 0));
    EXPECT_EQ(0xCBF43926u, crc32_buf("123456789", 9));
    EXPECT_EQ(0x352441C2u, crc32_buf("abc", 3));
}

// CRC-32 one bit at a time, straight from the definition.
static uint32_t crc32_bitwise(const unsigned char *p, size_t n)
{
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        c ^= p[i];
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

// Eight or 64 bytes a step must give the bitwise values: every length to 300
// from every start within a word (so every tail and alignment of both the
// tables and the folding), and large buffers.
TEST(Crc32, SameAsBitwiseAtEveryLengthAndOffset)
{
    std::vector<unsigned char> buf(3 << 20);
    uint32_t x = 12345;
    for (unsigned char &b : buf) {
        x = x * 1103515245u + 12345u;
        b = (unsigned char)(x >> 23);
    }
    for (size_t off = 0; off < 8; off++) {
        for (size_t n = 0; n <= 300; n++)
            ASSERT_EQ(crc32_bitwise(&buf[off], n), crc32_buf(&buf[off], n)) << "offset " << off << ", length " << n;
    }
    for (size_t n : {4095u, 65536u, 1000003u, 3u << 20})
        EXPECT_EQ(crc32_bitwise(buf.data() + buf.size() - n, n), crc32_buf(buf.data() + buf.size() - n, n)) << n;
    std::vector<unsigned char> ones(100000, 0xFF);
    EXPECT_EQ(crc32_bitwise(ones.data(), ones.size()), crc32_buf(ones.data(), ones.size()));
}

// A CRC carried on block by block, or two joined from their parts, is the
// CRC of the whole, wherever the cut falls.
TEST(Crc32, CarriedOnAndJoined)
{
    std::vector<unsigned char> buf(5000);
    for (size_t i = 0; i < buf.size(); i++)
        buf[i] = (unsigned char)(i * 131 + (i >> 7));
    for (size_t len : {0u, 1u, 63u, 64u, 65u, 2048u, 4999u}) {
        uint32_t whole = crc32_buf(buf.data(), len);
        for (size_t cut = 0; cut <= len; cut += len > 100 ? 37 : 1) {
            uint32_t a = crc32_buf(buf.data(), cut), b = crc32_buf(buf.data() + cut, len - cut);
            ASSERT_EQ(whole, crc32_more(a, buf.data() + cut, len - cut)) << len << " cut at " << cut;
            ASSERT_EQ(whole, crc32_combine(a, b, len - cut)) << len << " cut at " << cut;
        }
    }
}

// Folding serves any reflected CRC of 32 bits: the CD-ROM EDC polynomial
// gives what its tables give.
TEST(Crc32, GoesOnFromTheBytesBefore)
{
    // The published check value of CRC-32.
    EXPECT_EQ(0xCBF43926u, crc32_more(0, "123456789", 9));
    const char text[] = "The quick brown fox jumps over the lazy dog";
    uint32_t crc = 0;
    for (size_t at = 0; at < sizeof text - 1; at += 5)
        crc = crc32_more(crc, text + at, sizeof text - 1 - at < 5 ? sizeof text - 1 - at : 5);
    EXPECT_EQ(0x414FA339u, crc);
    EXPECT_EQ(0u, crc32_more(0, "", 0));
}

TEST(Crc32, FoldingAnyPolynomial)
{
    static CrcSlices tab;
    static CrcFold fold;
    crc_build_slices(tab, 0xD8018001u);
    crc_build_fold(&fold, 0xD8018001u);
    std::vector<unsigned char> buf(2352);
    for (size_t i = 0; i < buf.size(); i++)
        buf[i] = (unsigned char)(i * 7 + 3);
    for (size_t n = 0; n <= buf.size(); n += n < 300 ? 1 : 97)
        ASSERT_EQ(crc_update(tab, 0, buf.data(), n), crc_update_fold(tab, &fold, 0, buf.data(), n)) << n;
}

TEST(Format, AlwaysTerminatesAndCuts)
{
    char b[8];
    EXPECT_EQ(7, fmt(b, sizeof b, "%s", "0123456789"));
    EXPECT_STREQ("0123456", b);
    EXPECT_EQ(3, fmt(b, sizeof b, "%d", 123));
    EXPECT_STREQ("123", b);
}

// A cut never leaves part of a UTF-8 sequence: at every buffer size the
// result is the longest whole-character prefix that fits.
TEST(Format, CutsBetweenUtf8Characters)
{
    const std::string text = "a\xC3\xA9" "b\xE6\x9D\xB1\xF0\x9F\x8E\xAE" "c"; // a é b 東 🎮 c
    const size_t starts[] = {0, 1, 3, 4, 7, 11, 12};                          // where characters begin
    for (size_t size = 1; size <= text.size() + 1; size++) {
        char b[32];
        size_t keep = 0;
        for (size_t s : starts)
            if (s <= size - 1)
                keep = s;
        EXPECT_EQ((int)keep, fmt(b, size, "%s", text.c_str())) << size;
        EXPECT_EQ(text.substr(0, keep), b) << size;
        EXPECT_EQ(1, utf8_valid(b)) << size;
    }
    // Bytes that begin no sequence are not taken for one: cut as they come.
    char b[4];
    EXPECT_EQ(3, fmt(b, sizeof b, "%s", "\x80\x80\x80\x80"));
    EXPECT_EQ(3, fmt(b, sizeof b, "%s", "ab\xFF\xFF"));
}

// A path is used whole or not at all.
TEST(Format, PathsAreNeverCut)
{
    char b[8];
    EXPECT_EQ(1, fmt_path(b, sizeof b, "%s\\%s", "abc", "def"));
    EXPECT_STREQ("abc\\def", b);
    EXPECT_EQ(0, fmt_path(b, sizeof b, "%s\\%s", "abc", "defg"));
    EXPECT_STREQ("", b);
    EXPECT_EQ(0, fmt_path(b, sizeof b, "%s", "\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0")); // 8 bytes
    EXPECT_STREQ("", b);
}

TEST(Format, CountsWithThousands)
{
    struct Case {
        uint64_t n;
        const char *text;
    } cases[] = {
        {0, "0"},           {7, "7"},           {999, "999"},         {1000, "1,000"},
        {1234, "1,234"},    {12345, "12,345"},  {123456, "123,456"},  {1234567, "1,234,567"},
        {18446744073709551615ull, "18,446,744,073,709,551,615"},
    };
    for (const Case &c : cases) {
        char out[32];
        EXPECT_STREQ(c.text, fmt_count(c.n, out, sizeof out));
    }
    char small[4];
    EXPECT_STREQ("12,", fmt_count(12345, small, sizeof small));
}

TEST(Format, Utf8Validity)
{
    struct Case {
        const char *text;
        int valid;
    } cases[] = {
        {"", 1},
        {"plain", 1},
        {"\xD0\x98\xD0\xB3\xD1\x80\xD0\xB0", 1},     // Игра
        {"\xE6\x9D\xB1\xE4\xBA\xAC", 1},             // 東京
        {"\xF0\x9F\x8E\xAE", 1},                     // U+1F3AE
        {"\xF4\x8F\xBF\xBF", 1},                     // U+10FFFF
        {"\x8A\xBF\x8E\x9A", 0},                     // 漢字 in Shift-JIS
        {"\xC0\xAF", 0},                             // overlong "/"
        {"\xE0\x80\xAF", 0},                         // overlong "/"
        {"\xED\xA0\x80", 0},                         // a surrogate
        {"\xF4\x90\x80\x80", 0},                     // past U+10FFFF
        {"\xE6\x9D", 0},                             // cut short
        {"\xE6\x9D" "A", 0},                         // a lead without its continuation
        {"\xFF", 0},
    };
    for (const Case &k : cases)
        EXPECT_EQ(k.valid, utf8_valid(k.text)) << k.text;
}

TEST(Paths, DriveRoots)
{
    struct Case {
        const char *path;
        int root;
    } cases[] = {
        {"C:", 1},   {"C:\\", 1}, {"c:/", 1}, {"C:\\\\", 1}, {"\\\\srv\\share", 1}, {"\\\\srv\\share\\", 1},
        {"C:\\x", 0}, {"C:x", 0}, {"x", 0},   {"", 0},       {"\\\\srv\\share\\x", 0},
    };
    for (const Case &k : cases)
        EXPECT_EQ(k.root, is_drive_root(k.path)) << k.path;
}

// Where a path lies below a folder: the rest after the folder and one
// separator, ASCII case aside; never the folder itself, a sibling whose
// name begins with the folder's, or a path elsewhere.
TEST(Paths, BelowAFolder)
{
    struct Case {
        const char *path, *folder, *below; // below: null for none
    } cases[] = {
        {"C:\\Games\\Tarnok\\game\\cd1", "C:\\Games\\Tarnok", "game\\cd1"},
        {"c:\\games\\TARNOK\\x", "C:\\Games\\Tarnok", "x"},
        {"C:\\Games\\Tarnok", "C:\\Games\\Tarnok", nullptr},
        {"C:\\Games\\Tarnok\\", "C:\\Games\\Tarnok", ""},
        {"C:\\Games\\Tarnok PC\\x", "C:\\Games\\Tarnok", nullptr},
        {"C:\\Games", "C:\\Games\\Tarnok", nullptr},
        {"C:/Games/Tarnok/x", "C:\\Games\\Tarnok", nullptr},
        {"D:\\Games\\Tarnok\\x", "C:\\Games\\Tarnok", nullptr},
        {"C:\\x\\y", "C:\\", "x\\y"},
        {"C:\\", "C:\\", nullptr},
        {"\xC3\xA9\\x", "\xC3\x89", nullptr}, // bytes above ASCII are compared as they are
        {"\xC3\xA9\\x", "\xC3\xA9", "x"},
    };
    for (const Case &k : cases) {
        const char *got = path_below(k.path, k.folder);
        if (!k.below)
            EXPECT_EQ(nullptr, got) << k.path << " below " << k.folder;
        else
            EXPECT_STREQ(k.below, got ? got : "(none)") << k.path << " below " << k.folder;
    }
}

TEST(Paths, TheRootOfAPathsDrive)
{
    struct Case {
        const char *path, *root; // root: "" for none
    } cases[] = {
        {"D:\\", "D:\\"}, {"d:", "d:\\"}, {"E:\\TARNOK\\DISK1", "E:\\"}, {"C:x.iso", "C:\\"},
        {"\\\\srv\\share", ""}, {"1:\\", ""}, {":\\", ""}, {"", ""}, {"x", ""},
    };
    for (const Case &k : cases) {
        char root[4] = "zzz";
        EXPECT_EQ(k.root[0] != 0, drive_root_of(k.path, root)) << k.path;
        EXPECT_STREQ(k.root, root) << k.path;
    }
}

TEST(MakeDirs, CreatesEveryLevelWithEitherSeparator)
{
    std::string d = scratch();
    std::string p = d + "\\a\\b/c";
    EXPECT_EQ(1, make_dirs(p.c_str()));
    EXPECT_TRUE(dir_exists(d + "\\a\\b\\c"));
    EXPECT_EQ(1, make_dirs(p.c_str())) << "an existing folder counts as success";
    EXPECT_EQ(1, make_dirs((d + "\\t\\").c_str())) << "trailing separator";
    EXPECT_TRUE(dir_exists(d + "\\t"));
    spit(d + "\\file", "x");
    EXPECT_EQ(0, make_dirs((d + "\\file\\sub").c_str())) << "a file in the middle";
    EXPECT_EQ(0, make_dirs((d + "\\file").c_str())) << "a file at the end";
    EXPECT_EQ(1, make_dirs((d + "\\up\\..\\over").c_str()));
    EXPECT_TRUE(dir_exists(d + "\\up")) << "every folder on the way is made, also one a '..' step leaves";
    EXPECT_TRUE(dir_exists(d + "\\over"));
}

TEST(WriteReadFile, RoundTripAndParentFolders)
{
    std::string d = scratch();
    std::string p = d + "\\x\\y\\z.bin";
    std::string data(3000, '\0');
    for (size_t i = 0; i < data.size(); i++)
        data[i] = (char)(i * 7);
    ASSERT_EQ(1, write_file(p.c_str(), data.data(), data.size()));
    uint64_t size = 99;
    unsigned char *b = read_file(p.c_str(), &size);
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(data.size(), size);
    EXPECT_EQ(0, memcmp(b, data.data(), data.size()));
    free(b);

    spit(d + "\\empty", "");
    b = read_file((d + "\\empty").c_str(), &size);
    ASSERT_NE(nullptr, b) << "an empty file reads as a buffer of size 0";
    EXPECT_EQ(0u, size);
    free(b);
}

TEST(WriteReadFile, FailuresAndTheirMessages)
{
    std::string d = scratch();
    log_reset();
    uint64_t size = 77;
    EXPECT_EQ(nullptr, read_file((d + "\\missing").c_str(), &size));
    EXPECT_EQ((DWORD)ERROR_FILE_NOT_FOUND, GetLastError());
    EXPECT_EQ(nullptr, read_file(d.c_str(), &size)) << "a folder";
    // Larger than one read can move: refused with a reason, never "success".
    ASSERT_TRUE(sparse_file(d + "\\huge", 5ull << 30));
    SetLastError(0);
    EXPECT_EQ(nullptr, read_file((d + "\\huge").c_str(), &size));
    EXPECT_EQ((DWORD)ERROR_FILE_TOO_LARGE, GetLastError());
    DeleteFileA((d + "\\huge").c_str());
    EXPECT_EQ(77u, size) << "size untouched on failure";
    EXPECT_TRUE(log_lines().empty()) << "read_file logs nothing";

    EXPECT_EQ(0, write_file(d.c_str(), "x", 1)) << "the path is a folder";
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(1u, lines.size());
    char reason[600];
    EXPECT_EQ("cannot write " + d + ": " + error_text(ERROR_ACCESS_DENIED, reason, sizeof reason), lines[0]);
}

// A file that replaces another is written beside it and renamed over it:
// when the new one cannot take the old one's place (here another program
// holds the old one open), the old one stays as it was and the temporary
// file goes. A temporary file that a stopped run left is taken over.
TEST(WriteReadFile, ReplacingKeepsTheOldFileUntilTheNewIsWhole)
{
    std::string d = scratch(), path = d + "\\f.dat", src = d + "\\src.dat";
    spit(path, "old");
    spit(src, "copied");
    ASSERT_EQ(1, write_file(path.c_str(), "new", 3));
    EXPECT_EQ("new", slurp(path));
    EXPECT_EQ((std::vector<std::string>{"f.dat", "src.dat"}), list_dir(d));

    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    log_reset();
    EXPECT_EQ(0, write_file(path.c_str(), "newer", 5));
    EXPECT_EQ(0, copy_file(src.c_str(), path.c_str(), nullptr));
    CloseHandle(held);
    EXPECT_EQ("new", slurp(path));
    EXPECT_EQ((std::vector<std::string>{"f.dat", "src.dat"}), list_dir(d)) << "no temporary file is left";
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(2u, lines.size());
    for (const std::string &l : lines) {
        EXPECT_EQ(0u, l.find("cannot write " + path + ": ")) << l;
        EXPECT_NE(std::string::npos, l.find(" (error ")) << l;
    }

    spit(path + DEST_TEMP_SUFFIX, "left by a stopped run");
    ASSERT_EQ(1, copy_file(src.c_str(), path.c_str(), nullptr));
    EXPECT_EQ("copied", slurp(path));
    EXPECT_EQ((std::vector<std::string>{"f.dat", "src.dat"}), list_dir(d));
}

static std::vector<uint64_t> calls;
static void record(uint64_t done, uint64_t total, void *ctx)
{
    EXPECT_EQ(123u, total);
    EXPECT_EQ((void *)&calls, ctx);
    calls.push_back(done);
}

TEST(CopyFileTest, BlocksOfOneMiBWithOneCallbackEach)
{
    std::string d = scratch();
    std::string data(2621440, 'q'); // 2.5 MiB
    data[1048576] = 'r';
    spit(d + "\\src", data);
    calls.clear();
    Progress p = {5, 123, record, &calls};
    ASSERT_EQ(1, copy_file((d + "\\src").c_str(), (d + "\\new\\dst").c_str(), &p));
    EXPECT_EQ(data, slurp(d + "\\new\\dst"));
    EXPECT_EQ((std::vector<uint64_t>{5 + 1048576, 5 + 2097152, 5 + 2621440}), calls);

    spit(d + "\\empty", "");
    calls.clear();
    ASSERT_EQ(1, copy_file((d + "\\empty").c_str(), (d + "\\empty2").c_str(), &p));
    EXPECT_TRUE(calls.empty());
    EXPECT_TRUE(file_exists(d + "\\empty2"));
    ASSERT_EQ(1, copy_file((d + "\\src").c_str(), (d + "\\dst2").c_str(), nullptr));
}

TEST(CopyFileTest, Failures)
{
    std::string d = scratch();
    log_reset();
    std::string missing = d + "\\missing";
    EXPECT_EQ(0, copy_file(missing.c_str(), (d + "\\out").c_str(), nullptr));
    spit(d + "\\src", "abc");
    EXPECT_EQ(0, copy_file((d + "\\src").c_str(), d.c_str(), nullptr));
    // Each names the file and gives the system's reason.
    char not_found[600], denied[600];
    error_text(ERROR_FILE_NOT_FOUND, not_found, sizeof not_found);
    error_text(ERROR_ACCESS_DENIED, denied, sizeof denied);
    EXPECT_EQ((std::vector<std::string>{"cannot read " + missing + ": " + not_found, "cannot write " + d + ": " + denied}),
              log_lines());
    EXPECT_EQ(0, copy_file(missing.c_str(), (d + "\\made\\here\\out").c_str(), nullptr));
    EXPECT_TRUE(dir_exists(d + "\\made\\here")) << "the destination's folders are made even without a source";
    EXPECT_FALSE(file_exists(d + "\\made\\here\\out"));
}

TEST(ProgressAdd, NullCallbackOnlyCounts)
{
    Progress p = {1, 10, nullptr, nullptr};
    progress_add(&p, 41);
    EXPECT_EQ(42u, p.done);
}

TEST(PathTests, ExistsAndIsDir)
{
    std::string d = scratch();
    spit(d + "\\f", "1");
    EXPECT_EQ(1, path_exists((d + "\\f").c_str()));
    EXPECT_EQ(0, is_dir((d + "\\f").c_str()));
    EXPECT_EQ(1, is_dir(d.c_str()));
    EXPECT_EQ(0, path_exists((d + "\\nope").c_str()));
    EXPECT_EQ(0, is_dir((d + "\\nope").c_str()));
}

TEST(DeleteTree, ReadOnlyHiddenAndMissing)
{
    std::string d = scratch();
    std::string t = d + "\\tree";
    spit(t + "\\ro.txt", "r");
    SetFileAttributesA((t + "\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    spit(t + "\\hidden\\deep\\f", "h");
    SetFileAttributesA((t + "\\hidden").c_str(), FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(1, delete_tree(t.c_str()));
    EXPECT_FALSE(dir_exists(t));
    EXPECT_EQ(0, delete_tree(t.c_str())) << "a missing path";
}

// Wine cannot make links through the API, so the test asks the Unix ln.
// Wine starts Unix programs too, but neither hands back their exit code nor
// waits for them: the link counts as made once Windows sees it.
static bool unix_symlink(const std::string &target, const std::string &link, const std::string &winlink)
{
    run_process("/bin/ln -sfn \"" + target + "\" \"" + link + "\"");
    for (int i = 0; i < 100 && GetFileAttributesA(winlink.c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(20);
    return GetFileAttributesA(winlink.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(DeleteTree, NeverFollowsALink)
{
    std::string d = scratch();
    spit(d + "\\outside\\keep.txt", "precious");
    spit(d + "\\outside-file.txt", "also precious");
    spit(d + "\\tree\\a.txt", "a");
    const char *ub = getenv("TARNOK_UNIX_BUILD");
    ASSERT_NE(nullptr, ub);
    const testing::TestInfo *ti = testing::UnitTest::GetInstance()->current_test_info();
    std::string u = std::string(ub) + "/scratch/" + ti->test_suite_name() + "." + ti->name();
    if (!unix_symlink(u + "/outside", u + "/tree/dirlink", d + "\\tree\\dirlink") ||
        !unix_symlink(u + "/outside-file.txt", u + "/tree/filelink", d + "\\tree\\filelink"))
        GTEST_SKIP() << "cannot make a symbolic link here";
    DWORD a = GetFileAttributesA((d + "\\tree\\dirlink").c_str());
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, a);
    EXPECT_TRUE(a & FILE_ATTRIBUTE_REPARSE_POINT);
    delete_tree((d + "\\tree").c_str());
    EXPECT_EQ("precious", slurp(d + "\\outside\\keep.txt"));
    EXPECT_EQ("also precious", slurp(d + "\\outside-file.txt"));
    EXPECT_FALSE(file_exists(d + "\\tree\\a.txt"));
    // Wine deletes a file link's target when asked to delete the link, so
    // there the link stays; on Windows the link itself goes.
}

// Handed a link itself, delete_tree removes at most the link: under Wine the
// Unix link stays, and on Windows the junction goes; the target keeps all.
TEST(DeleteTree, AGivenLinkIsNotEntered)
{
    std::string d = scratch();
    spit(d + "\\outside\\keep.txt", "precious");
    spit(d + "\\outside\\sub\\deep.txt", "deep");
    const char *ub = getenv("TARNOK_UNIX_BUILD");
    ASSERT_NE(nullptr, ub);
    const testing::TestInfo *ti = testing::UnitTest::GetInstance()->current_test_info();
    std::string u = std::string(ub) + "/scratch/" + ti->test_suite_name() + "." + ti->name();
    if (!unix_symlink(u + "/outside", u + "/link", d + "\\link"))
        GTEST_SKIP() << "cannot make a symbolic link here";
    delete_tree((d + "\\link").c_str());
    EXPECT_EQ((std::vector<std::string>{"keep.txt", "sub\\", "sub\\deep.txt"}), list_tree(d + "\\outside"));
    EXPECT_EQ("precious", slurp(d + "\\outside\\keep.txt"));
}

// The ranges a copy could not read: added and taken as a copy meets and
// fills them, joined where they touch, and kept apart otherwise.
TEST(Ranges, AddAndTake)
{
    struct Step {
        char op; // '+' add, '-' take
        uint64_t start, end;
        std::vector<uint64_t> after;
    } steps[] = {
        {'+', 4096, 6144, {4096, 6144}},
        {'+', 0, 2048, {0, 2048, 4096, 6144}},
        {'+', 2048, 4096, {0, 6144}},                      // touching both: one range
        {'+', 10240, 12288, {0, 6144, 10240, 12288}},
        {'+', 100, 100, {0, 6144, 10240, 12288}},          // empty: nothing
        {'-', 2048, 4096, {0, 2048, 4096, 6144, 10240, 12288}}, // split
        {'-', 1024, 11264, {0, 1024, 11264, 12288}},       // across several
        {'-', 0, 1024, {11264, 12288}},
        {'-', 0, 20000, {}},
    };
    Ranges r = {};
    for (const Step &s : steps) {
        ASSERT_EQ(1, s.op == '+' ? ranges_add(&r, s.start, s.end) : ranges_take(&r, s.start, s.end));
        EXPECT_EQ(s.after, std::vector<uint64_t>(r.at, r.at + 2 * r.count)) << s.op << s.start << "-" << s.end;
    }
    ranges_free(&r);
}

// A partial file's map: written, read back the same; anything else read
// is no map.
TEST(Ranges, MapText)
{
    Ranges r = {};
    ASSERT_EQ(1, ranges_add(&r, 6144, 12288));
    ASSERT_EQ(1, ranges_add(&r, 1042432, 1048576));
    std::string text(ranges_map_size(&r), '\0');
    text.resize(ranges_format(&r, 1048576, &text[0], text.size()));
    EXPECT_EQ("tarnok-missing 1\r\n1048576\r\n6144 12288\r\n1042432 1048576\r\n", text);
    Ranges back;
    ASSERT_EQ(1, ranges_parse(text.data(), text.size(), 1048576, &back));
    EXPECT_EQ(std::vector<uint64_t>(r.at, r.at + 4), std::vector<uint64_t>(back.at, back.at + 4));
    ranges_free(&back);
    const std::string head = "tarnok-missing 1\r\n100\r\n";
    for (const std::string &bad : {
             text.substr(0, text.size() - 1),     // cut short
             head + "10 20\r\n20 30\r\n",          // touching
             head + "20 30\r\n10 15\r\n",          // out of order
             head + "10 10\r\n",                   // empty
             head + "90 101\r\n",                  // past the size
             head + "010 20\r\n",                  // a leading zero
             head + "10 20\n",                     // LF alone
             std::string("tarnok-missing 2\r\n100\r\n"),
         }) {
        EXPECT_EQ(0, ranges_parse(bad.data(), bad.size(), 100, &back)) << bad;
        EXPECT_EQ(0, back.count);
    }
    EXPECT_EQ(0, ranges_parse(text.data(), text.size(), 1048575, &back)) << "another size";
    ranges_free(&r);
}

// A partial file filled from a copy held in memory: the gaps are read, the
// file takes its name, and its data, its map and a map that a killed run
// was rewriting all go. Another copy that differs where the file was read
// well gives nothing, and leaves the partial file as it was.
TEST(Partial, FilledWholeLeavesNothingBeside)
{
    std::string dir = scratch("partial"), dst = dir + "\\FILE.DAT";
    std::string whole(20000, '\0');
    for (size_t i = 0; i < whole.size(); i++)
        whole[i] = (char)(i * 7 + 3);
    std::string read = whole;
    std::fill(read.begin() + 4096, read.begin() + 8192, '\0');
    Ranges gap = {};
    ASSERT_EQ(1, ranges_add(&gap, 4096, 8192));
    std::string map(ranges_map_size(&gap), '\0');
    map.resize(ranges_format(&gap, whole.size(), &map[0], map.size()));
    ranges_free(&gap);
    auto lay_partial = [&] {
        spit(dst + ".tarnok-part", read);
        spit(dst + ".tarnok-map", map);
        spit(dst + ".tarnok-map.tarnok-new", "cut");
    };

    lay_partial();
    std::string other = whole;
    other[100] = (char)~other[100];
    SourceRead s;
    ASSERT_EQ(1, source_open(&s, nullptr, (const unsigned char *)other.data(), other.size(), nullptr));
    FillFrom differs = {&s, 1, nullptr, nullptr, 32 * 1024};
    EXPECT_EQ(FILL_REFUSED, copy_fill(dst.c_str(), whole.size(), &differs, nullptr, nullptr));
    source_close(&s);
    EXPECT_EQ(read, slurp(dst + ".tarnok-part"));
    EXPECT_FALSE(file_exists(dst));

    ASSERT_EQ(1, source_open(&s, nullptr, (const unsigned char *)whole.data(), whole.size(), nullptr));
    FillFrom same = {&s, 0, nullptr, nullptr, 0};
    EXPECT_EQ(FILL_WHOLE, copy_fill(dst.c_str(), whole.size(), &same, nullptr, nullptr));
    source_close(&s);
    EXPECT_EQ(whole, slurp(dst));
    EXPECT_EQ((std::vector<std::string>{"FILE.DAT"}), list_tree(dir));
}
