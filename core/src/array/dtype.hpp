#pragma once
#include <cstdint>

namespace tessra {

enum class DType : uint8_t { Float32 = 0, Float64 = 1, Int32 = 2, Int64 = 3, Bool = 4 };
inline constexpr int kDTypeCount = 5;

inline constexpr uint64_t kDTypeSizes[kDTypeCount] = {4, 8, 4, 8, 1};
inline constexpr const char* kDTypeNames[kDTypeCount] = {"Float32", "Float64", "Int32", "Int64",
                                                         "Bool"};

constexpr uint64_t dtype_size(DType t) { return kDTypeSizes[static_cast<uint8_t>(t)]; }
constexpr const char* dtype_name(DType t) { return kDTypeNames[static_cast<uint8_t>(t)]; }

}  // namespace tessra
