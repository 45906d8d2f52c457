#pragma once

namespace tessra {

// The CPU runs AVX2 and FMA instructions (asked once; false off x86-64).
bool cpu_has_avx2_fma();

}  // namespace tessra
