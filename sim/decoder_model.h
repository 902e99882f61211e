#pragma once
// Model of a VS10xx MP3 decoder (VS1053b figures) on the board: SPI2 with XCS
// on RG3 (command interface, SCI), XDCS on RG2 (data interface, SDI), XRESET
// on RG9, and DREQ driven on RD9.
//
// Documented behaviour the model keeps:
// - Crystal 12.288 MHz. After power-on or a hardware reset CLKI is the crystal;
//   SCI_CLOCKF's multiplier field (bits 15..13: x1.0 x2.0 x2.5 x3.0 x3.5 x4.0
//   x4.5 x5.0) raises it once the write has executed.
// - SPI: data taken on the rising clock edge (modes 0 and 3), 8-bit bytes;
//   SCI writes and SDI bytes at most CLKI/4, SCI reads at most CLKI/7.
// - SCI frame under XCS: instruction (0x02 write, 0x03 read), address, 16-bit
//   value high byte first. A write then executes with DREQ low: 80 CLKI for
//   most registers, 1200 crystal cycles for SCI_CLOCKF.
// - SDI bytes are taken while XDCS is low with SM_SDINEW (SCI_MODE bit 11) set;
//   power-on SCI_MODE is 0x4800. They go into a 2048-byte input FIFO; DREQ is
//   high while at least 32 bytes of it are free.
// - A hardware reset (XRESET low) returns every register to its power-on value
//   and empties the decoder; after XRESET rises DREQ stays low for 22000
//   crystal cycles (about 1.8 ms) while the decoder starts.
// - The FIFO drains in board time as the audio plays: the stream is decoded
//   with libmpg123 frame by frame, each frame is taken from the FIFO when the
//   previous one has played out, and lasts its sample count at its rate.
//   Bytes that are no stream (the zeros sent after a file) are skipped and
//   play as silence.
// - The captured audio is what a listener hears from the first sound on:
//   a pause in playback (a reset, the FIFO running dry) is silence, and a
//   hardware reset cuts the sound at once.
//
// Protocol faults are recorded as board violations: XCS and XDCS low
// together, an SCI frame cut short, a chip select raised while a byte is still
// clocked, a clock too fast for the phase, an access before the decoder is
// ready or while a register write executes, SDI bytes into a full FIFO — and
// the bus timing the data sheet sets as minimums: XRESET low at least 2
// crystal cycles; XCS/XDCS not changed inside a byte (set-up 5 ns before its
// first clock edge, hold 1 CLKI after its last) and high at least 2 CLKI
// between two frames.
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "sim/board.h"

struct mpg123_handle_struct;

namespace sim {

class DecoderModel : public Model {
public:
    static constexpr uint32_t kCrystalHz = 12'288'000;
    static constexpr size_t kFifoBytes = 2048;
    static constexpr size_t kDreqFreeBytes = 32;
    static constexpr uint32_t kBootCrystalCycles = 22'000;
    static constexpr uint16_t kPowerOnMode = 0x4800;
    static constexpr uint16_t SM_RESET = 1u << 2;
    static constexpr uint16_t SM_SDINEW = 1u << 11;
    static constexpr int SCI_MODE = 0, SCI_STATUS = 1, SCI_CLOCKF = 3;

    // Data sheet minimums: XCS/XDCS high between frames 2 CLKI, XRESET low 2
    // crystal cycles. (XCS/XDCS set-up 5 ns before the first clock edge and
    // hold 1 CLKI after the last are covered by the select not changing inside a byte.)
    static constexpr uint32_t kSelectHighClki = 2;
    static constexpr uint32_t kResetLowCrystal = 2;

    // Plugged in with board.plug(decoder): pins on port G, SPI2, DREQ on RD9.
    DecoderModel();
    ~DecoderModel() override;
    DecoderModel(const DecoderModel&) = delete;
    DecoderModel& operator=(const DecoderModel&) = delete;

    uint8_t watched_ports() const override { return port_bit(Port::G); }
    int spi_channel() const override { return 2; }
    void pins_changed(Port port, uint32_t before, uint32_t after) override;
    Cycle next_event() const override;
    void advance(Cycle now) override;
    uint8_t exchange(uint8_t mosi, const SpiLink& link) override;

    // ---- state
    uint16_t sci(int reg) const { return sci_[reg & 15]; }
    bool dreq() const { return dreq_; }
    uint32_t clki_hz() const { return clki_hz_; }
    size_t fifo_bytes() const { return fifo_.size(); }
    bool playing() const { return playing_; }
    // Board time at which the audio decoded so far has played out.
    Cycle audio_end() const { return audio_end_; }
    // Board time at which the start-up after the last reset ends.
    Cycle ready_at() const { return ready_at_; }

    // ---- counters
    uint64_t hardware_resets() const { return hardware_resets_; }
    uint64_t sdi_bytes() const { return sdi_bytes_; }
    uint64_t sci_writes() const { return sci_writes_; }
    uint64_t frames_decoded() const { return frames_; }
    // Times the FIFO ran dry during playback and music then went on.
    uint64_t underruns() const { return underruns_; }
    // Stream bytes a hardware reset threw away unplayed (FIFO contents).
    uint64_t bytes_lost_at_reset() const { return lost_at_reset_; }
    // Length of the last XRESET low pulse.
    Cycle last_reset_pulse() const { return reset_pulse_; }

    // ---- captures (off by default: a long run holds a lot of audio)
    void capture_audio(bool on) { capture_audio_ = on; }
    void capture_sdi(bool on) { capture_sdi_ = on; }
    const std::vector<int16_t>& pcm() const { return pcm_; }
    int channels() const { return channels_; }
    long rate() const { return rate_; }
    const std::vector<uint8_t>& sdi() const { return sdi_; }
    // The audio heard as 16-bit PCM WAV (format of the first frame). False on an I/O error.
    bool write_wav(const std::string& path) const;
    // Every SDI byte received, in order. False on an I/O error.
    bool write_sdi_dump(const std::string& path) const;

private:
    void on_plugged() override;
    void check_select_timing(uint32_t before, uint32_t after);
    void check_min(const std::string& what, Cycle took, uint64_t min_ps);
    void power_on_state();
    void restart_stream();
    void update_dreq();
    void check_clock(const SpiLink& link, uint32_t limit_hz, const char* what);
    uint8_t sci_byte(uint8_t mosi, const SpiLink& link);
    void sdi_byte(uint8_t mosi, const SpiLink& link);
    void execute_sci_write(int reg, uint16_t value, Cycle done);
    bool decode_frame(Cycle start);
    void cut_sound(Cycle now);
    void violation(const std::string& text);

    mpg123_handle_struct* mh_ = nullptr;

    uint16_t sci_[16] = {};
    uint32_t clki_hz_ = kCrystalHz;
    bool reset_held_ = true;
    bool starting_ = false;
    Cycle ready_at_ = 0;
    bool executing_ = false;
    Cycle executed_at_ = 0;
    bool dreq_ = false;

    // SCI frame in progress.
    uint8_t frame_[4] = {};
    int frame_len_ = 0;
    // End of the byte on the wire.
    Cycle byte_end_ = 0;
    // The last byte clocked on SPI2, selected or not.
    SpiLink wire_;
    bool wire_seen_ = false;
    // When XCS (index 0) and XDCS (1) last rose, kNever: not yet.
    Cycle select_rose_at_[2] = {kNever, kNever};
    bool sdi_clock_reported_ = false;

    // Input FIFO and playback.
    std::deque<uint8_t> fifo_;
    bool playing_ = false;
    bool starved_ = false;
    Cycle audio_end_ = 0;
    Cycle play_origin_ = 0;
    uint64_t played_samples_ = 0;
    long play_rate_ = 0;

    uint64_t hardware_resets_ = 0, sdi_bytes_ = 0, sci_writes_ = 0, frames_ = 0, underruns_ = 0;
    uint64_t lost_at_reset_ = 0;
    Cycle reset_fell_at_ = kNever, reset_pulse_ = 0;

    bool capture_audio_ = false, capture_sdi_ = false;
    bool heard_ = false;  // some audio captured: later pauses become silence
    std::vector<int16_t> pcm_;
    int channels_ = 0;
    long rate_ = 0;
    std::vector<uint8_t> sdi_;
};

}  // namespace sim
