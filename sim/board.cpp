#include "sim/board.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace sim {
namespace {
constexpr uint32_t kAll = 0xFFFFFFFFu;
}  // namespace

const char* port_name(Port p) {
    static const char* const names[] = {"B", "C", "D", "E", "F", "G"};
    return names[static_cast<int>(p)];
}

std::string describe_picoseconds(uint64_t ps) {
    char text[32];
    if (ps < 1'000'000)
        std::snprintf(text, sizeof text, "%.1f ns", static_cast<double>(ps) / 1e3);
    else if (ps < 1'000'000'000)
        std::snprintf(text, sizeof text, "%.2f us", static_cast<double>(ps) / 1e6);
    else
        std::snprintf(text, sizeof text, "%.3f ms", static_cast<double>(ps) / 1e9);
    return text;
}

Model::~Model() {
    if (board_) board_->unplug(*this);
}

Board::Board(const BoardOptions& options)
    : ports_(*this),
      spi1_(*this, 1),
      spi2_(*this, 2),
      interrupts_(options.core_timer_flag),
      system_(*this),
      adc_("ADC", {{"AD1PCFG", 0x1F809060u, 0x0000u, 0xFFFFu, true}}),  // all analogue at reset
      bus_matrix_("bus matrix",
                  {
                      {"BMXCON", 0x1F882000u, 0x001F0041u, kAll, true},
                      {"BMXDKPBA", 0x1F882010u, 0, kAll, true},
                      {"BMXDUDBA", 0x1F882020u, 0, kAll, true},
                      {"BMXDUPBA", 0x1F882030u, 0, kAll, true},
                      {"BMXDRMSZ", 0x1F882040u, 0x00008000u, 0, false},  // 32 KB RAM
                      {"BMXPUPBA", 0x1F882050u, 0, kAll, true},
                      {"BMXPFMSZ", 0x1F882060u, 0x00080000u, 0, false},  // 512 KB flash
                      {"BMXBOOTSZ", 0x1F882070u, 0x00003000u, 0, false},  // 12 KB boot flash
                  }),
      dma_("DMA controller",
           {
               {"DMACON", 0x1F883000u, 0, kAll, true},
               {"DMASTAT", 0x1F883010u, 0, 0, true},
               {"DMAADDR", 0x1F883020u, 0, 0, true},
           }),
      cache_("prefetch cache", {{"CHECON", 0x1F884000u, 0x7u, kAll, true}}) {
    ports_.claim(bus_);
    spi1_.claim(bus_);
    spi2_.claim(bus_);
    interrupts_.claim(bus_);
    system_.claim(bus_);
    adc_.claim(bus_);
    bus_matrix_.claim(bus_);
    dma_.claim(bus_);
    cache_.claim(bus_);
}

Board::~Board() {
    for (Model* m : models_) m->board_ = nullptr;
}

// ---------------------------------------------------------------- the bus

bool Board::bus_fault(const char* access, uint32_t address, unsigned bytes) {
    char text[96];
    std::snprintf(text, sizeof text, "%s of %u byte(s) at 0x%08X, which no peripheral claims", access, bytes, address);
    violation("bus", text);
    return false;
}

uint32_t Board::peek(uint32_t address) const {
    const uint32_t phys = physical(address);
    const RegisterEntry* r = bus_.find(phys);
    if (!r || (phys & 0xCu) != 0) return 0;
    return r->peripheral->peek(r->reg);
}

// ---------------------------------------------------------------- time

void Board::process_due() {
    if (processing_) return;
    if (now_ >= stop_at_ || stop_requested_) {
        finished_ = true;
        return;
    }
    processing_ = true;
    for (Model* m : models_)
        if (m->next_event() <= now_) m->advance(now_);
    for (Watcher& w : watchers_) {
        while (now_ >= w.next) {
            w.next += w.period;
            w.fn(*this);
        }
    }
    processing_ = false;
    reschedule();
}

void Board::reschedule() {
    Cycle next = stop_requested_ ? now_ : stop_at_;
    next = std::min({next, spi1_.next_event(), spi2_.next_event()});
    for (const Model* m : models_) next = std::min(next, m->next_event());
    for (const Watcher& w : watchers_) next = std::min(next, w.next);
    next_due_ = next;
}

void Board::stop_at(Cycle when) {
    stop_at_ = when;
    reschedule();
}

void Board::request_stop() {
    stop_requested_ = true;
    reschedule();
}

void Board::every(Cycle period, std::function<void(Board&)> fn) {
    watchers_.push_back(Watcher{period, now_ + period, std::move(fn)});
    reschedule();
}

// ---------------------------------------------------------------- models

void Board::plug(Model& model) {
    if (model.board_ == this) return;
    if (model.board_) throw std::logic_error("model already plugged into another board");
    const int channel = model.spi_channel();
    if (channel != 0) {
        if (channel != 1 && channel != 2) throw std::logic_error("no SPI channel " + std::to_string(channel));
        if (spi_device(channel)) throw std::logic_error("SPI" + std::to_string(channel) + " already has a device");
        spi_devices_[channel - 1] = &model;
    }
    for (int p = 0; p < kPortCount; ++p)
        if (model.watched_ports() & port_bit(static_cast<Port>(p))) port_watchers_[p].push_back(&model);
    models_.push_back(&model);
    model.board_ = this;
    model.on_plugged();
    reschedule();
}

void Board::unplug(Model& model) {
    if (model.board_ != this) return;
    const auto drop = [&](std::vector<Model*>& v) { v.erase(std::remove(v.begin(), v.end(), &model), v.end()); };
    drop(models_);
    for (auto& w : port_watchers_) drop(w);
    for (Model*& d : spi_devices_)
        if (d == &model) d = nullptr;
    model.board_ = nullptr;
    reschedule();
}

void Board::pins_changed(Port port, uint32_t before, uint32_t after) {
    for (Model* m : port_watchers_[static_cast<int>(port)]) m->pins_changed(port, before, after);
}

void Board::violation(const std::string& source, const std::string& text) {
    // A broken driver repeats its fault on every byte: keep the first ones.
    if (++violation_count_ > kViolationLogLimit) return;
    char when[32];
    std::snprintf(when, sizeof when, "%.6f s", seconds());
    violations_.push_back(source + " at " + when + ": " + text);
}

}  // namespace sim
