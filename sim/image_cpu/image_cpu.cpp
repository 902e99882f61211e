#include "sim/image_cpu/image_cpu.h"

#include <cxxabi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "sim/cpu/disasm.h"

namespace sim {
namespace {

// The registers that set the core's timing, by their 16-byte slot (the
// register and its CLR/SET/INV words).
constexpr uint32_t kCheconSlot = 0x1F884000u, kBmxconSlot = 0x1F882000u, kOscconSlot = 0x1F80F000u;
constexpr uint32_t kPfmwsMask = 0x7u, kPrefenShift = 4, kBmxwsdrm = 1u << 6;

std::string demangle(const std::string& name) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> out(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                               std::free);
    return status == 0 && out ? std::string(out.get()) : name;
}

}  // namespace

ImageCpu::ImageCpu(Board& board, const m4k::ElfImage& image) : board_(board), image_(image), core_(*this) {
    image_.load_into(core_);
    core_.reset();
    if (const auto limit = image_.stack_limit()) core_.set_stack_limit(*limit);
    update_timing();
    after_board_change();
}

ImageCpu::Stop ImageCpu::run(Cycle until) {
    if (!board_.finished() && !faulted_) {
        const m4k::StopReason why = core_.run(until);
        if (why != m4k::StopReason::Fault && !board_.finished()) {
            // Every event up to the core's clock has run; the board's clock shows it too.
            if (board_.now() < core_.cycle()) advance_to(core_.cycle());
            if (!board_.finished()) return why == m4k::StopReason::Until ? Stop::Until : Stop::Requested;
        }
    }
    return faulted_ ? Stop::Fault : Stop::Finished;
}

uint32_t ImageCpu::stack_peak_bytes() const {
    const auto top = image_.symbol("_stack_top");
    const uint32_t low = core_.stack_low_water();
    if (!top || low == 0xFFFFFFFFu || low > *top) return 0;
    return *top - low;
}

std::string ImageCpu::describe(uint32_t address) const { return describe_address(image_, address); }

std::string describe_address(const m4k::ElfImage& image, uint32_t address) {
    const m4k::ElfSymbol* f = image.function_at(address);
    const std::string plain = image.describe(address);
    return f ? demangle(f->name) + plain.substr(f->name.size()) : plain;
}

// ---------------------------------------------------------------- the bus

bool ImageCpu::catch_up(Cycle cycle) {
    // An access inside an instruction can land just past the next event:
    // the event runs first, as it would on the board.
    const bool due = cycle >= board_.next_event();
    board_.advance_to(cycle);
    if (due) after_board_change();
    return due;
}

bool ImageCpu::io_load(uint32_t phys, unsigned bytes, m4k::Cycle cycle, uint32_t& value, bool& side_effect) {
    const bool events_ran = catch_up(cycle);
    const bool ok = board_.load(phys, bytes, value, side_effect);
    // Events that ran here are news to the core's idle-loop detection.
    side_effect = side_effect || events_ran;
    return ok;
}

bool ImageCpu::io_store(uint32_t phys, unsigned bytes, uint32_t value, m4k::Cycle cycle) {
    catch_up(cycle);
    // Writing Compare dropped the core timer's request; the controller must
    // know before the handler writes IFS0 (it matters when CTIF follows the level).
    if (timer_request_up_ && !core_.timer_request()) {
        board_.core_timer_request_dropped();
        timer_request_up_ = false;
    }
    const bool ok = board_.store(phys, bytes, value);
    const uint32_t slot = phys & ~0xFu;
    if (slot == kCheconSlot || slot == kBmxconSlot || slot == kOscconSlot) update_timing();
    after_board_change();
    return ok;
}

void ImageCpu::advance_to(m4k::Cycle cycle) {
    board_.advance_to(cycle);
    after_board_change();
}

void ImageCpu::core_timer_match(m4k::Cycle) {
    board_.core_timer_match();
    timer_request_up_ = true;
    after_board_change();
}

void ImageCpu::after_board_change() {
    const InterruptRequest& r = board_.interrupt_request();
    core_.set_interrupt_request(r.level, r.vector, r.shadow_set);
    if (board_.finished()) core_.request_stop();
}

void ImageCpu::update_timing() {
    const uint32_t checon = board_.peek(kCheconSlot);
    core_.set_timing({checon & kPfmwsMask, (checon >> kPrefenShift) & 3u,
                      (board_.peek(kBmxconSlot) & kBmxwsdrm) ? 1u : 0u, board_.pb_divider()});
}

// ---------------------------------------------------------------- faults

bool ImageCpu::violation(const m4k::Fault& fault) {
    if (fault.cycle > board_.now()) board_.advance_to(fault.cycle);
    board_.violation("cpu", describe_fault(fault, image_));
    faulted_ = true;
    return true;  // stop: what follows a fault tells nothing more about the image
}

std::string describe_fault(const m4k::Fault& fault, const m4k::ElfImage& image) {
    const std::string where = describe_address(image, fault.pc);
    std::string instruction = fault.disassembly;
    for (char& ch : instruction)
        if (ch == '\t') ch = ' ';
    char text[512];
    std::snprintf(text, sizeof text, "%s in %s (pc 0x%08x%s): %08x %s; address 0x%08x; registers",
                  m4k::fault_kind_name(fault.kind), where.c_str(), fault.pc,
                  fault.in_delay_slot ? ", delay slot" : "", fault.word, instruction.c_str(), fault.address);
    std::string line = text;
    for (unsigned i = 1; i < 32; ++i) {
        std::snprintf(text, sizeof text, " %s=%08x", m4k::gpr_name(i), fault.regs[i]);
        line += text;
    }
    std::snprintf(text, sizeof text, " hi=%08x lo=%08x", fault.hi, fault.lo);
    return line + text;
}

}  // namespace sim
