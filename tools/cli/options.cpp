// The values of vantrel's options, read from the text CLI11 takes.

#include "tools/cli/options.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <string_view>

#include "quib/text.h"

namespace vantrel {

std::optional<OutputType> ReadType(const std::string& text) {
    if (text.empty()) return std::nullopt;
    const std::optional<OutputType> type = OutputTypeNamed(text);
    if (!type) {
        throw UsageError("--type", "one of " + OutputTypeNames(", "), quib::Quote(text));
    }
    return type;
}

namespace {

/// A whole number of up to 64 bits, or nothing: its range is the render's to check.
std::optional<long long> ReadNumber(std::string_view text) {
    long long number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    // from_chars reports a number beyond 64 bits instead of wrapping it.
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

long long ReadInteger(const std::string& option, const std::string& text, const std::string& what) {
    const std::optional<long long> number = ReadNumber(text);
    if (!number) throw UsageError(option, "a whole number, " + what, quib::Quote(text));
    return *number;
}

void ReadSize(const std::string& text, ImageRequest& image) {
    const std::size_t separator = text.find('x');
    const std::optional<long long> width = ReadNumber(std::string_view(text).substr(0, separator));
    const std::optional<long long> height = separator == std::string::npos
                                                ? std::nullopt
                                                : ReadNumber(std::string_view(text).substr(separator + 1));
    if (!width || (separator != std::string::npos && !height)) {
        throw UsageError("--size", "WIDTHxHEIGHT or WIDTH, whole numbers of pixels", quib::Quote(text));
    }
    image.width = *width;
    image.height = height;
}

void ReadPart(const std::string& text, RenderOptions& options) {
    const std::size_t slash = text.find('/');
    const std::optional<long long> part =
        slash == std::string::npos ? std::nullopt : ReadNumber(std::string_view(text).substr(0, slash));
    const std::optional<long long> parts =
        slash == std::string::npos ? std::nullopt : ReadNumber(std::string_view(text).substr(slash + 1));
    // N is the render's to check against the image's rows; K is a part of N.
    if (!part || !parts || *part < 1 || *part > *parts || *part > INT_MAX) {
        throw UsageError("--part", "K/N, part K of N bands of rows, 1 <= K <= N", quib::Quote(text));
    }
    options.part = static_cast<int>(*part);
    options.image.parts = *parts;
}

/// The four numbers "A,B,C,D" of `option`, finite reals or whole numbers as T is.
template <class T>
std::array<T, 4> ReadFour(const std::string& option, const std::string& text, const char* expected) {
    std::array<T, 4> corners{};
    const char* cursor = text.data();
    const char* end = text.data() + text.size();
    bool read = true;
    for (std::size_t i = 0; i < corners.size() && read; ++i) {
        const auto [stop, error] = std::from_chars(cursor, end, corners[i]);
        read = error == std::errc() && std::isfinite(static_cast<double>(corners[i])) &&
               (i + 1 < corners.size() ? stop != end && *stop == ',' : stop == end);
        if (read && stop != end) cursor = stop + 1;
    }
    if (!read) throw UsageError(option, expected, quib::Quote(text));
    return corners;
}

}  // namespace

int ReadWhole(const std::string& option, const std::string& text, int low, int high,
              const std::string& what) {
    const std::optional<long long> number = ReadNumber(text);
    if (!number || *number < low || *number > high) {
        throw UsageError(
            option,
            "a whole number from " + std::to_string(low) + " to " + std::to_string(high) + ", " + what,
            quib::Quote(text));
    }
    return static_cast<int>(*number);
}

namespace {

/// --threads and --samples, which render and bake share.
void ReadSampling(const CLI::App& command, const RenderTexts& texts, ImageRequest& image) {
    if (command.count("--threads") > 0)
        image.threads = ReadInteger("--threads", texts.threads, "the render threads");
    if (command.count("--samples") > 0) {
        image.samples = ReadInteger("--samples", texts.samples, "the sub-samples along each side of a pixel");
    }
}

}  // namespace

void ReadRenderOptions(const CLI::App& render, const RenderTexts& texts, RenderOptions& options) {
    ImageRequest& image = options.image;
    image.type = ReadType(texts.type);
    if (render.count("--size") > 0) ReadSize(texts.size, image);
    ReadSampling(render, texts, image);
    if (render.count("--depth") > 0)
        image.depth = ReadInteger("--depth", texts.depth, "the bits a channel of a PNG");
    if (render.count("--region") > 0)
        image.region = ReadFour<double>("--region", texts.region, "four numbers A,B,C,D");
    if (render.count("--window") > 0)
        image.window = ReadFour<long long>("--window", texts.window, "four whole numbers X,Y,W,H");
    if (render.count("--part") > 0) ReadPart(texts.part, options);
    if (render.count("--tile") > 0)
        image.tile = ReadInteger("--tile", texts.tile, "the side of a tile in pixels");
}

void ReadBakeOptions(const CLI::App& bake, const RenderTexts& texts, BakeOptions& options) {
    if (bake.count("--size") > 0) {
        options.image.width = ReadWhole("--size", texts.size, 1, largestTextureSide,
                                        "the side of the square texture in pixels");
        options.image.height = options.image.width;
    }
    ReadSampling(bake, texts, options.image);
}

void ReadEdits(bool nodeGiven, const std::string& node, const std::vector<std::string>& settings,
               SceneEdits& edits) {
    // Given, --node names a node: an empty id is none, not the scene's output.
    if (nodeGiven && node.empty()) throw UsageError("--node", "the id of a node", quib::Quote(node));
    // How the user asked, for messages that name the scene "with" the edits: each as an excerpt.
    if (!node.empty()) {
        edits.output = node;
        edits.said = "--node " + quib::Excerpt(node);
    }
    for (const std::string& text : settings) {
        const std::size_t equals = text.find('=');
        const std::size_t dot = text.rfind('.', equals);
        if (equals == std::string::npos || dot == std::string::npos || dot == 0 || dot + 1 == equals) {
            throw UsageError("--set", "ID.PARAM=VALUE, the value written as in a scene file",
                             quib::Quote(text));
        }
        const std::string said = "--set " + quib::Excerpt(text);
        edits.settings.push_back({text, said});
        edits.said += (edits.said.empty() ? "" : " ") + said;
    }
}

void CheckFileName(const std::string& name) {
    if (name.size() > largestFileName) {
        throw quib::Error::Expected(quib::Error::Code::OutOfRange, {},
                                    "a file name of at most " + std::to_string(largestFileName) + " bytes",
                                    quib::Quote(name));
    }
}

std::chrono::milliseconds ReadTimeLimit(const std::string& text) {
    double seconds = 0.0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    // Not-a-number is within no range: each comparison with it is false.
    if (error != std::errc() || end != text.data() + text.size() ||
        !(seconds >= 0.1 && seconds <= largestTimeLimit)) {
        throw UsageError("--time-limit", "a number of seconds from 0.1 to 86400 (a day)", quib::Quote(text));
    }
    return std::chrono::milliseconds(std::lround(seconds * 1000.0));
}

std::string ExcerptArguments(std::string message, const std::vector<std::string>& arguments) {
    std::vector<std::string> repeated = arguments;
    for (const std::string& argument : arguments) {
        const std::size_t equals = argument.find('=');
        if (argument.starts_with("-") && equals != std::string::npos)
            repeated.push_back(argument.substr(equals + 1));
    }
    // The longest first: an argument within another is then not found inside the other's excerpt.
    std::sort(repeated.begin(), repeated.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& argument : repeated) {
        const std::string excerpt = quib::Excerpt(argument);
        if (argument.empty() || excerpt == argument) continue;
        for (std::size_t at = message.find(argument); at != std::string::npos;
             at = message.find(argument, at + excerpt.size()))
            message.replace(at, argument.size(), excerpt);
    }
    return message;
}

std::string CommandLineMessage(const CLI::App& app, const CLI::Error& error,
                               const std::vector<std::string>& arguments) {
    const bool noCommand =
        dynamic_cast<const CLI::RequiredError*>(&error) != nullptr && app.get_subcommands().empty();
    if (!noCommand) return quib::Printable(ExcerptArguments(error.what(), arguments));
    std::string commands;
    for (const CLI::App* command :
         app.get_subcommands([](const CLI::App* each) { return !each->get_group().empty(); }))
        commands += (commands.empty() ? "" : ", ") + command->get_name();
    // The first word that is no option, nor --module's value, is what was meant for a command.
    std::string found;
    for (std::size_t i = 0; i < arguments.size() && found.empty(); ++i) {
        if (arguments[i] == "--module")
            ++i;
        else if (!arguments[i].starts_with("-"))
            found = quib::Quote(arguments[i]);
    }
    return quib::Error::Expected(quib::Error::Code::BadValue, {}, "a command: " + commands, found).what();
}

}  // namespace vantrel
