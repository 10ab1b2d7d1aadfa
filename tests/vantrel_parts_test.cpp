// `vantrel render --part K/N` and `vantrel join`, run as a user runs them: the parts of a render, joined in
// any order and rendered from scene files that differ only in what the editor keeps beside the scene, are
// the whole render's PNG byte for byte and its OpenEXR image float for float; a set of
// parts that is not one whole render is refused, naming the file at fault, and leaves nothing behind;
// so are forged parts, within little memory, and files that are no part files, without waiting.

#include <sys/stat.h>
#include <zlib.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/exr_image.h"
#include "tests/vantrel_run.h"

namespace vantrel::test {
namespace {

std::string Example(const std::string& name) {
    return std::string(VANTREL_EXAMPLES_DIR) + "/" + name + ".json";
}

class Parts : public VantrelTest {
protected:
    /// Renders part `k` of `n` of the scene file `scene` at `size` into `name`; the status.
    int RenderPart(const std::string& scene, const std::string& size, int k, int n, const std::string& name,
                   const std::vector<std::string>& options = {}) {
        std::vector<std::string> arguments = {"render", scene,    "--size",
                                              size,     "--part", std::to_string(k) + "/" + std::to_string(n),
                                              "-o",     name};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const RunResult run = Vantrel(arguments);
        EXPECT_EQ(run.status, 0) << run.err;
        return run.status;
    }
};

struct JoinCase {
    const char* scene;
    const char* size;
    int parts;
    const char* format;  ///< png or exr
    std::vector<std::string> options;
};

// Sphere and plane; one part, one part a row, parts of uneven sizes, parts within one band of the PNG
// and across many; flat images whose small bands the PNG deflates as one stream; 8 and 16 bits; grey,
// RGB, RGBA; sub-samples and a region. The parts are given to join last first, each rendered from a copy
// of the scene with a layout, a description (and samples, where --samples is given) of its own, as the
// editor saves them between parts.
TEST_F(Parts, JoinedPartsAreTheWholeRender) {
    const JoinCase cases[] = {
        {"hex-lattice-sphere", "300x150", 1, "png", {}},
        {"hex-lattice-sphere", "64x40", 40, "png", {}},
        {"curve3", "640x333", 7, "png", {}},
        {"w-distortion", "200x700", 5, "png", {"--type", "colora"}},
        {"leapfrog-fractal", "97x61", 4, "png", {"--type", "double", "--depth", "16"}},
        {"hex-lattice-plane", "1000x999", 13, "png", {"--depth", "16"}},
        {"globe-cells", "200x100", 3, "png", {"--samples", "2", "--region", "-90,0,0,45"}},
        {"hex-lattice-sphere", "300x150", 7, "exr", {}},
        {"globe-cells", "40x45", 45, "exr", {"--type", "double"}},
        {"vector-to-color", "1000x500", 6, "exr", {"--type", "colora"}},
    };
    for (const JoinCase& each : cases) {
        SCOPED_TRACE(std::string(each.scene) + " " + each.size + " in " + std::to_string(each.parts) + " " +
                     each.format);
        const std::string image = std::string("whole.") + each.format;
        std::vector<std::string> whole = {"render", Example(each.scene), "--size", each.size, "-o", image};
        whole.insert(whole.end(), each.options.begin(), each.options.end());
        ASSERT_EQ(Vantrel(whole).status, 0);
        std::vector<std::string> join = {"join"};
        const auto example = nlohmann::ordered_json::parse(ReadFile(Example(each.scene)));
        for (int k = each.parts; k >= 1; --k) {
            const std::string name = "p" + std::to_string(k) + "." + each.format + ".part";
            nlohmann::ordered_json scene = example;
            scene["layout"] = {{"@position", {k, -k}}};
            scene["description"] = "as saved before part " + std::to_string(k);
            // The editor saves its preview's samples too, which --samples overrides.
            if (std::count(each.options.begin(), each.options.end(), "--samples"))
                scene["samples"] = 1 + k % 3;
            if (k % 2 == 1) {  // the nodes last: another order of keys
                const nlohmann::ordered_json nodes = scene["nodes"];
                scene.erase("nodes");
                scene["nodes"] = nodes;
            }
            WriteFile(work / "scene.json", scene.dump(k % 3));
            ASSERT_EQ(
                RenderPart((work / "scene.json").string(), each.size, k, each.parts, name, each.options), 0);
            join.push_back(name);
        }
        const std::string joined = std::string("joined.") + each.format;
        join.insert(join.end(), {"-o", joined});
        const RunResult run = Vantrel(join);
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, joined + ": " + std::string(each.size) + " from " + std::to_string(each.parts) +
                               (each.parts == 1 ? " part in " : " parts in ") +
                               run.out.substr(run.out.find(" in ") + 4));
        if (std::string(each.format) == "png") {
            EXPECT_TRUE(ReadFile(work / joined) == ReadFile(work / image))
                << "the joined PNG has other bytes";
        } else {
            const Decoded a = ReadExr(work / joined);
            const Decoded b = ReadExr(work / image);
            EXPECT_EQ(a.width, b.width);
            EXPECT_EQ(a.height, b.height);
            EXPECT_EQ(a.channels, b.channels);
            EXPECT_TRUE(a.samples == b.samples) << "the joined OpenEXR image has other floats";
        }
        for (int k = 1; k <= each.parts; ++k)
            std::filesystem::remove(work / ("p" + std::to_string(k) + "." + each.format + ".part"));
    }
}

/// `value`'s low `bytes` bytes, big-endian.
std::string BigEndian(std::uint64_t value, int bytes) {
    std::string text;
    for (int i = bytes - 1; i >= 0; --i)
        text.push_back(static_cast<char>(value >> (8 * i) & 0xff));
    return text;
}

/// `raw` as a zlib stream.
std::string Zlib(const std::string& raw) {
    uLongf size = compressBound(raw.size());
    std::string packed(size, '\0');
    compress(reinterpret_cast<Bytef*>(packed.data()), &size, reinterpret_cast<const Bytef*>(raw.data()),
             raw.size());
    return packed.substr(0, size);
}

/// A piece of a part file: its kind (E or R), band or block, rows, inflated and above lengths, data.
std::string Piece(char kind, int unit, int first, int end, std::uint64_t raw, std::uint32_t above,
                  const std::string& data) {
    return std::string(1, kind) + BigEndian(unit, 4) + BigEndian(first, 4) + BigEndian(end, 4) +
           BigEndian(0, 4) + BigEndian(raw, 8) + BigEndian(above, 4) + BigEndian(data.size(), 8) + data;
}

/// `bytes` and their CRC-32, as a part file ends.
std::string Sealed(const std::string& bytes) {
    return bytes + BigEndian(crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()), 4);
}

/// Part 1 of 1 of the render `render` (its JSON), of `height` rows, holding `pieces`, with the checksum
/// that matches its bytes: what anyone can make.
std::string Forged(const std::string& render, int height, const std::string& pieces) {
    const std::string header = R"({"format":"vantrel-part/2","render":)" + render +
                               R"(,"part":1,"parts":1,"rows":[0,)" + std::to_string(height) + "]}";
    return Sealed(std::string("\x89VPART\r\n") + BigEndian(header.size(), 4) + header + pieces + "Z");
}

/// The part file `part` with `from` in its header made `to`, its length and checksum made to match.
std::string Reheaded(const std::string& part, const std::string& from, const std::string& to) {
    std::size_t length = 0;
    for (int i = 8; i < 12; ++i)
        length = length << 8 | static_cast<unsigned char>(part[i]);
    std::string header = part.substr(12, length);
    header.replace(header.find(from), from.size(), to);
    return Sealed(part.substr(0, 8) + BigEndian(header.size(), 4) + header +
                  part.substr(12 + length, part.size() - 16 - length));
}

// Sets of parts that are not one whole render, each refused with the file at fault named, before any
// image is written.
TEST_F(Parts, JoinRefusesPartsThatAreNotOneRender) {
    for (int k = 1; k <= 3; ++k)
        ASSERT_EQ(RenderPart(Example("curve3"), "64x32", k, 3, "c" + std::to_string(k) + ".png.part"), 0);
    ASSERT_EQ(RenderPart(Example("curve3"), "64x33", 2, 3, "size.png.part"), 0);
    ASSERT_EQ(RenderPart(Example("w-distortion"), "64x32", 2, 3, "scene.png.part"), 0);
    ASSERT_EQ(RenderPart(Example("curve3"), "64x32", 2, 3, "type.png.part", {"--type", "vec3"}), 0);
    ASSERT_EQ(RenderPart(Example("curve3"), "64x32", 2, 3, "samples.png.part", {"--samples", "2"}), 0);
    ASSERT_EQ(RenderPart(Example("curve3"), "64x32", 2, 3, "depth.png.part", {"--depth", "16"}), 0);
    ASSERT_EQ(RenderPart(Example("curve3"), "64x32", 2, 3, "region.png.part", {"--region", "0,0,0.5,0.25"}),
              0);
    ASSERT_EQ(
        RenderPart(Example("curve3"), "64x32", 2, 3, "set.png.part", {"--set", "curves.In=[0.5, 0.5, 0]"}),
        0);
    ASSERT_EQ(RenderPart(Example("curve3"), "64x32", 2, 3, "exr.exr.part"), 0);
    ASSERT_EQ(RenderPart(Example("curve3"), "64x32", 2, 4, "four.png.part"), 0);
    // The scene file with one point of a curve moved, and nothing else changed.
    std::string moved = ReadFile(Example("curve3"));
    moved.replace(moved.find("[0.3, 0.08]"), 11, "[0.3, 0.09]");
    WriteFile(work / "moved.json", moved);
    ASSERT_EQ(RenderPart((work / "moved.json").string(), "64x32", 2, 3, "moved.png.part"), 0);
    std::filesystem::remove(work / "moved.json");
    const std::string part = ReadFile(work / "c2.png.part");
    WriteFile(work / "cut.png.part", part.substr(0, part.size() - 7));
    std::string damaged = part;
    damaged[damaged.size() / 2] ^= 1;
    WriteFile(work / "damaged.png.part", damaged);
    // A header may say anything, its checksum remade: what differs is quoted as an excerpt.
    WriteFile(work / "long.png.part",
              Reheaded(part, R"("type":"color")", R"("type":")" + std::string(100000, 'x') + "\""));
    // A header is read by the checks of any render request, and must say what its plan says.
    WriteFile(work / "depth12.png.part", Reheaded(part, R"("depth":8)", R"("depth":12)"));
    WriteFile(work / "channels.png.part", Reheaded(part, R"("channels":3)", R"("channels":4)"));
    WriteFile(work / "wide.png.part", Reheaded(part, R"("size":[64,32])", R"("size":[3000000000,32])"));
    ASSERT_EQ(Vantrel({"render", Example("curve3"), "--size", "64x32", "-o", "image.png"}).status, 0);
    WriteFile(work / "old.png.part", Reheaded(part, "vantrel-part/2", "vantrel-part/1"));
    const std::vector<std::string> files = WorkFiles();

    const std::string other = "a part of another render than c1.png.part: ";
    const std::string header =
        "a damaged part file: its header is not one of vantrel render --part: /render/";
    const struct {
        std::vector<std::string> parts;
        std::string message;
    } cases[] = {
        {{"c1.png.part", "cut.png.part", "c3.png.part"},
         "cut.png.part: a part file cut short or damaged: its checksum does not match its bytes"},
        {{"c1.png.part", "damaged.png.part", "c3.png.part"},
         "damaged.png.part: a part file cut short or damaged: its checksum does not match its bytes"},
        {{"c1.png.part", "image.png", "c3.png.part"},
         "image.png: not a part file of vantrel render --part: it does not begin as one"},
        {{"c1.png.part", "missing.png.part"},
         "missing.png.part: cannot read the file: No such file or directory"},
        {{"c1.png.part", "size.png.part", "c3.png.part"},
         "size.png.part: " + other + "its size is [64,33], not [64,32]"},
        {{"c1.png.part", "scene.png.part", "c3.png.part"},
         "scene.png.part: " + other + "its scene is another"},
        {{"c1.png.part", "set.png.part", "c3.png.part"}, "set.png.part: " + other + "its scene is another"},
        {{"c1.png.part", "moved.png.part", "c3.png.part"},
         "moved.png.part: " + other + "its scene is another"},
        {{"c1.png.part", "old.png.part", "c3.png.part"},
         "old.png.part: a part file of format vantrel-part/1, not vantrel-part/2 as this vantrel writes: "
         "render the part again with this vantrel"},
        {{"c1.png.part", "type.png.part", "c3.png.part"},
         "type.png.part: " + other + "its type is \"vec3\", not \"color\""},
        {{"c1.png.part", "long.png.part", "c3.png.part"},
         "long.png.part: " + header + "type: expected the name of an output type, not \"" +
             std::string(79, 'x') + "... (100002 bytes)"},
        {{"c1.png.part", "depth12.png.part"},
         "depth12.png.part: " + header + "depth: expected 8 or 16, the bits a channel of a PNG, not 12"},
        {{"c1.png.part", "channels.png.part"},
         "channels.png.part: " + header + "channels: expected 3, not 4"},
        {{"c1.png.part", "wide.png.part"},
         "wide.png.part: " + header +
             "size: expected at most 2147483647 pixels wide for a PNG (a PNG's sides are 31-bit numbers), "
             "not 3000000000"},
        {{"c1.png.part", "samples.png.part", "c3.png.part"},
         "samples.png.part: " + other + "its samples is 2, not 1"},
        {{"c1.png.part", "depth.png.part", "c3.png.part"},
         "depth.png.part: " + other + "its depth is 16, not 8"},
        {{"c1.png.part", "region.png.part", "c3.png.part"},
         "region.png.part: " + other +
             "its domain is {\"kind\":\"plane\",\"min\":[0.0,0.0],\"max\":[0.5,0.25]}, not "
             "{\"kind\":\"plane\",\"min\":[-0.5,0.0],\"max\":[1.5,1.0]}"},
        {{"c1.png.part", "exr.exr.part", "c3.png.part"},
         "exr.exr.part: " + other + "its image is \"exr\", not \"png\""},
        {{"c1.png.part", "four.png.part", "c3.png.part"},
         "four.png.part: a part of 4 parts, not 3 as c1.png.part"},
        {{"c1.png.part", "c2.png.part", "c3.png.part", "c2.png.part"},
         "c2.png.part: part 2 of 3 again: c2.png.part holds it too"},
        {{"c3.png.part", "c1.png.part"},
         "c3.png.part: part 2 of 3 of its render is missing: the part after part 1 is part 3 (the parts "
         "join in order of K)"},
        {{"c2.png.part", "c3.png.part"},
         "c2.png.part: part 1 of 3 of its render is missing: the first part is part 2 (the parts join in "
         "order of K)"},
        {{"c1.png.part", "c2.png.part"},
         "c2.png.part: part 3 of 3 of its render is missing: the last part is part 2"},
        {{"c1.png.part", "c2.png.part", "c3.png.part", "-o", "joined.exr"},
         "joined.exr: the parts are of a PNG: expected an output file name ending in .png"},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.message);
        std::vector<std::string> arguments = {"join"};
        arguments.insert(arguments.end(), each.parts.begin(), each.parts.end());
        if (std::find(each.parts.begin(), each.parts.end(), "-o") == each.parts.end())
            arguments.insert(arguments.end(), {"-o", "joined.png"});
        const RunResult run = Vantrel(arguments);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "vantrel: " + each.message + "\n");
        EXPECT_EQ(WorkFiles(), files) << "nothing is written";
    }
}

// Forged parts whose checksums match, each declaring more than its bytes hold: refused as damaged,
// within little memory (beside what the program takes to start, which AddressSanitizer makes about
// 46 MiB) and having written little. Before, the row of 1.5 GB took 1.4 GiB, and the
// OpenEXR image of 2^30 - 1 rows 1 GiB and 512 MiB written, for its table of blocks, before the refusal.
TEST_F(Parts, ForgedPartsAreRefusedWithinLittleMemory) {
    const std::string color = R"("type":"color","samples":1,"domain":{"kind":"sphere"},"channels":3,)";
    const std::string png = color + R"("image":"png","depth":8,"levels":"srgb","digest":""})";
    const std::string exr = color + R"("image":"exr","depth":32,"digest":""})";
    const int bandRows = 88;  // of a PNG 1000 pixels wide, RGB of 8 bits: 256 KiB
    const std::string firstBand = std::string(bandRows * 3001, '\0');
    const std::uint32_t gibibyte = 1u << 30;
    const struct {
        const char* what;
        std::string part;
    } cases[] = {
        {"a PNG row of 1.5 GB inflated from a few bytes",
         Forged(R"({"size":[500000000,1],)" + png, 1, Piece('R', 0, 0, 1, 1500000001, 0, Zlib("row")))},
        {"the rows above a PNG band said to be 1 GiB, in data that could inflate to it",
         Forged(R"({"size":[1000,1000],)" + png, 1000,
                Piece('R', 0, 0, bandRows, firstBand.size(), 0, Zlib(firstBand)) +
                    Piece('R', 1, bandRows, 2 * bandRows, gibibyte + bandRows * 3001, gibibyte,
                          std::string(gibibyte / 1000, 'x')))},
        {"an OpenEXR image of 2^30 - 1 rows, whose table of blocks takes 512 MiB",
         Forged(R"({"size":[16,1073741823],)" + exr, 1073741823,
                Piece('R', 0, 0, 16, 16 * 16 * 12, 0, Zlib("rows")))},
        {"an OpenEXR block larger than its rows",
         Forged(R"({"size":[16,16],)" + exr, 16, Piece('E', 0, 0, 16, 0, 0, std::string(3073, 'x')))},
    };
    const long started = Vantrel({"join", "missing.png.part", "-o", "missing.png"}).peakKiB;
    for (const auto& each : cases) {
        SCOPED_TRACE(each.what);
        const std::string name =
            std::string("forged.") + (each.part.find(R"("exr")") != std::string::npos ? "exr" : "png");
        WriteFile(work / (name + ".part"), each.part);
        const RunResult run = Vantrel({"join", name + ".part", "-o", name});
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "vantrel: " + name + ".part: a damaged part file: its pieces do not add up\n");
        EXPECT_LT(run.peakKiB, started + 48 * 1024);
        EXPECT_LT(run.writtenKiB, 1024);
        EXPECT_EQ(WorkFiles(), std::vector<std::string>{name + ".part"}) << "nothing is left";
        std::filesystem::remove(work / (name + ".part"));
    }
}

// Files that are no part files are refused by name at once: a FIFO no one writes to, which join once
// waited on for ever, a device that never ends, a folder.
TEST_F(Parts, JoinRefusesFilesThatAreNoRegularFilesWithoutWaiting) {
    ASSERT_EQ(RenderPart(Example("curve3"), "64x32", 1, 2, "c1.png.part"), 0);
    ASSERT_EQ(mkfifo((work / "fifo").c_str(), 0600), 0);
    std::filesystem::create_directory(work / "folder");
    const std::pair<const char*, const char*> cases[] = {
        {"fifo", "a FIFO"},
        {"/dev/zero", "a device or another kind of file"},
        {"folder", "a folder"},
    };
    for (const auto& [name, kind] : cases) {
        SCOPED_TRACE(name);
        const std::optional<RunResult> run =
            Start({"join", "c1.png.part", name, "-o", "joined.png"}).WaitAtMost(std::chrono::seconds(60));
        ASSERT_TRUE(run) << "join waited";
        EXPECT_EQ(run->status, 2);
        EXPECT_EQ(run->err, "vantrel: " + std::string(name) + ": expected a part file, not " + kind + "\n");
    }
}

}  // namespace
}  // namespace vantrel::test
