// A raw disk image file as a block device, for host programs. Its capacity
// is the file size in whole sectors; transfers outside it are refused and
// never extend the file. Opened sparse, sectors written as zeros become holes
// in the file instead of taking room on the host's disk.
#ifndef TESSIVO_FATFS_HOST_IMAGE_DISK_H
#define TESSIVO_FATFS_HOST_IMAGE_DISK_H

#include "fatfs/host/block_device.h"

class ImageDisk : public BlockDevice {
public:
    ImageDisk() = default;
    ~ImageDisk() override;
    ImageDisk(const ImageDisk&) = delete;
    ImageDisk& operator=(const ImageDisk&) = delete;

    // Opens `path` read-only or read-write, closing any image open before.
    // False (nothing open) when it is no regular file or cannot be opened.
    bool open(const char* path, bool writable, bool sparse = false);
    // Uses the open file or block device `fd` of `bytes` (whole sectors
    // count), closing any image open before. The caller keeps `fd`: it
    // flushes and closes it after close().
    void use_fd(int fd, unsigned long long bytes, bool writable, bool sparse = false);
    // Flushes a writable image opened by path to stable storage and closes
    // it; an attached descriptor is only let go.
    void close();
    DWORD sectors() const { return sectors_; }

    // Until initialize() the drive reads as not initialised; a read-only
    // image is write-protected; no image open is an empty socket.
    DSTATUS initialize() override;
    DSTATUS status() override;
    DRESULT read(BYTE* buff, DWORD sector, UINT count) override;
    DRESULT write(const BYTE* buff, DWORD sector, UINT count) override;
    DRESULT sync() override;
    DRESULT sector_count(DWORD* count) override;
    DRESULT erase_block(DWORD* sectors) override;

private:
    bool write_run(const BYTE* buff, DWORD sector, UINT count, bool zeros);

    int fd_ = -1;
    bool owned_ = false;  // opened here by path, so closed here
    bool writable_ = false;
    bool sparse_ = false;
    bool initialised_ = false;
    DWORD sectors_ = 0;
};

#endif
