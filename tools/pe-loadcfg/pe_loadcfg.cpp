// Post-link step for setup.exe: points the PE's load-config data directory
// at the record the program keeps in a section of its own, because GNU ld
// of this generation leaves that directory empty. Windows 10 1607 and later
// read DependentLoadFlags from that record and apply it to the DLLs the
// program imports, before any of its own code runs.
//
// Usage: pe-loadcfg FILE SECTION   (FILE is changed in place)
//
// Built for the machine that builds, so it uses nothing but the C library.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

// The few places of a PE32+ file that matter here.
enum {
    DOS_LFANEW = 0x3C,         // file offset of "PE\0\0"
    COFF_SECTIONS = 4 + 2,     // from "PE": number of sections
    COFF_OPT_SIZE = 4 + 16,    // from "PE": size of the optional header
    OPT_START = 4 + 20,        // from "PE": the optional header
    OPT_MAGIC_PE32PLUS = 0x20B,
    OPT_CHECKSUM = 64,         // CheckSum, which ld fills and the change must renew
    OPT_DIR_COUNT = 108,       // PE32+: NumberOfRvaAndSizes
    OPT_DIRS = 112,            // PE32+: the data directories, 8 bytes each
    DIR_LOAD_CONFIG = 10,
    SECTION_HEADER = 40,       // name[8], VirtualSize, VirtualAddress, SizeOfRawData, PointerToRawData, ...
};

static uint32_t le16(const unsigned char *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }
static uint32_t le32(const unsigned char *p) { return le16(p) | le16(p + 2) << 16; }
static void put32(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = (unsigned char)(v >> (8 * i));
}

// The PE checksum of the image: its 16-bit words summed with the carries
// folded back in, the checksum field itself left out, plus the file size.
static uint32_t pe_checksum(const unsigned char *buf, size_t size, size_t field)
{
    uint64_t sum = 0;
    for (size_t i = 0; i < size; i += 2) {
        if (i == field || i == field + 2)
            continue;
        sum += buf[i] | (i + 1 < size ? (uint32_t)buf[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return (uint32_t)(sum + size);
}

// Sets the load-config directory of the image in buf to the start of the
// named section, with the size the record there gives as its first field.
// Returns null on success, else why not.
static const char *set_load_config(unsigned char *buf, size_t size, const char *section)
{
    if (size < DOS_LFANEW + 4 || buf[0] != 'M' || buf[1] != 'Z')
        return "not an executable";
    uint32_t pe = le32(buf + DOS_LFANEW);
    if (pe > size || size - pe < OPT_START || memcmp(buf + pe, "PE\0\0", 4) != 0)
        return "no PE header";
    uint32_t sections = le16(buf + pe + COFF_SECTIONS), opt_size = le16(buf + pe + COFF_OPT_SIZE);
    uint32_t opt = pe + OPT_START;
    if (size - opt < opt_size || opt_size < OPT_DIRS || le16(buf + opt) != OPT_MAGIC_PE32PLUS)
        return "not a PE32+ image";
    if (le32(buf + opt + OPT_DIR_COUNT) <= DIR_LOAD_CONFIG || opt_size < OPT_DIRS + 8 * (DIR_LOAD_CONFIG + 1))
        return "no room for a load-config directory";
    uint32_t table = opt + opt_size;
    if ((size - table) / SECTION_HEADER < sections)
        return "section table cut short";
    for (uint32_t i = 0; i < sections; i++) {
        const unsigned char *s = buf + table + i * SECTION_HEADER;
        if (strncmp((const char *)s, section, 8) != 0)
            continue;
        uint32_t rva = le32(s + 12), raw_size = le32(s + 16), raw = le32(s + 20);
        if (raw > size || size - raw < 4 || raw_size < 4)
            return "the section holds no record";
        uint32_t record = le32(buf + raw);
        if (record > raw_size)
            return "the record is larger than its section";
        unsigned char *dir = buf + opt + OPT_DIRS + 8 * DIR_LOAD_CONFIG;
        put32(dir, rva);
        put32(dir + 4, record);
        if (le32(buf + opt + OPT_CHECKSUM) != 0)
            put32(buf + opt + OPT_CHECKSUM, pe_checksum(buf, size, opt + OPT_CHECKSUM));
        return NULL;
    }
    return "no such section";
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE SECTION\n", argv[0]);
        return 2;
    }
    FILE *f = fopen(argv[1], "r+b");
    if (!f) {
        perror(argv[1]);
        return 1;
    }
    fseek(f, 0, SEEK_END);
    long n = ftell(f);
    unsigned char *buf = n > 0 ? (unsigned char *)malloc((size_t)n) : NULL;
    const char *why = NULL;
    if (!buf || fseek(f, 0, SEEK_SET) != 0 || fread(buf, 1, (size_t)n, f) != (size_t)n)
        why = "cannot read it";
    if (!why)
        why = set_load_config(buf, (size_t)n, argv[2]);
    if (!why && (fseek(f, 0, SEEK_SET) != 0 || fwrite(buf, 1, (size_t)n, f) != (size_t)n))
        why = "cannot write it";
    if (fclose(f) != 0 && !why)
        why = "cannot write it";
    free(buf);
    if (why) {
        fprintf(stderr, "%s: %s\n", argv[1], why);
        return 1;
    }
    return 0;
}
