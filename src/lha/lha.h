// LHA archives held in memory: standing alone or after a DOS self-extracting
// stub, header levels 0 to 2, methods -lh0- and -lh5-, CRC-16 per member.
#pragma once
#include <stdint.h>

#include "util/util.h"

// Extracts every member into dest. Returns the number of members written, or
// -1 after any failure (the reason is logged, except for decoder failures).
int lha_extract(const unsigned char *data, uint64_t size, const char *dest, Progress *progress);

// Decodes one -lh5- member into out[out_size]; 1 when exactly out_size bytes
// were produced from well-formed codes, else 0.
int lh5_decode(const unsigned char *src, uint64_t src_size, unsigned char *out, uint32_t out_size);
