// A minimal test registry for the native checks: NATIVE_TEST(name) { ... }
// registers a test; EXPECT(cond) records a failure and goes on.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/error.hpp"

namespace native_tests {

struct Registered {
    const char* name;
    std::function<void()> body;
};

std::vector<Registered>& registry();
void record_failure(const char* file, int line, const std::string& text);

struct Registrar {
    Registrar(const char* name, std::function<void()> body) {
        registry().push_back({name, std::move(body)});
    }
};

// The message of the InternalFailure `body` throws, or "" when it returns.
inline std::string failure_message(const std::function<void()>& body) {
    try {
        body();
    } catch (const vexlume::InternalFailure& failure) {
        return failure.message();
    }
    return "";
}

}  // namespace native_tests

#define NATIVE_TEST_CONCAT2(a, b) a##b
#define NATIVE_TEST_CONCAT(a, b) NATIVE_TEST_CONCAT2(a, b)
#define NATIVE_TEST(name)                                                          \
    static void name();                                                            \
    static native_tests::Registrar NATIVE_TEST_CONCAT(registrar_, name)(#name, name); \
    static void name()
#define EXPECT(condition)                                                          \
    do {                                                                           \
        if (!(condition)) native_tests::record_failure(__FILE__, __LINE__, #condition); \
    } while (0)
