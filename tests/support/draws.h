// Draws from a seeded generator, of our own rather than the standard
// distributions, whose algorithms differ between libraries: a seed gives the
// same damaged copies everywhere.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

namespace mpg::test {

inline uint64_t below(std::mt19937_64& rng, uint64_t n) {
    return rng() % n;
}

inline size_t between(std::mt19937_64& rng, size_t lo, size_t hi) {
    return lo + static_cast<size_t>(below(rng, hi - lo + 1));
}

inline double unit(std::mt19937_64& rng) {
    return static_cast<double>(rng() >> 11) * 0x1.0p-53;
}

// A length from `least` to `most`, its logarithm uniform: a run of 3 bytes
// is as likely as one of 3,000 to 9,000, and short damage, the most common,
// is well represented.
inline size_t logUniform(std::mt19937_64& rng, size_t most, size_t least = 1) {
    const double low = std::log(static_cast<double>(least));
    const double x = std::exp(low + unit(rng) * (std::log(static_cast<double>(most) + 1.0) - low));
    return std::clamp<size_t>(static_cast<size_t>(x), least, most);
}

inline std::vector<uint8_t> randomBytes(std::mt19937_64& rng, size_t count) {
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

}  // namespace mpg::test
