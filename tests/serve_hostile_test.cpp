// `vantrel serve` when what it stands on fails or is turned against it: its preview processes killed,
// unable to start, or superseded while a large request is still being written to them; its
// descriptors used up; clients that send a body without the secret; names that are not UTF-8; the
// secret kept off the command line; a scene file swapped for a link while it is read. Each must leave
// the server answering, and answering right.

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "tests/png_image.h"
#include "tests/serve_fixture.h"

namespace vantrel::test {
namespace {

using Clock = std::chrono::steady_clock;

/// A field of /proc/PID/status ("VmHWM"), in its unit (kB), or -1.
long StatusField(int pid, const std::string& name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name + ":", 0) == 0) return std::stol(line.substr(name.size() + 1));
    }
    return -1;
}

/// The CPU time the process has used, user and system, in seconds.
double CpuSeconds(int pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    std::istringstream fields(stat.substr(stat.rfind(')') + 2));
    std::string field;
    for (int i = 3; i < 14; ++i)
        fields >> field;  // state to cmajflt
    double user = 0;
    double system = 0;
    fields >> user >> system;
    return (user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

/// Whether the process has ended and waits to be reaped.
bool Zombie(int pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t end = stat.rfind(')');
    return end == std::string::npos || stat.compare(end + 2, 1, "Z") == 0;
}

/// Waits up to `seconds` for `ready`; whether it came.
bool WaitFor(const std::function<bool()>& ready, int seconds = 20) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (!ready()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class ServeHostile : public Serve {
protected:
    /// The server's preview processes, once there are `count` alive (none a zombie); empty when there
    /// never are.
    std::set<int> LiveWorkers(std::size_t count = 2) const {
        std::set<int> workers;
        WaitFor([&] {
            workers = ChildrenOf(server->Pid());
            return workers.size() == count &&
                   std::none_of(workers.begin(), workers.end(), [](int pid) { return Zombie(pid); });
        });
        return workers.size() == count ? workers : std::set<int>{};
    }

    /// Renders the curves at 8 x 4; the status.
    int Render(const std::string& client = "tab") const {
        return Post("/api/render", RenderRequest(json::parse(gradedCurveScene), 8, 4, client).dump()).first;
    }

    /// A copy of the built program with its libraries and modules, in `work/bin`, so that a test may
    /// break and mend what the server starts its previews from.
    std::filesystem::path CopyProgram() {
        const std::filesystem::path built = std::filesystem::path(VANTREL_PATH).parent_path();
        const std::filesystem::path bin = work / "bin";
        std::filesystem::create_directory(bin);
        for (const auto& entry : std::filesystem::directory_iterator(built)) {
            const std::string name = entry.path().filename().string();
            if (entry.is_regular_file() && (name == "vantrel" || name.find(".so") != std::string::npos))
                std::filesystem::copy_file(entry.path(), bin / name);
        }
        program = (bin / "vantrel").string();
        return bin;
    }
};

TEST_F(ServeHostile, AWorkerKilledWhileIdleIsReplacedAtOnce) {
    StartServer();
    const std::set<int> before = LiveWorkers();
    ASSERT_EQ(before.size(), 2u);
    // The OOM killer or a stray `kill`, while no preview runs.
    ::kill(*before.begin(), SIGKILL);
    EXPECT_TRUE(WaitFor([&] { return ChildrenOf(server->Pid()).count(*before.begin()) == 0; }))
        << "the dead process was never reaped";
    EXPECT_EQ(LiveWorkers().size(), 2u) << "the dead process was not replaced";
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(Render("tab" + std::to_string(i)), 200);
}

/// A way to keep the server from starting its previews' processes, and to let it again.
struct Breakage {
    const char* name;
    std::function<void(const std::filesystem::path& bin)> breakIt;
    std::function<void(const std::filesystem::path& bin)> mend;
};

void PrintTo(const Breakage& breakage, std::ostream* out) {
    *out << breakage.name;
}

const Breakage breakages[] = {
    // posix_spawn fails: the server cannot start the process at all.
    {"program-not-runnable",
     [](const std::filesystem::path& bin) {
         std::filesystem::permissions(bin / "vantrel", std::filesystem::perms::none);
     },
     [](const std::filesystem::path& bin) {
         std::filesystem::permissions(bin / "vantrel", std::filesystem::perms::owner_all);
     }},
    // The process starts, cannot load the module (replaced while serving) and ends at once.
    {"module-replaced",
     [](const std::filesystem::path& bin) {
         std::filesystem::rename(bin / "VantrelFunctions.so", bin / "good.so");
         WriteFile(bin / "VantrelFunctions.so", "not a library");
     },
     [](const std::filesystem::path& bin) {
         std::filesystem::rename(bin / "good.so", bin / "VantrelFunctions.so");
     }},
};

class Unstartable : public ServeHostile, public ::testing::WithParamInterface<Breakage> {};

TEST_P(Unstartable, WorkersAreTriedAgainUntilTheyStart) {
    const std::filesystem::path bin = CopyProgram();
    StartServer();
    const std::set<int> workers = LiveWorkers();
    ASSERT_EQ(workers.size(), 2u);
    GetParam().breakIt(bin);
    for (const int worker : workers)
        ::kill(worker, SIGKILL);
    // Every preview is answered, with why, and the server goes on.
    for (int i = 0; i < 10; ++i) {
        const auto [status, answer] =
            Post("/api/render",
                 RenderRequest(json::parse(gradedCurveScene), 8, 4, "tab" + std::to_string(i)).dump());
        ASSERT_GT(status, 0) << "the server is gone: " << ReadFile(root / "streams" / "stderr");
        EXPECT_EQ(status, 500) << answer;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    GetParam().mend(bin);
    EXPECT_TRUE(WaitFor([&] { return Render() == 200; })) << "the workers were never tried again";
    EXPECT_EQ(LiveWorkers().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Serve, Unstartable, ::testing::ValuesIn(breakages),
                         CaseName<::testing::TestParamInfo<Breakage>>);

// Editing a large scene: each edit's preview supersedes the last while the last's request, larger
// than a pipe holds, is still being written to its process, which is killed mid-write. The server
// must neither die of the broken pipe nor write the old request's rest into the next process's pipe
// (from freed memory: AddressSanitizer stops the server then).
TEST_F(ServeHostile, PreviewsSupersededMidWriteLeaveTheServerWhole) {
    json scene = json::parse(gradedCurveScene);
    scene["description"] = std::string(128 * 1024, 'x');
    StartServer();
    const std::string body = RenderRequest(scene, 16, 8).dump();
    std::mutex mutex;
    std::set<int> statuses;
    std::vector<std::thread> edits;
    for (int i = 0; i < 40; ++i) {
        edits.emplace_back([&] {
            const int status = Post("/api/render", body).first;
            std::lock_guard lock(mutex);
            statuses.insert(status);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    for (std::thread& edit : edits)
        edit.join();
    for (const int status : statuses)
        EXPECT_TRUE(status == 200 || status == 409 || status == 503) << status;
    const auto [status, png] = Post("/api/render", body);
    ASSERT_EQ(status, 200) << png << ReadFile(root / "streams" / "stderr");
    WriteFile(work / "last.png", png);
    EXPECT_EQ(ReadPng(work / "last.png").width, 16);
    EXPECT_EQ(LiveWorkers().size(), 2u);
}

/// Connections that send nothing, held open.
std::vector<std::unique_ptr<boost::asio::ip::tcp::socket>> HoldConnections(boost::asio::io_context& io,
                                                                           int port, int count) {
    std::vector<std::unique_ptr<boost::asio::ip::tcp::socket>> held;
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"),
                                                  static_cast<unsigned short>(port));
    for (int i = 0; i < count; ++i) {
        held.push_back(std::make_unique<boost::asio::ip::tcp::socket>(io));
        held.back()->connect(endpoint);
    }
    return held;
}

// Out of descriptors, the server waits for one to be closed instead of trying to accept over and over,
// and answers again once one is.
TEST_F(ServeHostile, OutOfDescriptorsTheServerWaitsAndRecovers) {
    StartServer();
    ASSERT_EQ(LiveWorkers().size(), 2u);
    std::size_t open = 0;
    for ([[maybe_unused]] const auto& each :
         std::filesystem::directory_iterator("/proc/" + std::to_string(server->Pid()) + "/fd"))
        ++open;
    rlimit old{};
    ASSERT_EQ(::prlimit(server->Pid(), RLIMIT_NOFILE, nullptr, &old), 0);
    const rlimit few{open + 4, old.rlim_max};
    ASSERT_EQ(::prlimit(server->Pid(), RLIMIT_NOFILE, &few, nullptr), 0);
    boost::asio::io_context io;
    auto held = HoldConnections(io, port, 32);  // a few accepted, the rest waiting in the queue
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const double before = CpuSeconds(server->Pid());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double spent = CpuSeconds(server->Pid()) - before;
    EXPECT_LT(spent, 0.5) << "the server spun for want of a descriptor";
    // The limit first: a sanitizer checking a type in the server reads memory through a pipe of its
    // own, which it cannot open while none is left, and takes the memory for unreadable.
    ASSERT_EQ(::prlimit(server->Pid(), RLIMIT_NOFILE, &old, nullptr), 0);
    held.clear();
    EXPECT_TRUE(WaitFor([&] { return Get("/api/files").first == 200; }));
    EXPECT_EQ(Render(), 200);
}

// A client without the secret, or naming another host, is refused on its headers: the server never
// reads and holds the body it announces.
TEST_F(ServeHostile, RequestsWithoutTheSecretAreRefusedBeforeTheirBody) {
    StartServer();
    const long before = StatusField(server->Pid(), "VmHWM");
    const std::string host = "Host: 127.0.0.1:" + std::to_string(port) + "\r\n";
    for (const std::string& headers : {host, "Host: evil.example\r\nX-Vantrel-Token: " + token + "\r\n"}) {
        const std::string request = "POST /api/check HTTP/1.1\r\n" + headers +
                                    "Content-Type: application/json\r\nContent-Length: 4194304\r\n\r\n";
        const std::string answer = RawExchange(port, request, std::chrono::seconds(5));
        EXPECT_EQ(answer.rfind("HTTP/1.1 403", 0), 0u) << "no refusal before the body: " << answer;
    }
    // Bodies sent whole, many at once, are read and thrown away, never held.
    std::vector<std::thread> clients;
    const std::string flood = "POST /api/check HTTP/1.1\r\n" + host +
                              "Content-Type: application/json\r\nContent-Length: 4194304\r\n\r\n" +
                              std::string(4194304, ' ');
    for (int i = 0; i < 48; ++i)
        clients.emplace_back([&] { RawExchange(port, flood, std::chrono::seconds(20)); });
    for (std::thread& client : clients)
        client.join();
    const long grown = StatusField(server->Pid(), "VmHWM") - before;
    EXPECT_LT(grown, 64 * 1024) << "kB held at the peak for bodies that carried no secret";
    EXPECT_EQ(Get("/api/files").first, 200);
}

// File names are bytes: one that is not UTF-8 is listed (escaped) but never aborts anything.
TEST_F(ServeHostile, NamesThatAreNotUtf8AreRefusedByName) {
    Write("caf\xe9.json", gradedCurveScene);
    Process process({VANTREL_PATH, "serve", "--port", "0", "caf\xe9.json"}, work, root / "streams", "");
    const std::optional<RunResult> started = process.WaitAtMost(std::chrono::seconds(30));
    ASSERT_TRUE(started) << "it serves a file whose name the page cannot send back";
    EXPECT_EQ(started->status, 2) << started->err;
    EXPECT_NE(started->err.find("caf\\xe9.json"), std::string::npos) << started->err;
    // The module in a folder of such a name.
    const std::filesystem::path folder = work / "mod\xe9";
    std::filesystem::create_directory(folder);
    const std::filesystem::path built = std::filesystem::path(VANTREL_PATH).parent_path();
    std::filesystem::copy_file(built / "VantrelFunctions.so", folder / "VantrelFunctions.so");
    const RunResult listed =
        Vantrel({"--module", (folder / "VantrelFunctions.so").string(), "list", "--json"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NO_THROW(json::parse(listed.out));
}

/// How the secret is given, and what the server makes of it.
struct SecretGiven {
    const char* name;
    std::vector<std::string> arguments;
    std::vector<std::string> environment;
    unsigned fileMode;   ///< of the file "secret.txt", which holds "from-the-file"; 0: none
    const char* secret;  ///< the secret the server prints; null: refused with this in the message
    const char* refusal;
};

void PrintTo(const SecretGiven& given, std::ostream* out) {
    *out << given.name;
}

const SecretGiven secretsGiven[] = {
    {"file", {"--token-file", "secret.txt"}, {}, 0600, "from-the-file", nullptr},
    {"file-others-read", {"--token-file", "secret.txt"}, {}, 0644, nullptr, "of mode 644"},
    {"file-group-reads", {"--token-file", "secret.txt"}, {}, 0640, nullptr, "of mode 640"},
    {"file-missing", {"--token-file", "nothing.txt"}, {}, 0, nullptr, "cannot open the file"},
    {"environment", {}, {"VANTREL_TOKEN=from-the-environment"}, 0, "from-the-environment", nullptr},
    {"file-and-option", {"--token-file", "secret.txt", "--token", "x"}, {}, 0600, nullptr, "excludes"},
};

class Secrets : public Serve, public ::testing::WithParamInterface<SecretGiven> {};

TEST_P(Secrets, StayOffTheCommandLine) {
    const SecretGiven& given = GetParam();
    if (given.fileMode != 0) {
        Write("secret.txt", "from-the-file\n");
        std::filesystem::permissions(work / "secret.txt",
                                     static_cast<std::filesystem::perms>(given.fileMode));
    }
    std::vector<std::string> arguments = given.arguments;
    arguments.push_back("curves.json");
    if (!given.secret) {
        std::vector<std::string> all = {VANTREL_PATH, "serve", "--port", "0"};
        all.insert(all.end(), arguments.begin(), arguments.end());
        const RunResult run = Process(all, work, root / "streams", "", given.environment).Wait();
        EXPECT_EQ(run.status, 2);
        EXPECT_NE(run.err.find(given.refusal), std::string::npos) << run.err;
        return;
    }
    StartServer(arguments, given.environment);
    EXPECT_EQ(token, given.secret);
    EXPECT_EQ(ReadFile("/proc/" + std::to_string(server->Pid()) + "/cmdline").find(given.secret),
              std::string::npos);
    EXPECT_EQ(Get("/api/files").first, 200);
}

INSTANTIATE_TEST_SUITE_P(Serve, Secrets, ::testing::ValuesIn(secretsGiven),
                         CaseName<::testing::TestParamInfo<SecretGiven>>);

// A scene file swapped for a link to a file outside the folder, over and over, while the page reads it:
// what is read is what was opened, and a link is never followed.
TEST_F(ServeHostile, AFileSwappedForALinkIsNeverFollowed) {
    json outside = json::parse(gradedCurveScene);
    outside["description"] = "OUTSIDE";
    Write("outside.json", outside.dump());
    std::filesystem::create_directory(work / "folder");
    std::filesystem::copy_file(work / "curves.json", work / "folder" / "swap.json");
    std::filesystem::copy_file(work / "curves.json", work / "folder" / "start.json");
    StartServer({"folder/start.json"});
    std::atomic<bool> done{false};
    std::thread swapper([&] {
        const std::filesystem::path folder = work / "folder";
        std::filesystem::copy_file(folder / "swap.json", folder / "plain.json");
        while (!done) {
            std::filesystem::create_symlink(work / "outside.json", folder / "link.tmp");
            std::filesystem::rename(folder / "link.tmp", folder / "swap.json");
            std::filesystem::copy_file(folder / "plain.json", folder / "plain.tmp");
            std::filesystem::rename(folder / "plain.tmp", folder / "swap.json");
        }
    });
    int followed = 0;
    for (int i = 0; i < 3000; ++i) {
        const auto [status, body] = Get("/api/scene?file=swap.json");
        if (status == 200 && body.find("OUTSIDE") != std::string::npos) ++followed;
    }
    done = true;
    swapper.join();
    EXPECT_EQ(followed, 0) << "reads that returned the file outside the folder";
}

}  // namespace
}  // namespace vantrel::test
