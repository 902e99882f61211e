// tessivo-mkcard: makes a card the board can play from a picture (PNG or
// JPEG) and an MP3 file, as an image file or straight onto a card.
//
//   tessivo-mkcard --picture IMAGE --music SONG.mp3 -o CARD [options]
//   tessivo-mkcard --picture IMAGE --preview OUT.png [options]
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "tools/common/file_identity.h"
#include "tools/common/image_file.h"
#include "tools/common/version.h"
#include "tools/tessivo-mkcard/card_image.h"
#include "tools/tessivo-mkcard/music_file.h"
#include "tools/tessivo-mkcard/panel_frame.h"
#include "tools/tessivo-mkcard/picture_file.h"
#include "tools/tessivo-mkcard/preview.h"

namespace {

constexpr int EXIT_FAILED = 1;  // the card could not be made
constexpr int EXIT_USAGE = 2;   // bad command line

const char* const USAGE =
    "Usage: tessivo-mkcard --picture IMAGE --music SONG.mp3 -o CARD [options]\n"
    "  or:  tessivo-mkcard --picture IMAGE --preview OUT.png [options]\n"
    "  or:  tessivo-mkcard --help | --version\n"
    "\n"
    "Makes a card for the board: the picture becomes LOL.RAW (800 x 480 RGB565),\n"
    "the MP3 file is copied to LOL.MP3 byte for byte, on a freshly formatted FAT\n"
    "volume. CARD is an image file (replaced only on success) or a card's block\n"
    "device such as /dev/sdX, written in place: everything on that card is lost.\n"
    "\n"
    "  --picture FILE   PNG (any colour type and bit depth) or JPEG picture; a\n"
    "                   photo is turned upright by its EXIF orientation\n"
    "  --music FILE     MP3 stream (an ID3 tag in front is fine)\n"
    "  -o CARD          image file to write (sparse) or the card's block device\n"
    "                   (refused while mounted; its own size is used)\n"
    "  --size SIZE      image size, like 16M or 2G (default 64M)\n"
    "  --sfd            no partition table: the volume starts at sector 0\n"
    "  --fit MODE       letterbox (default): the whole picture, black bars where\n"
    "                   its shape differs from the panel's; crop: the panel\n"
    "                   filled, the picture's overhang cut off evenly\n"
    "  --dither         error diffusion to the panel's 65,536 colours, so photo\n"
    "                   gradients do not band\n"
    "  --preview FILE   write the frame the board will show (green square\n"
    "                   included) as PNG; without -o only the preview is made\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "An 800 x 480 picture is taken pixel for pixel; other sizes are scaled.\n"
    "\n"
    "Exit status: 0 success, 1 the card could not be made, 2 bad command line.\n";

int usage_fail(const std::string& why)
{
    std::fprintf(stderr, "tessivo-mkcard: %s\nTry 'tessivo-mkcard --help'.\n", why.c_str());
    return EXIT_USAGE;
}

int fail(const std::string& message)
{
    std::fprintf(stderr, "tessivo-mkcard: %s\n", message.c_str());
    return EXIT_FAILED;
}

int run(int argc, char** argv)
{
    std::string picture, music, output, size_arg, fit_arg, preview;
    mkcard::CardRequest req;
    mkcard::FrameOptions frame_options;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (a == "--version") {
            tools::print_version("tessivo-mkcard");
            return 0;
        }
        if (a == "--sfd" || a == "--dither") {
            (a == "--sfd" ? req.whole_card : frame_options.dither) = true;
            continue;
        }
        std::string* target = a == "--picture" ? &picture
                              : a == "--music" ? &music
                              : a == "-o" || a == "--output" ? &output
                              : a == "--size" ? &size_arg
                              : a == "--fit" ? &fit_arg
                              : a == "--preview" ? &preview
                              : nullptr;
        if (!target) return usage_fail(a.starts_with("-") ? "unknown option: " + a : "unexpected argument: " + a);
        if (i + 1 >= argc) return usage_fail("missing value for " + a);
        *target = argv[++i];
    }
    if (picture.empty()) return usage_fail("missing --picture");
    if (output.empty() && preview.empty()) return usage_fail("missing -o");
    if (!output.empty() && music.empty()) return usage_fail("missing --music");
    if (!size_arg.empty() && !tools::parse_size(size_arg, &req.size))
        return usage_fail("bad value for --size: " + size_arg + " (use a size like 16M or 2G)");
    if (!fit_arg.empty() && fit_arg != "letterbox" && fit_arg != "crop")
        return usage_fail("bad value for --fit: " + fit_arg + " (letterbox or crop)");
    frame_options.fit = fit_arg == "crop" ? mkcard::Fit::Crop : mkcard::Fit::Letterbox;

    // An output must never be one of the inputs (or the other output), by
    // whatever name it is given.
    const struct {
        const std::string& path;
        const char* role;
    } files[] = {{picture, "the picture"}, {music, "the music"}, {output, "the card"}, {preview, "the preview"}};
    for (size_t out = 2; out < 4; out++)
        for (size_t other = 0; other < 4; other++) {
            const auto& a = files[out];
            const auto& b = files[other];
            if (other == out || a.path.empty() || b.path.empty()) continue;
            if (tools::same_file(a.path, b.path) || (other > out && a.path == b.path))
                return usage_fail(a.path + ": the same file is given as " + b.role + " and as " + a.role);
        }

    mkcard::RgbImage image;
    std::string why = mkcard::read_picture(picture, &image);
    if (!why.empty()) return fail(picture + ": " + why);
    req.frame = mkcard::make_frame(image, frame_options);
    const mkcard::Placement placed = mkcard::place_on_panel(image.width, image.height, frame_options.fit);
    const bool scaled = placed.src_width != placed.width || placed.src_height != placed.height;
    const bool cropped = placed.src_width != image.width || placed.src_height != image.height;
    const std::string picture_note =
        std::to_string(image.width) + " x " + std::to_string(image.height) +
        (cropped ? " cropped to " + std::to_string(placed.src_width) + " x " + std::to_string(placed.src_height)
                 : std::string()) +
        (scaled ? " scaled to " + std::to_string(placed.width) + " x " + std::to_string(placed.height)
                : std::string()) +
        (frame_options.dither ? ", dithered" : "");
    image = {};

    if (!output.empty()) {
        why = mkcard::check_mp3(music, &req.music_size);
        if (!why.empty()) return fail(music + ": " + why);
    }
    if (!preview.empty()) {
        why = mkcard::write_preview(req.frame, preview);
        if (!why.empty()) return fail(why);
    }
    if (output.empty()) {
        std::printf("%s: the panel as the board shows it, from %s (%s)\n", preview.c_str(), picture.c_str(),
                    picture_note.c_str());
        return 0;
    }

    req.output = output;
    req.music = music;
    unsigned fat_bits = 0;
    why = mkcard::make_card(req, &fat_bits);
    if (!why.empty()) return fail(why);
    std::printf("%s: FAT%u%s, LOL.RAW from %s (%s), LOL.MP3 %llu bytes\n", output.c_str(), fat_bits,
                req.whole_card ? " without partition table" : "", picture.c_str(), picture_note.c_str(),
                static_cast<unsigned long long>(req.music_size));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return fail("out of memory");
    } catch (const std::exception& e) {
        return fail(e.what());
    }
}
