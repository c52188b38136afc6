// Triple-DES decryption: the reference key schedule, the choice of kernel
// and engine, and the loop of passes over a message. The bitsliced kernels
// are in des_kernel_*.cpp, the short-message kernels in des_short_*.cpp.
#include "engine/des/des3_engine.h"

#include <cstring>

#include "engine/cpu/cpu.h"
#include "engine/des/des_tables.h"
#include "engine/ct/vector_registers.h"
#include "platform/secure_zero.h"

namespace corvane::des {

namespace {

// Round key r of one 8-byte key as masks: every bit is read at a position
// fixed at compile time and widened to a word of all ones or all zeros, so
// no branch and no address depends on the key.
void roundKeyMasks(const std::uint8_t* key, unsigned r, std::uint64_t (&masks)[48]) {
    for (unsigned j = 0; j < 48; ++j) {
        const unsigned n = kRoundKeyBits[r][j] - 1u;
        const std::uint64_t bit = (key[n / 8] >> (7 - n % 8)) & 1u;
        masks[j] = std::uint64_t{0} - bit;
    }
}


}  // namespace

void make_des3_decrypt_schedule(const std::uint8_t* key, Des3DecryptSchedule& schedule) noexcept {
    for (unsigned r = 0; r < 16; ++r) {
        roundKeyMasks(key + 16, 15 - r, schedule.masks[r]);  // D under K3
        roundKeyMasks(key + 8, r, schedule.masks[16 + r]);   // E under K2
        roundKeyMasks(key, 15 - r, schedule.masks[32 + r]);  // D under K1
    }
}

std::string_view des_path_name(DesPath path) noexcept {
    switch (path) {
        case DesPath::avx512: return "avx512";
        case DesPath::avx2: return "avx2";
        case DesPath::portable: break;
    }
    return "portable";
}

std::size_t des_path_width(DesPath path) noexcept {
    switch (path) {
        case DesPath::avx512: return 512;
        case DesPath::avx2: return 256;
        case DesPath::portable: break;
    }
    return 64;
}

const DesKernel& des_path_kernel(DesPath path) noexcept {
    switch (path) {
        case DesPath::avx512: return kKernelAvx512;
        case DesPath::avx2: return kKernelAvx2;
        case DesPath::portable: break;
    }
    return kKernelPortable;
}

bool des_path_available(DesPath path) noexcept {
    const CpuFeatures& f = cpu_features();
    switch (path) {
        case DesPath::portable: return true;
        case DesPath::avx2: return f.avx2 && kKernelAvx2.pass != nullptr;
        case DesPath::avx512: return f.avx512f && kKernelAvx512.pass != nullptr;
    }
    return false;
}

DesPath des_default_path() noexcept {
    static const DesPath path = des_path_available(DesPath::avx512) ? DesPath::avx512
                                : des_path_available(DesPath::avx2) ? DesPath::avx2
                                                                    : DesPath::portable;
    return path;
}

const ShortKernel& des_short_kernel(DesPath path) noexcept {
    const CpuFeatures& f = cpu_features();
    if (path == DesPath::avx512 && f.avx512bw && f.avx512vl && f.avx512vbmi && kShortAvx512.decrypt != nullptr)
        return kShortAvx512;
    if (path != DesPath::portable && kShortAvx2.decrypt != nullptr) return kShortAvx2;
    return kShortPortable;
}

std::size_t des_short_limit(DesPath path) noexcept {
    // Blocks at which a bitsliced pass (its masks included) costs what the
    // short kernel spends on that many, measured with bench/des3_bench
    // (decrypt-short, decrypt-bitsliced) on an AMD EPYC (Zen 5): AVX-512
    // about 230, AVX2 about 32, portable about 16. A path whose short kernel
    // is a narrower one's takes that one's.
    const ShortKernel& kernel = des_short_kernel(path);
    if (&kernel == &kShortAvx512) return 224;
    if (&kernel == &kShortAvx2) return 32;
    return 16;
}

void des_clear_vector_registers() noexcept {
    // The hardware's features, not the capped ones: the registers exist
    // whatever path runs.
    static void (*const clear)() = [] {
        const CpuFeatures hardware = detect_cpu_features();
        if (hardware.avx512f && kShortAvx512.clearRegisters != nullptr) return kShortAvx512.clearRegisters;
        if (hardware.avx2 && kShortAvx2.clearRegisters != nullptr) return kShortAvx2.clearRegisters;
        return static_cast<void (*)()>(nullptr);
    }();
    if (clear != nullptr) clear();
}

// ---- stack scrubbing -------------------------------------------------------------

// Measured below the entry points (Des3Decryption's decrypt and
// decryptAfter, the batch calls) in an optimised build: about 7 KiB for a
// short message (the portable schedule's unrolled gathers the deepest),
// 22 KiB for bitsliced passes (the AVX-512 pass keeps 8 KiB of words),
// 15 KiB for the AVX-512 jobs. Unoptimised builds keep every temporary
// apart and go deeper.
#if defined(__OPTIMIZE__)
constexpr std::size_t kShortScrubBytes = 12 * 1024;
constexpr std::size_t kBitslicedScrubBytes = 32 * 1024;
constexpr std::size_t kBatchScrubBytes = 24 * 1024;
#else
constexpr std::size_t kShortScrubBytes = 48 * 1024;
constexpr std::size_t kBitslicedScrubBytes = 96 * 1024;
constexpr std::size_t kBatchScrubBytes = 64 * 1024;
#endif

namespace {

// secure_zero is a wipe the optimiser may not drop, though the array dies
// at once. The kernels' last blocks are still in the vector registers.
template <std::size_t Bytes>
[[gnu::noinline]] void scrub() noexcept {
    unsigned char area[Bytes];
    secure_zero(area, sizeof area);
    corvane::engine::clearVectorRegisters();
}

}  // namespace

void scrub_short_stack() noexcept { scrub<kShortScrubBytes>(); }
void scrub_batch_stack() noexcept { scrub<kBatchScrubBytes>(); }

// ---- decryption ----------------------------------------------------------------

Des3Decryption::Des3Decryption(DesPath path, const std::uint8_t* key, DesMethod method) noexcept
    : path_(path), method_(method) {
    std::memcpy(key_, key, sizeof key_);
}

Des3Decryption::~Des3Decryption() {
    secure_zero(key_, sizeof key_);
    if (haveShort_) secure_zero_object(short_);
    if (haveBitsliced_) secure_zero_object(bitsliced_);
}

bool Des3Decryption::useShort(std::size_t blocks) const noexcept {
    switch (method_) {
        case DesMethod::shortKernel: return true;
        case DesMethod::bitsliced: return false;
        case DesMethod::byLength: break;
    }
    return blocks < des_short_limit(path_);
}

const ShortSchedule& Des3Decryption::shortSchedule() noexcept {
    if (!haveShort_) {
        des_short_kernel(path_).schedule(key_, Direction::decrypt, short_);
        haveShort_ = true;
    }
    return short_;
}

const Des3DecryptSchedule& Des3Decryption::bitslicedSchedule() noexcept {
    if (!haveBitsliced_) {
        // The masks are the same for every kernel; the AVX2 file's builder
        // is the fastest (about 0.25 us here; the AVX-512 file's build of the
        // same code takes 1.7 us), and the AVX-512 path implies AVX2.
        const ScheduleMaker make = path_ != DesPath::portable && kKernelAvx2.schedule != nullptr
                                       ? kKernelAvx2.schedule
                                       : des_path_kernel(path_).schedule;
        make(key_, bitsliced_);
        haveBitsliced_ = true;
    }
    return bitsliced_;
}

// The message is head (when not null) followed by the blocks of in, blocks
// in all, on the short kernel.
[[gnu::noinline]] void Des3Decryption::runShort(const std::uint8_t* iv, const std::uint8_t* head,
                                               const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                               std::uint8_t* last) noexcept {
    const ShortKernel& kernel = des_short_kernel(path_);
    const ShortSchedule& schedule = shortSchedule();
    if (head == nullptr) {
        kernel.decrypt(schedule, iv, in, out, blocks, last);
        return;
    }
    // The head and the piece after it as one message (ciphertext only, so
    // the staging needs no wipe); longer ones, which only a forced method
    // sends here, in two calls.
    std::uint8_t staged[8 * 256];
    if (blocks <= 256) {
        std::memcpy(staged, head, 8);
        if (blocks > 1) std::memcpy(staged + 8, in, 8 * (blocks - 1));
        kernel.decrypt(schedule, iv, staged, out, blocks, last);
    } else {
        kernel.decrypt(schedule, iv, head, out, 1, nullptr);
        kernel.decrypt(schedule, iv != nullptr ? head : nullptr, in, out + 8, blocks - 1, last);
    }
}

// Full bitsliced passes while a pass's width remains; what is left after
// them goes to the short kernel when it is short, else to one zero-padded
// pass.
[[gnu::noinline]] void Des3Decryption::runBitsliced(const std::uint8_t* iv, const std::uint8_t* head,
                                                   const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                                                   std::uint8_t* last) noexcept {
    const std::size_t width = des_path_width(path_);
    const Des3DecryptSchedule& schedule = bitslicedSchedule();
    // The ciphertext block before the next pass, kept aside because an
    // in-place pass overwrites it.
    std::uint8_t chain[8] = {};
    if (iv != nullptr) std::memcpy(chain, iv, 8);
    const DecryptPass pass = des_path_kernel(path_).pass;
    // Ciphertext: not secret, so the staging area needs no wipe.
    std::uint8_t staged[512 * 8];
    const std::size_t skew = head != nullptr ? 1 : 0;  // blocks of the message before in[0]
    std::size_t done = 0;
    while (done < blocks) {
        const std::size_t left = blocks - done;
        if (done > 0 && left < width && method_ == DesMethod::byLength && left < des_short_limit(path_)) {
            // A short remainder: the short kernel spends less on it than a
            // padded pass would.
            des_short_kernel(path_).decrypt(shortSchedule(), iv != nullptr ? chain : nullptr,
                                            in + (done - skew) * 8, out + done * 8, left, last);
            return;
        }
        const std::size_t n = left < width ? left : width;
        const std::uint8_t* src = nullptr;
        if (done == 0 && head != nullptr) {
            // The first pass gathers the head and the blocks after it.
            std::memcpy(staged, head, 8);
            if (n > 1) std::memcpy(staged + 8, in, (n - 1) * 8);
            src = staged;
        } else {
            src = in + (done - skew) * 8;
        }
        std::uint8_t* dst = out + done * 8;
        std::uint8_t nextChain[8];
        std::memcpy(nextChain, src + (n - 1) * 8, 8);
        if (last != nullptr && done + n == blocks) {
            // The final pass goes through a buffer so that its last block
            // can be delivered apart.
            std::uint8_t buffer[512 * 8];
            pass(schedule, iv != nullptr ? chain : nullptr, src, buffer, n);
            std::memcpy(dst, buffer, (n - 1) * 8);
            std::memcpy(last, buffer + (n - 1) * 8, 8);
            secure_zero(buffer, n * 8);
        } else {
            pass(schedule, iv != nullptr ? chain : nullptr, src, dst, n);
        }
        std::memcpy(chain, nextChain, 8);
        done += n;
    }
}

// Either engine, then the stack below scrubbed: everything the call did
// (schedules built, kernels, the C library's first-call binding saving
// registers) happened below this frame; then the vector registers cleared,
// which the C library's copies of the output filled again.
void Des3Decryption::run(const std::uint8_t* iv, const std::uint8_t* head, const std::uint8_t* in,
                         std::uint8_t* out, std::size_t blocks, std::uint8_t* last) noexcept {
    if (blocks == 0) return;
    if (useShort(blocks)) {
        runShort(iv, head, in, out, blocks, last);
        scrub_short_stack();
    } else {
        runBitsliced(iv, head, in, out, blocks, last);
        scrub<kBitslicedScrubBytes>();
    }
    des_clear_vector_registers();
}

void Des3Decryption::decrypt(const std::uint8_t* iv, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                             std::uint8_t* last) noexcept {
    run(iv, nullptr, in, out, blocks, last);
}

void Des3Decryption::decryptAfter(const std::uint8_t* iv, const std::uint8_t* head, const std::uint8_t* in,
                                  std::uint8_t* out, std::size_t blocks) noexcept {
    run(iv, head, in, out, blocks, nullptr);
}

void des3_decrypt(DesPath path, const std::uint8_t* key, const std::uint8_t* iv,
                  const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                  std::uint8_t* last, DesMethod method) noexcept {
    Des3Decryption decryption(path, key, method);
    decryption.decrypt(iv, in, out, blocks, last);
}

void des3_decrypt_after(DesPath path, const std::uint8_t* key, const std::uint8_t* iv,
                        const std::uint8_t* head, const std::uint8_t* in, std::uint8_t* out,
                        std::size_t blocks, DesMethod method) noexcept {
    Des3Decryption decryption(path, key, method);
    decryption.decryptAfter(iv, head, in, out, blocks);
}

}  // namespace corvane::des
