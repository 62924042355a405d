// Disc images and cue sheets written by other projects (../shared/peerdata):
// every image that holds ISO 9660 in one of our layouts opens and copies
// byte for byte as its manifest says; everything else is refused.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdlib.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cdsrc/cdsrc.h"
#include "sha256.h"
#include "testsupport.h"

namespace {

struct PeerRow {
    std::string relpath, kind, expected_ours, manifest, layout;
};

void PrintTo(const PeerRow &r, std::ostream *os) { *os << r.relpath; }

std::string unix_peer(const std::string &rel)
{
    const char *base = getenv("TARNOK_PEERDATA");
    std::string p = std::string(base ? base : "") + "\\" + rel;
    for (char &c : p)
        if (c == '/')
            c = '\\';
    return p;
}

// The rows of expected.tsv for the images and cue sheets.
std::vector<PeerRow> peer_rows()
{
    std::vector<PeerRow> rows;
    std::ifstream in(unix_peer("expected.tsv"));
    std::string line;
    std::map<std::string, size_t> col;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string cell;
        while (std::getline(ss, cell, '\t'))
            f.push_back(cell);
        if (col.empty()) {
            for (size_t i = 0; i < f.size(); i++)
                col[f[i]] = i;
            continue;
        }
        auto at = [&](const char *name) { return col.count(name) && col[name] < f.size() ? f[col[name]] : ""; };
        if (at("kind") == "iso" || at("kind") == "cue")
            rows.push_back({at("relpath"), at("kind"), at("expected_ours"), at("manifest"), at("layout")});
    }
    return rows;
}

// A manifest path "/DIR/NAME.EXT;1" as our reader names it: each component
// without its version, and without a final '.'.
std::string our_name(const std::string &iso_path)
{
    std::string out, part;
    std::stringstream ss(iso_path);
    while (std::getline(ss, part, '/')) {
        if (part.empty())
            continue;
        part = part.substr(0, part.find(';'));
        if (!part.empty() && part.back() == '.')
            part.pop_back();
        out += (out.empty() ? "" : "\\") + part;
    }
    return out;
}

// A hang must fail the test rather than stall the run.
DWORD WINAPI watchdog(void *)
{
    Sleep(60000);
    fprintf(stderr, "timeout: the peer image took more than 60 s\n");
    fflush(stderr);
    ExitProcess(3);
    return 0;
}

// Where our reader, by its name rules, cannot do what the first reading of
// the peer data expects.
struct Known {
    const char *relpath, *why;
} known_failures[] = {
    {"iso/libarchive__test__test_read_format_iso_joliet_long.iso",
     "the root holds a directory 12345678 and a file 12345678.;1; without the final '.' both are "
     "12345678, as Windows would name them too, so the file cannot be created beside the folder"},
};

const char *known_failure(const std::string &relpath)
{
    for (const Known &k : known_failures)
        if (relpath == k.relpath)
            return k.why;
    return nullptr;
}

class PeerImage : public ::testing::TestWithParam<PeerRow> {};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(PeerImage);

// Without the peer data the cases above are zero, which must not pass
// unnoticed: this case then skips, saying where the data was looked for
// (and fails where it is required, as in CI); with it, the catalogue has to
// list the images and each has to be there.
TEST(PeerImages, CatalogueIsThere)
{
    SKIP_WITHOUT_PEER_DATA();
    std::vector<PeerRow> rows = peer_rows();
    ASSERT_GT(rows.size(), 30u) << "no peer data at " << unix_peer("expected.tsv");
    size_t found = 0;
    for (const PeerRow &r : rows)
        found += GetFileAttributesA(unix_peer("iso/" + r.relpath.substr(4)).c_str()) != INVALID_FILE_ATTRIBUTES;
    EXPECT_EQ(rows.size(), found) << "every catalogued image is there";
}

TEST_P(PeerImage, OpensAndCopiesAsItsManifestSays)
{
    const PeerRow &r = GetParam();
    CloseHandle(CreateThread(NULL, 0, watchdog, NULL, 0, NULL));
    CdSource *src = cd_open(unix_peer("iso/" + r.relpath.substr(4)).c_str());
    std::string dst = scratch() + "\\copy";
    int copied = src ? cd_copy_all(src, dst.c_str(), nullptr) : 0;
    if (r.expected_ours != "ok") {
        EXPECT_TRUE(!src || !copied) << "a damaged or foreign file never copies as good";
        if (r.kind == "cue") {
            EXPECT_TRUE(src == nullptr) << "the sheet names a missing image";
        }
        cd_close(src);
        return;
    }
    ASSERT_TRUE(src != nullptr);
    // The layout column reads "2048/0 (cooked ISO)" and the like.
    EXPECT_EQ(r.layout.substr(0, r.layout.find(' ')),
              std::to_string(src->sector_size) + "/" + std::to_string(src->data_offset));
    cd_close(src);
    if (const char *why = known_failure(r.relpath)) {
        EXPECT_EQ(0, copied) << why;
        return;
    }
    EXPECT_EQ(1, copied);
    // Rock Ridge symbolic links are empty files in the primary tree; the
    // manifests leave them out.
    std::vector<std::string> files;
    for (const std::string &e : list_tree(dst))
        if (e.back() != '\\' && !slurp(dst + "\\" + e).empty())
            files.push_back(e);
    if (r.manifest.empty())
        return;
    std::ifstream in(unix_peer(r.manifest));
    std::vector<std::string> want;
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 67)
            continue;
        std::string hash = line.substr(0, 64), name = our_name(line.substr(66));
        if (hash != "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855")
            want.push_back(name);
        bool ok = false;
        std::string data = slurp(dst + "\\" + name, &ok);
        EXPECT_TRUE(ok) << name << " not copied";
        EXPECT_EQ(hash, sha256_hex(data)) << name;
    }
    std::sort(want.begin(), want.end());
    EXPECT_EQ(want, files) << "the copy holds exactly the manifest's files";
}

INSTANTIATE_TEST_SUITE_P(Peer, PeerImage, ::testing::ValuesIn(peer_rows()),
                         [](const ::testing::TestParamInfo<PeerRow> &pi) {
                             std::string n = pi.param.relpath.substr(4);
                             for (char &c : n)
                                 if (!isalnum((unsigned char)c))
                                     c = '_';
                             return n;
                         });

} // namespace
