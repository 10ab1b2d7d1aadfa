// Writes the seed corpora of the fuzz targets from the nodes' own stored forms:
//
//   fuzz_seeds NODE_DIR SCENE_DIR
//
// NODE_DIR gets, for every node type, its type byte followed by the stored form of a new node, of one
// with its parameters linked, and of one with hostile constants, edited curves and gradients. SCENE_DIR
// gets a scene of each node alone, on the sphere and on the plane, and one that chains all of them.

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_common.h"
#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/scene.h"
#include "quib/stored_form.h"

namespace {

using nlohmann::json;

void Write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

/// The stored form of `node`; a link to another node is written with `ids`' id for it.
json Saved(Function& node, const std::vector<std::pair<const Function*, std::string>>& ids = {}) {
    QuibOutputStream out;
    out.nodeId = [&](const Function* linked) {
        for (const auto& [each, id] : ids) {
            if (each == linked) return id;
        }
        return std::string("source");
    };
    node.Save(out);
    return out.object;
}

/// Every parameter linked, in turn to the sample position and to another node.
void LinkEverything(Function& node, Function& source) {
    for (std::size_t i = 0; i < node.Params().size(); ++i) {
        Param& param = *node.Params()[i];
        if (i % 2 == 0) {
            param.LinkToPosition();
        } else {
            param.LinkTo(&source);
        }
    }
}

/// Not-a-number, infinities and huge values as constants; curves and gradients of three points.
void EditEverything(Function& node) {
    const double values[] = {vantrel::fuzz::nan, 1e308, -1e308, 2147483647.0};
    for (std::size_t i = 0; i < node.Params().size(); ++i) {
        const double v = values[i % std::size(values)];
        node.Params()[i]->SetConstant({v, -v, 0.5, v});
    }
    for (CurveHolder* curve : node.Curves()) {
        const double low = curve->InputLow(), high = curve->InputHigh();
        for (int channel = 0; channel < curve->Form(); ++channel)
            curve->SetPoints(channel, {{low, 1.0}, {(low + high) / 2, 0.25}, {high, 0.5 + channel}});
    }
    for (Gradient* gradient : node.Gradients())
        gradient->SetStops({{-1.0, {1, 0, 0}}, {0.5, {0, 1, 0}}, {2.0, {0, 0, 1}}});
}

json Scene(const json& nodes, const std::string& output, const json& domain) {
    return {{"format", quib::sceneFormat}, {"nodes", nodes}, {"output", output}, {"domain", domain}};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: fuzz_seeds NODE_DIR SCENE_DIR\n");
        return 2;
    }
    const std::string nodeDir = argv[1];
    const std::string sceneDir = argv[2];
    const quib::Module& module = vantrel::fuzz::TheModule();
    const json sphere = {{"kind", "sphere"}};
    const json plane = {{"kind", "plane"}, {"min", {-2, -1}}, {"max", {2, 1}}};

    json chain = json::array();
    std::vector<std::unique_ptr<Function>> chained;
    std::vector<std::pair<const Function*, std::string>> ids;
    for (const quib::NodeType& type : module.Types()) {
        const std::string index = std::to_string(type.index);
        const std::string typeByte(1, static_cast<char>(type.index));
        const std::unique_ptr<Function> source = module.Find("W Distortion")->Create();

        const std::unique_ptr<Function> node = type.Create();
        Write(nodeDir + "/node-" + index + "-new", typeByte + Saved(*node).dump());
        json alone = Saved(*node);
        alone["id"] = "node";
        Write(sceneDir + "/scene-" + index + "-sphere.json", Scene({alone}, "node", sphere).dump());
        Write(sceneDir + "/scene-" + index + "-plane.json", Scene({alone}, "node", plane).dump());

        LinkEverything(*node, *source);
        Write(nodeDir + "/node-" + index + "-linked", typeByte + Saved(*node).dump());
        const std::unique_ptr<Function> edited = type.Create();
        EditEverything(*edited);
        Write(nodeDir + "/node-" + index + "-edited", typeByte + Saved(*edited).dump());

        // The chain: each node's first parameter reads the node before it, the others the position.
        chained.push_back(type.Create());
        Function& link = *chained.back();
        ids.emplace_back(&link, "n" + index);
        for (Param* param : link.Params())
            param->LinkToPosition();
        if (chained.size() > 1) link.Params()[0]->LinkTo(chained[chained.size() - 2].get());
    }
    for (const auto& [node, id] : ids) {
        json saved = Saved(*const_cast<Function*>(node), ids);
        saved["id"] = id;
        chain.push_back(saved);
    }
    Write(sceneDir + "/scene-chain.json", Scene(chain, ids.back().second, sphere).dump());
    return 0;
}
