#pragma once
// Runs the real `vantrel` program as a user would, with files for its three standard streams.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace vantrel::test {

/// What a finished run left: its exit status (128 + the signal when a signal ended it) and its output.
struct RunResult {
    int status = -1;
    std::string out;
    std::string err;
    long peakKiB = 0;     ///< the most memory it held resident at once, in KiB
    long writtenKiB = 0;  ///< what it wrote to files, in KiB, removed or not (none counted on tmpfs)
};

/// The smallest scene of a node that reads the position: Curve3 with its default curve.
inline constexpr const char* curveScene = R"~({ "format": "vantrel-scene/1", "output": "c",
    "nodes": [ { "id": "c", "type": "Curve3", "params": { "In": { "link": "@position" } } } ] })~";

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

inline void WriteFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

/// A program started with `arguments` (the first is the program) in the folder `work`, with `input` as
/// its standard input and `extraEnvironment` ("NAME=value") added to the environment. Its standard
/// streams are files in the folder `streams`.
class Process {
public:
    Process(const std::vector<std::string>& arguments, const std::filesystem::path& work,
            const std::filesystem::path& streams, const std::string& input,
            const std::vector<std::string>& extraEnvironment = {})
        : streams(streams) {
        WriteFile(streams / "stdin", input);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, (streams / "stdin").c_str(), O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, (streams / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (streams / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addchdir_np(&actions, work.c_str());
        std::vector<char*> argv;
        for (const std::string& argument : arguments)
            argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        std::vector<std::string> environment = extraEnvironment;
        for (char** variable = environ; *variable != nullptr; ++variable)
            environment.emplace_back(*variable);
        std::vector<char*> envp;
        for (const std::string& variable : environment)
            envp.push_back(const_cast<char*>(variable.c_str()));
        envp.push_back(nullptr);
        // Every signal at its default and none held back, whatever this program inherited (a
        // background job of a script ignores SIGINT and SIGQUIT): the tests that send signals say
        // themselves which the program is to ignore.
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t all;
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attributes, &all);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
        if (posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data()) != 0) pid = -1;
        posix_spawnattr_destroy(&attributes);
        posix_spawn_file_actions_destroy(&actions);
    }

    pid_t Pid() const { return pid; }

    /// Waits for the program to end.
    RunResult Wait() {
        int status = 0;
        rusage usage{};
        const bool waited = pid > 0 && wait4(pid, &status, 0, &usage) == pid;
        RunResult result = Ended(waited, status);
        result.peakKiB = usage.ru_maxrss;
        result.writtenKiB = usage.ru_oublock / 2;  // in blocks of 512 bytes, as dirtied
        return result;
    }

    /// Waits for the program to end, at most about `limit`: a program still running then is killed
    /// with SIGKILL, and the answer is nothing. For programs whose work would otherwise take hours.
    std::optional<RunResult> WaitAtMost(std::chrono::seconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        int status = 0;
        pid_t ended = 0;
        while (pid > 0 && (ended = waitpid(pid, &status, WNOHANG)) == 0) {
            if (std::chrono::steady_clock::now() > end) {
                kill(pid, SIGKILL);
                Wait();
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return Ended(ended == pid, status);
    }

private:
    /// What the program left: its status, when `waited` (128 + the signal when a signal ended it), and
    /// its output.
    RunResult Ended(bool waited, int status) const {
        RunResult result;
        if (waited) result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadFile(streams / "stdout");
        result.err = ReadFile(streams / "stderr");
        return result;
    }

    std::filesystem::path streams;
    pid_t pid = -1;
};

/// A test with folders of its own: `work`, where vantrel runs and writes, and one for the streams.
class VantrelTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        root = std::filesystem::path(::testing::TempDir()) /
               ("vantrel-" + std::string(test->test_suite_name()) + "-" + test->name() + "-" +
                std::to_string(::getpid()));
        std::filesystem::remove_all(root);
        std::filesystem::create_directories(root / "work");
        std::filesystem::create_directories(root / "streams");
        work = root / "work";
    }
    void TearDown() override { std::filesystem::remove_all(root); }

    /// Writes a file in `work` and returns its name there.
    std::string Write(const std::string& name, const std::string& text) const {
        WriteFile(work / name, text);
        return name;
    }

    Process Start(const std::vector<std::string>& arguments, const std::string& input = "",
                  const std::vector<std::string>& environment = {}) const {
        std::vector<std::string> all = {VANTREL_PATH};
        all.insert(all.end(), arguments.begin(), arguments.end());
        return Process(all, work, root / "streams", input, environment);
    }

    RunResult Vantrel(const std::vector<std::string>& arguments, const std::string& input = "",
                      const std::vector<std::string>& environment = {}) const {
        return Start(arguments, input, environment).Wait();
    }

    /// The names of the files in `work`.
    std::vector<std::string> WorkFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(work))
            names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::filesystem::path root;
    std::filesystem::path work;
};

}  // namespace vantrel::test
