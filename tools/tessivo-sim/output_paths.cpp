#include "tools/tessivo-sim/output_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/common/file_identity.h"

namespace tessivo_sim {
namespace {

struct Output {
    const std::string& path;
    const char* what;
};

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Why `path` cannot be written, or nothing.
std::string cannot_write(const std::string& path, const std::string& card_path, const std::string& image_path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
        if (!card_path.empty() && tools::same_file(path, card_path)) return "it is the card image";
        if (!image_path.empty() && tools::same_file(path, image_path)) return "it is the image for the chip";
        if (::access(path.c_str(), W_OK) != 0) return std::strerror(errno);
        return {};
    }
    if (errno != ENOENT) return std::strerror(errno);
    const std::string folder = folder_of(path);
    if (::stat(folder.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
    return {};
}

}  // namespace

std::string check_outputs(const Options& o, const std::string& card_path) {
    const Output outputs[] = {{o.panel_png, "panel picture"}, {o.panel_raw, "panel RGB565"},
                              {o.sdi_dump, "SDI bytes"},      {o.audio, "decoded audio"},
                              {o.report_json, "report"},      {o.profile, "profile"},
                              {o.trace, "trace"}};
    std::vector<const Output*> seen;
    for (const Output& out : outputs) {
        if (out.path.empty()) continue;
        const std::string why = cannot_write(out.path, card_path, o.image);
        if (!why.empty()) return out.path + ": cannot write the " + out.what + ": " + why;
        for (const Output* other : seen)
            if (other->path == out.path || tools::same_file(other->path, out.path))
                return out.path + ": given for the " + other->what + " and the " + out.what;
        seen.push_back(&out);
    }
    return {};
}

}  // namespace tessivo_sim
