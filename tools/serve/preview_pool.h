#pragma once
/// @file
/// The processes the server's previews run in. A node's `Eval` cannot be told to stop, and one sample
/// can take minutes (the fractal with two billion iterations), so every render and value of the page is
/// taken in a `vantrel preview-worker` process of a small pool, started before it is needed; a preview
/// that a newer one of the same job supersedes, that its client gives up, or that runs past the time
/// limit is ended at once with SIGKILL, and a fresh process takes its place. Nothing the server's own
/// threads do waits for a preview.

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>

#include "scene/scene.h"
#include "tools/serve/preview_protocol.h"

namespace vantrel {

class PreviewPool {
public:
    /// A preview's answer: the worker's frame (preview_protocol.h), or, for what the pool itself ends
    /// (a queue too long, a superseded or stopped preview, the time limit, a process that died), a
    /// `preview::failed` frame of the error.
    struct Answer {
        std::uint8_t tag = preview::failed;
        std::string bytes;
    };
    /// Called once with the answer, on a thread of the io_context.
    using Done = std::function<void(Answer)>;

    /// `command` starts a worker (the program and its arguments); `workers` run at once and `waiting`
    /// more wait their turn; a preview past `limit` is stopped. Starts the workers now. Throws
    /// quib::Error when one cannot be started.
    PreviewPool(boost::asio::io_context& io, std::vector<std::string> command, int workers,
                std::size_t waiting, std::chrono::milliseconds limit);
    ~PreviewPool();
    PreviewPool(const PreviewPool&) = delete;
    PreviewPool& operator=(const PreviewPool&) = delete;

    /// Takes the preview `body` of `kind` (preview::renderRequest or valueRequest), for the job `key`
    /// (the page's tab and what the picture is for): a preview of the same key that waits or runs is
    /// superseded, and answered as such. Returns a function that gives the preview up (its client went
    /// away); it does nothing once the answer is given.
    std::function<void()> Submit(std::string key, std::uint8_t kind, std::string body, Done done);

private:
    struct Job;
    struct Worker;

    void Take(const std::shared_ptr<Job>& job);
    void GiveUp(const std::shared_ptr<Job>& job);
    void Dispatch();
    void Start(Worker& worker, std::shared_ptr<Job> job);
    void ReadAnswer(Worker& worker, std::uint64_t generation);
    /// Ends the worker's process at once, answers its job with `error`, and starts a new process.
    void Replace(Worker& worker, std::uint8_t tag, std::string bytes);
    void Spawn(Worker& worker);
    static void Finish(const std::shared_ptr<Job>& job, std::uint8_t tag, std::string bytes);

    boost::asio::strand<boost::asio::io_context::executor_type> strand;
    std::vector<std::string> command;
    std::size_t maxWaiting;
    std::chrono::milliseconds limit;
    std::vector<std::unique_ptr<Worker>> workers;
    std::deque<std::shared_ptr<Job>> waiting;
};

/// The other end: what `vantrel preview-worker` runs, until its standard input ends. Returns the exit
/// status.
int RunPreviewWorker(const Scene::ModulePointer& module);

}  // namespace vantrel
