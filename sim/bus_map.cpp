#include "sim/bus_map.h"

#include <cstdio>
#include <stdexcept>

namespace sim {

BusMap::BusMap() : slots_(kSfrWindowSize / kRegisterStride, 0) {}

void BusMap::claim(Peripheral& peripheral, const std::string& owner, const std::string& name, uint32_t address,
                   unsigned reg, bool aliases) {
    char where[16];
    std::snprintf(where, sizeof where, "0x%08X", address);
    if (address % kRegisterStride != 0 || address - kSfrWindowBase >= kSfrWindowSize)
        throw std::logic_error(name + " at " + where + " is not a register slot of the SFR window");
    uint16_t& slot = slots_[(address - kSfrWindowBase) / kRegisterStride];
    if (slot != 0) throw std::logic_error(name + " at " + where + " is already " + entries_[slot - 1].name);
    entries_.push_back(RegisterEntry{address, name, owner, &peripheral, reg, aliases});
    slot = static_cast<uint16_t>(entries_.size());
}

}  // namespace sim
