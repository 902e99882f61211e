// Cycle counts of hand-written sequences against hand-computed values, and
// idle skipping giving exactly the results of running every instruction.
#include <gtest/gtest.h>

#include <cstring>

#include "workloads/mips_asm.h"
#include "test_host.h"

namespace {

using namespace mips;
using namespace cputest;

constexpr uint32_t kCode = kFlashK0 + 0x1000;  // 16-byte aligned

struct Sequence {
    const char* name;
    std::vector<uint32_t> code;
    m4k::Timing timing;
    unsigned cycles;  // from the first instruction to the end of the last
};

// Runs `code` from cycle 0 and returns the cycle at which the instruction
// after it would start.
unsigned cycles_of(const Sequence& s, uint32_t config_k0 = 2) {
    Machine m;
    auto code = s.code;
    code.push_back(sdbbp());
    m.put(kCode, code);
    m.start_at(kCode);
    m.core.cp0_write(m4k::cp0::Config, 0, config_k0);
    m.core.set_timing(s.timing);
    m.core.set_gpr(s1, kRamK0 + 0x100);
    m.core.set_gpr(s2, 0xBF880000);
    m.core.set_gpr(t5, 200);            // fits 8 bits
    m.core.set_gpr(t6, 0x12345678);     // needs 32 bits
    m.core.set_gpr(t7, 7);
    const uint32_t end = kCode + 4 * static_cast<uint32_t>(s.code.size());
    unsigned at_end = 0;
    m.core.set_step_hook([&](uint32_t pc) {
        if (pc == end && at_end == 0) {
            at_end = static_cast<unsigned>(m.core.cycle());
            m.core.request_stop();
        }
    });
    m.core.run(100000);
    return at_end;
}

TEST(Timing, HandComputedCycleCounts) {
    const m4k::Timing fast{0, 0, 0, 1};
    std::vector<uint32_t> eight_alu(8, addiu(t0, t0, 1));
    const Sequence cases[] = {
        {"8 ALU, no wait states", eight_alu, fast, 8},
        // Two 16-byte lines, each read from flash once: 8 + 2 x 2.
        {"8 ALU, 2 wait states, no prefetch", eight_alu, {2, 0, 0, 1}, 12},
        // The second line is prefetched while the first executes: 8 + 2.
        {"8 ALU, 2 wait states, prefetch", eight_alu, {2, 3, 0, 1}, 10},
        // Reset wait states (7) without prefetch: 8 + 2 x 7.
        {"8 ALU, 7 wait states", eight_alu, {7, 0, 0, 1}, 22},
        {"load, result used next", {lw(t0, 0, s1), addu(t2, t0, t0)}, fast, 3},
        {"load, result not used next", {lw(t0, 0, s1), addu(t2, t3, t3)}, fast, 2},
        {"load with a RAM wait state", {lw(t0, 0, s1), addu(t2, t3, t3)}, {0, 0, 1, 1}, 3},
        {"SFR load at PB/2", {lw(t0, 0, s2)}, {0, 0, 0, 2}, 3},
        {"divide, 8-bit dividend, then mflo", {divu(t5, t7), mflo(t0)}, fast, 1 + 12},
        {"divide, 32-bit dividend, then mflo", {divu(t6, t7), mflo(t0)}, fast, 1 + 33},
        {"divide with work in its shadow", {divu(t5, t7), addu(t1, t1, t1), addu(t1, t1, t1), mflo(t0)}, fast, 13},
        {"multiply 16-bit, then mflo", {mult(t6, t7), mflo(t0)}, fast, 2},
        {"multiply 32-bit, then mflo", {mult(t7, t6), mflo(t0)}, fast, 3},
        {"mul 32-bit, result used next", {mul(t0, t7, t6), addu(t1, t0, t0)}, fast, 3 + 1 + 1},
        {"mul 16-bit, result not used next", {mul(t0, t6, t7), addu(t1, t2, t2)}, fast, 2 + 1},
        {"taken branch and its slot", {b(2), nop(), nop(), nop()}, fast, 3},
        {"branch-likely not taken: annulled slot", {beql(zero, t7, 2), nop(), nop()}, fast, 3},
    };
    for (const auto& c : cases) EXPECT_EQ(cycles_of(c), c.cycles) << c.name;

    // Cached KSEG0 (Config.K0 = 3): the second pass over a loop hits.
    const Sequence loop{"loop", {addiu(t1, zero, 2), addiu(t1, t1, -1), nop(), nop(), nop(), nop(), bne(t1, zero, -6), nop()},
                        {2, 0, 0, 1}, 0};
    // 15 instructions over two passes. Uncached: both lines read on each pass.
    EXPECT_EQ(cycles_of(loop, 2), 15u + 4 * 2u);
    // Cached: each line read once.
    EXPECT_EQ(cycles_of(loop, 3), 15u + 2 * 2u);
}

// A main loop that polls a port bit set by board events, then waits for the
// tick interrupt to count to five in RAM; the tick handler counts and
// re-arms Compare. `lead` nops in front move the loops across the 16-byte
// flash lines (a branch at the start of a line sees a prefetch in flight).
struct PollingProgram : Machine {
    static constexpr uint32_t kPort = 0x1F886000, kDropRequest = 0x1F881034;
    PollingProgram(bool skip, unsigned lead) {
        std::vector<uint32_t> code(lead, nop());
        li(code, s0, 0xA0000000 | kPort);
        code.push_back(lui(s1, 0x8000));
        // arm the timer: Compare = Count + 700
        code.push_back(mfc0(t0, m4k::cp0::Count));
        code.push_back(addiu(t0, t0, 700));
        code.push_back(mtc0(t0, m4k::cp0::Compare));
        code.push_back(ei());
        const int16_t poll_port = static_cast<int16_t>(code.size());
        code.push_back(lw(t0, 0, s0));           // poll_port:
        code.push_back(andi(t0, t0, 1));
        code.push_back(addu(t3, t0, s0));
        code.push_back(beq(t0, zero, static_cast<int16_t>(poll_port - static_cast<int16_t>(code.size()) - 1)));
        code.push_back(nop());
        code.push_back(addiu(s2, s2, 1));
        code.push_back(sw(s2, 4, s1));
        const int16_t poll_ram = static_cast<int16_t>(code.size());
        code.push_back(lw(t1, 0, s1));           // poll_ram:
        code.push_back(slti(t2, t1, 5));
        code.push_back(bne(t2, zero, static_cast<int16_t>(poll_ram - static_cast<int16_t>(code.size()) - 1)));
        code.push_back(nop());
        code.push_back(sw(zero, 0, s1));
        code.push_back(sw(zero, 0, s0));         // clear the port bit
        code.push_back(b(static_cast<int16_t>(poll_port - static_cast<int16_t>(code.size()) - 1)));
        code.push_back(nop());
        put(kCode, code);
        put(kFlashK0 + 0x200, {lui(k1, 0x8000), lw(k0, 0, k1), addiu(k0, k0, 1), sw(k0, 0, k1),
                               mfc0(k0, m4k::cp0::Compare), addiu(k0, k0, 700), mtc0(k0, m4k::cp0::Compare),
                               lui(k1, 0xBF88), sw(zero, 0x1034, k1), eret()});
        host.events = {3000, 20000, 45000, 90000, 91000, 140000};
        host.on_event = [this](m4k::Cycle) { host.sfr[kPort] = 1; };
        host.on_timer = [this](m4k::Cycle) { core.set_interrupt_request(2, 0, 0); };
        host.on_store = [this](const IoAccess& a) {
            if (a.phys == kDropRequest) core.set_interrupt_request(0, 0, 0);
        };
        start_at(kCode);
        core.cp0_write(m4k::cp0::Status, 1, 1 << 5);
        core.cp0_write(m4k::cp0::Cause, 0, m4k::cp0::IV);
        core.cp0_write(m4k::cp0::Config, 0, 3);
        core.set_timing({2, 3, 1, 2});
        core.set_idle_skip(skip);
    }
};

TEST(IdleSkip, SameResultsWithAndWithoutSkipping) {
  for (unsigned lead = 0; lead < 4; ++lead) {
    SCOPED_TRACE("lead " + std::to_string(lead));
    PollingProgram skipping(true, lead), stepping(false, lead);
    for (const m4k::Cycle until : {1000u, 2999u, 5000u, 12345u, 30000u, 60000u, 90500u, 100000u, 150000u, 200000u}) {
        SCOPED_TRACE(until);
        EXPECT_EQ(skipping.core.run(until), m4k::StopReason::Until);
        EXPECT_EQ(stepping.core.run(until), m4k::StopReason::Until);
        EXPECT_TRUE(skipping.host.faults.empty());
        EXPECT_EQ(skipping.core.cycle(), stepping.core.cycle());
        EXPECT_EQ(skipping.core.instructions(), stepping.core.instructions());
        EXPECT_EQ(skipping.core.pc(), stepping.core.pc());
        for (unsigned r = 0; r < 32; ++r) EXPECT_EQ(skipping.core.gpr(r), stepping.core.gpr(r)) << r;
        EXPECT_EQ(skipping.core.hi(), stepping.core.hi());
        EXPECT_EQ(skipping.core.lo(), stepping.core.lo());
        for (const auto& [reg, sel] : {std::pair{9u, 0u}, {11u, 0u}, {12u, 0u}, {13u, 0u}, {14u, 0u}})
            EXPECT_EQ(skipping.core.cp0_read(reg, sel), stepping.core.cp0_read(reg, sel)) << reg;
        uint8_t a[m4k::config::kRamSize], b[m4k::config::kRamSize];
        skipping.core.read_memory(0, a, sizeof a);
        stepping.core.read_memory(0, b, sizeof b);
        EXPECT_EQ(std::memcmp(a, b, sizeof a), 0);
        EXPECT_EQ(skipping.host.sfr, stepping.host.sfr);
    }
    EXPECT_EQ(stepping.core.skipped_cycles(), 0u);
    EXPECT_GT(skipping.core.skipped_cycles(), 150000u);       // most of the time is idle
    EXPECT_GT(skipping.core.gpr(s2), 3u);                     // and the program made progress
    EXPECT_GT(skipping.host.timer_matches.size(), 100u);
  }
}

} // namespace

namespace {

// Delay loops counted down (or up) to zero: the core skips whole iterations
// of those it can prove linear, short of the last one, and runs the rest.
TEST(IdleSkip, CountedLoopsGiveTheSameResults) {
    struct Case {
        const char* name;
        std::vector<uint32_t> init;  // sets the counter v0
        std::vector<uint32_t> body;  // before `bne v0,zero,loop`
        uint32_t delay_slot;
        bool skips;
    };
    const Case cases[] = {
        {"down by one", {addiu(v0, zero, 1000)}, {nop(), addiu(v0, v0, -1)}, ori(v1, zero, 8), true},
        {"up by four", {addiu(v0, zero, -4000)}, {addiu(v0, v0, 4), sll(t2, t0, 3)}, nop(), true},
        {"step in the delay slot", {addiu(v0, zero, 700)}, {nop()}, addiu(v0, v0, -1), true},
        {"step from a register", {addiu(v0, zero, 800)}, {nop(), addu(v0, v0, t0)}, nop(), false},
        {"counter doubles", {addiu(v0, zero, 1)}, {sll(v0, v0, 1)}, nop(), false},
        {"counter read elsewhere", {addiu(v0, zero, 900)}, {addiu(v0, v0, -1), addu(t1, v0, zero)}, nop(), false},
        {"steps past zero", {addiu(v0, zero, 1001)}, {addiu(v0, v0, -2)}, nop(), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto program = [&](bool skip) {
            auto m = std::make_unique<Machine>();
            std::vector<uint32_t> code = {lui(s1, 0x8000), addiu(t0, zero, -1)};
            const int16_t outer = static_cast<int16_t>(code.size());
            code.insert(code.end(), c.init.begin(), c.init.end());
            const int16_t loop = static_cast<int16_t>(code.size());
            code.insert(code.end(), c.body.begin(), c.body.end());
            code.push_back(bne(v0, zero, static_cast<int16_t>(loop - static_cast<int16_t>(code.size()) - 1)));
            code.push_back(c.delay_slot);
            code.push_back(addiu(s2, s2, 1));
            code.push_back(sw(s2, 0, s1));
            code.push_back(b(static_cast<int16_t>(outer - static_cast<int16_t>(code.size()) - 1)));
            code.push_back(nop());
            m->put(kCode, code);
            m->host.events = {2500, 7000, 7001, 40000};
            m->start_at(kCode);
            m->core.cp0_write(m4k::cp0::Config, 0, 3);
            m->core.set_timing({2, 3, 1, 2});
            m->core.set_idle_skip(skip);
            return m;
        };
        auto skipping = program(true), stepping = program(false);
        for (const m4k::Cycle until : {1000u, 2500u, 6999u, 20000u, 60000u, 150000u}) {
            SCOPED_TRACE(until);
            ASSERT_EQ(skipping->core.run(until), m4k::StopReason::Until);
            ASSERT_EQ(stepping->core.run(until), m4k::StopReason::Until);
            EXPECT_EQ(skipping->core.cycle(), stepping->core.cycle());
            EXPECT_EQ(skipping->core.instructions(), stepping->core.instructions());
            EXPECT_EQ(skipping->core.pc(), stepping->core.pc());
            for (unsigned r = 0; r < 32; ++r) EXPECT_EQ(skipping->core.gpr(r), stepping->core.gpr(r)) << r;
            EXPECT_EQ(skipping->ram_word(kRamK0), stepping->ram_word(kRamK0));
        }
        EXPECT_EQ(skipping->core.skipped_cycles() > 0, c.skips);
        if (c.skips) {
            EXPECT_GT(skipping->core.gpr(s2), 3u) << "the skipped loop still ends, again and again";
        }
    }
}

} // namespace
