#include "platform/cblas.hpp"

#include <dlfcn.h>

#include <initializer_list>

namespace tessra::platform {

namespace {

using SgemmFn = void (*)(int, int, int, int, int, int, float, const float*, int, const float*,
                         int, float, float*, int);

struct Library {
    SgemmFn sgemm = nullptr;
};

const Library& library() {
    static const Library lib = [] {
        Library l;
        for (const char* name : {"libopenblas.so.0", "libopenblas.so"}) {
            void* h = dlopen(name, RTLD_NOW | RTLD_LOCAL);
            if (h == nullptr) continue;
            l.sgemm = reinterpret_cast<SgemmFn>(dlsym(h, "cblas_sgemm"));
            using SetThreads = void (*)(int);
            using GetProcs = int (*)();
            auto set = reinterpret_cast<SetThreads>(dlsym(h, "openblas_set_num_threads"));
            auto procs = reinterpret_cast<GetProcs>(dlsym(h, "openblas_get_num_procs"));
            // The library read the thread variables while loading; the platform product
            // keeps its own default of one thread per processor instead.
            if (set && procs) set(procs());
            if (l.sgemm) break;
        }
        return l;
    }();
    return lib;
}

}  // namespace

bool cblas_available() { return library().sgemm != nullptr; }

void cblas_sgemm(int order, int trans_a, int trans_b, int m, int n, int k, float alpha,
                 const float* a, int lda, const float* b, int ldb, float beta, float* c, int ldc) {
    library().sgemm(order, trans_a, trans_b, m, n, k, alpha, a, lda, b, ldb, beta, c, ldc);
}

}  // namespace tessra::platform
