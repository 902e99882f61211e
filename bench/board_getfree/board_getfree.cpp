// Board time of f_getfree on a 32 GB FAT32 card whose free count is unknown:
// the firmware, the card driver and the FAT module on the simulated board
// with an SDHC card model. The whole FAT is read once; the bound is reading
// those sectors at the card's 13.33 MHz clock.
#include <chrono>
#include <cstdio>

#include "platform/pic32/pic32.h"
#include "fatfs/diskio.h"
#include "fatfs/ff.h"
#include "fatfs/sdspi.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "workloads/firmware_tick.h"
#include "sim/board.h"
#include "sim/card_model.h"
#include "sim/disk_image.h"

namespace {

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

}  // namespace

int main() {
    using Clock = std::chrono::steady_clock;
    sim::Board board;
    sim::CompiledCpu cpu(board);
    sim::MemoryImage image(uint64_t{32} << 30);
    sim::CardModel card(sim::CardKind::Sdhc, image);
    board.plug(card);
    SYSTEMConfigPerformance(80000000);  // 80 MHz peripheral bus, as the firmware runs it
    workloads::start_firmware_tick(cpu);
    disk_attach(0, &sdspi_disk, nullptr);

    if (disk_initialize(0) & STAT_NOINIT) {
        std::puts("card did not initialise");
        return 1;
    }
    static FATFS fs;
    f_mount(0, &fs);
    const sim::Cycle mkfs_start = board.now();
    FRESULT res = f_mkfs(0, 0, 0);
    if (res != FR_OK) {
        std::printf("f_mkfs: %d\n", res);
        return 1;
    }
    const double mkfs_s = static_cast<double>(board.now() - mkfs_start) / sim::kSysClockHz;

    // Forget the free count: FSInfo's count becomes 0xFFFFFFFF, as on a card
    // another system left without one.
    uint8_t boot[512];
    image.read(0, boot, 512);
    const uint64_t volume = le32(boot + 0x1C6);  // first partition's start sector
    uint8_t bpb[512];
    image.read(volume * 512, bpb, 512);
    const uint32_t fsinfo = volume + (bpb[48] | bpb[49] << 8);
    const uint8_t unknown[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    image.write(uint64_t{fsinfo} * 512 + 488, unknown, 4);
    const uint32_t fat_sectors = le32(bpb + 36);

    f_mount(0, &fs);  // mounts again on the next call
    DWORD free_clusters = 0;
    FATFS* pfs = nullptr;
    const uint64_t read_before = card.bytes_read();
    const sim::Cycle start = board.now();
    const auto host_start = Clock::now();
    res = f_getfree("0:", &free_clusters, &pfs);
    const double host_s = std::chrono::duration<double>(Clock::now() - host_start).count();
    const double board_s = static_cast<double>(board.now() - start) / sim::kSysClockHz;
    if (res != FR_OK) {
        std::printf("f_getfree: %d\n", res);
        return 1;
    }
    const double bytes = static_cast<double>(card.bytes_read() - read_before);
    const double bound_s = fat_sectors * (512.0 + 8) * 8 / (80e6 / 6);  // data, token, CRC, command per sector
    std::printf("32 GB FAT32, %u FAT sectors, %u clusters free of %u (f_mkfs took %.2f s of board time)\n",
                fat_sectors, free_clusters, pfs ? pfs->n_fatent - 2 : 0, mkfs_s);
    std::printf("f_getfree with the count unknown: %.3f s board time, bound %.3f s (FAT at 13.33 MHz), ratio %.2f;"
                " %.0f bytes read; %.3f s host time\n",
                board_s, bound_s, board_s / bound_s, bytes, host_s);
    return 0;
}
