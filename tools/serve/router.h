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
    /// `hosts` are the names the server may be reached by, `token` the secret every request carries
    /// (as `?token=`, the header X-Vantrel-Token, or the cookie a page load with it sets), `port` the
    /// port the server listens on (the cookie is the port's: two servers on one machine keep theirs).
    Router(Editor& editor, PreviewPool& previews, AllowedHosts hosts, std::string token, int port);

    /// Answers `request` through `respond`, at once or once a preview is done. Returns a function that
    /// gives up an answer still to come (its client went away), or nothing when it was given at once.
    std::function<void()> Answer(const HttpRequest& request, Respond respond);

    /// The name of the cookie that carries the secret.
    const std::string& CookieName() const { return cookie; }

private:
    /// The refusal of a request the server must not answer, if it is one.
    std::optional<HttpResponse> Refusal(const HttpRequest& request, std::string_view path,
                                        const std::optional<std::string>& queryToken) const;
    HttpResponse PageFile(std::string_view path) const;
    std::function<void()> Preview(std::uint8_t kind, const HttpRequest& request, Respond& respond);

    Editor& editor;
    PreviewPool& previews;
    AllowedHosts hosts;
    std::string token;
    std::string cookie;
};

}  // namespace vantrel
