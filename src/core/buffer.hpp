// Owned memory: scratch buffers and the arrays a computation hands back.
//
// All native allocations of element arrays go through allocate_bytes, which
// turns exhaustion of memory into an InternalFailure naming the request, so a
// too-large call costs the caller an exception instead of the process.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/view.hpp"

namespace vexlume {

inline constexpr std::size_t buffer_alignment = 64;

// Aligned to buffer_alignment; release with std::free. Fails on exhaustion.
void* allocate_bytes(std::size_t count, std::size_t element_size);

template <class T>
class Buffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    Buffer() = default;
    static Buffer zeros(std::size_t size) {
        Buffer b = uninitialized(size);
        if (size != 0) std::memset(static_cast<void*>(b.data_), 0, size * sizeof(T));
        return b;
    }
    static Buffer uninitialized(std::size_t size) {
        Buffer b;
        b.data_ = static_cast<T*>(allocate_bytes(size, sizeof(T)));
        b.size_ = size;
        return b;
    }

    Buffer(Buffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    Buffer& operator=(Buffer&& other) noexcept {
        if (this != &other) {
            std::free(data_);
            data_ = std::exchange(other.data_, nullptr);
            size_ = std::exchange(other.size_, 0);
        }
        return *this;
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { std::free(data_); }

    T* data() { return data_; }
    const T* data() const { return data_; }
    std::size_t size() const { return size_; }
    T& operator[](std::size_t i) { return data_[i]; }
    const T& operator[](std::size_t i) const { return data_[i]; }

    // Gives up ownership; the memory must then be freed with std::free.
    T* release() {
        size_ = 0;
        return std::exchange(data_, nullptr);
    }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

// A result array: an owned buffer with one or two axes. `origin` is the
// buffer index of the element with all indices 0, strides are in elements.
template <class T>
struct OwnedArray {
    Buffer<T> buffer;
    int ndim = 1;
    std::size_t extents[2] = {0, 0};
    std::ptrdiff_t strides[2] = {1, 1};
    std::size_t origin = 0;

    static OwnedArray vector(Buffer<T> buffer) {
        OwnedArray a;
        a.extents[0] = buffer.size();
        a.buffer = std::move(buffer);
        return a;
    }
    // A one-axis array stored back to front: logical index i lives at buffer
    // index size - 1 - i.
    static OwnedArray reversed_vector(Buffer<T> buffer) {
        OwnedArray a;
        a.extents[0] = buffer.size();
        a.strides[0] = -1;
        a.origin = buffer.size() == 0 ? 0 : buffer.size() - 1;
        a.buffer = std::move(buffer);
        return a;
    }
    // A C-order matrix of zeros.
    static OwnedArray zero_matrix(std::size_t rows, std::size_t cols) {
        check(cols == 0 || rows <= SIZE_MAX / cols, "rows * cols fits in memory");
        OwnedArray a;
        a.buffer = Buffer<T>::zeros(rows * cols);
        a.ndim = 2;
        a.extents[0] = rows;
        a.extents[1] = cols;
        a.strides[0] = static_cast<std::ptrdiff_t>(cols);
        a.strides[1] = 1;
        return a;
    }

    // Logical one-axis view of a vector.
    View1<T> view() const {
        return View1<T>{buffer.data() + origin, extents[0], strides[0]};
    }
    // Row i of a C-order matrix as writable contiguous memory.
    T* row(std::size_t i) { return buffer.data() + origin + i * extents[1]; }
};

}  // namespace vexlume
