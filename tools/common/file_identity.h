// Telling whether two paths name the same file: the same device and inode
// (or the same block device), whatever the names.
#ifndef TESSIVO_TOOLS_COMMON_FILE_IDENTITY_H
#define TESSIVO_TOOLS_COMMON_FILE_IDENTITY_H

#include <sys/stat.h>

#include <string>

namespace tools {

bool same_file(const struct stat& a, const struct stat& b);

// True when both paths exist and are the same file; false otherwise (also
// when either cannot be looked at).
bool same_file(const std::string& a, const std::string& b);

} // namespace tools

#endif
