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

py::object errorObject(const std::error_code& code, const std::string& message) {
    if (code.category() == corvane::errorCategory()) {
        if (code == ErrorCode::outOfMemory) return py::reinterpret_borrow<py::object>(PyExc_MemoryError)(message);
        py::object value = py::int_(code.value());
        try {
            value = (*errorCodeType)(value);
        } catch (const py::error_already_set&) {
            // A code this package's enumeration does not know: the number.
        }
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

void registerErrors(py::module_& module) {
    py::module_ errors = py::module_::import("corvane._errors");
    errorType = new py::object(errors.attr("Error"));
    errorCodeType = new py::object(errors.attr("ErrorCode"));
    module.def(
        "_error_meaning", [](std::int32_t code) { return std::string(corvane::errorMeaning(code)); },
        "The library's sentence for an error code.");
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
    if (!PyObject_CheckBuffer(source.ptr())) return false;
    held = corvane::python::HeldBuffer(source, false);
    value.text = std::string_view(reinterpret_cast<const char*>(held.view().data()), held.view().size());
    value.given = true;
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
