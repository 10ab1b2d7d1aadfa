// vantrel: a command-line host for the module's nodes. Reads the command line, finds and loads the
// module, runs one command, and turns errors into messages and exit statuses.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "quib/scene.h"
#include "tools/commands.h"

namespace vantrel {
namespace {

constexpr const char* moduleFileName = "VantrelFunctions.so";

/// The module named by --module, else by VANTREL_MODULE, else the one beside the executable.
std::string ModulePath(const std::string& option) {
    if (!option.empty()) return option;
    if (const char* variable = std::getenv("VANTREL_MODULE"); variable != nullptr && *variable != '\0') {
        return variable;
    }
    std::error_code error;
    const std::filesystem::path executable = std::filesystem::read_symlink("/proc/self/exe", error);
    return (error ? std::filesystem::path(moduleFileName) : executable.parent_path() / moduleFileName)
        .string();
}

/// Reads "WxH" into the options.
void ReadSize(const std::string& text, RenderOptions& options) {
    int width = 0;
    int height = 0;
    char separator = 0;
    std::size_t used = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%zn", &width, &separator, &height, &used) != 3 ||
        used != text.size() || separator != 'x' || width < 1 || height < 1 || width > largestSide ||
        height > largestSide) {
        throw InputError("--size: expected WIDTHxHEIGHT, each from 1 to " + std::to_string(largestSide) +
                         ", not \"" + text + "\"");
    }
    options.width = width;
    options.height = height;
}

int Run(int argc, char** argv) {
    CLI::App app(
        "A host for the VantrelFunctions nodes: lists them, evaluates scenes of them at sample\n"
        "points and renders scenes into images.",
        "vantrel");
    app.set_version_flag("--version", std::string("vantrel ") + VANTREL_VERSION);
    app.require_subcommand(1);
    app.fallthrough();  // --module may come after the command too
    std::string moduleOption;
    app.add_option("--module", moduleOption,
                   "The module to load (default: $VANTREL_MODULE, else VantrelFunctions.so beside vantrel)");

    CLI::App* list = app.add_subcommand("list", "List the module's node types with their parameters");
    bool json = false;
    list->add_flag("--json", json, "Print JSON instead of text");

    const auto typeNames = CLI::CheckedTransformer(OutputTypeNames()).description("");
    const std::string typeHelp =
        "The output type to ask the output node for: string colora color quaternion vec4 vec3 vec2 double "
        "int "
        "(default color)";
    CLI::App* eval = app.add_subcommand(
        "eval", "Evaluate a scene at the positions read from standard input, one \"x y z\" a line");
    EvalOptions evalOptions;
    eval->add_option("scene", evalOptions.scene, "The scene file")->required()->type_name("SCENE");
    eval->add_option("--type", evalOptions.type, typeHelp)->transform(typeNames)->type_name("TYPE");

    CLI::App* render = app.add_subcommand("render", "Render a scene into a PNG or OpenEXR image");
    RenderOptions renderOptions;
    std::string size;
    render->add_option("scene", renderOptions.scene, "The scene file")->required()->type_name("SCENE");
    render->add_option("-o,--output", renderOptions.output,
                       "The image file, .png or .exr (default: the scene's name with .png, here)");
    render->add_option("--size", size, "WIDTHxHEIGHT (default: 512 wide, the height from the domain)");
    render->add_option("--type", renderOptions.type, typeHelp + "; not string")
        ->transform(typeNames)
        ->type_name("TYPE");
    render->add_option("--threads", renderOptions.threads, "Render threads (default: one a core)")
        ->check(CLI::Range(1, 1024));
    render->add_option("--depth", renderOptions.depth, "PNG bits a channel, 8 or 16 (default 8)")
        ->check(CLI::IsMember({8, 16}));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? exitSuccess : exitBadInput;
    }

    try {
        if (!size.empty()) ReadSize(size, renderOptions);
        const quib::Module module(ModulePath(moduleOption));
        if (*list) RunList(module, json, std::cout);
        if (*eval) RunEval(module, evalOptions, std::cin, std::cout);
        if (*render) RunRender(module, renderOptions, std::cout);
    } catch (const InputError& error) {
        std::cerr << "vantrel: " << error.what() << "\n";
        return exitBadInput;
    } catch (const quib::SceneError& error) {
        std::cerr << "vantrel: " << error.what() << "\n";
        return exitBadInput;
    } catch (const quib::ModuleError& error) {
        std::cerr << "vantrel: " << error.what() << "\n";
        return exitBadInput;
    } catch (const std::exception& error) {
        std::cerr << "vantrel: " << error.what() << "\n";
        return exitFailure;
    }
    std::cout.flush();
    return std::cout ? exitSuccess : exitFailure;
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) {
    // Buffered standard streams of their own: eval reads and writes a line a sample.
    std::ios::sync_with_stdio(false);
    return vantrel::Run(argc, argv);
}
