#include "sim/plain_registers.h"

namespace sim {

PlainRegisters::PlainRegisters(std::string owner, std::initializer_list<PlainRegister> registers)
    : owner_(std::move(owner)), specs_(registers) {
    for (const PlainRegister& r : specs_) values_.push_back(r.reset);
}

void PlainRegisters::claim(BusMap& bus) {
    for (unsigned i = 0; i < specs_.size(); ++i)
        bus.claim(*this, owner_, specs_[i].name, specs_[i].address, i, specs_[i].aliases);
}

}  // namespace sim
