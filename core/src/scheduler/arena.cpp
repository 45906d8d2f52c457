#include "scheduler/arena.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "util/decimal.hpp"
#include "util/panic.hpp"

namespace tessra {

// The calling thread's Arena and its bookkeeping. Trivially destructible and constant
// initialised, so it stays readable while the thread's exit destructors run and a use at that
// point can be told apart from a first use.
struct ArenaSlot {
    enum State : uint8_t { kNotCreated = 0, kAlive = 1, kDestroyed = 2 };
    uint8_t state = kNotCreated;
    int64_t flag = 0;  // 0 free, -1 taken
    Arena arena;

    void init();
    void drop() noexcept;
    void give_back() noexcept {
        arena.offset_ = 0;
        flag = 0;
    }
};

namespace {

thread_local ArenaSlot t_slot;

// Registered once per thread by the first use; frees the buffer when the thread ends.
struct ExitHook {
    ~ExitHook() { t_slot.drop(); }
};

std::byte* zeroed_bytes(uint64_t& size) {
    if (size == 0) return nullptr;
    if (size <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
        if (void* p = std::calloc(size, 1)) return static_cast<std::byte*>(p);
    // A size the allocator cannot give is refused like an unparsable one.
    size = kDefaultArenaSize;
    if (void* p = std::calloc(size, 1)) return static_cast<std::byte*>(p);
    throw std::bad_alloc();
}

}  // namespace

void ArenaSlot::init() {
    uint64_t size = arena_size_from_text(std::getenv("TESSRA_ARENA_SIZE"));
    arena.buf_ = zeroed_bytes(size);
    arena.len_ = size;
    arena.offset_ = 0;
    flag = 0;
    state = kAlive;
    thread_local ExitHook hook;
    (void)hook;
}

void ArenaSlot::drop() noexcept {
    if (state == kAlive && arena.len_ != 0) std::free(arena.buf_);
    arena.buf_ = nullptr;
    arena.len_ = 0;
    state = kDestroyed;
}

bool Arena::fits_f32(uint64_t n) const {
    uint64_t start = (offset_ + 3) & ~uint64_t{3};
    return start <= len_ && n <= (len_ - start) / sizeof(float);
}

float* Arena::alloc_f32(uint64_t n) {
    if (!fits_f32(n)) return nullptr;
    uint64_t start = (offset_ + 3) & ~uint64_t{3};
    offset_ = start + n * sizeof(float);
    return reinterpret_cast<float*>(buf_ + start);
}

uint64_t arena_size_from_text(const char* text) {
    return plain_u64(text).value_or(kDefaultArenaSize);
}

namespace arena_detail {

Arena& take_thread_arena() {
    ArenaSlot& slot = t_slot;
    if (slot.state == ArenaSlot::kDestroyed)
        panic("cannot access a Thread Local Storage value during or after destruction");
    if (slot.state == ArenaSlot::kNotCreated) slot.init();
    if (slot.flag != 0) panic("RefCell already borrowed");
    slot.flag = -1;
    return slot.arena;
}

void give_back_thread_arena() noexcept { t_slot.give_back(); }

}  // namespace arena_detail

const Arena* held_thread_arena() {
    const ArenaSlot& slot = t_slot;
    return slot.state == ArenaSlot::kAlive && slot.flag != 0 ? &slot.arena : nullptr;
}

}  // namespace tessra
