// Fuzz target: the path resolver and the short-name parser.
//
// The input is split at NUL bytes into up to four paths; each goes through
// lookups, the current directory, creation and renaming. Every path is copied
// into a buffer of exactly its length, so reading past its end is caught.
// Afterwards every entry on the volume must still carry a valid short name.
#include <cstring>
#include <string>
#include <vector>

#include "fatfs/ff.h"
#include "fuzz/fuzz_disk.h"
#include "fuzz/fuzz_targets.h"

namespace fuzz {
namespace {

constexpr int kMaxPaths = 4;

// Characters a stored short name may never hold.
bool valid_name_char(unsigned char c)
{
    if (c < 0x20 || (c >= 'a' && c <= 'z')) return false;
    return !std::strchr("\"*+,./:;<=>?[\\]|", c);
}

// The name as f_readdir gives it: 1..8 body characters, then optionally a
// dot and 1..3 extension characters.
bool valid_listed_name(const char* name)
{
    if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) return true;
    const char* dot = std::strchr(name, '.');
    const std::size_t body = dot ? static_cast<std::size_t>(dot - name) : std::strlen(name);
    const std::size_t ext = dot ? std::strlen(dot + 1) : 0;
    if (body < 1 || body > 8 || (dot && (ext < 1 || ext > 3))) return false;
    for (const char* p = name; *p; p++)
        if (p != dot && !valid_name_char(static_cast<unsigned char>(*p))) return false;
    return true;
}

void check_tree(const std::string& dir, int depth)
{
    DIR dj;
    require(f_opendir(&dj, dir.c_str()) == FR_OK, "a directory does not open");
    FILINFO fno;
    int entries = 0;
    while (f_readdir(&dj, &fno) == FR_OK && fno.fname[0]) {
        require(++entries < 600, "a directory does not end");
        require(valid_listed_name(fno.fname), "an entry with an invalid short name");
        if ((fno.fattrib & ATTR_DIRECTORY) && fno.fname[0] != '.') {
            require(depth < 20, "the tree does not end");
            check_tree(dir + "/" + fno.fname, depth + 1);
        }
    }
}

const MemoryDisk& base_volume()
{
    static MemoryDisk base;
    if (base.sectors() == 0) {
        FuzzDrive& disk = FuzzDrive::get();
        disk.start(MemoryDisk(2000));
        FATFS fs;
        std::memset(&fs, 0, sizeof fs);
        f_mount(0, &fs);
        require(f_mkfs(0, 1, 512) == FR_OK, "f_mkfs of the base volume failed");
        require(f_mkdir("DIR") == FR_OK && f_mkdir("DIR/SUB") == FR_OK, "base directories");
        FIL f;
        for (const char* p : {"A.TXT", "DIR/B.BIN", "DIR/SUB/C"}) {
            require(f_open(&f, p, FM_WRITE | FM_CREATE_NEW) == FR_OK, "base file");
            UINT bw = 0;
            require(f_write(&f, p, 5, &bw) == FR_OK && f_close(&f) == FR_OK, "base file contents");
        }
        f_mount(0, nullptr);
        base = disk.medium;
    }
    return base;
}

}  // namespace

void path_parser(const uint8_t* data, std::size_t size)
{
    std::vector<std::vector<char>> paths;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= size && static_cast<int>(paths.size()) < kMaxPaths; i++) {
        if (i == size || data[i] == 0) {
            paths.emplace_back(data + start, data + i);
            paths.back().push_back('\0');
            start = i + 1;
        }
    }
    const char* a = paths[0].data();
    const char* b = paths.size() > 1 ? paths[1].data() : a;

    FuzzDrive& disk = FuzzDrive::get();
    disk.start(base_volume());
    FATFS fs;
    std::memset(&fs, 0, sizeof fs);
    f_mount(0, &fs);

    // Lookups change nothing.
    FILINFO fno;
    (void)f_stat(a, &fno);
    DIR dj;
    (void)f_opendir(&dj, a);
    FIL f;
    if (f_open(&f, a, FM_READ) == FR_OK) require(f_close(&f) == FR_OK, "closing a file only read failed");
    if (f_chdir(a) == FR_OK) {
        std::vector<char> cwd(1 + size % 40);
        (void)f_getcwd(cwd.data(), static_cast<UINT>(cwd.size()));
        require(std::memchr(cwd.data(), 0, cwd.size()) != nullptr, "f_getcwd left no terminator");
    }
    require(disk.sectors_written() == 0, "a lookup wrote to the volume");

    // Changes.
    (void)f_mkdir(b);
    if (f_open(&f, a, FM_WRITE | FM_OPEN_ALWAYS) == FR_OK) require(f_close(&f) == FR_OK, "closing a new file failed");
    for (std::size_t i = 2; i < paths.size(); i++) (void)f_rename(paths[i - 1].data(), paths[i].data());
    (void)f_rename(a, b);
    (void)f_unlink(b);
    require(!disk.wrote_outside(), "a write outside the volume");

    f_mount(0, nullptr);
    f_mount(0, &fs);
    check_tree("/", 0);
    f_mount(0, nullptr);
}

}  // namespace fuzz
