#pragma once
// Every choice the core makes where the M4K's or the PIC32's behaviour is not
// confirmed by a primary text. Each is a named value here, with the reason,
// so that a later finding changes one line.
#include <cstdint>

namespace m4k::config {

// ---- memories (physical addresses, the chip's own)
constexpr uint32_t kRamBase = 0x00000000, kRamSize = 32 * 1024;
constexpr uint32_t kFlashBase = 0x1D000000, kFlashSize = 512 * 1024;
constexpr uint32_t kBootBase = 0x1FC00000, kBootSize = 12 * 1024;
constexpr uint32_t kSfrBase = 0x1F800000, kSfrSize = 0x100000;
constexpr uint32_t kConfigWordsOffset = kBootSize - 16;  // DEVCFG3..DEVCFG0
constexpr uint32_t kErasedWord = 0xFFFFFFFF;

// kuseg maps to physical VA + 0x40000000 while ERL = 0 and straight through
// while ERL = 1 (the rule of MIPS fixed-mapping cores; not checked for the M4K).
constexpr uint32_t kUsegOffset = 0x40000000;
// kseg2/kseg3 map straight through (nothing is there on this chip).

// ---- reset values of CP0 registers
constexpr uint32_t kPrid = 0x00018700;       // MIPS company, processor 0x87 (believed to be the M4K)
constexpr uint32_t kEbaseReset = 0x80000000;
// Config: M, K23 = KU = 2 (uncached, fixed), MT = 3 (fixed mapping), AR = 1 (release 2),
// BE = 0 (little-endian), K0 = 2 (uncached) at reset.
constexpr uint32_t kConfigReset = 0x80000000u | (2u << 28) | (2u << 25) | (1u << 10) | (3u << 7) | 2u;
constexpr uint32_t kConfigWritable = 0x7;   // only K0
// Config1: M, no caches, no FPU; MIPS16e (CA) and EJTAG (EP) present.
constexpr uint32_t kConfig1 = 0x80000000u | (1u << 2) | (1u << 1);
constexpr uint32_t kConfig2 = 0x80000000u;  // M: Config3 follows
constexpr uint32_t kConfig3 = (1u << 6) | (1u << 5);  // VEIC, VInt
constexpr unsigned kHighestShadowSet = 1;   // SRSCtl.HSS: one extra register set

// Status: bits software may write. SR (20) and NMI (19) may only be cleared.
constexpr uint32_t kStatusWritable = 0x1840FF17u;
constexpr uint32_t kStatusClearOnly = (1u << 20) | (1u << 19);
// Cause: DC, IV and the software-interrupt bits IP1:0 (WP stays 0: no watch registers).
constexpr uint32_t kCauseWritable = (1u << 27) | (1u << 23) | (3u << 8);
// CP0 registers the M4K lacks read as zero and ignore writes.

// ---- exception vectors (KSEG1 for the boot-time ones)
constexpr uint32_t kResetVector = 0xBFC00000;
constexpr uint32_t kBevGeneralVector = 0xBFC00380;
constexpr uint32_t kBevInterruptVector = 0xBFC00400;  // base 0xBFC00200 + 0x200, derived
constexpr uint32_t kDebugVector = 0xBFC00480;         // no probe attached
constexpr uint32_t kGeneralOffset = 0x180;
constexpr uint32_t kInterruptOffset = 0x200;

// ---- time
// Count advances once every two SYSCLK cycles.
constexpr unsigned kCountDivider = 2;
// Extra cycles for entering an exception or interrupt (the pipeline refills
// from the vector); unknown for the M4K.
constexpr unsigned kExceptionEntryCycles = 3;
// Extra cycles for a load whose result the very next instruction uses.
constexpr unsigned kLoadUseStall = 1;
// A branch-likely that is not taken still spends a cycle on the annulled slot.
constexpr unsigned kAnnulledSlotCycles = 1;
// Multiply/divide unit: latency (cycles until HI/LO are readable) and repeat
// (cycles until the next MDU instruction may start), by operand width.
// A multiply is "16-bit" when rt fits in 16 bits (sign-extended for signed,
// zero-extended for unsigned forms); a divide's width is that of rs.
constexpr unsigned kMult16Latency = 1, kMult16Repeat = 1;
constexpr unsigned kMult32Latency = 2, kMult32Repeat = 2;
// MUL writes a GPR and holds the pipeline: total cycles, plus one more if
// the next instruction uses the result.
constexpr unsigned kMul16Cycles = 2, kMul32Cycles = 3, kMulUseStall = 1;
constexpr unsigned kDivLatency[4] = {12, 19, 26, 33};  // rs of 8, 16, 24, 32 bits
constexpr unsigned kDivRepeat[4] = {11, 18, 25, 32};
// An access through the peripheral bus costs this many SYSCLK cycles per
// PBCLK divider step (PBDIV = 1, 2, 4, 8).
constexpr unsigned kSfrCyclesPerPbDiv = 1;

// ---- prefetch cache
constexpr unsigned kPrefetchLines = 16;  // fully associative, least recently used replaced
// CHECON.PREFEN: 0 off, 1 cacheable regions only, 2 non-cacheable only, 3 both.
// With prefetch off an uncached fetch reads one 16-byte flash line and the
// rest of that line is free.

// ---- reset values of the registers the board reports with set_timing()
constexpr unsigned kResetFlashWaitStates = 7;  // CHECON.PFMWS
constexpr unsigned kResetPrefetch = 0;         // CHECON.PREFEN
constexpr unsigned kResetRamWaitStates = 1;    // BMXCON.BMXWSDRM
constexpr unsigned kResetPbDiv = 8;            // DEVCFG1.FPBDIV erased

// ---- wait
// WAIT ends when the controller requests a level above Status.IPL, whether or
// not interrupts are enabled; the interrupt is then taken if it can be, and
// otherwise execution resumes after the WAIT.

} // namespace m4k::config
