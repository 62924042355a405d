// LHA archives held in memory: standing alone or after a DOS self-extracting
// stub, header levels 0 to 2, methods -lh0- and -lh5-, CRC-16 per member.
#pragma once
#include <stdint.h>

#include "util/util.h"

// Extracts every member into dest. Returns the number of members written, or
// -1 after any failure (the reason is logged, except for decoder failures).
// progress, when given, counts each member's bytes, and its watch is told
// of each member with its CRC-32 (and may say that it is there already).
int lha_extract(const unsigned char *data, uint64_t size, const char *dest, Progress *progress);

// Decodes the member of that name in memory, as lha_member does, logging
// through setup_log: 1 with *out (freed by the caller), 0 when there is no
// such member, -1 when it cannot be read.
int lha_read_member(const unsigned char *data, uint64_t size, const char *name, unsigned char **out,
                    uint32_t *out_size);

// Decodes one -lh5- member into out[out_size]; 1 when exactly out_size bytes
// were produced from well-formed codes, else 0.
int lh5_decode(const unsigned char *src, uint64_t src_size, unsigned char *out, uint32_t out_size);
