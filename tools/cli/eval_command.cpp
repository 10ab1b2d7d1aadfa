// `vantrel eval`: the scene's output node at sample positions read from standard input.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ios>
#include <istream>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "quib/text.h"
#include "scene/scene.h"
#include "tools/cli/commands.h"
#include "tools/render/render_core.h"
#include "tools/render/sample_arrays.h"
#include "tools/render/value_text.h"

namespace vantrel {
namespace {

/// Blanks between numbers; a carriage return too, so that files with CRLF line ends read alike.
bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

/// Reads "x y z" (numbers separated by blanks or tabs) into `position`. False when the line holds
/// anything else.
bool ReadPosition(std::string_view line, Vec3d& position) {
    double* targets[] = {&position.x, &position.y, &position.z};
    const char* cursor = line.data();
    const char* end = line.data() + line.size();
    auto skipBlanks = [&] {
        while (cursor != end && IsBlank(*cursor))
            ++cursor;
    };
    for (double* target : targets) {
        skipBlanks();
        const auto [stop, error] = std::from_chars(cursor, end, *target);
        // A number must end at a blank or at the end of the line: "1x" is not a number.
        if (error != std::errc() || (stop != end && !IsBlank(*stop))) return false;
        cursor = stop;
    }
    skipBlanks();
    return cursor == end;
}

/// Where a sample line came from, for messages: "standard input: line 3".
std::string LineSource(long lineNumber) {
    return "standard input: line " + std::to_string(lineNumber);
}

/// Reads the next line of `in` into `line`, without its '\n'; false at the end of the input. A line is
/// at most `largestSampleLine` bytes: one longer is refused as soon as that many are read, so that an
/// endless line (`< /dev/zero`) neither takes all the memory nor passes for the end of the input. A read
/// that fails (standard input a folder, or closed) is said, not taken for the end either.
bool ReadLine(std::streambuf& in, long lineNumber, std::string& line) {
    line.clear();
    try {
        for (int c = in.sbumpc(); c != std::streambuf::traits_type::eof(); c = in.sbumpc()) {
            if (c == '\n') return true;
            if (line.size() == largestSampleLine) {
                throw UsageError(LineSource(lineNumber),
                                 "a line of at most " + std::to_string(largestSampleLine) + " bytes (1 MiB)",
                                 "a longer one");
            }
            line.push_back(static_cast<char>(c));
        }
    } catch (const std::ios_base::failure& error) {
        throw std::move(quib::Error(quib::Error::Kind::Failure, "cannot read: " + error.code().message())
                            .WithSource(LineSource(lineNumber)));
    }
    return !line.empty();
}

/// Evaluates `node` as T at the positions of the lines of `in`, printing each value to `out`. The
/// positions are taken in batches: those waiting in `in`, up to a chunk for each thread, evaluated
/// together before more are read, so that a program feeding lines one by one gets each answer at once,
/// and a bad line is refused once the lines before it are answered.
template <class T>
void EvalLines(Function& node, int threads, std::istream& in, std::ostream& out) {
    const std::size_t batch = std::size_t{1024} * static_cast<std::size_t>(threads);
    std::vector<double> xyz;
    std::vector<T> values;
    const auto answer = [&] {
        if (xyz.empty()) return;
        values.resize(xyz.size() / 3);
        EvalAt(node, std::span<const double>(xyz), std::span<T>(values), threads);
        xyz.clear();
        errno = 0;
        for (const T& value : values)
            out << ValueText(value) << '\n';
        out.flush();
        CheckWritten(out);  // stop at the first write that fails, not after reading all the input
    };
    std::string line;
    try {
        for (long lineNumber = 1; ReadLine(*in.rdbuf(), lineNumber, line); ++lineNumber) {
            const std::string_view sample = std::string_view(line).substr(0, line.find('#'));
            if (std::all_of(sample.begin(), sample.end(), IsBlank)) continue;
            Vec3d position;
            if (!ReadPosition(sample, position))
                throw UsageError(LineSource(lineNumber), "three numbers \"x y z\"", quib::Quote(line));
            xyz.insert(xyz.end(), {position.x, position.y, position.z});
            if (xyz.size() / 3 == batch || in.rdbuf()->in_avail() <= 0) answer();
        }
    } catch (const quib::Error&) {
        answer();  // the lines before the one that stops the command are answered
        throw;
    }
    answer();
}

}  // namespace

void RunEval(const Scene::ModulePointer& module, const EvalOptions& options, std::istream& in,
             std::ostream& out) {
    const Scene scene = Scene::FromFile(options.scene, module, options.edits);
    // Output is flushed here, when the input has no more waiting, not by a tie of `in` to it: a write
    // that fails must be seen by the check after it, while errno still says why.
    in.tie(nullptr);
    const int threads = options.threads > 0 ? options.threads : DefaultThreads();
    VisitOutputType(TypeFor(options.type, scene),
                    [&]<class T>(std::type_identity<T>) { EvalLines<T>(scene.Output(), threads, in, out); });
}

}  // namespace vantrel
