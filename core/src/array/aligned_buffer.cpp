#include "array/aligned_buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "util/panic.hpp"

namespace tessra {

namespace {
// Large buffers come straight from the kernel: pages arrive zeroed, so a big zero-filled array
// costs no memset, and transparent huge pages cut the first-touch faults.
constexpr uint64_t kMmapThreshold = uint64_t{1} << 20;
constexpr uint64_t kHugePageThreshold = uint64_t{4} << 20;
}  // namespace

AlignedBuffer AlignedBuffer::allocate(uint64_t size, bool zero) {
    if (size == 0) return {};
    if (size > kMaxSize) panic("Invalid layout for aligned allocation");
    if (size >= kMmapThreshold) {
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        if (size >= kHugePageThreshold) madvise(p, size, MADV_HUGEPAGE);
        return {size, static_cast<std::byte*>(p)};
    }
    void* p = nullptr;
    if (posix_memalign(&p, kAlign, size) != 0) throw std::bad_alloc();
    if (zero) std::memset(p, 0, size);
    return {size, static_cast<std::byte*>(p)};
}

AlignedBuffer AlignedBuffer::zeroed(uint64_t size) { return allocate(size, true); }
AlignedBuffer AlignedBuffer::uninit(uint64_t size) { return allocate(size, false); }

AlignedBuffer& AlignedBuffer::operator=(AlignedBuffer&& o) noexcept {
    if (this != &o) {
        release();
        size_ = o.size_;
        ptr_ = o.ptr_;
        o.size_ = 0;
        o.ptr_ = nullptr;
    }
    return *this;
}

void AlignedBuffer::release() noexcept {
    if (ptr_ == nullptr || size_ == 0) return;
    if (size_ >= kMmapThreshold)
        munmap(ptr_, size_);
    else
        std::free(ptr_);
    ptr_ = nullptr;
    size_ = 0;
}

}  // namespace tessra
