// A small seeded generator (xoshiro256**) whose sequence is the same on every
// platform and standard library, so a seed names one exact run.
#pragma once

#include <cmath>
#include <cstdint>

namespace sim {

inline std::uint64_t splitMix64(std::uint64_t& x) {
    std::uint64_t z = (x += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Derives the seed of one stream (a board, a dongle) from the rig's seed.
inline std::uint64_t streamSeed(std::uint64_t seed, std::uint64_t stream) {
    std::uint64_t x = seed ^ (stream * 0xD1B54A32D192ED03ull);
    return splitMix64(x);
}

class Rng {
public:
    explicit Rng(std::uint64_t seed = 1) {
        std::uint64_t x = seed;
        for (auto& s : s_) s = splitMix64(x);
    }
    std::uint64_t next() {
        const std::uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const std::uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    // [0, 1)
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double a, double b) { return a + (b - a) * uniform(); }
    bool chance(double p) { return p > 0 && uniform() < p; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next() >> 56); }
    // Standard normal (Box-Muller; the second value is kept for the next call).
    double gauss() {
        if (haveSpare_) {
            haveSpare_ = false;
            return spare_;
        }
        double u1 = uniform();
        double u2 = uniform();
        if (u1 < 1e-300) u1 = 1e-300;
        double r = std::sqrt(-2.0 * std::log(u1));
        spare_ = r * std::sin(2 * M_PI * u2);
        haveSpare_ = true;
        return r * std::cos(2 * M_PI * u2);
    }

private:
    static std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::uint64_t s_[4];
    double spare_ = 0;
    bool haveSpare_ = false;
};

}  // namespace sim
