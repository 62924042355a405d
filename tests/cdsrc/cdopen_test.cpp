// cd_open on every kind of path a user can give, and the folder walks.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cdsrc/cdinternal.h"
#include "testsupport.h"

namespace {

struct Opened {
    CdSource *src;
    explicit Opened(const std::string &path) : src(cd_open(path.c_str())) {}
    ~Opened() { cd_close(src); }
};

TEST(CdOpen, FoldersWithTrailingSeparators)
{
    std::string disc = media_path("disc2");
    const char *tails[] = {"", "\\", "\\\\", "/", "\\/"};
    for (const char *t : tails) {
        Opened o(disc + t);
        ASSERT_TRUE(o.src != nullptr) << t;
        EXPECT_EQ(0, o.src->kind);
        EXPECT_EQ(disc, o.src->path) << t;
        EXPECT_EQ("folder " + disc, cd_describe(o.src));
        EXPECT_TRUE(o.src->image == INVALID_HANDLE_VALUE);
        EXPECT_EQ(0u, o.src->sector_size);
        EXPECT_EQ(1, cd_exists(o.src, "TARNOK\\DISK2\\DISK2"));
        EXPECT_EQ(1, cd_exists(o.src, "TARNOK\\DISK2"));
        EXPECT_EQ(0, cd_exists(o.src, "TARNOK\\DISK1\\DISK1"));
    }
}

TEST(CdOpen, DriveRoots)
{
    struct Case {
        const char *in, *path;
    } cases[] = {{"C:", "C:\\"}, {"C:\\", "C:\\"}, {"C:\\\\", "C:\\"}, {"c:/", "c:/"}};
    for (const Case &c : cases) {
        Opened o(c.in);
        ASSERT_TRUE(o.src != nullptr) << c.in;
        EXPECT_EQ(0, o.src->kind);
        EXPECT_STREQ(c.path, o.src->path) << c.in;
        EXPECT_EQ(std::string("folder ") + c.path, cd_describe(o.src));
    }
}

// A drive letter mapped onto disc 2's folder, as a CD-ROM drive would be:
// the joined paths hold "Q:\\TARNOK", which the platform accepts.
TEST(CdOpen, DriveLetterOfADisc)
{
    std::string link = std::string(getenv("TARNOK_UNIX_BUILD")) + "/wineprefix/dosdevices/q:";
    std::string target = std::string(getenv("TARNOK_UNIX_MEDIA")) + "/disc2";
    run_process("/bin/ln -sfn " + target + " " + link);
    for (int i = 0; i < 100 && !dir_exists("Q:\\TARNOK"); i++)
        Sleep(50);
    ASSERT_TRUE(dir_exists("Q:\\TARNOK")) << "could not map Q: under Wine";
    Opened o("Q:");
    ASSERT_TRUE(o.src != nullptr);
    EXPECT_STREQ("Q:\\", o.src->path);
    EXPECT_EQ("folder Q:\\", std::string(cd_describe(o.src)));
    EXPECT_EQ(1, cd_exists(o.src, "TARNOK\\DISK2\\DISK2"));
    uint64_t size = 0;
    unsigned char *b = cd_read(o.src, "TARNOK\\DISK2\\DISK2", &size);
    ASSERT_TRUE(b != nullptr);
    EXPECT_EQ(slurp(media_path("disc2\\TARNOK\\DISK2\\DISK2")), std::string((char *)b, (size_t)size));
    free(b);
    CdSource *f = cd_open(media_path("disc2").c_str());
    EXPECT_EQ(cd_total_bytes(f), cd_total_bytes(o.src));
    cd_close(f);
}

// Cue sheets beside a copy of disc 2's Mode 1 image, named in every way a
// sheet may name it.
TEST(CdOpen, CueSheets)
{
    std::string dir = scratch();
    ASSERT_TRUE(CopyFileA(media_path("disc2-m1.bin").c_str(), (dir + "\\disc.bin").c_str(), FALSE));
    std::string m2 = media_path("disc2-m2.bin");
    struct Case {
        const char *sheet;
        std::string text;
        std::string image; // empty: cd_open gives null
        uint32_t offset;
    } cases[] = {
        {"quoted.cue", "FILE \"disc.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n", dir + "\\disc.bin", 16},
        {"drive.cue", "FILE \"" + m2 + "\" BINARY\r\n  TRACK 01 MODE2/2352\r\n", m2, 24},
        {"UPPER.CUE", "FILE \"disc.bin\" BINARY\n", dir + "\\disc.bin", 16},
        {"noquote.cue", "FILE disc.bin BINARY\r\n  TRACK 01 MODE1/2352\r\n", dir + "\\disc.bin", 16},
        {"missing.cue", "FILE \"nothere.bin\" BINARY\r\n", "", 0},
        {"lower.cue", "file \"disc.bin\" BINARY\r\n", dir + "\\disc.bin", 16},
        {"empty.cue", "", "", 0},
        {"title.cue", "TITLE \"MY PROFILE\"\r\nFILE \"disc.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n", dir + "\\disc.bin",
         16},
        {"cdtext.cue", "CDTEXTFILE \"disc.cdt\"\r\nFILE \"disc.bin\" BINARY\r\n", dir + "\\disc.bin", 16},
        // The volume is looked for from the file's start when the sheet's
        // INDEX 01 points where there is none, as it was before.
        {"wrongstart.cue", "FILE \"disc.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n    INDEX 01 00:02:00\r\n",
         dir + "\\disc.bin", 16},
    };
    for (const Case &c : cases) {
        spit(dir + "\\" + c.sheet, c.text);
        Opened o(dir + "\\" + c.sheet);
        if (c.image.empty()) {
            EXPECT_TRUE(o.src == nullptr) << c.sheet;
            continue;
        }
        ASSERT_TRUE(o.src != nullptr) << c.sheet;
        EXPECT_EQ(1, o.src->kind);
        EXPECT_EQ(c.image, o.src->path) << c.sheet;
        EXPECT_EQ("image " + c.image, cd_describe(o.src)) << c.sheet;
        EXPECT_EQ(c.offset, o.src->data_offset) << c.sheet;
        EXPECT_EQ(0u, o.src->track_start) << c.sheet;
        EXPECT_EQ(1, cd_exists(o.src, "tarnok\\disk2\\disk2")) << c.sheet;
    }
}

// A sheet's path written with '/' names an image in the sheet's folder, not
// in the current one.
TEST(CdOpen, CueSheetPathWithSlashes)
{
    std::string dir = scratch();
    ASSERT_TRUE(CopyFileA(media_path("disc2-m1.bin").c_str(), (dir + "\\disc.bin").c_str(), FALSE));
    spit(dir + "\\a.cue", "FILE \"disc.bin\" BINARY\r\n  TRACK 01 MODE1/2352\r\n");
    std::string slashed = dir;
    for (char &c : slashed)
        if (c == '\\')
            c = '/';
    Opened o(slashed + "/a.cue");
    ASSERT_TRUE(o.src != nullptr);
    EXPECT_EQ(slashed + "/disc.bin", o.src->path);
    EXPECT_EQ(1, cd_exists(o.src, "TARNOK\\DISK2\\DISK2"));
}

// A sheet given without a folder names an image relative to the current folder.
TEST(CdOpen, CueSheetInTheCurrentFolder)
{
    std::string dir = scratch();
    ASSERT_TRUE(CopyFileA(media_path("disc2-m2.bin").c_str(), (dir + "\\disc.bin").c_str(), FALSE));
    spit(dir + "\\a.cue", "FILE \"disc.bin\" BINARY\r\n");
    char old[MAX_PATH];
    GetCurrentDirectoryA(sizeof old, old);
    ASSERT_TRUE(SetCurrentDirectoryA(dir.c_str()));
    CdSource *src = cd_open("a.cue");
    SetCurrentDirectoryA(old);
    ASSERT_TRUE(src != nullptr);
    EXPECT_STREQ("disc.bin", src->path);
    EXPECT_EQ(24u, src->data_offset);
    cd_close(src);
}

TEST(CdOpen, FilesThatAreNoImage)
{
    std::string dir = scratch();
    spit(dir + "\\text.iso", "This is not a disc image.\r\n");
    spit(dir + "\\empty.iso", "");
    spit(dir + "\\short.iso", std::string(16 * 2048 + 100, '\0'));
    const char *names[] = {"text.iso", "empty.iso", "short.iso", "missing.iso", "missing\\"};
    for (const char *n : names) {
        Opened o(dir + "\\" + n);
        EXPECT_TRUE(o.src == nullptr) << n;
    }
    Opened no_disc("R:");
    EXPECT_TRUE(no_disc.src == nullptr) << "a drive letter without a disc";
    Opened raw(media_path("disc2-m1.bin"));
    ASSERT_TRUE(raw.src != nullptr) << "a raw image chosen directly";
    EXPECT_EQ(2352u, raw.src->sector_size);
    EXPECT_EQ(16u, raw.src->data_offset);
    cd_close(nullptr);
}

// Hidden and system files count and are copied; copies end up with normal
// attributes even where the source was read-only.
TEST(CdFolder, AttributesAreCountedAndCleared)
{
    std::string src = scratch("src"), dst = scratch("dst") + "\\copy";
    struct File {
        const char *name;
        size_t size;
        DWORD attrs;
    } files[] = {
        {"plain.txt", 10, FILE_ATTRIBUTE_NORMAL},
        {"hidden.txt", 200, FILE_ATTRIBUTE_HIDDEN},
        {"system.txt", 3000, FILE_ATTRIBUTE_SYSTEM},
        {"sub\\readonly.txt", 40000, FILE_ATTRIBUTE_READONLY},
        {"sub\\all.txt", 5, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
    };
    uint64_t want = 0;
    for (const File &f : files) {
        if (std::string(f.name).find('\\') != std::string::npos)
            CreateDirectoryA((src + "\\sub").c_str(), NULL);
        spit(src + "\\" + f.name, std::string(f.size, 'x'));
        SetFileAttributesA((src + "\\" + f.name).c_str(), f.attrs);
        want += f.size;
    }
    Opened o(src);
    ASSERT_TRUE(o.src != nullptr);
    EXPECT_EQ(want, cd_total_bytes(o.src));
    Progress p = {0, want, nullptr, nullptr};
    EXPECT_EQ(1, cd_copy_all(o.src, dst.c_str(), &p));
    EXPECT_EQ(want, p.done);
    for (const File &f : files) {
        DWORD a = GetFileAttributesA((dst + "\\" + f.name).c_str());
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, a) << f.name;
        EXPECT_EQ(0u, a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) << f.name;
        EXPECT_EQ(std::string(f.size, 'x'), slurp(dst + "\\" + f.name)) << f.name;
        // The source really had the attribute, or the test shows nothing.
        EXPECT_EQ(f.attrs & ~FILE_ATTRIBUTE_NORMAL,
                  GetFileAttributesA((src + "\\" + f.name).c_str()) & f.attrs & ~FILE_ATTRIBUTE_NORMAL) << f.name;
    }
    SetFileAttributesA((src + "\\sub\\readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
    SetFileAttributesA((src + "\\sub\\all.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(CdFolder, DepthSixteenCopiedSeventeenLeftOut)
{
    Opened o(media_path("disc1"));
    ASSERT_TRUE(o.src != nullptr);
    std::string d1 = media_path("disc1\\D1");
    uint64_t want = 0;
    for (int level = 1; level <= 16; level++)
        want += ("level " + std::to_string(level) + "\r\n").size();
    EXPECT_EQ(want, dir_total(d1.c_str(), 1));
    std::string dst = scratch();
    EXPECT_EQ(1, dir_copy(d1.c_str(), (dst + "\\D1").c_str(), nullptr, 1));
    std::string d16 = dst;
    for (int level = 1; level <= 16; level++)
        d16 += "\\D" + std::to_string(level);
    EXPECT_TRUE(file_exists(d16 + "\\F16.TXT"));
    EXPECT_FALSE(dir_exists(d16 + "\\D17"));
}

// A folder that cannot be listed is a failed copy that names it (on a disc,
// an unreadable directory sector: the game would lack its files); one that
// lists empty is copied as an empty folder.
TEST(CdFolder, UnlistableSourceFailsAndAnEmptyOneCopies)
{
    std::string dst = scratch() + "\\out", missing = scratch("x") + "\\missing";
    log_reset();
    EXPECT_EQ(0, dir_copy(missing.c_str(), dst.c_str(), nullptr, 0));
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(1u, lines.size());
    std::string head = "cannot list " + missing + ": ";
    EXPECT_EQ(head, lines[0].substr(0, head.size()));
    EXPECT_NE(std::string::npos, lines[0].find("(error ")) << lines[0];
    EXPECT_EQ(0u, dir_total("Z:\\no\\such\\folder", 0));

    std::string empty = scratch("empty") + "\\disc", out = scratch() + "\\copy";
    ASSERT_TRUE(CreateDirectoryA(empty.c_str(), NULL));
    log_reset();
    EXPECT_EQ(1, dir_copy(empty.c_str(), out.c_str(), nullptr, 0));
    EXPECT_TRUE(dir_exists(out));
    EXPECT_TRUE(list_dir(out).empty());
    EXPECT_TRUE(log_lines().empty());
}

// The running test's scratch folder as Unix sees it.
std::string unix_scratch()
{
    const char *ub = getenv("TARNOK_UNIX_BUILD");
    const testing::TestInfo *ti = testing::UnitTest::GetInstance()->current_test_info();
    return std::string(ub ? ub : "") + "/scratch/" + ti->test_suite_name() + "." + ti->name();
}

// Wine cannot make links, nor files Windows would refuse to name, through
// the API: the Unix shell makes them. Wine starts Unix programs but neither
// waits for them nor hands back their exit code, so the work counts as done
// once Windows sees the last path it makes.
bool unix_sh(const std::string &script, const std::string &last)
{
    run_process("/bin/sh -c \"" + script + "\"");
    for (int i = 0; i < 150 && GetFileAttributesA(last.c_str()) == INVALID_FILE_ATTRIBUTES; i++)
        Sleep(20);
    return GetFileAttributesA(last.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD WINAPI watchdog(void *)
{
    Sleep(30000);
    fprintf(stderr, "timeout: the folder walk took more than 30 s\n");
    fflush(stderr);
    ExitProcess(3);
    return 0;
}

// A folder holding a file and three links to itself took 3^16 listings;
// links fanning out to one folder copied it once per link. Each folder is
// now entered once: a link back to a folder on the path, or to one entered
// before, is passed over with a line.
TEST(CdFolder, LinksToFoldersAlreadyEnteredAreNotEnteredAgain)
{
    std::string d = scratch(), u = unix_scratch();
    spit(d + "\\tree\\f.txt", "f");
    spit(d + "\\tree\\shared\\s.txt", "ss");
    // Under Wine the scratch folder's removal leaves links behind: clear them.
    std::string ln = "cd '" + u + "/tree' && find . -type l -delete && ln -s . self1 && ln -s .. shared/back && ln -s '" + u + "/tree' self3";
    ln += " && ln -s shared zfan1 && ln -s shared zfan2 && echo > ../made.txt";
    if (!unix_sh(ln, d + "\\made.txt"))
        GTEST_SKIP() << "cannot make a symbolic link here";
    Opened o(d + "\\tree");
    ASSERT_TRUE(o.src != nullptr);
    // Without the guard the walks take 3^16 listings: end the test, not the run.
    CloseHandle(CreateThread(NULL, 0, watchdog, NULL, 0, NULL));
    EXPECT_EQ(3u, cd_total_bytes(o.src)) << "f.txt and shared\\s.txt, once each";
    std::string dst = scratch("copy");
    log_reset();
    EXPECT_EQ(1, cd_copy_all(o.src, dst.c_str(), nullptr));
    EXPECT_EQ((std::vector<std::string>{"f.txt", "shared\\", "shared\\s.txt"}), list_tree(dst));
    std::vector<std::string> want;
    for (const char *link : {"self1", "self3", "shared\\back", "zfan1", "zfan2"})
        want.push_back("skipped " + d + "\\tree\\" + link + ": folder entered before");
    std::vector<std::string> lines = log_lines();
    std::sort(lines.begin(), lines.end());
    EXPECT_EQ(want, lines);
}

// A folder on another file system can hold names Windows would take for a
// device or strip: the copy refuses them rather than write to a port.
TEST(CdFolder, DeviceNamesAreRefused)
{
    const char *names[] = {"AUX", "NUL.TXT", "com1", "CONOUT$"};
    int n = 0;
    for (const char *name : names) {
        std::string d = scratch(std::to_string(n)), u = unix_scratch() + "." + std::to_string(n++);
        spit(d + "\\disc\\A.TXT", "a");
        if (!unix_sh("echo x > '" + u + "/disc/" + name + "' && echo b > '" + u + "/disc/B.TXT'",
                     d + "\\disc\\B.TXT"))
            GTEST_SKIP() << "cannot make a file here";
        if (list_dir(d + "\\disc").size() != 3)
            GTEST_SKIP() << "Wine does not list " << name << " under its own name";
        Opened o(d + "\\disc");
        ASSERT_TRUE(o.src != nullptr);
        std::string dst = d + "\\out";
        log_reset();
        EXPECT_EQ(0, cd_copy_all(o.src, dst.c_str(), nullptr)) << name;
        EXPECT_EQ(std::vector<std::string>{"unsafe name \"" + std::string(name) + "\" in " + d + "\\disc"},
                  log_lines()) << name;
    }
}

} // namespace
