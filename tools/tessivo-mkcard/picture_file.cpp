// PNG decoding with libpng. libpng reports errors by longjmp, so the decoding
// step keeps everything it changes in a state record owned by the caller and
// holds no object with a destructor of its own.
#include "tools/tessivo-mkcard/picture_file.h"

#include "tools/tessivo-mkcard/jpeg_file.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace mkcard {
namespace {

struct ReadState {
    FILE* fp = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    RgbImage* out = nullptr;
    std::vector<uint8_t> decoded;  // whole picture as decoded (interlaced files)
    std::vector<uint8_t> row;      // one row as decoded (non-interlaced files)
    std::string error;
};

[[noreturn]] void on_png_error(png_structp png, png_const_charp msg)
{
    auto* st = static_cast<ReadState*>(png_get_error_ptr(png));
    st->error = std::string("damaged PNG: ") + (msg ? msg : "decoding failed");
    png_longjmp(png, 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// One decoded row (3 or 4 channels) into 8-bit RGB, alpha composited onto black.
void store_row(const uint8_t* src, unsigned channels, uint32_t width, uint8_t* dst)
{
    for (uint32_t x = 0; x < width; x++, src += channels, dst += 3) {
        if (channels == 4) {
            const unsigned a = src[3];
            for (int c = 0; c < 3; c++) dst[c] = static_cast<uint8_t>((src[c] * a + 127) / 255);
        } else {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
        }
    }
}

bool decode(ReadState* st)
{
    if (setjmp(png_jmpbuf(st->png))) return false;

    png_init_io(st->png, st->fp);
    png_set_sig_bytes(st->png, 8);
    // Let every size through to the check below, which names the cause.
    png_set_user_limits(st->png, 0x7FFFFFFF, 0x7FFFFFFF);
    png_read_info(st->png, st->info);

    const png_uint_32 width = png_get_image_width(st->png, st->info);
    const png_uint_32 height = png_get_image_height(st->png, st->info);
    st->error = size_refusal(width, height);
    if (!st->error.empty()) return false;

    png_set_expand(st->png);  // palette to RGB, grey below 8 bits to 8, tRNS to alpha
    png_set_strip_16(st->png);
    png_set_gray_to_rgb(st->png);
    const int passes = png_set_interlace_handling(st->png);
    png_read_update_info(st->png, st->info);

    const unsigned channels = png_get_channels(st->png, st->info);
    const size_t rowbytes = png_get_rowbytes(st->png, st->info);
    if ((channels != 3 && channels != 4) || rowbytes != static_cast<size_t>(width) * channels) {
        st->error = "unsupported PNG layout";
        return false;
    }

    RgbImage& out = *st->out;
    out.width = width;
    out.height = height;
    out.rgb.assign(static_cast<size_t>(width) * height * 3, 0);
    if (passes == 1) {
        st->row.resize(rowbytes);
        for (png_uint_32 y = 0; y < height; y++) {
            png_read_row(st->png, st->row.data(), nullptr);
            store_row(st->row.data(), channels, width, &out.rgb[static_cast<size_t>(y) * width * 3]);
        }
    } else {
        st->decoded.resize(rowbytes * height);
        for (int pass = 0; pass < passes; pass++)
            for (png_uint_32 y = 0; y < height; y++)
                png_read_row(st->png, &st->decoded[rowbytes * y], nullptr);
        for (png_uint_32 y = 0; y < height; y++)
            store_row(&st->decoded[rowbytes * y], channels, width,
                      &out.rgb[static_cast<size_t>(y) * width * 3]);
    }
    png_read_end(st->png, nullptr);
    return true;
}

} // namespace

std::string size_refusal(uint32_t width, uint32_t height)
{
    if (width <= kMaxPictureSide && height <= kMaxPictureSide &&
        static_cast<uint64_t>(width) * height <= kMaxPicturePixels)
        return {};
    return "picture too large (" + std::to_string(width) + " x " + std::to_string(height) + " pixels; at most " +
           std::to_string(kMaxPictureSide) + " per side and " + std::to_string(kMaxPicturePixels) + " in all)";
}

std::string read_png(const std::string& path, RgbImage* out)
{
    ReadState st;
    st.out = out;
    st.fp = std::fopen(path.c_str(), "rb");
    if (!st.fp) return std::strerror(errno);

    unsigned char sig[8];
    errno = 0;
    if (std::fread(sig, 1, sizeof sig, st.fp) != sizeof sig || png_sig_cmp(sig, 0, sizeof sig) != 0) {
        const int read_errno = std::ferror(st.fp) ? errno : 0;
        std::fclose(st.fp);
        if (read_errno != 0) return std::strerror(read_errno);
        return "not a PNG file";
    }

    st.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &st, on_png_error, on_png_warning);
    if (st.png) st.info = png_create_info_struct(st.png);
    bool ok = false;
    if (!st.png || !st.info) st.error = "out of memory";
    else ok = decode(&st);
    png_destroy_read_struct(&st.png, &st.info, nullptr);
    std::fclose(st.fp);
    if (!ok) {
        out->rgb.clear();
        out->rgb.shrink_to_fit();
        return st.error.empty() ? "damaged PNG" : st.error;
    }
    return {};
}

std::string read_picture(const std::string& path, RgbImage* out)
{
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) return std::strerror(errno);
    unsigned char head[8] = {};
    errno = 0;
    const size_t n = std::fread(head, 1, sizeof head, fp);
    const int read_errno = std::ferror(fp) ? errno : 0;
    std::fclose(fp);
    if (read_errno != 0) return std::strerror(read_errno);
    if (n == sizeof head && png_sig_cmp(head, 0, sizeof head) == 0) return read_png(path, out);
    if (n >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return read_jpeg(path, out);
    return "not a PNG or JPEG file";
}

} // namespace mkcard
