#pragma once
// An SD or MMC card in SPI mode, on SPI1 with chip select RF0, backed by a raw
// disk image. It answers what a host driver uses (reset, interface condition,
// operating condition, OCR, CSD, CID, SD status, single and multiple block
// reads and writes with their tokens, data responses and busy), keeps its own
// timing in board time, can inject faults, and records protocol violations
// on the board (among them a chip select that changes while a byte is being
// clocked: the card frames commands and data by it).
#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <string_view>
#include <vector>

#include "sim/board.h"
#include "sim/disk_image.h"

namespace sim {

enum class CardKind {
    Mmc,   // MMC version 3, byte-addressed
    SdV1,  // SD version 1, byte-addressed
    Sdsc,  // SD version 2, standard capacity, byte-addressed
    Sdhc,  // SD version 2, high capacity, block-addressed
    Sdxc,  // SD version 2, extended capacity (over 32 GB), block-addressed
};

// "mmc", "sdv1", "sdsc", "sdhc", "sdxc"; nothing for any other name. An empty
// socket ("none") is no card at all: attach no model.
std::optional<CardKind> parse_card_kind(std::string_view name);
const char* card_kind_name(CardKind kind);

// Card timing in board cycles.
struct CardTiming {
    Cycle identify = cycles_from_ms(50);       // idle phase from the first ACMD41 (CMD1 on MMC)
    Cycle read_access = cycles_from_us(100);   // command or previous block to the next data token
    Cycle write_busy = cycles_from_us(500);    // busy after each block written
    Cycle stop_busy = cycles_from_us(20);      // busy after the stop token of a multiple-block write
    int response_delay = 1;                    // idle bytes between a command and its response
    uint8_t au_size = 9;                       // SD status allocation unit: 4 MB
};

// Faults, each selectable at any time. (A card busy for longer than a
// driver waits is a timing: raise CardTiming::write_busy.)
struct CardFaults {
    bool no_card = false;        // nothing answers; the data line stays high
    bool stuck_idle = false;     // never leaves the idle state
    bool no_data_token = false;  // reads never start a data block
    bool error_token = false;    // reads answer with an error token
    bool reject_writes = false;  // every written block gets a write-error data response
    // After this many sectors have been stored the card loses power: later
    // writes are lost and nothing answers any more.
    std::optional<uint64_t> power_cut_after_writes;
};

// One command as the card received it.
struct CardCommand {
    uint8_t index = 0;    // 0..63
    bool app = false;     // received after CMD55 as an application command
    uint32_t arg = 0;
    uint8_t r1 = 0xFF;    // first response byte (0xFF: none)
    Cycle at = 0;
    // Bytes clocked with the card selected after the command, until chip
    // select rose or the next command began.
    uint32_t bytes_after = 0;
};

class CardModel : public Model {
public:
    // A card of `kind` over `image`, plugged into the socket with
    // board.plug(card); its capacity comes from the image size. Throws
    // std::invalid_argument when the image does not fit the kind (too small,
    // or over 4 GB for a byte-addressed card).
    CardModel(CardKind kind, DiskImage& image);
    CardModel(const CardModel&) = delete;
    CardModel& operator=(const CardModel&) = delete;

    CardKind kind() const { return kind_; }
    bool block_addressed() const { return kind_ == CardKind::Sdhc || kind_ == CardKind::Sdxc; }
    uint64_t sectors() const { return sectors_; }  // capacity the CSD reports

    CardTiming& timing() { return timing_; }
    CardFaults& faults() { return faults_; }

    // Card registers; tests may replace the CSD with their own.
    const std::array<uint8_t, 16>& csd() const { return csd_; }
    void set_csd(const std::array<uint8_t, 16>& csd) { csd_ = csd; }
    const std::array<uint8_t, 16>& cid() const { return cid_; }

    // Traffic.
    uint64_t bytes_read() const { return bytes_read_; }        // sector data sent to the host
    uint64_t bytes_written() const { return bytes_written_; }  // sector data stored
    uint64_t sectors_written() const { return sectors_written_; }
    uint64_t bytes_clocked() const { return bytes_clocked_; }  // every byte on the bus
    const std::vector<CardCommand>& commands() const { return log_; }
    void clear_log() { log_.clear(); }

    bool powered() const { return powered_; }
    // Power off and on again (after a power cut, for instance): back to the
    // state of a card just inserted.
    void power_cycle();

    uint8_t watched_ports() const override { return port_bit(Port::F); }
    int spi_channel() const override { return 1; }
    uint8_t exchange(uint8_t mosi, const SpiLink& link) override;
    void pins_changed(Port port, uint32_t before, uint32_t after) override;

private:
    enum class Phase {
        Ready,          // waiting for a command
        ReadSingle,     // CMD17: one block to send
        ReadMulti,      // CMD18: blocks until CMD12
        SendRegister,   // CSD, CID or SD status block to send
        WriteSingle,    // CMD24: waiting for the 0xFE token
        WriteMulti,     // CMD25: waiting for 0xFC or the 0xFD stop token
        WriteReceiving  // taking a block's data and CRC
    };

    void check_link(const SpiLink& link);
    uint8_t next_output(Cycle now);
    void start_block();
    void handle_input(uint8_t mosi, Cycle now);
    void execute(Cycle now);
    void respond(std::initializer_list<uint8_t> bytes);
    uint8_t r1(uint8_t flags = 0) const { return static_cast<uint8_t>(flags | (idle_ ? 0x01 : 0x00)); }
    bool address_to_sector(uint32_t arg, uint64_t& sector, uint8_t& error) const;
    void finish_write_block(Cycle now);
    void reset_state();

    CardKind kind_;
    DiskImage& image_;
    uint64_t sectors_ = 0;
    CardTiming timing_;
    CardFaults faults_;
    std::array<uint8_t, 16> csd_{};
    std::array<uint8_t, 16> cid_{};

    // Power and mode.
    bool powered_ = true;
    bool cut_pending_ = false;
    bool spi_mode_ = false;
    uint64_t clocks_deselected_ = 0;  // clocks with chip select high before the first command
    bool idle_ = true;
    bool init_started_ = false;
    Cycle ready_at_ = 0;
    bool app_next_ = false;

    // Bus state.
    bool link_bad_ = false;
    Cycle byte_start_ = 0, byte_end_ = 0;  // the last byte clocked on SPI1, selected or not
    std::array<uint8_t, 6> frame_{};
    int frame_len_ = 0;
    std::deque<uint8_t> out_;
    bool out_is_block_ = false;
    Cycle busy_until_ = 0;

    Phase phase_ = Phase::Ready;
    uint64_t sector_ = 0;          // next sector to read or write
    Cycle block_at_ = 0;           // when the next read block may start
    bool read_halted_ = false;     // an error token ended the read
    bool write_multi_ = false;     // the write in progress is a CMD25
    std::vector<uint8_t> register_block_;
    std::vector<uint8_t> write_buf_;

    // Statistics and log.
    uint64_t bytes_read_ = 0, bytes_written_ = 0, sectors_written_ = 0, bytes_clocked_ = 0;
    std::vector<CardCommand> log_;
    bool counting_ = false;
};

}  // namespace sim
