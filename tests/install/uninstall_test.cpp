// The removal of an installation: exactly what the install made, nothing else.
#include <windows.h>

#include <algorithm>
#include <cctype>

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
    EXPECT_EQ(1, do_uninstall(dir.c_str()).outcome);
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
    EXPECT_EQ(1, do_uninstall(dir.c_str()).outcome);
    EXPECT_EQ((std::vector<std::string>{"my notes.txt", "saves\\", "saves\\slot1.sav"}), list_tree(dir));
}

// By the install's list of its files: every file it lists goes, and with
// them the saved games and settings the game keeps in its hard disk folder
// and beside itself; a file of the player's, in the folder or among the
// disc copies, is all that stays, and the uninstall counts it.
TEST(Uninstall, ByTheListOnlyThePlayersFilesStay)
{
    std::string dir = scratch() + "\\Tarnok";
    install_sample(dir);
    ASSERT_TRUE(file_exists(dir + "\\tarnok_files.txt"));
    spit(dir + "\\my notes.txt", "mine");
    spit(dir + "\\game\\cd1\\TARNOK\\my map.txt", "mine too");
    spit(dir + "\\game\\hd\\TARNOK\\SAVE\\SLOT1.SAV", "a saved game");
    spit(dir + "\\game\\hd\\SAVEGAME.DAT", "another");
    spit(dir + "\\tarnok_pc.ini", "[game]\r\n");
    UninstallResult r = do_uninstall(dir.c_str());
    EXPECT_EQ(1, r.outcome);
    EXPECT_EQ((std::vector<std::string>{"game\\", "game\\cd1\\", "game\\cd1\\TARNOK\\", "game\\cd1\\TARNOK\\my map.txt",
                                        "my notes.txt"}),
              list_tree(dir));
    EXPECT_EQ(2, r.kept);
    EXPECT_FALSE(entry_exists());
    EXPECT_FALSE(file_exists(start_menu_link()));
}

// A file that a worn disc gave only in part lies beside its place as data
// and a map, listed or not yet (a run killed before its line): both go
// with the install, and the player's file beside them stays.
TEST(Uninstall, ByTheListPartialFilesGoToo)
{
    std::string dir = scratch() + "\\Tarnok";
    install_sample(dir);
    std::string listed = dir + "\\game\\cd1\\TARNOK\\DISK1\\DISK1", unlisted = dir + "\\game\\cd1\\TARNOK\\LOST.DAT";
    for (const std::string &f : {listed, unlisted}) {
        spit(f + ".tarnok-part", "read in part");
        spit(f + ".tarnok-map", "0 2048\r\n");
    }
    spit(dir + "\\game\\cd1\\TARNOK\\my map.txt", "mine");
    EXPECT_EQ(1, do_uninstall(dir.c_str()).outcome);
    EXPECT_EQ((std::vector<std::string>{"game\\", "game\\cd1\\", "game\\cd1\\TARNOK\\", "game\\cd1\\TARNOK\\my map.txt"}),
              list_tree(dir));
}

// A saved game that another program holds open cannot go: the uninstall
// by the list then keeps its uninstaller and entry, and names the file,
// for a later uninstall to finish the job.
TEST(Uninstall, ByTheListASavedGameInUseKeepsTheEntry)
{
    std::string dir = scratch() + "\\Tarnok";
    install_sample(dir);
    std::string save = dir + "\\game\\hd\\SAVEGAME.DAT";
    spit(save, "a saved game");
    HANDLE held = CreateFileA(save.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    UninstallResult r = do_uninstall(dir.c_str());
    EXPECT_EQ(UNINSTALL_LEFT, r.outcome);
    EXPECT_EQ("game\\hd\\SAVEGAME.DAT", std::string(r.left));
    EXPECT_TRUE(file_exists(dir + "\\uninstall.exe"));
    EXPECT_TRUE(entry_exists());
    CloseHandle(held);
    EXPECT_EQ(UNINSTALL_DONE, do_uninstall(dir.c_str()).outcome);
    EXPECT_FALSE(dir_exists(dir));
    EXPECT_FALSE(entry_exists());
}

// A shortcut whose saving was cut short (a 0-byte file, or one left under
// its temporary name) cannot be read: it goes when the entry names the
// folder, and stays when the entry names another install.
TEST(Uninstall, RemovesAShortcutCutShortWhenTheEntryNamesTheFolder)
{
    std::string base = scratch(), dir = base + "\\Tarnok";
    std::string start = start_menu_link(), desk = desktop_link(), temp = desk + DEST_TEMP_SUFFIX;
    for (bool ours : {true, false}) {
        SCOPED_TRACE(ours ? "the entry names the folder" : "the entry names another folder");
        install_sample(dir);
        if (!ours)
            install_sample(base + "\\Other");
        spit(start, "");
        spit(temp, "");
        EXPECT_EQ(1, do_uninstall(dir.c_str()).outcome);
        EXPECT_EQ(!ours, file_exists(start));
        EXPECT_EQ(!ours, file_exists(temp));
        EXPECT_EQ(!ours, file_exists(desk)) << "the other install's shortcut stays";
        EXPECT_FALSE(dir_exists(dir));
    }
    DeleteFileA(temp.c_str());
}

// A failed install into a folder that was there before counts as an install
// folder: step 6 made its game data folder.
TEST(Uninstall, CleansUpAFailedInstallAndALeftOverBuild)
{
    std::string base = scratch(), dir = base + "\\Tarnok";
    make_dirs(dir.c_str());
    std::vector<std::string> lines;
    // Stopped after the copies by a disc 1 without its INSTALL folder.
    ASSERT_EQ(0, install(options(disc1_without_install(base), media_path("disc2"), media_path("TARNO103.EXE"), dir),
                         &lines));
    ASSERT_TRUE(dir_exists(dir + "\\game\\cd1"));
    spit(dir + "\\build\\build.log", "failed conversion\r\n");
    spit(dir + "\\build\\obj\\a.c.o", "o");
    EXPECT_EQ(1, do_uninstall(dir.c_str()).outcome);
    EXPECT_FALSE(dir_exists(dir));
}

// A folder that holds no installation (a downloads folder, say) loses
// nothing, even files and folders named like the install's; the entry and
// the shortcuts of the real install elsewhere stay.
TEST(Uninstall, AFolderWithoutInstallationLosesNothing)
{
    std::string base = scratch(), dir = base + "\\Somewhere";
    install_sample(base + "\\Real");
    const std::vector<std::string> theirs = {
        "Tarnok.exe.bak", "build\\",     "build\\build.log", "game.txt",   "game\\",        "game\\x\\",
        "game\\x\\y.dat", "other\\",     "other\\tarnok.exe", "setup.log", "tarnok.exe",    "uninstall.exe",
        "uninstall.exe.txt"};
    for (const std::string &e : theirs)
        if (e.back() != '\\')
            spit(dir + "\\" + e, e);
    EXPECT_EQ(0, do_uninstall(dir.c_str()).outcome);
    EXPECT_EQ(theirs, list_tree(dir));
    for (const std::string &e : theirs) {
        if (e.back() != '\\') {
            EXPECT_EQ(e, slurp(dir + "\\" + e));
        }
    }
    EXPECT_TRUE(entry_exists());
    EXPECT_TRUE(file_exists(start_menu_link()));
    EXPECT_TRUE(file_exists(desktop_link()));
}

// Two installs: the entry and the shortcuts name the later one, so the
// removal of the earlier keeps them; the later one's removal takes them.
TEST(Uninstall, TheEntryAndShortcutsOfAnotherInstallStay)
{
    std::string base = scratch(), first = base + "\\First", second = base + "\\Second";
    install_sample(first);
    install_sample(second);
    EXPECT_EQ(1, do_uninstall(first.c_str()).outcome);
    EXPECT_FALSE(dir_exists(first));
    EXPECT_TRUE(entry_exists());
    EXPECT_TRUE(file_exists(start_menu_link()));
    EXPECT_TRUE(file_exists(desktop_link()));
    // Named in another case and with a trailing separator, it is still the same folder.
    std::string upper = second;
    for (char &c : upper)
        c = (char)toupper((unsigned char)c);
    EXPECT_EQ(1, do_uninstall((upper + "\\").c_str()).outcome);
    EXPECT_FALSE(dir_exists(second));
    EXPECT_FALSE(entry_exists());
    EXPECT_FALSE(file_exists(start_menu_link()));
    EXPECT_FALSE(file_exists(desktop_link()));
}

// The folder given to the uninstall is compared by what it is: its short
// (8.3) name, a trailing dot, '/' for '\\' and another case all name the
// install folder, so the entry and the shortcuts go with the files.
TEST(Uninstall, AnySpellingOfTheFolderIsTheFolder)
{
    enum Spelling { SHORT_NAME, TRAILING_DOT, SLASHES, UPPER };
    for (Spelling how : {SHORT_NAME, TRAILING_DOT, SLASHES, UPPER}) {
        SCOPED_TRACE(how);
        std::string dir = scratch(std::to_string(how)) + "\\Tarnok PC";
        install_sample(dir);
        std::string given = dir;
        if (how == SHORT_NAME) {
            char short_name[MAX_PATH];
            DWORD n = GetShortPathNameA(dir.c_str(), short_name, sizeof short_name);
            ASSERT_TRUE(n > 0 && n < sizeof short_name);
            given = short_name;
            ASSERT_EQ(std::string::npos, given.find("Tarnok PC")) << "no short name here: " << given;
        } else if (how == TRAILING_DOT) {
            given += ".";
        } else if (how == SLASHES) {
            std::replace(given.begin(), given.end(), '\\', '/');
        } else {
            std::transform(given.begin(), given.end(), given.begin(), [](char c) { return (char)toupper((unsigned char)c); });
        }
        EXPECT_EQ(1, do_uninstall(given.c_str()).outcome) << given;
        EXPECT_FALSE(dir_exists(dir)) << given;
        EXPECT_FALSE(entry_exists()) << given;
        EXPECT_FALSE(file_exists(start_menu_link())) << given;
        EXPECT_FALSE(file_exists(desktop_link())) << given;
    }
}

// The entry alone makes an install folder, for a player who deleted the game
// data by hand; a build folder with anything of the player's in it stays.
TEST(Uninstall, ByTheEntryAloneAndKeepingAPlayersBuildFolder)
{
    std::string dir = scratch() + "\\Tarnok";
    install_sample(dir);
    delete_tree((dir + "\\game").c_str());
    spit(dir + "\\build\\build.log", "log");
    spit(dir + "\\build\\mine.c", "int main;");
    EXPECT_EQ(1, do_uninstall(dir.c_str()).outcome);
    EXPECT_EQ((std::vector<std::string>{"build\\", "build\\build.log", "build\\mine.c"}), list_tree(dir));
    EXPECT_FALSE(entry_exists());
}

TEST(Uninstall, NeverFollowsALinkOutOfTheGameFolder)
{
    std::string base = scratch(), dir = base + "\\Tarnok";
    spit(base + "\\elsewhere\\precious.sav", "keep me");
    spit(dir + "\\game\\hd\\TARNOK\\f.dat", "x");
    const char *ub = getenv("TARNOK_UNIX_BUILD");
    ASSERT_NE(nullptr, ub);
    const testing::TestInfo *ti = testing::UnitTest::GetInstance()->current_test_info();
    std::string u = std::string(ub) + "/scratch/" + ti->test_suite_name() + "." + ti->name();
    run_process("/bin/ln -sfn \"" + u + "/elsewhere\" \"" + u + "/Tarnok/game/saves\"");
    for (int i = 0; i < 100 && !dir_exists(dir + "\\game\\saves"); i++)
        Sleep(20);
    if (!dir_exists(dir + "\\game\\saves"))
        GTEST_SKIP() << "cannot make a symbolic link here";
    EXPECT_EQ(1, do_uninstall(dir.c_str()).outcome);
    EXPECT_EQ("keep me", slurp(base + "\\elsewhere\\precious.sav"));
    EXPECT_FALSE(file_exists(dir + "\\game\\hd\\TARNOK\\f.dat"));
}

// Each file the uninstall removes by name may be a link that someone put in
// the install folder: what it leads to is never deleted. (Under Wine a Unix
// link opens as its target, so it stays; on Windows the link itself goes.)
TEST(Uninstall, NeverDeletesThroughALinkToAFile)
{
    const char *const names[] = {"tarnok.exe", "uninstall.exe", "tarnok_pc.ini", "tarnok.log", "setup.log"};
    // Wine cannot remove the links that an earlier run left: the Unix rm does.
    auto remove_links = [&](const std::string &dir) {
        for (const char *name : names)
            run_process("/bin/rm -f \"" + unix_path(dir + "\\" + name) + "\"");
    };
    const testing::TestInfo *ti = testing::UnitTest::GetInstance()->current_test_info();
    remove_links(build_path("scratch\\") + ti->test_suite_name() + "." + ti->name() + "\\Tarnok");
    std::string base = scratch(), dir = base + "\\Tarnok";
    install_sample(dir);
    for (const char *name : names) {
        std::string target = base + "\\elsewhere\\" + name;
        spit(target, std::string("precious ") + name);
        DeleteFileA((dir + "\\" + name).c_str());
        if (!unix_link(target, dir + "\\" + name))
            GTEST_SKIP() << "cannot make a symbolic link here";
    }
    EXPECT_EQ(1, do_uninstall(dir.c_str()).outcome);
    for (const char *name : names)
        EXPECT_EQ(std::string("precious ") + name, slurp(base + "\\elsewhere\\" + name)) << name;
    EXPECT_FALSE(dir_exists(dir + "\\game"));
    remove_links(dir);
}

// The game folder itself a link (the player moved the data and linked it
// back): only the link may go, never what it leads to. Under Wine the Unix
// link stays, so the test can show only that the target is untouched.
TEST(Uninstall, AGameFolderThatIsALinkLosesOnlyTheLink)
{
    const char *ub = getenv("TARNOK_UNIX_BUILD");
    ASSERT_NE(nullptr, ub);
    const testing::TestInfo *ti = testing::UnitTest::GetInstance()->current_test_info();
    std::string u = std::string(ub) + "/scratch/" + ti->test_suite_name() + "." + ti->name();
    // Wine cannot remove the link that an earlier run left: the Unix rm does.
    std::string old_link = build_path("scratch\\") + ti->test_suite_name() + "." + ti->name() + "\\Tarnok\\game";
    run_process("/bin/rm -f \"" + u + "/Tarnok/game\"");
    for (int i = 0; i < 100 && path_exists(old_link.c_str()); i++)
        Sleep(20);
    std::string base = scratch(), dir = base + "\\Tarnok";
    install_sample(dir);
    spit(base + "\\moved\\hd\\TARNOK\\TARNOK.CFG", "mine");
    spit(base + "\\moved\\save.sav", "keep me");
    ASSERT_TRUE(delete_tree((dir + "\\game").c_str()));
    run_process("/bin/ln -sfn \"" + u + "/moved\" \"" + u + "/Tarnok/game\"");
    for (int i = 0; i < 100 && !dir_exists(dir + "\\game"); i++)
        Sleep(20);
    if (!dir_exists(dir + "\\game"))
        GTEST_SKIP() << "cannot make a symbolic link here";
    EXPECT_EQ(1, do_uninstall(dir.c_str()).outcome) << "the entry names the folder";
    EXPECT_EQ((std::vector<std::string>{"hd\\", "hd\\TARNOK\\", "hd\\TARNOK\\TARNOK.CFG", "save.sav"}),
              list_tree(base + "\\moved"));
    EXPECT_EQ("keep me", slurp(base + "\\moved\\save.sav"));
    EXPECT_FALSE(file_exists(dir + "\\tarnok.exe"));
    run_process("/bin/rm -f \"" + u + "/Tarnok/game\"");
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
    spit(dir + "\\game\\hd\\TARNOK\\keep.dat", "keep");
    EXPECT_EQ(0, do_uninstall("").outcome);
    SetCurrentDirectoryA(cwd);
    EXPECT_EQ("keep", slurp(dir + "\\game\\keep.dat"));
    EXPECT_EQ("keep", slurp(dir + "\\tarnok.exe"));
    EXPECT_EQ("keep", slurp(dir + "\\game\\hd\\TARNOK\\keep.dat"));
    run_process("/bin/rm -f " + std::string(getenv("TARNOK_UNIX_BUILD")) + "/wineprefix/dosdevices/u:");
}

// The comparisons that decide what is ours, as tables.
TEST(Ours, ANameForTheFolderOrItsGame)
{
    struct Case {
        const char *path, *dir;
        int names;
    } cases[] = {
        {"C:\\Games\\Tarnok", "C:\\Games\\Tarnok", 1},
        {"c:\\games\\TARNOK\\", "C:\\Games\\Tarnok", 1},
        {"C:/Games/Tarnok/", "C:\\Games\\Tarnok\\\\", 1},
        {"C:\\Games\\Tarnok\\TARNOK.EXE", "C:\\Games\\Tarnok", 1},
        {"C:\\Games\\Tarnok\\uninstall.exe", "C:\\Games\\Tarnok", 0},
        {"C:\\Games\\Tarnok PC", "C:\\Games\\Tarnok", 0},
        {"C:\\Games", "C:\\Games\\Tarnok", 0},
        {"C:\\Games\\Tarnok\\sub\\tarnok.exe", "C:\\Games\\Tarnok", 0},
        {"", "", 0},
        {"\\", "", 0},
    };
    for (const Case &k : cases)
        EXPECT_EQ(k.names, names_folder(k.path, k.dir)) << k.path << " for " << k.dir;
}

// Only the four entries of the conversion build, and no link, make a build
// folder ours; an empty one is ours too.
TEST(Ours, BuildFolders)
{
    struct Case {
        std::vector<std::string> entries; // under {dir}\build
        int ours;
    } cases[] = {
        {{"gen\\a.c", "obj\\a.c.o", "build.log", "objs.rsp"}, 1},
        {{"BUILD.LOG"}, 1},
        {{}, 1},
        {{"build.log", "notes.txt"}, 0},
        {{"gen\\a.c", "src\\main.c"}, 0},
    };
    int n = 0;
    for (const Case &k : cases) {
        std::string dir = scratch(std::to_string(n++));
        make_dirs((dir + "\\build").c_str());
        for (const std::string &e : k.entries)
            spit(dir + "\\build\\" + e, e);
        EXPECT_EQ(k.ours, build_folder_is_ours(dir.c_str())) << testing::PrintToString(k.entries);
    }
    std::string dir = scratch("file");
    spit(dir + "\\build", "a file");
    EXPECT_EQ(0, build_folder_is_ours(dir.c_str()));
    EXPECT_EQ(0, build_folder_is_ours((dir + "\\missing").c_str()));
}
