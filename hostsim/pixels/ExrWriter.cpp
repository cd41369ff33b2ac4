// EXR writing through tinyexr (its implementation is compiled here alone,
// over zlib), 32-bit float channels with ZIP compression.
#include <cstdio>
#include <cstring>

#include <zlib.h>

#include "ImageCodecs.h"

#define TINYEXR_USE_MINIZ 0
#define TINYEXR_USE_THREAD 0
#define TINYEXR_USE_OPENMP 0
#define TINYEXR_IMPLEMENTATION
#include <tinyexr.h>

namespace hostsim {

void EncodeExr(const std::string& path, A_long width, A_long height, const std::vector<float>& planes) {
  constexpr int kChannels = 4;
  const char* names[kChannels] = {"A", "B", "G", "R"};
  EXRChannelInfo channels[kChannels] = {};
  int pixel_types[kChannels], requested_types[kChannels];
  const float* images[kChannels];
  const std::size_t plane = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  for (int c = 0; c < kChannels; ++c) {
    std::snprintf(channels[c].name, sizeof channels[c].name, "%s", names[c]);
    pixel_types[c] = requested_types[c] = TINYEXR_PIXELTYPE_FLOAT;
    images[c] = planes.data() + plane * static_cast<std::size_t>(c);
  }
  EXRHeader header;
  InitEXRHeader(&header);
  header.num_channels = kChannels;
  header.channels = channels;
  header.pixel_types = pixel_types;
  header.requested_pixel_types = requested_types;
  header.compression_type = TINYEXR_COMPRESSIONTYPE_ZIP;
  EXRImage image;
  InitEXRImage(&image);
  image.num_channels = kChannels;
  image.width = width;
  image.height = height;
  // tinyexr reads the planes through non-const pointers but does not write them.
  image.images = reinterpret_cast<unsigned char**>(const_cast<float**>(images));
  const char* error = nullptr;
  if (SaveEXRImageToFile(&image, &header, path.c_str(), &error) != TINYEXR_SUCCESS) {
    const std::string what = error ? error : "unknown error";
    FreeEXRErrorMessage(error);
    FailImage(path, "EXR write failed: " + what);
  }
}

}  // namespace hostsim
