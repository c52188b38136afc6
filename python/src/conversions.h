// What every part of the Python binding shares: views of Python buffers
// held for the length of a call (so that the GIL can be released while the
// library reads them, and nothing is copied), passphrases taken from str or
// bytes and wiped after use, results handed to Python as bytes, the GIL
// released around work that takes longer than a few microseconds, and the
// library's errors raised as corvane.Error.
#ifndef CORVANE_PYTHON_CONVERSIONS_H
#define CORVANE_PYTHON_CONVERSIONS_H

#include <pybind11/pybind11.h>

#include <Corvane/corvane.hpp>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

namespace corvane::python {

namespace py = pybind11;
namespace cv = corvane::v1;

// Inputs longer than this are coded or hashed with the GIL released; below
// it, releasing and taking the GIL back costs more than the work itself.
inline constexpr std::size_t kReleaseGilAbove = 4096;

// Releases the GIL for the life of this object when asked to. Nothing that
// touches a Python object may run meanwhile.
class GilReleasedIf {
public:
    explicit GilReleasedIf(bool release) {
        if (release) released_.emplace();
    }

private:
    std::optional<py::gil_scoped_release> released_;
};

// A contiguous buffer of any object with the buffer protocol (bytes,
// bytearray, memoryview, array.array, NumPy arrays), or with text allowed
// also the characters of an ASCII str, held until this object goes. The
// buffer cannot be resized while held, so the view stays valid with the GIL
// released. Make and destroy it with the GIL held.
class HeldBuffer {
public:
    HeldBuffer() noexcept = default;
    // TypeError for anything else, naming what was given.
    HeldBuffer(py::handle object, bool textAllowed);
    HeldBuffer(HeldBuffer&& other) noexcept;
    HeldBuffer& operator=(HeldBuffer&& other) noexcept;
    HeldBuffer(const HeldBuffer&) = delete;
    HeldBuffer& operator=(const HeldBuffer&) = delete;
    ~HeldBuffer();

    cv::ByteView view() const noexcept { return view_; }

private:
    void release() noexcept;
    Py_buffer buffer_{};
    bool held_ = false;
    py::object text_;  // a str whose characters are viewed
    cv::ByteView view_;
};

// Bytes-like or str parameters, as the casters below take them.
struct TextArg {
    cv::ByteView bytes;
};

// A file's path given as str, bytes or os.PathLike, in the bytes the
// operating system takes (str encoded as os.fsencode does).
struct PathArg {
    std::string path;
};

// The key readers' max_iterations, as keyReadOptionsOf reads it.
struct IterationLimitArg {
    corvane::KeyReadOptions options;
};

// A passphrase given as str (taken as UTF-8) or bytes-like, or None. Its
// UTF-8 form, where one had to be made, is wiped when the call ends. The
// caller's own str or bytes object is immutable and cannot be wiped: keep
// a secret passphrase in a bytearray and clear it when done.
struct PassphraseArg {
    std::string_view text;
    bool given = false;
    corvane::KeyPassphrase keyPassphrase() const noexcept {
        return given ? corvane::KeyPassphrase(text) : corvane::KeyPassphrase();
    }
};

// Every item of a Python iterable of buffers, held for the call.
class HeldBuffers {
public:
    explicit HeldBuffers(py::handle iterable);
    std::span<const cv::ByteView> views() const noexcept { return views_; }

private:
    std::vector<HeldBuffer> held_;
    std::vector<cv::ByteView> views_;
};

// A new bytes object of the given size for the library to write into with
// the GIL released, then cut to the count written.
class OutputBytes {
public:
    explicit OutputBytes(std::size_t size);
    std::uint8_t* data() noexcept;
    std::size_t size() const noexcept { return size_; }
    template <typename T>
    std::span<T> span() noexcept {
        return {reinterpret_cast<T*>(data()), size_};
    }
    py::bytes finish(std::size_t written);

private:
    py::object bytes_;
    std::size_t size_;
};

// A result as bytes; the vector, which may hold key or message material, is
// wiped.
py::bytes toBytes(std::vector<std::uint8_t>& bytes);
py::bytes toBytes(std::vector<std::uint8_t>&& bytes);

// The exception object for a library error: corvane.Error (a ValueError)
// with .code a corvane.ErrorCode and the library's message, MemoryError
// for an allocation that failed, OSError (FileNotFoundError, ...) for an
// operating-system error. iterations, when given, is an encrypted key's
// iteration count, the error's .iterations (None otherwise).
py::object errorObject(const std::error_code& code, const std::string& message,
                       std::optional<std::uint32_t> iterations = std::nullopt);

// Raises the error as the exception translator would, with the iteration
// count attached. Call it with the GIL held.
[[noreturn]] void raiseError(const std::system_error& error, std::optional<std::uint32_t> iterations);

// The key readers' max_iterations: a Python int (or an object with
// __index__) from 1 to kMaxKeyIterationLimit, as KeyReadOptions.
// corvane.Error (INVALID_INPUT, a ValueError) naming the range for any other
// int, TypeError for anything else (a bool, a float).
corvane::KeyReadOptions keyReadOptionsOf(py::handle maxIterations);

// Per item of a batch: the bytes, or the error that item met (as
// asyncio.gather(..., return_exceptions=True) gives them).
py::list batchResults(std::vector<cv::BatchResult>& results);

// Imports corvane._errors and raises library exceptions as above.
void registerErrors(py::module_& module);

// A library object that Python code may share between threads: calls take
// its lock, with the GIL released first when the call works on a large
// input, so that a call waiting for the lock never holds the GIL.
template <typename T>
class Locked {
public:
    template <typename... Args>
    explicit Locked(Args&&... args) : object_(std::forward<Args>(args)...) {}

    // Runs work(object) under the lock; work must touch no Python object.
    template <typename Work>
    auto run(std::size_t inputSize, Work&& work) {
        GilReleasedIf released(inputSize > kReleaseGilAbove);
        std::lock_guard<std::mutex> lock(mutex_);
        return work(object_);
    }

private:
    T object_;
    std::mutex mutex_;
};

// How the envelope calls refuse: archive=True for stored records, text_keys
// only with it (corvane.Error INVALID_INPUT otherwise).
cv::EnvelopeOpening envelopeOpeningOf(bool archive, bool textKeys);

// The modules' parts, each in its own file.
void bindDigest(py::module_& module);
void bindCoding(py::module_& module);
void bindDes3(py::module_& module);
void bindRsa(py::module_& module);
void bindEnvelopes(py::module_& module);
void bindEnvelopeLines(py::module_& module);

}  // namespace corvane::python

namespace pybind11::detail {

// The casters below refuse an argument of another type with a TypeError of
// their own, naming the type given, rather than declining it: pybind11's
// message for a declined argument repeats every argument of the call, and
// those are private keys, passphrases and plaintexts.

// Functions declared with a cv::ByteView parameter take any buffer without
// copying it; the view is held until the call returns.
template <>
struct type_caster<corvane::v1::ByteView> {
    PYBIND11_TYPE_CASTER(corvane::v1::ByteView, const_name("Buffer"));
    bool load(handle source, bool) {
        held = corvane::python::HeldBuffer(source, false);
        value = held.view();
        return true;
    }
    corvane::python::HeldBuffer held;
};

template <>
struct type_caster<corvane::python::TextArg> {
    PYBIND11_TYPE_CASTER(corvane::python::TextArg, const_name("str | Buffer"));
    bool load(handle source, bool) {
        held = corvane::python::HeldBuffer(source, true);
        value.bytes = held.view();
        return true;
    }
    corvane::python::HeldBuffer held;
};

template <>
struct type_caster<corvane::python::IterationLimitArg> {
    PYBIND11_TYPE_CASTER(corvane::python::IterationLimitArg, const_name("int"));
    bool load(handle source, bool) {
        value.options = corvane::python::keyReadOptionsOf(source);
        return true;
    }
};

template <>
struct type_caster<corvane::python::PathArg> {
    PYBIND11_TYPE_CASTER(corvane::python::PathArg, const_name("str | bytes | os.PathLike[str]"));
    bool load(handle source, bool);
};

template <>
struct type_caster<corvane::python::PassphraseArg> {
    PYBIND11_TYPE_CASTER(corvane::python::PassphraseArg, const_name("str | Buffer | None"));
    bool load(handle source, bool);
    ~type_caster();
    corvane::python::HeldBuffer held;
    // A UTF-8 copy of a str that is not ASCII, ours alone, wiped when the
    // call is over.
    object utf8;
};

}  // namespace pybind11::detail

#endif  // CORVANE_PYTHON_CONVERSIONS_H
