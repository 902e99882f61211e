// The drive behind the disk_* functions for the fuzz targets and their
// regression replays: a sparse card (absent sectors read as zeros) that any
// size up to 2^32 sectors costs only the sectors it holds.
//
// Inputs describe a card compactly as a "sparse image": a 4-byte little-endian
// sector count, then records of a 4-byte little-endian sector number followed
// by that sector's 512 bytes (a short last record is padded with zeros). A
// whole image file packs into a few records when most of it is zeros.
#ifndef TESSIVO_FUZZ_FUZZ_DISK_H
#define TESSIVO_FUZZ_FUZZ_DISK_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "fatfs/diskio.h"

namespace fuzz {

using Sector = std::array<BYTE, 512>;

struct FuzzDisk {
    DWORD sectors = 0;
    std::unordered_map<DWORD, Sector> data;  // absent = zeros
    // Traffic and misuse seen since the last reset.
    std::size_t reads = 0;
    std::size_t writes = 0;           // sectors written
    bool wrote_outside = false;       // a write at or beyond `sectors` was asked for
    bool read_outside = false;
    std::vector<DWORD> written;       // sectors written, in order
    // Sector transfers that still succeed; after that every read and write
    // fails (a card going bad). SIZE_MAX: never.
    std::size_t transfers_left = SIZE_MAX;

    // The one drive 0.
    static FuzzDisk& drive();

    void reset(DWORD n);
    void clear_traffic();
    const BYTE* sector(DWORD n) const;  // zeros when absent
    void store(DWORD n, const BYTE* src);

    // Sparse image <-> disk. `max_sectors` caps the sector count an input may
    // declare, so that a hostile header cannot make a walk of the FAT endless.
    void load_sparse(const uint8_t* bytes, std::size_t size, DWORD max_sectors);
    std::vector<uint8_t> save_sparse() const;
    // Raw image file (sparse on disk) of sectors [first, sectors); true on success.
    bool save_raw(const std::string& path, DWORD first = 0) const;
    // First sector of the volume: the start of the first partition when
    // sector 0 holds a partition table rather than a boot sector, else 0.
    DWORD volume_start() const;
    bool load_raw(const std::string& path);
};

// Packs a raw image into the sparse form (all-zero sectors left out).
std::vector<uint8_t> pack_raw_image(const std::vector<uint8_t>& raw);

}  // namespace fuzz

#endif
