// The conversion build against the stand-in kit: the stand-in interpreter and
// compiler check their command lines and record each start (priority, console,
// first PATH entry, command line) in a folder the test reads back.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "install/install.h"
#include "testsupport.h"

namespace {

const uint64_t MiB = 1024 * 1024;
const char *const CONVERTING = "Converting the game code on this PC (this takes a few minutes)...";

struct Kit {
    std::string kit; // the stand-in builder folder, a private copy
    std::string dir; // the install folder
    std::string rec; // where the stand-ins record what they saw
    std::string exe; // the update's executable handed to the recompiler
};

void set_env(const char *name, const std::string &value)
{
    SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}

// A private copy of the kit, an empty install folder and a record folder;
// the stand-in recompiler writes `generated` sources.
Kit make_kit(int generated = 2)
{
    std::string s = scratch();
    Kit k{s + "\\builder", s + "\\inst", s + "\\rec", s + "\\TARNOKP2.EXE"};
    copy_tree(exe_dir() + "\\builder", k.kit);
    make_dirs(k.dir.c_str());
    make_dirs(k.rec.c_str());
    spit(k.exe, "MZ stand-in update executable");
    set_env("TARNOK_STANDIN_RECORD", k.rec);
    set_env("TARNOK_STANDIN_GEN", std::to_string(generated));
    set_env("TARNOK_STANDIN_GEN_BODY", "");
    set_env("TARNOK_STANDIN_RECOMP_EXIT", "");
    set_env("TARNOK_STANDIN_BARRIER", "");
    build_set_processors(0);
    build_fail_starts(0, 0);
    log_reset();
    return k;
}

// Reads a log a child wrote. Under Wine the console host of a windowless
// child may still hold its inherited handle for a moment.
std::string read_log(const std::string &path) { return slurp_shared(path); }

std::string path_now()
{
    char buf[32768];
    DWORD n = GetEnvironmentVariableA("PATH", buf, sizeof buf);
    return n && n < sizeof buf ? buf : "";
}

std::vector<std::string> lines_of(const std::string &text, const char *end = "\n")
{
    std::vector<std::string> lines;
    size_t start = 0, at;
    while ((at = text.find(end, start)) != std::string::npos) {
        lines.push_back(text.substr(start, at - start));
        start = at + strlen(end);
    }
    if (start < text.size())
        lines.push_back(text.substr(start));
    return lines;
}

// One start of a stand-in program, as it recorded itself.
struct Start {
    std::string info; // "prio=... console=... path=..."
    std::string cmd;
};

std::vector<Start> starts(const Kit &k, const char *file)
{
    std::vector<Start> out;
    for (const std::string &line : lines_of(slurp(k.rec + "\\" + file))) {
        size_t tab = line.find('\t');
        out.push_back({line.substr(0, tab), tab == std::string::npos ? "" : line.substr(tab + 1)});
    }
    return out;
}

// "<running now> <highest>" as counted by the stand-in compiler.
std::pair<int, int> concurrency(const Kit &k)
{
    int now = -1, highest = -1;
    sscanf(slurp(k.rec + "\\concurrency.txt").c_str(), "%d %d", &now, &highest);
    return {now, highest};
}

std::string bin(const Kit &k) { return k.kit + "\\mingw64\\bin"; }

std::string recomp_command(const Kit &k)
{
    return "\"" + k.kit + "\\python\\python.exe\" -I \"" + k.kit + "\\tools\\recomp.py\" \"" + k.exe + "\" \"" + k.kit +
           "\\re\\functions.tsv\" \"" + k.kit + "\\tools\\native.txt\" \"" + k.dir + "\\build\\gen\"";
}

std::string compile_command(const Kit &k, const std::string &source, bool runtime)
{
    std::string name = source.substr(source.rfind('\\') + 1);
    return "\"" + bin(k) + "\\gcc.exe\" " + (runtime ? "-DSDL_MAIN_HANDLED" : "-g0") +
           " -std=gnu11 -O2 -fwrapv -fno-strict-aliasing -w -I\"" + k.kit + "\\src\\rt\" -I\"" + k.dir +
           "\\build\\gen\" -I\"" + k.kit + "\\mingw64\\include\\SDL2\" -c \"" + source + "\" -o \"" + k.dir +
           "\\build\\obj\\" + (runtime ? "rt_" : "") + name + ".o\"";
}

std::string link_command(const Kit &k)
{
    return "\"" + bin(k) + "\\gcc.exe\" -mwindows -o \"" + k.dir + "\\tarnok.exe\" @\"" + k.dir +
           "\\build\\objs.rsp\" -static -lmingw32 \"" + k.kit +
           "\\mingw64\\lib\\libSDL2.a\" -lm -lkernel32 -luser32 -lgdi32 -lwinmm -limm32 -lole32 -loleaut32 "
           "-lversion -luuid -ladvapi32 -lsetupapi -lshell32 -ldinput8";
}

// The response file a link of these objects must get: one quoted
// forward-slash path per line, CR LF after each. Sorted, as the folder's
// listing order is the file system's.
std::vector<std::string> rsp_lines(const Kit &k, std::vector<std::string> objects)
{
    std::vector<std::string> lines;
    for (const std::string &o : objects) {
        std::string p = k.dir + "\\build\\obj\\" + o;
        std::replace(p.begin(), p.end(), '\\', '/');
        lines.push_back("\"" + p + "\"");
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::vector<std::string> sorted_crlf_lines(const std::string &text)
{
    EXPECT_TRUE(text.empty() || text.substr(text.size() - 2) == "\r\n") << "every line ends with CR LF";
    std::vector<std::string> lines = lines_of(text, "\r\n");
    for (const std::string &l : lines)
        EXPECT_EQ(std::string::npos, l.find_first_of("\r\n")) << "no bare CR or LF: " << l;
    std::sort(lines.begin(), lines.end());
    return lines;
}

void replace_runtime_sources(const Kit &k, const std::vector<std::pair<std::string, std::string>> &files)
{
    std::string rt = k.kit + "\\src\\rt";
    for (const std::string &name : list_dir(rt))
        DeleteFileA((rt + "\\" + name).c_str());
    for (const auto &f : files)
        spit(rt + "\\" + f.first, f.second);
}

struct Outcome {
    int result;
    uint64_t done;
    std::string path_before;
    std::vector<std::string> steps; // what the build told its step watch: "step done/total"
};

void note_step(void *ctx, int step, int done, int total)
{
    std::string name = step == INSTALL_RECOMPILE ? "recompile"
                       : step == INSTALL_COMPILE ? "compile"
                       : step == INSTALL_LINK    ? "link"
                                                 : "another step";
    ((std::vector<std::string> *)ctx)->push_back(name + " " + std::to_string(done) + "/" + std::to_string(total));
}

Outcome build(const Kit &k)
{
    Outcome r;
    StepWatch steps = {note_step, &r.steps};
    Progress p = {0, 0, nullptr, nullptr, nullptr, nullptr, &steps};
    r.path_before = path_now();
    r.result = build_game(k.kit.c_str(), k.dir.c_str(), k.exe.c_str(), (k.dir + "\\tarnok.exe").c_str(), &p);
    r.done = p.done;
    return r;
}

// What every failure leaves: the reason as the last log line, PATH as it
// was, no game, and the build folder with its log for the user to read.
void expect_failed(const Kit &k, const Outcome &r, const std::string &reason)
{
    EXPECT_EQ(0, r.result);
    std::vector<std::string> log = log_lines();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(CONVERTING, log.front());
    EXPECT_EQ("ERROR: " + reason, log.back());
    EXPECT_EQ(r.path_before, path_now()) << "PATH restored";
    EXPECT_FALSE(file_exists(k.dir + "\\tarnok.exe"));
    EXPECT_TRUE(dir_exists(k.dir + "\\build"));
    EXPECT_TRUE(file_exists(k.dir + "\\build\\build.log"));
}

} // namespace

TEST(BuildJobs, HalfTheLogicalProcessorsFrom1To16)
{
    const int table[][2] = {{1, 1}, {2, 1}, {3, 1}, {4, 2}, {5, 2}, {32, 16}, {33, 16}, {64, 16}, {0, 1}};
    for (const auto &row : table)
        EXPECT_EQ(row[1], build_jobs(row[0])) << row[0] << " processors";
}

TEST(BuildGame, RunsTheThreeCommandLinesAndRemovesTheBuildFolder)
{
    Kit k = make_kit(2);
    make_dirs((k.dir + "\\build\\gen\\folder.c").c_str()); // not a source
    Outcome r = build(k);
    ASSERT_EQ(1, r.result) << log_text() << read_log(k.dir + "\\build\\build.log");
    EXPECT_EQ(std::vector<std::string>{CONVERTING}, log_lines());
    EXPECT_EQ(r.path_before, path_now());
    EXPECT_TRUE(file_exists(k.dir + "\\tarnok.exe"));
    EXPECT_FALSE(dir_exists(k.dir + "\\build")) << "a successful build leaves no build folder";
    EXPECT_EQ((50 + 200 + 20) * MiB, r.done) << "two generated and two runtime sources share 200 MiB evenly";
    // The stages as the status line names them, with each compile counted.
    std::vector<std::string> told = {"recompile 0/0", "compile 0/4", "compile 1/4", "compile 2/4",
                                     "compile 3/4",   "compile 4/4", "link 0/0"};
    EXPECT_EQ(told, r.steps);

    // Every child ran hidden at below-normal priority; the compiler's folder
    // led PATH for the compiles and the link, not for the recompiler.
    std::vector<Start> recomp = starts(k, "recomp.txt"), compiles = starts(k, "compiles.txt"),
                       link = starts(k, "link.txt");
    ASSERT_EQ(1u, recomp.size());
    ASSERT_EQ(4u, compiles.size());
    ASSERT_EQ(1u, link.size());
    EXPECT_EQ(recomp_command(k), recomp[0].cmd);
    EXPECT_EQ(0u, recomp[0].info.find("prio=0x4000 console=0 path=")) << recomp[0].info;
    EXPECT_EQ(std::string::npos, recomp[0].info.find("path=" + bin(k))) << recomp[0].info;
    for (const Start &s : compiles)
        EXPECT_EQ("prio=0x4000 console=0 path=" + bin(k), s.info);
    EXPECT_EQ("prio=0x4000 console=0 path=" + bin(k), link[0].info);
    EXPECT_EQ(link_command(k), link[0].cmd);

    std::vector<std::string> got, want;
    for (const Start &s : compiles)
        got.push_back(s.cmd);
    for (const char *g : {"g0000.c", "g0001.c"})
        want.push_back(compile_command(k, k.dir + "\\build\\gen\\" + g, false));
    for (const char *rt : {"audio.c", "main.c"})
        want.push_back(compile_command(k, k.kit + "\\src\\rt\\" + rt, true));
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, got);

    EXPECT_EQ(rsp_lines(k, {"g0000.c.o", "g0001.c.o", "rt_audio.c.o", "rt_main.c.o"}),
              sorted_crlf_lines(slurp(k.rec + "\\objs.rsp")));
}

TEST(BuildGame, RunsAtMostJobsCompilesAtOnceAndReachesIt)
{
    // Each compile waits until `jobs` run at once and then takes a while
    // longer, so one compile too many would be seen running alongside.
    // processors, generated sources, jobs
    const int table[][3] = {{2, 3, 1}, {4, 5, 2}, {8, 10, 4}, {64, 20, 16}};
    for (const auto &row : table) {
        Kit k = make_kit(row[1]);
        set_env("TARNOK_STANDIN_GEN_BODY", "/* STANDIN_SLOW */");
        set_env("TARNOK_STANDIN_BARRIER", std::to_string(row[2]));
        build_set_processors(row[0]);
        Outcome r = build(k);
        ASSERT_EQ(1, r.result) << log_text();
        EXPECT_EQ(std::make_pair(0, row[2]), concurrency(k)) << row[0] << " processors";
        EXPECT_EQ((size_t)row[1] + 2, starts(k, "compiles.txt").size());
        EXPECT_EQ(r.path_before, path_now());
    }
}

TEST(BuildGame, RecompilerFailureStopsTheBuild)
{
    Kit k = make_kit();
    set_env("TARNOK_STANDIN_RECOMP_EXIT", "3");
    Outcome r = build(k);
    expect_failed(k, r, "the recompiler failed (see build\\build.log)");
    EXPECT_EQ(2u, log_lines().size());
    EXPECT_EQ(0u, r.done);
    std::string out = read_log(k.dir + "\\build\\build.log");
    EXPECT_NE(std::string::npos, out.find("recomp: converting")) << "standard output is in the build log";
    EXPECT_NE(std::string::npos, out.find("recomp: note on stderr")) << "standard error too";
    EXPECT_TRUE(starts(k, "compiles.txt").empty());
}

TEST(BuildGame, MissingInterpreterIsARecompilerFailure)
{
    Kit k = make_kit();
    DeleteFileA((k.kit + "\\python\\python.exe").c_str());
    Outcome r = build(k);
    expect_failed(k, r, "the recompiler failed (see build\\build.log)");
    EXPECT_TRUE(starts(k, "compiles.txt").empty());
}

TEST(BuildGame, FailingCompilesAreNamedAfterTheRunningOnesEnded)
{
    // Three compiles at once: two fail, one at once and one late, and a good
    // one takes a while. Every running compile is waited for, each failure
    // gets its line, and the error follows them.
    Kit k = make_kit(0);
    replace_runtime_sources(k, {{"bad1.c", "STANDIN_COMPILE_FAIL"},
                                {"bad2.c", "STANDIN_COMPILE_FAIL STANDIN_SLOW"},
                                {"good.c", "STANDIN_SLOW"}});
    build_set_processors(6);
    Outcome r = build(k);
    expect_failed(k, r, "compiling the converted game failed");
    std::vector<std::string> log = log_lines();
    ASSERT_EQ(4u, log.size());
    std::vector<std::string> failed(log.begin() + 1, log.end() - 1), want;
    for (const char *bad : {"bad1.c", "bad2.c"})
        want.push_back("compile failed: " + compile_command(k, k.kit + "\\src\\rt\\" + bad, true));
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ(want, failed);
    EXPECT_TRUE(file_exists(k.dir + "\\build\\obj\\rt_good.c.o")) << "the good compile ran to its end";
    EXPECT_EQ(0, concurrency(k).first) << "no compile still running when build_game returned";
    EXPECT_TRUE(starts(k, "link.txt").empty());
}

TEST(BuildGame, NoCompileStartsAfterAFailure)
{
    Kit k = make_kit(0);
    replace_runtime_sources(k, {{"a.c", "STANDIN_COMPILE_FAIL"},
                                {"b.c", "STANDIN_COMPILE_FAIL"},
                                {"c.c", "STANDIN_COMPILE_FAIL"}});
    build_set_processors(2);
    Outcome r = build(k);
    expect_failed(k, r, "compiling the converted game failed");
    EXPECT_EQ(1u, starts(k, "compiles.txt").size());
    EXPECT_EQ(3u, log_lines().size());
    EXPECT_EQ(50 * MiB + 200 * MiB / 3, r.done) << "the failed compile's share still counts";
}

TEST(BuildGame, MissingCompilerFailsWithoutACompileLine)
{
    Kit k = make_kit();
    DeleteFileA((bin(k) + "\\gcc.exe").c_str());
    Outcome r = build(k);
    expect_failed(k, r, "compiling the converted game failed");
    EXPECT_EQ(2u, log_lines().size());
}

TEST(BuildGame, LinkFailureKeepsTheLogAndAppendsToAnEarlierOne)
{
    // An earlier failed build left an object and a log: the log grows and
    // the object is linked as well.
    Kit k = make_kit(1);
    spit(k.dir + "\\build\\build.log", "earlier build\r\n");
    spit(k.dir + "\\build\\obj\\old.c.o", "old object");
    replace_runtime_sources(k, {{"main.c", "STANDIN_LINK_FAIL"}});
    Outcome r = build(k);
    expect_failed(k, r, "linking the converted game failed (see build\\build.log)");
    EXPECT_EQ(2u, log_lines().size());
    std::string out = read_log(k.dir + "\\build\\build.log");
    EXPECT_EQ(0u, out.find("earlier build\r\nrecomp: converting")) << out;
    EXPECT_NE(std::string::npos, out.find("link failure asked for")) << out;
    EXPECT_EQ(rsp_lines(k, {"g0000.c.o", "old.c.o", "rt_main.c.o"}),
              sorted_crlf_lines(slurp(k.dir + "\\build\\objs.rsp")));
    EXPECT_EQ(1u, starts(k, "link.txt").size());
}

TEST(BuildGame, UnwritableResponseFileStopsBeforeTheLink)
{
    Kit k = make_kit();
    make_dirs((k.dir + "\\build\\objs.rsp").c_str()); // a folder where the list should go
    Outcome r = build(k);
    expect_failed(k, r, "cannot write the linker's response file build\\objs.rsp");
    EXPECT_TRUE(starts(k, "link.txt").empty());
}

TEST(BuildGame, NoSourcesStillLinkWithAnEmptyList)
{
    Kit k = make_kit(0);
    replace_runtime_sources(k, {});
    Outcome r = build(k);
    ASSERT_EQ(1, r.result) << log_text();
    EXPECT_EQ((50 + 20) * MiB, r.done) << "no compile progress";
    EXPECT_TRUE(starts(k, "compiles.txt").empty());
    ASSERT_EQ(1u, starts(k, "link.txt").size());
    bool ok = false;
    EXPECT_EQ("", slurp(k.rec + "\\objs.rsp", &ok));
    EXPECT_TRUE(ok);
    EXPECT_EQ(r.path_before, path_now());
}

TEST(BuildGame, CompilesOnlyTheFirst512Sources)
{
    // 520 generated sources come first in the list, so no runtime source
    // makes the cut; the 512 share 200 MiB exactly.
    Kit k = make_kit(520);
    build_set_processors(32);
    Outcome r = build(k);
    ASSERT_EQ(1, r.result) << log_text() << read_log(k.dir + "\\build\\build.log");
    EXPECT_EQ(std::vector<std::string>{CONVERTING}, log_lines()) << "the cut is not logged";
    EXPECT_LE(concurrency(k).second, 16);
    EXPECT_EQ((50 + 200 + 20) * MiB, r.done);
    std::vector<Start> compiles = starts(k, "compiles.txt");
    EXPECT_EQ(512u, compiles.size());
    for (const Start &s : compiles)
        EXPECT_EQ(std::string::npos, s.cmd.find("-DSDL_MAIN_HANDLED")) << s.cmd;
    EXPECT_EQ(512u, sorted_crlf_lines(slurp(k.rec + "\\objs.rsp")).size());
}

// A console child that ends within milliseconds: under Wine its console host
// still holds the inherited build.log for up to two seconds after the child
// has ended. Each round is a new build with such a linker (and compiler).
TEST(BuildGame, AQuickConsoleLinkerLeavesNoBuildFolder)
{
    for (int round = 0; round < 3; round++) {
        SCOPED_TRACE(round);
        Kit k = make_kit(2);
        k.dir += std::to_string(round);
        make_dirs(k.dir.c_str());
        ASSERT_TRUE(CopyFileA((bin(k) + "\\gcc-quick.exe").c_str(), (bin(k) + "\\gcc.exe").c_str(), FALSE));
        Outcome r = build(k);
        ASSERT_EQ(1, r.result) << log_text() << read_log(k.dir + "\\build\\build.log");
        EXPECT_EQ(slurp(bin(k) + "\\standin-game.exe"), slurp(k.dir + "\\tarnok.exe"));
        EXPECT_EQ(std::vector<std::string>{"tarnok.exe"}, list_dir(k.dir));
    }
}

// Starts that fail with ERROR_INTERNAL_ERROR, as one in 2,000 does under
// Wine, are tried up to three times in all; any other start failure fails
// at once. The stand-in recompiler records each start that happened.
TEST(RunWait, RetriesOnlyTheRareInternalErrorTwice)
{
    struct Case {
        int failures;
        unsigned long error;
        int result;
        size_t started;
    } cases[] = {
        {1, ERROR_INTERNAL_ERROR, 0, 1},
        {2, ERROR_INTERNAL_ERROR, 0, 1},
        {3, ERROR_INTERNAL_ERROR, -1, 0},
        {1, ERROR_ACCESS_DENIED, -1, 0},
        {1, ERROR_NOT_ENOUGH_MEMORY, -1, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.failures) + " failures with error " + std::to_string(c.error));
        Kit k = make_kit(1);
        make_dirs((k.dir + "\\build\\gen").c_str());
        build_fail_starts(c.failures, c.error);
        std::string before = path_now();
        EXPECT_EQ(c.result, run_wait(recomp_command(k).c_str(), "C:\\prefix", (k.dir + "\\out.log").c_str()));
        EXPECT_EQ(c.started, starts(k, "recomp.txt").size());
        EXPECT_EQ(before, path_now());
        build_fail_starts(0, 0);
    }
}

// The same through a whole build: the recompiler's start is retried and the
// build goes on; a compile whose start keeps failing fails the build.
TEST(BuildGame, SurvivesRareStartFailures)
{
    Kit k = make_kit(2);
    build_fail_starts(2, ERROR_INTERNAL_ERROR);
    Outcome r = build(k);
    ASSERT_EQ(1, r.result) << log_text();
    EXPECT_EQ(1u, starts(k, "recomp.txt").size());
    EXPECT_EQ(4u, starts(k, "compiles.txt").size());
    EXPECT_FALSE(dir_exists(k.dir + "\\build"));

    Kit again = make_kit(2);
    build_fail_starts(1, ERROR_BAD_EXE_FORMAT);
    r = build(again);
    expect_failed(again, r, "the recompiler failed (see build\\build.log)");
    EXPECT_TRUE(starts(again, "recomp.txt").empty());
}

TEST(RunWait, ReturnsTheExitCodeAndAppendsBothOutputs)
{
    Kit k = make_kit(1);
    std::string log = k.dir + "\\out.log";
    std::string python = "\"" + k.kit + "\\python\\python.exe\"";
    make_dirs((k.dir + "\\build\\gen").c_str());
    std::string before = path_now();
    set_env("TARNOK_STANDIN_RECOMP_EXIT", "7");
    EXPECT_EQ(7, run_wait(recomp_command(k).c_str(), "C:\\prefix-a", log.c_str()));
    EXPECT_EQ("prio=0x4000 console=0 path=C:\\prefix-a", starts(k, "recomp.txt").at(0).info);
    EXPECT_EQ(2, run_wait(python.c_str(), nullptr, log.c_str()));
    EXPECT_EQ("recomp: converting " + k.exe + "\r\nrecomp: note on stderr\r\nrecomp: wrote 1 sources\r\n"
              "python stand-in: expected -I and five arguments\r\n", read_log(log));
    EXPECT_EQ(-1, run_wait("\"C:\\no such folder\\x.exe\"", "C:\\prefix-b", log.c_str()));
    EXPECT_EQ(before, path_now()) << "PATH restored after a start and after a failed one";

    // A process that had no PATH does not end up with an empty one.
    SetEnvironmentVariableA("PATH", nullptr);
    EXPECT_EQ(2, run_wait(python.c_str(), "C:\\prefix-c", log.c_str()));
    EXPECT_EQ(0u, GetEnvironmentVariableA("PATH", nullptr, 0));
    SetEnvironmentVariableA("PATH", before.c_str());
}

TEST(ChildEnded, ExitCodeOnlyAfterAGoodWait)
{
    char cmd[] = "cmd.exe /c exit 0";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si, &pi));
    CloseHandle(pi.hThread);
    unsigned long code = 99;
    EXPECT_EQ(1, child_ended(pi.hProcess, INFINITE, &code));
    EXPECT_EQ(0u, code);

    // A handle that may read the exit code but not wait: the code is there
    // (0), yet a failed wait must not pass for success.
    HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pi.dwProcessId);
    ASSERT_NE(nullptr, h);
    DWORD readable = 99;
    ASSERT_TRUE(GetExitCodeProcess(h, &readable));
    ASSERT_EQ(0u, readable);
    code = 99;
    EXPECT_EQ(1, child_ended(h, 0, &code));
    EXPECT_EQ(1u, code);
    CloseHandle(h);
    CloseHandle(pi.hProcess);
}
