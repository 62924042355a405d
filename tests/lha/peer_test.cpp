// Archives written by many other LHA programs (../shared/peerdata): each
// one whose members are all -lh0-/-lh5- at levels 0 to 2 extracts to disk
// as its manifest lists; every other one fails with the reason it should.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "lha/lha.h"
#include "lhatest.h"
#include "testsupport.h"

namespace {

// Where this reader's result differs from the catalogue's first reading,
// and why.
const std::map<std::string, std::string> our_verdicts = {
    // Only the file name is read; the folder in a directory header is not,
    // so these absolute or climbing paths stay inside the output folder.
    {"lha/lhasa__regression__abspath.lzh", "ok"},
    {"lha/lhasa__regression__dotdot.lzh", "ok"},
    {"lha/lhasa__tascal_lha_051h__abspath.lzh", "ok"},
    // The search takes the first plausible header inside the Amiga
    // executable: a -lh5- member the self-extractor carries for itself
    // (SFXUsage.txt), which ends the walk before the -lh4- archive.
    {"lha/lhasa__lha_amiga_122__sfx.run", "stub"},
    // An entry with an empty name is written to the folder's own path,
    // which fails.
    {"lha/lhasa__lha_amiga_122__lh0_dirs_bug.lzh", "fail"},
    // OS/2 directory entries stored as files named like the folder that a
    // later member needs: writing that member fails.
    {"lha/lhasa__lh2_222__easubdir.lzh", "fail"},
    // 64-bit sizes past 4 GiB in an extended header: refused, not cut.
    {"lha/lhasa__morphos_lha_2717__h2_huge.lzh", "fail"},
    // A level-0 name with a leading separator is refused before the
    // directory entry after it is reached.
    {"lha/lhasa__lhmelt_16536__h0_subdir.lzh", "refused"},
    // Names in Shift-JIS are no UTF-8, the code page setup.exe runs in: the
    // first such name stops the extraction before anything is written.
    {"lha/libarchive__test__test_read_format_lha_filename_cp932.lzh", "not-utf8"},
};

struct Row {
    std::string relpath, levels, methods, expected_ours, manifest;
};

std::vector<Row> lha_rows()
{
    std::vector<Row> rows;
    std::istringstream in(slurp(peer_path("expected.tsv")));
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream cols(line);
        for (std::string c; std::getline(cols, c, '\t');)
            f.push_back(c);
        if (f.size() >= 12 && f[1] == "lha")
            rows.push_back({f[0], f[3], f[4], f[7], f[11]});
    }
    return rows;
}

std::string lower(std::string s)
{
    for (char &c : s) {
        c = (char)tolower((unsigned char)c);
        if (c == '\\')
            c = '/';
    }
    return s;
}

std::string base_name(const std::string &path) { return path.substr(path.find_last_of('/') + 1); }

// MacLHA stores each file behind a 128-byte MacBinary head, as this reader
// writes it; the manifest lists the data fork alone.
std::string data_fork(const std::string &member)
{
    if (member.size() < 128 || member[0] != 0 || member[1] < 1 || member[1] > 63)
        return member;
    const unsigned char *p = (const unsigned char *)member.data() + 83;
    uint32_t len = (uint32_t)p[0] << 24 | p[1] << 16 | p[2] << 8 | p[3];
    return len <= member.size() - 128 ? member.substr(128, len) : member;
}

// Empty when every manifest entry has a written file of the same content
// whose path matches it, in full or (folders kept in directory headers, which
// are not read) by its last step, without regard to case.
std::string compare_manifest(const std::string &dest, const std::string &manifest)
{
    std::map<std::string, std::string> files; // lower-case path -> content
    for (const std::string &rel : list_tree(dest)) {
        if (rel.back() != '\\')
            files[lower(rel)] = slurp(dest + "\\" + rel);
    }
    std::istringstream in(slurp(peer_path(manifest)));
    size_t entries = 0;
    for (std::string line; std::getline(in, line);) {
        std::string sha = line.substr(0, 64), path = lower(line.substr(66));
        entries++;
        bool found = false;
        for (const auto &f : files) {
            if ((f.first == path || f.first == base_name(path)) &&
                (sha256_hex(f.second) == sha || sha256_hex(data_fork(f.second)) == sha))
                found = true;
        }
        if (!found)
            return "no file matches " + path;
    }
    if (entries != files.size())
        return "files " + std::to_string(files.size()) + ", manifest " + std::to_string(entries);
    return "";
}

// The failure an archive outside this reader's scope ends with: no header
// of levels 0 to 2 with an "-lh?-" method means no archive at all.
std::string expected_message(const Row &row, const std::string &verdict)
{
    if (verdict == "refused")
        return "LHA: unsafe member name";
    if (verdict == "not-utf8")
        return "LHA: member name \\x8A\\xBF\\x8E\\x9A.txt is not UTF-8";
    if (verdict != "unsupported")
        return "";
    if (row.methods.find("lh") == std::string::npos || row.levels == "3")
        return "LHA: no archive found";
    return "LHA: unsupported method";
}

} // namespace

TEST(LhaPeers, EveryArchiveEndsAsExpected)
{
    SKIP_WITHOUT_PEER_DATA();
    std::vector<Row> rows = lha_rows();
    ASSERT_GT(rows.size(), 150u);
    std::map<std::string, int> tally;
    for (const Row &row : rows) {
        std::string verdict = our_verdicts.count(row.relpath) ? our_verdicts.at(row.relpath) : row.expected_ours;
        bool ok = false;
        std::string image = slurp(peer_path(row.relpath), &ok);
        ASSERT_TRUE(ok) << row.relpath;
        std::string dest = scratch(std::to_string(tally.size()) + "-" + std::to_string(tally[verdict]));
        log_reset();
        int r = lha_extract((const unsigned char *)image.data(), image.size(), (dest + "\\out").c_str(), nullptr);
        std::vector<std::string> lines = log_lines();
        std::string said = lines.empty() ? "" : lines.back();
        tally[verdict]++;
        if (verdict == "stub") {
            EXPECT_EQ(1, r) << row.relpath << ": " << said;
            EXPECT_EQ(std::vector<std::string>{"SFXUsage.txt"}, list_tree(dest + "\\out")) << row.relpath;
        } else if (verdict == "ok") {
            EXPECT_GT(r, 0) << row.relpath << ": " << said;
            EXPECT_EQ("", compare_manifest(dest + "\\out", row.manifest)) << row.relpath;
        } else {
            EXPECT_EQ(-1, r) << row.relpath;
            EXPECT_EQ(0u, said.find(expected_message(row, verdict))) << row.relpath << ": " << said;
            for (const std::string &e : list_dir(dest))
                EXPECT_EQ("out", e) << row.relpath; // nothing beside the output folder
            if (verdict == "not-utf8") {
                EXPECT_TRUE(list_tree(dest).empty()) << row.relpath;
            }
        }
    }
    for (const auto &t : tally)
        printf("%-12s %d\n", t.first.c_str(), t.second);
}
