#pragma once
// Expected failures travel as values; the binding layer turns them into Python exceptions. The
// messages reach Python callers as they stand, and callers match on them.
#include <string>
#include <utility>
#include <variant>

namespace tessra {

enum class ErrorKind { Type, Value, Index, Key, Runtime, IO, Overflow, NotImplemented };

struct Error {
    ErrorKind kind;
    std::string message;
};

inline Error type_error(std::string m) { return {ErrorKind::Type, std::move(m)}; }
inline Error value_error(std::string m) { return {ErrorKind::Value, std::move(m)}; }
inline Error index_error(std::string m) { return {ErrorKind::Index, std::move(m)}; }
inline Error key_error(std::string m) { return {ErrorKind::Key, std::move(m)}; }
inline Error runtime_error(std::string m) { return {ErrorKind::Runtime, std::move(m)}; }
inline Error io_error(std::string m) { return {ErrorKind::IO, std::move(m)}; }
inline Error overflow_error(std::string m) { return {ErrorKind::Overflow, std::move(m)}; }
inline Error not_implemented_error(std::string m) { return {ErrorKind::NotImplemented, std::move(m)}; }

// Either a value or an Error.
template <class T>
class Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Error error) : v_(std::move(error)) {}

    bool ok() const { return v_.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return std::get<0>(v_); }
    T&& value() && { return std::get<0>(std::move(v_)); }
    const Error& error() const { return std::get<1>(v_); }

private:
    std::variant<T, Error> v_;
};

struct Unit {};
using Status = Result<Unit>;
inline Status ok_status() { return Unit{}; }

}  // namespace tessra
