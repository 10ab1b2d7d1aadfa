// Function::Save: a node's settings in the stored form.

#include <cmath>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/module_loader.h"
#include "quib/stored_form.h"
#include "quib/text.h"

namespace {

using quib::Json;

/// A real as JSON: a number, or "nan", "inf", "-inf" (which JSON has no numbers for).
Json RealJson(double value) {
    return std::isfinite(value) ? Json(value) : Json(quib::FormatReal(value));
}

Json ConstantJson(const Param& param) {
    const Param::Components& constant = param.Constant();
    if (param.Type() == PTYPE::Int) return TruncateToInt(constant[0]);
    if (param.ComponentCount() == 1) return RealJson(constant[0]);
    Json values = Json::array();
    for (int i = 0; i < param.ComponentCount(); ++i)
        values.push_back(RealJson(constant[i]));
    return values;
}

Json PointsJson(const std::vector<CurveHolder::Point>& points) {
    Json list = Json::array();
    for (const CurveHolder::Point& point : points)
        list.push_back({point.x, point.y});
    return list;
}

Json CurveJson(const CurveHolder& curve) {
    if (curve.Form() == 1) return PointsJson(curve.Points(0));
    Json channels = Json::object();
    for (int channel = 0; channel < curve.Form(); ++channel)
        channels[quib::channelNames[channel]] = PointsJson(curve.Points(channel));
    return channels;
}

Json StopsJson(const Gradient& gradient) {
    Json list = Json::array();
    for (const Gradient::Stop& stop : gradient.Stops()) {
        const Color& c = stop.colour;
        list.push_back({stop.position, {c.red, c.green, c.blue}});
    }
    return list;
}

}  // namespace

void Function::Save(QuibOutputStream& out) {
    try {
        Json& object = out.object;
        Plugin* descriptor = quib::FindDescriptor(ClassID());
        object["type"] = descriptor ? descriptor->TypeName() : TypeName();

        Json& stored = object["params"] = Json::object();
        for (const Param* param : params) {
            if (!param) continue;
            switch (param->Kind()) {
                case Param::Source::Constant:
                    stored[param->Name()] = ConstantJson(*param);
                    break;
                case Param::Source::Position:
                    stored[param->Name()] = {{"link", quib::positionLink}};
                    break;
                case Param::Source::Node: {
                    Function* source = param->LinkedNode();
                    stored[param->Name()] = {{"link", out.nodeId ? out.nodeId(source) : source->Name()}};
                    break;
                }
            }
        }
        if (!curves.empty()) {
            Json& stored = object["curves"] = Json::object();
            for (const CurveHolder* curve : curves) {
                if (curve) stored[curve->Name()] = CurveJson(*curve);
            }
        }
        if (!gradients.empty()) {
            Json& stored = object["gradients"] = Json::object();
            for (const Gradient* gradient : gradients) {
                if (gradient) stored[gradient->Label()] = StopsJson(*gradient);
            }
        }
    } catch (...) {
        // Nothing may unwind into a caller of another compiler: the form is dropped, and it says so.
        out.object = nullptr;
        out.failed = true;
    }
}
