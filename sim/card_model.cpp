#include "sim/card_model.h"

#include <stdexcept>
#include <string>

namespace sim {
namespace {

constexpr uint32_t kSector = 512;
constexpr int kCsPin = 0;  // RF0

constexpr uint8_t kTokenStart = 0xFE;
constexpr uint8_t kTokenMulti = 0xFC;
constexpr uint8_t kTokenStop = 0xFD;
constexpr uint8_t kErrorTokenGeneral = 0x01;
constexpr uint8_t kErrorTokenRange = 0x08;
constexpr uint8_t kDataAccepted = 0x05;
constexpr uint8_t kDataWriteError = 0x0D;
// What the card drives in the byte after CMD12: left-over data, not a response.
constexpr uint8_t kStuffByte = 0x00;

// R1 flags.
constexpr uint8_t kIllegal = 0x04;
constexpr uint8_t kCrcError = 0x08;
constexpr uint8_t kAddressError = 0x20;
constexpr uint8_t kParameterError = 0x40;

uint8_t crc7(const uint8_t* p, size_t n) {
    uint8_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        uint8_t d = p[i];
        for (int b = 0; b < 8; ++b) {
            crc = static_cast<uint8_t>(crc << 1);
            if ((d ^ crc) & 0x80) crc ^= 0x09;
            d = static_cast<uint8_t>(d << 1);
        }
    }
    return static_cast<uint8_t>(((crc & 0x7F) << 1) | 1);  // with the end bit
}

uint16_t crc16(const uint8_t* p, size_t n) {
    uint16_t crc = 0;
    for (size_t i = 0; i < n; ++i) {
        crc = static_cast<uint16_t>(crc ^ (p[i] << 8));
        for (int b = 0; b < 8; ++b)
            crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

// Sets bits hi..lo of a register numbered from its most significant bit
// (bit size*8-1 is the top bit of byte 0), as card registers are.
template <size_t N>
void set_bits(std::array<uint8_t, N>& reg, int hi, int lo, uint64_t value) {
    for (int bit = lo; bit <= hi; ++bit) {
        const size_t byte = N - 1 - static_cast<size_t>(bit / 8);
        const uint8_t mask = static_cast<uint8_t>(1u << (bit % 8));
        if ((value >> (bit - lo)) & 1u)
            reg[byte] |= mask;
        else
            reg[byte] &= static_cast<uint8_t>(~mask);
    }
}

void seal_crc7(std::array<uint8_t, 16>& reg) { reg[15] = crc7(reg.data(), 15); }

// CSD version 1.0 (and the MMC layout): capacity (C_SIZE + 1) * 2^(C_SIZE_MULT + 2)
// blocks of 2^READ_BL_LEN bytes. Picks the smallest unit that holds the image
// in a 12-bit C_SIZE; returns the sectors described.
uint64_t build_csd_v1(std::array<uint8_t, 16>& csd, uint64_t image_sectors, bool mmc) {
    for (int bl = 9; bl <= 11; ++bl) {
        for (int mult = 0; mult <= 7; ++mult) {
            const uint64_t unit = uint64_t{1} << (mult + 2 + bl - 9);  // sectors per C_SIZE step
            const uint64_t units = image_sectors / unit;
            if (units == 0) throw std::invalid_argument("card image smaller than 2 KB");
            if (units > 4096) continue;
            csd = {};
            if (mmc) {
                set_bits(csd, 127, 126, 2);  // CSD structure 1.2
                set_bits(csd, 125, 122, 3);  // SPEC_VERS: MMC version 3.x
                set_bits(csd, 103, 96, 0x2A);  // 20 MHz
                set_bits(csd, 46, 42, 31);   // ERASE_GRP_SIZE
                set_bits(csd, 41, 37, 15);   // ERASE_GRP_MULT: 32 * 16 blocks
            } else {
                set_bits(csd, 127, 126, 0);
                set_bits(csd, 103, 96, 0x32);  // 25 MHz
                set_bits(csd, 46, 46, 1);      // ERASE_BLK_EN
                set_bits(csd, 45, 39, 127);    // SECTOR_SIZE: 128 write blocks
            }
            set_bits(csd, 119, 112, 0x26);  // TAAC
            set_bits(csd, 95, 84, 0x5B5);   // command classes
            set_bits(csd, 83, 80, static_cast<uint64_t>(bl));  // READ_BL_LEN
            set_bits(csd, 79, 79, 1);                          // READ_BL_PARTIAL
            set_bits(csd, 73, 62, units - 1);                  // C_SIZE
            set_bits(csd, 61, 50, 0xFFF);                      // VDD currents
            set_bits(csd, 49, 47, static_cast<uint64_t>(mult));  // C_SIZE_MULT
            set_bits(csd, 28, 26, 2);                          // R2W_FACTOR
            set_bits(csd, 25, 22, static_cast<uint64_t>(bl));  // WRITE_BL_LEN
            seal_crc7(csd);
            return units * unit;
        }
    }
    throw std::invalid_argument("card image over 4 GB for a byte-addressed card");
}

// CSD version 2.0: 22-bit C_SIZE in units of 512 KB.
uint64_t build_csd_v2(std::array<uint8_t, 16>& csd, uint64_t image_sectors) {
    const uint64_t units = image_sectors / 1024;
    if (units == 0) throw std::invalid_argument("card image smaller than 512 KB for a block-addressed card");
    if (units > 0x400000) throw std::invalid_argument("card image over 2 TB");
    csd = {};
    set_bits(csd, 127, 126, 1);
    set_bits(csd, 119, 112, 0x0E);  // TAAC
    set_bits(csd, 103, 96, 0x32);   // 25 MHz
    set_bits(csd, 95, 84, 0x5B5);
    set_bits(csd, 83, 80, 9);
    set_bits(csd, 69, 48, units - 1);  // C_SIZE
    set_bits(csd, 46, 46, 1);
    set_bits(csd, 45, 39, 127);
    set_bits(csd, 28, 26, 2);
    set_bits(csd, 25, 22, 9);
    seal_crc7(csd);
    return units * 1024;
}

std::array<uint8_t, 16> build_cid(CardKind kind) {
    std::array<uint8_t, 16> cid{};
    const char* name = card_kind_name(kind);
    cid[0] = 0x7E;  // manufacturer
    cid[1] = 'T';
    cid[2] = 'S';
    const std::string_view product = name;
    for (size_t i = 0; i < 5; ++i) cid[3 + i] = static_cast<uint8_t>(i < product.size() ? product[i] : ' ');
    cid[8] = 0x10;  // revision 1.0
    cid[9] = 0x12, cid[10] = 0x34, cid[11] = 0x56, cid[12] = 0x78;  // serial number
    cid[13] = 0x00, cid[14] = 0xBB;  // November 2011
    seal_crc7(cid);
    return cid;
}

}  // namespace

std::optional<CardKind> parse_card_kind(std::string_view name) {
    for (CardKind k : {CardKind::Mmc, CardKind::SdV1, CardKind::Sdsc, CardKind::Sdhc, CardKind::Sdxc})
        if (name == card_kind_name(k)) return k;
    return std::nullopt;
}

const char* card_kind_name(CardKind kind) {
    switch (kind) {
        case CardKind::Mmc: return "mmc";
        case CardKind::SdV1: return "sdv1";
        case CardKind::Sdsc: return "sdsc";
        case CardKind::Sdhc: return "sdhc";
        case CardKind::Sdxc: return "sdxc";
    }
    return "?";
}

CardModel::CardModel(CardKind kind, DiskImage& image) : kind_(kind), image_(image) {
    const uint64_t image_sectors = image.size() / kSector;
    sectors_ = block_addressed() ? build_csd_v2(csd_, image_sectors)
                                 : build_csd_v1(csd_, image_sectors, kind == CardKind::Mmc);
    cid_ = build_cid(kind);
    write_buf_.reserve(kSector + 2);
}

void CardModel::power_cycle() {
    powered_ = true;
    cut_pending_ = false;
    spi_mode_ = false;
    clocks_deselected_ = 0;
    busy_until_ = 0;
    reset_state();
}

void CardModel::reset_state() {
    idle_ = true;
    init_started_ = false;
    app_next_ = false;
    frame_len_ = 0;
    out_.clear();
    out_is_block_ = false;
    phase_ = Phase::Ready;
    read_halted_ = false;
}

// ---------------------------------------------------------------- bus

void CardModel::check_link(const SpiLink& link) {
    // The card samples on the rising clock edge and changes its output on the
    // falling one: SPI modes 0 and 3 only.
    const uint32_t max_hz = kind_ == CardKind::Mmc ? 20'000'000u : 25'000'000u;
    std::string problem;
    if (link.mode() != 0 && link.mode() != 3)
        problem = "SPI mode " + std::to_string(link.mode()) + " (the card needs mode 0 or 3)";
    else if (link.bits != 8)
        problem = std::to_string(link.bits) + "-bit frames";
    else if (link.sck_hz > max_hz)
        problem = "clock " + std::to_string(link.sck_hz) + " Hz above " + std::to_string(max_hz) + " Hz";
    if (problem.empty()) {
        link_bad_ = false;
    } else if (!link_bad_) {
        link_bad_ = true;  // once per stretch of bad bytes
        board().violation("card", problem);
    }
}

uint8_t CardModel::exchange(uint8_t mosi, const SpiLink& link) {
    ++bytes_clocked_;
    byte_start_ = link.now;
    byte_end_ = link.end();
    if (faults_.no_card || !powered_) return 0xFF;
    check_link(link);

    if (board().pin(Port::F, kCsPin)) {
        if (!spi_mode_) clocks_deselected_ += 8;
        return 0xFF;  // deselected: the data output floats high
    }

    const Cycle now = link.now;
    const uint8_t miso = next_output(now);
    const bool in_frame = frame_len_ > 0;
    const size_t logged = log_.size();
    handle_input(mosi, now);
    if (counting_ && !in_frame && frame_len_ == 0 && log_.size() == logged) ++log_.back().bytes_after;

    if (cut_pending_ && out_.empty()) powered_ = false;
    return miso;
}

void CardModel::pins_changed(Port, uint32_t before, uint32_t after) {
    const uint32_t cs = 1u << kCsPin;
    if (!((before ^ after) & cs)) return;
    // Chip select frames the bytes: it may change only between two of them.
    const Cycle now = board().now();
    if (powered_ && !faults_.no_card && now > byte_start_ && now < byte_end_)
        board().violation("card", std::string("chip select ") + ((after & cs) ? "raised" : "lowered") +
                                      " while a byte was being clocked");
    if (!(after & cs)) return;  // the rest is about a rising chip select
    counting_ = false;
    if (faults_.no_card || !powered_) return;
    if (frame_len_ > 0) {
        board().violation("card", "chip select raised inside a command");
        frame_len_ = 0;
    }
    if (phase_ == Phase::WriteReceiving) {
        board().violation("card", "chip select raised inside a data block being written");
        phase_ = Phase::Ready;
    }
    if (out_is_block_ && !out_.empty()) {
        board().violation("card", "chip select raised inside a data block being read");
        if (phase_ != Phase::ReadMulti) phase_ = Phase::Ready;
    }
    out_.clear();  // a response nobody clocked out is gone
    out_is_block_ = false;
}

uint8_t CardModel::next_output(Cycle now) {
    if (!out_.empty()) {
        const uint8_t b = out_.front();
        out_.pop_front();
        if (out_.empty() && out_is_block_) {
            out_is_block_ = false;
            if (phase_ == Phase::ReadMulti)
                block_at_ = now + timing_.read_access;
            else if (phase_ == Phase::ReadSingle || phase_ == Phase::SendRegister)
                phase_ = Phase::Ready;
        }
        return b;
    }
    if (now < busy_until_) return 0x00;
    const bool reading = phase_ == Phase::ReadSingle || phase_ == Phase::ReadMulti || phase_ == Phase::SendRegister;
    if (reading && !read_halted_ && now >= block_at_) {
        start_block();
        if (!out_.empty()) return next_output(now);
    }
    return 0xFF;
}

// Puts the next data block (or an error token) on the line.
void CardModel::start_block() {
    if (faults_.no_data_token) return;
    if (faults_.error_token) {
        out_.push_back(kErrorTokenGeneral);
        read_halted_ = true;
        return;
    }
    std::vector<uint8_t> data;
    if (phase_ == Phase::SendRegister) {
        data = register_block_;
    } else {
        data.resize(kSector);
        if (sector_ >= sectors_) {
            out_.push_back(kErrorTokenRange);  // a multiple-block read ran past the end
            read_halted_ = true;
            return;
        }
        if (!image_.read(sector_ * kSector, data.data(), kSector)) {
            out_.push_back(kErrorTokenGeneral);
            read_halted_ = true;
            return;
        }
        ++sector_;
        bytes_read_ += kSector;
    }
    const uint16_t crc = crc16(data.data(), data.size());
    out_.push_back(kTokenStart);
    out_.insert(out_.end(), data.begin(), data.end());
    out_.push_back(static_cast<uint8_t>(crc >> 8));
    out_.push_back(static_cast<uint8_t>(crc));
    out_is_block_ = true;
}

void CardModel::handle_input(uint8_t mosi, Cycle now) {
    if (phase_ == Phase::WriteReceiving) {
        write_buf_.push_back(mosi);
        if (write_buf_.size() == kSector + 2) finish_write_block(now);
        return;
    }
    if (frame_len_ > 0) {
        frame_[static_cast<size_t>(frame_len_++)] = mosi;
        if (frame_len_ == 6) {
            frame_len_ = 0;
            execute(now);
        }
        return;
    }
    const bool command_start = (mosi & 0xC0) == 0x40;
    if (now < busy_until_) {
        if (command_start)
            board().violation("card", "command sent while the card is busy");
        else if (mosi != 0xFF && (phase_ == Phase::WriteSingle || phase_ == Phase::WriteMulti))
            board().violation("card", "data token sent while the card is busy");
        return;
    }
    if ((phase_ == Phase::WriteSingle || phase_ == Phase::WriteMulti) && mosi != 0xFF) {
        const uint8_t token = phase_ == Phase::WriteSingle ? kTokenStart : kTokenMulti;
        if (mosi == token) {
            write_buf_.clear();
            phase_ = Phase::WriteReceiving;
            return;
        }
        if (phase_ == Phase::WriteMulti && mosi == kTokenStop) {
            busy_until_ = now + timing_.stop_busy;
            phase_ = Phase::Ready;
            return;
        }
        if (!command_start) {
            board().violation("card", "data block without its start token");
            return;
        }
        board().violation("card", "command while a write waits for its data");
        phase_ = Phase::Ready;
    }
    if (command_start) {
        frame_[0] = mosi;
        frame_len_ = 1;
        counting_ = false;
    }
}

void CardModel::finish_write_block(Cycle now) {
    phase_ = write_multi_ ? Phase::WriteMulti : Phase::Ready;
    uint8_t response = kDataAccepted;
    if (faults_.reject_writes || sector_ >= sectors_ || !image_.write(sector_ * kSector, write_buf_.data(), kSector)) {
        response = kDataWriteError;
    } else {
        ++sector_;
        ++sectors_written_;
        bytes_written_ += kSector;
        if (faults_.power_cut_after_writes && sectors_written_ >= *faults_.power_cut_after_writes) cut_pending_ = true;
    }
    out_.push_back(response);
    busy_until_ = now + timing_.write_busy;
}

void CardModel::respond(std::initializer_list<uint8_t> bytes) {
    for (int i = 0; i < timing_.response_delay; ++i) out_.push_back(0xFF);
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    log_.back().r1 = *bytes.begin();
}

bool CardModel::address_to_sector(uint32_t arg, uint64_t& sector, uint8_t& error) const {
    if (block_addressed()) {
        sector = arg;
    } else {
        if (arg % kSector != 0) {
            error = kAddressError;
            return false;
        }
        sector = arg / kSector;
    }
    if (sector >= sectors_) {
        error = kParameterError;
        return false;
    }
    return true;
}

void CardModel::execute(Cycle now) {
    const uint8_t index = frame_[0] & 0x3F;
    const uint32_t arg = (uint32_t{frame_[1]} << 24) | (uint32_t{frame_[2]} << 16) | (uint32_t{frame_[3]} << 8) | frame_[4];
    const bool crc_ok = frame_[5] == crc7(frame_.data(), 5);
    const bool app = app_next_;
    app_next_ = false;

    if (!spi_mode_) {
        // Still in SD bus mode: only a valid CMD0 with chip select low switches to SPI.
        if (index != 0 || !crc_ok) return;
        if (clocks_deselected_ < 74)
            board().violation("card", "first command after " + std::to_string(clocks_deselected_) +
                                         " clocks with chip select high (at least 74 needed)");
        spi_mode_ = true;
    }

    CardCommand entry;
    entry.index = index;
    entry.app = app;
    entry.arg = arg;
    entry.at = now;
    log_.push_back(entry);
    counting_ = true;

    // A new command ends a read in progress; CMD12 does it with a stuff byte.
    if (index == 12) {
        if (phase_ == Phase::ReadMulti) {
            phase_ = Phase::Ready;
            out_.clear();
            out_is_block_ = false;
            out_.push_back(kStuffByte);
            out_.push_back(r1());
            log_.back().r1 = r1();
        } else {
            respond({r1(kIllegal)});
        }
        return;
    }
    if (phase_ != Phase::Ready) {
        phase_ = Phase::Ready;
        out_is_block_ = false;
    }
    out_.clear();
    read_halted_ = false;

    const bool sd = kind_ != CardKind::Mmc;
    const bool v2 = kind_ == CardKind::Sdsc || block_addressed();

    switch (index) {
        case 0:
            if (!crc_ok) {
                respond({r1(kCrcError)});
                return;
            }
            reset_state();
            counting_ = true;
            respond({r1()});
            return;

        case 8:
            if (!v2) {
                respond({r1(kIllegal)});
            } else if (!crc_ok) {
                respond({r1(kCrcError)});
            } else {
                const uint8_t voltage = ((arg >> 8) & 0x0F) == 0x1 ? 0x01 : 0x00;
                respond({r1(), 0x00, 0x00, voltage, static_cast<uint8_t>(arg)});
            }
            return;

        case 55:
            if (!sd) {
                respond({r1(kIllegal)});
                return;
            }
            app_next_ = true;
            respond({r1()});
            return;

        case 41:
        case 1: {
            const bool wake = (index == 41 && app && sd) || (index == 1 && !sd);
            if (!wake) break;
            if (!init_started_) {
                init_started_ = true;
                ready_at_ = now + timing_.identify;
            }
            // A high-capacity card stays idle for a host that does not announce support.
            const bool hcs = (arg >> 30) & 1u;
            if (!faults_.stuck_idle && now >= ready_at_ && (hcs || !block_addressed())) idle_ = false;
            respond({r1()});
            return;
        }

        case 58: {
            const bool high = block_addressed() && !idle_;
            const uint8_t top = static_cast<uint8_t>((idle_ ? 0x00 : 0x80) | (high ? 0x40 : 0x00));
            respond({r1(), top, 0xFF, 0x80, 0x00});  // 2.7-3.6 V window
            return;
        }
        default: break;
    }

    if (idle_) {
        respond({r1(kIllegal)});
        return;
    }

    uint8_t error = 0;
    switch (index) {
        case 9:
        case 10:
            register_block_.assign(index == 9 ? csd_.begin() : cid_.begin(), index == 9 ? csd_.end() : cid_.end());
            phase_ = Phase::SendRegister;
            block_at_ = now + timing_.read_access;
            respond({r1()});
            return;

        case 13:
            if (!(app && sd)) break;
            {
                std::array<uint8_t, 64> status{};
                set_bits(status, 447, 440, 2);  // speed class 4
                set_bits(status, 431, 428, timing_.au_size);
                set_bits(status, 423, 408, 0);  // erase not described
                register_block_.assign(status.begin(), status.end());
            }
            phase_ = Phase::SendRegister;
            block_at_ = now + timing_.read_access;
            respond({r1(), 0x00});
            return;

        case 16:
            respond({r1(arg == kSector ? 0 : kParameterError)});
            return;

        case 23:
            if (!(app && sd)) break;
            respond({r1()});  // pre-erase count: only a hint
            return;

        case 17:
        case 18:
        case 24:
        case 25:
            if (!address_to_sector(arg, sector_, error)) {
                respond({r1(error)});
                return;
            }
            block_at_ = now + timing_.read_access;
            write_multi_ = index == 25;
            phase_ = index == 17   ? Phase::ReadSingle
                     : index == 18 ? Phase::ReadMulti
                     : index == 24 ? Phase::WriteSingle
                                   : Phase::WriteMulti;
            respond({r1()});
            return;

        default: break;
    }
    respond({r1(kIllegal)});
}

}  // namespace sim
