// TIFF structure inside the APP1 segment: byte order mark ("II" little
// endian, "MM" big endian), the number 42, the offset of the first image
// file directory (IFD0); IFD0 is a 16-bit count of 12-byte entries (tag,
// type, count, value or offset). Orientation is tag 0x0112, one SHORT kept
// in the entry itself. Offsets count from the byte order mark.
#include "tools/tessivo-mkcard/exif.h"

#include <cstring>

namespace mkcard {
namespace {

constexpr uint8_t kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kEntryBytes = 12;

class TiffReader {
public:
    TiffReader(const uint8_t* data, size_t size, bool big_endian) : data_(data), size_(size), big_(big_endian) {}
    bool u16(size_t at, uint16_t* v) const
    {
        if (at > size_ || size_ - at < 2) return false;
        const uint8_t* p = data_ + at;
        *v = static_cast<uint16_t>(big_ ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
        return true;
    }
    bool u32(size_t at, uint32_t* v) const
    {
        uint16_t a = 0, b = 0;
        if (!u16(at, &a) || !u16(at + 2, &b)) return false;
        *v = big_ ? (uint32_t{a} << 16) | b : (uint32_t{b} << 16) | a;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    bool big_;
};

} // namespace

int exif_orientation(const uint8_t* app1, size_t size)
{
    if (size < sizeof kExifId + 8 || std::memcmp(app1, kExifId, sizeof kExifId) != 0) return 1;
    const uint8_t* tiff = app1 + sizeof kExifId;
    const size_t tiff_size = size - sizeof kExifId;
    bool big;
    if (tiff[0] == 'I' && tiff[1] == 'I') big = false;
    else if (tiff[0] == 'M' && tiff[1] == 'M') big = true;
    else return 1;
    const TiffReader r(tiff, tiff_size, big);
    uint16_t magic = 0, count = 0;
    uint32_t ifd0 = 0;
    if (!r.u16(2, &magic) || magic != 42 || !r.u32(4, &ifd0) || !r.u16(ifd0, &count)) return 1;
    for (size_t i = 0; i < count; i++) {
        const size_t entry = size_t{ifd0} + 2 + i * kEntryBytes;
        uint16_t tag = 0, type = 0, value = 0;
        uint32_t n = 0;
        if (!r.u16(entry, &tag) || !r.u16(entry + 2, &type) || !r.u32(entry + 4, &n) || !r.u16(entry + 8, &value))
            return 1;
        if (tag != kOrientationTag) continue;
        return type == kTypeShort && n == 1 && value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

} // namespace mkcard
