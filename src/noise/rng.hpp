// NoiseRng: the module's only random generator.
//
// A ChaCha keystream (12 rounds, 64-bit block counter in words 12-13, stream
// number 0 in words 14-15) keyed either from a 64-bit seed through a PCG32
// key schedule or from 32 bytes of operating-system entropy. Every draw is a
// 64-bit draw built from two keystream words, the first one as the low half.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vexlume {

// The ChaCha block function: `rounds` rounds (two per double round) over the
// 16-word `input`, added word by word to the input, into `output`.
void chacha_block(const std::uint32_t input[16], std::uint32_t output[16], int rounds);

class NoiseRng {
public:
    static NoiseRng with_seed(std::uint64_t seed);
    // Fails with the seeding error when the system gives no entropy.
    static NoiseRng from_entropy();

    std::uint64_t draw64();
    double uniform();  // [0, 1), the top 53 bits of one draw
    double phase();    // uniform() times the double nearest 2 pi
    double normal_deviate();

private:
    static constexpr std::size_t blocks_per_refill = 4;
    static constexpr std::size_t buffer_words = 16 * blocks_per_refill;

    explicit NoiseRng(const std::uint32_t key[8]);
    void refill();

    std::uint32_t key_[8];
    std::uint64_t counter_ = 0;
    std::uint32_t buffer_[buffer_words];
    std::size_t position_ = buffer_words;
};

}  // namespace vexlume
