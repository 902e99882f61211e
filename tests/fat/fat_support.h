// Shared helpers of the FAT module tests: hand-built volumes on the RAM disk,
// a mounted-volume fixture, and wrappers around the Debian FAT tools.
#ifndef TESSIVO_TESTS_FAT_SUPPORT_H
#define TESSIVO_TESTS_FAT_SUPPORT_H

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fatfs/ff_private.h"
#include "fatfs/host/fake_clock.h"
#include "fatfs/host/ramdisk.h"

// The module's internals, for tests that drive them directly.
using namespace ff;

// Geometry of a hand-built volume. The FAT size and total size follow from the
// cluster count, so a test can ask for an exact number of clusters.
struct VolumeSpec {
    int fat_bits = 16;        // 12, 16 or 32: entry width and file system name
    DWORD clusters = 5000;    // data clusters
    BYTE csize = 1;           // sectors per cluster
    BYTE n_fats = 2;
    WORD rsvd = 1;            // reserved sectors (FAT32: at least 2)
    WORD root_entries = 512;  // FAT12/16 root directory entries
    DWORD bsect = 0;          // partition start; 0 = no partition table
    DWORD root_clus = 2;      // FAT32 root directory cluster
    WORD fsinfo = 1;          // FAT32 FSInfo sector (relative)
    DWORD fsi_free = 0xFFFFFFFF;
    DWORD fsi_next = 0xFFFFFFFF;
    DWORD spare_sectors = 0;  // sectors after the data area (not in the volume)
};

struct Geometry {
    DWORD fatsz, fatbase, rootbase, database, total;  // sectors; total = volume size
};

Geometry geometry_of(const VolumeSpec& s);
// Writes the volume (and partition table) onto a RAM disk of fitting size.
std::unique_ptr<RamDisk> build_volume(const VolumeSpec& s);

// A volume object that leaves the registry when it goes out of scope.
struct ScopedFs {
    FATFS fs {};
    ~ScopedFs()
    {
        if (Volumes[0] == &fs) Volumes[0] = nullptr;
    }
};

// A RAM disk with a registered, mounted volume.
class MountedVolume : public ::testing::Test {
protected:
    void mount(const VolumeSpec& spec);
    void mount_disk(std::unique_ptr<RamDisk> disk);
    void TearDown() override { f_mount(0, nullptr); }

    // Raw FAT entry from the medium (first FAT) / write one there.
    DWORD fat_entry(DWORD clst) const;
    void set_fat_entry(DWORD clst, DWORD val);

    // Creates a file with the given bytes through the module.
    void write_file(const char* path, const std::vector<BYTE>& data);
    std::vector<BYTE> read_file(const char* path);

    std::unique_ptr<RamDisk> disk;
    FATFS fs {};
    VolumeSpec spec;
    Geometry geo {};
};

std::vector<BYTE> pattern(std::size_t n, unsigned seed);

// Debian FAT tools
bool fat_tools_available();
// Runs a shell command; returns its exit status and fills `out` with stdout+stderr.
int run(const std::string& cmd, std::string* out = nullptr);
std::string shell_quote(const std::string& s);

// A fresh temporary directory that is removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }
private:
    std::filesystem::path path_;
};

std::vector<BYTE> read_binary(const std::filesystem::path& p);
void write_binary(const std::filesystem::path& p, const std::vector<BYTE>& data);

#endif
