#pragma once
/// @file
/// How the server and the processes its previews run in speak, over a pipe each way: frames of a tag
/// byte, the length of the bytes as four bytes, most significant first, and the bytes. The server sends
/// a request's body (the page's JSON, as it came); the process answers with the PNG, the value's JSON,
/// the model's binary glTF or the error's JSON reply (serve_request.h ErrorReply). A process says first that
/// it is ready: until then a request waits in the server, where a newer one of its job replaces it without a
/// process being ended.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel::preview {

enum Tag : std::uint8_t {
    renderRequest = 1,  ///< a body as /api/render takes it
    valueRequest = 2,   ///< a body as /api/value takes it
    modelRequest = 3,   ///< a body as /api/model takes it
    failed = 0x80,      ///< the error's JSON reply
    png = 0x81,         ///< the PNG rendered
    value = 0x82,       ///< the value's JSON
    ready = 0x83,       ///< no bytes: the process has started, and takes requests from now on
    glb = 0x84,         ///< the model's binary glTF file
};

/// The most bytes a frame holds: a request is at most 4 MiB, a PNG of 4096 x 2048 RGBA at most about
/// 32 MiB.
inline constexpr std::size_t largestFrame = std::size_t{64} << 20;

inline constexpr std::size_t headerBytes = 5;

inline std::array<std::uint8_t, headerBytes> Header(std::uint8_t tag, std::size_t size) {
    return {tag, static_cast<std::uint8_t>(size >> 24), static_cast<std::uint8_t>(size >> 16),
            static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)};
}

/// The length a header gives.
inline std::size_t SizeOf(const std::array<std::uint8_t, headerBytes>& header) {
    return (std::size_t{header[1]} << 24) | (std::size_t{header[2]} << 16) | (std::size_t{header[3]} << 8) |
           header[4];
}

/// Writes one frame to `descriptor`, waiting as it must; false when the other end has gone.
bool WriteFrame(int descriptor, std::uint8_t tag, std::string_view bytes);
/// Reads one frame from `descriptor`; false at the end of its input, or for a frame past `largestFrame`.
bool ReadFrame(int descriptor, std::uint8_t& tag, std::string& bytes);

}  // namespace vantrel::preview
