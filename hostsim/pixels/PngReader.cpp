// PNG reading through stb_image, the one translation unit that compiles its
// implementation, so that its macros and warnings stay here.
#include <algorithm>
#include <cerrno>
#include <iterator>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>

#include "FileAccess.h"
#include "ImageCodecs.h"
#include "PngChunks.h"

#define STBI_ONLY_PNG
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace hostsim {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle OpenForReading(const std::string& path) {
  FileHandle file(OpenFile(path, "rb"));
  if (!file) FailImage(path, std::string("cannot open: ") + std::strerror(errno));
  return file;
}

// stb's reasons are terse ("bad codelengths"); the common ones of a damaged
// file are said in words, stb's reason kept after them.
std::string Reason(const char* stage) {
  const std::string reason = stbi_failure_reason() ? stbi_failure_reason() : "unknown error";
  static const char* const kCompression[] = {"bad code lengths", "bad codelengths", "bad compression", "bad dist",
                                             "bad huffman code", "bad zlib header", "no preset dict",
                                             "output buffer limit", "read past buffer", "zlib corrupt"};
  std::string words;
  if (reason == "outofdata")
    words = "the file ends before its pixels do";
  else if (reason == "no IDAT")
    words = "the file holds no pixel data";
  else if (reason == "invalid filter" || reason == "bad filter method")
    words = "a row of pixel data is damaged";
  else if (std::find(std::begin(kCompression), std::end(kCompression), reason) != std::end(kCompression))
    words = "the compressed pixel data is damaged";
  return std::string(stage) + ": " + (words.empty() ? reason : words + " (" + reason + ")");
}

std::uint32_t Big32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// The signature and the IHDR chunk that must follow it, read here rather
// than by stb: stb's header scan refuses a large claim with a reason it
// then loses, and the size is what a read must know before anything else.
PngHeader HeaderOf(std::FILE* file, const std::string& path) {
  static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  unsigned char bytes[8 + 8 + 13];
  const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
  std::rewind(file);
  if (got < 8 || std::memcmp(bytes, kSignature, 8) != 0) FailImage(path, "not a PNG file (no PNG signature)");
  if (got < sizeof bytes || Big32(bytes + 8) != 13 || std::memcmp(bytes + 12, "IHDR", 4) != 0)
    FailImage(path, "broken PNG header: no IHDR chunk after the signature");
  const std::uint32_t width = Big32(bytes + 16), height = Big32(bytes + 20);
  if (width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF)
    FailImage(path, "broken PNG header: size " + std::to_string(width) + "x" + std::to_string(height));
  PngHeader header;
  header.width = static_cast<A_long>(width);
  header.height = static_cast<A_long>(height);
  header.bits = bytes[24] == 16 ? 16 : 8;
  return header;
}

// In MiB, as --memory-budget is given.
std::string Mebibytes(double bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MiB", bytes / (1024.0 * 1024.0));
  return text;
}

}  // namespace

PngHeader ReadPngHeader(const std::string& path) {
  const FileHandle file = OpenForReading(path);
  return HeaderOf(file.get(), path);
}

PngImage DecodePng(const std::string& path, std::size_t max_bytes, std::size_t kept_bytes_per_pixel) {
  const FileHandle file = OpenForReading(path);
  PngImage image;
  image.header = HeaderOf(file.get(), path);
  const PngHeader& h = image.header;
  // The header's claim is checked before the decoder allocates anything: a
  // file of a few bytes may claim, or truly hold, gigabytes of pixels.
  const double bytes = static_cast<double>(h.width) * static_cast<double>(h.height) *
                       (4.0 * (h.bits / 8) + static_cast<double>(kept_bytes_per_pixel));
  if (bytes > static_cast<double>(max_bytes))
    FailImage(path, std::to_string(h.width) + "x" + std::to_string(h.height) + " pixels of " +
                        std::to_string(h.bits) + " bits would take " + Mebibytes(bytes) + " to read, above the " +
                        Mebibytes(static_cast<double>(max_bytes)) + " limit for an image read");
  CheckPngChunks(file.get(), path);
  int width = 0, height = 0, channels = 0;
  const std::unique_ptr<void, void (*)(void*)> pixels(
      h.bits == 16 ? static_cast<void*>(stbi_load_from_file_16(file.get(), &width, &height, &channels, 4))
                   : static_cast<void*>(stbi_load_from_file(file.get(), &width, &height, &channels, 4)),
      stbi_image_free);
  if (!pixels) FailImage(path, Reason("broken PNG data"));
  const std::size_t n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4;
  if (h.bits == 16) {
    const auto* samples = static_cast<const std::uint16_t*>(pixels.get());
    image.rgba.assign(samples, samples + n);
  } else {
    const auto* samples = static_cast<const unsigned char*>(pixels.get());
    image.rgba.assign(samples, samples + n);
  }
  return image;
}

}  // namespace hostsim
