// des3EncryptBatch and des3DecryptBatch: every valid item becomes a job of
// the short-message kernel (des_short.h), which runs one message per lane of
// its vectors, each lane under its item's own round keys, so that the CBC
// chains of many messages advance side by side; a decryption long enough
// for the bitsliced passes runs on its own instead. Items are taken a slice at
// a time, so that the round keys held at once stay bounded.
#include <Corvane/modern/des3.hpp>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "engine/ct/declassify.h"
#include "engine/des/des3_engine.h"
#include "engine/des/des_short.h"
#include "modern/des3/cbc_rules.h"
#include "platform/secure_zero.h"

namespace corvane::v1 {

namespace {

using corvane::detail::kDes3Block;
using corvane::detail::kDes3Key;

// Items whose round keys are held at once.
constexpr std::size_t kSlice = 256;

// The round keys of a slice's items and their jobs, wiped when the slice
// ends however it ends.
struct Slice {
    std::unique_ptr<des::ShortSchedule[]> schedules;
    std::unique_ptr<des::LaneJob[]> jobs;
    std::size_t count = 0;

    Slice() : schedules(new des::ShortSchedule[kSlice]), jobs(new des::LaneJob[kSlice]) {}
    ~Slice() {
        secure_zero(schedules.get(), sizeof(des::ShortSchedule) * kSlice);
        secure_zero(jobs.get(), sizeof(des::LaneJob) * kSlice);
    }
    Slice(const Slice&) = delete;
    Slice& operator=(const Slice&) = delete;
};

// Why an item cannot run, or success: its key, its IV, and for decryption
// its length.
std::error_code itemFault(const Des3BatchItem& item, bool decrypting) noexcept {
    if (corvane::detail::des3KeyFault(item.key) != nullptr) return make_error_code(ErrorCode::invalidInput);
    if (!item.ivFromKey && item.iv.size() != kDes3Block) return make_error_code(ErrorCode::invalidInput);
    if (decrypting && (item.data.empty() || item.data.size() % kDes3Block != 0))
        return make_error_code(ErrorCode::decryptionRefused);
    return {};
}

// Adds the item as the slice's next job: its round keys, its IV, and for
// encryption its padded plaintext copied into the result, which the kernel
// then encrypts in place.
void addJob(Slice& slice, const des::ShortKernel& kernel, const Des3BatchItem& item, bool decrypting,
            std::vector<std::uint8_t>& bytes) {
    std::uint8_t key[kDes3Key];
    corvane::detail::des3KeyArea(item.key, key);
    des::LaneJob& job = slice.jobs[slice.count];
    kernel.schedule(key, decrypting ? des::Direction::decrypt : des::Direction::encrypt, slice.schedules[slice.count]);
    corvane::detail::des3IvArea(key, item.ivFromKey ? nullptr : &item.iv, job.chain);
    secure_zero(key, sizeof key);
    job.schedule = &slice.schedules[slice.count];
    job.ecb = false;
    if (decrypting) {
        job.in = item.data.data();
        job.blocks = item.data.size() / kDes3Block;
    } else {
        const std::size_t whole = item.data.size() / kDes3Block * kDes3Block;
        if (whole > 0) std::memcpy(bytes.data(), item.data.data(), whole);
        corvane::detail::des3PadBlock(item.data.data() + whole, item.data.size() - whole, bytes.data() + whole);
        job.in = bytes.data();
        job.blocks = bytes.size() / kDes3Block;
    }
    job.out = bytes.data();
    ++slice.count;
}

// The plaintext of a decrypted item without its padding, or refused: the
// padding is checked in constant time; only the verdict and the length
// become public.
void finishDecryption(BatchResult& result) noexcept {
    std::size_t pad = corvane::detail::des3PaddingLength(result.bytes.data() + result.bytes.size() - kDes3Block);
    engine::declassify(&pad, sizeof pad);
    if (pad == 0) {
        secure_zero(result.bytes.data(), result.bytes.size());
        result.bytes = {};
        result.error = make_error_code(ErrorCode::decryptionRefused);
        return;
    }
    secure_zero(result.bytes.data() + result.bytes.size() - pad, pad);
    result.bytes.resize(result.bytes.size() - pad);
}

std::vector<BatchResult> runBatch(std::span<const Des3BatchItem> items, bool decrypting) {
    std::vector<BatchResult> results(items.size());
    const des::DesPath path = des::des_default_path();
    const des::ShortKernel& kernel = des::des_short_kernel(path);
    const std::size_t longItem = des::des_short_limit(path);
    const des::Direction direction = decrypting ? des::Direction::decrypt : des::Direction::encrypt;
    Slice slice;
    std::size_t sliceStart[kSlice];
    for (std::size_t start = 0; start < items.size();) {
        slice.count = 0;
        std::size_t next = start;
        for (; next < items.size() && slice.count < kSlice; ++next) {
            const Des3BatchItem& item = items[next];
            BatchResult& result = results[next];
            result.error = itemFault(item, decrypting);
            if (result.error) continue;
            if (decrypting && item.data.size() / kDes3Block >= longItem) {
                // Long enough for the bitsliced passes, which beat a lane.
                result.bytes = item.ivFromKey ? des3Decrypt(item.data, item.key, result.error)
                                              : des3Decrypt(item.data, item.key, item.iv, result.error);
                continue;
            }
            const std::size_t size = decrypting ? item.data.size() : des3EncryptedSize(item.data.size());
            try {
                result.bytes.resize(size);
            } catch (const std::bad_alloc&) {
                result.error = make_error_code(ErrorCode::outOfMemory);
                continue;
            }
            sliceStart[slice.count] = next;
            addJob(slice, kernel, item, decrypting, result.bytes);
        }
        kernel.jobs(direction, slice.jobs.get(), slice.count);
        des::scrub_batch_stack();
        // The plaintext copied into the results went through the C
        // library's copies, in vector registers.
        des::des_clear_vector_registers();
        if (decrypting)
            for (std::size_t j = 0; j < slice.count; ++j) finishDecryption(results[sliceStart[j]]);
        start = next;
    }
    return results;
}

}  // namespace

std::vector<BatchResult> des3EncryptBatch(std::span<const Des3BatchItem> items) { return runBatch(items, false); }

std::vector<BatchResult> des3DecryptBatch(std::span<const Des3BatchItem> items) { return runBatch(items, true); }

}  // namespace corvane::v1
