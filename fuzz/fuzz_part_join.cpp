// libFuzzer target: the part files that `vantrel join` takes from other machines, through the checks of
// each part and the joiner that writes the image of them (tools/image/part_file.h).
//
// The input is one or more parts, apart by the part files' signature, each its header's JSON, a line
// end, and its pieces to their end (the byte Z). Like anyone who forges a part, the target gives each
// the signature, the length of its header and the CRC-32 that match, so that the fuzzer works on what
// lies beyond them. The parts go to one joiner in turn, the image to /dev/null.
//
// Promises checked beside the sanitizers':
// - each part is joined, or refused with quib::Error (BadInput), nothing else;
// - nothing a part says takes memory beyond what its bytes can hold: scripts/fuzz.sh runs this target on
//   inputs of at most 64 KiB with -malloc_limit_mb=256, where deflate data could inflate to 66 MB at
//   most, and libFuzzer reports any larger allocation.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_common.h"
#include "quib/error.h"
#include "tools/image/output_file.h"
#include "tools/image/part_file.h"
#include "tools/image/part_pieces.h"

namespace {

/// The part file of the header and pieces `part` gives ("JSON\npieces").
std::string PartFile(std::string_view part) {
    const std::size_t end = part.find('\n');
    const std::string_view header = part.substr(0, end);
    const std::string_view pieces = end == std::string_view::npos ? std::string_view() : part.substr(end + 1);
    std::string bytes(reinterpret_cast<const char*>(vantrel::partSignature), sizeof vantrel::partSignature);
    vantrel::PutBigEndian(bytes, header.size(), 4);
    bytes.append(header);
    bytes.append(pieces);
    vantrel::PutBigEndian(bytes, crc32_z(0, reinterpret_cast<const Bytef*>(bytes.data()), bytes.size()), 4);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string_view signature(reinterpret_cast<const char*>(vantrel::partSignature),
                                     sizeof vantrel::partSignature);
    std::vector<std::string> parts;
    for (std::size_t start = 0; start <= input.size();) {
        const std::size_t next = input.find(signature, start);
        parts.push_back(PartFile(input.substr(start, next - start)));
        start = next == std::string_view::npos ? input.size() + 1 : next + signature.size();
    }
    try {
        vantrel::OutputBytes image("/dev/null", "the image");
        vantrel::PartJoiner joiner(image);
        for (const std::string& part : parts)
            joiner.Add(vantrel::Bytes(part), "part");
        joiner.Finish();
    } catch (const quib::Error& error) {
        if (error.GetKind() != quib::Error::Kind::BadInput) vantrel::fuzz::Broken(error.what());
    }
    return 0;
}
