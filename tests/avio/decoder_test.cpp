// The decoder driver on the simulated board, checked by the VS10xx model.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/decoder.h"
#include "platform/pic32/pic32.h"
#include "platform/pic32/sim/compiled_cpu.h"
#include "sim/decoder_model.h"
#include "tests/support/firmware_harness.h"
#include "tests/support/reference_mp3.h"

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

std::vector<int16_t> decode_directly(const std::vector<uint8_t>& mp3) {
    return test_support::reference_decode(mp3).samples;
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

// An MP3 stream made by lame from a rising tone, `seconds` long.
std::vector<uint8_t> encode_tone(const std::string& lame_options, double seconds) {
    const std::string base = testing::TempDir() + "avio_end_" + std::to_string(::getpid());
    const uint32_t rate = 44100;
    const auto frames = static_cast<uint32_t>(seconds * rate);
    std::vector<uint8_t> wav;
    const auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) wav.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    wav.insert(wav.end(), {'R', 'I', 'F', 'F'});
    put(36 + frames * 2, 4);
    wav.insert(wav.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(16, 4), put(1, 2), put(1, 2), put(rate, 4), put(rate * 2, 4), put(2, 2), put(16, 2);
    wav.insert(wav.end(), {'d', 'a', 't', 'a'});
    put(frames * 2, 4);
    for (uint32_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        put(static_cast<uint16_t>(static_cast<int16_t>(12000 * std::sin(2 * M_PI * (300 + 400 * t) * t))), 2);
    }
    std::ofstream(base + ".wav", std::ios::binary).write(reinterpret_cast<const char*>(wav.data()),
                                                          static_cast<std::streamsize>(wav.size()));
    const std::string cmd = "lame --silent " + lame_options + " " + base + ".wav " + base + ".mp3";
    const bool made = std::system(cmd.c_str()) == 0;
    std::vector<uint8_t> mp3 = made ? read_file(base + ".mp3") : std::vector<uint8_t>{};
    std::remove((base + ".wav").c_str());
    std::remove((base + ".mp3").c_str());
    return mp3;
}

struct Encoding {
    const char* name;
    const char* lame_options;
};

class EndOfStream : public DecoderTest, public ::testing::WithParamInterface<Encoding> {};

// A reset straight after the last byte cuts what the decoder still holds;
// the zeros of Finish_VS let it play the whole stream first.
TEST_P(EndOfStream, IsHeardWholeBeforeTheNextReset) {
    const std::vector<uint8_t> mp3 = encode_tone(GetParam().lame_options, 1.5);
    ASSERT_FALSE(mp3.empty()) << "lame failed";
    const std::vector<int16_t> reference = decode_directly(mp3);
    decoder.capture_audio(true);
    decoder.capture_sdi(true);

    Init_VS();
    stream(mp3.data(), mp3.size());
    Init_VS();
    const size_t cut = decoder.pcm().size();
    EXPECT_LT(cut, reference.size()) << "without the zeros the reset cuts the end";

    stream(mp3.data(), mp3.size());
    Finish_VS();
    Init_VS();
    const std::vector<int16_t>& heard = decoder.pcm();
    ASSERT_GE(heard.size(), cut + reference.size());
    EXPECT_TRUE(std::equal(reference.begin(), reference.end(), heard.end() - static_cast<long>(reference.size())))
        << "the second stream is heard whole, to its last sample";
    EXPECT_TRUE(std::all_of(heard.begin() + static_cast<long>(cut), heard.end() - static_cast<long>(reference.size()),
                            [](int16_t s) { return s == 0; }))
        << "the pause between the streams is silence";

    std::vector<uint8_t> sent = mp3;
    sent.insert(sent.end(), mp3.begin(), mp3.end());
    sent.insert(sent.end(), 2048, 0);
    EXPECT_EQ(decoder.sdi(), sent);
    EXPECT_EQ(decoder.underruns(), 0u);
    EXPECT_TRUE(board.violations().empty()) << first_violation();
}

INSTANTIATE_TEST_SUITE_P(Rates, EndOfStream,
                         ::testing::Values(Encoding{"Cbr8Mono", "-b 8 -m m"}, Encoding{"Cbr32Mono", "-b 32 -m m"},
                                           Encoding{"Cbr128", "-b 128"}, Encoding{"Cbr320", "-b 320"},
                                           Encoding{"Vbr", "-V 4"}),
                         [](const auto& info) { return std::string(info.param.name); });

// A decoder that stops raising DREQ while a stream ends holds the player for
// one bounded wait, not for ever.
TEST_F(DecoderTest, FinishGivesUpOnADecoderThatStaysBusy) {
    test_support::start_tick(cpu);
    Init_VS();
    board.unplug(decoder);
    board.drive(Port::D, 9, false);
    const sim::Cycle start = board.now();
    board.stop_at(start + sim::cycles_from_ms(5000));
    EXPECT_FALSE(cpu.run([] { Finish_VS(); })) << "Finish_VS did not return";
    EXPECT_GE(board.now() - start, sim::cycles_from_ms(499));
    EXPECT_LT(board.now() - start, sim::cycles_from_ms(501));
    EXPECT_EQ(decoder.sdi_bytes(), 0u);
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
