// Files that replace their target only once they are complete and on the disk.

#include "tools/image/output_file.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <string_view>
#include <system_error>

namespace vantrel {
namespace {

std::string ErrnoText() {
    return std::error_code(errno, std::generic_category()).message();
}

/// The image could not be written: `detail` says why ("cannot write the PNG: No space left on device").
quib::Error WriteFailure(std::string detail) {
    return quib::Error(quib::Error::Kind::Failure, std::move(detail));
}

}  // namespace

OutputBytes::OutputBytes(const std::filesystem::path& path, std::string name)
    : file(std::fopen(path.c_str(), "wb")), name(std::move(name)) {
    if (file == nullptr) throw WriteFailure("cannot open the file: " + ErrnoText());
}

OutputBytes::~OutputBytes() {
    if (file != nullptr) std::fclose(file);
}

void OutputBytes::Fail() const {
    throw WriteFailure("cannot write " + name + ": " + ErrnoText());
}

void OutputBytes::Put(std::span<const std::uint8_t> bytes) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) Fail();
}

void OutputBytes::Close() {
    // Make the bytes durable before the file may replace another: a crash after the rename must not
    // leave a target that is empty.
    const bool written = std::fflush(file) == 0 && ::fsync(::fileno(file)) == 0;
    const int error = errno;
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    if (!written) errno = error;
    if (!written || !closed) Fail();
}

void OutputBytes::Seek(std::uint64_t position) {
    if (position > LONG_MAX || std::fseek(file, static_cast<long>(position), SEEK_SET) != 0) Fail();
}

namespace {

/// The start of the name of a pending file of `target`'s: "." + the target's name + ".", the name cut to
/// 200 bytes, so that a target whose name takes the 255 bytes a file system allows has a pending file
/// too. (Targets whose names share their first 200 bytes may clear each other's leftovers, which are
/// leftovers all the same.)
std::string PendingPrefix(const std::filesystem::path& target) {
    constexpr std::size_t kept = 200;
    return "." + target.filename().string().substr(0, kept) + ".";
}

/// The name of a pending file of `target`'s made by process `pid`: "." + the target's name + "." + the
/// process id + "-" + a count + ".tmp", so that runs at the same time never share one.
std::string PendingStem(const std::filesystem::path& target, long pid) {
    return PendingPrefix(target) + std::to_string(pid) + "-";
}

/// The process id in the name of a pending file of `target`'s, or 0 when `name` is not one.
long PendingOwner(const std::string& name, const std::filesystem::path& target) {
    const std::string start = PendingPrefix(target);
    if (name.rfind(start, 0) != 0) return 0;
    long pid = 0;
    long count = 0;
    const char* cursor = name.data() + start.size();
    const char* end = name.data() + name.size();
    auto [afterPid, pidError] = std::from_chars(cursor, end, pid);
    if (pidError != std::errc() || afterPid == end || *afterPid != '-' || pid <= 0) return 0;
    auto [afterCount, countError] = std::from_chars(afterPid + 1, end, count);
    if (countError != std::errc() || std::string_view(afterCount, end - afterCount) != ".tmp") return 0;
    return pid;
}

/// Removes the pending files of `target` that processes no longer running left behind: nothing catches
/// SIGKILL, and a process killed so cannot remove its own. A process that runs, under any user, keeps
/// its file.
void RemoveLeftovers(const std::filesystem::path& target) {
    const std::filesystem::path folder = target.parent_path().empty() ? "." : target.parent_path();
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const long pid = PendingOwner(entry->path().filename().string(), target);
        if (pid != 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH) {
            std::error_code ignored;  // another render may have removed it first
            std::filesystem::remove(entry->path(), ignored);
        }
    }
}

/// Where the chain of symbolic links that starts at `target` leads: the first path that is not a link
/// (which need not exist). A link's relative path is read from the link's folder. Fails with ELOOP after
/// 40 links, where the system gives up too.
std::filesystem::path ThroughLinks(std::filesystem::path target, std::error_code& error) {
    for (int links = 0; links <= 40; ++links) {
        // A path that cannot be looked at is no link: creating the pending file beside it says why.
        std::error_code unseen;
        if (!std::filesystem::is_symlink(std::filesystem::symlink_status(target, unseen))) return target;
        const std::filesystem::path next = std::filesystem::read_symlink(target, error);
        if (error) return target;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    error = std::make_error_code(std::errc::too_many_symbolic_link_levels);
    return target;
}

}  // namespace

PendingFile::PendingFile(std::filesystem::path targetPath, Links links)
    : target(std::move(targetPath)), destination(target) {
    std::error_code error;
    if (links == Links::WriteThrough) destination = ThroughLinks(target, error);
    if (error) throw WriteFailure("cannot follow its links: " + error.message()).WithSource(target.string());
    // The rename would put the new file in place of a regular file or a link, but a folder does not
    // go, and a device or a FIFO is no file to replace: both are refused before any work is done.
    const std::filesystem::file_status kind = std::filesystem::symlink_status(destination, error);
    if (std::filesystem::is_directory(kind))
        throw WriteFailure("cannot replace it with a file: it is a folder").WithSource(target.string());
    if (std::filesystem::exists(kind) && !std::filesystem::is_regular_file(kind) &&
        !std::filesystem::is_symlink(kind)) {
        throw WriteFailure("cannot replace it with a file: it is not a regular file")
            .WithSource(target.string());
    }
    RemoveLeftovers(destination);
    // The target's permissions carry over to its replacement: a private file stays private.
    struct stat old;
    const bool replacing = ::stat(destination.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    const std::string stem = PendingStem(destination, ::getpid());
    for (int attempt = 0;; ++attempt) {
        path = destination.parent_path() / (stem + std::to_string(attempt) + ".tmp");
        const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (descriptor >= 0) {
            const bool moded = !replacing || ::fchmod(descriptor, old.st_mode & 07777) == 0;
            const std::string reason = ErrnoText();
            ::close(descriptor);
            if (moded) return;
            std::error_code ignored;
            std::filesystem::remove(path, ignored);
            throw WriteFailure("cannot give the new file the mode of the old: " + reason)
                .WithSource(target.string());
        }
        if (errno != EEXIST || attempt == 99) {
            throw WriteFailure("cannot create a file in its folder: " + ErrnoText())
                .WithSource(target.string());
        }
    }
}

PendingFile::~PendingFile() {
    std::error_code ignored;
    if (!committed) std::filesystem::remove(path, ignored);
}

void PendingFile::Commit() {
    std::error_code error;
    std::filesystem::rename(path, destination, error);
    if (error)
        throw WriteFailure("cannot put the new file in place: " + error.message())
            .WithSource(target.string());
    committed = true;
#ifndef _WIN32
    // The rename is durable only once the folder that records it is on the disk too: a crash before
    // then could bring back the old file, or none.
    const std::filesystem::path folder = destination.parent_path().empty() ? "." : destination.parent_path();
    // A file system that cannot sync a folder (EINVAL) has nothing to sync; only an I/O error is one.
    const int descriptor = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool failed = descriptor >= 0 && ::fsync(descriptor) != 0 && (errno == EIO || errno == ENOSPC);
    const std::string reason = failed ? ErrnoText() : "";
    if (descriptor >= 0) ::close(descriptor);
    if (failed)
        throw WriteFailure("cannot make the new file durable in its folder: " + reason)
            .WithSource(target.string());
#endif
}

}  // namespace vantrel
