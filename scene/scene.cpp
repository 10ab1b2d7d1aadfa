#include "scene/scene.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <limits>
#include <map>
#include <new>
#include <numbers>
#include <optional>
#include <system_error>

#include <nlohmann/json.hpp>

#include "quib/json_path.h"
#include "quib/stored_form.h"
#include "quib/text.h"
#include "scene/json_reader.h"

namespace vantrel {

using nlohmann::json;
using quib::ClassIdText;
using quib::ElementPath;
using quib::Excerpt;
using quib::MemberPath;
using quib::Module;
using quib::NodeType;
using quib::ParseClassId;
using quib::positionLink;
using quib::StoredFormError;
using quib::storedFormNesting;

SceneError::SceneError(const std::string& file, const std::string& where, const std::string& expected,
                       Place place)
    : std::runtime_error(file + ": " + where + ": " + expected),
      path(place == Place::JsonPath ? where : "") {}

namespace {

/// Whether an extent of the plane, max - min, overflows: the largest doubles are 1.8e308 from 0.
bool Overflows(const Vec2d& min, const Vec2d& max) {
    return std::isinf(max.x - min.x) || std::isinf(max.y - min.y);
}

/// The point the fraction t of the way from a to b. Where b - a overflows, the same from a / 2 to b / 2,
/// doubled: halving is exact for numbers that large, and half of any extent fits in a double.
double Along(double a, double b, double t, bool overflows) {
    return overflows ? 2.0 * (a / 2.0 + t * (b / 2.0 - a / 2.0)) : a + t * (b - a);
}

}  // namespace

Vec3d SampleDomain::Position(double u, double v) const {
    if (kind == Kind::Plane) {
        const bool overflows = Overflows(min, max);
        return {Along(min.x, max.x, u, overflows), Along(max.y, min.y, v, overflows), 0.0};
    }
    constexpr double radian = std::numbers::pi / 180.0;
    const double longitude =
        sphereWindow ? Along(min.x, max.x, u, false) * radian : (2.0 * u - 1.0) * std::numbers::pi;
    const double latitude =
        sphereWindow ? Along(max.y, min.y, v, false) * radian : (0.5 - v) * std::numbers::pi;
    const double ring = std::cos(latitude);  // the radius of the circle of latitude
    return {ring * std::cos(longitude), ring * std::sin(longitude), std::sin(latitude)};
}

double SampleDomain::HeightFor(int width) const {
    // Halving both extents where one overflows keeps their ratio.
    const double scale = Overflows(min, max) ? 0.5 : 1.0;
    const double aspect = kind == Kind::Sphere && !sphereWindow
                              ? 0.5
                              : (max.y * scale - min.y * scale) / (max.x * scale - min.x * scale);
    const double height = std::round(width * aspect);
    // Not-a-number, from a plane without extent (which loading refuses), becomes 1 too; a ratio beyond
    // the largest double, from a plane far narrower than high, that double.
    return !(height >= 1.0) ? 1.0 : std::min(height, std::numeric_limits<double>::max());
}

namespace {

std::string Quoted(const std::string& text) {
    return json(text).dump();
}

/// The most names a message lists.
constexpr std::size_t listedNames = 12;

/// "a", "b" and "c": a list of names for a message, each cut to a readable length; past `listedNames`,
/// the first ones and how many more there are.
std::string NameList(const std::vector<std::string>& names) {
    const std::size_t shown = names.size() > listedNames ? listedNames - 1 : names.size();
    std::string list;
    for (std::size_t i = 0; i < shown; ++i) {
        if (i > 0) list += i + 1 == names.size() ? " and " : ", ";
        list += Excerpt(names[i]);
    }
    if (shown < names.size()) list += " and " + std::to_string(names.size() - shown) + " more";
    return list;
}

/// The keys of a scene's top level.
constexpr const char* sceneKeys[] = {"format", "description", "nodes", "output", "domain"};

/// The most lists and objects a scene holds one inside the other: its nodes' stored forms, in the list
/// "nodes", in the top level.
constexpr std::size_t sceneNesting = storedFormNesting + 2;

/// A value that is not there, for keys a scene leaves out.
const json& Missing() {
    static const json missing;
    return missing;
}

/// The member `key` of `object`, or Missing().
const json& Get(const json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? Missing() : *found;
}

/// A scene that is sound as a graph: every node has a unique id and a known type, every link and the
/// output name a node, no links form a cycle and no chain of links is too deep to evaluate.
struct CheckedScene {
    std::map<std::string, std::size_t> indexOf;  ///< node id to its index
    std::vector<const NodeType*> types;          ///< each node's type, in the order of the file
    std::vector<std::size_t> updateOrder;        ///< node indices, each after the nodes it reads
    std::size_t output = 0;                      ///< the index of the output node
    SampleDomain domain;
};

/// Reads a scene's JSON and checks it as a graph. Every error names the file.
class SceneChecker {
public:
    SceneChecker(const std::string& fileName, const Module& module) : fileName(fileName), module(module) {}

    CheckedScene Check(const json& root);

private:
    /// One link of a node, which has a parameter that reads node `source`.
    struct Link {
        std::size_t source = 0;
        std::string path;  ///< the JSON path of the link's id
    };

    [[noreturn]] void Fail(const std::string& where, const std::string& expected) const {
        throw SceneError(fileName, where, expected);
    }

    void CheckRoot(const json& root) const;
    void ReadNodes(const json& nodes);
    const NodeType* ReadType(const json& type, const std::string& path) const;
    std::size_t ReadId(const json& id, const std::string& path, const std::string& expected) const;
    void ReadLinks(const json& node, std::size_t reader, const std::string& path);
    std::vector<std::size_t> UpdateOrder() const;
    void CheckCost(const std::vector<std::size_t>& updateOrder) const;
    /// A node on the stack of the search for the update order.
    struct Step {
        std::size_t node = 0;
        const Link* via = nullptr;  ///< the link that led the search here; null at the start
        std::size_t nextLink = 0;   ///< how many of the node's links the search has followed
    };
    [[noreturn]] void FailCycle(const std::vector<Step>& stack, const Link& link) const;
    SampleDomain ReadDomain(const json& domain) const;
    Vec2d ReadPoint(const json& point, const std::string& path) const;

    std::string fileName;
    const Module& module;
    std::vector<std::string> ids;                ///< node ids, in the order of the file
    std::map<std::string, std::size_t> indexOf;  ///< node id to its index
    std::vector<const NodeType*> types;          ///< each node's type
    std::vector<std::vector<Link>> reads;        ///< each node's links to its sources
};

void SceneChecker::CheckRoot(const json& root) const {
    if (!root.is_object())
        throw SceneError(fileName, "(top level)",
                         "expected an object with \"format\", \"nodes\" and \"output\"",
                         SceneError::Place::Other);
    for (const auto& [key, value] : root.items()) {
        if (std::find(std::begin(sceneKeys), std::end(sceneKeys), key) == std::end(sceneKeys)) {
            Fail(key, "unknown key; expected one of " +
                          NameList(std::vector<std::string>(std::begin(sceneKeys), std::end(sceneKeys))));
        }
    }
    const auto format = root.find("format");
    if (format == root.end() || *format != sceneFormat) {
        Fail("format", std::string("expected \"") + sceneFormat + "\"");
    }
    const auto description = root.find("description");
    if (description != root.end() && !description->is_string()) Fail("description", "expected a string");
}

const NodeType* SceneChecker::ReadType(const json& type, const std::string& path) const {
    const NodeType* found = nullptr;
    if (type.is_string()) {
        const std::string& name = type.get_ref<const std::string&>();
        const std::optional<unsigned int> classId = ParseClassId(name);
        found = classId ? module.Find(*classId) : module.Find(name);
    }
    if (found == nullptr) {
        std::vector<std::string> known;
        for (const NodeType& each : module.Types())
            known.push_back(Quoted(each.typeName) + " (" + ClassIdText(each.classId) + ")");
        Fail(path, "expected a node type of the module, by name or class id: " + NameList(known));
    }
    return found;
}

std::size_t SceneChecker::ReadId(const json& id, const std::string& path, const std::string& expected) const {
    const auto found = id.is_string() ? indexOf.find(id.get<std::string>()) : indexOf.end();
    if (found == indexOf.end()) {
        std::vector<std::string> known;
        for (const std::string& each : ids)
            known.push_back(Quoted(each));
        Fail(path, expected + (&id == &Missing() ? "" : ", not " + Excerpt(id.dump())) + "; the ids are " +
                       NameList(known));
    }
    return found->second;
}

void SceneChecker::ReadNodes(const json& nodes) {
    if (!nodes.is_array() || nodes.empty()) Fail("nodes", "expected a list of at least one node");
    reads.resize(nodes.size());
    // Ids first, so that links may name nodes later in the list.
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const std::string path = ElementPath("nodes", i);
        const json& node = nodes[i];
        if (!node.is_object()) Fail(path, "expected an object with \"id\" and \"type\"");
        const auto id = node.find("id");
        if (id == node.end() || !id->is_string() || id->get_ref<const std::string&>().empty() ||
            id->get_ref<const std::string&>()[0] == '@') {
            Fail(MemberPath(path, "id"), "expected a non-empty string not starting with '@'");
        }
        const auto [where, added] = indexOf.emplace(id->get<std::string>(), i);
        if (!added) {
            Fail(MemberPath(path, "id"), "expected an id of its own; " + id->dump() + " is also the id of " +
                                             ElementPath("nodes", where->second));
        }
        ids.push_back(where->first);
        types.push_back(ReadType(Get(node, "type"), MemberPath(path, "type")));
    }
    for (std::size_t i = 0; i < nodes.size(); ++i)
        ReadLinks(nodes[i], i, ElementPath("nodes", i));
}

void SceneChecker::ReadLinks(const json& node, std::size_t reader, const std::string& path) {
    const auto params = node.find("params");
    if (params == node.end() || !params->is_object()) return;  // Load says what is wrong with them
    for (const auto& [name, value] : params->items()) {
        if (!value.is_object()) continue;
        const auto link = value.find("link");
        if (link == value.end() || *link == positionLink) continue;
        const std::string linkPath = MemberPath(MemberPath(MemberPath(path, "params"), name), "link");
        const std::size_t source =
            ReadId(*link, linkPath, "expected " + Quoted(positionLink) + " or the id of a node");
        reads[reader].push_back({source, linkPath});
    }
}

/// The nodes in an order where each comes after every node it reads (a depth-first post-order), or an
/// error naming a cycle of links. The search keeps its own stack, so a long chain cannot exhaust the
/// program's.
std::vector<std::size_t> SceneChecker::UpdateOrder() const {
    enum class Mark { New, Open, Done };
    std::vector<Mark> marks(ids.size(), Mark::New);
    std::vector<std::size_t> order;
    for (std::size_t start = 0; start < ids.size(); ++start) {
        if (marks[start] != Mark::New) continue;
        std::vector<Step> stack{{start, nullptr, 0}};
        marks[start] = Mark::Open;
        while (!stack.empty()) {
            Step& top = stack.back();
            if (top.nextLink == reads[top.node].size()) {
                marks[top.node] = Mark::Done;
                order.push_back(top.node);
                stack.pop_back();
                continue;
            }
            const Link& link = reads[top.node][top.nextLink++];
            if (marks[link.source] == Mark::Open) FailCycle(stack, link);
            if (marks[link.source] == Mark::New) {
                marks[link.source] = Mark::Open;
                stack.push_back({link.source, &link, 0});
            }
        }
    }
    return order;
}

/// Refuses a scene that evaluation could not surely follow or afford: a chain of more than
/// `maxLinkDepth` links, which evaluation follows by recursion, or a node whose sample takes more than
/// `maxSampleEvaluations` node evaluations. A node reached along two chains of links is evaluated once
/// for each, so the count can double with every node of a graph far smaller than its cost. Both are
/// measured in `updateOrder`, sources first, so each node's sources are counted before it.
void SceneChecker::CheckCost(const std::vector<std::size_t>& updateOrder) const {
    std::vector<std::size_t> depth(reads.size(), 0);  // the links of the longest chain from each node
    // The evaluations of a sample of each node: itself and, for each link, a sample of its source. A
    // node's count is checked before a node that reads it adds it, so none exceeds the bound, and their
    // sum over a node's links, fewer than the keys of the file, cannot overflow.
    std::vector<std::uint64_t> evaluations(reads.size(), 1);
    for (const std::size_t node : updateOrder) {
        for (const Link& link : reads[node]) {
            depth[node] = std::max(depth[node], depth[link.source] + 1);
            if (depth[node] > maxLinkDepth) {
                Fail(link.path, "expected chains of at most " + std::to_string(maxLinkDepth) +
                                    " links; this link starts one of " + std::to_string(depth[node]));
            }
            evaluations[node] += evaluations[link.source];
        }
        if (evaluations[node] > maxSampleEvaluations) {
            Fail(ElementPath("nodes", node),
                 "expected a sample to take at most " + std::to_string(maxSampleEvaluations) +
                     " node evaluations; this node's takes " + std::to_string(evaluations[node]));
        }
    }
}

/// `link` closes a cycle: it reads a node that is open on the search stack. The cycle runs from that
/// node along the stack and back through `link`.
void SceneChecker::FailCycle(const std::vector<Step>& stack, const Link& link) const {
    const auto first =
        std::find_if(stack.begin(), stack.end(), [&](const Step& step) { return step.node == link.source; });
    std::string cycle;
    for (auto step = first; step != stack.end(); ++step)
        cycle += Quoted(ids[step->node]) + " -> ";
    cycle += Quoted(ids[link.source]);
    // Name the link that leaves the cycle's first node: the one the search followed from it.
    const auto next = std::next(first);
    const Link& leaving = next == stack.end() ? link : *next->via;
    Fail(leaving.path, "expected links without a cycle; these nodes read each other: " + cycle);
}

Vec2d SceneChecker::ReadPoint(const json& point, const std::string& path) const {
    if (!point.is_array() || point.size() != 2 || !point[0].is_number() || !point[1].is_number() ||
        !std::isfinite(point[0].get<double>()) || !std::isfinite(point[1].get<double>())) {
        Fail(path, "expected a point [x, y] of two finite numbers");
    }
    return {point[0].get<double>(), point[1].get<double>()};
}

SampleDomain SceneChecker::ReadDomain(const json& domain) const {
    SampleDomain result;
    if (!domain.is_object()) Fail("domain", "expected an object with \"kind\": \"plane\" or \"sphere\"");
    const auto kind = domain.find("kind");
    if (kind == domain.end() || (*kind != "plane" && *kind != "sphere")) {
        Fail("domain.kind", "expected \"plane\" or \"sphere\"");
    }
    const bool plane = *kind == "plane";
    result.kind = plane ? SampleDomain::Kind::Plane : SampleDomain::Kind::Sphere;
    for (const auto& [key, value] : domain.items()) {
        if (key == "kind") continue;
        if (!plane || (key != "min" && key != "max")) {
            Fail(MemberPath("domain", key), plane ? "unknown key; expected \"kind\", \"min\" or \"max\""
                                                  : "unknown key; a sphere domain has only \"kind\"");
        }
        (key == "min" ? result.min : result.max) = ReadPoint(value, MemberPath("domain", key));
    }
    if (!(result.min.x < result.max.x && result.min.y < result.max.y)) {
        Fail("domain.max", "expected a point above and to the right of domain.min");
    }
    return result;
}

CheckedScene SceneChecker::Check(const json& root) {
    CheckedScene scene;
    CheckRoot(root);
    ReadNodes(Get(root, "nodes"));
    scene.output = ReadId(Get(root, "output"), "output", "expected the id of the node to evaluate");
    if (const json& domain = Get(root, "domain"); &domain != &Missing()) scene.domain = ReadDomain(domain);
    scene.updateOrder = UpdateOrder();
    CheckCost(scene.updateOrder);
    scene.indexOf = std::move(indexOf);
    scene.types = std::move(types);
    return scene;
}

/// The scene's JSON; errors name the file.
ParsedJson ParseScene(const std::string& text, const std::string& fileName) {
    try {
        return ParseJson(text, sceneNesting);
    } catch (const JsonError& error) {
        throw SceneError(fileName, error.Where(), error.Expected(),
                         error.AtPath() ? SceneError::Place::JsonPath : SceneError::Place::Other);
    }
}

/// What `read` returns; where memory runs out, the program is told in words, as a failure of the
/// program rather than of the scene.
template <class Read>
Scene Reading(const std::string& fileName, Read read) {
    try {
        return read();
    } catch (const std::bad_alloc&) {
        throw std::runtime_error("not enough memory to read " + fileName);
    }
}

/// The text of the file at `path`.
std::string ReadFile(const std::string& path) {
    auto fail = [&] {
        throw SceneError(path, "cannot read the file",
                         std::error_code(errno, std::generic_category()).message(), SceneError::Place::Other);
    };
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) fail();
    std::string text;
    // Room for the whole file at once: growing by doubling would need half as much again.
    std::error_code sizeError;
    const std::uintmax_t size = std::filesystem::file_size(path, sizeError);  // fails but for a file
    if (!sizeError) text.reserve(static_cast<std::size_t>(size));
    char buffer[1 << 16];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get()))
        text.append(buffer, count);
    if (std::ferror(file.get())) fail();
    return text;
}

/// The ids of the nodes of `root`, those that are strings, quoted, as a list for a message.
std::string IdsOf(const json& root) {
    std::vector<std::string> ids;
    const auto nodes = root.find("nodes");
    if (nodes != root.end() && nodes->is_array()) {
        for (const json& node : *nodes) {
            const auto id = node.is_object() ? node.find("id") : node.end();
            if (id != node.end() && id->is_string()) ids.push_back(Quoted(id->get<std::string>()));
        }
    }
    return NameList(ids);
}

/// `root` with `setting` made: the value put into the params of the node it names.
void Apply(json& root, const SceneEdits::Setting& setting, const std::string& fileName) {
    json value;
    try {
        value = ParseJson(setting.value, sceneNesting).Value();
    } catch (const JsonError& error) {
        throw SceneError(
            fileName, setting.said,
            "expected a value written as in a scene file; at " + error.Where() + ": " + error.Expected(),
            SceneError::Place::Other);
    }
    const auto nodes = root.is_object() ? root.find("nodes") : root.end();
    if (nodes != root.end() && nodes->is_array()) {
        for (json& node : *nodes) {
            if (!node.is_object() || node.value("id", json()) != setting.node) continue;
            json& params = node["params"];
            if (params.is_null()) params = json::object();
            // Params of another kind are left for the check to refuse as they stand in the file.
            if (params.is_object()) params[setting.param] = std::move(value);
            return;
        }
    }
    throw SceneError(fileName, setting.said,
                     "expected the id of a node before the dot, not " + Quoted(setting.node) +
                         "; the ids are " + IdsOf(root),
                     SceneError::Place::Other);
}

}  // namespace

Scene Scene::FromJson(const nlohmann::json& root, const std::string& fileName, const Module& module) {
    CheckedScene checked = SceneChecker(fileName, module).Check(root);
    const json& nodes = root["nodes"];
    Scene scene;
    scene.domain = checked.domain;
    scene.indexOf = std::move(checked.indexOf);
    // Every node is created before any is loaded, so that a link may name a node later in the file.
    for (const NodeType* type : checked.types) {
        std::unique_ptr<Function> function = type->Create();
        if (!function) {
            throw SceneError(fileName, MemberPath(ElementPath("nodes", scene.nodes.size()), "type"),
                             "expected a type whose descriptor creates a function node; the descriptor of " +
                                 Quoted(type->typeName) + " in " + module.Path() + " created none");
        }
        scene.nodes.push_back(std::move(function));
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        QuibInputStream in(nodes[i]);  // Load checks the type too: it is this node's
        in.path = ElementPath("nodes", i);
        in.ignoredKeys = {"id"};
        in.resolveLink = [&scene](const std::string& id) { return scene.Node(id); };
        try {
            scene.nodes[i]->Load(in);
        } catch (const StoredFormError& error) {
            throw SceneError(fileName, error.Path(), "expected " + error.Expected());
        }
    }
    FunContext context;
    for (std::size_t i : checked.updateOrder)
        scene.nodes[i]->Update(0, &context);
    scene.output = scene.nodes[checked.output].get();
    return scene;
}

Scene Scene::FromText(const std::string& text, const std::string& fileName, const Module& module) {
    return Reading(fileName, [&] { return FromJson(ParseScene(text, fileName).Value(), fileName, module); });
}

Scene Scene::FromFile(const std::string& path, const Module& module, const SceneEdits& edits) {
    return Reading(path, [&] {
        // The text goes before the nodes are made: only its parsed value is needed from here on.
        const ParsedJson root = ParseScene(ReadFile(path), path);
        if (edits.output.empty() && edits.settings.empty()) return FromJson(root.Value(), path, module);
        json edited = root.Value();
        for (const SceneEdits::Setting& setting : edits.settings)
            Apply(edited, setting, path);
        const std::string fileName = path + " (with " + edits.said + ")";
        if (!edits.output.empty() && edited.is_object()) edited["output"] = edits.output;
        return FromJson(edited, fileName, module);
    });
}

Scene::Scene(Scene&&) noexcept = default;
Scene& Scene::operator=(Scene&&) noexcept = default;
Scene::~Scene() = default;

Function* Scene::Node(const std::string& id) const {
    const auto found = indexOf.find(id);
    return found == indexOf.end() ? nullptr : nodes[found->second].get();
}

}  // namespace vantrel
