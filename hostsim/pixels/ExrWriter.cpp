// EXR writing through tinyexr (its implementation is compiled here alone,
// over zlib), 32-bit float channels with ZIP compression.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

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
  // Encoded in memory and written as the PNG writer writes, so that the file
  // is opened the same way whatever its name.
  const char* error = nullptr;
  unsigned char* encoded = nullptr;
  const std::size_t size = SaveEXRImageToMemory(&image, &header, &encoded, &error);
  const std::unique_ptr<unsigned char, void (*)(void*)> owned(encoded, std::free);
  if (size == 0) {
    const std::string what = error ? error : "unknown error";
    FreeEXRErrorMessage(error);
    FailImage(path, "EXR write failed: " + what);
  }
  WriteImageFile(path, owned.get(), size);
}

}  // namespace hostsim
