#pragma once
// Internal invariant failures. `panic` prints the message with its source location to stderr
// and throws Panic; the binding layer raises it as pyo3_runtime.PanicException.
#include <source_location>
#include <stdexcept>
#include <string>

namespace tessra {

class Panic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void panic(const std::string& message,
                        std::source_location where = std::source_location::current());

}  // namespace tessra
