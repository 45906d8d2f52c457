#include "array/aligned_buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <mutex>
#include <new>

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

// The last few large mappings freed, kept for the next buffer of the same length that will be
// overwritten anyway: its pages are already faulted in, where a fresh mapping pays a fault and
// a kernel zero-fill per page. Zero-filled requests still take fresh (already zero) pages.
// Enough are kept for a whole frame's columns to come back; the byte budget bounds what an idle
// process holds.
class MappingCache {
public:
    std::byte* take(uint64_t length) {
        std::lock_guard lock(mutex_);
        for (int i = 0; i < count_; ++i)
            if (entries_[i].length == length) {
                std::byte* p = entries_[i].ptr;
                bytes_ -= length;
                entries_[i] = entries_[--count_];
                return p;
            }
        return nullptr;
    }
    bool keep(std::byte* p, uint64_t length) {
        std::lock_guard lock(mutex_);
        if (count_ == kEntries || bytes_ + length > kBudget) return false;
        entries_[count_++] = {p, length};
        bytes_ += length;
        return true;
    }

private:
    static constexpr int kEntries = 16;
    static constexpr uint64_t kBudget = uint64_t{512} << 20;
    struct Entry {
        std::byte* ptr;
        uint64_t length;
    };
    std::mutex mutex_;
    Entry entries_[kEntries] = {};
    int count_ = 0;
    uint64_t bytes_ = 0;
};

MappingCache& mapping_cache() {
    static MappingCache* cache = new MappingCache();  // never torn down: buffers outlive exit
    return *cache;
}

std::byte* map_allocate(uint64_t size, bool zero) {
    const uint64_t length = map_length(size);
    if (!zero)
        if (std::byte* p = mapping_cache().take(length)) return p;
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) throw std::bad_alloc();
    madvise(p, length, MADV_HUGEPAGE);
    return static_cast<std::byte*>(p);
}

void map_free(std::byte* p, uint64_t size) {
    const uint64_t length = map_length(size);
    if (!mapping_cache().keep(p, length)) munmap(p, length);
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
