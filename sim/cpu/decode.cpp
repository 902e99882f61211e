#include "sim/cpu/decode.h"

namespace m4k {

namespace {

const char* const kMnemonics[] = {
#define M4K_OP_TEXT(name, text) text,
    M4K_OPS(M4K_OP_TEXT)
#undef M4K_OP_TEXT
};

constexpr uint32_t bit(unsigned r) { return r == 0 ? 0u : 1u << r; }
constexpr uint32_t sext16(uint32_t w) { return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(w & 0xFFFF))); }

struct Fields {
    uint32_t w;
    unsigned op() const { return w >> 26; }
    unsigned rs() const { return (w >> 21) & 31; }
    unsigned rt() const { return (w >> 16) & 31; }
    unsigned rd() const { return (w >> 11) & 31; }
    unsigned sa() const { return (w >> 6) & 31; }
    unsigned funct() const { return w & 63; }
};

// Register-type ALU operation rd <- rs op rt.
Decoded r3(Op op, const Fields& f) {
    Decoded d;
    d.op = op;
    d.rs = f.rs(); d.rt = f.rt(); d.rd = f.rd();
    d.src_mask = bit(d.rs) | bit(d.rt);
    if (d.rd == 29) d.flags |= kWritesSp;
    return d;
}

// Immediate operation rt <- rs op imm.
Decoded imm(Op op, const Fields& f, uint32_t value) {
    Decoded d;
    d.op = op;
    d.rs = f.rs(); d.rt = f.rt();
    d.imm = value;
    d.src_mask = bit(d.rs);
    if (d.rt == 29) d.flags |= kWritesSp;
    return d;
}

Decoded simple(Op op, uint32_t imm_value = 0) {
    Decoded d;
    d.op = op;
    d.imm = imm_value;
    return d;
}

Decoded decode_special(const Fields& f) {
    Decoded d;
    switch (f.funct()) {
    case 0x00:
        if (f.rd() == 0) return simple(Op::Nop, f.w);  // nop, ssnop, ehb: no effect
        d = r3(Op::Sll, f); d.sa = f.sa(); d.src_mask = bit(d.rt); return d;
    case 0x01: d = simple(Op::CopUnusable); d.sa = 1; return d;  // MOVF/MOVT need the FPU
    case 0x02:
        d = r3((f.rs() & 1) ? Op::Rotr : Op::Srl, f); d.sa = f.sa(); d.src_mask = bit(d.rt); return d;
    case 0x03: d = r3(Op::Sra, f); d.sa = f.sa(); d.src_mask = bit(d.rt); return d;
    case 0x04: return r3(Op::Sllv, f);
    case 0x06: return r3((f.sa() & 1) ? Op::Rotrv : Op::Srlv, f);
    case 0x07: return r3(Op::Srav, f);
    case 0x08:
        d = r3(Op::Jr, f); d.src_mask = bit(d.rs); d.flags &= ~kWritesSp;
        if (f.w & 0x400) d.flags |= kHazardBarrier;
        return d;
    case 0x09:
        d = r3(Op::Jalr, f); d.src_mask = bit(d.rs);
        if (f.w & 0x400) d.flags |= kHazardBarrier;
        return d;
    case 0x0A: return r3(Op::Movz, f);
    case 0x0B: return r3(Op::Movn, f);
    case 0x0C: return simple(Op::Syscall, (f.w >> 6) & 0xFFFFF);
    case 0x0D: return simple(Op::Break, (f.w >> 6) & 0xFFFFF);
    case 0x0F: return simple(Op::Sync, f.sa());
    case 0x10: d = r3(Op::Mfhi, f); d.src_mask = 0; return d;
    case 0x11: d = r3(Op::Mthi, f); d.src_mask = bit(d.rs); d.flags &= ~kWritesSp; return d;
    case 0x12: d = r3(Op::Mflo, f); d.src_mask = 0; return d;
    case 0x13: d = r3(Op::Mtlo, f); d.src_mask = bit(d.rs); d.flags &= ~kWritesSp; return d;
    case 0x18: d = r3(Op::Mult, f); d.flags &= ~kWritesSp; return d;
    case 0x19: d = r3(Op::Multu, f); d.flags &= ~kWritesSp; return d;
    case 0x1A: d = r3(Op::Div, f); d.flags &= ~kWritesSp; return d;
    case 0x1B: d = r3(Op::Divu, f); d.flags &= ~kWritesSp; return d;
    case 0x20: return r3(Op::Add, f);
    case 0x21: return r3(Op::Addu, f);
    case 0x22: return r3(Op::Sub, f);
    case 0x23: return r3(Op::Subu, f);
    case 0x24: return r3(Op::And, f);
    case 0x25: return r3(Op::Or, f);
    case 0x26: return r3(Op::Xor, f);
    case 0x27: return r3(Op::Nor, f);
    case 0x2A: return r3(Op::Slt, f);
    case 0x2B: return r3(Op::Sltu, f);
    case 0x30: case 0x31: case 0x32: case 0x33: case 0x34: case 0x36: {
        static const Op traps[] = {Op::Tge, Op::Tgeu, Op::Tlt, Op::Tltu, Op::Teq, Op::Reserved, Op::Tne};
        d = r3(traps[f.funct() - 0x30], f);
        d.flags &= ~kWritesSp;
        d.rd = 0;
        d.imm = (f.w >> 6) & 0x3FF;  // code field
        return d;
    }
    default: return simple(Op::Reserved);
    }
}

Decoded decode_regimm(const Fields& f) {
    Decoded d;
    d.rs = f.rs();
    d.src_mask = bit(d.rs);
    d.imm = sext16(f.w);
    switch (f.rt()) {
    case 0x00: d.op = Op::Bltz; break;
    case 0x01: d.op = Op::Bgez; break;
    case 0x02: d.op = Op::Bltzl; break;
    case 0x03: d.op = Op::Bgezl; break;
    case 0x08: d.op = Op::Tgei; return d;
    case 0x09: d.op = Op::Tgeiu; return d;
    case 0x0A: d.op = Op::Tlti; return d;
    case 0x0B: d.op = Op::Tltiu; return d;
    case 0x0C: d.op = Op::Teqi; return d;
    case 0x0E: d.op = Op::Tnei; return d;
    case 0x10: d.op = Op::Bltzal; break;
    case 0x11: d.op = Op::Bgezal; break;
    case 0x12: d.op = Op::Bltzall; break;
    case 0x13: d.op = Op::Bgezall; break;
    case 0x1F: d.op = Op::Synci; return d;
    default: return simple(Op::Reserved);
    }
    d.imm <<= 2;  // branch byte offset
    return d;
}

Decoded decode_cop0(const Fields& f) {
    Decoded d;
    d.rt = f.rt(); d.rd = f.rd();
    switch (f.rs()) {
    case 0x00: d.op = Op::Mfc0; d.sa = f.w & 7; if (d.rt == 29) d.flags |= kWritesSp; return d;
    case 0x04: d.op = Op::Mtc0; d.sa = f.w & 7; d.src_mask = bit(d.rt); return d;
    case 0x0A: d.op = Op::Rdpgpr; if (d.rd == 29) d.flags |= kWritesSp; return d;
    case 0x0E: d.op = Op::Wrpgpr; d.src_mask = bit(d.rt); return d;
    case 0x0B:
        if (f.rd() != 12 || (f.w & 0x7DF) != 0) return simple(Op::Reserved);
        d.op = (f.w & 0x20) ? Op::Ei : Op::Di;
        if (d.rt == 29) d.flags |= kWritesSp;
        return d;
    default:
        if (f.rs() < 0x10) return simple(Op::Reserved);
        switch (f.funct()) {
        case 0x18: return simple(Op::Eret);
        case 0x1F: return simple(Op::Deret);
        case 0x20: return simple(Op::Wait, (f.w >> 6) & 0x7FFFF);
        default: return simple(Op::Reserved);  // TLB operations: there is no TLB
        }
    }
}

Decoded decode_special2(const Fields& f) {
    Decoded d;
    switch (f.funct()) {
    case 0x00: d = r3(Op::Madd, f); d.flags &= ~kWritesSp; return d;
    case 0x01: d = r3(Op::Maddu, f); d.flags &= ~kWritesSp; return d;
    case 0x02: return r3(Op::Mul, f);
    case 0x04: d = r3(Op::Msub, f); d.flags &= ~kWritesSp; return d;
    case 0x05: d = r3(Op::Msubu, f); d.flags &= ~kWritesSp; return d;
    case 0x20: d = r3(Op::Clz, f); d.src_mask = bit(d.rs); return d;
    case 0x21: d = r3(Op::Clo, f); d.src_mask = bit(d.rs); return d;
    case 0x3F: return simple(Op::Sdbbp, (f.w >> 6) & 0xFFFFF);
    default: return simple(Op::Reserved);
    }
}

Decoded decode_special3(const Fields& f) {
    Decoded d;
    switch (f.funct()) {
    case 0x00:  // EXT rt, rs, pos, size
        d = imm(Op::Ext, f, 0);
        d.sa = f.sa();
        d.size = static_cast<uint8_t>(f.rd() + 1);
        return d;
    case 0x04:  // INS rt, rs, pos, size: rt is read as well
        d = imm(Op::Ins, f, 0);
        d.sa = f.sa();
        if (f.rd() < f.sa()) return simple(Op::Reserved);
        d.size = static_cast<uint8_t>(f.rd() - f.sa() + 1);
        d.src_mask |= bit(d.rt);
        return d;
    case 0x20:
        switch (f.sa()) {
        case 0x02: d = r3(Op::Wsbh, f); break;
        case 0x10: d = r3(Op::Seb, f); break;
        case 0x18: d = r3(Op::Seh, f); break;
        default: return simple(Op::Reserved);
        }
        d.src_mask = bit(d.rt);
        return d;
    case 0x3B:
        d = r3(Op::Rdhwr, f);
        d.src_mask = 0;
        d.flags = 0;
        if (d.rt == 29) d.flags |= kWritesSp;
        return d;
    default: return simple(Op::Reserved);
    }
}

Decoded memory(Op op, const Fields& f, bool store) {
    Decoded d = imm(op, f, sext16(f.w));
    if (store) {
        d.flags &= ~kWritesSp;
        d.src_mask |= bit(d.rt);
    }
    return d;
}

Decoded branch(Op op, const Fields& f, bool reads_rt) {
    Decoded d;
    d.op = op;
    d.rs = f.rs(); d.rt = f.rt();
    d.imm = sext16(f.w) << 2;
    d.src_mask = bit(d.rs) | (reads_rt ? bit(d.rt) : 0);
    return d;
}

Decoded decode_word(uint32_t word) {
    const Fields f{word};
    Decoded d;
    switch (f.op()) {
    case 0x00: return decode_special(f);
    case 0x01: return decode_regimm(f);
    case 0x02: return simple(Op::J, (word & 0x03FFFFFF) << 2);
    case 0x03: return simple(Op::Jal, (word & 0x03FFFFFF) << 2);
    case 0x04: return branch(Op::Beq, f, true);
    case 0x05: return branch(Op::Bne, f, true);
    case 0x06: return branch(Op::Blez, f, false);
    case 0x07: return branch(Op::Bgtz, f, false);
    case 0x08: return imm(Op::Addi, f, sext16(word));
    case 0x09: return imm(Op::Addiu, f, sext16(word));
    case 0x0A: return imm(Op::Slti, f, sext16(word));
    case 0x0B: return imm(Op::Sltiu, f, sext16(word));
    case 0x0C: return imm(Op::Andi, f, word & 0xFFFF);
    case 0x0D: return imm(Op::Ori, f, word & 0xFFFF);
    case 0x0E: return imm(Op::Xori, f, word & 0xFFFF);
    case 0x0F: d = imm(Op::Lui, f, word << 16); d.src_mask = 0; return d;
    case 0x10: return decode_cop0(f);
    case 0x11: case 0x13: case 0x31: case 0x35: case 0x39: case 0x3D:
        d = simple(Op::CopUnusable); d.sa = 1; return d;
    case 0x12: case 0x32: case 0x36: case 0x3A: case 0x3E:
        d = simple(Op::CopUnusable); d.sa = 2; return d;
    case 0x14: return branch(Op::Beql, f, true);
    case 0x15: return branch(Op::Bnel, f, true);
    case 0x16: return branch(Op::Blezl, f, false);
    case 0x17: return branch(Op::Bgtzl, f, false);
    case 0x1C: return decode_special2(f);
    case 0x1D: return simple(Op::Jalx, (word & 0x03FFFFFF) << 2);
    case 0x1F: return decode_special3(f);
    case 0x20: return memory(Op::Lb, f, false);
    case 0x21: return memory(Op::Lh, f, false);
    case 0x22: d = memory(Op::Lwl, f, false); d.src_mask |= bit(d.rt); return d;
    case 0x23: return memory(Op::Lw, f, false);
    case 0x24: return memory(Op::Lbu, f, false);
    case 0x25: return memory(Op::Lhu, f, false);
    case 0x26: d = memory(Op::Lwr, f, false); d.src_mask |= bit(d.rt); return d;
    case 0x28: return memory(Op::Sb, f, true);
    case 0x29: return memory(Op::Sh, f, true);
    case 0x2A: return memory(Op::Swl, f, true);
    case 0x2B: return memory(Op::Sw, f, true);
    case 0x2E: return memory(Op::Swr, f, true);
    case 0x2F: d = memory(Op::Cache, f, true); d.src_mask = bit(d.rs); return d;
    case 0x30: return memory(Op::Ll, f, false);
    case 0x33: d = memory(Op::Pref, f, true); d.src_mask = bit(d.rs); return d;
    case 0x38: d = memory(Op::Sc, f, true); if (d.rt == 29) d.flags |= kWritesSp; return d;
    default: return simple(Op::Reserved);
    }
}

} // namespace

const char* op_mnemonic(Op op) { return kMnemonics[static_cast<unsigned>(op)]; }

// Only stack adjustments (writes of $sp computed from $sp, such as
// `addiu sp,sp,-24`) are checked: building a new $sp value in two steps
// (lui, then ori) may pass through low values on the way.
Decoded decode(uint32_t word) {
    Decoded d = decode_word(word);
    if (!(d.src_mask & (1u << 29))) d.flags &= ~kWritesSp;
    return d;
}

bool has_delay_slot(Op op) {
    switch (op) {
    case Op::Jr: case Op::Jalr: case Op::J: case Op::Jal: case Op::Jalx:
    case Op::Beq: case Op::Bne: case Op::Blez: case Op::Bgtz:
    case Op::Beql: case Op::Bnel: case Op::Blezl: case Op::Bgtzl:
    case Op::Bltz: case Op::Bgez: case Op::Bltzl: case Op::Bgezl:
    case Op::Bltzal: case Op::Bgezal: case Op::Bltzall: case Op::Bgezall:
        return true;
    default:
        return false;
    }
}

} // namespace m4k
