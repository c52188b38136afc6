// Triple-DES (EDE, three 8-byte keys) decryption of many blocks at once,
// bitsliced: the bits of 64, 256 or 512 blocks are spread over as many words
// so that each S-box is a Boolean circuit run on whole words. There is no
// table lookup and no branch or memory address that depends on the key or
// the data: the time a call takes depends on the number of blocks alone.
//
// CBC decryption needs no chaining between blocks (P_i = D(C_i) xor C_i-1),
// so every block of a message can be decrypted at once. A bitsliced pass
// costs as much for one block as for its whole width, so messages shorter
// than a path's short limit go to the short-message kernel of des_short.h
// instead, whose cost grows with the number of blocks; Des3Decryption picks
// between the two by length, the one place where that choice is made.
//
// Internal to the library; CCCrypt and the modern layer's streams are its
// clients.
#ifndef CORVANE_DES3_ENGINE_H
#define CORVANE_DES3_ENGINE_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/des/des_short.h"

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

// Builds the masks from the key's bits (the same as
// make_des3_decrypt_schedule, which stays as the reference).
using ScheduleMaker = void (*)(const std::uint8_t* key, Des3DecryptSchedule& schedule);

struct DesKernel {
    DecryptPass pass;
    SboxEval sboxes;
    ScheduleMaker schedule;
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

// The short-message kernel of a path: the AVX-512 one needs BW and VBMI
// besides (without them the AVX-512 path uses the AVX2 one).
const ShortKernel& des_short_kernel(DesPath path) noexcept;

// Messages of fewer blocks than this decrypt on the path's short kernel,
// longer ones in bitsliced passes (and a remainder of fewer blocks than this
// after the full passes on the short kernel again): where the two cost the
// same, measured on each path (bench/des3_bench).
std::size_t des_short_limit(DesPath path) noexcept;

// Which engine decrypts: by length as above, or one of them whatever the
// length (for tests and benchmarks).
enum class DesMethod { byLength, shortKernel, bitsliced };

// The decryption schedules of one key on one path, each built the first
// time a message needs it and kept for the next (a stream's pieces), wiped
// when the object goes. Not copyable; one thread at a time.
class Des3Decryption {
public:
    Des3Decryption(DesPath path, const std::uint8_t* key, DesMethod method = DesMethod::byLength) noexcept;
    ~Des3Decryption();
    Des3Decryption(const Des3Decryption&) = delete;
    Des3Decryption& operator=(const Des3Decryption&) = delete;

    // Decrypts blocks 8-byte blocks of in into out (in place allowed), in
    // CBC after iv (8 bytes) or in ECB when iv is null. When last is not
    // null the final block goes there instead of into out (CCCrypt checks
    // the padding there before any of it reaches the caller).
    void decrypt(const std::uint8_t* iv, const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                 std::uint8_t* last) noexcept;

    // The same in CBC for a message whose first block, head (8 bytes), is
    // apart from the other blocks - 1 blocks at in (a stream's held-back
    // block and the next piece). out receives all blocks and must not
    // overlap in or head.
    void decryptAfter(const std::uint8_t* iv, const std::uint8_t* head, const std::uint8_t* in,
                      std::uint8_t* out, std::size_t blocks) noexcept;

private:
    bool useShort(std::size_t blocks) const noexcept;
    const ShortSchedule& shortSchedule() noexcept;
    const Des3DecryptSchedule& bitslicedSchedule() noexcept;
    void run(const std::uint8_t* iv, const std::uint8_t* head, const std::uint8_t* in, std::uint8_t* out,
             std::size_t blocks, std::uint8_t* last) noexcept;
    void runShort(const std::uint8_t* iv, const std::uint8_t* head, const std::uint8_t* in, std::uint8_t* out,
                  std::size_t blocks, std::uint8_t* last) noexcept;
    void runBitsliced(const std::uint8_t* iv, const std::uint8_t* head, const std::uint8_t* in, std::uint8_t* out,
                      std::size_t blocks, std::uint8_t* last) noexcept;

    DesPath path_;
    DesMethod method_;
    bool haveShort_ = false;
    bool haveBitsliced_ = false;
    std::uint8_t key_[24];
    ShortSchedule short_;
    Des3DecryptSchedule bitsliced_;
};

// Zero the stack below the caller after a schedule or a kernel has run
// there: what the compiler spilled outside the buffers the code wipes (key
// words, vectors of plaintext), and what the C library's lazy binding of a
// function called for the first time saved of the registers, lies within
// these depths, measured on every path with room to spare. Call right after
// the operation returns; never inlined, so its frame starts where the
// operation's did. Des3Decryption does this itself.
void scrub_short_stack() noexcept;  // a schedule and a short kernel's decrypt or encrypt
void scrub_batch_stack() noexcept;  // ShortKernel::jobs, with its lanes' state

// Zeroes every vector register the CPU has (whatever CORVANE_CPU allows):
// the C library's own copies use them too (memcpy moves plaintext through
// the AVX-512 registers on a CPU that has them, even when this library runs
// its AVX2 path), and its lazy binding of a function called for the first
// time saves them all to the stack. Entry points that handled plaintext
// call it before they return; Des3Decryption does.
void des_clear_vector_registers() noexcept;

// One message on one path (a Des3Decryption that lives for the call).
void des3_decrypt(DesPath path, const std::uint8_t* key, const std::uint8_t* iv,
                  const std::uint8_t* in, std::uint8_t* out, std::size_t blocks,
                  std::uint8_t* last, DesMethod method = DesMethod::byLength) noexcept;

void des3_decrypt_after(DesPath path, const std::uint8_t* key, const std::uint8_t* iv,
                        const std::uint8_t* head, const std::uint8_t* in, std::uint8_t* out,
                        std::size_t blocks, DesMethod method = DesMethod::byLength) noexcept;

}  // namespace corvane::des

#endif  // CORVANE_DES3_ENGINE_H
