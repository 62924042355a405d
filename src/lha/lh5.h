// The -lh5- decoder's state and steps, visible to the tests and the fuzzers.
// Plain C++ without system calls: it builds natively as well as for Windows.
#pragma once
#include <stdint.h>

enum {
    LH5_NC = 510,        // character/length symbols: 256 literals, 254 lengths
    LH5_NT = 19,         // pre-tree symbols
    LH5_NP = 14,         // position symbols
    LH5_NODES = 1019,    // tree nodes 0..1018, shared by the three codes
    LH5_PT_MAX = 128,    // stored pre-tree/position lengths
    LH5_CHAR_BITS = 12,  // lookup bits of the character/length table
    LH5_PT_BITS = 8,     // lookup bits of the pre-tree and position tables
};

struct Lh5State {
    const unsigned char *src;
    uint64_t src_size;
    uint64_t src_pos;
    uint32_t bit_window; // next 16 bits of the stream, next bit in bit 15
    uint32_t held_byte;
    uint32_t held_bits;
    uint32_t block_left;
    uint16_t tree_left[LH5_NODES];
    uint16_t tree_right[LH5_NODES];
    uint8_t char_len[LH5_NC];
    uint8_t pt_len[LH5_PT_MAX];
    uint16_t char_table[1 << LH5_CHAR_BITS];
    uint16_t pt_table[1 << LH5_PT_BITS];
    uint32_t bad_table; // sticky: set when a code cannot be built or used
};

void fillbuf(Lh5State *s, uint32_t n);
uint32_t take_bits(Lh5State *s, uint32_t n);
void make_table(Lh5State *s, uint32_t length_count, const uint8_t *lengths, uint32_t lookup_bits,
                uint16_t *table);
void read_pt_len(Lh5State *s, uint32_t symbol_count, uint32_t count_bits, int zero_run_after);
void read_char_len(Lh5State *s);
uint32_t decode_char(Lh5State *s);
uint32_t decode_position(Lh5State *s);
