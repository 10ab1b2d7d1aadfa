// libFuzzer target: Function::Load of every node type of both modules. The first byte picks the type
// (modulo their count); the rest is the stored form, as JSON, read by the host's strict parser.
// A link may name "source", a W Distortion node that reads the sample position.
//
// Promises checked beside the sanitizers':
// - Load accepts the stored form or marks the stream failed (throwing nothing), and a refused form
//   leaves the node as it was (it saves as before);
// - every curve of a node that loaded stays within its points' y, and every gradient within its stops'
//   colours, at and between the points and beyond the ends (no overshoot, no not-a-number);
// - a node that loaded evaluates in every output type; saved, written as text, read back by the parser
//   and loaded into a new node, it saves the same and evaluates bit-identically; so does its clone.

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_common.h"
#include "host/curve_holder.h"
#include "host/gradient.h"
#include "quib/stored_form.h"
#include "scene/json_reader.h"

namespace {

using json = quib::Json;
using vantrel::fuzz::Broken;
using vantrel::fuzz::TheModule;
using vantrel::fuzz::TheModules;

/// The node every link of a stored form may name.
struct LinkSource {
    LinkSource() {
        node = TheModule()->Find("W Distortion")->Create();
        node->FindParam("Position")->LinkToPosition();
        node->FindParam("Distortion")->SetConstant({3.5});
    }
    std::unique_ptr<Function> node;
    const std::string id = "source";
};

const LinkSource& Source() {
    static const LinkSource source;
    return source;
}

json Saved(Function& node) {
    QuibOutputStream out;
    out.nodeId = [](const Function* linked) { return linked == Source().node.get() ? Source().id : "?"; };
    node.Save(out);
    return out.object;
}

/// Loads `object` into `node`; false when the stored form was refused.
bool Load(Function& node, const json& object) {
    QuibInputStream in(object);
    in.resolveLink = [](const std::string& id) { return id == Source().id ? Source().node.get() : nullptr; };
    node.Load(in);
    return !in.failure;
}

/// Where to look at a curve or gradient with these knots: at each knot, just after it, half-way to the
/// next (computed without overflow), and far beyond both ends.
std::vector<double> Probes(const std::vector<double>& knots) {
    const double inf = std::numeric_limits<double>::infinity();
    std::vector<double> probes = {-inf, -1e308, 1e308, inf};
    for (std::size_t i = 0; i < knots.size(); ++i) {
        probes.push_back(knots[i]);
        if (i + 1 == knots.size()) continue;
        probes.push_back(std::nextafter(knots[i], inf));
        probes.push_back(knots[i] / 2 + knots[i + 1] / 2);
    }
    return probes;
}

/// The least and the greatest of `values`, found once for all the probes of a curve or gradient: a
/// search per probe made a seed of thousands of points take seconds.
struct Range {
    explicit Range(const std::vector<double>& values) {
        const auto [least, greatest] = std::minmax_element(values.begin(), values.end());
        low = *least;
        high = *greatest;
    }
    double low, high;
};

void CheckWithin(double value, const Range& range, const std::string& what) {
    if (!(range.low <= value && value <= range.high)) Broken(what + " leaves the range of its points");
}

void CheckCurvesAndGradients(const Function& node) {
    for (const CurveHolder* curve : node.Curves()) {
        for (int channel = 0; channel < curve->Form(); ++channel) {
            std::vector<double> xs, ys;
            for (const CurveHolder::Point& point : curve->Points(channel)) {
                xs.push_back(point.x);
                ys.push_back(point.y);
            }
            const Range range(ys);
            for (const double x : Probes(xs)) {
                const double y = curve->Form() == 1 ? curve->EvalGrey(x)
                                 : channel == 0     ? curve->EvalRed(x)
                                 : channel == 1     ? curve->EvalGreen(x)
                                                    : curve->EvalBlue(x);
                CheckWithin(y, range, "curve " + curve->Name());
            }
        }
    }
    for (const Gradient* gradient : node.Gradients()) {
        std::vector<double> positions, reds, greens, blues;
        for (const Gradient::Stop& stop : gradient->Stops()) {
            positions.push_back(stop.position);
            reds.push_back(stop.colour.red);
            greens.push_back(stop.colour.green);
            blues.push_back(stop.colour.blue);
        }
        const Range red(reds), green(greens), blue(blues);
        for (const double position : Probes(positions)) {
            Color colour;
            gradient->GetColour(position, colour);
            CheckWithin(colour.red, red, "gradient " + gradient->Label());
            CheckWithin(colour.green, green, "gradient " + gradient->Label());
            CheckWithin(colour.blue, blue, "gradient " + gradient->Label());
        }
    }
}

/// Brings the node up to date and evaluates it everywhere.
std::string Evaluations(Function& node) {
    FunContext context{};
    node.Update(0, &context);
    return vantrel::fuzz::EvalEverywhere(node);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    Source();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const std::vector<const quib::NodeType*> types = TheModules()->Types();
    const quib::NodeType& type = *types[data[0] % types.size()];
    std::optional<vantrel::JsonDocument> parsed;
    try {
        parsed.emplace(vantrel::JsonDocument::Parse(
            std::string(reinterpret_cast<const char*>(data) + 1, size - 1), quib::storedFormNesting));
    } catch (const quib::Error&) {
        return 0;
    }
    const json& object = parsed->Value();

    const std::unique_ptr<Function> node = type.Create();
    const json before = Saved(*node);
    if (!Load(*node, object)) {
        if (Saved(*node) != before) Broken(type.typeName + ": a refused stored form changed the node");
        return 0;
    }
    CheckCurvesAndGradients(*node);
    vantrel::fuzz::BoundIterations(*node);  // before it is saved, so that every copy has the bound
    const std::string values = Evaluations(*node);

    const json saved = Saved(*node);
    const std::unique_ptr<Function> reloaded = type.Create();
    try {
        if (!Load(*reloaded, vantrel::JsonDocument::Parse(saved.dump(), quib::storedFormNesting).Value()))
            Broken(type.typeName + ": its own stored form was refused");
    } catch (const quib::Error& error) {
        Broken(type.typeName + ": its own stored form is not JSON the parser reads: " + error.what());
    }
    if (Saved(*reloaded) != saved) Broken(type.typeName + ": saved, loaded and saved again differs");
    if (Evaluations(*reloaded) != values) Broken(type.typeName + ": saved and loaded evaluates differently");

    const std::unique_ptr<Plugged> clone(node->Clone(0, 0));
    auto* cloned = dynamic_cast<Function*>(clone.get());
    if (!cloned) Broken(type.typeName + ": no clone");
    if (Evaluations(*cloned) != values) Broken(type.typeName + ": the clone evaluates differently");
    return 0;
}
