// Reading and writing pixel worlds as image files, the same way on every
// build: PNG of 8- or 16-bit RGBA with straight alpha, as worlds hold it, and
// OpenEXR of 32-bit float RGBA, written only.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

#include "MemoryBudget.h"
#include "PF_Pixels.h"
#include "PixelWorld.h"

namespace hostsim {

// Names the file and what went wrong.
class ImageIoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// How much pixel memory one image read may take (the decoded samples and the
// world made of them) unless the caller says otherwise: the default memory
// budget of a command, far above any frame a test or scene uses.
constexpr std::size_t kDefaultImageReadBudget = MemoryBudget::kDefaultMiB * MemoryBudget::kBytesPerMiB;

// Writes `world` as an RGBA PNG of `bits` per channel (8 or 16; 0 picks 8 for
// 8-bit worlds and 16 otherwise). 16-bit host values 0..32768 become
// 0..65535; float values are clamped to 0..1. Throws ImageIoError.
void WritePng(const PF_EffectWorld& world, const std::string& path, int bits = 0);

// Writes `world` as an OpenEXR file with 32-bit float R, G, B, A channels
// (straight alpha, as in the world). Any depth; 8 and 16 bits are converted
// to 1.0-based float. Throws ImageIoError.
void WriteExr(const PF_EffectWorld& world, const std::string& path);

// The file a render writes for a world of this depth: PNG for 8 and 16 bits
// (at that depth), EXR for 32 bits.
std::string ImageExtensionFor(BitDepth depth);  // ".png" or ".exr"
// Writes to path_stem + ImageExtensionFor(depth of world) and returns that path.
std::string WriteImage(const PF_EffectWorld& world, const std::string& path_stem);

struct ImageSize {
  A_long width = 0;
  A_long height = 0;
};

// Reads a PNG's size from its header. Throws ImageIoError.
ImageSize ReadPngSize(const std::string& path);

// Reads a PNG (any colour type and bit depth; grey and palette images are
// expanded, missing alpha is opaque) into a new world of `depth`. An image
// whose decoded samples and world would take more than `max_bytes` is
// refused from its header, before any pixel memory is taken.
// Throws ImageIoError.
std::unique_ptr<PixelWorld> ReadPng(const std::string& path, BitDepth depth,
                                    std::size_t max_bytes = kDefaultImageReadBudget);

}  // namespace hostsim
