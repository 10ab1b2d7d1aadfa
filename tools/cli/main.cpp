// vantrel: a command-line host for the module's nodes. Reads the command line, finds and loads the
// module, runs one command, and turns errors into messages and exit statuses.

#include <pthread.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX  // windows.h would otherwise define min and max as macros
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>

#include "quib/text.h"
#include "scene/scene.h"
#include "tools/cli/commands.h"
#include "tools/cli/options.h"
#include "tools/cli/stop_signals.h"
#include "tools/serve/serve.h"

namespace vantrel {
namespace {

constexpr const char* moduleFileName = VANTREL_MODULE_FILE;  // VantrelFunctions.so or .dll
constexpr const char* nodesFileName = QUIB_NODES_FILE;       // QuibNodes.so or .dll, the host's own nodes

/// This program's file, or an empty path when the system does not say.
std::filesystem::path ExecutablePath() {
#ifdef _WIN32
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return {};
        if (length < path.size()) return path.substr(0, length);
        path.resize(2 * path.size());  // cut short: try again with more room
    }
#else
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error);
#endif
}

/// The modules named by --module, else by VANTREL_MODULE (files separated by the system's path
/// separator, ":" or ";"), else the product's and the host's node library beside the executable.
std::vector<std::string> ModulePaths(const std::vector<std::string>& options) {
    if (!options.empty()) return options;
    if (const char* variable = std::getenv("VANTREL_MODULE"); variable != nullptr && *variable != '\0') {
#ifdef _WIN32
        constexpr char separator = ';';
#else
        constexpr char separator = ':';
#endif
        std::vector<std::string> paths;
        for (std::string_view rest = variable;;) {
            const std::size_t end = rest.find(separator);
            const std::string_view entry = rest.substr(0, end);
            if (!entry.empty()) paths.emplace_back(entry);  // an empty entry names nothing
            if (end == std::string_view::npos) break;
            rest.remove_prefix(end + 1);
        }
        if (!paths.empty()) return paths;  // a list of empty entries is as none
    }
    const std::filesystem::path folder = ExecutablePath().parent_path();
    return {(folder / moduleFileName).string(), (folder / nodesFileName).string()};
}

/// Why writing to standard output failed, from errno, which the caller read first thing.
std::string WriteFailure(int error) {
    return std::string("standard output: cannot write: ") +
           (error != 0 ? std::strerror(error) : "the stream failed");
}

}  // namespace

#ifndef _WIN32
void* LoadBeside(const char* file, const char* symbol) {
    // Every symbol bound at once: the module takes the render and the encoders from this executable.
    const std::filesystem::path path = ExecutablePath().parent_path() / file;
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    void* function = library != nullptr ? dlsym(library, symbol) : nullptr;
    if (function == nullptr)
        throw quib::Error(quib::Error::Kind::Failure, std::string("cannot load ") + dlerror());
    return function;
}
#endif

ExitStatus ExitStatusOf(const quib::Error& error) {
    switch (error.GetKind()) {
        case quib::Error::Kind::Failure:
            return exitFailure;
        default:
            return exitBadInput;
    }
}

void CheckWritten(const std::ostream& out) {
    const int error = errno;  // before anything else may change it
    if (!out) throw quib::Error(quib::Error::Kind::Failure, WriteFailure(error));
}

namespace {

int Run(int argc, char** argv) {
    CLI::App app(
        "A host for the VantrelFunctions nodes: lists them, evaluates scenes of them at sample\n"
        "points and renders scenes into images.",
        "vantrel");
    app.set_version_flag("--version", std::string("vantrel ") + VANTREL_VERSION);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // CLI11's messages in vantrel's voice, each argument they repeat an excerpt.
    app.failure_message([&](const CLI::App* parsed, const CLI::Error& error) {
        return "vantrel: " + CommandLineMessage(*parsed, error, arguments) + "\n";
    });
    app.require_subcommand(1);
    app.fallthrough();  // --module may come after the command too
    // The same command line everywhere: on Windows too an argument beginning with "/" is a path, not
    // an option (before the commands are added, which take this from the app).
    app.allow_windows_style_options(false);
    std::vector<std::string> moduleOptions;
    app.add_option("--module", moduleOptions,
                   std::string("A module to load; repeatable, and then only those are loaded (default: "
                               "$VANTREL_MODULE, else ") +
                       moduleFileName + " and " + nodesFileName + " beside vantrel)")
        ->allow_extra_args(false);

    CLI::App* list = app.add_subcommand("list", "List the modules' node types with their parameters");
    bool json = false;
    list->add_flag("--json", json, "Print JSON instead of text");

    const std::string typeHelp = "The output type to ask the output node for: " + OutputTypeNames(" ") +
                                 " (default: the scene's \"output_type\", else color)";
    CLI::App* eval = app.add_subcommand(
        "eval", "Evaluate a scene at the positions read from standard input, one \"x y z\" a line");
    EvalOptions evalOptions;
    eval->add_option("scene", evalOptions.scene, "The scene file")->required()->type_name("SCENE");
    std::string evalType;
    eval->add_option("--type", evalType, typeHelp)->type_name("TYPE");
    const std::string nodeHelp = "The node to evaluate in place of the scene's output";
    const std::string setHelp =
        "Override a parameter, VALUE written as in a scene file (3, [1, 0, 0], {\"link\": \"@position\"}); "
        "repeatable";
    std::string evalNode;
    std::vector<std::string> evalSettings;
    eval->add_option("--node", evalNode, nodeHelp)->type_name("ID");
    eval->add_option("--set", evalSettings, setHelp)->type_name("ID.PARAM=VALUE")->allow_extra_args(false);
    std::string evalThreads;
    eval->add_option("--threads", evalThreads, "Evaluation threads, 1 to 1024 (default: one a core)")
        ->type_name("N");

    CLI::App* render = app.add_subcommand("render", "Render a scene into a PNG or OpenEXR image");
    RenderOptions renderOptions;
    RenderTexts texts;
    std::string renderType;
    render->add_option("scene", renderOptions.scene, "The scene file")->required()->type_name("SCENE");
    render->add_option("-o,--output", renderOptions.output,
                       "The image file, .png or .exr (default: the scene's name with .png, here)");
    render->add_option("--size", texts.size,
                       "WIDTHxHEIGHT, or WIDTH and the height from the domain (default: 512 wide)");
    render->add_option("--type", renderType, typeHelp + "; not string")->type_name("TYPE");
    render->add_option("--threads", texts.threads, "Render threads, 1 to 1024 (default: one a core)")
        ->type_name("N");
    render->add_option("--depth", texts.depth, "PNG bits a channel, 8 or 16 (default 8); PNG only")
        ->type_name("BITS");
    render->add_flag(
        "--linear", renderOptions.linear,
        "A PNG of a colour holds the values as they are, tagged as linear light, not sRGB-encoded");
    render
        ->add_option("--samples", texts.samples,
                     "N x N sub-samples a pixel, averaged, N from 1 to 16 (default 1); not for int")
        ->type_name("N");
    std::string renderNode;
    std::vector<std::string> renderSettings;
    render->add_option("--node", renderNode, nodeHelp)->type_name("ID");
    render->add_option("--set", renderSettings, setHelp)
        ->type_name("ID.PARAM=VALUE")
        ->allow_extra_args(false);
    render
        ->add_option("--region", texts.region,
                     "Part of the domain: the plane from (A, B) to (C, D), the sphere from longitude A to C "
                     "and latitude B to D in degrees")
        ->type_name("A,B,C,D");
    render
        ->add_option(
            "--part", texts.part,
            "Render only part K of N bands of rows, into a part file (-o NAME.png.part or NAME.exr.part) "
            "for join")
        ->type_name("K/N");

    CLI::App* join =
        app.add_subcommand("join", "Join the part files of one render into its PNG or OpenEXR image");
    JoinOptions joinOptions;
    join->add_option("parts", joinOptions.parts, "The part files, in any order")
        ->required()
        ->type_name("PART");
    join->add_option("-o,--output", joinOptions.output,
                     "The image file, .png or .exr, as the parts were rendered for")
        ->required();

#if VANTREL_SERVE
    CLI::App* serve = app.add_subcommand(
        "serve", "Edit a scene in the browser: serve the editor page on this machine and print its address");
    ServeOptions serveOptions;
    serve->add_option("scene", serveOptions.scene, "The scene file to edit (default: a new scene, here)")
        ->type_name("SCENE");
    std::string port;
    serve->add_option("--port", port, "The port to listen on; 0 picks a free one (default 8420)")
        ->type_name("PORT");
    serve
        ->add_option("--host", serveOptions.host,
                     "The address to listen on, and the name the browser may use (default: 127.0.0.1 only)")
        ->type_name("HOST");
    CLI::Option* token =
        serve
            ->add_option("--token", serveOptions.token,
                         "The secret every request must carry (default: a new random one, printed in the "
                         "address). Every account of the machine can read a program's command line: give "
                         "it in VANTREL_TOKEN or --token-file instead")
            ->envname("VANTREL_TOKEN")
            ->type_name("SECRET");
    serve
        ->add_option("--token-file", serveOptions.tokenFile,
                     "A file that holds the secret, readable by its owner only (mode 600)")
        ->excludes(token)
        ->type_name("FILE");
    std::string timeLimit;
    serve
        ->add_option("--time-limit", timeLimit,
                     "The seconds a preview may take before it is stopped, 0.1 to 86400 (default 5)")
        ->type_name("SECONDS");
    // The process a preview of `serve` runs in, which the server starts itself.
    CLI::App* previewWorker = app.add_subcommand("preview-worker", "");
    previewWorker->group("");
#endif

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? exitSuccess : exitBadInput;
    }

    try {
        for (const std::string* name :
             {&evalOptions.scene, &renderOptions.scene, &renderOptions.output, &joinOptions.output})
            CheckFileName(*name);
        for (const std::string& name : joinOptions.parts)
            CheckFileName(name);
        ReadRenderOptions(*render, texts, renderOptions);
        if (eval->count("--threads") > 0)
            evalOptions.threads = ReadWhole("--threads", evalThreads, 1, 1024, "the evaluation threads");
#if VANTREL_SERVE
        CheckFileName(serveOptions.scene);
        if (serve->count("--time-limit") > 0) serveOptions.timeLimit = ReadTimeLimit(timeLimit);
        if (serve->count("--port") > 0)
            serveOptions.port = ReadWhole("--port", port, 0, 65535, "the port to listen on");
#endif
        if (*join) {
            RunJoin(joinOptions, std::cout);  // needs no module
        } else {
            ReadEdits(eval->count("--node") > 0, evalNode, evalSettings, evalOptions.edits);
            ReadEdits(render->count("--node") > 0, renderNode, renderSettings, renderOptions.edits);
            evalOptions.type = ReadType(evalType);
            renderOptions.type = ReadType(renderType);
            const std::vector<std::string> modulePaths = ModulePaths(moduleOptions);
            for (const std::string& name : modulePaths)
                CheckFileName(name);
            const Scene::ModulePointer module = ModuleSet::Load(modulePaths);
            if (*list) RunList(*module, json, std::cout);
            if (*eval) RunEval(module, evalOptions, std::cin, std::cout);
            if (*render) RunRender(module, renderOptions, std::cout);
#if VANTREL_SERVE
            if (*serve) {
                serveOptions.program = ExecutablePath();
                serveOptions.page = serveOptions.program.parent_path() / "editor";
                // The server's module stays loaded: what it throws is its code.
                reinterpret_cast<ServeFunction*>(LoadBeside(VANTREL_SERVE_FILE, "VantrelServe"))(
                    module, serveOptions, std::cout);
            }
            if (*previewWorker) {
                return reinterpret_cast<PreviewWorkerFunction*>(
                    LoadBeside(VANTREL_SERVE_FILE, "VantrelPreviewWorker"))(module);
            }
#endif
        }
    } catch (const quib::Error& error) {
        std::cerr << "vantrel: " << quib::Printable(error.what()) << "\n";
        return ExitStatusOf(error);
    } catch (const std::bad_alloc&) {
        std::cerr << "vantrel: not enough memory\n";
        return exitFailure;
    } catch (const std::exception& error) {
        std::cerr << "vantrel: " << quib::Printable(error.what()) << "\n";
        return exitFailure;
    }
    errno = 0;
    std::cout.flush();  // what render reported, or what a command left in the buffer
    if (!std::cout) {
        const int error = errno;
        std::cerr << "vantrel: " << WriteFailure(error) << "\n";
        return exitFailure;
    }
    return exitSuccess;
}

}  // namespace
}  // namespace vantrel

int main(int argc, char** argv) {
    // Buffered standard streams of their own: eval reads and writes a line a sample.
    std::ios::sync_with_stdio(false);
    // The command runs on a thread of its own, and it and the render threads get stacks of a size set
    // here, not by `ulimit -s`: evaluation follows links by recursion, and the longest chain a scene may
    // hold must fit in every build, the sanitized ones too, whose frames are several times larger.
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    const bool sized = pthread_attr_setstacksize(&attributes, vantrel::threadStack) == 0 &&
                       pthread_setattr_default_np(&attributes) == 0;
    pthread_attr_destroy(&attributes);
    if (!sized) {
        std::cerr << "vantrel: cannot set the stack size of its threads\n";
        return vantrel::exitFailure;
    }
#ifdef SIGXFSZ
    // A write beyond the file size limit (`ulimit -f`) fails with EFBIG, which is said like any other
    // failed write, and a render removes its pending file, instead of ending the program unannounced.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    int status = vantrel::exitFailure;
    try {
        std::thread command([&] { status = vantrel::Run(argc, argv); });
        // The stop signals go to the command's threads, so that the one that puts a rendered file in
        // place can hold them back while it does.
        sigset_t stop;
        sigemptyset(&stop);
        for (int signal : vantrel::stopSignals)
            sigaddset(&stop, signal);
        pthread_sigmask(SIG_BLOCK, &stop, nullptr);
        command.join();
    } catch (const std::system_error& error) {
        std::cerr << "vantrel: cannot start a thread: " << error.what() << "\n";
    }
    return status;
}
