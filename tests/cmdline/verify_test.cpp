// The install's list of the files it wrote, as a player meets it: setup.exe
// /verify on an install, whole and then with files damaged, and an install
// again that repairs exactly those.
#include <gtest/gtest.h>

#include <algorithm>

#include "guisupport.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

typedef std::vector<std::string> Lines;

// setup.exe with args; its exit code and its log.
int run_setup(const std::string &args, Lines *lines, const std::string &tag)
{
    std::string base = scratch(tag), exe = stage_setup(base, "setup_game");
    Child c = start_setup(exe, args, base + "\\tmp");
    int code = wait_exit(c, 120000);
    *lines = child_log(c);
    return code;
}

std::string install_args(const std::string &dir)
{
    return "/silent /nodesktop /nostartmenu /cd1 \"" + media_path("disc1.iso") + "\" /cd2 \"" + media_path("disc2") +
           "\" /patch \"" + media_path("TARNO103.EXE") + "\" /dir \"" + dir + "\"";
}

Lines starting_with(const Lines &lines, const std::string &prefix)
{
    Lines out;
    for (const std::string &l : lines)
        if (l.compare(0, prefix.size(), prefix) == 0)
            out.push_back(l);
    return out;
}

// /verify names exactly the files that are not as the install wrote them,
// and an install again makes the folder what a fresh install makes it,
// writing nothing else.
TEST(Verify, NamesWhatIsBrokenAndAnInstallAgainRepairsIt)
{
    std::string base = scratch(), dir = base + "\\Tarnok PC", fresh = base + "\\fresh";
    Lines lines;
    ASSERT_EQ(0, run_setup(install_args(dir), &lines, "install"));
    ASSERT_EQ(0, run_setup(install_args(fresh), &lines, "fresh"));
    EXPECT_EQ(0, run_setup("/verify /dir \"" + dir + "\"", &lines, "verify"));
    // Every file but the list itself and the sound settings, which the
    // player may change.
    Lines files = list_tree(dir);
    size_t n = std::count_if(files.begin(), files.end(), [](const std::string &e) { return e.back() != '\\'; });
    EXPECT_EQ("All " + std::to_string(n - 2) + " files are whole.", lines.back());

    const std::string gone = "game\\hd\\TARNOK\\GRAPH\\INSTALL.CR", hurt = "game\\cd1\\TARNOK\\DISK1\\DATA\\BLOCK100.DAT";
    ASSERT_TRUE(DeleteFileA((dir + "\\" + gone).c_str()));
    std::string data = slurp(dir + "\\" + hurt);
    data[5000] ^= 1;
    spit(dir + "\\" + hurt, data);
    EXPECT_EQ(3, run_setup("/verify /dir \"" + dir + "\"", &lines, "verify"));
    EXPECT_EQ((Lines{"changed: " + hurt}), starting_with(lines, "changed: "));
    EXPECT_EQ((Lines{"missing: " + gone}), starting_with(lines, "missing: "));
    EXPECT_EQ("ERROR: 1 file is missing and 1 changed: install again to repair them", lines.back());

    ASSERT_EQ(0, run_setup(install_args(dir), &lines, "repair"));
    EXPECT_EQ("", compare_trees(fresh, dir)) << "a repair ends as a fresh install does";
    EXPECT_EQ(0, run_setup("/verify /dir \"" + dir + "\"", &lines, "verify"));
}

// Without a list (an install made before installs kept one) or without any
// install there is nothing to go by: that is a failure, not a verdict.
TEST(Verify, NoListIsNoVerdict)
{
    std::string dir = scratch("empty");
    Lines lines;
    EXPECT_EQ(1, run_setup("/verify /dir \"" + dir + "\"", &lines, "verify"));
    EXPECT_EQ("ERROR: there is no file list in " + dir, lines.back());
}

} // namespace
