#pragma once
/// @file
/// The models of the page's 3-D view, in the preview's process, whose working folder is the scene's:
/// the model a request names, as a binary glTF file to draw, and as the domain a texture is rendered in.

#include <string>

#include "quib/stored_form.h"
#include "scene/mesh_model.h"
#include "scene/sample_domain.h"
#include "tools/serve/serve_request.h"

namespace vantrel {

/// Refuses (quib::Error) a model file `reference` names that is not a regular file of the working
/// folder: a link could name a file outside it.
void CheckModelFile(const MeshReference& reference);

/// The scene `scene` with its domain the model `reference` names: a mesh domain with the padding of
/// `domain` (the scene's) when that is a mesh domain too, else the usual.
quib::Json SceneOverModel(const quib::Json& scene, const MeshReference& reference,
                          const SampleDomain& domain);

/// The bytes of a binary glTF file, without a texture, of the model the body's "model" names. Throws
/// quib::Error when it names none, or when the file would be larger than a preview's answer may be.
std::string ModelGlb(const RequestBody& body);

}  // namespace vantrel
