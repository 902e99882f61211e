// Host speed of the M4K core on two workloads with a minimal board:
//   cpu:     a busy loop of RAM loads/stores, ALU work and two port writes per
//            iteration (the shape of the picture phase);
//   polling: a loop polling a port bit that a board event sets every 10,000
//            cycles, with a 1 ms core-timer tick (the shape of playback).
// Prints instructions and board cycles per host second, and the board
// cycles per host second as a ratio to real time (80 MHz).
//   m4k_core_bench [board-seconds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "sim/cpu/m4k_core.h"
#include "workloads/mips_asm.h"

namespace {

using namespace mips;
constexpr uint32_t kCode = 0x9D001000, kVector0 = 0x9D000200;
constexpr uint32_t kPort = 0x1F886000, kDrop = 0x1F881034;
constexpr m4k::Cycle kEventPeriod = 10'000;

class BenchHost : public m4k::CoreHost {
public:
    m4k::Core* core = nullptr;
    uint32_t port = 0;
    m4k::Cycle next = kEventPeriod;
    uint64_t stores = 0;
    bool io_load(uint32_t phys, unsigned, m4k::Cycle, uint32_t& value, bool& side_effect) override {
        value = phys == kPort ? port : 0;
        side_effect = false;
        return true;
    }
    bool io_store(uint32_t phys, unsigned, uint32_t value, m4k::Cycle) override {
        ++stores;
        if (phys == kPort) port = value;
        if (phys == kDrop) core->set_interrupt_request(0, 0, 0);
        return true;
    }
    m4k::Cycle next_event() override { return next; }
    void advance_to(m4k::Cycle cycle) override {
        while (next <= cycle) next += kEventPeriod;
        port |= 1;
    }
    void core_timer_match(m4k::Cycle) override { core->set_interrupt_request(2, 0, 0); }
    bool violation(const m4k::Fault& f) override {
        std::fprintf(stderr, "%s", f.describe().c_str());
        std::exit(1);
    }
};

int16_t back(const std::vector<uint32_t>& code, size_t target) {
    return static_cast<int16_t>(static_cast<long>(target) - static_cast<long>(code.size()) - 1);
}

std::vector<uint32_t> cpu_program() {
    std::vector<uint32_t> c;
    li(c, s0, 0xA0000000 | kPort);
    li(c, s1, 0x80000000);
    const size_t loop = c.size();
    c.push_back(lw(t0, 0, s1));
    c.push_back(addu(t1, t1, t0));
    c.push_back(sll(t2, t1, 3));
    c.push_back(0x01495026);  // xor t2,t2,t1
    c.push_back(sw(t2, 4, s1));
    c.push_back(sw(t1, 0, s0));   // port write (data)
    c.push_back(sw(t2, 0x10, s0)); // port write (strobe)
    c.push_back(andi(t3, t1, 0xFF));
    c.push_back(addiu(t4, t4, 1));
    c.push_back(bne(t4, zero, back(c, loop)));
    c.push_back(nop());
    return c;
}

std::vector<uint32_t> polling_program() {
    std::vector<uint32_t> c;
    li(c, s0, 0xA0000000 | kPort);
    c.push_back(mfc0(t0, 9));
    li(c, t1, 40000);
    c.push_back(addu(t0, t0, t1));
    c.push_back(mtc0(t0, 11));
    c.push_back(ei());
    const size_t poll = c.size();
    c.push_back(lw(t0, 0, s0));
    c.push_back(andi(t0, t0, 1));
    c.push_back(beq(t0, zero, back(c, poll)));
    c.push_back(nop());
    c.push_back(sw(zero, 0, s0));
    c.push_back(addiu(s2, s2, 1));
    c.push_back(b(back(c, poll)));
    c.push_back(nop());
    return c;
}

std::vector<uint32_t> tick_handler() {
    return {lui(k1, 0x8000), lw(k0, 0, k1), addiu(k0, k0, 1), sw(k0, 0, k1), mfc0(k0, 11), lui(k1, 0),
            ori(k1, k1, 40000), addu(k0, k0, k1), mtc0(k0, 11), lui(k1, 0xBF88), sw(zero, 0x1034, k1), eret()};
}

void run(const char* name, const std::vector<uint32_t>& program, double board_seconds) {
    BenchHost host;
    m4k::Core core(host);
    host.core = &core;
    core.write_memory(kCode & 0x1FFFFFFF, program.data(), program.size() * 4);
    const auto handler = tick_handler();
    core.write_memory(kVector0 & 0x1FFFFFFF, handler.data(), handler.size() * 4);
    core.reset();
    core.cp0_write(12, 0, 0);
    core.cp0_write(15, 1, 0x9D000000);
    core.cp0_write(12, 1, 1 << 5);
    core.cp0_write(13, 0, 1u << 23);
    core.cp0_write(16, 0, 3);
    core.set_timing({2, 3, 0, 1});
    core.set_pc(kCode);
    const m4k::Cycle until = static_cast<m4k::Cycle>(board_seconds * 80e6);
    const auto t0 = std::chrono::steady_clock::now();
    core.run(until);
    const double host_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double ips = static_cast<double>(core.instructions()) / host_s;
    const double cps = static_cast<double>(core.cycle()) / host_s;
    std::printf("%-8s %6.2f board s in %6.3f host s: %7.1f M instructions/s, %8.1f M board cycles/s = %6.2f x real time "
                "(%.0f%% of cycles skipped idle)\n",
                name, core.cycle() / 80e6, host_s, ips / 1e6, cps / 1e6, cps / 80e6,
                100.0 * static_cast<double>(core.skipped_cycles()) / static_cast<double>(core.cycle()));
}

} // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    run("cpu", cpu_program(), seconds);
    run("polling", polling_program(), seconds * 10);
    return 0;
}
