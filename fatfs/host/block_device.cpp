#include "fatfs/host/block_device.h"

#include <algorithm>
#include <vector>

namespace {

BlockDevice& device(void* dev) { return *static_cast<BlockDevice*>(dev); }

// Devices attached to each drive, newest last: the newest is the drive, and
// when it goes the one before it is the drive again.
std::vector<BlockDevice*>& attached(BYTE drv)
{
    // Never destroyed: devices with static lifetime leave their drive
    // during the program's exit, in any order.
    static auto* const stacks = new std::vector<BlockDevice*>[DISK_DRIVES];
    return stacks[drv];
}

void attach_top(BYTE drv)
{
    const std::vector<BlockDevice*>& stack = attached(drv);
    if (stack.empty()) disk_attach(drv, nullptr, nullptr);
    else disk_attach(drv, &BlockDevice::ops, stack.back());
}

}  // namespace

const DISKOPS BlockDevice::ops = {
    [](void* dev) { return device(dev).initialize(); },
    [](void* dev) { return device(dev).status(); },
    [](void* dev, BYTE* buff, DWORD sector, UINT count) { return device(dev).read(buff, sector, count); },
    [](void* dev, const BYTE* buff, DWORD sector, UINT count) { return device(dev).write(buff, sector, count); },
    [](void* dev) { return device(dev).sync(); },
    [](void* dev, DWORD* count) { return device(dev).sector_count(count); },
    [](void* dev, DWORD* sectors) { return device(dev).erase_block(sectors); },
    [](void* dev, BYTE ctrl, void* buff) { return device(dev).control(ctrl, buff); },
};

BlockDevice::~BlockDevice()
{
    for (BYTE drv = 0; drv < DISK_DRIVES; drv++) {
        std::vector<BlockDevice*>& stack = attached(drv);
        const auto it = std::find(stack.begin(), stack.end(), this);
        if (it == stack.end()) continue;
        const bool was_drive = it + 1 == stack.end();
        stack.erase(it);
        if (was_drive) attach_top(drv);
    }
}

DRESULT BlockDevice::control(BYTE, void*) { return RES_PARERR; }

void BlockDevice::attach(BYTE drv)
{
    if (drv >= DISK_DRIVES) return;
    std::vector<BlockDevice*>& stack = attached(drv);
    stack.erase(std::remove(stack.begin(), stack.end(), this), stack.end());
    stack.push_back(this);
    attach_top(drv);
}
