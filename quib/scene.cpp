#include "quib/scene.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <numbers>
#include <optional>
#include <sstream>
#include <system_error>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "quib/stored_form.h"
#include "quib/text.h"

namespace quib {

using nlohmann::json;

SceneError::SceneError(const std::string& file, const std::string& where, const std::string& expected)
    : std::runtime_error(file + ": " + where + ": " + expected) {}

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
    const double longitude = (2.0 * u - 1.0) * std::numbers::pi;
    const double latitude = (0.5 - v) * std::numbers::pi;
    const double ring = std::cos(latitude);  // the radius of the circle of latitude
    return {ring * std::cos(longitude), ring * std::sin(longitude), std::sin(latitude)};
}

int SampleDomain::HeightFor(int width) const {
    // Halving both extents where one overflows keeps their ratio.
    const double scale = Overflows(min, max) ? 0.5 : 1.0;
    const double aspect =
        kind == Kind::Sphere ? 0.5 : (max.y * scale - min.y * scale) / (max.x * scale - min.x * scale);
    const double height = std::round(width * aspect);
    // Not-a-number, from a plane without extent (which loading refuses), becomes 1 too.
    return !(height >= 1.0) ? 1 : height > 1e9 ? 1000000000 : static_cast<int>(height);
}

namespace {

std::string Key(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
}

std::string Index(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

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

/// The class id written as "0x92512342", or nothing when `text` is not one.
std::optional<unsigned int> ParseClassId(const std::string& text) {
    if (text.size() <= 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return std::nullopt;
    unsigned int classId = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data() + 2, end, classId, 16);
    if (stop != end || error != std::errc()) return std::nullopt;
    return classId;
}

/// Line and column (both from 1) of the character at `offset` in `text`.
std::string LineAndColumn(const std::string& text, std::size_t offset) {
    offset = std::min(offset, text.size());
    const auto begin = text.begin();
    const auto lines = std::count(begin, begin + static_cast<std::ptrdiff_t>(offset), '\n');
    const std::size_t lineStart = offset == 0 ? 0 : text.rfind('\n', offset - 1) + 1;  // npos + 1 == 0
    return "line " + std::to_string(lines + 1) + ", column " + std::to_string(offset - lineStart + 1);
}

/// The reason in a parser message, without the library's prefix ("[json.exception.parse_error.101]")
/// and its own position ("parse error at line 1, column 5: ").
std::string ParseReason(const json::exception& error) {
    const std::string message = error.what();
    const std::size_t column = message.find(", column ");
    const std::size_t start = column == std::string::npos ? message.find("] ") : message.find(": ", column);
    return start == std::string::npos ? message : message.substr(start + 2);
}

/// The library's builder of a JSON value, which also notes where the parser stopped. Its exceptions
/// carry no position when a number is beyond the range of a double.
class JsonBuilder : public nlohmann::detail::json_sax_dom_parser<json> {
public:
    using json_sax_dom_parser::json_sax_dom_parser;

    template <class Exception>
    bool parse_error(std::size_t byte, const std::string& token, const Exception& error) {
        // `byte` counts the characters read: for a number, to its end; otherwise to where the parser
        // stopped, the last character read.
        offset = std::is_same_v<Exception, json::out_of_range> ? byte - std::min(byte, token.size())
                 : byte == 0                                   ? 0
                                                               : byte - 1;
        return json_sax_dom_parser::parse_error(byte, token, error);
    }

    std::size_t offset = 0;  ///< where in the text the parser stopped
};

/// A scene that is sound as a graph: every node has a unique id and a known type, every link and the
/// output name a node, no links form a cycle and no chain of links is too deep to evaluate.
struct CheckedScene {
    json root;
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

    CheckedScene Check(const std::string& text);

private:
    /// One link of a node, which has a parameter that reads node `source`.
    struct Link {
        std::size_t source = 0;
        std::string path;  ///< the JSON path of the link's id
    };

    [[noreturn]] void Fail(const std::string& where, const std::string& expected) const {
        throw SceneError(fileName, where, expected);
    }

    json Parse(const std::string& text) const;
    void CheckRoot(const json& root) const;
    void ReadNodes(const json& nodes);
    const NodeType* ReadType(const json& type, const std::string& path) const;
    std::size_t ReadId(const json& id, const std::string& path, const std::string& expected) const;
    void ReadLinks(const json& node, std::size_t reader, const std::string& path);
    std::vector<std::size_t> UpdateOrder() const;
    void CheckLinkDepth(const std::vector<std::size_t>& updateOrder) const;
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

json SceneChecker::Parse(const std::string& text) const {
    json root;
    JsonBuilder builder(root);
    try {
        json::sax_parse(text, &builder);
    } catch (const json::out_of_range& error) {
        Fail(LineAndColumn(text, builder.offset),
             "expected a number of at most 1.8e308 in size: " + ParseReason(error));
    } catch (const json::exception& error) {
        Fail(LineAndColumn(text, builder.offset), "malformed JSON: " + ParseReason(error));
    }
    return root;
}

void SceneChecker::CheckRoot(const json& root) const {
    static const std::vector<std::string> keys = {"format", "description", "nodes", "output", "domain"};
    if (!root.is_object())
        Fail("(top level)", "expected an object with \"format\", \"nodes\" and \"output\"");
    for (const auto& [key, value] : root.items()) {
        if (std::find(keys.begin(), keys.end(), key) == keys.end()) {
            Fail(key, "unknown key; expected one of " +
                          NameList({"format", "description", "nodes", "output", "domain"}));
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
        for (const NodeType& each : module.Types()) {
            std::ostringstream text;
            text << Quoted(each.typeName) << " (0x" << std::hex << each.classId << ")";
            known.push_back(text.str());
        }
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
        Fail(path, expected + "; the ids are " + NameList(known));
    }
    return found->second;
}

void SceneChecker::ReadNodes(const json& nodes) {
    if (!nodes.is_array() || nodes.empty()) Fail("nodes", "expected a list of at least one node");
    reads.resize(nodes.size());
    // Ids first, so that links may name nodes later in the list.
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const std::string path = Index("nodes", i);
        const json& node = nodes[i];
        if (!node.is_object()) Fail(path, "expected an object with \"id\" and \"type\"");
        const auto id = node.find("id");
        if (id == node.end() || !id->is_string() || id->get_ref<const std::string&>().empty() ||
            id->get_ref<const std::string&>()[0] == '@') {
            Fail(Key(path, "id"), "expected a non-empty string not starting with '@'");
        }
        const auto [where, added] = indexOf.emplace(id->get<std::string>(), i);
        if (!added) {
            Fail(Key(path, "id"), "expected an id of its own; " + id->dump() + " is also the id of " +
                                      Index("nodes", where->second));
        }
        ids.push_back(where->first);
        const auto type = node.find("type");
        types.push_back(ReadType(type == node.end() ? json() : *type, Key(path, "type")));
    }
    for (std::size_t i = 0; i < nodes.size(); ++i)
        ReadLinks(nodes[i], i, Index("nodes", i));
}

void SceneChecker::ReadLinks(const json& node, std::size_t reader, const std::string& path) {
    const auto params = node.find("params");
    if (params == node.end() || !params->is_object()) return;  // Load says what is wrong with them
    for (const auto& [name, value] : params->items()) {
        if (!value.is_object()) continue;
        const auto link = value.find("link");
        if (link == value.end() || *link == "@position") continue;
        const std::string linkPath = Key(Key(Key(path, "params"), name), "link");
        const std::size_t source = ReadId(*link, linkPath, "expected \"@position\" or the id of a node");
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

/// Refuses a chain of more than `maxLinkDepth` links, which evaluation, following links by recursion,
/// could not surely follow. The chains are measured in `updateOrder`, sources first.
void SceneChecker::CheckLinkDepth(const std::vector<std::size_t>& updateOrder) const {
    std::vector<std::size_t> depth(reads.size(), 0);  // the links of the longest chain from each node
    for (const std::size_t node : updateOrder) {
        for (const Link& link : reads[node]) {
            depth[node] = std::max(depth[node], depth[link.source] + 1);
            if (depth[node] > maxLinkDepth) {
                Fail(link.path, "expected chains of at most " + std::to_string(maxLinkDepth) +
                                    " links; this link starts one of " + std::to_string(depth[node]));
            }
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
            Fail(Key("domain", key), plane ? "unknown key; expected \"kind\", \"min\" or \"max\""
                                           : "unknown key; a sphere domain has only \"kind\"");
        }
        (key == "min" ? result.min : result.max) = ReadPoint(value, Key("domain", key));
    }
    if (!(result.min.x < result.max.x && result.min.y < result.max.y)) {
        Fail("domain.max", "expected a point above and to the right of domain.min");
    }
    return result;
}

CheckedScene SceneChecker::Check(const std::string& text) {
    CheckedScene scene;
    scene.root = Parse(text);
    const json& root = scene.root;
    CheckRoot(root);
    const auto nodes = root.find("nodes");
    ReadNodes(nodes == root.end() ? json() : *nodes);
    const auto output = root.find("output");
    scene.output =
        ReadId(output == root.end() ? json() : *output, "output", "expected the id of the node to evaluate");
    const auto domain = root.find("domain");
    if (domain != root.end()) scene.domain = ReadDomain(*domain);
    scene.updateOrder = UpdateOrder();
    CheckLinkDepth(scene.updateOrder);
    scene.indexOf = std::move(indexOf);
    scene.types = std::move(types);
    return scene;
}

}  // namespace

Scene Scene::FromText(const std::string& text, const std::string& fileName, const Module& module) {
    CheckedScene checked = SceneChecker(fileName, module).Check(text);
    const json& nodes = checked.root["nodes"];
    Scene scene;
    scene.domain = checked.domain;
    scene.indexOf = std::move(checked.indexOf);
    // Every node is created before any is loaded, so that a link may name a node later in the file.
    for (const NodeType* type : checked.types) {
        std::unique_ptr<Function> function = type->Create();
        if (!function) {
            throw SceneError(fileName, Key(Index("nodes", scene.nodes.size()), "type"),
                             "expected a type whose descriptor creates a function node; the descriptor of " +
                                 Quoted(type->typeName) + " in " + module.Path() + " created none");
        }
        scene.nodes.push_back(std::move(function));
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        QuibInputStream in(nodes[i]);  // Load checks the type too: it is this node's
        in.path = Index("nodes", i);
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

Scene Scene::FromFile(const std::string& path, const Module& module) {
    auto fail = [&] {
        throw SceneError(path, "cannot read the file",
                         std::error_code(errno, std::generic_category()).message());
    };
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) fail();
    std::string text;
    char buffer[1 << 16];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get()))
        text.append(buffer, count);
    if (std::ferror(file.get())) fail();
    return FromText(text, path, module);
}

Scene::Scene(Scene&&) noexcept = default;
Scene& Scene::operator=(Scene&&) noexcept = default;
Scene::~Scene() = default;

Function* Scene::Node(const std::string& id) const {
    const auto found = indexOf.find(id);
    return found == indexOf.end() ? nullptr : nodes[found->second].get();
}

}  // namespace quib
