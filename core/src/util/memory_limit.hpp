#pragma once
#include <cstdint>

namespace tessra {

// Throws std::bad_alloc when `count` items of `bytes_each` bytes would not fit in the machine's
// physical memory. Results made of many allocations, or of one that an overcommitting kernel
// grants lazily, would otherwise fail only when touched, by ending the process.
void require_memory(uint64_t count, uint64_t bytes_each);

}  // namespace tessra
