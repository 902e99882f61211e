// tessivo-mkcard: makes a card image the board can play from a PNG picture
// and an MP3 file.
//
//   tessivo-mkcard --picture IMAGE.png --music SONG.mp3 -o CARD.img [--size SIZE] [--sfd]
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "tools/common/image_file.h"
#include "tools/tessivo-mkcard/card_image.h"
#include "tools/tessivo-mkcard/music_file.h"
#include "tools/tessivo-mkcard/panel_frame.h"
#include "tools/tessivo-mkcard/picture_file.h"

namespace {

constexpr int EXIT_FAILED = 1;  // the card could not be made
constexpr int EXIT_USAGE = 2;   // bad command line

const char* const USAGE =
    "usage: tessivo-mkcard --picture IMAGE.png --music SONG.mp3 -o CARD.img [--size SIZE] [--sfd]\n"
    "       tessivo-mkcard --help\n"
    "\n"
    "Makes a card image for the board: the picture becomes LOL.RAW (800 x 480\n"
    "RGB565; other sizes are scaled to fit and letterboxed in black), the MP3\n"
    "file is copied to LOL.MP3 byte for byte, on a freshly formatted FAT volume.\n"
    "\n"
    "  --picture FILE   PNG picture, any colour type and bit depth\n"
    "  --music FILE     MP3 stream (an ID3 tag in front is fine)\n"
    "  -o FILE          card image to write (sparse; replaced only on success)\n"
    "  --size SIZE      card size, like 16M or 2G (default 64M)\n"
    "  --sfd            no partition table: the volume starts at sector 0\n"
    "  --help           show this text\n"
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
    std::string picture, music, output, size_arg;
    mkcard::CardRequest req;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (a == "--sfd") {
            req.whole_card = true;
            continue;
        }
        std::string* target = a == "--picture" ? &picture
                              : a == "--music" ? &music
                              : a == "-o" || a == "--output" ? &output
                              : a == "--size" ? &size_arg
                              : nullptr;
        if (!target) return usage_fail(a.starts_with("-") ? "unknown option: " + a : "unexpected argument: " + a);
        if (i + 1 >= argc) return usage_fail("missing value for " + a);
        *target = argv[++i];
    }
    if (picture.empty()) return usage_fail("missing --picture");
    if (music.empty()) return usage_fail("missing --music");
    if (output.empty()) return usage_fail("missing -o");
    if (!size_arg.empty() && !tools::parse_size(size_arg, &req.size))
        return usage_fail("bad value for --size: " + size_arg + " (use a size like 16M or 2G)");

    mkcard::RgbImage image;
    std::string why = mkcard::read_png(picture, &image);
    if (!why.empty()) return fail(picture + ": " + why);
    req.frame = mkcard::make_frame(image);
    const mkcard::Placement placed = mkcard::fit_to_panel(image.width, image.height);
    const bool scaled = image.width != mkcard::kPanelWidth || image.height != mkcard::kPanelHeight;
    const std::string picture_note = std::to_string(image.width) + " x " + std::to_string(image.height) +
                                     (scaled ? " scaled to " + std::to_string(placed.width) + " x " +
                                                   std::to_string(placed.height)
                                             : std::string());
    image = {};

    why = mkcard::check_mp3(music, &req.music_size);
    if (!why.empty()) return fail(music + ": " + why);

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
