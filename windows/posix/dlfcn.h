#pragma once
// The POSIX dynamic-loading calls of the host runtime's module loader, over the Windows loader, so that
// quib/module_loader.cpp builds for Windows as it stands. Only the Windows build has this folder on its
// include path.

#ifndef NOMINMAX
#define NOMINMAX  // windows.h would otherwise define min and max as macros
#endif
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <string>

inline constexpr int RTLD_NOW = 2;
inline constexpr int RTLD_LOCAL = 0;

/// The library at `path` (its dependencies are looked up beside it first), or null.
inline void* dlopen(const char* path, int /*flags*/) {
    std::string file(path);
    std::replace(file.begin(), file.end(), '/', '\\');  // a path for LoadLibraryEx has backslashes only
    return LoadLibraryExA(file.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

inline int dlclose(void* library) {
    return FreeLibrary(static_cast<HMODULE>(library)) ? 0 : -1;
}

/// The export `name` of `library`, or null.
inline void* dlsym(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

/// The system's message for the last failure of the calls above, or null when there was none since the
/// last call. Like POSIX dlerror, it clears what it reports.
inline const char* dlerror() {
    // Read first: the first use of a thread_local on a thread goes through TlsGetValue, which clears it.
    const DWORD error = GetLastError();
    thread_local std::string message;
    if (error == 0) return nullptr;
    SetLastError(0);
    char text[512];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        error, 0, text, sizeof text, nullptr);
    message = length ? std::string(text, length) : "Windows error " + std::to_string(error);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message.c_str();
}
