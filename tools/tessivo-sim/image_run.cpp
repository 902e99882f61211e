#include "tools/tessivo-sim/image_run.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/image_cpu/configuration_check.h"
#include "sim/image_cpu/function_profile.h"
#include "sim/image_cpu/image_cpu.h"
#include "sim/image_cpu/instruction_trace.h"

namespace tessivo_sim {
namespace {

sim::Cycle cycles_from_seconds(double s) { return static_cast<sim::Cycle>(s * sim::kSysClockHz); }

}  // namespace

std::unique_ptr<ImageRun> ImageRun::open(const Options& options, std::string& error) {
    auto image = m4k::ElfImage::read(options.image, error);
    if (!image) return nullptr;
    std::unique_ptr<ImageRun> run(new ImageRun(options, std::move(*image)));
    if (!options.trace.empty()) {
        run->trace_file_ = tools::TempFile::beside(options.trace, &error);
        if (!run->trace_file_) return nullptr;
        // The stream writes through a descriptor of its own; the temporary
        // file keeps the other for the flush and the rename.
        const int fd = ::dup(run->trace_file_->fd());
        run->trace_ = fd < 0 ? nullptr : ::fdopen(fd, "wb");
        if (!run->trace_) {
            error = options.trace + ": cannot write the trace: " + std::strerror(errno);
            if (fd >= 0) ::close(fd);
            return nullptr;
        }
        std::fputs(sim::InstructionTrace::header(), run->trace_);
    }
    return run;
}

// An unfinished trace's temporary file goes with trace_file_.
ImageRun::~ImageRun() {
    if (trace_) std::fclose(trace_);
}

sim::BoardOptions ImageRun::board_options() const {
    sim::BoardOptions b;
    b.reset_pb_divider = sim::reset_pb_divider(image_.config_word(1));
    return b;
}

void ImageRun::check_configuration(sim::Board& board, CpuFigures& figures) const {
    const uint32_t words[4] = {image_.config_word(0), image_.config_word(1), image_.config_word(2),
                               image_.config_word(3)};
    for (const auto& finding : sim::check_configuration(words)) {
        if (finding.board_would_fail)
            board.violation("configuration", finding.text);
        else
            figures.configuration_notes.push_back(finding.text);
    }
}

void ImageRun::run(sim::Board& board, CpuFigures& figures) {
    sim::ImageCpu cpu(board, image_);
    std::optional<sim::FunctionProfile> profile;
    std::optional<sim::InstructionTrace> trace;
    if (!options_.profile.empty()) profile.emplace(cpu);
    if (trace_) trace.emplace(cpu, trace_);

    // The step hook costs time on every instruction: set only while something listens.
    auto hook = [&](bool tracing) {
        if (!profile && !tracing) return cpu.core().set_step_hook(nullptr);
        cpu.core().set_step_hook([&profile, &trace, tracing](uint32_t pc) {
            if (profile) profile->step(pc);
            if (tracing) trace->step(pc);
        });
    };
    sim::ImageCpu::Stop stop = sim::ImageCpu::Stop::Until;
    if (trace) {
        hook(false);
        stop = cpu.run(cycles_from_seconds(options_.trace_from));
        if (stop == sim::ImageCpu::Stop::Until) {
            hook(true);
            stop = cpu.run(options_.trace_to < 0 ? sim::kNever : cycles_from_seconds(options_.trace_to));
        }
    }
    if (stop == sim::ImageCpu::Stop::Until) {
        hook(false);
        cpu.run();
    }
    cpu.core().set_step_hook(nullptr);
    if (profile) {
        profile->pause();
        profile_text_ = profile->text();
    }

    figures.cpu = "m4k";
    figures.instructions = cpu.core().instructions();
    figures.stack_peak_bytes = cpu.stack_peak_bytes();
}

bool ImageRun::write_outputs(std::vector<std::string>& written) {
    bool ok = true;
    std::string why;
    if (!options_.profile.empty()) {
        if (tools::write_whole_file(options_.profile, profile_text_.data(), profile_text_.size(), &why)) {
            written.push_back("profile: " + options_.profile);
        } else {
            std::fprintf(stderr, "tessivo-sim: %s: cannot write the profile\n", options_.profile.c_str());
            ok = false;
        }
    }
    if (trace_) {
        const bool flushed = std::fclose(trace_) == 0;
        trace_ = nullptr;
        if (flushed && trace_file_->commit(&why)) {
            written.push_back("instruction trace: " + options_.trace);
        } else {
            std::fprintf(stderr, "tessivo-sim: %s: cannot write the trace\n", options_.trace.c_str());
            ok = false;
        }
    }
    return ok;
}

}  // namespace tessivo_sim
