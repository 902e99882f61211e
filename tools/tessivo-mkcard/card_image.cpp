// Card assembly with the firmware's FAT module on a raw image file.
#include "tools/tessivo-mkcard/card_image.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "fatfs/ff.h"
#include "fatfs/host/diskio_image.h"
#include "tools/common/disk_file.h"
#include "tools/common/extent_copy.h"
#include "tools/common/format_limits.h"
#include "tools/common/image_file.h"
#include "tools/common/temp_file.h"

namespace mkcard {
namespace {

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

// An exact byte count ("768000 bytes"), where a rounded size would hide the shortfall.
std::string byte_count(uint64_t bytes)
{
    return std::to_string(bytes) + " bytes";
}

// The new image as drive 0 of the FAT module, mounted; let go at the end.
class Drive {
public:
    Drive(int fd, uint64_t bytes)
    {
        diskimage_attach(fd, bytes, true);
        f_mount(0, &fs_);
    }
    ~Drive()
    {
        f_mount(0, nullptr);
        diskimage_close();
    }
    Drive(const Drive&) = delete;
    Drive& operator=(const Drive&) = delete;
    const FATFS& fs() const { return fs_; }

private:
    FATFS fs_;
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

// Formats the image open as `fd` (`bytes` long) and writes both files.
// `out` names the output in messages, `card_size` the size it was made for.
std::string fill_image(const CardRequest& req, int fd, uint64_t bytes, unsigned* fat_bits)
{
    const std::string& out = req.output;
    Drive drive(fd, bytes);
    errno = 0;
    FRESULT res = f_mkfs(0, req.whole_card ? 1 : 0, 0);
    if (res == FR_MKFS_ABORTED)
        return out + ": " + tools::format_refusal("card size", bytes, req.whole_card, 0, "--size", "");
    if (res != FR_OK) return out + ": cannot format the image: " + cause(res, errno);

    const auto too_small = [&](const char* name, uint64_t need, uint64_t fit) {
        return out + ": card size " + tools::size_text(bytes) + " too small for the files (" + name + " needs " +
               byte_count(need) + ", " + byte_count(fit) + " fit)";
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

    *fat_bits = drive.fs().fs_type == 1 ? 12 : drive.fs().fs_type == 2 ? 16 : 32;
    return {};
}

std::string check_size(const std::string& out, uint64_t bytes)
{
    if (bytes < tools::kMinVolumeBytes)
        return out + ": " + tools::format_refusal("card size", bytes, false, 0, "--size", "");
    if (bytes > tools::kMaxVolumeBytes)
        return out + ": card size " + tools::size_text(bytes) + " too large (at most 2T)";
    return {};
}

// A card's block device: the image is made in scratch space of the card's
// size and copied onto the card once complete.
std::string make_on_device(const CardRequest& req, unsigned* fat_bits)
{
    const std::string& out = req.output;
    std::string why;
    auto card = tools::DiskFile::open(out, tools::DiskFile::Access::Write, &why);
    if (!card) return why;
    if (req.size != 0)
        return out + ": a card takes its own size (" + tools::size_text(card->size()) + "); leave out --size";
    const uint64_t bytes = card->size() / 512 * 512;
    why = check_size(out, bytes);
    if (!why.empty()) return why;
    auto scratch = tools::TempFile::scratch("card", &why);
    if (!scratch) return out + ": no scratch space for the new card (" + why + ")";
    if (!tools::size_image(scratch->fd(), bytes, &why)) return out + ": no scratch space for the new card: " + why;
    why = fill_image(req, scratch->fd(), bytes, fat_bits);
    if (!why.empty()) return why;
    if (!tools::copy_data_extents(scratch->fd(), bytes, card->fd(), &why)) return out + ": " + why;
    if (!card->close(&why)) return why;
    return {};
}

} // namespace

std::string make_card(const CardRequest& req, unsigned* fat_bits)
{
    const std::string& out = req.output;
    struct stat st {};
    const bool exists = ::stat(out.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return out + ": is a directory";
    if (exists && S_ISBLK(st.st_mode)) return make_on_device(req, fat_bits);
    // Nothing is ever renamed over a device node, a pipe or a socket.
    if (exists && !S_ISREG(st.st_mode))
        return out + ": " + tools::file_kind(st) + ", not an image file or a card";
    const uint64_t bytes = (req.size ? req.size : kDefaultCardBytes) / 512 * 512;
    std::string why = check_size(out, req.size ? req.size : kDefaultCardBytes);
    if (!why.empty()) return why;
    // The new image replaces the old one by name: only where the old one may be written.
    if (exists && ::access(out.c_str(), W_OK) != 0) return out + ": " + std::strerror(errno);

    auto fresh = tools::TempFile::beside(out, &why);
    if (!fresh) return out + ": cannot create the image: " + why.substr(why.rfind(": ") + 2);
    if (!tools::size_image(fresh->fd(), bytes, &why)) return out + ": cannot size the image: " + why;
    why = fill_image(req, fresh->fd(), bytes, fat_bits);
    if (!why.empty()) return why;
    if (!fresh->commit(&why)) return why;
    return {};
}

} // namespace mkcard
