#include "fatfs/host/diskio_image.h"

#include "fatfs/host/image_disk.h"

namespace {

ImageDisk& image()
{
    static ImageDisk disk;
    return disk;
}

}  // namespace

bool diskimage_open(const char* path, bool writable)
{
    image().attach(0);
    return image().open(path, writable);
}

void diskimage_attach(int fd, unsigned long long bytes, bool writable)
{
    image().attach(0);
    image().use_fd(fd, bytes, writable);
}

void diskimage_close() { image().close(); }
DWORD diskimage_sector_count() { return image().sectors(); }
