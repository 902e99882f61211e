// A wrapper over any host block device that records every call and can be
// told to fail chosen calls, to go bad after some transfers, or to lose its
// power after some stored sectors. Serves tests, fuzz targets and benchmarks.
#ifndef TESSIVO_FATFS_HOST_INSTRUMENTED_DISK_H
#define TESSIVO_FATFS_HOST_INSTRUMENTED_DISK_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fatfs/host/block_device.h"

enum class DiskOp { Initialize, Status, Read, Write, Ioctl };

struct DiskCall {
    DiskOp op;
    DWORD sector;  // Read/Write: first sector
    UINT count;    // Read/Write: sector count
    BYTE ctrl;     // Ioctl: control code
    DRESULT result;
};

class InstrumentedDisk : public BlockDevice {
public:
    explicit InstrumentedDisk(BlockDevice& inner) : inner_(inner) {}

    // Call log. Recording is on by default; benchmarks turn it off.
    const std::vector<DiskCall>& calls() const { return calls_; }
    void clear_calls() { calls_.clear(); }
    void set_recording(bool on) { recording_ = on; }
    std::size_t count(DiskOp op) const;
    std::size_t count(DiskOp op, DRESULT result) const;
    // Sectors written (each sector of every successful write call, in order).
    std::vector<DWORD> written_sectors() const;

    // Failures; each returns `res` and passes nothing on. fail_nth: the n-th
    // call of `op` from now on (1 = the next one). fail_sector: every call of
    // `op` whose range holds `sector` (for Ioctl, sector 0 means every one).
    // fail_ioctl: every control request with code `ctrl`. fail_after: the
    // next `transfers` reads and writes work, every one after that fails.
    void fail_nth(DiskOp op, unsigned n, DRESULT res = RES_ERROR);
    void fail_sector(DiskOp op, DWORD sector, DRESULT res = RES_ERROR);
    void fail_ioctl(BYTE ctrl, DRESULT res = RES_ERROR);
    void fail_after(std::size_t transfers);
    void clear_faults();

    // Status: a drive that reports not initialised until initialize(), or
    // one that initialize() cannot bring up.
    void set_noinit(bool on) { noinit_ = on; }
    void set_init_fails(bool on) { init_fails_ = on; }

    // Power: after `sectors` more sectors are stored the power goes (a write
    // that crosses the point keeps the sectors before it and fails). Without
    // power the drive reads as not initialised and refuses every call until
    // restore_power(), after which it needs initialize() again.
    void cut_power_after(std::uint64_t sectors);
    bool powered() const { return powered_; }
    void restore_power();
    // Sectors stored since the drive was made.
    std::uint64_t sectors_stored() const { return stored_; }

    DSTATUS initialize() override;
    DSTATUS status() override;
    DRESULT read(BYTE* buff, DWORD sector, UINT count) override;
    DRESULT write(const BYTE* buff, DWORD sector, UINT count) override;
    DRESULT sync() override;
    DRESULT sector_count(DWORD* count) override;
    DRESULT erase_block(DWORD* sectors) override;
    DRESULT control(BYTE ctrl, void* buff) override;

private:
    struct NthFault { DiskOp op; unsigned remaining; DRESULT res; };
    struct SectorFault { DiskOp op; DWORD sector; DRESULT res; };
    struct IoctlFault { BYTE ctrl; DRESULT res; };

    bool in_range(DWORD sector, UINT count);
    bool injected(DiskOp op, DWORD sector, UINT count, BYTE ctrl, DRESULT& res);
    DRESULT log(DiskOp op, DWORD sector, UINT count, BYTE ctrl, DRESULT res);
    // The checks every control request goes through; true when `res` is its answer.
    bool refused(BYTE ctrl, DRESULT& res);
    DSTATUS own_status() const;

    BlockDevice& inner_;
    std::vector<DiskCall> calls_;
    std::vector<NthFault> nth_faults_;
    std::vector<SectorFault> sector_faults_;
    std::vector<IoctlFault> ioctl_faults_;
    bool recording_ = true;
    bool noinit_ = false;
    bool init_fails_ = false;
    bool failing_after_ = false;
    std::size_t transfers_left_ = 0;
    bool powered_ = true;
    bool cut_armed_ = false;
    std::uint64_t until_cut_ = 0;
    std::uint64_t stored_ = 0;
};

#endif
