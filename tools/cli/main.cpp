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
#include "tools/cli/command_line.h"
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

/// Runs the command the command line names, once its values are read.
int RunCommand(CommandLine& line) {
    if (*line.join.command) {
        RunJoin(line.join.options, std::cout);  // needs no module
        return exitSuccess;
    }
    const std::vector<std::string> modulePaths = ModulePaths(line.modules);
    for (const std::string& name : modulePaths)
        CheckFileName(name);
    const Scene::ModulePointer module = ModuleSet::Load(modulePaths);
    if (*line.list.command) RunList(*module, line.list.json, std::cout);
    if (*line.eval.command) RunEval(module, line.eval.options, std::cin, std::cout);
    if (*line.render.command) RunRender(module, line.render.options, std::cout);
    if (*line.bake.command) RunBake(module, line.bake.options, std::cout);
#if VANTREL_SERVE
    if (*line.serve.command) {
        ServeOptions& options = line.serve.options;
        options.program = ExecutablePath();
        options.page = options.program.parent_path() / "editor";
        // The server's module stays loaded: what it throws is its code.
        reinterpret_cast<ServeFunction*>(LoadBeside(VANTREL_SERVE_FILE, "VantrelServe"))(module, options,
                                                                                         std::cout);
    }
    if (*line.serve.worker) {
        return reinterpret_cast<PreviewWorkerFunction*>(
            LoadBeside(VANTREL_SERVE_FILE, "VantrelPreviewWorker"))(module);
    }
#endif
    return exitSuccess;
}

int Run(int argc, char** argv) {
    CommandLine line(std::string("A module to load; repeatable, and then only those are loaded (default: "
                                 "$VANTREL_MODULE, else ") +
                     moduleFileName + " and " + nodesFileName + " beside vantrel)");
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    // CLI11's messages in vantrel's voice, each argument they repeat an excerpt.
    line.app.failure_message([&](const CLI::App* parsed, const CLI::Error& error) {
        return "vantrel: " + CommandLineMessage(*parsed, error, arguments) + "\n";
    });
    try {
        line.app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return line.app.exit(error) == 0 ? exitSuccess : exitBadInput;
    }

    try {
        ReadValues(line);
        if (const int status = RunCommand(line); status != exitSuccess) return status;
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
