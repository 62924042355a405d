// Decodes every -lh5- member of the archives given, with lh5_decode and with
// lhasa's decoder, in turns, and prints output MB/s (10^6 bytes) and ratios.
// lhasa's decoder keeps a CRC-16 as it goes, so ours is timed with and
// without the CRC-16 that extraction adds. With --7z TINY, each round also
// times 7-Zip testing the archive (decoding and CRC, no output) less what it
// takes on the tiny archive TINY, so that its start-up is not counted.
// Speeds are given by the clock and by the CPU time used (user and system),
// which a busy machine disturbs less.
//   lha_bench [--7z TINY] ARCHIVE...
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
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

// Seconds by the clock and of CPU time, of this process or of its ended
// children.
struct Stamp {
    double wall, cpu;
};

static double seconds_of(clockid_t clock)
{
    timespec t;
    clock_gettime(clock, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static Stamp stamp(int children)
{
    Stamp s = {seconds_of(CLOCK_MONOTONIC), seconds_of(CLOCK_PROCESS_CPUTIME_ID)};
    if (children) {
        rusage u;
        getrusage(RUSAGE_CHILDREN, &u);
        s.cpu = u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec + u.ru_stime.tv_usec / 1e6;
    }
    return s;
}

static Stamp since(const Stamp &a, int children)
{
    Stamp b = stamp(children);
    return {b.wall - a.wall, b.cpu - a.cpu};
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

static uint64_t member_bytes(const std::vector<Member> &members, uint32_t *largest)
{
    uint64_t bytes = 0;
    *largest = 1;
    for (const Member &m : members) {
        bytes += m.original;
        if (m.original > *largest)
            *largest = m.original;
    }
    return bytes;
}

// Seconds of one round, long enough to time well (reps passes over the
// members): 0 ours, 1 ours with the CRC-16, 2 lhasa.
static Stamp round_seconds(const std::vector<Member> &members, int which, int reps, unsigned char *out)
{
    Stamp t0 = stamp(0);
    for (int r = 0; r < reps; r++) {
        for (const Member &m : members) {
            if (which == 2)
                run_lhasa(m, out);
            else
                run_ours(m, out, which);
        }
    }
    return since(t0, 0);
}

// Seconds of "7z t" on one archive, start-up included; 0 when it fails.
static Stamp seven_zip_seconds(const char *archive)
{
    std::string cmd = std::string("7z t '") + archive + "' >/dev/null 2>&1";
    Stamp t0 = stamp(1);
    if (system(cmd.c_str()) != 0)
        return {0, 0}; // not an archive 7-Zip reads: no figure
    return since(t0, 1);
}

// The best (shortest) times seen.
static void keep_best(Stamp *best, const Stamp &t)
{
    if (best->wall == 0 || t.wall < best->wall)
        best->wall = t.wall;
    if (best->cpu == 0 || t.cpu < best->cpu)
        best->cpu = t.cpu;
}

enum { ROUNDS = 5 };

static void print_speed(const char *what, double mb, const Stamp &t, const Stamp &lhasa, const Stamp *seven)
{
    printf("  %-20s %7.1f MB/s %5.2fx lhasa", what, mb / t.wall, lhasa.wall / t.wall);
    if (seven)
        printf(" %5.2fx 7-Zip", seven->wall / t.wall);
    printf("   CPU: %7.1f MB/s %5.2fx lhasa", mb / t.cpu, lhasa.cpu / t.cpu);
    if (seven)
        printf(" %5.2fx 7-Zip", seven->cpu / t.cpu);
    printf("\n");
}

int main(int argc, char **argv)
{
    const char *tiny = NULL;
    int first = 1;
    if (argc > 2 && !strcmp(argv[1], "--7z")) {
        tiny = argv[2];
        first = 3;
    }
    for (int i = first; i < argc; i++) {
        std::string image = read_all(argv[i]);
        std::vector<Member> members = lh5_members(image);
        uint32_t largest;
        uint64_t bytes = member_bytes(members, &largest);
        std::vector<unsigned char> out(largest);
        int reps = (int)(200e6 / (double)(bytes + 1)) + 1;
        // Rounds of every measurement in turn, so that the load of a shared
        // machine falls on all of them alike; the best of each counts.
        Stamp ours = {0, 0}, ours_crc = {0, 0}, lhasa = {0, 0}, big7 = {0, 0}, tiny7 = {0, 0};
        for (int round = 0; round < ROUNDS; round++) {
            keep_best(&ours, round_seconds(members, 0, reps, out.data()));
            keep_best(&ours_crc, round_seconds(members, 1, reps, out.data()));
            keep_best(&lhasa, round_seconds(members, 2, reps, out.data()));
            if (tiny) {
                keep_best(&big7, seven_zip_seconds(argv[i]));
                keep_best(&tiny7, seven_zip_seconds(tiny));
            }
        }
        double mb = bytes * (double)reps / 1e6;
        printf("%s: %zu -lh5- members, %.1f MB, best of %d interleaved rounds\n", argv[i], members.size(),
               bytes / 1e6, ROUNDS);
        // 7-Zip's time for as many passes as ours, less its start-up.
        Stamp seven = {(big7.wall - tiny7.wall) * reps, (big7.cpu - tiny7.cpu) * reps};
        const Stamp *peer = tiny && seven.wall > 0 && seven.cpu > 0 ? &seven : NULL;
        print_speed("lh5_decode", mb, ours, lhasa, peer);
        print_speed("lh5_decode + CRC-16", mb, ours_crc, lhasa, peer);
        print_speed("lhasa (with CRC-16)", mb, lhasa, lhasa, peer);
        if (peer)
            printf("  7z t (with CRC-16)   %7.1f MB/s   CPU: %7.1f MB/s   (%.3f s less %.3f s of start-up)\n",
                   mb / seven.wall, mb / seven.cpu, big7.wall, tiny7.wall);
    }
    return crc_sink == 0xFFFFFFFFu;
}
