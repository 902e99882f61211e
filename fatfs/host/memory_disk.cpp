#include "fatfs/host/memory_disk.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::array<BYTE, MemoryDisk::kSector> kZeros{};

bool all_zero(const BYTE* p) { return std::memcmp(p, kZeros.data(), kZeros.size()) == 0; }

}  // namespace

MemoryDisk::MemoryDisk(DWORD sectors) : sectors_(sectors) {}

MemoryDisk::MemoryDisk(const std::vector<BYTE>& image) : sectors_(static_cast<DWORD>(image.size() / kSector))
{
    for (DWORD n = 0; n < sectors_; n++) store(n, image.data() + std::size_t{n} * kSector);
}

MemoryDisk::MemoryDisk(const MemoryDisk& other) : BlockDevice() { *this = other; }

MemoryDisk& MemoryDisk::operator=(const MemoryDisk& other)
{
    if (this == &other) return *this;
    sectors_ = other.sectors_;
    last_chunk_ = nullptr;
    protect_ = other.protect_;
    erase_block_ = other.erase_block_;
    chunks_.clear();
    for (const auto& [index, chunk] : other.chunks_) chunks_[index] = std::make_unique<Chunk>(*chunk);
    return *this;
}

void MemoryDisk::reset(DWORD sectors)
{
    sectors_ = sectors;
    last_chunk_ = nullptr;
    chunks_.clear();
}

BYTE* MemoryDisk::find(DWORD n, bool make)
{
    if (const BYTE* p = static_cast<const MemoryDisk*>(this)->find(n)) return const_cast<BYTE*>(p);
    if (!make) return nullptr;
    std::unique_ptr<Chunk>& chunk = chunks_[n / kChunkSectors];
    chunk = std::make_unique<Chunk>();
    chunk->fill(0);
    last_index_ = n / kChunkSectors;
    last_chunk_ = chunk.get();
    return chunk->data() + std::size_t{n % kChunkSectors} * kSector;
}

const BYTE* MemoryDisk::find(DWORD n) const
{
    const DWORD index = n / kChunkSectors;
    if (!last_chunk_ || index != last_index_) {
        const auto it = chunks_.find(index);
        if (it == chunks_.end()) return nullptr;
        last_index_ = index;
        last_chunk_ = it->second.get();
    }
    return last_chunk_->data() + std::size_t{n % kChunkSectors} * kSector;
}

const BYTE* MemoryDisk::sector(DWORD n) const
{
    const BYTE* p = find(n);
    return p ? p : kZeros.data();
}

BYTE* MemoryDisk::sector(DWORD n) { return find(n, true); }

void MemoryDisk::store(DWORD n, const BYTE* src)
{
    // Zeros need room only where something is stored already.
    BYTE* p = const_cast<BYTE*>(static_cast<const MemoryDisk*>(this)->find(n));
    if (!p && !all_zero(src)) p = find(n, true);
    if (p) std::memcpy(p, src, kSector);
}

std::vector<DWORD> MemoryDisk::stored_sectors() const
{
    std::vector<DWORD> out;
    for (const auto& [index, chunk] : chunks_)
        for (DWORD i = 0; i < kChunkSectors; i++)
            if (!all_zero(chunk->data() + std::size_t{i} * kSector)) out.push_back(index * kChunkSectors + i);
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<BYTE> MemoryDisk::bytes() const
{
    std::vector<BYTE> out(std::size_t{sectors_} * kSector, 0);
    for (const auto& [index, chunk] : chunks_) {
        const std::size_t first = std::size_t{index} * kChunkSectors;
        if (first >= sectors_) continue;
        const std::size_t n = std::min<std::size_t>(kChunkSectors, sectors_ - first);
        std::memcpy(out.data() + first * kSector, chunk->data(), n * kSector);
    }
    return out;
}

bool MemoryDisk::save_raw(const std::string& path, DWORD first) const
{
    if (first > sectors_) return false;
    const std::string tmp = path + ".tmp";
    const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) return false;
    bool ok = ::ftruncate(fd, static_cast<off_t>(sectors_ - first) * static_cast<off_t>(kSector)) == 0;
    for (DWORD n : stored_sectors())
        if (n >= first && n < sectors_)
            ok = ok && ::pwrite(fd, sector(n), kSector, static_cast<off_t>(n - first) * static_cast<off_t>(kSector)) ==
                           static_cast<ssize_t>(kSector);
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(tmp.c_str());
    return ok;
}

bool MemoryDisk::load_raw(const std::string& path, DWORD first, bool resize)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || static_cast<unsigned long long>(st.st_size) / kSector > 0xFFFFFFFFull - first) {
        ::close(fd);
        return false;
    }
    if (resize) reset(first + static_cast<DWORD>(st.st_size / static_cast<off_t>(kSector)));
    std::array<BYTE, kSector> buf;
    bool ok = true;
    for (DWORD n = first; n < sectors_; n++) {
        if (::pread(fd, buf.data(), kSector, static_cast<off_t>(n - first) * static_cast<off_t>(kSector)) !=
            static_cast<ssize_t>(kSector)) {
            ok = false;
            break;
        }
        store(n, buf.data());
    }
    ::close(fd);
    return ok;
}

DSTATUS MemoryDisk::initialize() { return status(); }
DSTATUS MemoryDisk::status() { return protect_ ? STAT_PROTECT : 0; }

DRESULT MemoryDisk::read(BYTE* buff, DWORD sector, UINT count)
{
    if (!disk_range_ok(sector, count, sectors_)) return RES_PARERR;
    for (UINT i = 0; i < count; i++) std::memcpy(buff + std::size_t{i} * kSector, this->sector(sector + i), kSector);
    return RES_OK;
}

DRESULT MemoryDisk::write(const BYTE* buff, DWORD sector, UINT count)
{
    if (!disk_range_ok(sector, count, sectors_)) return RES_PARERR;
    if (protect_) return RES_WRPRT;
    for (UINT i = 0; i < count; i++) store(sector + i, buff + std::size_t{i} * kSector);
    return RES_OK;
}

DRESULT MemoryDisk::sync() { return RES_OK; }

DRESULT MemoryDisk::sector_count(DWORD* count)
{
    *count = sectors_;
    return RES_OK;
}

DRESULT MemoryDisk::erase_block(DWORD* sectors)
{
    *sectors = erase_block_;
    return RES_OK;
}
