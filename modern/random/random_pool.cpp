#include <Corvane/modern/random.hpp>
#include <cstring>
#include <limits>

#include "modern/support/failures.h"

namespace corvane::v1 {

namespace {

constexpr std::size_t kPiece = std::numeric_limits<std::uint32_t>::max();

// Wipes the record and leaves it unseeded, so that it gives no output until
// seeded again: a finalised record alone would serve bytes from a zero state.
void makeUnseeded(R_RANDOM_STRUCT& record) noexcept {
    QV_R_RandomFinal(&record);
    QV_R_RandomInit(&record);
}

}  // namespace

RandomPool::RandomPool() noexcept {
    std::memset(&record_, 0, sizeof record_);  // the output block too, which seeding leaves as it was
    QV_R_RandomCreate(&record_);
}

RandomPool::RandomPool(Unseeded) noexcept {
    std::memset(&record_, 0, sizeof record_);
    QV_R_RandomInit(&record_);
}

RandomPool RandomPool::fromSeed(ByteView seed) noexcept {
    RandomPool pool{Unseeded{}};
    pool.addSeed(seed);
    return pool;
}

RandomPool::RandomPool(RandomPool&& other) noexcept : record_(other.record_) { makeUnseeded(other.record_); }

RandomPool& RandomPool::operator=(RandomPool&& other) noexcept {
    if (this != &other) {
        QV_R_RandomFinal(&record_);
        record_ = other.record_;
        makeUnseeded(other.record_);
    }
    return *this;
}

RandomPool::~RandomPool() { QV_R_RandomFinal(&record_); }

void RandomPool::generate(std::span<std::uint8_t> out) {
    if (record_.bytesNeeded != 0) corvane::detail::throwError(ErrorCode::notSeeded);
    while (!out.empty()) {
        std::size_t n = out.size() < kPiece ? out.size() : kPiece;
        if (std::int32_t status = QV_R_GenerateBytes(out.data(), static_cast<std::uint32_t>(n), &record_))
            corvane::detail::throwError(static_cast<ErrorCode>(status));
        out = out.subspan(n);
    }
}

std::vector<std::uint8_t> RandomPool::generate(std::size_t count) {
    std::vector<std::uint8_t> bytes(count);
    generate(std::span(bytes));
    return bytes;
}

void RandomPool::addSeed(ByteView seed) noexcept {
    const std::uint8_t* data = corvane::detail::bytesOrEmpty(seed);
    std::size_t left = seed.size();
    do {
        std::size_t n = left < kPiece ? left : kPiece;
        QV_R_RandomUpdate(&record_, data, static_cast<std::uint32_t>(n));
        data += n;
        left -= n;
    } while (left != 0);
}

void RandomPool::stir() noexcept { QV_R_RandomMix(&record_); }

}  // namespace corvane::v1
