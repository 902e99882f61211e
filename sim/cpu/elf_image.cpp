#include "sim/cpu/elf_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "sim/cpu/m4k_core.h"
#include "sim/cpu/memory_map.h"

namespace m4k {

namespace {

constexpr size_t kEhdrSize = 52, kPhdrSize = 32, kShdrSize = 40, kSymSize = 16;
constexpr uint16_t kEtExec = 2, kEmMips = 8;
constexpr uint32_t kPtLoad = 1, kShtSymtab = 2, kShfExecinstr = 4;
constexpr uint8_t kSttFunc = 2, kSttNotype = 0, kSttSection = 3, kSttFile = 4;

std::string hex(uint64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(v));
    return text;
}

// Little-endian fields of a byte buffer; every read is checked by the caller
// through in_file().
struct Bytes {
    const std::vector<uint8_t>& data;
    bool in_file(uint64_t offset, uint64_t size) const { return offset <= data.size() && size <= data.size() - offset; }
    uint16_t u16(uint64_t at) const { return static_cast<uint16_t>(data[at] | data[at + 1] << 8); }
    uint32_t u32(uint64_t at) const { return u16(at) | static_cast<uint32_t>(u16(at + 2)) << 16; }
};

uint32_t physical_of(uint32_t addr) { return addr >= 0x80000000u && addr < 0xC0000000u ? addr & 0x1FFFFFFFu : addr; }

// The span [phys, phys + size) lies wholly inside RAM, flash or boot flash.
bool inside_memory(uint32_t phys, uint64_t size) {
    const PhysicalSpan span = locate(phys);
    if (span.region == Region::None || span.region == Region::Sfr) return false;
    return size <= region_size(span.region) - span.offset;
}

} // namespace

std::optional<ElfImage> ElfImage::read(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open the file";
        return std::nullopt;
    }
    std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto image = parse(file, error);
    if (!image) error = path + ": " + error;
    return image;
}

std::optional<ElfImage> ElfImage::parse(const std::vector<uint8_t>& file, std::string& error) {
    const Bytes b{file};
    auto fail = [&](const std::string& why) {
        error = why;
        return std::nullopt;
    };
    if (!b.in_file(0, kEhdrSize) || std::memcmp(file.data(), "\x7f" "ELF", 4) != 0)
        return fail("not an ELF file");
    if (file[4] != 1) return fail("not a 32-bit ELF file (the PIC32 needs ELF32)");
    if (file[5] != 1) return fail("not a little-endian ELF file (the PIC32 is little-endian)");
    if (b.u16(18) != kEmMips) return fail("not a MIPS executable (machine " + std::to_string(b.u16(18)) + ")");
    if (b.u16(16) != kEtExec) return fail("not an executable ELF file (type " + std::to_string(b.u16(16)) + ")");

    ElfImage image;
    image.entry_ = b.u32(24);
    const uint32_t phoff = b.u32(28), shoff = b.u32(32);
    const uint16_t phentsize = b.u16(42), phnum = b.u16(44), shentsize = b.u16(46), shnum = b.u16(48);

    if (phnum == 0) return fail("no program headers: nothing to load");
    if (phentsize != kPhdrSize) return fail("program header size " + std::to_string(phentsize) + " is not 32");
    if (!b.in_file(phoff, uint64_t{phnum} * kPhdrSize)) return fail("program headers run past the end of the file");

    for (unsigned i = 0; i < phnum; ++i) {
        const uint64_t at = phoff + uint64_t{i} * kPhdrSize;
        if (b.u32(at) != kPtLoad) continue;
        const uint32_t offset = b.u32(at + 4), vaddr = b.u32(at + 8), paddr = b.u32(at + 12);
        const uint32_t filesz = b.u32(at + 16), memsz = b.u32(at + 20);
        const std::string which = "segment " + std::to_string(i);
        if (filesz > memsz) return fail(which + " has more file bytes than memory bytes");
        if (!b.in_file(offset, filesz)) return fail(which + " runs past the end of the file");
        const uint32_t phys = physical_of(paddr);
        if (filesz > 0 && !inside_memory(phys, filesz))
            return fail(which + " at physical " + hex(phys) + " (" + hex(filesz) +
                        " bytes) lies outside the chip's RAM, program flash and boot flash");
        // Bytes without file contents (.bss) are set up where they run: RAM.
        if (memsz > filesz && !inside_memory(physical_of(vaddr + filesz), memsz - filesz))
            return fail(which + " reserves " + hex(memsz - filesz) + " bytes at " + hex(vaddr + filesz) +
                        " outside the chip's RAM");
        if (filesz == 0) continue;
        ElfSegment seg;
        seg.phys = phys;
        seg.vaddr = vaddr;
        seg.bytes.assign(file.begin() + offset, file.begin() + offset + filesz);
        image.segments_.push_back(std::move(seg));
    }
    if (image.segments_.empty()) return fail("no loadable segment");

    // Configuration words at the end of boot flash.
    for (const auto& seg : image.segments_)
        for (unsigned n = 0; n < 4; ++n) {
            const uint32_t word_at = config::kBootBase + config::kConfigWordsOffset + 4 * (3 - n);
            if (word_at >= seg.phys && word_at + 4 <= seg.phys + seg.bytes.size())
                std::memcpy(&image.devcfg_[n], seg.bytes.data() + (word_at - seg.phys), 4);
        }

    // Symbols (optional, but a damaged table is refused).
    if (shoff != 0 && shnum != 0) {
        if (shentsize != kShdrSize) return fail("section header size " + std::to_string(shentsize) + " is not 40");
        if (!b.in_file(shoff, uint64_t{shnum} * kShdrSize)) return fail("section headers run past the end of the file");
        auto sh = [&](unsigned n) { return shoff + uint64_t{n} * kShdrSize; };
        for (unsigned s = 0; s < shnum; ++s) {
            if (b.u32(sh(s) + 4) != kShtSymtab) continue;
            const uint32_t sym_off = b.u32(sh(s) + 16), sym_size = b.u32(sh(s) + 20), link = b.u32(sh(s) + 24);
            if (link >= shnum) return fail("symbol table names a missing string table");
            const uint32_t str_off = b.u32(sh(link) + 16), str_size = b.u32(sh(link) + 20);
            if (!b.in_file(sym_off, sym_size) || !b.in_file(str_off, str_size))
                return fail("symbol or string table runs past the end of the file");
            for (uint64_t at = sym_off; at + kSymSize <= uint64_t{sym_off} + sym_size; at += kSymSize) {
                const uint32_t name = b.u32(at), value = b.u32(at + 4), size = b.u32(at + 8);
                const uint8_t type = file[at + 12] & 0xF;
                const uint16_t shndx = b.u16(at + 14);
                if (name == 0 || name >= str_size || type == kSttSection || type == kSttFile) continue;
                const char* text = reinterpret_cast<const char*>(file.data()) + str_off + name;
                const size_t len = strnlen(text, str_size - name);
                if (len == str_size - name) return fail("a symbol name runs past its string table");
                ElfSymbol sym{std::string(text, len), value, size};
                const bool in_code = shndx > 0 && shndx < shnum && (b.u32(sh(shndx) + 8) & kShfExecinstr);
                if (type == kSttFunc || (type == kSttNotype && in_code)) image.functions_.push_back(sym);
                image.all_symbols_.push_back(std::move(sym));
            }
        }
    }
    auto& fns = image.functions_;
    std::sort(fns.begin(), fns.end(), [](const ElfSymbol& a, const ElfSymbol& b) {
        return physical_of(a.value) < physical_of(b.value) ||
               (physical_of(a.value) == physical_of(b.value) && a.size > b.size);
    });
    // Labels without a size reach to the next symbol.
    for (size_t i = 0; i < fns.size(); ++i)
        if (fns[i].size == 0 && i + 1 < fns.size())
            fns[i].size = physical_of(fns[i + 1].value) - physical_of(fns[i].value);
    return image;
}

void ElfImage::load_into(Core& core) const {
    core.erase_memories();
    for (const auto& seg : segments_) core.write_memory(seg.phys, seg.bytes.data(), seg.bytes.size());
}

std::optional<uint32_t> ElfImage::symbol(const std::string& name) const {
    for (const auto& s : all_symbols_)
        if (s.name == name) return s.value;
    return std::nullopt;
}

std::optional<uint32_t> ElfImage::stack_limit() const {
    const auto top = symbol("_stack_top"), size = symbol("_stack_size");
    if (!top || !size) return std::nullopt;
    return *top - *size;
}

const ElfSymbol* ElfImage::function_at(uint32_t addr) const {
    const uint32_t phys = physical_of(addr);
    auto it = std::upper_bound(functions_.begin(), functions_.end(), phys,
                               [](uint32_t p, const ElfSymbol& s) { return p < physical_of(s.value); });
    // A few symbols may share an address or nest; look at the nearest ones.
    for (int i = 0; i < 8 && it != functions_.begin(); ++i) {
        --it;
        if (phys - physical_of(it->value) < std::max<uint32_t>(it->size, 1)) return &*it;
    }
    return nullptr;
}

std::string ElfImage::describe(uint32_t addr) const {
    const ElfSymbol* f = function_at(addr);
    if (!f) return hex(addr);
    const uint32_t offset = physical_of(addr) - physical_of(f->value);
    return offset ? f->name + "+" + hex(offset) : f->name;
}

} // namespace m4k
