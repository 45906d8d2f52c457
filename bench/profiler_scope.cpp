// Cost of one profiler scope (open and finish, no work inside), with profiling on and off.
// Prints "profiler scope enabled: NS ns" and "profiler scope disabled: NS ns" (medians).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "profiler/profiler.hpp"

namespace {

double ns_per_scope(int scopes) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < scopes; ++i)
        tessra::profile_scope_finish(tessra::profile_scope_begin("sum", "CPU", 1));
    const std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - start;
    return d.count() / scopes;
}

double median_ns(bool enabled) {
    enabled ? tessra::enable_profiling() : tessra::disable_profiling();
    std::vector<double> runs;
    for (int r = 0; r < 9; ++r) {
        tessra::clear_profile();
        runs.push_back(ns_per_scope(200'000));
    }
    std::sort(runs.begin(), runs.end());
    return runs[runs.size() / 2];
}

}  // namespace

int main() {
    std::printf("profiler scope enabled: %.1f ns\n", median_ns(true));
    std::printf("profiler scope disabled: %.1f ns\n", median_ns(false));
    tessra::clear_profile();
}
