#pragma once
// CPU facts the build target leaves open: on x86 they come from cpuid at run time.
#include <string>

namespace tessra::platform {

struct CpuidFacts {
    std::string vendor;  // "GenuineIntel", "AuthenticAMD", ...; empty when unknown
    std::string brand;   // processor brand text, blanks trimmed; empty when unknown
    bool avx2 = false;
    bool avx512 = false;  // AVX-512 Foundation
    bool fma = false;
};

// All false and empty on targets other than x86.
CpuidFacts read_cpuid();

// AVX2 and FMA both usable (asked once; false off x86-64): the run-time pick of every kernel
// built per instruction set.
bool cpu_has_avx2_fma();

}  // namespace tessra::platform
