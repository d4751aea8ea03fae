// The random generator, shot-noise fields and mask noise.
//
// Expected keystream and deviate values come from a separate plain-Python
// model of the generator (ChaCha12 keyed by PCG32, Ziggurat normal sampler),
// whose ChaCha block agrees with the RFC 7539 vector below.

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <string>

#include "core/buffer.hpp"
#include "core/error.hpp"
#include "harness.hpp"
#include "noise/mask_noise.hpp"
#include "noise/rng.hpp"
#include "noise/shot_noise.hpp"
#include "noise/ziggurat_tables.hpp"

using namespace vexlume;

using native_tests::failure_message;

namespace {

constexpr std::uint32_t sigma[4] = {0x61707865, 0x3320646e, 0x79622d32, 0x6b206574};

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool same_bits(double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}

bool same_bits(Complex a, Complex b) { return same_bits(a.re, b.re) && same_bits(a.im, b.im); }

bool modulus_is(Complex z, double amplitude) {
    return std::fabs(std::hypot(z.re, z.im) - amplitude) <= 1e-14 * amplitude;
}

View1<double> view_of(const double* data, std::size_t size, std::ptrdiff_t stride = 1) {
    return View1<double>{data, size, stride};
}

}  // namespace

NATIVE_TEST(chacha_block_matches_known_answers) {
    struct Case {
        const char* name;
        int rounds;
        std::uint32_t input[16];
        std::uint32_t output[16];
    };
    const Case cases[] = {
        // RFC 7539 section 2.3.2: key 00:01:..:1f, block counter 1,
        // nonce 00:00:00:09:00:00:00:4a:00:00:00:00.
        {"rfc7539 chacha20", 20,
         {sigma[0], sigma[1], sigma[2], sigma[3], 0x03020100, 0x07060504, 0x0b0a0908,
          0x0f0e0d0c, 0x13121110, 0x17161514, 0x1b1a1918, 0x1f1e1d1c, 0x00000001, 0x09000000,
          0x4a000000, 0x00000000},
         {0xe4e7f110, 0x15593bd1, 0x1fdd0f50, 0xc47120a3, 0xc7f4d1c7, 0x0368c033, 0x9aaa2204,
          0x4e6cd4c3, 0x466482d2, 0x09aa9f07, 0x05d7c214, 0xa2028bd9, 0xd19c12b5, 0xb94e16de,
          0xe883d0cb, 0x4e3c50a2}},
        // All-zero 256-bit key, counter 0, stream 0: the ChaCha20 and ChaCha12
        // first blocks (keystream bytes 76 b8 e0 ad ... and 9b f4 9a 6a ...).
        {"zero key chacha20", 20,
         {sigma[0], sigma[1], sigma[2], sigma[3]},
         {0xade0b876, 0x903df1a0, 0xe56a5d40, 0x28bd8653, 0xb819d2bd, 0x1aed8da0, 0xccef36a8,
          0xc70d778b, 0x7c5941da, 0x8d485751, 0x3fe02477, 0x374ad8b8, 0xf4b8436a, 0x1ca11815,
          0x69b687c3, 0x8665eeb2}},
        {"zero key chacha12", 12,
         {sigma[0], sigma[1], sigma[2], sigma[3]},
         {0x6a9af49b, 0x53f95507, 0x12ce1f81, 0xd583265f, 0xbbc32904, 0x1474e049, 0xa589007e,
          0x5f15ae2e, 0x79f86405, 0xc0e37ad2, 0x3428e82c, 0x798cfaac, 0x2c9f623a, 0x1969dea0,
          0x2fe80b61, 0xbe261341}},
    };
    for (const Case& c : cases) {
        std::uint32_t output[16];
        chacha_block(c.input, output, c.rounds);
        bool equal = std::memcmp(output, c.output, sizeof output) == 0;
        if (!equal) std::fprintf(stderr, "  mismatch in %s\n", c.name);
        EXPECT(equal);
    }
}

NATIVE_TEST(seeded_generator_is_chacha12_block_by_block_under_pcg32_key) {
    // Keys of the PCG32 (XSH-RR) schedule, worked out separately in Python.
    struct Case {
        std::uint64_t seed;
        std::uint32_t key[8];
    };
    const Case cases[] = {
        {0, {0xf973f2ec, 0x45cdb581, 0x7346f087, 0xad6cad06, 0xe3a3d0d0, 0x67e71733, 0x72ea9bf2,
             0xfe7d8ad7}},
        {42, {0x7ba18fa4, 0x0a3d3258, 0xcca1b8ea, 0xb8140169, 0x75c88c2b, 0x54f7b418, 0xa16e448d,
              0xf220dfe4}},
        {UINT64_MAX, {0xe392472f, 0x102810d6, 0x952d5435, 0x435ef92c, 0x7b34e99a, 0x37c5dd03,
                      0xb0c77a63, 0x3e612043}},
    };
    for (const Case& c : cases) {
        NoiseRng rng = NoiseRng::with_seed(c.seed);
        // 13 blocks: three full refills and part of a fourth.
        bool equal = true;
        for (std::uint32_t counter = 0; counter < 13; ++counter) {
            std::uint32_t input[16] = {sigma[0], sigma[1], sigma[2], sigma[3]};
            std::memcpy(input + 4, c.key, sizeof c.key);
            input[12] = counter;
            std::uint32_t block[16];
            chacha_block(input, block, 12);
            for (int k = 0; k < 16; k += 2) {
                const std::uint64_t expected = std::uint64_t{block[k + 1]} << 32 | block[k];
                equal = equal && rng.draw64() == expected;
            }
        }
        EXPECT(equal);
    }

    // The same stream through the derived draws.
    NoiseRng rng = NoiseRng::with_seed(0);
    EXPECT(rng.draw64() == 0xbb2a3fb2cd2c6f7fULL);
    NoiseRng twin = NoiseRng::with_seed(0);
    twin.draw64();
    const double u = rng.uniform();
    EXPECT(same_bits(u, 0x1.8c02f9291c4edp-1));
    EXPECT(same_bits(twin.phase(), 0x1.3706dc03365fap+2));
}

NATIVE_TEST(ziggurat_tables_hold_the_reference_rows) {
    struct Row {
        const double* table;
        int index;
        double value;
    };
    const Row rows[] = {
        {zig_x, 0, 3.91075795953709},      {zig_x, 1, 3.654152885361009},
        {zig_x, 2, 3.4492782985609645},    {zig_x, 255, 0.2152418959132738},
        {zig_x, 256, 0.0},                 {zig_f, 0, 0.000477467764586655},
        {zig_f, 1, 0.001260285930498598},  {zig_f, 94, 0.2064054063986793},
        {zig_f, 255, 0.9771017012827313},  {zig_f, 256, 1.0},
    };
    for (const Row& row : rows) {
        if (!same_bits(row.table[row.index], row.value)) {
            std::fprintf(stderr, "  %s[%d] = %.17g\n", row.table == zig_x ? "zig_x" : "zig_f",
                         row.index, row.table[row.index]);
            EXPECT(false);
        }
    }
    EXPECT(zig_r == zig_x[1]);
    // A mistyped entry would most likely break the ordering of the layers.
    bool ordered = true;
    for (int i = 0; i < 256; ++i) {
        ordered = ordered && zig_x[i] > zig_x[i + 1] && zig_f[i] < zig_f[i + 1];
    }
    EXPECT(ordered);
}

NATIVE_TEST(normal_deviates_follow_the_model_sequence) {
    NoiseRng rng = NoiseRng::with_seed(2024);
    const double first[] = {0x1.e1336d08337fep-1,  0x1.5ec28244bd98dp-5,  0x1.4f19455a4061ep-3,
                            -0x1.4259312455fbap-1, -0x1.1f6c8ca0b6aafp-1, -0x1.155724f4b7b6ep+0};
    for (double expected : first) EXPECT(same_bits(rng.normal_deviate(), expected));

    // Over 100000 deviates, which reach the tail 23 times and the wedge test
    // often: two tail values, one on each side, and a fingerprint of all bits
    // (rotate left by one after each xor) from the model.
    rng = NoiseRng::with_seed(2024);
    std::uint64_t fingerprint = 0;
    for (int k = 0; k < 100000; ++k) {
        const double x = rng.normal_deviate();
        if (k == 12636) EXPECT(same_bits(x, 0x1.e299d9c0555a5p+1));
        if (k == 15658) EXPECT(same_bits(x, -0x1.0da53b05bc55cp+2));
        fingerprint = std::rotl(fingerprint ^ std::bit_cast<std::uint64_t>(x), 1);
    }
    EXPECT(fingerprint == 0xd17134942e51e9ccULL);
}

NATIVE_TEST(normal_deviates_are_standard_normal) {
    NoiseRng rng = NoiseRng::from_entropy();
    const int count = 1000000;
    double sum = 0.0;
    double sum_squares = 0.0;
    int beyond_one = 0;
    int beyond_r = 0;
    for (int k = 0; k < count; ++k) {
        const double x = rng.normal_deviate();
        sum += x;
        sum_squares += x * x;
        beyond_one += std::fabs(x) > 1.0;
        beyond_r += std::fabs(x) > zig_r;
    }
    const double mean = sum / count;
    const double variance = sum_squares / count - mean * mean;
    // Standard errors: 0.001 for the mean, 0.0014 for the variance,
    // 0.00047 for P(|x| > 1) = 0.3173, and 16 counts around 258 beyond R.
    EXPECT(std::fabs(mean) < 0.006);
    EXPECT(std::fabs(variance - 1.0) < 0.01);
    EXPECT(std::fabs(beyond_one / double(count) - 0.3173) < 0.003);
    EXPECT(beyond_r > 160 && beyond_r < 360);
}

NATIVE_TEST(entropy_seeded_generators_differ) {
    NoiseRng a = NoiseRng::from_entropy();
    NoiseRng b = NoiseRng::from_entropy();
    bool differ = false;
    for (int k = 0; k < 4; ++k) differ = differ || a.draw64() != b.draw64();
    EXPECT(differ);
}

NATIVE_TEST(shot_noise_kind_names_match_exactly) {
    struct Case {
        std::string_view name;
        std::optional<ShotNoiseKind> kind;
    };
    using K = ShotNoiseKind;
    const Case cases[] = {
        {"variable_phase_only", K::VariablePhaseOnly},
        {"constant_phse_only", K::ConstantPhaseOnly},
        {"variable_both", K::VariableBoth},
        {"constant_both", K::ConstantBoth},
        {"constant_phase_only", std::nullopt},
        {"Variable_both", std::nullopt},
        {"variable_both ", std::nullopt},
        {std::string_view("variable_both\0", 14), std::nullopt},
        {"variable", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case& c : cases) EXPECT(shot_noise_kind_from_name(c.name) == c.kind);
}

NATIVE_TEST(shot_noise_field_draws_per_point_in_index_order) {
    // A zero and a negative frequency among the points; dw is given apart.
    // Seed 13 puts the phase at the zero frequency in the third quadrant,
    // where the signs of the zeros show the full complex product.
    const double w[] = {0.75, 1.5, 0.0, -3.0, 2.25};
    const double dw = 0.5;
    using K = ShotNoiseKind;
    for (K kind : {K::VariablePhaseOnly, K::ConstantPhaseOnly, K::VariableBoth, K::ConstantBoth}) {
        const bool variable = kind == K::VariablePhaseOnly || kind == K::VariableBoth;
        const bool gaussian = kind == K::VariableBoth || kind == K::ConstantBoth;
        const auto field = shot_noise_field(view_of(w, 5), dw, kind, NoiseRng::with_seed(13));
        EXPECT(field.extents[0] == 5 && field.strides[0] == 1);
        NoiseRng twin = NoiseRng::with_seed(13);
        for (std::size_t i = 0; i < 5; ++i) {
            const double a = std::sqrt(std::fabs(variable ? w[i] : w[0]) / dw * half_hbar);
            Complex expected;
            if (gaussian) {
                const double re = twin.normal_deviate();
                expected = Complex{re * a, twin.normal_deviate() * a};
            } else {
                // The complex product (a + 0i)(cos + i sin), which also fixes
                // the signs of the zeros at the zero frequency.
                const double phi = twin.phase();
                const double c = std::cos(phi);
                const double s = std::sin(phi);
                expected = Complex{a * c - 0.0 * s, 0.0 * c + a * s};
                EXPECT(modulus_is(field.view()[i], a) || a == 0.0);
            }
            EXPECT(same_bits(field.view()[i], expected));
        }
    }
}

NATIVE_TEST(shot_noise_field_walks_a_reversed_grid_in_memory_order) {
    const double memory[] = {1.0, 2.0, 3.0, 4.0};
    const double dw = 1.0;
    const auto forward =
        shot_noise_field(view_of(memory, 4), dw, ShotNoiseKind::VariableBoth, NoiseRng::with_seed(3));
    // The reversed grid 4, 3, 2, 1: its draws go to memory positions 0..3.
    const auto reversed = shot_noise_field(view_of(memory + 3, 4, -1), dw,
                                           ShotNoiseKind::VariableBoth, NoiseRng::with_seed(3));
    EXPECT(reversed.extents[0] == 4 && reversed.strides[0] == -1 && reversed.origin == 3);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT(same_bits(reversed.view()[i], forward.view()[3 - i]));
        EXPECT(same_bits(reversed.buffer[i], forward.buffer[i]));
    }

    // The constant kinds take their amplitude from logical point 0 (here 4).
    const auto constant = shot_noise_field(view_of(memory + 3, 4, -1), dw,
                                           ShotNoiseKind::ConstantPhaseOnly, NoiseRng::with_seed(3));
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT(modulus_is(constant.view()[i], shot_noise_amplitude(4.0, dw)));
    }

    // Any other stride is walked in index order.
    const double spaced[] = {1.0, -1.0, 2.0, -1.0, 3.0, -1.0, 4.0};
    const auto strided = shot_noise_field(view_of(spaced, 4, 2), dw,
                                          ShotNoiseKind::VariableBoth, NoiseRng::with_seed(3));
    EXPECT(strided.strides[0] == 1);
    for (std::size_t i = 0; i < 4; ++i) EXPECT(same_bits(strided.view()[i], forward.view()[i]));
}

NATIVE_TEST(shot_noise_with_degenerate_steps_is_not_finite) {
    const auto nan = [](Complex z) { return std::isnan(z.re) && std::isnan(z.im); };
    const auto infinite = [](Complex z) { return std::isinf(z.re) || std::isinf(z.im); };

    const double falling[] = {2.0, 1.0, 0.0, -1.0};  // dw = -1
    const auto f = shot_noise(view_of(falling, 4), ShotNoiseKind::VariablePhaseOnly, 1);
    EXPECT(nan(f.view()[0]) && nan(f.view()[1]) && nan(f.view()[3]));
    EXPECT(f.view()[2].re == 0.0 && f.view()[2].im == 0.0);

    const double flat[] = {0.0, 0.0, 5.0};  // dw = 0
    const auto g = shot_noise(view_of(flat, 3), ShotNoiseKind::VariablePhaseOnly, 1);
    EXPECT(nan(g.view()[0]) && infinite(g.view()[2]));

    // w[0] = 0 silences the constant kinds entirely.
    const double from_zero[] = {0.0, 1.0, 2.0};
    for (ShotNoiseKind kind : {ShotNoiseKind::ConstantPhaseOnly, ShotNoiseKind::ConstantBoth}) {
        const auto z = shot_noise(view_of(from_zero, 3), kind, 1);
        for (std::size_t i = 0; i < 3; ++i) EXPECT(z.view()[i].re == 0.0 && z.view()[i].im == 0.0);
    }
}

NATIVE_TEST(shot_noise_checks_the_grid_and_seeds) {
    const double w[] = {1.0, 2.0, 3.0};
    EXPECT(starts_with(failure_message([&] { shot_noise(view_of(w, 1), {}, 5); }),
                       "index out of bounds"));
    EXPECT(starts_with(failure_message([&] { shot_noise(view_of(w, 0), {}, std::nullopt); }),
                       "index out of bounds"));

    const auto two = shot_noise(view_of(w, 2), ShotNoiseKind::VariablePhaseOnly, UINT64_MAX);
    EXPECT(two.extents[0] == 2);

    const auto a = shot_noise(view_of(w, 3), ShotNoiseKind::ConstantBoth, 99);
    const auto b = shot_noise(view_of(w, 3), ShotNoiseKind::ConstantBoth, 99);
    const auto direct = shot_noise_field(view_of(w, 3), 1.0, ShotNoiseKind::ConstantBoth,
                                         NoiseRng::with_seed(99));
    const auto c = shot_noise(view_of(w, 3), ShotNoiseKind::ConstantBoth, std::nullopt);
    bool c_differs = false;
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT(same_bits(a.view()[i], b.view()[i]) && same_bits(a.view()[i], direct.view()[i]));
        c_differs = c_differs || !same_bits(a.view()[i], c.view()[i]);
    }
    EXPECT(c_differs);
}

NATIVE_TEST(mask_noise_combines_spectrum_and_vacuum_noise) {
    const double w[] = {1.0, 2.0, 3.0, 4.0};
    const double dw = 1.0;
    // Spectrum values of the size of the noise (about 1e-17), so that the
    // noise part can be recovered from the sum without cancellation.
    const Complex spectrum[] = {{1e-17, -2e-17}, {3.5e-17, 2.5e-18}, {-1e-17, 4e-18}, {0.0, 7e-17}};
    const View1<Complex> s{spectrum, 4, 1};
    const auto a = [&](std::size_t i) { return shot_noise_amplitude(w[i], dw); };

    struct Case {
        double m;
        std::function<bool(Complex out, std::size_t i)> holds;
    };
    const Case cases[] = {
        {1.0, [&](Complex z, std::size_t i) { return same_bits(z, spectrum[i]); }},
        {-1.0,
         [&](Complex z, std::size_t i) {
             return z.re == -spectrum[i].re && z.im == -spectrum[i].im;
         }},
        {0.0, [&](Complex z, std::size_t i) { return modulus_is(z, a(i)); }},
        {0.6,
         [&](Complex z, std::size_t i) {
             return modulus_is(Complex{z.re - 0.6 * spectrum[i].re, z.im - 0.6 * spectrum[i].im},
                               0.8 * a(i));
         }},
        {1.5, [](Complex z, std::size_t) { return std::isnan(z.re) && std::isnan(z.im); }},
    };
    for (const Case& c : cases) {
        const double mask[] = {c.m, c.m, c.m, c.m};
        const auto out = mask_noise(view_of(w, 4), s, view_of(mask, 4));
        EXPECT(out.extents[0] == 4 && out.strides[0] == 1 && out.origin == 0);
        for (std::size_t i = 0; i < 4; ++i) {
            if (!c.holds(out.view()[i], i)) {
                std::fprintf(stderr, "  mask %g, point %zu\n", c.m, i);
                EXPECT(false);
            }
        }
    }

    // Only the point with |m| > 1 turns NaN; two calls draw different noise.
    const double mixed[] = {0.0, 2.0, 0.0, 0.0};
    const auto first = mask_noise(view_of(w, 4), s, view_of(mixed, 4));
    const auto second = mask_noise(view_of(w, 4), s, view_of(mixed, 4));
    EXPECT(std::isnan(first.view()[1].re) && !std::isnan(first.view()[0].re));
    EXPECT(!same_bits(first.view()[0], second.view()[0]));

    // A reversed grid still pairs noise point i with spectrum and mask point i.
    const double zeros[] = {0.0, 0.0, 0.0, 0.0};
    const double falling_memory[] = {4.0, 3.0, 2.0, 1.0};
    const auto reversed = mask_noise(view_of(falling_memory + 3, 4, -1), s, view_of(zeros, 4));
    EXPECT(reversed.strides[0] == 1);
    for (std::size_t i = 0; i < 4; ++i) EXPECT(modulus_is(reversed.view()[i], a(i)));
}

NATIVE_TEST(mask_noise_rejects_mismatched_lengths) {
    const double w[] = {1.0, 2.0, 3.0};
    const Complex spectrum[] = {{1.0, 0.0}, {1.0, 0.0}, {1.0, 0.0}};
    const double mask[] = {0.5, 0.5, 0.5};
    const std::string mismatch = "assertion failed: part.equal_dim(dimension)";
    struct Case {
        std::size_t grid, spectrum, mask;
        std::string message;
    };
    const Case cases[] = {
        {3, 2, 3, mismatch},
        {3, 3, 2, mismatch},
        {2, 3, 3, mismatch},
        {2, 2, 2, ""},
        {1, 1, 1, "index out of bounds"},
    };
    for (const Case& c : cases) {
        const std::string message = failure_message([&] {
            mask_noise(view_of(w, c.grid), View1<Complex>{spectrum, c.spectrum, 1},
                       view_of(mask, c.mask));
        });
        EXPECT(c.message.empty() ? message.empty()
                                 : c.message == mismatch ? message == mismatch
                                                         : starts_with(message, c.message));
    }
}
