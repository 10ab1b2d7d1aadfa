#pragma once
// fopen for the wide paths of std::filesystem::path on Windows. Declared here, before <cstdio> brings
// ::fopen into std, so that std::fopen has it too.

#include_next <stdio.h>

inline FILE* fopen(const wchar_t* path, const char* mode) {
    wchar_t wideMode[8] = {};  // modes are short and ASCII: "rb", "wb", "r+b"
    for (int i = 0; mode[i] != '\0' && i + 1 < 8; ++i)
        wideMode[i] = static_cast<wchar_t>(mode[i]);
    return _wfopen(path, wideMode);
}
