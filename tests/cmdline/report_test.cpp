// The details of an install attempt as a player pastes them where they ask
// for help: setup.exe /report FILE after a failed unattended install, after
// none at all, about an install whose files were damaged since, and from a
// log too long to paste whole; and where the report cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "guisupport.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

typedef std::vector<std::string> Lines;

// The user this test runs as, whose name no report may hold.
std::string user_name()
{
    char name[256] = "";
    DWORD n = sizeof name;
    GetUserNameA(name, &n);
    return name;
}

std::string lower(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = (char)(c - 'A' + 'a');
    return s;
}

// 1 when the name stands in the text as a whole word, in any case.
bool holds_word(const std::string &text, const std::string &name)
{
    std::string t = lower(text), n = lower(name);
    for (size_t at = t.find(n); at != std::string::npos; at = t.find(n, at + 1)) {
        bool before = at > 0 && (isalnum((unsigned char)t[at - 1]) || (unsigned char)t[at - 1] >= 0x80);
        size_t end = at + n.size();
        bool after = end < t.size() && (isalnum((unsigned char)t[end]) || (unsigned char)t[end] >= 0x80);
        if (!before && !after)
            return true;
    }
    return false;
}

// What every report is: text of at most 64 KiB, the setup's name and
// version first, the sections in order, "end of report" last, no user name.
void expect_report_shape(const std::string &text)
{
    EXPECT_LE(text.size(), 65536u);
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ("\r\n", text.substr(text.size() - 2)) << "the last line has its end";
    Lines lines = report_lines(text);
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(std::regex_match(lines[0], std::regex("Tarnok: Vorblen - Pellurin Setup [0-9]+\\.[0-9]+\\.[0-9]+"
                                                      "( \\(build [0-9a-f]{12}\\+?\\))?")))
        << lines[0];
    EXPECT_EQ("end of report", lines.back());
    size_t last = 0;
    for (const char *section : {"System", "Sources", "Outcome", "Install folder"}) {
        auto at = std::find(lines.begin(), lines.end(), section);
        ASSERT_NE(lines.end(), at) << section;
        EXPECT_GT((size_t)(at - lines.begin()), last) << section << " out of order";
        last = (size_t)(at - lines.begin());
    }
    EXPECT_NE("", line_starting(lines, "Log: ")) << text;
    std::string user = user_name();
    ASSERT_FALSE(user.empty());
    EXPECT_EQ(std::string::npos, lower(text).find("users\\" + lower(user))) << text;
    EXPECT_FALSE(holds_word(text, user)) << "the user's name, " << user << ", is in the report:\n" << text;
}

// Wine's version as its ntdll tells it; "" on Windows.
std::string wine_version()
{
    typedef const char *(__cdecl * VersionFn)(void);
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    VersionFn v = ntdll ? (VersionFn)(void (*)(void))GetProcAddress(ntdll, "wine_get_version") : nullptr;
    return v ? v() : "";
}

std::string size_text(const std::string &path)
{
    char n[32];
    return fmt_count(slurp(path).size(), n, sizeof n);
}

std::string env(const char *name)
{
    char v[MAX_PATH] = "";
    GetEnvironmentVariableA(name, v, sizeof v);
    return v;
}

const char uninstall_key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\TarnokVBL_Pellurin";

} // namespace

// An unattended install with another release's update, kept in the
// player's Downloads folder, then /report: every field that someone who
// helps asks for first, the update's folder written as %USERPROFILE%.
TEST(Report, AFailedInstallInOnePaste)
{
    std::string base = scratch(), exe = stage_setup(base, "setup_game"), tmp = base + "\\tmp";
    std::string profile = env("USERPROFILE");
    ASSERT_FALSE(profile.empty());
    std::string downloads = profile + "\\Downloads\\report-test";
    delete_tree(downloads.c_str());
    make_dirs(downloads.c_str());
    std::string update = downloads + "\\TARNO103.EXE";
    ASSERT_TRUE(CopyFileA(media_path("update-badcrc\\TARNO103.EXE").c_str(), update.c_str(), FALSE));
    std::string dir = base + "\\Tarnok PC";
    Child c = start_setup(exe,
                          "/silent /nodesktop /nostartmenu /cd1 \"" + media_path("disc1.iso") + "\" /cd2 \"" +
                              media_path("disc2") + "\" /patch \"" + update + "\" /dir \"" + dir + "\"",
                          tmp);
    ASSERT_EQ(1, wait_exit(c, 120000));

    std::string text;
    ASSERT_EQ(0, run_report(exe, "", tmp, &text));
    delete_tree(downloads.c_str());
    expect_report_shape(text);
    Lines lines = report_lines(text);
    struct Field {
        const char *head;
        std::string line; // the whole line, or "" when only its start is known
    } fields[] = {
        {"Windows: ", ""},
        {"Wine: ", wine_version().empty() ? "Wine: none" : ""},
        {"UI language: ", ""},
        {"DPI: ", ""},
        {"CD 1: ", "CD 1: ISO image " + media_path("disc1.iso") + " (2,048-byte sectors)"},
        {"CD 1 verdict: ", "CD 1 verdict: not judged in this attempt"},
        {"CD 2: ", "CD 2: folder " + media_path("disc2")},
        {"Update: ", "Update: file %USERPROFILE%\\Downloads\\report-test\\TARNO103.EXE (" +
                         size_text(media_path("update-badcrc\\TARNO103.EXE")) + " bytes)"},
        {"Mode: ", "Mode: prebuilt"},
        {"Result: ", "Result: failed"},
        {"Failure: ", "Failure: ERROR: this is not the official 1.03US update (TARNOKP2.EXE does not match)"},
        {"Error code: ", "Error code: none"},
        {"Files damaged or missing", "Files damaged or missing: none named"},
        {"Path: ", "Path: " + dir + " (of the last attempt; it does not exist)"},
        {"Free space: ", ""},
        {"Log: ", "Log: the last 5 of 5 lines of %TEMP%\\tarnok_setup.log, last written "},
    };
    for (const Field &f : fields) {
        std::string got = line_starting(lines, f.head);
        EXPECT_NE("", got) << f.head << " is missing:\n" << text;
        if (!f.line.empty() && f.line.back() == ' ') {
            EXPECT_EQ(f.line, got.substr(0, f.line.size()));
        } else if (!f.line.empty()) {
            EXPECT_EQ(f.line, got);
        }
    }
    if (!wine_version().empty()) {
        EXPECT_EQ(0u, line_starting(lines, "Wine: ").find("Wine: " + wine_version() + " (on ")) << text;
    }
    // The log's lines follow, as the log has them, the folder written so.
    auto log = std::find(lines.begin(), lines.end(), line_starting(lines, "Log: "));
    ASSERT_EQ(7, lines.end() - log) << text;
    EXPECT_EQ("Install to " + dir + " (prebuilt)", log[1]);
    EXPECT_EQ("Update source: file %USERPROFILE%\\Downloads\\report-test\\TARNO103.EXE (" +
                  size_text(media_path("update-badcrc\\TARNO103.EXE")) + " bytes)",
              log[4]);
    EXPECT_EQ(std::string::npos, text.find(profile)) << "the profile's path";
    // The log is read, not begun afresh.
    EXPECT_EQ(5u, child_log(c).size());
}

// No attempt in the log (none at all here), and no install registered: a
// short report that says so.
TEST(Report, NoAttemptAndNoInstall)
{
    RegDeleteKeyA(HKEY_CURRENT_USER, uninstall_key);
    std::string base = scratch(), exe = stage_setup(base, "setup_game"), tmp = base + "\\tmp";
    make_dirs(tmp.c_str());
    std::string text;
    ASSERT_EQ(0, run_report(exe, "", tmp, &text));
    expect_report_shape(text);
    EXPECT_LT(text.size(), 2000u) << text;
    Lines lines = report_lines(text);
    auto after = [&](const std::string &line) {
        auto at = std::find(lines.begin(), lines.end(), line);
        return at != lines.end() && at + 1 != lines.end() ? at[1] : std::string();
    };
    EXPECT_EQ("none: the log holds no install attempt", after("Sources"));
    EXPECT_EQ("Result: no install attempt in the log", after("Outcome"));
    EXPECT_EQ("Path: none (none given, none in the log, and no Tarnok install is registered)",
              after("Install folder"));
    EXPECT_NE("", line_starting(lines, "Log: there is no log %TEMP%\\tarnok_setup.log")) << text;
    EXPECT_FALSE(file_exists(tmp + "\\tarnok_setup.log")) << "a report begins no log";

    // A folder given on a drive that is not there at all.
    DWORD drives = GetLogicalDrives();
    char letter = 'K';
    while (letter < 'Z' && (drives & (1u << (letter - 'A'))))
        letter++;
    std::string gone = std::string(1, letter) + ":\\Games\\Tarnok PC";
    ASSERT_EQ(0, run_report(exe, "/dir \"" + gone + "\"", tmp, &text));
    expect_report_shape(text);
    lines = report_lines(text);
    EXPECT_EQ("Path: " + gone + " (given; it does not exist)", line_starting(lines, "Path: "));
    EXPECT_EQ("Free space: unknown", line_starting(lines, "Free space: "));
    EXPECT_EQ("Registered: no", line_starting(lines, "Registered: "));
}

// An install, then a file of it deleted and one changed: /report /dir
// tells the list's state and what /verify says, naming both files with the
// sizes and CRC-32s listed and found.
TEST(Report, AnInstallAsVerifySeesIt)
{
    std::string base = scratch(), exe = stage_setup(base, "setup_game"), tmp = base + "\\tmp";
    std::string dir = base + "\\Tarnok PC";
    Child c = start_setup(exe,
                          "/silent /nodesktop /nostartmenu /cd1 \"" + media_path("disc1.iso") + "\" /cd2 \"" +
                              media_path("disc2") + "\" /patch \"" + media_path("TARNO103.EXE") + "\" /dir \"" + dir +
                              "\"",
                          tmp);
    ASSERT_EQ(0, wait_exit(c, 120000));
    const std::string gone = "game\\hd\\TARNOK\\GRAPH\\INSTALL.CR", hurt = "game\\cd1\\TARNOK\\DISK1\\DATA\\BLOCK100.DAT";
    std::string was = slurp(dir + "\\" + gone), data = slurp(dir + "\\" + hurt), good = data;
    ASSERT_TRUE(DeleteFileA((dir + "\\" + gone).c_str()));
    data[5000] ^= 1;
    spit(dir + "\\" + hurt, data);

    std::string text;
    ASSERT_EQ(0, run_report(exe, "/dir \"" + dir + "\"", tmp, &text));
    expect_report_shape(text);
    Lines lines = report_lines(text);
    char crc_was[16], crc_good[16], crc_now[16], n[32];
    snprintf(crc_was, sizeof crc_was, "%08X", (unsigned)crc32_buf(was.data(), was.size()));
    snprintf(crc_good, sizeof crc_good, "%08X", (unsigned)crc32_buf(good.data(), good.size()));
    snprintf(crc_now, sizeof crc_now, "%08X", (unsigned)crc32_buf(data.data(), data.size()));
    size_t files = 0;
    for (const std::string &e : list_tree(dir))
        files += e.back() != '\\';
    // Listed are all but the list itself and, by now, the file deleted; the
    // sound settings are not compared.
    std::string whole = std::to_string(files - 1 - 1 - 1);
    Lines want = {
        "Result: installed",
        "CD 1 verdict: edition Sample, 162 files as known",
        "CD 2 verdict: edition Sample, 11 files as known",
        "Path: " + dir + " (given)",
        "Registered: yes, as the installed game",
        "File list: complete",
        "Check: " + whole + " files whole, 1 missing, 1 changed, 0 unreadable, 1 not compared (the game changes them)",
        "changed: " + hurt + " (" + fmt_count(good.size(), n, sizeof n) + " bytes, CRC-32 " + crc_now +
            "; expected " + n + " bytes, CRC-32 " + crc_good + ")",
        "missing: " + gone + " (expected " + fmt_count(was.size(), n, sizeof n) + " bytes, CRC-32 " + crc_was + ")",
    };
    for (const std::string &w : want)
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), w)) << w << "\n" << text;
    RegDeleteKeyA(HKEY_CURRENT_USER, uninstall_key);
}

// A log far too long to paste whole, as a conversion leaves: the report
// keeps to 64 KiB with the log's newest lines, and ends as every report.
TEST(Report, ALongLogKeepsItUnder64KiB)
{
    std::string base = scratch(), exe = stage_setup(base, "setup_game"), tmp = base + "\\tmp";
    make_dirs(tmp.c_str());
    std::string profile = env("USERPROFILE"), log = "Install to " + profile + "\\Games\\Tarnok (convert on this PC)\r\n";
    for (int i = 0; i < 600; i++)
        log += "compile failed: gcc -c " + profile + "\\Games\\Tarnok\\build\\gen\\f" + std::to_string(i) + ".c " +
               std::string(700, 'x') + "\r\n";
    log += "ERROR: compiling the converted game failed\r\n";
    spit(tmp + "\\tarnok_setup.log", log);
    std::string text;
    ASSERT_EQ(0, run_report(exe, "", tmp, &text));
    expect_report_shape(text);
    EXPECT_GT(text.size(), 60000u);
    Lines lines = report_lines(text);
    EXPECT_EQ("ERROR: compiling the converted game failed", lines[lines.size() - 2]);
    EXPECT_EQ("Failure: ERROR: compiling the converted game failed", line_starting(lines, "Failure: "));
    EXPECT_EQ("Path: %USERPROFILE%\\Games\\Tarnok (of the last attempt; it does not exist)",
              line_starting(lines, "Path: "));
    std::smatch m;
    std::string heading = line_starting(lines, "Log: ");
    ASSERT_TRUE(std::regex_search(heading, m, std::regex("^Log: the last ([0-9]+) of 602 lines of ")));
    int shown = std::stoi(m[1]);
    EXPECT_GT(shown, 40);
    EXPECT_LT(shown, 200);
}

// Where the report cannot be written nothing is made, and the exit code
// says so; a report of that name is replaced whole.
TEST(Report, WhereItCannotBeWritten)
{
    std::string base = scratch(), exe = stage_setup(base, "setup_game"), tmp = base + "\\tmp";
    make_dirs(tmp.c_str());
    make_dirs((base + "\\a folder").c_str());
    struct Case {
        const char *what;
        std::string args;
        int code;
        std::string made; // the file that is there afterwards, or ""
    } cases[] = {
        {"no file named", "/report", 1, ""},
        {"a folder", "/report \"" + base + "\\a folder\"", 1, ""},
        {"in a folder that does not exist", "/report \"" + base + "\\none\\details.txt\"", 1, ""},
        {"over an earlier report", "/report \"" + base + "\\details.txt\"", 0, base + "\\details.txt"},
    };
    spit(base + "\\details.txt", "an earlier report");
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        Child c = start_setup_in(exe, k.args, tmp);
        EXPECT_EQ(k.code, wait_exit(c, 60000));
        end_child(c);
        if (!k.made.empty()) {
            std::string text = slurp(k.made);
            EXPECT_EQ(0u, text.find("Tarnok: Vorblen - Pellurin Setup ")) << text;
            expect_report_shape(text);
        }
    }
    EXPECT_FALSE(dir_exists(base + "\\none"));
    EXPECT_EQ((std::vector<std::string>{"a folder", "details.txt", "setup.exe", "tmp"}), list_dir(base));
    EXPECT_TRUE(list_dir(tmp).empty()) << "no log was begun";
}
