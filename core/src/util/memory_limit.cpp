#include "util/memory_limit.hpp"

#include <unistd.h>

#include <new>

namespace tessra {

void require_memory(uint64_t count, uint64_t bytes_each) {
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page <= 0 || count == 0 || bytes_each == 0) return;
    const uint64_t total = static_cast<uint64_t>(pages) * static_cast<uint64_t>(page);
    if (count > total / bytes_each) throw std::bad_alloc();
}

}  // namespace tessra
