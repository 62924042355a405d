// The install's record after runs that did not go well, as a player meets
// it with setup.exe itself: a repair that fails on a damaged disc, a list
// that was damaged, a disc image cut short, a data folder moved and linked
// back, a changing file deleted. Whatever happened, the uninstall removes
// what the install wrote and nothing of the player's, and the next run with
// good discs ends as a fresh install.
#include <gtest/gtest.h>

#include <algorithm>

#include "cdsrc/cdinternal.h"
#include "guisupport.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

typedef std::vector<std::string> Lines;

const char list_name[] = "tarnok_files.txt";
const char block[] = "game\\cd1\\TARNOK\\DISK1\\DATA\\BLOCK100.DAT";
const char texts[] = "game\\cd2\\TARNOK\\DISK2\\DATA\\TEXTS.DAT";

// setup.exe with args; its exit code and its log.
int run_setup(const std::string &args, Lines *lines, const std::string &tag)
{
    std::string base = scratch(tag), exe = stage_setup(base, "setup_game");
    Child c = start_setup(exe, args, base + "\\tmp");
    int code = wait_exit(c, 120000);
    *lines = child_log(c);
    return code;
}

std::string install_args(const std::string &dir, const std::string &cd2 = media_path("disc2"),
                         const std::string &cd1 = media_path("disc1.iso"))
{
    return "/silent /nodesktop /nostartmenu /cd1 \"" + cd1 + "\" /cd2 \"" + cd2 + "\" /patch \"" +
           media_path("TARNO103.EXE") + "\" /dir \"" + dir + "\"";
}

int verify(const std::string &dir, Lines *lines) { return run_setup("/verify /dir \"" + dir + "\"", lines, "verify"); }

int uninstall(const std::string &dir)
{
    Lines lines;
    return run_setup("/uninstall2 \"" + dir + "\" /quiet", &lines, "uninstall");
}

bool has(const Lines &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// The player's own files below the game folder, where the guide says they stay.
const Lines players = {"game\\MYMOD\\mod.txt", "game\\notes.txt"};

void add_players_files(const std::string &dir)
{
    for (const std::string &p : players)
        spit(dir + "\\" + p, "mine");
}

// What stays of dir once the install's files are gone: the player's files
// and the folders that hold them.
Lines players_tree() { return {"game\\", "game\\MYMOD\\", "game\\MYMOD\\mod.txt", "game\\notes.txt"}; }

// A fresh install into dir with the player's files in its game folder, and
// a file of each disc gone since.
void broken_install(const std::string &dir)
{
    Lines lines;
    ASSERT_EQ(0, run_setup(install_args(dir), &lines, "install"));
    add_players_files(dir);
    ASSERT_TRUE(DeleteFileA((dir + "\\" + block).c_str()));
    ASSERT_TRUE(DeleteFileA((dir + "\\" + texts).c_str()));
}

// A copy of disc 2 whose TEXTS.DAT a worn disc gave only in part.
std::string damaged_disc2()
{
    std::string disc = scratch("disc2") + "\\disc2";
    copy_tree(media_path("disc2"), disc);
    std::string path = disc + "\\TARNOK\\DISK2\\DATA\\TEXTS.DAT";
    spit(path, slurp(path).substr(0, 3000));
    return disc;
}

} // namespace

// A repair from a damaged disc fails, and leaves the record of the whole
// install as it was, byte for byte; the damaged copy it wrote is not taken
// for whole by anyone: /verify names it, the uninstall removes it with every
// other file of the install and keeps the player's, and a repair with the
// good disc ends as a fresh install.
TEST(Record, AFailedRepairKeepsTheRecordAndThePlayersFiles)
{
    std::string base = scratch(), dir = base + "\\Tarnok PC", fresh = base + "\\fresh";
    ASSERT_NO_FATAL_FAILURE(broken_install(dir));
    std::string record = slurp(dir + "\\" + list_name);
    Lines lines;
    EXPECT_EQ(1, run_setup(install_args(dir, damaged_disc2()), &lines, "repair"));
    const std::string cut = "TARNOK\\DISK2\\DATA\\TEXTS.DAT: size 3,000 instead of 7,000 (CRC-32 ";
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string &l) { return l.compare(0, cut.size(), cut) == 0; }));
    EXPECT_EQ("ERROR: CD 2 is damaged, or was not read as it should be", lines.back());
    EXPECT_EQ(record, slurp(dir + "\\" + list_name));
    EXPECT_EQ(3, verify(dir, &lines));
    EXPECT_TRUE(has(lines, std::string("changed: ") + texts));

    std::string copy = base + "\\copy";
    copy_tree(dir, copy);
    EXPECT_EQ(0, run_setup(install_args(dir), &lines, "again"));
    EXPECT_EQ("Done.", lines.back());
    EXPECT_EQ(0, verify(dir, &lines));
    ASSERT_EQ(0, run_setup(install_args(fresh), &lines, "fresh"));
    EXPECT_EQ(slurp(fresh + "\\" + list_name), slurp(dir + "\\" + list_name));
    for (const std::string &p : players)
        DeleteFileA((dir + "\\" + p).c_str());
    RemoveDirectoryA((dir + "\\game\\MYMOD").c_str());
    EXPECT_EQ("", compare_trees(fresh, dir)) << "a repair with the good disc ends as a fresh install";

    EXPECT_EQ(0, uninstall(copy));
    EXPECT_EQ(players_tree(), list_tree(copy)) << "after the failed repair";
}

// A list damaged in the middle (a line the player's editor or the disk
// garbled): the uninstall still removes every file that a line names, and
// keeps the player's; the garbled line's file is not known to be the
// install's, and stays with them.
TEST(Record, ADamagedListStillKeepsThePlayersFiles)
{
    std::string dir = scratch() + "\\Tarnok PC";
    Lines lines;
    ASSERT_EQ(0, run_setup(install_args(dir), &lines, "install"));
    add_players_files(dir);
    std::string list = slurp(dir + "\\" + list_name);
    size_t at = list.find("game\\cd2\\TARNOK\\DISK2\\DATA\\LEVELS.DAT\t");
    ASSERT_NE(std::string::npos, at);
    list[list.find('\t', at)] = '#';
    spit(dir + "\\" + list_name, list);
    EXPECT_EQ(0, uninstall(dir));
    Lines left = players_tree();
    left.insert(left.end(), {"game\\cd2\\", "game\\cd2\\TARNOK\\", "game\\cd2\\TARNOK\\DISK2\\",
                             "game\\cd2\\TARNOK\\DISK2\\DATA\\", "game\\cd2\\TARNOK\\DISK2\\DATA\\LEVELS.DAT"});
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, list_tree(dir));
}

// A repair from an image cut short before a file that is missing fails,
// and leaves every file of the install, its record included, as it was:
// no file made empty at its final name, no list beside it.
TEST(Record, ARepairFromACutImageLeavesTheInstallAsItWas)
{
    std::string base = scratch(), dir = base + "\\Tarnok PC", before = base + "\\before", iso = base + "\\disc1.iso";
    Lines lines;
    ASSERT_EQ(0, run_setup(install_args(dir), &lines, "install"));
    ASSERT_TRUE(DeleteFileA((dir + "\\" + block).c_str()));
    copy_tree(dir, before);
    // The image ends where the file's sectors would begin.
    CdSource *src = cd_open(media_path("disc1.iso").c_str());
    ASSERT_TRUE(src != nullptr);
    IsoEntry e = {};
    ASSERT_EQ(1, iso_find(src, "TARNOK\\DISK1\\DATA\\BLOCK100.DAT", &e));
    cd_close(src);
    spit(iso, slurp(media_path("disc1.iso")).substr(0, (size_t)e.lba * 2048));
    EXPECT_EQ(1, run_setup(install_args(dir, media_path("disc2"), iso), &lines, "repair"));
    EXPECT_FALSE(file_exists(dir + "\\" + block));
    EXPECT_EQ("", compare_trees(before, dir));
}

// The sound settings, which the game changes, are only looked for: one
// deleted is named, and the install is not whole.
TEST(Record, VerifyNamesAMissingChangingFile)
{
    std::string dir = scratch() + "\\Tarnok PC";
    Lines lines;
    ASSERT_EQ(0, run_setup(install_args(dir), &lines, "install"));
    spit(dir + "\\game\\hd\\TARNOK.CFG", "the player's own sound settings");
    EXPECT_EQ(0, verify(dir, &lines));
    ASSERT_TRUE(DeleteFileA((dir + "\\game\\hd\\TARNOK.CFG").c_str()));
    EXPECT_EQ(3, verify(dir, &lines));
    EXPECT_TRUE(has(lines, "missing: game\\hd\\TARNOK.CFG"));
}

// A data folder that the player moved elsewhere and linked back: /verify
// and the install again agree that files behind a link are neither checked
// nor written, and say so; the files behind the link stay as they are.
TEST(Record, ALinkedDataFolderIsNeitherCheckedNorWritten)
{
    std::string base = scratch(), dir = base + "\\Tarnok PC", moved = base + "\\moved";
    // Wine cannot remove the Unix link that an earlier run left: the Unix rm does.
    if (!list_dir(base).empty()) {
        run_process("/bin/rm -rf \"" + unix_path(base) + "\"");
        eventually([&] { return !dir_exists(base); }, 5000);
        make_dirs(base.c_str());
    }
    Lines lines;
    ASSERT_EQ(0, run_setup(install_args(dir), &lines, "install"));
    std::string data = dir + "\\game\\cd1\\TARNOK\\DISK1\\DATA";
    ASSERT_TRUE(MoveFileA(data.c_str(), moved.c_str()));
    if (!unix_link(moved, data))
        GTEST_SKIP() << "cannot make a symbolic link here";
    ASSERT_TRUE(DeleteFileA((moved + "\\BLOCK100.DAT").c_str()));
    const std::string reason = "ERROR: 3 files are reached through a link to another place (a folder moved and "
                               "linked back): the setup checks, repairs and removes nothing behind a link; move the "
                               "folder back into the install folder";
    EXPECT_EQ(1, verify(dir, &lines));
    EXPECT_TRUE(has(lines, std::string("linked: ") + block));
    EXPECT_EQ(reason, lines.back());
    EXPECT_EQ(1, run_setup(install_args(dir), &lines, "again"));
    EXPECT_EQ(reason, lines.back());
    EXPECT_FALSE(file_exists(moved + "\\BLOCK100.DAT")) << "nothing is written through the link";
}

// A copy that an earlier run wrote from a damaged disc and listed after the
// list's "complete", as setups before this one did when a repair failed:
// no finished run vouched for it, and the table of editions says the disc
// has other contents, so an install again copies it anew.
TEST(Record, ALineNoFinishedRunVouchedForIsCheckedWithTheTable)
{
    std::string dir = scratch() + "\\Tarnok PC";
    Lines lines;
    ASSERT_EQ(0, run_setup(install_args(dir), &lines, "install"));
    std::string bad = std::string(1000, 'x');
    spit(dir + "\\" + texts, bad);
    char line[600];
    snprintf(line, sizeof line, "%s\t%zu\t%08X\tcd2:TARNOK\\DISK2\\DATA\\TEXTS.DAT\tfixed\r\n", texts, bad.size(),
             (unsigned)crc32_buf(bad.data(), bad.size()));
    spit(dir + "\\" + list_name, slurp(dir + "\\" + list_name) + line);
    EXPECT_EQ(0, run_setup(install_args(dir), &lines, "again"));
    EXPECT_TRUE(has(lines, std::string(texts) + ": not as any known edition has it, and not vouched for: it is copied "
                                                "again"));
    EXPECT_EQ("Done.", lines.back());
    EXPECT_EQ(7000u, slurp(dir + "\\" + texts).size());
    EXPECT_EQ(0, verify(dir, &lines));
}
