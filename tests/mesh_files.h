#pragma once
// Model files for the tests of mesh domains, written into a folder of their own: a quad of the texture
// laid on the model by an affine map (OBJ split either way, and glTF), and hostile models, each at
// fault in one place.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/values.h"
#include "quib/stored_form.h"

namespace vantrel::test {

/// The point the quad's affine map puts at the texture's place (u, v).
inline Vec3d QuadPoint(double u, double v) {
    return {4 * u - 1, 2 - 3 * v, u + v};
}

inline std::string Base64(const std::string& bytes) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 3; ++k)
            word = word << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
        for (std::size_t k = 0; k < 4; ++k)
            text += k <= n ? digits[(word >> (18 - 6 * k)) & 63] : '=';
    }
    return text;
}

/// A glTF file of one primitive: float positions, float texture places and 16-bit indices in one
/// buffer, their accessors 0, 1 and 2; `uvCount` may claim more places than the buffer holds.
inline std::string Gltf(const std::vector<float>& positions, const std::vector<float>& uvs,
                        const std::vector<std::uint16_t>& indices, std::size_t uvCount) {
    std::string buffer;
    const auto append = [&](const void* data, std::size_t size) {
        buffer.append(static_cast<const char*>(data), size);
        while (buffer.size() % 4 != 0)
            buffer += '\0';
    };
    append(positions.data(), positions.size() * 4);
    append(uvs.data(), uvs.size() * 4);
    append(indices.data(), indices.size() * 2);
    const std::size_t p = positions.size() * 4, t = uvs.size() * 4;
    quib::Json gltf = {
        {"asset", {{"version", "2.0"}}},
        {"buffers",
         {{{"byteLength", buffer.size()},
           {"uri", "data:application/octet-stream;base64," + Base64(buffer)}}}},
        {"bufferViews",
         {{{"buffer", 0}, {"byteOffset", 0}, {"byteLength", p}},
          {{"buffer", 0}, {"byteOffset", p}, {"byteLength", t}},
          {{"buffer", 0}, {"byteOffset", p + t}, {"byteLength", indices.size() * 2}}}},
        {"accessors",
         {{{"bufferView", 0}, {"componentType", 5126}, {"count", positions.size() / 3}, {"type", "VEC3"}},
          {{"bufferView", 1}, {"componentType", 5126}, {"count", uvCount}, {"type", "VEC2"}},
          {{"bufferView", 2}, {"componentType", 5123}, {"count", indices.size()}, {"type", "SCALAR"}}}},
        {"meshes",
         {{{"primitives", {{{"attributes", {{"POSITION", 0}, {"TEXCOORD_0", 1}}}, {"indices", 2}}}}}}}};
    return gltf.dump();
}

/// A new folder holding the models the tests read.
inline std::filesystem::path WriteMeshFiles(const std::string& name) {
    const std::filesystem::path folder =
        std::filesystem::path(::testing::TempDir()) / (name + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const auto write = [&](const char* file, const std::string& text) {
        std::ofstream(folder / file, std::ios::binary) << text;
    };
    // The quad's corners, counter-clockwise from the texture's bottom left (OBJ's v runs up).
    const std::string quad =
        "v -0.5 1.25 0.375\nv 2.5 1.25 1.125\nv 2.5 -0.25 1.625\nv -0.5 -0.25 0.875\n"
        "vt 0.125 0.75\nvt 0.875 0.75\nvt 0.875 0.25\nvt 0.125 0.25\n";
    write("quad-one-way.obj", quad + "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n");
    write("quad-other-way.obj", quad + "f 1/1 2/2 4/4\nf 2/2 3/3 4/4\n");
    const std::vector<float> positions = {-0.5f, 1.25f,  0.375f, 2.5f,  1.25f,  1.125f,
                                          2.5f,  -0.25f, 1.625f, -0.5f, -0.25f, 0.875f};
    const std::vector<float> uvs = {0.125f, 0.25f, 0.875f, 0.25f, 0.875f, 0.75f, 0.125f, 0.75f};
    write("quad.gltf", Gltf(positions, uvs, {0, 1, 2, 0, 2, 3}, 4));
    std::vector<float> nan = positions;
    nan[7] = std::nanf("");
    write("nan.gltf", Gltf(nan, uvs, {0, 1, 2, 0, 2, 3}, 4));
    write("index-out.gltf", Gltf(positions, uvs, {0, 1, 2, 0, 2, 7}, 4));
    write("short.gltf", Gltf(positions, uvs, {0, 1, 2, 0, 2, 3}, 10));
    // A buffer outside the model's folder, which a model may not read.
    std::filesystem::create_directories(folder / "inner");
    std::string climbing = Gltf(positions, uvs, {0, 1, 2}, 4);
    climbing.replace(climbing.find("data:application"),
                     climbing.find('"', climbing.find("data:")) - climbing.find("data:"), "../quad.gltf");
    write("inner/climb.gltf", climbing);
    write("malformed.gltf", "{ \"asset\": { \"version\": \"2.0\" ");
    const std::string square = "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n";
    write("index-out.obj", square + "vt 0 0\nf 1/1 2/1 5/1\n");
    write("no-uv.obj", square + "f 1 2 3\n");
    write("infinite.obj", "v 0 0 0\nv 1e999 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n");
    write("one-flat.obj", quad + "v 0 0 0\nf 1/1 2/2 3/3\nf 1/1 3/3 4/4\nf 5/1 5/2 5/3\n");
    write("flat.obj", "v 0 0 0\nv 1 0 0\nv 2 0 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\nf 3/1 2/2 1/3\n");
    // Strips one 65536th of the texture wide, from its top to its bottom.
    std::string tall;
    for (int i = 0; i <= 65536; ++i)
        tall += "v " + std::to_string(i / 65536.0) + " 0 0\nvt " + std::to_string(i / 65536.0) + " 1\n" +
                "v " + std::to_string(i / 65536.0) + " 1 0\nvt " + std::to_string(i / 65536.0) + " 0\n";
    for (int i = 0; i < 65536; ++i) {
        const std::string a = std::to_string(2 * i + 1), b = std::to_string(2 * i + 3),
                          c = std::to_string(2 * i + 2);
        tall += "f " + a + "/" + a + " " + b + "/" + b + " " + c + "/" + c + "\n";
    }
    write("tall.obj", tall);
    return folder;
}

}  // namespace vantrel::test
