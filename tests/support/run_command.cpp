#include "tests/support/run_command.h"

#include <sys/wait.h>

#include <cstdio>

namespace test_support {

int run_command(const std::string& command, std::string* out) {
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string text;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) text.append(buf, n);
    const int status = ::pclose(p);
    if (out) *out = text;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace test_support
