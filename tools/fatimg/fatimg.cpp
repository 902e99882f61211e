// fatimg: the firmware's FAT module as a command-line tool on a disk image.
//
//   fatimg IMAGE COMMAND [ARGS...]
//
// Every command maps onto one or a few calls of the module; a failed call is
// reported as "fatimg: COMMAND: PATH: FR_NAME (text)" on stderr with exit
// status 1. IMAGE is an image file or a card's block device. Read-only
// commands open it read-only; no command ever writes outside the image as it
// is (mkfs --size is the only way to size it). A failing command leaves the
// image and local files as they were.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fatfs/ff.h"
#include "fatfs/host/diskio_image.h"
#include "tools/common/card_check.h"
#include "tools/common/disk_file.h"
#include "tools/common/extent_copy.h"
#include "tools/common/file_identity.h"
#include "tools/common/format_limits.h"
#include "tools/common/image_file.h"
#include "tools/common/temp_file.h"
#include "tools/common/version.h"

namespace {

constexpr int EXIT_FAT = 1;    // the FAT module reported a failure
constexpr int EXIT_USAGE = 2;  // bad command line
constexpr int EXIT_HOST = 3;   // the image or a local file could not be used

const char* const USAGE =
    "Usage: fatimg IMAGE COMMAND [ARGS...]\n"
    "  or:  fatimg --help | --version\n"
    "\n"
    "Works on the FAT12/16/32 volume in the disk image IMAGE (whole image, or the\n"
    "first partition of a partition table) with the firmware's own FAT module.\n"
    "IMAGE may be a card's block device (/dev/sdX): its size comes from the\n"
    "device, writing to a mounted or write-protected one is refused, and writes\n"
    "are flushed to it before success is reported.\n"
    "Names are 8.3 short names; paths use '/' and start at the root.\n"
    "\n"
    "Commands:\n"
    "  mkfs [--size SIZE] [--sfd] [--au BYTES]\n"
    "                     format the image; --size creates or resizes the file\n"
    "                     (sparse; SIZE like 64M, 2G, at least 64K), --sfd writes\n"
    "                     no partition table, --au sets the cluster size in bytes\n"
    "                     (a power of 2 from 512 to 64K; default: by volume size)\n"
    "  ls [PATH]          list a directory (or show one file): attributes DRHSA,\n"
    "                     modification time, size, name (directories end in /)\n"
    "  tree [PATH]        every object below PATH: directories as /A/B/, files as\n"
    "                     /A/B/F.BIN SIZE\n"
    "  stat PATH          size, attributes and modification time of one object\n"
    "  cat PATH           write a file to standard output\n"
    "  get PATH LOCAL     copy a file out of the image ('-' = standard output);\n"
    "                     LOCAL is replaced only once the copy is complete\n"
    "  put LOCAL PATH     copy a file into the image ('-' = standard input); an\n"
    "                     existing PATH is replaced only once the copy is complete\n"
    "  mkdir PATH         create a directory\n"
    "  rm PATH            remove a file or an empty directory\n"
    "  mv OLD NEW         rename or move a file or directory\n"
    "  attrib PATH [+r|-r|+h|-h|+s|-s|+a|-a]...\n"
    "                     show or change the read-only, hidden, system, archive bits\n"
    "  touch PATH [--date YYYY-MM-DD] [--time HH:MM:SS]\n"
    "                     set the modification time (now if not given); creates\n"
    "                     an empty file when PATH does not exist\n"
    "  df                 volume type, cluster size, total and free space\n"
    "  check              whether the board can play the card: a FAT volume with\n"
    "                     LOL.RAW and LOL.MP3 in its root (exit 1 if not)\n"
    "\n"
    "Exit status: 0 success, 1 the FAT module reported a failure (the message\n"
    "names the result, e.g. FR_DENIED) or check found the card unplayable, 2 bad\n"
    "command line, 3 the image or a local file could not be opened, read or\n"
    "written.\n";

const char* result_name(FRESULT res)
{
    static const char* const names[] = {
        "FR_OK", "FR_DISK_ERR", "FR_INT_ERR", "FR_NOT_READY", "FR_NO_FILE", "FR_NO_PATH",
        "FR_INVALID_NAME", "FR_DENIED", "FR_EXIST", "FR_INVALID_OBJECT", "FR_WRITE_PROTECTED",
        "FR_INVALID_DRIVE", "FR_NOT_ENABLED", "FR_NO_FILESYSTEM", "FR_MKFS_ABORTED", "FR_TIMEOUT",
        "FR_LOCKED", "FR_NOT_ENOUGH_CORE", "FR_TOO_MANY_OPEN_FILES", "FR_INVALID_PARAMETER"};
    const unsigned i = static_cast<unsigned>(res);
    return i < sizeof names / sizeof names[0] ? names[i] : "FR_?";
}

const char* result_text(FRESULT res)
{
    switch (res) {
    case FR_DISK_ERR: return "the image could not be read or written";
    case FR_INT_ERR: return "the volume is inconsistent";
    case FR_NOT_READY: return "the image is not ready";
    case FR_NO_FILE: return "no such file";
    case FR_NO_PATH: return "no such directory";
    case FR_INVALID_NAME: return "not a valid 8.3 path for this command";
    case FR_DENIED: return "access denied: read-only, not empty, current directory or no room";
    case FR_EXIST: return "already exists";
    case FR_WRITE_PROTECTED: return "the image is write-protected";
    case FR_NO_FILESYSTEM: return "no FAT volume in the image";
    case FR_MKFS_ABORTED: return "the volume does not fit this format";
    case FR_NOT_ENOUGH_CORE: return "buffer too small";
    case FR_INVALID_PARAMETER: return "invalid parameter";
    default: return "failed";
    }
}

const char* const DIRECTORY_FULL = "no free entry in the directory: the FAT12/16 root is fixed";

struct Context {
    std::string image;
    std::string command;
    struct stat image_status {};  // of the open image, for same-file checks
};

int fail(const Context& ctx, const std::string& path, FRESULT res, const char* text = nullptr)
{
    std::fprintf(stderr, "fatimg: %s: %s: %s (%s)\n", ctx.command.c_str(), path.c_str(),
                 result_name(res), text ? text : result_text(res));
    return EXIT_FAT;
}

int host_fail(const Context& ctx, const std::string& what, const std::string& why)
{
    std::fprintf(stderr, "fatimg: %s: %s: %s\n", ctx.command.c_str(), what.c_str(), why.c_str());
    return EXIT_HOST;
}

// A host failure whose message already names the file ("PATH: cause").
int host_fail(const Context& ctx, const std::string& message)
{
    std::fprintf(stderr, "fatimg: %s: %s\n", ctx.command.c_str(), message.c_str());
    return EXIT_HOST;
}

// A path of the volume that is not what the command works on.
int wrong_kind(const Context& ctx, const std::string& path, const char* what)
{
    std::fprintf(stderr, "fatimg: %s: %s: %s\n", ctx.command.c_str(), path.c_str(), what);
    return EXIT_FAT;
}

int usage_fail(const Context& ctx, const std::string& why)
{
    std::fprintf(stderr, "fatimg: %s: %s\nTry 'fatimg --help'.\n", ctx.command.c_str(), why.c_str());
    return EXIT_USAGE;
}

// ---------------------------------------------------------------------------
// Paths and formatting

// "/A/B" style path for display and for building child paths: separators
// unified, "." and empty segments dropped, ".." resolved, ASCII upper-cased
// as the volume stores it. The module itself still resolves the raw path.
std::string canonical(const std::string& path)
{
    std::vector<std::string> parts;
    std::string seg;
    auto flush = [&]() {
        if (seg == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!seg.empty() && seg != ".") {
            parts.push_back(seg);
        }
        seg.clear();
    };
    for (char c : path) {
        if (c == '/' || c == '\\') flush();
        else seg += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 0x20) : c;
    }
    flush();
    std::string out;
    for (const auto& p : parts) {
        out += '/';
        out += p;
    }
    return out.empty() ? "/" : out;
}

std::string child_path(const std::string& dir, const char* name)
{
    std::string p = dir == "/" ? std::string() : dir;
    p += '/';
    p += name;
    return p;
}

std::string attr_text(BYTE a)
{
    std::string s = "-----";
    if (a & ATTR_DIRECTORY) s[0] = 'D';
    if (a & ATTR_READ_ONLY) s[1] = 'R';
    if (a & ATTR_HIDDEN) s[2] = 'H';
    if (a & ATTR_SYSTEM) s[3] = 'S';
    if (a & ATTR_ARCHIVE) s[4] = 'A';
    return s;
}

std::string stamp_text(WORD fdate, WORD ftime)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04u-%02u-%02u %02u:%02u:%02u", 1980u + (fdate >> 9),
                  (fdate >> 5) & 15u, fdate & 31u, ftime >> 11, (ftime >> 5) & 63u, (ftime & 31u) * 2);
    return buf;
}

bool is_dot(const char* name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

void print_entry(const FILINFO& fi, const char* name)
{
    const bool dir = fi.fattrib & ATTR_DIRECTORY;
    std::printf("%s  %s  %10lu  %s%s\n", attr_text(fi.fattrib).c_str(),
                stamp_text(fi.fdate, fi.ftime).c_str(), static_cast<unsigned long>(fi.fsize), name,
                dir ? "/" : "");
}

// ---------------------------------------------------------------------------
// Commands. Each gets its arguments after the command word.

using Args = std::vector<std::string>;

// Formats drive 0 as it is attached; a refusal says which limit was hit.
int format_volume(const Context& ctx, uint64_t bytes, BYTE sfd, uint32_t au)
{
    FATFS fs;
    f_mount(0, &fs);
    const FRESULT res = f_mkfs(0, sfd, static_cast<UINT>(au));
    f_mount(0, nullptr);
    diskimage_close();
    if (res == FR_MKFS_ABORTED)
        return fail(ctx, ctx.image, res, tools::format_refusal("size", bytes, sfd, au, "--size", "--au").c_str());
    return res == FR_OK ? 0 : fail(ctx, ctx.image, res);
}

// A card's block device is formatted in place (the formatter refuses a size
// before it writes anything); an image file is made beside the old one and
// replaces it only when complete, so a failure leaves no new file and an
// old image as it was.
int cmd_mkfs(const Context& ctx, const Args& args)
{
    uint64_t size = 0;
    bool have_size = false;
    BYTE sfd = 0;
    uint64_t au = 0;
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        if (a == "--sfd") {
            sfd = 1;
        } else if ((a == "--size" || a == "--au") && i + 1 < args.size()) {
            uint64_t v;
            if (!tools::parse_size(args[++i], &v)) return usage_fail(ctx, "bad value for " + a + ": " + args[i]);
            if (a == "--size") {
                size = v;
                have_size = true;
            } else {
                au = v;
            }
        } else {
            return usage_fail(ctx, "unexpected argument: " + a);
        }
    }
    if (au != 0 && !tools::valid_cluster_bytes(au))
        return usage_fail(ctx, "--au " + std::to_string(au) + ": the cluster size must be a power of 2 from 512 to 64K");
    if (have_size && size < tools::kMinVolumeBytes)
        return usage_fail(ctx, "--size " + tools::size_text(size) + " is below the smallest volume (64K)");
    if (have_size && size > tools::kMaxVolumeBytes)
        return usage_fail(ctx, "--size " + tools::size_text(size) + " is above the largest volume (2T)");

    struct stat st {};
    const bool exists = ::stat(ctx.image.c_str(), &st) == 0;
    std::string why;
    if (exists && S_ISBLK(st.st_mode)) {
        if (have_size) return usage_fail(ctx, "--size cannot be used on a block device: the card's own size is used");
        auto card = tools::DiskFile::open(ctx.image, tools::DiskFile::Access::Write, &why);
        if (!card) return host_fail(ctx, why);
        if (card->size() < tools::kMinVolumeBytes) return host_fail(ctx, ctx.image, "too small for a volume (at least 64K)");
        diskimage_attach(card->fd(), card->size(), true);
        const int rc = format_volume(ctx, card->size(), sfd, static_cast<uint32_t>(au));
        if (!card->close(&why) && rc == 0) return host_fail(ctx, why);
        return rc;
    }
    if (exists && !S_ISREG(st.st_mode))
        return host_fail(ctx, ctx.image, std::string(tools::file_kind(st)) + ", not a disk image or a card");
    if (!exists && !have_size)
        return host_fail(ctx, ctx.image, std::string(std::strerror(errno)) + " (give --size to create it)");
    if (!have_size) size = static_cast<uint64_t>(st.st_size);
    if (size < tools::kMinVolumeBytes) return host_fail(ctx, ctx.image, "too small for a volume (at least 64K)");
    if (size > tools::kMaxVolumeBytes) return host_fail(ctx, ctx.image, "too large for a volume (at most 2T)");
    // The new image replaces the old one by name: only where the old one may be written.
    if (exists && ::access(ctx.image.c_str(), W_OK) != 0) return host_fail(ctx, ctx.image, std::strerror(errno));

    auto fresh = tools::TempFile::beside(ctx.image, &why);
    if (!fresh) return host_fail(ctx, why);
    // New space is a hole, not written data.
    if (!tools::size_image(fresh->fd(), size, &why)) return host_fail(ctx, ctx.image, why);
    diskimage_attach(fresh->fd(), size / 512 * 512, true);
    const int rc = format_volume(ctx, size, sfd, static_cast<uint32_t>(au));
    if (rc != 0) return rc;
    if (!fresh->commit(&why)) return host_fail(ctx, why);
    return 0;
}

int cmd_ls(const Context& ctx, const Args& args)
{
    if (args.size() > 1) return usage_fail(ctx, "expects at most one PATH");
    const std::string path = args.empty() ? "/" : args[0];
    DIR dj;
    FRESULT res = f_opendir(&dj, path.c_str());
    if (res == FR_NO_PATH) {
        // Not a directory: show the object itself, as ls does for a file.
        FILINFO fi;
        if (f_stat(path.c_str(), &fi) == FR_OK && !(fi.fattrib & ATTR_DIRECTORY)) {
            print_entry(fi, fi.fname);
            return 0;
        }
    }
    if (res != FR_OK) return fail(ctx, path, res);
    for (;;) {
        FILINFO fi;
        res = f_readdir(&dj, &fi);
        if (res != FR_OK) return fail(ctx, path, res);
        if (!fi.fname[0]) break;
        if (is_dot(fi.fname)) continue;
        print_entry(fi, fi.fname);
    }
    return 0;
}

// Depth first, in table order. Directories already on the way down are not
// entered again, so a looping tree on a damaged volume cannot recurse forever.
FRESULT walk_tree(const std::string& dir, std::set<DWORD>& active, std::string* failed_at)
{
    DIR dj;
    FRESULT res = f_opendir(&dj, dir.c_str());
    if (res == FR_OK && !active.insert(dj.sclust).second) res = FR_INT_ERR;
    if (res != FR_OK) {
        *failed_at = dir;
        return res;
    }
    const DWORD me = dj.sclust;
    for (;;) {
        FILINFO fi;
        res = f_readdir(&dj, &fi);
        if (res != FR_OK) {
            *failed_at = dir;
            break;
        }
        if (!fi.fname[0]) break;
        if (is_dot(fi.fname)) continue;
        const std::string p = child_path(dir, fi.fname);
        if (fi.fattrib & ATTR_DIRECTORY) {
            std::printf("%s/\n", p.c_str());
            // The listing shares the volume window with the walk below; the
            // cursor reloads its sector on the next read, so it survives.
            res = walk_tree(p, active, failed_at);
            if (res != FR_OK) break;
        } else {
            std::printf("%s %lu\n", p.c_str(), static_cast<unsigned long>(fi.fsize));
        }
    }
    active.erase(me);
    return res;
}

int cmd_tree(const Context& ctx, const Args& args)
{
    if (args.size() > 1) return usage_fail(ctx, "expects at most one PATH");
    const std::string path = canonical(args.empty() ? "/" : args[0]);
    std::set<DWORD> active;
    std::string failed_at;
    const FRESULT res = walk_tree(path, active, &failed_at);
    if (res != FR_OK) return fail(ctx, failed_at, res);
    return 0;
}

int cmd_stat(const Context& ctx, const Args& args)
{
    if (args.size() != 1) return usage_fail(ctx, "expects PATH");
    const std::string& path = args[0];
    if (canonical(path) == "/") {
        std::printf("Name:     /\nType:     directory\n");
        return 0;
    }
    FILINFO fi;
    const FRESULT res = f_stat(path.c_str(), &fi);
    if (res != FR_OK) return fail(ctx, path, res);
    std::printf("Name:     %s\nType:     %s\nSize:     %lu\nAttrib:   %s\nModified: %s\n", fi.fname,
                (fi.fattrib & ATTR_DIRECTORY) ? "directory" : "file",
                static_cast<unsigned long>(fi.fsize), attr_text(fi.fattrib).c_str(),
                stamp_text(fi.fdate, fi.ftime).c_str());
    return 0;
}

constexpr UINT COPY_CHUNK = 1u << 20;

// Takes the bytes copied out of the volume, in order; false on a failed write.
using Sink = std::function<bool(const BYTE* data, size_t n)>;

// Copies a file of the volume to `sink`; `out_name` names it in messages.
int copy_out(const Context& ctx, const std::string& path, const Sink& sink, const std::string& out_name)
{
    FIL fil;
    FRESULT res = f_open(&fil, path.c_str(), FM_READ);
    if (res == FR_NO_FILE) {
        // The module opens no directory as a file: say that it is one.
        FILINFO fi;
        if (f_stat(path.c_str(), &fi) == FR_OK && (fi.fattrib & ATTR_DIRECTORY))
            return wrong_kind(ctx, path, "is a directory, not a file");
    }
    if (res != FR_OK) return fail(ctx, path, res);
    std::vector<BYTE> buf(COPY_CHUNK);
    for (;;) {
        UINT br = 0;
        res = f_read(&fil, buf.data(), COPY_CHUNK, &br);
        if (res != FR_OK) {
            f_close(&fil);
            return fail(ctx, path, res);
        }
        if (br == 0) break;
        if (!sink(buf.data(), br)) {
            f_close(&fil);
            return host_fail(ctx, out_name, std::strerror(errno));
        }
    }
    f_close(&fil);
    return 0;
}

int copy_to_stdout(const Context& ctx, const std::string& path)
{
    const Sink to_stdout = [](const BYTE* data, size_t n) { return std::fwrite(data, 1, n, stdout) == n; };
    const int rc = copy_out(ctx, path, to_stdout, "standard output");
    if (rc == 0 && std::fflush(stdout) != 0) return host_fail(ctx, "standard output", std::strerror(errno));
    return rc;
}

int cmd_cat(const Context& ctx, const Args& args)
{
    if (args.size() != 1) return usage_fail(ctx, "expects PATH");
    return copy_to_stdout(ctx, args[0]);
}

// The local file is touched only by a complete copy: a regular file (or a
// new name) is written under a temporary name beside it and renamed into
// place at the end; a device or pipe is written directly, as nothing can be
// renamed over it.
int cmd_get(const Context& ctx, const Args& args)
{
    if (args.size() != 2) return usage_fail(ctx, "expects PATH LOCAL");
    const std::string& path = args[0];
    const std::string& local = args[1];
    if (local == "-") return copy_to_stdout(ctx, path);

    struct stat st {};
    const bool exists = ::stat(local.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) return host_fail(ctx, local, "is a directory");
    if (exists && tools::same_file(st, ctx.image_status)) return host_fail(ctx, local, "is the image itself");
    if (exists && !S_ISREG(st.st_mode)) {
        const int fd = ::open(local.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return host_fail(ctx, local, std::strerror(errno));
        const Sink to_device = [fd](const BYTE* data, size_t n) { return tools::write_all(fd, data, n); };
        const int rc = copy_out(ctx, path, to_device, local);
        if (::close(fd) != 0 && rc == 0) return host_fail(ctx, local, std::strerror(errno));
        return rc;
    }

    std::string why;
    auto fresh = tools::TempFile::beside(local, &why);
    if (!fresh) return host_fail(ctx, why);
    uint64_t at = 0;
    const int fd = fresh->fd();
    const Sink to_file = [fd, &at](const BYTE* data, size_t n) {
        if (!tools::write_fully(fd, at, data, n)) return false;
        at += n;
        return true;
    };
    const int rc = copy_out(ctx, path, to_file, local);
    if (rc != 0) return rc;
    if (!fresh->commit(&why)) return host_fail(ctx, why);
    return 0;
}

// A name beside `path` on the volume that is free: "DIR/~PUTnnnn.TMP".
bool free_temp_name(const std::string& path, std::string* name)
{
    const size_t slash = path.find_last_of("/\\");
    const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    for (unsigned n = 0; n < 10000; n++) {
        char leaf[16];
        std::snprintf(leaf, sizeof leaf, "~PUT%04u.TMP", n);
        FILINFO fi;
        if (f_stat((dir + leaf).c_str(), &fi) == FR_NO_FILE) {
            *name = dir + leaf;
            return true;
        }
    }
    return false;
}

// The local side is checked first, so nothing on the volume changes when it
// cannot be read. A new name is written directly; an existing file is
// replaced only once the new content is complete: it is written under a
// temporary name beside it, then the old file is removed and the new one
// takes its name.
int cmd_put(const Context& ctx, const Args& args)
{
    if (args.size() != 2) return usage_fail(ctx, "expects LOCAL PATH");
    const std::string& local = args[0];
    const std::string& path = args[1];
    constexpr const char* TOO_LARGE = "too large for a FAT file (at most 4 GiB - 1 bytes)";
    FILE* in = stdin;
    if (local != "-") {
        struct stat st {};
        if (::stat(local.c_str(), &st) != 0) return host_fail(ctx, local, std::strerror(errno));
        if (S_ISDIR(st.st_mode)) return host_fail(ctx, local, "is a directory");
        if (tools::same_file(st, ctx.image_status)) return host_fail(ctx, local, "is the image itself");
        if (S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > 0xFFFFFFFFull)
            return host_fail(ctx, local, TOO_LARGE);
        in = std::fopen(local.c_str(), "rb");
        if (!in) return host_fail(ctx, local, std::strerror(errno));
    }
    struct Closer {
        FILE* f;
        ~Closer()
        {
            if (f != stdin) std::fclose(f);
        }
    } closer{in};

    FILINFO fi;
    FRESULT res = f_stat(path.c_str(), &fi);
    const bool replace = res == FR_OK;
    if (replace && (fi.fattrib & ATTR_DIRECTORY)) return fail(ctx, path, FR_DENIED, "a directory has that name");
    if (replace && (fi.fattrib & ATTR_READ_ONLY)) return fail(ctx, path, FR_DENIED, "the file is read-only");
    if (!replace && res != FR_NO_FILE) return fail(ctx, path, res);
    std::string written = path;
    if (replace && !free_temp_name(path, &written))
        return fail(ctx, path, FR_DENIED, "no free temporary name beside it");

    FIL fil;
    res = f_open(&fil, written.c_str(), FM_WRITE | FM_CREATE_NEW);
    if (res == FR_NO_FILE && replace)
        return fail(ctx, path, res, "no free entry in the directory for the new copy: the FAT12/16 root is fixed");
    if (res != FR_OK) return fail(ctx, path, res, res == FR_NO_FILE ? DIRECTORY_FULL : nullptr);
    std::vector<BYTE> buf(COPY_CHUNK);
    uint64_t total = 0;
    int rc = 0;
    for (;;) {
        const size_t n = std::fread(buf.data(), 1, COPY_CHUNK, in);
        if (n == 0) {
            if (std::ferror(in)) rc = host_fail(ctx, local, std::strerror(errno));
            break;
        }
        if (total + n > 0xFFFFFFFFull) {
            rc = host_fail(ctx, local, TOO_LARGE);
            break;
        }
        UINT bw = 0;
        res = f_write(&fil, buf.data(), static_cast<UINT>(n), &bw);
        if (res != FR_OK) {
            rc = fail(ctx, path, res);
            break;
        }
        total += bw;
        if (bw < n) {
            rc = fail(ctx, path, FR_DENIED, replace ? "volume full (the old and the new file must fit at once)"
                                                    : "volume full");
            break;
        }
    }
    res = f_close(&fil);
    if (rc == 0 && res != FR_OK) rc = fail(ctx, path, res);
    // A partial copy is not left behind.
    if (rc != 0) {
        f_unlink(written.c_str());
        return rc;
    }
    if (!replace) return 0;
    res = f_unlink(path.c_str());
    if (res != FR_OK) {
        f_unlink(written.c_str());
        return fail(ctx, path, res);
    }
    res = f_rename(written.c_str(), path.c_str());
    if (res != FR_OK) return fail(ctx, path, res, ("the new content is in " + written).c_str());
    return 0;
}

int cmd_simple(const Context& ctx, const Args& args, FRESULT (*call)(const TCHAR*))
{
    if (args.size() != 1) return usage_fail(ctx, "expects PATH");
    const FRESULT res = call(args[0].c_str());
    // Creating a name reports a full fixed root directory as FR_NO_FILE.
    const bool creates = call == f_mkdir;
    return res == FR_OK ? 0 : fail(ctx, args[0], res, creates && res == FR_NO_FILE ? DIRECTORY_FULL : nullptr);
}

int cmd_mv(const Context& ctx, const Args& args)
{
    if (args.size() != 2) return usage_fail(ctx, "expects OLD NEW");
    const FRESULT res = f_rename(args[0].c_str(), args[1].c_str());
    return res == FR_OK ? 0 : fail(ctx, args[0] + " -> " + args[1], res);
}

int cmd_attrib(const Context& ctx, const Args& args)
{
    if (args.empty()) return usage_fail(ctx, "expects PATH");
    const std::string& path = args[0];
    BYTE value = 0, mask = 0;
    for (size_t i = 1; i < args.size(); i++) {
        const std::string& a = args[i];
        BYTE bit = 0;
        if (a.size() == 2) {
            switch (a[1]) {
            case 'r': case 'R': bit = ATTR_READ_ONLY; break;
            case 'h': case 'H': bit = ATTR_HIDDEN; break;
            case 's': case 'S': bit = ATTR_SYSTEM; break;
            case 'a': case 'A': bit = ATTR_ARCHIVE; break;
            }
        }
        if (!bit || (a[0] != '+' && a[0] != '-')) return usage_fail(ctx, "bad attribute change: " + a);
        mask |= bit;
        if (a[0] == '+') value |= bit;
        else value &= static_cast<BYTE>(~bit);
    }
    if (mask == 0) {
        FILINFO fi;
        const FRESULT res = f_stat(path.c_str(), &fi);
        if (res != FR_OK) return fail(ctx, path, res);
        std::printf("%s  %s\n", attr_text(fi.fattrib).c_str(), canonical(path).c_str());
        return 0;
    }
    const FRESULT res = f_chmod(path.c_str(), value, mask);
    return res == FR_OK ? 0 : fail(ctx, path, res);
}

int cmd_touch(const Context& ctx, const Args& args)
{
    if (args.empty()) return usage_fail(ctx, "expects PATH");
    const std::string& path = args[0];
    const std::time_t now = std::time(nullptr);
    const std::tm* lt = std::localtime(&now);
    unsigned y = lt->tm_year + 1900u, mo = lt->tm_mon + 1u, d = lt->tm_mday;
    unsigned h = lt->tm_hour, mi = lt->tm_min, s = lt->tm_sec;
    for (size_t i = 1; i < args.size(); i++) {
        const std::string& a = args[i];
        if (a == "--date" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            char tail;
            if (std::sscanf(v.c_str(), "%4u-%2u-%2u%c", &y, &mo, &d, &tail) != 3 || y < 1980 ||
                y > 2107 || mo < 1 || mo > 12 || d < 1 || d > 31)
                return usage_fail(ctx, "bad --date (YYYY-MM-DD, 1980..2107): " + v);
        } else if (a == "--time" && i + 1 < args.size()) {
            const std::string& v = args[++i];
            char tail;
            if (std::sscanf(v.c_str(), "%2u:%2u:%2u%c", &h, &mi, &s, &tail) != 3 || h > 23 || mi > 59 || s > 59)
                return usage_fail(ctx, "bad --time (HH:MM:SS): " + v);
        } else {
            return usage_fail(ctx, "unexpected argument: " + a);
        }
    }
    FILINFO fi;
    FRESULT res = f_stat(path.c_str(), &fi);
    if (res == FR_NO_FILE) {
        FIL fil;
        res = f_open(&fil, path.c_str(), FM_WRITE | FM_CREATE_NEW);
        if (res == FR_NO_FILE) return fail(ctx, path, res, DIRECTORY_FULL);
        if (res == FR_OK) res = f_close(&fil);
    }
    if (res != FR_OK) return fail(ctx, path, res);
    fi.fdate = static_cast<WORD>(((y - 1980) << 9) | (mo << 5) | d);
    fi.ftime = static_cast<WORD>((h << 11) | (mi << 5) | (s / 2));
    res = f_utime(path.c_str(), &fi);
    return res == FR_OK ? 0 : fail(ctx, path, res);
}

int cmd_df(const Context& ctx, const Args& args)
{
    if (!args.empty()) return usage_fail(ctx, "expects no arguments");
    DWORD nfree = 0;
    FATFS* fs = nullptr;
    const FRESULT res = f_getfree("", &nfree, &fs);
    if (res != FR_OK) return fail(ctx, "/", res);
    static const char* const types[] = {"?", "FAT12", "FAT16", "FAT32"};
    const uint64_t csize = static_cast<uint64_t>(fs->csize) * 512;
    const uint64_t nclst = fs->n_fatent - 2;
    std::printf("%-6s %12s %12s %12s %16s %16s\n", "Type", "Cluster", "Clusters", "Free", "Total-bytes",
                "Free-bytes");
    std::printf("%-6s %12llu %12llu %12llu %16llu %16llu\n", types[fs->fs_type < 4 ? fs->fs_type : 0],
                static_cast<unsigned long long>(csize), static_cast<unsigned long long>(nclst),
                static_cast<unsigned long long>(nfree), static_cast<unsigned long long>(nclst * csize),
                static_cast<unsigned long long>(nfree * csize));
    return 0;
}

int cmd_check(const Context& ctx, const Args& args)
{
    if (!args.empty()) return usage_fail(ctx, "expects no arguments");
    const tools::CardFacts facts = tools::check_card();
    const tools::CardVerdict verdict = tools::judge_card(facts);
    if (verdict.picture) std::printf("LOL.RAW  %lu bytes: the picture\n", static_cast<unsigned long>(facts.picture.size));
    if (verdict.music) std::printf("LOL.MP3  %lu bytes: the music\n", static_cast<unsigned long>(facts.music.size));
    for (const std::string& finding : verdict.findings) std::printf("%s\n", finding.c_str());
    return verdict.picture && verdict.music ? 0 : EXIT_FAT;
}

struct Command {
    const char* name;
    bool writes;
    int (*run)(const Context&, const Args&);
};

const Command COMMANDS[] = {
    {"mkfs", true, cmd_mkfs},
    {"ls", false, cmd_ls},
    {"tree", false, cmd_tree},
    {"stat", false, cmd_stat},
    {"cat", false, cmd_cat},
    {"get", false, cmd_get},
    {"put", true, cmd_put},
    {"mkdir", true, [](const Context& c, const Args& a) { return cmd_simple(c, a, f_mkdir); }},
    {"rm", true, [](const Context& c, const Args& a) { return cmd_simple(c, a, f_unlink); }},
    {"mv", true, cmd_mv},
    {"attrib", true, cmd_attrib},
    {"touch", true, cmd_touch},
    {"df", false, cmd_df},
    {"check", false, cmd_check},
};

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            tools::print_version("fatimg");
            return 0;
        }
    }
    if (argc < 3) {
        std::fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    Context ctx{argv[1], argv[2]};
    const Command* cmd = nullptr;
    for (const auto& c : COMMANDS)
        if (ctx.command == c.name) cmd = &c;
    if (!cmd) {
        std::fprintf(stderr, "fatimg: unknown command '%s'\nTry 'fatimg --help'.\n", ctx.command.c_str());
        return EXIT_USAGE;
    }
    const Args args(argv + 3, argv + argc);
    if (cmd->run == cmd_mkfs) return cmd_mkfs(ctx, args);

    // The module ends a path at its first character below 0x21, so "MY DIR"
    // would act on "MY": refuse such a path instead of touching another name.
    const bool two_paths = cmd->run == cmd_mv;
    const std::size_t first_path = cmd->run == cmd_put ? 1 : 0;
    for (std::size_t i = first_path; i < args.size() && i <= first_path + (two_paths ? 1 : 0); i++)
        for (const char c : args[i])
            if (static_cast<unsigned char>(c) < 0x21) return fail(ctx, args[i], FR_INVALID_NAME);

    // attrib without changes only reads.
    const bool writes = cmd->writes && !(cmd->run == cmd_attrib && args.size() <= 1);
    std::string why;
    auto disk = tools::DiskFile::open(ctx.image, writes ? tools::DiskFile::Access::Write : tools::DiskFile::Access::Read,
                                      &why);
    if (!disk) return host_fail(ctx, why);
    ctx.image_status = disk->status();
    diskimage_attach(disk->fd(), disk->size(), writes);
    FATFS fs;
    f_mount(0, &fs);
    int rc = cmd->run(ctx, args);
    f_mount(0, nullptr);
    diskimage_close();
    // Writes reach the medium before success is reported.
    if (!disk->close(&why) && rc == 0) rc = host_fail(ctx, why);
    if (std::fflush(stdout) != 0 && rc == 0) return host_fail(ctx, "standard output", std::strerror(errno));
    return rc;
}
