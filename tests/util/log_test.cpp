#include <windows.h>

#include <gtest/gtest.h>

#include "testsupport.h"
#include "util/util.h"

TEST(Log, LinesEndInCrLfAndTheFileStartsEmpty)
{
    log_reset();
    setup_log("first %s", "line");
    setup_log("error %lu", 5ul);
    std::string text = log_text();
    EXPECT_EQ("first line\r\nerror 5\r\n", text) << "each line is flushed as written";
    log_reset();
    setup_log("again");
    EXPECT_EQ("again\r\n", log_text()) << "a new run empties the file";
}

TEST(Log, LongLinesAreCutAt1023Bytes)
{
    log_reset();
    std::string big(3000, 'x');
    setup_log("%s", big.c_str());
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(std::string(1023, 'x'), lines[0]);
}

// A cut through a character would leave a broken UTF-8 sequence.
TEST(Log, LongLinesAreCutBetweenCharacters)
{
    log_reset();
    std::string big = "x";
    for (int i = 0; i < 600; i++)
        big += "\xD0\x96"; // Ж
    setup_log("%s", big.c_str());
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(big.substr(0, 1023), lines[0]);
    setup_log("y%s", big.c_str());
    lines = log_lines();
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ(("y" + big).substr(0, 1022), lines[1]);
}

// A link at the log's place, to a file elsewhere or to nothing, and a
// second name (hard link) of another file: that file keeps its bytes, and
// the run logs to no file. A plain old log is emptied as always.
TEST(Log, NeverWritesThroughALink)
{
    enum Kind { SYMLINK, DANGLING, HARDLINK, PLAIN };
    const Kind kinds[] = {SYMLINK, DANGLING, HARDLINK, PLAIN};
    char old_tmp[MAX_PATH] = "", old_temp[MAX_PATH] = "";
    GetEnvironmentVariableA("TMP", old_tmp, sizeof old_tmp);
    GetEnvironmentVariableA("TEMP", old_temp, sizeof old_temp);
    int n = 0;
    for (Kind k : kinds) {
        SCOPED_TRACE(n);
        std::string tmp = scratch("tmp" + std::to_string(n)), other = scratch("other" + std::to_string(n++));
        std::string log = tmp + "\\tarnok_setup.log", target = other + "\\precious.txt";
        spit(target, "keep");
        switch (k) {
        case SYMLINK: ASSERT_TRUE(unix_link(target, log)); break;
        case DANGLING:
            ASSERT_TRUE(unix_link(target, log));
            // Wine does not wait for a Unix program: the link dangles once
            // Windows no longer sees its target.
            run_process("/bin/rm -f \"" + unix_path(target) + "\"");
            for (int i = 0; i < 250 && file_exists(target); i++)
                Sleep(20);
            ASSERT_FALSE(file_exists(target));
            break;
        case HARDLINK: ASSERT_TRUE(CreateHardLinkA(log.c_str(), target.c_str(), NULL)); break;
        case PLAIN: spit(log, "an old run\r\n"); break;
        }
        SetEnvironmentVariableA("TMP", tmp.c_str());
        SetEnvironmentVariableA("TEMP", tmp.c_str());
        log_close();
        log_open();
        setup_log("a line");
        log_close();
        SetEnvironmentVariableA("TMP", old_tmp);
        SetEnvironmentVariableA("TEMP", old_temp);
        if (k == PLAIN) {
            EXPECT_EQ("a line\r\n", slurp(log));
        } else if (k == DANGLING) {
            EXPECT_FALSE(file_exists(target)) << "nothing is made where the link leads";
        } else {
            EXPECT_EQ("keep", slurp(target));
        }
    }
    log_reset();
}
