// `vantrel join`: the part files of one render, rendered apart with `render --part K/N`, into its image.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "quib/text.h"
#include "tools/cli/commands.h"
#include "tools/cli/stop_signals.h"
#include "tools/image/image_file.h"
#include "tools/image/output_file.h"
#include "tools/image/part_file.h"

namespace vantrel {
namespace {

quib::Error BadInput(const std::string& source, std::string detail) {
    return std::move(quib::Error(quib::Error::Kind::BadInput, std::move(detail)).WithSource(source));
}

/// The bytes of the part file `path`; throws quib::Error (BadInput) naming it when it cannot be read or
/// is no regular file. A folder, a FIFO or a device is refused unread: a FIFO no one writes to would
/// keep the open waiting for ever, and a device may never end. The open does not wait, and the kind
/// of what was opened decides, whatever the name leads to by then.
std::vector<std::uint8_t> ReadPart(const std::string& path) {
    const auto unreadable = [&] {
        return BadInput(path, std::string("cannot read the file: ") + std::strerror(errno));
    };
    const int descriptor = ::open(std::filesystem::path(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) throw unreadable();
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(::fdopen(descriptor, "rb"), std::fclose);
    struct stat kind {};
    if (!file) {
        ::close(descriptor);
        throw unreadable();
    }
    if (::fstat(descriptor, &kind) != 0) throw unreadable();
    if (!S_ISREG(kind.st_mode)) {
        throw BadInput(path, std::string("expected a part file, not ") +
                                 (S_ISDIR(kind.st_mode)    ? "a folder"
                                  : S_ISFIFO(kind.st_mode) ? "a FIFO"
                                                           : "a device or another kind of file"));
    }
    // Read to its end: its size is a hint (a file may change, and Windows gives 32 bits of it).
    std::vector<std::uint8_t> bytes;
    if (kind.st_size > 0) bytes.reserve(static_cast<std::size_t>(kind.st_size));
    std::uint8_t buffer[1 << 16];
    while (const std::size_t count = std::fread(buffer, 1, sizeof buffer, file.get()))
        bytes.insert(bytes.end(), buffer, buffer + count);
    if (std::ferror(file.get())) throw unreadable();
    return bytes;
}

struct Given {
    PartHeader header;
    std::string path;
};

}  // namespace

void RunJoin(const JoinOptions& options, std::ostream& out) {
    const std::filesystem::path output = options.output;
    const std::optional<ImageFormat> format = FormatFor(output);
    if (!format) throw BadInput(output.string(), "expected an output file name ending in .png or .exr");
    if (*format == ImageFormat::Exr && !VANTREL_OPENEXR)
        throw BadInput(output.string(), "this build of vantrel writes PNG only, not OpenEXR");
    // Every part is read and checked before anything is written, one at a time: its checksum, its
    // header, and that it is of the render of the first. They then go in order of K.
    std::vector<Given> given;
    for (const std::string& path : options.parts) {
        std::error_code error;
        if (std::filesystem::equivalent(path, output, error))
            throw BadInput(output.string(), "expected an output file other than the part " + path);
        given.push_back({ReadPartHeader(ReadPart(path), path), path});
        if (given.size() > 1)
            CheckSameRender(given.back().header, path, given.front().header, given.front().path);
    }
    const PartHeader& first = given.front().header;
    if (first.plan.format != format) throw ImageOfAnotherFormat(*first.plan.format, output.string());
    std::stable_sort(given.begin(), given.end(),
                     [](const Given& a, const Given& b) { return a.header.part < b.header.part; });
    PartSequence sequence;
    for (const Given& each : given)
        sequence.Take(each.header, each.path);
    sequence.Finish();

    GuardedFile file(output);
    const auto start = std::chrono::steady_clock::now();
    try {
        OutputBytes bytes(file.Path(), format == ImageFormat::Png ? "the PNG" : "the OpenEXR image");
        PartJoiner joiner(bytes);
        for (const Given& each : given)
            joiner.Add(ReadPart(each.path), each.path);
        joiner.Finish();
        bytes.Close();
    } catch (const quib::Error& error) {
        if (!error.Source().empty()) throw;
        throw quib::Error(error.GetKind(), error.Detail()).WithSource(output.string());
    }
    file.Commit();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char report[160];
    std::snprintf(report, sizeof report, "%dx%d from %d part%s in %.3f s\n", first.plan.width,
                  first.plan.height, first.parts, first.parts == 1 ? "" : "s", seconds);
    out << quib::Printable(output.string()) << ": " << report;  // the name as messages show it
}

}  // namespace vantrel
