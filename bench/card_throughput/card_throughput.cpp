// Board time for 1 MB read and written through the card driver in runs of 1
// and of 64 sectors, next to the least time the SPI clock allows for the same
// transfer (command, response, token, 512 data bytes, CRC, data response).
// Board time is the simulation's virtual clock, so the figures do not depend
// on the host.
#include <cstdio>
#include <vector>

#include "fatfs/sdspi.h"
#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "workloads/firmware_tick.h"
#include "sim/board.h"
#include "sim/card_model.h"

namespace {

constexpr unsigned kSectors = 2048;  // 1 MB
constexpr double kSckHz = 80e6 / 6;  // fast divisor of the driver: 13.33 MHz

// Bytes on the bus for one run of `n` sectors in the least the protocol needs.
double bound_bytes(unsigned n, bool write) {
    const double command = 6 + 1;  // command frame, R1 in the first byte
    if (!write) {
        const double block = 1 + 512 + 2;          // token, data, CRC
        const double stop = n > 1 ? 6 + 1 + 1 : 0;  // CMD12, stuff byte, R1
        return command + n * block + stop;
    }
    const double block = 1 + 512 + 2 + 1;  // token, data, CRC, data response
    const double stop = n > 1 ? 1 : 0;     // stop token
    return command + n * block + stop;
}

struct Profile {
    const char* name;
    sim::Cycle read_access;
    sim::Cycle write_busy;
};

bool run_profile(const Profile& p) {
    sim::Board board;
    sim::CompiledCpu cpu(board);
    OSCSetPBDIV(OSC_PB_DIV_1);
    workloads::start_firmware_tick(cpu);
    disk_attach(0, &sdspi_disk, nullptr);
    sim::MemoryImage image(64u << 20);
    sim::CardModel card(sim::CardKind::Sdhc, image);
    board.plug(card);
    card.timing().read_access = p.read_access;
    card.timing().write_busy = p.write_busy;
    if (disk_initialize(0) != 0) {
        std::fprintf(stderr, "card did not initialise\n");
        return false;
    }

    std::vector<BYTE> buf(64 * 512, 0x5A);
    std::printf("\ncard profile: %s (data token %.0f us after the command, busy %.0f us after each block)\n", p.name,
                static_cast<double>(p.read_access) / 80.0, static_cast<double>(p.write_busy) / 80.0);
    std::printf("%-18s %12s %12s %8s %10s\n", "transfer of 1 MB", "board ms", "bound ms", "ratio", "KB/s");
    for (bool write : {false, true}) {
        for (unsigned run : {1u, 64u}) {
            const sim::Cycle start = board.now();
            for (unsigned s = 0; s < kSectors; s += run) {
                const DRESULT res = write ? disk_write(0, buf.data(), 4096 + s, static_cast<BYTE>(run))
                                          : disk_read(0, buf.data(), 4096 + s, static_cast<BYTE>(run));
                if (res != RES_OK) {
                    std::fprintf(stderr, "transfer failed at sector %u\n", s);
                    return false;
                }
            }
            const double board_ms = static_cast<double>(board.now() - start) / 80e3;
            const double bound_ms = bound_bytes(run, write) * (kSectors / run) * 8 / kSckHz * 1e3;
            char label[32];
            std::snprintf(label, sizeof label, "%s x%u", write ? "write" : "read", run);
            std::printf("%-18s %12.1f %12.1f %8.2f %10.0f\n", label, board_ms, bound_ms, board_ms / bound_ms,
                        1024.0 / (board_ms / 1e3));
        }
    }
    for (const std::string& v : board.violations()) std::printf("violation: %s\n", v.c_str());
    return board.violations().empty();
}

}  // namespace

int main() {
    std::printf("SD card driver throughput in board time (SDHC model, SPI clock %.2f MHz)\n", kSckHz / 1e6);
    const Profile profiles[] = {
        {"typical", sim::cycles_from_us(100), sim::cycles_from_us(500)},
        {"fast", sim::cycles_from_us(5), sim::cycles_from_us(5)},
    };
    bool ok = true;
    for (const Profile& p : profiles) ok = run_profile(p) && ok;
    return ok ? 0 : 1;
}
