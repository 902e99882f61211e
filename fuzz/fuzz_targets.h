// The fuzz targets' bodies, shared by the libFuzzer entry points and by the
// regression replays in the ordinary test build. Each returns normally for
// any input; a broken invariant aborts with a message (a finding).
#ifndef TESSIVO_FUZZ_FUZZ_TARGETS_H
#define TESSIVO_FUZZ_FUZZ_TARGETS_H

#include <cstddef>
#include <cstdint>

namespace fuzz {

// A sparse image (see fuzz_disk.h) is mounted and walked: every directory
// listed, every object stat'ed, every file read and sought, the free space
// and the current directory asked for. None of that may write. Then a few
// changes (a new file, a directory, a deletion, a rename) must keep every
// write inside the volume's FAT, root directory and data area.
void mount_and_walk(const uint8_t* data, std::size_t size);

// Bytes drive a sequence of file and directory operations on a freshly
// formatted small volume, checked against a model of the tree; afterwards the
// volume must mount again and hold exactly what the model says. The disk is
// left holding the final volume (for fsck.fat in the replays).
void operation_sequence(const uint8_t* data, std::size_t size);

// Bytes become paths for the path resolver and the name parser (lookups,
// creation, renaming, current directory); every entry on the volume must
// carry a valid short name afterwards.
void path_parser(const uint8_t* data, std::size_t size);

// Aborts with `what` when `ok` is false (also in release builds).
void require(bool ok, const char* what);

}  // namespace fuzz

#endif
