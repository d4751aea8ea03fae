#include "core/error.hpp"

#include <cstdio>
#include <cstring>
#include <utility>

namespace vexlume {

InternalFailure::InternalFailure(std::string message, std::source_location where)
    : message_(std::move(message)), file_(where.file_name()), line_(where.line()) {}

namespace {

// The path from the project's src/ folder on, so diagnostics do not depend on
// where the project was built.
const char* project_path(const char* file) {
    const char* found = std::strstr(file, "/src/");
    return found != nullptr ? found + 1 : file;
}

}  // namespace

void fail(std::string message, std::source_location where) {
    // One fprintf call so that diagnostics of concurrent workers do not interleave.
    std::fprintf(stderr, "_lib_vexlume: internal error at %s:%u: %s\n", project_path(where.file_name()),
                 static_cast<unsigned>(where.line()), message.c_str());
    throw InternalFailure(std::move(message), where);
}

}  // namespace vexlume
