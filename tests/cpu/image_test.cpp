// The ELF loader on the real image and on damaged files, and a first run of
// the real image on the core.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/cpu/elf_image.h"
#include "sim/cpu/m4k_core.h"
#include "test_host.h"
#include "tests/support/real_image.h"

namespace {

using m4k::ElfImage;

TEST(ElfImage, RealImageSegmentsConfigWordsAndSymbols) {
    REQUIRE_IMAGE(image);
    EXPECT_EQ(image->entry(), 0xBFC00000u);
    EXPECT_EQ(image->config_word(0), 0x7FFFFFFFu);
    EXPECT_EQ(image->config_word(1), 0xFF60DA5Bu);
    EXPECT_EQ(image->config_word(2), 0xFFF8FFD9u);
    EXPECT_EQ(image->config_word(3), 0xFFFFFFFFu);

    const auto main_at = image->symbol("main");
    ASSERT_TRUE(main_at);
    EXPECT_EQ(image->describe(*main_at), "main");
    EXPECT_EQ(image->describe(*main_at + 8), "main+0x8");
    EXPECT_EQ(image->describe((*main_at & 0x1FFFFFFF) | 0xA0000000), "main");  // KSEG1 view
    EXPECT_EQ(image->describe(0xBFC00004), "_reset+0x4");
    EXPECT_EQ(image->stack_limit(), 0x80008000u - 0x800u);

    // The .data image is loaded where the start-up code copies it from (flash).
    bool data_in_flash = false;
    for (const auto& seg : image->segments()) {
        EXPECT_TRUE(seg.phys < 0x8000 || (seg.phys >= 0x1D000000 && seg.phys < 0x1D080000) ||
                    (seg.phys >= 0x1FC00000 && seg.phys < 0x1FC03000));
        if (seg.vaddr >= 0x80000000 && seg.vaddr < 0x80008000) data_in_flash = seg.phys >= 0x1D000000;
    }
    EXPECT_TRUE(data_in_flash);
}

// A small valid image: one code segment in flash and a symbol table with
// one function; `mutate` damages it before parsing.
std::vector<uint8_t> tiny_elf() {
    std::vector<uint8_t> f(0x200, 0);
    auto u16 = [&](size_t at, uint16_t v) { f[at] = v & 0xFF; f[at + 1] = v >> 8; };
    auto u32 = [&](size_t at, uint32_t v) { u16(at, v & 0xFFFF); u16(at + 2, v >> 16); };
    std::memcpy(f.data(), "\x7f" "ELF", 4);
    f[4] = 1; f[5] = 1; f[6] = 1;
    u16(16, 2); u16(18, 8); u32(20, 1); u32(24, 0x9D000000);
    u32(28, 52);             // phoff
    u32(32, 0x100);          // shoff
    u16(40, 52); u16(42, 32); u16(44, 1); u16(46, 40); u16(48, 4); u16(50, 0);
    // PT_LOAD: 16 bytes at file 0x80 to 0x9D000000 / phys 0x1D000000
    u32(52, 1); u32(56, 0x80); u32(60, 0x9D000000); u32(64, 0x1D000000); u32(68, 16); u32(72, 16); u32(76, 5);
    u32(0x80, 0x24020001);   // li v0,1
    // section 1: code, 2: symtab at 0x1A0 (2 entries), 3: strtab at 0x1C0
    u32(0x100 + 40 + 4, 1); u32(0x100 + 40 + 8, 6); u32(0x100 + 40 + 12, 0x9D000000);
    u32(0x100 + 40 + 16, 0x80); u32(0x100 + 40 + 20, 16);
    u32(0x100 + 80 + 4, 2); u32(0x100 + 80 + 16, 0x1A0); u32(0x100 + 80 + 20, 32); u32(0x100 + 80 + 24, 3);
    u32(0x100 + 120 + 4, 3); u32(0x100 + 120 + 16, 0x1C0); u32(0x100 + 120 + 20, 8);
    u32(0x1B0, 1); u32(0x1B4, 0x9D000000); u32(0x1B8, 16); f[0x1BC] = 0x12; u16(0x1BE, 1);
    std::memcpy(&f[0x1C1], "start", 6);
    return f;
}

TEST(ElfImage, TinyImageParses) {
    std::string error;
    auto image = ElfImage::parse(tiny_elf(), error);
    ASSERT_TRUE(image) << error;
    EXPECT_EQ(image->describe(0x9D000004), "start+0x4");
    EXPECT_EQ(image->config_word(0), 0xFFFFFFFFu);  // no configuration words: erased
}

TEST(ElfImage, HostileFilesAreRefusedWithOneClearLine) {
    struct Case {
        const char* name;
        void (*mutate)(std::vector<uint8_t>&);
        const char* message;
    };
    static const Case cases[] = {
        {"empty", [](std::vector<uint8_t>& f) { f.clear(); }, "not an ELF file"},
        {"not elf", [](std::vector<uint8_t>& f) { f[1] = 'X'; }, "not an ELF file"},
        {"64-bit", [](std::vector<uint8_t>& f) { f[4] = 2; }, "not a 32-bit ELF"},
        {"big-endian", [](std::vector<uint8_t>& f) { f[5] = 2; }, "not a little-endian"},
        {"x86", [](std::vector<uint8_t>& f) { f[18] = 3; }, "not a MIPS executable"},
        {"relocatable", [](std::vector<uint8_t>& f) { f[16] = 1; }, "not an executable"},
        {"truncated header", [](std::vector<uint8_t>& f) { f.resize(40); }, "not an ELF file"},
        {"truncated program header", [](std::vector<uint8_t>& f) { f.resize(70); }, "program headers run past"},
        {"huge program header offset", [](std::vector<uint8_t>& f) { f[28] = 0xF0; f[31] = 0xFF; }, "program headers run past"},
        {"huge segment offset", [](std::vector<uint8_t>& f) { f[59] = 0xFF; }, "runs past the end"},
        {"huge segment size", [](std::vector<uint8_t>& f) { f[71] = 0x7F; f[75] = 0x7F; }, "runs past the end"},
        {"file bytes exceed memory bytes", [](std::vector<uint8_t>& f) { f[72] = 8; }, "more file bytes"},
        {"segment outside memory", [](std::vector<uint8_t>& f) { f[67] = 0x30; }, "outside the chip's"},
        {"segment over the end of flash", [](std::vector<uint8_t>& f) { f[64] = 0xFC; f[65] = 0xFF; f[66] = 0x07; }, "outside the chip's"},
        {"segment in the SFR window", [](std::vector<uint8_t>& f) { f[66] = 0x80; f[67] = 0x1F; }, "outside the chip's"},
        {"no load segment", [](std::vector<uint8_t>& f) { f[52] = 6; }, "no loadable segment"},
        {"huge section offset", [](std::vector<uint8_t>& f) { f[35] = 0x7F; }, "section headers run past"},
        {"symbol table past the end", [](std::vector<uint8_t>& f) { f[0x100 + 80 + 19] = 0x40; }, "runs past the end"},
        {"string table link out of range", [](std::vector<uint8_t>& f) { f[0x100 + 80 + 24] = 9; }, "missing string table"},
        {"unterminated symbol name", [](std::vector<uint8_t>& f) { std::memset(&f[0x1C0], 'A', 8); }, "runs past its string table"},
    };
    for (const auto& c : cases) {
        auto file = tiny_elf();
        c.mutate(file);
        std::string error;
        EXPECT_FALSE(ElfImage::parse(file, error)) << c.name;
        EXPECT_NE(error.find(c.message), std::string::npos) << c.name << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << c.name;
    }
    std::string error;
    EXPECT_FALSE(ElfImage::read("/nonexistent/tessivo.elf", error));
    EXPECT_EQ(error, "/nonexistent/tessivo.elf: cannot open the file");
}

// The real image from the reset vector on a board whose registers read as
// zero: the start-up code reaches main, which sets up the ports first.
TEST(ElfImage, RealImageStartsUpAndReachesMain) {
    REQUIRE_IMAGE(image);
    cputest::TestHost host;
    m4k::Core core(host);
    image->load_into(core);
    core.reset();
    core.set_stack_limit(*image->stack_limit());

    const uint32_t main_at = *image->symbol("main");
    uint64_t main_reached_at = 0;
    core.set_step_hook([&](uint32_t pc) {
        if (pc == main_at && main_reached_at == 0) main_reached_at = core.instructions() + 1;
    });
    size_t stores_seen = 0;
    host.on_store = [&](const cputest::IoAccess&) {
        if (++stores_seen == 12) core.request_stop();
    };
    EXPECT_EQ(core.run(10'000'000), m4k::StopReason::Requested);
    EXPECT_TRUE(host.faults.empty()) << host.faults.front().describe();
    EXPECT_GT(main_reached_at, 0u);

    struct Expected { uint32_t phys, value; };
    const Expected first_stores[] = {
        {0x1F809060, 0xFFFF},    // AD1PCFG: all pins digital
        {0x1F80F200, 0},         // DDPCON: JTAG off (read as 0, bit 3 cleared)
        {0x1F886040, 0},         // TRISB
        {0x1F886050, 0},         // PORTB
        {0x1F8860C0, 0x0300},    // TRISD
        {0x1F8860D0, 0x0001},    // PORTD
        {0x1F886180, 0x0080},    // TRISG
        {0x1F886190, 0},         // PORTG
        {0x1F886100, 0x0080},    // TRISE
        {0x1F886110, 0xFFFFFF7F},// PORTE
        {0x1F886198, 0x020C},    // PORTGSET
    };
    std::vector<cputest::IoAccess> stores;
    for (const auto& a : host.log)
        if (a.store) stores.push_back(a);
    ASSERT_GE(stores.size(), std::size(first_stores));
    for (size_t i = 0; i < std::size(first_stores); ++i) {
        EXPECT_EQ(stores[i].phys, first_stores[i].phys) << i;
        EXPECT_EQ(stores[i].value, first_stores[i].value) << i;
    }
    EXPECT_LT(core.stack_low_water(), 0x80008000u);
    EXPECT_GE(core.stack_low_water(), *image->stack_limit());
    EXPECT_EQ(core.cp0_read(m4k::cp0::PRId, 1), 0x9D000000u);        // EBase set by start-up
    EXPECT_EQ(core.cp0_read(m4k::cp0::Status, 0) & m4k::cp0::BEV, 0u);
}

} // namespace
