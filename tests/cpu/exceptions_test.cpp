// Exceptions and interrupts of the core: EPC, Cause.BD/ExcCode, BadVAddr and
// the vector for each cause; the external interrupt controller's request,
// masking, shadow registers, the core timer and WAIT.
#include <gtest/gtest.h>

#include "workloads/mips_asm.h"
#include "test_host.h"

namespace {

using namespace mips;
using namespace cputest;
using m4k::cp0::Cause;
using m4k::cp0::Status;

constexpr uint32_t kCode = kFlashK0 + 0x1000;

// Every vector holds `sdbbp`, so the core stops there (a DebugMode fault)
// with the exception state intact; other faults let the exception happen.
struct Rig : Machine {
    Rig() {
        host.on_fault = [](const m4k::Fault& f) { return f.kind == m4k::FaultKind::DebugMode; };
        for (uint32_t v : {kFlashK0 + 0x180, 0xBFC00380u, 0xBFC00400u}) put(v, {sdbbp()});
        for (uint32_t v = kFlashK0 + 0x200; v < kFlashK0 + 0x200 + 64 * 64; v += 32) put(v, {sdbbp()});
    }
    // Runs until the first stop; returns the vector it stopped at.
    uint32_t run_to_vector(m4k::Cycle until = 100000) {
        host.faults.clear();
        core.run(until);
        return host.faults.empty() ? 0 : host.faults.back().pc;
    }
    uint32_t cause_code() const { return (core.cp0_read(Cause, 0) >> 2) & 0x1F; }
    bool cause_bd() const { return core.cp0_read(Cause, 0) & m4k::cp0::BD; }
    uint32_t epc() const { return core.cp0_read(m4k::cp0::EPC, 0); }
};

struct ExceptionCase {
    const char* name;
    std::vector<uint32_t> code;  // the faulting instruction is at `at` (word index)
    unsigned at;
    unsigned exc_code;
    bool bd;
    uint32_t badvaddr;           // 0: not checked
};

std::vector<ExceptionCase> exception_cases() {
    std::vector<uint32_t> setup;
    li(setup, t0, 0x7FFFFFFF);
    li(setup, t1, 1);
    li(setup, t3, 0x80000000);
    li(setup, t4, 0x80000001);  // misaligned RAM address
    auto with = [&](std::vector<uint32_t> tail) {
        auto c = setup;
        c.insert(c.end(), tail.begin(), tail.end());
        return c;
    };
    const unsigned s = static_cast<unsigned>(setup.size());
    return {
        {"add overflow", with({add(t2, t0, t1)}), s, m4k::kExcOv, false, 0},
        {"addi overflow", with({addi(t2, t0, 1)}), s, m4k::kExcOv, false, 0},
        {"sub overflow", with({sub(t2, t3, t1)}), s, m4k::kExcOv, false, 0},
        {"trap", with({teq(t1, t1)}), s, m4k::kExcTr, false, 0},
        {"unaligned load word", with({lw(t2, 0, t4)}), s, m4k::kExcAdEL, false, 0x80000001},
        {"unaligned load half", with({lh(t2, 0, t4)}), s, m4k::kExcAdEL, false, 0x80000001},
        {"unaligned store", with({sw(t2, 2, t4)}), s, m4k::kExcAdES, false, 0x80000003},
        {"reserved instruction", with({0xFC000000u}), s, m4k::kExcRI, false, 0},
        {"coprocessor 1", with({0xC4800000u /* lwc1 */}), s, m4k::kExcCpU, false, 0},
        {"syscall", with({syscall()}), s, m4k::kExcSys, false, 0},
        {"break", with({brk()}), s, m4k::kExcBp, false, 0},
        {"bus error", with({lui(t5, 0xA010), lw(t2, 0, t5)}), s + 1, m4k::kExcDBE, false, 0},
        {"overflow in a taken branch's slot", with({b(4), add(t2, t0, t1)}), s + 1, m4k::kExcOv, true, 0},
        {"syscall in a not-taken branch's slot", with({bne(zero, zero, 4), syscall()}), s + 1, m4k::kExcSys, true, 0},
        {"trap in a jump's slot", with({j(kCode + 0x400), teq(zero, zero)}), s + 1, m4k::kExcTr, true, 0},
    };
}

TEST(Exceptions, EpcCauseAndVectorForEachCause) {
    for (const bool bev : {false, true}) {
        for (const auto& c : exception_cases()) {
            Rig rig;
            rig.put(kCode, c.code);
            rig.start_at(kCode);
            if (bev) rig.core.cp0_write(Status, 0, m4k::cp0::BEV);
            const uint32_t vector = rig.run_to_vector();
            const uint32_t faulting = kCode + 4 * c.at;
            SCOPED_TRACE(std::string(c.name) + (bev ? " (BEV=1)" : " (BEV=0)"));
            EXPECT_EQ(vector, bev ? 0xBFC00380u : kFlashK0 + 0x180);
            EXPECT_EQ(rig.cause_code(), c.exc_code);
            EXPECT_EQ(rig.cause_bd(), c.bd);
            EXPECT_EQ(rig.epc(), c.bd ? faulting - 4 : faulting);
            EXPECT_TRUE(rig.core.cp0_read(Status, 0) & m4k::cp0::EXL);
            if (c.badvaddr) {
                EXPECT_EQ(rig.core.cp0_read(m4k::cp0::BadVAddr, 0), c.badvaddr);
            }
            if (c.exc_code == m4k::kExcCpU) {
                EXPECT_EQ((rig.core.cp0_read(Cause, 0) >> 28) & 3, 1u);
            }
            if (c.exc_code == m4k::kExcOv) {
                EXPECT_EQ(rig.core.gpr(t2), 0u) << "overflow must not write rd";
            }
        }
    }
}

TEST(Exceptions, FaultsReportTheInstructionAndCanStopBeforeIt) {
    Rig rig;
    std::vector<uint32_t> code;
    li(code, t4, 0x80000002);
    code.push_back(lw(t2, 0, t4));
    rig.put(kCode, code);
    rig.start_at(kCode);
    rig.host.on_fault = [](const m4k::Fault&) { return true; };
    EXPECT_EQ(rig.core.run(1000), m4k::StopReason::Fault);
    const auto& f = rig.core.last_fault();
    EXPECT_EQ(f.kind, m4k::FaultKind::AddressError);
    EXPECT_EQ(f.pc, kCode + 8);
    EXPECT_EQ(f.address, 0x80000002u);
    EXPECT_EQ(f.disassembly, "lw\tt2,0(t4)");
    EXPECT_EQ(f.regs[t4], 0x80000002u);
    EXPECT_EQ(rig.core.pc(), kCode + 8);  // not executed, nothing taken
    EXPECT_EQ(rig.core.cp0_read(Status, 0) & m4k::cp0::EXL, 0u);

    // A store into flash, an erased vector, and a fetch outside memory.
    struct Case { std::vector<uint32_t> code; m4k::FaultKind kind; };
    const Case cases[] = {
        {{lui(t0, 0x9D00), sw(zero, 0, t0)}, m4k::FaultKind::FlashStore},
        {{lui(t0, 0xBF80), jr(t0), nop()}, m4k::FaultKind::FetchOutsideMemory},
        {{i_type(0x01, 0, 0x04, 0) /* reserved REGIMM */}, m4k::FaultKind::ReservedInstruction},
        {{lui(t0, 0x9D00), ori(t0, t0, 0x2001), jr(t0), nop()}, m4k::FaultKind::IsaModeSwitch},
    };
    for (const auto& c : cases) {
        Machine m;
        m.put(kCode, c.code);
        m.start_at(kCode);
        EXPECT_EQ(m.core.run(1000), m4k::StopReason::Fault);
        ASSERT_FALSE(m.host.faults.empty());
        EXPECT_EQ(m.host.faults.front().kind, c.kind) << m.host.faults.front().describe();
    }
    // No handler: the general exception vector is erased flash.
    Machine m;
    m.put(kCode, {syscall()});
    m.start_at(kCode);
    m.host.on_fault = [](const m4k::Fault& f) { return f.kind == m4k::FaultKind::NoHandler; };
    EXPECT_EQ(m.core.run(1000), m4k::StopReason::Fault);
    EXPECT_EQ(m.core.last_fault().kind, m4k::FaultKind::NoHandler);
    EXPECT_EQ(m.core.last_fault().pc, kCode);
    EXPECT_EQ(m.core.last_fault().address, kFlashK0 + 0x180);
}

// ---------------------------------------------------------------- interrupts

TEST(Interrupts, VectorFollowsEbaseIntCtlAndCauseIv) {
    struct Case { bool bev, iv; unsigned vs, vector; uint32_t expected; };
    const Case cases[] = {
        {false, true, 1, 5, kFlashK0 + 0x200 + 5 * 32},
        {false, true, 2, 5, kFlashK0 + 0x200 + 5 * 64},
        {false, true, 0, 5, kFlashK0 + 0x200},
        {false, false, 1, 5, kFlashK0 + 0x180},
        {true, true, 1, 5, 0xBFC00400},
        {true, false, 1, 5, 0xBFC00380},
    };
    for (const auto& c : cases) {
        Rig rig;
        rig.put(kCode, {addiu(t0, t0, 1), b(-2), nop()});
        rig.start_at(kCode);
        rig.core.cp0_write(Status, 1, c.vs << 5);
        rig.core.cp0_write(Cause, 0, c.iv ? m4k::cp0::IV : 0);
        rig.core.cp0_write(Status, 0, m4k::cp0::IE | (c.bev ? m4k::cp0::BEV : 0));
        rig.core.set_interrupt_request(3, c.vector, 0);
        EXPECT_EQ(rig.run_to_vector(), c.expected) << "bev " << c.bev << " iv " << c.iv << " vs " << c.vs;
        EXPECT_EQ(rig.cause_code(), m4k::kExcInt);
        EXPECT_EQ((rig.core.cp0_read(Cause, 0) >> 10) & 0x3F, 3u);  // RIPL shows the request
    }
}

// A program that counts, an interrupt handler that records EPC and drops
// the request, and a board event that raises it mid-way.
struct CountingProgram : Machine {
    static constexpr uint32_t kHandler = kFlashK0 + 0x200 + 2 * 32;
    static constexpr uint32_t kDropRequest = 0x1F881034;  // the "clear the flag" register
    CountingProgram(m4k::Cycle raise_at, unsigned level) {
        std::vector<uint32_t> code;
        li(code, t0, 0);
        li(code, t1, 0x1234);
        for (int i = 0; i < 40; ++i) {
            code.push_back(addiu(t0, t0, 3));
            code.push_back(addu(t1, t1, t0));
        }
        code.push_back(sdbbp());
        put(kCode, code);
        put(kHandler, {lui(k0, 0xBF88), sw(zero, 0x1034, k0), mfc0(k1, m4k::cp0::EPC), lui(k0, 0x8000),
                       sw(k1, 0, k0), eret()});
        host.on_fault = [](const m4k::Fault& f) { return f.kind == m4k::FaultKind::DebugMode; };
        host.events = {raise_at};
        host.on_event = [this, level](m4k::Cycle) { core.set_interrupt_request(level, 2, 0); };
        host.on_store = [this](const IoAccess& a) {
            if (a.phys == kDropRequest) core.set_interrupt_request(0, 0, 0);
        };
        start_at(kCode);
        core.cp0_write(Status, 1, 1 << 5);
        core.cp0_write(Cause, 0, m4k::cp0::IV);
    }
};

TEST(Interrupts, TakenBetweenInstructionsAndReturnsWithRegistersIntact) {
    CountingProgram quiet(m4k::kNoEvent, 0);
    quiet.core.run(100000);
    CountingProgram interrupted(30, 4);
    interrupted.core.cp0_write(Status, 0, m4k::cp0::IE);
    interrupted.core.run(100000);
    ASSERT_EQ(interrupted.host.faults.size(), 1u);
    EXPECT_EQ(interrupted.host.faults[0].kind, m4k::FaultKind::DebugMode);
    const uint32_t epc = interrupted.ram_word(kRamK0);
    EXPECT_GT(epc, kCode + 8);
    EXPECT_LT(epc, kCode + 4 * 84);
    for (unsigned r = 1; r < 26; ++r) EXPECT_EQ(interrupted.core.gpr(r), quiet.core.gpr(r)) << r;
    EXPECT_GT(interrupted.core.cycle(), quiet.core.cycle());
}

TEST(Interrupts, MaskedByIplIeExlAndDi) {
    struct Case { const char* name; uint32_t status; unsigned level; bool taken; };
    const Case cases[] = {
        {"enabled", m4k::cp0::IE, 4, true},
        {"IE clear", 0, 4, false},
        {"EXL set", m4k::cp0::IE | m4k::cp0::EXL, 4, false},
        {"ERL set", m4k::cp0::IE | m4k::cp0::ERL, 4, false},
        {"IPL equal", m4k::cp0::IE | (4u << 10), 4, false},
        {"IPL below", m4k::cp0::IE | (3u << 10), 4, true},
    };
    for (const auto& c : cases) {
        CountingProgram p(30, c.level);
        p.core.cp0_write(Status, 0, c.status);
        p.core.run(100000);
        EXPECT_EQ(p.ram_word(kRamK0) != 0, c.taken) << c.name;
    }
    // `di` at the start masks it; the request is still shown in Cause.RIPL.
    CountingProgram p(30, 4);
    p.put(kCode, {di()});
    p.core.cp0_write(Status, 0, m4k::cp0::IE);
    p.core.run(100000);
    EXPECT_EQ(p.ram_word(kRamK0), 0u);
    EXPECT_EQ((p.core.cp0_read(Cause, 0) >> 10) & 0x3F, 4u);
}

TEST(Interrupts, PriorityRequestWithShadowSetSwitchesRegisters) {
    Rig rig;
    const uint32_t handler = kFlashK0 + 0x200 + 7 * 32;
    rig.put(kCode, {addiu(sp, zero, 0x100), addiu(t0, t0, 1), b(-2), nop()});
    // The handler runs on set 1: its sp is its own; it reads the interrupted sp with rdpgpr.
    rig.put(handler, {addiu(sp, zero, 0x700), rdpgpr(t1, sp), sdbbp()});
    rig.start_at(kCode);
    rig.core.cp0_write(Status, 1, 1 << 5);
    rig.core.cp0_write(Cause, 0, m4k::cp0::IV);
    rig.core.cp0_write(Status, 0, m4k::cp0::IE);
    rig.host.events = {20};
    rig.host.on_event = [&](m4k::Cycle) { rig.core.set_interrupt_request(7, 7, 1); };
    rig.run_to_vector();
    EXPECT_EQ(rig.core.cp0_read(Status, 2) & 0xF, 1u);          // CSS
    EXPECT_EQ((rig.core.cp0_read(Status, 2) >> 6) & 0xF, 0u);   // PSS
    EXPECT_EQ(rig.core.shadow_gpr(1, sp), 0x700u);
    EXPECT_EQ(rig.core.shadow_gpr(0, sp), 0x100u);
    EXPECT_EQ(rig.core.gpr(t1), 0x100u);
}

TEST(Interrupts, EretReturnsAndRestoresTheRegisterSetAndClearsLlbit) {
    Rig rig;
    const uint32_t handler = kFlashK0 + 0x180;
    // ll; syscall (handler skips it); sc must fail because ERET cleared LLbit.
    rig.put(kCode, {lui(t0, 0x8000), ll(t1, 0x10, t0), addiu(t1, t1, 5), syscall(), sc(t1, 0x10, t0), sdbbp()});
    rig.put(handler, {mfc0(k0, m4k::cp0::EPC), addiu(k0, k0, 4), mtc0(k0, m4k::cp0::EPC), eret()});
    rig.start_at(kCode);
    rig.run_to_vector();
    EXPECT_EQ(rig.host.faults.back().pc, kCode + 20);
    EXPECT_EQ(rig.core.gpr(t1), 0u);            // sc failed
    EXPECT_EQ(rig.ram_word(kRamK0 + 0x10), 0u);  // and stored nothing
    EXPECT_EQ(rig.core.cp0_read(Status, 0) & m4k::cp0::EXL, 0u);

    // Without the exception, sc succeeds.
    Rig plain;
    plain.put(kCode, {lui(t0, 0x8000), ll(t1, 0x10, t0), addiu(t1, t1, 5), sc(t1, 0x10, t0), sdbbp()});
    plain.start_at(kCode);
    plain.run_to_vector();
    EXPECT_EQ(plain.core.gpr(t1), 1u);
    EXPECT_EQ(plain.ram_word(kRamK0 + 0x10), 5u);
}

TEST(CoreTimer, CountCompareMatchSetsTiAndTellsTheHost) {
    Machine m;
    m.put(kCode, {addiu(t0, t0, 1), b(-2), nop()});
    m.start_at(kCode);
    m.core.cp0_write(m4k::cp0::Count, 0, 0);
    m.core.cp0_write(m4k::cp0::Compare, 0, 100);
    EXPECT_EQ(m.core.next_timer_match(), 200u);  // Count steps every second cycle
    m.core.run(150);
    EXPECT_FALSE(m.core.timer_request());
    m.core.run(1000);
    ASSERT_EQ(m.host.timer_matches.size(), 1u);
    EXPECT_EQ(m.host.timer_matches[0], 200u);
    EXPECT_TRUE(m.core.timer_request());
    EXPECT_TRUE(m.core.cp0_read(Cause, 0) & m4k::cp0::TI);
    const uint32_t count = m.core.cp0_read(m4k::cp0::Count, 0);
    EXPECT_EQ(count, static_cast<uint32_t>(m.core.cycle() / 2));
    m.core.cp0_write(m4k::cp0::Compare, 0, count + 10);  // writing Compare drops TI
    EXPECT_FALSE(m.core.timer_request());
    m.core.run(m.core.cycle() + 100);
    EXPECT_EQ(m.host.timer_matches.size(), 2u);
    // Cause.DC stops Count: no match while stopped.
    m.core.cp0_write(Cause, 0, m4k::cp0::DC);
    EXPECT_EQ(m.core.next_timer_match(), m4k::kNoEvent);
    const uint32_t frozen = m.core.cp0_read(m4k::cp0::Count, 0);
    m.core.run(m.core.cycle() + 1000);
    EXPECT_EQ(m.core.cp0_read(m4k::cp0::Count, 0), frozen);
}

TEST(Wait, SleepsUntilTheInterruptThenResumesAfterIt) {
    CountingProgram p(5000, 4);
    p.put(kCode, {wait(), addiu(t5, t5, 1), sdbbp()});
    p.core.cp0_write(Status, 0, m4k::cp0::IE);
    p.core.run(100000);
    EXPECT_EQ(p.ram_word(kRamK0), kCode + 4);  // EPC: the instruction after WAIT
    EXPECT_EQ(p.core.gpr(t5), 1u);
    EXPECT_GE(p.core.cycle(), 5000u);
    EXPECT_LT(p.core.cycle(), 5100u);
    EXPECT_LT(p.core.instructions(), 20u);  // nothing ran while waiting

    // With interrupts disabled the request still ends the WAIT; the handler does not run.
    CountingProgram q(5000, 4);
    q.put(kCode, {wait(), addiu(t5, t5, 1), sdbbp()});
    q.core.run(100000);
    EXPECT_EQ(q.ram_word(kRamK0), 0u);
    EXPECT_EQ(q.core.gpr(t5), 1u);
    EXPECT_GE(q.core.cycle(), 5000u);
}

} // namespace

namespace {

TEST(StackCheck, AdjustmentBelowTheLimitIsReportedAndTheLowWaterMarkKept) {
    Machine m;
    m.put(kCode, {lui(sp, 0x8000), ori(sp, sp, 0x7F00),  // building sp passes 0x80000000: not an adjustment
                  addiu(sp, sp, -0x80), addiu(sp, sp, 0x80), addiu(sp, sp, -0x800), sdbbp()});
    m.start_at(kCode);
    m.core.set_stack_limit(0x80007800);
    EXPECT_EQ(m.core.run(1000), m4k::StopReason::Fault);
    ASSERT_EQ(m.host.faults.size(), 1u);
    EXPECT_EQ(m.host.faults[0].kind, m4k::FaultKind::StackOverflow);
    EXPECT_EQ(m.host.faults[0].pc, kCode + 16);
    EXPECT_EQ(m.host.faults[0].address, 0x80007700u);
    EXPECT_EQ(m.core.stack_low_water(), 0x80007700u);
}

} // namespace
