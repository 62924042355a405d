// CRC-32 (IEEE 802.3, reflected polynomial 0xEDB88320). Pure computation: no
// system calls, so the native fuzz and sanitizer builds can use it too.
#include "util/util.h"

static uint32_t crc_tab[256];

static void build_crc_tab(void)
{
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        crc_tab[i] = c;
    }
}

uint32_t crc32_buf(const void *data, uint64_t len)
{
    // Entry 0 of the built table is 0, entry 1 never is.
    if (crc_tab[1] == 0)
        build_crc_tab();
    if (len == 0)
        return 0;
    const unsigned char *b = (const unsigned char *)data;
    uint32_t c = 0xFFFFFFFFu;
    for (uint64_t i = 0; i < len; i++)
        c = (c >> 8) ^ crc_tab[(c ^ b[i]) & 0xFF];
    return ~c;
}

void progress_add(Progress *p, uint64_t n)
{
    p->done += n;
    if (p->callback)
        p->callback(p->done, p->total, p->ctx);
}
