// SIGINT and SIGTERM while a command writes a file.

#include "tools/cli/stop_signals.h"

#include <unistd.h>

#include <atomic>
#include <filesystem>

namespace vantrel {
namespace {

/// The pending file a stop signal removes, or null. Read by the signal handler, so a lock-free atomic.
/// (A path's characters are wide on Windows.)
std::atomic<const std::filesystem::path::value_type*> pendingPath{nullptr};
static_assert(decltype(pendingPath)::is_always_lock_free);

/// Removes the pending file and ends the program by the signal, at once, whatever the render threads
/// are doing: a sample may take hours, or never end, and a node's `Eval` has no way to be told to stop,
/// so nothing waits for them. The handler runs once (SA_RESETHAND) and may take the signal again inside
/// itself (SA_NODEFER), so raising it ends the program by it there. unlink and raise are safe in a
/// signal handler.
extern "C" void OnStopSignal(int signal) {
    if (const auto* path = pendingPath.load()) ::unlink(path);
    std::raise(signal);
}

}  // namespace

StopSignals::StopSignals(const PendingFile& file) {
    pendingPath.store(file.Path().c_str());
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (int i = 0; i < 2; ++i)
        sigaction(signals[i], &action, &previous[i]);
}

StopSignals::~StopSignals() {
    for (int i = 0; i < 2; ++i)
        sigaction(signals[i], &previous[i], nullptr);
    pendingPath.store(nullptr);
}

void StopSignals::Commit(PendingFile& file) {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : signals)
        sigaddset(&held, signal);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &held, &before);
    try {
        file.Commit();
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        throw;
    }
    pendingPath.store(nullptr);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace vantrel
