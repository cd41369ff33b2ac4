// PNG writing: RGBA rows of 8 or 16 bits, deflated by zlib. stb_image_write,
// the library that would otherwise serve, writes 8-bit samples only, and no
// PNG library is packaged for the Windows cross-build; the file format's
// framing is all that is left to write here.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

#include <zlib.h>

#include "FileAccess.h"
#include "ImageCodecs.h"

namespace hostsim {
namespace {

void PutBig32(std::vector<unsigned char>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<unsigned char>(v >> shift));
}

void PutChunk(std::vector<unsigned char>& out, const char type[4], const unsigned char* data, std::size_t size) {
  PutBig32(out, static_cast<std::uint32_t>(size));
  const std::size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data, data + size);
  const uLong crc = crc32(0L, out.data() + start, static_cast<uInt>(out.size() - start));
  PutBig32(out, static_cast<std::uint32_t>(crc));
}

// Each row as the difference from the row above ("Up"), which suits rendered
// frames, whose rows change little; trying every filter per row would cost
// more time than the smaller file is worth.
std::vector<unsigned char> FilteredRows(const std::vector<unsigned char>& samples, std::size_t row_bytes,
                                        A_long height) {
  constexpr unsigned char kFilterUp = 2;
  std::vector<unsigned char> filtered((row_bytes + 1) * static_cast<std::size_t>(height));
  for (std::size_t y = 0; y < static_cast<std::size_t>(height); ++y) {
    unsigned char* out = &filtered[y * (row_bytes + 1)];
    const unsigned char* row = &samples[y * row_bytes];
    out[0] = kFilterUp;
    if (y == 0) {
      std::memcpy(out + 1, row, row_bytes);
      continue;
    }
    const unsigned char* above = row - row_bytes;
    for (std::size_t i = 0; i < row_bytes; ++i) out[1 + i] = static_cast<unsigned char>(row[i] - above[i]);
  }
  return filtered;
}

}  // namespace

void EncodePng(const std::string& path, A_long width, A_long height, int bits,
               const std::vector<unsigned char>& samples) {
  const std::size_t row_bytes = static_cast<std::size_t>(width) * 4 * static_cast<std::size_t>(bits / 8);
  const std::vector<unsigned char> filtered = FilteredRows(samples, row_bytes, height);
  // zlib counts in uLong, 32 bits on Windows.
  if (filtered.size() > std::numeric_limits<uLong>::max() / 2) FailImage(path, "image too large to compress");
  uLongf compressed_size = compressBound(static_cast<uLong>(filtered.size()));
  std::vector<unsigned char> compressed(compressed_size);
  if (compress2(compressed.data(), &compressed_size, filtered.data(), static_cast<uLong>(filtered.size()),
                Z_DEFAULT_COMPRESSION) != Z_OK)
    FailImage(path, "compression failed");

  std::vector<unsigned char> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  file.reserve(compressed_size + 1024);
  std::vector<unsigned char> ihdr;
  PutBig32(ihdr, static_cast<std::uint32_t>(width));
  PutBig32(ihdr, static_cast<std::uint32_t>(height));
  ihdr.push_back(static_cast<unsigned char>(bits));
  ihdr.push_back(6);  // RGBA
  ihdr.push_back(0);  // deflate
  ihdr.push_back(0);  // adaptive filtering, a filter byte per row
  ihdr.push_back(0);  // not interlaced
  PutChunk(file, "IHDR", ihdr.data(), ihdr.size());
  // A chunk's length is 31 bits; larger data is split over several.
  constexpr std::size_t kMaxChunk = std::size_t{1} << 30;
  for (std::size_t at = 0; at < compressed_size; at += kMaxChunk)
    PutChunk(file, "IDAT", compressed.data() + at, std::min<std::size_t>(kMaxChunk, compressed_size - at));
  PutChunk(file, "IEND", nullptr, 0);

  WriteImageFile(path, file.data(), file.size());
}

void WriteImageFile(const std::string& path, const unsigned char* bytes, std::size_t size) {
  try {
    WriteThroughTemporary(path, [&](std::FILE* out) {
      if (std::fwrite(bytes, 1, size, out) != size) FailImage(path, std::string("write failed: ") + std::strerror(errno));
    });
  } catch (const FileAccessError& refused) {
    throw ImageIoError(refused.what());  // already names the file
  }
}

}  // namespace hostsim
