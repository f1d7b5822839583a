// Deterministic random numbers and noise for the sample pictures.
//
// Everything here is defined bit for bit in this file (no std:: distributions), so the
// generated pictures do not change with the standard library.
#pragma once

#include <cmath>
#include <cstdint>

namespace samplegen {

// splitmix64: small, fast and fully specified.
class Rng {
public:
    explicit Rng(uint64_t seed) : m_state(seed) {}

    uint64_t next() {
        uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1), from the top 53 bits.
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    double range(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    int below(int n) { return int(next() % uint64_t(n)); }

private:
    uint64_t m_state;
};

// Stateless hash of a lattice point, so noise can be evaluated in any order.
inline uint32_t hash2(int32_t x, int32_t y, uint32_t seed) {
    uint64_t h = uint64_t(uint32_t(x)) * 0x9E3779B97F4A7C15ull;
    h ^= uint64_t(uint32_t(y)) * 0xC2B2AE3D27D4EB4Full;
    h ^= uint64_t(seed) * 0x165667B19E3779F9ull;
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return uint32_t(h);
}

inline double hashUnit(int32_t x, int32_t y, uint32_t seed) {
    return double(hash2(x, y, seed)) * (1.0 / 4294967296.0);
}

// Smoothly interpolated lattice noise in [0, 1].
inline double valueNoise(double x, double y, uint32_t seed) {
    const double fx = std::floor(x);
    const double fy = std::floor(y);
    const int32_t ix = int32_t(fx);
    const int32_t iy = int32_t(fy);
    double tx = x - fx;
    double ty = y - fy;
    tx = tx * tx * (3.0 - 2.0 * tx);
    ty = ty * ty * (3.0 - 2.0 * ty);
    const double a = hashUnit(ix, iy, seed);
    const double b = hashUnit(ix + 1, iy, seed);
    const double c = hashUnit(ix, iy + 1, seed);
    const double d = hashUnit(ix + 1, iy + 1, seed);
    return a + (b - a) * tx + (c - a) * ty + (a - b - c + d) * tx * ty;
}

// Fractal sum of octaves of value noise, normalised to [0, 1].
inline double fbm(double x, double y, int octaves, uint32_t seed, double gain = 0.5) {
    double sum = 0.0;
    double amp = 1.0;
    double norm = 0.0;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * valueNoise(x, y, seed + uint32_t(i) * 1013u);
        norm += amp;
        amp *= gain;
        // Odd factor and shift keep the octaves' lattices from lining up.
        x = x * 2.03 + 17.1;
        y = y * 2.03 + 5.3;
    }
    return sum / norm;
}

// Roughly Gaussian per-pixel noise with mean 0 and unit spread.
inline double pixelNoise(int32_t x, int32_t y, uint32_t seed) {
    return (hashUnit(x, y, seed) + hashUnit(x, y, seed + 7919u) + hashUnit(x, y, seed + 104729u) -
            1.5) *
           2.0;
}

inline double clamp01(double v) {
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}
inline double mix(double a, double b, double t) {
    return a + (b - a) * t;
}
inline double smoothstep(double e0, double e1, double x) {
    const double t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.0 - 2.0 * t);
}
inline int toByte(double v) {
    const double s = v * 255.0 + 0.5;
    return s <= 0.0 ? 0 : (s >= 255.0 ? 255 : int(s));
}

}  // namespace samplegen
