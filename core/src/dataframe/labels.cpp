#include "dataframe/labels.hpp"

#include "scheduler/pool.hpp"

namespace tessra {

Labels Labels::range(uint64_t count, uint64_t start) {
    Labels l;
    l.start_ = start;
    l.count_ = count;
    return l;
}

Labels::Labels(std::vector<std::string> texts) : kind_(Kind::Texts), texts_(std::move(texts)) {}

uint64_t Labels::size() const {
    switch (kind_) {
        case Kind::Range: return count_;
        case Kind::Numbers: return numbers_.size();
        case Kind::Texts: return texts_.size();
    }
    return 0;
}

std::string Labels::text(uint64_t i) const {
    switch (kind_) {
        case Kind::Range: return std::to_string(start_ + i);
        case Kind::Numbers: return std::to_string(numbers_[i]);
        case Kind::Texts: return texts_[i];
    }
    return {};
}

std::vector<std::string> Labels::texts() const {
    if (kind_ == Kind::Texts) return texts_;
    std::vector<std::string> out;
    out.reserve(size());
    for (uint64_t i = 0; i < size(); ++i) out.push_back(text(i));
    return out;
}

Labels Labels::slice(uint64_t begin, uint64_t end) const {
    switch (kind_) {
        case Kind::Range: return range(end - begin, start_ + begin);
        case Kind::Numbers: {
            Labels l;
            l.kind_ = Kind::Numbers;
            l.numbers_.assign(numbers_.begin() + begin, numbers_.begin() + end);
            return l;
        }
        case Kind::Texts:
            return Labels(std::vector<std::string>(texts_.begin() + begin, texts_.begin() + end));
    }
    return {};
}

Labels Labels::gather(std::span<const uint64_t> positions) const {
    const size_t k = positions.size();
    if (kind_ == Kind::Texts) {
        std::vector<std::string> out;
        out.reserve(k);
        for (uint64_t p : positions) out.push_back(texts_[p]);
        return Labels(std::move(out));
    }
    Labels l;
    l.kind_ = Kind::Numbers;
    l.numbers_.resize(k);
    uint64_t* out = l.numbers_.data();
    const uint64_t* nums = numbers_.data();
    const bool is_range = kind_ == Kind::Range;
    const uint64_t start = start_;
    pool::parallel_for(k, pool::kRowChunk, [&](size_t b, size_t e) {
        if (is_range)
            for (size_t i = b; i < e; ++i) out[i] = start + positions[i];
        else
            for (size_t i = b; i < e; ++i) out[i] = nums[positions[i]];
    });
    return l;
}

}  // namespace tessra
