#include "platform/cpuid.hpp"

#include <cstdint>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace tessra::platform {

#if defined(__x86_64__) || defined(__i386__)

namespace {

// Register state the OS saves on a context switch (XCR0); vector units are usable only then.
uint64_t xcr0() {
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (uint64_t{hi} << 32) | lo;
}

std::string trimmed(const char* text) {
    std::string s(text);
    size_t b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

}  // namespace

CpuidFacts read_cpuid() {
    CpuidFacts f;
    unsigned a, b, c, d;
    if (!__get_cpuid(0, &a, &b, &c, &d)) return f;
    const unsigned max_leaf = a;
    char vendor[13] = {};
    std::memcpy(vendor, &b, 4);
    std::memcpy(vendor + 4, &d, 4);
    std::memcpy(vendor + 8, &c, 4);
    f.vendor = vendor;

    bool ymm = false, zmm = false;
    if (__get_cpuid(1, &a, &b, &c, &d)) {
        const bool osxsave = (c >> 27) & 1;
        if (osxsave) {
            const uint64_t x = xcr0();
            ymm = (x & 0x6) == 0x6;
            zmm = ymm && (x & 0xE0) == 0xE0;
        }
        f.fma = ymm && ((c >> 12) & 1);
    }
    if (max_leaf >= 7 && __get_cpuid_count(7, 0, &a, &b, &c, &d)) {
        f.avx2 = ymm && ((b >> 5) & 1);
        f.avx512 = zmm && ((b >> 16) & 1);
    }

    unsigned ext = __get_cpuid_max(0x80000000u, nullptr);
    if (ext >= 0x80000004u) {
        char brand[49] = {};
        for (unsigned i = 0; i < 3; ++i) {
            __get_cpuid(0x80000002u + i, &a, &b, &c, &d);
            std::memcpy(brand + 16 * i, &a, 4);
            std::memcpy(brand + 16 * i + 4, &b, 4);
            std::memcpy(brand + 16 * i + 8, &c, 4);
            std::memcpy(brand + 16 * i + 12, &d, 4);
        }
        f.brand = trimmed(brand);
    }
    return f;
}

#else

CpuidFacts read_cpuid() { return {}; }

#endif

bool cpu_has_avx2_fma() {
#if defined(__x86_64__)
    static const bool has = [] {
        const CpuidFacts f = read_cpuid();
        return f.avx2 && f.fma;
    }();
    return has;
#else
    return false;
#endif
}

}  // namespace tessra::platform
