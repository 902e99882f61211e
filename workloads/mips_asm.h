#pragma once
// Encoders for the MIPS32 instructions the core's tests and benchmark write by hand.
#include <cstdint>
#include <vector>

namespace mips {

enum Reg : unsigned {
    zero, at, v0, v1, a0, a1, a2, a3, t0, t1, t2, t3, t4, t5, t6, t7,
    s0, s1, s2, s3, s4, s5, s6, s7, t8, t9, k0, k1, gp, sp, s8, ra
};

constexpr uint32_t r_type(unsigned funct, unsigned rs, unsigned rt, unsigned rd, unsigned sa = 0, unsigned op = 0) {
    return op << 26 | rs << 21 | rt << 16 | rd << 11 | sa << 6 | funct;
}
constexpr uint32_t i_type(unsigned op, unsigned rs, unsigned rt, uint32_t imm) {
    return op << 26 | rs << 21 | rt << 16 | (imm & 0xFFFF);
}

constexpr uint32_t nop() { return 0; }
constexpr uint32_t ehb() { return 0xC0; }
constexpr uint32_t sll(unsigned rd, unsigned rt, unsigned sa) { return r_type(0x00, 0, rt, rd, sa); }
constexpr uint32_t srl(unsigned rd, unsigned rt, unsigned sa) { return r_type(0x02, 0, rt, rd, sa); }
constexpr uint32_t jr(unsigned rs) { return r_type(0x08, rs, 0, 0); }
constexpr uint32_t jalr(unsigned rd, unsigned rs) { return r_type(0x09, rs, 0, rd); }
constexpr uint32_t syscall() { return 0x0C; }
constexpr uint32_t brk() { return 0x0D; }
constexpr uint32_t mfhi(unsigned rd) { return r_type(0x10, 0, 0, rd); }
constexpr uint32_t mflo(unsigned rd) { return r_type(0x12, 0, 0, rd); }
constexpr uint32_t mult(unsigned rs, unsigned rt) { return r_type(0x18, rs, rt, 0); }
constexpr uint32_t multu(unsigned rs, unsigned rt) { return r_type(0x19, rs, rt, 0); }
constexpr uint32_t div(unsigned rs, unsigned rt) { return r_type(0x1A, rs, rt, 0); }
constexpr uint32_t divu(unsigned rs, unsigned rt) { return r_type(0x1B, rs, rt, 0); }
constexpr uint32_t add(unsigned rd, unsigned rs, unsigned rt) { return r_type(0x20, rs, rt, rd); }
constexpr uint32_t addu(unsigned rd, unsigned rs, unsigned rt) { return r_type(0x21, rs, rt, rd); }
constexpr uint32_t sub(unsigned rd, unsigned rs, unsigned rt) { return r_type(0x22, rs, rt, rd); }
constexpr uint32_t subu(unsigned rd, unsigned rs, unsigned rt) { return r_type(0x23, rs, rt, rd); }
constexpr uint32_t and_(unsigned rd, unsigned rs, unsigned rt) { return r_type(0x24, rs, rt, rd); }
constexpr uint32_t or_(unsigned rd, unsigned rs, unsigned rt) { return r_type(0x25, rs, rt, rd); }
constexpr uint32_t teq(unsigned rs, unsigned rt) { return r_type(0x34, rs, rt, 0); }
constexpr uint32_t beq(unsigned rs, unsigned rt, int16_t words) { return i_type(0x04, rs, rt, static_cast<uint16_t>(words)); }
constexpr uint32_t bne(unsigned rs, unsigned rt, int16_t words) { return i_type(0x05, rs, rt, static_cast<uint16_t>(words)); }
constexpr uint32_t beql(unsigned rs, unsigned rt, int16_t words) { return i_type(0x14, rs, rt, static_cast<uint16_t>(words)); }
constexpr uint32_t b(int16_t words) { return beq(zero, zero, words); }
constexpr uint32_t j(uint32_t target) { return 0x02u << 26 | ((target >> 2) & 0x03FFFFFF); }
constexpr uint32_t jal(uint32_t target) { return 0x03u << 26 | ((target >> 2) & 0x03FFFFFF); }
constexpr uint32_t addi(unsigned rt, unsigned rs, int16_t imm) { return i_type(0x08, rs, rt, static_cast<uint16_t>(imm)); }
constexpr uint32_t addiu(unsigned rt, unsigned rs, int16_t imm) { return i_type(0x09, rs, rt, static_cast<uint16_t>(imm)); }
constexpr uint32_t slti(unsigned rt, unsigned rs, int16_t imm) { return i_type(0x0A, rs, rt, static_cast<uint16_t>(imm)); }
constexpr uint32_t andi(unsigned rt, unsigned rs, uint16_t imm) { return i_type(0x0C, rs, rt, imm); }
constexpr uint32_t ori(unsigned rt, unsigned rs, uint16_t imm) { return i_type(0x0D, rs, rt, imm); }
constexpr uint32_t lui(unsigned rt, uint16_t imm) { return i_type(0x0F, 0, rt, imm); }
constexpr uint32_t lb(unsigned rt, int16_t off, unsigned base) { return i_type(0x20, base, rt, static_cast<uint16_t>(off)); }
constexpr uint32_t lh(unsigned rt, int16_t off, unsigned base) { return i_type(0x21, base, rt, static_cast<uint16_t>(off)); }
constexpr uint32_t lw(unsigned rt, int16_t off, unsigned base) { return i_type(0x23, base, rt, static_cast<uint16_t>(off)); }
constexpr uint32_t sw(unsigned rt, int16_t off, unsigned base) { return i_type(0x2B, base, rt, static_cast<uint16_t>(off)); }
constexpr uint32_t sh(unsigned rt, int16_t off, unsigned base) { return i_type(0x29, base, rt, static_cast<uint16_t>(off)); }
constexpr uint32_t ll(unsigned rt, int16_t off, unsigned base) { return i_type(0x30, base, rt, static_cast<uint16_t>(off)); }
constexpr uint32_t sc(unsigned rt, int16_t off, unsigned base) { return i_type(0x38, base, rt, static_cast<uint16_t>(off)); }
constexpr uint32_t mfc0(unsigned rt, unsigned rd, unsigned sel = 0) { return 0x40000000u | rt << 16 | rd << 11 | sel; }
constexpr uint32_t mtc0(unsigned rt, unsigned rd, unsigned sel = 0) { return 0x40800000u | rt << 16 | rd << 11 | sel; }
constexpr uint32_t di(unsigned rt = 0) { return 0x41606000u | rt << 16; }
constexpr uint32_t ei(unsigned rt = 0) { return 0x41606020u | rt << 16; }
constexpr uint32_t eret() { return 0x42000018u; }
constexpr uint32_t wait() { return 0x42000020u; }
constexpr uint32_t sdbbp() { return 0x7000003Fu; }
constexpr uint32_t mul(unsigned rd, unsigned rs, unsigned rt) { return r_type(0x02, rs, rt, rd, 0, 0x1C); }
constexpr uint32_t rdpgpr(unsigned rd, unsigned rt) { return 0x41400000u | rt << 16 | rd << 11; }
constexpr uint32_t wrpgpr(unsigned rd, unsigned rt) { return 0x41C00000u | rt << 16 | rd << 11; }

// `li reg, value` as lui + ori.
inline void li(std::vector<uint32_t>& code, unsigned reg, uint32_t value) {
    code.push_back(lui(reg, static_cast<uint16_t>(value >> 16)));
    code.push_back(ori(reg, reg, static_cast<uint16_t>(value)));
}

} // namespace mips
