// The install sequence end to end on the sample media, in prebuilt mode: this
// test program carries the stand-in game as its GAMEEXE resource.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>

#include <gtest/gtest.h>

#include "installcheck.h"
#include "testsupport.h"

typedef std::vector<std::string> Lines;

static std::string update() { return media_path("TARNO103.EXE"); }

static Lines operator+(Lines a, const Lines &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What the log says of a source given, in the forms these tests give:
// a folder, a plain image, or a path where there is nothing.
static std::string told(const std::string &path)
{
    if (dir_exists(path))
        return "folder " + path;
    if (!file_exists(path))
        return path + " (not found)";
    return "ISO image " + path + " (2,048-byte sectors)";
}

static std::string told_update(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA a;
    char n[32];
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a))
        return path + " (not found)";
    return "file " + path + " (" + fmt_count((uint64_t)a.nFileSizeHigh << 32 | a.nFileSizeLow, n, sizeof n) +
           " bytes)";
}

// The first lines of an install: the folder and mode, then each source as
// it was given (CD 1 and CD 2 as the log tells them).
static Lines started(const std::string &dir, const std::string &cd1, const std::string &cd2,
                     const std::string &patch = update(), const char *mode = "prebuilt")
{
    return {"Install to " + dir + " (" + mode + ")", "CD 1 source: " + cd1, "CD 2 source: " + cd2,
            "Update source: " + told_update(patch)};
}

static Lines copying(const std::string &desc1, const std::string &desc2)
{
    return {"Copying " + desc1 + " ...", "Copying " + desc2 + " ...", "Unpacking the 1.03 update ..."};
}

static const Lines finished = {"Setting up the game files ...", "Done."};

static const char default_cfg[] = "[DIGITAL]\r\nDeviceName  = Sound Blaster Pro\r\nDeviceIRQ   = 5 *\r\n"
                                  "DeviceDMA   = 1 *\r\nDevicePort  = 220 *\r\nDeviceID    = 0xe001\r\n\r\n"
                                  "[MIDI]\r\nDeviceName  = Sound Blaster Pro\r\nDevicePort  = 0x388\r\n"
                                  "DeviceID    = 0xa002\r\n\r\n[HARD DISK]\r\nPre-load    = No\r\n\r\n"
                                  "[CDROM]\r\nLecteur     = D\r\n";

static const char *const sprite_dirs[] = {"TARNOK", "ARME", "DIVERS", "ORBU", "GRISTAL",
                                          "FIRST", "DOLVEN", "ZAVR", "SOLDAT"};

static bool has_icon_group(const std::string &exe)
{
    HMODULE m = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (!m)
        return false;
    bool found = FindResourceA(m, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14)) != NULL;
    FreeLibrary(m);
    return found;
}

static std::string this_program()
{
    char p[MAX_PATH];
    GetModuleFileNameA(NULL, p, sizeof p);
    return p;
}

// Checks an install folder file by file against the media it came from.
static void expect_installed(const std::string &dir, const std::string &disc1, const std::string &disc2,
                             bool default_config = true)
{
    std::string game = dir + "\\game", hd = game + "\\hd\\TARNOK";
    EXPECT_EQ("", compare_copy(disc1, game + "\\cd1"));
    EXPECT_EQ("", compare_copy(disc2, game + "\\cd2"));

    std::string exe = slurp(hd + "\\TARNOKP2.EXE");
    EXPECT_EQ(916367u, exe.size());
    EXPECT_EQ(0xB83E34F1u, crc32_buf(exe.data(), exe.size()));

    // GRAPH: the INSTALL folder's files (not its sub-folders), then INSTALL.CR's members.
    std::string install = disc1 + "\\TARNOK\\INSTALL", graph = hd + "\\GRAPH";
    size_t install_files = 0;
    for (const std::string &n : list_dir(install)) {
        if (dir_exists(install + "\\" + n)) {
            EXPECT_FALSE(dir_exists(graph + "\\" + n)) << n;
            continue;
        }
        install_files++;
        EXPECT_EQ(slurp(install + "\\" + n), slurp(graph + "\\" + n)) << n;
    }
    EXPECT_GT(list_dir(graph).size(), install_files) << "INSTALL.CR's members are unpacked into GRAPH";

    for (const char *s : sprite_dirs) {
        std::string from = disc1 + "\\TARNOK\\DISK1\\COMBAT\\SPRITES\\" + s, to = hd + "\\" + s;
        EXPECT_EQ(list_dir(from), list_dir(to)) << s;
        for (const std::string &n : list_dir(from))
            EXPECT_EQ(slurp(from + "\\" + n), slurp(to + "\\" + n)) << s << "\\" << n;
    }
    EXPECT_EQ(slurp(disc1 + "\\TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV"), slurp(hd + "\\MUSIC\\MUSIK1.WAV"));
    EXPECT_TRUE(dir_exists(hd + "\\MIDI") && list_dir(hd + "\\MIDI").empty());
    EXPECT_TRUE(dir_exists(hd + "\\OBJ") && list_dir(hd + "\\OBJ").empty());
    if (default_config) {
        EXPECT_EQ(std::string(default_cfg), slurp(game + "\\hd\\TARNOK.CFG"));
    }
    EXPECT_FALSE(file_exists(hd + "\\TARNOK.CFG")) << "TARNOK.CFG lies beside the TARNOK folder";

    EXPECT_EQ("MZ", slurp(dir + "\\tarnok.exe").substr(0, 2));
    EXPECT_TRUE(has_icon_group(dir + "\\tarnok.exe")) << "the icon from CD 1";
    EXPECT_EQ(slurp(this_program()), slurp(dir + "\\uninstall.exe"));
    EXPECT_FALSE(dir_exists(dir + "\\build"));

    std::string v;
    unsigned long type;
    ASSERT_TRUE(entry_value("InstallLocation", &v, &type));
    EXPECT_EQ(dir + '\0', v);
    EXPECT_TRUE(file_exists(start_menu_link()));
    EXPECT_TRUE(file_exists(desktop_link()));
}

// Bytes that the update's extraction added: everything under {hd} but what
// the arrangement of the game files put there.
static uint64_t update_bytes(const std::string &hd)
{
    uint64_t n = tree_bytes(hd) - tree_bytes(hd + "\\GRAPH") - tree_bytes(hd + "\\MUSIC");
    for (const char *s : sprite_dirs)
        n -= tree_bytes(hd + "\\" + s);
    return n;
}

static void expect_progress(const ProgressLog &p, const std::string &dir, uint64_t fixed)
{
    std::string game = dir + "\\game";
    uint64_t discs = tree_bytes(game + "\\cd1") + tree_bytes(game + "\\cd2");
    EXPECT_EQ(discs + fixed, p.total);
    ASSERT_FALSE(p.done.empty());
    EXPECT_TRUE(std::is_sorted(p.done.begin(), p.done.end())) << "progress never goes back";
    EXPECT_EQ(p.total + update_bytes(game + "\\hd\\TARNOK"), p.done.back())
        << "ends at the budget plus the update's unpacked bytes";
    std::string v;
    unsigned long type;
    ASSERT_TRUE(entry_value("EstimatedSize", &v, &type));
    ASSERT_EQ(4u, v.size());
    uint32_t kib;
    memcpy(&kib, v.data(), 4);
    EXPECT_EQ((uint32_t)(p.total >> 10), kib);
}

struct Form {
    const char *name;
    const char *cd1, *cd2;               // as given, under the media folder
    const char *kind1, *src1;            // the source holding disc 1, as the log names it
    const char *kind2, *src2;            // and the one holding disc 2
    const char *disc1, *disc2;           // the trees they were made from
    const char *told1, *told2;           // what the log tells of CD 1 and CD 2; %m: the media folder
};

// A form's told text with the media folder in it.
static std::string in_media(const char *text)
{
    std::string t = text;
    for (size_t at; (at = t.find("%m")) != std::string::npos;)
        t.replace(at, 2, media_path(""));
    return t;
}

// Cases are named by their name alone in test listings.
static void PrintTo(const Form &f, std::ostream *os) { *os << f.name; }

class SourceForms : public testing::TestWithParam<Form> {};

TEST_P(SourceForms, CopiesBothDiscsAndArrangesTheGame)
{
    const Form &f = GetParam();
    std::string dir = scratch() + "\\Tarnok";
    Lines lines;
    ProgressLog progress;
    ASSERT_EQ(1, install(options(media_path(f.cd1), media_path(f.cd2), update(), dir), &lines, &progress));
    std::string desc1 = std::string(f.kind1) + " " + media_path(f.src1);
    std::string desc2 = std::string(f.kind2) + " " + media_path(f.src2);
    EXPECT_EQ(started(dir, in_media(f.told1), in_media(f.told2)) + copying(desc1, desc2) + finished, lines);
    expect_installed(dir, media_path(f.disc1), media_path(f.disc2));
    expect_progress(progress, dir, 12582912);
}

INSTANTIATE_TEST_SUITE_P(
    Install, SourceForms,
    testing::Values(
        Form{"FolderAndFolder", "disc1", "disc2", "folder", "disc1", "folder", "disc2", "disc1", "disc2",
             "folder %m\\disc1", "folder %m\\disc2"},
        Form{"IsoAndMode1", "disc1.iso", "disc2-m1.cue", "image", "disc1.iso", "image", "disc2-m1.bin", "disc1", "disc2",
             "ISO image %m\\disc1.iso (2,048-byte sectors)",
             "CUE/BIN image %m\\disc2-m1.cue, data file %m\\disc2-m1.bin (2,352-byte raw sectors, mode 1)"},
        Form{"Mode2AndIso", "disc1-m2.cue", "disc2.iso", "image", "disc1-m2.bin", "image", "disc2.iso", "disc1", "disc2",
             "CUE/BIN image %m\\disc1-m2.cue, data file %m\\disc1-m2.bin (2,352-byte raw sectors, mode 2 form 1)",
             "ISO image %m\\disc2.iso (2,048-byte sectors)"},
        Form{"SubchannelAndPregap", "disc1-sub24.mds", "disc2-pregap.cue", "image", "disc1-sub24.mdf", "image",
             "disc2-pregap.bin", "disc1", "disc2",
             "Alcohol image %m\\disc1-sub24.mds, data file %m\\disc1-sub24.mdf (2,448-byte raw sectors with "
             "sub-channel, mode 2 form 1)",
             "CUE/BIN image %m\\disc2-pregap.cue, data file %m\\disc2-pregap.bin (2,352-byte raw sectors, mode 1, "
             "track from byte 352,800)"},
        // Given the other way round: exchanged without a word, told as given.
        Form{"Swapped", "disc2", "disc1.iso", "image", "disc1.iso", "folder", "disc2", "disc1", "disc2",
             "folder %m\\disc2", "ISO image %m\\disc1.iso (2,048-byte sectors)"}),
    [](const testing::TestParamInfo<Form> &i) { return std::string(i.param.name); });

// Failures before anything is copied leave nothing behind; later ones keep
// what was copied.
struct Failure {
    const char *name;
    const char *cd1, *cd2, *patch; // under the media folder; "" for a path that does not exist
    bool copies;                   // the discs are copied before the failure
    Lines lines;                   // after "Install to" and the copy lines
};

static void PrintTo(const Failure &f, std::ostream *os) { *os << f.name; }

class Failures : public testing::TestWithParam<Failure> {};

TEST_P(Failures, StopWithTheirMessage)
{
    const Failure &f = GetParam();
    std::string base = scratch(), dir = base + "\\Tarnok";
    spit(base + "\\other\\README.TXT", "not a Tarnok disc");
    // "huge": a sparse file of 5 GiB in other, larger than one read can move.
    if (!strcmp(f.patch, "huge")) {
        ASSERT_TRUE(sparse_file(base + "\\other\\TARNO103.EXE", 5ull << 30));
    }
    auto where = [&](const char *rel) {
        return !*rel                      ? base + "\\missing"
               : !strcmp(rel, "other")    ? base + "\\other"
               : !strcmp(rel, "huge")     ? base + "\\other\\TARNO103.EXE"
                                          : media_path(rel);
    };
    Lines lines;
    EXPECT_EQ(0, install(options(where(f.cd1), where(f.cd2), where(f.patch), dir), &lines));
    Lines expected = started(dir, told(where(f.cd1)), told(where(f.cd2)), where(f.patch));
    if (f.copies)
        expected = expected + copying("folder " + media_path("disc1"), "folder " + media_path("disc2"));
    // %s stands for the update's path, %r for the system's reason a missing file has.
    Lines want = f.lines;
    char reason[600];
    for (std::string &l : want) {
        if (l.find("%s") != std::string::npos)
            l.replace(l.find("%s"), 2, where(f.patch));
        if (l.find("%r") != std::string::npos)
            l.replace(l.find("%r"), 2, error_text(ERROR_FILE_NOT_FOUND, reason, sizeof reason));
    }
    EXPECT_EQ(expected + want, lines);
    // Into a folder that it made, a failed install leaves nothing behind.
    EXPECT_FALSE(dir_exists(dir)) << "nothing is left";
    DeleteFileA((base + "\\other\\TARNO103.EXE").c_str());
    EXPECT_EQ((std::vector<std::string>{"other\\", "other\\README.TXT"}), list_tree(base));
}

static const char not_official[] = "ERROR: this is not the official 1.03US update (TARNOKP2.EXE does not match)";

INSTANTIATE_TEST_SUITE_P(
    Install, Failures,
    testing::Values(
        Failure{"SameDisc1Twice", "disc1", "disc1.iso", "TARNO103.EXE", false, {"ERROR: CD 2 is not Tarnok disc 2"}},
        Failure{"SameDisc2Twice", "disc2", "disc2.iso", "TARNO103.EXE", false, {"ERROR: CD 1 is not Tarnok disc 1"}},
        Failure{"Disc2AndAnotherFolder", "disc2", "other", "TARNO103.EXE", false, {"ERROR: CD 1 is not Tarnok disc 1"}},
        Failure{"NoCd1", "", "disc2", "TARNO103.EXE", false, {"ERROR: CD 1: not a readable disc, image or folder"}},
        Failure{"NoCd2", "disc1", "", "TARNO103.EXE", false, {"ERROR: CD 2: not a readable disc, image or folder"}},
        Failure{"NoUpdate", "disc1", "disc2", "", false, {"ERROR: cannot read the 1.03 update file %s: %r"}},
        // Told by its size, not read into memory.
        Failure{"UpdateFarTooLarge", "disc1", "disc2", "huge", false, {"ERROR: %s is not the 1.03 update (5.0 GB)"}},
        // The update is checked in memory before anything is written.
        Failure{"UpdateNotAnArchive", "disc1", "disc2", "disc1\\TARNOK\\DISK1\\DISK1", false,
                {"LHA: no archive found", "ERROR: the 1.03 update file could not be unpacked"}},
        Failure{"UpdateOfAnotherSize", "disc1", "disc2", "update-badsize\\TARNO103.EXE", false, {not_official}},
        Failure{"UpdateWithAnotherCrc", "disc1", "disc2", "update-badcrc\\TARNO103.EXE", false, {not_official}}),
    [](const testing::TestParamInfo<Failure> &i) { return std::string(i.param.name); });

// A folder that existed before keeps what was copied into it, and the
// player's own files in it.
TEST(InstallFailure, IntoAnExistingFolderKeepsTheCopies)
{
    std::string base = scratch(), dir = base + "\\Tarnok", cd1 = disc1_without_install(base);
    spit(dir + "\\notes.txt", "mine");
    EXPECT_EQ(0, install(options(cd1, media_path("disc2"), update(), dir), nullptr));
    EXPECT_EQ("", compare_copy(cd1, dir + "\\game\\cd1")) << "the copies stay";
    EXPECT_EQ("", compare_copy(media_path("disc2"), dir + "\\game\\cd2"));
    EXPECT_EQ("mine", slurp(dir + "\\notes.txt"));
}

// Folders the install made above the install folder go with it; the one
// that was there stays.
TEST(InstallFailure, IntoNewFoldersRemovesEachItMade)
{
    std::string base = scratch(), dir = base + "\\Games\\Tarnok PC";
    std::vector<std::string> lines;
    EXPECT_EQ(0, install(options(media_path("disc1"), media_path("disc2"), media_path("update-badsize\\TARNO103.EXE"), dir),
                         &lines));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(not_official, lines.back());
    EXPECT_TRUE(dir_exists(base));
    EXPECT_TRUE(list_dir(base).empty());
}

// The budget is compared with the free space before anything is copied: a
// disc that declares more than the drive holds fails at once. Its huge file
// is sparse, and held open without sharing, so that a copy of it would fail
// at once too instead of filling the drive.
TEST(InstallFailure, TooLittleFreeSpaceFailsBeforeCopying)
{
    std::string base = scratch(), dir = base + "\\Tarnok", cd1 = base + "\\huge";
    spit(cd1 + "\\TARNOK\\DISK1\\DISK1", "");
    spit(cd1 + "\\BIG.DAT", "");
    const char *ub = getenv("TARNOK_UNIX_BUILD");
    ASSERT_NE(nullptr, ub);
    const testing::TestInfo *ti = testing::UnitTest::GetInstance()->current_test_info();
    std::string u = std::string(ub) + "/scratch/" + ti->test_suite_name() + "." + ti->name() + "/huge/BIG.DAT";
    const uint64_t huge = 8ull << 40; // 8 TiB, more than any test machine's drive
    run_process("/usr/bin/truncate -s 8T \"" + u + "\"");
    auto size = [&] {
        WIN32_FILE_ATTRIBUTE_DATA fa = {};
        GetFileAttributesExA((cd1 + "\\BIG.DAT").c_str(), GetFileExInfoStandard, &fa);
        return ((uint64_t)fa.nFileSizeHigh << 32) | fa.nFileSizeLow;
    };
    for (int i = 0; i < 100 && size() != huge; i++)
        Sleep(20);
    ASSERT_EQ(huge, size()) << "cannot make a sparse file here";
    HANDLE hold = CreateFileA((cd1 + "\\BIG.DAT").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);

    std::vector<std::string> lines;
    EXPECT_EQ(0, install(options(cd1, media_path("disc2"), update(), dir), &lines));
    CloseHandle(hold);
    DeleteFileA((cd1 + "\\BIG.DAT").c_str());
    uint64_t budget = huge + tree_bytes(media_path("disc2")) + 12582912;
    std::string needed = "ERROR: not enough free space on the install folder's drive: " +
                         std::to_string((budget + 1048575) / 1048576) + " MB needed, ";
    // The folder and the sources, then the failure.
    ASSERT_EQ(5u, lines.size()) << (lines.empty() ? "" : lines.back());
    EXPECT_EQ(needed, lines[4].substr(0, needed.size()));
    EXPECT_EQ(" MB free", lines[4].substr(lines[4].size() - 8));
    EXPECT_FALSE(dir_exists(dir)) << "nothing is written";
}

// A file of the disc copy that cannot be put in its place fails the install:
// here a folder of the player's stands where the file goes, in each of the
// three copying steps of the arrangement.
TEST(InstallFailure, AnArrangedFileThatCannotBeWrittenFails)
{
    const char *blockers[] = {"GRAPH\\INSTALL.CR", "ARME\\ARME1.SPR", "MUSIC\\MUSIK1.WAV"}; // under {hd}
    int n = 0;
    for (const char *blocker : blockers) {
        SCOPED_TRACE(blocker);
        std::string dir = scratch(std::to_string(n++)) + "\\Tarnok", hd = dir + "\\game\\hd\\TARNOK";
        spit(hd + "\\" + blocker + "\\mine.txt", "mine");
        std::vector<std::string> lines;
        EXPECT_EQ(0, install(options(media_path("disc1"), media_path("disc2"), update(), dir), &lines));
        ASSERT_GE(lines.size(), 2u);
        char denied[600];
        error_text(ERROR_ACCESS_DENIED, denied, sizeof denied);
        EXPECT_EQ("cannot write " + hd + "\\" + blocker + ": " + denied, lines[lines.size() - 2]);
        EXPECT_EQ("ERROR: setting up the game files failed", lines.back());
        EXPECT_EQ("mine", slurp(hd + "\\" + blocker + "\\mine.txt"));
        EXPECT_FALSE(file_exists(dir + "\\tarnok.exe"));
    }
}

TEST(InstallDisc1, WithoutInstallFolderFailsAtInstallCr)
{
    std::string base = scratch(), dir = base + "\\Tarnok", cd1 = disc1_without_install(base);
    Lines lines;
    EXPECT_EQ(0, install(options(cd1, media_path("disc2"), update(), dir), &lines));
    Lines expected = started(dir, told(cd1), told(media_path("disc2"))) +
                     copying("folder " + cd1, "folder " + media_path("disc2")) +
                     Lines{"Setting up the game files ...", "ERROR: INSTALL.CR on CD 1 could not be unpacked"};
    EXPECT_EQ(expected, lines);
    EXPECT_TRUE(list_dir(dir + "\\game\\hd\\TARNOK\\GRAPH").empty());
}

TEST(InstallDisc1, MissingSpriteFolderAndIconAreNoFailure)
{
    std::string base = scratch(), dir = base + "\\Tarnok", cd1 = copy_of_disc1(base);
    delete_tree((cd1 + "\\TARNOK\\DISK1\\COMBAT\\SPRITES\\ORBU").c_str());
    DeleteFileA((cd1 + "\\TARNOK\\TARNOK.ICO").c_str());
    Lines lines;
    EXPECT_EQ(1, install(options(cd1, media_path("disc2"), update(), dir), &lines));
    EXPECT_EQ(started(dir, told(cd1), told(media_path("disc2"))) +
                  copying("folder " + cd1, "folder " + media_path("disc2")) + finished,
              lines)
        << "no line for the missing icon";
    EXPECT_TRUE(dir_exists(dir + "\\game\\hd\\TARNOK\\ORBU"));
    EXPECT_TRUE(list_dir(dir + "\\game\\hd\\TARNOK\\ORBU").empty());
    EXPECT_FALSE(has_icon_group(dir + "\\tarnok.exe"));
}

TEST(InstallAgain, KeepsTheEditedConfigurationInAFolderWithBlanksAndAccents)
{
    // "Jeu é" in the ANSI code page.
    std::string dir = scratch() + "\\Mes Jeux\\Tarnok Jeu \xE9";
    InstallOptions o = options(media_path("disc1"), media_path("disc2.iso"), update(), dir);
    ASSERT_EQ(1, install(o, nullptr));
    std::string cfg = dir + "\\game\\hd\\TARNOK.CFG";
    std::string edited = slurp(cfg) + "[MINE]\r\nVolume = 11\r\n";
    spit(cfg, edited);
    Lines lines;
    ASSERT_EQ(1, install(o, &lines));
    EXPECT_EQ(edited, slurp(cfg));
    expect_installed(dir, media_path("disc1"), media_path("disc2"), false);
    std::string v;
    unsigned long type;
    ASSERT_TRUE(entry_value("UninstallString", &v, &type));
    EXPECT_EQ("\"" + dir + "\\uninstall.exe\" /uninstall" + '\0', v);
}

// A reinstall that fails leaves the working install as it was, byte for
// byte, with its entry and shortcuts: from an image cut short, whose copy
// fails after it has rewritten files that are there, and with an update of
// another release, which is refused before anything is written. The
// install is one made before installs kept their list of files: with the
// list, the reinstall would find every file whole and read nothing.
TEST(InstallAgain, AFailedReinstallKeepsTheWorkingInstall)
{
    std::string base = scratch(), dir = base + "\\Tarnok", before = base + "\\before";
    ASSERT_EQ(1, install(options(media_path("disc1.iso"), media_path("disc2"), update(), dir), nullptr));
    ASSERT_TRUE(DeleteFileA((dir + "\\tarnok_files.txt").c_str()));
    copy_tree(dir, before);
    std::string iso = slurp(media_path("disc1.iso"));
    spit(base + "\\cut.iso", iso.substr(0, iso.size() / 2));
    struct Case {
        std::string cd1, patch;
        Lines last; // the last lines logged
    } cases[] = {
        {base + "\\cut.iso", update(), {"ERROR: copying CD 1 failed"}},
        {media_path("disc1.iso"), media_path("update-badcrc\\TARNO103.EXE"), {not_official}},
        {media_path("disc1.iso"), media_path("update-badsize\\TARNO103.EXE"), {not_official}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.cd1 + " " + k.patch);
        Lines lines;
        EXPECT_EQ(0, install(options(k.cd1, media_path("disc2"), k.patch, dir), &lines));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(k.last.back(), lines.back());
        // The failed run's own list of what it wrote again stays, for the next run.
        DeleteFileA((dir + "\\tarnok_files.txt").c_str());
        EXPECT_EQ("", compare_trees(before, dir)) << "the working install changed";
        std::string v;
        unsigned long type;
        ASSERT_TRUE(entry_value("InstallLocation", &v, &type));
        EXPECT_EQ(dir + '\0', v);
        EXPECT_TRUE(file_exists(start_menu_link()));
        EXPECT_TRUE(file_exists(desktop_link()));
    }
}

// A file whose path comes within five characters of MAX_PATH installs, and
// installs again: its replacement is written beside it under a temporary
// name that fits wherever the file itself does.
TEST(InstallAgain, APathJustShortOfMaxPathInstallsTwice)
{
    std::string base = scratch(), probe = base + "\\p";
    ASSERT_EQ(1, install(options(media_path("disc1"), media_path("disc2"), update(), probe), nullptr));
    size_t deepest = 0;
    for (const std::string &e : list_tree(probe))
        if (e.back() != '\\')
            deepest = std::max(deepest, e.size());
    size_t room = MAX_PATH - 5 - 1 - deepest; // for the install folder, before "\\" and the deepest path
    ASSERT_GT(room, base.size() + 1);
    std::string dir = base + "\\" + std::string(room - base.size() - 1, 'x');
    InstallOptions o = options(media_path("disc1"), media_path("disc2"), update(), dir);
    for (int run = 1; run <= 2; run++) {
        SCOPED_TRACE(run);
        Lines lines;
        EXPECT_EQ(1, install(o, &lines)) << (lines.empty() ? "" : lines.back());
        EXPECT_EQ("", compare_trees(probe, dir));
    }
}

// The same for a conversion: the linker writes beside the working game,
// which stays as it was when the new one cannot be finished (here: disc 1
// carries an icon that is not the game's). Again an install from before
// the list of files, whose game is converted anew.
TEST(InstallAgain, AFailedConversionKeepsTheWorkingGame)
{
    std::string base = scratch(), dir = base + "\\Tarnok", disc1 = base + "\\disc1";
    ASSERT_EQ(1, install(options(media_path("disc1.iso"), media_path("disc2"), update(), dir, 1), nullptr));
    ASSERT_TRUE(DeleteFileA((dir + "\\tarnok_files.txt").c_str()));
    std::string game = slurp(dir + "\\tarnok.exe");
    copy_tree(media_path("disc1"), disc1);
    spit(disc1 + "\\TARNOK\\TARNOK.ICO", "not an icon");
    Lines lines;
    EXPECT_EQ(0, install(options(disc1, media_path("disc2"), update(), dir, 1), &lines));
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("ERROR: game icon not understood", lines.back());
    EXPECT_TRUE(game == slurp(dir + "\\tarnok.exe")) << "the working game changed";
    EXPECT_FALSE(file_exists(dir + "\\tarnok.exe.tarnok-new"));
}

// Each box makes its own shortcut: one on and one off, both ways round.
TEST(InstallShortcuts, EachFlagMakesItsOwn)
{
    struct Case {
        int startmenu, desktop;
    } cases[] = {{0, 0}, {1, 0}, {0, 1}};
    for (const Case &k : cases) {
        SCOPED_TRACE(testing::Message() << "startmenu " << k.startmenu << ", desktop " << k.desktop);
        std::string dir = scratch(std::to_string(k.startmenu) + std::to_string(k.desktop)) + "\\Tarnok";
        DeleteFileA(start_menu_link().c_str());
        DeleteFileA(desktop_link().c_str());
        InstallOptions o = options(media_path("disc1"), media_path("disc2"), update(), dir);
        o.startmenu = k.startmenu;
        o.desktop = k.desktop;
        ASSERT_EQ(1, install(o, nullptr));
        EXPECT_EQ(k.startmenu != 0, file_exists(start_menu_link()));
        EXPECT_EQ(k.desktop != 0, file_exists(desktop_link()));
        EXPECT_TRUE(entry_exists());
    }
}

TEST(InstallConvert, BuildsTheGameWithTheKitBesideTheProgram)
{
    char kit[520];
    ASSERT_EQ(1, kit_available(kit, sizeof kit));
    std::string dir = scratch() + "\\Tarnok";
    Lines lines;
    ProgressLog progress;
    ASSERT_EQ(1, install(options(media_path("disc1.iso"), media_path("disc2"), update(), dir, 1), &lines, &progress));
    Lines expected = started(dir, told(media_path("disc1.iso")), told(media_path("disc2")), update(),
                             "convert on this PC") +
                     copying("image " + media_path("disc1.iso"), "folder " + media_path("disc2")) +
                     Lines{"Setting up the game files ...",
                           "Converting the game code on this PC (this takes a few minutes)...", "Done."};
    EXPECT_EQ(expected, lines);
    expect_installed(dir, media_path("disc1"), media_path("disc2"));
    expect_progress(progress, dir, 295698432);
}

// Run as {dir}\UNINSTALL.EXE, the program is not copied onto itself. A copy
// onto the running file would fail anyway, so the test gives the folder a
// second file, "uninstall.exe" in lower case: Wine keeps both apart on a Unix
// file system and opens the one whose name matches exactly. A copy that the
// case-blind comparison did not stop would replace it.
TEST(InstallAsUninstaller, IsNotCopiedOntoItself)
{
    std::string dir = scratch() + "\\Tarnok";
    make_dirs(dir.c_str());
    std::string self = dir + "\\UNINSTALL.EXE";
    ASSERT_TRUE(CopyFileA(this_program().c_str(), self.c_str(), FALSE));
    const char *ub = getenv("TARNOK_UNIX_BUILD");
    ASSERT_NE(nullptr, ub);
    const testing::TestInfo *ti = testing::UnitTest::GetInstance()->current_test_info();
    std::string u = std::string(ub) + "/scratch/" + ti->test_suite_name() + "." + ti->name() + "/Tarnok/uninstall.exe";
    run_process("/bin/sh -c \"printf other > '" + u + "'\"");
    std::string lower = dir + "\\uninstall.exe";
    for (int i = 0; i < 100 && slurp(lower) != "other"; i++)
        Sleep(20);
    if (slurp(lower) != "other")
        GTEST_SKIP() << "the file system does not keep two names apart by case";
    SetEnvironmentVariableA("TARNOK_SELF_DIR", dir.c_str());
    int code = run_process("\"" + self + "\" --gtest_filter=InstallAsUninstaller.Child");
    SetEnvironmentVariableA("TARNOK_SELF_DIR", NULL);
    EXPECT_EQ(0, code);
    EXPECT_EQ(slurp(this_program()), slurp(self));
    EXPECT_EQ("other", slurp(lower)) << "the uninstaller was copied although it runs as itself";
    EXPECT_TRUE(file_exists(dir + "\\tarnok.exe"));
}

TEST(InstallAsUninstaller, Child)
{
    const char *dir = getenv("TARNOK_SELF_DIR");
    if (!dir)
        GTEST_SKIP() << "started by IsNotCopiedOntoItself only";
    EXPECT_EQ(1, install(options(media_path("disc1"), media_path("disc2"), update(), dir), nullptr));
}

namespace {

// A folder's own access list as text: the SIDs of its entries that allow
// full control, inherited by folders and files below, and whether it is
// protected from the folders above. Entries it inherited are marked.
struct Access {
    bool is_protected = false;
    std::vector<std::string> full_control; // SIDs, sorted
    int other_entries = 0;
    bool inherited = false; // every entry came from the folder above
};

Access read_access(const std::string &path)
{
    Access a;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR sd = nullptr;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, &dacl, NULL, &sd) !=
        ERROR_SUCCESS)
        return a;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(sd, &control, &revision);
    a.is_protected = (control & SE_DACL_PROTECTED) != 0;
    a.inherited = dacl && dacl->AceCount > 0;
    for (DWORD i = 0; dacl && i < dacl->AceCount; i++) {
        ACCESS_ALLOWED_ACE *ace = nullptr;
        if (!GetAce(dacl, i, (void **)&ace))
            continue;
        BYTE flags = ace->Header.AceFlags;
        if (!(flags & INHERITED_ACE))
            a.inherited = false;
        char *sid = nullptr;
        const BYTE both = OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;
        if (ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (ace->Mask & FILE_ALL_ACCESS) == FILE_ALL_ACCESS &&
            (flags & (both | INHERIT_ONLY_ACE)) == both && ConvertSidToStringSidA(&ace->SidStart, &sid)) {
            a.full_control.push_back(sid);
            LocalFree(sid);
        } else {
            a.other_entries++;
        }
    }
    std::sort(a.full_control.begin(), a.full_control.end());
    LocalFree(sd);
    return a;
}

std::string security_text(const std::string &path)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    char *text = nullptr;
    std::string s;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, NULL, NULL, NULL, NULL, &sd) ==
            ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text,
                                                             NULL)) {
        s = text;
        LocalFree(text);
    }
    LocalFree(sd);
    return s;
}

std::string current_user_sid()
{
    HANDLE token;
    DWORD buf[64], got = 0;
    char *sid = nullptr;
    std::string s;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (GetTokenInformation(token, TokenUser, buf, sizeof buf, &got) &&
            ConvertSidToStringSidA(((TOKEN_USER *)buf)->User.Sid, &sid)) {
            s = sid;
            LocalFree(sid);
        }
        CloseHandle(token);
    }
    return s;
}

} // namespace

// Wine keeps no access list of a file's own: it maps the list it is given
// to the Unix mode and makes a list from the mode when asked. What it shows
// is then the mode's view: the owner's and SYSTEM's full control, and no
// entry for anyone else (a folder made without a list of its own has one
// for Everyone). Whether a list is protected, the Administrators' entry and
// the entries that folders below inherit are Windows' to show.
bool under_wine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

// The top-most folder the install makes can be changed by the installing
// user, SYSTEM and the administrators only, and the install folder below it
// and what the install writes into it take that from it: no other account
// can rename it and put its own game in its place. A folder that was there
// before keeps its own list.
TEST(InstallFolder, ANewFolderIsTheInstallingUsersOnly)
{
    std::string base = scratch(), top = base + "\\Games", made = top + "\\Tarnok PC", before = base + "\\Before";
    make_dirs(before.c_str());
    std::string before_text = security_text(before);
    ASSERT_NE("", before_text);
    ASSERT_EQ(1, install(options(media_path("disc1"), media_path("disc2"), media_path("TARNO103.EXE"), made), nullptr));
    ASSERT_EQ(1, install(options(media_path("disc1"), media_path("disc2"), media_path("TARNO103.EXE"), before), nullptr));
    EXPECT_EQ(before_text, security_text(before));

    std::string user = current_user_sid(), system = "S-1-5-18", admins = "S-1-5-32-544";
    std::vector<std::string> expected = {user, system, admins};
    std::sort(expected.begin(), expected.end());
    Access a = read_access(top);
    std::string text = security_text(top);
    EXPECT_EQ(0, a.other_entries) << text;
    for (const char *others : {";;;WD)", ";;;BU)", ";;;AU)"}) // Everyone, Users, Authenticated Users
        EXPECT_EQ(std::string::npos, text.find(others)) << text;
    EXPECT_EQ(1, std::count(a.full_control.begin(), a.full_control.end(), user)) << text;
    EXPECT_EQ(1, std::count(a.full_control.begin(), a.full_control.end(), system)) << text;
    for (const std::string &sid : a.full_control)
        EXPECT_EQ(1, std::count(expected.begin(), expected.end(), sid)) << sid << " in " << text;
    if (under_wine())
        return;
    EXPECT_TRUE(a.is_protected) << text;
    EXPECT_EQ(expected, a.full_control) << text;
    for (const std::string &below : {made, made + "\\game"}) {
        Access b = read_access(below);
        EXPECT_TRUE(b.inherited) << security_text(below);
        EXPECT_EQ(expected, b.full_control) << security_text(below);
    }
}

// The player's stop, asked for at one moment of the install: the install
// ends, everything it made goes with the folder it made, and the stop is
// the last thing it says. Each moment runs in a process of its own, since
// the stop, once asked for, lasts as long as the process.
struct StopMoment {
    const char *name;
    const char *line; // the log line at which the player stops; null: see late
    int convert;
    int late;         // after the game files are arranged, before the executable
};

static const StopMoment stop_moments[] = {
    {"DiscCopy", "Copying ", 0, 0},
    {"Unpacking", "Unpacking the 1.03 update", 0, 0},
    {"Arranging", "Setting up the game files", 0, 0},
    {"Conversion", "Converting the game code", 1, 0},
    {"LateSteps", nullptr, 0, 1},
};

static void stop_at_line(void *ctx, const char *line)
{
    const char *prefix = (const char *)ctx;
    if (strncmp(line, prefix, strlen(prefix)) == 0)
        stop_request();
}

// The arranging step ends by adding its fixed share of 10 MiB; no copy or
// member adds as much at once.
static void stop_after_arranging(uint64_t done, uint64_t total, void *ctx)
{
    (void)total;
    uint64_t *last = (uint64_t *)ctx;
    if (done - *last == 10485760)
        stop_request();
    *last = done;
}

static void PrintTo(const StopMoment &m, std::ostream *os) { *os << m.name; }

class StopAt : public testing::TestWithParam<StopMoment> {};

TEST_P(StopAt, CleansUpAndSaysSoLast)
{
    const StopMoment &m = GetParam();
    std::string base = scratch(), dir = base + "\\made\\Tarnok";
    InstallOptions o = options(media_path("disc1.iso"), media_path("disc2"), update(), dir, m.convert);
    uint64_t last = 0;
    log_reset();
    if (m.line)
        log_listen(stop_at_line, (void *)m.line);
    InstallHost host = {};
    host.ctx = &last;
    host.progress = m.late ? stop_after_arranging : nullptr;
    int ok = do_install(&o, &host);
    log_listen(nullptr, nullptr);
    Lines lines = log_lines();
    EXPECT_EQ(0, ok);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("ERROR: the installation was stopped", lines.back());
    EXPECT_EQ(1, std::count(lines.begin(), lines.end(), lines.back())) << "the stop is reported once";
    EXPECT_EQ(0, std::count_if(lines.begin(), lines.end() - 1,
                               [](const std::string &l) { return l.compare(0, 6, "ERROR:") == 0; }))
        << "no other failure is reported";
    EXPECT_FALSE(dir_exists(base + "\\made")) << "the folders the install made are gone";
    EXPECT_TRUE(dir_exists(base));
}

INSTANTIATE_TEST_SUITE_P(Install, StopAt, testing::ValuesIn(stop_moments),
                         [](const testing::TestParamInfo<StopMoment> &p) { return std::string(p.param.name); });

// What an install tells whoever runs it, each call with the host's own
// context: each disc as its copy begins, with its bytes, then each of its
// files once, by its path on the disc; and the bar's progress.
struct Told {
    std::vector<int> discs;
    std::vector<uint64_t> wholes;
    std::vector<Lines> files; // of each disc told, in the order told
    int progress = 0;
};

static void told_reading(void *ctx, const ReadingPhase *phase)
{
    Told *t = (Told *)ctx;
    EXPECT_EQ(INSTALL_READ_COPY, phase->kind);
    t->discs.push_back(phase->disc);
    t->wholes.push_back(phase->whole);
    t->files.emplace_back();
}

static void told_file(void *ctx, const char *file)
{
    Told *t = (Told *)ctx;
    if (!t->files.empty())
        t->files.back().push_back(file);
}

static void told_progress(uint64_t done, uint64_t total, void *ctx)
{
    (void)done;
    (void)total;
    ((Told *)ctx)->progress++;
}

TEST(InstallHost, ToldOfEachDiscAndEachOfItsFilesByItsPathOnTheDisc)
{
    std::string dir = scratch() + "\\Tarnok";
    InstallOptions o = options(media_path("disc1"), media_path("disc2.iso"), update(), dir);
    Told t;
    InstallHost host = {&t, nullptr, told_progress, told_reading, told_file, nullptr, nullptr, nullptr};
    log_reset();
    ASSERT_EQ(1, do_install(&o, &host));
    ASSERT_EQ((std::vector<int>{1, 2}), t.discs);
    for (int d = 0; d < 2; d++) {
        SCOPED_TRACE(d + 1);
        std::string disc = media_path(d == 0 ? "disc1" : "disc2");
        Lines want;
        uint64_t bytes = 0;
        for (const std::string &e : tree_within_copy_depth(disc)) {
            if (e.back() == '\\')
                continue;
            want.push_back(e);
            bytes += slurp(disc + "\\" + e).size();
        }
        Lines got = t.files[d];
        std::sort(want.begin(), want.end());
        std::sort(got.begin(), got.end());
        EXPECT_EQ(want, got);
        EXPECT_EQ(bytes, t.wholes[d]);
    }
    EXPECT_GT(t.progress, 0);
}
