// Decodes every -lh5- member of the archives given, with lh5_decode and with
// lhasa's decoder, in turns, and prints output MB/s (10^6 bytes) and ratios.
// lhasa's decoder keeps a CRC-16 as it goes, so ours is timed with and
// without the CRC-16 that extraction adds.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

extern "C" {
#include <lhasa.h>
}

#include "lha/lha.h"
#include "lha/walk.h"

struct Member {
    const unsigned char *data;
    uint32_t packed, original;
};

static std::string read_all(const char *path)
{
    std::string s;
    FILE *f = fopen(path, "rb");
    if (!f)
        return s;
    char buf[1 << 16];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

static uint32_t get16(const unsigned char *p) { return p[0] | p[1] << 8; }
static uint32_t get32(const unsigned char *p) { return get16(p) | get16(p + 2) << 16; }

// The -lh5- members, header levels 0 to 2 (no checks: trusted inputs).
static std::vector<Member> lh5_members(const std::string &image)
{
    std::vector<Member> out;
    const unsigned char *b = (const unsigned char *)image.data();
    uint64_t pos;
    if (!lha_find_first(b, image.size(), &pos))
        return out;
    while (image.size() - pos >= 22 && b[pos]) {
        const unsigned char *h = b + pos;
        uint32_t packed = get32(h + 7), original = get32(h + 11);
        uint64_t data;
        if (h[20] == 2) {
            data = pos + get16(h);
        } else {
            data = pos + h[0] + 2;
            if (h[20] == 1) {
                for (uint32_t s = get16(b + data - 2); s; s = get16(b + data - 2))
                    data += s, packed -= s;
            }
        }
        if (memcmp(h + 2, "-lh5-", 5) == 0)
            out.push_back({b + data, packed, original});
        pos = data + packed;
    }
    return out;
}

static double now()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

struct Feed {
    const unsigned char *p;
    size_t left;
};

static size_t feed(void *buf, size_t len, void *ctx)
{
    Feed *f = (Feed *)ctx;
    if (len > f->left)
        len = f->left;
    memcpy(buf, f->p, len);
    f->p += len;
    f->left -= len;
    return len;
}

static unsigned crc_sink; // keeps the CRC from being optimised away

static void run_ours(const Member &m, unsigned char *out, int with_crc)
{
    if (!lh5_decode(m.data, m.packed, out, m.original)) {
        fprintf(stderr, "lh5_decode failed\n");
        exit(1);
    }
    if (with_crc)
        crc_sink += lha_crc16(out, m.original);
}

static void run_lhasa(const Member &m, unsigned char *out)
{
    Feed f = {m.data, m.packed};
    LHADecoder *d = lha_decoder_new(lha_decoder_for_name((char *)"-lh5-"), feed, &f, m.original);
    size_t done = 0;
    while (done < m.original) {
        size_t n = lha_decoder_read(d, out + done, m.original - done);
        if (n == 0)
            break;
        done += n;
    }
    crc_sink += lha_decoder_get_crc(d);
    lha_decoder_free(d);
    if (done != m.original) {
        fprintf(stderr, "lhasa failed\n");
        exit(1);
    }
}

// Best of several rounds, each long enough to time well.
static double best_mbs(const std::vector<Member> &members, int which)
{
    uint64_t bytes = 0;
    uint32_t largest = 1;
    for (const Member &m : members) {
        bytes += m.original;
        if (m.original > largest)
            largest = m.original;
    }
    std::vector<unsigned char> out(largest);
    int reps = (int)(200e6 / (double)(bytes + 1)) + 1;
    double best = 0;
    for (int round = 0; round < 3; round++) {
        double t0 = now();
        for (int r = 0; r < reps; r++) {
            for (const Member &m : members) {
                if (which == 2)
                    run_lhasa(m, out.data());
                else
                    run_ours(m, out.data(), which);
            }
        }
        double mbs = bytes * (double)reps / (now() - t0) / 1e6;
        if (mbs > best)
            best = mbs;
    }
    return best;
}

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; i++) {
        std::string image = read_all(argv[i]);
        std::vector<Member> members = lh5_members(image);
        uint64_t bytes = 0;
        for (const Member &m : members)
            bytes += m.original;
        double ours = best_mbs(members, 0), ours_crc = best_mbs(members, 1), lhasa = best_mbs(members, 2);
        printf("%s: %zu -lh5- members, %.1f MB\n", argv[i], members.size(), bytes / 1e6);
        printf("  lh5_decode          %8.1f MB/s   %.2fx lhasa\n", ours, ours / lhasa);
        printf("  lh5_decode + CRC-16 %8.1f MB/s   %.2fx lhasa\n", ours_crc, ours_crc / lhasa);
        printf("  lhasa (with CRC-16) %8.1f MB/s\n", lhasa);
    }
    return crc_sink == 0xFFFFFFFFu;
}
