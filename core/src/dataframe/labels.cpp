#include "dataframe/labels.hpp"

#include <cstring>

#include "scheduler/pool.hpp"

namespace tessra {

namespace {
AlignedBuffer number_buffer(uint64_t count) { return AlignedBuffer::reused(count * sizeof(uint64_t)); }
}  // namespace

Labels Labels::range(uint64_t count, uint64_t start) {
    Labels l;
    l.start_ = start;
    l.count_ = count;
    return l;
}

Labels::Labels(std::vector<std::string> texts) : kind_(Kind::Texts), texts_(std::move(texts)) {}

Labels Labels::numbers(std::shared_ptr<const AlignedBuffer> numbers) {
    Labels l;
    l.kind_ = Kind::Numbers;
    l.numbers_ = std::move(numbers);
    return l;
}

Labels Labels::numbers(AlignedBuffer numbers) {
    return Labels::numbers(std::make_shared<const AlignedBuffer>(std::move(numbers)));
}

std::optional<Labels::Source> Labels::source() const {
    switch (kind_) {
        case Kind::Range: return Source{start_, nullptr};
        case Kind::Numbers: return Source{0, numbers_->as<uint64_t>()};
        case Kind::Texts: return std::nullopt;
    }
    return std::nullopt;
}

uint64_t Labels::size() const {
    switch (kind_) {
        case Kind::Range: return count_;
        case Kind::Numbers: return numbers_->size() / sizeof(uint64_t);
        case Kind::Texts: return texts_.size();
    }
    return 0;
}

std::string Labels::text(uint64_t i) const {
    switch (kind_) {
        case Kind::Range: return std::to_string(start_ + i);
        case Kind::Numbers: return std::to_string(numbers_->as<uint64_t>()[i]);
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
            AlignedBuffer part = number_buffer(end - begin);
            if (end > begin)
                std::memcpy(part.data(), numbers_->as<uint64_t>() + begin, (end - begin) * sizeof(uint64_t));
            return numbers(std::move(part));
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
    AlignedBuffer numbers = number_buffer(k);
    uint64_t* out = numbers.as<uint64_t>();
    const Source src = *source();
    pool::parallel_for(k, pool::kRowChunk, [&](size_t b, size_t e) {
        if (src.numbers)
            for (size_t i = b; i < e; ++i) out[i] = src.numbers[positions[i]];
        else
            for (size_t i = b; i < e; ++i) out[i] = src.start + positions[i];
    });
    return Labels::numbers(std::move(numbers));
}

}  // namespace tessra
