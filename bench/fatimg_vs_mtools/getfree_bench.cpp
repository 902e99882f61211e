// f_getfree on a large FAT32 image whose free count is unknown: the time of
// the full FAT count, next to reading the same FAT sectors with plain pread
// calls (the I/O the count cannot avoid), in the same run.
//
//   getfree_bench IMAGE      (a FAT32 image, e.g. made by "fatimg IMAGE mkfs --size 32G")
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

#include "fatfs/ff.h"
#include "fatfs/ff_private.h"
#include "fatfs/host/diskio_image.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: getfree_bench IMAGE\n");
        return 2;
    }
    if (!diskimage_open(argv[1], false)) {
        std::fprintf(stderr, "getfree_bench: cannot open %s\n", argv[1]);
        return 3;
    }
    static FATFS fs;
    f_mount(0, &fs);
    DWORD nfree = 0;
    FATFS* pfs = nullptr;
    if (f_getfree("", &nfree, &pfs) != FR_OK || fs.fs_type != ff::FS_FAT32) {
        std::fprintf(stderr, "getfree_bench: %s holds no FAT32 volume\n", argv[1]);
        return 1;
    }
    const DWORD fat_sectors = (fs.n_fatent * 4 + 511) / 512;
    const int reps = 5;

    double best_count = 1e9;
    for (int i = 0; i < reps; i++) {
        fs.free_clust = 0xFFFFFFFF;  // unknown, as after a mount without FSInfo
        fs.winsect = 0;              // nothing cached in the window
        const auto t0 = std::chrono::steady_clock::now();
        if (f_getfree("", &nfree, &pfs) != FR_OK) return 1;
        const double t = seconds_since(t0);
        if (t < best_count) best_count = t;
    }

    const int fd = ::open(argv[1], O_RDONLY);
    std::vector<unsigned char> sec(512);
    double best_read = 1e9;
    for (int i = 0; i < reps; i++) {
        const auto t0 = std::chrono::steady_clock::now();
        for (DWORD s = 0; s < fat_sectors; s++)
            if (::pread(fd, sec.data(), 512, static_cast<off_t>(fs.fatbase + s) * 512) != 512) return 3;
        const double t = seconds_since(t0);
        if (t < best_read) best_read = t;
    }
    ::close(fd);

    std::printf("volume: %lu clusters of %u bytes, FAT %lu sectors, %lu free\n",
                static_cast<unsigned long>(fs.n_fatent - 2), fs.csize * 512u,
                static_cast<unsigned long>(fat_sectors), static_cast<unsigned long>(nfree));
    std::printf("f_getfree full count:         %8.2f ms (best of %d)\n", best_count * 1e3, reps);
    std::printf("pread of the same FAT sectors: %8.2f ms (best of %d)\n", best_read * 1e3, reps);
    std::printf("ratio count / raw read:        %8.2f\n", best_count / best_read);
    return 0;
}
