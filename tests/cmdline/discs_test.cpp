// Good discs and damaged ones, as setup.exe tells them apart when a player
// runs it: the sample table of editions that it carries knows every file of
// both sample discs, and the raw sectors of an image carry their EDCs.
#include <gtest/gtest.h>

#include <algorithm>

#include "cdsrc/cdinternal.h"
#include "guisupport.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

typedef std::vector<std::string> Lines;

const char music[] = "TARNOK\\DISK1\\MUSIC\\MUSIK1.WAV";

// 1 when a line begins so.
bool has_start(const Lines &lines, const std::string &start)
{
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string &l) { return l.compare(0, start.size(), start) == 0; });
}

bool has(const Lines &lines, const std::string &line)
{
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// An unattended install of cd1 and cd2 into a new folder: its exit code,
// with its log in *lines.
int install_discs(const std::string &cd1, const std::string &cd2, Lines *lines)
{
    std::string base = scratch("run"), exe = stage_setup(base, "setup_game");
    std::string args = "/silent /cd1 \"" + cd1 + "\" /cd2 \"" + cd2 + "\" /patch \"" + media_path("TARNO103.EXE") +
                       "\" /dir \"" + base + "\\Tarnok PC\"";
    Child c = start_setup(exe, args, base + "\\tmp");
    int code = wait_exit(c, 120000);
    *lines = child_log(c);
    return code;
}

// The same with the sample disc 2.
int install(const std::string &cd1, Lines *lines)
{
    return install_discs(cd1, media_path("disc2"), lines);
}

// A byte of a file changed, in a copy of its stored image at offset at.
void change_byte(const std::string &path, uint64_t at)
{
    std::string data = slurp(path);
    ASSERT_LT(at, data.size());
    data[at] = (char)(data[at] ^ 0x5A);
    spit(path, data);
}

// A CRC-32 as the log writes it.
std::string crc_of(const std::string &data)
{
    char hex[16];
    snprintf(hex, sizeof hex, "%08X", (unsigned)crc32_buf(data.data(), data.size()));
    return hex;
}

// Where a file's extent starts in an image.
uint32_t file_lba(const std::string &image, const char *rel)
{
    CdSource *src = cd_open(image.c_str());
    EXPECT_TRUE(src != nullptr);
    IsoEntry e = {};
    EXPECT_EQ(1, iso_find(src, rel, &e));
    cd_close(src);
    return e.lba;
}

// The sample discs as they are: every file as the table knows it.
TEST(Editions, TheSampleDiscsAreKnown)
{
    Lines lines;
    EXPECT_EQ(0, install(media_path("disc1.iso"), &lines));
    EXPECT_TRUE(has(lines, "CD 1: edition Sample, 162 files as known"));
    EXPECT_TRUE(has(lines, "CD 2: edition Sample, 11 files as known"));
    EXPECT_EQ("Done.", lines.back());
}

// A sector of a plain image (no EDC to check) written as zeros, as a
// ripper writes one it could not read: at offset at of the image.
void zero_sector(const std::string &path, uint64_t at)
{
    std::string data = slurp(path);
    ASSERT_LE(at + 2048, data.size());
    std::fill(data.begin() + (ptrdiff_t)at, data.begin() + (ptrdiff_t)(at + 2048), '\0');
    spit(path, data);
}

// A disc that the table knows, with files missing, cut short or with a
// sector of zeros where the edition's file has other contents: the
// install stops, naming each file and what is wrong with it.
TEST(Editions, ADamagedDiscNamesItsFiles)
{
    struct Case {
        const char *what;
        std::string cd1;
        Lines named;
    };
    std::string base = scratch(), iso = base + "\\disc1.iso", folder = base + "\\disc1";
    ASSERT_TRUE(CopyFileA(media_path("disc1.iso").c_str(), iso.c_str(), FALSE));
    // The file's second sector of the plain image.
    zero_sector(iso, ((uint64_t)file_lba(iso, music) + 1) * 2048);
    copy_tree(media_path("disc1"), folder);
    ASSERT_TRUE(DeleteFileA((folder + "\\TARNOK\\DISK1\\DATA\\BLOCK100.DAT").c_str()));
    spit(folder + "\\TARNOK\\DISK1\\DISK1", "cut");
    // Each file named with what the edition has, and what the copy found:
    // the table knows the sample discs' files as they are.
    const std::string disc1 = media_path("disc1"), block = "TARNOK\\DISK1\\DATA\\BLOCK100.DAT";
    const std::string wav = slurp(disc1 + "\\" + music), marker = slurp(disc1 + "\\TARNOK\\DISK1\\DISK1");
    std::string zeroed = wav;
    std::fill(zeroed.begin() + 2048, zeroed.begin() + 4096, '\0');
    char size[32];
    fmt_count(slurp(disc1 + "\\" + block).size(), size, sizeof size);
    Case cases[] = {
        {"an image with a sector of zeros", iso,
         {std::string(music) + ": other contents (CRC-32 " + crc_of(zeroed) + ", expected " + crc_of(wav) +
          "), with a sector of zeros at byte 2,048 (as rippers write a sector they could not read)"}},
        {"a folder with one file gone and one cut short", folder,
         {block + ": missing (expected " + size + " bytes, CRC-32 " + crc_of(slurp(disc1 + "\\" + block)) + ")",
          "TARNOK\\DISK1\\DISK1: size 3 instead of 15 (CRC-32 " + crc_of("cut") + ", expected " + crc_of(marker) +
              ")"}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        Lines lines;
        EXPECT_EQ(1, install(k.cd1, &lines));
        std::string count = std::to_string(k.named.size());
        const char *files = k.named.size() == 1 ? " file of edition Sample is" : " files of edition Sample are";
        EXPECT_TRUE(has(lines, "CD 1: " + count + files + " missing, cut short or different:"));
        for (const std::string &n : k.named)
            EXPECT_TRUE(has(lines, n)) << n;
        EXPECT_EQ("ERROR: CD 1 is damaged, or was not read as it should be", lines.back());
    }
}

// A disc whose files differ from its edition's where every byte was read
// right is another pressing: it installs, and the log names the files that
// differ. A plain image with a byte changed, and a raw image whose every
// sector passes its EDC check; the same raw image with a sector zeroed
// fails that check and is named.
TEST(Editions, AnotherPressingInstallsAndADamagedOneDoesNot)
{
    const char texts[] = "TARNOK\\DISK2\\DATA\\TEXTS.DAT";
    std::string base = scratch(), iso = base + "\\disc1.iso";
    ASSERT_TRUE(CopyFileA(media_path("disc1.iso").c_str(), iso.c_str(), FALSE));
    change_byte(iso, ((uint64_t)file_lba(iso, music) + 1) * 2048 + 7);
    Lines lines;
    EXPECT_EQ(0, install(iso, &lines));
    EXPECT_TRUE(has(lines, "CD 1: another pressing of edition Sample: 1 file differs from the edition's with no sign "
                           "of damage, and the disc is installed as it is:"));
    EXPECT_TRUE(has_start(lines, std::string(music) + ": other contents (CRC-32 "));
    EXPECT_EQ("Done.", lines.back());

    EXPECT_EQ(0, install_discs(media_path("disc1"), media_path("disc2-pressing.cue"), &lines));
    EXPECT_TRUE(has(lines, "CD 2: another pressing of edition Sample: 1 file differs from the edition's with no sign "
                           "of damage, and the disc is installed as it is:"));
    EXPECT_TRUE(has_start(lines, std::string(texts) + ": other contents (CRC-32 "));
    EXPECT_EQ("Done.", lines.back());

    ASSERT_TRUE(CopyFileA(media_path("disc2-pressing.bin").c_str(), (base + "\\disc2-pressing.bin").c_str(), FALSE));
    ASSERT_TRUE(CopyFileA(media_path("disc2-pressing.cue").c_str(), (base + "\\disc2-pressing.cue").c_str(), FALSE));
    std::string bin = base + "\\disc2-pressing.bin";
    uint32_t lba = file_lba(base + "\\disc2-pressing.cue", texts) + 1;
    std::string data = slurp(bin);
    std::fill(data.begin() + (size_t)lba * 2352, data.begin() + (size_t)(lba + 1) * 2352, '\0');
    spit(bin, data);
    EXPECT_EQ(1, install_discs(media_path("disc1"), base + "\\disc2-pressing.cue", &lines));
    char count[32];
    EXPECT_EQ(std::string("ERROR: disc 2 image is damaged: sector ") + fmt_count(lba, count, sizeof count) + " of " +
                  texts + " fails its error check",
              lines.back());
}

// Disc 1 as a copied folder without its largest folder (most of its files):
// every file it holds is as the edition has it, so it is of that edition,
// and the files missing are named, however many they are.
TEST(Editions, AFolderMissingMostFilesIsNamed)
{
    std::string folder = scratch() + "\\disc1";
    copy_tree(media_path("disc1"), folder);
    ASSERT_EQ(1, delete_tree((folder + "\\MANY").c_str()));
    Lines lines;
    EXPECT_EQ(1, install(folder, &lines));
    EXPECT_TRUE(has(lines, "CD 1: 100 files of edition Sample are missing, cut short or different:"));
    EXPECT_TRUE(has_start(lines, "MANY\\F000.TXT: missing (expected "));
    EXPECT_TRUE(has(lines, "and 90 more"));
    EXPECT_EQ("ERROR: CD 1 is damaged, or was not read as it should be", lines.back());
}

// A pressing that nobody has listed (here most files of disc 1 differ) is
// never refused: the log says so and the install goes on.
TEST(Editions, AnUnknownEditionInstalls)
{
    std::string folder = scratch() + "\\disc1";
    copy_tree(media_path("disc1"), folder);
    int changed = 0;
    for (const std::string &e : list_tree(folder)) {
        if (e.back() == '\\' || e == "TARNOK\\DISK1\\DISK1" || e.find("INSTALL") != std::string::npos)
            continue;
        spit(folder + "\\" + e, slurp(folder + "\\" + e) + "another pressing");
        changed++;
    }
    ASSERT_GT(changed, 100);
    Lines lines;
    EXPECT_EQ(0, install(folder, &lines));
    EXPECT_TRUE(has(lines, "CD 1: not a known edition; its files are installed as they are"));
    EXPECT_EQ("Done.", lines.back());
}

// A CUE/BIN image whose sectors carry their EDCs (from an independent
// tool): a changed data byte, or a sector written as zeros by a ripper that
// could not read it, is named with its file and sector; the image as it is
// installs.
TEST(Sectors, DamageNamesTheFileAndTheSector)
{
    struct Case {
        const char *what;
        int zero; // 1: the whole sector zeroed; 0: one data byte changed
    } cases[] = {{"a data byte changed", 0}, {"a sector zeroed", 1}};
    int n = 0;
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        std::string base = scratch(std::to_string(n++));
        ASSERT_TRUE(CopyFileA(media_path("disc1-edc.bin").c_str(), (base + "\\disc1-edc.bin").c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(media_path("disc1-edc.cue").c_str(), (base + "\\disc1-edc.cue").c_str(), FALSE));
        std::string bin = base + "\\disc1-edc.bin";
        uint32_t lba = file_lba(base + "\\disc1-edc.cue", music) + 2;
        std::string data = slurp(bin);
        ASSERT_LT((uint64_t)(lba + 1) * 2352, data.size());
        if (k.zero)
            std::fill(data.begin() + (size_t)lba * 2352, data.begin() + (size_t)(lba + 1) * 2352, '\0');
        else
            data[(size_t)lba * 2352 + 16 + 1000] ^= 0x01;
        spit(bin, data);
        Lines lines;
        EXPECT_EQ(1, install(base + "\\disc1-edc.cue", &lines));
        char count[32];
        EXPECT_EQ(std::string("ERROR: disc 1 image is damaged: sector ") + fmt_count(lba, count, sizeof count) + " of " +
                      music + " fails its error check",
                  lines.back());
    }
    Lines lines;
    EXPECT_EQ(0, install(media_path("disc1-edc.cue"), &lines));
    EXPECT_TRUE(has(lines, "CD 1: edition Sample, 162 files as known"));
}

} // namespace
