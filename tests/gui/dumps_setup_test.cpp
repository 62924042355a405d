// setup.exe with the dumps a player has: detection beside the program, each
// folder staged with setup.exe and the window's CD 1 field read back (drive
// E: holds disc 2, the "gui" fixture, so CD 2 is always E:\), and an
// unattended install from them.
#include <gtest/gtest.h>

#include "guisupport.h"
#include "testsupport.h"

namespace {

// What the window shows in CD 1 for a folder holding setup.exe and files.
std::string detected_cd1(const std::string &dir, const std::vector<std::string> &files, const std::string &tag)
{
    std::string exe = stage_setup(dir, "setup_game", files);
    Child c = start_setup(exe, "", scratch("tmp-" + tag));
    HWND w = setup_window(c);
    EXPECT_NE(nullptr, w) << "no setup window";
    if (w && tag == "0")
        screenshot("detected-dumps");
    std::string cd1 = w ? field(w, C_CD1) : "(no window)";
    EXPECT_EQ("E:\\", w ? field(w, C_CD2) : "");
    if (w)
        PostMessageA(w, WM_CLOSE, 0, 0);
    EXPECT_EQ(0, wait_exit(c));
    end_child(c);
    return cd1;
}

// The names of a folder in the order the file system lists them.
std::vector<std::string> listing_order(const std::string &dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do
        names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}

} // namespace

// Every kind of dump is found beside the program; a sheet or descriptor is
// found in place of the data file it names; a data file whose volume lies
// behind a pregap is found only through its sheet.
TEST(Dumps, DetectedBesideTheProgram)
{
    struct Case {
        std::vector<std::string> files;
        const char *cd1; // the file the field names, or "" for no image
    } cases[] = {
        {{"mini1-sub16.ccd", "mini1-sub16.img"}, "mini1-sub16.ccd"},
        {{"mini1-sub24.mds", "mini1-sub24.mdf"}, "mini1-sub24.mds"},
        {{"mini1-sub16.img"}, "mini1-sub16.img"},
        {{"mini1-sub24.mdf"}, "mini1-sub24.mdf"},
        {{"disc1-m2.bin"}, "disc1-m2.bin"},
        {{"mini1-2336.bin"}, "mini1-2336.bin"},
        {{"mini1-pregap.cue", "mini1-pregap.bin"}, "mini1-pregap.cue"},
        {{"mini1-redump.cue", "mini1 (Track 1).bin", "mini1 (Track 2).bin"}, "mini1-redump.cue"},
        {{"mini1-pregap.bin"}, ""},
    };
    int n = 0;
    for (const Case &k : cases) {
        std::string tag = std::to_string(n++);
        std::string dir = scratch("setup" + tag);
        // Without an image of disc 1 the field gets drive E:, the one drive
        // with a disc, which holds disc 2.
        std::string want = *k.cd1 ? dir + "\\" + k.cd1 : "E:\\";
        EXPECT_EQ(want, detected_cd1(dir, k.files, tag)) << k.files[0];
    }
}

// A .bin that a .cue beside it names is opened through the sheet only, so
// the sheet fills the field wherever the file system lists the .bin. Both
// orders are staged, under names that sort either way.
TEST(Dumps, SheetWinsOverTheBinItNames)
{
    const char *names[][2] = {{"a.cue", "b.bin"}, {"b.cue", "a.bin"}, {"disc.cue", "disc.bin"}};
    int n = 0;
    bool bin_first_seen = false;
    for (const auto &pair : names) {
        std::string tag = std::to_string(n++);
        std::string dir = scratch("setup" + tag);
        ASSERT_TRUE(CopyFileA(media_path("disc1-m1.bin").c_str(), (dir + "\\" + pair[1]).c_str(), FALSE));
        spit(dir + "\\" + pair[0], std::string("FILE \"") + pair[1] + "\" BINARY\r\n  TRACK 01 MODE1/2352\r\n"
                                                                    "    INDEX 01 00:00:00\r\n");
        for (const std::string &name : listing_order(dir)) {
            if (name == pair[0] || name == pair[1]) {
                bin_first_seen |= name == pair[1];
                break;
            }
        }
        EXPECT_EQ(dir + "\\" + pair[0], detected_cd1(dir, {}, tag)) << pair[0];
    }
    // Without one order listing the .bin first the test shows nothing.
    EXPECT_TRUE(bin_first_seen);
}

// An unattended install from dumps as a player has them: disc 1 as an
// Alcohol descriptor beside its raw image with sub-channel, disc 2 as a cue
// sheet whose data track starts after a pregap.
TEST(Dumps, UnattendedInstall)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    std::string target = scratch("installed") + "\\Tarnok PC";
    std::string args = "/silent /nodesktop /nostartmenu /cd1 \"" + media_path("disc1-sub24.mds") + "\" /cd2 \"" +
                       media_path("disc2-pregap.cue") + "\" /patch \"" + media_path("TARNO103.EXE") + "\" /dir \"" +
                       target + "\"";
    Child c = start_setup(exe, args, scratch("tmp"));
    EXPECT_EQ(0, wait_exit(c, 120000));
    std::vector<std::string> log = child_log(c);
    ASSERT_GE(log.size(), 8u);
    // Each dump as given, with its data file and sector layout.
    EXPECT_EQ("CD 1 source: Alcohol image " + media_path("disc1-sub24.mds") + ", data file " +
                  media_path("disc1-sub24.mdf") + " (2,448-byte raw sectors with sub-channel, mode 2 form 1)",
              log[1]);
    EXPECT_EQ("CD 2 source: CUE/BIN image " + media_path("disc2-pregap.cue") + ", data file " +
                  media_path("disc2-pregap.bin") + " (2,352-byte raw sectors, mode 1, track from byte 352,800)",
              log[2]);
    EXPECT_EQ(0u, log[3].find("Update source: file " + media_path("TARNO103.EXE") + " (")) << log[3];
    EXPECT_EQ("Copying image " + media_path("disc1-sub24.mdf") + " ...", log[4]);
    EXPECT_EQ("CD 1: edition Sample, 162 files as known", log[5]);
    EXPECT_EQ("Copying image " + media_path("disc2-pregap.bin") + " ...", log[6]);
    EXPECT_EQ("CD 2: edition Sample, 11 files as known", log[7]);
    EXPECT_EQ("Done.", log.back());
    EXPECT_EQ(slurp(media_path("disc1\\TARNOK\\DISK1\\DISK1")), slurp(target + "\\game\\cd1\\TARNOK\\DISK1\\DISK1"));
    EXPECT_EQ(slurp(media_path("disc2\\TARNOK\\DISK2\\DISK2")), slurp(target + "\\game\\cd2\\TARNOK\\DISK2\\DISK2"));
    EXPECT_TRUE(file_exists(target + "\\uninstall.exe"));
    // The entry in the uninstall list would outlive the test's folder.
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnokVBL_Pellurin");
}
