#include "tests/support/loop_device.h"

#include "tests/support/run_command.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>

namespace test_support {

LoopDevice::LoopDevice(const std::string& backing_file, bool read_only) {
    if (::geteuid() != 0) {
        why_ = "loop devices need root";
        return;
    }
    std::string out;
    const std::string cmd = std::string("losetup --find --show ") + (read_only ? "--read-only " : "") + "'" +
                            backing_file + "'";
    if (run_command(cmd, &out) != 0 || out.rfind("/dev/loop", 0) != 0) {
        why_ = "cannot make a loop device here (" + cmd + ": " + out.substr(0, out.find('\n')) + ")";
        return;
    }
    path_ = out.substr(0, out.find('\n'));
}

LoopDevice::~LoopDevice() {
    if (!path_.empty()) run_command("losetup --detach " + path_);
}

MountedLoop::MountedLoop(const std::string& backing_file) : loop_(backing_file) {
    if (!loop_.attached()) {
        why_ = loop_.why();
        return;
    }
    std::string out;
    if (run_command("mkfs.ext2 -q -F " + loop_.path(), &out) != 0) {
        why_ = "cannot make a file system to mount (mkfs.ext2: " + out.substr(0, out.find('\n')) + ")";
        return;
    }
    char dir[] = "/tmp/tessivo-mount-XXXXXX";
    if (!::mkdtemp(dir)) {
        why_ = "cannot make a mount point";
        return;
    }
    if (::mount(loop_.path().c_str(), dir, "ext2", 0, nullptr) != 0) {
        why_ = "cannot mount a file system here";
        ::rmdir(dir);
        return;
    }
    mount_point_ = dir;
}

MountedLoop::~MountedLoop() {
    if (mount_point_.empty()) return;
    ::umount2(mount_point_.c_str(), 0);
    ::rmdir(mount_point_.c_str());
}

}  // namespace test_support
