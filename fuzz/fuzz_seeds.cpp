// Writes the seed corpora of the fuzz targets from the nodes' own stored forms:
//
//   fuzz_seeds NODE_DIR SCENE_DIR SERVE_DIR PART_DIR
//
// NODE_DIR gets, for every node type, its type byte followed by the stored form of a new node, of one
// with its parameters linked, of one with hostile constants, edited curves and gradients, and of one
// with curves and gradients of a thousand points. SCENE_DIR gets a scene of each node alone, on the
// sphere and on the plane, one that chains all of them, and scenes at the loader's limits and past them.
// SERVE_DIR gets requests of every kind the server takes; PART_DIR the parts of small renders, as
// fuzz_part_join reads them.

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fuzz/fuzz_common.h"
#include "host/curve_holder.h"
#include "host/gradient.h"
#include "host/param.h"
#include "quib/stored_form.h"
#include "scene/scene.h"
#include "scene/scene_format.h"
#include "tools/image/part_file.h"
#include "tools/image/part_pieces.h"

namespace {

using json = quib::Json;

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
    return {{"format", vantrel::sceneFormat}, {"nodes", nodes}, {"output", output}, {"domain", domain}};
}

/// A node of `type` with the id `id` whose first `links` parameters read `source` and the others the
/// sample position.
json Reading(const quib::NodeType& type, const std::string& id, const std::string& source,
             std::size_t links) {
    const std::unique_ptr<Function> node = type.Create();
    for (std::size_t i = 0; i < node->Params().size(); ++i)
        node->Params()[i]->LinkToPosition();
    json saved = Saved(*node);
    saved["id"] = id;
    for (std::size_t i = 0; i < std::min(links, node->Params().size()); ++i)
        saved["params"][node->Params()[i]->Name()] = {{"link", source}};
    return saved;
}

/// Scenes at the loader's limits and past them, far larger than the fuzzer would grow by itself: a
/// chain of links as long as allowed, and one longer; graphs whose links fan out and meet again, whose
/// samples cost just below the bound of evaluations and past it; lists nested as deep as a scene may,
/// and far deeper; a thousand nodes side by side.
void WriteLimits(const quib::Module& module, const std::string& sceneDir) {
    const quib::NodeType& distortion = *module.Find("W Distortion");
    const quib::NodeType& paint = *module.Find("Vector to color");
    for (const std::size_t links : {vantrel::maxLinkDepth, vantrel::maxLinkDepth + 1}) {
        json nodes = json::array({Reading(distortion, "n0", "", 0)});
        for (std::size_t i = 1; i <= links; ++i)
            nodes.push_back(Reading(distortion, "n" + std::to_string(i), "n" + std::to_string(i - 1), 1));
        Write(sceneDir + "/limit-chain-" + std::to_string(links) + ".json",
              Scene(nodes, "n" + std::to_string(links), {{"kind", "sphere"}}).dump());
    }
    // Each "Vector to color" reads the one before through both its parameters: 2^(k+1) - 1 evaluations.
    for (const int doublings : {15, 16, 40}) {
        json nodes = json::array({Reading(paint, "n0", "", 0)});
        for (int k = 1; k <= doublings; ++k)
            nodes.push_back(Reading(paint, "n" + std::to_string(k), "n" + std::to_string(k - 1), 2));
        Write(sceneDir + "/limit-doubling-" + std::to_string(doublings) + ".json",
              Scene(nodes, "n" + std::to_string(doublings), {{"kind", "sphere"}}).dump());
    }
    json wide = json::array();
    for (const quib::NodeType& type : module.Types()) {
        for (int i = 0; i < 200; ++i)
            wide.push_back(Reading(type, type.typeName + " " + std::to_string(i), "", 0));
    }
    Write(sceneDir + "/limit-wide.json", Scene(wide, wide[0]["id"], {{"kind", "sphere"}}).dump());
    const std::string head = R"({"format": "vantrel-scene/1", "output": "a", "nodes": )";
    for (const std::size_t levels : {std::size_t{5}, std::size_t{6}, std::size_t{100000}}) {
        Write(sceneDir + "/limit-nesting-" + std::to_string(levels) + ".json",
              head + std::string(levels, '[') + std::string(levels, ']') + "}");
    }
}

/// Stored forms of every node with curves and gradients of a thousand points, larger than the fuzzer
/// would grow by itself, and one nested far deeper than a stored form may.
void WriteLargeForms(const quib::Module& module, const std::string& nodeDir) {
    for (const quib::NodeType& type : module.Types()) {
        const std::unique_ptr<Function> node = type.Create();
        for (CurveHolder* curve : node->Curves()) {
            for (int channel = 0; channel < curve->Form(); ++channel) {
                std::vector<CurveHolder::Point> points;
                for (int i = 0; i < 1000; ++i)
                    points.push_back({i / 1000.0, (i % 7) / 6.0});
                curve->SetPoints(channel, points);
            }
        }
        for (Gradient* gradient : node->Gradients()) {
            std::vector<Gradient::Stop> stops;
            for (int i = 0; i < 1000; ++i)
                stops.push_back({i / 1000.0, {(i % 3) / 2.0, (i % 5) / 4.0, (i % 7) / 6.0}});
            gradient->SetStops(stops);
        }
        const std::string typeByte(1, static_cast<char>(type.index));
        Write(nodeDir + "/large-" + std::to_string(type.index), typeByte + Saved(*node).dump());
    }
    Write(nodeDir + "/large-nesting", std::string(1, '\0') + R"({"params": )" + std::string(100000, '[') +
                                          std::string(100000, ']') + "}");
}

/// An input of fuzz_serve: the body, then the choices it reads from the end of its input, last first:
/// of the method, the target and the headers (fuzz/fuzz_serve.cpp gives the lists).
std::string ServeInput(const std::string& body, int method, int target,
                       std::initializer_list<int> headers = {0, 0, 0, 0, 0}) {
    std::string input = body;
    for (auto header = std::rbegin(headers); header != std::rend(headers); ++header)
        input += static_cast<char>(*header);
    input += static_cast<char>(target);
    input += static_cast<char>(method);
    return input;
}

/// Requests of every kind the server takes, good ones, of the scenes given.
void WriteServeSeeds(const std::vector<json>& scenes, const std::string& serveDir) {
    enum Target {
        page = 0,
        types = 2,
        scene = 3,
        files = 5,
        open = 6,
        save = 7,
        check = 8,
        value = 9,
        curve = 10,
        gradient = 11,
        render = 12
    };
    constexpr int get = 0;
    constexpr int post = 1;
    Write(serveDir + "/page", ServeInput("", get, page));
    Write(serveDir + "/types", ServeInput("", get, types));
    Write(serveDir + "/scene", ServeInput("", get, scene));
    Write(serveDir + "/files", ServeInput("", get, files));
    Write(serveDir + "/open", ServeInput(R"({"file": "scene.json"})", post, open));
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        const std::string n = std::to_string(i);
        const json& each = scenes[i];
        Write(serveDir + "/check-" + n, ServeInput(json({{"scene", each}}).dump(), post, check));
        Write(serveDir + "/save-" + n,
              ServeInput(json({{"scene", each}, {"file", "new.json"}}).dump(), post, save));
        const json picture = {{"scene", each}, {"node", nullptr},   {"type", "color"},  {"width", 8},
                              {"height", 4},   {"region", nullptr}, {"client", "fuzz"}, {"job", "preview"}};
        Write(serveDir + "/render-" + n, ServeInput(picture.dump(), post, render));
        json at = picture;
        at.update({{"x", 3}, {"y", 1}});
        Write(serveDir + "/value-" + n, ServeInput(at.dump(), post, value));
        const json& node = each["nodes"][0];
        if (node.contains("curves") && !node["curves"].empty()) {
            const json ask = {{"scene", each},
                              {"node", node["id"]},
                              {"curve", node["curves"].begin().key()},
                              {"samples", 8}};
            Write(serveDir + "/curve-" + n, ServeInput(ask.dump(), post, curve));
        }
        if (node.contains("gradients") && !node["gradients"].empty()) {
            const json ask = {{"scene", each},
                              {"node", node["id"]},
                              {"gradient", node["gradients"].begin().key()},
                              {"samples", 8}};
            Write(serveDir + "/gradient-" + n, ServeInput(ask.dump(), post, gradient));
        }
    }
}

/// The parts of renders of `scene` as fuzz_part_join reads them, all in one input: each part's header
/// and pieces without the signature, the header's length and the checksum, the parts apart by the
/// signature. Small images, whose parts cut PNG bands (with the rows above them) and OpenEXR blocks,
/// and a flat one, whose PNG deflates its small bands as one stream.
void WritePartSeeds(const std::shared_ptr<const vantrel::ModuleSet>& modules, const std::string& partDir) {
    const json curves = {{"id", "c"}, {"type", "Curve3"}, {"params", {{"In", {{"link", "@position"}}}}}};
    const json flat = {{"id", "c"}, {"type", "Curve3"}, {"params", {{"In", {0.5, 0.25, 0}}}}};
    const json plane = {{"kind", "plane"}, {"min", {0, 0}}, {"max", {1, 1}}};
    using vantrel::ImageFormat;
    using vantrel::OutputType;
    const struct {
        const char* name;
        const json& node;
        int width, height, parts;
        ImageFormat format;
        int depth;
        OutputType type;
    } renders[] = {
        {"png-whole", curves, 64, 40, 1, ImageFormat::Png, 8, OutputType::Color},
        {"png-bands", curves, 300, 100, 4, ImageFormat::Png, 8, OutputType::Color},
        {"png-16", curves, 40, 30, 3, ImageFormat::Png, 16, OutputType::ColorA},
        {"png-flat", flat, 300, 300, 2, ImageFormat::Png, 8, OutputType::Double},
        {"exr-blocks", curves, 40, 45, 3, ImageFormat::Exr, 32, OutputType::Color},
    };
    const std::string signature(reinterpret_cast<const char*>(vantrel::partSignature),
                                sizeof vantrel::partSignature);
    for (const auto& each : renders) {
        const json root = Scene(json::array({each.node}), "c", plane);
        const vantrel::Scene scene = vantrel::Scene::Build(root, modules);
        const vantrel::ImagePlan plan{each.type,
                                      each.width,
                                      each.height,
                                      scene.Domain(),
                                      1,
                                      each.format,
                                      each.depth,
                                      vantrel::LevelsFor(each.type, false),
                                      1,
                                      std::nullopt,
                                      0};
        std::string input;
        for (int k = 1; k <= each.parts; ++k) {
            std::string part;
            vantrel::RenderPart(
                {plan.Render(scene.Output()), plan, root, modules->Versions(), k, each.parts},
                [&](std::span<const std::uint8_t> bytes) { part.append(bytes.begin(), bytes.end()); });
            const std::size_t headerEnd =
                signature.size() + 4 +
                vantrel::BigEndianAt(reinterpret_cast<const std::uint8_t*>(part.data()) + signature.size(),
                                     4);
            input += (k > 1 ? signature : "") +
                     part.substr(signature.size() + 4, headerEnd - signature.size() - 4) + "\n" +
                     part.substr(headerEnd, part.size() - 4 - headerEnd);
        }
        Write(partDir + "/" + each.name, input);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: fuzz_seeds NODE_DIR SCENE_DIR SERVE_DIR PART_DIR\n");
        return 2;
    }
    const std::string nodeDir = argv[1];
    const std::string sceneDir = argv[2];
    const std::string serveDir = argv[3];
    std::vector<json> servedScenes;
    const quib::Module& module = *vantrel::fuzz::TheModule();
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
        // (An initializer list of one json is that json, not a list of it.)
        Write(sceneDir + "/scene-" + index + "-sphere.json",
              Scene(json::array({alone}), "node", sphere).dump());
        servedScenes.push_back(Scene(json::array({alone}), "node", plane));
        Write(sceneDir + "/scene-" + index + "-plane.json",
              Scene(json::array({alone}), "node", plane).dump());

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
    WriteLimits(module, sceneDir);
    WriteLargeForms(module, nodeDir);
    WriteServeSeeds(servedScenes, serveDir);
    WritePartSeeds(vantrel::fuzz::TheModules(), argv[4]);
    return 0;
}
