// Fuzzes the member walk over a whole archive image. The sink checks what
// the walk hands over: a name that could leave the output folder aborts
// the run, and every byte of each member is read.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "lha/walk.h"

static int check_member(void *, const char *name, const unsigned char *data, uint32_t size)
{
    if (!lha_name_safe(name))
        abort();
    lha_crc16(data, size); // reads every byte: all must lie inside the buffer
    return 1;
}

static void ignore_line(void *, const char *line)
{
    if (strncmp(line, "LHA: ", 5) != 0)
        abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    unsigned char *image = (unsigned char *)malloc(size ? size : 1);
    memcpy(image, data, size);
    LhaSink sink = {nullptr, check_member, ignore_line, nullptr, 1u << 20};
    lha_walk(image, size, &sink);
    free(image);
    return 0;
}
