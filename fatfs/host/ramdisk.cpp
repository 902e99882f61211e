// RAM disk with a call log and fault injection, behind the disk_* functions.
#include "fatfs/host/ramdisk.h"

#include <algorithm>
#include <cstring>

namespace {
RamDisk* g_current = nullptr;
}

RamDisk::RamDisk(DWORD sectors) : data_(static_cast<std::size_t>(sectors) * 512, 0)
{
    previous_ = g_current;
    g_current = this;
}

RamDisk::RamDisk(std::vector<BYTE> image) : data_(std::move(image))
{
    data_.resize(data_.size() / 512 * 512);
    previous_ = g_current;
    g_current = this;
}

RamDisk::~RamDisk()
{
    if (g_current == this) g_current = previous_;
}

RamDisk* RamDisk::current() { return g_current; }

std::size_t RamDisk::count(DiskOp op) const
{
    return static_cast<std::size_t>(
        std::count_if(calls_.begin(), calls_.end(), [op](const DiskCall& c) { return c.op == op; }));
}

std::vector<DWORD> RamDisk::written_sectors() const
{
    std::vector<DWORD> out;
    for (const DiskCall& c : calls_)
        if (c.op == DiskOp::Write && c.result == RES_OK)
            for (UINT i = 0; i < c.count; i++) out.push_back(c.sector + i);
    return out;
}

void RamDisk::fail_nth(DiskOp op, unsigned n, DRESULT res) { nth_faults_.push_back({op, n, res}); }
void RamDisk::fail_sector(DiskOp op, DWORD sector, DRESULT res) { sector_faults_.push_back({op, sector, res}); }
void RamDisk::clear_faults()
{
    nth_faults_.clear();
    sector_faults_.clear();
}

DSTATUS RamDisk::stat_bits() const
{
    DSTATUS s = 0;
    if (noinit_) s |= STAT_NOINIT;
    if (protect_) s |= STAT_PROTECT;
    return s;
}

bool RamDisk::injected(DiskOp op, DWORD sector, UINT count, DRESULT& res)
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
            if (f.op == op && f.sector - sector < count) {
                res = f.res;
                hit = true;
                break;
            }
    return hit;
}

DRESULT RamDisk::log(DiskOp op, DWORD sector, UINT count, BYTE ctrl, DRESULT res)
{
    if (recording_) calls_.push_back({op, sector, count, ctrl, res});
    return res;
}

DSTATUS RamDisk::initialize(BYTE drv)
{
    log(DiskOp::Initialize, 0, 0, 0, RES_OK);
    if (drv != 0) return STAT_NOINIT;
    noinit_ = init_fails_;
    return stat_bits();
}

DSTATUS RamDisk::status(BYTE drv)
{
    log(DiskOp::Status, 0, 0, 0, RES_OK);
    if (drv != 0) return STAT_NOINIT;
    return stat_bits();
}

DRESULT RamDisk::read(BYTE drv, BYTE* buff, DWORD sector, BYTE count)
{
    if (drv != 0 || count == 0) return log(DiskOp::Read, sector, count, 0, RES_PARERR);
    DRESULT res = RES_OK;
    if (injected(DiskOp::Read, sector, count, res)) return log(DiskOp::Read, sector, count, 0, res);
    if (noinit_) return log(DiskOp::Read, sector, count, 0, RES_NOTRDY);
    if (sector >= sector_count() || count > sector_count() - sector)
        return log(DiskOp::Read, sector, count, 0, RES_PARERR);
    std::memcpy(buff, this->sector(sector), static_cast<std::size_t>(count) * 512);
    return log(DiskOp::Read, sector, count, 0, RES_OK);
}

DRESULT RamDisk::write(BYTE drv, const BYTE* buff, DWORD sector, BYTE count)
{
    if (drv != 0 || count == 0) return log(DiskOp::Write, sector, count, 0, RES_PARERR);
    DRESULT res = RES_OK;
    if (injected(DiskOp::Write, sector, count, res)) return log(DiskOp::Write, sector, count, 0, res);
    if (noinit_) return log(DiskOp::Write, sector, count, 0, RES_NOTRDY);
    if (protect_) return log(DiskOp::Write, sector, count, 0, RES_WRPRT);
    if (sector >= sector_count() || count > sector_count() - sector)
        return log(DiskOp::Write, sector, count, 0, RES_PARERR);
    std::memcpy(this->sector(sector), buff, static_cast<std::size_t>(count) * 512);
    return log(DiskOp::Write, sector, count, 0, RES_OK);
}

DRESULT RamDisk::ioctl(BYTE drv, BYTE ctrl, void* buff)
{
    if (drv != 0) return log(DiskOp::Ioctl, 0, 0, ctrl, RES_PARERR);
    DRESULT res = RES_OK;
    if (injected(DiskOp::Ioctl, 0, 1, res)) return log(DiskOp::Ioctl, 0, 0, ctrl, res);
    if (noinit_) return log(DiskOp::Ioctl, 0, 0, ctrl, RES_NOTRDY);
    switch (ctrl) {
    case IOCTL_SYNC:
        break;
    case IOCTL_SECTOR_COUNT: {
        const DWORD n = sector_count();
        std::memcpy(buff, &n, sizeof n);
        break;
    }
    case IOCTL_SECTOR_SIZE: {
        const WORD n = 512;
        std::memcpy(buff, &n, sizeof n);
        break;
    }
    case IOCTL_BLOCK_SIZE: {
        const DWORD n = 1;
        std::memcpy(buff, &n, sizeof n);
        break;
    }
    default:
        res = RES_PARERR;
        break;
    }
    return log(DiskOp::Ioctl, 0, 0, ctrl, res);
}

extern "C" {

DSTATUS disk_initialize(BYTE drv) { return g_current ? g_current->initialize(drv) : STAT_NOINIT | STAT_NODISK; }
DSTATUS disk_status(BYTE drv) { return g_current ? g_current->status(drv) : STAT_NOINIT | STAT_NODISK; }
DRESULT disk_read(BYTE drv, BYTE* buff, DWORD sector, BYTE count)
{
    return g_current ? g_current->read(drv, buff, sector, count) : RES_NOTRDY;
}
DRESULT disk_write(BYTE drv, const BYTE* buff, DWORD sector, BYTE count)
{
    return g_current ? g_current->write(drv, buff, sector, count) : RES_NOTRDY;
}
DRESULT disk_ioctl(BYTE drv, BYTE ctrl, void* buff)
{
    return g_current ? g_current->ioctl(drv, ctrl, buff) : RES_NOTRDY;
}
void disk_timerproc(void) {}

}
