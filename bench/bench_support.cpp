#include "bench/bench_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <algorithm>
#include <random>
#include <stdexcept>

#include "scene/scene.h"

extern char** environ;

namespace vantrel::bench {

int Spawn(const std::vector<std::string>& argv, const std::string& out) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.empty() ? "/dev/null" : out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    const int error = posix_spawn(&child, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) throw std::runtime_error("cannot start " + argv[0]);
    return child;
}

const ModuleSet& LoadedModule() {
    static const ModuleSet modules({std::make_shared<const quib::Module>(VANTREL_MODULE_PATH),
                                    std::make_shared<const quib::Module>(QUIB_NODES_PATH)});
    return modules;
}

std::unique_ptr<Function> MakeNode(const std::string& typeName, const char* linked) {
    const quib::NodeType* type = LoadedModule().Find(typeName);
    if (!type) throw std::runtime_error("the modules have no node type " + typeName);
    std::unique_ptr<Function> node = type->Create();
    if (linked) ParamOf(*node, linked).LinkToPosition();
    FunContext context;
    node->Update(0, &context);
    return node;
}

Param& ParamOf(const Function& node, const std::string& paramName) {
    Param* param = node.FindParam(paramName);
    if (!param) throw std::runtime_error("the node has no parameter " + paramName);
    return *param;
}

namespace {

class WComposer final : public Composer {
public:
    explicit WComposer(double distortion) : distortion(distortion) {}
    void Compose(Vec4d* out, const FunContext* context) const override {
        const Vec3d& p = context->position;
        *out = Vec4d(p.x, p.y, p.z, distortion);
    }

private:
    double distortion;
};

}  // namespace

std::unique_ptr<Composer> MakeWComposer(double distortion) {
    return std::make_unique<WComposer>(distortion);
}

namespace {

constexpr int side = 512;  // samples along each side of the raster; side * side is a power of two

std::vector<FunContext> MakeSamples(Domain domain, Order order) {
    SampleDomain where;
    where.kind = domain == Domain::Plane ? SampleDomain::Kind::Plane : SampleDomain::Kind::Sphere;
    where.min = {0.0, 0.0};
    where.max = {64.0, 64.0};
    std::vector<FunContext> samples;
    samples.reserve(side * side);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x)
            samples.push_back({where.Position((x + 0.5) / side, (y + 0.5) / side)});
    }
    if (order == Order::Random) std::shuffle(samples.begin(), samples.end(), std::mt19937_64(2024));
    return samples;
}

}  // namespace

const std::vector<FunContext>& Samples(Domain domain, Order order) {
    static const std::vector<FunContext> sets[2][2] = {
        {MakeSamples(Domain::Plane, Order::Raster), MakeSamples(Domain::Plane, Order::Random)},
        {MakeSamples(Domain::Sphere, Order::Raster), MakeSamples(Domain::Sphere, Order::Random)},
    };
    return sets[static_cast<int>(domain)][static_cast<int>(order)];
}

}  // namespace vantrel::bench
