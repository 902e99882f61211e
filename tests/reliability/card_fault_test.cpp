// Card faults switched on in the middle of normal work (before the Kth call
// of a fixed sequence, for every K): no call hangs, calls that must reach the
// card fail, a failed data operation leaves the file in the sticky error
// state, nothing reported as done is missing afterwards, and once the faults
// stop the volume mounts again and works.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/tick.h"
#include "fatfs/diskio.h"
#include "fatfs/ff.h"
#include "fatfs/sdspi.h"
#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/board.h"
#include "sim/card_model.h"
#include "workloads/power_loss.h"
#include "tests/support/firmware_harness.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kCardBytes = 4u << 20;
// The longest a single call may take in board time: a few of the driver's
// 500 ms waits, never an endless one.
const sim::Cycle kCallLimit = sim::cycles_from_ms(5'000);

struct Fault {
    const char* name;
    std::function<void(sim::CardModel&)> arm;
    bool writes_fail;  // every write the card is given fails
    // Faults switched on before every `stride`th call, and at `mid_call_runs`
    // board times (a card that keeps the driver waiting costs much simulation
    // per call).
    std::size_t stride = 1;
    int mid_call_runs = 24;
    // The card went away: it comes back as a card just inserted, which only
    // a remount initialises again (a close before that may fail).
    bool comes_back_reset = false;
};

const Fault kFaults[] = {
    {"read_error_token", [](sim::CardModel& c) { c.faults().error_token = true; }, false},
    {"no_data_token", [](sim::CardModel& c) { c.faults().no_data_token = true; }, false, 2, 8},
    {"rejected_writes", [](sim::CardModel& c) { c.faults().reject_writes = true; }, true},
    {"busy_beyond_timeout", [](sim::CardModel& c) { c.timing().write_busy = sim::cycles_from_ms(700); }, true, 7, 2},
    {"card_gone", [](sim::CardModel& c) { c.faults().no_card = true; }, true, 1, 24, true},
};

Bytes pattern(std::size_t n, unsigned seed)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; i++) b[i] = static_cast<uint8_t>(seed * 29 + i * 11 + (i >> 9));
    return b;
}

// What the sequence has been told is on the card, and the state of A.TXT.
struct World {
    FIL a{}, b{};
    Bytes a_data;          // A.TXT as the file object sees it
    std::size_t a_pos = 0;
    Bytes a_synced;        // A.TXT as its last successful f_sync left it
    bool a_on_card = false; // a sync of A.TXT succeeded at least once
    bool a_changed = false; // A.TXT has changes no sync has stored yet
    bool rename_tried = false;
    bool unlink_tried = false;
    bool dir_made = false; // f_mkdir("D") succeeded
    Bytes b_data;          // D/B.BIN as written
    bool b_closed = false; // f_close of D/B.BIN succeeded
    bool b_renamed = false;
    bool c_unlinked = false;
};

enum class Kind { Data, Flush, Other };

struct Call {
    const char* name;
    Kind kind;
    // The call cannot succeed without writing to the card (a sync only when
    // the file has changes to store).
    bool always_writes;
    std::function<FRESULT(World&)> run;
};

// f_sync of A; on success what was written so far is what the card holds.
FRESULT sync_a(World& w)
{
    const FRESULT r = f_sync(&w.a);
    if (r == FR_OK) {
        w.a_synced = w.a_data;
        w.a_on_card = true;
        w.a_changed = false;
    }
    return r;
}

FRESULT write_a(World& w, std::size_t n, unsigned seed)
{
    const Bytes data = pattern(n, seed);
    UINT bw = 0;
    const FRESULT r = f_write(&w.a, data.data(), static_cast<UINT>(n), &bw);
    if (w.a_data.size() < w.a_pos + bw) w.a_data.resize(w.a_pos + bw);
    std::copy(data.begin(), data.begin() + bw, w.a_data.begin() + static_cast<std::ptrdiff_t>(w.a_pos));
    w.a_pos += bw;
    if (r == FR_OK && bw) w.a_changed = true;
    return r;
}

const std::vector<Call>& calls()
{
    static const std::vector<Call> list = {
        {"write A", Kind::Data, false, [](World& w) { return write_a(w, 700, 1); }},
        {"sync A", Kind::Flush, true, sync_a},
        {"seek A to 0", Kind::Data, false, [](World& w) {
             const FRESULT r = f_lseek(&w.a, 0);
             if (r == FR_OK) w.a_pos = 0;
             return r;
         }},
        {"read A", Kind::Data, false, [](World& w) {
             Bytes got(1200);
             UINT br = 0;
             const FRESULT r = f_read(&w.a, got.data(), 1200, &br);
             got.resize(br);
             if (r == FR_OK) {
                 EXPECT_EQ(got, Bytes(w.a_data.begin() + static_cast<std::ptrdiff_t>(w.a_pos),
                                      w.a_data.begin() + static_cast<std::ptrdiff_t>(std::min(w.a_data.size(), w.a_pos + 1200))))
                     << "f_read succeeded with other bytes than the file holds";
             }
             w.a_pos += br;
             return r;
         }},
        {"seek A to the end", Kind::Data, false, [](World& w) {
             const FRESULT r = f_lseek(&w.a, static_cast<DWORD>(w.a_data.size()));
             if (r == FR_OK) w.a_pos = w.a_data.size();
             return r;
         }},
        {"write A across sectors", Kind::Data, false, [](World& w) { return write_a(w, 1500, 2); }},
        {"mkdir D", Kind::Other, true, [](World& w) {
             const FRESULT r = f_mkdir("D");
             w.dir_made = r == FR_OK;
             return r;
         }},
        {"create D/B.BIN", Kind::Other, false, [](World& w) { return f_open(&w.b, "D/B.BIN", FM_WRITE | FM_CREATE_ALWAYS); }},
        {"write B", Kind::Data, false, [](World& w) {
             const Bytes data = pattern(2000, 3);
             UINT bw = 0;
             const FRESULT r = f_write(&w.b, data.data(), 2000, &bw);
             w.b_data.assign(data.begin(), data.begin() + bw);
             return r;
         }},
        {"close B", Kind::Flush, true, [](World& w) {
             const FRESULT r = f_close(&w.b);
             w.b_closed = r == FR_OK;
             return r;
         }},
        {"rename B to C", Kind::Other, true, [](World& w) {
             w.rename_tried = true;
             const FRESULT r = f_rename("D/B.BIN", "D/C.BIN");
             w.b_renamed = r == FR_OK;
             return r;
         }},
        {"stat A", Kind::Other, false, [](World&) {
             FILINFO fno;
             return f_stat("A.TXT", &fno);
         }},
        {"sync A again", Kind::Flush, true, sync_a},
        {"unlink C", Kind::Other, true, [](World& w) {
             w.unlink_tried = true;
             const FRESULT r = f_unlink("D/C.BIN");
             w.c_unlinked = r == FR_OK;
             return r;
         }},
        {"truncate A", Kind::Data, false, [](World& w) {
             FRESULT r = f_lseek(&w.a, 100);
             if (r == FR_OK) w.a_pos = 100;
             if (r == FR_OK) r = f_truncate(&w.a);
             if (r == FR_OK) {
                 w.a_data.resize(100);
                 w.a_changed = true;
             }
             return r;
         }},
    };
    return list;
}

Bytes read_back(const char* path, FRESULT& r)
{
    FIL f;
    r = f_open(&f, path, FM_READ);
    if (r != FR_OK) return {};
    Bytes got(8192);
    UINT br = 0;
    r = f_read(&f, got.data(), static_cast<UINT>(got.size()), &br);
    got.resize(br);
    f_close(&f);
    return got;
}

class CardFaults : public ::testing::TestWithParam<Fault> {};

// When the faults start: before call `before_call`, or (`at` not 0) at that
// board time after the sequence began, in the middle of whatever call runs.
struct Arming {
    std::size_t before_call = 0;
    sim::Cycle at = 0;
};

// Runs the sequence with the faults armed as `when` says and checks
// everything; returns the board times at which the sequence began and ended.
std::pair<sim::Cycle, sim::Cycle> run_sequence(const Fault& fault, const Bytes& base, const Arming& when)
{
    std::pair<sim::Cycle, sim::Cycle> span{0, 0};
    sim::Board board;
    sim::CompiledCpu cpu(board);
    OSCSetPBDIV(OSC_PB_DIV_1);
    test_support::start_tick(cpu);
    disk_attach(0, &sdspi_disk, nullptr);
    sim::MemoryImage image(base);
    sim::CardModel card(sim::CardKind::Sdhc, image);
    board.plug(card);
    const sim::CardTiming healthy = card.timing();
    World w;
    static FATFS fs;

    board.stop_at(board.now() + sim::cycles_from_ms(120'000));
    // Faults switched on in the middle of a call, at a board time.
    std::size_t armed_in = calls().size();
    std::size_t current = 0;
    if (when.at) {
        board.every(when.at, [&](sim::Board&) {
            if (armed_in < calls().size()) return;
            fault.arm(card);
            armed_in = current;
        });
    }
    const bool hung = cpu.run([&] {
        ASSERT_EQ(disk_initialize(0), 0);
        fs = FATFS{};
        f_mount(0, &fs);
        ASSERT_EQ(f_open(&w.a, "A.TXT", FM_READ | FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
        span.first = board.now();
        for (std::size_t i = 0; i < calls().size(); i++) {
            const Call& c = calls()[i];
            current = i;
            if (!when.at && i == when.before_call) {
                fault.arm(card);
                armed_in = i;
            }
            const bool armed_before = armed_in <= i;
            const bool had_error = w.a.flag & FM_ERROR;
            const sim::Cycle start = board.now();
            const bool must_write = c.always_writes && (c.kind != Kind::Flush || w.a_changed || std::string(c.name) == "close B");
            const FRESULT r = c.run(w);
            EXPECT_LT(board.now() - start, kCallLimit) << c.name << " took too long";
            if (armed_in > i) {
                ASSERT_EQ(r, FR_OK) << c.name << " failed on a healthy card";
                continue;
            }
            if (fault.writes_fail && must_write && armed_before) {
                EXPECT_NE(r, FR_OK) << c.name << " reported success";
            }
            const bool on_a = c.kind == Kind::Data && std::string(c.name).find(" A") != std::string::npos;
            if (on_a && had_error) {
                EXPECT_EQ(r, FR_INT_ERR) << c.name << " on a file in the error state";
            }
            if (on_a && r == FR_DISK_ERR) {
                EXPECT_TRUE(w.a.flag & FM_ERROR) << c.name << " failed without FM_ERROR";
            }
            if (had_error) {
                EXPECT_TRUE(w.a.flag & FM_ERROR) << "FM_ERROR was cleared";
            }
        }

        span.second = board.now();
        // The faults stop (a busy card finishes its write first). The error
        // state stays; flushing and closing work.
        card.faults() = {};
        card.timing() = healthy;
        if (fault.comes_back_reset && armed_in < calls().size()) card.power_cycle();
        delayms(1500);
        if (w.a.flag & FM_ERROR) {
            BYTE buf[16];
            UINT n = 0;
            EXPECT_EQ(f_read(&w.a, buf, sizeof buf, &n), FR_INT_ERR);
            EXPECT_EQ(f_write(&w.a, buf, sizeof buf, &n), FR_INT_ERR);
            EXPECT_EQ(f_lseek(&w.a, 0), FR_INT_ERR);
            EXPECT_EQ(f_truncate(&w.a), FR_INT_ERR);
        }
        // Closing works once the card does; a drive that lost its
        // initialisation (the card was gone) first needs a remount.
        const FRESULT closed = f_close(&w.a);
        if (disk_status(0) & STAT_NOINIT) {
            EXPECT_EQ(closed, FR_NOT_READY);
        } else if (!fault.comes_back_reset) {
            EXPECT_EQ(closed, FR_OK) << "closing fails once the card works again";
        }

        // A remount sees everything reported as done.
        f_mount(0, nullptr);
        fs = FATFS{};
        f_mount(0, &fs);
        DIR root;
        ASSERT_EQ(f_opendir(&root, "/"), FR_OK) << "the volume does not mount after the faults";
        FRESULT r;
        const Bytes a = read_back("A.TXT", r);
        if (w.a_on_card) {
            EXPECT_EQ(r, FR_OK);
        }
        // A later write or a sync cut short may have added to A, but what
        // a successful sync stored is there.
        const std::size_t keep = std::min(w.a_synced.size(), std::size_t{100});
        ASSERT_GE(a.size(), keep);
        EXPECT_TRUE(std::equal(w.a_synced.begin(), w.a_synced.begin() + keep, a.begin()));
        // A rename or unlink that failed may still complete when the
        // changes it left in the window reach the card later: B.BIN is
        // under one name, or (unlink tried) gone.
        if (w.b_closed && !w.unlink_tried) {
            const Bytes b = read_back("D/B.BIN", r);
            const Bytes c = read_back("D/C.BIN", r);
            if (w.b_renamed) {
                EXPECT_EQ(c, w.b_data);
            } else if (w.rename_tried) {
                EXPECT_TRUE(b == w.b_data || c == w.b_data);
            } else {
                EXPECT_EQ(b, w.b_data);
            }
        }
        FILINFO fno;
        if (w.dir_made) {
            EXPECT_EQ(f_stat("D", &fno), FR_OK);
        }
        if (w.c_unlinked) {
            EXPECT_EQ(f_stat("D/C.BIN", &fno), FR_NO_FILE);
        }

        // And it works again.
        FIL f;
        const Bytes data = pattern(1300, 9);
        UINT bw = 0;
        ASSERT_EQ(f_open(&f, "AFTER.BIN", FM_WRITE | FM_CREATE_ALWAYS), FR_OK);
        EXPECT_EQ(f_write(&f, data.data(), 1300, &bw), FR_OK);
        EXPECT_EQ(f_close(&f), FR_OK);
        EXPECT_EQ(read_back("AFTER.BIN", r), data);
        f_mount(0, nullptr);
    });
    EXPECT_FALSE(hung) << "the board ran out of time: a call hung";
    return span;
}

TEST_P(CardFaults, EveryCallEndsAndTheVolumeRecovers)
{
    const Fault& fault = GetParam();
    const Bytes base = power_loss::mkfs_fat_image(kCardBytes);
    for (std::size_t k = 0; k < calls().size() && !HasFailure(); k += fault.stride) {
        SCOPED_TRACE(std::string("faults from call ") + std::to_string(k) + " (" + calls()[k].name + ")");
        run_sequence(fault, base, Arming{k, 0});
    }
}

TEST_P(CardFaults, FaultsStartingInTheMiddleOfACall)
{
    const Fault& fault = GetParam();
    const Bytes base = power_loss::mkfs_fat_image(kCardBytes);
    // Board times spread over the sequence as it runs on a healthy card, by
    // a fixed pseudo-random walk.
    const auto [start, end] = run_sequence(fault, base, Arming{calls().size(), 0});
    ASSERT_GT(end, start);
    uint64_t x = 12345;
    for (int n = 0; n < fault.mid_call_runs && !HasFailure(); n++) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        const sim::Cycle at = start + (x >> 16) % (end - start);
        SCOPED_TRACE("faults from board time " + std::to_string(at));
        run_sequence(fault, base, Arming{0, at});
    }
}

INSTANTIATE_TEST_SUITE_P(Card, CardFaults, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
