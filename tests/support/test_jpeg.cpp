#include "tests/support/test_jpeg.h"

// libjpeg's header needs FILE and size_t declared first.
#include <cstdio>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <stdexcept>

namespace test_support {

using Bytes = std::vector<uint8_t>;
using Picture = RgbPicture;

namespace {

struct JpegError {
    jpeg_error_mgr pub;
    jmp_buf escape;
};

[[noreturn]] void jpeg_fail(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->escape, 1);
}

// libjpeg reports errors by longjmp: the encoding steps hold no C++ objects.
bool encode_jpeg(const Picture* picture, const JpegInput* how, unsigned char** out, unsigned long* size)
{
    jpeg_compress_struct cinfo{};
    JpegError err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = jpeg_fail;
    if (setjmp(err.escape)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, out, size);
    cinfo.image_width = picture->width;
    cinfo.image_height = picture->height;
    cinfo.input_components = how->grey ? 1 : how->cmyk ? 4 : 3;
    cinfo.in_color_space = how->grey ? JCS_GRAYSCALE : how->cmyk ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    if (how->progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    if (!how->app1.empty())
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, how->app1.data(), static_cast<unsigned>(how->app1.size()));
    std::vector<uint8_t> row(static_cast<size_t>(picture->width) * 4);
    while (cinfo.next_scanline < cinfo.image_height) {
        const uint8_t* src = &picture->rgb[static_cast<size_t>(cinfo.next_scanline) * picture->width * 3];
        for (uint32_t x = 0; x < picture->width; x++) {
            if (how->grey) row[x] = src[x * 3];
            else if (how->cmyk) for (int c = 0; c < 4; c++) row[x * 4 + c] = c < 3 ? src[x * 3 + c] : 0;
            else for (int c = 0; c < 3; c++) row[x * 3 + c] = src[x * 3 + c];
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

bool decode_jpeg_into(const Bytes* jpeg, Picture* out)
{
    jpeg_decompress_struct cinfo{};
    JpegError err{};
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = jpeg_fail;
    if (setjmp(err.escape)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg->data(), static_cast<unsigned long>(jpeg->size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    out->width = cinfo.output_width;
    out->height = cinfo.output_height;
    out->rgb.assign(static_cast<size_t>(out->width) * out->height * 3, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &out->rgb[static_cast<size_t>(cinfo.output_scanline) * out->width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

}  // namespace

Bytes make_jpeg(const Picture& picture, const JpegInput& how)
{
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    const bool ok = encode_jpeg(&picture, &how, &mem, &size);
    Bytes jpeg = ok ? Bytes(mem, mem + size) : Bytes{};
    std::free(mem);
    if (!ok) throw std::runtime_error("cannot encode a JPEG");
    return jpeg;
}

Picture decode_jpeg(const Bytes& jpeg)
{
    Picture p;
    if (!decode_jpeg_into(&jpeg, &p)) throw std::runtime_error("cannot decode a JPEG");
    return p;
}

Bytes exif_orientation_block(int value, bool big_endian)
{
    // Byte by byte: GCC 12 at -O3 misreads inserts of an initializer list
    // into a growing vector as out of bounds.
    Bytes b = {'E', 'x', 'i', 'f', 0, 0};
    const auto two = [&](uint8_t first, uint8_t second) {
        b.push_back(first);
        b.push_back(second);
    };
    const auto u16 = [&](unsigned v) {
        if (big_endian) two(uint8_t(v >> 8), uint8_t(v));
        else two(uint8_t(v), uint8_t(v >> 8));
    };
    const auto u32 = [&](uint32_t v) {
        if (big_endian) u16(v >> 16), u16(v & 0xFFFF);
        else u16(v & 0xFFFF), u16(v >> 16);
    };
    if (big_endian) two('M', 'M');
    else two('I', 'I');
    u16(42);
    u32(8);  // IFD0 right after the header
    u16(2);  // two entries: a resolution unit, then the orientation
    u16(0x0128), u16(3), u32(1), u16(2), u16(0);
    u16(0x0112), u16(3), u32(1), u16(static_cast<unsigned>(value)), u16(0);
    u32(0);  // no next directory
    return b;
}

}  // namespace test_support
