// The object layer: reference counting, the per-thread autorelease pool
// stack, data and string objects, the log and the assertion handler.
#include <Corvane/Foundation.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>

#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#elif defined(__APPLE__)
#include <pthread.h>
#include <unistd.h>
#else
#include <unistd.h>
#endif

#if defined(__GLIBC__)
#include <errno.h>  // program_invocation_short_name
#endif

#include "platform/log_suppression.h"

namespace corvane {

namespace {

// ---------------------------------------------------------------------------
// Autorelease pool stack of the calling thread. The innermost pool is the top;
// each pool links to the one below it.
thread_local NSAutoreleasePool* t_topPool = nullptr;

// Releases every reference in objects, in the order they were added. A
// dealloc may autorelease more objects into the same list; those are
// released in a further round, so the list is empty on return.
void releaseAll(std::vector<NSObject*>& objects) noexcept {
    while (!objects.empty()) {
        std::vector<NSObject*> round;
        round.swap(objects);
        for (NSObject* object : round) object->release();
    }
}

// When memory runs out, a pool's list cannot grow. The reference then goes
// to this small reserve of the thread, which needs no allocation, tagged with
// the pool it belongs to (nullptr for the thread's fallback); that pool
// releases it when it drains. Only when the reserve is full as well is a
// reference kept for good: the object then leaks rather than being released
// under the caller who still uses it.
struct ReservedReference {
    const void* pool;
    NSObject* object;
};
constexpr std::size_t kReserveSlots = 64;
thread_local ReservedReference t_reserve[kReserveSlots];
thread_local std::size_t t_reserved = 0;

void reserveReference(const void* pool, NSObject* object) noexcept {
    if (t_reserved < kReserveSlots) t_reserve[t_reserved++] = {pool, object};
}

NSUInteger reservedFor(const void* pool) noexcept {
    NSUInteger n = 0;
    for (std::size_t i = 0; i < t_reserved; i++) n += t_reserve[i].pool == pool ? 1 : 0;
    return n;
}

// Releases the references reserved for pool, in the order they came; returns
// whether there were any. They are taken out first, since a release may
// reserve more.
bool releaseReserved(const void* pool) noexcept {
    NSObject* taken[kReserveSlots];
    std::size_t n = 0, kept = 0;
    for (std::size_t i = 0; i < t_reserved; i++) {
        if (t_reserve[i].pool == pool)
            taken[n++] = t_reserve[i].object;
        else
            t_reserve[kept++] = t_reserve[i];
    }
    t_reserved = kept;
    for (std::size_t i = 0; i < n; i++) taken[i]->release();
    return n > 0;
}

// The fallback for a thread that autoreleases with no pool in place. Its
// list lives on the heap behind trivially destructible thread_local state,
// so that it stays reachable while other thread_local objects are torn down;
// the guard drains it when the thread exits.
thread_local std::vector<NSObject*>* t_fallback = nullptr;
thread_local bool t_fallbackLogged = false;
thread_local bool t_fallbackDrained = false;

struct FallbackGuard {
    ~FallbackGuard() {
        do {
            if (t_fallback != nullptr) releaseAll(*t_fallback);
        } while (releaseReserved(nullptr));
        delete t_fallback;
        t_fallback = nullptr;
        t_fallbackDrained = true;
    }
};
thread_local FallbackGuard t_fallbackGuard;

void addToFallback(NSObject* object) noexcept {
    if (!t_fallbackLogged) {
        t_fallbackLogged = true;
        NSLog("*** autorelease with no pool in place on this thread: the object is kept "
              "until the thread exits");
    }
    if (t_fallbackDrained) {
        // The thread is being torn down and its fallback has already drained
        // (an autorelease from another thread-exit destructor). Keeping the
        // reference is bounded and safe; releasing it here would hand the
        // caller a dangling pointer.
        return;
    }
    (void)&t_fallbackGuard;  // Odr-use, so the guard is constructed on this thread.
    try {
        if (t_fallback == nullptr) t_fallback = new std::vector<NSObject*>();
        t_fallback->push_back(object);
    } catch (const std::bad_alloc&) {
        reserveReference(nullptr, object);
    }
}

// A byte that stands in for the buffer of an empty object, so that bytes()
// and mutableBytes() are never null. Nothing is ever written through it,
// since an empty object has no byte to write.
std::uint8_t g_emptyByte = 0;

// ---------------------------------------------------------------------------
// UTF-8 checks: well-formed sequences only (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool isValidUtf8(const std::uint8_t* p, std::size_t n) noexcept {
    std::size_t i = 0;
    while (i < n) {
        std::uint8_t c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::size_t extra;
        std::uint8_t lo = 0x80, hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0) lo = 0xA0;
            if (c == 0xED) hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0) lo = 0x90;
            if (c == 0xF4) hi = 0x8F;
        } else {
            return false;
        }
        if (n - i <= extra) return false;
        if (p[i + 1] < lo || p[i + 1] > hi) return false;
        for (std::size_t k = 2; k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) return false;
        }
        i += extra + 1;
    }
    return true;
}

bool isAscii(const std::uint8_t* p, std::size_t n) noexcept {
    for (std::size_t i = 0; i < n; ++i) {
        if (p[i] >= 0x80) return false;
    }
    return true;
}

const std::uint8_t* asBytes(const char* text) noexcept {
    return reinterpret_cast<const std::uint8_t*>(text);
}

// Copies n bytes into a vector; a length the vector cannot hold counts as
// running out of memory.
std::vector<std::uint8_t> copyBytes(const void* bytes, std::size_t n) {
    std::vector<std::uint8_t> out;
    if (n > out.max_size()) throw std::bad_alloc();
    if (n > 0) {
        const auto* p = static_cast<const std::uint8_t*>(bytes);
        out.assign(p, p + n);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Log sink, shared by all threads. The state is never destroyed, so that
// NSLog stays usable from destructors that run at process exit.
struct LogState {
    std::mutex mutex;
    NSLogSink sink;
};

LogState& logState() {
    static LogState* state = new LogState();
    return *state;
}

const char* processName() noexcept {
#if defined(__GLIBC__)
    return program_invocation_short_name;
#elif defined(__APPLE__)
    return getprogname();
#else
    return "corvane";
#endif
}

unsigned long long threadNumber() noexcept {
#if defined(__linux__)
    return static_cast<unsigned long long>(syscall(SYS_gettid));
#elif defined(__APPLE__)
    std::uint64_t id = 0;
    pthread_threadid_np(nullptr, &id);
    return id;
#else
    return static_cast<unsigned long long>(std::hash<std::thread::id>()(std::this_thread::get_id()));
#endif
}

// The default sink: "YYYY-MM-DD HH:MM:SS.mmm name[pid:tid] message", local
// time, written with one call so that lines from several threads stay whole.
void writeToStandardError(const std::string& message) {
    using namespace std::chrono;
    auto now = system_clock::now();
    std::time_t seconds = system_clock::to_time_t(now);
    auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    if (std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local) == 0) stamp[0] = '\0';

    char prefix[160];
    std::snprintf(prefix, sizeof prefix, "%s.%03d %s[%lld:%llu] ", stamp, static_cast<int>(millis),
                  processName(), static_cast<long long>(getpid()), threadNumber());
    // One allocation for the whole line.
    std::string line;
    line.reserve(std::strlen(prefix) + message.size() + 1);
    line += prefix;
    line += message;
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

std::string formatMessage(const char* format, va_list args) {
    if (format == nullptr) return "(null)";
    va_list copy;
    va_copy(copy, args);
    int needed = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (needed < 0) return format;
    std::string message(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(message.data(), message.size(), format, args);
    message.resize(static_cast<std::size_t>(needed));
    return message;
}

std::string textOf(const NSString* s) {
    return s == nullptr ? std::string("(null)") : std::string(s->UTF8String());
}

// The assertion handler is stateless, so one object serves every thread. It
// is never destroyed (see LogState).
struct SharedAssertionHandler final : NSAssertionHandler {};

}  // namespace

// ---------------------------------------------------------------------------
// NSObject

NSObject::NSObject() noexcept : refs_(1) {}

NSObject::~NSObject() = default;

NSObject* NSObject::retain() noexcept {
    refs_.fetch_add(1, std::memory_order_relaxed);
    return this;
}

void NSObject::release() noexcept {
    // acq_rel: every write made through other references happens before the
    // destructor that the last release runs.
    if (refs_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

NSObject* NSObject::autorelease() noexcept {
    NSAutoreleasePool::addObject(this);
    return this;
}

NSUInteger NSObject::retainCount() const noexcept {
    return refs_.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// NSAutoreleasePool

NSAutoreleasePool::NSAutoreleasePool() : previous_(t_topPool) {
    t_topPool = this;
}

NSAutoreleasePool::~NSAutoreleasePool() {
    drain();
    // Unlink this pool. Pools are meant to go in reverse order of creation;
    // if one goes early, the stack is still kept consistent.
    if (t_topPool == this) {
        t_topPool = previous_;
    } else {
        for (NSAutoreleasePool* p = t_topPool; p != nullptr; p = p->previous_) {
            if (p->previous_ == this) {
                p->previous_ = previous_;
                break;
            }
        }
    }
}

void NSAutoreleasePool::drain() noexcept {
    do {
        releaseAll(objects_);
    } while (releaseReserved(this));
}

void NSAutoreleasePool::addObject(NSObject* object) noexcept {
    if (object == nullptr) return;
    NSAutoreleasePool* pool = t_topPool;
    if (pool == nullptr) {
        addToFallback(object);
        return;
    }
    try {
        pool->objects_.push_back(object);
    } catch (const std::bad_alloc&) {
        reserveReference(pool, object);
    }
}

NSUInteger NSAutoreleasePool::count() const noexcept {
    return objects_.size() + reservedFor(this);
}

// ---------------------------------------------------------------------------
// NSData, NSMutableData

NSData::NSData(const void* bytes, NSUInteger length) {
    if (bytes == nullptr && length != 0) throw NSInitFailure();
    storage_ = copyBytes(bytes, length);
}

const void* NSData::bytes() const noexcept {
    return storage_.empty() ? &g_emptyByte : storage_.data();
}

NSUInteger NSData::length() const noexcept {
    return storage_.size();
}

std::span<const std::uint8_t> NSData::span() const noexcept {
    return {static_cast<const std::uint8_t*>(bytes()), storage_.size()};
}

NSMutableData* NSMutableData::data() {
    Ref<NSMutableData> object = make_ref<NSMutableData>();
    if (!object) return nullptr;
    object->autorelease();
    return object.detach();
}

void NSMutableData::setLength(NSUInteger length) {
    if (length > storage_.max_size()) throw std::bad_alloc();
    // resize value-initialises new bytes, so growth always reads as zeros.
    storage_.resize(length);
}

void* NSMutableData::mutableBytes() noexcept {
    return storage_.empty() ? &g_emptyByte : storage_.data();
}

// ---------------------------------------------------------------------------
// NSString

NSString::NSString(const NSData* data, NSStringEncoding encoding) {
    if (data == nullptr) throw NSInitFailure();
    const auto* p = static_cast<const std::uint8_t*>(data->bytes());
    std::size_t n = data->length();
    bool representable = false;
    if (encoding == NSASCIIStringEncoding) {
        representable = isAscii(p, n);
    } else if (encoding == NSUTF8StringEncoding) {
        representable = isValidUtf8(p, n);
    }
    if (!representable) throw NSInitFailure();
    text_.assign(reinterpret_cast<const char*>(p), n);
}

NSString::NSString(const char* utf8) {
    if (utf8 == nullptr) throw NSInitFailure();
    std::size_t n = std::char_traits<char>::length(utf8);
    if (!isValidUtf8(asBytes(utf8), n)) throw NSInitFailure();
    text_.assign(utf8, n);
}

NSString* NSString::stringWithUTF8String(const char* utf8) {
    if (utf8 == nullptr) return nullptr;
    Ref<NSString> object = make_ref<NSString>(utf8);
    if (!object) return nullptr;
    object->autorelease();
    return object.detach();
}

NSData* NSString::dataUsingEncoding(NSStringEncoding encoding) const {
    const std::uint8_t* p = asBytes(text_.data());
    if (encoding == NSASCIIStringEncoding) {
        if (!isAscii(p, text_.size())) return nullptr;
    } else if (encoding != NSUTF8StringEncoding) {
        return nullptr;
    }
    Ref<NSData> object = make_ref<NSData>(text_.data(), text_.size());
    if (!object) return nullptr;
    object->autorelease();
    return object.detach();
}

const char* NSString::UTF8String() const noexcept {
    return text_.c_str();
}

NSUInteger NSString::length() const noexcept {
    // UTF-16 code units: one per character, two for those above U+FFFF
    // (four-byte sequences). The text is well-formed UTF-8.
    NSUInteger units = 0;
    for (char ch : text_) {
        auto c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) != 0x80) ++units;
        if (c >= 0xF0) ++units;
    }
    return units;
}

// ---------------------------------------------------------------------------
// NSLog

void NSLog(const char* format, ...) {
    if (logSuppressedOnThisThread()) return;
    va_list args;
    va_start(args, format);
    std::string message;
    bool formatted = true;
    try {
        message = formatMessage(format, args);
    } catch (const std::bad_alloc&) {
        formatted = false;
    }
    va_end(args);
    // A line needs memory (its text, the stamped line, a copy of the sink).
    // When there is none the line is dropped: logging never turns running
    // out of memory into an exception in the code that logs.
    if (!formatted) return;
    try {
        LogState& state = logState();
        NSLogSink sink;
        {
            // Copied under the lock and called outside it, so that a sink may
            // itself log or replace the sink.
            std::lock_guard<std::mutex> lock(state.mutex);
            sink = state.sink;
        }
        if (sink) {
            sink(message);
        } else {
            writeToStandardError(message);
        }
    } catch (const std::bad_alloc&) {
    }
}

NSLogSink NSLogSetSink(NSLogSink sink) {
    LogState& state = logState();
    std::lock_guard<std::mutex> lock(state.mutex);
    std::swap(state.sink, sink);
    return sink;
}

// ---------------------------------------------------------------------------
// Assertions

NSInternalInconsistencyException::NSInternalInconsistencyException(std::string function,
                                                                   std::string file,
                                                                   NSInteger line,
                                                                   std::string description)
    : std::logic_error(description),
      function_(std::move(function)),
      file_(std::move(file)),
      line_(line),
      description_(std::move(description)) {}

NSAssertionHandler* NSAssertionHandler::currentHandler() {
    static NSAssertionHandler* handler = new SharedAssertionHandler();
    return handler;
}

void NSAssertionHandler::handleFailureInFunction(const NSString* functionName,
                                                 const NSString* fileName, NSInteger line,
                                                 const NSString* description) {
    std::string function = textOf(functionName);
    std::string file = textOf(fileName);
    std::string text = textOf(description);
    NSLog("*** Assertion failure in %s, %s:%lld: %s", function.c_str(), file.c_str(),
          static_cast<long long>(line), text.c_str());
    throw NSInternalInconsistencyException(std::move(function), std::move(file), line,
                                           std::move(text));
}

}  // namespace corvane
