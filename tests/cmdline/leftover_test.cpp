// What setup leaves behind when it ends: the uninstaller's temporary copy,
// and the processes of a conversion build that is stopped.
#include <gtest/gtest.h>

#include "guisupport.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

const char *const COPY = "\\tarnok_uninstall.exe";

enum Leftover { PLAIN, FOLDER, LINK, HELD_OPEN, RUNNING };

} // namespace

// An earlier uninstall's copy in the temporary folder goes at the next start
// of setup or of the uninstaller, but only a plain file that nothing uses:
// a folder of that name, a link (and what it leads to), a copy some process
// holds open and one that runs all stay as they were.
TEST(Cmdline, LeftOverCopyGoesAtTheNextStart)
{
    struct Case {
        Leftover kind;
        const char *args; // of the start that looks for the copy
        bool removed;
    } cases[] = {
        {PLAIN, "/silent /dir %s", true},      {PLAIN, "/uninstall", true},
        {FOLDER, "/silent /dir %s", false},    {HELD_OPEN, "/uninstall", false},
        {RUNNING, "/silent /dir %s", false},   {LINK, "/silent /dir %s", false}, // last: it may skip
    };
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_nogame");
    int n = 0;
    for (const Case &k : cases) {
        std::string tag = std::to_string(n++);
        SCOPED_TRACE(tag + ": " + k.args);
        std::string tmp = scratch("tmp" + tag), copy = tmp + COPY, elsewhere = scratch("elsewhere" + tag);
        std::string target = elsewhere + "\\precious.exe";
        HANDLE held = INVALID_HANDLE_VALUE;
        Child runner;
        switch (k.kind) {
        case PLAIN: spit(copy, "left over"); break;
        case FOLDER: spit(copy + "\\inner.dat", "keep"); break;
        case LINK:
            spit(target, "keep");
            if (!unix_link(target, copy))
                GTEST_SKIP() << "cannot make a symbolic link here";
            break;
        case HELD_OPEN:
            spit(copy, "left over");
            held = CreateFileA(copy.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               NULL, OPEN_EXISTING, 0, NULL);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
            break;
        case RUNNING:
            // A first stage run from that file waits at its question.
            ASSERT_TRUE(CopyFileA(exe.c_str(), copy.c_str(), FALSE));
            runner = start_setup_in(copy, "/uninstall", tmp);
            ASSERT_NE(nullptr, gd_find_box("Tarnok uninstall", runner.pid, 20000));
            break;
        }

        std::string args = k.args;
        if (args.find("%s") != std::string::npos)
            args.replace(args.find("%s"), 2, scratch("dir" + tag) + "\\TarnokPC");
        Child c = start_setup_in(exe, args, tmp);
        if (args == "/uninstall") {
            HWND box = gd_find_box("Tarnok uninstall", c.pid, 20000);
            ASSERT_NE(nullptr, box);
            gd_answer(box, IDNO);
            EXPECT_EQ(0, wait_exit(c));
        } else {
            EXPECT_EQ(1, wait_exit(c));
        }
        end_child(c);

        switch (k.kind) {
        case PLAIN: EXPECT_EQ(k.removed, !file_exists(copy)); break;
        case FOLDER: EXPECT_EQ("keep", slurp(copy + "\\inner.dat")); break;
        case LINK:
            EXPECT_TRUE(file_exists(copy)) << "the link itself stays";
            EXPECT_EQ("keep", slurp(target));
            break;
        case HELD_OPEN:
            CloseHandle(held);
            EXPECT_EQ("left over", slurp(copy));
            break;
        case RUNNING: {
            EXPECT_TRUE(file_exists(copy));
            HWND box = gd_find_box("Tarnok uninstall", runner.pid, 5000);
            ASSERT_NE(nullptr, box);
            gd_answer(box, IDNO);
            EXPECT_EQ(0, wait_exit(runner));
            EXPECT_TRUE(file_exists(copy)) << "the copy's own start leaves it";
            break;
        }
        }
        end_child(runner);
    }
}

// Killing setup in the middle of a conversion build ends the build with it:
// no compiler keeps running and writing into the build folder. The stand-in
// compiles linger for 30 s.
TEST(Cmdline, AKilledSetupLeavesNoBuildProcess)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_nogame");
    stage_kit(dir);
    std::string rec = scratch("rec"), target = scratch("installed") + "\\Tarnok PC";
    SetEnvironmentVariableA("TARNOK_STANDIN_RECORD", rec.c_str());
    SetEnvironmentVariableA("TARNOK_STANDIN_GEN_BODY", "/* STANDIN_LINGER */");
    std::string args = "/silent /build /cd1 \"" + media_path("disc1") + "\" /cd2 \"" + media_path("disc2") +
                       "\" /patch \"" + media_path("TARNO103.EXE") + "\" /dir \"" + target + "\"";
    Child c = start_setup(exe, args, scratch("tmp"));
    SetEnvironmentVariableA("TARNOK_STANDIN_RECORD", NULL);
    SetEnvironmentVariableA("TARNOK_STANDIN_GEN_BODY", NULL);
    ASSERT_TRUE(eventually([&] { return file_exists(rec + "\\compiles.txt"); }, 60000)) << "no compile started";

    // Every program of the kit that setup started, and what those started.
    // (Wine starts its desktop process from the first program that makes a
    // window; that is no part of the build.)
    std::vector<HANDLE> build;
    std::vector<DWORD> ids;
    std::string kit = dir + "\\builder\\";
    for (DWORD id : children_of(c.pid)) {
        char name[MAX_PATH] = "";
        DWORD size = sizeof name;
        HANDLE h = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
        if (h && QueryFullProcessImageNameA(h, 0, name, &size) && _strnicmp(name, kit.c_str(), kit.size()) == 0)
            ids.push_back(id);
        if (h)
            CloseHandle(h);
    }
    for (size_t i = 0; i < ids.size(); i++) {
        HANDLE h = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ids[i]);
        if (h && WaitForSingleObject(h, 0) == WAIT_TIMEOUT)
            build.push_back(h);
        else if (h)
            CloseHandle(h);
        for (DWORD grandchild : children_of(ids[i]))
            ids.push_back(grandchild);
    }
    ASSERT_FALSE(build.empty()) << "no running compiler seen";
    end_child(c);
    for (HANDLE h : build) {
        char name[MAX_PATH] = "";
        DWORD size = sizeof name;
        QueryFullProcessImageNameA(h, 0, name, &size);
        EXPECT_EQ((DWORD)WAIT_OBJECT_0, WaitForSingleObject(h, 10000)) << name << " survived";
        CloseHandle(h);
    }
}

// As a new user installs: the kit beside setup.exe, a convert install in one
// go. A linker that ends within milliseconds leaves no build folder, though
// its console host still holds build.log for a moment.
TEST(Cmdline, AQuickLinkerLeavesNoBuildFolder)
{
    std::string dir = scratch("setup");
    std::string exe = stage_setup(dir, "setup_nogame");
    stage_kit(dir);
    std::string bin = dir + "\\builder\\mingw64\\bin";
    ASSERT_TRUE(CopyFileA((bin + "\\gcc-quick.exe").c_str(), (bin + "\\gcc.exe").c_str(), FALSE));
    std::string target = scratch("installed") + "\\Tarnok PC";
    std::string args = "/silent /build /nodesktop /nostartmenu /cd1 \"" + media_path("disc1") + "\" /cd2 \"" +
                       media_path("disc2") + "\" /patch \"" + media_path("TARNO103.EXE") + "\" /dir \"" + target + "\"";
    Child c = start_setup(exe, args, scratch("tmp"));
    EXPECT_EQ(0, wait_exit(c, 120000));
    std::vector<std::string> log = child_log(c);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ("Done.", log.back());
    EXPECT_TRUE(file_exists(target + "\\tarnok.exe"));
    EXPECT_FALSE(dir_exists(target + "\\build"));
}
