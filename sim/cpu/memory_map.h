#pragma once
// The chip's address spaces: fixed-mapping translation from virtual to
// physical addresses and the physical regions the core keeps itself.
#include <cstdint>

#include "sim/cpu/m4k_config.h"

namespace m4k {

enum class Region : uint8_t { None, Ram, Flash, Boot, Sfr };

struct PhysicalSpan {
    Region region;
    uint32_t offset;  // from the start of the region
};

// Which region a physical address falls in.
inline PhysicalSpan locate(uint32_t phys) {
    using namespace config;
    if (phys - kRamBase < kRamSize) return {Region::Ram, phys - kRamBase};
    if (phys - kFlashBase < kFlashSize) return {Region::Flash, phys - kFlashBase};
    if (phys - kBootBase < kBootSize) return {Region::Boot, phys - kBootBase};
    if (phys - kSfrBase < kSfrSize) return {Region::Sfr, phys - kSfrBase};
    return {Region::None, 0};
}

inline uint32_t region_base(Region r) {
    switch (r) {
    case Region::Ram: return config::kRamBase;
    case Region::Flash: return config::kFlashBase;
    case Region::Boot: return config::kBootBase;
    case Region::Sfr: return config::kSfrBase;
    case Region::None: break;
    }
    return 0;
}

inline uint32_t region_size(Region r) {
    switch (r) {
    case Region::Ram: return config::kRamSize;
    case Region::Flash: return config::kFlashSize;
    case Region::Boot: return config::kBootSize;
    case Region::Sfr: return config::kSfrSize;
    case Region::None: break;
    }
    return 0;
}

// Fixed mapping: kseg0/kseg1 drop the top three bits; kuseg is offset unless
// ERL is set; kseg2/kseg3 pass through.
inline uint32_t translate(uint32_t vaddr, bool erl) {
    if (vaddr < 0x80000000u) return erl ? vaddr : vaddr + config::kUsegOffset;
    if (vaddr < 0xC0000000u) return vaddr & 0x1FFFFFFFu;
    return vaddr;
}

// KSEG0 is the only cacheable segment (and only when Config.K0 = 3).
inline bool in_kseg0(uint32_t vaddr) { return (vaddr & 0xE0000000u) == 0x80000000u; }

} // namespace m4k
