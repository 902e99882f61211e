#include "tools/common/file_identity.h"

namespace tools {

bool same_file(const struct stat& a, const struct stat& b)
{
    // Two device nodes of one block device have their own inodes.
    if (S_ISBLK(a.st_mode) && S_ISBLK(b.st_mode)) return a.st_rdev == b.st_rdev;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

bool same_file(const std::string& a, const std::string& b)
{
    struct stat sa {}, sb {};
    return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && same_file(sa, sb);
}

} // namespace tools
