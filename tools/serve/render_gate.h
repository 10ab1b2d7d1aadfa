#pragma once
/// @file
/// How many renders `vantrel serve` runs at once, how many wait, and which a newer one cancels.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace vantrel {

/// Admits renders: at most `running` at once, at most `waiting` more in line (in the order they came),
/// and none beyond. Each render has a key, the client and the job it is for; a newer render of the
/// same key cancels the older one, whether it runs or waits, since its picture is no longer wanted.
class RenderGate {
public:
    enum class Admission {
        Run,        ///< it may run now, checking its cancel flag as it goes
        Full,       ///< too many renders run and wait already
        Cancelled,  ///< a newer render of its key came while it waited
    };

    /// A render's place: while it lives the render counts against the limits.
    class Ticket {
    public:
        Ticket(RenderGate& gate, const std::string& key);
        ~Ticket();
        Ticket(const Ticket&) = delete;
        Ticket& operator=(const Ticket&) = delete;

        Admission Result() const { return result; }
        /// Set when a newer render of the same key arrives.
        const std::atomic<bool>& Cancelled() const { return *cancelled; }

    private:
        RenderGate& gate;
        std::string key;
        std::shared_ptr<std::atomic<bool>> cancelled = std::make_shared<std::atomic<bool>>(false);
        std::size_t number = 0;
        Admission result = Admission::Full;
    };

    RenderGate(std::size_t running, std::size_t waiting) : maxRunning(running), maxWaiting(waiting) {}

private:
    std::size_t maxRunning;
    std::size_t maxWaiting;

    std::mutex mutex;
    std::condition_variable changed;
    std::size_t running = 0;
    std::size_t nextNumber = 0;
    std::deque<std::size_t> line;  ///< the numbers of the waiting renders, first come first
    /// The cancel flag of the newest render of each key, running or waiting.
    std::map<std::string, std::shared_ptr<std::atomic<bool>>> newest;
};

}  // namespace vantrel
