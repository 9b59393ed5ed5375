// Small result type for platform calls: a value, or the text of the error,
// which always names the OS call that failed ("SetCommState: Access denied").
#pragma once

#include <string>
#include <utility>

namespace qn::platform {

inline constexpr const char* kNotSupported = "not supported on this platform";

struct Error {
    std::string text;
};

template <typename T>
class Result {
public:
    Result(T value) : value_(std::move(value)), ok_(true) {}  // NOLINT(implicit)
    Result(Error e) : error_(std::move(e.text)), ok_(false) {}  // NOLINT(implicit)

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const T& value() const { return value_; }
    T& value() { return value_; }
    const T& operator*() const { return value_; }
    T value_or(T other) const { return ok_ ? value_ : std::move(other); }
    const std::string& error() const { return error_; }

private:
    T value_{};
    std::string error_;
    bool ok_ = false;
};

template <>
class Result<void> {
public:
    Result() : ok_(true) {}
    Result(Error e) : error_(std::move(e.text)), ok_(false) {}  // NOLINT(implicit)

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const std::string& error() const { return error_; }

private:
    std::string error_;
    bool ok_ = false;
};

inline Error fail(std::string text) { return Error{std::move(text)}; }
inline Error not_supported(const std::string& what) {
    return Error{what + ": " + kNotSupported};
}

}  // namespace qn::platform
