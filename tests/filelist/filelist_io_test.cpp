// The file list on disk: written line by line and read back, a kill in the
// middle of a line, a damaged list or a link at its place, and the checks
// of the listed files that /verify and a repair go by. The lists are
// written by hand and the CRC-32 values are published check values or
// Python's zlib.crc32, never our own CRC code.
#include <windows.h>

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "install/filelist.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

const std::string H = "tarnok-file-list 1\r\n";

ListEntry entry(const char *path, uint64_t size, uint32_t crc, const char *source, int kind = LIST_FIXED)
{
    ListEntry e = {};
    snprintf(e.path, sizeof e.path, "%s", path);
    snprintf(e.source, sizeof e.source, "%s", source);
    e.size = size;
    e.crc = crc;
    e.kind = kind;
    return e;
}

std::vector<std::string> read_paths(const std::string &dir, int *ok, int *complete, std::string *reason = nullptr)
{
    FileList l;
    char why[1200];
    *ok = list_read(dir.c_str(), &l, why, sizeof why);
    *complete = l.complete;
    std::vector<std::string> out;
    for (int i = 0; i < l.count; i++)
        out.push_back(l.entries[i].path);
    list_free(&l);
    if (reason)
        *reason = why;
    return out;
}

// Each report of list_verify as the log line /verify makes of it.
void collect(int state, const ListEntry *e, uint64_t, unsigned long, void *ctx)
{
    ((std::vector<std::string> *)ctx)->push_back(std::string(list_state_word(state)) + ": " + e->path);
}

} // namespace

TEST(ListWriter, WritesTheFormatAndReadsBack)
{
    std::string dir = scratch();
    ListWriter w;
    ASSERT_EQ(1, list_open(&w, dir.c_str())) << GetLastError();
    ListEntry a = entry("game\\hd\\TARNOK\\TARNOKP2.EXE", 916367, 0xB83E34F1, "update:TARNOKP2.EXE");
    ListEntry cfg = entry("game\\hd\\TARNOK.CFG", 272, 0x7C30965E, "default", LIST_CHANGING);
    ASSERT_EQ(1, list_add(&w, &a));
    ASSERT_EQ(1, list_add(&w, &cfg));
    // Each line is in the file as soon as it is added.
    std::string after_two = H + "game\\hd\\TARNOK\\TARNOKP2.EXE\t916367\tB83E34F1\tupdate:TARNOKP2.EXE\tfixed\r\n" +
                            "game\\hd\\TARNOK.CFG\t272\t7C30965E\tdefault\tchanging\r\n";
    EXPECT_EQ(after_two, slurp_shared(dir + "\\tarnok_files.txt"));
    ASSERT_EQ(1, list_complete(&w));
    list_close(&w);
    EXPECT_EQ(after_two + "complete\r\n", slurp(dir + "\\tarnok_files.txt"));

    int ok = 0, complete = 0;
    std::vector<std::string> got = read_paths(dir, &ok, &complete);
    EXPECT_EQ(1, ok);
    EXPECT_EQ(1, complete);
    EXPECT_EQ((std::vector<std::string>{"game\\hd\\TARNOK\\TARNOKP2.EXE", "game\\hd\\TARNOK.CFG"}), got);

    // A repair goes on after it: its line replaces the old one, and the list
    // is complete again only once it says so, once.
    ASSERT_EQ(1, list_open(&w, dir.c_str()));
    a.size = 5;
    ASSERT_EQ(1, list_add(&w, &a));
    list_close(&w);
    got = read_paths(dir, &ok, &complete);
    EXPECT_EQ(0, complete);
    EXPECT_EQ(2u, got.size());
    ASSERT_EQ(1, list_open(&w, dir.c_str()));
    ASSERT_EQ(1, list_complete(&w));
    ASSERT_EQ(1, list_complete(&w));
    list_close(&w);
    ASSERT_EQ(1, list_open(&w, dir.c_str()));
    ASSERT_EQ(1, list_complete(&w));
    list_close(&w);
    EXPECT_EQ(after_two + "complete\r\n" +
                  "game\\hd\\TARNOK\\TARNOKP2.EXE\t5\tB83E34F1\tupdate:TARNOKP2.EXE\tfixed\r\ncomplete\r\n",
              slurp(dir + "\\tarnok_files.txt"));

    ListEntry bad = entry("..\\evil.exe", 1, 0, "setup");
    ASSERT_EQ(1, list_open(&w, dir.c_str()));
    EXPECT_EQ(0, list_add(&w, &bad));
    EXPECT_EQ((DWORD)ERROR_INVALID_NAME, GetLastError());
    list_close(&w);
}

TEST(ListWriter, AKillInTheMiddleOfALineLosesThatLineOnly)
{
    std::string dir = scratch();
    std::string a = "game\\A.DAT\t9\tCBF43926\tcd1:TARNOK\\A.DAT\tfixed\r\n";
    spit(dir + "\\tarnok_files.txt", H + a + "game\\B.DAT\t43\t414F");
    int ok = 0, complete = 0;
    EXPECT_EQ(std::vector<std::string>{"game\\A.DAT"}, read_paths(dir, &ok, &complete));
    EXPECT_EQ(1, ok);
    EXPECT_EQ(0, complete);

    // The resumed install writes after the last whole line.
    ListWriter w;
    ASSERT_EQ(1, list_open(&w, dir.c_str()));
    ListEntry b = entry("game\\B.DAT", 43, 0x414FA339, "cd1:TARNOK\\B.DAT");
    ASSERT_EQ(1, list_add(&w, &b));
    list_close(&w);
    EXPECT_EQ(H + a + "game\\B.DAT\t43\t414FA339\tcd1:TARNOK\\B.DAT\tfixed\r\n", slurp(dir + "\\tarnok_files.txt"));

    // Killed while its first line was being written.
    spit(dir + "\\tarnok_files.txt", "tarnok-file");
    EXPECT_TRUE(read_paths(dir, &ok, &complete).empty());
    EXPECT_EQ(1, ok);
    ASSERT_EQ(1, list_open(&w, dir.c_str()));
    ASSERT_EQ(1, list_add(&w, &b));
    list_close(&w);
    EXPECT_EQ(H + "game\\B.DAT\t43\t414FA339\tcd1:TARNOK\\B.DAT\tfixed\r\n", slurp(dir + "\\tarnok_files.txt"));
}

TEST(ListWriter, ADamagedListIsReportedAndStartedAgain)
{
    std::string dir = scratch();
    spit(dir + "\\tarnok_files.txt", H + "game\\A.DAT\t9\tCBF43926\tcd1:A\tfixed\r\n..\\..\\x\t1\t00000000\tcd1:x\tfixed\r\n");
    int ok = 1, complete = 0;
    std::string reason;
    EXPECT_TRUE(read_paths(dir, &ok, &complete, &reason).empty());
    EXPECT_EQ(0, ok);
    EXPECT_EQ("the file list " + dir + "\\tarnok_files.txt is damaged: it counts as missing", reason);

    ListWriter w;
    ASSERT_EQ(1, list_open(&w, dir.c_str()));
    list_close(&w);
    EXPECT_EQ(H, slurp(dir + "\\tarnok_files.txt"));

    // No list at all is no reason to report.
    std::string empty = scratch("none");
    EXPECT_TRUE(read_paths(empty, &ok, &complete, &reason).empty());
    EXPECT_EQ(0, ok);
    EXPECT_EQ("", reason);
}

// A link at the list's place is neither read nor written through: the
// list it leads to stays as it was, and a new list takes the link's place.
TEST(ListWriter, NeverThroughALinkAtItsPlace)
{
    std::string dir = scratch();
    std::string elsewhere = scratch("elsewhere");
    std::string precious = H + "game\\A.DAT\t9\tCBF43926\tcd1:A\tfixed\r\n";
    spit(elsewhere + "\\precious.txt", precious);
    if (!unix_link(elsewhere + "\\precious.txt", dir + "\\tarnok_files.txt"))
        GTEST_SKIP() << "cannot make a symbolic link here";
    int ok = 1, complete = 0;
    std::string reason;
    EXPECT_TRUE(read_paths(dir, &ok, &complete, &reason).empty());
    EXPECT_EQ(0, ok);
    EXPECT_NE(std::string::npos, reason.find("is a link")) << reason;

    ListWriter w;
    ASSERT_EQ(1, list_open(&w, dir.c_str())) << GetLastError();
    ListEntry b = entry("game\\B.DAT", 43, 0x414FA339, "cd1:B");
    ASSERT_EQ(1, list_add(&w, &b));
    ASSERT_EQ(1, list_complete(&w));
    list_close(&w);
    EXPECT_EQ(precious, slurp(elsewhere + "\\precious.txt"));
    EXPECT_EQ(std::vector<std::string>{"game\\B.DAT"}, read_paths(dir, &ok, &complete));
    EXPECT_EQ(1, ok);

    // A link at the temporary name is never written through either.
    std::string other = scratch("other");
    spit(elsewhere + "\\precious2.txt", "keep");
    if (!unix_link(elsewhere + "\\precious2.txt", other + "\\tarnok_files.txt" DEST_TEMP_SUFFIX))
        GTEST_SKIP() << "cannot make a symbolic link here";
    if (list_open(&w, other.c_str()))
        list_close(&w);
    EXPECT_EQ("keep", slurp(elsewhere + "\\precious2.txt"));
}

TEST(ListCheck, WholeMissingAndChanged)
{
    std::string dir = scratch();
    spit(dir + "\\tarnok.exe", "123456789");
    spit(dir + "\\short.dat", "12345678");
    spit(dir + "\\long.dat", "1234567890");
    spit(dir + "\\byte.dat", "123456780");
    spit(dir + "\\empty.dat", "");
    make_dirs((dir + "\\folder.dat").c_str());
    // Three blocks and a bit: a CRC-32 that Python's zlib.crc32 gives.
    std::string big(3 * 1048576 + 5, 0);
    for (size_t i = 0; i < big.size(); i++)
        big[i] = (char)(i * 7 % 251);
    spit(dir + "\\game\\big.dat", big);
    struct Case {
        const char *path;
        uint64_t size;
        uint32_t crc;
        int state;
        uint64_t found;
    } cases[] = {
        {"tarnok.exe", 9, 0xCBF43926, LIST_WHOLE, 9},
        {"TARNOK.EXE", 9, 0xCBF43926, LIST_WHOLE, 9},
        {"game\\big.dat", big.size(), 0x98EE56D2, LIST_WHOLE, big.size()},
        {"empty.dat", 0, 0, LIST_WHOLE, 0},
        {"short.dat", 9, 0xCBF43926, LIST_CHANGED, 8},
        {"long.dat", 9, 0xCBF43926, LIST_CHANGED, 10},
        {"byte.dat", 9, 0xCBF43926, LIST_CHANGED, 9},
        {"tarnok.exe", 9, 0xCBF43927, LIST_CHANGED, 9},
        {"missing.dat", 9, 0xCBF43926, LIST_MISSING, 0},
        {"nofolder\\x.dat", 9, 0xCBF43926, LIST_MISSING, 0},
        {"folder.dat", 9, 0xCBF43926, LIST_MISSING, 0},
    };
    ListFolder f;
    ASSERT_EQ(1, list_folder_open(&f, dir.c_str()));
    for (const Case &c : cases) {
        ListEntry e = entry(c.path, c.size, c.crc, "cd1:X");
        uint64_t found = 12345;
        unsigned long error = 0;
        EXPECT_EQ(c.state, list_check_file(&f, &e, &found, &error)) << c.path;
        EXPECT_EQ(c.found, found) << c.path;
    }
}

// A link on the last step or on a folder step of a listed path is no
// file of the install, however whole what it leads to is: it is told as
// such, so that nothing is checked, written or removed through it.
TEST(ListCheck, ALinkOnAnyStepIsTold)
{
    std::string dir = scratch();
    std::string elsewhere = scratch("elsewhere");
    spit(elsewhere + "\\data.bin", "123456789");
    spit(elsewhere + "\\hd\\X.DAT", "123456789");
    make_dirs((dir + "\\game").c_str());
    if (!unix_link(elsewhere + "\\data.bin", dir + "\\data.bin") ||
        !unix_link(elsewhere + "\\hd", dir + "\\game\\hd"))
        GTEST_SKIP() << "cannot make a symbolic link here";
    ListFolder f;
    ASSERT_EQ(1, list_folder_open(&f, dir.c_str()));
    for (const char *path : {"data.bin", "game\\hd\\X.DAT"}) {
        ListEntry e = entry(path, 9, 0xCBF43926, "cd1:X");
        uint64_t found = 0;
        unsigned long error = 0;
        EXPECT_EQ(LIST_LINKED, list_check_file(&f, &e, &found, &error)) << path;
        e = entry((std::string(path) + ".gone").c_str(), 9, 0xCBF43926, "cd1:X");
        EXPECT_EQ(strchr(path, '\\') ? LIST_LINKED : LIST_MISSING, list_check_file(&f, &e, &found, &error))
            << "a file missing behind a link: " << path;
    }
    // The install folder itself may be reached through a link.
    spit(elsewhere + "\\hd\\Y.DAT", "123456789");
    ASSERT_EQ(1, list_folder_open(&f, (dir + "\\game\\hd").c_str()));
    ListEntry y = entry("Y.DAT", 9, 0xCBF43926, "cd1:Y");
    uint64_t found = 0;
    unsigned long error = 0;
    EXPECT_EQ(LIST_WHOLE, list_check_file(&f, &y, &found, &error));
}

TEST(ListVerify, NamesExactlyTheMissingAndTheChanged)
{
    std::string dir = scratch();
    spit(dir + "\\tarnok.exe", "123456789");
    spit(dir + "\\game\\hd\\TARNOK\\A.DAT", "The quick brown fox jumps over the lazy dog");
    spit(dir + "\\game\\hd\\TARNOK\\B.DAT", "a");
    spit(dir + "\\game\\hd\\TARNOK\\C.DAT", "abc");
    spit(dir + "\\game\\hd\\TARNOK.CFG", "the player's own settings");
    spit(dir + "\\tarnok_files.txt", H + "tarnok.exe\t9\tCBF43926\tsetup\tfixed\r\n" +
                                         "game\\hd\\TARNOK\\A.DAT\t43\t414FA339\tupdate:A.DAT\tfixed\r\n" +
                                         "game\\hd\\TARNOK\\B.DAT\t1\tE8B7BE43\tupdate:B.DAT\tfixed\r\n" +
                                         "game\\hd\\TARNOK\\C.DAT\t3\t352441C2\tupdate:C.DAT\tfixed\r\n" +
                                         "game\\hd\\TARNOK.CFG\t272\t7C30965E\tdefault\tchanging\r\n" +
                                         "complete\r\n");
    std::vector<std::string> lines;
    ListTally t;
    char reason[1200];
    ASSERT_EQ(1, list_verify(dir.c_str(), collect, &lines, &t, reason, sizeof reason)) << reason;
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(4, t.whole);
    EXPECT_EQ(1, t.changing);
    EXPECT_EQ(1, t.complete);

    ASSERT_TRUE(DeleteFileA((dir + "\\game\\hd\\TARNOK\\B.DAT").c_str()));
    spit(dir + "\\game\\hd\\TARNOK\\A.DAT", "The quick brown fox jumps over the lazy cog");
    ASSERT_EQ(1, list_verify(dir.c_str(), collect, &lines, &t, reason, sizeof reason)) << reason;
    EXPECT_EQ((std::vector<std::string>{"changed: game\\hd\\TARNOK\\A.DAT", "missing: game\\hd\\TARNOK\\B.DAT"}), lines);
    EXPECT_EQ(2, t.whole);
    EXPECT_EQ(1, t.missing);
    EXPECT_EQ(1, t.changed);
    EXPECT_EQ(0, t.unreadable);
}

TEST(ListVerify, NoListToGoBy)
{
    std::string dir = scratch();
    ListTally t;
    char reason[1200];
    EXPECT_EQ(0, list_verify(dir.c_str(), nullptr, nullptr, &t, reason, sizeof reason));
    EXPECT_NE(nullptr, strstr(reason, "there is no file list in")) << reason;
    spit(dir + "\\tarnok_files.txt", "tarnok-file-list 2\r\n");
    EXPECT_EQ(0, list_verify(dir.c_str(), nullptr, nullptr, &t, reason, sizeof reason));
    EXPECT_NE(nullptr, strstr(reason, "is damaged: it counts as missing")) << reason;
}
