// The setup window, driven from outside as a user would: detection in the
// fields, the mode buttons, the empty-field warning, a full install with
// Play, the close request during an install, and a failed install followed
// by a corrected one. Drive E: is a CD-ROM drive holding disc 2 (the "gui"
// fixture). A screenshot of each state goes to test-output\gui.
#include <gtest/gtest.h>

#include <algorithm>

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

// The paths of a complete install: both discs, the update, the folder.
struct Paths {
    std::string cd1, cd2, patch, dir;
};

// From the sample media where the build keeps them, into dir.
Paths sample_paths(const std::string &dir)
{
    return {media_path("disc1.iso"), media_path("disc2"), media_path("TARNO103.EXE"), dir};
}

// As a player has them, for the cases that make the guide's pictures:
// disc 1's image and the update downloaded beside setup.exe (stage_player
// with both), disc 2 in drive E:, the game into the player's folder.
Paths player_paths()
{
    std::string from = player_downloads;
    return {from + "\\disc1.iso", "E:\\", from + "\\TARNO103.EXE", player_folder};
}

void fill_fields(HWND w, const Paths &p)
{
    gd_set_text(gd_control(w, C_CD1), p.cd1.c_str());
    gd_set_text(gd_control(w, C_CD2), p.cd2.c_str());
    gd_set_text(gd_control(w, C_PATCH), p.patch.c_str());
    gd_set_text(gd_control(w, C_DIR), p.dir.c_str());
}

typedef std::vector<std::string> Lines;

bool has_line(const std::vector<std::string> &lines, const std::string &prefix)
{
    for (const std::string &l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

// Opens setup (exe, staged in `dir`, with the holding kit laid out beside
// it) and starts a convert-mode install of `paths`, which stops at the
// recompiler until hold_release.
void start_held_install(Session &r, const std::string &exe, const std::string &dir, const Paths &paths)
{
    stage_holding_kit(dir);
    open_window(r, exe, "", scratch("tmp"));
    ASSERT_NE(nullptr, r.w);
    fill_fields(r.w, paths);
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
// image of the same disc. Staged as a player has it: the screenshot is the
// guide's picture of the start.
TEST(Window, FieldsFromDetection)
{
    std::string dir = player_downloads;
    std::string exe = stage_player("setup_game", {"disc1.iso", "disc2.iso"});
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
// box is cleared: only the Start menu shortcut is made. Staged as a player
// has it, for the guide's pictures.
TEST(Window, InstallThenPlay)
{
    std::string exe = stage_player("setup_game", {"disc1.iso", "TARNO103.EXE"});
    std::string target = player_folder;
    char start[520], desk[520];
    shortcut_paths(start, desk);
    DeleteFileA(start);
    DeleteFileA(desk);
    Session r;
    open_window(r, exe, "", scratch("tmp"));
    fill_fields(r.w, player_paths());
    gd_set_check(gd_control(r.w, C_PRE), 1);
    gd_set_check(gd_control(r.w, C_DESK), 0);
    screenshot("filled-in");
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
// shortcut is made. Staged as a player has it, for the guide's pictures.
TEST(Window, CloseAnsweredNoThenFailedThenCorrected)
{
    std::string dir = player_downloads;
    std::string target = player_folder;
    std::string exe = stage_player("setup_game", {"disc1.iso", "TARNO103.EXE"});
    Session r;
    ASSERT_NO_FATAL_FAILURE(start_held_install(r, exe, dir, player_paths()));
    EXPECT_FALSE(gd_enabled(gd_control(r.w, C_INSTALL)));
    EXPECT_EQ("Cancel", field(r.w, C_CLOSE));
    // The newest line is selected; the status line says what the install
    // does, the conversion's first stage. The bar has moved with the disc
    // copies.
    const std::string stage = "Converting the game: translating the DOS program ...";
    ASSERT_TRUE(eventually([&] { return field(r.w, C_STATUS) == stage; })) << field(r.w, C_STATUS);
    std::vector<std::string> so_far = list_lines(r.w);
    ASSERT_FALSE(so_far.empty());
    EXPECT_EQ("Converting the game code on this PC (this takes a few minutes)...", so_far.back());
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
    std::string exe = stage_setup(dir, "setup_nogame");
    Session r;
    ASSERT_NO_FATAL_FAILURE(start_held_install(r, exe, dir, sample_paths(scratch("installed") + "\\Tarnok PC")));
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
    // The lines the window had come first; the stopped install's own
    // lines follow them.
    std::vector<std::string> log = child_log(r.child);
    ASSERT_GE(log.size(), shown.size());
    EXPECT_EQ(shown, std::vector<std::string>(log.begin(), log.begin() + (long)shown.size()));
    EXPECT_TRUE(has_line(log, "Copying "));
}

// The install ends while the question is open: Yes then closes the window
// as after any finished install, with exit code 0.
TEST(Window, CloseAnsweredYesAfterTheInstallEnded)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_nogame");
    Session r;
    ASSERT_NO_FATAL_FAILURE(start_held_install(r, exe, dir, sample_paths(scratch("installed") + "\\Tarnok PC")));
    HWND box = ask_to_stop(r);
    ASSERT_NE(nullptr, box);
    hold_release(dir);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_failed, 60000)) << field(r.w, C_STATUS);
    gd_answer(box, IDYES);
    EXPECT_TRUE(gd_wait_gone(r.w, 10000));
    EXPECT_EQ(0, wait_exit(r.child));
}

// After a failed install, Copy details beside Install and Close puts the
// details on the clipboard, as text in both forms other programs paste,
// and the status line says so. They are the report that setup.exe /report
// writes from the same log afterwards, line for line (the drive's free
// space aside, which may change meanwhile).
TEST(Window, CopyDetailsAfterAFailure)
{
    std::string dir = scratch("setup"), tmp = scratch("tmp");
    std::string exe = stage_setup(dir, "setup_game");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    open_window(r, exe, "", tmp);
    fill_fields(r.w, sample_paths(target));
    gd_set_text(gd_control(r.w, C_PATCH), media_path("update-badcrc\\TARNO103.EXE").c_str());
    EXPECT_EQ(24, gd_control_count(r.w)) << "Copy details is shown only after a failure";
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_failed, 60000)) << field(r.w, C_STATUS);
    ASSERT_EQ(25, gd_control_count(r.w));
    HWND copy = gd_control(r.w, C_DETAILS);
    EXPECT_EQ("Copy details", text_of(copy));
    EXPECT_TRUE(gd_enabled(copy));
    RECT b, install;
    GetWindowRect(copy, &b);
    GetWindowRect(gd_control(r.w, C_INSTALL), &install);
    EXPECT_EQ(install.top, b.top);
    EXPECT_LT(b.right, install.left) << "beside Install, on its left";
    clipboard_clear();
    ASSERT_TRUE(gd_click(copy));
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_copied, 30000)) << field(r.w, C_STATUS);
    screenshot("copied-details");
    std::string ansi, pasted = clipboard_text(&ansi);
    Lines lines = report_lines(pasted);
    ASSERT_FALSE(lines.empty()) << "nothing on the clipboard";
    EXPECT_EQ(0u, lines[0].find("Tarnok: Vorblen - Pellurin Setup ")) << lines[0];
    EXPECT_EQ("end of report", lines.back());
    EXPECT_EQ("Result: failed", line_starting(lines, "Result: "));
    EXPECT_EQ("Failure: ERROR: this is not the official 1.03US update (TARNOKP2.EXE does not match)",
              line_starting(lines, "Failure: "));
    EXPECT_EQ("CD 1: ISO image " + media_path("disc1.iso") + " (2,048-byte sectors)", line_starting(lines, "CD 1: "));
    EXPECT_EQ("Path: " + target + " (of the last attempt; it does not exist)", line_starting(lines, "Path: "));
    // The report is ASCII here: the ANSI form holds the same bytes.
    EXPECT_EQ(pasted, ansi);
    close_window(r.child, r.w);

    std::string text;
    ASSERT_EQ(0, run_report(exe, "", tmp, &text));
    Lines written = report_lines(text);
    ASSERT_EQ(written.size(), lines.size()) << text << "\n----\n" << pasted;
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i].compare(0, 12, "Free space: ") != 0) {
            EXPECT_EQ(written[i], lines[i]) << i;
        }
    }
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

namespace {

// The shell's taskbar object replaced in the prefix, for as long as this
// lives, by the stand-in of fake_taskbar.dll, which notes each call in a
// file and fails those that `fail` names ("init", "calls" or "").
struct FakeTaskbar {
    static constexpr const char *server = "Software\\Classes\\CLSID\\{56FDF344-FD6D-11d0-958A-006097C9A090}\\"
                                          "InprocServer32";
    std::string log;
    std::string was;

    FakeTaskbar(const std::string &log_path, const char *fail) : log(log_path)
    {
        char old[MAX_PATH] = "";
        DWORD size = sizeof old;
        RegGetValueA(HKEY_LOCAL_MACHINE, server, nullptr, RRF_RT_REG_SZ, nullptr, old, &size);
        was = old;
        register_server(exe_dir() + "\\fake_taskbar.dll");
        SetEnvironmentVariableA("TARNOK_FAKE_TASKBAR_LOG", log.c_str());
        SetEnvironmentVariableA("TARNOK_FAKE_TASKBAR_FAIL", fail);
    }
    ~FakeTaskbar()
    {
        register_server(was);
        SetEnvironmentVariableA("TARNOK_FAKE_TASKBAR_LOG", nullptr);
        SetEnvironmentVariableA("TARNOK_FAKE_TASKBAR_FAIL", nullptr);
    }
    static void register_server(const std::string &dll)
    {
        RegSetKeyValueA(HKEY_LOCAL_MACHINE, server, nullptr, REG_SZ, dll.c_str(), (DWORD)dll.size() + 1);
    }
    std::vector<std::string> calls() const
    {
        std::vector<std::string> lines;
        std::string all = slurp(log), line;
        for (char c : all) {
            if (c == '\n') {
                lines.push_back(line);
                line.clear();
            } else if (c != '\r') {
                line += c;
            }
        }
        return lines;
    }
};

// How a window ended: its status line, bar, buttons and list.
std::string end_of(HWND w)
{
    std::vector<std::string> lines = list_lines(w);
    return field(w, C_STATUS) + " | bar " + std::to_string(gd_progress(gd_control(w, C_PROG))) + " | " +
           field(w, C_INSTALL) + " | " + field(w, C_CLOSE) + " | " + std::to_string(lines.size()) + " lines, last " +
           (lines.empty() ? "" : lines.back());
}

} // namespace

// The taskbar button shows the install's progress while it runs, red where
// a failed install stopped, and nothing once the game is installed. Wine
// shows none of it: a stand-in object notes the calls, and one that fails
// them, or fails from the start, changes nothing else: each install ends
// as it does with a working one.
TEST(Window, TaskbarButtonShowsProgress)
{
    struct Case {
        const char *fail;
        bool installs;
    } cases[] = {{"", true}, {"calls", true}, {"init", true}, {"", false}, {"calls", false}};
    std::string ended[2]; // with a working object, by outcome
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string(k.installs ? "installs, " : "fails, ") + "failing: " + k.fail);
        std::string tag = std::to_string(n++);
        FakeTaskbar fake(scratch("taskbar" + tag) + "\\calls.txt", k.fail);
        std::string exe = stage_setup(scratch("setup" + tag), "setup_game");
        Session r;
        open_window(r, exe, "", scratch("tmp" + tag));
        fill_fields(r.w, sample_paths(scratch("installed" + tag) + "\\Tarnok PC"));
        if (!k.installs)
            gd_set_text(gd_control(r.w, C_PATCH), media_path("no such update.exe").c_str());
        ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
        const char *end_text = k.installs ? text_installed : text_failed;
        ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), end_text, 120000)) << field(r.w, C_STATUS);
        std::string end = end_of(r.w);
        if (!*k.fail)
            ended[k.installs] = end;
        else
            EXPECT_EQ(ended[k.installs], end);
        close_window(r.child, r.w);

        std::vector<std::string> calls = fake.calls();
        ASSERT_FALSE(calls.empty()) << "no taskbar object was made";
        EXPECT_EQ("HrInit", calls[0]);
        if (!strcmp(k.fail, "init")) {
            EXPECT_EQ(1u, calls.size()) << "an object that failed to start was called";
            continue;
        }
        ASSERT_GE(calls.size(), 3u);
        EXPECT_EQ("SetProgressState 2", calls[1]) << "not shown as normal progress";
        long last = -1;
        for (const std::string &c : calls) {
            unsigned long long done = 0, whole = 0;
            if (sscanf(c.c_str(), "SetProgressValue %llu %llu", &done, &whole) != 2)
                continue;
            EXPECT_EQ(1000u, whole);
            if (calls.back() != c) {
                EXPECT_GE((long)done, last) << "the button's bar moved back";
            }
            last = (long)done;
        }
        if (k.installs) {
            EXPECT_EQ(1000, last);
            EXPECT_EQ("SetProgressState 0", calls.back()) << "the button keeps its bar after the install";
        } else {
            ASSERT_GE(calls.size(), 2u);
            EXPECT_EQ("SetProgressState 4", calls[calls.size() - 2]) << "the button is not red";
            EXPECT_EQ(0u, calls.back().rfind("SetProgressValue ", 0)) << calls.back();
        }
    }
}

// A screen reader names a field, a progress bar or a list by the static
// text just before it among the window's children: each has its label
// there, the bar and the list one that only a screen reader reads.
TEST(Window, ScreenReaderFindsEveryLabel)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    Session r;
    open_window(r, exe, "", scratch("tmp"));
    struct Case {
        int control;
        const char *label;
    } cases[] = {
        {C_CD1, "CD &1:"},         {C_CD2, "CD &2:"},        {C_PATCH, "1.03 &update:"},
        {C_DIR, "Install &to:"},   {C_PROG, "Progress:"},    {C_LIST, "Messages:"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.label);
        HWND before = GetWindow(gd_control(r.w, k.control), GW_HWNDPREV);
        ASSERT_NE(nullptr, before);
        char cls[64] = "";
        GetClassNameA(before, cls, sizeof cls);
        EXPECT_STREQ("static", CharLowerA(cls));
        EXPECT_EQ(k.label, text_of(before));
    }
    close_window(r.child, r.w);
}

// The keyboard alone, with real key strokes through the X server.
namespace {

const int C_LABEL_CD1 = 2, C_LABEL_CD2 = 6, C_LABEL_PATCH = 10, C_LABEL_DIR = 13;
const int C_IMAGE_CD1 = 4, C_FOLDER_CD1 = 5, C_IMAGE_CD2 = 8, C_FOLDER_CD2 = 9, C_BROWSE_PATCH = 12,
          C_BROWSE_DIR = 15;

const char all_filled[] = "/cd1 x /cd2 y /patch z";

// Polls until control n of the window has the focus.
bool focus_on(HWND w, int n)
{
    HWND want = gd_control(w, n);
    return eventually([&] { return focus_of(w) == want; }, 5000);
}

int focused_number(HWND w)
{
    HWND f = focus_of(w);
    for (int i = 1; i <= gd_control_count(w); i++)
        if (gd_control(w, i) == f)
            return i;
    return 0;
}

bool is_default(HWND w, int n)
{
    return (GetWindowLongA(gd_control(w, n), GWL_STYLE) & BS_TYPEMASK) == BS_DEFPUSHBUTTON;
}

} // namespace

// From Install, Tab walks every field, browse button, the radio group, the
// check boxes, the list and the push buttons in reading order and comes
// round; Shift+Tab walks back. A focused push button is the default one.
TEST(Keyboard, TabWalksInReadingOrder)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    stage_holding_kit(dir);
    Session r;
    open_window(r, exe, all_filled, scratch("tmp"));
    ASSERT_TRUE(focus_on(r.w, C_INSTALL)) << "focus at start on " << focused_number(r.w);
    const int order[] = {C_CLOSE,   C_CD1,          C_IMAGE_CD1, C_FOLDER_CD1, C_CD2,  C_IMAGE_CD2,
                         C_FOLDER_CD2, C_PATCH,     C_BROWSE_PATCH, C_DIR,     C_BROWSE_DIR, C_PRE,
                         C_START,   C_DESK,         C_LIST,      C_INSTALL};
    for (int n : order) {
        press_keys(r.w, "Tab");
        ASSERT_TRUE(focus_on(r.w, n)) << "Tab to " << n << " reached " << focused_number(r.w);
        if (n == C_CLOSE) {
            EXPECT_TRUE(is_default(r.w, C_CLOSE));
            EXPECT_FALSE(is_default(r.w, C_INSTALL));
        }
        if (n == C_CD1) {
            EXPECT_TRUE(eventually([&] { return is_default(r.w, C_INSTALL); }, 5000));
            EXPECT_FALSE(is_default(r.w, C_CLOSE));
        }
    }
    screenshot("keyboard-walk");
    for (int i = (int)(sizeof order / sizeof order[0]) - 2; i >= -1; i--) {
        int n = i >= 0 ? order[i] : C_INSTALL;
        press_keys(r.w, "shift+Tab");
        ASSERT_TRUE(focus_on(r.w, n)) << "Shift+Tab to " << n << " reached " << focused_number(r.w);
    }
    close_window(r.child, r.w);
}

// The focus starts on the first empty path field, or on Install; Alt with
// the key marked in a label moves to its field, whose visible text is
// unchanged.
TEST(Keyboard, StartFocusAndMnemonics)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    struct Case {
        const char *args;
        int first;
    };
    // Detection puts drive E:, which holds disc 2, in both CD fields; an
    // empty value empties CD 1 again.
    Case cases[] = {{"/cd1 \"\"", C_CD1},
                    {"", C_PATCH},
                    {"/cd1 x", C_PATCH},
                    {"/cd1 x /patch z /dir \"\"", C_DIR},
                    {all_filled, C_INSTALL}};
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.args);
        Session r;
        open_window(r, exe, k.args, scratch("tmp" + std::to_string(n++)));
        EXPECT_TRUE(focus_on(r.w, k.first)) << "focus on " << focused_number(r.w);
        close_window(r.child, r.w);
    }

    Session r;
    open_window(r, exe, all_filled, scratch("tmp"));
    struct Mnemonic {
        const char *keys;
        int label, field;
        const char *shown;
    } marks[] = {{"alt+1", C_LABEL_CD1, C_CD1, "CD 1:"},
                 {"alt+u", C_LABEL_PATCH, C_PATCH, "1.03 update:"},
                 {"alt+2", C_LABEL_CD2, C_CD2, "CD 2:"},
                 {"alt+t", C_LABEL_DIR, C_DIR, "Install to:"}};
    for (const Mnemonic &m : marks) {
        SCOPED_TRACE(m.keys);
        std::string label = field(r.w, m.label);
        std::string shown;
        for (char ch : label)
            if (ch != '&')
                shown += ch;
        EXPECT_EQ(m.shown, shown);
        EXPECT_EQ(1, (int)std::count(label.begin(), label.end(), '&')) << label;
        press_keys(r.w, m.keys);
        EXPECT_TRUE(focus_on(r.w, m.field)) << "focus on " << focused_number(r.w);
    }
    close_window(r.child, r.w);
}

// The arrow keys move the check inside the radio group and pass a disabled
// button by; Space chooses the focused one. One mode is checked at a time,
// also when the other is the disabled one.
TEST(Keyboard, RadioGroupByKeys)
{
    struct Case {
        const char *variant;
        bool kit;
        const char *args;
        const char *keys;
        int focus;
        bool pre_checked;
    } cases[] = {
        {"setup_game", true, all_filled, "Down", C_BUILD, false},
        {"setup_game", true, all_filled, "Down Up", C_PRE, true},
        {"setup_game", true, all_filled, "Right Right", C_PRE, true},
        {"setup_game", false, all_filled, "Down", C_PRE, true},
        {"setup_game", false, "/build /cd1 x /cd2 y /patch z", "space", C_PRE, true},
        {"setup_nogame", true, all_filled, "Up", C_BUILD, false},
    };
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(std::string(k.variant) + (k.kit ? " with kit, " : " without kit, ") + k.args + ": " + k.keys);
        std::string dir = scratch("setup" + std::to_string(n));
        std::string exe = stage_setup(dir, k.variant);
        if (k.kit)
            stage_holding_kit(dir);
        Session r;
        open_window(r, exe, k.args, scratch("tmp" + std::to_string(n++)));
        // From the install folder's field: its Browse button, then the group.
        press_keys(r.w, "alt+t Tab Tab");
        HWND pre = gd_control(r.w, C_PRE), build = gd_control(r.w, C_BUILD);
        ASSERT_TRUE(eventually([&] { return focus_of(r.w) == pre || focus_of(r.w) == build; }, 5000))
            << "Tab reached " << focused_number(r.w);
        press_keys(r.w, k.keys);
        EXPECT_TRUE(focus_on(r.w, k.focus)) << "focus on " << focused_number(r.w);
        EXPECT_TRUE(eventually([&] { return gd_checked(gd_control(r.w, C_PRE)) == (k.pre_checked ? 1 : 0); }, 5000));
        EXPECT_EQ(!k.pre_checked, gd_checked(gd_control(r.w, C_BUILD)) != 0);
        close_window(r.child, r.w);
    }
}

// Enter with a field left empty gives the warning, and the focus comes back
// to that field; Esc before an install closes the window at once.
TEST(Keyboard, EnterWarnsAndEscCloses)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    Session r;
    open_window(r, exe, "/cd1 x /cd2 y", scratch("tmp"));
    ASSERT_TRUE(focus_on(r.w, C_PATCH));
    press_keys(r.w, "Return");
    HWND box = gd_find_box("Tarnok setup", r.child.pid, 10000);
    ASSERT_NE(nullptr, box);
    gd_answer(box, IDOK);
    EXPECT_TRUE(gd_wait_gone(box, 10000));
    EXPECT_TRUE(focus_on(r.w, C_PATCH)) << "focus on " << focused_number(r.w);
    press_keys(r.w, "Escape");
    EXPECT_TRUE(gd_wait_gone(r.w, 10000));
    EXPECT_EQ(0, wait_exit(r.child));
}

// After a failed install the keys reach Copy details after Close, Enter
// there copies the details, and it is then the default button.
TEST(Keyboard, CopyDetailsByKeys)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    Session r;
    std::string args = "/cd1 \"" + media_path("disc1.iso") + "\" /cd2 \"" + media_path("disc2") + "\" /patch \"" +
                       media_path("no such update.exe") + "\" /dir \"" + scratch("installed") + "\\Tarnok PC\"";
    open_window(r, exe, args, scratch("tmp"));
    ASSERT_TRUE(focus_on(r.w, C_INSTALL));
    press_keys(r.w, "Return");
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_failed, 60000)) << field(r.w, C_STATUS);
    ASSERT_TRUE(focus_on(r.w, C_INSTALL)) << "focus on " << focused_number(r.w);
    press_keys(r.w, "Tab");
    ASSERT_TRUE(focus_on(r.w, C_CLOSE)) << "focus on " << focused_number(r.w);
    press_keys(r.w, "Tab");
    ASSERT_TRUE(focus_on(r.w, C_DETAILS)) << "focus on " << focused_number(r.w);
    EXPECT_TRUE(eventually([&] { return is_default(r.w, C_DETAILS); }, 5000));
    clipboard_clear();
    press_keys(r.w, "Return");
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_copied, 30000)) << field(r.w, C_STATUS);
    EXPECT_EQ("end of report", report_lines(clipboard_text()).back());
    press_keys(r.w, "Tab");
    EXPECT_TRUE(focus_on(r.w, C_CD1)) << "focus on " << focused_number(r.w);
    close_window(r.child, r.w);
}

// A whole install without the mouse: Enter installs, Enter plays.
TEST(Keyboard, EnterInstallsThenPlays)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    std::string target = scratch("installed") + "\\Tarnok PC";
    Session r;
    std::string args = "/cd1 \"" + media_path("disc1.iso") + "\" /cd2 \"" + media_path("disc2") + "\" /patch \"" +
                       media_path("TARNO103.EXE") + "\" /dir \"" + target + "\"";
    open_window(r, exe, args, scratch("tmp"));
    ASSERT_TRUE(focus_on(r.w, C_INSTALL));
    press_keys(r.w, "Return");
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_installed, 120000)) << field(r.w, C_STATUS);
    EXPECT_TRUE(file_exists(target + "\\tarnok.exe"));
    ASSERT_TRUE(focus_on(r.w, C_INSTALL)) << "focus on " << focused_number(r.w);
    EXPECT_TRUE(is_default(r.w, C_INSTALL));
    press_keys(r.w, "Return");
    EXPECT_TRUE(gd_wait_gone(r.w, 10000));
    EXPECT_EQ(0, wait_exit(r.child));
    HWND game = gd_find_window("TarnokStandIn", nullptr, 0, 20000);
    ASSERT_NE(nullptr, game) << "the game did not start";
    PostMessageA(game, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gd_wait_gone(game, 10000));
}

// While an install runs only Cancel can be used; Esc asks the same question
// as Cancel. After the failure the choices come back as they were (the
// prebuilt mode, missing here, stays disabled), the bar is back at 0, and
// the list scrolls sideways to the end of its longest line, with the newest
// line in view.
TEST(Window, BusyWindowThenFailure)
{
    std::string dir = scratch("setup");
    std::string target = scratch("installed") + "\\" + std::string(80, 'x') + "\\Tarnok PC";
    std::string exe = stage_setup(dir, "setup_nogame");
    stage_holding_kit(dir);
    Session r;
    open_window(r, exe, "", scratch("tmp"));
    fill_fields(r.w, sample_paths(target));
    gd_set_check(gd_control(r.w, C_DESK), 0);
    ASSERT_TRUE(gd_click(gd_control(r.w, C_INSTALL)));
    ASSERT_TRUE(hold_reached(dir, 60000)) << field(r.w, C_STATUS);

    const int choices[] = {C_CD1,  C_IMAGE_CD1, C_FOLDER_CD1, C_CD2, C_IMAGE_CD2, C_FOLDER_CD2, C_PATCH,
                           C_BROWSE_PATCH, C_DIR, C_BROWSE_DIR, C_PRE, C_BUILD, C_START, C_DESK};
    for (int n : choices)
        EXPECT_FALSE(gd_enabled(gd_control(r.w, n))) << "control " << n << " enabled while installing";
    EXPECT_FALSE(gd_enabled(gd_control(r.w, C_INSTALL)));
    EXPECT_TRUE(gd_enabled(gd_control(r.w, C_CLOSE)));
    screenshot("busy");
    press_keys(r.w, "Escape");
    HWND box = gd_find_box("Tarnok setup", r.child.pid, 10000);
    ASSERT_NE(nullptr, box);
    char text[256] = "";
    gd_box_text(box, text, sizeof text);
    EXPECT_STREQ("Stop the installation?", text);
    gd_answer(box, IDNO);
    EXPECT_TRUE(gd_wait_gone(box, 10000));

    hold_release(dir);
    ASSERT_TRUE(gd_wait_text(gd_control(r.w, C_STATUS), text_failed, 60000)) << field(r.w, C_STATUS);
    for (int n : choices)
        EXPECT_EQ(n != C_PRE, gd_enabled(gd_control(r.w, n)) != 0) << "control " << n;
    EXPECT_FALSE(gd_checked(gd_control(r.w, C_PRE)));
    EXPECT_TRUE(gd_checked(gd_control(r.w, C_BUILD)));
    EXPECT_TRUE(gd_checked(gd_control(r.w, C_START)));
    EXPECT_FALSE(gd_checked(gd_control(r.w, C_DESK)));
    EXPECT_EQ(0, gd_progress(gd_control(r.w, C_PROG)));
    EXPECT_EQ(target, field(r.w, C_DIR));

    HWND lst = gd_control(r.w, C_LIST);
    std::vector<std::string> lines = list_lines(r.w);
    ASSERT_FALSE(lines.empty());
    int widest = 0;
    for (const std::string &l : lines)
        widest = std::max(widest, text_width(lst, l));
    RECT client;
    GetClientRect(lst, &client);
    EXPECT_GT(widest, client.right) << "no line is longer than the list";
    EXPECT_TRUE(GetWindowLongA(lst, GWL_STYLE) & WS_HSCROLL);
    EXPECT_GE((int)SendMessageA(lst, LB_GETHORIZONTALEXTENT, 0, 0), widest);
    int top = (int)SendMessageA(lst, LB_GETTOPINDEX, 0, 0);
    int item = (int)SendMessageA(lst, LB_GETITEMHEIGHT, 0, 0);
    int last = (int)lines.size() - 1;
    EXPECT_EQ(last, gd_list_selection(lst));
    EXPECT_LE(top, last);
    EXPECT_LE((last - top + 1) * item, client.bottom) << "the newest line is not wholly in view";
    screenshot("failed-long-line");
    close_window(r.child, r.w);
}
