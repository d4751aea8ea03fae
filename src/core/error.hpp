// The one exception type of the native code.
//
// Everything after argument conversion reports failure by throwing
// InternalFailure. The diagnostic is written to standard error by the thread
// on which the failure happens, once, when it is raised; the Python call
// wrapper later turns the exception into the Python-level InternalError.
#pragma once

#include <exception>
#include <source_location>
#include <string>

namespace vexlume {

class InternalFailure : public std::exception {
public:
    InternalFailure(std::string message, std::source_location where);

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& message() const noexcept { return message_; }
    const char* file() const noexcept { return file_; }
    unsigned line() const noexcept { return line_; }

private:
    std::string message_;
    const char* file_;
    unsigned line_;
};

// Writes the diagnostic for `message` at `where` to standard error and throws.
[[noreturn]] void fail(std::string message,
                       std::source_location where = std::source_location::current());

// Fails with "assertion failed: <text>" unless `condition` holds.
inline void check(bool condition, const char* text,
                  std::source_location where = std::source_location::current()) {
    if (!condition) {
        fail(std::string("assertion failed: ") + text, where);
    }
}

}  // namespace vexlume
