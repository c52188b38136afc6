// Triple-DES decryption: the key schedule, the choice of kernel and the loop
// of passes over a message. The kernels are in des_kernel_*.cpp.
#include "des3_engine.h"

#include <cstring>

#include "cpu.h"
#include "des_tables.h"
#include "secure_zero.h"

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

namespace {

// The loop of passes behind both entry points: the message is head (when not
// null) followed by the blocks of in, blocks in all.
void decryptMessage(DesPath path, const std::uint8_t* key, const std::uint8_t* iv, const std::uint8_t* head,
                    const std::uint8_t* in, std::uint8_t* out, std::size_t blocks, std::uint8_t* last) noexcept {
    if (blocks == 0) return;
    Des3DecryptSchedule schedule;
    make_des3_decrypt_schedule(key, schedule);
    // The ciphertext block before the next pass, kept aside because an
    // in-place pass overwrites it.
    std::uint8_t chain[8] = {};
    if (iv != nullptr) std::memcpy(chain, iv, 8);
    const std::size_t width = des_path_width(path);
    const DecryptPass pass = des_path_kernel(path).pass;
    // Ciphertext: not secret, so the staging area needs no wipe.
    std::uint8_t staged[512 * 8];
    const std::size_t skew = head != nullptr ? 1 : 0;  // blocks of the message before in[0]
    std::size_t done = 0;
    while (done < blocks) {
        // Full passes, then one zero-padded pass of the same kernel for the
        // rest: on the machine measured (AVX-512 at full width) a wide pass
        // costs less than a narrower kernel's pass over fewer blocks
        // (AVX-512 does 512 blocks in less time than AVX2 does 256, AVX2 256
        // in the time portable code does 64), so a short message gains
        // nothing from a narrower kernel.
        const std::size_t left = blocks - done;
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
    secure_zero_object(schedule);
}

}  // namespace

void des3_decrypt(DesPath path, const std::uint8_t* key, const std::uint8_t* iv,
                  const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                  std::uint8_t* last) noexcept {
    decryptMessage(path, key, iv, nullptr, in, out, blocks, last);
}

void des3_decrypt_after(DesPath path, const std::uint8_t* key, const std::uint8_t* iv,
                        const std::uint8_t* head, const std::uint8_t* in, std::uint8_t* out,
                        std::size_t blocks) noexcept {
    decryptMessage(path, key, iv, head, in, out, blocks, nullptr);
}

}  // namespace corvane::des
