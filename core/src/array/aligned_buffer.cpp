#include "array/aligned_buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

#include "util/panic.hpp"

namespace tessra {

namespace {
// Buffers up to this size come from the C heap, which recycles freed blocks (no page faults
// on every call). Larger ones come straight from the kernel: pages arrive zeroed, so a big
// zero-filled array costs no memset, and huge pages cut the first-touch faults.
constexpr uint64_t kMmapThreshold = uint64_t{32} << 20;

// Heap blocks are over-allocated by one alignment unit; the block's own address is kept in
// the 8 bytes just below the aligned address handed out.
std::byte* heap_allocate(uint64_t size, bool zero) {
    void* raw = zero ? std::calloc(1, size + AlignedBuffer::kAlign) : std::malloc(size + AlignedBuffer::kAlign);
    if (raw == nullptr) throw std::bad_alloc();
    auto addr = (reinterpret_cast<uintptr_t>(raw) + AlignedBuffer::kAlign) & ~(AlignedBuffer::kAlign - 1);
    reinterpret_cast<void**>(addr)[-1] = raw;
    return reinterpret_cast<std::byte*>(addr);
}

void heap_free(std::byte* p) { std::free(reinterpret_cast<void**>(p)[-1]); }
}  // namespace

AlignedBuffer AlignedBuffer::allocate(uint64_t size, bool zero) {
    if (size == 0) return {};
    if (size > kMaxSize) panic("Invalid layout for aligned allocation");
    if (size >= kMmapThreshold) {
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        madvise(p, size, MADV_HUGEPAGE);
        return {size, static_cast<std::byte*>(p)};
    }
    return {size, heap_allocate(size, zero)};
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
        heap_free(ptr_);
    ptr_ = nullptr;
    size_ = 0;
}

}  // namespace tessra
