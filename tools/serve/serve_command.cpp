// `vantrel serve`: the editor's page and its interface over HTTP on this machine, guarded by a secret in
// the address it prints.

#include <fcntl.h>
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <thread>
#include <type_traits>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "quib/error.h"
#include "quib/open_file.h"
#include "quib/text.h"
#include "tools/serve/editor.h"
#include "tools/serve/http_server.h"
#include "tools/serve/preview_pool.h"
#include "tools/serve/router.h"
#include "tools/serve/serve.h"

namespace vantrel {
namespace {

using quib::Error;

/// Previews that may run at once, each on every core, and that may wait their turn; beyond those a
/// preview is refused at once (503), so that a flood of them cannot hold the machine.
constexpr int previewsRunning = 2;
constexpr std::size_t previewsWaiting = 14;
/// Threads that answer requests: none waits for a connection or a preview, so a few are enough.
constexpr int requestThreads = 4;

/// A new secret: 256 random bits, as hexadecimal digits.
std::string NewSecret() {
    unsigned char bytes[32];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t read = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (read < 0 && errno == EINTR) continue;
        if (read <= 0)
            throw Error(Error::Kind::Failure, std::string("cannot make a secret: ") + std::strerror(errno));
        got += static_cast<std::size_t>(read);
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string secret;
    for (const unsigned char byte : bytes) {
        secret += hex[byte >> 4];
        secret += hex[byte & 15];
    }
    return secret;
}

/// The secret in `file`, which only its owner may read or write: the file that keeps a secret off the
/// command line must not give it to another account. One line; its end of line is not part of it.
std::string SecretInFile(const std::filesystem::path& file) {
    const auto refused = [&](const std::string& why) {
        return std::move(
            Error(Error::Kind::BadInput, why).WithSource("--token-file " + quib::Quote(file.string())));
    };
    const quib::OpenFile open(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat status {};
    if (open.descriptor < 0 || ::fstat(open.descriptor, &status) != 0)
        throw refused(std::string("cannot open the file: ") + std::strerror(errno));
    if (!S_ISREG(status.st_mode)) throw refused("expected a regular file");
    if (status.st_uid != ::geteuid() || (status.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(status.st_mode & 0777));
        throw refused(std::string("expected a file of this account's that only it can read (chmod 600), "
                                  "not one of mode ") +
                      mode + (status.st_uid != ::geteuid() ? " of another account" : ""));
    }
    char bytes[512];
    ssize_t got = -1;
    while ((got = ::read(open.descriptor, bytes, sizeof bytes)) < 0 && errno == EINTR) {
    }
    if (got < 0) throw refused(std::string("cannot read the file: ") + std::strerror(errno));
    std::string secret(bytes, static_cast<std::size_t>(got));
    if (secret.ends_with('\n')) secret.pop_back();
    if (secret.ends_with('\r')) secret.pop_back();
    if (secret.empty()) throw refused("expected the secret, not an empty file");
    return secret;
}

/// The secret the server takes: --token's (or VANTREL_TOKEN's), or --token-file's, which must be a word
/// of a URL's unreserved characters, or a new one.
std::string Secret(const ServeOptions& options) {
    const std::string given = options.tokenFile.empty() ? options.token : SecretInFile(options.tokenFile);
    if (given.empty()) return NewSecret();
    const bool plain = given.size() <= 256 && std::all_of(given.begin(), given.end(), [](unsigned char c) {
                           return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
                       });
    if (!plain) {
        throw Error(Error::Kind::BadInput,
                    "expected at most 256 letters, digits and - . _ ~, which an address "
                    "carries as they are")
            .WithSource(options.tokenFile.empty() ? "--token" : "--token-file");
    }
    return given;
}

}  // namespace

void RunServe(const Scene::ModulePointer& module, const ServeOptions& options, std::ostream& out) {
    Editor editor(module, options);
    const std::string secret = Secret(options);
    const std::string host = options.host.empty() ? "127.0.0.1" : options.host;
    // A preview's process that has gone leaves a pipe whose writes fail (EPIPE): the pool takes that as
    // the process's end, where the signal would end the server.
    std::signal(SIGPIPE, SIG_IGN);
    // Every connection and every preview's pipes take descriptors: as many as the account may have.
    rlimit files{};
    if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &files);
    }
    boost::asio::io_context io;
    // The previews' processes, started before the server's threads, with every module loaded here, in
    // the scene's folder, where the models a scene names are.
    std::vector<std::string> worker{std::filesystem::absolute(options.program).string()};
    for (const std::string& path : module->Paths())
        worker.insert(worker.end(), {"--module", std::filesystem::absolute(path).string()});
    worker.push_back("preview-worker");
    PreviewPool previews(io, std::move(worker), editor.Folder().string(), previewsRunning, previewsWaiting,
                         options.timeLimit);
    HttpServer server(io, host, options.port);
    const int port = server.Port();
    Router router(editor, previews, AllowedHosts(options.host, port), secret);
    server.Start(router);

    const bool ipv6 = host.find(':') != std::string::npos;
    errno = 0;
    out << "vantrel serve: open http://" << (ipv6 ? "[" + host + "]" : host) << ":" << port
        << "/?token=" << secret << " in a browser" << std::endl;
    if (!out)
        throw Error(Error::Kind::Failure,
                    std::string("standard output: cannot write: ") + std::strerror(errno));

    std::vector<std::thread> threads;
    for (int i = 1; i < requestThreads; ++i)
        threads.emplace_back([&io] { io.run(); });
    io.run();
    for (std::thread& thread : threads)
        thread.join();
}

}  // namespace vantrel

extern "C" void VantrelServe(const vantrel::Scene::ModulePointer& module,
                             const vantrel::ServeOptions& options, std::ostream& out) {
    static_assert(std::is_same_v<decltype(VantrelServe), vantrel::ServeFunction>);
    vantrel::RunServe(module, options, out);
}

extern "C" int VantrelPreviewWorker(const vantrel::Scene::ModulePointer& module) {
    static_assert(std::is_same_v<decltype(VantrelPreviewWorker), vantrel::PreviewWorkerFunction>);
    try {
        return vantrel::RunPreviewWorker(module);
    } catch (...) {
        return 1;
    }
}
