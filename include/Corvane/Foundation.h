// The object layer the Corvane classes stand on: a small stand-in for the
// platform's object base and its data, string, log and assertion services.
//
// Ownership follows manual reference counting:
//  - Every NSObject starts with one reference, owned by its creator.
//    retain() adds one, release() drops one; the last release destroys the
//    object (the destructor plays the role of dealloc).
//  - Ref<T> is the owning handle: it holds one reference and releases it when
//    it goes away. make_ref<T>(args...) is alloc + init and returns a Ref<T>,
//    or nil (an empty Ref) when the object cannot be made.
//  - A function documented as returning an object the caller does not own
//    returns a plain T*. That object was handed to the calling thread's
//    innermost NSAutoreleasePool and lives until that pool drains; retain it
//    (or wrap it with Ref<T>::retain) to keep it longer.
//  - nullptr is nil. Functions that take object pointers accept nil and treat
//    it as documented (usually as empty input).
//
// Threads: reference counting is atomic, so references to one object may be
// taken and dropped on several threads. The autorelease pool stack is per
// thread. Data and string objects are immutable after creation except
// NSMutableData, which is for one thread at a time.
#ifndef CORVANE_FOUNDATION_H
#define CORVANE_FOUNDATION_H

#include "CorvaneCxx20.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <new>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "CorvaneExport.h"

namespace corvane {

using NSUInteger = std::size_t;
using NSInteger = std::ptrdiff_t;

// ---------------------------------------------------------------------------
// NSObject: intrusive, atomic reference count starting at 1.
class CORVANE_EXPORT NSObject {
public:
    NSObject() noexcept;
    NSObject(const NSObject&) = delete;
    NSObject& operator=(const NSObject&) = delete;

    // Adds one reference; returns this.
    NSObject* retain() noexcept;
    // Drops one reference; the last one destroys the object.
    void release() noexcept;
    // Hands one reference to the calling thread's innermost autorelease pool,
    // which releases it when it drains. Returns this.
    NSObject* autorelease() noexcept;
    // Current count, for tests and diagnostics only.
    NSUInteger retainCount() const noexcept;

protected:
    // The destructor is dealloc: subclasses release what they own in theirs.
    virtual ~NSObject();

private:
    std::atomic<NSUInteger> refs_;
};

// Thrown by an object's constructor to say that init gave nil; make_ref
// turns it (and std::bad_alloc) into a nil result.
struct NSInitFailure {};

// ---------------------------------------------------------------------------
// Ref<T>: the owning handle. Copying retains, destruction releases.
template <typename T>
class Ref {
public:
    Ref() noexcept = default;
    Ref(std::nullptr_t) noexcept {}
    Ref(const Ref& other) noexcept : p_(other.p_) {
        if (p_) p_->retain();
    }
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    template <typename U>
    Ref(const Ref<U>& other) noexcept : p_(other.get()) {
        if (p_) p_->retain();
    }
    template <typename U>
    Ref(Ref<U>&& other) noexcept : p_(other.detach()) {}
    ~Ref() {
        if (p_) p_->release();
    }
    Ref& operator=(Ref other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }

    // Takes over a +1 reference the caller owns (no retain).
    static Ref adopt(T* p) noexcept {
        Ref r;
        r.p_ = p;
        return r;
    }
    // Takes a new reference to an object the caller does not own.
    static Ref retain(T* p) noexcept {
        if (p) p->retain();
        return adopt(p);
    }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    T& operator*() const noexcept { return *p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Gives up ownership without releasing; the caller now owns the +1.
    T* detach() noexcept { return std::exchange(p_, nullptr); }

    friend bool operator==(const Ref& a, std::nullptr_t) noexcept { return a.p_ == nullptr; }
    friend bool operator==(const Ref& a, const Ref& b) noexcept { return a.p_ == b.p_; }

private:
    T* p_ = nullptr;
};

// alloc + init: a new object with one reference, owned by the returned Ref;
// nil when memory runs out or the constructor throws NSInitFailure.
template <typename T, typename... Args>
Ref<T> make_ref(Args&&... args) {
    try {
        return Ref<T>::adopt(new T(std::forward<Args>(args)...));
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const NSInitFailure&) {
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// NSAutoreleasePool: RAII, one stack per thread. Creating a pool pushes it;
// destroying it drains it (releases every reference handed to it, in the
// order they were added) and pops it. Pools must be destroyed in reverse
// order of creation, as scoped objects are.
//
// A thread with no pool: an autoreleased reference goes to a fallback pool of
// that thread, which is drained when the thread exits, and one line is
// logged the first time this happens on the thread. Nothing crashes and
// nothing outlives the thread, but memory grows until then: long-running
// threads should keep a pool around calls that return unowned objects.
class CORVANE_EXPORT NSAutoreleasePool {
public:
    NSAutoreleasePool();
    ~NSAutoreleasePool();
    NSAutoreleasePool(const NSAutoreleasePool&) = delete;
    NSAutoreleasePool& operator=(const NSAutoreleasePool&) = delete;

    // Releases every reference handed to this pool so far; the pool stays usable.
    void drain() noexcept;
    // Hands one reference of object to the calling thread's innermost pool.
    static void addObject(NSObject* object) noexcept;
    // Number of references this pool holds, for tests.
    NSUInteger count() const noexcept;

private:
    std::vector<NSObject*> objects_;
    NSAutoreleasePool* previous_;
};

// ---------------------------------------------------------------------------
// String encodings understood by NSString.
using NSStringEncoding = NSUInteger;
inline constexpr NSStringEncoding NSASCIIStringEncoding = 1;
inline constexpr NSStringEncoding NSUTF8StringEncoding = 4;

// NSData: an immutable byte buffer holding its own copy of the bytes.
class CORVANE_EXPORT NSData : public NSObject {
public:
    // initWithBytes:length: copies length bytes from bytes (nil bytes with a
    // length of 0 makes an empty object; nil bytes with a nonzero length
    // throw NSInitFailure, so make_ref gives nil).
    NSData(const void* bytes, NSUInteger length);

    // Read-only pointer to the bytes, valid while the object lives and is not
    // resized; never null, even for an empty object.
    const void* bytes() const noexcept;
    NSUInteger length() const noexcept;
    std::span<const std::uint8_t> span() const noexcept;

protected:
    NSData() = default;
    std::vector<std::uint8_t> storage_;
};

// NSMutableData: a growable byte buffer.
class CORVANE_EXPORT NSMutableData : public NSData {
public:
    NSMutableData() = default;
    NSMutableData(const void* bytes, NSUInteger length) : NSData(bytes, length) {}

    // A new, empty object handed to the calling thread's pool (not owned by
    // the caller); nil if memory runs out.
    static NSMutableData* data();

    // Grows the buffer with zero bytes or cuts it. May move the bytes.
    // Throws std::bad_alloc when memory runs out.
    void setLength(NSUInteger length);
    // Writable pointer to the bytes, valid until the next setLength.
    void* mutableBytes() noexcept;
};

// NSString: text held as UTF-8.
class CORVANE_EXPORT NSString : public NSObject {
public:
    // initWithData:encoding: with NSASCIIStringEncoding (every byte must be
    // below 0x80) or NSUTF8StringEncoding (the bytes must be valid UTF-8).
    // Throws NSInitFailure otherwise, so make_ref gives nil. A nil data object
    // gives nil as well.
    NSString(const NSData* data, NSStringEncoding encoding);
    // A string holding a copy of the NUL-terminated UTF-8 text. Throws
    // NSInitFailure (make_ref gives nil) for a null pointer or invalid UTF-8.
    explicit NSString(const char* utf8);

    // A new string from a NUL-terminated UTF-8 text, handed to the pool (not
    // owned by the caller); nil for a null pointer or invalid UTF-8.
    static NSString* stringWithUTF8String(const char* utf8);

    // The bytes of the string in the encoding, as a new object handed to the
    // pool; nil if a character has no form in that encoding (no loss allowed).
    NSData* dataUsingEncoding(NSStringEncoding encoding) const;
    // NUL-terminated UTF-8, valid while the string lives.
    const char* UTF8String() const noexcept;
    // Number of characters (UTF-16 code units, as the platform counts).
    NSUInteger length() const noexcept;

private:
    std::string text_;
};

// ---------------------------------------------------------------------------
// NSLog: formats like printf and writes one line. The default sink writes the
// line to standard error behind a timestamp and the process name and id.
CORVANE_EXPORT void NSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where NSLog lines go. The sink receives the formatted message alone (no
// timestamp, no line end). Returns the previous sink; an empty function
// restores the default. Setting the sink is thread-safe.
using NSLogSink = std::function<void(const std::string& message)>;
CORVANE_EXPORT NSLogSink NSLogSetSink(NSLogSink sink);

// ---------------------------------------------------------------------------
// Assertion reports. handleFailureInFunction logs the report with NSLog and
// throws NSInternalInconsistencyException; it never returns.
class CORVANE_EXPORT NSInternalInconsistencyException : public std::logic_error {
public:
    NSInternalInconsistencyException(std::string function, std::string file, NSInteger line,
                                     std::string description);
    const std::string& function() const noexcept { return function_; }
    const std::string& file() const noexcept { return file_; }
    NSInteger line() const noexcept { return line_; }
    const std::string& description() const noexcept { return description_; }

private:
    std::string function_;
    std::string file_;
    NSInteger line_;
    std::string description_;
};

class CORVANE_EXPORT NSAssertionHandler : public NSObject {
public:
    // The handler of the calling thread (never nil).
    static NSAssertionHandler* currentHandler();
    [[noreturn]] void handleFailureInFunction(const NSString* functionName, const NSString* fileName,
                                              NSInteger line, const NSString* description);
};

}  // namespace corvane

#endif  // CORVANE_FOUNDATION_H
