#include "sim/decoder_model.h"

#include <mpg123.h>

#include <algorithm>
#include <cstdio>

namespace sim {
namespace {

constexpr int kXdcsBit = 2, kXcsBit = 3, kXresetBit = 9, kDreqBit = 9;

constexpr uint8_t kSciWrite = 0x02, kSciRead = 0x03;

// CLKI multipliers of SCI_CLOCKF bits 15..13, in tenths.
constexpr uint32_t kMultTenths[8] = {10, 20, 25, 30, 35, 40, 45, 50};

// Register write execution times (DREQ low meanwhile).
constexpr uint32_t kSciExecClki = 80;
constexpr uint32_t kClockfExecCrystal = 1200;

// Bytes handed to the frame decoder at a time while it looks for a whole frame.
constexpr size_t kFeedChunk = 32;

Cycle cycles_for(uint64_t clocks, uint64_t hz) { return (clocks * kSysClockHz + hz - 1) / hz; }

bool low(uint32_t pins, int bit) { return !((pins >> bit) & 1u); }

}  // namespace

DecoderModel::DecoderModel() {
    static const bool library_ready = mpg123_init() == MPG123_OK;
    (void)library_ready;
    mh_ = mpg123_new(nullptr, nullptr);
    mpg123_param(mh_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
    // The decoder plays every frame it gets: no encoder delay or padding trimmed.
    mpg123_param(mh_, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
    mpg123_param(mh_, MPG123_RESYNC_LIMIT, -1, 0);
    mpg123_format_none(mh_);
    const long* rates = nullptr;
    size_t count = 0;
    mpg123_rates(&rates, &count);
    for (size_t i = 0; i < count; ++i) mpg123_format(mh_, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mpg123_open_feed(mh_);
}

void DecoderModel::on_plugged() {
    reset_held_ = !board().pin(Port::G, kXresetBit);
    power_on_state();
    if (!reset_held_) {
        starting_ = true;
        ready_at_ = board().now() + cycles_for(kBootCrystalCycles, kCrystalHz);
    }
    dreq_ = false;
    board().drive(Port::D, kDreqBit, false);
}

DecoderModel::~DecoderModel() {
    if (mh_) {
        mpg123_close(mh_);
        mpg123_delete(mh_);
    }
}

void DecoderModel::violation(const std::string& text) { board().violation("decoder", text); }

void DecoderModel::check_min(const std::string& what, Cycle took, uint64_t min_ps) {
    if (picoseconds(took) >= min_ps) return;
    violation(what + " for " + describe_picoseconds(picoseconds(took)) + ", below the decoder's " +
              describe_picoseconds(min_ps) + " minimum");
}

// Chip-select timing: a select may not fall inside a byte (its set-up before
// the first clock edge), and stays high long enough between two frames. (A
// select raised before the byte's end is caught with the frame checks; at any
// clock the decoder takes, that covers the hold after the last edge.)
void DecoderModel::check_select_timing(uint32_t before, uint32_t after) {
    const Cycle now = board().now();
    static const int kBits[2] = {kXcsBit, kXdcsBit};
    static const char* const kNames[2] = {"XCS", "XDCS"};
    for (int i = 0; i < 2; ++i) {
        const int bit = kBits[i];
        const std::string name = kNames[i];
        if (!low(before, bit) && low(after, bit)) {
            if (wire_seen_ && now > wire_.now && now < wire_.end())
                violation(name + " lowered while a byte was being clocked");
            if (select_rose_at_[i] != kNever)
                check_min(name + " high between frames", now - select_rose_at_[i],
                          clock_picoseconds(kSelectHighClki, clki_hz_));
        } else if (low(before, bit) && !low(after, bit)) {
            select_rose_at_[i] = now;
        }
    }
}

void DecoderModel::power_on_state() {
    std::fill(std::begin(sci_), std::end(sci_), uint16_t{0});
    sci_[SCI_MODE] = kPowerOnMode;
    sci_[SCI_STATUS] = 0x0040;  // version field 4
    clki_hz_ = kCrystalHz;
    executing_ = false;
    frame_len_ = 0;
    sdi_clock_reported_ = false;
    restart_stream();
}

// Empties the FIFO and the frame decoder: a new stream starts.
void DecoderModel::restart_stream() {
    fifo_.clear();
    playing_ = false;
    starved_ = false;
    mpg123_close(mh_);
    mpg123_open_feed(mh_);
}

void DecoderModel::update_dreq() {
    const bool level = !reset_held_ && !starting_ && !executing_ && kFifoBytes - fifo_.size() >= kDreqFreeBytes;
    if (level != dreq_) {
        dreq_ = level;
        board().drive(Port::D, kDreqBit, level);
    }
    board().reschedule();
}

Cycle DecoderModel::next_event() const {
    Cycle next = kNever;
    if (starting_) next = std::min(next, ready_at_);
    if (executing_) next = std::min(next, executed_at_);
    if (playing_) next = std::min(next, audio_end_);
    return next;
}

void DecoderModel::advance(Cycle now) {
    if (starting_ && now >= ready_at_) starting_ = false;
    if (executing_ && now >= executed_at_) executing_ = false;
    // Each frame is taken from the FIFO when the one before has played out.
    while (playing_ && now >= audio_end_) {
        if (!decode_frame(audio_end_)) {
            playing_ = false;
            starved_ = true;
        }
    }
    update_dreq();
}

void DecoderModel::pins_changed(Port port, uint32_t before, uint32_t after) {
    if (port != Port::G) return;
    const auto fell = [&](int bit) { return !low(before, bit) && low(after, bit); };
    const auto rose = [&](int bit) { return low(before, bit) && !low(after, bit); };

    if (fell(kXresetBit)) {
        cut_sound(board().now());
        ++hardware_resets_;
        lost_at_reset_ += fifo_.size();
        reset_fell_at_ = board().now();
        reset_held_ = true;
        starting_ = false;
        power_on_state();
    } else if (rose(kXresetBit)) {
        reset_held_ = false;
        // A reset held since power-up is not a pulse of the host's.
        if (reset_fell_at_ != kNever) {
            reset_pulse_ = board().now() - reset_fell_at_;
            check_min("XRESET low", reset_pulse_, clock_picoseconds(kResetLowCrystal, kCrystalHz));
        }
        starting_ = true;
        ready_at_ = board().now() + cycles_for(kBootCrystalCycles, kCrystalHz);
    }
    if (reset_held_) {
        update_dreq();
        return;
    }

    check_select_timing(before, after);
    if ((rose(kXcsBit) || rose(kXdcsBit)) && board().now() + 1 < byte_end_)
        violation(std::string(rose(kXcsBit) ? "XCS" : "XDCS") + " raised while a byte was still being clocked");
    if (low(after, kXcsBit) && low(after, kXdcsBit) && !(low(before, kXcsBit) && low(before, kXdcsBit)))
        violation("XCS and XDCS low together");
    if (fell(kXcsBit)) frame_len_ = 0;
    if (rose(kXcsBit)) {
        if (frame_len_ > 0 && frame_len_ < 4)
            violation("SCI frame cut short after " + std::to_string(frame_len_) + " byte(s)");
        frame_len_ = 0;
    }
    update_dreq();
}

void DecoderModel::check_clock(const SpiLink& link, uint32_t limit_hz, const char* what) {
    if (link.sck_hz <= limit_hz) return;
    violation(std::string(what) + " at SCK " + std::to_string(link.sck_hz) + " Hz, above the " +
              std::to_string(limit_hz) + " Hz the decoder takes at CLKI " + std::to_string(clki_hz_) + " Hz");
}

uint8_t DecoderModel::exchange(uint8_t mosi, const SpiLink& link) {
    wire_ = link;
    wire_seen_ = true;
    const uint32_t pins = board().pins(Port::G);
    const bool xcs = low(pins, kXcsBit), xdcs = low(pins, kXdcsBit);
    if (!xcs && !xdcs) return 0;
    if (link.sck_hz > 0) byte_end_ = link.now + Cycle{8} * kSysClockHz / link.sck_hz;
    if (low(pins, kXresetBit)) {
        violation("byte sent while XRESET is low");
        return 0;
    }
    if (xcs && xdcs) {
        violation("byte sent with XCS and XDCS low together");
        return 0;
    }
    if (link.bits != 8 || (link.mode() != 0 && link.mode() != 3)) {
        violation("byte sent in SPI mode " + std::to_string(link.mode()) + " with " + std::to_string(link.bits) +
                  "-bit frames; the decoder takes 8-bit bytes on the rising edge");
        return 0;
    }
    if (starting_) {
        violation("byte sent before the decoder finished starting after reset (DREQ low)");
        return 0;
    }
    if (xcs) return sci_byte(mosi, link);
    sdi_byte(mosi, link);
    return 0;
}

uint8_t DecoderModel::sci_byte(uint8_t mosi, const SpiLink& link) {
    const int index = frame_len_;
    frame_[index] = mosi;
    frame_len_ = (frame_len_ + 1) % 4;
    const bool read = frame_[0] == kSciRead;
    if (index == 0 && mosi != kSciWrite && mosi != kSciRead) violation("unknown SCI instruction " + std::to_string(mosi));
    check_clock(link, clki_hz_ / (read && index >= 2 ? 7 : 4), read ? "SCI read" : "SCI write");
    const uint16_t reg_value = sci_[frame_[1] & 15];
    if (read && index == 2) return static_cast<uint8_t>(reg_value >> 8);
    if (read && index == 3) return static_cast<uint8_t>(reg_value);
    if (index == 3 && frame_[0] == kSciWrite) {
        if (executing_) violation("SCI write while the previous register write still executes (DREQ low)");
        execute_sci_write(frame_[1] & 15, static_cast<uint16_t>((frame_[2] << 8) | frame_[3]), byte_end_);
    }
    return 0;
}

void DecoderModel::execute_sci_write(int reg, uint16_t value, Cycle done) {
    ++sci_writes_;
    Cycle busy = cycles_for(kSciExecClki, clki_hz_);
    if (reg == SCI_MODE && (value & SM_RESET)) {
        // Software reset: the decoder restarts, registers other than the mode keep their values.
        value = static_cast<uint16_t>(value & ~SM_RESET);
        restart_stream();
        starting_ = true;
        ready_at_ = done + cycles_for(kBootCrystalCycles, kCrystalHz);
    }
    if (reg == SCI_CLOCKF) {
        clki_hz_ = static_cast<uint32_t>(uint64_t{kCrystalHz} * kMultTenths[value >> 13] / 10);
        busy = cycles_for(kClockfExecCrystal, kCrystalHz);
    }
    sci_[reg] = value;
    executing_ = true;
    executed_at_ = done + busy;
    update_dreq();
}

void DecoderModel::sdi_byte(uint8_t mosi, const SpiLink& link) {
    if (!sdi_clock_reported_ && link.sck_hz > clki_hz_ / 4) {
        check_clock(link, clki_hz_ / 4, "SDI byte");
        sdi_clock_reported_ = true;
    }
    if (!(sci_[SCI_MODE] & SM_SDINEW)) {
        violation("SDI byte under XDCS while SM_SDINEW is clear");
        return;
    }
    if (executing_) violation("SDI byte while a register write still executes (DREQ low)");
    ++sdi_bytes_;
    if (capture_sdi_) sdi_.push_back(mosi);
    if (fifo_.size() >= kFifoBytes) {
        violation("SDI byte into a full FIFO (DREQ was low); byte lost");
        return;
    }
    fifo_.push_back(mosi);
    // An idle decoder starts on the first whole frame; the pause before it is
    // an underrun when playback had already run dry.
    if (!playing_ && decode_frame(board().now())) {
        playing_ = true;
        if (starved_) ++underruns_;
        starved_ = false;
    }
    update_dreq();
}

// Decodes the next frame from the FIFO, to play from `start`. False when the
// FIFO ran out before a whole frame.
bool DecoderModel::decode_frame(Cycle start) {
    for (;;) {
        off_t frame_number = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int r = mpg123_decode_frame(mh_, &frame_number, &audio, &bytes);
        if (r == MPG123_NEW_FORMAT) continue;
        if (r == MPG123_NEED_MORE) {
            if (fifo_.empty()) return false;
            unsigned char chunk[kFeedChunk];
            size_t n = 0;
            while (n < kFeedChunk && !fifo_.empty()) {
                chunk[n++] = fifo_.front();
                fifo_.pop_front();
            }
            mpg123_feed(mh_, chunk, n);
            continue;
        }
        if (r != MPG123_OK) {
            // Not a stream the decoder can follow: drop what it holds, go on with the FIFO.
            mpg123_close(mh_);
            mpg123_open_feed(mh_);
            if (fifo_.empty()) return false;
            continue;
        }
        long rate = 0;
        int channels = 0, encoding = 0;
        mpg123_getformat(mh_, &rate, &channels, &encoding);
        const size_t samples = bytes / 2;
        if (samples == 0 || channels <= 0 || rate <= 0) continue;
        ++frames_;
        const bool new_origin = !playing_ || rate != play_rate_ || start != audio_end_;
        if (capture_audio_) {
            if (channels_ == 0) {
                channels_ = channels;
                rate_ = rate;
            }
            // A pause since the sound stopped is heard as silence.
            if (heard_ && new_origin && start > audio_end_) {
                const uint64_t frames = (start - audio_end_) * static_cast<uint64_t>(rate_) / kSysClockHz;
                pcm_.insert(pcm_.end(), frames * static_cast<uint64_t>(channels_), int16_t{0});
            }
            heard_ = true;
            const auto* pcm = reinterpret_cast<const int16_t*>(audio);
            pcm_.insert(pcm_.end(), pcm, pcm + samples);
        }
        // Playback time: kept as samples since an origin so frames do not drift.
        if (new_origin) {
            play_origin_ = start;
            played_samples_ = 0;
            play_rate_ = rate;
        }
        played_samples_ += samples / static_cast<size_t>(channels);
        audio_end_ = play_origin_ + played_samples_ * kSysClockHz / static_cast<uint64_t>(rate);
        return true;
    }
}

// A hardware reset silences the output: decoded audio that has not played
// yet is never heard.
void DecoderModel::cut_sound(Cycle now) {
    if (!playing_ || audio_end_ <= now) return;
    const uint64_t heard = (now - play_origin_) * static_cast<uint64_t>(play_rate_) / kSysClockHz;
    const uint64_t unheard = (played_samples_ - std::min(heard, played_samples_)) * static_cast<uint64_t>(channels_);
    if (capture_audio_) pcm_.resize(pcm_.size() - std::min<uint64_t>(unheard, pcm_.size()));
    audio_end_ = now;
}

bool DecoderModel::write_wav(const std::string& path) const {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const int channels = channels_ ? channels_ : 2;
    const uint32_t rate = static_cast<uint32_t>(rate_ ? rate_ : 44100);
    const uint32_t data_bytes = static_cast<uint32_t>(pcm_.size() * 2);
    std::vector<uint8_t> h;
    const auto u32 = [&](uint32_t v) {
        for (int i = 0; i < 4; ++i) h.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    const auto u16 = [&](uint32_t v) {
        h.push_back(static_cast<uint8_t>(v));
        h.push_back(static_cast<uint8_t>(v >> 8));
    };
    const auto tag = [&](const char* t) {
        for (int i = 0; i < 4; ++i) h.push_back(static_cast<uint8_t>(t[i]));
    };
    tag("RIFF");
    u32(36 + data_bytes);
    tag("WAVE");
    tag("fmt ");
    u32(16);
    u16(1);  // PCM
    u16(static_cast<uint32_t>(channels));
    u32(rate);
    u32(rate * static_cast<uint32_t>(channels) * 2);
    u16(static_cast<uint32_t>(channels) * 2);
    u16(16);
    tag("data");
    u32(data_bytes);
    for (int16_t s : pcm_) u16(static_cast<uint16_t>(s));
    const bool ok = std::fwrite(h.data(), 1, h.size(), f) == h.size();
    return std::fclose(f) == 0 && ok;
}

bool DecoderModel::write_sdi_dump(const std::string& path) const {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = sdi_.empty() || std::fwrite(sdi_.data(), 1, sdi_.size(), f) == sdi_.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace sim
