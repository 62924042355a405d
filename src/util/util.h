// File utilities: path tests, folder creation, whole-file I/O, block copies,
// CRC-32, tree removal, the install's progress counter and the bounded
// formatter every other unit builds its paths and messages with.
#pragma once
#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define PRINTF_LIKE(f, a) __attribute__((format(gnu_printf, f, a)))
#else
#define PRINTF_LIKE(f, a)
#endif

// Formats into out[size] like snprintf, but always terminates and cuts what
// does not fit. Returns the length written (never more than size - 1).
int fmt(char *out, size_t size, const char *format, ...) PRINTF_LIKE(3, 4);

typedef void (*ProgressFn)(uint64_t done, uint64_t total, void *ctx);

// The install's byte counter. done may pass total; the callback may be null.
struct Progress {
    uint64_t done;
    uint64_t total;
    ProgressFn callback;
    void *ctx;
};

void progress_add(Progress *p, uint64_t n);

int path_exists(const char *path);
int is_dir(const char *path);
int make_dirs(const char *path);
int write_file(const char *path, const void *data, uint64_t size);
unsigned char *read_file(const char *path, uint64_t *size_out);
int copy_file(const char *src, const char *dst, Progress *p);
uint32_t crc32_buf(const void *data, uint64_t len);

// Tables of a reflected CRC for taking eight bytes a step; slice 0 is the
// usual one-byte table. Built from the reflected polynomial (0xEDB88320 for
// CRC-32, 0xA001 for CRC-16/ARC); entry 1 of slice 0 is never 0 once built.
typedef uint32_t CrcSlices[8][256];
void crc_build_slices(CrcSlices tab, uint32_t poly);
// Runs crc over len bytes of data: no initial or final complement, so CRCs
// of any width up to 32 bits and any start value share it.
uint32_t crc_update(const CrcSlices tab, uint32_t crc, const unsigned char *data, uint64_t len);
int delete_tree(const char *path);
