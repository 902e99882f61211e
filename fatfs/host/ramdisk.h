// A RAM disk behind the disk_* functions, for tests of the FAT module.
// It records every call and can be told to fail chosen calls.
#ifndef TESSIVO_FATFS_HOST_RAMDISK_H
#define TESSIVO_FATFS_HOST_RAMDISK_H

#include <cstddef>
#include <vector>

#include "fatfs/diskio.h"

enum class DiskOp { Initialize, Status, Read, Write, Ioctl };

struct DiskCall {
    DiskOp op;
    DWORD sector;  // Read/Write: first sector
    UINT count;    // Read/Write: sector count
    BYTE ctrl;     // Ioctl: control code
    DRESULT result;
};

class RamDisk {
public:
    // A zero-filled disk of `sectors` sectors, or a disk holding `image`
    // (its size rounded down to whole sectors). The newest RamDisk is the drive.
    explicit RamDisk(DWORD sectors);
    explicit RamDisk(std::vector<BYTE> image);
    ~RamDisk();
    RamDisk(const RamDisk&) = delete;
    RamDisk& operator=(const RamDisk&) = delete;

    std::vector<BYTE>& bytes() { return data_; }
    const std::vector<BYTE>& bytes() const { return data_; }
    BYTE* sector(DWORD n) { return data_.data() + static_cast<std::size_t>(n) * 512; }
    DWORD sector_count() const { return static_cast<DWORD>(data_.size() / 512); }

    // Call log
    const std::vector<DiskCall>& calls() const { return calls_; }
    void clear_calls() { calls_.clear(); }
    // Recording is on by default; benchmarks turn it off.
    void set_recording(bool on) { recording_ = on; }
    std::size_t count(DiskOp op) const;
    // Sectors written (each sector of every successful write call, in order).
    std::vector<DWORD> written_sectors() const;

    // Faults. fail_nth: the n-th call of `op` from now on (1 = the next one)
    // returns `res` and transfers nothing. fail_sector: every read/write call
    // of `op` that touches `sector` fails. Faults apply to Read, Write, Ioctl.
    void fail_nth(DiskOp op, unsigned n, DRESULT res = RES_ERROR);
    void fail_sector(DiskOp op, DWORD sector, DRESULT res = RES_ERROR);
    void clear_faults();

    // Status: write protection (writes give RES_WRPRT), a drive that reports
    // not initialised until disk_initialize, or one that cannot be initialised.
    void set_write_protect(bool on) { protect_ = on; }
    void set_noinit(bool on) { noinit_ = on; }
    void set_init_fails(bool on) { init_fails_ = on; }

    // The disk_* entry points land here.
    DSTATUS initialize(BYTE drv);
    DSTATUS status(BYTE drv);
    DRESULT read(BYTE drv, BYTE* buff, DWORD sector, BYTE count);
    DRESULT write(BYTE drv, const BYTE* buff, DWORD sector, BYTE count);
    DRESULT ioctl(BYTE drv, BYTE ctrl, void* buff);

    static RamDisk* current();

private:
    struct NthFault { DiskOp op; unsigned remaining; DRESULT res; };
    struct SectorFault { DiskOp op; DWORD sector; DRESULT res; };

    DSTATUS stat_bits() const;
    bool injected(DiskOp op, DWORD sector, UINT count, DRESULT& res);
    DRESULT log(DiskOp op, DWORD sector, UINT count, BYTE ctrl, DRESULT res);

    std::vector<BYTE> data_;
    std::vector<DiskCall> calls_;
    std::vector<NthFault> nth_faults_;
    std::vector<SectorFault> sector_faults_;
    bool recording_ = true;
    bool protect_ = false;
    bool noinit_ = false;
    bool init_fails_ = false;
    RamDisk* previous_ = nullptr;
};

// The fake clock behind get_fattime (in this library): a fixed FAT time stamp.
void fake_fattime_set(DWORD stamp);
DWORD fake_fattime_get();
// Pack a date and time into a FAT time stamp.
DWORD fat_timestamp(int year, int month, int day, int hour, int min, int sec);

#endif
