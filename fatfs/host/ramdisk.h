// A RAM disk for tests of the FAT module: a MemoryDisk seen through an
// InstrumentedDisk (call log, failures, power cuts), attached as drive 0 for
// as long as it lives (the newest one is the drive).
#ifndef TESSIVO_FATFS_HOST_RAMDISK_H
#define TESSIVO_FATFS_HOST_RAMDISK_H

#include <vector>

#include "fatfs/host/instrumented_disk.h"
#include "fatfs/host/memory_disk.h"

namespace ramdisk_detail {
// Holds the medium, so it is built before the wrapper that refers to it.
struct Medium {
    explicit Medium(DWORD sectors) : memory(sectors) {}
    explicit Medium(const std::vector<BYTE>& image) : memory(image) {}
    MemoryDisk memory;
};
}  // namespace ramdisk_detail

class RamDisk : private ramdisk_detail::Medium, public InstrumentedDisk {
public:
    // A zero-filled disk of `sectors` sectors, or one holding `image` (its
    // size rounded down to whole sectors).
    explicit RamDisk(DWORD sectors) : Medium(sectors), InstrumentedDisk(memory) { attach(0); }
    explicit RamDisk(const std::vector<BYTE>& image) : Medium(image), InstrumentedDisk(memory) { attach(0); }
    RamDisk(const RamDisk&) = delete;
    RamDisk& operator=(const RamDisk&) = delete;

    MemoryDisk& medium() { return memory; }
    const MemoryDisk& medium() const { return memory; }
    BYTE* sector(DWORD n) { return memory.sector(n); }
    const BYTE* sector(DWORD n) const { return memory.sector(n); }
    std::vector<BYTE> bytes() const { return memory.bytes(); }
    DWORD sectors() const { return memory.sectors(); }
    void set_write_protect(bool on) { memory.set_write_protect(on); }
};

#endif
