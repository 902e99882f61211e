#pragma once
// Storage behind a simulated card: a fixed-size raw disk image, in memory or
// in a file. Accesses outside the image fail; nothing ever grows it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace sim {

class DiskImage {
public:
    virtual ~DiskImage() = default;
    // Size in bytes, fixed for the life of the image.
    virtual uint64_t size() const = 0;
    // Copy `n` bytes at `offset`; false when the range is outside the image or
    // the medium fails.
    virtual bool read(uint64_t offset, uint8_t* dst, size_t n) = 0;
    virtual bool write(uint64_t offset, const uint8_t* src, size_t n) = 0;

protected:
    bool in_range(uint64_t offset, size_t n) const { return offset <= size() && n <= size() - offset; }
};

// An image in memory that reads as zeros until written. Storage is taken in
// chunks as they are written, so a 64 GB card costs only what a test touches.
class MemoryImage : public DiskImage {
public:
    explicit MemoryImage(uint64_t size);
    // An image holding `bytes` (its size is their count).
    explicit MemoryImage(const std::vector<uint8_t>& bytes);

    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, uint8_t* dst, size_t n) override;
    bool write(uint64_t offset, const uint8_t* src, size_t n) override;

private:
    static constexpr uint64_t kChunk = 64 * 1024;
    uint64_t size_;
    std::unordered_map<uint64_t, std::unique_ptr<uint8_t[]>> chunks_;
};

// An existing image file, read and written in place.
class FileImage : public DiskImage {
public:
    // Opens `path` for reading and writing (or for reading only, where every
    // write fails); null with a message in `error` when it cannot be opened or
    // is empty.
    static std::unique_ptr<FileImage> open(const std::string& path, std::string& error, bool writable = true);
    ~FileImage() override;
    FileImage(const FileImage&) = delete;
    FileImage& operator=(const FileImage&) = delete;

    uint64_t size() const override { return size_; }
    bool read(uint64_t offset, uint8_t* dst, size_t n) override;
    bool write(uint64_t offset, const uint8_t* src, size_t n) override;

private:
    FileImage(int fd, uint64_t size) : fd_(fd), size_(size) {}
    int fd_;
    uint64_t size_;
};

}  // namespace sim
