// Triple-DES (EDE, three 8-byte keys) whose cost grows with the number of
// blocks: one block per 64-bit lane of a vector (8 lanes on AVX-512, 4 on
// AVX2, 1 in a plain 64-bit word), a few vectors in flight. It serves short
// messages, where a bitsliced pass (des3_engine.h) would spend the time of
// hundreds of blocks on a few, CBC encryption (one chain, one block after
// the other), and batches of messages that each have their own key.
//
// Constant time, as the bitsliced engine: the S-boxes are looked up by
// instructions that read a whole table held in registers (vpermi2b,
// vpshufb) or by multiplexer trees of masks over all of it, never by a
// memory address; no branch and no address depends on the key or the data.
//
// The state of a half block is kept "expanded": byte j of its lane holds
// the six inputs of S-box j (des_short_layout.h), so a round is the key XOR,
// the S-box step and a few masked rotations that carry the S-box outputs to
// the next round's inputs. Results are those of the bitsliced engine and of
// OpenSSL, bit for bit, on every input (tests/engine/des3_engine_test.cpp).
//
// Internal to the library; CCCrypt, the modern layer's streams and batches
// are its clients.
#ifndef CORVANE_DES_SHORT_H
#define CORVANE_DES_SHORT_H

#include <cstddef>
#include <cstdint>

namespace corvane::des {

enum class Direction : unsigned char { decrypt, encrypt };

// The 48 round keys of one triple-DES key and direction, in the order the
// rounds use them (decryption: K3's in reverse, K2's, K1's in reverse;
// encryption: K1's, K2's in reverse, K3's), each spread over the eight bytes
// of a lane in the layout of one kernel. Secret: wipe it.
struct ShortSchedule {
    alignas(64) std::uint64_t rounds[48];
};

// One message of a batch, for ShortKernel::jobs: its blocks, in and out
// (which may be the same buffer), under its own schedule (of the job's
// direction, made by the same kernel). chain is the IV on entry; after an
// encryption it holds the last ciphertext block. Null in means ECB.
struct LaneJob {
    const ShortSchedule* schedule;
    const std::uint8_t* in;
    std::uint8_t* out;
    std::size_t blocks;
    std::uint8_t chain[8];
    bool ecb;
};

struct ShortKernel {
    // Builds the schedule of key (24 bytes, K1 || K2 || K3; parity bits
    // ignored) for this kernel.
    void (*schedule)(const std::uint8_t* key, Direction direction, ShortSchedule& out);
    // Decrypts blocks 8-byte blocks from in to out (the same buffer, or not
    // overlapping), in CBC after chain (8 bytes) or in ECB when chain is
    // null, under a decryption schedule. When last is not null the final
    // block goes there instead of into out.
    void (*decrypt)(const ShortSchedule& schedule, const std::uint8_t* chain, const std::uint8_t* in,
                    std::uint8_t* out, std::size_t blocks, std::uint8_t* last);
    // Encrypts likewise under an encryption schedule: in CBC, chain (8
    // bytes) is the IV on entry and the last ciphertext block on return; in
    // ECB (chain null) the blocks run side by side.
    void (*encrypt)(const ShortSchedule& schedule, std::uint8_t* chain, const std::uint8_t* in,
                    std::uint8_t* out, std::size_t blocks);
    // Runs every job (all of one direction) with one message per lane, the
    // lanes of several vectors side by side: CBC chains advance together.
    // The order and timing depend on the jobs' lengths alone.
    void (*jobs)(Direction direction, LaneJob* jobs, std::size_t count);
    // Zeroes every vector register this instruction set has (null for the
    // portable kernel): see des_clear_vector_registers.
    void (*clearRegisters)();
};

// The kernels, one per instruction set, each in its own file. A kernel's
// functions are null where the build has no such kernel.
extern const ShortKernel kShortPortable;  // plain 64-bit words, any CPU
extern const ShortKernel kShortAvx2;      // AVX2: 4 blocks a vector (vpshufb)
extern const ShortKernel kShortAvx512;    // AVX-512 BW + VBMI: 8 a vector (vpermi2b)

}  // namespace corvane::des

#endif  // CORVANE_DES_SHORT_H
