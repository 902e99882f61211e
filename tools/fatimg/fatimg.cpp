// fatimg: the firmware's FAT module as a command-line tool on a disk image.
//
//   fatimg IMAGE COMMAND [ARGS...]
//
// Every command maps onto one or a few calls of the module; a failed call is
// reported as "fatimg: COMMAND: PATH: FR_NAME (text)" on stderr with exit
// status 1. Read-only commands open the image read-only; no command ever
// writes outside the image as it is (mkfs --size is the only way to size it).
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/common/image_file.h"
#include "fatfs/ff.h"
#include "fatfs/host/diskio_image.h"

namespace {

constexpr int EXIT_FAT = 1;    // the FAT module reported a failure
constexpr int EXIT_USAGE = 2;  // bad command line
constexpr int EXIT_HOST = 3;   // the image or a local file could not be used

const char* const USAGE =
    "usage: fatimg IMAGE COMMAND [ARGS...]\n"
    "       fatimg --help\n"
    "\n"
    "Works on the FAT12/16/32 volume in the disk image IMAGE (whole image, or the\n"
    "first partition of a partition table) with the firmware's own FAT module.\n"
    "Names are 8.3 short names; paths use '/' and start at the root.\n"
    "\n"
    "Commands:\n"
    "  mkfs [--size SIZE] [--sfd] [--au BYTES]\n"
    "                     format the image; --size creates or resizes the file\n"
    "                     (sparse; SIZE like 64M, 2G), --sfd writes no partition\n"
    "                     table, --au sets the cluster size in bytes (power of 2)\n"
    "  ls [PATH]          list a directory (or show one file): attributes DRHSA,\n"
    "                     modification time, size, name (directories end in /)\n"
    "  tree [PATH]        every object below PATH: directories as /A/B/, files as\n"
    "                     /A/B/F.BIN SIZE\n"
    "  stat PATH          size, attributes and modification time of one object\n"
    "  cat PATH           write a file to standard output\n"
    "  get PATH LOCAL     copy a file out of the image ('-' = standard output)\n"
    "  put LOCAL PATH     copy a file into the image ('-' = standard input)\n"
    "  mkdir PATH         create a directory\n"
    "  rm PATH            remove a file or an empty directory\n"
    "  mv OLD NEW         rename or move a file or directory\n"
    "  attrib PATH [+r|-r|+h|-h|+s|-s|+a|-a]...\n"
    "                     show or change the read-only, hidden, system, archive bits\n"
    "  touch PATH [--date YYYY-MM-DD] [--time HH:MM:SS]\n"
    "                     set the modification time (now if not given); creates\n"
    "                     an empty file when PATH does not exist\n"
    "  df                 volume type, cluster size, total and free space\n"
    "\n"
    "Exit status: 0 success, 1 the FAT module reported a failure (the message\n"
    "names the result, e.g. FR_DENIED), 2 bad command line, 3 the image or a\n"
    "local file could not be opened, read or written.\n";

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
    if (au > 0xFFFFFFFFull) return usage_fail(ctx, "--au too large");
    if (have_size) {
        if (size / 512 > 0xFFFFFFFFull) return usage_fail(ctx, "--size too large (at most 2T)");
        // Create or resize the file; new space is a hole, not written data.
        std::string why;
        if (!tools::make_sparse_image(ctx.image, size, &why)) return host_fail(ctx, ctx.image, why);
    }
    struct stat st;
    if (::stat(ctx.image.c_str(), &st) != 0)
        return host_fail(ctx, ctx.image, std::string(std::strerror(errno)) + " (give --size to create it)");
    if (st.st_size < 128 * 512) return host_fail(ctx, ctx.image, "too small for a volume (at least 64K)");
    if (!diskimage_open(ctx.image.c_str(), true)) return host_fail(ctx, ctx.image, "cannot open image for writing");
    FATFS fs;
    f_mount(0, &fs);
    const FRESULT res = f_mkfs(0, sfd, static_cast<UINT>(au));
    f_mount(0, nullptr);
    if (res != FR_OK) return fail(ctx, ctx.image, res);
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

// Copies a file of the volume to a stdio stream.
int copy_out(const Context& ctx, const std::string& path, FILE* out, const std::string& out_name)
{
    FIL fil;
    FRESULT res = f_open(&fil, path.c_str(), FM_READ);
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
        if (std::fwrite(buf.data(), 1, br, out) != br) {
            f_close(&fil);
            return host_fail(ctx, out_name, std::strerror(errno));
        }
    }
    f_close(&fil);
    if (std::fflush(out) != 0) return host_fail(ctx, out_name, std::strerror(errno));
    return 0;
}

int cmd_cat(const Context& ctx, const Args& args)
{
    if (args.size() != 1) return usage_fail(ctx, "expects PATH");
    return copy_out(ctx, args[0], stdout, "standard output");
}

int cmd_get(const Context& ctx, const Args& args)
{
    if (args.size() != 2) return usage_fail(ctx, "expects PATH LOCAL");
    const std::string& path = args[0];
    const std::string& local = args[1];
    if (local == "-") return copy_out(ctx, path, stdout, "standard output");
    // Check the source first so that a missing file leaves no empty local file.
    FILINFO fi;
    const FRESULT res = f_stat(path.c_str(), &fi);
    if (res != FR_OK) return fail(ctx, path, res);
    FILE* out = std::fopen(local.c_str(), "wb");
    if (!out) return host_fail(ctx, local, std::strerror(errno));
    const int rc = copy_out(ctx, path, out, local);
    if (std::fclose(out) != 0 && rc == 0) return host_fail(ctx, local, std::strerror(errno));
    if (rc != 0) std::remove(local.c_str());
    return rc;
}

int cmd_put(const Context& ctx, const Args& args)
{
    if (args.size() != 2) return usage_fail(ctx, "expects LOCAL PATH");
    const std::string& local = args[0];
    const std::string& path = args[1];
    FILE* in = local == "-" ? stdin : std::fopen(local.c_str(), "rb");
    if (!in) return host_fail(ctx, local, std::strerror(errno));
    struct stat st;
    if (::fstat(::fileno(in), &st) == 0 && S_ISREG(st.st_mode) && static_cast<uint64_t>(st.st_size) > 0xFFFFFFFFull) {
        if (in != stdin) std::fclose(in);
        return host_fail(ctx, local, "too large for a FAT file (at most 4 GiB - 1 bytes)");
    }

    FIL fil;
    FRESULT res = f_open(&fil, path.c_str(), FM_WRITE | FM_CREATE_ALWAYS);
    if (res != FR_OK) {
        if (in != stdin) std::fclose(in);
        return fail(ctx, path, res, res == FR_NO_FILE ? DIRECTORY_FULL : nullptr);
    }
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
            rc = host_fail(ctx, local, "too large for a FAT file (at most 4 GiB - 1 bytes)");
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
            rc = fail(ctx, path, FR_DENIED, "volume full");
            break;
        }
    }
    if (in != stdin) std::fclose(in);
    res = f_close(&fil);
    if (rc == 0 && res != FR_OK) rc = fail(ctx, path, res);
    // A partial copy is not left behind under the name asked for.
    if (rc != 0) f_unlink(path.c_str());
    return rc;
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
};

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(USAGE, stdout);
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

    struct stat st;
    if (::stat(ctx.image.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        return host_fail(ctx, ctx.image, "is a directory, not a disk image");

    // attrib without changes only reads.
    const bool writes = cmd->writes && !(cmd->run == cmd_attrib && args.size() <= 1);
    if (!diskimage_open(ctx.image.c_str(), writes))
        return host_fail(ctx, ctx.image,
                         std::string("cannot open image") + (writes ? " for writing" : "") + ": " +
                             std::strerror(errno));
    FATFS fs;
    f_mount(0, &fs);
    const int rc = cmd->run(ctx, args);
    f_mount(0, nullptr);
    diskimage_close();
    if (std::fflush(stdout) != 0) return host_fail(ctx, "standard output", std::strerror(errno));
    return rc;
}
