#pragma once
// The math library large CPU products are tuned for, chosen once per process (override, CPU
// vendor, library files on disk) and announced on standard error; the thread count it implies
// for a matrix size, and the one-time export of the matching thread variables.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "hardware/capabilities.hpp"

namespace tessra::hw {

enum class MathBackend : uint8_t { MKL = 0, AOCL = 1, Accelerate = 2, OpenBLAS = 3, RustParallel = 4 };

const char* math_backend_text(MathBackend b);

// What discovery reads from the outside world; tests hand in their own.
struct DiscoveryProbe {
    std::function<std::optional<std::string>(const char*)> env;  // set and valid UTF-8
    std::function<bool(const std::string&)> exists;              // stat succeeds
    std::function<CpuVendor()> vendor;
    std::function<void(const std::string&)> print_line;  // one whole line, without newline
};

MathBackend discover_math_backend(const DiscoveryProbe& probe);
// The process's choice: discovery on the real environment, run once, lines on stderr.
MathBackend detect_math_backend();

// The machine facts the thread-count rule reads.
struct ThreadHost {
    uint64_t physical;  // P
    uint64_t logical;   // L, at least 1
    CpuVendor vendor;
    bool hyperthread;
};
uint64_t blas_thread_count_for(uint64_t n, MathBackend lib, const ThreadHost& host);
// With the process's records: cached physical count, configured processors read now.
uint64_t blas_thread_count(uint64_t n, MathBackend lib);

// Sets the variable (overwriting) unless it is already set to valid UTF-8.
void set_env_default(const char* name, const char* value);

// The exported thread variables, one group at a time, each group at most once.
class ThreadVariables {
public:
    void configure(MathBackend lib, uint64_t threads);

private:
    std::once_flag omp_, mkl_, aocl_, openblas_, rust_;
};
void configure_blas_threads(MathBackend lib, uint64_t threads);

}  // namespace tessra::hw
