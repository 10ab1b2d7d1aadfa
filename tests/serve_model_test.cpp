// The 3-D view's requests of `vantrel serve`, run as a user runs it: a model as a binary glTF file, a
// texture rendered over a model in place of the scene's domain, and the folder's model files listed,
// each checked against what the files hold and what `vantrel render` makes, and refused where a request
// names a file outside the scene's folder, a link, or no model.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/serve_fixture.h"

namespace vantrel::test {
namespace {

/// A square from (0, 0, 0) to (2, 1, 0) of two triangles, its texture the whole image.
const char* const quadObj =
    "v 0 0 0\nv 2 0 0\nv 2 1 0\nv 0 1 0\n"
    "vt 0 0\nvt 1 0\nvt 1 1\nvt 0 1\n"
    "f 1/1 2/2 3/3\nf 1/1 3/3 4/4\n";

/// The JSON chunk of a binary glTF file: after the 12-byte header, a chunk's length and type, then it.
json GlbJson(const std::string& glb) {
    EXPECT_GE(glb.size(), 20u);
    if (glb.size() < 20) return {};
    EXPECT_EQ(glb.substr(0, 4), "glTF");
    std::uint32_t version = 0;
    std::uint32_t total = 0;
    std::uint32_t length = 0;
    std::memcpy(&version, glb.data() + 4, 4);
    std::memcpy(&total, glb.data() + 8, 4);
    std::memcpy(&length, glb.data() + 12, 4);
    EXPECT_EQ(version, 2u);
    EXPECT_EQ(total, glb.size());
    EXPECT_EQ(glb.substr(16, 4), "JSON");
    return json::parse(glb.substr(20, length));
}

class ServeModels : public Serve {
protected:
    /// The server started on a scene in the folder "models", with a few model files and others beside.
    void StartInFolder() {
        const std::filesystem::path folder = work / "models";
        std::filesystem::create_directory(folder);
        std::filesystem::copy_file(work / "curves.json", folder / "curves.json");
        WriteFile(folder / "quad.obj", quadObj);
        WriteFile(folder / "broken.obj", "v 0 0 0\nf 1 2 3\n");
        WriteFile(folder / ".hidden.obj", quadObj);
        WriteFile(folder / "notes.txt", quadObj);
        WriteFile(work / "outside.obj", quadObj);
        std::filesystem::create_symlink(work / "outside.obj", folder / "link.obj");
        std::filesystem::create_directory(folder / "inner");
        WriteFile(folder / "inner" / "quad.obj", quadObj);
        std::filesystem::create_directory(work / "elsewhere");
        WriteFile(work / "elsewhere" / "quad.obj", quadObj);
        std::filesystem::create_directory_symlink(work / "elsewhere", folder / "linked");
        StartServer({"models/curves.json"});
    }
};

TEST_F(ServeModels, AModelIsItsTrianglesAsBinaryGltf) {
    StartInFolder();
    struct Case {
        json model;
        std::size_t indices;       ///< 3 a triangle; 0: any
        std::vector<double> low;   ///< the positions' least corner; empty: not checked
        std::vector<double> high;  ///< and greatest
    };
    const Case cases[] = {
        {{{"file", "quad.obj"}}, 6, {0, 0, 0}, {2, 1, 0}},
        {{{"file", "inner/quad.obj"}}, 6, {0, 0, 0}, {2, 1, 0}},
        {{{"shape", "cube"}}, 0, {-1, -1, -1}, {1, 1, 1}},
        {{{"shape", "sphere"}}, 0, {}, {}},
        {{{"shape", "plane"}}, 0, {}, {}},
        {{{"shape", "torus"}}, 0, {}, {}},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.model.dump());
        const HttpAnswer answer =
            Call("POST", "/api/model", json{{"model", each.model}, {"client", "t"}, {"job", "model"}}.dump());
        ASSERT_EQ(answer.status, 200) << answer.body;
        EXPECT_EQ(answer.headers.at("content-type"), "model/gltf-binary");
        const json gltf = GlbJson(answer.body);
        const json& primitive = gltf["meshes"][0]["primitives"][0];
        const json& indices = gltf["accessors"][primitive["indices"].get<int>()];
        const json& positions = gltf["accessors"][primitive["attributes"]["POSITION"].get<int>()];
        // The view lights the model from its normals and lays the texture by its places: both there.
        EXPECT_TRUE(primitive["attributes"].contains("NORMAL"));
        EXPECT_TRUE(primitive["attributes"].contains("TEXCOORD_0"));
        // No texture: the view lays its own.
        EXPECT_FALSE(gltf.contains("images"));
        if (each.indices != 0) {
            EXPECT_EQ(indices["count"], each.indices);
        }
        EXPECT_EQ(indices["count"].get<int>() % 3, 0);
        if (!each.low.empty()) {
            EXPECT_EQ(positions["min"], json(each.low));
            EXPECT_EQ(positions["max"], json(each.high));
        }
    }
}

TEST_F(ServeModels, ModelsOutsideTheFolderOrMalformedAreRefused) {
    StartInFolder();
    struct Case {
        const char* name;
        json body;
        int status;
        const char* says;  ///< a part of the message
    };
    const Case cases[] = {
        {"up", {{"model", {{"file", "../outside.obj"}}}}, 403, "plain names"},
        {"absolute", {{"model", {{"file", (work / "outside.obj").string()}}}}, 403, "plain names"},
        {"link", {{"model", {{"file", "link.obj"}}}}, 403, "not a link"},
        {"linked-folder", {{"model", {{"file", "linked/quad.obj"}}}}, 403, "not a link"},
        {"up-inside", {{"model", {{"file", "inner/../../outside.obj"}}}}, 403, "plain names"},
        {"doubled", {{"model", {{"file", "inner//quad.obj"}}}}, 403, "plain names"},
        {"hidden", {{"model", {{"file", ".hidden.obj"}}}}, 403, "plain names"},
        {"scene", {{"model", {{"file", "curves.json"}}}}, 403, ".obj, .gltf or .glb"},
        {"missing", {{"model", {{"file", "gone.obj"}}}}, 404, "no such file"},
        {"broken", {{"model", {{"file", "broken.obj"}}}}, 400, "broken.obj"},
        {"shape", {{"model", {{"shape", "cone"}}}}, 400, "plane, cube, sphere, torus"},
        {"both", {{"model", {{"shape", "cube"}, {"file", "quad.obj"}}}}, 400, "\"model\""},
        {"uv-of-shape", {{"model", {{"shape", "cube"}, {"uv", 1}}}}, 400, "\"model\""},
        {"uv-negative", {{"model", {{"file", "quad.obj"}, {"uv", -1}}}}, 400, "\"model\""},
        {"other-key", {{"model", {{"shape", "cube"}, {"size", 2}}}}, 400, "\"model\""},
        {"none", json::object(), 400, "\"model\""},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.name);
        json body = each.body;
        body["client"] = "t";
        body["job"] = "model";
        const auto [status, answer] = Post("/api/model", body.dump());
        EXPECT_EQ(status, each.status) << answer;
        EXPECT_NE(json::parse(answer).value("error", "").find(each.says), std::string::npos) << answer;
    }
    // Without the secret, nothing.
    const HttpAnswer stranger =
        HttpCall(port, "POST", "/api/model", {},
                 json{{"model", {{"file", "quad.obj"}}}, {"client", "t"}, {"job", "model"}}.dump());
    EXPECT_EQ(stranger.status, 403);
}

TEST_F(ServeModels, TheFolderListsItsModelFiles) {
    StartInFolder();
    const auto [status, body] = Get("/api/files");
    ASSERT_EQ(status, 200) << body;
    const json files = json::parse(body);
    EXPECT_EQ(files["files"], json::array({"curves.json"}));
    // Not the link out of the folder, the hidden file or the text.
    EXPECT_EQ(files["models"], json::array({"broken.obj", "quad.obj"}));
}

TEST_F(ServeModels, ATextureOverAModelIsWhatRenderMakesOfItsMeshDomain) {
    StartInFolder();
    for (const json& model : {json{{"shape", "cube"}}, json{{"file", "quad.obj"}}}) {
        SCOPED_TRACE(model.dump());
        json request = RenderRequest(Scene("curves.json"), 48, 48);
        request["model"] = model;
        const auto [status, png] = Post("/api/render", request.dump());
        ASSERT_EQ(status, 200) << png;
        json scene = Scene("curves.json");
        scene["domain"] = model;
        scene["domain"]["kind"] = "mesh";
        WriteFile(work / "models" / "mesh.json", scene.dump());
        ExpectRenderOf(png, {"render", "models/mesh.json", "--size", "48", "--type", "color"}, 48, 48);
    }
    // A texture has no region of its domain.
    json regional = RenderRequest(Scene("curves.json"), 48, 48);
    regional["model"] = {{"shape", "cube"}};
    regional["region"] = {0, 0, 1, 1};
    const auto [status, answer] = Post("/api/render", regional.dump());
    EXPECT_EQ(status, 400) << answer;
    EXPECT_NE(json::parse(answer).value("error", "").find("\"region\""), std::string::npos) << answer;
}

TEST_F(ServeModels, TheValueUnderThePointerIsAtTheModelsPoint) {
    StartInFolder();
    // The lower left half of the texture, the rest of it past a padding of none.
    WriteFile(work / "models" / "half.obj",
              "v 0 0 0\nv 1 0 0\nv 0 1 0\nvt 0 0\nvt 1 0\nvt 0 1\nf 1/1 2/2 3/3\n");
    struct Case {
        json domain;
        int x, y;
        json position;  ///< null: no point of the model there
    };
    // The quad's texture spans x from 0 to 2 left to right and y from 1 to 0 top to bottom: pixel (3, 1)
    // of 8 x 8 is at u = 3.5 / 8, v = 1.5 / 8.
    const Case cases[] = {
        {{{"kind", "mesh"}, {"file", "quad.obj"}}, 3, 1, {0.875, 0.8125, 0.0}},
        {{{"kind", "mesh"}, {"file", "half.obj"}, {"padding", 0}}, 2, 6, {0.3125, 0.1875, 0.0}},
        {{{"kind", "mesh"}, {"file", "half.obj"}, {"padding", 0}}, 7, 0, nullptr},
    };
    for (const Case& each : cases) {
        SCOPED_TRACE(each.domain.dump());
        json scene = Scene("curves.json");
        scene["domain"] = each.domain;
        WriteFile(work / "models" / "mesh.json", scene.dump());
        const json value = Ask("/api/value", {{"scene", scene},
                                              {"node", nullptr},
                                              {"type", "color"},
                                              {"width", 8},
                                              {"height", 8},
                                              {"x", each.x},
                                              {"y", each.y},
                                              {"client", "t"}});
        EXPECT_EQ(value["position"], each.position);
        if (each.position.is_null()) {
            EXPECT_TRUE(value["text"].is_null()) << value;
        } else {
            const std::string at = each.position[0].dump() + " " + each.position[1].dump() + " 0";
            EXPECT_EQ(value["text"], Eval("models/mesh.json", "color", at));
        }
    }
}

}  // namespace
}  // namespace vantrel::test
