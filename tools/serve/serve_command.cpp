// `vantrel serve`: the editor's requests over HTTP on this machine, answered by the session
// (tools/serve/editor.h).

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <ostream>
#include <type_traits>

#include <httplib.h>

#include "quib/text.h"
#include "tools/serve/editor.h"
#include "tools/serve/serve.h"
#include "tools/serve/serve_request.h"

namespace vantrel {
namespace {

using quib::Error;

/// Threads that answer requests: room for the renders and beside them for the quick requests (checks,
/// values, curves) and the connections a browser keeps open.
constexpr std::size_t requestThreads = 32;

void Reply(httplib::Response& response, const quib::Json& body) {
    response.set_content(body.dump(), "application/json");
}

void ReplyError(httplib::Response& response, const Error& error) {
    response.status = StatusOf(error);
    Reply(response, ErrorReply(error));
}

/// The error of a status the server answers without a handler's words.
Error StatusError(int code) {
    switch (code) {
        case 404:
            return Error(Error::Kind::NotFound, "no such page or interface");
        case 413:
            return Error(Error::Kind::TooLarge,
                         "request body: expected at most " + std::to_string(maxBodyBytes) + " bytes");
        default:
            return Error(code >= 500 ? Error::Kind::Failure : Error::Kind::BadInput,
                         "the request failed with HTTP status " + std::to_string(code));
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

/// The library's server, listening with room for the connections a burst of requests opens at once:
/// the library asks for a queue of 5, and the system drops connections beyond the queue, which clients
/// then see as failures.
class Server : public httplib::Server {
public:
    /// Widens the queue of connections not yet accepted, once bound. Calling listen() again on a
    /// listening socket sets its queue anew.
    bool WidenQueue() { return ::listen(svr_sock_, SOMAXCONN) == 0; }
};

/// A handler that turns every failure into a JSON error of its status.
template <class Work>
httplib::Server::Handler Api(Work work) {
    return [work](const httplib::Request& request, httplib::Response& response) {
        try {
            work(request, response);
        } catch (const Error& error) {
            if (StatusOf(error) >= 500)
                std::fprintf(stderr, "vantrel serve: %s %s: %s\n", request.method.c_str(),
                             request.path.c_str(), error.what());
            ReplyError(response, error);
        } catch (const std::bad_alloc&) {
            ReplyError(response, Error(Error::Kind::Failure, "not enough memory for the request"));
        } catch (const std::exception& error) {
            std::fprintf(stderr, "vantrel serve: %s %s: %s\n", request.method.c_str(), request.path.c_str(),
                         error.what());
            ReplyError(response, Error(Error::Kind::Failure, error.what()));
        }
    };
}

/// The same for a POST whose body, read once, a session's handler answers with JSON.
template <class Handler>
httplib::Server::Handler PostApi(Handler handler) {
    return Api([handler](const httplib::Request& request, httplib::Response& response) {
        Reply(response, handler(RequestBody(request.body)));
    });
}

void Route(Editor& editor, httplib::Server& server) {
    server.Get("/api/types", Api([&](const httplib::Request&, httplib::Response& response) {
                   response.set_content(editor.Types(), "application/json");
               }));
    server.Get("/api/scene", Api([&](const httplib::Request&, httplib::Response& response) {
                   Reply(response, editor.StartedScene());
               }));
    server.Get("/api/files", Api([&](const httplib::Request&, httplib::Response& response) {
                   Reply(response, editor.Files());
               }));
    server.Post("/api/open", PostApi([&](const RequestBody& body) { return editor.Open(body); }));
    server.Post("/api/save", PostApi([&](const RequestBody& body) { return editor.Save(body); }));
    server.Post("/api/check", PostApi([&](const RequestBody& body) { return editor.Check(body); }));
    server.Post("/api/value", PostApi([&](const RequestBody& body) { return editor.Value(body); }));
    server.Post("/api/curve", PostApi([&](const RequestBody& body) { return editor.Curve(body); }));
    server.Post("/api/gradient", PostApi([&](const RequestBody& body) { return editor.Gradient(body); }));
    server.Post("/api/render", Api([&](const httplib::Request& request, httplib::Response& response) {
                    response.set_content(editor.Preview(RequestBody(request.body)), "image/png");
                }));
    // The built page, only regular files inside its folder.
    const auto file = [&](const httplib::Request& request, httplib::Response& response) {
        const std::optional<std::filesystem::path> path = editor.PageFile(request.path);
        if (!path)
            return ReplyError(response, Error(Error::Kind::NotFound,
                                              "no such file of the page: " + quib::Excerpt(request.path)));
        std::ifstream in(*path, std::ios::binary);
        response.set_content(
            std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()},
            ContentTypeOf(*path));
    };
    server.Get("/", file);
    server.Get("/assets/.*", file);
}

Error CannotListen(const std::string& host, int port, const char* reason) {
    return Error(Error::Kind::Failure,
                 "cannot listen on " + host + " port " + std::to_string(port) + ": " + reason);
}

}  // namespace

void RunServe(const Scene::ModulePointer& module, const ServeOptions& options, std::ostream& out) {
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
            const int code = response.status;
            ReplyError(response, StatusError(code));
            response.status = code;
            return httplib::Server::HandlerResponse::Handled;
        }));
    Route(editor, server);

    errno = 0;
    const int port = options.port == 0 ? server.bind_to_any_port(host)
                                       : (server.bind_to_port(host, options.port) ? options.port : -1);
    if (port < 0)
        throw CannotListen(host, options.port,
                           errno != 0 ? std::strerror(errno) : "the address is not this machine's");
    if (!server.WidenQueue()) throw CannotListen(host, port, std::strerror(errno));
    const AllowedHosts allowed(options.host, port);
    server.set_pre_routing_handler([&allowed](const httplib::Request& request, httplib::Response& response) {
        if (!allowed.HostAllowed(request.get_header_value("Host"))) {
            ReplyError(response,
                       Error(Error::Kind::Refused, "refused: the request names the host " +
                                                       quib::Quote(request.get_header_value("Host")) +
                                                       ", which is not this server's"));
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.has_header("Origin") && !allowed.OriginAllowed(request.get_header_value("Origin"))) {
            ReplyError(response, Error(Error::Kind::Refused,
                                       "refused: the request comes from the page of another site, " +
                                           quib::Quote(request.get_header_value("Origin"))));
            return httplib::Server::HandlerResponse::Handled;
        }
        if (request.method == "POST" && !IsJson(request.get_header_value("Content-Type"))) {
            ReplyError(response, Error(Error::Kind::BadInput,
                                       "request: expected a body of Content-Type application/json"));
            return httplib::Server::HandlerResponse::Handled;
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    const bool ipv6 = host.find(':') != std::string::npos;
    errno = 0;
    out << "vantrel serve: open http://" << (ipv6 ? "[" + host + "]" : host) << ":" << port
        << "/ in a browser" << std::endl;
    if (!out)
        throw Error(Error::Kind::Failure,
                    std::string("standard output: cannot write: ") + std::strerror(errno));
    if (!server.listen_after_bind())
        throw Error(Error::Kind::Failure, "the server stopped: " + std::string(std::strerror(errno)));
}

}  // namespace vantrel

extern "C" void VantrelServe(const vantrel::Scene::ModulePointer& module,
                             const vantrel::ServeOptions& options, std::ostream& out) {
    static_assert(std::is_same_v<decltype(VantrelServe), vantrel::ServeFunction>);
    vantrel::RunServe(module, options, out);
}
