// --version of the host programs, in the form help2man reads.
#ifndef TESSIVO_TOOLS_COMMON_VERSION_H
#define TESSIVO_TOOLS_COMMON_VERSION_H

namespace tools {

// Prints "PROGRAM (tessivo) VERSION" to standard output.
void print_version(const char* program);

} // namespace tools

#endif
