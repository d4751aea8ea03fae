"""A plain-Python model of the module's seeded noise, written independently of
the native code: ChaCha12 keystream, PCG32 key schedule, 64-bit draws, uniform
and phase, the 256-layer Ziggurat normal deviate and the shot-noise field."""

import math
import struct

MASK32 = 0xFFFFFFFF
MASK64 = 0xFFFFFFFFFFFFFFFF
HALF_HBAR = 5.272859085e-35
TWO_PI = 6.283185307179586
ZIGGURAT_R = 3.654152885361009
ZIGGURAT_V = 0.00492867323399


def _rotl(x, n):
    return ((x << n) | (x >> (32 - n))) & MASK32


def _quarter(s, a, b, c, d):
    s[a] = (s[a] + s[b]) & MASK32; s[d] = _rotl(s[d] ^ s[a], 16)
    s[c] = (s[c] + s[d]) & MASK32; s[b] = _rotl(s[b] ^ s[c], 12)
    s[a] = (s[a] + s[b]) & MASK32; s[d] = _rotl(s[d] ^ s[a], 8)
    s[c] = (s[c] + s[d]) & MASK32; s[b] = _rotl(s[b] ^ s[c], 7)


def chacha_block(words, rounds):
    s = list(words)
    for _ in range(rounds // 2):
        _quarter(s, 0, 4, 8, 12); _quarter(s, 1, 5, 9, 13)
        _quarter(s, 2, 6, 10, 14); _quarter(s, 3, 7, 11, 15)
        _quarter(s, 0, 5, 10, 15); _quarter(s, 1, 6, 11, 12)
        _quarter(s, 2, 7, 8, 13); _quarter(s, 3, 4, 9, 14)
    return [(x + y) & MASK32 for x, y in zip(s, words)]


def pcg32_key(seed):
    state = seed & MASK64
    key = []
    for _ in range(8):
        state = (state * 6364136223846793005 + 11634580027462260723) & MASK64
        xorshifted = (((state >> 18) ^ state) >> 27) & MASK32
        rot = state >> 59
        key.append(((xorshifted >> rot) | (xorshifted << ((-rot) & 31))) & MASK32)
    return key


def _f64(bits):
    return struct.unpack("<d", struct.pack("<Q", bits & MASK64))[0]


def _ziggurat_tables():
    f = lambda t: math.exp(-t * t / 2.0)
    x = [0.0] * 257
    x[0] = ZIGGURAT_V / f(ZIGGURAT_R)
    x[1] = ZIGGURAT_R
    for i in range(2, 256):
        x[i] = math.sqrt(-2.0 * math.log(ZIGGURAT_V / x[i - 1] + f(x[i - 1])))
    x[256] = 0.0
    fv = [f(t) for t in x]
    as18 = lambda v: float("%.18f" % v)
    x = [as18(v) for v in x]
    fv = [as18(v) for v in fv]
    fv[94] = 0.2064054063986793
    return x, fv


ZIG_X, ZIG_F = _ziggurat_tables()


class ModelRng:
    def __init__(self, seed):
        self.key = pcg32_key(seed)
        self.counter = 0
        self.words = []

    def _next_word(self):
        if not self.words:
            block = [0x61707865, 0x3320646E, 0x79622D32, 0x6B206574] + self.key + [
                self.counter & MASK32, self.counter >> 32, 0, 0]
            self.words = chacha_block(block, 12)
            self.counter += 1
        return self.words.pop(0)

    def draw64(self):
        low = self._next_word()
        return low | (self._next_word() << 32)

    def uniform(self):
        return (self.draw64() >> 11) * 2.0 ** -53

    def normal(self):
        while True:
            b = self.draw64()
            i = b & 0xFF
            u = _f64((b >> 12) | 0x4000000000000000) - 3.0
            x = u * ZIG_X[i]
            if abs(x) < ZIG_X[i + 1]:
                return x
            if i == 0:
                while True:
                    u1 = _f64((self.draw64() >> 12) | 0x3FF0000000000000) - 0.9999999999999999
                    u2 = _f64((self.draw64() >> 12) | 0x3FF0000000000000) - 0.9999999999999999
                    xt = math.log(u1) / ZIGGURAT_R
                    y = math.log(u2)
                    if xt * xt <= -2.0 * y:
                        break
                return xt - ZIGGURAT_R if u < 0 else ZIGGURAT_R - xt
            v = self.uniform()
            if math.exp((x * x) * -0.5) > (ZIG_F[i] - ZIG_F[i + 1]) * v + ZIG_F[i + 1]:
                return x


def amplitude(x, dw):
    ratio = abs(x) / dw if dw != 0 else (math.inf if x != 0 else math.nan)
    value = ratio * HALF_HBAR
    return math.sqrt(value) if value >= 0 else math.nan


def shot_noise_field(w_values, kind, seed, backwards=False):
    """The field for the grid values, visiting points from the last to the
    first when `backwards`; element i always belongs to grid point i."""
    rng = ModelRng(seed)
    dw = w_values[1] - w_values[0]
    constant = kind in ("constant_phse_only", "constant_both")
    gaussian = kind in ("variable_both", "constant_both")
    n = len(w_values)
    field = [None] * n
    order = range(n - 1, -1, -1) if backwards else range(n)
    for i in order:
        a = amplitude(w_values[0] if constant else w_values[i], dw)
        if gaussian:
            re = rng.normal() * a
            im = rng.normal() * a
            field[i] = complex(re, im)
        else:
            phi = rng.uniform() * TWO_PI
            field[i] = complex(a * math.cos(phi) - 0.0 * math.sin(phi),
                               0.0 * math.cos(phi) + a * math.sin(phi))
    return field
