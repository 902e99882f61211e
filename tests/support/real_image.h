#pragma once
// The image built for the chip (TESSIVO_IMAGE, made by the pic32 preset), for
// the suites that run it. A test skips when the image was not built (no cross
// compiler) and fails when it cannot be read.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "sim/cpu/elf_image.h"

namespace test_support {

// The image; nothing with `error` empty when it was not built, nothing with
// the reason when it was refused.
inline std::optional<m4k::ElfImage> real_image(std::string& error) {
    if (!std::filesystem::exists(TESSIVO_IMAGE)) return std::nullopt;
    return m4k::ElfImage::read(TESSIVO_IMAGE, error);
}

}  // namespace test_support

// Declares `image` (an optional holding the real image) in a test body.
#define REQUIRE_IMAGE(image)                                                                       \
    std::string error_;                                                                            \
    auto image = test_support::real_image(error_);                                                 \
    if (!image && error_.empty())                                                                  \
        GTEST_SKIP() << TESSIVO_IMAGE " is missing (no cross compiler to build the pic32 preset)"; \
    ASSERT_TRUE(image) << error_
