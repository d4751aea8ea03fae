#include "core/buffer.hpp"

#include <cstdint>
#include <string>

namespace vexlume {

void* allocate_bytes(std::size_t count, std::size_t element_size) {
    if (element_size != 0 && count > SIZE_MAX / element_size) {
        fail("out of memory: a buffer of " + std::to_string(count) + " elements of " +
             std::to_string(element_size) + " bytes exceeds the address space");
    }
    std::size_t bytes = count * element_size;
    void* memory = nullptr;
    // posix_memalign accepts zero bytes; ask for one so a valid pointer comes back.
    if (posix_memalign(&memory, buffer_alignment, bytes == 0 ? 1 : bytes) != 0) {
        fail("out of memory: could not allocate " + std::to_string(bytes) + " bytes");
    }
    return memory;
}

}  // namespace vexlume
