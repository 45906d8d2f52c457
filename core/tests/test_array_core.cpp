#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "array/core_array.hpp"
#include "util/float_text.hpp"
#include "util/panic.hpp"

using namespace tessra;

TEST(FloatText, RoundTripsEveryExponent) {
    for (int e = -149; e < 128; ++e) {
        float v = std::ldexp(1.2345678f, e);
        if (!std::isfinite(v) || v == 0.0f) continue;
        EXPECT_EQ(std::strtof(float_text(v).c_str(), nullptr), v) << e;
    }
}

TEST(AlignedBuffer, ZeroSizeHasNoStorageAndLargeIsAlignedAndZero) {
    AlignedBuffer empty = AlignedBuffer::zeroed(0);
    EXPECT_EQ(empty.data(), nullptr);
    for (uint64_t size : {uint64_t{1}, uint64_t{100}, uint64_t{1} << 20, uint64_t{40} << 20}) {
        AlignedBuffer b = AlignedBuffer::zeroed(size);
        ASSERT_NE(b.data(), nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(b.data()) % 64, 0u);
        for (uint64_t i = 0; i < size; i += 4093) EXPECT_EQ(b.data()[i], std::byte{0});
        EXPECT_EQ(b.data()[size - 1], std::byte{0});
    }
}

TEST(AlignedBuffer, OversizeIsAnInvariantFailure) {
    EXPECT_THROW(AlignedBuffer::zeroed(AlignedBuffer::kMaxSize + 1), Panic);
    EXPECT_THROW(zeroed(Shape{uint64_t{1} << 62}), Panic);  // count fits, bytes do not
    EXPECT_THROW(uninit(Shape{uint64_t{1} << 32, uint64_t{1} << 32}), Panic);  // count overflows
}

TEST(CoreArray, CloneKeepsLayoutInNewStorage) {
    for (const CoreArray& src :
         {uninit({2, 3, 4}), uninit({2, 2}, DType::Bool), uninit({0, 3}), uninit({})}) {
        CoreArray c = core_array_clone(src);
        EXPECT_EQ(c.shape, src.shape);
        EXPECT_EQ(c.strides, src.strides);
        EXPECT_EQ(c.data.size(), src.data.size());
        EXPECT_TRUE(c.data.data() == nullptr || c.data.data() != src.data.data());
    }
}

TEST(AlignedBuffer, ReusedLargeStorageStillComesBackZeroed) {
    constexpr uint64_t size = uint64_t{40} << 20;
    for (int round = 0; round < 3; ++round) {
        AlignedBuffer dirty = AlignedBuffer::uninit(size);
        std::memset(dirty.data(), 0xAB, size);
    }
    AlignedBuffer z = AlignedBuffer::zeroed(size);
    for (uint64_t i = 0; i < size; i += 4093) ASSERT_EQ(z.data()[i], std::byte{0}) << i;
    AlignedBuffer again = AlignedBuffer::uninit(size);  // may reuse a dirty mapping: must be usable
    std::memset(again.data(), 1, size);
}
