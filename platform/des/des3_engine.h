// Triple-DES (EDE, three 8-byte keys) decryption of many blocks at once,
// bitsliced: the bits of 64, 256 or 512 blocks are spread over as many words
// so that each S-box is a Boolean circuit run on whole words. There is no
// table lookup and no branch or memory address that depends on the key or
// the data: the time a call takes depends on the number of blocks alone.
//
// CBC decryption needs no chaining between blocks (P_i = D(C_i) xor C_i-1),
// so every block of a message can be decrypted at once; encryption chains
// and is left to the platform cipher.
//
// Internal to the library; CCCrypt is its client.
#ifndef CORVANE_DES3_ENGINE_H
#define CORVANE_DES3_ENGINE_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace corvane::des {

// Round keys of the 48 rounds of a decryption, D_K1(E_K2(D_K3(x))): K3's in
// reverse order, K2's in order, K1's in reverse. Each round-key bit is a word
// of all ones or all zeros, ready to be combined with a whole bitsliced word.
struct Des3DecryptSchedule {
    std::uint64_t masks[48][48];
};

// key: K1 || K2 || K3, 24 bytes; parity bits are ignored (the standard
// leaves them out of every round key). The schedule is secret: wipe it.
void make_des3_decrypt_schedule(const std::uint8_t* key, Des3DecryptSchedule& schedule) noexcept;

// One pass of a kernel: decrypts blocks (1 to the kernel's width) from in to
// out, which may be the same buffer (in place) but must not overlap it
// otherwise. chain: the 8 bytes that precede in[0] in CBC (the IV or the
// previous ciphertext block), or null for ECB.
using DecryptPass = void (*)(const Des3DecryptSchedule& schedule, const std::uint8_t* chain,
                             const std::uint8_t* in, std::uint8_t* out, std::size_t blocks);

// A kernel's S-box circuits alone (for tests): box 0..7, input bit k as the
// 64-bit word x[k] in every lane; y receives the four output words, each
// lanes * 8 bytes (lanes = width / 64), lanes little-endian.
using SboxEval = void (*)(int box, const std::uint64_t (&x)[6], std::uint8_t* y);

struct DesKernel {
    DecryptPass pass;
    SboxEval sboxes;
};

// The kernels, one per instruction set, each in its own file. Null where the
// build has no such kernel (not x86-64, or a compiler without the target).
extern const DesKernel kKernelPortable;  // 64 blocks a pass, any CPU
extern const DesKernel kKernelAvx2;      // 256 blocks a pass
extern const DesKernel kKernelAvx512;    // 512 blocks a pass, AVX-512F

enum class DesPath { portable, avx2, avx512 };
std::string_view des_path_name(DesPath path) noexcept;
std::size_t des_path_width(DesPath path) noexcept;  // blocks per pass
const DesKernel& des_path_kernel(DesPath path) noexcept;

// Whether the kernel of a path is built and cpu_features() allows it
// (CORVANE_CPU=portable or avx2 caps it). The portable path always is.
bool des_path_available(DesPath path) noexcept;

// The widest available path: what CCCrypt uses.
DesPath des_default_path() noexcept;

// Decrypts blocks 8-byte blocks of in into out (in place allowed) under key
// (24 bytes), in CBC after iv (8 bytes) or in ECB when iv is null: full
// passes of path's kernel, then one zero-padded pass for the rest, so the
// time depends on the number of blocks alone. When last is not null the
// final block goes there instead of into out (CCCrypt checks the padding
// there before any of it reaches the caller). path must be available.
// Schedule and intermediates are wiped before return.
void des3_decrypt(DesPath path, const std::uint8_t* key, const std::uint8_t* iv,
                  const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                  std::uint8_t* last) noexcept;

// The same in CBC for a message whose first block, head (8 bytes), is apart
// from the other blocks - 1 blocks at in (a stream's held-back block and the
// next piece): one key schedule and no pass spent on the head alone. out
// receives all blocks and must not overlap in or head.
void des3_decrypt_after(DesPath path, const std::uint8_t* key, const std::uint8_t* iv,
                        const std::uint8_t* head, const std::uint8_t* in, std::uint8_t* out,
                        std::size_t blocks) noexcept;

}  // namespace corvane::des

#endif  // CORVANE_DES3_ENGINE_H
