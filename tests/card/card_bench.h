#pragma once
// A simulated board with the tick running and a card model in the socket.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "fatfs/diskio.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/board.h"
#include "sim/card_model.h"

namespace card_test {

using Csd = std::array<uint8_t, 16>;

// CSD registers: version 1 (standard capacity, MMC) with its size fields, and
// version 2 (high capacity) with C_SIZE in units of 512 KB.
Csd csd_v1(uint32_t read_bl_len, uint32_t c_size_mult, uint32_t c_size, uint32_t write_bl_len = 9);
Csd csd_v2(uint32_t c_size);

class CardBench : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Inserts a card of `kind` over a blank image of `bytes`.
    void insert(sim::CardKind kind, uint64_t bytes = 8u << 20);
    // Inserts and initialises it; the test stops if that fails.
    void insert_ready(sim::CardKind kind, uint64_t bytes = 8u << 20);

    // Board milliseconds spent in `op`.
    template <typename Op>
    double board_ms(Op op) {
        const sim::Cycle start = board.now();
        op();
        return static_cast<double>(board.now() - start) / static_cast<double>(sim::cycles_from_ms(1));
    }

    // Sectors with contents that tell them apart: byte i of sector s.
    static uint8_t pattern(uint64_t sector, size_t i, uint8_t seed);
    static std::vector<uint8_t> pattern_sectors(uint64_t first, size_t count, uint8_t seed);
    void fill_image(uint64_t first, size_t count, uint8_t seed);
    std::vector<uint8_t> image_sectors(uint64_t first, size_t count);

    // The last logged command with this index (and application flag), or null.
    const sim::CardCommand* last_command(uint8_t index, bool app = false) const;

    bool chip_selected() const { return !board.pin(sim::Port::F, 0); }

    sim::Board board;

    sim::CompiledCpu cpu{board};
    std::unique_ptr<sim::MemoryImage> image;
    std::unique_ptr<sim::CardModel> card;
    bool expect_violations = false;
};

}  // namespace card_test
