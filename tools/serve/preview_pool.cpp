#include "tools/serve/preview_pool.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <boost/asio/bind_executor.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "quib/error.h"
#include "tools/serve/serve_request.h"

extern char** environ;

namespace vantrel {

namespace asio = boost::asio;
using quib::Error;

struct PreviewPool::Job {
    std::string key;
    std::uint8_t kind;
    std::string body;
    Done done;
    bool finished = false;
    bool startedAgain = false;  ///< once given to a process that ended by itself, and queued again
    Worker* runningOn = nullptr;
};

/// One process and everything its operations touch. The operations hold it, so that what one of an
/// ended process completes with lands in its own buffers and descriptors, never in its successor's.
struct PreviewPool::Process {
    explicit Process(asio::io_context& io) : toWorker(io), fromWorker(io) {}

    pid_t pid = -1;
    asio::posix::stream_descriptor toWorker;
    asio::posix::stream_descriptor fromWorker;
    std::array<std::uint8_t, preview::headerBytes> requestHeader{};
    std::string request;
    std::array<std::uint8_t, preview::headerBytes> answerHeader{};
    std::string answer;
    bool ready = false;  ///< it said so; one that ends before it is ready could not start
};

struct PreviewPool::Worker {
    explicit Worker(asio::io_context& io) : timer(io), restart(io) {}

    ProcessPointer process;  ///< null while none runs: one is to be started after `restart`
    asio::steady_timer timer;
    asio::steady_timer restart;
    std::chrono::milliseconds pause{0};  ///< before the next start of a process that could not start
    std::shared_ptr<Job> job;
};

namespace {

/// The first pause before a process that ended without answering is started again, and the longest;
/// each such end doubles it.
constexpr std::chrono::milliseconds firstPause{100};
constexpr std::chrono::milliseconds longestPause{5000};

/// A failed frame: the error as the server answers it.
std::string Failure(const Error& error) {
    return ErrorReply(error).dump();
}

std::string Failure(ServeKind kind, const std::string& message) {
    return Failure(ServeError(kind, message));
}

/// How a reaped process ended, for a message.
std::string HowItEnded(int status) {
    return WIFSIGNALED(status) ? "by signal " + std::to_string(WTERMSIG(status))
                               : "with status " + std::to_string(WEXITSTATUS(status));
}

/// Kills the process and waits for it; how it ended.
int Reap(pid_t pid) {
    int status = 0;
    ::kill(pid, SIGKILL);
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

}  // namespace

PreviewPool::PreviewPool(asio::io_context& io, std::vector<std::string> command, std::string folder,
                         int count, std::size_t waiting, std::chrono::milliseconds limit)
    : io(io),
      strand(asio::make_strand(io)),
      command(std::move(command)),
      folder(std::move(folder)),
      maxWaiting(waiting),
      limit(limit) {
    for (int i = 0; i < count; ++i) {
        workers.push_back(std::make_unique<Worker>(io));
        workers.back()->process = StartProcess();  // the first ones must start: throws when they cannot
        ReadAnswer(*workers.back(), workers.back()->process);
    }
}

PreviewPool::~PreviewPool() {
    for (const auto& worker : workers) {
        if (worker->process) Reap(worker->process->pid);
    }
}

PreviewPool::ProcessPointer PreviewPool::StartProcess() {
    int toWorker[2];
    int fromWorker[2];
    if (::pipe2(toWorker, O_CLOEXEC) != 0)
        throw Error(Error::Kind::Failure, std::string("cannot make a pipe: ") + std::strerror(errno));
    if (::pipe2(fromWorker, O_CLOEXEC) != 0) {
        const int error = errno;
        ::close(toWorker[0]);
        ::close(toWorker[1]);
        throw Error(Error::Kind::Failure, std::string("cannot make a pipe: ") + std::strerror(error));
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toWorker[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromWorker[1], STDOUT_FILENO);
    // The server's sockets and the other workers' pipes stay out of the new process.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> argv;
    for (std::string& argument : command)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int failed = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(toWorker[0]);
    ::close(fromWorker[1]);
    if (failed != 0) {
        ::close(toWorker[1]);
        ::close(fromWorker[0]);
        throw Error(Error::Kind::Failure,
                    "cannot start the previews' process " + command[0] + ": " + std::strerror(failed));
    }
    auto process = std::make_shared<Process>(io);
    process->pid = pid;
    process->toWorker.assign(toWorker[1]);
    process->fromWorker.assign(fromWorker[0]);
    return process;
}

void PreviewPool::Spawn(Worker& worker, std::chrono::milliseconds pause) {
    if (pause.count() > 0) {
        worker.restart.expires_after(pause);
        worker.restart.async_wait(
            asio::bind_executor(strand, [this, &worker](boost::system::error_code error) {
                if (!error && !worker.process) Spawn(worker, std::chrono::milliseconds(0));
            }));
        return;
    }
    try {
        worker.process = StartProcess();
    } catch (const Error& error) {
        // Out of descriptors or processes, for now: tried again, later each time.
        std::fprintf(stderr, "vantrel serve: %s\n", error.what());
        worker.pause = std::clamp(worker.pause * 2, firstPause, longestPause);
        Spawn(worker, worker.pause);
        return;
    }
    ReadAnswer(worker, worker.process);
}

std::function<void()> PreviewPool::Submit(std::string key, std::uint8_t kind, std::string body, Done done) {
    auto job = std::make_shared<Job>(Job{std::move(key), kind, std::move(body), std::move(done)});
    asio::post(strand, [this, job] { Take(job); });
    return [this, weak = std::weak_ptr<Job>(job)] {
        asio::post(strand, [this, weak] {
            if (const std::shared_ptr<Job> job = weak.lock()) GiveUp(job);
        });
    };
}

void PreviewPool::Finish(const std::shared_ptr<Job>& job, std::uint8_t tag, std::string bytes) {
    if (job->finished) return;
    job->finished = true;
    job->runningOn = nullptr;
    job->done({tag, std::move(bytes)});
}

void PreviewPool::Take(const std::shared_ptr<Job>& job) {
    const std::string superseded =
        Failure(ServeKind::Superseded, "cancelled: a newer preview of the same job came");
    // What the newer preview replaces is not wanted any more: it waits no longer, or it is stopped.
    for (auto each = waiting.begin(); each != waiting.end();) {
        if ((*each)->key != job->key) {
            ++each;
            continue;
        }
        Finish(*each, preview::failed, superseded);
        each = waiting.erase(each);
    }
    for (const auto& worker : workers) {
        if (worker->job && worker->job->key == job->key) Replace(*worker, preview::failed, superseded);
    }
    const bool idle =
        std::any_of(workers.begin(), workers.end(), [](const auto& worker) { return !worker->job; });
    if (!idle && waiting.size() >= maxWaiting) {
        Finish(job, preview::failed,
               Failure(ServeKind::Busy, "busy: " + std::to_string(workers.size()) + " previews run and " +
                                            std::to_string(maxWaiting) + " wait; try again"));
        return;
    }
    waiting.push_back(job);
    Dispatch();
}

void PreviewPool::GiveUp(const std::shared_ptr<Job>& job) {
    if (job->finished) return;
    const std::string stopped = Failure(ServeKind::Superseded, "cancelled: the preview was given up");
    if (job->runningOn) {
        Replace(*job->runningOn, preview::failed, stopped);
    } else {
        waiting.erase(std::remove(waiting.begin(), waiting.end(), job), waiting.end());
        Finish(job, preview::failed, stopped);
    }
}

void PreviewPool::Dispatch() {
    const bool anyAlive =
        std::any_of(workers.begin(), workers.end(), [](const auto& worker) { return worker->process; });
    if (!anyAlive) {
        // Each worker is tried again after its pause; until one starts, a preview cannot wait for it.
        const std::string none = Failure(
            Error(Error::Kind::Failure, "no process to render previews in could be started; trying again"));
        for (const std::shared_ptr<Job>& job : waiting)
            Finish(job, preview::failed, none);
        waiting.clear();
        return;
    }
    for (const auto& worker : workers) {
        if (waiting.empty()) return;
        if (worker->job || !worker->process || !worker->process->ready) continue;
        std::shared_ptr<Job> job = waiting.front();
        waiting.pop_front();
        Start(*worker, std::move(job));
    }
}

void PreviewPool::Start(Worker& worker, std::shared_ptr<Job> job) {
    job->runningOn = &worker;
    worker.job = job;
    const ProcessPointer process = worker.process;
    process->requestHeader = preview::Header(job->kind, job->body.size());
    process->request = std::move(job->body);
    const std::array<asio::const_buffer, 2> frame = {asio::buffer(process->requestHeader),
                                                     asio::buffer(process->request)};
    asio::async_write(
        process->toWorker, frame,
        asio::bind_executor(strand, [this, &worker, process](boost::system::error_code error, std::size_t) {
            process->request = {};
            if (!error || worker.process != process) return;
            // The process is gone (EPIPE) or going; its answer's read says how it ended.
            Ended(worker, process, "took no request: " + error.message());
        }));
    worker.timer.expires_after(limit);
    worker.timer.async_wait(
        asio::bind_executor(strand, [this, &worker, process](boost::system::error_code error) {
            if (error || worker.process != process || !worker.job) return;
            const double seconds = std::chrono::duration<double>(limit).count();
            char figure[32];
            std::snprintf(figure, sizeof figure, "%g", seconds);
            Replace(worker, preview::failed,
                    Failure(ServeKind::TimedOut,
                            std::string("the preview took longer than ") + figure + " s and was stopped"));
        }));
}

void PreviewPool::ReadAnswer(Worker& worker, const ProcessPointer& process) {
    asio::async_read(
        process->fromWorker, asio::buffer(process->answerHeader),
        asio::bind_executor(strand, [this, &worker, process](boost::system::error_code error, std::size_t) {
            if (worker.process != process) return;
            const std::size_t size = preview::SizeOf(process->answerHeader);
            if (error) return Ended(worker, process, "stopped answering");
            const std::uint8_t tag = process->answerHeader[0];
            if (!process->ready && tag == preview::ready && size == 0) return Ready(worker, process);
            if (!process->ready || tag == preview::ready || size > preview::largestFrame || !worker.job)
                return Ended(worker, process, "answered what was not asked");
            process->answer.resize(size);
            asio::async_read(process->fromWorker, asio::buffer(process->answer),
                             asio::bind_executor(strand, [this, &worker, process](
                                                             boost::system::error_code error, std::size_t) {
                                 if (worker.process != process) return;
                                 if (error) return Ended(worker, process, "broke off its answer");
                                 Answered(worker, process);
                             }));
        }));
}

void PreviewPool::Ready(Worker& worker, const ProcessPointer& process) {
    process->ready = true;
    worker.pause = std::chrono::milliseconds(0);
    ReadAnswer(worker, process);
    Dispatch();
}

void PreviewPool::Answered(Worker& worker, const ProcessPointer& process) {
    worker.timer.cancel();
    const std::shared_ptr<Job> job = std::move(worker.job);
    Finish(job, process->answerHeader[0], std::move(process->answer));
    process->answer = {};
    ReadAnswer(worker, process);
    Dispatch();
}

void PreviewPool::Ended(Worker& worker, const ProcessPointer& process, const std::string& why) {
    const int status = Reap(process->pid);
    process->pid = -1;
    const std::string message = "the preview's process " + why + "; it ended " + HowItEnded(status);
    std::fprintf(stderr, "vantrel serve: %s; starting another\n", message.c_str());
    // A preview given to a process that had just died (killed while idle, before the pool saw it) is
    // not at fault: it waits for the next process, once. One that ends its process again is answered.
    if (const std::shared_ptr<Job> job = worker.job; job && !job->startedAgain) {
        job->startedAgain = true;
        job->runningOn = nullptr;
        worker.job = nullptr;
        waiting.push_front(job);
    }
    // One that was never ready may not be able to start at all: the next waits, longer each time.
    if (!process->ready) worker.pause = std::clamp(worker.pause * 2, firstPause, longestPause);
    Replace(worker, preview::failed, Failure(Error(Error::Kind::Failure, message)),
            process->ready ? std::chrono::milliseconds(0) : worker.pause);
}

void PreviewPool::Replace(Worker& worker, std::uint8_t tag, std::string bytes,
                          std::chrono::milliseconds pause) {
    if (const ProcessPointer process = std::exchange(worker.process, nullptr)) {
        if (process->pid > 0) Reap(process->pid);
        // Closing cancels what is in flight; its completions find the process replaced and do nothing.
        boost::system::error_code ignored;
        process->toWorker.close(ignored);
        process->fromWorker.close(ignored);
    }
    worker.timer.cancel();
    std::shared_ptr<Job> job = std::move(worker.job);
    // The new process first: when the answer arrives, the pool is whole again.
    Spawn(worker, pause);
    if (job) Finish(job, tag, std::move(bytes));
    Dispatch();
}

}  // namespace vantrel
