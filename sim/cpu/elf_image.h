#pragma once
// The chip image as an ELF file: a bounds-checked reader for little-endian
// MIPS32 executables (the file is input from outside), the segments placed at
// their physical addresses, the configuration words, and the symbols that turn
// an address into "function+offset".
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace m4k {

class Core;

struct ElfSegment {
    uint32_t phys = 0;   // where the bytes go (the load address)
    uint32_t vaddr = 0;  // where they run
    std::vector<uint8_t> bytes;
};

struct ElfSymbol {
    std::string name;
    uint32_t value = 0;
    uint32_t size = 0;  // bytes; for code labels without a size, up to the next symbol
};

class ElfImage {
public:
    // Reads and checks an image; on failure returns nothing and sets `error`
    // to one line that names the file and the problem.
    static std::optional<ElfImage> read(const std::string& path, std::string& error);
    static std::optional<ElfImage> parse(const std::vector<uint8_t>& file, std::string& error);

    uint32_t entry() const { return entry_; }
    const std::vector<ElfSegment>& segments() const { return segments_; }

    // Erases the core's memories and writes every segment into them.
    void load_into(Core& core) const;

    // DEVCFG0..DEVCFG3 (index = number) as the image programs them; erased
    // words read 0xFFFFFFFF.
    uint32_t config_word(unsigned n) const { return devcfg_[n & 3]; }

    // Any symbol's value by name (e.g. "_stack_top", "main").
    std::optional<uint32_t> symbol(const std::string& name) const;
    // The lowest address the stack may reach: _stack_top - _stack_size, if
    // the linker script defines both.
    std::optional<uint32_t> stack_limit() const;
    // The code symbol containing `addr` (KSEG0 and KSEG1 views are the same
    // code), or nullptr.
    const ElfSymbol* function_at(uint32_t addr) const;
    // "name+0x1c", or the hex address when no symbol covers it.
    std::string describe(uint32_t addr) const;

private:
    uint32_t entry_ = 0;
    std::vector<ElfSegment> segments_;
    uint32_t devcfg_[4] = {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu};
    std::vector<ElfSymbol> all_symbols_;
    std::vector<ElfSymbol> functions_;  // sorted by physical address
};

} // namespace m4k
