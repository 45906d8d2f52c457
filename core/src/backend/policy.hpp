#pragma once
// The back-end policy Python sets, and the record of the last CPU matrix product. The policy is
// a relaxed atomic byte and the record a plain struct: every reader and writer holds the
// interpreter lock, so neither needs more.
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

const char* policy_name(BackendPolicy policy);            // "Default", ..., "RustParallel"
const char* dispatch_backend_name(DispatchBackend code);  // "Tessra NEON", "OpenBLAS", ...

// Values 1-8 are kept, every other byte means Default.
void set_backend_policy(uint8_t value);
BackendPolicy backend_policy();

struct LastDispatch {
    DispatchBackend current_backend = DispatchBackend::Neon;
    BackendPolicy policy = BackendPolicy::Default;
    DispatchBackend backend = DispatchBackend::Neon;
    uint64_t k = 0, m = 0, n = 0;
};

const LastDispatch& last_dispatch();

// The only writers of the record. A product up to the small-product limit (or an empty one)
// changes only current_backend, so the rest still describes the last larger product.
void record_small_product();
void record_product(BackendPolicy policy, DispatchBackend backend, uint64_t m, uint64_t k,
                    uint64_t n);

// "Tessra NEON backend" before any large product, else
// "matmul → OpenBLAS (size=512x512x512, policy=Default, 0µs ago)".
std::string explain_last_dispatch();

}  // namespace tessra::backend
