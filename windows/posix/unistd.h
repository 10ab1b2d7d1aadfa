#pragma once
// The POSIX file calls vantrel uses that the C runtime names otherwise, and unlink for the wide paths
// of std::filesystem::path on Windows.

#include_next <unistd.h>

#include <io.h>

/// Writes the file's buffers to the disk (FlushFileBuffers; the descriptor must be open for writing).
inline int fsync(int descriptor) {
    return _commit(descriptor);
}

inline int unlink(const wchar_t* path) {
    return _wunlink(path);
}
