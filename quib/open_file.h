#pragma once
/// @file
/// A file descriptor that closes itself.

#include <unistd.h>

namespace quib {

/// An open file, closed when it goes.
struct OpenFile {
    int descriptor;

    explicit OpenFile(int descriptor) : descriptor(descriptor) {}
    ~OpenFile() {
        if (descriptor >= 0) ::close(descriptor);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
};

}  // namespace quib
