#pragma once
/// @file
/// The file an image goes to: written from the start, made durable when closed, and put in its
/// target's place only when complete.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>

#include "quib/error.h"

namespace vantrel {

/// A file written from the start, made durable when closed. Each failure throws quib::Error (Failure) saying
/// why, with the name of what it holds ("the PNG").
class OutputBytes {
public:
    /// Opens `path` for writing, replacing what is there.
    OutputBytes(const std::filesystem::path& path, std::string name);
    ~OutputBytes();
    OutputBytes(const OutputBytes&) = delete;
    OutputBytes& operator=(const OutputBytes&) = delete;

    void Put(std::span<const std::uint8_t> bytes);
    /// Goes to `position`, within the first 2 GiB: back, to write over what is there, or past the end,
    /// leaving bytes that read as zeros until written (an OpenEXR file's table of blocks, after its
    /// header).
    void Seek(std::uint64_t position);
    /// Writes what is buffered and waits for the bytes to reach the disk.
    void Close();

private:
    [[noreturn]] void Fail() const;

    std::FILE* file;
    std::string name;
};

/// A file that replaces its target only when it is complete: created empty, with a name of its own, in
/// the target's folder, and renamed onto the target by `Commit`. Until then the target stays as it was;
/// a pending file that is never committed is removed when it is destroyed.
class PendingFile {
public:
    /// What becomes of a target that is a symbolic link: the link itself is replaced by the new file, or
    /// the file it leads to (through any chain of links; it may not exist yet) is, and the link stays,
    /// as an editor writes through a link. Every image a user names is written through (`vantrel render`
    /// and `join`, the Python package); a writer that must not follow a link says so.
    enum class Links { Replace, WriteThrough };

    /// Creates the file. Throws quib::Error (Failure) naming the target when the folder does not take
    /// it, or when the target is there but is not a regular file (a folder), which the new file could
    /// not replace, or is a chain of links that never ends.
    PendingFile(std::filesystem::path target, Links links);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    /// Where to write the content.
    const std::filesystem::path& Path() const { return path; }
    /// Puts the file in the target's place. Throws quib::Error (Failure) when it cannot.
    void Commit();

private:
    std::filesystem::path target;       ///< as named, for messages
    std::filesystem::path destination;  ///< the file the new one replaces: the target, or where it leads
    std::filesystem::path path;
    bool committed = false;
};

}  // namespace vantrel
