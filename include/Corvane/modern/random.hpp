// The MD5 random pool in the modern layer (part of <Corvane/corvane.hpp>):
// RandomPool owns a legacy R_RANDOM_STRUCT and wipes it when it goes.
#ifndef CORVANE_MODERN_RANDOM_HPP
#define CORVANE_MODERN_RANDOM_HPP

#include <Corvane/CorvaneCxx20.h>

#include <cstdint>
#include <span>
#include <vector>

#include <Corvane/CorvaneExport.h>
#include <Corvane/modern/bytes.hpp>
#include <Corvane/r_random.h>

namespace corvane::v1 {

// Random pool, over the QV_R_ functions.

class CORVANE_EXPORT RandomPool {
public:
    // A pool seeded from the clock and the operating system's entropy
    // source (QV_R_RandomCreate), ready for use.
    RandomPool() noexcept;
    // A pool seeded with exactly these bytes (QV_R_RandomInit, then
    // QV_R_RandomUpdate): the same seed gives the same output. It produces
    // nothing until 256 seed bytes in all have been added.
    static RandomPool fromSeed(ByteView seed) noexcept;

    RandomPool(const RandomPool&) = delete;  // a copy would repeat the output
    RandomPool& operator=(const RandomPool&) = delete;
    RandomPool(RandomPool&& other) noexcept;             // other becomes unseeded
    RandomPool& operator=(RandomPool&& other) noexcept;  // likewise
    ~RandomPool();                                       // QV_R_RandomFinal

    // Fills the bytes; ErrorCode::notSeeded while seed bytes are wanted.
    void generate(std::span<std::uint8_t> out);
    std::vector<std::uint8_t> generate(std::size_t count);
    // Mixes seed bytes into the state (QV_R_RandomUpdate).
    void addSeed(ByteView seed) noexcept;
    // Stirs clock bytes into the state (QV_R_RandomMix).
    void stir() noexcept;
    // Seed bytes still wanted before output is allowed.
    std::uint32_t bytesNeeded() const noexcept { return record_.bytesNeeded; }

    // The legacy record, for the C functions.
    R_RANDOM_STRUCT& record() noexcept { return record_; }

private:
    struct Unseeded {};
    explicit RandomPool(Unseeded) noexcept;
    R_RANDOM_STRUCT record_;
};

}  // namespace corvane::v1

#endif  // CORVANE_MODERN_RANDOM_HPP
