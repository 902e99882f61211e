// Throughput of f_write and f_read on a RAM disk for several call sizes,
// next to memcpy of the same bytes in the same call sizes (the bound: the
// module must move every byte at least once between the disk and the caller).
//
//   fat_throughput [MiB per run, default 16] [only this call size]
//
// With a single call size it suits valgrind --tool=callgrind for per-call
// instruction counts.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fatfs/ff.h"
#include "fatfs/host/memory_disk.h"

namespace {

using Clock = std::chrono::steady_clock;

// A FAT16 volume with 4 KiB clusters on a 64 MiB RAM disk, written by hand so
// the benchmark does not depend on the formatter.
void format(MemoryDisk& d)
{
    const DWORD total = d.sectors();
    const WORD rsvd = 4, root_entries = 512;
    const BYTE csize = 8;
    const WORD fatsz = static_cast<WORD>(((total / csize) + 2) * 2 / 512 + 1);
    BYTE* bs = d.sector(0);
    bs[0] = 0xEB; bs[1] = 0x3C; bs[2] = 0x90;
    bs[11] = 0x00; bs[12] = 0x02;  // 512 bytes per sector
    bs[13] = csize;
    std::memcpy(bs + 14, &rsvd, 2);
    bs[16] = 2;
    std::memcpy(bs + 17, &root_entries, 2);
    bs[21] = 0xF8;
    std::memcpy(bs + 22, &fatsz, 2);
    std::memcpy(bs + 32, &total, 4);
    std::memcpy(bs + 54, "FAT16   ", 8);
    bs[510] = 0x55; bs[511] = 0xAA;
    for (DWORD f = 0; f < 2; f++) {
        BYTE* fat = d.sector(rsvd + f * fatsz);
        const WORD e[2] = {0xFFF8, 0xFFFF};
        std::memcpy(fat, e, sizeof e);
    }
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

volatile BYTE g_sink;

} // namespace

int main(int argc, char** argv)
{
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 16;
    const std::size_t total = mib << 20;
    MemoryDisk disk(64u << 11);  // 64 MiB
    disk.attach(0);
    format(disk);
    FATFS fs {};
    f_mount(0, &fs);

    std::vector<BYTE> src(total), dst(total);
    for (std::size_t i = 0; i < total; i++) src[i] = static_cast<BYTE>(i * 131 + 7);

    std::printf("%-8s %12s %12s %12s %10s %10s\n", "call", "memcpy MB/s", "f_write MB/s", "f_read MB/s",
                "write/mem", "read/mem");
    const UINT only = argc > 2 ? static_cast<UINT>(std::strtoul(argv[2], nullptr, 10)) : 0;
    for (UINT call : {2u, 32u, 512u, 4096u, 65536u}) {
        if (only && call != only) continue;
        double t_mem = 1e9, t_wr = 1e9, t_rd = 1e9;
        for (int rep = 0; rep < 3; rep++) {
            // memcpy of the same bytes in the same call size
            auto t0 = Clock::now();
            for (std::size_t off = 0; off < total; off += call)
                std::memcpy(dst.data() + off, src.data() + off, std::min<std::size_t>(call, total - off));
            g_sink = dst[total / 2];
            t_mem = std::min(t_mem, seconds(Clock::now() - t0));

            FIL f;
            UINT n;
            if (f_open(&f, "BENCH.BIN", FM_WRITE | FM_CREATE_ALWAYS) != FR_OK) return 1;
            t0 = Clock::now();
            for (std::size_t off = 0; off < total; off += call) {
                const UINT len = static_cast<UINT>(std::min<std::size_t>(call, total - off));
                if (f_write(&f, src.data() + off, len, &n) != FR_OK || n != len) return 2;
            }
            if (f_close(&f) != FR_OK) return 3;
            t_wr = std::min(t_wr, seconds(Clock::now() - t0));

            if (f_open(&f, "BENCH.BIN", FM_READ) != FR_OK) return 4;
            t0 = Clock::now();
            for (std::size_t off = 0; off < total; off += call) {
                const UINT len = static_cast<UINT>(std::min<std::size_t>(call, total - off));
                if (f_read(&f, dst.data() + off, len, &n) != FR_OK || n != len) return 5;
            }
            t_rd = std::min(t_rd, seconds(Clock::now() - t0));
            f_close(&f);
            if (std::memcmp(src.data(), dst.data(), total) != 0) return 6;
        }
        const double mb = static_cast<double>(total) / 1e6;
        std::printf("%-8u %12.0f %12.0f %12.0f %10.1f %10.1f\n", call, mb / t_mem, mb / t_wr, mb / t_rd,
                    t_wr / t_mem, t_rd / t_mem);
    }
    f_mount(0, nullptr);
    return 0;
}
