// The -lh5- decoder on hand-made bit streams: one-symbol codes, real
// canonical codes with zero runs, matches at the edges of the output, and
// the broken codes that must fail the member.
#include <stdlib.h>
#include <string.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "lha/lh5.h"
#include "lha/lha.h"
#include "lhatest.h"

namespace {

// Canonical codes in the decoder's order: shorter first, then by symbol.
std::vector<uint32_t> canonical(const std::vector<int> &lengths)
{
    std::vector<uint32_t> codes(lengths.size());
    uint32_t code = 0;
    for (int len = 1; len <= 16; len++) {
        for (size_t s = 0; s < lengths.size(); s++) {
            if (lengths[s] == len)
                codes[s] = code++;
        }
        code <<= 1;
    }
    return codes;
}

// A pre-tree of 16 symbols of 4 bits each: 0, 1 and 2 code zero runs,
// 3 to 15 the lengths 1 to 13. Then the 510 character lengths through it.
void put_char_code(BitWriter *w, const std::vector<int> &lengths)
{
    w->put(16, 5);
    for (int i = 0; i < 16; i++) {
        w->put(4, 3);
        if (i == 2)
            w->put(0, 2); // the zero run after the third length
    }
    w->put(510, 9);
    for (size_t i = 0; i < 510;) {
        size_t run = 0;
        while (i + run < 510 && lengths[i + run] == 0 && run < 531)
            run++;
        if (run >= 20) {
            w->put(2, 4), w->put((uint32_t)run - 20, 9);
        } else if (run >= 3) {
            w->put(1, 4), w->put((uint32_t)run - 3, 4);
        } else if (run >= 1) {
            w->put(0, 4), run = 1;
        } else {
            w->put(lengths[i] + 2, 4), run = 1;
        }
        i += run;
    }
}

// Position lengths below 7, sent plainly.
void put_position_code(BitWriter *w, const std::vector<int> &lengths)
{
    w->put((uint32_t)lengths.size(), 4);
    for (int len : lengths)
        w->put(len, 3);
}

struct Code {
    std::vector<int> lengths;
    std::vector<uint32_t> codes;
    explicit Code(std::vector<int> l) : lengths(l), codes(canonical(l)) {}
    void put(BitWriter *w, int symbol) const { w->put(codes[symbol], lengths[symbol]); }
};

std::string decode(const std::string &stream, uint32_t out_size, int *ok)
{
    std::string out(out_size, '\xEE');
    *ok = lh5_decode((const unsigned char *)stream.data(), stream.size(), (unsigned char *)&out[0], out_size);
    return out;
}

// "ABC" (two bits each) then a match of length 3 whose distance uses
// position symbol 2 (distance 3 or 4) with the extra bit given.
std::string abc_then_match(uint32_t extra_bit)
{
    std::vector<int> chars(510, 0);
    chars['A'] = chars['B'] = chars['C'] = chars[256] = 2;
    Code char_code(chars), position({1, 0, 1});
    BitWriter w;
    w.put(4, 16);
    put_char_code(&w, chars);
    put_position_code(&w, position.lengths);
    for (int c : {'A', 'B', 'C'})
        char_code.put(&w, c);
    char_code.put(&w, 256);
    position.put(&w, 2);
    w.put(extra_bit, 1);
    return w.bytes;
}

struct StateDeleter {
    void operator()(Lh5State *s) const { free(s); }
};
typedef std::unique_ptr<Lh5State, StateDeleter> StatePtr;

StatePtr state_over(const std::string &bytes)
{
    StatePtr s((Lh5State *)calloc(1, sizeof(Lh5State)));
    s->src = (const unsigned char *)bytes.data();
    s->src_size = bytes.size();
    fillbuf(s.get(), 16);
    return s;
}

} // namespace

TEST(Lh5, EmptyMemberReadsNoBlock)
{
    unsigned char out[1];
    EXPECT_EQ(1, lh5_decode((const unsigned char *)"", 0, out, 0));
}

TEST(Lh5, OneSymbolCodesTakeNoBits)
{
    BitWriter w;
    put_single_block(&w, 1000, 'A', 0);
    int ok = 0;
    EXPECT_EQ(std::string(1000, 'A'), decode(w.bytes, 1000, &ok));
    EXPECT_EQ(1, ok);
}

// Size 0 wraps to 2^32 - 1 symbols; after a full block of 65535 the next
// header is read from the zero bits past the end: literal 0 from then on.
TEST(Lh5, BlockSizeZeroLastsToTheEnd)
{
    for (uint32_t size : {0u, 65535u}) {
        BitWriter w;
        put_single_block(&w, size, 'A', 0);
        int ok = 0;
        std::string out = decode(w.bytes, 100000, &ok);
        EXPECT_EQ(1, ok);
        EXPECT_EQ(size == 0 ? std::string(100000, 'A') : std::string(65535, 'A') + std::string(34465, '\0'), out)
            << size;
    }
}

// A one-symbol pre-tree (symbol 3, length 1) gives the first two
// characters length 1: the stream's bits are then the bytes 0 and 1. Past
// the end the stream reads as zero bits.
TEST(Lh5, TwoSymbolCodeAndZeroBitsPastTheEnd)
{
    BitWriter w;
    w.put(10, 16);
    w.put(0, 5), w.put(3, 5);
    w.put(2, 9);
    w.put(0, 4), w.put(0, 4);
    w.put(0x6, 4); // 0110
    int ok = 0;
    EXPECT_EQ(std::string("\0\1\1\0\0\0\0\0", 8), decode(w.bytes, 8, &ok));
    EXPECT_EQ(1, ok);
}

// A distance equal to the bytes produced copies from the first byte; one
// farther fails the member.
TEST(Lh5, DistanceReachesTheFirstByteButNoFarther)
{
    int ok = 0;
    EXPECT_EQ("ABCABC", decode(abc_then_match(0), 6, &ok));
    EXPECT_EQ(1, ok);
    decode(abc_then_match(1), 6, &ok);
    EXPECT_EQ(0, ok);
}

TEST(Lh5, LeftoverInputIsIgnored)
{
    int ok = 0;
    EXPECT_EQ("ABCABC", decode(abc_then_match(0) + std::string(50, '\x5A'), 6, &ok));
    EXPECT_EQ(1, ok);
}

// Distance 1, length 256 repeats the last byte; a match past the output's
// end is cut and the member still succeeds.
TEST(Lh5, LongRepeatAndMatchCutAtTheEnd)
{
    std::vector<int> chars(510, 0);
    chars['A'] = chars[509] = 1;
    Code code(chars);
    BitWriter w;
    w.put(2, 16);
    put_char_code(&w, chars);
    w.put(0, 4), w.put(0, 4); // distance 1 always
    code.put(&w, 'A');
    code.put(&w, 509);
    for (uint32_t size : {257u, 100u}) {
        int ok = 0;
        EXPECT_EQ(std::string(size, 'A'), decode(w.bytes, size, &ok));
        EXPECT_EQ(1, ok);
    }
}

TEST(Lh5, MakeTableRejectsCodesThatDoNotFill)
{
    struct Case {
        const char *what;
        std::vector<uint8_t> lengths;
        int bad;
    } cases[] = {
        {"complete", {1, 2, 3, 3}, 0},
        {"all zero", {0, 0, 0, 0}, 1},
        {"over-full", {1, 1, 1, 0}, 1},
        {"under-full", {1, 0, 0, 0}, 1},
        {"length 17", {1, 2, 3, 17}, 1},
        {"length 20 beside a full code", {1, 1, 0, 20}, 1},
    };
    for (const Case &c : cases) {
        StatePtr s = state_over("");
        std::vector<uint8_t> lengths = c.lengths;
        lengths.resize(LH5_NP, 0);
        make_table(s.get(), LH5_NP, lengths.data(), LH5_PT_BITS, s->pt_table);
        EXPECT_EQ((uint32_t)c.bad, s->bad_table) << c.what;
    }
}

// Codes longer than the table hang below it as tree nodes.
TEST(Lh5, LongCodesWalkTheTree)
{
    std::vector<int> chars(510, 0);
    for (int i = 0; i < 13; i++)
        chars[i] = i + 1; // lengths 1 .. 13
    chars[13] = 13;       // fills the code space
    Code code(chars);
    BitWriter w;
    w.put(14, 16);
    put_char_code(&w, chars);
    w.put(0, 4), w.put(0, 4);
    std::string want;
    for (int i = 13; i >= 0; i--)
        code.put(&w, i), want += (char)i;
    int ok = 0;
    EXPECT_EQ(want, decode(w.bytes, 14, &ok));
    EXPECT_EQ(1, ok);
}

// The escape: 111 and then 13 more 1 bits make length 20 and drop 17 bits,
// the bit after the 16 ones among them.
TEST(Lh5, LengthEscapeUpTo20)
{
    BitWriter w;
    w.put(1, 5);
    w.put(0xFFFF, 16);
    w.put(1, 1);
    w.put(0xAB, 8);
    StatePtr s = state_over(w.bytes);
    read_pt_len(s.get(), LH5_NT, 5, 3);
    EXPECT_EQ(20, s->pt_len[0]);
    EXPECT_EQ(0xABu, s->bit_window >> 8);
    EXPECT_EQ(1u, s->bad_table); // a length above 16 rejects the code
}

// The 2-bit zero run follows the third length, even when the count is 3;
// with a count of 2 it is not read.
TEST(Lh5, ZeroRunAfterTheThirdLength)
{
    for (uint32_t count : {2u, 3u}) {
        BitWriter w;
        w.put(count, 5);
        w.put(1, 3), w.put(1, 3);
        if (count == 3)
            w.put(0, 3), w.put(0, 2);
        w.put(0xAB, 8);
        StatePtr s = state_over(w.bytes);
        read_pt_len(s.get(), LH5_NT, 5, 3);
        EXPECT_EQ(0xABu, s->bit_window >> 8) << count;
        EXPECT_EQ(0u, s->bad_table) << count;
    }
}

// Counts beyond the alphabet (31 for the 19 pre-tree symbols, 15 for the 14
// position symbols) store the extra lengths and ignore them.
TEST(Lh5, CountLargerThanTheAlphabet)
{
    BitWriter pre;
    pre.put(31, 5);
    for (int i = 0; i < 31; i++) {
        pre.put(i < 16 || i == 30 ? 4 : 0, 3); // 16 lengths of 4 fill the code; entry 30 is extra
        if (i == 2)
            pre.put(0, 2);
    }
    StatePtr s = state_over(pre.bytes);
    read_pt_len(s.get(), LH5_NT, 5, 3);
    EXPECT_EQ(0u, s->bad_table);
    EXPECT_EQ(4, s->pt_len[30]);

    BitWriter pos;
    pos.put(15, 4);
    for (int i = 0; i < 15; i++)
        pos.put(i < 2 || i == 14 ? 1 : 0, 3); // two lengths of 1; entry 14 is extra
    s = state_over(pos.bytes);
    read_pt_len(s.get(), LH5_NP, 4, -1);
    EXPECT_EQ(0u, s->bad_table);
    EXPECT_EQ(1, s->pt_len[14]);
}

// Count 511 and a zero run of 531: the run stops at entry 509, and the
// all-zero lengths reject the code.
TEST(Lh5, ZeroRunStopsAtTheLastEntry)
{
    BitWriter w;
    w.put(0, 5), w.put(2, 5); // pre-tree: always "run of 20 + 9 bits"
    w.put(511, 9);
    w.put(511, 9);
    StatePtr s = state_over(w.bytes);
    read_pt_len(s.get(), LH5_NT, 5, 3);
    read_char_len(s.get());
    EXPECT_EQ(1u, s->bad_table);
    for (int i = 0; i < LH5_NC; i++)
        ASSERT_EQ(0, s->char_len[i]);
}

// A walk that runs out of bits on a node fails instead of using the node
// number as a symbol.
TEST(Lh5, TreeWalkEndingOnANodeFails)
{
    StatePtr s = state_over("\xFF\xFF");
    for (uint16_t &e : s->char_table)
        e = 600;
    s->tree_left[600] = s->tree_right[600] = 600;
    decode_char(s.get());
    EXPECT_EQ(1u, s->bad_table);
    s = state_over("\xFF\xFF");
    for (uint16_t &e : s->pt_table)
        e = 20;
    s->tree_right[20] = 20;
    decode_position(s.get());
    EXPECT_EQ(1u, s->bad_table);
}

// A corrupt block header fails the member, whatever follows.
TEST(Lh5, BadBlockHeaderFailsTheMember)
{
    BitWriter w;
    w.put(10, 16);
    w.put(2, 5);
    w.put(1, 3), w.put(2, 3); // pre-tree lengths 1 and 2: under-full
    w.put(0, 32);
    int ok = 1;
    decode(w.bytes, 10, &ok);
    EXPECT_EQ(0, ok);
}
