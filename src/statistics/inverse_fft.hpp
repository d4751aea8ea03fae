// FFTW's unnormalised inverse (backward) transform, wrapped so that plans and
// buffers are released on every path.
//
// Plans are made only on the calling thread (FFTW's planner is not
// thread-safe); fftw_execute_dft on a shared plan is, as long as every thread
// brings its own buffer with the alignment the plan was made for, which is
// why every transformed buffer comes from fftw_malloc.
#pragma once

#include <fftw3.h>

#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "core/error.hpp"
#include "core/view.hpp"

namespace vexlume {

static_assert(sizeof(fftw_complex) == sizeof(Complex));

// A contiguous run of complex values from fftw_malloc.
class FftwBuffer {
public:
    explicit FftwBuffer(std::size_t size) : size_(size) {
        if (size > SIZE_MAX / sizeof(fftw_complex)) {
            fail("out of memory: a buffer of " + std::to_string(size) +
                 " complex values exceeds the address space");
        }
        const std::size_t bytes = size * sizeof(fftw_complex);
        // fftw_malloc(0) may return null; ask for one element so null means failure.
        data_ = static_cast<Complex*>(fftw_malloc(bytes == 0 ? sizeof(fftw_complex) : bytes));
        if (data_ == nullptr) fail("out of memory: could not allocate " + std::to_string(bytes) + " bytes");
    }
    FftwBuffer(FftwBuffer&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
    FftwBuffer& operator=(FftwBuffer&&) = delete;
    FftwBuffer(const FftwBuffer&) = delete;
    FftwBuffer& operator=(const FftwBuffer&) = delete;
    ~FftwBuffer() { fftw_free(data_); }

    Complex* data() { return data_; }
    std::size_t size() const { return size_; }
    Complex& operator[](std::size_t i) { return data_[i]; }
    View1<Complex> view() const { return View1<Complex>{data_, size_, 1}; }

private:
    Complex* data_;
    std::size_t size_;
};

// One plan for the in-place inverse transform of a given length:
// X_k = sum_u x_u exp(+2 pi i u k / n), no normalisation, no shift.
class InverseFft {
public:
    explicit InverseFft(std::size_t length) : length_(length) {
        // An empty transform has nothing to do; FFTW is not asked for it.
        if (length == 0) return;
        if (length > static_cast<std::size_t>(INT_MAX)) {
            fail("the transform length " + std::to_string(length) + " exceeds what FFTW can plan");
        }
        FftwBuffer planning(length);
        fftw_complex* data = reinterpret_cast<fftw_complex*>(planning.data());
        plan_ = fftw_plan_dft_1d(static_cast<int>(length), data, data, FFTW_BACKWARD, FFTW_ESTIMATE);
        if (plan_ == nullptr) {
            fail("FFTW could not plan an inverse transform of length " + std::to_string(length));
        }
    }
    InverseFft(const InverseFft&) = delete;
    InverseFft& operator=(const InverseFft&) = delete;
    ~InverseFft() {
        if (plan_ != nullptr) fftw_destroy_plan(plan_);
    }

    std::size_t length() const { return length_; }

    // Transforms `buffer` in place; safe to call from several threads at once
    // on different buffers.
    void execute(FftwBuffer& buffer) const {
        check(buffer.size() == length_, "buffer.size() == transform length");
        if (plan_ == nullptr) return;
        fftw_complex* data = reinterpret_cast<fftw_complex*>(buffer.data());
        fftw_execute_dft(plan_, data, data);
    }

private:
    std::size_t length_;
    fftw_plan plan_ = nullptr;
};

}  // namespace vexlume
