#pragma once
// What the M4K core needs from the board around it, and what it reports back.
// The core keeps RAM, program flash and boot flash itself; only accesses to the
// rest of physical space (the SFR window) and the board's time cross here.
#include <cstdint>
#include <string>

namespace m4k {

using Cycle = uint64_t;
constexpr Cycle kNoEvent = ~Cycle{0};

// Things the chip cannot report but a simulation should.
enum class FaultKind : uint8_t {
    ReservedInstruction,  // reserved encoding executed (the chip takes RI)
    CoprocessorUnusable,  // FPU/COP2 instruction (the chip takes CpU)
    AddressError,         // misaligned access or kernel address from user mode (AdEL/AdES)
    BusError,             // data access outside every mapped region (DBE)
    FetchOutsideMemory,   // instruction fetch outside flash, boot flash and RAM (IBE)
    FlashStore,           // CPU store into program or boot flash (the store is dropped)
    NoHandler,            // exception taken where the vector holds erased flash or nothing
    DebugMode,            // debug exception (SDBBP) with no debugger attached
    StackOverflow,        // $sp went below the limit set with set_stack_limit()
    IsaModeSwitch,        // jump into MIPS16e code (odd address, JALX): not simulated, fatal
};
const char* fault_kind_name(FaultKind kind);

struct Fault {
    FaultKind kind{};
    uint32_t pc = 0;          // the instruction that faulted (for NoHandler: the one that raised it)
    uint32_t word = 0;        // its instruction word
    uint32_t address = 0;     // data address, fetch address or vector, as the kind says
    unsigned exc_code = 0;    // the exception the chip takes for it, if any
    bool in_delay_slot = false;
    Cycle cycle = 0;
    uint64_t instructions = 0;
    uint32_t regs[32] = {};
    uint32_t hi = 0, lo = 0;
    std::string disassembly;  // of `word` at `pc`

    // One line: kind, pc, instruction, address; then the registers.
    std::string describe() const;
};

// The board's timing registers as the core needs them; the board calls
// Core::set_timing() whenever CHECON, BMXCON or OSCCON.PBDIV change.
struct Timing {
    unsigned flash_wait_states;  // CHECON.PFMWS
    unsigned prefetch;           // CHECON.PREFEN (0..3)
    unsigned ram_wait_states;    // BMXCON.BMXWSDRM
    unsigned pb_div;             // peripheral bus divider: 1, 2, 4 or 8
};

class CoreHost {
public:
    virtual ~CoreHost() = default;

    // A load of `bytes` (1, 2 or 4, naturally aligned) at physical address
    // `phys` outside the core's memories. Return false for "nothing there"
    // (bus error). Set `side_effect` when the read changed the board (a
    // buffer read, a flag cleared on read) or when its value depends on the
    // cycle rather than on scheduled events: idle-loop skipping relies on
    // reads without it returning the same value until the next event.
    virtual bool io_load(uint32_t phys, unsigned bytes, Cycle cycle, uint32_t& value, bool& side_effect) = 0;
    // A store; false for "nothing there" (bus error). `value` holds the bytes
    // in its low `bytes` bytes.
    virtual bool io_store(uint32_t phys, unsigned bytes, uint32_t value, Cycle cycle) = 0;
    // Board cycle of the next scheduled board event (kNoEvent: none). Asked
    // after advance_to() and after every store or side-effect load.
    virtual Cycle next_event() = 0;
    // The core's clock reached `cycle` >= next_event(): run the board up to it.
    virtual void advance_to(Cycle cycle) = 0;
    // Count reached Compare at `cycle` (Cause.TI is now set).
    virtual void core_timer_match(Cycle cycle) = 0;
    // A fault (see FaultKind). Return true to stop run() here; false lets the
    // core go on as the chip would (take the exception, drop the store, ...).
    // IsaModeSwitch always stops.
    virtual bool violation(const Fault& fault) = 0;
};

} // namespace m4k
