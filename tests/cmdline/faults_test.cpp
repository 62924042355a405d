// Faults at any moment, as a player meets them with setup.exe itself: an
// install and an uninstall stopped at chosen moments and then run again,
// and a drive that fills up at each late step of an install. The moments
// come from what the program tells a debugger: its log lines, its progress
// in per mille and the names of its late steps. The harness is that
// debugger, so the program waits at each line while the harness decides,
// and ends exactly there when it is killed.
#include <windows.h>
#include <objbase.h>

#include <functional>
#include <map>
#include <memory>

#include <gtest/gtest.h>

#include "guisupport.h"
#include "install/install.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

struct Traced {
    std::vector<std::string> lines; // what the program told its debugger, in order
    bool killed = false;            // ended by the harness
    DWORD code = 0;                 // the exit code when it ended by itself
};

// Starts setup.exe with args and its own, empty, temporary folder;
// flags and inherit as CreateProcessA takes them. False when it cannot start.
bool start(const std::string &exe, const std::string &args, const std::string &tmp, DWORD flags, BOOL inherit,
           PROCESS_INFORMATION *pi)
{
    delete_tree(tmp.c_str());
    make_dirs(tmp.c_str());
    char old_tmp[MAX_PATH] = "", old_temp[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", old_tmp, sizeof old_tmp);
    GetEnvironmentVariableA("TEMP", old_temp, sizeof old_temp);
    SetEnvironmentVariableA("TMP", tmp.c_str());
    SetEnvironmentVariableA("TEMP", tmp.c_str());
    std::string cmd = "\"" + exe + "\" " + args;
    std::vector<char> line(cmd.begin(), cmd.end());
    line.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    BOOL started = CreateProcessA(nullptr, line.data(), nullptr, nullptr, inherit, flags, nullptr, nullptr, &si, pi);
    SetEnvironmentVariableA("TMP", old_tmp);
    SetEnvironmentVariableA("TEMP", old_temp);
    if (!started)
        ADD_FAILURE() << "cannot start " << cmd;
    return started != 0;
}

// Runs setup.exe with args under this process as its debugger, with its own
// temporary folder. stop(line) is asked at each line while the program
// waits; true kills it there.
// A second stage is handed the process to wait for in parent ("handle:id").
Traced run_traced(const std::string &exe, const std::string &args, const std::string &tmp,
                  const std::function<bool(const std::string &)> &stop, const std::string &parent = "")
{
    Traced t;
    PROCESS_INFORMATION pi = {};
    if (!parent.empty())
        SetEnvironmentVariableA("TARNOK_UNINSTALL_PARENT", parent.c_str());
    bool started = start(exe, args, tmp, DEBUG_ONLY_THIS_PROCESS, !parent.empty(), &pi);
    SetEnvironmentVariableA("TARNOK_UNINSTALL_PARENT", NULL);
    if (!started)
        return t;
    CloseHandle(pi.hThread);
    for (;;) {
        DEBUG_EVENT ev = {};
        if (!WaitForDebugEvent(&ev, 120000)) {
            ADD_FAILURE() << "no debug event from " << args;
            TerminateProcess(pi.hProcess, 98);
            break;
        }
        DWORD how = DBG_CONTINUE;
        if (ev.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && ev.u.CreateProcessInfo.hFile)
            CloseHandle(ev.u.CreateProcessInfo.hFile);
        if (ev.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && ev.u.LoadDll.hFile)
            CloseHandle(ev.u.LoadDll.hFile);
        if (ev.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
            ev.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
            how = DBG_EXCEPTION_NOT_HANDLED;
        if (ev.dwDebugEventCode == OUTPUT_DEBUG_STRING_EVENT) {
            char text[1100] = "";
            SIZE_T got = 0;
            SIZE_T n = ev.u.DebugString.nDebugStringLength;
            if (n > sizeof text - 1)
                n = sizeof text - 1;
            ReadProcessMemory(pi.hProcess, ev.u.DebugString.lpDebugStringData, text, n, &got);
            text[got < sizeof text ? got : sizeof text - 1] = 0;
            t.lines.push_back(text);
            if (!t.killed && stop(text)) {
                TerminateProcess(pi.hProcess, 99);
                t.killed = true;
            }
        }
        if (ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) {
            t.code = ev.u.ExitProcess.dwExitCode;
            ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, DBG_CONTINUE);
            break;
        }
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, how);
    }
    WaitForSingleObject(pi.hProcess, 60000);
    CloseHandle(pi.hProcess);
    return t;
}

bool never(const std::string &) { return false; }

// Runs setup.exe to its end without a debugger; its exit code.
int run_plain(const std::string &exe, const std::string &args, const std::string &tmp,
              std::vector<std::string> *log = nullptr)
{
    Child c = start_setup(exe, args, tmp);
    int code = wait_exit(c, 120000);
    if (log)
        *log = child_log(c);
    end_child(c);
    return code;
}

std::string install_args(const std::string &dir, const std::string &update = "TARNO103.EXE")
{
    return "/silent /prebuilt /cd1 \"" + media_path("disc1.iso") + "\" /cd2 \"" + media_path("disc2") +
           "\" /patch \"" + media_path(update) + "\" /dir \"" + dir + "\"";
}

std::string uninstall_args(const std::string &dir) { return "/uninstall2 \"" + dir + "\" /quiet"; }

// The uninstall's second stage as the first stage starts it, with the
// handle of a process to wait for: one that has ended, so that it starts
// at once instead of pausing as it does when started by hand.
struct SecondStage {
    HANDLE ended = nullptr; // inheritable
    DWORD pid = 0;

    explicit SecondStage(const std::string &exe)
    {
        PROCESS_INFORMATION pi = {};
        // Started by hand, on a folder that holds nothing: it pauses once.
        if (!start(exe, uninstall_args(scratch("nothing") + "\\none"), scratch("tmp-nothing"), 0, FALSE, &pi))
            return;
        CloseHandle(pi.hThread);
        WaitForSingleObject(pi.hProcess, 60000);
        DuplicateHandle(GetCurrentProcess(), pi.hProcess, GetCurrentProcess(), &ended,
                        SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, TRUE, 0);
        pid = pi.dwProcessId;
        CloseHandle(pi.hProcess);
    }
    ~SecondStage()
    {
        if (ended)
            CloseHandle(ended);
    }

    // How the first stage names itself to the second.
    std::string parent() const
    {
        return std::to_string((unsigned long long)(UINT_PTR)ended) + ":" + std::to_string(pid);
    }

    int run(const std::string &exe, const std::string &dir, const std::string &tmp)
    {
        SetEnvironmentVariableA("TARNOK_UNINSTALL_PARENT", parent().c_str());
        PROCESS_INFORMATION pi = {};
        bool started = start(exe, uninstall_args(dir), tmp, 0, TRUE, &pi);
        SetEnvironmentVariableA("TARNOK_UNINSTALL_PARENT", NULL);
        if (!started)
            return -1;
        CloseHandle(pi.hThread);
        DWORD code = 1;
        if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0)
            TerminateProcess(pi.hProcess, 97);
        GetExitCodeProcess(pi.hProcess, &code);
        CloseHandle(pi.hProcess);
        return (int)code;
    }
};

// What an install leaves outside its folder, as far as it concerns dir: the
// uninstall entry naming it, and shortcut files (whole, or cut short under
// their own or their temporary name) that lead to it or cannot be read.
std::vector<std::string> traces_outside(const std::string &dir)
{
    std::vector<std::string> out;
    char location[780];
    if (read_install_location(location, sizeof location) && names_folder(location, dir.c_str()))
        out.push_back("uninstall entry");
    char start[520], desk[520];
    shortcut_paths(start, desk);
    CoInitialize(NULL);
    for (std::string link : {std::string(start), std::string(desk)}) {
        for (const std::string &name : {link, link + DEST_TEMP_SUFFIX}) {
            char target[780];
            if (!file_exists(name))
                continue;
            if (!link_target(name.c_str(), target, sizeof target) || names_folder(target, dir.c_str()))
                out.push_back(name);
        }
    }
    CoUninitialize();
    return out;
}

const std::vector<std::string> players_only = {"notes.txt"};

// A folder that holds the player's own notes before anything is installed.
std::string players_folder(const std::string &tag)
{
    std::string dir = scratch(tag) + "\\Tarnok";
    spit(dir + "\\notes.txt", "mine");
    return dir;
}

// The player's own file on the desktop, beside the shortcut.
std::string players_desktop_file()
{
    char start[520], desk[520];
    shortcut_paths(start, desk);
    std::string d = desk;
    return d.substr(0, d.find_last_of('\\')) + "\\my list.txt";
}

// A moment: the nth time (from 1) that a line comes.
struct Moment {
    std::string line;
    int nth;
};

std::string shown(const Moment &m) { return m.line + (m.nth > 1 ? " (time " + std::to_string(m.nth) + ")" : ""); }

// A line with the install folder's path in it as "{dir}", so that moments
// of one install can be found in another.
std::string with_dir_named(std::string line, const std::string &dir)
{
    size_t at = dir.empty() ? std::string::npos : line.find(dir);
    if (at != std::string::npos)
        line.replace(at, dir.size(), "{dir}");
    return line;
}

// Every line of a run as a moment.
std::vector<Moment> moments_of(const std::vector<std::string> &lines, const std::string &dir)
{
    std::vector<Moment> out;
    std::map<std::string, int> seen;
    for (const std::string &l : lines) {
        std::string line = with_dir_named(l, dir);
        out.push_back({line, ++seen[line]});
    }
    return out;
}

// The moments of an install to stop at: every line but the progress, and
// the progress at each tenth of the way.
std::vector<Moment> install_moments(const std::vector<Moment> &all)
{
    std::vector<Moment> out;
    int next_tenth = 0;
    for (const Moment &m : all) {
        if (m.line.compare(0, 9, "progress ") != 0) {
            out.push_back(m);
            continue;
        }
        int per_mille = atoi(m.line.c_str() + 9);
        if (per_mille >= next_tenth * 100 && next_tenth < 10) {
            out.push_back(m);
            next_tenth = per_mille / 100 + 1;
        }
    }
    return out;
}

std::function<bool(const std::string &)> at(const Moment &moment, const std::string &dir)
{
    auto count = std::make_shared<int>(0);
    return [moment, dir, count](const std::string &l) {
        return with_dir_named(l, dir) == moment.line && ++*count == moment.nth;
    };
}

} // namespace

// An unattended install killed at moments spread over the whole of it. From
// each killed state a rerun gives an install identical, file for file and
// byte for byte, to one that was never stopped; and an uninstall leaves
// nothing of the install and everything of the player's.
TEST(Faults, InstallKilledAtAnyMoment)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    spit(players_desktop_file(), "mine");
    std::string clean = players_folder("clean");
    Traced ref = run_traced(exe, install_args(clean), scratch("tmp-clean"), never);
    ASSERT_EQ(0u, ref.code);
    ASSERT_FALSE(ref.lines.empty());
    ASSERT_EQ("Done.", ref.lines.back()) << "the debugger sees the log lines";
    std::vector<Moment> moments = install_moments(moments_of(ref.lines, clean));
    ASSERT_GE(moments.size(), 12u);
    std::string reference = scratch("reference");
    copy_tree(clean, reference);
    SecondStage second(exe);
    ASSERT_EQ(0, second.run(exe, clean, scratch("tmp-clean-un")));

    int n = 0;
    for (const Moment &moment : moments) {
        SCOPED_TRACE("killed at \"" + shown(moment) + "\"");
        std::string tag = std::to_string(n++);
        std::string dir = players_folder("rerun" + tag);
        ASSERT_TRUE(run_traced(exe, install_args(dir), scratch("tmp"), at(moment, dir)).killed);
        EXPECT_EQ(0, run_plain(exe, install_args(dir), scratch("tmp")));
        EXPECT_EQ("", compare_trees(reference, dir)) << "the rerun differs from a clean install";
        EXPECT_EQ(2u + 1u, traces_outside(dir).size()) << "the entry and both shortcuts";
        EXPECT_EQ(0, second.run(exe, dir, scratch("tmp")));

        dir = players_folder("uninstall" + tag);
        ASSERT_TRUE(run_traced(exe, install_args(dir), scratch("tmp"), at(moment, dir)).killed);
        EXPECT_EQ(0, second.run(exe, dir, scratch("tmp")));
        EXPECT_EQ(players_only, list_tree(dir));
        EXPECT_EQ(std::vector<std::string>{}, traces_outside(dir));
        EXPECT_EQ("mine", slurp(players_desktop_file()));
    }
}

// A repair killed at moments spread over the whole of it: an install with
// one file of the disc copy gone and one of the game's data changed, put
// right by an install again that is killed, and then run once more. From
// each killed state the last run leaves the folder a clean install leaves,
// byte for byte, list of files included.
TEST(Faults, RepairKilledAtAnyMoment)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    auto broken = [&](const std::string &tag) {
        std::string dir = players_folder(tag);
        EXPECT_EQ(0, run_plain(exe, install_args(dir), scratch("tmp")));
        DeleteFileA((dir + "\\game\\cd1\\TARNOK\\DISK1\\DATA\\BLOCK100.DAT").c_str());
        std::string changed = dir + "\\game\\hd\\TARNOK\\TARNOKP2.EXE";
        std::string data = slurp(changed);
        data[1000] ^= 1;
        spit(changed, data);
        return dir;
    };
    std::string clean = players_folder("clean");
    ASSERT_EQ(0, run_plain(exe, install_args(clean), scratch("tmp")));
    std::string first = broken("first");
    Traced ref = run_traced(exe, install_args(first), scratch("tmp"), never);
    ASSERT_EQ(0u, ref.code);
    ASSERT_EQ("", compare_trees(clean, first)) << "a repair that runs to its end";
    std::vector<Moment> moments = install_moments(moments_of(ref.lines, first));
    ASSERT_GE(moments.size(), 10u);
    int n = 0;
    for (const Moment &moment : moments) {
        SCOPED_TRACE("killed at \"" + shown(moment) + "\"");
        std::string tag = std::to_string(n++);
        std::string dir = broken("repair" + tag);
        ASSERT_TRUE(run_traced(exe, install_args(dir), scratch("tmp"), at(moment, dir)).killed);
        EXPECT_EQ(0, run_plain(exe, install_args(dir), scratch("tmp")));
        EXPECT_EQ("", compare_trees(clean, dir)) << "the last run differs from a clean install";

        // The player's own files below the game folder outlast a repair
        // killed there and the uninstall after it.
        dir = broken("uninstall" + tag);
        spit(dir + "\\game\\MYMOD\\mod.txt", "mine");
        ASSERT_TRUE(run_traced(exe, install_args(dir), scratch("tmp"), at(moment, dir)).killed);
        EXPECT_EQ(0, SecondStage(exe).run(exe, dir, scratch("tmp")));
        EXPECT_EQ((std::vector<std::string>{"game\\", "game\\MYMOD\\", "game\\MYMOD\\mod.txt", "notes.txt"}),
                  list_tree(dir));
    }
}

// The uninstall's second stage killed after each of its steps: a second
// uninstall finishes the job.
TEST(Faults, UninstallKilledAtAnyMoment)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    spit(players_desktop_file(), "mine");
    std::string dir = players_folder("probe");
    ASSERT_EQ(0, run_plain(exe, install_args(dir), scratch("tmp")));
    SecondStage second(exe);
    Traced all = run_traced(exe, uninstall_args(dir), scratch("tmp"), never, second.parent());
    ASSERT_EQ(0u, all.code);
    std::vector<Moment> moments = moments_of(all.lines, dir);
    ASSERT_GE(moments.size(), 6u);
    for (const Moment &moment : moments) {
        SCOPED_TRACE("killed at \"" + shown(moment) + "\"");
        ASSERT_EQ(0, run_plain(exe, install_args(dir), scratch("tmp")));
        ASSERT_TRUE(run_traced(exe, uninstall_args(dir), scratch("tmp"), at(moment, dir), second.parent()).killed);
        EXPECT_EQ(0, second.run(exe, dir, scratch("tmp")));
        EXPECT_EQ(players_only, list_tree(dir));
        EXPECT_EQ(std::vector<std::string>{}, traces_outside(dir));
        EXPECT_EQ("mine", slurp(players_desktop_file()));
    }
}

// A folder that appears in the install folder's place after setup has
// checked the path and before it makes the folder (another account's, made
// in that moment) is never used: the install fails with the reason and
// leaves that folder as it was.
TEST(Faults, AnInstallFolderTakenMeanwhileIsNotUsed)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    std::string base = scratch("base"), dir = base + "\\Games\\Tarnok PC";
    Traced t = run_traced(exe, install_args(dir), scratch("tmp"), [&](const std::string &l) {
        if (l == "step: install folder")
            spit(dir + "\\theirs.txt", "theirs");
        return false;
    });
    char exists[600];
    EXPECT_EQ(1u, t.code);
    ASSERT_FALSE(t.lines.empty());
    EXPECT_EQ("ERROR: cannot create the install folder " + dir + ": " +
                  error_text(ERROR_ALREADY_EXISTS, exists, sizeof exists),
              t.lines.back());
    EXPECT_EQ((std::vector<std::string>{"Games\\", "Games\\Tarnok PC\\", "Games\\Tarnok PC\\theirs.txt"}),
              list_tree(base));
    EXPECT_EQ("theirs", slurp(dir + "\\theirs.txt"));
    EXPECT_EQ(std::vector<std::string>{}, traces_outside(dir));
}

namespace {

// A small drive of its own: a tmpfs mounted on a scratch folder, unmounted
// again when the test ends, however it ends.
struct SmallDrive {
    std::string win, unix;
    bool mounted = false;

    uint64_t total_bytes()
    {
        ULARGE_INTEGER avail, total, free_all;
        if (!GetDiskFreeSpaceExA((win + "\\").c_str(), &avail, &total, &free_all))
            return 0;
        return total.QuadPart;
    }

    SmallDrive(const std::string &folder, uint64_t mib) : win(folder), unix(unix_path(folder))
    {
        make_dirs(win.c_str());
        uint64_t before = total_bytes();
        run_process("/bin/mount -t tmpfs -o size=" + std::to_string(mib) + "m tmpfs \"" + unix + "\"");
        // Wine does not wait for a Unix program: the mount counts once the
        // folder's drive has the new size.
        mounted = eventually([&] { return total_bytes() == (mib << 20); }, 10000);
        if (!mounted && total_bytes() != before)
            mounted = true; // mounted, of another size: unmount it all the same
    }

    ~SmallDrive()
    {
        if (!mounted)
            return;
        uint64_t small = total_bytes();
        // The install that has just ended may hold the drive a moment longer
        // (under load, umount then finds it busy): unmount again until it goes.
        bool gone = eventually(
            [&] {
                run_process("/bin/umount \"" + unix + "\"");
                return eventually([&] { return total_bytes() != small; }, 1000);
            },
            10000);
        EXPECT_TRUE(gone) << "still mounted: " << unix;
    }
};

// Fills the drive of folder to the last byte.
void fill_drive(const std::string &folder)
{
    static char block[1 << 20];
    HANDLE f = CreateFileA((folder + "\\filler.bin").c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, f);
    for (DWORD chunk = sizeof block; chunk > 0; chunk /= 2) {
        DWORD put = 0;
        while (WriteFile(f, block, chunk, &put, NULL) && put == chunk)
            ;
    }
    CloseHandle(f);
}

bool has_line(const std::vector<std::string> &lines, const std::string &line)
{
    for (const std::string &l : lines)
        if (l == line)
            return true;
    return false;
}

} // namespace

// A repair needs room for what it writes, not for a whole install: one
// small file put back on a drive with little more room than the install
// takes.
TEST(Faults, ARepairNeedsOnlyItsOwnRoom)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    std::string drive = scratch("drive");
    SmallDrive small(drive, 32);
    if (!small.mounted)
        GTEST_SKIP() << "cannot mount a small drive here";
    std::string dir = drive + "\\Tarnok";
    ASSERT_EQ(0, run_plain(exe, install_args(dir), scratch("tmp")));
    ULARGE_INTEGER avail, total, free_all;
    ASSERT_TRUE(GetDiskFreeSpaceExA((drive + "\\").c_str(), &avail, &total, &free_all));
    const uint64_t left = 6 << 20;
    ASSERT_GT(avail.QuadPart, left);
    std::string filler(avail.QuadPart - left, 'f');
    spit(drive + "\\filler.bin", filler);
    ASSERT_TRUE(DeleteFileA((dir + "\\game\\cd1\\TARNOK\\DISK1\\DATA\\BLOCK100.DAT").c_str()));
    Traced t = run_traced(exe, install_args(dir), scratch("tmp"), never);
    ASSERT_FALSE(t.lines.empty());
    EXPECT_EQ("Done.", t.lines.back());
    EXPECT_EQ(0u, t.code);
    EXPECT_EQ(100000u, slurp(dir + "\\game\\cd1\\TARNOK\\DISK1\\DATA\\BLOCK100.DAT").size());
}

// A drive that fills up when the install reaches each late step: each step
// that writes to it fails the install with its own line and the system's
// reason, and the failed install leaves nothing on the drive. The entry
// lives in the registry, on another drive: that install ends whole.
TEST(Faults, DriveFullAtEachLateStep)
{
    std::string exe = stage_setup(scratch("setup"), "setup_game");
    char full_text[600];
    std::string full = error_text(ERROR_DISK_FULL, full_text, sizeof full_text);
    struct Case {
        const char *moment;
        const char *line; // %s: the install folder; "" for an install that succeeds
    } cases[] = {
        {"Unpacking the 1.03 update ...", "ERROR: the 1.03 update file could not be unpacked: cannot write %s\\game\\hd\\TARNOK\\"},
        {"step: game executable", "ERROR: cannot write the game executable %s\\tarnok.exe: "},
        {"step: icon", "ERROR: cannot write the game executable's icon into %s\\tarnok.exe: "},
        {"step: uninstaller", "ERROR: cannot write the uninstaller %s\\uninstall.exe: "},
        {"step: uninstall entry", ""},
    };
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.moment);
        std::string drive = scratch("drive" + std::to_string(n++));
        SmallDrive small(drive, 48);
        if (!small.mounted)
            GTEST_SKIP() << "cannot mount a small drive here";
        std::string dir = drive + "\\Tarnok";
        Traced t = run_traced(exe, install_args(dir), scratch("tmp"), [&](const std::string &l) {
            if (l == k.moment)
                fill_drive(drive);
            return false;
        });
        std::vector<std::string> log = t.lines;
        std::string expected = k.line;
        if (expected.empty()) {
            EXPECT_EQ(0u, t.code);
            EXPECT_EQ("Done.", log.back());
            EXPECT_EQ(slurp(exe), slurp(dir + "\\uninstall.exe"));
            EXPECT_EQ(0, SecondStage(exe).run(exe, dir, scratch("tmp")));
            continue;
        }
        expected.replace(expected.find("%s"), 2, dir);
        EXPECT_EQ(1u, t.code);
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(expected, log.back().substr(0, expected.size())) << log.back();
        EXPECT_EQ(full, log.back().substr(log.back().size() - std::min(full.size(), log.back().size())))
            << "a full drive says so";
        EXPECT_FALSE(has_line(log, "Done."));
        EXPECT_EQ(std::vector<std::string>{"filler.bin"}, list_dir(drive)) << "the failed install leaves nothing";
        EXPECT_EQ(std::vector<std::string>{}, traces_outside(dir));
    }
}
