#include "tools/image/part_pieces.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "quib/error.h"

namespace vantrel {
namespace {

/// zlib takes sizes of 32 bits at a time.
constexpr std::size_t zlibStep = std::size_t{1} << 30;

/// The most bytes one byte of a deflate stream can stand for: its densest code is a match of 258 bytes
/// in two bits (a length and a distance code of one bit each).
constexpr std::uint64_t largestInflation = 258 * 8 / 2;

}  // namespace

void PutBigEndian(std::string& out, std::uint64_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(static_cast<char>(value >> (8 * i) & 0xff));
}

std::uint64_t BigEndianAt(const std::uint8_t* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i)
        value = value << 8 | bytes[i];
    return value;
}

std::string Pack(std::span<const std::uint8_t> data) {
    z_stream stream{};
    if (deflateInit(&stream, Z_BEST_SPEED) != Z_OK) throw std::bad_alloc();
    std::string out;
    int status = Z_OK;
    do {
        const std::size_t step = std::min(data.size(), zlibStep);
        stream.next_in = const_cast<Bytef*>(data.data());
        stream.avail_in = static_cast<uInt>(step);
        const int flush = step == data.size() ? Z_FINISH : Z_NO_FLUSH;
        do {
            const std::size_t used = out.size();
            const std::size_t room = deflateBound(&stream, stream.avail_in) + 16;
            out.resize(used + room);
            stream.next_out = reinterpret_cast<Bytef*>(out.data() + used);
            stream.avail_out = static_cast<uInt>(room);
            status = deflate(&stream, flush);
            out.resize(used + room - stream.avail_out);
        } while (status == Z_OK && stream.avail_out == 0);
        data = data.subspan(step);
    } while (status == Z_OK && !data.empty());
    deflateEnd(&stream);
    if (status != Z_STREAM_END) throw quib::Error(quib::Error::Kind::Failure, "zlib could not pack rows");
    return out;
}

bool Unpack(std::span<const std::uint8_t> data, std::uint64_t size, std::vector<std::uint8_t>& out) {
    if (size > data.size() * largestInflation) return false;
    out.resize(size);
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) throw std::bad_alloc();
    std::size_t done = 0;
    int status = Z_OK;
    while (status == Z_OK) {
        const std::size_t in = std::min(data.size(), zlibStep);
        const std::size_t room = std::min(out.size() - done, zlibStep);
        stream.next_in = const_cast<Bytef*>(data.data());
        stream.avail_in = static_cast<uInt>(in);
        stream.next_out = out.data() + done;
        stream.avail_out = static_cast<uInt>(room);
        status = inflate(&stream, Z_NO_FLUSH);
        data = data.subspan(in - stream.avail_in);
        done += room - stream.avail_out;
        if (status == Z_BUF_ERROR) break;  // no room, or no data, left
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END && done == out.size() && data.empty();
}

void AppendPiece(std::string& out, PieceKind kind, const PieceHead& head,
                 std::span<const std::uint8_t> data) {
    out.push_back(static_cast<char>(kind));
    PutBigEndian(out, head.unit, 4);
    PutBigEndian(out, head.firstRow, 4);
    PutBigEndian(out, head.endRow, 4);
    PutBigEndian(out, head.checksum, 4);
    PutBigEndian(out, head.rawBytes, 8);
    PutBigEndian(out, head.aboveBytes, 4);
    PutBigEndian(out, data.size(), 8);
    out.append(reinterpret_cast<const char*>(data.data()), data.size());
}

std::span<const std::uint8_t> Bytes(const std::string& text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

}  // namespace vantrel
