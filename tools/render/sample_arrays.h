#pragma once
/// @file
/// A node sampled into memory rather than into a file: at positions a caller gives (the Python package's
/// `eval`), or over an image whose rows go into an array (its `render`); and an image already in memory
/// handed to an encoder (its `save_image`), so that it is written as `render` writes the rows it renders.

#include <functional>
#include <span>

#include "host/function.h"
#include "tools/render/render_core.h"

namespace vantrel {

/// Evaluates `node` as T at the positions `xyz` (x, y and z of each after one another), the value for
/// position i into values[i], on `threads` threads that take the positions in chunks, in order. Each
/// value is what `vantrel eval` prints for that position, whatever the threads. `poll` is called on the
/// calling thread about twenty times a second while the work runs (a single chunk is evaluated on the
/// calling thread alone, which calls it between samples); what it throws stops the work after the
/// samples being taken and is thrown here, as is what the evaluation throws, once every thread has
/// stopped.
template <class T>
void EvalAt(Function& node, std::span<const double> xyz, std::span<T> values, int threads,
            const std::function<void()>& poll = {});

/// A render's rows stored into an image in memory: `pixels` holds `height` rows from the top, each of
/// `width` pixels of `channels` reals, channels interleaved, as `Render` computes them (unclamped). Every
/// row is a band of its own with a slot of its own: no render thread waits for room, on any number of
/// threads, so the image needs no more slots than its rows, however few.
class ImageBuffer : public BandSink {
public:
    ImageBuffer(int width, int height, int channels, double* pixels);

    void SetRow(int y, const double* values) override;
    void Encode(int) override {}
    void Put(int) override {}

private:
    double* pixels;
};

/// Hands the image `pixels` (laid out as `ImageBuffer` holds one, of the sink's size and channels) to
/// `sink`, band by band on this thread: each band's rows, its encoding, its handing on.
void EncodeImage(const double* pixels, BandSink& sink);

}  // namespace vantrel
