// Hand-made ISO 9660 pieces for tests: directory records with one comment
// per field, a primary volume descriptor, and whole small images.
#pragma once
#include <stdint.h>
#include <string.h>

#include <string>
#include <vector>

static inline void put_both32(unsigned char *p, uint32_t v)
{
    for (int i = 0; i < 4; i++) {
        p[i] = (unsigned char)(v >> (8 * i));     // little-endian copy
        p[7 - i] = (unsigned char)(v >> (8 * i)); // big-endian copy
    }
}

// Directory records appended one after another.
struct DirSector {
    std::vector<unsigned char> bytes;

    void add_raw(const std::string &id, uint32_t lba, uint32_t size, bool dir) { add_flags(id, lba, size, dir ? 2 : 0); }
    // flags: bit 1 (2) directory, bit 7 (0x80) the file goes on in the next record
    void add_flags(const std::string &id, uint32_t lba, uint32_t size, unsigned char flags)
    {
        size_t len = 33 + id.size();
        len += len & 1; // records have even length
        std::vector<unsigned char> r(len, 0);
        r[0] = (unsigned char)len;          // length of the record
        put_both32(&r[2], lba);             // extent location
        put_both32(&r[10], size);           // data length
        r[25] = flags;                      // flags
        r[28] = 1;                          // volume sequence number
        r[32] = (unsigned char)id.size();   // identifier length
        memcpy(&r[33], id.data(), id.size()); // identifier
        bytes.insert(bytes.end(), r.begin(), r.end());
    }
    void add(const std::string &id, uint32_t lba, uint32_t size, bool dir) { add_raw(id, lba, size, dir); }
    void add_self_and_parent(uint32_t self, uint32_t parent)
    {
        add_raw(std::string(1, '\0'), self, 2048, true);
        add_raw(std::string(1, '\1'), parent, 2048, true);
    }
    void pad_to(size_t n)
    {
        if (bytes.size() < n)
            bytes.resize(n, 0);
    }
};

static inline std::vector<unsigned char> pvd_sector(uint32_t root_lba, uint32_t root_size)
{
    std::vector<unsigned char> s(2048, 0);
    s[0] = 1;                     // type: primary
    memcpy(&s[1], "CD001", 5);    // standard identifier
    s[6] = 1;                     // version
    s[156] = 34;                  // root record length
    put_both32(&s[158], root_lba); // root extent
    put_both32(&s[166], root_size); // root length
    s[181] = 2;                   // root flags: directory
    s[188] = 1;                   // root identifier length (byte 0)
    return s;
}

// A plain image: sector 16 the descriptor, then the given sectors from 18 on
// (sector 17 left zero), the first of which is meant to be the root.
struct IsoImage {
    std::vector<unsigned char> bytes;

    explicit IsoImage(uint32_t root_size = 2048) : bytes(18 * 2048, 0)
    {
        std::vector<unsigned char> p = pvd_sector(18, root_size);
        memcpy(&bytes[16 * 2048], p.data(), 2048);
    }
    // Appends whole sectors and returns the first one's number.
    uint32_t append(std::vector<unsigned char> data)
    {
        uint32_t lba = (uint32_t)(bytes.size() / 2048);
        data.resize((data.size() + 2047) / 2048 * 2048, 0);
        bytes.insert(bytes.end(), data.begin(), data.end());
        return lba;
    }
    std::string str() const { return std::string(bytes.begin(), bytes.end()); }
};
