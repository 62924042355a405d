// lha_extract on disk: members written below the output folder, what stays
// written after a failure, hostile names, progress per member, and the
// sample media's update and INSTALL.CR.
#include <windows.h>

#include <string.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lha/lha.h"
#include "lhatest.h"
#include "testsupport.h"
#include "util/util.h"

namespace {

std::wstring wide(const std::string &s)
{
    wchar_t w[1024];
    int n = MultiByteToWideChar(CP_UTF8, 0, s.c_str(), -1, w, 1024);
    return n > 0 ? w : L"";
}

int extract(const std::string &image, const std::string &dest, Progress *p = nullptr)
{
    return lha_extract((const unsigned char *)image.data(), image.size(), dest.c_str(), p);
}

// A level-0 stored member named name holding "hi".
std::string stored_hi(const std::string &name)
{
    std::string h;
    h += (char)(22 + name.size());
    h += '\0';
    h += "-lh0-";
    h += std::string("\2\0\0\0\2\0\0\0\0\0\0\0\x20\0", 14);
    h += (char)name.size();
    h += name;
    h += "\xEF\xEE"; // CRC-16 of "hi"
    unsigned sum = 0;
    for (size_t i = 2; i < h.size(); i++)
        sum += (unsigned char)h[i];
    h[1] = (char)sum;
    return h + "hi";
}

struct Counted {
    int calls = 0;
    uint64_t last = 0;
};

void count_call(uint64_t done, uint64_t, void *ctx)
{
    Counted *c = (Counted *)ctx;
    c->calls++;
    c->last = done;
}

} // namespace

TEST(LhaExtract, WritesMembersAndFolders)
{
    std::string dest = scratch() + "\\out"; // not there yet: made on the way
    Counted counted;
    Progress p = {0, 1000000, count_call, &counted};
    log_reset();
    EXPECT_EQ(4, extract(fixture("L0.LZH"), dest, &p));
    EXPECT_EQ((std::vector<std::string>{"DATA\\", "DATA\\FILE.DAT", "EMPTY.DAT", "RAND.BIN", "TEXT.TXT"}),
              list_tree(dest));
    for (const char *name : {"TEXT.TXT", "RAND.BIN", "EMPTY.DAT", "DATA\\FILE.DAT"})
        EXPECT_TRUE(slurp(dest + "\\" + name) == original(name)) << name;
    uint64_t total = original("TEXT.TXT").size() + original("RAND.BIN").size() + original("DATA\\FILE.DAT").size();
    EXPECT_EQ(total, p.done);
    EXPECT_EQ(4, counted.calls); // one step per member, the empty one too
    EXPECT_TRUE(log_lines().empty());
}

TEST(LhaExtract, CrcErrorLeavesTheFirstTwoWritten)
{
    std::string dest = scratch();
    log_reset();
    EXPECT_EQ(-1, extract(fixture("CRC3.LZH"), dest));
    EXPECT_EQ((std::vector<std::string>{"A.TXT", "B.TXT"}), list_tree(dest));
    EXPECT_EQ(std::vector<std::string>{"LHA: CRC error in C.TXT"}, log_lines());
}

TEST(LhaExtract, UnsafeNamesWriteNothing)
{
    // Device names would send the bytes to a port or nowhere, and count as
    // written members.
    const char *names[] = {"../EVIL.TXT", "DATA\\..\\..\\EVIL.TXT", "/EVIL.TXT", "\xFF" "EVIL.TXT", "C:EVIL.TXT",
                           "NUL", "AUX", "COM1", "AUX.TXT", "COM1.DAT", "DATA\\LPT1", "CONIN$", "CONOUT$",
                           "NUL .TXT", "EVIL.TXT."};
    int n = 0;
    for (const char *name : names) {
        std::string root = scratch(std::to_string(n++));
        log_reset();
        EXPECT_EQ(-1, extract(stored_hi("SAFE.TXT") + stored_hi(name), root + "\\dest\\inner")) << name;
        EXPECT_EQ((std::vector<std::string>{"dest\\", "dest\\inner\\", "dest\\inner\\SAFE.TXT"}), list_tree(root))
            << name;
        ASSERT_EQ(1u, log_lines().size()) << name;
        EXPECT_EQ(0u, log_lines()[0].find("LHA: unsafe member name ")) << name;
    }
}

// This program runs in setup.exe's UTF-8 code page. A member name in UTF-8
// lands under exactly that name; one in another code page (Shift-JIS from
// Japanese archivers) would land under replacement characters, which two
// names could share: it stops the extraction, and nothing is written
// anywhere for it or after it.
TEST(LhaExtract, NamesMustBeUtf8)
{
    std::string root = scratch();
    log_reset();
    std::string sjis = "\x8A\xBF\x8E\x9A.TXT"; // two kanji in Shift-JIS
    EXPECT_EQ(-1, extract(stored_hi("\xC5\x81\xC3\xB3" "d\xC5\xBA.TXT") + stored_hi(sjis) + stored_hi("AFTER.TXT"),
                          root + "\\dest"));
    EXPECT_EQ((std::vector<std::string>{"dest\\", "dest\\\xC5\x81\xC3\xB3" "d\xC5\xBA.TXT"}), list_tree(root));
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW((wide(root) + L"\\dest\\\u0141\u00F3d\u017A.TXT").c_str()));
    EXPECT_EQ(std::vector<std::string>{"LHA: member name \\x8A\\xBF\\x8E\\x9A.TXT is not UTF-8"}, log_lines());
}

// A level-2 header without a file-name header leaves the name empty: it
// would name the folder itself, and is refused before anything is written.
TEST(LhaExtract, EmptyNameFails)
{
    std::string image("\x1A\0-lh0-\2\0\0\0\2\0\0\0\0\0\0\0\0\2\xEF\xEEU\0\0hi", 28);
    std::string dest = scratch();
    log_reset();
    EXPECT_EQ(-1, extract(image, dest + "\\out"));
    EXPECT_EQ(std::vector<std::string>{"LHA: member without a file name: \"\""}, log_lines());
    EXPECT_EQ(std::vector<std::string>{}, list_dir(dest));
}

// write_file's line shows the path with the name's control bytes escaped:
// the name cannot end the line and start a forged one.
TEST(LhaExtract, WriteFailureShowsTheNameEscaped)
{
    std::string dest = scratch();
    log_reset();
    EXPECT_EQ(-1, extract(stored_hi("A\nforged line"), dest));
    std::vector<std::string> lines = log_lines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ(0u, lines[0].find("cannot write " + dest + "\\A\\nforged line: ")) << lines[0];
    EXPECT_NE(std::string::npos, lines[0].find(" (error ")) << lines[0];
}

// A path longer than 519 characters would be cut to another name: refused.
TEST(LhaExtract, PathTooLongIsRefused)
{
    std::string dest = scratch() + "\\" + std::string(330, 'd');
    std::string name(200, 'N');
    log_reset();
    EXPECT_EQ(-1, extract(stored_hi(name), dest));
    EXPECT_EQ(std::vector<std::string>{"LHA: path too long for " + name}, log_lines());
}

TEST(LhaExtract, SampleUpdates)
{
    struct Case {
        const char *file;
        uint64_t size;
        uint32_t crc;
    } cases[] = {
        {"TARNO103.EXE", 916367, 0xB83E34F1u},
        {"update-badcrc\\TARNO103.EXE", 916367, 0},
        {"update-badsize\\TARNO103.EXE", 916366, 0},
    };
    for (const Case &c : cases) {
        std::string dest = scratch(std::to_string(c.size) + (c.crc ? "good" : "bad"));
        std::string image = slurp(media_path(c.file));
        ASSERT_FALSE(image.empty()) << c.file;
        EXPECT_EQ(4, extract(image, dest)) << c.file;
        EXPECT_TRUE(file_exists(dest + "\\SOUND\\INTRO.VOC")) << c.file;
        std::string main = slurp(dest + "\\TARNOKP2.EXE");
        EXPECT_EQ(c.size, main.size()) << c.file;
        uint32_t crc = crc32_buf(main.data(), main.size());
        if (c.crc)
            EXPECT_EQ(c.crc, crc) << c.file;
        else
            EXPECT_NE(0xB83E34F1u, crc) << c.file;
    }
    EXPECT_GT(extract(slurp(media_path("disc1\\TARNOK\\INSTALL\\INSTALL.CR")), scratch("cr")), 0);
}
