#include "tools/common/temp_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "tools/common/extent_copy.h"

namespace tools {
namespace {

// Paths the signal handler removes: a fixed table, since the handler may
// only use async-signal-safe calls.
constexpr int kMaxTemps = 4;
char g_temps[kMaxTemps][PATH_MAX];

extern "C" void remove_temps_and_die(int sig)
{
    for (auto& path : g_temps)
        if (path[0]) ::unlink(path);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void watch(const std::string& path)
{
    if (path.size() >= PATH_MAX) return;
    for (auto& slot : g_temps) {
        if (slot[0]) continue;
        std::memcpy(slot, path.c_str(), path.size() + 1);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, remove_temps_and_die);
        return;
    }
}

void unwatch(const std::string& path)
{
    for (auto& slot : g_temps)
        if (path == slot) slot[0] = 0;
}

// The file a path stands for once symbolic links are followed; the path
// itself when it does not exist yet.
std::string resolved(const std::string& target)
{
    char real[PATH_MAX];
    return ::realpath(target.c_str(), real) ? std::string(real) : target;
}

std::string directory_of(const std::string& path)
{
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

mode_t usual_mode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

std::unique_ptr<TempFile> TempFile::create(std::string templ, const std::string& target, mode_t mode, std::string* why,
                               const std::string& name_in_messages)
{
    templ += ".tmpXXXXXX";
    const int fd = ::mkstemp(templ.data());
    if (fd < 0) {
        *why = name_in_messages + ": cannot create a file in " + directory_of(templ) + ": " + std::strerror(errno);
        return nullptr;
    }
    ::fchmod(fd, mode);
    return std::unique_ptr<TempFile>(new TempFile(fd, templ, target, name_in_messages));
}

TempFile::TempFile(int fd, std::string path, std::string target, std::string shown)
    : fd_(fd), path_(std::move(path)), target_(std::move(target)), shown_(std::move(shown))
{
    watch(path_);
}

std::unique_ptr<TempFile> TempFile::beside(const std::string& target, std::string* why)
{
    const std::string real = resolved(target);
    struct stat st {};
    const mode_t mode = ::stat(real.c_str(), &st) == 0 ? (st.st_mode & 07777) : usual_mode();
    return create(real, real, mode, why, target);
}

std::unique_ptr<TempFile> TempFile::scratch(const std::string& purpose, std::string* why)
{
    const char* dir = std::getenv("TMPDIR");
    const std::string base = std::string(dir && *dir ? dir : "/tmp") + "/tessivo-" + purpose;
    return create(base, {}, 0600, why, purpose);
}

TempFile::~TempFile()
{
    if (fd_ >= 0) ::close(fd_);
    if (!committed_) ::unlink(path_.c_str());
    unwatch(path_);
}

bool TempFile::commit(std::string* why)
{
    const std::string& name = shown_;
    if (target_.empty()) {
        *why = name + ": scratch space is not kept";
        return false;
    }
    if (::fsync(fd_) != 0) {
        *why = name + ": cannot write: " + std::strerror(errno);
        return false;
    }
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) {
        *why = name + ": cannot write: " + std::strerror(errno);
        return false;
    }
    if (::rename(path_.c_str(), target_.c_str()) != 0) {
        *why = name + ": cannot replace the file: " + std::strerror(errno);
        return false;
    }
    committed_ = true;
    return true;
}

bool write_whole_file(const std::string& path, const void* data, size_t size, std::string* why)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        *why = path + ": is a directory";
        return false;
    }
    if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        bool ok = fd >= 0 && write_all(fd, data, size);
        if (!ok) *why = path + ": " + std::strerror(errno);
        if (fd >= 0 && ::close(fd) != 0 && ok) {
            *why = path + ": " + std::strerror(errno);
            ok = false;
        }
        return ok;
    }
    auto out = TempFile::beside(path, why);
    if (!out) return false;
    if (!write_fully(out->fd(), 0, data, size)) {
        *why = path + ": " + std::strerror(errno);
        return false;
    }
    return out->commit(why);
}

} // namespace tools
