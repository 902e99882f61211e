#pragma once
// Drives a board with the image built for the chip: an M4K core executes the
// ELF from its reset vector, and its loads and stores in the SFR window, its
// time and its core timer reach the board through this adapter.
//
//   sim::Board board;
//   auto image = m4k::ElfImage::read(path, error);
//   sim::ImageCpu cpu(board, *image);
//   cpu.run();            // until the board ends the run or the core faults
//
// The board's clock is the core's cycle count. After every store, every
// board event and every core-timer match the interrupt controller's request
// is handed to the core; CHECON, BMXCON and OSCCON.PBDIV give the core its
// flash, RAM and peripheral-bus timing. A fault the chip could not report
// (see m4k::FaultKind) becomes a board violation naming the function, the
// instruction and the registers, and ends the run.
#include <cstdint>
#include <string>

#include "sim/board.h"
#include "sim/cpu/elf_image.h"
#include "sim/cpu/m4k_core.h"

namespace sim {

class ImageCpu final : private m4k::CoreHost {
public:
    // Loads `image` into a new core on `board` and resets it; the stack
    // limit comes from the image's linker symbols when it defines them.
    // `image` must outlive this object.
    ImageCpu(Board& board, const m4k::ElfImage& image);
    ImageCpu(const ImageCpu&) = delete;
    ImageCpu& operator=(const ImageCpu&) = delete;

    enum class Stop { Finished, Until, Requested, Fault };
    // Runs until the board ends the run, the core faults, board time reaches
    // `until`, or a step hook asks the core to stop (core().request_stop()).
    Stop run(Cycle until = kNever);

    m4k::Core& core() { return core_; }
    const m4k::Core& core() const { return core_; }
    const m4k::ElfImage& image() const { return image_; }
    Board& board() const { return board_; }

    // Bytes of stack below its top at the deepest point so far (0: no stack
    // adjustment seen, or no stack symbols in the image).
    uint32_t stack_peak_bytes() const;
    // "name+0x1c" with the name demangled, or the hex address.
    std::string describe(uint32_t address) const;

private:
    // m4k::CoreHost
    bool io_load(uint32_t phys, unsigned bytes, m4k::Cycle cycle, uint32_t& value, bool& side_effect) override;
    bool io_store(uint32_t phys, unsigned bytes, uint32_t value, m4k::Cycle cycle) override;
    m4k::Cycle next_event() override { return board_.next_event(); }
    void advance_to(m4k::Cycle cycle) override;
    void core_timer_match(m4k::Cycle cycle) override;
    bool violation(const m4k::Fault& fault) override;

    // The board has run up to `cycle`; true when events ran.
    bool catch_up(Cycle cycle);
    void after_board_change();
    void update_timing();

    Board& board_;
    const m4k::ElfImage& image_;
    m4k::Core core_;
    bool timer_request_up_ = false;  // the board last heard the core timer's request go up
    bool faulted_ = false;
};

// "name+0x1c" for an address in the image, the name demangled; the hex
// address when no symbol covers it.
std::string describe_address(const m4k::ElfImage& image, uint32_t address);

// One line for a fault: what, where (function and pc), the instruction, the
// address and the registers.
std::string describe_fault(const m4k::Fault& fault, const m4k::ElfImage& image);

}  // namespace sim
