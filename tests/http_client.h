#pragma once
// A plain HTTP/1.1 client for the tests and benchmarks of `vantrel serve`, with Boost.Beast: one request a
// connection, any method, headers and body, or bytes sent as they are.

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

namespace vantrel::test {

using Headers = std::vector<std::pair<std::string, std::string>>;

/// What the server answered: its status (-1: no answer, `error` says why), headers (names in lower
/// case) and body.
struct HttpAnswer {
    int status = -1;
    std::map<std::string, std::string> headers;
    std::string body;
    std::string error;
};

/// Runs one asynchronous operation of `stream` to its end, which its deadline bounds (a stream's
/// deadline holds for asynchronous operations only); throws what it fails with.
template <class Operation>
void Await(boost::asio::io_context& io, Operation operation) {
    boost::beast::error_code error;
    operation([&](boost::beast::error_code result, std::size_t) { error = result; });
    io.restart();
    io.run();
    if (error) throw boost::beast::system_error(error);
}

inline void Connect(boost::asio::io_context& io, boost::beast::tcp_stream& stream, int port) {
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"),
                                                  static_cast<unsigned short>(port));
    boost::beast::error_code error;
    stream.async_connect(endpoint, [&](boost::beast::error_code result) { error = result; });
    io.run();
    if (error) throw boost::beast::system_error(error);
}

/// Sends one request to 127.0.0.1:`port`, and waits at most `timeout` for it to go and its answer to
/// come. A Host header is added unless `headers` has one, and Content-Type application/json for a body
/// unless given.
inline HttpAnswer HttpCall(int port, const std::string& method, const std::string& target,
                           const Headers& headers = {}, const std::string& body = "",
                           std::chrono::seconds timeout = std::chrono::seconds(120)) {
    namespace beast = boost::beast;
    namespace http = beast::http;
    HttpAnswer answer;
    try {
        boost::asio::io_context io;
        beast::tcp_stream stream(io);
        stream.expires_after(timeout);
        Connect(io, stream, port);
        http::request<http::string_body> request(http::string_to_verb(method), target, 11);
        bool host = false;
        bool type = false;
        for (const auto& [name, value] : headers) {
            request.insert(name, value);
            host = host || beast::iequals(name, "host");
            type = type || beast::iequals(name, "content-type");
        }
        if (!host) request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
        if (!body.empty() && !type) request.set(http::field::content_type, "application/json");
        request.body() = body;
        request.prepare_payload();
        Await(io, [&](auto done) { http::async_write(stream, request, done); });
        beast::flat_buffer buffer;
        http::response_parser<http::string_body> parser;
        parser.body_limit(std::uint64_t{1} << 30);
        parser.skip(method == "HEAD");  // a HEAD answer has the headers of a GET and no body
        Await(io, [&](auto done) { http::async_read(stream, buffer, parser, done); });
        const auto& response = parser.get();
        answer.status = static_cast<int>(response.result_int());
        for (const auto& field : response) {
            std::string name(field.name_string());
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            answer.headers[name] = std::string(field.value());
        }
        answer.body = response.body();
    } catch (const std::exception& error) {
        answer.error = error.what();
    }
    return answer;
}

/// Sends `bytes` as they are and reads what comes back until the server closes the connection or
/// `timeout` passes; then closes its end.
inline std::string RawExchange(int port, const std::string& bytes,
                               std::chrono::seconds timeout = std::chrono::seconds(60)) {
    namespace beast = boost::beast;
    std::string received;
    try {
        boost::asio::io_context io;
        beast::tcp_stream stream(io);
        stream.expires_after(timeout);
        Connect(io, stream, port);
        Await(io, [&](auto done) { boost::asio::async_write(stream, boost::asio::buffer(bytes), done); });
        char chunk[4096];
        for (;;) {
            std::size_t got = 0;
            Await(io, [&](auto done) {
                stream.async_read_some(boost::asio::buffer(chunk),
                                       [&, done](beast::error_code error, std::size_t size) {
                                           got = size;
                                           done(error, size);
                                       });
            });
            received.append(chunk, got);
        }
    } catch (const std::exception&) {
    }
    return received;
}

}  // namespace vantrel::test
