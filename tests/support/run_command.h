#pragma once
// Running a shell command from a test.
#include <string>

namespace test_support {

// Runs `command` with sh; returns its exit status (-1 when it did not exit),
// with its output, both streams, in `out`.
int run_command(const std::string& command, std::string* out = nullptr);

}  // namespace test_support
