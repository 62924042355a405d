#include "lhatest.h"

#include "testsupport.h"

static int keep_member(void *ctx, const char *name, const unsigned char *data, uint32_t size)
{
    MemorySink *m = (MemorySink *)ctx;
    m->files[name] = std::string((const char *)data, size);
    m->order.push_back(name);
    return 1;
}

static void keep_line(void *ctx, const char *line) { ((MemorySink *)ctx)->lines.push_back(line); }

static void keep_progress(void *ctx, uint32_t size) { ((MemorySink *)ctx)->progressed += size; }

LhaSink MemorySink::sink() { return LhaSink{this, keep_member, keep_line, keep_progress, 0}; }

int walk_image(const std::string &image, MemorySink *out)
{
    LhaSink s = out->sink();
    return lha_walk((const unsigned char *)image.data(), image.size(), &s);
}

void BitWriter::put(uint32_t value, uint32_t bits)
{
    while (bits--) {
        if (used == 0 || used == 8) {
            bytes.push_back(0);
            used = 0;
        }
        if (value >> bits & 1)
            bytes.back() = (char)(bytes.back() | 0x80 >> used);
        used++;
    }
}

void put_single_block(BitWriter *w, uint32_t block_size, uint32_t char_symbol, uint32_t position_symbol)
{
    w->put(block_size, 16);
    w->put(0, 5); // pre-tree: count 0 ...
    w->put(0, 5); // ... its one symbol (unused)
    w->put(0, 9); // character/length code: count 0 ...
    w->put(char_symbol, 9);
    w->put(0, 4); // position code: count 0 ...
    w->put(position_symbol, 4);
}

std::string fixture(const std::string &name) { return slurp(build_path("lha-fixtures\\" + name)); }
std::string original(const std::string &name) { return slurp(build_path("lha-fixtures\\src\\" + name)); }

