#include "scheduler/arena.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

#include "scheduler/pool.hpp"
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

float plain_sum(const float* v, uint64_t n) {
    float s = 0.0f;
    for (uint64_t i = 0; i < n; ++i) s += v[i];
    return s;
}

float kahan_sum(const float* v, uint64_t n) {
    float s = 0.0f, c = 0.0f;
    for (uint64_t i = 0; i < n; ++i) {
        float y = v[i] - c;
        float t = s + y;
        c = (t - s) - y;
        s = t;
    }
    return s;
}

// One chunk, summed on the thread that runs it.
float chunk_sum(const float* v, uint64_t n) {
    ArenaSlot& slot = t_slot;
    if (slot.state == ArenaSlot::kAlive && slot.flag != 0) {
        // The calling thread joins the pool's work while a scope user further up its stack
        // holds its Arena. A copy would only move the same values, so sum them where they are,
        // compensated exactly when the copy would have fitted.
        return slot.arena.fits_f32(n) ? kahan_sum(v, n) : plain_sum(v, n);
    }
    return with_thread_arena([&](Arena& arena) {
        float* copy = arena.alloc_f32(n);
        if (copy == nullptr) return plain_sum(v, n);
        if (n) std::memcpy(copy, v, n * sizeof(float));
        return kahan_sum(copy, n);
    });
}

struct ChunkSum {
    const float* data;
    uint64_t count;
    uint64_t chunk_size;

    // Chunks [lo, hi): a single chunk is a leaf that starts from -0.0; wider pieces split
    // into a left half of floor(k / 2) chunks and the rest, run fork-join, added left + right.
    float over(uint64_t lo, uint64_t hi) const {
        if (hi - lo <= 1) {
            float acc = -0.0f;
            if (hi > lo) {
                uint64_t begin = lo * chunk_size;
                acc = acc + chunk_sum(data + begin, std::min(chunk_size, count - begin));
            }
            return acc;
        }
        uint64_t mid = lo + (hi - lo) / 2;
        float left = 0.0f, right = 0.0f;
        pool::parallel_invoke([&] { left = over(lo, mid); }, [&] { right = over(mid, hi); });
        return left + right;
    }
};

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
    if (text == nullptr) return kDefaultArenaSize;
    const char* p = text + (*text == '+');
    if (*p == '\0') return kDefaultArenaSize;
    uint64_t v = 0;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9') return kDefaultArenaSize;
        if (__builtin_mul_overflow(v, 10, &v) || __builtin_add_overflow(v, uint64_t(*p - '0'), &v))
            return kDefaultArenaSize;
    }
    return v;
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

float arena_sum_f32_chunks(const float* data, uint64_t count, uint64_t chunk_size) {
    if (chunk_size == 0) panic("arena_sum_f32_chunks needs a chunk size of at least 1");
    uint64_t chunks = count / chunk_size + (count % chunk_size != 0);
    return ChunkSum{data, count, chunk_size}.over(0, chunks);
}

}  // namespace tessra
