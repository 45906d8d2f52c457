#pragma once
// Keys that already stand in the order a stable sort would give, found in one pass so that the
// sort can be skipped. Keys are 32-bit patterns ordered as in stable_order (float_order.hpp):
// -0.0 and 0.0 are equal, every NaN is equal to every other and above +inf.
#include <cstdint>

namespace tessra {

enum class Presorted {
    No,
    Identity,      // the stable order is the positions as they stand
    ReversedRuns,  // descending with ties: each run of equal keys comes out reversed
};

// Whether the stable ascending order of the n keys, or for descending its exact reverse,
// follows from one pass: ascending, keys that never step down; descending, keys that never
// step up (the order is then the identity when no two neighbours are equal).
Presorted presorted(const uint32_t* keys, uint64_t n, bool int_keys, bool ascending);

// The descending order of keys that never step up: every run of equal keys reversed in place.
void reversed_runs(const uint32_t* keys, uint64_t n, bool int_keys, uint64_t* out);

}  // namespace tessra
