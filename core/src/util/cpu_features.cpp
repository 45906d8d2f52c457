#include "util/cpu_features.hpp"

namespace tessra {

bool cpu_has_avx2_fma() {
#if defined(__x86_64__)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    }();
    return has;
#else
    return false;
#endif
}

}  // namespace tessra
