#include "tools/tessivo-sim/card_probe.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <type_traits>

#include "app/tick.h"
#include "fatfs/sdspi.h"
#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/board.h"
#include "tools/common/extent_copy.h"

namespace tessivo_sim {
namespace {

static_assert(std::is_trivially_copyable_v<tools::CardFacts>, "the facts cross the pipe as bytes");

// Board time the look may take: the card's identification and a few reads.
constexpr sim::Cycle kProbeLimit = sim::cycles_from_ms(5000);

[[noreturn]] void look_and_report(sim::DiskImage& image, sim::CardKind kind, int out) {
    bool answered = false;
    tools::CardFacts facts;
    {
        sim::CardModel card(kind, image);
        sim::Board board;
        sim::CompiledCpu cpu(board);
        board.plug(card);
        board.stop_at(kProbeLimit);
        cpu.set_vector(CORE_TIMER_VECTOR, &CoreTimerHandler);
        cpu.run([&] {
            // The firmware's own start: bus clock, interrupts, the 1 ms tick
            // that times the card driver's waits.
            OSCSetPBDIV(OSC_PB_DIV_1);
            INTEnableSystemMultiVectoredInt();
            tick_start();
            disk_attach(0, &sdspi_disk, nullptr);  // the card in the socket is drive 0
            facts = tools::check_card();
            answered = true;
        });
    }
    const bool sent = answered && tools::write_all(out, &facts, sizeof facts);
    ::_exit(sent ? 0 : 1);
}

}  // namespace

std::optional<tools::CardFacts> probe_card(sim::DiskImage& image, sim::CardKind kind) {
    int pipe_fds[2];
    if (::pipe(pipe_fds) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe_fds[0]);
        look_and_report(image, kind, pipe_fds[1]);
    }
    ::close(pipe_fds[1]);
    tools::CardFacts facts;
    size_t got = 0;
    auto* p = reinterpret_cast<char*>(&facts);
    while (child > 0 && got < sizeof facts) {
        const ssize_t n = ::read(pipe_fds[0], p + got, sizeof facts - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ::close(pipe_fds[0]);
    int status = 0;
    if (child > 0) ::waitpid(child, &status, 0);
    if (child <= 0 || got != sizeof facts) return std::nullopt;
    return facts;
}

}  // namespace tessivo_sim
