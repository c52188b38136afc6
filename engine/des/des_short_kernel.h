// The short-message triple-DES kernel, written once over a vector type and
// instantiated by each kernel file (des_short_*.cpp) for its own
// instruction set, like the bitsliced engine (des_bitslice.h): everything
// here lives in an unnamed namespace so that each file gets its own copy,
// compiled for its own target.
//
// Ops supplies the vector: V, kLanes (blocks a V holds, one per 64-bit
// lane), kGroup (Vs kept in flight, so that the rounds of independent
// blocks overlap), load/store of kLanes blocks, loadOne/storeOne of a block
// in lane 0, broadcast and loadWords for round keys, round(l, r, k) =
// l ^ f(r, k) on expanded halves, and permute<Net>(s0, s1), the gather of
// one of its three networks kToLeft, kToRight (initial permutation and
// expansion into each half) and kToBlock (the inverse, then the final
// permutation), which toHalves and fromHalves below run.
#ifndef CORVANE_DES_SHORT_KERNEL_H
#define CORVANE_DES_SHORT_KERNEL_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "engine/des/des_registers.h"
#include "engine/des/des_short.h"
#include "platform/secure_zero.h"

namespace corvane::des {
namespace {

// Lane-wise shifts and rotations of the 64-bit lanes of a vector kernel's
// registers, through Lanes, the GCC vector type of their size (the
// registers' own types carry an attribute that a template argument drops).
template <class Lanes>
struct LaneShifts {
    using U = Lanes;

    template <unsigned R, class V>
    static V rotate(V v) {
        const U u = reinterpret_cast<U>(v);
        return reinterpret_cast<V>((u << R) | (u >> (64 - R)));
    }
    template <int Shift, class V>
    static V shift(V v) {
        const U u = reinterpret_cast<U>(v);
        if constexpr (Shift > 0) return reinterpret_cast<V>(u << Shift);
        if constexpr (Shift < 0) return reinterpret_cast<V>(u >> -Shift);
        return v;
    }
};

template <class Ops>
struct ShortDes3 {
    using V = typename Ops::V;
    static constexpr std::size_t kLanes = Ops::kLanes;
    static constexpr std::size_t kBytes = 8 * kLanes;
    static constexpr std::size_t kGroup = Ops::kGroup;

    // Blocks into their two expanded halves, and the halves back into blocks.
    static void toHalves(V blocks, V& l, V& r) {
        l = Ops::template permute<Ops::kToLeft>(blocks, blocks);
        r = Ops::template permute<Ops::kToRight>(blocks, blocks);
    }
    static V fromHalves(V first, V second) { return Ops::template permute<Ops::kToBlock>(first, second); }

    // The 48 rounds on G vectors. After each DES of the three the halves
    // trade places (the final permutation of one and the initial permutation
    // of the next cancel, the swap remains), so the half updated first
    // alternates: left, right, left. key(round, g) is the round key of
    // vector g.
    template <std::size_t G, class Key>
    static void rounds(V (&l)[G], V (&r)[G], const Key& key) {
        for (unsigned k = 0; k < 16; k += 2) {
            for (std::size_t g = 0; g < G; ++g) l[g] = Ops::round(l[g], r[g], key(k, g));
            for (std::size_t g = 0; g < G; ++g) r[g] = Ops::round(r[g], l[g], key(k + 1, g));
        }
        for (unsigned k = 16; k < 32; k += 2) {
            for (std::size_t g = 0; g < G; ++g) r[g] = Ops::round(r[g], l[g], key(k, g));
            for (std::size_t g = 0; g < G; ++g) l[g] = Ops::round(l[g], r[g], key(k + 1, g));
        }
        for (unsigned k = 32; k < 48; k += 2) {
            for (std::size_t g = 0; g < G; ++g) l[g] = Ops::round(l[g], r[g], key(k, g));
            for (std::size_t g = 0; g < G; ++g) r[g] = Ops::round(r[g], l[g], key(k + 1, g));
        }
    }

    // A round of the single chain of CBC encryption, where only lane 0
    // matters and latency is everything: the kernel's own form of the round
    // for that, where it has one.
    static V chainRound(V l, V r, V k) {
        if constexpr (requires(V v) { Ops::chainRound(v, v, v); })
            return Ops::chainRound(l, r, k);
        else
            return Ops::round(l, r, k);
    }
    static void chainRounds(V& l, V& r, const ShortSchedule& ks) {
        for (unsigned k = 0; k < 16; k += 2) {
            l = chainRound(l, r, Ops::broadcast(ks.rounds[k]));
            r = chainRound(r, l, Ops::broadcast(ks.rounds[k + 1]));
        }
        for (unsigned k = 16; k < 32; k += 2) {
            r = chainRound(r, l, Ops::broadcast(ks.rounds[k]));
            l = chainRound(l, r, Ops::broadcast(ks.rounds[k + 1]));
        }
        for (unsigned k = 32; k < 48; k += 2) {
            l = chainRound(l, r, Ops::broadcast(ks.rounds[k]));
            r = chainRound(r, l, Ops::broadcast(ks.rounds[k + 1]));
        }
    }

    // The kLanes blocks of vector g of a step of count blocks at in, zero
    // blocks after the last.
    static V loadBlocks(const std::uint8_t* in, std::size_t count, std::size_t g) {
        const std::size_t start = g * kLanes;
        if (count - start >= kLanes) return Ops::load(in + 8 * start);
        alignas(64) std::uint8_t buffer[kBytes] = {};
        std::memcpy(buffer, in + 8 * start, 8 * (count - start));
        const V v = Ops::load(buffer);
        secure_zero(buffer, sizeof buffer);  // plaintext when encrypting
        return v;
    }

    // Vector g's blocks of the step to out, those past count dropped; with
    // last, the step's final block goes there instead.
    static void storeBlocks(std::uint8_t* out, std::size_t count, std::size_t g, V v, std::uint8_t* last) {
        const std::size_t start = g * kLanes;
        const std::size_t n = std::min(kLanes, count - start);
        const bool final = last != nullptr && start + n == count;
        if (n == kLanes && !final) {
            Ops::store(out + 8 * start, v);
            return;
        }
        alignas(64) std::uint8_t buffer[kBytes];
        Ops::store(buffer, v);
        std::memcpy(out + 8 * start, buffer, 8 * (final ? n - 1 : n));
        if (final) std::memcpy(last, buffer + 8 * (n - 1), 8);
        secure_zero(buffer, sizeof buffer);
    }

    // The ciphertext block before each block of vector g: carry before the
    // step's first block, then the step's own blocks.
    static V previousBlocks(const std::uint8_t* carry, const std::uint8_t* in, std::size_t count, std::size_t g) {
        const std::size_t start = g * kLanes;
        const std::size_t n = std::min(kLanes, count - start);
        if (start > 0 && n == kLanes) return Ops::load(in + 8 * start - 8);
        alignas(64) std::uint8_t buffer[kBytes] = {};
        if (start == 0) {
            std::memcpy(buffer, carry, 8);
            std::memcpy(buffer + 8, in, 8 * (n - 1));
        } else {
            std::memcpy(buffer, in + 8 * start - 8, 8 * n);
        }
        return Ops::load(buffer);  // ciphertext: nothing to wipe
    }

    // count blocks (at most G vectors' worth) side by side under one key;
    // with carry (the ciphertext block before in[0]), CBC decryption, and
    // carry becomes the step's last ciphertext block. Every load comes
    // before the first store, so in and out may be the same buffer. With
    // last, the final block goes there.
    template <std::size_t G, class Key>
    static void step(const Key& key, std::uint8_t* carry, const std::uint8_t* in, std::uint8_t* out,
                     std::size_t count, std::uint8_t* last) {
        V l[G], r[G], prev[G] = {};
        for (std::size_t g = 0; g < G; ++g) toHalves(loadBlocks(in, count, g), l[g], r[g]);
        if (carry != nullptr) {
            for (std::size_t g = 0; g < G; ++g) prev[g] = previousBlocks(carry, in, count, g);
            std::memcpy(carry, in + 8 * (count - 1), 8);
        }
        rounds<G>(l, r, key);
        for (std::size_t g = 0; g < G; ++g) {
            V o = fromHalves(r[g], l[g]);
            if (carry != nullptr) o = o ^ prev[g];
            storeBlocks(out, count, g, o, last);
        }
        secure_zero(l, sizeof l);
        secure_zero(r, sizeof r);
    }

    // Blocks under one schedule, all independent of each other: decryption
    // (CBC when carry is not null) or ECB encryption.
    // The lanes the single chain's round computes (0 where the kernel has
    // no round of its own for it).
    static constexpr std::size_t kChainLanes = [] {
        if constexpr (requires { Ops::kChainLanes; })
            return Ops::kChainLanes;
        else
            return std::size_t{0};
    }();

    // A message of no more blocks than that, on the chain's round, which
    // answers sooner.
    static void fewBlocks(const ShortSchedule& ks, std::uint8_t* carry, const std::uint8_t* in, std::uint8_t* out,
                          std::size_t blocks, std::uint8_t* last) {
        V l, r, prev = {};
        toHalves(loadBlocks(in, blocks, 0), l, r);
        if (carry != nullptr) {
            prev = previousBlocks(carry, in, blocks, 0);
            std::memcpy(carry, in + 8 * (blocks - 1), 8);
        }
        chainRounds(l, r, ks);
        V o = fromHalves(r, l);
        if (carry != nullptr) o = o ^ prev;
        storeBlocks(out, blocks, 0, o, last);
        secure_zero(&l, sizeof l);
        secure_zero(&r, sizeof r);
    }

    static void parallel(const ShortSchedule& ks, std::uint8_t* carry, const std::uint8_t* in, std::uint8_t* out,
                         std::size_t blocks, std::uint8_t* last) {
        if constexpr (kChainLanes > 0) {
            if (blocks >= 1 && blocks <= kChainLanes) {
                fewBlocks(ks, carry, in, out, blocks, last);
                return;
            }
        }
        const auto key = [&ks](unsigned round, std::size_t) { return Ops::broadcast(ks.rounds[round]); };
        std::size_t done = 0;
        while (done < blocks) {
            const std::size_t left = blocks - done;
            const std::size_t vectors = std::min(kGroup, (left + kLanes - 1) / kLanes);
            const std::size_t count = std::min(left, kGroup * kLanes);
            std::uint8_t* final = done + count == blocks ? last : nullptr;
            switch (vectors) {
                case 1: step<1>(key, carry, in + 8 * done, out + 8 * done, count, final); break;
                case 2: step<2>(key, carry, in + 8 * done, out + 8 * done, count, final); break;
                case 3: step<3>(key, carry, in + 8 * done, out + 8 * done, count, final); break;
                default: step<kGroup>(key, carry, in + 8 * done, out + 8 * done, count, final); break;
            }
            done += count;
        }
    }

    static void decrypt(const ShortSchedule& ks, const std::uint8_t* chain, const std::uint8_t* in,
                        std::uint8_t* out, std::size_t blocks, std::uint8_t* last) {
        if (blocks == 0) return;
        std::uint8_t carry[8] = {};
        if (chain != nullptr) std::memcpy(carry, chain, 8);
        parallel(ks, chain != nullptr ? carry : nullptr, in, out, blocks, last);
    }

    // CBC encryption, one block after the other in lane 0. The chaining
    // stays in expanded form: IP and the expansion are bit permutations, so
    // the halves of P ^ C are those of P xored with those of C, and those of
    // the ciphertext block just made are the rounds' final halves swapped.
    // Only the rounds lie on the chain's path; converting the plaintext in
    // and the ciphertext out overlaps with them.
    static void encrypt(const ShortSchedule& ks, std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                        std::size_t blocks) {
        if (blocks == 0) return;
        if (chain == nullptr) {
            parallel(ks, nullptr, in, out, blocks, nullptr);
            return;
        }
        V cl, cr;
        toHalves(Ops::loadOne(chain), cl, cr);
        for (std::size_t i = 0; i < blocks; ++i) {
            V pl, pr;
            toHalves(Ops::loadOne(in + 8 * i), pl, pr);
            V l = pl ^ cl, r = pr ^ cr;
            chainRounds(l, r, ks);
            cl = r;
            cr = l;
            Ops::storeOne(out + 8 * i, fromHalves(r, l));
        }
        std::memcpy(chain, out + 8 * (blocks - 1), 8);
        secure_zero(&cl, sizeof cl);
        secure_zero(&cr, sizeof cr);
    }

    // The lanes' state for jobs(): each lane's round keys, and the blocks
    // going in and out of a step.
    static constexpr std::size_t kJobLanes = kGroup * kLanes;
    struct JobLanes {
        alignas(64) std::uint64_t keys[48][kJobLanes];
        alignas(64) std::uint8_t in[8 * kJobLanes];
        alignas(64) std::uint8_t prev[8 * kJobLanes];
        alignas(64) std::uint8_t out[8 * kJobLanes];
        LaneJob* job[kJobLanes];
        std::size_t block[kJobLanes];
    };

    static void jobs(Direction direction, LaneJob* list, std::size_t count) {
        JobLanes lanes{};
        std::size_t next = 0;
        // Gives lane c the next job with blocks, or nothing (zero keys).
        const auto assign = [&](std::size_t c) {
            while (next < count && list[next].blocks == 0) ++next;
            lanes.job[c] = next < count ? &list[next++] : nullptr;
            lanes.block[c] = 0;
            for (unsigned k = 0; k < 48; ++k)
                lanes.keys[k][c] = lanes.job[c] != nullptr ? lanes.job[c]->schedule->rounds[k] : 0;
        };
        for (std::size_t c = 0; c < kJobLanes; ++c) assign(c);
        const bool decrypting = direction == Direction::decrypt;
        for (;;) {
            bool any = false;
            for (std::size_t c = 0; c < kJobLanes; ++c) {
                std::uint8_t* in = lanes.in + 8 * c;
                LaneJob* job = lanes.job[c];
                if (job == nullptr) {
                    std::memset(in, 0, 8);
                    continue;
                }
                any = true;
                std::memcpy(in, job->in + 8 * lanes.block[c], 8);
                if (job->ecb) continue;
                if (decrypting) {
                    // The chain carries the ciphertext block before this one.
                    std::memcpy(lanes.prev + 8 * c, job->chain, 8);
                    std::memcpy(job->chain, in, 8);
                } else {
                    for (unsigned b = 0; b < 8; ++b) in[b] ^= job->chain[b];
                }
            }
            if (!any) break;
            V l[kGroup], r[kGroup];
            for (std::size_t g = 0; g < kGroup; ++g) toHalves(Ops::load(lanes.in + g * kBytes), l[g], r[g]);
            rounds<kGroup>(l, r, [&lanes](unsigned round, std::size_t g) {
                return Ops::loadWords(&lanes.keys[round][g * kLanes]);
            });
            for (std::size_t g = 0; g < kGroup; ++g) Ops::store(lanes.out + g * kBytes, fromHalves(r[g], l[g]));
            for (std::size_t c = 0; c < kJobLanes; ++c) {
                LaneJob* job = lanes.job[c];
                if (job == nullptr) continue;
                std::uint8_t* block = lanes.out + 8 * c;
                if (!job->ecb) {
                    if (decrypting)
                        for (unsigned b = 0; b < 8; ++b) block[b] ^= lanes.prev[8 * c + b];
                    else
                        std::memcpy(job->chain, block, 8);
                }
                std::memcpy(job->out + 8 * lanes.block[c], block, 8);
                if (++lanes.block[c] == job->blocks) assign(c);
            }
            secure_zero(l, sizeof l);
            secure_zero(r, sizeof r);
        }
        secure_zero(&lanes, sizeof lanes);
    }
};

// The kernel as a ShortKernel: each entry point clears the vector registers
// on its way out (des_registers.h), after the schedule built by Schedule.
template <class Ops, void (*Schedule)(const std::uint8_t*, Direction, ShortSchedule&)>
struct ShortEntryPoints {
    using Kernel = ShortDes3<Ops>;
    static void schedule(const std::uint8_t* key, Direction direction, ShortSchedule& out) {
        Schedule(key, direction, out);
        clearVectorRegisters();
    }
    static void decrypt(const ShortSchedule& ks, const std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                        std::size_t blocks, std::uint8_t* last) {
        Kernel::decrypt(ks, chain, in, out, blocks, last);
        clearVectorRegisters();
    }
    static void encrypt(const ShortSchedule& ks, std::uint8_t* chain, const std::uint8_t* in, std::uint8_t* out,
                        std::size_t blocks) {
        Kernel::encrypt(ks, chain, in, out, blocks);
        clearVectorRegisters();
    }
    static void jobs(Direction direction, LaneJob* list, std::size_t count) {
        Kernel::jobs(direction, list, count);
        clearVectorRegisters();
    }
    static constexpr ShortKernel kernel() {
        return {schedule, decrypt, encrypt, jobs, kClearsRegisters ? clearVectorRegisters : nullptr};
    }
};

}  // namespace
}  // namespace corvane::des

#endif  // CORVANE_DES_SHORT_KERNEL_H
