// The stop signals while a command writes a file.

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

/// Runs `work` with the stop signals held back on this thread: one that arrives meanwhile is taken
/// once `work` is done.
template <class Work>
void HoldingStopSignals(Work work) {
    sigset_t held;
    sigemptyset(&held);
    for (int signal : stopSignals)
        sigaddset(&held, signal);
    sigset_t before;
    pthread_sigmask(SIG_BLOCK, &held, &before);
    try {
        work();
    } catch (...) {
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        throw;
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace

GuardedFile::GuardedFile(const std::filesystem::path& target) {
    struct sigaction action = {};
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < count; ++i) {
        caught[i] = sigaction(stopSignals[i], nullptr, &previous[i]) == 0 &&
                    previous[i].sa_handler == SIG_DFL && sigaction(stopSignals[i], &action, nullptr) == 0;
    }
    try {
        // A link to the file stays a link, as when an editor saves through it.
        HoldingStopSignals([&] {
            file.emplace(target, PendingFile::Links::WriteThrough);
            pendingPath.store(file->Path().c_str());
        });
    } catch (...) {
        Restore();
        throw;
    }
}

GuardedFile::~GuardedFile() {
    HoldingStopSignals([&] {
        pendingPath.store(nullptr);
        file.reset();  // which removes it, unless it is in place
    });
    Restore();
}

void GuardedFile::Commit() {
    HoldingStopSignals([&] {
        file->Commit();
        pendingPath.store(nullptr);
    });
}

void GuardedFile::Restore() {
    for (std::size_t i = 0; i < count; ++i) {
        if (caught[i]) sigaction(stopSignals[i], &previous[i], nullptr);
    }
}

}  // namespace vantrel
