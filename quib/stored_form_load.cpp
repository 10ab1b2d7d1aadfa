// Function::Load: the whole stored form is checked into a staging copy, which is then applied without
// anything that can fail, so that a bad or foreign object, or memory running out, leaves the node as
// it was.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <iterator>
#include <limits>
#include <optional>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/module_loader.h"
#include "quib/stored_form.h"
#include "quib/text.h"

namespace {

using quib::ElementPointer;
using Code = quib::Error::Code;
using quib::Json;
using quib::JsonExcerpt;
using quib::MemberPointer;

/// The keys of a stored form, in the order they are written.
constexpr const char* storedFormKeys[] = {"type", "params", "curves", "gradients"};

/// Everything a stored form sets, checked and ready to apply.
struct Staging {
    struct ParamSetting {
        Param* param;
        Param::Source source;
        Function* node;
        Param::Components constant;
    };
    struct CurveSetting {
        CurveHolder* curve;
        int channel;
        std::vector<CurveHolder::Point> points;
    };
    struct GradientSetting {
        Gradient* gradient;
        std::vector<Gradient::Stop> stops;
    };

    std::vector<ParamSetting> params;
    std::vector<CurveSetting> curves;
    std::vector<GradientSetting> gradients;
};

/// The stored form at `pointer` is not what was expected; `found` is what stood there, quoted.
[[noreturn]] void Refuse(quib::Error::Code code, const std::string& pointer, const std::string& expected,
                         std::string found = {}, std::string note = {}) {
    throw quib::Error::Expected(code, pointer, expected, std::move(found), std::move(note));
}

/// `what` followed by the quoted names, or a note that there are none.
template <class List, class NameOf>
std::string OneOf(const std::string& what, const List& list, NameOf nameOf) {
    std::string text;
    for (const auto* item : list) {
        if (!item) continue;
        text += text.empty() ? "one of the " + what + " " : ", ";
        text += quib::Quote(std::invoke(nameOf, *item));
    }
    return text.empty() ? "nothing here: this node has no " + what : text;
}

const Json& Object(const Json& value, const std::string& pointer) {
    if (!value.is_object()) Refuse(Code::WrongType, pointer, "an object", JsonExcerpt(value));
    return value;
}

const Json& Array(const Json& value, const std::string& pointer, std::size_t size, const std::string& what) {
    if (!value.is_array() || value.size() != size)
        Refuse(value.is_array() ? Code::OutOfRange : Code::WrongType, pointer, what, JsonExcerpt(value));
    return value;
}

/// A real: a number, or one of the strings "nan", "inf", "-inf".
std::optional<double> ReadReal(const Json& value) {
    if (value.is_number()) return value.get<double>();
    if (value.is_string()) {
        const std::string& text = value.get_ref<const std::string&>();
        for (double special :
             {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
              -std::numeric_limits<double>::infinity()}) {
            if (text == quib::FormatReal(special)) return special;
        }
    }
    return std::nullopt;
}

/// A whole number within the int range, given as an integer or as a real.
std::optional<int> ReadInt(const Json& value) {
    if (value.is_number_unsigned()) {
        const auto whole = value.get<std::uint64_t>();
        if (whole <= static_cast<std::uint64_t>(INT_MAX)) return static_cast<int>(whole);
    } else if (value.is_number_integer()) {
        const auto whole = value.get<std::int64_t>();
        if (whole >= INT_MIN && whole <= INT_MAX) return static_cast<int>(whole);
    } else if (value.is_number_float()) {
        const double real = value.get<double>();
        if (std::trunc(real) == real && real >= INT_MIN && real <= INT_MAX) return static_cast<int>(real);
    }
    return std::nullopt;
}

double ReadFinite(const Json& value, const std::string& pointer) {
    if (!value.is_number() || !std::isfinite(value.get<double>()))
        Refuse(value.is_number() ? Code::OutOfRange : Code::WrongType, pointer, "a finite number",
               JsonExcerpt(value));
    return value.get<double>();
}

/// The range of a parameter as text: "low .. high", each a number or a list of components.
std::string RangeText(const Param& param) {
    auto bound = [&](const Param::Components& value) {
        if (param.ComponentCount() == 1) return quib::FormatReal(value[0]);
        std::string text = "[";
        for (int i = 0; i < param.ComponentCount(); ++i) {
            if (i > 0) text += ", ";
            quib::AppendReal(text, value[i]);
        }
        return text + "]";
    };
    return bound(param.Minimum()) + " .. " + bound(param.Maximum());
}

/// Reads the stored form of one node into a staging copy, checking everything on the way.
class Reader {
public:
    Reader(Function& node, const QuibInputStream& in) : node(node), in(in) {}

    Staging Read() {
        const Json& object = Object(in.object, in.pointer);
        // The type first: an object of another type is foreign, whatever else is wrong with it.
        if (const auto type = object.find("type"); type != object.end())
            ReadType(*type, MemberPointer(in.pointer, "type"));
        for (const auto& [key, value] : object.items()) {
            const std::string pointer = MemberPointer(in.pointer, key);
            if (key == "type") {
                continue;
            } else if (key == "params") {
                ReadParams(Object(value, pointer), pointer);
            } else if (key == "curves") {
                ReadCurves(Object(value, pointer), pointer);
            } else if (key == "gradients") {
                ReadGradients(Object(value, pointer), pointer);
            } else if (std::find(in.ignoredKeys.begin(), in.ignoredKeys.end(), key) == in.ignoredKeys.end()) {
                Refuse(Code::UnknownMember, pointer, KnownKeys());
            }
        }
        return std::move(staging);
    }

private:
    /// "one of the keys ...": those the caller lets through, then the stored form's own.
    std::string KnownKeys() const {
        std::vector<std::string> keys = in.ignoredKeys;
        keys.insert(keys.end(), std::begin(storedFormKeys), std::end(storedFormKeys));
        std::vector<const std::string*> list;
        for (const std::string& key : keys)
            list.push_back(&key);
        return OneOf("keys", list, std::identity());
    }

    /// The type must be this node's: its own type name, its descriptor's, or its class id in hex.
    void ReadType(const Json& value, const std::string& pointer) {
        const unsigned int classId = node.ClassID();
        Plugin* descriptor = quib::FindDescriptor(classId);
        const std::string typeName = node.TypeName();
        const std::string plugName = descriptor ? descriptor->TypeName() : typeName;

        std::string expected = "the type " + quib::Quote(plugName);
        if (typeName != plugName) expected += " or " + quib::Quote(typeName);
        expected += " or " + quib::Quote(quib::ClassIdText(classId));
        const bool same = value.is_string() && (value == typeName || value == plugName ||
                                                quib::ParseClassId(value.get<std::string>()) == classId);
        if (!same) Refuse(Code::BadValue, pointer, expected, JsonExcerpt(value));
    }

    void ReadParams(const Json& object, const std::string& pointer) {
        for (const auto& [name, value] : object.items()) {
            const std::string paramPointer = MemberPointer(pointer, name);
            Param* param = node.FindParam(name);
            if (!param)
                Refuse(Code::UnknownMember, paramPointer, OneOf("parameters", node.Params(), &Param::Name));
            staging.params.push_back(ReadParam(*param, value, paramPointer));
        }
    }

    Staging::ParamSetting ReadParam(Param& param, const Json& value, const std::string& pointer) {
        if (value.is_object()) return ReadLink(param, value, pointer);
        const int count = param.ComponentCount();
        Param::Components constant{};
        if (param.Type() == PTYPE::Int) {
            const std::optional<int> whole = ReadInt(value);
            if (!whole)
                Refuse(value.is_number() ? Code::OutOfRange : Code::WrongType, pointer,
                       "a whole number within " + RangeText(param) + ", or a link", JsonExcerpt(value));
            constant[0] = *whole;
        } else if (count == 1) {
            const std::optional<double> real = ReadReal(value);
            if (!real) Refuse(Code::WrongType, pointer, "a number, or a link", JsonExcerpt(value));
            constant[0] = *real;
        } else {
            Array(value, pointer, count, "a list of " + std::to_string(count) + " numbers, or a link");
            for (int i = 0; i < count; ++i) {
                const std::optional<double> real = ReadReal(value[i]);
                if (!real)
                    Refuse(Code::WrongType, ElementPointer(pointer, i), "a number", JsonExcerpt(value[i]));
                constant[i] = *real;
            }
        }
        if (!param.InRange(constant))
            Refuse(Code::OutOfRange, pointer, "a value within " + RangeText(param), JsonExcerpt(value));
        return {&param, Param::Source::Constant, nullptr, constant};
    }

    Staging::ParamSetting ReadLink(Param& param, const Json& object, const std::string& pointer) {
        const auto link = object.find("link");
        const std::string position = quib::Quote(quib::positionLink);
        if (object.size() != 1 || link == object.end())
            Refuse(Code::BadValue, pointer, "a value, or a link such as {\"link\": " + position + "}",
                   JsonExcerpt(object));
        const std::string linkPointer = MemberPointer(pointer, "link");
        if (!link->is_string())
            Refuse(Code::WrongType, linkPointer, "a node id or " + position, JsonExcerpt(*link));
        const std::string& id = link->get_ref<const std::string&>();
        if (id == quib::positionLink) return {&param, Param::Source::Position, nullptr, {}};
        Function* source = in.resolveLink ? in.resolveLink(id) : nullptr;
        if (!source)
            Refuse(Code::UnknownNode, linkPointer, "a node id or " + position, quib::Quote(id),
                   "there is no such node");
        if (source == &node)
            Refuse(Code::BadLink, linkPointer, "another node than this one", quib::Quote(id));
        return {&param, Param::Source::Node, source, {}};
    }

    void ReadCurves(const Json& object, const std::string& pointer) {
        for (const auto& [name, value] : object.items()) {
            const std::string curvePointer = MemberPointer(pointer, name);
            CurveHolder* curve = Find(node.Curves(), name, &CurveHolder::Name);
            if (!curve)
                Refuse(Code::UnknownMember, curvePointer, OneOf("curves", node.Curves(), &CurveHolder::Name));
            if (curve->Form() == 1) {
                staging.curves.push_back({curve, 0, ReadPoints(value, curvePointer)});
                continue;
            }
            for (const auto& [channelName, points] : Object(value, curvePointer).items()) {
                const std::string channelPointer = MemberPointer(curvePointer, channelName);
                const auto* channel =
                    std::find(std::begin(quib::channelNames), std::end(quib::channelNames), channelName);
                if (channel == std::end(quib::channelNames))
                    Refuse(Code::UnknownMember, channelPointer,
                           "one of the channels \"red\", \"green\", \"blue\"");
                const int index = static_cast<int>(channel - std::begin(quib::channelNames));
                staging.curves.push_back({curve, index, ReadPoints(points, channelPointer)});
            }
        }
    }

    static std::vector<CurveHolder::Point> ReadPoints(const Json& value, const std::string& pointer) {
        if (!value.is_array() || value.empty())
            Refuse(value.is_array() ? Code::OutOfRange : Code::WrongType, pointer,
                   "a list of at least one [x, y] point", JsonExcerpt(value));
        std::vector<CurveHolder::Point> points;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::string pointPointer = ElementPointer(pointer, i);
            const Json& pair = Array(value[i], pointPointer, 2, "an [x, y] point");
            const CurveHolder::Point point{ReadFinite(pair[0], ElementPointer(pointPointer, 0)),
                                           ReadFinite(pair[1], ElementPointer(pointPointer, 1))};
            if (i > 0 && !(points.back().x < point.x)) {
                Refuse(Code::NotIncreasing, ElementPointer(pointPointer, 0),
                       "an x above the previous point's, " + quib::FormatReal(points.back().x),
                       quib::FormatReal(point.x));
            }
            points.push_back(point);
        }
        return points;
    }

    void ReadGradients(const Json& object, const std::string& pointer) {
        for (const auto& [label, value] : object.items()) {
            const std::string gradientPointer = MemberPointer(pointer, label);
            Gradient* gradient = Find(node.Gradients(), label, &Gradient::Label);
            if (!gradient)
                Refuse(Code::UnknownMember, gradientPointer,
                       OneOf("gradients", node.Gradients(), &Gradient::Label));
            staging.gradients.push_back({gradient, ReadStops(value, gradientPointer)});
        }
    }

    static std::vector<Gradient::Stop> ReadStops(const Json& value, const std::string& pointer) {
        if (!value.is_array() || value.empty())
            Refuse(value.is_array() ? Code::OutOfRange : Code::WrongType, pointer,
                   "a list of at least one [position, [r, g, b]] stop", JsonExcerpt(value));
        std::vector<Gradient::Stop> stops;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::string stopPointer = ElementPointer(pointer, i);
            const Json& pair = Array(value[i], stopPointer, 2, "a [position, [r, g, b]] stop");
            const std::string colourPointer = ElementPointer(stopPointer, 1);
            const Json& rgb = Array(pair[1], colourPointer, 3, "an [r, g, b] colour");
            const Gradient::Stop stop{ReadFinite(pair[0], ElementPointer(stopPointer, 0)),
                                      {ReadFinite(rgb[0], ElementPointer(colourPointer, 0)),
                                       ReadFinite(rgb[1], ElementPointer(colourPointer, 1)),
                                       ReadFinite(rgb[2], ElementPointer(colourPointer, 2))}};
            if (i > 0 && !(stops.back().position < stop.position)) {
                Refuse(Code::NotIncreasing, ElementPointer(stopPointer, 0),
                       "a position above the previous stop's, " + quib::FormatReal(stops.back().position),
                       quib::FormatReal(stop.position));
            }
            stops.push_back(stop);
        }
        return stops;
    }

    template <class T, class NameOf>
    static T* Find(const std::vector<T*>& list, const std::string& name, NameOf nameOf) {
        for (T* item : list) {
            if (item && (item->*nameOf)() == name) return item;
        }
        return nullptr;
    }

    Function& node;
    const QuibInputStream& in;
    Staging staging;
};

}  // namespace

void Function::Load(QuibInputStream& in) {
    in.failure.reset();
    try {
        Staging staging = Reader(*this, in).Read();
        // The new curves are made before anything changes; from here on nothing can fail.
        std::vector<CurveHolder::Curve> made;
        made.reserve(staging.curves.size());
        for (const Staging::CurveSetting& setting : staging.curves)
            made.push_back(CurveHolder::MakeCurve(setting.points));
        for (const Staging::ParamSetting& setting : staging.params) {
            switch (setting.source) {
                case Param::Source::Constant:
                    setting.param->SetConstant(setting.constant);
                    break;
                case Param::Source::Position:
                    setting.param->LinkToPosition();
                    break;
                case Param::Source::Node:
                    setting.param->LinkTo(setting.node);
                    break;
            }
        }
        for (std::size_t i = 0; i < staging.curves.size(); ++i)
            staging.curves[i].curve->Take(staging.curves[i].channel, std::move(made[i]));
        for (Staging::GradientSetting& setting : staging.gradients)
            setting.gradient->Take(std::move(setting.stops));
    } catch (quib::Error& error) {
        in.failure.emplace(std::move(error));
    } catch (...) {
        // Memory ran out: the message fits in a string's own room, so making it allocates nothing.
        in.failure.emplace(quib::Error::Kind::Failure, "out of memory");
    }
}
