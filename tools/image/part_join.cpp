// The joiner of a render's parts: each part file checked, then its pieces written as the image.

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include "quib/error.h"
#include "quib/text.h"
#include "tools/image/exr_encoder.h"
#include "tools/image/part_file.h"
#include "tools/image/part_pieces.h"
#include "tools/image/png_encoder.h"

namespace vantrel {
namespace {

quib::Error Refused(const std::string& name, std::string detail) {
    return std::move(quib::Error(quib::Error::Kind::BadInput, std::move(detail)).WithSource(name));
}

/// A whole number of the header, within `low` .. `high`.
int HeaderInt(const quib::Json& value, long low, long high, bool& fine) {
    if (!value.is_number_integer() || value.get<long long>() < low || value.get<long long>() > high) {
        fine = false;
        return 0;
    }
    return static_cast<int>(value.get<long long>());
}

/// Reads the pieces of a part, one at a time, within its bytes.
class PieceReader {
public:
    PieceReader(std::span<const std::uint8_t> pieces, const std::string& name) : rest(pieces), name(name) {}

    /// The next piece, or false at the end.
    bool Next(PieceHead& head, std::span<const std::uint8_t>& data) {
        if (rest.empty()) throw Damaged();
        if (rest[0] == endOfPieces) {
            if (rest.size() != 1) throw Damaged();
            return false;
        }
        if ((rest[0] != encodedPiece && rest[0] != rowsPiece) || rest.size() < pieceHeadBytes)
            throw Damaged();
        kind = static_cast<PieceKind>(rest[0]);
        const std::uint8_t* at = rest.data() + 1;
        head.unit = static_cast<std::uint32_t>(BigEndianAt(at, 4));
        head.firstRow = static_cast<std::uint32_t>(BigEndianAt(at + 4, 4));
        head.endRow = static_cast<std::uint32_t>(BigEndianAt(at + 8, 4));
        head.checksum = static_cast<std::uint32_t>(BigEndianAt(at + 12, 4));
        head.rawBytes = BigEndianAt(at + 16, 8);
        head.aboveBytes = static_cast<std::uint32_t>(BigEndianAt(at + 24, 4));
        head.dataBytes = BigEndianAt(at + 28, 8);
        rest = rest.subspan(pieceHeadBytes);
        if (head.dataBytes > rest.size()) throw Damaged();
        data = rest.first(head.dataBytes);
        rest = rest.subspan(head.dataBytes);
        return true;
    }
    PieceKind Kind() const { return kind; }

    quib::Error Damaged() const { return Refused(name, "a damaged part file: its pieces do not add up"); }

private:
    std::span<const std::uint8_t> rest;
    const std::string& name;
    PieceKind kind = endOfPieces;
};

/// Where the header ends: the partSignature, its length and its text.
std::size_t HeaderEnd(std::span<const std::uint8_t> bytes) {
    return sizeof partSignature + 4 + BigEndianAt(bytes.data() + sizeof partSignature, 4);
}

/// What differs between two renders' JSON, as a message says it: "its size is [512, 256], not [1024,
/// 512]"; when all that the request spells out is the same, the digest says that the scene differs.
std::string Difference(const quib::Json& render, const quib::Json& first) {
    for (const auto& [key, value] : first.items()) {
        if (key == "digest" || (render.contains(key) && render[key] == value)) continue;
        const std::string said = render.contains(key) ? quib::JsonExcerpt(render[key]) : "none";
        return "its " + quib::Excerpt(key) + " is " + said + ", not " + quib::JsonExcerpt(value);
    }
    if (render.value("digest", quib::Json()) != first["digest"]) return "its scene is another";
    return "it says more than the others";
}

/// The header's "format" when it is another version's ("vantrel-part/1"), else nothing.
std::optional<std::string> OtherVersion(const quib::Json& header) {
    const std::string prefix = "vantrel-part/";
    if (!header.is_object() || !header.contains("format") || !header["format"].is_string()) return {};
    const std::string format = header["format"].get<std::string>();
    if (format.rfind(prefix, 0) != 0 || format == partFormat) return {};
    return format;
}

}  // namespace

void CheckSameRender(const PartHeader& part, const std::string& name, const PartHeader& first,
                     const std::string& firstName) {
    if (part.render != first.render) {
        throw Refused(name, "a part of another render than " + firstName + ": " +
                                Difference(part.render, first.render));
    }
    if (part.parts != first.parts) {
        throw Refused(name, "a part of " + std::to_string(part.parts) + " parts, not " +
                                std::to_string(first.parts) + " as " + firstName);
    }
}

void PartSequence::Take(const PartHeader& header, const std::string& name) {
    if (names.empty()) {
        first = header;
    } else {
        CheckSameRender(header, name, first, names.front());
    }
    const int due = Count() + 1;
    const std::string of = " of " + std::to_string(header.parts);
    if (header.part < due) {
        throw Refused(name, "part " + std::to_string(header.part) + of + " again: " + names[header.part - 1] +
                                " holds it too");
    }
    if (header.part > due) {
        throw Refused(name, "part " + std::to_string(due) + of + " of its render is missing: " +
                                (due == 1 ? "the first part is part "
                                          : "the part after part " + std::to_string(due - 1) + " is part ") +
                                std::to_string(header.part) + " (the parts join in order of K)");
    }
    names.push_back(name);
}

void PartSequence::Finish() const {
    if (names.empty()) throw quib::Error(quib::Error::Kind::BadInput, "no part to join");
    if (Count() < first.parts) {
        throw Refused(names.back(),
                      "part " + std::to_string(Count() + 1) + " of " + std::to_string(first.parts) +
                          " of its render is missing: the last part is part " + std::to_string(Count()));
    }
}

quib::Error ImageOfAnotherFormat(ImageFormat parts, const std::string& output) {
    const bool png = parts == ImageFormat::Png;
    return Refused(output, std::string("the parts are of ") + (png ? "a PNG" : "an OpenEXR image") +
                               ": expected an output file name ending in " + (png ? ".png" : ".exr"));
}

PartHeader ReadPartHeader(std::span<const std::uint8_t> bytes, const std::string& name) {
    if (bytes.size() < sizeof partSignature ||
        !std::equal(partSignature, partSignature + sizeof partSignature, bytes.data()))
        throw Refused(name, "not a part file of vantrel render --part: it does not begin as one");
    if (bytes.size() < sizeof partSignature + 4 + 5 || HeaderEnd(bytes) + 5 > bytes.size() ||
        BigEndianAt(bytes.data() + bytes.size() - 4, 4) !=
            crc32_z(crc32_z(0, nullptr, 0), bytes.data(), bytes.size() - 4)) {
        throw Refused(name, "a part file cut short or damaged: its checksum does not match its bytes");
    }
    const std::size_t start = sizeof partSignature + 4;
    const std::string_view text(reinterpret_cast<const char*>(bytes.data() + start),
                                HeaderEnd(bytes) - start);
    const quib::Json header = quib::Json::parse(text, nullptr, false);
    if (const std::optional<std::string> other = OtherVersion(header)) {
        throw Refused(name, "a part file of format " + quib::Excerpt(*other) + ", not " + partFormat +
                                " as this vantrel writes: render the part again with this vantrel");
    }
    const auto damaged = [&name](const std::string& why) {
        return Refused(name, "a damaged part file: its header is not one of vantrel render --part" + why);
    };
    const auto member = [&header](const char* key) {
        return header.is_object() && header.contains(key) ? header[key] : quib::Json();
    };
    const quib::Json render = member("render");
    if (member("format") != partFormat || !render.is_object() || !render.contains("digest") ||
        !render["digest"].is_string())
        throw damaged("");
    PartHeader read;
    read.render = render;
    quib::Json form = render;  // the plan's canonical form, beside the render's identity
    for (const char* identity : {"digest", "program", "modules"})
        form.erase(identity);
    try {
        read.plan = PlanOfCanonicalForm(form, "/render");
    } catch (const quib::Error& error) {
        throw damaged(std::string(": ") + error.what());
    }
    bool fine = read.plan.format.has_value() && member("rows").is_array() && member("rows").size() == 2;
    read.parts = HeaderInt(member("parts"), 1, read.plan.height, fine);
    read.part = HeaderInt(member("part"), 1, std::max(read.parts, 1), fine);
    read.firstRow = fine ? HeaderInt(member("rows")[0], 0, INT_MAX, fine) : 0;
    read.endRow = fine ? HeaderInt(member("rows")[1], 0, INT_MAX, fine) : 0;
    fine = fine && std::pair(read.firstRow, read.endRow) == PartRows(read.plan.height, read.part, read.parts);
    if (!fine) throw damaged("");
    return read;
}

/// What the joiner keeps between parts: the first part's render, and the unit whose rows come in
/// pieces until it is whole.
struct PartJoiner::State {
    PartSequence sequence;
    int width = 0;
    int height = 0;
    int channels = 0;
    std::size_t rowBytes = 0;        ///< stored bytes a row, as the format stores it
    int nextUnit = 0;                ///< the next band or block to write
    int unitRows = 0;                ///< rows of that unit held so far, from its first
    std::unique_ptr<BandSink> grid;  ///< a PNG's bands (only their rows are used)
    std::optional<PngStream> png;
    PngBand band;  ///< a PNG band being put together
    std::optional<ExrFileWriter> exr;
    std::vector<std::uint8_t> rows;  ///< an OpenEXR block being put together
    std::vector<std::uint8_t> unpacked;

    int Units() const { return grid ? grid->Bands() : ExrBlocks(height); }
    int UnitFirst(int unit) const { return grid ? grid->ImageFirstRow(unit) : unit * exrBlockRows; }
    int UnitEnd(int unit) const {
        return grid ? grid->ImageEndRow(unit) : std::min(height, (unit + 1) * exrBlockRows);
    }

    /// Takes the image's size and format from the first part's header, and starts its encoder on `file`.
    void Start(const PartHeader& header, OutputBytes& file);
    /// Encodes the unit whose rows are all held as the whole image's encoder encodes it.
    void PutWholeUnit(int unit, bool isPng);
};

namespace {

/// A grid of a PNG's bands: the rows of each, nothing stored.
class PngGrid : public BandSink {
public:
    PngGrid(int width, int height, int channels, int depth)
        : BandSink(width, height, channels, PngBands::BandRows(width, channels, depth),
                   PngBands::TailRows(width, channels, depth), 1) {}
    void SetRow(int, const double*) override {}
    void Encode(int) override {}
    void Put(int) override {}
};

}  // namespace

void PartJoiner::State::Start(const PartHeader& header, OutputBytes& file) {
    const ImagePlan& plan = header.plan;
    width = plan.width;
    height = plan.height;
    channels = ChannelsFor(plan.type);
    const bool isPng = plan.format == ImageFormat::Png;
    rowBytes = static_cast<std::size_t>(width) * channels * (isPng ? plan.depth / 8 : sizeof(float));
    if (isPng) {
        grid = std::make_unique<PngGrid>(width, height, channels, plan.depth);
        png.emplace(width, height, channels, plan.depth, plan.levels, grid->Bands(),
                    [&file](std::span<const std::uint8_t> piece) { file.Put(piece); });
    } else {
        exr.emplace(file, width, height, channels);
    }
}

void PartJoiner::State::PutWholeUnit(int unit, bool isPng) {
    if (isPng) {
        band.checksum = adler32_z(adler32_z(0, nullptr, 0), band.filtered.data(), band.filtered.size());
        band.Deflate(unit + 1 == Units());
        if (PngStream::Small(band.deflated.size(), Units())) {
            png->PutSmall(unit, band.filtered, band.above);
        } else {
            png->Put(unit, band.deflated, band.checksum, band.filtered.size());
        }
    } else {
        std::vector<std::uint8_t> block;
        CompressExrBlock(rows.data(), unitRows, width, channels, block);
        exr->Put(unit, block);
    }
}

PartJoiner::PartJoiner(OutputBytes& file) : file(file), state(std::make_unique<State>()) {}

PartJoiner::~PartJoiner() = default;

std::optional<ImageFormat> PartJoiner::Format() const {
    if (state->sequence.Count() == 0) return std::nullopt;
    return state->sequence.First().plan.format;
}

void PartJoiner::Add(std::span<const std::uint8_t> bytes, const std::string& name) {
    State& s = *state;
    const PartHeader header = ReadPartHeader(bytes, name);
    const bool first = s.sequence.Count() == 0;
    s.sequence.Take(header, name);
    if (first) s.Start(header, file);
    PieceReader reader(bytes.subspan(HeaderEnd(bytes), bytes.size() - HeaderEnd(bytes) - 4), name);
    PieceHead head;
    std::span<const std::uint8_t> data;
    int row = header.firstRow;
    const bool isPng = header.plan.format == ImageFormat::Png;
    const std::size_t storedRow = s.rowBytes + (isPng ? 1 : 0);  // a PNG row's filter type byte
    while (reader.Next(head, data)) {
        // Each piece takes up where the one before stopped, within the unit being written.
        const int unit = static_cast<int>(head.unit);
        if (head.firstRow != static_cast<std::uint32_t>(row) || head.endRow <= head.firstRow ||
            head.endRow > static_cast<std::uint32_t>(header.endRow) || unit != s.nextUnit ||
            static_cast<int>(head.firstRow) != s.UnitFirst(unit) + s.unitRows ||
            static_cast<int>(head.endRow) > s.UnitEnd(unit))
            throw reader.Damaged();
        row = static_cast<int>(head.endRow);
        const int count = static_cast<int>(head.endRow - head.firstRow);
        const bool whole = s.unitRows == 0 && static_cast<int>(head.endRow) == s.UnitEnd(unit);
        if (reader.Kind() == encodedPiece) {
            if (!whole) throw reader.Damaged();
            if (isPng) {
                if (head.rawBytes != count * storedRow) throw reader.Damaged();
                s.png->Put(unit, data, head.checksum, head.rawBytes);
            } else {
                // A block that would not shrink is stored as it is: never more than its rows.
                if (data.size() > count * storedRow) throw reader.Damaged();
                s.exr->Put(unit, data);
            }
            ++s.nextUnit;
            continue;
        }
        // Rows: a PNG band that begins here, below the first, comes with the filtered rows above it
        // that deflate's window reaches.
        const bool begins = s.unitRows == 0;
        const std::uint64_t above =
            isPng && begins && unit > 0 ? PngWindowRows(s.rowBytes) * std::uint64_t{storedRow} : 0;
        if (head.aboveBytes != above || head.rawBytes != above + count * storedRow) throw reader.Damaged();
        if (!Unpack(data, head.rawBytes, s.unpacked)) throw reader.Damaged();
        std::vector<std::uint8_t>& into = isPng ? s.band.filtered : s.rows;
        if (begins) {
            into.clear();
            s.band.above.assign(s.unpacked.begin(), s.unpacked.begin() + head.aboveBytes);
        }
        into.insert(into.end(), s.unpacked.begin() + head.aboveBytes, s.unpacked.end());
        s.unitRows += count;
        if (s.UnitFirst(unit) + s.unitRows < s.UnitEnd(unit)) continue;
        s.PutWholeUnit(unit, isPng);
        s.unitRows = 0;
        ++s.nextUnit;
    }
    if (row != header.endRow) throw reader.Damaged();
}

void PartJoiner::Finish() {
    State& s = *state;
    s.sequence.Finish();
    if (s.exr) s.exr->Finish();
}

}  // namespace vantrel
