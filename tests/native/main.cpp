#include <cstdio>
#include <exception>

#include "harness.hpp"

namespace native_tests {

static int failures = 0;

std::vector<Registered>& registry() {
    static std::vector<Registered> tests;
    return tests;
}

void record_failure(const char* file, int line, const std::string& text) {
    ++failures;
    std::fprintf(stderr, "%s:%d: expectation failed: %s\n", file, line, text.c_str());
}

}  // namespace native_tests

int main() {
    using namespace native_tests;
    for (const auto& test : registry()) {
        const int before = failures;
        try {
            test.body();
        } catch (const std::exception& error) {
            record_failure(test.name, 0, std::string("unexpected exception: ") + error.what());
        }
        std::printf("%s %s\n", failures == before ? "ok  " : "FAIL", test.name);
    }
    std::printf("%zu native tests, %d failed expectations\n", registry().size(), failures);
    return failures == 0 ? 0 : 1;
}
