#include "tests/card/card_bench.h"

#include "fatfs/sdspi.h"
#include "platform/pic32/pic32.h"
#include "tests/support/firmware_harness.h"

namespace card_test {
namespace {

// Sets bits hi..lo of a 128-bit register numbered from its top bit.
void put(Csd& r, int hi, int lo, uint32_t v) {
    for (int bit = lo; bit <= hi; ++bit) {
        const size_t byte = 15 - static_cast<size_t>(bit / 8);
        const auto mask = static_cast<uint8_t>(1u << (bit % 8));
        r[byte] = static_cast<uint8_t>(((v >> (bit - lo)) & 1u) ? (r[byte] | mask) : (r[byte] & ~mask));
    }
}

}  // namespace

Csd csd_v1(uint32_t read_bl_len, uint32_t c_size_mult, uint32_t c_size, uint32_t write_bl_len) {
    Csd r{};
    put(r, 83, 80, read_bl_len);
    put(r, 73, 62, c_size);
    put(r, 49, 47, c_size_mult);
    put(r, 46, 46, 1);
    put(r, 45, 39, 127);
    put(r, 25, 22, write_bl_len);
    return r;
}

Csd csd_v2(uint32_t c_size) {
    Csd r{};
    put(r, 127, 126, 1);
    put(r, 83, 80, 9);
    put(r, 69, 48, c_size);
    return r;
}

void CardBench::SetUp() {
    OSCSetPBDIV(OSC_PB_DIV_1);  // 80 MHz peripheral bus, as the firmware runs it
    test_support::start_tick(cpu);
    disk_attach(0, &sdspi_disk, nullptr);
    // A driver that hangs ends the test instead of the run.
    board.stop_at(board.now() + sim::cycles_from_ms(30'000));
}

void CardBench::TearDown() {
    if (!expect_violations) {
        for (const std::string& v : board.violations()) ADD_FAILURE() << v;
    }
    card.reset();
}

void CardBench::insert(sim::CardKind kind, uint64_t bytes) {
    card.reset();
    image = std::make_unique<sim::MemoryImage>(bytes);
    card = std::make_unique<sim::CardModel>(kind, *image);
    board.plug(*card);
}

void CardBench::insert_ready(sim::CardKind kind, uint64_t bytes) {
    insert(kind, bytes);
    ASSERT_EQ(disk_initialize(0), 0) << sim::card_kind_name(kind);
}

uint8_t CardBench::pattern(uint64_t sector, size_t i, uint8_t seed) {
    return static_cast<uint8_t>((sector * 7 + i * 13 + seed + (i >> 8)) & 0xFF);
}

std::vector<uint8_t> CardBench::pattern_sectors(uint64_t first, size_t count, uint8_t seed) {
    std::vector<uint8_t> data(count * 512);
    for (size_t s = 0; s < count; ++s)
        for (size_t i = 0; i < 512; ++i) data[s * 512 + i] = pattern(first + s, i, seed);
    return data;
}

void CardBench::fill_image(uint64_t first, size_t count, uint8_t seed) {
    const std::vector<uint8_t> data = pattern_sectors(first, count, seed);
    ASSERT_TRUE(image->write(first * 512, data.data(), data.size()));
}

std::vector<uint8_t> CardBench::image_sectors(uint64_t first, size_t count) {
    std::vector<uint8_t> data(count * 512);
    EXPECT_TRUE(image->read(first * 512, data.data(), data.size()));
    return data;
}

const sim::CardCommand* CardBench::last_command(uint8_t index, bool app) const {
    const auto& log = card->commands();
    for (auto it = log.rbegin(); it != log.rend(); ++it)
        if (it->index == index && it->app == app) return &*it;
    return nullptr;
}

}  // namespace card_test
