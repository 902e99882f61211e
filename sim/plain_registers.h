#pragma once
// A peripheral whose registers the board only stores (analogue pin
// configuration, bus matrix, DMA and prefetch-cache control): each has its
// reset value and the bits software may change; read-only registers have none.
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "sim/bus_map.h"

namespace sim {

struct PlainRegister {
    const char* name;
    uint32_t address;  // physical
    uint32_t reset;
    uint32_t writable;
    bool aliases;
};

class PlainRegisters : public Peripheral {
public:
    PlainRegisters(std::string owner, std::initializer_list<PlainRegister> registers);
    void claim(BusMap& bus);

    uint32_t peek(unsigned reg) const override { return values_[reg]; }
    void write(unsigned reg, AliasOp op, uint32_t value, uint32_t lanes) override {
        values_[reg] = apply_write(values_[reg], op, value, lanes & specs_[reg].writable);
    }

private:
    std::string owner_;
    std::vector<PlainRegister> specs_;
    std::vector<uint32_t> values_;
};

}  // namespace sim
