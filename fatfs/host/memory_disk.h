// A card held in memory: any size up to 2^32 sectors, sectors never written
// (or written as zeros where nothing was stored) read as zeros and cost no
// memory. Always ready; write protection and the erase block are settable.
#ifndef TESSIVO_FATFS_HOST_MEMORY_DISK_H
#define TESSIVO_FATFS_HOST_MEMORY_DISK_H

#include <array>
#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "fatfs/host/block_device.h"

class MemoryDisk : public BlockDevice {
public:
    static constexpr std::size_t kSector = 512;

    // A blank card of `sectors` sectors.
    explicit MemoryDisk(DWORD sectors = 0);
    // A card holding `image` (its size rounded down to whole sectors).
    explicit MemoryDisk(const std::vector<BYTE>& image);
    MemoryDisk(const MemoryDisk& other);
    MemoryDisk& operator=(const MemoryDisk& other);

    DWORD sectors() const { return sectors_; }
    // Blank again, with `sectors` sectors.
    void reset(DWORD sectors);

    // Sector `n` (zeros when nothing is stored there); the writable form
    // keeps the sector, so raw changes by a test land on the card.
    const BYTE* sector(DWORD n) const;
    BYTE* sector(DWORD n);
    // Stores 512 bytes at sector `n`.
    void store(DWORD n, const BYTE* src);
    // Sectors holding anything but zeros, in ascending order.
    std::vector<DWORD> stored_sectors() const;
    // The whole card as one block of bytes.
    std::vector<BYTE> bytes() const;

    // Sectors [first, sectors()) to a sparse image file, offset 0 = sector
    // `first` (written to a temporary beside it, then renamed); true on success.
    bool save_raw(const std::string& path, DWORD first = 0) const;
    // An image file into sectors [first, sectors()), or, with `resize`, a
    // blank card of the file's size in whole sectors holding it.
    bool load_raw(const std::string& path, DWORD first = 0, bool resize = false);

    void set_write_protect(bool on) { protect_ = on; }
    void set_erase_block(DWORD sectors) { erase_block_ = sectors; }

    DSTATUS initialize() override;
    DSTATUS status() override;
    DRESULT read(BYTE* buff, DWORD sector, UINT count) override;
    DRESULT write(const BYTE* buff, DWORD sector, UINT count) override;
    DRESULT sync() override;
    DRESULT sector_count(DWORD* count) override;
    DRESULT erase_block(DWORD* sectors) override;

private:
    // Storage in chunks of consecutive sectors, made on the first non-zero write.
    static constexpr DWORD kChunkSectors = 32;
    using Chunk = std::array<BYTE, kChunkSectors * kSector>;

    BYTE* find(DWORD n, bool make);
    const BYTE* find(DWORD n) const;

    DWORD sectors_ = 0;
    std::unordered_map<DWORD, std::unique_ptr<Chunk>> chunks_;
    // The chunk found last: transfers mostly stay inside one.
    mutable DWORD last_index_ = 0;
    mutable Chunk* last_chunk_ = nullptr;
    bool protect_ = false;
    DWORD erase_block_ = 1;
};

#endif
