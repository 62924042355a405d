// Reflected CRCs: CRC-32 (IEEE 802.3, polynomial 0xEDB88320), and any other
// reflected CRC of up to 32 bits, computed eight bytes a step from tables,
// or, for the 32-bit ones on a processor with carry-less multiplication,
// 64 or 128 bytes a step. Pure computation: no system calls, so the native fuzz
// and sanitizer builds can use it too.
#include <string.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define CRC_CAN_FOLD 1
#else
#define CRC_CAN_FOLD 0
#endif

#include "util/util.h"

static CrcSlices crc_tab;
static CrcFold crc_fold;

// Slice 0 is the classic byte-at-a-time table; slice k holds what a byte
// contributes when k more zero bytes follow it, so that the eight bytes of
// one step are looked up independently and combined with XOR.
void crc_build_slices(CrcSlices tab, uint32_t poly)
{
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t c = i;
        for (int k = 0; k < 8; k++)
            c = (c & 1) ? (c >> 1) ^ poly : c >> 1;
        tab[0][i] = c;
    }
    for (uint32_t i = 0; i < 256; i++) {
        for (int k = 1; k < 8; k++)
            tab[k][i] = (tab[k - 1][i] >> 8) ^ tab[0][tab[k - 1][i] & 0xFF];
    }
}

static uint32_t get32le(const unsigned char *p)
{
    return p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

uint32_t crc_update(const CrcSlices tab, uint32_t crc, const unsigned char *data, uint64_t len)
{
    for (; len >= 8; data += 8, len -= 8) {
        uint32_t lo = get32le(data) ^ crc, hi = get32le(data + 4);
        crc = tab[7][lo & 0xFF] ^ tab[6][(lo >> 8) & 0xFF] ^ tab[5][(lo >> 16) & 0xFF] ^ tab[4][lo >> 24] ^
              tab[3][hi & 0xFF] ^ tab[2][(hi >> 8) & 0xFF] ^ tab[1][(hi >> 16) & 0xFF] ^ tab[0][hi >> 24];
    }
    for (; len > 0; data++, len--)
        crc = (crc >> 8) ^ tab[0][(crc ^ *data) & 0xFF];
    return crc;
}

static uint32_t reverse32(uint32_t v)
{
    uint32_t r = 0;
    for (int i = 0; i < 32; i++, v >>= 1)
        r = r << 1 | (v & 1);
    return r;
}

// x^n modulo the polynomial (its x^32 term implied), in the reflected form
// that the folding multiplies with: the remainder's bits reversed, shifted
// left by one, because a carry-less product of two reflected numbers comes
// out one bit short.
static uint64_t fold_constant(uint32_t normal, int n)
{
    uint32_t r = 1;
    for (int i = 0; i < n; i++)
        r = (r & 0x80000000u) ? (r << 1) ^ normal : r << 1;
    return (uint64_t)reverse32(r) << 1;
}

// Folding carries a 128-bit block of the message d bits forward: its first
// 64 bits, of the higher powers, by x^(d+32), its last 64 bits by x^(d-32).
void crc_build_fold(CrcFold *f, uint32_t poly)
{
    uint32_t normal = reverse32(poly);
    f->by8[0] = fold_constant(normal, 1024 + 32);
    f->by8[1] = fold_constant(normal, 1024 - 32);
    f->by4[0] = fold_constant(normal, 512 + 32);
    f->by4[1] = fold_constant(normal, 512 - 32);
    f->by1[0] = fold_constant(normal, 128 + 32);
    f->by1[1] = fold_constant(normal, 128 - 32);
#if CRC_CAN_FOLD
    __builtin_cpu_init();
    f->usable = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    f->wide = f->usable && __builtin_cpu_supports("avx2") && __builtin_cpu_supports("vpclmulqdq");
#else
    f->usable = 0;
    f->wide = 0;
#endif
}

#if CRC_CAN_FOLD
__attribute__((target("pclmul,sse2"))) static inline __m128i fold_block(__m128i x, __m128i k)
{
    return _mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11));
}

// Four 128-bit lanes take 64 bytes a step; at the end they are folded into
// one, which takes the rest 16 bytes a step. What is left in it is the
// message as far as read, reduced to 128 bits with the same remainder: the
// tables finish it, with the bytes after it. len is at least 64.
__attribute__((target("pclmul,sse2"))) static uint32_t fold_run(const CrcSlices tab, const CrcFold *f, uint32_t crc,
                                                              const unsigned char *data, uint64_t len)
{
    const __m128i k4 = _mm_set_epi64x((long long)f->by4[1], (long long)f->by4[0]);
    const __m128i k1 = _mm_set_epi64x((long long)f->by1[1], (long long)f->by1[0]);
    __m128i x0 = _mm_xor_si128(_mm_loadu_si128((const __m128i *)data), _mm_cvtsi32_si128((int)crc));
    __m128i x1 = _mm_loadu_si128((const __m128i *)(data + 16));
    __m128i x2 = _mm_loadu_si128((const __m128i *)(data + 32));
    __m128i x3 = _mm_loadu_si128((const __m128i *)(data + 48));
    data += 64;
    len -= 64;
    for (; len >= 64; data += 64, len -= 64) {
        x0 = _mm_xor_si128(fold_block(x0, k4), _mm_loadu_si128((const __m128i *)data));
        x1 = _mm_xor_si128(fold_block(x1, k4), _mm_loadu_si128((const __m128i *)(data + 16)));
        x2 = _mm_xor_si128(fold_block(x2, k4), _mm_loadu_si128((const __m128i *)(data + 32)));
        x3 = _mm_xor_si128(fold_block(x3, k4), _mm_loadu_si128((const __m128i *)(data + 48)));
    }
    __m128i x = _mm_xor_si128(fold_block(x0, k1), x1);
    x = _mm_xor_si128(fold_block(x, k1), x2);
    x = _mm_xor_si128(fold_block(x, k1), x3);
    for (; len >= 16; data += 16, len -= 16)
        x = _mm_xor_si128(fold_block(x, k1), _mm_loadu_si128((const __m128i *)data));
    unsigned char rest[16];
    _mm_storeu_si128((__m128i *)rest, x);
    return crc_update(tab, crc_update(tab, 0, rest, sizeof rest), data, len);
}

__attribute__((target("vpclmulqdq,avx2"))) static inline __m256i fold_wide(__m256i x, __m256i k)
{
    return _mm256_xor_si256(_mm256_clmulepi64_epi128(x, k, 0x00), _mm256_clmulepi64_epi128(x, k, 0x11));
}

// The same with eight 128-bit lanes, two in each of four 256-bit
// registers, 128 bytes a step: one multiplication waits less for the one
// before it, which is what holds the narrow loop back. The lanes are then
// folded into one in their order in the message, and fold_run's end
// finishes it. len is at least 128.
__attribute__((target("vpclmulqdq,avx2,pclmul,sse2"))) static uint32_t fold_run_wide(const CrcSlices tab,
                                                                                   const CrcFold *f, uint32_t crc,
                                                                                   const unsigned char *data,
                                                                                   uint64_t len)
{
    const __m256i k8 = _mm256_set_epi64x((long long)f->by8[1], (long long)f->by8[0], (long long)f->by8[1],
                                         (long long)f->by8[0]);
    const __m128i k1 = _mm_set_epi64x((long long)f->by1[1], (long long)f->by1[0]);
    __m256i first = _mm256_inserti128_si256(_mm256_setzero_si256(), _mm_cvtsi32_si128((int)crc), 0);
    __m256i y0 = _mm256_xor_si256(_mm256_loadu_si256((const __m256i *)data), first);
    __m256i y1 = _mm256_loadu_si256((const __m256i *)(data + 32));
    __m256i y2 = _mm256_loadu_si256((const __m256i *)(data + 64));
    __m256i y3 = _mm256_loadu_si256((const __m256i *)(data + 96));
    data += 128;
    len -= 128;
    for (; len >= 128; data += 128, len -= 128) {
        y0 = _mm256_xor_si256(fold_wide(y0, k8), _mm256_loadu_si256((const __m256i *)data));
        y1 = _mm256_xor_si256(fold_wide(y1, k8), _mm256_loadu_si256((const __m256i *)(data + 32)));
        y2 = _mm256_xor_si256(fold_wide(y2, k8), _mm256_loadu_si256((const __m256i *)(data + 64)));
        y3 = _mm256_xor_si256(fold_wide(y3, k8), _mm256_loadu_si256((const __m256i *)(data + 96)));
    }
    __m128i lanes[8] = {_mm256_castsi256_si128(y0), _mm256_extracti128_si256(y0, 1),
                        _mm256_castsi256_si128(y1), _mm256_extracti128_si256(y1, 1),
                        _mm256_castsi256_si128(y2), _mm256_extracti128_si256(y2, 1),
                        _mm256_castsi256_si128(y3), _mm256_extracti128_si256(y3, 1)};
    __m128i x = lanes[0];
    for (int i = 1; i < 8; i++)
        x = _mm_xor_si128(fold_block(x, k1), lanes[i]);
    for (; len >= 16; data += 16, len -= 16)
        x = _mm_xor_si128(fold_block(x, k1), _mm_loadu_si128((const __m128i *)data));
    unsigned char rest[16];
    _mm_storeu_si128((__m128i *)rest, x);
    return crc_update(tab, crc_update(tab, 0, rest, sizeof rest), data, len);
}
#endif

uint32_t crc_update_fold(const CrcSlices tab, const CrcFold *f, uint32_t crc, const unsigned char *data, uint64_t len)
{
#if CRC_CAN_FOLD
    if (f->wide && len >= 256)
        return fold_run_wide(tab, f, crc, data, len);
    if (f->usable && len >= 64)
        return fold_run(tab, f, crc, data, len);
#else
    (void)f;
#endif
    return crc_update(tab, crc, data, len);
}

// Built as the program starts, before any thread that may take a CRC: the
// copies take them on two threads at once.
__attribute__((constructor)) static void build_crc32(void)
{
    crc_build_fold(&crc_fold, 0xEDB88320u);
    crc_build_slices(crc_tab, 0xEDB88320u);
}

uint32_t crc32_more(uint32_t crc, const void *data, uint64_t len)
{
    if (len == 0)
        return crc;
    return ~crc_update_fold(crc_tab, &crc_fold, ~crc, (const unsigned char *)data, len);
}

uint32_t crc32_buf(const void *data, uint64_t len)
{
    return crc32_more(0, data, len);
}

// Products and powers of x modulo the CRC-32 polynomial, in its reflected
// form: bit 31 holds x^0, bit 0 holds x^31.
static uint32_t mul_mod(uint32_t a, uint32_t b)
{
    uint32_t r = 0;
    for (uint32_t m = 0x80000000u; m; m >>= 1) {
        if (a & m)
            r ^= b;
        b = (b & 1) ? (b >> 1) ^ 0xEDB88320u : b >> 1;
    }
    return r;
}

// x^(8 * bytes) modulo the polynomial, by squaring: x^(2^k) for each bit k
// of the number of bits.
static uint32_t x_pow_bytes(uint64_t bytes)
{
    uint32_t power = 0x80000000u;    // x^0
    uint32_t square = 0x00800000u;   // x^8
    for (; bytes; bytes >>= 1) {
        if (bytes & 1)
            power = mul_mod(power, square);
        square = mul_mod(square, square);
    }
    return power;
}

// Appending b to a shifts a's remainder by b's length in bits: the CRC of
// the whole is a's CRC times x^(8 len_b), plus b's. The complements that
// CRC-32 puts around the register cancel out in this form.
uint32_t crc32_combine(uint32_t crc_a, uint32_t crc_b, uint64_t len_b)
{
    return mul_mod(x_pow_bytes(len_b), crc_a) ^ crc_b;
}
