// Whether a block device is in use as a mounted file system.
#ifndef TESSIVO_TOOLS_COMMON_MOUNTS_H
#define TESSIVO_TOOLS_COMMON_MOUNTS_H

#include <sys/types.h>

#include <string>

namespace tools {

// The mount point of the block device `dev` or of a partition on it (or of
// the whole disk it is a partition of), from the kernel's mount table;
// empty when none is mounted.
std::string mount_point_of(dev_t dev);

} // namespace tools

#endif
