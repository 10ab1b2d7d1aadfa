#pragma once
/// @file
/// The models of the page's 3-D view, in the preview's process, whose working folder is the scene's:
/// the model a request names, as a binary glTF file to draw, and as the domain a texture is rendered in.

#include <memory>
#include <string>

#include "scene/mesh_model.h"
#include "scene/sample_domain.h"
#include "tools/serve/serve_request.h"

namespace vantrel {

/// The model `reference` names: a built-in shape, or a model file of the working folder, which must be
/// a regular file there and not a link (which could name a file outside it). Throws quib::Error.
std::shared_ptr<const MeshModel> RequestedModel(const MeshReference& reference);

/// The domain a texture of the model `reference` names is rendered in for the page: the padding of
/// `scene` when it is a mesh domain too, else the usual.
SampleDomain ModelDomain(const SampleDomain& scene, const MeshReference& reference);

/// The bytes of a binary glTF file, without a texture, of the model the body's "model" names. Throws
/// quib::Error when it names none, or when the file would be larger than a preview's answer may be.
std::string ModelGlb(const RequestBody& body);

}  // namespace vantrel
