// The decoder driver on the simulated board, checked by the VS10xx model.
#include <gtest/gtest.h>
#include <mpg123.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/decoder.h"
#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/decoder_model.h"
#include "tests/support/firmware_harness.h"

namespace {

using sim::DecoderModel;
using sim::Port;

constexpr uint32_t kXdcs = 1u << 2, kXcs = 1u << 3, kXreset = 1u << 9, kDreq = 1u << 9;
constexpr uint32_t kSlowSck = 80'000'000 / 1602, kFastSck = 80'000'000 / 12;

// One byte on the decoder's SPI bus with the chip selects at its start.
struct WireByte {
    uint8_t mosi;
    bool xcs, xdcs;  // true: selected (low)
    uint32_t sck_hz;
    bool operator==(const WireByte&) const = default;
};

std::ostream& operator<<(std::ostream& os, const WireByte& b) {
    return os << "{" << int{b.mosi} << (b.xcs ? " XCS" : "") << (b.xdcs ? " XDCS" : "") << " " << b.sck_hz << " Hz}";
}

// The decoder with the bus it sees recorded.
class BusSpy : public sim::DecoderModel {
public:
    uint8_t exchange(uint8_t mosi, const sim::SpiLink& link) override {
        log.push_back({mosi, !board().pin(Port::G, 3), !board().pin(Port::G, 2), link.sck_hz});
        return DecoderModel::exchange(mosi, link);
    }
    std::vector<WireByte> log;
};

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// libmpg123 decoding a whole file the way the model is set up to: every frame
// played (no gapless trimming), 16-bit samples.
std::vector<int16_t> decode_directly(const std::vector<uint8_t>& mp3) {
    mpg123_handle* mh = mpg123_new(nullptr, nullptr);
    mpg123_param(mh, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    mpg123_param(mh, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_format_none(mh);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) mpg123_format(mh, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(mh);
    mpg123_feed(mh, mp3.data(), mp3.size());
    std::vector<int16_t> pcm;
    for (;;) {
        off_t frame = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int r = mpg123_decode_frame(mh, &frame, &audio, &bytes);
        if (r == MPG123_NEW_FORMAT) continue;
        if (r != MPG123_OK) break;
        const auto* s = reinterpret_cast<const int16_t*>(audio);
        pcm.insert(pcm.end(), s, s + bytes / 2);
    }
    mpg123_delete(mh);
    return pcm;
}

bool dreq() { return (PORTD & kDreq) != 0; }

// XRESET low for long enough (2 crystal cycles and more), then high.
void pulse_reset() {
    PORTGCLR = kXreset;
    for (int i = 0; i < 16; ++i) Nop();
    PORTGSET = kXreset;
}

// The player's way of sending music: DREQ checked before every byte.
void stream(const uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        while (!dreq()) {
        }
        write_SDI_VS(static_cast<char>(data[i]));
    }
}

class DecoderTest : public ::testing::Test {
protected:
    void SetUp() override {
        board.plug(spy);
        SYSTEMConfigPerformance(80'000'000);  // peripheral bus at 80 MHz
        // Ports as the board's start-up leaves them.
        TRISD = 0x0300;
        PORTD = 0x0001;
        TRISG = 0x0080;
        PORTG = 0;
        PORTGSET = kXdcs | kXcs | kXreset;
    }

    std::string first_violation() const { return board.violations().empty() ? "" : board.violations().front(); }

    sim::Board board;

    sim::CompiledCpu cpu{board};
    BusSpy spy;
    DecoderModel& decoder = spy;
};

TEST_F(DecoderTest, SciWriteFrameUnderXcs) {
    Init_VS();
    spy.log.clear();
    write_SCI_VS(3, 0xC000);
    const std::vector<WireByte> expected = {
        {0x02, true, false, kFastSck}, {0x03, true, false, kFastSck}, {0xC0, true, false, kFastSck},
        {0x00, true, false, kFastSck}};
    EXPECT_EQ(spy.log, expected);
    EXPECT_TRUE(board.pin(Port::G, 3));
    EXPECT_TRUE(board.pin(Port::G, 2));
    EXPECT_EQ(decoder.sci(DecoderModel::SCI_CLOCKF), 0xC000);
    EXPECT_TRUE(board.violations().empty()) << first_violation();
}

// Register writes after reset go at the slow clock, data afterwards at the fast
// one; the decoder ends in its documented configuration.
TEST_F(DecoderTest, InitConfiguresAtTheSlowClockThenDataGoesFast) {
    Init_VS();
    write_SDI_VS(0x00);
    const std::vector<WireByte> expected = {
        {0x02, true, false, kSlowSck}, {0x00, true, false, kSlowSck}, {0x08, true, false, kSlowSck},
        {0x00, true, false, kSlowSck}, {0x02, true, false, kSlowSck}, {0x03, true, false, kSlowSck},
        {0xC0, true, false, kSlowSck}, {0x00, true, false, kSlowSck}, {0x00, false, true, kFastSck}};
    EXPECT_EQ(spy.log, expected);
    EXPECT_EQ(decoder.sci(DecoderModel::SCI_MODE), DecoderModel::SM_SDINEW);
    EXPECT_EQ(decoder.clki_hz(), 12'288'000u * 45 / 10);
    EXPECT_EQ(decoder.sdi_bytes(), 1u);
    EXPECT_TRUE(board.violations().empty()) << first_violation();
}

// Init_VS comes back only once DREQ is high: after the decoder's start-up, and
// never while nothing raises DREQ.
TEST_F(DecoderTest, InitWaitsForDreq) {
    const sim::Cycle start = board.now();
    Init_VS();
    EXPECT_TRUE(dreq());
    EXPECT_EQ(decoder.hardware_resets(), 1u);
    EXPECT_GE(board.now(), decoder.ready_at());
    EXPECT_GE(board.now() - start, sim::cycles_from_us(1790));

    // A second reset in the middle of a stream starts the decoder afresh.
    const std::vector<uint8_t> mp3 = read_file(AVIO_DATA_DIR "/tone.mp3");
    stream(mp3.data(), 4000);
    ASSERT_TRUE(decoder.playing());
    write_SCI_VS(DecoderModel::SCI_MODE, 0x0000);
    Init_VS();
    EXPECT_EQ(decoder.hardware_resets(), 2u);
    EXPECT_GT(decoder.bytes_lost_at_reset(), 1000u);
    EXPECT_EQ(decoder.fifo_bytes(), 0u);
    EXPECT_FALSE(decoder.playing());
    EXPECT_EQ(decoder.sci(DecoderModel::SCI_MODE), DecoderModel::SM_SDINEW);
    EXPECT_TRUE(board.violations().empty()) << first_violation();

    board.unplug(decoder);
    board.drive(Port::D, 9, false);
    board.stop_at(board.now() + sim::cycles_from_ms(20));
    EXPECT_TRUE(cpu.run([] { Init_VS(); })) << "Init_VS returned with DREQ low";
}

// A known MP3 streamed through the driver plays back as libmpg123 decodes the
// file, in the board time the audio lasts, without running dry.
TEST_F(DecoderTest, StreamedMp3DecodesLikeTheFile) {
    const std::vector<uint8_t> mp3 = read_file(AVIO_DATA_DIR "/tone.mp3");
    ASSERT_GT(mp3.size(), 10'000u);
    const std::vector<int16_t> reference = decode_directly(mp3);
    ASSERT_FALSE(reference.empty());
    decoder.capture_audio(true);
    decoder.capture_sdi(true);

    Init_VS();
    stream(mp3.data(), mp3.size());
    const sim::Cycle sent = board.now();
    while (decoder.playing()) cpu.advance(sim::cycles_from_ms(5));

    EXPECT_EQ(decoder.underruns(), 0u);
    EXPECT_TRUE(board.violations().empty()) << first_violation();
    EXPECT_EQ(decoder.sdi(), mp3);
    ASSERT_EQ(decoder.channels(), 2);
    EXPECT_EQ(decoder.rate(), 44100);
    EXPECT_TRUE(decoder.pcm() == reference) << decoder.pcm().size() << " samples, want " << reference.size();
    // Sending was paced by playback: it ended within the last FIFO-full of audio.
    const double played_s = static_cast<double>(reference.size() / 2) / 44100.0;
    EXPECT_GT(sim::Cycle(sent), sim::cycles_from_ms(static_cast<uint64_t>(played_s * 1000) - 250));

    const std::string wav = testing::TempDir() + "avio_decoder.wav";
    ASSERT_TRUE(decoder.write_wav(wav));
    EXPECT_EQ(read_file(wav).size(), 44 + reference.size() * 2);
    std::remove(wav.c_str());
}

// Bytes that are no MP3 stream (here a run of zeros and a cut-off frame) are
// skipped, and the music after them plays as it would alone.
TEST_F(DecoderTest, JunkBeforeTheMusicIsSkipped) {
    const std::vector<uint8_t> mp3 = read_file(AVIO_DATA_DIR "/tone.mp3");
    std::vector<uint8_t> junk(5000, 0x00);
    junk.insert(junk.end(), {0xFF, 0xFB, 0x90, 0x64, 0x00, 0x00});
    decoder.capture_audio(true);
    Init_VS();
    stream(junk.data(), junk.size());
    stream(mp3.data(), mp3.size());
    while (decoder.playing()) cpu.advance(sim::cycles_from_ms(5));
    EXPECT_TRUE(board.violations().empty()) << first_violation();
    EXPECT_EQ(decoder.underruns(), 0u);
    EXPECT_TRUE(decoder.pcm() == decode_directly(mp3)) << decoder.pcm().size() << " samples";
}

// A pause in sending longer than the FIFO lasts is an underrun; the end of the
// music is not.
TEST_F(DecoderTest, CountsUnderrunWhenTheFifoRunsDry) {
    const std::vector<uint8_t> mp3 = read_file(AVIO_DATA_DIR "/tone.mp3");
    Init_VS();
    stream(mp3.data(), mp3.size() / 2);
    cpu.advance(sim::cycles_from_ms(500));
    EXPECT_FALSE(decoder.playing());
    EXPECT_EQ(decoder.underruns(), 0u);
    stream(mp3.data() + mp3.size() / 2, mp3.size() - mp3.size() / 2);
    while (decoder.playing()) cpu.advance(sim::cycles_from_ms(5));
    EXPECT_EQ(decoder.underruns(), 1u);
}

// Bus faults the model must catch: each records a violation naming it.
TEST_F(DecoderTest, ModelCatchesBusFaults) {
    struct Fault {
        const char* what;
        void (*act)();
        const char* reported;
    };
    const Fault faults[] = {
        {"both chip selects", [] { PORTGCLR = kXcs | kXdcs; write_VS(0); PORTGSET = kXcs | kXdcs; },
         "XCS and XDCS low together"},
        {"frame cut short", [] { PORTGCLR = kXcs; write_VS(2); write_VS(0); PORTGSET = kXcs; }, "cut short after 2"},
        {"select raised mid-byte", [] { PORTGCLR = kXdcs; SPI2BUF = 0; PORTGSET = kXdcs; }, "still being clocked"},
        {"register write at the fast clock after reset",
         [] {
             pulse_reset();
             while (!dreq()) {
             }
             write_SCI_VS(0, 0x0800);
         },
         "SCI write at SCK 6666666 Hz"},
        {"access before the start-up ends", [] { pulse_reset(); write_SDI_VS(0); },
         "before the decoder finished starting"},
        {"data without SM_SDINEW", [] { write_SCI_VS(0, 0x0000); write_SDI_VS(0); }, "SM_SDINEW is clear"},
        {"ignoring DREQ", [] {
             const std::vector<uint8_t> mp3 = read_file(AVIO_DATA_DIR "/tone.mp3");
             for (size_t i = 0; i < 4000; ++i) write_SDI_VS(static_cast<char>(mp3[i]));
         },
         "full FIFO"},
    };
    for (const Fault& f : faults) {
        Init_VS();
        const size_t before = board.violations().size();
        f.act();
        ASSERT_GT(board.violations().size(), before) << f.what;
        EXPECT_NE(board.violations()[before].find(f.reported), std::string::npos)
            << f.what << ": " << board.violations()[before];
        // Let a transfer in flight finish and empty the receive buffer.
        cpu.advance(sim::cycles_from_ms(1));
        (void)static_cast<uint32_t>(SPI2BUF);
    }
}

}  // namespace

namespace {

// Select and reset timing the decoder needs, driven straight on the board's
// pins at chosen board cycles (12.5 ns each): XRESET low at least 2 crystal
// cycles (163 ns), a select high at least 2 CLKI between frames (163 ns at the
// 12.288 MHz crystal), and no select falling inside a byte.
TEST(DecoderTiming, SelectsAndResetShorterThanTheDecoderTakesAreViolations) {
    constexpr uint32_t kPortGClr = 0x1F886194u, kPortGSet = 0x1F886198u;
    struct Pins {
        sim::Board& board;
        void wait(sim::Cycle c) { board.advance_to(board.now() + c); }
        void low(uint32_t m) { board.store(kPortGClr, 4, m); }
        void high(uint32_t m) { board.store(kPortGSet, 4, m); }
    };
    const struct {
        const char* what;
        void (*act)(Pins&);
        const char* reported;  // nullptr: no violation
    } cases[] = {
        {"XRESET low 10 cycles", [](Pins& p) { p.low(kXreset); p.wait(10); p.high(kXreset); }, "XRESET low for 125.0 ns"},
        {"XRESET low 14 cycles", [](Pins& p) { p.low(kXreset); p.wait(14); p.high(kXreset); }, nullptr},
        {"XCS high 2 cycles between frames",
         [](Pins& p) { p.low(kXcs); p.wait(10); p.high(kXcs); p.wait(2); p.low(kXcs); }, "XCS high between frames"},
        {"XDCS high 14 cycles between frames",
         [](Pins& p) { p.low(kXdcs); p.wait(10); p.high(kXdcs); p.wait(14); p.low(kXdcs); }, nullptr},
        {"XDCS lowered inside a byte",
         [](Pins& p) { p.board.store(0x1F805A20u, 4, 0); p.wait(100); p.low(kXdcs); },
         "XDCS lowered while a byte was being clocked"},
    };
    for (const auto& c : cases) {
        sim::Board board;
        DecoderModel decoder;
        board.plug(decoder);
        board.store(0x1F886180u, 4, 0x0080);               // TRISG
        board.store(0x1F886190u, 4, kXreset | kXcs | kXdcs);  // PORTG: all inactive
        board.store(0x1F805A00u, 4, 0x8120);               // SPI2CON: on, mode 0, master
        board.store(0x1F805A30u, 4, 800);                  // SPI2BRG: slow
        Pins pins{board};
        pins.wait(sim::cycles_from_ms(3));  // past the start-up
        c.act(pins);
        test_support::expect_violation(board, c.what, c.reported);
    }
}

}  // namespace
