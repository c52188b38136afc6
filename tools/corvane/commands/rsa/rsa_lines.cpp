#include "tools/corvane/commands/rsa/rsa_lines.h"

#include <functional>
#include <span>
#include <string>

#include "platform/secure_zero.h"
#include "tools/corvane/commands/commands.h"
#include "tools/corvane/io/base64_stream.h"
#include "tools/corvane/io/io.h"
#include "tools/corvane/io/line_reader.h"

namespace corvane::tool {

namespace {

// Lines per batch call: eight vector lanes eight times over, and few
// enough that a group's lines and results take a few tens of KiB.
constexpr std::size_t kGroupSize = 64;
// The Base64 of the longest block (128 bytes) has 172 characters; this
// leaves room for whitespace, and a longer line holds no item.
constexpr std::size_t kLineLimit = 4096;

using BatchCall = std::function<std::vector<v1::RsaBatchResult>(std::span<const v1::ByteView>)>;

// What an action does with its lines.
struct LineAction {
    const char* command;  // "rsa decrypt", in messages
    // Why an input of this many bytes cannot go to the call; "" when it can.
    std::function<std::string(std::size_t)> refusal;
    BatchCall call;
    // The message for an item the call failed.
    std::function<std::string(const std::error_code&)> failureText;
    bool hex;
};

void wipe(Bytes& bytes) {
    secure_zero(bytes.data(), bytes.size());
    bytes.clear();
}

void wipe(std::string& text) {
    secure_zero(text.data(), text.size());
    text.clear();
}

// One line of a group: its text, the input decoded from it, and its
// outcome. Everything is wiped before reuse and when the group goes.
struct Item {
    std::string text;
    Bytes input;
    std::string error;  // why the line is bad; "" when it is not
    v1::RsaBatchResult result;

    ~Item() { clear(); }
    void clear() {
        wipe(text);
        wipe(input);
        error.clear();
        wipe(result.bytes);
        result.error.clear();
    }
};

// The results of one call, wiped even when writing fails halfway.
struct WipedResults {
    std::vector<v1::RsaBatchResult> items;
    ~WipedResults() {
        for (v1::RsaBatchResult& item : items) wipe(item.bytes);
    }
};

void decodeLine(Item& item, bool tooLong, const LineAction& action) {
    if (tooLong) {
        item.error = "line longer than " + std::to_string(kLineLimit) + " bytes";
        return;
    }
    auto decoded =
        base64Decode(std::span(reinterpret_cast<const std::uint8_t*>(item.text.data()), item.text.size()),
                     Base64Family::standard);
    if (!decoded) {
        item.error = "not valid Base64";
        return;
    }
    item.input = std::move(*decoded);
    item.error = action.refusal(item.input.size());
}

// Runs the call on the group's good items and keeps each result with its line.
void runGroup(std::span<Item> group, const LineAction& action) {
    std::vector<v1::ByteView> inputs;
    std::vector<Item*> owners;
    for (Item& item : group)
        if (item.error.empty()) {
            inputs.emplace_back(item.input);
            owners.push_back(&item);
        }
    if (inputs.empty()) return;
    WipedResults results{action.call(inputs)};
    for (std::size_t i = 0; i < owners.size(); ++i) {
        std::swap(owners[i]->result, results.items[i]);
        if (owners[i]->result.error) owners[i]->error = action.failureText(owners[i]->result.error);
    }
}

// Writes each line's outcome in order; line numbers count from firstLine.
bool writeGroup(std::span<Item> group, const LineAction& action, const std::string& inputName,
                std::uint64_t firstLine) {
    bool allGood = true;
    for (std::size_t i = 0; i < group.size(); ++i) {
        const Item& item = group[i];
        if (!item.error.empty()) {
            allGood = false;
            writeText("error: " + item.error + "\n");
            printError(std::string(action.command) + ": " + inputName + ", line " +
                       std::to_string(firstLine + i) + ": " + item.error);
            continue;
        }
        std::string text = action.hex ? v1::hexEncode(item.result.bytes)
                                      : base64Encode(item.result.bytes, Base64Family::standard);
        writeText(text);
        wipe(text);
        writeText("\n");
    }
    return allGood;
}

int runLines(const std::vector<std::string>& files, const LineAction& action) {
    LineReader reader(files.empty() ? "-" : files.front(), kLineLimit);
    std::vector<Item> group(kGroupSize);
    std::uint64_t nextLine = 1;
    bool allGood = true;
    for (;;) {
        std::size_t count = 0;
        bool tooLong = false;
        for (; count < group.size(); ++count) {
            group[count].clear();
            if (!reader.next(group[count].text, tooLong)) break;
            decodeLine(group[count], tooLong, action);
        }
        if (count == 0) break;
        std::span<Item> lines(group.data(), count);
        runGroup(lines, action);
        allGood = writeGroup(lines, action, reader.name(), nextLine) && allGood;
        nextLine += count;
        if (count < group.size()) break;
    }
    return allGood ? kExitOk : kExitFailure;
}

std::function<std::string(std::size_t)> messageLimit(std::size_t maxMessageSize, unsigned bits) {
    return [=](std::size_t size) {
        if (size <= maxMessageSize) return std::string();
        return "message too long: " + std::to_string(size) + " bytes; at most " +
               std::to_string(maxMessageSize) + " fit a " + std::to_string(bits) + "-bit key";
    };
}

std::function<std::string(const std::error_code&)> failedAs(const std::string& what) {
    return [=](const std::error_code& error) { return what + ": " + error.message(); };
}

}  // namespace

int encryptLines(const std::vector<std::string>& files, const v1::RsaPublicKey& key, bool hex) {
    // One pool for the whole run: seeding a fresh one per group would cost
    // more than the group's encryptions.
    v1::RandomPool pool;
    return runLines(files,
                    {"rsa encrypt", messageLimit(key.maxMessageSize(), key.bits()),
                     [&](std::span<const v1::ByteView> messages) { return key.encryptBatch(messages, pool); },
                     failedAs("RSA encryption failed"), hex});
}

int decryptLines(const std::vector<std::string>& files, const v1::RsaPrivateKey& key, bool hex,
                 DecryptLineAnswers answers) {
    const std::size_t blockSize = key.blockSize();
    auto refusal = [blockSize](std::size_t size) {
        if (size == 0) return std::string("empty line: no block");
        if (size == blockSize) return std::string();
        return "the encrypted block has " + std::to_string(size) + " bytes; this key's blocks have " +
               std::to_string(blockSize);
    };
    if (answers == DecryptLineAnswers::reportBadBlocks)
        return runLines(files, {"rsa decrypt", refusal,
                                [&](std::span<const v1::ByteView> blocks) { return key.decryptBatch(blocks); },
                                [](const std::error_code&) {
                                    return std::string("decryption failed: wrong key or damaged block");
                                },
                                hex});
    // Implicit rejection fails only for what anyone can see: a value not
    // below the modulus (the length was checked above).
    return runLines(files, {"rsa decrypt", refusal,
                            [&](std::span<const v1::ByteView> blocks) {
                                return key.decryptBatch(blocks, v1::RsaRejection::implicit);
                            },
                            [](const std::error_code& error) {
                                return error == ErrorCode::badData
                                           ? std::string("the block's value is not below the key's modulus")
                                           : "decryption failed: " + error.message();
                            },
                            hex});
}

int signLines(const std::vector<std::string>& files, const v1::RsaPrivateKey& key, bool hex) {
    return runLines(files, {"rsa sign", messageLimit(key.maxMessageSize(), key.bits()),
                            [&](std::span<const v1::ByteView> messages) { return key.signBatch(messages); },
                            failedAs("RSA signing failed"), hex});
}

}  // namespace corvane::tool
