// Detection of the discs beside setup.exe, as a player leaves dumps there:
// each folder is staged with setup.exe and the window's CD 1 field read
// back. Drive E: holds disc 2 (the "gui" fixture), so CD 2 is always E:\.
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
TEST(Detect, DumpsBesideTheProgram)
{
    struct Case {
        std::vector<std::string> files;
        const char *cd1; // the file the field names, or "" for none
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
        std::string want = *k.cd1 ? dir + "\\" + k.cd1 : "";
        EXPECT_EQ(want, detected_cd1(dir, k.files, tag)) << k.files[0];
    }
}

// A .bin that a .cue beside it names is opened through the sheet only, so
// the sheet fills the field wherever the file system lists the .bin. Both
// orders are staged, under names that sort either way.
TEST(Detect, SheetWinsOverTheBinItNames)
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
