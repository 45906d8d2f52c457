#pragma once
// For scheduler sources only: the oneTBB arena behind the general pool.
#include <oneapi/tbb/task_arena.h>

namespace tessra::pool {

tbb::task_arena& general_arena();

}  // namespace tessra::pool
