// sector_bench EDC_IMAGE PLAIN_IMAGE: times the raw sector checks on two
// raw Mode 1 images held in memory, one whose sectors carry EDCs and one
// whose converter left them out, in runs of 512 sectors as a copy reads
// them. Beside them, over the same bytes: zlib's CRC-32 (a peer doing the
// same kind of work), our CRC-32, the EDC by its table alone (as on a
// processor that cannot fold), memcpy, and the unpacking of each run's
// data bytes that a copy from a raw image does today. Each figure is the
// best of five rounds, in MB/s (10^6 bytes) of raw sectors by the process's
// CPU time, which a busy machine disturbs less than the clock.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include <zlib.h>

#include "cdsrc/isoparse.h"
#include "cdsrc/sector.h"
#include "util/util.h"

enum { RUN = 512, RAW = 2352, ROUNDS = 5 };

static std::string read_all(const char *path)
{
    std::string s;
    FILE *f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "cannot read %s\n", path);
        exit(1);
    }
    char buf[1 << 16];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    fclose(f);
    return s;
}

static double cpu_now(void)
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static unsigned char out[RUN * RAW];
static volatile uint32_t sink;

// One pass of a job over every whole run of the image.
typedef void (*Job)(const unsigned char *run, uint32_t k, uint32_t lba);

static void job_memcpy(const unsigned char *run, uint32_t k, uint32_t) { memcpy(out, run, (size_t)k * RAW); }
static void job_unpack(const unsigned char *run, uint32_t k, uint32_t) { iso_unpack_run(run + 16, k, RAW, out); }
static void job_zlib(const unsigned char *run, uint32_t k, uint32_t)
{
    sink = (uint32_t)crc32(0, run, (uInt)((size_t)k * RAW));
}
static void job_crc32(const unsigned char *run, uint32_t k, uint32_t) { sink = crc32_buf(run, (uint64_t)k * RAW); }
static void job_edc(const unsigned char *run, uint32_t k, uint32_t) { sink = cd_edc(run, (size_t)k * RAW); }
static CrcSlices edc_table;
static void job_edc_table(const unsigned char *run, uint32_t k, uint32_t)
{
    sink = crc_update(edc_table, 0, run, (uint64_t)k * RAW);
}
static void job_check(const unsigned char *run, uint32_t k, uint32_t lba)
{
    SectorRunCheck r;
    if (!sector_check_run(run, (size_t)k * RAW, k, RAW, lba + 150, 1, &r)) {
        fprintf(stderr, "sector %u fails: %d\n", lba + r.bad, r.result);
        exit(1);
    }
    sink = r.unchecked;
}

// Seconds of CPU for passes over the image until at least 0.3 s have gone;
// returns MB/s of raw sectors.
static double time_job(Job job, const std::string &image)
{
    const unsigned char *p = (const unsigned char *)image.data();
    uint32_t count = (uint32_t)(image.size() / RAW);
    double start = cpu_now(), spent = 0;
    uint64_t bytes = 0;
    do {
        for (uint32_t lba = 0; lba < count; lba += RUN) {
            uint32_t k = count - lba < (uint32_t)RUN ? count - lba : (uint32_t)RUN;
            job(p + (size_t)lba * RAW, k, lba);
        }
        bytes += (uint64_t)count * RAW;
        spent = cpu_now() - start;
    } while (spent < 0.3);
    return (double)bytes / spent / 1e6;
}

struct Row {
    const char *what;
    Job job;
    int plain; // runs over the image without EDCs
    double best;
};

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: sector_bench EDC_IMAGE PLAIN_IMAGE\n");
        return 2;
    }
    std::string edc = read_all(argv[1]), plain = read_all(argv[2]);
    crc_build_slices(edc_table, 0xD8018001u);
    Row rows[] = {
        {"memcpy", job_memcpy, 0, 0},
        {"unpack data bytes (copy today)", job_unpack, 0, 0},
        {"zlib crc32", job_zlib, 0, 0},
        {"crc32_buf", job_crc32, 0, 0},
        {"EDC by the table alone", job_edc_table, 0, 0},
        {"cd_edc", job_edc, 0, 0},
        {"sector_check_run, EDCs", job_check, 0, 0},
        {"sector_check_run, no EDCs", job_check, 1, 0},
    };
    // Rounds of every job in turn, so that the load of a shared machine
    // falls on all of them alike.
    for (int round = 0; round < ROUNDS; round++) {
        for (Row &r : rows) {
            double mbs = time_job(r.job, r.plain ? plain : edc);
            if (mbs > r.best)
                r.best = mbs;
        }
    }
    double zlib = rows[2].best, copy = rows[1].best;
    printf("%zu raw sectors (%.1f MB), runs of %d, best of %d rounds, CPU time\n", edc.size() / RAW,
           (double)edc.size() / 1e6, RUN, ROUNDS);
    for (const Row &r : rows)
        printf("%-34s %8.0f MB/s   %5.2fx zlib crc32   %5.2fx unpacking\n", r.what, r.best, r.best / zlib,
               r.best / copy);
    return 0;
}
