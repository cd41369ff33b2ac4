// Reading and writing pixel worlds as image files.
//
// PNG goes through libpng where the build has it (the build machine), else
// through stb_image for reading and a small writer of our own over stb's
// deflate (Windows cross-builds, where Debian ships no libpng). Both read and
// write 8- and 16-bit RGBA with straight alpha, as worlds hold it. OpenEXR
// goes through libOpenEXR where present, else a minimal uncompressed scanline
// writer of our own; EXR is written only.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "PF_Pixels.h"
#include "PixelWorld.h"

namespace hostsim {

// Names the file and what went wrong.
class ImageIoError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

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

// Reads a PNG's size without decoding it. Throws ImageIoError.
ImageSize ReadPngSize(const std::string& path);

// Reads a PNG (any colour type and bit depth; grey and palette images are
// expanded, missing alpha is opaque) into a new world of `depth`.
// Throws ImageIoError.
std::unique_ptr<PixelWorld> ReadPng(const std::string& path, BitDepth depth);

// Whether PNG and EXR go through libpng and libOpenEXR (true) or the
// built-in codecs below.
bool PngUsesLibrary();
bool ExrUsesLibrary();

// The built-in codecs, compiled everywhere so that tests on the build machine
// can check them against the libraries: PNG read through stb_image, PNG
// written as zlib-compressed RGBA of 8 or 16 bits with stb's deflate, EXR
// written as uncompressed FLOAT scanlines. Same conventions and errors as above.
void WritePngBuiltIn(const PF_EffectWorld& world, const std::string& path, int bits = 0);
std::unique_ptr<PixelWorld> ReadPngBuiltIn(const std::string& path, BitDepth depth);
void WriteExrBuiltIn(const PF_EffectWorld& world, const std::string& path);

}  // namespace hostsim
