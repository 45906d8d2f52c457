#include "dataframe/csv/source.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "scheduler/pool.hpp"

namespace tessra::csv {

namespace {

// strerror_r comes in two shapes; take the text from either.
[[maybe_unused]] const char* pick_text(int rc, const char* buf) { return rc == 0 ? buf : nullptr; }
[[maybe_unused]] const char* pick_text(const char* text, const char*) { return text; }

// File reads from which the bytes are read by several threads (8 MiB), in pieces of 1 MiB: a
// 16 MiB text window then keeps every thread busy, each piece ~100 us from the page cache.
constexpr size_t kParallelReadMin = size_t{8} << 20;
constexpr size_t kReadPiece = size_t{1} << 20;

}  // namespace

std::string os_error_text(int code) {
    char buf[256] = {};
    const char* text = pick_text(strerror_r(code, buf, sizeof buf), buf);
    std::string out = text ? text : "Unknown error " + std::to_string(code);
    return out + " (os error " + std::to_string(code) + ")";
}

FileSource::FileSource(int fd) : fd_(fd) {
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        regular_ = true;
        size_ = static_cast<uint64_t>(st.st_size);
    }
}

FileSource::FileSource(FileSource&& o) noexcept
    : fd_(o.fd_), regular_(o.regular_), size_(o.size_), offset_(o.offset_), at_end_(o.at_end_),
      error_(o.error_) {
    o.fd_ = -1;
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

Result<FileSource> FileSource::open(const std::string& path) {
    if (path.find('\0') != std::string::npos)
        return io_error("file name contained an unexpected NUL byte");
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return io_error(os_error_text(errno));
    return FileSource(fd);
}

size_t FileSource::read(char* dst, size_t want) {
    if (at_end_ || error_ != 0 || want == 0) return 0;
    size_t got = 0;
    if (regular_ && offset_ < size_) {
        size_t known = static_cast<size_t>(std::min<uint64_t>(want, size_ - offset_));
        if (known >= kParallelReadMin) got = read_parallel(dst, known);
    }
    // The rest, and the read that confirms the end: the file may have changed size since it
    // was opened.
    if (got < want && !at_end_ && error_ == 0) got += read_serial(dst + got, want - got);
    return got;
}

size_t FileSource::read_serial(char* dst, size_t want) {
    size_t got = 0;
    while (got < want) {
        ssize_t r = regular_ ? ::pread(fd_, dst + got, want - got, static_cast<off_t>(offset_))
                             : ::read(fd_, dst + got, want - got);
        if (r < 0) {
            if (errno == EINTR) continue;
            error_ = errno;
            break;
        }
        if (r == 0) {
            at_end_ = true;
            break;
        }
        got += static_cast<size_t>(r);
        offset_ += static_cast<uint64_t>(r);
    }
    return got;
}

size_t FileSource::read_parallel(char* dst, size_t want) {
    size_t pieces = (want + kReadPiece - 1) / kReadPiece;
    struct Piece {
        size_t got = 0;
        int error = 0;
    };
    std::vector<Piece> done(pieces);
    uint64_t base = offset_;
    pool::parallel_for(want, kReadPiece, [&](size_t from, size_t to) {
        size_t len = to - from;
        Piece& piece = done[from / kReadPiece];
        while (piece.got < len) {
            ssize_t r = ::pread(fd_, dst + from + piece.got, len - piece.got,
                                static_cast<off_t>(base + from + piece.got));
            if (r < 0) {
                if (errno == EINTR) continue;
                piece.error = errno;
                return;
            }
            if (r == 0) return;
            piece.got += static_cast<size_t>(r);
        }
    });
    // Only the unbroken prefix counts, as if read front to back.
    size_t got = 0;
    for (size_t i = 0; i < pieces; ++i) {
        got += done[i].got;
        size_t len = std::min(kReadPiece, want - i * kReadPiece);
        if (done[i].got < len) {
            if (done[i].error != 0)
                error_ = done[i].error;
            else
                at_end_ = true;
            break;
        }
    }
    offset_ += got;
    return got;
}

}  // namespace tessra::csv
