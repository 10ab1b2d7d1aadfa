#pragma once
// The POSIX signal calls vantrel uses, over the C runtime's signal(), which is all Windows has. Windows
// has no signal masks (winpthreads' pthread_sigmask does nothing), and the C runtime resets a handler to
// SIG_DFL before it runs it and never defers a signal: the semantics of SA_RESETHAND | SA_NODEFER, the
// only flags this sigaction accepts for a handler.

#include_next <signal.h>

#include <sys/types.h>

using sigset_t = _sigset_t;  // declared by the C runtime only for its own POSIX mode

inline constexpr int SA_NODEFER = 0x40000000;
inline constexpr int SA_RESETHAND = static_cast<int>(0x80000000u);

struct sigaction {
    void (*sa_handler)(int);
    sigset_t sa_mask;
    int sa_flags;
};

inline int sigemptyset(sigset_t* set) {
    *set = 0;
    return 0;
}

inline int sigaddset(sigset_t* set, int signal) {
    *set |= sigset_t{1} << signal;
    return 0;
}

/// Sets the handler of `signal` to `action`'s (when not null) and gives the previous one in `previous`
/// (when not null). Fails with EINVAL for a handler without SA_RESETHAND | SA_NODEFER.
int sigaction(int signal, const struct sigaction* action, struct sigaction* previous);

/// Only `signal` 0: whether process `pid` runs (0), else -1 with errno ESRCH, or EPERM when it runs
/// but may not be asked. Any other signal fails with EINVAL: Windows cannot send one.
int kill(pid_t pid, int signal);

// winpthreads' pthread_sigmask is a macro that does nothing and leaves the previous set unwritten. As a
// function: nothing is held back, and the previous set is empty. (A handler runs on a thread of its
// own, and a rename it races with either has happened or fails, so the target is whole either way.)
#include <pthread_signal.h>
#undef pthread_sigmask
inline int pthread_sigmask(int /*how*/, const sigset_t* /*set*/, sigset_t* previous) {
    if (previous != nullptr) sigemptyset(previous);
    return 0;
}
