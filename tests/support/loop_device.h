#pragma once
// Block devices for tests: a loop device over a scratch file, detached at
// the end, and a file system mounted on one. They are made with losetup,
// mkfs.ext2 and mount where the machine allows it (root, loop devices, the
// kernel's ext2); otherwise `why()` says what is missing, for a test skip.
// Only devices made here are ever touched.
#include <string>

namespace test_support {

class LoopDevice {
public:
    explicit LoopDevice(const std::string& backing_file, bool read_only = false);
    ~LoopDevice();
    LoopDevice(const LoopDevice&) = delete;
    LoopDevice& operator=(const LoopDevice&) = delete;

    bool attached() const { return !path_.empty(); }
    const std::string& path() const { return path_; }  // /dev/loopN
    const std::string& why() const { return why_; }

private:
    std::string path_;
    std::string why_;
};

// An ext2 file system made on a new loop device over `backing_file` and
// mounted at a new directory; unmounted and detached at the end.
class MountedLoop {
public:
    explicit MountedLoop(const std::string& backing_file);
    ~MountedLoop();
    MountedLoop(const MountedLoop&) = delete;
    MountedLoop& operator=(const MountedLoop&) = delete;

    bool mounted() const { return !mount_point_.empty(); }
    const std::string& device() const { return loop_.path(); }
    const std::string& mount_point() const { return mount_point_; }
    const std::string& why() const { return why_; }

private:
    LoopDevice loop_;
    std::string mount_point_;
    std::string why_;
};

}  // namespace test_support
