// The drive behind the fuzz targets and their regression replays: a card in
// memory (absent sectors read as zeros, any size up to 2^32 sectors costs only
// the sectors it holds) under the recording wrapper, attached as drive 0.
//
// Inputs describe a card compactly as a "sparse image": a 4-byte little-endian
// sector count, then records of a 4-byte little-endian sector number followed
// by that sector's 512 bytes (a short last record is padded with zeros). A
// whole image file packs into a few records when most of it is zeros.
#ifndef TESSIVO_FUZZ_FUZZ_DISK_H
#define TESSIVO_FUZZ_FUZZ_DISK_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fatfs/host/instrumented_disk.h"
#include "fatfs/host/memory_disk.h"

namespace fuzz {

struct FuzzDrive {
    MemoryDisk medium;
    InstrumentedDisk drive{medium};

    // The one drive 0.
    static FuzzDrive& get();

    // The medium replaced by `card`, with nothing recorded and no faults.
    void start(const MemoryDisk& card);
    // Sparse image -> medium. `max_sectors` caps the sector count an input
    // may declare, so that a hostile header cannot make a walk of the FAT endless.
    void load_sparse(const uint8_t* bytes, std::size_t size, DWORD max_sectors);
    // Successful sector writes since the last start, and whether a write
    // outside the card was asked for.
    std::size_t sectors_written() const { return drive.written_sectors().size(); }
    bool wrote_outside() const { return drive.count(DiskOp::Write, RES_PARERR) != 0; }
};

// Medium -> sparse image, and a raw image file's bytes -> sparse image (all-zero sectors left out).
std::vector<uint8_t> save_sparse(const MemoryDisk& card);
std::vector<uint8_t> pack_raw_image(const std::vector<uint8_t>& raw);

}  // namespace fuzz

#endif
