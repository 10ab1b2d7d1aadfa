// `vantrel serve`: the editor page and the interface it works through, over HTTP on this machine. Every
// number the page shows comes from here: scenes are loaded by the host runtime's scene loader, and
// values, curves, gradients and images are the module's own, through the same code as `eval` and
// `render`.

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <new>
#include <ostream>
#include <set>
#include <span>
#include <sstream>
#include <thread>
#include <type_traits>

#include <httplib.h>

#include "host/curve_holder.h"
#include "host/gradient.h"
#include "scene/scene.h"
#include "tools/commands.h"
#include "tools/image_file.h"
#include "tools/render_core.h"
#include "tools/render_gate.h"
#include "tools/serve_request.h"
#include "tools/value_text.h"

namespace vantrel {
namespace {

/// Renders that may run at once, each on every core, and that may wait in line for them; beyond those
/// a render is refused at once (503), so that a flood of them cannot hold every thread. Threads that
/// answer requests: room for the renders and beside them for the quick requests (checks, values,
/// curves) and the connections a browser keeps open.
constexpr std::size_t rendersRunning = 2;
constexpr std::size_t rendersWaiting = 14;
constexpr std::size_t requestThreads = 32;
/// How many samples a curve or gradient plot may ask for.
constexpr int maxPlotSamples = 1024;

/// What messages call a scene sent by the page: it is the page's, not yet any file's.
constexpr const char* requestSceneName = "scene";

/// The scene `vantrel serve` starts with when it is given none: one lattice on the sphere.
// clang-format off
const char* const newScene = R"scene({"format": "vantrel-scene/1",
 "nodes": [{"id": "lattice", "type": "Hexagonal lattice 3D(1)", "params": {"Position": {"link": "@position"}}}],
 "output": "lattice", "domain": {"kind": "sphere"}})scene";
// clang-format on

void Reply(httplib::Response& response, const OrderedJson& body) {
    response.set_content(body.dump(), "application/json");
}

void ReplyError(httplib::Response& response, int code, const std::string& message,
                const std::string& path = "") {
    OrderedJson body = {{"error", message}};
    if (!path.empty()) body["path"] = path;
    response.status = code;
    Reply(response, body);
}

/// The message of a status the server answers without a handler's words.
std::string StatusMessage(int code) {
    switch (code) {
        case status::notFound:
            return "no such page or interface";
        case status::tooLarge:
            return "request body: expected at most " + std::to_string(maxBodyBytes) + " bytes";
        default:
            return "the request failed with HTTP status " + std::to_string(code);
    }
}

/// Whether a Content-Type names JSON.
bool IsJson(const std::string& contentType) {
    std::string type = contentType.substr(0, contentType.find(';'));
    type.erase(type.find_last_not_of(" \t") + 1);
    std::transform(type.begin(), type.end(), type.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return type == "application/json";
}

/// The text of a scene file in the folder, read whole; at most what a request may carry, since the
/// page sends it back with every edit.
std::string ReadSceneFile(const std::filesystem::path& path, const std::string& name) {
    std::error_code error;
    const std::filesystem::file_status kind = std::filesystem::symlink_status(path, error);
    if (!std::filesystem::is_regular_file(kind))
        throw HttpError(status::forbidden, name + ": expected a scene file, not a link or a folder");
    if (std::filesystem::file_size(path, error) > maxBodyBytes)
        throw HttpError(status::badRequest,
                        name + ": expected at most " + std::to_string(maxBodyBytes) + " bytes");
    std::ifstream file(path, std::ios::binary);
    std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof())
        throw HttpError(status::badRequest, name + ": cannot read the file: " + std::strerror(errno));
    return text;
}

/// What the server holds between requests: the module, the folder it reads and writes scenes in, the
/// scene it started with, and the renders in flight.
class Editor {
public:
    Editor(const quib::Module& module, const ServeOptions& options) : module(module), page(options.page) {
        std::string text = newScene;
        if (!options.scene.empty()) {
            const std::filesystem::path path = options.scene;
            folder = path.parent_path().empty() ? "." : path.parent_path();
            startedName = path.filename().string();
            try {
                SceneFileIn(folder, *startedName);  // a name the page can save to again
                text = ReadSceneFile(path, options.scene);
            } catch (const HttpError& error) {
                throw InputError(error.what());
            }
            // A scene that does not load stops the server at once, as `render` would.
            Scene::FromText(text, options.scene, module);
            sessionFiles.insert(*startedName);
        }
        startedScene = OrderedJson::parse(text);
        std::ostringstream listing;
        RunList(module, true, listing);
        types = listing.str();
    }

    void Serve(httplib::Server& server);

private:
    /// The scene the page sent, loaded as `render` loads a file: refused with the loader's message and
    /// the JSON path it names.
    Scene Load(const std::string& text, const std::string& name) const {
        try {
            return Scene::FromText(text, name, module);
        } catch (const SceneError& error) {
            throw HttpError(status::badRequest, error.what(), error.Path());
        }
    }
    Scene Load(const RequestBody& body) const { return Load(body.SceneText(), requestSceneName); }

    /// The node "node" names, or the scene's output for null when `nullable`.
    static Function& NodeOf(const Scene& scene, const RequestBody& body, bool nullable) {
        const std::optional<std::string> id = body.String("node", nullable);
        if (!id) return scene.Output();
        Function* node = scene.Node(*id);
        if (!node)
            throw HttpError(status::badRequest,
                            "request: \"node\": expected the id of a node of the scene, not \"" +
                                quib::Excerpt(*id) + "\"");
        return *node;
    }

    /// The scene's domain, or the part of it "region" picks.
    static SampleDomain DomainOf(const Scene& scene, const RequestBody& body) {
        try {
            return DomainFor(scene.Domain(), body.Region(), "request: \"region\"");
        } catch (const InputError& error) {
            throw HttpError(status::badRequest, error.what());
        }
    }

    void Open(const RequestBody& body, httplib::Response& response);
    void Save(const RequestBody& body, httplib::Response& response);
    void Files(httplib::Response& response) const;
    void Value(const RequestBody& body, httplib::Response& response) const;
    void Preview(const RequestBody& body, httplib::Response& response);
    void Curve(const RequestBody& body, httplib::Response& response) const;
    void Gradient(const RequestBody& body, httplib::Response& response) const;

    const quib::Module& module;
    std::filesystem::path page;
    std::filesystem::path folder = ".";
    std::optional<std::string> startedName;  ///< the scene file's name in `folder`, if it was given one
    OrderedJson startedScene;
    std::string types;  ///< `vantrel list --json`

    /// The files of the folder this server may replace: the one it started with, those it opened and
    /// those it created. Any other file already there is the user's, and left alone.
    std::mutex filesMutex;
    std::set<std::string> sessionFiles;

    RenderGate renders{rendersRunning, rendersWaiting};
};

void Editor::Files(httplib::Response& response) const {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        try {
            SceneFileIn(folder, name);
        } catch (const HttpError&) {
            continue;
        }
        if (entry.is_regular_file(error) && !entry.is_symlink(error)) names.push_back(name);
    }
    if (error)
        throw HttpError(status::internal, folder.string() + ": cannot list the folder: " + error.message());
    std::sort(names.begin(), names.end());
    Reply(response, {{"files", names}});
}

void Editor::Open(const RequestBody& body, httplib::Response& response) {
    const std::string name = *body.String("file", false);
    const std::string text = ReadSceneFile(SceneFileIn(folder, name), name);
    Load(text, name);
    {
        std::lock_guard lock(filesMutex);
        sessionFiles.insert(name);
    }
    Reply(response, {{"file", name}, {"scene", OrderedJson::parse(text)}});
}

void Editor::Save(const RequestBody& body, httplib::Response& response) {
    const std::optional<std::string> asked = body.String("file", true);
    if (!asked && !startedName)
        throw HttpError(status::badRequest,
                        "request: \"file\": this scene has no file yet; expected a file name");
    const std::string name = asked ? *asked : *startedName;
    const std::filesystem::path target = SceneFileIn(folder, name);
    Load(body);  // nothing is written for a scene that does not load
    std::lock_guard lock(filesMutex);
    std::error_code error;
    const std::filesystem::file_status kind = std::filesystem::symlink_status(target, error);
    if (std::filesystem::exists(kind)) {
        if (!std::filesystem::is_regular_file(kind))
            throw HttpError(status::forbidden, name + ": expected a scene file, not a link or a folder");
        if (sessionFiles.count(name) == 0) {
            throw HttpError(status::forbidden,
                            name +
                                ": the file is there already and was not opened here; open it first to "
                                "replace it");
        }
    }
    PendingFile file(target);
    {
        std::ofstream out(file.Path(), std::ios::binary | std::ios::trunc);
        out << body.Scene().dump(2) << "\n";
        out.flush();
        if (!out)
            throw HttpError(status::internal, name + ": cannot write the file: " + std::strerror(errno));
    }
    file.Commit();
    sessionFiles.insert(name);
    Reply(response, {{"file", name}});
}

void Editor::Value(const RequestBody& body, httplib::Response& response) const {
    const Scene scene = Load(body);
    Function& node = NodeOf(scene, body, true);
    const OutputType type = body.Type();
    const int width = body.Int("width", 1, maxServedSide);
    const int height = body.Int("height", 1, maxServedSide);
    const int x = body.Int("x", 0, width - 1);
    const int y = body.Int("y", 0, height - 1);
    const SampleDomain domain = DomainOf(scene, body);
    FunContext context;
    context.position = domain.Position((x + 0.5) / width, (y + 0.5) / height);
    const std::string text = VisitOutputType(type, [&]<class T>(std::type_identity<T>) {
        T value{};
        node.Eval(&value, &context);
        return ValueText(value);
    });
    const Vec3d& p = context.position;
    Reply(response, {{"position", {p.x, p.y, p.z}}, {"text", text}});
}

void Editor::Preview(const RequestBody& body, httplib::Response& response) {
    const Scene scene = Load(body);
    Function& node = NodeOf(scene, body, true);
    const OutputType type = body.Type();
    if (type == OutputType::String)
        throw HttpError(status::badRequest,
                        "request: \"type\": an image needs a numeric output type, not string");
    const int width = body.Int("width", 1, maxServedSide);
    const int height = body.Int("height", 1, maxServedSide);
    if (static_cast<long>(width) * height > maxServedPixels) {
        throw HttpError(status::badRequest, "request: expected an image of at most " +
                                                std::to_string(maxServedPixels) + " pixels, not " +
                                                std::to_string(width) + "x" + std::to_string(height));
    }
    const SampleDomain domain = DomainOf(scene, body);
    // A newer render for the same tab and job (the preview, a node's thumbnail) cancels this one.
    const std::string key = *body.String("client", false) + "\n" + *body.String("job", false);
    const RenderGate::Ticket ticket(renders, key);
    const auto cancelled = [] {
        return HttpError(status::conflict, "cancelled: a newer render of the same job came");
    };
    if (ticket.Result() == RenderGate::Admission::Full) {
        throw HttpError(status::unavailable, "busy: " + std::to_string(rendersRunning) + " renders run and " +
                                                 std::to_string(rendersWaiting) + " wait; try again");
    }
    if (ticket.Result() == RenderGate::Admission::Cancelled) throw cancelled();
    const int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::string png;
    PngEncoder encoder(width, height, ChannelsFor(type), 8, BandsInFlight(threads),
                       [&](std::span<const std::uint8_t> piece) { png.append(piece.begin(), piece.end()); });
    const RenderRequest request{.node = node,
                                .domain = domain,
                                .width = width,
                                .height = height,
                                .type = type,
                                .threads = threads,
                                .samples = 1,
                                .cancel = &ticket.Cancelled(),
                                .progress = {}};
    if (!Render(request, encoder)) throw cancelled();
    response.set_content(std::move(png), "image/png");
}

/// `samples` evenly spaced reals from `low` to `high`, both included. The steps are taken in halves of
/// the extent, which cannot overflow where the extent can, and added twice.
std::vector<double> Samples(double low, double high, int samples) {
    const double half = high / 2 - low / 2;
    std::vector<double> x(samples);
    for (int i = 0; i < samples; ++i) {
        const double step = half * i / (samples - 1);
        x[i] = i + 1 == samples ? high : (low + step) + step;
    }
    return x;
}

/// The curve or gradient of a node the field `field` names by `nameOf`.
template <class Item>
const Item& Named(const std::vector<Item*>& items, const std::string& (Item::*nameOf)() const,
                  const RequestBody& body, const char* field) {
    const std::string name = *body.String(field, false);
    const auto found =
        std::find_if(items.begin(), items.end(), [&](const Item* item) { return (item->*nameOf)() == name; });
    if (found == items.end()) {
        throw HttpError(status::badRequest, std::string("request: \"") + field + "\": expected a " + field +
                                                " of the node, not \"" + quib::Excerpt(name) + "\"");
    }
    return **found;
}

void Editor::Curve(const RequestBody& body, httplib::Response& response) const {
    const Scene scene = Load(body);
    Function& node = NodeOf(scene, body, false);
    const CurveHolder& curve = Named(node.Curves(), &CurveHolder::Name, body, "curve");
    const int samples = body.Int("samples", 2, maxPlotSamples);
    const int channels = curve.Form() == 3 ? 3 : 1;
    double low = curve.InputLow();
    double high = curve.InputHigh();
    OrderedJson points = OrderedJson::array();
    for (int channel = 0; channel < channels; ++channel) {
        OrderedJson list = OrderedJson::array();
        for (const CurveHolder::Point& point : curve.Points(channel)) {
            low = std::min(low, point.x);
            high = std::max(high, point.x);
            list.push_back({point.x, point.y});
        }
        points.push_back(std::move(list));
    }
    const std::vector<double> x = Samples(low, high, samples);
    using Read = double (CurveHolder::*)(double) const;
    const Read grey[] = {&CurveHolder::EvalGrey};
    const Read rgb[] = {&CurveHolder::EvalRed, &CurveHolder::EvalGreen, &CurveHolder::EvalBlue};
    OrderedJson lines = OrderedJson::array();
    for (int channel = 0; channel < channels; ++channel) {
        const Read read = channels == 3 ? rgb[channel] : grey[0];
        std::vector<double> y(x.size());
        std::transform(x.begin(), x.end(), y.begin(), [&](double at) { return (curve.*read)(at); });
        lines.push_back(y);
    }
    Reply(response, {{"form", curve.Form()},
                     {"inputRange", {curve.InputLow(), curve.InputHigh()}},
                     {"x", x},
                     {"channels", std::move(lines)},
                     {"points", std::move(points)}});
}

void Editor::Gradient(const RequestBody& body, httplib::Response& response) const {
    const Scene scene = Load(body);
    Function& node = NodeOf(scene, body, false);
    const ::Gradient& gradient = Named(node.Gradients(), &::Gradient::Label, body, "gradient");
    const int samples = body.Int("samples", 2, maxPlotSamples);
    double low = 0.0;
    double high = 1.0;
    OrderedJson stops = OrderedJson::array();
    for (const ::Gradient::Stop& stop : gradient.Stops()) {
        low = std::min(low, stop.position);
        high = std::max(high, stop.position);
        stops.push_back({stop.position, {stop.colour.red, stop.colour.green, stop.colour.blue}});
    }
    const std::vector<double> x = Samples(low, high, samples);
    OrderedJson colours = OrderedJson::array();
    for (double at : x) {
        Color colour;
        gradient.GetColour(at, colour);
        colours.push_back({colour.red, colour.green, colour.blue});
    }
    Reply(response, {{"x", x}, {"colours", std::move(colours)}, {"stops", std::move(stops)}});
}

/// The library's server, listening with room for the connections a burst of requests opens at once:
/// the library asks for a queue of 5, and the system drops connections beyond the queue, which clients
/// then see as failures.
class Server : public httplib::Server {
public:
    /// Widens the queue of connections not yet accepted, once bound. Calling listen() again on a
    /// listening socket sets its queue anew.
    bool WidenQueue() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

/// A handler that reads the body as JSON and turns every failure into a JSON error of its status.
template <class Work>
httplib::Server::Handler Api(Work work) {
    return [work](const httplib::Request& request, httplib::Response& response) {
        try {
            work(request, response);
        } catch (const HttpError& error) {
            ReplyError(response, error.Status(), error.what(), error.Path());
        } catch (const std::bad_alloc&) {
            ReplyError(response, status::internal, "not enough memory for the request");
        } catch (const std::exception& error) {
            std::fprintf(stderr, "vantrel serve: %s %s: %s\n", request.method.c_str(), request.path.c_str(),
                         error.what());
            ReplyError(response, status::internal, error.what());
        }
    };
}

/// The same for a POST, whose body is read first.
template <class Work>
httplib::Server::Handler PostApi(Work work) {
    return Api([work](const httplib::Request& request, httplib::Response& response) {
        work(RequestBody(request.body), response);
    });
}

void Editor::Serve(httplib::Server& server) {
    server.Get("/api/types", Api([this](const httplib::Request&, httplib::Response& response) {
                   response.set_content(types, "application/json");
               }));
    server.Get("/api/scene", Api([this](const httplib::Request&, httplib::Response& response) {
                   Reply(response, {{"file", startedName ? OrderedJson(*startedName) : OrderedJson()},
                                    {"scene", startedScene}});
               }));
    server.Get("/api/files",
               Api([this](const httplib::Request&, httplib::Response& response) { Files(response); }));
    server.Post("/api/open", PostApi([this](const RequestBody& body, httplib::Response& response) {
                    Open(body, response);
                }));
    server.Post("/api/save", PostApi([this](const RequestBody& body, httplib::Response& response) {
                    Save(body, response);
                }));
    server.Post("/api/check", PostApi([this](const RequestBody& body, httplib::Response& response) {
                    Load(body);
                    Reply(response, {{"ok", true}});
                }));
    server.Post("/api/render", PostApi([this](const RequestBody& body, httplib::Response& response) {
                    Preview(body, response);
                }));
    server.Post("/api/value", PostApi([this](const RequestBody& body, httplib::Response& response) {
                    Value(body, response);
                }));
    server.Post("/api/curve", PostApi([this](const RequestBody& body, httplib::Response& response) {
                    Curve(body, response);
                }));
    server.Post("/api/gradient", PostApi([this](const RequestBody& body, httplib::Response& response) {
                    Gradient(body, response);
                }));
    // The built page, only regular files inside its folder.
    const auto file = [this](const httplib::Request& request, httplib::Response& response) {
        const std::optional<std::filesystem::path> path = StaticFile(page, request.path);
        if (!path)
            return ReplyError(response, status::notFound,
                              "no such file of the page: " + quib::Excerpt(request.path));
        std::ifstream in(*path, std::ios::binary);
        response.set_content(
            std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()},
            ContentTypeOf(*path));
    };
    server.Get("/", file);
    server.Get("/assets/.*", file);
}

}  // namespace

void RunServe(const quib::Module& module, const ServeOptions& options, std::ostream& out) {
    Editor editor(module, options);
    const std::string host = options.host.empty() ? "127.0.0.1" : options.host;
    Server server;
    server.new_task_queue = [] { return new httplib::ThreadPool(requestThreads); };
    server.set_payload_max_length(maxBodyBytes);
    server.set_default_headers(
        {{"Cache-Control", "no-store"}, {"X-Content-Type-Options", "nosniff"}, {"X-Frame-Options", "DENY"}});
    // Failures the library answers itself (a body too large, no such path) get a JSON error too.
    server.set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& response) {
            if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
            ReplyError(response, response.status, StatusMessage(response.status));
            return httplib::Server::HandlerResponse::Handled;
        }));
    editor.Serve(server);

    errno = 0;
    const int port = options.port == 0 ? server.bind_to_any_port(host)
                                       : (server.bind_to_port(host, options.port) ? options.port : -1);
    if (port < 0) {
        throw std::runtime_error("cannot listen on " + host + " port " + std::to_string(options.port) + ": " +
                                 (errno != 0 ? std::strerror(errno) : "the address is not this machine's"));
    }
    if (!server.WidenQueue())
        throw std::runtime_error("cannot listen on " + host + " port " + std::to_string(port) + ": " +
                                 std::strerror(errno));
    const AllowedHosts allowed(options.host, port);
    server.set_pre_routing_handler([&allowed](const httplib::Request& request, httplib::Response& response) {
        if (!allowed.HostAllowed(request.get_header_value("Host"))) {
            ReplyError(response, status::forbidden,
                       "refused: the request names the host \"" +
                           quib::Excerpt(request.get_header_value("Host")) +
                           "\", which is not this server's");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.has_header("Origin") && !allowed.OriginAllowed(request.get_header_value("Origin"))) {
            ReplyError(response, status::forbidden,
                       "refused: the request comes from the page of another site, \"" +
                           quib::Excerpt(request.get_header_value("Origin")) + "\"");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.method == "POST" && !IsJson(request.get_header_value("Content-Type"))) {
            ReplyError(response, status::badRequest,
                       "request: expected a body of Content-Type application/json");
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    const bool ipv6 = host.find(':') != std::string::npos;
    out << "vantrel serve: open http://" << (ipv6 ? "[" + host + "]" : host) << ":" << port
        << "/ in a browser" << std::endl;
    CheckWritten(out);
    if (!server.listen_after_bind())
        throw std::runtime_error("the server stopped: " + std::string(std::strerror(errno)));
}

}  // namespace vantrel

extern "C" void VantrelServe(const quib::Module& module, const vantrel::ServeOptions& options,
                             std::ostream& out) {
    static_assert(std::is_same_v<decltype(VantrelServe), vantrel::ServeFunction>);
    vantrel::RunServe(module, options, out);
}
