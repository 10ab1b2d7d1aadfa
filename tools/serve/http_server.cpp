#include "tools/serve/http_server.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <optional>
#include <utility>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include "quib/error.h"

namespace vantrel {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using quib::Error;

namespace {

/// How often a connection waiting for a preview looks whether its client is still there.
constexpr std::chrono::milliseconds lookForGone{40};
/// How long, and how many bytes, the server reads and throws away after it refused a request too large.
constexpr std::chrono::seconds drainDeadline{5};
constexpr std::size_t drainLimit = std::size_t{64} << 20;

/// The headers every answer has: nothing is cached (every answer is of the scene as it is now), the
/// page is not framed by another site, nor its types guessed, nor its address (which may hold the
/// secret) sent on, and it runs only its own scripts.
void Harden(http::response<http::string_body>& response) {
    response.set(http::field::cache_control, "no-store");
    response.set("X-Content-Type-Options", "nosniff");
    response.set("X-Frame-Options", "DENY");
    response.set("Referrer-Policy", "no-referrer");
    response.set("Content-Security-Policy",
                 "default-src 'self'; img-src 'self' blob: data:; connect-src 'self' blob:; style-src 'self' "
                 "'unsafe-inline'; "
                 "frame-ancestors 'none'");
}

/// One connection, read and written by asynchronous operations on its own strand.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    Connection(tcp::socket socket, Router& router)
        : stream(std::move(socket)), router(router), watch(stream.get_executor()) {}

    void Start() {
        asio::dispatch(stream.get_executor(), [self = shared_from_this()] { self->ReadHeader(); });
    }

private:
    void ReadHeader() {
        parser.emplace();
        parser->header_limit(headerBytes);
        parser->body_limit(maxBodyBytes);
        stream.expires_after(headerDeadline);
        http::async_read_header(stream, buffer, *parser,
                                [self = shared_from_this()](beast::error_code error, std::size_t) {
                                    if (error) return self->Failed(error);
                                    self->Admit();
                                });
    }

    /// Refuses a request that names another host or lacks the secret on its headers alone, before its
    /// body (up to 4 MiB) is read and held: a client without the secret holds nothing of the server's
    /// but its connection, and that only until the refusal is sent.
    void Admit() {
        HttpRequest request = RequestOf(parser->get());
        if (std::optional<HttpResponse> refusal = router.Refusal(request)) {
            const bool body = parser->content_length().value_or(0) > 0 || parser->chunked();
            Write(std::move(*refusal), false, parser->get().version(), body);
            return;
        }
        ReadBody();
    }

    /// The method, target and headers (names in lower case) of a message.
    static HttpRequest RequestOf(const http::request_header<>& message) {
        HttpRequest request;
        request.method = std::string(message.method_string());
        request.target = std::string(message.target());
        for (const auto& field : message) {
            std::string name(field.name_string());
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            request.headers.emplace_back(std::move(name), std::string(field.value()));
        }
        return request;
    }

    void ReadBody() {
        stream.expires_after(bodyDeadline);
        http::async_read(stream, buffer, *parser,
                         [self = shared_from_this()](beast::error_code error, std::size_t) {
                             if (error) return self->Failed(error);
                             self->stream.expires_never();
                             self->Answer(self->parser->release());
                         });
    }

    /// A request that could not be read: one too large is told so; otherwise the connection just ends
    /// (its client went, or was too slow).
    void Failed(beast::error_code error) {
        if (error == http::error::body_limit || error == http::error::buffer_overflow ||
            error == http::error::header_limit) {
            const bool body = error == http::error::body_limit;
            const Error refusal(
                Error::Kind::TooLarge,
                body ? "request body: expected at most " + std::to_string(maxBodyBytes) + " bytes"
                     : "request: expected headers of at most " + std::to_string(headerBytes) + " bytes");
            Write({StatusOf(refusal), "application/json", ErrorReply(refusal).dump(), {}}, false, 11, true);
            return;
        }
        if (error == http::error::end_of_stream || error == beast::error::timeout ||
            error == asio::error::eof) {
            Close();
            return;
        }
        if (error.category() == beast::error_code(http::error::bad_target).category()) {
            const Error refusal(Error::Kind::BadInput,
                                "request: not HTTP/1.1 as the server reads it: " + error.message());
            Write({StatusOf(refusal), "application/json", ErrorReply(refusal).dump(), {}}, false, 11);
            return;
        }
        Close();
    }

    void Answer(http::request<http::string_body> message) {
        HttpRequest request = RequestOf(message);
        request.body = std::move(message.body());
        const bool keepAlive = message.keep_alive();
        const unsigned version = message.version();
        head = message.method() == http::verb::head;
        answered = false;
        giveUp =
            router.Answer(request, [self = shared_from_this(), keepAlive, version](HttpResponse response) {
                asio::dispatch(self->stream.get_executor(),
                               [self, keepAlive, version, response = std::move(response)]() mutable {
                                   if (self->answered) return;
                                   self->answered = true;
                                   self->watch.cancel();
                                   self->Write(std::move(response), keepAlive, version);
                               });
            });
        if (!answered && giveUp) LookForGone();
    }

    /// While the answer is to come, looks now and then whether the client has closed its end: a peek
    /// of zero bytes says it has. (A browser sends no next request before this one is answered.)
    void LookForGone() {
        watch.expires_after(lookForGone);
        watch.async_wait([self = shared_from_this()](beast::error_code error) {
            if (error || self->answered) return;
            char byte;
            const ssize_t peeked =
                ::recv(self->stream.socket().native_handle(), &byte, 1, MSG_PEEK | MSG_DONTWAIT);
            if (peeked == 0 || (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
                self->answered = true;
                if (self->giveUp) self->giveUp();
                self->Close();
                return;
            }
            self->LookForGone();
        });
    }

    /// Writes the answer; then reads the next request when `keepAlive`, or closes, first reading and
    /// throwing away what the client still sends when `drain` (a client that sends a body too large
    /// reads the refusal only once it has sent it; closing at once would reset the connection first).
    void Write(HttpResponse answer, bool keepAlive, unsigned version, bool drain = false) {
        auto response = std::make_shared<http::response<http::string_body>>(
            static_cast<http::status>(answer.status), version);
        Harden(*response);
        if (!answer.contentType.empty()) response->set(http::field::content_type, answer.contentType);
        for (const auto& [name, value] : answer.headers)
            response->set(name, value);
        response->body() = std::move(answer.body);
        response->keep_alive(keepAlive);
        response->prepare_payload();
        if (std::exchange(head, false)) response->body().clear();  // the length GET would send, no body
        stream.expires_after(bodyDeadline);
        http::async_write(
            stream, *response,
            [self = shared_from_this(), response, keepAlive, drain](beast::error_code error, std::size_t) {
                self->giveUp = {};
                if (!error && drain) return self->Drain();
                if (error || !keepAlive) return self->Close();
                self->ReadHeader();
            });
    }

    void Drain() {
        beast::error_code ignored;
        stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
        stream.expires_after(drainDeadline);
        stream.async_read_some(asio::buffer(drained),
                               [self = shared_from_this()](beast::error_code error, std::size_t got) {
                                   self->drainedBytes += got;
                                   if (error || self->drainedBytes > drainLimit) return self->Close();
                                   self->Drain();
                               });
    }

    void Close() {
        beast::error_code ignored;
        stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream.close();
    }

    beast::tcp_stream stream;
    Router& router;
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    asio::steady_timer watch;
    std::array<char, 16384> drained;
    std::size_t drainedBytes = 0;
    bool answered = false;
    bool head = false;  ///< the request being answered is a HEAD
    std::function<void()> giveUp;
};

}  // namespace

HttpServer::HttpServer(asio::io_context& io, const std::string& host, int port)
    : io(io), acceptor(io), retry(io) {
    const auto fail = [&](const beast::error_code& error) {
        return Error(Error::Kind::Failure,
                     "cannot listen on " + host + " port " + std::to_string(port) + ": " + error.message());
    };
    beast::error_code error;
    const asio::ip::address address = asio::ip::make_address(host, error);
    if (error) throw Error(Error::Kind::BadInput, "--host: expected an address of this machine, not " + host);
    const tcp::endpoint endpoint(address, static_cast<unsigned short>(port));
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (error) throw fail(error);
}

int HttpServer::Port() const {
    return acceptor.local_endpoint().port();
}

void HttpServer::Start(Router& router) {
    Accept(router);
}

void HttpServer::Accept(Router& router) {
    acceptor.async_accept(asio::make_strand(io),
                          [this, &router](beast::error_code error, tcp::socket socket) {
                              if (!error) {
                                  pause = std::chrono::milliseconds(0);
                                  std::make_shared<Connection>(std::move(socket), router)->Start();
                                  return Accept(router);
                              }
                              if (error == asio::error::operation_aborted) return;
                              // Out of descriptors or memory: the connection waits in the queue, and
                              // accepting at once would fail at once, over and over. Wait a little, longer
                              // while it lasts, until one is closed.
                              pause = std::clamp(pause * 2, firstAcceptPause, longestAcceptPause);
                              retry.expires_after(pause);
                              retry.async_wait([this, &router](beast::error_code) { Accept(router); });
                          });
}

}  // namespace vantrel
