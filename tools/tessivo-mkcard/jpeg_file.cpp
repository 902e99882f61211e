// JPEG decoding with libjpeg(-turbo). Like libpng it reports errors by
// longjmp, so the decoding step keeps everything it changes in a state
// record owned by the caller and holds no object with a destructor.
#include "tools/tessivo-mkcard/jpeg_file.h"

#include <jpeglib.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include "tools/tessivo-mkcard/exif.h"
#include "tools/tessivo-mkcard/orientation.h"

namespace mkcard {
namespace {

struct ErrorManager {
    jpeg_error_mgr pub;  // first, so libjpeg's pointer to it is a pointer to this
    jmp_buf escape;
    char message[JMSG_LENGTH_MAX];
    bool corrupt;  // a corrupt-data warning was seen; `message` holds the first
};

[[noreturn]] void on_jpeg_error(j_common_ptr cinfo)
{
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->escape, 1);
}

// Level -1 is corrupt data libjpeg can step over (a file cut short is
// filled with grey): the picture is not what the file should hold, so it is
// refused like a damaged PNG. Trace messages (levels above 0) are dropped.
void on_jpeg_message(j_common_ptr cinfo, int level)
{
    if (level != -1) return;
    auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (!err->corrupt) (*cinfo->err->format_message)(cinfo, err->message);
    err->corrupt = true;
}

struct ReadState {
    FILE* fp = nullptr;
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    RgbImage* out = nullptr;
    int orientation = 1;
    std::vector<uint8_t> row;
    std::string error;
};

bool decode(ReadState* st)
{
    jpeg_decompress_struct& cinfo = st->cinfo;
    if (setjmp(st->err.escape)) {
        st->error = std::string("damaged JPEG: ") + st->err.message;
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, st->fp);
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_read_header(&cinfo, TRUE);

    const uint32_t width = cinfo.image_width, height = cinfo.image_height;
    st->error = size_refusal(width, height);
    if (!st->error.empty()) return false;
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) {
        st->error = "CMYK JPEG (a print colour space); save the photo as RGB";
        return false;
    }
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1) {
            const int found = exif_orientation(m->data, m->data_length);
            if (found != 1) {
                st->orientation = found;
                break;
            }
        }

    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 3) {
        st->error = "unsupported JPEG layout";
        return false;
    }
    RgbImage& out = *st->out;
    out.width = cinfo.output_width;
    out.height = cinfo.output_height;
    out.rgb.assign(static_cast<size_t>(out.width) * out.height * 3, 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &out.rgb[static_cast<size_t>(cinfo.output_scanline) * out.width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    if (st->err.corrupt) {
        st->error = std::string("damaged JPEG: ") + st->err.message;
        return false;
    }
    return true;
}

} // namespace

std::string read_jpeg(const std::string& path, RgbImage* out)
{
    ReadState st;
    st.out = out;
    st.fp = std::fopen(path.c_str(), "rb");
    if (!st.fp) return std::strerror(errno);
    st.cinfo.err = jpeg_std_error(&st.err.pub);
    st.err.pub.error_exit = on_jpeg_error;
    st.err.pub.emit_message = on_jpeg_message;
    const bool ok = decode(&st);
    jpeg_destroy_decompress(&st.cinfo);
    std::fclose(st.fp);
    if (!ok) {
        out->rgb.clear();
        out->rgb.shrink_to_fit();
        return st.error;
    }
    apply_orientation(out, st.orientation);
    return {};
}

} // namespace mkcard
