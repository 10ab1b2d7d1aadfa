// The bytes of a part file, shared by the parts' writer (part_render.cpp) and their joiner
// (part_join.cpp): its signature, its pieces, and the zlib packing of rows cut by a part's edges.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace vantrel {

/// A part file's first bytes: a byte with the high bit set, so that a transfer that drops it is caught,
/// the name, and CR LF, which a transfer that changes line ends would change.
inline constexpr std::uint8_t partSignature[8] = {0x89, 'V', 'P', 'A', 'R', 'T', '\r', '\n'};
/// The value of the header's "format".
inline constexpr const char* partFormat = "vantrel-part/2";

/// A piece of a part: an encoder's unit (a PNG band, an OpenEXR block) as the image holds it, or rows
/// of a unit that the part's edges cut, to be encoded by the joiner once it has them all.
enum PieceKind : std::uint8_t { encodedPiece = 'E', rowsPiece = 'R', endOfPieces = 'Z' };

/// The fixed fields of a piece, after its kind.
struct PieceHead {
    std::uint32_t unit = 0;
    std::uint32_t firstRow = 0;
    std::uint32_t endRow = 0;
    std::uint32_t checksum = 0;    ///< encoded PNG band: the Adler-32 of its filtered rows
    std::uint64_t rawBytes = 0;    ///< encoded PNG band: its filtered bytes; rows: the data inflated
    std::uint32_t aboveBytes = 0;  ///< rows that begin a PNG band: the filtered bytes above, first
    std::uint64_t dataBytes = 0;
};
inline constexpr std::size_t pieceHeadBytes = 1 + 4 * 4 + 8 + 4 + 8;

/// `value`'s low `bytes` bytes appended big-endian.
void PutBigEndian(std::string& out, std::uint64_t value, int bytes);
/// The big-endian number of `count` bytes at `bytes`.
std::uint64_t BigEndianAt(const std::uint8_t* bytes, int count);

/// `data` deflated as a zlib stream, quickly: rows cut by a part's edges travel so.
std::string Pack(std::span<const std::uint8_t> data);
/// Inflates `data` into exactly `size` bytes in `out`; false when it does not hold that many, or more.
/// A size beyond what deflate can make of data of its length is refused before any room is made.
bool Unpack(std::span<const std::uint8_t> data, std::uint64_t size, std::vector<std::uint8_t>& out);

/// A piece, its kind, its head and its data, appended to a part's bytes.
void AppendPiece(std::string& out, PieceKind kind, const PieceHead& head, std::span<const std::uint8_t> data);

std::span<const std::uint8_t> Bytes(const std::string& text);

}  // namespace vantrel
