// The file list as text: lists written by hand, fed to the pure parser,
// and the path rule every listed path must pass.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "filelist/filelist.h"
#include "util/util.h"

namespace {

const std::string H = "tarnok-file-list 1\r\n";
const std::string DONE = "complete\r\n";

std::string line(const std::string &path, const std::string &size = "9", const std::string &crc = "CBF43926",
                 const std::string &source = "cd1:TARNOK\\X.DAT", const std::string &kind = "fixed")
{
    return path + "\t" + size + "\t" + crc + "\t" + source + "\t" + kind + "\r\n";
}

struct Parsed {
    int ok;
    int complete;
    size_t whole;
    std::vector<ListEntry> entries;
    std::string reason;
};

Parsed parse(const std::string &text)
{
    FileList l;
    char reason[200];
    Parsed p;
    p.ok = list_parse((const unsigned char *)text.data(), text.size(), &l, reason, sizeof reason);
    p.complete = l.complete;
    p.whole = l.whole;
    p.entries.assign(l.entries, l.entries + l.count);
    p.reason = reason;
    list_free(&l);
    return p;
}

std::vector<std::string> paths(const Parsed &p)
{
    std::vector<std::string> out;
    for (const ListEntry &e : p.entries)
        out.push_back(e.path);
    return out;
}

} // namespace

TEST(ListParse, WholeLinesCutLinesAndCompletion)
{
    const std::string a = line("game\\A.DAT"), b = line("game\\B.DAT");
    struct Case {
        const char *what;
        std::string text;
        std::vector<std::string> paths;
        int complete;
        size_t whole;
    } cases[] = {
        {"an empty file, just made", "", {}, 0, 0},
        {"its first line cut short", "tarnok-file-l", {}, 0, 0},
        {"its first line without LF", "tarnok-file-list 1\r", {}, 0, 0},
        {"the first line only", H, {}, 0, H.size()},
        {"nothing but complete", H + DONE, {}, 1, (H + DONE).size()},
        {"a whole install", H + a + b + DONE, {"game\\A.DAT", "game\\B.DAT"}, 1, (H + a + b + DONE).size()},
        {"a line after complete", H + a + DONE + b, {"game\\A.DAT", "game\\B.DAT"}, 0, (H + a + DONE + b).size()},
        {"a last line cut short", H + a + b.substr(0, 12), {"game\\A.DAT"}, 0, (H + a).size()},
        {"cut between CR and LF", H + a + b.substr(0, b.size() - 1), {"game\\A.DAT"}, 0, (H + a).size()},
        {"cut after complete", H + a + DONE + b.substr(0, 5), {"game\\A.DAT"}, 1, (H + a + DONE).size()},
        {"complete cut short", H + a + "compl", {"game\\A.DAT"}, 0, (H + a).size()},
    };
    for (const Case &c : cases) {
        Parsed p = parse(c.text);
        EXPECT_EQ(1, p.ok) << c.what << ": " << p.reason;
        EXPECT_EQ(c.paths, paths(p)) << c.what;
        EXPECT_EQ(c.complete, p.complete) << c.what;
        EXPECT_EQ(c.whole, p.whole) << c.what;
    }
}

TEST(ListParse, ALaterLineReplacesAnEarlierOneInItsPlace)
{
    Parsed p = parse(H + line("game\\hd\\TARNOK\\A.DAT", "1", "00000001") + line("game\\B.DAT") +
                     line("GAME\\HD\\tarnok\\a.dat", "2", "0000000a", "update:A.DAT", "changing") + DONE);
    ASSERT_EQ(1, p.ok) << p.reason;
    ASSERT_EQ(2u, p.entries.size());
    EXPECT_STREQ("GAME\\HD\\tarnok\\a.dat", p.entries[0].path);
    EXPECT_EQ(2u, p.entries[0].size);
    EXPECT_EQ(0xAu, p.entries[0].crc);
    EXPECT_STREQ("update:A.DAT", p.entries[0].source);
    EXPECT_EQ(LIST_CHANGING, p.entries[0].kind);
    EXPECT_STREQ("game\\B.DAT", p.entries[1].path);
    EXPECT_EQ(1, p.complete);
}

TEST(ListParse, FieldsAsWritten)
{
    Parsed p = parse(H + line("a b\\Spiel\xC3\xA4.dat", "18446744073709551615", "abcdef01", "install.cr: A B", "fixed") +
                     line("z", "0", "00000000", "default", "changing"));
    ASSERT_EQ(1, p.ok) << p.reason;
    ASSERT_EQ(2u, p.entries.size());
    EXPECT_STREQ("a b\\Spiel\xC3\xA4.dat", p.entries[0].path);
    EXPECT_EQ(UINT64_MAX, p.entries[0].size);
    EXPECT_EQ(0xABCDEF01u, p.entries[0].crc);
    EXPECT_STREQ("install.cr: A B", p.entries[0].source);
    EXPECT_EQ(LIST_FIXED, p.entries[0].kind);
    EXPECT_EQ(0u, p.entries[1].size);
    EXPECT_EQ(LIST_CHANGING, p.entries[1].kind);
}

TEST(ListParse, DamagedListsSayWhere)
{
    const std::string a = line("game\\A.DAT");
    struct Case {
        std::string text;
        const char *reason;
    } cases[] = {
        {"hello\r\n", "not a Tarnok file list"},
        {"\xEF\xBB\xBF" + H, "not a Tarnok file list"},
        {"tarnok-file-list 1\n" + a, "not a Tarnok file list"},
        {"TARNOK-FILE-LIST 1\r\n", "not a Tarnok file list"},
        {"tarnok-file-list 2\r\n" + a, "a file list of another version"},
        {"tarnok-file-list 10\r\n", "a file list of another version"},
        {H + a + "game\\B.DAT\t9\tCBF43926\tcd1:X\tfixed\n", "line 3: the line does not end in CR LF"},
        {H + "\r\n" + a, "line 2: not five fields"},
        {H + a + "\n", "line 3: the line does not end in CR LF"},
        {H + "complete \r\n", "line 2: not five fields"},
        {H + "game\\A.DAT\t9\tCBF43926\tcd1:X\r\n", "line 2: not five fields"},
        {H + "game\\A.DAT\t9\tCBF43926\tcd1:X\tfixed\tmore\r\n", "line 2: not five fields"},
        {H + "game\\A.DAT 9 CBF43926 cd1:X fixed\r\n", "line 2: not five fields"},
        {H + line("game\\A.DAT", ""), "line 2: the size is not a number"},
        {H + line("game\\A.DAT", "012"), "line 2: the size is not a number"},
        {H + line("game\\A.DAT", "+12"), "line 2: the size is not a number"},
        {H + line("game\\A.DAT", "-1"), "line 2: the size is not a number"},
        {H + line("game\\A.DAT", "1 "), "line 2: the size is not a number"},
        {H + line("game\\A.DAT", "0x10"), "line 2: the size is not a number"},
        {H + line("game\\A.DAT", "18446744073709551616"), "line 2: the size is not a number"},
        {H + line("game\\A.DAT", "99999999999999999999"), "line 2: the size is not a number"},
        {H + line("game\\A.DAT", "9", "CBF4392"), "line 2: the CRC-32 is not 8 hex digits"},
        {H + line("game\\A.DAT", "9", "CBF439260"), "line 2: the CRC-32 is not 8 hex digits"},
        {H + line("game\\A.DAT", "9", "CBF4392G"), "line 2: the CRC-32 is not 8 hex digits"},
        {H + line("game\\A.DAT", "9", " BF43926"), "line 2: the CRC-32 is not 8 hex digits"},
        {H + line("game\\A.DAT", "9", "CBF43926", ""), "line 2: the source is empty"},
        {H + line("game\\A.DAT", "9", "CBF43926", "cd1:A\x7F"), "line 2: the source is empty"},
        {H + line("game\\A.DAT", "9", "CBF43926", std::string("cd1:A\0B", 7)), "line 2: the source is empty"},
        {H + line("game\\A.DAT", "9", "CBF43926", std::string(260, 's')), "line 2: the source is empty"},
        {H + line("game\\A.DAT", "9", "CBF43926", "cd1:X", "Fixed"), "line 2: the kind is neither"},
        {H + line("game\\A.DAT", "9", "CBF43926", "cd1:X", ""), "line 2: the kind is neither"},
        {H + line("..\\evil.exe"), "line 2: the path is not a safe path"},
        {H + line(std::string("game\\A\0.DAT", 11)), "line 2: the path is not a safe path"},
        {H + a + DONE + line("C:\\evil.exe"), "line 4: the path is not a safe path"},
        {H + a + std::string(LIST_LINE_MAX, 'x'), "line 3: the line is too long"},
    };
    for (const Case &c : cases) {
        Parsed p = parse(c.text);
        EXPECT_EQ(0, p.ok) << c.reason;
        EXPECT_EQ(0u, p.entries.size()) << c.reason;
        EXPECT_EQ(0, p.reason.compare(0, strlen(c.reason), c.reason)) << p.reason;
    }
}

TEST(ListParse, UnsafePathsAreRefused)
{
    const std::string long_step(259, 'x');
    const char *unsafe[] = {
        "\\game\\x", "\\\\server\\share\\x", "\\\\?\\C:\\x", "\\\\.\\NUL", "game\\\\x", "game\\x\\",
        "C:\\x", "C:x", "c:", "game\\x:stream", "x::$DATA", "game/x", "/x", "..", "..\\x",
        "game\\..\\..\\x", ".\\x", "game\\.", "game\\.\\x", "...", "NUL", "nul.txt", "game\\COM1.DAT",
        "game\\con", "game\\AUX .txt", "LPT9", "CONIN$", "game\\x.", "game\\x ", "game\\a*b",
        "game\\a?b", "game\\a\"b", "game\\a<b", "game\\a>b", "game\\a|b", "game\\a\tb", "a\x01", "a\x1F",
        "a\x7F", "a\r\nb",
    };
    for (const char *path : unsafe) {
        EXPECT_EQ(0, list_path_safe(path)) << path;
        Parsed p = parse(H + line(path));
        EXPECT_EQ(0, p.ok) << path;
    }
    EXPECT_EQ(0, list_path_safe(""));
    EXPECT_EQ(0, list_path_safe((long_step + "y").c_str())) << "260 bytes";
    const char *safe[] = {"tarnok.exe", "game\\cd1\\TARNOK\\DISK1\\X.DAT", "game\\hd\\TARNOK.CFG", "...a",
                          "a b\\c d", ".hidden", "x.y.z", "COM", "LPT10", "NULL.DAT", "Spiel\xC3\xA4.dat"};
    for (const char *path : safe) {
        EXPECT_EQ(1, list_path_safe(path)) << path;
        Parsed p = parse(H + line(path));
        EXPECT_EQ(1, p.ok) << path << ": " << p.reason;
    }
    EXPECT_EQ(1, list_path_safe(long_step.c_str())) << "259 bytes";
    // The longest path joined to the longest folder still fits a path buffer.
    char joined[520];
    EXPECT_EQ(1, fmt_path(joined, sizeof joined, "%s\\%s", std::string(259, 'd').c_str(), long_step.c_str()));
}

TEST(ListParse, AtMostAHundredThousandPaths)
{
    std::string text = H;
    for (int i = 0; i < LIST_ENTRIES_MAX; i++)
        text += line("f" + std::to_string(i));
    // Lines for paths already there replace them and take no room.
    for (int i = 0; i < 1000; i++)
        text += line("F0", std::to_string(i));
    Parsed p = parse(text);
    ASSERT_EQ(1, p.ok) << p.reason;
    EXPECT_EQ((size_t)LIST_ENTRIES_MAX, p.entries.size());
    EXPECT_EQ(999u, p.entries[0].size);

    p = parse(text + line("one-more"));
    EXPECT_EQ(0, p.ok);
    EXPECT_NE(std::string::npos, p.reason.find("more than 100000 files")) << p.reason;
}

TEST(ListFormat, LinesReadBackAsWritten)
{
    ListEntry e = {};
    snprintf(e.path, sizeof e.path, "%s", "game\\hd\\TARNOK.CFG");
    snprintf(e.source, sizeof e.source, "%s", "default");
    e.size = 272;
    e.crc = 0x7C30965E;
    e.kind = LIST_CHANGING;
    char out[LIST_LINE_MAX + 1];
    int n = list_format_entry(out, sizeof out, &e);
    EXPECT_EQ("game\\hd\\TARNOK.CFG\t272\t7C30965E\tdefault\tchanging\r\n", std::string(out, (size_t)n));

    // The longest fields make the longest line, and it fits.
    memset(e.path, 'p', LIST_PATH_MAX - 1);
    e.path[LIST_PATH_MAX - 1] = 0;
    memset(e.source, 's', LIST_SOURCE_MAX - 1);
    e.source[LIST_SOURCE_MAX - 1] = 0;
    e.size = UINT64_MAX;
    n = list_format_entry(out, sizeof out, &e);
    EXPECT_EQ(LIST_LINE_MAX, n);
    Parsed p = parse(H + std::string(out, (size_t)n));
    ASSERT_EQ(1, p.ok) << p.reason;
    const ListEntry &r = p.entries[0];
    EXPECT_TRUE(!strcmp(e.path, r.path) && !strcmp(e.source, r.source) && e.size == r.size && e.crc == r.crc &&
                e.kind == r.kind);
}

TEST(ListFormat, RefusesWhatTheListCannotHold)
{
    ListEntry good = {};
    snprintf(good.path, sizeof good.path, "%s", "tarnok.exe");
    snprintf(good.source, sizeof good.source, "%s", "setup");
    char out[LIST_LINE_MAX + 1];
    ASSERT_NE(0, list_format_entry(out, sizeof out, &good));
    struct Case {
        const char *what;
        const char *path;
        const char *source;
        int kind;
        size_t size;
    } cases[] = {
        {"an unsafe path", "..\\tarnok.exe", "setup", LIST_FIXED, sizeof out},
        {"an empty source", "tarnok.exe", "", LIST_FIXED, sizeof out},
        {"a tab in the source", "tarnok.exe", "cd1:A\tB", LIST_FIXED, sizeof out},
        {"a line end in the source", "tarnok.exe", "cd1:A\r\nB", LIST_FIXED, sizeof out},
        {"an unknown kind", "tarnok.exe", "setup", LIST_PARTIAL + 1, sizeof out},
        {"a buffer too small", "tarnok.exe", "setup", LIST_FIXED, sizeof out - 1},
    };
    for (const Case &c : cases) {
        ListEntry e = good;
        snprintf(e.path, sizeof e.path, "%s", c.path);
        snprintf(e.source, sizeof e.source, "%s", c.source);
        e.kind = c.kind;
        memset(out, 'x', sizeof out);
        EXPECT_EQ(0, list_format_entry(out, c.size, &e)) << c.what;
        EXPECT_EQ(0, out[0]) << c.what;
    }
}

// Each source as the install writes it, and read back as what it is, with
// the path inside it.
TEST(ListSource, WrittenAndReadBack)
{
    struct Case {
        int from;
        const char *path, *field, *inside;
    } cases[] = {
        {LIST_FROM_CD1, "TARNOK\\DISK1\\X.DAT", "cd1:TARNOK\\DISK1\\X.DAT", "TARNOK\\DISK1\\X.DAT"},
        {LIST_FROM_CD2, "TARNOK\\DISK2\\DISK2", "cd2:TARNOK\\DISK2\\DISK2", "TARNOK\\DISK2\\DISK2"},
        {LIST_FROM_UPDATE, "TARNOKP2.EXE", "update:TARNOKP2.EXE", "TARNOKP2.EXE"},
        {LIST_FROM_INSTALL_CR, "PAL.DAT", "install.cr:PAL.DAT", "PAL.DAT"},
        {LIST_FROM_SETUP, nullptr, "setup", ""},
        {LIST_FROM_BUILD, "ignored", "build", ""},
        {LIST_FROM_DEFAULT, nullptr, "default", ""},
    };
    for (const Case &c : cases) {
        char out[LIST_SOURCE_MAX];
        const char *inside = nullptr;
        ASSERT_EQ(1, list_source(out, sizeof out, c.from, c.path)) << c.field;
        EXPECT_STREQ(c.field, out);
        EXPECT_EQ(c.from, list_source_from(out, &inside)) << c.field;
        EXPECT_STREQ(c.inside, inside) << c.field;
    }
}

// A source the install never writes is read as no source of its: a word
// with more after it, another case of a word, a prefix cut short. A disc's
// prefix alone is read in either case.
TEST(ListSource, OtherFieldsAreNoneOfOurs)
{
    struct Case {
        const char *field;
        int from;
    } cases[] = {
        {"CD1:TARNOK\\X.DAT", LIST_FROM_CD1}, {"cD2:X", LIST_FROM_CD2},   {"cd3:X", LIST_FROM_OTHER},
        {"cd1", LIST_FROM_OTHER},            {"setup2", LIST_FROM_OTHER}, {"Setup", LIST_FROM_OTHER},
        {"build:x", LIST_FROM_OTHER},        {"UPDATE:X", LIST_FROM_OTHER}, {"install.cr", LIST_FROM_OTHER},
        {"", LIST_FROM_OTHER},               {"default ", LIST_FROM_OTHER},
    };
    for (const Case &c : cases) {
        const char *inside = nullptr;
        EXPECT_EQ(c.from, list_source_from(c.field, &inside)) << c.field;
        EXPECT_EQ(c.from == LIST_FROM_OTHER ? c.field : c.field + 4, inside) << c.field;
    }
    // A source is written whole or not at all.
    char small[8];
    EXPECT_EQ(0, list_source(small, sizeof small, LIST_FROM_CD1, "TARNOK\\X.DAT"));
    EXPECT_STREQ("", small);
    EXPECT_EQ(0, list_source(small, sizeof small, LIST_FROM_OTHER, "x"));
    EXPECT_STREQ("", small);
    EXPECT_EQ(0, list_source(small, sizeof small, 99, "x"));
}
