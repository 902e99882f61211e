// A sparse in-memory card for formatting tests: any sector count up to 2^32,
// a settable erase-block size, only written non-zero sectors kept in memory.
#ifndef TESSIVO_TESTS_FAT_EXT_SPARSE_DISK_H
#define TESSIVO_TESTS_FAT_EXT_SPARSE_DISK_H

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "fatfs/diskio.h"

struct SparseDisk {
    DWORD sectors = 0;
    DWORD block_size = 1;         // answer to IOCTL_BLOCK_SIZE
    bool block_query_fails = false;
    bool protect = false;
    std::map<DWORD, std::array<BYTE, 512>> data;  // absent = all zeros
    DWORD writes = 0;
    DWORD highest_written = 0;
    bool wrote_outside = false;   // a write at or beyond `sectors` was attempted

    // The one drive behind disk_*; reset to a blank card of `n` sectors.
    static SparseDisk& drive();
    void reset(DWORD n);

    const BYTE* sector(DWORD n) const;  // zeros when never written
    // Writes sectors [first, sectors) to a sparse file (offset 0 = sector `first`).
    bool save(const std::string& path, DWORD first = 0) const;
    // Loads a file written by save() back (sectors from `first` on).
    bool load(const std::string& path, DWORD first = 0);
};

#endif
