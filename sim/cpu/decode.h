#pragma once
// Instruction decoding for the M4K core: one instruction word becomes a
// compact record (operation, register numbers, prepared immediate) that the
// interpreter dispatches on and the disassembler prints. Decoding depends on
// the word only, never on its address, so a record is valid wherever the word
// is seen (KSEG0 and KSEG1 views of the same flash share one table).
#include <cstdint>

namespace m4k {

// Every operation the decoder can produce. X(name, mnemonic)
#define M4K_OPS(X)                                                                     \
    X(Undecoded, "?")                                                                  \
    X(Nop, "nop")                                                                      \
    X(Sll, "sll") X(Srl, "srl") X(Sra, "sra") X(Rotr, "rotr")                          \
    X(Sllv, "sllv") X(Srlv, "srlv") X(Srav, "srav") X(Rotrv, "rotrv")                  \
    X(Jr, "jr") X(Jalr, "jalr") X(Movz, "movz") X(Movn, "movn")                        \
    X(Syscall, "syscall") X(Break, "break") X(Sync, "sync")                            \
    X(Mfhi, "mfhi") X(Mthi, "mthi") X(Mflo, "mflo") X(Mtlo, "mtlo")                    \
    X(Mult, "mult") X(Multu, "multu") X(Div, "div") X(Divu, "divu")                    \
    X(Add, "add") X(Addu, "addu") X(Sub, "sub") X(Subu, "subu")                        \
    X(And, "and") X(Or, "or") X(Xor, "xor") X(Nor, "nor") X(Slt, "slt") X(Sltu, "sltu") \
    X(Tge, "tge") X(Tgeu, "tgeu") X(Tlt, "tlt") X(Tltu, "tltu") X(Teq, "teq") X(Tne, "tne") \
    X(Bltz, "bltz") X(Bgez, "bgez") X(Bltzl, "bltzl") X(Bgezl, "bgezl")                \
    X(Tgei, "tgei") X(Tgeiu, "tgeiu") X(Tlti, "tlti") X(Tltiu, "tltiu")                \
    X(Teqi, "teqi") X(Tnei, "tnei")                                                    \
    X(Bltzal, "bltzal") X(Bgezal, "bgezal") X(Bltzall, "bltzall") X(Bgezall, "bgezall") \
    X(Synci, "synci")                                                                  \
    X(J, "j") X(Jal, "jal") X(Jalx, "jalx")                                            \
    X(Beq, "beq") X(Bne, "bne") X(Blez, "blez") X(Bgtz, "bgtz")                        \
    X(Beql, "beql") X(Bnel, "bnel") X(Blezl, "blezl") X(Bgtzl, "bgtzl")                \
    X(Addi, "addi") X(Addiu, "addiu") X(Slti, "slti") X(Sltiu, "sltiu")                \
    X(Andi, "andi") X(Ori, "ori") X(Xori, "xori") X(Lui, "lui")                        \
    X(Mfc0, "mfc0") X(Mtc0, "mtc0") X(Rdpgpr, "rdpgpr") X(Wrpgpr, "wrpgpr")            \
    X(Di, "di") X(Ei, "ei") X(Eret, "eret") X(Deret, "deret") X(Wait, "wait")          \
    X(Madd, "madd") X(Maddu, "maddu") X(Mul, "mul") X(Msub, "msub") X(Msubu, "msubu")  \
    X(Clz, "clz") X(Clo, "clo") X(Sdbbp, "sdbbp")                                      \
    X(Ext, "ext") X(Ins, "ins") X(Wsbh, "wsbh") X(Seb, "seb") X(Seh, "seh")            \
    X(Rdhwr, "rdhwr")                                                                  \
    X(Lb, "lb") X(Lh, "lh") X(Lwl, "lwl") X(Lw, "lw") X(Lbu, "lbu") X(Lhu, "lhu")      \
    X(Lwr, "lwr") X(Ll, "ll")                                                          \
    X(Sb, "sb") X(Sh, "sh") X(Swl, "swl") X(Sw, "sw") X(Swr, "swr") X(Sc, "sc")        \
    X(Cache, "cache") X(Pref, "pref")                                                  \
    X(CopUnusable, "cop") /* coprocessor 1/2 instruction: Coprocessor Unusable */      \
    X(Reserved, ".word")  /* reserved encoding: Reserved Instruction */

enum class Op : uint8_t {
#define M4K_OP_ENUM(name, text) name,
    M4K_OPS(M4K_OP_ENUM)
#undef M4K_OP_ENUM
    Count
};

const char* op_mnemonic(Op op);

// Record flags.
enum : uint8_t {
    kWritesSp = 1 << 0,     // a stack adjustment: writes $sp computed from $sp (stack check, high-water mark)
    kHazardBarrier = 1 << 1 // jr.hb / jalr.hb
};

// One decoded instruction (16 bytes, kept per word of code).
struct Decoded {
    Op op = Op::Undecoded;
    uint8_t rs = 0, rt = 0, rd = 0;
    uint8_t sa = 0;         // shift amount, EXT/INS position, COP0 select, coprocessor unit
    uint8_t flags = 0;
    uint8_t size = 0;       // EXT/INS field size (1..32)
    uint8_t pad = 0;
    uint32_t imm = 0;       // sign- or zero-extended immediate as the operation uses it;
                            // branches: byte offset; J/JAL: index << 2; code fields
    uint32_t src_mask = 0;  // GPRs the instruction reads (bit n = $n), for load-use stalls
};
static_assert(sizeof(Decoded) == 16);

Decoded decode(uint32_t word);

// Branches and jumps that have a delay slot.
bool has_delay_slot(Op op);

} // namespace m4k
