// The removal of an installation: exactly what the install made, nothing else.
#include <windows.h>

#include <gtest/gtest.h>

#include "installcheck.h"
#include "testsupport.h"

static void install_sample(const std::string &dir)
{
    ASSERT_EQ(1, install(options(media_path("disc1"), media_path("disc2.iso"), media_path("TARNO103.EXE"), dir), nullptr));
}

TEST(Uninstall, AfterAnInstallNothingIsLeft)
{
    std::string dir = scratch() + "\\Tarnok";
    install_sample(dir);
    spit(dir + "\\tarnok_pc.ini", "[game]\r\n"); // what the game writes beside itself
    spit(dir + "\\tarnok.log", "played\r\n");
    ASSERT_TRUE(file_exists(start_menu_link()));
    EXPECT_EQ(1, do_uninstall(dir.c_str()));
    EXPECT_FALSE(dir_exists(dir));
    EXPECT_FALSE(entry_exists());
    EXPECT_FALSE(file_exists(start_menu_link()));
    EXPECT_FALSE(file_exists(desktop_link()));
}

TEST(Uninstall, KeepsTheUsersOwnFilesAndTheirFolder)
{
    std::string dir = scratch() + "\\Tarnok";
    install_sample(dir);
    spit(dir + "\\my notes.txt", "mine");
    spit(dir + "\\saves\\slot1.sav", "mine too");
    EXPECT_EQ(1, do_uninstall(dir.c_str()));
    EXPECT_EQ((std::vector<std::string>{"my notes.txt", "saves\\", "saves\\slot1.sav"}), list_tree(dir));
}

TEST(Uninstall, CleansUpAFailedInstallAndALeftOverBuild)
{
    std::string dir = scratch() + "\\Tarnok";
    std::vector<std::string> lines;
    // Stopped after the copies by an update of another release.
    ASSERT_EQ(0, install(options(media_path("disc1"), media_path("disc2"), media_path("update-badcrc\\TARNO103.EXE"), dir),
                         &lines));
    ASSERT_TRUE(dir_exists(dir + "\\game\\cd1"));
    spit(dir + "\\build\\build.log", "failed conversion\r\n");
    spit(dir + "\\build\\obj\\a.c.o", "o");
    EXPECT_EQ(1, do_uninstall(dir.c_str()));
    EXPECT_FALSE(dir_exists(dir));
}

TEST(Uninstall, AFolderWithoutInstallationLosesOnlyTheNamedPaths)
{
    std::string dir = scratch() + "\\Somewhere";
    const std::vector<std::string> theirs = {"Tarnok.exe.bak", "game.txt", "other\\", "other\\tarnok.exe",
                                             "uninstall.exe.txt"};
    for (const std::string &e : theirs)
        if (e.back() != '\\')
            spit(dir + "\\" + e, e);
    spit(dir + "\\tarnok.exe", "named");
    spit(dir + "\\setup.log", "named");
    spit(dir + "\\game\\x\\y.dat", "named");
    EXPECT_EQ(1, do_uninstall(dir.c_str()));
    EXPECT_EQ(theirs, list_tree(dir));
    EXPECT_FALSE(entry_exists());
}

TEST(Uninstall, NeverFollowsALinkOutOfTheGameFolder)
{
    std::string base = scratch(), dir = base + "\\Tarnok";
    spit(base + "\\elsewhere\\precious.sav", "keep me");
    spit(dir + "\\game\\cd1\\f.dat", "x");
    const char *ub = getenv("TARNOK_UNIX_BUILD");
    ASSERT_NE(nullptr, ub);
    const testing::TestInfo *ti = testing::UnitTest::GetInstance()->current_test_info();
    std::string u = std::string(ub) + "/scratch/" + ti->test_suite_name() + "." + ti->name();
    run_process("/bin/ln -sfn \"" + u + "/elsewhere\" \"" + u + "/Tarnok/game/saves\"");
    for (int i = 0; i < 100 && !dir_exists(dir + "\\game\\saves"); i++)
        Sleep(20);
    if (!dir_exists(dir + "\\game\\saves"))
        GTEST_SKIP() << "cannot make a symbolic link here";
    EXPECT_EQ(1, do_uninstall(dir.c_str()));
    EXPECT_EQ("keep me", slurp(base + "\\elsewhere\\precious.sav"));
    EXPECT_FALSE(file_exists(dir + "\\game\\cd1\\f.dat"));
}

// An empty folder would name "\\game" and "\\tarnok.exe" at the current drive's
// root; the test gives that drive a scratch folder as its root.
TEST(Uninstall, AnEmptyFolderTouchesNoFile)
{
    std::string dir = scratch();
    spit(dir + "\\game\\keep.dat", "keep");
    spit(dir + "\\tarnok.exe", "keep");
    make_dirs((dir + "\\cwd").c_str());
    const testing::TestInfo *ti = testing::UnitTest::GetInstance()->current_test_info();
    std::string target = std::string(getenv("TARNOK_UNIX_BUILD")) + "/scratch/" + ti->test_suite_name() + "." + ti->name();
    run_process("/bin/ln -sfn " + target + " " + std::string(getenv("TARNOK_UNIX_BUILD")) + "/wineprefix/dosdevices/u:");
    for (int i = 0; i < 100 && !file_exists("U:\\tarnok.exe"); i++)
        Sleep(50);
    ASSERT_TRUE(file_exists("U:\\tarnok.exe")) << "could not map U: under Wine";
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    ASSERT_TRUE(SetCurrentDirectoryA("U:\\cwd"));
    EXPECT_EQ(1, do_uninstall(""));
    SetCurrentDirectoryA(cwd);
    EXPECT_EQ("keep", slurp(dir + "\\game\\keep.dat"));
    EXPECT_EQ("keep", slurp(dir + "\\tarnok.exe"));
    run_process("/bin/rm -f " + std::string(getenv("TARNOK_UNIX_BUILD")) + "/wineprefix/dosdevices/u:");
}
