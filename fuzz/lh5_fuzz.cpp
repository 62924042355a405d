// Fuzzes lh5_decode: the first three bytes give the output size (their low
// 20 bits: up to 1 MiB, so that streams of zero-bit codes, which decode one
// symbol per byte, stay quick), the rest is the compressed stream. The output buffer is exactly
// that size, so a write past it is caught by AddressSanitizer.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "lha/lha.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 3)
        return 0;
    uint32_t out_size = (data[0] | (uint32_t)data[1] << 8 | (uint32_t)data[2] << 16) & 0xFFFFF;
    unsigned char *out = (unsigned char *)malloc(out_size ? out_size : 1);
    if (!out)
        return 0;
    // The stream gets its own allocation so reads past its end are caught.
    size_t src_size = size - 3;
    unsigned char *src = (unsigned char *)malloc(src_size ? src_size : 1);
    memcpy(src, data + 3, src_size);
    lh5_decode(src, src_size, out, out_size);
    free(src);
    free(out);
    return 0;
}
