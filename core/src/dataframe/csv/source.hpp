#pragma once
// The file under a CSV read: opening with the system's error texts, and bulk reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "util/error.hpp"

namespace tessra::csv {

// "No such file or directory (os error 2)".
std::string os_error_text(int code);

class FileSource {
public:
    // Opens `path` read-only. The error text is the bare reason, without any prefix.
    static Result<FileSource> open(const std::string& path);

    FileSource(FileSource&& o) noexcept;
    FileSource& operator=(FileSource&&) = delete;
    FileSource(const FileSource&) = delete;
    ~FileSource();

    // Size at opening for regular files, 0 for anything else.
    uint64_t size_hint() const { return regular_ ? size_ : 0; }

    // Reads up to `want` bytes to `dst`, stopping early only at the end of the file or on an
    // error; returns the count read. Large reads of regular files run in parallel pieces.
    size_t read(char* dst, size_t want);

    bool at_end() const { return at_end_; }
    int error() const { return error_; }  // errno of the failed read, 0 if none

private:
    explicit FileSource(int fd);
    size_t read_serial(char* dst, size_t want);
    size_t read_parallel(char* dst, size_t want);

    int fd_ = -1;
    bool regular_ = false;
    uint64_t size_ = 0;
    uint64_t offset_ = 0;
    bool at_end_ = false;
    int error_ = 0;
};

}  // namespace tessra::csv
