#pragma once
// Random instruction sequences for the differential test against qemu-mipsel,
// and the two ways to run them: on our core and in the qemu harness.
//
// A sequence uses $1..$25 freely, reads memory only through $30 (a 256-byte
// buffer), writes $31 only through branch-and-link, and never touches
// $26..$29. Branches go forward, so every sequence ends.
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace cpudiff {

constexpr unsigned kMemBytes = 256;
constexpr unsigned kMemReg = 30, kLinkReg = 31;

struct Sequence {
    std::vector<uint32_t> code;
    uint32_t regs[32] = {};  // $31 relative to the code start; $30 ignored
    uint32_t hi = 0, lo = 0;
    uint8_t mem[kMemBytes] = {};
};

struct Outcome {
    uint32_t signal = 0;  // 0: ran to the end; else the POSIX signal of the trap
    uint32_t pc = 0;      // trap: faulting pc - code start (EPC: the branch for a delay slot)
    bool bd = false;      // trap in a delay slot (ours only)
    uint32_t regs[32] = {};
    uint32_t hi = 0, lo = 0;
    uint8_t mem[kMemBytes] = {};
};

enum class Shape { StraightLine, Branchy };
Sequence generate(std::mt19937& rng, Shape shape, unsigned length);

// Runs each sequence on the M4K core.
std::vector<Outcome> run_on_core(const std::vector<Sequence>& seqs);
// Runs the sequences in one qemu-mipsel process; empty with `error` set if
// the peer could not run.
std::vector<Outcome> run_on_qemu(const std::vector<Sequence>& seqs, const std::string& harness, std::string& error);

// "" when equal, else what differs (registers, HI/LO, memory, trap).
std::string compare(const Outcome& ours, const Outcome& peer);
// The sequence as text, one instruction per line, for a failure report.
std::string listing(const Sequence& seq);

} // namespace cpudiff
