#include "fatfs/host/instrumented_disk.h"

#include <algorithm>

std::size_t InstrumentedDisk::count(DiskOp op) const
{
    return static_cast<std::size_t>(
        std::count_if(calls_.begin(), calls_.end(), [op](const DiskCall& c) { return c.op == op; }));
}

std::size_t InstrumentedDisk::count(DiskOp op, DRESULT result) const
{
    return static_cast<std::size_t>(std::count_if(
        calls_.begin(), calls_.end(), [op, result](const DiskCall& c) { return c.op == op && c.result == result; }));
}

std::vector<DWORD> InstrumentedDisk::written_sectors() const
{
    std::vector<DWORD> out;
    for (const DiskCall& c : calls_)
        if (c.op == DiskOp::Write && c.result == RES_OK)
            for (UINT i = 0; i < c.count; i++) out.push_back(c.sector + i);
    return out;
}

void InstrumentedDisk::fail_nth(DiskOp op, unsigned n, DRESULT res) { nth_faults_.push_back({op, n, res}); }
void InstrumentedDisk::fail_sector(DiskOp op, DWORD sector, DRESULT res) { sector_faults_.push_back({op, sector, res}); }
void InstrumentedDisk::fail_ioctl(BYTE ctrl, DRESULT res) { ioctl_faults_.push_back({ctrl, res}); }

void InstrumentedDisk::fail_after(std::size_t transfers)
{
    failing_after_ = true;
    transfers_left_ = transfers;
}

void InstrumentedDisk::clear_faults()
{
    nth_faults_.clear();
    sector_faults_.clear();
    ioctl_faults_.clear();
    failing_after_ = false;
}

void InstrumentedDisk::cut_power_after(std::uint64_t sectors)
{
    cut_armed_ = true;
    until_cut_ = sectors;
}

void InstrumentedDisk::restore_power()
{
    powered_ = true;
    cut_armed_ = false;
    noinit_ = true;
}

bool InstrumentedDisk::in_range(DWORD sector, UINT count)
{
    DWORD total = 0;
    return inner_.sector_count(&total) == RES_OK && disk_range_ok(sector, count, total);
}

bool InstrumentedDisk::injected(DiskOp op, DWORD sector, UINT count, BYTE ctrl, DRESULT& res)
{
    bool hit = false;
    for (auto it = nth_faults_.begin(); it != nth_faults_.end();) {
        if (it->op == op && --it->remaining == 0) {
            if (!hit) res = it->res;
            hit = true;
            it = nth_faults_.erase(it);
        } else {
            ++it;
        }
    }
    if (!hit)
        for (const SectorFault& f : sector_faults_)
            if (f.op == op && (op == DiskOp::Ioctl ? f.sector == 0 : f.sector - sector < count)) {
                res = f.res;
                hit = true;
                break;
            }
    if (!hit && op == DiskOp::Ioctl)
        for (const IoctlFault& f : ioctl_faults_)
            if (f.ctrl == ctrl) {
                res = f.res;
                hit = true;
                break;
            }
    if (!hit && failing_after_ && (op == DiskOp::Read || op == DiskOp::Write)) {
        if (transfers_left_ == 0) {
            res = RES_ERROR;
            hit = true;
        } else {
            transfers_left_--;
        }
    }
    return hit;
}

DRESULT InstrumentedDisk::log(DiskOp op, DWORD sector, UINT count, BYTE ctrl, DRESULT res)
{
    if (recording_) calls_.push_back({op, sector, count, ctrl, res});
    return res;
}

DSTATUS InstrumentedDisk::own_status() const { return (noinit_ || !powered_) ? STAT_NOINIT : 0; }

DSTATUS InstrumentedDisk::initialize()
{
    log(DiskOp::Initialize, 0, 0, 0, RES_OK);
    if (!powered_) return STAT_NOINIT;
    const DSTATUS inner = inner_.initialize();
    noinit_ = init_fails_;
    return static_cast<DSTATUS>(inner | own_status());
}

DSTATUS InstrumentedDisk::status()
{
    log(DiskOp::Status, 0, 0, 0, RES_OK);
    if (!powered_) return STAT_NOINIT;
    return static_cast<DSTATUS>(inner_.status() | own_status());
}

DRESULT InstrumentedDisk::read(BYTE* buff, DWORD sector, UINT count)
{
    if (!in_range(sector, count)) return log(DiskOp::Read, sector, count, 0, RES_PARERR);
    DRESULT res = RES_OK;
    if (injected(DiskOp::Read, sector, count, 0, res)) return log(DiskOp::Read, sector, count, 0, res);
    if (own_status()) return log(DiskOp::Read, sector, count, 0, RES_NOTRDY);
    return log(DiskOp::Read, sector, count, 0, inner_.read(buff, sector, count));
}

DRESULT InstrumentedDisk::write(const BYTE* buff, DWORD sector, UINT count)
{
    if (!in_range(sector, count)) return log(DiskOp::Write, sector, count, 0, RES_PARERR);
    DRESULT res = RES_OK;
    if (injected(DiskOp::Write, sector, count, 0, res)) return log(DiskOp::Write, sector, count, 0, res);
    if (own_status()) return log(DiskOp::Write, sector, count, 0, RES_NOTRDY);

    // The sectors before a power cut reach the medium; the rest are lost.
    UINT keep = count;
    if (cut_armed_ && until_cut_ < count) keep = static_cast<UINT>(until_cut_);
    res = keep ? inner_.write(buff, sector, keep) : RES_OK;
    if (res == RES_OK) {
        stored_ += keep;
        if (cut_armed_) {
            until_cut_ -= keep;
            if (until_cut_ == 0) {
                powered_ = false;
                cut_armed_ = false;
            }
        }
        if (keep < count) res = RES_ERROR;
    }
    return log(DiskOp::Write, sector, count, 0, res);
}

bool InstrumentedDisk::refused(BYTE ctrl, DRESULT& res)
{
    if (injected(DiskOp::Ioctl, 0, 1, ctrl, res)) return true;
    if (own_status()) {
        res = RES_NOTRDY;
        return true;
    }
    return false;
}

DRESULT InstrumentedDisk::sync()
{
    DRESULT res = RES_OK;
    if (!refused(IOCTL_SYNC, res)) res = inner_.sync();
    return log(DiskOp::Ioctl, 0, 0, IOCTL_SYNC, res);
}

DRESULT InstrumentedDisk::sector_count(DWORD* count)
{
    DRESULT res = RES_OK;
    if (!refused(IOCTL_SECTOR_COUNT, res)) res = inner_.sector_count(count);
    return log(DiskOp::Ioctl, 0, 0, IOCTL_SECTOR_COUNT, res);
}

DRESULT InstrumentedDisk::erase_block(DWORD* sectors)
{
    DRESULT res = RES_OK;
    if (!refused(IOCTL_BLOCK_SIZE, res)) res = inner_.erase_block(sectors);
    return log(DiskOp::Ioctl, 0, 0, IOCTL_BLOCK_SIZE, res);
}

DRESULT InstrumentedDisk::control(BYTE ctrl, void* buff)
{
    DRESULT res = RES_OK;
    if (!refused(ctrl, res)) res = inner_.control(ctrl, buff);
    return log(DiskOp::Ioctl, 0, 0, ctrl, res);
}
