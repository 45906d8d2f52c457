#pragma once
// Text handed to the CSV reader as a file or through a pipe, for the reader's tests.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "dataframe/csv/reader.hpp"

namespace tessra::csv_test {

// A private directory for the files of one test.
class TempDir {
public:
    TempDir() {
        std::string tmpl = ::testing::TempDir() + "tessra_csv_XXXXXX";
        path_ = ::mkdtemp(tmpl.data()) ? tmpl : std::string();
    }
    ~TempDir() { std::filesystem::remove_all(path_); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string write(const std::string& name, const std::string& bytes) const {
        std::string p = path_ + "/" + name;
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

inline Result<CsvColumns> read_text(const std::string& bytes) {
    TempDir dir;
    return read_csv_columns(dir.write("t.csv", bytes));
}

// A pipe gives no size and its text arrives in pieces.
inline Result<CsvColumns> read_through_pipe(const std::string& text) {
    TempDir dir;
    std::string fifo = dir.path() + "/pipe";
    EXPECT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN);  // a reader that stops early must not end the test binary
    std::thread writer([&] { std::ofstream(fifo, std::ios::binary) << text; });
    auto r = read_csv_columns(fifo);
    writer.join();
    return r;
}

}  // namespace tessra::csv_test
