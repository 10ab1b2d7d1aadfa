#pragma once
/// @file
/// The processes the server's previews run in. A node's `Eval` cannot be told to stop, and one sample
/// can take minutes (the fractal with two billion iterations), so every render and value of the page is
/// taken in a `vantrel preview-worker` process of a small pool, started before it is needed; a preview
/// that a newer one of the same job supersedes, that its client gives up, or that runs past the time
/// limit is ended at once with SIGKILL, and a fresh process takes its place. A process that ends by
/// itself (the OOM killer, a stray `kill`, a module it cannot load) is noticed at once, idle or not, and
/// started again, at once when it had said it was ready and after a growing pause when it had not, so
/// that a process that cannot start is tried again without spinning. A preview is given only to a
/// process that is ready: one superseded while a fresh process starts is replaced in the queue, and no
/// process is ended for it, so that previews superseded faster than a process starts cost one start. Each
/// process has its own pipes and buffers, which live as long as any operation on them: an operation of an
/// ended process completes into that process's buffers and is then ignored. Nothing the server's own threads
/// do waits for a preview.

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

    /// `command` starts a worker (the program and its arguments, as absolute paths) in the working
    /// folder `folder` (the scene's, which the models it names are read from); `workers` run at once
    /// and `waiting` more wait their turn; a preview past `limit` is stopped. Starts the workers now.
    /// Throws quib::Error when one cannot be started.
    PreviewPool(boost::asio::io_context& io, std::vector<std::string> command, std::string folder,
                int workers, std::size_t waiting, std::chrono::milliseconds limit);
    ~PreviewPool();
    PreviewPool(const PreviewPool&) = delete;
    PreviewPool& operator=(const PreviewPool&) = delete;

    /// Takes the preview `body` of `kind` (a request's tag, preview_protocol.h), for the job `key`
    /// (the page's tab and what the picture is for): a preview of the same key that waits or runs is
    /// superseded, and answered as such. Returns a function that gives the preview up (its client went
    /// away); it does nothing once the answer is given.
    std::function<void()> Submit(std::string key, std::uint8_t kind, std::string body, Done done);

private:
    struct Job;
    struct Process;
    struct Worker;
    using ProcessPointer = std::shared_ptr<Process>;

    void Take(const std::shared_ptr<Job>& job);
    void GiveUp(const std::shared_ptr<Job>& job);
    void Dispatch();
    void Start(Worker& worker, std::shared_ptr<Job> job);
    /// Reads the process's next answer; it is always being read, so that its end is seen while idle.
    void ReadAnswer(Worker& worker, const ProcessPointer& process);
    void Ready(Worker& worker, const ProcessPointer& process);
    void Answered(Worker& worker, const ProcessPointer& process);
    /// The process of `worker` ended by itself, or broke the protocol: its job is answered with why.
    void Ended(Worker& worker, const ProcessPointer& process, const std::string& why);
    /// Ends the worker's process at once, answers its job with the frame `tag`, `bytes`, and starts a
    /// new process, after `pause`.
    void Replace(Worker& worker, std::uint8_t tag, std::string bytes,
                 std::chrono::milliseconds pause = std::chrono::milliseconds(0));
    /// Starts a process for the worker now, or after `pause`; one that cannot start is tried again.
    void Spawn(Worker& worker, std::chrono::milliseconds pause);
    static void Finish(const std::shared_ptr<Job>& job, std::uint8_t tag, std::string bytes);
    /// A new process with its pipes; throws quib::Error when it cannot be made.
    ProcessPointer StartProcess();

    boost::asio::io_context& io;
    boost::asio::strand<boost::asio::io_context::executor_type> strand;
    std::vector<std::string> command;
    std::string folder;
    std::size_t maxWaiting;
    std::chrono::milliseconds limit;
    std::vector<std::unique_ptr<Worker>> workers;
    std::deque<std::shared_ptr<Job>> waiting;
};

/// The other end: what `vantrel preview-worker` runs, until its standard input ends. Returns the exit
/// status.
int RunPreviewWorker(const Scene::ModulePointer& module);

}  // namespace vantrel
