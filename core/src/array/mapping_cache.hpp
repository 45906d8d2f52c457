#pragma once
// Large kernel mappings freed by one buffer and kept for the next buffer of the same length.
// Reuse saves a fresh mapping's page faults and kernel zero-fill; a mapping that then sits
// unused is lent to the kernel, which may take its pages whenever memory runs short.
#include <cstddef>
#include <cstdint>

namespace tessra {

// A kept mapping of exactly `length` bytes, or null. Its contents are unspecified (old data, or
// zeros where the kernel took pages back): only for buffers that are written before being read.
std::byte* take_cached_mapping(uint64_t length);

// Keeps the mapping for reuse, unmapping the oldest kept ones to make room; false when it is
// larger than the whole cache, and the caller must unmap it.
bool keep_cached_mapping(std::byte* p, uint64_t length);

}  // namespace tessra
