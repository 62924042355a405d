// The table of known disc editions: its lines as a person or the table tool
// writes them, the verdict on copied discs, the sample discs judged against
// the table that tools/disc-table.py made of them, and setup.exe carrying
// that table.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cdsrc/cdsrc.h"
#include "editions/editions.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

// A table parsed, freed at the end of the scope.
struct Table {
    EditionTable t;
    explicit Table(const std::string &text) { EXPECT_EQ(1, edition_table_parse(text.data(), text.size(), &t)); }
    ~Table() { edition_table_free(&t); }
};

std::string line(const std::string &edition, int disc, uint64_t size, uint32_t crc, const std::string &path)
{
    char head[64];
    snprintf(head, sizeof head, "\t%d\t%llu\t%08X\t", disc, (unsigned long long)size, crc);
    return edition + head + path + "\n";
}

// A disc's files as the copy saw them, with the paths kept alive.
struct Disc {
    std::vector<std::string> paths;
    std::vector<EditionSeen> files;
    void add(const std::string &path, uint64_t size, uint32_t crc, uint64_t zeros = 0)
    {
        paths.push_back(path);
        files.push_back({nullptr, size, crc, zeros});
    }
    const EditionSeen *seen()
    {
        for (size_t i = 0; i < files.size(); i++)
            files[i].path = paths[i].c_str();
        return files.data();
    }
    EditionVerdict judge(const EditionTable *t, int disc, int prefer = -1)
    {
        EditionVerdict v;
        EXPECT_EQ(1, edition_judge(t, disc, seen(), (int)files.size(), prefer, &v));
        return v;
    }
};

} // namespace

// Each line alone after a good one: whether it is taken, and what of it.
TEST(Editions, Lines)
{
    const std::string good = line("Retail", 1, 15, 0x78BEE7A5, "TARNOK\\DISK1\\DISK1");
    std::string path255(255, 'A'), path256(256, 'A');
    for (size_t i = 8; i < 255; i += 9)
        path255[i] = path256[i] = '\\';
    struct Case {
        const char *what;
        std::string text;
        int taken; // lines taken after the good one
    } cases[] = {
        {"a file", "Retail\t2\t0\t00000000\tEMPTY.DAT\n", 1},
        {"CR LF and lower-case hex", "Retail\t2\t7\tdeadbeef\tA.DAT\r\n", 1},
        {"no line end at the end", "Retail\t2\t7\tDEADBEEF\tA.DAT", 1},
        {"blanks in a path and a name", "Retail CD\t2\t7\tDEADBEEF\tREAD ME.TXT\n", 1},
        {"255 bytes of path", line("Retail", 2, 1, 1, path255), 1},
        {"63 bytes of name", line(std::string(63, 'N'), 2, 1, 1, "A"), 1},
        {"a comment", "# Retail\t2\t7\tDEADBEEF\tA.DAT\n", 0},
        {"blank lines", "\n\r\n", 0},
        {"the same path on disc 2", line("Retail", 2, 15, 0x78BEE7A5, "TARNOK\\DISK1\\DISK1"), 1},
        {"the same path in another edition", line("Budget", 1, 15, 0x78BEE7A5, "TARNOK\\DISK1\\DISK1"), 1},
        {"the same path again, in other case", line("Retail", 1, 15, 0x78BEE7A5, "tarnok\\disk1\\disk1"), -1},
        {"four fields", "Retail\t1\t7\tA.DAT\n", -1},
        {"six fields", "Retail\t1\t7\tDEADBEEF\tA.DAT\tx\n", -1},
        {"disc 3", "Retail\t3\t7\tDEADBEEF\tA.DAT\n", -1},
        {"disc 01", "Retail\t01\t7\tDEADBEEF\tA.DAT\n", -1},
        {"a size with a sign", "Retail\t1\t+7\tDEADBEEF\tA.DAT\n", -1},
        {"no size", "Retail\t1\t\tDEADBEEF\tA.DAT\n", -1},
        {"16 digits of size", "Retail\t1\t1234567890123456\tDEADBEEF\tA.DAT\n", -1},
        {"7 hex digits", "Retail\t1\t7\tDEADBEE\tA.DAT\n", -1},
        {"9 hex digits", "Retail\t1\t7\tDEADBEEF0\tA.DAT\n", -1},
        {"no hex digit", "Retail\t1\t7\tDEADBEEG\tA.DAT\n", -1},
        {"a leading separator", "Retail\t1\t7\tDEADBEEF\t\\A.DAT\n", -1},
        {"an empty step", "Retail\t1\t7\tDEADBEEF\tA\\\\B.DAT\n", -1},
        {"a final separator", "Retail\t1\t7\tDEADBEEF\tA\\\n", -1},
        {"a . step", "Retail\t1\t7\tDEADBEEF\tA\\.\\B.DAT\n", -1},
        {"a .. step", "Retail\t1\t7\tDEADBEEF\t..\\B.DAT\n", -1},
        {"a slash", "Retail\t1\t7\tDEADBEEF\tA/B.DAT\n", -1},
        {"a drive", "Retail\t1\t7\tDEADBEEF\tC:\\B.DAT\n", -1},
        {"a control character", "Retail\t1\t7\tDEADBEEF\tA\x01.DAT\n", -1},
        {"no path", "Retail\t1\t7\tDEADBEEF\t\n", -1},
        {"256 bytes of path", line("Retail", 2, 1, 1, path256), -1},
        {"64 bytes of name", line(std::string(64, 'N'), 2, 1, 1, "A"), -1},
        {"no name", line("", 2, 1, 1, "A"), -1},
        {"a name with a control character", line("Re\x7Ftail", 2, 1, 1, "A"), -1},
        {"a NUL in a path", std::string("Retail\t1\t7\tDEADBEEF\tA\0B\n", 24), -1},
    };
    for (const Case &c : cases) {
        std::string before = "# editions\n" + good + c.text + (c.text.back() == '\n' ? "" : "\n");
        Table t(before + good);
        int taken = c.taken > 0 ? c.taken : 0;
        EXPECT_EQ(1 + taken, t.t.file_count) << c.what;
        // The good line comes again at the end: that repeat is bad too.
        int repeat = 1 + (int)std::count(before.begin(), before.end(), '\n');
        EXPECT_EQ(1 + (c.taken < 0), t.t.bad_lines) << c.what;
        EXPECT_EQ(c.taken < 0 ? 3 : repeat, t.t.first_bad_line) << c.what;
    }
    Table t("\xEF\xBB\xBF" + good);
    ASSERT_EQ(1, t.t.file_count);
    ASSERT_EQ(1, t.t.name_count);
    const EditionFile &f = t.t.files[0];
    EXPECT_STREQ("Retail", t.t.names[f.edition].name);
    EXPECT_EQ(1, f.disc);
    EXPECT_EQ(15u, f.size);
    EXPECT_EQ(0x78BEE7A5u, f.crc);
    EXPECT_STREQ("TARNOK\\DISK1\\DISK1", f.path);
    Table empty("");
    EXPECT_EQ(0, empty.t.file_count);
    EXPECT_EQ(0, empty.t.bad_lines);
}

TEST(Editions, AtMost64Editions)
{
    std::string text;
    for (int i = 0; i < 65; i++)
        text += line("E" + std::to_string(i), 1, 1, 1, "A");
    Table t(text);
    EXPECT_EQ(64, t.t.name_count);
    EXPECT_EQ(64, t.t.file_count);
    EXPECT_EQ(1, t.t.bad_lines);
    EXPECT_EQ(65, t.t.first_bad_line);
}

namespace {

// Retail: 30 files F00..F29 on disc 1, X and Y on disc 2. Plus: Retail's
// disc 1 and one file more. Budget: Retail's disc 2 unchanged, another
// disc 1. Other: only a disc 2 of its own.
std::string editions_text()
{
    std::string text;
    for (int i = 0; i < 30; i++) {
        char name[32];
        snprintf(name, sizeof name, "DATA\\F%02d.DAT", i);
        text += line("Retail", 1, 1000 + i, 0x1000 + i, name);
        text += line("Plus", 1, 1000 + i, 0x1000 + i, name);
        text += line("Budget", 1, 1000 + i, 0x2000 + i, name);
    }
    text += line("Plus", 1, 5, 0x5, "DATA\\PLUS.DAT");
    for (const char *e : {"Retail", "Plus", "Budget"}) {
        text += line(e, 2, 10, 0xA, "X.DAT");
        text += line(e, 2, 20, 0xB, "Y.DAT");
    }
    text += line("Other", 2, 10, 0xA, "X.DAT");
    text += line("Other", 2, 21, 0xC, "Z.DAT");
    return text;
}

int edition_of(const EditionTable *t, const char *name)
{
    for (int i = 0; i < t->name_count; i++) {
        if (strcmp(t->names[i].name, name) == 0)
            return i;
    }
    return -1;
}

// Retail's disc 1, files 0 to 29 but those skipped, with the changes made:
// cut short, changed with a sector of zeros (as a ripper writes what it
// could not read), and changed, read without a sign of damage.
Disc retail_disc1(int missing = 0, int short_ones = 0, int changed = 0, int zeroed = 0)
{
    Disc d;
    for (int i = 0; i < 30; i++) {
        char name[32];
        snprintf(name, sizeof name, "DATA\\F%02d.DAT", i);
        if (i < missing)
            continue;
        if (i < missing + short_ones)
            d.add(name, 999 + i, 0x1000 + i);
        else if (i < missing + short_ones + zeroed)
            d.add(name, 1000 + i, 0x8888, 1);
        else if (i < missing + short_ones + zeroed + changed)
            d.add(name, 1000 + i, 0x9999);
        else
            d.add(name, 1000 + i, 0x1000 + i);
    }
    return d;
}

} // namespace

TEST(Editions, Verdicts)
{
    Table table(editions_text());
    const EditionTable *t = &table.t;
    ASSERT_EQ(0, t->bad_lines);
    int retail = edition_of(t, "Retail"), plus = edition_of(t, "Plus");
    Disc plus_disc = retail_disc1();
    plus_disc.add("DATA\\PLUS.DAT", 5, 0x5);
    Disc lower = retail_disc1();
    for (std::string &p : lower.paths)
        p = "data/f" + p.substr(6);
    Disc extra = retail_disc1();
    extra.add("DESKTOP.INI", 80, 0x77);
    Disc mostly_others = retail_disc1(0, 0, 26);
    for (int i = 0; i < 5; i++)
        mostly_others.add("OTHER\\G" + std::to_string(i) + ".DAT", 7, 0x7);
    struct Case {
        const char *what;
        Disc disc;
        int kind, edition, matched, problems, differs, extras;
    } cases[] = {
        {"every file of Retail", retail_disc1(), EDITION_KNOWN, retail, 30, 0, 0, 0},
        {"every file of Plus, which has Retail's", plus_disc, EDITION_KNOWN, plus, 31, 0, 0, 0},
        {"paths in other case and with '/'", lower, EDITION_KNOWN, retail, 30, 0, 0, 0},
        {"a file that no edition has", extra, EDITION_KNOWN, retail, 30, 0, 0, 1},
        {"one file missing", retail_disc1(1), EDITION_DAMAGED, retail, 29, 1, 0, 0},
        {"two short, three changed", retail_disc1(0, 2, 3), EDITION_DAMAGED, retail, 25, 2, 3, 0},
        {"one with a sector of zeros", retail_disc1(0, 0, 0, 1), EDITION_DAMAGED, retail, 29, 1, 0, 0},
        {"three changed, read right: a pressing", retail_disc1(0, 0, 3), EDITION_PRESSING, retail, 27, 0, 3, 0},
        {"14 missing: 16 of 30 there", retail_disc1(14), EDITION_DAMAGED, retail, 16, 14, 0, 0},
        // A folder the drive did not list: the files there decide.
        {"25 missing: what is there all as Retail's", retail_disc1(25), EDITION_DAMAGED, retail, 5, 25, 0, 0},
        {"15 changed: as many as agree", retail_disc1(0, 0, 15), EDITION_UNKNOWN, -1, 0, 0, 0, 0},
        {"26 changed, 5 others: most not Retail's", mostly_others, EDITION_UNKNOWN, -1, 0, 0, 0, 0},
        {"nothing", Disc(), EDITION_UNKNOWN, -1, 0, 0, 0, 0},
    };
    for (Case &c : cases) {
        EditionVerdict v = c.disc.judge(t, 1);
        EXPECT_EQ(c.kind, v.kind) << c.what;
        EXPECT_EQ(c.edition, v.edition) << c.what;
        EXPECT_EQ(c.matched, v.matched) << c.what;
        EXPECT_EQ(c.problems, v.problem_count) << c.what;
        EXPECT_EQ(c.differs, v.differ_count) << c.what;
        EXPECT_EQ(c.extras, v.extra_count) << c.what;
        if (v.edition >= 0) {
            EXPECT_EQ(t->names[v.edition].count[0], v.files) << c.what;
        }
    }
    // Retail's disc 1 read as disc 2 is of no edition.
    EXPECT_EQ(EDITION_UNKNOWN, retail_disc1().judge(t, 2).kind);
}

// What a damaged disc's verdict names: the first ten problems in path
// order, each with what is wrong, and how many there are in all.
TEST(Editions, ProblemsNamed)
{
    Table table(editions_text());
    // F00-F03 missing, F04-F07 short, F08-F09 with a sector of zeros,
    // F10-F13 changed without a sign of damage.
    Disc d = retail_disc1(4, 4, 4, 2);
    d.add("DATA\\NEW.DAT", 3, 0x3);
    EditionVerdict v = d.judge(&table.t, 1);
    ASSERT_EQ(EDITION_DAMAGED, v.kind);
    EXPECT_EQ(10, v.problem_count);
    // What the disc has and what the edition has: size and CRC-32, 0 for a
    // file that is not there.
    struct Want {
        int kind;
        const char *path;
        uint64_t size, want_size;
        uint32_t crc, want_crc;
        uint64_t zeros;
    } want[EDITION_SHOWN] = {
        {EDITION_MISSING, "DATA\\F00.DAT", 0, 1000, 0, 0x1000, 0},
        {EDITION_MISSING, "DATA\\F01.DAT", 0, 1001, 0, 0x1001, 0},
        {EDITION_MISSING, "DATA\\F02.DAT", 0, 1002, 0, 0x1002, 0},
        {EDITION_MISSING, "DATA\\F03.DAT", 0, 1003, 0, 0x1003, 0},
        {EDITION_OTHER_SIZE, "DATA\\F04.DAT", 1003, 1004, 0x1004, 0x1004, 0},
        {EDITION_OTHER_SIZE, "DATA\\F05.DAT", 1004, 1005, 0x1005, 0x1005, 0},
        {EDITION_OTHER_SIZE, "DATA\\F06.DAT", 1005, 1006, 0x1006, 0x1006, 0},
        {EDITION_OTHER_SIZE, "DATA\\F07.DAT", 1006, 1007, 0x1007, 0x1007, 0},
        {EDITION_OTHER_CONTENTS, "DATA\\F08.DAT", 1008, 1008, 0x8888, 0x1008, 1},
        {EDITION_OTHER_CONTENTS, "DATA\\F09.DAT", 1009, 1009, 0x8888, 0x1009, 1},
    };
    for (int i = 0; i < EDITION_SHOWN; i++) {
        EXPECT_EQ(want[i].kind, v.problems[i].kind) << i;
        EXPECT_STREQ(want[i].path, v.problems[i].path) << i;
        EXPECT_EQ(want[i].size, v.problems[i].size) << i;
        EXPECT_EQ(want[i].want_size, v.problems[i].want_size) << i;
        EXPECT_EQ(want[i].crc, v.problems[i].crc) << i;
        EXPECT_EQ(want[i].want_crc, v.problems[i].want_crc) << i;
        EXPECT_EQ(want[i].zeros, v.problems[i].zeros) << i;
    }
    ASSERT_EQ(4, v.differ_count);
    EXPECT_STREQ("DATA\\F10.DAT", v.differs[0].path);
    EXPECT_EQ(EDITION_OTHER_CONTENTS, v.differs[0].kind);
    ASSERT_EQ(1, v.extra_count);
    EXPECT_EQ(EDITION_EXTRA, v.extras[0].kind);
    EXPECT_STREQ("DATA\\NEW.DAT", v.extras[0].path);
    EXPECT_EQ(3u, v.extras[0].size);
    EXPECT_EQ(3u, v.extras[0].crc);
    EXPECT_EQ(0u, v.extras[0].want_crc);
}

// Disc 2 is the same in Retail, Plus and Budget: it takes the edition of
// disc 1 when that is one of them. Other's disc 2 goes with none of them.
TEST(Editions, TwoDiscsAgree)
{
    Table table(editions_text());
    const EditionTable *t = &table.t;
    int retail = edition_of(t, "Retail"), budget = edition_of(t, "Budget"), other = edition_of(t, "Other");
    Disc disc2;
    disc2.add("X.DAT", 10, 0xA);
    disc2.add("Y.DAT", 20, 0xB);
    EXPECT_EQ(budget, disc2.judge(t, 2, budget).edition);
    EXPECT_EQ(retail, disc2.judge(t, 2, retail).edition);
    EXPECT_EQ(retail, disc2.judge(t, 2, -1).edition); // the first named
    Disc other2;
    other2.add("X.DAT", 10, 0xA);
    other2.add("Z.DAT", 21, 0xC);
    EditionVerdict v = other2.judge(t, 2, retail);
    EXPECT_EQ(EDITION_KNOWN, v.kind);
    EXPECT_EQ(other, v.edition);
    EXPECT_EQ(0, edition_same(t, retail, v.edition));
    EXPECT_EQ(1, edition_same(t, retail, retail));
    EXPECT_EQ(0, edition_same(t, retail, -1));
    EXPECT_EQ(0, edition_same(t, -1, -1));
}

namespace {

// The files of a copied disc, with the CRC-32 of what was written.
Disc copied_disc(const std::string &folder)
{
    Disc d;
    for (const std::string &rel : list_tree(folder)) {
        if (rel.back() == '\\')
            continue;
        std::string data = slurp(folder + "\\" + rel);
        d.add(rel, data.size(), crc32_buf(data.data(), data.size()));
    }
    return d;
}

std::string copy_disc(const char *image, const std::string &tag)
{
    std::string dst = scratch(tag);
    CdSource *src = cd_open(media_path(image).c_str());
    EXPECT_TRUE(src != nullptr);
    if (src) {
        EXPECT_EQ(1, cd_copy_all(src, dst.c_str(), nullptr));
        cd_close(src);
    }
    return dst;
}

} // namespace

// The sample discs, copied as an install copies them, against the table
// the build made of them with tools/disc-table.py: known, as a pair; then
// with one file gone and one byte of another changed.
TEST(Editions, SampleDiscs)
{
    Table table(slurp(build_path("disctable.txt")));
    const EditionTable *t = &table.t;
    ASSERT_EQ(1, t->name_count);
    EXPECT_STREQ("Sample", t->names[0].name);
    EXPECT_EQ(0, t->bad_lines);
    std::string cd1 = copy_disc("disc1-edc.cue", "cd1"), cd2 = copy_disc("disc2.iso", "cd2");
    EditionVerdict v1 = copied_disc(cd1).judge(t, 1);
    EXPECT_EQ(EDITION_KNOWN, v1.kind);
    EXPECT_EQ(0, v1.edition);
    EXPECT_EQ(t->names[0].count[0], v1.matched);
    EXPECT_EQ(0, v1.extra_count);
    EditionVerdict v2 = copied_disc(cd2).judge(t, 2, v1.edition);
    EXPECT_EQ(EDITION_KNOWN, v2.kind);
    EXPECT_EQ(1, edition_same(t, v1.edition, v2.edition));
    EXPECT_EQ(EDITION_UNKNOWN, copied_disc(cd2).judge(t, 1).kind);

    ASSERT_TRUE(DeleteFileA((cd1 + "\\TARNOK\\INSTALL\\SETUP.DAT").c_str()));
    std::string wav = cd1 + "\\TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV", data = slurp(wav);
    data[12345] ^= 0x01;
    spit(wav, data);
    EditionVerdict v = copied_disc(cd1).judge(t, 1);
    EXPECT_EQ(EDITION_DAMAGED, v.kind);
    ASSERT_EQ(1, v.problem_count);
    EXPECT_EQ(EDITION_MISSING, v.problems[0].kind);
    EXPECT_STREQ("TARNOK\\INSTALL\\SETUP.DAT", v.problems[0].path);
    EXPECT_EQ(3000u, v.problems[0].want_size);
    ASSERT_EQ(1, v.differ_count);
    EXPECT_EQ(EDITION_OTHER_CONTENTS, v.differs[0].kind);
    EXPECT_STREQ("TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV", v.differs[0].path);
}

// setup.exe carries the table the build used, byte for byte; a program
// built without one (this test) has none, and knows no edition.
TEST(Editions, CarriedBySetup)
{
    HMODULE setup = LoadLibraryExA(build_path("setup.exe").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(setup != nullptr);
    HRSRC res = FindResourceA(setup, "DISCTABLE", MAKEINTRESOURCEA(10));
    ASSERT_TRUE(res != nullptr);
    HGLOBAL loaded = LoadResource(setup, res);
    std::string carried((const char *)LockResource(loaded), SizeofResource(setup, res));
    std::string built_path = "Z:" TARNOK_DISC_TABLE_UNIX;
    std::replace(built_path.begin(), built_path.end(), '/', '\\');
    std::string built = slurp(built_path);
    EXPECT_EQ(built, carried);
    EditionTable t;
    EXPECT_EQ(1, edition_table_load(setup, &t));
    Table from_file(built);
    EXPECT_EQ(from_file.t.file_count, t.file_count);
    EXPECT_GT(t.file_count, 100);
    edition_table_free(&t);
    FreeLibrary(setup);

    EXPECT_EQ(1, edition_table_load(nullptr, &t));
    EXPECT_EQ(0, t.file_count);
    edition_table_free(&t);
}
