// The node frame: every output type derived from one native result, with the frame's own figures.

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/node_frame.h"
#include "tests/node_values.h"

namespace {

using vantrel::test::Components;
using vantrel::test::Evaluate;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();

/// What a test node's native evaluation saw: how often it ran, and whether it was handed a zero value.
struct NativeLog {
    int calls = 0;
    bool startedAtZero = true;

    void Record(const std::vector<double>& start) {
        ++calls;
        for (double c : start)
            startedAtZero = startedAtZero && c == 0.0;
    }
};

/// A colour node whose native result the test chooses.
class FixedColor final : public NodeFrame<FixedColor, nodekind::Colour> {
public:
    static constexpr unsigned int classId = 1;
    static constexpr const char* typeName = "fixed colour";
    static constexpr NodeTable<> table{};
    explicit FixedColor(Color colour) : colour(colour) {}
    void Compute(Color* out, FunContext*) {
        log.Record(Components(*out));
        *out = colour;
    }
    Color colour;
    NativeLog log;
};

/// A real node whose native result the test chooses.
class FixedReal final : public NodeFrame<FixedReal, nodekind::Real> {
public:
    static constexpr unsigned int classId = 2;
    static constexpr const char* typeName = "fixed real";
    static constexpr NodeTable<> table{};
    explicit FixedReal(double value) : value(value) {}
    void Compute(double* out, FunContext*) {
        log.Record({*out});
        *out = value;
    }
    double value;
    NativeLog log;
};

/// A vector node with its own vector and real results; `writesReal` false leaves the real untouched.
class FixedVector final : public NodeFrame<FixedVector, nodekind::Vector> {
public:
    static constexpr unsigned int classId = 3;
    static constexpr const char* typeName = "fixed vector";
    static constexpr NodeTable<> table{};
    FixedVector(Vec3d vector, double real, bool writesReal = true)
        : vector(vector), real(real), writesReal(writesReal) {}
    void Compute(Vec3d* out, FunContext*) {
        vectorLog.Record(Components(*out));
        *out = vector;
    }
    void Compute(Vec2d* out, FunContext*) { *out = Vec2d(vector.x, vector.y); }
    void Compute(double* out, FunContext*) {
        realLog.Record({*out});
        if (writesReal) *out = real;
    }
    Vec3d vector;
    double real;
    bool writesReal;
    NativeLog vectorLog;
    NativeLog realLog;
};

template <class T>
std::string Text(const T& value) {
    std::string text;
    Converter::convert(value, text);
    return text;
}

// ---- Colour results -------------------------------------------------------------------------------

struct ColorScalarCase {
    Color colour;
    double real;
    int integer;
};

TEST(ColorResult, RealAndIntWeighTheChannelSum) {
    const ColorScalarCase cases[] = {
        {{1, 1, 1}, 0.9999999999999001, 254},         // a third to thirteen places; just under 255 / 3
        {{0.5, 0.5, 0.5}, 0.49999999999995004, 127},  //
        {{1, 0, 0}, 0.3333333333333, 84},             //
        {{0, 0, 0}, 0.0, 0},                          //
        {{0.2, 0.4, 0.6}, 0.39999999999996, 101},     // (0.4 + 0.6) + 0.2 is exactly 1.2
        {{-1, -1, -1}, -0.9999999999999001, -254},    // truncation toward zero
    };
    for (const ColorScalarCase& c : cases) {
        FixedColor node(c.colour);
        EXPECT_EQ(Evaluate<double>(node), c.real) << Text(c.colour);
        EXPECT_EQ(Evaluate<int>(node), c.integer) << Text(c.colour);
    }
}

TEST(ColorResult, ComponentOutputsKeepTheChannels) {
    FixedColor node({0.2, 0.4, 0.6});
    EXPECT_EQ(Components(Evaluate<ColorA>(node)), (std::vector<double>{0.2, 0.4, 0.6, 1.0}));
    EXPECT_EQ(Components(Evaluate<Quaternion>(node)), (std::vector<double>{0.2, 0.4, 0.6, 0.0}));
    EXPECT_EQ(Components(Evaluate<Vec4d>(node)), (std::vector<double>{0.2, 0.4, 0.6, 0.0}));
    EXPECT_EQ(Components(Evaluate<Vec3d>(node)), (std::vector<double>{0.2, 0.4, 0.6}));
    EXPECT_EQ(Components(Evaluate<Vec2d>(node)), (std::vector<double>{0.2, 0.4}));
    EXPECT_EQ(Evaluate<std::string>(node), Text(Color(0.2, 0.4, 0.6)));
}

TEST(ColorResult, AlphaIsOneWhateverTheColour) {
    for (const Color& colour : {Color(0, 0, 0), Color(nan, inf, -inf), Color(-3, 7, 0.5)}) {
        FixedColor node(colour);
        EXPECT_EQ(Evaluate<ColorA>(node).alpha, 1.0) << Text(colour);
    }
}

TEST(ColorResult, IntSaturatesOutsideTheIntRange) {
    const std::pair<Color, int> cases[] = {
        {{inf, 0, 0}, INT_MAX},   {{-inf, 0, 0}, INT_MIN},   {{nan, 0, 0}, 0},
        {{1e308, 0, 0}, INT_MAX}, {{-1e308, 0, 0}, INT_MIN}, {{inf, -inf, 0}, 0},  // inf - inf is NaN
    };
    for (const auto& [colour, expected] : cases) {
        FixedColor node(colour);
        EXPECT_EQ(Evaluate<int>(node), expected) << Text(colour);
    }
}

// ---- Real results ---------------------------------------------------------------------------------

TEST(RealResult, ComponentOutputsRepeatTheValue) {
    for (const double v : {-2.7, 0.0, 2.7, 1e300}) {
        FixedReal node(v);
        SCOPED_TRACE(v);
        EXPECT_EQ(Components(Evaluate<ColorA>(node)), (std::vector<double>{v, v, v, 1.0}));
        EXPECT_EQ(Components(Evaluate<Color>(node)), (std::vector<double>{v, v, v}));
        EXPECT_EQ(Components(Evaluate<Quaternion>(node)), (std::vector<double>{0, 0, 0, v}));
        EXPECT_EQ(Components(Evaluate<Vec4d>(node)), (std::vector<double>{v, v, v, v}));
        EXPECT_EQ(Components(Evaluate<Vec3d>(node)), (std::vector<double>{v, v, v}));
        EXPECT_EQ(Components(Evaluate<Vec2d>(node)), (std::vector<double>{v, v}));
        EXPECT_EQ(Evaluate<std::string>(node), Text(v));
    }
}

TEST(RealResult, IntTruncatesTowardZeroAndSaturates) {
    const std::pair<double, int> cases[] = {
        {2.7, 2},
        {-2.7, -2},
        {0.999, 0},
        {-0.999, 0},
        {2147483647.9, INT_MAX},
        {-2147483648.9, INT_MIN},
        {2147483648.0, INT_MAX},   // first real past the range
        {-2147483649.0, INT_MIN},  //
        {1e308, INT_MAX},
        {-1e308, INT_MIN},
        {inf, INT_MAX},
        {-inf, INT_MIN},
        {nan, 0},
    };
    for (const auto& [v, expected] : cases) {
        FixedReal node(v);
        EXPECT_EQ(Evaluate<int>(node), expected) << v;
    }
}

// ---- Vector results -------------------------------------------------------------------------------

TEST(VectorResult, ComponentOutputsKeepTheVector) {
    FixedVector node({1, -2, 3}, 0.5);
    EXPECT_EQ(Components(Evaluate<ColorA>(node)), (std::vector<double>{1, -2, 3, 1.0}));
    EXPECT_EQ(Components(Evaluate<Color>(node)), (std::vector<double>{1, -2, 3}));
    EXPECT_EQ(Components(Evaluate<Vec4d>(node)), (std::vector<double>{1, -2, 3, 0.0}));
    EXPECT_EQ(Evaluate<std::string>(node), Text(Vec3d(1, -2, 3)));
}

TEST(VectorResult, QuaternionWritesAllFourComponents) {
    FixedVector node({1, -2, 3}, 0.5);
    // Evaluate starts from a value of non-zero garbage, so a component left unwritten would show.
    EXPECT_EQ(Components(Evaluate<Quaternion>(node)), (std::vector<double>{1, -2, 3, 0.0}));
}

TEST(VectorResult, IntComesFromTheRealResult) {
    const std::pair<double, int> cases[] = {{0.75, 0}, {5.9, 5}, {-5.9, -5}, {inf, INT_MAX}, {nan, 0}};
    for (const auto& [real, expected] : cases) {
        FixedVector node({100, 200, 300}, real);
        EXPECT_EQ(Evaluate<int>(node), expected) << real;
    }
}

TEST(VectorResult, IntIsZeroWhenTheRealEvaluationWritesNothing) {
    FixedVector node({1, 2, 3}, 7.0, /*writesReal=*/false);
    EXPECT_EQ(Evaluate<int>(node), 0);
}

// ---- The native evaluation behind each output -----------------------------------------------------

/// Evaluates one output type of a node.
using Output = void (*)(Function&);
template <class T>
void Ask(Function& node) {
    Evaluate<T>(node);
}

TEST(Conversions, AskTheNativeResultOnceFromZero) {
    const Output colourOutputs[] = {Ask<std::string>, Ask<ColorA>, Ask<Quaternion>, Ask<Vec4d>,
                                    Ask<Vec3d>,       Ask<Vec2d>,  Ask<double>,     Ask<int>};
    for (Output ask : colourOutputs) {
        FixedColor node({1, 2, 3});
        ask(node);
        EXPECT_EQ(node.log.calls, 1);
        EXPECT_TRUE(node.log.startedAtZero);
    }

    const Output realOutputs[] = {Ask<std::string>, Ask<ColorA>, Ask<Color>, Ask<Quaternion>,
                                  Ask<Vec4d>,       Ask<Vec3d>,  Ask<Vec2d>, Ask<int>};
    for (Output ask : realOutputs) {
        FixedReal node(4.0);
        ask(node);
        EXPECT_EQ(node.log.calls, 1);
        EXPECT_TRUE(node.log.startedAtZero);
    }

    const Output vectorOutputs[] = {Ask<std::string>, Ask<ColorA>, Ask<Color>, Ask<Quaternion>, Ask<Vec4d>};
    for (Output ask : vectorOutputs) {
        FixedVector node({1, 2, 3}, 4.0);
        ask(node);
        EXPECT_EQ(node.vectorLog.calls, 1);
        EXPECT_EQ(node.realLog.calls, 0);
        EXPECT_TRUE(node.vectorLog.startedAtZero);
    }
    FixedVector node({1, 2, 3}, 4.0);
    Ask<int>(node);
    EXPECT_EQ(node.realLog.calls, 1);
    EXPECT_EQ(node.vectorLog.calls, 0);
    EXPECT_TRUE(node.realLog.startedAtZero);
}

// ---- Failures -------------------------------------------------------------------------------------

/// A node whose computation fails, as one does whose linked parameter's source throws.
class Failing final : public NodeFrame<Failing, nodekind::Vector> {
public:
    static constexpr unsigned int classId = 4;
    static constexpr const char* typeName = "failing";
    static constexpr NodeTable<> table{};
    void Compute(Vec3d*, FunContext*) { throw std::runtime_error("no vector"); }
    void Compute(Vec2d*, FunContext*) { throw std::runtime_error("no plane point"); }
    void Compute(double*, FunContext*) { throw 7; }  // not even a std::exception
};

template <class T>
void ExpectNothing(Function& node) {
    EXPECT_EQ(Components(Evaluate<T>(node)), Components(T{}));  // from garbage
}

// No exception leaves an Eval: each output of a failed computation is zero, and its text empty (not
// the text of a zero vector).
TEST(Failure, EveryOutputIsZeroOrEmpty) {
    Failing node;
    EXPECT_EQ(Evaluate<std::string>(node), "");
    ExpectNothing<ColorA>(node);
    ExpectNothing<Color>(node);
    ExpectNothing<Quaternion>(node);
    ExpectNothing<Vec4d>(node);
    ExpectNothing<Vec3d>(node);
    ExpectNothing<Vec2d>(node);
    ExpectNothing<double>(node);
    ExpectNothing<int>(node);
}

TEST(Category, IsTheModuleLabelEveryTime) {
    EXPECT_EQ(CategoryLabel(), "Nodes-Vantrel");
    std::string first = CategoryLabel();
    first += " changed";
    EXPECT_EQ(CategoryLabel(), "Nodes-Vantrel");  // each call hands out its own copy
}

}  // namespace
