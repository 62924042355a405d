// The member walk over memory: archives made by jlha, a self-extracting
// file, broken members, the archive cut at every offset, hand-made headers
// of the kinds that broke other readers, and hostile member names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lha/lh5.h"
#include "lha/lha.h"
#include "lhatest.h"

namespace {

std::string bytes(std::initializer_list<int> list)
{
    std::string s;
    for (int b : list)
        s += (char)b;
    return s;
}

// Sets the checksum of a level-0/1 header at the start of image.
std::string seal(std::string image)
{
    unsigned sum = 0;
    for (int i = 2; i < (unsigned char)image[0] + 2; i++)
        sum += (unsigned char)image[i];
    image[1] = (char)sum;
    return image;
}

std::string le32(uint32_t v) { return bytes({(int)(v & 0xFF), (int)(v >> 8 & 0xFF), (int)(v >> 16 & 0xFF), (int)(v >> 24)}); }

// One level-0 member: the fields in order, the checksum set.
std::string level0(const std::string &method, const std::string &name, const std::string &data,
                   uint32_t original, uint16_t crc)
{
    std::string h = bytes({22 + (int)name.size(), 0}) + method + le32((uint32_t)data.size()) + le32(original) +
                    le32(0) + bytes({0x20, 0, (int)name.size()}) + name + bytes({crc & 0xFF, crc >> 8});
    return seal(h) + data;
}

std::string stored(const std::string &name, const std::string &data)
{
    return level0("-lh0-", name, data, (uint32_t)data.size(), lha_crc16((const unsigned char *)data.data(), data.size()));
}

struct Expect {
    int result;
    std::vector<std::string> names; // members handed over, in order
    std::string line;               // the one log line, or empty for none
};

void expect_walk(const std::string &what, const std::string &image, const Expect &e)
{
    MemorySink m;
    EXPECT_EQ(e.result, walk_image(image, &m)) << what;
    EXPECT_EQ(e.names, m.order) << what;
    EXPECT_EQ(e.line.empty() ? std::vector<std::string>() : std::vector<std::string>{e.line}, m.lines) << what;
}

} // namespace

TEST(LhaWalk, JlhaArchivesExtract)
{
    struct Case {
        const char *archive;
        std::vector<std::pair<std::string, std::string>> members; // name, original
    } cases[] = {
        {"L0.LZH", {{"TEXT.TXT", "TEXT.TXT"}, {"RAND.BIN", "RAND.BIN"}, {"EMPTY.DAT", "EMPTY.DAT"},
                    {"DATA\\FILE.DAT", "DATA\\FILE.DAT"}}},
        {"L1.LZH", {{"TEXT.TXT", "TEXT.TXT"}, {"RAND.BIN", "RAND.BIN"}, {"EMPTY.DAT", "EMPTY.DAT"}}},
        {"L2.LZH", {{"TEXT.TXT", "TEXT.TXT"}, {"RAND.BIN", "RAND.BIN"}, {"EMPTY.DAT", "EMPTY.DAT"}}},
        {"STORED.LZH", {{"TEXT.TXT", "TEXT.TXT"}}},
        {"BIG.LZH", {{"BIG.BIN", "BIG.BIN"}}},
        {"ZEROS.LZH", {{"ZEROS.BIN", "ZEROS.BIN"}}},
        {"SFX.EXE", {{"TEXT.TXT", "TEXT.TXT"}, {"RAND.BIN", "RAND.BIN"}, {"EMPTY.DAT", "EMPTY.DAT"}}},
        // Levels 1 and 2 keep the folder in a directory header, which is not read.
        {"DIRL2.LZH", {{"FILE.DAT", "DATA\\FILE.DAT"}}},
    };
    for (const Case &c : cases) {
        MemorySink m;
        std::string image = fixture(c.archive);
        ASSERT_FALSE(image.empty()) << c.archive;
        EXPECT_EQ((int)c.members.size(), walk_image(image, &m)) << c.archive;
        EXPECT_TRUE(m.lines.empty()) << c.archive;
        uint64_t total = 0;
        for (size_t i = 0; i < c.members.size() && i < m.order.size(); i++) {
            EXPECT_EQ(c.members[i].first, m.order[i]) << c.archive;
            std::string want = original(c.members[i].second);
            EXPECT_TRUE(m.files[c.members[i].first] == want) << c.archive << " " << c.members[i].first;
            total += want.size();
        }
        EXPECT_EQ(total, m.progressed) << c.archive;
    }
}

// The stub's "-lh5-" look-alikes have wrong checksums: the search passes
// over them to the real header.
TEST(LhaWalk, FindsTheArchiveAfterTheStub)
{
    std::string sfx = fixture("SFX.EXE"), plain = fixture("L1.LZH");
    uint64_t at = 0;
    ASSERT_EQ(1, lha_find_first((const unsigned char *)sfx.data(), sfx.size(), &at));
    EXPECT_EQ(sfx.size() - plain.size(), at);
    EXPECT_NE(std::string::npos, sfx.substr(0, (size_t)at).find("-lh5-"));
}

// Decodes BIG.BIN with the decoder's own steps, counting block headers.
TEST(LhaWalk, BigMemberSpansSeveralBlocks)
{
    std::string image = fixture("BIG.LZH"), want = original("BIG.BIN");
    const unsigned char *h = (const unsigned char *)image.data();
    uint64_t q = h[0] + 2u; // level 1: extended headers follow the basic header
    uint32_t packed = h[7] | h[8] << 8 | h[9] << 16 | (uint32_t)h[10] << 24;
    for (uint32_t s = h[q - 2] | h[q - 1] << 8; s; s = h[q - 2] | h[q - 1] << 8)
        q += s, packed -= s;
    Lh5State *st = (Lh5State *)calloc(1, sizeof(Lh5State));
    st->src = h + q;
    st->src_size = packed;
    fillbuf(st, 16);
    std::string out;
    int blocks = 0;
    while (out.size() < want.size() && !st->bad_table) {
        if (st->block_left == 0) {
            st->block_left = take_bits(st, 16);
            read_pt_len(st, LH5_NT, 5, 3);
            read_char_len(st);
            read_pt_len(st, LH5_NP, 4, -1);
            blocks++;
        }
        st->block_left--;
        uint32_t c = decode_char(st);
        if (c < 256) {
            out += (char)c;
            continue;
        }
        uint32_t d = decode_position(st);
        ASSERT_LE(d, out.size());
        for (uint32_t i = 0; i < c - 253 && out.size() < want.size(); i++)
            out += out[out.size() - d];
    }
    EXPECT_EQ(0u, st->bad_table);
    free(st);
    EXPECT_GE(blocks, 3);
    EXPECT_TRUE(out == want);
}

TEST(LhaWalk, UnsupportedMethodsStop)
{
    expect_walk("lh6", fixture("LH6.LZH"), {-1, {}, "LHA: unsupported method -lh6- for TEXT.TXT"});
    expect_walk("lh7", fixture("LH7.LZH"), {-1, {}, "LHA: unsupported method -lh7- for TEXT.TXT"});
    // jlha names the folder only in a directory header: the name is empty.
    expect_walk("lhd", fixture("DIR.LZH"), {-1, {}, "LHA: unsupported method -lhd- for "});
}

// CRC-16/ARC one bit at a time, straight from the definition.
static uint16_t crc16_bitwise(const unsigned char *p, size_t n)
{
    uint32_t c = 0;
    for (size_t i = 0; i < n; i++) {
        c ^= p[i];
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xA001 : c >> 1;
    }
    return (uint16_t)c;
}

// The CRC taken eight bytes a step gives the bitwise values: every length to
// 64 from every start within a word, and large buffers.
TEST(LhaCrc16, SameAsBitwiseAtEveryLengthAndOffset)
{
    EXPECT_EQ(0u, lha_crc16((const unsigned char *)"", 0));
    EXPECT_EQ(0xBB3Du, lha_crc16((const unsigned char *)"123456789", 9)) << "the CRC-16/ARC check value";
    std::vector<unsigned char> buf(3 << 20);
    uint32_t x = 777;
    for (unsigned char &b : buf) {
        x = x * 1103515245u + 12345u;
        b = (unsigned char)(x >> 23);
    }
    for (size_t off = 0; off < 8; off++) {
        for (size_t n = 0; n <= 64; n++)
            ASSERT_EQ(crc16_bitwise(&buf[off], n), lha_crc16(&buf[off], n)) << "offset " << off << ", length " << n;
    }
    for (size_t n : {4095u, 65536u, 1000003u, 3u << 20})
        EXPECT_EQ(crc16_bitwise(buf.data() + buf.size() - n, n), lha_crc16(buf.data() + buf.size() - n, n)) << n;
    std::vector<unsigned char> ones(100000, 0xFF);
    EXPECT_EQ(crc16_bitwise(ones.data(), ones.size()), lha_crc16(ones.data(), ones.size()));
}

TEST(LhaWalk, CrcErrorInTheThirdMember)
{
    expect_walk("crc", fixture("CRC3.LZH"), {-1, {"A.TXT", "B.TXT"}, "LHA: CRC error in C.TXT"});
}

// Every cut of a small archive either fails or hands over only members
// identical to the originals; none crashes.
TEST(LhaWalk, ArchiveCutAtEveryOffset)
{
    for (const char *name : {"SMALL.LZH", "SMALL2.LZH"}) {
        std::string image = fixture(name);
        ASSERT_FALSE(image.empty());
        for (size_t cut = 0; cut < image.size(); cut++) {
            MemorySink m;
            int r = walk_image(image.substr(0, cut), &m);
            EXPECT_TRUE(r == -1 || r == (int)m.order.size()) << name << " cut " << cut;
            for (const auto &f : m.files)
                EXPECT_TRUE(f.second == original(f.first)) << name << " cut " << cut << " " << f.first;
        }
    }
}

TEST(LhaWalk, MalformedHeaders)
{
    struct Case {
        const char *what;
        std::string image;
        Expect expect;
    } cases[] = {
        {"header size below its fixed part",
         seal(bytes({22, 0,                        // HS 22, but the name needs 22 + 5
                     '-', 'l', 'h', '0', '-',      // method
                     2, 0, 0, 0, 2, 0, 0, 0,       // compressed 2, uncompressed 2
                     0, 0, 0, 0, 0x20, 0,          // time, attribute, level 0
                     5, 'A', '.', 'T', 'X', 'T',   // name
                     0xEF, 0xEE, 'h', 'i', 0})),   // CRC of "hi", data, end
         {-1, {}, "LHA: bad header at offset 0"}},
        {"level-1 extended headers larger than the compressed size",
         seal(bytes({27, 0,                        // HS 27: basic header of 29 bytes
                     '-', 'l', 'h', '0', '-',      //
                     4, 0, 0, 0, 2, 0, 0, 0,       // compressed 4 (ext headers included), uncompressed 2
                     0, 0, 0, 0, 0x20, 1,          // level 1
                     2, 'A', 'B', 0xEF, 0xEE, 'M', // name "AB", CRC, OS id
                     10, 0,                        // first extended header: 10 bytes
                     0x7F, 1, 2, 3, 4, 5, 6, 7,    // type 0x7F, contents
                     0, 0,                         // no further header
                     'h', 'i', 0})),               // 10 > 4: the size wraps
         {-1, {}, "LHA: truncated archive"}},
        {"level-1 extended header past the end of the image",
         seal(bytes({27, 0, '-', 'l', 'h', '0', '-', 40, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0x20, 1,
                     2, 'A', 'B', 0xEF, 0xEE, 'M',
                     40, 0,                        // 40 bytes, but 6 remain
                     1, 'h', 'i', 0, 0, 0})),
         {-1, {}, ""}},
        {"level-2 extended-header chain that runs past the header",
         bytes({40, 0,                             // HS 40: data at 40
                '-', 'l', 'h', '0', '-',           //
                2, 0, 0, 0, 2, 0, 0, 0,            // compressed 2, uncompressed 2
                0, 0, 0, 0, 0, 2,                  // time, reserved, level 2
                0xEF, 0xEE, 'U',                   // CRC of "hi", OS id
                8, 0,                              // first extended header: 8 bytes
                1, 'A', '.', 'T', 'X', 'T',        // file name "A.TXT"
                200, 0,                            // next: 200 bytes, past the header
                0, 0, 0, 0, 0, 0,                  // rest of the header
                'h', 'i', 0}),
         {1, {"A.TXT"}, ""}},
        {"level-2 header size below its fixed part",
         bytes({20, 0, '-', 'l', 'h', '0', '-', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2,
                0, 0, 'U', 0, 0, 0}),              // HS 20 < 26
         {-1, {}, "LHA: bad header at offset 0"}},
        {"level-2 header larger than the image",
         bytes({0x40, 1, '-', 'l', 'h', '0', '-', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2,
                0, 0, 'U', 0, 0, 0}),              // HS 320 with 27 bytes
         {-1, {}, "LHA: truncated archive"}},
        {"level-2 header of 256 bytes reads as the end",
         bytes({0, 1, '-', 'l', 'h', '0', '-', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2,
                0, 0, 'U', 0, 0}),
         {0, {}, ""}},
        {"20-byte member claiming nearly 4 GiB",
         level0("-lh5-", "HUGE.BIN", std::string(20, '\0'), 0xFFFFFFF0u, 0),
         {-1, {}, "LHA: impossible size 4294967280 for HUGE.BIN"}},
        {"64-bit sizes beyond 4 GiB",
         bytes({53, 0, '-', 'l', 'h', '0', '-',   // HS 53
                2, 0, 0, 0, 2, 0, 0, 0,            // compressed 2, uncompressed 2 (low 32 bits)
                0, 0, 0, 0, 0, 2, 0xEF, 0xEE, 'U', // level 2, CRC of "hi", OS id
                8, 0,                              // file name header, 8 bytes
                1, 'Z', '.', 'B', 'I', 'N',        //   "Z.BIN"
                19, 0,                             // 64-bit sizes header, 19 bytes
                0x42, 2, 0, 0, 0, 0, 0, 0, 0,      //   compressed 2
                2, 0, 0, 0, 1, 0, 0, 0,            //   uncompressed 4 GiB + 2
                0, 0,                              // no further header
                'h', 'i'}),
         {-1, {}, "LHA: Z.BIN is larger than 4 GiB"}},
        {"stored member whose sizes differ", level0("-lh0-", "A.TXT", "hi", 3, 0xEEEF), {-1, {}, ""}},
        {"data past the end of the image", level0("-lh0-", "A.TXT", "hi", 2, 0xEEEF).substr(0, 30),
         {-1, {}, "LHA: truncated archive"}},
        {"name past the end of the image",
         stored("A.TXT", "hi") + level0("-lh0-", "LONGNAME.TXT", "", 0, 0).substr(0, 30),
         {-1, {"A.TXT"}, "LHA: truncated archive"}},
        {"empty image", "", {-1, {}, "LHA: no archive found"}},
        {"wrong checksum only", level0("-lh0-", "A.TXT", "hi", 2, 0xEEEF).replace(1, 1, "x"),
         {-1, {}, "LHA: no archive found"}},
        {"empty member with its CRC of 0", stored("E.DAT", ""), {1, {"E.DAT"}, ""}},
        {"members end without the zero byte", stored("A.TXT", "hi") + stored("B.TXT", "hello\n"),
         {2, {"A.TXT", "B.TXT"}, ""}},
    };
    for (const Case &c : cases)
        expect_walk(c.what, c.image, c.expect);
}

// Bad -lh5- data fails without a message; a CRC mismatch says so.
TEST(LhaWalk, BadCompressedData)
{
    BitWriter bad;
    bad.put(10, 16);
    bad.put(2, 5), bad.put(1, 3), bad.put(2, 3); // pre-tree lengths 1 and 2: under-full
    expect_walk("bad code", level0("-lh5-", "A.TXT", bad.bytes, 10, 0), {-1, {}, ""});
    BitWriter w;
    put_single_block(&w, 5, 'A', 0);
    expect_walk("crc", level0("-lh5-", "A.TXT", w.bytes, 5, 0x1234), {-1, {}, "LHA: CRC error in A.TXT"});
}

TEST(LhaWalk, NamesThatWouldLeaveTheFolderAreRefused)
{
    struct Case {
        std::string name;
        std::string converted; // empty: refused
    } cases[] = {
        {"DATA/FILE.DAT", "DATA\\FILE.DAT"},
        {"DATA\xFF" "FILE.DAT", "DATA\\FILE.DAT"},
        {"A..B.TXT", "A..B.TXT"},
        {"./A.TXT", ".\\A.TXT"},
        {"../EVIL.TXT", ""},
        {"DATA/../../EVIL.TXT", ""},
        {"DATA\\..", ""},
        {"... /EVIL.TXT", ""},
        {"/EVIL.TXT", ""},
        {"\xFF" "EVIL.TXT", ""},
        {"\\\\SERVER\\SHARE\\EVIL.TXT", ""},
        {"C:EVIL.TXT", ""},
        {"C:/EVIL.TXT", ""},
        {"EVIL.TXT:STREAM", ""},
        // Windows would open a device, or strip the end and write elsewhere.
        {"NUL", ""},
        {"AUX", ""},
        {"COM1", ""},
        {"AUX.TXT", ""},
        {"COM1.DAT", ""},
        {"DATA/con", ""},
        {"CONIN$", ""},
        {"CONOUT$", ""},
        {"LPT\xB9", ""},
        {"NUL /FILE.TXT", ""},
        {"DATA./FILE.TXT", ""},
        {"FILE.TXT ", ""},
        {"NULL.TXT", "NULL.TXT"},
        {"COM10", "COM10"},
    };
    for (const Case &c : cases) {
        std::string shown = c.converted;
        if (shown.empty()) {
            shown = c.name;
            for (char &ch : shown)
                if (ch == '/' || ch == '\xFF')
                    ch = '\\';
        }
        Expect e = c.converted.empty() ? Expect{-1, {}, "LHA: unsafe member name " + shown}
                                       : Expect{1, {c.converted}, ""};
        expect_walk(c.name, stored(c.name, "hi"), e);
    }
}

// Names that name no file: the folder itself.
TEST(LhaWalk, NamesWithoutAFileAreRefused)
{
    for (const char *name : {".", "./", "./.", "././"}) {
        std::string shown = name;
        for (char &ch : shown)
            if (ch == '/')
                ch = '\\';
        expect_walk(name, stored(name, "hi"), {-1, {}, "LHA: member without a file name: \"" + shown + "\""});
    }
}

// A name's control bytes never reach a log line raw, so no name can end a
// line and forge the next one.
TEST(LhaWalk, NamesInLinesAreEscaped)
{
    std::string bad = "A\r\nLHA CRC error in forged\x1B";
    expect_walk("unsafe", stored("../" + bad, "hi"), {-1, {}, "LHA: unsafe member name ..\\A\\r\\nLHA CRC error in forged\\x1B"});
    expect_walk("crc", level0("-lh0-", bad, "hi", 2, 0x1234), {-1, {}, "LHA: CRC error in A\\r\\nLHA CRC error in forged\\x1B"});
    expect_walk("method", level0("-lh9-", bad, "hi", 2, 0), {-1, {}, "LHA: unsupported method -lh9- for A\\r\\nLHA CRC error in forged\\x1B"});
}

// The bound on a -lh5- member's size: a block of 65535 symbols that take no
// bits, each a match of 256 bytes, from a 52-bit header.
TEST(LhaWalk, SizeBoundAdmitsTheDensestStream)
{
    BitWriter w;
    w.put(1, 16), w.put(0, 10), w.put(0, 9), w.put('A', 9), w.put(0, 8); // one literal A
    put_single_block(&w, 65535, 509, 0); // then matches of 256 at distance 1
    std::string want(1 + 65535 * 256u, 'A');
    std::string out(want.size(), '\0');
    ASSERT_EQ(1, lh5_decode((const unsigned char *)w.bytes.data(), w.bytes.size(), (unsigned char *)&out[0],
                            (uint32_t)out.size()));
    EXPECT_TRUE(out == want);
    EXPECT_LE(want.size(), lha_lh5_size_limit((uint32_t)w.bytes.size()));
    EXPECT_LT(lha_lh5_size_limit(20), 0xFFFFFFF0u);
}

// A real encoder goes far past 8 bits of output per compressed bit: a
// bound of compressed size x 2048 would refuse this archive.
TEST(LhaWalk, SizeBoundAdmitsJlhaZeros)
{
    std::string image = fixture("ZEROS.LZH");
    ASSERT_GT(image.size(), 0u);
    EXPECT_GT(4000000u, image.size() * 2048);
    MemorySink m;
    EXPECT_EQ(1, walk_image(image, &m));
}

// One member decoded in memory by its name: found in any letter case, past
// members that the walk would refuse and without decoding them, the last of
// two of that name; missing; or unreadable, with the reason.
TEST(LhaMember, ByNameInMemory)
{
    std::string l0 = fixture("L0.LZH");
    std::string bad_crc = level0("-lh0-", "MAIN.EXE", "abc", 3, 0x1234);
    struct Case {
        const char *what;
        std::string image, name;
        int result;
        std::string data; // when found
        std::string line; // the one log line, or empty
    } cases[] = {
        {"in a jlha archive", l0, "data\\file.dat", 1, original("DATA\\FILE.DAT"), ""},
        {"after a refused member", stored("AUX", "port") + stored("MAIN.EXE", "main"), "MAIN.EXE", 1, "main", ""},
        // Unpacking writes both, and the last one stays.
        {"twice", stored("MAIN.EXE", "first") + stored("main.exe", "last"), "MAIN.EXE", 1, "last", ""},
        {"missing", l0, "MAIN.EXE", 0, "", ""},
        {"empty member", stored("E", ""), "e", 1, "", ""},
        {"CRC error", stored("A", "a") + bad_crc, "MAIN.EXE", -1, "", "LHA: CRC error in MAIN.EXE"},
        {"cut short", stored("MAIN.EXE", "main").substr(0, 34), "MAIN.EXE", -1, "", "LHA: truncated archive"},
        {"no archive", "just text", "MAIN.EXE", -1, "", "LHA: no archive found"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        MemorySink m;
        LhaSink sink = m.sink();
        sink.write = nullptr;
        unsigned char *out = nullptr;
        uint32_t size = 77;
        EXPECT_EQ(k.result, lha_member((const unsigned char *)k.image.data(), k.image.size(), k.name.c_str(), &out,
                                       &size, &sink));
        EXPECT_EQ(k.result == 1, out != nullptr);
        if (out) {
            EXPECT_TRUE(std::string((const char *)out, size) == k.data);
        }
        free(out);
        EXPECT_EQ(k.line.empty() ? std::vector<std::string>() : std::vector<std::string>{k.line}, m.lines);
    }
}
