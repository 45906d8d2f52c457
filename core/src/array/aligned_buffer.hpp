#pragma once
#include <cstddef>
#include <cstdint>

namespace tessra {

// Owned, 64-byte aligned storage. Zero bytes means no storage and a null address.
class AlignedBuffer {
public:
    static constexpr uint64_t kAlign = 64;
    // Largest size the allocator accepts; anything above is an invariant failure.
    static constexpr uint64_t kMaxSize = (uint64_t{1} << 63) - kAlign;

    AlignedBuffer() = default;
    // Zero-filled storage of `size` bytes. Throws std::bad_alloc when memory runs out.
    static AlignedBuffer zeroed(uint64_t size);
    // Storage whose contents are unspecified: only for callers that write every byte.
    static AlignedBuffer uninit(uint64_t size);
    // As `uninit`, with every size from 2 MiB served like the large ones: from freed mappings
    // of the same length when there are any. For results that a caller makes again and again,
    // whose fresh pages (a fault and a kernel zero-fill each) would cost more than the writes.
    static AlignedBuffer reused(uint64_t size);

    AlignedBuffer(AlignedBuffer&& o) noexcept : size_(o.size_), ptr_(o.ptr_), mapped_(o.mapped_) {
        o.size_ = 0;
        o.ptr_ = nullptr;
    }
    AlignedBuffer& operator=(AlignedBuffer&& o) noexcept;
    AlignedBuffer(const AlignedBuffer&) = delete;
    AlignedBuffer& operator=(const AlignedBuffer&) = delete;
    ~AlignedBuffer() { release(); }

    uint64_t align() const { return kAlign; }
    uint64_t size() const { return size_; }
    std::byte* data() { return ptr_; }
    const std::byte* data() const { return ptr_; }
    template <class T> T* as() { return reinterpret_cast<T*>(ptr_); }
    template <class T> const T* as() const { return reinterpret_cast<const T*>(ptr_); }

private:
    AlignedBuffer(uint64_t size, std::byte* ptr, bool mapped) : size_(size), ptr_(ptr), mapped_(mapped) {}
    static AlignedBuffer allocate(uint64_t size, bool zero, uint64_t map_from);
    void release() noexcept;

    uint64_t size_ = 0;
    std::byte* ptr_ = nullptr;
    bool mapped_ = false;  // a kernel mapping, not a heap block
};

}  // namespace tessra
