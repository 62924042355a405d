// The report of the last install attempt, made from logs written here:
// what the log's text tells (the attempt, its sources, its failure and
// error code, the files named), the user's folders and names left out of
// every line, and the report's shape whatever the log holds (its fields
// in order, at most 64 KiB, "end of report" last).
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "setup/details.h"
#include "util/util.h"

namespace {

std::string text_of(const std::string &log, DetailsSpan s) { return log.substr(s.at, s.len); }

struct Scanned {
    std::string log;
    DetailsLog l;
    explicit Scanned(const std::string &text) : log(text) { details_scan(log.data(), log.size(), &l); }
    std::string operator()(DetailsSpan s) const { return text_of(log, s); }
};

// A log of lines ended as the log file ends them.
std::string log_of(const std::vector<std::string> &lines, const char *end = "\r\n")
{
    std::string all;
    for (const std::string &l : lines)
        all += l + end;
    return all;
}

const std::string cannot_read = "cannot read R:\\TARNOK\\DISK1\\X.DAT: The device is not ready. (error 21)";

const std::vector<std::string> failed_from_drive = {
    "Install to C:\\Games\\Tarnok PC (prebuilt)",
    "CD 1 source: CD drive R:\\ (label \"TARNOK1\", serial 1234-ABCD, file system CDFS)",
    "CD 2 source: ISO image C:\\Images\\disc2.iso (2,048-byte sectors)",
    "Update source: file C:\\Downloads\\TARNO103.EXE (334,692 bytes)",
    "Copying folder R:\\ ...",
    cannot_read,
    "ERROR: copying CD 1 failed",
};

} // namespace

TEST(DetailsScan, AFailedAttemptFromADrive)
{
    Scanned s(log_of(failed_from_drive));
    const DetailsLog &l = s.l;
    EXPECT_EQ(DETAILS_FAILED, l.result);
    EXPECT_EQ(1, l.attempts);
    EXPECT_EQ(7, l.lines);
    EXPECT_EQ("C:\\Games\\Tarnok PC", s(l.folder));
    EXPECT_EQ("prebuilt", s(l.mode));
    EXPECT_EQ("CD drive R:\\ (label \"TARNOK1\", serial 1234-ABCD, file system CDFS)", s(l.source[0]));
    EXPECT_EQ("ISO image C:\\Images\\disc2.iso (2,048-byte sectors)", s(l.source[1]));
    EXPECT_EQ("file C:\\Downloads\\TARNO103.EXE (334,692 bytes)", s(l.source[2]));
    EXPECT_EQ("ERROR: copying CD 1 failed", s(l.failure));
    ASSERT_TRUE(l.has_error);
    EXPECT_EQ(21u, l.error);
    EXPECT_EQ(cannot_read, s(l.error_line));
    ASSERT_EQ(1, l.unread_count);
    EXPECT_EQ("R:\\TARNOK\\DISK1\\X.DAT", s(l.unread[0].path));
    EXPECT_EQ("R:\\", s(l.unread[0].root));
    EXPECT_EQ(21u, l.unread[0].error);
    EXPECT_EQ(0u, l.tail);
}

// Each case: a log, and what the scan makes of it.
TEST(DetailsScan, HowAttemptsEnd)
{
    struct Case {
        const char *what;
        std::vector<std::string> lines;
        int result, attempts;
        const char *failure;
        const char *folder, *mode;
    } cases[] = {
        {"an empty log", {}, DETAILS_NO_ATTEMPT, 0, "", "", ""},
        {"a refused option, before any attempt",
         {"ERROR: the path given with /dir is too long"}, DETAILS_NO_ATTEMPT, 0,
         "ERROR: the path given with /dir is too long", "", ""},
        {"installed", {"Install to C:\\T (prebuilt)", "Done."}, DETAILS_INSTALLED, 1, "", "C:\\T", "prebuilt"},
        {"ended during it", {"Install to C:\\T (convert on this PC)", "Copying folder R:\\ ..."}, DETAILS_UNENDED,
         1, "", "C:\\T", "convert on this PC"},
        {"a failure, then a second attempt that installed",
         {"Install to C:\\A (prebuilt)", "ERROR: CD 2 is not Tarnok disc 2", "Install to C:\\B (prebuilt)", "Done."},
         DETAILS_INSTALLED, 2, "", "C:\\B", "prebuilt"},
        {"a folder whose name holds \" (\"", {"Install to C:\\Games (old) (prebuilt)", "ERROR: x"},
         DETAILS_FAILED, 1, "ERROR: x", "C:\\Games (old)", "prebuilt"},
        {"a folder that is no folder, as an unattended install without /dir logs it",
         {"Install to  (convert on this PC)", "ERROR: no install folder was given"}, DETAILS_FAILED, 1,
         "ERROR: no install folder was given", "", "convert on this PC"},
        {"the player's stop", {"Install to C:\\T (prebuilt)", "ERROR: the installation was stopped"},
         DETAILS_FAILED, 1, "ERROR: the installation was stopped", "C:\\T", "prebuilt"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        for (const char *end : {"\r\n", "\n"}) {
            Scanned s(log_of(c.lines, end));
            EXPECT_EQ(c.result, s.l.result);
            EXPECT_EQ(c.attempts, s.l.attempts);
            EXPECT_EQ(c.failure, s(s.l.failure));
            EXPECT_EQ(c.folder, s(s.l.folder));
            EXPECT_EQ(c.mode, s(s.l.mode));
            EXPECT_EQ((int)c.lines.size(), s.l.lines);
        }
    }
}

// The error code of a failure: on its own line, or on the lines just
// before it that name the file it was about; never from further back.
TEST(DetailsScan, TheFailuresErrorCode)
{
    struct Case {
        const char *what;
        std::vector<std::string> lines;
        int has;
        unsigned long error;
    } cases[] = {
        {"on the failure line",
         {"ERROR: cannot write the uninstaller C:\\T\\uninstall.exe: Access is denied. (error 5)"}, 1, 5},
        {"on the line before", {"cannot write C:\\T\\x: There is not enough space on the disk. (error 112)",
                                "ERROR: setting up the game files failed"}, 1, 112},
        {"the nearest of several file lines",
         {"cannot read C:\\a: x (error 2)", "cannot write C:\\b: y (error 5)", "ERROR: z"}, 1, 5},
        {"a file line without one, then one with it", {"cannot read C:\\a: x (error 2)", "cannot list C:\\b: y",
                                                       "ERROR: z"}, 1, 2},
        {"behind another line", {"cannot read C:\\a: x (error 2)", "Copying folder R:\\ ...", "ERROR: z"}, 0, 0},
        {"a disc that a drive could not read",
         {"the file D:\\A.DAT could not be read from the disc (error 23): the disc may be dirty or scratched",
          "ERROR: copying CD 1 failed"}, 1, 23},
        {"files a drive read around, named long before",
         {"the file D:\\A.DAT could not be read from the disc (error 23): the disc may be dirty or scratched",
          "Copying folder E:\\ ...", "A.DAT: 2,048 bytes could not be read, from byte 0 to 2,047",
          "The files read so far are kept in C:\\T: run the setup again with the disc cleaned or with another "
          "copy, and only what is missing is read.",
          "ERROR: 1 file of CD 1 could not be read whole"}, 1, 23},
        {"none", {"ERROR: CD 1 is not Tarnok disc 1"}, 0, 0},
        {"the largest code", {"ERROR: x (error 4294967295)"}, 1, 4294967295ul},
        {"too large for a code", {"ERROR: x (error 4294967296)"}, 0, 0},
        {"no digits", {"ERROR: x (error )"}, 0, 0},
        {"not closed", {"ERROR: x (error 12"}, 0, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> lines = {"Install to C:\\T (prebuilt)"};
        lines.insert(lines.end(), c.lines.begin(), c.lines.end());
        Scanned s(log_of(lines));
        EXPECT_EQ(c.has, s.l.has_error);
        if (c.has) {
            EXPECT_EQ(c.error, s.l.error);
        }
    }
}

// The verdict's file lines are taken for their disc; read again and whole,
// the disc's named files are mended and no longer named.
TEST(DetailsScan, FilesTheVerdictNamed)
{
    std::vector<std::string> lines = {"Install to C:\\T (prebuilt)",
                                      "CD 1: 13 files of edition Sample are missing, cut short or different:"};
    for (int i = 0; i < 10; i++)
        lines.push_back("F" + std::to_string(i) + ".DAT: missing (expected 10 bytes, CRC-32 0000000A)");
    lines.push_back("and 3 more");
    lines.push_back("ERROR: CD 1 is damaged, or was not read as it should be");
    Scanned s(log_of(lines));
    EXPECT_EQ("13 files of edition Sample are missing, cut short or different:", s(s.l.verdict[0]));
    ASSERT_EQ(10, s.l.damage[0].count);
    EXPECT_EQ("F9.DAT: missing (expected 10 bytes, CRC-32 0000000A)", s(s.l.damage[0].files[9]));
    EXPECT_EQ("and 3 more", s(s.l.damage[0].more));
    EXPECT_EQ(0, s.l.damage[1].count);
    EXPECT_EQ(DETAILS_FAILED, s.l.result);

    lines.pop_back();
    lines.push_back("CD 1: edition Sample, 162 files as known");
    lines.push_back("Done.");
    Scanned again(log_of(lines));
    EXPECT_EQ(0, again.l.damage[0].count);
    EXPECT_EQ(0u, again.l.damage[0].more.len);
    EXPECT_EQ("edition Sample, 162 files as known", again(again.l.verdict[0]));

    // Another pressing's files are named too, as such.
    lines.pop_back();
    lines.pop_back();
    lines.push_back("CD 1: another pressing of edition Sample: 1 file differs from the edition's with no sign of "
                    "damage, and the disc is installed as it is:");
    lines.push_back("F1.DAT: other contents (CRC-32 00000001, expected 0000000A)");
    lines.push_back("Done.");
    Scanned pressing(log_of(lines));
    ASSERT_EQ(1, pressing.l.damage[0].count);
    EXPECT_EQ(1, pressing.l.damage[0].pressing);
    EXPECT_EQ(DETAILS_INSTALLED, pressing.l.result);
}

// A drive's "could not be read from the disc" names the file that the
// report lists with what it should be.
TEST(DetailsScan, AFileADriveCouldNotRead)
{
    Scanned s(log_of({"Install to C:\\T (prebuilt)", "Copying folder D:\\ ...",
                      "the file D:\\TARNOK\\A.DAT could not be read from the disc (error 23): the disc may be dirty",
                      "ERROR: copying CD 1 failed"}));
    ASSERT_EQ(1, s.l.unread_count);
    EXPECT_EQ("D:\\TARNOK\\A.DAT", s(s.l.unread[0].path));
    EXPECT_EQ(23u, s.l.error);
}

// The report shows the log's last 200 lines: they begin at line 251 of 450.
TEST(DetailsScan, TheTail)
{
    std::vector<std::string> lines;
    for (int i = 1; i <= 450; i++)
        lines.push_back("line " + std::to_string(i));
    for (const char *end : {"\r\n", "\n"}) {
        std::string log = log_of(lines, end);
        log.resize(log.size() - strlen(end)); // the last line without its end
        Scanned s(log);
        EXPECT_EQ(450, s.l.lines);
        EXPECT_EQ(0u, s.log.find("line 1"));
        EXPECT_EQ("line 251", s.log.substr(s.l.tail, 8));
    }
}

namespace {

// The user of these cases: Jo Smith, whose profile is C:\Users\jsmith.
struct Private {
    DetailsPrivate p;
    Private()
    {
        memset(&p, 0, sizeof p);
        details_private_path(&p, "C:\\Users\\jsmith\\AppData\\Local\\Temp\\", "%TEMP%");
        details_private_path(&p, "C:\\Users\\jsmith", "%USERPROFILE%");
        details_private_path(&p, "C:\\Users\\JSMITH~1", "%USERPROFILE%");
        details_private_word(&p, "jsmith");
        details_private_word(&p, "Jo");
        details_private_word(&p, "Пётр");
    }
    std::string operator()(const std::string &text, size_t room = 4096) const
    {
        std::vector<char> out(room);
        size_t n = details_scrub(&p, text.data(), text.size(), out.data(), out.size());
        EXPECT_EQ(strlen(out.data()), n);
        return std::string(out.data(), n);
    }
};

} // namespace

TEST(DetailsScrub, FoldersAndNamesAreLeftOut)
{
    Private scrub;
    struct Case {
        const char *text, *left;
    } cases[] = {
        {"cannot read C:\\Users\\jsmith\\Downloads\\disc1.iso: x", "cannot read %USERPROFILE%\\Downloads\\disc1.iso: x"},
        {"C:\\USERS\\JSMITH\\x", "%USERPROFILE%\\x"},
        {"C:\\Users\\jsmith", "%USERPROFILE%"},
        {"Install to C:\\Users\\jsmith (prebuilt)", "Install to %USERPROFILE% (prebuilt)"},
        {"C:\\Users\\jsmith\\AppData\\Local\\Temp\\tarnok_setup.log", "%TEMP%\\tarnok_setup.log"},
        {"C:\\Users\\JSMITH~1\\AppData\\x", "%USERPROFILE%\\AppData\\x"},
        // Another folder that begins so is no profile, but the name in it goes.
        {"C:\\Users\\jsmith.old\\x", "C:\\Users\\%USERNAME%.old\\x"},
        {"C:\\Users\\jsmithson\\x", "C:\\Users\\jsmithson\\x"},
        {"Z:\\home\\jsmith\\jsmith-disc1.iso", "Z:\\home\\%USERNAME%\\%USERNAME%-disc1.iso"},
        {"D:\\Backup of JSmith\\x", "D:\\Backup of %USERNAME%\\x"},
        // A name of two letters only as a whole path step.
        {"D:\\Jo\\Games\\Jo Tarnok\\Jo", "D:\\%USERNAME%\\Games\\%USERNAME% Tarnok\\%USERNAME%"},
        {"Jo went to Joan's", "Jo went to Joan's"},
        {"D:\\Joan\\x", "D:\\Joan\\x"},
        // A name outside ASCII, as a whole word only.
        {"C:\\users\\Пётр\\Temp", "C:\\users\\%USERNAME%\\Temp"},
        {"C:\\Пётрович\\x", "C:\\Пётрович\\x"},
        // Control bytes, which no log line of ours holds, are shown; tabs stay.
        {"a\x01" "b\x7F" "c\td", "a\\x01b\\x7Fc\td"},
        // So are bytes that begin no character: the report is UTF-8 text.
        {"\xFF" "a\xC3(\xE2\x82", "\\xFFa\\xC3(\\xE2\\x82"},
        {"no private part", "no private part"},
        {"", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.left, scrub(c.text)) << c.text;
    std::string nul("a\0b", 3);
    EXPECT_EQ("a\\x00b", scrub(nul));
}

// Output cut where it is full, never inside a character or a stand-in.
TEST(DetailsScrub, CutWhole)
{
    Private scrub;
    EXPECT_EQ("ab", scrub("abПётр", 4));
    EXPECT_EQ("ab", scrub("abП", 4));
    EXPECT_EQ("x ", scrub("x C:\\Users\\jsmith", 12));
    EXPECT_EQ("", scrub("abc", 1));
    DetailsPrivate none;
    memset(&none, 0, sizeof none);
    char out[8];
    EXPECT_EQ(3u, details_scrub(nullptr, "abc", 3, out, sizeof out));
    EXPECT_EQ(0u, details_scrub(&none, "abc", 3, out, 0));
}

// Nothing is added twice, nothing empty, nothing beyond the room.
TEST(DetailsScrub, PrivatePartsAreKeptOnce)
{
    DetailsPrivate p;
    memset(&p, 0, sizeof p);
    details_private_path(&p, "C:\\Users\\a\\", "%USERPROFILE%");
    details_private_path(&p, "C:\\Users\\a", "%USERPROFILE%");
    details_private_path(&p, "", "%TEMP%");
    details_private_word(&p, "a");
    details_private_word(&p, "a");
    details_private_word(&p, "");
    EXPECT_EQ(1, p.path_count);
    EXPECT_STREQ("C:\\Users\\a", p.paths[0]);
    EXPECT_EQ(1, p.word_count);
    for (int i = 0; i < 20; i++)
        details_private_word(&p, std::string(3 + i, 'w').c_str());
    EXPECT_EQ(DETAILS_WORDS, p.word_count);
    details_private_word(&p, std::string(300, 'x').c_str());
    EXPECT_EQ(DETAILS_WORDS, p.word_count);
}

namespace {

// The facts of a machine, as details_sys.cpp would gather them.
struct Report {
    Private priv;
    EditionTable table;
    DetailsFacts f;
    std::string text;
    std::vector<std::string> lines;

    Report(const std::string &log, const char *table_text = "", const char *question = nullptr)
    {
        edition_table_parse(table_text, strlen(table_text), &table);
        memset(&f, 0, sizeof f);
        f.title = "Tarnok: Vorblen - Pellurin Setup 1.0.0 (build 0123456789ab)";
        f.system = "Windows: 10.0 build 19045 (Windows 10)\nWine: none\nUI language: en-US (0409)\nDPI: 96 (100 %)";
        f.log_state = DETAILS_LOG_READ;
        f.log_name = "C:\\Users\\jsmith\\AppData\\Local\\Temp\\tarnok_setup.log";
        f.log_time = "2024-05-01 10:00 UTC";
        f.question = question;
        f.error_words = "The device is not ready.";
        f.folder = "Path: C:\\Games\\Tarnok PC (of the last attempt; it does not exist)\nFree space: 1 MB of 2 MB";
        f.table = &table;
        f.private_parts = &priv.p;
        DetailsLog l;
        details_scan(log.data(), log.size(), &l);
        std::vector<char> out(DETAILS_MAX + 1);
        size_t n = details_write(&f, log.data(), log.size(), &l, out.data(), out.size());
        text.assign(out.data(), n);
        EXPECT_EQ(strlen(out.data()), n);
        for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
            lines.push_back(text.substr(at, end - at));
    }
    ~Report() { edition_table_free(&table); }
    // The line after the one that is `line`, or "".
    std::string after(const std::string &line) const
    {
        for (size_t i = 0; i + 1 < lines.size(); i++)
            if (lines[i] == line)
                return lines[i + 1];
        return "";
    }
    bool has(const std::string &line) const
    {
        for (const std::string &l : lines)
            if (l == line)
                return true;
        return false;
    }
};

const char sample_table[] = "Sample\t1\t1048576\t1A2B3C4D\tTARNOK\\DISK1\\X.DAT\n"
                            "Pressing\t1\t1048576\t1A2B3C4D\tTARNOK\\DISK1\\X.DAT\n"
                            "Other\t1\t5\t00000005\tTARNOK\\DISK1\\X.DAT\n";

} // namespace

// Every field in its place, from a failure on a drive.
TEST(DetailsWrite, TheFieldsInOrder)
{
    std::vector<std::string> log = failed_from_drive;
    log.insert(log.begin(), "a line from before the attempt");
    Report r(log_of(log), sample_table);
    const std::vector<std::string> want = {
        "Tarnok: Vorblen - Pellurin Setup 1.0.0 (build 0123456789ab)",
        "",
        "System",
        "Windows: 10.0 build 19045 (Windows 10)",
        "Wine: none",
        "UI language: en-US (0409)",
        "DPI: 96 (100 %)",
        "",
        "Sources",
        "CD 1: CD drive R:\\ (label \"TARNOK1\", serial 1234-ABCD, file system CDFS)",
        "CD 1 verdict: not judged in this attempt",
        "CD 2: ISO image C:\\Images\\disc2.iso (2,048-byte sectors)",
        "CD 2 verdict: not judged in this attempt",
        "Update: file C:\\Downloads\\TARNO103.EXE (334,692 bytes)",
        "",
        "Outcome",
        "Mode: prebuilt",
        "Result: failed",
        "Failure: ERROR: copying CD 1 failed",
        "Error code: 21 (The device is not ready.)",
        "Error in: " + cannot_read,
        "Files damaged or missing: none named",
        "Files that could not be read:",
        cannot_read + "; expected 1,048,576 bytes, CRC-32 1A2B3C4D (edition Sample); or 5 bytes, CRC-32 00000005 "
                      "(edition Other)",
        "",
        "Install folder",
        "Path: C:\\Games\\Tarnok PC (of the last attempt; it does not exist)",
        "Free space: 1 MB of 2 MB",
        "",
        "Log: the last 8 of 8 lines of %TEMP%\\tarnok_setup.log, last written 2024-05-01 10:00 UTC",
    };
    ASSERT_GE(r.lines.size(), want.size() + 9);
    for (size_t i = 0; i < want.size(); i++)
        EXPECT_EQ(want[i], r.lines[i]) << i;
    EXPECT_EQ("a line from before the attempt", r.lines[want.size()]);
    EXPECT_EQ("end of report", r.lines.back());
    EXPECT_EQ(want.size() + 9, r.lines.size());
    EXPECT_EQ(std::string::npos, r.text.find("jsmith"));
}

// Without an attempt, or without a log, the report is short and says so.
TEST(DetailsWrite, NothingToReport)
{
    Report empty("");
    EXPECT_EQ("none: the log holds no install attempt", empty.after("Sources"));
    EXPECT_EQ("Result: no install attempt in the log", empty.after("Outcome"));
    EXPECT_EQ("Failure: none", empty.after("Result: no install attempt in the log"));
    EXPECT_TRUE(empty.has("Log: the last 0 of 0 lines of %TEMP%\\tarnok_setup.log, last written 2024-05-01 10:00 UTC"));
    EXPECT_EQ("end of report", empty.lines.back());
    EXPECT_LT(empty.text.size(), 1000u);

    Report refused(log_of({"ERROR: the path given with /dir is too long"}));
    EXPECT_TRUE(refused.has("Failure: ERROR: the path given with /dir is too long"));
    EXPECT_TRUE(refused.has("Result: no install attempt in the log"));
}

// The window asks while a question of the install is open.
TEST(DetailsWrite, AnOpenQuestion)
{
    Report r(log_of({"Install to C:\\T (prebuilt)", "Copying folder R:\\ ..."}), "",
             "Insert Tarnok disc 2 into drive R: and press OK.");
    EXPECT_EQ("Result: under way, asking a question", r.after("Mode: prebuilt"));
    EXPECT_EQ("Question: Insert Tarnok disc 2 into drive R: and press OK.",
              r.after("Result: under way, asking a question"));
    EXPECT_TRUE(r.has("CD 1 verdict: not judged: this setup knows no disc editions"));
}

// A log of long lines: the report keeps to 64 KiB with its newest lines,
// and ends as every report does.
TEST(DetailsWrite, AtMost64KiB)
{
    std::vector<std::string> lines = failed_from_drive;
    for (int i = 0; i < 300; i++)
        lines.push_back("line " + std::to_string(i) + " " + std::string(1000, 'x') + " C:\\Users\\jsmith\\x");
    Report r(log_of(lines));
    EXPECT_LE(r.text.size(), (size_t)DETAILS_MAX);
    EXPECT_GT(r.text.size(), (size_t)DETAILS_MAX - 1100) << "room left unused";
    EXPECT_EQ("end of report", r.lines.back());
    EXPECT_EQ(0u, r.lines[r.lines.size() - 2].find("line 299 ")) << "the newest line is shown";
    EXPECT_EQ(std::string::npos, r.text.find("jsmith"));
    size_t shown = 0;
    for (const std::string &l : r.lines)
        shown += l.compare(0, 5, "line ") == 0;
    char heading[200];
    snprintf(heading, sizeof heading, "Log: the last %zu of %zu lines of ", shown, lines.size());
    bool found = false;
    for (const std::string &l : r.lines)
        found = found || l.compare(0, strlen(heading), heading) == 0;
    EXPECT_TRUE(found) << heading;
    EXPECT_LT(shown, 200u);
}

// Any bytes as a log: the report is text, ends so, and keeps its size.
TEST(DetailsWrite, AnyBytes)
{
    std::string junk;
    for (int i = 0; i < 70000; i++)
        junk += (char)((i * 7919) & 0xFF);
    Report r(junk);
    EXPECT_LE(r.text.size(), (size_t)DETAILS_MAX);
    EXPECT_EQ(std::string::npos, r.text.find('\0'));
    EXPECT_EQ("end of report", r.lines.back());
    // A buffer too small for anything but a part of the first line.
    EditionTable none;
    memset(&none, 0, sizeof none);
    DetailsLog l;
    details_scan("", 0, &l);
    char small[10];
    EXPECT_LE(details_write(&r.f, "", 0, &l, small, sizeof small), sizeof small - 1);
    EXPECT_EQ(strlen(small), details_write(&r.f, "", 0, &l, small, sizeof small));
}
