#include "sequences.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

#include "workloads/mips_asm.h"
#include "../test_host.h"
#include "sim/cpu/disasm.h"

namespace cpudiff {

namespace {

using namespace mips;

constexpr uint32_t kEdgeValues[] = {0,          1,          0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFu,
                                    0x8000u,    0x7FFFu,    0xFFFF8000u, 31,          32,          2,
                                    0x12345678u, 0x80000001u, 0xFFFFFFFEu, 0x00FF00FFu};
constexpr uint16_t kEdgeImm[] = {0, 1, 0xFFFF, 0x8000, 0x7FFF, 0x0010, 0xFFFE, 31};

struct Gen {
    std::mt19937& rng;
    unsigned pick(unsigned n) { return std::uniform_int_distribution<unsigned>(0, n - 1)(rng); }
    bool chance(unsigned percent) { return pick(100) < percent; }
    unsigned dst() { return 1 + pick(25); }                 // $1..$25
    unsigned src() { return chance(8) ? 0 : 1 + pick(25); } // sometimes $0
    uint32_t value() { return chance(60) ? kEdgeValues[pick(std::size(kEdgeValues))] : static_cast<uint32_t>(rng()); }
    uint16_t imm() { return chance(60) ? kEdgeImm[pick(std::size(kEdgeImm))] : static_cast<uint16_t>(rng()); }
    unsigned shift() {
        static const unsigned edges[] = {0, 1, 31, 16};
        return chance(60) ? edges[pick(4)] : pick(32);
    }

    // One instruction that is not a branch (and may sit in a delay slot).
    uint32_t plain() {
        switch (pick(12)) {
        case 0: case 1: {  // register ALU
            static const unsigned funct[] = {0x21, 0x23, 0x24, 0x25, 0x26, 0x27, 0x2A, 0x2B, 0x20, 0x22, 0x0A, 0x0B};
            const unsigned f = funct[pick(std::size(funct))];
            if ((f == 0x20 || f == 0x22) && !chance(30)) return r_type(0x21, src(), src(), dst());
            return r_type(f, src(), src(), dst());
        }
        case 2: {  // shifts, by amount and by register
            switch (pick(8)) {
            case 0: return r_type(0x00, 0, src(), dst(), shift());          // sll
            case 1: return r_type(0x02, 0, src(), dst(), shift());          // srl
            case 2: return r_type(0x03, 0, src(), dst(), shift());          // sra
            case 3: return r_type(0x02, 1, src(), dst(), shift());          // rotr
            case 4: return r_type(0x04, src(), src(), dst());               // sllv
            case 5: return r_type(0x06, src(), src(), dst());               // srlv
            case 6: return r_type(0x07, src(), src(), dst());               // srav
            default: return r_type(0x06, src(), src(), dst(), 1);           // rotrv
            }
        }
        case 3: {  // immediates
            static const unsigned ops[] = {0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x08};
            const unsigned op = ops[pick(std::size(ops))];
            if (op == 0x08 && !chance(30)) return i_type(0x09, src(), dst(), imm());
            return i_type(op, op == 0x0F ? 0 : src(), dst(), imm());
        }
        case 4: {  // bit fields and friends
            switch (pick(8)) {
            case 0: {
                const unsigned pos = chance(40) ? (pick(2) ? 0 : 31) : pick(32);
                const unsigned size = chance(50) ? 32 - pos : 1 + pick(32 - pos);
                return r_type(0x00, src(), dst(), size - 1, pos, 0x1F);     // ext
            }
            case 1: {
                const unsigned pos = chance(40) ? (pick(2) ? 0 : 31) : pick(32);
                const unsigned size = chance(50) ? 32 - pos : 1 + pick(32 - pos);
                return r_type(0x04, src(), dst(), pos + size - 1, pos, 0x1F); // ins
            }
            case 2: { const unsigned d = dst(); return r_type(0x20, src(), d, d, 0, 0x1C); }  // clz
            case 3: { const unsigned d = dst(); return r_type(0x21, src(), d, d, 0, 0x1C); }  // clo
            case 4: return r_type(0x20, 0, src(), dst(), 0x02, 0x1F);        // wsbh
            case 5: return r_type(0x20, 0, src(), dst(), 0x10, 0x1F);        // seb
            case 6: return r_type(0x20, 0, src(), dst(), 0x18, 0x1F);        // seh
            default: return r_type(0x02, src(), src(), dst(), 0, 0x1C);      // mul
            }
        }
        case 5: {  // multiply unit
            static const unsigned funct2[] = {0x00, 0x01, 0x04, 0x05};       // madd maddu msub msubu
            switch (pick(6)) {
            case 0: return r_type(0x18, src(), src(), 0);                    // mult
            case 1: return r_type(0x19, src(), src(), 0);                    // multu
            case 2: return r_type(funct2[pick(4)], src(), src(), 0, 0, 0x1C);
            case 3: return r_type(pick(2) ? 0x10 : 0x12, 0, 0, dst());       // mfhi / mflo
            case 4: return r_type(pick(2) ? 0x11 : 0x13, src(), 0, 0);       // mthi / mtlo
            default: return r_type(0x12, 0, 0, dst());
            }
        }
        case 6: case 7: {  // loads and stores through $30
            static const unsigned ops[] = {0x20, 0x24, 0x21, 0x25, 0x23, 0x28, 0x29, 0x2B, 0x22, 0x26, 0x2A, 0x2E};
            const unsigned op = ops[pick(std::size(ops))];
            const unsigned size = (op == 0x21 || op == 0x25 || op == 0x29) ? 2 : (op == 0x23 || op == 0x2B) ? 4 : 1;
            const unsigned offset = pick(kMemBytes - 4) & ~(size - 1);
            const bool store = op >= 0x28;
            return i_type(op, kMemReg, store ? src() : dst(), offset);
        }
        case 8:  // traps (rarely taken with random values, often with edge values)
            if (chance(50)) {
                static const unsigned funct[] = {0x30, 0x31, 0x32, 0x33, 0x34, 0x36};
                return r_type(funct[pick(6)], src(), src(), 0, pick(4));
            } else {
                static const unsigned rt[] = {0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0E};
                return i_type(0x01, src(), rt[pick(6)], imm());
            }
        default:
            return r_type(0x21, src(), src(), dst());
        }
    }
};

} // namespace

Sequence generate(std::mt19937& rng, Shape shape, unsigned length) {
    Gen g{rng};
    Sequence seq;
    for (unsigned r = 1; r < 26; ++r) seq.regs[r] = g.value();
    seq.regs[kLinkReg] = 0;
    seq.hi = g.value();
    seq.lo = g.value();
    for (auto& b : seq.mem) b = static_cast<uint8_t>(rng());

    auto& code = seq.code;
    std::vector<bool> guarded(length + 1, false);  // divides that only their guard may reach
    std::vector<unsigned> branches;
    while (code.size() < length) {
        const unsigned here = static_cast<unsigned>(code.size());
        if (length - here >= 3 && g.chance(6)) {
            // A divide guarded against a zero divisor (whose result is UNPREDICTABLE).
            const unsigned divisor = 1 + g.pick(25);
            code.push_back(beq(divisor, zero, 2));
            guarded[code.size()] = true;
            code.push_back(nop());
            guarded[code.size()] = true;
            code.push_back(r_type(g.pick(2) ? 0x1A : 0x1B, g.src(), divisor, 0));
            continue;
        }
        if (shape == Shape::Branchy && length - here >= 3 && g.chance(20)) {
            // Forward branch over 0..(rest) instructions; its slot is a plain instruction.
            const unsigned room = length - here - 2;
            const int16_t skip = static_cast<int16_t>(1 + g.pick(room + 1));  // target: here+1+skip <= length
            const unsigned rs = g.src(), rt = g.src();
            static const uint32_t regimm_rt[] = {0x00, 0x01, 0x02, 0x03, 0x10, 0x11, 0x12, 0x13};
            uint32_t word;
            switch (g.pick(6)) {
            case 0: word = i_type(0x04 + g.pick(2), rs, rt, static_cast<uint16_t>(skip)); break;        // beq/bne
            case 1: word = i_type(0x14 + g.pick(2), rs, rt, static_cast<uint16_t>(skip)); break;        // beql/bnel
            case 2: word = i_type(0x06 + g.pick(2), rs, 0, static_cast<uint16_t>(skip)); break;         // blez/bgtz
            case 3: word = i_type(0x16 + g.pick(2), rs, 0, static_cast<uint16_t>(skip)); break;         // blezl/bgtzl
            case 4: word = i_type(0x01, rs, regimm_rt[g.pick(8)], static_cast<uint16_t>(skip)); break;  // bltz...bgezall
            default: word = g.pick(2) ? b(skip) : i_type(0x01, 0, 0x11, static_cast<uint16_t>(skip)); // b / bal
            }
            branches.push_back(here);
            code.push_back(word);
            code.push_back(g.plain());
            continue;
        }
        code.push_back(g.plain());
    }
    // A branch landing on a guarded divide (or its guard's slot) would skip
    // the guard: land after the divide.
    for (const unsigned at : branches) {
        unsigned target = at + 1 + static_cast<int16_t>(code[at] & 0xFFFF);
        while (guarded[target]) ++target;
        code[at] = (code[at] & 0xFFFF0000u) | ((target - (at + 1)) & 0xFFFF);
    }
    return seq;
}

// ---------------------------------------------------------------- our core

std::vector<Outcome> run_on_core(const std::vector<Sequence>& seqs) {
    constexpr uint32_t kCode = cputest::kFlashK0 + 0x1000;
    constexpr uint32_t kMem = cputest::kRamK0 + 0x100;
    cputest::Machine m;
    m.host.on_fault = [](const m4k::Fault&) { return true; };
    std::vector<Outcome> out;
    out.reserve(seqs.size());
    for (const auto& seq : seqs) {
        m.core.erase_memories();
        auto code = seq.code;
        code.push_back(sdbbp());
        m.put(kCode, code);
        m.core.write_memory(kMem & 0x1FFFFFFF, seq.mem, kMemBytes);
        m.start_at(kCode);
        for (unsigned r = 1; r < 32; ++r) m.core.set_gpr(r, seq.regs[r]);
        m.core.set_gpr(kMemReg, kMem);
        m.core.set_gpr(kLinkReg, kCode + seq.regs[kLinkReg]);
        m.core.set_hi_lo(seq.hi, seq.lo);
        m.host.faults.clear();

        Outcome o;
        m.core.run(1'000'000);
        const m4k::Fault* f = m.host.faults.empty() ? nullptr : &m.host.faults.front();
        if (!f) {
            o.signal = 0xFFFF;  // did not finish: reported as a mismatch
        } else if (f->kind == m4k::FaultKind::DebugMode && f->pc == kCode + 4 * seq.code.size()) {
            o.signal = 0;
        } else {
            switch (f->exc_code) {
            case m4k::kExcOv: o.signal = 8; break;  // SIGFPE
            case m4k::kExcTr: case m4k::kExcBp: o.signal = 5; break;  // SIGTRAP
            case m4k::kExcRI: o.signal = 4; break;  // SIGILL
            default: o.signal = 0x100 + f->exc_code;
            }
            o.pc = m.core.cp0_read(m4k::cp0::EPC, 0) - kCode;  // the branch for a trap in a delay slot
            o.bd = (m.core.cp0_read(m4k::cp0::Cause, 0) & m4k::cp0::BD) != 0;
        }
        for (unsigned r = 1; r < 26; ++r) o.regs[r] = m.core.gpr(r);
        o.regs[kLinkReg] = m.core.gpr(kLinkReg) - kCode;
        o.hi = m.core.hi();
        o.lo = m.core.lo();
        m.core.read_memory(kMem & 0x1FFFFFFF, o.mem, kMemBytes);
        out.push_back(o);
    }
    return out;
}

// ---------------------------------------------------------------- qemu

std::vector<Outcome> run_on_qemu(const std::vector<Sequence>& seqs, const std::string& harness, std::string& error) {
    char dir[] = "/tmp/cpudiff.XXXXXX";
    if (!mkdtemp(dir)) {
        error = "cannot make a temporary folder";
        return {};
    }
    const std::string in_path = std::string(dir) + "/in", out_path = std::string(dir) + "/out";
    {
        std::ofstream in(in_path, std::ios::binary);
        for (const auto& s : seqs) {
            const uint32_t n = static_cast<uint32_t>(s.code.size());
            in.write(reinterpret_cast<const char*>(&n), 4);
            in.write(reinterpret_cast<const char*>(s.code.data()), n * 4);
            in.write(reinterpret_cast<const char*>(s.regs), sizeof s.regs);
            in.write(reinterpret_cast<const char*>(&s.hi), 4);
            in.write(reinterpret_cast<const char*>(&s.lo), 4);
            in.write(reinterpret_cast<const char*>(s.mem), kMemBytes);
        }
    }
    const std::string cmd = "qemu-mipsel -cpu M14K '" + harness + "' < " + in_path + " > " + out_path;
    const int rc = std::system(cmd.c_str());
    std::ifstream out(out_path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    std::remove(in_path.c_str());
    std::remove(out_path.c_str());
    rmdir(dir);
    constexpr size_t kRecord = 4 * 36 + kMemBytes;
    if (rc != 0 || bytes.size() != seqs.size() * kRecord) {
        error = "qemu-mipsel failed (exit " + std::to_string(rc) + ", " + std::to_string(bytes.size()) + " bytes)";
        return {};
    }
    std::vector<Outcome> result(seqs.size());
    for (size_t i = 0; i < seqs.size(); ++i) {
        const uint8_t* p = bytes.data() + i * kRecord;
        Outcome& o = result[i];
        std::memcpy(&o.signal, p, 4);
        std::memcpy(&o.pc, p + 4, 4);
        std::memcpy(o.regs, p + 8, 128);
        std::memcpy(&o.hi, p + 136, 4);
        std::memcpy(&o.lo, p + 140, 4);
        std::memcpy(o.mem, p + 144, kMemBytes);
    }
    return result;
}

std::string compare(const Outcome& ours, const Outcome& peer) {
    std::string diff;
    char line[128];
    // For a trap in the delay slot of a branch that was not taken, qemu
    // reports the slot's own address; the core (as the architecture has it)
    // sets Cause.BD and points EPC at the branch.
    const bool same_pc = ours.pc == peer.pc || (ours.bd && peer.pc == ours.pc + 4);
    if (ours.signal != peer.signal || !same_pc) {
        std::snprintf(line, sizeof line, "trap: ours %u at +%u, qemu %u at +%u\n", ours.signal, ours.pc, peer.signal,
                      peer.pc);
        diff += line;
    }
    for (unsigned r = 1; r < 32; ++r) {
        if (r >= 26 && r <= 30) continue;
        if (ours.regs[r] != peer.regs[r]) {
            std::snprintf(line, sizeof line, "%s: ours %08x, qemu %08x\n", m4k::gpr_name(r), ours.regs[r], peer.regs[r]);
            diff += line;
        }
    }
    if (ours.hi != peer.hi || ours.lo != peer.lo) {
        std::snprintf(line, sizeof line, "hi/lo: ours %08x/%08x, qemu %08x/%08x\n", ours.hi, ours.lo, peer.hi, peer.lo);
        diff += line;
    }
    for (unsigned i = 0; i < kMemBytes; ++i)
        if (ours.mem[i] != peer.mem[i]) {
            std::snprintf(line, sizeof line, "mem[%u]: ours %02x, qemu %02x\n", i, ours.mem[i], peer.mem[i]);
            diff += line;
        }
    return diff;
}

std::string listing(const Sequence& seq) {
    std::string text;
    char line[160];
    for (size_t i = 0; i < seq.code.size(); ++i) {
        std::snprintf(line, sizeof line, "  +%-4zu %08x  %s\n", 4 * i, seq.code[i],
                      m4k::disassemble(seq.code[i], static_cast<uint32_t>(4 * i)).c_str());
        text += line;
    }
    for (unsigned r = 1; r < 26; ++r) {
        std::snprintf(line, sizeof line, "  %s=%08x", m4k::gpr_name(r), seq.regs[r]);
        text += line;
        if (r % 5 == 0) text += "\n";
    }
    std::snprintf(line, sizeof line, "  hi=%08x lo=%08x\n", seq.hi, seq.lo);
    return text + line;
}

} // namespace cpudiff
