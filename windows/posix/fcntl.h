#pragma once
// open for the wide paths of std::filesystem::path on Windows, always in binary mode (the C runtime's
// default text mode would rewrite line ends), and O_CLOEXEC as the C runtime calls it.

#include_next <fcntl.h>

#include <io.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC _O_NOINHERIT  // not inherited by the processes this one starts
#endif

inline int open(const wchar_t* path, int flags, int mode = 0) {
    return _wopen(path, flags | _O_BINARY, mode);
}

#ifndef O_NONBLOCK
#define O_NONBLOCK 0  // no open waits here: Windows has no FIFOs among files
#endif
