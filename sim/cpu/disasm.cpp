#include "sim/cpu/disasm.h"

#include <cstdarg>
#include <cstdio>

#include "sim/cpu/decode.h"

namespace m4k {

namespace {

const char* const kGpr[32] = {"zero", "at", "v0", "v1", "a0", "a1", "a2", "a3",
                              "t0",   "t1", "t2", "t3", "t4", "t5", "t6", "t7",
                              "s0",   "s1", "s2", "s3", "s4", "s5", "s6", "s7",
                              "t8",   "t9", "k0", "k1", "gp", "sp", "s8", "ra"};

const char* const kCp0[32] = {
    "c0_index",  "c0_random",  "c0_entrylo0", "c0_entrylo1", "c0_context",  "c0_pagemask", "c0_wired",
    "c0_hwrena", "c0_badvaddr", "c0_count",   "c0_entryhi",  "c0_compare",  "c0_status",   "c0_cause",
    "c0_epc",    "c0_prid",    "c0_config",   "c0_lladdr",   "c0_watchlo",  "c0_watchhi",   "c0_xcontext",
    "$21",       "$22",        "c0_debug",    "c0_depc",     "c0_perfcnt",  "c0_errctl",    "c0_cacheerr",
    "c0_taglo",  "c0_taghi",   "c0_errorepc", "c0_desave"};

std::string cp0_name(unsigned reg, unsigned sel) {
    if (sel == 0) return kCp0[reg];
    struct Named { unsigned reg, sel; const char* name; };
    static const Named kSel[] = {{12, 1, "c0_intctl"},  {12, 2, "c0_srsctl"},  {12, 3, "c0_srsmap"},
                                 {15, 1, "c0_ebase"},   {16, 1, "c0_config1"}, {16, 2, "c0_config2"},
                                 {16, 3, "c0_config3"}};
    for (const auto& n : kSel)
        if (n.reg == reg && n.sel == sel) return n.name;
    char text[16];
    std::snprintf(text, sizeof text, "$%u,%u", reg, sel);
    return text;
}

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    char text[96];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    return text;
}

// A code field printed the way objdump does: nothing when zero.
std::string code_suffix(const char* mnemonic, uint32_t code) {
    return code ? format("%s\t0x%x", mnemonic, code) : std::string(mnemonic);
}

} // namespace

const char* gpr_name(unsigned reg) { return kGpr[reg & 31]; }

std::string disassemble(uint32_t word, uint32_t pc) {
    const Decoded d = decode(word);
    const char* m = op_mnemonic(d.op);
    const char* rs = kGpr[d.rs];
    const char* rt = kGpr[d.rt];
    const char* rd = kGpr[d.rd];
    const int32_t simm = static_cast<int32_t>(d.imm);
    const uint32_t branch_target = pc + 4 + d.imm;
    const uint32_t jump_target = ((pc + 4) & 0xF0000000u) | d.imm;

    switch (d.op) {
    case Op::Undecoded: break;
    case Op::Nop:
        if (word == 0x40) return "ssnop";
        if (word == 0xC0) return "ehb";
        if (word == 0) return "nop";
        return format("sll\tzero,%s,0x%x", rt, (word >> 6) & 31);
    case Op::Sll: case Op::Srl: case Op::Sra: case Op::Rotr:
        return format("%s\t%s,%s,0x%x", m, rd, rt, d.sa);
    case Op::Sllv: case Op::Srlv: case Op::Srav: case Op::Rotrv:
        return format("%s\t%s,%s,%s", m, rd, rt, rs);
    case Op::Jr:
        return format("%s\t%s", (d.flags & kHazardBarrier) ? "jr.hb" : "jr", rs);
    case Op::Jalr: {
        const char* name = (d.flags & kHazardBarrier) ? "jalr.hb" : "jalr";
        return d.rd == 31 ? format("%s\t%s", name, rs) : format("%s\t%s,%s", name, rd, rs);
    }
    case Op::Movz: case Op::Movn: case Op::And: case Op::Xor: case Op::Slt: case Op::Sltu:
    case Op::Add: case Op::Sub: case Op::Mul:
        if (d.op == Op::Sub && d.rs == 0) return format("neg\t%s,%s", rd, rt);
        return format("%s\t%s,%s,%s", m, rd, rs, rt);
    case Op::Addu: case Op::Or:
        if (d.rt == 0) return format("move\t%s,%s", rd, rs);
        return format("%s\t%s,%s,%s", m, rd, rs, rt);
    case Op::Subu:
        if (d.rs == 0) return format("negu\t%s,%s", rd, rt);
        return format("%s\t%s,%s,%s", m, rd, rs, rt);
    case Op::Nor:
        if (d.rt == 0) return format("not\t%s,%s", rd, rs);
        return format("%s\t%s,%s,%s", m, rd, rs, rt);
    case Op::Syscall: case Op::Sdbbp: case Op::Wait:
        return code_suffix(m, d.imm);
    case Op::Break: {
        const uint32_t hi = d.imm >> 10, lo = d.imm & 0x3FF;
        if (lo) return format("break\t0x%x,0x%x", hi, lo);
        return code_suffix("break", hi);
    }
    case Op::Sync: return code_suffix("sync", d.sa);
    case Op::Mfhi: case Op::Mflo: return format("%s\t%s", m, rd);
    case Op::Mthi: case Op::Mtlo: return format("%s\t%s", m, rs);
    case Op::Mult: case Op::Multu: case Op::Madd: case Op::Maddu: case Op::Msub: case Op::Msubu:
        return format("%s\t%s,%s", m, rs, rt);
    case Op::Div: case Op::Divu: return format("%s\tzero,%s,%s", m, rs, rt);
    case Op::Tge: case Op::Tgeu: case Op::Tlt: case Op::Tltu: case Op::Teq: case Op::Tne:
        return d.imm ? format("%s\t%s,%s,0x%x", m, rs, rt, d.imm) : format("%s\t%s,%s", m, rs, rt);
    case Op::Bltz: case Op::Bgez: case Op::Bltzl: case Op::Bgezl: case Op::Bltzal: case Op::Bgezall:
    case Op::Bltzall: case Op::Blez: case Op::Bgtz: case Op::Blezl: case Op::Bgtzl:
        return format("%s\t%s,%x", m, rs, branch_target);
    case Op::Bgezal:
        if (d.rs == 0) return format("bal\t%x", branch_target);
        return format("%s\t%s,%x", m, rs, branch_target);
    case Op::Tgei: case Op::Tgeiu: case Op::Tlti: case Op::Tltiu: case Op::Teqi: case Op::Tnei:
        return format("%s\t%s,%d", m, rs, simm);
    case Op::Synci: return format("synci\t%d(%s)", simm, rs);
    case Op::J: case Op::Jal: case Op::Jalx: return format("%s\t%x", m, jump_target);
    case Op::Beq:
        if (d.rs == 0 && d.rt == 0) return format("b\t%x", branch_target);
        if (d.rt == 0) return format("beqz\t%s,%x", rs, branch_target);
        return format("beq\t%s,%s,%x", rs, rt, branch_target);
    case Op::Bne:
        if (d.rt == 0) return format("bnez\t%s,%x", rs, branch_target);
        return format("bne\t%s,%s,%x", rs, rt, branch_target);
    case Op::Beql:
        if (d.rt == 0) return format("beqzl\t%s,%x", rs, branch_target);
        return format("beql\t%s,%s,%x", rs, rt, branch_target);
    case Op::Bnel:
        if (d.rt == 0) return format("bnezl\t%s,%x", rs, branch_target);
        return format("bnel\t%s,%s,%x", rs, rt, branch_target);
    case Op::Addiu:
        if (d.rs == 0) return format("li\t%s,%d", rt, simm);
        return format("%s\t%s,%s,%d", m, rt, rs, simm);
    case Op::Ori:
        if (d.rs == 0) return format("li\t%s,0x%x", rt, d.imm);
        return format("%s\t%s,%s,0x%x", m, rt, rs, d.imm);
    case Op::Addi: case Op::Slti: case Op::Sltiu:
        return format("%s\t%s,%s,%d", m, rt, rs, simm);
    case Op::Andi: case Op::Xori: return format("%s\t%s,%s,0x%x", m, rt, rs, d.imm);
    case Op::Lui: return format("lui\t%s,0x%x", rt, d.imm >> 16);
    case Op::Mfc0: case Op::Mtc0: return format("%s\t%s,%s", m, rt, cp0_name(d.rd, d.sa).c_str());
    case Op::Rdpgpr: case Op::Wrpgpr: return format("%s\t%s,%s", m, rd, rt);
    case Op::Di: case Op::Ei: return d.rt ? format("%s\t%s", m, rt) : std::string(m);
    case Op::Eret: case Op::Deret: return m;
    case Op::Clz: case Op::Clo: return format("%s\t%s,%s", m, rd, rs);
    case Op::Ext: return format("ext\t%s,%s,0x%x,0x%x", rt, rs, d.sa, d.size);
    case Op::Ins: return format("ins\t%s,%s,0x%x,0x%x", rt, rs, d.sa, d.size);
    case Op::Wsbh: case Op::Seb: case Op::Seh: return format("%s\t%s,%s", m, rd, rt);
    case Op::Rdhwr: return format("rdhwr\t%s,$%u", rt, d.rd);
    case Op::Lb: case Op::Lh: case Op::Lwl: case Op::Lw: case Op::Lbu: case Op::Lhu: case Op::Lwr:
    case Op::Ll: case Op::Sb: case Op::Sh: case Op::Swl: case Op::Sw: case Op::Swr: case Op::Sc:
        return format("%s\t%s,%d(%s)", m, rt, simm, rs);
    case Op::Cache: case Op::Pref: return format("%s\t0x%x,%d(%s)", m, d.rt, simm, rs);
    case Op::CopUnusable: return format("cop%u\t0x%08x", d.sa, word);
    case Op::Reserved: case Op::Count: break;
    }
    return format(".word\t0x%08x", word);
}

} // namespace m4k
