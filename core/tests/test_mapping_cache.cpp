#include <gtest/gtest.h>
#include <sys/mman.h>

#include "array/mapping_cache.hpp"

using namespace tessra;

namespace {

std::byte* fresh_mapping(uint64_t length) {
    void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<std::byte*>(p);
}

}  // namespace

// A cache full of buffers that no one asks for again still keeps the newest: the oldest go.
TEST(MappingCache, TheNewestIsKeptWhenTheCacheIsFull) {
    constexpr uint64_t kOld = uint64_t{2} << 20, kNew = uint64_t{4} << 20;
    for (int i = 0; i < 32; ++i) {
        std::byte* p = fresh_mapping(kOld);
        ASSERT_NE(p, nullptr);
        ASSERT_TRUE(keep_cached_mapping(p, kOld)) << i;
    }
    std::byte* p = fresh_mapping(kNew);
    ASSERT_NE(p, nullptr);
    ASSERT_TRUE(keep_cached_mapping(p, kNew));
    EXPECT_EQ(take_cached_mapping(kNew), p);
    munmap(p, kNew);
}
