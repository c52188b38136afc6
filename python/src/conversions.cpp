#include "python/src/conversions.h"

#include <cerrno>
#include <new>

#include "platform/secure_zero.h"

namespace corvane::python {

namespace {

// corvane.Error and corvane.ErrorCode, from corvane._errors. Never freed:
// they live as long as the interpreter, and must not be released after it.
py::object* errorType = nullptr;
py::object* errorCodeType = nullptr;

[[noreturn]] void raiseNotBuffer(py::handle object, bool textAllowed) {
    std::string what = textAllowed ? "a str or bytes-like object is required, not '"
                                   : "a bytes-like object is required, not '";
    what += Py_TYPE(object.ptr())->tp_name;
    what += "'";
    throw py::type_error(what);
}

}  // namespace

HeldBuffer::HeldBuffer(py::handle object, bool textAllowed) {
    if (PyUnicode_Check(object.ptr())) {
        if (!textAllowed) raiseNotBuffer(object, textAllowed);
        // The str's own UTF-8 form (its characters themselves when ASCII),
        // which lives as long as the str this object keeps.
        Py_ssize_t length = 0;
        const char* text = PyUnicode_AsUTF8AndSize(object.ptr(), &length);
        if (text == nullptr) throw py::error_already_set();
        text_ = py::reinterpret_borrow<py::object>(object);
        view_ = cv::ByteView(reinterpret_cast<const std::uint8_t*>(text), static_cast<std::size_t>(length));
        return;
    }
    if (!PyObject_CheckBuffer(object.ptr())) raiseNotBuffer(object, textAllowed);
    if (PyObject_GetBuffer(object.ptr(), &buffer_, PyBUF_SIMPLE) != 0) throw py::error_already_set();
    held_ = true;
    view_ = cv::ByteView(static_cast<const std::uint8_t*>(buffer_.buf), static_cast<std::size_t>(buffer_.len));
}

HeldBuffer::HeldBuffer(HeldBuffer&& other) noexcept
    : buffer_(other.buffer_), held_(other.held_), text_(std::move(other.text_)), view_(other.view_) {
    other.held_ = false;
    other.view_ = {};
}

HeldBuffer& HeldBuffer::operator=(HeldBuffer&& other) noexcept {
    if (this != &other) {
        release();
        buffer_ = other.buffer_;
        held_ = other.held_;
        text_ = std::move(other.text_);
        view_ = other.view_;
        other.held_ = false;
        other.view_ = {};
    }
    return *this;
}

HeldBuffer::~HeldBuffer() { release(); }

void HeldBuffer::release() noexcept {
    if (held_) PyBuffer_Release(&buffer_);
    held_ = false;
    view_ = {};
}

HeldBuffers::HeldBuffers(py::handle iterable) {
    if (PyUnicode_Check(iterable.ptr()) || PyObject_CheckBuffer(iterable.ptr()))
        throw py::type_error("a sequence of bytes-like objects is required, not a single one");
    Py_ssize_t hint = PyObject_LengthHint(iterable.ptr(), 0);
    if (hint > 0) held_.reserve(static_cast<std::size_t>(hint));
    for (py::handle item : py::iter(iterable)) held_.emplace_back(item, false);
    views_.reserve(held_.size());
    for (const HeldBuffer& buffer : held_) views_.push_back(buffer.view());
}

OutputBytes::OutputBytes(std::size_t size) : size_(size) {
    if (size > static_cast<std::size_t>(PY_SSIZE_T_MAX)) throw std::bad_alloc();
    bytes_ = py::reinterpret_steal<py::object>(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    if (!bytes_) throw py::error_already_set();
}

std::uint8_t* OutputBytes::data() noexcept {
    return reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes_.ptr()));
}

py::bytes OutputBytes::finish(std::size_t written) {
    if (written != size_) {
        PyObject* object = bytes_.release().ptr();
        if (_PyBytes_Resize(&object, static_cast<Py_ssize_t>(written)) != 0) throw py::error_already_set();
        bytes_ = py::reinterpret_steal<py::object>(object);
    }
    return py::reinterpret_steal<py::bytes>(bytes_.release());
}

py::bytes toBytes(std::vector<std::uint8_t>& bytes) {
    py::bytes result(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    secure_zero(bytes.data(), bytes.size());
    return result;
}

py::bytes toBytes(std::vector<std::uint8_t>&& bytes) { return toBytes(bytes); }

py::object errorObject(const std::error_code& code, const std::string& message,
                       std::optional<std::uint32_t> iterations) {
    if (code.category() == corvane::errorCategory()) {
        if (code == ErrorCode::outOfMemory) return py::reinterpret_borrow<py::object>(PyExc_MemoryError)(message);
        py::object value = py::int_(code.value());
        try {
            value = (*errorCodeType)(value);
        } catch (const py::error_already_set&) {
            // A code this package's enumeration does not know: the number.
        }
        if (iterations) return (*errorType)(message, value, *iterations);
        return (*errorType)(message, value);
    }
    if (code.category() == std::generic_category() || code.category() == std::system_category())
        return py::reinterpret_borrow<py::object>(PyExc_OSError)(code.value(), message);
    return py::reinterpret_borrow<py::object>(PyExc_RuntimeError)(message);
}

py::list batchResults(std::vector<cv::BatchResult>& results) {
    py::list list(results.size());
    for (std::size_t i = 0; i < results.size(); ++i) {
        cv::BatchResult& result = results[i];
        py::object item = result.error ? errorObject(result.error, result.error.message()) : toBytes(result.bytes);
        PyList_SET_ITEM(list.ptr(), static_cast<Py_ssize_t>(i), item.release().ptr());
    }
    return list;
}

void raiseError(const std::system_error& error, std::optional<std::uint32_t> iterations) {
    py::object raised = errorObject(error.code(), error.what(), iterations);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(raised.ptr())), raised.ptr());
    throw py::error_already_set();
}

corvane::KeyReadOptions keyReadOptionsOf(py::handle maxIterations) {
    if (PyBool_Check(maxIterations.ptr()) || !PyIndex_Check(maxIterations.ptr()))
        throw py::type_error(std::string("max_iterations must be an int, not '") +
                             Py_TYPE(maxIterations.ptr())->tp_name + "'");
    const auto number = py::reinterpret_steal<py::object>(PyNumber_Index(maxIterations.ptr()));
    if (!number) throw py::error_already_set();
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(number.ptr(), &overflow);
    if (value == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0 || value < 1 || value > static_cast<long long>(kMaxKeyIterationLimit))
        throw cv::Error(ErrorCode::invalidInput, "max_iterations is " + std::string(py::str(number)) +
                                                     "; the iteration limit must be 1 to " +
                                                     std::to_string(kMaxKeyIterationLimit));
    corvane::KeyReadOptions options;
    options.maxIterations = static_cast<std::uint32_t>(value);
    return options;
}

namespace {

// Every code of corvane::ErrorCode with its C++ name, for the test that
// walks it beside corvane.ErrorCode (a code added to the library and not to
// the package fails it). The test also finds every code errorMeaning knows,
// so a code missing here fails it as well.
#define CORVANE_ERROR_CODE(name) \
    { ErrorCode::name, #name }
constexpr struct {
    ErrorCode code;
    const char* name;
} kErrorCodes[] = {
    CORVANE_ERROR_CODE(ok),
    CORVANE_ERROR_CODE(invalidInput),
    CORVANE_ERROR_CODE(outOfMemory),
    CORVANE_ERROR_CODE(encryptionRefused),
    CORVANE_ERROR_CODE(decryptionRefused),
    CORVANE_ERROR_CODE(rsaOperationFailed),
    CORVANE_ERROR_CODE(badData),
    CORVANE_ERROR_CODE(badLength),
    CORVANE_ERROR_CODE(notSeeded),
    CORVANE_ERROR_CODE(keyUnreadable),
    CORVANE_ERROR_CODE(keyTooLarge),
    CORVANE_ERROR_CODE(keyTooSmall),
    CORVANE_ERROR_CODE(keyEncrypted),
    CORVANE_ERROR_CODE(wrongPassphrase),
    CORVANE_ERROR_CODE(keyIncomplete),
    CORVANE_ERROR_CODE(multiPrimeKey),
    CORVANE_ERROR_CODE(keyDoesNotFit),
    CORVANE_ERROR_CODE(keyInvalid),
    CORVANE_ERROR_CODE(keyInconsistent),
    CORVANE_ERROR_CODE(keyMalformed),
    CORVANE_ERROR_CODE(pemDamaged),
    CORVANE_ERROR_CODE(keyOtherAlgorithm),
    CORVANE_ERROR_CODE(notPrivateKey),
    CORVANE_ERROR_CODE(keyTooCostly),
    CORVANE_ERROR_CODE(keyDamaged),
    CORVANE_ERROR_CODE(envelopeRefused),
    CORVANE_ERROR_CODE(envelopeMalformed),
    CORVANE_ERROR_CODE(envelopeKeyRefused),
    CORVANE_ERROR_CODE(envelopePaddingRefused),
    CORVANE_ERROR_CODE(envelopeKeyNotText),
};
#undef CORVANE_ERROR_CODE

}  // namespace

void registerErrors(py::module_& module) {
    py::module_ errors = py::module_::import("corvane._errors");
    errorType = new py::object(errors.attr("Error"));
    errorCodeType = new py::object(errors.attr("ErrorCode"));
    module.def(
        "_error_meaning", [](std::int32_t code) { return std::string(corvane::errorMeaning(code)); },
        "The library's sentence for an error code.");
    module.def(
        "_error_codes",
        [] {
            py::list codes;
            for (const auto& entry : kErrorCodes)
                codes.append(py::make_tuple(static_cast<std::int32_t>(entry.code), entry.name));
            return codes;
        },
        "The library's error codes as (number, C++ name) pairs, success (0, 'ok') first.");
    py::register_exception_translator([](std::exception_ptr thrown) {
        try {
            if (thrown) std::rethrow_exception(thrown);
        } catch (const std::system_error& error) {
            py::object raised = errorObject(error.code(), error.what());
            PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(raised.ptr())), raised.ptr());
        }
    });
}

}  // namespace corvane::python

namespace pybind11::detail {

bool type_caster<corvane::python::PassphraseArg>::load(handle source, bool) {
    if (source.is_none()) {
        value = {};
        return true;
    }
    if (PyUnicode_Check(source.ptr())) {
        if (PyUnicode_IS_ASCII(source.ptr())) {
            // The str's own characters: nothing is copied.
            value.text = std::string_view(static_cast<const char*>(PyUnicode_DATA(source.ptr())),
                                          static_cast<std::size_t>(PyUnicode_GET_LENGTH(source.ptr())));
        } else {
            // A UTF-8 copy of our own (not the str's cached one, which would
            // outlive the call unwiped).
            utf8 = reinterpret_steal<object>(PyUnicode_AsUTF8String(source.ptr()));
            if (!utf8) throw error_already_set();
            value.text = std::string_view(PyBytes_AS_STRING(utf8.ptr()),
                                          static_cast<std::size_t>(PyBytes_GET_SIZE(utf8.ptr())));
        }
        value.given = true;
        return true;
    }
    if (!PyObject_CheckBuffer(source.ptr()))
        throw type_error(std::string("a passphrase must be a str, a bytes-like object or None, not '") +
                         Py_TYPE(source.ptr())->tp_name + "'");
    held = corvane::python::HeldBuffer(source, false);
    value.text = std::string_view(reinterpret_cast<const char*>(held.view().data()), held.view().size());
    value.given = true;
    return true;
}

bool type_caster<corvane::python::PathArg>::load(handle source, bool) {
    // os.fspath's rules and message: str, bytes or an os.PathLike giving one.
    object path = reinterpret_steal<object>(PyOS_FSPath(source.ptr()));
    if (!path) throw error_already_set();
    if (PyUnicode_Check(path.ptr())) path = reinterpret_steal<object>(PyUnicode_EncodeFSDefault(path.ptr()));
    if (!path) throw error_already_set();
    value.path.assign(PyBytes_AS_STRING(path.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(path.ptr())));
    return true;
}

type_caster<corvane::python::PassphraseArg>::~type_caster() {
    // The copy is a fresh object that only this caster refers to (a
    // non-ASCII character takes at least two bytes, so it is never one of
    // the interpreter's shared one-byte objects).
    if (utf8 && Py_REFCNT(utf8.ptr()) == 1)
        corvane::secure_zero(PyBytes_AS_STRING(utf8.ptr()), static_cast<std::size_t>(PyBytes_GET_SIZE(utf8.ptr())));
}

}  // namespace pybind11::detail
