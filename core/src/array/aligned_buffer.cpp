#include "array/aligned_buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

#include "array/mapping_cache.hpp"
#include "util/panic.hpp"

namespace tessra {

namespace {
// Buffers up to this size come from the C heap, which recycles freed blocks (no page faults
// on every call), though blocks of a few MiB it may hand back to the kernel as they are freed.
// Larger ones come straight from the kernel: pages arrive zeroed, so a big zero-filled array
// costs no memset, and huge pages cut the first-touch faults.
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

// Kernel mappings are whole 2 MiB units, so the length is known from the size alone.
constexpr uint64_t kMapUnit = uint64_t{2} << 20;
uint64_t map_length(uint64_t size) { return (size + kMapUnit - 1) & ~(kMapUnit - 1); }

std::byte* map_allocate(uint64_t size, bool zero) {
    const uint64_t length = map_length(size);
    if (!zero)  // zero-filled requests take fresh pages, which the kernel zeroes
        if (std::byte* p = take_cached_mapping(length)) return p;
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    madvise(p, length, MADV_HUGEPAGE);
    return static_cast<std::byte*>(p);
}

void map_free(std::byte* p, uint64_t size) {
    const uint64_t length = map_length(size);
    if (!keep_cached_mapping(p, length)) munmap(p, length);
}
}  // namespace

AlignedBuffer AlignedBuffer::allocate(uint64_t size, bool zero, uint64_t map_from) {
    if (size == 0) return {};
    if (size > kMaxSize) panic("Invalid layout for aligned allocation");
    if (size >= map_from) return {size, map_allocate(size, zero), true};
    return {size, heap_allocate(size, zero), false};
}

AlignedBuffer AlignedBuffer::zeroed(uint64_t size) { return allocate(size, true, kMmapThreshold); }
AlignedBuffer AlignedBuffer::uninit(uint64_t size) { return allocate(size, false, kMmapThreshold); }
AlignedBuffer AlignedBuffer::reused(uint64_t size) { return allocate(size, false, kMapUnit); }

AlignedBuffer& AlignedBuffer::operator=(AlignedBuffer&& o) noexcept {
    if (this != &o) {
        release();
        size_ = o.size_;
        ptr_ = o.ptr_;
        mapped_ = o.mapped_;
        o.size_ = 0;
        o.ptr_ = nullptr;
    }
    return *this;
}

void AlignedBuffer::release() noexcept {
    if (ptr_ == nullptr || size_ == 0) return;
    if (mapped_)
        map_free(ptr_, size_);
    else
        heap_free(ptr_);
    ptr_ = nullptr;
    size_ = 0;
}

}  // namespace tessra
