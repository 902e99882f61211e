#pragma once
// One SPI module in master mode with the single-word buffer of this part:
// SPIxCON, SPIxSTAT, SPIxBUF (no aliases) and SPIxBRG. A byte written to BUF
// goes to the model on the channel at once; the answer is in BUF and RBF set
// when the eight clocks have run, 8 × 2 × (BRG + 1) peripheral clocks later.
// Reading BUF empties it (clears RBF): a read with a side effect.
#include <cstdint>

#include "sim/bus_map.h"
#include "sim/model.h"

namespace sim {

class SpiMaster : public Peripheral {
public:
    SpiMaster(Board& board, int channel) : board_(board), channel_(channel) {}
    void claim(BusMap& bus);

    // Completion of the transfer in flight, kNever when idle.
    Cycle next_event() const { return busy_ ? done_at_ : kNever; }

    uint32_t read(unsigned reg, bool& side_effect) override;
    uint32_t peek(unsigned reg) const override;
    void write(unsigned reg, AliasOp op, uint32_t value, uint32_t lanes) override;

private:
    enum : unsigned { kCon, kStat, kBuf, kBrg };
    void settle();
    void start_transfer(uint32_t value);
    const char* name() const { return channel_ == 1 ? "SPI1" : "SPI2"; }

    Board& board_;
    int channel_;
    uint32_t con_ = 0, stat_ = 0, brg_ = 0;
    uint32_t tx_ = 0;
    uint8_t rx_ = 0;
    bool rbf_ = false;
    bool busy_ = false;
    Cycle done_at_ = 0;
};

}  // namespace sim
