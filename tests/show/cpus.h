#pragma once
// What runs the firmware in the end-to-end tests: the build for this
// computer, or the chip's image (at each optimisation level) on the simulated
// M4K core. The tests are parameterised over these.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace show {

struct Cpu {
    const char* name;
    const char* image;  // nullptr: the compiled firmware

    // tessivo-sim's options that choose this CPU.
    std::string args() const { return image ? std::string(" --image ") + image : ""; }
};

inline void PrintTo(const Cpu& cpu, std::ostream* os) { *os << cpu.name; }

inline constexpr Cpu kCpus[] = {
    {"compiled", nullptr},
    {"image", TESSIVO_IMAGE},
    {"image_O2", TESSIVO_IMAGE_O2},
    {"image_O0", TESSIVO_IMAGE_O0},
};

inline std::string cpu_name(const ::testing::TestParamInfo<Cpu>& info) { return info.param.name; }

}  // namespace show
