// The disassembler against GNU objdump on every instruction of the real image.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "sim/cpu/disasm.h"

namespace {

TEST(Disassembler, MatchesObjdumpOnTheImage) {
    if (!std::filesystem::exists(TESSIVO_IMAGE) || std::system("command -v mipsel-linux-gnu-objdump >/dev/null") != 0)
        GTEST_SKIP() << "needs " TESSIVO_IMAGE " and mipsel-linux-gnu-objdump";
    FILE* p = popen("mipsel-linux-gnu-objdump -d " TESSIVO_IMAGE, "r");
    ASSERT_TRUE(p);
    // "9d001000:\t3c02bf80 \tlui\tv0,0xbf80" with an optional " <symbol+0x..>"
    const std::regex line(R"(^\s*([0-9a-f]+):\t([0-9a-f]{8}) \t([^<]*?)(?: <.*>)?\s*$)");
    char buf[512];
    unsigned compared = 0, differing = 0;
    while (fgets(buf, sizeof buf, p)) {
        std::cmatch m;
        if (!std::regex_match(buf, m, line)) continue;
        const uint32_t addr = static_cast<uint32_t>(std::stoul(m[1].str(), nullptr, 16));
        const uint32_t word = static_cast<uint32_t>(std::stoul(m[2].str(), nullptr, 16));
        std::string expected = m[3].str();
        while (!expected.empty() && (expected.back() == '\t' || expected.back() == ' ')) expected.pop_back();
        ++compared;
        const std::string ours = m4k::disassemble(word, addr);
        if (ours != expected && ++differing <= 10) ADD_FAILURE() << std::hex << addr << ": " << ours << " | objdump: " << expected;
    }
    pclose(p);
    EXPECT_GT(compared, 1000u);
    EXPECT_EQ(differing, 0u);
}

} // namespace
