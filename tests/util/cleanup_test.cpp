// Careful removals: a file deleted only when it is a plain file nothing
// uses, and a tree removal that waits a while for a file another process
// still holds.
#include <windows.h>

#include <gtest/gtest.h>

#include "testsupport.h"
#include "util/util.h"

namespace {

HANDLE hold(const std::string &path, DWORD share)
{
    return CreateFileA(path.c_str(), GENERIC_READ, share, NULL, OPEN_EXISTING, 0, NULL);
}

DWORD WINAPI close_later(void *h)
{
    Sleep(400);
    CloseHandle((HANDLE)h);
    return 0;
}

} // namespace

TEST(DeleteUnusedFile, OnlyAPlainFileThatNothingHolds)
{
    std::string d = scratch();
    spit(d + "\\plain.exe", "x");
    EXPECT_EQ(1, delete_unused_file((d + "\\plain.exe").c_str()));
    EXPECT_FALSE(file_exists(d + "\\plain.exe"));
    EXPECT_EQ(0, delete_unused_file((d + "\\plain.exe").c_str())) << "a missing file";

    spit(d + "\\folder\\inner.dat", "keep");
    EXPECT_EQ(0, delete_unused_file((d + "\\folder").c_str()));
    EXPECT_EQ("keep", slurp(d + "\\folder\\inner.dat"));

    // Held by a handle that even allows deletion: still in use.
    spit(d + "\\held.exe", "keep");
    HANDLE h = hold(d + "\\held.exe", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(0, delete_unused_file((d + "\\held.exe").c_str()));
    CloseHandle(h);
    EXPECT_EQ("keep", slurp(d + "\\held.exe"));

    // A program file a process runs from (suspended, but its image is
    // mapped all the same): the system refuses.
    std::string running = d + "\\running.exe";
    ASSERT_TRUE(CopyFileA((exe_dir() + "\\util_test.exe").c_str(), running.c_str(), FALSE));
    std::string line = "\"" + running + "\"";
    std::vector<char> buf(line.begin(), line.end());
    buf.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    ASSERT_TRUE(CreateProcessA(NULL, buf.data(), NULL, NULL, FALSE, CREATE_SUSPENDED | CREATE_NO_WINDOW, NULL, NULL,
                               &si, &pi));
    EXPECT_EQ(0, delete_unused_file(running.c_str()));
    EXPECT_TRUE(file_exists(running));
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
}

TEST(DeleteUnusedFile, NeverALinkOrWhatItLeadsTo)
{
    std::string d = scratch();
    spit(d + "\\elsewhere\\precious.exe", "keep");
    if (!unix_link(d + "\\elsewhere\\precious.exe", d + "\\filelink.exe") ||
        !unix_link(d + "\\elsewhere", d + "\\dirlink.exe"))
        GTEST_SKIP() << "cannot make a symbolic link here";
    EXPECT_EQ(0, delete_unused_file((d + "\\filelink.exe").c_str()));
    EXPECT_EQ(0, delete_unused_file((d + "\\dirlink.exe").c_str()));
    EXPECT_TRUE(file_exists(d + "\\filelink.exe"));
    EXPECT_EQ("keep", slurp(d + "\\elsewhere\\precious.exe"));
}

TEST(SameFile, ByIdentityNotBySpelling)
{
    std::string d = scratch();
    spit(d + "\\a.exe", "x");
    spit(d + "\\b.exe", "x");
    EXPECT_EQ(1, same_file((d + "\\a.exe").c_str(), (d + "\\sub\\..\\A.EXE").c_str()));
    EXPECT_EQ(0, same_file((d + "\\a.exe").c_str(), (d + "\\b.exe").c_str()));
    EXPECT_EQ(0, same_file((d + "\\a.exe").c_str(), (d + "\\missing.exe").c_str()));
}

// A file another process holds without sharing deletion keeps the folder
// until the handle closes; the removal waits for that, within its bound.
TEST(DeleteTreePatiently, WaitsForAHeldFileWithinItsBound)
{
    std::string d = scratch();
    spit(d + "\\build\\build.log", "log");
    spit(d + "\\build\\obj\\a.o", "o");
    HANDLE h = hold(d + "\\build\\build.log", FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    HANDLE t = CreateThread(NULL, 0, close_later, h, 0, NULL);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(1, delete_tree_patiently((d + "\\build").c_str(), 20000));
    EXPECT_FALSE(dir_exists(d + "\\build"));
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);

    // Held past the bound: the folder stays, and so does the held file.
    spit(d + "\\build\\build.log", "log");
    h = hold(d + "\\build\\build.log", FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(0, delete_tree_patiently((d + "\\build").c_str(), 300));
    EXPECT_EQ("log", slurp(d + "\\build\\build.log"));
    CloseHandle(h);
    EXPECT_EQ(1, delete_tree_patiently((d + "\\build").c_str(), 300));
    EXPECT_FALSE(dir_exists(d + "\\build"));
}
