// setup.exe's command line as a table of argument lists and outcomes: the
// way of running it chooses, the folder and mode it installs with (its
// first log line), its exit code, and whether it shows a window or a box.
// Then unattended installs, and the two-stage uninstall end to end.
#include <gtest/gtest.h>

#include "../cdsrc/cdimage.h"
#include "guisupport.h"
#include "install/install.h"
#include "lha/walk.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

struct Seen {
    bool window = false; // the setup window
    bool box = false;    // any message box
};

struct Shown {
    DWORD pid;
    Seen *seen;
};

BOOL CALLBACK note_window(HWND w, LPARAM lp)
{
    Shown *s = (Shown *)lp;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    if (pid != s->pid || !IsWindowVisible(w))
        return TRUE;
    char cls[64];
    GetClassNameA(w, cls, sizeof cls);
    if (!strcmp(cls, "TarnokSetup"))
        s->seen->window = true;
    if (!strcmp(cls, "#32770"))
        s->seen->box = true;
    return TRUE;
}

// Waits for the child's end, watching what it shows meanwhile.
int wait_watching(Child &c, Seen &seen, DWORD timeout_ms = 60000)
{
    DWORD start = GetTickCount();
    Shown s = {c.pid, &seen};
    while (WaitForSingleObject(c.process, 20) == WAIT_TIMEOUT) {
        EnumWindows(note_window, (LPARAM)&s);
        if (GetTickCount() - start >= timeout_ms)
            return -2;
    }
    return wait_exit(c);
}

// Puts `with` in place of every "%s".
std::string fill(std::string text, const std::string &with)
{
    for (size_t at = text.find("%s"); at != std::string::npos; at = text.find("%s", at + with.size()))
        text.replace(at, 2, with);
    return text;
}

bool has_line(const std::vector<std::string> &lines, const std::string &line)
{
    for (const std::string &l : lines)
        if (l == line)
            return true;
    return false;
}

std::string uninstall_key() { return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnokVBL_Pellurin"; }

bool uninstall_entry_exists()
{
    HKEY k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, uninstall_key().c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

// The files that are to be deleted at the next restart, as Windows keeps them.
std::string pending_deletions()
{
    HKEY k;
    std::string all;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ, &k) !=
        ERROR_SUCCESS)
        return all;
    char buf[65536];
    DWORD size = sizeof buf, type = 0;
    if (RegQueryValueExA(k, "PendingFileRenameOperations", NULL, &type, (BYTE *)buf, &size) == ERROR_SUCCESS)
        all.assign(buf, size);
    RegCloseKey(k);
    for (char &ch : all)
        if (ch == 0)
            ch = '|';
    return all;
}

} // namespace

// Unattended runs of a setup without the prebuilt game and without a kit:
// each ends at the mode check, after its first line shows the folder and
// the mode it took from the command line.
TEST(Cmdline, UnattendedOptionsTable)
{
    struct Case {
        const char *args;
        const char *line; // %s: the test's install folder
    } cases[] = {
        {"/silent /dir %s", "Install to %s (convert on this PC)"},
        {"/SILENT /Dir %s /PREBUILT", "Install to %s (prebuilt)"},
        {"/silent /build /prebuilt /dir %s", "Install to %s (prebuilt)"},
        {"/silent /prebuilt /build /dir %s", "Install to %s (convert on this PC)"},
        {"/silent /dir %s /dir", "Install to  (convert on this PC)"},
        {"/silent /frobnicate /dir %s -x", "Install to %s (convert on this PC)"},
        {"/silent /dir %s /uninstall2", "Install to %s (convert on this PC)"},
        {"/quiet /silent /dir %s", "Install to %s (convert on this PC)"},
        {"/dir %s /silent /dir %s\\two", "Install to %s\\two (convert on this PC)"},
    };
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_nogame");
    // No blank in the folder, so that it needs no quotes.
    std::string target = dir + "\\TarnokPC";
    int n = 0;
    for (const Case &k : cases) {
        std::string args = fill(k.args, target), line = fill(k.line, target);
        SCOPED_TRACE(args);
        Child c = start_setup(exe, args, scratch("tmp" + std::to_string(n++)));
        Seen seen;
        EXPECT_EQ(1, wait_watching(c, seen));
        EXPECT_FALSE(seen.window);
        EXPECT_FALSE(seen.box);
        std::vector<std::string> log = child_log(c);
        ASSERT_GE(log.size(), 2u);
        EXPECT_EQ(line, log[0]);
        EXPECT_EQ(0u, log[1].find("ERROR: "));
        end_child(c);
    }
}

// Runs that open the window: the fields show what the command line said.
TEST(Cmdline, WindowOptionsTable)
{
    struct Case {
        const char *args;
        int control;
        const char *text;
    } cases[] = {
        {"/cd1 /silent", C_CD1, "/silent"},
        {"/dir", C_DIR, ""},
        {"/uninstall2", C_DIR, "C:\\Games\\Tarnok PC"},
        // A disc given again is another copy of it: the field shows the first.
        {"/Cd2 x:\\two /patch p /CD2 \"y:\\a b\"", C_CD2, "x:\\two"},
        {"/patch p /patch q", C_PATCH, "q"},
        {"/nodesktop /patch", C_PATCH, ""},
    };
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.args);
        Child c = start_setup(exe, k.args, scratch("tmp" + std::to_string(n++)));
        HWND w = setup_window(c);
        ASSERT_NE(nullptr, w);
        EXPECT_EQ(k.text, field(w, k.control));
        ASSERT_TRUE(gd_click(gd_control(w, C_CLOSE)));
        EXPECT_EQ(0, wait_exit(c));
        end_child(c);
    }
}

// "/uninstall" anywhere starts the first stage, which asks first; the first
// uninstall option decides. Neither stage opens the log file.
TEST(Cmdline, UninstallOptionsDecide)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_nogame");
    const char *asking[] = {"/uninstall", "/dir /uninstall", "/silent /UNINSTALL /uninstall2 x",
                            "/quiet /uninstall"};
    int n = 0;
    for (const char *args : asking) {
        SCOPED_TRACE(args);
        Child c = start_setup(exe, args, scratch("tmp" + std::to_string(n++)));
        HWND box = gd_find_box("Tarnok uninstall", c.pid, 20000);
        ASSERT_NE(nullptr, box);
        char text[256];
        gd_box_text(box, text, sizeof text);
        EXPECT_STREQ("Remove Tarnok: Vorblen (Pellurin) and its saved games?", text);
        gd_answer(box, IDNO);
        EXPECT_EQ(0, wait_exit(c));
        EXPECT_FALSE(file_exists(c.tmp + "\\tarnok_setup.log"));
        EXPECT_TRUE(file_exists(exe));
        end_child(c);
    }

    // The second stage first: it removes the installation it finds in the
    // folder and, with /quiet, says nothing. Started from a program file that
    // is not the uninstaller's temporary copy, it leaves that file alone, now
    // and at the next restart.
    std::string victim = scratch("victim");
    spit(victim + "\\game\\hd\\TARNOK\\file", "x");
    spit(victim + "\\tarnok.exe", "x");
    Child c = start_setup(exe, "/uninstall2 \"" + victim + "\" /uninstall /quiet", scratch("tmp-second"));
    Seen seen;
    EXPECT_EQ(0, wait_watching(c, seen));
    EXPECT_FALSE(seen.box);
    EXPECT_FALSE(seen.window);
    EXPECT_FALSE(dir_exists(victim));
    EXPECT_FALSE(file_exists(c.tmp + "\\tarnok_setup.log"));
    EXPECT_TRUE(file_exists(exe));
    std::string pending = pending_deletions(), lower_exe = exe;
    for (char &ch : pending)
        ch = (char)tolower((unsigned char)ch);
    for (char &ch : lower_exe)
        ch = (char)tolower((unsigned char)ch);
    EXPECT_EQ(std::string::npos, pending.find(lower_exe)) << pending;
}

// A complete unattended install exits 0 and shows nothing; without the
// shortcut options it makes both shortcuts, and each option leaves out its own.
TEST(Cmdline, UnattendedInstallSucceeds)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    char start[520], desk[520];
    shortcut_paths(start, desk);
    struct Case {
        const char *extra;
        bool start, desk;
    } cases[] = {{"/nodesktop /nostartmenu", false, false},
                 {"", true, true},
                 {"/nodesktop", true, false},
                 {"/nostartmenu", false, true}};
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.extra);
        DeleteFileA(start);
        DeleteFileA(desk);
        std::string target = scratch("installed" + std::to_string(n)) + "\\Tarnok PC";
        std::string args = "/silent /cd1 \"" + media_path("disc1-m1.cue") + "\" /cd2 \"" + media_path("disc2.iso") +
                           "\" /patch \"" + media_path("TARNO103.EXE") + "\" /dir \"" + target + "\" " + k.extra;
        Child c = start_setup(exe, args, scratch("tmp" + std::to_string(n++)));
        Seen seen;
        EXPECT_EQ(0, wait_watching(c, seen, 120000));
        EXPECT_FALSE(seen.window);
        EXPECT_FALSE(seen.box);
        std::vector<std::string> log = child_log(c);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ("Install to " + target + " (prebuilt)", log.front());
        EXPECT_EQ("Done.", log.back());
        EXPECT_TRUE(file_exists(target + "\\uninstall.exe"));
        EXPECT_EQ(k.start, file_exists(start));
        EXPECT_EQ(k.desk, file_exists(desk));
    }
}

// A disc copied to a folder may keep the read-only, hidden and system flags
// its files had: the install copies them all, as normal files.
TEST(Cmdline, UnattendedInstallFromAFolderWithFlaggedFiles)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    std::string disc2 = scratch("disc2");
    const DWORD all = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    struct File {
        const char *name;
        DWORD attrs;
    } files[] = {
        {"TARNOK\\DISK2\\DISK2", FILE_ATTRIBUTE_READONLY},
        {"TARNOK\\HIDDEN.DAT", FILE_ATTRIBUTE_HIDDEN},
        {"TARNOK\\SYSTEM.DAT", FILE_ATTRIBUTE_SYSTEM},
        {"ALL.DAT", all},
        {"PLAIN.DAT", FILE_ATTRIBUTE_NORMAL},
    };
    CreateDirectoryA((disc2 + "\\TARNOK").c_str(), NULL);
    CreateDirectoryA((disc2 + "\\TARNOK\\DISK2").c_str(), NULL);
    for (const File &f : files) {
        spit(disc2 + "\\" + f.name, std::string("bytes of ") + f.name);
        SetFileAttributesA((disc2 + "\\" + f.name).c_str(), f.attrs);
        ASSERT_EQ(f.attrs & all, GetFileAttributesA((disc2 + "\\" + f.name).c_str()) & all) << f.name;
    }
    std::string target = scratch("installed") + "\\Tarnok PC";
    std::string args = "/silent /cd1 \"" + media_path("disc1.iso") + "\" /cd2 \"" + disc2 + "\" /patch \"" +
                       media_path("TARNO103.EXE") + "\" /dir \"" + target + "\" /nodesktop /nostartmenu";
    Child c = start_setup(exe, args, scratch("tmp"));
    Seen seen;
    EXPECT_EQ(0, wait_watching(c, seen, 120000));
    EXPECT_EQ("Done.", child_log(c).back());
    std::string copy = target + "\\game\\cd2";
    EXPECT_EQ("", compare_trees(disc2, copy));
    for (const File &f : files) {
        DWORD a = GetFileAttributesA((copy + "\\" + f.name).c_str());
        EXPECT_NE(INVALID_FILE_ATTRIBUTES, a) << f.name;
        EXPECT_EQ(0u, a & all) << f.name;
        SetFileAttributesA((disc2 + "\\" + f.name).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

// Unattended with a disc that is not there: exit code 1, the reason in the
// log, and still no box.
TEST(Cmdline, UnattendedInstallFails)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    std::string args = "/silent /cd1 \"" + dir + "\\missing.iso\" /cd2 \"" + media_path("disc2") + "\" /patch \"" +
                       media_path("TARNO103.EXE") + "\" /dir \"" + dir + "\\Tarnok PC\"";
    Child c = start_setup(exe, args, scratch("tmp"));
    Seen seen;
    EXPECT_EQ(1, wait_watching(c, seen));
    EXPECT_FALSE(seen.window);
    EXPECT_FALSE(seen.box);
    EXPECT_TRUE(has_line(child_log(c), "ERROR: CD 1: not a readable disc, image or folder"));
}

// A level-0 member stored as it is.
static std::string stored_member(const std::string &name, const std::string &data)
{
    std::string h;
    h += (char)(22 + name.size());
    h += '\0';
    h += "-lh0-";
    for (uint32_t v : {(uint32_t)data.size(), (uint32_t)data.size(), 0u})
        for (int i = 0; i < 4; i++)
            h += (char)(v >> (8 * i));
    h += std::string("\x20\0", 2);
    h += (char)name.size();
    h += name;
    uint32_t crc = 0;
    for (unsigned char b : data) {
        crc ^= b;
        for (int k = 0; k < 8; k++)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    h += (char)(crc & 0xFF);
    h += (char)(crc >> 8);
    unsigned sum = 0;
    for (size_t i = 2; i < h.size(); i++)
        sum += (unsigned char)h[i];
    h[1] = (char)sum;
    return h + data;
}

// A disc 1 image with the marker and, in its root, a file named like a
// device with a blank after it.
static std::string hostile_disc1()
{
    IsoImage img;
    DirSector root, tarnok, disk1;
    root.add_self_and_parent(18, 18);
    root.add("TARNOK", 19, 2048, true);
    root.add("NUL ", 21, 5, false);
    tarnok.add_self_and_parent(19, 18);
    tarnok.add("DISK1", 20, 2048, true);
    disk1.add_self_and_parent(20, 19);
    disk1.add("DISK1;1", 21, 5, false);
    for (DirSector *d : {&root, &tarnok, &disk1}) {
        d->pad_to(2048);
        img.append(d->bytes);
    }
    img.append(std::vector<unsigned char>{'d', 'i', 's', 'c', '1'});
    return img.str();
}

// A player's hostile media, run through setup.exe: a disc image holding a
// device name, and an update whose members are named AUX and COM1. Each
// install fails with exit code 1 and a line naming the file; nothing was
// sent to a device as if it were a file.
TEST(Cmdline, HostileMediaAreRefused)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    spit(dir + "\\hostile.iso", hostile_disc1());
    // The official members follow, so that the update passes its check in
    // memory, which reads no other member, and is unpacked until AUX.
    std::string official = slurp(media_path("TARNO103.EXE"));
    uint64_t first = 0;
    ASSERT_TRUE(lha_find_first((const unsigned char *)official.data(), official.size(), &first));
    spit(dir + "\\update\\TARNO103.EXE", stored_member("README.TXT", "fine") + stored_member("AUX", "to a port") +
                                            stored_member("COM1.DAT", "to a port") + official.substr(first));
    struct Case {
        std::string cd1, patch, line;
    } cases[] = {
        {dir + "\\hostile.iso", media_path("TARNO103.EXE"), "unsafe name \"NUL \" in %s\\game\\cd1"},
        {media_path("disc1.iso"), dir + "\\update\\TARNO103.EXE", "LHA: unsafe member name AUX"},
    };
    int n = 0;
    std::string target;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.line);
        target = scratch("installed" + std::to_string(n)) + "\\Tarnok PC";
        // A folder that was there before keeps what a failed install wrote,
        // so that what the update gave before AUX can be looked at.
        CreateDirectoryA(target.c_str(), NULL);
        std::string args = "/silent /cd1 \"" + k.cd1 + "\" /cd2 \"" + media_path("disc2.iso") + "\" /patch \"" +
                           k.patch + "\" /dir \"" + target + "\" /nodesktop /nostartmenu";
        Child c = start_setup(exe, args, scratch("tmp" + std::to_string(n++)));
        Seen seen;
        EXPECT_EQ(1, wait_watching(c, seen, 120000));
        EXPECT_FALSE(seen.box);
        std::vector<std::string> log = child_log(c);
        EXPECT_TRUE(has_line(log, fill(k.line, target))) << (log.empty() ? "" : log.back());
        EXPECT_FALSE(file_exists(target + "\\uninstall.exe"));
    }
    EXPECT_EQ(std::vector<std::string>{"README.TXT"}, list_dir(target + "\\game\\hd\\TARNOK"))
        << "the update's members before AUX, and no other";
}

// The two-stage uninstall as a user starts it: uninstall.exe run from inside
// the install folder (as Explorer starts it, with that folder as its current
// folder). The copy in the temporary folder removes everything, the folder
// included, and shows its message. Once it has ended, its copy goes too,
// without a restart, and whatever removed it has ended as well. (Deletion at
// restart stays asked for, as a fallback; Wine grants it to anyone.)
TEST(Cmdline, TwoStageUninstall)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_game");
    std::string target = scratch("installed") + "\\Tarnok PC";
    std::string args = "/silent /cd1 \"" + media_path("disc1.iso") + "\" /cd2 \"" + media_path("disc2") +
                       "\" /patch \"" + media_path("TARNO103.EXE") + "\" /dir \"" + target + "\"";
    Child install = start_setup(exe, args, scratch("tmp-install"));
    ASSERT_EQ(0, wait_exit(install, 120000));
    char start[520], desk[520];
    shortcut_paths(start, desk);
    ASSERT_TRUE(file_exists(start));
    ASSERT_TRUE(file_exists(desk));
    ASSERT_TRUE(uninstall_entry_exists());

    // Started like Explorer starts it: current folder = the install folder.
    std::string tmp = scratch("tmp-uninstall");
    SetEnvironmentVariableA("TMP", tmp.c_str());
    SetEnvironmentVariableA("TEMP", tmp.c_str());
    std::string cmd = "\"" + target + "\\uninstall.exe\" /uninstall";
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, target.c_str(), &si, &pi));
    CloseHandle(pi.hThread);
    Child first;
    first.process = pi.hProcess;
    first.pid = pi.dwProcessId;

    std::string text;
    HWND done = uninstall_answer_yes(first, &text, "uninstall-question");
    ASSERT_NE(nullptr, done);
    EXPECT_EQ("Tarnok: Vorblen has been removed.", text);
    DWORD second = 0;
    GetWindowThreadProcessId(done, &second);
    // It runs from a copy in a folder of its own in the temporary folder.
    std::vector<std::string> in_tmp = list_dir(tmp);
    ASSERT_EQ(1u, in_tmp.size());
    EXPECT_EQ(0u, in_tmp[0].find("tarnok-uninstall-")) << in_tmp[0];
    std::string copy = tmp + "\\" + in_tmp[0] + "\\tarnok_uninstall.exe";
    EXPECT_TRUE(file_exists(copy)) << "the second stage runs from its copy";
    EXPECT_FALSE(dir_exists(target)) << "the install folder is still there";
    screenshot("uninstall-done");
    gd_answer(done, IDOK);
    EXPECT_TRUE(gd_wait_gone(done, 20000));

    EXPECT_FALSE(file_exists(start));
    EXPECT_FALSE(file_exists(desk));
    EXPECT_FALSE(uninstall_entry_exists());
    EXPECT_TRUE(eventually([&] { return !file_exists(copy); }, 40000)) << "the copy is left in " << tmp;
    // (Wine may have started its desktop process from the second stage.)
    auto remover_runs = [&] {
        for (DWORD id : children_of(second)) {
            HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
            char name[MAX_PATH] = "";
            DWORD size = sizeof name;
            bool desktop = h && QueryFullProcessImageNameA(h, 0, name, &size) && strstr(name, "explorer.exe");
            if (h)
                CloseHandle(h);
            if (!desktop)
                return true;
        }
        return false;
    };
    EXPECT_TRUE(eventually([&] { return !remover_runs(); }, 40000)) << "its remover still runs";
    EXPECT_EQ(std::vector<std::string>{}, list_dir(tmp));
    std::string pending = pending_deletions();
    EXPECT_NE(std::string::npos, pending.find("tarnok_uninstall.exe")) << pending;
}

// A file of the game that is in use cannot go: the game itself while it
// runs (started from its folder, as its shortcut starts it), or a file that
// another program holds open. The uninstall removes the rest, keeps that
// file with the uninstaller and the entry, and says what is left: in its
// box, and with exit code 1. Once the file is free, a second uninstall
// finishes the job.
TEST(Cmdline, UninstallKeepsWhatIsInUseForASecondRun)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    struct Case {
        const char *what;
        const char *held; // below the install folder
        bool game_runs;   // held by the running game; else opened here without sharing
        const char *box;  // what the box says is left; "" for a run with /quiet
    } cases[] = {
        {"game", "tarnok.exe", true, "tarnok.exe is in use: close the game and run the uninstall again."},
        {"held", "game\\cd2\\TARNOK\\DISK2\\DISK2", false, ""},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        std::string target = scratch(k.what) + "\\Tarnok PC";
        std::string args = "/silent /cd1 \"" + media_path("disc1.iso") + "\" /cd2 \"" + media_path("disc2") +
                           "\" /patch \"" + media_path("TARNO103.EXE") + "\" /dir \"" + target + "\"";
        Child install = start_setup(exe, args, scratch("tmp-install"));
        ASSERT_EQ(0, wait_exit(install, 120000));
        Child game;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (k.game_runs) {
            std::string cmd = "\"" + target + "\\tarnok.exe\"";
            std::vector<char> line(cmd.begin(), cmd.end());
            line.push_back(0);
            STARTUPINFOA si = {};
            si.cb = sizeof si;
            PROCESS_INFORMATION pi = {};
            ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, target.c_str(), &si,
                                       &pi));
            CloseHandle(pi.hThread);
            game.process = pi.hProcess;
            game.pid = pi.dwProcessId;
            ASSERT_TRUE(eventually([&] { return file_exists(target + "\\tarnok.log"); })) << "the game did not start";
        } else {
            held = CreateFileA((target + "\\" + k.held).c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0,
                               NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
        }

        Child first = start_setup(exe, "/uninstall2 \"" + target + "\"" + (*k.box ? "" : " /quiet"), scratch("tmp-un"));
        if (*k.box) {
            HWND box = gd_find_box("Tarnok uninstall", first.pid, 60000);
            ASSERT_NE(nullptr, box);
            char text[2048];
            gd_box_text(box, text, sizeof text);
            EXPECT_EQ("Tarnok: Vorblen was not completely removed from " + target + ".\n\n" + k.box, std::string(text));
            screenshot("uninstall-in-use");
            gd_answer(box, IDOK);
        }
        EXPECT_EQ(1, wait_exit(first, 60000)) << "the uninstall did not finish";
        EXPECT_TRUE(file_exists(target + "\\" + k.held));
        EXPECT_TRUE(file_exists(target + "\\uninstall.exe")) << "nothing to finish the job with";
        EXPECT_TRUE(uninstall_entry_exists());
        EXPECT_FALSE(file_exists(target + "\\game\\cd1\\TARNOK\\DISK1\\DISK1")) << "the rest goes";

        end_child(game);
        if (held != INVALID_HANDLE_VALUE)
            CloseHandle(held);
        Child second = start_setup(exe, "/uninstall2 \"" + target + "\" /quiet", scratch("tmp-un"));
        EXPECT_EQ(0, wait_exit(second, 60000));
        EXPECT_FALSE(dir_exists(target));
        EXPECT_FALSE(uninstall_entry_exists());
    }
}

// The second stage removes nothing while the first stage still runs: it
// waits for the process whose handle the first stage left it, however long
// that takes. A holding program stands in for a first stage slow to end. A
// handle that does not name that process leaves only the short pause.
TEST(Cmdline, SecondStageWaitsForTheFirst)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_nogame");
    stage_holding_kit(dir);
    std::string holder_exe = dir + "\\builder\\python\\python.exe";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION holder = {};
    std::string hcmd = "\"" + holder_exe + "\"";
    std::vector<char> hline(hcmd.begin(), hcmd.end());
    hline.push_back(0);
    ASSERT_TRUE(CreateProcessA(nullptr, hline.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &holder));
    CloseHandle(holder.hThread);
    ASSERT_TRUE(hold_reached(dir, 20000));
    HANDLE inheritable = nullptr;
    ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), holder.hProcess, GetCurrentProcess(), &inheritable,
                                SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0));

    struct Case {
        std::string var;
        bool waits;
    } cases[] = {
        {std::to_string((unsigned long long)(UINT_PTR)inheritable) + ":" + std::to_string(holder.dwProcessId), true},
        {std::to_string((unsigned long long)(UINT_PTR)inheritable) + ":" + std::to_string(holder.dwProcessId + 4),
         false},
        {"garbage", false},
    };
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.var);
        std::string victim = scratch("victim" + std::to_string(n++));
        spit(victim + "\\game\\hd\\TARNOK\\file", "x");
        spit(victim + "\\tarnok.exe", "x");
        SetEnvironmentVariableA("TARNOK_UNINSTALL_PARENT", k.var.c_str());
        std::string cmd = "\"" + exe + "\" /uninstall2 \"" + victim + "\" /quiet";
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back(0);
        PROCESS_INFORMATION pi = {};
        BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
        SetEnvironmentVariableA("TARNOK_UNINSTALL_PARENT", NULL);
        ASSERT_TRUE(started);
        CloseHandle(pi.hThread);
        Child second;
        second.process = pi.hProcess;
        if (k.waits) {
            // Well past the short pause, and still waiting.
            EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(second.process, 2000));
            EXPECT_TRUE(dir_exists(victim));
            hold_release(dir);
        }
        EXPECT_EQ(0, wait_exit(second, 60000));
        EXPECT_FALSE(dir_exists(victim));
    }
    hold_release(dir);
    WaitForSingleObject(holder.hProcess, 20000);
    CloseHandle(holder.hProcess);
    CloseHandle(inheritable);
}
