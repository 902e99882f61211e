#include "tools/common/disk_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/common/mounts.h"

namespace tools {

const char* file_kind(const struct stat& st)
{
    if (S_ISREG(st.st_mode)) return "a regular file";
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (S_ISBLK(st.st_mode)) return "a block device";
    if (S_ISCHR(st.st_mode)) return "a character device";
    if (S_ISFIFO(st.st_mode)) return "a pipe";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    return "not a regular file";
}

std::unique_ptr<DiskFile> DiskFile::open(const std::string& path, Access access, std::string* why)
{
    const bool writing = access == Access::Write;
    // Look before opening: opening a pipe would wait for a writer.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        *why = path + ": " + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
        *why = path + ": " + file_kind(st) + ", not a disk image or a card";
        return nullptr;
    }
    if (S_ISBLK(st.st_mode) && writing) {
        const std::string mounted = mount_point_of(st.st_rdev);
        if (!mounted.empty()) {
            *why = path + ": mounted at " + mounted + "; unmount it first";
            return nullptr;
        }
    }
    // O_EXCL on a block device: refused (EBUSY) while the system uses it.
    int flags = (writing ? O_RDWR : O_RDONLY) | O_CLOEXEC;
    if (S_ISBLK(st.st_mode) && writing) flags |= O_EXCL;
    const int fd = ::open(path.c_str(), flags);
    if (fd < 0) {
        const int err = errno;
        *why = path + ": " + (err == EBUSY ? std::string("in use by the system (mounted or held by another program)")
                                           : std::strerror(err));
        return nullptr;
    }
    // What was opened is what counts (the path may have changed meanwhile).
    if (::fstat(fd, &st) != 0 || (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode))) {
        *why = path + ": changed while it was opened";
        ::close(fd);
        return nullptr;
    }
    int read_only = 0;
    if (S_ISBLK(st.st_mode) && writing && ::ioctl(fd, BLKROGET, &read_only) == 0 && read_only) {
        *why = path + ": write-protected (the card's lock switch, or a read-only device)";
        ::close(fd);
        return nullptr;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, &size) != 0) {
        *why = path + ": cannot read the size of the device: " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<DiskFile>(new DiskFile(fd, path, st, size, writing));
}

DiskFile::~DiskFile()
{
    if (fd_ >= 0) ::close(fd_);
}

bool DiskFile::close(std::string* why)
{
    bool ok = true;
    if (writable_ && ::fsync(fd_) != 0) {
        *why = path_ + ": cannot flush the writes: " + std::strerror(errno);
        ok = false;
    }
    if (::close(fd_) != 0 && ok) {
        *why = path_ + ": " + std::strerror(errno);
        ok = false;
    }
    fd_ = -1;
    return ok;
}

} // namespace tools
