// Files written under a temporary name: beside a file they are to replace,
// and renamed over it only when complete (until then the old file stays as
// it was), or as scratch space that is never kept. An uncommitted temporary
// file is removed, also when the program is interrupted (SIGINT, SIGTERM,
// SIGHUP).
#ifndef TESSIVO_TOOLS_COMMON_TEMP_FILE_H
#define TESSIVO_TOOLS_COMMON_TEMP_FILE_H

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>

namespace tools {

class TempFile {
public:
    // A new empty file in the directory of `target`, to replace it. A
    // symbolic link at `target` is followed: the file it points to is
    // replaced, not the link. The new file gets the permissions of the file
    // it replaces, or the usual ones for a new file. Null with the cause in
    // `why` ("TARGET: ...") when it cannot be created.
    static std::unique_ptr<TempFile> beside(const std::string& target, std::string* why);
    // A new empty file in the temporary directory ($TMPDIR, else /tmp).
    static std::unique_ptr<TempFile> scratch(const std::string& purpose, std::string* why);
    ~TempFile();
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // Flushes the file to stable storage, closes it and renames it over the
    // target. False with the cause in `why`; the target is then unchanged
    // and the temporary file removed.
    bool commit(std::string* why);

private:
    static std::unique_ptr<TempFile> create(std::string templ, const std::string& target, mode_t mode,
                                            std::string* why, const std::string& shown);
    TempFile(int fd, std::string path, std::string target, std::string shown);
    int fd_;
    std::string path_;
    std::string target_;  // the file replaced on commit; empty for scratch space
    std::string shown_;   // the target as the user named it
    bool committed_ = false;
};

// Writes `size` bytes to `path` for good: a regular file (or a new name) is
// replaced only once the new content is complete; a device or pipe is written
// directly, as nothing can be renamed over it; a directory is refused. False
// with the cause in `why` ("PATH: ...").
bool write_whole_file(const std::string& path, const void* data, size_t size, std::string* why);

} // namespace tools

#endif
