#include "tools/common/version.h"

#include <cstdio>

namespace tools {

void print_version(const char* program)
{
    std::printf("%s (tessivo) %s\n", program, TESSIVO_VERSION);
}

} // namespace tools
