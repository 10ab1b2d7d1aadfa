#pragma once
/// @file
/// The arguments of the package's calls as Python gives them, of any type. Each is checked where it is
/// used, and a value of the wrong type is refused as a wrong value is: as bad input (InputError) naming
/// the argument, what it takes and what it was given, never as pybind11's TypeError.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "quib/error.h"
#include "scene/output_type.h"
#include "tools/image/image_file.h"
#include "tools/render/image_request.h"

namespace vantrel::python {

namespace py = pybind11;
using Pixels = py::array_t<double, py::array::c_style | py::array::forcecast>;

/// A value given for a whole number: the number when it is one (an int or a numpy integer, not a
/// bool; one beyond 64 bits as the nearest that fits, which every range refuses), and the value as
/// given, for a message. Used with the interpreter's lock held.
struct Whole {
    std::optional<long long> number;
    py::object value;
};

/// A value given for text: its bytes when it is a str (UTF-8; a character that stands for a byte of a
/// file name that is not, as os.fsencode gives it, that byte), and the value as given, for a message.
/// Used with the interpreter's lock held.
struct Text {
    std::optional<std::string> text;
    py::object value;
};

/// How a message shows a value Python gave: a str quoted as the scene format quotes text, anything
/// else as its repr, cut to an excerpt.
std::string Shown(py::handle value);
Whole WholeFrom(py::handle value);
Text TextFrom(py::handle value);

/// Bad input in the argument `argument`: expected `expected`, not `found` (as shown).
quib::Error ArgumentError(const std::string& argument, std::string expected, std::string found = {});

/// The number `given` when it is a whole number from `low` to `high`; else bad input in `argument`,
/// which expected `expected`.
long long WholeIn(const Whole& given, const std::string& argument, long long low, long long high,
                  const std::string& expected);

/// The text `given` when it holds no NUL character, which would end it at the system's calls and in
/// messages; else bad input in `argument`, which expected `expected`.
std::string TextOf(const Text& given, const std::string& argument, const std::string& expected);

/// The output type `name` names.
OutputType TypeNamed(const Text& name);
/// The type of an image: any but string.
OutputType ImageTypeNamed(const Text& name);
/// Render threads: 1 to 1024, as --threads; none is one for each core.
int ThreadsOf(const std::optional<Whole>& threads);

/// A whole number given for `argument`, of any size: its range is the render's to check.
long long NumberOf(const Whole& given, const std::string& argument);

/// How the package's messages name the fields of a render: by its arguments, the format by `format`
/// (the file, or the argument that named the format).
RequestFields ArgumentFields(const std::string& format);

/// The channels of an image array of `type`, height x width x its channels: an image whose channels
/// are not its type's (a slice of three channels of four) is refused, not written as another type.
int ImageChannels(const Pixels& pixels, OutputType type);

/// What to render, as the arguments of `render` and `save_image` give it, None where not given; the
/// region is checked as it is given, the rest where the render is planned.
struct ImageArguments {
    std::optional<Whole> width;
    std::optional<Whole> height;
    std::optional<Text> type;
    std::optional<std::array<double, 4>> region;     ///< A, B, C, D
    std::optional<std::array<long long, 4>> window;  ///< X, Y, W, H
    std::optional<Whole> samples;
    std::optional<Text> node;
    std::optional<Whole> threads;
};

/// The render the arguments ask for, in a file of `format` (none: in memory).
ImageRequest RequestOf(const ImageArguments& arguments, std::optional<ImageFormat> format = {});
/// The same, written to a file of `format` with `depth` bits a channel (none: 8) and `linear` levels.
ImageRequest FileRequestOf(const ImageArguments& arguments, ImageFormat format,
                           const std::optional<Whole>& depth, bool linear);

/// The region `region` gives: None, or four finite numbers A, B, C, D.
std::optional<std::array<double, 4>> RegionFrom(py::handle region);
/// The window `window` gives: None, or four whole numbers X, Y, W, H.
std::optional<std::array<long long, 4>> WindowFrom(py::handle window);

}  // namespace vantrel::python

namespace pybind11::detail {

/// Any value converts to a Whole or a Text, checked where it is used. Only ever an argument.
template <class Value, Value (*from)(handle)>
struct AnyValueCaster {
    static constexpr auto name = const_name("object");
    template <class T>
    using cast_op_type = movable_cast_op_type<T>;

    bool load(handle source, bool) {
        value = from(source);
        return true;
    }
    operator Value*() { return &value; }
    operator Value&() { return value; }
    operator Value&&() && { return std::move(value); }

    Value value;
};

template <>
struct type_caster<vantrel::python::Whole>
    : AnyValueCaster<vantrel::python::Whole, vantrel::python::WholeFrom> {};
template <>
struct type_caster<vantrel::python::Text> : AnyValueCaster<vantrel::python::Text, vantrel::python::TextFrom> {
};

}  // namespace pybind11::detail
