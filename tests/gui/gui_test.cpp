// The setup window, driven from outside as a user would: detection in the
// fields, the mode buttons, the empty-field warning, a full install with
// Play, the close request during an install, and a failed install followed
// by a corrected one. Drive E: is a CD-ROM drive holding disc 2 (the "gui"
// fixture). A screenshot of each state goes to test-output\gui.
#include <gtest/gtest.h>

#include "guisupport.h"
#include "install/install.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

// Closes the window with Cancel (no question before an install) and expects
// a clean end.
void close_window(Child &c, HWND w)
{
    ASSERT_TRUE(gd_click(gd_control(w, C_CLOSE)));
    EXPECT_TRUE(gd_wait_gone(w, 10000));
    EXPECT_EQ(0, wait_exit(c));
}

struct Session {
    Child child;
    HWND w = nullptr;
    ~Session() { end_child(child); }
};

void open_window(Session &r, const std::string &exe, const std::string &args, const std::string &tmp)
{
    r.child = start_setup(exe, args, tmp);
    r.w = setup_window(r.child);
    ASSERT_NE(nullptr, r.w) << "no setup window";
}

// The paths of a complete install from the sample media.
void fill_fields(HWND w, const std::string &dir)
{
    gd_set_text(gd_control(w, C_CD1), media_path("disc1.iso").c_str());
    gd_set_text(gd_control(w, C_CD2), media_path("disc2").c_str());
    gd_set_text(gd_control(w, C_PATCH), media_path("TARNO103.EXE").c_str());
    gd_set_text(gd_control(w, C_DIR), dir.c_str());
}

bool has_line(const std::vector<std::string> &lines, const std::string &prefix)
{
    for (const std::string &l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

// Opens setup (a copy of `variant` with the holding kit beside it in `dir`)
// and starts a convert-mode install into `target`, which stops at the
// recompiler until hold_release.
void start_held_install(Session &r, const std::string &variant, const std::string &dir, const std::string &target)
{
    std::string exe = stage_setup(dir, variant);
    stage_holding_kit(dir);
    open_window(r, exe, "", scratch("tmp"));
    ASSERT_NE(nullptr, r.w);
    fill_fields(r.w, target);
    gd_set_check(gd_control(r.w, C_BUILD), 1);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    ASSERT_TRUE(hold_reached(dir, 60000)) << field(r.w, C_STATUS);
}

// The close request during the install, from the close box or from Cancel:
// the question it asks, or null.
HWND ask_to_stop(Session &r, bool cancel_button = false)
{
    if (cancel_button)
        EXPECT_TRUE(gd_click(gd_control(r.w, C_CLOSE)));
    else
        PostMessageA(r.w, WM_CLOSE, 0, 0);
    HWND box = gd_find_box("Tarnok setup", r.child.pid, 10000);
    char text[256] = "";
    if (box)
        gd_box_text(box, text, sizeof text);
    EXPECT_STREQ("Stop the installation?", text);
    return box;
}

} // namespace

// Drive E: holds disc 2; beside setup.exe lie images of both discs, the
// update and a file that only looks like an image. The drive wins over the
// image of the same disc.
TEST(Window, FieldsFromDetection)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game", {"disc1.iso", "disc2.iso"});
    spit(dir + "\\TARNO103.EXE", "detected by its name only");
    spit(dir + "\\notadisc.iso", "no image at all");
    Session r;
    open_window(r, exe, "", scratch("tmp"));
    screenshot("detected");
    EXPECT_EQ(dir + "\\disc1.iso", field(r.w, C_CD1));
    EXPECT_EQ("E:\\", field(r.w, C_CD2));
    EXPECT_EQ(dir + "\\TARNO103.EXE", field(r.w, C_PATCH));
    EXPECT_EQ("C:\\Games\\Tarnok PC", field(r.w, C_DIR));
    EXPECT_EQ(text_ready, field(r.w, C_STATUS));
    EXPECT_EQ("Install", field(r.w, C_INSTALL));
    EXPECT_EQ("Cancel", field(r.w, C_CLOSE));
    EXPECT_EQ(24, gd_control_count(r.w));
    // The close box before any install closes at once, without a question.
    PostMessageA(r.w, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gd_wait_gone(r.w, 10000));
    EXPECT_EQ(0, wait_exit(r.child));
}

// The radio buttons follow the resource and the kit; the shortcut boxes
// start checked whatever the command line says.
TEST(Window, ModeButtonsAndShortcutBoxes)
{
    struct Case {
        const char *variant;
        bool kit;
        const char *args;
        bool pre_enabled, build_enabled, pre_checked;
    } cases[] = {
        {"setup_game", true, "", true, true, true},
        {"setup_game", false, "/nodesktop /nostartmenu", true, false, true},
        {"setup_game", false, "/build", true, false, false},
        {"setup_nogame", true, "/nodesktop", false, true, false},
        {"setup_nogame", false, "/prebuilt /nostartmenu", false, false, true},
        {"setup_nogame", false, "", false, false, false},
    };
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string(k.variant) + (k.kit ? " with kit " : " without kit ") + k.args);
        std::string dir = scratch("setup" + std::to_string(n));
        std::string exe = stage_setup(dir, k.variant);
        if (k.kit)
            stage_holding_kit(dir);
        Session r;
        open_window(r, exe, k.args, scratch("tmp" + std::to_string(n)));
        if (n == 3)
            screenshot("modes-nogame-kit");
        n++;
        EXPECT_EQ(k.pre_enabled, gd_enabled(gd_control(r.w, C_PRE)) != 0);
        EXPECT_EQ(k.build_enabled, gd_enabled(gd_control(r.w, C_BUILD)) != 0);
        EXPECT_EQ(k.pre_checked, gd_checked(gd_control(r.w, C_PRE)) != 0);
        EXPECT_EQ(!k.pre_checked, gd_checked(gd_control(r.w, C_BUILD)) != 0);
        EXPECT_TRUE(gd_checked(gd_control(r.w, C_START)));
        EXPECT_TRUE(gd_checked(gd_control(r.w, C_DESK)));
        close_window(r.child, r.w);
    }
}

TEST(Window, EmptyFieldWarnsAndStartsNothing)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    Session r;
    open_window(r, exe, "/cd1 x /cd2 y /patch z", scratch("tmp"));
    gd_set_text(gd_control(r.w, C_DIR), "");
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    HWND box = gd_find_box("Tarnok setup", r.child.pid, 10000);
    ASSERT_NE(nullptr, box);
    char text[256];
    gd_box_text(box, text, sizeof text);
    EXPECT_STREQ("Please fill in both CDs, the 1.03 update and the install folder.", text);
    screenshot("empty-field-warning");
    gd_answer(box, IDOK);
    EXPECT_TRUE(gd_wait_gone(box, 10000));
    EXPECT_TRUE(gd_enabled(gd_control(r.w, C_INSTALL)));
    EXPECT_EQ(text_ready, field(r.w, C_STATUS));
    EXPECT_EQ("Cancel", field(r.w, C_CLOSE));
    EXPECT_EQ(0, gd_list_count(gd_control(r.w, C_LIST)));
    EXPECT_FALSE(has_line(child_log(r.child), "Install to")) << "a worker started";
    close_window(r.child, r.w);
}

// The whole road: Install, the list and status line following the log, the
// bar at 1000, Play starting the game in the install folder. The desktop
// box is cleared: only the Start menu shortcut is made.
TEST(Window, InstallThenPlay)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    std::string target = scratch("installed") + "\\Tarnok PC";
    char start[520], desk[520];
    shortcut_paths(start, desk);
    DeleteFileA(start);
    DeleteFileA(desk);
    Session r;
    open_window(r, exe, "", scratch("tmp"));
    fill_fields(r.w, target);
    gd_set_check(gd_control(r.w, C_PRE), 1);
    gd_set_check(gd_control(r.w, C_DESK), 0);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
    screenshot("installed");

    std::vector<std::string> list = list_lines(r.w);
    EXPECT_EQ(child_log(r.child), list);
    ASSERT_FALSE(list.empty());
    EXPECT_EQ("Install to " + target + " (prebuilt)", list.front());
    EXPECT_EQ("Done.", list.back());
    EXPECT_EQ((int)list.size() - 1, gd_list_selection(gd_control(r.w, C_LIST)));
    EXPECT_EQ(1000, gd_progress(gd_control(r.w, C_PROG)));
    EXPECT_EQ("Play", field(r.w, C_INSTALL));
    EXPECT_TRUE(gd_enabled(gd_control(r.w, C_INSTALL)));
    EXPECT_EQ("Close", field(r.w, C_CLOSE));
    EXPECT_TRUE(file_exists(target + "\\tarnok.exe"));
    EXPECT_TRUE(file_exists(start));
    EXPECT_FALSE(file_exists(desk));

    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    EXPECT_TRUE(gd_wait_gone(r.w, 10000));
    EXPECT_EQ(0, wait_exit(r.child));
    HWND game = gd_find_window("TarnokStandIn", nullptr, 0, 20000);
    ASSERT_NE(nullptr, game) << "the game did not start";
    screenshot("game-started");
    std::string report = slurp(target + "\\tarnok.log");
    EXPECT_NE(std::string::npos, report.find("(the install folder)")) << report;
    PostMessageA(game, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gd_wait_gone(game, 10000));
}

// Convert mode with a recompiler that holds the install in the middle. The
// close request asks; No lets the install go on (here to its failure), and
// the same window then installs the prebuilt game, with the Start menu box
// cleared: the list keeps the first run's lines, and only the desktop
// shortcut is made.
TEST(Window, CloseAnsweredNoThenFailedThenCorrected)
{
    std::string dir = scratch("setup");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    ASSERT_NO_FATAL_FAILURE(start_held_install(r, "setup_game", dir, target));
    EXPECT_FALSE(gd_enabled(gd_control(r.w, C_INSTALL)));
    EXPECT_EQ("Cancel", field(r.w, C_CLOSE));
    // The newest line is selected and shown on the status line; the bar has
    // moved with the disc copies.
    std::vector<std::string> so_far = list_lines(r.w);
    ASSERT_TRUE(eventually([&] {
        so_far = list_lines(r.w);
        return !so_far.empty() && field(r.w, C_STATUS) == so_far.back();
    }));
    EXPECT_EQ((int)so_far.size() - 1, gd_list_selection(gd_control(r.w, C_LIST)));
    EXPECT_GT(gd_progress(gd_control(r.w, C_PROG)), 0);
    screenshot("installing");

    HWND box = ask_to_stop(r);
    ASSERT_NE(nullptr, box);
    screenshot("stop-question");
    gd_answer(box, IDNO);
    EXPECT_TRUE(gd_wait_gone(box, 10000));
    EXPECT_TRUE(IsWindow(r.w));

    hold_release(dir);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_failed, 60000)) << field(r.w, C_STATUS);
    screenshot("failed");
    std::vector<std::string> first = list_lines(r.w);
    EXPECT_EQ(child_log(r.child), first);
    EXPECT_EQ("Install", field(r.w, C_INSTALL));
    EXPECT_TRUE(gd_enabled(gd_control(r.w, C_INSTALL)));
    EXPECT_EQ("Close", field(r.w, C_CLOSE));

    char start[520], desk[520];
    shortcut_paths(start, desk);
    DeleteFileA(start);
    DeleteFileA(desk);
    gd_set_check(gd_control(r.w, C_PRE), 1);
    gd_set_check(gd_control(r.w, C_START), 0);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
    screenshot("corrected");
    EXPECT_FALSE(file_exists(start));
    EXPECT_TRUE(file_exists(desk));
    std::vector<std::string> both = list_lines(r.w);
    ASSERT_GT(both.size(), first.size());
    EXPECT_EQ(first, std::vector<std::string>(both.begin(), both.begin() + first.size()));
    EXPECT_EQ("Install to " + target + " (prebuilt)", both[first.size()]);
    EXPECT_EQ(child_log(r.child), both);
    EXPECT_EQ(1000, gd_progress(gd_control(r.w, C_PROG)));
    EXPECT_EQ("Play", field(r.w, C_INSTALL));
    close_window(r.child, r.w);
}

// Yes ends the process with exit code 1, and the log file holds every line
// the window had received, each complete. The build ends with it: the held
// recompiler does not wait for its release.
TEST(Window, CloseAnsweredYesEndsTheProcess)
{
    std::string dir = scratch("setup");
    Session r;
    ASSERT_NO_FATAL_FAILURE(start_held_install(r, "setup_nogame", dir, scratch("installed") + "\\Tarnok PC"));
    std::vector<HANDLE> build;
    for (DWORD id : children_of(r.child.pid)) {
        HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        char name[MAX_PATH] = "";
        DWORD size = sizeof name;
        if (h && QueryFullProcessImageNameA(h, 0, name, &size) && strstr(name, "\\builder\\python\\python.exe"))
            build.push_back(h);
        else if (h)
            CloseHandle(h);
    }
    ASSERT_EQ(1u, build.size()) << "the held recompiler";
    HWND box = ask_to_stop(r, true);
    ASSERT_NE(nullptr, box);
    std::vector<std::string> shown = list_lines(r.w);
    gd_answer(box, IDYES);
    EXPECT_EQ(1, wait_exit(r.child));
    EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(build[0], 10000)) << "the recompiler survived the stop";
    CloseHandle(build[0]);
    hold_release(dir);
    std::vector<std::string> log = child_log(r.child);
    EXPECT_EQ(shown, log);
    EXPECT_TRUE(has_line(log, "Copying "));
}

// The install ends while the question is open: Yes then closes the window
// as after any finished install, with exit code 0.
TEST(Window, CloseAnsweredYesAfterTheInstallEnded)
{
    std::string dir = scratch("setup");
    Session r;
    ASSERT_NO_FATAL_FAILURE(start_held_install(r, "setup_nogame", dir, scratch("installed") + "\\Tarnok PC"));
    HWND box = ask_to_stop(r);
    ASSERT_NE(nullptr, box);
    hold_release(dir);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_failed, 60000)) << field(r.w, C_STATUS);
    gd_answer(box, IDYES);
    EXPECT_TRUE(gd_wait_gone(r.w, 10000));
    EXPECT_EQ(0, wait_exit(r.child));
}

// "Image..." on a field that names a folder opens the file dialog without a
// file name, on a field that names a file with that file (the dialog shows
// its name in its folder); Cancel leaves the field as it was.
TEST(Window, ImageDialogStartsFromTheField)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    Session r;
    open_window(r, exe, "", scratch("tmp"));
    const int image_cd1 = 4, file_name_box = 1148; // the dialog's file name field
    struct Case {
        std::string field, shown;
    } cases[] = {{media_path("disc1"), ""}, {media_path("disc1.iso"), "disc1.iso"}};
    for (const Case &k : cases) {
        SCOPED_TRACE(k.field);
        gd_set_text(gd_control(r.w, C_CD1), k.field.c_str());
        ASSERT_TRUE(gd_click(gd_control(r.w, image_cd1)));
        HWND dlg = gd_find_box("Tarnok CD 1", r.child.pid, 20000);
        ASSERT_NE(nullptr, dlg);
        if (k.shown.empty())
            screenshot("image-dialog");
        HWND name = GetDlgItem(dlg, file_name_box);
        ASSERT_NE(nullptr, name);
        EXPECT_EQ(k.shown, text_of(name));
        gd_answer(dlg, IDCANCEL);
        EXPECT_TRUE(gd_wait_gone(dlg, 10000));
        EXPECT_EQ(k.field, field(r.w, C_CD1));
    }
    close_window(r.child, r.w);
}
