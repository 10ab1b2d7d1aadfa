#pragma once
/// @file
/// What a scene file may hold, beside its nodes' stored forms (docs/scene-format.md).

#include <cstddef>

#include "quib/stored_form.h"

namespace vantrel {

/// The format tag every scene file carries.
inline constexpr const char* sceneFormat = "vantrel-scene/1";

/// The keys of a scene's top level.
inline constexpr const char* sceneKeys[] = {"format", "description", "nodes",   "output",
                                            "domain", "output_type", "samples", "layout"};

/// The most sub-samples along each side of a pixel a render takes ("samples", `render --samples`):
/// 16 x 16 = 256 a pixel.
inline constexpr int largestSamples = 16;

/// The largest scene file, in bytes: a scene of a hundred thousand nodes fits, four times what the
/// editor's server takes in a request; a file of numbers this large takes some 350 MB once parsed. A
/// larger file, or one that never ends (/dev/zero), is refused once this much is read.
inline constexpr std::size_t maxSceneFileBytes = std::size_t{16} << 20;

/// The most lists and objects a scene holds one inside the other: its nodes' stored forms, in the list
/// "nodes", in the top level.
inline constexpr std::size_t sceneNesting = quib::storedFormNesting + 2;

/// The most links a chain from a node to its farthest source may follow. Evaluation follows links by
/// recursion, a few stack frames a link, so a deeper chain could overflow the stack of whichever thread
/// evaluates it; a thousand links take a few hundred kilobytes even under AddressSanitizer, within the
/// smallest stacks (1 MB) a host thread is likely to have.
inline constexpr std::size_t maxLinkDepth = 1000;

/// The most node evaluations one sample of a node may take: itself and, for each of its links, a sample
/// of the node it reads, counted once for every chain of links that reaches it. Links that fan out and
/// meet again double the count with each step: forty nodes that each read the one before through two
/// parameters would take 2^41 evaluations, hours, a sample. A hundred thousand take a few milliseconds.
/// What a node does in its own evaluation ("Iterations" of the leapfrog fractal) is not counted.
inline constexpr std::size_t maxSampleEvaluations = 100000;

}  // namespace vantrel
