#include "ImageIO.h"

#include <vector>

#include "ImageCodecs.h"
#include "RoundToChannel.h"

namespace hostsim {

void FailImage(const std::string& path, const std::string& what) { throw ImageIoError(path + ": " + what); }

namespace {

// A row of world pixels as 1.0-based doubles, red, green, blue and alpha for
// each pixel, exact for integer depths. The depth is looked at once a row:
// writing an image goes through here for every pixel.
void NormalizedRow(const PF_EffectWorld& world, A_long y, double* out) {
  const auto* row = static_cast<const unsigned char*>(world.data) + static_cast<std::ptrdiff_t>(y) * world.rowbytes;
  switch (DepthOf(world)) {
    case BitDepth::k8: {
      const auto* p = reinterpret_cast<const PF_Pixel8*>(row);
      for (A_long x = 0; x < world.width; ++x, out += 4) {
        out[0] = p[x].red / 255.0, out[1] = p[x].green / 255.0, out[2] = p[x].blue / 255.0;
        out[3] = p[x].alpha / 255.0;
      }
      return;
    }
    case BitDepth::k16: {
      const auto* p = reinterpret_cast<const PF_Pixel16*>(row);
      const double k = PF_MAX_CHAN16;
      for (A_long x = 0; x < world.width; ++x, out += 4) {
        out[0] = p[x].red / k, out[1] = p[x].green / k, out[2] = p[x].blue / k, out[3] = p[x].alpha / k;
      }
      return;
    }
    case BitDepth::k32: {
      const auto* p = reinterpret_cast<const PF_PixelFloat*>(row);
      for (A_long x = 0; x < world.width; ++x, out += 4) {
        out[0] = p[x].red, out[1] = p[x].green, out[2] = p[x].blue, out[3] = p[x].alpha;
      }
      return;
    }
  }
}

std::uint16_t Quantize(double v, double max) {
  if (!(v > 0.0)) return 0;
  if (v >= 1.0) return static_cast<std::uint16_t>(max);
  return static_cast<std::uint16_t>(RoundPositive(v * max));
}

void CheckWritable(const PF_EffectWorld& world, const std::string& path) {
  if (world.width <= 0 || world.height <= 0 || world.data == nullptr)
    FailImage(path, "cannot write an image without pixels (" + std::to_string(world.width) + "x" +
                        std::to_string(world.height) + ")");
}

// The world's rows as PNG samples of `bits`: RGBA, 16-bit samples big-endian.
std::vector<unsigned char> PngSamples(const PF_EffectWorld& world, int bits) {
  const std::size_t width = static_cast<std::size_t>(world.width);
  std::vector<unsigned char> out(width * static_cast<std::size_t>(world.height) * 4 * static_cast<std::size_t>(bits / 8));
  unsigned char* o = out.data();
  if (bits == 8 && DepthOf(world) == BitDepth::k8) {
    // Renders write 8-bit worlds every frame; their samples need only reordering.
    for (A_long y = 0; y < world.height; ++y) {
      const auto* p = reinterpret_cast<const PF_Pixel8*>(static_cast<const unsigned char*>(world.data) +
                                                         static_cast<std::ptrdiff_t>(y) * world.rowbytes);
      for (std::size_t x = 0; x < width; ++x, o += 4) o[0] = p[x].red, o[1] = p[x].green, o[2] = p[x].blue, o[3] = p[x].alpha;
    }
    return out;
  }
  const double max = bits == 8 ? 255.0 : 65535.0;
  std::vector<double> line(width * 4);
  for (A_long y = 0; y < world.height; ++y) {
    NormalizedRow(world, y, line.data());
    for (double v : line) {
      const std::uint16_t q = Quantize(v, max);
      if (bits == 16) *o++ = static_cast<unsigned char>(q >> 8);
      *o++ = static_cast<unsigned char>(q & 0xFF);
    }
  }
  return out;
}

std::unique_ptr<PixelWorld> WorldOf(const PngImage& image, BitDepth depth) {
  const A_long width = image.header.width, height = image.header.height;
  auto world = std::make_unique<PixelWorld>(width, height, depth);
  const double max = image.header.bits == 16 ? 65535.0 : 255.0;
  std::size_t i = 0;
  for (A_long y = 0; y < height; ++y)
    for (A_long x = 0; x < width; ++x, i += 4) {
      const double red = image.rgba[i] / max, green = image.rgba[i + 1] / max, blue = image.rgba[i + 2] / max,
                   alpha = image.rgba[i + 3] / max;
      switch (depth) {
        case BitDepth::k8:
          world->At<PF_Pixel8>(x, y) = {static_cast<A_u_char>(Quantize(alpha, 255)),
                                        static_cast<A_u_char>(Quantize(red, 255)),
                                        static_cast<A_u_char>(Quantize(green, 255)),
                                        static_cast<A_u_char>(Quantize(blue, 255))};
          break;
        case BitDepth::k16:
          world->At<PF_Pixel16>(x, y) = {Quantize(alpha, PF_MAX_CHAN16), Quantize(red, PF_MAX_CHAN16),
                                         Quantize(green, PF_MAX_CHAN16), Quantize(blue, PF_MAX_CHAN16)};
          break;
        case BitDepth::k32:
          world->At<PF_PixelFloat>(x, y) = {static_cast<float>(alpha), static_cast<float>(red),
                                            static_cast<float>(green), static_cast<float>(blue)};
          break;
      }
    }
  return world;
}

}  // namespace

void WritePng(const PF_EffectWorld& world, const std::string& path, int bits) {
  CheckWritable(world, path);
  if (bits == 0) bits = DepthOf(world) == BitDepth::k8 ? 8 : 16;
  if (bits != 8 && bits != 16) FailImage(path, "PNG bits must be 8 or 16, not " + std::to_string(bits));
  EncodePng(path, world.width, world.height, bits, PngSamples(world, bits));
}

void WriteExr(const PF_EffectWorld& world, const std::string& path) {
  CheckWritable(world, path);
  const std::size_t width = static_cast<std::size_t>(world.width);
  const std::size_t plane = width * static_cast<std::size_t>(world.height);
  std::vector<float> planes(plane * 4);
  std::vector<double> line(width * 4);
  for (A_long y = 0; y < world.height; ++y) {
    NormalizedRow(world, y, line.data());
    const std::size_t row = static_cast<std::size_t>(y) * width;
    for (std::size_t x = 0; x < width; ++x)
      for (std::size_t c = 0; c < 4; ++c)  // planes A, B, G, R from R, G, B, A
        planes[(3 - c) * plane + row + x] = static_cast<float>(line[x * 4 + c]);
  }
  EncodeExr(path, world.width, world.height, planes);
}

std::string ImageExtensionFor(BitDepth depth) { return depth == BitDepth::k32 ? ".exr" : ".png"; }

std::string WriteImage(const PF_EffectWorld& world, const std::string& path_stem) {
  const BitDepth depth = DepthOf(world);
  const std::string path = path_stem + ImageExtensionFor(depth);
  if (depth == BitDepth::k32)
    WriteExr(world, path);
  else
    WritePng(world, path, depth == BitDepth::k8 ? 8 : 16);
  return path;
}

ImageSize ReadPngSize(const std::string& path) {
  const PngHeader header = ReadPngHeader(path);
  return {header.width, header.height};
}

std::unique_ptr<PixelWorld> ReadPng(const std::string& path, BitDepth depth, std::size_t max_bytes) {
  return WorldOf(DecodePng(path, max_bytes, BytesPerPixel(depth)), depth);
}

}  // namespace hostsim
