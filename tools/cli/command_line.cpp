// vantrel's commands and options, and the reading of their values.

#include "tools/cli/command_line.h"

namespace vantrel {
namespace {

const std::string typeHelp = "The output type to ask the output node for: " + OutputTypeNames(" ") +
                             " (default: the scene's \"output_type\", else color)";
const std::string nodeHelp = "The node to evaluate in place of the scene's output";
const std::string setHelp =
    "Override a parameter, VALUE written as in a scene file (3, [1, 0, 0], {\"link\": \"@position\"}); "
    "repeatable";

/// --node and --set, which eval and render share.
void AddEdits(CLI::App& command, std::string& node, std::vector<std::string>& settings) {
    command.add_option("--node", node, nodeHelp)->type_name("ID");
    command.add_option("--set", settings, setHelp)->type_name("ID.PARAM=VALUE")->allow_extra_args(false);
}

/// --threads and --samples, which render and bake share.
void AddSampling(CLI::App& command, RenderTexts& texts) {
    command.add_option("--threads", texts.threads, "Render threads, 1 to 1024 (default: one a core)")
        ->type_name("N");
    command
        .add_option(
            "--samples", texts.samples,
            "N x N sub-samples a pixel, averaged, N from 1 to 16 (default: the scene's, else 1); not for int")
        ->type_name("N");
}

void AddEval(CommandLine& line) {
    auto& eval = line.eval;
    eval.command = line.app.add_subcommand(
        "eval", "Evaluate a scene at the positions read from standard input, one \"x y z\" a line");
    eval.command->add_option("scene", eval.options.scene, "The scene file")->required()->type_name("SCENE");
    eval.command->add_option("--type", eval.type, typeHelp)->type_name("TYPE");
    AddEdits(*eval.command, eval.node, eval.settings);
    eval.command->add_option("--threads", eval.threads, "Evaluation threads, 1 to 1024 (default: one a core)")
        ->type_name("N");
}

void AddRender(CommandLine& line) {
    auto& render = line.render;
    RenderTexts& texts = render.texts;
    CLI::App& command =
        *(render.command = line.app.add_subcommand("render", "Render a scene into a PNG or OpenEXR image"));
    command.add_option("scene", render.options.scene, "The scene file")->required()->type_name("SCENE");
    command.add_option("-o,--output", render.options.output,
                       "The image file, .png or .exr (default: the scene's name with .png, here)");
    command.add_option("--size", texts.size,
                       "WIDTHxHEIGHT, or WIDTH and the height from the domain (default: 512 wide)");
    command.add_option("--type", texts.type, typeHelp + "; not string")->type_name("TYPE");
    AddSampling(command, texts);
    command.add_option("--depth", texts.depth, "PNG bits a channel, 8 or 16 (default 8); PNG only")
        ->type_name("BITS");
    command.add_flag(
        "--linear", render.options.image.linear,
        "A PNG of a colour holds the values as they are, tagged as linear light, not sRGB-encoded");
    AddEdits(command, render.node, render.settings);
    command
        .add_option("--region", texts.region,
                    "Part of the domain: the plane from (A, B) to (C, D), the sphere from longitude A to C "
                    "and latitude B to D in degrees")
        ->type_name("A,B,C,D");
    command
        .add_option("--window", texts.window,
                    "Only the pixels X to X+W-1 of rows Y to Y+H-1 of the --size image, each the same as "
                    "the whole render's")
        ->type_name("X,Y,W,H");
    command
        .add_option("--part", texts.part,
                    "Render only part K of N bands of rows, into a part file (-o NAME.png.part or "
                    "NAME.exr.part) for join")
        ->type_name("K/N");
    command
        .add_option("--tile", texts.tile,
                    "Write the OpenEXR image in square tiles of SIZE pixels, a power of two from 16 to "
                    "4096, with its mipmap levels, for texture caches; .exr only")
        ->type_name("SIZE");
}

void AddBake(CommandLine& line) {
    auto& bake = line.bake;
    CLI::App& command =
        *(bake.command = line.app.add_subcommand(
              "bake", "Render a scene's texture on a model into a binary glTF file (.glb) of both"));
    command.add_option("scene", bake.options.scene, "The scene file")->required()->type_name("SCENE");
    command.add_option("-o,--output", bake.options.output, "The binary glTF file, .glb")->required();
    command
        .add_option("--mesh", bake.options.mesh,
                    "The model: an OBJ, glTF or GLB file, or a shape: plane, cube, sphere or torus (default: "
                    "the scene's mesh domain)")
        ->type_name("FILE|SHAPE");
    command
        .add_option("--size", bake.texts.size,
                    "The side of the square texture in pixels, 1 to " + std::to_string(largestTextureSide) +
                        " (default " + std::to_string(defaultTextureSide) + ")")
        ->type_name("N");
    AddSampling(command, bake.texts);
    AddEdits(command, bake.node, bake.settings);
}

void AddJoin(CommandLine& line) {
    auto& join = line.join;
    join.command =
        line.app.add_subcommand("join", "Join the part files of one render into its PNG or OpenEXR image");
    join.command->add_option("parts", join.options.parts, "The part files, in any order")
        ->required()
        ->type_name("PART");
    join.command
        ->add_option("-o,--output", join.options.output,
                     "The image file, .png or .exr, as the parts were rendered for")
        ->required();
}

#if VANTREL_SERVE
void AddServe(CommandLine& line) {
    auto& serve = line.serve;
    CLI::App& command =
        *(serve.command = line.app.add_subcommand(
              "serve",
              "Edit a scene in the browser: serve the editor page on this machine and print its address"));
    command.add_option("scene", serve.options.scene, "The scene file to edit (default: a new scene, here)")
        ->type_name("SCENE");
    command.add_option("--port", serve.port, "The port to listen on; 0 picks a free one (default 8420)")
        ->type_name("PORT");
    command
        .add_option("--host", serve.options.host,
                    "The IP address to listen on, not a name (default: 127.0.0.1 only); 0.0.0.0 or :: "
                    "listens on every address of the machine")
        ->type_name("ADDRESS");
    CLI::Option* token =
        command
            .add_option("--token", serve.options.token,
                        "The secret every request must carry (default: a new random one, printed in the "
                        "address). Every account of the machine can read a program's command line: give "
                        "it in VANTREL_TOKEN or --token-file instead")
            ->envname("VANTREL_TOKEN")
            ->type_name("SECRET");
    command
        .add_option("--token-file", serve.options.tokenFile,
                    "A file that holds the secret, readable by its owner only (mode 600)")
        ->excludes(token)
        ->type_name("FILE");
    command
        .add_option("--time-limit", serve.timeLimit,
                    "The seconds a preview may take before it is stopped, 0.1 to 86400 (default 5)")
        ->type_name("SECONDS");
    serve.worker = line.app.add_subcommand("preview-worker", "");
    serve.worker->group("");
}
#endif

}  // namespace

CommandLine::CommandLine(const std::string& moduleHelp)
    : app("A host for the VantrelFunctions nodes: lists them, evaluates scenes of them at sample\n"
          "points and renders scenes into images.",
          "vantrel") {
    app.set_version_flag("--version", std::string("vantrel ") + VANTREL_VERSION);
    app.require_subcommand(1);
    app.fallthrough();  // --module may come after the command too
    // The same command line everywhere: on Windows too an argument beginning with "/" is a path, not
    // an option (before the commands are added, which take this from the app).
    app.allow_windows_style_options(false);
    app.add_option("--module", modules, moduleHelp)->allow_extra_args(false);
    list.command = app.add_subcommand("list", "List the modules' node types with their parameters");
    list.command->add_flag("--json", list.json, "Print JSON instead of text");
    AddEval(*this);
    AddRender(*this);
    AddBake(*this);
    AddJoin(*this);
#if VANTREL_SERVE
    AddServe(*this);
#endif
}

void ReadValues(CommandLine& line) {
    auto& eval = line.eval;
    auto& render = line.render;
    auto& join = line.join;
    auto& bake = line.bake;
    for (const std::string* name :
         {&eval.options.scene, &render.options.scene, &render.options.output, &bake.options.scene,
          &bake.options.output, &bake.options.mesh, &join.options.output})
        CheckFileName(*name);
    for (const std::string& name : join.options.parts)
        CheckFileName(name);
    ReadRenderOptions(*render.command, render.texts, render.options);
    ReadEdits(render.command->count("--node") > 0, render.node, render.settings, render.options.edits);
    ReadBakeOptions(*bake.command, bake.texts, bake.options);
    ReadEdits(bake.command->count("--node") > 0, bake.node, bake.settings, bake.options.edits);
    ReadEdits(eval.command->count("--node") > 0, eval.node, eval.settings, eval.options.edits);
    eval.options.type = ReadType(eval.type);
    if (eval.command->count("--threads") > 0)
        eval.options.threads =
            ReadWhole("--threads", eval.threads, 1, largestThreads, "the evaluation threads");
#if VANTREL_SERVE
    auto& serve = line.serve;
    CheckFileName(serve.options.scene);
    if (serve.command->count("--time-limit") > 0) serve.options.timeLimit = ReadTimeLimit(serve.timeLimit);
    if (serve.command->count("--port") > 0)
        serve.options.port = ReadWhole("--port", serve.port, 0, 65535, "the port to listen on");
#endif
}

}  // namespace vantrel
