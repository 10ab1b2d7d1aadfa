// The stored form of a node: Function::Save writes it, Function::Load checks all of it into a staging
// copy and only then applies it, so that a bad object leaves the node as it was.

#include "quib/stored_form.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/json_path.h"
#include "quib/module_loader.h"
#include "quib/text.h"

namespace quib {

std::string ClassIdText(unsigned int classId) {
    char hex[16];
    return "0x" + std::string(hex, std::to_chars(hex, hex + sizeof hex, classId, 16).ptr);
}

std::optional<unsigned int> ParseClassId(const std::string& text) {
    if (text.size() <= 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return std::nullopt;
    unsigned int classId = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data() + 2, end, classId, 16);
    if (stop != end || error != std::errc()) return std::nullopt;
    return classId;
}

StoredFormError::StoredFormError(const std::string& path, const std::string& expected)
    : std::runtime_error((path.empty() ? std::string("stored node") : path) + ": expected " + expected),
      path(path),
      expected(expected) {}

}  // namespace quib

namespace {

using nlohmann::json;
using quib::ElementPath;
using quib::MemberPath;
using quib::positionLink;
using quib::StoredFormError;

/// The keys of a stored form, in the order they are written.
constexpr const char* storedFormKeys[] = {"type", "params", "curves", "gradients"};
/// The channel names of a three-curve holder, in channel order.
constexpr const char* channelNames[] = {"red", "green", "blue"};

// ---- Writing

/// A real as JSON: a number, or "nan", "inf", "-inf" (which JSON has no numbers for).
json RealJson(double value) {
    return std::isfinite(value) ? json(value) : json(quib::FormatReal(value));
}

json ConstantJson(const Param& param) {
    const Param::Components& constant = param.Constant();
    if (param.Type() == PTYPE::Int) return TruncateToInt(constant[0]);
    if (param.ComponentCount() == 1) return RealJson(constant[0]);
    json values = json::array();
    for (int i = 0; i < param.ComponentCount(); ++i)
        values.push_back(RealJson(constant[i]));
    return values;
}

json PointsJson(const std::vector<CurveHolder::Point>& points) {
    json list = json::array();
    for (const CurveHolder::Point& point : points)
        list.push_back({point.x, point.y});
    return list;
}

json CurveJson(const CurveHolder& curve) {
    if (curve.Form() == 1) return PointsJson(curve.Points(0));
    json channels = json::object();
    for (int channel = 0; channel < curve.Form(); ++channel) {
        channels[channelNames[channel]] = PointsJson(curve.Points(channel));
    }
    return channels;
}

json StopsJson(const Gradient& gradient) {
    json list = json::array();
    for (const Gradient::Stop& stop : gradient.Stops()) {
        const Color& c = stop.colour;
        list.push_back({stop.position, {c.red, c.green, c.blue}});
    }
    return list;
}

// ---- Reading

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

/// `what` followed by the quoted names, or a note that there are none.
template <class List, class NameOf>
std::string OneOf(const std::string& what, const List& list, NameOf nameOf) {
    std::string text;
    for (const auto* item : list) {
        if (!item) continue;
        text += text.empty() ? "one of the " + what + " " : ", ";
        text += json(std::invoke(nameOf, *item)).dump();
    }
    return text.empty() ? "nothing here: this node has no " + what : text;
}

const json& Object(const json& value, const std::string& path) {
    if (!value.is_object()) throw StoredFormError(path, "an object");
    return value;
}

const json& Array(const json& value, const std::string& path, std::size_t size, const std::string& what) {
    if (!value.is_array() || value.size() != size) throw StoredFormError(path, what);
    return value;
}

/// A real: a number, or one of the strings "nan", "inf", "-inf".
std::optional<double> ReadReal(const json& value) {
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
std::optional<int> ReadInt(const json& value) {
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

double ReadFinite(const json& value, const std::string& path) {
    if (!value.is_number() || !std::isfinite(value.get<double>()))
        throw StoredFormError(path, "a finite number");
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
        const json& object = Object(in.object, in.path);
        // The type first: an object of another type is foreign, whatever else is wrong with it.
        if (const auto type = object.find("type"); type != object.end())
            ReadType(*type, MemberPath(in.path, "type"));
        for (const auto& [key, value] : object.items()) {
            const std::string path = MemberPath(in.path, key);
            if (key == "type") {
                continue;
            } else if (key == "params") {
                ReadParams(Object(value, path), path);
            } else if (key == "curves") {
                ReadCurves(Object(value, path), path);
            } else if (key == "gradients") {
                ReadGradients(Object(value, path), path);
            } else if (std::find(in.ignoredKeys.begin(), in.ignoredKeys.end(), key) == in.ignoredKeys.end()) {
                throw StoredFormError(path, KnownKeys());
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
    void ReadType(const json& value, const std::string& path) {
        const unsigned int classId = node.ClassID();
        Plugin* descriptor = quib::FindDescriptor(classId);
        const std::string typeName = node.TypeName();
        const std::string plugName = descriptor ? descriptor->TypeName() : typeName;
        const std::string classText = quib::ClassIdText(classId);

        std::string expected = "the type " + json(plugName).dump();
        if (typeName != plugName) expected += " or " + json(typeName).dump();
        expected += " or " + json(classText).dump();
        if (!value.is_string()) throw StoredFormError(path, expected);
        const std::string& text = value.get_ref<const std::string&>();
        if (text != typeName && text != plugName && quib::ParseClassId(text) != classId) {
            throw StoredFormError(path, expected + ", not " + value.dump());
        }
    }

    void ReadParams(const json& object, const std::string& path) {
        for (const auto& [name, value] : object.items()) {
            const std::string paramPath = MemberPath(path, name);
            Param* param = node.FindParam(name);
            if (!param) throw StoredFormError(paramPath, OneOf("parameters", node.Params(), &Param::Name));
            staging.params.push_back(ReadParam(*param, value, paramPath));
        }
    }

    Staging::ParamSetting ReadParam(Param& param, const json& value, const std::string& path) {
        if (value.is_object()) return ReadLink(param, value, path);
        const int count = param.ComponentCount();
        Param::Components constant{};
        if (param.Type() == PTYPE::Int) {
            const std::optional<int> whole = ReadInt(value);
            if (!whole)
                throw StoredFormError(path, "a whole number within " + RangeText(param) + ", or a link");
            constant[0] = *whole;
        } else if (count == 1) {
            const std::optional<double> real = ReadReal(value);
            if (!real) throw StoredFormError(path, "a number, or a link");
            constant[0] = *real;
        } else {
            Array(value, path, count, "a list of " + std::to_string(count) + " numbers, or a link");
            for (int i = 0; i < count; ++i) {
                const std::optional<double> real = ReadReal(value[i]);
                if (!real) throw StoredFormError(ElementPath(path, i), "a number");
                constant[i] = *real;
            }
        }
        if (!param.InRange(constant)) throw StoredFormError(path, "a value within " + RangeText(param));
        return {&param, Param::Source::Constant, nullptr, constant};
    }

    Staging::ParamSetting ReadLink(Param& param, const json& object, const std::string& path) {
        const auto link = object.find("link");
        const std::string position = json(positionLink).dump();
        if (object.size() != 1 || link == object.end()) {
            throw StoredFormError(path, "a value, or a link such as {\"link\": " + position + "}");
        }
        const std::string linkPath = MemberPath(path, "link");
        if (!link->is_string()) throw StoredFormError(linkPath, "a node id or " + position);
        const std::string& id = link->get_ref<const std::string&>();
        if (id == positionLink) return {&param, Param::Source::Position, nullptr, {}};
        Function* source = in.resolveLink ? in.resolveLink(id) : nullptr;
        if (!source)
            throw StoredFormError(
                linkPath, "a node id or " + position + ": no node with id " + quib::Excerpt(link->dump()));
        if (source == &node) throw StoredFormError(linkPath, "another node than this one");
        return {&param, Param::Source::Node, source, {}};
    }

    void ReadCurves(const json& object, const std::string& path) {
        for (const auto& [name, value] : object.items()) {
            const std::string curvePath = MemberPath(path, name);
            CurveHolder* curve = Find(node.Curves(), name, &CurveHolder::Name);
            if (!curve) throw StoredFormError(curvePath, OneOf("curves", node.Curves(), &CurveHolder::Name));
            if (curve->Form() == 1) {
                staging.curves.push_back({curve, 0, ReadPoints(value, curvePath)});
                continue;
            }
            for (const auto& [channelName, points] : Object(value, curvePath).items()) {
                const std::string channelPath = MemberPath(curvePath, channelName);
                const auto channel = std::find(std::begin(channelNames), std::end(channelNames), channelName);
                if (channel == std::end(channelNames)) {
                    throw StoredFormError(channelPath, "one of the channels \"red\", \"green\", \"blue\"");
                }
                const int index = static_cast<int>(channel - std::begin(channelNames));
                staging.curves.push_back({curve, index, ReadPoints(points, channelPath)});
            }
        }
    }

    static std::vector<CurveHolder::Point> ReadPoints(const json& value, const std::string& path) {
        if (!value.is_array() || value.empty())
            throw StoredFormError(path, "a list of at least one [x, y] point");
        std::vector<CurveHolder::Point> points;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::string pointPath = ElementPath(path, i);
            const json& pair = Array(value[i], pointPath, 2, "an [x, y] point");
            const CurveHolder::Point point{ReadFinite(pair[0], ElementPath(pointPath, 0)),
                                           ReadFinite(pair[1], ElementPath(pointPath, 1))};
            if (i > 0 && !(points.back().x < point.x)) {
                throw StoredFormError(ElementPath(pointPath, 0), "an x above the previous point's");
            }
            points.push_back(point);
        }
        return points;
    }

    void ReadGradients(const json& object, const std::string& path) {
        for (const auto& [label, value] : object.items()) {
            const std::string gradientPath = MemberPath(path, label);
            Gradient* gradient = Find(node.Gradients(), label, &Gradient::Label);
            if (!gradient) {
                throw StoredFormError(gradientPath, OneOf("gradients", node.Gradients(), &Gradient::Label));
            }
            staging.gradients.push_back({gradient, ReadStops(value, gradientPath)});
        }
    }

    static std::vector<Gradient::Stop> ReadStops(const json& value, const std::string& path) {
        if (!value.is_array() || value.empty()) {
            throw StoredFormError(path, "a list of at least one [position, [r, g, b]] stop");
        }
        std::vector<Gradient::Stop> stops;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::string stopPath = ElementPath(path, i);
            const json& pair = Array(value[i], stopPath, 2, "a [position, [r, g, b]] stop");
            const std::string colourPath = ElementPath(stopPath, 1);
            const json& rgb = Array(pair[1], colourPath, 3, "an [r, g, b] colour");
            const Gradient::Stop stop{ReadFinite(pair[0], ElementPath(stopPath, 0)),
                                      {ReadFinite(rgb[0], ElementPath(colourPath, 0)),
                                       ReadFinite(rgb[1], ElementPath(colourPath, 1)),
                                       ReadFinite(rgb[2], ElementPath(colourPath, 2))}};
            if (i > 0 && !(stops.back().position < stop.position)) {
                throw StoredFormError(ElementPath(stopPath, 0), "a position above the previous stop's");
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

void Function::Save(QuibOutputStream& out) {
    json& object = out.object;
    Plugin* descriptor = quib::FindDescriptor(ClassID());
    object["type"] = descriptor ? descriptor->TypeName() : TypeName();

    json& stored = object["params"] = json::object();
    for (const Param* param : params) {
        if (!param) continue;
        switch (param->Kind()) {
            case Param::Source::Constant:
                stored[param->Name()] = ConstantJson(*param);
                break;
            case Param::Source::Position:
                stored[param->Name()] = {{"link", positionLink}};
                break;
            case Param::Source::Node: {
                Function* source = param->LinkedNode();
                stored[param->Name()] = {{"link", out.nodeId ? out.nodeId(source) : source->Name()}};
                break;
            }
        }
    }
    if (!curves.empty()) {
        json& stored = object["curves"] = json::object();
        for (const CurveHolder* curve : curves) {
            if (curve) stored[curve->Name()] = CurveJson(*curve);
        }
    }
    if (!gradients.empty()) {
        json& stored = object["gradients"] = json::object();
        for (const Gradient* gradient : gradients) {
            if (gradient) stored[gradient->Label()] = StopsJson(*gradient);
        }
    }
}

void Function::Load(QuibInputStream& in) {
    const Staging staging = Reader(*this, in).Read();
    // Everything was checked: from here on nothing can fail for a reason of the stored form.
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
    for (const Staging::CurveSetting& setting : staging.curves)
        setting.curve->SetPoints(setting.channel, setting.points);
    for (const Staging::GradientSetting& setting : staging.gradients)
        setting.gradient->SetStops(setting.stops);
}
