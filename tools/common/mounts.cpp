// The mount table is /proc/self/mounts (or /proc/mounts): one line per mount,
// "SOURCE TARGET TYPE OPTIONS 0 0", with spaces in names written as \040.
// A source that is a block device node is compared by its device number; the
// kernel's sysfs tells which disk a partition belongs to.
#include "tools/common/mounts.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <fstream>
#include <sstream>

namespace tools {
namespace {

// Undoes the octal escapes of the mount table.
std::string unescape(const std::string& field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); i++) {
        const bool octal = field[i] == '\\' && i + 3 < field.size() &&
                           field.find_first_not_of("01234567", i + 1) >= i + 4;
        if (octal) {
            out += static_cast<char>(std::stoi(field.substr(i + 1, 3), nullptr, 8));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// The whole disk `dev` is a partition of, or `dev` itself.
dev_t whole_disk(dev_t dev)
{
    const std::string sys =
        "/sys/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
    struct stat st {};
    if (::stat((sys + "/partition").c_str(), &st) != 0) return dev;
    std::ifstream parent(sys + "/../dev");
    unsigned maj = 0, min = 0;
    char colon = 0;
    if (!(parent >> maj >> colon >> min) || colon != ':') return dev;
    return makedev(maj, min);
}

} // namespace

std::string mount_point_of(dev_t dev)
{
    std::ifstream table("/proc/self/mounts");
    if (!table) table.open("/proc/mounts");
    const dev_t disk = whole_disk(dev);
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string source, target;
        if (!(fields >> source >> target) || source.empty() || source[0] != '/') continue;
        struct stat st {};
        if (::stat(unescape(source).c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) continue;
        if (st.st_rdev == dev || whole_disk(st.st_rdev) == dev || st.st_rdev == disk) return unescape(target);
    }
    return {};
}

} // namespace tools
