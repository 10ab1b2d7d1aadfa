#pragma once
/// @file
/// HTTP/1.1 for the router (tools/serve/router.h), with Boost.Beast over Boost.Asio: every connection is
/// read and written without a thread of its own, so that connections that send their request slowly
/// hold no thread while a normal request is answered at once; each request has a deadline for its
/// headers and one for its body, and a body may hold at most `maxBodyBytes`, however it is encoded
/// (chunked too). A client that goes away while its preview renders gives the preview up.

#include <chrono>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include "tools/serve/router.h"

namespace vantrel {

/// How long a request may take to send its headers (from when the server starts to wait for them, so
/// an idle kept-alive connection closes after it too), and then its body.
inline constexpr std::chrono::seconds headerDeadline{10};
inline constexpr std::chrono::seconds bodyDeadline{30};
/// The most bytes a request's headers may hold.
inline constexpr unsigned headerBytes = 16 * 1024;

class HttpServer {
public:
    /// Listens on `host` (an address) and `port` (0: any free one), with room in the queue of connections
    /// not yet accepted for a burst of them. Throws quib::Error when it cannot.
    HttpServer(boost::asio::io_context& io, const std::string& host, int port);

    int Port() const;
    /// Starts accepting connections, whose requests `router` answers on the io_context's threads.
    void Start(Router& router);

private:
    void Accept(Router& router);

    /// How long accepting waits after it failed (out of descriptors), at first and at most.
    static constexpr std::chrono::milliseconds firstAcceptPause{10};
    static constexpr std::chrono::milliseconds longestAcceptPause{500};

    boost::asio::io_context& io;
    boost::asio::ip::tcp::acceptor acceptor;
    boost::asio::steady_timer retry;
    std::chrono::milliseconds pause{0};
};

}  // namespace vantrel
