// The reader of OBJ models, with tinyobjloader compiled in from its header (doubles, as the file's
// numbers are written).
#define TINYOBJLOADER_IMPLEMENTATION
#define TINYOBJLOADER_USE_DOUBLE
#include <tiny_obj_loader.h>

#include <cmath>
#include <string_view>
#include <unordered_map>

#include "quib/error.h"
#include "scene/mesh_building.h"

namespace vantrel {
namespace {

using quib::Error;

/// The line, from 1, of the `index`-th (from 0) statement `keyword` ("v", "vt", "f") of `text`; 0 when
/// there is none.
int LineOf(std::string_view text, std::string_view keyword, std::size_t index) {
    int line = 1;
    for (std::size_t start = 0; start < text.size(); ++line) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view statement = text.substr(start, end - start);
        statement.remove_prefix(std::min(statement.find_first_not_of(" \t"), statement.size()));
        if (statement.substr(0, keyword.size()) == keyword && statement.size() > keyword.size() &&
            (statement[keyword.size()] == ' ' || statement[keyword.size()] == '\t') && index-- == 0)
            return line;
        start = end + 1;
    }
    return 0;
}

class ObjReading {
public:
    ObjReading(const std::string& text, const std::string& name) : text(text), name(name), builder(name) {}

    MeshModel Read() {
        tinyobj::ObjReaderConfig config;
        config.triangulate = false;  // faces keep their place in the file, for messages
        config.vertex_color = false;
        tinyobj::ObjReader reader;
        if (!reader.ParseFromString(text, "", config)) {
            throw Error::Expected(Error::Code::BadValue, {}, "an OBJ model",
                                  "text tinyobjloader cannot read (" + reader.Error() + ")")
                .WithSource(name);
        }
        const tinyobj::attrib_t& attrib = reader.GetAttrib();
        CheckFinite(attrib.vertices, 3, "v", "a position of three finite numbers");
        CheckFinite(attrib.texcoords, 2, "vt", "a texture place of two finite numbers");
        std::size_t face = 0;
        for (const tinyobj::shape_t& shape : reader.GetShapes()) {
            std::size_t corner = 0;
            for (const unsigned char corners : shape.mesh.num_face_vertices) {
                AddFace(attrib, &shape.mesh.indices[corner], corners, face++);
                corner += corners;
            }
        }
        return builder.Finish();
    }

private:
    [[noreturn]] void Refuse(std::string_view keyword, std::size_t index, std::string expected,
                             std::string found) const {
        Error error = Error::Expected(Error::Code::BadValue, {}, std::move(expected), std::move(found));
        if (const int line = LineOf(text, keyword, index)) error.AtText(line, 1);
        throw std::move(error.WithSource(name));
    }

    void CheckFinite(const std::vector<double>& numbers, std::size_t per, std::string_view keyword,
                     const char* expected) const {
        for (std::size_t i = 0; i < numbers.size(); ++i) {
            if (!std::isfinite(numbers[i])) Refuse(keyword, i / per, expected, std::to_string(numbers[i]));
        }
    }

    /// A face's corners `corners[0 .. count)`, as a fan of triangles about its first corner.
    void AddFace(const tinyobj::attrib_t& attrib, const tinyobj::index_t* corners, int count,
                 std::size_t face) {
        const long positions = static_cast<long>(attrib.vertices.size() / 3);
        const long places = static_cast<long>(attrib.texcoords.size() / 2);
        std::uint32_t vertices[256];
        for (int i = 0; i < count; ++i) {
            const tinyobj::index_t corner = corners[i];
            if (corner.vertex_index < 0 || corner.vertex_index >= positions) {
                Refuse("f", face, "position indices from 1 to " + std::to_string(positions),
                       std::to_string(corner.vertex_index + 1));
            }
            if (corner.texcoord_index < 0 || corner.texcoord_index >= places) {
                Refuse("f", face,
                       places == 0
                           ? "texture places (vt) for every corner, of which the file has none"
                           : "a texture place index from 1 to " + std::to_string(places) + " at every corner",
                       corner.texcoord_index < 0 ? "a corner without"
                                                 : std::to_string(corner.texcoord_index + 1));
            }
            vertices[i] = VertexOf(attrib, corner);
        }
        if (count < 3) {
            Refuse("f", face, "a face of at least three corners", std::to_string(count));
        }
        for (int i = 1; i + 1 < count; ++i)
            builder.AddTriangle(vertices[0], vertices[i], vertices[i + 1]);
    }

    /// The model's vertex of this position and texture place: one for each pair the faces use.
    std::uint32_t VertexOf(const tinyobj::attrib_t& attrib, tinyobj::index_t corner) {
        const std::uint64_t key =
            std::uint64_t(std::uint32_t(corner.vertex_index)) << 32 | std::uint32_t(corner.texcoord_index);
        const auto [found, added] = indexOf.try_emplace(key, 0);
        if (!added) return found->second;
        const double* p = &attrib.vertices[3 * std::size_t(corner.vertex_index)];
        const double* t = &attrib.texcoords[2 * std::size_t(corner.texcoord_index)];
        // OBJ's v runs up from the image's bottom edge.
        found->second = builder.AddVertex({p[0], p[1], p[2]}, {t[0], 1.0 - t[1]});
        return found->second;
    }

    const std::string& text;
    const std::string& name;
    MeshBuilder builder;
    std::unordered_map<std::uint64_t, std::uint32_t> indexOf;
};

}  // namespace

MeshModel ReadObjModel(const std::string& text, const std::string& name) {
    return ObjReading(text, name).Read();
}

}  // namespace vantrel
