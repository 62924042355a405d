// The player's own files against setup.exe, run as a player runs it: a table
// of install folders (empty, relative, a drive root, a folder holding a game
// or build folder of the player's, links in their place, a failed install
// into a new or an existing folder), then uninstalls from folders that hold
// no installation, beside the player's files and through links. Each case
// compares the player's files byte for byte afterwards.
#include <gtest/gtest.h>

#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <map>

#include "guisupport.h"
#include "install/install.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

// Every folder ("rel\") and file ("rel" -> its bytes) below a folder.
typedef std::map<std::string, std::string> Tree;

Tree snapshot(const std::string &root)
{
    Tree t;
    for (const std::string &e : list_tree(root))
        t[e] = e.back() == '\\' ? "" : slurp(root + "\\" + e);
    return t;
}

// Empty when every entry of `mine` is in `now` with the same bytes.
std::string missing_from(const Tree &mine, const Tree &now)
{
    for (const auto &e : mine) {
        auto f = now.find(e.first);
        if (f == now.end())
            return "lost: " + e.first;
        if (f->second != e.second)
            return "changed: " + e.first;
    }
    return "";
}

// A scratch folder that starts empty even after a run that left a link in
// it: Wine cannot remove a Unix link, so the Unix rm does.
std::string clean_scratch(const std::string &tag)
{
    std::string d = scratch(tag);
    if (!list_dir(d).empty()) {
        run_process("/bin/rm -rf \"" + unix_path(d) + "\"");
        eventually([&] { return !dir_exists(d); }, 5000);
        make_dirs(d.c_str());
    }
    return d;
}

void remove_link(const std::string &link) { run_process("/bin/rm -f \"" + unix_path(link) + "\""); }

// Drive R: of the window tests' prefix, with a scratch folder as its root.
struct DriveR {
    std::string dosdevice;
    explicit DriveR(const std::string &root)
    {
        dosdevice = std::string(getenv("TARNOK_UNIX_BUILD")) + "/gui-wineprefix/dosdevices/r:";
        run_process("/bin/ln -sfn \"" + unix_path(root) + "\" \"" + dosdevice + "\"");
    }
    ~DriveR()
    {
        run_process("/bin/rm -f \"" + dosdevice + "\"");
        eventually([] { return GetFileAttributesA("R:\\") == INVALID_FILE_ATTRIBUTES; }, 5000);
    }
};

std::string location()
{
    char loc[780];
    return read_install_location(loc, sizeof loc) ? loc : "(none)";
}

void delete_links()
{
    char start[520], desk[520];
    shortcut_paths(start, desk);
    DeleteFileA(start);
    DeleteFileA(desk);
}

bool both_links()
{
    char start[520], desk[520];
    shortcut_paths(start, desk);
    return file_exists(start) && file_exists(desk);
}

std::string media_args(const char *update = "TARNO103.EXE")
{
    return "/cd1 \"" + media_path("disc1") + "\" /cd2 \"" + media_path("disc2.iso") + "\" /patch \"" +
           media_path(update) + "\"";
}

// Runs setup.exe with the arguments (and the given current folder) to its
// end; returns its exit code and its log.
int run_setup(const std::string &exe, const std::string &args, const std::string &cwd, std::vector<std::string> *log)
{
    char old[MAX_PATH] = "";
    GetCurrentDirectoryA(sizeof old, old);
    if (!cwd.empty())
        SetCurrentDirectoryA(cwd.c_str());
    static int n = 0;
    Child c = start_setup(exe, args, scratch("tmp" + std::to_string(n++)));
    SetCurrentDirectoryA(old);
    int code = wait_exit(c, 120000);
    end_child(c);
    if (log)
        *log = child_log(c);
    return code;
}

// A folder's owner and access list as Windows shows them, as text.
std::string security_of(const std::string &path)
{
    PSECURITY_DESCRIPTOR sd = nullptr;
    char *text = nullptr;
    std::string out;
    const SECURITY_INFORMATION what = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, what, NULL, NULL, NULL, NULL, &sd) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(sd, SDDL_REVISION_1, what, &text, NULL)) {
        out = text;
        LocalFree(text);
    }
    LocalFree(sd);
    return out;
}

// What the player's folder is besides its files: a link to another folder,
// another account's (its Unix owner another user), or open to every account
// (its Unix mode lets others write).
enum Making { PLAIN, LINK, ANOTHER_OWNER, OPEN_TO_ALL };

// Makes base\Tarnok so; false when this system cannot.
bool make_folder_so(const std::string &base, Making how)
{
    std::string folder = base + "\\Tarnok";
    if (how == PLAIN)
        return true;
    if (how == LINK)
        return unix_link(base + "\\elsewhere", folder);
    std::string before = security_of(folder);
    run_process(std::string(how == ANOTHER_OWNER ? "/bin/chown 65534 \"" : "/bin/chmod 777 \"") +
                unix_path(folder) + "\"");
    // Wine does not wait for a Unix program: it counts once Windows sees it.
    return eventually([&] { return security_of(folder) != before; }, 5000);
}

// Puts `with` in place of every "%b".
std::string fill(std::string text, const std::string &with)
{
    for (size_t at = text.find("%b"); at != std::string::npos; at = text.find("%b", at + with.size()))
        text.replace(at, 2, with);
    return text;
}

void make_tree(const std::string &base, const std::vector<std::string> &entries)
{
    for (const std::string &e : entries) {
        if (e.back() == '\\')
            make_dirs((base + "\\" + e).c_str());
        else
            spit(base + "\\" + e, "the player's " + e);
    }
}

} // namespace

// Unattended installs that must not write a thing: each fails at once with
// its reason, and the folder it was given (and the drive's root) keeps
// exactly what it held. %b is the case's scratch folder, also drive R:.
TEST(Folders, InstallsRefusedBeforeAnythingIsWritten)
{
    struct Case {
        const char *name;
        std::vector<std::string> player; // entries under %b, the current folder %b\\cwd among them
        Making how;                      // what %b\\Tarnok is made besides
        const char *dir;                 // the /dir part of the command line
        bool convert;
        const char *error;
    } cases[] = {
        {"empty", {"cwd\\", "notes.txt"}, PLAIN, "/dir", false, "ERROR: no install folder was given"},
        {"root with separator", {"cwd\\", "notes.txt"}, PLAIN, "/dir R:\\", false,
         "ERROR: the install folder cannot be the root of a drive"},
        {"root without separator", {"cwd\\", "notes.txt"}, PLAIN, "/dir R:", false,
         "ERROR: the install folder cannot be the root of a drive"},
        {"root above the current folder", {"cwd\\", "notes.txt"}, PLAIN, "/dir ..", false,
         "ERROR: the install folder cannot be the root of a drive"},
        {"the player's game folder", {"cwd\\", "Tarnok\\game\\saves\\slot1.sav", "Tarnok\\game\\hd\\readme.txt"},
         PLAIN, "/dir \"%b\\Tarnok\"", false,
         "ERROR: %b\\Tarnok\\game already exists and is not from a Tarnok install; choose another folder"},
        {"the player's build folder", {"cwd\\", "Tarnok\\build\\build.log", "Tarnok\\build\\notes.txt"}, PLAIN,
         "/dir \"%b\\Tarnok\"", true,
         "ERROR: %b\\Tarnok\\build already exists and is not a Tarnok build folder; choose another folder"},
        // An install folder that someone else could swap for their own game.
        {"a link to another folder", {"cwd\\", "elsewhere\\notes.txt"}, LINK, "/dir \"%b\\Tarnok\"", false,
         "ERROR: the install folder %b\\Tarnok is a link or junction to another folder; choose another folder"},
        {"another account's folder", {"cwd\\", "Tarnok\\notes.txt"}, ANOTHER_OWNER, "/dir \"%b\\Tarnok\"", false,
         "ERROR: the install folder %b\\Tarnok belongs to another account; choose another folder"},
        {"a folder open to all", {"cwd\\", "Tarnok\\notes.txt"}, OPEN_TO_ALL, "/dir \"%b\\Tarnok\"", false,
         "ERROR: other accounts may change the install folder %b\\Tarnok; choose another folder"},
    };
    std::string setup = scratch("setup");
    std::string exe = stage_setup(setup, "setup_game");
    stage_holding_kit(setup);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        std::string base = clean_scratch(k.name);
        make_tree(base, k.player);
        ASSERT_TRUE(make_folder_so(base, k.how)) << "cannot make the folder so here";
        DriveR r(base);
        ASSERT_TRUE(eventually([] { return dir_exists("R:\\cwd"); }, 5000)) << "could not map R: under Wine";
        Tree before = snapshot(base);
        std::vector<std::string> log;
        std::string args = "/silent " + std::string(k.convert ? "/build " : "/prebuilt ") + media_args() + " " +
                           fill(k.dir, base);
        EXPECT_EQ(1, run_setup(exe, args, "R:\\cwd", &log));
        ASSERT_EQ(2u, log.size());
        EXPECT_EQ(fill(k.error, base), log[1]);
        EXPECT_EQ(before, snapshot(base)) << "something was written";
    }
}

// Links in place of the game or the build folder: the install goes through
// neither, even when what lies behind looks like the install's own.
TEST(Folders, InstallsRefuseLinksAsGameOrBuildFolder)
{
    struct Case {
        const char *link;
        std::vector<std::string> behind; // the link's target, under %b\elsewhere
        bool convert;
        const char *error;
    } cases[] = {
        {"game", {"hd\\TARNOK\\TARNOK.CFG", "saves\\slot1.sav"}, false,
         "ERROR: %b\\Tarnok\\game already exists and is not from a Tarnok install; choose another folder"},
        {"build", {"build.log", "obj\\"}, true,
         "ERROR: %b\\Tarnok\\build already exists and is not a Tarnok build folder; choose another folder"},
    };
    std::string setup = scratch("setup");
    std::string exe = stage_setup(setup, "setup_game");
    stage_holding_kit(setup);
    for (const Case &k : cases) {
        SCOPED_TRACE(k.link);
        std::string base = clean_scratch(k.link);
        make_tree(base + "\\elsewhere", k.behind);
        make_dirs((base + "\\Tarnok").c_str());
        if (!unix_link(base + "\\elsewhere", base + "\\Tarnok\\" + k.link))
            GTEST_SKIP() << "cannot make a symbolic link here";
        Tree before = snapshot(base + "\\elsewhere");
        std::vector<std::string> log;
        std::string args = "/silent " + std::string(k.convert ? "/build " : "/prebuilt ") + media_args() +
                           " /dir \"" + base + "\\Tarnok\"";
        EXPECT_EQ(1, run_setup(exe, args, "", &log));
        ASSERT_EQ(2u, log.size());
        EXPECT_EQ(fill(k.error, base), log[1]);
        EXPECT_EQ(before, snapshot(base + "\\elsewhere"));
        remove_link(base + "\\Tarnok\\" + k.link);
    }
}

// A relative folder is made full with the current folder: the log, the
// registry and the shortcuts' folder name it in full.
TEST(Folders, ARelativeFolderIsMadeFull)
{
    std::string base = scratch("base");
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    make_dirs((base + "\\cwd").c_str());
    std::vector<std::string> log;
    ASSERT_EQ(0, run_setup(exe, "/silent " + media_args() + " /dir rel\\Tarnok", base + "\\cwd", &log));
    std::string full = base + "\\cwd\\rel\\Tarnok";
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("Install to " + full + " (prebuilt)", log.front());
    EXPECT_EQ("Done.", log.back());
    EXPECT_EQ(full, location());
    EXPECT_TRUE(file_exists(full + "\\tarnok.exe"));
}

// A failed install into a folder it made leaves nothing; a failed conversion
// keeps only its build log and says where; a folder that was there before
// keeps the copies, and the player's own files in every case.
TEST(Folders, FailedInstalls)
{
    struct Case {
        const char *name;
        std::vector<std::string> player; // under %b
        bool convert;
        const char *update;
        const char *last;               // the log's last line
        std::vector<std::string> after; // entries of %b\Games afterwards
    } cases[] = {
        {"new folder", {"notes.txt"}, false, "update-badcrc\\TARNO103.EXE",
         "ERROR: this is not the official 1.03US update (TARNOKP2.EXE does not match)", {}},
        {"new folder, conversion", {"notes.txt"}, true, "TARNO103.EXE",
         "The build log is kept in %b\\Games\\Tarnok\\build\\build.log",
         {"Tarnok\\", "Tarnok\\build\\", "Tarnok\\build\\build.log", "Tarnok\\build\\gen\\", "Tarnok\\build\\obj\\"}},
    };
    std::string setup = scratch("setup");
    std::string exe = stage_setup(setup, "setup_game");
    stage_holding_kit(setup);
    hold_release(setup); // the recompiler stand-in fails at once
    for (const Case &k : cases) {
        SCOPED_TRACE(k.name);
        std::string base = scratch(k.name);
        make_tree(base, k.player);
        make_dirs((base + "\\Games").c_str());
        Tree before = snapshot(base);
        std::vector<std::string> log;
        std::string args = "/silent " + std::string(k.convert ? "/build " : "/prebuilt ") + media_args(k.update) +
                           " /dir \"" + base + "\\Games\\Tarnok\"";
        EXPECT_EQ(1, run_setup(exe, args, "", &log));
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(fill(k.last, base), log.back());
        EXPECT_EQ(k.after, list_tree(base + "\\Games"));
        EXPECT_EQ("", missing_from(before, snapshot(base)));
    }

    // The same failure in a folder that was there: the update is refused
    // before anything is written, and the folder stays as it was.
    std::string base = scratch("existing");
    make_tree(base, {"Tarnok\\notes.txt"});
    Tree before = snapshot(base);
    std::string args = "/silent " + media_args("update-badcrc\\TARNO103.EXE") + " /dir \"" + base + "\\Tarnok\"";
    EXPECT_EQ(1, run_setup(exe, args, "", nullptr));
    EXPECT_EQ(before, snapshot(base));
}

// A player's own files beside an install, and a build folder of their own,
// survive the install and its removal; everything the install made goes.
TEST(Folders, ThePlayersFilesBesideAnInstallSurviveItsRemoval)
{
    std::string base = scratch("base"), dir = base + "\\Tarnok";
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    make_tree(dir, {"notes.txt", "saves\\slot1.sav", "build\\mine.c", "build\\build.log"});
    Tree mine = snapshot(dir);
    ASSERT_EQ(0, run_setup(exe, "/silent " + media_args() + " /dir \"" + dir + "\"", "", nullptr));
    EXPECT_EQ("", missing_from(mine, snapshot(dir)));
    ASSERT_EQ(0, run_setup(exe, "/uninstall2 \"" + dir + "\" /quiet", "", nullptr));
    EXPECT_EQ(mine, snapshot(dir));
    EXPECT_EQ("(none)", location());
}

// "/uninstall" started from a downloads folder, and "/uninstall2" naming one:
// the folder keeps everything, even entries named like the install's, and
// the real install elsewhere keeps its entry and shortcuts. The second
// stage says that it found nothing.
TEST(Folders, UninstallFromAFolderWithoutInstallation)
{
    std::string base = scratch("base"), downloads = base + "\\Downloads", real = base + "\\Real";
    make_dirs(downloads.c_str());
    std::string exe = stage_setup(downloads, "setup_game");
    delete_links();
    ASSERT_EQ(0, run_setup(exe, "/silent " + media_args() + " /dir \"" + real + "\"", "", nullptr));
    make_tree(downloads, {"game\\x\\y.dat", "build\\build.log", "setup.log", "tarnok.exe", "uninstall.exe"});
    Tree before = snapshot(downloads);

    Child first = start_setup(exe, "/uninstall", scratch("tmp-first"));
    std::string text;
    HWND done = uninstall_answer_yes(first, &text);
    ASSERT_NE(nullptr, done);
    EXPECT_EQ("No Tarnok installation was found in " + downloads + ".", text);
    screenshot("uninstall-nothing-found");
    gd_answer(done, IDOK);
    EXPECT_TRUE(gd_wait_gone(done, 20000));
    end_child(first);

    EXPECT_EQ(before, snapshot(downloads));
    EXPECT_EQ(real, location());
    EXPECT_TRUE(both_links());
    EXPECT_TRUE(file_exists(real + "\\tarnok.exe"));

    // By hand, quietly: the same.
    EXPECT_EQ(0, run_setup(exe, "/uninstall2 \"" + downloads + "\" /quiet", "", nullptr));
    EXPECT_EQ(before, snapshot(downloads));
    EXPECT_EQ(real, location());
    EXPECT_TRUE(both_links());
}

// An install whose game folder the player moved elsewhere and linked back,
// and whose build folder is a link to a folder of the player's: the uninstall
// removes the install's files but nothing behind either link.
TEST(Folders, UninstallThroughLinksKeepsWhatIsBehindThem)
{
    std::string base = clean_scratch("base"), dir = base + "\\Tarnok";
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    ASSERT_EQ(0, run_setup(exe, "/silent " + media_args() + " /dir \"" + dir + "\"", "", nullptr));
    ASSERT_TRUE(MoveFileA((dir + "\\game").c_str(), (base + "\\moved").c_str()));
    make_tree(base + "\\mybuild", {"build.log", "gen\\mine.c"});
    if (!unix_link(base + "\\moved", dir + "\\game") || !unix_link(base + "\\mybuild", dir + "\\build"))
        GTEST_SKIP() << "cannot make a symbolic link here";
    Tree moved = snapshot(base + "\\moved"), mybuild = snapshot(base + "\\mybuild");
    ASSERT_FALSE(moved.empty());

    ASSERT_EQ(0, run_setup(exe, "/uninstall2 \"" + dir + "\" /quiet", "", nullptr));
    EXPECT_EQ(moved, snapshot(base + "\\moved"));
    EXPECT_EQ(mybuild, snapshot(base + "\\mybuild"));
    EXPECT_FALSE(file_exists(dir + "\\tarnok.exe"));
    EXPECT_FALSE(file_exists(dir + "\\uninstall.exe"));
    EXPECT_EQ("(none)", location());
    remove_link(dir + "\\game");
    remove_link(dir + "\\build");
}

// A new install folder made in a folder that other accounts may rename or
// change (as C:\Games made by another program can be): the install goes
// on, and the log says so once, pointing to the guide. A folder that only
// the player may change says nothing.
TEST(Folders, AnOpenFolderAboveANewInstallFolderIsNamed)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    const std::string note = "Note: other accounts may rename %b\\Tarnok, where the install folder is made, or the "
                             "folders in it; see \"Folders that other accounts may change\" in the players' guide";
    for (Making how : {OPEN_TO_ALL, PLAIN}) {
        SCOPED_TRACE(how == PLAIN ? "the player's own" : "open to all");
        std::string base = clean_scratch(how == PLAIN ? "plain" : "open");
        make_dirs((base + "\\Tarnok").c_str());
        if (!make_folder_so(base, how))
            GTEST_SKIP() << "cannot change the folder's Unix mode here";
        std::vector<std::string> log;
        EXPECT_EQ(0, run_setup(exe, "/silent /nodesktop /nostartmenu " + media_args() + " /dir \"" + base +
                                        "\\Tarnok\\Tarnok PC\"",
                               "", &log));
        EXPECT_EQ(how == OPEN_TO_ALL ? 1 : 0, std::count(log.begin(), log.end(), fill(note, base)));
        ASSERT_FALSE(log.empty());
        EXPECT_EQ("Done.", log.back());
    }
}
