// The file formats under ImageIO, one codec each, working on plain sample
// arrays so that each knows nothing of worlds. Every function names the file
// in the ImageIoError it throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ImageIO.h"

namespace hostsim {

[[noreturn]] void FailImage(const std::string& path, const std::string& what);

// Writes an encoded image through a temporary file, as every output is
// written (FileAccess.h: WriteThroughTemporary).
void WriteImageFile(const std::string& path, const unsigned char* bytes, std::size_t size);

// A PNG's size and sample depth (8 or 16) from its header alone.
struct PngHeader {
  A_long width = 0;
  A_long height = 0;
  int bits = 8;
};
PngHeader ReadPngHeader(const std::string& path);

// A decoded PNG: straight-alpha RGBA, each sample 0..255 or 0..65535.
struct PngImage {
  PngHeader header;
  std::vector<std::uint16_t> rgba;
};
// Refuses, before decoding, an image whose RGBA samples, together with
// `kept_bytes_per_pixel` for what the caller makes of them, would take more
// than `max_bytes`.
PngImage DecodePng(const std::string& path, std::size_t max_bytes, std::size_t kept_bytes_per_pixel);

// `samples` holds the rows of an RGBA image as PNG stores them (8-bit
// samples, or big-endian 16-bit ones), packed.
void EncodePng(const std::string& path, A_long width, A_long height, int bits,
               const std::vector<unsigned char>& samples);

// `planes` holds the float channels A, B, G, R one after the other, each
// width x height: the order EXR lists channels in.
void EncodeExr(const std::string& path, A_long width, A_long height, const std::vector<float>& planes);

}  // namespace hostsim
