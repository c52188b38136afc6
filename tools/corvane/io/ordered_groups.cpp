#include "tools/corvane/io/ordered_groups.h"

#include <Corvane/modern/scrub.hpp>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/secure_zero.h"
#include "tools/corvane/io/io.h"

namespace corvane::tool {

namespace {

void wipeText(std::string& text) {
    secure_zero(text.data(), text.size());
    text.clear();
}

// One group in flight: its lines, its place in the input, and whether a
// worker has finished it (or failed on it).
struct Slot {
    LineGroup group;
    std::uint64_t firstLine = 0;
    bool done = false;
    std::exception_ptr failure;
};

// The workers and the queue of slots waiting for one. Stops and joins the
// threads when it goes, whether or not every slot was run.
class Workers {
public:
    Workers(std::size_t count, const GroupWork& work) : work_(work) {
        for (std::size_t i = 0; i < count; ++i) threads_.emplace_back([this, i] { run(i); });
    }
    ~Workers() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        for (std::thread& thread : threads_) thread.join();
    }
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    void submit(Slot* slot) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            waiting_.push_back(slot);
        }
        wake_.notify_one();
    }
    void waitFor(const Slot& slot) {
        std::unique_lock<std::mutex> lock(mutex_);
        finished_.wait(lock, [&] { return slot.done; });
    }

private:
    void run(std::size_t worker) {
        for (;;) {
            Slot* slot = nullptr;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
                if (stopping_) return;
                slot = waiting_.front();
                waiting_.pop_front();
            }
            std::exception_ptr failure;
            try {
                work_(slot->group, worker);
            } catch (...) {
                failure = std::current_exception();
            }
            // The group's keys and results passed through this thread's
            // frames and registers.
            v1::scrubStackAndRegisters();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                slot->failure = failure;
                slot->done = true;
            }
            finished_.notify_all();
        }
    }

    const GroupWork& work_;
    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    std::deque<Slot*> waiting_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Reads up to groupSize lines into the slot's group; false when there were none.
bool readGroup(LineReader& reader, std::size_t groupSize, Slot& slot) {
    LineGroup& group = slot.group;
    group.resize(groupSize);
    std::size_t count = 0;
    for (; count < groupSize; ++count) {
        bool tooLong = false;
        if (!reader.next(group.lines[count], tooLong)) break;
        group.tooLong[count] = tooLong ? 1 : 0;
    }
    group.resize(count);
    return count != 0;
}

bool writeGroup(Slot& slot, const std::string& command, const std::string& inputName) {
    if (slot.failure) std::rethrow_exception(slot.failure);
    LineGroup& group = slot.group;
    bool allGood = true;
    for (std::size_t i = 0; i < group.lines.size(); ++i) {
        if (!group.errors[i].empty()) {
            allGood = false;
            writeText("error: " + group.errors[i] + "\n");
            printError(command + ": " + inputName + ", line " + std::to_string(slot.firstLine + i) + ": " +
                       group.errors[i]);
            continue;
        }
        // Written as it stands: adding the line feed could move the text
        // and leave the old copy unwiped.
        writeText(group.outputs[i]);
        writeText("\n");
    }
    group.wipe();
    return allGood;
}

}  // namespace

void LineGroup::resize(std::size_t count) {
    lines.resize(count);
    tooLong.resize(count);
    outputs.resize(count);
    errors.resize(count);
}

void LineGroup::wipe() {
    for (std::string& line : lines) wipeText(line);
    for (std::string& output : outputs) wipeText(output);
    for (std::string& error : errors) error.clear();
}

bool runOrderedGroups(LineReader& reader, std::size_t groupSize, std::size_t jobs, const GroupWork& work,
                      const std::string& command) {
    bool allGood = true;
    std::uint64_t nextLine = 1;
    if (jobs <= 1) {
        Slot slot;
        while (readGroup(reader, groupSize, slot)) {
            slot.firstLine = nextLine;
            nextLine += slot.group.lines.size();
            work(slot.group, 0);
            allGood = writeGroup(slot, command, reader.name()) && allGood;
        }
        return allGood;
    }
    std::deque<std::unique_ptr<Slot>> inFlight;
    Workers workers(jobs, work);
    bool atEnd = false;
    for (;;) {
        while (!atEnd && inFlight.size() < 2 * jobs) {
            auto slot = std::make_unique<Slot>();
            if (!readGroup(reader, groupSize, *slot)) {
                atEnd = true;
                break;
            }
            slot->firstLine = nextLine;
            nextLine += slot->group.lines.size();
            workers.submit(slot.get());
            inFlight.push_back(std::move(slot));
        }
        if (inFlight.empty()) break;
        workers.waitFor(*inFlight.front());
        allGood = writeGroup(*inFlight.front(), command, reader.name()) && allGood;
        inFlight.pop_front();
    }
    return allGood;
}

}  // namespace corvane::tool
