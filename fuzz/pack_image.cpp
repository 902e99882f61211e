// pack_image RAW SPARSE: turns a raw image file into the sparse form the fuzz
// targets read (seed corpora are made this way from mkfs.fat images).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "fuzz/fuzz_disk.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: pack_image RAW SPARSE\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "pack_image: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<uint8_t> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::vector<uint8_t> packed = fuzz::pack_raw_image(raw);
    std::ofstream out(argv[2], std::ios::binary);
    out.write(reinterpret_cast<const char*>(packed.data()), static_cast<std::streamsize>(packed.size()));
    if (!out) {
        std::fprintf(stderr, "pack_image: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
