#include "noise/rng.hpp"

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "core/error.hpp"
#include "noise/ziggurat_tables.hpp"

namespace vexlume {

namespace {

constexpr int keystream_rounds = 12;

// "expand 32-byte k" as four little-endian words.
constexpr std::uint32_t chacha_constants[4] = {0x61707865, 0x3320646e, 0x79622d32,
                                               0x6b206574};

inline void quarter_round(std::uint32_t& a, std::uint32_t& b, std::uint32_t& c,
                          std::uint32_t& d) {
    a += b; d ^= a; d = std::rotl(d, 16);
    c += d; b ^= c; b = std::rotl(b, 12);
    a += b; d ^= a; d = std::rotl(d, 8);
    c += d; b ^= c; b = std::rotl(b, 7);
}

// strerror_r comes in a GNU flavour (returns the text) and an XSI flavour
// (fills the buffer); these overloads accept whichever the C library has.
[[maybe_unused]] std::string error_text(int result, const char* buffer) {
    return result == 0 ? std::string(buffer) : std::string("unknown error");
}
[[maybe_unused]] std::string error_text(const char* result, const char*) {
    return std::string(result);
}

std::string describe_errno(int error) {
    char buffer[256] = {};
    return error_text(strerror_r(error, buffer, sizeof buffer), buffer);
}

[[noreturn]] void seeding_failed(int error) {
    fail("seeding from the operating system failed: " + describe_errno(error));
}

// Fills `bytes` from the kernel's random device file. Returns 0 or an errno.
int read_random_device(unsigned char* bytes, std::size_t count) {
    int fd;
    do {
        fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return errno;
    std::size_t filled = 0;
    int error = 0;
    while (filled < count) {
        const ssize_t got = ::read(fd, bytes + filled, count - filled);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            error = got < 0 ? errno : EIO;  // end of file on a random device is broken
            break;
        }
    }
    ::close(fd);
    return error;
}

// Fills `bytes` with entropy: getrandom, or the device file on kernels that
// lack the system call. Fails with the seeding error.
void entropy_bytes(unsigned char* bytes, std::size_t count) {
    std::size_t filled = 0;
    while (filled < count) {
        const ssize_t got = ::getrandom(bytes + filled, count - filled, 0);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else if (got < 0 && errno == ENOSYS) {
            const int error = read_random_device(bytes, count);
            if (error != 0) seeding_failed(error);
            return;
        } else {
            seeding_failed(got < 0 ? errno : EIO);
        }
    }
}

}  // namespace

void chacha_block(const std::uint32_t input[16], std::uint32_t output[16], int rounds) {
    std::uint32_t x[16];
    for (int i = 0; i < 16; ++i) x[i] = input[i];
    for (int round = 0; round < rounds; round += 2) {
        quarter_round(x[0], x[4], x[8], x[12]);
        quarter_round(x[1], x[5], x[9], x[13]);
        quarter_round(x[2], x[6], x[10], x[14]);
        quarter_round(x[3], x[7], x[11], x[15]);
        quarter_round(x[0], x[5], x[10], x[15]);
        quarter_round(x[1], x[6], x[11], x[12]);
        quarter_round(x[2], x[7], x[8], x[13]);
        quarter_round(x[3], x[4], x[9], x[14]);
    }
    for (int i = 0; i < 16; ++i) output[i] = x[i] + input[i];
}

NoiseRng::NoiseRng(const std::uint32_t key[8]) {
    for (int i = 0; i < 8; ++i) key_[i] = key[i];
}

NoiseRng NoiseRng::with_seed(std::uint64_t seed) {
    // PCG32 (XSH-RR), one output per key word, each taken after its state step.
    std::uint64_t state = seed;
    std::uint32_t key[8];
    for (auto& word : key) {
        state = state * 6364136223846793005ULL + 11634580027462260723ULL;
        const auto xorshifted = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
        word = std::rotr(xorshifted, static_cast<int>(state >> 59));
    }
    return NoiseRng(key);
}

NoiseRng NoiseRng::from_entropy() {
    unsigned char bytes[32];
    entropy_bytes(bytes, sizeof bytes);
    std::uint32_t key[8];
    for (int i = 0; i < 8; ++i) {
        const unsigned char* b = bytes + 4 * i;
        key[i] = std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
                 std::uint32_t{b[3]} << 24;
    }
    return NoiseRng(key);
}

void NoiseRng::refill() {
    std::uint32_t input[16];
    for (int i = 0; i < 4; ++i) input[i] = chacha_constants[i];
    for (int i = 0; i < 8; ++i) input[4 + i] = key_[i];
    input[14] = 0;  // stream number
    input[15] = 0;
    for (std::size_t block = 0; block < blocks_per_refill; ++block) {
        input[12] = static_cast<std::uint32_t>(counter_);
        input[13] = static_cast<std::uint32_t>(counter_ >> 32);
        chacha_block(input, buffer_ + 16 * block, keystream_rounds);
        ++counter_;
    }
    position_ = 0;
}

std::uint64_t NoiseRng::draw64() {
    // Draws always take two words, so a draw never straddles a refill.
    if (position_ >= buffer_words) refill();
    const std::uint64_t low = buffer_[position_];
    const std::uint64_t high = buffer_[position_ + 1];
    position_ += 2;
    return high << 32 | low;
}

double NoiseRng::uniform() {
    return static_cast<double>(draw64() >> 11) * 0x1.0p-53;
}

double NoiseRng::phase() {
    return uniform() * 6.283185307179586;
}

double NoiseRng::normal_deviate() {
    for (;;) {
        const std::uint64_t bits = draw64();
        const std::size_t layer = bits & 0xFF;
        // The top 52 bits as the mantissa of a double in [2, 4), shifted to [-1, 1).
        const double u = std::bit_cast<double>(bits >> 12 | 0x4000000000000000ULL) - 3.0;
        const double x = u * zig_x[layer];
        if (std::fabs(x) < zig_x[layer + 1]) return x;

        if (layer == 0) {
            // Beyond R: Marsaglia's tail method, with uniforms in the open interval
            // (0, 1) so that neither logarithm can be infinite.
            double xt;
            double y;
            do {
                const double u1 =
                    std::bit_cast<double>(draw64() >> 12 | 0x3FF0000000000000ULL) -
                    0.9999999999999999;
                const double u2 =
                    std::bit_cast<double>(draw64() >> 12 | 0x3FF0000000000000ULL) -
                    0.9999999999999999;
                xt = std::log(u1) / zig_r;
                y = std::log(u2);
            } while (!(xt * xt <= -2.0 * y));
            return u < 0.0 ? xt - zig_r : zig_r - xt;
        }

        const double v = uniform();
        if (std::exp((x * x) * -0.5) > (zig_f[layer] - zig_f[layer + 1]) * v + zig_f[layer + 1]) {
            return x;
        }
    }
}

}  // namespace vexlume
