// Helpers of the LHA tests: a sink that keeps members in memory and a bit
// writer for hand-made -lh5- streams.
#pragma once
#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "lha/walk.h"
#include "sha256.h"

// Collects what the walk hands over: members by name, log lines, sizes.
struct MemorySink {
    std::map<std::string, std::string> files;
    std::vector<std::string> order;
    std::vector<std::string> lines;
    uint64_t progressed = 0;
    LhaSink sink();
};

// lha_walk over a string image into a fresh MemorySink.
int walk_image(const std::string &image, MemorySink *out);

// Most significant bit first, as the decoder reads them.
struct BitWriter {
    std::string bytes;
    uint32_t used = 0; // bits used in the last byte
    void put(uint32_t value, uint32_t bits);
};

// A block header whose three codes each have a single symbol (count 0): every
// symbol of the block then takes no bits.
void put_single_block(BitWriter *w, uint32_t block_size, uint32_t char_symbol, uint32_t position_symbol);


// A fixture made by tests/lha/fixtures.py, and one of its original files.
std::string fixture(const std::string &name);
std::string original(const std::string &name);
