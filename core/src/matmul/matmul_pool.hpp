#pragma once
// The dedicated pool of the parallel matrix product: threads named "tessra-mm-{i}", made once
// with the thread count of the first call that needs it and never resized (a forked child makes
// its own). Its threads are its own, so row jobs never compete with the general pool's work or
// get its threads renamed.
#include <cstddef>
#include <functional>

namespace tessra {

// Runs task(0) .. task(count - 1) on the matmul pool (made now with `threads` threads if it
// does not exist; if one of its threads cannot start, none is left running and the call panics)
// and waits for all of them. A worker of this pool runs them itself. The first
// exception a task throws is re-raised here after every task has ended.
void run_on_matmul_pool(size_t threads, size_t count, const std::function<void(size_t)>& task);

// Threads of the matmul pool; 0 before it exists.
size_t matmul_pool_size();

}  // namespace tessra
