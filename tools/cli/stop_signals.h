#pragma once
/// @file
/// The stop signals of the commands that write a file: each removes the pending file and ends the
/// program by that signal, at once.

#include <pthread.h>

#include <csignal>
#include <cstddef>
#include <iterator>

#include "tools/image/output_file.h"

namespace vantrel {

/// The signals that end a program unless it handles them, and that someone or something sends to stop
/// it: Ctrl-C and Ctrl-\, `kill`, a closed terminal, a reader of its output that went away, timers, a
/// CPU-time limit and the user's own. A command that writes a file catches those at their default to
/// remove its pending file before it ends by them; the main thread holds them back, so that the
/// command's threads take them. Windows has only the first two.
#ifdef _WIN32
inline constexpr int stopSignals[] = {SIGINT, SIGTERM};
#else
inline constexpr int stopSignals[] = {SIGINT,  SIGTERM, SIGHUP,    SIGQUIT, SIGPIPE, SIGALRM,
                                      SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF, SIGXCPU};
#endif

/// While it lives, the stop signals remove the pending file and end the program by that signal. A
/// signal that is not at its default, ignored as `nohup` ignores SIGHUP or handled by whoever set it,
/// is left as it is.
class StopSignals {
public:
    explicit StopSignals(const PendingFile& file);
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    /// Puts the file in place with the stop signals held back, so that a signal cannot remove it while
    /// it is renamed; one that arrives meanwhile ends the program once the new file is in place. Called
    /// when the thread that calls it is the only one that takes the signals (main blocks them).
    void Commit(PendingFile& file);

private:
    static constexpr std::size_t count = std::size(stopSignals);
    struct sigaction previous[count];
    bool caught[count] = {};
};

}  // namespace vantrel
