#include "tools/serve/router.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <new>

#include "quib/error.h"
#include "quib/text.h"

namespace vantrel {
namespace {

using quib::Error;

HttpResponse Json(const quib::Json& body, int status = 200) {
    return {status, "application/json", body.dump(), {}};
}

HttpResponse Refused(const Error& error) {
    return Json(ErrorReply(error), StatusOf(error));
}

std::string Lowercase(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

/// Whether a Content-Type names JSON.
bool IsJson(std::string_view contentType) {
    std::string type = Lowercase(contentType.substr(0, contentType.find(';')));
    type.erase(type.find_last_not_of(" \t") + 1);
    return type == "application/json";
}

/// `text` with %XX escapes and '+' decoded, as a query's values are written; refused (BadInput) when an
/// escape is malformed, so that a value asked for is never taken as absent.
std::string Decoded(std::string_view text, std::string_view name) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] != '%') {
            out += text[i];
        } else {
            if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
                !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
                throw Error::Expected(Error::Code::BadValue, {}, "%XX escapes of two hexadecimal digits",
                                      quib::Quote(text.substr(i, 3)))
                    .WithSource("request: query " + std::string(name));
            }
            out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
            i += 2;
        }
    }
    return out;
}

/// The value of `name` in the query, if it is there.
std::optional<std::string> QueryValue(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const std::size_t end = query.find('&');
        const std::string_view pair = query.substr(0, end);
        const std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name)
            return Decoded(equals == std::string_view::npos ? "" : pair.substr(equals + 1), name);
        if (end == std::string_view::npos) break;
        query.remove_prefix(end + 1);
    }
    return std::nullopt;
}

/// The headers a request may carry once only: two that differ would be read one way here and another
/// way by whatever stands between the browser and the server.
constexpr std::string_view singleHeaders[] = {"host", "origin", "x-vantrel-token", "content-type",
                                              "content-length"};

/// Compares in a time that depends only on the lengths, so that the secret cannot be guessed a
/// character at a time from how long refusals take.
bool SameSecret(std::string_view given, std::string_view secret) {
    unsigned char differ = given.size() == secret.size() ? 0 : 1;
    for (std::size_t i = 0; i < secret.size(); ++i)
        differ |= static_cast<unsigned char>((i < given.size() ? given[i] : 0) ^ secret[i]);
    return differ == 0;
}

}  // namespace

std::optional<std::string_view> HttpRequest::Header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key == name) return value;
    }
    return std::nullopt;
}

Router::Router(Editor& editor, PreviewPool& previews, AllowedHosts hosts, std::string token)
    : editor(editor), previews(previews), hosts(std::move(hosts)), token(std::move(token)) {}

bool Router::Reading(const HttpRequest& request) {
    return request.method == "GET" || request.method == "HEAD";
}

std::optional<HttpResponse> Router::Refusal(const HttpRequest& request) const {
    const std::size_t question = request.target.find('?');
    const std::string_view path = std::string_view(request.target).substr(0, question);
    const std::string_view host = request.Header("host").value_or("");
    if (!quib::IsUtf8(host) || !quib::IsUtf8(request.target)) {
        return Refused(Error(Error::Kind::BadInput, "refused: the request's host or path is not UTF-8 text"));
    }
    for (const std::string_view name : singleHeaders) {
        const auto count = std::count_if(request.headers.begin(), request.headers.end(),
                                         [&](const auto& header) { return header.first == name; });
        if (count > 1) {
            return Refused(Error::Expected(Error::Code::BadValue, {}, "one " + std::string(name) + " header",
                                           std::to_string(count))
                               .WithSource("request"));
        }
    }
    if (!hosts.HostAllowed(std::string(host))) {
        return Refused(ServeError(
            ServeKind::Refused,
            "refused: the request names the host " + quib::Quote(host) + ", which is not this server's"));
    }
    if (const std::optional<std::string_view> origin = request.Header("origin");
        origin && !hosts.OriginAllowed(std::string(*origin))) {
        return Refused(
            ServeError(ServeKind::Refused,
                       "refused: the request comes from the page of another site, " + quib::Quote(*origin)));
    }
    // The page's own files are the same for everyone and drive nothing: the page takes the secret from
    // its address and sends it with each request of the interface.
    if (Reading(request) && IsPagePath(path)) return std::nullopt;
    const std::optional<std::string_view> header = request.Header("x-vantrel-token");
    std::optional<std::string> queryToken;
    try {
        if (question != std::string::npos)
            queryToken = QueryValue(request.target.substr(question + 1), "token");
    } catch (const Error&) {
        // A malformed secret is no secret: refused below.
    }
    const bool allowed =
        (queryToken && SameSecret(*queryToken, token)) || (header && SameSecret(*header, token));
    if (!allowed) {
        return Refused(
            ServeError(ServeKind::Refused,
                       "refused: the request does not carry this server's secret; open the address "
                       "`vantrel serve` printed, with its ?token="));
    }
    if (request.method == "POST" && path.rfind("/api/", 0) == 0 &&
        !IsJson(request.Header("content-type").value_or(""))) {
        return Refused(
            Error(Error::Code::WrongType, "request: expected a body of Content-Type application/json"));
    }
    return std::nullopt;
}

HttpResponse Router::PageFile(std::string_view path) const {
    const std::optional<std::filesystem::path> file = editor.PageFile(std::string(path));
    if (!file) return Refused(Error(Error::Kind::NotFound, "no such file of the page: " + quib::Quote(path)));
    std::ifstream in(*file, std::ios::binary);
    return {200,
            ContentTypeOf(*file),
            std::string{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()},
            {}};
}

std::function<void()> Router::Preview(std::uint8_t kind, const HttpRequest& request, Respond& respond) {
    // Read here too, so that a bad request is refused at once and the job it is for is known.
    const RequestBody body(request.body);
    const std::string job = kind == preview::valueRequest ? "value" : *body.String("job", false);
    const std::string key = *body.String("client", false) + "\n" + job;
    return previews.Submit(key, kind, request.body,
                           [respond = std::move(respond)](PreviewPool::Answer answer) {
                               if (answer.tag == preview::png)
                                   return respond({200, "image/png", std::move(answer.bytes), {}});
                               if (answer.tag == preview::value)
                                   return respond({200, "application/json", std::move(answer.bytes), {}});
                               if (answer.tag == preview::glb)
                                   return respond({200, "model/gltf-binary", std::move(answer.bytes), {}});
                               // An error, as the server answers it: its kind gives the status.
                               int status = 500;
                               try {
                                   const quib::Json reply = quib::Json::parse(answer.bytes);
                                   status = StatusOfKind(reply.value("kind", ""));
                               } catch (const quib::Json::exception&) {
                               }
                               respond({status, "application/json", std::move(answer.bytes), {}});
                           });
}

std::function<void()> Router::Answer(const HttpRequest& request, Respond respond) {
    if (std::optional<HttpResponse> refusal = Refusal(request)) {
        respond(std::move(*refusal));
        return {};
    }
    const std::size_t question = request.target.find('?');
    const std::string_view path = std::string_view(request.target).substr(0, question);
    const std::string_view query = question == std::string::npos
                                       ? std::string_view()
                                       : std::string_view(request.target).substr(question + 1);
    const auto get = [&](std::string_view route) { return Reading(request) && path == route; };
    const auto post = [&](std::string_view route) { return request.method == "POST" && path == route; };
    try {
        if (Reading(request) && IsPagePath(path)) {
            respond(PageFile(path));
        } else if (get("/api/types")) {
            respond({200, "application/json", editor.Types(), {}});
        } else if (get("/api/scene")) {
            respond(Json(editor.SceneFile(QueryValue(query, "file").value_or(""))));
        } else if (get("/api/files")) {
            respond(Json(editor.Files()));
        } else if (post("/api/open")) {
            respond(Json(editor.Open(RequestBody(request.body))));
        } else if (post("/api/save")) {
            respond(Json(editor.Save(RequestBody(request.body))));
        } else if (post("/api/check")) {
            respond(Json(editor.Check(RequestBody(request.body))));
        } else if (post("/api/curve")) {
            respond(Json(editor.Curve(RequestBody(request.body))));
        } else if (post("/api/gradient")) {
            respond(Json(editor.Gradient(RequestBody(request.body))));
        } else if (post("/api/render")) {
            return Preview(preview::renderRequest, request, respond);
        } else if (post("/api/value")) {
            return Preview(preview::valueRequest, request, respond);
        } else if (post("/api/model")) {
            return Preview(preview::modelRequest, request, respond);
        } else {
            respond(Refused(Error(
                Error::Kind::NotFound,
                "no such page or interface: " + quib::Quote(request.method) + " " + quib::Quote(path))));
        }
    } catch (const Error& error) {
        respond(Refused(error));
    } catch (const std::bad_alloc&) {
        respond(Refused(Error(Error::Kind::Failure, "not enough memory for the request")));
    } catch (const std::exception& error) {
        // A fault of the server's own: this request fails, and the server goes on.
        respond(Refused(Error(Error::Kind::Failure, std::string("the server failed: ") + error.what())));
    }
    return {};
}

}  // namespace vantrel
