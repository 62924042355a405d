// The member walk over an archive held in memory. It makes no system calls:
// members, log lines and progress leave through the sink, so the Windows
// extractor and the native tests and fuzzers share the same walk.
#pragma once
#include <stdint.h>

struct LhaSink {
    void *ctx;
    // Writes one verified member; name is relative, folders separated by '\'.
    // Returns 1 on success; on 0 the walk fails (the sink logs its reason).
    int (*write)(void *ctx, const char *name, const unsigned char *data, uint32_t size);
    // One log line, "LHA: ..." without a line end.
    void (*log)(void *ctx, const char *line);
    // Called after each written member with its size; may be null.
    void (*member_done)(void *ctx, uint32_t size);
    // Members claiming more bytes are refused (0: no cap). The fuzzers cap
    // what a few crafted bytes may make the walk allocate.
    uint32_t max_size;
};

// Extracts every member through the sink. Returns the number of members
// written, or -1 after the first failure.
int lha_walk(const unsigned char *data, uint64_t size, const LhaSink *sink);

// Decodes the last member named name (ASCII letter case aside, folders
// separated by '\'), the one that unpacking leaves, into a heap buffer
// *out that the caller frees, its CRC-16 checked, with its size in
// *out_size; other members are passed over undecoded, and nothing is
// written (the sink's write may be null). Returns
// 1; 0 when there is no such member; -1 when the archive or the member
// cannot be read (logged through the sink).
int lha_member(const unsigned char *data, uint64_t size, const char *name, unsigned char **out, uint32_t *out_size,
               const LhaSink *sink);

// Finds the first member header, past a self-extracting stub if there is
// one. Returns 1 and its offset in *at, or 0 when no position qualifies.
int lha_find_first(const unsigned char *data, uint64_t size, uint64_t *at);

// CRC-16/ARC (reflected polynomial 0x8005, no final XOR).
uint16_t lha_crc16(const unsigned char *data, uint64_t size);

// 1 when a converted member name names a file inside the output folder and
// Windows would create it under that name: no drive or stream colon, no
// leading separator, at least one step besides empty ones and ".", and no
// step that name_reserved refuses (device names, "..", a final dot or blank).
int lha_name_safe(const char *name);

// The largest uncompressed size a -lh5- member of compressed_size bytes can
// decode to in a stream any encoder writes.
uint64_t lha_lh5_size_limit(uint32_t compressed_size);
