#pragma once
/// @file
/// The stop signals of the commands that write a file: each removes the pending file and ends the
/// program by that signal, at once.

#include <pthread.h>

#include <csignal>
#include <cstddef>
#include <filesystem>
#include <iterator>
#include <optional>

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

/// The pending file of a command that writes one, written through links (PendingFile::Links), which a
/// stop signal removes before it ends the program by that signal, from the moment the file is made
/// until it is put in place or removed: each of those steps is taken with the signals held back, so
/// that none comes between the file and what the handler knows of it. A signal that is not at its
/// default, ignored as `nohup` ignores SIGHUP or handled by whoever set it, is left as it is. Made,
/// put in place and removed on the thread that is the only one to take the signals then (main blocks
/// them, and no render thread runs).
class GuardedFile {
public:
    /// Makes the pending file of `target`; throws as PendingFile does.
    explicit GuardedFile(const std::filesystem::path& target);
    /// Removes the file unless it is in place.
    ~GuardedFile();
    GuardedFile(const GuardedFile&) = delete;
    GuardedFile& operator=(const GuardedFile&) = delete;

    /// Where to write the content.
    const std::filesystem::path& Path() const { return file->Path(); }
    /// Puts the file in place; a signal that arrives meanwhile ends the program once it is there.
    void Commit();

private:
    void Restore();

    static constexpr std::size_t count = std::size(stopSignals);
    struct sigaction previous[count];
    bool caught[count] = {};
    std::optional<PendingFile> file;
};

}  // namespace vantrel
