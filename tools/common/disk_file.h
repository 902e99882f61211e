// A disk image file or a card's block device, opened for a host program.
// Regular files and block devices are taken; anything else (a directory, a
// character device, a pipe) is refused with a message naming what it is.
// A block device's size comes from the device. Opened for writing, a block
// device is refused while it or a partition on it is mounted or when it is
// write-protected, and is held exclusively, so the system cannot mount it
// meanwhile.
#ifndef TESSIVO_TOOLS_COMMON_DISK_FILE_H
#define TESSIVO_TOOLS_COMMON_DISK_FILE_H

#include <sys/stat.h>

#include <cstdint>
#include <memory>
#include <string>

namespace tools {

class DiskFile {
public:
    enum class Access { Read, Write };

    // Null with the cause in `why` ("PATH: ..." in a user's words) when
    // `path` cannot be opened or is neither a file nor a block device.
    static std::unique_ptr<DiskFile> open(const std::string& path, Access access, std::string* why);
    ~DiskFile();
    DiskFile(const DiskFile&) = delete;
    DiskFile& operator=(const DiskFile&) = delete;

    int fd() const { return fd_; }
    uint64_t size() const { return size_; }
    bool block_device() const { return S_ISBLK(status_.st_mode); }
    const struct stat& status() const { return status_; }
    const std::string& path() const { return path_; }

    // Flushes what was written to the medium and closes. False with the
    // cause in `why` when the flush or the close fails.
    bool close(std::string* why);

private:
    DiskFile(int fd, const std::string& path, const struct stat& st, uint64_t size, bool writable)
        : fd_(fd), path_(path), status_(st), size_(size), writable_(writable)
    {
    }
    int fd_;
    std::string path_;
    struct stat status_;
    uint64_t size_;
    bool writable_;
};

// What kind of file `st` describes, in words ("a directory", "a character
// device", ...), for messages that refuse it.
const char* file_kind(const struct stat& st);

} // namespace tools

#endif
