// The POSIX calls of windows/posix's headers that need the Windows API, which those headers, included
// everywhere <signal.h> or <pthread.h> is, keep out of sight.

#ifndef NOMINMAX
#define NOMINMAX  // windows.h would otherwise define min and max as macros
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
//
#include <errno.h>
#include <io.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

int sigaction(int signal, const struct sigaction* action, struct sigaction* previous) {
    const bool handler = action != nullptr && action->sa_handler != SIG_DFL && action->sa_handler != SIG_IGN;
    if (handler && action->sa_flags != (SA_RESETHAND | SA_NODEFER)) {
        errno = EINVAL;
        return -1;
    }
    // signal() is the only way to read the handler too: set one, then put back what it returned.
    void (*const before)(int) = ::signal(signal, action != nullptr ? action->sa_handler : SIG_DFL);
    if (before == SIG_ERR) return -1;  // errno is EINVAL
    if (action == nullptr) ::signal(signal, before);
    if (previous != nullptr) *previous = {before, 0, SA_RESETHAND | SA_NODEFER};
    return 0;
}

int kill(pid_t pid, int signal) {
    if (signal != 0) {
        errno = EINVAL;
        return -1;
    }
    const HANDLE process =
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        errno = GetLastError() == ERROR_ACCESS_DENIED ? EPERM : ESRCH;
        return -1;
    }
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    if (running) return 0;
    errno = ESRCH;
    return -1;
}

int fchmod(int descriptor, mode_t mode) {
    const HANDLE file = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    FILE_BASIC_INFO info{};
    if (file == INVALID_HANDLE_VALUE ||
        !GetFileInformationByHandleEx(file, FileBasicInfo, &info, sizeof info)) {
        errno = EBADF;
        return -1;
    }
    if (mode & _S_IWRITE) {
        info.FileAttributes &= ~DWORD{FILE_ATTRIBUTE_READONLY};
    } else {
        info.FileAttributes |= FILE_ATTRIBUTE_READONLY;
    }
    if (info.FileAttributes == 0) info.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    if (!SetFileInformationByHandle(file, FileBasicInfo, &info, sizeof info)) {
        errno = EACCES;
        return -1;
    }
    return 0;
}

int pthread_setattr_default_np(const pthread_attr_t* attributes) {
    std::size_t wanted = 0;
    if (pthread_attr_getstacksize(attributes, &wanted) != 0) return EINVAL;
    // The executable's own header: its stack reserve is what a thread without a size of its own gets.
    const auto* image = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image + dos->e_lfanew);
    return nt->OptionalHeader.SizeOfStackReserve >= wanted ? 0 : EINVAL;
}
