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
    Worker* runningOn = nullptr;
};

struct PreviewPool::Worker {
    explicit Worker(asio::io_context& io) : toWorker(io), fromWorker(io), timer(io) {}

    pid_t pid = -1;
    asio::posix::stream_descriptor toWorker;
    asio::posix::stream_descriptor fromWorker;
    asio::steady_timer timer;
    /// Counts the processes this slot has had: a completion of an earlier one is stale.
    std::uint64_t generation = 0;
    std::shared_ptr<Job> job;
    std::array<std::uint8_t, preview::headerBytes> header{};
    std::string sent;
    std::string answer;
};

namespace {

/// A failed frame: the error as the server answers it.
std::string Failure(const Error& error) {
    return ErrorReply(error).dump();
}

}  // namespace

PreviewPool::PreviewPool(asio::io_context& io, std::vector<std::string> command, int count,
                         std::size_t waiting, std::chrono::milliseconds limit)
    : strand(asio::make_strand(io)), command(std::move(command)), maxWaiting(waiting), limit(limit) {
    for (int i = 0; i < count; ++i) {
        workers.push_back(std::make_unique<Worker>(io));
        Spawn(*workers.back());
    }
}

PreviewPool::~PreviewPool() {
    for (const auto& worker : workers) {
        if (worker->pid > 0) {
            ::kill(worker->pid, SIGKILL);
            ::waitpid(worker->pid, nullptr, 0);
        }
    }
}

void PreviewPool::Spawn(Worker& worker) {
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
    worker.pid = pid;
    worker.toWorker.assign(toWorker[1]);
    worker.fromWorker.assign(fromWorker[0]);
    ++worker.generation;
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
    const Error superseded(Error::Kind::Conflict, "cancelled: a newer preview of the same job came");
    // What the newer preview replaces is not wanted any more: it waits no longer, or it is stopped.
    for (auto each = waiting.begin(); each != waiting.end();) {
        if ((*each)->key != job->key) {
            ++each;
            continue;
        }
        Finish(*each, preview::failed, Failure(superseded));
        each = waiting.erase(each);
    }
    for (const auto& worker : workers) {
        if (worker->job && worker->job->key == job->key)
            Replace(*worker, preview::failed, Failure(superseded));
    }
    const bool idle =
        std::any_of(workers.begin(), workers.end(), [](const auto& worker) { return !worker->job; });
    if (!idle && waiting.size() >= maxWaiting) {
        Finish(job, preview::failed,
               Failure(Error(Error::Kind::Busy, "busy: " + std::to_string(workers.size()) +
                                                    " previews run and " + std::to_string(maxWaiting) +
                                                    " wait; try again")));
        return;
    }
    waiting.push_back(job);
    Dispatch();
}

void PreviewPool::GiveUp(const std::shared_ptr<Job>& job) {
    if (job->finished) return;
    const Error stopped(Error::Kind::Conflict, "cancelled: the preview was given up");
    if (job->runningOn) {
        Replace(*job->runningOn, preview::failed, Failure(stopped));
    } else {
        waiting.erase(std::remove(waiting.begin(), waiting.end(), job), waiting.end());
        Finish(job, preview::failed, Failure(stopped));
    }
}

void PreviewPool::Dispatch() {
    const bool anyAlive =
        std::any_of(workers.begin(), workers.end(), [](const auto& worker) { return worker->pid > 0; });
    if (!anyAlive) {
        const Error none(Error::Kind::Failure, "no process to render previews in could be started");
        for (const std::shared_ptr<Job>& job : waiting)
            Finish(job, preview::failed, Failure(none));
        waiting.clear();
        return;
    }
    for (const auto& worker : workers) {
        if (waiting.empty()) return;
        if (worker->job || worker->pid <= 0) continue;
        std::shared_ptr<Job> job = waiting.front();
        waiting.pop_front();
        Start(*worker, std::move(job));
    }
}

void PreviewPool::Start(Worker& worker, std::shared_ptr<Job> job) {
    job->runningOn = &worker;
    worker.job = job;
    const std::uint64_t generation = worker.generation;
    worker.header = preview::Header(job->kind, job->body.size());
    worker.sent = std::move(job->body);
    const std::array<asio::const_buffer, 2> frame = {asio::buffer(worker.header), asio::buffer(worker.sent)};
    asio::async_write(
        worker.toWorker, frame,
        asio::bind_executor(
            strand, [this, &worker, generation](boost::system::error_code error, std::size_t) {
                if (generation != worker.generation || !error) return;
                Replace(worker, preview::failed,
                        Failure(Error(Error::Kind::Failure,
                                      "the preview's process took no request: " + error.message())));
            }));
    ReadAnswer(worker, generation);
    worker.timer.expires_after(limit);
    worker.timer.async_wait(
        asio::bind_executor(strand, [this, &worker, generation](boost::system::error_code error) {
            if (error || generation != worker.generation || !worker.job) return;
            const double seconds = std::chrono::duration<double>(limit).count();
            char figure[32];
            std::snprintf(figure, sizeof figure, "%g", seconds);
            Replace(worker, preview::failed,
                    Failure(Error(Error::Kind::TimedOut, std::string("the preview took longer than ") +
                                                             figure + " s and was stopped")));
        }));
}

void PreviewPool::ReadAnswer(Worker& worker, std::uint64_t generation) {
    asio::async_read(
        worker.fromWorker, asio::buffer(worker.header),
        asio::bind_executor(strand, [this, &worker, generation](boost::system::error_code error,
                                                                std::size_t) {
            if (generation != worker.generation) return;
            const std::size_t size = preview::SizeOf(worker.header);
            if (error || size > preview::largestFrame) {
                int status = 0;
                ::kill(worker.pid, SIGKILL);
                ::waitpid(worker.pid, &status, 0);
                worker.pid = -1;
                const std::string how = WIFSIGNALED(status)
                                            ? "by signal " + std::to_string(WTERMSIG(status))
                                            : "with status " + std::to_string(WEXITSTATUS(status));
                Replace(worker, preview::failed,
                        Failure(Error(Error::Kind::Failure, "the preview's process ended " + how)));
                return;
            }
            worker.answer.resize(size);
            asio::async_read(worker.fromWorker, asio::buffer(worker.answer),
                             asio::bind_executor(strand, [this, &worker, generation](
                                                             boost::system::error_code error, std::size_t) {
                                 if (generation != worker.generation) return;
                                 if (error) {
                                     Replace(worker, preview::failed,
                                             Failure(Error(Error::Kind::Failure,
                                                           "the preview's process ended in its answer")));
                                     return;
                                 }
                                 worker.timer.cancel();
                                 const std::shared_ptr<Job> job = std::move(worker.job);
                                 Finish(job, worker.header[0], std::move(worker.answer));
                                 worker.answer.clear();
                                 Dispatch();
                             }));
        }));
}

void PreviewPool::Replace(Worker& worker, std::uint8_t tag, std::string bytes) {
    if (worker.pid > 0) {
        ::kill(worker.pid, SIGKILL);
        ::waitpid(worker.pid, nullptr, 0);
        worker.pid = -1;
    }
    boost::system::error_code ignored;
    worker.toWorker.close(ignored);
    worker.fromWorker.close(ignored);
    worker.timer.cancel();
    ++worker.generation;  // what the old process's operations complete with is stale now
    std::shared_ptr<Job> job = std::move(worker.job);
    // The new process first: when the answer arrives, the pool is whole again.
    try {
        Spawn(worker);
    } catch (const Error& error) {
        std::fprintf(stderr, "vantrel serve: %s\n", error.what());
    }
    if (job) Finish(job, tag, std::move(bytes));
    Dispatch();
}

}  // namespace vantrel
