#pragma once
/// @file
/// Changes to a scene for one run (`--node`, `--set`), made to its JSON before the scene is checked, so
/// that they are checked as the file is and fail with the same messages.

#include <string>
#include <vector>

#include "quib/stored_form.h"

namespace vantrel {

class ModuleSet;

struct SceneEdits {
    /// A parameter's value in place of the file's: `ID.PARAM=VALUE`, the value JSON text written as in
    /// a scene file (`3`, `[1, 0, 0]`, `{"link": "a"}`). Ids and names may hold dots and equals signs,
    /// so the text is split where the file's ids and the node type's own parameter names say.
    struct Setting {
        std::string assignment;
        std::string said;  ///< how the user asked for it, for messages: `--set a.In=3`
    };
    std::string output;  ///< the id of the node to evaluate in place of the file's "output"; empty: that
    std::vector<Setting> settings;
    /// How the user asked for the changes (`--node a --set a.In=3`): messages about the scene name the
    /// file "with" them, as any of them may be the cause.
    std::string said;

    bool Empty() const { return output.empty() && settings.empty(); }

    /// Makes the changes to `root`, the JSON of the scene file `fileName`, whose node types `modules`
    /// offer. Throws quib::Error (BadInput) naming the option when a value is not JSON or names no node
    /// of the file.
    void ApplyTo(quib::Json& root, const std::string& fileName, const ModuleSet& modules) const;
};

}  // namespace vantrel
