#include "tools/tessivo-sim/options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/common/version.h"

namespace tessivo_sim {
namespace {

const char kUsage[] =
    "Usage: tessivo-sim [options]\n"
    "Runs the tessivo firmware on the simulated board: the picture from the card\n"
    "on the panel, the green square, then the music through the decoder.\n"
    "\n"
    "  --card IMAGE          card image or card to insert (default: the built-in\n"
    "                        demo card); it is never changed: writes stay in memory\n"
    "  --card-type TYPE      mmc, sdv1, sdsc, sdhc, sdxc, or none for an empty socket\n"
    "                        (default: sdsc up to 2 GB, sdhc up to 32 GB, sdxc above)\n"
    "  --passes N            stop after N completed playback passes (default 1, or\n"
    "                        no limit when only --max-seconds is given)\n"
    "  --max-seconds S       stop after S seconds of board time (default 600)\n"
    "  --panel-png FILE      write the panel as PNG at the end (default tessivo-panel.png)\n"
    "  --no-panel-png        do not write the panel PNG\n"
    "  --panel-raw FILE      write the panel as 800x480 little-endian RGB565, row 0 first\n"
    "  --sdi-dump FILE       write every byte the decoder received on SDI\n"
    "  --audio FILE.wav      write the audio the decoder played\n"
    "  --report-json FILE    write the run's figures as one JSON object\n"
    "  --quiet               no progress line and no report on the terminal\n"
    "  --strict              a run also fails when the board showed no picture from\n"
    "                        the card or sent no music to the decoder\n"
    "\n"
    "  --image FILE.elf      run the image built for the chip (e.g. build/pic32/tessivo.elf)\n"
    "                        from its reset vector on the simulated M4K core, instead of\n"
    "                        the firmware compiled for this computer; time then comes\n"
    "                        from the instructions' cycles\n"
    "  --profile FILE        with --image: write cycles and instructions by function\n"
    "  --trace FILE          with --image: write every instruction executed in the\n"
    "                        board-time window of --trace-from and --trace-to\n"
    "  --trace-from S        start of the trace window in seconds of board time (default 0)\n"
    "  --trace-to S          end of the trace window (default: the end of the run)\n"
    "  --help                this text\n"
    "  --version             the version\n"
    "\n"
    "The card may be a card's block device (/dev/sdX); it is only read. Output\n"
    "files are checked before the run starts.\n"
    "\n"
    "Exit status: 0 after a run without protocol violations, 1 when a model\n"
    "recorded violations (with --strict also when the card gave no picture or no\n"
    "music; with --image also a fault of the core, such as a reserved\n"
    "instruction or a stack below its reservation, or configuration words the\n"
    "board cannot run with), 2 for a usage error, an unreadable card image, an\n"
    "output that cannot be written, or an image that is not a little-endian\n"
    "MIPS32 ELF for the chip's memories.\n";

bool parse_number(const char* text, double& out) {
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && std::isfinite(out);
}

}  // namespace

std::optional<Options> parse_options(int argc, char** argv, int& exit_code) {
    Options o;
    bool passes_given = false, seconds_given = false;
    auto fail = [&](const std::string& message) -> std::optional<Options> {
        std::fprintf(stderr, "tessivo-sim: %s (try --help)\n", message.c_str());
        exit_code = 2;
        return std::nullopt;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            exit_code = 0;
            return std::nullopt;
        }
        if (arg == "--version") {
            tools::print_version("tessivo-sim");
            exit_code = 0;
            return std::nullopt;
        }
        if (arg == "--quiet" || arg == "--strict") {
            (arg == "--quiet" ? o.quiet : o.strict) = true;
            continue;
        }
        if (arg == "--no-panel-png") {
            o.panel_png.clear();
            continue;
        }
        static const char* const with_value[] = {"--card", "--card-type", "--passes", "--max-seconds", "--panel-png",
                                                 "--panel-raw", "--sdi-dump", "--audio", "--report-json",
                                                 "--image", "--profile", "--trace", "--trace-from",
                                                 "--trace-to"};
        bool known = false;
        for (const char* name : with_value) known = known || arg == name;
        if (!known) return fail("unknown option '" + arg + "'");
        if (i + 1 >= argc) return fail(arg + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--card") {
            o.card = value;
        } else if (arg == "--card-type") {
            static const char* const types[] = {"mmc", "sdv1", "sdsc", "sdhc", "sdxc", "none"};
            bool ok = false;
            for (const char* t : types) ok = ok || value == t;
            if (!ok) return fail("--card-type '" + value + "': expected mmc, sdv1, sdsc, sdhc, sdxc or none");
            o.card_type = value;
        } else if (arg == "--passes") {
            double n = 0;
            if (!parse_number(value.c_str(), n) || n < 1 || n != std::floor(n) || n > 1e9)
                return fail("--passes '" + value + "': expected a whole number of at least 1");
            o.passes = static_cast<long>(n);
            passes_given = true;
        } else if (arg == "--max-seconds") {
            if (!parse_number(value.c_str(), o.max_seconds) || o.max_seconds <= 0 || o.max_seconds > 1e6)
                return fail("--max-seconds '" + value + "': expected a number of seconds above 0");
            seconds_given = true;
        } else if (arg == "--panel-png") {
            o.panel_png = value;
        } else if (arg == "--panel-raw") {
            o.panel_raw = value;
        } else if (arg == "--sdi-dump") {
            o.sdi_dump = value;
        } else if (arg == "--audio") {
            o.audio = value;
        } else if (arg == "--image") {
            o.image = value;
        } else if (arg == "--profile") {
            o.profile = value;
        } else if (arg == "--trace") {
            o.trace = value;
        } else if (arg == "--trace-from" || arg == "--trace-to") {
            double& bound = arg == "--trace-from" ? o.trace_from : o.trace_to;
            if (!parse_number(value.c_str(), bound) || bound < 0)
                return fail(arg + " '" + value + "': expected a board time in seconds, 0 or more");
        } else {
            o.report_json = value;
        }
    }
    if (seconds_given && !passes_given) o.passes = 0;  // the board time alone ends the run
    if (o.image.empty() && (!o.profile.empty() || !o.trace.empty()))
        return fail("--profile and --trace need --image: they follow the instructions of the chip's image");
    if (o.trace_to >= 0 && o.trace_to < o.trace_from)
        return fail("--trace-to is before --trace-from");
    return o;
}

}  // namespace tessivo_sim
