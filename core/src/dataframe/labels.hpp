#pragma once
// Row labels of a Series. Most labels are the decimal texts of row numbers ("0", "1", ...), so
// those are kept as numbers (a range, or the numbers a selection picked) and turned into text
// only when asked for; labels given by the user are kept as texts.
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "array/aligned_buffer.hpp"

namespace tessra {

class Labels {
public:
    Labels() = default;
    // The labels "start" .. "start + count - 1".
    static Labels range(uint64_t count, uint64_t start = 0);
    explicit Labels(std::vector<std::string> texts);
    // Labels that are the row numbers held in `numbers` (uint64_t each), which no one changes.
    static Labels numbers(std::shared_ptr<const AlignedBuffer> numbers);
    static Labels numbers(AlignedBuffer numbers);

    // How label i of number labels is made: start + i, or numbers[i] when `numbers` is set.
    // Two lists with equal sources give equal labels at every row both hold.
    struct Source {
        uint64_t start = 0;
        const uint64_t* numbers = nullptr;
        bool operator==(const Source&) const = default;
    };
    // The source of number labels; none for texts.
    std::optional<Source> source() const;

    uint64_t size() const;
    std::string text(uint64_t i) const;
    std::vector<std::string> texts() const;

    // Labels [begin, end); the caller ensures begin <= end <= size().
    Labels slice(uint64_t begin, uint64_t end) const;
    // Labels at `positions`, in that order; the caller ensures every position < size().
    Labels gather(std::span<const uint64_t> positions) const;

private:
    enum class Kind : uint8_t { Range, Numbers, Texts };
    Kind kind_ = Kind::Range;
    uint64_t start_ = 0;
    uint64_t count_ = 0;
    // Never changed once made, so copies of a selection's labels share one list.
    std::shared_ptr<const AlignedBuffer> numbers_;
    std::vector<std::string> texts_;
};

}  // namespace tessra
