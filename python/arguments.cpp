// The package's arguments as Python gives them, checked where they are used.

#include "python/arguments.h"

#include <climits>
#include <cmath>
#include <cstring>
#include <thread>

#include "quib/text.h"
#include "tools/render/render_core.h"

namespace vantrel::python {
namespace {

/// The bytes of the str `value` (see Text), or nothing (and no Python error) when it is no str.
std::optional<std::string> BytesOf(py::handle value) {
    if (!PyUnicode_Check(value.ptr())) return std::nullopt;
    Py_ssize_t size = 0;
    if (const char* utf8 = PyUnicode_AsUTF8AndSize(value.ptr(), &size)) return std::string(utf8, size);
    PyErr_Clear();  // a lone surrogate, which os.fsdecode makes of a byte that is not UTF-8
    const auto bytes =
        py::reinterpret_steal<py::object>(PyUnicode_AsEncodedString(value.ptr(), "utf-8", "surrogateescape"));
    if (!bytes) {  // a lone surrogate that stands for no byte
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(PyBytes_AS_STRING(bytes.ptr()), PyBytes_GET_SIZE(bytes.ptr()));
}

}  // namespace

std::string Shown(py::handle value) {
    if (const std::optional<std::string> text = BytesOf(value)) return quib::Quote(*text);
    try {
        return quib::Excerpt(py::repr(value).cast<std::string>());
    } catch (py::error_already_set&) {  // a repr that fails, or that is no text
        return "an object of type " +
               py::str(py::type::handle_of(value).attr("__name__")).cast<std::string>();
    }
}

Whole WholeFrom(py::handle value) {
    Whole given{std::nullopt, py::reinterpret_borrow<py::object>(value)};
    // A bool, Python's or numpy's, is an int to Python, but no count a caller means.
    const bool flag =
        PyBool_Check(value.ptr()) || std::strcmp(Py_TYPE(value.ptr())->tp_name, "numpy.bool_") == 0;
    if (flag || !PyIndex_Check(value.ptr())) return given;
    const auto index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) {
        PyErr_Clear();
        return given;
    }
    int overflow = 0;
    const long long number = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    given.number = overflow > 0 ? LLONG_MAX : overflow < 0 ? LLONG_MIN : number;
    return given;
}

Text TextFrom(py::handle value) {
    return {BytesOf(value), py::reinterpret_borrow<py::object>(value)};
}

quib::Error ArgumentError(const std::string& argument, std::string expected, std::string found) {
    return std::move(
        quib::Error::Expected(quib::Error::Code::BadValue, {}, std::move(expected), std::move(found))
            .WithSource(argument));
}

long long WholeIn(const Whole& given, const std::string& argument, long long low, long long high,
                  const std::string& expected) {
    if (!given.number || *given.number < low || *given.number > high)
        throw ArgumentError(argument, expected, Shown(given.value));
    return *given.number;
}

std::string TextOf(const Text& given, const std::string& argument, const std::string& expected) {
    if (!given.text || given.text->find('\0') != std::string::npos)
        throw ArgumentError(argument, expected, Shown(given.value));
    return *given.text;
}

OutputType TypeNamed(const Text& name) {
    const std::optional<OutputType> type = name.text ? OutputTypeNamed(*name.text) : std::nullopt;
    if (!type) throw ArgumentError("type", "one of " + OutputTypeNames(", "), Shown(name.value));
    return *type;
}

OutputType ImageTypeNamed(const Text& name) {
    const OutputType type = TypeNamed(name);
    if (type == OutputType::String)
        throw ArgumentError("type", "a numeric output type for an image", "\"string\"");
    return type;
}

int ThreadsOf(const std::optional<Whole>& threads) {
    if (!threads) return DefaultThreads();
    return static_cast<int>(WholeIn(*threads, "threads", 1, largestThreads,
                                    "a whole number from 1 to " + std::to_string(largestThreads)));
}

long long NumberOf(const Whole& given, const std::string& argument) {
    return WholeIn(given, argument, LLONG_MIN, LLONG_MAX, "a whole number");
}

RequestFields ArgumentFields(const std::string& format) {
    return {"type", "width", "height", "region",  "window", "samples",
            format, "depth", "linear", "threads", "parts",  "tile"};
}

ImageRequest RequestOf(const ImageArguments& arguments, std::optional<ImageFormat> format) {
    ImageRequest request;
    if (arguments.type) request.type = TypeNamed(*arguments.type);
    if (arguments.width) request.width = NumberOf(*arguments.width, "width");
    if (arguments.height) request.height = NumberOf(*arguments.height, "height");
    request.region = arguments.region;
    request.window = arguments.window;
    if (arguments.samples) request.samples = NumberOf(*arguments.samples, "samples");
    if (arguments.threads) request.threads = NumberOf(*arguments.threads, "threads");
    request.format = format;
    return request;
}

ImageRequest FileRequestOf(const ImageArguments& arguments, ImageFormat format,
                           const std::optional<Whole>& depth, bool linear) {
    ImageRequest request = RequestOf(arguments, format);
    if (depth) request.depth = NumberOf(*depth, "depth");
    request.linear = linear;
    return request;
}

int ImageChannels(const Pixels& pixels, OutputType type) {
    const bool image = pixels.ndim() == 3 && pixels.shape(0) >= 1 && pixels.shape(1) >= 1 &&
                       (pixels.shape(2) == 1 || pixels.shape(2) == 3 || pixels.shape(2) == 4);
    if (!image) {
        throw ArgumentError("image", "an array of height x width x channels reals, of 1, 3 or 4 channels");
    }
    if (pixels.shape(2) != ChannelsFor(type)) {
        throw ArgumentError("image",
                            std::to_string(ChannelsFor(type)) + " channels, as an image of output_type " +
                                std::string(OutputTypeName(type)) +
                                " has (np.asarray(image) is a plain array)",
                            std::to_string(pixels.shape(2)));
    }
    return static_cast<int>(pixels.shape(2));
}

namespace {

/// The four numbers of `value`, a sequence of four, each as `read` makes it of an item (a Python error
/// set when it cannot); else `refused`.
template <class T>
std::array<T, 4> FourFrom(py::handle value, const quib::Error& refused, T (*read)(PyObject*)) {
    if (!PySequence_Check(value.ptr()) || PyUnicode_Check(value.ptr()) || PyBytes_Check(value.ptr()) ||
        PySequence_Size(value.ptr()) != 4) {
        PyErr_Clear();
        throw refused;
    }
    std::array<T, 4> numbers{};
    std::size_t i = 0;
    for (py::handle item : py::reinterpret_borrow<py::sequence>(value)) {
        numbers[i++] = read(item.ptr());
        if (PyErr_Occurred()) {
            PyErr_Clear();
            throw refused;
        }
    }
    return numbers;
}

/// A finite real: a number, or what has __float__ (not a str).
double FiniteFrom(PyObject* item) {
    const double x = PyFloat_AsDouble(item);
    if (!PyErr_Occurred() && !std::isfinite(x)) PyErr_SetString(PyExc_ValueError, "not finite");
    return x;
}

/// A whole number of 64 bits: an int, or what has __index__ (not a float).
long long WholeOf(PyObject* item) {
    const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(item));
    return index ? PyLong_AsLongLong(index.ptr()) : 0;
}

}  // namespace

std::optional<std::array<double, 4>> RegionFrom(py::handle region) {
    if (region.is_none()) return std::nullopt;
    return FourFrom(region, ArgumentError("region", "four finite numbers A, B, C, D", Shown(region)),
                    FiniteFrom);
}

std::optional<std::array<long long, 4>> WindowFrom(py::handle window) {
    if (window.is_none()) return std::nullopt;
    return FourFrom(window, ArgumentError("window", "four whole numbers X, Y, W, H", Shown(window)), WholeOf);
}

}  // namespace vantrel::python
