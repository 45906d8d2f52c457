#include "dataframe/series.hpp"

#include <absl/container/flat_hash_map.h>
#include <absl/container/flat_hash_set.h>

#include <bit>
#include <cstring>

#include "dataframe/rebuild.hpp"

namespace tessra {

Series clone_series(const Series& s) { return Series{s.name, core_array_clone(s.data), s.index}; }

Result<Series> make_series(std::string name, const CoreArray& data,
                           std::optional<std::vector<std::string>> index) {
    const uint64_t count = data.element_count();
    if (index && index->size() != count) return value_error("Index length must match data length");
    Labels labels = index ? Labels(std::move(*index)) : Labels::range(count);
    return Series{std::move(name), core_array_clone(data), std::move(labels)};
}

namespace {

Error label_shortage(const Series& s) {
    return value_error("Series " + s.name + " has " + std::to_string(s.index.size()) +
                       " labels for " + std::to_string(s.data.element_count()) + " values");
}

Result<Series> window(const Series& s, std::optional<uint64_t> n, bool from_end) {
    const uint64_t count = s.data.element_count();
    const uint64_t k = std::min(n.value_or(5), count);
    const uint64_t start = from_end ? count - k : 0;
    if (!is_table_numeric(s.data.dtype))
        return type_error(from_end ? "Unsupported DType for tail" : "Unsupported DType for head");
    // The head needs labels 0 .. k-1; the tail takes the labels from `start` to the list's end.
    const uint64_t labels = s.index.size();
    if (from_end ? start > labels : k > labels) return label_shortage(s);
    Result<CoreArray> values = gather_values(s.name, s.data, Rows::range(start, start + k));
    if (!values) return values.error();
    return Series{s.name, std::move(values).value(),
                  from_end ? s.index.slice(start, labels) : s.index.slice(0, k)};
}

// Keys of a Float32 or Int32 array: the 32-bit pattern of each element.
const uint32_t* keys_of(const CoreArray& a) { return a.data.as<uint32_t>(); }

}  // namespace

Result<Series> series_head(const Series& s, std::optional<uint64_t> n) { return window(s, n, false); }
Result<Series> series_tail(const Series& s, std::optional<uint64_t> n) { return window(s, n, true); }

Result<Series> series_unique(const Series& s) {
    if (!is_table_numeric(s.data.dtype)) return type_error("Unsupported DType for unique");
    const bool int_keys = s.data.dtype == DType::Int32;
    const uint64_t n = s.data.element_count();
    const uint32_t* keys = keys_of(s.data);
    absl::flat_hash_set<uint32_t> seen;
    std::vector<float> out;
    for (uint64_t i = 0; i < n; ++i)
        if (seen.insert(keys[i]).second) out.push_back(key_value(keys[i], int_keys));
    const uint64_t k = out.size();
    Result<CoreArray> values = from_vec({k}, std::move(out));
    if (!values) return values.error();
    return Series{s.name, std::move(values).value(), Labels::range(k)};
}

Result<ValueCounts> series_value_counts(const Series& s) {
    if (!is_table_numeric(s.data.dtype)) return type_error("Unsupported DType for value_counts");
    ValueCounts vc;
    vc.int_keys = s.data.dtype == DType::Int32;
    const uint64_t n = s.data.element_count();
    const uint32_t* keys = keys_of(s.data);
    absl::flat_hash_map<uint32_t, size_t> slot;
    for (uint64_t i = 0; i < n; ++i) {
        auto [it, fresh] = slot.try_emplace(keys[i], vc.keys.size());
        if (fresh) {
            vc.keys.push_back(keys[i]);
            vc.counts.push_back(0);
        }
        ++vc.counts[it->second];
    }
    return vc;
}

}  // namespace tessra
