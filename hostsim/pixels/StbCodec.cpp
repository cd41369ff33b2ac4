// The one translation unit that compiles stb's image reader and the deflate
// of its image writer, kept apart so their macros and warnings stay here.
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#define STBI_ONLY_PNG
#define STBI_NO_STDIO_WRITE
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

namespace hostsim {
namespace stbcodec {

bool Load(const std::string& path, int& width, int& height, bool& sixteen, std::vector<std::uint16_t>& rgba,
          std::string& error) {
  int channels = 0;
  sixteen = stbi_is_16_bit(path.c_str()) != 0;
  void* pixels = sixteen ? static_cast<void*>(stbi_load_16(path.c_str(), &width, &height, &channels, 4))
                         : static_cast<void*>(stbi_load(path.c_str(), &width, &height, &channels, 4));
  if (pixels == nullptr) {
    const char* reason = stbi_failure_reason();
    error = reason ? reason : "unknown error";
    return false;
  }
  const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  rgba.resize(n);
  for (std::size_t i = 0; i < n; ++i)
    rgba[i] = sixteen ? static_cast<const std::uint16_t*>(pixels)[i] : static_cast<const unsigned char*>(pixels)[i];
  stbi_image_free(pixels);
  return true;
}

bool Deflate(const std::vector<unsigned char>& data, std::vector<unsigned char>& out) {
  if (data.size() > static_cast<std::size_t>(INT_MAX)) return false;
  int length = 0;
  unsigned char* z = stbi_zlib_compress(const_cast<unsigned char*>(data.data()), static_cast<int>(data.size()),
                                        &length, 8);
  if (z == nullptr) return false;
  out.assign(z, z + length);
  STBIW_FREE(z);
  return true;
}

}  // namespace stbcodec
}  // namespace hostsim
