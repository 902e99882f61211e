// The board's bus map: the registers the firmware names are where the board
// decodes them, accesses nobody claims are caught, alias words and byte lanes
// behave as on the chip, and the interrupt controller's request to the CPU.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>

#include "sim/board.h"

namespace {

// The peripheral a register of the firmware's list belongs to, by its name.
std::string owner_of(const std::string& name) {
    static const struct {
        const char* pattern;
        const char* owner;
    } kOwners[] = {
        {"^(TRIS|PORT|LAT|ODC)B", "port B"}, {"^(TRIS|PORT|LAT|ODC)C", "port C"},
        {"^(TRIS|PORT|LAT|ODC)D", "port D"}, {"^(TRIS|PORT|LAT|ODC)E", "port E"},
        {"^(TRIS|PORT|LAT|ODC)F", "port F"}, {"^(TRIS|PORT|LAT|ODC)G", "port G"},
        {"^SPI1", "SPI1"}, {"^SPI2", "SPI2"}, {"^(INTCON|INTSTAT|IPTMR|IFS|IEC|IPC)", "interrupt controller"},
        {"^OSC", "oscillator"}, {"^SYSKEY", "system unlock"}, {"^DDPCON", "debug port"}, {"^AD1", "ADC"},
        {"^BMX", "bus matrix"}, {"^DMA", "DMA controller"}, {"^CHE", "prefetch cache"},
    };
    for (const auto& o : kOwners)
        if (std::regex_search(name, std::regex(o.pattern))) return o.owner;
    return "?";
}

TEST(BusMap, EveryRegisterTheFirmwareNamesIsClaimedByItsPeripheral) {
    std::ifstream in(TESSIVO_SOURCE_DIR "/platform/pic32/sfr.h");
    ASSERT_TRUE(in) << "cannot read sfr.h";
    std::stringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    const std::regex define(R"(#define\s+(\w+)\s+PIC32_SFR\((0x[0-9A-Fa-f]+)u?\))");
    sim::Board board;
    int names = 0;
    for (auto it = std::sregex_iterator(source.begin(), source.end(), define); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[1];
        const uint32_t address = static_cast<uint32_t>(std::stoul((*it)[2], nullptr, 16));
        ++names;
        const uint32_t alias = address & 0xFu;
        static const char* const kSuffix[] = {"", "CLR", "SET", "INV"};
        const sim::RegisterEntry* r = board.bus().find(sim::physical(address));
        ASSERT_NE(r, nullptr) << name << " is claimed by no peripheral";
        EXPECT_EQ(r->name + kSuffix[alias / 4], name) << "at " << std::hex << address;
        EXPECT_EQ(alias % 4, 0u) << name;
        EXPECT_TRUE(alias == 0 || r->aliases) << name << " is an alias of a register without aliases";
        EXPECT_EQ(r->owner, owner_of(name)) << name;
    }
    EXPECT_GT(names, 100) << "sfr.h not parsed";
}

TEST(BusMap, AccessesNobodyClaimsAreViolationsWithTheirAddress) {
    sim::Board board;
    uint32_t value = 1;
    bool side_effect = false;
    const struct {
        bool load;
        uint32_t address;
        unsigned bytes;
        const char* reported;
    } cases[] = {
        {true, 0x1F886000u, 4, "load of 4 byte(s) at 0x1F886000"},     // port A: not on this part
        {false, 0x1F800000u, 4, "store of 4 byte(s) at 0x1F800000"},   // watchdog: not modelled
        {false, 0x1F805824u, 4, "at 0x1F805824"},                      // SPI1BUF has no CLR word
        {true, 0x1F886052u, 4, "at 0x1F886052"},                       // misaligned word
        {true, 0x1D000000u, 4, "at 0x1D000000"},                       // flash: outside the SFR window
    };
    for (const auto& c : cases) {
        const size_t before = board.violations().size();
        const bool ok = c.load ? board.load(c.address, c.bytes, value, side_effect) : board.store(c.address, c.bytes, 0);
        EXPECT_FALSE(ok) << c.reported;
        ASSERT_EQ(board.violations().size(), before + 1) << c.reported;
        EXPECT_NE(board.violations().back().find(c.reported), std::string::npos) << board.violations().back();
        if (c.load) {
            EXPECT_EQ(value, 0u);
        }
    }
}

TEST(BusMap, AliasWordsAndByteLanesReachOnlyTheirBits) {
    sim::Board board;
    constexpr uint32_t kTrisB = 0x1F886040u, kLatB = 0x1F886060u, kPortB = 0x1F886050u;
    uint32_t value = 0;
    bool side_effect = false;
    ASSERT_TRUE(board.store(kTrisB, 4, 0));
    ASSERT_TRUE(board.store(kLatB, 4, 0x1234));
    ASSERT_TRUE(board.store(kLatB + 1, 1, 0xAB));  // byte lane 1 only
    EXPECT_EQ(board.lat(sim::Port::B), 0xAB34u);
    ASSERT_TRUE(board.store(kLatB + 0x8, 1, 0x01));  // SET word, lane 0
    ASSERT_TRUE(board.store(kLatB + 0x4 + 1, 1, 0x0F));  // CLR word, lane 1
    EXPECT_EQ(board.lat(sim::Port::B), 0xA035u);
    ASSERT_TRUE(board.store(kPortB + 0xC, 2, 0xFFFF));  // PORTBINV toggles the latch
    EXPECT_EQ(board.pins(sim::Port::B), 0x5FCAu);
    ASSERT_TRUE(board.load(kPortB + 1, 1, value, side_effect));
    EXPECT_EQ(value, 0x5Fu);
    ASSERT_TRUE(board.load(kPortB + 2, 2, value, side_effect));
    EXPECT_EQ(value, 0u);
    ASSERT_TRUE(board.load(kLatB + 0x4, 4, value, side_effect));
    EXPECT_EQ(value, 0u) << "alias words read as 0";
    EXPECT_FALSE(side_effect);
    EXPECT_TRUE(board.violations().empty());
}

TEST(BusMap, ReadingTheSpiBufferIsASideEffect) {
    sim::Board board;
    constexpr uint32_t kCon = 0x1F805A00u, kStat = 0x1F805A10u, kBuf = 0x1F805A20u;
    uint32_t value = 0;
    bool side_effect = false;
    board.store(kCon, 4, 0x8120);
    board.store(kBuf, 4, 0x55);
    board.advance_to(board.now() + 1000);
    ASSERT_TRUE(board.load(kStat, 4, value, side_effect));
    EXPECT_TRUE(value & 1u) << "SPIRBF";
    EXPECT_FALSE(side_effect);
    ASSERT_TRUE(board.load(kBuf, 4, value, side_effect));
    EXPECT_EQ(value, 0xFFu) << "nothing on SPI2 answers";
    EXPECT_TRUE(side_effect);
    board.load(kStat, 4, value, side_effect);
    EXPECT_FALSE(value & 1u) << "the read emptied the buffer";
}

// The request the controller hands the CPU, from the flags, enables and
// priorities; priority 0 is no request.
TEST(InterruptController, RequestsTheWinningLevelVectorAndShadowSet) {
    constexpr uint32_t kIntcon = 0x1F881000u, kIntstat = 0x1F881010u, kIfs0 = 0x1F881030u, kIfs1 = 0x1F881040u,
                       kIec0 = 0x1F881060u, kIec1 = 0x1F881070u, kIpc0 = 0x1F881090u, kIpc7 = 0x1F881100u;
    constexpr uint32_t kMvec = 1u << 12;
    const struct {
        const char* what;
        uint32_t intcon, ifs0, iec0, ipc0, ifs1, iec1, ipc7;
        sim::InterruptRequest want;
    } cases[] = {
        {"nothing flagged", kMvec, 0, 1, 2u << 2, 0, 0, 0, {0, 0, 0}},
        {"core timer, priority 2", kMvec, 1, 1, 2u << 2, 0, 0, 0, {2, 0, 0}},
        {"core timer, priority 0", kMvec, 1, 1, 0, 0, 0, 0, {0, 0, 0}},
        {"core timer flagged, not enabled", kMvec, 1, 0, 2u << 2, 0, 0, 0, {0, 0, 0}},
        {"core timer enabled, not flagged", kMvec, 0, 1, 2u << 2, 0, 0, 0, {0, 0, 0}},
        {"priority 7 runs on the shadow set", kMvec, 1, 1, 7u << 2, 0, 0, 0, {7, 0, 1}},
        {"software interrupt 0 above the timer", kMvec, 3, 3, (2u << 2) | (3u << 10), 0, 0, 0, {3, 1, 0}},
        {"equal levels: the higher subpriority", kMvec, 3, 3, (2u << 2) | (2u << 10) | (1u << 8), 0, 0, 0, {2, 1, 0}},
        {"equal levels and subpriorities: the lower vector", kMvec, 3, 3, (2u << 2) | (2u << 10), 0, 0, 0, {2, 0, 0}},
        {"SPI2 receive (IRQ 39) on vector 31", kMvec, 1, 1, 2u << 2, 1u << 7, 1u << 7, 5u << 26, {5, 31, 0}},
        {"single-vector mode: vector 0", 0, 0, 0, 0, 1u << 7, 1u << 7, 5u << 26, {5, 0, 0}},
    };
    for (const auto& c : cases) {
        sim::Board board;
        board.store(kIntcon, 4, c.intcon);
        board.store(kIpc0, 4, c.ipc0);
        board.store(kIpc7, 4, c.ipc7);
        board.store(kIec0, 4, c.iec0);
        board.store(kIec1, 4, c.iec1);
        board.store(kIfs0, 4, c.ifs0);
        board.store(kIfs1, 4, c.ifs1);
        EXPECT_EQ(board.interrupt_request(), c.want) << c.what;
        EXPECT_EQ(board.peek(kIntstat), (uint32_t{c.want.level} << 8) | c.want.vector) << c.what;
        board.store(kIfs0 + 4, 4, ~0u);  // IFS0CLR, IFS1CLR: nothing left
        board.store(kIfs1 + 4, 4, ~0u);
        EXPECT_EQ(board.interrupt_request().level, 0) << c.what;
    }
}

}  // namespace
