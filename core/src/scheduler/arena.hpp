#pragma once
// Per-thread scratch memory. Each thread owns one Arena, made at its first use with
// TESSRA_ARENA_SIZE bytes (zero-filled) and freed when the thread ends. One operation at a
// time takes it through `with_thread_arena`; taking it again on the same thread while it is
// held is an invariant failure.
#include <cstddef>
#include <cstdint>

namespace tessra {

inline constexpr uint64_t kDefaultArenaSize = uint64_t{1} << 20;

class Arena {
public:
    // Room for `n` floats at the offset rounded up to a multiple of 4 bytes, or null when
    // they do not fit before the end of the buffer.
    float* alloc_f32(uint64_t n);
    bool fits_f32(uint64_t n) const;

    uint64_t capacity() const { return len_; }
    uint64_t offset() const { return offset_; }
    const std::byte* data() const { return buf_; }

private:
    friend struct ArenaSlot;
    std::byte* buf_ = nullptr;
    uint64_t len_ = 0;
    uint64_t offset_ = 0;
};

// Size of a new Arena from the text of TESSRA_ARENA_SIZE (null when unset): an optional
// leading '+' and decimal digits that fit 64 bits, else the default.
uint64_t arena_size_from_text(const char* text);

namespace arena_detail {
Arena& take_thread_arena();
void give_back_thread_arena() noexcept;
}  // namespace arena_detail

// The calling thread's Arena while it is taken (by a scope further up its stack), else null.
const Arena* held_thread_arena();

// Runs work(Arena&) with the calling thread's Arena held exclusively; the Arena is handed
// back with its offset at 0 on every path out.
template <class F>
decltype(auto) with_thread_arena(F&& work) {
    Arena& arena = arena_detail::take_thread_arena();
    struct GiveBack {
        ~GiveBack() { arena_detail::give_back_thread_arena(); }
    } give_back;
    return work(arena);
}

}  // namespace tessra
