// Size parsing and sparse image files for the host programs.
#include "tools/common/image_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tools {

bool parse_size(const std::string& text, uint64_t* out)
{
    if (text.empty() || !(text[0] >= '0' && text[0] <= '9')) return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (errno) return false;
    std::string suffix = end;
    if (suffix.size() == 2 && (suffix[1] == 'B' || suffix[1] == 'b')) suffix.pop_back();
    uint64_t mul = 1;
    if (suffix.empty()) mul = 1;
    else if (suffix == "K" || suffix == "k") mul = 1ull << 10;
    else if (suffix == "M" || suffix == "m") mul = 1ull << 20;
    else if (suffix == "G" || suffix == "g") mul = 1ull << 30;
    else if (suffix == "T" || suffix == "t") mul = 1ull << 40;
    else return false;
    if (v > UINT64_MAX / mul) return false;
    *out = v * mul;
    return true;
}

bool size_image(int fd, uint64_t bytes, std::string* why)
{
    const uint64_t whole = bytes / 512 * 512;
    if (whole > static_cast<uint64_t>(INT64_MAX)) {
        *why = "size too large";
        return false;
    }
    if (::ftruncate(fd, static_cast<off_t>(whole)) != 0) {
        *why = std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace tools
