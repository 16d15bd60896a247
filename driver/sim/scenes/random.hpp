#pragma once

#include <cstdint>

namespace vantrel::sim {

// A small, fast generator (wyrand): one multiply per 64 random bits, good
// enough statistically for synthetic scenes. Deterministic for a seed.
class FastRandom {
public:
    explicit FastRandom(std::uint64_t seed) : state_(mix(seed)) {}

    std::uint64_t next() noexcept {
        state_ += 0xa0761d6478bd642fULL;
        const unsigned __int128 t = static_cast<unsigned __int128>(state_) * (state_ ^ 0xe7037ed1a0b428dbULL);
        return static_cast<std::uint64_t>(t >> 64) ^ static_cast<std::uint64_t>(t);
    }

    // Maps 32 random bits onto [0, n) without division.
    static std::uint32_t below(std::uint32_t bits, std::uint32_t n) noexcept {
        return static_cast<std::uint32_t>((static_cast<std::uint64_t>(bits) * n) >> 32);
    }

private:
    static std::uint64_t mix(std::uint64_t z) noexcept {
        z += 0x9e3779b97f4a7c15ULL;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }

    std::uint64_t state_;
};

}  // namespace vantrel::sim
