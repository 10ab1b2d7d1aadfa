#pragma once
/// @file
/// Every request of `vantrel serve`, apart from how it came: who may send it (the Host and Origin it
/// names, the secret it carries), what it asks for, and the answer, from the session (tools/serve/
/// editor.h) or from a preview's process (tools/serve/preview_pool.h). The HTTP transport
/// (tools/serve/http_server.h) and the fuzz target both drive it.

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/serve/editor.h"
#include "tools/serve/preview_pool.h"
#include "tools/serve/serve_request.h"

namespace vantrel {

/// A request as it came: method, target (path and query), headers (names in lower case) and body.
struct HttpRequest {
    std::string method;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    /// The first header of that name (in lower case), if there is one.
    std::optional<std::string_view> Header(std::string_view name) const;
};

/// An answer: its status, content type, body and any headers beside those every answer has.
struct HttpResponse {
    int status = 200;
    std::string contentType = "application/json";
    std::string body;
    std::vector<std::pair<std::string, std::string>> headers;
};

/// Called once with the answer to a request.
using Respond = std::function<void(HttpResponse)>;

class Router {
public:
    /// `hosts` are the names the server may be reached by, `token` the secret every request of the
    /// interface carries (as `?token=` or in the header X-Vantrel-Token; never a cookie, which a
    /// browser would send to any server of the machine, whatever its port).
    Router(Editor& editor, PreviewPool& previews, AllowedHosts hosts, std::string token);

    /// The refusal of a request the server must not answer, if it is one: from its method, target and
    /// headers alone, so that a request can be refused before its body is read.
    std::optional<HttpResponse> Refusal(const HttpRequest& request) const;

    /// Answers `request` through `respond`, at once or once a preview is done. Returns a function that
    /// gives up an answer still to come (its client went away), or nothing when it was given at once.
    std::function<void()> Answer(const HttpRequest& request, Respond respond);

private:
    /// GET, or HEAD, which is answered as GET without the body.
    static bool Reading(const HttpRequest& request);
    HttpResponse PageFile(std::string_view path) const;
    std::function<void()> Preview(std::uint8_t kind, const HttpRequest& request, Respond& respond);

    Editor& editor;
    PreviewPool& previews;
    AllowedHosts hosts;
    std::string token;
};

}  // namespace vantrel
