// A freshly formatted volume on the recording RAM disk, with small helpers.
#ifndef TESSIVO_TESTS_FAT_EXT_FIXTURE_H
#define TESSIVO_TESTS_FAT_EXT_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fatfs/ff.h"
#include "fatfs/ff_private.h"
#include "fatfs/host/fake_clock.h"
#include "fatfs/host/ramdisk.h"

// The module's internals, for tests that drive them directly.
using namespace ff;

// Volume sizes used by the suites (whole-card, no partition table).
struct VolumeShape {
    DWORD sectors;
    UINT au;  // bytes per cluster
};
inline constexpr VolumeShape FAT12_SMALL{4000, 512};    // 1-sector clusters, 512-entry root
inline constexpr VolumeShape FAT16_SMALL{20000, 512};
inline constexpr VolumeShape FAT32_SMALL{70000, 512};

class VolumeTest : public ::testing::Test {
protected:
    void format(VolumeShape shape);
    void TearDown() override;

    // Whole-file helpers through the module; they assert success.
    void put(const std::string& path, const std::string& data);
    std::string get(const std::string& path);
    // The file's cluster chain, read from the FAT.
    std::vector<DWORD> chain(DWORD first);
    DWORD free_clusters();
    // First cluster recorded in the entry at `path`.
    DWORD first_cluster(const std::string& path);

    std::unique_ptr<RamDisk> disk_;
    FATFS fs_{};
};

// Bytes 0..n-1 of a recognisable pattern.
std::string pattern(size_t n, unsigned seed = 1);

#endif
