#include "tools/corvane/io/ordered_groups.h"

#include <Corvane/modern/scrub.hpp>

#include <algorithm>
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

// Writes the groups in order, counts their lines, and reports the bad ones.
class GroupWriter {
public:
    GroupWriter(LineReader& reader, const std::string& command, const LineReview& review)
        : reader_(reader), command_(command), review_(review) {}

    // Writes the slot's lines; false when the review stopped the run.
    bool write(Slot& slot) {
        if (slot.failure) std::rethrow_exception(slot.failure);
        LineGroup& group = slot.group;
        for (std::size_t i = 0; i < group.lines.size(); ++i) {
            const std::uint64_t lineNumber = slot.firstLine + i;
            const bool goOn = !review_ || review_(group, i, lineNumber);
            ++run.lines;
            if (!group.errors[i].empty()) {
                ++run.badLines;
                writeText("error: " + group.errors[i] + "\n");
                report(lineNumber, group.reason(i));
            } else {
                // Written as it stands: adding the line feed could move the
                // text and leave the old copy unwiped.
                writeText(group.outputs[i]);
                writeText("\n");
            }
            if (!goOn) {
                run.stopped = true;
                reader_.linesDone(i + 1);
                group.wipe();
                return false;
            }
        }
        reader_.linesDone(group.lines.size());
        group.wipe();
        return true;
    }

    OrderedRun run;

private:
    void report(std::uint64_t lineNumber, const std::string& reason) {
        if (messages_ > kLineMessagesShown) return;
        reader_.clearProgress();
        if (messages_++ < kLineMessagesShown)
            printError(command_ + ": " + reader_.name() + ", line " + std::to_string(lineNumber) + ": " + reason);
        else
            printError(command_ + ": more bad lines are counted, not reported one by one");
    }

    LineReader& reader_;
    const std::string& command_;
    const LineReview& review_;
    std::size_t messages_ = 0;
};

}  // namespace

void LineGroup::resize(std::size_t count) {
    lines.resize(count);
    tooLong.resize(count);
    outputs.resize(count);
    errors.resize(count);
    reasons.resize(count);
    tags.resize(count);
}

void LineGroup::wipe() {
    for (std::string& line : lines) wipeText(line);
    for (std::string& output : outputs) wipeText(output);
    for (std::string& error : errors) error.clear();
    for (std::string& reason : reasons) reason.clear();
    std::fill(tags.begin(), tags.end(), std::uint8_t{0});
}

OrderedRun runOrderedGroups(LineReader& reader, std::size_t groupSize, std::size_t jobs, const GroupWork& work,
                            const std::string& command, const LineReview& review) {
    GroupWriter writer(reader, command, review);
    std::uint64_t nextLine = 1;
    if (jobs <= 1) {
        Slot slot;
        while (readGroup(reader, groupSize, slot)) {
            slot.firstLine = nextLine;
            nextLine += slot.group.lines.size();
            work(slot.group, 0);
            if (!writer.write(slot)) break;
        }
        reader.finishProgress();
        return writer.run;
    }
    std::deque<std::unique_ptr<Slot>> inFlight;
    // Declared after the slots, so gone first: a stopped run joins the
    // workers before the groups they may still be running go.
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
        const bool goOn = writer.write(*inFlight.front());
        inFlight.pop_front();
        if (!goOn) break;
    }
    reader.finishProgress();
    return writer.run;
}

}  // namespace corvane::tool
