// Deterministic random numbers for the generator.
//
// Every pixel the generator writes must be identical on every machine and
// build, so nothing here touches <random>'s distributions (their outputs are
// implementation-defined). Doubles are built from 53 random bits, which is
// exact on every IEEE-754 platform.
#pragma once

#include <cstdint>

namespace fpgen {

inline uint64_t splitmix64(uint64_t &state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// Mixes the identifiers of a random stream (seed, finger, impression, purpose)
// into one 64-bit key, so each part of the generator draws from its own stream
// and changing one part never shifts the numbers of another.
inline uint64_t stream_key(uint64_t seed, uint64_t a, uint64_t b, uint64_t purpose)
{
    uint64_t s = seed;
    uint64_t k = splitmix64(s);
    s = k ^ (a * 0xD1B54A32D192ED03ull);
    k = splitmix64(s);
    s = k ^ (b * 0x8CB92BA72F3D8DD7ull);
    k = splitmix64(s);
    s = k ^ (purpose * 0xABC98388FB8FAC03ull);
    return splitmix64(s);
}

// xoshiro256** seeded through splitmix64.
class Rng {
public:
    explicit Rng(uint64_t key)
    {
        for (auto &w : s_)
            w = splitmix64(key);
    }

    uint64_t next()
    {
        const uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }

    // Uniform in [0, 1).
    double uniform() { return static_cast<double>(next() >> 11) * (1.0 / 9007199254740992.0); }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Uniform integer in [0, n), n > 0.
    uint32_t below(uint32_t n) { return static_cast<uint32_t>(((next() >> 32) * n) >> 32); }
    // Roughly normal (sum of four uniforms, variance scaled to 1): cheap and
    // exactly reproducible, which matters more here than perfect tails.
    double gaussish()
    {
        const double s = uniform() + uniform() + uniform() + uniform() - 2.0;
        return s * 1.7320508075688772;
    }

private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    uint64_t s_[4];
};

} // namespace fpgen
