// Every node of both modules through the host path beside the same computation called directly, at the
// same samples.
//
// Host: the node made by its module's descriptor, its "Position" (or "In", or "A") linked to the sample
// position, evaluated through the virtual `Eval` of the output type, with every parameter read and
// every curve and gradient lookup going through the host runtime. Direct: the module's routine (or
// the node's few lines of arithmetic, written out here) on the sample position and the node's own
// constants, curves and gradients. Each direct benchmark first checks, on a thousand samples, that it
// gives the node's result bit for bit, so that the two always measure the same work.

#include <cstring>
#include <functional>
#include <string>

#include "bench/bench_support.h"
#include "generators/hex_lattice.h"
#include "generators/leapfrog_fractal.h"
#include "host/curve_holder.h"
#include "host/gradient.h"
#include "quib_nodes/arithmetic.h"
#include "quib_nodes/random_hash.h"

namespace vantrel::bench {
namespace {

/// A node as the benchmarks set it up: its module type, the parameter linked to the sample position,
/// the domain its samples come from, and what the scene-less setup changes on it.
struct NodeSetup {
    const char* label;
    const char* typeName;
    const char* linked;
    Domain domain;
    std::function<void(Function&)> configure = [](Function&) {};
};

std::unique_ptr<Function> Make(const NodeSetup& setup) {
    std::unique_ptr<Function> node = MakeNode(setup.typeName, setup.linked);
    setup.configure(*node);
    FunContext context;
    node->Update(0, &context);
    return node;
}

/// The lattice mode parameter's name, as the node stores it.
constexpr const char* modeParam = "(2=plane, 3=sphere)(how to make list box]";

void SetMode(Function& node, int mode) {
    ParamOf(node, modeParam).SetConstant({static_cast<double>(mode)});
}

const NodeSetup latticePlane{"lattice-plane", "Hexagonal lattice 3D(1)", "Position", Domain::Plane,
                             [](Function& node) { SetMode(node, 2); }};
const NodeSetup latticeSphere{"lattice-sphere", "Hexagonal lattice 3D(1)", "Position", Domain::Sphere};
const NodeSetup leapfrog{"leapfrog", "Leapfrog fractal", "A", Domain::Sphere};
const NodeSetup vectorToColor{"vector-to-color", "Vector to color", "In", Domain::Sphere};
const NodeSetup curve3{"curve3", "Curve3", "In", Domain::Sphere};
const NodeSetup wDistortion{"w-distortion", "W Distortion", "Position", Domain::Sphere,
                            [](Function& node) { ParamOf(node, "Distortion").SetConstant({0.25}); }};

// The host's nodes, each set to its costlier choices: a smooth step, the floored modulo, overlay.
const NodeSetup remap{"remap", "Remap", "Value", Domain::Sphere, [](Function& node) {
                          ParamOf(node, "From min").SetConstant({-1});
                          ParamOf(node, "(0=linear, 1=smooth step, 2=step)Interpolation").SetConstant({1});
                      }};
constexpr const char* mathOperation =
    "(0=add, 1=subtract, 2=multiply, 3=divide, 4=minimum, 5=maximum, 6=power, 7=absolute, 8=floor, "
    "9=fraction, 10=modulo)Operation";
const NodeSetup math{"math", "Math", "A", Domain::Sphere, [](Function& node) {
                         ParamOf(node, "B").SetConstant({0.3});
                         ParamOf(node, mathOperation).SetConstant({10});
                     }};
const NodeSetup random{"random", "Random", "Vector", Domain::Sphere,
                       [](Function& node) { ParamOf(node, "Seed").SetConstant({7}); }};
const NodeSetup gradientMap{"gradient-map", "Gradient map", "Value", Domain::Sphere};
const NodeSetup mix{
    "mix", "Mix", "A", Domain::Sphere, [](Function& node) {
        ParamOf(node, "B").SetConstant({0.2, 0.5, 0.9});
        ParamOf(node, "(0=mix, 1=add, 2=multiply, 3=screen, 4=overlay)Blend").SetConstant({4});
    }};
const NodeSetup combine{"combine", "Combine", "X", Domain::Sphere,
                        [](Function& node) { ParamOf(node, "Z").SetConstant({0.5}); }};
const NodeSetup pick{"pick", "Pick", "Vector", Domain::Sphere,
                     [](Function& node) { ParamOf(node, "(0=x, 1=y, 2=z, 3=w)Component").SetConstant({2}); }};

template <class T>
const char* TypeLabel() {
    if constexpr (std::is_same_v<T, std::string>) return "string";
    if constexpr (std::is_same_v<T, Color>) return "Color";
    if constexpr (std::is_same_v<T, Vec4d>) return "Vec4d";
    if constexpr (std::is_same_v<T, Vec3d>) return "Vec3d";
    if constexpr (std::is_same_v<T, Vec2d>) return "Vec2d";
    if constexpr (std::is_same_v<T, double>) return "double";
    if constexpr (std::is_same_v<T, int>) return "int";
}

template <class T>
void RegisterHost(const NodeSetup& setup) {
    RegisterBothOrders(std::string("Host/") + setup.label + "/" + TypeLabel<T>(),
                       [&setup](benchmark::State& state, Order order) {
                           const std::unique_ptr<Function> node = Make(setup);
                           RunSamples<T>(state, Samples(setup.domain, order),
                                         [&](FunContext* context, T* out) { node->Eval(out, context); });
                       });
}

/// Whether two values hold the same bits (so that not-a-number equals itself).
template <class T>
bool SameBits(const T& a, const T& b) {
    return std::memcmp(&a, &b, sizeof(T)) == 0;
}

/// `makeDirect(node)` gives the node's computation as a function of the sample position, with the
/// node's constants read and its curves and gradients looked up once, outside the timed loop.
template <class T, class MakeDirect>
void RegisterDirect(const NodeSetup& setup, MakeDirect makeDirect) {
    RegisterBothOrders(std::string("Direct/") + setup.label + "/" + TypeLabel<T>(),
                       [&setup, makeDirect](benchmark::State& state, Order order) {
                           const std::unique_ptr<Function> node = Make(setup);
                           const auto direct = makeDirect(*node);
                           const std::vector<FunContext>& samples = Samples(setup.domain, order);
                           for (int i = 0; i < 1000; ++i) {
                               FunContext context = samples[i];
                               T fromHost{};
                               node->Eval(&fromHost, &context);
                               if (!SameBits(fromHost, direct(context.position))) {
                                   state.SkipWithError("the direct computation differs from the node");
                                   return;
                               }
                           }
                           RunSamples<T>(state, samples, [&](FunContext* context, T* out) {
                               *out = direct(context->position);
                           });
                       });
}

hexlattice::WeightCurves Weights(const Function& node) {
    return {node.Curves()[0], node.Curves()[1], node.Curves()[2]};
}

// The lattice's default settings: 10 subdivisions, rescaling on.
constexpr int subdivision = 10;
constexpr int rescale = 1;

/// A constant parameter read as T.
template <class T>
T Constant(const Function& node, const char* paramName) {
    FunContext context;
    if constexpr (std::is_same_v<T, int>) return ParamOf(node, paramName).GetInt(&context);
    if constexpr (std::is_same_v<T, double>) return ParamOf(node, paramName).GetDouble(&context);
    if constexpr (std::is_same_v<T, Vec3d>) return ParamOf(node, paramName).GetVec3d(&context);
    if constexpr (std::is_same_v<T, Vec4d>) return ParamOf(node, paramName).GetVec4d(&context);
}

/// Vector to color's arithmetic on "In" = (x, y, z, 0), the position read as a Vec4d.
auto VectorToColor(const Function& node) {
    const Vec4d weights = Constant<Vec4d>(node, "Weights");
    const std::vector<Gradient*>& gradients = node.Gradients();
    return [weights, &gradients](const Vec3d& p) {
        const double k = 1.0 / (weights.w + weights.z + weights.y + weights.x);
        const double positions[4] = {p.x, p.y, p.z, 0.0};
        const double shares[4] = {weights.x * k, weights.y * k, weights.z * k, weights.w * k};
        Color lookup;
        gradients[0]->GetColour(positions[0], lookup);
        Color mix = lookup * shares[0];
        for (int i = 1; i < 4; ++i) {
            gradients[i]->GetColour(positions[i], lookup);
            mix = mix + lookup * shares[i];
        }
        return mix;
    };
}

/// The host's seven nodes: native output and int through the host, the native output direct.
void RegisterHostNodes() {
    for (const NodeSetup* setup : {&remap, &math, &random, &pick}) {
        RegisterHost<double>(*setup);
        RegisterHost<int>(*setup);
    }
    for (const NodeSetup* setup : {&random, &gradientMap, &mix}) {
        RegisterHost<Color>(*setup);
        if (setup != &random) RegisterHost<int>(*setup);
    }
    RegisterHost<Vec3d>(combine);
    RegisterHost<int>(combine);
    RegisterDirect<double>(remap, [](const Function& node) {
        const quibnodes::RemapRanges ranges{
            Constant<double>(node, "From min"), Constant<double>(node, "From max"),
            Constant<double>(node, "To min"), Constant<double>(node, "To max")};
        return [ranges](const Vec3d& p) {
            return quibnodes::Remap(p.x, ranges, quibnodes::RemapCurve::SmoothStep, true);
        };
    });
    RegisterDirect<double>(math, [](const Function& node) {
        return [b = Constant<double>(node, "B")](const Vec3d& p) {
            return quibnodes::Calculate(quibnodes::MathOperation::Modulo, p.x, b);
        };
    });
    RegisterDirect<double>(random, [](const Function& node) {
        return [seed = Constant<int>(node, "Seed")](const Vec3d& p) {
            return quibnodes::RandomDraw(quibnodes::RandomKey(p, seed), 0);
        };
    });
    RegisterDirect<Color>(random, [](const Function& node) {
        return [seed = Constant<int>(node, "Seed")](const Vec3d& p) {
            const std::uint64_t key = quibnodes::RandomKey(p, seed);
            return Color(quibnodes::RandomDraw(key, 1), quibnodes::RandomDraw(key, 2),
                         quibnodes::RandomDraw(key, 3));
        };
    });
    RegisterDirect<Color>(gradientMap, [](const Function& node) {
        return [&gradient = *node.Gradients()[0]](const Vec3d& p) {
            Color colour;
            gradient.GetColour(p.x, colour);
            return colour;
        };
    });
    RegisterDirect<Color>(mix, [](const Function& node) {
        FunContext context;
        return [b = ParamOf(node, "B").GetColor(&context),
                factor = Constant<double>(node, "Factor")](const Vec3d& p) {
            return quibnodes::Blend(Color(p.x, p.y, p.z), b, factor, quibnodes::BlendMode::Overlay);
        };
    });
    RegisterDirect<Vec3d>(combine, [](const Function& node) {
        return [y = Constant<double>(node, "Y"), z = Constant<double>(node, "Z")](const Vec3d& p) {
            return Vec3d(p.x, y, z);
        };
    });
    RegisterDirect<double>(pick, [](const Function&) { return [](const Vec3d& p) { return p.z; }; });
}

[[maybe_unused]] const bool registered = [] {
    // The lattice in both modes, in its three own output types, then int and text.
    for (const NodeSetup* setup : {&latticePlane, &latticeSphere}) {
        RegisterHost<double>(*setup);
        RegisterHost<Vec3d>(*setup);
        RegisterHost<Vec2d>(*setup);
        RegisterHost<int>(*setup);
        RegisterHost<std::string>(*setup);
    }
    RegisterDirect<double>(latticePlane, [](const Function& node) {
        return [w = Weights(node)](const Vec3d& p) { return hexlattice::PlaneValue(p.x, p.y, w); };
    });
    RegisterDirect<Vec3d>(latticePlane, [](const Function& node) {
        return [w = Weights(node)](const Vec3d& p) {
            const Vec2d q = hexlattice::PlanePoint(p.x, p.y, w, rescale);
            return Vec3d(q.x, q.y, 0.0);
        };
    });
    RegisterDirect<Vec2d>(latticePlane, [](const Function& node) {
        return [w = Weights(node)](const Vec3d& p) { return hexlattice::PlanePoint(p.x, p.y, w, rescale); };
    });
    RegisterDirect<double>(latticeSphere, [](const Function& node) {
        return [w = Weights(node)](const Vec3d& p) { return hexlattice::SphereValue(p, w, subdivision); };
    });
    RegisterDirect<Vec3d>(latticeSphere, [](const Function& node) {
        return [w = Weights(node)](const Vec3d& p) {
            return hexlattice::SpherePoint(p, w, subdivision, rescale);
        };
    });
    RegisterDirect<Vec2d>(latticeSphere, [](const Function& node) {
        return [w = Weights(node)](const Vec3d& p) { return hexlattice::PlanePoint(p.x, p.y, w, rescale); };
    });

    // The other four nodes: native output, int and text through the host; the native output direct.
    RegisterHost<double>(leapfrog);
    RegisterHost<int>(leapfrog);
    RegisterHost<std::string>(leapfrog);
    RegisterDirect<double>(leapfrog, [](const Function& node) {
        return [b = Constant<Vec3d>(node, "B"), c = Constant<Vec3d>(node, "C"),
                radius = Constant<double>(node, "Radius"), iterations = Constant<int>(node, "Iterations")](
                   const Vec3d& p) { return LeapFrogValue(p, b, c, radius, iterations); };
    });

    RegisterHost<Color>(vectorToColor);
    RegisterHost<int>(vectorToColor);
    RegisterHost<std::string>(vectorToColor);
    RegisterDirect<Color>(vectorToColor, VectorToColor);

    RegisterHost<Color>(curve3);
    RegisterHost<int>(curve3);
    RegisterHost<std::string>(curve3);
    RegisterDirect<Color>(curve3, [](const Function& node) {
        return [&curve = *node.Curves()[0]](const Vec3d& p) {
            return Color(curve.EvalRed(p.x), curve.EvalGreen(p.y), curve.EvalBlue(p.z));
        };
    });

    RegisterHost<Vec4d>(wDistortion);
    RegisterHost<int>(wDistortion);
    RegisterHost<std::string>(wDistortion);
    RegisterDirect<Vec4d>(wDistortion, [](const Function& node) {
        return [d = Constant<double>(node, "Distortion")](const Vec3d& p) { return Vec4d(p.x, p.y, p.z, d); };
    });
    RegisterHostNodes();
    return true;
}();

}  // namespace
}  // namespace vantrel::bench
