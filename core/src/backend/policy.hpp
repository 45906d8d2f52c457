#pragma once
// The back-end policy Python sets, and the record of the last CPU matrix product. Both are
// plain process-wide values: every reader and writer holds the interpreter lock.
#include <cstdint>
#include <string>

namespace tessra::backend {

enum class BackendPolicy : uint8_t {
    Default = 0, Openblas = 1, Blas = 2, Cuda = 3, Metal = 4, Mkl = 5, Aocl = 6,
    Accelerate = 7, RustParallel = 8,
};

// Codes of the road a CPU product took, numbered like BackendPolicy.
enum class DispatchBackend : uint8_t {
    Neon = 0, OpenBLAS = 1, Blas = 2, Cuda = 3, Metal = 4, MKL = 5, AOCL = 6, Accelerate = 7,
    RustParallel = 8,
};

const char* policy_name(uint8_t policy);           // "Default", ..., "RustParallel"
const char* dispatch_backend_name(uint8_t code);   // "Tessra NEON", "OpenBLAS", ...

// Values 1-8 are kept, every other byte means Default.
void set_backend_policy(uint8_t value);
BackendPolicy backend_policy();

struct LastDispatch {
    uint8_t current_backend = 0;
    uint8_t policy = 0;
    uint8_t backend = 0;
    uint64_t k = 0, m = 0, n = 0;
};

LastDispatch& last_dispatch();

// "Tessra NEON backend" before any large product, else
// "matmul → OpenBLAS (size=512x512x512, policy=Default, 0µs ago)".
std::string explain_last_dispatch();

}  // namespace tessra::backend
