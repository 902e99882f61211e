// Helpers for the tessivo-mkcard tests.
#include "tests/mkcard/mkcard_support.h"

#include "tests/support/run_command.h"

#include <png.h>
#include <zlib.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace mkcard_test {

ScratchDir::ScratchDir()
{
    std::string templ = (fs::temp_directory_path() / "mkcard-test-XXXXXX").string();
    if (!::mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = templ;
}

ScratchDir::~ScratchDir()
{
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::vector<std::string> ScratchDir::entries() const
{
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

namespace {

std::string slurp(const std::string& path)
{
    const Bytes b = read_file(path);
    return std::string(b.begin(), b.end());
}

} // namespace

RunResult run_mkcard(const std::vector<std::string>& args, uint64_t file_size_limit)
{
    ScratchDir io;
    const std::string out_path = io.path("stdout"), err_path = io.path("stderr");
    std::vector<std::string> argv_store{MKCARD_PATH};
    argv_store.insert(argv_store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_store) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int o = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int e = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (o < 0 || e < 0) ::_exit(127);
        ::dup2(o, 1);
        ::dup2(e, 2);
        if (file_size_limit) {
            // Beyond the limit the kernel refuses the write (EFBIG) instead of signalling.
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit lim{file_size_limit, file_size_limit};
            ::setrlimit(RLIMIT_FSIZE, &lim);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    RunResult r;
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(out_path);
    r.err = slurp(err_path);
    return r;
}

int shell(const std::string& command, std::string* out)
{
    return test_support::run_command(command, out);
}

Picture make_picture(uint32_t width, uint32_t height,
                     const std::function<void(uint32_t, uint32_t, uint8_t*)>& pixel)
{
    Picture p{width, height, Bytes(static_cast<size_t>(width) * height * 3)};
    for (uint32_t y = 0; y < height; y++)
        for (uint32_t x = 0; x < width; x++) pixel(x, y, &p.rgb[(static_cast<size_t>(y) * width + x) * 3]);
    return p;
}

namespace {

// libpng reports errors by longjmp; the writer keeps no C++ objects of its own.
bool write_png_file(FILE* fp, const PngInput* in)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, fp);
    png_set_IHDR(png, info, in->width, in->height, in->bit_depth, in->color_type,
                 in->interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!in->palette.empty()) {
        png_color pal[256];
        const int n = static_cast<int>(in->palette.size() / 3);
        for (int i = 0; i < n; i++) pal[i] = {in->palette[i * 3], in->palette[i * 3 + 1], in->palette[i * 3 + 2]};
        png_set_PLTE(png, info, pal, n);
    }
    if (!in->trns.empty())
        png_set_tRNS(png, info, in->trns.data(), static_cast<int>(in->trns.size()), nullptr);
    png_write_info(png, info);
    const size_t rowbytes = in->samples.size() / in->height;
    const int passes = png_set_interlace_handling(png);
    for (int pass = 0; pass < passes; pass++)
        for (uint32_t y = 0; y < in->height; y++)
            png_write_row(png, &in->samples[rowbytes * y]);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

void put_be32(Bytes& b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}

void put_chunk(Bytes& png, const char* type, const Bytes& data)
{
    put_be32(png, static_cast<uint32_t>(data.size()));
    Bytes body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    png.insert(png.end(), body.begin(), body.end());
    put_be32(png, static_cast<uint32_t>(::crc32(0, body.data(), static_cast<uInt>(body.size()))));
}

} // namespace

void write_png(const std::string& path, const PngInput& in)
{
    FILE* fp = std::fopen(path.c_str(), "wb");
    if (!fp) throw std::runtime_error("cannot create " + path);
    const bool ok = write_png_file(fp, &in);
    std::fclose(fp);
    if (!ok) throw std::runtime_error("cannot write PNG " + path);
}

void write_rgb_png(const std::string& path, const Picture& picture)
{
    PngInput in;
    in.width = picture.width;
    in.height = picture.height;
    in.samples = picture.rgb;
    write_png(path, in);
}

Bytes png_header_only(uint32_t width, uint32_t height)
{
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Bytes ihdr;
    put_be32(ihdr, width);
    put_be32(ihdr, height);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, not interlaced
    put_chunk(png, "IHDR", ihdr);
    put_chunk(png, "IDAT", {0x78, 0x9C, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01});  // (not enough pixels)
    put_chunk(png, "IEND", {});
    return png;
}

Bytes make_mp3(int frames)
{
    // ID3v2.3 tag with one text frame (title), sizes as syncsafe integers.
    const std::string title = "\x03" "mkcard test tune";
    Bytes tag = {'I', 'D', '3', 3, 0, 0};
    const uint32_t frame_size = static_cast<uint32_t>(title.size());
    const uint32_t tag_size = 10 + frame_size;
    for (int s = 21; s >= 0; s -= 7) tag.push_back(static_cast<uint8_t>((tag_size >> s) & 0x7F));
    tag.insert(tag.end(), {'T', 'I', 'T', '2'});
    put_be32(tag, frame_size);
    tag.insert(tag.end(), {0, 0});
    tag.insert(tag.end(), title.begin(), title.end());

    // 417-byte frames: header, 17 bytes of side information saying "no audio
    // data", then ancillary bytes that a decoder skips.
    Bytes mp3 = tag;
    for (int f = 0; f < frames; f++) {
        mp3.insert(mp3.end(), {0xFF, 0xFB, 0x90, 0xC0});
        mp3.insert(mp3.end(), 17, 0);
        for (int i = 0; i < 417 - 21; i++) mp3.push_back(static_cast<uint8_t>(f * 31 + i * 7));
    }
    return mp3;
}

Bytes expected_frame(const Picture& picture)
{
    Bytes frame(kPanelWidth * kPanelHeight * 2);
    for (size_t i = 0; i < static_cast<size_t>(kPanelWidth) * kPanelHeight; i++) {
        const uint8_t* s = &picture.rgb[i * 3];
        const uint16_t px = static_cast<uint16_t>(((s[0] >> 3) << 11) | ((s[1] >> 2) << 5) | (s[2] >> 3));
        frame[i * 2] = static_cast<uint8_t>(px);
        frame[i * 2 + 1] = static_cast<uint8_t>(px >> 8);
    }
    return frame;
}

uint16_t pixel_at(const Bytes& frame, uint32_t x, uint32_t y)
{
    const size_t at = (static_cast<size_t>(y) * kPanelWidth + x) * 2;
    return static_cast<uint16_t>(frame[at] | frame[at + 1] << 8);
}

void shown_rgb(uint16_t px, uint8_t* rgb)
{
    const unsigned r = px >> 11, g = (px >> 5) & 63, b = px & 31;
    rgb[0] = static_cast<uint8_t>(r << 3 | r >> 2);
    rgb[1] = static_cast<uint8_t>(g << 2 | g >> 4);
    rgb[2] = static_cast<uint8_t>(b << 3 | b >> 2);
}

Picture board_view(const Bytes& frame)
{
    return make_picture(kPanelWidth, kPanelHeight, [&](uint32_t x, uint32_t y, uint8_t* p) {
        const bool square = x >= 99 && x <= 199 && y >= 99 && y <= 199;
        shown_rgb(square ? 0x07E0 : pixel_at(frame, x, y), p);
    });
}

Picture read_png_rgb(const std::string& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Picture p;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
    image.format = PNG_FORMAT_RGB;
    Bytes rgb(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) return p;
    p.width = image.width;
    p.height = image.height;
    p.rgb = std::move(rgb);
    return p;
}

Bytes card_file(const std::string& card, uint64_t offset, const std::string& name, const std::string& scratch)
{
    const std::string dest = scratch + "/mcopy-" + name;
    std::remove(dest.c_str());
    const std::string cmd = "MTOOLS_SKIP_CHECK=1 mcopy -n -o -i '" + card + "@@" + std::to_string(offset) +
                            "' ::" + name + " '" + dest + "'";
    if (shell(cmd) != 0) return {};
    Bytes data = read_file(dest);
    std::remove(dest.c_str());
    return data;
}

int fsck_volume(const std::string& card, uint64_t offset, const std::string& scratch, std::string* out)
{
    std::string volume = card;
    if (offset != 0) {
        // fsck.fat reads a volume from its first byte: copy the partition out.
        volume = scratch + "/fsck-volume.img";
        const std::string cmd = "dd if='" + card + "' of='" + volume + "' bs=512 skip=" +
                                std::to_string(offset / 512) + " conv=sparse status=none";
        if (shell(cmd, out) != 0) return -1;
    }
    const int rc = shell("fsck.fat -n '" + volume + "'", out);
    if (offset != 0) std::remove(volume.c_str());
    return rc;
}

} // namespace mkcard_test
