// Card assembly with the firmware's FAT module on a raw image file.
#include "tools/tessivo-mkcard/card_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>

#include "fatfs/ff.h"
#include "fatfs/host/diskio_image.h"
#include "tools/common/image_file.h"

namespace mkcard {
namespace {

constexpr uint64_t kMinCardBytes = 128 * 512;
constexpr uint64_t kMaxCardBytes = 0xFFFFFFFFull * 512;

const char* result_text(FRESULT res)
{
    switch (res) {
    case FR_DISK_ERR: return "write to the image failed";
    case FR_INT_ERR: return "the new volume is inconsistent";
    case FR_NOT_READY: return "the image is not ready";
    case FR_DENIED: return "the volume is full";
    case FR_WRITE_PROTECTED: return "the image is write-protected";
    case FR_NO_FILESYSTEM: return "no FAT volume on the image";
    case FR_MKFS_ABORTED: return "too small for a FAT volume";
    default: return "the FAT module failed";
    }
}

// The cause of a failed call on the image: the host's error when the image
// file itself refused the transfer (a full disk, say), the module's otherwise.
std::string cause(FRESULT res, int host_errno)
{
    if (res == FR_DISK_ERR && host_errno != 0) return std::strerror(host_errno);
    return result_text(res);
}

std::string size_text(uint64_t bytes)
{
    return std::to_string(bytes) + " bytes";
}

// A card size as a user would write it: "16M", or bytes when not a round size.
std::string card_size_text(uint64_t bytes)
{
    static const char units[] = {'T', 'G', 'M', 'K'};
    for (int i = 0; i < 4; i++) {
        const uint64_t unit = 1ull << (10 * (4 - i));
        if (bytes >= unit && bytes % unit == 0) return std::to_string(bytes / unit) + units[i];
    }
    return size_text(bytes);
}

// Path of the temporary image for the signal handler, which removes it when
// the program is interrupted.
char g_temp_path[4096];

extern "C" void remove_temp_and_exit(int sig)
{
    if (g_temp_path[0]) ::unlink(g_temp_path);
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

void watch_interrupts(const std::string& path)
{
    if (path.size() >= sizeof g_temp_path) return;
    std::memcpy(g_temp_path, path.c_str(), path.size() + 1);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, remove_temp_and_exit);
}

void unwatch_interrupts()
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::signal(sig, SIG_DFL);
    g_temp_path[0] = 0;
}

// The temporary image: removed unless kept; the volume is unmounted and the
// image closed first either way.
class TempImage {
public:
    explicit TempImage(const std::string& output) : path_(output + ".tmpXXXXXX")
    {
        fd_ = ::mkstemp(path_.data());
        if (fd_ < 0) {
            path_.clear();
            return;
        }
        // mkstemp makes the file private; the card gets the usual permissions.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd_, 0666 & ~mask);
        watch_interrupts(path_);
    }
    ~TempImage()
    {
        release();
        if (!kept_ && !path_.empty()) ::unlink(path_.c_str());
        if (!path_.empty()) unwatch_interrupts();
    }
    TempImage(const TempImage&) = delete;
    TempImage& operator=(const TempImage&) = delete;

    bool created() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    void mounted(FATFS* fs) { fs_ = fs; }
    void release()
    {
        if (fs_) f_mount(0, nullptr);
        fs_ = nullptr;
        diskimage_close();
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    void keep() { kept_ = true; }

private:
    std::string path_;
    int fd_ = -1;
    FATFS* fs_ = nullptr;
    bool kept_ = false;
};

// Result of copying data into a file on the volume.
struct Copy {
    bool full = false;   // the volume ran out of space (the module's short count)
    std::string failed;  // cause of a failed write, empty if none
    uint64_t written = 0;
};

// Writes `len` bytes through an open file, adding to `copy`.
void write_all(FIL* fp, const uint8_t* data, uint64_t len, Copy* copy)
{
    while (len > 0) {
        const UINT piece = static_cast<UINT>(len < 32768 ? len : 32768);
        UINT bw = 0;
        errno = 0;
        const FRESULT res = f_write(fp, data, piece, &bw);
        const int host_errno = errno;
        copy->written += bw;
        if (res != FR_OK) {
            copy->failed = cause(res, host_errno);
            return;
        }
        if (bw < piece) {
            copy->full = true;
            return;
        }
        data += bw;
        len -= bw;
    }
}

struct FileCloser {
    void operator()(FILE* f) const { std::fclose(f); }
};

} // namespace

std::string make_card(const CardRequest& req, unsigned* fat_bits)
{
    const std::string& out = req.output;
    if (req.size < kMinCardBytes) return out + ": card size " + card_size_text(req.size) + " too small (at least 64K)";
    if (req.size > kMaxCardBytes) return out + ": card size " + card_size_text(req.size) + " too large (at most 2T)";

    struct stat st {};
    if (::stat(out.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return out + ": is a directory";

    TempImage tmp(out);
    if (!tmp.created()) return out + ": cannot create the image: " + std::strerror(errno);
    std::string why;
    if (!tools::size_image(tmp.fd(), req.size, &why)) return out + ": cannot size the image: " + why;
    if (!diskimage_open(tmp.path().c_str(), true)) return out + ": cannot open the image for writing";

    FATFS fs;
    f_mount(0, &fs);
    tmp.mounted(&fs);
    errno = 0;
    FRESULT res = f_mkfs(0, req.whole_card ? 1 : 0, 0);
    if (res == FR_MKFS_ABORTED) {
        // The formatter gives up on volumes too small for their system area,
        // and on sizes whose cluster count lands just below a FAT type's minimum.
        return out + ": card size " + card_size_text(req.size) +
               (req.size < (1ull << 20) ? " too small for a FAT volume"
                                        : " cannot be formatted (cluster count at a FAT type limit; try another --size)");
    }
    if (res != FR_OK) return out + ": cannot format the image: " + cause(res, errno);

    const auto too_small = [&](const char* name, uint64_t need, uint64_t fit) {
        return out + ": card size " + card_size_text(req.size) + " too small for the files (" + name + " needs " +
               size_text(need) + ", " + size_text(fit) + " fit)";
    };

    FIL file;
    res = f_open(&file, "LOL.RAW", FM_WRITE | FM_CREATE_ALWAYS);
    if (res != FR_OK) return out + ": cannot create LOL.RAW: " + result_text(res);
    Copy picture;
    write_all(&file, req.frame.data(), req.frame.size(), &picture);
    errno = 0;
    res = f_close(&file);
    if (picture.full) return too_small("LOL.RAW", req.frame.size(), picture.written);
    if (!picture.failed.empty()) return out + ": cannot write LOL.RAW: " + picture.failed;
    if (res != FR_OK) return out + ": cannot write LOL.RAW: " + cause(res, errno);

    std::unique_ptr<FILE, FileCloser> music(std::fopen(req.music.c_str(), "rb"));
    if (!music) return req.music + ": " + std::strerror(errno);
    res = f_open(&file, "LOL.MP3", FM_WRITE | FM_CREATE_ALWAYS);
    if (res != FR_OK) return out + ": cannot create LOL.MP3: " + result_text(res);
    std::vector<uint8_t> chunk(256 * 1024);
    Copy song;
    uint64_t read = 0;
    for (;;) {
        errno = 0;
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), music.get());
        if (std::ferror(music.get())) {
            const int read_errno = errno;
            f_close(&file);
            return req.music + ": " + (read_errno ? std::strerror(read_errno) : "cannot read the file");
        }
        if (n == 0) break;
        read += n;
        write_all(&file, chunk.data(), n, &song);
        if (song.full || !song.failed.empty()) break;
    }
    errno = 0;
    res = f_close(&file);
    if (song.full) return too_small("LOL.MP3", std::max(req.music_size, read), song.written);
    if (!song.failed.empty()) return out + ": cannot write LOL.MP3: " + song.failed;
    if (res != FR_OK) return out + ": cannot write LOL.MP3: " + cause(res, errno);
    if (read != req.music_size) return req.music + ": the file changed while it was copied";

    *fat_bits = fs.fs_type == 1 ? 12 : fs.fs_type == 2 ? 16 : 32;
    if (::fsync(tmp.fd()) != 0) return out + ": cannot write the image: " + std::strerror(errno);
    tmp.release();
    if (::rename(tmp.path().c_str(), out.c_str()) != 0) return out + ": cannot replace the image: " + std::strerror(errno);
    tmp.keep();
    return {};
}

} // namespace mkcard
