#include "scene/scene_check.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>

#include "quib/error.h"
#include "quib/text.h"
#include "scene/scene_format.h"

namespace vantrel {
namespace {

using quib::ElementPointer;
using quib::Error;
using quib::Json;
using quib::MemberPointer;
using quib::Quote;

/// A value that is not there, for keys a scene leaves out.
const Json& Missing() {
    static const Json missing;
    return missing;
}

/// The member `key` of `object`, or Missing().
const Json& Get(const Json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() ? Missing() : *found;
}

/// What stood at a place, quoted, or nothing when nothing did.
std::string FoundAt(const Json& value) {
    return &value == &Missing() ? std::string() : quib::JsonExcerpt(value);
}

/// The type a scene names in "output_type", one of the nine as the command line names them.
std::optional<OutputType> ReadOutputType(const Json& type) {
    if (&type == &Missing()) return std::nullopt;
    const std::optional<OutputType> named =
        type.is_string() ? OutputTypeNamed(type.get<std::string>()) : std::nullopt;
    if (!named)
        throw Error::Expected(type.is_string() ? Error::Code::BadValue : Error::Code::WrongType,
                              "/output_type", "one of " + OutputTypeNames(", "), FoundAt(type));
    return named;
}

/// The sub-samples along each side of a pixel a scene names in "samples": 1 to `largestSamples`, and
/// 1 only for an int image, whose mean of integers would be no integer.
std::optional<int> ReadSamples(const Json& samples, std::optional<OutputType> type) {
    if (&samples == &Missing()) return std::nullopt;
    const bool whole = quib::IsWholeNumber(samples);
    const std::int64_t count = whole ? samples.get<std::int64_t>() : 0;
    if (!whole || count < 1 || count > largestSamples) {
        throw Error::Expected(whole ? Error::Code::OutOfRange : Error::Code::WrongType, "/samples",
                              "a whole number from 1 to " + std::to_string(largestSamples) +
                                  ", the sub-samples along each side of a pixel",
                              FoundAt(samples));
    }
    if (type == OutputType::Int && count > 1) {
        throw Error::Expected(Error::Code::OutOfRange, "/samples",
                              "1 for an int image: a pixel's sub-samples are averaged, and a mean of "
                              "integers is no integer",
                              FoundAt(samples));
    }
    return static_cast<int>(count);
}

/// Reads a scene's JSON and checks it as a graph.
class SceneChecker {
public:
    explicit SceneChecker(const ModuleSet& modules) : modules(modules) {}

    CheckedScene Check(const Json& root);

private:
    /// One link of a node, which has a parameter that reads node `source`.
    struct Link {
        std::size_t source = 0;
        std::string pointer;  ///< the pointer of the link's id
    };
    /// A node on the stack of the search for the update order.
    struct Step {
        std::size_t node = 0;
        const Link* via = nullptr;  ///< the link that led the search here; null at the start
        std::size_t nextLink = 0;   ///< how many of the node's links the search has followed
    };

    [[noreturn]] static void Fail(Error::Code code, const std::string& pointer, const std::string& expected,
                                  std::string found = {}, std::string note = {}) {
        throw Error::Expected(code, pointer, expected, std::move(found), std::move(note));
    }

    /// `code`, or Code::Missing when `value` is not there at all.
    static Error::Code Missed(const Json& value, Error::Code code) {
        return &value == &Missing() ? Error::Code::Missing : code;
    }

    /// Refuses `text`, `what` ("an id") at `pointer`, when it holds a NUL character, which JSON text
    /// can hold only escaped ("\u0000"): a name or an id that the host, or anything that reads it as a C
    /// string, would see cut short at it.
    static void RefuseNul(const std::string& text, const std::string& pointer, const char* what) {
        if (text.find('\0') != std::string::npos)
            Fail(Error::Code::BadValue, pointer, std::string(what) + " without a NUL character", Quote(text));
    }

    void CheckRoot(const Json& root) const;
    void ReadNames(const Json& node, const std::string& pointer) const;
    void ReadNodes(const Json& nodes);
    const quib::NodeType* ReadType(const Json& type, const std::string& pointer) const;
    std::size_t ReadId(const Json& id, const std::string& pointer, const std::string& expected) const;
    void ReadLinks(const Json& node, std::size_t reader, const std::string& pointer);
    std::vector<std::size_t> UpdateOrder() const;
    void CheckCost(const std::vector<std::size_t>& updateOrder) const;
    [[noreturn]] void FailCycle(const std::vector<Step>& stack, const Link& link) const;

    const ModuleSet& modules;
    std::vector<std::string> ids;                ///< node ids, in the order of the file
    std::map<std::string, std::size_t> indexOf;  ///< node id to its index
    std::vector<const quib::NodeType*> types;    ///< each node's type
    std::vector<std::vector<Link>> reads;        ///< each node's links to its sources
};

void SceneChecker::CheckRoot(const Json& root) const {
    if (!root.is_object())
        Fail(Error::Code::WrongType, "", "an object with \"format\", \"nodes\" and \"output\"",
             FoundAt(root));
    for (const auto& [key, value] : root.items()) {
        if (std::find(std::begin(sceneKeys), std::end(sceneKeys), key) == std::end(sceneKeys)) {
            std::vector<std::string> known;
            for (const char* each : sceneKeys)
                known.push_back(Quote(each));
            Fail(Error::Code::UnknownMember, MemberPointer("", key),
                 "one of the keys " + quib::NameList(known), Quote(key));
        }
    }
    const Json& format = Get(root, "format");
    if (format != sceneFormat)
        Fail(Missed(format, Error::Code::BadValue), "/format", Quote(sceneFormat), FoundAt(format));
    const Json& description = Get(root, "description");
    if (&description != &Missing() && !description.is_string())
        Fail(Error::Code::WrongType, "/description", "a string", FoundAt(description));
    // Where the editor keeps its nodes: the graph does not read it, but a file holds it whole.
    const Json& layout = Get(root, "layout");
    if (&layout != &Missing()) {
        if (!layout.is_object())
            Fail(Error::Code::WrongType, "/layout", "an object of node ids and [x, y] places",
                 FoundAt(layout));
        for (const auto& [id, place] : layout.items()) {
            const bool point = place.is_array() && place.size() == 2 &&
                               std::all_of(place.begin(), place.end(), [](const Json& coordinate) {
                                   return coordinate.is_number() && std::isfinite(coordinate.get<double>());
                               });
            if (!point)
                Fail(Error::Code::WrongType, MemberPointer("/layout", id),
                     "a place [x, y] of two finite numbers", FoundAt(place));
        }
    }
}

const quib::NodeType* SceneChecker::ReadType(const Json& type, const std::string& pointer) const {
    const quib::NodeType* found = nullptr;
    if (type.is_string()) found = modules.FindStored(type.get_ref<const std::string&>());
    if (found == nullptr) {
        std::vector<std::string> known;
        for (const quib::NodeType* each : modules.Types())
            known.push_back(Quote(each->typeName) + " (" + quib::ClassIdText(each->classId) + ")");
        Fail(Missed(type, Error::Code::UnknownType), pointer,
             "a node type of the loaded modules, by name or class id", FoundAt(type),
             "the types are " + quib::NameList(known));
    }
    return found;
}

std::size_t SceneChecker::ReadId(const Json& id, const std::string& pointer,
                                 const std::string& expected) const {
    const auto found = id.is_string() ? indexOf.find(id.get<std::string>()) : indexOf.end();
    if (found == indexOf.end()) {
        std::vector<std::string> known;
        for (const std::string& each : ids)
            known.push_back(Quote(each));
        Fail(Missed(id, Error::Code::UnknownNode), pointer, expected, FoundAt(id),
             "the ids are " + quib::NameList(known));
    }
    return found->second;
}

void SceneChecker::ReadNodes(const Json& nodes) {
    if (!nodes.is_array() || nodes.empty())
        Fail(Missed(nodes, nodes.is_array() ? Error::Code::OutOfRange : Error::Code::WrongType), "/nodes",
             "a list of at least one node", FoundAt(nodes));
    reads.resize(nodes.size());
    // Ids first, so that links may name nodes later in the list.
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const std::string pointer = ElementPointer("/nodes", i);
        const Json& node = nodes[i];
        if (!node.is_object())
            Fail(Error::Code::WrongType, pointer, "an object with \"id\" and \"type\"", FoundAt(node));
        const Json& id = Get(node, "id");
        if (!id.is_string() || id.get_ref<const std::string&>().empty() ||
            id.get_ref<const std::string&>()[0] == '@') {
            Fail(Missed(id, id.is_string() ? Error::Code::BadValue : Error::Code::WrongType), pointer + "/id",
                 "a non-empty string not starting with '@'", FoundAt(id));
        }
        RefuseNul(id.get_ref<const std::string&>(), pointer + "/id", "an id");
        const auto [where, added] = indexOf.emplace(id.get<std::string>(), i);
        if (!added) {
            Fail(Error::Code::Duplicate, pointer + "/id", "an id of its own", FoundAt(id),
                 "it is also the id of " + ElementPointer("/nodes", where->second));
        }
        ids.push_back(where->first);
        types.push_back(ReadType(Get(node, "type"), pointer + "/type"));
    }
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        ReadNames(nodes[i], ElementPointer("/nodes", i));
        ReadLinks(nodes[i], i, ElementPointer("/nodes", i));
    }
}

/// The names of a node's parameters, curves and gradients: which there are is for Load to say, but a
/// NUL in one is refused here, with the ids, so that the scene has one rule for both.
void SceneChecker::ReadNames(const Json& node, const std::string& pointer) const {
    for (const char* key : {"params", "curves", "gradients"}) {
        const Json& names = Get(node, key);
        if (!names.is_object()) continue;  // Load says what is wrong with them
        for (const auto& [name, value] : names.items())
            RefuseNul(name, MemberPointer(pointer + "/" + key, name), "a name");
    }
}

void SceneChecker::ReadLinks(const Json& node, std::size_t reader, const std::string& pointer) {
    const Json& params = Get(node, "params");
    if (!params.is_object()) return;  // Load says what is wrong with them
    for (const auto& [name, value] : params.items()) {
        if (!value.is_object()) continue;
        const Json& link = Get(value, "link");
        if (&link == &Missing() || link == quib::positionLink) continue;
        const std::string linkPointer = MemberPointer(pointer + "/params", name) + "/link";
        if (link.is_string()) RefuseNul(link.get_ref<const std::string&>(), linkPointer, "an id");
        const std::size_t source =
            ReadId(link, linkPointer, Quote(quib::positionLink) + " or the id of a node");
        reads[reader].push_back({source, linkPointer});
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
                Fail(Error::Code::BadLink, link.pointer,
                     "chains of at most " + std::to_string(maxLinkDepth) + " links", {},
                     "this link starts one of " + std::to_string(depth[node]));
            }
            evaluations[node] += evaluations[link.source];
        }
        if (evaluations[node] > maxSampleEvaluations) {
            Fail(Error::Code::OutOfRange, ElementPointer("/nodes", node),
                 "a sample to take at most " + std::to_string(maxSampleEvaluations) + " node evaluations", {},
                 "this node's takes " + std::to_string(evaluations[node]));
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
        cycle += Quote(ids[step->node]) + " -> ";
    cycle += Quote(ids[link.source]);
    // Name the link that leaves the cycle's first node: the one the search followed from it.
    const auto next = std::next(first);
    const Link& leaving = next == stack.end() ? link : *next->via;
    Fail(Error::Code::BadLink, leaving.pointer, "links without a cycle", {},
         "these nodes read each other: " + cycle);
}

CheckedScene SceneChecker::Check(const Json& root) {
    CheckedScene scene;
    CheckRoot(root);
    ReadNodes(Get(root, "nodes"));
    const Json& output = Get(root, "output");
    if (output.is_string()) RefuseNul(output.get_ref<const std::string&>(), "/output", "an id");
    scene.output = ReadId(output, "/output", "the id of the node to evaluate");
    if (const Json& domain = Get(root, "domain"); &domain != &Missing()) scene.domain = ReadDomain(domain);
    scene.outputType = ReadOutputType(Get(root, "output_type"));
    scene.samples = ReadSamples(Get(root, "samples"), scene.outputType);
    scene.updateOrder = UpdateOrder();
    CheckCost(scene.updateOrder);
    scene.indexOf = std::move(indexOf);
    scene.types = std::move(types);
    return scene;
}

}  // namespace

CheckedScene CheckScene(const Json& root, const ModuleSet& modules) {
    return SceneChecker(modules).Check(root);
}

}  // namespace vantrel
