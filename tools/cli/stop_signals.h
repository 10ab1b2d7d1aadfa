#pragma once
/// @file
/// The stop signals of the commands that write a file: SIGINT and SIGTERM remove the pending file and
/// end the program by that signal, at once.

#include <pthread.h>

#include <csignal>

#include "tools/image/output_file.h"

namespace vantrel {

/// While it lives, SIGINT and SIGTERM remove the pending file and end the program by that signal.
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
    static constexpr int signals[2] = {SIGINT, SIGTERM};
    struct sigaction previous[2];
};

}  // namespace vantrel
