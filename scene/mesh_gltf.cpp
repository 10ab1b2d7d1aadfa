// The reader of glTF and GLB models, with tinygltf compiled in from its header. Only geometry is read:
// images are left undecoded.
#include <cmath>
#include <cstring>
#include <filesystem>

// Before tinygltf, which includes nlohmann-json (and the standard headers it needs) with hidden
// visibility when it is the first to: the runtime's error type, exported, holds such types.
#include "quib/error.h"
#include "quib/text.h"
#include "scene/mesh_building.h"
#include "scene/scene.h"

#define TINYGLTF_IMPLEMENTATION
#define TINYGLTF_NO_STB_IMAGE
#define TINYGLTF_NO_STB_IMAGE_WRITE
#define TINYGLTF_NO_EXTERNAL_IMAGE
#include <tiny_gltf.h>

namespace vantrel {
namespace {

using quib::Error;

bool SkipImage(tinygltf::Image*, const int, std::string*, std::string*, int, int, const unsigned char*, int,
               void*) {
    return true;
}

/// The elements of one accessor, read as doubles, once its bytes are known to lie within its buffer.
class AccessorData {
public:
    /// The accessor `index` of `model`, whose elements must be of `components` components of one of
    /// `types` (TINYGLTF_COMPONENT_TYPE_...). Throws quib::Error at the accessor's pointer otherwise.
    AccessorData(const tinygltf::Model& model, int index, int components, std::initializer_list<int> types,
                 const std::string& name, const std::string& usedAt)
        : pointer(quib::ElementPointer("/accessors", static_cast<std::size_t>(std::max(index, 0)))),
          name(name) {
        if (index < 0 || static_cast<std::size_t>(index) >= model.accessors.size())
            Refuse(usedAt,
                   "the index of an accessor, of which there are " + std::to_string(model.accessors.size()),
                   std::to_string(index));
        const tinygltf::Accessor& accessor = model.accessors[static_cast<std::size_t>(index)];
        if (accessor.sparse.isSparse)
            Refuse(pointer + "/sparse", "an accessor without sparse values", "one with");
        if (tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(accessor.type)) != components ||
            std::find(types.begin(), types.end(), accessor.componentType) == types.end())
            Refuse(pointer,
                   "elements of " + std::to_string(components) + " numbers of the type " + usedAt + " takes",
                   "others");
        type = accessor.componentType;
        normalized = accessor.normalized;
        count = accessor.count;
        const std::size_t size = tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(type));
        const auto views = model.bufferViews.size();
        if (accessor.bufferView < 0 || static_cast<std::size_t>(accessor.bufferView) >= views)
            Refuse(pointer + "/bufferView", "the index of a buffer view",
                   std::to_string(accessor.bufferView));
        const tinygltf::BufferView& view = model.bufferViews[static_cast<std::size_t>(accessor.bufferView)];
        if (view.buffer < 0 || static_cast<std::size_t>(view.buffer) >= model.buffers.size())
            Refuse("/bufferViews/" + std::to_string(accessor.bufferView) + "/buffer", "the index of a buffer",
                   std::to_string(view.buffer));
        const std::vector<unsigned char>& buffer = model.buffers[static_cast<std::size_t>(view.buffer)].data;
        stride = view.byteStride != 0 ? view.byteStride : size * static_cast<std::size_t>(components);
        // Bounded one by one, so that no product below overflows: the view lies in the buffer, the
        // accessor's elements (of at most the view's bytes each) in the view.
        const bool fits =
            view.byteOffset <= buffer.size() && view.byteLength <= buffer.size() - view.byteOffset &&
            accessor.byteOffset <= view.byteLength && count <= view.byteLength && stride <= view.byteLength &&
            (count == 0 || stride * (count - 1) + size * static_cast<std::size_t>(components) <=
                               view.byteLength - accessor.byteOffset);
        if (!fits)
            Refuse(pointer, "elements that lie within their buffer view and buffer", "some past their end");
        bytes = buffer.data() + view.byteOffset + accessor.byteOffset;
    }

    std::size_t Count() const { return count; }

    /// Component `c` of element `i`: a float as it is, a normalised integer as a fraction of its
    /// largest value, an index as it is.
    double At(std::size_t i, int c) const {
        const unsigned char* at = bytes + i * stride;
        switch (type) {
            case TINYGLTF_COMPONENT_TYPE_FLOAT:
                return Read<float>(at, c);
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE:
                return Scaled(Read<std::uint8_t>(at, c), 255.0);
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT:
                return Scaled(Read<std::uint16_t>(at, c), 65535.0);
            default:
                return Read<std::uint32_t>(at, c);
        }
    }

    [[noreturn]] void Refuse(const std::string& at, std::string expected, std::string found) const {
        throw Error::Expected(Error::Code::BadValue, at, std::move(expected), std::move(found))
            .WithSource(name);
    }

    std::string pointer;

private:
    template <class T>
    static double Read(const unsigned char* at, int c) {
        T value;
        std::memcpy(&value, at + sizeof(T) * static_cast<std::size_t>(c), sizeof value);
        return static_cast<double>(value);
    }
    double Scaled(double value, double largest) const { return normalized ? value / largest : value; }

    const std::string& name;
    const unsigned char* bytes = nullptr;
    int type = 0;
    bool normalized = false;
    std::size_t count = 0;
    std::size_t stride = 0;
};

void AddPrimitive(const tinygltf::Model& model, const tinygltf::Primitive& primitive, const std::string& at,
                  const std::string& name, int uvSet, MeshBuilder& builder) {
    if (primitive.mode != -1 && primitive.mode != TINYGLTF_MODE_TRIANGLES) {
        throw Error::Expected(Error::Code::BadValue, at + "/mode", "4, triangles",
                              std::to_string(primitive.mode))
            .WithSource(name);
    }
    const std::string uvName = "TEXCOORD_" + std::to_string(uvSet);
    const auto attribute = [&](const std::string& key) {
        const auto found = primitive.attributes.find(key);
        if (found == primitive.attributes.end()) {
            throw Error::Expected(
                Error::Code::Missing, at + "/attributes",
                "the attribute " + quib::Quote(key) +
                    (key == uvName ? " (the texture places of UV set " + std::to_string(uvSet) + ")" : ""))
                .WithSource(name);
        }
        return found->second;
    };
    const AccessorData positions(model, attribute("POSITION"), 3, {TINYGLTF_COMPONENT_TYPE_FLOAT}, name,
                                 at + "/attributes/POSITION");
    const AccessorData places(model, attribute(uvName), 2,
                              {TINYGLTF_COMPONENT_TYPE_FLOAT, TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE,
                               TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT},
                              name, at + "/attributes/" + uvName);
    if (places.Count() != positions.Count())
        places.Refuse(places.pointer + "/count",
                      "as many texture places as positions, " + std::to_string(positions.Count()),
                      std::to_string(places.Count()));
    const std::size_t first = builder.Vertices();
    for (std::size_t i = 0; i < positions.Count(); ++i) {
        const Vec3d p{positions.At(i, 0), positions.At(i, 1), positions.At(i, 2)};
        const Vec2d uv{places.At(i, 0), places.At(i, 1)};
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
            positions.Refuse(positions.pointer, "finite positions",
                             "a position of element " + std::to_string(i));
        if (!std::isfinite(uv.x) || !std::isfinite(uv.y))
            places.Refuse(places.pointer, "finite texture places",
                          "a texture place of element " + std::to_string(i));
        builder.AddVertex(p, uv);
    }
    const auto corner = [&](std::size_t i) { return static_cast<std::uint32_t>(first + i); };
    if (primitive.indices < 0) {
        for (std::size_t i = 0; i + 2 < positions.Count(); i += 3)
            builder.AddTriangle(corner(i), corner(i + 1), corner(i + 2));
        return;
    }
    const AccessorData indices(model, primitive.indices, 1,
                               {TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE, TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT,
                                TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT},
                               name, at + "/indices");
    std::uint32_t triangle[3];
    for (std::size_t i = 0; i < indices.Count(); ++i) {
        const double index = indices.At(i, 0);
        if (index >= static_cast<double>(positions.Count()))
            indices.Refuse(
                indices.pointer,
                "indices below " + std::to_string(positions.Count()) + ", the primitive's vertices",
                std::to_string(static_cast<std::uint64_t>(index)) + " at element " + std::to_string(i));
        triangle[i % 3] = corner(static_cast<std::size_t>(index));
        if (i % 3 == 2) builder.AddTriangle(triangle[0], triangle[1], triangle[2]);
    }
}

/// A glTF file's external buffers, read only from its own folder (`folder`, the callbacks' user data) and
/// below: a model names its geometry, not any file of the machine; and a path is taken as written,
/// never expanded.
std::string AsWritten(const std::string& path, void*) {
    return path;
}

bool ReadBelowFolder(std::vector<unsigned char>* out, std::string* error, const std::string& path,
                     void* folder) {
    const std::filesystem::path base =
        std::filesystem::path(*static_cast<const std::string*>(folder)).lexically_normal();
    const std::filesystem::path wanted = std::filesystem::path(path).lexically_normal();
    const auto [end, inside] = std::mismatch(base.begin(), base.end(), wanted.begin(), wanted.end());
    if (end != base.end() && !end->empty()) {
        *error += "the buffer " + quib::Quote(path) + " lies outside the model's folder\n";
        return false;
    }
    if (std::any_of(inside, wanted.end(), [](const std::filesystem::path& step) { return step == ".."; })) {
        *error += "the buffer " + quib::Quote(path) + " climbs out of the model's folder\n";
        return false;
    }
    try {
        const std::string bytes = ReadWholeFile(path, maxMeshFileBytes, "a buffer of a model");
        out->assign(bytes.begin(), bytes.end());
        return true;
    } catch (const Error& refusal) {
        *error += std::string(refusal.what()) + "\n";
        return false;
    }
}

}  // namespace

MeshModel ReadGltfModel(const std::string& bytes, const std::string& name, const std::string& folder,
                        int uvSet) {
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(SkipImage, nullptr);
    std::error_code unknown;  // no working folder: the folder as given, which then holds nothing
    const std::string base =
        std::filesystem::absolute(folder.empty() ? "." : folder, unknown).lexically_normal().string();
    loader.SetFsCallbacks(
        {tinygltf::FileExists, AsWritten, ReadBelowFolder, nullptr, const_cast<std::string*>(&base)});
    tinygltf::Model model;
    std::string error, warning;
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    const bool binary = bytes.size() >= 4 && bytes.compare(0, 4, "glTF") == 0;
    const bool read = binary ? loader.LoadBinaryFromMemory(&model, &error, &warning, data,
                                                           static_cast<unsigned>(bytes.size()), base)
                             : loader.LoadASCIIFromString(&model, &error, &warning, bytes.data(),
                                                          static_cast<unsigned>(bytes.size()), base);
    if (!read) {
        while (!error.empty() && error.back() == '\n')
            error.pop_back();
        throw Error::Expected(Error::Code::BadValue, {}, binary ? "a GLB model" : "a glTF model",
                              "a file tinygltf cannot read (" + error + ")")
            .WithSource(name);
    }
    MeshBuilder builder(name);
    for (std::size_t m = 0; m < model.meshes.size(); ++m) {
        const std::string mesh = quib::ElementPointer("/meshes", m);
        for (std::size_t p = 0; p < model.meshes[m].primitives.size(); ++p) {
            AddPrimitive(model, model.meshes[m].primitives[p], quib::ElementPointer(mesh + "/primitives", p),
                         name, uvSet, builder);
        }
    }
    return builder.Finish();
}

}  // namespace vantrel
