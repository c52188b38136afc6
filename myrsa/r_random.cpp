// Random pool: a 128-bit state that seed blocks are hashed into with MD5,
// and output blocks that are the MD5 of successive states.
#include <Corvane/r_random.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <ctime>

#include <Corvane/md5.h>
#include "engine/md5/md5_lanes.h"
#include "platform/entropy.h"
#include "platform/secure_zero.h"

#ifdef CORVANE_TEST_SEAMS
#include "myrsa/r_random_seams.h"
#endif

static_assert(sizeof(R_RANDOM_STRUCT) == 40, "R_RANDOM_STRUCT must stay 40 bytes");
static_assert(offsetof(R_RANDOM_STRUCT, bytesNeeded) == 0);
static_assert(offsetof(R_RANDOM_STRUCT, state) == 4);
static_assert(offsetof(R_RANDOM_STRUCT, outputAvailable) == 20);
static_assert(offsetof(R_RANDOM_STRUCT, output) == 24);

namespace {

constexpr std::uint32_t kInitSeedBytes = 256;
constexpr std::uint32_t kClockSeedBytes = 512;
// Bytes of the broken-down time record hashed per pass: the whole record of
// the 64-bit targets (nine int fields, alignment, UTC offset, zone pointer).
constexpr std::size_t kTimeRecordBytes = 56;
// Operating-system entropy mixed in after the clock passes.
constexpr std::size_t kEntropyBytes = 32;

// Written only by a negative seed; process-wide. Atomic (relaxed) so that two
// threads seeding at once never race on it; the values are those of a plain word.
std::atomic<std::int64_t> idums{0};

// The clock-word hash: four rounds of a mixing function on two 32-bit halves,
// the right half from the seed and the left from idums.
std::uint32_t subrand(std::int64_t seed) {
    static const std::uint32_t c1[4] = {0xbaa96887u, 0x1e17d32cu, 0x03dcbc3cu, 0xf033d1b2u};
    static const std::uint32_t c2[4] = {0x4bf03b58u, 0xe8740fc3u, 0x69aac5a6u, 0x55a7ca46u};

    if (seed < 0) {
        // Negated in unsigned arithmetic so that the most negative seed wraps
        // instead of overflowing; only the low 32 bits are ever used.
        idums.store(static_cast<std::int64_t>(0u - static_cast<std::uint64_t>(seed)),
                    std::memory_order_relaxed);
        seed = 1;
    }
    std::uint32_t right = static_cast<std::uint32_t>(static_cast<std::uint64_t>(seed));
    std::uint32_t left =
        static_cast<std::uint32_t>(static_cast<std::uint64_t>(idums.load(std::memory_order_relaxed)));

    for (int i = 0; i < 4; i++) {
        std::uint32_t saved = right;
        std::uint32_t a = right ^ c1[i];
        std::uint32_t low = a & 0xffffu;
        std::uint32_t high = a >> 16;
        std::uint32_t b = low * low + ~(high * high);
        b = (b >> 16) | (b << 16);
        right = left ^ ((b ^ c2[i]) + low * high);
        left = saved;
    }
    return right;
}

// Moves the state to the next one. Each byte is raised by one; the walk goes
// on to the next more significant byte only when the byte was zero before,
// so 05 00 becomes 06 01 and 05 ff becomes 05 00. Kept exactly so: existing
// pools depend on this sequence, which is not that of a carrying increment.
void stepState(unsigned char state[16]) {
    for (int i = 15; i >= 0; i--) {
        unsigned char before = state[i];
        state[i] = static_cast<unsigned char>(before + 1);
        if (before != 0) break;
    }
}

void digestOf(unsigned char digest[16], const unsigned char* data, std::uint32_t length) {
    MD5_CTX context;
    QvMD5Init(&context);
    QvMD5Update(&context, data, length);
    QvMD5Final(digest, &context);  // also wipes the context
}

// Values as their bytes, least significant first, whatever the host order.
void storeLittleEndian(unsigned char* out, std::uint64_t value, std::size_t length) {
    for (std::size_t i = 0; i < length; i++) out[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

extern "C" {

int32_t QV_R_RandomInit(R_RANDOM_STRUCT* random) {
    random->bytesNeeded = kInitSeedBytes;
    std::memset(random->state, 0, sizeof random->state);
    random->outputAvailable = 0;
    return 0;
}

int32_t QV_R_RandomUpdate(R_RANDOM_STRUCT* random, const unsigned char* block, uint32_t blockLen) {
    unsigned char digest[16];
    digestOf(digest, block, blockLen);

    // state += digest, both read as 128-bit big-endian numbers, mod 2^128.
    unsigned int carry = 0;
    for (int i = 15; i >= 0; i--) {
        unsigned int sum = random->state[i] + digest[i] + carry;
        random->state[i] = static_cast<unsigned char>(sum & 0xffu);
        carry = sum >> 8;
    }

    random->bytesNeeded = random->bytesNeeded < blockLen ? 0 : random->bytesNeeded - blockLen;

    corvane::secure_zero(digest, sizeof digest);
    return 0;
}

int32_t QV_R_GetRandomBytesNeeded(uint32_t* bytesNeeded, R_RANDOM_STRUCT* random) {
    *bytesNeeded = random->bytesNeeded;
    return 0;
}

int32_t QV_R_GenerateBytes(unsigned char* block, uint32_t blockLen, R_RANDOM_STRUCT* random) {
    if (random->bytesNeeded != 0) return QV_STATUS_NOT_SEEDED;

    // The unread bytes are always the last `available` of the block, so
    // output leaves every block in index order.
    std::uint32_t available = random->outputAvailable;
    // Empty copies are skipped: a zero-length request may pass no buffer.
    while (blockLen > available) {
        if (available != 0) std::memcpy(block, &random->output[16 - available], available);
        block += available;
        blockLen -= available;

        // The output blocks still wanted, hashed at once from as many
        // successive states: all but the last go straight to the caller, the
        // last becomes the pool's output block, as if made one at a time.
        using corvane::md5_lanes::kMaxMessages;
        const std::size_t count = std::min<std::size_t>((blockLen + 15) / 16, kMaxMessages);
        unsigned char states[kMaxMessages][16], digests[kMaxMessages][16];
        for (std::size_t i = 0; i < count; i++) {
            std::memcpy(states[i], random->state, sizeof random->state);
            stepState(random->state);
        }
        corvane::md5_lanes::digestsOf(states, count, digests);
        for (std::size_t i = 0; i + 1 < count; i++) {
            std::memcpy(block, digests[i], 16);
            block += 16;
            blockLen -= 16;
        }
        std::memcpy(random->output, digests[count - 1], 16);
        available = 16;
        corvane::secure_zero(states, count * sizeof states[0]);
        corvane::secure_zero(digests, count * sizeof digests[0]);
    }
    if (blockLen != 0) std::memcpy(block, &random->output[16 - available], blockLen);
    random->outputAvailable = available - blockLen;
    return 0;
}

void QV_R_RandomFinal(R_RANDOM_STRUCT* random) { corvane::secure_zero(random, sizeof *random); }

void QV_R_RandomCreate(R_RANDOM_STRUCT* random) {
    std::memset(random->state, 0, sizeof random->state);
    random->outputAvailable = 0;
    random->bytesNeeded = kClockSeedBytes;

    unsigned char seedWord[4];
    unsigned char timeRecord[kTimeRecordBytes];
    unsigned char clockWord[8];
    std::tm brokenDown;
    std::time_t t = 0;
    std::clock_t c = 0;
    std::uint32_t s = 0;

    // 68 bytes a pass, so eight passes.
    while (random->bytesNeeded != 0) {
        t = std::time(nullptr);
        // The reentrant call fills a record of our own: the system library's
        // shared record may be in use by other threads and callers. Cleared
        // first so that its padding bytes are defined.
        std::memset(&brokenDown, 0, sizeof brokenDown);
        gmtime_r(&t, &brokenDown);
        c = std::clock();
        s = subrand(static_cast<std::int64_t>(t));

        storeLittleEndian(seedWord, s, sizeof seedWord);
        QV_R_RandomUpdate(random, seedWord, sizeof seedWord);

        // Exactly 56 bytes of the record, zero-extended where it is smaller.
        std::memset(timeRecord, 0, sizeof timeRecord);
        std::memcpy(timeRecord, &brokenDown, std::min(sizeof brokenDown, sizeof timeRecord));
        QV_R_RandomUpdate(random, timeRecord, sizeof timeRecord);

        storeLittleEndian(clockWord, static_cast<std::uint64_t>(static_cast<std::int64_t>(c)),
                          sizeof clockWord);
        QV_R_RandomUpdate(random, clockWord, sizeof clockWord);
    }

    // The clock alone is guessable to within a small range; unpredictable
    // bytes from the operating system make the padding unrecomputable. The
    // entropy call cannot report failure through this interface; if it
    // fails, its bytes are not used and the pool stays clock-seeded.
    unsigned char entropy[kEntropyBytes];
    if (corvane::os_entropy(entropy, sizeof entropy)) QV_R_RandomUpdate(random, entropy, sizeof entropy);

    corvane::secure_zero(entropy, sizeof entropy);
    corvane::secure_zero(&brokenDown, sizeof brokenDown);
    corvane::secure_zero(timeRecord, sizeof timeRecord);
    corvane::secure_zero(seedWord, sizeof seedWord);
    corvane::secure_zero(clockWord, sizeof clockWord);
    corvane::secure_zero(&t, sizeof t);
    corvane::secure_zero(&c, sizeof c);
    corvane::secure_zero(&s, sizeof s);
}

void QV_R_RandomMix(R_RANDOM_STRUCT* random) {
    for (int i = 0; i < 16; i++) {
        random->state[i] ^= static_cast<unsigned char>(static_cast<std::uint64_t>(std::clock()) & 0xffu);
        random->state[15 - i] ^=
            static_cast<unsigned char>(static_cast<std::uint64_t>(std::time(nullptr)) & 0xffu);
    }
    digestOf(random->output, random->state, sizeof random->state);
    random->outputAvailable = 16;
}

}  // extern "C"

#ifdef CORVANE_TEST_SEAMS
namespace corvane::test_seams {

std::uint32_t subrand(std::int64_t seed) { return ::subrand(seed); }
std::int64_t subrand_idums() { return idums.load(std::memory_order_relaxed); }
void reset_subrand_idums() { idums.store(0, std::memory_order_relaxed); }

}  // namespace corvane::test_seams
#endif
