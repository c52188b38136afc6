#include <Corvane/Foundation.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace corvane;

namespace {

// An object that records its id in a shared list when it is destroyed.
class Tracked : public NSObject {
public:
    Tracked(std::vector<int>* log, int id) : log_(log), id_(id) {}

protected:
    ~Tracked() override {
        if (log_) log_->push_back(id_);
    }

private:
    std::vector<int>* log_;
    int id_;
};

// Counts destructions across threads.
class Counted : public NSObject {
public:
    explicit Counted(std::atomic<int>* deaths) : deaths_(deaths) {}

protected:
    ~Counted() override { deaths_->fetch_add(1); }

private:
    std::atomic<int>* deaths_;
};

// While alive, collects NSLog lines instead of writing them.
class LogCapture {
public:
    LogCapture() {
        previous_ = NSLogSetSink([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() { NSLogSetSink(previous_); }
    std::vector<std::string> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
    NSLogSink previous_;
};

Ref<NSData> dataOf(const std::string& bytes) {
    return make_ref<NSData>(bytes.data(), bytes.size());
}

std::string stringOf(const NSData* data) {
    return std::string(static_cast<const char*>(data->bytes()), data->length());
}

// True if line is "YYYY-MM-DD HH:MM:SS.mmm name[pid:tid] message\n".
bool isStampedLine(const std::string& line, const std::string& message) {
    const std::string stamp = "dddd-dd-dd dd:dd:dd.ddd ";
    if (line.size() < stamp.size()) return false;
    for (std::size_t i = 0; i < stamp.size(); i++) {
        bool digit = line[i] >= '0' && line[i] <= '9';
        if (stamp[i] == 'd' ? !digit : line[i] != stamp[i]) return false;
    }
    std::size_t open = line.find('[', stamp.size());
    if (open == std::string::npos || open == stamp.size()) return false;
    std::size_t pos = open + 1;
    for (char separator : {':', ']'}) {
        std::size_t start = pos;
        while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') pos++;
        if (pos == start || pos >= line.size() || line[pos] != separator) return false;
        pos++;
    }
    return line.substr(pos) == " " + message + "\n";
}

// ---------------------------------------------------------------------------
TEST(NSObjectTest, LastReleaseDestroysAtOnce) {
    std::vector<int> dead;
    Ref<Tracked> object = make_ref<Tracked>(&dead, 1);
    ASSERT_TRUE(object);
    EXPECT_EQ(object->retainCount(), 1u);
    Tracked* raw = object.get();
    EXPECT_EQ(raw->retain(), raw);
    EXPECT_EQ(raw->retainCount(), 2u);
    object = nullptr;  // drops one reference
    EXPECT_TRUE(dead.empty());
    EXPECT_EQ(raw->retainCount(), 1u);
    raw->release();
    EXPECT_EQ(dead, std::vector<int>{1});
}

TEST(RefTest, CopyRetainsMoveTransfersAssignmentReleases) {
    std::vector<int> dead;
    Ref<Tracked> a = make_ref<Tracked>(&dead, 1);
    Ref<Tracked> b = a;
    EXPECT_EQ(a->retainCount(), 2u);
    EXPECT_TRUE(a == b);

    Ref<Tracked> c = std::move(b);
    EXPECT_TRUE(b == nullptr);
    EXPECT_EQ(a->retainCount(), 2u);

    Ref<NSObject> base = c;  // converting copy retains
    EXPECT_EQ(a->retainCount(), 3u);
    Ref<NSObject> base2 = std::move(c);  // converting move does not
    EXPECT_TRUE(c == nullptr);
    EXPECT_EQ(a->retainCount(), 3u);

    Ref<NSObject>& alias = base;
    base = alias;  // self-assignment keeps the count
    EXPECT_EQ(a->retainCount(), 3u);

    // Assigning another object releases the old one.
    base = make_ref<Tracked>(&dead, 2);
    EXPECT_EQ(a->retainCount(), 2u);
    base2 = nullptr;
    EXPECT_EQ(a->retainCount(), 1u);
    a = nullptr;
    EXPECT_EQ(dead, std::vector<int>{1});
    base = nullptr;
    EXPECT_EQ(dead, (std::vector<int>{1, 2}));
}

TEST(RefTest, AdoptRetainAndDetach) {
    std::vector<int> dead;
    Tracked* raw = make_ref<Tracked>(&dead, 1).detach();
    EXPECT_EQ(raw->retainCount(), 1u);
    {
        Ref<Tracked> shared = Ref<Tracked>::retain(raw);
        EXPECT_EQ(raw->retainCount(), 2u);
    }
    EXPECT_EQ(raw->retainCount(), 1u);
    {
        Ref<Tracked> owner = Ref<Tracked>::adopt(raw);
        EXPECT_EQ(raw->retainCount(), 1u);
    }
    EXPECT_EQ(dead, std::vector<int>{1});
    EXPECT_FALSE(Ref<Tracked>::retain(nullptr));
}

TEST(RefTest, MakeRefGivesNilWhenInitFails) {
    struct Refuses : NSObject {
        Refuses() { throw NSInitFailure(); }
    };
    EXPECT_FALSE(make_ref<Refuses>());
}

// ---------------------------------------------------------------------------
TEST(AutoreleasePoolTest, DrainReleasesInOrderAdded) {
    std::vector<int> dead;
    {
        NSAutoreleasePool pool;
        for (int id = 1; id <= 3; id++) make_ref<Tracked>(&dead, id).detach()->autorelease();
        EXPECT_EQ(pool.count(), 3u);
        EXPECT_TRUE(dead.empty());
    }
    EXPECT_EQ(dead, (std::vector<int>{1, 2, 3}));
}

TEST(AutoreleasePoolTest, EachAutoreleaseIsOneRelease) {
    std::vector<int> dead;
    NSAutoreleasePool pool;
    Ref<Tracked> keeper = make_ref<Tracked>(&dead, 1);
    keeper->retain()->autorelease();
    keeper->retain()->autorelease();
    EXPECT_EQ(keeper->retainCount(), 3u);
    pool.drain();
    EXPECT_EQ(pool.count(), 0u);
    EXPECT_EQ(keeper->retainCount(), 1u);
    // The pool stays usable after drain.
    keeper.detach()->autorelease();
    EXPECT_TRUE(dead.empty());
    pool.drain();
    EXPECT_EQ(dead, std::vector<int>{1});
}

TEST(AutoreleasePoolTest, NestedPoolsDrainInnermostFirst) {
    std::vector<int> dead;
    {
        NSAutoreleasePool outer;
        make_ref<Tracked>(&dead, 1).detach()->autorelease();
        {
            NSAutoreleasePool inner;
            make_ref<Tracked>(&dead, 2).detach()->autorelease();
            make_ref<Tracked>(&dead, 3).detach()->autorelease();
            EXPECT_EQ(outer.count(), 1u);
            EXPECT_EQ(inner.count(), 2u);
        }
        EXPECT_EQ(dead, (std::vector<int>{2, 3}));
        // After the inner pool is gone, the outer one is innermost again.
        make_ref<Tracked>(&dead, 4).detach()->autorelease();
        EXPECT_EQ(outer.count(), 2u);
    }
    EXPECT_EQ(dead, (std::vector<int>{2, 3, 1, 4}));
}

// An object whose destruction autoreleases another one, as a dealloc that
// calls a method returning an unowned object would.
class AutoreleasesOnDeath : public NSObject {
public:
    AutoreleasesOnDeath(std::vector<int>* log) : log_(log) {}

protected:
    ~AutoreleasesOnDeath() override {
        log_->push_back(0);
        make_ref<Tracked>(log_, 9).detach()->autorelease();
    }

private:
    std::vector<int>* log_;
};

TEST(AutoreleasePoolTest, ObjectsAutoreleasedDuringDrainAreReleasedToo) {
    std::vector<int> dead;
    {
        NSAutoreleasePool pool;
        make_ref<AutoreleasesOnDeath>(&dead).detach()->autorelease();
        make_ref<Tracked>(&dead, 1).detach()->autorelease();
    }
    EXPECT_EQ(dead, (std::vector<int>{0, 1, 9}));
}

TEST(AutoreleasePoolTest, PoolsOnSeveralThreadsAtOnce) {
    constexpr int kThreads = 4;
    constexpr int kObjects = 2000;
    std::atomic<int> deaths{0};
    std::atomic<int> shared_deaths{0};
    Ref<Counted> shared = make_ref<Counted>(&shared_deaths);
    std::atomic<bool> all_survived_until_drain{true};

    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&] {
            NSAutoreleasePool pool;
            for (int i = 0; i < kObjects; i++) {
                make_ref<Counted>(&deaths).detach()->autorelease();
                // References to one object taken and dropped on every thread.
                shared->retain()->autorelease();
            }
            if (pool.count() != 2 * kObjects) all_survived_until_drain = false;
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(all_survived_until_drain);
    EXPECT_EQ(deaths.load(), kThreads * kObjects);
    EXPECT_EQ(shared->retainCount(), 1u);
    EXPECT_EQ(shared_deaths.load(), 0);
    shared = nullptr;
    EXPECT_EQ(shared_deaths.load(), 1);
}

TEST(AutoreleasePoolTest, ThreadWithoutPoolKeepsObjectsUntilItExitsAndLogsOnce) {
    LogCapture capture;
    std::atomic<int> deaths{0};
    int alive_before_exit = -1;
    std::thread worker([&] {
        for (int i = 0; i < 3; i++) make_ref<Counted>(&deaths).detach()->autorelease();
        alive_before_exit = 3 - deaths.load();
    });
    worker.join();
    EXPECT_EQ(alive_before_exit, 3);
    EXPECT_EQ(deaths.load(), 3);
    auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("no pool"), std::string::npos) << lines[0];

    // The notice is per thread: a second thread logs it again.
    std::thread([&] { make_ref<Counted>(&deaths).detach()->autorelease(); }).join();
    EXPECT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(deaths.load(), 4);
}

// ---------------------------------------------------------------------------
TEST(NSDataTest, CopiesBytesAndNeverGivesNullPointer) {
    char source[] = "abc";
    Ref<NSData> data = make_ref<NSData>(source, 3u);
    source[0] = 'x';
    EXPECT_EQ(stringOf(data.get()), "abc");
    EXPECT_EQ(data->span().size(), 3u);
    EXPECT_EQ(data->span()[2], 'c');

    Ref<NSData> empty = make_ref<NSData>(nullptr, 0u);
    ASSERT_TRUE(empty);
    EXPECT_EQ(empty->length(), 0u);
    EXPECT_NE(empty->bytes(), nullptr);

    EXPECT_FALSE(make_ref<NSData>(nullptr, 5u));
}

TEST(NSMutableDataTest, DataIsPoolOwnedAndSetLengthZeroFills) {
    NSAutoreleasePool pool;
    NSMutableData* data = NSMutableData::data();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(pool.count(), 1u);
    EXPECT_EQ(data->retainCount(), 1u);
    EXPECT_EQ(data->length(), 0u);
    EXPECT_NE(data->mutableBytes(), nullptr);

    data->setLength(8);
    auto* p = static_cast<std::uint8_t*>(data->mutableBytes());
    for (int i = 0; i < 8; i++) EXPECT_EQ(p[i], 0) << i;
    std::memset(p, 0xAB, 8);
    data->setLength(2);
    data->setLength(6);  // the bytes cut off must come back as zeros
    p = static_cast<std::uint8_t*>(data->mutableBytes());
    EXPECT_EQ(std::vector<std::uint8_t>(p, p + 6),
              (std::vector<std::uint8_t>{0xAB, 0xAB, 0, 0, 0, 0}));
    EXPECT_EQ(data->bytes(), data->mutableBytes());
}

// ---------------------------------------------------------------------------
TEST(NSStringTest, AsciiInitAcceptsEveryAsciiByteOnly) {
    std::string all;
    for (int c = 0; c < 0x80; c++) all.push_back(static_cast<char>(c));
    Ref<NSString> s = make_ref<NSString>(dataOf(all).get(), NSASCIIStringEncoding);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->length(), 128u);

    for (const char* bad : {"\x80", "abc\xff", "\xC2\xA0" /* no-break space */})
        EXPECT_FALSE(make_ref<NSString>(dataOf(bad).get(), NSASCIIStringEncoding)) << bad;
    EXPECT_FALSE(make_ref<NSString>(static_cast<const NSData*>(nullptr), NSASCIIStringEncoding));
    EXPECT_FALSE(make_ref<NSString>(dataOf("abc").get(), NSStringEncoding{99}));
}

TEST(NSStringTest, AsciiDataFailsOnAnyNonAsciiCharacter) {
    NSAutoreleasePool pool;
    NSString* plain = NSString::stringWithUTF8String("Hello, world~");
    ASSERT_NE(plain, nullptr);
    NSData* ascii = plain->dataUsingEncoding(NSASCIIStringEncoding);
    ASSERT_NE(ascii, nullptr);
    EXPECT_EQ(stringOf(ascii), "Hello, world~");

    NSString* nbsp = NSString::stringWithUTF8String("a\xC2\xA0" "b");
    ASSERT_NE(nbsp, nullptr);
    EXPECT_EQ(nbsp->length(), 3u);
    EXPECT_EQ(nbsp->dataUsingEncoding(NSASCIIStringEncoding), nullptr);
    NSData* utf8 = nbsp->dataUsingEncoding(NSUTF8StringEncoding);
    ASSERT_NE(utf8, nullptr);
    EXPECT_EQ(stringOf(utf8), "a\xC2\xA0" "b");
}

TEST(NSStringTest, Utf8ValidationAndLengthInUtf16Units) {
    struct Case {
        const char* text;
        bool valid;
        std::size_t units;
    };
    const Case cases[] = {
        {"", true, 0},
        {"abc", true, 3},
        {"\xE2\x82\xAC", true, 1},           // euro sign
        {"\xF0\x9F\x98\x80", true, 2},       // outside the BMP: a surrogate pair
        {"\xF4\x8F\xBF\xBF", true, 2},       // U+10FFFF
        {"\xC0\x80", false, 0},              // overlong NUL
        {"\xE0\x80\xAF", false, 0},          // overlong slash
        {"\xED\xA0\x80", false, 0},          // surrogate half
        {"\xF4\x90\x80\x80", false, 0},      // above U+10FFFF
        {"\xE2\x82", false, 0},              // cut short
        {"\x80", false, 0},                  // stray continuation byte
        {"\xFF", false, 0},
    };
    NSAutoreleasePool pool;
    for (const Case& c : cases) {
        NSString* s = NSString::stringWithUTF8String(c.text);
        EXPECT_EQ(s != nullptr, c.valid) << testing::PrintToString(std::string(c.text));
        EXPECT_EQ(static_cast<bool>(make_ref<NSString>(dataOf(c.text).get(), NSUTF8StringEncoding)),
                  c.valid);
        if (s != nullptr) {
            EXPECT_EQ(s->length(), c.units);
            EXPECT_STREQ(s->UTF8String(), c.text);
        }
    }
    EXPECT_EQ(NSString::stringWithUTF8String(nullptr), nullptr);
    EXPECT_EQ(pool.count(), 5u);  // one per valid text
}

// ---------------------------------------------------------------------------
TEST(NSLogTest, SinkReceivesFormattedMessageAndCanBeRestored) {
    std::vector<std::string> seen;
    NSLogSink original = NSLogSetSink([&](const std::string& m) { seen.push_back(m); });
    NSLog("value %d of %s", 42, "x");
    NSLog("%s", "");
    NSLogSink mine = NSLogSetSink(original);
    EXPECT_TRUE(static_cast<bool>(mine));
    EXPECT_EQ(seen, (std::vector<std::string>{"value 42 of x", ""}));
}

TEST(NSLogTest, DefaultSinkWritesOneStampedLineToStandardError) {
    NSLogSink previous = NSLogSetSink(nullptr);
    testing::internal::CaptureStderr();
    NSLog("hello %u", 7u);
    std::string err = testing::internal::GetCapturedStderr();
    NSLogSetSink(previous);
    EXPECT_TRUE(isStampedLine(err, "hello 7")) << err;
}

// ---------------------------------------------------------------------------
TEST(NSAssertionHandlerTest, ReportLogsAndThrowsWithAllFourFields) {
    LogCapture capture;
    NSAutoreleasePool pool;
    NSAssertionHandler* handler = NSAssertionHandler::currentHandler();
    ASSERT_NE(handler, nullptr);
    EXPECT_EQ(handler, NSAssertionHandler::currentHandler());

    bool returned = false;
    try {
        handler->handleFailureInFunction(NSString::stringWithUTF8String("+[Coder decode]"),
                                         NSString::stringWithUTF8String("Coder.cpp"), 123,
                                         NSString::stringWithUTF8String("length went wrong"));
        returned = true;
    } catch (const NSInternalInconsistencyException& e) {
        EXPECT_EQ(e.function(), "+[Coder decode]");
        EXPECT_EQ(e.file(), "Coder.cpp");
        EXPECT_EQ(e.line(), 123);
        EXPECT_EQ(e.description(), "length went wrong");
        EXPECT_STREQ(e.what(), "length went wrong");
    }
    EXPECT_FALSE(returned);
    EXPECT_EQ(capture.lines(), std::vector<std::string>{
                                   "*** Assertion failure in +[Coder decode], Coder.cpp:123: "
                                   "length went wrong"});
}

TEST(NSAssertionHandlerTest, NilArgumentsStillReport) {
    LogCapture capture;
    EXPECT_THROW(NSAssertionHandler::currentHandler()->handleFailureInFunction(nullptr, nullptr, 0,
                                                                               nullptr),
                 NSInternalInconsistencyException);
    EXPECT_EQ(capture.lines().size(), 1u);
}

}  // namespace
