#pragma once
/// @file
/// vantrel's command line: its commands and options as CLI11 takes them, and vantrel's own reading of
/// their values once CLI11 has parsed them.

#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "tools/cli/commands.h"
#include "tools/cli/options.h"
#include "tools/serve/serve.h"

namespace vantrel {

/// The options of every command, filled in by CLI11's parse and then by `ReadValues`. CLI11 keeps
/// pointers to the members, so a command line stays where it was made.
struct CommandLine {
    CommandLine(const CommandLine&) = delete;
    CommandLine& operator=(const CommandLine&) = delete;

    /// The commands and their options, with `moduleHelp` the help of --module.
    explicit CommandLine(const std::string& moduleHelp);

    CLI::App app;
    std::vector<std::string> modules;  ///< --module, repeatable

    struct {
        CLI::App* command;
        bool json = false;
    } list;
    struct {
        CLI::App* command;
        EvalOptions options;
        std::string type, node, threads;
        std::vector<std::string> settings;
    } eval;
    struct {
        CLI::App* command;
        RenderOptions options;
        RenderTexts texts;
        std::string node;
        std::vector<std::string> settings;
    } render;
    struct {
        CLI::App* command;
        BakeOptions options;
        RenderTexts texts;  ///< --size, --samples and --threads
        std::string node;
        std::vector<std::string> settings;
    } bake;
    struct {
        CLI::App* command;
        JoinOptions options;
    } join;
#if VANTREL_SERVE
    struct {
        CLI::App* command;
        CLI::App* worker;  ///< the process a preview runs in, which the server starts itself
        ServeOptions options;
        std::string port, timeLimit;
    } serve;
#endif
};

/// Reads the values CLI11 took as text into the commands' options: throws quib::Error (BadInput) for
/// one that is not what its option takes.
void ReadValues(CommandLine& line);

}  // namespace vantrel
