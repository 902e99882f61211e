// Whole transfers on file descriptors, and copying a sparse image onto a
// card: only the parts that hold data.
#ifndef TESSIVO_TOOLS_COMMON_EXTENT_COPY_H
#define TESSIVO_TOOLS_COMMON_EXTENT_COPY_H

#include <cstdint>
#include <string>

namespace tools {

// Copies every byte range of the file `from` (of `size` bytes) that holds
// data to the same offsets of `to`; the holes (never written) are skipped,
// so `to` keeps its old bytes there. On a file system that cannot tell holes
// the whole file is copied. False with the cause in `why`.
bool copy_data_extents(int from, uint64_t size, int to, std::string* why);

// Whole transfers at an offset, retried when cut short or interrupted.
bool read_fully(int fd, uint64_t offset, void* data, size_t n);
bool write_fully(int fd, uint64_t offset, const void* data, size_t n);
// The same at the descriptor's own position, for what has no offsets (a
// pipe, a terminal, a device written in order).
bool write_all(int fd, const void* data, size_t n);

} // namespace tools

#endif
