#pragma once
// stat for the wide paths of std::filesystem::path on Windows, and fchmod, which the C runtime lacks.

#include_next <sys/stat.h>

inline int stat(const wchar_t* path, struct stat* status) {
    return wstat(path, status);
}

/// Of `mode`, Windows keeps only the owner's write permission, as the read-only attribute (as the C
/// runtime's _chmod does). The descriptor must be open for writing.
int fchmod(int descriptor, mode_t mode);
