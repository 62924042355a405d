// The -lh5- decoder: LZSS with an 8 KiB reach whose literals, lengths and
// distances are sent as canonical Huffman codes at the start of each block.
// Codes up to 12 bits (8 for the small codes) decode with one table lookup;
// longer ones walk a few tree nodes. The output buffer is the window.
#include <stdlib.h>
#include <string.h>

#include "lha/lh5.h"
#include "lha/lha.h"

// Drops the top n bits of the window and pulls in as many new ones. Past the
// end of the input the stream reads as zero bits. n is at most 17.
static inline void fill_window(Lh5State *s, uint32_t n)
{
    uint32_t window = (s->bit_window << n) & 0xFFFF;
    while (n > s->held_bits) {
        n -= s->held_bits;
        window |= (s->held_byte << n) & 0xFFFF;
        s->held_byte = s->src_pos < s->src_size ? s->src[s->src_pos++] : 0;
        s->held_bits = 8;
    }
    s->held_bits -= n;
    s->bit_window = (window | (s->held_byte >> s->held_bits)) & 0xFFFF;
}

void fillbuf(Lh5State *s, uint32_t n)
{
    if (n > 17) { // only a broken code asks for more; keep every shift in range
        s->bad_table = 1;
        n = 17;
    }
    fill_window(s, n);
}

static inline uint32_t take(Lh5State *s, uint32_t n)
{
    uint32_t x = n ? s->bit_window >> (16 - n) : 0;
    fill_window(s, n);
    return x;
}

uint32_t take_bits(Lh5State *s, uint32_t n)
{
    if (n > 16) {
        s->bad_table = 1;
        return 0;
    }
    return take(s, n);
}

// Follows the 16-bit window's bits from bit top_bit down through the tree
// until v is a symbol of its set. A walk that runs out of bits on a node, or
// meets a value that is no node, leaves v at or above symbol_count: the
// caller fails.
static uint32_t walk_tree(const Lh5State *s, uint32_t window, uint32_t v, uint32_t symbol_count,
                          uint32_t top_bit)
{
    uint32_t mask = 1u << top_bit;
    while (v >= symbol_count && mask && v < LH5_NODES) {
        v = (window & mask) ? s->tree_right[v] : s->tree_left[v];
        mask >>= 1;
    }
    return v;
}

// Counts the code lengths and fills start[1..17] with where each length's
// codes begin in the 16-bit code space. 0 when a length is above 16 or the
// code does not fill the space exactly (all-zero lengths included).
static int count_lengths(uint32_t length_count, const uint8_t *lengths, uint32_t *start)
{
    uint32_t count[17] = {0};
    for (uint32_t i = 0; i < length_count; i++) {
        if (lengths[i] > 16)
            return 0;
        count[lengths[i]]++;
    }
    start[1] = 0;
    for (uint32_t i = 1; i <= 16; i++)
        start[i + 1] = start[i] + (count[i] << (16 - i));
    return start[17] == 65536;
}

// Hangs symbol s of a code longer than the table below the table entry for
// its top bits, making tree nodes as needed. 0 when nodes run out.
static int place_long_code(Lh5State *s, uint32_t code, uint32_t extra_bits, uint32_t lookup_bits,
                           uint16_t *slot, uint32_t symbol, uint32_t *avail)
{
    uint32_t mask = 1u << (15 - lookup_bits);
    while (extra_bits--) {
        if (*slot == 0) {
            if (*avail >= LH5_NODES)
                return 0;
            s->tree_left[*avail] = 0;
            s->tree_right[*avail] = 0;
            *slot = (uint16_t)(*avail)++;
        }
        if (*slot >= LH5_NODES)
            return 0;
        slot = (code & mask) ? &s->tree_right[*slot] : &s->tree_left[*slot];
        code <<= 1;
    }
    *slot = (uint16_t)symbol;
    return 1;
}

void make_table(Lh5State *s, uint32_t length_count, const uint8_t *lengths, uint32_t lookup_bits,
                uint16_t *table)
{
    uint32_t start[18], weight[17];
    if (!count_lengths(length_count, lengths, start)) {
        s->bad_table = 1;
        return;
    }
    uint32_t m = 16 - lookup_bits;
    for (uint32_t i = 1; i <= lookup_bits; i++) {
        start[i] >>= m;
        weight[i] = 1u << (lookup_bits - i);
    }
    for (uint32_t i = lookup_bits + 1; i <= 16; i++)
        weight[i] = 1u << (16 - i);
    // Entries past the short codes become roots of the longer codes' trees.
    uint32_t size = 1u << lookup_bits;
    for (uint32_t i = start[lookup_bits + 1] >> m; i < size; i++)
        table[i] = 0;
    uint32_t avail = length_count;
    for (uint32_t sym = 0; sym < length_count; sym++) {
        uint32_t len = lengths[sym];
        if (len == 0)
            continue;
        uint32_t next = start[len] + weight[len];
        if (len <= lookup_bits) {
            for (uint32_t i = start[len]; i < next; i++)
                table[i] = (uint16_t)sym;
        } else if (!place_long_code(s, start[len], len - lookup_bits, lookup_bits,
                                    &table[start[len] >> m], sym, &avail)) {
            s->bad_table = 1;
            return;
        }
        start[len] = next;
    }
}

// Stores a run of count zero lengths from *i on, never past limit.
static void store_zeros(uint8_t *lengths, uint32_t *i, uint32_t count, uint32_t limit)
{
    while (count-- > 0 && *i < limit)
        lengths[(*i)++] = 0;
}

// A code of one symbol: every lookup yields c and takes no bits.
static void set_single_code(uint16_t *table, uint32_t table_size, uint8_t *lengths, uint32_t count,
                            uint32_t c)
{
    memset(lengths, 0, count);
    for (uint32_t i = 0; i < table_size; i++)
        table[i] = (uint16_t)c;
}

void read_pt_len(Lh5State *s, uint32_t symbol_count, uint32_t count_bits, int zero_run_after)
{
    uint32_t n = take(s, count_bits);
    if (n == 0) {
        set_single_code(s->pt_table, 1u << LH5_PT_BITS, s->pt_len, symbol_count, take(s, count_bits));
        return;
    }
    uint32_t i = 0;
    while (i < n && i < LH5_PT_MAX) {
        uint32_t c = s->bit_window >> 13;
        if (c == 7) { // escape: each further 1 bit adds one, up to 20
            for (uint32_t mask = 1u << 12; s->bit_window & mask; mask >>= 1)
                c++;
        }
        fill_window(s, c < 7 ? 3 : c - 3);
        s->pt_len[i++] = (uint8_t)c;
        if ((int)i == zero_run_after)
            store_zeros(s->pt_len, &i, take(s, 2), LH5_PT_MAX);
    }
    if (i < symbol_count)
        memset(s->pt_len + i, 0, symbol_count - i);
    make_table(s, symbol_count, s->pt_len, LH5_PT_BITS, s->pt_table);
}

// One pre-tree symbol: 0-2 code zero runs, 3-18 the lengths 1-16.
static uint32_t decode_pre_tree(Lh5State *s)
{
    uint32_t c = s->pt_table[s->bit_window >> (16 - LH5_PT_BITS)];
    if (c >= LH5_NT)
        c = walk_tree(s, s->bit_window, c, LH5_NT, 15 - LH5_PT_BITS);
    if (c >= LH5_NT) {
        s->bad_table = 1;
        return 0;
    }
    fill_window(s, s->pt_len[c]);
    return c;
}

void read_char_len(Lh5State *s)
{
    uint32_t n = take(s, 9);
    if (n == 0) {
        set_single_code(s->char_table, 1u << LH5_CHAR_BITS, s->char_len, LH5_NC, take(s, 9));
        return;
    }
    uint32_t i = 0;
    while (i < n && i < LH5_NC) {
        uint32_t c = decode_pre_tree(s);
        if (s->bad_table)
            return;
        if (c == 0)
            store_zeros(s->char_len, &i, 1, LH5_NC);
        else if (c == 1)
            store_zeros(s->char_len, &i, take(s, 4) + 3, LH5_NC);
        else if (c == 2)
            store_zeros(s->char_len, &i, take(s, 9) + 20, LH5_NC);
        else
            s->char_len[i++] = (uint8_t)(c - 2);
    }
    memset(s->char_len + i, 0, LH5_NC - i);
    make_table(s, LH5_NC, s->char_len, LH5_CHAR_BITS, s->char_table);
}

uint32_t decode_char(Lh5State *s)
{
    uint32_t c = s->char_table[s->bit_window >> (16 - LH5_CHAR_BITS)];
    if (c >= LH5_NC) {
        c = walk_tree(s, s->bit_window, c, LH5_NC, 15 - LH5_CHAR_BITS);
        if (c >= LH5_NC) { // the walk ended on a node: a broken code
            s->bad_table = 1;
            return 0;
        }
    }
    fill_window(s, s->char_len[c]);
    return c;
}

uint32_t decode_position(Lh5State *s)
{
    uint32_t j = s->pt_table[s->bit_window >> (16 - LH5_PT_BITS)];
    if (j >= LH5_NP) {
        j = walk_tree(s, s->bit_window, j, LH5_NP, 15 - LH5_PT_BITS);
        if (j >= LH5_NP) {
            s->bad_table = 1;
            return 0;
        }
    }
    fill_window(s, s->pt_len[j]);
    if (j == 0)
        return 1;
    return (1u << (j - 1)) + take(s, j - 1) + 1;
}

// A block header rebuilds all three codes. Once a code is bad the rest of
// the header is not read: the member has failed.
static void read_block_header(Lh5State *s)
{
    s->block_left = take(s, 16);
    read_pt_len(s, LH5_NT, 5, 3);
    if (!s->bad_table)
        read_char_len(s);
    if (!s->bad_table)
        read_pt_len(s, LH5_NP, 4, -1);
}

// Copies a match forward byte by byte (so a distance shorter than the length
// repeats the last bytes), cut where the output ends. Where the distance is
// at least 8 and the output has room, 8 bytes move at a time: each step then
// reads only bytes already final, and the few written past the match are
// rewritten by the bytes that follow it.
static uint32_t copy_match(unsigned char *__restrict out, uint32_t pos, uint32_t out_size, uint32_t distance,
                           uint32_t length)
{
    if (length > out_size - pos)
        length = out_size - pos;
    unsigned char *to = out + pos;
    const unsigned char *from = to - distance;
    if (distance >= 8 && out_size - pos - length >= 8) {
        for (uint32_t i = 0; i < length; i += 8)
            memcpy(to + i, from + i, 8);
    } else if (distance >= length) {
        memcpy(to, from, length);
    } else {
        for (uint32_t i = 0; i < length; i++)
            to[i] = from[i];
    }
    return pos + length;
}

// The 64 input bits from p on, the first byte highest (one load and a byte
// swap for the compilers we use).
static inline uint64_t load_bits64(const unsigned char *p)
{
    return (uint64_t)p[0] << 56 | (uint64_t)p[1] << 48 | (uint64_t)p[2] << 40 | (uint64_t)p[3] << 32 |
           (uint64_t)p[4] << 24 | (uint64_t)p[5] << 16 | (uint64_t)p[6] << 8 | p[7];
}

// The window record as it stands bit_pos bits into the input, bit_pos + 16
// bits lying inside it: the bytes that cover the window taken, no more.
static void seek_window(Lh5State *s, uint64_t bit_pos)
{
    uint64_t end = bit_pos + 16;
    s->src_pos = (end + 7) >> 3;
    s->held_bits = (uint32_t)(s->src_pos * 8 - end);
    s->held_byte = s->src[s->src_pos - 1];
    uint32_t v = 0;
    for (uint64_t i = bit_pos >> 3; i < s->src_pos; i++)
        v = v << 8 | s->src[i];
    s->bit_window = (v >> s->held_bits) & 0xFFFF;
}

// One table of a code for the fast loop: each entry holds the symbol and
// its code length (symbol | length << 16), or a tree node as it stands.
static void pair_lengths(const uint16_t *table, uint32_t table_size, const uint8_t *lengths,
                         uint32_t symbol_count, uint32_t *pairs)
{
    for (uint32_t i = 0; i < table_size; i++) {
        uint32_t v = table[i];
        pairs[i] = v < symbol_count ? v | (uint32_t)lengths[v] << 16 : v;
    }
}

enum {
    FAST_SLACK = 10, // input bytes a symbol's loads may reach past its first
    SYMBOL_BITS = 16, // the longest code
    MATCH_BITS = 28, // the longest distance code and its 12 extra bits
};

// The fast loop's view of the stream: the next avail bits at the top of
// bits, the first of them bit_pos bits into the input.
struct BitReg {
    uint64_t bits;
    uint64_t bit_pos;
    uint32_t avail;
};

// Refills r with the 57 bits or more that one load gives from bit_pos on.
static inline void fill_reg(BitReg *r, const unsigned char *src)
{
    r->bits = load_bits64(src + (r->bit_pos >> 3)) << (r->bit_pos & 7);
    r->avail = 64 - (uint32_t)(r->bit_pos & 7);
}

static inline void drop_reg(BitReg *r, uint32_t n)
{
    r->bits <<= n;
    r->avail -= n;
    r->bit_pos += n;
}

// decode_block's loop while enough input lies ahead: the stream's next bits
// sit in a 64-bit register, refilled by one load from the input when a code
// might not fit, instead of moving through the window record a byte at a
// time. The codes, their lengths and every failure are those of
// decode_char and decode_position; the record is set to where the loop
// stopped before it returns.
static uint32_t decode_block_fast(Lh5State *__restrict s, unsigned char *__restrict out, uint32_t pos,
                                  uint32_t out_size)
{
    const unsigned char *src = s->src;
    uint64_t size = s->src_size;
    if (size - s->src_pos < FAST_SLACK) // also keeps the zero bits past the end out
        return pos;
    uint32_t char_pairs[1 << LH5_CHAR_BITS], pt_pairs[1 << LH5_PT_BITS];
    pair_lengths(s->char_table, 1 << LH5_CHAR_BITS, s->char_len, LH5_NC, char_pairs);
    pair_lengths(s->pt_table, 1 << LH5_PT_BITS, s->pt_len, LH5_NP, pt_pairs);
    BitReg r = {0, s->src_pos * 8 - s->held_bits - 16, 0};
    uint32_t left = s->block_left;
    // A symbol moves at most 44 bits on: its loads stay inside the input.
    while (pos < out_size && left != 0 && (r.bit_pos >> 3) <= size - FAST_SLACK) {
        if (r.avail < SYMBOL_BITS)
            fill_reg(&r, src);
        left--;
        uint32_t pair = char_pairs[r.bits >> (64 - LH5_CHAR_BITS)];
        if ((pair & 0xFFFF) >= LH5_NC) {
            uint32_t c = walk_tree(s, (uint32_t)(r.bits >> 48), pair & 0xFFFF, LH5_NC, 15 - LH5_CHAR_BITS);
            if (c >= LH5_NC) {
                s->bad_table = 1;
                break;
            }
            pair = c | (uint32_t)s->char_len[c] << 16;
        }
        uint32_t c = pair & 0xFFFF;
        drop_reg(&r, pair >> 16);
        if (c < 256) {
            out[pos++] = (unsigned char)c;
            continue;
        }
        if (r.avail < MATCH_BITS)
            fill_reg(&r, src);
        pair = pt_pairs[r.bits >> (64 - LH5_PT_BITS)];
        if ((pair & 0xFFFF) >= LH5_NP) {
            uint32_t j = walk_tree(s, (uint32_t)(r.bits >> 48), pair & 0xFFFF, LH5_NP, 15 - LH5_PT_BITS);
            if (j >= LH5_NP) {
                s->bad_table = 1;
                break;
            }
            pair = j | (uint32_t)s->pt_len[j] << 16;
        }
        uint32_t j = pair & 0xFFFF, d = j == 0 ? 1 : 2;
        drop_reg(&r, pair >> 16);
        if (j > 1) {
            d = (1u << (j - 1)) + (uint32_t)(r.bits >> (64 - (j - 1))) + 1;
            drop_reg(&r, j - 1);
        }
        if (d > pos) { // reaches before the member's first byte
            s->bad_table = 1;
            break;
        }
        pos = copy_match(out, pos, out_size, d, c - 253);
    }
    s->block_left = left;
    seek_window(s, r.bit_pos);
    return pos;
}

// Decodes symbols into out from pos on, while the block lasts and the output
// is not full. The output never aliases the state, which lets the compiler
// keep the bit window in registers across the stores.
static uint32_t decode_block(Lh5State *__restrict s, unsigned char *__restrict out, uint32_t pos,
                             uint32_t out_size)
{
    pos = decode_block_fast(s, out, pos, out_size);
    while (pos < out_size && s->block_left != 0 && !s->bad_table) {
        s->block_left--;
        uint32_t c = decode_char(s);
        if (s->bad_table)
            break;
        if (c < 256) {
            out[pos++] = (unsigned char)c;
            continue;
        }
        uint32_t d = decode_position(s);
        if (s->bad_table)
            break;
        if (d > pos) { // reaches before the member's first byte
            s->bad_table = 1;
            break;
        }
        pos = copy_match(out, pos, out_size, d, c - 253);
    }
    return pos;
}

int lh5_decode(const unsigned char *src, uint64_t src_size, unsigned char *out, uint32_t out_size)
{
    Lh5State *s = (Lh5State *)calloc(1, sizeof(Lh5State));
    if (!s)
        return 0;
    s->src = src;
    s->src_size = src_size;
    fill_window(s, 16);
    uint32_t pos = 0;
    while (pos < out_size && !s->bad_table) {
        if (s->block_left == 0) {
            read_block_header(s);
            if (s->bad_table)
                break;
            if (s->block_left == 0) { // size 0 wraps: the block runs to the end
                s->block_left--;
                pos = decode_block(s, out, pos, out_size);
                continue;
            }
        }
        pos = decode_block(s, out, pos, out_size);
    }
    int ok = !s->bad_table && pos == out_size;
    free(s);
    return ok;
}
